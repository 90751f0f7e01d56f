// pulse_check: the sound-server run's recorder and judge.
//
//   pulse_check record RAW STAMPS        copies standard input (the monitor
//                                        stream) to RAW; after every read,
//                                        one "<steady ns> <frames so far>"
//                                        line goes to STAMPS (written at EOF)
//   pulse_check compare MUSIC.wav RAW [STAMPS CLOCKLOG]
//                                        aligns, fits and judges the
//                                        recording; with the stamps and the
//                                        show's clock log, also reports how
//                                        far the clock runs from the server
//   pulse_check advance CLOCKLOG         how far the clock moved over the log
//
// compare and advance pass (status 0) when pulse_analysis::Judge and
// JudgeAdvance find no fault; the limits are in pulse_analysis.h. Status 1
// is a failed check, 2 a usage or file error.
//
// Threads: main thread only.

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pulse_analysis.h"

namespace {

// ---- Constants -------------------------------------------------------------------------

constexpr size_t kReadBytes = 16384;  // the most one read of the monitor stream takes

// ---- Internal functions ------------------------------------------------------------------

double Ms(double frames) { return frames * 1000.0 / pulse_analysis::kRate; }

std::string ReadText(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The steady clock the show's clock log uses.
int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int Record(const char* rawpath, const char* stampspath) {
  FILE* raw = std::fopen(rawpath, "wb");
  if (!raw) {
    std::printf("pulse_check: cannot write %s\n", rawpath);
    return 2;
  }
  std::vector<pulse_analysis::s_stamp> stamps;
  std::vector<char> buffer(kReadBytes);
  int64_t bytes = 0;
  for (;;) {
    const ssize_t got = read(0, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    std::fwrite(buffer.data(), 1, static_cast<size_t>(got), raw);
    bytes += got;
    stamps.push_back({NowNs(), bytes / (2 * pulse_analysis::kChannels)});
  }
  std::fclose(raw);
  FILE* out = std::fopen(stampspath, "w");
  if (!out) return 2;
  for (const auto& stamp : stamps)
    std::fprintf(out, "%lld %lld\n", static_cast<long long>(stamp.time_ns), static_cast<long long>(stamp.frames));
  std::fclose(out);
  return 0;
}

int Compare(int argc, char** argv) {
  using namespace pulse_analysis;
  Samples music, recording;
  std::string error;
  if (!ReadWav(argv[0], &music, &error) || !ReadRaw(argv[1], &recording, &error)) {
    std::printf("pulse_check: %s\n", error.c_str());
    return 2;
  }
  std::printf("recording: %.2f s\n", double(recording.size() / kChannels) / kRate);
  const s_alignment alignment = Align(music, recording, int64_t(kMinSeconds * kRate));
  if (alignment.lag < 0) {
    std::printf("FAIL: the recording is too short to hold %.0f s of music\n", kMinSeconds);
    return 1;
  }
  const s_fit fit = Fit(music, recording, alignment.lag);
  std::printf("alignment: the music starts at recording frame %lld (%.1f ms), correlation %.6f\n",
              static_cast<long long>(alignment.lag), Ms(double(alignment.lag)), alignment.correlation);
  std::printf("span: %lld frames (%.2f s) from recording frame %lld\n", static_cast<long long>(fit.frames),
              double(fit.frames) / kRate, static_cast<long long>(fit.first));
  std::printf("gain: %.6f (pan law %.6f; left %.6f, right %.6f)\n", fit.gain, kPanGain, fit.leftgain,
              fit.rightgain);
  std::printf("SNR: %.2f dB\n", fit.snr_db);
  std::printf("longest silent run: %lld frames", static_cast<long long>(fit.silentrun));
  if (fit.silentat >= 0) std::printf(" at recording frame %lld", static_cast<long long>(fit.silentat));
  std::printf("\n");

  if (argc >= 4) {
    const s_clockdistance d =
        ClockDistance(ParseClockLog(ReadText(argv[3])), ParseStamps(ReadText(argv[2])), alignment.lag);
    if (d.readings == 0) {
      std::printf("clock vs server: no clock reading falls inside the recorded music\n");
    } else {
      std::printf("clock vs server: playback offset minus the server's position over %lld readings: median "
                  "%.0f frames (%.1f ms), from %.1f to %.1f ms; the mixer's offset is %.1f ms ahead (median); "
                  "the server's position is known to %.1f ms (time between the recorder's reads)\n",
                  static_cast<long long>(d.readings), d.median, Ms(d.median), Ms(d.low), Ms(d.high),
                  Ms(d.mixermedian), d.stampinterval / 1e6);
    }
  }

  const std::vector<std::string> faults = Judge(fit);
  for (const std::string& fault : faults) std::printf("FAIL: %s\n", fault.c_str());
  return faults.empty() ? 0 : 1;
}

int Advance(const char* path) {
  using namespace pulse_analysis;
  const s_advance advance = pulse_analysis::Advance(ParseClockLog(ReadText(path)));
  std::printf("clock: moved %lld frames (%.2f s of music) over %.2f s\n", static_cast<long long>(advance.frames),
              double(advance.frames) / kRate, advance.seconds);
  const std::vector<std::string> faults = JudgeAdvance(advance);
  for (const std::string& fault : faults) std::printf("FAIL: %s\n", fault.c_str());
  return faults.empty() ? 0 : 1;
}

}  // namespace

// ---- Public functions ----------------------------------------------------------------------

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "record" && argc == 4) return Record(argv[2], argv[3]);
  if (mode == "compare" && (argc == 4 || argc == 6)) return Compare(argc - 2, argv + 2);
  if (mode == "advance" && argc == 3) return Advance(argv[2]);
  std::printf("usage: pulse_check record RAW STAMPS | compare MUSIC.wav RAW [STAMPS CLOCKLOG] | advance CLOCKLOG\n");
  return 2;
}
