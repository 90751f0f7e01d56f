// demo/main.cpp: the `sprox` entry point. Reads the command line, finds the
// data, starts the show, then draws one frame per display refresh at the
// music's playback position until the window is asked to close (end mark,
// Escape, or the window system). Started without options it is the show's
// fixed start-up: a 1280x720 window and "sprox.dat" from the current folder
// (found elsewhere too, see Demo_FindData).
//
// Exit status: 0 after the show (or --help, --version, --list-monitors); 1
// when no data can be found or mounted, no window opens or no display lists
// monitors; 2 for a bad option. Our errors go to standard error; the
// loaders' progress and failure lines stay on standard output.
//
// A closed pipe on standard output (`sprox | head -3`) does not end the
// show: SIGPIPE is ignored, the writes fail quietly and the show plays on
// to its end with status 0.
//
// With SPROX_CLOCK_LOG set (to anything) every frame also prints one line,
// kClockLine: when the clock was read (steady clock, ns), the playback offset
// the frame is drawn at and the mixer's offset, both in sample frames. Tests
// compare it with what a sound server reports; stdout is line-buffered, so
// the line costs one formatted write and no allocation.
//
// `sprox --still SECONDS FILE.png` writes one frame instead of playing
// (demo/still.cpp): 0 when written, 1 when the frame could not be drawn or
// the file not written.
//
// `sprox --dev DIR` plays the show from the folder DIR with live reload and
// debug mode on (demo/dev.h).
//
// Threads: main thread only.
#include "demo/demo.h"

#include <signal.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "core/core.h"
#include "core/corepath.h"
#include "corefile/corefile.h"
#include "demo/dev.h"
#include "demo/pacing.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"

namespace {
constexpr const char* kClockLogEnvironment = "SPROX_CLOCK_LOG";
constexpr const char* kClockLine = "clock: %lld %llu %llu\n";  // steady ns, playback offset, mixer offset
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kMessageCapacity = DEMO_PATH_CAPACITY * 3;

// Answers the options that need no show; returns -1 when the show should run.
int answer_alone(const s_playeroptions& options) {
  if (options.help) {
    Demo_PrintUsage(stdout);
    return 0;
  }
  if (options.version) {
    printf("%s\n", Demo_Version());
    return 0;
  }
  if (options.listmonitors) {
    const int count = GFX_ListMonitors(stdout);
    glfwTerminate();
    if (count > 0) return 0;
    fprintf(stderr, "sprox: no display, so no monitor to list\n");
    return kExitFailure;
  }
  return -1;
}

// A monitor index beyond the display's is a bad option value: checked before
// any window opens. Returns the display's monitor count when `monitor` is
// beyond it, else 0 (also without a display: the window's own failure says so).
int monitor_missing(int monitor) {
  if (!glfwInit()) return 0;
  int count = 0;
  glfwGetMonitors(&count);
  return monitor < count ? 0 : count > 0 ? count : -1;
}
}  // namespace

int main(int argc, char** argv) {
  core_keepstdio();  // with standard output closed, the X connection would take its place
  // Whole lines reach a log file even when the show is killed; every line is
  // printed at start-up, so this costs the frame loop nothing.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  // A reader that goes away (`sprox | head -3`) ends nothing: the show plays
  // on and its lines are dropped (each write fails with EPIPE).
#ifdef SIGPIPE  // Windows has no such signal: a failed write there only fails
  signal(SIGPIPE, SIG_IGN);
#endif
  // On Windows the narrow argv holds the local code page; the UTF-16 command
  // line, turned into UTF-8, keeps `--data "Démo\sprox.dat"` whole.
  core_utf8commandline(&argc, &argv);

  s_playeroptions options;
  char message[kMessageCapacity];
  if (!Demo_ParseOptions(argc, argv, &options, message, sizeof(message))) return core_refuseoption("sprox", message);
  const int answered = answer_alone(options);
  if (answered >= 0) return answered;
  // F11 goes full screen on the same monitor, so the number counts in a window too.
  if (options.fullscreen || options.monitor > 0) {
    const int count = monitor_missing(options.monitor);
    if (count > 0) {
      fprintf(stderr, "sprox: --monitor %d: there is no such monitor; this display has monitors 0 to %d (see sprox --list-monitors)\n",
              options.monitor, count - 1);
      return kExitUsage;
    }
    if (count < 0) {
      fprintf(stderr, "sprox: --monitor %d: this display lists no monitors\n", options.monitor);
      return kExitFailure;
    }
  }

  s_demodata data;
  if (options.dev) {
    // --dev: the folder's loose files (even beside a sprox.dat in it).
    if (!Demo_CheckDevFolder(options.dev, message, sizeof(message))) {
      fprintf(stderr, "sprox: %s\n", message);
      return kExitFailure;
    }
    data = s_demodata{};
    data.source = DEMO_DATA_OPTION;
    data.kind = COREFILE_KIND_DIRECTORY;
    snprintf(data.path, sizeof(data.path), "%s", options.dev);
  } else {
    char executable[DEMO_PATH_CAPACITY];
    Demo_ExecutablePath(executable, sizeof(executable));
    if (!Demo_FindData(options.data, executable, &data, message, sizeof(message))) {
      fprintf(stderr, "sprox: %s\n", message);
      return kExitFailure;
    }
  }
  Demo_UseData(&data);
  demo_setup.fullscreen = options.fullscreen;
  demo_setup.monitor = options.monitor;
  demo_setup.windowwidth = options.windowwidth;
  demo_setup.windowheight = options.windowheight;
  demo_setup.renderwidth = options.width;
  demo_setup.renderheight = options.height;
  if (options.scale > 0.0f) demo_setup.scale = options.scale;
  if (options.stillfile) return Demo_WriteStill(options.still_us, options.stillfile);
  if (options.mute) audiodriver_selectoutput(AUDIO_OUTPUT_SILENT);

  const bool clocklog = std::getenv(kClockLogEnvironment) != nullptr;
  // --dev: watched, with debug mode on; set up before the start-up loads the shaders.
  if (options.dev && !Dev_Start(options.dev)) return kExitFailure;
  Demo_Startup(true);
  Pacing_Start(options.scale == 0.0f);
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
    // A timeline without an end mark ends with its music.
    if (Demo_MusicOver(music, position)) glfwSetWindowShouldClose(GFX_window, 1);
    Pacing_FrameBegin();
    Demo_RenderFrame(offset);
    Pacing_FrameEnd();
    GFX_SwapBuffers();
    Pacing_Swapped(std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count());
  }
  if (options.stats) Pacing_PrintStats(stdout);
  // Nothing else is released: the sound driver stops its own device thread
  // at exit, and the process exit reclaims the rest.
  glfwTerminate();
  return 0;
}
