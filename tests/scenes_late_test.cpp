// The late scenes of the real show: the greetings (event 8), the ice cubes
// (event 9) and the fruits (event 11), rendered from the real sprox.dat and
// measured; with them the type of the credits (event 5) and the closing
// card (event 13), and the type and the kick of the heart (event 4) and the
// balls (event 6). Every state shows something, moves, and looks like no other
// event; each scene also draws while it is still the incoming event of a
// transition (state 0, statetime below 0). Each image is checked where it
// must show: a frame is rendered twice at the same instant and clock, once
// as the show has it and once with that one image's texture unbound, and the
// share of pixels of the scene's framebuffer that change says whether the
// image is on screen there.
#include <algorithm>
#include <cmath>

#include "scenes_common.h"

namespace {

// ---- Helpers --------------------------------------------------------------------

constexpr int kHeart = 4;
constexpr int kBalls = 6;
constexpr int kGreetings = 8;
constexpr int kIcecube = 9;
constexpr int kFruits = 11;
constexpr int kPairStates = 9;  // states 0..8 of event 8 bring one pair each; state 9 is the carousel
constexpr int kCards = 18;

// The greeting cards in slot order (texture1 .. texture18).
s_bitmap* const kCardImages[kCards] = {
    &bmp_greetings1,  &bmp_greetings2,  &bmp_greetings3a, &bmp_greetings3b, &bmp_greetings3c, &bmp_greetings3d,
    &bmp_greetings4a, &bmp_greetings4b, &bmp_greetings5,  &bmp_greetings6a, &bmp_greetings6b, &bmp_greetings6c,
    &bmp_greetings6d, &bmp_greetings6e, &bmp_greetings7a, &bmp_greetings7b, &bmp_greetings7c, &bmp_greetings8};

// Unbinds one image for as long as it lives: the scene passes read the
// image globals when they run, so the next render draws without it.
class BlankImage {
 public:
  explicit BlankImage(s_bitmap* image) : image_(image), texture_(image->textureid) { image_->textureid = 0; }
  ~BlankImage() { image_->textureid = texture_; }
  BlankImage(const BlankImage&) = delete;
  BlankImage& operator=(const BlankImage&) = delete;

 private:
  s_bitmap* image_;
  decltype(s_bitmap::textureid) texture_;
};

// The scene framebuffer A (the event in force, before the transition and
// post passes) after rendering the show at `tick`. The scene pass reads only
// the music position, so two renders at one tick match exactly, while the
// post pass's grain follows the window clock, which runs on between renders.
scenes::Frame SceneAt(double tick) {
  scenes::RenderAtTick(tick);
  return scenes::ReadFrameBuffer(fx1_framebuffer_id);
}

// The same without `image`.
scenes::Frame SceneWithout(s_bitmap* image, double tick) {
  BlankImage blank(image);
  return SceneAt(tick);
}

// Share (0..1) of the pixels of a part of two frames (columns x0..x1, rows
// y0..y1 from the top) whose luma differs by more than 24.
double ChangedShare(const scenes::Frame& a, const scenes::Frame& b, int x0 = 0, int y0 = 0,
                    int x1 = scenes::kWidth, int y1 = scenes::kHeight) {
  if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 1.0;
  size_t changed = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const size_t i = (static_cast<size_t>(y) * a.width + x) * 3;
      changed += std::abs(scenes::Luma(&a.rgb[i]) - scenes::Luma(&b.rgb[i])) > 24.0 ? 1 : 0;
    }
  }
  return static_cast<double>(changed) / static_cast<double>((x1 - x0) * (y1 - y0));
}

std::string Where(int event, int state) {
  return "event " + std::to_string(event) + " state " + std::to_string(state);
}

// ---- Tests ----------------------------------------------------------------------

TEST(ScenesLate, ShadersLinkCleanAndTheWidePassNeedsNoEvent) {
  SCENES_REQUIRE_SHOW();
  for (int shader : {shader_fx_greetings, shader_fx_icecube, shader_fx_fruits}) {
    ASSERT_TRUE(scenes::ProgramLinked(shader)) << "shader id " << shader;
    char log[1024] = {0};
    GLsizei length = 0;
    glGetProgramInfoLog(GFX_shader[shader].program, sizeof log, &length, log);
    EXPECT_EQ(length, 0) << "shader id " << shader << ": " << log;
    glGetShaderInfoLog(GFX_shader[shader].fragment, sizeof log, &length, log);
    EXPECT_EQ(length, 0) << "shader id " << shader << ": " << log;
  }
  // The 19-image pass sets no "event"; a greetings shader that read it would
  // see 0 whatever the event.
  EXPECT_EQ(glGetUniformLocation(GFX_shader[shader_fx_greetings].program, "event"), -1);
  for (int slot = 0; slot <= kCards; ++slot) {
    const std::string name = "texture" + std::to_string(slot);
    EXPECT_GE(glGetUniformLocation(GFX_shader[shader_fx_greetings].program, name.c_str()), 0)
        << name << " is not read, so its image can never show";
  }
}

