// imagegen_girl: the Sprox girl, a stylised retro-advert figure (720x1080,
// transparent).
//
// A 1960s soda-poster figure built from a few dozen signed-distance shapes:
// bouffant hair with flipped ends, a polka-dot A-line dress with a belt, one
// hand on the hip and the other raising a can of Sprox, fizz rising from it.
// Skin and hair are flat blues (a silhouette, no features); a white sticker
// rim and a soft shadow keep her readable on the orange backdrop.
//
// Threads: runs on the worker thread that runs its recipe.
#include "imagegen.h"

#include <algorithm>
#include <cmath>

// ---- Constants ------------------------------------------------------------------

namespace {

constexpr int W = 720, H = 1080;  // pixels
constexpr float kRim = 7.0f;      // pixels, the white sticker rim
constexpr float kCx = 360.0f;     // pixels, the figure's centre line

// ---- Internal functions ---------------------------------------------------------

float hair_back(float x, float y) {
  float d = ig_sd_circle(x, y, kCx, 158, 100);
  d = ig_smin(d, ig_sd_ellipse(x, y, kCx, 236, 96, 82), 20);
  // Flipped ends curling out at shoulder height.
  d = ig_smin(d, ig_sd_capsule(x, y, kCx - 82, 252, kCx - 136, 318, 38, 18), 18);
  d = ig_smin(d, ig_sd_capsule(x, y, kCx + 82, 252, kCx + 136, 318, 38, 18), 18);
  return d;
}

float bow(float x, float y) {
  // A small orange bow on the crown, two loops and a knot.
  const float l[] = {kCx - 100, 62, kCx - 58, 92, kCx - 100, 122};
  const float r[] = {kCx - 16, 62, kCx - 58, 92, kCx - 16, 122};
  float d = ig_sd_polygon(x, y, l, 3) - 6.0f;
  d = std::min(d, ig_sd_polygon(x, y, r, 3) - 6.0f);
  return std::min(d, ig_sd_circle(x, y, kCx - 58, 92, 11));
}

float bangs(float x, float y) {
  // The fringe sweeps across the forehead, lower on one side.
  const float sweep[] = {kCx - 98, 168, kCx - 36, 100, kCx + 58, 108, kCx + 98, 168,
                         kCx + 72, 188, kCx + 22, 174, kCx - 30, 192, kCx - 80, 206};
  return ig_sd_polygon(x, y, sweep, 8) - 12.0f;
}

float face(float x, float y) { return ig_sd_ellipse(x, y, kCx, 238, 56, 70); }

// Closed, smiling eyes: two short arcs.
float eyes(float x, float y) {
  const float a = std::max(std::fabs(ig_sd_circle(x, y, kCx - 24, 230, 13)) - 2.6f, 230 - y);
  const float b = std::max(std::fabs(ig_sd_circle(x, y, kCx + 24, 230, 13)) - 2.6f, 230 - y);
  return std::min(a, b);
}

float lips(float x, float y) { return ig_sd_ellipse(x, y, kCx, 278, 13, 6.5f); }

float neck(float x, float y) { return ig_sd_capsule(x, y, kCx, 296, kCx, 352, 20, 23); }

float bodice(float x, float y) {
  const float p[] = {kCx - 78, 350, kCx + 78, 350, kCx + 42, 520, kCx - 42, 520};
  return ig_sd_polygon(x, y, p, 4) - 10.0f;
}

float skirt(float x, float y) {
  // A-line, the hem a gentle curve.
  const float p[] = {kCx - 46, 512, kCx + 46, 512, kCx + 150, 792, kCx + 90, 812,
                     kCx,      818, kCx - 90, 812, kCx - 150, 792};
  return ig_sd_polygon(x, y, p, 7) - 8.0f;
}

float sleeves(float x, float y) {
  return std::min(ig_sd_ellipse(x, y, kCx - 80, 364, 30, 24), ig_sd_ellipse(x, y, kCx + 80, 362, 30, 24));
}

float dress(float x, float y) {
  return std::min(ig_smin(bodice(x, y), skirt(x, y), 24), sleeves(x, y));
}

float belt(float x, float y) { return ig_sd_box(x, y, kCx, 516, 50, 11, 4); }

float legs(float x, float y) {
  const float a = ig_sd_capsule(x, y, kCx - 28, 790, kCx - 38, 1010, 21, 12);
  const float b = ig_sd_capsule(x, y, kCx + 28, 790, kCx + 38, 1010, 21, 12);
  return std::min(a, b);
}

float shoes(float x, float y) {
  return std::min(ig_sd_ellipse(x, y, kCx - 48, 1020, 32, 13), ig_sd_ellipse(x, y, kCx + 48, 1020, 32, 13));
}

float arm_hip(float x, float y) {
  // The hand on the hip: shoulder, elbow out, hand back at the waist.
  float d = ig_sd_capsule(x, y, kCx - 84, 372, kCx - 124, 462, 19, 15);
  d = ig_smin(d, ig_sd_capsule(x, y, kCx - 124, 462, kCx - 50, 516, 15, 12), 8);
  return std::min(d, ig_sd_ellipse(x, y, kCx - 46, 514, 15, 12));
}

float arm_up(float x, float y) {
  // The raised arm: shoulder, elbow out to the side, forearm up to the can.
  float d = ig_sd_capsule(x, y, kCx + 84, 370, kCx + 152, 292, 19, 15);
  d = ig_smin(d, ig_sd_capsule(x, y, kCx + 152, 292, kCx + 140, 188, 15, 13), 8);
  return d;
}

float hand_up(float x, float y) { return ig_sd_ellipse(x, y, kCx + 140, 170, 18, 22); }

constexpr float kCanX = kCx + 143, kCanY = 118, kCanHW = 30, kCanHH = 54;

float can(float x, float y) { return ig_sd_box(x, y, kCanX, kCanY, kCanHW, kCanHH, 10); }

float everything(float x, float y) {
  float d = hair_back(x, y);
  const float parts[] = {bow(x, y),   bangs(x, y),   face(x, y),   neck(x, y),    dress(x, y),
                         legs(x, y),  shoes(x, y),   arm_hip(x, y), arm_up(x, y), hand_up(x, y),
                         can(x, y)};
  for (float p : parts) d = std::min(d, p);
  return d;
}

// Pixel boxes that hold each part (with room for the rim), so that no part
// is evaluated over the whole canvas.
struct Box {
  int x0, y0, x1, y1;
};
constexpr Box kFigure = {150, 30, 570, 1050};
constexpr Box kHead = {200, 40, 520, 360};
constexpr Box kBody = {180, 330, 540, 830};
constexpr Box kLegs = {290, 770, 430, 1050};
constexpr Box kArmUp = {420, 130, 560, 400};
constexpr Box kCan = {460, 40, 550, 200};

template <class Sdf>
void shape(ig_image* img, const Box& b, Sdf sdf, ig_rgba colour) {
  ig_fill_sdf(img, b.x0, b.y0, b.x1, b.y1, sdf, [&](float, float) { return colour; });
}

}  // namespace

