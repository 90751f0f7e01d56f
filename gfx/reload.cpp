// gfx/reload.cpp: replacing what a running show has made, in place: a
// shader program under its id, a bitmap's pixels and texture under the same
// GL texture name. The development mode reloads edited files through these,
// so the scene script, the passes and every copy of a record keep working
// without a change.
//
// Pixel buffers and copies: an s_bitmap is copied freely by value and the
// copies share its pixel buffer (see gfx.h). A replacement writes into the
// record's buffer when the new picture fits in it; otherwise the record gets
// a new buffer and the old one is kept in the retired list, alive for the
// copies, until GFX_ReleaseRetiredBuffers. Each buffer's capacity is kept,
// so a picture that shrinks and grows back reuses its buffer: repeated
// replacements allocate only when a picture outgrows every size before it.
//
// A replacement succeeds only when the driver took the pixels: a picture
// wider or taller than GFX_MaxImageSide is refused (from a PNG's header,
// before decoding), and an upload that sets a GL error leaves the record and
// its texture as they were.
//
// Threads: main thread only (GL context).
#include <lodepng.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gfx/gfx.h"
#include "gfx/gfx_internal.h"
#include "gfx/gl.h"

// ---- Constants ------------------------------------------------------------------------
namespace {
constexpr int kBytesPerPixel = 4;
constexpr int kMaxRetired = 256;  // buffers kept for copies; beyond that the oldest is let go of
constexpr int kMaxErrorFlags = 16;  // GL error flags read away before an upload, at most
// Reasons of a refused replacement (the caller's "why").
constexpr const char* kWhyRefused = "picture of %d x %d pixels refused";
constexpr const char* kWhyOversized = "%u x %u pixels, larger than the %d pixels a side a texture takes here";
constexpr const char* kWhyUpload = "the driver refused the texture upload (GL error 0x%04x)";
}  // namespace

