// corepack_format: writing images in memory, listing image files through corefile.
#include "corepack_format.h"

#include <cstdio>
#include <deque>
#include <map>
#include <string>

#include "core/core.h"
#include "corefile/corefile.h"

// ---- Constants ---------------------------------------------------------------

namespace {

constexpr const char* kAllFiles = "*.*";  // the listing filter that admits every file

}  // namespace

// ---- Types -------------------------------------------------------------------

namespace {

// The sizes the reader's listing gives for each file name, in table order: a
// name stored twice is listed twice, in one directory, in table order.
using ListedSizes = std::map<std::string, std::deque<uint32_t>>;

// Keeps the reader's progress lines off standard output while it lives, so
// that what corepack prints is the listing alone: they are held and dropped
// (standard output itself is left alone).
class QuietStdout {
 public:
  QuietStdout() : outer_(_dbg_holdlines(&dropped_)) {}
  ~QuietStdout() { _dbg_holdlines(outer_); }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  std::string dropped_;
  std::string* outer_;
};

// ---- Internal functions --------------------------------------------------------

void put_u32(std::vector<uint8_t>* out, uint32_t value) {
  unsigned char bytes[4];
  core_putle32(bytes, value);
  out->insert(out->end(), bytes, bytes + 4);
}

// Lists the local path with corefile_readdir and walks on into every
// subdirectory the listing names. A directory is entered only when the local
// path then reads exactly one level deeper: "..", an empty name and a path cut
// short by the local path's buffer name no level, so the walk ends on any table.
void collect_sizes(ListedSizes* sizes) {
  corefile_readdir(kAllFiles);
  std::vector<std::string> subdirs;  // entering one replaces the listing
  for (int i = 0; i < corefile_numfiles; i++) {
    const s_listentry& entry = corefile_filelist[i];
    if (entry.isdir) {
      subdirs.push_back(entry.name);
    } else {
      (*sizes)[entry.name].push_back(static_cast<uint32_t>(entry.size));
    }
  }
  const std::string here = corefile_getpath();
  for (const std::string& dir : subdirs) {
    corefile_chdir(dir.c_str());
    if (corefile_getpath() == here + dir + "/") collect_sizes(sizes);
    corefile_chdir(here.c_str());
  }
}

// The size of table entry j by opening its name, for a file that no listing
// shows (a name with a leading "/", or below a directory path
// longer than the local path holds). Only an open that finds entry j counts.
bool size_by_open(uint32_t j, uint32_t* size) {
  s_corefile file = {};
  if (!corefile_open(corefile_image.names[j], &file, 0)) return false;
  const bool found = file.index == static_cast<int>(j);
  *size = static_cast<uint32_t>(file.size);
  corefile_close(&file);
  return found;
}

// The mounted table, in table order, with every size as the reader derives it.
bool list_mounted(std::vector<ListedEntry>* entries, std::string* error) {
  ListedSizes sizes;
  collect_sizes(&sizes);
  for (uint32_t j = 0; j < corefile_image.numfiles; j++) {
    const char* name = corefile_image.names[j];
    ListedEntry entry{name, corefile_image.offsets[j], 0, corefile_image.hashes[j]};
    std::deque<uint32_t>& listed = sizes[name];
    if (!listed.empty()) {
      entry.size = listed.front();
      listed.pop_front();
    } else if (!size_by_open(j, &entry.size)) {
      *error = "file " + std::to_string(j) + " (\"" + name + "\") is neither listed nor found by the reader";
      return false;
    }
    entries->push_back(std::move(entry));
  }
  return true;
}

}  // namespace

// ---- Public functions ----------------------------------------------------------

std::string corepack_check_name(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name.front() == '/') return "name begins with \"/\"";
  if (name.back() == '/') return "name ends with \"/\"";
  if (name.find('\\') != std::string::npos) return "name holds a backslash (use \"/\" between levels)";
  if (name.find('\0') != std::string::npos) return "name holds a NUL byte";
  // Like a leading "/", a ".." level would lead out of the image's own tree
  // wherever its names become paths (a folder mount, an unpacked copy); a "."
  // level gives one file two names.
  for (size_t start = 0; start <= name.size();) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const std::string level = name.substr(start, end - start);
    if (level == "." || level == "..") return "name holds a \"" + level + "\" level";
    start = end + 1;
  }
  for (char c : name) {
    if (c >= 'A' && c <= 'Z') return "name holds upper-case letters (the reader could never find it)";
  }
  return "";
}

std::vector<uint8_t> corepack_build(const std::vector<PackEntry>& entries, uint32_t base, bool trailer) {
  size_t table_bytes = 0;
  for (const PackEntry& e : entries) table_bytes += COREFILE_ENTRY_BYTES + e.name.size();
  uint32_t offset = static_cast<uint32_t>(base + COREFILE_HEADER_BYTES + table_bytes);
  uint32_t romsize = offset;
  for (const PackEntry& e : entries) romsize += static_cast<uint32_t>(e.data.size());

  std::vector<uint8_t> out;
  out.reserve(romsize - base + COREFILE_TRAILER_BYTES);
  for (int i = 0; i < COREFILE_MAGIC_BYTES; i++) out.push_back(static_cast<uint8_t>(COREFILE_MAGIC[i]));
  put_u32(&out, static_cast<uint32_t>(entries.size()));
  put_u32(&out, romsize);
  for (const PackEntry& e : entries) {
    put_u32(&out, static_cast<uint32_t>(e.name.size()));
    put_u32(&out, static_cast<uint32_t>(corefile_gethash(e.name.c_str())));
    out.insert(out.end(), e.name.begin(), e.name.end());
    put_u32(&out, offset);
    offset += static_cast<uint32_t>(e.data.size());
  }
  for (const PackEntry& e : entries) out.insert(out.end(), e.data.begin(), e.data.end());
  if (trailer) put_u32(&out, base);
  return out;
}

bool corepack_list(const char* path, std::vector<ListedEntry>* entries, std::string* error) {
  entries->clear();
  QuietStdout quiet;
  int mounted = corefile_mountimage(path, COREFILE_KIND_IMAGE);
  // No image from the first byte on (a wrong magic is no damage): perhaps one
  // appended to a host file.
  if (!mounted && *corefile_damage() == '\0') mounted = corefile_mountimage(path, COREFILE_KIND_APPENDED);
  bool listed = false;
  if (!mounted) {
    *error = *corefile_damage() != '\0' ? corefile_damage() : "no CORE header";
  } else {
    listed = list_mounted(entries, error);
    if (!listed) entries->clear();
  }
  corefile_closeimage();
  return listed;
}
