// musicgen: the synthesiser's building blocks, checked on rendered buffers.
//
// Oscillators (pitch and band limit), the envelope's shape, the filters'
// responses, the delay and reverb, the sidechain ducker, the drums, the
// bass's sub-octave floor, the master's tone, the mastering meters and
// limiter, the WAV file both ways, and the report's measures on signals
// whose answers are known. Spectra are measured with a Hann-windowed DFT
// at the frequencies of interest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/core.h"
#include "musicgen.h"
#include "test_util.h"

namespace {

// Magnitude of x at f (Hz), Hann window; a full-scale sine gives about n / 4.
double dft_mag(const std::vector<float>& x, double f) {
  double re = 0.0, im = 0.0;
  const size_t n = x.size();
  for (size_t i = 0; i < n; ++i) {
    double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * (double)i / (double)(n - 1));
    double ph = 2.0 * M_PI * f * (double)i / MG_RATE;
    re += x[i] * w * std::cos(ph);
    im -= x[i] * w * std::sin(ph);
  }
  return std::sqrt(re * re + im * im);
}

double db(double ratio) {
  return 20.0 * std::log10(std::max(ratio, 1e-12));
}

std::vector<float> render_osc(int wave, float freq, bool naive, int frames = MG_RATE) {
  s_mgosc o;
  mg_osc_init(&o, wave, freq, 0.0f);
  std::vector<float> x((size_t)frames);
  for (float& v : x) v = naive ? mg_osc_next_naive(&o) : mg_osc_next(&o);
  return x;
}

// Frequency from upward zero crossings, interpolated between frames.
double crossing_frequency(const std::vector<float>& x) {
  double first = -1.0, last = -1.0;
  int count = 0;
  for (size_t i = 1; i < x.size(); ++i) {
    if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
      double t = (double)(i - 1) + x[i - 1] / (double)(x[i - 1] - x[i]);
      if (first < 0.0) first = t;
      else ++count;
      last = t;
    }
  }
  return count > 0 ? count * MG_RATE / (last - first) : 0.0;
}

// The loudest alias (a folded harmonic that does not land on a harmonic) below
// `limit` Hz, relative to the fundamental, in dB.
double worst_alias_db(const std::vector<float>& x, double f0, double limit) {
  double fund = dft_mag(x, f0), worst = 0.0;
  for (int k = 2; k < 80; ++k) {
    double h = k * f0;
    if (h < MG_RATE / 2.0) continue;
    double a = std::fmod(h, (double)MG_RATE);
    if (a > MG_RATE / 2.0) a = MG_RATE - a;
    double r = a / f0;
    if (a < 50.0 || a > limit || std::fabs(r - std::round(r)) < 0.02) continue;
    worst = std::max(worst, dft_mag(x, a));
  }
  return db(worst / fund);
}

std::vector<float> stereo_sine(double freq, double amp, double phase, int frames) {
  std::vector<float> x((size_t)frames * 2);
  for (int i = 0; i < frames; ++i) {
    float v = (float)(amp * std::sin(2.0 * M_PI * freq * i / MG_RATE + phase));
    x[2 * (size_t)i] = x[2 * (size_t)i + 1] = v;
  }
  return x;
}

// Renders one note of an instrument to completion (or `limit` frames).
// A plain sine synth with its filter wide open.
s_mginstrument sine_synth() {
  s_mginstrument ins;
  mg_instrument_defaults(&ins, MG_ENGINE_SYNTH);
  ins.p[MG_P_WAVE] = MG_WAVE_SINE;
  ins.p[MG_P_CUTOFF] = 18000.0f;
  return ins;
}

std::vector<float> render_note(const s_mginstrument& ins, float pitch, float seconds, int* framesUntilDone,
                               int limit = 5 * MG_RATE) {
  s_mgnote note{0, 0, (int64_t)(seconds * MG_RATE), pitch, 0.9f, 0};
  s_mgvoice* v = new s_mgvoice();
  mg_voice_start(v, &ins, &note, 1234u);
  std::vector<float> l((size_t)limit, 0.0f), r((size_t)limit, 0.0f);
  int done = -1;
  for (int b = 0; b < limit && v->active; b += MG_BLOCK) {
    int n = std::min(MG_BLOCK, limit - b);
    mg_voice_render(v, &ins, 0.0f, l.data() + b, r.data() + b, n);
    if (!v->active) done = b + n;
  }
  delete v;
  if (framesUntilDone) *framesUntilDone = done;
  return l;
}

// Share of the energy above the split frequency (Hz): what a 12 dB/octave
// high-pass keeps.
double high_share(const std::vector<float>& x, float split) {
  s_mgsvf hp;
  mg_svf_init(&hp, MG_FILTER_HP);
  mg_svf_set(&hp, split, 0.0f);
  double hi = 0.0, all = 0.0;
  for (float v : x) {
    float h = mg_svf_next(&hp, v);
    hi += (double)h * h;
    all += (double)v * v;
  }
  return all > 0.0 ? hi / all : 0.0;
}

}  // namespace

// ---- Oscillators --------------------------------------------------------------------

