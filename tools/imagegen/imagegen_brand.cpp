// imagegen_brand: the Sprox logo in three layers and the smaller marks.
//
//   logo0a.png      1024x512, the back layer: a soft glow and an orange soda
//                   splash with flying droplets
//   logo0b.png      1024x512, the word "Sprox" in Lobster, white with a navy
//                   rim and shadow, placed on the splash
//   logo0c.png      1024x512, the shine layer: gloss on the splash, fizz
//                   bubbles and four sparkles
//                   The three layers line up when drawn at the same place;
//                   all keep at least 16 transparent pixels to every edge,
//                   since the show clamps them to a transparent border.
//   sugaricon2.png  256x256, the channel bug: a sugar cube with fizz bubbles
//   grisp.png       512x512, a round starburst seal reading "GRISP"
//   cigburn.png     256x256, a cigarette-burn cue mark: a dark ragged disc
//                   with an ember rim
//   nutrician.png   512x768, opaque: a nutrition-facts label for the can
//   closing0.png    1280x720, the closing card's upper part: the brand on an
//                   orange disc with rays (text_closing.png adds the lower third)
//
// Threads: each painter runs on the worker thread that runs its recipe.
#include "imagegen.h"

#include <algorithm>
#include <cmath>

// ---- Constants ------------------------------------------------------------------

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr int kLogoW = 1024, kLogoH = 512;      // pixels, each logo layer
constexpr float kSplashX = 512, kSplashY = 262;  // pixels, splash centre
constexpr float kSplashRX = 372, kSplashRY = 156;  // pixels, splash radii before the wobble

// ---- Internal functions ---------------------------------------------------------

// The splash outline's radius factor at an angle: a wobbly ellipse with a few
// crown spikes, the same in every layer.
float splash_wobble(float ang) {
  float f = 1.0f + 0.05f * std::sin(ang * 5.0f + 0.7f) + 0.035f * std::sin(ang * 9.0f + 2.1f);
  // Spikes where the soda splashes out.
  for (int k = 0; k < 7; ++k) {
    const float at = -kPi + (k + 0.5f) * (2 * kPi / 7) + 0.25f * std::sin(k * 3.1f);
    float d = std::fabs(ang - at);
    d = std::min(d, 2 * kPi - d);
    f += 0.10f * std::exp(-d * d * 320.0f);
  }
  return f;
}

float splash_sdf(float x, float y) {
  const float dx = (x - kSplashX) / kSplashRX, dy = (y - kSplashY) / kSplashRY;
  const float ang = std::atan2(dy, dx);
  const float r = std::hypot(dx, dy);
  // Scale back to pixels with the smaller radius so the edge stays crisp.
  return (r - splash_wobble(ang)) * kSplashRY;
}

struct Droplet {
  float x, y, r;
};

std::vector<Droplet> droplets() {
  std::vector<Droplet> out;
  ig_rng rng = ig_rng_make(601);
  for (int i = 0; i < 16; ++i) {
    const float ang = ig_rng_range(&rng, -kPi, kPi);
    const float reach = ig_rng_range(&rng, 1.22f, 1.42f);
    const float r = ig_rng_range(&rng, 5.0f, 16.0f);
    float x = kSplashX + std::cos(ang) * kSplashRX * reach;
    float y = kSplashY + std::sin(ang) * kSplashRY * reach;
    x = std::clamp(x, 16.0f + r + 4, kLogoW - 16.0f - r - 4);
    y = std::clamp(y, 16.0f + r + 4, kLogoH - 16.0f - r - 4);
    out.push_back({x, y, r});
  }
  return out;
}

// The word's glyph mask and its top-left on the logo canvas.
bool logo_word(ig_mask* mask, int* ox, int* oy, int margin) {
  ig_font* font = ig_font_open(IG_FONT_LOBSTER);
  if (!font) return false;
  const float size = ig_text_fit(font, "Sprox", 640, 250, 0.0f, 1.0f);
  *mask = ig_text_mask(font, size, "Sprox", 0.0f, 1.0f, margin);
  ig_font_close(font);
  *ox = int(kSplashX - mask->width * 0.5f);
  *oy = int(kSplashY - 8 - mask->height * 0.5f);
  return true;
}

