// effects/assets.cpp: the show's fixed assets. Every image lives in its own
// global s_bitmap and every shader in its own global id; the two tables below
// say which file goes into which global, in load order. Nothing is looked up
// by name at run time and nothing is loaded after start-up.
//
// Nine images are drawn with clamp-to-border wrapping (transparent black
// outside 0..1): the three title logos and the five credit portraits in both
// directions, the twister strip along S only (it repeats along T).
//
// Threads: main thread only, once at start-up, with the GL context current.
#include "effects/effects.h"

#include "gfx/gl.h"

// ---- Globals --------------------------------------------------------------------------
s_bitmap bmp_none, bmp_credits6;
s_bitmap bmp_introbg, bmp_intro1, bmp_intro2, bmp_intro3, bmp_intro4;
s_bitmap bmp_titlebg, bmp_title, bmp_title2, bmp_title3;
s_bitmap bmp_twister;
s_bitmap bmp_wannasprox, bmp_sproxfever, bmp_orange, bmp_girl;
s_bitmap bmp_credits1, bmp_credits2, bmp_credits3, bmp_credits4, bmp_credits5;
s_bitmap bmp_creditlabel1, bmp_creditlabel2;
s_bitmap bmp_greetings1, bmp_greetings2, bmp_greetings3a, bmp_greetings3b, bmp_greetings3c, bmp_greetings3d,
    bmp_greetings4a, bmp_greetings4b, bmp_greetings5, bmp_greetings6a, bmp_greetings6b, bmp_greetings6c,
    bmp_greetings6d, bmp_greetings6e, bmp_greetings7a, bmp_greetings7b, bmp_greetings7c, bmp_greetings8;
s_bitmap bmp_ballsbg, bmp_blackbg, bmp_bluebg, bmp_nutrician, bmp_cigburn, bmp_sugaricon, bmp_vintage,
    bmp_vintage2, bmp_noise, bmp_mono, bmp_audience, bmp_closing, bmp_closing2, bmp_grisp, bmp_damage;
s_bitmap bmp_flash1, bmp_flash2, bmp_flash3, bmp_flash4, bmp_flash5, bmp_flash6;
s_bitmap bmp_dots, bmp_own1, bmp_own2, bmp_own3, bmp_outro1, bmp_outro2, bmp_outro3;

int32_t shader_post;
int32_t shader_fx_empty, shader_fx_intro, shader_fx_bubbles, shader_fx_twister, shader_fx_patjes,
    shader_fx_credits, shader_fx_greetings, shader_fx_balls, shader_fx_straw, shader_fx_fruits,
    shader_fx_icecube, shader_fx_break;
int32_t transition_dissolve, transition_sea, transition_bars, transition_flash;

