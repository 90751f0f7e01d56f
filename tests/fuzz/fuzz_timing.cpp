// Fuzz target: the timing file reader.
//
// A scratch directory is mounted once; each input is written there as
// "timing.dat" and read with LoadTiming into a freshly zeroed `demo` holding
// the transitions the driver registers. The loaded table must keep its rules
// (counts inside capacity, transitions indexing registered ones), and every
// frame evaluation over the loaded range must stay inside the table.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>

#include "corefile/corefile.h"
#include "fuzz_scratch.h"
#include "timeline/timeline.h"

namespace {

constexpr int kTransitions = 6;  // registered before each load, as the driver does

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_scratch::start("timing");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzz_scratch::write("timing.dat", data, size)) return 0;

  memset(&demo, 0, sizeof demo);
  for (int i = 0; i < kTransitions; i++) AddTransition(i, 16 + i, i, 0.1f, 0.0f);
  InitTiming();
  LoadTiming("timing.dat");

  if (demo.numevents < 0 || demo.numevents > TIMELINE_MAX_EVENTS) abort();
  if (demo.numtransitions != kTransitions) abort();
  int32_t last = 0;
  for (int e = 0; e < demo.numevents; e++) {
    const s_event& event = demo.event[e];
    if (event.numstates < 0 || event.numstates > TIMELINE_MAX_STATES) abort();
    if (event.time > last) last = event.time;
  }
  // Evaluate a spread of frames across and beyond the loaded range, in
  // sample frames of 2739 per tick as the show does.
  const int64_t span = static_cast<int64_t>(last) + 64;
  for (int i = 0; i <= 32; i++) {
    const int64_t tick = span * i / 32;
    const int64_t offset = tick * 2739;
    UpdateDemoTiming(static_cast<int32_t>(offset > INT32_MAX ? INT32_MAX : offset), 2739);
    if (demo.currentevent < 0 || demo.currentevent > TIMELINE_MAX_EVENTS) abort();
    if (demo.activetransition < 0 || demo.activetransition >= TIMELINE_MAX_TRANSITIONS) abort();
    if (!(demo.progress >= 0.0f && demo.progress <= 1.0f)) abort();
  }
  UpdateDemoTiming(-1, 2739);
  UpdateDemoTiming(INT32_MAX, 0);
  return 0;
}
