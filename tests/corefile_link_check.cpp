// Link check: a program that links only libcorefile.a and libcore.a has the
// whole file system. It mounts an image it writes itself, opens, reads, lists
// and unmounts it, then mounts a directory and saves and loads a file there.
// Exit status 0 when every step gave what it should; a line on standard error
// names the first step that did not.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/core.h"
#include "corefile/corefile.h"

namespace {

int fail(const char* step) {
  std::fprintf(stderr, "corefile link check: %s\n", step);
  return 1;
}

void put32(std::string* out, uint32_t value) {
  unsigned char bytes[4];
  core_putle32(bytes, value);
  out->append(reinterpret_cast<const char*>(bytes), 4);
}

// One file, "gfx/a.txt" holding "hi", in a standalone image.
bool write_image(const char* path) {
  const std::string name = "gfx/a.txt";
  const uint32_t data_offset = 12 + 12 + static_cast<uint32_t>(name.size());
  std::string image = "CORE";
  put32(&image, 1);
  put32(&image, data_offset + 2);
  put32(&image, static_cast<uint32_t>(name.size()));
  put32(&image, static_cast<uint32_t>(corefile_gethash(name.c_str())));
  image += name;
  put32(&image, data_offset);
  image += "hi";
  FILE* out = std::fopen(path, "wb");
  if (!out) return false;
  const bool written = std::fwrite(image.data(), 1, image.size(), out) == image.size();
  return std::fclose(out) == 0 && written;
}

}  // namespace

int main() {
  if (!write_image("link.dat")) return fail("cannot write the image");
  std::fflush(stdout);
  if (corefile_mountimage("link.dat", COREFILE_KIND_IMAGE) != 1) return fail("the image did not mount");
  s_corefile file = {};
  if (corefile_open("GFX/A.TXT", &file, 0) != 1) return fail("the file was not found");
  char text[3] = {};
  corefile_read(text, 1, 2, &file);
  corefile_close(&file);
  if (std::strcmp(text, "hi") != 0) return fail("the file's bytes differ");
  corefile_readdir("*.txt");
  if (corefile_numfiles != 1 || !corefile_filelist[0].isdir) return fail("the root lists no gfx directory");
  corefile_chdir("gfx");
  corefile_readdir("*.txt");
  if (corefile_numfiles != 2 || corefile_filelist[1].size != 2) return fail("gfx lists no a.txt of 2 bytes");
  corefile_closeimage();
  if (g_mem_in_use != 0) return fail("unmounting left blocks counted");

  mkdir("disk", 0755);
  if (corefile_mountimage("disk", COREFILE_KIND_DIRECTORY) != 1 || corefile_mounttype != COREFILE_MOUNT_DIRECTORY)
    return fail("the directory did not mount");
  corefile_savebuffer("saved.bin", "abc", 3);
  char* block = static_cast<char*>(corefile_loadbuffer("saved.bin"));
  if (!block || std::memcmp(block, "abc", 3) != 0) return fail("the saved file did not load back");
  _wrap_free_dbg(block, "link check", __LINE__);
  corefile_closeimage();
  return 0;
}
