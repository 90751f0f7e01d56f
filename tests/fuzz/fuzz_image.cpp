// Fuzz target: the resource image reader, standalone and appended.
//
// Each input is written to a scratch file and mounted as an image file and as
// an image appended to a host file; every entry is then opened and read with
// every access path (whole reads, line reads, the end test, seeks).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "corefile/corefile.h"

namespace {

std::string scratch_path() {
  static std::string path = "/tmp/sprox_fuzz_image_" + std::to_string(getpid()) + ".dat";
  return path;
}

void exercise_every_entry() {
  uint32_t count = corefile_image.numfiles;
  for (uint32_t j = 0; j < count; j++) {
    s_corefile file = {};
    if (!corefile_open(corefile_image.names[j], &file, 0)) continue;
    char buffer[300];
    int size = file.size < 0 ? 0 : file.size;
    int chunk = size < 256 ? size : 256;
    corefile_read(buffer, chunk, 1, &file);
    corefile_seek(&file, 0, 0);
    for (int lines = 0; lines < 64 && !corefile_feof(&file); lines++) corefile_gets(buffer, sizeof buffer, &file);
    corefile_seek(&file, size / 2, 0);
    corefile_read(buffer, 1, 64, &file);
    corefile_seek(&file, -3, 1);
    corefile_gets(buffer, 16, &file);
    (void)corefile_tell(&file);
    corefile_rewind(&file);
    corefile_close(&file);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The reader prints progress lines; the fuzzer needs none of them.
  static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
  (void)quiet;
  const std::string path = scratch_path();
  for (int kind : {COREFILE_KIND_IMAGE, COREFILE_KIND_APPENDED}) {
    FILE* out = fopen(path.c_str(), "wb");
    if (!out) return 0;
    fwrite(data, 1, size, out);
    fclose(out);
    if (corefile_mountimage(path.c_str(), kind)) exercise_every_entry();
    corefile_closeimage();
  }
  return 0;
}
