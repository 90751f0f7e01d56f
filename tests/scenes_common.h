// Helpers for the scene tests: they run the real show, with the real
// "sprox.dat" of the build folder, and look at the pixels it draws.
//
// Every tests/scenes_*test.cpp file is compiled into the one executable
// `scenes_test` (tests/scenes.cmake), which runs under Xvfb. The engine starts
// once per process (scenes::StartShow), exactly as the show starts, with the
// silent audio output; after that a test renders any instant of the show with
// scenes::RenderAtTick and measures the picture.
//
// Terms (tick, clock, luma, spread, difference): see
// docs/ARCHITECTURE.md#glossary. A scenes::Frame is a picture frame read back
// from GL: 8-bit RGB, rows from the top. RenderAtTick holds the clock at a
// fixed value while the frame renders (tests/scenes_clock.cpp), so two renders
// of the same tick at the same clock give the same picture.
//
// Typical use:
//   TEST(ScenesFoo, Alive) {
//     SCENES_REQUIRE_SHOW();
//     scenes::Frame f = scenes::RenderAtTick(scenes::StateTick(3, 0) + 16);
//     EXPECT_GT(scenes::LumaSpread(f), 8.0);
//   }
//
// Threads: main thread only (the GL context is current there).
#pragma once

#include <gtest/gtest.h>
#include <lodepng.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "demo/demo.h"
#include "effects/effects.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"
#include "sound/sound.h"
#include "timeline/timeline.h"

namespace scenes {

// ---- Constants ----------------------------------------------------------------
constexpr int kWidth = EFFECTS_WIDTH;    // window and scene framebuffers, pixels
constexpr int kHeight = EFFECTS_HEIGHT;  // pixels
constexpr int kTickFrames = TIMELINE_TICKLENGTH;  // sample frames per tick
constexpr int kBeatTicks = 8;        // ticks per beat
constexpr int kBarTicks = 32;        // ticks per bar
constexpr int kLastScene = 14;       // events 0..14 are scenes; 15 is the end mark

// ---- Types ----------------------------------------------------------------------
struct Frame {
  int width = 0;              // pixels
  int height = 0;             // pixels
  std::vector<uint8_t> rgb;   // width * height * 3 bytes, top row first
};

// ---- Start-up -------------------------------------------------------------------

// The folder the test was started in (its scratch folder); StartShow moves to
// the build folder, so files a test writes should go here.
inline const std::filesystem::path& StartFolder() {
  static const std::filesystem::path folder = std::filesystem::current_path();
  return folder;
}

// Starts the show once per process: moves to the build folder (where
// "sprox.dat" lies), selects the silent audio output and runs the real
// start-up without the music. Returns "" when the window is up at 1280x720,
// else why not; later calls return the first answer.
inline const std::string& StartShow() {
  static const std::string failure = [] {
    StartFolder();
    const std::filesystem::path data = std::filesystem::path(SPROX_BINARY_DIR) / "sprox.dat";
    if (!std::filesystem::exists(data)) return "no resource image at " + data.string();
    if (chdir(SPROX_BINARY_DIR) != 0) return std::string("cannot enter ") + SPROX_BINARY_DIR;
    audiodriver_selectoutput(AUDIO_OUTPUT_SILENT);
    fflush(stdout);
    Demo_Startup(false);
    fflush(stdout);
    if (!GFX_window) return std::string("the window did not open");
    int width = 0, height = 0;
    glfwGetFramebufferSize(GFX_window, &width, &height);
    if (width != kWidth || height != kHeight)
      return "the window is " + std::to_string(width) + "x" + std::to_string(height);
    if (demo.numevents <= kLastScene) return std::string("the timeline holds too few events");
    return std::string();
  }();
  return failure;
}

// Closes what StartShow opened once the tests are done: the audio output's
// device thread must be joined before the program's globals go away.
class ShowEnvironment : public testing::Environment {
 public:
  void TearDown() override {
    if (audiodriver_getoutput() >= 0) Soundsystem_CloseAudio();
    if (GFX_window) {
      glfwTerminate();
      GFX_window = nullptr;
    }
  }
};
// Registered once per process, whichever test file includes this first.
inline testing::Environment* const kShowEnvironment = testing::AddGlobalTestEnvironment(new ShowEnvironment);

// Fails the test at once when the show could not start.
#define SCENES_REQUIRE_SHOW() ASSERT_EQ(scenes::StartShow(), "") << "the show did not start"

// True when the scene shader with this id is a program that linked.
inline bool ProgramLinked(int shader) {
  if (!GFX_IsShader(shader)) return false;
  GLint linked = 0;
  glGetProgramiv(GFX_shader[shader].program, GL_LINK_STATUS, &linked);
  return linked == GL_TRUE;
}

// ---- Timeline -------------------------------------------------------------------

// Absolute tick at which `state` of `event` begins, or -1 when there is none.
inline int32_t StateTick(int event, int state) {
  if (event < 0 || event >= demo.numevents) return -1;
  const s_event& e = demo.event[event];
  if (state < 0 || state >= e.numstates) return -1;
  return e.time + e.stateoffset[state];
}

// Number of states of `event` (0 when it is not an event in use).
inline int StateCount(int event) {
  if (event < 0 || event >= demo.numevents) return 0;
  return demo.event[event].numstates;
}

// Tick at which `state` of `event` ends: the next state's start, else the next
// event's start.
inline int32_t StateEndTick(int event, int state) {
  const int32_t next = StateTick(event, state + 1);
  if (next >= 0) return next;
  return event + 1 < demo.numevents ? demo.event[event + 1].time : -1;
}

// ---- Rendering --------------------------------------------------------------------

// The effect passes' clock (tests/scenes_clock.cpp): held at `seconds` until
// released, so every read of effects_clock in a frame gives the same value.
void HoldClock(double seconds);
void ReleaseClock();

// Reads the currently bound read framebuffer's 1280x720 colour buffer.
inline Frame ReadBound() {
  Frame frame;
  frame.width = kWidth;
  frame.height = kHeight;
  std::vector<uint8_t> bottomup(static_cast<size_t>(kWidth) * kHeight * 3);
  frame.rgb.resize(bottomup.size());
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, bottomup.data());
  const size_t row = static_cast<size_t>(kWidth) * 3;
  for (int y = 0; y < kHeight; ++y)
    std::copy_n(&bottomup[static_cast<size_t>(kHeight - 1 - y) * row], row, &frame.rgb[static_cast<size_t>(y) * row]);
  return frame;
}

