// demo/screen.cpp: the window, the render size and the letterbox.
//
// The three framebuffers have one render size: the one given (--size), or
// else the show's picture size in a window and the monitor's 16:9 pixels in
// full screen, times the render scale. The window may have any size: the post
// pass draws the composite into the largest 16:9 box that fits it, black bars
// around, sampling it linearly when the box and the composite differ in size.
// A window resize only moves the box; a switch to or from full screen also
// re-sizes the framebuffers (in place, under the same ids) unless the render
// size was given.
//
// Threads: main thread only (GL context, GLFW callbacks from event polling).
#include "demo/screen.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "corefile/corefile.h"
#include "demo/demo.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"

// ---- Globals ---------------------------------------------------------------------
s_demosetup demo_setup = {
    DEMO_IMAGENAME, COREFILE_KIND_IMAGE, "", "sprox", false, 0, EFFECTS_WIDTH, EFFECTS_HEIGHT, 0, 0, 1.0f, nullptr,
};
int demo_outputframebuffer = -1;

namespace {

constexpr int kExitUsage = 2;  // a render size beyond the driver is a bad option value

struct s_screen {
  int windowwidth, windowheight;  // the window's framebuffer, pixels
  s_demobox box;                  // where the picture goes in it
  int renderwidth, renderheight;  // the three framebuffers' size now, pixels
  int limit;                      // largest texture and viewport side the driver takes
  bool changed;                   // the window's size or mode changed since the last frame
  bool rescaled;                  // the render scale changed since the last frame
  bool shown;                     // the first layout is done: later ones are reported
};
s_screen g_screen = {EFFECTS_WIDTH, EFFECTS_HEIGHT, {0, 0, EFFECTS_WIDTH, EFFECTS_HEIGHT},
                     EFFECTS_WIDTH, EFFECTS_HEIGHT, DEMO_MAX_RENDERSIZE, false, false, false};
constexpr const char* kMsgScreen = "screen: %dx%d picture in a %dx%d %s\n";  // after a resize or a switch

// ---- Internal functions -------------------------------------------------------------
void on_framebuffer_size(GLFWwindow*, int, int) { g_screen.changed = true; }

bool has_bars() {
  return g_screen.box.width != g_screen.windowwidth || g_screen.box.height != g_screen.windowheight;
}

// The render size before the scale: given, or following the screen.
void base_size(int* width, int* height) {
  if (demo_setup.renderwidth > 0 && demo_setup.renderheight > 0) {
    *width = demo_setup.renderwidth;
    *height = demo_setup.renderheight;
  } else if (GFX_IsFullscreen()) {
    const s_demobox box = Demo_Letterbox(g_screen.windowwidth, g_screen.windowheight);
    *width = box.width;
    *height = box.height;
  } else {
    *width = EFFECTS_WIDTH;
    *height = EFFECTS_HEIGHT;
  }
}

void target_size(int* width, int* height) {
  base_size(width, height);
  const float scale = demo_setup.scale > 0.0f ? demo_setup.scale : 1.0f;
  if (scale != 1.0f) {
    *width = static_cast<int>(std::lround(*width * scale));
    *height = static_cast<int>(std::lround(*height * scale));
  }
  // A screen larger than the driver can draw renders at the largest size it takes.
  const int widest = *width > *height ? *width : *height;
  if (widest > g_screen.limit) {
    *width = static_cast<int>(static_cast<long long>(*width) * g_screen.limit / widest);
    *height = static_cast<int>(static_cast<long long>(*height) * g_screen.limit / widest);
  }
  if (*width < 1) *width = 1;
  if (*height < 1) *height = 1;
}

// Re-reads the window, then the box and the composite's filter.
void lay_out() {
  if (GFX_window) glfwGetFramebufferSize(GFX_window, &g_screen.windowwidth, &g_screen.windowheight);
  g_screen.box = Demo_Letterbox(g_screen.windowwidth, g_screen.windowheight);
  const bool stretched = g_screen.box.width != g_screen.renderwidth || g_screen.box.height != g_screen.renderheight;
  GFX_SetFrameBufferFilter(framebuffer_id, stretched);
}

}  // namespace

