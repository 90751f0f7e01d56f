// capture_image: pictures of the capture: row flips, thumbnails, PNG files,
// the label font and the contact sheet.
//
// All pictures are 8-bit RGB with rows top-down. Thumbnails are box-filtered
// with integer rounding and labels are drawn by FreeType with its own hinting,
// so the same frames always give the same bytes.
//
// The contact sheet is a grid: one row per event of the show, one column per
// point of the event (1/8, 3/8, 5/8, 7/8 of its length); every cell is a
// 320 x 180 thumbnail over an 18-pixel label strip, with 8-pixel margins.
//
// Threads: main thread.
#include "tools/capture/capture.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <lodepng.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// ---- Constants ---------------------------------------------------------------------
namespace {

constexpr int32_t kLabelInsetX = 3;  // pixels from the strip's left edge to the text
constexpr int32_t kLabelInsetY = 2;  // pixels from the strip's top edge to the line's top
constexpr uint8_t kLabelInk[3] = {0xE8, 0xE8, 0xE8};  // text colour
constexpr uint8_t kLabelBackground = 0x10;            // grey level of the label strip
constexpr unsigned kPngWindow = 1024;                  // bytes of the deflate window
constexpr unsigned kPngNiceMatch = 32;                 // bytes: a match this long is taken at once

// ---- Internal functions -------------------------------------------------------------
void fill_rect(s_captureimage* image, int32_t x, int32_t y, int32_t w, int32_t h, uint8_t grey) {
  const int32_t x0 = std::max(0, x), y0 = std::max(0, y);
  const int32_t x1 = std::min(image->width, x + w), y1 = std::min(image->height, y + h);
  for (int32_t row = y0; row < y1; ++row) {
    uint8_t* p = image->pixels + (static_cast<size_t>(row) * image->width + x0) * 3;
    memset(p, grey, static_cast<size_t>(std::max(0, x1 - x0)) * 3);
  }
}

}  // namespace

// ---- Public functions: pixels ---------------------------------------------------------
void capture_fliprows(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height) {
  const size_t stride = static_cast<size_t>(width) * 3;
  for (int32_t row = 0; row < height; ++row)
    memcpy(dst + static_cast<size_t>(row) * stride, src + static_cast<size_t>(height - 1 - row) * stride, stride);
}

void capture_downscale(const s_captureimage* src, s_captureimage* dst) {
  for (int32_t y = 0; y < dst->height; ++y) {
    const int32_t sy0 = static_cast<int32_t>(static_cast<int64_t>(y) * src->height / dst->height);
    const int32_t sy1 = static_cast<int32_t>(static_cast<int64_t>(y + 1) * src->height / dst->height);
    for (int32_t x = 0; x < dst->width; ++x) {
      const int32_t sx0 = static_cast<int32_t>(static_cast<int64_t>(x) * src->width / dst->width);
      const int32_t sx1 = static_cast<int32_t>(static_cast<int64_t>(x + 1) * src->width / dst->width);
      uint32_t sum[3] = {0, 0, 0};
      for (int32_t sy = sy0; sy < sy1; ++sy) {
        const uint8_t* p = src->pixels + (static_cast<size_t>(sy) * src->width + sx0) * 3;
        for (int32_t sx = sx0; sx < sx1; ++sx, p += 3) {
          sum[0] += p[0];
          sum[1] += p[1];
          sum[2] += p[2];
        }
      }
      const uint32_t count = static_cast<uint32_t>((sy1 - sy0) * (sx1 - sx0));
      uint8_t* q = dst->pixels + (static_cast<size_t>(y) * dst->width + x) * 3;
      for (int c = 0; c < 3; ++c) q[c] = static_cast<uint8_t>((sum[c] + count / 2) / count);
    }
  }
}

