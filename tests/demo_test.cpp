// Tests of the driver: the start-up sequence and whole frames rendered into a
// real window (Mesa under Xvfb) from a packed "sprox.dat" with probe shaders,
// the keyboard handler's gating, pause and seeks, whole shows played by the
// driver's functions in a child process (music that ends before the end mark,
// a sound device that breaks in the middle), and short runs of the real
// `sprox` program whose standard output is checked line by line, one ending
// at the end mark on its own and one ended by an Escape key sent with xdotool.
#include <gtest/gtest.h>
#include <lodepng.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "corefile/corefile.h"
#include "demo/demo.h"
#include "demo/screen.h"
#include "effects/effects.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"
#include "sound/sound.h"
#include "alloc_probe.h"
#include "alsa_fault.h"
#include "sound_helpers.h"
#include "test_child.h"
#include "test_util.h"
#include "timeline/timeline.h"

namespace {

using FileList = std::vector<std::pair<std::string, std::string>>;

// The show's images and shaders in load order.
const auto& kImageFiles = sprox_assets::kImageFiles;
const auto& kShaderFiles = sprox_assets::kShaderFiles;

std::string Flat(const char* rgb) {
  return std::string("#version 120\nvarying vec2 texCoord;\nvoid main() { gl_FragColor = vec4(") + rgb + ", 1.0); }";
}

const char* const kPost =
    "#version 120\nvarying vec2 texCoord;\nuniform sampler2D texture0;\n"
    "void main() { gl_FragColor = texture2D(texture0, texCoord); }";
const char* const kDissolve =
    "#version 120\nvarying vec2 texCoord;\nuniform sampler2D texture0, texture1;\nuniform float blend;\n"
    "void main() { gl_FragColor = mix(texture2D(texture0, texCoord), texture2D(texture1, texCoord), blend); }";

// A canonical WAV file, mono 16-bit at the device rate, `seconds` of silence.
std::string Wav(double seconds) {
  const auto frames = static_cast<uint32_t>(seconds * AUDIO_DEVICE_RATE);
  return sound_test::wav_file(1, 16, AUDIO_DEVICE_RATE, std::string(size_t{frames} * 2, '\0'));
}

std::string Png2x2() {
  return test_util::png_rgba({255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255}, 2, 2);
}

// Events 0 to 15, event i at tick i * step, each entered by the dissolve.
std::string Timing(int events, int step) {
  std::string t = "# probe timeline\n";
  for (int e = 0; e < events; e++) {
    t += "event " + std::to_string(e) + " " + std::to_string(e * step) + " 0 0\nstate 0 0\n";
  }
  return t;
}

// The show's files for the probes: event 0 red, 1 green, 13 and 14 blue,
// the dissolve, the other three transitions (flat colours of their own) and a
// pass-through post; every other shader and image missing but the first image.
FileList ProbeShow(const std::string& timing, double music_seconds) {
  return {{"timing.dat", timing},
          {"sprox8a.wav", Wav(music_seconds)},
          {"introbg.png", Png2x2()},
          {"post.glsl", kPost},
          {"fx_break.glsl", Flat("1.0, 0.0, 0.0")},
          {"fx_intro.glsl", Flat("0.0, 1.0, 0.0")},
          {"fx_empty.glsl", Flat("0.0, 0.0, 1.0")},
          {"transition_dissolve.glsl", kDissolve},
          {"transition_sea.glsl", Flat("0.2, 0.4, 0.6")},
          {"transition_bars2.glsl", Flat("0.6, 0.4, 0.2")},
          {"transition_flash.glsl", Flat("1.0, 1.0, 1.0")}};
}

GLint GetInt(GLenum what) {
  GLint value = 0;
  glGetIntegerv(what, &value);
  return value;
}

std::vector<uint8_t> WindowPixel(int x, int y) {
  std::vector<uint8_t> p(4);
  glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p.data());
  return p;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The file system's and the audio output's own lines, which vary with the
// image's layout and the machine's sound device.
bool IsOtherModuleLine(const std::string& line) {
  for (const char* p : {"Loading resource image: ", "loading from file", "numfiles: ", "romsize: ", "Found ",
                        "found file at offset: ", "couldn't find file: ", "AUDIO: ", "sound: ", "sample size: ",
                        "buffer size: ", "open waveout", "open wav-buffers", "audiodriver inited"})
    if (StartsWith(line, p)) return true;
  return false;
}

// Where the start-up messages leave the probe show: the exact lines of the
// loaders, with "*" standing for a number that varies.
// `dataline`: the line that says where the data came from (the program prints
// it, a bare Demo_Startup does not).
std::vector<std::string> ExpectedStartup(const FileList& files, const std::string& timing,
                                         const char* dataline = nullptr) {
  auto sizeof_file = [&](const std::string& name) -> long {
    for (const auto& [n, bytes] : files)
      if (n == name) return static_cast<long>(bytes.size());
    return -1;
  };
  std::vector<std::string> lines;
  if (dataline) lines.push_back(dataline);
  lines.push_back("soundsystem bufferlength = 2048");
  lines.push_back("Loading sound sprox8a.wav");
  for (const char* image : kImageFiles) {
    const long size = sizeof_file(image);
    if (size < 0) {
      lines.push_back(std::string("- couldn't open file: ") + image);
    } else {
      lines.push_back("pngbuffer loaded: " + std::string(image) + ", " + std::to_string(size) +
                      "PNG width: 2,height:2");
      lines.push_back("bitmap textureid: *");
    }
  }
  int id = 0;
  for (const char* shader : kShaderFiles) {
    const long size = sizeof_file(shader);
    if (size < 0) continue;
    lines.push_back("load shadefile " + std::string(shader) + ", size: " + std::to_string(size));
    lines.push_back("Shader ID: " + std::to_string(id++));
  }
  lines.push_back("load timing timing.dat, size: " + std::to_string(timing.size()));
  for (const std::string& line : Lines(timing)) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    int a = 0, b = 0, c = 0, d = 0;
    if (word == "event") {
      in >> a >> b >> c >> d;
      lines.push_back("- event: " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + " " +
                      std::to_string(d));
    } else if (word == "state") {
      in >> a >> b;
      lines.push_back("- state: " + std::to_string(a) + " " + std::to_string(b));
    }
  }
  return lines;
}