// ---- Types and tables --------------------------------------------------------------------
namespace {

enum : unsigned {
  kWrapRepeat = 0,    // keeps the GL_REPEAT it was created with
  kClampS = 1,        // clamp to border along S only
  kClampST = 2,       // clamp to border along S and T
};

struct s_imageasset {
  const char* file;  // name in the resource image
  s_bitmap* bitmap;  // the global it is loaded into
  unsigned wrap;     // kWrapRepeat, kClampS or kClampST
};

struct s_shaderasset {
  const char* file;  // name in the resource image
  int32_t* id;       // the global that receives its shader id
};

const s_imageasset kImages[EFFECTS_NUM_IMAGES] = {
    // Intro
    {"introbg.png", &bmp_introbg, kWrapRepeat},
    {"text_keldrun.png", &bmp_intro1, kWrapRepeat},
    {"text_serve.png", &bmp_intro2, kWrapRepeat},
    {"text_fizzing.png", &bmp_intro3, kWrapRepeat},
    {"text_haldex2023.png", &bmp_intro4, kWrapRepeat},
    // Title
    {"titlebg.png", &bmp_titlebg, kWrapRepeat},
    {"logo0a.png", &bmp_title, kClampST},
    {"logo0b.png", &bmp_title2, kClampST},
    {"logo0c.png", &bmp_title3, kClampST},
    {"twister.png", &bmp_twister, kClampS},
    {"text_wannasprox.png", &bmp_wannasprox, kWrapRepeat},
    {"text_sproxfever.png", &bmp_sproxfever, kWrapRepeat},
    {"text_orange.png", &bmp_orange, kWrapRepeat},
    {"sprox_girl1080.png", &bmp_girl, kWrapRepeat},
    // Credits
    {"credit_pelnik.png", &bmp_credits1, kClampST},
    {"credit_dravo.png", &bmp_credits2, kClampST},
    {"credit_sune.png", &bmp_credits3, kClampST},
    {"credit_quibbet.png", &bmp_credits4, kClampST},
    {"credit_torvin2.png", &bmp_credits5, kClampST},
    {"credit_label1.png", &bmp_creditlabel1, kWrapRepeat},
    {"credit_label2.png", &bmp_creditlabel2, kWrapRepeat},
    // Greetings
    {"text_greetings1.png", &bmp_greetings1, kWrapRepeat},
    {"text_greetings2.png", &bmp_greetings2, kWrapRepeat},
    {"text_greetings3a.png", &bmp_greetings3a, kWrapRepeat},
    {"text_greetings3b.png", &bmp_greetings3b, kWrapRepeat},
    {"text_greetings3c.png", &bmp_greetings3c, kWrapRepeat},
    {"text_greetings3d.png", &bmp_greetings3d, kWrapRepeat},
    {"text_greetings4a.png", &bmp_greetings4a, kWrapRepeat},
    {"text_greetings4b.png", &bmp_greetings4b, kWrapRepeat},
    {"text_greetings5.png", &bmp_greetings5, kWrapRepeat},
    {"text_greetings6a.png", &bmp_greetings6a, kWrapRepeat},
    {"text_greetings6b.png", &bmp_greetings6b, kWrapRepeat},
    {"text_greetings6c.png", &bmp_greetings6c, kWrapRepeat},
    {"text_greetings6d.png", &bmp_greetings6d, kWrapRepeat},
    {"text_greetings6e.png", &bmp_greetings6e, kWrapRepeat},
    {"text_greetings7a.png", &bmp_greetings7a, kWrapRepeat},
    {"text_greetings7b.png", &bmp_greetings7b, kWrapRepeat},
    {"text_greetings7c.png", &bmp_greetings7c, kWrapRepeat},
    {"text_greetings8.png", &bmp_greetings8, kWrapRepeat},
    // Backgrounds and overlays
    {"ballsbg.png", &bmp_ballsbg, kWrapRepeat},
    {"blackbg.png", &bmp_blackbg, kWrapRepeat},
    {"bluebg.png", &bmp_bluebg, kWrapRepeat},
    {"nutrician.png", &bmp_nutrician, kWrapRepeat},
    {"cigburn.png", &bmp_cigburn, kWrapRepeat},
    {"sugaricon2.png", &bmp_sugaricon, kWrapRepeat},
    {"vintage8.png", &bmp_vintage, kWrapRepeat},
    {"vintage8b.png", &bmp_vintage2, kWrapRepeat},
    {"noise.png", &bmp_noise, kWrapRepeat},
    {"mono.png", &bmp_mono, kWrapRepeat},
    {"widescreen2.png", &bmp_audience, kWrapRepeat},
    {"text_closing.png", &bmp_closing, kWrapRepeat},
    {"closing0.png", &bmp_closing2, kWrapRepeat},
    {"grisp.png", &bmp_grisp, kWrapRepeat},
    {"damage.png", &bmp_damage, kWrapRepeat},
    // Flashes: the first two files are numbered one below their globals.
    {"flash0.png", &bmp_flash1, kWrapRepeat},
    {"flash1.png", &bmp_flash2, kWrapRepeat},
    {"flash3.png", &bmp_flash3, kWrapRepeat},
    {"flash4.png", &bmp_flash4, kWrapRepeat},
    {"flash5.png", &bmp_flash5, kWrapRepeat},
    {"flash6.png", &bmp_flash6, kWrapRepeat},
    // Outro
    {"text_dots.png", &bmp_dots, kWrapRepeat},
    {"text_own1.png", &bmp_own1, kWrapRepeat},
    {"text_own2.png", &bmp_own2, kWrapRepeat},
    {"text_own3.png", &bmp_own3, kWrapRepeat},
    {"text_owndemoscene.png", &bmp_outro1, kWrapRepeat},
    {"text_owedemoscene.png", &bmp_outro2, kWrapRepeat},
    {"text_owedemoscene2.png", &bmp_outro3, kWrapRepeat},
};

const s_shaderasset kShaders[EFFECTS_NUM_SHADER_FILES] = {
    {"post.glsl", &shader_post},
    {"fx_empty.glsl", &shader_fx_empty},
    {"fx_intro.glsl", &shader_fx_intro},
    {"fx_bubbles2.glsl", &shader_fx_bubbles},
    {"fx_twister.glsl", &shader_fx_twister},
    {"fx_heart.glsl", &shader_fx_patjes},
    {"fx_credits.glsl", &shader_fx_credits},
    {"fx_greetings2.glsl", &shader_fx_greetings},
    {"fx_balls.glsl", &shader_fx_balls},
    {"fx_straw3.glsl", &shader_fx_straw},
    {"fx_fruits.glsl", &shader_fx_fruits},
    {"fx_icecube.glsl", &shader_fx_icecube},
    {"fx_break.glsl", &shader_fx_break},
    {"transition_dissolve.glsl", &transition_dissolve},
    {"transition_sea.glsl", &transition_sea},
    {"transition_bars2.glsl", &transition_bars},
    {"transition_flash.glsl", &transition_flash},
};

}  // namespace

// ---- Public functions ------------------------------------------------------------------------
void LoadResources() {
  for (const s_imageasset& asset : kImages) {
    LoadBitmapPNG(asset.file, asset.bitmap);
    // The load leaves the new texture bound on the active unit. After a failed
    // load nothing new is bound, and the wrap would land on some other
    // image's texture, so it is only set on a texture this load made.
    if (asset.wrap == kWrapRepeat || asset.bitmap->textureid == 0) continue;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_BORDER);
    if (asset.wrap == kClampST) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_BORDER);
  }
}

void LoadShaders() {
  for (const s_shaderasset& asset : kShaders) *asset.id = LoadShader(asset.file);
}
