// The capture tool without GL: the frame clock and ranges, the command line
// (also as the real executable refuses it), pictures, labels and the sheet,
// the ffmpeg pipe with a real encoder, the music extraction from a real
// packed image, and the report.
#include "tools/capture/capture.h"

#include <gtest/gtest.h>
#include <lodepng.h>

#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "capture_run.h"
#include "core/core.h"
#include "corefile/corefile.h"
#include "sound/sound.h"
#include "test_util.h"

namespace {

// ---- Helpers ------------------------------------------------------------------------

// The show's timeline: events on bar lines, the end mark at tick 3680.
s_capturetimeline show_timeline() {
  const int32_t starts[] = {0, 256, 512, 768, 1024, 1280, 1536, 1792, 2048, 2560, 2816, 2944, 3200, 3456, 3584, 3680};
  s_capturetimeline timeline{};
  timeline.numevents = 16;
  for (int i = 0; i < 16; ++i) timeline.start[i] = starts[i];
  return timeline;
}

// The event in force at a tick, worked out here on its own: the last event
// whose start has passed.
int32_t event_at_tick(const s_capturetimeline& timeline, int64_t tick) {
  int32_t event = 0;
  for (int32_t i = 0; i < timeline.numevents; ++i)
    if (timeline.start[i] <= tick) event = i;
  return event;
}

using Parsed = test_util::Parsed<s_captureoptions>;

Parsed parse(std::vector<const char*> args) {
  return test_util::parse_options<s_captureoptions>(capture_parseoptions, "sprox-capture", std::move(args));
}

s_captureoptions options_for(std::vector<const char*> args) {
  Parsed parsed = parse(args);
  EXPECT_EQ(parsed.ok, 1) << parsed.message;
  return parsed.options;
}

int resolve(std::vector<const char*> args, const s_capturetimeline& timeline, s_capturerange* range, char* message) {
  const s_captureoptions options = options_for(args);
  return capture_resolverange(&options, &timeline, range, message, 256);
}

using capture_test::Ran;
using capture_test::run;

std::vector<uint8_t> solid(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < pixels.size(); i += 3) {
    pixels[i] = r;
    pixels[i + 1] = g;
    pixels[i + 2] = b;
  }
  return pixels;
}

// A canonical PCM WAV: 16-bit stereo at the show's rate, a saw in both channels.
std::string wav_file(int32_t frames) {
  const uint32_t data = static_cast<uint32_t>(frames) * 4;
  std::vector<uint8_t> bytes(SOUND_WAV_HEADERBYTES + data);
  Soundsystem_FillWAVHeader(bytes.data(), 2, 16, AUDIO_DEVICE_RATE, data);
  for (int32_t i = 0; i < frames; ++i) {
    const int16_t v = static_cast<int16_t>((i % 100) * 200 - 10000);
    core_putle16(&bytes[SOUND_WAV_HEADERBYTES + 4 * i], static_cast<uint16_t>(v));
    core_putle16(&bytes[SOUND_WAV_HEADERBYTES + 4 * i + 2], static_cast<uint16_t>(v));
  }
  return std::string(bytes.begin(), bytes.end());
}

// ---- Frame clock -------------------------------------------------------------------------

TEST(CaptureClock, OffsetAndClockAtSixtyAndThirtyFps) {
  EXPECT_EQ(capture_frameoffset(0, 60), 0);
  EXPECT_EQ(capture_frameoffset(1, 60), 735);
  EXPECT_EQ(capture_frameoffset(60, 60), 44100);
  EXPECT_EQ(capture_frameoffset(13594, 60), 13594 * 735);
  EXPECT_EQ(capture_frameoffset(1, 30), 1470);
  EXPECT_EQ(capture_frameoffset(30, 30), 44100);
  EXPECT_EQ(capture_frameoffset(45, 30), 66150);
  EXPECT_DOUBLE_EQ(capture_frameclock(1, 60), 1.0 / 60.0);
  EXPECT_DOUBLE_EQ(capture_frameclock(90, 60), 1.5);
  EXPECT_DOUBLE_EQ(capture_frameclock(45, 30), 1.5);
  EXPECT_DOUBLE_EQ(capture_frameclock(0, 30), 0.0);
}

TEST(CaptureClock, UnevenRatesTruncateWithoutDrift) {
  // 44100 / 24 = 1837.5: frame 1 truncates, frame 2 lands exactly.
  EXPECT_EQ(capture_frameoffset(1, 24), 1837);
  EXPECT_EQ(capture_frameoffset(2, 24), 3675);
  // An hour later the offset is still exact: no accumulated rounding.
  EXPECT_EQ(capture_frameoffset(24 * 3600, 24), 44100LL * 3600);
  EXPECT_EQ(capture_frameoffset(7 * 1000, 7), 44100LL * 1000);
  // Products past 32 bits stay exact.
  EXPECT_EQ(capture_frameoffset(1000000000LL, 1), 44100000000000LL);
}

TEST(CaptureClock, FirstFrameFromAnOffsetIsTheExactInverse) {
  for (int32_t fps : {1, 2, 7, 24, 25, 30, 60, 144, 240}) {
    for (int64_t offset = 0; offset < 200000; offset += 997) {
      const int64_t first = capture_firstframefrom(offset, fps);
      EXPECT_GE(capture_frameoffset(first, fps), offset) << fps << " " << offset;
      if (first > 0) {
        EXPECT_LT(capture_frameoffset(first - 1, fps), offset) << fps << " " << offset;
      }
    }
  }
}

TEST(CaptureClock, FramesAtAndAfterATime) {
  EXPECT_EQ(capture_frameat(1500000, 60), 90);
  EXPECT_EQ(capture_firstframeafter(1500000, 60), 90);
  EXPECT_EQ(capture_frameat(1500001, 60), 90);
  EXPECT_EQ(capture_firstframeafter(1500001, 60), 91);
  EXPECT_EQ(capture_frameat(1516666, 60), 90);  // frame 91 starts at 1.51666.. s
  EXPECT_EQ(capture_frameat(1516667, 60), 91);
  EXPECT_EQ(capture_frameat(0, 30), 0);
  EXPECT_EQ(capture_firstframeafter(0, 30), 0);
}

// ---- Seconds and options -------------------------------------------------------------------

