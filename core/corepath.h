// corepath: files by UTF-8 name on every platform.
//
// Every name the engine hands to the system (the data file, the makers'
// folder, --still's PNG, the folder scan's entries) is UTF-8. On Linux the
// calls below are the plain C and POSIX ones; on Windows, whose narrow calls
// read names in the local code page, they convert to UTF-16 and use the wide
// calls (_wfopen, _wstat64, _wopendir, MoveFileExW, GetFullPathNameW,
// GetModuleFileNameW), so a folder named "Démo x" works there as it does here.
// The UTF-8/UTF-16 conversion is our own and the same on both platforms; it
// refuses malformed input rather than guessing.
//
// Threads: any; nothing here keeps state, except core_utf8commandline, which
// runs once at the start of main.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdio>
#include <string>

// ---- Text ---------------------------------------------------------------------

// UTF-8 to UTF-16; false (and *out emptied) for malformed UTF-8: a stray or
// missing continuation byte, an overlong form, a surrogate or a value above
// U+10FFFF.
bool core_utf8to16(const char* text, std::u16string* out);
// UTF-16 to UTF-8; false (and *out emptied) for an unpaired surrogate.
bool core_utf16to8(const char16_t* text, size_t length, std::string* out);

// ---- Files --------------------------------------------------------------------

FILE* core_fopen(const char* path, const char* mode);
// stat by UTF-8 name: 0, or -1 with errno set.
int core_stat(const char* path, struct stat* info);
// access by UTF-8 name (R_OK and the like): 0, or -1 with errno set.
int core_access(const char* path, int mode);
// Renames, replacing a file already at `to` (which Windows' rename refuses): 0 or -1 with errno.
int core_rename(const char* from, const char* to);
int core_remove(const char* path);
// The current folder into out; false when it does not fit.
bool core_currentfolder(char* out, size_t capacity);
// The absolute form of path (links resolved where the platform has them); false when it is missing or does not fit.
bool core_fullpath(const char* path, char* out, size_t capacity);
// The running program's own file; false (out empty) when the system does not say.
bool core_executablepath(char* out, size_t capacity);

// ---- Folders ------------------------------------------------------------------

// An open folder listing: core_openfolder, then core_readfolder until it
// answers null, then core_closefolder.
struct s_corefolder {
  void* handle = nullptr;  // the platform's folder stream
  std::string name;        // the last entry's name, UTF-8
};
bool core_openfolder(s_corefolder* folder, const char* path);
// The next entry's name ("." and ".." included, as the system lists them), or null at the end.
const char* core_readfolder(s_corefolder* folder);
// 0, or -1 when the system reports a failure closing it.
int core_closefolder(s_corefolder* folder);

// ---- Command line ---------------------------------------------------------------

// On Windows, replaces argc and argv with the command line the system holds in
// UTF-16, converted to UTF-8 (the narrow argv has lost what the code page
// lacks); the strings live until the process ends. Elsewhere, leaves them.
void core_utf8commandline(int* argc, char*** argv);
