// demo/fixedclock.cpp: the fixed frame clock (see fixedclock.h).
//
// Threads: any; nothing here keeps state.
#include "demo/fixedclock.h"

#include "sound/sound.h"

// ---- Internal functions -----------------------------------------------------------
namespace {

// Rounds a / b up for a >= 0, b > 0.
int64_t divide_up(int64_t a, int64_t b) { return (a + b - 1) / b; }

}  // namespace

// ---- Public functions ---------------------------------------------------------------
int64_t capture_frameoffset(int64_t frame, int32_t fps) { return frame * AUDIO_DEVICE_RATE / fps; }

double capture_frameclock(int64_t frame, int32_t fps) { return static_cast<double>(frame) / fps; }

int64_t capture_firstframefrom(int64_t offset, int32_t fps) {
  if (offset <= 0) return 0;
  // floor(n x 44100 / fps) >= offset exactly when n x 44100 >= offset x fps.
  return divide_up(offset * fps, AUDIO_DEVICE_RATE);
}

int64_t capture_firstframeafter(int64_t time_us, int32_t fps) {
  if (time_us <= 0) return 0;
  return divide_up(time_us * fps, CAPTURE_US);
}

int64_t capture_frameat(int64_t time_us, int32_t fps) {
  if (time_us <= 0) return 0;
  return time_us * fps / CAPTURE_US;
}
