// The player's pure parts, without a window: the option reader shared with
// the capture tool, sprox's command line, the letterbox, and the data lookup
// with real files in scratch folders (an executable with an image appended
// included). Last, the built program itself on a two-second show under a
// display of its own (xvfb-run), with standard output in each of the states
// a careless user leaves it in.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/core.h"
#include "demo/pacing.h"
#include "corefile/corefile.h"
#include "demo/demo.h"
#include "effects/effects.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

using Parsed = test_util::Parsed<s_playeroptions>;

Parsed parse(std::vector<const char*> args) {
  return test_util::parse_options<s_playeroptions>(Demo_ParseOptions, "sprox", std::move(args));
}

TEST(PlayerOptions, AcceptedCommandLines) {
  const Parsed none = parse({});
  ASSERT_EQ(none.ok, 1) << none.message;
  EXPECT_FALSE(none.options.fullscreen);
  EXPECT_EQ(none.options.windowwidth, EFFECTS_WIDTH);
  EXPECT_EQ(none.options.windowheight, EFFECTS_HEIGHT);
  EXPECT_EQ(none.options.width, 0) << "no render size: it follows the screen";
  EXPECT_EQ(none.options.scale, 0.0f) << "auto scale by default";
  EXPECT_EQ(none.options.data, nullptr);

  const Parsed full = parse({"--fullscreen", "--monitor=1", "--size", "3840x2160", "--mute", "--scale", "0.5",
                             "--data=/x/sprox.dat", "--stats"});
  ASSERT_EQ(full.ok, 1) << full.message;
  EXPECT_TRUE(full.options.fullscreen);
  EXPECT_EQ(full.options.monitor, 1);
  EXPECT_EQ(full.options.width, 3840);
  EXPECT_EQ(full.options.height, 2160);
  EXPECT_TRUE(full.options.mute);
  EXPECT_TRUE(full.options.stats);
  EXPECT_FLOAT_EQ(full.options.scale, 0.5f);
  EXPECT_STREQ(full.options.data, "/x/sprox.dat");

  const Parsed window = parse({"--window", "800x600", "--size=1366x768", "--scale=auto"});
  ASSERT_EQ(window.ok, 1) << window.message;
  EXPECT_TRUE(window.options.window);
  EXPECT_EQ(window.options.windowwidth, 800);
  EXPECT_EQ(window.options.windowheight, 600);
  EXPECT_EQ(window.options.width, 1366) << "within a pixel of 16:9";
  EXPECT_EQ(window.options.scale, 0.0f);

  // --still takes a time and the file after it.
  const Parsed still = parse({"--still", "40.02", "x.png", "--size=640x360"});
  ASSERT_EQ(still.ok, 1) << still.message;
  EXPECT_EQ(still.options.still_us, 40020000);
  EXPECT_STREQ(still.options.stillfile, "x.png");
  EXPECT_EQ(still.options.width, 640) << "the option after the file is read as usual";

  // --help wins over anything, mistakes included.
  const Parsed help = parse({"--bogus", "--help"});
  ASSERT_EQ(help.ok, 1);
  EXPECT_TRUE(help.options.help);
}

TEST(PlayerOptions, RefusedCommandLinesNameTheirArgument) {
  struct Case {
    std::vector<const char*> args;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"fullscreen"}, "unexpected argument 'fullscreen'"},
      {{"-f"}, "unexpected argument '-f'"},
      {{"--mute=yes"}, "--mute takes no value"},
      {{"--size"}, "--size needs a value"},
      {{"--data="}, "--data needs a value"},
      {{"--mute", "--mute"}, "--mute given twice"},
      {{"--size", "1000x1000"}, "--size '1000x1000' is not a 16:9 size"},
      {{"--size", "1920x"}, "--size '1920x' is not a 16:9 size"},
      {{"--size", "0x0"}, "--size '0x0'"},
      {{"--size", "99999x56249"}, "--size '99999x56249'"},
      {{"--window", "wide"}, "--window 'wide' is not a size"},
      {{"--monitor", "-1"}, "--monitor '-1' is not a monitor number"},
      {{"--monitor", "99"}, "--monitor '99' is not a monitor number (0 to 63)"},
      {{"--scale", "3"}, "--scale '3' is not 'auto' or a number"},
      {{"--scale", "0.1"}, "--scale '0.1'"},
      {{"--scale", "half"}, "--scale 'half'"},
      {{"--fullscreen", "--window", "800x600"}, "--window cannot go with --fullscreen"},
      {{"--data", "a", "--dev", "b"}, "--data cannot go with --dev"},
      {{"--still", "-1", "x.png"}, "--still '-1' is not a time in seconds"},
      {{"--still", "1e3", "x.png"}, "--still '1e3' is not a time"},
      {{"--still", "1.2.3", "x.png"}, "--still '1.2.3' is not a time"},
      {{"--still", "86401", "x.png"}, "--still '86401' is not a time"},
      {{"--still", "40"}, "--still needs a file after the time"},
      {{"--still", "40", "x.png", "--fullscreen"}, "--still cannot go with --fullscreen"},
  };
  for (const Case& c : cases) {
    const Parsed parsed = parse(c.args);
    EXPECT_EQ(parsed.ok, 0) << c.args[0];
    EXPECT_NE(parsed.message.find(c.reason), std::string::npos) << "message: " << parsed.message;
  }
}

