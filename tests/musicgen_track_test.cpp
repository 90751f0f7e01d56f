// musicgen: the rendered music of the show, as the build wrote it.
//
// The file is packed with our packer and loaded with the sound module's own
// WAV loader, as the show loads it; then its format, length, mastering and
// arrangement are checked. A short excerpt of the score is rendered twice to
// prove the render is deterministic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "corefile/corefile.h"
#include "musicgen.h"
#include "sound/sound.h"
#include "test_util.h"

namespace {

const std::string kWav = std::string(SPROX_BINARY_DIR) + "/gen/music/sprox8a.wav";
const std::string kScore = std::string(SPROX_SOURCE_DIR) + "/content/music/sprox.score";
const std::string kTiming = std::string(SPROX_SOURCE_DIR) + "/content/timing.dat";

// The score, sequenced against the timing file, shared by the tests.
struct Song {
  s_mgscore score;
  s_mgsong song;
  std::vector<int> events;
  bool ok = false;
};

const Song& show_song() {
  static Song s;
  static bool loaded = false;
  if (!loaded) {
    loaded = true;
    test_util::capture_stdout([&] {
      s.ok = mg_score_load(kScore.c_str(), &s.score) && mg_timing_load(kTiming.c_str(), &s.events) &&
             mg_sequence(&s.score, s.events, &s.song);
    });
  }
  return s;
}

// Loudness of frames [a, b) of interleaved stereo samples.
double loudness_of(const std::vector<float>& x, int64_t a, int64_t b) {
  return mg_loudness(x.data() + 2 * a, b - a);
}

class MusicgenTrack : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Through the show's path: a packed image, the sound module's WAV loader.
    ASSERT_EQ(test_util::run_corepack("-o music-image.dat 'sprox8a.wav=" + kWav + "'"), 0) << kWav;
    test_util::capture_stdout([] { ASSERT_EQ(corefile_mountimage("music-image.dat", 0), 1); });
    std::memset(&sound_, 0, sizeof sound_);
    test_util::capture_stdout([] { loaded_ = Soundsystem_LoadWAV("sprox8a.wav", &sound_); });
    corefile_closeimage();
    if (loaded_ && sound_.data && sound_.bits == 16) {
      const int16_t* pcm = static_cast<const int16_t*>(sound_.data);
      samples_.resize(sound_.numsamples);
      for (uint32_t i = 0; i < sound_.numsamples; ++i) samples_[i] = pcm[i] * (1.0f / 32768.0f);
    }
  }
  static void TearDownTestSuite() {
    std::free(sound_.data);
    sound_.data = nullptr;
    samples_.clear();
  }
  static s_sound sound_;
  static int loaded_;
  static std::vector<float> samples_;  // interleaved, -1..1
};

s_sound MusicgenTrack::sound_;
int MusicgenTrack::loaded_ = 0;
std::vector<float> MusicgenTrack::samples_;

}  // namespace

TEST_F(MusicgenTrack, LoadsAsTheShowExpects) {
  ASSERT_EQ(loaded_, 1);
  EXPECT_EQ(sound_.channels, 2);
  EXPECT_EQ(sound_.bits, 16);
  EXPECT_EQ(sound_.frequency, 44100u);
  EXPECT_EQ(sound_.datasize, sound_.numsamples * 2u);
  // The canonical 44-byte header, byte for byte, and nothing after the samples.
  std::string raw = test_util::read_file(kWav);
  ASSERT_GE(raw.size(), 44u);
  uint8_t expected[SOUND_WAV_HEADERBYTES];
  Soundsystem_FillWAVHeader(expected, 2, 16, 44100, sound_.numsamples * 2u);
  EXPECT_EQ(std::memcmp(raw.data(), expected, sizeof expected), 0);
  EXPECT_EQ(raw.size(), 44u + sound_.datasize);
}

