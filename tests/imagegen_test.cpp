// Tests of the image generator: its painting helpers on small inputs, and the
// real generator run into this test's scratch folder, whose output is then
// decoded with LodePNG and checked the way the show and its shaders use it.
#include "tools/imagegen/imagegen.h"

#include "effects/assets.h"

#include <gtest/gtest.h>
#include <lodepng.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// ---- Helpers --------------------------------------------------------------------

struct Decoded {
  unsigned width = 0, height = 0;
  std::vector<unsigned char> rgba;
  const unsigned char* at(unsigned x, unsigned y) const { return &rgba[(size_t(y) * width + x) * 4]; }
};

bool decode(const fs::path& path, Decoded* out) {
  std::vector<unsigned char> bytes;
  if (lodepng::load_file(bytes, path.string()) != 0) return false;
  return lodepng::decode(out->rgba, out->width, out->height, bytes) == 0;
}

std::vector<unsigned char> read_bytes(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(f), {});
}

int run_generator(const std::string& args) {
  const std::string cmd = std::string(SPROX_IMAGEGEN) + " " + args + " > /dev/null 2>&1";
  const int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool font_present(const char* path) { return fs::exists(path); }

// Mean absolute difference between two rows or columns of one channel.
double line_diff(const Decoded& img, int channel, bool columns, unsigned a, unsigned b) {
  double sum = 0;
  const unsigned n = columns ? img.height : img.width;
  for (unsigned i = 0; i < n; ++i) {
    const unsigned char* p = columns ? img.at(a, i) : img.at(i, a);
    const unsigned char* q = columns ? img.at(b, i) : img.at(i, b);
    sum += std::abs(int(p[channel]) - int(q[channel]));
  }
  return sum / n;
}

// How a picture continues across its wrap edge compared with how it
// continues between neighbouring lines inside: the seam's difference and the
// 99th percentile of the interior differences (sparse marks make single
// interior pairs jumpy, so a mean would be too strict).
void seam(const Decoded& img, int channel, bool columns, double* at_seam, double* interior) {
  const unsigned n = columns ? img.width : img.height;
  *at_seam = line_diff(img, channel, columns, n - 1, 0);
  std::vector<double> steps;
  for (unsigned i = 0; i + 1 < n; ++i) steps.push_back(line_diff(img, channel, columns, i, i + 1));
  std::sort(steps.begin(), steps.end());
  *interior = steps[steps.size() * 99 / 100];
}

// ---- The asset table as the show loads it ---------------------------------------

struct Expected {
  const char* prefix;  // a whole file name, or the start of a family's names
  unsigned width, height;
};

// The images that are not a full picture of the show (EFFECTS_WIDTH x
// EFFECTS_HEIGHT); the cards of one kind are matched by their prefix.
const Expected kOtherSizes[] = {
    {"text_greetings", 1024, 256}, {"credit_label", 512, 128},   {"credit_", 1024, 256},
    {"logo0", 1024, 512},          {"twister.png", 256, 512},    {"sprox_girl1080.png", 720, 1080},
    {"nutrician.png", 512, 768},   {"cigburn.png", 256, 256},    {"sugaricon2.png", 256, 256},
    {"vintage8", 1024, 1024},      {"noise.png", 256, 256},      {"mono.png", 512, 512},
    {"grisp.png", 512, 512},       {"damage.png", 1024, 512},
};

Expected expected_size(const std::string& file) {
  for (const Expected& e : kOtherSizes)
    if (file.rfind(e.prefix, 0) == 0) return e;
  return {"", unsigned(EFFECTS_WIDTH), unsigned(EFFECTS_HEIGHT)};
}

// Pictures a shader composites over something else: transparent around.
const char* const kTransparent[] = {
    "text_keldrun.png", "text_serve.png", "text_fizzing.png", "text_haldex2023.png",
    "logo0a.png", "logo0b.png", "logo0c.png", "text_wannasprox.png", "text_sproxfever.png",
    "text_orange.png", "sprox_girl1080.png", "credit_pelnik.png", "credit_dravo.png",
    "credit_sune.png", "credit_quibbet.png", "credit_torvin2.png", "credit_label1.png",
    "credit_label2.png", "text_greetings1.png", "text_greetings3c.png", "text_greetings6e.png",
    "text_greetings8.png", "cigburn.png", "sugaricon2.png", "text_closing.png", "closing0.png",
    "grisp.png", "text_dots.png", "text_own1.png", "text_own3.png", "text_owndemoscene.png",
    "text_owedemoscene2.png"};

// Pictures that fill their frame.
const char* const kOpaque[] = {"introbg.png", "titlebg.png", "ballsbg.png", "blackbg.png",
                               "bluebg.png", "widescreen2.png", "nutrician.png", "noise.png",
                               "mono.png", "vintage8.png", "vintage8b.png", "damage.png",
                               "twister.png", "flash0.png", "flash1.png", "flash3.png",
                               "flash4.png", "flash5.png", "flash6.png"};

// ---- The generator, run once for the suite --------------------------------------

class Generated : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::absolute("images_full");
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // Left over from an older table: the generator must clear stale pictures
    // (the packer stores the whole folder) but nothing else.
    std::ofstream(dir_ / "stale.png") << "old";
    std::ofstream(dir_ / "notes.txt") << "keep";
    status_ = run_generator(dir_.string());
  }
  const Decoded& image(const std::string& name) {
    auto it = cache_.find(name);
    if (it == cache_.end()) {
      Decoded d;
      EXPECT_TRUE(decode(dir_ / name, &d)) << name;
      it = cache_.emplace(name, std::move(d)).first;
    }
    return it->second;
  }
  static fs::path dir_;
  static int status_;
  static std::map<std::string, Decoded> cache_;
};