TEST(PlayerOptions, NumbersAndSizesAreReadWhole) {
  int w = 7, h = 9;
  EXPECT_TRUE(core_parsesize("1920X1080", 16384, &w, &h));
  EXPECT_EQ(w, 1920);
  EXPECT_EQ(h, 1080);
  for (const char* bad : {"x1080", "1920x", "19 20x1080", "1920x1080x3", "-1x5", "20000x20000", ""}) {
    w = h = 7;
    EXPECT_FALSE(core_parsesize(bad, 16384, &w, &h)) << bad;
    EXPECT_EQ(w, 7) << "left alone on failure: " << bad;
  }
  EXPECT_EQ(core_parsecount("12", 12), 12);
  EXPECT_EQ(core_parsecount("13", 12), -1);
  EXPECT_EQ(core_parsecount("99999999999999999999999", INT64_MAX / 10), -1) << "no overflow";
  EXPECT_TRUE(Demo_IsShowShape(1280, 720));
  EXPECT_TRUE(Demo_IsShowShape(1366, 768));
  EXPECT_FALSE(Demo_IsShowShape(1920, 1200));
  EXPECT_FALSE(Demo_IsShowShape(0, 0));
}

TEST(PlayerScreen, LetterboxKeepsTheShowsShapeCentred) {
  struct Case {
    int w, h;
    s_demobox box;
  };
  const std::vector<Case> cases = {
      {1280, 720, {0, 0, 1280, 720}},     {1920, 1080, {0, 0, 1920, 1080}},  // exactly 16:9: no bars
      {960, 720, {0, 90, 960, 540}},      // 4:3: bars above and below
      {1920, 1200, {0, 60, 1920, 1080}},  // 16:10
      {2560, 1080, {320, 0, 1920, 1080}}, // 21:9: bars left and right
      {1, 1, {0, 0, 1, 1}},               {0, 720, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const s_demobox box = Demo_Letterbox(c.w, c.h);
    EXPECT_EQ(box.x, c.box.x) << c.w << "x" << c.h;
    EXPECT_EQ(box.y, c.box.y) << c.w << "x" << c.h;
    EXPECT_EQ(box.width, c.box.width) << c.w << "x" << c.h;
    EXPECT_EQ(box.height, c.box.height) << c.w << "x" << c.h;
  }
}

// ---- Frame statistics and the automatic scale -------------------------------------------
// Without a window the target is 1/60 s and there are no timer queries: the
// swap intervals alone are judged, on the clock handed in.

std::string stats_line() {
  char* text = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  Pacing_PrintStats(out);
  fclose(out);
  std::string line(text, length);
  free(text);
  return line;
}

// Presents `frames` frames `interval` seconds apart from `*now` on.
void present(double* now, int frames, double interval) {
  for (int k = 0; k < frames; ++k) {
    *now += interval;
    Pacing_Swapped(*now);
  }
}

TEST(PlayerPacing, StatsLineCountsTheIntervalsBetweenSwaps) {
  demo_setup.scale = 1.0f;
  Pacing_Start(false);
  double now = 100.0;
  Pacing_Swapped(now);  // the first swap starts the clock, it is no frame time yet
  present(&now, 90, 0.020);
  present(&now, 10, 0.050);
  EXPECT_EQ(stats_line(),
            "stats: 100 frames presented, frame time median 20.0 ms, 95th percentile 50.0 ms, scale 1.00 to 1.00\n");
}

TEST(PlayerPacing, AutomaticScaleStepsDownWhenSlowAndBackUpWithRoom) {
  demo_setup.scale = 1.0f;
  Pacing_Start(true);
  double now = 0.0;
  Pacing_Swapped(now);
  // 100 ms frames against a 16.7 ms target: one step down per half second, never below 0.35.
  present(&now, 6, 0.1);
  EXPECT_FLOAT_EQ(demo_setup.scale, 0.85f);
  present(&now, 100, 0.1);
  EXPECT_FLOAT_EQ(demo_setup.scale, 0.35f);
  // Frames on target but without room for more pixels: it stays.
  present(&now, 300, 1.0 / 60.0);
  EXPECT_FLOAT_EQ(demo_setup.scale, 0.35f);
  // Plenty of room: up one step after two seconds of it, not sooner.
  present(&now, 300, 0.004);  // 1.2 s
  EXPECT_FLOAT_EQ(demo_setup.scale, 0.35f);
  present(&now, 300, 0.004);
  EXPECT_FLOAT_EQ(demo_setup.scale, 0.42f);
  present(&now, 5000, 0.004);
  EXPECT_FLOAT_EQ(demo_setup.scale, 1.0f) << "never above full size";
  EXPECT_NE(stats_line().find("scale 0.35 to 1.00"), std::string::npos) << stats_line();
}

// ---- The data lookup ------------------------------------------------------------------

// A scratch tree: "here" (the current folder during a lookup), "Démo" (the
// program's folder) and "data" (for --data).
class DataLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::absolute("lookup");
    fs::remove_all(root);
    for (const char* dir : {"here", "D\xC3\xA9mo", "data", "loose"}) fs::create_directories(root / dir);
    test_util::write_file(root / "D\xC3\xA9mo/sprox", "\x7f" "ELF not really a program");
    test_util::write_file(root / "loose/timing.dat", "event 0 0 0 0\n");
    ASSERT_NE(getcwd(saved, sizeof(saved)), nullptr);
    ASSERT_EQ(chdir((root / "here").c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(chdir(saved), 0); }

  int find(const char* option, s_demodata* data) {
    message[0] = 0;
    return Demo_FindData(option, (root / "D\xC3\xA9mo/sprox").c_str(), data, message, sizeof(message));
  }
  void image(const fs::path& path) { test_util::pack(path.string(), {{"timing.dat", "event 0 0 0 0\n"}}); }

  fs::path root;
  char saved[4096];
  char message[DEMO_PATH_CAPACITY * 3];
};

TEST_F(DataLookup, TakesTheFirstPlaceThatHoldsData) {
  s_demodata data;
  EXPECT_EQ(find(nullptr, &data), 0) << "nothing anywhere yet";
  const std::string nothing = message;
  EXPECT_NE(nothing.find("no sprox.dat found: looked in the current folder (" + (root / "here").string() + ")"),
            std::string::npos) << nothing;
  EXPECT_NE(nothing.find("beside the program (" + (root / "D\xC3\xA9mo").string() + ")"), std::string::npos) << nothing;
  EXPECT_NE(nothing.find("at the end of the program (" + (root / "D\xC3\xA9mo/sprox").string() + ")"), std::string::npos);

  // An image appended to the program: the last place looked.
  ASSERT_EQ(test_util::run_corepack("-o " + (root / "D\xC3\xA9mo/sprox.new").string() + " --append " +
                                    (root / "D\xC3\xA9mo/sprox").string() + " " + (root / "loose/timing.dat").string()),
            0);
  fs::rename(root / "D\xC3\xA9mo/sprox.new", root / "D\xC3\xA9mo/sprox");
  ASSERT_EQ(find(nullptr, &data), 1) << message;
  EXPECT_EQ(data.source, DEMO_DATA_APPENDED);
  EXPECT_EQ(data.kind, COREFILE_KIND_APPENDED);
  EXPECT_EQ(fs::path(data.path), root / "D\xC3\xA9mo/sprox");

  image(root / "D\xC3\xA9mo/sprox.dat");
  ASSERT_EQ(find(nullptr, &data), 1);
  EXPECT_EQ(data.source, DEMO_DATA_BESIDE) << "beside the program comes before its own end";
  EXPECT_EQ(fs::path(data.path), root / "D\xC3\xA9mo/sprox.dat");

  image(root / "here/sprox.dat");
  ASSERT_EQ(find(nullptr, &data), 1);
  EXPECT_EQ(data.source, DEMO_DATA_CURRENT);
  EXPECT_STREQ(data.path, "sprox.dat") << "the current folder's image under its own name";
  EXPECT_EQ(data.kind, COREFILE_KIND_IMAGE);

  // --data first of all: a file, a folder holding sprox.dat, a folder of loose files.
  image(root / "data/show.img");
  ASSERT_EQ(find((root / "data/show.img").c_str(), &data), 1);
  EXPECT_EQ(data.source, DEMO_DATA_OPTION);
  EXPECT_EQ(data.kind, COREFILE_KIND_IMAGE);
  image(root / "data/sprox.dat");
  ASSERT_EQ(find((root / "data").c_str(), &data), 1);
  EXPECT_EQ(fs::path(data.path), root / "data/sprox.dat");
  EXPECT_EQ(data.kind, COREFILE_KIND_IMAGE);
  ASSERT_EQ(find((root / "loose").c_str(), &data), 1);
  EXPECT_EQ(data.kind, COREFILE_KIND_DIRECTORY);
  EXPECT_EQ(fs::path(data.path), root / "loose");

  // A --data path that does not exist is an error, not a reason to look elsewhere.
  EXPECT_EQ(find((root / "missing").c_str(), &data), 0);
  EXPECT_NE(std::string(message).find("missing: no such file or folder"), std::string::npos) << message;
}

// What --data and --dev cannot use is refused by its type before anything is
// opened (a FIFO would block), naming the option, the path and the cause.
TEST_F(DataLookup, GivenPathsThatHoldNoDataNameTheOptionAndTheCause) {
  ASSERT_EQ(mkfifo((root / "fifo").c_str(), 0600), 0);
  fs::create_symlink(root / "loop_b", root / "loop_a");
  fs::create_symlink(root / "loop_a", root / "loop_b");
  const std::string longpath = "/" + std::string(100000, 'a');
  struct Case {
    const char* option;
    std::string path;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"--data", (root / "fifo").string(), "--data " + (root / "fifo").string() + ": a FIFO, not a file or folder"},
      {"--data", "/dev/zero", "--data /dev/zero: a character device, not a file or folder"},
      {"--data", (root / "loop_a").string(), ": " + std::string(strerror(ELOOP))},
      {"--data", longpath, "a... (a path of 100001 bytes): " + std::string(strerror(ENAMETOOLONG))},
      {"--data", (root / "missing").string(), ": no such file or folder"},
      {"--dev", (root / "missing").string(), "--dev " + (root / "missing").string() + ": no such file or folder"},
      {"--dev", (root / "D\xC3\xA9mo/sprox").string(), "--dev " + (root / "D\xC3\xA9mo/sprox").string() + ": a file, not a folder"},
  };
  for (const Case& c : cases) {
    s_demodata data;
    message[0] = 0;
    const int found = std::string(c.option) == "--dev"
                          ? Demo_CheckDevFolder(c.path.c_str(), message, sizeof(message))
                          : find(c.path.c_str(), &data);
    EXPECT_EQ(found, 0) << c.option << " " << c.path.substr(0, 80);
    EXPECT_NE(std::string(message).find(c.reason), std::string::npos) << message;
    EXPECT_LT(std::string(message).size(), 400u) << "a long path is shown cut";
  }
  EXPECT_EQ(Demo_CheckDevFolder((root / "loose").c_str(), message, sizeof(message)), 1) << message;
}