void ExpectLines(const std::string& out, const std::vector<std::string>& expected) {
  std::vector<std::string> got;
  for (const std::string& line : Lines(out))
    if (!IsOtherModuleLine(line)) got.push_back(line);
  const size_t n = std::min(got.size(), expected.size());
  for (size_t i = 0; i < n; i++) {
    const std::string& want = expected[i];
    if (!want.empty() && want.back() == '*') {
      EXPECT_TRUE(StartsWith(got[i], want.substr(0, want.size() - 1).c_str())) << "line " << i << ": " << got[i];
      EXPECT_GT(got[i].size(), want.size() - 1) << "line " << i;
    } else {
      EXPECT_EQ(got[i], want) << "line " << i;
    }
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_EQ(got.size(), expected.size()) << "last line: " << (got.empty() ? "" : got.back());
}

// ---- Start-up and frames in this process ---------------------------------------------------

std::string g_startup;  // what Demo_Startup printed
const std::string kTiming = Timing(16, 256);

void EnsureStartup() {
  static bool started = false;
  if (started) return;
  started = true;
  test_util::pack("sprox.dat", ProbeShow(kTiming, 2.0));
  audiodriver_selectoutput(AUDIO_OUTPUT_MANUAL);  // no device thread: the music never moves on its own
  g_startup = test_util::capture_stdout([] { Demo_Startup(false); });
}

int32_t OffsetOfTick(int tick) { return tick * TIMELINE_TICKLENGTH + 100; }

class DemoFrame : public testing::Test {
 protected:
  void SetUp() override {
    EnsureStartup();
    ASSERT_NE(GFX_window, nullptr);
  }
  void TearDown() override { glfwSetWindowShouldClose(GFX_window, 0); }
  static void Fill(int32_t framebuffer, float r, float g, float b) {
    GFX_SetFrameBuffer(framebuffer);
    glClearColor(r, g, b, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0, 0, 0, 1);
  }
  static void FillSceneB(float r, float g, float b) { Fill(fx2_framebuffer_id, r, g, b); }
  static std::vector<uint8_t> CentrePixel(int32_t framebuffer) {
    GFX_SetFrameBuffer(framebuffer);
    std::vector<uint8_t> p = WindowPixel(640, 360);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    return p;
  }
  static std::vector<uint8_t> SceneBPixel() { return CentrePixel(fx2_framebuffer_id); }
};

TEST_F(DemoFrame, StartupBringsEverythingUpInOrder) {
  ExpectLines(g_startup, ExpectedStartup(ProbeShow(kTiming, 2.0), kTiming));
  EXPECT_EQ(g_startup.find("Loading resource image: sprox.dat"), 0u) << "the image is mounted first";

  EXPECT_EQ(fx1_framebuffer_id, 0);
  EXPECT_EQ(fx2_framebuffer_id, 1);
  EXPECT_EQ(framebuffer_id, 2);
  for (int id = 0; id < 3; id++) {
    EXPECT_EQ(GFX_framebuffers[id].width, 1280);
    EXPECT_EQ(GFX_framebuffers[id].height, 720);
  }
  int w = 0, h = 0;
  glfwGetWindowSize(GFX_window, &w, &h);
  EXPECT_EQ(w, 1280);
  EXPECT_EQ(h, 720);
  // The handler is installed: taking it off hands it back.
  EXPECT_EQ(glfwSetKeyCallback(GFX_window, nullptr), &key_callback);
  glfwSetKeyCallback(GFX_window, key_callback);

  // The five transitions, in index order, then the timeline from the file.
  // Each transition shader is a program of its own, so the table below pins
  // which one every index plays.
  const std::set<int32_t> programs = {transition_dissolve, transition_sea, transition_bars, transition_flash};
  EXPECT_EQ(programs.size(), 4u);
  EXPECT_EQ(programs.count(-1), 0u);
  ASSERT_EQ(demo.numtransitions, 5);
  const int32_t shaders[5] = {transition_dissolve, transition_sea, transition_bars, transition_flash,
                              transition_bars};
  const int32_t lengths[5] = {32, 64, 64, 16, 32};
  for (int i = 0; i < 5; i++) {
    EXPECT_EQ(demo.transition[i].shader, shaders[i]) << i;
    EXPECT_EQ(demo.transition[i].length, lengths[i]) << i;
    EXPECT_EQ(demo.transition[i].mode, i == 4 ? 1 : 0) << i;
    EXPECT_EQ(demo.transition[i].blendwidth, 0.9f) << i;
    EXPECT_EQ(demo.transition[i].custom, 0.0f) << i;
  }
  EXPECT_EQ(demo.numevents, 16);
  EXPECT_EQ(demo.event[15].time, 15 * 256);

  // The music is loaded, but with false it is not started.
  EXPECT_GT(snd_demomusic.datasize, 0u);
  EXPECT_EQ(snd_demomusic.playing, 0);
  EXPECT_EQ(soundsystem.rate, 44100u);
}

TEST_F(DemoFrame, EventInForceReachesTheWindowAndSceneBWaits) {
  FillSceneB(1, 0, 1);
  Fill(framebuffer_id, 0, 0, 1);
  Demo_RenderFrame(OffsetOfTick(100));
  EXPECT_EQ(demo.currentevent, 0);
  EXPECT_EQ(demo.progress, 0.0f);
  EXPECT_EQ(GetInt(GL_FRAMEBUFFER_BINDING_EXT), 0) << "the frame ends on the window";
  EXPECT_EQ(GFX_FrameBuffer, &GFX_framebuffers[framebuffer_id]) << "the composite stays selected";
  std::vector<uint8_t> p = WindowPixel(640, 360);
  EXPECT_EQ(p[0], 255);
  EXPECT_EQ(p[1], 0);
  EXPECT_EQ(p[2], 0);
  p = SceneBPixel();
  EXPECT_EQ(p[0], 255) << "scene B is not drawn outside a transition";
  EXPECT_EQ(p[2], 255);
  // Nor is the composite: the post pass read scene A itself.
  p = CentrePixel(framebuffer_id);
  EXPECT_EQ(p[0], 0) << "outside a transition nothing is copied into the composite";
  EXPECT_EQ(p[2], 255);
  EXPECT_EQ(glfwWindowShouldClose(GFX_window), 0);

  Demo_RenderFrame(OffsetOfTick(300));
  EXPECT_EQ(demo.currentevent, 1);
  p = WindowPixel(10, 10);
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[1], 255);
}