fs::path Generated::dir_;
int Generated::status_ = -1;
std::map<std::string, Decoded> Generated::cache_;

}  // namespace

// ---- Helpers: noise -------------------------------------------------------------

TEST(ImagegenNoise, TiledNoiseRepeatsExactlyAfterItsPeriodAndVaries) {
  float lo = 1, hi = 0;
  for (int i = 0; i < 200; ++i) {
    const float x = i * 0.731f, y = i * 0.377f;
    const float v = ig_noise_tiled(x, y, 8, 5);
    // Equal up to the float rounding of the shifted coordinate.
    EXPECT_NEAR(v, ig_noise_tiled(x + 8.0f, y, 8, 5), 1e-5f);
    EXPECT_NEAR(v, ig_noise_tiled(x, y - 16.0f, 8, 5), 1e-5f);
    EXPECT_NEAR(ig_fbm_tiled(x, y, 4, 5, 9), ig_fbm_tiled(x + 4.0f, y + 4.0f, 4, 5, 9), 1e-5f);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
    EXPECT_GE(v, 0.0f);
    EXPECT_LE(v, 1.0f);
  }
  EXPECT_GT(hi - lo, 0.5f) << "noise should span most of its range";
  // Different seeds give different fields.
  EXPECT_NE(ig_noise_tiled(1.5f, 2.5f, 8, 1), ig_noise_tiled(1.5f, 2.5f, 8, 2));
}

TEST(ImagegenNoise, RandomGeneratorIsReproducibleAndStaysInRange) {
  ig_rng a = ig_rng_make(42), b = ig_rng_make(42), c = ig_rng_make(43);
  bool differs = false;
  for (int i = 0; i < 100; ++i) {
    const uint32_t va = ig_rng_next(&a);
    EXPECT_EQ(va, ig_rng_next(&b));
    differs = differs || va != ig_rng_next(&c);
    const float f = ig_rng_range(&a, -2.0f, 3.0f);
    ig_rng_range(&b, -2.0f, 3.0f);
    EXPECT_GE(f, -2.0f);
    EXPECT_LT(f, 3.0f);
  }
  EXPECT_TRUE(differs);
}

// ---- Helpers: masks and blurs ---------------------------------------------------

TEST(ImagegenPaint, DistanceTransformIsEuclidean) {
  ig_mask m = ig_mask_make(20, 12);
  m.v[size_t(2) * 20 + 3] = 1.0f;
  const std::vector<float> d = ig_mask_distance(&m);
  EXPECT_FLOAT_EQ(d[size_t(2) * 20 + 3], 0.0f);
  EXPECT_FLOAT_EQ(d[size_t(6) * 20 + 6], 5.0f);  // 3-4-5 triangle
  EXPECT_FLOAT_EQ(d[size_t(2) * 20 + 19], 16.0f);
  // An empty mask is infinitely far from ink everywhere.
  const ig_mask empty = ig_mask_make(5, 5);
  for (float v : ig_mask_distance(&empty)) EXPECT_TRUE(std::isinf(v));
}

TEST(ImagegenPaint, DilateGrowsAndErodeShrinksByTheRadius) {
  ig_mask m = ig_mask_make(41, 41);
  for (int y = 15; y <= 25; ++y)
    for (int x = 15; x <= 25; ++x) m.v[size_t(y) * 41 + x] = 1.0f;
  const ig_mask grown = ig_mask_dilate(&m, 4.0f);
  EXPECT_FLOAT_EQ(grown.v[size_t(20) * 41 + 11], 1.0f);  // 4 px left of the square
  EXPECT_FLOAT_EQ(grown.v[size_t(20) * 41 + 9], 0.0f);   // 6 px left
  EXPECT_FLOAT_EQ(grown.v[size_t(20) * 41 + 20], 1.0f);
  const ig_mask shrunk = ig_mask_erode(&m, 3.0f);
  EXPECT_FLOAT_EQ(shrunk.v[size_t(20) * 41 + 15], 0.0f);  // the old edge is gone
  EXPECT_FLOAT_EQ(shrunk.v[size_t(20) * 41 + 17], 0.0f);  // 3 px in: just outside
  EXPECT_FLOAT_EQ(shrunk.v[size_t(20) * 41 + 18], 1.0f);  // the new edge
  EXPECT_FLOAT_EQ(shrunk.v[size_t(20) * 41 + 20], 1.0f);  // the middle stays
}

TEST(ImagegenPaint, BlurKeepsTotalCoverageAndSpreadsSymmetrically) {
  ig_mask m = ig_mask_make(32, 32);
  m.v[size_t(16) * 32 + 16] = 1.0f;
  ig_mask_blur(&m, 2);
  double sum = 0;
  for (float v : m.v) sum += v;
  EXPECT_NEAR(sum, 1.0, 1e-4);
  EXPECT_FLOAT_EQ(m.v[size_t(16) * 32 + 13], m.v[size_t(16) * 32 + 19]);
  EXPECT_FLOAT_EQ(m.v[size_t(13) * 32 + 16], m.v[size_t(19) * 32 + 16]);
  EXPECT_GT(m.v[size_t(16) * 32 + 16], m.v[size_t(16) * 32 + 18]);
  // Wrapped, a dot on the edge spreads onto the opposite edge and nothing is lost.
  ig_mask w = ig_mask_make(16, 16);
  w.v[0] = 1.0f;
  ig_mask_blur(&w, 2, true);
  sum = 0;
  for (float v : w.v) sum += v;
  EXPECT_NEAR(sum, 1.0, 1e-4);
  EXPECT_GT(w.v[size_t(0) * 16 + 15], 0.0f);
  EXPECT_FLOAT_EQ(w.v[size_t(0) * 16 + 15], w.v[size_t(0) * 16 + 1]);
}