TEST(MusicgenOscillator, EveryWaveformPlaysItsFrequency) {
  for (int wave : {MG_WAVE_SAW, MG_WAVE_SQUARE, MG_WAVE_TRI, MG_WAVE_SINE}) {
    for (float f : {55.0f, 440.0f, 1318.5f, 3520.0f}) {
      double measured = crossing_frequency(render_osc(wave, f, false));
      EXPECT_NEAR(measured, f, f * 2e-4) << "wave " << wave << " at " << f << " Hz";
    }
  }
  EXPECT_FLOAT_EQ(mg_note_hz(69.0f), 440.0f);
  EXPECT_NEAR(mg_note_hz(81.0f), 880.0f, 1e-3);
  EXPECT_NEAR(mg_note_hz(57.0f), 220.0f, 1e-3);
}

TEST(MusicgenOscillator, SawAndSquareAreBandLimited) {
  // In the audible band the aliases of the corrected waveforms stay more than
  // 50 dB under the fundamental, where the naive ones are only about 20 dB down.
  for (int wave : {MG_WAVE_SAW, MG_WAVE_SQUARE}) {
    for (float f : {1000.0f, 2500.0f}) {
      double good = worst_alias_db(render_osc(wave, f, false), f, 15000.0);
      double naive = worst_alias_db(render_osc(wave, f, true), f, 15000.0);
      EXPECT_LT(good, -50.0) << "wave " << wave << " at " << f << " Hz";
      EXPECT_LT(good, naive - 25.0) << "wave " << wave << " at " << f << " Hz";
    }
  }
}

TEST(MusicgenOscillator, HarmonicsKeepTheirLevelsAndTheStepIsContinuous) {
  // A saw's harmonics fall as 1/k; the band-limiting must not eat them.
  std::vector<float> saw = render_osc(MG_WAVE_SAW, 440.0f, false);
  double f1 = dft_mag(saw, 440.0);
  EXPECT_NEAR(db(dft_mag(saw, 880.0) / f1), db(0.5), 0.5);
  EXPECT_NEAR(db(dft_mag(saw, 2200.0) / f1), db(0.2), 0.5);
  // A square has no even harmonics.
  std::vector<float> sq = render_osc(MG_WAVE_SQUARE, 440.0f, false);
  EXPECT_LT(db(dft_mag(sq, 880.0) / dft_mag(sq, 440.0)), -50.0);
  // The step residual is continuous, worth half the jump at the jump, and gone at 2 frames.
  EXPECT_NEAR(mg_blep4(-1e-6f) - mg_blep4(0.0f), 1.0f, 1e-4) << "the residual undoes a jump of 1";
  EXPECT_NEAR(mg_blep4(-1e-6f), 0.5f, 1e-5);
  EXPECT_NEAR(mg_blep4(0.0f), -0.5f, 1e-5);
  EXPECT_NEAR(mg_blep4(-1.999f), 0.0f, 1e-6);
  EXPECT_NEAR(mg_blep4(1.999f), 0.0f, 1e-6);
  EXPECT_NEAR(mg_blep4(-1.0f), 1.0f / 24.0f, 1e-6);
  // Output stays inside a sane range.
  for (float v : saw) ASSERT_LE(std::fabs(v), 1.2f);
}

TEST(MusicgenNoise, IsDeterministicAndUniform) {
  s_mgrand a, b;
  mg_rand_seed(&a, 7);
  mg_rand_seed(&b, 7);
  double sum = 0.0, sq = 0.0;
  for (int i = 0; i < 100000; ++i) {
    float x = mg_rand_bi(&a);
    ASSERT_EQ(x, mg_rand_bi(&b));
    ASSERT_GE(x, -1.0f);
    ASSERT_LT(x, 1.0f);
    sum += x;
    sq += (double)x * x;
  }
  EXPECT_NEAR(sum / 100000, 0.0, 0.01);
  EXPECT_NEAR(sq / 100000, 1.0 / 3.0, 0.01);  // variance of a uniform -1..1
  s_mgrand z;
  mg_rand_seed(&z, 0);
  EXPECT_NE(z.state, 0u) << "xorshift would be stuck at zero";
}

// ---- Envelopes ------------------------------------------------------------------------------

