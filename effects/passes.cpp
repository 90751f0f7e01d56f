// effects/passes.cpp: effect shader loading and the four full-screen passes.
//
// The uniform names, their order and the texture-unit numbering below are the
// contract with the shader files of the resource image. Every uniform is set
// by name on every pass (the graphics layer looks each location up again), so
// a shader may leave out any uniform it does not use.
//
// A pass whose shader id is not a program (-1 after a missing file) still
// binds its images, so texture unit 0 is the active unit afterwards as after
// any pass, but sets no uniform and draws nothing.
//
// Threads: main thread only (GL context). The passes allocate nothing.
#include "effects/effects.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "corefile/corefile.h"
#include "gfx/gl.h"
#include "gfx/shadertext.h"
#include "timeline/timeline.h"

// ---- Constants -----------------------------------------------------------------------
const char vv_default[] =
    SPROX_SHADER_VERSION_LINE "\n"
    "varying vec2 texCoord;\n"
    "void main() {\n"
    "texCoord = gl_MultiTexCoord0.xy;\n"
    "gl_Position = ftransform();\n"
    "}";

namespace {
// The loader's lines; the one it adds to the usual pair is tagged "effects: ".
const char* const kMsgLoad = "load shadefile %s, size: %d\n";
const char* const kMsgShaderId = "Shader ID: %d\n";
const char* const kMsgRefusedSource = "ff: %s\n";
const char* const kMsgTableFull = "effects: shader table full (%d shaders), %s not loaded\n";

// Sampler uniform names; entry k names texture unit k.
const char* const kSamplerNames[EFFECTS_SCENE2_SLOTS] = {
    "texture0",  "texture1",  "texture2",  "texture3",  "texture4",  "texture5",  "texture6",
    "texture7",  "texture8",  "texture9",  "texture10", "texture11", "texture12", "texture13",
    "texture14", "texture15", "texture16", "texture17", "texture18"};
constexpr int kTransitionSamplers = 4;  // "texture0" to "texture3"
constexpr int kTransitionImageUnit = 2; // the transition pass's extra image
constexpr int kSceneBUnit = 1;
constexpr int kSceneAUnit = 0;
constexpr int kPictureUnit = 0;         // the post pass's input picture
constexpr float kPostBlur = 0.5f;       // "blur" of the post pass
const s_event kNoEvent = {};            // read in place of an event index out of the table
}  // namespace

// ---- Globals ---------------------------------------------------------------------------
s_demoshader demoshader[EFFECTS_MAX_SHADERS];
int32_t numshaders = 0;
double (*effects_clock)(void) = glfwGetTime;
char* (*effects_shadersource)(const char* filename, char* source) = nullptr;

