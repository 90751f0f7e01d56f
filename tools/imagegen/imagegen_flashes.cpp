// imagegen_flashes: six bold full-frame graphics (1280x720, opaque) that the
// break scene cuts to on the beat.
//
//   flash0  a sunburst: amber and orange rays around a white-hot centre
//   flash1  a tilted checkerboard in pool blue and fizz white
//   flash3  strobes: white bars of uneven width on black, with glow
//   flash4  the word "SPROX" filling the frame, white on orange
//   flash5  concentric rings in blue and white around a bright core
//   flash6  a comic pop: orange halftone dots and a white burst reading "FIZZ!"
//
// Threads: each painter runs on the worker thread that runs its recipe.
#include "imagegen.h"

#include <algorithm>
#include <cmath>
#include <vector>

// ---- Constants ------------------------------------------------------------------

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr int W = IG_SCREEN_W, H = IG_SCREEN_H;
constexpr float kCx = W * 0.5f, kCy = H * 0.5f;

// ---- Internal functions ---------------------------------------------------------

// An anti-aliased 0..1 step of a periodic pattern value v, with `px` the
// pattern's change per pixel (for a one-pixel edge).
float crisp(float v, float px) { return ig_clamp01(0.5f + v / std::max(px, 1e-4f)); }

}  // namespace

// ---- Public functions -----------------------------------------------------------

void ig_paint_flash_burst(ig_image* out, ig_png_options* png) {
  *out = ig_image_make(W, H, ig_hex(IG_ORANGE));
  ig_shade(out, [&](float x, float y) {
    const float d = std::hypot(x - kCx, y - kCy);
    const float ang = std::atan2(y - kCy, x - kCx);
    const float s = std::sin(ang * 14.0f + 0.3f);
    const float ray = crisp(s, 14.0f / std::max(d, 1.0f) * 1.2f);
    const ig_rgba a = ig_mix(ig_hex(0xFFD060), ig_hex(IG_AMBER), ig_smoothstep(0, 700, d));
    const ig_rgba b = ig_mix(ig_hex(0xFF9A20), ig_hex(IG_EMBER), ig_smoothstep(0, 700, d));
    return ig_mix(b, a, ray);
  });
  ig_soft_disc(out, kCx, kCy, 420, 1.0f, ig_hex(0xFFF4D8, 0.85f));
  ig_soft_disc(out, kCx, kCy, 120, 0.25f, ig_hex(0xFFFFFF));
  png->dither = true;
  png->dither_seed = 11;
}

void ig_paint_flash_checker(ig_image* out, ig_png_options* png) {
  *out = ig_image_make(W, H, ig_hex(IG_FIZZ));
  const float c = std::cos(0.21f), s = std::sin(0.21f), cell = 96.0f;
  ig_shade(out, [&](float x, float y) {
    const float u = ((x - kCx) * c + (y - kCy) * s) / cell;
    const float v = (-(x - kCx) * s + (y - kCy) * c) / cell;
    // Product of two square waves, each with a one-pixel soft edge.
    const float su = crisp(std::sin(u * kPi), kPi / cell), sv = crisp(std::sin(v * kPi), kPi / cell);
    const float check = su * sv + (1 - su) * (1 - sv);
    const float d = std::hypot(x - kCx, y - kCy) / 760.0f;
    const ig_rgba dark = ig_mix(ig_hex(0x1556B8), ig_hex(IG_NAVY), d);
    const ig_rgba light = ig_mix(ig_hex(0xFFFFFF), ig_hex(0xBFDDF5), d);
    return ig_mix(dark, light, check);
  });
  png->dither = false;
}

void ig_paint_flash_strobe(ig_image* out, ig_png_options* png) {
  *out = ig_image_make(W, H, ig_hex(0x000000));
  ig_image glow = ig_image_make(W, H, {0, 0, 0, 0});
  ig_rng rng = ig_rng_make(1101);
  float x = 30.0f;
  while (x < W - 20) {
    const float w = ig_rng_range(&rng, 8.0f, 90.0f);
    const bool amber = ig_rng_range(&rng, 0, 1) < 0.25f;
    const ig_rgba colour = amber ? ig_hex(IG_AMBER) : ig_hex(0xFFFFFF);
    const float x0 = x, x1 = std::min(x + w, float(W - 20));
    for (ig_image* target : {&glow, out})
      ig_fill_sdf(target, int(x0) - 2, 0, int(x1) + 3, H,
                  [&](float px, float py) { return ig_sd_box(px, py, (x0 + x1) * 0.5f, kCy, (x1 - x0) * 0.5f, H, 0); },
                  [&](float, float) { return colour; });
    x = x1 + ig_rng_range(&rng, 20.0f, 110.0f);
  }
  ig_image_blur(&glow, 14);
  // Glow goes under the bars: draw it, then the crisp bars again on top.
  ig_image bars = *out;
  *out = ig_image_make(W, H, ig_hex(0x000000));
  ig_draw_image(out, &glow, 0, 0, 0.8f);
  ig_draw_image(out, &bars, 0, 0, 1.0f);
  // Thin dark scanlines over everything, as on a TV.
  ig_shade(out, [](float, float y) { return ig_hex(0x000000, (int(y) % 3 == 0) ? 0.35f : 0.0f); });
  png->dither = false;
}

