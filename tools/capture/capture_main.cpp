// sprox-capture: renders the show on a fixed clock and writes what the window
// shows: PNG frames, an MP4 with the music, a contact sheet, a frame log and a
// timing report.
//
// The order of work, one step each in main: the command line is checked
// first, then everything that can fail without the engine (the display,
// ffmpeg, the font, the output folders, where the data is), so that a mistake
// costs no start-up. Then the engine starts (its lines go to standard output;
// data that cannot be mounted ends the run there, before the window opens),
// the range is resolved against the loaded timeline, the encoder starts, the
// frames are rendered in order, each read back and handed to the outputs
// before it is presented, then the contact sheet's points are rendered, the
// outputs are finished, and last the report is printed under its own
// heading. Progress goes to standard error.
//
// Exit status: 0 done; 1 a failure at run time; 2 a bad command line;
// 130 interrupted (Ctrl-C, or the window closed), outputs finished so far kept.
// On a failure no output is left half written: a frame, the sheet or the log
// whose write failed is removed, and so is the video (it would hold part of
// the range); the frames written before stay, each complete.
//
// Standard output: a closed one is opened on /dev/null before anything else
// (so no file of ours can take its descriptor), and SIGPIPE is ignored: when
// nobody reads standard output the capture goes on without it and still
// writes its files.
//
// Threads: main thread only; the interrupt handler only sets a flag.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
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
constexpr int kReasonCapacity = 256;       // a reason that goes inside a message
constexpr int kBarWidth = 30;              // characters of the progress bar
constexpr double kProgressInterval = 0.2;  // seconds between redraws on a terminal
constexpr int kExitFailure = 1;
constexpr int kExitInterrupted = 130;

constexpr const char* kMsgNoSuchFfmpeg = "--ffmpeg %s: no such program";
constexpr const char* kMsgNoCwd = "cannot tell the current folder";
constexpr const char* kMsgFolderMissing = "--%s %s: the folder %s does not exist";
constexpr const char* kMsgFolderUnusable = "--%s %s: the folder %s cannot be used: %s";
constexpr const char* kMsgNotAFolder = "--%s %s: %s is not a folder";
constexpr const char* kMsgFolderUnwritable = "--%s %s: the folder %s cannot be written: %s";
constexpr const char* kMsgIsAFolder = "--%s %s is a folder, not a file";
constexpr const char* kMsgCannotMakeFolder = "--png: cannot make the folder %s: %s";
constexpr const char* kMsgPngUnwritable = "--png: the folder %s cannot be written: %s";
constexpr const char* kMsgNoEvents = "--sheet: the timeline holds no event";
constexpr const char* kMsgNoTemporary = "cannot make a temporary file for the music (is TMPDIR writable?)";
constexpr const char* kMsgSilentVideo = "%s: %s; the video will be silent\n";
constexpr const char* kMsgLongCommand = "the ffmpeg command line is too long (shorter paths, please)";
constexpr const char* kMsgEncoderFailed = "--mp4 %s: %s";
constexpr const char* kMsgUnreadableWindow = "--check-window: the window's picture cannot be read back from X";
constexpr const char* kMsgWindowDiffers = "--check-window: frame %lld differs from the window in %lld pixels";
constexpr const char* kMsgWindowChecked = "%s: window check: %lld frames, each identical to the window\n";
constexpr const char* kMsgInterrupted = "%s: interrupted after %lld frames\n";
constexpr const char* kMsgNoDisplay =
    "no X display: DISPLAY is unset. The capture renders in a real window; without a screen run it as\n"
    "  xvfb-run -a -s '-screen 0 1280x720x24' ./sprox-capture ...";
constexpr const char* kMsgNoFfmpeg =
    "--mp4 needs ffmpeg, which is not on PATH (install the ffmpeg package, or give --ffmpeg PATH)";
constexpr const char* kMsgEncoderStopped =
    "--mp4 %s: ffmpeg stopped taking frames at frame %lld (%s; ffmpeg's own lines above say why)";

using Clock = std::chrono::steady_clock;

// ---- Types -------------------------------------------------------------------------------
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

