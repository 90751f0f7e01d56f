// demo/dev.cpp: the development mount and its live reload (see demo/dev.h).
//
// Watching: one watch per real folder behind the mount's files (the targets
// of the links, and the mounted folder itself); each watched name maps back
// to the mount's name of the file. On Linux the watch is inotify's, for
// IN_CLOSE_WRITE and IN_MOVED_TO, on a non-blocking descriptor; on Windows it
// is ReadDirectoryChangesW on the folder, overlapped, for writes and for
// names arriving (a save through a rename), whose result is asked for without
// waiting. Either is read from the frame loop, so no thread is needed. A change marks its file due 100 ms later; a change
// within that time moves the mark on, so a save in several writes reloads
// once.
//
// Threads: main thread only.
#include "demo/dev.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/inotify.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/corepath.h"
#include "corefile/corefile.h"
#include "demo/demo.h"
#include "demo/dev_internal.h"
#include "effects/effects.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"
#include "sound/sound.h"
#include "timeline/timeline.h"
#include "effects/shaderhead.h"

// ---- Constants -------------------------------------------------------------------------
namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kDebounce = std::chrono::milliseconds(100);  // quiet time after a change before it reloads
#ifdef _WIN32
constexpr DWORD kWatchFilter = FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_FILE_NAME;
constexpr DWORD kNoticeBytes = 16384;  // one folder's notices between two frames
constexpr const char* kSeparators = "/\\";
#else
constexpr uint32_t kWatchMask = IN_CLOSE_WRITE | IN_MOVED_TO;
constexpr const char* kSeparators = "/";
#endif
constexpr size_t kPathBytes = 4096;  // a resolved path
constexpr const char* kPreludeName = "prelude.glsl";
constexpr int kLogBytes = 4096;  // a failed compile's log
// The source-string numbers of the head (effects/shaderhead.h).
const char* const kStringNames[] = {nullptr /* the file itself */, kPreludeName, "effects/palette.h"};

enum FileKind { KIND_OTHER, KIND_SHADER, KIND_PRELUDE, KIND_IMAGE, KIND_TIMING, KIND_MUSIC };

struct s_shaderfile {
  const char* file;
  int32_t* id;
};
struct s_imagefile {
  const char* file;
  s_bitmap* bitmap;
  unsigned wrap;
};
#define DEV_SHADER_ROW(global, file) {file, &global},
const s_shaderfile kShaderFiles[] = {SPROX_SHADERS(DEV_SHADER_ROW)};
#undef DEV_SHADER_ROW
#define DEV_IMAGE_ROW(global, file, wrap) {file, &global, wrap},
const s_imagefile kImageFiles[] = {SPROX_IMAGES(DEV_IMAGE_ROW)};
#undef DEV_IMAGE_ROW
}  // namespace

// ---- Types and globals ---------------------------------------------------------------------
char dev_error[DEV_ERROR_BYTES] = "";
bool dev_active = false;

