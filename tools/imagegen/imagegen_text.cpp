// imagegen_text: text set with FreeType into anti-aliased coverage masks, and
// the dressing (fill gradient, outline, drop shadow) that turns a mask into a
// readable card.
//
// Glyphs are loaded unhinted and rendered with FreeType's anti-aliasing
// rasteriser at their exact fractional pen position, so large display type
// keeps its designed shapes and spacing. Kerning comes from the font's kern
// table where it has one; there is no complex shaping, which none of our
// Latin texts needs.
//
// Glossary
//   pen       the running glyph origin on a baseline, in pixels.
//   ink box   the bounds of the pixels a text actually covers.
//   tracking  extra space added after every letter, in pixels.
//
// Threads: called from the worker thread that runs a recipe. Each ig_font
// owns its own FreeType library instance, so fonts opened on different
// threads never share FreeType state.
#include "imagegen.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <cstdio>

// ---- Types ----------------------------------------------------------------------

struct ig_font {
  FT_Library library;  // owned; one per font so threads never share one
  FT_Face face;        // owned
};

namespace {

// One rendered glyph placed relative to the first baseline's origin.
struct Placed {
  std::vector<unsigned char> bits;  // coverage 0..255, w x h
  int w, h;                         // pixels
  int x, y;                         // top-left, pixels, y down from the first baseline
};

// ---- Constants ------------------------------------------------------------------

constexpr float kFitReference = 100.0f;  // pixels; size at which fitting measures
constexpr int kFitRetries = 12;          // shrink steps if scaling overshoots

// ---- Internal functions ---------------------------------------------------------

// Decodes one UTF-8 code point at *s and advances; U+FFFD on malformed input.
uint32_t next_codepoint(const unsigned char** s) {
  const unsigned char* p = *s;
  uint32_t c = *p++;
  int extra = 0;
  if (c >= 0xF0 && c < 0xF8) {
    c &= 0x07;
    extra = 3;
  } else if (c >= 0xE0) {
    c &= 0x0F;
    extra = 2;
  } else if (c >= 0xC0) {
    c &= 0x1F;
    extra = 1;
  } else if (c >= 0x80) {
    *s = p;
    return 0xFFFD;
  }
  for (int i = 0; i < extra; ++i) {
    if ((*p & 0xC0) != 0x80) {
      *s = p;
      return 0xFFFD;
    }
    c = (c << 6) | (*p++ & 0x3F);
  }
  *s = p;
  return c;
}

// Lays out and renders every glyph of the text; lines are centred on x = 0.
void layout(ig_font* font, float size, const char* text, float tracking, float line_height,
            std::vector<Placed>* out) {
  out->clear();
  FT_Face face = font->face;
  if (FT_Set_Char_Size(face, 0, FT_F26Dot6(std::lround(size * 64.0f)), 72, 72) != 0) return;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  float baseline = 0.0f;
  while (true) {
    // One line: glyphs with their pen positions, then centring.
    const size_t first = out->size();
    float pen = 0.0f;
    FT_UInt prev = 0;
    int ink_x0 = 1 << 30, ink_x1 = -(1 << 30);
    while (*s && *s != '\n') {
      const uint32_t cp = next_codepoint(&s);
      const FT_UInt gi = FT_Get_Char_Index(face, cp);
      if (prev && gi && FT_HAS_KERNING(face)) {
        FT_Vector k;
        if (FT_Get_Kerning(face, prev, gi, FT_KERNING_UNFITTED, &k) == 0) pen += k.x / 64.0f;
      }
      if (FT_Load_Glyph(face, gi, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0) continue;
      FT_GlyphSlot slot = face->glyph;
      const float origin = std::floor(pen);
      const float frac = pen - origin;
      if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
        FT_Outline_Translate(&slot->outline, FT_Pos(std::lround(frac * 64.0f)),
                             FT_Pos(std::lround((std::floor(baseline) - baseline) * 64.0f)));
      }
      if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) == 0 && slot->bitmap.width > 0 &&
          slot->bitmap.rows > 0) {
        Placed g;
        g.w = int(slot->bitmap.width);
        g.h = int(slot->bitmap.rows);
        g.x = int(origin) + slot->bitmap_left;
        g.y = int(std::floor(baseline)) - slot->bitmap_top;
        g.bits.resize(size_t(g.w) * g.h);
        for (int r = 0; r < g.h; ++r) {
          const unsigned char* row = slot->bitmap.buffer + r * slot->bitmap.pitch;
          std::copy_n(row, g.w, &g.bits[size_t(r) * g.w]);
        }
        ink_x0 = std::min(ink_x0, g.x);
        ink_x1 = std::max(ink_x1, g.x + g.w);
        out->push_back(std::move(g));
      }
      pen += slot->advance.x / 64.0f + tracking;
      prev = gi;
    }
    if (out->size() > first) {
      const int shift = -(ink_x0 + ink_x1) / 2;
      for (size_t i = first; i < out->size(); ++i) (*out)[i].x += shift;
    }
    if (*s != '\n') break;
    ++s;
    baseline += size * line_height;
  }
}

