// musicgen: the show's software synthesiser and sequencer.
//
// It reads the score (content/music/*.score, a small text format) and the
// timing file of the show, flattens the score's sections into notes on the
// tick grid, renders every note with our own instruments (band-limited
// oscillators, envelopes, a state-variable filter, FM operators, synthesised
// drums, filtered noise and a crowd of formant "talkers"), mixes the tracks
// through sidechain ducking, a ping-pong delay and a reverb, then masters the
// result (loudness normalisation to a target, a look-ahead true-peak limiter)
// and writes "sprox8a.wav": MG_RATE (44100 Hz), 16-bit, stereo, the
// canonical 44-byte header.
//
// Terms (sample frame, tick, beat, bar, event, score, section, track, note,
// voice, block): see docs/ARCHITECTURE.md#glossary. Here a "frame" is always
// a sample frame.
//
// Rendering is deterministic: fixed seeds derived from note indices, no
// uninitialised state, one thread. The same score gives the same bytes.
//
// Threads: everything here runs on the calling thread (the tool's main thread
// or a test's); nothing keeps global state.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "effects/assets.h"
#include "sound/sound.h"
#include "timeline/timeline.h"

// ============================================================================
// Constants
// ============================================================================

// The show's rate and tick, taken from their owners: the music is played by
// the sound system at its device rate and cut into the timeline's ticks.
constexpr int MG_RATE = AUDIO_DEVICE_RATE;           // sample frames per second
constexpr int MG_TICK_FRAMES = TIMELINE_TICKLENGTH;  // sample frames per tick
constexpr int MG_TICKS_PER_BEAT = EFFECTS_BEAT_TICKS;  // ticks per beat (quarter note), the shaders' BEAT
constexpr int MG_TICKS_PER_BAR = EFFECTS_BAR_TICKS;    // ticks per 4/4 bar, the shaders' BAR
constexpr int MG_BLOCK = 64;                // frames per mixer block
constexpr int MG_CONTROL = 16;              // frames between control-rate updates in a voice
constexpr int MG_MAX_UNISON = 7;            // oscillators per synth voice
constexpr int MG_MAX_VOICES = 16;           // voices per track
constexpr int MG_MAX_TALKERS = 12;          // talkers per crowd voice
constexpr int MG_NAME = 32;                 // bytes of a score name, terminator included
constexpr float MG_PI = 3.14159265358979f;

// Every line the tool prints, but its usage, starts with this.
#define MG_MSG "musicgen: "

// ============================================================================
// Oscillators and noise (mg_osc.cpp)
// ============================================================================

enum mg_wave { MG_WAVE_SAW = 0, MG_WAVE_SQUARE = 1, MG_WAVE_TRI = 2, MG_WAVE_SINE = 3 };

// One band-limited oscillator. The saw and square correct each jump with a
// four-sample polynomial step (the integral of a cubic B-spline), which keeps
// aliases far below the naive waveform's; the triangle is the leaky integral
// of that square, the sine comes from a table.
struct s_mgosc {
  double phase;  // position in the cycle, 0..1
  double inc;    // cycles per frame (frequency / rate), below 0.25
  float pw;      // pulse width of the square, 0.05..0.95
  float tri;     // integrator state of the triangle
  int wave;      // mg_wave
};

// The residual of the four-sample band-limited step for a jump of height 1:
// the corrected signal minus the naive one at x frames from the jump (|x| < 2).
float mg_blep4(float x);
void mg_osc_init(s_mgosc* osc, int wave, float freq, float phase);
void mg_osc_setfreq(s_mgosc* osc, float freq);
// One sample in -1..1, then advances the phase (inline, below).
inline float mg_osc_next(s_mgosc* osc);
// The same waveform without band limiting: for comparisons in tests only.
float mg_osc_next_naive(s_mgosc* osc);
// sin(2 pi phase) from a table with linear interpolation; any phase (inline, below).
constexpr int MG_SINE_SIZE = 4096;  // table entries per cycle
extern float mg_sinetable[MG_SINE_SIZE + 1];  // filled before main() by mg_osc.cpp; one guard entry
inline float mg_sine(double phase);
inline float mg_sinef(float phase);

// xorshift32: cheap, deterministic noise.
struct s_mgrand {
  uint32_t state;  // never zero
};
void mg_rand_seed(s_mgrand* r, uint32_t seed);
inline uint32_t mg_rand_u32(s_mgrand* r);
inline float mg_rand_bi(s_mgrand* r);   // uniform in -1..1
inline float mg_rand_uni(s_mgrand* r);  // uniform in 0..1
// A well-mixed 32-bit hash, used to derive seeds from note indices.
uint32_t mg_hash(uint32_t x);

