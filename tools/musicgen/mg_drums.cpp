// mg_drums: the synthesised drum kit.
//
// kick:  a sine whose frequency falls exponentially from pstart to pend,
//        an amplifier that holds briefly then decays, a high-passed noise
//        click on top, and optional saturation. The note scales every
//        frequency, so the same engine plays toms and sub booms.
// snare: two sines (a body and an overtone) with a small pitch drop, plus
//        noise through a high-pass and a low-pass, each with its own decay.
// clap:  noise through a band-pass, gated into three quick bursts and a tail,
//        with independent noise left and right.
// hat:   six square partials at inharmonic ratios (the classic metallic
//        cluster) plus noise, through a band-pass and a high-pass; the decay
//        makes closed hats, open hats and cymbals.
//
// Shared state: e0 the pitch sweep, e1 the body envelope, e2 the noise
// envelope; filt[] and filt2[] the noise filters.
//
// Threads: whichever thread renders.
#include <algorithm>
#include <cmath>

#include "musicgen.h"

// ============================================================================
// Constants
// ============================================================================

namespace {

constexpr float kKickHold = 0.012f;       // seconds at full level before the decay
constexpr float kKickAttack = 0.0004f;    // seconds: avoids a click from a hard start
constexpr float kClickDecay = 0.004f;     // seconds, time constant of the kick's click
constexpr float kClickHighpass = 2500.0f; // Hz
constexpr float kSnareOvertone = 1.47f;   // overtone / body frequency
constexpr float kSnareDrop = 0.3f;        // pitch starts this fraction above the tone
constexpr float kSnareDropDecay = 0.015f; // seconds
constexpr float kSnareLowpass = 9000.0f;  // Hz, top of the snare noise
constexpr float kClapSpacing = 0.011f;    // seconds between the clap's bursts
constexpr int kClapBursts = 3;            // bursts before the tail
constexpr float kClapBurstDecay = 0.0035f;// seconds, time constant of each burst
constexpr float kHatHighpass = 7000.0f;   // Hz, second stage of the hat filter
constexpr float kDoneLevel = 1.0e-4f;     // -80 dB: the drum has died away
// Partials of the metallic cluster, Hz, before the tone scale.
constexpr float kHatPartials[6] = {205.3f, 304.4f, 369.6f, 522.7f, 540.0f, 800.0f};

// Per-frame factor of an exponential decay that covers 99% in `seconds`.
float decay99(float seconds) {
  return mg_env_coef(std::max(seconds, 1.0e-3f));
}

// Per-frame factor for a time constant.
float decaytc(float seconds) {
  return std::exp(-1.0f / (std::max(seconds, 1.0e-4f) * MG_RATE));
}

// How far the note moves the drum's frequencies from its 'x' note.
float pitch_ratio(const s_mgvoice* v, const s_mginstrument* ins) {
  return std::exp2((v->pitch - ins->p[MG_P_NOTE]) / 12.0f);
}

void kick_render(s_mgvoice* v, const s_mginstrument* ins, float* l, float* r, int n) {
  const float* p = ins->p;
  const float ratio = pitch_ratio(v, ins);
  const float f0 = p[MG_P_PSTART] * ratio, f1 = p[MG_P_PEND] * ratio;
  const float sweep = decaytc(p[MG_P_PDECAY]);
  const float body = decay99(p[MG_P_DECAY]);
  const float click = decaytc(kClickDecay);
  const int hold = (int)(kKickHold * MG_RATE);
  const float attackinc = 1.0f / (kKickAttack * MG_RATE);
  const float drive = p[MG_P_DRIVE];
  const float norm = drive > 0.0f ? 1.0f / mg_saturate(1.0f + drive) : 1.0f;
  for (int i = 0; i < n; ++i) {
    float f = f1 + (f0 - f1) * v->e0;
    v->e0 *= sweep;
    float amp;
    if (v->t < hold) {
      v->e1 = std::min(1.0f, v->e1 + attackinc);
      amp = v->e1;
    } else {
      v->e1 *= body;
      amp = v->e1;
    }
    float s = mg_sine(v->fmphase[0]) * amp;
    v->fmphase[0] += f / MG_RATE;
    if (v->fmphase[0] >= 1.0) v->fmphase[0] -= 1.0;
    float c = mg_svf_next(&v->filt[0], mg_rand_bi(&v->rnd)) * v->e2 * p[MG_P_CLICK];
    v->e2 *= click;
    float y = s + c;
    if (drive > 0.0f) y = mg_saturate(y * (1.0f + drive)) * norm;
    y *= v->amp;
    l[i] += y;
    r[i] += y;
    ++v->t;
    if (v->t > hold && v->e1 < kDoneLevel) {
      v->active = 0;
      return;
    }
  }
}

void snare_render(s_mgvoice* v, const s_mginstrument* ins, float* l, float* r, int n) {
  const float* p = ins->p;
  const float ratio = pitch_ratio(v, ins);
  const float tone = p[MG_P_TONE] * ratio;
  const float tdec = decay99(p[MG_P_TDECAY]);
  const float ndec = decay99(p[MG_P_NDECAY]);
  const float drop = decaytc(kSnareDropDecay);
  const float noise = p[MG_P_NOISE];
  const float drive = p[MG_P_DRIVE];
  for (int i = 0; i < n; ++i) {
    float f = tone * (1.0f + kSnareDrop * v->e0);
    v->e0 *= drop;
    float body = 0.65f * mg_sine(v->fmphase[0]) + 0.35f * mg_sine(v->fmphase[1]);
    v->fmphase[0] += f / MG_RATE;
    v->fmphase[1] += f * kSnareOvertone / MG_RATE;
    for (int k = 0; k < 2; ++k)
      if (v->fmphase[k] >= 1.0) v->fmphase[k] -= 1.0;
    float w = mg_rand_bi(&v->rnd);
    float nz = mg_svf_next(&v->filt2[0], mg_svf_next(&v->filt[0], w));
    float y = (1.0f - noise) * body * v->e1 + noise * nz * v->e2 * 1.6f;
    v->e1 *= tdec;
    v->e2 *= ndec;
    if (drive > 0.0f) y = mg_saturate(y * (1.0f + drive));
    y *= v->amp;
    l[i] += y;
    r[i] += y;
    ++v->t;
    if (v->e1 < kDoneLevel && v->e2 < kDoneLevel) {
      v->active = 0;
      return;
    }
  }
}

void clap_render(s_mgvoice* v, const s_mginstrument* ins, float* l, float* r, int n) {
  const float* p = ins->p;
  const int spacing = (int)(kClapSpacing * MG_RATE);
  const float burst = decaytc(kClapBurstDecay);
  const float tail = decay99(p[MG_P_NDECAY]);
  for (int i = 0; i < n; ++i) {
    float env;
    if (v->t < (int64_t)spacing * kClapBursts) {
      if (v->t % spacing == 0) v->e1 = 1.0f;
      env = v->e1;
      v->e1 *= burst;
    } else {
      env = v->e2;
      v->e2 *= tail;
    }
    float nl = mg_svf_next(&v->filt[0], mg_rand_bi(&v->rnd));
    float nr = mg_svf_next(&v->filt[1], mg_rand_bi(&v->rnd2));
    // Band-passed noise is quiet; 3x brings it near the level of the other drums.
    float g = env * v->amp * 3.0f;
    l[i] += nl * g;
    r[i] += nr * g;
    ++v->t;
    if (v->t > (int64_t)spacing * kClapBursts && v->e2 < kDoneLevel) {
      v->active = 0;
      return;
    }
  }
}

void hat_render(s_mgvoice* v, const s_mginstrument* ins, float* l, float* r, int n) {
  const float* p = ins->p;
  const float dec = decay99(p[MG_P_NDECAY]);
  const float noise = p[MG_P_NOISE];
  for (int i = 0; i < n; ++i) {
    float metal = 0.0f;
    for (int k = 0; k < 6; ++k) metal += mg_osc_next(&v->osc[k]);
    float x = (1.0f - noise) * metal * (1.0f / 6.0f) + noise * mg_rand_bi(&v->rnd);
    float y = mg_svf_next(&v->filt2[0], mg_svf_next(&v->filt[0], x));
    // Attack of a fraction of a millisecond, then the decay.
    v->e1 = v->t < 16 ? (float)(v->t + 1) / 16.0f : v->e1 * dec;
    y *= v->e1 * v->amp * 2.0f;
    l[i] += y;
    r[i] += y;
    ++v->t;
    if (v->t > 16 && v->e1 < kDoneLevel) {
      v->active = 0;
      return;
    }
  }
}

}  // namespace