ig_text_box bounds(const std::vector<Placed>& glyphs) {
  if (glyphs.empty()) return {0, 0, 0, 0};
  ig_text_box b{1e9f, 1e9f, -1e9f, -1e9f};
  for (const Placed& g : glyphs) {
    b.x0 = std::min(b.x0, float(g.x));
    b.y0 = std::min(b.y0, float(g.y));
    b.x1 = std::max(b.x1, float(g.x + g.w));
    b.y1 = std::max(b.y1, float(g.y + g.h));
  }
  return b;
}

}  // namespace

// ---- Public functions -----------------------------------------------------------

ig_font* ig_font_open(const char* path) {
  ig_font* font = new ig_font{nullptr, nullptr};
  if (FT_Init_FreeType(&font->library) != 0) {
    std::fprintf(stderr, "imagegen: FreeType would not start\n");
    delete font;
    return nullptr;
  }
  if (FT_New_Face(font->library, path, 0, &font->face) != 0) {
    std::fprintf(stderr, "imagegen: cannot open font %s\n", path);
    FT_Done_FreeType(font->library);
    delete font;
    return nullptr;
  }
  return font;
}

void ig_font_close(ig_font* font) {
  if (!font) return;
  FT_Done_Face(font->face);
  FT_Done_FreeType(font->library);
  delete font;
}

ig_text_box ig_text_measure(ig_font* font, float size, const char* text, float tracking,
                            float line_height) {
  std::vector<Placed> glyphs;
  layout(font, size, text, tracking, line_height, &glyphs);
  return bounds(glyphs);
}

float ig_text_fit(ig_font* font, const char* text, float max_w, float max_h, float tracking,
                  float line_height) {
  // Unhinted outlines scale linearly; tracking does not, so the width is
  // a * size + b. Two measurements give a and b, one gives the height's
  // slope; the loop only absorbs rounding of the rasterised box.
  const ig_text_box r1 = ig_text_measure(font, kFitReference, text, tracking, line_height);
  const ig_text_box r2 = ig_text_measure(font, 2.0f * kFitReference, text, tracking, line_height);
  const float w1 = r1.x1 - r1.x0, w2 = r2.x1 - r2.x0, h1 = r1.y1 - r1.y0;
  if (w1 <= 0.0f || h1 <= 0.0f) return kFitReference;
  const float slope = (w2 - w1) / kFitReference;
  const float fixed = w1 - slope * kFitReference;
  float size = kFitReference * max_h / h1;
  if (slope > 0.0f) size = std::min(size, (max_w - fixed) / slope);
  size = std::max(size, 1.0f);
  for (int i = 0; i < kFitRetries; ++i) {
    const ig_text_box b = ig_text_measure(font, size, text, tracking, line_height);
    if (b.x1 - b.x0 <= max_w && b.y1 - b.y0 <= max_h) break;
    size *= 0.98f;
  }
  return size;
}

