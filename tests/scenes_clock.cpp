// The clock of the effect passes as the engine sees it in scenes_test.
//
// The transition and post passes read effects_clock, which is GLFW's timer
// unless moved and runs on while a frame renders, so two renders of the same
// instant would get slightly different clocks and the post pass's grain would
// differ. As the capture tool does, the scene tests point effects_clock at a
// clock of their own: while a test holds it, it answers the held value,
// otherwise GLFW's timer (set to the held value too, so both agree).
//
// Threads: main thread only.
#include "scenes_common.h"

namespace {
bool g_held = false;   // true while scenes::HoldClock is in force
double g_clock = 0.0;  // the held clock, seconds

double HeldClock() { return g_held ? g_clock : glfwGetTime(); }
}  // namespace

namespace scenes {
void HoldClock(double seconds) {
  glfwSetTime(seconds);
  g_clock = seconds;
  g_held = true;
  effects_clock = HeldClock;
}
void ReleaseClock() { g_held = false; }
}  // namespace scenes
