// imagegen_backgrounds: the full-screen backgrounds (1280x720, opaque) and
// the party audience.
//
//   introbg      warm soda orange, a glow in the middle, soft light from
//                above, out-of-focus bubbles (also behind the outro words)
//   titlebg      a deep-blue sunburst around a light-blue glow, the stage for
//                the orange logo
//   ballsbg      amber to orange diagonal, big bokeh discs, faint stripes (the
//                backdrop of straw, balls, twister, greetings and icecube)
//   bluebg       pool blue from light to deep, caustic light near the top,
//                shafts and bubbles (heart, icecube, fruits)
//   blackbg      near black with a faint centre lift (break and closing)
//   widescreen2  the audience in silhouette, heads and raised arms, against a
//                glowing stage with light beams and haze
//
// Gradients are dithered on export so that they do not band.
//
// Threads: each painter runs on the worker thread that runs its recipe.
#include "imagegen.h"

#include <algorithm>
#include <cmath>

// ---- Constants ------------------------------------------------------------------

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr int W = IG_SCREEN_W, H = IG_SCREEN_H;

// ---- Internal functions ---------------------------------------------------------

// Three-stop vertical gradient: top at 0, mid at `mid` (0..1), bottom at 1.
ig_rgba gradient3(ig_rgba top, ig_rgba mid, ig_rgba bottom, float mid_at, float t) {
  if (t < mid_at) return ig_mix(top, mid, ig_smoothstep(0.0f, mid_at, t));
  return ig_mix(mid, bottom, ig_smoothstep(mid_at, 1.0f, t));
}

// Scatters out-of-focus discs (bokeh) over the canvas.
void bokeh(ig_image* img, uint64_t seed, int count, float rmin, float rmax, ig_rgba colour,
           float amin, float amax) {
  ig_rng rng = ig_rng_make(seed);
  for (int i = 0; i < count; ++i) {
    const float x = ig_rng_range(&rng, -40.0f, img->width + 40.0f);
    const float y = ig_rng_range(&rng, -40.0f, img->height + 40.0f);
    const float r = rmin + (rmax - rmin) * std::pow(ig_rng_range(&rng, 0, 1), 2.0f);
    const float a = ig_rng_range(&rng, amin, amax);
    // A slightly brighter rim, as real lens bokeh has.
    ig_soft_disc(img, x, y, r, 0.25f, ig_with_alpha(colour, a));
    ig_soft_disc(img, x, y, r * 0.9f, 0.5f, ig_with_alpha(colour, a * 0.35f));
  }
}

void bubbles(ig_image* img, uint64_t seed, int count, float rmin, float rmax, ig_rgba colour,
             float ybias) {
  ig_rng rng = ig_rng_make(seed);
  for (int i = 0; i < count; ++i) {
    const float x = ig_rng_range(&rng, 0.0f, float(img->width));
    // ybias > 1 gathers the bubbles towards the bottom, where they rise from.
    const float y = img->height * std::pow(ig_rng_range(&rng, 0, 1), 1.0f / ybias);
    const float r = rmin + (rmax - rmin) * std::pow(ig_rng_range(&rng, 0, 1), 2.5f);
    ig_bubble(img, x, y, r, colour);
  }
}

// Darkens the corners towards a colour; strength is the alpha at the corners.
void vignette(ig_image* img, ig_rgba colour, float strength, float inner) {
  const float cx = img->width * 0.5f, cy = img->height * 0.5f;
  const float norm = 1.0f / std::hypot(cx, cy);
  ig_shade(img, [&](float x, float y) {
    const float d = std::hypot(x - cx, (y - cy) * 1.25f) * norm;
    return ig_with_alpha(colour, strength * ig_smoothstep(inner, 1.05f, d));
  });
}

// Soft rays fanning out from (cx, cy): `count` rays, alpha fading with distance.
void rays(ig_image* img, float cx, float cy, int count, float width, ig_rgba colour, float reach) {
  ig_shade(img, [&](float x, float y) {
    const float ang = std::atan2(y - cy, x - cx);
    const float s = 0.5f + 0.5f * std::cos(ang * count);
    const float ray = ig_smoothstep(1.0f - width, 1.0f, s);
    const float fade = 1.0f - ig_smoothstep(0.0f, reach, std::hypot(x - cx, y - cy));
    return ig_with_alpha(colour, colour.a * ray * fade);
  });
}