// ---- Internal functions --------------------------------------------------------------------
namespace {

// The event at `index`, or a zeroed one for an index outside the table, so a
// stray index never reads outside `demo`.
const s_event& EventAt(int32_t index) {
  if (index < 0 || index > TIMELINE_MAX_EVENTS) return kNoEvent;
  return demo.event[index];
}

const s_event& SelectedEvent(int32_t selector) {
  return EventAt(EventOfSelector(selector));
}

// Seconds of music since the start tick of the event in force. The start is
// in ticks and subtracted without conversion, so this lies below the music's
// playback time by start / EFFECTS_MUSIC_RATE s: the scene shaders are made for that.
float MusicTime() {
  const int64_t frames = static_cast<int64_t>(demo.offset) - EventAt(demo.currentevent).time;
  return static_cast<float>(frames) / EFFECTS_MUSIC_RATE;
}

// The passes' clock (seconds since GLFW started, unless the hook was moved),
// slowed to 0.6; it runs on while the music is paused.
float ClockTime() { return static_cast<float>(effects_clock() * EFFECTS_CLOCK_SCALE); }

// "resolution": the pixel size of the target being drawn, which is the
// viewport: a framebuffer's whole size for the scene and transition passes,
// the letterbox inside the window for the post pass.
void SetResolution(int32_t shader) {
  GLint viewport[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, viewport);
  GFX_SetShaderUniform2f(shader, "resolution", static_cast<float>(viewport[2]), static_cast<float>(viewport[3]));
}

// One quad over the whole current framebuffer, t flipped so it shows upright.
void DrawFullQuad(int32_t shader) {
  if (!GFX_FrameBuffer) return;
  GFX_BindFoldedShader(shader);
  GFX_DrawQuad(0.0f, 0.0f, static_cast<float>(GFX_FrameBuffer->width), static_cast<float>(GFX_FrameBuffer->height),
               0.0f, 1.0f, 1.0f, 0.0f);
  GFX_UnbindShader();
}

// That quad again, cut by the scissor to a rectangle a shader declared
// (720-line pixels; a negative x or y from the right or bottom edge), grown
// to whole pixels: the same quad, so every pixel there gets the texture
// coordinate it had.
void DrawReach(int32_t shader, const s_gfxreach& reach) {
  GLint viewport[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, viewport);
  // 720-line pixels to the viewport's: outwards to whole pixels.
  auto outwards = [&viewport](float length) {
    return static_cast<GLint>(std::ceil(length * static_cast<float>(viewport[3]) / EFFECTS_HEIGHT));
  };
  auto inwards = [&viewport](float length) {
    return static_cast<GLint>(std::floor(length * static_cast<float>(viewport[3]) / EFFECTS_HEIGHT));
  };
  const GLint width = outwards(reach.width);
  const GLint height = outwards(reach.height);
  const GLint left = reach.x >= 0.0f ? inwards(reach.x) : viewport[2] - outwards(-reach.x);
  const GLint top = reach.y >= 0.0f ? inwards(reach.y) : viewport[3] - outwards(-reach.y);
  glScissor(viewport[0] + left, viewport[1] + viewport[3] - top - height, width, height);
  glEnable(GL_SCISSOR_TEST);
  DrawFullQuad(shader);
  glDisable(GL_SCISSOR_TEST);
}

// The body of both scene passes: `count` images on units 0 to count - 1.
void ScenePass(int32_t shader, int32_t selector, const s_bitmap* const images[], int count, bool setevent) {
  const bool drawable = GFX_IsShader(shader);
  if (drawable) {
    const s_event& selected = SelectedEvent(selector);
    const float statetime = static_cast<float>(selected.statetime) * EFFECTS_STATETIME_SCALE;
    GFX_SetShaderUniform1f(shader, "time", MusicTime());
    if (setevent) GFX_SetShaderUniform1i(shader, "event", demo.currentevent);
    GFX_SetShaderUniform1i(shader, "state", selected.currentstate);
    GFX_SetShaderUniform1f(shader, "statetime", statetime);
    SetResolution(shader);
    for (int k = 0; k < count; k++) GFX_SetShaderUniform1i(shader, kSamplerNames[k], k);
  }
  // Highest unit first, so unit 0 is left active.
  for (int k = count - 1; k >= 0; k--) GFX_BindTextureChannel(static_cast<int>(images[k]->textureid), k);
  if (drawable) DrawFullQuad(shader);
}

}  // namespace

// ---- Public functions ----------------------------------------------------------------------
int32_t LoadShader(const char* filename) {
  if (numshaders >= EFFECTS_MAX_SHADERS) {
    printf(kMsgTableFull, EFFECTS_MAX_SHADERS, filename);
    return -1;
  }
  s_corefile file;
  if (!corefile_open(filename, &file, 0)) return -1;
  const int size = file.size > 0 ? file.size : 0;
  printf(kMsgLoad, filename, file.size);
  char* source = static_cast<char*>(malloc(static_cast<size_t>(size) + 1));
  if (size > 0) corefile_read(source, size, 1, &file);
  corefile_close(&file);
  source[size] = '\0';
  if (effects_shadersource) source = effects_shadersource(filename, source);

  const int32_t id = GFX_InitShader(vv_default, source);
  s_demoshader& entry = demoshader[numshaders];
  entry.id = id;
  printf(kMsgShaderId, id);
  if (id < 0) printf(kMsgRefusedSource, source);
  entry.source = source;
  numshaders++;
  return id;
}

