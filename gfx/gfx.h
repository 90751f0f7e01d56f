// gfx: the graphics layer: the window and its GL context, bitmaps and their
// textures (with PNG loading), offscreen framebuffers and the one quad
// primitive, and shader programs with their uniforms.
//
// Everything is kept in fixed global tables and handed out as small integer
// ids in creation order, never reused: framebuffer ids index GFX_framebuffers,
// shader ids index GFX_shader (-1 stands for no program). A bitmap is a plain
// record that the caller owns; the layer only lists its address.
//
// Terms (bitmap, image, texture unit (here: channel), framebuffer, quad,
// folded program, picture frame): see docs/ARCHITECTURE.md#glossary.
//
// Coordinates: pixels, origin at the top-left corner, y growing downward (the
// projection GFX_InitVideo sets up).
//
// Threads: main thread only. GFX_InitVideo makes the GL context current on
// the calling thread and every other function here makes GL calls on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct GLFWwindow;

// ---- Constants ----------------------------------------------------------------
constexpr int GFX_MAX_BITMAPS = 256;       // entries of GFX_bitmaplist
constexpr int GFX_MAX_FRAMEBUFFERS = 16;   // entries of GFX_framebuffers
constexpr int GFX_MAX_SHADERS = 128;       // entries of GFX_shader
constexpr int GFX_MAX_CHANNEL = 21;        // highest texture unit GFX_BindTextureChannel selects
constexpr float GFX_TEXCOORD_S1 = 0.99999f;  // right texture coordinate of a full bitmap
constexpr float GFX_TEXCOORD_T1 = 0.9999f;   // bottom texture coordinate of a full bitmap

// ---- Types ----------------------------------------------------------------------
// An image. Copied freely by value: the copies share buffer and texture, and
// only the original record (the one GFX_CreateBitmap filled) owns them.
// Pixels are one 32-bit word each, rows from the top, bytes in memory order
// red, green, blue, alpha (0xAABBGGRR as a little-endian word).
struct s_bitmap {
  int width;           // pixels; also the row stride of `pixels`
  int height;          // pixels
  int reserved0;       // 0 at creation
  int texwidth;        // storage width, pixels (equals width)
  int texheight;       // storage height, pixels (equals height)
  int size;            // bytes in `pixels`: texwidth * texheight * 4
  int numpixels;       // words in `pixels`: texwidth * texheight
  int reserved1;       // never set
  int reserved2;       // never set
  uint32_t* pixels;    // the pixel buffer; null in a record never created
  float s0;            // left texture coordinate, 0
  float t0;            // top texture coordinate, 0
  float s1;            // right texture coordinate, width * 0.99999 / texwidth
  float t1;            // bottom texture coordinate, height * 0.9999 / texheight
  unsigned int textureid;  // GL texture name; 0 in a record never created
  int reserved3;       // 0 at creation
};

// One offscreen framebuffer's size.
struct s_framebuffer {
  int width;   // pixels
  int height;  // pixels
  int data;    // index of its GL objects in GFX_framebufferdata (equals its id)
};

// The GL objects of one offscreen framebuffer.
struct s_framebufferdata {
  uint32_t framebuffer;  // framebuffer object name
  uint32_t texture;      // colour texture name
};

// The GL objects of one shader program.
struct s_shader {
  uint32_t program;   // program object name
  uint32_t vertex;    // vertex shader object name
  uint32_t fragment;  // fragment shader object name
};

// ---- Globals ----------------------------------------------------------------------
extern GLFWwindow* GFX_window;  // the one window; null until GFX_InitVideo succeeds

extern s_bitmap* GFX_bitmaplist[GFX_MAX_BITMAPS];  // every created bitmap's record, in creation order
extern int GFX_numbitmaps;                         // entries of GFX_bitmaplist in use

