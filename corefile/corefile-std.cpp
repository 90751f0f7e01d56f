// corefile: mounting, file access and directories over a "CORE" image or a
// directory tree on disk. See corefile.h for the format and the glossary.
//
// Every block is taken with the counting allocation of core/ under the source
// path "corefile/corefile-std", and every line goes through _dbg_printf.
// The module is not thread-safe: all files of an image share one stream, and
// the directory scan moves the process's working directory.
#include "corefile/corefile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "core/core.h"

// ---- Constants --------------------------------------------------------------
namespace {

constexpr const char* kSource = "corefile/corefile-std";
constexpr int kHeaderBytes = 12;     // "CORE", numfiles, romsize
constexpr int kMinEntryBytes = 12;   // name length, hash, offset (an empty name)
constexpr int kPathBytes = 256;      // local path, scan buffers, names of a directory mount
constexpr int kExtensionBytes = 16;  // a filter's extension: 15 characters and the terminator
constexpr int kMaxDirNames = 256;    // the listing's set of directory names
// The largest block the counting allocation takes (its size is an int), and so
// the largest table, name or file the module handles, in bytes. A position in
// an open file is an int too, so no file of a mount may reach past it.
constexpr int64_t kMaxBytes = INT_MAX;

// Every line the module prints. The lines this implementation adds to the
// reader's progress and failure lines begin with the module's name, "corefile: ".
const char* const kMsgLoading = "Loading resource image: %s\n";
const char* const kMsgCannotOpen = "could not open image: %s\n";
const char* const kMsgFromFile = "loading from file\n";
const char* const kMsgFromExecutable = "loading from executable\n";
const char* const kMsgNumFiles = "numfiles: %d\n";
const char* const kMsgRomSize = "romsize: %d\n";
const char* const kMsgDamaged = "corefile: damaged image: %s\n";
const char* const kMsgFoundFiles = "Found %d files\n";
const char* const kMsgFoundFile = "found file at offset: %d\n";
const char* const kMsgNotFound = "couldn't find file: %s\n";
const char* const kMsgLocalPath = "localpath = %s\n";
const char* const kMsgExtension = "extension = %s, length: %d\n";
const char* const kMsgRoot = "dir is root\n";
const char* const kMsgListed = "- ReadDIR completed!\n";
const char* const kMsgDirError = "error reading directory\n";
const char* const kMsgSublevels = "path has %d sublevels\n";
const char* const kMsgCloseError = "Error closing directory\n";
const char* const kMsgNotRegular = "corefile: not a regular file: %s\n";
const char* const kMsgTooLarge = "corefile: file too large: %s\n";

}  // namespace

#define CF_ALLOC(bytes) _wrap_malloc_dbg((bytes), kSource, __LINE__)
#define CF_FREE(block) _wrap_free_dbg((block), kSource, __LINE__)

// ---- Globals ----------------------------------------------------------------
s_coreimage corefile_image = {};
int corefile_mounttype = COREFILE_MOUNT_IMAGE;
FILE* g_fp = nullptr;
char corefile_pathname[1024] = "";
s_listentry* corefile_filelist = nullptr;
int corefile_numfiles = 0;
char* corefile_localpath = nullptr;
char* corefile_dirnames[kMaxDirNames] = {};
int corefile_numdirs = 0;