// Gradients band in 8 bits: the export dithers them, each picture with its own seed.
void dither_on_export(ig_png_options* png, uint32_t seed) {
  png->dither = true;
  png->dither_seed = seed;
}

}  // namespace

// ---- Public functions -----------------------------------------------------------

void ig_paint_introbg(ig_image* out, ig_png_options* png) {
  const ig_rgba top = ig_hex(IG_AMBER), mid = ig_hex(0xFF9100), bottom = ig_hex(IG_EMBER);
  *out = ig_image_make(W, H, top);
  ig_shade(out, [&](float, float y) { return gradient3(top, mid, bottom, 0.5f, y / H); });
  rays(out, W * 0.5f, -120.0f, 14, 0.35f, ig_hex(0xFFF2D0, 0.16f), 900.0f);
  ig_soft_disc(out, W * 0.5f, H * 0.48f, 560.0f, 1.0f, ig_hex(0xFFE6B0, 0.45f));
  bokeh(out, 101, 46, 18.0f, 110.0f, ig_hex(IG_FIZZ), 0.05f, 0.16f);
  bubbles(out, 102, 90, 2.5f, 15.0f, ig_hex(IG_FIZZ, 0.7f), 1.6f);
  vignette(out, ig_hex(0x8A2A00), 0.55f, 0.45f);
  dither_on_export(png, 1);
}

void ig_paint_titlebg(ig_image* out, ig_png_options* png) {
  const float cx = W * 0.5f, cy = H * 0.52f;
  *out = ig_image_make(W, H, ig_hex(IG_POOL_DEEP));
  // Alternating deep and brighter blue rays, darker with distance.
  ig_shade(out, [&](float x, float y) {
    const float ang = std::atan2(y - cy, x - cx);
    const float s = std::sin(ang * 12.0f);
    const float band = ig_clamp01(0.5f + s * 6.0f);  // crisp but anti-aliased ray edges
    const float d = std::hypot(x - cx, y - cy) / 760.0f;
    const ig_rgba a = ig_mix(ig_hex(0x1556B8), ig_hex(IG_NAVY), ig_smoothstep(0.1f, 1.0f, d));
    const ig_rgba b = ig_mix(ig_hex(IG_POOL_DEEP), ig_hex(0x04143A), ig_smoothstep(0.1f, 1.0f, d));
    return ig_mix(b, a, band);
  });
  ig_soft_disc(out, cx, cy, 460.0f, 1.0f, ig_hex(IG_POOL_LIGHT, 0.75f));
  ig_soft_disc(out, cx, cy, 210.0f, 1.0f, ig_hex(0xDDF2FF, 0.45f));
  bokeh(out, 201, 36, 14.0f, 80.0f, ig_hex(0xCFEAFF), 0.05f, 0.15f);
  bubbles(out, 202, 70, 2.5f, 12.0f, ig_hex(0xE8F6FF, 0.7f), 1.2f);
  vignette(out, ig_hex(0x020A20), 0.6f, 0.5f);
  dither_on_export(png, 2);
}

void ig_paint_ballsbg(ig_image* out, ig_png_options* png) {
  *out = ig_image_make(W, H, ig_hex(IG_AMBER));
  const ig_rgba a = ig_hex(0xFFB81E), b = ig_hex(0xFF7A00), c = ig_hex(0xE25500);
  ig_shade(out, [&](float x, float y) {
    const float t = ig_clamp01((x / W) * 0.55f + (y / H) * 0.45f);
    return gradient3(a, b, c, 0.55f, t);
  });
  // Faint diagonal candy stripes, like a retro can print.
  ig_shade(out, [&](float x, float y) {
    const float s = std::sin((x + y) * (2.0f * kPi / 96.0f));
    return ig_hex(0xFFFFFF, 0.045f * ig_clamp01(s * 4.0f + 0.5f));
  });
  bokeh(out, 301, 30, 30.0f, 150.0f, ig_hex(0xFFF0C8), 0.06f, 0.18f);
  bokeh(out, 302, 24, 10.0f, 40.0f, ig_hex(0xFFFFFF), 0.08f, 0.22f);
  vignette(out, ig_hex(0x7A2200), 0.5f, 0.5f);
  dither_on_export(png, 3);
}

void ig_paint_blackbg(ig_image* out, ig_png_options* png) {
  *out = ig_image_make(W, H, ig_hex(0x000000));
  ig_soft_disc(out, W * 0.5f, H * 0.5f, 760.0f, 1.0f, ig_hex(0x141a26, 0.9f));
  dither_on_export(png, 4);
}

