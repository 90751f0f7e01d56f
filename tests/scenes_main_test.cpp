// The middle of the show: events 2 to 7 (title, straw, heart, credits, balls,
// twister), rendered by the real engine from the real sprox.dat.
//
// For every state of these events: the picture on screen is neither flat nor
// black; the scene itself moves from one moment to the next and cuts where
// its states change; it looks unlike every other event of the show; and it
// draws before its own start, while it is the incoming scene of a
// transition (state 0, negative state time).
#include <map>
#include <utility>

#include "scenes_common.h"

namespace {

constexpr int kFirstEvent = 2;
constexpr int kLastEvent = 7;
// How far into a state its sample frame lies: past every entrance animation
// of the scene's cards, short of the shortest state (one bar).
constexpr double kIntoState = 14.5;   // ticks
constexpr double kStep = 5.0;          // ticks between two frames that must differ

// Below these a picture is flat or black (luma 0..255).
constexpr double kMinSpread = 10.0;
constexpr double kMinMeanLuma = 25.0;
// A scene that moves changes its picture by more than this over kStep ticks.
constexpr double kMinMotion = 1.5;
// Two different scenes differ by more than this.
constexpr double kMinDistinct = 12.0;

struct Shot {
  scenes::Frame screen;  // what the window shows, post pass included
  scenes::Frame scene;   // scene A: the event in force alone
};

// Frames are costly on a software rasteriser: each tick is rendered once.
const Shot& ShotAt(double tick) {
  static std::map<double, Shot> cache;
  auto found = cache.find(tick);
  if (found != cache.end()) return found->second;
  Shot shot;
  shot.screen = scenes::RenderAtTick(tick);
  shot.scene = scenes::ReadFrameBuffer(fx1_framebuffer_id);
  return cache.emplace(tick, std::move(shot)).first->second;
}

double SampleTick(int event, int state) { return scenes::StateTick(event, state) + kIntoState; }

std::string Where(int event, int state) {
  return "event " + std::to_string(event) + " state " + std::to_string(state);
}

}  // namespace

TEST(ScenesMain, ProgramsOfTheSixScenesLinked) {
  SCENES_REQUIRE_SHOW();
  EXPECT_TRUE(scenes::ProgramLinked(shader_fx_bubbles)) << "fx_bubbles2.glsl";
  EXPECT_TRUE(scenes::ProgramLinked(shader_fx_straw)) << "fx_straw3.glsl";
  EXPECT_TRUE(scenes::ProgramLinked(shader_fx_patjes)) << "fx_heart.glsl";
  EXPECT_TRUE(scenes::ProgramLinked(shader_fx_credits)) << "fx_credits.glsl";
  EXPECT_TRUE(scenes::ProgramLinked(shader_fx_balls)) << "fx_balls.glsl";
  EXPECT_TRUE(scenes::ProgramLinked(shader_fx_twister)) << "fx_twister.glsl";
}

TEST(ScenesMain, SameTickAndClockGiveTheSamePicture) {
  SCENES_REQUIRE_SHOW();
  // The helpers hold the window system's clock while a frame renders, so the
  // grain of the post pass repeats exactly; at another clock it moves.
  const double tick = SampleTick(6, 0);
  const scenes::Frame first = scenes::RenderAtTick(tick, 20.0);
  const scenes::Frame again = scenes::RenderAtTick(tick, 20.0);
  EXPECT_EQ(scenes::MeanDifference(first, again), 0.0);
  EXPECT_GT(scenes::MeanDifference(first, scenes::RenderAtTick(tick, 21.5)), 0.0);
}

TEST(ScenesMain, TimelineGivesTheStatesTheScenesAreStagedFor) {
  SCENES_REQUIRE_SHOW();
  // The shaders stage their parts on these states (the credits show one
  // name per state, the twister adds the girl in state 1 and three columns
  // in state 2); a timing file that disagrees would show the wrong parts.
  const int expected[] = {2, 2, 2, 4, 2, 3};
  for (int event = kFirstEvent; event <= kLastEvent; ++event)
    EXPECT_EQ(scenes::StateCount(event), expected[event - kFirstEvent]) << "event " << event;
  EXPECT_EQ(scenes::StateTick(5, 3) - scenes::StateTick(5, 0), 6 * scenes::kBarTicks);
}

