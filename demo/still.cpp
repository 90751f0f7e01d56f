// demo/still.cpp: `sprox --still SECONDS FILE.png`, one frame of the show
// written as a PNG instead of played.
//
// The frame is the one sprox-capture --at SECONDS renders (and the web page's
// ?at=): frame floor(SECONDS x 60) of the fixed clock (demo/fixedclock.h),
// drawn at that frame's playback offset with the effects' clock held at its
// time. No sound is played: the silent output runs and the music never
// starts. The post pass draws into a framebuffer of the render size, so the
// picture does not depend on the window or the screen.
//
// The PNG is encoded in memory and written whole or not at all
// (core_writefile), so a failed write never leaves a partial file.
//
// Threads: main thread only.
#include "demo/demo.h"

#include <lodepng.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "demo/fixedclock.h"
#include "effects/effects.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"
#include "sound/sound.h"

// ---- Constants ---------------------------------------------------------------------
namespace {

constexpr int kExitFailure = 1;

// What a failure says, on standard error.
constexpr const char* kMsgNoWindow = "sprox: --still: the window could not be opened\n";
constexpr const char* kMsgNoFramebuffer = "sprox: --still: no framebuffer left for a %dx%d frame\n";
constexpr const char* kMsgCannotEncode = "sprox: --still %s: cannot encode the PNG: %s\n";
constexpr const char* kMsgCannotWrite = "sprox: --still %s: cannot write: %s\n";

// ---- Globals ------------------------------------------------------------------------
double g_heldclock = 0.0;  // seconds: the effects' clock while the frame renders

// ---- Internal functions ---------------------------------------------------------------
double held_clock() { return g_heldclock; }

}  // namespace

// ---- Public functions -------------------------------------------------------------------
int Demo_WriteStill(int64_t time_us, const char* path) {
  audiodriver_selectoutput(AUDIO_OUTPUT_SILENT);
  effects_clock = held_clock;
  Demo_Startup(false);
  if (!GFX_window) {
    fprintf(stderr, "%s", kMsgNoWindow);
    return kExitFailure;
  }
  int width = 0, height = 0;
  Demo_RenderSize(&width, &height);
  const int output = GFX_CreateFrameBuffer(width, height, 0);
  if (output < 0) {
    fprintf(stderr, kMsgNoFramebuffer, width, height);
    return kExitFailure;
  }
  demo_outputframebuffer = output;

  const int64_t frame = capture_frameat(time_us, CAPTURE_DEFAULT_FPS);
  g_heldclock = capture_frameclock(frame, CAPTURE_DEFAULT_FPS);
  glfwSetTime(g_heldclock);
  Demo_RenderFrame(static_cast<int32_t>(capture_frameoffset(frame, CAPTURE_DEFAULT_FPS)));
  glFinish();

  // Read back bottom row first, then turned upright for the PNG.
  const size_t stride = static_cast<size_t>(width) * 3;
  std::vector<unsigned char> bottomup(stride * static_cast<size_t>(height));
  std::vector<unsigned char> upright(bottomup.size());
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, GFX_framebufferdata[output].framebuffer);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, bottomup.data());
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  for (int row = 0; row < height; ++row)
    memcpy(upright.data() + static_cast<size_t>(row) * stride,
           bottomup.data() + static_cast<size_t>(height - 1 - row) * stride, stride);
  if (audiodriver_getoutput() >= 0) Soundsystem_CloseAudio();  // its device thread joined before exit
  glfwTerminate();
  GFX_window = nullptr;

  unsigned char* png = nullptr;
  size_t size = 0;
  const unsigned code = lodepng_encode24(&png, &size, upright.data(), static_cast<unsigned>(width),
                                         static_cast<unsigned>(height));
  if (code) {
    free(png);
    fprintf(stderr, kMsgCannotEncode, path, lodepng_error_text(code));
    return kExitFailure;
  }
  char reason[512];
  const bool written = core_writefile(path, png, size, reason, sizeof reason);
  free(png);
  if (!written) fprintf(stderr, kMsgCannotWrite, path, reason);
  return written ? 0 : kExitFailure;
}
