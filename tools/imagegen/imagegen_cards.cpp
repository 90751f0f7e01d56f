// imagegen_cards: every text card of the show, on transparent backgrounds.
//
// Layout rules the scene shaders can rely on:
//   - Full-screen cards (1280x720): the intro's four title cards, the outro's
//     six words, "wanna sprox?", "sprox fever", "orange", the closing text and
//     the dots. Each is drawn where it belongs on screen, so a shader samples
//     it at the screen's own texture coordinate (and may zoom it about the
//     centre). The outro cards share the intro cards' layout: one shader
//     shows both sets.
//   - Name cards (1024x256): the five credits (text fitted into 960x160) and
//     the 18 greetings (960x150), centred, so that a band of the screen can
//     carry one card. The credit names and the logo layers keep at least 16
//     transparent pixels to every edge, since the show clamps them to a
//     transparent border.
//   - Role labels (512x128): a rounded orange tag with the role in navy.
// Each card's fringe colour is its fill colour.
// Brand words ("Sprox", "orange") are set in Lobster; everything else in
// Bebas Neue or League Spartan. Every card has a dark outline or shadow so
// it reads on the orange and the blue backgrounds alike.
//
// Threads: each painter runs on the worker thread that runs its recipe.
#include "imagegen.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

// ---- Globals --------------------------------------------------------------------

// Fictional groups, one per greeting card, in card order.
const char* const ig_greeting_names[18] = {
    "Fizzbyte",         "Orangeade Crew",   "Pulp Division",    "The Carbonators",
    "Bubble Syndicate", "Zest Incorporated", "Sodajerk Society", "Tangerine Tape",
    "Syrup Systems",    "Pop Top Posse",    "Glass Bottle Ensemble", "Mandarin Sprites",
    "Vitamin Sea",      "Foam Patrol",      "Hydro Mongrels",   "Caffeine Ghosts",
    "Seltzer Squad",    "Ice Tong Unit"};

// The team, in credits order, and the two roles their labels name.
const char* const ig_credit_names[5] = {"Pelnik", "Dravo", "Sune", "Quibbet", "Torvin"};
const char* const ig_credit_roles[2] = {"code", "music & gfx"};

// ---- Constants ------------------------------------------------------------------

namespace {

constexpr int kNameW = 1024, kNameH = 256;    // pixels, name cards
constexpr float kNameBoxW = 960, kNameBoxH = 160;  // pixels, a credit name's fit box
constexpr float kGreetBoxH = 150;                  // pixels, a greeting's fit height
constexpr int kLabelW = 512, kLabelH = 128;   // pixels, role labels
constexpr float kTitleBoxW = 1100, kTitleBoxH = 340;  // pixels, intro and outro words
constexpr size_t kWideFontMaxChars = 13;          // longest greeting set in League Spartan

// ---- Internal functions ---------------------------------------------------------

ig_image blank_screen() { return ig_image_make(IG_SCREEN_W, IG_SCREEN_H, {1, 1, 1, 0}); }

// White type with a thin navy rim and a soft navy shadow: reads everywhere.
ig_text_style white_style(float scale) {
  ig_text_style s = ig_house_lettering(IG_FIZZ, 4.0f * scale, 0, 8.0f * scale, 6.0f * scale, 0.55f);
  s.shadow_spread = 2.0f * scale;
  return s;
}

// Type shading from `top` to `bottom` (0xRRGGBB) with a white rim `outline`
// x scale wide, over white_style's shadow.
ig_text_style white_rimmed(float scale, uint32_t top, uint32_t bottom, float outline) {
  ig_text_style s = white_style(scale);
  s.fill_top = ig_hex(top);
  s.fill_bottom = ig_hex(bottom);
  s.outline = outline * scale;
  s.outline_colour = ig_hex(0xFFFFFF);
  return s;
}

// Soda-orange type (amber to orange) with a white rim and a navy shadow.
ig_text_style orange_style(float scale) { return white_rimmed(scale, IG_AMBER, IG_ORANGE, 6.0f); }

int style_margin(const ig_text_style& s) {
  return int(std::ceil(s.outline + s.shadow_spread + 3.0f * s.shadow_blur + std::fabs(s.shadow_dx) +
                       std::fabs(s.shadow_dy))) + 4;
}

// Sets a text at a fixed size, centred on (cx, cy).
void text_at_size(ig_image* img, const char* font_path, const char* text, float size, float cx,
                  float cy, float tracking, float line_height, const ig_text_style& style) {
  ig_font* font = ig_font_open(font_path);
  if (!font) return;
  const ig_mask m = ig_text_mask(font, size, text, tracking, line_height, style_margin(style));
  ig_font_close(font);
  ig_draw_text(img, &m, int(std::lround(cx - m.width * 0.5f)), int(std::lround(cy - m.height * 0.5f)),
               &style);
}

// The size at which a text fits a box, or 0 when the font is missing.
float fit_size(const char* font_path, const char* text, float w, float h, float tracking,
               float line_height) {
  ig_font* font = ig_font_open(font_path);
  if (!font) return 0.0f;
  const float size = ig_text_fit(font, text, w, h, tracking, line_height);
  ig_font_close(font);
  return size;
}

// A small word over a big one, the pair centred as a block on (cx, cy).
void stacked_words(ig_image* img, const char* small_font, const char* small_text, float small_h,
                   const ig_text_style& small_style, const char* big_font, const char* big_text,
                   float big_w, float big_h, const ig_text_style& big_style, float gap, float cx,
                   float cy) {
  ig_font* sf = ig_font_open(small_font);
  ig_font* bf = ig_font_open(big_font);
  if (!sf || !bf) {
    ig_font_close(sf);
    ig_font_close(bf);
    return;
  }
  const float ss = ig_text_fit(sf, small_text, big_w, small_h, 8.0f, 1.0f);
  const float bs = ig_text_fit(bf, big_text, big_w, big_h, 0.0f, 1.0f);
  const int sm = style_margin(small_style), bm = style_margin(big_style);
  const ig_mask a = ig_text_mask(sf, ss, small_text, 8.0f, 1.0f, sm);
  const ig_mask b = ig_text_mask(bf, bs, big_text, 0.0f, 1.0f, bm);
  ig_font_close(sf);
  ig_font_close(bf);
  const float ink_a = float(a.height - 2 * sm), ink_b = float(b.height - 2 * bm);
  const float top = cy - (ink_a + gap + ink_b) * 0.5f;
  ig_draw_text(img, &a, int(std::lround(cx - a.width * 0.5f)), int(std::lround(top - sm)),
               &small_style);
  ig_draw_text(img, &b, int(std::lround(cx - b.width * 0.5f)),
               int(std::lround(top + ink_a + gap - bm)), &big_style);
}

void intro_card(ig_image* out, ig_png_options* png, const char* text, const ig_text_style& style,
                float tracking) {
  *out = blank_screen();
  ig_text_centred(out, IG_FONT_BEBAS, text, IG_SCREEN_W * 0.5f, IG_SCREEN_H * 0.5f, kTitleBoxW,
                  kTitleBoxH, tracking, 1.0f, &style);
  png->fringe = style.fill_top;
}

}  // namespace

