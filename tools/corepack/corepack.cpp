// corepack: packs files into a "CORE" resource image, or lists one.
//
//   corepack -o OUT [--append HOST] INPUT...
//   corepack --list IMAGE
//
// An INPUT is a file (stored under its base name), a folder (every regular
// file of its tree, stored under its path relative to the folder, sorted), or
// NAME=FILE (stored under NAME). With --append, OUT is HOST's bytes followed by
// the image and the 4-byte trailer. Names must be lower case: the reader
// lower-cases every request, so an upper-case name could never be found.
// --list reads the image through the engine's reader (corefile), as the show does.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "core/core.h"
#include "corepack_format.h"

namespace fs = std::filesystem;

namespace {

void usage(FILE* to) {
  fprintf(to,
          "usage: corepack -o OUT [--append HOST] INPUT...\n"
          "       corepack --list IMAGE\n"
          "INPUT is a file (stored under its base name), a folder (its tree, names\n"
          "relative to the folder) or NAME=FILE. Names must be lower case.\n");
}

bool read_file(const fs::path& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool add_entry(std::vector<PackEntry>* entries, const std::string& name, const fs::path& source) {
  std::string why = corepack_check_name(name);
  if (!why.empty()) {
    fprintf(stderr, "corepack: refusing \"%s\" (from %s): %s\n", name.c_str(), source.c_str(), why.c_str());
    return false;
  }
  for (const PackEntry& e : *entries) {
    if (e.name == name) fprintf(stderr, "corepack: warning: \"%s\" is stored twice; the first one wins\n", name.c_str());
  }
  PackEntry entry;
  entry.name = name;
  if (!read_file(source, &entry.data)) {
    fprintf(stderr, "corepack: cannot read %s\n", source.c_str());
    return false;
  }
  entries->push_back(std::move(entry));
  return true;
}

bool add_input(std::vector<PackEntry>* entries, const std::string& input) {
  size_t equals = input.find('=');
  if (equals != std::string::npos && equals > 0) {
    return add_entry(entries, input.substr(0, equals), input.substr(equals + 1));
  }
  std::error_code ec;
  fs::path path(input);
  if (fs::is_directory(path, ec)) {
    std::vector<fs::path> files;
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      if (it->is_regular_file(ec)) files.push_back(it->path());
    }
    if (ec) {
      fprintf(stderr, "corepack: cannot walk %s: %s\n", input.c_str(), ec.message().c_str());
      return false;
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      if (!add_entry(entries, file.lexically_relative(path).generic_string(), file)) return false;
    }
    return true;
  }
  if (fs::is_regular_file(path, ec)) return add_entry(entries, path.filename().string(), path);
  fprintf(stderr, "corepack: no such file or folder: %s\n", input.c_str());
  return false;
}

int list_image(const char* image) {
  std::error_code ec;
  if (fs::is_directory(image, ec) || !std::ifstream(image, std::ios::binary)) {
    fprintf(stderr, "corepack: cannot read %s\n", image);
    return 1;
  }
  std::vector<ListedEntry> entries;
  std::string error;
  if (!corepack_list(image, &entries, &error)) {
    fprintf(stderr, "corepack: %s is not a valid image: %s\n", image, error.c_str());
    return 1;
  }
  printf("%-40s %10s %10s %11s\n", "name", "offset", "size", "hash");
  for (const ListedEntry& e : entries) printf("%-40s %10u %10u %11d\n", e.name.c_str(), e.offset, e.size, e.hash);
  printf("%zu files\n", entries.size());
  return 0;
}

// Writes next to the target and renames, so that a failed run never leaves a
// half-written image behind for the build to pick up.
bool write_atomically(const std::string& out, const std::vector<uint8_t>& host, const std::vector<uint8_t>& image) {
  std::string temp = out + ".tmp";
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(host.data()), static_cast<std::streamsize>(host.size()));
    file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (!file) {
      fprintf(stderr, "corepack: cannot write %s\n", temp.c_str());
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temp, out, ec);
  if (ec) {
    fprintf(stderr, "corepack: cannot rename %s to %s: %s\n", temp.c_str(), out.c_str(), ec.message().c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  core_keepstdio();  // with standard output closed, the image written could take its place
  std::string out, host, list;
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "-h" || arg == "--help") {
      usage(stdout);
      return 0;
    } else if ((arg == "-o" || arg == "--output") && has_value) {
      out = argv[++i];
    } else if (arg == "--append" && has_value) {
      host = argv[++i];
    } else if (arg == "--list" && has_value) {
      list = argv[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      fprintf(stderr, "corepack: unknown or incomplete option %s\n", arg.c_str());
      usage(stderr);
      return 2;
    } else {
      inputs.push_back(arg);
    }
  }
  if (!list.empty()) return list_image(list.c_str());
  if (out.empty()) {
    usage(stderr);
    return 2;
  }

  std::vector<PackEntry> entries;
  for (const std::string& input : inputs) {
    if (!add_input(&entries, input)) return 1;
  }
  std::vector<uint8_t> host_bytes;
  if (!host.empty() && !read_file(host, &host_bytes)) {
    fprintf(stderr, "corepack: cannot read host file %s\n", host.c_str());
    return 1;
  }
  uint64_t total = host_bytes.size() + 4;
  for (const PackEntry& e : entries) total += e.data.size() + e.name.size() + 12;
  if (total + 12 > UINT32_MAX) {
    fprintf(stderr, "corepack: image too large: positions are 32-bit\n");
    return 1;
  }
  std::vector<uint8_t> image =
      corepack_build(entries, static_cast<uint32_t>(host_bytes.size()), !host.empty());
  return write_atomically(out, host_bytes, image) ? 0 : 1;
}