TEST(CaptureOptions, SecondsInTheirWrittenForms) {
  EXPECT_EQ(capture_parseseconds("12"), 12000000);
  EXPECT_EQ(capture_parseseconds("12.5"), 12500000);
  EXPECT_EQ(capture_parseseconds("0.000001"), 1);
  EXPECT_EQ(capture_parseseconds("0.0000019"), 1);  // beyond microseconds is dropped
  EXPECT_EQ(capture_parseseconds(".5"), 500000);
  EXPECT_EQ(capture_parseseconds("3."), 3000000);
  EXPECT_EQ(capture_parseseconds("1:02.25"), 62250000);
  EXPECT_EQ(capture_parseseconds("3:46.6"), 226600000);
  EXPECT_EQ(capture_parseseconds("86400"), 86400LL * 1000000);
  for (const char* bad : {"", "-1", "1e3", "abc", "1:75", ":5", "5:", "1.2.3", " 1", "1 ", ".", "86401",
                          "99999999999999999999", "1:2:3", "+4"})
    EXPECT_EQ(capture_parseseconds(bad), -1) << "'" << bad << "'";
}

TEST(CaptureOptions, DefaultsAndBothValueForms) {
  s_captureoptions o = options_for({"--report"});
  EXPECT_EQ(o.fps, 60);
  EXPECT_EQ(o.from_us, -1);
  EXPECT_EQ(o.to_us, -1);
  EXPECT_EQ(o.event, -1);
  EXPECT_EQ(o.frame, -1);
  EXPECT_EQ(o.at_us, -1);
  EXPECT_TRUE(o.report);
  EXPECT_FALSE(o.quiet);
  EXPECT_EQ(o.png, nullptr);

  o = options_for({"--fps=30", "--from", "1.5", "--to=2", "--png", "out dir", "--mp4=a.mp4", "--sheet", "s.png",
                   "--log", "l.csv", "--data", "x.dat", "--ffmpeg", "/bin/ff", "--quiet"});
  EXPECT_EQ(o.fps, 30);
  EXPECT_EQ(o.from_us, 1500000);
  EXPECT_EQ(o.to_us, 2000000);
  EXPECT_STREQ(o.png, "out dir");
  EXPECT_STREQ(o.mp4, "a.mp4");
  EXPECT_STREQ(o.sheet, "s.png");
  EXPECT_STREQ(o.log, "l.csv");
  EXPECT_STREQ(o.data, "x.dat");
  EXPECT_STREQ(o.ffmpeg, "/bin/ff");
  EXPECT_TRUE(o.quiet);

  EXPECT_EQ(options_for({"--sheet", "s.png", "--event", "14"}).event, 14);
  EXPECT_EQ(options_for({"--png", "d", "--frame", "123"}).frame, 123);
  EXPECT_EQ(options_for({"--png", "d", "--at", "2:00"}).at_us, 120000000);
  EXPECT_EQ(options_for({"--report", "--fps", "240"}).fps, 240);
  EXPECT_EQ(options_for({"--report", "--fps", "1"}).fps, 1);
  EXPECT_TRUE(options_for({"--check-window"}).checkwindow);  // enough to do on its own
  EXPECT_FALSE(options_for({"--report"}).checkwindow);
}

TEST(CaptureOptions, BadValuesAreRefusedWithTheirReason) {
  struct Case {
    std::vector<const char*> args;
    const char* reason;  // a piece of the message
  };
  const Case cases[] = {
      {{"--report", "--fps", "0"}, "--fps '0'"},
      {{"--report", "--fps", "241"}, "--fps '241'"},
      {{"--report", "--fps", "30.5"}, "--fps"},
      {{"--report", "--fps", "-5"}, "--fps"},
      {{"--report", "--fps", "sixty"}, "--fps 'sixty'"},
      {{"--report", "--fps="}, "--fps needs a value"},
      {{"--report", "--fps"}, "--fps needs a value"},
      {{"--report", "--from", "soon"}, "--from 'soon'"},
      {{"--report", "--to", "-3"}, "--to '-3'"},
      {{"--report", "--at", "1:99"}, "--at '1:99'"},
      {{"--report", "--event", "256"}, "--event '256'"},
      {{"--report", "--event", "x"}, "--event 'x'"},
      {{"--report", "--frame", "1.5"}, "--frame '1.5'"},
      {{"--report", "--colour", "red"}, "unknown option '--colour'"},
      {{"--report", "-v"}, "unexpected argument '-v'"},
      {{"--report", "frames"}, "unexpected argument 'frames'"},
      {{"--report", "--report"}, "--report given twice"},
      {{"--report=yes"}, "--report takes no value"},
      {{"--report", "--from", "5", "--to", "5"}, "--to must be later than --from"},
      {{"--report", "--from", "5", "--to", "4"}, "--to must be later than --from"},
      {{"--report", "--event", "2", "--frame", "3"}, "choose the frames one way"},
      {{"--report", "--at", "2", "--from", "1"}, "choose the frames one way"},
      {{"--fps", "30"}, "nothing to do"},
      {{}, "nothing to do"},
  };
  for (const Case& c : cases) {
    Parsed parsed = parse(c.args);
    EXPECT_EQ(parsed.ok, 0) << c.reason;
    EXPECT_NE(parsed.message.find(c.reason), std::string::npos) << "message: " << parsed.message;
  }
}

TEST(CaptureOptions, HelpWinsOverMistakes) {
  Parsed parsed = parse({"--fps", "0", "--help", "--bogus"});
  EXPECT_EQ(parsed.ok, 1);
  EXPECT_TRUE(parsed.options.help);
  EXPECT_TRUE(parse({"-h"}).options.help);
}

// ---- Ranges on the show's timeline --------------------------------------------------------------

TEST(CaptureRange, WholeShowEndsBeforeTheEndMark) {
  const s_capturetimeline timeline = show_timeline();
  EXPECT_EQ(capture_showend(&timeline), 3680LL * 2739);
  EXPECT_EQ(capture_showevents(&timeline), 15);
  s_capturerange range;
  char message[256];
  ASSERT_EQ(resolve({"--report"}, timeline, &range, message), 1) << message;
  // 3680 x 2739 = 10079520 sample frames; at 735 a frame the last one before it is 13713.
  EXPECT_EQ(range.first, 0);
  EXPECT_EQ(range.end, 13714);
  ASSERT_EQ(resolve({"--report", "--fps", "2"}, timeline, &range, message), 1);
  EXPECT_EQ(range.end, 458);  // 10079520 / 22050 = 457.1..
}

TEST(CaptureRange, EveryFrameOfAnEventShowsThatEvent) {
  const s_capturetimeline timeline = show_timeline();
  char message[256];
  for (const char* fps : {"2", "24", "30", "60"}) {
    for (int32_t event = 0; event < 15; ++event) {
      const std::string number = std::to_string(event);
      s_captureoptions options = options_for({"--report", "--fps", fps, "--event", number.c_str()});
      s_capturerange range;
      ASSERT_EQ(capture_resolverange(&options, &timeline, &range, message, 256), 1) << message;
      ASSERT_LT(range.first, range.end);
      for (int64_t n = range.first - 1; n <= range.end; ++n) {
        if (n < 0) continue;
        const int64_t tick = capture_frameoffset(n, options.fps) / 2739;
        const bool inside = n >= range.first && n < range.end;
        EXPECT_EQ(event_at_tick(timeline, tick) == event, inside) << "fps " << fps << " event " << event << " n " << n;
      }
    }
  }
  // Event 3 at 60 fps, worked by hand: ticks 768 to 1024 are sample frames
  // 2103552 to 2804736, the frames from 2103552 / 735 = 2861.98 up.
  s_capturerange range;
  ASSERT_EQ(resolve({"--report", "--event", "3"}, timeline, &range, message), 1);
  EXPECT_EQ(range.first, 2862);
  EXPECT_EQ(range.end, 3816);
}

