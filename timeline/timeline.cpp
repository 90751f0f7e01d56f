// timeline: the timeline record, the timing file reader and the per-frame
// evaluation.
//
// The timing file holds one directive per line, fields separated by white
// space, decimal integers after the keyword (compared case-sensitively):
//
//   event <number> <start tick> <unused> <transition index>
//   state <number, unused> <offset in ticks from the event's start>
//
// Any other line is ignored. The scanned values persist from one line to the
// next: a value missing at the end of a line keeps what the previous accepted
// line of the same keyword gave it, and a state line belongs to the most
// recent accepted event line. The loader skips, with one line each, what
// would break the tables: an event number that is not the event's position
// (or lies outside 0 to 255), a 257th event, a transition index outside 0 to
// 63, a 33rd state, a state line with no accepted event line before it, and a
// number that does not fit 32 bits. A skipped line changes nothing.
//
// The evaluation reads the tables only within their capacity: the incoming
// event is at most slot 256, the vacant slot kept after the last usable one,
// and a transition index outside the table counts as a zero-length transition
// at index 0 (a hard cut).
//
// Glossary: see timeline.h (tick, event, state, transition, vacant slot).
//
// Threads: main thread only.

#include "timeline/timeline.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "corefile/corefile.h"

// ---- Constants ---------------------------------------------------------------------
namespace {

constexpr int kLineCapacity = 256;  // bytes of the line buffer, terminator included
constexpr int kEventFields = 4;     // number, start, unused, transition
constexpr int kStateFields = 2;     // number, offset
constexpr int kReasonCapacity = 128;  // bytes for the reason of a skipped line

const char* const kKeywordEvent = "event";
const char* const kKeywordState = "state";

const char* const kMsgLoad = "load timing %s, size: %d\n";
const char* const kMsgEvent = "- event: %d %d %d %d\n";
const char* const kMsgState = "- state: %d %d\n";
const char* const kMsgSkipped = "load timing %s, line %d: %s line skipped: %s\n";
const char* const kMsgStalled = "load timing %s, line %d: the file cannot be read further\n";
const char* const kMsgEventsFull = "timeline: event at tick %d not added: the table holds %d events\n";
const char* const kMsgStateNoEvent = "timeline: state at tick %d not added: event %d is not in use\n";
const char* const kMsgStatesFull = "timeline: state at tick %d not added: event %d already has %d states\n";
const char* const kMsgTransitionsFull = "timeline: transition not added: the table holds %d transitions\n";

}  // namespace

// ---- Globals -------------------------------------------------------------------------
s_demo demo;

