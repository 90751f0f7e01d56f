// gfx/bitmap.cpp: bitmaps, pixel writes, texture uploads, and PNG loading
// from the resource image through LodePNG, in the three steps of
// gfx/png_load.h.
//
// Terms (bitmap, image, resource image): see docs/ARCHITECTURE.md#glossary.
// Here, a colour argument is 0xAARRGGBB; a stored pixel is 0xAABBGGRR
// (bytes red, green, blue, alpha in memory order, what GL_RGBA with
// GL_UNSIGNED_BYTE reads), so the pixel writer swaps red and blue. LodePNG's
// 8-bit RGBA output has that same byte order, so a decoded picture becomes
// the bitmap's pixel buffer as it is (on a big-endian host its words are
// rebuilt first).
//
// Pictures wider or taller than GFX_MaxImageSide are refused (from the PNG
// header, before decoding, where the limit is known by then): the driver
// could not make a texture of them, and decoding one costs seconds and
// gigabytes for nothing.
//
// Threads: main thread only (GL context), except gfx_pngdecode, which runs
// on the list loader's worker threads.
#include "gfx/gfx.h"

#include <lodepng.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/core.h"
#include "corefile/corefile.h"
#include "gfx/gfx_internal.h"
#include "gfx/gl.h"
#include "gfx/png_load.h"

// ---- Constants -------------------------------------------------------------------
namespace {
constexpr GLint kTextureComponents = 4;  // internal format: four components
constexpr int kBytesPerPixel = 4;
constexpr bool kLittleEndianHost = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
constexpr unsigned kLodePNGOutOfMemory = 83;  // LodePNG's "memory allocation failed"
}  // namespace

// ---- Globals -----------------------------------------------------------------------
s_bitmap* GFX_bitmaplist[GFX_MAX_BITMAPS];
int GFX_numbitmaps = 0;
bool GFX_deferuploads = false;
int gfx_pendinguploads = 0;

namespace {
// Textures made while uploads were deferred, in the order made, that have no
// pixels yet: a copy of each record (its name, size and pixel buffer).
s_bitmap pending[GFX_MAX_BITMAPS];
}  // namespace

// ---- Internal functions ---------------------------------------------------------------
namespace {

void UploadLevel0(const s_bitmap& bitmap) {
#ifdef __EMSCRIPTEN__
  gfx_webupload(bitmap);
  return;
#endif
  glTexImage2D(GL_TEXTURE_2D, 0, kTextureComponents, bitmap.width, bitmap.height, 0, GL_RGBA,
               GL_UNSIGNED_BYTE, bitmap.pixels);
}

// Sizes whose buffer would not fit an int byte count (or are negative) are
// refused before anything is allocated.
bool BitmapSizeFits(int width, int height) {
  if (width < 0 || height < 0) return false;
  if (width == 0 || height == 0) return true;
  return width <= INT_MAX / kBytesPerPixel / height;
}

// True for a picture no wider and no taller than maxside pixels.
bool FitsTexture(unsigned width, unsigned height, int maxside) {
  return maxside > 0 && width <= static_cast<unsigned>(maxside) && height <= static_cast<unsigned>(maxside);
}

// Turns count pixels of 8-bit RGBA bytes into stored pixels, in place: on a
// little-endian host they already are.
void StoreWords(uint32_t* pixels, size_t count) {
  if (kLittleEndianHost) return;
  for (size_t i = 0; i < count; i++) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pixels + i);
    pixels[i] = p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
                (static_cast<uint32_t>(p[3]) << 24);
  }
}

// Fills the record around a pixel buffer of width x height words (sizes that
// fit), which it takes over, creates its texture from those pixels, prints
// the texture's id and lists the record.
void CreateBitmapAround(int width, int height, uint32_t* pixels, s_bitmap* bitmap) {
  bitmap->width = width;
  bitmap->height = height;
  bitmap->reserved0 = 0;
  bitmap->texwidth = width;
  bitmap->texheight = height;
  bitmap->numpixels = bitmap->texwidth * bitmap->texheight;
  bitmap->size = bitmap->numpixels * kBytesPerPixel;
  bitmap->pixels = pixels;
  bitmap->s0 = 0.0f;
  bitmap->t0 = 0.0f;
  // The product is rounded to float before the division, as stored.
  bitmap->s1 = static_cast<float>(width * GFX_TEXCOORD_S1) / static_cast<float>(bitmap->texwidth);
  bitmap->t1 = static_cast<float>(height * GFX_TEXCOORD_T1) / static_cast<float>(bitmap->texheight);
  bitmap->reserved3 = 0;
  bitmap->textureid = GFX_CreateTexture(*bitmap);
  printf("bitmap textureid: %d\n", static_cast<int>(bitmap->textureid));

  // The list is never read by the show; a full one just stops recording.
  if (GFX_numbitmaps >= GFX_MAX_BITMAPS) {
    printf(GFX_MSG_BITMAPS_FULL, GFX_MAX_BITMAPS, static_cast<int>(bitmap->textureid));
    return;
  }
  GFX_bitmaplist[GFX_numbitmaps++] = bitmap;
}

