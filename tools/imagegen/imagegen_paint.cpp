// imagegen_paint: colours, canvases, masks, compositing, blurs, distance
// transforms and signed-distance shapes.
//
// A canvas holds premultiplied RGBA floats, so "over" is one multiply-add per
// channel and blurs of transparent layers do not darken their edges. Shapes
// are signed distance functions evaluated per pixel centre; ig_cover turns a
// distance into a one-pixel anti-aliased edge.
//
// Threads: called from the worker thread that runs a recipe; nothing here
// keeps state between calls.
#include "imagegen.h"

#include <algorithm>
#include <cmath>
#include <limits>

// ---- Internal functions ---------------------------------------------------------

namespace {

// One box pass of radius r over n values spaced `stride` apart, from src to dst.
void box_pass(const float* src, float* dst, int n, int stride, int r, bool wrap) {
  const float norm = 1.0f / float(2 * r + 1);
  auto at = [&](int i) -> float {
    if (i < 0 || i >= n) {
      if (!wrap) return 0.0f;
      i %= n;
      if (i < 0) i += n;
    }
    return src[size_t(i) * stride];
  };
  float sum = 0.0f;
  for (int i = -r; i <= r; ++i) sum += at(i);
  for (int i = 0; i < n; ++i) {
    dst[size_t(i) * stride] = sum * norm;
    sum += at(i + r + 1) - at(i - r);
  }
}

// Blurs `channels` interleaved float planes of w x h in place. Rows are
// filtered one by one; columns with running sums kept for a whole row at a
// time, so that both passes walk memory in order.
void blur_planes(float* data, int w, int h, int channels, int radius, bool wrap) {
  if (radius <= 0 || w <= 0 || h <= 0) return;
  const size_t row_len = size_t(w) * channels;
  std::vector<float> line(size_t(std::max(w, h)));
  std::vector<float> out(size_t(std::max(w, h)));
  std::vector<float> src(size_t(h) * row_len);
  std::vector<float> sums(row_len);
  const float norm = 1.0f / float(2 * radius + 1);
  auto row_at = [&](int y) -> const float* {
    if (y < 0 || y >= h) {
      if (!wrap) return nullptr;
      y %= h;
      if (y < 0) y += h;
    }
    return &src[size_t(y) * row_len];
  };
  for (int pass = 0; pass < 3; ++pass) {
    for (int y = 0; y < h; ++y) {
      float* row = data + size_t(y) * row_len;
      for (int c = 0; c < channels; ++c) {
        for (int x = 0; x < w; ++x) line[x] = row[size_t(x) * channels + c];
        box_pass(line.data(), out.data(), w, 1, radius, wrap);
        for (int x = 0; x < w; ++x) row[size_t(x) * channels + c] = out[x];
      }
    }
    std::copy_n(data, src.size(), src.data());
    std::fill(sums.begin(), sums.end(), 0.0f);
    for (int y = -radius; y <= radius; ++y)
      if (const float* r = row_at(y))
        for (size_t i = 0; i < row_len; ++i) sums[i] += r[i];
    for (int y = 0; y < h; ++y) {
      float* row = data + size_t(y) * row_len;
      for (size_t i = 0; i < row_len; ++i) row[i] = sums[i] * norm;
      const float* add = row_at(y + radius + 1);
      const float* sub = row_at(y - radius);
      if (add)
        for (size_t i = 0; i < row_len; ++i) sums[i] += add[i];
      if (sub)
        for (size_t i = 0; i < row_len; ++i) sums[i] -= sub[i];
    }
  }
}

// One-dimensional squared distance transform (Felzenszwalb and Huttenlocher)
// of f (n samples) into d; v and z are scratch of n and n + 1 entries.
void edt_1d(const float* f, float* d, int n, int* v, float* z) {
  const float inf = std::numeric_limits<float>::infinity();
  int k = 0;
  v[0] = 0;
  z[0] = -inf;
  z[1] = inf;
  for (int q = 1; q < n; ++q) {
    if (f[q] == inf) continue;
    if (f[v[k]] == inf) {  // nothing finite yet: q becomes the first parabola
      v[k] = q;
      continue;
    }
    float s = ((f[q] + float(q) * q) - (f[v[k]] + float(v[k]) * v[k])) / (2.0f * (q - v[k]));
    while (k > 0 && s <= z[k]) {
      --k;
      s = ((f[q] + float(q) * q) - (f[v[k]] + float(v[k]) * v[k])) / (2.0f * (q - v[k]));
    }
    ++k;
    v[k] = q;
    z[k] = s;
    z[k + 1] = inf;
  }
  if (f[v[0]] == inf) {  // no finite sample at all
    for (int q = 0; q < n; ++q) d[q] = inf;
    return;
  }
  k = 0;
  for (int q = 0; q < n; ++q) {
    while (z[k + 1] < q) ++k;
    const float dq = float(q - v[k]);
    d[q] = dq * dq + f[v[k]];
  }
}

// Distance from every pixel to the nearest pixel where inside() holds.
template <class Inside>
std::vector<float> distance_to(const ig_mask* m, Inside inside) {
  const int w = m->width, h = m->height;
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> grid(size_t(w) * h);
  for (size_t i = 0; i < grid.size(); ++i) grid[i] = inside(m->v[i]) ? 0.0f : inf;
  const int n = std::max(w, h);
  std::vector<float> f(n), d(n), z(n + 1);
  std::vector<int> v(n);
  for (int x = 0; x < w; ++x) {
    for (int y = 0; y < h; ++y) f[y] = grid[size_t(y) * w + x];
    edt_1d(f.data(), d.data(), h, v.data(), z.data());
    for (int y = 0; y < h; ++y) grid[size_t(y) * w + x] = d[y];
  }
  for (int y = 0; y < h; ++y) {
    float* row = &grid[size_t(y) * w];
    edt_1d(row, d.data(), w, v.data(), z.data());
    for (int x = 0; x < w; ++x) row[x] = std::sqrt(d[x]);
  }
  return grid;
}

}  // namespace

