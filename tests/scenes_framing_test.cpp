// The framing scenes of the real show: the opening (event 0), the intro
// (event 1), the breakdown (event 10), the outro (event 12), the closing card
// (event 13) and the dots (event 14), rendered from the real sprox.dat and
// measured: every state shows something and moves; the cards change with the
// states; the opening starts dark and locks from snow onto a picture; the
// breakdown's flash frames hit on the beats; the closing words are written
// in; and the show ends on black.
#include "scenes_common.h"

namespace {

// A part of a frame: columns x0..x0+w, rows y0..y0+h (rows from the top).
scenes::Frame Crop(const scenes::Frame& f, int x0, int y0, int w, int h) {
  scenes::Frame out;
  out.width = w;
  out.height = h;
  out.rgb.resize(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    std::copy_n(&f.rgb[(static_cast<size_t>(y0 + y) * f.width + x0) * 3], static_cast<size_t>(w) * 3,
                &out.rgb[static_cast<size_t>(y) * w * 3]);
  return out;
}

// The middle of the screen, where the cards sit.
scenes::Frame Centre(const scenes::Frame& f) { return Crop(f, 256, 216, 768, 288); }

// Mean luma step between horizontal neighbours: high for TV snow, low for a
// picture.
double Roughness(const scenes::Frame& f) {
  double sum = 0;
  size_t n = 0;
  for (int y = 0; y < f.height; y += 2) {
    for (int x = 0; x + 1 < f.width; ++x) {
      const uint8_t* p = &f.rgb[(static_cast<size_t>(y) * f.width + x) * 3];
      sum += std::abs(scenes::Luma(p) - scenes::Luma(p + 3));
      n++;
    }
  }
  return n ? sum / static_cast<double>(n) : 0.0;
}

// Mean spread between a pixel's strongest and weakest channel (0..255): 0
// for a grey picture.
double MeanChroma(const scenes::Frame& f) {
  double sum = 0;
  for (size_t i = 0; i + 2 < f.rgb.size(); i += 3)
    sum += std::max({f.rgb[i], f.rgb[i + 1], f.rgb[i + 2]}) - std::min({f.rgb[i], f.rgb[i + 1], f.rgb[i + 2]});
  return f.rgb.empty() ? 0.0 : sum / static_cast<double>(f.rgb.size() / 3);
}

const int kFramingEvents[] = {0, 1, 10, 12, 13, 14};

TEST(ScenesFraming, EveryStateShowsSomethingAndMoves) {
  SCENES_REQUIRE_SHOW();
  for (int event : kFramingEvents) {
    ASSERT_GT(scenes::StateCount(event), 0) << "event " << event;
    for (int state = 0; state < scenes::StateCount(event); ++state) {
      const int32_t start = scenes::StateTick(event, state);
      const int32_t length = scenes::StateEndTick(event, state) - start;
      // Two instants half a beat apart a quarter into the state, with the
      // same clock, so that only the scene itself can differ.
      const scenes::Frame a = scenes::RenderAtTick(start + length / 4);
      const scenes::Frame b = scenes::RenderAtTick(start + length / 4 + 4);
      ASSERT_EQ(demo.currentevent, event);
      ASSERT_EQ(demo.event[event].currentstate, state);
      const std::string where = "event " + std::to_string(event) + " state " + std::to_string(state);
      EXPECT_GT(scenes::ShareBrighterThan(a, 60.0), 0.004) << where << " is black";
      EXPECT_GT(scenes::LumaSpread(a), 4.0) << where << " is flat";
      EXPECT_GT(scenes::MeanDifference(Centre(a), Centre(b)), 1.0) << where << " stands still";
      if (HasFailure()) scenes::WritePng(a, "framing_e" + std::to_string(event) + "_s" + std::to_string(state) + ".png");
    }
  }
}

// The centre of the event's own scene at `tick` (framebuffer A, before any
// transition covers it), rendered once with every image and once with one
// image withheld (its texture unbound for that render only): how much that
// image shapes the scene.
double ImageWeight(double tick, s_bitmap* image) {
  scenes::RenderAtTick(tick);
  const scenes::Frame with = Centre(scenes::ReadFrameBuffer(fx1_framebuffer_id));
  const unsigned int texture = image->textureid;
  image->textureid = 0;
  scenes::RenderAtTick(tick);
  const scenes::Frame without = Centre(scenes::ReadFrameBuffer(fx1_framebuffer_id));
  image->textureid = texture;
  return scenes::MeanDifference(with, without);
}

// Each state shows its own card, once settled, and not the card of the state
// before it (the only other card that could linger).
TEST(ScenesFraming, EachStateShowsItsOwnCard) {
  SCENES_REQUIRE_SHOW();
  struct Case {
    int event;
    int state;
    int ticks;       // into the state: the card has settled (and any cross-fade is over)
    s_bitmap* card;  // the card the state shows
    s_bitmap* before;  // the card of the state before, or null
  };
  const Case cases[] = {
      {1, 0, 36, &bmp_intro1, nullptr},     {1, 1, 36, &bmp_intro2, &bmp_intro1},
      {1, 2, 36, &bmp_intro3, &bmp_intro2}, {1, 3, 36, &bmp_intro4, &bmp_intro3},
      {12, 0, 16, &bmp_own1, nullptr},      {12, 1, 16, &bmp_own2, &bmp_own1},
      {12, 2, 16, &bmp_own3, &bmp_own2},    {12, 3, 24, &bmp_outro1, &bmp_own3},
      {12, 4, 24, &bmp_outro2, &bmp_outro1}, {12, 5, 12, &bmp_outro3, &bmp_outro2},
  };
  for (const Case& c : cases) {
    const double tick = scenes::StateTick(c.event, c.state) + c.ticks;
    const std::string where = "event " + std::to_string(c.event) + " state " + std::to_string(c.state);
    ASSERT_NE(c.card->textureid, 0u) << where << ": the card did not load";
    EXPECT_GT(ImageWeight(tick, c.card), 3.0) << where << " does not show its card";
    if (c.before) {
      EXPECT_LT(ImageWeight(tick, c.before), 0.05) << where << " still shows the card before";
    }
  }
}

// Every credit name and the outro's "owe" stay on screen for a full bar
// once they have landed, before a transition starts to cover them (the sea
// into the closing card pours over its second half only).
TEST(ScenesFraming, NamesHoldAFullBarBeforeAnythingCoversThem) {
  SCENES_REQUIRE_SHOW();
  struct Case {
    int event;
    int state;
    int landed;      // ticks into the state: the name pops into shape (on a beat)
    s_bitmap* card;
    float cover;     // the transition progress from which the picture is covered
  };
  const Case cases[] = {
      {5, 0, 0, &bmp_credits1, 0.0f},  {5, 0, 16, &bmp_credits2, 0.0f}, {5, 1, 0, &bmp_credits3, 0.0f},
      {5, 2, 0, &bmp_credits4, 0.0f},  {5, 3, 0, &bmp_credits5, 0.0f},  {12, 4, 0, &bmp_outro2, 0.5f},
  };
  for (const Case& c : cases) {
    const std::string where = "event " + std::to_string(c.event) + " state " + std::to_string(c.state);
    const double landed = scenes::StateTick(c.event, c.state) + c.landed;
    for (double tick : {landed, landed + scenes::kBarTicks - 1.0}) {
      EXPECT_GT(ImageWeight(tick, c.card), 3.0) << where << ": its name is gone " << tick - landed << " ticks in";
      EXPECT_EQ(demo.currentevent, c.event) << where;
      EXPECT_LE(demo.progress, c.cover) << where << ": a transition covers its name " << tick - landed
                                        << " ticks in";
    }
  }
}

// The luminance contrast (screen relative luminance, 0.05 for flare) between
// the dark and the bright tenth of the pixels a card covers: its fill against
// its rim or shadow. 0 when the card covers almost nothing.
double CardContrast(double tick, s_bitmap* card) {
  scenes::RenderAtTick(tick);
  const scenes::Frame with = scenes::ReadFrameBuffer(fx1_framebuffer_id);
  scenes::ClearImage clear(card);
  scenes::RenderAtTick(tick);
  const scenes::Frame without = scenes::ReadFrameBuffer(fx1_framebuffer_id);
  auto linear = [](uint8_t v) { return v <= 10 ? v / 3294.6 : std::pow((v / 255.0 + 0.055) / 1.055, 2.4); };
  std::vector<double> type;
  for (size_t i = 0; i + 2 < with.rgb.size(); i += 3)
    if (std::abs(scenes::Luma(&with.rgb[i]) - scenes::Luma(&without.rgb[i])) > 24.0)
      type.push_back(0.2126 * linear(with.rgb[i]) + 0.7152 * linear(with.rgb[i + 1]) + 0.0722 * linear(with.rgb[i + 2]));
  if (type.size() < 200) return 0.0;
  std::sort(type.begin(), type.end());
  return (type[type.size() * 9 / 10] + 0.05) / (type[type.size() / 10] + 0.05);
}

// Every word card of the intro and the outro, once landed, stands out of
// what rings it by at least 4.5:1 (the orange "fizzing" is poured blue).
TEST(ScenesFraming, CardTypeStandsOutOfTheSoda) {
  SCENES_REQUIRE_SHOW();
  struct Case {
    int event, state, ticks;
    s_bitmap* card;
  };
  const Case cases[] = {
      {1, 0, 20, &bmp_intro1}, {1, 1, 20, &bmp_intro2}, {1, 2, 20, &bmp_intro3},  {1, 2, 44, &bmp_intro3},
      {1, 3, 44, &bmp_intro4}, {12, 0, 12, &bmp_own1},  {12, 3, 20, &bmp_outro1}, {12, 5, 16, &bmp_outro3},
  };
  for (const Case& c : cases)
    EXPECT_GT(CardContrast(scenes::StateTick(c.event, c.state) + c.ticks, c.card), 4.5)
        << "event " << c.event << " state " << c.state << " at " << c.ticks << " ticks";
}

// Inside a state, the camera cuts to a new framing on the bar line: the
// picture jumps by far more across it than between two frames as far apart
// inside the bar (block by block, so that rising bubbles do not count).
TEST(ScenesFraming, CameraCutsOnTheBarLinesInsideAState) {
  SCENES_REQUIRE_SHOW();
  const int bars[][3] = {{1, 0, 1}, {1, 1, 1}, {1, 2, 1}, {1, 3, 1}, {2, 0, 2}, {2, 1, 1}, {2, 1, 2}, {12, 3, 1}, {12, 4, 1}};
  auto scene = [](double tick) { return (scenes::RenderAtTick(tick), scenes::ReadFrameBuffer(fx1_framebuffer_id)); };
  for (const auto& [event, state, bar] : bars) {
    const double line = scenes::StateTick(event, state) + bar * scenes::kBarTicks;
    const double across = scenes::BlockDifference(scene(line - 0.5), scene(line + 0.5));
    const double inside = scenes::BlockDifference(scene(line - 3.5), scene(line - 2.5));
    EXPECT_GT(across, 3.0 * inside + 2.0) << "event " << event << " state " << state << " bar " << bar << ": "
                                          << across << " vs " << inside;
  }
}

TEST(ScenesFraming, OpeningStartsDarkAndLocksOntoThePicture) {
  SCENES_REQUIRE_SHOW();
  const scenes::Frame off = scenes::RenderAtTick(0);
  EXPECT_LT(scenes::MeanLuma(off), 10.0) << "the set is not off at the start";
  const scenes::Frame hunting = scenes::RenderAtTick(20);   // about 1.2 s in: snow
  const scenes::Frame locked = scenes::RenderAtTick(scenes::StateTick(0, 1) + 4);
  EXPECT_GT(Roughness(hunting), 2.0 * Roughness(locked))
      << "snow " << Roughness(hunting) << " vs locked " << Roughness(locked);
}

TEST(ScenesFraming, BreakdownFlashesHitOnTheBeatsAndKeepTheirColour) {
  SCENES_REQUIRE_SHOW();
  for (int state = 1; state < scenes::StateCount(10); ++state) {
    const int32_t beat = scenes::StateTick(10, state) + scenes::kBeatTicks;  // the second beat
    const double hit = scenes::MeanLuma(scenes::RenderAtTick(beat));
    // A sixteenth later the hit has faded (in the last bar the hits come on
    // sixteenths: a quarter of a sixteenth).
    const int later = state == 3 ? 1 : 2;
    const scenes::Frame faded = scenes::RenderAtTick(beat + later);
    EXPECT_GT(hit, 40.0) << "state " << state;
    const double fadedLuma = scenes::MeanLuma(faded);
    EXPECT_GT(hit, 1.3 * fadedLuma) << "state " << state << ": " << hit << " vs " << fadedLuma;
    // No instant is grey: each hit is tinted orange or blue and holds on in
    // its colour until the next one.
    const double after[] = {0.0, static_cast<double>(later), scenes::kBeatTicks * 0.4, scenes::kBeatTicks * 0.9};
    for (double ticks : after) {
      const double chroma = MeanChroma(scenes::RenderAtTick(beat + ticks));
      EXPECT_GT(chroma, 18.0) << "state " << state << " turns grey " << ticks << " ticks after a hit";
    }
  }
  // Its last beat, the breath before the drop, collapses the picture to a
  // line: black above and below it (in the scene's own picture, under the
  // flash that builds over it).
  scenes::RenderAtTick(scenes::StateEndTick(10, 3) - 2);
  const scenes::Frame line = scenes::ReadFrameBuffer(fx1_framebuffer_id);
  EXPECT_LT(scenes::MeanLuma(Crop(line, 0, 0, scenes::kWidth, scenes::kHeight / 4)), 30.0);
  EXPECT_GT(scenes::MeanLuma(Crop(line, 0, scenes::kHeight / 2 - 4, scenes::kWidth, 8)), 120.0);
}

TEST(ScenesFraming, ClosingWordsAreWrittenIn) {
  SCENES_REQUIRE_SHOW();
  const int32_t start = scenes::StateTick(13, 0);
  // The lower third, where the words stand.
  const scenes::Frame before = Crop(scenes::RenderAtTick(start), 0, 500, 1280, 180);
  const scenes::Frame after = Crop(scenes::RenderAtTick(start + 2 * scenes::kBeatTicks + 8), 0, 500, 1280, 180);
  EXPECT_GT(scenes::ShareBrighterThan(after, 170.0), scenes::ShareBrighterThan(before, 170.0) + 0.03);
}

TEST(ScenesFraming, ThreeDotsThenBlack) {
  SCENES_REQUIRE_SHOW();
  // Three dots by the end of the first bar of event 14.
  const scenes::Frame dots = scenes::RenderAtTick(scenes::StateTick(14, 1) - 2);
  // Each dot is a disc of about 32 pixels' radius: 1% of the screen for the three.
  EXPECT_GT(scenes::ShareBrighterThan(dots, 200.0), 0.007);
  EXPECT_LT(scenes::ShareBrighterThan(dots, 200.0), 0.03);

  // The incoming event 14, drawn into scene B during the closing card's
  // dissolve, is black; the show's last dissolve fades towards that picture,
  // since nothing is drawn for the end mark.
  scenes::RenderAtTick(demo.event[14].time - 1);
  EXPECT_LT(scenes::MeanLuma(scenes::ReadFrameBuffer(fx2_framebuffer_id)), 2.0);
  const scenes::Frame last = scenes::RenderAtTick(demo.event[15].time - 1);
  EXPECT_EQ(demo.currentevent, 14);
  EXPECT_LT(scenes::MeanLuma(last), 12.0);
  EXPECT_LT(scenes::ShareBrighterThan(last, 200.0), 0.002);
}

}  // namespace
