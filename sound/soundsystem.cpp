// soundsystem: the sound records, the table of active sounds, volumes,
// panning, frequency, loading, streams, playing, pausing, stopping, deleting,
// offsets and the Goertzel probe of the last mixed buffer.
//
// A sound is a caller-owned record; playing means being listed in
// active_sounds, which the mixer walks for every output buffer. Every
// operation that changes what the mixer reads (the table, a record's playing
// flag, position, increment or volumes, the global volumes) runs under
// g_sound_lock, so the device thread never sees a half-made change.
//
// Threads: main thread, all of it; soundsystem_stopLocked is also run by the
// mixer on the device thread when a sound ends.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "sound/sound.h"
#include "sound/sound_internal.h"
#include "sound/sound_messages.h"

// ---- Constants ------------------------------------------------------------------

namespace {

constexpr uint32_t kBufferLength = AUDIO_SLOT_FRAMES;  // frames per output buffer
constexpr int kMaxVolume = 255;                        // volumes run 0 to 255
constexpr uint8_t kDefaultVolume = 255;                // a new sound's volume
constexpr uint8_t kDefaultSide = 128;                  // a new sound's left, right and panning
constexpr int kExtensionCapacity = 16;                 // 15 characters and the terminator
constexpr double kPi = 3.14159265358979323846;         // M_PI is no part of strict C++17

}  // namespace

// ---- Globals ----------------------------------------------------------------------

s_soundsystem soundsystem;
s_sound* active_sounds[SOUND_MAX_ACTIVE];
std::mutex g_sound_lock;

// ---- Internal functions -------------------------------------------------------------

namespace {

int clampvolume(int volume) { return std::clamp(volume, 0, kMaxVolume); }

// frequency x 256 x channels / rate in unsigned 32-bit arithmetic; 0 while no
// rate is set (a division by zero otherwise).
uint32_t computeincrement(uint32_t frequency, uint32_t channels) {
  if (soundsystem.rate == 0) return 0;
  return frequency * 256u * channels / soundsystem.rate;
}

int findactiveLocked(const s_sound* sound) {
  for (int i = 0; i < soundsystem.numactive; i++)
    if (active_sounds[i] == sound) return i;
  return -1;
}

// A record about to be cleared must not stay listed: the mixer would read it.
void unlistLocked(s_sound* sound) {
  if (findactiveLocked(sound) >= 0) soundsystem_stopLocked(sound);
}

// Takes the record off the active table and clears it. Unlisted, it is the
// main thread's alone until it is played.
void clearrecord(s_sound* sound) {
  {
    std::lock_guard<std::mutex> guard(g_sound_lock);
    unlistLocked(sound);
  }
  std::memset(sound, 0, sizeof(*sound));
}

// The playback fields of a sound just loaded or created, from its format: at
// its start, idle, at full volume and centred, looping or not. One more sound
// is counted, with data or without.
void startrecord(s_sound* sound, uint32_t loop) {
  sound->reserved1 = 0;
  sound->position = 0;
  sound->increment = computeincrement(sound->frequency, sound->channels);
  sound->volume = kDefaultVolume;
  sound->leftvolume = kDefaultSide;
  sound->rightvolume = kDefaultSide;
  sound->panning = kDefaultSide;
  sound->loop = loop;
  sound->playing = 0;
  soundsystem.numsounds++;
}

// Left and right volume from the sound's volume and panning.
void setsidesLocked(s_sound* sound) {
  sound->leftvolume = static_cast<uint8_t>(((255 - sound->panning) * sound->volume) >> 8);
  sound->rightvolume = static_cast<uint8_t>((sound->panning * sound->volume) >> 8);
}

}  // namespace

int soundsystem_isplayable(const s_sound* sound) {
  if (!sound || !sound->data || sound->numsamples == 0) return 0;
  if (sound->channels != 1 && sound->channels != 2) return 0;
  if (sound->bits != 8 && sound->bits != 16) return 0;
  // At least one whole frame in the data.
  return sound->datasize >= static_cast<uint32_t>(sound->channels * (sound->bits / 8)) ? 1 : 0;
}

uint64_t soundsystem_readablesamples(const s_sound* sound) {
  const uint64_t inbytes = sound->datasize / (sound->bits / 8u);
  const uint64_t count = std::min<uint64_t>(sound->numsamples, inbytes);
  return count - count % sound->channels;
}

void soundsystem_stopLocked(s_sound* sound) {
  sound->position = 0;
  sound->playing = 0;
  const int index = findactiveLocked(sound);
  if (index < 0) return;
  for (int i = index; i + 1 < soundsystem.numactive; i++) active_sounds[i] = active_sounds[i + 1];
  soundsystem.numactive--;
  active_sounds[soundsystem.numactive] = nullptr;
}

// ---- Public functions -------------------------------------------------------------------