TEST(MusicgenEnvelope, FollowsAttackDecaySustainRelease) {
  const float attack = 0.01f, decay = 0.1f, sustain = 0.5f, release = 0.2f;
  s_mgenv e;
  mg_env_init(&e, attack, decay, sustain, release);
  const int a = (int)(attack * MG_RATE), d = (int)(decay * MG_RATE), r = (int)(release * MG_RATE);
  std::vector<float> y;
  for (int i = 0; i < a + d + MG_RATE / 10; ++i) y.push_back(mg_env_next(&e));
  EXPECT_NEAR(y[(size_t)a / 2 - 1], 0.5f, 0.01f) << "linear attack";
  EXPECT_NEAR(y[(size_t)a - 1], 1.0f, 1e-3f) << "peak at the end of the attack";
  for (int i = 1; i < a; ++i) ASSERT_GT(y[(size_t)i], y[(size_t)i - 1]);
  EXPECT_NEAR(y[(size_t)(a + d)], sustain + 0.01f * (1.0f - sustain), 0.004f) << "99% of the decay after its time";
  EXPECT_FLOAT_EQ(y.back(), sustain);
  EXPECT_EQ(e.stage, MG_ENV_SUSTAIN);
  mg_env_release(&e);
  float prev = y.back();
  for (int i = 0; i < r; ++i) {
    float v = mg_env_next(&e);
    ASSERT_LE(v, prev);
    prev = v;
  }
  EXPECT_NEAR(prev, 0.01f * sustain, 0.002f) << "99% of the release after its time";
  int extra = 0;
  while (e.stage != MG_ENV_DONE && extra < 10 * MG_RATE) mg_env_next(&e), ++extra;
  EXPECT_EQ(e.stage, MG_ENV_DONE) << "the release ends";
  EXPECT_LT(extra, 2 * r);
  EXPECT_EQ(mg_env_next(&e), 0.0f);
}

TEST(MusicgenEnvelope, ReleaseDuringAttackFallsFromWhereItIs) {
  s_mgenv e;
  mg_env_init(&e, 0.1f, 0.1f, 0.8f, 0.05f);
  float v = 0.0f;
  for (int i = 0; i < MG_RATE / 40; ++i) v = mg_env_next(&e);  // a quarter of the attack
  EXPECT_NEAR(v, 0.25f, 0.01f);
  mg_env_release(&e);
  float next = mg_env_next(&e);
  EXPECT_LT(next, v);
  EXPECT_GT(next, 0.9f * v) << "no jump to zero or to the peak";
}

// ---- Filters ------------------------------------------------------------------------------------

namespace {

double filter_gain_db(int type, float cutoff, float res, double freq) {
  s_mgsvf f;
  mg_svf_init(&f, type);
  mg_svf_set(&f, cutoff, res);
  const int n = MG_RATE / 2;
  double in = 0.0, out = 0.0;
  for (int i = 0; i < n; ++i) {
    float x = (float)std::sin(2.0 * M_PI * freq * i / MG_RATE);
    float y = mg_svf_next(&f, x);
    if (i >= n / 2) in += (double)x * x, out += (double)y * y;  // after the filter settles
  }
  return 10.0 * std::log10(out / in);
}

}  // namespace

TEST(MusicgenFilter, LowpassHighpassAndBandpassShapes) {
  EXPECT_NEAR(filter_gain_db(MG_FILTER_LP, 1000.0f, 0.0f, 100.0), 0.0, 0.2);
  EXPECT_NEAR(filter_gain_db(MG_FILTER_LP, 1000.0f, 0.0f, 1000.0), -3.0, 0.5) << "-3 dB at the cutoff";
  EXPECT_LT(filter_gain_db(MG_FILTER_LP, 1000.0f, 0.0f, 10000.0), -38.0) << "12 dB per octave";
  EXPECT_NEAR(filter_gain_db(MG_FILTER_HP, 1000.0f, 0.0f, 10000.0), 0.0, 0.2);
  EXPECT_LT(filter_gain_db(MG_FILTER_HP, 1000.0f, 0.0f, 100.0), -38.0);
  EXPECT_GT(filter_gain_db(MG_FILTER_BP, 1000.0f, 0.5f, 1000.0),
            filter_gain_db(MG_FILTER_BP, 1000.0f, 0.5f, 250.0) + 10.0);
  // Resonance raises a peak at the cutoff.
  EXPECT_GT(filter_gain_db(MG_FILTER_LP, 1000.0f, 0.9f, 1000.0), 12.0);
  EXPECT_LT(filter_gain_db(MG_FILTER_LP, 1000.0f, 0.9f, 100.0), 0.5);
}

TEST(MusicgenFilter, StaysStableWhenTheCutoffJumpsEveryFrame) {
  s_mgsvf f;
  mg_svf_init(&f, MG_FILTER_LP);
  s_mgrand r;
  mg_rand_seed(&r, 3);
  float peak = 0.0f;
  for (int i = 0; i < MG_RATE; ++i) {
    mg_svf_set(&f, 20.0f + 20000.0f * mg_rand_uni(&r), 0.95f);
    float y = mg_svf_next(&f, mg_rand_bi(&r));
    ASSERT_TRUE(std::isfinite(y));
    peak = std::max(peak, std::fabs(y));
  }
  EXPECT_LT(peak, 100.0f);
  // Out-of-range settings are clamped instead of producing NaN.
  mg_svf_set(&f, std::nanf(""), 5.0f);
  EXPECT_TRUE(std::isfinite(mg_svf_next(&f, 1.0f)));
  mg_svf_set(&f, 1e9f, -1.0f);
  EXPECT_TRUE(std::isfinite(mg_svf_next(&f, 1.0f)));
}

// ---- Delay, reverb, ducker --------------------------------------------------------------------------