// ---- Public functions: colour ---------------------------------------------------

ig_rgba ig_hex(uint32_t rgb, float alpha) {
  return {float((rgb >> 16) & 0xFF) / 255.0f, float((rgb >> 8) & 0xFF) / 255.0f,
          float(rgb & 0xFF) / 255.0f, alpha};
}

ig_rgba ig_mix(ig_rgba a, ig_rgba b, float t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t,
          a.a + (b.a - a.a) * t};
}

ig_rgba ig_with_alpha(ig_rgba c, float alpha) { return {c.r, c.g, c.b, alpha}; }

float ig_clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

float ig_smoothstep(float e0, float e1, float v) {
  const float t = ig_clamp01((v - e0) / (e1 - e0));
  return t * t * (3.0f - 2.0f * t);
}

// ---- Public functions: canvas and masks -----------------------------------------

ig_image ig_image_make(int width, int height, ig_rgba fill) {
  ig_image img;
  img.width = width;
  img.height = height;
  img.px.resize(size_t(width) * height * 4);
  const float a = ig_clamp01(fill.a);
  for (size_t i = 0; i < img.px.size(); i += 4) {
    img.px[i + 0] = fill.r * a;
    img.px[i + 1] = fill.g * a;
    img.px[i + 2] = fill.b * a;
    img.px[i + 3] = a;
  }
  return img;
}

ig_mask ig_mask_make(int width, int height) {
  ig_mask m;
  m.width = width;
  m.height = height;
  m.v.assign(size_t(width) * height, 0.0f);
  return m;
}

void ig_blend(ig_image* img, int x, int y, ig_rgba c, float coverage) {
  if (x < 0 || y < 0 || x >= img->width || y >= img->height) return;
  const float a = ig_clamp01(c.a * coverage);
  if (a <= 0.0f) return;
  float* p = &img->px[(size_t(y) * img->width + x) * 4];
  const float keep = 1.0f - a;
  p[0] = c.r * a + p[0] * keep;
  p[1] = c.g * a + p[1] * keep;
  p[2] = c.b * a + p[2] * keep;
  p[3] = a + p[3] * keep;
}

