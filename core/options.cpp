// core/options.cpp: the one command-line reader of sprox, sprox-capture and
// the build's tools, and the one form of their answer to a bad command line.
//
// Threads: any; it keeps no state outside the reader record handed in.
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/core.h"

// ---- Internal functions -------------------------------------------------------------
namespace {

constexpr const char* kMsgRefused = "%s: %s (see %s --help)\n";  // program, reason, program

// The entry of defs whose name is the first `length` bytes of name, or -1.
int find_option(const s_coreoptionreader* reader, const char* name, size_t length) {
  for (int k = 0; k < reader->numdefs; ++k) {
    const char* candidate = reader->defs[k].name;
    if (strlen(candidate) == length && !strncmp(candidate, name, length)) return k;
  }
  return -1;
}

// The entry of defs whose one-letter form is letter, or -1.
int find_letter(const s_coreoptionreader* reader, char letter) {
  for (int k = 0; k < reader->numdefs; ++k)
    if (letter && reader->defs[k].letter == letter) return k;
  return -1;
}

// An operand where the program takes one: anything not starting with '-',
// "-" alone (by custom standard input or output), or whatever follows "--".
bool is_operand(const s_coreoptionreader* reader, const char* arg) {
  return reader->operands && (reader->ended || arg[0] != '-' || arg[1] == 0);
}

// Marks entry `found` as given; false when it was given before and may not repeat.
bool mark_seen(s_coreoptionreader* reader, int found) {
  const uint64_t bit = uint64_t{1} << found;
  if ((reader->seen & bit) && !reader->defs[found].repeats) return false;
  reader->seen |= bit;
  return true;
}

}  // namespace

// ---- Public functions ---------------------------------------------------------------
int core_vfail(char* message, int capacity, const char* format, va_list args) {
  if (message && capacity > 0) vsnprintf(message, static_cast<size_t>(capacity), format, args);
  return 0;
}

int core_fail(char* message, int capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  core_vfail(message, capacity, format, args);
  va_end(args);
  return 0;
}

s_coreoptionreader core_optionreader(int argc, const char* const* argv, const s_coreoptiondef* defs, int numdefs) {
  s_coreoptionreader reader{argc, argv, defs, numdefs < 64 ? numdefs : 64, 1, 0};
  return reader;
}

int core_nextoption(s_coreoptionreader* reader, const char** value, char* message, int capacity) {
  *value = nullptr;
  if (reader->next >= reader->argc) return CORE_OPTION_END;
  const char* arg = reader->argv[reader->next++];
  if (!arg) arg = "";
  if (is_operand(reader, arg)) {
    *value = arg;
    return CORE_OPTION_OPERAND;
  }
  if (reader->operands && !strcmp(arg, "--")) {
    reader->ended = true;
    return core_nextoption(reader, value, message, capacity);
  }

  // "-X", "-XVALUE" or "-X VALUE": the one-letter form.
  if (arg[0] == '-' && arg[1] != '-' && arg[1] != 0) {
    const int found = find_letter(reader, arg[1]);
    if (found < 0 || (!reader->defs[found].takesvalue && arg[2] != 0))
      return core_fail(message, capacity, "unexpected argument '%s'", arg) + CORE_OPTION_REFUSED;
    const char written[3] = {'-', arg[1], 0};
    if (!mark_seen(reader, found)) return core_fail(message, capacity, "%s given twice", written) + CORE_OPTION_REFUSED;
    if (!reader->defs[found].takesvalue) return found;
    if (arg[2]) {
      *value = arg + 2;
    } else if (reader->next < reader->argc) {
      *value = reader->argv[reader->next++];
    }
    if (!*value || !**value) return core_fail(message, capacity, "%s needs a value", written) + CORE_OPTION_REFUSED;
    return found;
  }

  if (strncmp(arg, "--", 2) != 0 || arg[2] == 0)
    return core_fail(message, capacity, "unexpected argument '%s'", arg) + CORE_OPTION_REFUSED;
  const char* name = arg + 2;
  const char* equals = strchr(name, '=');
  const size_t length = equals ? static_cast<size_t>(equals - name) : strlen(name);
  const int found = find_option(reader, name, length);
  if (found < 0) return core_fail(message, capacity, "unknown option '%s'", arg) + CORE_OPTION_REFUSED;
  const s_coreoptiondef& option = reader->defs[found];
  if (!mark_seen(reader, found))
    return core_fail(message, capacity, "--%s given twice", option.name) + CORE_OPTION_REFUSED;

  if (!option.takesvalue) {
    if (equals) return core_fail(message, capacity, "--%s takes no value", option.name) + CORE_OPTION_REFUSED;
    return found;
  }
  if (equals) {
    *value = equals + 1;
  } else if (reader->next < reader->argc) {
    *value = reader->argv[reader->next++];
  }
  if (!*value || !**value) return core_fail(message, capacity, "--%s needs a value", option.name) + CORE_OPTION_REFUSED;
  return found;
}

bool core_hasoption(int argc, const char* const* argv, const char* name) {
  const size_t length = strlen(name);
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!arg || strncmp(arg, "--", 2) != 0) continue;
    if (!strncmp(arg + 2, name, length) && (arg[2 + length] == 0 || arg[2 + length] == '=')) return true;
  }
  return false;
}

bool core_wantshelp(int argc, const char* const* argv) {
  for (int i = 1; i < argc && argv[i] && strcmp(argv[i], "--") != 0; ++i) {
    if (!strcmp(argv[i], "-h") || !strcmp(argv[i], "--help") || !strncmp(argv[i], "--help=", 7)) return true;
  }
  return false;
}

int core_refuseoption(const char* program, const char* reason) {
  fprintf(stderr, kMsgRefused, program, reason, program);
  return CORE_EXIT_USAGE;
}

int core_readcommandline(const char* program, int argc, const char* const* argv, const s_coreoptiondef* defs,
                         int numdefs, bool operands, void (*usage)(FILE* to), core_takeoption take, void* context) {
  if (core_wantshelp(argc, argv)) {
    usage(stdout);
    return 0;
  }
  s_coreoptionreader reader = core_optionreader(argc, argv, defs, numdefs);
  reader.operands = operands;
  char message[512];
  const char* value = nullptr;
  for (int found; (found = core_nextoption(&reader, &value, message, sizeof(message))) != CORE_OPTION_END;) {
    if (found == CORE_OPTION_REFUSED || !take(context, found, value, message, sizeof(message)))
      return core_refuseoption(program, message);
  }
  return -1;
}

const char* core_filetypename(unsigned int mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
#ifndef _WIN32  // Windows' file types have neither
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISLNK(mode)) return "a symbolic link";
#endif
  if (S_ISREG(mode)) return "a file";
  return "an unknown kind of file";
}

int64_t core_parsecount(const char* text, int64_t limit) {
  if (!text || !*text) return -1;
  int64_t value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return -1;
    value = value * 10 + (*p - '0');
    if (value > limit) return -1;
  }
  return value;
}

bool core_parsesize(const char* text, int limit, int* width, int* height) {
  if (!text) return false;
  const char* cross = strpbrk(text, "xX");
  if (!cross || cross == text || !cross[1]) return false;
  char left[24];
  const size_t length = static_cast<size_t>(cross - text);
  if (length >= sizeof(left)) return false;
  memcpy(left, text, length);
  left[length] = 0;
  const int64_t w = core_parsecount(left, limit), h = core_parsecount(cross + 1, limit);
  if (w < 1 || h < 1) return false;
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}