namespace {

// One watched name: a change to `name` in the folder of watch `wd` is a
// change to the mount's file `mountname`.
struct s_watched {
  int wd;
  std::string name;
  int file;  // index into g_files
};

// One file of the mount.
struct s_devfile {
  std::string mountname;
  FileKind kind;
  int index;              // into kShaderFiles or kImageFiles
  bool due;               // a change waits for its quiet time
  Clock::time_point at;   // when the last change was seen
};

#ifdef _WIN32
// One watched folder: its handle, opened for overlapped change notices, and
// the notice buffer that a pending ReadDirectoryChangesW fills.
struct s_folderwatch {
  std::string folder;
  HANDLE handle = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped{};
  bool pending = false;
  alignas(DWORD) unsigned char notices[kNoticeBytes];
};
#endif

struct s_devstate {
#ifdef _WIN32
  bool watching = false;  // the watches are set up (there is no descriptor to hold)
  std::vector<std::unique_ptr<s_folderwatch>> folders;  // wd is an index into these
#else
  int fd = -1;  // the inotify descriptor, -1 when not watching
#endif
  std::vector<s_watched> watched;
  std::vector<s_devfile> files;
};
s_devstate g_dev;

// ---- Internal functions -------------------------------------------------------------------

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The whole file `name` of the mount; false when it cannot be opened.
bool ReadMountFile(const char* name, std::string* text) {
  s_corefile file;
  if (!corefile_open(name, &file, 0)) return false;
  text->assign(file.size > 0 ? static_cast<size_t>(file.size) : 0, '\0');
  if (!text->empty()) corefile_read(&(*text)[0], file.size, 1, &file);
  corefile_close(&file);
  return true;
}

FileKind KindOf(const std::string& name, int* index) {
  for (int i = 0; i < static_cast<int>(std::size(kShaderFiles)); i++)
    if (name == kShaderFiles[i].file) return *index = i, KIND_SHADER;
  for (int i = 0; i < static_cast<int>(std::size(kImageFiles)); i++)
    if (name == kImageFiles[i].file) return *index = i, KIND_IMAGE;
  *index = -1;
  if (name == kPreludeName) return KIND_PRELUDE;
  if (name == DEMO_TIMINGNAME) return KIND_TIMING;
  if (name == DEMO_MUSICNAME) return KIND_MUSIC;
  return KIND_OTHER;
}

// The text the show compiles for a shader file's text: as it stands when it
// begins with "#version", else behind the pack step's head.
std::string CompiledText(const std::string& text) {
  if (ShaderHead_BeginsWithVersion(text)) return text;
  std::string prelude;
  if (!ReadMountFile(kPreludeName, &prelude)) std::printf("dev: no %s in the mount, the head goes without it\n", kPreludeName);
  return ShaderHead_Pack(SHADERHEAD_VERSION, prelude, text);
}

// LoadShader's hook: each file's text through CompiledText.
char* ShaderSource(const char* /*filename*/, char* source) {
  const std::string text = CompiledText(source);
  char* compiled = static_cast<char*>(std::realloc(source, text.size() + 1));
  if (!compiled) return source;
  std::memcpy(compiled, text.c_str(), text.size() + 1);
  return compiled;
}

// A compiler line "S:L(C): message" or "S(L) : message" or "ERROR: S:L: message"
// as "FILE:L: message", the file named by its source-string number S.
std::string CompilerLine(const std::string& line, const char* file) {
  size_t i = line.find_first_of("0123456789");
  while (i != std::string::npos) {
    char* end = nullptr;
    const long string = std::strtol(line.c_str() + i, &end, 10);
    if (*end == ':' || *end == '(') {
      char* end2 = nullptr;
      const long number = std::strtol(end + 1, &end2, 10);
      if (end2 != end + 1) {
        size_t rest = static_cast<size_t>(end2 - line.c_str());
        rest = line.find(':', rest);
        const char* name = string >= 1 && string <= 2 ? kStringNames[string] : file;
        return std::string(name) + ":" + std::to_string(number) + ":" +
               (rest == std::string::npos ? std::string(" ") + line : line.substr(rest + 1));
      }
    }
    i = line.find_first_of("0123456789", static_cast<size_t>(end - line.c_str()));
  }
  return std::string(file) + ": " + line;
}

// Prints every line of a failed compile's log by file and line; the first
// goes into the title.
void ReportCompileFailure(const char* file, const char* log) {
  bool first = true;
  const std::string text = log;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    const std::string named = CompilerLine(line, file);
    std::printf("dev: %s\n", named.c_str());
    if (first) std::snprintf(dev_error, sizeof dev_error, "%s", named.c_str());
    first = false;
  }
  if (first) std::snprintf(dev_error, sizeof dev_error, "%s: the shader does not build", file);
}

// demoshader keeps each program's text: the new text takes the old one's place.
void KeepSource(int32_t id, const std::string& text) {
  for (int32_t i = 0; i < numshaders; i++) {
    if (demoshader[i].id != id) continue;
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (!copy) return;
    std::memcpy(copy, text.c_str(), text.size() + 1);
    std::free(demoshader[i].source);
    demoshader[i].source = copy;
    return;
  }
}

void ReloadShader(const s_shaderfile& shader, double sincechange) {
  const Clock::time_point start = Clock::now();
  std::string text;
  if (!ReadMountFile(shader.file, &text)) {
    std::printf("dev: %s cannot be read, the old program stays\n", shader.file);
    return;
  }
  if (!GFX_IsShader(*shader.id)) {
    std::printf("dev: %s had no program at start-up; start the show again to load it\n", shader.file);
    return;
  }
  const std::string compiled = CompiledText(text);
  static char log[kLogBytes];
  if (!GFX_ReplaceShader(*shader.id, vv_default, compiled.c_str(), log, kLogBytes)) {
    ReportCompileFailure(shader.file, log);
    std::printf("dev: shader %s failed to build in %.1f ms (%.0f ms after the change), the old program stays\n",
                shader.file, MillisecondsSince(start), sincechange + MillisecondsSince(start));
    return;
  }
  KeepSource(*shader.id, compiled);
  dev_error[0] = '\0';
  std::printf("dev: reloaded shader %s (id %d) in %.1f ms (%.0f ms after the change)\n", shader.file,
              static_cast<int>(*shader.id), MillisecondsSince(start), sincechange + MillisecondsSince(start));
}

