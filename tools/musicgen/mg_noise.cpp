// mg_noise: the noise engines.
//
// noise: stereo white noise (width blends independent left and right noise)
//   through a state-variable filter whose cutoff glides exponentially from
//   `cutoff` to `cutoff2` over the note's gate: risers, sweeps, TV static.
//   `crackle` adds sparse random clicks per second on top.
// crowd: the murmur of a party. Each talker is a buzzing glottal source
//   (a band-limited saw with some breath noise) through two formant
//   band-passes; every syllable picks a new vowel, which the formants glide
//   towards, and pauses come at random. Many talkers at different pitches and
//   places in the stereo field, muffled by a lowpass, make a crowd.
//
// Threads: whichever thread renders.
#include <algorithm>
#include <cmath>

#include "musicgen.h"

// ============================================================================
// Constants
// ============================================================================

namespace {

constexpr float kCrackleDecay = 0.55f;      // per frame: a click lasts a few frames
constexpr float kCrackleLevel = 0.7f;       // click level against the noise
constexpr float kFormantRes = 0.82f;        // formant band-pass resonance
constexpr float kFormantGlide = 0.06f;      // share of the way to the target per control step
constexpr float kBreath = 0.35f;            // noise in the glottal source
constexpr float kPauseChance = 0.22f;       // chance that a syllable is a pause
constexpr float kSyllableMin = 0.09f, kSyllableMax = 0.27f;  // seconds
constexpr float kPauseMin = 0.12f, kPauseMax = 0.8f;        // seconds
constexpr float kPitchMin = 95.0f, kPitchMax = 235.0f;      // Hz, the talkers' voices
constexpr float kDeclination = 0.9993f;     // pitch factor per control step within a phrase

// Vowel formants F1, F2 in Hz.
constexpr float kVowels[8][2] = {{730, 1090}, {530, 1840}, {300, 2250}, {570, 840},
                                 {320, 900},  {660, 1720}, {640, 1190}, {500, 1500}};

float lerp(float a, float b, float t) {
  return a + (b - a) * t;
}

void next_syllable(s_mgtalker* tk, s_mgrand* rnd) {
  if (mg_rand_uni(rnd) < kPauseChance) {
    tk->syllablelen = (int)(lerp(kPauseMin, kPauseMax, mg_rand_uni(rnd)) * MG_RATE);
    tk->syllable = -tk->syllablelen;
    return;
  }
  tk->syllablelen = (int)(lerp(kSyllableMin, kSyllableMax, mg_rand_uni(rnd)) * MG_RATE);
  tk->syllable = tk->syllablelen;
  int vowel = (int)(mg_rand_u32(rnd) % 8u);
  tk->t1hz = kVowels[vowel][0] * lerp(0.9f, 1.15f, mg_rand_uni(rnd));
  tk->t2hz = kVowels[vowel][1] * lerp(0.9f, 1.15f, mg_rand_uni(rnd));
}

// Syllable loudness at the current point: a rounded arch, silence in pauses.
float syllable_amp(const s_mgtalker* tk) {
  if (tk->syllable <= 0 || tk->syllablelen <= 0) return 0.0f;
  float x = 1.0f - (float)tk->syllable / (float)tk->syllablelen;
  return std::sqrt(std::max(0.0f, mg_sinef(0.5f * x)));
}

}  // namespace

// ============================================================================
// Public functions: noise
// ============================================================================

void mg_noise_start(s_mgvoice* v, const s_mginstrument* ins) {
  (void)ins;
  v->e2 = 0.0f;  // crackle state
}

void mg_noise_render(s_mgvoice* v, const s_mginstrument* ins, float bright, float* l, float* r, int n) {
  const float* p = ins->p;
  const float width = std::min(1.0f, std::max(0.0f, p[MG_P_WIDTH]));
  const float crackle = p[MG_P_CRACKLE] / MG_RATE;  // chance per frame
  const float c0 = p[MG_P_CUTOFF], c1 = p[MG_P_CUTOFF2];
  const float span = c0 > 0.0f && c1 > 0.0f ? std::log2(c1 / c0) : 0.0f;
  for (int i = 0; i < n; ++i) {
    if ((v->t % MG_CONTROL) == 0) {
      float x = v->gate > 0 ? std::min(1.0f, (float)v->t / (float)v->gate) : 1.0f;
      float cutoff = c0 * std::exp2(span * x + bright);
      mg_svf_set(&v->filt[0], cutoff, p[MG_P_RES]);
      v->filt[1].a1 = v->filt[0].a1;
      v->filt[1].a2 = v->filt[0].a2;
      v->filt[1].a3 = v->filt[0].a3;
      v->filt[1].k = v->filt[0].k;
    }
    if (v->t == v->gate) mg_env_release(&v->env);
    float a = mg_rand_bi(&v->rnd);
    float b = mg_rand_bi(&v->rnd2);
    float nl = a, nr = a * (1.0f - width) + b * width;
    float yl = mg_svf_next(&v->filt[0], nl);
    float yr = mg_svf_next(&v->filt[1], nr);
    if (crackle > 0.0f) {
      float c = mg_rand_uni(&v->rnd2) < crackle ? mg_rand_bi(&v->rnd2) : 0.0f;
      v->e2 = v->e2 * kCrackleDecay + c;
      yl += kCrackleLevel * v->e2;
      yr += kCrackleLevel * v->e2;
    }
    float e = mg_env_next(&v->env) * v->amp;
    l[i] += yl * e;
    r[i] += yr * e;
    ++v->t;
    if (v->env.stage == MG_ENV_DONE || (v->env.stage == MG_ENV_SUSTAIN && v->env.sustain <= 0.0f)) {
      v->active = 0;
      return;
    }
  }
}

