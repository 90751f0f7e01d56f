// demo: the driver of the show: start-up sequence, one frame's body, and the
// keyboard handler.
//
// The `sprox` executable and the capture tool both drive the show through this
// header, so the window never shows anything the capture would not: both call
// Demo_Startup once, then Demo_RenderFrame for every frame with the offset
// they choose (the window passes the music's playback clock, the capture its
// own frame clock), and present the frame themselves.
//
// Glossary: an offset is a position in the music in sample frames (44100 a
// second); a tick is 2739 sample frames; scene A and scene B are the two
// offscreen framebuffers of the event in force and of the incoming event; the
// composite is their blend, which the post pass draws into the window.
//
// Threads: everything here runs on the main thread, which owns the GL context.
// key_callback is called by GLFW from inside GFX_SwapBuffers (event polling).
#pragma once

#include <cstdint>

#include "effects/effects.h"
#include "sound/sound.h"
#include "timeline/timeline.h"

struct GLFWwindow;

// ---- Constants ----------------------------------------------------------------
// The window and the three framebuffers are the show's picture size
// (EFFECTS_WIDTH x EFFECTS_HEIGHT), the sound system runs at
// AUDIO_DEVICE_RATE and a tick is TIMELINE_TICKLENGTH sample frames.
constexpr int DEMO_LASTSCENE = EFFECTS_NUM_SCENES - 1;  // an event above this (the end mark) ends the show
constexpr const char* DEMO_IMAGENAME = "sprox.dat";    // the resource image, beside the program
constexpr const char* DEMO_TITLE = "Keldrun - Sprox";  // the window's title
constexpr const char* DEMO_MUSICNAME = "sprox8a.wav";  // the music in the resource image
constexpr const char* DEMO_TIMINGNAME = "timing.dat";  // the timeline in the resource image
// Sample frames per tick used when seeking to an event: slightly above the
// tick length, so the tick reached is never before the event's start.
constexpr double DEMO_SEEKFRAMESPERTICK = 2739.7916666666665;

// ---- Globals --------------------------------------------------------------------
extern int32_t fx1_framebuffer_id;  // scene A: the event in force
extern int32_t fx2_framebuffer_id;  // scene B: the incoming event during a transition
extern int32_t framebuffer_id;      // composite: A and B blended by the transition shader
extern s_sound snd_demomusic;       // the music; its playback offset is the show's clock
extern bool showdebug;              // debug mode: unlocks Enter and the arrow keys
extern bool demopaused;             // the music is paused by the Enter key

// ---- Driver ----------------------------------------------------------------------
// Start-up, once, main thread: mounts "sprox.dat", opens the 1280x720 window
// (ends the program through error() when it cannot), installs key_callback,
// creates the three framebuffers, starts the sound system and loads the music,
// presents one frame, loads every image and shader, registers the five
// transitions, reads "timing.dat" and, when play_music is true, starts the
// music. The capture tool passes false and selects its audio output first.
void Demo_Startup(bool play_music);

// The body of one frame, main thread: evaluates the timeline at `offset`
// (sample frames), sets the window's close flag once the event in force is
// above 14 (the frame is still drawn), renders the event in force into scene
// A, the incoming event into scene B while a transition runs, blends them into
// the composite and draws it through the post shader into the window's
// framebuffer. Does not swap: the caller presents (GFX_SwapBuffers) or reads
// the pixels back.
void Demo_RenderFrame(int32_t offset);

// ---- Observer ----------------------------------------------------------------------
// Points in the start-up sequence and in one frame, reported to demo_mark in
// this order: each start-up mark right after its steps end (the window mark
// covers the key handler and the framebuffers, the sound mark the music, the
// timing mark the transitions and the timing file), each pass mark right
// before that pass begins (scene B only while a transition runs), and
// DEMO_MARK_FRAME_END after the post pass.
enum DemoMark {
  DEMO_MARK_MOUNTED,
  DEMO_MARK_WINDOW,
  DEMO_MARK_SOUND,
  DEMO_MARK_IMAGES,
  DEMO_MARK_SHADERS,
  DEMO_MARK_TIMING,
  DEMO_MARK_SCENE_A,
  DEMO_MARK_SCENE_B,
  DEMO_MARK_TRANSITION,
  DEMO_MARK_POST,
  DEMO_MARK_FRAME_END,
};
// Called with each mark when not null (main thread); null in the show. The
// capture tool's timing report sets it to time the start-up and the passes.
extern void (*demo_mark)(int mark);

// ---- Keys -------------------------------------------------------------------------
// GLFW key callback, main thread (inside GFX_SwapBuffers). Escape closes the
// window; Tab flips debug mode; in debug mode Enter pauses or resumes the
// music and Left/Right seek to the previous or next event's start. Only
// presses count.
void key_callback(GLFWwindow* window, int key, int scancode, int action, int mods);