TEST(ImagegenPaint, CompositingIsOverWithPremultipliedColour) {
  ig_image img = ig_image_make(2, 1, {0, 0, 1, 1});
  ig_blend(&img, 0, 0, {1, 0, 0, 1}, 0.25f);
  const ig_rgba c = ig_get(&img, 0, 0);
  EXPECT_NEAR(c.r, 0.25f, 1e-6);
  EXPECT_NEAR(c.b, 0.75f, 1e-6);
  EXPECT_NEAR(c.a, 1.0f, 1e-6);
  ig_blend(&img, 5, 0, {1, 1, 1, 1}, 1.0f);  // outside: ignored, no crash
  const ig_rgba untouched = ig_get(&img, 1, 0);
  EXPECT_FLOAT_EQ(untouched.b, 1.0f);
}

TEST(ImagegenPaint, SignedDistancesHaveTheRightSignAndSize) {
  EXPECT_FLOAT_EQ(ig_sd_circle(13, 10, 10, 10, 5), -2.0f);
  EXPECT_NEAR(ig_sd_box(20, 0, 0, 0, 10, 5, 0), 10.0f, 1e-5);
  EXPECT_NEAR(ig_sd_capsule(5, 3, 0, 0, 10, 0, 1, 1), 2.0f, 1e-5);
  const float tri[] = {0, 0, 10, 0, 0, 10};
  EXPECT_LT(ig_sd_polygon(2, 2, tri, 3), 0.0f);
  EXPECT_NEAR(ig_sd_polygon(-3, 5, tri, 3), 3.0f, 1e-5);
  EXPECT_FLOAT_EQ(ig_cover(-1.0f), 1.0f);
  EXPECT_FLOAT_EQ(ig_cover(1.0f), 0.0f);
  EXPECT_FLOAT_EQ(ig_cover(0.0f), 0.5f);
}

// ---- Helpers: export ------------------------------------------------------------

TEST(ImagegenPng, ExportUnpremultipliesAndColoursTransparentPixels) {
  ig_image img = ig_image_make(9, 9, {0, 0, 0, 0});
  ig_blend(&img, 4, 4, {1, 1, 1, 1}, 1.0f);      // one white ink pixel
  ig_blend(&img, 0, 8, {0.2f, 0.4f, 0.6f, 1}, 0.5f);  // half-covered corner
  ig_png_options opt;
  opt.fringe = {1, 0, 0, 0};  // red, to tell it from the bled white
  opt.bleed = 2;
  const std::vector<unsigned char> px = ig_to_rgba8(&img, &opt);
  auto at = [&](int x, int y) { return &px[(size_t(y) * 9 + x) * 4]; };
  EXPECT_EQ(at(4, 4)[0], 255);
  EXPECT_EQ(at(4, 4)[3], 255);
  // Straight colour survives half coverage.
  EXPECT_EQ(at(0, 8)[0], 51);
  EXPECT_EQ(at(0, 8)[1], 102);
  EXPECT_EQ(at(0, 8)[2], 153);
  EXPECT_EQ(at(0, 8)[3], 128);
  // Within two pixels of the white ink: white, still fully transparent.
  for (const auto& p : {std::pair<int, int>{3, 4}, {6, 4}, {4, 2}, {5, 5}}) {
    const unsigned char* q = at(p.first, p.second);
    EXPECT_EQ(q[3], 0);
    EXPECT_EQ(q[0], 255);
    EXPECT_EQ(q[1], 255) << p.first << "," << p.second;
    EXPECT_EQ(q[2], 255);
  }
  // Three pixels away the bleed has stopped: the fringe colour.
  EXPECT_EQ(at(4, 1)[1], 0);
  EXPECT_EQ(at(4, 7)[1], 0);
  // Far from any ink: the fringe colour.
  EXPECT_EQ(at(8, 0)[0], 255);
  EXPECT_EQ(at(8, 0)[1], 0);
  EXPECT_EQ(at(8, 0)[3], 0);
}

TEST(ImagegenPng, EncodeRoundTripsExactlyAndRejectsBadSizes) {
  std::vector<unsigned char> rgba(7 * 5 * 4);
  for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<unsigned char>(i * 37 + 11);
  std::vector<unsigned char> png;
  ASSERT_EQ(ig_png_encode(rgba, 7, 5, &png), 0u);
  std::vector<unsigned char> back;
  unsigned w = 0, h = 0;
  ASSERT_EQ(lodepng::decode(back, w, h, png), 0u);
  EXPECT_EQ(w, 7u);
  EXPECT_EQ(h, 5u);
  EXPECT_EQ(back, rgba);
  EXPECT_NE(ig_png_encode(rgba, 8, 5, &png), 0u);
  EXPECT_NE(ig_png_encode(rgba, 0, 5, &png), 0u);
}