TEST_F(DemoFrame, TheAutomaticScaleResizesTheFrameBuffersQuietly) {
  Demo_RenderFrame(OffsetOfTick(100));  // the first layout is done
  const std::string said = test_util::capture_stdout([] {
    Demo_SetScale(0.5f);
    Screen_Update();
  });
  int width = 0, height = 0;
  Demo_RenderSize(&width, &height);
  Demo_SetScale(1.0f);
  Screen_Update();
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 360);
  EXPECT_EQ(GFX_framebuffers[fx1_framebuffer_id].width, 1280) << "back at scale 1";
  EXPECT_EQ(said, "") << "a scale step prints nothing: the show's lines stay those of a fast machine";
}

TEST_F(DemoFrame, TransitionBlendsSceneAIntoSceneB) {
  // The dissolve into event 1 runs from tick 224 to 256: halfway at 240.
  FillSceneB(0, 0, 0);
  Demo_RenderFrame(OffsetOfTick(240));
  EXPECT_EQ(demo.currentevent, 0);
  EXPECT_FLOAT_EQ(demo.progress, 0.5f);
  const std::vector<uint8_t> p = WindowPixel(640, 360);
  EXPECT_NEAR(p[0], 128, 2);
  EXPECT_NEAR(p[1], 128, 2);
  EXPECT_EQ(p[2], 0);
  const std::vector<uint8_t> b = SceneBPixel();
  EXPECT_EQ(b[1], 255) << "the incoming event was drawn into scene B";
  EXPECT_EQ(b[0], 0);
}

