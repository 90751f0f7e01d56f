// mg_filter: the state-variable filter of the voices and the track strips,
// a one-pole for smoothing and tone, and a biquad for the loudness meter.
//
// The state-variable filter is the trapezoidal (zero-delay feedback) form:
// two integrators solved together each frame, so it stays stable and in tune
// up to Nyquist and when its cutoff moves every few frames. The per-sample
// steps (mg_svf_next, the one-pole) are inline in musicgen.h.
//
// Threads: whichever thread renders.
#include <cmath>

#include "musicgen.h"

// ============================================================================
// Constants
// ============================================================================

namespace {

constexpr float kMinCutoff = 10.0f;                  // Hz
constexpr float kMaxCutoff = 0.45f * MG_RATE;        // Hz, below Nyquist
constexpr float kMinDamping = 0.03f;                 // resonance 1: a sharp peak, no oscillation

}  // namespace

// ============================================================================
// Public functions
// ============================================================================

void mg_svf_init(s_mgsvf* f, int type) {
  f->ic1 = f->ic2 = 0.0f;
  f->type = type;
  mg_svf_set(f, 1000.0f, 0.0f);
}

void mg_svf_set(s_mgsvf* f, float cutoff, float res) {
  if (!(cutoff > kMinCutoff)) cutoff = kMinCutoff;  // also catches NaN
  if (cutoff > kMaxCutoff) cutoff = kMaxCutoff;
  if (res < 0.0f) res = 0.0f;
  if (res > 1.0f) res = 1.0f;
  float g = std::tan(MG_PI * cutoff / MG_RATE);
  // Resonance 0 gives the Butterworth-like damping sqrt(2); 1 gives kMinDamping.
  float k = 1.41421356f - (1.41421356f - kMinDamping) * res;
  f->k = k;
  f->a1 = 1.0f / (1.0f + g * (g + k));
  f->a2 = g * f->a1;
  f->a3 = g * f->a2;
}

void mg_onepole_set(s_mgonepole* f, float cutoff) {
  if (cutoff < 1.0f) cutoff = 1.0f;
  float a = 1.0f - std::exp(-2.0f * MG_PI * cutoff / MG_RATE);
  f->a = a > 1.0f ? 1.0f : a;
}

double mg_biquad_next(s_mgbiquad* f, double x) {
  double y = f->b0 * x + f->z1;
  f->z1 = f->b1 * x - f->a1 * y + f->z2;
  f->z2 = f->b2 * x - f->a2 * y;
  return y;
}
