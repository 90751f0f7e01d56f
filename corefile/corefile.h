// corefile: the resource image file system (corefile-std.cpp reads images,
// corefile_dirmount.cpp mounts a directory, corefile_listing.cpp lists).
//
// Everything the show loads comes through here. The usual source is a packed
// "CORE" image: a 12-byte header ("CORE", numfiles, romsize), a table of
// entries (name length, name hash, name bytes, data offset), then the files'
// data back to back. All integers are 32-bit little-endian. A file's length is
// derived from the next entry's offset (romsize for the last one). An image may
// stand alone (COREFILE_KIND_IMAGE) or be appended to a host file followed by
// a 4-byte trailer holding the header's position (COREFILE_KIND_APPENDED); a
// plain directory tree on disk can be mounted in its place
// (COREFILE_KIND_DIRECTORY).
//
// Terms (resource image, appended image, mount, name hash, local path,
// listing): see docs/ARCHITECTURE.md#glossary.
//
// Threads: main thread only. Every block goes through the counting allocation
// of core/, and every line is printed through _dbg_printf.
#pragma once

#include <cstdint>
#include <cstdio>

// ---- The image format ----------------------------------------------------------
// Written once here for the reader, the player's lookup and the packer.
constexpr const char* COREFILE_MAGIC = "CORE";  // the header's first bytes, upper case, no terminator
constexpr int COREFILE_MAGIC_BYTES = 4;
constexpr int COREFILE_HEADER_BYTES = 12;   // magic, numfiles, romsize
constexpr int COREFILE_ENTRY_BYTES = 12;    // an entry without its name: name length, hash, offset
constexpr int COREFILE_TRAILER_BYTES = 4;   // an appended image ends with its header's position

// ---- Mount kinds ---------------------------------------------------------------
// What corefile_mountimage is asked to mount (its second argument).
constexpr int COREFILE_KIND_IMAGE = 0;      // a standalone image file
constexpr int COREFILE_KIND_APPENDED = 1;   // an image appended to another file, found through its trailer
constexpr int COREFILE_KIND_DIRECTORY = 2;  // a directory tree on disk
// What a mount leaves in corefile_mounttype: both image kinds read from a stream.
constexpr int COREFILE_MOUNT_IMAGE = 0;      // an image read from the stream g_fp
constexpr int COREFILE_MOUNT_DIRECTORY = 2;  // a directory on disk

// ---- Mounted image -----------------------------------------------------------
struct s_coreimage {
  void* data;         // image mount: the FILE* of the image; directory mount: a counted copy of the path
  uint32_t romsize;   // position just past the last file's data
  uint32_t numfiles;  // entries in the table
  uint32_t* offsets;  // position of each file's first data byte (image mount only)
  char** names;       // NUL-terminated name of each file
  int32_t* hashes;    // name hash of each file as stored (image mount only)
};

// One entry of a listing.
struct s_listentry {
  char* label;    // "[dir]" for a directory, the name relative to the local path for a file
  char* name;     // directory: its bare name (or ".."); file: its full name in the mount
  int size;       // file length in bytes; 0 for a directory
  uint8_t isdir;  // 1 for a directory entry
};

// Open-file record, owned by the caller (usually a local).
struct s_corefile {
  FILE* handle;  // directory mount: the file's own stream; image mount: null
  int index;     // image mount: index of the entry in the table
  int position;  // where the next read starts (image mount: a position in the image stream)
  int size;      // length of the file in bytes
  int hash;      // image mount: hash of the requested name
};

// The module's state. Only corefile writes it; the packer's listing and the
// tests read the table and the listing.
extern s_coreimage corefile_image;
extern int corefile_mounttype;        // COREFILE_MOUNT_IMAGE or COREFILE_MOUNT_DIRECTORY
extern FILE* g_fp;                    // the image stream, shared by every open file
extern char corefile_pathname[1024];  // put in front of the image name; empty
extern s_listentry* corefile_filelist;
extern int corefile_numfiles;     // entries in the current listing
extern char* corefile_localpath;  // 256 bytes: "/" or "/a/b/"
extern char* corefile_dirnames[256];
extern int corefile_numdirs;

// ---- Mounting ------------------------------------------------------------------
// kind: COREFILE_KIND_IMAGE, COREFILE_KIND_APPENDED or COREFILE_KIND_DIRECTORY.
// Returns 1 when the header (or the directory scan) was accepted, else 0. A
// damaged image is refused with the line "corefile: damaged image: <reason>".
int corefile_mountimage(const char* name, int kind);
// Why the last mount refused its image as damaged (the reason of that line),
// or "" when it did not: a wrong magic is no damage, the file is simply not an
// image. The text is owned by the module and lives until the next mount.
const char* corefile_damage();
void corefile_closeimage();
// Sum of the name's bytes taken as signed 8-bit values, wrapping at 32 bits.
int corefile_gethash(const char* name);
// The position of the image header that the open file's trailer (its last
// COREFILE_TRAILER_BYTES) names, when a header with the magic begins there and
// ends before the trailer; -1 for a file that carries no appended image. The
// stream's position is left anywhere.
int64_t corefile_findtrailer(FILE* fp);

// ---- File access -----------------------------------------------------------------
// mode 1 opens for writing (directory mount only); anything else reads.
int corefile_open(const char* name, s_corefile* file, int mode);
void corefile_read(void* dst, int size, int count, s_corefile* file);
int corefile_tell(s_corefile* file);
int corefile_fsize(s_corefile* file);
void corefile_close(s_corefile* file);
// Reads one line (newline kept) of at most capacity - 1 bytes, terminated.
void corefile_gets(char* dst, int capacity, s_corefile* file);
int corefile_feof(s_corefile* file);
void corefile_savebuffer(const char* name, const void* data, int length);

// ---- Directories -------------------------------------------------------------------
void corefile_chdir(const char* dir);
const char* corefile_getpath();
// filter: a pattern whose last "." begins the extension ("*.png"; "*.*" admits all).
void corefile_readdir(const char* filter);

// ---- The rest of the published interface ----------------------------------------------
// Kept whole for the file system's users to come; nothing outside corefile
// calls these today (the tests do).
// The 32-bit little-endian value at p.
uint32_t getint(const unsigned char* p);
// Copies length bytes, lower-casing ASCII A-Z only.
void file_downcase(char* dst, const char* src, int length);
void corefile_write(const void* src, int size, int count, s_corefile* file);
// origin 0: from the file's start; 1: from the current position; others: no change.
void corefile_seek(s_corefile* file, int offset, int origin);
void corefile_rewind(s_corefile* file);
// A new counted block holding the whole file, or null. Release with _wrap_free_dbg.
void* corefile_loadbuffer(const char* name);
void corefile_adddir(const char* dir);
// The directory scan of a directory mount: pass 0 counts, pass 1 records.
void corefile_opendir(const char* path, int pass);
