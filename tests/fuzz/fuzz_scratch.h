// The scratch folder of the fuzz targets that read through the file system:
// a fresh folder under /tmp, mounted as a directory once, into which each
// input is written under the name its reader opens.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/stat.h>

#include "corefile/corefile.h"

namespace fuzz_scratch {

inline std::string g_dir;  // the mounted scratch folder

// Silences standard output (the readers print a verdict on every input and
// the fuzzer needs none of them), then creates and mounts
// /tmp/sprox_fuzz_<target>_<pid>; aborts when it cannot, since every input
// would then be read from nowhere.
inline void start(const char* target) {
  if (!freopen("/dev/null", "w", stdout)) abort();
  g_dir = "/tmp/sprox_fuzz_" + std::string(target) + "_" + std::to_string(getpid());
  mkdir(g_dir.c_str(), 0700);
  if (!corefile_mountimage(g_dir.c_str(), COREFILE_KIND_DIRECTORY)) {
    fprintf(stderr, "fuzz_%s: cannot mount %s\n", target, g_dir.c_str());
    abort();
  }
}

// Writes one input as `file` in the scratch folder; false when it cannot.
inline bool write(const char* file, const uint8_t* data, size_t size) {
  FILE* out = fopen((g_dir + "/" + file).c_str(), "wb");
  if (!out) return false;
  fwrite(data, 1, size, out);
  fclose(out);
  return true;
}

}  // namespace fuzz_scratch
