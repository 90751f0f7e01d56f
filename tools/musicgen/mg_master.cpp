// mg_master: loudness and true-peak meters, the look-ahead limiter, and the
// mastering pass that turns the float mix into 16-bit samples.
//
// Loudness follows ITU-R BS.1770: each channel through the K-weighting pair
// (a high shelf near 1.7 kHz, a high-pass near 38 Hz), mean squares over
// 400 ms blocks that overlap by 75%, an absolute gate at -70 LUFS and a
// relative gate 10 LU below the mean of the blocks that passed the first.
//
// True peak: the signal is oversampled four times with a windowed sinc, the
// way a converter reconstructs it; peaks between samples count.
//
// The limiter sees the whole track at once, so its look-ahead is exact: the
// gain each frame needs is the ceiling over the true peak around it; that
// need is spread backwards over the look-ahead window (a running minimum),
// released exponentially, then smoothed by two box filters that together span
// the window, so the gain is already down when the peak arrives.
//
// The mastering gain is measured (passes of gain, limit, measure until the
// loudness is on target) or given; either way it is one factor for the whole
// file, and the limiter looks ahead only 1.5 ms, so a given gain keeps every
// sample that comes well before a change of the mix. The file ends with a
// raised-cosine fade into exact silence.
//
// Threads: the calling thread.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "musicgen.h"

// ============================================================================
// Constants
// ============================================================================