// MIDI note number (69 = A4 = 440 Hz; fractions allowed) to Hz.
float mg_note_hz(float note);

// ============================================================================
// Envelopes (mg_env.cpp)
// ============================================================================

enum mg_envstage { MG_ENV_ATTACK, MG_ENV_DECAY, MG_ENV_SUSTAIN, MG_ENV_RELEASE, MG_ENV_DONE };

// ADSR: a linear attack to 1, then exponential decay to the sustain level and
// exponential release to 0. Decay and release times are the time to cover 99%
// of the distance; the envelope counts as done once the release is below -80 dB.
struct s_mgenv {
  float level;       // current output, 0..1
  float attackinc;   // level per frame during the attack
  float decaycoef;   // per-frame factor of the distance to the sustain level
  float sustain;     // sustain level, 0..1
  float releasecoef; // per-frame factor of the level during the release
  int stage;         // mg_envstage
};

void mg_env_init(s_mgenv* env, float attack, float decay, float sustain, float release);
void mg_env_release(s_mgenv* env);
float mg_env_next(s_mgenv* env);
// Per-frame factor that covers 99% of an exponential approach in `seconds`.
float mg_env_coef(float seconds);

// ============================================================================
// Filters (mg_filter.cpp)
// ============================================================================

enum mg_ftype { MG_FILTER_LP = 0, MG_FILTER_BP = 1, MG_FILTER_HP = 2 };

// Trapezoidal state-variable filter (12 dB/octave): stable under fast cutoff
// changes, resonance 0 (flat) to just below self-oscillation at 1.
struct s_mgsvf {
  float ic1, ic2;      // integrator states
  float a1, a2, a3;    // coefficients from cutoff and damping
  float k;             // damping: 2 at resonance 0
  int type;            // mg_ftype
};

void mg_svf_init(s_mgsvf* f, int type);
void mg_svf_set(s_mgsvf* f, float cutoff, float res);
inline float mg_svf_next(s_mgsvf* f, float x);

// One-pole lowpass (for smoothing and gentle tone shaping).
struct s_mgonepole {
  float z;  // state
  float a;  // per-frame coefficient, 0..1 (1 passes everything)
};
void mg_onepole_set(s_mgonepole* f, float cutoff);
inline float mg_onepole_lp(s_mgonepole* f, float x);
inline float mg_onepole_hp(s_mgonepole* f, float x);

// Direct-form biquad (the loudness meter's weighting filters).
struct s_mgbiquad {
  double b0, b1, b2, a1, a2;  // normalised coefficients (a0 = 1)
  double z1, z2;              // transposed direct form II state
};
double mg_biquad_next(s_mgbiquad* f, double x);

// ============================================================================
// Effects (mg_effects.cpp)
// ============================================================================

// A power-of-two ring of floats.
struct s_mgdelayline {
  std::vector<float> buf;  // the ring
  uint32_t mask;           // size - 1
  uint32_t pos;            // next write index
};
void mg_delayline_init(s_mgdelayline* d, int maxframes);
void mg_delayline_write(s_mgdelayline* d, float x);
// The sample written `frames` writes ago (1 = the last one).
float mg_delayline_read(const s_mgdelayline* d, int frames);

// Ping-pong delay: the mono sum enters the left line, each line feeds the
// other, with a band-pass in the loop so the repeats darken and thin.
struct s_mgpingpong {
  s_mgdelayline l, r;     // the two lines
  int frames;             // delay of each line, frames
  float feedback;         // 0..0.95
  s_mgonepole lp[2], hp[2];  // loop tone
};
void mg_pingpong_init(s_mgpingpong* p, int frames, float feedback, float lowpass, float highpass);
void mg_pingpong_process(s_mgpingpong* p, const float* inl, const float* inr, float* outl, float* outr, int n);

// Reverb of the Schroeder-Moorer kind: eight damped feedback combs in parallel
// and four allpasses in series per channel, the right channel's lines slightly
// longer for width, after a pre-delay.
struct s_mgcomb {
  std::vector<float> buf;  // the line
  int pos;                 // read/write index
  float store;             // damping filter state
};
struct s_mgallpass {
  std::vector<float> buf;  // the line
  int pos;                 // read/write index
};
struct s_mgreverb {
  s_mgcomb comb[2][8];
  s_mgallpass allpass[2][4];
  s_mgdelayline predelay;  // mono pre-delay
  int predelayframes;      // frames
  float feedback;          // comb feedback, from the room size
  float damp;              // comb damping, 0..1
  s_mgonepole inhp;        // keeps the bass out of the tail
};
// size 0..1 (longer tail), damp 0..1 (darker tail), predelay in seconds.
void mg_reverb_init(s_mgreverb* rv, float size, float damp, float predelay);
void mg_reverb_process(s_mgreverb* rv, const float* inl, const float* inr, float* outl, float* outr, int n);