namespace {

// The scan of a directory mount, one pass at a time.
struct s_dirscan {
  char curDir[kPathBytes];   // relative path of the directory being scanned, every level followed by "/"
  int diroffset;             // valid bytes of curDir; there is no terminator
  char curFile[kPathBytes];  // relative path of the file being recorded
  uint32_t capacity;         // entries of corefile_image.names the recording pass may fill (the tree
                             // may have grown since it was counted)
};
s_dirscan g_scan = {};

// Room in corefile_filelist: every file of the mount plus the ".." entry.
int filelist_capacity = 0;
// The reason the last mount refused a damaged image; "" when it did not.
const char* g_damage = "";

// ---- Internal helpers ---------------------------------------------------------

char* counted_copy(const char* text) {
  size_t length = strlen(text);
  auto* copy = static_cast<char*>(CF_ALLOC(static_cast<int>(length + 1)));
  if (copy) memcpy(copy, text, length + 1);
  return copy;
}

void free_if_set(void* block) {
  if (block) CF_FREE(block);
}

bool is_separator(char c) { return c == '/' || c == '\\'; }

// Length of entry j of an image, derived from the next offset (romsize for the last).
int entry_length(uint32_t j) {
  uint32_t end = j + 1 < corefile_image.numfiles ? corefile_image.offsets[j + 1] : corefile_image.romsize;
  return static_cast<int>(end - corefile_image.offsets[j]);
}

// Where an open file's data starts in its stream: its offset in an image mount,
// 0 in a directory mount. A record whose index is not in the table (a closed or
// never-opened record) starts nowhere useful, so its reads deliver nothing.
bool file_start(const s_corefile* file, int64_t* start) {
  if (corefile_mounttype == COREFILE_MOUNT_DIRECTORY) {
    *start = 0;
    return true;
  }
  if (file->index < 0 || static_cast<uint32_t>(file->index) >= corefile_image.numfiles) return false;
  *start = corefile_image.offsets[file->index];
  return true;
}

// How many of the bytes from the record's position on still belong to the file
// (0 when the position lies outside it). Only an image mount clips: its stream
// goes on with the next file's data.
int64_t bytes_left_in_file(const s_corefile* file) {
  int64_t start = 0;
  if (!file_start(file, &start)) return 0;
  int64_t position = file->position;
  if (position < start || position >= start + file->size) return 0;
  return start + file->size - position;
}

// Position arithmetic wraps instead of overflowing: a caller may seek anywhere.
int add_wrapping(int a, int64_t b) {
  return static_cast<int>(static_cast<uint32_t>(a) + static_cast<uint32_t>(static_cast<int64_t>(b)));
}

bool read_exact(void* dst, size_t bytes) { return fread(dst, 1, bytes, g_fp) == bytes; }

bool read_u32(uint32_t* value) {
  unsigned char bytes[4];
  if (!read_exact(bytes, 4)) return false;
  *value = core_getle32(bytes);
  return true;
}

void free_table() {
  if (corefile_image.names) {
    for (uint32_t j = 0; j < corefile_image.numfiles; j++) free_if_set(corefile_image.names[j]);
  }
  free_if_set(corefile_image.offsets);
  free_if_set(corefile_image.names);
  free_if_set(corefile_image.hashes);
  corefile_image.offsets = nullptr;
  corefile_image.names = nullptr;
  corefile_image.hashes = nullptr;
  corefile_image.numfiles = 0;
  corefile_image.romsize = 0;
  g_scan.capacity = 0;
}

// Releases the texts of the current listing and empties it.
void clear_listing() {
  for (int i = 0; i < corefile_numfiles; i++) {
    free_if_set(corefile_filelist[i].label);
    free_if_set(corefile_filelist[i].name);
    corefile_filelist[i] = s_listentry{};
  }
  corefile_numfiles = 0;
}

void clear_dirnames() {
  for (int i = 0; i < corefile_numdirs; i++) {
    free_if_set(corefile_dirnames[i]);
    corefile_dirnames[i] = nullptr;
  }
  corefile_numdirs = 0;
}

// Bytes of the largest of the three arrays (names: one pointer per file), and
// of the listing table (one entry per file and the ".." entry), in 64 bits: a
// count read off a file times an entry's size passes 32 bits long before the
// file runs out.
int64_t table_bytes(uint32_t count) { return int64_t{count} * static_cast<int64_t>(sizeof(char*)); }
int64_t listing_bytes(uint32_t count) { return (int64_t{count} + 1) * static_cast<int64_t>(sizeof(s_listentry)); }

bool allocate_table(uint32_t count) {
  if (table_bytes(count) > kMaxBytes) return false;
  // Zeroed so that a table refused half-way can be released entry by entry.
  int bytes4 = static_cast<int>(int64_t{count} * 4);
  int bytesp = static_cast<int>(table_bytes(count));
  corefile_image.offsets = static_cast<uint32_t*>(CF_ALLOC(bytes4));
  corefile_image.hashes = static_cast<int32_t*>(CF_ALLOC(bytes4));
  corefile_image.names = static_cast<char**>(CF_ALLOC(bytesp));
  if (!corefile_image.offsets || !corefile_image.hashes || !corefile_image.names) return false;
  memset(corefile_image.offsets, 0, bytes4);
  memset(corefile_image.hashes, 0, bytes4);
  memset(corefile_image.names, 0, bytesp);
  g_scan.capacity = count;
  return true;
}

// Both mount kinds end alike: an empty listing table and the local path "/".
// A listing table too large to allocate is left out, as when the heap refuses
// it: listings then stay empty (an image mount refuses such a count up front).
int finish_header() {
  int64_t bytes = listing_bytes(corefile_image.numfiles);
  corefile_filelist = bytes <= kMaxBytes ? static_cast<s_listentry*>(CF_ALLOC(static_cast<int>(bytes))) : nullptr;
  filelist_capacity = corefile_filelist ? static_cast<int>(corefile_image.numfiles) + 1 : 0;
  if (corefile_filelist) memset(corefile_filelist, 0, static_cast<size_t>(bytes));
  corefile_localpath = static_cast<char*>(CF_ALLOC(kPathBytes));
  if (corefile_localpath) {
    memset(corefile_localpath, 0, kPathBytes);
    strcpy(corefile_localpath, "/");
  }
  return 1;
}

// A damaged image is refused whole: one line, no files, result 0.
// corefile_mountimage then closes the stream and puts the old mount back.
int refuse_image(const char* reason) {
  g_damage = reason;
  _dbg_printf(kMsgDamaged, reason);
  free_table();
  return 0;
}

// Reads and checks the table of an image at the stream's current position.
// Beyond the magic it checks that every part of the table lies inside the
// stream, that offsets never run backwards and stay inside the stream, and that
// romsize lies between the last offset and the stream's end; counts read off
// the file are checked against the stream's length, and every size against
// kMaxBytes, before anything is allocated or the table's loop begins, so an
// image of gigabytes with a crafted count is refused at once.
int readheader_image() {
  long header_position = ftell(g_fp);
  if (header_position < 0 || fseek(g_fp, 0, SEEK_END) != 0) return 0;
  const int64_t stream_length = ftell(g_fp);
  if (fseek(g_fp, header_position, SEEK_SET) != 0) return 0;

  char magic[4];
  if (!read_exact(magic, 4) || memcmp(magic, "CORE", 4) != 0) return 0;

  uint32_t numfiles = 0, romsize = 0;
  if (!read_u32(&numfiles) || !read_u32(&romsize)) return refuse_image("header cut short");
  corefile_image.romsize = romsize;
  _dbg_printf(kMsgNumFiles, static_cast<int>(numfiles));
  _dbg_printf(kMsgRomSize, static_cast<int>(romsize));

  int64_t table_position = header_position + kHeaderBytes;
  if (static_cast<int64_t>(numfiles) * kMinEntryBytes > stream_length - table_position)
    return refuse_image("file table larger than the file");
  if (static_cast<int64_t>(romsize) > stream_length) return refuse_image("romsize beyond the end of the file");
  // Every offset lies at or below romsize (checked after the loop), so this
  // keeps each file's position and length inside an int.
  if (static_cast<int64_t>(romsize) > kMaxBytes) return refuse_image("romsize too large");
  if (table_bytes(numfiles) > kMaxBytes) return refuse_image("file table too large");
  if (listing_bytes(numfiles) > kMaxBytes) return refuse_image("listing table too large");
  if (!allocate_table(numfiles)) return refuse_image("out of memory for the file table");

  for (uint32_t j = 0; j < numfiles; j++) {
    uint32_t name_length = 0, hash = 0, offset = 0;
    if (!read_u32(&name_length) || !read_u32(&hash)) return refuse_image("file table cut short");
    int64_t position = ftell(g_fp);
    if (static_cast<int64_t>(name_length) + 4 > stream_length - position)
      return refuse_image("name runs past the end of the file");
    if (static_cast<int64_t>(name_length) + 1 > kMaxBytes) return refuse_image("name too long");
    corefile_image.hashes[j] = static_cast<int32_t>(hash);
    corefile_image.numfiles = j + 1;  // so that a refusal releases the names read so far
    char* name = static_cast<char*>(CF_ALLOC(static_cast<int>(int64_t{name_length} + 1)));
    if (!name) return refuse_image("out of memory for a name");
    corefile_image.names[j] = name;
    if (!read_exact(name, name_length)) return refuse_image("name cut short");
    name[name_length] = '\0';
    if (!read_u32(&offset)) return refuse_image("file table cut short");
    if (static_cast<int64_t>(offset) > stream_length) return refuse_image("file offset beyond the end of the file");
    if (j > 0 && offset < corefile_image.offsets[j - 1]) return refuse_image("file offsets run backwards");
    corefile_image.offsets[j] = offset;
  }
  corefile_image.numfiles = numfiles;
  if (numfiles > 0 && romsize < corefile_image.offsets[numfiles - 1])
    return refuse_image("romsize below the last file offset");
  return finish_header();
}

// Empties the scan buffers and the table's count for the next pass; the room
// in the table stays as it is.
void begin_scan_pass() {
  memset(g_scan.curDir, 0, sizeof g_scan.curDir);
  memset(g_scan.curFile, 0, sizeof g_scan.curFile);
  g_scan.diroffset = 0;
  corefile_image.numfiles = 0;
}

int readheader_directory() {
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

int readheader() {
  return corefile_mounttype == COREFILE_MOUNT_DIRECTORY ? readheader_directory() : readheader_image();
}

// Everything one mount owns. A new source is read into the globals while the
// mount in force waits in one of these; whichever of the two loses is then
// released through corefile_closeimage, which works on the globals.
struct s_mountstate {
  s_coreimage image;
  int mounttype;
  FILE* fp;
  s_listentry* filelist;
  int filelist_capacity;
  int listed;  // corefile_numfiles
  char* localpath;
  uint32_t scan_capacity;
};

// Moves the mount out of the globals and leaves them unmounted.
s_mountstate take_mount() {
  s_mountstate mount = {corefile_image,    corefile_mounttype, g_fp,           corefile_filelist, filelist_capacity,
                        corefile_numfiles, corefile_localpath, g_scan.capacity};
  corefile_image = s_coreimage{};
  g_fp = nullptr;
  corefile_filelist = nullptr;
  filelist_capacity = 0;
  corefile_numfiles = 0;
  corefile_localpath = nullptr;
  g_scan.capacity = 0;
  return mount;
}

void put_mount(const s_mountstate& mount) {
  corefile_image = mount.image;
  corefile_mounttype = mount.mounttype;
  g_fp = mount.fp;
  corefile_filelist = mount.filelist;
  filelist_capacity = mount.filelist_capacity;
  corefile_numfiles = mount.listed;
  corefile_localpath = mount.localpath;
  g_scan.capacity = mount.scan_capacity;
}

void release_mount(const s_mountstate& mount) {
  s_mountstate kept = take_mount();
  put_mount(mount);
  corefile_closeimage();
  put_mount(kept);
}

}  // namespace

// ---- Mounting -----------------------------------------------------------------

uint32_t getint(const unsigned char* p) { return core_getle32(p); }

int corefile_gethash(const char* name) {
  uint32_t sum = 0;
  for (const char* c = name; *c; c++) sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(*c)));
  return static_cast<int>(sum);
}

