// The sound-server run's judge on recordings made here: a faithful copy of
// the music as the mixer plays it passes; the faults a real path can bring
// (an inverted channel, a dropped or skipped buffer, a wrong volume, other
// music, too little of it) fail. The clock's distance from the server and its
// advance, on logs with known answers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "pulse_analysis.h"

namespace {

using namespace pulse_analysis;

constexpr int64_t kLead = 13230;      // frames of silence before the music (0.3 s)
constexpr int64_t kTail = 22050;      // and after it
constexpr int64_t kMusicFrames = 9 * kRate;
constexpr int64_t kSlot = 2048;       // one output buffer

// Noise-like stereo "music" that never repeats; the two sides differ.
Samples MakeMusic(uint32_t seed, int64_t frames = kMusicFrames) {
  Samples music(frames * kChannels);
  uint32_t state = seed;
  for (int64_t i = 0; i < frames * kChannels; i++) {
    state = state * 1664525u + 1013904223u;
    music[i] = static_cast<int16_t>(static_cast<int32_t>(state >> 16) % 6000 - 3000);
  }
  return music;
}

// The music as the mixer plays a centred sound (x * 127 >> 8), framed by silence.
Samples Record(const Samples& music, int32_t gain = 127) {
  Samples recording((kLead + kTail) * kChannels + music.size(), 0);
  for (size_t i = 0; i < music.size(); i++)
    recording[kLead * kChannels + i] = static_cast<int16_t>((music[i] * gain) >> 8);
  return recording;
}

s_fit FitFound(const Samples& music, const Samples& recording) {
  const s_alignment alignment = Align(music, recording, static_cast<int64_t>(kMinSeconds * kRate));
  return Fit(music, recording, alignment.lag);
}

TEST(PulseAnalysis, AFaithfulCopyIsFoundAtItsLagAndPasses) {
  const Samples music = MakeMusic(1);
  const Samples recording = Record(music);
  const s_alignment alignment = Align(music, recording, static_cast<int64_t>(kMinSeconds * kRate));
  EXPECT_EQ(alignment.lag, kLead);
  EXPECT_GT(alignment.correlation, 0.999);

  const s_fit fit = Fit(music, recording, alignment.lag);
  EXPECT_EQ(fit.first, kLead);
  EXPECT_EQ(fit.frames, kMusicFrames);
  EXPECT_NEAR(fit.gain, kPanGain, 1e-3);
  EXPECT_NEAR(fit.leftgain, fit.rightgain, 1e-3);
  EXPECT_GT(fit.snr_db, kMinSnrDb);
  EXPECT_LE(fit.silentrun, kMaxSilentRun);
  EXPECT_TRUE(Judge(fit).empty()) << Judge(fit).front();
}

TEST(PulseAnalysis, FaultsOfThePathFail) {
  const Samples music = MakeMusic(1);

  Samples inverted = Record(music);
  for (size_t i = kLead * kChannels + 1; i < inverted.size(); i += 2) inverted[i] = -inverted[i];
  const s_fit invertedfit = Fit(music, inverted, kLead);
  EXPECT_NEAR(invertedfit.leftgain, kPanGain, 1e-3);
  EXPECT_NEAR(invertedfit.rightgain, -kPanGain, 1e-3);
  EXPECT_FALSE(Judge(invertedfit).empty());

  // One buffer lost to silence in the middle: found where it is.
  Samples dropped = Record(music);
  const int64_t at = kLead + 4 * kRate;
  std::fill(dropped.begin() + at * kChannels, dropped.begin() + (at + kSlot) * kChannels, 0);
  const s_fit droppedfit = FitFound(music, dropped);
  EXPECT_EQ(droppedfit.silentrun, kSlot);
  EXPECT_EQ(droppedfit.silentat, at);
  EXPECT_FALSE(Judge(droppedfit).empty());

  // One buffer skipped: the rest of the music comes a buffer early.
  Samples skipped = Record(music);
  skipped.erase(skipped.begin() + at * kChannels, skipped.begin() + (at + kSlot) * kChannels);
  EXPECT_LT(FitFound(music, skipped).snr_db, 20);
  EXPECT_FALSE(Judge(FitFound(music, skipped)).empty());

  // Played at twice the volume: clean, but not the pan law's gain.
  const s_fit louder = FitFound(music, Record(music, 254));
  EXPECT_GT(louder.snr_db, kMinSnrDb);
  EXPECT_EQ(Judge(louder).size(), 1u);

  // Other music.
  const s_fit other = Fit(music, Record(MakeMusic(2)), kLead);
  EXPECT_LT(other.snr_db, 1);
  EXPECT_FALSE(Judge(other).empty());

  // Too little music: no lag leaves room for the least span.
  const Samples shortmusic = MakeMusic(1, 5 * kRate);
  EXPECT_EQ(Align(music, Record(shortmusic), static_cast<int64_t>(kMinSeconds * kRate)).lag, -1);
  EXPECT_FALSE(Judge(Fit(music, Record(shortmusic), kLead)).empty());
}

TEST(PulseAnalysis, ClockDistanceFromTheRecordedFrames) {
  // 441 frames arrive every 10 ms from t = 1 s; the music starts at recording frame 1000.
  std::vector<s_stamp> stamps;
  for (int64_t i = 1; i <= 300; i++) stamps.push_back({1000000000 + i * 10000000, i * 441});
  const int64_t lag = 1000;
  std::vector<s_clockreading> clock;
  clock.push_back({1000000000 + 5000000, 100, 100});  // before the first stamp
  clock.push_back({1000000000 + 15000000, 100, 100});  // the music has not reached the server yet
  for (int64_t t = 500; t < 2900; t += 300) {           // ms after the start of the stamps, times 10
    const int64_t time = 1000000000 + t * 1000000;
    const int64_t server = t * 441 / 10 - lag;
    clock.push_back({time, server + 5000, server + 9000});
  }
  clock.push_back({1000000000 + 4000000000LL, 1, 1});  // after the last stamp

  const s_clockdistance d = ClockDistance(clock, stamps, lag);
  EXPECT_EQ(d.readings, 8);
  EXPECT_NEAR(d.median, 5000, 1);
  EXPECT_NEAR(d.low, 5000, 1);
  EXPECT_NEAR(d.high, 5000, 1);
  EXPECT_NEAR(d.mixermedian, 9000, 1);
  EXPECT_NEAR(d.stampinterval, 10000000, 1);
}

TEST(PulseAnalysis, ClockLogAndItsAdvance) {
  const std::vector<s_clockreading> log = ParseClockLog(
      "AUDIO: output: ALSA \"default\"\n"
      "clock: 1000000000 0 0\n"
      "sound: ALSA output failed (Broken pipe), going on without sound\n"
      "clock: 4000000000 132300 137216\n");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].time_ns, 4000000000);
  EXPECT_EQ(log[1].playback, 132300);
  EXPECT_EQ(log[1].mixer, 137216);

  const s_advance advance = Advance(log);
  EXPECT_DOUBLE_EQ(advance.seconds, 3.0);
  EXPECT_EQ(advance.frames, 132300);
  EXPECT_TRUE(JudgeAdvance(advance).empty());
  EXPECT_FALSE(JudgeAdvance({3.0, 2048}).empty());           // a clock that stands
  EXPECT_FALSE(JudgeAdvance({1.0, kRate}).empty());          // too short a log to tell
  EXPECT_EQ(ParseStamps("5 441\n15 882\n").back().frames, 882);
}

}  // namespace
