// demo/dev_internal.h: what the two halves of the makers' tools share:
// demo/dev.cpp (mount, watch, reloads) and demo/dev_readout.cpp (scrub keys,
// loop, title).
//
// Threads: main thread only.
#pragma once

constexpr int DEV_ERROR_BYTES = 256;  // the failed compile's line shown in the title, terminator included

// The first compiler line of the last failed shader compile ("post.glsl:12:
// error: ..."), or "" once a compile has succeeded again.
extern char dev_error[DEV_ERROR_BYTES];

// demo/dev_readout.cpp: the loop and the title, once a frame (part of Dev_Frame).
void devreadout_frame();

// True once Dev_Start has mounted its folder (demo/dev.cpp).
extern bool dev_active;