TEST(CaptureRange, TimesFramesAndTheirLimits) {
  const s_capturetimeline timeline = show_timeline();
  s_capturerange range;
  char message[256];
  ASSERT_EQ(resolve({"--report", "--from", "10", "--to", "10.05"}, timeline, &range, message),
            1);
  EXPECT_EQ(range.first, 600);
  EXPECT_EQ(range.end, 603);
  // --to past the end is clipped to the end mark.
  ASSERT_EQ(resolve({"--report", "--from", "226", "--to", "300"}, timeline, &range, message),
            1);
  EXPECT_EQ(range.first, 13560);
  EXPECT_EQ(range.end, 13714);
  EXPECT_EQ(resolve({"--report", "--from", "229"}, timeline, &range, message), 0);
  EXPECT_NE(std::string(message).find("no frame to render"), std::string::npos) << message;

  ASSERT_EQ(resolve({"--report", "--frame", "13713"}, timeline, &range, message), 1);
  EXPECT_EQ(range.first, 13713);
  EXPECT_EQ(range.end, 13714);
  EXPECT_EQ(resolve({"--report", "--frame", "13714"}, timeline, &range, message), 0);
  EXPECT_NE(std::string(message).find("past the show's end"), std::string::npos) << message;
  ASSERT_EQ(resolve({"--report", "--at", "226.5"}, timeline, &range, message), 1);
  EXPECT_EQ(range.first, 13590);

  EXPECT_EQ(resolve({"--report", "--event", "15"}, timeline, &range, message), 0);
  EXPECT_NE(std::string(message).find("event 15 is not in the show"), std::string::npos) << message;
  ASSERT_EQ(resolve({"--report", "--event", "14"}, timeline, &range, message), 1);
  EXPECT_EQ(range.end, 13714);
}

TEST(CaptureRange, TimelinesWithoutAnEndMarkOrWithTinyEvents) {
  s_capturetimeline timeline{};
  timeline.numevents = 3;
  timeline.start[0] = 0;
  timeline.start[1] = 100;
  timeline.start[2] = 101;
  EXPECT_EQ(capture_showend(&timeline), -1);
  EXPECT_EQ(capture_showevents(&timeline), 3);
  s_capturerange range;
  char message[256];
  EXPECT_EQ(resolve({"--report"}, timeline, &range, message), 0);
  EXPECT_NE(std::string(message).find("no end mark"), std::string::npos) << message;
  ASSERT_EQ(resolve({"--report", "--to", "30"}, timeline, &range, message), 1);
  EXPECT_EQ(range.end, 1800);  // nothing to clip against
  EXPECT_EQ(resolve({"--report", "--event", "2"}, timeline, &range, message), 0);
  EXPECT_NE(std::string(message).find("its end is unknown"), std::string::npos) << message;
  // One tick (62 ms) holds no frame at 1 fps.
  EXPECT_EQ(resolve({"--report", "--fps", "1", "--event", "1"}, timeline, &range, message),
            0);
  EXPECT_NE(std::string(message).find("holds no frame"), std::string::npos) << message;
  ASSERT_EQ(resolve({"--report", "--event", "1"}, timeline, &range, message), 1);
  EXPECT_EQ(range.end - range.first, 4);  // 2739 sample frames at 735 a frame
  // A frame far out is fine without an end mark.
  ASSERT_EQ(resolve({"--report", "--frame", "999999"}, timeline, &range, message),
            1);
}

TEST(CaptureRange, SheetPointsSitAtOddEighthsOfTheEvent) {
  const s_capturetimeline timeline = show_timeline();
  // Event 0 runs 256 ticks: its points are at ticks 32, 96, 160 and 224.
  for (int32_t k = 0; k < 4; ++k) EXPECT_EQ(capture_sheetpoint(&timeline, 0, k), (32 + 64 * k) * 2739LL);
  // Event 14 runs 96 ticks up to the end mark.
  EXPECT_EQ(capture_sheetpoint(&timeline, 14, 0), (3584 + 12) * 2739LL);
  EXPECT_EQ(capture_sheetpoint(&timeline, 14, 3), (3584 + 84) * 2739LL);
  for (int32_t event = 0; event < 15; ++event)
    for (int32_t k = 0; k < 4; ++k)
      EXPECT_EQ(event_at_tick(timeline, capture_sheetpoint(&timeline, event, k) / 2739), event);
  // The last event of a timeline without an end mark has no length: its start.
  s_capturetimeline open{};
  open.numevents = 1;
  open.start[0] = 40;
  EXPECT_EQ(capture_sheetpoint(&open, 0, 2), 40 * 2739LL);
}

// ---- Pictures ------------------------------------------------------------------------------------

