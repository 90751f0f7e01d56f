// timeline: the one timeline record `demo`, the timing file reader and the
// per-frame evaluation of the playback offset.
//
// The show is a row of events (scenes) on a time axis of ticks; each event is
// made of states (steps inside the scene). The driver registers the
// transitions, then `InitTiming` and `LoadTiming` fill the event table from
// the text file "timing.dat" once. Every frame `UpdateDemoTiming` turns the
// music's playback offset into the event in force, the incoming event, the
// state in force with its running time, and the progress of the transition
// into the incoming event. The music is the only clock: nothing here keeps
// state between frames.
//
// Terms (tick, event, end mark, state, transition, vacant slot): see
// docs/ARCHITECTURE.md#glossary.
//
// Tables never grow past their capacity: the append operations refuse an
// entry that does not fit (one printed line) and the loader skips lines that
// would break the table's rules (one printed line each).
//
// Threads: main thread only; there is no lock. The line reader (InitTimingReader
// to NextTimingLine) touches only its arguments and may run on any thread.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Capacities ----------------------------------------------------------------
constexpr int TIMELINE_MAX_EVENTS = 256;      // usable event slots
constexpr int TIMELINE_MAX_STATES = 32;       // states per event
constexpr int TIMELINE_MAX_TRANSITIONS = 64;  // registered transitions

// ---- Time grid -------------------------------------------------------------------
constexpr int32_t TIMELINE_TICKLENGTH = 2739;  // the show's sample frames per tick (44100 Hz music)

// ---- Types ---------------------------------------------------------------------
struct s_transition {
  int32_t shader;    // shader id of the transition's fragment shader
  int32_t length;    // ticks; occupies the last `length` ticks before the incoming event
  int32_t mode;      // handed to the shader as "mode"
  float blendwidth;  // soft edge of the blend curve, as a fraction of the progress range
  float custom;      // handed to the shader as "custom"
};

struct s_event {
  int32_t time;                              // start, in ticks from the start of the music
  int32_t numstates;                         // states in use (0 to 32)
  int32_t stateoffset[TIMELINE_MAX_STATES];  // start of each state, ticks relative to `time`
  int32_t currentstate;                      // state in force, or -1 (written each frame)
  int32_t statetime;                         // ticks since the state in force began (written each frame)
  int32_t transition;                        // index into demo.transition of the transition into this event
};

struct s_demo {
  // 256 usable events plus one slot that is never filled: while the last
  // event is in force, the incoming event is that zeroed slot. Only the
  // evaluation's outputs (currentstate, statetime) are ever written there.
  s_event event[TIMELINE_MAX_EVENTS + 1];
  s_transition transition[TIMELINE_MAX_TRANSITIONS];
  int32_t numevents;         // events in use (0 to 256)
  int32_t numtransitions;    // transitions in use (0 to 64)
  int32_t offset;            // playback offset of the frame, in sample frames
  int32_t tick;              // the same instant in ticks
  int32_t currentevent;      // event in force
  int32_t nextevent;         // currentevent + 1, the incoming event (1 to 256)
  int32_t activetransition;  // transition into the incoming event, always 0 to 63
  float progress;            // how far that transition has run, 0.0 to 1.0
};

// ---- Globals -------------------------------------------------------------------
// The one timeline record, zero at program start.
extern s_demo demo;

// ---- Building the record ---------------------------------------------------------
// Sets numevents and currentevent to 0; transitions and slot contents stay.
void InitTiming();
// Appends an event starting at `start` (ticks) entered through the transition
// with index `transition`; refused with one line when the table is full.
void AddEventTime(int32_t start, int32_t transition);
// Appends a state of event `event` starting at tick `start` (absolute); it is
// stored relative to the event's start. `state` is not used. Refused with one
// line when the event is not in use or already has 32 states.
void AddEventState(int32_t start, int32_t event, int32_t state);
// Appends a transition; refused with one line when 64 are registered.
void AddTransition(int32_t shader, int32_t length, int32_t mode, float blendwidth, float custom);
// Reads a timing file of the mount into the event table (nothing happens when
// it cannot be opened). Prints the file's size and every event and state
// line; lines that would break the table are skipped with one line each.
void LoadTiming(const char* filename);

// ---- Reading timing files line by line ---------------------------------------------
// The timing file's rules in one place: LoadTiming reads the show's file with
// them, and the music generator reads the same file with them, so the music's
// sections are keyed to exactly the events the show plays. Nothing here
// prints or touches `demo`: a line goes in, a record of what it says comes out.
constexpr int TIMELINE_LINECAPACITY = 256;       // bytes of a line buffer, terminator included
constexpr const char* TIMELINE_KEYWORD_EVENT = "event";
constexpr const char* TIMELINE_KEYWORD_STATE = "state";

