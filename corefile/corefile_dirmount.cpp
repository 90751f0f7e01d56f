// corefile_dirmount: a directory tree on disk mounted in place of an image.
//
// The mount counts the files below the directory in one pass, takes the
// table's arrays for that many, and records their relative paths in a second
// pass ("sub/name.ext", letter case as on disk). Offsets and hashes stay
// unset: the files are opened on disk.
//
// The scan never changes the working folder: every entry is reached by a
// path built from the mounted folder's, so a relative mount path, a "./" or
// "../" prefix and a symbolic link all read the same tree, and the platforms
// without fchdir scan it the same way.
//
// Threads: main thread only.
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "corefile/corefile_internal.h"

using namespace corefile_internal;

// ---- Constants --------------------------------------------------------------
namespace {

const char* const kMsgFoundFiles = "Found %d files\n";
const char* const kMsgSublevels = "path has %d sublevels\n";
const char* const kMsgCloseError = "Error closing directory\n";

// ---- Internal functions ---------------------------------------------------------

// Empties the scan buffers and the table's count for the next pass; the room
// in the table stays as it is.
void begin_scan_pass() {
  memset(g_scan.curDir, 0, sizeof g_scan.curDir);
  memset(g_scan.curFile, 0, sizeof g_scan.curFile);
  g_scan.diroffset = 0;
  corefile_image.numfiles = 0;
}

// Adds the files below the folder at path to the table (pass 1) or counts
// them (pass 0), the folders below it first met first; g_scan.curDir holds
// the folder's place relative to the mount. The mounted folder itself (top)
// says how many levels its path has once it opens.
void scan_folder(const std::string& path, int pass, bool top) {
  s_corefolder dir;
  if (!core_openfolder(&dir, path.c_str())) {
    _dbg_printf(kMsgDirError);
    return;
  }
  if (top) {
    int levels = 1;
    for (size_t i = 1; i + 1 < path.size(); i++) {
      if (path[i] == '/') levels++;
    }
    if (levels > 1) _dbg_printf(kMsgSublevels, levels);
  }
  while (const char* name = core_readfolder(&dir)) {
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    const std::string inside = path + "/" + name;
    struct stat info;
    if (core_stat(inside.c_str(), &info) != 0) continue;
    int name_length = static_cast<int>(strlen(name));
    if (S_ISDIR(info.st_mode)) {
      // A tree deeper than the scan buffer holds is skipped, which also ends
      // any loop through symbolic links.
      if (g_scan.diroffset + name_length + 1 >= kPathBytes) continue;
      memcpy(g_scan.curDir + g_scan.diroffset, name, name_length);
      g_scan.curDir[g_scan.diroffset + name_length] = '/';
      g_scan.diroffset += name_length + 1;
      scan_folder(inside, pass, false);
      g_scan.diroffset -= name_length + 1;
      continue;
    }
    if (g_scan.diroffset + name_length >= kPathBytes) continue;
    memcpy(g_scan.curFile, g_scan.curDir, g_scan.diroffset);
    memcpy(g_scan.curFile + g_scan.diroffset, name, name_length + 1);
    if (pass == 1) {
      if (corefile_image.numfiles >= g_scan.capacity) continue;  // the tree grew since it was counted
      char* stored = static_cast<char*>(CF_ALLOC(kPathBytes));
      if (!stored) continue;
      memset(stored, 0, kPathBytes);
      snprintf(stored, kPathBytes, "%s", g_scan.curFile);
      corefile_image.names[corefile_image.numfiles] = stored;
    }
    corefile_image.numfiles++;
  }
  if (core_closefolder(&dir) != 0) _dbg_printf(kMsgCloseError);
}

}  // namespace

// ---- Internal to the module ------------------------------------------------------

int corefile_internal::readheader_directory() {
  const char* path = static_cast<const char*>(corefile_image.data);
  begin_scan_pass();
  corefile_opendir(path, 0);
  _dbg_printf(kMsgFoundFiles, static_cast<int>(corefile_image.numfiles));

  uint32_t counted = corefile_image.numfiles;
  corefile_image.numfiles = 0;
  if (!allocate_table(counted)) {
    free_table();
    return 0;
  }
  begin_scan_pass();
  corefile_opendir(path, 1);
  return finish_header();
}

// ---- Public functions ---------------------------------------------------------------

void corefile_opendir(const char* path, int pass) { scan_folder(path, pass, true); }