// A four-pointed sparkle with a soft glow.
void sparkle(ig_image* img, float cx, float cy, float r, ig_rgba colour) {
  ig_soft_disc(img, cx, cy, r * 0.7f, 1.0f, ig_with_alpha(colour, colour.a * 0.5f));
  const int reach = int(r) + 2;
  ig_fill_sdf(img, int(cx) - reach, int(cy) - reach, int(cx) + reach + 1, int(cy) + reach + 1,
              [&](float x, float y) {
                const float dx = std::fabs(x - cx), dy = std::fabs(y - cy);
                // Concave star: the points thin out towards their tips.
                const float s = std::sqrt(dx) + std::sqrt(dy);
                return (s - std::sqrt(r)) * std::sqrt(r) * 0.9f;
              },
              [&](float, float) { return colour; });
}

// The sugar cube's corners in isometric view around (cx, cy) with edge s.
void cube_faces(float cx, float cy, float s, float top[8], float left[8], float right[8]) {
  const float h = s * 0.866f;
  const float t[8] = {cx, cy - s, cx + h, cy - s * 0.5f, cx, cy, cx - h, cy - s * 0.5f};
  const float l[8] = {cx - h, cy - s * 0.5f, cx, cy, cx, cy + s, cx - h, cy + s * 0.5f};
  const float r[8] = {cx, cy, cx + h, cy - s * 0.5f, cx + h, cy + s * 0.5f, cx, cy + s};
  std::copy_n(t, 8, top);
  std::copy_n(l, 8, left);
  std::copy_n(r, 8, right);
}

// Draws a text left- or right-aligned on a baseline (align 0 = left edge at
// x, 1 = right edge at x).
void text_on_baseline(ig_image* img, ig_font* font, float size, const char* text, float x,
                      float baseline, float align, ig_rgba colour) {
  const ig_text_box box = ig_text_measure(font, size, text, 0.0f, 1.0f);
  const ig_mask m = ig_text_mask(font, size, text, 0.0f, 1.0f, 1);
  const float w = box.x1 - box.x0;
  ig_fill_mask(img, &m, int(std::lround(x - align * w - 1)), int(std::lround(baseline + box.y0 - 1)),
               colour);
}

void rule(ig_image* img, float x0, float x1, float y, float thickness) {
  ig_fill_sdf(img, int(x0) - 1, int(y - thickness) - 1, int(x1) + 2, int(y + thickness) + 2,
              [&](float x, float py) {
                return ig_sd_box(x, py, (x0 + x1) * 0.5f, y, (x1 - x0) * 0.5f, thickness * 0.5f, 0);
              },
              [&](float, float) { return ig_hex(0x111111); });
}

}  // namespace

// ---- Public functions: the logo -------------------------------------------------

void ig_paint_logo_back(ig_image* out, ig_png_options* png) {
  *out = ig_image_make(kLogoW, kLogoH, {1, 1, 1, 0});
  // Glow behind the splash, elliptical, fading well before the edges.
  ig_shade(out, [&](float x, float y) {
    const float d = std::hypot((x - kSplashX) / 470.0f, (y - kSplashY) / 225.0f);
    return ig_hex(0xFFE2A0, 0.55f * (1.0f - ig_smoothstep(0.3f, 1.0f, d)));
  });
  // Ember rim, then the splash body with a top-to-bottom amber-orange gradient.
  ig_fill_sdf(out, 0, 0, kLogoW, kLogoH, [](float x, float y) { return splash_sdf(x, y) - 7.0f; },
              [](float, float) { return ig_hex(IG_EMBER); });
  ig_fill_sdf(out, 0, 0, kLogoW, kLogoH, [](float x, float y) { return splash_sdf(x, y); },
              [](float, float y) {
                const float t = ig_clamp01((y - (kSplashY - kSplashRY)) / (2.2f * kSplashRY));
                return ig_mix(ig_hex(IG_AMBER), ig_hex(IG_ORANGE), t);
              });
  for (const Droplet& d : droplets()) {
    ig_soft_disc(out, d.x, d.y, d.r + 3.0f, 0.0f, ig_hex(IG_EMBER));
    ig_soft_disc(out, d.x, d.y, d.r, 0.0f, ig_hex(IG_ORANGE));
  }
  png->fringe = ig_hex(IG_ORANGE);
}