void ig_paint_flash_word(ig_image* out, ig_png_options* png) {
  *out = ig_image_make(W, H, ig_hex(IG_ORANGE));
  ig_shade(out, [](float x, float y) {
    const float d = std::hypot(x - kCx, (y - kCy) * 1.4f) / 800.0f;
    return ig_mix(ig_hex(IG_AMBER), ig_hex(IG_EMBER), ig_smoothstep(0.0f, 1.0f, d));
  });
  const ig_text_style st = ig_house_lettering(IG_FIZZ, 10, 16, 18, 0, 1.0f);
  ig_text_centred(out, IG_FONT_BEBAS, "SPROX", kCx - 8, kCy - 8, 1160, 580, 24.0f, 1.0f, &st);
  png->dither = true;
  png->dither_seed = 14;
}

void ig_paint_flash_rings(ig_image* out, ig_png_options* png) {
  *out = ig_image_make(W, H, ig_hex(IG_POOL_DEEP));
  ig_shade(out, [](float x, float y) {
    const float d = std::hypot(x - kCx, y - kCy);
    // Rings widen outwards, like a ripple seen from above.
    const float phase = std::sqrt(d) * 2.2f;
    const float ring = crisp(std::sin(phase * kPi), 2.2f * kPi / (2.0f * std::sqrt(std::max(d, 1.0f))));
    const ig_rgba a = ig_mix(ig_hex(0xFFFFFF), ig_hex(IG_POOL_LIGHT), ig_smoothstep(0, 800, d));
    const ig_rgba b = ig_mix(ig_hex(IG_POOL_LIGHT), ig_hex(IG_NAVY), ig_smoothstep(0, 800, d));
    return ig_mix(b, a, ring);
  });
  ig_soft_disc(out, kCx, kCy, 180, 1.0f, ig_hex(0xFFFFFF, 0.9f));
  png->dither = true;
  png->dither_seed = 15;
}

void ig_paint_flash_pop(ig_image* out, ig_png_options* png) {
  *out = ig_image_make(W, H, ig_hex(IG_AMBER));
  // Halftone: dots on a 45-degree grid, growing towards the lower right.
  const float cell = 26.0f;
  ig_shade(out, [&](float x, float y) {
    const float u = (x + y) / cell, v = (x - y) / cell;
    const float cu = std::round(u), cv = std::round(v);
    const float gx = (cu + cv) * 0.5f * cell, gy = (cu - cv) * 0.5f * cell;
    const float t = ig_clamp01((gx / W) * 0.6f + (gy / H) * 0.4f);
    const float r = cell * (0.12f + 0.5f * t);
    return ig_hex(IG_ORANGE, ig_cover(std::hypot(x - gx, y - gy) - r));
  });
  // The burst: a jagged star, navy rim, white body.
  std::vector<float> star;
  ig_rng rng = ig_rng_make(1601);
  constexpr int kPoints = 18;
  for (int i = 0; i < kPoints * 2; ++i) {
    const float ang = i * kPi / kPoints;
    const float r = (i % 2) ? ig_rng_range(&rng, 210, 240) : ig_rng_range(&rng, 330, 390);
    star.push_back(kCx + std::cos(ang) * r * 1.25f);
    star.push_back(kCy + std::sin(ang) * r * 0.82f);
  }
  ig_fill_sdf(out, 0, 0, W, H,
              [&](float x, float y) { return ig_sd_polygon(x - 14, y - 16, star.data(), kPoints * 2); },
              [](float, float) { return ig_hex(IG_NAVY); });
  ig_fill_sdf(out, 0, 0, W, H,
              [&](float x, float y) { return ig_sd_polygon(x, y, star.data(), kPoints * 2) - 9.0f; },
              [](float, float) { return ig_hex(IG_NAVY); });
  ig_fill_sdf(out, 0, 0, W, H, [&](float x, float y) { return ig_sd_polygon(x, y, star.data(), kPoints * 2); },
              [](float, float) { return ig_hex(0xFFFFFF); });
  ig_text_style st;
  st.fill_top = ig_hex(IG_POOL_LIGHT);
  st.fill_bottom = ig_hex(IG_POOL_DEEP);
  st.outline = 8;
  st.outline_colour = ig_hex(IG_NAVY);
  st.shadow_dx = 10;
  st.shadow_dy = 12;
  st.shadow_colour = ig_hex(IG_ORANGE);
  ig_text_centred(out, IG_FONT_BEBAS, "FIZZ!", kCx, kCy, 560, 300, 12.0f, 1.0f, &st);
  png->dither = false;
}