void ReloadImage(const s_imagefile& image, double sincechange) {
  const Clock::time_point start = Clock::now();
  std::string png;
  char why[128] = "cannot be read";
  const bool created = image.bitmap->textureid != 0;
  if (!ReadMountFile(image.file, &png) ||
      !GFX_ReplaceBitmapPNG(image.bitmap, reinterpret_cast<const unsigned char*>(png.data()), png.size(), why,
                            sizeof why)) {
    std::printf("dev: image %s not reloaded (%s), the old picture stays\n", image.file, why);
    return;
  }
  if (!created && image.wrap != REPEAT) {
    // A texture new to this run gets the wrap the asset list names, as at start-up.
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glBindTexture(GL_TEXTURE_2D, image.bitmap->textureid);
    SetImageWrap(*image.bitmap, image.wrap);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
  }
  std::printf("dev: reloaded image %s (%d x %d, texture %u) in %.1f ms (%.0f ms after the change)\n", image.file,
              image.bitmap->width, image.bitmap->height, image.bitmap->textureid, MillisecondsSince(start),
              sincechange + MillisecondsSince(start));
}

// Whether the show can play `text` as its timing file from the tick in
// force on; when not, the reason in `why`.
bool TimingUsable(const std::string& text, char* why, size_t capacity) {
  static s_timingscan scan;  // 1 kB: kept off the stack
  ScanTiming(text.data(), text.size(), &scan);
  const int32_t endmark = DEMO_LASTSCENE + 1;
  const int32_t tick = static_cast<int32_t>(
      Soundsystem_GetPlaybackOffset(Soundsystem_CopySound(&snd_demomusic)) / TIMELINE_TICKLENGTH);
  if (scan.eventlines > TIMELINE_MAX_EVENTS) {
    std::snprintf(why, capacity, "it has %d event lines, more than the %d the table holds",
                  static_cast<int>(scan.eventlines), TIMELINE_MAX_EVENTS);
  } else if (scan.skipped > 0) {
    std::snprintf(why, capacity, "line %d: %s", static_cast<int>(scan.firstskipline), scan.firstskip);
  } else if (scan.numevents == 0) {
    std::snprintf(why, capacity, "it gives no events");
  } else if (scan.numevents <= endmark) {
    std::snprintf(why, capacity, "it has no end mark (event %d)", static_cast<int>(endmark));
  } else if (scan.start[endmark] <= tick) {
    std::snprintf(why, capacity, "its end mark (event %d) at tick %d is not after the tick in force, %d; seek back first",
                  static_cast<int>(endmark), static_cast<int>(scan.start[endmark]), static_cast<int>(tick));
  } else {
    return true;
  }
  return false;
}

void ReloadTiming(double sincechange) {
  const Clock::time_point start = Clock::now();
  std::string text;
  if (!ReadMountFile(DEMO_TIMINGNAME, &text)) {
    std::printf("dev: %s cannot be read, the event table stays\n", DEMO_TIMINGNAME);
    return;
  }
  char why[256];
  if (!TimingUsable(text, why, sizeof why)) {
    std::printf("dev: %s refused (%s), the event table stays\n", DEMO_TIMINGNAME, why);
    return;
  }
  // The loader echoes the file's lines as at start-up; the music is not touched,
  // and the next frame finds the event in force in the new table.
  LoadTiming(DEMO_TIMINGNAME);
  std::printf("dev: reloaded %s (%d events) in %.1f ms (%.0f ms after the change)\n", DEMO_TIMINGNAME,
              static_cast<int>(demo.numevents), MillisecondsSince(start), sincechange + MillisecondsSince(start));
}

void ReloadMusic(double sincechange) {
  const Clock::time_point start = Clock::now();
  if (!Soundsystem_ReloadSound(DEMO_MUSICNAME, &snd_demomusic)) return;
  const s_sound music = Soundsystem_CopySound(&snd_demomusic);
  std::printf("dev: reloaded %s (%u frames, at frame %llu) in %.1f ms (%.0f ms after the change)\n", DEMO_MUSICNAME,
              music.channels ? music.numsamples / music.channels : 0,
              static_cast<unsigned long long>(Soundsystem_GetSoundOffset(music)), MillisecondsSince(start),
              sincechange + MillisecondsSince(start));
}

