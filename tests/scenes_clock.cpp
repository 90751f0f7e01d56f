// The window system's clock as the engine sees it in scenes_test.
//
// The transition and post passes read glfwGetTime, which runs on while a
// frame renders, so two renders of the same instant would get slightly
// different clocks and the post pass's grain would differ. As in the capture
// tool, this executable supplies its own glfwGetTime: while a scene test holds
// the clock it answers the held value, otherwise it asks GLFW's own (found
// behind this one with dlsym(RTLD_NEXT)).
//
// Threads: main thread only.
#include <dlfcn.h>

#include "scenes_common.h"

namespace {
bool g_held = false;   // true while scenes::HoldClock is in force
double g_clock = 0.0;  // the held clock, seconds

using TimeFunction = double (*)();
TimeFunction GlfwOwnTime() {
  static const TimeFunction next = reinterpret_cast<TimeFunction>(dlsym(RTLD_NEXT, "glfwGetTime"));
  return next;
}
}  // namespace

extern "C" double glfwGetTime(void) {
  if (g_held) return g_clock;
  const TimeFunction next = GlfwOwnTime();
  return next ? next() : g_clock;
}

namespace scenes {
void HoldClock(double seconds) {
  glfwSetTime(seconds);
  g_clock = seconds;
  g_held = true;
}
void ReleaseClock() { g_held = false; }
}  // namespace scenes
