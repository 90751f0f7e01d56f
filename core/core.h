// core: the base module beneath the resource file system.
//
// A debug printer, two fatal exits, allocation wrappers that count the bytes
// held (and the peak), and word-wise copy and fill helpers. The file system
// takes every block it allocates through the counting pair and prints all its
// lines through _dbg_printf; the other modules use printf and malloc directly.
//
// Threads: main thread only. The counters are plain integers without a lock.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

// ---- Counters ---------------------------------------------------------------
// Bytes currently held through the counting wrappers, measured with the usable
// size the C heap reports for each block (which may exceed the size asked for).
extern uint32_t g_mem_in_use;
// The highest value g_mem_in_use has reached; never decreases.
extern uint32_t g_mem_in_use_peak;

// ---- Debug layer ------------------------------------------------------------
// Formats to standard output (or to the held lines); returns vprintf's result.
int _dbg_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// While a sink is set, _dbg_printf appends its text to the sink instead of
// printing it: a caller that prints the file system's lines later, in an
// order of its own, or not at all, holds them so (standard output itself is
// never touched). Null prints again. Returns the sink set before, so that
// holds nest.
std::string* _dbg_holdlines(std::string* sink);
// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed (`>&-`),
// so that no file, socket or pipe the program opens later lands there and
// gets standard output's lines written into it. A descriptor that is open
// is left alone, whatever it is. First thing in main.
void core_keepstdio();

// ---- Allocation -------------------------------------------------------------
// Counting pair: a block taken with one is given back with the other.
void* _wrap_malloc_dbg(int size, const char* file, int line);
void _wrap_free_dbg(void* block, const char* file, int line);

