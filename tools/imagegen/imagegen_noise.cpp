// imagegen_noise: hashes, a small random generator and tileable value noise.
//
// Every random choice in the generator comes from here, so the same build
// paints the same bytes every run: integer hashes (no library random
// numbers, whose sequences differ between standard libraries) and a PCG32
// generator seeded by each recipe.
//
// Terms (period): see docs/ARCHITECTURE.md#glossary. Here:
//   lattice  the integer grid on which value noise stores one hashed value
//            per point; between points it is blended with a quintic curve.
//            Its points are taken modulo the period, so a texture of N
//            pixels that maps one period onto its width tiles without a seam.
//   octave   one layer of a fractal sum, at twice the frequency of the last.
//
// Threads: called from the worker thread that runs a recipe; no shared state.
#include "imagegen.h"

#include "core/core.h"

#include <cmath>

// ---- Constants ------------------------------------------------------------------

namespace {

constexpr int kUntiledPeriod = 1 << 20;  // lattice cells; far beyond any picture
constexpr float kGain = 0.5f;            // amplitude of each octave relative to the last

// ---- Internal functions ---------------------------------------------------------

float quintic(float t) { return t * t * t * (t * (t * 6.0f - 15.0f) + 10.0f); }

int wrap(int v, int period) {
  v %= period;
  return v < 0 ? v + period : v;
}

}  // namespace

// ---- Public functions -----------------------------------------------------------

uint32_t ig_hash(uint32_t v) { return core_hash32(v); }

uint32_t ig_hash3(int32_t x, int32_t y, uint32_t seed) {
  return ig_hash(uint32_t(x) * 0x9E3779B1u ^ ig_hash(uint32_t(y) * 0x85EBCA77u ^ ig_hash(seed)));
}

float ig_hash01(int32_t x, int32_t y, uint32_t seed) {
  return float(ig_hash3(x, y, seed) >> 8) * (1.0f / 16777216.0f);
}

ig_rng ig_rng_make(uint64_t seed) {
  ig_rng rng{0};
  ig_rng_next(&rng);
  rng.state += seed;
  ig_rng_next(&rng);
  return rng;
}

uint32_t ig_rng_next(ig_rng* rng) {
  const uint64_t old = rng->state;
  rng->state = old * 6364136223846793005ull + 1442695040888963407ull;
  const uint32_t xorshifted = uint32_t(((old >> 18u) ^ old) >> 27u);
  const uint32_t rot = uint32_t(old >> 59u);
  return (xorshifted >> rot) | (xorshifted << ((32u - rot) & 31u));
}

float ig_rng_range(ig_rng* rng, float lo, float hi) {
  const float u = float(ig_rng_next(rng) >> 8) * (1.0f / 16777216.0f);
  return lo + (hi - lo) * u;
}

float ig_noise_tiled(float x, float y, int period, uint32_t seed) {
  if (period < 1) period = 1;
  const float fx = std::floor(x), fy = std::floor(y);
  const int ix = int(fx), iy = int(fy);
  const float tx = quintic(x - fx), ty = quintic(y - fy);
  const int x0 = wrap(ix, period), x1 = wrap(ix + 1, period);
  const int y0 = wrap(iy, period), y1 = wrap(iy + 1, period);
  const float a = ig_hash01(x0, y0, seed), b = ig_hash01(x1, y0, seed);
  const float c = ig_hash01(x0, y1, seed), d = ig_hash01(x1, y1, seed);
  const float top = a + (b - a) * tx;
  const float bottom = c + (d - c) * tx;
  return top + (bottom - top) * ty;
}

float ig_fbm_tiled(float x, float y, int period, int octaves, uint32_t seed) {
  float sum = 0.0f, amp = 1.0f, norm = 0.0f;
  for (int o = 0; o < octaves; ++o) {
    sum += amp * ig_noise_tiled(x, y, period, seed + uint32_t(o) * 1013u);
    norm += amp;
    amp *= kGain;
    x *= 2.0f;
    y *= 2.0f;
    // The next octave runs at twice the frequency, so twice as many cells
    // fit the same texture: doubling the period keeps the seam away.
    if (period < kUntiledPeriod) period *= 2;
  }
  return norm > 0.0f ? sum / norm : 0.0f;
}

float ig_fbm(float x, float y, int octaves, uint32_t seed) {
  return ig_fbm_tiled(x, y, kUntiledPeriod, octaves, seed);
}
