// dev: the makers' tools: the development mount with live reload, the
// scrub keys and the debug read-out in the window title.
//
// Development mount: Dev_Start mounts a folder that holds the image's files
// (the build's build/dev, links into content/ and the generated assets, or
// an unpacked copy of sprox.dat), watches the real folders behind its files
// with inotify and switches debug mode on. A shader in it that begins with
// "#version" is compiled as it stands; any other gets the pack step's head
// (effects/shaderhead.h, with the folder's prelude.glsl). Saved
// changes (a file closed after writing, or one renamed over the old name)
// are reloaded about 100 ms after the last of them, from Dev_Frame:
//   a shader      recompiled and relinked under the same shader id; when it
//                 fails the old program stays, the compiler's lines are
//                 printed as FILE:LINE: and the first shows in the title
//                 until the next good compile
//   prelude.glsl  every shader that gets the head, again
//   an image      decoded and replaced in its texture under the same GL name
//   timing.dat    the event table read again; the music stays where it is
//                 (a file the show cannot use is refused, the old table stays)
//   sprox8a.wav   swapped under the mixer's lock at the same place (clamped)
// Each reload prints one line "dev: ..." with what and how long it took.
//
// The end mark pauses the show instead of ending it: only Escape or the
// window ends the makers' mode.
//
// Scrub keys, in debug mode with or without the mount (beside Enter and the
// arrows of keys.cpp): Up / Down the next / previous beat line (8 ticks),
// Page Up / Page Down the next / previous bar line (32 ticks), Home the
// start, Space pause and resume (the pause holds through seeks), L loops the
// event in force from its start to the next event's start until pressed
// again. "Next" and "previous" are the nearest line after or before the
// tick in force, never the tick itself; a seek puts the music at exactly
// tick x 2739 sample frames, so the frame loop lands on the named tick.
//
// Read-out: in debug mode the title reads, 4 times a second,
//   Keldrun - Sprox | event 8 state 3 | tick 2112 | bar 66.1 | 59.8 fps | 4.1 ms
// (bar B.b: tick / 32 and the beat 1 to 4 inside it; GL milliseconds per
// frame from a timer query read a frame late, "-" without one); leaving
// debug mode puts the plain title back. The title is formatted into a fixed
// buffer: nothing is allocated per frame.
//
// Threads: main thread only (GL context); Dev_Key runs inside
// GFX_SwapBuffers, from key_callback.
#pragma once

// Mounts `dir` as a directory (unless it is the mount in force already),
// starts watching it and switches debug mode on. Call before Demo_Startup
// (the shaders it loads get the head). Returns 1, or 0 with one line when
// the folder cannot be mounted or holds no files.
int Dev_Start(const char* dir);
// Once per frame, before the music's offset is read: applies the reloads
// that are due, keeps the loop, refreshes the title.
void Dev_Frame();
// Reloads the mount's file `name` now, as a saved change does (shader,
// prelude, image, timing file or music). A timing file the show cannot use
// (no events, no end mark, an end mark at or before the tick in force, lines
// the reader would skip, more events than the table holds) is refused with
// its reason and the event table in force stays. Returns 0 for a name that is none
// of these, 1 otherwise (whether the new file was taken or refused).
int Dev_Reload(const char* name);
// The scrub keys; key_callback calls it for every press in debug mode.
void Dev_Key(int key);
// True once Dev_Start has mounted a folder: the makers' mode is on, and the
// show never ends on its own.
bool Dev_Active();
// The frame's event is the end mark: in the makers' mode the music pauses
// there (one line says so; Home, the other seek keys or the arrows go on)
// and this returns true; outside it, false (the show ends).
bool Dev_HoldAtEnd();
