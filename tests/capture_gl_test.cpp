// The real sprox-capture on the real build's sprox.dat, under Xvfb: two
// captures of the same frames are byte-identical, every frame shows the event
// and state the timeline gives for its tick, the contact sheet has one
// labelled row per event, the video carries the frames and the music, and
// the show ends dark: the dots of event 14 are lit, its last beat is not; a
// closed standard output or a dying encoder costs no frame and no half video.
// Runs are kept to a few frames: llvmpipe takes tens to hundreds of
// milliseconds a frame.
#include <gtest/gtest.h>
#include <lodepng.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "capture_run.h"
#include "corefile/corefile.h"
#include "test_util.h"
#include "timeline/timeline.h"
#include "tools/capture/capture.h"

namespace {

const std::string kImage = std::string(SPROX_BINARY_DIR) + "/sprox.dat";

using capture_test::Ran;

Ran capture(const std::string& arguments, const std::string& environment = "") {
  return capture_test::run(environment + std::string(SPROX_CAPTURE) + " --quiet --data '" + kImage + "' " + arguments);
}

// The show time at which a tick starts, seconds.
double tick_seconds(int64_t tick) { return static_cast<double>(tick) * TIMELINE_TICKLENGTH / AUDIO_DEVICE_RATE; }

std::string seconds(double s) {
  char text[32];
  snprintf(text, sizeof(text), "%.6f", s);
  return text;
}

// The timeline of the packed image, loaded by the timeline module itself.
class CaptureShow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(std::filesystem::exists(kImage)) << kImage;
    test_util::capture_stdout([] {
      corefile_mountimage(kImage.c_str(), 0);
      InitTiming();
      LoadTiming("timing.dat");
    });
    timeline = s_capturetimeline{};
    timeline.numevents = demo.numevents;
    for (int i = 0; i < demo.numevents && i < TIMELINE_MAX_EVENTS; ++i) timeline.start[i] = demo.event[i].time;
    ASSERT_GT(capture_showevents(&timeline), 1) << "the packed timeline is empty";
    s_corefile file{};
    test_util::capture_stdout([&] { hasmusic = corefile_open(DEMO_MUSICNAME, &file, 0) == 1; });
    if (hasmusic) corefile_close(&file);
  }
  static s_capturetimeline timeline;
  static bool hasmusic;
};
s_capturetimeline CaptureShow::timeline;
bool CaptureShow::hasmusic = false;

struct Decoded {
  unsigned width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

Decoded decode(const std::string& path) {
  Decoded d;
  unsigned char* pixels = nullptr;
  const unsigned code = lodepng_decode24_file(&pixels, &d.width, &d.height, path.c_str());
  EXPECT_EQ(code, 0u) << path << ": " << lodepng_error_text(code);
  if (!code) d.rgb.assign(pixels, pixels + static_cast<size_t>(d.width) * d.height * 3);
  free(pixels);
  return d;
}

// Mean of every channel of every pixel, 0..255.
double mean_level(const Decoded& picture) {
  double sum = 0.0;
  for (uint8_t v : picture.rgb) sum += v;
  return picture.rgb.empty() ? -1.0 : sum / static_cast<double>(picture.rgb.size());
}

// ---- Tests ----------------------------------------------------------------------------

TEST_F(CaptureShow, TwoCapturesOfTheSameFramesAreIdentical) {
  // Three frames at 30 fps just before event 2 starts, inside the transition
  // into it: both scenes, the blend and the clock-driven passes all run.
  const double start = tick_seconds(timeline.start[2]);
  const std::string range = "--fps 30 --from " + seconds(start - 0.2) + " --to " + seconds(start - 0.1);
  for (const char* dir : {"run_a", "run_b"}) {
    std::filesystem::remove_all(dir);
    Ran result = capture(range + " --png " + dir);
    ASSERT_EQ(result.status, 0) << result.out;
  }
  const int64_t first = capture_firstframeafter(capture_parseseconds(seconds(start - 0.2).c_str()), 30);
  int files = 0;
  for (int64_t n = first; n < first + 3; ++n) {
    char name[64];
    snprintf(name, sizeof(name), "frame_%06lld.png", static_cast<long long>(n));
    const std::string a = test_util::read_file(std::string("run_a/") + name);
    const std::string b = test_util::read_file(std::string("run_b/") + name);
    ASSERT_FALSE(a.empty()) << name;
    EXPECT_EQ(a, b) << name << " differs between two runs";
    const Decoded picture = decode(std::string("run_a/") + name);
    EXPECT_EQ(picture.width, 1280u);
    EXPECT_EQ(picture.height, 720u);
    // A flat picture would make the comparison say nothing: mid-transition the show never is one.
    bool varied = false;
    for (size_t i = 3; i < picture.rgb.size() && !varied; ++i) varied = picture.rgb[i] != picture.rgb[i % 3];
    EXPECT_TRUE(varied) << name << " is one flat colour";
    ++files;
  }
  EXPECT_EQ(files, 3);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("run_a"), std::filesystem::directory_iterator()), 3);
}

