// demo/player.cpp: what makes the show a player: its command line and where
// it finds its data.
//
// The data is looked up in a fixed order (--data, the current folder, beside
// the executable, appended to the executable) by probing with stat() (by UTF-8
// name, core_stat, as every name here is opened), so that
// only the source chosen is ever mounted and only its mount lines are printed.
//
// Threads: main thread, before the show starts.
#include "demo/demo.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "core/corepath.h"
#include "corefile/corefile.h"

#ifndef SPROX_VERSION
#define SPROX_VERSION "unknown"
#endif

// ---- Constants ---------------------------------------------------------------------
namespace {

constexpr int kMaxMonitor = 63;
constexpr size_t kShownPathBytes = 160;  // a longer path is shown cut, with its length

enum Option {
  kHelp, kVersion, kListMonitors, kFullscreen, kMonitor, kWindow, kSize, kScale, kMute, kData, kDev, kStats,
  kStill, kNumOptions
};
const s_coreoptiondef kOptions[kNumOptions] = {
    {"help", false},  {"version", false}, {"list-monitors", false}, {"fullscreen", false},
    {"monitor", true}, {"window", true},  {"size", true},           {"scale", true},
    {"mute", false},  {"data", true},     {"dev", true},            {"stats", false},
    {"still", true},
};

// ---- Internal functions --------------------------------------------------------------

bool is_file(const char* path) {
  struct stat info;
  return core_stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

// True when the file ends with a trailer that points at an image header
// inside it: the executable carries its data.
bool has_appended_image(const char* path) {
  FILE* file = core_fopen(path, "rb");
  if (!file) return false;
  const bool found = corefile_findtrailer(file) >= 0;
  fclose(file);
  return found;
}

// Checks what `path`, given to `option`, names without opening it (a FIFO
// would block): 1 for a folder, or a regular file unless `folders_only`;
// otherwise 0 with "OPTION PATH: CAUSE" in message. A path too long to read
// back is shown cut.
int check_given(const char* option, const char* path, bool folders_only, struct stat* info, char* message,
                int capacity) {
  const size_t length = strlen(path);
  char shown[kShownPathBytes + 48];
  if (length > kShownPathBytes)
    snprintf(shown, sizeof shown, "%.*s... (a path of %zu bytes)", static_cast<int>(kShownPathBytes / 2), path, length);
  else
    snprintf(shown, sizeof shown, "%s", path);
  if (core_stat(path, info) != 0) {
    const bool missing = errno == ENOENT || errno == ENOTDIR;
    return core_fail(message, capacity, "%s %s: %s", option, shown, missing ? "no such file or folder" : strerror(errno));
  }
  if (S_ISDIR(info->st_mode) || (S_ISREG(info->st_mode) && !folders_only)) return 1;
  return core_fail(message, capacity, "%s %s: %s, not %s", option, shown, core_filetypename(info->st_mode),
                   folders_only ? "a folder" : "a file or folder");
}

bool set_path(s_demodata* data, int source, int kind, const char* format, const char* a, const char* b) {
  data->source = source;
  data->kind = kind;
  const int written = snprintf(data->path, sizeof(data->path), format, a, b);
  return written >= 0 && written < static_cast<int>(sizeof(data->path));
}

// The last path separator in a path, or null: '/' only, and on Windows '\\'
// as well, whichever comes last.
const char* last_separator(const char* path) {
  const char* slash = strrchr(path, '/');
#ifdef _WIN32
  const char* backslash = strrchr(path, '\\');
  if (backslash && (!slash || backslash > slash)) slash = backslash;
#endif
  return slash;
}

// The folder part of a path ("." for a bare name).
void folder_of(const char* path, char* folder, int capacity) {
  const char* slash = last_separator(path);
  if (!slash) {
    snprintf(folder, static_cast<size_t>(capacity), ".");
  } else if (slash == path) {
    snprintf(folder, static_cast<size_t>(capacity), "/");
  } else {
    snprintf(folder, static_cast<size_t>(capacity), "%.*s", static_cast<int>(slash - path), path);
  }
}

// A show time in seconds for --still: digits with at most one decimal point,
// at most DEMO_MAX_STILL_SECONDS; answers microseconds, rounded, or -1.
int64_t parse_seconds(const char* text) {
  const size_t length = strlen(text);
  const char* point = strchr(text, '.');
  if (length == 0 || strspn(text, "0123456789.") != length || (point && strchr(point + 1, '.')) ||
      !strcmp(text, "."))
    return -1;
  const double seconds = strtod(text, nullptr);
  if (!(seconds <= static_cast<double>(DEMO_MAX_STILL_SECONDS))) return -1;
  return static_cast<int64_t>(seconds * 1e6 + 0.5);
}

bool parse_scale(const char* text, float* scale) {
  if (!strcmp(text, "auto")) {
    *scale = 0.0f;
    return true;
  }
  char* end = nullptr;
  const float value = strtof(text, &end);
  if (end == text || *end || !(value >= DEMO_MIN_SCALE && value <= DEMO_MAX_SCALE)) return false;
  *scale = value;
  return true;
}

}  // namespace

// ---- Public functions -------------------------------------------------------------------
int Demo_ParseOptions(int argc, const char* const* argv, s_playeroptions* options, char* message, int capacity) {
  *options = s_playeroptions{};
  options->windowwidth = EFFECTS_WIDTH;
  options->windowheight = EFFECTS_HEIGHT;
  if (message && capacity > 0) message[0] = 0;
  // --help anywhere answers on its own, even beside mistakes.
  options->help = core_hasoption(argc, argv, "help");
  if (options->help) return 1;

  s_coreoptionreader reader = core_optionreader(argc, argv, kOptions, kNumOptions);
  const char* value = nullptr;
  int option = 0;
  while ((option = core_nextoption(&reader, &value, message, capacity)) != -1) {
    if (option < 0) return 0;
    switch (option) {
      case kVersion: options->version = true; break;
      case kListMonitors: options->listmonitors = true; break;
      case kFullscreen: options->fullscreen = true; break;
      case kMute: options->mute = true; break;
      case kStats: options->stats = true; break;
      case kData: options->data = value; break;
      case kDev: options->dev = value; break;
      case kMonitor: {
        const int64_t monitor = core_parsecount(value, kMaxMonitor);
        if (monitor < 0)
          return core_fail(message, capacity, "--monitor '%s' is not a monitor number (0 to %d)", value, kMaxMonitor);
        options->monitor = static_cast<int>(monitor);
        break;
      }
      case kWindow:
        if (!core_parsesize(value, DEMO_MAX_RENDERSIZE, &options->windowwidth, &options->windowheight))
          return core_fail(message, capacity, "--window '%s' is not a size WxH", value);
        options->window = true;
        break;
      case kSize:
        if (!core_parsesize(value, DEMO_MAX_RENDERSIZE, &options->width, &options->height) ||
            !Demo_IsShowShape(options->width, options->height))
          return core_fail(message, capacity, "--size '%s' is not a 16:9 size WxH (like 1920x1080)", value);
        break;
      case kStill:
        options->still_us = parse_seconds(value);
        if (options->still_us < 0)
          return core_fail(message, capacity, "--still '%s' is not a time in seconds (like 12 or 40.02, at most %lld)",
                           value, static_cast<long long>(DEMO_MAX_STILL_SECONDS));
        // The file is the argument after the time.
        if (reader.next >= argc || !argv[reader.next][0])
          return core_fail(message, capacity, "--still needs a file after the time: --still SECONDS FILE.png");
        options->stillfile = argv[reader.next++];
        break;
      case kScale:
        if (!parse_scale(value, &options->scale))
          return core_fail(message, capacity, "--scale '%s' is not 'auto' or a number from %.2f to %.2f", value,
                      static_cast<double>(DEMO_MIN_SCALE), static_cast<double>(DEMO_MAX_SCALE));
        break;
    }
  }
  if (options->fullscreen && options->window) return core_fail(message, capacity, "--window cannot go with --fullscreen");
  if (options->data && options->dev) return core_fail(message, capacity, "--data cannot go with --dev");
  if (options->stillfile && options->fullscreen) return core_fail(message, capacity, "--still cannot go with --fullscreen");
  if (options->stillfile && options->dev) return core_fail(message, capacity, "--still cannot go with --dev");
  return 1;
}

void Demo_PrintUsage(FILE* out) {
  fprintf(out,
          "Usage: sprox [OPTION]...\n"
          "Keldrun - Sprox, a real-time demo: plays the show with its music, then ends.\n"
          "\n"
          "Screen:\n"
          "  --fullscreen       borderless full screen at the monitor's own mode\n"
          "  --monitor N        the monitor for full screen (0 = primary; see --list-monitors)\n"
          "  --list-monitors    print each monitor's number, name and mode, then stop\n"
          "  --window WxH       a resizable window of that size (default %dx%d)\n"
          "  --size WxH         render size, 16:9 (default: %dx%d in a window, the\n"
          "                     monitor's pixels in full screen); the picture is\n"
          "                     letterboxed to the window whatever its size\n"
          "  --scale F|auto     render at F times that size, %.2f to %.2f; auto (the\n"
          "                     default) lowers it while frames come too slowly\n"
          "\n"
          "Data and sound:\n"
          "  --data PATH        the resource image, or a folder (holding sprox.dat, or\n"
          "                     the loose files); without it sprox.dat is looked for\n"
          "                     here, beside the program, then at the program's end\n"
          "  --dev DIR          a folder of loose files, reloaded as they change\n"
          "  --mute             no sound (the show keeps its real-time clock)\n"
          "  --still S FILE     write the frame at S seconds (as sprox-capture --at S)\n"
          "                     to FILE as a PNG at the render size, without sound,\n"
          "                     then stop\n"
          "\n"
          "Other:\n"
          "  --stats            print frame statistics at exit\n"
          "  --version          print the version\n"
          "  --help             this text\n"
          "\n"
          "Keys: Escape ends the show, F11 switches full screen, Tab debug mode\n"
          "(then Enter pauses, Left and Right jump to the previous or next event).\n",
          EFFECTS_WIDTH, EFFECTS_HEIGHT, EFFECTS_WIDTH, EFFECTS_HEIGHT, static_cast<double>(DEMO_MIN_SCALE),
          static_cast<double>(DEMO_MAX_SCALE));
}

const char* Demo_Version() { return "sprox " SPROX_VERSION; }

void Demo_ExecutablePath(char* path, int capacity) {
  if (capacity <= 0) return;
  core_executablepath(path, static_cast<size_t>(capacity));  // GetModuleFileNameW on Windows
}

int Demo_FindData(const char* option, const char* executable, s_demodata* data, char* message, int capacity) {
  *data = s_demodata{};
  if (option) {
    struct stat info;
    if (!check_given("--data", option, false, &info, message, capacity)) return 0;
    if (S_ISDIR(info.st_mode)) {
      char inside[DEMO_PATH_CAPACITY];
      snprintf(inside, sizeof(inside), "%s/%s", option, DEMO_IMAGENAME);
      const bool image = is_file(inside);
      if (set_path(data, DEMO_DATA_OPTION, image ? COREFILE_KIND_IMAGE : COREFILE_KIND_DIRECTORY, "%s%s",
                   image ? inside : option, ""))
        return 1;
    } else if (set_path(data, DEMO_DATA_OPTION, COREFILE_KIND_IMAGE, "%s%s", option, "")) {
      return 1;
    }
    *data = s_demodata{};
    return core_fail(message, capacity, "--data: the path is longer than %d bytes", DEMO_PATH_CAPACITY - 1);
  }
  if (is_file(DEMO_IMAGENAME)) {
    set_path(data, DEMO_DATA_CURRENT, COREFILE_KIND_IMAGE, "%s%s", DEMO_IMAGENAME, "");
    return 1;
  }
  char folder[DEMO_PATH_CAPACITY] = "";
  const bool known = executable && *executable;
  if (known) {
    folder_of(executable, folder, sizeof(folder));
    if (set_path(data, DEMO_DATA_BESIDE, COREFILE_KIND_IMAGE, "%s/%s", folder, DEMO_IMAGENAME) &&
        is_file(data->path))
      return 1;
    if (has_appended_image(executable) &&
        set_path(data, DEMO_DATA_APPENDED, COREFILE_KIND_APPENDED, "%s%s", executable, ""))
      return 1;
  }
  char here[DEMO_PATH_CAPACITY];
  if (!core_currentfolder(here, sizeof(here))) snprintf(here, sizeof(here), ".");
  *data = s_demodata{};
  return core_fail(message, capacity,
              "no %s found: looked in the current folder (%s), beside the program (%s) and at the end of the "
              "program (%s); give --data PATH",
              DEMO_IMAGENAME, here, known ? folder : "unknown", known ? executable : "unknown");
}

void Demo_UseData(const s_demodata* data) {
  static char path[DEMO_PATH_CAPACITY];  // what demo_setup.image points at from now on
  snprintf(path, sizeof(path), "%s", data->path);
  demo_setup.image = path;
  demo_setup.imagekind = data->kind;
  const char* from = "";
  switch (data->source) {
    case DEMO_DATA_OPTION:
      demo_setup.origin = data->kind == COREFILE_KIND_DIRECTORY ? "the folder given" : "the file given";
      from = data->kind == COREFILE_KIND_DIRECTORY ? " (the folder given)" : " (the file given)";
      break;
    case DEMO_DATA_CURRENT:
      demo_setup.origin = "found in the current folder";
      from = " in the current folder";
      break;
    case DEMO_DATA_BESIDE:
      demo_setup.origin = "found beside the program";
      from = " beside the program";
      break;
    case DEMO_DATA_APPENDED:
      demo_setup.origin = "the image appended to the program";
      from = " (the image appended to the program)";
      break;
  }
  snprintf(demo_setup.source, sizeof(demo_setup.source), "%s%s", data->path, from);
}

int Demo_CheckDevFolder(const char* dir, char* message, int capacity) {
  struct stat info;
  return check_given("--dev", dir, true, &info, message, capacity);
}
