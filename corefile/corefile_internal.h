// corefile_internal.h: what the three sources of the file system share.
//
// corefile-std.cpp is the image reader (the module's state, mounting, the
// image's table, file access); corefile_dirmount.cpp scans a directory tree
// mounted in place of an image; corefile_listing.cpp keeps the local path and
// builds listings. All three take their blocks under the one source path
// "corefile/corefile-std" that the counting allocation reports.
//
// Threads: main thread only, like the whole module.
#pragma once

#include <climits>
#include <cstdint>

#include "core/core.h"
#include "core/corepath.h"
#include "corefile/corefile.h"

namespace corefile_internal {

// ---- Constants ----------------------------------------------------------------
constexpr const char* kSource = "corefile/corefile-std";
constexpr int kPathBytes = 256;    // local path, scan buffers, names of a directory mount
constexpr int kMaxDirNames = 256;  // the listing's set of directory names
// The largest block the counting allocation takes (its size is an int), and so
// the largest table, name or file the module handles, in bytes. A position in
// an open file is an int too, so no file of a mount may reach past it.
constexpr int64_t kMaxBytes = INT_MAX;

// Printed by the mount and by the scan of a directory it cannot read.
const char* const kMsgDirError = "error reading directory\n";

// ---- State ------------------------------------------------------------------------
// The scan of a directory mount, one pass at a time.
struct s_dirscan {
  char curDir[kPathBytes];   // relative path of the directory being scanned, every level followed by "/"
  int diroffset;             // valid bytes of curDir; there is no terminator
  char curFile[kPathBytes];  // relative path of the file being recorded
  uint32_t capacity;         // entries of corefile_image.names the recording pass may fill (the tree
                             // may have grown since it was counted)
};
extern s_dirscan g_scan;
// Room in corefile_filelist: every file of the mount plus the ".." entry.
extern int filelist_capacity;

// ---- Helpers (corefile-std.cpp) ------------------------------------------------------
char* counted_copy(const char* text);
void free_if_set(void* block);
bool is_separator(char c);
// Length of entry j of an image, derived from the next offset (romsize for the last).
int entry_length(uint32_t j);
// Zeroed arrays for count entries; false when they cannot be had.
bool allocate_table(uint32_t count);
void free_table();
// Both mount kinds end alike: an empty listing table and the local path "/". Returns 1.
int finish_header();

// ---- Listing (corefile_listing.cpp) ---------------------------------------------------
// Releases the texts of the current listing and empties it.
void clear_listing();
void clear_dirnames();

// ---- Directory mount (corefile_dirmount.cpp) --------------------------------------------
// Counts, then records, the files below the mounted directory (corefile_image.data).
int readheader_directory();

}  // namespace corefile_internal

#define CF_ALLOC(bytes) _wrap_malloc_dbg((bytes), corefile_internal::kSource, __LINE__)
#define CF_FREE(block) _wrap_free_dbg((block), corefile_internal::kSource, __LINE__)
