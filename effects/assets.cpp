// effects/assets.cpp: the show's fixed assets. Every image lives in its own
// global s_bitmap and every shader in its own global id; the two tables below,
// built from the lists in effects/assets.h, say which file goes into which
// global, in load order. Nothing is looked up
// by name at run time and nothing is loaded after start-up.
//
// Nine images are drawn with clamp-to-border wrapping (transparent black
// outside 0..1): the three title logos and the five credit portraits in both
// directions, the twister strip along S only (it repeats along T).
//
// The images are read in list order and decoded on the graphics layer's
// worker threads (StartBitmapsPNG), from ReadResources on when the caller
// starts them early; their textures, wrap modes and lines still come in
// list order, at LoadResources.
//
// Threads: main thread only, once at start-up, with the GL context current.
#include "effects/effects.h"

#include "gfx/gl.h"

// ---- Globals --------------------------------------------------------------------------
s_bitmap bmp_none, bmp_credits6;
#define ASSETS_DEFINE_IMAGE(global, file, wrap) s_bitmap global;
SPROX_IMAGES(ASSETS_DEFINE_IMAGE)
#undef ASSETS_DEFINE_IMAGE
#define ASSETS_DEFINE_SHADER(global, file) int32_t global;
SPROX_SHADERS(ASSETS_DEFINE_SHADER)
#undef ASSETS_DEFINE_SHADER

// ---- Types and tables --------------------------------------------------------------------
namespace {

struct s_imageasset {
  const char* file;  // name in the resource image
  s_bitmap* bitmap;  // the global it is loaded into
  unsigned wrap;     // REPEAT, CLAMP_S, CLAMP_ST or REPEAT_NEAREST
};

struct s_shaderasset {
  const char* file;  // name in the resource image
  int32_t* id;       // the global that receives its shader id
};

#define ASSETS_IMAGE_ROW(global, file, wrap) {file, &global, wrap},
const s_imageasset kImages[] = {SPROX_IMAGES(ASSETS_IMAGE_ROW)};
#undef ASSETS_IMAGE_ROW
#define ASSETS_SHADER_ROW(global, file) {file, &global},
const s_shaderasset kShaders[] = {SPROX_SHADERS(ASSETS_SHADER_ROW)};
#undef ASSETS_SHADER_ROW
static_assert(sizeof(kImages) / sizeof(kImages[0]) == EFFECTS_NUM_IMAGES);
static_assert(sizeof(kShaders) / sizeof(kShaders[0]) == EFFECTS_NUM_SHADER_FILES);

// The images being read and decoded between ReadResources and LoadResources.
s_pngbatch* reading = nullptr;

// Right after image `index` is loaded: its wrap mode. The load leaves the
// new texture bound on the active unit. After a failed load nothing new is
// bound, and the wrap would land on some other image's texture, so it is
// only set on a texture this load made.
void SetWrap(int index) {
  const s_imageasset& asset = kImages[index];
  if (asset.bitmap->textureid != 0) SetImageWrap(*asset.bitmap, asset.wrap);
}

}  // namespace

// ---- Public functions ------------------------------------------------------------------------
void SetImageWrap(const s_bitmap& bitmap, unsigned wrap) {
  if (wrap == REPEAT) return;
  if (wrap == REPEAT_NEAREST) {
    // The film's dust is laid over every frame at about one texel a pixel,
    // where a filtered read looks the same and costs a software renderer
    // about twice as much.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    return;
  }
#ifdef __EMSCRIPTEN__
  GFX_WebClampToBorder(bitmap, wrap == CLAMP_ST);  // WebGL has no border colour
  return;
#else
  (void)bitmap;
#endif
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_BORDER);
  if (wrap == CLAMP_ST) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_BORDER);
}

void ReadResources() {
  if (reading) return;
  const char* files[EFFECTS_NUM_IMAGES];
  for (int k = 0; k < EFFECTS_NUM_IMAGES; k++) files[k] = kImages[k].file;
  reading = StartBitmapsPNG(files, EFFECTS_NUM_IMAGES);
}

void LoadResources() {
  ReadResources();
  s_bitmap* bitmaps[EFFECTS_NUM_IMAGES];
  for (int k = 0; k < EFFECTS_NUM_IMAGES; k++) bitmaps[k] = kImages[k].bitmap;
  FinishBitmapsPNG(reading, bitmaps, SetWrap);
  reading = nullptr;
}

void DropResources() {
  DropBitmapsPNG(reading);
  reading = nullptr;
}

void LoadShaders() {
  for (const s_shaderasset& asset : kShaders) *asset.id = LoadShader(asset.file);
}