void ExecuteShader(int32_t shader, int32_t selector, s_bitmap texture0, s_bitmap texture1, s_bitmap texture2,
                   s_bitmap texture3, s_bitmap texture4, s_bitmap texture5, s_bitmap texture6,
                   s_bitmap texture7, s_bitmap texture8) {
  const s_bitmap* const images[EFFECTS_SCENE_SLOTS] = {&texture0, &texture1, &texture2, &texture3, &texture4,
                                                      &texture5, &texture6, &texture7, &texture8};
  ScenePass(shader, selector, images, EFFECTS_SCENE_SLOTS, true);
}

void ExecuteShader2(int32_t shader, int32_t selector, s_bitmap texture0, s_bitmap texture1,
                    s_bitmap texture2, s_bitmap texture3, s_bitmap texture4, s_bitmap texture5,
                    s_bitmap texture6, s_bitmap texture7, s_bitmap texture8, s_bitmap texture9,
                    s_bitmap texture10, s_bitmap texture11, s_bitmap texture12, s_bitmap texture13,
                    s_bitmap texture14, s_bitmap texture15, s_bitmap texture16, s_bitmap texture17,
                    s_bitmap texture18) {
  const s_bitmap* const images[EFFECTS_SCENE2_SLOTS] = {
      &texture0,  &texture1,  &texture2,  &texture3,  &texture4,  &texture5,  &texture6,
      &texture7,  &texture8,  &texture9,  &texture10, &texture11, &texture12, &texture13,
      &texture14, &texture15, &texture16, &texture17, &texture18};
  ScenePass(shader, selector, images, EFFECTS_SCENE2_SLOTS, false);
}

void ExecuteTransition(int32_t scene_a, int32_t scene_b, s_bitmap texture2) {
  // An index outside the table (a stray value in the timing file) has no
  // transition: the images are bound but nothing is drawn.
  const bool known = demo.activetransition >= 0 && demo.activetransition < TIMELINE_MAX_TRANSITIONS;
  const s_transition none = {-1, 0, 0, 0.0f, 0.0f};
  const s_transition& transition = known ? demo.transition[demo.activetransition] : none;
  const int32_t shader = transition.shader;
  const bool drawable = GFX_IsShader(shader);

  if (drawable) {
    const float p = demo.progress;
    const float halfwidth = 0.5f * transition.blendwidth;
    const float blend = smoothstep(0.5f - halfwidth, 0.5f + halfwidth, p);
    const float eased = static_cast<float>(1.0 - (std::cos(p * EFFECTS_EASE_PI) * 0.5 + 0.5));
    SetResolution(shader);
    for (int k = 0; k < kTransitionSamplers; k++) GFX_SetShaderUniform1i(shader, kSamplerNames[k], k);
    GFX_SetShaderUniform1f(shader, "time", ClockTime());
    GFX_SetShaderUniform1i(shader, "mode", transition.mode);
    GFX_SetShaderUniform3f(shader, "color", 1.0f, 1.0f, 1.0f);
    GFX_SetShaderUniform1f(shader, "timingProgress", p);
    GFX_SetShaderUniform1f(shader, "sintime", eased);
    GFX_SetShaderUniform1f(shader, "curvetime", p);
    GFX_SetShaderUniform1f(shader, "blend", blend);
    GFX_SetShaderUniform1f(shader, "custom", transition.custom);
  }
  // Unit 3 is left as it was: "texture3" samples whatever was bound there last.
  GFX_BindTextureChannel(static_cast<int>(texture2.textureid), kTransitionImageUnit);
  GFX_BindTextureChannel(static_cast<int>(GFX_FrameBufferTexture(scene_b)), kSceneBUnit);
  GFX_BindTextureChannel(static_cast<int>(GFX_FrameBufferTexture(scene_a)), kSceneAUnit);
  if (drawable) DrawFullQuad(shader);
}

