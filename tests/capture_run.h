// Shell commands for the capture tests: run one and keep what it printed, and
// ask ffprobe about a video.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace capture_test {

struct Ran {
  int status;       // exit status, or -1 when the command did not end normally
  std::string out;  // standard output and standard error together
};

inline Ran run(const std::string& command) {
  Ran result{-1, ""};
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) result.out.append(buffer, n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// One entry of one stream of a video as ffprobe reports it ("1280", "aac"),
// without the line break; frames are counted by decoding them.
inline std::string probe(const std::string& ffprobe, const std::string& video, const char* stream,
                         const char* entry) {
  Ran result = run(ffprobe + " -v error -count_frames -select_streams " + stream + " -show_entries stream=" + entry +
                   " -of default=nw=1:nk=1 '" + video + "'");
  while (!result.out.empty() && result.out.back() == '\n') result.out.pop_back();
  return result.status == 0 ? result.out : "ffprobe failed: " + result.out;
}

}  // namespace capture_test