TEST_F(CaptureShow, EveryFrameShowsTheEventOfItsTickAndIsWhatTheWindowShows) {
  // Frames at 60 fps across the start of event 1. The X server's copy of the
  // window is compared with every frame read back as well (orientation,
  // colour order, all 1280 x 720 pixels).
  const double start = tick_seconds(timeline.start[1]);
  Ran result = capture("--from " + seconds(start - 0.05) + " --to " + seconds(start + 0.05) +
                       " --log frames.csv --report --check-window");
  ASSERT_EQ(result.status, 0) << result.out;
  EXPECT_NE(result.out.find("window check: 6 frames, each identical to the window"), std::string::npos) << result.out;
  std::istringstream log(test_util::read_file("frames.csv"));
  std::string line;
  std::getline(log, line);
  EXPECT_EQ(line, "frame,offset,tick,event,state,progress,render_ms");
  int lines = 0;
  bool before = false, after = false;
  while (std::getline(log, line)) {
    long long frame;
    int offset, tick, event, state;
    float progress;
    double ms;
    ASSERT_EQ(sscanf(line.c_str(), "%lld,%d,%d,%d,%d,%f,%lf", &frame, &offset, &tick, &event, &state, &progress, &ms),
              7)
        << line;
    EXPECT_EQ(offset, frame * 735) << line;
    EXPECT_EQ(tick, offset / TIMELINE_TICKLENGTH) << line;
    EXPECT_EQ(event, GetTimingEvent(tick)) << line;
    EXPECT_EQ(state, GetTimingState(tick, event)) << line;
    EXPECT_GT(ms, 0.0) << line;
    before |= event == 0;
    after |= event == 1;
    ++lines;
  }
  EXPECT_EQ(lines, 6);
  EXPECT_TRUE(before && after) << "the frames should cross from event 0 into event 1";

  // The report comes after the engine's start-up lines, under its heading.
  const size_t heading = result.out.find("==== sprox-capture timing report ====");
  ASSERT_NE(heading, std::string::npos) << result.out;
  EXPECT_GT(heading, result.out.find("Loading resource image"));
  EXPECT_NE(result.out.find("(6 frames, show time", heading), std::string::npos) << result.out.substr(heading);
  EXPECT_NE(result.out.find("\n   all        6 ", heading), std::string::npos) << result.out.substr(heading);
}