TEST(ScenesLate, EveryStateShowsSomethingAndMoves) {
  SCENES_REQUIRE_SHOW();
  for (int event : {kGreetings, kIcecube, kFruits}) {
    ASSERT_GT(scenes::StateCount(event), 0) << "event " << event;
    for (int state = 0; state < scenes::StateCount(event); ++state) {
      const int32_t start = scenes::StateTick(event, state);
      const int32_t length = scenes::StateEndTick(event, state) - start;
      // What the window shows a quarter into the state ...
      const scenes::Frame a = scenes::RenderAtTick(start + length / 4);
      ASSERT_EQ(demo.currentevent, event);
      ASSERT_EQ(demo.event[event].currentstate, state);
      EXPECT_GT(scenes::MeanLuma(a), 30.0) << Where(event, state) << " is dark";
      EXPECT_GT(scenes::LumaSpread(a), 12.0) << Where(event, state) << " is flat";
      // ... and the scene alone half a beat apart (the post pass's grain
      // would make any two window frames differ).
      const scenes::Frame sceneA = SceneAt(start + length / 4);
      const scenes::Frame sceneB = SceneAt(start + length / 4 + 4);
      EXPECT_GT(scenes::MeanDifference(sceneA, sceneB), 2.0) << Where(event, state) << " stands still";
      if (HasFailure()) scenes::WritePng(a, "late_e" + std::to_string(event) + "_s" + std::to_string(state) + ".png");
    }
  }
}

TEST(ScenesLate, DrawWhileStillIncoming) {
  SCENES_REQUIRE_SHOW();
  for (int event : {kGreetings, kIcecube, kFruits}) {
    // Halfway through the transition into the event, scene B holds the
    // incoming event drawn in state 0 with a negative statetime.
    const int32_t length = demo.transition[demo.event[event].transition].length;
    ASSERT_GT(length, 1) << "event " << event;
    scenes::RenderAtTick(scenes::StateTick(event, 0) - length / 2);
    ASSERT_EQ(demo.nextevent, event);
    ASSERT_GT(demo.progress, 0.0f);
    const scenes::Frame b = scenes::ReadFrameBuffer(fx2_framebuffer_id);
    EXPECT_GT(scenes::MeanLuma(b), 30.0) << "event " << event << " incoming is dark";
    EXPECT_GT(scenes::LumaSpread(b), 12.0) << "event " << event << " incoming is flat";
    if (HasFailure()) scenes::WritePng(b, "late_incoming_e" + std::to_string(event) + ".png");
  }
}

TEST(ScenesLate, LookLikeNoOtherEvent) {
  SCENES_REQUIRE_SHOW();
  // One frame a quarter into the first state of every scene, where no
  // transition is running.
  std::vector<scenes::Frame> frames;
  for (int event = 0; event <= scenes::kLastScene; ++event) {
    const int32_t start = scenes::StateTick(event, 0);
    frames.push_back(scenes::RenderAtTick(start + (scenes::StateEndTick(event, 0) - start) / 4));
  }
  for (int event : {kGreetings, kIcecube, kFruits}) {
    for (int other = 0; other <= scenes::kLastScene; ++other) {
      if (other == event) continue;
      EXPECT_GT(scenes::MeanDifference(frames[event], frames[other]), 20.0)
          << "event " << event << " looks like event " << other;
    }
  }
}