TEST(MusicgenEffects, PingPongEchoesBounceBetweenTheSides) {
  const int d = 6 * MG_TICK_FRAMES;  // a dotted eighth
  s_mgpingpong p;
  mg_pingpong_init(&p, d, 0.5f, 20000.0f, 1.0f);
  const int n = 4 * d + 10;
  std::vector<float> inl((size_t)n, 0.0f), inr((size_t)n, 0.0f), outl((size_t)n), outr((size_t)n);
  inl[0] = inr[0] = 1.0f;
  mg_pingpong_process(&p, inl.data(), inr.data(), outl.data(), outr.data(), n);
  auto argmax = [](const std::vector<float>& v, int from, int to) {
    int best = from;
    for (int i = from; i < to; ++i)
      if (std::fabs(v[(size_t)i]) > std::fabs(v[(size_t)best])) best = i;
    return best;
  };
  // First echo on the left after one delay, then the right, then the left again, each softer.
  int l1 = argmax(outl, 0, d + d / 2), r1 = argmax(outr, 0, 2 * d + d / 2), l2 = argmax(outl, d + d / 2, 3 * d + d / 2);
  EXPECT_NEAR(l1, d + 1, 3);
  EXPECT_NEAR(r1, 2 * d + 2, 4);
  EXPECT_NEAR(l2, 3 * d + 3, 6);
  EXPECT_NEAR(std::fabs(outr[(size_t)r1]) / std::fabs(outl[(size_t)l1]), 0.5, 0.05) << "feedback per bounce";
  EXPECT_LT(std::fabs(outr[(size_t)l1]), 1e-6f) << "the first echo is on one side only";
}

TEST(MusicgenEffects, ReverbTailIsWideAndDecays) {
  s_mgreverb rv;
  mg_reverb_init(&rv, 0.8f, 0.3f, 0.02f);
  const int n = 4 * MG_RATE;
  std::vector<float> inl((size_t)n, 0.0f), inr((size_t)n, 0.0f), outl((size_t)n), outr((size_t)n);
  for (int i = 0; i < 64; ++i) inl[(size_t)i] = inr[(size_t)i] = (i & 1) ? -1.0f : 1.0f;
  mg_reverb_process(&rv, inl.data(), inr.data(), outl.data(), outr.data(), n);
  double early = 0.0, late = 0.0, cross = 0.0, ll = 0.0, rr = 0.0;
  for (int i = 0; i < n; ++i) {
    ASSERT_TRUE(std::isfinite(outl[(size_t)i]));
    if (i < MG_RATE / 2) early += (double)outl[(size_t)i] * outl[(size_t)i];
    if (i >= 3 * MG_RATE) late += (double)outl[(size_t)i] * outl[(size_t)i];
    cross += (double)outl[(size_t)i] * outr[(size_t)i];
    ll += (double)outl[(size_t)i] * outl[(size_t)i];
    rr += (double)outr[(size_t)i] * outr[(size_t)i];
  }
  EXPECT_GT(early, 0.0);
  EXPECT_LT(10.0 * std::log10(late / early), -30.0) << "the tail dies away";
  EXPECT_LT(std::fabs(cross) / std::sqrt(ll * rr), 0.5) << "left and right are decorrelated";
  // Nothing comes out before the pre-delay.
  for (int i = 0; i < (int)(0.02f * MG_RATE) - 1; ++i) ASSERT_EQ(outl[(size_t)i], 0.0f);
}

TEST(MusicgenEffects, DuckerPullsDownOnTheKeyAndRecovers) {
  s_mgducker d;
  mg_ducker_init(&d, -18.0f, 8.0f, 0.001f, 0.05f);
  const int n = MG_RATE;
  std::vector<float> key((size_t)n, 0.0f), gain((size_t)n);
  for (int i = 0; i < MG_RATE / 10; ++i) key[(size_t)i] = 0.9f * std::exp(-(float)i / (0.05f * MG_RATE));
  mg_ducker_process(&d, key.data(), key.data(), gain.data(), n);
  float lowest = *std::min_element(gain.begin(), gain.end());
  EXPECT_LT(lowest, 0.3f) << "a loud kick ducks hard";
  EXPECT_GT(lowest, 0.0f);
  EXPECT_FLOAT_EQ(gain.back(), 1.0f) << "back to unity once the key is gone";
  for (float g : gain) ASSERT_LE(g, 1.0f);
  // A key under the threshold does nothing.
  mg_ducker_init(&d, -18.0f, 8.0f, 0.001f, 0.05f);
  std::fill(key.begin(), key.end(), 0.05f);
  mg_ducker_process(&d, key.data(), key.data(), gain.data(), n);
  EXPECT_EQ(*std::min_element(gain.begin(), gain.end()), 1.0f);
}

// ---- Instruments ------------------------------------------------------------------------------------------