void file_downcase(char* dst, const char* src, int length) {
  for (int i = 0; i < length; i++) {
    char c = src[i];
    dst[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
}

int corefile_mountimage(const char* name, int kind) {
  char path[1024];
  snprintf(path, sizeof path, "%s%s", corefile_pathname, name);
  _dbg_printf(kMsgLoading, path);

  const bool image = kind == COREFILE_KIND_IMAGE || kind == COREFILE_KIND_APPENDED;
  if (!image && kind != COREFILE_KIND_DIRECTORY) return 0;
  g_damage = "";

  // Only one mount exists at a time, and the one in force stays until the new
  // source has been opened and accepted: a missing or damaged image, or a
  // directory that cannot be read, leaves it as it was.
  FILE* fp = nullptr;
  if (image) {
    fp = fopen(path, "rb");
    if (!fp) {
      _dbg_printf(kMsgCannotOpen, path);
      return 0;
    }
  } else {
    DIR* dir = opendir(path);
    if (!dir) {
      _dbg_printf(kMsgDirError);
      return 0;
    }
    closedir(dir);
  }
  const s_mountstate old = take_mount();

  int accepted = 0;
  if (image) {
    g_fp = fp;
    corefile_image.data = fp;
    corefile_mounttype = COREFILE_MOUNT_IMAGE;
    if (kind == COREFILE_KIND_IMAGE) {
      _dbg_printf(kMsgFromFile);
    } else {
      // The last 4 bytes hold the position of the image's header in the file.
      unsigned char trailer[4] = {0, 0, 0, 0};
      long length = fseek(fp, 0, SEEK_END) == 0 ? ftell(fp) : -1;
      if (length >= 4 && fseek(fp, length - 4, SEEK_SET) == 0 && fread(trailer, 1, 4, fp) == 4) {
        fseek(fp, static_cast<long>(core_getle32(trailer)), SEEK_SET);
      }
      _dbg_printf(kMsgFromExecutable);
    }
    accepted = readheader();
  } else {
    corefile_mounttype = COREFILE_MOUNT_DIRECTORY;
    corefile_image.data = counted_copy(path);
    accepted = corefile_image.data ? readheader() : 0;
  }

  if (accepted) {
    release_mount(old);
  } else {
    release_mount(take_mount());
    put_mount(old);
  }
  return accepted;
}

const char* corefile_damage() { return g_damage; }

void corefile_closeimage() {
  if (corefile_mounttype == COREFILE_MOUNT_DIRECTORY) {
    free_if_set(corefile_image.data);
  } else if (g_fp) {
    fclose(g_fp);
    g_fp = nullptr;
  }
  corefile_image.data = nullptr;
  free_table();
  if (corefile_filelist) {
    clear_listing();
    CF_FREE(corefile_filelist);
    corefile_filelist = nullptr;
  }
  filelist_capacity = 0;
  clear_dirnames();
  free_if_set(corefile_localpath);
  corefile_localpath = nullptr;
  corefile_numfiles = 0;
}

// ---- File access ----------------------------------------------------------------

namespace {

// Opens a file of a directory mount (mode 1: for writing) and returns its size,
// or -1 with no stream when it cannot be opened. Only regular files open: a
// directory would open with a meaningless size, and a FIFO or a device would
// block the open or never end. stat (which follows links, as fopen does) comes
// before fopen so that nothing blocks; a name that does not exist yet is left
// to fopen, which creates it for writing and fails for reading, silently.
// A file longer than kMaxBytes would not fit the record's size.
int64_t open_on_disk(const char* path, int mode, FILE** stream) {
  struct stat info;
  if (stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
    _dbg_printf(kMsgNotRegular, path);
    return -1;
  }
  FILE* fp = fopen(path, mode == 1 ? "wb" : "rb");
  if (!fp) return -1;
  const int64_t size = fseeko(fp, 0, SEEK_END) == 0 ? static_cast<int64_t>(ftello(fp)) : -1;
  if (size > kMaxBytes) _dbg_printf(kMsgTooLarge, path);
  if (size < 0 || size > kMaxBytes) {
    fclose(fp);
    return -1;
  }
  rewind(fp);
  *stream = fp;
  return size;
}

}  // namespace

int corefile_open(const char* name, s_corefile* file, int mode) {
  int length = static_cast<int>(strlen(name));
  char* lower = static_cast<char*>(CF_ALLOC(length + 1));
  if (!lower) return 0;
  file_downcase(lower, name, length + 1);

  if (corefile_mounttype == COREFILE_MOUNT_DIRECTORY) {
    // After unmounting, the directory's path is gone: nothing can be found.
    const char* dir = static_cast<const char*>(corefile_image.data);
    if (!dir) {
      CF_FREE(lower);
      return 0;
    }
    int path_bytes = static_cast<int>(strlen(dir)) + length + 2;
    char* path = static_cast<char*>(CF_ALLOC(path_bytes));
    if (path) snprintf(path, path_bytes, "%s/%s", dir, lower);
    CF_FREE(lower);
    if (!path) return 0;
    FILE* fp = nullptr;
    const int64_t size = open_on_disk(path, mode, &fp);
    CF_FREE(path);
    if (size < 0) return 0;
    file->handle = fp;
    file->position = 0;
    file->size = static_cast<int>(size);
    return 1;
  }

  int hash = corefile_gethash(lower);
  file->hash = hash;
  for (uint32_t j = 0; j < corefile_image.numfiles; j++) {
    // The whole name must match: a stored name that merely begins with the
    // requested one is another file.
    if (corefile_image.hashes[j] == hash && strcmp(corefile_image.names[j], lower) == 0) {
      file->index = static_cast<int>(j);
      file->position = static_cast<int>(corefile_image.offsets[j]);
      file->size = entry_length(j);
      _dbg_printf(kMsgFoundFile, static_cast<int>(corefile_image.offsets[j]));
      file->handle = nullptr;
      CF_FREE(lower);
      return 1;
    }
  }
  _dbg_printf(kMsgNotFound, lower);
  CF_FREE(lower);
  return 0;
}

void corefile_read(void* dst, int size, int count, s_corefile* file) {
  int64_t requested = static_cast<int64_t>(size) * count;
  if (requested <= 0) return;
  if (corefile_mounttype == COREFILE_MOUNT_DIRECTORY) {
    if (file->handle) {
      fseek(file->handle, file->position, SEEK_SET);
      fread(dst, 1, static_cast<size_t>(requested), file->handle);
    }
  } else if (g_fp) {
    // Only the file's own bytes are delivered, never the next file's.
    int64_t deliver = std::min(requested, bytes_left_in_file(file));
    if (deliver > 0) {
      fseek(g_fp, file->position, SEEK_SET);
      fread(dst, 1, static_cast<size_t>(deliver), g_fp);
    }
  }
  file->position = add_wrapping(file->position, requested);
}

void corefile_write(const void* src, int size, int count, s_corefile* file) {
  if (corefile_mounttype != COREFILE_MOUNT_DIRECTORY || !file->handle) return;
  int64_t requested = static_cast<int64_t>(size) * count;
  if (requested <= 0) return;
  fseek(file->handle, file->position, SEEK_SET);
  fwrite(src, 1, static_cast<size_t>(requested), file->handle);
  file->position = add_wrapping(file->position, requested);
}

void corefile_gets(char* dst, int capacity, s_corefile* file) {
  if (capacity <= 0) return;
  FILE* stream = corefile_mounttype == COREFILE_MOUNT_DIRECTORY ? file->handle : g_fp;
  if (!stream) return;
  int limit = capacity;
  if (corefile_mounttype != COREFILE_MOUNT_DIRECTORY) {
    // A line stops at the file's end; at the end nothing is read and the
    // buffer stays as it was, as with a stream at its end.
    int64_t left = bytes_left_in_file(file);
    if (left == 0) return;
    limit = static_cast<int>(std::min<int64_t>(capacity, left + 1));
  }
  fseek(stream, file->position, SEEK_SET);
  fgets(dst, limit, stream);
  file->position = static_cast<int>(ftell(stream));
}

int corefile_feof(s_corefile* file) {
  if (corefile_mounttype == COREFILE_MOUNT_DIRECTORY) return file->handle ? feof(file->handle) != 0 : 1;
  int64_t start = 0;
  if (!file_start(file, &start)) return 1;
  return static_cast<uint32_t>(file->position) - static_cast<uint32_t>(start) >= static_cast<uint32_t>(file->size);
}

void corefile_seek(s_corefile* file, int offset, int origin) {
  int64_t start = 0;
  if (origin == 0) {
    if (!file_start(file, &start)) start = 0;
    file->position = add_wrapping(static_cast<int>(start), offset);
  } else if (origin == 1) {
    file->position = add_wrapping(file->position, offset);
  }
}

int corefile_tell(s_corefile* file) {
  int64_t start = 0;
  if (!file_start(file, &start)) start = 0;
  return add_wrapping(file->position, -start);
}

int corefile_fsize(s_corefile* file) { return file->size; }

void corefile_rewind(s_corefile* file) {
  int64_t start = 0;
  if (!file_start(file, &start)) start = 0;
  file->position = static_cast<int>(start);
  if (corefile_mounttype == COREFILE_MOUNT_DIRECTORY && file->handle) rewind(file->handle);
}

void corefile_close(s_corefile* file) {
  if (corefile_mounttype == COREFILE_MOUNT_DIRECTORY) {
    if (file->handle) fclose(file->handle);
    file->handle = nullptr;
  } else {
    file->handle = nullptr;
    file->index = 0;
    file->position = 0;
  }
}

namespace {

// The whole-file helpers put the local path in front of the name. Image names
// carry no leading "/", so in an image mount it is dropped.
void whole_file_path(char* path, const char* name) {
  const char* local = corefile_localpath ? corefile_localpath : "/";
  if (corefile_mounttype != COREFILE_MOUNT_DIRECTORY && local[0] == '/') local++;
  snprintf(path, kPathBytes, "%s%s", local, name);
}

}  // namespace

void* corefile_loadbuffer(const char* name) {
  char path[kPathBytes];
  whole_file_path(path, name);
  s_corefile file = {};
  if (!corefile_open(path, &file, 0)) return nullptr;
  void* block = CF_ALLOC(file.size);
  if (block) corefile_read(block, file.size, 1, &file);
  corefile_close(&file);
  return block;
}

void corefile_savebuffer(const char* name, const void* data, int length) {
  char path[kPathBytes];
  whole_file_path(path, name);
  s_corefile file = {};
  if (!corefile_open(path, &file, 1)) return;
  if (corefile_mounttype == COREFILE_MOUNT_DIRECTORY) {
    file.position = 0;
    corefile_write(data, length, 1, &file);
  }
  corefile_close(&file);
}

// ---- Directories -----------------------------------------------------------------

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

namespace {

// Length of the file of table entry j for a listing: derived in an image mount,
// asked of the file system in a directory mount (whose offsets are not filled).
// -1 for a file of a directory mount that an open refuses (gone, not a regular
// file, or longer than kMaxBytes): the listing offers only what opens.
int listed_size(uint32_t j) {
  if (corefile_mounttype != COREFILE_MOUNT_DIRECTORY) return entry_length(j);
  char path[kPathBytes * 2];
  snprintf(path, sizeof path, "%s/%s", static_cast<const char*>(corefile_image.data), corefile_image.names[j]);
  struct stat info;
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<int64_t>(info.st_size) > kMaxBytes) return -1;
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

void corefile_opendir(const char* path, int pass) {
  DIR* dir = opendir(path);
  if (!dir) {
    _dbg_printf(kMsgDirError);
    return;
  }
  int levels = 1;
  int length = static_cast<int>(strlen(path));
  for (int i = 1; i < length - 1; i++) {
    if (path[i] == '/') levels++;
  }
  if (levels > 1) _dbg_printf(kMsgSublevels, levels);
  // The scan works from inside the directory; the way back is the folder it
  // started in, held open, because climbing ".." once per level is wrong for
  // an absolute path, a "./" or "../" prefix and a symbolic link.
  const int home = open(".", O_RDONLY | O_DIRECTORY);
  if (home < 0 || chdir(path) != 0) {
    _dbg_printf(kMsgDirError);
    if (home >= 0) close(home);
    closedir(dir);
    return;
  }

  while (struct dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    struct stat info;
    if (stat(name, &info) != 0) continue;
    int name_length = static_cast<int>(strlen(name));
    if (S_ISDIR(info.st_mode)) {
      // A tree deeper than the scan buffer holds is skipped, which also ends
      // any loop through symbolic links.
      if (g_scan.diroffset + name_length + 1 >= kPathBytes) continue;
      memcpy(g_scan.curDir + g_scan.diroffset, name, name_length);
      g_scan.curDir[g_scan.diroffset + name_length] = '/';
      g_scan.diroffset += name_length + 1;
      corefile_opendir(name, pass);
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

  const bool closed = closedir(dir) == 0;
  if (fchdir(home) != 0) _dbg_printf(kMsgDirError);
  close(home);
  if (!closed) _dbg_printf(kMsgCloseError);
}
