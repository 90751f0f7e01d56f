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
template <void (*Paint)(int, ig_image*, ig_png_options*), int Index>
void card(ig_image* out, ig_png_options* png) {
  Paint(Index, out, png);
}
template <int I> constexpr ig_painter credit = card<ig_paint_credit_name, I>;
template <int I> constexpr ig_painter label = card<ig_paint_credit_label, I>;
template <int I> constexpr ig_painter greeting = card<ig_paint_greeting, I>;
template <int I> constexpr ig_painter outro = card<ig_paint_outro, I>;

// Intro
constexpr ig_painter paint_bmp_introbg = ig_paint_introbg;
constexpr ig_painter paint_bmp_intro1 = ig_paint_intro_keldrun;
constexpr ig_painter paint_bmp_intro2 = ig_paint_intro_serve;
constexpr ig_painter paint_bmp_intro3 = ig_paint_intro_fizzing;
constexpr ig_painter paint_bmp_intro4 = ig_paint_intro_haldex;
// Title
constexpr ig_painter paint_bmp_titlebg = ig_paint_titlebg;
constexpr ig_painter paint_bmp_title = ig_paint_logo_back;
constexpr ig_painter paint_bmp_title2 = ig_paint_logo_word;
constexpr ig_painter paint_bmp_title3 = ig_paint_logo_shine;
constexpr ig_painter paint_bmp_twister = ig_paint_twister;
constexpr ig_painter paint_bmp_wannasprox = ig_paint_wannasprox;
constexpr ig_painter paint_bmp_sproxfever = ig_paint_sproxfever;
constexpr ig_painter paint_bmp_orange = ig_paint_orange;
constexpr ig_painter paint_bmp_girl = ig_paint_girl;
// Credits
constexpr ig_painter paint_bmp_credits1 = credit<0>;
constexpr ig_painter paint_bmp_credits2 = credit<1>;
constexpr ig_painter paint_bmp_credits3 = credit<2>;
constexpr ig_painter paint_bmp_credits4 = credit<3>;
constexpr ig_painter paint_bmp_credits5 = credit<4>;
constexpr ig_painter paint_bmp_creditlabel1 = label<0>;
constexpr ig_painter paint_bmp_creditlabel2 = label<1>;
// Greetings
constexpr ig_painter paint_bmp_greetings1 = greeting<0>;
constexpr ig_painter paint_bmp_greetings2 = greeting<1>;
constexpr ig_painter paint_bmp_greetings3a = greeting<2>;
constexpr ig_painter paint_bmp_greetings3b = greeting<3>;
constexpr ig_painter paint_bmp_greetings3c = greeting<4>;
constexpr ig_painter paint_bmp_greetings3d = greeting<5>;
constexpr ig_painter paint_bmp_greetings4a = greeting<6>;
constexpr ig_painter paint_bmp_greetings4b = greeting<7>;
constexpr ig_painter paint_bmp_greetings5 = greeting<8>;
constexpr ig_painter paint_bmp_greetings6a = greeting<9>;
constexpr ig_painter paint_bmp_greetings6b = greeting<10>;
constexpr ig_painter paint_bmp_greetings6c = greeting<11>;
constexpr ig_painter paint_bmp_greetings6d = greeting<12>;
constexpr ig_painter paint_bmp_greetings6e = greeting<13>;
constexpr ig_painter paint_bmp_greetings7a = greeting<14>;
constexpr ig_painter paint_bmp_greetings7b = greeting<15>;
constexpr ig_painter paint_bmp_greetings7c = greeting<16>;
constexpr ig_painter paint_bmp_greetings8 = greeting<17>;
// Backgrounds and overlays
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
// Flashes: the first two files are numbered one below their globals.
constexpr ig_painter paint_bmp_flash1 = ig_paint_flash_burst;
constexpr ig_painter paint_bmp_flash2 = ig_paint_flash_checker;
constexpr ig_painter paint_bmp_flash3 = ig_paint_flash_strobe;
constexpr ig_painter paint_bmp_flash4 = ig_paint_flash_word;
constexpr ig_painter paint_bmp_flash5 = ig_paint_flash_rings;
constexpr ig_painter paint_bmp_flash6 = ig_paint_flash_pop;
// Outro
constexpr ig_painter paint_bmp_dots = ig_paint_dots;
constexpr ig_painter paint_bmp_own1 = outro<0>;
constexpr ig_painter paint_bmp_own2 = outro<1>;
constexpr ig_painter paint_bmp_own3 = outro<2>;
constexpr ig_painter paint_bmp_outro1 = outro<3>;
constexpr ig_painter paint_bmp_outro2 = outro<4>;
constexpr ig_painter paint_bmp_outro3 = outro<5>;

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