TEST_F(CaptureShow, SingleFrameByTimeShowsItsEvent) {
  // 1/3 of the way into event 3.
  const int64_t tick = timeline.start[3] + (timeline.start[4] - timeline.start[3]) / 3;
  const double at = tick_seconds(tick);
  Ran result = capture("--fps 60 --at " + seconds(at) + " --report --png one");
  ASSERT_EQ(result.status, 0) << result.out;
  const int64_t frame = capture_frameat(capture_parseseconds(seconds(at).c_str()), 60);
  char name[64];
  snprintf(name, sizeof(name), "one/frame_%06lld.png", static_cast<long long>(frame));
  EXPECT_TRUE(std::filesystem::exists(name)) << name;
  const size_t heading = result.out.find("==== sprox-capture timing report ====");
  ASSERT_NE(heading, std::string::npos) << result.out;
  EXPECT_NE(result.out.find("\n     3        1 ", heading), std::string::npos) << result.out.substr(heading);
}

TEST_F(CaptureShow, ContactSheetHasOneLabelledRowPerEvent) {
  Ran result = capture("--sheet sheet.png");
  ASSERT_EQ(result.status, 0) << result.out;
  const int32_t rows = capture_showevents(&timeline);
  int32_t width = 0, height = 0;
  capture_sheetsize(rows, &width, &height);
  const Decoded sheet = decode("sheet.png");
  ASSERT_EQ(sheet.width, static_cast<unsigned>(width));
  ASSERT_EQ(sheet.height, static_cast<unsigned>(height));

  s_capturefont font{};
  char message[256];
  ASSERT_EQ(capture_openfont(&font, CAPTURE_FONT, CAPTURE_LABEL_PIXELS, message, 256), 1) << message;
  std::vector<uint8_t> strip(CAPTURE_THUMB_WIDTH * CAPTURE_LABEL_HEIGHT * 3);
  s_captureimage stripimage{CAPTURE_THUMB_WIDTH, CAPTURE_LABEL_HEIGHT, strip.data()};
  for (int32_t row = 0; row < rows; ++row) {
    for (int32_t point = 0; point < CAPTURE_SHEET_POINTS; ++point) {
      const int32_t tick = static_cast<int32_t>(capture_sheetpoint(&timeline, row, point) / TIMELINE_TICKLENGTH);
      const int32_t event = GetTimingEvent(tick);
      EXPECT_EQ(event, row) << "point " << point;
      char label[96];
      capture_sheetlabel(label, sizeof(label), event, GetTimingState(tick, event), tick);
      capture_drawlabel(&font, &stripimage, 0, 0, label);
      const s_capturecell cell = capture_sheetcell(row, point);
      for (int32_t y = 0; y < CAPTURE_LABEL_HEIGHT; ++y) {
        const uint8_t* got = &sheet.rgb[(static_cast<size_t>(cell.labely + y) * width + cell.labelx) * 3];
        ASSERT_EQ(memcmp(got, &strip[static_cast<size_t>(y) * CAPTURE_THUMB_WIDTH * 3], CAPTURE_THUMB_WIDTH * 3), 0)
            << "row " << row << " point " << point << " should read '" << label << "'";
      }
      // The thumbnail is a picture, not the sheet's background.
      bool painted = false;
      for (int32_t y = 0; y < CAPTURE_THUMB_HEIGHT && !painted; y += 3)
        for (int32_t x = 0; x < CAPTURE_THUMB_WIDTH && !painted; x += 3)
          painted = sheet.rgb[(static_cast<size_t>(cell.y + y) * width + cell.x + x) * 3] != CAPTURE_SHEET_BACKGROUND;
      EXPECT_TRUE(painted) << "row " << row << " point " << point;
    }
  }
  capture_closefont(&font);
}

