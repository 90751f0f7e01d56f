// The allocation probe of alloc_probe.h. A caller counts as ours when its
// return address lies between the executable's first byte and the end of its
// text (the linker's __executable_start and etext): calls from a shared
// library's code land elsewhere. The C++ library is the exception: much of
// std::string and friends runs out of line inside libstdc++, so an
// allocation made there counts when libstdc++ was called from our code.
#include "alloc_probe.h"

#include <execinfo.h>
#include <link.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <exception>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ALLOC_PROBE_ABSENT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define ALLOC_PROBE_ABSENT 1
#endif
#endif

#ifdef ALLOC_PROBE_ABSENT

namespace alloc_probe {
const bool kAvailable = false;
void Start() {}
int64_t Stop() { return 0; }
}  // namespace alloc_probe

#else

extern "C" {
extern char __executable_start;
extern char etext;
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);
}

namespace {
std::atomic<bool> g_counting{false};
std::atomic<int64_t> g_count{0};
thread_local bool t_inside = false;   // a backtrace of our own is allocating
uintptr_t g_cxxlow = 0, g_cxxhigh = 0;  // libstdc++'s loaded code

bool Ours(const void* address) {
  const char* at = static_cast<const char*>(address);
  return at >= &__executable_start && at < &etext;
}
bool InCxxLibrary(const void* address) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(address);
  return at >= g_cxxlow && at < g_cxxhigh;
}

// Finds the loaded code segment that holds std::terminate: libstdc++'s.
void FindCxxLibrary() {
  dl_iterate_phdr(
      [](dl_phdr_info* object, size_t, void*) {
        const uintptr_t probe = reinterpret_cast<uintptr_t>(&std::terminate);
        for (int i = 0; i < object->dlpi_phnum; i++) {
          const ElfW(Phdr)& segment = object->dlpi_phdr[i];
          if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_X)) continue;
          const uintptr_t low = object->dlpi_addr + segment.p_vaddr;
          if (probe < low || probe >= low + segment.p_memsz) continue;
          g_cxxlow = low;
          g_cxxhigh = low + segment.p_memsz;
          return 1;
        }
        return 0;
      },
      nullptr);
}

inline void Note(const void* caller) {
  if (!g_counting.load(std::memory_order_relaxed) || t_inside) return;
  bool ours = Ours(caller);
  if (!ours && InCxxLibrary(caller)) {
    // Who called into the C++ library: the frames beyond the allocator's caller.
    t_inside = true;
    void* frames[12];
    const int depth = backtrace(frames, 12);
    int i = 0;
    while (i < depth && frames[i] != caller) i++;
    for (i++; i < depth && InCxxLibrary(frames[i]); i++) {
    }
    ours = i < depth && Ours(frames[i]);
    t_inside = false;
  }
  if (ours) g_count.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

namespace alloc_probe {
const bool kAvailable = true;
void Start() {
  if (!g_cxxhigh) FindCxxLibrary();
  void* frames[2];
  backtrace(frames, 2);  // its first call loads the unwinder, which allocates
  g_count = 0;
  g_counting = true;
}
int64_t Stop() {
  g_counting = false;
  return g_count.load();
}
}  // namespace alloc_probe

extern "C" {
void* malloc(size_t size) {
  Note(__builtin_return_address(0));
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  Note(__builtin_return_address(0));
  return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
  Note(__builtin_return_address(0));
  return __libc_realloc(block, size);
}
void free(void* block) { __libc_free(block); }
}

namespace {
void* NewBlock(size_t size, const void* caller) {
  Note(caller);
  void* block = __libc_malloc(size ? size : 1);
  if (!block) throw std::bad_alloc();
  return block;
}
}  // namespace

void* operator new(size_t size) { return NewBlock(size, __builtin_return_address(0)); }
void* operator new[](size_t size) { return NewBlock(size, __builtin_return_address(0)); }
void operator delete(void* block) noexcept { __libc_free(block); }
void operator delete[](void* block) noexcept { __libc_free(block); }
void operator delete(void* block, size_t) noexcept { __libc_free(block); }
void operator delete[](void* block, size_t) noexcept { __libc_free(block); }

#endif
