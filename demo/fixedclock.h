// demo/fixedclock.h: the fixed clock that renders the show without a sound
// card, frame by frame at a chosen rate, so that the same frame number always
// shows the same picture.
//
// Everything is whole numbers: frame n at fps frames a second shows playback
// offset n x 44100 / fps sample frames (truncated, 64-bit), with the window
// system's clock at n / fps seconds, so a clock at 60 fps steps 735 sample
// frames a frame and one at 30 fps 1470, with no drift however long the show.
// Converting back (the first frame at or after an offset or a time) rounds
// up, so a range [first, end) holds exactly the frames whose offset (or time)
// lies in the half-open interval asked for.
//
// The capture tool (sprox-capture) renders on this clock, and the web page's
// single frame (?at=) shows the frame the capture's --at shows; the names
// are the capture's, whose clock this is.
//
// Threads: any; nothing here keeps state.
#pragma once

#include <cstdint>

// ---- Constants ----------------------------------------------------------------
constexpr int32_t CAPTURE_DEFAULT_FPS = 60;  // frames a second
constexpr int64_t CAPTURE_US = 1000000;      // microseconds a second

// ---- Frame clock ------------------------------------------------------------------
// The playback offset of frame n: n x 44100 / fps sample frames, truncated.
int64_t capture_frameoffset(int64_t frame, int32_t fps);
// The window system's clock for frame n: n / fps seconds.
double capture_frameclock(int64_t frame, int32_t fps);
// The first frame whose offset is at least the given offset.
int64_t capture_firstframefrom(int64_t offset, int32_t fps);
// The first frame whose time (n / fps) is at least the given time.
int64_t capture_firstframeafter(int64_t time_us, int32_t fps);
// The frame on screen at the given time: the last one that starts at or before it.
int64_t capture_frameat(int64_t time_us, int32_t fps);