// ---- Globals ----------------------------------------------------------------------------
namespace {

struct s_capacity {
  const s_bitmap* bitmap;  // the record, or null for a free entry
  size_t bytes;            // the size its buffer was allocated with
};
s_capacity g_capacity[GFX_MAX_BITMAPS];
uint32_t* g_retired[kMaxRetired];
int g_numretired = 0;

// ---- Internal functions ---------------------------------------------------------------------

// The allocated size of the record's buffer: what this file gave it, or its
// size as created.
size_t& CapacityOf(const s_bitmap* bitmap) {
  s_capacity* free_entry = nullptr;
  for (s_capacity& entry : g_capacity) {
    if (entry.bitmap == bitmap) return entry.bytes;
    if (!entry.bitmap && !free_entry) free_entry = &entry;
  }
  static s_capacity overflow;  // a full table: treated as exactly its size
  s_capacity* entry = free_entry ? free_entry : &overflow;
  entry->bitmap = bitmap;
  entry->bytes = static_cast<size_t>(bitmap->size);
  return entry->bytes;
}

void Retire(uint32_t* buffer) {
  if (g_numretired == kMaxRetired) {
    free(g_retired[0]);
    std::memmove(g_retired, g_retired + 1, sizeof(g_retired[0]) * (kMaxRetired - 1));
    g_numretired--;
  }
  g_retired[g_numretired++] = buffer;
}

// Compiles one stage; on failure appends its log to `log` and returns 0.
GLuint CompileStage(GLenum kind, const char* source, char* log, int capacity, int* used) {
  const GLuint shader = glCreateShader(kind);
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  GLint status = GL_FALSE;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
  if (status == GL_TRUE) return shader;
  GLsizei length = 0;
  if (*used < capacity - 1) glGetShaderInfoLog(shader, capacity - *used, &length, log + *used);
  *used += length;
  glDeleteShader(shader);
  return 0;
}

// Writes a reason into why (when given) and returns 0.
int Why(char* why, int capacity, const char* format, ...) __attribute__((format(printf, 3, 4)));
int Why(char* why, int capacity, const char* format, ...) {
  if (!why || capacity <= 0) return 0;
  va_list args;
  va_start(args, format);
  std::vsnprintf(why, static_cast<size_t>(capacity), format, args);
  va_end(args);
  return 0;
}

// Empties GL's error flags (a few at most are set at once), so that the next
// glGetError speaks of what follows only.
void ClearErrors() {
  for (int k = 0; k < kMaxErrorFlags && glGetError() != GL_NO_ERROR; k++) {
  }
}

// A record never created (or whose load failed) is created around the
// picture; a failed upload empties it again.
int CreateAround(s_bitmap* bitmap, int width, int height, const uint32_t* pixels, char* why, int capacity) {
  GFX_CreateBitmap(width, height, bitmap);
  if (!bitmap->pixels) return Why(why, capacity, kWhyRefused, width, height);
  std::memcpy(bitmap->pixels, pixels, static_cast<size_t>(width) * height * kBytesPerPixel);
  GFX_UpdateTexture(*bitmap);
  const GLenum error = glGetError();
  if (error != GL_NO_ERROR) {
    GFX_DeleteTexture(*bitmap);
    free(bitmap->pixels);
    *bitmap = s_bitmap{};
    return Why(why, capacity, kWhyUpload, static_cast<unsigned>(error));
  }
  CapacityOf(bitmap) = static_cast<size_t>(width) * height * kBytesPerPixel;
  return 1;
}

// GFX_ReplaceBitmap, with the reason of a refusal in why. The record changes
// only once the driver has taken the new pixels: the texture is uploaded
// from the caller's pixels first and glGetError asked; a failed upload
// leaves the texture as it was (GL changes nothing on an error) and the record too.
int ReplaceBitmap(s_bitmap* bitmap, int width, int height, const uint32_t* pixels, char* why, int capacity) {
  if (!bitmap || !pixels || width <= 0 || height <= 0 || width > INT_MAX / kBytesPerPixel / height)
    return Why(why, capacity, kWhyRefused, width, height);
  const int maxside = GFX_MaxImageSide();
  if (width > maxside || height > maxside)
    return Why(why, capacity, kWhyOversized, static_cast<unsigned>(width), static_cast<unsigned>(height), maxside);
  const size_t bytes = static_cast<size_t>(width) * height * kBytesPerPixel;
  // The texture keeps its name and parameters (filter, wrap); only its storage changes.
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  ClearErrors();
  if (!bitmap->pixels || bitmap->textureid == 0) {
    const int created = CreateAround(bitmap, width, height, pixels, why, capacity);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
    return created;
  }
  size_t& capacityof = CapacityOf(bitmap);
  uint32_t* grown = nullptr;
  if (bytes > capacityof && !(grown = static_cast<uint32_t*>(malloc(bytes)))) {
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
    return Why(why, capacity, kWhyRefused, width, height);
  }
  // A name that cannot be bound as a 2D texture gets no upload (it would
  // land in whatever is bound). A texture still waiting for its pixels gets
  // the old ones first, so that a refused upload leaves it with those.
  glBindTexture(GL_TEXTURE_2D, bitmap->textureid);
  GLenum error = glGetError();
  if (error == GL_NO_ERROR) {
    gfx_uploadifpending(bitmap->textureid);
    s_bitmap staged = *bitmap;
    staged.width = width;
    staged.height = height;
    staged.pixels = const_cast<uint32_t*>(pixels);  // read only by the upload
    GFX_UpdateTexture(staged);
    error = glGetError();
  }
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
  if (error != GL_NO_ERROR) {
    free(grown);
    return Why(why, capacity, kWhyUpload, static_cast<unsigned>(error));
  }
  if (grown) {
    Retire(bitmap->pixels);
    bitmap->pixels = grown;
    capacityof = bytes;
  }
  bitmap->width = bitmap->texwidth = width;
  bitmap->height = bitmap->texheight = height;
  bitmap->numpixels = width * height;
  bitmap->size = bitmap->numpixels * kBytesPerPixel;
  bitmap->s1 = static_cast<float>(width * GFX_TEXCOORD_S1) / static_cast<float>(width);
  bitmap->t1 = static_cast<float>(height * GFX_TEXCOORD_T1) / static_cast<float>(height);
  std::memcpy(bitmap->pixels, pixels, bytes);
  return 1;
}

}  // namespace

