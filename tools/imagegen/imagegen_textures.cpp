// imagegen_textures: textures that repeat (power-of-two sizes) and the
// post-processing overlays.
//
//   noise.png     256x256, opaque, tiles seamlessly in both directions.
//                 R: smooth fractal noise (cells of 32 px), G: finer fractal
//                 noise (cells of 16 px), B: per-pixel white noise (grain),
//                 A: 255.
//   mono.png      512x512 grey, tiles seamlessly: soda bubbles (bright rims
//                 and specular dots) over a dark, softly mottled ground; use
//                 any channel as a mask.
//   vintage8.png  1024x1024, tiles: a multiply overlay. White means "leave
//                 the picture alone"; dust specks, hairs and vertical
//                 scratches are dark, the print's mottle a faint grey.
//   vintage8b.png 1024x1024, tiles: an additive overlay. Black means "leave
//                 alone"; bright specks, scratches and flecks are white.
//   damage.png    1024x512, tiles: VHS damage for adding: black with
//                 horizontal tracking bands of streaky noise split into red
//                 and blue fringes, white drop-out streaks and a heavy
//                 tracking band.
//   twister.png   256x512: the can label wrapped around the twister column.
//                 S runs across one face (clamped by the show), T along the
//                 column and repeats: everything here is periodic in y with
//                 period 512, so the column shows no seam.
//
// Seamless tiling comes from two rules: noise is sampled with a period that
// divides the texture, and every shape near an edge is drawn again one
// texture size away (ig_wrapped below).
//
// Threads: each painter runs on the worker thread that runs its recipe.
#include "imagegen.h"

#include <algorithm>
#include <cmath>

// ---- Constants ------------------------------------------------------------------