TEST_F(MusicgenTrack, LastsTheSongAndPastTheEndMark) {
  const Song& s = show_song();
  ASSERT_TRUE(s.ok);
  ASSERT_EQ(s.events.size(), 16u);
  const int64_t frames = sound_.numsamples / 2;
  EXPECT_EQ(frames, s.song.frames) << "the file is the score's length";
  const int64_t endmark = (int64_t)s.events[15] * MG_TICK_FRAMES;
  EXPECT_GE(frames, endmark + 4 * MG_RATE) << "at least 4 s past the end mark";
  // Sound carries on to the end mark (the last chord rings out), then the fade lands on silence.
  ASSERT_EQ(samples_.size(), (size_t)frames * 2);
  EXPECT_GT(mg_samplepeak(samples_.data() + 2 * (endmark - MG_RATE / 2), MG_RATE / 2), 0.01);
  EXPECT_EQ(samples_[samples_.size() - 1], 0.0f);
  EXPECT_EQ(samples_[samples_.size() - 2], 0.0f);
}

TEST_F(MusicgenTrack, IsMasteredWithoutClipping) {
  ASSERT_FALSE(samples_.empty());
  const int64_t frames = (int64_t)samples_.size() / 2;
  int64_t fullscale = 0;
  for (float v : samples_) fullscale += (v >= 32767.0f / 32768.0f || v <= -1.0f);
  EXPECT_EQ(fullscale, 0) << "no clipped samples";
  EXPECT_LE(20.0 * std::log10(mg_truepeak(samples_.data(), frames)), -1.0) << "true peak at most -1 dBTP";
  EXPECT_NEAR(mg_loudness(samples_.data(), frames), -14.0, 0.5) << "integrated loudness";
}

TEST_F(MusicgenTrack, SectionsFollowTheStory) {
  const Song& s = show_song();
  ASSERT_TRUE(s.ok);
  ASSERT_FALSE(samples_.empty());
  auto section = [&](int e) {
    return loudness_of(samples_, (int64_t)s.events[(size_t)e] * MG_TICK_FRAMES,
                       (int64_t)s.events[(size_t)e + 1] * MG_TICK_FRAMES);
  };
  const double intro = section(0), drop = section(2), credits = section(5), chorus = section(8),
               final = section(11), closing = section(13);
  EXPECT_GT(drop, intro + 3.0) << "the drop hits";
  EXPECT_GT(chorus, credits + 2.0) << "the chorus outshines the breather";
  EXPECT_GE(final, chorus - 1.0) << "the final drop is at full power";
  EXPECT_LT(closing, chorus - 3.0) << "the pads at the close are softer";
  // The half bar of silence before the chorus: quieter than the chorus' first half bar.
  const int64_t chorusstart = (int64_t)s.events[8] * MG_TICK_FRAMES;
  const int64_t beat = 8 * MG_TICK_FRAMES;
  double before = 0.0, after = 0.0;
  for (int64_t i = chorusstart - beat / 2; i < chorusstart; ++i) before = std::max(before, (double)std::fabs(samples_[2 * i]));
  for (int64_t i = chorusstart; i < chorusstart + beat / 2; ++i) after = std::max(after, (double)std::fabs(samples_[2 * i]));
  EXPECT_LT(before, 0.5 * after);
}

TEST(MusicgenRender, IsDeterministic) {
  const Song& s = show_song();
  ASSERT_TRUE(s.ok);
  // Two bars from the chorus' start, rendered twice from scratch.
  const int64_t from = (int64_t)s.events[8] * MG_TICK_FRAMES;
  const int64_t to = from + 2 * MG_TICKS_PER_BAR * MG_TICK_FRAMES;
  std::vector<float> a, b;
  ASSERT_EQ(mg_render(&s.score, &s.song, from, to, &a), to - from);
  ASSERT_EQ(mg_render(&s.score, &s.song, from, to, &b), to - from);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0) << "the same bytes every render";
  EXPECT_GT(mg_samplepeak(a.data(), to - from), 0.05) << "and not silence";
  // Mastering is deterministic as well.
  std::vector<float> ca = a, cb = b;
  std::vector<int16_t> pa, pb;
  s_mgmasterreport ra, rb;
  mg_master(&ca, -14.0f, -1.5f, 0.5f, &pa, &ra);
  mg_master(&cb, -14.0f, -1.5f, 0.5f, &pb, &rb);
  EXPECT_EQ(pa, pb);
  // An excerpt past the end renders nothing rather than reading beyond the song.
  std::vector<float> none;
  EXPECT_EQ(mg_render(&s.score, &s.song, s.song.frames, s.song.frames + 1000, &none), 0);
  EXPECT_TRUE(none.empty());
}