namespace {

constexpr int kOversample = 4;          // true-peak interpolation factor
constexpr int kTaps = 16;               // taps per interpolated phase
constexpr double kBlockSeconds = 0.4;   // loudness block
constexpr int kBlockSteps = 4;          // 75% overlap: a block is four steps
constexpr double kAbsoluteGate = -70.0; // LUFS
constexpr double kRelativeGate = -10.0; // LU below the ungated mean
constexpr double kSilence = -200.0;     // what the meter reports for silence
constexpr float kLimiterMargin = 0.985f;  // about -0.13 dB below the ceiling, for the gain's own ripple
constexpr int kMasterPasses = 4;        // gain / limit / measure rounds
constexpr double kLoudnessTolerance = 0.03;  // LU: good enough to stop iterating
constexpr float kLookahead = 0.0015f;   // seconds the limiter sees ahead
constexpr float kRelease = 0.08f;       // seconds, release time constant

// ============================================================================
// Internal functions
// ============================================================================

// Fractional-delay taps for the three in-between phases, x[n-7..n+8] -> n + p/4.
struct Interpolator {
  float h[kOversample][kTaps];
  Interpolator() {
    for (int p = 1; p < kOversample; ++p) {
      double f = (double)p / kOversample;
      double sum = 0.0;
      for (int k = 0; k < kTaps; ++k) {
        double x = (k - (kTaps / 2 - 1)) - f;  // distance of tap k from the point
        double sinc = std::fabs(x) < 1e-12 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
        double w = 0.42 + 0.5 * std::cos(M_PI * x / (kTaps / 2)) + 0.08 * std::cos(2.0 * M_PI * x / (kTaps / 2));
        h[p][k] = (float)(sinc * w);
        sum += sinc * w;
      }
      for (int k = 0; k < kTaps; ++k) h[p][k] = (float)(h[p][k] / sum);
    }
    for (int k = 0; k < kTaps; ++k) h[0][k] = 0.0f;
  }
};
const Interpolator g_interp;

// Highest absolute value of one channel around each frame: the sample itself
// and the three reconstructed points up to the next frame. peak[n] covers
// [n, n+1). x walks one channel of interleaved stereo (stride 2).
void channel_peaks(const float* x, int64_t frames, float* peak, bool accumulate) {
  constexpr int kBefore = kTaps / 2 - 1;  // taps before the frame
  constexpr int kChunk = 4096;            // frames per pass, small enough to stay in cache
  std::vector<float> buf(kChunk + kTaps), acc(kChunk), m(kChunk);
  for (int64_t c0 = 0; c0 < frames; c0 += kChunk) {
    const int n = (int)std::min<int64_t>(kChunk, frames - c0);
    // buf[j] holds the frame c0 - kBefore + j (zero outside the signal).
    for (int j = 0; j < n + kTaps - 1; ++j) {
      int64_t idx = c0 - kBefore + j;
      buf[(size_t)j] = (idx >= 0 && idx < frames) ? x[2 * idx] : 0.0f;
    }
    for (int i = 0; i < n; ++i) m[(size_t)i] = std::fabs(buf[(size_t)(i + kBefore)]);
    for (int p = 1; p < kOversample; ++p) {
      std::fill(acc.begin(), acc.begin() + n, 0.0f);
      for (int k = 0; k < kTaps; ++k) {
        const float h = g_interp.h[p][k];
        const float* src = buf.data() + k;
        float* dst = acc.data();
        for (int i = 0; i < n; ++i) dst[i] += src[i] * h;  // vectorises
      }
      for (int i = 0; i < n; ++i) m[(size_t)i] = std::max(m[(size_t)i], std::fabs(acc[(size_t)i]));
    }
    for (int i = 0; i < n; ++i)
      peak[c0 + i] = accumulate ? std::max(peak[c0 + i], m[(size_t)i]) : m[(size_t)i];
  }
}

// The true-peak envelope of both channels, by frame.
std::vector<float> stereo_peaks(const float* stereo, int64_t frames) {
  std::vector<float> peak((size_t)std::max<int64_t>(frames, 0));
  if (frames <= 0) return peak;
  channel_peaks(stereo, frames, peak.data(), false);
  channel_peaks(stereo + 1, frames, peak.data(), true);
  return peak;
}

// K-weighting filters for MG_RATE, from the analogue prototype of BS.1770.
void kweighting(s_mgbiquad* shelf, s_mgbiquad* highpass) {
  {
    const double f0 = 1681.974450955533, gdb = 3.999843853973347, q = 0.7071752369554196;
    double k = std::tan(M_PI * f0 / MG_RATE);
    double vh = std::pow(10.0, gdb / 20.0);
    double vb = std::pow(vh, 0.4996667741545416);
    double a0 = 1.0 + k / q + k * k;
    shelf->b0 = (vh + vb * k / q + k * k) / a0;
    shelf->b1 = 2.0 * (k * k - vh) / a0;
    shelf->b2 = (vh - vb * k / q + k * k) / a0;
    shelf->a1 = 2.0 * (k * k - 1.0) / a0;
    shelf->a2 = (1.0 - k / q + k * k) / a0;
    shelf->z1 = shelf->z2 = 0.0;
  }
  {
    const double f0 = 38.13547087602444, q = 0.5003270373238773;
    double k = std::tan(M_PI * f0 / MG_RATE);
    double a0 = 1.0 + k / q + k * k;
    highpass->b0 = 1.0;
    highpass->b1 = -2.0;
    highpass->b2 = 1.0;
    highpass->a1 = 2.0 * (k * k - 1.0) / a0;
    highpass->a2 = (1.0 - k / q + k * k) / a0;
    highpass->z1 = highpass->z2 = 0.0;
  }
}

double power_to_lufs(double power) {
  return power > 0.0 ? -0.691 + 10.0 * std::log10(power) : kSilence;
}

// Running minimum of r over [n, n + window], written to out.
void lookahead_min(const float* r, int64_t frames, int window, float* out) {
  // Monotonic queue of indices with increasing values.
  std::vector<int64_t> q((size_t)window + 2);
  size_t head = 0, tail = 0, cap = q.size();
  auto push = [&](int64_t i) {
    while (tail != head && r[q[(tail + cap - 1) % cap]] >= r[i]) tail = (tail + cap - 1) % cap;
    q[tail] = i;
    tail = (tail + 1) % cap;
  };
  int64_t next = 0;
  for (int64_t n = 0; n < frames; ++n) {
    while (next < frames && next <= n + window) push(next++);
    while (q[head] < n) head = (head + 1) % cap;
    out[n] = r[q[head]];
  }
}

// Backward-looking box average of length len, in place. Before the first
// frame the gain is taken to have been g[0] all along, so a signal that is
// loud from its first frame is held down from that frame on.
void box_average(float* g, int64_t frames, int len) {
  std::vector<float> hist((size_t)len, g[0]);
  double sum = (double)g[0] * len;
  size_t pos = 0;
  for (int64_t n = 0; n < frames; ++n) {
    sum += (double)g[n] - hist[pos];
    hist[pos] = g[n];
    pos = (pos + 1) % (size_t)len;
    g[n] = (float)(sum / len);
  }
}

}  // namespace

// ============================================================================
// Public functions: meters
// ============================================================================