namespace {

constexpr float kPi = 3.14159265358979f;

// ---- Internal functions ---------------------------------------------------------

// Calls draw(dx, dy) for the nine copies of a shape, one texture size apart,
// so that anything crossing an edge reappears on the opposite one.
template <class Draw>
void wrapped(const ig_image* img, Draw draw) {
  for (int j = -1; j <= 1; ++j)
    for (int i = -1; i <= 1; ++i) draw(float(i * img->width), float(j * img->height));
}

// An irregular dust speck: a disc whose radius wobbles with angle.
void speck(ig_image* img, float cx, float cy, float r, ig_rgba colour, uint32_t seed) {
  const float p1 = ig_hash01(int(seed), 1, 77) * 2 * kPi, p2 = ig_hash01(int(seed), 2, 77) * 2 * kPi;
  const int reach = int(r * 1.6f) + 2;
  ig_fill_sdf(img, int(cx) - reach, int(cy) - reach, int(cx) + reach + 1, int(cy) + reach + 1,
              [&](float x, float y) {
                const float a = std::atan2(y - cy, x - cx);
                const float rr = r * (1.0f + 0.25f * std::sin(a * 3 + p1) + 0.15f * std::sin(a * 5 + p2));
                return std::hypot(x - cx, y - cy) - rr;
              },
              [&](float, float) { return colour; });
}

// A hair: a smooth random walk drawn as a thin stroke.
void hair(ig_image* img, ig_rng* rng, float x, float y, ig_rgba colour) {
  float ang = ig_rng_range(rng, 0, 2 * kPi);
  const float width = ig_rng_range(rng, 0.5f, 1.0f);
  const int steps = 30 + int(ig_rng_range(rng, 0, 40));
  for (int s = 0; s < steps; ++s) {
    ang += ig_rng_range(rng, -0.35f, 0.35f);
    const float nx = x + std::cos(ang) * 3.0f, ny = y + std::sin(ang) * 3.0f;
    const float ax = x, ay = y;
    ig_fill_sdf(img, int(std::min(ax, nx)) - 3, int(std::min(ay, ny)) - 3,
                int(std::max(ax, nx)) + 4, int(std::max(ay, ny)) + 4,
                [&](float px, float py) { return ig_sd_capsule(px, py, ax, ay, nx, ny, width, width); },
                [&](float, float) { return colour; });
    x = nx;
    y = ny;
  }
}

// A vertical scratch over the full height, wobbling periodically so that it
// meets itself at the top and bottom edges.
void scratch(ig_image* img, float x, float width, ig_rgba colour, uint32_t seed) {
  const float h = float(img->height);
  const float amp = 2.0f + 6.0f * ig_hash01(int(seed), 3, 91);
  const float phase = ig_hash01(int(seed), 4, 91) * 2 * kPi;
  for (int y = 0; y < img->height; ++y) {
    const float fy = y + 0.5f;
    const float cx = x + amp * std::sin(2 * kPi * fy / h + phase);
    // Breaks along the scratch, periodic in y.
    const float on = ig_smoothstep(0.45f, 0.6f, ig_fbm_tiled(fy / 64.0f, 0.5f + seed, int(h / 64), 2, seed));
    if (on <= 0.0f) continue;
    for (int xi = int(cx - width - 2); xi <= int(cx + width + 2); ++xi) {
      const int wx = ((xi % img->width) + img->width) % img->width;
      const float c = ig_cover(std::fabs(xi + 0.5f - cx) - width);
      if (c > 0.0f) ig_blend(img, wx, y, colour, c * on);
    }
  }
}

// One film overlay: marks in `mark` colour over a `ground` colour.
void film_overlay(ig_image* out, ig_rgba ground, ig_rgba mark, uint64_t seed, bool mottle) {
  constexpr int S = 1024;
  *out = ig_image_make(S, S, ground);
  if (mottle) {
    ig_shade(out, [&](float x, float y) {
      const float n = ig_fbm_tiled(x / 128.0f, y / 128.0f, S / 128, 4, uint32_t(seed));
      return ig_with_alpha(mark, 0.06f * ig_smoothstep(0.5f, 0.8f, n));
    });
  }
  ig_rng rng = ig_rng_make(seed);
  for (int i = 0; i < 320; ++i) {
    const float x = ig_rng_range(&rng, 0, S), y = ig_rng_range(&rng, 0, S);
    const float r = 0.6f + 3.4f * std::pow(ig_rng_range(&rng, 0, 1), 3.0f);
    const float a = ig_rng_range(&rng, 0.45f, 0.95f);
    const uint32_t id = ig_rng_next(&rng);
    wrapped(out, [&](float dx, float dy) { speck(out, x + dx, y + dy, r, ig_with_alpha(mark, a), id); });
  }
  for (int i = 0; i < 9; ++i) {
    const float x = ig_rng_range(&rng, 0, S), y = ig_rng_range(&rng, 0, S);
    const uint64_t hs = ig_rng_next(&rng);
    const float a = ig_rng_range(&rng, 0.45f, 0.8f);
    wrapped(out, [&](float dx, float dy) {
      ig_rng local = ig_rng_make(hs);
      hair(out, &local, x + dx, y + dy, ig_with_alpha(mark, a));
    });
  }
  for (int i = 0; i < 5; ++i) {
    const float x = ig_rng_range(&rng, 0, S);
    const float w = ig_rng_range(&rng, 0.4f, 1.1f);
    const float a = ig_rng_range(&rng, 0.25f, 0.6f);
    scratch(out, x, w, ig_with_alpha(mark, a), ig_rng_next(&rng) & 0xFFFF);
  }
}

}  // namespace

// ---- Public functions -----------------------------------------------------------

void ig_paint_noise(ig_image* out, ig_png_options*) {
  constexpr int S = 256;
  *out = ig_image_make(S, S, {0, 0, 0, 1});
  auto stretch = [](float v) { return ig_clamp01((v - 0.5f) * 1.9f + 0.5f); };
  for (int y = 0; y < S; ++y)
    for (int x = 0; x < S; ++x) {
      const float fx = x + 0.5f, fy = y + 0.5f;
      float* p = &out->px[(size_t(y) * S + x) * 4];
      p[0] = stretch(ig_fbm_tiled(fx / 32.0f, fy / 32.0f, S / 32, 5, 11));
      p[1] = stretch(ig_fbm_tiled(fx / 16.0f, fy / 16.0f, S / 16, 4, 12));
      p[2] = ig_hash01(x, y, 13);
      p[3] = 1.0f;
    }
}