TEST(CaptureImage, FlipAndDownscale) {
  // Three rows of two pixels, bottom-up: row r holds value 10 r + column.
  std::vector<uint8_t> src(2 * 3 * 3), dst(2 * 3 * 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 2; ++c)
      for (int k = 0; k < 3; ++k) src[(r * 2 + c) * 3 + k] = static_cast<uint8_t>(10 * r + c + k);
  capture_fliprows(src.data(), dst.data(), 2, 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 2; ++c) EXPECT_EQ(dst[(r * 2 + c) * 3], 10 * (2 - r) + c);

  // 4x4 onto 2x2: each target is the rounded mean of its 2x2 block.
  std::vector<uint8_t> big(4 * 4 * 3, 0), small(2 * 2 * 3, 0);
  const uint8_t block[4][4] = {{0, 1, 200, 200}, {1, 1, 200, 201}, {255, 255, 10, 20}, {255, 254, 30, 40}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      for (int k = 0; k < 3; ++k) big[(y * 4 + x) * 3 + k] = block[y][x];
  s_captureimage bigimage{4, 4, big.data()}, smallimage{2, 2, small.data()};
  capture_downscale(&bigimage, &smallimage);
  EXPECT_EQ(small[0], 1);    // 3 / 4 = 0.75
  EXPECT_EQ(small[3], 200);  // 801 / 4 = 200.25
  EXPECT_EQ(small[6], 255);  // 1019 / 4 = 254.75
  EXPECT_EQ(small[9], 25);   // 100 / 4

  // An uneven ratio still covers every source pixel once: the mean survives.
  std::vector<uint8_t> row5(5 * 1 * 3), row2(2 * 1 * 3);
  const uint8_t values[5] = {10, 20, 30, 40, 50};
  for (int x = 0; x < 5; ++x)
    for (int k = 0; k < 3; ++k) row5[x * 3 + k] = values[x];
  s_captureimage five{5, 1, row5.data()}, two{2, 1, row2.data()};
  capture_downscale(&five, &two);
  EXPECT_EQ(row2[0], 15);  // 10, 20
  EXPECT_EQ(row2[3], 40);  // 30, 40, 50
}

TEST(CaptureImage, PngRoundTripAndFailures) {
  std::vector<uint8_t> pixels(7 * 5 * 3);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 37);
  s_captureimage image{7, 5, pixels.data()};
  char message[256];
  ASSERT_EQ(capture_writepng("round.png", &image, message, 256), 1) << message;
  unsigned char* decoded = nullptr;
  unsigned w = 0, h = 0;
  ASSERT_EQ(lodepng_decode24_file(&decoded, &w, &h, "round.png"), 0u);
  EXPECT_EQ(w, 7u);
  EXPECT_EQ(h, 5u);
  EXPECT_EQ(memcmp(decoded, pixels.data(), pixels.size()), 0);
  free(decoded);
  // The same picture gives the same bytes.
  ASSERT_EQ(capture_writepng("again.png", &image, message, 256), 1);
  EXPECT_EQ(test_util::read_file("round.png"), test_util::read_file("again.png"));

  EXPECT_EQ(capture_writepng("no/such/folder/x.png", &image, message, 256), 0);
  EXPECT_NE(std::string(message).find("cannot write no/such/folder/x.png"), std::string::npos) << message;
}

// A write the system cuts short (here the file size limit, as a full disk
// would) fails with the system's reason and leaves no part of the file; one
// that fits is written whole. The results are gathered under the limit and
// checked after it is lifted.
TEST(CaptureImage, AWriteCutShortLeavesNoFileAndSaysWhy) {
  std::vector<uint8_t> noise(64 * 64 * 3);
  uint32_t seed = 1;
  for (uint8_t& v : noise) v = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  s_captureimage big{64, 64, noise.data()}, small{2, 2, noise.data()};
  const std::vector<s_captureframe> frames(500, s_captureframe{});
  struct Case {
    const char* path;
    bool fits;
    std::function<int(const char*, char*)> write;
  };
  const Case cases[] = {
      {"fits.png", true, [&](const char* path, char* message) { return capture_writepng(path, &small, message, 256); }},
      {"cut.png", false, [&](const char* path, char* message) { return capture_writepng(path, &big, message, 256); }},
      {"fits.csv", true,
       [&](const char* path, char* message) { return capture_writelog(path, frames.data(), 2, message, 256); }},
      {"cut.csv", false,
       [&](const char* path, char* message) { return capture_writelog(path, frames.data(), 500, message, 256); }},
  };
  struct Result {
    int ok;
    bool exists;
    std::string message;
  };
  std::vector<Result> results;
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit limited = old;
  limited.rlim_cur = 4096;
  void (*oldsignal)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  for (const Case& c : cases) {
    std::filesystem::remove(c.path);
    char message[256] = "";
    const int ok = c.write(c.path, message);
    results.push_back({ok, std::filesystem::exists(c.path), message});
  }
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldsignal);
  for (size_t i = 0; i < results.size(); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(results[i].ok, c.fits ? 1 : 0) << c.path;
    EXPECT_EQ(results[i].exists, c.fits) << c.path;
    const std::string reason = c.fits ? "" : std::string("cannot write ") + c.path + ": " + strerror(EFBIG);
    EXPECT_EQ(results[i].message, reason) << c.path;
  }
}

class CaptureFont : public ::testing::Test {
 protected:
  void SetUp() override {
    char message[256];
    ASSERT_EQ(capture_openfont(&font, CAPTURE_FONT, CAPTURE_LABEL_PIXELS, message, 256), 1) << message;
  }
  void TearDown() override { capture_closefont(&font); }
  s_capturefont font{};
};

TEST(CaptureFontOpen, MissingFontIsRefused) {
  s_capturefont font{};
  char message[256];
  EXPECT_EQ(capture_openfont(&font, "/no/such/font.ttf", 12, message, 256), 0);
  EXPECT_NE(std::string(message).find("/no/such/font.ttf"), std::string::npos) << message;
  EXPECT_EQ(font.face, nullptr);
  capture_closefont(&font);  // harmless on a font that never opened
}

TEST_F(CaptureFont, TextInksItsLineAndDiffersByContent) {
  std::vector<uint8_t> a = solid(200, 20, 0, 0, 0), b = solid(200, 20, 0, 0, 0);
  s_captureimage ia{200, 20, a.data()}, ib{200, 20, b.data()};
  const int32_t end = capture_drawtext(&font, &ia, 2, 2, "event 3", 255, 255, 255);
  capture_drawtext(&font, &ib, 2, 2, "event 8", 255, 255, 255);
  EXPECT_GT(end, 2 + 7 * 5);  // seven glyphs of a 12-pixel monospace font
  int inked = 0;
  for (size_t i = 0; i < a.size(); i += 3) inked += a[i] > 128;
  EXPECT_GT(inked, 20);
  EXPECT_NE(a, b);
  // "event " is the same in both (six 7-pixel glyphs from x = 2), so the left part agrees.
  for (int y = 0; y < 20; ++y)
    EXPECT_EQ(memcmp(&a[static_cast<size_t>(y) * 200 * 3], &b[static_cast<size_t>(y) * 200 * 3], 40 * 3), 0);
}

TEST_F(CaptureFont, TextIsClippedToTheImage) {
  // The image sits inside a larger block whose guard bytes must stay untouched.
  const int32_t w = 30, h = 10;
  std::vector<uint8_t> block(static_cast<size_t>(w) * h * 3 + 2 * 4096, 0xA5);
  s_captureimage image{w, h, block.data() + 4096};
  memset(image.pixels, 0, static_cast<size_t>(w) * h * 3);
  capture_drawtext(&font, &image, -13, -6, "WWWWWWWWWWWW", 255, 255, 255);
  capture_drawtext(&font, &image, 20, 4, "MMMMMMMM", 255, 255, 255);
  capture_drawtext(&font, &image, 5000, 5000, "far away", 255, 255, 255);
  for (size_t i = 0; i < 4096; ++i) {
    ASSERT_EQ(block[i], 0xA5) << i;
    ASSERT_EQ(block[block.size() - 1 - i], 0xA5) << i;
  }
}