// ---- Little-endian integers ---------------------------------------------------
// The project's files (the resource image, WAV files) store integers
// little-endian whatever the host order is; these are the one set of helpers
// that read and write them, byte by byte.
inline uint16_t core_getle16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t core_getle32(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline void core_putle16(unsigned char* p, uint16_t value) {
  p[0] = static_cast<unsigned char>(value);
  p[1] = static_cast<unsigned char>(value >> 8);
}
inline void core_putle32(unsigned char* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

// ---- Hashing ----------------------------------------------------------------------
// A well-mixed 32-bit integer hash (two multiply-xorshift rounds): the seed
// of the generators' deterministic noise and random streams, so the music
// and the images stay the same on every run and every machine.
inline uint32_t core_hash32(uint32_t v) {
  v ^= v >> 16;
  v *= 0x7FEB352Du;
  v ^= v >> 15;
  v *= 0x846CA68Bu;
  v ^= v >> 16;
  return v;
}

// ---- Reasons -----------------------------------------------------------------------
// Writes a printf-style reason into message (capacity bytes, when there is
// room) and returns 0: the failure path of a function that gives its reason.
int core_fail(char* message, int capacity, const char* format, ...) __attribute__((format(printf, 3, 4)));
int core_vfail(char* message, int capacity, const char* format, va_list args);

// ---- Command lines -------------------------------------------------------------------
// The one reader of every program's options (sprox, sprox-capture and the
// build's tools): "--name VALUE" or "--name=VALUE" for an option that takes
// a value, "--name" alone for a flag, "-X VALUE" (or "-XVALUE") and "-X" for
// an option that has a one-letter form too. A program that takes operands
// (files, a folder) gets each argument that does not start with '-' in turn,
// and every argument after "--". The caller lists its options and walks argv
// with core_nextoption; every mistake gives one line of reason that names the
// argument, which core_refuseoption prints in the one form all programs share.
struct s_coreoptiondef {
  const char* name;      // without the leading "--"
  bool takesvalue;       // true: needs a value; false: a flag
  char letter = 0;       // also written "-X", or 0 for none
  bool repeats = false;  // may be given more than once (each value comes back in turn)
};

struct s_coreoptionreader {
  int argc;
  const char* const* argv;
  const s_coreoptiondef* defs;
  int numdefs;            // entries of defs, at most 64
  int next;               // index in argv of the next argument to read; starts at 1
  uint64_t seen;          // bit k: defs[k] was given
  bool operands = false;  // set by the caller: arguments that are no option come back as operands
  bool ended = false;     // "--" was read: every argument after it is an operand
};

// What core_nextoption answers besides an entry's index.
constexpr int CORE_OPTION_END = -1;      // argv is used up
constexpr int CORE_OPTION_REFUSED = -2;  // a mistake, its reason in message
constexpr int CORE_OPTION_OPERAND = -3;  // an operand, in *value (only with reader->operands)
// The exit status of every program for a bad command line.
constexpr int CORE_EXIT_USAGE = 2;

// A reader over argv (argv[0] is skipped), operands refused.
s_coreoptionreader core_optionreader(int argc, const char* const* argv, const s_coreoptiondef* defs, int numdefs);
// The next option: returns the index of its entry in defs with its value in
// *value (null for a flag), CORE_OPTION_OPERAND with the operand in *value,
// CORE_OPTION_END once argv is used up, or CORE_OPTION_REFUSED with a reason
// in message: an argument that is no option (or an operand where none is
// taken), an unknown name, an option given twice, a flag given a value, or a
// value missing or empty.
int core_nextoption(s_coreoptionreader* reader, const char** value, char* message, int capacity);
// True when argv holds "--NAME" (or "--NAME=..." ) anywhere: for --help,
// which answers on its own even beside mistakes.
bool core_hasoption(int argc, const char* const* argv, const char* name);
// True when argv asks for the usage: "--help" or "-h" anywhere before a "--".
bool core_wantshelp(int argc, const char* const* argv);
// Prints "PROGRAM: REASON (see PROGRAM --help)" on standard error and returns
// CORE_EXIT_USAGE: the one answer of every program to a bad command line.
int core_refuseoption(const char* program, const char* reason);
// One command line read whole, for a program with a usage text and a table
// of options: "--help" prints usage(stdout) and answers 0; every option and
// operand (with `operands`) goes to take(context, index or
// CORE_OPTION_OPERAND, value, message, capacity), which returns false with a
// reason in message to refuse it; a mistake of either kind is printed by
// core_refuseoption and answered CORE_EXIT_USAGE. Returns -1 when the
// program should go on.
typedef bool (*core_takeoption)(void* context, int found, const char* value, char* message, int capacity);
int core_readcommandline(const char* program, int argc, const char* const* argv, const s_coreoptiondef* defs,
                         int numdefs, bool operands, void (*usage)(FILE* to), core_takeoption take, void* context);
// Writes size bytes to path whole or not at all: a new name or a regular
// file is written through "PATH.part" beside it and renamed over it only
// when every byte is out (a full disk leaves the old file, or none); any
// other kind of file (a FIFO, a device such as /dev/null) is written into
// directly and never replaced. Returns 1, or 0 with the system's reason in
// message.
int core_writefile(const char* path, const void* bytes, size_t size, char* message, int capacity);
// What a file's mode (as stat gives it) names, for a message: "a folder",
// "a FIFO", "a character device", "a block device", "a socket", "a symbolic
// link", "a file" (a regular one) or "an unknown kind of file".
const char* core_filetypename(unsigned int mode);
// A whole decimal number from 0 to limit, else -1.
int64_t core_parsecount(const char* text, int64_t limit);
// "WxH" (or "WXH") with both sides whole numbers from 1 to limit. Returns
// true and fills width and height, else false and leaves them.
bool core_parsesize(const char* text, int limit, int* width, int* height);

// ---- The rest of the published interface -------------------------------------------
// Kept whole for the base layer's users to come; nothing in the show or the
// tools calls these today (the tests do). Their definitions stay in
// core/core.cpp.
void _dbg_init();
void _dbg_shutdown();
// Prints "<file>(<line>): assertion failed: <expr>" and exits with status 1.
[[noreturn]] void _dbg_assert(const char* file, int line, const char* expr);
// Prints "Error: <message>" and exits with status 1.
[[noreturn]] void error(const char* message);
// Uncounted blocks, straight from the C heap.
void* _wrap_malloc(int size);
void _wrap_free(void* block);
// The same pairs under their fast-memory names (one heap here: the plain
// pair, and the counting pair for the _dbg forms).
void* _wrap_malloc_iwram(int size);
void _wrap_free_iwram(void* block);
void* _wrap_malloc_iwram_dbg(int size, const char* file, int line);
void _wrap_free_iwram_dbg(void* block, const char* file, int line);
// Copy and fill, forward only; ranges must not overlap.
void wrap_memcpy(void* dst, const void* src, int bytes);
void wrap_memcpy16(void* dst, const void* src, int count16);
void wrap_memcpy32(void* dst, const void* src, int count32);
void wrap_memset(void* dst, int value, int bytes);
void wrap_memclr(void* dst, int bytes);
// Prints "memory usage: <in use> (peak: <peak>)".
int wrap_showusage();
