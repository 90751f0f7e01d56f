// imagegen: the build-time generator of every picture in the resource image.
//
// The show loads 67 PNG files (backgrounds, overlays, textures, logo layers,
// text cards, flash frames, a silhouette and a few marks). None of them is drawn
// by hand: this tool paints each one from code (gradients, signed-distance
// shapes, tileable noise, text set with FreeType from Debian's fonts) and
// writes it with LodePNG. The build runs it once into gen/images/, and the
// packer stores that folder in "sprox.dat".
//
// Terms (canvas (an ig_image), mask (an ig_mask), sdf, period, fringe,
// recipe): see docs/ARCHITECTURE.md#glossary. All painting happens on
// canvases; colours are quantised only on export.
//
// Threads: the generator's main thread parses the command line and starts
// up to two worker threads; each worker takes recipes from a shared atomic
// index and runs paint, encode and write for them on its own. Recipes share
// nothing mutable: every font, canvas and random generator is local to the
// recipe that uses it, so the output does not depend on the thread count.
// Everything is deterministic: fixed seeds, our own hash-based generators,
// no clocks and no library random numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "effects/assets.h"
#include "effects/palette.h"

// ---- Constants ------------------------------------------------------------------

// The storyboard palette, as 0xRRGGBB: IG_ORANGE, IG_AMBER, IG_EMBER, IG_FIZZ,
// IG_POOL_DEEP, IG_POOL_LIGHT, IG_NAVY, IG_INK and the rest of the show's
// palette in effects/palette.h, which the shaders take their colours from.
#define IG_PALETTE_COLOUR(name, rgb, glsl) constexpr uint32_t IG_##name = rgb;
SPROX_PALETTE(IG_PALETTE_COLOUR)
#undef IG_PALETTE_COLOUR

// Fonts from Debian packages (fonts-lobster, fonts-bebas-neue,
// fonts-league-spartan, fonts-dejavu-core).
#define IG_FONT_LOBSTER "/usr/share/fonts/opentype/lobster/lobster.otf"
#define IG_FONT_BEBAS "/usr/share/fonts/opentype/bebas-neue/BebasNeue-Bold.otf"
#define IG_FONT_SPARTAN_BLACK "/usr/share/fonts/opentype/league-spartan/LeagueSpartan-Black.otf"
#define IG_FONT_SPARTAN_BOLD "/usr/share/fonts/opentype/league-spartan/LeagueSpartan-Bold.otf"
#define IG_FONT_SPARTAN "/usr/share/fonts/opentype/league-spartan/LeagueSpartan-Regular.otf"

// Full-screen pictures are the show's picture size, pixels.
constexpr int IG_SCREEN_W = EFFECTS_WIDTH;
constexpr int IG_SCREEN_H = EFFECTS_HEIGHT;

// ---- Types ----------------------------------------------------------------------

// A straight (not premultiplied) colour, each channel 0..1.
struct ig_rgba {
  float r, g, b, a;
};

// A canvas: premultiplied RGBA floats, 4 per pixel, rows from the top.
struct ig_image {
  int width = 0;            // pixels
  int height = 0;           // pixels
  std::vector<float> px;    // width * height * 4 floats
};

// A coverage mask, one float 0..1 per pixel, rows from the top.
struct ig_mask {
  int width = 0;            // pixels
  int height = 0;           // pixels
  std::vector<float> v;     // width * height floats
};

// A small deterministic random generator (PCG32).
struct ig_rng {
  uint64_t state;           // advances by one LCG step per draw
};

// How a canvas becomes PNG bytes.
struct ig_png_options {
  bool dither = false;      // add +-0.5 LSB of hashed noise before rounding, against banding
  uint32_t dither_seed = 0; // seed of that noise
  ig_rgba fringe = {1, 1, 1, 0};  // colour of transparent pixels beyond the bleed band
  int bleed = 2;            // transparent pixels this close (pixels) to ink take the ink's colour
};

// An open font face.
struct ig_font;

// Ink box of a laid-out text, relative to the pen origin on the first baseline.
struct ig_text_box {
  float x0, y0, x1, y1;     // pixels; y grows downwards
};

