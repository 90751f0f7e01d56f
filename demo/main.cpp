// demo/main.cpp: the `sprox` entry point. Starts the show, then draws one
// frame per display refresh at the music's playback position until the
// window is asked to close (end mark, Escape, or the window system).
//
// With SPROX_CLOCK_LOG set (to anything) every frame also prints one line,
// kClockLine: when the clock was read (steady clock, ns), the playback offset
// the frame is drawn at and the mixer's offset, both in sample frames. Tests
// compare it with what a sound server reports; stdout is line-buffered, so
// the line costs one formatted write and no allocation.
//
// Threads: main thread only.
#include "demo/demo.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "gfx/gfx.h"
#include "gfx/gl.h"

namespace {
constexpr const char* kClockLogEnvironment = "SPROX_CLOCK_LOG";
constexpr const char* kClockLine = "clock: %lld %llu %llu\n";  // steady ns, playback offset, mixer offset
}  // namespace

int main() {
  // Whole lines reach a log file even when the show is killed; every line is
  // printed at start-up, so this costs the frame loop nothing.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  const bool clocklog = std::getenv(kClockLogEnvironment) != nullptr;
  Demo_Startup(true);
  while (!glfwWindowShouldClose(GFX_window)) {
    // The audible position, low 32 bits as a signed offset in sample frames;
    // the copy is taken under the mixer's lock, which advances the original.
    const s_sound music = Soundsystem_CopySound(&snd_demomusic);
    const uint64_t position = Soundsystem_GetPlaybackOffset(music);
    if (clocklog) {
      const auto now = std::chrono::steady_clock::now().time_since_epoch();
      std::printf(kClockLine, static_cast<long long>(std::chrono::nanoseconds(now).count()),
                  static_cast<unsigned long long>(position),
                  static_cast<unsigned long long>(Soundsystem_GetSoundOffset(music)));
    }
    const int32_t offset = static_cast<int32_t>(static_cast<uint32_t>(position));
    Demo_RenderFrame(offset);
    GFX_SwapBuffers();
  }
  // Nothing else is released: the sound driver stops its own device thread
  // at exit, and the process exit reclaims the rest.
  glfwTerminate();
  return 0;
}