ig_rgba ig_get(const ig_image* img, int x, int y) {
  if (x < 0 || y < 0 || x >= img->width || y >= img->height) return {0, 0, 0, 0};
  const float* p = &img->px[(size_t(y) * img->width + x) * 4];
  if (p[3] <= 0.0f) return {0, 0, 0, 0};
  return {p[0] / p[3], p[1] / p[3], p[2] / p[3], p[3]};
}

void ig_fill_mask(ig_image* img, const ig_mask* mask, int ox, int oy, ig_rgba colour) {
  for (int y = 0; y < mask->height; ++y)
    for (int x = 0; x < mask->width; ++x) {
      const float c = mask->v[size_t(y) * mask->width + x];
      if (c > 0.0f) ig_blend(img, ox + x, oy + y, colour, c);
    }
}

void ig_draw_image(ig_image* dst, const ig_image* src, int ox, int oy, float opacity) {
  for (int y = 0; y < src->height; ++y) {
    const int dy = oy + y;
    if (dy < 0 || dy >= dst->height) continue;
    for (int x = 0; x < src->width; ++x) {
      const int dx = ox + x;
      if (dx < 0 || dx >= dst->width) continue;
      const float* s = &src->px[(size_t(y) * src->width + x) * 4];
      float* d = &dst->px[(size_t(dy) * dst->width + dx) * 4];
      const float keep = 1.0f - s[3] * opacity;
      for (int k = 0; k < 4; ++k) d[k] = s[k] * opacity + d[k] * keep;
    }
  }
}

void ig_mask_blur(ig_mask* mask, int radius, bool wrap) {
  blur_planes(mask->v.data(), mask->width, mask->height, 1, radius, wrap);
}

void ig_image_blur(ig_image* img, int radius, bool wrap) {
  blur_planes(img->px.data(), img->width, img->height, 4, radius, wrap);
}

std::vector<float> ig_mask_distance(const ig_mask* mask) {
  return distance_to(mask, [](float c) { return c >= 0.5f; });
}

ig_mask ig_mask_dilate(const ig_mask* mask, float radius) {
  ig_mask out = *mask;
  const std::vector<float> d = ig_mask_distance(mask);
  // d runs between pixel centres, and a covered pixel's centre lies half a
  // pixel inside the edge: a pixel at distance d is covered up to radius + 1 - d.
  for (size_t i = 0; i < out.v.size(); ++i)
    out.v[i] = std::max(out.v[i], ig_clamp01(radius + 1.0f - d[i]));
  return out;
}

ig_mask ig_mask_erode(const ig_mask* mask, float radius) {
  ig_mask out = *mask;
  const std::vector<float> d = distance_to(mask, [](float c) { return c < 0.5f; });
  // Here d runs to the nearest uncovered centre, half a pixel outside the edge.
  for (size_t i = 0; i < out.v.size(); ++i)
    out.v[i] = std::min(out.v[i], ig_clamp01(d[i] - radius));
  return out;
}

// ---- Public functions: shapes ---------------------------------------------------

float ig_sd_circle(float px, float py, float cx, float cy, float r) {
  return std::hypot(px - cx, py - cy) - r;
}

float ig_sd_ellipse(float px, float py, float cx, float cy, float rx, float ry) {
  // A first-order estimate (distance of the implicit function over its
  // gradient); exact on circles and close enough for 1 px anti-aliasing.
  const float x = px - cx, y = py - cy;
  const float k0 = std::hypot(x / rx, y / ry);
  const float k1 = std::hypot(x / (rx * rx), y / (ry * ry));
  if (k1 <= 0.0f) return -std::min(rx, ry);
  return k0 * (k0 - 1.0f) / k1;
}

float ig_sd_box(float px, float py, float cx, float cy, float hw, float hh, float corner) {
  const float qx = std::fabs(px - cx) - hw + corner;
  const float qy = std::fabs(py - cy) - hh + corner;
  const float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
  return outside + std::min(std::max(qx, qy), 0.0f) - corner;
}

