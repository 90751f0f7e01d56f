// Fuzz target: the PNG path of the bitmap loader, up to the pixel copy and
// the texture upload.
//
// Runs under Xvfb: one window and GL context are made once in
// LLVMFuzzerInitialize. A scratch directory is mounted once; each input is
// written there as "input.png" and handed to LoadBitmapPNG. A bitmap that
// loads is checked for a consistent record and deleted again, and the bitmap
// list is emptied, so textures and list entries do not pile up.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>

#include "corefile/corefile.h"
#include "fuzz_scratch.h"
#include "gfx/gfx.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_scratch::start("png");
  if (GFX_InitVideo(64, 64, "fuzz_png", false) != 0) {
    fprintf(stderr, "fuzz_png: no GL context (run under xvfb-run)\n");
    abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzz_scratch::write("input.png", data, size)) return 0;

  s_bitmap bitmap;
  memset(&bitmap, 0, sizeof bitmap);
  LoadBitmapPNG("input.png", &bitmap);
  if (bitmap.pixels) {
    if (bitmap.width <= 0 || bitmap.height <= 0) abort();
    if (bitmap.size != bitmap.width * bitmap.height * 4) abort();
    // Read the last pixel: a buffer shorter than the record claims shows up
    // as a sanitizer report here.
    volatile uint32_t last = bitmap.pixels[bitmap.numpixels - 1];
    (void)last;
    GFX_DeleteBitmap(&bitmap);
  }
  GFX_numbitmaps = 0;
  return 0;
}
