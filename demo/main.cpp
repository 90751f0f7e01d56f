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
// `sprox --dev DIR` plays the show from the folder DIR with live reload and
// debug mode on (demo/dev.h).
//
// Threads: main thread only.
#include "demo/demo.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "corefile/corefile.h"
#include "demo/dev.h"

#include "gfx/gfx.h"
#include "gfx/gl.h"

namespace {
constexpr const char* kClockLogEnvironment = "SPROX_CLOCK_LOG";
constexpr const char* kClockLine = "clock: %lld %llu %llu\n";  // steady ns, playback offset, mixer offset
}  // namespace

int main(int argc, char** argv) {
  // Whole lines reach a log file even when the show is killed; every line is
  // printed at start-up, so this costs the frame loop nothing.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  const bool clocklog = std::getenv(kClockLogEnvironment) != nullptr;
  if (argc > 1 && std::strcmp(argv[1], "--dev") == 0) {
    if (argc < 3) {
      std::fprintf(stderr, "usage: sprox [--dev DIR]\n");
      return 2;
    }
    if (!Dev_Start(argv[2])) return 1;
    // Until the command line takes the data's place into the start-up, its
    // mount of the image is looked for inside the folder, where there is
    // none, and the folder's mount stays in force.
    std::snprintf(corefile_pathname, sizeof corefile_pathname, "%s/", argv[2]);
  }
  Demo_Startup(true);
  while (!glfwWindowShouldClose(GFX_window)) {
    Dev_Frame();
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