TEST(MusicgenDrums, EachDrumSitsInItsRegisterAndEnds) {
  s_mginstrument kick, snare, hat, clap;
  mg_instrument_defaults(&kick, MG_ENGINE_KICK);
  mg_instrument_defaults(&snare, MG_ENGINE_SNARE);
  mg_instrument_defaults(&hat, MG_ENGINE_HAT);
  mg_instrument_defaults(&clap, MG_ENGINE_CLAP);
  int kd, sd, hd, cd;
  std::vector<float> k = render_note(kick, 60, 0.1f, &kd);
  std::vector<float> s = render_note(snare, 60, 0.1f, &sd);
  std::vector<float> h = render_note(hat, 60, 0.1f, &hd);
  std::vector<float> c = render_note(clap, 60, 0.1f, &cd);
  EXPECT_LT(high_share(k, 300.0f), 0.1) << "the kick is low";
  EXPECT_GT(high_share(h, 5000.0f), 0.8) << "the hat is high";
  EXPECT_GT(high_share(s, 300.0f), 0.3);
  EXPECT_LT(high_share(s, 5000.0f), 0.5) << "the snare sits in between";
  EXPECT_GT(high_share(c, 500.0f), 0.6);
  // Every drum dies away by itself, in about its decay time.
  EXPECT_GT(kd, 0);
  EXPECT_LT(kd, MG_RATE);
  EXPECT_GT(hd, 0);
  EXPECT_LT(hd, MG_RATE / 5) << "a closed hat is short";
  EXPECT_GT(sd, 0);
  EXPECT_GT(cd, 0);
  // The kick's pitch falls: more low-frequency energy late than early.
  std::vector<float> early(k.begin(), k.begin() + 2048), late(k.begin() + 8192, k.begin() + 8192 + 2048);
  EXPECT_GT(high_share(early, 80.0f), high_share(late, 80.0f));
}

TEST(MusicgenVoices, SynthPlaysTheNoteAndReleasesAfterTheGate) {
  s_mginstrument ins = sine_synth();
  ins.p[MG_P_RELEASE] = 0.05f;
  int done;
  std::vector<float> x = render_note(ins, 69.0f, 0.5f, &done);
  std::vector<float> held(x.begin() + MG_RATE / 10, x.begin() + MG_RATE / 10 + MG_RATE / 4);
  EXPECT_NEAR(crossing_frequency(held), 440.0, 0.2);
  EXPECT_GT(done, MG_RATE / 2) << "sounds until the gate";
  EXPECT_LT(done, MG_RATE / 2 + MG_RATE / 5) << "then the release ends it";
  // FM with its index decaying: bright at the start, nearly a sine later.
  s_mginstrument fm;
  mg_instrument_defaults(&fm, MG_ENGINE_FM);
  fm.p[MG_P_INDEX] = 3.0f;
  fm.p[MG_P_IDECAY] = 0.05f;
  fm.p[MG_P_ISUSTAIN] = 0.0f;
  fm.p[MG_P_DECAY] = 2.0f;
  std::vector<float> y = render_note(fm, 60.0f, 1.0f, nullptr);
  std::vector<float> a(y.begin(), y.begin() + 1024), b(y.begin() + MG_RATE / 2, y.begin() + MG_RATE / 2 + 4096);
  EXPECT_GT(high_share(a, 600.0f), 3.0 * high_share(b, 600.0f));
}

// ---- Mastering ------------------------------------------------------------------------------------------------

TEST(MusicgenMaster, MetersReadKnownSignals) {
  // A stereo 997 Hz sine with peaks at -23 dBFS reads -23 LUFS.
  std::vector<float> tone = stereo_sine(997.0, std::pow(10.0, -23.0 / 20.0), 0.0, 20 * MG_RATE);
  EXPECT_NEAR(mg_loudness(tone.data(), 20 * MG_RATE), -23.0, 0.1);
  // Silence after it is gated out.
  std::vector<float> withSilence = tone;
  withSilence.resize(tone.size() * 2, 0.0f);
  EXPECT_NEAR(mg_loudness(withSilence.data(), 40 * MG_RATE), -23.0, 0.1);
  std::vector<float> silence((size_t)MG_RATE * 4, 0.0f);
  EXPECT_LE(mg_loudness(silence.data(), 2 * MG_RATE), -100.0);
  // A quarter-rate sine sampled 45 degrees off its peaks: samples at 0.707, true peak 1.
  std::vector<float> q = stereo_sine(MG_RATE / 4.0, 1.0, M_PI / 4.0, MG_RATE);
  EXPECT_NEAR(mg_samplepeak(q.data(), MG_RATE), 0.7071, 1e-3);
  EXPECT_NEAR(mg_truepeak(q.data(), MG_RATE), 1.0, 0.02);
}

