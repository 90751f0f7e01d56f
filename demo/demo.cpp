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

#include <cstdio>

#include "core/core.h"
#include "corefile/corefile.h"
#include "demo/screen.h"
#include "effects/effects.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"
#include "timeline/timeline.h"

// ---- Constants ---------------------------------------------------------------------
namespace {
constexpr int kMixBits = 16;
constexpr int kMixChannels = 2;
constexpr float kBlendWidth = 0.9f;  // soft edge of every transition's blend curve
constexpr const char* kMsgData = "data: %s %s\n";  // after the mount's own lines: which source it was

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
int demo_framesdrawn = 0;  // Demo_RenderFrame calls so far
}  // namespace

namespace {
void Mark(DemoMark mark) {
  if (demo_mark) demo_mark(mark);
}
}  // namespace

// ---- Public functions -------------------------------------------------------------------
void Demo_Startup(bool play_music) {
  // No result is tested but the window's: a missing image, shader, timing
  // file or music only shows as its loader's message, and the show goes on.
  const int mounted = corefile_mountimage(demo_setup.image, demo_setup.imagekind);
  if (demo_setup.source[0]) printf(kMsgData, mounted ? "mounted" : "could not mount", demo_setup.source);
  Mark(DEMO_MARK_MOUNTED);
  // The images are read now and decoded on worker threads while the window,
  // the sound and the music come up; their lines still come after those.
  ReadResources();
  if (Screen_Open() != 0) {
    DropResources();
    char reason[128];
    if (demo_setup.fullscreen)
      snprintf(reason, sizeof(reason), "cannot open the full-screen window on monitor %d with an OpenGL 2.0 context",
               demo_setup.monitor);
    else
      snprintf(reason, sizeof(reason), "cannot open the %dx%d window with an OpenGL 2.0 context",
               demo_setup.windowwidth, demo_setup.windowheight);
    error(reason);
  }
  glfwSetKeyCallback(GFX_window, key_callback);
  Screen_Start();

  int width = 0, height = 0;
  Demo_RenderSize(&width, &height);
  fx1_framebuffer_id = GFX_CreateFrameBuffer(width, height, 0);
  fx2_framebuffer_id = GFX_CreateFrameBuffer(width, height, 0);
  framebuffer_id = GFX_CreateFrameBuffer(width, height, 0);
  Mark(DEMO_MARK_WINDOW);

  Soundsystem_Init(AUDIO_DEVICE_RATE, kMixBits, kMixChannels);
  Soundsystem_LoadSound(DEMO_MUSICNAME, &snd_demomusic);
  Mark(DEMO_MARK_SOUND);

  // One frame out before the slow loads, so the window shows up at once.
  GFX_SwapBuffers();
  // Each texture gets its pixels when a pass first binds it, or in one of
  // the first frames (one a frame), not here: a copy each that a software
  // renderer makes slowly, 150 MB in all.
  GFX_deferuploads = true;
  LoadResources();
  GFX_deferuploads = false;
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
  Screen_Update();
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

  // Outside a transition the transition pass would only copy scene A into the
  // composite (every transition shader gives scene A at progress 0), a
  // full-screen pass that shows nothing: the post pass reads scene A instead.
  // The composite stays the current framebuffer either way, so the post
  // quad's size and projection are the same.
  Mark(DEMO_MARK_TRANSITION);
  GFX_SetFrameBuffer(framebuffer_id);
  int32_t picture = fx1_framebuffer_id;
  if (demo.progress > 0.0f) {
    ExecuteTransition(fx1_framebuffer_id, fx2_framebuffer_id, bmp_none);
    picture = framebuffer_id;
  }

  // Straight to the window, into the letterbox: the graphics layer's current
  // framebuffer (and so the post quad and its projection) stays the
  // composite's. The capture may name a framebuffer of its own instead.
  Mark(DEMO_MARK_POST);
  if (demo_outputframebuffer >= 0) {
    GFX_SetFrameBuffer(demo_outputframebuffer);
  } else {
    Screen_ShowPicture();
  }
  ExecutePost(picture, shader_post, bmp_vintage, bmp_vintage2, bmp_sugaricon, bmp_noise);
  // From the second frame on, until all are done, one folded program and one
  // image's texture a frame, made ahead of their first draw: their work and
  // memory come in the show's first seconds. The first frame makes only what
  // it draws, so the show opens as soon as it can.
  if (demo_framesdrawn > 0) {
    PrepareFoldedPrograms();
    GFX_UploadPendingTexture();
  }
  demo_framesdrawn++;
  Mark(DEMO_MARK_FRAME_END);
}
