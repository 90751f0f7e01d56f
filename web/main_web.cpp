// web/main_web.cpp: the entry point of the show in a browser. The page
// (web/index.html) downloads sprox.dat into the in-memory file system and
// calls main with the arguments it read from its URL:
//
//   (none)                 play the show in real time with its music, one
//                          frame per animation frame of the browser
//   --window WxH           the canvas's size in pixels (the page's window)
//   --at SECONDS           draw the one frame at that show time on the capture
//                          tool's fixed clock (sprox-capture --at: frame
//                          floor(SECONDS x 60), its offset n x 44100 / 60 and
//                          its clock n / 60), at render size = window size and
//                          scale 1, without sound, then return
//
// Either way the page learns the outcome from the document's title: "(ready)"
// after a --at frame is drawn, "(error)" when start-up cannot go on (a
// sprox.dat that cannot be mounted ends the program with status 1 and its
// reason on standard error, before anything is drawn or played); and
// sprox_shown() tells it that the show reached its end (or Escape), so it
// offers to play again (web_playagain).
//
// Threads: the browser's main thread only.
#include <emscripten.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "demo/demo.h"
#include "demo/fixedclock.h"
#include "demo/pacing.h"
#include "effects/effects.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"
#include "sound/sound.h"

// ---- Globals --------------------------------------------------------------------------
namespace {

double g_heldclock = 0.0;  // seconds: the effects clock of a --at frame

}  // namespace

// ---- Internal functions ------------------------------------------------------------------
namespace {

double HeldClock() { return g_heldclock; }

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The page's hooks (web/index.html); absent ones do nothing.
void Tell(const char* what) {
  EM_ASM({ if (Module[UTF8ToString($0)]) Module[UTF8ToString($0)](); }, what);
}

// One frame of the real-time show: the audible offset, as the desktop loop reads it.
void PlayFrame() {
  if (glfwWindowShouldClose(GFX_window)) {
    emscripten_cancel_main_loop();
    Tell("sproxEnded");
    return;
  }
  const s_sound music = Soundsystem_CopySound(&snd_demomusic);
  const uint64_t position = Soundsystem_GetPlaybackOffset(music);
  const int32_t offset = static_cast<int32_t>(static_cast<uint32_t>(position));
  // A timeline without an end mark ends with its music.
  if (Demo_MusicOver(music, position)) glfwSetWindowShouldClose(GFX_window, 1);
  Pacing_FrameBegin();
  Demo_RenderFrame(offset);
  Pacing_FrameEnd();
  Pacing_Swapped(Seconds());
}

bool ParseSize(const char* text, int* width, int* height) {
  return std::sscanf(text, "%dx%d", width, height) == 2 && *width > 0 && *height > 0;
}

}  // namespace

// ---- Public functions ---------------------------------------------------------------------

// The music's audible position in seconds (the page's clock check).
extern "C" EMSCRIPTEN_KEEPALIVE double web_playbackseconds() {
  const s_sound music = Soundsystem_CopySound(&snd_demomusic);
  return static_cast<double>(Soundsystem_GetPlaybackOffset(music)) / AUDIO_DEVICE_RATE;
}

// After the end: the show from the start again.
extern "C" EMSCRIPTEN_KEEPALIVE void web_playagain() {
  Soundsystem_SetSoundOffset(&snd_demomusic, 0);
  Soundsystem_PlayMusic(&snd_demomusic, 0);
  glfwSetWindowShouldClose(GFX_window, 0);
  emscripten_set_main_loop(PlayFrame, 0, 0);
}

int main(int argc, char** argv) {
  double at = -1.0;
  int width = EFFECTS_WIDTH, height = EFFECTS_HEIGHT;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--at") == 0) at = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--window") == 0 && !ParseSize(argv[i + 1], &width, &height)) {
      width = EFFECTS_WIDTH;
      height = EFFECTS_HEIGHT;
    }
  }
  demo_setup.windowwidth = width;
  demo_setup.windowheight = height;

  if (at >= 0.0) {
    // The capture tool's frame: its offset, its clock, no sound device.
    audiodriver_selectoutput(AUDIO_OUTPUT_MANUAL);
    effects_clock = HeldClock;
    demo_setup.renderwidth = width;
    demo_setup.renderheight = height;
    demo_setup.scale = 1.0f;
    Demo_Startup(false);
    const int64_t frame = capture_frameat(static_cast<int64_t>(at * CAPTURE_US + 0.5), CAPTURE_DEFAULT_FPS);
    g_heldclock = capture_frameclock(frame, CAPTURE_DEFAULT_FPS);
    glfwSetTime(g_heldclock);
    Demo_RenderFrame(static_cast<int32_t>(capture_frameoffset(frame, CAPTURE_DEFAULT_FPS)));
    glFinish();
    Tell("sproxReady");
    return 0;
  }

  Demo_Startup(true);
  Pacing_Start(true);
  emscripten_set_main_loop(PlayFrame, 0, 0);
  Tell("sproxPlaying");
  return 0;
}
