// gfx/png_load.h: the three steps of loading one PNG of the resource image,
// shared by the one-file loader (LoadBitmapPNG) and the list loader
// (LoadBitmapsPNG), which decodes on worker threads. Only the graphics
// layer's sources include it.
//
// The steps, in order: read the file's bytes (main thread: the file system is
// not thread-safe), decode them (any thread: it touches nothing but the
// record and the C heap), and finish (main thread: every line the load
// prints, the bitmap and its texture). A record goes through each step once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gfx/gfx.h"

// ---- Types ------------------------------------------------------------------------
// One file on its way from the resource image to a bitmap.
struct s_pngload {
  const char* filename;   // name in the resource image
  unsigned char* file;    // the file's bytes (malloc), null when it could not be opened
  int size;               // bytes of the file
  const char* fslines;    // the file system's lines for this file, when the list loader held them back; else null
  size_t fslength;        // bytes in fslines
  unsigned status;        // LodePNG's verdict, 0 when it decoded the file
  uint32_t* pixels;       // the decoded picture as stored pixels (malloc), or null
  unsigned width;         // pixels, as the file says
  unsigned height;        // pixels, as the file says
};

// ---- Steps ------------------------------------------------------------------------
// Main thread. Opens and reads the file (the file system prints its own
// lines meanwhile); on failure the record has no bytes.
void gfx_pngread(s_pngload* load, const char* filename);
// Any thread, once gfx_pngread is done with the record. Decodes the bytes to
// stored pixels; nothing is printed.
void gfx_pngdecode(s_pngload* load);
// Main thread, after gfx_pngdecode. Prints the held-back file system lines
// and then the loader's (as LoadBitmapPNG does), fills the record and
// creates its texture (left bound) when the picture decoded, and releases
// what the load still holds.
void gfx_pngfinish(s_pngload* load, s_bitmap* bitmap);
