// timeline: the one timeline record `demo`, the timing file reader and the
// per-frame evaluation of the playback offset.
//
// Glossary: a tick is a fixed number of the music's sample frames (2739 at
// 44100 Hz, about 62.1 ms); an event is a scene of the show, a state a step
// inside it; a transition blends the event in force into the incoming one
// during the last `length` ticks before the incoming event's start.
//
// Threads: main thread only.
#pragma once

#include <cstdint>

constexpr int TIMELINE_MAX_EVENTS = 256;
constexpr int TIMELINE_MAX_STATES = 32;
constexpr int TIMELINE_MAX_TRANSITIONS = 64;

struct s_transition {
  int32_t shader;    // shader id of the transition's fragment shader
  int32_t length;    // ticks; occupies the last `length` ticks before the incoming event
  int32_t mode;      // handed to the shader as "mode"
  float blendwidth;  // soft edge of the blend curve
  float custom;      // handed to the shader as "custom"
};

struct s_event {
  int32_t time;                              // start, in ticks from the start of the music
  int32_t numstates;                         // states in use (0 to 32)
  int32_t stateoffset[TIMELINE_MAX_STATES];  // start of each state, ticks relative to `time`
  int32_t currentstate;                      // state in force, or -1 (written each frame)
  int32_t statetime;                         // ticks since the state in force began (written each frame)
  int32_t transition;                        // index of the transition that leads into this event
};

struct s_demo {
  // 256 usable events plus one slot that is never filled: while the last
  // event is in force, the incoming event is that zeroed slot.
  s_event event[TIMELINE_MAX_EVENTS + 1];
  s_transition transition[TIMELINE_MAX_TRANSITIONS];
  int32_t numevents;
  int32_t numtransitions;
  int32_t offset;            // playback offset of the frame, in sample frames
  int32_t tick;              // the same instant in ticks
  int32_t currentevent;      // event in force
  int32_t nextevent;         // currentevent + 1, the incoming event
  int32_t activetransition;  // transition into the incoming event
  float progress;            // 0.0 to 1.0
};

extern s_demo demo;

void InitTiming();
void AddEventTime(int32_t start, int32_t transition);
void AddEventState(int32_t start, int32_t event, int32_t state);
void AddTransition(int32_t shader, int32_t length, int32_t mode, float blendwidth, float custom);
void LoadTiming(const char* filename);
int32_t GetTimingEvent(int32_t tick);
int32_t GetTimingState(int32_t tick, int32_t event);
void UpdateDemoTiming(int32_t offset, int32_t ticklength);
// A linear ramp through 0 at a and 1 at b, not clamped.
float step(float a, float b, float x);
// (x - a) / (b - a) clamped to 0..1, shaped as r*r*(3 - 2r).
float smoothstep(float a, float b, float x);
