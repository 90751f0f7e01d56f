// mg_effects: the mixer's buses (ping-pong delay, reverb) and the sidechain
// ducker.
//
// Reverb: per channel, eight feedback combs with a one-pole damping filter in
// the loop, summed, then four allpass diffusers in series. The comb lengths
// are mutually prime-ish so the echoes do not line up; the right channel's
// lines are kStereoSpread frames longer, which decorrelates the two sides.
//
// Threads: whichever thread renders.
#include <algorithm>
#include <cmath>

#include "musicgen.h"

// ============================================================================
// Constants
// ============================================================================

namespace {

// Comb and allpass lengths in frames at 44100 Hz.
constexpr int kCombLength[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
constexpr int kAllpassLength[4] = {556, 441, 341, 225};
constexpr int kStereoSpread = 23;        // frames added to the right channel's lines
constexpr float kAllpassFeedback = 0.5f;
constexpr float kReverbInputGain = 0.015f;  // keeps eight summed combs near unity
constexpr float kRoomScale = 0.28f, kRoomOffset = 0.7f;  // size 0..1 to comb feedback
constexpr float kDampScale = 0.4f;       // damp 0..1 to the loop filter coefficient
constexpr float kReverbHighpass = 180.0f;  // Hz, on the reverb input

}  // namespace

// ============================================================================
// Public functions: delay lines and the ping-pong delay
// ============================================================================

void mg_delayline_init(s_mgdelayline* d, int maxframes) {
  uint32_t size = 1;
  while (size < (uint32_t)maxframes + 2) size <<= 1;
  d->buf.assign(size, 0.0f);
  d->mask = size - 1;
  d->pos = 0;
}

void mg_delayline_write(s_mgdelayline* d, float x) {
  d->buf[d->pos] = x;
  d->pos = (d->pos + 1) & d->mask;
}

float mg_delayline_read(const s_mgdelayline* d, int frames) {
  return d->buf[(d->pos - (uint32_t)frames) & d->mask];
}

void mg_pingpong_init(s_mgpingpong* p, int frames, float feedback, float lowpass, float highpass) {
  if (frames < 1) frames = 1;
  p->frames = frames;
  p->feedback = std::min(std::max(feedback, 0.0f), 0.95f);
  mg_delayline_init(&p->l, frames);
  mg_delayline_init(&p->r, frames);
  for (int c = 0; c < 2; ++c) {
    p->lp[c].z = p->hp[c].z = 0.0f;
    mg_onepole_set(&p->lp[c], lowpass);
    mg_onepole_set(&p->hp[c], highpass);
  }
}

void mg_pingpong_process(s_mgpingpong* p, const float* inl, const float* inr, float* outl, float* outr, int n) {
  for (int i = 0; i < n; ++i) {
    float l = mg_delayline_read(&p->l, p->frames);
    float r = mg_delayline_read(&p->r, p->frames);
    float lt = mg_onepole_hp(&p->hp[0], mg_onepole_lp(&p->lp[0], l));
    float rt = mg_onepole_hp(&p->hp[1], mg_onepole_lp(&p->lp[1], r));
    float in = 0.5f * (inl[i] + inr[i]);
    mg_delayline_write(&p->l, in + p->feedback * rt);
    mg_delayline_write(&p->r, p->feedback * lt);
    outl[i] = lt;
    outr[i] = rt;
  }
}

// ============================================================================
// Public functions: reverb
// ============================================================================

void mg_reverb_init(s_mgreverb* rv, float size, float damp, float predelay) {
  size = std::min(std::max(size, 0.0f), 1.0f);
  damp = std::min(std::max(damp, 0.0f), 1.0f);
  rv->feedback = size * kRoomScale + kRoomOffset;
  rv->damp = damp * kDampScale;
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < 8; ++i) {
      rv->comb[c][i].buf.assign(kCombLength[i] + c * kStereoSpread, 0.0f);
      rv->comb[c][i].pos = 0;
      rv->comb[c][i].store = 0.0f;
    }
    for (int i = 0; i < 4; ++i) {
      rv->allpass[c][i].buf.assign(kAllpassLength[i] + c * kStereoSpread, 0.0f);
      rv->allpass[c][i].pos = 0;
    }
  }
  rv->predelayframes = std::max(1, (int)std::lround(predelay * MG_RATE));
  mg_delayline_init(&rv->predelay, rv->predelayframes);
  rv->inhp.z = 0.0f;
  mg_onepole_set(&rv->inhp, kReverbHighpass);
}

void mg_reverb_process(s_mgreverb* rv, const float* inl, const float* inr, float* outl, float* outr, int n) {
  const float fb = rv->feedback;
  const float d1 = rv->damp, d2 = 1.0f - rv->damp;
  for (int i = 0; i < n; ++i) {
    mg_delayline_write(&rv->predelay, mg_onepole_hp(&rv->inhp, (inl[i] + inr[i]) * kReverbInputGain));
    float in = mg_delayline_read(&rv->predelay, rv->predelayframes);
    float out[2];
    for (int c = 0; c < 2; ++c) {
      float acc = 0.0f;
      for (int k = 0; k < 8; ++k) {
        s_mgcomb& cb = rv->comb[c][k];
        float y = cb.buf[cb.pos];
        cb.store = y * d2 + cb.store * d1;
        cb.buf[cb.pos] = in + cb.store * fb;
        if (++cb.pos >= (int)cb.buf.size()) cb.pos = 0;
        acc += y;
      }
      for (int k = 0; k < 4; ++k) {
        s_mgallpass& ap = rv->allpass[c][k];
        float b = ap.buf[ap.pos];
        ap.buf[ap.pos] = acc + b * kAllpassFeedback;
        if (++ap.pos >= (int)ap.buf.size()) ap.pos = 0;
        acc = b - acc;
      }
      out[c] = acc;
    }
    outl[i] = out[0];
    outr[i] = out[1];
  }
}

// ============================================================================
// Public functions: sidechain ducker
// ============================================================================

void mg_ducker_init(s_mgducker* d, float thresholddb, float ratio, float attack, float release) {
  d->env = 0.0f;
  d->threshold = std::pow(10.0f, thresholddb / 20.0f);
  d->ratio = std::max(ratio, 1.0f);
  // Time constants (not 99% times): the detector should follow like an analogue one.
  d->attackcoef = std::exp(-1.0f / (std::max(attack, 1.0e-4f) * MG_RATE));
  d->releasecoef = std::exp(-1.0f / (std::max(release, 1.0e-3f) * MG_RATE));
}

void mg_ducker_process(s_mgducker* d, const float* keyl, const float* keyr, float* gain, int n) {
  const float slope = 1.0f - 1.0f / d->ratio;
  for (int i = 0; i < n; ++i) {
    float x = std::max(std::fabs(keyl[i]), std::fabs(keyr[i]));
    float c = x > d->env ? d->attackcoef : d->releasecoef;
    d->env = x + (d->env - x) * c;
    if (d->env > d->threshold) {
      // Above the threshold the output rises 1/ratio dB per dB: gain = (env/thr)^-slope.
      gain[i] = std::pow(d->env / d->threshold, -slope);
    } else {
      gain[i] = 1.0f;
    }
  }
}