TEST(ScenesMain, EveryStateIsNeitherFlatNorBlackAndMoves) {
  SCENES_REQUIRE_SHOW();
  for (int event = kFirstEvent; event <= kLastEvent; ++event) {
    for (int state = 0; state < scenes::StateCount(event); ++state) {
      const double tick = SampleTick(event, state);
      const Shot& now = ShotAt(tick);
      ASSERT_EQ(demo.currentevent, event) << Where(event, state);
      ASSERT_EQ(demo.event[event].currentstate, state) << Where(event, state);
      EXPECT_GT(scenes::LumaSpread(now.screen), kMinSpread) << Where(event, state) << " is flat: "
                                                            << scenes::WritePng(now.screen, "flat.png");
      EXPECT_GT(scenes::MeanLuma(now.screen), kMinMeanLuma) << Where(event, state) << " is black: "
                                                            << scenes::WritePng(now.screen, "black.png");
      const Shot& later = ShotAt(tick + kStep);
      EXPECT_GT(scenes::MeanDifference(now.scene, later.scene), kMinMotion)
          << Where(event, state) << " stands still";
    }
  }
}

TEST(ScenesMain, ScenesCutWhereTheirStatesChange) {
  SCENES_REQUIRE_SHOW();
  // Across a state change the layout and colours jump by far more than they
  // drift between two frames as far apart inside a state (compared block by
  // block, so fine motion such as turning rays does not count). The credits
  // fade their names out and in around the change instead; their change of
  // name is checked below.
  for (int event = kFirstEvent; event <= kLastEvent; ++event) {
    if (event == 5) continue;
    for (int state = 1; state < scenes::StateCount(event); ++state) {
      const double change = scenes::StateTick(event, state);
      const double across = scenes::BlockDifference(ShotAt(change - 1.0).scene, ShotAt(change + 1.0).scene);
      const double inside = scenes::BlockDifference(ShotAt(change - 5.0).scene, ShotAt(change - 3.0).scene);
      EXPECT_GT(across, 3.0 * inside + 2.0) << Where(event, state) << ": no cut (" << across << " vs " << inside
                                            << ")";
    }
  }
}

TEST(ScenesMain, CreditsShowADifferentNameInEveryState) {
  SCENES_REQUIRE_SHOW();
  // The name sits in the middle of the screen, white on the pool: its box
  // holds plenty of near-white pixels, and no two states show the same box.
  auto nameBox = [](const scenes::Frame& f) {
    scenes::Frame box;
    box.width = 560;
    box.height = 170;
    for (int y = 250; y < 250 + box.height; ++y)
      box.rgb.insert(box.rgb.end(), f.rgb.begin() + (y * f.width + 360) * 3,
                     f.rgb.begin() + (y * f.width + 360 + box.width) * 3);
    return box;
  };
  std::vector<scenes::Frame> boxes;
  for (int state = 0; state < scenes::StateCount(5); ++state) {
    boxes.push_back(nameBox(ShotAt(SampleTick(5, state)).scene));
    EXPECT_GT(scenes::ShareBrighterThan(boxes.back(), 220.0), 0.04) << "no name in " << Where(5, state);
  }
  for (size_t a = 0; a < boxes.size(); ++a)
    for (size_t b = a + 1; b < boxes.size(); ++b)
      EXPECT_GT(scenes::MeanDifference(boxes[a], boxes[b]), 8.0) << "states " << a << " and " << b << " look alike";
}

