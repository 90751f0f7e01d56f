// effects/assets.h: the show's fixed assets, listed once. Every image the
// show loads and every shader it compiles, with the global it goes into, in
// load order. The asset loader, the image generator, the pack step and the
// tests all take their lists from here, so a renamed or dropped file fails
// the build instead of showing as "couldn't open file" at start-up.
//
// Header-only and free of GL and of every other header of the project: the
// image generator includes it without linking the engine.
//
// The lists are X-macros. Each X(global, file, ...) row names the global that
// receives the asset and its file name in the resource image (lower case, as
// the file system looks names up).
//   SPROX_IMAGES(X)   X(global s_bitmap, "file.png", wrap)
//   SPROX_SHADERS(X)  X(global int32_t shader id, "file.glsl")
// wrap is REPEAT (the GL_REPEAT a texture is created with), CLAMP_S (clamp
// to border along S only), CLAMP_ST (along S and T) or REPEAT_NEAREST
// (GL_REPEAT, read at the nearest texel instead of filtered).
#pragma once

// ---- The show's picture ------------------------------------------------------------
// Every scene, image and shader is made for this picture size, pixels.
constexpr int EFFECTS_WIDTH = 1280;
constexpr int EFFECTS_HEIGHT = 720;

// ---- The show's time grid ------------------------------------------------------------
// The scenes count time in "statetime" units, EFFECTS_STATETIME_SCALE a tick
// (a tick is ~0.0621 s); the music has a beat every EFFECTS_BEAT_TICKS ticks
// and a bar every EFFECTS_BAR_TICKS, and states begin on bar lines. The
// shaders read the beat and the bar as BEAT and BAR, in statetime units.
constexpr float EFFECTS_STATETIME_SCALE = 0.06f;  // "statetime" per tick
constexpr int EFFECTS_BEAT_TICKS = 8;             // ticks per beat (a quarter note)
constexpr int EFFECTS_BAR_TICKS = 4 * EFFECTS_BEAT_TICKS;  // ticks per 4/4 bar

// The wrap modes of the image list.
enum : unsigned {
  REPEAT = 0,          // keeps the GL_REPEAT a texture is created with
  CLAMP_S = 1,         // clamp to border along S only
  CLAMP_ST = 2,        // clamp to border along S and T
  REPEAT_NEAREST = 3,  // GL_REPEAT, read at the nearest texel
};

// ---- Images, in load order -------------------------------------------------------------
// The flashes have no file numbered 2: the first two files are numbered one
// below their globals. bmp_none and bmp_credits6 are globals without a file.
#define SPROX_IMAGES(X) \
  /* Intro */ \
  X(bmp_introbg, "introbg.png", REPEAT) \
  X(bmp_intro1, "text_keldrun.png", REPEAT) \
  X(bmp_intro2, "text_serve.png", REPEAT) \
  X(bmp_intro3, "text_fizzing.png", REPEAT) \
  X(bmp_intro4, "text_haldex2023.png", REPEAT) \
  /* Title */ \
  X(bmp_titlebg, "titlebg.png", REPEAT) \
  X(bmp_title, "logo0a.png", CLAMP_ST) \
  X(bmp_title2, "logo0b.png", CLAMP_ST) \
  X(bmp_title3, "logo0c.png", CLAMP_ST) \
  X(bmp_twister, "twister.png", CLAMP_S) \
  X(bmp_wannasprox, "text_wannasprox.png", REPEAT) \
  X(bmp_sproxfever, "text_sproxfever.png", REPEAT) \
  X(bmp_orange, "text_orange.png", REPEAT) \
  X(bmp_girl, "sprox_girl1080.png", REPEAT) \
  /* Credits */ \
  X(bmp_credits1, "credit_pelnik.png", CLAMP_ST) \
  X(bmp_credits2, "credit_dravo.png", CLAMP_ST) \
  X(bmp_credits3, "credit_sune.png", CLAMP_ST) \
  X(bmp_credits4, "credit_quibbet.png", CLAMP_ST) \
  X(bmp_credits5, "credit_torvin2.png", CLAMP_ST) \
  X(bmp_creditlabel1, "credit_label1.png", REPEAT) \
  X(bmp_creditlabel2, "credit_label2.png", REPEAT) \
  /* Greetings */ \
  X(bmp_greetings1, "text_greetings1.png", REPEAT) \
  X(bmp_greetings2, "text_greetings2.png", REPEAT) \
  X(bmp_greetings3a, "text_greetings3a.png", REPEAT) \
  X(bmp_greetings3b, "text_greetings3b.png", REPEAT) \
  X(bmp_greetings3c, "text_greetings3c.png", REPEAT) \
  X(bmp_greetings3d, "text_greetings3d.png", REPEAT) \
  X(bmp_greetings4a, "text_greetings4a.png", REPEAT) \
  X(bmp_greetings4b, "text_greetings4b.png", REPEAT) \
  X(bmp_greetings5, "text_greetings5.png", REPEAT) \
  X(bmp_greetings6a, "text_greetings6a.png", REPEAT) \
  X(bmp_greetings6b, "text_greetings6b.png", REPEAT) \
  X(bmp_greetings6c, "text_greetings6c.png", REPEAT) \
  X(bmp_greetings6d, "text_greetings6d.png", REPEAT) \
  X(bmp_greetings6e, "text_greetings6e.png", REPEAT) \
  X(bmp_greetings7a, "text_greetings7a.png", REPEAT) \
  X(bmp_greetings7b, "text_greetings7b.png", REPEAT) \
  X(bmp_greetings7c, "text_greetings7c.png", REPEAT) \
  X(bmp_greetings8, "text_greetings8.png", REPEAT) \
  /* Backgrounds and overlays */ \
  X(bmp_ballsbg, "ballsbg.png", REPEAT) \
  X(bmp_blackbg, "blackbg.png", REPEAT) \
  X(bmp_bluebg, "bluebg.png", REPEAT) \
  X(bmp_nutrician, "nutrician.png", REPEAT) \
  X(bmp_cigburn, "cigburn.png", REPEAT) \
  X(bmp_sugaricon, "sugaricon2.png", REPEAT) \
  X(bmp_vintage, "vintage8.png", REPEAT_NEAREST) \
  X(bmp_vintage2, "vintage8b.png", REPEAT_NEAREST) \
  X(bmp_noise, "noise.png", REPEAT) \
  X(bmp_mono, "mono.png", REPEAT) \
  X(bmp_audience, "widescreen2.png", REPEAT) \
  X(bmp_closing, "text_closing.png", REPEAT) \
  X(bmp_closing2, "closing0.png", REPEAT) \
  X(bmp_grisp, "grisp.png", REPEAT) \
  X(bmp_damage, "damage.png", REPEAT) \
  /* Flashes: the first two files are numbered one below their globals. */ \
  X(bmp_flash1, "flash0.png", REPEAT) \
  X(bmp_flash2, "flash1.png", REPEAT) \
  X(bmp_flash3, "flash3.png", REPEAT) \
  X(bmp_flash4, "flash4.png", REPEAT) \
  X(bmp_flash5, "flash5.png", REPEAT) \
  X(bmp_flash6, "flash6.png", REPEAT) \
  /* Outro */ \
  X(bmp_dots, "text_dots.png", REPEAT) \
  X(bmp_own1, "text_own1.png", REPEAT) \
  X(bmp_own2, "text_own2.png", REPEAT) \
  X(bmp_own3, "text_own3.png", REPEAT) \
  X(bmp_outro1, "text_owndemoscene.png", REPEAT) \
  X(bmp_outro2, "text_owedemoscene.png", REPEAT) \
  X(bmp_outro3, "text_owedemoscene2.png", REPEAT)
