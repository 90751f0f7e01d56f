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

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "core/corepath.h"
#include "corefile/corefile.h"
#include "demo/dev.h"
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
constexpr const char* kMsgData = "data: mounted %s\n";  // after the mount's own lines: which source it was
// Standard error, first word the program's name. Nothing to show: the
// reader has said why just before (on standard output).
constexpr const char* kMsgNoData =
    "%s: no show data: could not mount %s (%s); put sprox.dat beside the program or name it with --data\n";
constexpr const char* kMsgNoWindow = "%s: %s: %s\n";  // program, what could not open, the display's answer
constexpr const char* kMsgNoEvents = "%s: warning: %s gives no events; the show ends when its music ends\n";
constexpr const char* kMsgNoEndMark =
    "%s: warning: %s has no end mark (event %d); the show ends when its music ends\n";
constexpr const char* kOriginDefault = "the show's data";
constexpr const char* kNoFiles = "it holds no files";
#ifndef __EMSCRIPTEN__
constexpr const char* kDisplayUnset = "DISPLAY is unset (run it on a desktop, or under xvfb-run)";
#endif
constexpr const char* kDisplayRefused = "the display refused it";
constexpr int kReasonBytes = 512;

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
int demo_framesdrawn = 0;       // Demo_RenderFrame calls so far
bool demo_musicheard = false;   // the music was seen playing (Demo_MusicOver)
char demo_glfwerror[kReasonBytes] = "";  // GLFW's last complaint, for the window's failure line
}  // namespace

namespace {
void Mark(DemoMark mark) {
  if (demo_mark) demo_mark(mark);
}

void RememberGlfwError(int /*code*/, const char* description) {
  snprintf(demo_glfwerror, sizeof demo_glfwerror, "%s", description ? description : "");
}

// Nothing to show: says so on standard error and ends the program before
// any window opens. `mounted`: the reader accepted the source (then it holds
// no files).
[[noreturn]] void EndWithoutData(int mounted) {
  char origin[kReasonBytes];
  const char* what = demo_setup.origin ? demo_setup.origin : kOriginDefault;
  const char* path = demo_setup.image;
  const bool folder = demo_setup.imagekind == COREFILE_KIND_DIRECTORY;
  const char* damage = corefile_damage();
  struct stat info;
  // What stands at the path: stat and access never open it, so a FIFO cannot hold us here.
  if (mounted)
    snprintf(origin, sizeof origin, "%s: %s", what, kNoFiles);
  else if (damage && *damage)
    snprintf(origin, sizeof origin, "%s: damaged image: %s", what, damage);
  else if (!path || core_stat(path, &info) != 0)
    snprintf(origin, sizeof origin, "%s: %s", what, strerror(path ? errno : ENOENT));
  else if (folder != S_ISDIR(info.st_mode) || (!folder && !S_ISREG(info.st_mode)))
    snprintf(origin, sizeof origin, "%s: %s", what, folder ? "not a folder" : "not a regular file");
  else if (core_access(path, R_OK) != 0)
    snprintf(origin, sizeof origin, "%s: %s", what, strerror(errno));
  else
    snprintf(origin, sizeof origin, "%s: %s", what, folder ? "the folder cannot be read" : "not a resource image");
  fflush(stdout);  // the reader's lines come first
  fprintf(stderr, kMsgNoData, demo_setup.program, path, origin);
  exit(1);
}

[[noreturn]] void EndWithoutWindow() {
  DropResources();
  char what[128];
  if (demo_setup.fullscreen)
    snprintf(what, sizeof(what), "cannot open the full-screen window on monitor %d with an OpenGL 2.0 context",
             demo_setup.monitor);
  else
    snprintf(what, sizeof(what), "cannot open the %dx%d window with an OpenGL 2.0 context", demo_setup.windowwidth,
             demo_setup.windowheight);
  const char* why = demo_glfwerror[0] ? demo_glfwerror : kDisplayRefused;
#ifndef __EMSCRIPTEN__
  const char* display = getenv("DISPLAY");
  if (!display || !*display) why = kDisplayUnset;
#endif
  fflush(stdout);
  fprintf(stderr, kMsgNoWindow, demo_setup.program, what, why);
  exit(1);
}

// A timeline the end mark cannot end: said once, at start-up.
void WarnAboutTheEnd() {
  fflush(stdout);
  if (demo.numevents <= 0)
    fprintf(stderr, kMsgNoEvents, demo_setup.program, DEMO_TIMINGNAME);
  else if (demo.numevents <= DEMO_LASTSCENE + 1)
    fprintf(stderr, kMsgNoEndMark, demo_setup.program, DEMO_TIMINGNAME, DEMO_LASTSCENE + 1);
}
}  // namespace

// ---- Public functions -------------------------------------------------------------------
void Demo_Startup(bool play_music) {
  // Only the mount and the window are tested: a missing image, shader,
  // timing file or music only shows as its loader's message, and the show
  // goes on; without data there would be nothing but black to show.
  const int mounted = corefile_mountimage(demo_setup.image, demo_setup.imagekind);
  if (!mounted || corefile_image.numfiles == 0) EndWithoutData(mounted);
  if (demo_setup.source[0]) printf(kMsgData, demo_setup.source);
  Mark(DEMO_MARK_MOUNTED);
  // The images are read now and decoded on worker threads while the window,
  // the sound and the music come up; their lines still come after those.
  ReadResources();
  glfwSetErrorCallback(RememberGlfwError);
  if (Screen_Open() != 0) EndWithoutWindow();
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
  WarnAboutTheEnd();
  Mark(DEMO_MARK_TIMING);

  if (play_music) Soundsystem_PlayMusic(&snd_demomusic, 0);
}

void Demo_RenderFrame(int32_t offset) {
  Screen_Update();
  UpdateDemoTiming(offset, TIMELINE_TICKLENGTH);
  // Event 15 is the end mark: this frame is still drawn, the loop ends after
  // it. The makers' mode pauses there instead.
  if (demo.currentevent > DEMO_LASTSCENE && !Dev_HoldAtEnd() && GFX_window) glfwSetWindowShouldClose(GFX_window, 1);

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

bool Demo_MusicOver(const s_sound& music, uint64_t position) {
  if (demo.numevents > DEMO_LASTSCENE + 1 || Dev_Active()) return false;
  const uint64_t frames = music.channels ? music.numsamples / music.channels : 0;
  // No music at all, or a clock that runs on past the music's end.
  if (position >= frames) return true;
  if (music.playing) {
    demo_musicheard = true;
    return false;
  }
  // Stopped: at its end (back at 0), unless the Enter key paused it.
  return demo_musicheard && !demopaused;
}