// ---- Public functions: intro ----------------------------------------------------

void ig_paint_intro_keldrun(ig_image* out, ig_png_options* png) {
  intro_card(out, png, "KELDRUN", white_style(1.4f), 24.0f);
}

void ig_paint_intro_serve(ig_image* out, ig_png_options* png) {
  // A quieter word between the two names: smaller, widely spaced.
  *out = blank_screen();
  const ig_text_style s = white_style(1.0f);
  ig_text_centred(out, IG_FONT_BEBAS, "SERVE", IG_SCREEN_W * 0.5f, IG_SCREEN_H * 0.5f, 800, 240,
                  40.0f, 1.0f, &s);
  png->fringe = s.fill_top;
}

void ig_paint_intro_fizzing(ig_image* out, ig_png_options* png) {
  intro_card(out, png, "FIZZING", orange_style(1.4f), 20.0f);
}

void ig_paint_intro_haldex(ig_image* out, ig_png_options* png) {
  intro_card(out, png, "HALDEX 2023", white_style(1.3f), 16.0f);
}

// ---- Public functions: phrases --------------------------------------------------

void ig_paint_wannasprox(ig_image* out, ig_png_options* png) {
  *out = blank_screen();
  ig_text_style brand = white_style(1.5f);
  brand.outline = 7.0f;
  // WANNA keeps its orange but takes the navy rim of "sprox?": a white rim
  // left the orange at about 2.5:1 against it and lost it on the orange hearts.
  ig_text_style wanna = white_style(1.0f);
  wanna.fill_top = ig_hex(IG_AMBER);
  wanna.fill_bottom = ig_hex(IG_ORANGE);
  wanna.outline = 6.0f;
  stacked_words(out, IG_FONT_BEBAS, "WANNA", 110, wanna, IG_FONT_LOBSTER, "sprox?",
                900, 300, brand, 20, IG_SCREEN_W * 0.5f, IG_SCREEN_H * 0.5f);
  png->fringe = brand.fill_top;
}

void ig_paint_sproxfever(ig_image* out, ig_png_options* png) {
  *out = blank_screen();
  const ig_text_style s = orange_style(1.5f);
  ig_text_centred(out, IG_FONT_BEBAS, "SPROX\nFEVER", IG_SCREEN_W * 0.5f, IG_SCREEN_H * 0.5f, 900,
                  560, 18.0f, 0.92f, &s);
  png->fringe = s.fill_top;
}

