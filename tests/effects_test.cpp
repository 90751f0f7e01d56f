// Tests of the effect layer against a real GL context (Mesa under Xvfb): the
// shader loader, the uniforms each pass sets (read back from the programs),
// the texture units each pass binds, the pixels a pass draws or leaves alone,
// the asset tables loaded from a packed image of 67 generated PNGs and 17
// probe shaders, and the scene script's rows. Cases that need empty or full
// tables run in a fresh child process.
#include <gtest/gtest.h>
#include <lodepng.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "corefile/corefile.h"
#include "effects/effects.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"
#include "test_child.h"
#include "test_util.h"
#include "timeline/timeline.h"

namespace {

constexpr int kWidth = EFFECTS_WIDTH;
constexpr int kHeight = EFFECTS_HEIGHT;
constexpr const char* kImage = "effects_assets.dat";

// The show's images in load order; a test image's red byte is its index here.
const auto& kImageFiles = sprox_assets::kImageFiles;

// The shaders load as post.glsl, the twelve scenes, then the four
// transitions; scene file k paints red = (k + 1) * 16.
constexpr int kNumScenes = 12, kNumTransitions = 4;
const char* const* const kSceneFiles = sprox_assets::kShaderFiles + 1;
const char* const* const kTransitionFiles = kSceneFiles + kNumScenes;
static_assert(1 + kNumScenes + kNumTransitions == EFFECTS_NUM_SHADER_FILES);

// A scene probe: reads every scene uniform and all 19 samplers, paints a flat colour.
std::string SceneShader(int red) {
  std::string s = "#version 120\nvarying vec2 texCoord;\n"
                  "uniform float time; uniform int event; uniform int state; uniform float statetime;\n"
                  "uniform vec2 resolution;\n";
  for (int k = 0; k < 19; k++) s += "uniform sampler2D texture" + std::to_string(k) + ";\n";
  // The samplers are read on a branch no frame takes, which keeps them
  // active uniforms without costing 19 lookups a pixel on a software renderer.
  s += "void main() {\n vec4 c = vec4(0.0);\n if (resolution.x < 0.0) {\n";
  for (int k = 0; k < 19; k++) s += " c += texture2D(texture" + std::to_string(k) + ", texCoord);\n";
  s += " }\n";
  s += " float u = time + float(event) + float(state) + statetime + resolution.x + resolution.y;\n";
  s += " gl_FragColor = vec4(" + std::to_string(red) + ".0 / 255.0, 1.0, 0.0, 1.0) + 1e-12 * (c + vec4(u));\n}";
  return s;
}

// A transition probe: A and B mixed by "blend", every uniform read.
const char* const kTransitionShader =
    "#version 120\nvarying vec2 texCoord;\n"
    "uniform vec2 resolution; uniform sampler2D texture0, texture1, texture2, texture3;\n"
    "uniform float time; uniform int mode; uniform vec3 color; uniform float timingProgress;\n"
    "uniform float sintime; uniform float curvetime; uniform float blend; uniform float custom;\n"
    "void main() {\n"
    " vec4 a = texture2D(texture0, texCoord); vec4 b = texture2D(texture1, texCoord);\n"
    " vec4 x = texture2D(texture2, texCoord) + texture2D(texture3, texCoord);\n"
    " float u = resolution.x + time + float(mode) + color.x + timingProgress + sintime + curvetime + custom;\n"
    " gl_FragColor = mix(a, b, blend) + 1e-12 * (x + vec4(u));\n}";

// A post probe: the picture passed through, every uniform read.
const char* const kPostShader =
    "#version 120\nvarying vec2 texCoord;\n"
    "uniform vec2 resolution; uniform sampler2D texture0, texture1, texture2, texture3, texture4;\n"
    "uniform float time; uniform int mode; uniform int state; uniform int logostate; uniform float blur;\n"
    "uniform float logofade;\n"
    "void main() {\n"
    " vec4 x = texture2D(texture1, texCoord) + texture2D(texture2, texCoord) + texture2D(texture3, texCoord)\n"
    "   + texture2D(texture4, texCoord);\n"
    " float u = resolution.x + time + float(mode) + float(state) + float(logostate) + blur + logofade;\n"
    " gl_FragColor = texture2D(texture0, texCoord) + 1e-12 * (x + vec4(u));\n}";

std::string Png1x1(uint8_t r, uint8_t g, uint8_t b) {
  return test_util::png_rgba({r, g, b, 255}, 1, 1);
}

using FileList = std::vector<std::pair<std::string, std::string>>;

// Every asset of the show, leaving out the names given.
FileList AllAssets(const std::vector<std::string>& leave_out = {}) {
  auto kept = [&](const std::string& name) {
    for (const std::string& l : leave_out)
      if (l == name) return false;
    return true;
  };
  FileList files;
  for (int i = 0; i < EFFECTS_NUM_IMAGES; i++)
    if (kept(kImageFiles[i])) files.push_back({kImageFiles[i], Png1x1(static_cast<uint8_t>(i), 200, 90)});
  for (int k = 0; k < kNumScenes; k++)
    if (kept(kSceneFiles[k])) files.push_back({kSceneFiles[k], SceneShader((k + 1) * 16)});
  for (int k = 0; k < kNumTransitions; k++)
    if (kept(kTransitionFiles[k])) files.push_back({kTransitionFiles[k], kTransitionShader});
  if (kept("post.glsl")) files.push_back({"post.glsl", kPostShader});
  return files;
}

void Mount(const char* image) {
  test_util::capture_stdout([&] { ASSERT_EQ(corefile_mountimage(image, 0), 1); });
}

GLint GetInt(GLenum what) {
  GLint value = 0;
  glGetIntegerv(what, &value);
  return value;
}

GLint Wrap(const s_bitmap& b, GLenum which) {
  glBindTexture(GL_TEXTURE_2D, b.textureid);
  GLint wrap = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, which, &wrap);
  return wrap;
}