TEST_F(DataLookup, APlainProgramHasNoAppendedImageAndWhatIsFoundMounts) {
  // A trailer that points at no "CORE" header, and one that points past the
  // end of the file: neither is an image.
  test_util::write_file(root / "D\xC3\xA9mo/sprox", std::string(64, 'x') + std::string("\x10\x00\x00\x00", 4));
  s_demodata data;
  EXPECT_EQ(find(nullptr, &data), 0);
  test_util::write_file(root / "D\xC3\xA9mo/sprox", std::string(64, 'x') + std::string("\xff\xff\x00\x00", 4));
  EXPECT_EQ(find(nullptr, &data), 0);

  // What the lookup finds, Demo_UseData hands to the start-up, and corefile mounts.
  ASSERT_EQ(test_util::run_corepack("-o " + (root / "D\xC3\xA9mo/sprox.new").string() + " --append " +
                                    (root / "D\xC3\xA9mo/sprox").string() + " " + (root / "loose/timing.dat").string()),
            0);
  fs::rename(root / "D\xC3\xA9mo/sprox.new", root / "D\xC3\xA9mo/sprox");
  ASSERT_EQ(find(nullptr, &data), 1);
  Demo_UseData(&data);
  EXPECT_EQ(demo_setup.imagekind, COREFILE_KIND_APPENDED);
  EXPECT_NE(std::string(demo_setup.source).find("appended to the program"), std::string::npos);
  int mounted = 0;
  test_util::capture_stdout([&] { mounted = corefile_mountimage(demo_setup.image, demo_setup.imagekind); });
  EXPECT_EQ(mounted, 1);
  s_corefile file{};
  int opened = 0;
  test_util::capture_stdout([&] { opened = corefile_open("timing.dat", &file, 0); });
  ASSERT_EQ(opened, 1);
  corefile_close(&file);
  corefile_closeimage();
}

