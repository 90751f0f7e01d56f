// sound internals: what the module's sources share and the tests look at.
//
// Not part of the public surface: the lock, the driver's ring, the outputs'
// entry points and the playback clock's hooks.
//
// Threads: functions named ...Locked expect g_sound_lock to be held by the
// caller; the device thread holds it while it mixes a slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "sound/sound.h"

// ---- Constants --------------------------------------------------------------------

constexpr int AUDIO_NUM_SLOTS = 4;            // slots in the ring
constexpr int AUDIO_SLOT_FRAMES = 2048;       // frames per slot
constexpr int64_t AUDIO_NS_PER_S = 1000000000;

// ---- Types ---------------------------------------------------------------------------

// The output format (the platform's wave format record, kept for its fields).
struct s_waveformat {
  uint16_t formattag;      // 1: PCM
  uint16_t channels;       // 1 or 2
  uint32_t samplespersec;  // Hz
  uint32_t avgbytespersec; // bytes per frame x rate
  uint16_t blockalign;     // bytes per frame
  uint16_t bitspersample;  // 8 or 16
  uint16_t extrasize;      // 0
};

// One ring slot's header.
struct s_slotheader {
  uint8_t* data;   // the slot in the ring
  int length;      // bytes
  int prepared;    // 1 while set up for the output
  int queued;      // 1: waiting to be played; the output clears it when it has played the slot
};

// An output: opened during audiodriver_init, started once the ring is queued.
// An output without a device thread has no start and no stop (null).
struct s_audiooutput {
  int kind;                                 // AUDIO_OUTPUT_...
  int (*open)(const s_waveformat* format);  // 1 when the device opened
  void (*start)(int64_t start_ns);          // start the device thread (ring queued, clock at start_ns), or null
  void (*stop)();                           // stop and join the device thread, close the device, or null
};

// ---- Globals ---------------------------------------------------------------------------

// Guards the active table, the records' playing flags, positions, volumes and
// increments, the global volumes, the mix buffer, the ring's headers and the
// playback clock.
extern std::mutex g_sound_lock;

extern uint8_t* g_audio_buffer;  // the ring: AUDIO_NUM_SLOTS x g_buffer_size bytes, null when closed
extern int g_sample_size;        // bytes per frame
extern int g_buffer_size;        // bytes per slot
extern int g_cur_buf;            // the slot the next completion refills
extern s_slotheader g_hdr[AUDIO_NUM_SLOTS];

extern const s_audiooutput audio_output_silent;
extern const s_audiooutput audio_output_manual;
extern const s_audiooutput audio_output_alsa;
#ifdef _WIN32
extern const s_audiooutput audio_output_waveout;  // Windows' waveOut (output_waveout.cpp)
#endif
#ifdef __EMSCRIPTEN__
extern const s_audiooutput audio_output_web;  // Web Audio, in a browser (output_web.cpp)
#endif

// The ALSA PCM the ALSA output opens: SPROX_ALSA_DEVICE, else "default".
const char* audio_alsa_devicename();

// ---- Internal functions ------------------------------------------------------------------

// The steady clock in nanoseconds.
int64_t sound_now_ns();

// WAV files (main thread): Soundsystem_LoadWAV, but with `why` given it prints
// nothing and, when the file is refused, puts the reason there in words.
int soundsystem_readwav(const char* name, s_sound* sound, char* why, size_t capacity);

// Sound system (any thread, lock held).
void soundsystem_stopLocked(s_sound* sound);
// 1 for a sound that runs on in silence past the end of its data instead of
// stopping: music that neither loops nor has a refill callback.
inline int soundsystem_runson(const s_sound* sound) { return sound->ismusic && !sound->loop && !sound->callback; }
// The samples the mixer reads (every channel counted): numsamples, limited to
// what the data holds, in whole frames. For a playable sound.
uint64_t soundsystem_readablesamples(const s_sound* sound);
// 1 when the mixer can read the record: data, samples, 1 or 2 channels, 8 or 16 bits.
int soundsystem_isplayable(const s_sound* sound);

// Mixer (any thread, lock held).
void audiodriver_mixbuffersLocked(uint8_t* out, int length);

// Driver (device thread): slot `slot` has been played. time_ns is when it
// finished on the steady clock, devicedelay the frames the device still holds
// ahead of it. Refills and requeues it. Returns 0 when the driver is closing.
int audiodriver_completeLocked(int64_t time_ns, uint32_t devicedelay);
// Device thread: 1 when the slot is queued; then the caller may play its bytes.
int audiodriver_slotqueued(int slot);
// Device thread: the slot's bytes (valid while the driver is open).
const uint8_t* audiodriver_slotdata(int slot);

// ---- waveOut's refill (waveout_refill.cpp; the device calls in output_waveout.cpp) ----
//
// Windows forbids calling waveOut functions inside the device's completion
// callback (it can deadlock), so the callback only wakes a thread of the
// waveOut output, which hands each returned slot to waveout_refill. The calls
// it makes on the device go through this table, so a test can play the device.
struct s_waveoutdevice {
  int (*isdone)(int slot);                              // 1 once the device has handed the slot back
  int (*unprepare)(int slot);                           // 1 on success
  int (*prepare)(int slot, uint8_t* data, int length);  // 1 on success
  int (*write)(int slot);                               // queue it; 1 on success
  int (*position)(uint32_t* frames);                    // frames played since the start; 0 when unknown
};

// Refill thread: in ring order from g_cur_buf, every slot the device has
// handed back is unprepared, mixed, prepared and written; *written counts the
// frames written since the start. The playback clock then takes the device's
// position: the latency is written - played. Returns the slots refilled, or
// -1 when a device call failed (the caller goes on without the device).
int waveout_refill(const s_waveoutdevice* device, uint32_t* written);

// Playback clock (lock held).
void soundclock_resetLocked(int64_t time_ns, uint32_t latencyframes);
void soundclock_completedLocked(int64_t time_ns, uint32_t latencyframes);
void soundclock_stopLocked();
void soundclock_seekLocked(const s_sound* sound, uint64_t frames);
void soundclock_pauseLocked(const s_sound* sound);
// The latency in output frames measured at the last completion.
uint32_t soundclock_latencyLocked();
// When the last completed slot finished, on the steady clock (ns).
int64_t soundclock_completionLocked();