// ---- Public functions -----------------------------------------------------------

void ig_paint_girl(ig_image* out, ig_png_options* png) {
  *out = ig_image_make(W, H, {1, 1, 1, 0});
  const ig_rgba hair = ig_hex(IG_NAVY), skin = ig_hex(IG_POOL_DEEP);
  const ig_rgba cloth = ig_hex(IG_POOL_LIGHT), white = ig_hex(0xFFFFFF);
  const ig_rgba orange = ig_hex(IG_ORANGE);
  const Box shadow_box = {kFigure.x0, kFigure.y0, kFigure.x1 + 20, kFigure.y1 + 20};

  // A soft shadow down and to the right, then the white sticker rim.
  ig_image shadow = ig_image_make(W, H, {0, 0, 0, 0});
  shape(&shadow, shadow_box, [](float x, float y) { return everything(x - 12, y - 14) - kRim; },
        ig_hex(IG_NAVY, 0.4f));
  ig_image_blur(&shadow, 6);
  ig_draw_image(out, &shadow, 0, 0, 1.0f);
  shape(out, kFigure, [](float x, float y) { return everything(x, y) - kRim; }, white);

  shape(out, kHead, hair_back, hair);
  shape(out, kLegs, legs, skin);
  shape(out, kLegs, shoes, orange);
  shape(out, kHead, neck, skin);
  // The dress: light blue with white polka dots and an orange belt.
  ig_fill_sdf(out, kBody.x0, kBody.y0, kBody.x1, kBody.y1, dress, [&](float x, float y) {
    const float row = std::floor(y / 44.0f);
    const float ox = std::fmod(row, 2.0f) * 22.0f;
    const float gx = std::fmod(x + ox, 44.0f) - 22.0f, gy = std::fmod(y, 44.0f) - 22.0f;
    const float dot = ig_cover(std::hypot(gx, gy) - 7.0f);
    return ig_mix(cloth, white, dot);
  });
  shape(out, kBody, belt, orange);
  shape(out, kBody, arm_hip, skin);
  shape(out, kArmUp, arm_up, skin);
  shape(out, kHead, face, skin);
  // Light from the upper right catches the cheek.
  ig_fill_sdf(out, kHead.x0, kHead.y0, kHead.x1, kHead.y1,
              [](float x, float y) { return std::max(face(x, y), -(ig_sd_ellipse(x, y, kCx - 12, 232, 56, 72))); },
              [](float, float) { return ig_hex(0x2C6FD0); });
  shape(out, kHead, eyes, hair);
  shape(out, kHead, lips, orange);
  shape(out, kHead, bangs, hair);
  shape(out, kHead, bow, orange);
  // A gloss arc on the hair, as on a printed poster.
  ig_fill_sdf(out, kHead.x0, kHead.y0, kHead.x1, kHead.y1,
              [](float x, float y) {
                return std::max(std::fabs(ig_sd_circle(x, y, kCx + 6, 160, 78)) - 5.0f, y - 150.0f);
              },
              [](float x, float) { return ig_hex(IG_POOL_LIGHT, 0.6f * ig_clamp01((x - kCx + 10) / 60.0f)); });

  // The can: orange with a white band, a navy rim, the brand's initial.
  shape(out, kCan, [](float x, float y) { return can(x, y) - 3.0f; }, hair);
  ig_fill_sdf(out, kCan.x0, kCan.y0, kCan.x1, kCan.y1, can, [](float x, float y) {
    const float across = (x - kCanX) / kCanHW;
    const ig_rgba body = ig_mix(ig_hex(IG_AMBER), ig_hex(IG_EMBER), ig_clamp01(0.5f + 0.5f * across));
    const float band = ig_cover(std::fabs(y - (kCanY - 6)) - 13.0f);
    const float lid = ig_cover(-(y - (kCanY - kCanHH + 9)));
    return ig_mix(ig_mix(body, ig_hex(0xFFFFFF), band), ig_hex(0xD8DEE8), lid);
  });
  ig_text_style s_style;
  s_style.fill_top = s_style.fill_bottom = orange;
  ig_text_centred(out, IG_FONT_LOBSTER, "Sprox", kCanX, kCanY - 6, 50, 22, 0.0f, 1.0f, &s_style);
  shape(out, kArmUp, hand_up, skin);
  // Fizz rising from the can.
  const float fizz[][3] = {{kCanX - 8, 48, 6}, {kCanX + 10, 32, 4.5f}, {kCanX - 2, 18, 3.5f},
                           {kCanX + 18, 54, 3}};
  for (const auto& b : fizz) {
    ig_soft_disc(out, b[0], b[1], b[2] + 2.5f, 0.0f, hair);
    ig_soft_disc(out, b[0], b[1], b[2], 0.0f, white);
  }
  png->fringe = white;
}
