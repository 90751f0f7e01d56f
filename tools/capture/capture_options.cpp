// capture_options: the command line of sprox-capture.
//
// Options follow the usual conventions: "--name VALUE" or "--name=VALUE",
// flags without a value, "--help" (or "-h") anywhere wins. Every value is
// checked here, before the engine starts, so that a typo costs no start-up;
// only what needs the loaded timeline (does event N exist, is the range
// inside the show) is checked later by capture_resolverange.
//
// Threads: main thread.
#include "tools/capture/capture.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

// ---- Internal functions -----------------------------------------------------------
namespace {

// A whole non-negative decimal number no larger than limit, else -1.
int64_t parse_count(const char* text, int64_t limit) {
  if (!text || !*text) return -1;
  int64_t value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return -1;
    value = value * 10 + (*p - '0');
    if (value > limit) return -1;
  }
  return value;
}

enum class Kind { Flag, Text, Fps, Seconds, Event, Frame };

struct OptionSpec {
  const char* name;  // without the leading "--"
  Kind kind;
};

constexpr OptionSpec kOptions[] = {
    {"help", Kind::Flag},     {"report", Kind::Flag},  {"quiet", Kind::Flag},   {"fps", Kind::Fps},
    {"from", Kind::Seconds},  {"to", Kind::Seconds},   {"at", Kind::Seconds},   {"event", Kind::Event},
    {"frame", Kind::Frame},   {"png", Kind::Text},     {"mp4", Kind::Text},     {"sheet", Kind::Text},
    {"log", Kind::Text},      {"data", Kind::Text},    {"ffmpeg", Kind::Text},  {"check-window", Kind::Flag},
};

}  // namespace

// ---- Public functions ---------------------------------------------------------------
int capture_fail(char* message, int capacity, const char* format, ...) {
  if (message && capacity > 0) {
    va_list args;
    va_start(args, format);
    vsnprintf(message, static_cast<size_t>(capacity), format, args);
    va_end(args);
  }
  return 0;
}

int64_t capture_parseseconds(const char* text) {
  if (!text || !*text) return -1;
  int64_t minutes = 0;
  const char* p = text;
  const char* colon = strchr(text, ':');
  if (colon) {
    if (colon == text) return -1;
    for (; p < colon; ++p) {
      if (*p < '0' || *p > '9') return -1;
      minutes = minutes * 10 + (*p - '0');
      if (minutes > CAPTURE_MAX_SECONDS / 60) return -1;
    }
    ++p;  // past the colon
    if (!*p) return -1;
  }
  int64_t seconds = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
    seconds = seconds * 10 + (*p - '0');
    if (seconds > CAPTURE_MAX_SECONDS) return -1;
  }
  int64_t fraction = 0;
  int decimals = 0;
  if (*p == '.') {
    ++p;
    for (; *p >= '0' && *p <= '9'; ++p, ++decimals) {
      if (decimals < 6) fraction = fraction * 10 + (*p - '0');
    }
    if (decimals == 0 && digits == 0) return -1;
  } else if (digits == 0) {
    return -1;
  }
  if (*p) return -1;
  if (colon && seconds >= 60) return -1;  // "1:75" is not a time
  for (int d = decimals; d < 6; ++d) fraction *= 10;
  const int64_t total = (minutes * 60 + seconds) * CAPTURE_US + fraction;
  if (total > CAPTURE_MAX_SECONDS * CAPTURE_US) return -1;
  return total;
}

