// corepack_format: writing and listing "CORE" resource images in memory.
#include "corepack_format.h"

#include <cstring>

namespace {

constexpr size_t kHeaderBytes = 12;
constexpr size_t kMinEntryBytes = 12;

void put_u32(std::vector<uint8_t>* out, uint32_t value) {
  for (int i = 0; i < 4; i++) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t get_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Parses the table of an image whose header is at `header`; positions in the
// table count from the start of `data`.
bool parse_at(const uint8_t* data, size_t size, size_t header, std::vector<ListedEntry>* entries,
              std::string* error) {
  if (header > size || size - header < kHeaderBytes || memcmp(data + header, "CORE", 4) != 0) {
    *error = "no CORE header";
    return false;
  }
  uint32_t numfiles = get_u32(data + header + 4);
  uint32_t romsize = get_u32(data + header + 8);
  size_t position = header + kHeaderBytes;
  if (numfiles > (size - position) / kMinEntryBytes) {
    *error = "file table larger than the file";
    return false;
  }
  if (romsize > size) {
    *error = "romsize beyond the end of the file";
    return false;
  }
  entries->clear();
  entries->reserve(numfiles);
  for (uint32_t j = 0; j < numfiles; j++) {
    if (size - position < 8) {
      *error = "file table cut short";
      return false;
    }
    uint32_t name_length = get_u32(data + position);
    int32_t hash = static_cast<int32_t>(get_u32(data + position + 4));
    position += 8;
    if (name_length > size - position || size - position - name_length < 4) {
      *error = "name runs past the end of the file";
      return false;
    }
    std::string name(reinterpret_cast<const char*>(data + position), name_length);
    position += name_length;
    uint32_t offset = get_u32(data + position);
    position += 4;
    if (offset > size) {
      *error = "file offset beyond the end of the file";
      return false;
    }
    if (!entries->empty() && offset < entries->back().offset) {
      *error = "file offsets run backwards";
      return false;
    }
    entries->push_back(ListedEntry{std::move(name), offset, 0, hash});
  }
  if (!entries->empty() && romsize < entries->back().offset) {
    *error = "romsize below the last file offset";
    return false;
  }
  for (size_t j = 0; j < entries->size(); j++) {
    uint32_t end = j + 1 < entries->size() ? (*entries)[j + 1].offset : romsize;
    (*entries)[j].size = end - (*entries)[j].offset;
  }
  return true;
}

}  // namespace

std::string corepack_check_name(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name.front() == '/') return "name begins with \"/\"";
  if (name.back() == '/') return "name ends with \"/\"";
  if (name.find('\\') != std::string::npos) return "name holds a backslash (use \"/\" between levels)";
  if (name.find('\0') != std::string::npos) return "name holds a NUL byte";
  for (char c : name) {
    if (c >= 'A' && c <= 'Z') return "name holds upper-case letters (the reader could never find it)";
  }
  return "";
}

int32_t corepack_hash(const std::string& name) {
  uint32_t sum = 0;
  for (char c : name) sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(c)));
  return static_cast<int32_t>(sum);
}

std::vector<uint8_t> corepack_build(const std::vector<PackEntry>& entries, uint32_t base, bool trailer) {
  size_t table_bytes = 0;
  for (const PackEntry& e : entries) table_bytes += kMinEntryBytes + e.name.size();
  uint32_t offset = static_cast<uint32_t>(base + kHeaderBytes + table_bytes);
  uint32_t romsize = offset;
  for (const PackEntry& e : entries) romsize += static_cast<uint32_t>(e.data.size());

  std::vector<uint8_t> out;
  out.reserve(romsize - base + 4);
  for (char c : std::string("CORE")) out.push_back(static_cast<uint8_t>(c));
  put_u32(&out, static_cast<uint32_t>(entries.size()));
  put_u32(&out, romsize);
  for (const PackEntry& e : entries) {
    put_u32(&out, static_cast<uint32_t>(e.name.size()));
    put_u32(&out, static_cast<uint32_t>(corepack_hash(e.name)));
    out.insert(out.end(), e.name.begin(), e.name.end());
    put_u32(&out, offset);
    offset += static_cast<uint32_t>(e.data.size());
  }
  for (const PackEntry& e : entries) out.insert(out.end(), e.data.begin(), e.data.end());
  if (trailer) put_u32(&out, base);
  return out;
}

bool corepack_parse(const uint8_t* data, size_t size, std::vector<ListedEntry>* entries, std::string* error) {
  if (size >= kHeaderBytes && memcmp(data, "CORE", 4) == 0) return parse_at(data, size, 0, entries, error);
  if (size < 4) {
    *error = "too short for an image";
    return false;
  }
  // An appended image: the trailer holds the header's position, and the
  // image's positions stop before the trailer.
  size_t header = get_u32(data + size - 4);
  return parse_at(data, size - 4, header, entries, error);
}