extern s_framebuffer GFX_framebuffers[GFX_MAX_FRAMEBUFFERS];       // indexed by framebuffer id
extern s_framebufferdata GFX_framebufferdata[GFX_MAX_FRAMEBUFFERS];  // indexed by framebuffer id
extern int GFX_numframebuffers;        // framebuffers created; the next id
extern s_framebuffer* GFX_FrameBuffer; // the entry last selected by GFX_SetFrameBuffer, or null
extern const uint8_t quad_index[6];    // the two triangles of every quad: 0,3,2 and 0,2,1

extern s_shader GFX_shader[GFX_MAX_SHADERS];  // indexed by shader id
extern int GFX_numshaders;                    // programs handed out; the next id
extern int GFX_postshader_id;                 // recorded by GFX_SetPostShader

// ---- Window ---------------------------------------------------------------------------
// Opens the window with an OpenGL 2.0 context, makes it current with swap
// interval 1 and sets the fixed state: viewport, pixel projection, 2D
// texturing, opaque black clear colour, no depth test, no lighting, vertex
// and texture-coordinate arrays on. Then initialises GLEW. Returns 0, or -1
// (silently, GFX_window stays null) when GLFW or the window cannot start.
int GFX_InitVideo(int width, int height, const char* title, bool fullscreen);
// Presents the back buffer and polls window events (key callbacks run here).
void GFX_SwapBuffers();
// Opens the window as GFX_InitVideo does, but borderless and full screen on
// monitor `monitor` (0 = the primary) at the monitor's current mode: no mode
// change, the window covers the monitor exactly, the cursor is hidden and
// the window stays up when focus moves elsewhere. The viewport and projection
// take the window's framebuffer size. Returns 0, or -1 (silently) when GLFW,
// the monitor or the window is missing.
int GFX_InitVideoOnMonitor(const char* title, int monitor);
// True while the window is full screen on a monitor.
bool GFX_IsFullscreen();
// Takes the open window to full screen on `monitor` at its current mode, or
// back to a window where it was before (width x height if it never was one).
// Returns false when nothing changed (already so, no window, no monitor).
bool GFX_SetFullscreen(bool fullscreen, int monitor, int width, int height);
// Starts GLFW if needed and prints one line per monitor: index, name, mode.
// Returns the number of monitors, or -1 when there is no display.
int GFX_ListMonitors(FILE* out);

// ---- Bitmaps and textures -----------------------------------------------------------
// A new texture (repeat, linear) holding the bitmap's pixels; left bound.
unsigned int GFX_CreateTexture(s_bitmap bitmap);
#ifdef __EMSCRIPTEN__
// In a browser: clamps the bound texture of `bitmap` along S (and T when
// `both`) so that it reads transparent black outside 0..1, as clamping to
// the border does on the desktop (gfx/webgl.cpp).
void GFX_WebClampToBorder(const s_bitmap& bitmap, bool both);
#endif
// Uploads the bitmap's pixels again in full to its texture; left bound.
void GFX_UpdateTexture(s_bitmap bitmap);
void GFX_DeleteTexture(s_bitmap bitmap);
// Fills the record: sizes, a fresh (uncleared) pixel buffer, texture
// coordinates and a texture; prints "bitmap textureid: N" and lists it.
void GFX_CreateBitmap(int width, int height, s_bitmap* bitmap);
// While true (off by default) a bitmap's new texture is made without its
// pixels, which it gets when first bound through GFX_BindTexture or
// GFX_BindTextureChannel, or from GFX_UploadPendingTexture, whichever comes
// first: a start-up that leaves the uploads (a memory copy each, slow on a
// software renderer) to its first frames. The browser build never defers.
extern bool GFX_deferuploads;
// Uploads the oldest texture still waiting for its pixels, leaving the
// active unit's binding as it was; false when none waits.
bool GFX_UploadPendingTexture();
// Textures still waiting for their pixels.
int GFX_PendingUploads();
// The largest width or height a loaded or replaced picture may have: the
// driver's largest texture side (GL_MAX_TEXTURE_SIZE) or GFX_MAX_IMAGE_SIDE,
// whichever is less; GFX_MAX_IMAGE_SIDE before the window opens or while
// no GL context is current.
constexpr int GFX_MAX_IMAGE_SIDE = 8192;
int GFX_MaxImageSide();
// Loads count PNG files of the mounted resource image, file k into record
// bitmaps[k], with the same records, textures (made in list order) and
// standard output as LoadBitmapPNG (below) on each file in turn, every file's lines
// together. The files are read here and decoded on worker threads meanwhile.
// After each file, when `loaded` is not null, loaded(k) runs on this thread
// with that file's new texture bound (if its load made one).
void LoadBitmapsPNG(const char* const* filenames, s_bitmap* const* bitmaps, int count, void (*loaded)(int index));
// LoadBitmapsPNG in two halves, so that the workers decode while the caller
// does other work. StartBitmapsPNG reads the files (the file system's lines
// are held back, nothing is printed) and hands them to the workers; it
// returns null for an empty list. FinishBitmapsPNG prints, creates and calls
// back as LoadBitmapsPNG does, and releases the batch. DropBitmapsPNG
// releases a batch that will not be finished (the decodes under way end
// first); nothing is printed. Both take null.
struct s_pngbatch;
s_pngbatch* StartBitmapsPNG(const char* const* filenames, int count);
void FinishBitmapsPNG(s_pngbatch* batch, s_bitmap* const* bitmaps, void (*loaded)(int index));
void DropBitmapsPNG(s_pngbatch* batch);

