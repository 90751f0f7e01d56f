// mg_report: measures the mastered music section by section, as a producer
// checks a mix for a party's PA.
//
// Per section: integrated loudness (BS.1770, mg_loudness); octave bands of
// the mid signal relative to the 1 kHz octave (Welch average of Hann-windowed
// spectra); the 400-2500 Hz pump depth (the band's power averaged over the
// section's beats in 23 ms frames from the kick: the mean of the beat's last
// quarter over the lowest frame of its first half); the share of the power
// below 40 Hz; the correlation of left and right below 120 Hz; the low peak
// (median over beats of the peak under 150 Hz, where the kick hits); the
// hook's pitch match (the share of the sixteenths under a note of the score's
// "hook" pattern, played as written, whose strongest pitch from C4 to C7 by
// harmonic summation is that very note, octave included); and the longest stretch of
// near-identical bars (bars whose mean chroma and octave levels correlate
// above MG_REPORT_SAME with the bar a fixed number of bars earlier, for any
// such lag). The breaths are the half beat before the chorus and the final
// drop, and the second half of the breakdown's stop bar.
//
// Threads: the calling thread.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>

#include "musicgen.h"

// ============================================================================
// Constants
// ============================================================================

namespace {

constexpr int kBandFft = 8192;          // octave bands: frames per spectrum
constexpr int kPumpFft = 1024;          // pump depth: frames per level reading
constexpr int kPumpHop = 256;           // frames between level readings
constexpr int kPitchFft = 4096;         // pitch and chroma: frames per sixteenth spectrum
constexpr int kPitchPad = 16384;        // its transform, zero-padded: bins a fraction of a semitone apart
constexpr int kPitchSkip = 384;         // frames skipped after a sixteenth's start (the attack)
constexpr int kHarmonics = 6;           // harmonic summation depth
constexpr int kLowPitch = 60, kHighPitch = 96;  // MIDI range of the candidate pitches: the melodies' (C4 to C7)
constexpr int kSixteenthTicks = MG_TICKS_PER_BEAT / 4;
constexpr int kFeatureBands = 8;        // octave bands 63 Hz to 8 kHz in the bar features
constexpr double kLowHz = 40.0, kMonoHz = 120.0, kKickHz = 150.0;
constexpr double kPumpLo = 400.0, kPumpHi = 2500.0;
constexpr const char* kHookPattern = "hook";
constexpr double kSilentDb = -200.0;
constexpr double kPi = 3.14159265358979323846;
constexpr double kSqrt2 = 1.41421356237309504880, kSqrtHalf = 0.70710678118654752440;

using cplx = std::complex<double>;

// ============================================================================
// Internal functions
// ============================================================================

// In-place radix-2 FFT of a power-of-two length.
void fft(std::vector<cplx>* a) {
  const size_t n = a->size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap((*a)[i], (*a)[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double ang = -2.0 * kPi / (double)len;
    const cplx wl(std::cos(ang), std::sin(ang));
    for (size_t i = 0; i < n; i += len) {
      cplx w(1.0, 0.0);
      for (size_t k = 0; k < len / 2; ++k) {
        cplx u = (*a)[i + k], v = (*a)[i + k + len / 2] * w;
        (*a)[i + k] = u + v;
        (*a)[i + k + len / 2] = u - v;
        w *= wl;
      }
    }
  }
}

// Power spectrum (bins 0..pad/2) of n frames of `x` from `at` through a Hann
// window, zero-padded to `pad` (0: n); frames outside the signal count as silence.
void power_spectrum(const std::vector<float>& x, int64_t at, int n, std::vector<double>* power, int pad = 0) {
  if (pad < n) pad = n;
  std::vector<cplx> a((size_t)pad);
  for (int i = 0; i < n; ++i) {
    int64_t k = at + i;
    double v = k >= 0 && k < (int64_t)x.size() ? x[(size_t)k] : 0.0;
    a[(size_t)i] = v * (0.5 - 0.5 * std::cos(2.0 * kPi * i / n));
  }
  fft(&a);
  power->resize((size_t)pad / 2 + 1);
  for (int i = 0; i <= pad / 2; ++i) (*power)[(size_t)i] = std::norm(a[(size_t)i]);
}

double db(double power) {
  return power > 0.0 ? 10.0 * std::log10(power) : kSilentDb;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double bin_hz(int n) {
  return (double)MG_RATE / n;
}

// Sum of the power between two frequencies.
double band_power(const std::vector<double>& power, int n, double lo, double hi) {
  double sum = 0.0;
  for (size_t i = 1; i < power.size(); ++i) {
    double f = (double)i * bin_hz(n);
    if (f >= lo && f < hi) sum += power[i];
  }
  return sum;
}

// Second-order Butterworth lowpass (RBJ) at `hz`.
s_mgbiquad lowpass(double hz) {
  const double w = 2.0 * kPi * hz / MG_RATE, alpha = std::sin(w) / (2.0 * kSqrtHalf), c = std::cos(w);
  const double a0 = 1.0 + alpha;
  s_mgbiquad f;
  f.b0 = f.b2 = (1.0 - c) / 2.0 / a0;
  f.b1 = (1.0 - c) / a0;
  f.a1 = -2.0 * c / a0;
  f.a2 = (1.0 - alpha) / a0;
  f.z1 = f.z2 = 0.0;
  return f;
}

// The signal's spectra, in one place for every section.
struct Signal {
  std::vector<float> mid, left, right;  // mono (L+R)/2 and the two sides
  std::vector<float> kick;              // mid under kKickHz
  std::vector<float> lowl, lowr;        // sides under kMonoHz
};

Signal split(const float* stereo, int64_t frames) {
  Signal s;
  s.mid.resize((size_t)frames);
  s.left.resize((size_t)frames);
  s.right.resize((size_t)frames);
  s.kick.resize((size_t)frames);
  s.lowl.resize((size_t)frames);
  s.lowr.resize((size_t)frames);
  s_mgbiquad k1 = lowpass(kKickHz), k2 = lowpass(kKickHz), l1 = lowpass(kMonoHz), l2 = lowpass(kMonoHz),
             r1 = lowpass(kMonoHz), r2 = lowpass(kMonoHz);
  for (int64_t i = 0; i < frames; ++i) {
    float l = stereo[2 * i], r = stereo[2 * i + 1];
    s.left[(size_t)i] = l;
    s.right[(size_t)i] = r;
    s.mid[(size_t)i] = 0.5f * (l + r);
    s.kick[(size_t)i] = (float)mg_biquad_next(&k2, mg_biquad_next(&k1, s.mid[(size_t)i]));
    s.lowl[(size_t)i] = (float)mg_biquad_next(&l2, mg_biquad_next(&l1, l));
    s.lowr[(size_t)i] = (float)mg_biquad_next(&r2, mg_biquad_next(&r1, r));
  }
  return s;
}

// Octave bands relative to 1 kHz, the share under 40 Hz.
void spectrum_stats(const Signal& s, int64_t a, int64_t b, s_mgsectionreport* r) {
  std::vector<double> sum((size_t)kBandFft / 2 + 1, 0.0), p;
  for (int64_t at = a; at + kBandFft <= b; at += kBandFft / 2) {
    power_spectrum(s.mid, at, kBandFft, &p);
    for (size_t i = 0; i < p.size(); ++i) sum[i] += p[i];
  }
  double bands[MG_REPORT_BANDS];
  for (int k = 0; k < MG_REPORT_BANDS; ++k) {
    double c = MG_REPORT_BAND0 * std::exp2((double)k);
    bands[k] = band_power(sum, kBandFft, c * kSqrtHalf, c * kSqrt2);
  }
  const double ref = bands[MG_REPORT_BAND1K];
  for (int k = 0; k < MG_REPORT_BANDS; ++k) r->bands[k] = ref > 0.0 ? db(bands[k]) - db(ref) : 0.0;
  double total = band_power(sum, kBandFft, 0.0, MG_RATE);
  r->below40 = total > 0.0 ? band_power(sum, kBandFft, 0.0, kLowHz) / total : 0.0;
}

// Correlation of left and right under 120 Hz.
double low_correlation(const Signal& s, int64_t a, int64_t b) {
  double lr = 0.0, ll = 0.0, rr = 0.0;
  for (int64_t i = a; i < b; ++i) {
    double l = s.lowl[(size_t)i], r = s.lowr[(size_t)i];
    lr += l * r, ll += l * l, rr += r * r;
  }
  return ll > 0.0 && rr > 0.0 ? lr / std::sqrt(ll * rr) : 1.0;
}

// Pump depth from the band's power averaged over the section's beats, hop
// by hop from the kick; the low peak per beat.
void beat_stats(const Signal& s, int64_t a, int64_t b, s_mgsectionreport* r) {
  const int64_t beat = (int64_t)MG_TICKS_PER_BEAT * MG_TICK_FRAMES;
  const int hops = (int)(beat / kPumpHop);
  std::vector<double> envelope((size_t)hops, 0.0), peaks, p;
  for (int64_t at = a; at + beat <= b; at += beat) {
    for (int h = 0; h < hops; ++h) {
      power_spectrum(s.mid, at + (int64_t)h * kPumpHop - kPumpFft / 2, kPumpFft, &p);
      envelope[(size_t)h] += band_power(p, kPumpFft, kPumpLo, kPumpHi);
    }
    double peak = 0.0;
    for (int64_t i = at; i < at + beat; ++i) peak = std::max(peak, (double)std::fabs(s.kick[(size_t)i]));
    peaks.push_back(peak > 0.0 ? 20.0 * std::log10(peak) : kSilentDb);
  }
  double trough = 1e300, recovered = 0.0;
  for (int h = 0; h < hops / 2; ++h) trough = std::min(trough, envelope[(size_t)h]);
  for (int h = hops * 3 / 4; h < hops; ++h) recovered += envelope[(size_t)h] / (hops - hops * 3 / 4);
  r->pumpdb = trough > 0.0 && recovered > 0.0 ? std::max(0.0, db(recovered) - db(trough)) : 0.0;
  r->kickdb = median(peaks);
}

double note_hz(int note) {
  return 440.0 * std::exp2((note - 69) / 12.0);
}

// The strongest pitch of a spectrum by harmonic summation, as a MIDI note.
int strongest_pitch(const std::vector<double>& power) {
  int best = -1;
  double bestsal = -1.0;
  for (int m = kLowPitch; m <= kHighPitch; ++m) {
    double sal = 0.0, w = 1.0;
    for (int h = 1; h <= kHarmonics; ++h, w *= 0.8) {
      double f = note_hz(m) * h;
      // The bins within half a semitone of the harmonic, its own half only.
      int lo = (int)std::ceil(f * std::exp2(-0.5 / 12.0) / bin_hz(kPitchPad));
      int hi = (int)std::floor(f * std::exp2(0.5 / 12.0) / bin_hz(kPitchPad));
      double mag = 0.0;
      for (int i = std::max(1, lo); i <= hi && i < (int)power.size(); ++i) mag = std::max(mag, std::sqrt(power[(size_t)i]));
      sal += w * mag;
    }
    if (sal > bestsal) bestsal = sal, best = m;
  }
  return best;
}

// The feature of one sixteenth: 12 chroma bins scaled to their maximum, then
// kFeatureBands octave levels in 0..1 (60 dB under the bar's loudest, up).
void sixteenth_feature(const std::vector<double>& power, double* chroma, double* bands) {
  std::fill(chroma, chroma + 12, 0.0);
  for (size_t i = 1; i < power.size(); ++i) {
    double f = (double)i * bin_hz(kPitchPad);
    if (f < 100.0 || f > 5000.0) continue;
    int pc = (((int)std::lround(69.0 + 12.0 * std::log2(f / 440.0))) % 12 + 12) % 12;
    chroma[pc] += power[i];
  }
  double top = *std::max_element(chroma, chroma + 12);
  for (int k = 0; k < 12; ++k) chroma[k] = top > 0.0 ? chroma[k] / top : 0.0;
  for (int k = 0; k < kFeatureBands; ++k) {
    double c = 63.0 * std::exp2((double)k);
    bands[k] = db(band_power(power, kPitchPad, c * kSqrtHalf, c * kSqrt2));
  }
}

double pearson(const std::vector<double>& x, const std::vector<double>& y) {
  double mx = 0.0, my = 0.0;
  for (size_t i = 0; i < x.size(); ++i) mx += x[i], my += y[i];
  mx /= (double)x.size(), my /= (double)y.size();
  double sxy = 0.0, sxx = 0.0, syy = 0.0;
  for (size_t i = 0; i < x.size(); ++i) {
    double a = x[i] - mx, b = y[i] - my;
    sxy += a * b, sxx += a * a, syy += b * b;
  }
  return sxx > 0.0 && syy > 0.0 ? sxy / std::sqrt(sxx * syy) : 0.0;
}

// The melody of the hook, per sixteenth of the song: the MIDI note of a
// "hook" note sounding at it (played without a transposition of its own),
// else -1.
std::vector<int> hook_melody(const s_mgscore& score, int sixteenths) {
  std::vector<int> melody((size_t)sixteenths, -1);
  for (const s_mgsection& sec : score.sections) {
    for (const s_mgcommand& c : sec.commands) {
      if (c.kind != MG_CMD_PLAY || c.transpose != 0) continue;
      const s_mgpattern& pat = score.patterns[(size_t)c.target];
      if (std::strcmp(pat.name, kHookPattern) != 0) continue;
      for (int p0 = c.from; p0 < c.to; p0 += pat.length) {
        for (const s_mgpatnote& pn : pat.notes) {
          int s = p0 + pn.start, e = std::min(p0 + pn.start + pn.length, c.to);
          for (int t = s; t < e; t += kSixteenthTicks) {
            int k = (sec.start + t) / kSixteenthTicks;
            if (k >= 0 && k < sixteenths) melody[(size_t)k] = pn.value + pn.octave * 12 + sec.transpose;
          }
        }
      }
    }
  }
  return melody;
}

// Per sixteenth: the strongest pitch and the bar features; then per bar the
// longest run of repeats at any lag, and per section the hook's match.
void pitch_stats(const Signal& s, const s_mgscore& score, const s_mgsong& song, int64_t frames,
                 std::vector<s_mgsectionreport>* reports) {
  const int64_t sixteenth = (int64_t)kSixteenthTicks * MG_TICK_FRAMES;
  const int count = (int)std::min<int64_t>(song.endtick / kSixteenthTicks, frames / sixteenth);
  const std::vector<int> melody = hook_melody(score, count);
  std::vector<int> pitch((size_t)count, -1);
  const int perbar = MG_TICKS_PER_BAR / kSixteenthTicks;
  const int bars = count / perbar;
  std::vector<std::vector<double>> feature((size_t)bars);
  std::vector<double> power;
  for (int bar = 0; bar < bars; ++bar) {
    std::vector<double> chroma((size_t)perbar * 12), bands((size_t)perbar * kFeatureBands);
    for (int k = 0; k < perbar; ++k) {
      int six = bar * perbar + k;
      power_spectrum(s.mid, six * sixteenth + kPitchSkip, kPitchFft, &power, kPitchPad);
      if (melody[(size_t)six] >= 0) pitch[(size_t)six] = strongest_pitch(power);
      sixteenth_feature(power, &chroma[(size_t)k * 12], &bands[(size_t)k * kFeatureBands]);
    }
    double top = *std::max_element(bands.begin(), bands.end());
    // The bar's mean chroma and mean band levels.
    std::vector<double>& f = feature[(size_t)bar];
    f.assign(12 + kFeatureBands, 0.0);
    for (int k = 0; k < perbar; ++k) {
      for (int c = 0; c < 12; ++c) f[(size_t)c] += chroma[(size_t)(k * 12 + c)] / perbar;
      for (int c = 0; c < kFeatureBands; ++c) {
        double level = bands[(size_t)(k * kFeatureBands + c)];
        f[(size_t)(12 + c)] += (top > kSilentDb ? std::max(0.0, 1.0 + (level - top) / 60.0) : 0.0) / perbar;
      }
    }
  }
  // run[lag][bar]: bars in a row, ending at `bar`, that repeat the bar `lag` earlier.
  std::vector<int> longest((size_t)bars, 0);  // longest run through each bar
  for (int lag = 1; lag < bars; ++lag) {
    int run = 0;
    for (int bar = lag; bar <= bars; ++bar) {
      bool same = bar < bars && pearson(feature[(size_t)bar], feature[(size_t)(bar - lag)]) > MG_REPORT_SAME;
      if (same) {
        ++run;
        continue;
      }
      for (int k = bar - run; k < bar; ++k) longest[(size_t)k] = std::max(longest[(size_t)k], run);
      run = 0;
    }
  }
  for (s_mgsectionreport& r : *reports) {
    int hits = 0, total = 0;
    for (int six = r.bar0 * perbar; six < std::min(r.bar1 * perbar, count); ++six) {
      if (melody[(size_t)six] < 0) continue;
      ++total;
      hits += pitch[(size_t)six] == melody[(size_t)six];
    }
    r.hookmatch = total > 0 ? (double)hits / total : -1.0;
    r.repeatbars = 0;
    for (int bar = r.bar0; bar < std::min(r.bar1, bars); ++bar)
      r.repeatbars = std::max(r.repeatbars, longest[(size_t)bar]);
  }
}

// Levels of a stretch of the song, dBFS.
s_mgbreath breath(const float* stereo, int64_t frames, const char* name, int tick0, int tick1) {
  s_mgbreath b;
  std::snprintf(b.name, sizeof b.name, "%s", name);
  b.from = (int64_t)tick0 * MG_TICK_FRAMES;
  b.to = std::min<int64_t>((int64_t)tick1 * MG_TICK_FRAMES, frames);
  double sum = 0.0, peak = 0.0;
  for (int64_t i = 2 * b.from; i < 2 * b.to; ++i) {
    sum += (double)stereo[i] * stereo[i];
    peak = std::max(peak, (double)std::fabs(stereo[i]));
  }
  b.rmsdb = b.to > b.from ? db(sum / (double)(2 * (b.to - b.from))) : kSilentDb;
  b.peakdb = peak > 0.0 ? 20.0 * std::log10(peak) : kSilentDb;
  return b;
}

int section_start(const s_mgscore& score, const char* name) {
  for (const s_mgsection& sec : score.sections)
    if (std::strcmp(sec.name, name) == 0) return sec.start;
  return -1;
}

}  // namespace

// ============================================================================
// Public functions
// ============================================================================

void mg_report(const s_mgscore* score, const s_mgsong* song, const float* stereo, int64_t frames,
               std::vector<s_mgsectionreport>* sections, std::vector<s_mgbreath>* breaths) {
  sections->clear();
  breaths->clear();
  const Signal sig = split(stereo, frames);
  for (const s_mgsection& sec : score->sections) {
    s_mgsectionreport r;
    std::memset(&r, 0, sizeof r);
    std::snprintf(r.name, sizeof r.name, "%s", sec.name);
    r.event = sec.event;
    r.bar0 = sec.start / MG_TICKS_PER_BAR;
    r.bar1 = (sec.start + sec.length) / MG_TICKS_PER_BAR;
    const int64_t a = std::min<int64_t>((int64_t)sec.start * MG_TICK_FRAMES, frames);
    const int64_t b = std::min<int64_t>((int64_t)(sec.start + sec.length) * MG_TICK_FRAMES, frames);
    r.lufs = mg_loudness(stereo + 2 * a, b - a);
    spectrum_stats(sig, a, b, &r);
    beat_stats(sig, a, b, &r);
    r.lowcorr = low_correlation(sig, a, b);
    sections->push_back(r);
  }
  pitch_stats(sig, *score, *song, frames, sections);
  const int half = MG_TICKS_PER_BEAT / 2;
  const int chorus = section_start(*score, "chorus"), final = section_start(*score, "final");
  const int stop = section_start(*score, "breakdown");
  if (chorus >= 0) breaths->push_back(breath(stereo, frames, "before the chorus", chorus - half, chorus));
  if (final >= 0) breaths->push_back(breath(stereo, frames, "before the final drop", final - half, final));
  if (stop >= 0)
    breaths->push_back(breath(stereo, frames, "the stop bar's second half", stop + MG_TICKS_PER_BAR / 2,
                              stop + MG_TICKS_PER_BAR));
}

void mg_report_print(const std::vector<s_mgsectionreport>& sections, const std::vector<s_mgbreath>& breaths) {
  printf("%-10s %3s %7s  %7s  bands re 1 kHz: ", "section", "ev", "bars", "LUFS");
  static const char* const kBandNames[MG_REPORT_BANDS] = {"31", "63", "125", "250", "500",
                                                           "1k", "2k", "4k", "8k", "16k"};
  for (const char* name : kBandNames) printf("%5s ", name);
  printf(" pump  <40Hz  lowcorr  kick  hook  same\n");
  for (const s_mgsectionreport& r : sections) {
    printf("%-10s %3d %3d-%3d  %7.2f                  ", r.name, r.event, r.bar0, r.bar1, r.lufs);
    for (int k = 0; k < MG_REPORT_BANDS; ++k) printf("%+5.1f ", r.bands[k]);
    printf("%5.1f %5.1f%%   %5.2f %5.1f ", r.pumpdb, 100.0 * r.below40, r.lowcorr, r.kickdb);
    if (r.hookmatch >= 0.0) printf("%4.0f%% ", 100.0 * r.hookmatch);
    else printf("    - ");
    printf("%4d\n", r.repeatbars);
  }
  for (const s_mgbreath& b : breaths)
    printf("breath %-28s %7.3f-%7.3f s: rms %7.1f dBFS, peak %7.1f dBFS\n", b.name, (double)b.from / MG_RATE,
           (double)b.to / MG_RATE, b.rmsdb, b.peakdb);
}
