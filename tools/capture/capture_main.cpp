// sprox-capture: renders the show on a fixed clock and writes what the window
// shows: PNG frames, an MP4 with the music, a contact sheet, a frame log and a
// timing report.
//
// The order of work: the command line is checked first, then everything that
// can fail without the engine (the display, ffmpeg, the font, the output
// folders, the resource image), so that a mistake costs no start-up. Then the
// engine starts (its lines go to standard output), the range is resolved
// against the loaded timeline, the frames are rendered in order, each read
// back and handed to the outputs before it is presented, then the contact
// sheet's points are rendered, and last the report is printed under its own
// heading. Progress goes to standard error.
//
// Exit status: 0 done; 1 a failure at run time; 2 a bad command line;
// 130 interrupted (Ctrl-C, or the window closed), outputs finished so far kept.
//
// Threads: main thread only; the interrupt handler only sets a flag.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/core.h"
#include "tools/capture/capture.h"
#include "tools/capture/capture_source.h"
#include "tools/capture/capture_timing.h"

// ---- Constants ---------------------------------------------------------------------
namespace {

constexpr int kMessageCapacity = 1024;
constexpr int kBarWidth = 30;              // characters of the progress bar
constexpr double kProgressInterval = 0.2;  // seconds between redraws on a terminal
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

using Clock = std::chrono::steady_clock;

// ---- Globals ---------------------------------------------------------------------------
const Clock::time_point g_launch = Clock::now();  // taken before main runs
volatile sig_atomic_t g_interrupted = 0;          // set by SIGINT or SIGTERM

// Files this run made that must not outlive it.
std::string g_tempwav;   // the music copied out of the image

// ---- Internal functions -------------------------------------------------------------
void on_interrupt(int) { g_interrupted = 1; }

// True when --size asked for pictures of their own size: they are then
// rendered into a framebuffer of that size rather than read from the window.
bool sizesgiven(const s_captureoptions& options) { return options.sizegiven; }

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void remove_temporaries() {
  if (!g_tempwav.empty()) unlink(g_tempwav.c_str());
  g_tempwav.clear();
}

[[noreturn]] void die(int status, const char* message) {
  fflush(stdout);
  fprintf(stderr, "%s: %s\n", CAPTURE_PROGRAM, message);
  remove_temporaries();
  capturesource_stop();
  exit(status);
}

// An output path made absolute, as the messages name it.
std::string absolute(const char* path) {
  if (!path) return std::string();
  if (path[0] == '/') return path;
  char cwd[4096];
  if (!getcwd(cwd, sizeof(cwd))) die(kExitFailure, "cannot tell the current folder");
  return std::string(cwd) + "/" + path;
}

std::string parent_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool is_dir(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}


void check_writable_parent(const char* option, const std::string& path) {
  char message[kMessageCapacity];
  const std::string parent = parent_of(path);
  if (!is_dir(parent) || access(parent.c_str(), W_OK) != 0) {
    snprintf(message, sizeof(message), "--%s %s: the folder %s does not exist or cannot be written", option,
             path.c_str(), parent.c_str());
    die(kExitFailure, message);
  }
  if (is_dir(path)) {
    snprintf(message, sizeof(message), "--%s %s is a folder, not a file", option, path.c_str());
    die(kExitFailure, message);
  }
}

void make_folder(const std::string& path) {
  std::string partial;
  size_t at = 0;
  while (at != std::string::npos) {
    at = path.find('/', at + 1);
    partial = path.substr(0, at);
    if (!partial.empty() && !is_dir(partial) && mkdir(partial.c_str(), 0777) != 0 && !is_dir(partial)) {
      char message[kMessageCapacity];
      snprintf(message, sizeof(message), "--png: cannot make the folder %s: %s", partial.c_str(), strerror(errno));
      die(kExitFailure, message);
    }
  }
  if (access(path.c_str(), W_OK) != 0) {
    char message[kMessageCapacity];
    snprintf(message, sizeof(message), "--png: the folder %s cannot be written", path.c_str());
    die(kExitFailure, message);
  }
}

// The folder for temporary files: $TMPDIR (or /tmp), made absolute.
std::string temporary_folder() {
  const char* dir = getenv("TMPDIR");
  return absolute(dir && *dir ? dir : "/tmp");
}

// A mkstemp pattern in the temporary folder.
std::vector<char> temporary_name(const std::string& folder, const char* pattern) {
  const std::string path = folder + "/" + pattern;
  return std::vector<char>(path.c_str(), path.c_str() + path.size() + 1);
}

// Finds the data as sprox does and hands it to the engine's start-up.
void find_data(const char* data) {
  char message[kMessageCapacity];
  char executable[DEMO_PATH_CAPACITY];
  Demo_ExecutablePath(executable, sizeof(executable));
  s_demodata found;
  if (!Demo_FindData(data, executable, &found, message, sizeof(message))) die(kExitFailure, message);
  Demo_UseData(&found);
}

// The progress line on standard error: redrawn in place on a terminal, one
// line every tenth of the work otherwise (logs stay short).
struct s_progress {
  bool enabled;               // --quiet not given
  bool terminal;              // standard error is a terminal
  int64_t total;              // frames to render, sheet points included
  int64_t done;               // frames rendered
  int32_t lastdecile;         // last tenth reported (not a terminal)
  Clock::time_point start;    // when rendering began
  Clock::time_point lastdraw; // last redraw (terminal)
};

void progress_step(s_progress* progress) {
  ++progress->done;
  if (!progress->enabled) return;
  const Clock::time_point now = Clock::now();
  const double elapsed = std::chrono::duration<double>(now - progress->start).count();
  char line[256];
  if (progress->terminal) {
    const bool last = progress->done >= progress->total;
    if (!last && std::chrono::duration<double>(now - progress->lastdraw).count() < kProgressInterval) return;
    progress->lastdraw = now;
    capture_formatprogress(line, sizeof(line), progress->done, progress->total, elapsed, kBarWidth);
    fprintf(stderr, "\r%s%s", line, last ? "\n" : "");
  } else {
    const int32_t decile = static_cast<int32_t>(progress->done * 10 / std::max<int64_t>(progress->total, 1));
    if (decile == progress->lastdecile) return;
    progress->lastdecile = decile;
    capture_formatprogress(line, sizeof(line), progress->done, progress->total, elapsed, kBarWidth);
    fprintf(stderr, "%s\n", line);
  }
  fflush(stderr);
}

void progress_break(s_progress* progress) {
  if (progress->enabled && progress->terminal && progress->done < progress->total) fprintf(stderr, "\n");
}

}  // namespace