// Renders the show's frame at a playback offset (sample frames) with the
// window system's clock set to `clock` seconds, and reads back what the
// window shows (after the post pass).
inline Frame RenderAtOffset(int32_t offset, double clock = 10.0) {
  HoldClock(clock);
  Demo_RenderFrame(offset);
  glFinish();
  ReleaseClock();
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  glReadBuffer(GL_BACK);
  return ReadBound();
}

// The same at a tick; a fraction lands inside the tick.
inline Frame RenderAtTick(double tick, double clock = 10.0) {
  return RenderAtOffset(static_cast<int32_t>(std::lround(tick * kTickFrames)), clock);
}

// Reads one of the offscreen framebuffers (fx1_framebuffer_id: scene A,
// fx2_framebuffer_id: scene B, framebuffer_id: the composite) as the last
// frame left it.
inline Frame ReadFrameBuffer(int id) {
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, GFX_framebufferdata[id].framebuffer);
  glReadBuffer(GL_COLOR_ATTACHMENT0_EXT);
  Frame frame = ReadBound();
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  return frame;
}

// Swaps one image for a transparent one for as long as it lives: unlike an
// unbound texture (opaque black) it leaves what lies under the image as it is.
class ClearImage {
 public:
  explicit ClearImage(s_bitmap* image) : image_(image), texture_(image->textureid) {
    const uint32_t clear = 0;
    glGenTextures(1, &clear_);
    glBindTexture(GL_TEXTURE_2D, clear_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, &clear);
    image_->textureid = clear_;
  }
  ~ClearImage() {
    image_->textureid = texture_;
    glDeleteTextures(1, &clear_);
  }
  ClearImage(const ClearImage&) = delete;
  ClearImage& operator=(const ClearImage&) = delete;

