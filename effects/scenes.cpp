// effects/scenes.cpp: the scene script. Event i of the timeline always shows
// scene i: one full-screen pass with that scene's shader and its images in
// fixed texture slots. What a scene looks like and how it moves lives in its
// shader; this table only says which shader sees which images.
//
// Terms (event, scene pass, texture unit and slot, bmp_none, folded
// program): see docs/ARCHITECTURE.md#glossary. Here, an empty slot is null
// and gets bmp_none.
//
// Threads: main thread only, inside the picture frame loop; nothing is
// allocated but the folded programs PrepareFoldedPrograms makes in the first
// picture frames.
#include "effects/effects.h"

#include <algorithm>

#include "timeline/timeline.h"

// ---- Types and tables -------------------------------------------------------------------
namespace {

struct s_scene {
  bool wide;                                    // ExecuteShader2 (19 slots) instead of ExecuteShader (9)
  const int32_t* shader;                        // the shader global, read at the time of the call
  const s_bitmap* slots[EFFECTS_SCENE2_SLOTS];  // image of each slot, null for bmp_none
};

// The rows point at the globals, so every pass sees what they hold when it runs.
const s_scene kScenes[EFFECTS_NUM_SCENES] = {
    // 0: break (the broadcast warming up)
    {false, &shader_fx_break,
     {&bmp_audience, &bmp_damage, &bmp_audience, &bmp_blackbg, nullptr, nullptr, nullptr, nullptr, &bmp_audience}},
    // 1: intro
    {false, &shader_fx_intro, {&bmp_introbg, &bmp_intro1, &bmp_intro2, &bmp_intro3, &bmp_intro4, &bmp_mono}},
    // 2: title
    {false, &shader_fx_bubbles, {&bmp_titlebg, &bmp_title, &bmp_title2, &bmp_title3, &bmp_mono}},
    // 3: straw
    {false, &shader_fx_straw, {&bmp_ballsbg}},
    // 4: heart
    {false, &shader_fx_patjes, {&bmp_bluebg, &bmp_wannasprox}},
    // 5: credits; bmp_credits6 is never loaded, so slot 5 stays empty
    {false, &shader_fx_credits,
     {&bmp_credits1, &bmp_credits2, &bmp_credits3, &bmp_credits4, &bmp_credits5, &bmp_credits6,
      &bmp_creditlabel1, &bmp_creditlabel2}},
    // 6: balls
    {false, &shader_fx_balls, {&bmp_ballsbg, &bmp_orange}},
    // 7: twister
    {false, &shader_fx_twister, {&bmp_ballsbg, &bmp_twister, &bmp_girl, &bmp_grisp}},
    // 8: greetings, all 19 slots
    {true, &shader_fx_greetings,
     {&bmp_ballsbg, &bmp_greetings1, &bmp_greetings2, &bmp_greetings3a, &bmp_greetings3b, &bmp_greetings3c,
      &bmp_greetings3d, &bmp_greetings4a, &bmp_greetings4b, &bmp_greetings5, &bmp_greetings6a,
      &bmp_greetings6b, &bmp_greetings6c, &bmp_greetings6d, &bmp_greetings6e, &bmp_greetings7a,
      &bmp_greetings7b, &bmp_greetings7c, &bmp_greetings8}},
    // 9: icecube; the background comes last
    {false, &shader_fx_icecube, {&bmp_bluebg, &bmp_sproxfever, &bmp_cigburn, &bmp_ballsbg}},
    // 10: break again, with the six flash images
    {false, &shader_fx_break,
     {&bmp_blackbg, &bmp_damage, &bmp_flash1, &bmp_flash2, &bmp_flash3, &bmp_flash4, &bmp_flash5, &bmp_flash6,
      &bmp_dots}},
    // 11: fruits
    {false, &shader_fx_fruits, {&bmp_bluebg, &bmp_noise, &bmp_nutrician}},
    // 12: outro
    {false, &shader_fx_intro,
     {&bmp_introbg, &bmp_own1, &bmp_own2, &bmp_own3, &bmp_outro1, &bmp_outro2, &bmp_outro3}},
    // 13: closing; "closing0.png" before "text_closing.png"
    {false, &shader_fx_empty, {&bmp_blackbg, &bmp_closing2, &bmp_closing}},
    // 14: dots
    {false, &shader_fx_empty, {&bmp_dots, &bmp_dots, &bmp_dots}},
};

const s_bitmap& Slot(const s_scene& scene, int slot) {
  return scene.slots[slot] ? *scene.slots[slot] : bmp_none;
}

}  // namespace

// ---- Public functions ---------------------------------------------------------------------
bool PrepareFoldedPrograms() {
  // Job k of event e: its states 0..n-1, then (k = n) the event drawn as the
  // incoming one while e - 1 is in force, then the post pass with the bug
  // off and (in its events) on. The uniforms set are the passes' own.
  static int next = 0;
  static bool done = false;  // then every later picture frame returns at once
  if (done) return false;
  for (;;) {
    int k = next;
    int event = 0;
    for (; event < EFFECTS_NUM_SCENES; event++) {
      const int states = std::max(1, static_cast<int>(demo.event[event].numstates));
      if (k < states + 3) break;
      k -= states + 3;
    }
    if (event >= EFFECTS_NUM_SCENES) {
      done = true;
      return false;
    }
    next++;
    const int states = std::max(1, static_cast<int>(demo.event[event].numstates));
    const s_scene& scene = kScenes[event];
    int32_t shader = *scene.shader;
    if (k < states || (k == states && event > 0)) {
      if (!scene.wide) GFX_SetShaderUniform1i(shader, "event", k < states ? event : event - 1);
      GFX_SetShaderUniform1i(shader, "state", k < states ? k : 0);
    } else if (k > states && (k == states + 1 || ShowsLogo(event))) {
      shader = shader_post;
      GFX_SetShaderUniform1i(shader, "mode", event == EFFECTS_MODE_EVENT ? 1 : 0);
      GFX_SetShaderUniform1i(shader, "logostate", k == states + 1 ? 0 : 1);
    } else {
      continue;
    }
    GFX_UnbindShader();
    if (GFX_PrepareFoldedShader(shader)) return true;
  }
}

int32_t EventOfSelector(int32_t selector) {
  return selector == EFFECTS_SELECT_NEXT ? demo.nextevent : demo.currentevent;
}

void DoEffect(int32_t framebuffer, int32_t selector) {
  // The framebuffer is selected even when nothing is drawn into it.
  GFX_SetFrameBuffer(framebuffer);
  const int32_t event = EventOfSelector(selector);
  if (event < 0 || event >= EFFECTS_NUM_SCENES) return;

  const s_scene& s = kScenes[event];
  if (s.wide) {
    ExecuteShader2(*s.shader, selector, Slot(s, 0), Slot(s, 1), Slot(s, 2), Slot(s, 3), Slot(s, 4), Slot(s, 5),
                   Slot(s, 6), Slot(s, 7), Slot(s, 8), Slot(s, 9), Slot(s, 10), Slot(s, 11), Slot(s, 12),
                   Slot(s, 13), Slot(s, 14), Slot(s, 15), Slot(s, 16), Slot(s, 17), Slot(s, 18));
  } else {
    ExecuteShader(*s.shader, selector, Slot(s, 0), Slot(s, 1), Slot(s, 2), Slot(s, 3), Slot(s, 4), Slot(s, 5),
                  Slot(s, 6), Slot(s, 7), Slot(s, 8));
  }
}
