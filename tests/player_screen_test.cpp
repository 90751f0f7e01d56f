// The player on a real X screen of 1920x1080 with no window manager (Xvfb):
// full screen covers the monitor exactly, a 4:3 window shows the picture
// letterboxed with black bars, and F11 and a resize re-lay the picture out
// (the program says so on standard output), then Escape still ends it with 0.
// The window is found with xdotool and read back with ffmpeg's x11grab.
// Last, --still's PNG against the capture tool's frame at the same time.
#include <gtest/gtest.h>
#include <lodepng.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

namespace fs = std::filesystem;

const std::string kImage = std::string(SPROX_BINARY_DIR) + "/sprox.dat";
constexpr const char* kScreen = "-screen 0 1920x1080x24";
constexpr int kNoWindow = 3;  // a case script's status when the show's window never appeared

// Shell helpers every case's script starts with. `start ARGS` runs the show
// (muted, on the built data) with its output in out.txt and finds its window;
// `until_out TEXT` waits for a line; `grab W H X Y FILE` reads the screen.
const std::string kPrologue = std::string(
    "set -u; cd '%DIR%';"
    "start() { '" SPROX_EXE "' --mute --data '") + kImage + std::string("' \"$@\" >out.txt 2>err.txt & job=$!; w=;"
    "  for i in $(seq 600); do w=$(xdotool search --name '^Keldrun - Sprox$' 2>/dev/null | head -1);"
    "    [ -n \"$w\" ] && break; sleep 0.1; done; [ -n \"$w\" ] || exit 3;"
    "  until_out 'load timing' || exit 4; sleep 2; }\n"
    "until_out() { for i in $(seq 600); do grep -qF \"$1\" out.txt && return 0; sleep 0.1; done; return 1; }\n"
    "geometry() { xwininfo -id $w | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}"
    "  /Width:/{wd=$2} /Height:/{ht=$2} END{print wd \"x\" ht \"+\" x \"+\" y}'; }\n"
    "grab() { ffmpeg -loglevel error -y -f x11grab -video_size $1x$2 -i \"$DISPLAY+$3,$4\" -frames:v 1 $5; }\n"
    "key() { timeout 10 xdotool windowfocus --sync $w; xdotool key $1; }\n"
    "finish() { key Escape; wait $job; echo $? >status.txt; }\n");

// Runs a case's script under its own 1920x1080 X server; returns its status.
int run_screen(const std::string& dir, const std::string& body) {
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::string script = kPrologue + body;
  for (size_t at = script.find("%DIR%"); at != std::string::npos; at = script.find("%DIR%"))
    script.replace(at, 5, fs::absolute(dir).string());
  test_util::write_file(dir + "/case.sh", script);
  const std::string command =
      "timeout 300 xvfb-run -a -s '" + std::string(kScreen) + "' bash " + dir + "/case.sh >" + dir + "/log.txt 2>&1";
  // A window that never appears (status 3) is the X server of a busy machine
  // refusing or losing the connection now and then, not the player: once more.
  int result = -1;
  for (int attempt = 0; attempt < 2 && (attempt == 0 || result == kNoWindow); ++attempt) {
    const int status = std::system(command.c_str());
    result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return result;
}

struct Picture {
  unsigned width = 0, height = 0;
  std::vector<unsigned char> rgba;
  // The brightest channel value over a band of rows [top, bottom).
  int brightest(unsigned top, unsigned bottom) const {
    int most = 0;
    for (unsigned y = top; y < bottom && y < height; ++y)
      for (unsigned x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c) most = std::max<int>(most, rgba[(static_cast<size_t>(y) * width + x) * 4 + c]);
    return most;
  }
};

Picture load(const std::string& path) {
  Picture picture;
  EXPECT_EQ(lodepng::decode(picture.rgba, picture.width, picture.height, path), 0u) << path;
  return picture;
}

std::string describe(const std::string& dir) {
  return "log: " + test_util::read_file(dir + "/log.txt") + "\nstderr: " + test_util::read_file(dir + "/err.txt");
}

TEST(PlayerScreen, FullScreenCoversTheMonitorExactly) {
  const std::string dir = "fullscreen";
  ASSERT_EQ(run_screen(dir, "start --fullscreen; geometry >geometry.txt; grab 1920 1080 0 0 screen.png; finish"), 0)
      << describe(dir);
  EXPECT_EQ(test_util::read_file(dir + "/geometry.txt"), "1920x1080+0+0\n");
  EXPECT_EQ(test_util::read_file(dir + "/status.txt"), "0\n") << describe(dir);
  const Picture screen = load(dir + "/screen.png");
  ASSERT_EQ(screen.width, 1920u);
  // No bars on a 16:9 monitor: the show reaches the top and bottom rows.
  EXPECT_GT(screen.brightest(0, 4), 16);
  EXPECT_GT(screen.brightest(1076, 1080), 16);
}

TEST(PlayerScreen, AFourByThreeWindowIsLetterboxed) {
  const std::string dir = "letterbox";
  ASSERT_EQ(run_screen(dir, "start --window 960x720; geometry >geometry.txt;"
                            " g=$(geometry); x=${g#*+}; y=${x#*+}; x=${x%+*};"
                            " grab 960 720 $x $y window.png; finish"),
            0)
      << describe(dir);
  EXPECT_EQ(test_util::read_file(dir + "/geometry.txt").substr(0, 8), "960x720+");
  const Picture window = load(dir + "/window.png");
  ASSERT_EQ(window.height, 720u);
  // 960 wide at 16:9 is 540 high: 90 black rows above and below.
  EXPECT_EQ(window.brightest(0, 89), 0) << "top bar";
  EXPECT_EQ(window.brightest(631, 720), 0) << "bottom bar";
  EXPECT_GT(window.brightest(92, 628), 16) << "the picture between them";
}

TEST(PlayerScreen, F11AndResizingLayThePictureOutAgain) {
  const std::string dir = "switch";
  // At a fixed scale, so that the render size follows the screen alone.
  ASSERT_EQ(run_screen(dir, "start --scale 1; key F11;"
                            " until_out 'screen: 1920x1080 picture in a 1920x1080 full screen' || exit 5;"
                            " geometry >full.txt; key F11;"
                            " until_out 'screen: 1280x720 picture in a 1280x720 window' || exit 6;"
                            " xdotool windowsize $w 960 720;"
                            " until_out 'screen: 1280x720 picture in a 960x720 window' || exit 7;"
                            " finish"),
            0)
      << describe(dir) << "\nout: " << test_util::read_file(dir + "/out.txt");
  EXPECT_EQ(test_util::read_file(dir + "/full.txt"), "1920x1080+0+0\n");
  EXPECT_EQ(test_util::read_file(dir + "/status.txt"), "0\n") << describe(dir);
}

// PSNR in dB of two RGBA pictures of one size over their colour channels;
// 1000 for identical pictures.
double psnr(const Picture& a, const Picture& b) {
  double squares = 0.0;
  size_t count = 0;
  for (size_t i = 0; i < a.rgba.size() && i < b.rgba.size(); ++i) {
    if (i % 4 == 3) continue;
    const double d = static_cast<double>(a.rgba[i]) - b.rgba[i];
    squares += d * d;
    ++count;
  }
  if (squares == 0.0) return 1000.0;
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(count) / squares);
}