// Sidechain compressor gain: follows the key signal's peak level and turns
// the excess over the threshold into a gain that the ducked tracks share.
struct s_mgducker {
  float env;          // detector level, linear
  float attackcoef;   // per-frame factor while rising
  float releasecoef;  // per-frame factor while falling
  float threshold;    // linear level where ducking starts
  float ratio;        // compression ratio above the threshold
};
void mg_ducker_init(s_mgducker* d, float thresholddb, float ratio, float attack, float release);
// Fills gain[0..n) with the gain (0..1] for the key signal's frames.
void mg_ducker_process(s_mgducker* d, const float* keyl, const float* keyr, float* gain, int n);

// ============================================================================
// Mastering: meters and limiter (mg_master.cpp)
// ============================================================================

// Integrated loudness (ITU-R BS.1770 K-weighting, 400 ms blocks, absolute and
// relative gates) of interleaved stereo frames at MG_RATE, in LUFS; -200 for silence.
double mg_loudness(const float* stereo, int64_t frames);
// Highest absolute value of the 4x oversampled signal (linear, both channels).
double mg_truepeak(const float* stereo, int64_t frames);
// Highest absolute sample value (linear).
double mg_samplepeak(const float* stereo, int64_t frames);

// Look-ahead limiter: scales `in` by `gain` and keeps the 4x oversampled peak
// of the result at or below `ceiling` (linear). `out` may equal `in`.
// lookahead and release in seconds. The output is aligned with the input.
void mg_limit(const float* in, float* out, int64_t frames, float gain, float ceiling, float lookahead,
              float release);

struct s_mgmasterreport {
  double inputlufs;   // loudness of the mix before mastering
  double lufs;        // loudness of the result
  double truepeakdb;  // true peak of the result, dBTP
  double samplepeak;  // highest absolute 16-bit sample value / 32768
  double gaindb;      // gain applied before limiting
  int clipped;        // 16-bit samples at full scale
  int64_t silentfrom; // mg_master_song: the frame from which the file is silent to its end
};

// Brings the mix to `targetlufs` with the limiter at `ceilingdb` dBTP, fades
// the last `fadeout` seconds, and converts to interleaved 16-bit samples.
void mg_master(std::vector<float>* mix, float targetlufs, float ceilingdb, float fadeout, std::vector<int16_t>* pcm,
               s_mgmasterreport* report);

// What the mastering pass is asked for: the level and where the file ends.
struct s_mgmastering {
  float target;      // integrated loudness the gain is measured for, LUFS
  float ceiling;     // true-peak ceiling of the limiter, dBTP
  double gaindb;     // the gain before the limiter, dB; NaN: measured to reach `target`
  float fadeout;     // without fadefrom/fadeto: the closing fade is the last `fadeout` seconds
  int64_t fadefrom;  // first frame of the closing fade (a raised cosine); -1: see fadeout
  int64_t fadeto;    // end of the fade: from this frame on the file is exact digital silence; -1: see fadeout
};

// The same with every choice spelt out. A fixed gain is applied as given,
// so the samples before a change in the mix stay the same bytes; the fade
// may end before the last frame, leaving the rest of the file silent. Once
// what is left of the fade peaks below MG_SILENCE_PEAK, the first frame that
// rounds to zero in both channels ends the music: it and every later frame
// are zero, instead of the last steps of the 16-bit scale flickering on and
// off. The cut falls on a zero of both channels, so it makes no step.
constexpr float MG_SILENCE_PEAK = 128.0f / 32768.0f;  // -48 dBFS, linear
void mg_master_song(std::vector<float>* mix, const s_mgmastering* mastering, std::vector<int16_t>* pcm,
                    s_mgmasterreport* report);

// ============================================================================
// WAV files (mg_wav.cpp)
// ============================================================================

// Writes 16-bit stereo frames at MG_RATE behind the canonical 44-byte header
// (Soundsystem_FillWAVHeader); 1 on success, 0 with a message on failure.
int mg_wav_write(const char* path, const int16_t* stereo, uint32_t frames);
// Reads a file in that form (the canonical header, nothing else) into
// interleaved floats in -1..1; 1 on success, 0 with a message naming the cause.
int mg_wav_read(const char* path, std::vector<float>* stereo);

// ============================================================================
// Score (mg_score.cpp) and timing (mg_timing.cpp)
// ============================================================================

