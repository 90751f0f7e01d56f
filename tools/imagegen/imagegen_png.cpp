// imagegen_png: from a float canvas to PNG bytes on disk.
//
// Export un-premultiplies the canvas into straight 8-bit RGBA (what the show's
// loader hands to GL unchanged), optionally dithers against banding, and
// gives every fully transparent pixel a colour: the show samples its images
// with linear filtering and straight alpha, so a transparent neighbour's
// colour bleeds into an edge texel. Transparent pixels next to ink therefore
// take the ink's colour, and the rest the image's fringe colour (its text
// colour), never an accidental black.
//
// Glossary
//   ink     a pixel whose 8-bit alpha is above 0.
//   bleed   how many pixels the ink's colour is carried into the
//           transparent area, one ring per pass.
//
// Threads: called from the worker thread that runs a recipe.
#include "imagegen.h"

#include <lodepng.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

// ---- Constants ------------------------------------------------------------------

namespace {

constexpr int kZlibLevel = 6;  // zlib's default trade of size against time

// ---- Internal functions ---------------------------------------------------------

unsigned char to_byte(float v) {
  const float s = std::round(v * 255.0f);
  return static_cast<unsigned char>(s < 0.0f ? 0.0f : (s > 255.0f ? 255.0f : s));
}

// Carries ink colours `passes` pixels out into transparent pixels; each
// transparent pixel that touches coloured ones (8-neighbourhood) takes their
// alpha-weighted mean. weight is above 0 where a pixel holds a meaningful
// colour (its alpha for ink, a small carried weight for bled pixels).
void bleed(std::vector<unsigned char>* rgba, std::vector<float>* weight, int w, int h, int passes) {
  std::vector<unsigned char>& p = *rgba;
  std::vector<float>& wt = *weight;
  std::vector<float> next_wt;
  std::vector<unsigned char> next;
  for (int pass = 0; pass < passes; ++pass) {
    next = p;
    next_wt = wt;
    bool changed = false;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const size_t i = size_t(y) * w + x;
        if (wt[i] > 0.0f) continue;
        float sum[3] = {0, 0, 0}, total = 0.0f;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int nx = x + dx, ny = y + dy;
            if ((dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
            const size_t j = size_t(ny) * w + nx;
            if (wt[j] <= 0.0f) continue;
            for (int k = 0; k < 3; ++k) sum[k] += wt[j] * p[j * 4 + k];
            total += wt[j];
          }
        if (total <= 0.0f) continue;
        for (int k = 0; k < 3; ++k) next[i * 4 + k] = to_byte(sum[k] / total / 255.0f);
        // Each ring carries a little less weight, so nearer ink wins.
        next_wt[i] = total * (1.0f / 64.0f) + 1e-6f;
        changed = true;
      }
    p.swap(next);
    wt.swap(next_wt);
    if (!changed) break;
  }
}

// LodePNG's deflate hook: zlib's deflate, several times faster than LodePNG's
// own on our noisy (dithered) pictures at a similar size.
unsigned zlib_compress(unsigned char** out, size_t* outsize, const unsigned char* in, size_t insize,
                       const LodePNGCompressSettings*) {
  uLongf bound = compressBound(uLong(insize));
  // LodePNG releases the result with free(): its allocators are the C heap's.
  unsigned char* buffer = static_cast<unsigned char*>(std::malloc(bound));
  if (!buffer) return 83;  // LodePNG's "memory allocation failed"
  if (compress2(buffer, &bound, in, uLong(insize), kZlibLevel) != Z_OK) {
    std::free(buffer);
    return 111;  // LodePNG's "custom zlib or inflate decompression failed"
  }
  *out = buffer;
  *outsize = bound;
  return 0;
}

}  // namespace

// ---- Public functions -----------------------------------------------------------

std::vector<unsigned char> ig_to_rgba8(const ig_image* img, const ig_png_options* opt) {
  const int w = img->width, h = img->height;
  std::vector<unsigned char> out(size_t(w) * h * 4);
  std::vector<float> weight(size_t(w) * h, 0.0f);
  bool any_transparent = false;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t i = size_t(y) * w + x;
      const float* p = &img->px[i * 4];
      const unsigned char a = to_byte(p[3]);
      unsigned char* o = &out[i * 4];
      o[3] = a;
      if (a == 0) {
        any_transparent = true;
        continue;
      }
      for (int k = 0; k < 3; ++k) {
        float v = p[k] / p[3];
        if (opt->dither)
          v += (ig_hash01(x, y, opt->dither_seed * 4u + uint32_t(k)) - 0.5f) / 255.0f;
        o[k] = to_byte(v);
      }
      weight[i] = a / 255.0f;
    }
  if (!any_transparent) return out;
  bleed(&out, &weight, w, h, std::max(0, opt->bleed));
  const unsigned char fr = to_byte(opt->fringe.r), fg = to_byte(opt->fringe.g),
                      fb = to_byte(opt->fringe.b);
  for (size_t i = 0; i < weight.size(); ++i)
    if (weight[i] <= 0.0f) {
      out[i * 4 + 0] = fr;
      out[i * 4 + 1] = fg;
      out[i * 4 + 2] = fb;
    }
  return out;
}

unsigned ig_png_encode(const std::vector<unsigned char>& rgba, int width, int height,
                       std::vector<unsigned char>* png) {
  png->clear();
  if (width <= 0 || height <= 0 || rgba.size() != size_t(width) * height * 4) return 1;
  lodepng::State state;
  // The encoder picks the smallest exact colour type (RGB for opaque pictures,
  // grey for grey ones); the show decodes every PNG to 8-bit RGBA anyway.
  state.encoder.auto_convert = 1;
  // Every row "up" filtered (each byte less the one above it): the show's
  // loader unfilters these fastest, a good third faster than the per-row
  // choice that picks Paeth for noisy rows, for files a few percent larger.
  state.encoder.filter_strategy = LFS_TWO;
  state.encoder.zlibsettings.custom_zlib = zlib_compress;
  return lodepng::encode(*png, rgba, unsigned(width), unsigned(height), state);
}

bool ig_write_file(const char* path, const std::vector<unsigned char>& bytes) {
  std::FILE* f = std::fopen(path, "wb");
  if (!f) {
    std::fprintf(stderr, "imagegen: cannot write %s\n", path);
    return false;
  }
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool closed = std::fclose(f) == 0;
  if (!ok || !closed) std::fprintf(stderr, "imagegen: cannot write %s\n", path);
  return ok && closed;
}
