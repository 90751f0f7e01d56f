// gfx/bitmap.cpp: bitmaps (a CPU pixel buffer paired with its GL texture),
// pixel writes, texture uploads, and PNG loading from the resource image
// through LodePNG.
//
// Glossary: a colour argument is 0xAARRGGBB; a stored pixel is 0xAABBGGRR
// (bytes red, green, blue, alpha in memory order, what GL_RGBA with
// GL_UNSIGNED_BYTE reads), so the pixel writer swaps red and blue.
//
// Threads: main thread only (GL context).
#include "gfx/gfx.h"

#include <lodepng.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "corefile/corefile.h"
#include "gfx/gfx_internal.h"
#include "gfx/gl.h"

// ---- Constants -------------------------------------------------------------------
namespace {
constexpr GLint kTextureComponents = 4;  // internal format: four components
constexpr int kBytesPerPixel = 4;
}  // namespace

// ---- Globals -----------------------------------------------------------------------
s_bitmap* GFX_bitmaplist[GFX_MAX_BITMAPS];
int GFX_numbitmaps = 0;

// ---- Internal functions ---------------------------------------------------------------
namespace {

void UploadLevel0(const s_bitmap& bitmap) {
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

}  // namespace

// ---- Public functions ------------------------------------------------------------------
unsigned int GFX_CreateTexture(s_bitmap bitmap) {
  const GLuint texture = gfx_newtexture(GL_LINEAR, GL_REPEAT);
  UploadLevel0(bitmap);
  return texture;
}

void GFX_UpdateTexture(s_bitmap bitmap) {
  glBindTexture(GL_TEXTURE_2D, bitmap.textureid);
  UploadLevel0(bitmap);
}

void GFX_DeleteTexture(s_bitmap bitmap) {
  GLuint texture = bitmap.textureid;
  glDeleteTextures(1, &texture);
}

void GFX_CreateBitmap(int width, int height, s_bitmap* bitmap) {
  if (!bitmap) return;
  if (!BitmapSizeFits(width, height)) {
    printf(GFX_MSG_BITMAP_REFUSED, width, height);
    return;
  }
  bitmap->width = width;
  bitmap->height = height;
  bitmap->reserved0 = 0;
  bitmap->texwidth = width;
  bitmap->texheight = height;
  bitmap->numpixels = bitmap->texwidth * bitmap->texheight;
  bitmap->size = bitmap->numpixels * kBytesPerPixel;
  // At least one byte, so that a 0-pixel bitmap still counts as created.
  bitmap->pixels = static_cast<uint32_t*>(malloc(bitmap->size > 0 ? bitmap->size : 1));
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

void LoadBitmapPNG(const char* filename, s_bitmap* bitmap) {
  s_corefile file;
  if (!corefile_open(filename, &file, 0)) {
    printf("- couldn't open file: %s\n", filename);
    return;
  }
  const int size = corefile_fsize(&file);
  const size_t buffersize = size > 0 ? static_cast<size_t>(size) : 1;
  unsigned char* buffer = static_cast<unsigned char*>(malloc(buffersize));
  if (size > 0) corefile_read(buffer, size, 1, &file);
  corefile_close(&file);
  // No line break: the decoder's verdict continues this line.
  printf("pngbuffer loaded: %s, %d", filename, size);

  unsigned char* image = nullptr;
  unsigned width = 0;
  unsigned height = 0;
  const unsigned status =
      lodepng_decode32(&image, &width, &height, buffer, size > 0 ? static_cast<size_t>(size) : 0);
  if (status != 0 || !image || !BitmapSizeFits(static_cast<int>(width), static_cast<int>(height)) ||
      width > INT_MAX || height > INT_MAX) {
    printf("Error loading image: %s\n", status != 0 ? lodepng_error_text(status) : "image too large");
    free(image);
    free(buffer);
    return;
  }
  printf("PNG width: %d,height:%d\n", static_cast<int>(width), static_cast<int>(height));

  GFX_CreateBitmap(static_cast<int>(width), static_cast<int>(height), bitmap);
  const int w = static_cast<int>(width);
  const int h = static_cast<int>(height);
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      const unsigned char* p = image + (static_cast<size_t>(y) * w + x) * kBytesPerPixel;
      const uint32_t color = (static_cast<uint32_t>(p[3]) << 24) | (static_cast<uint32_t>(p[0]) << 16) |
                             (static_cast<uint32_t>(p[1]) << 8) | static_cast<uint32_t>(p[2]);
      GFX_DrawPixel(x, y, static_cast<int>(color), *bitmap);
    }
  }
  // Leaves the new texture bound: callers set wrap modes right after.
  GFX_UpdateBitmap(*bitmap);
  free(buffer);
  free(image);
}
