// Tests of the timeline: table building and its limits, the lookups at their
// boundaries, the per-frame evaluation, the curves, and the timing file read
// through both kinds of mount (a real image packed by corepack, a directory).

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "corefile/corefile.h"
#include "timeline/timeline.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// The show's five transitions (index: length in ticks).
void RegisterShowTransitions() {
  const int32_t lengths[] = {32, 64, 64, 16, 32};
  for (int i = 0; i < 5; ++i) AddTransition(10 + i, lengths[i], i == 4, 0.9f, 0.0f);
}

int CountLines(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

class Timeline : public testing::Test {
 protected:
  void SetUp() override {
    demo = s_demo{};
    RegisterShowTransitions();
    InitTiming();
  }
};

TEST_F(Timeline, AppendOperationsStayInsideTheirTables) {
  AddEventTime(100, 2);
  AddEventState(100, 0, 0);
  AddEventState(140, 0, 7);
  EXPECT_EQ(demo.event[0].time, 100);
  EXPECT_EQ(demo.event[0].transition, 2);
  EXPECT_EQ(demo.event[0].numstates, 2);
  EXPECT_EQ(demo.event[0].stateoffset[1], 40);

  CaptureStdout();
  AddEventState(0, 1, 0);  // event 1 is not in use
  AddEventState(0, -1, 0);
  for (int i = 2; i < 40; ++i) AddEventState(100 + i, 0, i);
  for (int i = 1; i < 300; ++i) AddEventTime(i, 0);
  for (int i = 5; i < 70; ++i) AddTransition(1, 1, 0, 0.0f, 0.0f);
  const std::string out = GetCapturedStdout();
  EXPECT_EQ(demo.event[0].numstates, 32);
  EXPECT_EQ(demo.event[0].currentstate, 0) << "the 33rd state ran over the next field";
  EXPECT_EQ(demo.numevents, 256);
  EXPECT_EQ(demo.numtransitions, 64);
  EXPECT_EQ(demo.event[256].time, 0) << "the vacant slot was filled";
  EXPECT_EQ(CountLines(out, "\n"), 2 + 8 + 44 + 6);
  EXPECT_EQ(CountLines(out, "not in use"), 2);

  demo.numevents = 0;
  InitTiming();
  EXPECT_EQ(demo.numtransitions, 64) << "InitTiming keeps the transitions";
}

TEST_F(Timeline, LookupsAtTheirBoundaries) {
  for (int32_t t : {0, 100, 300}) AddEventTime(t, 0);
  AddEventState(100, 1, 0);
  AddEventState(140, 1, 1);
  const int32_t events[][2] = {{-5, 0}, {0, 0}, {99, 0}, {100, 1}, {299, 1}, {300, 2}, {1 << 30, 2}};
  for (const auto& c : events) EXPECT_EQ(GetTimingEvent(c[0]), c[1]) << "tick " << c[0];
  const int32_t states[][2] = {{99, -1}, {100, 0}, {139, 0}, {140, 1}, {100000, 1}};
  for (const auto& c : states) EXPECT_EQ(GetTimingState(c[0], 1), c[1]) << "tick " << c[0];
  EXPECT_EQ(GetTimingState(500, -1), -1);
  EXPECT_EQ(GetTimingState(500, 3), -1);
  EXPECT_EQ(GetTimingState(500, 2), -1) << "an event without states";
  AddEventTime(300, 0);
  EXPECT_EQ(GetTimingEvent(300), 3) << "the later of two events with one start";
  InitTiming();
  EXPECT_EQ(GetTimingEvent(500), 0);
  EXPECT_EQ(GetTimingState(500, 0), -1);
}

TEST_F(Timeline, EvaluationOfTicksProgressAndStateTimes) {
  const int32_t ticks[][2] = {{0, 0}, {2738, 0}, {2739, 1}, {27390, 10}, {-2739, -1}};
  for (const auto& c : ticks) {
    UpdateDemoTiming(c[0], 2739);
    EXPECT_EQ(demo.tick, c[1]) << "offset " << c[0];
    EXPECT_EQ(demo.offset, c[0]);
  }
  UpdateDemoTiming(1000, 0);  // an unsupported tick length must not trap
  EXPECT_EQ(demo.tick, 0);

  AddEventTime(0, 0);
  AddEventState(0, 0, 0);
  AddEventState(150, 0, 1);
  AddEventTime(200, 0);  // entered through transition 0, 32 ticks
  AddEventState(200, 1, 0);
  const float progress[][2] = {{100, 0.0f}, {168, 0.0f}, {184, 0.5f}, {199, 31.0f / 32.0f}};
  for (const auto& c : progress) {
    UpdateDemoTiming(static_cast<int32_t>(c[0]), 1);
    EXPECT_EQ(demo.currentevent, 0);
    EXPECT_EQ(demo.nextevent, 1);
    EXPECT_FLOAT_EQ(demo.progress, c[1]) << "tick " << c[0];
  }
  UpdateDemoTiming(168, 1);
  EXPECT_EQ(demo.event[0].currentstate, 1);
  EXPECT_EQ(demo.event[0].statetime, 18);
  EXPECT_EQ(demo.event[1].currentstate, 0);
  EXPECT_EQ(demo.event[1].statetime, -32);

  // The last event is in force: the incoming slot is vacant, progress 1.
  UpdateDemoTiming(200, 1);
  EXPECT_EQ(demo.currentevent, 1);
  EXPECT_EQ(demo.nextevent, 2);
  EXPECT_EQ(demo.activetransition, 0);
  EXPECT_FLOAT_EQ(demo.progress, 1.0f);
}

TEST_F(Timeline, EvaluationNeverLeavesTheTables) {
  for (int i = 0; i < 256; ++i) AddEventTime(i * 10, 1);
  UpdateDemoTiming(1 << 20, 1);
  EXPECT_EQ(demo.currentevent, 255);
  EXPECT_EQ(demo.nextevent, 256);
  EXPECT_EQ(demo.activetransition, 0);
  EXPECT_FLOAT_EQ(demo.progress, 1.0f);
  EXPECT_EQ(demo.event[255].currentstate, -1);
  EXPECT_EQ(demo.event[255].statetime, (1 << 20) - 2550) << "no state: ticks since the start";
  const s_event& vacant = demo.event[256];
  EXPECT_EQ(vacant.time + vacant.numstates + vacant.transition + vacant.stateoffset[0], 0);

  // A transition index outside the table is a hard cut at index 0; one that
  // nobody registered reads a zero length.
  InitTiming();
  AddEventTime(0, 0);
  AddEventTime(100, 9999);
  AddEventTime(200, 40);
  UpdateDemoTiming(99, 1);
  EXPECT_EQ(demo.activetransition, 0);
  EXPECT_FLOAT_EQ(demo.progress, 0.0f);
  UpdateDemoTiming(199, 1);
  EXPECT_EQ(demo.activetransition, 40);
  EXPECT_FLOAT_EQ(demo.progress, 0.0f);

  // Nothing registered, nothing loaded: the ramp of length 0 towards tick 0
  // is 0 / 0 at tick 0, which must not leak out as a progress.
  demo = s_demo{};
  UpdateDemoTiming(0, 1);
  EXPECT_EQ(demo.progress, 0.0f);

  // A transition longer than the gap is already running when the event begins.
  RegisterShowTransitions();
  AddEventTime(0, 0);
  AddEventTime(10, 1);
  UpdateDemoTiming(0, 1);
  EXPECT_FLOAT_EQ(demo.progress, 54.0f / 64.0f);
}

TEST(Curves, StepIsAnUnclampedRampAndSmoothstepIsClamped) {
  EXPECT_FLOAT_EQ(step(10.0f, 20.0f, 15.0f), 0.5f);
  EXPECT_FLOAT_EQ(step(10.0f, 20.0f, 40.0f), 3.0f);
  EXPECT_FLOAT_EQ(step(10.0f, 20.0f, 0.0f), -1.0f);
  const float curve[][2] = {{0.0f, 0.0f}, {0.05f, 0.0f}, {0.5f, 0.5f}, {0.95f, 1.0f}, {2.0f, 1.0f}};
  for (const auto& c : curve) EXPECT_FLOAT_EQ(smoothstep(0.05f, 0.95f, c[0]), c[1]) << c[0];
  EXPECT_FLOAT_EQ(smoothstep(0.05f, 0.95f, 0.275f), 0.15625f);
  EXPECT_EQ(smoothstep(1.0f, 1.0f, 1.0f), 0.0f) << "a ratio that is not a number";
}

// The line reader that LoadTiming and the music generator share: it neither
// prints nor touches `demo`, and carries values from one line to the next.
TEST(TimingLines, EachLineIsReadWithoutPrintingOrTouchingTheRecord) {
  demo = s_demo{};
  s_timingreader reader;
  InitTimingReader(&reader);
  CaptureStdout();
  const s_timingline comment = ReadTimingLine(&reader, "  # event 0 0 0 0\n");
  const s_timingline orphan = ReadTimingLine(&reader, "state 0 5\n");
  const s_timingline first = ReadTimingLine(&reader, "event 0 96 7 2\n");
  const s_timingline state = ReadTimingLine(&reader, "\tstate 1 40");
  const s_timingline second = ReadTimingLine(&reader, "event 1 200\r\n");
  const s_timingline shortstate = ReadTimingLine(&reader, "state 2\n");
  const s_timingline misplaced = ReadTimingLine(&reader, "event 3 300 0 0\n");
  const s_timingline follower = ReadTimingLine(&reader, "state 0 0\n");
  const s_timingline huge = ReadTimingLine(&reader, "event 2 99999999999 0 0\n");
  const s_timingline badtransition = ReadTimingLine(&reader, "event 2 300 0 64\n");
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(demo.numevents, 0);
  EXPECT_EQ(reader.linenumber, 10);
  EXPECT_EQ(reader.numevents, 2);

  EXPECT_EQ(comment.kind, TIMELINE_LINE_OTHER);
  EXPECT_EQ(orphan.kind, TIMELINE_LINE_STATE);
  EXPECT_EQ(orphan.skip, TIMELINE_SKIP_NOEVENT);
  EXPECT_EQ(first.skip, TIMELINE_SKIP_NONE);
  EXPECT_EQ(first.fields, 4);
  EXPECT_EQ(first.event, 0);
  EXPECT_EQ(first.start, 96);
  EXPECT_EQ(first.value[3], 2);
  EXPECT_EQ(state.skip, TIMELINE_SKIP_NONE);
  EXPECT_EQ(state.event, 0);
  EXPECT_EQ(state.start, 136) << "the offset counts from the event's start";
  EXPECT_EQ(second.fields, 2);
  EXPECT_EQ(second.value[2], 7) << "missing values keep the last event line's";
  EXPECT_EQ(second.value[3], 2);
  EXPECT_EQ(shortstate.fields, 1);
  EXPECT_EQ(shortstate.event, 1);
  EXPECT_EQ(shortstate.start, 240) << "the missing offset is the last state line's";
  EXPECT_EQ(misplaced.skip, TIMELINE_SKIP_EVENTPOSITION);
  EXPECT_EQ(follower.skip, TIMELINE_SKIP_SKIPPEDEVENT);
  EXPECT_EQ(huge.skip, TIMELINE_SKIP_OVERFLOW);
  EXPECT_EQ(huge.fields, 0);
  EXPECT_EQ(badtransition.skip, TIMELINE_SKIP_TRANSITION);

  char reason[128];
  FormatTimingSkip(&misplaced, reason, sizeof reason);
  EXPECT_STREQ(reason, "event number 3 is not its position 2");
  FormatTimingSkip(&badtransition, reason, sizeof reason);
  EXPECT_STREQ(reason, "transition index 64 is outside 0 to 63");
  FormatTimingSkip(&first, reason, sizeof reason);
  EXPECT_STREQ(reason, "");
}

TEST(TimingLines, TextInMemoryIsCutAsTheFileReaderCutsIt) {
  const std::string text = "ab\n" + std::string(300, 'x') + "\n" + std::string("a\0b\n", 4) + "last";
  std::vector<std::string> lines;
  char line[TIMELINE_LINECAPACITY];
  size_t position = 0;
  while (NextTimingLine(text.data(), text.size(), &position, line, sizeof line)) lines.push_back(line);
  const std::vector<std::string> expected = {"ab\n", std::string(255, 'x'), std::string(45, 'x') + "\n", "a",
                                             "last"};
  EXPECT_EQ(lines, expected) << "255 bytes at most, through the line break; a NUL ends the line's text";
  EXPECT_EQ(position, text.size());
  EXPECT_STREQ(line, "") << "nothing left";
}

// The timing file through an image packed by corepack (kind 0) and through a
// directory mount (kind 2), whose end-of-file test behaves differently.
class TimingFile : public Timeline, public testing::WithParamInterface<int> {
 protected:
  void TearDown() override { corefile_closeimage(); }

  // Mounts `files` (name, text) and returns what LoadTiming("timing.dat") prints.
  std::string Load(std::initializer_list<std::pair<const char*, std::string>> files) {
    const std::string dir = GetParam() == 0 ? "image-src" : "mount";
    std::system(("rm -rf " + dir + " && mkdir " + dir).c_str());
    std::string paths;
    for (const auto& f : files) {
      std::ofstream(dir + "/" + f.first, std::ios::binary) << f.second;
      paths += " " + dir + "/" + f.first;
    }
    if (GetParam() == 0) {
      EXPECT_EQ(std::system((std::string(SPROX_COREPACK) + " -o image.dat" + paths).c_str()), 0);
      EXPECT_EQ(corefile_mountimage("image.dat", 0), 1);
    } else {
      EXPECT_EQ(corefile_mountimage(dir.c_str(), 2), 1);
    }
    CaptureStdout();
    LoadTiming("timing.dat");
    return GetCapturedStdout();
  }
};

TEST_P(TimingFile, ReadsEventsStatesAndEchoesThem) {
  const std::string text =
      "# comment\n\nEvent 5 5 5 5\nevent 0 0 7 2\nstate 0 0\n  State 9 9\nstate 1 40\n"
      "events 3 3 3 3\nevent 1 100\nstate 2\nstate 3 70";  // no newline at the end
  const std::string out = Load({{"timing.dat", text}, {"zz.txt", "5 trailing bytes\n"}});
  const std::string echo =
      "load timing timing.dat, size: " + std::to_string(text.size()) +
      "\n- event: 0 0 7 2\n- state: 0 0\n- state: 1 40\n- event: 1 100 7 2\n"
      "- state: 2 40\n- state: 3 70\n";
  EXPECT_NE(out.find(echo), std::string::npos) << out;
  ASSERT_EQ(demo.numevents, 2);
  EXPECT_EQ(demo.event[0].transition, 2);
  EXPECT_EQ(demo.event[0].numstates, 2);
  EXPECT_EQ(demo.event[0].stateoffset[1], 40);
  EXPECT_EQ(demo.event[1].time, 100);
  EXPECT_EQ(demo.event[1].transition, 2) << "a missing value keeps the previous one";
  EXPECT_EQ(demo.event[1].numstates, 2);
  EXPECT_EQ(demo.event[1].stateoffset[0], 40) << "a missing offset keeps the previous one";
  EXPECT_EQ(demo.event[1].stateoffset[1], 70) << "the next file's bytes ran into the last line";

  // A second, shorter file leaves the slot after its last event vacant.
  corefile_closeimage();
  Load({{"timing.dat", "event 0 50 0 1\n"}});
  EXPECT_EQ(demo.numevents, 1);
  EXPECT_EQ(demo.event[1].time, 0);
  EXPECT_EQ(demo.event[1].numstates, 0);
}

TEST_P(TimingFile, SkipsLinesThatWouldBreakTheTables) {
  std::string text = "state 0 5\nevent 0 0 0 0\nstate 0 0\n";
  for (int i = 1; i < 33; ++i) text += "state " + std::to_string(i) + " " + std::to_string(i) + "\n";
  text += "event 5 10 0 0\nstate 0 0\nevent 1 10 0 64\nevent 1 10 0 -1\nevent -1 10 0 0\n"
          "event 300 10 0 0\nevent 1 99999999999 0 0\n";
  for (int i = 1; i < 257; ++i) text += "event " + std::to_string(i) + " 1000 0 1\nstate 0 0\n";
  const std::string out = Load({{"timing.dat", text}});
  EXPECT_EQ(CountLines(out, " line skipped: "), 11) << out;
  EXPECT_NE(out.find("\ntimeline: timing.dat, line 1: state line skipped: no event line comes before it\n"),
            std::string::npos);
  EXPECT_NE(out.find("line 36: event line skipped: event number 5 is not its position 1\n"),
            std::string::npos);
  EXPECT_NE(out.find("line 37: state line skipped: it belongs to a skipped event line\n"),
            std::string::npos);
  EXPECT_NE(out.find("transition index 64 is outside 0 to 63"), std::string::npos);
  EXPECT_NE(out.find("event 0 already has 32 states"), std::string::npos);
  EXPECT_NE(out.find("the table already holds 256 events"), std::string::npos);
  EXPECT_NE(out.find("a number does not fit 32 bits"), std::string::npos);
  ASSERT_EQ(demo.numevents, 256);
  EXPECT_EQ(demo.event[0].numstates, 32);
  EXPECT_EQ(demo.event[0].stateoffset[31], 31);
  EXPECT_EQ(demo.event[1].time, 1000);
  EXPECT_EQ(demo.event[255].numstates, 1);
  EXPECT_EQ(demo.event[256].time + demo.event[256].numstates, 0);

  // The scan that leaves the table alone judges the same lines alike.
  s_timingscan scan;
  ScanTiming(text.data(), text.size(), &scan);
  EXPECT_EQ(scan.skipped, 11);
  EXPECT_EQ(scan.firstskipline, 1);
  EXPECT_STREQ(scan.firstskip, "no event line comes before it");
  EXPECT_EQ(scan.numevents, demo.numevents);
  EXPECT_EQ(scan.eventlines, 7 + 256);
  EXPECT_EQ(scan.start[1], 1000);
}

TEST_P(TimingFile, MissingFileLeavesTheTableEmpty) {
  const std::string out = Load({{"other.dat", "event 0 0 0 0\n"}});
  EXPECT_EQ(out.find("load timing"), std::string::npos);
  EXPECT_EQ(demo.numevents, 0);
}

TEST_P(TimingFile, TheShowsTimingFileKeepsItsPromises) {
  std::ifstream source(SPROX_SOURCE_DIR "/content/timing.dat", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(source)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(text.empty());
  const std::string out = Load({{"timing.dat", text}});
  EXPECT_EQ(out.find("skipped"), std::string::npos) << out;
  ASSERT_EQ(demo.numevents, 16);
  for (int i = 0; i < 16; ++i) {
    const s_event& e = demo.event[i];
    ASSERT_GE(e.numstates, 1) << "event " << i;
    EXPECT_EQ(e.stateoffset[0], 0) << "event " << i;
    EXPECT_EQ(e.time % 32, 0) << "event " << i;
    EXPECT_TRUE(e.transition >= 0 && e.transition < 5) << "event " << i;
    if (i > 0) {
      EXPECT_GT(e.time, demo.event[i - 1].time) << "event " << i;
    }
  }
  // The last scene holds the last chord for at least two bars; the end mark
  // follows it on a bar line, and the frame just before it still shows event 14.
  EXPECT_GE(demo.event[15].time - demo.event[14].time, 64);
  UpdateDemoTiming(demo.event[15].time * TIMELINE_TICKLENGTH - 1, TIMELINE_TICKLENGTH);
  EXPECT_EQ(demo.currentevent, 14);
  EXPECT_GT(demo.progress, 0.96f) << "the final dissolve is all but done";
  UpdateDemoTiming(demo.event[15].time * TIMELINE_TICKLENGTH, TIMELINE_TICKLENGTH);
  EXPECT_EQ(demo.currentevent, 15);
}

// What the line reader takes from a text held in memory is what LoadTiming
// loads from the same text as a file: same lines, same events and states.
TEST_P(TimingFile, TheTextReaderTakesWhatLoadTimingLoads) {
  const std::string texts[] = {
      "event 0 0 0 1\nstate 0 0\n# " + std::string(253, '-') + "event 1 64 0 2\nstate 0 0\nstate 1 16",
      "event 0 0 0 1\nstate 0" + std::string(300, ' ') + "7\nevent 1 32 0 0\n",
      std::string("event 0 0 0 3\nstate 0 0") + '\0' + "state 1 9\nevent 1 32" + '\0' + " 0 4\n",
      "state 1 1\r\nevent 0 8 0 2\r\nevent 2 9 0 0\r\nstate 0 0\r\nevent 1 16\r\nstate 4",
  };
  for (const std::string& text : texts) {
    Load({{"timing.dat", text}});
    s_timingreader reader;
    InitTimingReader(&reader);
    std::vector<std::vector<int32_t>> events;  // start, transition, state starts...
    char line[TIMELINE_LINECAPACITY];
    size_t position = 0;
    while (NextTimingLine(text.data(), text.size(), &position, line, sizeof line)) {
      const s_timingline read = ReadTimingLine(&reader, line);
      if (read.skip != TIMELINE_SKIP_NONE || read.kind == TIMELINE_LINE_OTHER) continue;
      if (read.kind == TIMELINE_LINE_EVENT) events.push_back({read.start, read.value[3]});
      if (read.kind == TIMELINE_LINE_STATE) events[static_cast<size_t>(read.event)].push_back(read.start);
    }
    ASSERT_EQ(static_cast<size_t>(demo.numevents), events.size()) << text;
    for (size_t e = 0; e < events.size(); ++e) {
      const s_event& loaded = demo.event[e];
      std::vector<int32_t> expected = {loaded.time, loaded.transition};
      for (int k = 0; k < loaded.numstates; ++k) expected.push_back(loaded.time + loaded.stateoffset[k]);
      EXPECT_EQ(events[e], expected) << "event " << e << " of\n" << text;
    }
    corefile_closeimage();
  }
}

INSTANTIATE_TEST_SUITE_P(Mounts, TimingFile, testing::Values(0, 2),
                         [](const testing::TestParamInfo<int>& p) {
                           return p.param == 0 ? "Image" : "Directory";
                         });

}  // namespace