TEST(ImagegenPng, DitherBreaksFlatLevelsWithoutShiftingThem) {
  const ig_image grey = ig_image_make(64, 64, {0.5f, 0.5f, 0.5f, 1});
  ig_png_options plain;
  std::set<int> levels;
  for (size_t i = 0; i < 64 * 64 * 4; i += 4) levels.insert(ig_to_rgba8(&grey, &plain)[i]);
  EXPECT_EQ(levels.size(), 1u);
  ig_png_options dithered;
  dithered.dither = true;
  const std::vector<unsigned char> px = ig_to_rgba8(&grey, &dithered);
  std::map<int, int> count;
  double mean = 0;
  for (size_t i = 0; i < px.size(); i += 4) {
    ++count[px[i]];
    mean += px[i];
    EXPECT_EQ(px[i + 3], 255) << "alpha is never dithered";
  }
  mean /= 64 * 64;
  EXPECT_EQ(count.size(), 2u);  // 127 and 128, nothing further away
  EXPECT_NEAR(mean, 127.5, 2.0);
  // A different seed gives a different pattern.
  dithered.dither_seed = 7;
  EXPECT_NE(ig_to_rgba8(&grey, &dithered), px);
}

// ---- Helpers: shapes and layers -------------------------------------------------

TEST(ImagegenPaint, ShapesStayInsideTheirRadiusAndClipToTheCanvas) {
  ig_image img = ig_image_make(40, 40, {0, 0, 0, 0});
  ig_soft_disc(&img, 20, 20, 8, 0.0f, {1, 1, 1, 1});
  EXPECT_NEAR(ig_get(&img, 20, 20).a, 1.0f, 1e-6);
  EXPECT_EQ(ig_get(&img, 20, 29).a, 0.0f);
  EXPECT_EQ(ig_get(&img, 29, 20).a, 0.0f);
  ig_image bub = ig_image_make(40, 40, {0, 0, 0, 0});
  ig_bubble(&bub, 20, 20, 10, {1, 1, 1, 1});
  // A bubble: a see-through body, a brighter rim, nothing outside.
  EXPECT_GT(ig_get(&bub, 29, 20).a, ig_get(&bub, 22, 22).a);
  EXPECT_LT(ig_get(&bub, 22, 22).a, 0.5f);
  EXPECT_EQ(ig_get(&bub, 32, 20).a, 0.0f);
  // Boxes that hang off the canvas are clipped, not written out of bounds.
  ig_image small = ig_image_make(8, 8, {0, 0, 0, 0});
  ig_fill_sdf(&small, -100, -100, 100, 100, [](float, float) { return -1.0f; },
              [](float, float) { return ig_rgba{1, 0, 0, 1}; });
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_FLOAT_EQ(ig_get(&small, x, y).r, 1.0f);
  ig_soft_disc(&small, -50, -50, 30, 0.5f, {1, 1, 1, 1});
  ig_draw_image(&small, &img, -30, 5, 1.0f);
}

TEST(ImagegenPaint, LayersCompositeAtTheirOffsetAndOpacity) {
  ig_image dst = ig_image_make(10, 10, {0, 0, 1, 1});
  ig_image src = ig_image_make(2, 2, {1, 0, 0, 1});
  ig_draw_image(&dst, &src, 3, 4, 0.5f);
  EXPECT_NEAR(ig_get(&dst, 3, 4).r, 0.5f, 1e-6);
  EXPECT_NEAR(ig_get(&dst, 4, 5).b, 0.5f, 1e-6);
  EXPECT_FLOAT_EQ(ig_get(&dst, 5, 4).r, 0.0f);
  EXPECT_FLOAT_EQ(ig_get(&dst, 2, 4).r, 0.0f);
}

TEST(ImagegenPaint, EllipseAndSmoothUnionBehave) {
  // On a circle the ellipse distance is exact.
  EXPECT_NEAR(ig_sd_ellipse(15, 0, 0, 0, 10, 10), 5.0f, 1e-4);
  // On a long ellipse the sign is right and the edge is where it belongs.
  EXPECT_LT(ig_sd_ellipse(0, 4.5f, 0, 0, 40, 5), 0.0f);
  EXPECT_GT(ig_sd_ellipse(0, 5.5f, 0, 0, 40, 5), 0.0f);
  EXPECT_NEAR(ig_sd_ellipse(41, 0, 0, 0, 40, 5), 1.0f, 0.05f);
  // A smooth union never exceeds the plain one and equals it far apart.
  EXPECT_LE(ig_smin(1.0f, 1.5f, 2.0f), 1.0f);
  EXPECT_FLOAT_EQ(ig_smin(1.0f, 9.0f, 2.0f), 1.0f);
  EXPECT_FLOAT_EQ(ig_smin(3.0f, -2.0f, 0.0f), -2.0f);
}

// ---- Helpers: text --------------------------------------------------------------

TEST(ImagegenText, FittedTextFillsItsBoxWithoutSpillingOver) {
  if (!font_present(IG_FONT_BEBAS) || !font_present(IG_FONT_LOBSTER)) GTEST_SKIP() << "fonts missing";
  struct Case {
    const char* font;
    const char* text;
    float w, h, tracking;
  };
  // Wide and tall boxes, with and without tracking (which does not scale
  // with the size), one and two lines.
  const Case cases[] = {{IG_FONT_BEBAS, "KELDRUN", 1100, 340, 24},
                        {IG_FONT_BEBAS, "KELDRUN", 300, 900, 0},
                        {IG_FONT_LOBSTER, "Sprox", 640, 250, 0},
                        {IG_FONT_BEBAS, "OWN\nDEMOSCENE", 1040, 560, 14}};
  for (const Case& c : cases) {
    ig_font* font = ig_font_open(c.font);
    ASSERT_NE(font, nullptr);
    const float size = ig_text_fit(font, c.text, c.w, c.h, c.tracking, 0.95f);
    const ig_text_box b = ig_text_measure(font, size, c.text, c.tracking, 0.95f);
    const float bw = b.x1 - b.x0, bh = b.y1 - b.y0;
    EXPECT_LE(bw, c.w) << c.text;
    EXPECT_LE(bh, c.h) << c.text;
    EXPECT_GT(std::max(bw / c.w, bh / c.h), 0.93f) << c.text << " should touch its box";
    ig_font_close(font);
  }
}

