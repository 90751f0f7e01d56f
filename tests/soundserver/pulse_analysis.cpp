// pulse_analysis: alignment, gain fit, noise, silent runs and the clock's
// distance from the server.
//
// Threads: any.

#include "pulse_analysis.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace pulse_analysis {

// ---- Internal functions ----------------------------------------------------------------

namespace {

using Complex = std::complex<double>;

constexpr int kWavHeaderBytes = 44;

bool ReadFile(const std::string& path, std::string* bytes, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

uint32_t Le32(const char* p) {
  const auto* b = reinterpret_cast<const uint8_t*>(p);
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

uint16_t Le16(const char* p) {
  const auto* b = reinterpret_cast<const uint8_t*>(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

void CopySamples(const char* data, size_t bytes, Samples* samples) {
  const size_t count = bytes / (sizeof(int16_t) * kChannels) * kChannels;
  samples->resize(count);
  std::memcpy(samples->data(), data, count * sizeof(int16_t));
}

int64_t Frames(const Samples& samples) { return static_cast<int64_t>(samples.size() / kChannels); }

bool Silent(const Samples& samples, int64_t frame) {
  return samples[2 * frame] == 0 && samples[2 * frame + 1] == 0;
}

// In-place iterative radix-2 transform; a.size() is a power of two.
void Fft(std::vector<Complex>& a, bool inverse) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; i++) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double angle = 2 * M_PI / static_cast<double>(len) * (inverse ? 1 : -1);
    const Complex step(std::cos(angle), std::sin(angle));
    for (size_t i = 0; i < n; i += len) {
      Complex w(1);
      for (size_t k = 0; k < len / 2; k++) {
        const Complex u = a[i + k];
        const Complex v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        w *= step;
      }
    }
  }
  if (inverse)
    for (Complex& x : a) x /= static_cast<double>(n);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

}  // namespace

// ---- Public functions ----------------------------------------------------------------------

bool ReadWav(const std::string& path, Samples* samples, std::string* error) {
  std::string bytes;
  if (!ReadFile(path, &bytes, error)) return false;
  const char* b = bytes.data();
  if (bytes.size() < kWavHeaderBytes || std::memcmp(b, "RIFF", 4) != 0 || std::memcmp(b + 8, "WAVE", 4) != 0 ||
      std::memcmp(b + 36, "data", 4) != 0) {
    *error = path + " is not a canonical WAV file";
    return false;
  }
  if (Le16(b + 20) != 1 || Le16(b + 22) != kChannels || Le32(b + 24) != kRate || Le16(b + 34) != 16) {
    *error = path + " is not 16-bit stereo PCM at 44100 Hz";
    return false;
  }
  const size_t datasize = std::min<size_t>(Le32(b + 40), bytes.size() - kWavHeaderBytes);
  CopySamples(b + kWavHeaderBytes, datasize, samples);
  return true;
}

bool ReadRaw(const std::string& path, Samples* samples, std::string* error) {
  std::string bytes;
  if (!ReadFile(path, &bytes, error)) return false;
  CopySamples(bytes.data(), bytes.size(), samples);
  return true;
}

s_alignment Align(const Samples& music, const Samples& recording, int64_t min_overlap) {
  const int64_t recorded = Frames(recording);
  const int64_t lags = recorded - min_overlap;
  const int64_t window = std::min(Frames(music), recorded);
  if (lags <= 0 || window <= 0) return {-1, 0};
  // c[lag] = sum over k of recording[lag + k] x music[k], for every lag at once.
  size_t size = 1;
  while (size < static_cast<size_t>(recorded + window)) size <<= 1;
  std::vector<Complex> a(size), b(size);
  for (int64_t i = 0; i < recorded; i++) a[i] = double(recording[2 * i]) + recording[2 * i + 1];
  for (int64_t i = 0; i < window; i++) b[i] = double(music[2 * i]) + music[2 * i + 1];
  Fft(a, false);
  Fft(b, false);
  for (size_t i = 0; i < size; i++) a[i] *= std::conj(b[i]);
  Fft(a, true);

  int64_t best = 0;
  for (int64_t lag = 1; lag < lags; lag++)
    if (a[lag].real() > a[best].real()) best = lag;

  // The peak's height against the two signals' energies over the overlap.
  const int64_t overlap = std::min(window, recorded - best);
  double xy = 0, xx = 0, yy = 0;
  for (int64_t k = 0; k < overlap; k++) {
    const double x = double(music[2 * k]) + music[2 * k + 1];
    const double y = double(recording[2 * (best + k)]) + recording[2 * (best + k) + 1];
    xy += x * y;
    xx += x * x;
    yy += y * y;
  }
  return {best, xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0};
}

s_fit Fit(const Samples& music, const Samples& recording, int64_t lag) {
  s_fit fit{};
  fit.silentat = -1;
  int64_t start = 0;
  while (start < Frames(music) && Silent(music, start)) start++;
  int64_t end = Frames(recording);
  while (end > 0 && Silent(recording, end - 1)) end--;
  end = std::min(end, lag + Frames(music));
  fit.first = lag + start;
  fit.frames = std::max<int64_t>(0, end - fit.first);
  if (fit.frames == 0) return fit;

  double xy[2] = {0, 0}, xx[2] = {0, 0};
  int64_t run = 0;
  for (int64_t f = fit.first; f < end; f++) {
    for (int c = 0; c < kChannels; c++) {
      const double x = music[2 * (f - lag) + c];
      const double y = recording[2 * f + c];
      xy[c] += x * y;
      xx[c] += x * x;
    }
    run = Silent(recording, f) ? run + 1 : 0;
    if (run > fit.silentrun) {
      fit.silentrun = run;
      fit.silentat = f - run + 1;
    }
  }
  fit.gain = (xx[0] + xx[1]) > 0 ? (xy[0] + xy[1]) / (xx[0] + xx[1]) : 0;
  fit.leftgain = xx[0] > 0 ? xy[0] / xx[0] : 0;
  fit.rightgain = xx[1] > 0 ? xy[1] / xx[1] : 0;

  double signal = 0, noise = 0;
  for (int64_t f = fit.first; f < end; f++) {
    for (int c = 0; c < kChannels; c++) {
      const double expected = fit.gain * music[2 * (f - lag) + c];
      const double error = recording[2 * f + c] - expected;
      signal += expected * expected;
      noise += error * error;
    }
  }
  fit.snr_db = noise > 0 ? 10 * std::log10(signal / noise) : INFINITY;
  return fit;
}

std::vector<std::string> Judge(const s_fit& fit) {
  std::vector<std::string> faults;
  char line[160];
  if (fit.frames < static_cast<int64_t>(kMinSeconds * kRate)) {
    std::snprintf(line, sizeof(line), "the span holds %.2f s of music, less than %.0f s", double(fit.frames) / kRate,
                  kMinSeconds);
    faults.push_back(line);
  }
  if (!(fit.snr_db >= kMinSnrDb)) {
    std::snprintf(line, sizeof(line), "SNR %.2f dB is below %.0f dB: the recording is not the music", fit.snr_db,
                  kMinSnrDb);
    faults.push_back(line);
  }
  if (!(std::fabs(fit.gain / kPanGain - 1) <= kGainTolerance)) {
    std::snprintf(line, sizeof(line), "gain %.6f is not the pan law's %.6f", fit.gain, kPanGain);
    faults.push_back(line);
  }
  if (fit.silentrun > kMaxSilentRun) {
    std::snprintf(line, sizeof(line), "a silent run of %lld frames (more than %lld) inside the music",
                  static_cast<long long>(fit.silentrun), static_cast<long long>(kMaxSilentRun));
    faults.push_back(line);
  }
  return faults;
}

std::vector<s_clockreading> ParseClockLog(const std::string& text) {
  std::vector<s_clockreading> readings;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    long long t = 0, playback = 0, mixer = 0;
    if (std::sscanf(line.c_str(), "clock: %lld %lld %lld", &t, &playback, &mixer) == 3)
      readings.push_back({t, playback, mixer});
  }
  return readings;
}

std::vector<s_stamp> ParseStamps(const std::string& text) {
  std::vector<s_stamp> stamps;
  std::istringstream in(text);
  long long t = 0, frames = 0;
  while (in >> t >> frames) stamps.push_back({t, frames});
  return stamps;
}

s_clockdistance ClockDistance(const std::vector<s_clockreading>& clock, const std::vector<s_stamp>& stamps,
                              int64_t lag) {
  s_clockdistance distance{};
  std::vector<double> playback, mixer, intervals;
  for (size_t i = 1; i < stamps.size(); i++) intervals.push_back(double(stamps[i].time_ns - stamps[i - 1].time_ns));
  for (const s_clockreading& reading : clock) {
    // The stamps that bracket the reading; the recorded count in between is
    // taken as growing steadily.
    auto after = std::lower_bound(stamps.begin(), stamps.end(), reading.time_ns,
                                  [](const s_stamp& s, int64_t t) { return s.time_ns < t; });
    if (after == stamps.begin() || after == stamps.end()) continue;
    const s_stamp& before = *(after - 1);
    const double share = double(reading.time_ns - before.time_ns) / double(after->time_ns - before.time_ns);
    const double server = before.frames + share * double(after->frames - before.frames) - double(lag);
    if (server <= 0 || reading.playback <= 0) continue;  // the music has not reached the server yet
    playback.push_back(double(reading.playback) - server);
    mixer.push_back(double(reading.mixer) - server);
  }
  distance.readings = static_cast<int64_t>(playback.size());
  if (playback.empty()) return distance;
  distance.median = Median(playback);
  distance.low = *std::min_element(playback.begin(), playback.end());
  distance.high = *std::max_element(playback.begin(), playback.end());
  distance.mixermedian = Median(mixer);
  distance.stampinterval = Median(intervals);
  return distance;
}

s_advance Advance(const std::vector<s_clockreading>& clock) {
  if (clock.size() < 2) return {0, 0};
  return {double(clock.back().time_ns - clock.front().time_ns) / 1e9, clock.back().playback - clock.front().playback};
}

std::vector<std::string> JudgeAdvance(const s_advance& advance) {
  std::vector<std::string> faults;
  char line[160];
  if (advance.seconds < kMinAdvanceSeconds) {
    std::snprintf(line, sizeof(line), "the clock log covers %.2f s, less than %.0f s", advance.seconds,
                  kMinAdvanceSeconds);
    faults.push_back(line);
  } else if (double(advance.frames) < kMinAdvanceShare * advance.seconds * kRate) {
    std::snprintf(line, sizeof(line), "the clock moved %.2f s of music in %.2f s: it does not advance",
                  double(advance.frames) / kRate, advance.seconds);
    faults.push_back(line);
  }
  return faults;
}

}  // namespace pulse_analysis
