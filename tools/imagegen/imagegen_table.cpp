// imagegen_table: the asset table, and painting one recipe into a file.
//
// The table lists all 67 images in the order the show loads them, each file
// name (lower case, as the show opens it) with the function that paints it.
//
// Threads: ig_make runs on any worker thread; the table is constant.
#include "imagegen.h"

#include <lodepng.h>

#include <cstdio>
#include <string>

namespace {

// ---- Globals --------------------------------------------------------------------

// The asset table, in the order the show loads the images. Cards of one kind
// share a painter and pass their index.
const ig_recipe kRecipes[] = {
    // Intro
    {"introbg.png", ig_paint_introbg},
    {"text_keldrun.png", ig_paint_intro_keldrun},
    {"text_serve.png", ig_paint_intro_serve},
    {"text_fizzing.png", ig_paint_intro_fizzing},
    {"text_haldex2023.png", ig_paint_intro_haldex},
    // Title
    {"titlebg.png", ig_paint_titlebg},
    {"logo0a.png", ig_paint_logo_back},
    {"logo0b.png", ig_paint_logo_word},
    {"logo0c.png", ig_paint_logo_shine},
    // Twister, phrases and the girl
    {"twister.png", ig_paint_twister},
    {"text_wannasprox.png", ig_paint_wannasprox},
    {"text_sproxfever.png", ig_paint_sproxfever},
    {"text_orange.png", ig_paint_orange},
    {"sprox_girl1080.png", ig_paint_girl},
    // Credits
    {"credit_pelnik.png", [](ig_image* o, ig_png_options* p) { ig_paint_credit_name(0, o, p); }},
    {"credit_dravo.png", [](ig_image* o, ig_png_options* p) { ig_paint_credit_name(1, o, p); }},
    {"credit_sune.png", [](ig_image* o, ig_png_options* p) { ig_paint_credit_name(2, o, p); }},
    {"credit_quibbet.png", [](ig_image* o, ig_png_options* p) { ig_paint_credit_name(3, o, p); }},
    {"credit_torvin2.png", [](ig_image* o, ig_png_options* p) { ig_paint_credit_name(4, o, p); }},
    {"credit_label1.png", [](ig_image* o, ig_png_options* p) { ig_paint_credit_label(0, o, p); }},
    {"credit_label2.png", [](ig_image* o, ig_png_options* p) { ig_paint_credit_label(1, o, p); }},
    // Greetings
    {"text_greetings1.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(0, o, p); }},
    {"text_greetings2.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(1, o, p); }},
    {"text_greetings3a.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(2, o, p); }},
    {"text_greetings3b.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(3, o, p); }},
    {"text_greetings3c.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(4, o, p); }},
    {"text_greetings3d.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(5, o, p); }},
    {"text_greetings4a.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(6, o, p); }},
    {"text_greetings4b.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(7, o, p); }},
    {"text_greetings5.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(8, o, p); }},
    {"text_greetings6a.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(9, o, p); }},
    {"text_greetings6b.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(10, o, p); }},
    {"text_greetings6c.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(11, o, p); }},
    {"text_greetings6d.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(12, o, p); }},
    {"text_greetings6e.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(13, o, p); }},
    {"text_greetings7a.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(14, o, p); }},
    {"text_greetings7b.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(15, o, p); }},
    {"text_greetings7c.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(16, o, p); }},
    {"text_greetings8.png", [](ig_image* o, ig_png_options* p) { ig_paint_greeting(17, o, p); }},
    // Backgrounds and overlays
    {"ballsbg.png", ig_paint_ballsbg},
    {"blackbg.png", ig_paint_blackbg},
    {"bluebg.png", ig_paint_bluebg},
    {"nutrician.png", ig_paint_nutrition},
    {"cigburn.png", ig_paint_cigburn},
    {"sugaricon2.png", ig_paint_sugaricon},
    {"vintage8.png", ig_paint_vintage},
    {"vintage8b.png", ig_paint_vintage_b},
    {"noise.png", ig_paint_noise},
    {"mono.png", ig_paint_mono},
    {"widescreen2.png", ig_paint_audience},
    {"text_closing.png", ig_paint_closing_text},
    {"closing0.png", ig_paint_closing_badge},
    {"grisp.png", ig_paint_grisp},
    {"damage.png", ig_paint_damage},
    // Flashes (no file numbered 2)
    {"flash0.png", ig_paint_flash_burst},
    {"flash1.png", ig_paint_flash_checker},
    {"flash3.png", ig_paint_flash_strobe},
    {"flash4.png", ig_paint_flash_word},
    {"flash5.png", ig_paint_flash_rings},
    {"flash6.png", ig_paint_flash_pop},
    // Outro
    {"text_dots.png", ig_paint_dots},
    {"text_own1.png", [](ig_image* o, ig_png_options* p) { ig_paint_outro(0, o, p); }},
    {"text_own2.png", [](ig_image* o, ig_png_options* p) { ig_paint_outro(1, o, p); }},
    {"text_own3.png", [](ig_image* o, ig_png_options* p) { ig_paint_outro(2, o, p); }},
    {"text_owndemoscene.png", [](ig_image* o, ig_png_options* p) { ig_paint_outro(3, o, p); }},
    {"text_owedemoscene.png", [](ig_image* o, ig_png_options* p) { ig_paint_outro(4, o, p); }},
    {"text_owedemoscene2.png", [](ig_image* o, ig_png_options* p) { ig_paint_outro(5, o, p); }},
};

constexpr int kRecipeCount = int(sizeof(kRecipes) / sizeof(kRecipes[0]));

}  // namespace

// ---- Public functions -----------------------------------------------------------

int ig_recipe_count() { return kRecipeCount; }

const ig_recipe* ig_recipe_at(int index) {
  return index >= 0 && index < kRecipeCount ? &kRecipes[index] : nullptr;
}

bool ig_make(const ig_recipe* recipe, const char* dir, size_t* bytes) {
  ig_image img;
  ig_png_options opt;
  recipe->paint(&img, &opt);
  if (img.width <= 0 || img.height <= 0) {
    std::fprintf(stderr, "imagegen: %s painted nothing\n", recipe->file);
    return false;
  }
  const std::vector<unsigned char> rgba = ig_to_rgba8(&img, &opt);
  std::vector<unsigned char> png;
  const unsigned err = ig_png_encode(rgba, img.width, img.height, &png);
  if (err) {
    std::fprintf(stderr, "imagegen: %s: %s\n", recipe->file, lodepng_error_text(err));
    return false;
  }
  const std::string path = std::string(dir) + "/" + recipe->file;
  if (!ig_write_file(path.c_str(), png)) return false;
  *bytes += png.size();
  return true;
}