enum mg_engine {
  MG_ENGINE_SYNTH,  // subtractive: unison oscillators, filter, envelopes
  MG_ENGINE_FM,     // two-operator FM with a second modulator: bells, plucks, bubbles
  MG_ENGINE_KICK,   // sine with a pitch sweep and a click (also toms and booms)
  MG_ENGINE_SNARE,  // two tones and band-passed noise
  MG_ENGINE_CLAP,   // noise bursts through a band-pass
  MG_ENGINE_HAT,    // six square partials and noise, high-passed (hats, cymbals)
  MG_ENGINE_NOISE,  // filtered stereo noise with a cutoff sweep and crackle
  MG_ENGINE_CROWD,  // formant-filtered talkers: the party murmur
  MG_ENGINE_COUNT
};

// Instrument parameters, by index. Each has a score name, a default, and a
// meaning that the engine documents; mixer parameters apply to every engine.
enum mg_param {
  // mixer strip
  MG_P_GAIN,      // dB
  MG_P_PAN,       // -1 left .. 1 right
  MG_P_REVERB,    // send to the reverb, 0..1
  MG_P_DELAY,     // send to the delay, 0..1
  MG_P_DUCK,      // depth of sidechain ducking, 0..1
  MG_P_KEY,       // 1: this track drives the sidechain
  MG_P_LPF,       // track lowpass cutoff, Hz (20000: off)
  MG_P_HPF,       // track highpass cutoff, Hz (20: off)
  MG_P_BRIGHT,    // offset of every voice's filter cutoff, octaves
  MG_P_VOICES,    // polyphony, 1..MG_MAX_VOICES
  MG_P_CENTER,    // MIDI note that chord-relative notes are voiced around
  MG_P_VELSENS,   // how much velocity scales the level, 0..1
  MG_P_GATE,      // fraction of each note's length that is held, 0..1
  // envelopes, seconds and levels
  MG_P_ATTACK, MG_P_DECAY, MG_P_SUSTAIN, MG_P_RELEASE,
  MG_P_FATTACK, MG_P_FDECAY, MG_P_FSUSTAIN, MG_P_FRELEASE,
  // sources
  MG_P_WAVE,      // mg_wave of the main oscillators
  MG_P_WAVE2,     // mg_wave of the second oscillator
  MG_P_MIX2,      // level of the second oscillator, 0..1
  MG_P_DETUNE2,   // second oscillator offset, semitones
  MG_P_UNISON,    // main oscillators, 1..MG_MAX_UNISON
  MG_P_SPREAD,    // detune between the outermost unison oscillators, cents
  MG_P_WIDTH,     // stereo spread of the unison oscillators, 0..1
  MG_P_SUB,       // level of a sine one octave down
  MG_P_NOISE,     // level of white noise
  MG_P_PW,        // pulse width of squares
  // filter
  MG_P_FTYPE,     // mg_ftype
  MG_P_CUTOFF,    // Hz
  MG_P_CUTOFF2,   // noise: cutoff reached at the end of the note, Hz
  MG_P_RES,       // resonance, 0..1
  MG_P_ENVAMT,    // filter envelope depth, octaves
  MG_P_KEYTRACK,  // how much the cutoff follows the pitch, 0..1
  MG_P_VELCUT,    // cutoff offset at full velocity, octaves
  MG_P_DRIVE,     // saturation before the amplifier, 0 (clean) and up
  // pitch
  MG_P_PITCHAMT,  // start offset of a decaying pitch envelope, semitones
  MG_P_PITCHDECAY,// its time constant, seconds
  MG_P_BEND,      // pitch change over the note's length, semitones
  MG_P_VIBRATE,   // vibrato rate, Hz
  MG_P_VIBDEPTH,  // vibrato depth, cents
  MG_P_VIBDELAY,  // time before the vibrato fades in, seconds
  // FM
  MG_P_RATIO,     // modulator frequency / note frequency
  MG_P_INDEX,     // modulation index at the start of the note
  MG_P_IDECAY,    // index decay time constant, seconds
  MG_P_ISUSTAIN,  // fraction of the index that remains
  MG_P_RATIO2,    // second modulator ratio
  MG_P_INDEX2,    // second modulator index (decays with IDECAY / 3)
  MG_P_FEEDBACK,  // modulator self-feedback, 0..1
  MG_P_DETUNE,    // FM: a second carrier detuned by this many cents, panned apart
  // drums and noises
  MG_P_PSTART,    // kick: start frequency of the sweep, Hz
  MG_P_PEND,      // kick: end frequency, Hz
  MG_P_PDECAY,    // kick: sweep time constant, seconds
  MG_P_CLICK,     // kick: level of the click
  MG_P_TONE,      // snare: tone frequency; hat: scale of the partials
  MG_P_TDECAY,    // snare: tone decay, seconds
  MG_P_NDECAY,    // snare, hat, clap: noise decay, seconds
  MG_P_CRACKLE,   // noise: crackle impulses per second
  MG_P_TALKERS,   // crowd: number of talkers
  MG_P_LEVEL,     // engine output level before the mixer, linear
  MG_P_NOTE,      // drums: the MIDI note an 'x' hit plays
  MG_P_COUNT
};

