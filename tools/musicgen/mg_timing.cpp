// mg_timing: reads the event starts from the show's timing file, so that the
// score's sections follow the same bar structure as the pictures.
//
// Only "event" lines count: "event <number> <start tick> <unused> <transition>".
// Every other line (states, comments, blanks) is skipped. The number must be
// the line's position among the event lines, as the show's reader assumes.
//
// Threads: the calling thread.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "musicgen.h"

// ============================================================================
// Public functions
// ============================================================================

int mg_timing_parse(const char* text, const char* name, std::vector<int>* eventticks) {
  eventticks->clear();
  std::istringstream in(text);
  std::string line;
  int lineno = 0;
  while (std::getline(in, line)) {
    ++lineno;
    std::istringstream ls(line);
    std::string word;
    if (!(ls >> word) || word != "event") continue;
    long number = 0, start = 0;
    if (!(ls >> number >> start)) {
      printf("musicgen: %s:%d: an event line needs a number and a start tick\n", name, lineno);
      return 0;
    }
    if (number != (long)eventticks->size()) {
      printf("musicgen: %s:%d: event %ld is not the %zu-th event line\n", name, lineno, number, eventticks->size());
      return 0;
    }
    if (start < 0 || start > 1000000) {
      printf("musicgen: %s:%d: event %ld starts at tick %ld, out of range\n", name, lineno, number, start);
      return 0;
    }
    if (!eventticks->empty() && start < eventticks->back()) {
      printf("musicgen: %s:%d: event %ld starts before the event above it\n", name, lineno, number);
      return 0;
    }
    eventticks->push_back((int)start);
  }
  if (eventticks->empty()) {
    printf("musicgen: %s: no event lines\n", name);
    return 0;
  }
  return 1;
}

int mg_timing_load(const char* path, std::vector<int>* eventticks) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    printf("musicgen: cannot read %s\n", path);
    return 0;
  }
  std::stringstream ss;
  ss << f.rdbuf();
  return mg_timing_parse(ss.str().c_str(), path, eventticks);
}