void ig_paint_mono(ig_image* out, ig_png_options*) {
  constexpr int S = 512;
  *out = ig_image_make(S, S, {0, 0, 0, 1});
  ig_shade(out, [&](float x, float y) {
    const float n = ig_fbm_tiled(x / 64.0f, y / 64.0f, S / 64, 4, 21);
    return ig_hex(0xFFFFFF, 0.16f * n);
  });
  ig_rng rng = ig_rng_make(22);
  for (int i = 0; i < 150; ++i) {
    const float x = ig_rng_range(&rng, 0, S), y = ig_rng_range(&rng, 0, S);
    const float r = 3.0f + 40.0f * std::pow(ig_rng_range(&rng, 0, 1), 2.6f);
    const float a = ig_rng_range(&rng, 0.55f, 1.0f);
    wrapped(out, [&](float dx, float dy) { ig_bubble(out, x + dx, y + dy, r, ig_hex(0xFFFFFF, a)); });
  }
}

void ig_paint_vintage(ig_image* out, ig_png_options*) {
  film_overlay(out, ig_hex(0xFFFFFF), ig_hex(0x1E140C), 31, true);
}

void ig_paint_vintage_b(ig_image* out, ig_png_options*) {
  film_overlay(out, ig_hex(0x000000), ig_hex(0xFFFFFF), 32, false);
}

void ig_paint_damage(ig_image* out, ig_png_options*) {
  constexpr int W = 1024, H = 512;
  *out = ig_image_make(W, H, ig_hex(0x000000));
  ig_rng rng = ig_rng_make(41);
  // Tracking bands: streaky noise, stretched along x, with chroma fringes.
  for (int b = 0; b < 16; ++b) {
    const float y0 = ig_rng_range(&rng, 0, H);
    const float h = 2.0f + 22.0f * std::pow(ig_rng_range(&rng, 0, 1), 2.0f);
    const float gain = ig_rng_range(&rng, 0.35f, 1.0f);
    const uint32_t seed = ig_rng_next(&rng);
    for (int yi = int(y0); yi < int(y0 + h) + 1; ++yi) {
      const int y = yi % H;
      const float edge = ig_smoothstep(0.0f, 1.5f, yi - y0) * ig_smoothstep(0.0f, 1.5f, y0 + h - yi);
      for (int x = 0; x < W; ++x) {
        auto streak = [&](int sx) {
          const int wx = ((sx % W) + W) % W;
          const float n = ig_fbm_tiled(wx / 64.0f, yi * 0.7f, W / 64, 3, seed);
          return ig_smoothstep(0.5f, 0.8f, n);
        };
        const float g = streak(x), r = streak(x - 4), bl = streak(x + 4);
        const float a = edge * gain;
        float* p = &out->px[(size_t(y) * W + x) * 4];
        p[0] = std::min(1.0f, p[0] + a * (0.55f * g + 0.45f * r));
        p[1] = std::min(1.0f, p[1] + a * g * 0.9f);
        p[2] = std::min(1.0f, p[2] + a * (0.55f * g + 0.45f * bl));
      }
    }
  }
  // Drop-outs: short bright streaks with soft ends.
  for (int i = 0; i < 140; ++i) {
    const float x = ig_rng_range(&rng, 0, W), y = float(int(ig_rng_range(&rng, 0, H))) + 0.5f;
    const float len = 8.0f + 120.0f * std::pow(ig_rng_range(&rng, 0, 1), 2.0f);
    const float th = ig_rng_range(&rng, 0.5f, 1.4f);
    const float a = ig_rng_range(&rng, 0.5f, 1.0f);
    wrapped(out, [&](float dx, float dy) {
      const float ax = x + dx, ay = y + dy;
      ig_fill_sdf(out, int(ax - 4), int(ay - 4), int(ax + len + 5), int(ay + 5),
                  [&](float px, float py) { return ig_sd_capsule(px, py, ax, ay, ax + len, ay, th, th * 0.4f); },
                  [&](float, float) { return ig_hex(0xFFFFFF, a); });
    });
  }
  // One heavy tracking band with a ragged top edge.
  const float band_y = H * 0.78f, band_h = 26.0f;
  for (int y = int(band_y - 12); y < int(band_y + band_h); ++y)
    for (int x = 0; x < W; ++x) {
      const float rag = 10.0f * ig_fbm_tiled(x / 32.0f, 3.5f, W / 32, 3, 42);
      const float inside = ig_smoothstep(band_y - rag - 1.0f, band_y - rag + 1.0f, float(y)) *
                           (1.0f - ig_smoothstep(band_y + band_h - 3.0f, band_y + band_h, float(y)));
      if (inside <= 0.0f) continue;
      const float snow = ig_hash01(x, y, 43);
      const float streak = ig_fbm_tiled(x / 32.0f, y * 0.9f, W / 32, 2, 44);
      const float v = inside * (0.25f * snow + 0.6f * ig_smoothstep(0.45f, 0.75f, streak));
      ig_blend(out, x, y, ig_hex(0xE8E8FF), v);
    }
}

