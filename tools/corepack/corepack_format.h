// corepack_format: writing "CORE" resource images in memory, and listing an
// image file through the engine's own reader (corefile).
//
// The writer lays the table out in the order given and the data back to back
// in the same order, so each file's length is the distance to the next offset.
// Positions count from the start of the whole file: for an image appended to a
// host file they include the host's bytes, and a 4-byte trailer holding the
// header's position follows the image. The format itself, its hash and its
// checks of a damaged table are corefile's: corepack reads no table itself.
//
// Threads: main thread only; the listing mounts through corefile's globals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct PackEntry {
  std::string name;           // relative path, lower case, "/" between levels
  std::vector<uint8_t> data;  // the file's bytes
};

struct ListedEntry {
  std::string name;
  uint32_t offset;  // position of the first data byte in the whole file
  uint32_t size;    // derived from the next offset (romsize for the last)
  int32_t hash;     // as stored in the table
};

// Why a name cannot be stored, or an empty string when it can. A name with an
// upper-case letter is refused: the reader lower-cases every request, so such
// an entry could never be found. So are names that would become paths outside
// the image's tree: a leading "/", a "." or ".." level.
std::string corepack_check_name(const std::string& name);

// The image for entries placed at `base` (0 for a standalone image, the host's
// length for an appended one). With `trailer`, the 4-byte trailer follows.
// Each entry's hash is corefile_gethash of its name.
std::vector<uint8_t> corepack_build(const std::vector<PackEntry>& entries, uint32_t base, bool trailer);

// Lists the image file at `path` in table order: a standalone image, or one
// appended to a host file (found through its trailer). It is mounted with
// corefile_mountimage and read back through corefile's table and listing, with
// the reader's lines kept off standard output; any earlier mount is replaced
// and the image is unmounted again. Returns false with a reason for a file
// that cannot be read or is not a whole, consistent image.
bool corepack_list(const char* path, std::vector<ListedEntry>* entries, std::string* error);