// ---- Public functions ------------------------------------------------------------------
s_demobox Demo_Letterbox(int width, int height) {
  if (width < 1 || height < 1) return s_demobox{0, 0, 0, 0};
  s_demobox box{0, 0, width, height};
  const long long w = width, h = height;
  if (w * EFFECTS_HEIGHT > h * EFFECTS_WIDTH) {
    box.width = static_cast<int>((h * EFFECTS_WIDTH + EFFECTS_HEIGHT / 2) / EFFECTS_HEIGHT);  // bars left and right
  } else if (w * EFFECTS_HEIGHT < h * EFFECTS_WIDTH) {
    box.height = static_cast<int>((w * EFFECTS_HEIGHT + EFFECTS_WIDTH / 2) / EFFECTS_WIDTH);  // bars above and below
  }
  box.x = (width - box.width) / 2;
  box.y = (height - box.height) / 2;
  return box;
}

void Demo_RenderSize(int* width, int* height) {
  *width = g_screen.renderwidth;
  *height = g_screen.renderheight;
}

void Demo_SetScale(float scale) {
  if (scale == demo_setup.scale) return;
  demo_setup.scale = scale;
  g_screen.rescaled = true;
}

void Demo_ToggleFullscreen() {
  if (GFX_SetFullscreen(!GFX_IsFullscreen(), demo_setup.monitor, demo_setup.windowwidth, demo_setup.windowheight))
    g_screen.changed = true;
}

int Screen_Open() {
  if (demo_setup.fullscreen) return GFX_InitVideoOnMonitor(DEMO_TITLE, demo_setup.monitor);
  return GFX_InitVideo(demo_setup.windowwidth, demo_setup.windowheight, DEMO_TITLE, false);
}

void Screen_Start() {
  GLint texture = 0, viewport[2] = {0, 0};
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &texture);
  glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
  int limit = texture;
  if (viewport[0] > 0 && viewport[0] < limit) limit = viewport[0];
  if (viewport[1] > 0 && viewport[1] < limit) limit = viewport[1];
  if (limit > 0) g_screen.limit = limit;
  if (demo_setup.renderwidth > g_screen.limit || demo_setup.renderheight > g_screen.limit) {
    fflush(stdout);
    fprintf(stderr, "%s: --size %dx%d is larger than this driver draws (%d pixels a side)\n", demo_setup.program,
            demo_setup.renderwidth, demo_setup.renderheight, g_screen.limit);
    exit(kExitUsage);
  }
  glfwGetFramebufferSize(GFX_window, &g_screen.windowwidth, &g_screen.windowheight);
  glfwSetFramebufferSizeCallback(GFX_window, on_framebuffer_size);
  target_size(&g_screen.renderwidth, &g_screen.renderheight);
  g_screen.box = Demo_Letterbox(g_screen.windowwidth, g_screen.windowheight);
  // The first frame sets the composite's filter, once the framebuffers exist.
  g_screen.changed = true;
}

void Screen_Update() {
  if (!g_screen.changed && !g_screen.rescaled) return;
  // Only a new window size or mode is reported: the automatic scale steps
  // quietly, so a slow machine's output reads as a fast one's (--stats
  // gives the scales it went through).
  const bool report = g_screen.changed && g_screen.shown;
  g_screen.changed = g_screen.rescaled = false;
  int width = 0, height = 0;
  if (GFX_window) glfwGetFramebufferSize(GFX_window, &g_screen.windowwidth, &g_screen.windowheight);
  target_size(&width, &height);
  if (width != g_screen.renderwidth || height != g_screen.renderheight) {
    g_screen.renderwidth = width;
    g_screen.renderheight = height;
    GFX_ResizeFrameBuffer(fx1_framebuffer_id, width, height);
    GFX_ResizeFrameBuffer(fx2_framebuffer_id, width, height);
    GFX_ResizeFrameBuffer(framebuffer_id, width, height);
  }
  lay_out();
  // The start-up's own layout goes unsaid, so the show's lines stay as they are.
  if (report)
    printf(kMsgScreen, g_screen.renderwidth, g_screen.renderheight, g_screen.windowwidth, g_screen.windowheight,
           GFX_IsFullscreen() ? "full screen" : "window");
  g_screen.shown = true;
}

void Screen_ShowPicture() {
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  if (has_bars()) glClear(GL_COLOR_BUFFER_BIT);
  glViewport(g_screen.box.x, g_screen.box.y, g_screen.box.width, g_screen.box.height);
}