 private:
  s_bitmap* image_;
  decltype(s_bitmap::textureid) texture_;
  GLuint clear_ = 0;
};

// ---- Measures -------------------------------------------------------------------

inline double Luma(const uint8_t* px) { return 0.299 * px[0] + 0.587 * px[1] + 0.114 * px[2]; }

// Mean luma, 0..255: below about 8 the frame is black.
inline double MeanLuma(const Frame& f) {
  double sum = 0;
  const size_t n = f.rgb.size() / 3;
  for (size_t i = 0; i < n; ++i) sum += Luma(&f.rgb[i * 3]);
  return n ? sum / static_cast<double>(n) : 0.0;
}

// Standard deviation of the luma, 0..127: below about 4 the frame is flat.
inline double LumaSpread(const Frame& f) {
  const size_t n = f.rgb.size() / 3;
  if (!n) return 0.0;
  const double mean = MeanLuma(f);
  double sum = 0;
  for (size_t i = 0; i < n; ++i) {
    const double d = Luma(&f.rgb[i * 3]) - mean;
    sum += d * d;
  }
  return std::sqrt(sum / static_cast<double>(n));
}

// Mean absolute difference over all channels, 0..255; frames of different
// sizes differ by 255.
inline double MeanDifference(const Frame& a, const Frame& b) {
  if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 255.0;
  uint64_t sum = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) sum += static_cast<uint64_t>(std::abs(a.rgb[i] - b.rgb[i]));
  return static_cast<double>(sum) / static_cast<double>(a.rgb.size());
}

// Mean absolute difference (0..255) of the average colours of a grid of
// blocks (blocks_x by blocks_y): it follows changes of layout and colour
// and mostly ignores motion finer than a block (grain, turning rays,
// scrolling bubbles), which averages out inside each block.
inline double BlockDifference(const Frame& a, const Frame& b, int blocks_x = 8, int blocks_y = 4) {
  if (a.rgb.size() != b.rgb.size() || a.rgb.empty() || a.width < blocks_x || a.height < blocks_y) return 255.0;
  std::vector<double> sums(static_cast<size_t>(blocks_x) * blocks_y * 3, 0.0);
  for (int y = 0; y < a.height; ++y) {
    const int by = y * blocks_y / a.height;
    for (int x = 0; x < a.width; ++x) {
      const int bx = x * blocks_x / a.width;
      const size_t px = (static_cast<size_t>(y) * a.width + x) * 3;
      for (int c = 0; c < 3; ++c)
        sums[(static_cast<size_t>(by) * blocks_x + bx) * 3 + c] += double(a.rgb[px + c]) - double(b.rgb[px + c]);
    }
  }
  const double per_block = double(a.width) * a.height / (double(blocks_x) * blocks_y);
  double total = 0;
  for (double v : sums) total += std::fabs(v) / per_block;
  return total / static_cast<double>(sums.size());
}

// Share of the pixels (0..1) whose luma is at least `level`.
inline double ShareBrighterThan(const Frame& f, double level) {
  const size_t n = f.rgb.size() / 3;
  size_t count = 0;
  for (size_t i = 0; i < n; ++i) count += Luma(&f.rgb[i * 3]) >= level ? 1 : 0;
  return n ? static_cast<double>(count) / static_cast<double>(n) : 0.0;
}

// Writes a frame as a PNG into the test's scratch folder, to look at a
// failure; returns the path written ("" on failure).
inline std::string WritePng(const Frame& f, const std::string& name) {
  const std::string path = (StartFolder() / name).string();
  if (lodepng::encode(path, f.rgb, static_cast<unsigned>(f.width), static_cast<unsigned>(f.height), LCT_RGB, 8) != 0)
    return std::string();
  return path;
}

}  // namespace scenes