TEST(ScenesMain, EveryStateLooksUnlikeTheOtherEvents) {
  SCENES_REQUIRE_SHOW();
  // One frame of every other event of the show, early in its first state.
  std::vector<std::pair<int, const scenes::Frame*>> others;
  for (int other = 0; other <= scenes::kLastScene; ++other) {
    if (other >= kFirstEvent && other <= kLastEvent) continue;
    others.emplace_back(other, &ShotAt(SampleTick(other, 0)).scene);
  }
  for (int event = kFirstEvent; event <= kLastEvent; ++event) {
    for (int state = 0; state < scenes::StateCount(event); ++state) {
      const scenes::Frame& mine = ShotAt(SampleTick(event, state)).scene;
      for (const auto& [other, frame] : others)
        EXPECT_GT(scenes::MeanDifference(mine, *frame), kMinDistinct)
            << Where(event, state) << " looks like event " << other;
      for (int peer = kFirstEvent; peer <= kLastEvent; ++peer) {
        if (peer == event) continue;
        for (int ps = 0; ps < scenes::StateCount(peer); ++ps)
          EXPECT_GT(scenes::MeanDifference(mine, ShotAt(SampleTick(peer, ps)).scene), kMinDistinct)
              << Where(event, state) << " looks like " << Where(peer, ps);
      }
    }
  }
}

TEST(ScenesMain, IncomingSceneDrawsBeforeItsStart) {
  SCENES_REQUIRE_SHOW();
  // Every one of these events is entered through a transition: its last
  // ticks before the start render the event into scene B with state 0 and
  // a negative state time, which must already be a living picture.
  for (int event = kFirstEvent; event <= kLastEvent; ++event) {
    const double start = scenes::StateTick(event, 0);
    const scenes::Frame early = (scenes::RenderAtTick(start - 7.5), scenes::ReadFrameBuffer(fx2_framebuffer_id));
    ASSERT_EQ(demo.nextevent, event);
    ASSERT_GT(demo.progress, 0.0f) << "no transition into event " << event;
    const scenes::Frame late = (scenes::RenderAtTick(start - 2.5), scenes::ReadFrameBuffer(fx2_framebuffer_id));
    EXPECT_GT(scenes::LumaSpread(late), kMinSpread) << "event " << event << " enters flat";
    EXPECT_GT(scenes::MeanLuma(late), kMinMeanLuma) << "event " << event << " enters black";
    EXPECT_GT(scenes::MeanDifference(early, late), kMinMotion) << "event " << event << " enters frozen";
  }
}

TEST(ScenesMain, FlashesPeakOnTheDownbeatAndDecayAfterIt) {
  SCENES_REQUIRE_SHOW();
  // The flash transitions (into the title, the twister, the breakdown and
  // the final drop) are all white on their last tick, still building a beat
  // before, and the new event comes out of the white over its first beat.
  for (int event : {2, 7, 10, 11}) {
    const double start = scenes::StateTick(event, 0);
    const std::string where = "the flash into event " + std::to_string(event);
    const scenes::Frame beatBefore = (scenes::RenderAtTick(start - 8.0), scenes::ReadFrameBuffer(framebuffer_id));
    const scenes::Frame peak = (scenes::RenderAtTick(start - 0.5), scenes::ReadFrameBuffer(framebuffer_id));
    const scenes::Frame first = (scenes::RenderAtTick(start + 0.5), scenes::ReadFrameBuffer(fx1_framebuffer_id));
    const scenes::Frame beatAfter = (scenes::RenderAtTick(start + 8.5), scenes::ReadFrameBuffer(fx1_framebuffer_id));
    ASSERT_EQ(demo.currentevent, event);
    EXPECT_LT(scenes::ShareBrighterThan(beatBefore, 250.0), 0.5) << where << " peaks early";
    EXPECT_GT(scenes::ShareBrighterThan(peak, 250.0), 0.99) << where << " is not white on its last tick";
    EXPECT_GT(scenes::MeanLuma(first), 180.0) << where << " is gone on the downbeat";
    EXPECT_LT(scenes::MeanLuma(beatAfter), scenes::MeanLuma(first) - 40.0) << where << " does not decay";
  }
}
