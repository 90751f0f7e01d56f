// demo/pacing.cpp: the frame statistics and the automatic render scale.
//
// Frame time is the interval between two buffer swaps. Every interval goes
// into a fixed histogram (kBins bins of kBinMs), so the median and the 95th
// percentile at exit cost no allocation in the frame loop.
//
// The automatic scale keeps the frame rate: the target is the monitor's
// refresh interval when GLFW reports a rate of 30 Hz or more, else 1/60 s.
// Every half second of frames is judged: a median interval above the target
// by a quarter lowers the scale one step (never below the last step, 0.35);
// two seconds in a row with room to spare raise it one step. Room to spare is
// judged on the GPU's own time for the frame (a timer query, read a frame
// late so it never waits) scaled by the pixels the next step adds, because
// with the swap waiting for vertical blank the interval alone cannot show it;
// without timer queries the interval itself is judged. The same GPU time is
// what debug mode's read-out shows (one query per frame, one owner). After each change the
// next judgement starts afresh.
//
// Threads: main thread only.
#include "demo/pacing.h"

#include <algorithm>
#include <cstdio>

#include "demo/demo.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"

// ---- Constants -------------------------------------------------------------------
namespace {

constexpr double kBinMs = 0.1;        // histogram resolution, milliseconds
constexpr int kBins = 5000;           // 0 to 500 ms; longer frames go into the last bin
constexpr double kJudgeSeconds = 0.5; // frames judged together before lowering
constexpr int kRaiseJudgements = 4;   // half seconds in a row with room before raising
constexpr double kMissFactor = 1.25;  // median interval above target x this: lower
constexpr double kRoomFactor = 0.75;  // predicted time at the next step below target x this: raise
constexpr int kWindowFrames = 256;    // most frames one judgement holds
constexpr double kMinRefreshHz = 30.0;
constexpr double kDefaultTarget = 1.0 / 60.0;
// The scale's steps, from full size down; never below the last.
constexpr float kSteps[] = {1.0f, 0.85f, 0.7f, 0.6f, 0.5f, 0.42f, 0.35f};
constexpr int kNumSteps = sizeof(kSteps) / sizeof(kSteps[0]);

// ---- Globals ------------------------------------------------------------------------
struct s_pacing {
  bool automatic;              // --scale auto
  double target;               // seconds a frame may take
  double last;                 // time of the last swap, seconds; < 0 before the first
  int step;                    // index in kSteps while automatic
  float lowest, highest;       // the scale's range over the run
  // The current judgement.
  double windowstart;          // seconds
  int windowcount;
  double intervals[kWindowFrames];
  double gputimes[kWindowFrames];
  int roomy;                   // judgements in a row with room to spare
  // The GPU's time for the frame, from two alternating queries.
  bool timed;
  GLuint queries[2];
  int query;                   // the one in use this frame
  bool pending[2];
  bool started;                // a query was begun this frame
  double gpu;                  // the last result, seconds; < 0 when none
  // The statistics.
  long long frames;            // frames presented
  long long histogram[kBins];
};
s_pacing g_pacing = {};

// ---- Internal functions ----------------------------------------------------------------
double median_of(double* values, int count) {
  if (count <= 0) return 0.0;
  std::nth_element(values, values + count / 2, values + count);
  return values[count / 2];
}

// The value below which `fraction` of the histogram's frames lie, milliseconds.
double percentile(double fraction) {
  if (g_pacing.frames <= 0) return 0.0;
  const long long rank = static_cast<long long>(fraction * static_cast<double>(g_pacing.frames - 1));
  long long seen = 0;
  for (int bin = 0; bin < kBins; ++bin) {
    seen += g_pacing.histogram[bin];
    if (seen > rank) return (bin + 0.5) * kBinMs;
  }
  return kBins * kBinMs;
}

void note_scale(float scale) {
  g_pacing.lowest = std::min(g_pacing.lowest, scale);
  g_pacing.highest = std::max(g_pacing.highest, scale);
}

void change_step(int step, double now) {
  g_pacing.step = std::clamp(step, 0, kNumSteps - 1);
  Demo_SetScale(kSteps[g_pacing.step]);
  note_scale(kSteps[g_pacing.step]);
  g_pacing.windowstart = now;
  g_pacing.windowcount = 0;
  g_pacing.roomy = 0;
  g_pacing.gpu = -1.0;
}

void judge(double now) {
  const int count = g_pacing.windowcount;
  const double interval = median_of(g_pacing.intervals, count);
  g_pacing.windowstart = now;
  g_pacing.windowcount = 0;
  if (interval > g_pacing.target * kMissFactor && g_pacing.step + 1 < kNumSteps) {
    change_step(g_pacing.step + 1, now);
    return;
  }
  if (g_pacing.step == 0) return;
  // What the frame would cost one step up: the work grows with the pixels.
  const double work = g_pacing.timed ? median_of(g_pacing.gputimes, count) : interval;
  const double grow = static_cast<double>(kSteps[g_pacing.step - 1]) / kSteps[g_pacing.step];
  const bool room = work > 0.0 && work * grow * grow < g_pacing.target * kRoomFactor;
  g_pacing.roomy = room ? g_pacing.roomy + 1 : 0;
  if (g_pacing.roomy >= kRaiseJudgements) change_step(g_pacing.step - 1, now);
}

// Collects last frame's GPU time (if ready) and starts timing this one.
void time_gpu() {
  if (!g_pacing.timed) return;
  const int other = 1 - g_pacing.query;
  if (g_pacing.pending[other]) {
    GLint ready = 0;
    glGetQueryObjectiv(g_pacing.queries[other], GL_QUERY_RESULT_AVAILABLE, &ready);
    if (ready) {
      GLuint64 ns = 0;
      glGetQueryObjectui64v(g_pacing.queries[other], GL_QUERY_RESULT, &ns);
      g_pacing.gpu = static_cast<double>(ns) * 1e-9;
      g_pacing.pending[other] = false;
    }
  }
}

}  // namespace

