// gfx/gfx_internal.h: what the graphics layer's source files share and no
// other module sees: the lines it prints beyond the loaders' and the GL
// checks' fixed texts, each tagged with the module's name, and the texture
// set-up common to bitmaps and framebuffers.
//
// Threads: main thread only, with the GL context current.
#pragma once

#include "gfx/gl.h"

// ---- Messages -------------------------------------------------------------------
constexpr const char* GFX_MSG_BITMAP_REFUSED = "gfx: bitmap of %d x %d pixels refused: too large\n";
constexpr const char* GFX_MSG_BITMAPS_FULL = "gfx: bitmap list full (%d entries), texture %d not listed\n";
constexpr const char* GFX_MSG_FRAMEBUFFERS_FULL = "gfx: framebuffer table full (%d entries)\n";
// Continues "pngbuffer loaded: NAME, SIZE" (the loader's failure line) with
// why the picture was refused: width, height, the largest side taken.
constexpr const char* GFX_MSG_PNG_OVERSIZED =
    "Error loading image: %u x %u pixels, larger than the %d pixels a side a texture takes here\n";
constexpr const char* GFX_MSG_SHADERS_FULL = "gfx: shader table full (%d programs)\n";

// ---- Textures -------------------------------------------------------------------
// Textures made while GFX_deferuploads was on that still wait for their
// pixels (gfx/bitmap.cpp), and the upload of `texture` when it is one of
// them, into the texture bound on the active unit (which must be it).
extern int gfx_pendinguploads;
void gfx_uploadifpending(GLuint texture);

// A new 2D texture, bound on the active unit, filtered with `filter` and
// wrapped with `wrap` along S and T; its storage is left to the caller.
inline GLuint gfx_newtexture(GLint filter, GLint wrap) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
  return texture;
}

// ---- Folded programs (gfx/shader_variants.cpp) -----------------------------------
// Reads the "#pragma fold(...)" line of id's fragment text and drops
// the id's earlier variants; called whenever id gets a new program.
void gfx_readfolds(int id, const char* fragmentsource);
// Drops id's variants (its program is being deleted).
void gfx_unfold(int id);
// The uniform setters' record of what they set, replayed onto a variant.
void gfx_recorduniform1i(int id, const char* name, int value);
void gfx_recorduniform(int id, const char* name, int count, float x, float y, float z);

#ifdef __EMSCRIPTEN__
#include <string>
struct s_bitmap;
// gfx/webgl.cpp: level 0 of the bound texture as WebGL 1 takes it.
void gfx_webupload(const s_bitmap& bitmap);
// gfx/webgl.cpp: a shader text as WebGL's GLSL ES 1.00 compiles it.
std::string gfx_webshadertext(const char* source, bool fragment);
#endif