// What kind of line it is.
enum timeline_linekind { TIMELINE_LINE_OTHER = 0, TIMELINE_LINE_EVENT, TIMELINE_LINE_STATE };

// Why a line of the file changes nothing (see timeline.cpp for the rules).
enum timeline_skip {
  TIMELINE_SKIP_NONE = 0,
  TIMELINE_SKIP_OVERFLOW,       // a number does not fit 32 bits; nothing of the line was taken
  TIMELINE_SKIP_EVENTSFULL,     // event line: the table already holds 256 events
  TIMELINE_SKIP_EVENTRANGE,     // event line: its number lies outside 0 to 255
  TIMELINE_SKIP_EVENTPOSITION,  // event line: its number is not its position among the events
  TIMELINE_SKIP_TRANSITION,     // event line: its transition index lies outside 0 to 63
  TIMELINE_SKIP_NOEVENT,        // state line: no event line comes before it
  TIMELINE_SKIP_SKIPPEDEVENT,   // state line: the event line before it was skipped
  TIMELINE_SKIP_STATESFULL,     // state line: its event already has 32 states
};

// What the reader carries from one line to the next.
struct s_timingreader {
  int32_t linenumber;    // lines handed in so far: the 1-based number of the last one
  int32_t event[4];      // the last accepted event line's number, start, unused value, transition
  int32_t state[2];      // the last accepted state line's number and offset (ticks)
  int32_t currentevent;  // slot of the last event line if it was accepted, else -1
  int32_t numevents;     // event lines accepted
  int32_t numstates;     // state lines accepted for currentevent
  bool sawevent;         // an event line has been read (accepted or not)
};

// One line as read.
struct s_timingline {
  int32_t kind;      // timeline_linekind
  int32_t skip;      // timeline_skip; TIMELINE_SKIP_NONE for a line that is taken
  int32_t fields;    // numbers the line itself gave; the others kept the last accepted line's
  int32_t value[4];  // event: number, start, unused, transition; state: number, offset (ticks)
  int32_t event;     // event line: the slot it fills; state line: the event it joins (-1 if none)
  int32_t start;     // absolute start tick: the event's, or the event's start + the state's offset
};

// Puts a reader at the start of a file.
void InitTimingReader(s_timingreader* reader);
// Reads one line of a timing file (a C string, at most one line, its line
// break included or not) and advances the reader. A taken event line is the
// next event with `start` and transition value[3]; a taken state line is a
// state of `event` at `start`.
s_timingline ReadTimingLine(s_timingreader* reader, const char* line);
// The reason of a skipped line in words ("event number 5 is not its
// position 1"), as LoadTiming prints it; empty for a line that is taken.
void FormatTimingSkip(const s_timingline* line, char* dst, int capacity);
// Copies the next line of a timing file held in memory (text, size bytes) from
// *position on into `line`, as LoadTiming reads a file: through the line break
// or capacity - 1 bytes, whichever comes first, and NUL-terminated. Returns
// false, leaving `line` empty, when nothing is left.
bool NextTimingLine(const char* text, size_t size, size_t* position, char* line, int capacity);

// What a timing file would give, read without touching `demo`: the makers'
// mode checks a saved file with it before it takes the place of the table in
// force. Lines are cut and judged exactly as LoadTiming cuts and judges them.
struct s_timingscan {
  int32_t numevents;                    // events the table would hold
  int32_t eventlines;                   // event lines in the file, taken or skipped
  int32_t skipped;                      // lines LoadTiming would skip
  int32_t firstskipline;                // 1-based number of the first of them, 0 when none
  char firstskip[128];                  // its reason in words ("transition index 9 is outside 0 to 63")
  int32_t start[TIMELINE_MAX_EVENTS];   // start tick of each event the table would hold
};
// Reads the timing file held in memory (text, size bytes) into `scan`.
void ScanTiming(const char* text, size_t size, s_timingscan* scan);

// ---- Lookups and evaluation ---------------------------------------------------------
// The last event in table order whose start is at most `tick`; 0 if none.
int32_t GetTimingEvent(int32_t tick);
// The last state of `event` in table order that has begun at `tick`; -1 if
// none has, or if `event` is not an event in use.
int32_t GetTimingState(int32_t tick, int32_t event);
// Evaluates the record for a playback offset (sample frames) and a tick
// length (sample frames; a length below 1 is taken as tick 0). Once a frame.
void UpdateDemoTiming(int32_t offset, int32_t ticklength);

// ---- Curves (single precision) --------------------------------------------------------
// A linear ramp through 0 at a and 1 at b, not clamped: (x - a) / (b - a).
float step(float a, float b, float x);
// (x - a) / (b - a) clamped to 0..1 (not a number becomes 0), shaped as r*r*(3 - 2r).
float smoothstep(float a, float b, float x);
