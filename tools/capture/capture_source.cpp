// capture_source: the engine behind sprox-capture (see capture_source.h).
//
// Holding the clock: GLFW has no way to stop its timer, so the capture hands
// the effect passes a clock of its own through effects_clock. It answers the
// held time while a frame renders and GLFW's timer otherwise; that timer is
// set with glfwSetTime as well, so both agree whenever the clock is released.
//
// No data, no show: the start-up itself ends the program (status 1, the
// reason on standard error) when the data cannot be mounted, before the
// window opens, with the capture's name in its line.
//
// Threads: main thread only.
#include "tools/capture/capture_source.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "corefile/corefile.h"
#include "demo/demo.h"
#include "effects/effects.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"
#include "sound/sound.h"
#include "timeline/timeline.h"
#include "tools/capture/capture_timing.h"

#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3native.h>

// ---- Constants ----------------------------------------------------------------------
namespace {


// ---- Globals ----------------------------------------------------------------------

bool g_clockheld = false;  // true while a frame renders on the capture's clock
double g_clock = 0.0;      // the held clock, seconds
int32_t g_width = EFFECTS_WIDTH;    // pixels of the pictures read back
int32_t g_height = EFFECTS_HEIGHT;
int g_output = -1;                  // the framebuffer frames are drawn into, or -1 for the window

// ---- Internal functions -------------------------------------------------------------
// The clock the effect passes read while the capture runs.
double capture_clock() { return g_clockheld ? g_clock : glfwGetTime(); }

void hold_clock(double seconds) {
  glfwSetTime(seconds);
  g_clock = seconds;
  g_clockheld = true;
}

}  // namespace

// ---- Public functions ---------------------------------------------------------------
int capturesource_start(int32_t width, int32_t height, bool offscreen, char* message, int capacity) {
  // No sound device: the capture's clock is its own, and a capture must run
  // on machines without a sound card (and never play the music aloud).
  audiodriver_selectoutput(AUDIO_OUTPUT_SILENT);
  effects_clock = capture_clock;
  demo_setup.program = CAPTURE_PROGRAM;
  if (offscreen) {
    demo_setup.renderwidth = width;
    demo_setup.renderheight = height;
  }
  capturetiming_install();
  Demo_Startup(false);
  if (!GFX_window) return core_fail(message, capacity, "the window could not be opened");
  g_width = width;
  g_height = height;
  if (offscreen) {
    // The post pass draws into a framebuffer of the capture's size, so the
    // screen's size does not matter.
    g_output = GFX_CreateFrameBuffer(width, height, 0);
    if (g_output < 0) return core_fail(message, capacity, "no framebuffer left for the %dx%d frames", width, height);
    demo_outputframebuffer = g_output;
    return 1;
  }
  int windowwidth = 0, windowheight = 0;
  glfwGetFramebufferSize(GFX_window, &windowwidth, &windowheight);
  if (windowwidth != EFFECTS_WIDTH || windowheight != EFFECTS_HEIGHT)
    return core_fail(message, capacity,
                "the window's framebuffer is %dx%d, not %dx%d (is the X screen at least %dx%d?)", windowwidth,
                windowheight, EFFECTS_WIDTH, EFFECTS_HEIGHT, EFFECTS_WIDTH, EFFECTS_HEIGHT);
  return 1;
}

int capturesource_hasmusic(char* reason, int capacity) {
  const s_sound& music = snd_demomusic;
  if (music.numsamples > 0 && music.frequency > 0) return 1;
  if (music.datasize == 0 && music.frequency == 0)
    return core_fail(reason, capacity, "the engine could not load %s (its loader's lines above say why)",
                     DEMO_MUSICNAME);
  if (music.frequency == 0) return core_fail(reason, capacity, "%s has a sample rate of 0 Hz", DEMO_MUSICNAME);
  return core_fail(reason, capacity, "%s holds no sample frames", DEMO_MUSICNAME);
}