TEST(ImagegenText, MaskHoldsAntialiasedInkInsideItsMargin) {
  if (!font_present(IG_FONT_BEBAS)) GTEST_SKIP() << "font missing";
  ig_font* font = ig_font_open(IG_FONT_BEBAS);
  ASSERT_NE(font, nullptr);
  const ig_mask m = ig_text_mask(font, 80, "HI\nHO", 0, 1.1f, 6);
  const ig_mask one = ig_text_mask(font, 80, "HI", 0, 1.1f, 6);
  ig_font_close(font);
  // The second line sits one line height (88 px) below the first.
  EXPECT_NEAR(m.height - one.height, 88, 1);
  int full = 0, partial = 0;
  for (int y = 0; y < m.height; ++y)
    for (int x = 0; x < m.width; ++x) {
      const float v = m.v[size_t(y) * m.width + x];
      if (x < 6 || y < 6 || x >= m.width - 6 || y >= m.height - 6) {
        EXPECT_EQ(v, 0.0f);
      }
      if (v >= 0.99f) ++full;
      else if (v > 0.01f) ++partial;
    }
  EXPECT_GT(full, 500);
  EXPECT_GT(partial, 20) << "edges should be anti-aliased";
}

TEST(ImagegenText, StyleDrawsOutlineAroundAndShadowWhereItIsCast) {
  if (!font_present(IG_FONT_BEBAS)) GTEST_SKIP() << "font missing";
  ig_font* font = ig_font_open(IG_FONT_BEBAS);
  ASSERT_NE(font, nullptr);
  const ig_mask m = ig_text_mask(font, 90, "I", 0, 1, 40);
  ig_font_close(font);
  // The glyph's horizontal middle row and its ink span on it.
  const int row = m.height / 2;
  int left = -1, right = -1;
  for (int x = 0; x < m.width; ++x)
    if (m.v[size_t(row) * m.width + x] >= 0.5f) {
      if (left < 0) left = x;
      right = x;
    }
  ASSERT_GT(left, 0);
  ig_text_style st;
  st.fill_top = st.fill_bottom = {1, 1, 1, 1};
  st.outline = 5;
  st.outline_colour = {0, 0, 1, 1};
  st.shadow_dx = 12;
  st.shadow_colour = {0, 0, 0, 1};
  ig_image img = ig_image_make(m.width, m.height, {0, 0, 0, 0});
  ig_draw_text(&img, &m, 0, 0, &st);
  const ig_rgba inside = ig_get(&img, (left + right) / 2, row);
  EXPECT_FLOAT_EQ(inside.r, 1.0f);
  const ig_rgba rim = ig_get(&img, left - 3, row);
  EXPECT_FLOAT_EQ(rim.b, 1.0f);
  EXPECT_FLOAT_EQ(rim.r, 0.0f);
  EXPECT_EQ(ig_get(&img, left - 9, row).a, 0.0f) << "outline wider than asked";
  // The shadow falls to the right only.
  const ig_rgba cast = ig_get(&img, right + 12, row);
  EXPECT_GT(cast.a, 0.9f);
  EXPECT_LT(cast.r + cast.b, 0.1f);
  // Hollow type keeps the glyph's middle clear.
  st.hollow = true;
  st.shadow_colour.a = 0;
  ig_image hollow = ig_image_make(m.width, m.height, {0, 0, 0, 0});
  ig_draw_text(&hollow, &m, 0, 0, &st);
  EXPECT_EQ(ig_get(&hollow, (left + right) / 2, row).a, 0.0f);
  EXPECT_FLOAT_EQ(ig_get(&hollow, left, row).b, 1.0f);
}

TEST(ImagegenText, MissingFontIsReportedNotFatal) {
  EXPECT_EQ(ig_font_open("/nonexistent/font.otf"), nullptr);
  ig_image img = ig_image_make(16, 16, {0, 0, 0, 0});
  ig_text_style st;
  EXPECT_FALSE(ig_text_centred(&img, "/nonexistent/font.otf", "x", 8, 8, 16, 16, 0, 1, &st));
}

// ---- The generator's command line -----------------------------------------------

TEST(ImagegenCli, RejectsUnknownNamesAndMissingFolder) {
  EXPECT_EQ(run_generator(""), 2) << "no folder: a bad command line";
  EXPECT_EQ(run_generator("--only nosuch.png cli_out"), 1);
  EXPECT_FALSE(fs::exists("cli_out/nosuch.png"));
  EXPECT_EQ(run_generator("--only noise.png cli_out"), 0);
  EXPECT_TRUE(fs::exists("cli_out/noise.png"));
}

// ---- The generated images -------------------------------------------------------