// ============================================================================
// Public functions
// ============================================================================

void mg_drum_start(s_mgvoice* v, const s_mginstrument* ins) {
  const float* p = ins->p;
  const float ratio = pitch_ratio(v, ins);
  v->e0 = 1.0f;
  v->e1 = 1.0f;
  v->e2 = 1.0f;
  switch (ins->engine) {
    case MG_ENGINE_KICK:
      v->e1 = 0.0f;  // rises over the attack
      mg_svf_init(&v->filt[0], MG_FILTER_HP);
      mg_svf_set(&v->filt[0], kClickHighpass, 0.0f);
      break;
    case MG_ENGINE_SNARE:
      mg_svf_init(&v->filt[0], MG_FILTER_HP);
      mg_svf_set(&v->filt[0], p[MG_P_CUTOFF], p[MG_P_RES]);
      mg_svf_init(&v->filt2[0], MG_FILTER_LP);
      mg_svf_set(&v->filt2[0], kSnareLowpass, 0.0f);
      break;
    case MG_ENGINE_CLAP:
      for (int c = 0; c < 2; ++c) {
        mg_svf_init(&v->filt[c], MG_FILTER_BP);
        mg_svf_set(&v->filt[c], p[MG_P_CUTOFF] * ratio * (c ? 1.06f : 0.94f), p[MG_P_RES]);
      }
      break;
    default:  // hat
      for (int k = 0; k < 6; ++k) {
        mg_osc_init(&v->osc[k], MG_WAVE_SQUARE, kHatPartials[k] * p[MG_P_TONE] * ratio, mg_rand_uni(&v->rnd));
      }
      mg_svf_init(&v->filt[0], MG_FILTER_BP);
      mg_svf_set(&v->filt[0], p[MG_P_CUTOFF] * ratio, p[MG_P_RES]);
      mg_svf_init(&v->filt2[0], MG_FILTER_HP);
      mg_svf_set(&v->filt2[0], kHatHighpass * std::min(1.0f, ratio), 0.0f);
      break;
  }
}

void mg_drum_render(s_mgvoice* v, const s_mginstrument* ins, float* l, float* r, int n) {
  switch (ins->engine) {
    case MG_ENGINE_KICK: kick_render(v, ins, l, r, n); break;
    case MG_ENGINE_SNARE: snare_render(v, ins, l, r, n); break;
    case MG_ENGINE_CLAP: clap_render(v, ins, l, r, n); break;
    default: hat_render(v, ins, l, r, n); break;
  }
}