int capture_parseoptions(int argc, const char* const* argv, s_captureoptions* options, char* message,
                         int capacity) {
  *options = s_captureoptions{};
  options->fps = CAPTURE_DEFAULT_FPS;
  options->from_us = options->to_us = options->at_us = -1;
  options->event = -1;
  options->frame = -1;
  if (message && capacity > 0) message[0] = 0;

  // --help anywhere answers on its own, even beside mistakes.
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      options->help = true;
      return 1;
    }
  }

  bool seen[sizeof(kOptions) / sizeof(kOptions[0])] = {};
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (strncmp(arg, "--", 2) != 0 || arg[2] == 0)
      return capture_fail(message, capacity, "unexpected argument '%s'", arg);
    const char* name = arg + 2;
    const char* equals = strchr(name, '=');
    const size_t namelength = equals ? static_cast<size_t>(equals - name) : strlen(name);
    int found = -1;
    for (size_t k = 0; k < sizeof(kOptions) / sizeof(kOptions[0]); ++k) {
      if (strlen(kOptions[k].name) == namelength && !strncmp(kOptions[k].name, name, namelength)) {
        found = static_cast<int>(k);
        break;
      }
    }
    if (found < 0) return capture_fail(message, capacity, "unknown option '%s'", arg);
    const OptionSpec& option = kOptions[found];
    if (seen[found]) return capture_fail(message, capacity, "--%s given twice", option.name);
    seen[found] = true;

    const char* value = nullptr;
    if (option.kind == Kind::Flag) {
      if (equals) return capture_fail(message, capacity, "--%s takes no value", option.name);
    } else if (equals) {
      value = equals + 1;
    } else {
      if (i + 1 >= argc) return capture_fail(message, capacity, "--%s needs a value", option.name);
      value = argv[++i];
    }
    if (value && !*value) return capture_fail(message, capacity, "--%s needs a value", option.name);

    switch (option.kind) {
      case Kind::Flag:
        if (!strcmp(option.name, "report")) options->report = true;
        if (!strcmp(option.name, "quiet")) options->quiet = true;
        if (!strcmp(option.name, "check-window")) options->checkwindow = true;
        break;
      case Kind::Text:
        if (!strcmp(option.name, "png")) options->png = value;
        if (!strcmp(option.name, "mp4")) options->mp4 = value;
        if (!strcmp(option.name, "sheet")) options->sheet = value;
        if (!strcmp(option.name, "log")) options->log = value;
        if (!strcmp(option.name, "data")) options->data = value;
        if (!strcmp(option.name, "ffmpeg")) options->ffmpeg = value;
        break;
      case Kind::Fps: {
        const int64_t fps = parse_count(value, CAPTURE_MAX_FPS);
        if (fps < 1)
          return capture_fail(message, capacity, "--fps '%s' is not a whole number from 1 to %d", value,
                      static_cast<int>(CAPTURE_MAX_FPS));
        options->fps = static_cast<int32_t>(fps);
        break;
      }
      case Kind::Seconds: {
        const int64_t us = capture_parseseconds(value);
        if (us < 0)
          return capture_fail(message, capacity,
                      "--%s '%s' is not a time in seconds (like 12, 12.5 or 1:02.5, at most %lld s)", option.name,
                      value, static_cast<long long>(CAPTURE_MAX_SECONDS));
        if (!strcmp(option.name, "from")) options->from_us = us;
        if (!strcmp(option.name, "to")) options->to_us = us;
        if (!strcmp(option.name, "at")) options->at_us = us;
        break;
      }
      case Kind::Event: {
        const int64_t event = parse_count(value, TIMELINE_MAX_EVENTS - 1);
        if (event < 0)
          return capture_fail(message, capacity, "--event '%s' is not an event number from 0 to %d", value,
                      TIMELINE_MAX_EVENTS - 1);
        options->event = static_cast<int32_t>(event);
        break;
      }
      case Kind::Frame: {
        const int64_t frame = parse_count(value, CAPTURE_MAX_SECONDS * CAPTURE_MAX_FPS);
        if (frame < 0) return capture_fail(message, capacity, "--frame '%s' is not a frame number", value);
        options->frame = frame;
        break;
      }
    }
  }

  // One way of choosing the frames at a time.
  const int choosers = (options->from_us >= 0 || options->to_us >= 0) + (options->event >= 0) +
                       (options->frame >= 0) + (options->at_us >= 0);
  if (choosers > 1)
    return capture_fail(message, capacity, "choose the frames one way: --from/--to, --event, --frame or --at");
  if (options->from_us >= 0 && options->to_us >= 0 && options->to_us <= options->from_us)
    return capture_fail(message, capacity, "--to must be later than --from");
  if (!options->png && !options->mp4 && !options->sheet && !options->report && !options->log &&
      !options->checkwindow)
    return capture_fail(message, capacity, "nothing to do: give --png, --mp4, --sheet, --log, --report or --check-window");
  return 1;
}

void capture_printusage(FILE* out) {
  fprintf(out,
          "Usage: sprox-capture [OPTION]...\n"
          "Renders the show on a fixed clock and writes what the window shows.\n"
          "Run it from the build folder (it mounts sprox.dat there) on an X display\n"
          "(xvfb-run -a -s '-screen 0 1280x720x24' ./sprox-capture ...).\n"
          "\n"
          "Frames (frame n shows playback offset n x 44100 / fps, clock n / fps):\n"
          "  --fps N          frames a second, 1 to %d (default %d)\n"
          "  --from SECONDS   first time to render (SS, SS.fff or MM:SS.fff; default 0)\n"
          "  --to SECONDS     time to stop before (default: the show's end mark)\n"
          "  --event N        only the frames of event N\n"
          "  --frame N        only frame N\n"
          "  --at SECONDS     only the frame on screen at that time\n"
          "\n"
          "Outputs (any combination, at least one):\n"
          "  --png DIR        every frame as DIR/frame_NNNNNN.png (NNNNNN: the frame number)\n"
          "  --mp4 FILE       an H.264 video with the music, encoded by ffmpeg\n"
          "  --sheet FILE     a contact sheet: per event a row of %d labelled thumbnails\n"
          "                   at 1/8, 3/8, 5/8 and 7/8 of the event (independent of the frames)\n"
          "  --log FILE       one CSV line per frame: offset, tick, event, state, time\n"
          "  --report         the timing report on standard output, after the engine's lines\n"
          "  --check-window   compare every frame with the window's picture as X shows it\n"
          "\n"
          "Other:\n"
          "  --data PATH      the resource image (or a folder holding sprox.dat)\n"
          "  --ffmpeg PATH    the encoder to run (default: ffmpeg on PATH)\n"
          "  --quiet          no progress bar on standard error\n"
          "  --help           this text\n",
          static_cast<int>(CAPTURE_MAX_FPS), static_cast<int>(CAPTURE_DEFAULT_FPS), CAPTURE_SHEET_POINTS);
}