void Reload(const s_devfile& file, double sincechange) {
  switch (file.kind) {
    case KIND_SHADER:
      ReloadShader(kShaderFiles[file.index], sincechange);
      break;
    case KIND_PRELUDE:
      std::printf("dev: %s changed: every shader that gets the head builds again\n", kPreludeName);
      for (const s_shaderfile& shader : kShaderFiles) {
        std::string text;
        if (ReadMountFile(shader.file, &text) && !ShaderHead_BeginsWithVersion(text))
          ReloadShader(shader, sincechange);
      }
      break;
    case KIND_IMAGE:
      ReloadImage(kImageFiles[file.index], sincechange);
      break;
    case KIND_TIMING:
      ReloadTiming(sincechange);
      break;
    case KIND_MUSIC:
      ReloadMusic(sincechange);
      break;
    case KIND_OTHER:
      break;
  }
}

// Marks the files that watch `wd`'s name `name` stands for: due after their quiet time.
void MarkChanged(int wd, const std::string& name) {
  for (const s_watched& w : g_dev.watched) {
    if (w.wd != wd || w.name != name) continue;
    s_devfile& file = g_dev.files[static_cast<size_t>(w.file)];
    file.due = true;
    file.at = Clock::now();
  }
}

#ifdef _WIN32

// Asks for the folder's next notices without waiting for them.
bool ArmWatch(s_folderwatch* watch) {
  DWORD unused = 0;
  watch->pending = ReadDirectoryChangesW(watch->handle, watch->notices, kNoticeBytes, FALSE, kWatchFilter, &unused,
                                         &watch->overlapped, nullptr) != 0;
  return watch->pending;
}

// The watch of a folder (one per folder, shared by its files), or -1.
int WatchFolder(const std::string& folder) {
  for (size_t i = 0; i < g_dev.folders.size(); i++)
    if (g_dev.folders[i]->folder == folder) return static_cast<int>(i);
  std::u16string wide;
  if (!core_utf8to16(folder.c_str(), &wide)) return -1;
  const std::wstring name(wide.begin(), wide.end());
  std::unique_ptr<s_folderwatch> watch(new s_folderwatch);
  watch->folder = folder;
  watch->handle = CreateFileW(name.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  if (watch->handle == INVALID_HANDLE_VALUE) return -1;
  if (!ArmWatch(watch.get())) {
    CloseHandle(watch->handle);
    return -1;
  }
  g_dev.folders.push_back(std::move(watch));
  return static_cast<int>(g_dev.folders.size() - 1);
}

// Takes the notices each folder has gathered (a write, a name arriving by
// creation or rename) and asks for the next ones.
void PollChanges() {
  for (size_t wd = 0; wd < g_dev.folders.size(); wd++) {
    s_folderwatch* watch = g_dev.folders[wd].get();
    DWORD length = 0;
    if (!watch->pending || !GetOverlappedResult(watch->handle, &watch->overlapped, &length, FALSE)) continue;
    watch->pending = false;
    for (DWORD at = 0; length > 0 && at + sizeof(FILE_NOTIFY_INFORMATION) <= length;) {
      const FILE_NOTIFY_INFORMATION* notice = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(watch->notices + at);
      const DWORD action = notice->Action;
      std::string name;
      if ((action == FILE_ACTION_MODIFIED || action == FILE_ACTION_ADDED || action == FILE_ACTION_RENAMED_NEW_NAME) &&
          core_utf16to8(reinterpret_cast<const char16_t*>(notice->FileName), notice->FileNameLength / sizeof(WCHAR),
                        &name))
        MarkChanged(static_cast<int>(wd), name);
      if (notice->NextEntryOffset == 0) break;
      at += notice->NextEntryOffset;
    }
    // A notice buffer that overflowed comes back empty: the folder's files
    // may all have changed. Then every file of this folder reloads.
    if (length == 0)
      for (const s_watched& w : g_dev.watched)
        if (w.wd == static_cast<int>(wd)) MarkChanged(w.wd, w.name);
    if (!ArmWatch(watch)) std::fprintf(stderr, "dev: cannot watch %s\n", watch->folder.c_str());
  }
}

bool WatchBegin() {
  g_dev.watching = true;
  return true;
}

bool Watching() { return g_dev.watching; }

#else

int WatchFolder(const std::string& folder) { return inotify_add_watch(g_dev.fd, folder.c_str(), kWatchMask); }

// Reads every event waiting on the descriptor; marks the files they name.
void PollChanges() {
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t length = read(g_dev.fd, buffer, sizeof buffer);
    if (length <= 0) return;  // EAGAIN: nothing more now
    for (ssize_t at = 0; at < length;) {
      const inotify_event* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (!(event->mask & kWatchMask) || event->len == 0) continue;
      MarkChanged(event->wd, event->name);
    }
  }
}