void ig_paint_logo_word(ig_image* out, ig_png_options* png) {
  *out = ig_image_make(kLogoW, kLogoH, {1, 1, 1, 0});
  png->fringe = ig_hex(0xFFFFFF);
  ig_mask m;
  int ox = 0, oy = 0;
  if (!logo_word(&m, &ox, &oy, 40)) return;
  ig_text_style st = ig_house_lettering(0xFFF1D6, 10.0f, 9, 11, 3, 0.75f);
  st.shadow_spread = 1;
  ig_draw_text(out, &m, ox, oy, &st);
}

void ig_paint_logo_shine(ig_image* out, ig_png_options* png) {
  *out = ig_image_make(kLogoW, kLogoH, {1, 1, 1, 0});
  // Gloss: a crescent just inside the splash's upper edge.
  ig_fill_sdf(out, 0, 0, kLogoW, kLogoH,
              [](float x, float y) {
                const float inside = splash_sdf(x, y) + 14.0f;  // 14 px in from the edge
                const float band = std::fabs(inside) - 7.0f;
                return band;
              },
              [](float x, float y) {
                // Only on the upper left, fading out along the arc.
                const float ang = std::atan2((y - kSplashY) / kSplashRY, (x - kSplashX) / kSplashRX);
                const float w = std::exp(-std::pow((ang + 2.2f) / 0.55f, 2.0f));
                return ig_hex(0xFFFFFF, 0.75f * w);
              });
  for (const Droplet& d : droplets())
    ig_soft_disc(out, d.x - d.r * 0.35f, d.y - d.r * 0.35f, d.r * 0.3f, 0.3f, ig_hex(0xFFFFFF, 0.9f));
  // Fizz rising around the word.
  ig_rng rng = ig_rng_make(602);
  for (int i = 0; i < 34; ++i) {
    const float ang = ig_rng_range(&rng, -kPi, kPi);
    const float reach = ig_rng_range(&rng, 0.55f, 1.15f);
    const float x = kSplashX + std::cos(ang) * kSplashRX * reach;
    const float y = std::clamp(kSplashY + std::sin(ang) * kSplashRY * reach * 1.2f, 40.0f, kLogoH - 40.0f);
    ig_bubble(out, x, y, ig_rng_range(&rng, 3.0f, 13.0f), ig_hex(0xFFFFFF, 0.95f));
  }
  const float stars[4][3] = {{250, 140, 26}, {790, 120, 34}, {840, 360, 20}, {200, 370, 18}};
  for (const auto& s : stars) sparkle(out, s[0], s[1], s[2], ig_hex(0xFFFFFF));
  png->fringe = ig_hex(0xFFFFFF);
}

// ---- Public functions: marks ----------------------------------------------------

