// sound: the sound system, WAV files, and the audio driver and mixer.
//
// The sound system keeps caller-owned sound records (s_sound) and a table of
// at most 16 active sounds that the mixer walks for every output buffer. The
// driver keeps a ring of four slots of 2048 sample frames queued on the
// output; each finished slot is refilled by mixing every active sound into
// it, which is also what advances the music's position, the clock of the
// whole show.
//
// Outputs on Linux: ALSA (the "default" PCM, so PulseAudio and PipeWire
// desktops work through it), or, when no device opens or when asked for, a
// silent output that paces the same ring by a steady real-time clock (one slot
// every 2048 / 44100 s). A manual output runs no device thread at all: every
// completion is the caller's call to fillnextbuffer (offline rendering, tests).
//
// Terms (sample frame, sample, position, offset, slot, completion, output,
// device thread): see docs/ARCHITECTURE.md#glossary. In sound, "frame" is
// always a sample frame.
//
// Threads: everything here is called on the main thread, except the mixing
// side (the refill, audiodriver_mixbuffers, stream callbacks), which runs on
// the output's device thread (on the manual output, in the caller's
// fillnextbuffer). One lock guards the active table, the sound
// records' playing flags, positions, volumes and increments, and the global
// volumes: the device thread holds it for each buffer's mix, and every
// main-thread operation that changes them takes it.
//
// What that means for a caller: the lock is not recursive, and a stream's
// callback runs on the device thread while the mixer holds it, so a callback
// must not call the sound system (any call that takes the lock waits for
// itself forever, and the output stops) and should only refill the data it
// is handed, without blocking or allocating: the main thread's calls wait
// while it runs. The globals below and a playing record's fields change
// under the lock on the device thread; read a playing record through
// Soundsystem_CopySound, and the rest only where no device thread runs (the
// manual output).
#pragma once

#include <cstdint>

// ---- Types --------------------------------------------------------------------

struct s_sound {
  uint32_t reserved0;     // always zero
  uint16_t playing;       // 1: the mixer plays it
  uint16_t channels;      // channels of the data (1 or 2)
  uint16_t bits;          // 8 (unsigned) or 16 (signed)
  uint32_t datasize;      // bytes of sample data
  uint32_t numsamples;    // samples in the data, every channel counted
  uint32_t frequency;     // sample rate of the data, Hz
  uint64_t position;      // samples x 256, every channel counted
  uint32_t increment;     // position step per output frame
  uint32_t loop;          // 1: wrap to the start at the end
  uint32_t ismusic;       // 1: scaled by the music volume
  uint8_t volume;         // 0-255, mono output
  uint8_t leftvolume;     // 0-255
  uint8_t rightvolume;    // 0-255
  uint8_t panning;        // 0 left, 128 centre, 255 right
  uint32_t isstream;      // 1 for a stream
  uint32_t streamlength;  // a stream's length argument (frames)
  uint32_t streamsize;    // a stream's buffer bytes
  uint32_t reserved1;     // always zero
  void (*callback)(void* data, int bytes);  // a stream's refill function, or null
  void* data;             // sample data, owned by the record
};

struct s_soundsystem {
  uint32_t rate;          // mixing rate, Hz
  uint16_t channels;      // output channels
  uint16_t bits;          // output bits per sample
  uint32_t bufferlength;  // frames per output buffer: 2048
  uint32_t mixsize;       // bytes of the mix buffer: channels x bufferlength x 4
  uint16_t mastervolume;  // 0-255
  uint16_t musicvolume;   // 0-255
  uint16_t effectvolume;  // 0-255
  int32_t* mixbuffer;     // one 32-bit accumulator per output sample
  uint32_t numsounds;     // sounds loaded or created minus deleted
  int numactive;          // entries in use in active_sounds
};

// ---- Constants ------------------------------------------------------------------