// ---- Shaders, in load order ------------------------------------------------------------
#define SPROX_SHADERS(X) \
  X(shader_post, "post.glsl") \
  X(shader_fx_empty, "fx_empty.glsl") \
  X(shader_fx_intro, "fx_intro.glsl") \
  X(shader_fx_bubbles, "fx_bubbles2.glsl") \
  X(shader_fx_twister, "fx_twister.glsl") \
  X(shader_fx_patjes, "fx_heart.glsl") \
  X(shader_fx_credits, "fx_credits.glsl") \
  X(shader_fx_greetings, "fx_greetings2.glsl") \
  X(shader_fx_balls, "fx_balls.glsl") \
  X(shader_fx_straw, "fx_straw3.glsl") \
  X(shader_fx_fruits, "fx_fruits.glsl") \
  X(shader_fx_icecube, "fx_icecube.glsl") \
  X(shader_fx_break, "fx_break.glsl") \
  X(transition_dissolve, "transition_dissolve.glsl") \
  X(transition_sea, "transition_sea.glsl") \
  X(transition_bars, "transition_bars2.glsl") \
  X(transition_flash, "transition_flash.glsl")
// ---- Counts and name lists ---------------------------------------------------------------
namespace sprox_assets {
#define SPROX_ASSETS_COUNT(...) +1
constexpr int kImageCount = 0 SPROX_IMAGES(SPROX_ASSETS_COUNT);
constexpr int kShaderCount = 0 SPROX_SHADERS(SPROX_ASSETS_COUNT);
#undef SPROX_ASSETS_COUNT

#define SPROX_ASSETS_FILE(global, file, ...) file,
inline constexpr const char* kImageFiles[] = {SPROX_IMAGES(SPROX_ASSETS_FILE)};
inline constexpr const char* kShaderFiles[] = {SPROX_SHADERS(SPROX_ASSETS_FILE)};
#undef SPROX_ASSETS_FILE

// True when a and b hold the same text; usable in static_assert, so that a
// table kept beside this one (the image generator's painters) can be tied to
// it name by name at compile time.
constexpr bool same_name(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a == *b;
}
}  // namespace sprox_assets

constexpr int EFFECTS_NUM_IMAGES = sprox_assets::kImageCount;        // images LoadResources loads
constexpr int EFFECTS_NUM_SHADER_FILES = sprox_assets::kShaderCount;  // shaders LoadShaders loads
static_assert(EFFECTS_NUM_IMAGES == 67, "the show loads 67 images");
static_assert(EFFECTS_NUM_SHADER_FILES == 17, "the show loads 17 shaders");