TEST_F(CaptureFont, SheetCellsHoldThumbnailAndLabel) {
  int32_t width = 0, height = 0;
  capture_sheetsize(15, &width, &height);
  EXPECT_EQ(width, 8 + 4 * (320 + 8));
  EXPECT_EQ(height, 8 + 15 * (180 + 18 + 8));
  // Cells lie inside the sheet and never overlap.
  for (int32_t row = 0; row < 15; ++row)
    for (int32_t point = 0; point < 4; ++point) {
      const s_capturecell cell = capture_sheetcell(row, point);
      EXPECT_GE(cell.x, 0);
      EXPECT_LE(cell.x + CAPTURE_THUMB_WIDTH, width);
      EXPECT_LE(cell.labely + CAPTURE_LABEL_HEIGHT, height);
      if (point > 0) {
        EXPECT_GE(cell.x, capture_sheetcell(row, point - 1).x + CAPTURE_THUMB_WIDTH);
      }
      if (row > 0) {
        EXPECT_GE(cell.y, capture_sheetcell(row - 1, point).labely + CAPTURE_LABEL_HEIGHT);
      }
    }

  char label[96];
  capture_sheetlabel(label, sizeof(label), 3, 1, 800);
  EXPECT_STREQ(label, "event 3  state 1  tick 800");

  capture_sheetsize(2, &width, &height);
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
  s_captureimage sheet{width, height, pixels.data()};
  capture_clearsheet(&sheet);
  std::vector<uint8_t> frame = solid(EFFECTS_WIDTH, EFFECTS_HEIGHT, 200, 100, 50);
  s_captureimage frameimage{EFFECTS_WIDTH, EFFECTS_HEIGHT, frame.data()};
  std::vector<uint8_t> scratch(CAPTURE_THUMB_WIDTH * CAPTURE_THUMB_HEIGHT * 3);
  capture_placethumbnail(&sheet, &font, 1, 2, &frameimage, scratch.data(), label);

  auto at = [&](int32_t x, int32_t y) { return &pixels[(static_cast<size_t>(y) * width + x) * 3]; };
  const s_capturecell cell = capture_sheetcell(1, 2);
  for (int32_t y = cell.y; y < cell.y + CAPTURE_THUMB_HEIGHT; y += 7)
    for (int32_t x = cell.x; x < cell.x + CAPTURE_THUMB_WIDTH; x += 11) {
      ASSERT_EQ(at(x, y)[0], 200);
      ASSERT_EQ(at(x, y)[2], 50);
    }
  // The label strip matches the strip drawn on its own.
  std::vector<uint8_t> strip(CAPTURE_THUMB_WIDTH * CAPTURE_LABEL_HEIGHT * 3, 0);
  s_captureimage stripimage{CAPTURE_THUMB_WIDTH, CAPTURE_LABEL_HEIGHT, strip.data()};
  capture_drawlabel(&font, &stripimage, 0, 0, label);
  int inked = 0;
  for (int32_t y = 0; y < CAPTURE_LABEL_HEIGHT; ++y) {
    EXPECT_EQ(memcmp(at(cell.labelx, cell.labely + y), &strip[static_cast<size_t>(y) * CAPTURE_THUMB_WIDTH * 3],
                     CAPTURE_THUMB_WIDTH * 3),
              0)
        << y;
    for (int32_t x = 0; x < CAPTURE_THUMB_WIDTH; ++x) inked += strip[(y * CAPTURE_THUMB_WIDTH + x) * 3] > 128;
  }
  EXPECT_GT(inked, 40);
  // The other cells are still background.
  const s_capturecell other = capture_sheetcell(0, 0);
  EXPECT_EQ(at(other.x + 5, other.y + 5)[0], CAPTURE_SHEET_BACKGROUND);
  EXPECT_EQ(at(other.labelx + 5, other.labely + 5)[0], CAPTURE_SHEET_BACKGROUND);
}

// ---- Video --------------------------------------------------------------------------------------

TEST(CaptureVideo, ProgramsAreFoundOnPathOrByPath) {
  char path[4096];
  ASSERT_EQ(capture_findprogram("sh", path, sizeof(path)), 1);
  EXPECT_EQ(path[0], '/');
  EXPECT_EQ(capture_findprogram("no-such-program-anywhere", path, sizeof(path)), 0);
  test_util::write_file("plain.txt", "not a program");
  std::filesystem::permissions("plain.txt", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(capture_findprogram("./plain.txt", path, sizeof(path)), 0);  // not executable
  EXPECT_EQ(capture_findprogram("/bin", path, sizeof(path)), 0);           // a folder
  EXPECT_EQ(capture_findprogram("/bin/sh", path, 4), 0);                   // no room for the answer
  ASSERT_EQ(capture_findprogram("/bin/sh", path, sizeof(path)), 1);
  EXPECT_STREQ(path, "/bin/sh");
}

TEST(CaptureVideo, QuotedTextSurvivesTheShell) {
  const char* texts[] = {"plain", "two words", "it's", "$HOME `x` \"q\" \\ ;|&", ""};
  for (const char* text : texts) {
    char quoted[512];
    ASSERT_EQ(capture_shellquote(quoted, sizeof(quoted), text), 1);
    Ran result = run(std::string("printf '%s' ") + quoted);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, text);
  }
  char tiny[4];
  EXPECT_EQ(capture_shellquote(tiny, sizeof(tiny), "long text"), 0);
}

TEST(CaptureVideo, CommandTrimsTheMusicToTheFrames) {
  char command[4096];
  ASSERT_EQ(capture_ffmpegcommand(command, sizeof(command), "/usr/bin/ffmpeg", "/tmp/m.wav", "out.mp4", 30, 1920,
                                  1080, 44100, 88200),
            1);
  const std::string c = command;
  EXPECT_EQ(c.rfind("'/usr/bin/ffmpeg' ", 0), 0u) << c;
  EXPECT_NE(c.find("-framerate 30 "), std::string::npos) << c;
  EXPECT_NE(c.find("-video_size 1920x1080"), std::string::npos) << c;
  EXPECT_NE(c.find("atrim=start_sample=44100:end_sample=88200"), std::string::npos) << c;
  EXPECT_NE(c.find("-c:v libx264"), std::string::npos) << c;
  EXPECT_NE(c.find("-pix_fmt yuv420p"), std::string::npos) << c;
  EXPECT_EQ(c.find(" -f mp4"), std::string::npos) << c;
  EXPECT_EQ(c.substr(c.size() - 10), " 'out.mp4'");

  ASSERT_EQ(capture_ffmpegcommand(command, sizeof(command), "ffmpeg", nullptr, "show.video", 60, 1280, 720, 0, 0), 1);
  EXPECT_EQ(std::string(command).find("atrim"), std::string::npos) << command;
  EXPECT_EQ(std::string(command).find("-map 1:a"), std::string::npos) << command;
  EXPECT_NE(std::string(command).find(" -f mp4 'show.video'"), std::string::npos) << command;
  EXPECT_EQ(capture_ffmpegcommand(command, 64, "ffmpeg", nullptr, "show.mp4", 60, 1280, 720, 0, 0), 0);
}