// ---- Entry point --------------------------------------------------------------------
int main(int argc, char** argv) {
  core_keepstdio();  // with standard output closed, a frame file could take its place
  char message[kMessageCapacity];
  s_captureoptions options;
  if (!capture_parseoptions(argc, argv, &options, message, sizeof(message))) {
    fprintf(stderr, "%s: %s\nTry '%s --help'.\n", CAPTURE_PROGRAM, message, CAPTURE_PROGRAM);
    return kExitUsage;
  }
  if (options.help) {
    capture_printusage(stdout);
    return 0;
  }

  // ---- Everything that can fail before the engine starts.
  const char* display = getenv("DISPLAY");
  if (!display || !*display)
    die(kExitFailure,
        "no X display: DISPLAY is unset. The capture renders in a real window; without a screen run it as\n"
        "  xvfb-run -a -s '-screen 0 1280x720x24' ./sprox-capture ...");

  char ffmpeg[4096] = "";
  if (options.mp4 && !capture_findprogram(options.ffmpeg ? options.ffmpeg : "ffmpeg", ffmpeg, sizeof(ffmpeg))) {
    if (options.ffmpeg)
      snprintf(message, sizeof(message), "--ffmpeg %s: no such program", options.ffmpeg);
    else
      snprintf(message, sizeof(message),
               "--mp4 needs ffmpeg, which is not on PATH (install the ffmpeg package, or give --ffmpeg PATH)");
    die(kExitFailure, message);
  }
  const std::string ffmpegpath = absolute(options.mp4 ? ffmpeg : nullptr);

  s_capturefont font{};
  if (options.sheet && !capture_openfont(&font, CAPTURE_FONT, CAPTURE_LABEL_PIXELS, message, sizeof(message)))
    die(kExitFailure, message);

  const std::string pngdir = absolute(options.png);
  const std::string mp4path = absolute(options.mp4);
  const std::string sheetpath = absolute(options.sheet);
  const std::string logpath = absolute(options.log);
  if (options.png) make_folder(pngdir);
  if (options.mp4) check_writable_parent("mp4", mp4path);
  if (options.sheet) check_writable_parent("sheet", sheetpath);
  if (options.log) check_writable_parent("log", logpath);
  const std::string tmpdir = temporary_folder();
  find_data(options.data);

  signal(SIGPIPE, SIG_IGN);  // a dead encoder shows as a failed write
  signal(SIGINT, on_interrupt);
  signal(SIGTERM, on_interrupt);

  // ---- The engine.
  const Clock::time_point enginestart = Clock::now();
  if (!capturesource_start(options.width, options.height, sizesgiven(options), message, sizeof(message)))
    die(kExitFailure, message);
  const double engine_ms = ms_since(enginestart);
  fflush(stdout);

  s_capturetimeline timeline;
  capturesource_timeline(&timeline);

  const bool wantframes = options.png || options.mp4 || options.report || options.log || options.checkwindow;
  s_capturerange range{0, 0};
  if (wantframes && !capture_resolverange(&options, &timeline, &range, message, sizeof(message)))
    die(kExitFailure, message);
  const int32_t sheetrows = options.sheet ? capture_showevents(&timeline) : 0;
  if (options.sheet && sheetrows == 0) die(kExitFailure, "--sheet: the timeline holds no event");

  // ---- Outputs that need the engine's mount: the music for the video.
  s_capturevideo video{};
  if (options.mp4) {
    std::vector<char> wavpath = temporary_name(tmpdir, "sprox-capture-music-XXXXXX.wav");
    const int fd = mkstemps(wavpath.data(), 4);
    if (fd < 0) die(kExitFailure, "cannot make a temporary file for the music (is TMPDIR writable?)");
    close(fd);
    g_tempwav = wavpath.data();
    const bool music = capture_extractfile(DEMO_MUSICNAME, wavpath.data(), message, sizeof(message));
    if (!music) {
      fprintf(stderr, "%s: %s; the video will be silent\n", CAPTURE_PROGRAM, message);
      unlink(wavpath.data());
      g_tempwav.clear();
    }
    static char command[16384];
    if (!capture_ffmpegcommand(command, sizeof(command), ffmpegpath.c_str(), music ? wavpath.data() : nullptr, mp4path.c_str(),
                               options.fps, options.width, options.height, capture_frameoffset(range.first, options.fps),
                               capture_frameoffset(range.end, options.fps)))
      die(kExitFailure, "the ffmpeg command line is too long (shorter paths, please)");
    // The encoder gets a session of its own: Ctrl-C on the terminal then
    // stops only the capture, which closes the pipe, and ffmpeg finishes a
    // playable video of the frames so far.
    char setsid[4096];
    std::string launch = command;
    if (capture_findprogram("setsid", setsid, sizeof(setsid))) launch = "exec setsid " + launch;
    if (!capture_openvideo(&video, launch.c_str(), message, sizeof(message))) die(kExitFailure, message);
  }

  // ---- Buffers, all taken before the first frame.
  const size_t framebytes = static_cast<size_t>(options.width) * options.height * 3;
  std::vector<uint8_t> rgb(framebytes), bottomup(framebytes);
  s_captureimage frameimage{options.width, options.height, rgb.data()};
  std::vector<s_captureframe> frames(static_cast<size_t>(wantframes ? range.end - range.first : 0));
  std::vector<uint8_t> thumbscratch(static_cast<size_t>(CAPTURE_THUMB_WIDTH) * CAPTURE_THUMB_HEIGHT * 3);
  s_captureimage sheet{0, 0, nullptr};
  std::vector<uint8_t> sheetpixels;
  if (options.sheet) {
    capture_sheetsize(sheetrows, &sheet.width, &sheet.height);
    sheetpixels.resize(static_cast<size_t>(sheet.width) * sheet.height * 3);
    sheet.pixels = sheetpixels.data();
    capture_clearsheet(&sheet);
  }

  s_progress progress{};
  progress.enabled = !options.quiet;
  progress.terminal = isatty(STDERR_FILENO);
  progress.total = static_cast<int64_t>(frames.size()) + static_cast<int64_t>(sheetrows) * CAPTURE_SHEET_POINTS;
  progress.lastdecile = 0;
  progress.start = progress.lastdraw = Clock::now();

  double startup_ms = -1.0, readback_ms = 0.0, output_ms = 0.0;
  int64_t rendered = 0, windowchecked = 0;
  bool failed = false, interrupted = false;
  char pngname[64];

  // ---- The frames, in order.
  for (int64_t n = range.first; wantframes && n < range.end; ++n) {
    if (g_interrupted) {
      interrupted = true;
      break;
    }
    s_captureframe& record = frames[static_cast<size_t>(n - range.first)];
    capturesource_render(n, static_cast<int32_t>(capture_frameoffset(n, options.fps)),
                         capture_frameclock(n, options.fps), &record);
    if (startup_ms < 0) startup_ms = ms_since(g_launch);
    ++rendered;

    if (options.png || options.mp4 || options.checkwindow) {
      const Clock::time_point readstart = Clock::now();
      capturesource_read(rgb.data(), bottomup.data());
      readback_ms += ms_since(readstart);
      const Clock::time_point outstart = Clock::now();
      if (options.png) {
        snprintf(pngname, sizeof(pngname), CAPTURE_PNG_PATTERN, static_cast<long long>(n));
        if (!capture_writepng((pngdir + "/" + pngname).c_str(), &frameimage, message, sizeof(message))) {
          failed = true;
          break;
        }
      }
      if (options.mp4 && !capture_writevideo(&video, &frameimage)) {
        snprintf(message, sizeof(message), "ffmpeg stopped taking frames at frame %lld", static_cast<long long>(n));
        failed = true;
        break;
      }
      output_ms += ms_since(outstart);
    }
    progress_step(&progress);
    if (!capturesource_present()) {
      interrupted = true;
      break;
    }
    if (options.checkwindow) {
      const int64_t differing = capturesource_windowdiffers(rgb.data());
      if (differing != 0) {
        if (differing < 0)
          snprintf(message, sizeof(message), "--check-window: the window's picture cannot be read back from X");
        else
          snprintf(message, sizeof(message), "--check-window: frame %lld differs from the window in %lld pixels",
                   static_cast<long long>(n), static_cast<long long>(differing));
        failed = true;
        break;
      }
      ++windowchecked;
    }
  }

  // ---- The contact sheet's points.
  for (int32_t row = 0; row < sheetrows && !failed && !interrupted; ++row) {
    for (int32_t point = 0; point < CAPTURE_SHEET_POINTS; ++point) {
      if (g_interrupted) {
        interrupted = true;
        break;
      }
      const int64_t offset = capture_sheetpoint(&timeline, row, point);
      s_captureframe record;
      capturesource_render(-1, static_cast<int32_t>(offset), static_cast<double>(offset) / AUDIO_DEVICE_RATE, &record);
      if (startup_ms < 0) startup_ms = ms_since(g_launch);
      capturesource_read(rgb.data(), bottomup.data());
      char label[96];
      capture_sheetlabel(label, sizeof(label), record.event, record.state, record.tick);
      capture_placethumbnail(&sheet, &font, row, point, &frameimage, thumbscratch.data(), label);
      progress_step(&progress);
      if (!capturesource_present()) {
        interrupted = true;
        break;
      }
    }
  }
  progress_break(&progress);

  // ---- Finishing the outputs (also after an interruption: what was done is kept).
  char closemessage[kMessageCapacity] = "";
  if (options.mp4 && !capture_closevideo(&video, closemessage, sizeof(closemessage)) && !failed && !interrupted) {
    snprintf(message, sizeof(message), "--mp4 %s: %s", mp4path.c_str(), closemessage);
    failed = true;
  }
  remove_temporaries();
  if (options.sheet && !failed && !interrupted) {
    if (!capture_writepng(sheetpath.c_str(), &sheet, message, sizeof(message))) failed = true;
  }
  capture_closefont(&font);
  if (options.log && !capture_writelog(logpath.c_str(), frames.data(), rendered, closemessage, sizeof(closemessage))) {
    if (!failed) snprintf(message, sizeof(message), "%s", closemessage);
    failed = true;
  }
  if (options.report) {
    s_capturereport report{};
    report.fps = options.fps;
    report.range = range;
    report.frames = frames.data();
    report.numframes = rendered;
    report.startup_ms = startup_ms < 0 ? 0.0 : startup_ms;
    report.engine_ms = engine_ms;
    report.wall_ms = ms_since(g_launch);
    report.readback_ms = readback_ms;
    report.output_ms = output_ms;
    report.launch_ms = std::chrono::duration<double, std::milli>(enginestart - g_launch).count();
    capturetiming_startup(report.step_ms);
    report.passtimer = capturetiming_timed();
    capture_writereport(stdout, &report);
  }
  fflush(stdout);
  capturesource_stop();

  if (options.checkwindow && windowchecked > 0)
    fprintf(stderr, "%s: window check: %lld frames, each identical to the window\n", CAPTURE_PROGRAM,
            static_cast<long long>(windowchecked));
  if (failed) die(kExitFailure, message);
  if (interrupted) {
    fprintf(stderr, "%s: interrupted after %lld frames\n", CAPTURE_PROGRAM, static_cast<long long>(rendered));
    return kExitInterrupted;
  }
  return 0;
}