// ---- Public functions ---------------------------------------------------------------------------
int GFX_ReplaceShader(int id, const char* vertexsource, const char* fragmentsource, char* log, int capacity) {
  if (log && capacity > 0) log[0] = '\0';
  char none[1];
  if (!log || capacity <= 0) log = none, capacity = 1;
  if (!GFX_IsShader(id) || !vertexsource || !fragmentsource) {
    std::snprintf(log, capacity, "no shader %d to replace", id);
    return 0;
  }
  int used = 0;
  const GLuint vertex = CompileStage(GL_VERTEX_SHADER, vertexsource, log, capacity, &used);
  const GLuint fragment = vertex ? CompileStage(GL_FRAGMENT_SHADER, fragmentsource, log, capacity, &used) : 0;
  if (!vertex || !fragment) {
    if (vertex) glDeleteShader(vertex);
    return 0;
  }
  const GLuint program = glCreateProgram();
  glAttachShader(program, fragment);
  glAttachShader(program, vertex);
  glLinkProgram(program);
  GLint linked = GL_FALSE;
  glGetProgramiv(program, GL_LINK_STATUS, &linked);
  if (linked != GL_TRUE) {
    GLsizei length = 0;
    glGetProgramInfoLog(program, capacity, &length, log);
    glDeleteProgram(program);
    glDeleteShader(fragment);
    glDeleteShader(vertex);
    return 0;
  }
  // The old objects go only now: a failed build never leaves the id without a program.
  GLint current = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &current);
  const bool wascurrent = static_cast<GLuint>(current) == GFX_shader[id].program;
  GFX_DeleteShader(id);
  GFX_shader[id] = s_shader{program, vertex, fragment};
  gfx_readfolds(id, fragmentsource);
  if (wascurrent) glUseProgram(program);
  return 1;
}

int GFX_ReplaceBitmap(s_bitmap* bitmap, int width, int height, const uint32_t* pixels) {
  return ReplaceBitmap(bitmap, width, height, pixels, nullptr, 0);
}

int GFX_ReplaceBitmapPNG(s_bitmap* bitmap, const unsigned char* png, size_t size, char* why, int capacity) {
  unsigned width = 0, height = 0;
  LodePNGState state;
  lodepng_state_init(&state);
  // The header first: a picture no texture takes is refused before decoding.
  unsigned status = lodepng_inspect(&width, &height, &state, png, size);
  lodepng_state_cleanup(&state);
  const int maxside = GFX_MaxImageSide();
  if (status == 0 && (width > static_cast<unsigned>(maxside) || height > static_cast<unsigned>(maxside))) {
    Why(why, capacity, kWhyOversized, width, height, maxside);
    return 0;
  }
  unsigned char* image = nullptr;
  if (status == 0) status = lodepng_decode32(&image, &width, &height, png, size);
  int replaced = 0;
  if (status != 0) {
    Why(why, capacity, "%s", lodepng_error_text(status));
  } else {
    // LodePNG's bytes are red, green, blue, alpha in memory order: the stored pixel layout.
    replaced = ReplaceBitmap(bitmap, static_cast<int>(width), static_cast<int>(height),
                             reinterpret_cast<const uint32_t*>(image), why, capacity);
  }
  free(image);
  return replaced;
}

int GFX_ReleaseRetiredBuffers() {
  const int released = g_numretired;
  for (int i = 0; i < g_numretired; i++) free(g_retired[i]);
  g_numretired = 0;
  return released;
}
