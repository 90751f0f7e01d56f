// corefile-std: the image reader. The module's state, mounting and
// unmounting, the image's header and table, and file access in both mount
// kinds. The directory mount's scan is in corefile_dirmount.cpp and the
// listing in corefile_listing.cpp. See corefile.h for the format and the
// glossary.
//
// Every block is taken with the counting allocation of core/ under the source
// path "corefile/corefile-std", and every line goes through _dbg_printf.
//
// Threads: main thread only. The module is not thread-safe: all files of an
// image share one stream, and the directory scan moves the process's working
// directory.
#include "corefile/corefile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "core/core.h"
#include "corefile/corefile_internal.h"

using namespace corefile_internal;

// ---- Constants --------------------------------------------------------------
namespace {

// Every line the reader prints. The lines this implementation adds to the
// reader's progress and failure lines begin with the module's name, "corefile: ".
const char* const kMsgLoading = "Loading resource image: %s\n";
const char* const kMsgCannotOpen = "could not open image: %s\n";
const char* const kMsgFromFile = "loading from file\n";
const char* const kMsgFromExecutable = "loading from executable\n";
const char* const kMsgNumFiles = "numfiles: %d\n";
const char* const kMsgRomSize = "romsize: %d\n";
const char* const kMsgDamaged = "corefile: damaged image: %s\n";
const char* const kMsgFoundFile = "found file at offset: %d\n";
const char* const kMsgNotFound = "couldn't find file: %s\n";
const char* const kMsgNotRegular = "corefile: not a regular file: %s\n";
const char* const kMsgTooLarge = "corefile: file too large: %s\n";

}  // namespace

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

corefile_internal::s_dirscan corefile_internal::g_scan = {};
int corefile_internal::filelist_capacity = 0;

namespace {
// The reason the last mount refused a damaged image; "" when it did not.
const char* g_damage = "";
}  // namespace

// ---- Helpers shared by the module's sources -----------------------------------

char* corefile_internal::counted_copy(const char* text) {
  size_t length = strlen(text);
  auto* copy = static_cast<char*>(CF_ALLOC(static_cast<int>(length + 1)));
  if (copy) memcpy(copy, text, length + 1);
  return copy;
}

void corefile_internal::free_if_set(void* block) {
  if (block) CF_FREE(block);
}

bool corefile_internal::is_separator(char c) { return c == '/' || c == '\\'; }

int corefile_internal::entry_length(uint32_t j) {
  uint32_t end = j + 1 < corefile_image.numfiles ? corefile_image.offsets[j + 1] : corefile_image.romsize;
  return static_cast<int>(end - corefile_image.offsets[j]);
}

// ---- Internal functions ---------------------------------------------------------
namespace {

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

// Bytes of the largest of the three arrays (names: one pointer per file), and
// of the listing table (one entry per file and the ".." entry), in 64 bits: a
// count read off a file times an entry's size passes 32 bits long before the
// file runs out.
int64_t table_bytes(uint32_t count) { return int64_t{count} * static_cast<int64_t>(sizeof(char*)); }
int64_t listing_bytes(uint32_t count) { return (int64_t{count} + 1) * static_cast<int64_t>(sizeof(s_listentry)); }

}  // namespace

// ---- Table helpers shared with the directory mount ----------------------------

void corefile_internal::free_table() {
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

bool corefile_internal::allocate_table(uint32_t count) {
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

// A listing table too large to allocate is left out, as when the heap refuses
// it: listings then stay empty (an image mount refuses such a count up front).
int corefile_internal::finish_header() {
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

// ---- Internal functions ---------------------------------------------------------
namespace {

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
// stream, that offsets never run backwards, that the first file's data starts
// after the table (an image appended to another file without moving its
// offsets points into the host or its own header), and that romsize lies
// between the last offset and the stream's end; counts read off
// the file are checked against the stream's length, and every size against
// kMaxBytes, before anything is allocated or the table's loop begins, so an
// image of gigabytes with a crafted count is refused at once.
int readheader_image() {
  long header_position = ftell(g_fp);
  if (header_position < 0 || fseek(g_fp, 0, SEEK_END) != 0) return 0;
  const int64_t stream_length = ftell(g_fp);
  if (fseek(g_fp, header_position, SEEK_SET) != 0) return 0;

  char magic[COREFILE_MAGIC_BYTES];
  if (!read_exact(magic, sizeof magic) || memcmp(magic, COREFILE_MAGIC, sizeof magic) != 0) return 0;

  uint32_t numfiles = 0, romsize = 0;
  if (!read_u32(&numfiles) || !read_u32(&romsize)) return refuse_image("header cut short");
  corefile_image.romsize = romsize;
  _dbg_printf(kMsgNumFiles, static_cast<int>(numfiles));
  _dbg_printf(kMsgRomSize, static_cast<int>(romsize));

  int64_t table_position = header_position + COREFILE_HEADER_BYTES;
  if (static_cast<int64_t>(numfiles) * COREFILE_ENTRY_BYTES > stream_length - table_position)
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
  // Offsets ascend, so the first one is the lowest.
  if (numfiles > 0 && static_cast<int64_t>(corefile_image.offsets[0]) < ftell(g_fp))
    return refuse_image("file data before the end of the file table");
  if (numfiles > 0 && romsize < corefile_image.offsets[numfiles - 1])
    return refuse_image("romsize below the last file offset");
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

int64_t corefile_findtrailer(FILE* fp) {
  if (!fp || fseek(fp, 0, SEEK_END) != 0) return -1;
  const int64_t length = ftell(fp);
  const int64_t trailer_position = length - COREFILE_TRAILER_BYTES;
  unsigned char trailer[COREFILE_TRAILER_BYTES];
  if (trailer_position < COREFILE_MAGIC_BYTES || fseek(fp, static_cast<long>(trailer_position), SEEK_SET) != 0 ||
      fread(trailer, 1, sizeof trailer, fp) != sizeof trailer)
    return -1;
  const int64_t header = core_getle32(trailer);
  char magic[COREFILE_MAGIC_BYTES];
  if (header + COREFILE_MAGIC_BYTES > trailer_position || fseek(fp, static_cast<long>(header), SEEK_SET) != 0 ||
      fread(magic, 1, sizeof magic, fp) != sizeof magic || memcmp(magic, COREFILE_MAGIC, sizeof magic) != 0)
    return -1;
  return header;
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
    fp = core_fopen(path, "rb");
    if (!fp) {
      _dbg_printf(kMsgCannotOpen, path);
      return 0;
    }
  } else {
    s_corefolder dir;
    if (!core_openfolder(&dir, path)) {
      _dbg_printf(kMsgDirError);
      return 0;
    }
    core_closefolder(&dir);
  }
  const s_mountstate old = take_mount();

  int accepted = 0;
  if (image) {
    g_fp = fp;
    corefile_image.data = fp;
    corefile_mounttype = COREFILE_MOUNT_IMAGE;
    // An appended image is read from the header its trailer names; a file
    // without one holds no image to this kind of mount, as a wrong magic says.
    int64_t header = 0;
    if (kind == COREFILE_KIND_IMAGE) {
      _dbg_printf(kMsgFromFile);
    } else {
      header = corefile_findtrailer(fp);
      _dbg_printf(kMsgFromExecutable);
    }
    accepted = header >= 0 && fseek(fp, static_cast<long>(header), SEEK_SET) == 0 ? readheader() : 0;
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
  if (core_stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
    _dbg_printf(kMsgNotRegular, path);
    return -1;
  }
  FILE* fp = core_fopen(path, mode == 1 ? "wb" : "rb");
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