TEST_F(DemoFrame, EndMarkSetsTheCloseFlagAfterDrawing) {
  Demo_RenderFrame(OffsetOfTick(14 * 256 + 10));
  EXPECT_EQ(demo.currentevent, 14);
  EXPECT_EQ(glfwWindowShouldClose(GFX_window), 0) << "event 14 keeps the show running";
  EXPECT_EQ(WindowPixel(640, 360)[2], 255);

  Demo_RenderFrame(OffsetOfTick(15 * 256 + 10));
  EXPECT_EQ(demo.currentevent, 15);
  EXPECT_NE(glfwWindowShouldClose(GFX_window), 0);
  EXPECT_EQ(GetInt(GL_FRAMEBUFFER_BINDING_EXT), 0) << "the frame is still drawn";
  EXPECT_EQ(GetInt(GL_CURRENT_PROGRAM), 0);
}

// The engine allocates nothing per frame: once every event and transition
// has been drawn once (the GL driver builds its shader variants lazily), a
// second pass over the same frames makes no heap allocation from our code.
TEST_F(DemoFrame, FramesAllocateNothingOnceWarm) {
  if (!alloc_probe::kAvailable) GTEST_SKIP() << "a sanitizer build brings its own allocator";
  auto pass = [] {
    for (int tick = 0; tick < 15 * 256; tick += 8) Demo_RenderFrame(OffsetOfTick(tick));
    glFinish();
  };
  pass();
  alloc_probe::Start();
  pass();
  const int64_t allocations = alloc_probe::Stop();
  EXPECT_EQ(allocations, 0) << "heap allocations in " << 15 * 256 / 8 << " frames";
}

TEST(DemoStartup, WindowThatCannotOpenEndsWithAMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  test_util::pack("sprox.dat", ProbeShow(kTiming, 2.0));
  // On standard error, naming the display's answer.
  EXPECT_EXIT(
      {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        Demo_Startup(false);
      },
      testing::ExitedWithCode(1), "^sprox: cannot open the 1280x720 window with an OpenGL 2.0 context: DISPLAY is unset");
}

// ---- Keys ------------------------------------------------------------------------------

// A long silent stand-in for the music (mono 8-bit, 20 million frames), so
// the seeks are not cut short by its length; the loaded music is put back.
class DemoKeys : public testing::Test {
 protected:
  void SetUp() override {
    EnsureStartup();
    saved_ = snd_demomusic;
    saved_demo_ = demo;
    snd_demomusic = s_sound{};
    snd_demomusic.channels = 1;
    snd_demomusic.bits = 8;
    snd_demomusic.frequency = 44100;
    snd_demomusic.numsamples = 20000000;
    snd_demomusic.datasize = 20000000;
    snd_demomusic.data = &stand_in_;
    snd_demomusic.playing = 1;
    showdebug = false;
    demopaused = false;
    demo.numevents = 4;
    demo.event[0].time = 0;
    demo.event[1].time = 100;
    demo.event[2].time = 3460;
    demo.event[3].time = 5000;
    demo.currentevent = 0;
  }
  void TearDown() override {
    demo = saved_demo_;
    snd_demomusic = saved_;
    showdebug = false;
    demopaused = false;
    glfwSetWindowShouldClose(GFX_window, 0);
  }
  static void Press(int key, int action = GLFW_PRESS) { key_callback(GFX_window, key, 0, action, 0); }
  static int64_t Offset() { return static_cast<int64_t>(Soundsystem_GetSoundOffset(snd_demomusic)); }
  s_sound saved_ = {};
  static s_demo saved_demo_;
  static uint8_t stand_in_;
};
uint8_t DemoKeys::stand_in_ = 0;
s_demo DemoKeys::saved_demo_;