void ig_paint_bluebg(ig_image* out, ig_png_options* png) {
  const ig_rgba top = ig_hex(IG_POOL_LIGHT), mid = ig_hex(0x1667C8), bottom = ig_hex(IG_POOL_DEEP);
  *out = ig_image_make(W, H, top);
  ig_shade(out, [&](float, float y) { return gradient3(top, mid, bottom, 0.45f, y / H); });
  ig_shade(out, [&](float x, float y) {
    const float depth = y / H;
    // Ridged noise makes the bright web of caustics, fading with depth.
    const float n = ig_fbm(x / 90.0f, y / 60.0f, 3, 401);
    const float ridge = 1.0f - std::fabs(2.0f * n - 1.0f);
    const float c = std::pow(ridge, 8.0f) * (1.0f - ig_smoothstep(0.0f, 0.55f, depth));
    return ig_hex(0xE6F7FF, 0.55f * c);
  });
  // Slanted shafts of light from the surface.
  ig_shade(out, [&](float x, float y) {
    const float u = x + y * 0.35f;
    const float s = ig_fbm(u / 140.0f, 0.5f, 2, 402);
    const float shaft = ig_smoothstep(0.55f, 0.85f, s) * (1.0f - ig_smoothstep(0.0f, 0.9f, y / H));
    return ig_hex(0xCFEFFF, 0.22f * shaft);
  });
  bokeh(out, 403, 34, 16.0f, 90.0f, ig_hex(0xD8F0FF), 0.04f, 0.12f);
  bubbles(out, 404, 110, 2.0f, 13.0f, ig_hex(0xF0FAFF, 0.7f), 1.8f);
  vignette(out, ig_hex(0x041438), 0.55f, 0.5f);
  dither_on_export(png, 5);
}

