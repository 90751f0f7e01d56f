// The soak run's heap probe: a small shared library that scripts/soak.sh
// loads into the show with LD_PRELOAD. It reports the C heap's bytes in use,
// which the resident size cannot show: a leak first fills the heap's free
// pieces left over from start-up (hundreds of kB), so the resident size only
// moves minutes after the leak began.
//
// From its start a thread appends one line every SOAK_HEAP_MS milliseconds
// (default 500) to the file SOAK_HEAP_FILE:
//   <ms since the probe started> <bytes in use in the arenas> <bytes in mmapped blocks>
// Without SOAK_HEAP_FILE it does nothing. Nothing here allocates from the
// heap after start-up but the stream's own buffer, which lives as long as
// the file.
//
// Threads: the probe's own thread writes; mallinfo2 takes each arena's lock.
#include <malloc.h>
#include <pthread.h>
#include <time.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>

namespace {

FILE* g_out = nullptr;  // the report, line-buffered
long g_period_ms = 500;

long now_ms() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

void* report(void*) {
  const long start = now_ms();
  for (;;) {
    const struct mallinfo2 m = mallinfo2();
    std::fprintf(g_out, "%ld %zu %zu\n", now_ms() - start, m.uordblks, m.hblkhd);
    timespec pause{g_period_ms / 1000, (g_period_ms % 1000) * 1000000};
    nanosleep(&pause, nullptr);
  }
  return nullptr;
}

__attribute__((constructor)) void start() {
  const char* file = std::getenv("SOAK_HEAP_FILE");
  if (!file || !*file) return;
  if (const char* period = std::getenv("SOAK_HEAP_MS")) g_period_ms = std::max(1L, std::atol(period));
  g_out = std::fopen(file, "w");
  if (!g_out) return;
  setvbuf(g_out, nullptr, _IOLBF, 0);
  pthread_t thread;
  if (pthread_create(&thread, nullptr, report, nullptr) == 0) pthread_detach(thread);
}

}  // namespace