GLint BoundOn(int unit) {
  GLint active = GetInt(GL_ACTIVE_TEXTURE);
  glActiveTexture(GL_TEXTURE0 + unit);
  GLint bound = GetInt(GL_TEXTURE_BINDING_2D);
  glActiveTexture(static_cast<GLenum>(active));
  return bound;
}

float UniformF(int id, const char* name, int component = 0) {
  GLfloat v[4] = {-99, -99, -99, -99};
  const GLuint program = GFX_shader[id].program;
  const GLint location = glGetUniformLocation(program, name);
  EXPECT_GE(location, 0) << name << " is not active in the probe";
  glGetUniformfv(program, location, v);
  return v[component];
}

int UniformI(int id, const char* name) {
  GLint v = -99;
  const GLuint program = GFX_shader[id].program;
  const GLint location = glGetUniformLocation(program, name);
  EXPECT_GE(location, 0) << name << " is not active in the probe";
  glGetUniformiv(program, location, &v);
  return v;
}

std::vector<uint8_t> Pixel(int x, int y) {
  std::vector<uint8_t> p(4);
  glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p.data());
  return p;
}

void Fill(int framebuffer, float r, float g, float b) {
  GFX_SetFrameBuffer(framebuffer);
  glClearColor(r, g, b, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glClearColor(0, 0, 0, 1);
}

int SceneRed(const char* file) {
  for (int k = 0; k < kNumScenes; k++)
    if (std::string(kSceneFiles[k]) == file) return (k + 1) * 16;
  return -1;
}

// Shared state of the process: the window, three framebuffers and every asset.
int g_fb[3] = {-1, -1, -1};
std::string g_loadoutput;
std::string g_shaderoutput;
int g_firstbitmap = 0;
int g_firstshader = 0;

void EnsureShow() {
  static bool ready = false;
  if (ready) return;
  ASSERT_EQ(GFX_InitVideo(kWidth, kHeight, "effects test", false), 0);
  for (int& fb : g_fb) fb = GFX_CreateFrameBuffer(kWidth, kHeight, 0);
  test_util::pack(kImage, AllAssets());
  Mount(kImage);
  g_firstbitmap = GFX_numbitmaps;
  g_firstshader = GFX_numshaders;
  g_loadoutput = test_util::capture_stdout([] { LoadResources(); });
  g_shaderoutput = test_util::capture_stdout([] { LoadShaders(); });
  ready = true;
}

// Puts the timeline at event `current` of a row of events 256 ticks apart.
void SetTimeline(int current, int tick) {
  demo = s_demo{};
  demo.numevents = 16;
  for (int e = 0; e < 16; e++) {
    demo.event[e].time = e * 256;
    demo.event[e].numstates = 1;
  }
  demo.currentevent = current;
  demo.nextevent = current + 1;
  demo.tick = tick;
  demo.offset = tick * 2739;
}


// ---- Effect shaders ---------------------------------------------------------------------

TEST(EffectsShader, LoadShaderBuildsAProgramAndKeepsTheText) {
  EnsureShow();
  const std::string probe = SceneShader(1);
  test_util::pack("effects_one.dat", {{"probe.glsl", probe}, {"empty.glsl", ""}});
  Mount("effects_one.dat");
  const int entries = numshaders;
  const int next = GFX_numshaders;
  int id = -2;
  std::string out = test_util::capture_stdout([&] { id = LoadShader("probe.glsl"); });
  EXPECT_EQ(id, next);
  EXPECT_NE(out.find("load shadefile probe.glsl, size: " + std::to_string(probe.size()) + "\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("Shader ID: " + std::to_string(id) + "\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("ff: "), std::string::npos);
  ASSERT_EQ(numshaders, entries + 1);
  EXPECT_EQ(demoshader[entries].id, id);
  EXPECT_EQ(std::string(demoshader[entries].source), probe);
  // The program pairs vv_default with the file's text.
  GLint length = 0;
  glGetShaderiv(GFX_shader[id].vertex, GL_SHADER_SOURCE_LENGTH, &length);
  EXPECT_EQ(length, static_cast<GLint>(strlen(vv_default) + 1));

  // A missing file: -1, nothing of the loader's printed, no entry.
  out = test_util::capture_stdout([&] { EXPECT_EQ(LoadShader("absent.glsl"), -1); });
  EXPECT_EQ(out.find("load shadefile"), std::string::npos) << out;
  EXPECT_EQ(out.find("Shader ID"), std::string::npos) << out;
  EXPECT_EQ(numshaders, entries + 1);
  EXPECT_EQ(GFX_numshaders, next + 1);

  // An empty file is an empty fragment text that still gets its id.
  out = test_util::capture_stdout([&] { id = LoadShader("empty.glsl"); });
  EXPECT_EQ(id, next + 1);
  EXPECT_NE(out.find("load shadefile empty.glsl, size: 0\n"), std::string::npos) << out;
  EXPECT_STREQ(demoshader[entries + 1].source, "");
  Mount(kImage);
}

// In a fresh child: a window, and an image holding one shader "probe.glsl"
// of `text`, mounted.
void ChildWithProbeShader(const char* image, const char* text) {
  CHILD_CHECK(GFX_InitVideo(kWidth, kHeight, "child", false) == 0);
  test_util::pack(image, {{"probe.glsl", text}});
  Mount(image);
}

TEST(EffectsShader, RefusedProgramPrintsItsText) {
  EXPECT_IN_CHILD({
    ChildWithProbeShader("effects_refused.dat", "void main() {}");
    test_util::capture_stdout([] {
      while (GFX_InitShader("void main() {}", "void main() {}") >= 0) {
      }
    });
    const std::string out = test_util::capture_stdout([] { CHILD_CHECK(LoadShader("probe.glsl") == -1); });
    CHILD_CHECK(out.find("Shader ID: -1\nff: void main() {}\n") != std::string::npos);
    CHILD_CHECK(numshaders == 1 && demoshader[0].id == -1);  // the entry stays
  });
}

TEST(EffectsShader, TableRefusesASixtyFifth) {
  EXPECT_IN_CHILD({
    ChildWithProbeShader("effects_full.dat", "#version 120\nvoid main() { gl_FragColor = vec4(1.0); }");
    test_util::capture_stdout([] {
      for (int i = 0; i < EFFECTS_MAX_SHADERS; i++) CHILD_CHECK(LoadShader("probe.glsl") == i);
    });
    const std::string out = test_util::capture_stdout([] { CHILD_CHECK(LoadShader("probe.glsl") == -1); });
    CHILD_CHECK(out.find("effects: shader table full (64 shaders), probe.glsl not loaded") != std::string::npos);
    CHILD_CHECK(numshaders == EFFECTS_MAX_SHADERS);
    CHILD_CHECK(GFX_numshaders == EFFECTS_MAX_SHADERS);  // no program made for it
  });
}

// ---- Scene passes ------------------------------------------------------------------------

class EffectsPass : public testing::Test {
 protected:
  void SetUp() override {
    EnsureShow();
    ASSERT_GE(shader_fx_intro, 0);
  }
  static s_bitmap Tex(GLuint name) {
    s_bitmap b = {};
    b.textureid = name;
    return b;
  }
  // Event 1 in force in state 3, 20 ticks in; event 2 incoming in state 0,
  // `incoming_statetime` ticks (negative: before its start).
  static void SetStates(int32_t incoming_statetime) {
    demo.event[1].currentstate = 3;
    demo.event[1].statetime = 20;
    demo.event[2].currentstate = 0;
    demo.event[2].statetime = incoming_statetime;
  }
};

TEST_F(EffectsPass, SceneUniformsForTheEventInForce) {
  SetTimeline(1, 300);
  demo.offset = 300 * 2739 + 1234;
  SetStates(-212);
  GFX_SetFrameBuffer(g_fb[0]);
  const int id = shader_fx_intro;
  ExecuteShader(id, 0, bmp_introbg, bmp_intro1, bmp_intro2, bmp_intro3, bmp_intro4, bmp_mono, bmp_none, bmp_none,
                bmp_none);
  EXPECT_FLOAT_EQ(UniformF(id, "time"), static_cast<float>(300 * 2739 + 1234 - 256) / 44100.0f)
      << "offset minus the start tick, over 44100";
  EXPECT_EQ(UniformI(id, "event"), 1);
  EXPECT_EQ(UniformI(id, "state"), 3);
  EXPECT_NEAR(UniformF(id, "statetime"), 20 * 0.06f, 1e-6);
  EXPECT_FLOAT_EQ(UniformF(id, "resolution", 0), 1280.0f);
  EXPECT_FLOAT_EQ(UniformF(id, "resolution", 1), 720.0f);
  for (int k = 0; k < 9; k++) EXPECT_EQ(UniformI(id, ("texture" + std::to_string(k)).c_str()), k) << k;

  EXPECT_EQ(GetInt(GL_CURRENT_PROGRAM), 0) << "no program current after a pass";
  EXPECT_EQ(GetInt(GL_ACTIVE_TEXTURE), GL_TEXTURE0) << "unit 0 active after a pass";
  EXPECT_EQ(BoundOn(0), static_cast<GLint>(bmp_introbg.textureid));
  EXPECT_EQ(BoundOn(5), static_cast<GLint>(bmp_mono.textureid));
  EXPECT_EQ(BoundOn(6), 0);
  // The quad was drawn over the whole framebuffer.
  const int red = SceneRed("fx_intro.glsl");
  EXPECT_NEAR(Pixel(0, 0)[0], red, 1);
  EXPECT_NEAR(Pixel(kWidth - 1, kHeight - 1)[0], red, 1);
}

TEST_F(EffectsPass, SelectorOneReadsTheIncomingEvent) {
  SetTimeline(1, 480);
  SetStates(-32);
  GFX_SetFrameBuffer(g_fb[1]);
  const int id = shader_fx_bubbles;
  ExecuteShader(id, 1, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none);
  EXPECT_EQ(UniformI(id, "state"), 0);
  EXPECT_NEAR(UniformF(id, "statetime"), -32 * 0.06f, 1e-6);
  EXPECT_EQ(UniformI(id, "event"), 1) << "\"event\" names the event in force whatever the selector";
  EXPECT_FLOAT_EQ(UniformF(id, "time"), static_cast<float>(480 * 2739 - 256) / 44100.0f)
      << "music time always counts from the event in force";

  // Any other selector is the event in force.
  ExecuteShader(id, 2, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none);
  EXPECT_EQ(UniformI(id, "state"), 3);
  ExecuteShader(id, -1, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none);
  EXPECT_NEAR(UniformF(id, "statetime"), 20 * 0.06f, 1e-6);
}

TEST_F(EffectsPass, NineteenImagePassSetsNoEvent) {
  SetTimeline(8, 2100);
  demo.event[8].currentstate = 2;
  demo.event[8].statetime = 5;
  GFX_SetFrameBuffer(g_fb[0]);
  const int id = shader_fx_greetings;
  GLuint textures[19];
  glGenTextures(19, textures);
  ExecuteShader2(id, 0, Tex(textures[0]), Tex(textures[1]), Tex(textures[2]), Tex(textures[3]), Tex(textures[4]),
                 Tex(textures[5]), Tex(textures[6]), Tex(textures[7]), Tex(textures[8]), Tex(textures[9]),
                 Tex(textures[10]), Tex(textures[11]), Tex(textures[12]), Tex(textures[13]), Tex(textures[14]),
                 Tex(textures[15]), Tex(textures[16]), Tex(textures[17]), Tex(textures[18]));
  EXPECT_EQ(UniformI(id, "event"), 0) << "never set: the value after linking";
  EXPECT_EQ(UniformI(id, "state"), 2);
  EXPECT_NEAR(UniformF(id, "statetime"), 0.3f, 1e-6);
  for (int k = 0; k < 19; k++) {
    EXPECT_EQ(UniformI(id, ("texture" + std::to_string(k)).c_str()), k) << k;
    EXPECT_EQ(BoundOn(k), static_cast<GLint>(textures[k])) << "unit " << k;
  }
  EXPECT_EQ(GetInt(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
  glDeleteTextures(19, textures);
}

TEST_F(EffectsPass, PassWithoutAProgramDrawsNothing) {
  SetTimeline(1, 300);
  Fill(g_fb[2], 1.0f, 0.0f, 1.0f);
  while (glGetError() != GL_NO_ERROR) {
  }
  ExecuteShader(-1, 0, bmp_introbg, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none,
                bmp_none);
  ExecuteShader2(-1, 0, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none,
                 bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none, bmp_none,
                 bmp_none);
  ExecutePost(g_fb[0], -1, bmp_none, bmp_none, bmp_none, bmp_none);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  const std::vector<uint8_t> p = Pixel(640, 360);
  EXPECT_EQ(p[0], 255);
  EXPECT_EQ(p[1], 0);
  EXPECT_EQ(p[2], 255);
  EXPECT_EQ(GetInt(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
  EXPECT_EQ(GetInt(GL_CURRENT_PROGRAM), 0);
}

// ---- Transition pass ---------------------------------------------------------------------

TEST_F(EffectsPass, TransitionUniformsAtProgressZeroAndHalf) {
  const int id = transition_sea;
  ASSERT_GE(id, 0);
  SetTimeline(3, 800);
  demo.transition[1] = s_transition{id, 64, 1, 0.9f, 0.25f};
  demo.activetransition = 1;
  demo.progress = 0.0f;
  Fill(g_fb[0], 1, 0, 0);
  Fill(g_fb[1], 0, 0, 1);
  GLuint extra = 0;
  glGenTextures(1, &extra);
  s_bitmap image = {};
  image.textureid = extra;
  GLuint unit3 = 0;
  glGenTextures(1, &unit3);
  GFX_BindTextureChannel(static_cast<int>(unit3), 3);
  glActiveTexture(GL_TEXTURE0);  // selecting a framebuffer binds on the active unit

  GFX_SetFrameBuffer(g_fb[2]);
  const double before = glfwGetTime() * 0.6;
  ExecuteTransition(g_fb[0], g_fb[1], image);
  const double after = glfwGetTime() * 0.6;
  EXPECT_FLOAT_EQ(UniformF(id, "blend"), 0.0f);
  EXPECT_FLOAT_EQ(UniformF(id, "sintime"), 0.0f);
  EXPECT_FLOAT_EQ(UniformF(id, "timingProgress"), 0.0f);
  EXPECT_FLOAT_EQ(UniformF(id, "curvetime"), 0.0f);
  EXPECT_EQ(UniformI(id, "mode"), 1);
  EXPECT_FLOAT_EQ(UniformF(id, "custom"), 0.25f);
  for (int c = 0; c < 3; c++) EXPECT_FLOAT_EQ(UniformF(id, "color", c), 1.0f);
  EXPECT_FLOAT_EQ(UniformF(id, "resolution", 0), 1280.0f);
  EXPECT_FLOAT_EQ(UniformF(id, "resolution", 1), 720.0f);
  for (int k = 0; k < 4; k++) EXPECT_EQ(UniformI(id, ("texture" + std::to_string(k)).c_str()), k);
  const float clock = UniformF(id, "time");
  EXPECT_GE(clock, static_cast<float>(before) - 1e-4f);
  EXPECT_LE(clock, static_cast<float>(after) + 1e-4f);
  // Scene A on unit 0, B on unit 1, the image on unit 2; unit 3 as it was.
  EXPECT_EQ(BoundOn(0), static_cast<GLint>(GFX_framebufferdata[g_fb[0]].texture));
  EXPECT_EQ(BoundOn(1), static_cast<GLint>(GFX_framebufferdata[g_fb[1]].texture));
  EXPECT_EQ(BoundOn(2), static_cast<GLint>(extra));
  EXPECT_EQ(BoundOn(3), static_cast<GLint>(unit3));
  EXPECT_EQ(GetInt(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
  // Blend 0 shows scene A alone.
  std::vector<uint8_t> p = Pixel(640, 360);
  EXPECT_EQ(p[0], 255);
  EXPECT_EQ(p[2], 0);

  demo.progress = 0.5f;
  ExecuteTransition(g_fb[0], g_fb[1], image);
  EXPECT_NEAR(UniformF(id, "blend"), 0.5f, 1e-6);
  EXPECT_NEAR(UniformF(id, "sintime"), 0.5f, 1e-4);
  EXPECT_FLOAT_EQ(UniformF(id, "timingProgress"), 0.5f);
  EXPECT_FLOAT_EQ(UniformF(id, "curvetime"), 0.5f);
  p = Pixel(640, 360);
  EXPECT_NEAR(p[0], 128, 2);
  EXPECT_NEAR(p[2], 128, 2);

  // Blend width 0.9: smoothstep from 0.05 to 0.95.
  demo.progress = 0.05f;
  ExecuteTransition(g_fb[0], g_fb[1], image);
  EXPECT_NEAR(UniformF(id, "blend"), 0.0f, 1e-6);
  demo.progress = 0.96f;
  ExecuteTransition(g_fb[0], g_fb[1], image);
  EXPECT_FLOAT_EQ(UniformF(id, "blend"), 1.0f);
  EXPECT_NEAR(UniformF(id, "sintime"), 1.0 - (std::cos(0.96 * 3.141568) * 0.5 + 0.5), 1e-6);
  glDeleteTextures(1, &extra);
  glDeleteTextures(1, &unit3);
}

// The passes' clock is a hook, GLFW's timer unless moved: the capture tool
// and the scene tests hold it still while a frame renders.
TEST_F(EffectsPass, TransitionAndPostReadTheClockHook) {
  EXPECT_EQ(effects_clock, &glfwGetTime);
  const int id = transition_sea;
  ASSERT_GE(id, 0);
  ASSERT_GE(shader_post, 0);
  SetTimeline(3, 800);
  demo.transition[1] = s_transition{id, 64, 1, 0.9f, 0.0f};
  demo.activetransition = 1;
  effects_clock = [] { return 1234.5; };
  ExecuteTransition(g_fb[0], g_fb[1], bmp_none);
  ExecutePost(g_fb[2], shader_post, bmp_none, bmp_none, bmp_none, bmp_none);
  effects_clock = glfwGetTime;
  const float expected = static_cast<float>(1234.5 * EFFECTS_CLOCK_SCALE);
  EXPECT_EQ(UniformF(id, "time"), expected);
  EXPECT_EQ(UniformF(shader_post, "time"), expected);
}

TEST_F(EffectsPass, TransitionWithoutAProgramDrawsNothing) {
  SetTimeline(3, 800);
  demo.transition[2] = s_transition{-1, 32, 0, 0.9f, 0.0f};
  demo.activetransition = 2;
  demo.progress = 0.5f;
  Fill(g_fb[0], 1, 0, 0);
  Fill(g_fb[2], 0, 1, 0);
  ExecuteTransition(g_fb[0], g_fb[1], bmp_none);
  const std::vector<uint8_t> p = Pixel(10, 10);
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[1], 255);
  EXPECT_EQ(GetInt(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
}

// ---- Post pass --------------------------------------------------------------------------

TEST_F(EffectsPass, PostLogostateModeAndInputs) {
  const int id = shader_post;
  ASSERT_GE(id, 0);
  GLuint textures[4];
  glGenTextures(4, textures);
  const s_bitmap images[4] = {Tex(textures[0]), Tex(textures[1]), Tex(textures[2]), Tex(textures[3])};
  auto post = [&] { ExecutePost(g_fb[2], id, images[0], images[1], images[2], images[3]); };

  // Events 2, 8 and 11: 1 until 8 ticks before the next event, then 0.
  for (int event : {2, 8, 11}) {
    SetTimeline(event, event * 256 + 100);
    post();
    EXPECT_EQ(UniformI(id, "logostate"), 1) << event;
    demo.tick = (event + 1) * 256 - 9;
    post();
    EXPECT_EQ(UniformI(id, "logostate"), 1) << event;
    demo.tick = (event + 1) * 256 - 8;
    post();
    EXPECT_EQ(UniformI(id, "logostate"), 0) << event;
    EXPECT_EQ(UniformI(id, "mode"), 0) << event;
  }
  // The logo's opacity glides in from the event's start and out towards the
  // tick where it leaves, over EFFECTS_LOGO_FADE ticks each, between ticks too.
  const float fade = EFFECTS_LOGO_FADE;
  struct FadeCase {
    int tick;      // ticks after the start of event 8
    int within;    // sample frames past that tick
    float expected;
  };
  for (const FadeCase& c : {FadeCase{0, 0, 0.0f}, FadeCase{3, 0, 3.0f / fade}, FadeCase{3, 1369, 3.5f / fade},
                            FadeCase{100, 2000, 1.0f}, FadeCase{256 - 8 - 3, 0, 3.0f / fade},
                            FadeCase{256 - 8, 0, 0.0f}}) {
    SetTimeline(8, 8 * 256 + c.tick);
    demo.offset += c.within;
    post();
    EXPECT_NEAR(UniformF(id, "logofade"), c.expected, 1e-4f) << c.tick << " + " << c.within;
  }
  for (int event : {0, 1, 3, 9, 10, 12, 14}) {
    SetTimeline(event, event * 256 + 10);
    post();
    EXPECT_EQ(UniformI(id, "logostate"), 0) << event;
    EXPECT_EQ(UniformI(id, "mode"), event == 10 ? 1 : 0) << event;
    EXPECT_EQ(UniformF(id, "logofade"), 0.0f) << event;
  }

  SetTimeline(4, 1100);
  demo.event[4].currentstate = 6;
  demo.event[5].currentstate = 0;
  Fill(g_fb[2], 0, 0, 1);
  Fill(g_fb[1], 0, 0, 0);
  post();  // draws into g_fb[1], the framebuffer now bound
  EXPECT_EQ(UniformI(id, "state"), 6);
  EXPECT_FLOAT_EQ(UniformF(id, "blur"), 0.5f);
  EXPECT_FLOAT_EQ(UniformF(id, "resolution", 1), 720.0f);
  for (int k = 0; k <= 4; k++) EXPECT_EQ(UniformI(id, ("texture" + std::to_string(k)).c_str()), k);
  EXPECT_EQ(BoundOn(0), static_cast<GLint>(GFX_framebufferdata[g_fb[2]].texture));
  for (int k = 1; k <= 4; k++) EXPECT_EQ(BoundOn(k), static_cast<GLint>(textures[k - 1])) << k;
  EXPECT_EQ(Pixel(640, 360)[2], 255) << "the picture passed through";
  glDeleteTextures(4, textures);
}

// "logostate" reaches every pixel of a post shader in its events. Only a
// shader that declares the rectangle its logo code reaches is drawn with it
// on in that rectangle alone (the rest folded to 0, for a software renderer).
TEST_F(EffectsPass, PostLogostateReachesEveryPixelUnlessTheShaderSaysHowFar) {
  const std::string paint =
      "uniform int logostate;\nvoid main() { gl_FragColor = vec4(float(logostate), 0.0, 0.0, 1.0); }\n";
  struct Case {
    const char* pragma;
    int middle;  // red in the middle of the picture and just left of the corner
    int corner;  // red in the top-right corner
  };
  for (const Case& c : {Case{"", 255, 255}, Case{"#pragma fold(logostate)\n", 255, 255},
                        Case{"#pragma fold(logostate) reach(logostate, -200, 0, 200, 200)\n", 0, 255}}) {
    const int id = GFX_InitShader(vv_default, (std::string("#version 120\n") + c.pragma + paint).c_str());
    ASSERT_GE(id, 0);
    SetTimeline(2, 2 * 256 + 100);
    Fill(g_fb[1], 0, 0, 1);
    ExecutePost(g_fb[2], id, Tex(0), Tex(0), Tex(0), Tex(0));  // into g_fb[1], the framebuffer bound
    EXPECT_EQ(Pixel(kWidth / 2, kHeight / 2)[0], c.middle) << c.pragma;
    EXPECT_EQ(Pixel(kWidth - 201, kHeight - 1)[0], c.middle) << c.pragma;
    EXPECT_EQ(Pixel(kWidth - 1, kHeight - 1)[0], c.corner) << c.pragma;
    EXPECT_EQ(Pixel(kWidth - 200, kHeight - 200)[0], c.corner) << c.pragma;
    GFX_DeleteShader(id);
  }
}

// ---- Asset tables --------------------------------------------------------------------------

class EffectsAssets : public testing::Test {
 protected:
  void SetUp() override { EnsureShow(); }
  static int RedOf(const s_bitmap& b) { return b.pixels ? reinterpret_cast<const uint8_t*>(b.pixels)[0] : -1; }
  static int Index(const char* file) {
    for (int i = 0; i < EFFECTS_NUM_IMAGES; i++)
      if (std::string(kImageFiles[i]) == file) return i;
    return -1;
  }
};

TEST_F(EffectsAssets, AllSixtySevenImagesLoadInOrder) {
  ASSERT_EQ(GFX_numbitmaps - g_firstbitmap, EFFECTS_NUM_IMAGES);
  int border_s = 0, border_t = 0;
  for (int i = 0; i < EFFECTS_NUM_IMAGES; i++) {
    const s_bitmap& b = *GFX_bitmaplist[g_firstbitmap + i];
    EXPECT_EQ(RedOf(b), i) << kImageFiles[i] << " loaded out of order";
    border_s += Wrap(b, GL_TEXTURE_WRAP_S) == GL_CLAMP_TO_BORDER;
    border_t += Wrap(b, GL_TEXTURE_WRAP_T) == GL_CLAMP_TO_BORDER;
  }
  EXPECT_EQ(border_s, 9);
  EXPECT_EQ(border_t, 8);
  for (const s_bitmap* b : {&bmp_title, &bmp_title2, &bmp_title3, &bmp_credits1, &bmp_credits2, &bmp_credits3,
                            &bmp_credits4, &bmp_credits5}) {
    EXPECT_EQ(Wrap(*b, GL_TEXTURE_WRAP_S), GL_CLAMP_TO_BORDER);
    EXPECT_EQ(Wrap(*b, GL_TEXTURE_WRAP_T), GL_CLAMP_TO_BORDER);
  }
  EXPECT_EQ(Wrap(bmp_twister, GL_TEXTURE_WRAP_S), GL_CLAMP_TO_BORDER);
  EXPECT_EQ(Wrap(bmp_twister, GL_TEXTURE_WRAP_T), GL_REPEAT) << "the twister repeats along T";
  EXPECT_EQ(Wrap(bmp_introbg, GL_TEXTURE_WRAP_S), GL_REPEAT);
  // Only the two dust overlays are read at the nearest texel; they still repeat.
  int nearest = 0;
  for (int i = 0; i < EFFECTS_NUM_IMAGES; i++) nearest += Wrap(*GFX_bitmaplist[g_firstbitmap + i], GL_TEXTURE_MIN_FILTER) == GL_NEAREST;
  EXPECT_EQ(nearest, 2);
  for (const s_bitmap* b : {&bmp_vintage, &bmp_vintage2}) {
    EXPECT_EQ(Wrap(*b, GL_TEXTURE_MAG_FILTER), GL_NEAREST);
    EXPECT_EQ(Wrap(*b, GL_TEXTURE_WRAP_S), GL_REPEAT);
  }
  GLfloat border[4] = {1, 1, 1, 1};
  glBindTexture(GL_TEXTURE_2D, bmp_title.textureid);
  glGetTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, border);
  for (float c : border) EXPECT_EQ(c, 0.0f) << "the default border: transparent black";
}

TEST_F(EffectsAssets, FilesLandInTheirGlobals) {
  // Every row of the list: its file's pixels end up in its global.
#define EXPECT_LOADED_INTO(global, file, wrap) EXPECT_EQ(RedOf(global), Index(file)) << file;
  SPROX_IMAGES(EXPECT_LOADED_INTO)
#undef EXPECT_LOADED_INTO
  // The rows whose file and global are named unlike each other, pinned here so
  // that an edit of the list cannot swap them unnoticed.
  const std::pair<const s_bitmap*, const char*> pinned[] = {
      {&bmp_flash1, "flash0.png"}, {&bmp_flash2, "flash1.png"}, {&bmp_flash3, "flash3.png"},
      {&bmp_closing2, "closing0.png"}, {&bmp_closing, "text_closing.png"}, {&bmp_audience, "widescreen2.png"},
      {&bmp_sugaricon, "sugaricon2.png"}, {&bmp_outro3, "text_owedemoscene2.png"}, {&bmp_title, "logo0a.png"},
      {&bmp_girl, "sprox_girl1080.png"}, {&bmp_credits5, "credit_torvin2.png"}, {&bmp_vintage2, "vintage8b.png"}};
  for (const auto& [bitmap, file] : pinned) EXPECT_EQ(RedOf(*bitmap), Index(file)) << file;
  // The two slots nothing loads are still all zero.
  const s_bitmap zero = {};
  EXPECT_EQ(0, memcmp(&bmp_none, &zero, sizeof zero));
  EXPECT_EQ(0, memcmp(&bmp_credits6, &zero, sizeof zero));
  EXPECT_EQ(g_loadoutput.find("couldn't open"), std::string::npos) << g_loadoutput;
}

// The images are decoded on worker threads, yet each one's lines come
// together and in table order: the file system's line, the loader's line,
// its texture's id.
TEST_F(EffectsAssets, EachImagesLinesComeTogetherInTableOrder) {
  std::vector<std::string> lines;
  std::stringstream text(g_loadoutput);
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), static_cast<size_t>(3 * EFFECTS_NUM_IMAGES)) << g_loadoutput;
  for (int i = 0; i < EFFECTS_NUM_IMAGES; i++) {
    const s_bitmap& b = *GFX_bitmaplist[g_firstbitmap + i];
    EXPECT_EQ(lines[3 * i].rfind("found file at offset: ", 0), 0u) << lines[3 * i];
    EXPECT_EQ(lines[3 * i + 1].rfind(std::string("pngbuffer loaded: ") + kImageFiles[i] + ", ", 0), 0u)
        << lines[3 * i + 1];
    EXPECT_EQ(lines[3 * i + 2], "bitmap textureid: " + std::to_string(b.textureid));
  }
}

TEST_F(EffectsAssets, ShadersGetIdsInTableOrder) {
  const int32_t* order[17] = {&shader_post,        &shader_fx_empty,    &shader_fx_intro,  &shader_fx_bubbles,
                              &shader_fx_twister,  &shader_fx_patjes,   &shader_fx_credits, &shader_fx_greetings,
                              &shader_fx_balls,    &shader_fx_straw,    &shader_fx_fruits, &shader_fx_icecube,
                              &shader_fx_break,    &transition_dissolve, &transition_sea,  &transition_bars,
                              &transition_flash};
  for (int k = 0; k < 17; k++) EXPECT_EQ(*order[k], g_firstshader + k) << k;
  EXPECT_NE(g_shaderoutput.find("load shadefile fx_heart.glsl"), std::string::npos);
  EXPECT_NE(g_shaderoutput.find("load shadefile transition_bars2.glsl"), std::string::npos);
}

// A fresh process: nothing loaded before.
TEST(EffectsAssetsMissing, SlotsStayEmptyAndTheRestLoads) {
  EXPECT_IN_CHILD({
    CHILD_CHECK(GFX_InitVideo(kWidth, kHeight, "child", false) == 0);
    test_util::pack("effects_missing.dat", AllAssets({"mono.png", "logo0a.png", "fx_balls.glsl"}));
    Mount("effects_missing.dat");
    const std::string out = test_util::capture_stdout([] {
      LoadResources();
      LoadShaders();
    });
    CHILD_CHECK(out.find("- couldn't open file: mono.png\n") != std::string::npos);
    CHILD_CHECK(out.find("- couldn't open file: logo0a.png\n") != std::string::npos);
    CHILD_CHECK(bmp_mono.textureid == 0 && bmp_mono.pixels == nullptr);
    CHILD_CHECK(bmp_title.textureid == 0);
    CHILD_CHECK(GFX_numbitmaps == EFFECTS_NUM_IMAGES - 2);
    // The missing logo's clamp does not fall on the image loaded before it.
    CHILD_CHECK(Wrap(bmp_titlebg, GL_TEXTURE_WRAP_S) == GL_REPEAT);
    CHILD_CHECK(Wrap(bmp_titlebg, GL_TEXTURE_WRAP_T) == GL_REPEAT);
    CHILD_CHECK(Wrap(bmp_title2, GL_TEXTURE_WRAP_T) == GL_CLAMP_TO_BORDER);
    // The shader after the missing one takes the id it would have had.
    CHILD_CHECK(shader_fx_balls == -1);
    CHILD_CHECK(shader_fx_greetings == 7);
    CHILD_CHECK(shader_fx_straw == 8);
    CHILD_CHECK(transition_flash == 15);
    // Intro and title still draw, with no texture where mono should be.
    const int fb = GFX_CreateFrameBuffer(kWidth, kHeight, 0);
    demo = s_demo{};
    demo.numevents = 3;
    demo.currentevent = 1;
    demo.nextevent = 2;
    DoEffect(fb, 0);
    CHILD_CHECK(BoundOn(5) == 0);
    CHILD_CHECK(std::abs(Pixel(5, 5)[0] - SceneRed("fx_intro.glsl")) <= 1);
  });
}

// ---- Scene script --------------------------------------------------------------------------

class EffectsScenes : public testing::Test {
 protected:
  void SetUp() override { EnsureShow(); }
  // Draws `event` into framebuffer 0 and checks the images bound on each slot.
  static void ExpectSlots(int event, const std::vector<const s_bitmap*>& slots, int units) {
    SetTimeline(event, event * 256 + 40);
    Fill(g_fb[0], 0, 0, 0);
    DoEffect(g_fb[0], 0);
    for (int k = 0; k < units; k++) {
      const GLint expected = k < static_cast<int>(slots.size()) && slots[k] ? static_cast<GLint>(slots[k]->textureid) : 0;
      EXPECT_EQ(BoundOn(k), expected) << "event " << event << " unit " << k;
    }
  }
};

TEST_F(EffectsScenes, EachEventDrawsItsOwnShader) {
  const char* files[15] = {"fx_break.glsl",  "fx_intro.glsl",   "fx_bubbles2.glsl", "fx_straw3.glsl",
                           "fx_heart.glsl",  "fx_credits.glsl", "fx_balls.glsl",    "fx_twister.glsl",
                           "fx_greetings2.glsl", "fx_icecube.glsl", "fx_break.glsl", "fx_fruits.glsl",
                           "fx_intro.glsl",  "fx_empty.glsl",   "fx_empty.glsl"};
  for (int event = 0; event < 15; event++) {
    SetTimeline(event, event * 256 + 10);
    Fill(g_fb[0], 0, 0, 0);
    DoEffect(g_fb[0], 0);
    EXPECT_NEAR(Pixel(100, 100)[0], SceneRed(files[event]), 1) << "event " << event;
    EXPECT_EQ(Pixel(100, 100)[1], 255) << "event " << event;
  }
}

TEST_F(EffectsScenes, SlotsOfTheRows) {
  ExpectSlots(0, {&bmp_audience, &bmp_damage, &bmp_audience, &bmp_blackbg, nullptr, nullptr, nullptr, nullptr,
                  &bmp_audience},
              9);
  ExpectSlots(3, {&bmp_ballsbg}, 9);
  ExpectSlots(5, {&bmp_credits1, &bmp_credits2, &bmp_credits3, &bmp_credits4, &bmp_credits5, nullptr,
                  &bmp_creditlabel1, &bmp_creditlabel2},
              9);
  ExpectSlots(9, {&bmp_bluebg, &bmp_sproxfever, &bmp_cigburn, &bmp_ballsbg}, 9);
  ExpectSlots(10, {&bmp_blackbg, &bmp_damage, &bmp_flash1, &bmp_flash2, &bmp_flash3, &bmp_flash4, &bmp_flash5,
                   &bmp_flash6, &bmp_dots},
              9);
  ExpectSlots(13, {&bmp_blackbg, &bmp_closing2, &bmp_closing}, 9);
  ExpectSlots(14, {&bmp_dots, &bmp_dots, &bmp_dots}, 9);
  ExpectSlots(8, {&bmp_ballsbg, &bmp_greetings1, &bmp_greetings2, &bmp_greetings3a, &bmp_greetings3b,
                  &bmp_greetings3c, &bmp_greetings3d, &bmp_greetings4a, &bmp_greetings4b, &bmp_greetings5,
                  &bmp_greetings6a, &bmp_greetings6b, &bmp_greetings6c, &bmp_greetings6d, &bmp_greetings6e,
                  &bmp_greetings7a, &bmp_greetings7b, &bmp_greetings7c, &bmp_greetings8},
              19);
  EXPECT_EQ(BoundOn(5), static_cast<GLint>(bmp_greetings3c.textureid));
  EXPECT_NE(bmp_greetings3c.textureid, 0u);
}

TEST_F(EffectsScenes, EventsWithoutARowSelectAndDrawNothing) {
  for (int event : {15, -1, 99}) {
    SetTimeline(14, 3600);
    demo.currentevent = event;
    demo.nextevent = event + 1;
    Fill(g_fb[0], 0, 0, 1);
    GFX_SetFrameBuffer(g_fb[2]);
    DoEffect(g_fb[0], 0);
    EXPECT_EQ(GFX_FrameBuffer, &GFX_framebuffers[g_fb[0]]) << "selected first and always";
    EXPECT_EQ(GetInt(GL_FRAMEBUFFER_BINDING_EXT), static_cast<GLint>(GFX_framebufferdata[g_fb[0]].framebuffer));
    const std::vector<uint8_t> p = Pixel(300, 300);
    EXPECT_EQ(p[0], 0) << event;
    EXPECT_EQ(p[2], 255) << "the framebuffer keeps its picture, event " << event;
  }
  // The incoming event after 14 is 15: scene B is left alone.
  SetTimeline(14, 3600);
  Fill(g_fb[1], 0, 0, 1);
  DoEffect(g_fb[1], 1);
  EXPECT_EQ(Pixel(300, 300)[2], 255);
  EXPECT_EQ(Pixel(300, 300)[1], 0);
}

TEST_F(EffectsScenes, SelectorPicksTheIncomingEvent) {
  SetTimeline(1, 250 + 256);
  Fill(g_fb[1], 0, 0, 0);
  DoEffect(g_fb[1], 1);  // event 2 is the title
  EXPECT_NEAR(Pixel(50, 50)[0], SceneRed("fx_bubbles2.glsl"), 1);
  EXPECT_EQ(BoundOn(1), static_cast<GLint>(bmp_title.textureid));
  DoEffect(g_fb[1], 2);  // any other selector: the event in force
  EXPECT_NEAR(Pixel(50, 50)[0], SceneRed("fx_intro.glsl"), 1);
}

}  // namespace