// How a text mask is dressed when drawn onto a canvas: a drop shadow, an
// outline band around the glyphs and a vertical fill gradient.
struct ig_text_style {
  ig_rgba fill_top = {1, 1, 1, 1};     // fill colour at the ink's top
  ig_rgba fill_bottom = {1, 1, 1, 1};  // fill colour at the ink's bottom
  float outline = 0;                   // outline width, pixels (0 = none)
  ig_rgba outline_colour = {0, 0, 0, 1};
  float shadow_dx = 0, shadow_dy = 0;  // shadow offset, pixels
  float shadow_blur = 0;               // shadow softness (box-blur radius), pixels
  float shadow_spread = 0;             // shadow grows this far beyond the outline, pixels
  ig_rgba shadow_colour = {0, 0, 0, 0};  // alpha 0 = no shadow
  bool hollow = false;                 // draw the outline only, no fill
};

// One row of the asset table.
struct ig_recipe {
  const char* file;                            // file name in the resource image (lower case)
  void (*paint)(ig_image* out, ig_png_options* png);  // paints the canvas, may tune the export
};

// ---- Colour and canvas (imagegen_paint.cpp) -------------------------------------

ig_rgba ig_hex(uint32_t rgb, float alpha = 1.0f);
ig_rgba ig_mix(ig_rgba a, ig_rgba b, float t);
ig_rgba ig_with_alpha(ig_rgba c, float alpha);

float ig_clamp01(float v);
float ig_smoothstep(float e0, float e1, float v);

// A canvas of the given size filled with one straight colour.
ig_image ig_image_make(int width, int height, ig_rgba fill);
ig_mask ig_mask_make(int width, int height);

// Composites a straight colour over one pixel with the given coverage (0..1).
// Pixels outside the canvas are ignored.
void ig_blend(ig_image* img, int x, int y, ig_rgba colour, float coverage);
// Reads a pixel back as a straight colour (transparent black outside).
ig_rgba ig_get(const ig_image* img, int x, int y);

// Composites a solid colour through a mask placed with its top-left at (ox, oy).
void ig_fill_mask(ig_image* img, const ig_mask* mask, int ox, int oy, ig_rgba colour);
// Composites one canvas over another, top-left at (ox, oy), scaled by opacity.
void ig_draw_image(ig_image* dst, const ig_image* src, int ox, int oy, float opacity);

// Blurs with three box passes of the given radius (pixels), close to a
// Gaussian. Outside the picture counts as empty, or as the opposite edge when
// wrap is set (for tileable textures).
void ig_mask_blur(ig_mask* mask, int radius, bool wrap = false);
void ig_image_blur(ig_image* img, int radius, bool wrap = false);

// Euclidean distance (pixels) from each pixel to the nearest pixel whose
// coverage is at least 0.5; 0 on such pixels.
std::vector<float> ig_mask_distance(const ig_mask* mask);
// The mask grown by radius pixels (anti-aliased edge), the same size.
ig_mask ig_mask_dilate(const ig_mask* mask, float radius);
// The mask shrunk by radius pixels.
ig_mask ig_mask_erode(const ig_mask* mask, float radius);

// Signed distances (pixels; negative inside).
float ig_sd_circle(float px, float py, float cx, float cy, float r);
float ig_sd_ellipse(float px, float py, float cx, float cy, float rx, float ry);
float ig_sd_box(float px, float py, float cx, float cy, float hw, float hh, float corner);
// A capsule from (ax, ay) to (bx, by) whose radius goes from ra to rb.
float ig_sd_capsule(float px, float py, float ax, float ay, float bx, float by, float ra, float rb);
// A closed polygon of n points given as x0, y0, x1, y1, ...
float ig_sd_polygon(float px, float py, const float* xy, int n);
// Smooth union of two distances with blend width k (pixels).
float ig_smin(float a, float b, float k);
// Coverage of a pixel whose centre has signed distance d.
inline float ig_cover(float d) { return d >= 0.5f ? 0.0f : (d <= -0.5f ? 1.0f : 0.5f - d); }

// Paints every pixel of the box [x0, x1) x [y0, y1) (clipped to the canvas):
// coverage from sdf(x + 0.5, y + 0.5), colour from colour(x + 0.5, y + 0.5).
template <class Sdf, class Colour>
void ig_fill_sdf(ig_image* img, int x0, int y0, int x1, int y1, Sdf sdf, Colour colour) {
  if (x0 < 0) x0 = 0;
  if (y0 < 0) y0 = 0;
  if (x1 > img->width) x1 = img->width;
  if (y1 > img->height) y1 = img->height;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const float fx = x + 0.5f, fy = y + 0.5f;
      const float c = ig_cover(sdf(fx, fy));
      if (c > 0.0f) ig_blend(img, x, y, colour(fx, fy), c);
    }
  }
}