TEST_F(Generated, EveryAssetExistsDecodesAndHasItsSize) {
  ASSERT_EQ(status_, 0);
  ASSERT_EQ(ig_recipe_count(), EFFECTS_NUM_IMAGES);
  std::set<std::string> expected;
  for (int i = 0; i < EFFECTS_NUM_IMAGES; ++i) {
    const std::string file = sprox_assets::kImageFiles[i];
    EXPECT_EQ(ig_recipe_at(i)->file, file) << "the generator paints the show's images in load order";
    expected.insert(file);
    const Decoded& d = image(file);
    const Expected size = expected_size(file);
    EXPECT_EQ(d.width, size.width) << file;
    EXPECT_EQ(d.height, size.height) << file;
  }
  EXPECT_EQ(expected.size(), 67u) << "no file name twice";
  // Exactly these pictures: the stale one is gone, other files are left.
  std::set<std::string> found;
  for (const auto& entry : fs::directory_iterator(dir_))
    if (entry.path().extension() == ".png") found.insert(entry.path().filename().string());
  EXPECT_EQ(found, expected);
  EXPECT_TRUE(fs::exists(dir_ / "notes.txt"));
  // Flashes skip the number 2.
  EXPECT_FALSE(fs::exists(dir_ / "flash2.png"));
}

TEST_F(Generated, TotalSizeStaysReasonable) {
  ASSERT_EQ(status_, 0);
  uintmax_t total = 0;
  for (const char* file : sprox_assets::kImageFiles) total += fs::file_size(dir_ / file);
  EXPECT_LT(total, uintmax_t(16) * 1024 * 1024);
}

TEST_F(Generated, FullFramePicturesAreOpaqueAndNotFlat) {
  ASSERT_EQ(status_, 0);
  for (const char* name : kOpaque) {
    const Decoded& d = image(name);
    bool opaque = true;
    unsigned char lo = 255, hi = 0;
    for (size_t i = 0; i < d.rgba.size(); i += 4) {
      opaque = opaque && d.rgba[i + 3] == 255;
      const unsigned char l = std::max({d.rgba[i], d.rgba[i + 1], d.rgba[i + 2]});
      lo = std::min(lo, l);
      hi = std::max(hi, l);
    }
    EXPECT_TRUE(opaque) << name;
    EXPECT_GT(hi - lo, 12) << name << " looks blank";
  }
}

TEST_F(Generated, CompositedPicturesHaveTransparentSurroundsAndVisibleInk) {
  ASSERT_EQ(status_, 0);
  for (const char* name : kTransparent) {
    const Decoded& d = image(name);
    // The outermost ring of pixels is fully transparent.
    bool clear_edges = true;
    for (unsigned x = 0; x < d.width; ++x)
      clear_edges = clear_edges && d.at(x, 0)[3] == 0 && d.at(x, d.height - 1)[3] == 0;
    for (unsigned y = 0; y < d.height; ++y)
      clear_edges = clear_edges && d.at(0, y)[3] == 0 && d.at(d.width - 1, y)[3] == 0;
    EXPECT_TRUE(clear_edges) << name;
    size_t solid = 0, soft = 0;
    for (size_t i = 3; i < d.rgba.size(); i += 4) {
      if (d.rgba[i] >= 250) ++solid;
      else if (d.rgba[i] > 0) ++soft;
    }
    const double share = double(solid) / (d.width * d.height);
    EXPECT_GT(share, 0.001) << name << " has almost no ink";
    EXPECT_LT(share, 0.7) << name << " is mostly solid";
    EXPECT_GT(soft, 50u) << name << " has no anti-aliased edge";
  }
}

TEST_F(Generated, ClampedLayersKeepATransparentMargin) {
  // The show clamps these to a transparent border; ink touching the edge
  // would smear along it.
  ASSERT_EQ(status_, 0);
  const char* const clamped[] = {"logo0a.png", "logo0b.png", "logo0c.png", "credit_pelnik.png",
                                 "credit_dravo.png", "credit_sune.png", "credit_quibbet.png",
                                 "credit_torvin2.png"};
  constexpr unsigned kMargin = 16;
  for (const char* name : clamped) {
    const Decoded& d = image(name);
    unsigned worst = 255;
    for (unsigned y = 0; y < d.height; ++y)
      for (unsigned x = 0; x < d.width; ++x) {
        const bool in_margin = x < kMargin || y < kMargin || x >= d.width - kMargin || y >= d.height - kMargin;
        if (in_margin && d.at(x, y)[3] != 0) worst = std::min(worst, std::min({x, y, d.width - 1 - x, d.height - 1 - y}));
      }
    EXPECT_EQ(worst, 255u) << name << " has ink " << worst << " px from its edge";
  }
}

TEST_F(Generated, TransparentPixelsNextToInkCarryTheInksColour) {
  // Linear filtering mixes a transparent texel's colour into its neighbour:
  // a transparent pixel beside ink must take a colour within the range of
  // the ink around it (give or take rounding), or edges grow a fringe.
  ASSERT_EQ(status_, 0);
  for (const char* name : kTransparent) {
    const Decoded& d = image(name);
    int bad = 0, checked = 0;
    for (unsigned y = 1; y + 1 < d.height; ++y)
      for (unsigned x = 1; x + 1 < d.width; ++x) {
        const unsigned char* p = d.at(x, y);
        if (p[3] != 0) continue;
        int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
        bool near_ink = false;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const unsigned char* q = d.at(x + dx, y + dy);
            if (q[3] == 0) continue;
            near_ink = true;
            for (int k = 0; k < 3; ++k) {
              lo[k] = std::min(lo[k], int(q[k]));
              hi[k] = std::max(hi[k], int(q[k]));
            }
          }
        if (!near_ink) continue;
        ++checked;
        for (int k = 0; k < 3; ++k)
          if (p[k] + 2 < lo[k] || p[k] > hi[k] + 2) {
            ++bad;
            break;
          }
      }
    EXPECT_EQ(bad, 0) << name << ": " << bad << " of " << checked << " edge pixels off colour";
  }
}