TEST_F(CaptureShow, VideoCarriesTheFramesAndTheMusic) {
  char ffprobe[4096];
  if (!capture_findprogram("ffprobe", ffprobe, sizeof(ffprobe))) GTEST_SKIP() << "ffmpeg is not installed";
  // The music's temporary copy goes into TMPDIR, which must be empty again afterwards.
  std::filesystem::remove_all("scratch");
  std::filesystem::create_directories("scratch");
  Ran result = capture("--fps 30 --from 20 --to 20.2 --mp4 clip.mp4", "TMPDIR=scratch ");
  ASSERT_EQ(result.status, 0) << result.out;
  auto probe = [&](const char* stream, const char* entry) {
    return capture_test::probe(ffprobe, "clip.mp4", stream, entry);
  };
  EXPECT_EQ(probe("v:0", "nb_read_frames"), "6");
  EXPECT_EQ(probe("v:0", "width"), "1280");
  EXPECT_EQ(probe("v:0", "height"), "720");
  if (hasmusic) {
    EXPECT_EQ(probe("a:0", "codec_name"), "aac");
    const double duration = atof(probe("a:0", "duration").c_str());
    EXPECT_GT(duration, 0.19);
    EXPECT_LT(duration, 0.27);
  } else {
    EXPECT_NE(result.out.find("the video will be silent"), std::string::npos) << result.out;
  }
  EXPECT_TRUE(std::filesystem::is_empty("scratch")) << "the music's temporary copy was left behind";
}

// SSIM of two pictures of one size, measured by ffmpeg (-1 when it gives none).
double ssim(const std::string& a, const std::string& b) {
  Ran result = capture_test::run("ffmpeg -nostdin -loglevel info -i '" + a + "' -i '" + b + "' -lavfi ssim -f null -");
  const size_t at = result.out.find("All:");
  return at == std::string::npos ? -1.0 : atof(result.out.c_str() + at + 4);
}

// --size renders the same picture at another size, only sharper: a 1080p
// frame box-filtered down to 720p looks like the 720p frame, and the video
// comes out at 1080p. The moment has fine type, grain and bubble outlines.
TEST_F(CaptureShow, FramesOfAnotherSizeShowTheSamePicture) {
  char ffmpeg[4096];
  if (!capture_findprogram("ffmpeg", ffmpeg, sizeof(ffmpeg))) GTEST_SKIP() << "ffmpeg is not installed";
  std::filesystem::remove_all("sized");
  ASSERT_EQ(capture("--at 100 --png sized/720").status, 0);
  Ran big = capture("--at 100 --size 1920x1080 --png sized/1080");
  ASSERT_EQ(big.status, 0) << big.out;
  const std::string name = "/frame_006000.png";
  Decoded large = decode("sized/1080" + name);
  ASSERT_EQ(large.width, 1920u);
  ASSERT_EQ(large.height, 1080u);
  std::vector<uint8_t> small(static_cast<size_t>(EFFECTS_WIDTH) * EFFECTS_HEIGHT * 3);
  s_captureimage source{1920, 1080, large.rgb.data()}, target{EFFECTS_WIDTH, EFFECTS_HEIGHT, small.data()};
  capture_downscale(&source, &target);
  char message[256];
  ASSERT_EQ(capture_writepng("sized/1080to720.png", &target, message, sizeof(message)), 1) << message;
  EXPECT_GE(ssim("sized/720" + name, "sized/1080to720.png"), 0.90);

  char ffprobe[4096];
  if (!capture_findprogram("ffprobe", ffprobe, sizeof(ffprobe))) return;
  ASSERT_EQ(capture("--fps 30 --from 100 --to 100.07 --size 1920x1080 --mp4 sized/clip.mp4").status, 0);
  EXPECT_EQ(capture_test::probe(ffprobe, "sized/clip.mp4", "v:0", "width"), "1920");
  EXPECT_EQ(capture_test::probe(ffprobe, "sized/clip.mp4", "v:0", "height"), "1080");
}