ig_mask ig_text_mask(ig_font* font, float size, const char* text, float tracking,
                     float line_height, int margin) {
  std::vector<Placed> glyphs;
  layout(font, size, text, tracking, line_height, &glyphs);
  const ig_text_box b = bounds(glyphs);
  const int x0 = int(b.x0), y0 = int(b.y0);
  ig_mask m = ig_mask_make(int(b.x1 - b.x0) + 2 * margin, int(b.y1 - b.y0) + 2 * margin);
  for (const Placed& g : glyphs)
    for (int r = 0; r < g.h; ++r)
      for (int c = 0; c < g.w; ++c) {
        const int x = g.x - x0 + margin + c, y = g.y - y0 + margin + r;
        float& dst = m.v[size_t(y) * m.width + x];
        // Overlapping glyphs (script joins) add coverage like two layers of ink.
        const float cov = g.bits[size_t(r) * g.w + c] / 255.0f;
        dst = dst + cov - dst * cov;
      }
  return m;
}

void ig_draw_text(ig_image* img, const ig_mask* glyphs, int ox, int oy, const ig_text_style* st) {
  const bool has_outline = st->outline > 0.0f;
  ig_mask outline;
  ig_mask inner;
  if (st->hollow && has_outline) {
    // A stroke centred on the glyph edge.
    outline = ig_mask_dilate(glyphs, st->outline * 0.5f);
    inner = ig_mask_erode(glyphs, st->outline * 0.5f);
    for (size_t i = 0; i < outline.v.size(); ++i) outline.v[i] *= 1.0f - inner.v[i];
  } else if (has_outline) {
    outline = ig_mask_dilate(glyphs, st->outline);
  }
  const ig_mask* body = has_outline ? &outline : glyphs;

  if (st->shadow_colour.a > 0.0f) {
    ig_mask shadow = st->shadow_spread > 0.0f ? ig_mask_dilate(body, st->shadow_spread) : *body;
    ig_mask_blur(&shadow, int(std::lround(st->shadow_blur)));
    ig_fill_mask(img, &shadow, ox + int(std::lround(st->shadow_dx)),
                 oy + int(std::lround(st->shadow_dy)), st->shadow_colour);
  }
  if (has_outline) ig_fill_mask(img, &outline, ox, oy, st->outline_colour);
  if (st->hollow) return;

  // Vertical fill gradient across the rows that hold ink.
  int top = glyphs->height, bottom = 0;
  for (int y = 0; y < glyphs->height; ++y)
    for (int x = 0; x < glyphs->width; ++x)
      if (glyphs->v[size_t(y) * glyphs->width + x] > 0.0f) {
        top = std::min(top, y);
        bottom = std::max(bottom, y);
        break;
      }
  const float span = std::max(1, bottom - top);
  for (int y = 0; y < glyphs->height; ++y) {
    const ig_rgba c = ig_mix(st->fill_top, st->fill_bottom, ig_clamp01(float(y - top) / span));
    for (int x = 0; x < glyphs->width; ++x) {
      const float cov = glyphs->v[size_t(y) * glyphs->width + x];
      if (cov > 0.0f) ig_blend(img, ox + x, oy + y, c, cov);
    }
  }
}

bool ig_text_centred(ig_image* img, const char* font_path, const char* text, float cx, float cy,
                     float max_w, float max_h, float tracking, float line_height,
                     const ig_text_style* style) {
  ig_font* font = ig_font_open(font_path);
  if (!font) return false;
  const float size = ig_text_fit(font, text, max_w, max_h, tracking, line_height);
  const int margin = int(std::ceil(style->outline + style->shadow_spread + 3.0f * style->shadow_blur +
                                   std::fabs(style->shadow_dx) + std::fabs(style->shadow_dy))) + 4;
  const ig_mask m = ig_text_mask(font, size, text, tracking, line_height, margin);
  ig_font_close(font);
  ig_draw_text(img, &m, int(std::lround(cx - m.width * 0.5f)), int(std::lround(cy - m.height * 0.5f)),
               style);
  return true;
}

ig_text_style ig_house_lettering(uint32_t fill_bottom, float outline, float dx, float dy, float blur,
                                 float shadow_alpha) {
  ig_text_style st;
  st.fill_top = ig_hex(0xFFFFFF);
  st.fill_bottom = ig_hex(fill_bottom);
  st.outline = outline;
  st.outline_colour = ig_hex(IG_NAVY);
  st.shadow_dx = dx;
  st.shadow_dy = dy;
  st.shadow_blur = blur;
  st.shadow_colour = ig_hex(IG_NAVY, shadow_alpha);
  return st;
}
