// capture_options: the command line of sprox-capture.
//
// Options are read by core's one option reader: "--name VALUE" or
// "--name=VALUE", flags without a value, "--help" (or "-h") anywhere wins. Every value is
// checked here, before the engine starts, so that a typo costs no start-up;
// only what needs the loaded timeline (does event N exist, is the range
// inside the show) is checked later by capture_resolverange.
//
// Threads: main thread.
#include "tools/capture/capture.h"

#include "core/core.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

// ---- Internal functions -----------------------------------------------------------
namespace {

enum class Kind { Flag, Text, Fps, Seconds, Event, Frame, Size };

struct OptionRow {
  const char* name;  // without the leading "--"
  Kind kind;
};

constexpr OptionRow kOptions[] = {
    {"help", Kind::Flag},     {"report", Kind::Flag},  {"quiet", Kind::Flag},   {"fps", Kind::Fps},
    {"from", Kind::Seconds},  {"to", Kind::Seconds},   {"at", Kind::Seconds},   {"event", Kind::Event},
    {"frame", Kind::Frame},   {"png", Kind::Text},     {"mp4", Kind::Text},     {"sheet", Kind::Text},
    {"log", Kind::Text},      {"data", Kind::Text},    {"ffmpeg", Kind::Text},  {"check-window", Kind::Flag},
    {"size", Kind::Size},
};
constexpr int kNumOptions = sizeof(kOptions) / sizeof(kOptions[0]);

// The reader's view of the table: which options take a value.
struct OptionDefs {
  s_coreoptiondef defs[kNumOptions];
  OptionDefs() {
    for (int k = 0; k < kNumOptions; ++k) defs[k] = {kOptions[k].name, kOptions[k].kind != Kind::Flag};
  }
};

}  // namespace

// ---- Public functions ---------------------------------------------------------------
int capture_parsesize(const char* text, int32_t* width, int32_t* height, char* message, int capacity) {
  int w = 0, h = 0;
  // Even sides: the video's 4:2:0 colour planes are half the size.
  if (!core_parsesize(text, DEMO_MAX_RENDERSIZE, &w, &h) || !Demo_IsShowShape(w, h) || w < CAPTURE_MIN_WIDTH ||
      h < CAPTURE_MIN_HEIGHT || w % 2 || h % 2)
    return core_fail(message, capacity, "--size '%s' is not an even 16:9 size WxH from %dx%d to %dx%d", text ? text : "",
                        CAPTURE_MIN_WIDTH, CAPTURE_MIN_HEIGHT, DEMO_MAX_RENDERSIZE, DEMO_MAX_RENDERSIZE * 9 / 16);
  *width = w;
  *height = h;
  return 1;
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
  options->width = EFFECTS_WIDTH;
  options->height = EFFECTS_HEIGHT;
  if (message && capacity > 0) message[0] = 0;

  // --help (or -h) anywhere answers on its own, even beside mistakes.
  if (core_wantshelp(argc, argv)) {
    options->help = true;
    return 1;
  }

  static const OptionDefs table;
  s_coreoptionreader reader = core_optionreader(argc, argv, table.defs, kNumOptions);
  for (;;) {
    const char* value = nullptr;
    const int found = core_nextoption(&reader, &value, message, capacity);
    if (found == CORE_OPTION_END) break;
    if (found < 0) return 0;
    const OptionRow& option = kOptions[found];
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
        const int64_t fps = core_parsecount(value, CAPTURE_MAX_FPS);
        if (fps < 1)
          return core_fail(message, capacity, "--fps '%s' is not a whole number from 1 to %d", value,
                      static_cast<int>(CAPTURE_MAX_FPS));
        options->fps = static_cast<int32_t>(fps);
        break;
      }
      case Kind::Seconds: {
        const int64_t us = capture_parseseconds(value);
        if (us < 0)
          return core_fail(message, capacity,
                      "--%s '%s' is not a time in seconds (like 12, 12.5 or 1:02.5, at most %lld s)", option.name,
                      value, static_cast<long long>(CAPTURE_MAX_SECONDS));
        if (!strcmp(option.name, "from")) options->from_us = us;
        if (!strcmp(option.name, "to")) options->to_us = us;
        if (!strcmp(option.name, "at")) options->at_us = us;
        break;
      }
      case Kind::Event: {
        const int64_t event = core_parsecount(value, TIMELINE_MAX_EVENTS - 1);
        if (event < 0)
          return core_fail(message, capacity, "--event '%s' is not an event number from 0 to %d", value,
                      TIMELINE_MAX_EVENTS - 1);
        options->event = static_cast<int32_t>(event);
        break;
      }
      case Kind::Frame: {
        const int64_t frame = core_parsecount(value, CAPTURE_MAX_SECONDS * CAPTURE_MAX_FPS);
        if (frame < 0) return core_fail(message, capacity, "--frame '%s' is not a frame number", value);
        options->frame = frame;
        break;
      }
      case Kind::Size:
        if (!capture_parsesize(value, &options->width, &options->height, message, capacity)) return 0;
        options->sizegiven = true;
        break;
    }
  }

  // One way of choosing the frames at a time.
  const int choosers = (options->from_us >= 0 || options->to_us >= 0) + (options->event >= 0) +
                       (options->frame >= 0) + (options->at_us >= 0);
  if (choosers > 1)
    return core_fail(message, capacity, "choose the frames one way: --from/--to, --event, --frame or --at");
  if (options->from_us >= 0 && options->to_us >= 0 && options->to_us <= options->from_us)
    return core_fail(message, capacity, "--to must be later than --from");
  if (!options->png && !options->mp4 && !options->sheet && !options->report && !options->log &&
      !options->checkwindow)
    return core_fail(message, capacity, "nothing to do: give --png, --mp4, --sheet, --log, --report or --check-window");
  return 1;
}

void capture_printusage(FILE* out) {
  fprintf(out,
          "Usage: sprox-capture [OPTION]...\n"
          "Renders the show on a fixed clock and writes what the window shows.\n"
          "It finds its data as sprox does and needs an X display\n"
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
          "  --size WxH       the size of the pictures rendered and written, 16:9, from\n"
          "                   %dx%d up (default %dx%d)\n"
          "  --data PATH      the resource image, or a folder (holding sprox.dat, or\n"
          "                   the loose files); without it, sprox.dat is looked for\n"
          "                   here, beside the program, then at the program's end\n"
          "  --ffmpeg PATH    the encoder to run (default: ffmpeg on PATH)\n"
          "  --quiet          no progress bar on standard error\n"
          "  --help           this text\n",
          static_cast<int>(CAPTURE_MAX_FPS), static_cast<int>(CAPTURE_DEFAULT_FPS), CAPTURE_SHEET_POINTS,
          CAPTURE_MIN_WIDTH, CAPTURE_MIN_HEIGHT, EFFECTS_WIDTH, EFFECTS_HEIGHT);
}