// Everything one run holds, from the command line to the report; each step
// of main fills in its part for the steps after it.
struct s_capturerun {
  s_captureoptions options;
  // The outputs and tools, made absolute as the messages name them.
  std::string pngdir, mp4path, sheetpath, logpath, tmpdir, ffmpegpath;
  s_capturefont font;
  // The engine and the frames asked of it.
  Clock::time_point enginestart;
  double engine_ms;
  s_capturetimeline timeline;
  bool wantframes;       // a frame output, the report or the window check: the range is rendered
  s_capturerange range;
  int32_t sheetrows;     // events on the contact sheet (0 without --sheet)
  s_capturevideo video;
  // Buffers, all taken before the first frame.
  std::vector<uint8_t> rgb, bottomup, thumbscratch, sheetpixels;
  s_captureimage frameimage;
  s_captureimage sheet;
  std::vector<s_captureframe> frames;
  s_progress progress;
  // What rendering did.
  double startup_ms, readback_ms, output_ms;  // milliseconds
  int64_t rendered, windowchecked;            // frames
  bool failed, interrupted;
  char message[kMessageCapacity];             // the failure's reason
};

// ---- Globals ---------------------------------------------------------------------------
const Clock::time_point g_launch = Clock::now();  // taken before main runs
volatile sig_atomic_t g_interrupted = 0;          // set by SIGINT or SIGTERM

// Files this run made that must not outlive it.
std::string g_tempwav;   // the music copied out of the image
std::string g_partialmp4;  // the video while it is not known to be whole: removed on a failure

// ---- Internal functions -------------------------------------------------------------
void on_interrupt(int) { g_interrupted = 1; }

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
  if (!g_partialmp4.empty()) capture_removepartial(g_partialmp4.c_str());
  capturesource_stop();
  exit(status);
}

[[noreturn]] void dief(const char* format, ...) __attribute__((format(printf, 1, 2)));
void dief(const char* format, ...) {
  char message[kMessageCapacity];
  va_list args;
  va_start(args, format);
  core_vfail(message, sizeof(message), format, args);
  va_end(args);
  die(kExitFailure, message);
}

// SIGPIPE is ignored for readers of standard output that went away, and for
// a dead encoder, which then shows as a failed write; closed descriptors 0
// to 2 are opened on /dev/null (core_keepstdio), so that no file of ours
// takes standard output's place.
void keep_standard_streams() {
  core_keepstdio();
  signal(SIGPIPE, SIG_IGN);
}