TEST(ScenesLate, EachPairOfCardsShowsInItsBar) {
  SCENES_REQUIRE_SHOW();
  // Each pair holds its bar from the downbeat (the chorus's first beat
  // included) to the last beat, and every bar line is a cut to a new shot.
  scenes::Frame lastOfBar;
  for (int state = 0; state < kPairStates; ++state) {
    for (int at : {1, 28}) {
      const double tick = scenes::StateTick(kGreetings, state) + at;
      const scenes::Frame shown = SceneAt(tick);
      ASSERT_EQ(demo.event[kGreetings].currentstate, state);
      // The same instant rendered again changes nothing: the check below
      // measures the image, not noise.
      ASSERT_LT(ChangedShare(shown, SceneAt(tick)), 0.0005) << Where(kGreetings, state);
      for (int card : {2 * state, 2 * state + 1}) {
        EXPECT_GT(ChangedShare(shown, SceneWithout(kCardImages[card], tick)), 0.01)
            << "card " << card + 1 << " does not show at tick " << at << " of " << Where(kGreetings, state);
      }
      // A card of a neighbouring bar is not on screen now.
      const int other = state + 1 < kPairStates ? 2 * state + 2 : 2 * state - 1;
      EXPECT_LT(ChangedShare(shown, SceneWithout(kCardImages[other], tick)), 0.0005)
          << "card " << other + 1 << " shows in " << Where(kGreetings, state);
      if (at == 1 && state > 0) {
        EXPECT_GT(scenes::MeanDifference(lastOfBar, shown), 20.0) << "no cut into " << Where(kGreetings, state);
      }
      lastOfBar = shown;
    }
  }
}

TEST(ScenesLate, TheCarouselBringsEveryCardRound) {
  SCENES_REQUIRE_SHOW();
  // The carousel steps each ring round by one card a beat: over six beats
  // (sampled late in each, once the step has settled) every card has been
  // at the front of its ring.
  const int32_t start = scenes::StateTick(kGreetings, kPairStates);
  std::vector<double> seen(kCards, 0.0);
  for (int beat = 1; beat <= 6; ++beat) {
    const double tick = start + 8.0 * beat + 6.0;
    const scenes::Frame shown = SceneAt(tick);
    ASSERT_EQ(demo.event[kGreetings].currentstate, kPairStates);
    for (int card = 0; card < kCards; ++card)
      seen[card] = std::max(seen[card], ChangedShare(shown, SceneWithout(kCardImages[card], tick)));
  }
  for (int card = 0; card < kCards; ++card)
    EXPECT_GT(seen[card], 0.004) << "card " << card + 1 << " never comes round";
}

TEST(ScenesLate, TheCanStandsInEveryShotOfTheChorus) {
  SCENES_REQUIRE_SHOW();
  // The turning can carries the chorus: its label (texture0) covers a good
  // part of the picture in every shot, the pairs' bars and the carousel's.
  for (int state = 0; state <= kPairStates; ++state) {
    const int32_t start = scenes::StateTick(kGreetings, state);
    for (int32_t tick = start + 6; tick < scenes::StateEndTick(kGreetings, state); tick += 64) {
      const scenes::Frame shown = SceneAt(tick);
      ASSERT_EQ(demo.event[kGreetings].currentstate, state);
      EXPECT_GT(ChangedShare(shown, SceneWithout(&bmp_ballsbg, tick)), 0.04)
          << "the can hardly shows at tick " << tick - start << " of " << Where(kGreetings, state);
    }
  }
}