// ---- Standard output ------------------------------------------------------------------

// The built show as loose files (links into the build folder) with a timing
// file that runs every event for two ticks and ends at tick 32 (two seconds).
fs::path ShortShow() {
  const fs::path build = SPROX_BINARY_DIR;
  const fs::path show = fs::absolute("short_show");
  fs::remove_all(show);
  fs::create_directories(show);
  for (const char* folder : {"gen/images", "gen/shaders"})
    for (const auto& entry : fs::directory_iterator(build / folder))
      fs::create_symlink(entry.path(), show / entry.path().filename());
  fs::create_symlink(build / "gen/music" / DEMO_MUSICNAME, show / DEMO_MUSICNAME);
  std::string timing;
  for (int e = 0; e <= DEMO_LASTSCENE; e++)
    timing += "event " + std::to_string(e) + " " + std::to_string(2 * e) + " 0 0\n";
  timing += "event " + std::to_string(DEMO_LASTSCENE + 1) + " 32 0 0\n";
  test_util::write_file(show / DEMO_TIMINGNAME, timing);
  return show;
}

// The image loader's lines come in list order whatever standard output is:
// the show plays to its end mark and exits 0, with standard output a file,
// closed, full, or a pipe whose reader has gone.
TEST(PlayerOutput, TheShowEndsWellWhateverStandardOutputIs) {
  const fs::path show = ShortShow();
  const std::string run =
      "SPROX_AUDIO=silent timeout 240 " SPROX_EXE " --mute --data \"" + show.string() + "\" 2>err.txt";
  // Each: the shell command around RUN (sprox's own), which leaves sprox's status in status.txt.
  for (std::string wrap : {"RUN >out.txt; echo $? >status.txt", "RUN >&-; echo $? >status.txt",
                           "RUN >/dev/full; echo $? >status.txt", "{ RUN; echo $? >status.txt; } | true"}) {
    wrap.replace(wrap.find("RUN"), 3, run);
    fs::remove("status.txt");
    const int shell = std::system(("xvfb-run -a -s '" SPROX_XVFB_SCREEN "' sh -c '" + wrap + "'").c_str());
    ASSERT_TRUE(WIFEXITED(shell)) << wrap;
    EXPECT_EQ(test_util::read_file("status.txt"), "0\n") << wrap << ": " << test_util::read_file("err.txt");
  }
  // With standard output a file, every image's lines are there, in order, each loaded.
  const std::string out = test_util::read_file("out.txt");
  EXPECT_EQ(out.find("Error loading image"), std::string::npos) << out;
  size_t at = 0;
  for (int k = 0; k < EFFECTS_NUM_IMAGES; k++) {
    at = out.find(std::string("pngbuffer loaded: ") + sprox_assets::kImageFiles[k] + ",", at);
    ASSERT_NE(at, std::string::npos) << sprox_assets::kImageFiles[k] << " missing or out of order";
  }
}

}  // namespace