void ig_paint_orange(ig_image* out, ig_png_options* png) {
  *out = blank_screen();
  ig_text_style s = white_style(1.6f);
  s.outline = 8.0f;
  ig_text_centred(out, IG_FONT_LOBSTER, "orange", IG_SCREEN_W * 0.5f, IG_SCREEN_H * 0.5f, 1000, 340,
                  0.0f, 1.0f, &s);
  png->fringe = s.fill_top;
}

// ---- Public functions: credits --------------------------------------------------

void ig_paint_credit_name(int index, ig_image* out, ig_png_options* png) {
  *out = ig_image_make(kNameW, kNameH, {1, 1, 1, 0});
  const ig_text_style s = white_style(1.0f);
  const char* name = ig_credit_names[std::clamp(index, 0, 4)];
  std::string upper(name);
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  ig_text_centred(out, IG_FONT_BEBAS, upper.c_str(), kNameW * 0.5f, kNameH * 0.5f, kNameBoxW,
                  kNameBoxH, 16.0f, 1.0f, &s);
  png->fringe = s.fill_top;
}

void ig_paint_credit_label(int index, ig_image* out, ig_png_options* png) {
  *out = ig_image_make(kLabelW, kLabelH, {1, 1, 1, 0});
  png->fringe = ig_hex(0xFFFFFF);
  const char* role = ig_credit_roles[std::clamp(index, 0, 1)];
  ig_font* font = ig_font_open(IG_FONT_SPARTAN_BOLD);
  if (!font) return;
  constexpr int margin = 4;
  constexpr float tracking = 2.0f;
  // Both tags use one size (that of the longer role), so they match.
  const float size = ig_text_fit(font, "music & gfx", 420, 72, tracking, 1.0f);
  const ig_mask m = ig_text_mask(font, size, role, tracking, 1.0f, margin);
  // Lower-case words sit on their x-height band, so that a descender ("g")
  // or an ascender ("d") does not push the word off the tag's centre.
  const ig_text_box ink = ig_text_measure(font, size, role, tracking, 1.0f);
  const ig_text_box xb = ig_text_measure(font, size, "x", tracking, 1.0f);
  ig_font_close(font);
  const float band_in_mask = margin - ink.y0 + (xb.y0 + xb.y1) * 0.5f;
  const float text_w = float(m.width - 2 * margin);
  const float hw = std::min(kLabelW * 0.5f - 8.0f, text_w * 0.5f + 28.0f), hh = 44.0f;
  const float cx = kLabelW * 0.5f, cy = kLabelH * 0.5f;
  // Tag: soft shadow, white rim, orange body.
  ig_image shadow = ig_image_make(kLabelW, kLabelH, {0, 0, 0, 0});
  ig_fill_sdf(&shadow, 0, 0, kLabelW, kLabelH,
              [&](float x, float y) { return ig_sd_box(x, y, cx, cy + 5, hw + 3, hh + 3, hh + 3); },
              [&](float, float) { return ig_hex(IG_NAVY, 0.5f); });
  ig_image_blur(&shadow, 3);
  ig_draw_image(out, &shadow, 0, 0, 1.0f);
  ig_fill_sdf(out, 0, 0, kLabelW, kLabelH,
              [&](float x, float y) { return ig_sd_box(x, y, cx, cy, hw + 3, hh + 3, hh + 3); },
              [&](float, float) { return ig_hex(0xFFFFFF); });
  ig_fill_sdf(out, 0, 0, kLabelW, kLabelH,
              [&](float x, float y) { return ig_sd_box(x, y, cx, cy, hw, hh, hh); },
              [&](float, float y) {
                return ig_mix(ig_hex(IG_AMBER), ig_hex(IG_ORANGE), ig_clamp01((y - cy + hh) / (2 * hh)));
              });
  // Navy letters on the orange: about 6:1 in luminance even at the deep end
  // (white on orange reads at 2.5:1).
  ig_text_style st;
  st.fill_top = ig_hex(IG_NAVY);
  st.fill_bottom = ig_hex(IG_NAVY);
  st.shadow_dy = 2;
  st.shadow_blur = 1;
  st.shadow_colour = ig_hex(IG_AMBER, 0.5f);
  ig_draw_text(out, &m, int(std::lround(cx - m.width * 0.5f)), int(std::lround(cy - band_in_mask)),
               &st);
}

// ---- Public functions: greetings ------------------------------------------------