int Soundsystem_Init(unsigned rate, unsigned bits, unsigned channels) {
  // A second start closes the first: two device threads must not share one mix buffer.
  if (audiodriver_getoutput() >= 0) audiodriver_close();
  {
    std::lock_guard<std::mutex> guard(g_sound_lock);
    std::free(soundsystem.mixbuffer);
    soundsystem.mixbuffer = nullptr;
    soundsystem.rate = rate;
    soundsystem.channels = static_cast<uint16_t>(channels & 0xFF);
    soundsystem.bits = static_cast<uint16_t>(bits & 0xFF);
    soundsystem.numsounds = 0;
    soundsystem.numactive = 0;
    std::fill(std::begin(active_sounds), std::end(active_sounds), nullptr);
    soundsystem.mastervolume = kMaxVolume;
    soundsystem.musicvolume = kMaxVolume;
    soundsystem.effectvolume = kMaxVolume;
    soundsystem.bufferlength = kBufferLength;
    // The mix buffer exists before the driver opens: its first completion mixes into it.
    soundsystem.mixsize = soundsystem.channels * kBufferLength * 4;
    if (soundsystem.mixsize > 0) {
      soundsystem.mixbuffer = static_cast<int32_t*>(std::calloc(soundsystem.mixsize, 1));
      if (!soundsystem.mixbuffer) {
        std::fputs(kMsgNoMixBuffer, stdout);
        soundsystem.mixsize = 0;  // the mixer then writes silence
      }
    }
  }
  // The device always runs at 44100 Hz with 16 bits, whatever was asked for.
  audiodriver_init(AUDIO_DEVICE_RATE, 16, kBufferLength, soundsystem.channels == 2 ? 2 : 1);
  std::printf(kMsgBufferLength, static_cast<int>(soundsystem.bufferlength));
  return 1;
}

void Soundsystem_CloseAudio() {
  audiodriver_close();
  std::lock_guard<std::mutex> guard(g_sound_lock);
  std::free(soundsystem.mixbuffer);
  soundsystem.mixbuffer = nullptr;
  soundsystem.mixsize = 0;
}

void Soundsystem_SetMasterVolume(int volume) {
  std::lock_guard<std::mutex> guard(g_sound_lock);
  soundsystem.mastervolume = static_cast<uint16_t>(clampvolume(volume));
}

void Soundsystem_SetMusicVolume(int volume) {
  std::lock_guard<std::mutex> guard(g_sound_lock);
  soundsystem.musicvolume = static_cast<uint16_t>(clampvolume(volume));
}

void Soundsystem_SetEffectVolume(int volume) {
  std::lock_guard<std::mutex> guard(g_sound_lock);
  soundsystem.effectvolume = static_cast<uint16_t>(clampvolume(volume));
}

void Soundsystem_SetVolume(s_sound* sound, int volume) {
  if (!sound) return;
  std::lock_guard<std::mutex> guard(g_sound_lock);
  sound->volume = static_cast<uint8_t>(clampvolume(volume));
  setsidesLocked(sound);
}

void Soundsystem_SetPanning(s_sound* sound, int panning) {
  if (!sound) return;
  std::lock_guard<std::mutex> guard(g_sound_lock);
  // Only an upper clamp: a negative value keeps its low 8 bits.
  sound->panning = static_cast<uint8_t>(std::min(panning, kMaxVolume) & 0xFF);
  setsidesLocked(sound);
}

void Soundsystem_SetFrequency(s_sound* sound, int frequency) {
  if (!sound) return;
  std::lock_guard<std::mutex> guard(g_sound_lock);
  sound->increment = computeincrement(static_cast<uint32_t>(frequency), sound->channels);
}

char* upcase_sound(char* text) {
  if (!text) return text;
  for (char* c = text; *c; c++)
    if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
  return text;
}

void Soundsystem_LoadSound(const char* name, s_sound* sound) {
  if (!sound) return;
  std::printf(kMsgLoadingSound, name ? name : "(null)");
  clearrecord(sound);

  const char* dot = name ? std::strrchr(name, '.') : nullptr;
  if (dot && dot != name) {
    char extension[kExtensionCapacity];
    std::strncpy(extension, dot, kExtensionCapacity - 1);
    extension[kExtensionCapacity - 1] = '\0';
    upcase_sound(extension);
    if (std::strcmp(extension, ".WAV") == 0) Soundsystem_LoadWAV(name, sound);
  }

  // Whatever the loader made of the file: no stream, not music, not looping.
  sound->isstream = 0;
  sound->streamsize = 0;
  sound->callback = nullptr;
  sound->ismusic = 0;
  startrecord(sound, 0);
}

int Soundsystem_SaveSound(const char* name, s_sound* sound) { return Soundsystem_SaveWAV(name, sound); }

