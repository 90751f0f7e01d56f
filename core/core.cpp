// core: debug printer, fatal exits, counted memory, copy and fill helpers.
#include "core/core.h"

#include "core/corepath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// ---- Globals ----------------------------------------------------------------
uint32_t g_mem_in_use = 0;
uint32_t g_mem_in_use_peak = 0;

namespace {
std::string* g_heldlines = nullptr;  // where _dbg_printf writes while lines are held
}  // namespace

// ---- Internal ---------------------------------------------------------------
namespace {

// The usable size is asked of the heap both at allocation and at release, so a
// block always counts the same on the way in and on the way out. The C
// run-time of Windows answers the same question with _msize.
uint32_t usable_size(void* block) {
#ifdef _WIN32
  return static_cast<uint32_t>(_msize(block));
#else
  return static_cast<uint32_t>(malloc_usable_size(block));
#endif
}

void* counted_malloc(int size, const char* file, int line) {
  // A negative size is a caller's fault; malloc would see a huge request.
  void* block = size >= 0 ? malloc(static_cast<size_t>(size)) : nullptr;
  if (!block) {
    _dbg_printf("%s(%d): wrap_malloc(%d) failed!\n", file, line, size);
    return nullptr;
  }
  g_mem_in_use += usable_size(block);
  if (g_mem_in_use > g_mem_in_use_peak) g_mem_in_use_peak = g_mem_in_use;
  return block;
}

void counted_free(void* block, const char* file, int line) {
  if (!block) {
    _dbg_printf("%s(%d): wrap_free() tried to free a NULL pointer!\n", file, line);
    return;
  }
  g_mem_in_use -= usable_size(block);
  free(block);
}

}  // namespace

// ---- Debug layer ------------------------------------------------------------
void _dbg_init() {}
void _dbg_shutdown() {}

int _dbg_printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = 0;
  if (!g_heldlines) {
    result = vprintf(format, args);
  } else {
    va_list again;
    va_copy(again, args);
    result = vsnprintf(nullptr, 0, format, again);
    va_end(again);
    if (result > 0) {
      const size_t from = g_heldlines->size();
      g_heldlines->resize(from + static_cast<size_t>(result) + 1);
      vsnprintf(&(*g_heldlines)[from], static_cast<size_t>(result) + 1, format, args);
      g_heldlines->resize(from + static_cast<size_t>(result));
    }
  }
  va_end(args);
  return result;
}

std::string* _dbg_holdlines(std::string* sink) {
  std::string* before = g_heldlines;
  g_heldlines = sink;
  return before;
}

void core_keepstdio() {
#ifndef _WIN32  // a Windows program without a console has no descriptors 0 to 2 to fill
  for (int fd = 0; fd <= 2; fd++) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor: this one, since those below are open by now.
    const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) close(null);
  }
#endif
}

int core_writefile(const char* path, const void* bytes, size_t size, char* message, int capacity) {
  struct stat info;
  const bool replace = core_stat(path, &info) != 0 || S_ISREG(info.st_mode);
  const std::string target = replace ? std::string(path) + ".part" : std::string(path);
  FILE* file = core_fopen(target.c_str(), "wb");
  if (!file) return core_fail(message, capacity, "%s", strerror(errno));
  const bool written = fwrite(bytes, 1, size, file) == size;
  int cause = errno;  // fwrite's reason, before fclose can change it
  const bool closed = fclose(file) == 0;
  if (written && !closed) cause = errno;
  if (written && closed && (!replace || core_rename(target.c_str(), path) == 0)) return 1;
  if (written && closed) cause = errno;
  if (replace) core_remove(target.c_str());
  return core_fail(message, capacity, "%s", strerror(cause));
}

void _dbg_assert(const char* file, int line, const char* expr) {
  printf("%s(%d): assertion failed: %s\n", file, line, expr);
  exit(1);
}

void error(const char* message) {
  printf("Error: %s\n", message);
  exit(1);
}

// ---- Allocation -------------------------------------------------------------
void* _wrap_malloc(int size) { return size >= 0 ? malloc(static_cast<size_t>(size)) : nullptr; }
void _wrap_free(void* block) { free(block); }
void* _wrap_malloc_dbg(int size, const char* file, int line) { return counted_malloc(size, file, line); }
void _wrap_free_dbg(void* block, const char* file, int line) { counted_free(block, file, line); }
void* _wrap_malloc_iwram(int size) { return _wrap_malloc(size); }
void _wrap_free_iwram(void* block) { _wrap_free(block); }
void* _wrap_malloc_iwram_dbg(int size, const char* file, int line) { return counted_malloc(size, file, line); }
void _wrap_free_iwram_dbg(void* block, const char* file, int line) { counted_free(block, file, line); }

// ---- Copy and fill ----------------------------------------------------------
// Whole 32-bit words while more than 3 bytes remain, then the last 0 to 3 bytes.
// memcpy of 4 bytes keeps the word accesses free of alignment assumptions.
void wrap_memcpy(void* dst, const void* src, int bytes) {
  auto* d = static_cast<unsigned char*>(dst);
  const auto* s = static_cast<const unsigned char*>(src);
  while (bytes > 3) {
    memcpy(d, s, 4);
    d += 4;
    s += 4;
    bytes -= 4;
  }
  while (bytes > 0) {
    *d++ = *s++;
    bytes--;
  }
}

void wrap_memcpy16(void* dst, const void* src, int count16) {
  if (count16 > 0) wrap_memcpy(dst, src, count16 * 2);
}

void wrap_memcpy32(void* dst, const void* src, int count32) {
  if (count32 > 0) wrap_memcpy(dst, src, count32 * 4);
}

void wrap_memset(void* dst, int value, int bytes) {
  auto* d = static_cast<unsigned char*>(dst);
  uint32_t v = static_cast<uint32_t>(value);
  uint32_t word = ((v * 256u + v) * 256u + v) * 256u + v;  // the value replicated into each byte
  while (bytes > 3) {
    memcpy(d, &word, 4);
    d += 4;
    bytes -= 4;
  }
  while (bytes > 0) {
    *d++ = static_cast<unsigned char>(value);
    bytes--;
  }
}

void wrap_memclr(void* dst, int bytes) { wrap_memset(dst, 0, bytes); }

int wrap_showusage() {
  return _dbg_printf("memory usage: %d (peak: %d)\n", static_cast<int>(g_mem_in_use),
                     static_cast<int>(g_mem_in_use_peak));
}