void ig_paint_sugaricon(ig_image* out, ig_png_options* png) {
  constexpr int S = 256;
  *out = ig_image_make(S, S, {1, 1, 1, 0});
  float top[8], left[8], right[8];
  const float cx = 112, cy = 148, edge = 78;
  cube_faces(cx, cy, edge, top, left, right);
  const float hex[12] = {top[0], top[1], top[2], top[3], right[4], right[5],
                         left[4], left[5], left[6], left[7], top[6], top[7]};
  // Soft shadow, navy rim, then the three faces with a sugar-grain speckle.
  ig_image shadow = ig_image_make(S, S, {0, 0, 0, 0});
  ig_fill_sdf(&shadow, 0, 0, S, S, [&](float x, float y) { return ig_sd_polygon(x, y - 8, hex, 6) - 9.0f; },
              [](float, float) { return ig_hex(IG_NAVY, 0.5f); });
  ig_image_blur(&shadow, 4);
  ig_draw_image(out, &shadow, 0, 0, 1.0f);
  ig_fill_sdf(out, 0, 0, S, S, [&](float x, float y) { return ig_sd_polygon(x, y, hex, 6) - 7.0f; },
              [](float, float) { return ig_hex(IG_NAVY); });
  const uint32_t faces[3] = {0xFFFFFF, 0xE6EDF7, 0xC4D3E8};
  const float* polys[3] = {top, left, right};
  for (int f = 0; f < 3; ++f)
    ig_fill_sdf(out, 0, 0, S, S,
                [&](float x, float y) {
                  // Inset each face a little so a thin navy seam shows between them.
                  return std::max(ig_sd_polygon(x, y, polys[f], 4) + 1.5f, ig_sd_polygon(x, y, hex, 6) - 3.0f);
                },
                [&](float x, float y) {
                  const float grain = ig_hash01(int(x), int(y), 700 + f);
                  return ig_mix(ig_hex(faces[f]), ig_hex(0xA8B8D0), grain > 0.86f ? 0.35f : 0.0f);
                });
  // Fizz bubbles rising off the top right.
  const float bubbles[3][3] = {{190, 62, 15}, {214, 28, 10}, {168, 24, 7}};
  for (const auto& b : bubbles) {
    ig_soft_disc(out, b[0], b[1], b[2] + 4.0f, 0.0f, ig_hex(IG_NAVY));
    ig_soft_disc(out, b[0], b[1], b[2], 0.0f, ig_hex(IG_AMBER));
    ig_soft_disc(out, b[0] - b[2] * 0.35f, b[1] - b[2] * 0.35f, b[2] * 0.3f, 0.2f, ig_hex(0xFFFFFF));
  }
  png->fringe = ig_hex(IG_NAVY);
}

void ig_paint_grisp(ig_image* out, ig_png_options* png) {
  constexpr int S = 512;
  const float c = S * 0.5f;
  *out = ig_image_make(S, S, {1, 1, 1, 0});
  // Starburst edge: 28 points.
  constexpr int kPoints = 28;
  std::vector<float> star;
  for (int i = 0; i < kPoints * 2; ++i) {
    const float ang = i * kPi / kPoints - kPi * 0.5f;
    const float r = (i % 2) ? 214.0f : 240.0f;
    star.push_back(c + std::cos(ang) * r);
    star.push_back(c + std::sin(ang) * r);
  }
  ig_image shadow = ig_image_make(S, S, {0, 0, 0, 0});
  ig_fill_sdf(&shadow, 0, 0, S, S,
              [&](float x, float y) { return ig_sd_polygon(x - 4, y - 7, star.data(), kPoints * 2); },
              [](float, float) { return ig_hex(0x000000, 0.45f); });
  ig_image_blur(&shadow, 3);
  ig_draw_image(out, &shadow, 0, 0, 1.0f);
  ig_fill_sdf(out, 0, 0, S, S, [&](float x, float y) { return ig_sd_polygon(x, y, star.data(), kPoints * 2); },
              [](float, float) { return ig_hex(IG_POOL_DEEP); });
  ig_fill_sdf(out, 0, 0, S, S, [&](float x, float y) { return ig_sd_circle(x, y, c, c, 196); },
              [&](float, float y) { return ig_mix(ig_hex(IG_AMBER), ig_hex(IG_ORANGE), y / S); });
  ig_fill_sdf(out, 0, 0, S, S,
              [&](float x, float y) { return std::fabs(ig_sd_circle(x, y, c, c, 178)) - 4.0f; },
              [](float, float) { return ig_hex(0xFFFFFF); });
  const ig_text_style big = ig_house_lettering(IG_FIZZ, 6, 0, 6, 2, 0.6f);
  ig_text_centred(out, IG_FONT_BEBAS, "GRISP", c, c + 6, 290, 130, 8.0f, 1.0f, &big);
  ig_text_style small;
  small.fill_top = small.fill_bottom = ig_hex(IG_NAVY);
  ig_text_centred(out, IG_FONT_BEBAS, "EXTRA", c, c - 96, 140, 44, 10.0f, 1.0f, &small);
  ig_text_centred(out, IG_FONT_BEBAS, "CRISP FIZZ", c, c + 104, 210, 40, 8.0f, 1.0f, &small);
  sparkle(out, c - 108, c - 96, 14, ig_hex(0xFFFFFF));
  sparkle(out, c + 108, c - 96, 14, ig_hex(0xFFFFFF));
  png->fringe = ig_hex(IG_POOL_DEEP);
}