double mg_loudness(const float* stereo, int64_t frames) {
  const int step = (int)(kBlockSeconds * MG_RATE / kBlockSteps);  // 4410 frames
  int64_t steps = frames / step;
  if (steps < kBlockSteps) return kSilence;
  s_mgbiquad shelf[2], hp[2];
  kweighting(&shelf[0], &hp[0]);
  kweighting(&shelf[1], &hp[1]);
  // Mean square of each step, channels summed (both weighted 1).
  std::vector<double> stepPower((size_t)steps, 0.0);
  for (int64_t s = 0; s < steps; ++s) {
    double acc = 0.0;
    for (int i = 0; i < step; ++i) {
      int64_t n = s * step + i;
      for (int c = 0; c < 2; ++c) {
        double y = mg_biquad_next(&hp[c], mg_biquad_next(&shelf[c], stereo[2 * n + c]));
        acc += y * y;
      }
    }
    stepPower[(size_t)s] = acc / step;
  }
  std::vector<double> blocks;
  blocks.reserve((size_t)steps);
  for (int64_t s = 0; s + kBlockSteps <= steps; ++s) {
    double p = 0.0;
    for (int k = 0; k < kBlockSteps; ++k) p += stepPower[(size_t)(s + k)];
    blocks.push_back(p / kBlockSteps);
  }
  double sum = 0.0;
  int count = 0;
  for (double p : blocks)
    if (power_to_lufs(p) > kAbsoluteGate) sum += p, ++count;
  if (count == 0) return kSilence;
  double relative = power_to_lufs(sum / count) + kRelativeGate;
  sum = 0.0;
  count = 0;
  for (double p : blocks) {
    double l = power_to_lufs(p);
    if (l > kAbsoluteGate && l > relative) sum += p, ++count;
  }
  return count ? power_to_lufs(sum / count) : kSilence;
}

double mg_truepeak(const float* stereo, int64_t frames) {
  if (frames <= 0) return 0.0;
  std::vector<float> peak = stereo_peaks(stereo, frames);
  return *std::max_element(peak.begin(), peak.end());
}

double mg_samplepeak(const float* stereo, int64_t frames) {
  double m = 0.0;
  for (int64_t i = 0; i < 2 * frames; ++i) m = std::max(m, (double)std::fabs(stereo[i]));
  return m;
}

// ============================================================================
// Public functions: limiter and mastering
// ============================================================================

namespace {

// The limiter proper, given the input's true-peak envelope (which scales with
// the gain, so the mastering passes measure it once).
void limit_with_peaks(const float* in, const float* peaks, float* out, int64_t frames, float gain, float ceiling,
                      float lookahead, float release) {
  int window = std::max(2, (int)std::lround(lookahead * MG_RATE));
  window += window & 1;  // even, so two boxes of window/2 + 1 span window + 1 frames
  const float limit = ceiling * kLimiterMargin;

  // The gain each frame allows: the ceiling over the peak of the intervals on both sides.
  std::vector<float> need((size_t)frames);
  float prev = 0.0f;
  for (int64_t n = 0; n < frames; ++n) {
    float p = std::max(peaks[n], prev) * gain;
    prev = peaks[n];
    need[(size_t)n] = p > limit ? limit / p : 1.0f;
  }

  std::vector<float> g((size_t)frames);
  lookahead_min(need.data(), frames, window, g.data());
  // Release: recover towards 1 with a time constant, never above what is needed.
  const float rc = std::exp(-1.0f / (std::max(release, 1.0e-3f) * MG_RATE));
  float level = 1.0f;
  for (int64_t n = 0; n < frames; ++n) {
    level = 1.0f - (1.0f - level) * rc;
    level = std::min(level, g[(size_t)n]);
    g[(size_t)n] = level;
  }
  box_average(g.data(), frames, window / 2 + 1);
  box_average(g.data(), frames, window / 2 + 1);

  for (int64_t n = 0; n < frames; ++n) {
    float k = gain * g[(size_t)n];
    out[2 * n] = in[2 * n] * k;
    out[2 * n + 1] = in[2 * n + 1] * k;
  }
}

}  // namespace

void mg_limit(const float* in, float* out, int64_t frames, float gain, float ceiling, float lookahead,
              float release) {
  if (frames <= 0) return;
  std::vector<float> peaks = stereo_peaks(in, frames);
  limit_with_peaks(in, peaks.data(), out, frames, gain, ceiling, lookahead, release);
}

