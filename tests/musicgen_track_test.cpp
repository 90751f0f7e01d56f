// musicgen: the rendered music of the show, as the build wrote it.
//
// The file is packed with our packer and loaded with the sound module's own
// WAV loader, as the show loads it; then its format, length and mastering
// are checked; every section's part in the arrangement, through musicgen's
// report (the drops against the verses, brightness, pumping, the hook, the
// low end, repetition, the breaths before the drops); and how it ends: the
// last chord dies away inside event 14, steadily, into exact silence that
// lasts past the end mark. A
// short excerpt of the score is rendered twice to prove the render is
// deterministic, and the mastering's ending (a fixed gain, a fade to
// silence before the file's end) is checked on small mixes of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
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

// RMS level of frames [a, b), both channels, dBFS; minus infinity for silence.
double rms_db(const std::vector<float>& x, int64_t a, int64_t b) {
  double sum = 0.0;
  for (int64_t i = 2 * a; i < 2 * b; ++i) sum += (double)x[(size_t)i] * x[(size_t)i];
  if (sum == 0.0) return -std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(sum / (double)(2 * (b - a)));
}

// The same for 16-bit samples, in dBFS.
double rms_db(const std::vector<int16_t>& x, int64_t a, int64_t b) {
  std::vector<float> f((size_t)(2 * (b - a)));
  for (size_t i = 0; i < f.size(); ++i) f[i] = x[(size_t)(2 * a) + i] * (1.0f / 32768.0f);
  return rms_db(f, 0, b - a);
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

TEST_F(MusicgenTrack, LastsTheSongAndGoesOnInSilencePastTheEndMark) {
  const Song& s = show_song();
  ASSERT_TRUE(s.ok);
  ASSERT_EQ(s.events.size(), 16u);
  const int64_t frames = sound_.numsamples / 2;
  EXPECT_EQ(frames, s.song.frames) << "the file is the score's length";
  const int64_t endmark = (int64_t)s.events[15] * MG_TICK_FRAMES;
  EXPECT_EQ(s.events[15] % MG_TICKS_PER_BAR, 0) << "the end mark is on a bar line";
  // A sound that runs out is stopped and its offset returns to 0, which
  // would send the show back to event 0: the file goes on well past the mark.
  EXPECT_GE(frames, endmark + MG_RATE / 2) << "at least half a second past the end mark";
  ASSERT_EQ(samples_.size(), (size_t)frames * 2);
  int64_t sounding = 0;
  for (size_t i = 2 * (size_t)endmark; i < samples_.size(); ++i) sounding += samples_[i] != 0.0f;
  EXPECT_EQ(sounding, 0) << "samples past the end mark that are not exactly zero";
}

TEST_F(MusicgenTrack, TheLastChordDiesAwayInsideEventFourteen) {
  const Song& s = show_song();
  ASSERT_TRUE(s.ok);
  ASSERT_EQ(s.events.size(), 16u);
  const int64_t frames = (int64_t)samples_.size() / 2;
  const int64_t last = (int64_t)s.events[14] * MG_TICK_FRAMES;
  const int64_t endmark = (int64_t)s.events[15] * MG_TICK_FRAMES;
  ASSERT_GE(endmark - last, 3 * MG_RATE) << "event 14 holds the last 3 s before the end mark";
  ASSERT_LE(endmark, frames);
  EXPECT_GT(rms_db(samples_, last, endmark), -45.0) << "event 14 as a whole is heard";

  // Over the last 3 s the level only falls: no 100 ms window is more than
  // 3 dB louder than the 100 ms before it, in steps of 10 ms; once a window
  // is silent, every later one is.
  const int64_t window = MG_RATE / 10, step = MG_RATE / 100, from = endmark - 3 * MG_RATE;
  for (int64_t a = from + window; a + window <= endmark; a += step) {
    const double before = rms_db(samples_, a - window, a), after = rms_db(samples_, a, a + window);
    EXPECT_LE(after, before + 3.0) << "the 100 ms from " << (double)(a - endmark) / MG_RATE
                                   << " s before the end mark rise from " << before << " to " << after << " dBFS";
  }
  EXPECT_LT(rms_db(samples_, endmark - MG_RATE / 4, endmark), -50.0) << "the last 250 ms before the end mark";

  // Exact digital silence, no dither: the first 10 ms of the last 3 s that
  // are zero in both channels start a silence that lasts to the file's end
  // (a lone frame at zero in both is a crossing of the waveform, not silence).
  int64_t silent = -1, zeros = 0;
  for (int64_t n = from; n < endmark && silent < 0; ++n) {
    zeros = samples_[2 * n] == 0.0f && samples_[2 * n + 1] == 0.0f ? zeros + 1 : 0;
    if (zeros == MG_RATE / 100) silent = n + 1 - zeros;
  }
  ASSERT_GE(silent, 0) << "the music is silent before the end mark";
  int64_t after = 0;
  for (int64_t i = 2 * silent; i < 2 * frames; ++i) after += samples_[(size_t)i] != 0.0f;
  EXPECT_EQ(after, 0) << "samples after the first silent frame, " << (double)(endmark - silent) / MG_RATE
                      << " s before the end mark";
  // The score's closing fade, inside event 14, is what ends it.
  EXPECT_GE(s.song.fadefrom, last);
  EXPECT_GE(silent, s.song.fadefrom);
  EXPECT_LE(silent, s.song.fadeto);
  EXPECT_LE(s.song.fadeto, endmark);
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

// What each section is for: the drops hit, the verses hold back.
enum Role { kOther, kVerse, kDrop };

struct SectionRole {
  const char* name;
  Role role;
};

TEST_F(MusicgenTrack, EverySectionPlaysItsPart) {
  const Song& s = show_song();
  ASSERT_TRUE(s.ok);
  ASSERT_FALSE(samples_.empty());
  std::vector<s_mgsectionreport> report;
  std::vector<s_mgbreath> breaths;
  mg_report(&s.score, &s.song, samples_.data(), (int64_t)samples_.size() / 2, &report, &breaths);
  ASSERT_EQ(report.size(), s.score.sections.size());
  const SectionRole roles[] = {{"versea", kVerse}, {"verseavar", kVerse}, {"verseb", kVerse},
                               {"drop", kDrop},    {"chorus", kDrop},    {"final", kDrop}};
  auto role_of = [&](const s_mgsectionreport& r) {
    for (const SectionRole& sr : roles)
      if (std::strcmp(sr.name, r.name) == 0) return sr.role;
    return kOther;
  };
  double verselufs = 0.0, versekick = -200.0, loudest = -200.0, quietestdrop = 0.0;
  int verses = 0, drops = 0;
  for (const s_mgsectionreport& r : report) {
    if (role_of(r) == kVerse) verselufs += r.lufs, versekick = std::max(versekick, r.kickdb), ++verses;
    if (role_of(r) == kDrop) quietestdrop = std::min(quietestdrop, r.lufs);
    loudest = std::max(loudest, r.lufs);
  }
  ASSERT_EQ(verses, 3);
  verselufs /= verses;
  const int k1 = MG_REPORT_BAND1K;
  for (const s_mgsectionreport& r : report) {
    SCOPED_TRACE(r.name);
    EXPECT_LE(r.below40, 0.08) << "energy under 40 Hz";
    EXPECT_LE(r.repeatbars, 8) << "bars in a row that repeat earlier bars";
    if (r.bands[1] > -20.0) {
      EXPECT_GE(r.lowcorr, 0.9) << "the lows are mono-safe";
    }
    if (role_of(r) == kVerse) {
      EXPECT_NEAR(r.lufs, -16.0, 1.5) << "a thinner verse";
    }
    if (role_of(r) != kDrop) {
      EXPECT_LT(r.lufs, quietestdrop) << "quieter than every drop";
      continue;
    }
    ++drops;
    EXPECT_GE(r.lufs, verselufs + 3.0) << "the drop out-hits the verses";
    EXPECT_GE(r.kickdb, versekick + 2.0) << "a hotter kick than in any verse";
    EXPECT_GE(r.bands[k1 + 2], -6.0) << "the 4 kHz octave";
    EXPECT_GE(r.bands[k1 + 4], -15.0) << "the 16 kHz octave";
    for (int k = k1 + 2; k < MG_REPORT_BANDS; ++k) EXPECT_LE(r.bands[k], 0.0) << "no harsh band " << k;
    EXPECT_GE(r.pumpdb, 6.0) << "the 400-2500 Hz band pumps on the kick";
    EXPECT_GE(r.hookmatch, 0.7) << "the hook's note is the strongest pitch";
    if (std::strcmp(r.name, "final") == 0) {
      EXPECT_EQ(r.lufs, loudest) << "the final drop is the loudest";
    }
  }
  EXPECT_EQ(drops, 3);
  ASSERT_EQ(breaths.size(), 3u);
  for (const s_mgbreath& b : breaths) EXPECT_LT(b.peakdb, -40.0) << b.name;
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

// ---- The mastering's ending, on mixes of its own ----------------------------------------

namespace {

// A steady two-note chord with a low pulse, loud enough for the limiter to
// work, `seconds` long; from frame `burst` on, a louder noise is added.
std::vector<float> test_mix(double seconds, int64_t burst = -1) {
  const int64_t frames = (int64_t)(seconds * MG_RATE);
  std::vector<float> mix((size_t)frames * 2);
  s_mgosc a, b;
  mg_osc_init(&a, MG_WAVE_SAW, 220.0f, 0.0f);
  mg_osc_init(&b, MG_WAVE_SAW, 329.6f, 0.4f);
  s_mgrand rnd;
  mg_rand_seed(&rnd, 7);
  for (int64_t i = 0; i < frames; ++i) {
    float v = 0.3f * mg_osc_next(&a) + 0.25f * mg_osc_next(&b) +
              0.6f * std::exp(-(float)(i % 22050) / 2500.0f) * std::sin(2.0f * MG_PI * 55.0f * (float)i / MG_RATE);
    if (burst >= 0 && i >= burst) v += 0.9f * mg_rand_bi(&rnd);
    mix[2 * (size_t)i] = v;
    mix[2 * (size_t)i + 1] = 0.9f * v;
  }
  return mix;
}

s_mgmastering mastering_for(int64_t frames, double gaindb = std::nan("")) {
  s_mgmastering m;
  m.target = -14.0f;
  m.ceiling = -1.5f;
  m.gaindb = gaindb;
  m.fadeout = 0.0f;
  m.fadefrom = frames;
  m.fadeto = frames;
  return m;
}

}  // namespace

TEST(MusicgenEnding, AFixedGainLeavesTheSamplesBeforeAChangeAsTheyWere) {
  // Two mixes alike for 4 s; the second gets louder after that.
  const int64_t change = 4 * MG_RATE;
  const std::vector<float> a = test_mix(6.0), b = test_mix(6.0, change);
  const int64_t frames = (int64_t)a.size() / 2;
  // The look-ahead limiter sees 1.5 ms (66 frames) ahead; well before that the samples must agree.
  const size_t before = (size_t)(change - 128) * 2;
  std::vector<int16_t> pa, pb;
  s_mgmasterreport ra, rb;
  auto master = [&](const std::vector<float>& mix, double gaindb, std::vector<int16_t>* pcm, s_mgmasterreport* r) {
    std::vector<float> copy = mix;
    const s_mgmastering m = mastering_for(frames, gaindb);
    mg_master_song(&copy, &m, pcm, r);
  };
  // Measured, the gain follows the loudness of the whole: the change moves every sample.
  master(a, std::nan(""), &pa, &ra);
  master(b, std::nan(""), &pb, &rb);
  EXPECT_NE(ra.gaindb, rb.gaindb);
  EXPECT_FALSE(std::equal(pa.begin(), pa.begin() + (long)before, pb.begin()));
  // Fixed at the first mix's gain, the second mix keeps the first one's samples up to the change,
  // and the first mix comes out as it did with the measured gain.
  const double fixed = ra.gaindb;
  std::vector<int16_t> fa, fb;
  master(a, fixed, &fa, &ra);
  master(b, fixed, &fb, &rb);
  EXPECT_EQ(ra.gaindb, fixed);
  EXPECT_EQ(rb.gaindb, fixed);
  EXPECT_EQ(fa, pa);
  EXPECT_TRUE(std::equal(fa.begin(), fa.begin() + (long)before, fb.begin())) << "a sample before the change moved";
  EXPECT_FALSE(std::equal(fa.begin() + (long)before, fa.end(), fb.begin() + (long)before));
  EXPECT_LE(rb.truepeakdb, -1.0) << "the limiter still holds the louder part";
}

TEST(MusicgenEnding, AFadeBeforeTheEndFallsSteadilyIntoExactSilence) {
  const std::vector<float> mix = test_mix(5.0);
  const int64_t frames = (int64_t)mix.size() / 2;
  std::vector<float> copy = mix;
  std::vector<int16_t> plain, faded;
  s_mgmasterreport r;
  s_mgmastering m = mastering_for(frames);
  mg_master_song(&copy, &m, &plain, &r);
  const double gain = r.gaindb;
  // The same gain, faded over 1.5 s to silence 1 s before the file's end.
  m.gaindb = gain;
  m.fadefrom = 2 * MG_RATE + MG_RATE / 2;
  m.fadeto = 4 * MG_RATE;
  copy = mix;
  mg_master_song(&copy, &m, &faded, &r);
  ASSERT_EQ(faded.size(), plain.size());
  EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + 2 * m.fadefrom, faded.begin())) << "before the fade";
  // Silence from a frame deep in the fade on, and not a sample after it.
  EXPECT_GT(r.silentfrom, m.fadefrom + (m.fadeto - m.fadefrom) / 2);
  EXPECT_LE(r.silentfrom, m.fadeto);
  EXPECT_TRUE(std::all_of(faded.begin() + 2 * r.silentfrom, faded.end(), [](int16_t v) { return v == 0; }));
  EXPECT_NE(faded[2 * (size_t)(r.silentfrom - 1)] | faded[2 * (size_t)(r.silentfrom - 1) + 1], 0)
      << "the silence starts with the first silent frame";
  // What the cut leaves out is at most a whisper: the unfaded samples times
  // the fade's raised cosine stay below -48 dBFS (128 steps, and one for rounding) after it.
  const int64_t length = m.fadeto - m.fadefrom;
  double leftout = 0.0;
  for (int64_t n = r.silentfrom; n < m.fadeto; ++n) {
    const double k = 0.5 + 0.5 * std::cos(M_PI * (double)(n - m.fadefrom + 1) / (double)length);
    for (int c = 0; c < 2; ++c) leftout = std::max(leftout, std::fabs(plain[2 * (size_t)n + c] * k));
  }
  EXPECT_LE(leftout, 129.0);
  EXPECT_GT(r.silentfrom, m.fadefrom + length * 3 / 4) << "and it is not cut early";
  // The fade only deepens, 100 ms after 100 ms, whatever the music does under it.
  double previous = 0.0;
  for (int64_t a = m.fadefrom; a + MG_RATE / 10 <= r.silentfrom; a += MG_RATE / 10) {
    const double depth = rms_db(faded, a, a + MG_RATE / 10) - rms_db(plain, a, a + MG_RATE / 10);
    EXPECT_LE(depth, previous + 0.05) << (double)a / MG_RATE << " s";
    previous = depth;
  }
  EXPECT_LT(previous, -20.0);
}

TEST(MusicgenEnding, TheScoreFadesTheSongOutOnce) {
  const char* instruments = "instrument pad synth\n";
  auto sequence = [&](const std::string& song, s_mgsong* out) {
    s_mgscore score;
    int ok = 0;
    const std::string printed = test_util::capture_stdout([&] {
      ok = mg_score_parse((std::string(instruments) + song).c_str(), "t.score", "", &score) &&
           mg_sequence(&score, {0, 128}, out);
    });
    return ok ? std::string() : printed;
  };
  s_mgsong song;
  EXPECT_EQ(sequence("section a event=0\n  fade bars=2.5-3.75\nsection b event=1 bars=2\n", &song), "");
  EXPECT_EQ(song.fadefrom, (int64_t)80 * MG_TICK_FRAMES);
  EXPECT_EQ(song.fadeto, (int64_t)120 * MG_TICK_FRAMES);
  EXPECT_EQ(sequence("section a event=0\nsection b event=1 bars=2\n", &song), "");
  EXPECT_EQ(song.fadeto, -1) << "no fade unless the score says so";
  EXPECT_NE(sequence("section a event=0\n  fade\nsection b event=1 bars=1\n", &song).find("fade needs bars="),
            std::string::npos);
  EXPECT_NE(sequence("section a event=0\n  fade bars=1-2\nsection b event=1 bars=2\n  fade bars=0-1\n", &song)
                .find("the song fades out once"),
            std::string::npos);
  // The master gain, in dB, as precise as written.
  s_mgscore score;
  ASSERT_EQ(mg_score_parse("mix gain=-8.2614094\n", "t.score", "", &score), 1);
  EXPECT_EQ(score.mix.gain, -8.2614094);
  ASSERT_EQ(mg_score_parse("mix target=-14\n", "t.score", "", &score), 1);
  EXPECT_TRUE(std::isnan(score.mix.gain)) << "measured unless given";
  test_util::capture_stdout([&] { EXPECT_EQ(mg_score_parse("mix gain=loud\n", "t.score", "", &score), 0); });
}