// Takes texture out of the pending uploads, keeping the others' order;
// false when it was not there.
bool Unpend(GLuint texture) {
  for (int k = 0; k < gfx_pendinguploads; k++) {
    if (pending[k].textureid != texture) continue;
    for (int j = k + 1; j < gfx_pendinguploads; j++) pending[j - 1] = pending[j];
    gfx_pendinguploads--;
    return true;
  }
  return false;
}

// Records the new, bound texture of `bitmap` for a later upload; false (the
// caller uploads now) when deferring is off or the table is full.
[[maybe_unused]] bool Pend(const s_bitmap& bitmap, GLuint texture) {
  if (!GFX_deferuploads || gfx_pendinguploads >= GFX_MAX_BITMAPS) return false;
  pending[gfx_pendinguploads] = bitmap;
  pending[gfx_pendinguploads].textureid = texture;
  gfx_pendinguploads++;
  return true;
}

}  // namespace

// ---- Module functions ------------------------------------------------------------------
void gfx_uploadifpending(GLuint texture) {
  for (int k = 0; k < gfx_pendinguploads; k++) {
    if (pending[k].textureid != texture) continue;
    const s_bitmap bitmap = pending[k];
    Unpend(texture);
    UploadLevel0(bitmap);  // the caller has just bound it
    return;
  }
}

// ---- Public functions ------------------------------------------------------------------
unsigned int GFX_CreateTexture(s_bitmap bitmap) {
  const GLuint texture = gfx_newtexture(GL_LINEAR, GL_REPEAT);
#ifndef __EMSCRIPTEN__
  // The browser build clamps its images by writing into their storage at
  // once, and it decodes on the main thread anyway: it never defers.
  if (Pend(bitmap, texture)) return texture;
#endif
  UploadLevel0(bitmap);
  return texture;
}

bool GFX_UploadPendingTexture() {
  if (gfx_pendinguploads == 0) return false;
  GLint bound = 0;  // the active unit's texture, given back afterwards
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  glBindTexture(GL_TEXTURE_2D, pending[0].textureid);
  gfx_uploadifpending(pending[0].textureid);
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
  return true;
}

int GFX_PendingUploads() { return gfx_pendinguploads; }

int GFX_MaxImageSide() {
  // Before the window GLFW may not be started: no call into it then.
  if (!GFX_window || !glfwGetCurrentContext()) return GFX_MAX_IMAGE_SIDE;
  GLint driver = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &driver);
  return driver > 0 ? std::min(driver, GFX_MAX_IMAGE_SIDE) : GFX_MAX_IMAGE_SIDE;
}

void GFX_UpdateTexture(s_bitmap bitmap) {
  Unpend(bitmap.textureid);  // these pixels replace the ones it waited for
  glBindTexture(GL_TEXTURE_2D, bitmap.textureid);
  UploadLevel0(bitmap);
}

void GFX_DeleteTexture(s_bitmap bitmap) {
  Unpend(bitmap.textureid);
  GLuint texture = bitmap.textureid;
  glDeleteTextures(1, &texture);
}

void GFX_CreateBitmap(int width, int height, s_bitmap* bitmap) {
  if (!bitmap) return;
  if (!BitmapSizeFits(width, height)) {
    printf(GFX_MSG_BITMAP_REFUSED, width, height);
    return;
  }
  const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * kBytesPerPixel;
  // At least one byte, so that a 0-pixel bitmap still counts as created.
  CreateBitmapAround(width, height, static_cast<uint32_t*>(malloc(bytes > 0 ? bytes : 1)), bitmap);
}

void GFX_DeleteBitmap(s_bitmap* bitmap) {
  if (!bitmap || !bitmap->pixels) return;
  printf("deleting bitmap\n");
  GFX_DeleteTexture(*bitmap);
  free(bitmap->pixels);
}

void GFX_UpdateBitmap(s_bitmap bitmap) { GFX_UpdateTexture(bitmap); }

void GFX_DrawPixel(int x, int y, int color, s_bitmap bitmap) {
  if (!bitmap.pixels) return;
  if (x < 0 || x >= bitmap.width || y < 0 || y >= bitmap.height) return;
  const uint32_t c = static_cast<uint32_t>(color);
  bitmap.pixels[static_cast<size_t>(y) * bitmap.width + x] =
      (c & 0xFF00FF00u) + ((c & 0x00FF0000u) >> 16) + ((c & 0x000000FFu) << 16);
}

void GFX_DrawBitmap(int x, int y, s_bitmap bitmap) {
  GFX_BindTexture(static_cast<int>(bitmap.textureid));
  GFX_DrawQuad(static_cast<float>(x), static_cast<float>(y), static_cast<float>(bitmap.width),
               static_cast<float>(bitmap.height), bitmap.s0, bitmap.t0, bitmap.s1, bitmap.t1);
}