// ---- Framebuffers and quads -----------------------------------------------------------
// A new width x height framebuffer (nearest, clamped colour texture, no
// depth); returns its id, or -1 when the table is full. Leaves unit 0 active
// and the window bound.
int GFX_CreateFrameBuffer(int width, int height, int unused);
// Makes the framebuffer the render target, binds its colour texture on the
// active unit, sets the viewport to its size and the projection to its pixels
// (origin top-left, y down). Unknown ids are ignored.
void GFX_SetFrameBuffer(int id);
void GFX_DrawQuad(float x, float y, float width, float height, float s0, float t0, float s1, float t1);
void GFX_BindTexture(int texture);
// Makes unit `channel` active when it is 0 to 21, then binds the texture.
void GFX_BindTextureChannel(int texture, int channel);
// The colour texture name of framebuffer `id`, or 0 for an unknown id.
uint32_t GFX_FrameBufferTexture(int id);
// Gives framebuffer `id` a new size in place: the same id, framebuffer object
// and texture name, new (uncleared) storage. Returns false for an unknown id
// or a size below 1. Leaves unit 0 active and the window bound.
bool GFX_ResizeFrameBuffer(int id, int width, int height);
// Samples framebuffer `id`'s texture with linear filtering (true) or nearest
// (false, as created); for drawing it at another size than its own.
void GFX_SetFrameBufferFilter(int id, bool linear);

