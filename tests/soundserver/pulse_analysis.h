// pulse_analysis: what the sound-server run measures in a recording of the
// show's output.
//
// The recording is the raw 16-bit stereo stream of a sound server's monitor,
// started before the show; the reference is the music's WAV file. The
// recording is aligned to the music by cross-correlation of the two channels'
// sums (through an FFT), then fitted with one gain for both channels, which
// the mixer's pan law puts at about 127/256 for a centred sound. What is left
// over is the noise of the whole path; a missing, doubled or inverted buffer
// shows as a low signal-to-noise ratio or as a run of silent frames.
//
// Terms (sample frame, lag, span, silent sample frame): see
// docs/ARCHITECTURE.md#glossary. Here a "frame" is always a sample frame.
//
// Threads: any; nothing here keeps state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pulse_analysis {

// ---- Constants --------------------------------------------------------------------

constexpr int kRate = 44100;       // frames a second of both the music and the recording
constexpr int kChannels = 2;       // both are stereo
constexpr double kPanGain = 127.0 / 256.0;  // a centred sound's gain on each side

// What a recording must show to be the music as the show plays it.
constexpr double kMinSeconds = 8.0;      // music the span holds at least
constexpr double kMinSnrDb = 60.0;       // the path adds no more noise than this allows
constexpr double kGainTolerance = 0.02;  // relative to kPanGain
constexpr int64_t kMaxSilentRun = 44;    // frames (1 ms)
// What the clock must show once the show has lost its output.
constexpr double kMinAdvanceSeconds = 2.0;  // the stretch of the log it is judged over
constexpr double kMinAdvanceShare = 0.5;    // of real time: a clock that stands fails, a slow machine passes

// ---- Types -------------------------------------------------------------------------

// Interleaved 16-bit stereo samples.
using Samples = std::vector<int16_t>;

struct s_alignment {
  int64_t lag;        // recording frame of the music's frame 0; -1 when none was found
  double correlation; // normalised correlation at the lag, -1 to 1
};

struct s_fit {
  int64_t first;       // recording frame where the span begins
  int64_t frames;      // frames in the span
  double gain;         // one gain for both channels (least squares)
  double leftgain;     // each channel's own gain, for the report
  double rightgain;
  double snr_db;       // signal (gain x music) against what is left, over the span
  int64_t silentrun;   // the longest run of silent frames in the span
  int64_t silentat;    // recording frame where that run begins (-1 when there is none)
};

// One reading of the show's clock log: when, and the two offsets (frames).
struct s_clockreading {
  int64_t time_ns;    // steady clock
  int64_t playback;   // the playback offset the frame was drawn at
  int64_t mixer;      // the mixer's offset
};

// The recorder's stamp: after time_ns, `frames` frames had arrived in all.
struct s_stamp {
  int64_t time_ns;
  int64_t frames;
};

// How far the show's clock runs from the server's position of the stream, in
// frames, over the readings that fall inside the recorded music.
struct s_clockdistance {
  int64_t readings;      // readings compared
  double median;         // playback offset minus the server's position
  double low;
  double high;
  double mixermedian;    // mixer offset minus the server's position
  double stampinterval;  // median time between the recorder's stamps, ns: the server's position is this coarse
};

// How far the clock moved over a stretch of its log.
struct s_advance {
  double seconds;  // steady-clock time between the first and the last reading
  int64_t frames;  // playback offset moved meanwhile
};

// ---- Functions ----------------------------------------------------------------------

// A canonical 44-byte-header PCM WAV file of 16-bit stereo at kRate; false
// with a reason otherwise.
bool ReadWav(const std::string& path, Samples* samples, std::string* error);
// A raw s16le stereo file (a trailing partial frame is dropped).
bool ReadRaw(const std::string& path, Samples* samples, std::string* error);

// Finds where the music starts in the recording, among lags 0 up to the
// recording's length less min_overlap frames.
s_alignment Align(const Samples& music, const Samples& recording, int64_t min_overlap);

// Fits the recording at `lag` to the music over the span.
s_fit Fit(const Samples& music, const Samples& recording, int64_t lag);

// What is wrong with a fit, one line a fault; empty when it passes.
std::vector<std::string> Judge(const s_fit& fit);

// Readings of "clock: <ns> <playback> <mixer>" lines; other lines are skipped.
std::vector<s_clockreading> ParseClockLog(const std::string& text);
// Stamps of "<ns> <frames>" lines.
std::vector<s_stamp> ParseStamps(const std::string& text);

// The server's position of the music at each reading is the frames recorded
// by then less the lag; readings outside the stamps or before the music are
// left out. readings is 0 when none is left.
s_clockdistance ClockDistance(const std::vector<s_clockreading>& clock, const std::vector<s_stamp>& stamps,
                              int64_t lag);

// From the first to the last reading.
s_advance Advance(const std::vector<s_clockreading>& clock);
// What is wrong with the clock's advance; empty when it passes.
std::vector<std::string> JudgeAdvance(const s_advance& advance);

}  // namespace pulse_analysis