TEST(CaptureVideo, EncoderFailuresAreReported) {
  signal(SIGPIPE, SIG_IGN);
  char message[256];
  s_capturevideo video;
  ASSERT_EQ(capture_openvideo(&video, "exit 3", message, 256), 1);
  EXPECT_EQ(capture_closevideo(&video, message, 256), 0);
  EXPECT_NE(std::string(message).find("exit status 3"), std::string::npos) << message;

  // An encoder that takes nothing: the frames cannot all be delivered.
  std::vector<uint8_t> frame = solid(EFFECTS_WIDTH, EFFECTS_HEIGHT, 1, 2, 3);
  s_captureimage image{EFFECTS_WIDTH, EFFECTS_HEIGHT, frame.data()};
  ASSERT_EQ(capture_openvideo(&video, "exec true", message, 256), 1);
  bool refused = false;
  for (int i = 0; i < 20 && !refused; ++i) refused = !capture_writevideo(&video, &image);
  EXPECT_TRUE(refused);
  capture_closevideo(&video, message, 256);

  EXPECT_EQ(capture_writevideo(&video, &image), 0);  // closed
  EXPECT_EQ(capture_closevideo(&video, message, 256), 0);
}

TEST(CaptureVideo, RealEncodeCarriesFramesAndTrimmedMusic) {
  char ffmpeg[4096], ffprobe[4096];
  if (!capture_findprogram("ffmpeg", ffmpeg, sizeof(ffmpeg)) || !capture_findprogram("ffprobe", ffprobe, sizeof(ffprobe)))
    GTEST_SKIP() << "ffmpeg is not installed";
  signal(SIGPIPE, SIG_IGN);
  test_util::write_file("music.wav", wav_file(44100));  // one second
  char command[8192], message[256];
  // Frames 3 to 9 at 30 fps: the music from sample frame 4410 to 13230.
  ASSERT_EQ(capture_ffmpegcommand(command, sizeof(command), ffmpeg, "music.wav", "clip.mp4", 30, 1280, 720, 4410, 13230), 1);
  s_capturevideo video;
  ASSERT_EQ(capture_openvideo(&video, command, message, 256), 1) << message;
  std::vector<uint8_t> frame = solid(EFFECTS_WIDTH, EFFECTS_HEIGHT, 0, 0, 0);
  s_captureimage image{EFFECTS_WIDTH, EFFECTS_HEIGHT, frame.data()};
  for (int i = 0; i < 6; ++i) {
    frame = solid(EFFECTS_WIDTH, EFFECTS_HEIGHT, static_cast<uint8_t>(40 * i), 128, 255);
    image.pixels = frame.data();
    ASSERT_EQ(capture_writevideo(&video, &image), 1);
  }
  EXPECT_EQ(video.frames, 6);
  ASSERT_EQ(capture_closevideo(&video, message, 256), 1) << message;

  auto probe = [&](const char* stream, const char* entry) {
    return capture_test::probe(ffprobe, "clip.mp4", stream, entry);
  };
  EXPECT_EQ(probe("v:0", "codec_name"), "h264");
  EXPECT_EQ(probe("v:0", "width"), "1280");
  EXPECT_EQ(probe("v:0", "height"), "720");
  EXPECT_EQ(probe("v:0", "pix_fmt"), "yuv420p");
  EXPECT_EQ(probe("v:0", "nb_read_frames"), "6");
  EXPECT_EQ(probe("a:0", "codec_name"), "aac");
  // 8820 sample frames: 0.2 s of music (AAC rounds up to whole 1024-sample packets).
  const double duration = atof(probe("a:0", "duration").c_str());
  EXPECT_GT(duration, 0.19);
  EXPECT_LT(duration, 0.27);
}

TEST(CaptureVideo, MusicComesOutOfAPackedImage) {
  std::string music = wav_file(3000);
  test_util::pack("music.dat", {{"sprox8a.wav", music}, {"other.txt", "the next file's bytes"}});
  ASSERT_EQ(corefile_mountimage("music.dat", 0), 1);
  char message[256];
  ASSERT_EQ(capture_extractfile(DEMO_MUSICNAME, "extracted.wav", message, 256), 1) << message;
  EXPECT_EQ(test_util::read_file("extracted.wav"), music);
  EXPECT_EQ(capture_extractfile("missing.wav", "x.wav", message, 256), 0);
  EXPECT_NE(std::string(message).find("missing.wav is not in the resource image"), std::string::npos) << message;
  EXPECT_EQ(capture_extractfile(DEMO_MUSICNAME, "no/folder/x.wav", message, 256), 0);
  EXPECT_NE(std::string(message).find("cannot write"), std::string::npos) << message;
  corefile_closeimage();
}

// ---- Report, log and progress ------------------------------------------------------------------------

TEST(CaptureReport, Median) {
  std::vector<double> odd = {5, 1, 9, 3, 7};
  EXPECT_DOUBLE_EQ(capture_median(odd.data(), 5), 5);
  std::vector<double> even = {10, 2, 8, 4};
  EXPECT_DOUBLE_EQ(capture_median(even.data(), 4), 6);
  std::vector<double> one = {2.5};
  EXPECT_DOUBLE_EQ(capture_median(one.data(), 1), 2.5);
  EXPECT_DOUBLE_EQ(capture_median(nullptr, 0), 0);
  std::vector<double> same = {4, 4, 1, 4, 9, 4};
  EXPECT_DOUBLE_EQ(capture_median(same.data(), 6), 4);
}

