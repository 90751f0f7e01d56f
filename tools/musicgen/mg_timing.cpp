// mg_timing: the event starts of the show's timing file, so that the score's
// sections follow the same bar structure as the pictures.
//
// The file is read with the show's own reader (timeline/timeline.h), line by
// line as LoadTiming reads it, so the music is keyed to exactly the events the
// show plays. State lines do not matter here. On top of the reader's rules the
// music asks for more, and refuses the file (the build stops) where the show
// would go on: an event line the show would skip, an event line without its
// number and start tick, a start outside 0 to kMaxEventTick, an event that
// starts before the one above it, and a file without events.
//
// Threads: the calling thread.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "musicgen.h"
#include "timeline/timeline.h"

// ============================================================================
// Constants
// ============================================================================

namespace {

constexpr int32_t kMaxEventTick = 1000000;  // ticks, about 17 hours
constexpr int kReasonCapacity = 128;             // bytes of a skipped line's reason

}  // namespace

// ============================================================================
// Public functions
// ============================================================================

int mg_timing_parse(const std::string& text, const char* name, std::vector<int>* eventticks) {
  eventticks->clear();
  s_timingreader reader;
  InitTimingReader(&reader);
  char buffer[TIMELINE_LINECAPACITY];
  size_t position = 0;
  while (NextTimingLine(text.data(), text.size(), &position, buffer, sizeof buffer)) {
    const s_timingline line = ReadTimingLine(&reader, buffer);
    if (line.kind != TIMELINE_LINE_EVENT) continue;
    const int lineno = reader.linenumber;
    const int32_t number = line.value[0], start = line.start;
    if (line.skip != TIMELINE_SKIP_OVERFLOW && line.fields < 2) {
      printf(MG_MSG "%s:%d: an event line needs a number and a start tick\n", name, lineno);
      return 0;
    }
    if (line.skip == TIMELINE_SKIP_EVENTPOSITION) {
      printf(MG_MSG "%s:%d: event %d is not the %zu-th event line\n", name, lineno, number, eventticks->size());
      return 0;
    }
    if (line.skip != TIMELINE_SKIP_NONE) {
      char reason[kReasonCapacity];
      FormatTimingSkip(&line, reason, sizeof reason);
      printf(MG_MSG "%s:%d: the show would skip this event line: %s\n", name, lineno, reason);
      return 0;
    }
    if (start < 0 || start > kMaxEventTick) {
      printf(MG_MSG "%s:%d: event %d starts at tick %d, out of range\n", name, lineno, number, start);
      return 0;
    }
    if (!eventticks->empty() && start < eventticks->back()) {
      printf(MG_MSG "%s:%d: event %d starts before the event above it\n", name, lineno, number);
      return 0;
    }
    eventticks->push_back(start);
  }
  if (eventticks->empty()) {
    printf(MG_MSG "%s: no event lines\n", name);
    return 0;
  }
  return 1;
}

int mg_timing_load(const char* path, std::vector<int>* eventticks) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    printf(MG_MSG "cannot read %s\n", path);
    return 0;
  }
  std::stringstream ss;
  ss << f.rdbuf();
  return mg_timing_parse(ss.str(), path, eventticks);
}
