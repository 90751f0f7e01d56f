// corefile_listing: the local path inside the mount and the listing of the
// files and directories below it.
//
// A listing holds ".." (except at the root), then the subdirectories in the
// order of their first file in the table, then the files in table order, each
// with its label, its full name and its size.
//
// Threads: main thread only.
#include <sys/stat.h>

#include <cstring>

#include "corefile/corefile_internal.h"

using namespace corefile_internal;

// ---- Constants --------------------------------------------------------------
namespace {

constexpr int kExtensionBytes = 16;  // a filter's extension: 15 characters and the terminator

const char* const kMsgLocalPath = "localpath = %s\n";
const char* const kMsgExtension = "extension = %s, length: %d\n";
const char* const kMsgRoot = "dir is root\n";
const char* const kMsgListed = "- ReadDIR completed!\n";

// Length of the file of table entry j for a listing: derived in an image mount,
// asked of the file system in a directory mount (whose offsets are not filled).
// -1 for a file of a directory mount that an open refuses (gone, not a regular
// file, or longer than kMaxBytes): the listing offers only what opens.
int listed_size(uint32_t j) {
  if (corefile_mounttype != COREFILE_MOUNT_DIRECTORY) return entry_length(j);
  char path[kPathBytes * 2];
  snprintf(path, sizeof path, "%s/%s", static_cast<const char*>(corefile_image.data), corefile_image.names[j]);
  struct stat info;
  if (core_stat(path, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<int64_t>(info.st_size) > kMaxBytes) return -1;
  return static_cast<int>(info.st_size);
}

// Whether rest (a name after the local path) lies in a subdirectory: it holds a
// "/" before its last character. Only "/" separates levels in a name; a
// backslash is an ordinary byte of a file's name.
bool in_subdirectory(const char* rest) {
  const char* slash = strchr(rest, '/');
  return slash && slash[1] != '\0';
}

// Length of the first level of a rest that lies in a subdirectory: up to its
// first "/" or backslash.
int first_level_length(const char* rest) {
  int i = 0;
  while (rest[i] && !is_separator(rest[i])) i++;
  return i;
}

void append_listing(const char* label, const char* name, int size, uint8_t isdir) {
  if (corefile_numfiles >= filelist_capacity) return;
  s_listentry& entry = corefile_filelist[corefile_numfiles++];
  entry.label = counted_copy(label);
  entry.name = counted_copy(name);
  entry.size = size;
  entry.isdir = isdir;
}

}  // namespace

// ---- Internal to the module ------------------------------------------------------

// Releases the texts of the current listing and empties it.
void corefile_internal::clear_listing() {
  for (int i = 0; i < corefile_numfiles; i++) {
    free_if_set(corefile_filelist[i].label);
    free_if_set(corefile_filelist[i].name);
    corefile_filelist[i] = s_listentry{};
  }
  corefile_numfiles = 0;
}

void corefile_internal::clear_dirnames() {
  for (int i = 0; i < corefile_numdirs; i++) {
    free_if_set(corefile_dirnames[i]);
    corefile_dirnames[i] = nullptr;
  }
  corefile_numdirs = 0;
}

// ---- Public functions ---------------------------------------------------------------

void corefile_chdir(const char* dir) {
  if (!corefile_localpath || strcmp(dir, ".") == 0) return;
  char* path = corefile_localpath;
  if (strcmp(dir, "..") == 0) {
    int cut = 0;  // going up from the first level, the root or a path without a separator gives the root
    for (int i = static_cast<int>(strlen(path)) - 2; i >= 0; i--) {
      if (is_separator(path[i])) {
        cut = i;
        break;
      }
    }
    path[cut] = '\0';
  } else if (is_separator(dir[0])) {
    snprintf(path, kPathBytes, "%s", dir);
  } else {
    size_t used = strlen(path);
    snprintf(path + used, kPathBytes - used, "%s", dir);
  }
  size_t used = strlen(path);
  if ((used == 0 || path[used - 1] != '/') && used + 1 < kPathBytes) {
    path[used] = '/';
    path[used + 1] = '\0';
  }
  _dbg_printf(kMsgLocalPath, path);
}

const char* corefile_getpath() { return corefile_localpath ? corefile_localpath : ""; }

void corefile_adddir(const char* dir) {
  for (int i = 0; i < corefile_numdirs; i++) {
    if (strcmp(corefile_dirnames[i], dir) == 0) return;
  }
  if (corefile_numdirs >= kMaxDirNames) return;
  char* copy = counted_copy(dir);
  if (copy) corefile_dirnames[corefile_numdirs++] = copy;
}

void corefile_readdir(const char* filter) {
  // A filter whose only "." is its first character, or that has none, has no
  // extension and admits every file.
  char extension[kExtensionBytes] = "";
  const char* dot = strrchr(filter, '.');
  if (dot && dot != filter) snprintf(extension, sizeof extension, "%s", dot);
  int extension_length = static_cast<int>(strlen(extension));
  _dbg_printf(kMsgExtension, extension, extension_length);
  bool admit_all = extension_length == 0 || strcmp(extension, ".*") == 0;

  if (corefile_filelist) clear_listing();
  const char* local = corefile_getpath();
  bool at_root = local[0] == '\0' || strcmp(local, "/") == 0;
  if (at_root) _dbg_printf(kMsgRoot);

  clear_dirnames();
  if (!at_root) corefile_adddir("..");

  const char* prefix = local[0] == '/' ? local + 1 : local;
  size_t prefix_length = strlen(prefix);
  for (uint32_t j = 0; j < corefile_image.numfiles; j++) {
    const char* name = corefile_image.names[j];
    if (!name || strncmp(name, prefix, prefix_length) != 0) continue;
    const char* rest = name + prefix_length;
    if (!in_subdirectory(rest)) continue;
    char level[kPathBytes];
    snprintf(level, sizeof level, "%.*s", first_level_length(rest), rest);
    corefile_adddir(level);
  }

  if (corefile_filelist) {
    for (int i = 0; i < corefile_numdirs; i++) {
      char label[kPathBytes + 2];
      snprintf(label, sizeof label, "[%s]", corefile_dirnames[i]);
      append_listing(label, corefile_dirnames[i], 0, 1);
    }
  }
  clear_dirnames();

  for (uint32_t j = 0; corefile_filelist && j < corefile_image.numfiles; j++) {
    const char* name = corefile_image.names[j];
    if (!name || strncmp(name, prefix, prefix_length) != 0) continue;
    const char* rest = name + prefix_length;
    if (in_subdirectory(rest)) continue;
    int rest_length = static_cast<int>(strlen(rest));
    bool admitted = admit_all || (rest_length >= extension_length &&
                                  memcmp(rest + rest_length - extension_length, extension, extension_length) == 0);
    int size = admitted ? listed_size(j) : -1;
    if (size >= 0) append_listing(rest, name, size, 0);
  }
  _dbg_printf(kMsgListed);
}

