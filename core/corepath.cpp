// corepath: files by UTF-8 name; see corepath.h.
//
// Threads: any.
#include "core/corepath.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include <dirent.h>
#include <direct.h>
#include <io.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

#include <climits>

// ---- Text -----------------------------------------------------------------------

bool core_utf8to16(const char* text, std::u16string* out) {
  out->clear();
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p) {
    const unsigned lead = *p++;
    int more = 0;
    char32_t code = 0, least = 0;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      code = lead & 0x1F, more = 1, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      code = lead & 0x0F, more = 2, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      code = lead & 0x07, more = 3, least = 0x10000;
    } else {
      out->clear();
      return false;  // a continuation byte with no lead, or 0xF8 and above
    }
    for (; more > 0; more--, p++) {
      if ((*p & 0xC0) != 0x80) {  // also the terminating zero
        out->clear();
        return false;
      }
      code = code << 6 | (*p & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      out->clear();
      return false;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(code));
    }
  }
  return true;
}

bool core_utf16to8(const char16_t* text, size_t length, std::string* out) {
  out->clear();
  for (size_t i = 0; i < length; i++) {
    char32_t code = text[i];
    if (code >= 0xDC00 && code <= 0xDFFF) {
      out->clear();
      return false;
    }
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 1 >= length || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
        out->clear();
        return false;
      }
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (code < 0x80) {
      out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out->push_back(static_cast<char>(0xC0 | code >> 6));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | code >> 12));
      out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | code >> 18));
      out->push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return true;
}

namespace {

// Copies text into out when it fits with its zero; out is left empty when not.
bool copyout(const std::string& text, char* out, size_t capacity) {
  if (capacity == 0) return false;
  out[0] = 0;
  if (text.size() >= capacity) return false;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return true;
}

#ifdef _WIN32
// A UTF-8 name as the wide string the system calls take; false (errno EINVAL) when it is malformed.
bool widen(const char* text, std::wstring* out) {
  std::u16string wide;
  if (!core_utf8to16(text, &wide)) {
    errno = EINVAL;
    return false;
  }
  out->assign(wide.begin(), wide.end());
  return true;
}

bool narrow(const wchar_t* text, std::string* out) {
  const std::u16string wide(text, text + wcslen(text));
  return core_utf16to8(wide.data(), wide.size(), out);
}
#endif

}  // namespace

// ---- Files ----------------------------------------------------------------------

#ifdef _WIN32

FILE* core_fopen(const char* path, const char* mode) {
  std::wstring name, wmode;
  if (!widen(path, &name) || !widen(mode, &wmode)) return nullptr;
  return _wfopen(name.c_str(), wmode.c_str());
}

int core_stat(const char* path, struct stat* info) {
  std::wstring name;
  if (!widen(path, &name)) return -1;
  struct _stat64 wide;
  if (_wstat64(name.c_str(), &wide) != 0) return -1;
  std::memset(info, 0, sizeof *info);
  info->st_mode = wide.st_mode;
  // The narrow record's size is 32 bits here: a larger file shows as the
  // largest size, which every reader refuses as too long.
  info->st_size = wide.st_size > LONG_MAX ? LONG_MAX : static_cast<long>(wide.st_size);
  info->st_mtime = static_cast<time_t>(wide.st_mtime);
  return 0;
}

int core_access(const char* path, int mode) {
  std::wstring name;
  return widen(path, &name) ? _waccess(name.c_str(), mode) : -1;
}

