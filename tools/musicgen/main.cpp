// musicgen: renders the show's music.
//
//   musicgen --score SCORE --timing TIMING -o OUT.wav [--quiet] [--sections] [--solo TRACK]
//   musicgen --score SCORE --timing TIMING --report WAV
//
// --report measures a rendered file section by section (loudness, octave
// bands, pumping, the low end, the hook, repetition, the breaths) and writes
// nothing;
// --sections prints the loudness of every section of the unmastered mix;
// --solo renders one track alone (the others muted, the buses kept) and
// prints the same, so track levels compare with the full mix. Both are for
// mixing: --solo writes no file.
// Reads the score and the timing file, sequences the sections onto the
// events, renders, masters to the score's loudness target and true-peak
// ceiling, and writes a 44100 Hz 16-bit stereo WAV. Prints the length, the
// loudness and the peaks. Exit status 0 on success, 1 on any failure (with
// a message), so the build stops instead of packing a broken file; 2 for a
// bad command line (core's option reader, as every program of the project).
//
// Threads: main thread only.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/core.h"
#include "musicgen.h"

// ============================================================================
// Internal functions
// ============================================================================

namespace {

constexpr const char* kProgram = "musicgen";

enum Option { kScore, kTiming, kOutput, kQuiet, kSolo, kSections, kReport, kHelp, kNumOptions };
const s_coreoptiondef kOptions[kNumOptions] = {
    {"score", true}, {"timing", true}, {"output", true, 'o'}, {"quiet", false},
    {"solo", true},  {"sections", false}, {"report", true}, {"help", false, 'h'},
};

// What the command line asks for.
struct s_mgcommandline {
  const char* scorepath = nullptr;
  const char* timingpath = nullptr;
  const char* outpath = nullptr;
  const char* solo = nullptr;
  const char* reportpath = nullptr;
  bool quiet = false, sections = false;
};

void usage(FILE* to) {
  fprintf(to, "usage: musicgen --score SCORE --timing TIMING -o OUT.wav [--quiet] [--sections] [--solo TRACK]\n"
         "       musicgen --score SCORE --timing TIMING --report WAV\n");
}

// Takes one option into the s_mgcommandline at `context`: a path where the
// option takes one, else a flag.
bool take_option(void* context, int found, const char* value, char* /*message*/, int /*capacity*/) {
  s_mgcommandline* c = static_cast<s_mgcommandline*>(context);
  const char** const paths[kNumOptions] = {&c->scorepath, &c->timingpath, &c->outpath, nullptr,
                                           &c->solo,      nullptr,        &c->reportpath};
  bool* const flags[kNumOptions] = {nullptr, nullptr, nullptr, &c->quiet, nullptr, &c->sections};
  if (paths[found]) *paths[found] = value;
  if (flags[found]) *flags[found] = true;
  return true;
}

// Reads the command line into command. Returns -1 to go on, else the exit
// status: 0 after --help, CORE_EXIT_USAGE after a mistake (said on stderr).
int read_command_line(int argc, const char* const* argv, s_mgcommandline* command) {
  const int answered =
      core_readcommandline(kProgram, argc, argv, kOptions, kNumOptions, false, usage, take_option, command);
  if (answered >= 0) return answered;
  const char* missing = !command->scorepath    ? "--score SCORE is needed"
                        : !command->timingpath ? "--timing TIMING is needed"
                        : !command->outpath && !command->reportpath ? "-o OUT.wav (or --report WAV) is needed"
                                                                    : nullptr;
  return missing ? core_refuseoption(kProgram, missing) : -1;
}

// Loudness of each section of the unmastered mix.
void print_sections(const s_mgscore& score, const s_mgsong& song, const std::vector<float>& mix) {
  for (const s_mgsection& sec : score.sections) {
    int64_t a = (int64_t)sec.start * MG_TICK_FRAMES, b = (int64_t)(sec.start + sec.length) * MG_TICK_FRAMES;
    b = std::min<int64_t>(b, song.frames);
    printf(MG_MSG "section %-10s event %2d bars %3d-%3d: %7.2f LUFS\n", sec.name, sec.event,
           sec.start / MG_TICKS_PER_BAR, (sec.start + sec.length) / MG_TICKS_PER_BAR,
           mg_loudness(mix.data() + 2 * a, b - a));
  }
}

// The measures of a rendered file.
int report(const s_mgscore& score, const s_mgsong& song, const char* path) {
  std::vector<float> stereo;
  if (!mg_wav_read(path, &stereo)) return 1;
  std::vector<s_mgsectionreport> sections;
  std::vector<s_mgbreath> breaths;
  mg_report(&score, &song, stereo.data(), (int64_t)stereo.size() / 2, &sections, &breaths);
  mg_report_print(sections, breaths);
  return 0;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

// ============================================================================
// Public functions
// ============================================================================

int main(int argc, char** argv) {
  s_mgcommandline command;
  const int answered = read_command_line(argc, argv, &command);
  if (answered >= 0) return answered;
  const char* scorepath = command.scorepath;
  const char* timingpath = command.timingpath;
  const char* outpath = command.outpath;
  const char* solo = command.solo;
  const char* reportpath = command.reportpath;
  const bool quiet = command.quiet, sections = command.sections;
  auto t0 = std::chrono::steady_clock::now();
  s_mgscore score;
  std::vector<int> events;
  s_mgsong song;
  if (!mg_score_load(scorepath, &score) || !mg_timing_load(timingpath, &events) ||
      !mg_sequence(&score, events, &song))
    return 1;
  if (reportpath) return report(score, song, reportpath);
  if (solo) {
    bool found = false;
    for (s_mginstrument& ins : score.instruments) {
      if (std::strcmp(ins.name, solo) == 0) found = true;
      else ins.p[MG_P_LEVEL] = 0.0f;  // silent, and it no longer drives the sidechain
    }
    if (!found) {
      printf(MG_MSG "no track named %s\n", solo);
      return 1;
    }
  }
  std::vector<float> mix;
  mg_render(&score, &song, 0, song.frames, &mix);
  double rendered = seconds_since(t0);
  if (sections || solo) print_sections(score, song, mix);
  if (solo) return 0;
  std::vector<int16_t> pcm;
  s_mgmasterreport rep;
  const s_mgmastering mastering = {score.mix.target, score.mix.ceiling, score.mix.gain, score.mix.fadeout,
                                   song.fadefrom, song.fadeto};
  mg_master_song(&mix, &mastering, &pcm, &rep);
  if (!mg_wav_write(outpath, pcm.data(), (uint32_t)(pcm.size() / 2))) return 1;
  if (!quiet) {
    printf(MG_MSG "%s: %lld frames (%.2f s, %d ticks), %zu notes, %zu events\n", outpath,
           (long long)song.frames, (double)song.frames / MG_RATE, song.endtick, song.notes.size(), events.size());
    // The gain to the digit that "mix gain=" needs to reproduce it exactly.
    printf(MG_MSG "mix %.2f LUFS, gain %+.7f dB (%s) -> %.2f LUFS, true peak %.2f dBTP, sample peak %.4f, %d at "
           "full scale\n",
           rep.inputlufs, rep.gaindb, std::isfinite(score.mix.gain) ? "fixed" : "to the target", rep.lufs,
           rep.truepeakdb, rep.samplepeak, rep.clipped);
    if (song.fadeto >= 0)
      printf(MG_MSG "faded out, silent from %.3f s (tick %.1f)\n", (double)rep.silentfrom / MG_RATE,
             (double)rep.silentfrom / MG_TICK_FRAMES);
    printf(MG_MSG "rendered in %.2f s, mastered and written in %.2f s\n", rendered, seconds_since(t0) - rendered);
  }
  return 0;
}