struct s_mginstrument {
  char name[MG_NAME];   // track name used by the score
  int engine;           // mg_engine
  float p[MG_P_COUNT];  // parameters, by mg_param
};

// A pattern step, after parsing.
enum mg_notekind {
  MG_NOTE_ABS,    // absolute MIDI note
  MG_NOTE_HIT,    // a drum hit at the instrument's note
  MG_NOTE_TONE,   // chord tone number `value` near the centre
  MG_NOTE_ROOT,   // the chord's bass note at or below the centre
  MG_NOTE_CHORD   // every tone of the chord near the centre
};

struct s_mgpatnote {
  int start;   // ticks from the pattern start
  int length;  // ticks
  int kind;    // mg_notekind
  int value;   // MIDI note (ABS) or chord tone number (TONE)
  int octave;  // octave shift
  float vel;   // velocity, 0..1
};

struct s_mgpattern {
  char name[MG_NAME];
  int length;                       // ticks; the pattern repeats after this
  std::vector<s_mgpatnote> notes;   // in start order
};

struct s_mgchord {
  int root;                 // pitch class 0..11 (0 = C)
  int bass;                 // pitch class of the bass (slash chords), else root
  std::vector<int> tones;   // semitones above the root, ascending
  int length;               // ticks
  std::string symbol;       // as written
};

struct s_mgprogression {
  char name[MG_NAME];
  std::vector<s_mgchord> chords;
  int length;  // ticks, the sum of the chords
};

enum mg_cmdkind { MG_CMD_CHORDS, MG_CMD_PLAY, MG_CMD_AUTO, MG_CMD_FADE, MG_CMD_MUTE };

// One command of a section: a chord progression, a pattern on a track, an
// automation of a track parameter, the song's closing fade (the whole
// mastered mix to silence), or a breath (the whole mix, returns included,
// silent), over a range of the section.
struct s_mgcommand {
  int kind;          // mg_cmdkind
  int from, to;      // ticks from the section start, to exclusive
  int target;        // progression (CHORDS), pattern (PLAY) or track (AUTO)
  int track;         // PLAY: the track
  int transpose;     // PLAY: semitones
  int center;        // PLAY: centre for chord tones, or -1 for the track's
  float vel0, vel1;  // PLAY: velocity scale at the start and the end of the range
  int param;         // AUTO: mg_param
  float v0, v1;      // AUTO: value at the start and the end of the range
  int curve;         // AUTO: 0 linear, 1 exponential (for frequencies)
  int line;          // score line, for messages
  char file[128];    // score file, for messages (its base name)
  char ref[MG_NAME];       // name of the progression or pattern, resolved to `target`
  char trackref[MG_NAME];  // name of the track, resolved to `track` (AUTO: to `target`)
};

struct s_mgsection {
  char name[MG_NAME];
  int event;         // timing event the section is keyed to
  int bars;          // explicit length in bars (the last section), else 0
  int transpose;     // semitones for every pitched note of the section
  float level;       // dB on the whole mix over the section (reverb and delay included), 0 by default
  int start;         // ticks, filled from the timing file by mg_sequence
  int length;        // ticks, filled by mg_sequence
  std::vector<s_mgcommand> commands;
};

// Bus and master settings (the score's "mix" line).
struct s_mgmix {
  float delayticks;     // ping-pong delay per line, ticks
  float feedback;       // 0..0.95
  float delaylp, delayhp;  // loop tone, Hz
  float roomsize, damp;    // reverb, 0..1
  float predelay;       // reverb pre-delay, seconds
  float delaytoreverb;  // share of the delay output sent on to the reverb
  float duckthreshold;  // dBFS
  float duckratio;
  float duckattack, duckrelease;  // seconds
  float target;         // integrated loudness, LUFS
  float ceiling;        // true peak, dBTP
  float fadeout;        // seconds at the very end (when no section fades the song out)
  double gain;          // fixed master gain, dB; NaN (not given): measured to reach `target`
  float duckreturns;    // depth of the kick's ducking on the delay and reverb returns, 0..1
  float airdb;          // master high shelf at MG_AIR_HZ, dB
  float muddb;          // master bell at MG_MUD_HZ (one octave wide), dB
};
constexpr float MG_AIR_HZ = 7000.0f;  // the master's air shelf
constexpr float MG_MUD_HZ = 550.0f;   // the master's mid cut

