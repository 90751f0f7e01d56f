// demo/pacing.h: frame statistics and the automatic render scale of the
// `sprox` frame loop (see pacing.cpp). The capture tool renders at scale 1
// and never calls these.
//
// Threads: main thread only.
#pragma once

#include <cstdio>

// After Demo_Startup: picks the frame target from the monitor's refresh rate
// and, with `automatic`, lets the scale follow the frame rate.
void Pacing_Start(bool automatic);
// Around the frame's GL work: times it on the GPU where the driver can.
void Pacing_FrameBegin();
void Pacing_FrameEnd();
// The GPU time of a recent frame in milliseconds, or -1 while none was
// measured (no timer queries, or neither the automatic scale nor debug mode on).
double Pacing_GpuMilliseconds();
// Right after each buffer swap, with the steady clock in seconds.
void Pacing_Swapped(double now);
// The one line --stats prints at exit.
void Pacing_PrintStats(FILE* out);