float ig_sd_capsule(float px, float py, float ax, float ay, float bx, float by, float ra,
                    float rb) {
  const float pax = px - ax, pay = py - ay, bax = bx - ax, bay = by - ay;
  const float len2 = bax * bax + bay * bay;
  const float h = len2 > 0.0f ? ig_clamp01((pax * bax + pay * bay) / len2) : 0.0f;
  return std::hypot(pax - bax * h, pay - bay * h) - (ra + (rb - ra) * h);
}

float ig_sd_polygon(float px, float py, const float* xy, int n) {
  float d = (px - xy[0]) * (px - xy[0]) + (py - xy[1]) * (py - xy[1]);
  float s = 1.0f;
  for (int i = 0, j = n - 1; i < n; j = i, ++i) {
    const float ex = xy[2 * j] - xy[2 * i], ey = xy[2 * j + 1] - xy[2 * i + 1];
    const float wx = px - xy[2 * i], wy = py - xy[2 * i + 1];
    const float h = ig_clamp01((wx * ex + wy * ey) / (ex * ex + ey * ey));
    const float bx = wx - ex * h, by = wy - ey * h;
    d = std::min(d, bx * bx + by * by);
    const bool c1 = py >= xy[2 * i + 1], c2 = py < xy[2 * j + 1], c3 = ex * wy > ey * wx;
    if ((c1 && c2 && c3) || (!c1 && !c2 && !c3)) s = -s;
  }
  return s * std::sqrt(d);
}

float ig_smin(float a, float b, float k) {
  if (k <= 0.0f) return std::min(a, b);
  const float h = ig_clamp01(0.5f + 0.5f * (b - a) / k);
  return b + (a - b) * h - k * h * (1.0f - h);
}

void ig_soft_disc(ig_image* img, float cx, float cy, float r, float soft, ig_rgba colour) {
  const float inner = r * (1.0f - ig_clamp01(soft));
  const int x0 = int(std::floor(cx - r - 1)), x1 = int(std::ceil(cx + r + 1));
  const int y0 = int(std::floor(cy - r - 1)), y1 = int(std::ceil(cy + r + 1));
  for (int y = std::max(y0, 0); y < std::min(y1, img->height); ++y)
    for (int x = std::max(x0, 0); x < std::min(x1, img->width); ++x) {
      const float d = std::hypot(x + 0.5f - cx, y + 0.5f - cy);
      float c;
      if (r - inner < 1.0f)
        c = ig_cover(d - r);
      else
        c = 1.0f - ig_smoothstep(inner, r, d);
      if (c > 0.0f) ig_blend(img, x, y, colour, c);
    }
}

void ig_bubble(ig_image* img, float cx, float cy, float r, ig_rgba colour) {
  const float rim = std::max(1.2f, r * 0.12f);
  const int x0 = int(std::floor(cx - r - 2)), x1 = int(std::ceil(cx + r + 2));
  const int y0 = int(std::floor(cy - r - 2)), y1 = int(std::ceil(cy + r + 2));
  // The specular dot sits up and to the left, as if lit from the top left.
  const float hx = cx - r * 0.38f, hy = cy - r * 0.40f, hr = std::max(0.8f, r * 0.2f);
  for (int y = std::max(y0, 0); y < std::min(y1, img->height); ++y)
    for (int x = std::max(x0, 0); x < std::min(x1, img->width); ++x) {
      const float fx = x + 0.5f, fy = y + 0.5f;
      const float d = std::hypot(fx - cx, fy - cy);
      const float body = ig_cover(d - r);
      if (body <= 0.0f) continue;
      // Brighter towards the rim, as a real bubble's edge reflects more.
      const float edge = ig_smoothstep(r - rim * 2.5f, r - rim * 0.3f, d);
      float a = body * (0.10f + 0.75f * edge);
      const float shine = ig_cover(std::hypot(fx - hx, fy - hy) - hr);
      a = std::max(a, shine * 0.95f);
      ig_blend(img, x, y, colour, a);
    }
}