TEST(MusicgenMaster, LimiterHoldsTheTruePeakCeiling) {
  const float ceiling = std::pow(10.0f, -1.0f / 20.0f);
  // Loud inter-sample peaks, then a quiet passage, then a lone spike after silence.
  std::vector<float> x = stereo_sine(MG_RATE / 4.0, 1.0, M_PI / 4.0, MG_RATE);
  std::vector<float> quiet = stereo_sine(440.0, 0.1, 0.0, MG_RATE);
  x.insert(x.end(), quiet.begin(), quiet.end());
  x.resize(x.size() + (size_t)MG_RATE, 0.0f);
  const int64_t spike = (int64_t)x.size() / 2 - MG_RATE / 2;
  x[2 * (size_t)spike] = 0.9f;
  const int64_t frames = (int64_t)x.size() / 2;
  std::vector<float> y(x.size());
  mg_limit(x.data(), y.data(), frames, 2.0f, ceiling, 0.0015f, 0.08f);
  EXPECT_LE(mg_truepeak(y.data(), frames), ceiling);
  EXPECT_LE(std::fabs(y[2 * (size_t)spike]), ceiling) << "the look-ahead catches a lone spike";
  EXPECT_GT(std::fabs(y[2 * (size_t)spike]), 0.8f * ceiling) << "without crushing it";
  // The quiet passage (0.2 after the gain) passes untouched once the release is over.
  for (int64_t n = MG_RATE + MG_RATE * 8 / 10; n < 2 * MG_RATE - 100; ++n)
    ASSERT_NEAR(y[2 * (size_t)n], 2.0f * x[2 * (size_t)n], 1e-4f) << n;
  // In place works too.
  mg_limit(x.data(), x.data(), frames, 2.0f, ceiling, 0.0015f, 0.08f);
  EXPECT_EQ(x, y);
}

TEST(MusicgenMaster, MasteringHitsTheTargetWithoutClipping) {
  // A dense test mix: a saw chord with a pulsing kick-like low sine, too loud.
  const int frames = 12 * MG_RATE;
  std::vector<float> mix((size_t)frames * 2);
  s_mgosc a, b;
  mg_osc_init(&a, MG_WAVE_SAW, 220.0f, 0.0f);
  mg_osc_init(&b, MG_WAVE_SAW, 277.2f, 0.3f);
  for (int i = 0; i < frames; ++i) {
    float beat = std::exp(-(float)(i % 22050) / 3000.0f);
    float v = 0.6f * mg_osc_next(&a) + 0.5f * mg_osc_next(&b) + 1.5f * beat * std::sin(2.0f * MG_PI * 55.0f * i / MG_RATE);
    mix[2 * (size_t)i] = v;
    mix[2 * (size_t)i + 1] = 0.8f * v;
  }
  std::vector<int16_t> pcm;
  s_mgmasterreport rep;
  mg_master(&mix, -14.0f, -1.5f, 1.0f, &pcm, &rep);
  ASSERT_EQ(pcm.size(), mix.size());
  EXPECT_NEAR(rep.lufs, -14.0, 0.3);
  EXPECT_LE(rep.truepeakdb, -1.0);
  EXPECT_EQ(rep.clipped, 0);
  EXPECT_EQ(pcm[pcm.size() - 1], 0) << "the fade ends on silence";
  EXPECT_EQ(pcm[pcm.size() - 2], 0);
}