void capturesource_timeline(s_capturetimeline* timeline) {
  *timeline = s_capturetimeline{};
  timeline->numevents = demo.numevents < 0 ? 0 : demo.numevents;
  if (timeline->numevents > TIMELINE_MAX_EVENTS) timeline->numevents = TIMELINE_MAX_EVENTS;
  for (int32_t i = 0; i < timeline->numevents; ++i) timeline->start[i] = demo.event[i].time;
}

void capturesource_render(int64_t frame, int32_t offset, double clock, s_captureframe* record) {
  using Clock = std::chrono::steady_clock;
  hold_clock(clock);
  const Clock::time_point start = Clock::now();
  Demo_RenderFrame(offset);
  glFinish();
  const Clock::time_point end = Clock::now();
  g_clockheld = false;
  capturetiming_passes(record->pass_ms);

  record->frame = frame;
  record->offset = offset;
  record->tick = demo.tick;
  record->event = demo.currentevent;
  record->state = demo.currentevent >= 0 && demo.currentevent < TIMELINE_MAX_EVENTS
                      ? demo.event[demo.currentevent].currentstate
                      : -1;
  record->progress = demo.progress;
  record->render_ms = std::chrono::duration<double, std::milli>(end - start).count();
}

void capturesource_read(uint8_t* rgb, uint8_t* bottomup) {
  // The post pass drew into the window's back buffer (still bound), or into
  // the capture's own framebuffer.
  if (g_output >= 0) {
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, GFX_framebufferdata[g_output].framebuffer);
  } else {
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    glReadBuffer(GL_BACK);
  }
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, g_width, g_height, GL_RGB, GL_UNSIGNED_BYTE, bottomup);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  capture_fliprows(bottomup, rgb, g_width, g_height);
}

int capturesource_present() {
  // The show's frame body sets the close flag on the end mark; the capture
  // never renders past it, so a set flag means Escape or the window system.
  GFX_SwapBuffers();
  return glfwWindowShouldClose(GFX_window) ? 0 : 1;
}

int64_t capturesource_windowdiffers(const uint8_t* rgb) {
  // What X shows in the window, read through the window system itself: an
  // independent witness that the frame read back is the frame presented.
  Display* display = glfwGetX11Display();
  const Window window = glfwGetX11Window(GFX_window);
  if (!display || !window || g_output >= 0) return -1;  // frames of their own size never reach the window
  glFinish();
  XSync(display, False);
  XImage* image = XGetImage(display, window, 0, 0, EFFECTS_WIDTH, EFFECTS_HEIGHT, AllPlanes, ZPixmap);
  if (!image) return -1;
  // Each channel's mask gives its place in the pixel value (8 bits each on a 24-bit screen).
  auto shift_of = [](unsigned long mask) {
    int shift = 0;
    while (mask && !(mask & 1)) {
      mask >>= 1;
      ++shift;
    }
    return shift;
  };
  const int rs = shift_of(image->red_mask), gs = shift_of(image->green_mask), bs = shift_of(image->blue_mask);
  int64_t differing = 0;
  for (int32_t y = 0; y < EFFECTS_HEIGHT; ++y) {
    const uint8_t* row = rgb + static_cast<size_t>(y) * EFFECTS_WIDTH * 3;
    for (int32_t x = 0; x < EFFECTS_WIDTH; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      const uint8_t* p = row + x * 3;
      if (((pixel & image->red_mask) >> rs) != p[0] || ((pixel & image->green_mask) >> gs) != p[1] ||
          ((pixel & image->blue_mask) >> bs) != p[2])
        ++differing;
    }
  }
  XDestroyImage(image);
  return differing;
}

void capturesource_stop() {
  // The show itself never closes its audio; the capture does, so that the
  // output's device thread is joined before the program's globals go away.
  if (audiodriver_getoutput() >= 0) Soundsystem_CloseAudio();
  if (GFX_window) {
    glfwTerminate();
    GFX_window = nullptr;
  }
}