TEST_F(Generated, FarTransparentPixelsShareOneColour) {
  ASSERT_EQ(status_, 0);
  for (const char* name : kTransparent) {
    const Decoded& d = image(name);
    // Far from ink means: transparent, with no ink within 4 pixels. The
    // corners of every card qualify.
    std::set<uint32_t> colours;
    for (unsigned y = 0; y < 4; ++y)
      for (unsigned x = 0; x < d.width; ++x) {
        const unsigned char* p = d.at(x, y);
        if (p[3] == 0) colours.insert(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
      }
    EXPECT_EQ(colours.size(), 1u) << name;
  }
}

TEST_F(Generated, TiledTexturesHaveNoSeams) {
  ASSERT_EQ(status_, 0);
  // Every channel, both directions: the jump from the last line to the first
  // is no bigger than the usual step between neighbouring lines.
  const char* const tiled[] = {"noise.png", "mono.png", "vintage8.png", "vintage8b.png", "damage.png"};
  for (const char* name : tiled) {
    const Decoded& d = image(name);
    for (int c = 0; c < 3; ++c)
      for (bool columns : {true, false}) {
        double at_seam = 0, interior = 0;
        seam(d, c, columns, &at_seam, &interior);
        EXPECT_LE(at_seam, interior * 1.1 + 0.5)
            << name << " channel " << c << (columns ? " left-right" : " top-bottom");
      }
  }
  // The smooth noise channel must actually vary, or the seam test proves nothing.
  double at_seam = 0, interior = 0;
  seam(image("noise.png"), 0, true, &at_seam, &interior);
  EXPECT_GT(interior, 0.5);
}

TEST_F(Generated, NoiseChannelsRunFromSmoothToGrain) {
  ASSERT_EQ(status_, 0);
  const Decoded& d = image("noise.png");
  double steps[3] = {0, 0, 0};
  for (int c = 0; c < 3; ++c) {
    double at_seam = 0;
    seam(d, c, true, &at_seam, &steps[c]);
  }
  // Red is the smoothest, green finer, blue per-pixel grain.
  EXPECT_LT(steps[0], steps[1]);
  EXPECT_LT(steps[1], steps[2]);
  EXPECT_GT(steps[2], 40.0);
}

TEST_F(Generated, TwisterRepeatsAlongT) {
  ASSERT_EQ(status_, 0);
  const Decoded& d = image("twister.png");
  for (int c = 0; c < 3; ++c) {
    double at_seam = 0, interior = 0;
    seam(d, c, false, &at_seam, &interior);
    EXPECT_LE(at_seam, interior * 1.1 + 0.5) << "channel " << c;
    EXPECT_GT(interior, 0.2) << "channel " << c << " should show a pattern along T";
  }
  // Across S it is clamped, not wrapped: its two edges are navy rims.
  const unsigned char* left = d.at(1, 100);
  const unsigned char* right = d.at(d.width - 2, 100);
  EXPECT_LT(left[0], 40);
  EXPECT_LT(right[0], 40);
}

namespace {

struct Ink {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;  // inclusive bounds of alpha >= threshold
};

Ink ink_box(const Decoded& d, int threshold) {
  Ink b;
  for (unsigned y = 0; y < d.height; ++y)
    for (unsigned x = 0; x < d.width; ++x)
      if (d.at(x, y)[3] >= threshold) {
        b.x0 = std::min(b.x0, int(x));
        b.x1 = std::max(b.x1, int(x));
        b.y0 = std::min(b.y0, int(y));
        b.y1 = std::max(b.y1, int(y));
      }
  return b;
}

}  // namespace

TEST_F(Generated, FullScreenCardsSitInTheMiddleOfTheScreen) {
  ASSERT_EQ(status_, 0);
  const char* const centred[] = {"text_keldrun.png", "text_serve.png", "text_fizzing.png",
                                 "text_haldex2023.png", "text_wannasprox.png", "text_sproxfever.png",
                                 "text_orange.png", "text_own1.png", "text_own2.png", "text_own3.png",
                                 "text_owndemoscene.png", "text_owedemoscene.png",
                                 "text_owedemoscene2.png", "text_dots.png"};
  for (const char* name : centred) {
    const Ink b = ink_box(image(name), 250);
    ASSERT_GE(b.x1, 0) << name;
    EXPECT_NEAR((b.x0 + b.x1) * 0.5, 640, 24) << name;
    EXPECT_NEAR((b.y0 + b.y1) * 0.5, 360, 24) << name;
    EXPECT_GT(b.x1 - b.x0, 180) << name << " is too small to read";
  }
  // The closing text keeps to the lower third, under closing0's badge.
  const Ink text = ink_box(image("text_closing.png"), 250);
  const Ink badge = ink_box(image("closing0.png"), 250);
  EXPECT_GT(text.y0, 440);
  EXPECT_LT(badge.y1, text.y0);
}

TEST_F(Generated, DotsSitWhereTheShaderExpectsThem) {
  ASSERT_EQ(status_, 0);
  const Decoded& d = image("text_dots.png");
  for (unsigned x : {560u, 640u, 720u}) EXPECT_EQ(d.at(x, 360)[3], 255) << x;
  for (unsigned x : {600u, 680u, 500u, 780u}) EXPECT_EQ(d.at(x, 360)[3], 0) << x;
}

TEST_F(Generated, OwnAndOweCardsLineUpForACrossFade) {
  ASSERT_EQ(status_, 0);
  const Ink own = ink_box(image("text_owndemoscene.png"), 250);
  const Ink owe = ink_box(image("text_owedemoscene.png"), 250);
  const Ink owe2 = ink_box(image("text_owedemoscene2.png"), 250);
  // "DEMOSCENE" is the widest line and the same in all three.
  EXPECT_NEAR(own.x0, owe.x0, 2);
  EXPECT_NEAR(own.x1, owe.x1, 2);
  EXPECT_NEAR(own.y0, owe.y0, 2);
  EXPECT_NEAR(own.y1, owe.y1, 2);
  EXPECT_NEAR(owe.y1, owe2.y1, 6);
}

TEST_F(Generated, RoleLabelsAreMatchingTags) {
  ASSERT_EQ(status_, 0);
  const Ink a = ink_box(image("credit_label1.png"), 250);
  const Ink b = ink_box(image("credit_label2.png"), 250);
  EXPECT_EQ(a.y0, b.y0);
  EXPECT_EQ(a.y1, b.y1);
  EXPECT_LT(a.x1 - a.x0, b.x1 - b.x0) << "\"code\" is shorter than \"music & gfx\"";
  // Both tags are centred.
  EXPECT_NEAR((a.x0 + a.x1) * 0.5, 256, 2);
  EXPECT_NEAR((b.x0 + b.x1) * 0.5, 256, 2);
}

TEST_F(Generated, LogoWordSitsOnItsSplash) {
  ASSERT_EQ(status_, 0);
  const Decoded& back = image("logo0a.png");
  const Ink word = ink_box(image("logo0b.png"), 250);
  const Ink splash = ink_box(back, 250);
  EXPECT_GT(word.x0, splash.x0);
  EXPECT_LT(word.x1, splash.x1);
  // The word's middle is covered by the opaque splash.
  EXPECT_EQ(back.at(unsigned(word.x0 + word.x1) / 2, unsigned(word.y0 + word.y1) / 2)[3], 255);
  // The shine layer adds marks outside the word as well (bubbles, sparkles).
  const Ink shine = ink_box(image("logo0c.png"), 200);
  EXPECT_LT(shine.x0, word.x0);
  EXPECT_GT(shine.x1, word.x1);
}

TEST_F(Generated, OverlaysFollowTheirBlendingConventions) {
  ASSERT_EQ(status_, 0);
  auto share = [](const Decoded& d, auto pred) {
    size_t n = 0;
    for (size_t i = 0; i < d.rgba.size(); i += 4) n += pred(&d.rgba[i]);
    return double(n) / (d.width * d.height);
  };
  // Multiply overlay: mostly white, with some dark marks.
  const Decoded& mul = image("vintage8.png");
  EXPECT_GT(share(mul, [](const unsigned char* p) { return p[0] >= 240; }), 0.8);
  EXPECT_GT(share(mul, [](const unsigned char* p) { return p[0] < 128; }), 0.0005);
  // Additive overlays: mostly black, with some bright marks.
  for (const char* name : {"vintage8b.png", "damage.png"}) {
    const Decoded& add = image(name);
    EXPECT_GT(share(add, [](const unsigned char* p) { return p[0] <= 8 && p[2] <= 8; }), 0.6) << name;
    EXPECT_GT(share(add, [](const unsigned char* p) { return p[1] > 128; }), 0.0005) << name;
  }
  // The bubble mask is grey: every channel the same.
  const Decoded& mono = image("mono.png");
  EXPECT_EQ(share(mono, [](const unsigned char* p) { return p[0] == p[1] && p[1] == p[2]; }), 1.0);
}

TEST_F(Generated, GirlStandsTallOnATransparentGround) {
  ASSERT_EQ(status_, 0);
  const Decoded& d = image("sprox_girl1080.png");
  const Ink b = ink_box(d, 250);
  EXPECT_GT(b.y1 - b.y0, 950) << "the figure should use the height";
  EXPECT_LT(b.x1 - b.x0, 600);
  // Between her feet and beside her knees is background.
  EXPECT_EQ(d.at(120, 700)[3], 0);
  EXPECT_EQ(d.at(600, 700)[3], 0);
}

TEST_F(Generated, GenerationIsDeterministic) {
  ASSERT_EQ(status_, 0);
  // A second run, with one worker instead of two and only a sample of the
  // table, paints the very same bytes.
  const char* const sample[] = {"noise.png", "twister.png", "text_keldrun.png", "logo0b.png",
                                "widescreen2.png", "text_greetings6b.png", "damage.png",
                                "sprox_girl1080.png"};
  std::string args = "--jobs 1";
  for (const char* name : sample) args += std::string(" --only ") + name;
  fs::remove_all("images_again");
  ASSERT_EQ(run_generator(args + " images_again"), 0);
  for (const char* name : sample) {
    const std::vector<unsigned char> a = read_bytes(dir_ / name);
    const std::vector<unsigned char> b = read_bytes(fs::path("images_again") / name);
    EXPECT_FALSE(a.empty()) << name;
    EXPECT_TRUE(a == b) << name << " differs between runs";
  }
  // --only writes nothing else.
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator("images_again")) files += entry.is_regular_file();
  EXPECT_EQ(files, std::size(sample));
}

TEST_F(Generated, GreetingAndCreditTablesHoldDistinctNames) {
  std::set<std::string> names(std::begin(ig_greeting_names), std::end(ig_greeting_names));
  EXPECT_EQ(names.size(), 18u);
  for (const char* n : ig_credit_names) EXPECT_EQ(names.count(n), 0u) << n;
  // And every card differs from every other.
  ASSERT_EQ(status_, 0);
  std::set<std::vector<unsigned char>> cards;
  for (const char* file : sprox_assets::kImageFiles)
    if (std::string(file).rfind("text_greetings", 0) == 0) cards.insert(image(file).rgba);
  EXPECT_EQ(cards.size(), 18u);
}