bool WatchBegin() {
  g_dev.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (g_dev.fd >= 0) return true;
  std::fprintf(stderr, "dev: inotify unavailable, nothing reloads\n");
  return false;
}

bool Watching() { return g_dev.fd >= 0; }

#endif

// Adds a watch on `folder` for `name`, mapped to file `file`.
void Watch(const std::string& folder, const std::string& name, int file) {
  const int wd = WatchFolder(folder);
  if (wd < 0) {
    std::fprintf(stderr, "dev: cannot watch %s\n", folder.c_str());
    return;
  }
  for (const s_watched& w : g_dev.watched)
    if (w.wd == wd && w.name == name) return;
  g_dev.watched.push_back({wd, name, file});
}

bool MountedAlready(const char* dir) {
  if (corefile_mounttype != COREFILE_MOUNT_DIRECTORY || !corefile_image.data) return false;
  char a[kPathBytes], b[kPathBytes];
  return core_fullpath(static_cast<const char*>(corefile_image.data), a, sizeof a) &&
         core_fullpath(dir, b, sizeof b) && std::strcmp(a, b) == 0;
}

}  // namespace

// ---- Public functions ------------------------------------------------------------------------
int Dev_Start(const char* dir) {
  if (!dir) return 0;
  if (!MountedAlready(dir) && !corefile_mountimage(dir, COREFILE_KIND_DIRECTORY)) {
    std::fflush(stdout);
    std::fprintf(stderr, "dev: cannot mount the folder %s\n", dir);
    return 0;
  }
  if (corefile_image.numfiles == 0) {
    std::fflush(stdout);
    std::fprintf(stderr, "dev: the folder %s holds no files\n", dir);
    return 0;
  }
  dev_active = true;
  showdebug = true;
  effects_shadersource = ShaderSource;

  if (!WatchBegin()) return 1;
  char mounted[kPathBytes];
  if (!core_fullpath(dir, mounted, sizeof mounted)) std::snprintf(mounted, sizeof mounted, "%s", dir);
  for (uint32_t i = 0; i < corefile_image.numfiles; i++) {
    const std::string name = corefile_image.names[i];
    s_devfile file{name, KIND_OTHER, -1, false, Clock::now()};
    file.kind = KindOf(name, &file.index);
    if (file.kind == KIND_OTHER) continue;
    const int index = static_cast<int>(g_dev.files.size());
    g_dev.files.push_back(file);
    // The name in the mounted folder itself (a file, or a link replaced by a rename)...
    const std::string path = std::string(mounted) + "/" + name;
    const size_t slash = path.find_last_of(kSeparators);
    Watch(path.substr(0, slash), path.substr(slash + 1), index);
    // ...and the file behind the link, where the editor saves it.
    char real[kPathBytes];
    if (!core_fullpath(path.c_str(), real, sizeof real)) continue;
    const std::string target = real;
    const size_t cut = target.find_last_of(kSeparators);
    Watch(target.substr(0, cut), target.substr(cut + 1), index);
  }
  std::printf("dev: watching %zu files of %s\n", g_dev.files.size(), dir);
  return 1;
}

int Dev_Reload(const char* name) {
  if (!name) return 0;
  s_devfile file{name, KIND_OTHER, -1, false, Clock::now()};
  file.kind = KindOf(file.mountname, &file.index);
  if (file.kind == KIND_OTHER) return 0;
  Reload(file, 0.0);
  return 1;
}

void Dev_Frame() {
  if (Watching()) {
    PollChanges();
    const Clock::time_point now = Clock::now();
    for (s_devfile& file : g_dev.files) {
      if (!file.due || now - file.at < kDebounce) continue;
      file.due = false;
      Reload(file, std::chrono::duration<double, std::milli>(now - file.at).count());
    }
  }
  devreadout_frame();
}