TEST_F(DemoKeys, EscapeClosesWithOrWithoutDebugMode) {
  Press(GLFW_KEY_ESCAPE, GLFW_RELEASE);
  EXPECT_EQ(glfwWindowShouldClose(GFX_window), 0) << "a release does nothing";
  Press(GLFW_KEY_ESCAPE);
  EXPECT_NE(glfwWindowShouldClose(GFX_window), 0);
  glfwSetWindowShouldClose(GFX_window, 0);
  Press(GLFW_KEY_TAB);
  Press(GLFW_KEY_ESCAPE);
  EXPECT_NE(glfwWindowShouldClose(GFX_window), 0);
}

TEST_F(DemoKeys, TabGatesEnterAndTheArrows) {
  demo.currentevent = 1;
  Press(GLFW_KEY_ENTER);
  Press(GLFW_KEY_RIGHT);
  Press(GLFW_KEY_LEFT);
  EXPECT_FALSE(demopaused);
  EXPECT_EQ(snd_demomusic.playing, 1);
  EXPECT_EQ(demo.currentevent, 1);
  EXPECT_EQ(Offset(), 0) << "no seek outside debug mode";

  Press(GLFW_KEY_TAB);
  EXPECT_TRUE(showdebug);
  Press(GLFW_KEY_ENTER);
  EXPECT_TRUE(demopaused);
  EXPECT_EQ(snd_demomusic.playing, 0);
  Press(GLFW_KEY_ENTER);
  EXPECT_FALSE(demopaused);
  EXPECT_EQ(snd_demomusic.playing, 1);

  Press(GLFW_KEY_TAB);
  EXPECT_FALSE(showdebug);
  Press(GLFW_KEY_ENTER);
  EXPECT_FALSE(demopaused) << "a second Tab locks the keys again";
  EXPECT_EQ(snd_demomusic.playing, 1);
}

TEST_F(DemoKeys, AutoRepeatAndReleaseDoNothing) {
  Press(GLFW_KEY_TAB);
  Press(GLFW_KEY_TAB, GLFW_REPEAT);
  Press(GLFW_KEY_TAB, GLFW_RELEASE);
  EXPECT_TRUE(showdebug) << "holding Tab flips it once";
  Press(GLFW_KEY_ENTER);
  Press(GLFW_KEY_ENTER, GLFW_REPEAT);
  EXPECT_TRUE(demopaused) << "holding Enter pauses once";
  Press(GLFW_KEY_RIGHT, GLFW_REPEAT);
  EXPECT_EQ(demo.currentevent, 0);
  EXPECT_TRUE(demopaused);
}

TEST_F(DemoKeys, ArrowsSeekToEventStarts) {
  Press(GLFW_KEY_TAB);
  Press(GLFW_KEY_RIGHT);
  EXPECT_EQ(demo.currentevent, 1);
  EXPECT_EQ(Offset(), static_cast<int64_t>(100 * 2739.7916666666665));
  EXPECT_EQ(Offset() / TIMELINE_TICKLENGTH, 100) << "the seek lands on the event's start tick";

  Press(GLFW_KEY_RIGHT);
  EXPECT_EQ(demo.currentevent, 2);
  EXPECT_EQ(Offset() / TIMELINE_TICKLENGTH, 3461) << "beyond tick 3460 the seek lands one tick late";

  Press(GLFW_KEY_RIGHT);
  Press(GLFW_KEY_RIGHT);
  EXPECT_EQ(demo.currentevent, 3) << "no event after the last";
  EXPECT_EQ(Offset() / TIMELINE_TICKLENGTH, 5001);

  Press(GLFW_KEY_LEFT);
  Press(GLFW_KEY_LEFT);
  Press(GLFW_KEY_LEFT);
  EXPECT_EQ(demo.currentevent, 0);
  Press(GLFW_KEY_LEFT);
  EXPECT_EQ(demo.currentevent, 0);
  EXPECT_EQ(Offset(), 0) << "Left at event 0 restarts event 0";
}

TEST_F(DemoKeys, ArrowsResumeAPausedShow) {
  Press(GLFW_KEY_TAB);
  Press(GLFW_KEY_ENTER);
  ASSERT_TRUE(demopaused);
  Press(GLFW_KEY_RIGHT);
  EXPECT_FALSE(demopaused);
  EXPECT_EQ(snd_demomusic.playing, 1);
  Press(GLFW_KEY_ENTER);
  Press(GLFW_KEY_LEFT);
  EXPECT_FALSE(demopaused);
  EXPECT_EQ(snd_demomusic.playing, 1);
  EXPECT_EQ(demo.currentevent, 0);
}