void ig_paint_greeting(int index, ig_image* out, ig_png_options* png) {
  index = std::clamp(index, 0, 17);
  *out = ig_image_make(kNameW, kNameH, {1, 1, 1, 0});
  std::string upper(ig_greeting_names[index]);
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  // White and orange in turn, so that neighbouring cards differ; both with
  // a heavy near-black rim, so that the type reads on the card's blue plate
  // (the rim is the contrast: navy type would sink into the plate).
  ig_text_style s = index % 2 ? white_rimmed(1.0f, IG_AMBER, IG_ORANGE, 7.0f) : white_style(1.0f);
  s.outline = 7.0f;
  s.outline_colour = ig_hex(IG_INK);
  // League Spartan is wide: it takes the odd cards with short names, Bebas
  // Neue the rest, so long names stay large.
  const bool wide = (index % 2) && upper.size() <= kWideFontMaxChars;
  const char* font = wide ? IG_FONT_SPARTAN_BLACK : IG_FONT_BEBAS;
  const float tracking = wide ? 2.0f : 10.0f;
  ig_text_centred(out, font, upper.c_str(), kNameW * 0.5f, kNameH * 0.5f, kNameBoxW, kGreetBoxH,
                  tracking, 1.0f, &s);
  png->fringe = s.fill_top;
}

// ---- Public functions: outro ----------------------------------------------------

void ig_paint_outro(int index, ig_image* out, ig_png_options* png) {
  *out = blank_screen();
  const float cx = IG_SCREEN_W * 0.5f, cy = IG_SCREEN_H * 0.5f;
  // The two-line cards share one size so that "own" and "owe" line up when
  // a shader cross-fades them.
  const float two_line = fit_size(IG_FONT_BEBAS, "OWN\nDEMOSCENE", 1040, 560, 14.0f, 0.95f);
  ig_text_style s;
  switch (index) {
    case 0:
      s = white_style(1.4f);
      ig_text_centred(out, IG_FONT_BEBAS, "OWN", cx, cy, 800, 420, 24.0f, 1.0f, &s);
      break;
    case 1:
      s = orange_style(1.4f);
      ig_text_centred(out, IG_FONT_SPARTAN_BLACK, "own", cx, cy, 800, 360, 0.0f, 1.0f, &s);
      break;
    case 2:
      s = white_style(1.4f);
      s.hollow = true;
      s.outline = 10.0f;
      s.outline_colour = ig_hex(0xFFFFFF);
      ig_text_centred(out, IG_FONT_BEBAS, "OWN", cx, cy, 1000, 560, 24.0f, 1.0f, &s);
      break;
    case 3:
      s = white_style(1.3f);
      text_at_size(out, IG_FONT_BEBAS, "OWN\nDEMOSCENE", two_line, cx, cy, 14.0f, 0.95f, s);
      break;
    case 4:
      s = white_style(1.3f);
      text_at_size(out, IG_FONT_BEBAS, "OWE\nDEMOSCENE", two_line, cx, cy, 14.0f, 0.95f, s);
      break;
    default:
      s = orange_style(1.3f);
      text_at_size(out, IG_FONT_BEBAS, "OWE\nDEMOSCENE", two_line, cx, cy, 14.0f, 0.95f, s);
      break;
  }
  png->fringe = s.hollow ? s.outline_colour : s.fill_top;
}

// ---- Public functions: closing --------------------------------------------------

void ig_paint_closing_text(ig_image* out, ig_png_options* png) {
  // The lower third of the closing screen; closing0.png fills the upper part.
  *out = blank_screen();
  const ig_text_style big = white_style(1.0f);
  ig_text_centred(out, IG_FONT_LOBSTER, "stay fizzy", IG_SCREEN_W * 0.5f, 540, 760, 120, 0.0f, 1.0f,
                  &big);
  ig_text_style small = orange_style(0.7f);
  ig_text_centred(out, IG_FONT_BEBAS, "KELDRUN AT HALDEX 2023", IG_SCREEN_W * 0.5f, 638, 640, 56,
                  10.0f, 1.0f, &small);
  png->fringe = big.fill_top;
}

void ig_paint_dots(ig_image* out, ig_png_options* png) {
  // Three dots, centred at x = 560, 640 and 720 on the middle line.
  *out = blank_screen();
  const float r = 20.0f, cy = IG_SCREEN_H * 0.5f;
  ig_image shadow = blank_screen();
  for (int i = 0; i < 3; ++i) {
    const float cx = 560.0f + 80.0f * i;
    ig_soft_disc(&shadow, cx, cy + 6, r + 3, 0.0f, ig_hex(IG_NAVY, 0.55f));
  }
  ig_image_blur(&shadow, 4);
  ig_draw_image(out, &shadow, 0, 0, 1.0f);
  for (int i = 0; i < 3; ++i) ig_soft_disc(out, 560.0f + 80.0f * i, cy, r, 0.0f, ig_hex(0xFFFFFF));
  png->fringe = ig_hex(0xFFFFFF);
}
