// demo/demo.cpp: the driver: the start-up sequence and the body of one frame,
// shared by the `sprox` executable and the capture tool.
//
// One frame: the music's offset becomes the timeline's tick, event, state and
// transition progress; the event in force is drawn into scene A, the incoming
// event into scene B while a transition runs; the transition shader blends A
// and B into the composite, and the post shader draws the composite into the
// window's framebuffer.
//
// Threads: main thread only (it owns the GL context and makes every call into
// the sound system). The audio side advances the music's position meanwhile.
#include "demo/demo.h"

#include "core/core.h"
#include "corefile/corefile.h"
#include "effects/effects.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"
#include "timeline/timeline.h"

// ---- Constants ---------------------------------------------------------------------
namespace {
constexpr int kMixBits = 16;
constexpr int kMixChannels = 2;
constexpr float kBlendWidth = 0.9f;  // soft edge of every transition's blend curve

// The five transitions, registered in this order: the timing file names them
// by these indices.
struct s_transitionsetup {
  const int32_t* shader;  // shader global, read after LoadShaders
  int32_t length;         // ticks
  int32_t mode;           // the shader's "mode"
};
const s_transitionsetup kTransitions[] = {
    {&transition_dissolve, 32, 0},  // 0
    {&transition_sea, 64, 0},       // 1
    {&transition_bars, 64, 0},      // 2
    {&transition_flash, 16, 0},     // 3
    {&transition_bars, 32, 1},      // 4
};
}  // namespace

// ---- Globals -------------------------------------------------------------------------
int32_t fx1_framebuffer_id;
int32_t fx2_framebuffer_id;
int32_t framebuffer_id;
s_sound snd_demomusic;
void (*demo_mark)(int mark) = nullptr;

namespace {
void Mark(DemoMark mark) {
  if (demo_mark) demo_mark(mark);
}
}  // namespace

// ---- Public functions -------------------------------------------------------------------
void Demo_Startup(bool play_music) {
  // No result is tested but the window's: a missing image, shader, timing
  // file or music only shows as its loader's message, and the show goes on.
  corefile_mountimage(DEMO_IMAGENAME, COREFILE_KIND_IMAGE);
  Mark(DEMO_MARK_MOUNTED);
  if (GFX_InitVideo(EFFECTS_WIDTH, EFFECTS_HEIGHT, DEMO_TITLE, false) != 0) {
    error("cannot open the 1280x720 window with an OpenGL 2.0 context");
  }
  glfwSetKeyCallback(GFX_window, key_callback);

  fx1_framebuffer_id = GFX_CreateFrameBuffer(EFFECTS_WIDTH, EFFECTS_HEIGHT, 0);
  fx2_framebuffer_id = GFX_CreateFrameBuffer(EFFECTS_WIDTH, EFFECTS_HEIGHT, 0);
  framebuffer_id = GFX_CreateFrameBuffer(EFFECTS_WIDTH, EFFECTS_HEIGHT, 0);
  Mark(DEMO_MARK_WINDOW);

  Soundsystem_Init(AUDIO_DEVICE_RATE, kMixBits, kMixChannels);
  Soundsystem_LoadSound(DEMO_MUSICNAME, &snd_demomusic);
  Mark(DEMO_MARK_SOUND);

  // One frame out before the slow loads, so the window shows up at once.
  GFX_SwapBuffers();
  LoadResources();
  Mark(DEMO_MARK_IMAGES);
  LoadShaders();
  Mark(DEMO_MARK_SHADERS);

  for (const s_transitionsetup& t : kTransitions) AddTransition(*t.shader, t.length, t.mode, kBlendWidth, 0.0f);
  InitTiming();
  LoadTiming(DEMO_TIMINGNAME);
  Mark(DEMO_MARK_TIMING);

  if (play_music) Soundsystem_PlayMusic(&snd_demomusic, 0);
}

void Demo_RenderFrame(int32_t offset) {
  UpdateDemoTiming(offset, TIMELINE_TICKLENGTH);
  // Event 15 is the end mark: this frame is still drawn, the loop ends after it.
  if (demo.currentevent > DEMO_LASTSCENE && GFX_window) glfwSetWindowShouldClose(GFX_window, 1);

  Mark(DEMO_MARK_SCENE_A);
  DoEffect(fx1_framebuffer_id, 0);
  // Outside a transition scene B keeps its last picture; nothing samples it then.
  if (demo.progress > 0.0f) {
    Mark(DEMO_MARK_SCENE_B);
    DoEffect(fx2_framebuffer_id, 1);
  }

  Mark(DEMO_MARK_TRANSITION);
  GFX_SetFrameBuffer(framebuffer_id);
  ExecuteTransition(fx1_framebuffer_id, fx2_framebuffer_id, bmp_none);

  // Straight to the window: the graphics layer's current framebuffer (and so
  // the post quad's size) stays the composite's, which is the window's size.
  Mark(DEMO_MARK_POST);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  ExecutePost(framebuffer_id, shader_post, bmp_vintage, bmp_vintage2, bmp_sugaricon, bmp_noise);
  Mark(DEMO_MARK_FRAME_END);
}