void ig_paint_twister(ig_image* out, ig_png_options* png) {
  constexpr int W = 256, H = 512;
  *out = ig_image_make(W, H, ig_hex(IG_ORANGE));
  // Body: orange, brightest down the middle of the face, periodic shimmer along T.
  ig_shade(out, [&](float x, float y) {
    const float u = x / W;
    const float across = std::sin(u * kPi);
    const float shimmer = 0.5f + 0.5f * std::sin(2 * kPi * y / H * 3.0f);
    const ig_rgba c = ig_mix(ig_hex(IG_EMBER), ig_hex(IG_AMBER), ig_clamp01(across * 0.9f + 0.1f * shimmer));
    return c;
  });
  // A white ribbon winding along the can, two turns per repeat.
  ig_shade(out, [&](float x, float y) {
    const float cx = W * 0.5f + 72.0f * std::sin(2 * kPi * y / H * 2.0f);
    const float d = std::fabs(x - cx);
    const float ribbon = ig_cover(d - 20.0f);
    const float rim = ig_cover(std::fabs(d - 20.0f) - 2.2f);
    return ig_with_alpha(ig_mix(ig_hex(0xFFFFFF), ig_hex(IG_NAVY), rim), std::max(ribbon, rim));
  });
  // Bubbles, wrapped along T.
  ig_rng rng = ig_rng_make(51);
  for (int i = 0; i < 40; ++i) {
    const float x = ig_rng_range(&rng, 16, W - 16), y = ig_rng_range(&rng, 0, H);
    const float r = ig_rng_range(&rng, 2.0f, 9.0f);
    for (int k = -1; k <= 1; ++k) ig_bubble(out, x, y + k * H, r, ig_hex(0xFFFFFF, 0.85f));
  }
  // The brand, rotated to read along the column, once per repeat.
  ig_font* font = ig_font_open(IG_FONT_LOBSTER);
  if (font) {
    const float size = ig_text_fit(font, "Sprox", 360, 170, 0.0f, 1.0f);
    const ig_text_style st = ig_house_lettering(IG_FIZZ, 6.0f, 5, 5, 2, 0.6f);
    const ig_mask m = ig_text_mask(font, size, "Sprox", 0.0f, 1.0f, 24);
    ig_font_close(font);
    ig_image word = ig_image_make(m.width, m.height, {1, 1, 1, 0});
    ig_draw_text(&word, &m, 0, 0, &st);
    // Rotate a quarter turn anticlockwise: the word reads from the bottom up.
    ig_image turned = ig_image_make(word.height, word.width, {0, 0, 0, 0});
    for (int y = 0; y < turned.height; ++y)
      for (int x = 0; x < turned.width; ++x) {
        const float* s = &word.px[(size_t(x) * word.width + (word.width - 1 - y)) * 4];
        std::copy_n(s, 4, &turned.px[(size_t(y) * turned.width + x) * 4]);
      }
    const int ox = (W - turned.width) / 2, oy = (H - turned.height) / 2;
    for (int k = -1; k <= 1; ++k) ig_draw_image(out, &turned, ox, oy + k * H, 1.0f);
  }
  // Navy rims where one face meets the next.
  ig_shade(out, [&](float x, float) {
    const float d = std::min(x, W - x);
    return ig_hex(IG_NAVY, ig_cover(d - 5.0f));
  });
  png->dither = false;
}
