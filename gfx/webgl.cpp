// gfx/webgl.cpp: what the graphics layer does differently in a browser
// (WebGL 1 through emscripten's GL emulation); the desktop build compiles
// none of it.
//
// - Textures: WebGL 1 takes only the same internal format as the pixels'
//   (GL_RGBA, not the component count 4), samples a texture whose sides are
//   not powers of two only when it is clamped to its edges (else black), and
//   has no clamping to a border colour. Images of such sizes are clamped to
//   their edges (they cover the picture and are read inside 0..1); an image
//   that the show clamps to a transparent black border gets a transparent
//   black outermost row of texels on each clamped side and is clamped to
//   that edge, which reads as the border does outside 0..1.
// - Shaders: the GL emulation puts its own declarations in front of the
//   vertex shader (its matrices and attributes for ftransform()), so the
//   vertex text goes without its version line and is GLSL ES 1.00 by
//   default; the fragment texts get the ES version and precision lines
//   (ShaderHead_ES).
//
// Threads: main thread only, with the GL context current.
#ifdef __EMSCRIPTEN__

#include <string>
#include <vector>

#include "gfx/gfx.h"
#include "gfx/gfx_internal.h"
#include "gfx/shadertext.h"

// ---- Internal functions --------------------------------------------------------------
namespace {

bool PowerOfTwo(int n) { return n > 0 && (n & (n - 1)) == 0; }

}  // namespace

// ---- Module functions ----------------------------------------------------------------
void gfx_webupload(const s_bitmap& bitmap) {
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, bitmap.width, bitmap.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, bitmap.pixels);
  if (!PowerOfTwo(bitmap.width) || !PowerOfTwo(bitmap.height)) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  }
}

std::string gfx_webshadertext(const char* source, bool fragment) {
  const std::string text = source;
  if (fragment) return ShaderHead_ES(text);
  if (!ShaderHead_BeginsWithVersion(text)) return text;
  const size_t end = text.find('\n', text.find('#'));
  return end == std::string::npos ? std::string() : text.substr(end + 1);
}

// ---- Public functions ----------------------------------------------------------------
void GFX_WebClampToBorder(const s_bitmap& bitmap, bool both) {
  const int w = bitmap.width, h = bitmap.height;
  if (w <= 0 || h <= 0) return;
  const std::vector<uint32_t> clear(static_cast<size_t>(w > h ? w : h), 0u);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 1, h, GL_RGBA, GL_UNSIGNED_BYTE, clear.data());
  glTexSubImage2D(GL_TEXTURE_2D, 0, w - 1, 0, 1, h, GL_RGBA, GL_UNSIGNED_BYTE, clear.data());
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  if (!both) return;
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, 1, GL_RGBA, GL_UNSIGNED_BYTE, clear.data());
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, h - 1, w, 1, GL_RGBA, GL_UNSIGNED_BYTE, clear.data());
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

#endif  // __EMSCRIPTEN__
