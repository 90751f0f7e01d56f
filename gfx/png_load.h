// gfx/png_load.h: the three steps of loading one PNG of the resource image,
// shared by the one-file loader (LoadBitmapPNG) and the list loader
// (LoadBitmapsPNG), which decodes on worker threads. Only the graphics
// layer's sources include it.
//
// The steps, in order: read the file's bytes (main thread: the file system is
// not thread-safe), decode them (any thread: it touches nothing but the
// record and the C heap), and finish (main thread: every line the load
// prints, the bitmap and its texture). A record goes through each step once.
//
// Nothing but the finish prints: the file system's lines from the read are
// held in the record (core's _dbg_holdlines) and printed by the finish ahead
// of the loader's own, so a list decoded out of order still reads as if
// each file had been loaded on its own, one after the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "gfx/gfx.h"

// ---- Constants --------------------------------------------------------------------
// A verdict of ours beside LodePNG's codes (which stay below 1000): the
// header's width or height is over the record's maxside.
constexpr unsigned GFX_PNG_OVERSIZED = 1000;

// ---- Types ------------------------------------------------------------------------
// One file on its way from the resource image to a bitmap.
struct s_pngload {
  const char* filename;   // name in the resource image
  unsigned char* file;    // the file's bytes (malloc), null when it could not be opened
  int size;               // bytes of the file
  std::string fslines;    // the file system's lines while it read the file, held for the finish
  int maxside;            // the largest width or height taken, from GFX_MaxImageSide at the read
  unsigned status;        // LodePNG's verdict, 0 when it decoded the file
  uint32_t* pixels;       // the decoded picture as stored pixels (malloc), or null
  unsigned width;         // pixels, as the file says
  unsigned height;        // pixels, as the file says
};

// ---- Steps ------------------------------------------------------------------------
// Main thread. Opens and reads the file, holding the file system's lines;
// on failure the record has no bytes.
void gfx_pngread(s_pngload* load, const char* filename);
// Any thread, once gfx_pngread is done with the record. Decodes the bytes to
// stored pixels; nothing is printed. A picture wider or taller than maxside
// is refused from its header, before anything is decoded.
void gfx_pngdecode(s_pngload* load);
// Main thread, after gfx_pngdecode. Prints the held file system lines and
// then the loader's (as LoadBitmapPNG does), fills the record and creates
// its texture (left bound) when the picture decoded and fits the driver's
// textures, and releases what the load still holds.
void gfx_pngfinish(s_pngload* load, s_bitmap* bitmap);