void mg_master(std::vector<float>* mix, float targetlufs, float ceilingdb, float fadeout, std::vector<int16_t>* pcm,
               s_mgmasterreport* report) {
  const s_mgmastering m = {targetlufs, ceilingdb, std::nan(""), fadeout, -1, -1};
  mg_master_song(mix, &m, pcm, report);
}

void mg_master_song(std::vector<float>* mix, const s_mgmastering* mastering, std::vector<int16_t>* pcm,
                    s_mgmasterreport* report) {
  const int64_t frames = (int64_t)(mix->size() / 2);
  const float ceiling = std::pow(10.0f, mastering->ceiling / 20.0f);
  const float targetlufs = mastering->target;
  const bool fixed = std::isfinite(mastering->gaindb);
  *report = s_mgmasterreport{};
  report->inputlufs = mg_loudness(mix->data(), frames);

  std::vector<float> out(mix->size());
  std::vector<float> peaks = stereo_peaks(mix->data(), frames);
  double gaindb = fixed ? mastering->gaindb : report->inputlufs > kSilence ? targetlufs - report->inputlufs : 0.0;
  double lufs = kSilence;
  for (int pass = 0; pass < kMasterPasses; ++pass) {
    limit_with_peaks(mix->data(), peaks.data(), out.data(), frames, (float)std::pow(10.0, gaindb / 20.0), ceiling,
                     kLookahead, kRelease);
    if (fixed) break;
    lufs = mg_loudness(out.data(), frames);
    if (lufs <= kSilence || std::fabs(targetlufs - lufs) < kLoudnessTolerance) break;
    if (pass + 1 < kMasterPasses) gaindb += targetlufs - lufs;
  }
  report->gaindb = gaindb;

  // The closing fade, so the file stops on silence whatever still rings;
  // after it, nothing.
  const bool placed = mastering->fadefrom >= 0 && mastering->fadeto >= 0;
  const int64_t fadeto = placed ? std::min(mastering->fadeto, frames) : frames;
  const int64_t fadefrom = placed ? std::min(mastering->fadefrom, fadeto)
                                  : frames - std::min<int64_t>(frames, (int64_t)(mastering->fadeout * MG_RATE));
  const int64_t fade = fadeto - fadefrom;
  for (int64_t i = 0; i < fade; ++i) {
    const int64_t n = fadefrom + i;
    const float k = 0.5f + 0.5f * std::cos(MG_PI * (float)(i + 1) / (float)fade);
    out[2 * n] *= k;
    out[2 * n + 1] *= k;
  }
  std::fill(out.begin() + 2 * fadeto, out.end(), 0.0f);
  // The loudest the fade still gets from each of its frames to its end.
  std::vector<float> rest((size_t)fade + 1, 0.0f);
  for (int64_t i = fade - 1; i >= 0; --i) {
    const size_t n = (size_t)(fadefrom + i);
    rest[(size_t)i] = std::max({rest[(size_t)i + 1], std::fabs(out[2 * n]), std::fabs(out[2 * n + 1])});
  }

  pcm->resize(out.size());
  int clipped = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    float v = std::nearbyint(out[i] * 32768.0f);
    if (v >= 32767.0f) v = 32767.0f, ++clipped;
    if (v <= -32768.0f) v = -32768.0f, ++clipped;
    (*pcm)[i] = (int16_t)v;
  }
  // Deep in the fade, the first frame that rounds to silence in both
  // channels starts the silence: no stray steps of the scale after it.
  report->silentfrom = fadeto;
  for (int64_t i = 0; i < fade; ++i) {
    const size_t n = (size_t)(fadefrom + i);
    if (rest[(size_t)i] > MG_SILENCE_PEAK || (*pcm)[2 * n] != 0 || (*pcm)[2 * n + 1] != 0) continue;
    std::fill(pcm->begin() + 2 * (int64_t)n, pcm->begin() + 2 * fadeto, (int16_t)0);
    report->silentfrom = (int64_t)n;
    break;
  }
  for (size_t i = 0; i < out.size(); ++i) out[i] = (float)(*pcm)[i] * (1.0f / 32768.0f);
  report->clipped = clipped;
  report->lufs = mg_loudness(out.data(), frames);
  report->truepeakdb = 20.0 * std::log10(std::max(mg_truepeak(out.data(), frames), 1.0e-10));
  report->samplepeak = mg_samplepeak(out.data(), frames);
}