// The luminance contrast of a piece of type: the type's pixels are those
// that change when its image is made transparent; their brighter part is the fill
// (or the rim), their darker part the rim (or the fill). The ratio of the
// two relative luminances (as for contrast ratios on screens, with 0.05 for
// flare) says whether the letters stand out from what rings them.
double TypeContrast(const scenes::Frame& with, const scenes::Frame& without) {
  auto linear = [](uint8_t v) {
    const double c = v / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  std::vector<double> type;
  for (size_t i = 0; i + 2 < with.rgb.size(); i += 3) {
    if (std::abs(scenes::Luma(&with.rgb[i]) - scenes::Luma(&without.rgb[i])) <= 24.0) continue;
    type.push_back(0.2126 * linear(with.rgb[i]) + 0.7152 * linear(with.rgb[i + 1]) + 0.0722 * linear(with.rgb[i + 2]));
  }
  if (type.size() < 200) return 0.0;
  std::sort(type.begin(), type.end());
  const double dark = type[type.size() / 10], bright = type[type.size() * 9 / 10];
  return (bright + 0.05) / (dark + 0.05);
}

// Type against what lies behind it: each greeting card in its bar, and the
// nutrition label where fruit once crossed it (0.75 s into the drop, on its
// string, and 4 s into the slam) and on a downbeat of each state.
TEST(ScenesLate, TypeStandsOutOfWhatLiesBehindIt) {
  SCENES_REQUIRE_SHOW();
  struct Shot {
    int event, state;
    double ticks;  // into the state
    s_bitmap* image;
    std::string what;
  };
  std::vector<Shot> shots;
  for (int card = 0; card < kCards; ++card)
    shots.push_back({kGreetings, card / 2, 14, kCardImages[card], "card " + std::to_string(card + 1)});
  for (int state : {0, 1})
    for (double ticks : {state == 0 ? 12.0 : 64.0, 96.0})
      shots.push_back({kFruits, state, ticks, &bmp_nutrician, "the label"});
  for (const Shot& shot : shots) {
    const double tick = scenes::StateTick(shot.event, shot.state) + shot.ticks;
    const scenes::Frame shown = SceneAt(tick);
    scenes::ClearImage clear(shot.image);
    EXPECT_GT(TypeContrast(shown, SceneAt(tick)), 4.5)
        << shot.what << " in " << Where(shot.event, shot.state) << " at +" << shot.ticks << " ticks";
  }
}

TEST(ScenesLate, IcecubeShowsFeverThenTheCueMarkBriefly) {
  SCENES_REQUIRE_SHOW();
  const int32_t cool = scenes::StateTick(kIcecube, 0);
  const int32_t warm = scenes::StateTick(kIcecube, 1);
  ASSERT_GE(cool, 0);
  ASSERT_GE(warm, 0);
  // The "sprox fever" card belongs to the orange half only.
  const double coolTick = cool + 40;
  const double warmTick = warm + 24;
  EXPECT_LT(ChangedShare(SceneAt(coolTick), SceneWithout(&bmp_sproxfever, coolTick)), 0.0005);
  EXPECT_GT(ChangedShare(SceneAt(warmTick), SceneWithout(&bmp_sproxfever, warmTick)), 0.05);

  // The burn mark: 72 ticks into the orange half it shows in the top-right
  // corner (and nowhere else); a beat earlier and a beat later it is gone.
  const int x0 = scenes::kWidth * 3 / 4, y1 = scenes::kHeight / 3;
  const double cue = warm + 74;
  const scenes::Frame withMark = SceneAt(cue);
  const scenes::Frame withoutMark = SceneWithout(&bmp_cigburn, cue);
  EXPECT_GT(ChangedShare(withMark, withoutMark, x0, 0, scenes::kWidth, y1), 0.02);
  EXPECT_LT(ChangedShare(withMark, withoutMark, 0, y1, scenes::kWidth, scenes::kHeight), 0.0005);
  for (double off : {cue - 8, cue + 8}) {
    EXPECT_LT(ChangedShare(SceneAt(off), SceneWithout(&bmp_cigburn, off)), 0.0005)
        << "the cue mark stays on at tick " << off;
  }
}

TEST(ScenesLate, FruitsKeepTheLabelInBothStates) {
  SCENES_REQUIRE_SHOW();
  for (int state = 0; state < scenes::StateCount(kFruits); ++state) {
    const double tick = scenes::StateTick(kFruits, state) + 20;
    const scenes::Frame shown = SceneAt(tick);
    EXPECT_GT(ChangedShare(shown, SceneWithout(&bmp_nutrician, tick)), 0.04)
        << "the label is missing in " << Where(kFruits, state);
    // The fizz and the peel come from the noise picture (which the post pass
    // reads as well; the scene's framebuffer shows the scene's use alone).
    EXPECT_GT(ChangedShare(shown, SceneWithout(&bmp_noise, tick)), 0.01) << Where(kFruits, state);
  }
}

// The luminance contrast (as TypeContrast) of a piece of type that lies on
// the scene itself or on a plate of its own image: over the box around the
// pixels the type's image changes, the brighter tenth of the shown picture
// (letters or plate) against its darker tenth (letters, rim or ground).
double FootprintContrast(const scenes::Frame& with, const scenes::Frame& without) {
  int x0 = with.width, y0 = with.height, x1 = -1, y1 = -1;
  for (int y = 0; y < with.height; ++y) {
    for (int x = 0; x < with.width; ++x) {
      const size_t i = (static_cast<size_t>(y) * with.width + x) * 3;
      if (std::abs(scenes::Luma(&with.rgb[i]) - scenes::Luma(&without.rgb[i])) <= 24.0) continue;
      x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    }
  }
  if ((x1 - x0) * (y1 - y0) < 200) return 0.0;
  auto linear = [](uint8_t v) {
    const double c = v / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  std::vector<double> box;
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      const uint8_t* px = &with.rgb[(static_cast<size_t>(y) * with.width + x) * 3];
      box.push_back(0.2126 * linear(px[0]) + 0.7152 * linear(px[1]) + 0.0722 * linear(px[2]));
    }
  }
  std::sort(box.begin(), box.end());
  return (box[box.size() * 9 / 10] + 0.05) / (box[box.size() / 10] + 0.05);
}