void Soundsystem_CreateSoundStream(s_sound* sound, void (*callback)(void* data, int bytes), int frequency,
                                   int bits, int channels, int length) {
  if (!sound) return;
  clearrecord(sound);
  sound->channels = static_cast<uint16_t>(channels);
  sound->frequency = static_cast<uint32_t>(frequency);
  sound->bits = static_cast<uint16_t>(bits);

  // The length counts frames: the buffer holds length x channels samples and
  // the mixer wraps (and refills) after all of them.
  const int64_t bytespersample = bits / 8;
  const int64_t bytes = static_cast<int64_t>(length) * channels * bytespersample;
  if (length > 0 && channels > 0 && bytespersample > 0 && bytes <= INT32_MAX) {
    sound->data = std::calloc(static_cast<size_t>(bytes), 1);
    if (sound->data) {
      sound->datasize = static_cast<uint32_t>(bytes);
      sound->numsamples = static_cast<uint32_t>(length) * static_cast<uint32_t>(channels);
    }
  }
  if (!sound->data) std::printf(kMsgNoStream, length);

  sound->isstream = 1;
  sound->streamlength = static_cast<uint32_t>(length);
  sound->streamsize = sound->datasize;
  sound->callback = callback;
  startrecord(sound, 1);  // a stream loops: the callback refills it at every wrap
}

void Soundsystem_PauseSound(s_sound* sound) {
  if (!sound) return;
  std::lock_guard<std::mutex> guard(g_sound_lock);
  soundclock_pauseLocked(sound);  // freeze the playback clock where it stands now
  sound->playing = 0;
}

void Soundsystem_ResumeSound(s_sound* sound) {
  if (!sound) return;
  std::lock_guard<std::mutex> guard(g_sound_lock);
  sound->playing = 1;
}

void Soundsystem_StopSound(s_sound* sound) {
  if (!sound) return;
  std::lock_guard<std::mutex> guard(g_sound_lock);
  soundsystem_stopLocked(sound);
}

void Soundsystem_StopMusic(s_sound* sound) { Soundsystem_StopSound(sound); }

void Soundsystem_DeleteSound(s_sound* sound) {
  if (!sound) return;
  {
    std::lock_guard<std::mutex> guard(g_sound_lock);
    soundsystem_stopLocked(sound);
  }
  std::free(sound->data);
  sound->data = nullptr;  // a second delete or a later play finds nothing to free or read
  sound->datasize = 0;
  sound->numsamples = 0;
  if (soundsystem.numsounds > 0) soundsystem.numsounds--;
}

void Soundsystem_PlaySound(s_sound* sound, int loop) {
  if (!sound) return;
  // A sound without data would make the mixer read samples that do not exist.
  if (!soundsystem_isplayable(sound)) {
    std::fputs(kMsgNotPlayable, stdout);
    return;
  }
  std::lock_guard<std::mutex> guard(g_sound_lock);
  sound->playing = 1;
  sound->position = 0;
  if (loop) sound->loop = 1;
  if (findactiveLocked(sound) < 0 && soundsystem.numactive < SOUND_MAX_ACTIVE) {
    active_sounds[soundsystem.numactive] = sound;
    soundsystem.numactive++;
  }
  soundclock_seekLocked(sound, 0);
}

void Soundsystem_PlayMusic(s_sound* sound, int loop) {
  if (!sound) return;
  {
    std::lock_guard<std::mutex> guard(g_sound_lock);
    sound->ismusic = 1;
  }
  Soundsystem_PlaySound(sound, loop);
}

void Soundsystem_SetSoundOffset(s_sound* sound, uint64_t frames) {
  if (!sound || sound->channels == 0) return;  // no data: its offset stays 0
  const uint64_t last = sound->numsamples / sound->channels;
  if (last == 0) {
    frames = 0;
  } else if (frames >= last) {
    frames = last - 1;
  }
  std::lock_guard<std::mutex> guard(g_sound_lock);
  sound->position = frames * 256u * sound->channels;
  soundclock_seekLocked(sound, frames);
}

uint64_t Soundsystem_GetSoundOffset(s_sound sound) {
  if (sound.channels == 0) return 0;  // a sound without data
  return (sound.position >> 8) / sound.channels;
}

s_sound Soundsystem_CopySound(const s_sound* sound) {
  s_sound copy{};
  if (!sound) return copy;
  std::lock_guard<std::mutex> guard(g_sound_lock);
  copy = *sound;
  return copy;
}

int32_t* Soundsystem_GetOutputBuffer() { return soundsystem.mixbuffer; }

float Soundsystem_DetectFrequency(float frequency) {
  std::lock_guard<std::mutex> guard(g_sound_lock);
  if (!soundsystem.mixbuffer || soundsystem.rate == 0) return 0.0f;
  const uint32_t count = std::min<uint32_t>(soundsystem.bufferlength, soundsystem.mixsize / 4);
  const float w = 2.0f * static_cast<float>(kPi) * frequency / static_cast<float>(soundsystem.rate);
  const float coeff = static_cast<float>(2.0 * std::cos(static_cast<double>(w)));
  float s1 = 0.0f;
  float s2 = 0.0f;
  for (uint32_t i = 0; i < count; i++) {
    const float x = static_cast<float>(soundsystem.mixbuffer[i]) / 32767.0f;
    const float s0 = coeff * s1 + x - s2;
    s2 = s1;
    s1 = s0;
  }
  return s2 * s2 + s1 * s1 - coeff * s1 * s2;
}
