// The real program in development mode, driven from outside as a maker
// would: `sprox --dev` on a temporary unpacked copy of the data (the build's
// packed shaders, images and timing file as plain files in src/, the folder
// handed to sprox holding one link per file into src/, as build/dev does),
// on the silent output under Xvfb, with the prelude beside them for the
// bodies the test saves without a version line. The files in src/ are rewritten (in place,
// or renamed over), the keys come from xdotool, and the picture and the
// title are read from the X server. Every wait polls up to a generous
// deadline; the latencies seen are printed, never asserted.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "demo/demo.h"
#include "effects/assets.h"
#include "test_util.h"

// Last: Xlib defines macros (None, Bool) that clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
const fs::path kBuild = SPROX_BINARY_DIR;
const fs::path kHere = fs::current_path();
const fs::path kSrc = kHere / "src";
const fs::path kData = kHere / "data";
const fs::path kLog = kHere / "sprox.log";
constexpr auto kDeadline = std::chrono::seconds(30);

int Shell(const std::string& script) {
  const int status = std::system(script.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Polls `done` every 20 ms until it holds or the deadline passes; returns
// the milliseconds it took, or -1.
double PollFor(const std::function<bool()>& done) {
  const Clock::time_point start = Clock::now();
  while (Clock::now() - start < kDeadline) {
    if (done()) return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1.0;
}

// Writes a file in place (the same inode: the watch sees IN_CLOSE_WRITE).
void Rewrite(const fs::path& path, const std::string& bytes) { test_util::write_file(path, bytes); }
// Writes beside it and renames over it (IN_MOVED_TO).
void RenameOver(const fs::path& path, const std::string& bytes) {
  const fs::path temporary = path.parent_path() / ".saving";
  test_util::write_file(temporary, bytes);
  fs::rename(temporary, path);
}

std::string SolidPng(unsigned w, unsigned h, uint8_t r, uint8_t g, uint8_t b) {
  std::vector<uint8_t> rgba;
  for (unsigned i = 0; i < w * h; i++) rgba.insert(rgba.end(), {r, g, b, 255});
  return test_util::png_rgba(rgba, w, h);
}

class DevLive : public testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(kSrc);
    fs::remove_all(kData);
    fs::create_directories(kSrc);
    fs::create_directories(kData);
    // The unpacked copy: every file of the image under its name.
    for (const char* folder : {"gen/images", "gen/shaders"})
      for (const auto& entry : fs::directory_iterator(kBuild / folder))
        fs::copy_file(entry.path(), kSrc / entry.path().filename());
    fs::copy_file(fs::path(SPROX_SOURCE_DIR) / "content" / DEMO_TIMINGNAME, kSrc / DEMO_TIMINGNAME);
    // The prelude, for the bodies saved below without a version line.
    fs::copy_file(fs::path(SPROX_SOURCE_DIR) / "content/prelude.glsl", kSrc / "prelude.glsl");
    fs::create_symlink(kBuild / "gen/music" / DEMO_MUSICNAME, kSrc / DEMO_MUSICNAME);
    for (const auto& entry : fs::directory_iterator(kSrc))
      fs::create_symlink(entry.path(), kData / entry.path().filename());

    display_ = XOpenDisplay(nullptr);
    ASSERT_NE(display_, nullptr);
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      freopen(kLog.c_str(), "w", stdout);
      dup2(fileno(stdout), 2);
      setenv("SPROX_AUDIO", "silent", 1);
      execl(SPROX_EXE, SPROX_EXE, "--dev", kData.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GE(PollFor([&] { return Log().find("- event: 15 ") != std::string::npos && FindWindow(); }), 0.0)
        << "start-up: " << Log();
  }

  void TearDown() override {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (display_) XCloseDisplay(display_);
  }

  std::string Log() const { return fs::exists(kLog) ? test_util::read_file(kLog) : std::string(); }

  // The top-level window whose title begins with the show's title.
  bool FindWindow() {
    FILE* pipe = popen("xdotool search --name '^Keldrun - Sprox' 2>/dev/null | head -n 1", "r");
    if (!pipe) return false;
    char line[64] = "";
    const bool got = fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    window_ = got ? std::strtoul(line, nullptr, 10) : 0;
    return window_ != 0;
  }

  std::string Title() {
    char* name = nullptr;
    std::string title;
    if (XFetchName(display_, window_, &name) && name) title = name;
    if (name) XFree(name);
    return title;
  }

  // The mean colour of a 64 x 64 square at the window's centre, 0xRRGGBB.
  uint32_t CentreColour() {
    XImage* image = XGetImage(display_, window_, EFFECTS_WIDTH / 2 - 32, EFFECTS_HEIGHT / 2 - 32, 64, 64, AllPlanes,
                              ZPixmap);
    if (!image) return 0xFFFFFFFFu;
    uint64_t sum[3] = {};
    for (int y = 0; y < 64; y++)
      for (int x = 0; x < 64; x++) {
        const unsigned long p = XGetPixel(image, x, y);
        sum[0] += (p & image->red_mask) >> 16;
        sum[1] += (p & image->green_mask) >> 8;
        sum[2] += p & image->blue_mask;
      }
    XDestroyImage(image);
    return static_cast<uint32_t>(sum[0] / 4096 << 16 | sum[1] / 4096 << 8 | sum[2] / 4096);
  }

  void Keys(const std::string& keys) {
    ASSERT_EQ(Shell("timeout 10 xdotool windowfocus --sync " + std::to_string(window_) + " && xdotool key --delay 60 " +
                    keys),
              0);
  }

  bool TitleHas(const std::string& text) { return Title().find(text) != std::string::npos; }

  Display* display_ = nullptr;
  Window window_ = 0;
  pid_t pid_ = -1;
};

bool Near(uint32_t colour, uint32_t want) {
  for (int shift = 0; shift <= 16; shift += 8) {
    const int a = (colour >> shift) & 0xFF, b = (want >> shift) & 0xFF;
    if (std::abs(a - b) > 40) return false;
  }
  return true;
}

TEST_F(DevLive, ReloadsScrubbingAndTheReadOut) {
  // Debug mode is on from the start: the read-out is in the title.
  const std::regex readout(R"(^Keldrun - Sprox \| event \d+ state -?\d+ \| tick \d+ \| bar \d+\.[1-4] \| )"
                           R"(\d+\.\d fps \| (\d+\.\d|-) ms$)");
  EXPECT_GE(PollFor([&] { return std::regex_match(Title(), readout) && !TitleHas(" 0.0 fps"); }), 0.0) << Title();

  // Paused, each scrub key lands on exactly the tick it names.
  Keys("space");
  EXPECT_GE(PollFor([&] { return Log().find("dev: paused at tick") != std::string::npos; }), 0.0) << Log();
  const struct {
    const char* keys;
    const char* title;
  } scrubs[] = {
      {"Home", "| tick 0 | bar 0.1 |"},       {"Up", "| tick 8 | bar 0.2 |"},
      {"Up Up", "| tick 24 | bar 0.4 |"},     {"Page_Up", "| tick 32 | bar 1.1 |"},
      {"Down", "| tick 24 | bar 0.4 |"},      {"Page_Down", "| tick 0 | bar 0.1 |"},
      {"Page_Up Page_Up Page_Up Up", "| tick 104 | bar 3.2 |"}, {"Page_Down", "| tick 96 | bar 3.1 |"},
  };
  for (const auto& scrub : scrubs) {
    Keys(scrub.keys);
    EXPECT_GE(PollFor([&] { return TitleHas(scrub.title); }), 0.0) << scrub.keys << ": " << Title();
  }
  EXPECT_TRUE(TitleHas("Keldrun - Sprox | event 0 state 0 | tick 96 |")) << Title();

  // A solid red post shader, saved in place, turns the window red.
  const Clock::time_point saved = Clock::now();
  Rewrite(kSrc / "post.glsl", "void main() {\n  gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0);\n}\n");
  const double red = PollFor([&] { return Near(CentreColour(), 0xFF0000); });
  EXPECT_GE(red, 0.0) << std::hex << CentreColour() << "\n" << Log();
  const double shader_ms = std::chrono::duration<double, std::milli>(Clock::now() - saved).count();

  // A broken one keeps the picture; the log and the title name file and line.
  Rewrite(kSrc / "post.glsl", "void main() {\n  vec4 c = vec4(1.0);\n  gl_FragColor = c +;\n}\n");
  EXPECT_GE(PollFor([&] { return Log().find("dev: post.glsl:3:") != std::string::npos; }), 0.0) << Log();
  EXPECT_NE(Log().find("error"), std::string::npos);
  EXPECT_GE(PollFor([&] { return TitleHas("| post.glsl:3:"); }), 0.0) << Title();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(Near(CentreColour(), 0xFF0000)) << "the picture stays: " << std::hex << CentreColour();

  // A post shader showing vintage8.png; then the image renamed over with a green one.
  Rewrite(kSrc / "post.glsl", "uniform sampler2D texture1;\nvoid main() { gl_FragColor = texture2D(texture1, texCoord); }\n");
  EXPECT_GE(PollFor([&] { return !TitleHas("post.glsl:3:") && !Near(CentreColour(), 0xFF0000); }), 0.0) << Title();
  EXPECT_FALSE(Near(CentreColour(), 0x00FF00)) << "the packed image is not green";
  const Clock::time_point imagesaved = Clock::now();
  RenameOver(kSrc / "vintage8.png", SolidPng(64, 36, 0, 255, 0));
  EXPECT_GE(PollFor([&] { return Near(CentreColour(), 0x00FF00); }), 0.0) << std::hex << CentreColour() << Log();
  const double image_ms = std::chrono::duration<double, std::milli>(Clock::now() - imagesaved).count();

  // Event 1 moved from tick 256 to 64: paused at tick 96, the show is in event 1.
  std::string timing = test_util::read_file(kSrc / DEMO_TIMINGNAME);
  const size_t line = timing.find("event 1 256 ");
  ASSERT_NE(line, std::string::npos);
  timing.replace(line, 12, "event 1 64 ");
  const Clock::time_point timingsaved = Clock::now();
  Rewrite(kSrc / DEMO_TIMINGNAME, timing);
  EXPECT_GE(PollFor([&] { return TitleHas("| event 1 state 0 | tick 96 |"); }), 0.0) << Title();
  const double timing_ms = std::chrono::duration<double, std::milli>(Clock::now() - timingsaved).count();

  // The loop holds event 0 (now ticks 0 to 64): playing on, the tick wraps
  // back before 64 and never reaches it.
  Keys("Home");
  EXPECT_GE(PollFor([&] { return TitleHas("| tick 0 |"); }), 0.0) << Title();
  Keys("l space");
  int32_t last = -1, highest = -1;
  bool wrapped = false;
  PollFor([&] {
    const std::string title = Title();
    const size_t at = title.find("| tick ");
    if (at == std::string::npos) return false;
    const int32_t tick = std::atoi(title.c_str() + at + 7);
    if (tick < last) wrapped = true;
    if (tick > highest) highest = tick;
    last = tick;
    return wrapped;
  });
  EXPECT_TRUE(wrapped) << "highest tick " << highest;
  EXPECT_LT(highest, 64);
  EXPECT_GE(highest, 48) << "it played most of the event";
  Keys("l");
  EXPECT_GE(PollFor([&] { return Log().find("dev: loop off") != std::string::npos; }), 0.0);

  std::printf("reload latency, save to seen: shader %.0f ms, image %.0f ms, timing %.0f ms\n", shader_ms, image_ms,
              timing_ms);
  for (const char* kind : {"dev: reloaded shader", "dev: reloaded image", "dev: reloaded timing"}) {
    const std::string log = Log();
    const size_t at = log.find(kind);
    if (at != std::string::npos) std::printf("  %s\n", log.substr(at, log.find('\n', at) - at).c_str());
  }

  // The end mark pauses the makers' mode instead of ending it; Home plays on.
  Keys("Right Right Right Right Right Right Right Right Right Right Right Right Right Right Right");
  EXPECT_GE(PollFor([&] { return Log().find("dev: paused at the end mark") != std::string::npos; }), 0.0) << Log();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(waitpid(pid_, nullptr, WNOHANG), 0) << "the show ended at the end mark";
  EXPECT_GE(PollFor([&] { return TitleHas("| event 15 "); }), 0.0) << Title();
  Keys("Home");
  EXPECT_GE(PollFor([&] { return TitleHas("| event 0 ") && !TitleHas("| tick 0 |"); }), 0.0) << Title();

  // Leaving debug mode puts the plain title back; Tab again, the read-out.
  Keys("Tab");
  EXPECT_GE(PollFor([&] { return Title() == DEMO_TITLE; }), 0.0) << Title();
  Keys("Tab");
  EXPECT_GE(PollFor([&] { return TitleHas(" | tick "); }), 0.0) << Title();

  // Escape still ends the show with status 0.
  Keys("Escape");
  int status = -1;
  EXPECT_GE(PollFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }), 0.0);
  pid_ = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