void ig_paint_cigburn(ig_image* out, ig_png_options* png) {
  constexpr int S = 256;
  const float c = S * 0.5f, r = 92.0f;
  *out = ig_image_make(S, S, {0, 0, 0, 0});
  auto radius = [&](float x, float y) {
    const float ang = std::atan2(y - c, x - c);
    // Ragged edge: noise around the circle (periodic in the angle).
    const float n = ig_fbm_tiled((ang + kPi) / (2 * kPi) * 16.0f, 0.5f, 16, 3, 801);
    return r * (0.93f + 0.14f * n);
  };
  // A faint scorched halo outside the edge.
  ig_image halo = ig_image_make(S, S, {0, 0, 0, 0});
  ig_fill_sdf(&halo, 0, 0, S, S, [&](float x, float y) { return std::hypot(x - c, y - c) - radius(x, y) - 6.0f; },
              [](float, float) { return ig_hex(0x2A1204, 0.6f); });
  ig_image_blur(&halo, 5);
  ig_draw_image(out, &halo, 0, 0, 1.0f);
  ig_fill_sdf(out, 0, 0, S, S, [&](float x, float y) { return std::hypot(x - c, y - c) - radius(x, y); },
              [&](float x, float y) {
                const float d = std::hypot(x - c, y - c) / radius(x, y);
                const float mottle = ig_fbm(x / 18.0f, y / 18.0f, 3, 802);
                const ig_rgba core = ig_mix(ig_hex(0x0C0603), ig_hex(0x2E1608), mottle * 0.8f);
                // Burnt brown towards the rim, a glowing ember line at the very edge.
                const ig_rgba burnt = ig_mix(core, ig_hex(0x6A300C), ig_smoothstep(0.78f, 0.95f, d));
                return ig_mix(burnt, ig_hex(IG_ORANGE), ig_smoothstep(0.95f, 1.0f, d) * 0.8f);
              });
  png->fringe = ig_hex(0x2A1204);
}

void ig_paint_nutrition(ig_image* out, ig_png_options* png) {
  constexpr int W = 512, H = 768;
  *out = ig_image_make(W, H, ig_hex(0xFFFFFF));
  png->fringe = ig_hex(0xFFFFFF);
  // The black frame of the label, 10 pixels wide.
  ig_shade(out, [&](float x, float y) {
    const float d = std::min(std::min(x, W - x), std::min(y, H - y));
    return ig_hex(0x111111, ig_cover(d - 10.0f));
  });
  ig_font* black = ig_font_open(IG_FONT_SPARTAN_BLACK);
  ig_font* bold = ig_font_open(IG_FONT_SPARTAN_BOLD);
  ig_font* regular = ig_font_open(IG_FONT_SPARTAN);
  if (!black || !bold || !regular) {
    ig_font_close(black);
    ig_font_close(bold);
    ig_font_close(regular);
    return;
  }
  const ig_rgba ink = ig_hex(0x111111);
  const float L = 34, R = W - 34;
  const float title = ig_text_fit(black, "Nutrition Facts", R - L, 80, 0.0f, 1.0f);
  text_on_baseline(out, black, title, "Nutrition Facts", L, 100, 0, ink);
  rule(out, L, R, 118, 2);
  text_on_baseline(out, regular, 26, "1 serving per can", L, 154, 0, ink);
  text_on_baseline(out, bold, 30, "Serving size", L, 192, 0, ink);
  text_on_baseline(out, bold, 30, "1 can (330 ml)", R, 192, 1, ink);
  rule(out, L, R, 214, 16);
  text_on_baseline(out, bold, 22, "Amount per serving", L, 252, 0, ink);
  text_on_baseline(out, black, 54, "Calories", L, 300, 0, ink);
  text_on_baseline(out, black, 64, "140", R, 300, 1, ink);
  rule(out, L, R, 318, 8);
  text_on_baseline(out, bold, 22, "% Daily Value*", R, 350, 1, ink);
  struct Row {
    const char* left;
    const char* right;
    bool strong;
    float indent;
  };
  const Row rows[] = {{"Total Fat 0g", "0%", true, 0},
                      {"Sodium 45mg", "2%", true, 0},
                      {"Total Carbohydrate 36g", "13%", true, 0},
                      {"Total Sugars 35g", "", false, 24},
                      {"Fizz 9000mg", "250%", true, 0},
                      {"Protein 0g", "", true, 0}};
  float y = 360;
  for (const Row& row : rows) {
    rule(out, L + row.indent, R, y, 1.5f);
    y += 40;
    text_on_baseline(out, row.strong ? bold : regular, 27, row.left, L + row.indent, y - 10, 0, ink);
    if (row.right[0]) text_on_baseline(out, bold, 27, row.right, R, y - 10, 1, ink);
  }
  rule(out, L, R, y + 8, 16);
  y += 16;
  const Row extras[] = {{"Vitamin C", "120%", false, 0},
                        {"Orange", "100%", false, 0},
                        {"Demoscene", "110%", false, 0}};
  for (const Row& row : extras) {
    y += 40;
    text_on_baseline(out, regular, 27, row.left, L, y - 8, 0, ink);
    text_on_baseline(out, regular, 27, row.right, R, y - 8, 1, ink);
    rule(out, L, R, y + 2, 1.5f);
  }
  text_on_baseline(out, regular, 19, "* Not a serious source of nutrition.", L, y + 40, 0, ink);
  text_on_baseline(out, regular, 19, "Shake well. Serve ice cold. Stay fizzy.", L, y + 66, 0, ink);
  ig_font_close(black);
  ig_font_close(bold);
  ig_font_close(regular);
}