// An output path made absolute, as the messages name it.
std::string absolute(const char* path) {
  if (!path) return std::string();
  if (path[0] == '/') return path;
  char cwd[4096];
  if (!getcwd(cwd, sizeof(cwd))) die(kExitFailure, kMsgNoCwd);
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

// The file an option names must be writable in a folder that exists; each
// refusal names its real cause.
void check_writable_parent(const char* option, const std::string& path) {
  const std::string parent = parent_of(path);
  struct stat info;
  if (stat(parent.c_str(), &info) != 0) {
    if (errno == ENOENT) dief(kMsgFolderMissing, option, path.c_str(), parent.c_str());
    dief(kMsgFolderUnusable, option, path.c_str(), parent.c_str(), strerror(errno));
  }
  if (!S_ISDIR(info.st_mode)) dief(kMsgNotAFolder, option, path.c_str(), parent.c_str());
  if (access(parent.c_str(), W_OK) != 0)
    dief(kMsgFolderUnwritable, option, path.c_str(), parent.c_str(), strerror(errno));
  if (is_dir(path)) dief(kMsgIsAFolder, option, path.c_str());
}

// Makes the folder and the folders above it; the reason of a refusal is
// mkdir's own (taken before anything else can change errno).
void make_folder(const std::string& path) {
  size_t at = 0;
  while (at != std::string::npos) {
    at = path.find('/', at + 1);
    const std::string partial = path.substr(0, at);
    if (partial.empty() || is_dir(partial) || mkdir(partial.c_str(), 0777) == 0) continue;
    const int cause = errno;
    if (!is_dir(partial)) dief(kMsgCannotMakeFolder, partial.c_str(), strerror(cause));  // not made by a rival either
  }
  if (access(path.c_str(), W_OK) != 0) dief(kMsgPngUnwritable, path.c_str(), strerror(errno));
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

// ---- The steps of a run, in order ------------------------------------------------------------
// Reads the command line. Returns -1 to go on, else the exit status (the
// usage after --help, or the one answer to a mistake).
int read_command_line(int argc, char** argv, s_capturerun* run) {
  if (!capture_parseoptions(argc, argv, &run->options, run->message, sizeof(run->message)))
    return core_refuseoption(CAPTURE_PROGRAM, run->message);
  if (run->options.help) {
    capture_printusage(stdout);
    return 0;
  }
  return -1;
}

// Everything that can fail before the engine starts: the display, the
// encoder, the font, the output folders and where the data is.
void check_outside_world(s_capturerun* run) {
  const s_captureoptions& options = run->options;
  const char* display = getenv("DISPLAY");
  if (!display || !*display) die(kExitFailure, kMsgNoDisplay);

  char ffmpeg[4096] = "";
  if (options.mp4 && !capture_findprogram(options.ffmpeg ? options.ffmpeg : "ffmpeg", ffmpeg, sizeof(ffmpeg))) {
    if (options.ffmpeg) dief(kMsgNoSuchFfmpeg, options.ffmpeg);
    die(kExitFailure, kMsgNoFfmpeg);
  }
  run->ffmpegpath = absolute(options.mp4 ? ffmpeg : nullptr);

  if (options.sheet && !capture_openfont(&run->font, CAPTURE_FONT, CAPTURE_LABEL_PIXELS, run->message,
                                         sizeof(run->message)))
    die(kExitFailure, run->message);

  run->pngdir = absolute(options.png);
  run->mp4path = absolute(options.mp4);
  run->sheetpath = absolute(options.sheet);
  run->logpath = absolute(options.log);
  if (options.png) make_folder(run->pngdir);
  if (options.mp4) check_writable_parent("mp4", run->mp4path);
  if (options.sheet) check_writable_parent("sheet", run->sheetpath);
  if (options.log) check_writable_parent("log", run->logpath);
  run->tmpdir = temporary_folder();
  find_data(options.data);
}

// The engine's start-up (it ends the run itself when the data cannot be
// mounted), then the timeline it loaded.
void start_engine(s_capturerun* run) {
  signal(SIGINT, on_interrupt);
  signal(SIGTERM, on_interrupt);
  run->enginestart = Clock::now();
  if (!capturesource_start(run->options.width, run->options.height, run->options.sizegiven, run->message,
                           sizeof(run->message)))
    die(kExitFailure, run->message);
  run->engine_ms = ms_since(run->enginestart);
  fflush(stdout);
  capturesource_timeline(&run->timeline);
}

// The frames the options ask for, and the sheet's rows, on the loaded timeline.
void resolve_range(s_capturerun* run) {
  const s_captureoptions& options = run->options;
  run->wantframes = options.png || options.mp4 || options.report || options.log || options.checkwindow;
  run->range = s_capturerange{0, 0};
  if (run->wantframes &&
      !capture_resolverange(&options, &run->timeline, &run->range, run->message, sizeof(run->message)))
    die(kExitFailure, run->message);
  run->sheetrows = options.sheet ? capture_showevents(&run->timeline) : 0;
  if (options.sheet && run->sheetrows == 0) die(kExitFailure, kMsgNoEvents);
}

// The music for the video, copied out of the image: a file only while the
// encoder needs it. Returns its path, or "" for a silent video (said why).
std::string extract_music(s_capturerun* run) {
  if (!capturesource_hasmusic(run->message, sizeof(run->message))) {
    fprintf(stderr, kMsgSilentVideo, CAPTURE_PROGRAM, run->message);
    return std::string();
  }
  std::vector<char> wavpath = temporary_name(run->tmpdir, "sprox-capture-music-XXXXXX.wav");
  const int fd = mkstemps(wavpath.data(), 4);
  if (fd < 0) die(kExitFailure, kMsgNoTemporary);
  close(fd);
  g_tempwav = wavpath.data();
  if (!capture_extractfile(DEMO_MUSICNAME, wavpath.data(), run->message, sizeof(run->message))) {
    fprintf(stderr, kMsgSilentVideo, CAPTURE_PROGRAM, run->message);
    remove_temporaries();
    return std::string();
  }
  return g_tempwav;
}

// Starts the encoder for --mp4.
void open_video(s_capturerun* run) {
  const s_captureoptions& options = run->options;
  run->video = s_capturevideo{};
  if (!options.mp4) return;
  const std::string music = extract_music(run);
  static char command[16384];
  if (!capture_ffmpegcommand(command, sizeof(command), run->ffmpegpath.c_str(), music.empty() ? nullptr : music.c_str(),
                             run->mp4path.c_str(), options.fps, options.width, options.height,
                             capture_frameoffset(run->range.first, options.fps),
                             capture_frameoffset(run->range.end, options.fps)))
    die(kExitFailure, kMsgLongCommand);
  // The encoder gets a session of its own: Ctrl-C on the terminal then
  // stops only the capture, which closes the pipe, and ffmpeg finishes a
  // playable video of the frames so far.
  char setsid[4096];
  std::string launch = command;
  if (capture_findprogram("setsid", setsid, sizeof(setsid))) launch = "exec setsid " + launch;
  if (!capture_openvideo(&run->video, launch.c_str(), run->message, sizeof(run->message)))
    die(kExitFailure, run->message);
  g_partialmp4 = run->mp4path;
}

// Every buffer of the rendering, taken before the first frame.
void take_buffers(s_capturerun* run) {
  const s_captureoptions& options = run->options;
  const size_t framebytes = static_cast<size_t>(options.width) * options.height * 3;
  run->rgb.resize(framebytes);
  run->bottomup.resize(framebytes);
  run->frameimage = s_captureimage{options.width, options.height, run->rgb.data()};
  run->frames.resize(static_cast<size_t>(run->wantframes ? run->range.end - run->range.first : 0));
  run->thumbscratch.resize(static_cast<size_t>(CAPTURE_THUMB_WIDTH) * CAPTURE_THUMB_HEIGHT * 3);
  run->sheet = s_captureimage{0, 0, nullptr};
  if (options.sheet) {
    capture_sheetsize(run->sheetrows, &run->sheet.width, &run->sheet.height);
    run->sheetpixels.resize(static_cast<size_t>(run->sheet.width) * run->sheet.height * 3);
    run->sheet.pixels = run->sheetpixels.data();
    capture_clearsheet(&run->sheet);
  }

  s_progress& progress = run->progress;
  progress = s_progress{};
  progress.enabled = !options.quiet;
  progress.terminal = isatty(STDERR_FILENO);
  progress.total =
      static_cast<int64_t>(run->frames.size()) + static_cast<int64_t>(run->sheetrows) * CAPTURE_SHEET_POINTS;
  progress.start = progress.lastdraw = Clock::now();

  run->startup_ms = -1.0;
  run->readback_ms = run->output_ms = 0.0;
  run->rendered = run->windowchecked = 0;
  run->failed = run->interrupted = false;
}

// Reads frame n back and hands it to the PNG folder and the encoder. Returns
// false with the reason in run->message when an output refused it.
bool write_frame(s_capturerun* run, int64_t n) {
  const s_captureoptions& options = run->options;
  const Clock::time_point readstart = Clock::now();
  capturesource_read(run->rgb.data(), run->bottomup.data());
  run->readback_ms += ms_since(readstart);
  const Clock::time_point outstart = Clock::now();
  if (options.png) {
    char pngname[64];
    snprintf(pngname, sizeof(pngname), CAPTURE_PNG_PATTERN, static_cast<long long>(n));
    if (!capture_writepng((run->pngdir + "/" + pngname).c_str(), &run->frameimage, run->message,
                          sizeof(run->message)))
      return false;
  }
  if (options.mp4 && !capture_writevideo(&run->video, &run->frameimage)) {
    // The encoder's exit status, and its own lines above, say why it stopped.
    char status[kReasonCapacity];
    capture_closevideo(&run->video, status, sizeof(status));
    snprintf(run->message, sizeof(run->message), kMsgEncoderStopped, run->mp4path.c_str(), static_cast<long long>(n),
             status);
    return false;
  }
  run->output_ms += ms_since(outstart);
  return true;
}

// After frame n was presented: compares it with the window as X shows it.
bool check_window(s_capturerun* run, int64_t n) {
  const int64_t differing = capturesource_windowdiffers(run->rgb.data());
  if (differing < 0) {
    snprintf(run->message, sizeof(run->message), "%s", kMsgUnreadableWindow);
    return false;
  }
  if (differing > 0) {
    snprintf(run->message, sizeof(run->message), kMsgWindowDiffers, static_cast<long long>(n),
             static_cast<long long>(differing));
    return false;
  }
  ++run->windowchecked;
  return true;
}

// The frames of the range, in order; stops at the first failure or interruption.
void render_frames(s_capturerun* run) {
  const s_captureoptions& options = run->options;
  for (int64_t n = run->range.first; run->wantframes && n < run->range.end; ++n) {
    if (g_interrupted) {
      run->interrupted = true;
      return;
    }
    s_captureframe& record = run->frames[static_cast<size_t>(n - run->range.first)];
    capturesource_render(n, static_cast<int32_t>(capture_frameoffset(n, options.fps)),
                         capture_frameclock(n, options.fps), &record);
    if (run->startup_ms < 0) run->startup_ms = ms_since(g_launch);
    ++run->rendered;
    if ((options.png || options.mp4 || options.checkwindow) && !write_frame(run, n)) {
      run->failed = true;
      return;
    }
    progress_step(&run->progress);
    if (!capturesource_present()) {
      run->interrupted = true;
      return;
    }
    if (options.checkwindow && !check_window(run, n)) {
      run->failed = true;
      return;
    }
  }
}

// The contact sheet's points, each rendered at its own offset into its cell.
void render_sheet(s_capturerun* run) {
  for (int32_t row = 0; row < run->sheetrows && !run->failed && !run->interrupted; ++row) {
    for (int32_t point = 0; point < CAPTURE_SHEET_POINTS; ++point) {
      if (g_interrupted) {
        run->interrupted = true;
        return;
      }
      const int64_t offset = capture_sheetpoint(&run->timeline, row, point);
      s_captureframe record;
      capturesource_render(-1, static_cast<int32_t>(offset), static_cast<double>(offset) / AUDIO_DEVICE_RATE,
                           &record);
      if (run->startup_ms < 0) run->startup_ms = ms_since(g_launch);
      capturesource_read(run->rgb.data(), run->bottomup.data());
      char label[96];
      capture_sheetlabel(label, sizeof(label), record.event, record.state, record.tick);
      capture_placethumbnail(&run->sheet, &run->font, row, point, &run->frameimage, run->thumbscratch.data(), label);
      progress_step(&run->progress);
      if (!capturesource_present()) {
        run->interrupted = true;
        return;
      }
    }
  }
}

// Finishes the outputs, also after an interruption (what was done is kept):
// the video, the sheet, the log. The first failure's reason is the one said.
void finish_outputs(s_capturerun* run) {
  const s_captureoptions& options = run->options;
  progress_break(&run->progress);
  char closemessage[kMessageCapacity] = "";
  if (run->video.pipe && !capture_closevideo(&run->video, closemessage, sizeof(closemessage)) && !run->failed &&
      !run->interrupted) {
    snprintf(run->message, sizeof(run->message), kMsgEncoderFailed, run->mp4path.c_str(), closemessage);
    run->failed = true;
  }
  if (!run->failed) g_partialmp4.clear();  // whole, or what an interruption left: kept
  remove_temporaries();
  if (options.sheet && !run->failed && !run->interrupted &&
      !capture_writepng(run->sheetpath.c_str(), &run->sheet, run->message, sizeof(run->message)))
    run->failed = true;
  capture_closefont(&run->font);
  if (options.log &&
      !capture_writelog(run->logpath.c_str(), run->frames.data(), run->rendered, closemessage, sizeof(closemessage))) {
    if (!run->failed) snprintf(run->message, sizeof(run->message), "%s", closemessage);
    run->failed = true;
  }
}

// The timing report on standard output, after the engine's lines.
void print_report(const s_capturerun* run) {
  if (!run->options.report) return;
  s_capturereport report{};
  report.fps = run->options.fps;
  report.range = run->range;
  report.frames = run->frames.data();
  report.numframes = run->rendered;
  report.startup_ms = run->startup_ms < 0 ? 0.0 : run->startup_ms;
  report.engine_ms = run->engine_ms;
  report.wall_ms = ms_since(g_launch);
  report.readback_ms = run->readback_ms;
  report.output_ms = run->output_ms;
  report.launch_ms = std::chrono::duration<double, std::milli>(run->enginestart - g_launch).count();
  capturetiming_startup(report.step_ms);
  report.passtimer = capturetiming_timed();
  capture_writereport(stdout, &report);
}

// Stops the engine and says how the run ended; returns the exit status.
int conclude(s_capturerun* run) {
  fflush(stdout);
  capturesource_stop();
  if (run->options.checkwindow && run->windowchecked > 0)
    fprintf(stderr, kMsgWindowChecked, CAPTURE_PROGRAM, static_cast<long long>(run->windowchecked));
  if (run->failed) die(kExitFailure, run->message);
  if (run->interrupted) {
    fprintf(stderr, kMsgInterrupted, CAPTURE_PROGRAM, static_cast<long long>(run->rendered));
    return kExitInterrupted;
  }
  return 0;
}

}  // namespace

// ---- Entry point --------------------------------------------------------------------
int main(int argc, char** argv) {
  keep_standard_streams();
  s_capturerun run{};
  const int answered = read_command_line(argc, argv, &run);
  if (answered >= 0) return answered;
  check_outside_world(&run);
  start_engine(&run);
  resolve_range(&run);
  open_video(&run);
  take_buffers(&run);
  render_frames(&run);
  render_sheet(&run);
  finish_outputs(&run);
  print_report(&run);
  return conclude(&run);
}