TEST(CaptureReport, GroupsFramesByEventAfterItsHeading) {
  std::vector<s_captureframe> frames;
  const double times[] = {10, 30, 20, 5, 7, 100};
  const int32_t events[] = {2, 2, 2, 3, 3, 5};
  for (int i = 0; i < 6; ++i) {
    s_captureframe f{};
    f.frame = 40 + i;
    f.event = events[i];
    f.render_ms = times[i];
    frames.push_back(f);
  }
  s_capturereport report{};
  report.fps = 30;
  report.range = {40, 46};
  report.frames = frames.data();
  report.numframes = 6;
  report.startup_ms = 1234.5;
  report.engine_ms = 1000.25;
  report.wall_ms = 3000;
  FILE* out = fopen("report.txt", "w+");
  ASSERT_NE(out, nullptr);
  capture_writereport(out, &report);
  fclose(out);
  const std::string text = test_util::read_file("report.txt");
  const size_t heading = text.find("==== sprox-capture timing report ====");
  ASSERT_NE(heading, std::string::npos) << text;
  EXPECT_NE(text.find("frames 40 to 45 (6 frames, show time 1.333 s to 1.500 s)"), std::string::npos) << text;
  EXPECT_NE(text.find("start-up: 1234.5 ms"), std::string::npos) << text;
  // The grid scripts/motion.sh reads back, one field each.
  int rate = 0, tick = 0, beat = 0, last = 0;
  const size_t show = text.find("\nshow: ");
  ASSERT_NE(show, std::string::npos) << text;
  ASSERT_EQ(sscanf(text.c_str() + show, "\nshow: %d sample frames a second, %d sample frames a tick, %d ticks a beat, "
                   "scenes 0 to %d", &rate, &tick, &beat, &last), 4) << text;
  EXPECT_EQ(std::vector<int>({rate, tick, beat, last}),
            std::vector<int>({AUDIO_DEVICE_RATE, TIMELINE_TICKLENGTH, EFFECTS_BEAT_TICKS, DEMO_LASTSCENE}));
  EXPECT_NE(text.find("     2        3       20.000       30.000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("     3        2        6.000        7.000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("     5        1      100.000      100.000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("   all        6       15.000      100.000\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("stopped early"), std::string::npos);
  report.numframes = 4;
  out = fopen("report.txt", "w+");
  capture_writereport(out, &report);
  fclose(out);
  EXPECT_NE(test_util::read_file("report.txt").find("rendered: 4 of them (stopped early)"), std::string::npos);
}

// The report of a capture with a known split: the lines after the totals.
std::string ReportText(const s_capturereport& report) {
  FILE* out = fopen("split.txt", "w+");
  EXPECT_NE(out, nullptr);
  capture_writereport(out, &report);
  fclose(out);
  return test_util::read_file("split.txt");
}

TEST(CaptureReport, StartupSplitAddsUpToTheStartupLine) {
  s_captureframe first{};
  first.render_ms = 150.25;
  s_capturereport report{};
  report.fps = 1;
  report.range = {0, 1};
  report.frames = &first;
  report.numframes = 1;
  report.startup_ms = 1000.0;
  report.engine_ms = 840.0;
  report.launch_ms = 4.5;
  const double steps[CAPTURE_STEPS] = {0.25, 110.0, 88.5, 600.0, 35.0, 1.25};
  std::copy(steps, steps + CAPTURE_STEPS, report.step_ms);
  std::string text = ReportText(report);
  // The line tools read keeps its form; the split comes after the totals.
  const size_t startup = text.find("start-up: 1000.0 ms from launch to the end of the first frame (engine start-up 840.0 ms)\n");
  const size_t split = text.find(
      "start-up split: before the engine 4.5 ms, mount 0.2 ms, window 110.0 ms, sound and music 88.5 ms, "
      "images 600.0 ms, shaders 35.0 ms, timing 1.2 ms, first frame 150.2 ms, other 10.2 ms\n");
  ASSERT_NE(startup, std::string::npos) << text;
  ASSERT_NE(split, std::string::npos) << text;
  EXPECT_GT(split, text.find("wall: "));
  // A step whose mark never came shows as "-" and counts nothing.
  report.step_ms[CAPTURE_STEP_SHADERS] = -1.0;
  text = ReportText(report);
  EXPECT_NE(text.find("images 600.0 ms, shaders -, timing 1.2 ms, first frame 150.2 ms, other 45.2 ms\n"),
            std::string::npos)
      << text;
}

TEST(CaptureReport, PassSplitGivesMediansPerEventAndShares) {
  // Event 4: three frames, one of them in a transition (scene B ran);
  // event 6: one frame, never a transition.
  const double passes[4][CAPTURE_PASSES] = {
      {10, -1, 2, 8}, {30, 40, 4, 6}, {20, -1, 3, 7}, {50, -1, 1, 9}};
  const int32_t events[4] = {4, 4, 4, 6};
  std::vector<s_captureframe> frames(4);
  for (int i = 0; i < 4; ++i) {
    frames[i].event = events[i];
    frames[i].render_ms = 20.0;
    std::copy(passes[i], passes[i] + CAPTURE_PASSES, frames[i].pass_ms);
  }
  s_capturereport report{};
  report.fps = 4;
  report.range = {0, 4};
  report.frames = frames.data();
  report.numframes = 4;
  report.passtimer = true;
  const std::string text = ReportText(report);
  const size_t table = text.find("GL time per pass (timer queries), median ms by the event in force:\n"
                                 " event    scene A    scene B transition       post\n");
  ASSERT_NE(table, std::string::npos) << text;
  EXPECT_NE(text.find("     4     20.000     40.000      3.000      7.000\n", table), std::string::npos) << text;
  EXPECT_NE(text.find("     6     50.000          -      1.000      9.000\n", table), std::string::npos) << text;
  EXPECT_NE(text.find("   all     25.000     40.000      2.500      7.500\n", table), std::string::npos) << text;
  // Sums 110, 40, 10, 30 of 190 ms.
  EXPECT_NE(text.find("GL time by pass, all frames: scene A 110.0 ms (57.9 %), scene B 40.0 ms (21.1 %), "
                      "transition 10.0 ms (5.3 %), post 30.0 ms (15.8 %)\n"),
            std::string::npos)
      << text;
  // The event table above keeps its form and its own "all" row.
  EXPECT_NE(text.find("   all        4       20.000       20.000\n"), std::string::npos) << text;

  report.passtimer = false;
  const std::string untimed = ReportText(report);
  EXPECT_NE(untimed.find("GL time per pass: not measured (the driver has no GL_ARB_timer_query)\n"), std::string::npos);
  EXPECT_EQ(untimed.find("scene A"), std::string::npos) << untimed;
}

TEST(CaptureReport, LogHasOneLinePerFrame) {
  s_captureframe frames[2] = {{7, 5145, 1, 0, 0, 0.0f, 12.5, {}}, {8, 5880, 2, 1, 3, 0.25f, 13.0, {}}};
  char message[256];
  ASSERT_EQ(capture_writelog("frames.csv", frames, 2, message, 256), 1) << message;
  EXPECT_EQ(test_util::read_file("frames.csv"),
            "frame,offset,tick,event,state,progress,render_ms\n"
            "7,5145,1,0,0,0.000000,12.500\n"
            "8,5880,2,1,3,0.250000,13.000\n");
  EXPECT_EQ(capture_writelog("no/such/frames.csv", frames, 2, message, 256), 0);
}

TEST(CaptureReport, ProgressLine) {
  char line[256];
  capture_formatprogress(line, sizeof(line), 5, 10, 2.5, 10);
  EXPECT_STREQ(line, "[#####-----]  50%  frame 5/10  2.0 fps  eta 0:03");
  capture_formatprogress(line, sizeof(line), 0, 10, 0.0, 4);
  EXPECT_STREQ(line, "[----]   0%  frame 0/10  0.0 fps  eta ?");
  capture_formatprogress(line, sizeof(line), 12, 10, 1.0, 4);  // clamped
  EXPECT_STREQ(line, "[####] 100%  frame 10/10  10.0 fps  eta 0:00");
  capture_formatprogress(line, sizeof(line), 1, 4000, 1.0, 4);
  EXPECT_STREQ(line, "[----]   0%  frame 1/4000  1.0 fps  eta 1:06:39");
  capture_formatprogress(line, 8, 1, 2, 1.0, 40);  // truncated, still terminated
  EXPECT_EQ(strlen(line), 7u);
}

// ---- The real executable refuses bad command lines before it starts anything --------------------------

#ifdef SPROX_CAPTURE
TEST(CaptureExecutable, RefusesBadCommandLines) {
  const std::string exe = SPROX_CAPTURE;
  struct Case {
    const char* args;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"--fps 0 --report", 2, "--fps '0' is not a whole number from 1 to 240"},
      {"--report --fps", 2, "--fps needs a value"},
      {"--report --from 10 --to 5", 2, "--to must be later than --from"},
      {"--png", 2, "--png needs a value"},
      {"", 2, "nothing to do"},
      {"--bogus", 2, "unknown option '--bogus'"},
  };
  for (const Case& c : cases) {
    Ran result = run("DISPLAY=:99 " + exe + " " + c.args);
    EXPECT_EQ(result.status, c.status) << c.args << ": " << result.out;
    EXPECT_NE(result.out.find(std::string("sprox-capture: ") + c.message), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("(see sprox-capture --help)\n"), std::string::npos) << result.out;
  }
  Ran help = run(exe + " --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: sprox-capture"), std::string::npos);
}