int core_rename(const char* from, const char* to) {
  std::wstring a, b;
  if (!widen(from, &a) || !widen(to, &b)) return -1;
  if (MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
  return -1;
}

int core_remove(const char* path) {
  std::wstring name;
  return widen(path, &name) ? _wremove(name.c_str()) : -1;
}

bool core_currentfolder(char* out, size_t capacity) {
  std::string text;
  wchar_t* here = _wgetcwd(nullptr, 0);
  const bool ok = here && narrow(here, &text) && copyout(text, out, capacity);
  std::free(here);
  return ok;
}

bool core_fullpath(const char* path, char* out, size_t capacity) {
  std::wstring name;
  struct stat info;
  if (!widen(path, &name) || core_stat(path, &info) != 0) return false;
  const DWORD length = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (length == 0) return false;
  std::vector<wchar_t> full(length + 1);
  if (GetFullPathNameW(name.c_str(), length + 1, full.data(), nullptr) == 0) return false;
  std::string text;
  return narrow(full.data(), &text) && copyout(text, out, capacity);
}

bool core_executablepath(char* out, size_t capacity) {
  if (capacity > 0) out[0] = 0;
  std::vector<wchar_t> name(MAX_PATH);
  for (;;) {  // a longer path than the buffer is cut without an error: grow and ask again
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return false;
    if (length < name.size()) break;
    if (name.size() >= 32768) return false;
    name.resize(name.size() * 2);
  }
  std::string text;
  return narrow(name.data(), &text) && copyout(text, out, capacity);
}

bool core_openfolder(s_corefolder* folder, const char* path) {
  std::wstring name;
  folder->handle = widen(path, &name) ? _wopendir(name.c_str()) : nullptr;
  return folder->handle != nullptr;
}

const char* core_readfolder(s_corefolder* folder) {
  for (;;) {
    const _wdirent* entry = _wreaddir(static_cast<_WDIR*>(folder->handle));
    if (!entry) return nullptr;
    if (narrow(entry->d_name, &folder->name)) return folder->name.c_str();
    // A name that is no valid UTF-16 could not be opened by its UTF-8 form: passed over.
  }
}

int core_closefolder(s_corefolder* folder) {
  const int result = folder->handle ? _wclosedir(static_cast<_WDIR*>(folder->handle)) : 0;
  folder->handle = nullptr;
  return result;
}

void core_utf8commandline(int* argc, char*** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return;
  // Kept to the end of the process, as argv is.
  static std::vector<std::string> texts;
  static std::vector<char*> pointers;
  texts.assign(static_cast<size_t>(count), std::string());
  for (int i = 0; i < count; i++) {
    if (!narrow(wide[i], &texts[i])) {  // an unpaired surrogate: the narrow argv is all there is
      LocalFree(wide);
      return;
    }
  }
  LocalFree(wide);
  pointers.clear();
  for (std::string& text : texts) pointers.push_back(&text[0]);
  pointers.push_back(nullptr);
  *argc = count;
  *argv = pointers.data();
}

#else  // POSIX: the names are handed over as they are

FILE* core_fopen(const char* path, const char* mode) { return std::fopen(path, mode); }
int core_stat(const char* path, struct stat* info) { return stat(path, info); }
int core_access(const char* path, int mode) { return access(path, mode); }
int core_rename(const char* from, const char* to) { return std::rename(from, to); }
int core_remove(const char* path) { return std::remove(path); }

bool core_currentfolder(char* out, size_t capacity) {
  if (capacity > 0 && getcwd(out, capacity)) return true;
  if (capacity > 0) out[0] = 0;
  return false;
}

bool core_fullpath(const char* path, char* out, size_t capacity) {
  char* full = realpath(path, nullptr);
  const bool ok = full && copyout(full, out, capacity);
  std::free(full);
  return ok;
}

bool core_executablepath(char* out, size_t capacity) {
  if (capacity == 0) return false;
  const ssize_t length = readlink("/proc/self/exe", out, capacity - 1);
  out[length > 0 ? length : 0] = 0;
  return length > 0 && static_cast<size_t>(length) < capacity - 1;
}

bool core_openfolder(s_corefolder* folder, const char* path) {
  folder->handle = opendir(path);
  return folder->handle != nullptr;
}

const char* core_readfolder(s_corefolder* folder) {
  const dirent* entry = readdir(static_cast<DIR*>(folder->handle));
  if (!entry) return nullptr;
  folder->name = entry->d_name;
  return folder->name.c_str();
}

int core_closefolder(s_corefolder* folder) {
  const int result = folder->handle ? closedir(static_cast<DIR*>(folder->handle)) : 0;
  folder->handle = nullptr;
  return result;
}

void core_utf8commandline(int*, char***) {}

#endif
