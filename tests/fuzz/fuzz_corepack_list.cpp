// Fuzz target: the packer's listing of an image held in memory.
#include <cstdint>
#include <string>
#include <vector>

#include "corepack_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<ListedEntry> entries;
  std::string error;
  if (corepack_parse(data, size, &entries, &error)) {
    // A listing that was accepted stays inside the input.
    for (const ListedEntry& e : entries) {
      if (static_cast<uint64_t>(e.offset) + e.size > size) __builtin_trap();
    }
  }
  return 0;
}