TEST(CaptureExecutable, SaysWhatIsMissingBeforeStarting) {
  const std::string exe = SPROX_CAPTURE;
  Ran nodisplay = run("env -u DISPLAY " + exe + " --report");
  EXPECT_EQ(nodisplay.status, 1);
  EXPECT_NE(nodisplay.out.find("no X display: DISPLAY is unset"), std::string::npos) << nodisplay.out;
  EXPECT_NE(nodisplay.out.find("xvfb-run"), std::string::npos) << nodisplay.out;

  Ran noffmpeg = run("DISPLAY=:99 " + exe + " --mp4 x.mp4 --ffmpeg /no/such/ffmpeg");
  EXPECT_EQ(noffmpeg.status, 1);
  EXPECT_NE(noffmpeg.out.find("--ffmpeg /no/such/ffmpeg: no such program"), std::string::npos) << noffmpeg.out;
  Ran nopath = run("DISPLAY=:99 PATH=/nonexistent " + exe + " --mp4 x.mp4");
  EXPECT_EQ(nopath.status, 1);
  EXPECT_NE(nopath.out.find("--mp4 needs ffmpeg, which is not on PATH"), std::string::npos) << nopath.out;

  Ran nodata = run("DISPLAY=:99 " + exe + " --report --data /no/such/sprox.dat");
  EXPECT_EQ(nodata.status, 1);
  EXPECT_NE(nodata.out.find("--data /no/such/sprox.dat: no such file or folder"), std::string::npos) << nodata.out;
  // A copy of the tool alone in a folder finds no data anywhere and names where it looked.
  std::filesystem::create_directories("empty_folder");
  std::filesystem::copy_file(exe, "empty_folder/sprox-capture", std::filesystem::copy_options::overwrite_existing);
  Ran here = run("cd empty_folder && DISPLAY=:99 ./sprox-capture --report");
  EXPECT_EQ(here.status, 1);
  EXPECT_NE(here.out.find("no sprox.dat found: looked in the current folder"), std::string::npos) << here.out;
  EXPECT_NE(here.out.find("empty_folder/sprox-capture); give --data PATH"), std::string::npos) << here.out;

  Ran badsheet = run("DISPLAY=:99 " + exe + " --sheet /no/such/folder/sheet.png");
  EXPECT_EQ(badsheet.status, 1);
  EXPECT_NE(badsheet.out.find("the folder /no/such/folder does not exist"), std::string::npos) << badsheet.out;
  EXPECT_FALSE(std::filesystem::exists("x.mp4"));

  // A folder the system refuses to make is refused with mkdir's own reason
  // (/sys takes no new folders, even from root), not a later lookup's.
  if (std::filesystem::is_directory("/sys")) {
    Ran refused = run("DISPLAY=:99 " + exe + " --png /sys/sprox-capture-test/frames");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("--png: cannot make the folder /sys/sprox-capture-test: "), std::string::npos)
        << refused.out;
    EXPECT_EQ(refused.out.find(strerror(ENOENT)), std::string::npos) << refused.out;
  }
}

// Data that cannot be mounted at all ends the run right after the mount, with
// the reason and what to do, before any window or frame.
TEST(CaptureExecutable, DataThatCannotBeMountedEndsTheRunBeforeTheWindow) {
  const std::string exe = SPROX_CAPTURE;
  std::filesystem::remove_all("nodata");
  test_util::write_file("nodata/empty.dat", "");
  test_util::write_file("nodata/text.dat", "Keldrun - Sprox, in words only\n");
  test_util::pack("nodata/whole.dat", {{"timing.dat", "0 0 0\n"}, {"sprox8a.wav", std::string(4000, 'a')}});
  test_util::write_file("nodata/truncated.dat", test_util::read_file("nodata/whole.dat").substr(0, 30));
  std::filesystem::create_directories("nodata/folder");
  struct Case {
    const char* data;
    const char* outputs;
    const char* reason;  // the start of the reason in brackets
  };
  const Case cases[] = {
      {"nodata/empty.dat", "--at 30 --png k", "not a resource image"},
      {"nodata/text.dat", "--at 30 --png k --report", "not a resource image"},
      {"nodata/truncated.dat", "--at 30 --png k", "damaged image: "},
      {"nodata/truncated.dat", "--at 30 --png k --report", "damaged image: "},
      {"nodata/folder", "--at 30 --png k --sheet s.png", "it holds no files"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all("k");
    Ran result = run("DISPLAY=:99 " + exe + " --quiet --data " + c.data + " " + c.outputs);
    EXPECT_EQ(result.status, 1) << c.data << ": " << result.out;
    EXPECT_NE(result.out.find(std::string("sprox-capture: no show data: could not mount ") + c.data + " (the " +
                              (std::filesystem::is_directory(c.data) ? "folder" : "file") + " given: " + c.reason),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("); put sprox.dat beside the program or name it with --data\n"), std::string::npos)
        << result.out;
    EXPECT_EQ(result.out.find("window"), std::string::npos) << "no window was tried: " << result.out;
    EXPECT_TRUE(std::filesystem::is_empty("k")) << c.data;
    EXPECT_FALSE(std::filesystem::exists("s.png")) << c.data;
  }
}
#endif

}  // namespace