// ---- Whole shows in a child process ---------------------------------------------------------

// Packs the probe show into its own folder, as the program finds it.
std::string ShowFolder(const std::string& name, const FileList& files) {
  std::filesystem::create_directories(name);
  test_util::pack(name + "/sprox.dat", files);
  return name;
}

// Plays the show packed in `dir` as the program does: start-up with the
// music, then one frame at the audible offset per swap until the window's
// close flag is set. `frame` sees every frame's copy of the music and the
// offset read from it once the frame is drawn (and before the swap, where the
// keys arrive). False when the show was still on
// after `limit` seconds. For a fresh process: start-up runs once a process.
template <typename Frame>
bool PlayShow(const std::string& dir, double limit, Frame frame) {
  if (chdir(dir.c_str()) != 0) return false;
  Demo_Startup(true);
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit);
  while (!glfwWindowShouldClose(GFX_window)) {
    if (std::chrono::steady_clock::now() > until) return false;
    const s_sound music = Soundsystem_CopySound(&snd_demomusic);
    const uint64_t position = Soundsystem_GetPlaybackOffset(music);
    Demo_RenderFrame(static_cast<int32_t>(static_cast<uint32_t>(position)));
    frame(music, position);
    GFX_SwapBuffers();
  }
  glfwTerminate();
  return true;
}

// Music that ends long before the end mark: one line on standard error says
// so when it ends, and the show goes on in silence on the same clock (never
// back to 0) to the end mark, where it closes by itself.
TEST(DemoShow, MusicEndingBeforeTheEndMarkGoesOnInSilenceToTheEndMark) {
  // Events 4 ticks apart (the end mark near 3.7 s); 1 s of music reaches event 4.
  ShowFolder("show_short_music", ProbeShow(Timing(16, 4), 1.0));
  EXPECT_IN_CHILD({
    setenv("SPROX_AUDIO", "silent", 1);
    uint64_t last = 0;
    bool forward = true;
    int highest = 0;
    testing::internal::CaptureStderr();
    const bool closed = PlayShow("show_short_music", 30.0, [&](const s_sound&, uint64_t offset) {
      forward = forward && offset >= last;
      last = offset;
      highest = std::max(highest, demo.currentevent);
    });
    const std::string said = testing::internal::GetCapturedStderr();
    const std::string line = "sound: the music ended at 1.0 s (frame 44100); its clock runs on in silence\n";
    const size_t at = said.find(line);
    CHILD_CHECK(closed);
    CHILD_CHECK(forward);
    CHILD_CHECK(highest == DEMO_LASTSCENE + 1);
    CHILD_CHECK(last > 2 * 44100);
    CHILD_CHECK(at != std::string::npos);
    CHILD_CHECK(said.find(line, at + 1) == std::string::npos);
  });
}

#if SPROX_TEST_HAS_ALSA
// ALSA breaking for good in the middle of the show (every write after the
// eighth fails): one line says so, the show's clock goes on on the steady
// clock without running backwards, and the show ends at the end mark.
TEST(DemoShow, AlsaFailingMidShowGoesOnWithoutSoundToTheEndMark) {
  if (!alsa_fault::opens("null")) GTEST_SKIP() << "ALSA's null PCM is not available here";
  // Events two ticks apart: the end mark at tick 30, about 1.9 s in.
  ShowFolder("show_alsa_breaks", ProbeShow(Timing(16, 2), 4.0));
  EXPECT_IN_CHILD({
    setenv("SPROX_AUDIO", "alsa", 1);
    setenv("SPROX_ALSA_DEVICE", "null", 1);
    alsa_fault::fail_after(8);
    uint64_t last = 0;
    bool forward = true;
    int highest = 0;
    bool closed = false;
    const std::string out = test_util::capture_stdout([&] {
      closed = PlayShow("show_alsa_breaks", 30.0, [&](const s_sound&, uint64_t offset) {
        forward = forward && offset >= last;
        last = offset;
        highest = std::max(highest, demo.currentevent);
      });
    });
    CHILD_CHECK(out.find("AUDIO: output: ALSA \"null\"\n") != std::string::npos);
    CHILD_CHECK(alsa_fault::g_refused == 1);
    CHILD_CHECK(out.find("sound: ALSA output failed (Input/output error), going on without sound\n") !=
                std::string::npos);
    CHILD_CHECK(closed);
    CHILD_CHECK(highest == DEMO_LASTSCENE + 1);
    CHILD_CHECK(forward);
  });
}
#endif