// The end of the show as the capture renders it: the dots lit for the first
// two bars of event 14, then, as the last chord fades and the final dissolve
// fizzes them away, dark, and dark to the end (black but for the post pass's
// grain and dust: a mean below 12 of 255).
TEST_F(CaptureShow, TheShowEndsOnADarkPicture) {
  const int64_t last = timeline.start[14], endmark = timeline.start[15];
  ASSERT_GE(endmark - last, 3 * 32) << "event 14 holds the last chord";
  const double mark = tick_seconds(endmark);
  std::filesystem::remove_all("ending");
  Ran result = capture("--fps 4 --event 14 --png ending");
  ASSERT_EQ(result.status, 0) << result.out;
  int lit = 0, dark = 0;
  bool darkened = false;
  for (int64_t n = capture_firstframeafter(capture_parseseconds(seconds(tick_seconds(last)).c_str()), 4);; ++n) {
    char name[64];
    snprintf(name, sizeof(name), "ending/frame_%06lld.png", static_cast<long long>(n));
    if (!std::filesystem::exists(name)) break;
    const double level = mean_level(decode(name));
    const double at = static_cast<double>(n) / 4.0;
    const std::string where = std::to_string(mark - at) + " s before the end mark";
    if (at > tick_seconds(last) + 0.25 && at < tick_seconds(last + 2 * 32)) {
      EXPECT_GT(level, 12.0) << where << ": the dots should be lit";
      ++lit;
    }
    if (at >= mark - 0.5) {
      EXPECT_LT(level, 12.0) << where << ": the last beat should be dark";
      ++dark;
    }
    if (darkened) {
      EXPECT_LT(level, 12.0) << where << ": lit again after going dark";
    }
    darkened = darkened || level < 12.0;
  }
  EXPECT_GE(lit, 6);
  EXPECT_GE(dark, 1);

  // The frame on screen 0.1 s before the end mark.
  result = capture("--at " + seconds(mark - 0.1) + " --png before_end");
  ASSERT_EQ(result.status, 0) << result.out;
  char name[64];
  snprintf(name, sizeof(name), "before_end/frame_%06lld.png",
           static_cast<long long>(capture_frameat(capture_parseseconds(seconds(mark - 0.1).c_str()), 60)));
  const Decoded picture = decode(name);
  EXPECT_EQ(picture.width, 1280u);
  EXPECT_LT(mean_level(picture), 12.0);
}

// Standard output closed or read by nobody, and an encoder that dies: the
// frame is still written (exit status 0), or the failure names its cause and
// leaves no part-written video behind.
TEST_F(CaptureShow, OutputsSurviveAClosedStandardOutputAndADyingEncoder) {
  test_util::write_file("dying-ffmpeg",
                        "#!/bin/sh\nfor last; do :; done\n: > \"$last\"\necho 'dying-ffmpeg: refused' >&2\nexit 1\n");
  std::filesystem::permissions("dying-ffmpeg", std::filesystem::perms::owner_all);
  const std::string exe = std::string(SPROX_CAPTURE) + " --quiet --data '" + kImage + "' --at 20 ";
  struct Case {
    std::string command;  // the shell writes the capture's exit status into status.txt
    int status;
    const char* says;     // a piece of what the capture prints ("" for nothing to look for)
    const char* file;     // an output
    bool kept;            // whether it is there afterwards
  };
  const Case cases[] = {
      {"(" + exe + "--png closed >&-; echo $? >status.txt)", 0, "", "closed/frame_001200.png", true},
      {"(" + exe + "--png piped --report; echo $? >status.txt) | head -c 1 >/dev/null", 0, "", "piped/frame_001200.png",
       true},
      {"(" + exe + "--mp4 dying.mp4 --ffmpeg ./dying-ffmpeg; echo $? >status.txt)", 1,
       "ffmpeg failed with exit status 1", "dying.mp4", false},
  };
  for (const Case& c : cases) {
    std::filesystem::remove("status.txt");
    const Ran result = capture_test::run(c.command);
    EXPECT_EQ(atoi(test_util::read_file("status.txt").c_str()), c.status) << c.command << "\n" << result.out;
    EXPECT_NE(result.out.find(c.says), std::string::npos) << result.out;
    EXPECT_EQ(std::filesystem::exists(c.file), c.kept) << c.file;
    if (c.kept) {
      EXPECT_EQ(decode(c.file).width, 1280u) << c.file;
    }
  }
}

}  // namespace