bool ShowsLogo(int32_t event) { return event == 2 || event == 8 || event == 11; }

// The channel logo's opacity in `event`: rising from 0 at the event's start and
// falling back to 0 at the tick where the logo leaves, each over
// EFFECTS_LOGO_FADE ticks, on the frame's sub-tick position so that it glides.
namespace {
float LogoFade(int32_t event) {
  const int32_t within = demo.offset - demo.tick * TIMELINE_TICKLENGTH;
  const float fraction = within > 0 && within < TIMELINE_TICKLENGTH ? within / float(TIMELINE_TICKLENGTH) : 0.0f;
  const float tick = static_cast<float>(demo.tick) + fraction;
  const float in = (tick - static_cast<float>(EventAt(event).time)) / EFFECTS_LOGO_FADE;
  const float out = (static_cast<float>(EventAt(demo.nextevent).time - EFFECTS_LOGO_LEAD) - tick) / EFFECTS_LOGO_FADE;
  return std::clamp(std::min(in, out), 0.0f, 1.0f);
}
}  // namespace

void ExecutePost(int32_t picture, int32_t shader, s_bitmap texture1, s_bitmap texture2, s_bitmap texture3,
                 s_bitmap texture4) {
  GFX_BindTextureChannel(static_cast<int>(texture4.textureid), 4);
  GFX_BindTextureChannel(static_cast<int>(texture3.textureid), 3);
  GFX_BindTextureChannel(static_cast<int>(texture2.textureid), 2);
  GFX_BindTextureChannel(static_cast<int>(texture1.textureid), 1);
  GFX_BindTextureChannel(static_cast<int>(GFX_FrameBufferTexture(picture)), kPictureUnit);
  if (!GFX_IsShader(shader)) return;

  // The logo shows in its events until shortly before the next event.
  const int32_t event = demo.currentevent;
  const int logostate = ShowsLogo(event) && demo.tick < EventAt(demo.nextevent).time - EFFECTS_LOGO_LEAD ? 1 : 0;
  const int mode = event == EFFECTS_MODE_EVENT ? 1 : 0;

  SetResolution(shader);
  for (int k = EFFECTS_POST_IMAGES; k >= 0; k--) GFX_SetShaderUniform1i(shader, kSamplerNames[k], k);
  GFX_SetShaderUniform1f(shader, "time", ClockTime());
  GFX_SetShaderUniform1i(shader, "mode", mode);
  GFX_SetShaderUniform1i(shader, "state", EventAt(event).currentstate);
  GFX_SetShaderUniform1i(shader, "logostate", logostate);
  GFX_SetShaderUniform1f(shader, "blur", kPostBlur);
  // One of ours after the pass's own set: "logostate" flips in one frame and a
  // shader keeps nothing between frames, so the logo's opacity comes from here.
  GFX_SetShaderUniform1f(shader, "logofade", logostate ? LogoFade(event) : 0.0f);
  s_gfxreach reach;
  if (logostate && GFX_folding && GFX_FoldReach(shader, "logostate", &reach)) {
    // A software renderer runs the bug's code on every pixel of the quad.
    // A shader that declares the rectangle its logo code reaches (post.glsl:
    // the channel bug's corner) is drawn with a program folded to the bug
    // being off, then that rectangle again with it on: outside it both give
    // the same pixels, as the shader promised. Any other shader reads
    // "logostate" 1 on every pixel.
    GFX_SetShaderUniform1i(shader, "logostate", 0);
    DrawFullQuad(shader);
    GFX_SetShaderUniform1i(shader, "logostate", 1);
    DrawReach(shader, reach);
  } else {
    DrawFullQuad(shader);
  }
}
