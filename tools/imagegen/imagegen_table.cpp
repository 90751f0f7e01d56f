// imagegen_table: the asset table, and painting one recipe into a file.
//
// The table lists all 67 images in the order the show loads them, each file
// name of the show's own list (effects/assets.h) with the function that
// paints it.
//
// Threads: ig_make runs on any worker thread; the table is constant.
#include "imagegen.h"

#include "effects/assets.h"

#include <lodepng.h>

#include <cstdio>
#include <string>

namespace {

// ---- Globals --------------------------------------------------------------------

// Which painter draws each image, by the global the show loads it into. Cards
// of one kind share a painter and pass their index.
using ig_painter = void (*)(ig_image* out, ig_png_options* png);
constexpr ig_painter paint_bmp_introbg = ig_paint_introbg;
constexpr ig_painter paint_bmp_intro1 = ig_paint_intro_keldrun;
constexpr ig_painter paint_bmp_intro2 = ig_paint_intro_serve;
constexpr ig_painter paint_bmp_intro3 = ig_paint_intro_fizzing;
constexpr ig_painter paint_bmp_intro4 = ig_paint_intro_haldex;
constexpr ig_painter paint_bmp_titlebg = ig_paint_titlebg;
constexpr ig_painter paint_bmp_title = ig_paint_logo_back;
constexpr ig_painter paint_bmp_title2 = ig_paint_logo_word;
constexpr ig_painter paint_bmp_title3 = ig_paint_logo_shine;
constexpr ig_painter paint_bmp_twister = ig_paint_twister;
constexpr ig_painter paint_bmp_wannasprox = ig_paint_wannasprox;
constexpr ig_painter paint_bmp_sproxfever = ig_paint_sproxfever;
constexpr ig_painter paint_bmp_orange = ig_paint_orange;
constexpr ig_painter paint_bmp_girl = ig_paint_girl;
constexpr ig_painter paint_bmp_credits1 = [](ig_image* o, ig_png_options* p) { ig_paint_credit_name(0, o, p); };
constexpr ig_painter paint_bmp_credits2 = [](ig_image* o, ig_png_options* p) { ig_paint_credit_name(1, o, p); };
constexpr ig_painter paint_bmp_credits3 = [](ig_image* o, ig_png_options* p) { ig_paint_credit_name(2, o, p); };
constexpr ig_painter paint_bmp_credits4 = [](ig_image* o, ig_png_options* p) { ig_paint_credit_name(3, o, p); };
constexpr ig_painter paint_bmp_credits5 = [](ig_image* o, ig_png_options* p) { ig_paint_credit_name(4, o, p); };
constexpr ig_painter paint_bmp_creditlabel1 = [](ig_image* o, ig_png_options* p) { ig_paint_credit_label(0, o, p); };
constexpr ig_painter paint_bmp_creditlabel2 = [](ig_image* o, ig_png_options* p) { ig_paint_credit_label(1, o, p); };
constexpr ig_painter paint_bmp_greetings1 = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(0, o, p); };
constexpr ig_painter paint_bmp_greetings2 = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(1, o, p); };
constexpr ig_painter paint_bmp_greetings3a = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(2, o, p); };
constexpr ig_painter paint_bmp_greetings3b = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(3, o, p); };
constexpr ig_painter paint_bmp_greetings3c = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(4, o, p); };
constexpr ig_painter paint_bmp_greetings3d = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(5, o, p); };
constexpr ig_painter paint_bmp_greetings4a = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(6, o, p); };
constexpr ig_painter paint_bmp_greetings4b = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(7, o, p); };
constexpr ig_painter paint_bmp_greetings5 = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(8, o, p); };
constexpr ig_painter paint_bmp_greetings6a = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(9, o, p); };
constexpr ig_painter paint_bmp_greetings6b = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(10, o, p); };
constexpr ig_painter paint_bmp_greetings6c = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(11, o, p); };
constexpr ig_painter paint_bmp_greetings6d = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(12, o, p); };
constexpr ig_painter paint_bmp_greetings6e = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(13, o, p); };
constexpr ig_painter paint_bmp_greetings7a = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(14, o, p); };
constexpr ig_painter paint_bmp_greetings7b = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(15, o, p); };
constexpr ig_painter paint_bmp_greetings7c = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(16, o, p); };
constexpr ig_painter paint_bmp_greetings8 = [](ig_image* o, ig_png_options* p) { ig_paint_greeting(17, o, p); };
constexpr ig_painter paint_bmp_ballsbg = ig_paint_ballsbg;
constexpr ig_painter paint_bmp_blackbg = ig_paint_blackbg;
constexpr ig_painter paint_bmp_bluebg = ig_paint_bluebg;
constexpr ig_painter paint_bmp_nutrician = ig_paint_nutrition;
constexpr ig_painter paint_bmp_cigburn = ig_paint_cigburn;
constexpr ig_painter paint_bmp_sugaricon = ig_paint_sugaricon;
constexpr ig_painter paint_bmp_vintage = ig_paint_vintage;
constexpr ig_painter paint_bmp_vintage2 = ig_paint_vintage_b;
constexpr ig_painter paint_bmp_noise = ig_paint_noise;
constexpr ig_painter paint_bmp_mono = ig_paint_mono;
constexpr ig_painter paint_bmp_audience = ig_paint_audience;
constexpr ig_painter paint_bmp_closing = ig_paint_closing_text;
constexpr ig_painter paint_bmp_closing2 = ig_paint_closing_badge;
constexpr ig_painter paint_bmp_grisp = ig_paint_grisp;
constexpr ig_painter paint_bmp_damage = ig_paint_damage;
constexpr ig_painter paint_bmp_flash1 = ig_paint_flash_burst;
constexpr ig_painter paint_bmp_flash2 = ig_paint_flash_checker;
constexpr ig_painter paint_bmp_flash3 = ig_paint_flash_strobe;
constexpr ig_painter paint_bmp_flash4 = ig_paint_flash_word;
constexpr ig_painter paint_bmp_flash5 = ig_paint_flash_rings;
constexpr ig_painter paint_bmp_flash6 = ig_paint_flash_pop;
constexpr ig_painter paint_bmp_dots = ig_paint_dots;
constexpr ig_painter paint_bmp_own1 = [](ig_image* o, ig_png_options* p) { ig_paint_outro(0, o, p); };
constexpr ig_painter paint_bmp_own2 = [](ig_image* o, ig_png_options* p) { ig_paint_outro(1, o, p); };
constexpr ig_painter paint_bmp_own3 = [](ig_image* o, ig_png_options* p) { ig_paint_outro(2, o, p); };
constexpr ig_painter paint_bmp_outro1 = [](ig_image* o, ig_png_options* p) { ig_paint_outro(3, o, p); };
constexpr ig_painter paint_bmp_outro2 = [](ig_image* o, ig_png_options* p) { ig_paint_outro(4, o, p); };
constexpr ig_painter paint_bmp_outro3 = [](ig_image* o, ig_png_options* p) { ig_paint_outro(5, o, p); };

// The recipes, in the order the show loads the images, with the file names of
// the show's own list: an image without a painter above fails to compile.
#define IG_RECIPE_ROW(global, file, wrap) {file, paint_##global},
const ig_recipe kRecipes[] = {SPROX_IMAGES(IG_RECIPE_ROW)};
#undef IG_RECIPE_ROW

constexpr int kRecipeCount = int(sizeof(kRecipes) / sizeof(kRecipes[0]));
static_assert(kRecipeCount == EFFECTS_NUM_IMAGES, "one recipe for every image the show loads");

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