// Paints every pixel of the canvas with colour(x + 0.5, y + 0.5) composited over it.
template <class Colour>
void ig_shade(ig_image* img, Colour colour) {
  for (int y = 0; y < img->height; ++y)
    for (int x = 0; x < img->width; ++x) ig_blend(img, x, y, colour(x + 0.5f, y + 0.5f), 1.0f);
}

// Soft round blob (a bokeh disc or a glow): full alpha inside r * (1 - soft),
// fading to 0 at r.
void ig_soft_disc(ig_image* img, float cx, float cy, float r, float soft, ig_rgba colour);
// A bubble: a thin bright rim, a faint body and a specular dot, for soda fizz.
void ig_bubble(ig_image* img, float cx, float cy, float r, ig_rgba colour);

// ---- Noise and random numbers (imagegen_noise.cpp) ------------------------------

uint32_t ig_hash(uint32_t v);
uint32_t ig_hash3(int32_t x, int32_t y, uint32_t seed);
// A hashed value in [0, 1) per lattice point.
float ig_hash01(int32_t x, int32_t y, uint32_t seed);

ig_rng ig_rng_make(uint64_t seed);
uint32_t ig_rng_next(ig_rng* rng);
// Uniform in [lo, hi).
float ig_rng_range(ig_rng* rng, float lo, float hi);

// Smooth value noise in [0, 1] on a lattice of unit cells, repeating exactly
// every `period` cells in x and y (period >= 1).
float ig_noise_tiled(float x, float y, int period, uint32_t seed);
// Fractal sum of octaves of ig_noise_tiled, each at twice the frequency and
// twice the period of the one before, normalised to [0, 1]. Repeats every
// `period` cells of the first octave.
float ig_fbm_tiled(float x, float y, int period, int octaves, uint32_t seed);
// The same without a period (large period, never visible).
float ig_fbm(float x, float y, int octaves, uint32_t seed);

// ---- Text (imagegen_text.cpp) ---------------------------------------------------

// Opens a font file; null (and one line on stderr) when it cannot be read.
ig_font* ig_font_open(const char* path);
void ig_font_close(ig_font* font);

// The ink box of a text (UTF-8, '\n' breaks lines, lines centred on each
// other) at a pixel size with extra tracking (pixels between letters).
ig_text_box ig_text_measure(ig_font* font, float size, const char* text, float tracking,
                            float line_height);
// The largest size (pixels) at which the text's ink box fits max_w x max_h.
float ig_text_fit(ig_font* font, const char* text, float max_w, float max_h, float tracking,
                  float line_height);
// Renders the text's anti-aliased coverage into a mask exactly the size of its
// ink box plus `margin` empty pixels on every side.
ig_mask ig_text_mask(ig_font* font, float size, const char* text, float tracking,
                     float line_height, int margin);
// Draws a text mask with its style, the mask's top-left at (ox, oy).
void ig_draw_text(ig_image* img, const ig_mask* glyphs, int ox, int oy, const ig_text_style* style);
// Sets a text fitted into the box (cx, cy) +- (max_w, max_h)/2 and draws it
// centred there with a style. Returns false when the font is missing.
bool ig_text_centred(ig_image* img, const char* font_path, const char* text, float cx, float cy,
                     float max_w, float max_h, float tracking, float line_height,
                     const ig_text_style* style);
// The show's house lettering: white at the ink's top shading to `fill_bottom`
// (0xRRGGBB), a navy outline `outline` pixels wide and a navy shadow offset
// by (dx, dy), softened by `blur` pixels, at `shadow_alpha`.
ig_text_style ig_house_lettering(uint32_t fill_bottom, float outline, float dx, float dy, float blur,
                                 float shadow_alpha);

// ---- Export (imagegen_png.cpp) --------------------------------------------------

// Converts a canvas to straight 8-bit RGBA: un-premultiplies, rounds (with
// optional dither) and gives fully transparent pixels a fringe colour: the
// colour of the nearest ink within `bleed` pixels, else `fringe`.
std::vector<unsigned char> ig_to_rgba8(const ig_image* img, const ig_png_options* opt);
// Encodes 8-bit RGBA with LodePNG. Returns LodePNG's error code (0 = fine).
unsigned ig_png_encode(const std::vector<unsigned char>& rgba, int width, int height,
                       std::vector<unsigned char>* png);