int capture_writepng(const char* path, const s_captureimage* image, char* message, int capacity) {
  unsigned char* png = nullptr;
  size_t size = 0;
  LodePNGState state;
  lodepng_state_init(&state);
  state.info_raw.colortype = state.info_png.color.colortype = LCT_RGB;
  state.info_raw.bitdepth = state.info_png.color.bitdepth = 8;
  state.encoder.auto_convert = 0;
  // A lighter deflate than lodepng's default: on the show's frames it
  // encodes about a third faster (0.35 s instead of 0.53 s a frame here) for
  // files about 1% larger.
  state.encoder.zlibsettings.windowsize = kPngWindow;
  state.encoder.zlibsettings.lazymatching = 0;
  state.encoder.zlibsettings.nicematch = kPngNiceMatch;
  const unsigned code = lodepng_encode(&png, &size, image->pixels, static_cast<unsigned>(image->width),
                                       static_cast<unsigned>(image->height), &state);
  lodepng_state_cleanup(&state);
  if (code) {
    free(png);
    return core_fail(message, capacity, "cannot encode %s: %s", path, lodepng_error_text(code));
  }
  // Whole or not at all: no truncated picture is left behind (a full disk, say).
  char reason[256];
  const int written = core_writefile(path, png, size, reason, sizeof(reason));
  free(png);
  if (!written) return core_fail(message, capacity, "cannot write %s: %s", path, reason);
  return 1;
}

void capture_removepartial(const char* path) {
  struct stat info;
  if (path && lstat(path, &info) == 0 && S_ISREG(info.st_mode)) unlink(path);
}

// ---- Public functions: font -------------------------------------------------------------
int capture_openfont(s_capturefont* font, const char* path, int32_t pixels, char* message, int capacity) {
  *font = s_capturefont{};
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library)) return core_fail(message, capacity, "cannot start FreeType");
  FT_Face face = nullptr;
  if (FT_New_Face(library, path, 0, &face)) {
    FT_Done_FreeType(library);
    return core_fail(message, capacity, "cannot load the label font %s", path);
  }
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels))) {
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return core_fail(message, capacity, "the label font %s has no %d-pixel size", path, pixels);
  }
  font->library = library;
  font->face = face;
  font->ascent = static_cast<int32_t>(face->size->metrics.ascender >> 6);
  return 1;
}

void capture_closefont(s_capturefont* font) {
  if (font->face) FT_Done_Face(static_cast<FT_Face>(font->face));
  if (font->library) FT_Done_FreeType(static_cast<FT_Library>(font->library));
  *font = s_capturefont{};
}

int32_t capture_drawtext(s_capturefont* font, s_captureimage* image, int32_t x, int32_t y, const char* text,
                         uint8_t red, uint8_t green, uint8_t blue) {
  FT_Face face = static_cast<FT_Face>(font->face);
  if (!face) return x;
  const uint8_t ink[3] = {red, green, blue};
  const int32_t baseline = y + font->ascent;
  int32_t pen = x;
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c; ++c) {
    if (FT_Load_Char(face, *c, FT_LOAD_RENDER)) continue;  // a glyph the font lacks is skipped
    const FT_GlyphSlot glyph = face->glyph;
    const FT_Bitmap& bitmap = glyph->bitmap;
    const int32_t left = pen + glyph->bitmap_left;
    const int32_t top = baseline - glyph->bitmap_top;
    for (uint32_t row = 0; row < bitmap.rows; ++row) {
      const int32_t py = top + static_cast<int32_t>(row);
      if (py < 0 || py >= image->height) continue;
      const uint8_t* coverage = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
      for (uint32_t col = 0; col < bitmap.width; ++col) {
        const int32_t px = left + static_cast<int32_t>(col);
        if (px < 0 || px >= image->width) continue;
        const uint32_t a = coverage[col];
        if (!a) continue;
        uint8_t* p = image->pixels + (static_cast<size_t>(py) * image->width + px) * 3;
        for (int k = 0; k < 3; ++k) p[k] = static_cast<uint8_t>((p[k] * (255 - a) + ink[k] * a + 127) / 255);
      }
    }
    pen += static_cast<int32_t>(glyph->advance.x >> 6);
  }
  return pen;
}