// ---- Internal functions --------------------------------------------------------------
namespace {

// Tick sums wrap at 32 bits instead of overflowing, so that (start + offset) -
// start gives back the offset whatever the file holds.
int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

int32_t WrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// The counts as far as they can be used to index the tables.
int EventsInUse() { return std::clamp<int32_t>(demo.numevents, 0, TIMELINE_MAX_EVENTS); }

int StatesInUse(const s_event& event) {
  return std::clamp<int32_t>(event.numstates, 0, TIMELINE_MAX_STATES);
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads up to `count` decimal integers after the line's first word, the way a
// scan with "%s %d %d ..." does: white space before each number is skipped, a
// sign is allowed, and scanning stops at the first field that is not a
// number; the fields it did not reach keep their values. Returns false (and
// changes nothing more) when a number does not fit 32 bits.
bool ScanFields(const char* line, int32_t* values, int count) {
  const char* p = line;
  while (*p != '\0' && IsBlank(*p)) ++p;
  while (*p != '\0' && !IsBlank(*p)) ++p;  // the keyword
  for (int i = 0; i < count; ++i) {
    while (*p != '\0' && IsBlank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    if (*p < '0' || *p > '9') return true;
    int64_t magnitude = 0;
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    for (; *p >= '0' && *p <= '9'; ++p) {
      magnitude = magnitude * 10 + (*p - '0');
      if (magnitude > limit) return false;
    }
    values[i] = static_cast<int32_t>(negative ? -magnitude : magnitude);
  }
  return true;
}

// True when the line's first word is exactly `keyword`.
bool HasKeyword(const char* line, const char* keyword) {
  const char* p = line;
  while (*p != '\0' && IsBlank(*p)) ++p;
  const size_t length = std::strlen(keyword);
  return std::strncmp(p, keyword, length) == 0 && (p[length] == '\0' || IsBlank(p[length]));
}

// What the reader carries from one line to the next.
struct s_timingreader {
  const char* filename;
  int linenumber;               // 1-based number of the line being read
  int32_t event[kEventFields];  // the last accepted event line's values
  int32_t state[kStateFields];  // the last accepted state line's values
  int32_t currentevent;         // slot of the last event line if it was accepted, else -1
  bool sawevent;                // an event line has been read (accepted or not)
};

void SkipLine(const s_timingreader& reader, const char* kind, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

void SkipLine(const s_timingreader& reader, const char* kind, const char* format, ...) {
  char reason[kReasonCapacity];
  va_list args;
  va_start(args, format);
  std::vsnprintf(reason, sizeof reason, format, args);
  va_end(args);
  std::printf(kMsgSkipped, reader.filename, reader.linenumber, kind, reason);
}

void ReadEventLine(s_timingreader& reader, const char* line) {
  int32_t values[kEventFields];
  std::copy(std::begin(reader.event), std::end(reader.event), values);
  // Whatever happens below, the states that follow belong to this line.
  reader.currentevent = -1;
  reader.sawevent = true;
  if (!ScanFields(line, values, kEventFields)) {
    SkipLine(reader, kKeywordEvent, "a number does not fit 32 bits");
    return;
  }
  const int32_t number = values[0];
  const int32_t transition = values[3];
  std::printf(kMsgEvent, values[0], values[1], values[2], values[3]);
  if (demo.numevents >= TIMELINE_MAX_EVENTS) {
    SkipLine(reader, kKeywordEvent, "the table already holds %d events", TIMELINE_MAX_EVENTS);
  } else if (number < 0 || number >= TIMELINE_MAX_EVENTS) {
    SkipLine(reader, kKeywordEvent, "event number %d is outside 0 to %d", number,
             TIMELINE_MAX_EVENTS - 1);
  } else if (number != demo.numevents) {
    SkipLine(reader, kKeywordEvent, "event number %d is not its position %d", number,
             demo.numevents);
  } else if (transition < 0 || transition >= TIMELINE_MAX_TRANSITIONS) {
    SkipLine(reader, kKeywordEvent, "transition index %d is outside 0 to %d", transition,
             TIMELINE_MAX_TRANSITIONS - 1);
  } else {
    std::copy(values, values + kEventFields, reader.event);
    reader.currentevent = number;
    AddEventTime(values[1], transition);
  }
}

void ReadStateLine(s_timingreader& reader, const char* line) {
  int32_t values[kStateFields];
  std::copy(std::begin(reader.state), std::end(reader.state), values);
  if (!ScanFields(line, values, kStateFields)) {
    SkipLine(reader, kKeywordState, "a number does not fit 32 bits");
    return;
  }
  std::printf(kMsgState, values[0], values[1]);
  const int32_t event = reader.currentevent;
  if (event < 0) {
    SkipLine(reader, kKeywordState, reader.sawevent ? "it belongs to a skipped event line"
                                                        : "no event line comes before it");
  } else if (demo.event[event].numstates >= TIMELINE_MAX_STATES) {
    SkipLine(reader, kKeywordState, "event %d already has %d states", event,
             TIMELINE_MAX_STATES);
  } else {
    std::copy(values, values + kStateFields, reader.state);
    AddEventState(WrapAdd(reader.event[1], values[1]), event, values[0]);
  }
}

// In an image mount a last line without a newline runs on into the next
// file's bytes; cut it where the file ends.
void ClipToFile(char* line, int position, int size) {
  const int64_t left = std::max<int64_t>(0, static_cast<int64_t>(size) - position);
  if (left < static_cast<int64_t>(std::strlen(line))) line[left] = '\0';
}

}  // namespace

// ---- Public functions ------------------------------------------------------------------
void InitTiming() {
  demo.numevents = 0;
  demo.currentevent = 0;
}

void AddEventTime(int32_t start, int32_t transition) {
  const int32_t index = demo.numevents;
  if (index < 0 || index >= TIMELINE_MAX_EVENTS) {
    std::printf(kMsgEventsFull, start, TIMELINE_MAX_EVENTS);
    return;
  }
  s_event& event = demo.event[index];
  event.time = start;
  event.numstates = 0;
  event.transition = transition;
  demo.numevents = index + 1;
}

void AddEventState(int32_t start, int32_t event, int32_t /*state*/) {
  if (event < 0 || event >= EventsInUse()) {
    std::printf(kMsgStateNoEvent, start, event);
    return;
  }
  s_event& target = demo.event[event];
  const int32_t index = target.numstates;
  if (index < 0 || index >= TIMELINE_MAX_STATES) {
    std::printf(kMsgStatesFull, start, event, TIMELINE_MAX_STATES);
    return;
  }
  target.stateoffset[index] = WrapSub(start, target.time);
  target.numstates = index + 1;
}

void AddTransition(int32_t shader, int32_t length, int32_t mode, float blendwidth, float custom) {
  const int32_t index = demo.numtransitions;
  if (index < 0 || index >= TIMELINE_MAX_TRANSITIONS) {
    std::printf(kMsgTransitionsFull, TIMELINE_MAX_TRANSITIONS);
    return;
  }
  demo.transition[index] = s_transition{shader, length, mode, blendwidth, custom};
  demo.numtransitions = index + 1;
}

void LoadTiming(const char* filename) {
  if (filename == nullptr) return;
  s_corefile file;
  if (!corefile_open(filename, &file, 0)) return;
  std::printf(kMsgLoad, filename, file.size);

  // Start from zero records, so that the slot after the last loaded event is
  // vacant even when an earlier load filled it.
  std::fill(std::begin(demo.event), std::end(demo.event), s_event{});
  demo.numevents = 0;

  s_timingreader reader{};
  reader.filename = filename;
  reader.currentevent = -1;
  char line[kLineCapacity];
  for (;;) {
    ++reader.linenumber;
    line[0] = '\0';
    const int before = corefile_tell(&file);
    corefile_gets(line, kLineCapacity, &file);
    const int after = corefile_tell(&file);
    ClipToFile(line, before, file.size);

    if (HasKeyword(line, kKeywordEvent)) {
      ReadEventLine(reader, line);
    } else if (HasKeyword(line, kKeywordState)) {
      ReadStateLine(reader, line);
    }

    if (corefile_feof(&file)) break;
    // A read that moves nothing will never reach the end (a truncated image).
    if (after == before) {
      std::printf(kMsgStalled, filename, reader.linenumber);
      break;
    }
  }
  corefile_close(&file);
}

int32_t GetTimingEvent(int32_t tick) {
  int32_t found = 0;
  const int count = EventsInUse();
  for (int i = 0; i < count; ++i) {
    if (demo.event[i].time <= tick) found = i;
  }
  return found;
}

int32_t GetTimingState(int32_t tick, int32_t event) {
  if (event < 0 || event >= EventsInUse()) return -1;
  const s_event& target = demo.event[event];
  int32_t found = -1;
  const int count = StatesInUse(target);
  for (int i = 0; i < count; ++i) {
    const int64_t start = static_cast<int64_t>(target.time) + target.stateoffset[i];
    if (start <= tick) found = i;
  }
  return found;
}

void UpdateDemoTiming(int32_t offset, int32_t ticklength) {
  // A length below 1 has no meaning (and 0 or -1 would trap the division).
  const int32_t tick = ticklength >= 1 ? offset / ticklength : 0;
  demo.offset = offset;
  demo.tick = tick;

  const int32_t current = GetTimingEvent(tick);
  const int32_t next = current + 1;  // at most TIMELINE_MAX_EVENTS: the vacant slot
  demo.currentevent = current;
  demo.nextevent = next;

  s_event& now = demo.event[current];
  s_event& incoming = demo.event[next];

  int32_t transition = incoming.transition;
  float length = 0.0f;
  if (transition >= 0 && transition < TIMELINE_MAX_TRANSITIONS) {
    length = static_cast<float>(demo.transition[transition].length);
  } else {
    transition = 0;  // outside the table: a hard cut
  }
  demo.activetransition = transition;

  const int32_t state = GetTimingState(tick, current);
  now.currentstate = state;
  incoming.currentstate = 0;
  // Before the event's first state the time counts from the event's start.
  const int32_t statestart = state >= 0 ? WrapAdd(now.time, now.stateoffset[state]) : now.time;
  now.statetime = WrapSub(tick, statestart);
  incoming.statetime = WrapSub(tick, WrapAdd(incoming.time, incoming.stateoffset[0]));

  const float start = static_cast<float>(incoming.time);
  float progress = step(start - length, start, static_cast<float>(tick));
  if (progress > 1.0f) progress = 1.0f;
  if (!(progress >= 0.0f)) progress = 0.0f;  // also a ratio that is not a number
  demo.progress = progress;
}

float step(float a, float b, float x) { return (x - a) / (b - a); }

float smoothstep(float a, float b, float x) {
  float r = (x - a) / (b - a);
  if (!(r > 0.0f)) r = 0.0f;  // also a ratio that is not a number
  if (r > 1.0f) r = 1.0f;
  return r * r * (3.0f - 2.0f * r);
}