// ---- Shader programs -------------------------------------------------------------------
// Compiles and links a program; logs go to standard output but never refuse
// it. Returns the new id, or -1 when a text is missing or the table is full.
int GFX_InitShader(const char* vertexsource, const char* fragmentsource);
void GFX_DeleteShader(int id);
void GFX_BindShader(int id);
void GFX_UnbindShader();
// Bind the program (it stays current), look the uniform up by name, set it.
// A name the program lacks is silently ignored; so is an unknown id.
void GFX_SetShaderUniform1i(int id, const char* name, int value);
void GFX_SetShaderUniform1f(int id, const char* name, float value);
void GFX_SetShaderUniform2f(int id, const char* name, float x, float y);
void GFX_SetShaderUniform3f(int id, const char* name, float x, float y, float z);
// True for an id that GFX_InitShader handed out.
bool GFX_IsShader(int id);
// Binds id's program for a draw. A fragment text with a line
// "#pragma fold(a, b)" names int uniforms that choose its branches:
// then the program bound is one compiled with those uniforms as the
// constants they were last set to (made on first use and kept), with every
// uniform set on id so far set on it too, so the driver never runs a branch
// that cannot be taken. Otherwise (or when that program cannot be made) it
// is GFX_BindShader.
void GFX_BindFoldedShader(int id);
// Makes, without binding it, the folded program GFX_BindFoldedShader
// would bind now; true when one was compiled by this call.
bool GFX_PrepareFoldedShader(int id);
// The number of folded programs made for id so far that linked, and
// of those that did not (each is tried once; the program itself draws).
int GFX_FoldedVariants(int id);
int GFX_FoldFailures(int id);
// The rectangle the pragma line of id's fragment text declares for the
// folded uniform `name` ("reach(name, x, y, width, height)" after the names):
// outside it, the code behind the uniform changes no pixel. In pixels of a
// 720-line picture from its top-left corner; a negative x or y counts from
// the right or bottom edge. True and the rectangle, or false when id
// declares none for that name.
struct s_gfxreach {
  float x, y, width, height;
};
bool GFX_FoldReach(int id, const char* name, s_gfxreach* reach);
// True (the default) lets GFX_BindFoldedShader bind folded
// programs; false binds every program as it is, to compare the two.
extern bool GFX_folding;

// ---- Replacing in place (gfx/reload.cpp) ------------------------------------------------
// What the development mode's reloads go through; ids, records and texture
// names stay as they are, so nothing that refers to them needs a change.
//
// Builds a new program from the two texts and, only when both compile and
// the program links, puts it under `id` (the old objects are deleted; a
// current program stays current). Returns 1, or 0 with the compiler's or
// linker's log in `log` (capacity bytes) while `id` keeps its program.
int GFX_ReplaceShader(int id, const char* vertexsource, const char* fragmentsource, char* log, int capacity);
// Gives the record width x height new pixels (stored layout) and uploads
// them to its texture under the same name, any size. The buffer is reused
// when the picture fits in it; a larger one is allocated otherwise, and the
// old buffer is kept alive for copies of the record until
// GFX_ReleaseRetiredBuffers. A record never created is created (and
// listed). Returns 1, or 0 (nothing changed, the texture included) for a
// refused size (over GFX_MaxImageSide among them) or an upload the driver
// refused (a GL error).
int GFX_ReplaceBitmap(s_bitmap* bitmap, int width, int height, const uint32_t* pixels);
// The same from a PNG in memory, its size checked from the header before
// decoding; on failure 0 with the reason in `why`.
int GFX_ReplaceBitmapPNG(s_bitmap* bitmap, const unsigned char* png, size_t size, char* why, int capacity);
// Frees the buffers replacements have retired; returns how many. Only when
// no copy of a replaced record made before its replacement is left.
int GFX_ReleaseRetiredBuffers();

// ---- The rest of the published interface ------------------------------------------------
// Kept whole for the layer's users to come; nothing in the show or the tools
// calls these today (the tests do). Their definitions stay beside their
// neighbours' (gfx/bitmap.cpp, gfx/framebuffer.cpp, gfx/shader.cpp).
//
// Loads a PNG of the mounted resource image into the record; on failure
// (a picture over GFX_MaxImageSide among them) prints why and leaves the
// record untouched. The new texture stays bound.
void LoadBitmapPNG(const char* filename, s_bitmap* bitmap);
// Releases buffer and texture of a created record; nothing for an empty one.
void GFX_DeleteBitmap(s_bitmap* bitmap);
void GFX_UpdateBitmap(s_bitmap bitmap);
// Writes one pixel given as 0xAARRGGBB; outside the image nothing happens.
void GFX_DrawPixel(int x, int y, int color, s_bitmap bitmap);
void GFX_DrawBitmap(int x, int y, s_bitmap bitmap);
void GFX_DrawFrameBuffer(int x, int y, int width, int height, int id);
void GFX_SetPostShader(int id);