struct s_mgscore {
  std::vector<s_mginstrument> instruments;
  std::vector<s_mgpattern> patterns;
  std::vector<s_mgprogression> progressions;
  std::vector<s_mgsection> sections;
  s_mgmix mix;
};

// Parses a score file (and the files it includes) into `score`.
// 1 on success; 0 after printing "musicgen: FILE:LINE: why" lines.
int mg_score_load(const char* path, s_mgscore* score);
// The same, from text in memory; `name` labels the messages, includes are
// resolved relative to `dir`.
int mg_score_parse(const char* text, const char* name, const char* dir, s_mgscore* score);
// Index of the parameter with that score name, or -1.
int mg_param_find(const char* name);
const char* mg_param_name(int param);
// Parameter defaults of an engine.
void mg_instrument_defaults(s_mginstrument* ins, int engine);
// Parses a chord symbol ("A", "F#m", "Bm7", "Esus4", "A/C#", "Dmaj7", "Eadd9").
int mg_chord_parse(const char* symbol, s_mgchord* chord);

// The event starts of a timing file, in ticks, in file order, read with the
// show's reader (ReadTimingLine). Only "event" lines matter; a line the show
// would skip, an event without number and start, a start outside 0 to 1000000
// or before the previous event's, and a file without events are refused.
// 1 on success; 0 after printing why.
int mg_timing_load(const char* path, std::vector<int>* eventticks);
// The same for the file's bytes in memory; `name` labels the messages.
int mg_timing_parse(const std::string& text, const char* name, std::vector<int>* eventticks);

// ============================================================================
// Sequencing (mg_sequence.cpp)
// ============================================================================

struct s_mgnote {
  int track;      // instrument index
  int64_t start;  // frame of the note-on: tick x MG_TICK_FRAMES
  int64_t gate;   // frames held
  float pitch;    // MIDI note
  float vel;      // 0..1
  int tick;       // tick of the note-on
};

struct s_mgauto {
  int track;
  int param;
  int64_t start, end;  // frames
  float v0, v1;
  int curve;           // 0 linear, 1 exponential
};

// The whole mix's level over a range of frames: 0 for a breath ("mute"),
// a section's "level=" otherwise. Ranges may touch; where one lies inside
// another, the later-starting one wins.
struct s_mglevel {
  int64_t from, to;  // frames, to exclusive
  float gain;        // linear
};

struct s_mgsong {
  std::vector<s_mgnote> notes;  // sorted by start, then track, then pitch
  std::vector<s_mgauto> autos;  // sorted by track, param, start
  std::vector<int> eventticks;  // from the timing file
  int endtick;                  // end of the last section
  int64_t frames;               // endtick x MG_TICK_FRAMES
  int64_t fadefrom, fadeto;     // the closing fade of a "fade" command, frames; -1 without one
  std::vector<s_mglevel> levels;  // the mix's level over ranges: breaths (0) and sections' levels, by start
};

// Keys the sections to the events (each section starts at its event's tick
// and lasts to the next event; the last one needs its own length), checks that
// every event has a section and starts on a bar line, and flattens every
// command into notes and automation (and the one closing fade, if any).
// 1 on success; 0 after printing why.
int mg_sequence(s_mgscore* score, const std::vector<int>& eventticks, s_mgsong* song);

// ============================================================================
// Rendering (mg_voice.cpp, mg_drums.cpp, mg_noise.cpp, mg_mixer.cpp)
// ============================================================================

struct s_mgtalker {
  s_mgosc glottis;      // voiced source
  s_mgsvf f1, f2;       // formants
  float f1hz, f2hz;     // current formant frequencies, Hz
  float t1hz, t2hz;     // formant targets, Hz
  float pitch;          // Hz
  float amp;            // syllable envelope
  float pan;            // -1..1
  int syllable;         // frames left in the current syllable (negative: pause)
  int syllablelen;      // frames of the current syllable
};

// One sounding note. Every engine keeps its state here.
struct s_mgvoice {
  int active;              // 1 while sounding
  int wait;                // frames of the current block before the note-on
  int64_t age;             // note-on order, for stealing the oldest
  int64_t t;               // frames since the note-on
  int64_t gate;            // frames until the note-off
  float pitch;             // MIDI note
  float freq;              // Hz
  float vel;               // 0..1
  float amp;               // level from velocity and engine level
  s_mgenv env, fenv;       // amplifier and filter envelopes
  s_mgosc osc[MG_MAX_UNISON + 1];  // unison oscillators, then the second oscillator
  float oscpan[MG_MAX_UNISON];     // unison oscillator weights on the left (right: 1 - it)
  float detune[MG_MAX_UNISON + 1]; // frequency ratios of the oscillators
  double fmphase[4];       // FM: carrier, second carrier, modulator, second modulator
  float fmfb;              // FM: last modulator output
  s_mgsvf filt[2];         // voice filters, left and right
  s_mgsvf filt2[2];        // drums: second filter stage
  s_mgrand rnd;            // noise
  s_mgrand rnd2;           // right channel noise
  float e0, e1, e2;        // drum envelopes and sweep states
  float subphase;          // synth: sub oscillator phase
  s_mgtalker talker[MG_MAX_TALKERS];  // crowd
};

