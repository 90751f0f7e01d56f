// The real show's ending on the real clock: `sprox` from the build folder
// with its real sprox.dat, on the silent output (the steady clock paces the
// music, as a sound card would), moved in debug mode to the start of the
// closing card (Tab, then Right once for each of events 1 to 13, sent with
// xdotool once the start-up is done) and then left alone. It must close its
// window by itself at the end mark, the length of events 13 and 14 later,
// with exit status 0. Were the end mark missing, it would run on. (Music that
// ran out before the mark would run on in silence to it, with a line on
// standard error; showdata_test checks that the show's music covers the show.)
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "corefile/corefile.h"
#include "demo/demo.h"
#include "sound/sound.h"
#include "test_util.h"
#include "timeline/timeline.h"

namespace {

const std::string kBuild = SPROX_BINARY_DIR;

// Runs `script` with /bin/sh; returns its exit status.
int Shell(const std::string& script) {
  const int status = std::system(script.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Seconds(int64_t ticks) { return static_cast<double>(ticks) * TIMELINE_TICKLENGTH / AUDIO_DEVICE_RATE; }

TEST(DemoEnding, TheShowClosesByItselfAtTheEndMark) {
  // The timeline the program will load, read from the same image.
  ASSERT_TRUE(std::filesystem::exists(kBuild + "/" + DEMO_IMAGENAME));
  test_util::capture_stdout([] {
    ASSERT_EQ(corefile_mountimage((kBuild + "/" + DEMO_IMAGENAME).c_str(), 0), 1);
    InitTiming();
    LoadTiming(DEMO_TIMINGNAME);
  });
  corefile_closeimage();
  constexpr int kFrom = DEMO_LASTSCENE - 1;  // the closing card, a little before the last scene
  ASSERT_EQ(demo.numevents, DEMO_LASTSCENE + 2);
  const double expected = Seconds(demo.event[DEMO_LASTSCENE + 1].time - demo.event[kFrom].time);

  // The start-up is over once the timing file's end mark has been echoed;
  // the window is the one of that title (this test has none). Timestamps
  // in seconds from the shell's clock: after the keys, and at the exit.
  const std::string here = std::filesystem::current_path().string();
  std::string keys = "Tab";
  for (int e = 1; e <= kFrom; ++e) keys += " Right";
  const std::string ready = "- event: " + std::to_string(DEMO_LASTSCENE + 1) + " ";
  const std::string script =
      "cd '" + kBuild + "' && { SPROX_AUDIO=silent timeout 120 " SPROX_EXE " >'" + here + "/stdout.txt' 2>'" + here +
      "/stderr.txt' & job=$!; cd '" + here + "'; w=;"
      " for i in $(seq 300); do grep -q -- '" + ready + "' stdout.txt && break; sleep 0.1; done;"
      " for i in $(seq 100); do w=$(xdotool search --name '^" + DEMO_TITLE + "$' 2>/dev/null | head -n 1);"
      "  [ -n \"$w\" ] && break; sleep 0.1; done;"
      " if [ -z \"$w\" ]; then kill $job; wait $job; exit 3; fi;"
      " sleep 1; timeout 10 xdotool windowfocus --sync $w; xdotool key --delay 40 " + keys + ";"
      " date +%s.%N >seeked.txt; wait $job; echo $? >status.txt; date +%s.%N >ended.txt; }";
  ASSERT_EQ(Shell(script), 0) << "the window titled \"" << DEMO_TITLE << "\" was found";

  const std::string out = test_util::read_file("stdout.txt");
  EXPECT_NE(out.find("AUDIO: output: silent"), std::string::npos) << out;
  EXPECT_EQ(test_util::read_file("status.txt"), "0\n") << "stderr: " << test_util::read_file("stderr.txt");
  const double took = std::atof(test_util::read_file("ended.txt").c_str()) -
                      std::atof(test_util::read_file("seeked.txt").c_str());
  // The clock runs ahead of the picture by the queued buffers, and the close
  // waits for the frame in flight: a little either way, not seconds.
  EXPECT_GT(took, expected - 0.8) << "closed before the end mark";
  EXPECT_LT(took, expected + 4.0) << "did not close at the end mark (" << expected << " s of show after the seek)";
}

}  // namespace