// `sprox --still S FILE` writes the frame sprox-capture --at S renders, at
// the render size (--size too); a file that cannot be written fails with 1 and leaves no file.
TEST(PlayerStill, TheStillFrameIsTheCapturesFrame) {
#ifndef SPROX_CAPTURE
  GTEST_SKIP() << "no sprox-capture in this build";
#else
  struct Case {
    const char* seconds;
    const char* name;
    const char* size;  // --size given to both programs, or ""
    unsigned width;    // of the PNG
  };
  const std::vector<Case> cases = {{"40.02", "a", "", 1280}, {"3.5", "b", "--size 640x360", 640}};
  const std::string dir = "still";
  std::string body;
  for (const Case& c : cases)
    body += std::string("'" SPROX_EXE "' --data '") + kImage + "' " + c.size + " --still " + c.seconds + " still_" + c.name +
            ".png >/dev/null 2>>err.txt; echo $? >status_" + c.name + ".txt; '" SPROX_CAPTURE "' --quiet --data '" +
            kImage + "' " + c.size + " --at " + c.seconds + " --png cap_" + c.name + " >/dev/null 2>>err.txt || exit 5;\n";
  body += std::string("'" SPROX_EXE "' --data '") + kImage + "' --still 1 nowhere/x.png >/dev/null 2>unwritable.txt;"
          " echo $? >status_unwritable.txt\n";
  ASSERT_EQ(run_screen(dir, body), 0) << describe(dir);
  for (const Case& c : cases) {
    EXPECT_EQ(test_util::read_file(dir + "/status_" + c.name + ".txt"), "0\n") << c.seconds << describe(dir);
    const Picture still = load(dir + "/still_" + c.name + ".png");
    std::vector<fs::path> captured;
    for (const auto& entry : fs::directory_iterator(dir + "/cap_" + c.name)) captured.push_back(entry.path());
    ASSERT_EQ(captured.size(), 1u) << c.seconds;
    const Picture capture = load(captured[0].string());
    ASSERT_EQ(still.width, c.width) << c.seconds << " at the render size";
    ASSERT_EQ(capture.width, c.width) << c.seconds;
    ASSERT_EQ(still.height, capture.height) << c.seconds;
    EXPECT_GE(psnr(still, capture), 40.0) << c.seconds;
  }
  EXPECT_EQ(test_util::read_file(dir + "/status_unwritable.txt"), "1\n");
  EXPECT_NE(test_util::read_file(dir + "/unwritable.txt").find("--still nowhere/x.png: cannot write"), std::string::npos)
      << test_util::read_file(dir + "/unwritable.txt");
  EXPECT_FALSE(fs::exists(dir + "/nowhere")) << "nothing left behind";
#endif
}

}  // namespace