TEST(MusicgenWav, WritesTheSoundSystemsHeaderAndLittleEndianSamples) {
  const int16_t stereo[] = {0x1234, -2, 32767, -32768};
  ASSERT_EQ(mg_wav_write("musicgen_wav_test.wav", stereo, 2), 1);
  std::ifstream in("musicgen_wav_test.wav", std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(file.size(), 44u + 8);
  const uint8_t* h = reinterpret_cast<const uint8_t*>(file.data());
  EXPECT_EQ(file.substr(0, 4), "RIFF");
  EXPECT_EQ(file.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(file.substr(36, 4), "data");
  EXPECT_EQ(core_getle32(h + 4), 8u + 36);
  EXPECT_EQ(core_getle16(h + 20), 1u) << "PCM";
  EXPECT_EQ(core_getle16(h + 22), 2u);
  EXPECT_EQ(core_getle32(h + 24), 44100u);
  EXPECT_EQ(core_getle32(h + 28), 44100u * 4);
  EXPECT_EQ(core_getle16(h + 32), 4u);
  EXPECT_EQ(core_getle16(h + 34), 16u);
  EXPECT_EQ(core_getle32(h + 40), 8u);
  const uint8_t samples[8] = {0x34, 0x12, 0xFE, 0xFF, 0xFF, 0x7F, 0x00, 0x80};
  EXPECT_EQ(std::memcmp(h + 44, samples, 8), 0) << "low byte first, frames left before right";
  std::remove("musicgen_wav_test.wav");
  std::string out = test_util::capture_stdout(
      [] { EXPECT_EQ(mg_wav_write("/nonexistent-dir/x.wav", nullptr, 0), 0) << "an unwritable path is reported"; });
  EXPECT_NE(out.find("musicgen: cannot write /nonexistent-dir/x.wav"), std::string::npos) << out;
}

TEST(MusicgenWav, ReadsBackWhatItWritesAndRefusesOtherFiles) {
  const int16_t stereo[] = {0x1234, -2, 32767, -32768};
  ASSERT_EQ(mg_wav_write("musicgen_wav_read.wav", stereo, 2), 1);
  std::vector<float> back;
  ASSERT_EQ(mg_wav_read("musicgen_wav_read.wav", &back), 1);
  ASSERT_EQ(back.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(back[(size_t)i], stereo[i] / 32768.0f) << i;
  std::ifstream in("musicgen_wav_read.wav", std::ios::binary);
  const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  struct Bad {
    const char* what;
    std::string bytes;
    const char* message;
  };
  std::string mono = good, shortdata = good;
  mono[22] = 1;
  shortdata.resize(good.size() - 2);
  const Bad bad[] = {{"a header cut short", good.substr(0, 30), "is not a 44100 Hz 16-bit stereo WAV"},
                     {"one channel", mono, "is not a 44100 Hz 16-bit stereo WAV"},
                     {"samples cut short", shortdata, "ends before its 8 data bytes"}};
  for (const Bad& b : bad) {
    std::ofstream("musicgen_wav_read.wav", std::ios::binary) << b.bytes;
    std::string out = test_util::capture_stdout([&] { EXPECT_EQ(mg_wav_read("musicgen_wav_read.wav", &back), 0) << b.what; });
    EXPECT_NE(out.find(b.message), std::string::npos) << b.what << ": " << out;
  }
  std::remove("musicgen_wav_read.wav");
  std::string out = test_util::capture_stdout([&] { EXPECT_EQ(mg_wav_read("/nonexistent-dir/x.wav", &back), 0); });
  EXPECT_NE(out.find("musicgen: cannot read /nonexistent-dir/x.wav"), std::string::npos) << out;
}

// ---- The low end and the master's tone -------------------------------------------------------------------------

TEST(MusicgenVoices, ASubOctaveUnderE1PlaysAnOctaveUp) {
  // A sine with a sine sub: periodic at the sub's period, unless the sub
  // would fall under E1 (41.2 Hz) and is folded onto the note itself.
  s_mginstrument ins = sine_synth();
  ins.p[MG_P_SUB] = 1.0f;
  struct Case {
    float note;
    bool folded;
  };
  // A1 (55 Hz) would put its sub at 27.5 Hz; E2's sub is E1 itself; A2's is A1.
  for (const Case& c : {Case{33.0f, true}, Case{40.0f, false}, Case{45.0f, false}}) {
    std::vector<float> x = render_note(ins, c.note, 1.0f, nullptr);
    std::vector<float> held(x.begin() + MG_RATE / 4, x.begin() + MG_RATE / 4 + MG_RATE / 2);
    const double f = mg_note_hz(c.note);
    const double sub = dft_mag(held, f / 2.0), note = dft_mag(held, f);
    if (c.folded) {
      EXPECT_LT(sub, 0.01 * note) << c.note << ": nothing under the note";
    } else {
      EXPECT_GT(sub, 0.5 * note) << c.note << ": the sub an octave down";
    }
  }
}

TEST(MusicgenMixer, TheMastersAirAndMidCutShapeTheMix) {
  // A sine through the whole mixer, with and without the master's tone.
  struct Case {
    const char* note;
    float air, mud;
    double lo, hi;  // dB the tone gains
  };
  const Case cases[] = {{"G2", 4.0f, -3.0f, -0.3, 0.3},   // 98 Hz: under both
                        {"C#5", 0.0f, -3.0f, -3.3, -2.7}, // 554 Hz: the middle of the cut
                        {"D#9", 4.0f, 0.0f, 2.0, 4.0}};   // 9956 Hz: above the shelf's midpoint, under its top
  for (const Case& c : cases) {
    auto level = [&](float air, float mud) {
      std::string text = "instrument tone synth wave=sine cutoff=19000 attack=0.001 sustain=1 velsens=0\n"
                         "pattern one step=32\n  " + std::string(c.note) + "\n"
                         "section a event=0 bars=1\n  play tone one\n";
      s_mgscore score;
      s_mgsong song;
      test_util::capture_stdout([&] {
        EXPECT_EQ(mg_score_parse(text.c_str(), "t.score", "", &score), 1);
        EXPECT_EQ(mg_sequence(&score, {0}, &song), 1);
      });
      score.mix.airdb = air;
      score.mix.muddb = mud;
      std::vector<float> out;
      mg_render(&score, &song, 0, song.frames, &out);
      return 20.0 * std::log10(mg_samplepeak(out.data() + MG_RATE / 2 * 2, MG_RATE / 2));
    };
    const double gained = level(c.air, c.mud) - level(0.0f, 0.0f);
    EXPECT_GE(gained, c.lo) << c.note;
    EXPECT_LE(gained, c.hi) << c.note;
  }
}

TEST(MusicgenMixer, TheKickDucksTheReturns) {
  // An A5 stab's reverb rings on into bar 1, where a kick (no click, nothing
  // near 880 Hz) hits on the downbeat.
  const char* text =
      "mix roomsize=0.95 damp=0.1 duckthreshold=-30 duckratio=20 duckrelease=0.2\n"
      "instrument tone synth wave=sine cutoff=18000 attack=0.001 sustain=1 release=0.02 velsens=0 reverb=1\n"
      "instrument kick kick key=1 click=0\n"
      "pattern stab step=8\n  A5 . . .\n"
      "pattern hit step=32\n  x\n"
      "section a event=0 bars=2\n  play tone stab bars=0-1\n  play kick hit bars=1-2\n";
  auto tail = [&](float duckreturns, double from, double to) {
    s_mgscore score;
    s_mgsong song;
    test_util::capture_stdout([&] {
      EXPECT_EQ(mg_score_parse(text, "t.score", "", &score), 1);
      EXPECT_EQ(mg_sequence(&score, {0}, &song), 1);
    });
    score.mix.duckreturns = duckreturns;
    std::vector<float> out;
    mg_render(&score, &song, 0, song.frames, &out);
    const int64_t bar = MG_TICKS_PER_BAR * MG_TICK_FRAMES;
    std::vector<float> left;
    for (int64_t i = bar + (int64_t)(from * MG_RATE); i < bar + (int64_t)(to * MG_RATE); ++i)
      left.push_back(out[2 * (size_t)i]);
    return dft_mag(left, mg_note_hz(81.0f));
  };
  EXPECT_NEAR(tail(0.9f, -0.1, -0.02) / tail(0.0f, -0.1, -0.02), 1.0, 0.01) << "untouched before the kick";
  EXPECT_LT(tail(0.9f, 0.02, 0.1) / tail(0.0f, 0.02, 0.1), 0.5) << "ducked under it";
}

// ---- Measures of the mastered music ----------------------------------------------------------------------------

TEST(MusicgenReport, ReadsKnownSignals) {
  // Eight bars of one section, a hook of four quarter notes under it.
  s_mgscore score;
  s_mgsong song;
  test_util::capture_stdout([&] {
    ASSERT_EQ(mg_score_parse("instrument tone fm\npattern hook step=8\n  A4 C#5 E5 A5\n"
                             "section a event=0 bars=8\n  play tone hook\n",
                             "t.score", "", &score), 1);
    ASSERT_EQ(mg_sequence(&score, {0}, &song), 1);
  });
  const int64_t beat = 8 * MG_TICK_FRAMES;
  const double hook[4] = {mg_note_hz(69), mg_note_hz(73), mg_note_hz(76), mg_note_hz(81)};
  auto sine = [](double hz, int64_t i) { return std::sin(2.0 * M_PI * hz * (double)i / MG_RATE); };
  struct Case {
    const char* what;
    std::function<float(int64_t frame, int channel)> signal;
    std::function<double(const s_mgsectionreport&)> measure;
    double expected, tolerance;
  };
  const Case cases[] = {
      {"4 kHz 6 dB under 1 kHz", [&](int64_t i, int) { return (float)(0.2 * sine(1000, i) + 0.1 * sine(4000, i)); },
       [](const s_mgsectionreport& r) { return r.bands[MG_REPORT_BAND1K + 2]; }, -6.0, 0.3},
      {"half the power under 40 Hz", [&](int64_t i, int) { return (float)(0.2 * sine(30, i) + 0.2 * sine(1000, i)); },
       [](const s_mgsectionreport& r) { return r.below40; }, 0.5, 0.02},
      {"lows in opposite phase", [&](int64_t i, int ch) { return (float)((ch ? -0.3 : 0.3) * sine(60, i)); },
       [](const s_mgsectionreport& r) { return r.lowcorr; }, -1.0, 0.01},
      {"a 12 dB dip over each beat's first quarter",
       [&](int64_t i, int) { return (float)((i % beat < beat / 4 ? 0.05 : 0.2) * sine(1000, i)); },
       [](const s_mgsectionreport& r) { return r.pumpdb; }, 12.0, 0.5},
      {"the hook's notes", [&](int64_t i, int) { return (float)(0.3 * sine(hook[(i / beat) % 4], i)); },
       [](const s_mgsectionreport& r) { return r.hookmatch; }, 1.0, 0.0},
      {"a tritone off the hook",
       [&](int64_t i, int) { return (float)(0.3 * sine(hook[(i / beat) % 4] * std::sqrt(2.0), i)); },
       [](const s_mgsectionreport& r) { return r.hookmatch; }, 0.0, 0.0},
      {"the hook an octave down",
       [&](int64_t i, int) { return (float)(0.3 * sine(hook[(i / beat) % 4] / 2.0, i)); },
       [](const s_mgsectionreport& r) { return r.hookmatch; }, 0.0, 0.0},
      {"the same bar eight times", [&](int64_t i, int) { return (float)(0.3 * sine(hook[(i / beat) % 4], i)); },
       [](const s_mgsectionreport& r) { return r.repeatbars; }, 7.0, 0.0},
      {"a new note every bar",
       [&](int64_t i, int) { return (float)(0.3 * sine(mg_note_hz(60.0f + 2.0f * (float)(i / (4 * beat))), i)); },
       [](const s_mgsectionreport& r) { return r.repeatbars; }, 0.0, 0.0},
  };
  for (const Case& c : cases) {
    std::vector<float> x((size_t)song.frames * 2);
    for (int64_t i = 0; i < song.frames; ++i)
      for (int ch = 0; ch < 2; ++ch) x[2 * (size_t)i + ch] = c.signal(i, ch);
    std::vector<s_mgsectionreport> report;
    std::vector<s_mgbreath> breaths;
    mg_report(&score, &song, x.data(), song.frames, &report, &breaths);
    ASSERT_EQ(report.size(), 1u);
    EXPECT_NEAR(c.measure(report[0]), c.expected, c.tolerance) << c.what;
  }
}