// ============================================================================
// Public functions: crowd
// ============================================================================

void mg_crowd_start(s_mgvoice* v, const s_mginstrument* ins) {
  const int count = std::max(1, std::min(MG_MAX_TALKERS, (int)ins->p[MG_P_TALKERS]));
  for (int k = 0; k < count; ++k) {
    s_mgtalker* tk = &v->talker[k];
    tk->pitch = lerp(kPitchMin, kPitchMax, mg_rand_uni(&v->rnd));
    mg_osc_init(&tk->glottis, MG_WAVE_SAW, tk->pitch, mg_rand_uni(&v->rnd));
    mg_svf_init(&tk->f1, MG_FILTER_BP);
    mg_svf_init(&tk->f2, MG_FILTER_BP);
    tk->pan = lerp(-0.9f, 0.9f, (count > 1 ? (float)k / (float)(count - 1) : 0.5f));
    tk->amp = 0.0f;
    next_syllable(tk, &v->rnd);
    // Start somewhere inside the first syllable or pause, so talkers do not start together.
    int len = tk->syllablelen;
    int into = (int)(mg_rand_uni(&v->rnd) * (float)len);
    tk->syllable += tk->syllable > 0 ? -into : into;
    if (tk->syllable == 0) tk->syllable = tk->syllablelen > 0 ? 1 : -1;
    tk->f1hz = tk->t1hz > 0.0f ? tk->t1hz : kVowels[0][0];
    tk->f2hz = tk->t2hz > 0.0f ? tk->t2hz : kVowels[0][1];
  }
  for (int c = 0; c < 2; ++c) {
    mg_svf_init(&v->filt[c], MG_FILTER_LP);
    mg_svf_set(&v->filt[c], ins->p[MG_P_CUTOFF], 0.0f);
  }
}

void mg_crowd_render(s_mgvoice* v, const s_mginstrument* ins, float* l, float* r, int n) {
  const int count = std::max(1, std::min(MG_MAX_TALKERS, (int)ins->p[MG_P_TALKERS]));
  const float norm = 1.0f / std::sqrt((float)count);
  // Per talker: amplitude at the start of the control step and its step per frame.
  float amp0[MG_MAX_TALKERS], ampstep[MG_MAX_TALKERS], gl[MG_MAX_TALKERS], gr[MG_MAX_TALKERS];
  for (int k = 0; k < count; ++k) {
    gl[k] = 0.5f * (1.0f - v->talker[k].pan);
    gr[k] = 0.5f * (1.0f + v->talker[k].pan);
    amp0[k] = v->talker[k].amp;
    ampstep[k] = 0.0f;
  }
  for (int i = 0; i < n; ++i) {
    if ((v->t % MG_CONTROL) == 0) {
      for (int k = 0; k < count; ++k) {
        s_mgtalker* tk = &v->talker[k];
        if (tk->syllable > 0) {
          tk->syllable = std::max(0, tk->syllable - MG_CONTROL);
        } else if (tk->syllable < 0) {
          tk->syllable = std::min(0, tk->syllable + MG_CONTROL);
          if (tk->syllable == 0) tk->pitch = lerp(kPitchMin, kPitchMax, mg_rand_uni(&v->rnd));  // a new phrase
        }
        if (tk->syllable == 0) next_syllable(tk, &v->rnd);
        tk->f1hz += (tk->t1hz - tk->f1hz) * kFormantGlide;
        tk->f2hz += (tk->t2hz - tk->f2hz) * kFormantGlide;
        mg_svf_set(&tk->f1, tk->f1hz, kFormantRes);
        mg_svf_set(&tk->f2, tk->f2hz, kFormantRes);
        tk->pitch *= kDeclination;
        mg_osc_setfreq(&tk->glottis, tk->pitch);
        float target = syllable_amp(tk);
        amp0[k] = tk->amp;
        ampstep[k] = (target - tk->amp) / MG_CONTROL;
        tk->amp = target;
      }
    }
    if (v->t == v->gate) mg_env_release(&v->env);
    float sl = 0.0f, sr = 0.0f;
    const int phase = (int)(v->t % MG_CONTROL);
    for (int k = 0; k < count; ++k) {
      s_mgtalker* tk = &v->talker[k];
      float a = amp0[k] + ampstep[k] * (float)(phase + 1);
      if (a <= 0.0f && tk->syllable <= 0) continue;  // pausing: nothing to hear, save the work
      float src = mg_osc_next(&tk->glottis) + kBreath * mg_rand_bi(&v->rnd2);
      float y = (mg_svf_next(&tk->f1, src) + 0.6f * mg_svf_next(&tk->f2, src)) * a;
      sl += y * gl[k];
      sr += y * gr[k];
    }
    float e = mg_env_next(&v->env) * v->amp * norm;
    l[i] += mg_svf_next(&v->filt[0], sl) * e;
    r[i] += mg_svf_next(&v->filt[1], sr) * e;
    ++v->t;
    if (v->env.stage == MG_ENV_DONE) {
      v->active = 0;
      return;
    }
  }
}