// Renders frames [from, to) of the song into interleaved stereo floats
// (resized to fit). Notes that start before `from` are skipped, so an
// excerpt starts from silence. Returns the frames rendered.
int64_t mg_render(const s_mgscore* score, const s_mgsong* song, int64_t from, int64_t to, std::vector<float>* out);

// Starts a voice for one note of an instrument (for tests and the mixer).
void mg_voice_start(s_mgvoice* v, const s_mginstrument* ins, const s_mgnote* note, uint32_t seed);
// Adds n frames of the voice to left/right; `bright` offsets the filter
// cutoff in octaves. Clears `active` when the voice has died away.
void mg_voice_render(s_mgvoice* v, const s_mginstrument* ins, float bright, float* left, float* right, int n);

// The engines behind mg_voice_start / mg_voice_render.
void mg_synth_start(s_mgvoice* v, const s_mginstrument* ins);
void mg_synth_render(s_mgvoice* v, const s_mginstrument* ins, float bright, float* l, float* r, int n);
void mg_fm_start(s_mgvoice* v, const s_mginstrument* ins);
void mg_fm_render(s_mgvoice* v, const s_mginstrument* ins, float* l, float* r, int n);
void mg_drum_start(s_mgvoice* v, const s_mginstrument* ins);
void mg_drum_render(s_mgvoice* v, const s_mginstrument* ins, float* l, float* r, int n);
void mg_noise_start(s_mgvoice* v, const s_mginstrument* ins);
void mg_noise_render(s_mgvoice* v, const s_mginstrument* ins, float bright, float* l, float* r, int n);
void mg_crowd_start(s_mgvoice* v, const s_mginstrument* ins);
void mg_crowd_render(s_mgvoice* v, const s_mginstrument* ins, float* l, float* r, int n);

// ============================================================================
// Measures of the mastered music (mg_report.cpp)
// ============================================================================

constexpr int MG_REPORT_BANDS = 10;          // octave bands, 31.5 Hz to 16 kHz
constexpr double MG_REPORT_BAND0 = 31.25;    // Hz, centre of the lowest band
constexpr int MG_REPORT_BAND1K = 5;          // index of the 1 kHz octave
constexpr double MG_REPORT_SAME = 0.95;      // bar-to-bar correlation that counts as a repeat

struct s_mgsectionreport {
  char name[MG_NAME];
  int event;
  int bar0, bar1;          // bars of the song, bar1 exclusive
  double lufs;             // integrated loudness
  double bands[MG_REPORT_BANDS];  // octave levels of the mid signal, dB relative to the 1 kHz octave
  double pumpdb;           // median dip of the 400-2500 Hz band on a beat, dB
  double below40;          // share of the power under 40 Hz, 0..1
  double lowcorr;          // left-right correlation under 120 Hz
  double kickdb;           // median peak under 150 Hz per beat, dBFS
  double hookmatch;        // share of the hook's sixteenths whose strongest pitch is its note; -1 without hook
  int repeatbars;          // longest stretch of bars repeating the bars a fixed lag earlier
};

struct s_mgbreath {
  char name[48];
  int64_t from, to;        // frames
  double rmsdb, peakdb;    // dBFS
};

// Measures interleaved stereo frames (the mastered song, -1..1) against the
// sequenced score: one report per section, and the breaths.
void mg_report(const s_mgscore* score, const s_mgsong* song, const float* stereo, int64_t frames,
               std::vector<s_mgsectionreport>* sections, std::vector<s_mgbreath>* breaths);
// Prints the reports as a table on standard output.
void mg_report_print(const std::vector<s_mgsectionreport>& sections, const std::vector<s_mgbreath>& breaths);

// ============================================================================
// Inline kernels: the per-sample functions every voice calls, kept here so
// the compiler can inline them into the render loops.
// ============================================================================