// Every line of type of the credits, the fever card and the closing card
// stands out of what rings it, and a credit name never shares the screen
// with the name of the card before or after it (cards change on a hard cut).
TEST(ScenesLate, CreditsFeverAndClosingTypeStandsOutAlone) {
  SCENES_REQUIRE_SHOW();
  struct Case {
    int event;
    int state;
    int ticks;           // into the state
    s_bitmap* type;      // the type that must read there
    s_bitmap* elsewhere; // a name that must not show there, or null
  };
  const Case cases[] = {
      {5, 0, 4, &bmp_credits1, &bmp_credits2},       {5, 0, 24, &bmp_credits2, &bmp_credits3},
      {5, 0, 63, &bmp_creditlabel1, &bmp_credits3},  {5, 1, 0, &bmp_credits3, &bmp_credits2},
      {5, 1, 40, &bmp_creditlabel2, nullptr},        {5, 2, 63, &bmp_credits4, &bmp_credits5},
      {5, 3, 0, &bmp_credits5, &bmp_credits4},       {9, 1, 24, &bmp_sproxfever, nullptr},
      {13, 0, 40, &bmp_closing, nullptr},
  };
  for (const Case& c : cases) {
    const double tick = scenes::StateTick(c.event, c.state) + c.ticks;
    const std::string where = Where(c.event, c.state) + " tick " + std::to_string(c.ticks);
    const scenes::Frame shown = SceneAt(tick);
    ASSERT_EQ(demo.currentevent, c.event) << where;
    {
      scenes::ClearImage clear(c.type);
      EXPECT_GT(FootprintContrast(shown, SceneAt(tick)), 4.5) << where;
    }
    if (c.elsewhere) {
      EXPECT_LT(ChangedShare(shown, SceneWithout(c.elsewhere, tick)), 0.0005) << where << ": two names at once";
    }
  }
}

// The heart's and the balls' cards read from bar 0 (head-on) and from bar 1
// (moved beside the heart, or cut to the bottom), in both states.
TEST(ScenesLate, HeartAndBallsTypeStandsOutWhereverItMoves) {
  SCENES_REQUIRE_SHOW();
  struct Row {
    int event, state, ticks;
    s_bitmap* card;
  };
  const Row rows[] = {{kHeart, 0, 14, &bmp_wannasprox}, {kHeart, 0, 46, &bmp_wannasprox},
                      {kHeart, 1, 46, &bmp_wannasprox}, {kBalls, 0, 14, &bmp_orange},
                      {kBalls, 0, 46, &bmp_orange},     {kBalls, 1, 46, &bmp_orange}};
  for (const Row& row : rows) {
    const double tick = scenes::StateTick(row.event, row.state) + row.ticks;
    const scenes::Frame shown = SceneAt(tick);
    scenes::ClearImage clear(row.card);
    EXPECT_GT(TypeContrast(shown, SceneAt(tick)), 4.5) << Where(row.event, row.state) << " +" << row.ticks;
  }
}

// The shapes swell on every kick: the eighth of a beat after a kick changes
// the scene's blocks (sizes and layout, not the drift of small things) far
// more than the eighth of a beat after the off-beat (bar 1, beat 2, clear of
// the bar line's slide).
TEST(ScenesLate, HeartAndBallsHitOnTheKick) {
  SCENES_REQUIRE_SHOW();
  for (int event : {kHeart, kBalls}) {
    for (int state = 0; state < scenes::StateCount(event); ++state) {
      const double beat = scenes::StateTick(event, state) + 40;
      const double onKick = scenes::BlockDifference(SceneAt(beat), SceneAt(beat + 1));
      const double offBeat = scenes::BlockDifference(SceneAt(beat + 4), SceneAt(beat + 5));
      EXPECT_GT(onKick, 2.0 * offBeat) << Where(event, state);
    }
  }
}

// Each bar line moves the heart's layout and cuts the balls' camera: the
// picture's blocks change more across bar 1's line than over the same span
// (a tick before a kick to the next kick) in the middle of the bar.
TEST(ScenesLate, HeartAndBallsMoveOnTheBarLine) {
  SCENES_REQUIRE_SHOW();
  for (int event : {kHeart, kBalls}) {
    for (int state = 0; state < scenes::StateCount(event); ++state) {
      const double line = scenes::StateTick(event, state) + 32;
      const double across = scenes::BlockDifference(SceneAt(line - 1), SceneAt(line + 8));
      const double within = scenes::BlockDifference(SceneAt(line + 15), SceneAt(line + 24));
      EXPECT_GT(across, 1.5 * within) << Where(event, state);
    }
  }
}

}  // namespace