// ---- Public functions: contact sheet ---------------------------------------------------------
void capture_sheetsize(int32_t rows, int32_t* width, int32_t* height) {
  *width = CAPTURE_SHEET_MARGIN + CAPTURE_SHEET_POINTS * (CAPTURE_THUMB_WIDTH + CAPTURE_SHEET_MARGIN);
  *height = CAPTURE_SHEET_MARGIN + rows * (CAPTURE_THUMB_HEIGHT + CAPTURE_LABEL_HEIGHT + CAPTURE_SHEET_MARGIN);
}

s_capturecell capture_sheetcell(int32_t row, int32_t point) {
  s_capturecell cell;
  cell.x = CAPTURE_SHEET_MARGIN + point * (CAPTURE_THUMB_WIDTH + CAPTURE_SHEET_MARGIN);
  cell.y = CAPTURE_SHEET_MARGIN + row * (CAPTURE_THUMB_HEIGHT + CAPTURE_LABEL_HEIGHT + CAPTURE_SHEET_MARGIN);
  cell.labelx = cell.x;
  cell.labely = cell.y + CAPTURE_THUMB_HEIGHT;
  return cell;
}

void capture_sheetlabel(char* dst, int capacity, int32_t event, int32_t state, int32_t tick) {
  snprintf(dst, static_cast<size_t>(capacity), "event %d  state %d  tick %d", event, state, tick);
}

void capture_clearsheet(s_captureimage* sheet) {
  memset(sheet->pixels, CAPTURE_SHEET_BACKGROUND, static_cast<size_t>(sheet->width) * sheet->height * 3);
}

void capture_drawlabel(s_capturefont* font, s_captureimage* image, int32_t x, int32_t y, const char* label) {
  // The text is drawn into a strip of its own and copied over, so a long
  // label is clipped to its cell and cannot spill into the next one.
  uint8_t pixels[CAPTURE_THUMB_WIDTH * CAPTURE_LABEL_HEIGHT * 3];
  s_captureimage strip{CAPTURE_THUMB_WIDTH, CAPTURE_LABEL_HEIGHT, pixels};
  fill_rect(&strip, 0, 0, CAPTURE_THUMB_WIDTH, CAPTURE_LABEL_HEIGHT, kLabelBackground);
  capture_drawtext(font, &strip, kLabelInsetX, kLabelInsetY, label, kLabelInk[0], kLabelInk[1], kLabelInk[2]);
  const int32_t x0 = std::max(0, x), x1 = std::min(image->width, x + CAPTURE_THUMB_WIDTH);
  if (x1 <= x0) return;
  for (int32_t row = 0; row < CAPTURE_LABEL_HEIGHT; ++row) {
    const int32_t py = y + row;
    if (py < 0 || py >= image->height) continue;
    memcpy(image->pixels + (static_cast<size_t>(py) * image->width + x0) * 3,
           pixels + (static_cast<size_t>(row) * CAPTURE_THUMB_WIDTH + (x0 - x)) * 3, static_cast<size_t>(x1 - x0) * 3);
  }
}

void capture_placethumbnail(s_captureimage* sheet, s_capturefont* font, int32_t row, int32_t point,
                            const s_captureimage* frame, uint8_t* scratch, const char* label) {
  const s_capturecell cell = capture_sheetcell(row, point);
  s_captureimage thumb{CAPTURE_THUMB_WIDTH, CAPTURE_THUMB_HEIGHT, scratch};
  capture_downscale(frame, &thumb);
  for (int32_t y = 0; y < CAPTURE_THUMB_HEIGHT; ++y) {
    const int32_t py = cell.y + y;
    if (py < 0 || py >= sheet->height) continue;
    const int32_t x0 = std::max(0, cell.x), x1 = std::min(sheet->width, cell.x + CAPTURE_THUMB_WIDTH);
    if (x1 <= x0) continue;
    memcpy(sheet->pixels + (static_cast<size_t>(py) * sheet->width + x0) * 3,
           scratch + (static_cast<size_t>(y) * CAPTURE_THUMB_WIDTH + (x0 - cell.x)) * 3,
           static_cast<size_t>(x1 - x0) * 3);
  }
  capture_drawlabel(font, sheet, cell.labelx, cell.labely, label);
}
