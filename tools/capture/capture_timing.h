// capture_timing: where the capture's time goes, measured through the demo's
// observer hook (demo_mark): the engine's start-up steps on the steady clock,
// and each pass of a frame on the GL clock with timer queries.
//
// A frame's passes are timed with one GL timestamp query at each pass mark and
// one at the end of the frame (glQueryCounter with GL_TIMESTAMP, from
// GL_ARB_timer_query); a pass lasts from its mark to the next one issued. The
// capture reads the results after its glFinish, when they are all there, so
// nothing waits on the GL. Without the extension the passes are not timed.
//
// Terms (mark, pass): see docs/ARCHITECTURE.md#glossary.
//
// Threads: main thread only (the demo reports its marks there, with the GL
// context current).
#pragma once

#include "tools/capture/capture.h"

// Sets demo_mark to the timing observer; call right before Demo_Startup: the
// first step is timed from here.
void capturetiming_install();
// Each start-up step's time in milliseconds, -1 for a step whose mark was not seen.
void capturetiming_startup(double step_ms[CAPTURE_STEPS]);
// After a frame and its glFinish: each pass's GL time in milliseconds, -1
// for a pass that did not run (scene B outside a transition) or when the
// passes are not timed. Returns true when they are timed.
bool capturetiming_passes(double pass_ms[CAPTURE_PASSES]);
// True once a frame has been rendered on a driver with timer queries.
bool capturetiming_timed();
