// capture_source: the frame source of sprox-capture: the real engine in its
// real window, driven by the capture's fixed clock.
//
// It runs the show's own start-up (with the silent audio output, the music
// not started), and renders each frame through the same frame body the
// window uses, at an offset and a clock the capture chooses. While a frame is
// rendered the clock stands still at the chosen time: the transition and post
// passes read it (effects_clock) after the scene passes have run for an
// unknown while, and a clock that moved on meanwhile would make no two
// captures alike.
//
// Terms (clock, fixed clock, frame body, window framebuffer, picture frame):
// see docs/ARCHITECTURE.md#glossary.
//
// Threads: main thread only (it owns the GL context).
#pragma once

#include <cstdint>

#include "tools/capture/capture.h"

// Starts the engine: silent audio output, the show's start-up sequence. With
// `offscreen` the framebuffers are width x height and the post pass draws
// into one more of that size, which capturesource_read reads; otherwise the
// frames are the window's, which must be EFFECTS_WIDTH x EFFECTS_HEIGHT.
// Returns 1, or 0 with a reason. When the data cannot be mounted at all it
// does not return: right after the mount, before the window opens, it says
// why and what to do on standard error and ends the program with status 1.
int capturesource_start(int32_t width, int32_t height, bool offscreen, char* message, int capacity);
// After capturesource_start: 1 when the engine loaded music it can play,
// else 0 with the reason (a music without sample frames or sample rate would
// only stop the encoder).
int capturesource_hasmusic(char* reason, int capacity);
// The event starts of the loaded timeline.
void capturesource_timeline(s_capturetimeline* timeline);
// Renders one frame at the offset with the clock held at `clock` seconds, and
// fills the record with what it showed and the time the GL work took.
void capturesource_render(int64_t frame, int32_t offset, double clock, s_captureframe* record);
// Reads the frame into rgb, top-down rows; bottomup is scratch of the same
// size (width x height x 3 bytes each, the size capturesource_start took).
void capturesource_read(uint8_t* rgb, uint8_t* bottomup);
// Presents the frame as the show does (swap and event polling). Returns 0
// once the window was asked to close (Escape or the window system).
int capturesource_present();
// After capturesource_present: the number of pixels in which the window's
// picture, as the X server holds it, differs from rgb (top-down rows); -1
// when the window system cannot tell (for instance a window hidden or not
// mapped on a compositing display).
int64_t capturesource_windowdiffers(const uint8_t* rgb);
// Closes the audio output and the window system; harmless when nothing was started.
void capturesource_stop();