namespace mg_detail {

// Integral of the cubic B-spline from -2 to x, for x in [-2, 0].
inline float bspline_integral_neg(float x) {
  if (x < -1.0f) {
    float u = x + 2.0f;
    float u2 = u * u;
    return u2 * u2 * (1.0f / 24.0f);
  }
  float v = x + 1.0f;
  float v2 = v * v;
  return (1.0f / 24.0f) + (v + 1.5f * v2 + v2 * v - 0.75f * v2 * v2) * (1.0f / 6.0f);
}

// Correction for a jump of height h at phase p: frames just before and just
// after the jump are pulled towards the band-limited step.
inline float jump_correction(double t, double p, double inc, float h) {
  double after = t - p;
  if (after < 0.0) after += 1.0;
  if (after >= 2.0 * inc && after <= 1.0 - 2.0 * inc) return 0.0f;  // far from the jump
  double da = after / inc;
  double db = (1.0 - after) / inc;
  float c = 0.0f;
  if (da < 2.0) c -= h * bspline_integral_neg((float)-da);
  if (db < 2.0) c += h * bspline_integral_neg((float)-db);
  return c;
}

constexpr float kTriLeak = 0.9995f;  // triangle integrator leak per frame (~3.5 Hz corner)

}  // namespace mg_detail

inline float mg_osc_next(s_mgosc* osc) {
  using namespace mg_detail;
  double t = osc->phase;
  double inc = osc->inc;
  float y;
  switch (osc->wave) {
    case MG_WAVE_SAW:
      y = (float)(2.0 * t - 1.0);
      if (inc > 0.0) y += jump_correction(t, 0.0, inc, -2.0f);
      break;
    case MG_WAVE_SQUARE:
    case MG_WAVE_TRI: {
      double pw = osc->wave == MG_WAVE_TRI ? 0.5 : osc->pw;
      y = t < pw ? 1.0f : -1.0f;
      if (inc > 0.0) {
        y += jump_correction(t, 0.0, inc, 2.0f);
        y += jump_correction(t, pw, inc, -2.0f);
      }
      if (osc->wave == MG_WAVE_TRI) {
        // A square of +-1 integrated over half a cycle rises by 2 at 4 * inc per frame.
        osc->tri = osc->tri * kTriLeak + y * (float)(4.0 * inc);
        y = osc->tri;
      }
      break;
    }
    default:
      y = mg_sine(t);
      break;
  }
  t += inc;
  if (t >= 1.0) t -= 1.0;
  osc->phase = t;
  return y;
}

inline float mg_sine(double phase) {
  double p = phase - std::floor(phase);
  double x = p * MG_SINE_SIZE;
  int i = (int)x;
  if (i >= MG_SINE_SIZE) i = MG_SINE_SIZE - 1;
  float f = (float)(x - i);
  return mg_sinetable[i] + (mg_sinetable[i + 1] - mg_sinetable[i]) * f;
}

inline float mg_sinef(float phase) {
  float p = phase - std::floor(phase);
  float x = p * MG_SINE_SIZE;
  int i = (int)x;
  if (i >= MG_SINE_SIZE) i = MG_SINE_SIZE - 1;
  if (i < 0) i = 0;
  float f = x - (float)i;
  return mg_sinetable[i] + (mg_sinetable[i + 1] - mg_sinetable[i]) * f;
}

inline uint32_t mg_rand_u32(s_mgrand* r) {
  uint32_t x = r->state;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  r->state = x;
  return x;
}

inline float mg_rand_bi(s_mgrand* r) {
  return (float)(int32_t)mg_rand_u32(r) * (1.0f / 2147483648.0f);
}

inline float mg_rand_uni(s_mgrand* r) {
  return (float)(mg_rand_u32(r) >> 8) * (1.0f / 16777216.0f);
}

inline float mg_svf_next(s_mgsvf* f, float x) {
  float v3 = x - f->ic2;
  float v1 = f->a1 * f->ic1 + f->a2 * v3;
  float v2 = f->ic2 + f->a2 * f->ic1 + f->a3 * v3;
  f->ic1 = 2.0f * v1 - f->ic1;
  f->ic2 = 2.0f * v2 - f->ic2;
  switch (f->type) {
    case MG_FILTER_LP: return v2;
    case MG_FILTER_BP: return v1;
    default: return x - f->k * v1 - v2;
  }
}

inline float mg_onepole_lp(s_mgonepole* f, float x) {
  f->z += f->a * (x - f->z);
  return f->z;
}

inline float mg_onepole_hp(s_mgonepole* f, float x) {
  f->z += f->a * (x - f->z);
  return x - f->z;
}

// tanh-shaped saturation, a rational fit that is exact at 0 and reaches +-1
// at +-3 (cheaper than std::tanh, and the same on every libm).
inline float mg_saturate(float x) {
  if (x <= -3.0f) return -1.0f;
  if (x >= 3.0f) return 1.0f;
  float x2 = x * x;
  return x * (27.0f + x2) / (27.0f + 9.0f * x2);
}