// ---- Public functions -------------------------------------------------------------------
void Pacing_Start(bool automatic) {
  g_pacing = s_pacing{};
  g_pacing.automatic = automatic;
  g_pacing.last = -1.0;
  g_pacing.gpu = -1.0;
  g_pacing.lowest = g_pacing.highest = demo_setup.scale;
  g_pacing.target = kDefaultTarget;
  GLFWmonitor* monitor = GFX_window ? glfwGetWindowMonitor(GFX_window) : nullptr;
  if (!monitor) monitor = glfwGetPrimaryMonitor();
  const GLFWvidmode* mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
  if (mode && mode->refreshRate >= kMinRefreshHz) g_pacing.target = 1.0 / mode->refreshRate;
  g_pacing.timed = GLEW_ARB_timer_query;
  if (g_pacing.timed) glGenQueries(2, g_pacing.queries);
}

void Pacing_FrameBegin() {
  if (!g_pacing.timed) return;
  time_gpu();
  // The GPU time is wanted by the automatic scale and by debug mode's
  // read-out; otherwise the show runs without queries.
  if (!g_pacing.automatic && !showdebug) return;
  // A query still out from two frames ago keeps its object: skip timing this frame.
  if (g_pacing.pending[g_pacing.query]) return;
  glBeginQuery(GL_TIME_ELAPSED, g_pacing.queries[g_pacing.query]);
  g_pacing.started = true;
}

double Pacing_GpuMilliseconds() { return g_pacing.gpu < 0.0 ? -1.0 : g_pacing.gpu * 1000.0; }

void Pacing_FrameEnd() {
  if (!g_pacing.timed || g_pacing.pending[g_pacing.query] || !g_pacing.started) return;
  g_pacing.started = false;
  glEndQuery(GL_TIME_ELAPSED);
  g_pacing.pending[g_pacing.query] = true;
  g_pacing.query = 1 - g_pacing.query;
}

void Pacing_Swapped(double now) {
  if (g_pacing.last < 0.0) {
    g_pacing.last = g_pacing.windowstart = now;
    return;
  }
  const double interval = now - g_pacing.last;
  g_pacing.last = now;
  ++g_pacing.frames;
  const int bin = std::min(kBins - 1, static_cast<int>(interval * 1000.0 / kBinMs));
  ++g_pacing.histogram[bin < 0 ? 0 : bin];

  if (!g_pacing.automatic) return;
  if (g_pacing.windowcount < kWindowFrames) {
    g_pacing.intervals[g_pacing.windowcount] = interval;
    g_pacing.gputimes[g_pacing.windowcount] = g_pacing.gpu;
    ++g_pacing.windowcount;
  }
  if (now - g_pacing.windowstart >= kJudgeSeconds) judge(now);
}

void Pacing_PrintStats(FILE* out) {
  fprintf(out, "stats: %lld frames presented, frame time median %.1f ms, 95th percentile %.1f ms, scale %.2f to %.2f\n",
          g_pacing.frames, percentile(0.5), percentile(0.95), static_cast<double>(g_pacing.lowest),
          static_cast<double>(g_pacing.highest));
}
