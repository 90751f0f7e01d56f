// gfx/window.cpp: the one window, its OpenGL 2.0 context and the fixed GL
// state the rest of the graphics layer takes for granted (pixel projection
// with the origin at the top-left, 2D texturing on, vertex and texture
// coordinate arrays on, no depth test, no lighting).
//
// Threads: main thread only; GFX_InitVideo makes the context current on it.
#include "gfx/gfx.h"

#include "gfx/gl.h"

// ---- Constants ------------------------------------------------------------------
namespace {
constexpr int kContextMajor = 2;   // OpenGL 2.0: fixed function plus GLSL 1.20
constexpr int kContextMinor = 0;
constexpr int kSwapInterval = 1;   // wait for vertical blank on every swap
}  // namespace

// ---- Globals ----------------------------------------------------------------------
GLFWwindow* GFX_window = nullptr;

// ---- Public functions ---------------------------------------------------------------
int GFX_InitVideo(int width, int height, const char* title, bool fullscreen) {
  if (!glfwInit()) return -1;

  // No profile hint: the context must keep the fixed-function pipeline.
  glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, kContextMajor);
  glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, kContextMinor);

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
  return 0;
}

void GFX_SwapBuffers() {
  if (!GFX_window) return;
  glfwSwapBuffers(GFX_window);
  glfwPollEvents();
}
