// The show's folded programs: every shader that names uniforms to
// fold on gets programs that link for every state the show draws, and
// they draw the same pictures as the shaders' own programs (the post pass's
// channel bug included, which is then drawn over its corner alone).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "effects/effects.h"
#include "gfx/gfx.h"
#include "scenes_common.h"
#include "timeline/timeline.h"

namespace {

bool Folds(const s_demoshader& shader) {
  return shader.source && std::strstr(shader.source, "#pragma fold(") != nullptr;
}

// The share of colour channels, 0 to 1, that differ by more than `allowed`
// between two frames of the same size.
double ShareDiffering(const scenes::Frame& a, const scenes::Frame& b, int allowed) {
  if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 1.0;
  size_t differing = 0;
  for (size_t i = 0; i < a.rgb.size(); i++) differing += std::abs(a.rgb[i] - b.rgb[i]) > allowed;
  return static_cast<double>(differing) / static_cast<double>(a.rgb.size());
}

}  // namespace

TEST(ScenesFolded, EveryStateOfTheShowLinksItsFoldedPrograms) {
  SCENES_REQUIRE_SHOW();
  // A frame in every state, and one a few ticks before every event, while
  // the transition into it draws it as the incoming event.
  for (int event = 0; event < 15; event++) {
    for (int state = 0; state < scenes::StateCount(event); state++) scenes::RenderAtTick(scenes::StateTick(event, state) + 4);
    if (event > 0) scenes::RenderAtTick(scenes::StateTick(event, 0) - 4);
  }
  int folding = 0;
  for (int k = 0; k < numshaders; k++) {
    const s_demoshader& shader = demoshader[k];
    EXPECT_EQ(GFX_FoldFailures(shader.id), 0) << "shader " << shader.id;
    if (!Folds(shader)) continue;
    folding++;
    EXPECT_GE(GFX_FoldedVariants(shader.id), 1) << "shader " << shader.id << " was never folded";
  }
  EXPECT_GE(folding, 13) << "the twelve scene shaders and the post pass";
}

TEST(ScenesFolded, FoldedProgramsDrawTheShadersOwnPictures) {
  SCENES_REQUIRE_SHOW();
  // Constants folded by the compiler may round a last bit otherwise: a
  // channel may differ by a step or two, and the ice cubes' edges (where a
  // ray just grazes a face) may fall a pixel the other way, in a few
  // hundred pixels at most; a branch taken wrongly would change far more.
  constexpr int kAllowed = 3;
  constexpr double kShare = 0.001;
  auto compare = [&](double tick, const std::string& where) {
    const scenes::Frame folded = scenes::RenderAtTick(tick);
    GFX_folding = false;
    const scenes::Frame own = scenes::RenderAtTick(tick);
    GFX_folding = true;
    EXPECT_LE(ShareDiffering(folded, own, kAllowed), kShare) << where;
  };
  for (int event = 0; event < 15; event++) {
    for (int state = 0; state < scenes::StateCount(event); state++)
      compare(scenes::StateTick(event, state) + 9.5, "event " + std::to_string(event) + " state " + std::to_string(state));
    // Mid-transition: the event drawn as the incoming one.
    if (event > 0) compare(scenes::StateTick(event, 0) - 6.5, "into event " + std::to_string(event));
  }
}