constexpr int SOUND_MAX_ACTIVE = 16;
// Hz: the device always runs at this rate, whatever Soundsystem_Init asks
// for; the show's music is made at it and its offsets count its frames.
constexpr int AUDIO_DEVICE_RATE = 44100;

// Outputs for audiodriver_selectoutput.
constexpr int AUDIO_OUTPUT_AUTO = 0;    // ALSA "default", the silent output when it cannot open
constexpr int AUDIO_OUTPUT_SILENT = 1;  // no device: the ring paced by the steady clock
constexpr int AUDIO_OUTPUT_ALSA = 2;    // ALSA only; init fails when it cannot open
constexpr int AUDIO_OUTPUT_MANUAL = 3;  // no device thread: the caller calls fillnextbuffer
constexpr int AUDIO_OUTPUT_WEB = 4;     // in a browser: Web Audio pulls the ring (what AUTO opens there)
constexpr int AUDIO_OUTPUT_WAVEOUT = 5; // Windows' waveOut only (what AUTO opens there); init fails when it cannot open

// ---- Globals --------------------------------------------------------------------

extern s_soundsystem soundsystem;
extern s_sound* active_sounds[SOUND_MAX_ACTIVE];

// ---- Sound system (main thread) ------------------------------------------------

int Soundsystem_Init(unsigned rate, unsigned bits, unsigned channels);
void Soundsystem_CloseAudio();
char* upcase_sound(char* text);
void Soundsystem_LoadSound(const char* name, s_sound* sound);
void Soundsystem_PauseSound(s_sound* sound);
void Soundsystem_ResumeSound(s_sound* sound);
// A sound without playable data is refused: it is neither marked nor listed.
// A sound that does not loop stops at its end (position 0, unlisted), except
// music without a refill callback: it runs on past its end in silence, listed
// and playing, its position advancing at its rate as if the data went on, so
// that the clock it drives never stops or jumps back. A seek, a stop or a new
// play ends the silence.
void Soundsystem_PlaySound(s_sound* sound, int loop);
void Soundsystem_PlayMusic(s_sound* sound, int loop);
void Soundsystem_SetSoundOffset(s_sound* sound, uint64_t frames);
// The mixer's position in whole sample frames (moves one buffer at a time).
uint64_t Soundsystem_GetSoundOffset(s_sound sound);
// The position audible now, in sample frames: interpolated between buffer
// completions on the steady clock and behind the mixer by the output's
// latency. Never runs backwards while the sound plays, never passes the
// mixer's position, holds still while paused, jumps at once on a seek. The
// sound is recognised by its data pointer. Music that runs on past its end
// (see Soundsystem_PlaySound) reads on past it; when the answer first reaches
// the end, one line on standard error says that the music ended (again after
// a seek back into it).
uint64_t Soundsystem_GetPlaybackOffset(s_sound sound);
// A copy of a record taken under the mixer's lock. A plain copy of a playing
// record races with the device thread, which advances its position; callers
// that hand a playing record by value use this to take the copy.
s_sound Soundsystem_CopySound(const s_sound* sound);

// Main thread: loads the WAV file `name` again into a loaded sound, playing
// or not, under the mixer's lock: the sound keeps its place (clamped to the
// new length), its listing, playing flag, volumes and flags, and the
// playback clock stays where the listener is. Returns 1, or 0 with one line
// ("dev: NAME not reloaded (the reason), the old music plays on") and the
// sound unchanged when the file holds no playable sound.
int Soundsystem_ReloadSound(const char* name, s_sound* sound);

// ---- WAV files (main thread) ------------------------------------------------------

int Soundsystem_LoadWAV(const char* name, s_sound* sound);