// ---- The real program -------------------------------------------------------------------

// Runs `script` with /bin/sh; returns its exit status.
int Shell(const std::string& script) {
  const int status = std::system(script.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DemoProgram, RunsToTheEndMarkAndPrintsTheStartup) {
  // Events one tick apart: the end mark (event 15) is about a second in; the
  // music runs on past it, so the timeline reaches it.
  const std::string timing = Timing(16, 1);
  const FileList files = ProbeShow(timing, 4.0);
  const std::string dir = ShowFolder("show_end", files);
  const auto start = std::chrono::steady_clock::now();
  const int rc = Shell("cd " + dir + " && SPROX_AUDIO=silent timeout 60 " SPROX_EXE " >stdout.txt 2>stderr.txt");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(rc, 0) << "stderr: " << test_util::read_file(dir + "/stderr.txt");
  EXPECT_LT(seconds, 50.0) << "ended by the end mark, not the timeout";
  const std::string out = test_util::read_file(dir + "/stdout.txt");
  ExpectLines(out, ExpectedStartup(files, timing, "data: mounted sprox.dat in the current folder"));
  EXPECT_NE(out.find("AUDIO: output: silent"), std::string::npos) << out;
}

// What the program cannot show: each case is made by `setup` (sh, in a
// folder of its own, $IMAGE a good packed show) and run with `args` and no
// display, so that a line about the data, not the window, shows that it
// stopped before opening one. It must end at once with `status` and exactly
// one line of ours on standard error, after the reader's lines on standard
// output when `mounting`.
TEST(DemoProgram, WhatCannotBeShownEndsAtOnceWithOneLineOnStandardError) {
  const std::string image = std::filesystem::absolute(ShowFolder("refuse_image", ProbeShow(Timing(16, 1), 1.0))) /
                            "sprox.dat";
  const std::string hint = "; put sprox.dat beside the program or name it with --data\n";
  // An image appended to a copy of the program, its trailer pointing at a
  // header that claims more files than the file holds.
  const std::string lying =
      "cp " SPROX_EXE " prog && n=$(stat -c %s prog) && printf 'CORE\\377\\377\\377\\177\\0\\0\\0\\0' >>prog && "
      "printf \"$(printf '\\\\%03o\\\\%03o\\\\%03o\\\\%03o' $((n & 255)) $((n >> 8 & 255)) $((n >> 16 & 255)) "
      "$((n >> 24 & 255)))\" >>prog";
  struct Case {
    const char* name;
    std::string setup;
    std::string command;  // run in the case's folder
    int status;
    std::string error;    // standard error, whole
    bool mounting;        // the reader was asked, and said so first
  };
  const std::string folder = std::filesystem::absolute("refuse").string();
  const std::vector<Case> cases = {
      {"empty", ": >sprox.dat", SPROX_EXE, 1,
       "sprox: no show data: could not mount sprox.dat (found in the current folder: not a resource image)" + hint, true},
      {"text", "echo 'not an image' >t.txt", SPROX_EXE " --data t.txt", 1,
       "sprox: no show data: could not mount t.txt (the file given: not a resource image)" + hint, true},
      {"truncated", "head -c 200 " + image + " >cut.dat", SPROX_EXE " --data cut.dat", 1,
       "sprox: no show data: could not mount cut.dat (the file given: damaged image: romsize beyond the end of the file)" + hint, true},
      {"empty_folder", "mkdir nothing", SPROX_EXE " --data nothing", 1,
       "sprox: no show data: could not mount nothing (the folder given: it holds no files)" + hint, true},
      {"lying_trailer", lying, "./prog", 1,
       "sprox: no show data: could not mount " + folder + "/lying_trailer/prog (the image appended to the program: damaged image: file table larger than the file)" +
           hint, true},
      {"fifo", "mkfifo f", SPROX_EXE " --data f", 1, "sprox: --data f: a FIFO, not a file or folder\n", false},
      {"dev_missing", "", SPROX_EXE " --dev /nonexistent", 1, "sprox: --dev /nonexistent: no such file or folder\n",
       false},
      {"monitor", "", SPROX_EXE " --monitor 99", 2,
       "sprox: --monitor '99' is not a monitor number (0 to 63) (see sprox --help)\n", false},
  };
  for (const Case& c : cases) {
    const std::string dir = folder + "/" + c.name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    ASSERT_EQ(Shell("cd " + dir + " && " + (c.setup.empty() ? ":" : c.setup)), 0) << c.name;
    const int rc = Shell("cd " + dir + " && env -u DISPLAY -u WAYLAND_DISPLAY IMAGE=" + image +
                         " SPROX_AUDIO=silent timeout 20 " + c.command + " >stdout.txt 2>stderr.txt");
    const std::string out = test_util::read_file(dir + "/stdout.txt");
    EXPECT_EQ(rc, c.status) << c.name << "\n" << out;
    EXPECT_EQ(test_util::read_file(dir + "/stderr.txt"), c.error) << c.name;
    EXPECT_EQ(out.find("sprox:"), std::string::npos) << c.name << ": ours on standard output:\n" << out;
    EXPECT_EQ(out.find("Loading resource image: ") == 0, c.mounting) << c.name << "\n" << out;
  }
}

// Shows that end on their own although nothing in them says when: a
// timeline without an end mark (or without events) ends with its music,
// after a warning; and a reader of standard output that goes away early
// (| head -1, while the clock log writes a line every frame) leaves the show
// playing to its end mark with status 0.
TEST(DemoProgram, ShowsWithoutAnEndMarkEndWithTheirMusicAndAClosedPipeDoesNotStopOne) {
  struct Case {
    const char* name;
    std::string timing;
    double music;          // seconds
    const char* pipe;      // what reads sprox's standard output, or "" for a file
    std::string warning;   // standard error, whole
  };
  const std::vector<Case> cases = {
      {"no_end_mark", Timing(3, 8), 1.5, "",
       "sprox: warning: timing.dat has no end mark (event 15); the show ends when its music ends\n"},
      {"garbage", std::string("\x89\x01 garbage\0\xff\nevents 7\n", 22), 1.5, "",
       "sprox: warning: timing.dat gives no events; the show ends when its music ends\n"},
      {"closed_pipe", Timing(16, 2), 4.0, " | head -1 >/dev/null", ""},
  };
  for (const Case& c : cases) {
    const std::string dir = ShowFolder(std::string("show_") + c.name, ProbeShow(c.timing, c.music));
    const auto start = std::chrono::steady_clock::now();
    const int rc = Shell("cd " + dir + " && bash -c 'SPROX_AUDIO=silent SPROX_CLOCK_LOG=1 timeout 60 " SPROX_EXE
                         " 2>stderr.txt" + (*c.pipe ? std::string(c.pipe) : " >stdout.txt") +
                         "; exit ${PIPESTATUS[0]}'");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(rc, 0) << c.name << " (141: ended by SIGPIPE, 124: never ended)";
    EXPECT_LT(seconds, 50.0) << c.name;
    // The sound system may also say that the music ended, depending on
    // whether the loop saw the clock past the music's end first.
    const std::string error = std::regex_replace(test_util::read_file(dir + "/stderr.txt"),
                                                 std::regex("sound: the music ended at [^\n]*\n"), "");
    EXPECT_EQ(error, c.warning) << c.name;
  }
}

TEST(DemoProgram, EscapeEndsTheShow) {
  // A timeline without an end mark: only the key can end it.
  const std::string timing = Timing(2, 100000);
  const std::string dir = ShowFolder("show_escape", ProbeShow(timing, 2.0));
  // The program's own window is the one of that title whose process is not
  // this test (which has a window of the same title); it is focused, so the
  // key arrives as a real key press.
  const std::string self = std::to_string(getpid());
  const std::string script =
      "cd " + dir + " && { SPROX_AUDIO=silent timeout 60 " SPROX_EXE " >stdout.txt 2>stderr.txt & job=$!; w=;"
      " for i in $(seq 150); do"
      "  for c in $(xdotool search --name '^Keldrun - Sprox$' 2>/dev/null); do"
      "   [ \"$(xdotool getwindowpid $c 2>/dev/null)\" != " + self + " ] && w=$c;"
      "  done; [ -n \"$w\" ] && break; sleep 0.2;"
      " done;"
      " if [ -z \"$w\" ]; then wait $job; exit 3; fi;"
      " sleep 1; timeout 10 xdotool windowfocus --sync $w; xdotool key Escape;"
      " wait $job; echo $? >status.txt; }";
  EXPECT_EQ(Shell(script), 0) << "the window titled \"Keldrun - Sprox\" was found";
  EXPECT_EQ(test_util::read_file(dir + "/status.txt"), "0\n")
      << "stderr: " << test_util::read_file(dir + "/stderr.txt");
  EXPECT_NE(test_util::read_file(dir + "/stdout.txt").find("load timing timing.dat"), std::string::npos);
}

}  // namespace
