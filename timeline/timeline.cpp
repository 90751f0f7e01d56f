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
// Lines are at most 255 bytes (a longer one is read as several), and a NUL
// ends a line's text. These rules live in ReadTimingLine, which decides and
// prints nothing; LoadTiming feeds it the file's lines and does the printing
// and the table building, and the music generator feeds it the same file from
// memory (NextTimingLine cuts the lines the same way).
//
// The evaluation reads the tables only within their capacity: the incoming
// event is at most slot 256, the vacant slot kept after the last usable one,
// and a transition index outside the table counts as a zero-length transition
// at index 0 (a hard cut).
//
// Terms (tick, event, state, transition, vacant slot): see
// docs/ARCHITECTURE.md#glossary.
//
// Threads: main thread only, but for InitTimingReader, ReadTimingLine,
// FormatTimingSkip and NextTimingLine, which touch only their arguments (any
// thread).

#include "timeline/timeline.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "corefile/corefile.h"

// ---- Constants ---------------------------------------------------------------------
namespace {

constexpr int kEventFields = 4;       // number, start, unused, transition
constexpr int kStateFields = 2;       // number, offset
constexpr int kReasonCapacity = 128;  // bytes for the reason of a skipped line

// Every line this module prints. The first three are the file's echo; the
// rest carry the module's name.
const char* const kMsgLoad = "load timing %s, size: %d\n";
const char* const kMsgEvent = "- event: %d %d %d %d\n";
const char* const kMsgState = "- state: %d %d\n";
const char* const kMsgSkipped = "timeline: %s, line %d: %s line skipped: %s\n";
const char* const kMsgStalled = "timeline: %s, line %d: the file cannot be read further\n";
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
// number; the fields it did not reach keep their values. Returns the number
// of fields read, or -1 (with `values` partly changed) when a number does not
// fit 32 bits.
int ScanFields(const char* line, int32_t* values, int count) {
  const char* p = line;
  while (*p != '\0' && IsBlank(*p)) ++p;
  while (*p != '\0' && !IsBlank(*p)) ++p;  // the keyword
  for (int i = 0; i < count; ++i) {
    while (*p != '\0' && IsBlank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    if (*p < '0' || *p > '9') return i;
    int64_t magnitude = 0;
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    for (; *p >= '0' && *p <= '9'; ++p) {
      magnitude = magnitude * 10 + (*p - '0');
      if (magnitude > limit) return -1;
    }
    values[i] = static_cast<int32_t>(negative ? -magnitude : magnitude);
  }
  return count;
}

// True when the line's first word is exactly `keyword`.
bool HasKeyword(const char* line, const char* keyword) {
  const char* p = line;
  while (*p != '\0' && IsBlank(*p)) ++p;
  const size_t length = std::strlen(keyword);
  return std::strncmp(p, keyword, length) == 0 && (p[length] == '\0' || IsBlank(p[length]));
}

// Scans the line's numbers over the last accepted line's values into `line`.
// False when a number does not fit; `line` then keeps those values.
bool ScanLine(const char* text, const int32_t* previous, int count, s_timingline* line) {
  int32_t values[kEventFields];
  std::copy(previous, previous + count, values);
  line->fields = ScanFields(text, values, count);
  if (line->fields < 0) {
    line->fields = 0;
    line->skip = TIMELINE_SKIP_OVERFLOW;
    std::copy(previous, previous + count, line->value);
    return false;
  }
  std::copy(values, values + count, line->value);
  return true;
}

void ReadEventLine(s_timingreader* reader, const char* text, s_timingline* line) {
  line->kind = TIMELINE_LINE_EVENT;
  line->event = reader->numevents;
  // Whatever happens below, the states that follow belong to this line.
  reader->currentevent = -1;
  reader->sawevent = true;
  if (!ScanLine(text, reader->event, kEventFields, line)) return;
  const int32_t number = line->value[0];
  const int32_t transition = line->value[3];
  line->start = line->value[1];
  if (reader->numevents >= TIMELINE_MAX_EVENTS) {
    line->skip = TIMELINE_SKIP_EVENTSFULL;
  } else if (number < 0 || number >= TIMELINE_MAX_EVENTS) {
    line->skip = TIMELINE_SKIP_EVENTRANGE;
  } else if (number != reader->numevents) {
    line->skip = TIMELINE_SKIP_EVENTPOSITION;
  } else if (transition < 0 || transition >= TIMELINE_MAX_TRANSITIONS) {
    line->skip = TIMELINE_SKIP_TRANSITION;
  } else {
    std::copy(line->value, line->value + kEventFields, reader->event);
    reader->currentevent = number;
    reader->numevents = number + 1;
    reader->numstates = 0;
  }
}

void ReadStateLine(s_timingreader* reader, const char* text, s_timingline* line) {
  line->kind = TIMELINE_LINE_STATE;
  line->event = reader->currentevent;
  if (!ScanLine(text, reader->state, kStateFields, line)) return;
  line->start = WrapAdd(reader->event[1], line->value[1]);
  if (reader->currentevent < 0) {
    line->skip = reader->sawevent ? TIMELINE_SKIP_SKIPPEDEVENT : TIMELINE_SKIP_NOEVENT;
  } else if (reader->numstates >= TIMELINE_MAX_STATES) {
    line->skip = TIMELINE_SKIP_STATESFULL;
  } else {
    std::copy(line->value, line->value + kStateFields, reader->state);
    reader->numstates++;
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

  s_timingreader reader;
  InitTimingReader(&reader);
  char text[TIMELINE_LINECAPACITY];
  char reason[kReasonCapacity];
  for (;;) {
    text[0] = '\0';
    const int before = corefile_tell(&file);
    corefile_gets(text, TIMELINE_LINECAPACITY, &file);
    const int after = corefile_tell(&file);
    ClipToFile(text, before, file.size);

    const s_timingline line = ReadTimingLine(&reader, text);
    if (line.kind != TIMELINE_LINE_OTHER) {
      const bool isevent = line.kind == TIMELINE_LINE_EVENT;
      // A line whose numbers could not be read is not echoed.
      if (line.skip != TIMELINE_SKIP_OVERFLOW) {
        if (isevent) {
          std::printf(kMsgEvent, line.value[0], line.value[1], line.value[2], line.value[3]);
        } else {
          std::printf(kMsgState, line.value[0], line.value[1]);
        }
      }
      if (line.skip != TIMELINE_SKIP_NONE) {
        FormatTimingSkip(&line, reason, sizeof reason);
        std::printf(kMsgSkipped, filename, reader.linenumber,
                    isevent ? TIMELINE_KEYWORD_EVENT : TIMELINE_KEYWORD_STATE, reason);
      } else if (isevent) {
        AddEventTime(line.start, line.value[3]);
      } else {
        AddEventState(line.start, line.event, line.value[0]);
      }
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

void InitTimingReader(s_timingreader* reader) {
  *reader = s_timingreader{};
  reader->currentevent = -1;
}

s_timingline ReadTimingLine(s_timingreader* reader, const char* text) {
  s_timingline line{};
  line.event = -1;
  ++reader->linenumber;
  if (HasKeyword(text, TIMELINE_KEYWORD_EVENT)) {
    ReadEventLine(reader, text, &line);
  } else if (HasKeyword(text, TIMELINE_KEYWORD_STATE)) {
    ReadStateLine(reader, text, &line);
  }
  return line;
}

void FormatTimingSkip(const s_timingline* line, char* dst, int capacity) {
  if (capacity <= 0) return;
  const size_t size = static_cast<size_t>(capacity);
  switch (line->skip) {
    case TIMELINE_SKIP_OVERFLOW:
      std::snprintf(dst, size, "a number does not fit 32 bits");
      break;
    case TIMELINE_SKIP_EVENTSFULL:
      std::snprintf(dst, size, "the table already holds %d events", TIMELINE_MAX_EVENTS);
      break;
    case TIMELINE_SKIP_EVENTRANGE:
      std::snprintf(dst, size, "event number %d is outside 0 to %d", line->value[0], TIMELINE_MAX_EVENTS - 1);
      break;
    case TIMELINE_SKIP_EVENTPOSITION:
      std::snprintf(dst, size, "event number %d is not its position %d", line->value[0], line->event);
      break;
    case TIMELINE_SKIP_TRANSITION:
      std::snprintf(dst, size, "transition index %d is outside 0 to %d", line->value[3],
                    TIMELINE_MAX_TRANSITIONS - 1);
      break;
    case TIMELINE_SKIP_NOEVENT:
      std::snprintf(dst, size, "no event line comes before it");
      break;
    case TIMELINE_SKIP_SKIPPEDEVENT:
      std::snprintf(dst, size, "it belongs to a skipped event line");
      break;
    case TIMELINE_SKIP_STATESFULL:
      std::snprintf(dst, size, "event %d already has %d states", line->event, TIMELINE_MAX_STATES);
      break;
    default:
      dst[0] = '\0';
      break;
  }
}

bool NextTimingLine(const char* text, size_t size, size_t* position, char* line, int capacity) {
  if (capacity <= 0) return false;
  line[0] = '\0';
  if (*position >= size) return false;
  const size_t room = std::min(static_cast<size_t>(capacity - 1), size - *position);
  const char* begin = text + *position;
  const void* newline = std::memchr(begin, '\n', room);
  const size_t length = newline ? static_cast<size_t>(static_cast<const char*>(newline) - begin) + 1 : room;
  std::memcpy(line, begin, length);
  line[length] = '\0';
  *position += length;
  return true;
}

void ScanTiming(const char* text, size_t size, s_timingscan* scan) {
  *scan = s_timingscan{};
  s_timingreader reader;
  InitTimingReader(&reader);
  char line[TIMELINE_LINECAPACITY];
  size_t position = 0;
  while (NextTimingLine(text, size, &position, line, TIMELINE_LINECAPACITY)) {
    const s_timingline read = ReadTimingLine(&reader, line);
    if (read.kind == TIMELINE_LINE_EVENT) scan->eventlines++;
    if (read.skip != TIMELINE_SKIP_NONE) {
      if (scan->skipped++ == 0) {
        scan->firstskipline = reader.linenumber;
        FormatTimingSkip(&read, scan->firstskip, sizeof scan->firstskip);
      }
    } else if (read.kind == TIMELINE_LINE_EVENT) {
      scan->start[read.event] = read.start;
    }
  }
  scan->numevents = reader.numevents;
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