// Bytes of the canonical WAV header: "RIFF", a 16-byte "fmt " chunk, "data".
constexpr int SOUND_WAV_HEADERBYTES = 44;
// Hz: the sample rates Soundsystem_LoadWAV takes. A file outside them, or
// without one whole sample frame, is refused with a line that names the file
// and the reason: the music's frames are the show's clock.
constexpr unsigned SOUND_WAV_MINRATE = 8000;
constexpr unsigned SOUND_WAV_MAXRATE = 192000;
// Any thread: fills the canonical header of a PCM file with `datasize` bytes
// of samples, all numbers little-endian. Channels, block align and bits are
// 2-byte fields written as their low byte and a zero byte; the bytes a
// second are channels x (bits / 8) x frequency. Every WAV file the project
// writes starts with this header.
void Soundsystem_FillWAVHeader(uint8_t header[SOUND_WAV_HEADERBYTES], unsigned channels, unsigned bits,
                               uint32_t frequency, uint32_t datasize);

// ---- Audio driver and mixer --------------------------------------------------------

// Main thread, before Soundsystem_Init: which output the next audiodriver_init
// opens. AUDIO_OUTPUT_AUTO honours the environment variable SPROX_AUDIO
// ("silent", "alsa", "waveout" or "manual").
void audiodriver_selectoutput(int output);
// Main thread: the output in use (AUDIO_OUTPUT_SILENT, _ALSA, _WAVEOUT or _MANUAL), or -1 when closed.
int audiodriver_getoutput();
int audiodriver_init(unsigned rate, unsigned bits, int length, int flags);
void audiodriver_close();

// ---- The rest of the published interface ----------------------------------------------
// Kept whole for the sound system's users to come; nothing in the show or the
// tools calls these today (the tests do). Their definitions stay beside their
// neighbours' (sound/soundsystem.cpp, sound/wav.cpp, sound/audiodriver.cpp,
// sound/mixer.cpp). Main thread, unless said otherwise.

void Soundsystem_SetMasterVolume(int volume);
void Soundsystem_SetMusicVolume(int volume);
void Soundsystem_SetEffectVolume(int volume);
void Soundsystem_SetVolume(s_sound* sound, int volume);
void Soundsystem_SetPanning(s_sound* sound, int panning);
void Soundsystem_SetFrequency(s_sound* sound, int frequency);
int Soundsystem_SaveSound(const char* name, s_sound* sound);
int Soundsystem_SaveWAV(const char* name, s_sound* sound);
// length counts sample frames: the buffer holds length x channels samples.
// The callback runs on the device thread each time the stream wraps, with
// the mixer's lock held: it must not call the sound system (see the top).
void Soundsystem_CreateSoundStream(s_sound* sound, void (*callback)(void* data, int bytes), int frequency,
                                   int bits, int channels, int length);
void Soundsystem_StopSound(s_sound* sound);
void Soundsystem_StopMusic(s_sound* sound);
void Soundsystem_DeleteSound(s_sound* sound);
// The mixer's own accumulators, not a copy: soundsystem.mixsize bytes, one
// int32 per output sample (left, right interleaved on stereo output), holding the last mixed
// buffer's sums before the shift by 8 and the clamp. Null before
// Soundsystem_Init, after Soundsystem_CloseAudio (which frees it; a new Init
// hands out a new block) and when it could not be allocated. The pointer is
// taken without the lock, and the device thread clears and refills the block
// at every completion: read it only where no device thread runs (the manual
// output, between the caller's own fillnextbuffer calls). On a device output,
// Soundsystem_DetectFrequency reads it under the lock.
int32_t* Soundsystem_GetOutputBuffer();
float Soundsystem_DetectFrequency(float frequency);
// The caller's completion on the manual output: refill and requeue the slot
// that has just been played, mixing every active sound into it (the device
// outputs complete through audiodriver_completeLocked on their own thread).
void fillnextbuffer();
// Any thread: mix every active sound into out (length in bytes), taking the lock.
void audiodriver_mixbuffers(uint8_t* out, int length, int unused);
int audiodriver_getbuffer(void** address, int* length);
void audiodriver_submitbuffer();