// Writes bytes to a file; false (and one line on stderr) on failure.
bool ig_write_file(const char* path, const std::vector<unsigned char>& bytes);

// ---- The asset table (imagegen_table.cpp) ---------------------------------------

int ig_recipe_count();
const ig_recipe* ig_recipe_at(int index);
// Paints, encodes and writes one recipe into dir; adds the PNG's size to
// *bytes. Returns false on failure (with one line on stderr).
bool ig_make(const ig_recipe* recipe, const char* dir, size_t* bytes);

// ---- Recipes, one file per group ------------------------------------------------
// Each paints one image; ig_png_options may be tuned (dither, fringe).

// imagegen_backgrounds.cpp: full-screen backgrounds and the party audience.
void ig_paint_introbg(ig_image*, ig_png_options*);
void ig_paint_titlebg(ig_image*, ig_png_options*);
void ig_paint_ballsbg(ig_image*, ig_png_options*);
void ig_paint_blackbg(ig_image*, ig_png_options*);
void ig_paint_bluebg(ig_image*, ig_png_options*);
void ig_paint_audience(ig_image*, ig_png_options*);

// imagegen_textures.cpp: tileable textures and overlays.
void ig_paint_noise(ig_image*, ig_png_options*);
void ig_paint_mono(ig_image*, ig_png_options*);
void ig_paint_vintage(ig_image*, ig_png_options*);
void ig_paint_vintage_b(ig_image*, ig_png_options*);
void ig_paint_damage(ig_image*, ig_png_options*);
void ig_paint_twister(ig_image*, ig_png_options*);

// imagegen_brand.cpp: the logo layers, marks, badges and labels.
void ig_paint_logo_back(ig_image*, ig_png_options*);
void ig_paint_logo_word(ig_image*, ig_png_options*);
void ig_paint_logo_shine(ig_image*, ig_png_options*);
void ig_paint_sugaricon(ig_image*, ig_png_options*);
void ig_paint_grisp(ig_image*, ig_png_options*);
void ig_paint_cigburn(ig_image*, ig_png_options*);
void ig_paint_nutrition(ig_image*, ig_png_options*);
void ig_paint_closing_badge(ig_image*, ig_png_options*);

// imagegen_girl.cpp: the Sprox girl.
void ig_paint_girl(ig_image*, ig_png_options*);

// imagegen_flashes.cpp: the six flash frames.
void ig_paint_flash_burst(ig_image*, ig_png_options*);
void ig_paint_flash_checker(ig_image*, ig_png_options*);
void ig_paint_flash_strobe(ig_image*, ig_png_options*);
void ig_paint_flash_word(ig_image*, ig_png_options*);
void ig_paint_flash_rings(ig_image*, ig_png_options*);
void ig_paint_flash_pop(ig_image*, ig_png_options*);

// imagegen_cards.cpp: every text card. Cards of one kind share a painter that
// takes the card's index (0-based, in asset-table order).
void ig_paint_intro_keldrun(ig_image*, ig_png_options*);
void ig_paint_intro_serve(ig_image*, ig_png_options*);
void ig_paint_intro_fizzing(ig_image*, ig_png_options*);
void ig_paint_intro_haldex(ig_image*, ig_png_options*);
void ig_paint_wannasprox(ig_image*, ig_png_options*);
void ig_paint_sproxfever(ig_image*, ig_png_options*);
void ig_paint_orange(ig_image*, ig_png_options*);
void ig_paint_credit_name(int index, ig_image*, ig_png_options*);
void ig_paint_credit_label(int index, ig_image*, ig_png_options*);
void ig_paint_greeting(int index, ig_image*, ig_png_options*);
void ig_paint_outro(int index, ig_image*, ig_png_options*);
void ig_paint_closing_text(ig_image*, ig_png_options*);
void ig_paint_dots(ig_image*, ig_png_options*);

// The greeted groups, in the order of the greeting cards (18 entries).
extern const char* const ig_greeting_names[18];
// The credited names (5) and their role labels (2).
extern const char* const ig_credit_names[5];
extern const char* const ig_credit_roles[2];
