// Fuzz target: the packer's listing of an image file, through the engine's reader.
//
// Each input is written to a scratch file and listed as corepack --list does:
// as a standalone image, else as one appended to a host file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "corepack_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/sprox_fuzz_corepack_" + std::to_string(getpid()) + ".dat";
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) return 0;
  fwrite(data, 1, size, out);
  fclose(out);
  std::vector<ListedEntry> entries;
  std::string error;
  if (corepack_list(path.c_str(), &entries, &error)) {
    // A listing that was accepted stays inside the input.
    for (const ListedEntry& e : entries) {
      if (static_cast<uint64_t>(e.offset) + e.size > size) __builtin_trap();
    }
  }
  return 0;
}