void gfx_pngread(s_pngload* load, const char* filename) {
  *load = s_pngload{};
  load->filename = filename;
  load->maxside = GFX_MaxImageSide();
  std::string* const outer = _dbg_holdlines(&load->fslines);
  s_corefile file;
  if (corefile_open(filename, &file, 0)) {
    load->size = corefile_fsize(&file);
    load->file = static_cast<unsigned char*>(malloc(load->size > 0 ? static_cast<size_t>(load->size) : 1));
    if (load->size > 0) corefile_read(load->file, load->size, 1, &file);
    corefile_close(&file);
  }
  _dbg_holdlines(outer);
}

void gfx_pngdecode(s_pngload* load) {
  if (!load->file) return;
  // What lodepng_decode32 does, in its two halves: the decode to the file's
  // own colour type, then the conversion to 8-bit RGBA through the library's
  // converter. Only 8-bit RGB without a transparent colour (every opaque
  // picture of the show) is widened by a plain loop here instead, several
  // times faster. The verdicts and the pixels are the same.
  LodePNGState state;
  lodepng_state_init(&state);
  state.decoder.color_convert = 0;
  unsigned char* raw = nullptr;
  const size_t bytes = load->size > 0 ? static_cast<size_t>(load->size) : 0;
  // The header first: a picture no texture here can take is refused before
  // its pixels cost seconds and gigabytes.
  load->status = lodepng_inspect(&load->width, &load->height, &state, load->file, bytes);
  if (load->status == 0 && !FitsTexture(load->width, load->height, load->maxside)) {
    load->status = GFX_PNG_OVERSIZED;
    lodepng_state_cleanup(&state);
    return;
  }
  if (load->status == 0) load->status = lodepng_decode(&raw, &load->width, &load->height, &state, load->file, bytes);
  const LodePNGColorMode& color = state.info_png.color;
  const size_t count = static_cast<size_t>(load->width) * load->height;
  if (load->status != 0 || !raw) {
    // Nothing decoded.
  } else if (color.colortype == LCT_RGBA && color.bitdepth == 8) {
    load->pixels = reinterpret_cast<uint32_t*>(raw);
    raw = nullptr;
    StoreWords(load->pixels, count);
  } else if (!(load->pixels = static_cast<uint32_t*>(malloc(count * kBytesPerPixel)))) {
    load->status = kLodePNGOutOfMemory;
  } else if (color.colortype == LCT_RGB && color.bitdepth == 8 && !color.key_defined) {
    for (size_t i = 0; i < count; i++) {
      const unsigned char* p = raw + i * 3;
      load->pixels[i] = p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) | 0xFF000000u;
    }
  } else {
    const LodePNGColorMode rgba = lodepng_color_mode_make(LCT_RGBA, 8);
    load->status = lodepng_convert(reinterpret_cast<unsigned char*>(load->pixels), raw, &rgba, &color,
                                   load->width, load->height);
    StoreWords(load->pixels, count);
  }
  free(raw);
  lodepng_state_cleanup(&state);
}

void gfx_pngfinish(s_pngload* load, s_bitmap* bitmap) {
  fwrite(load->fslines.data(), 1, load->fslines.size(), stdout);
  load->fslines.clear();
  const unsigned width = load->width;
  const unsigned height = load->height;
  // The read may have come before the window: the driver's own limit is known only now.
  const int maxside = GFX_MaxImageSide();
  if (load->status == 0 && load->pixels && !FitsTexture(width, height, maxside)) load->status = GFX_PNG_OVERSIZED;
  if (!load->file) {
    printf("- couldn't open file: %s\n", load->filename);
  } else {
    // No line break: the decoder's verdict continues this line.
    printf("pngbuffer loaded: %s, %d", load->filename, load->size);
    if (load->status == GFX_PNG_OVERSIZED) {
      printf(GFX_MSG_PNG_OVERSIZED, width, height, std::min(maxside, load->maxside));
    } else if (load->status != 0 || !load->pixels ||
               !BitmapSizeFits(static_cast<int>(width), static_cast<int>(height)) || width > INT_MAX ||
               height > INT_MAX) {
      printf("Error loading image: %s\n", load->status != 0 ? lodepng_error_text(load->status) : "image too large");
    } else {
      printf("PNG width: %d,height:%d\n", static_cast<int>(width), static_cast<int>(height));
      // The decoded buffer becomes the bitmap's: its texture is made from it
      // and left bound (callers set wrap modes right after).
      if (bitmap) {
        CreateBitmapAround(static_cast<int>(width), static_cast<int>(height), load->pixels, bitmap);
        load->pixels = nullptr;
      }
    }
  }
  free(load->pixels);
  free(load->file);
  load->pixels = nullptr;
  load->file = nullptr;
}

void LoadBitmapPNG(const char* filename, s_bitmap* bitmap) {
  s_pngload load;
  gfx_pngread(&load, filename);
  gfx_pngdecode(&load);
  gfx_pngfinish(&load, bitmap);
}
