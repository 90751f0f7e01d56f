// mg_osc: band-limited oscillators, the sine table and deterministic noise.
//
// The saw and the square jump once or twice per cycle. A naive jump has an
// endless spectrum that folds back below Nyquist as aliases; we replace each
// jump by a band-limited step, the integral of a cubic B-spline kernel four
// frames wide, which is applied as a correction to the two frames on either
// side of the jump. The triangle integrates the corrected square. The
// per-sample functions are inline in musicgen.h; this file holds the set-up,
// the sine table and the naive reference waveforms.
//
// Threads: whichever thread renders. The one global, the sine table, is
// filled during static initialisation and only read afterwards.
#include <cmath>

#include "core/core.h"
#include "musicgen.h"

// ============================================================================
// Constants
// ============================================================================

namespace {

constexpr double kMaxInc = 0.249;  // highest cycles per frame the 4-frame step allows

// Fills the sine table before main() runs; nothing renders before then.
struct SineTableInit {
  SineTableInit() {
    for (int i = 0; i <= MG_SINE_SIZE; ++i) mg_sinetable[i] = (float)std::sin(2.0 * M_PI * i / MG_SINE_SIZE);
  }
};

}  // namespace

// ============================================================================
// Globals
// ============================================================================

float mg_sinetable[MG_SINE_SIZE + 1];

namespace {
const SineTableInit g_sineinit;
}  // namespace

// ============================================================================
// Public functions
// ============================================================================

float mg_blep4(float x) {
  if (x <= -2.0f || x >= 2.0f) return 0.0f;
  if (x < 0.0f) return mg_detail::bspline_integral_neg(x);
  return -mg_detail::bspline_integral_neg(-x);
}

void mg_osc_init(s_mgosc* osc, int wave, float freq, float phase) {
  osc->wave = wave;
  osc->phase = phase - std::floor(phase);
  osc->pw = 0.5f;
  // The triangle starts where the integral of the square would be at this phase.
  double t = osc->phase;
  osc->tri = (float)(t < 0.5 ? -1.0 + 4.0 * t : 3.0 - 4.0 * t);
  mg_osc_setfreq(osc, freq);
}

void mg_osc_setfreq(s_mgosc* osc, float freq) {
  double inc = (double)freq / MG_RATE;
  if (inc < 0.0) inc = 0.0;
  if (inc > kMaxInc) inc = kMaxInc;
  osc->inc = inc;
}

float mg_osc_next_naive(s_mgosc* osc) {
  double t = osc->phase;
  float y;
  switch (osc->wave) {
    case MG_WAVE_SAW: y = (float)(2.0 * t - 1.0); break;
    case MG_WAVE_SQUARE: y = t < osc->pw ? 1.0f : -1.0f; break;
    case MG_WAVE_TRI: y = (float)(t < 0.5 ? -1.0 + 4.0 * t : 3.0 - 4.0 * t); break;
    default: y = mg_sine(t); break;
  }
  t += osc->inc;
  if (t >= 1.0) t -= 1.0;
  osc->phase = t;
  return y;
}

void mg_rand_seed(s_mgrand* r, uint32_t seed) {
  r->state = mg_hash(seed) | 1u;
}

uint32_t mg_hash(uint32_t x) { return core_hash32(x); }

float mg_note_hz(float note) {
  return 440.0f * std::exp2((note - 69.0f) * (1.0f / 12.0f));
}
