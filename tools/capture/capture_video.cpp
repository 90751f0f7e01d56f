// capture_video: the MP4 writer and the music it carries.
//
// The video is encoded by ffmpeg, run through popen: the capture writes raw
// RGB frames (1280 x 720 x 3 bytes each, rows top-down) to its standard
// input, and ffmpeg encodes them with libx264 in yuv420p. The music is copied
// out of the mounted resource image into a temporary WAV file and trimmed by
// ffmpeg to exactly the sample frames the frames cover (atrim counts sample
// frames, so a range that starts mid-show stays in sync to the sample); a
// capture cut short ends its music with its last frame (-shortest).
//
// Threads: main thread. SIGPIPE must be ignored by the program, so that an
// encoder that stops early shows as a failed write instead of killing it.
#include "tools/capture/capture.h"

#include "corefile/corefile.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// ---- Constants ----------------------------------------------------------------------
namespace {

constexpr int kCopyChunk = 1 << 20;  // bytes copied out of the image at a time

// ---- Internal functions -------------------------------------------------------------
bool is_executable_file(const std::string& path) {
  struct stat info;
  // The mode bits too: for root, access() grants X_OK on a file that has none.
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0111) != 0 &&
         access(path.c_str(), X_OK) == 0;
}

bool ends_with(const char* text, const char* suffix) {
  const size_t n = strlen(text), m = strlen(suffix);
  return n >= m && strcasecmp(text + n - m, suffix) == 0;
}

}  // namespace

// ---- Public functions ---------------------------------------------------------------
int capture_findprogram(const char* name, char* path, int capacity) {
  if (!name || !*name) return 0;
  std::string found;
  if (strchr(name, '/')) {
    if (is_executable_file(name)) found = name;
  } else {
    const char* list = getenv("PATH");
    std::string dirs = list ? list : "/usr/local/bin:/usr/bin:/bin";
    size_t begin = 0;
    while (found.empty() && begin <= dirs.size()) {
      size_t end = dirs.find(':', begin);
      if (end == std::string::npos) end = dirs.size();
      std::string dir = dirs.substr(begin, end - begin);
      if (dir.empty()) dir = ".";  // an empty PATH entry is the current folder
      const std::string candidate = dir + "/" + name;
      if (is_executable_file(candidate)) found = candidate;
      begin = end + 1;
    }
  }
  if (found.empty() || found.size() + 1 > static_cast<size_t>(capacity)) return 0;
  memcpy(path, found.c_str(), found.size() + 1);
  return 1;
}

int capture_shellquote(char* dst, int capacity, const char* text) {
  std::string quoted = "'";
  for (const char* p = text; *p; ++p) {
    if (*p == '\'')
      quoted += "'\\''";  // close the quote, an escaped quote, open again
    else
      quoted += *p;
  }
  quoted += "'";
  if (quoted.size() + 1 > static_cast<size_t>(capacity)) return 0;
  memcpy(dst, quoted.c_str(), quoted.size() + 1);
  return 1;
}

int capture_ffmpegcommand(char* dst, int capacity, const char* ffmpeg, const char* wav, const char* out,
                          int32_t fps, int32_t width, int32_t height, int64_t firstsample, int64_t endsample) {
  std::vector<char> quoted(4096 + strlen(ffmpeg) * 4 + (wav ? strlen(wav) * 4 : 0) + strlen(out) * 4);
  const int qcap = static_cast<int>(quoted.size());
  std::string command;
  if (!capture_shellquote(quoted.data(), qcap, ffmpeg)) return 0;
  command += quoted.data();
  char part[512];
  snprintf(part, sizeof(part),
           " -hide_banner -loglevel error -y -f rawvideo -pix_fmt rgb24 -video_size %dx%d -framerate %d -i pipe:0",
           width, height, fps);
  command += part;
  if (wav) {
    if (!capture_shellquote(quoted.data(), qcap, wav)) return 0;
    command += " -i ";
    command += quoted.data();
    snprintf(part, sizeof(part),
             " -filter:a atrim=start_sample=%lld:end_sample=%lld,asetpts=PTS-STARTPTS"
             " -map 0:v:0 -map 1:a:0 -c:a aac -b:a 192k -shortest",
             static_cast<long long>(firstsample), static_cast<long long>(endsample));
    command += part;
  }
  command += " -c:v libx264 -preset medium -crf 18 -pix_fmt yuv420p -movflags +faststart";
  // A name without the usual ending still gets an MP4 container.
  if (!ends_with(out, ".mp4")) command += " -f mp4";
  if (!capture_shellquote(quoted.data(), qcap, out)) return 0;
  command += " ";
  command += quoted.data();
  if (command.size() + 1 > static_cast<size_t>(capacity)) return 0;
  memcpy(dst, command.c_str(), command.size() + 1);
  return 1;
}

int capture_openvideo(s_capturevideo* video, const char* command, char* message, int capacity) {
  *video = s_capturevideo{};
  fflush(stdout);  // the encoder inherits standard output; nothing of ours may be left buffered twice
  video->pipe = popen(command, "w");
  if (!video->pipe) return core_fail(message, capacity, "cannot start ffmpeg: %s", strerror(errno));
  return 1;
}

int capture_writevideo(s_capturevideo* video, const s_captureimage* frame) {
  if (!video->pipe) return 0;
  const size_t bytes = static_cast<size_t>(frame->width) * frame->height * 3;
  if (fwrite(frame->pixels, 1, bytes, video->pipe) != bytes) return 0;
  ++video->frames;
  return 1;
}

int capture_closevideo(s_capturevideo* video, char* message, int capacity) {
  if (!video->pipe) return core_fail(message, capacity, "ffmpeg is not running");
  const int status = pclose(video->pipe);
  video->pipe = nullptr;
  if (status == -1) return core_fail(message, capacity, "cannot wait for ffmpeg: %s", strerror(errno));
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
    return core_fail(message, capacity, "ffmpeg could not be run (exit status 127)");
  if (WIFEXITED(status)) return core_fail(message, capacity, "ffmpeg failed with exit status %d", WEXITSTATUS(status));
  return core_fail(message, capacity, "ffmpeg was stopped by signal %d", WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

int capture_extractfile(const char* name, const char* path, char* message, int capacity) {
  s_corefile file{};
  if (!corefile_open(name, &file, 0)) return core_fail(message, capacity, "%s is not in the resource image", name);
  const int size = file.size;
  FILE* out = fopen(path, "wb");
  if (!out) {
    corefile_close(&file);
    return core_fail(message, capacity, "cannot write %s: %s", path, strerror(errno));
  }
  std::vector<unsigned char> chunk(static_cast<size_t>(kCopyChunk));
  bool written = true;
  // Reads are kept inside the file: the image would go on delivering the next file's bytes.
  for (int done = 0; done < size && written;) {
    const int n = size - done < kCopyChunk ? size - done : kCopyChunk;
    corefile_read(chunk.data(), 1, n, &file);
    written = fwrite(chunk.data(), 1, static_cast<size_t>(n), out) == static_cast<size_t>(n);
    done += n;
  }
  corefile_close(&file);
  if (fclose(out) != 0) written = false;
  if (!written) return core_fail(message, capacity, "cannot write %s: %s", path, strerror(errno));
  return 1;
}