void ig_paint_closing_badge(ig_image* out, ig_png_options* png) {
  *out = ig_image_make(IG_SCREEN_W, IG_SCREEN_H, {1, 1, 1, 0});
  const float cx = IG_SCREEN_W * 0.5f, cy = 260.0f, r = 170.0f;
  // Rays fading out from behind the disc.
  ig_shade(out, [&](float x, float y) {
    const float ang = std::atan2(y - cy, x - cx);
    const float d = std::hypot(x - cx, y - cy);
    const float ray = ig_clamp01(0.5f + 5.0f * std::sin(ang * 16.0f));
    const float fade = ig_smoothstep(r * 0.9f, r * 1.1f, d) * (1.0f - ig_smoothstep(r * 1.1f, r * 1.45f, d));
    return ig_hex(IG_AMBER, 0.55f * ray * fade);
  });
  ig_soft_disc(out, cx, cy, r + 14, 0.0f, ig_hex(IG_NAVY));
  ig_soft_disc(out, cx, cy, r + 6, 0.0f, ig_hex(0xFFFFFF));
  ig_fill_sdf(out, int(cx - r - 2), int(cy - r - 2), int(cx + r + 3), int(cy + r + 3),
              [&](float x, float y) { return ig_sd_circle(x, y, cx, cy, r); },
              [&](float, float y) { return ig_mix(ig_hex(IG_AMBER), ig_hex(IG_ORANGE), ig_clamp01((y - cy + r) / (2 * r))); });
  const ig_text_style st = ig_house_lettering(0xFFF1D6, 6, 5, 7, 2, 0.7f);
  ig_text_centred(out, IG_FONT_LOBSTER, "Sprox", cx, cy - 6, 290, 150, 0.0f, 1.0f, &st);
  ig_rng rng = ig_rng_make(901);
  for (int i = 0; i < 26; ++i) {
    const float ang = ig_rng_range(&rng, -kPi, kPi);
    const float d = ig_rng_range(&rng, r * 1.12f, r * 1.42f);
    ig_bubble(out, cx + std::cos(ang) * d, cy + std::sin(ang) * d, ig_rng_range(&rng, 3, 12), ig_hex(0xFFFFFF, 0.9f));
  }
  png->fringe = ig_hex(IG_AMBER);
}
