// capture_timing: the timing observer behind the capture report's start-up
// and pass splits (see capture_timing.h).
//
// Threads: main thread only.
#include "tools/capture/capture_timing.h"

#include <chrono>

#include "demo/demo.h"
#include "gfx/gl.h"

// ---- Constants -------------------------------------------------------------------
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kQueries = CAPTURE_PASSES + 1;  // one per pass mark and the frame's end
constexpr double kNsPerMs = 1e6;

// ---- Globals ------------------------------------------------------------------------
struct s_timingstate {
  Clock::time_point start;                  // when the observer was installed
  Clock::time_point marks[CAPTURE_STEPS];   // when each start-up step ended
  bool seen[CAPTURE_STEPS];                 // the step's mark was reported
  int timer;                                // timer queries: -1 not asked yet, 0 none, 1 available
  GLuint queries[kQueries];                 // timestamp queries: the passes' marks, then the frame's end
  bool issued[kQueries];                    // the query was issued in the frame now ending
};
s_timingstate g_timing;

// ---- Internal functions ---------------------------------------------------------------
// The first pass mark comes after the window exists: the extension is
// looked up there, and the queries are made once.
bool timer_ready() {
  if (g_timing.timer < 0) {
    g_timing.timer = GLEW_ARB_timer_query ? 1 : 0;
    if (g_timing.timer) glGenQueries(kQueries, g_timing.queries);
  }
  return g_timing.timer == 1;
}

void on_mark(int mark) {
  if (mark >= DEMO_MARK_MOUNTED && mark <= DEMO_MARK_TIMING) {
    g_timing.marks[mark - DEMO_MARK_MOUNTED] = Clock::now();
    g_timing.seen[mark - DEMO_MARK_MOUNTED] = true;
    return;
  }
  if (mark < DEMO_MARK_SCENE_A || mark > DEMO_MARK_FRAME_END || !timer_ready()) return;
  const int slot = mark - DEMO_MARK_SCENE_A;
  glQueryCounter(g_timing.queries[slot], GL_TIMESTAMP);
  g_timing.issued[slot] = true;
}

}  // namespace

// ---- Public functions ------------------------------------------------------------------
void capturetiming_install() {
  g_timing = s_timingstate{};
  g_timing.timer = -1;
  g_timing.start = Clock::now();
  demo_mark = on_mark;
}

void capturetiming_startup(double step_ms[CAPTURE_STEPS]) {
  Clock::time_point previous = g_timing.start;
  for (int step = 0; step < CAPTURE_STEPS; ++step) {
    step_ms[step] = -1.0;
    if (!g_timing.seen[step]) continue;
    step_ms[step] = std::chrono::duration<double, std::milli>(g_timing.marks[step] - previous).count();
    previous = g_timing.marks[step];
  }
}

bool capturetiming_passes(double pass_ms[CAPTURE_PASSES]) {
  for (int pass = 0; pass < CAPTURE_PASSES; ++pass) pass_ms[pass] = -1.0;
  if (g_timing.timer != 1) return false;
  GLuint64 stamps[kQueries] = {};
  for (int slot = 0; slot < kQueries; ++slot)
    if (g_timing.issued[slot]) glGetQueryObjectui64v(g_timing.queries[slot], GL_QUERY_RESULT, &stamps[slot]);
  // A pass ends where the next pass that ran begins (or the frame ends).
  for (int pass = 0; pass < CAPTURE_PASSES; ++pass) {
    if (!g_timing.issued[pass]) continue;
    int next = pass + 1;
    while (next < kQueries && !g_timing.issued[next]) ++next;
    if (next < kQueries && stamps[next] >= stamps[pass])
      pass_ms[pass] = static_cast<double>(stamps[next] - stamps[pass]) / kNsPerMs;
  }
  for (bool& issued : g_timing.issued) issued = false;
  return true;
}

bool capturetiming_timed() { return g_timing.timer == 1; }
