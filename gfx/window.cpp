// gfx/window.cpp: the one window, its OpenGL 2.0 context and the fixed GL
// state the rest of the graphics layer takes for granted (pixel projection
// with the origin at the top-left, 2D texturing on, vertex and texture
// coordinate arrays on, no depth test, no lighting).
//
// Beside it: a borderless full-screen window on any monitor at its desktop
// mode, the switch between full screen and window, and the monitor list.
//
// Threads: main thread only; GFX_InitVideo makes the context current on it.
#include "gfx/gfx.h"

#include <cstdio>

#include "gfx/gl.h"

// ---- Constants ------------------------------------------------------------------
namespace {
constexpr int kContextMajor = 2;   // OpenGL 2.0: fixed function plus GLSL 1.20
constexpr int kContextMinor = 0;
constexpr int kSwapInterval = 1;   // wait for vertical blank on every swap
}  // namespace

// ---- Globals ----------------------------------------------------------------------
GLFWwindow* GFX_window = nullptr;

// ---- Internal functions -------------------------------------------------------------
namespace {

// Where the window was before it went full screen, to go back there.
struct s_windowplace {
  int x, y, width, height;
};
s_windowplace g_windowed = {0, 0, 0, 0};

// The monitor of index `monitor` (0 = primary), or null when there is none.
GLFWmonitor* MonitorAt(int monitor) {
  int count = 0;
  GLFWmonitor** monitors = glfwGetMonitors(&count);
  if (!monitors || monitor < 0 || monitor >= count) return nullptr;
  return monitors[monitor];
}

void RequestContext() {
  // No profile hint: the context must keep the fixed-function pipeline.
  glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, kContextMajor);
  glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, kContextMinor);
}

// Everything after the window exists: context, swap interval, fixed GL state, GLEW.
void StartContext(GLFWwindow* window, int width, int height) {
  GFX_window = window;
  glfwMakeContextCurrent(window);
  glfwSwapInterval(kSwapInterval);

  glViewport(0, 0, width, height);
  glEnable(GL_TEXTURE_2D);
  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);

  // The projection is built from the viewport GL actually took, so one unit
  // is one pixel of the window with y growing downward.
  GLint viewport[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, viewport);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(viewport[0], viewport[0] + viewport[2], viewport[1] + viewport[3], viewport[1], -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();

  glDisable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  // GFX_DrawQuad relies on both arrays being on and never switches them off.
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);

  // A failing glewInit is not fatal here: the 1.1 entry points above work
  // without it, and the later 2.0 calls are what would then be missing.
  glewInit();
}

void ShowCursor(GLFWwindow* window, bool visible) {
  glfwSetInputMode(window, GLFW_CURSOR, visible ? GLFW_CURSOR_NORMAL : GLFW_CURSOR_HIDDEN);
}

}  // namespace

// ---- Public functions ---------------------------------------------------------------
int GFX_InitVideo(int width, int height, const char* title, bool fullscreen) {
  if (!glfwInit()) return -1;
  RequestContext();

  GLFWwindow* window = nullptr;
  if (fullscreen) {
    glfwWindowHint(GLFW_SCALE_TO_MONITOR, 1);
    window = glfwCreateWindow(width, height, title, glfwGetPrimaryMonitor(), nullptr);
    if (window) glfwMaximizeWindow(window);
  } else {
    window = glfwCreateWindow(width, height, title, nullptr, nullptr);
  }
  if (!window) {
    glfwTerminate();
    return -1;
  }
  StartContext(window, width, height);
  return 0;
}

void GFX_SwapBuffers() {
  if (!GFX_window) return;
  glfwSwapBuffers(GFX_window);
  glfwPollEvents();
}

int GFX_InitVideoOnMonitor(const char* title, int monitor) {
  if (!glfwInit()) return -1;
  GLFWmonitor* target = MonitorAt(monitor);
  const GLFWvidmode* mode = target ? glfwGetVideoMode(target) : nullptr;
  if (!mode) {
    glfwTerminate();
    return -1;
  }
  RequestContext();
  // A window with the monitor's own mode asks for no mode change: GLFW keeps
  // the desktop's mode and the window covers the monitor exactly.
  glfwWindowHint(GLFW_RED_BITS, mode->redBits);
  glfwWindowHint(GLFW_GREEN_BITS, mode->greenBits);
  glfwWindowHint(GLFW_BLUE_BITS, mode->blueBits);
  glfwWindowHint(GLFW_REFRESH_RATE, mode->refreshRate);
  // Focus moving to another screen must not take the show off the projector.
  glfwWindowHint(GLFW_AUTO_ICONIFY, GLFW_FALSE);
  GLFWwindow* window = glfwCreateWindow(mode->width, mode->height, title, target, nullptr);
  if (!window) {
    glfwTerminate();
    return -1;
  }
  g_windowed = {0, 0, 0, 0};
  ShowCursor(window, false);
  int width = mode->width, height = mode->height;
  glfwGetFramebufferSize(window, &width, &height);
  StartContext(window, width, height);
  return 0;
}

bool GFX_IsFullscreen() { return GFX_window && glfwGetWindowMonitor(GFX_window) != nullptr; }

bool GFX_SetFullscreen(bool fullscreen, int monitor, int width, int height) {
  if (!GFX_window || fullscreen == GFX_IsFullscreen()) return false;
  if (fullscreen) {
    GLFWmonitor* target = MonitorAt(monitor);
    const GLFWvidmode* mode = target ? glfwGetVideoMode(target) : nullptr;
    if (!mode) return false;
    glfwGetWindowPos(GFX_window, &g_windowed.x, &g_windowed.y);
    glfwGetWindowSize(GFX_window, &g_windowed.width, &g_windowed.height);
    glfwSetWindowAttrib(GFX_window, GLFW_AUTO_ICONIFY, GLFW_FALSE);
    glfwSetWindowMonitor(GFX_window, target, 0, 0, mode->width, mode->height, mode->refreshRate);
    ShowCursor(GFX_window, false);
  } else {
    // A window that started full screen has no place of its own yet.
    if (g_windowed.width <= 0) g_windowed = {0, 0, width, height};
    glfwSetWindowMonitor(GFX_window, nullptr, g_windowed.x, g_windowed.y, g_windowed.width, g_windowed.height,
                         GLFW_DONT_CARE);
    ShowCursor(GFX_window, true);
  }
  return true;
}

int GFX_ListMonitors(FILE* out) {
  if (!glfwInit()) return -1;
  int count = 0;
  GLFWmonitor** monitors = glfwGetMonitors(&count);
  for (int k = 0; k < count; ++k) {
    const GLFWvidmode* mode = glfwGetVideoMode(monitors[k]);
    const char* name = glfwGetMonitorName(monitors[k]);
    fprintf(out, "%d: %s %dx%d @ %d Hz%s\n", k, name ? name : "(unnamed)", mode ? mode->width : 0,
            mode ? mode->height : 0, mode ? mode->refreshRate : 0, k == 0 ? " (primary)" : "");
  }
  return count;
}