void ig_paint_audience(ig_image* out, ig_png_options* png) {
  // The stage: dark above, a hot orange glow at the horizon.
  const float horizon = H * 0.62f;
  *out = ig_image_make(W, H, ig_hex(0x05070D));
  ig_shade(out, [&](float x, float y) {
    const float d = std::hypot((x - W * 0.5f) / 900.0f, (y - horizon) / 300.0f);
    const float glow = std::exp(-d * d * 3.0f);
    const ig_rgba base = ig_mix(ig_hex(0x0A0C1C), ig_hex(0x2A1030), ig_clamp01(y / horizon));
    return ig_mix(base, ig_hex(0xFF8A1A), glow * 0.95f);
  });
  ig_soft_disc(out, W * 0.5f, horizon, 240.0f, 1.0f, ig_hex(0xFFE8B0, 0.8f));
  // Light beams from lamps on the truss, crossing the haze.
  struct Beam {
    float x, angle, width;
    uint32_t colour;
  };
  const Beam beams[] = {{140, 0.42f, 0.09f, IG_POOL_LIGHT}, {360, 0.18f, 0.07f, IG_AMBER},
                        {560, -0.05f, 0.08f, 0xFFFFFF},     {720, 0.05f, 0.08f, 0xFFFFFF},
                        {920, -0.2f, 0.07f, IG_AMBER},      {1140, -0.45f, 0.09f, IG_POOL_LIGHT}};
  for (const Beam& b : beams) {
    const float lx = b.x, ly = -10.0f;
    const float dx = std::sin(b.angle), dy = std::cos(b.angle);
    ig_shade(out, [&](float x, float y) {
      const float px = x - lx, py = y - ly;
      const float along = px * dx + py * dy;
      if (along <= 0.0f) return ig_rgba{0, 0, 0, 0};
      const float across = std::fabs(px * dy - py * dx);
      const float spread = along * b.width + 6.0f;
      const float core = 1.0f - ig_smoothstep(0.0f, spread, across);
      if (core <= 0.0f) return ig_rgba{0, 0, 0, 0};
      const float haze = 0.6f + 0.4f * ig_fbm(x / 120.0f, y / 80.0f, 3, 501);
      const float fade = 1.0f - ig_smoothstep(200.0f, 760.0f, along);
      return ig_hex(b.colour, 0.32f * core * core * haze * fade);
    });
    ig_soft_disc(out, lx, 8.0f, 26.0f, 1.0f, ig_hex(0xFFFFFF, 0.9f));
    ig_soft_disc(out, lx, 8.0f, 9.0f, 0.2f, ig_hex(0xFFFFFF, 1.0f));
  }
  // The crowd in three rows, back to front: smaller and hazier at the back.
  struct Row {
    float base, head, spacing, haze;
  };
  const Row rows[] = {{H * 0.78f, 15.0f, 34.0f, 0.45f},
                      {H * 0.90f, 23.0f, 52.0f, 0.22f},
                      {H * 1.04f, 36.0f, 84.0f, 0.0f}};
  ig_rng rng = ig_rng_make(777);
  for (const Row& row : rows) {
    const ig_rgba ink = ig_mix(ig_hex(IG_INK), ig_hex(0x5A2A2A), row.haze);
    for (float x = -row.spacing * 0.5f; x < W + row.spacing; x += row.spacing) {
      const float px = x + ig_rng_range(&rng, -0.3f, 0.3f) * row.spacing;
      const float hr = row.head * ig_rng_range(&rng, 0.85f, 1.15f);
      const float hy = row.base - hr * ig_rng_range(&rng, 3.2f, 4.2f);
      const float sw = hr * ig_rng_range(&rng, 1.9f, 2.4f);  // half shoulder width
      const float sy = hy + hr * 1.7f;                         // shoulder line
      const float roll = ig_rng_range(&rng, 0, 1);
      const int arms = roll < 0.3f ? 1 : (roll < 0.45f ? 2 : 0);
      const bool phone = ig_rng_range(&rng, 0, 1) < 0.35f;
      float hand[2][2];
      for (int a = 0; a < 2; ++a) {
        const float side = a == 0 ? 1.0f : -1.0f;
        const float ang = ig_rng_range(&rng, 0.05f, 0.45f) * side;
        const float len = hr * ig_rng_range(&rng, 4.2f, 5.2f);
        hand[a][0] = px + side * sw * 0.8f + std::sin(ang) * len;
        hand[a][1] = sy - std::cos(ang) * len;
      }
      auto sdf = [&](float fx, float fy) {
        float d = ig_sd_ellipse(fx, fy, px, hy, hr * 0.88f, hr);
        d = ig_smin(d, ig_sd_capsule(fx, fy, px, hy + hr, px, sy, hr * 0.42f, hr * 0.5f), hr * 0.3f);
        d = ig_smin(d, ig_sd_box(fx, fy, px, sy + H * 0.25f, sw, H * 0.25f, hr * 0.9f), hr * 0.5f);
        for (int a = 0; a < arms; ++a) {
          const float side = a == 0 ? 1.0f : -1.0f;
          const float shx = px + side * sw * 0.8f;
          d = ig_smin(d, ig_sd_capsule(fx, fy, shx, sy + hr * 0.3f, hand[a][0], hand[a][1],
                                       hr * 0.42f, hr * 0.3f),
                      hr * 0.3f);
          d = std::min(d, ig_sd_circle(fx, fy, hand[a][0], hand[a][1] - hr * 0.2f, hr * 0.4f));
          if (phone && a == 0)
            d = std::min(d, ig_sd_box(fx, fy, hand[a][0], hand[a][1] - hr * 0.75f, hr * 0.32f,
                                      hr * 0.55f, 2.0f));
        }
        return d;
      };
      // Only the person's own box: shoulders, head and whichever hands are up.
      float bx0 = px - sw - hr, bx1 = px + sw + hr, by0 = hy - hr * 1.2f;
      for (int a = 0; a < arms; ++a) {
        bx0 = std::min(bx0, hand[a][0] - hr);
        bx1 = std::max(bx1, hand[a][0] + hr);
        by0 = std::min(by0, hand[a][1] - hr * 1.5f);
      }
      ig_fill_sdf(out, int(bx0) - 2, int(by0) - 2, int(bx1) + 3, H, sdf,
                  [&](float, float) { return ink; });
      // A phone screen glows in the dark.
      if (phone && arms > 0)
        ig_soft_disc(out, hand[0][0], hand[0][1] - hr * 0.75f, hr * 0.28f, 0.3f,
                     ig_hex(0xCFE8FF, 0.9f - row.haze));
    }
  }
  // Haze over everything and a dark frame, as on a TV seen across a room.
  ig_shade(out, [&](float x, float y) {
    const float n = ig_fbm(x / 200.0f, y / 140.0f, 3, 502);
    return ig_hex(0xFFB070, 0.06f * n);
  });
  vignette(out, ig_hex(0x000000), 0.7f, 0.4f);
  dither_on_export(png, 6);
}
