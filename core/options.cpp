// core/options.cpp: the command-line reader shared by sprox and its tools.
//
// Threads: any; it keeps no state outside the reader record handed in.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/core.h"

// ---- Internal functions -------------------------------------------------------------
namespace {

constexpr int kRefused = -2;  // core_nextoption's answer to a mistake

// The entry of defs whose name is the first `length` bytes of name, or -1.
int find_option(const s_coreoptionreader* reader, const char* name, size_t length) {
  for (int k = 0; k < reader->numdefs; ++k) {
    const char* candidate = reader->defs[k].name;
    if (strlen(candidate) == length && !strncmp(candidate, name, length)) return k;
  }
  return -1;
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
  return s_coreoptionreader{argc, argv, defs, numdefs < 64 ? numdefs : 64, 1, 0};
}

int core_nextoption(s_coreoptionreader* reader, const char** value, char* message, int capacity) {
  *value = nullptr;
  if (reader->next >= reader->argc) return -1;
  const char* arg = reader->argv[reader->next++];
  if (!arg || strncmp(arg, "--", 2) != 0 || arg[2] == 0)
    return core_fail(message, capacity, "unexpected argument '%s'", arg ? arg : "") + kRefused;

  const char* name = arg + 2;
  const char* equals = strchr(name, '=');
  const size_t length = equals ? static_cast<size_t>(equals - name) : strlen(name);
  const int found = find_option(reader, name, length);
  if (found < 0) return core_fail(message, capacity, "unknown option '%s'", arg) + kRefused;
  const s_coreoptiondef& option = reader->defs[found];
  const uint64_t bit = uint64_t{1} << found;
  if (reader->seen & bit) return core_fail(message, capacity, "--%s given twice", option.name) + kRefused;
  reader->seen |= bit;

  if (!option.takesvalue) {
    if (equals) return core_fail(message, capacity, "--%s takes no value", option.name) + kRefused;
    return found;
  }
  if (equals) {
    *value = equals + 1;
  } else {
    if (reader->next >= reader->argc) return core_fail(message, capacity, "--%s needs a value", option.name) + kRefused;
    *value = reader->argv[reader->next++];
  }
  if (!*value || !**value) return core_fail(message, capacity, "--%s needs a value", option.name) + kRefused;
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
