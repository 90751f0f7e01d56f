// mixer: audiodriver_mixbuffers, every active sound into one output buffer.
//
// The 32-bit mix buffer of soundsystem holds one accumulator per output
// sample (left, right interleaved for stereo). Each playing sound adds its
// samples times its gains; the conversion then shifts every accumulator right
// by 8 and clamps it to -32767..32767. No interpolation: a sound is read at
// the integer part of its position, and its increment carries the rate ratio.
//
// Gains: base = (music or effect volume) x master volume; a side's gain is
// (the sound's side volume x base) >> 16, at most 253. A 16-bit sample of
// 32767 at side volume 128 and every global volume at 255 adds 32767 x 127 to
// its side and comes out as 16255.
//
// At its end a sound that does not loop stops and leaves the table, except
// music without a refill callback: it stays, adds silence, and its position
// runs on by its increment per output frame, so the show's clock goes on.
//
// Two-channel sounds play in true stereo: the left sample of each frame goes
// to the left side with the left gain and the right sample to the right side
// with the right gain (on mono output the two are averaged).
//
// Threads: the device thread (or whoever calls audiodriver_mixbuffers), with
// g_sound_lock held for the whole buffer. Nothing here allocates, blocks or
// touches a file; stream refill callbacks run with the lock held and must not
// call into the sound system.

#include <algorithm>
#include <cstring>
#include <mutex>

#include "sound/sound.h"
#include "sound/sound_internal.h"

// ---- Constants -------------------------------------------------------------------------

namespace {

constexpr int32_t kSampleMax = 32767;    // the conversion's upper clamp
constexpr int32_t kSampleMin = -32767;   // the lower clamp: -32768 never comes out
constexpr uint8_t kSilence8 = 128;       // an unsigned 8-bit sample at rest

}  // namespace

// ---- Internal functions --------------------------------------------------------------------

namespace {

// The integer sample value of 8-bit (unsigned) or 16-bit (signed) data.
template <int Bits>
inline int32_t readsample(const void* data, uint64_t index) {
  if constexpr (Bits == 8) {
    return (static_cast<int32_t>(static_cast<const uint8_t*>(data)[index]) - 128) * 256;
  } else {
    return static_cast<const int16_t*>(data)[index];
  }
}

// What a sound does at the end of its data.
enum class EndAction {
  kGoOn,    // wrapped to the start (looping, or refilled by its callback)
  kStop,    // stopped and taken off the table
  kRunOn,   // music: on past the end in silence, the position still advancing
};

// Handles a position at or past the end.
inline EndAction reachedendLocked(s_sound* sound, uint64_t* position, uint64_t end) {
  if (sound->callback) {
    sound->position = *position;
    sound->callback(sound->data, static_cast<int>(sound->datasize));
  } else if (soundsystem_runson(sound)) {
    return EndAction::kRunOn;
  } else if (!sound->loop) {
    soundsystem_stopLocked(sound);
    return EndAction::kStop;
  }
  *position -= end;
  if (*position >= end) *position %= end;  // an increment longer than the whole sound
  return EndAction::kGoOn;
}

// Adds `frames` frames of one sound to the accumulators; returns true when the
// sound ended (and was stopped) inside this buffer. Music past its end adds
// nothing for the rest of the buffer but moves on by all of its frames.
template <int Bits, int Channels, int OutChannels>
bool mixsoundLocked(s_sound* sound, int32_t* accumulators, int frames, uint64_t end, int32_t monogain,
                    int32_t leftgain, int32_t rightgain) {
  const void* data = sound->data;
  const uint64_t increment = sound->increment;
  uint64_t position = sound->position;
  int j = 0;  // frames mixed
  EndAction action = position >= end ? reachedendLocked(sound, &position, end) : EndAction::kGoOn;
  if (action == EndAction::kGoOn) {
    for (; j < frames; j++) {
      uint64_t k = position >> 8;
      int32_t left;
      int32_t right;
      if constexpr (Channels == 2) {
        k &= ~static_cast<uint64_t>(1);  // the frame's first (left) sample
        left = readsample<Bits>(data, k);
        right = readsample<Bits>(data, k + 1);
      } else {
        left = readsample<Bits>(data, k);
        right = left;
      }
      if constexpr (OutChannels == 2) {
        accumulators[2 * j] += left * leftgain;
        accumulators[2 * j + 1] += right * rightgain;
      } else {
        accumulators[j] += ((left + right) >> 1) * monogain;
      }
      position += increment;
      // One test a frame; the end's own handling only where it is reached.
      if (position >= end && (action = reachedendLocked(sound, &position, end)) != EndAction::kGoOn) {
        j++;
        break;
      }
    }
  }
  if (action == EndAction::kStop) return true;
  if (action == EndAction::kRunOn) position += increment * static_cast<uint64_t>(frames - j);
  sound->position = position;
  return false;
}

using mixfunction = bool (*)(s_sound*, int32_t*, int, uint64_t, int32_t, int32_t, int32_t);

template <int OutChannels>
mixfunction pickmixer(const s_sound* sound) {
  if (sound->bits == 8) {
    return sound->channels == 2 ? mixsoundLocked<8, 2, OutChannels> : mixsoundLocked<8, 1, OutChannels>;
  }
  return sound->channels == 2 ? mixsoundLocked<16, 2, OutChannels> : mixsoundLocked<16, 1, OutChannels>;
}

}  // namespace

void audiodriver_mixbuffersLocked(uint8_t* out, int length) {
  if (!out || length <= 0) return;
  const bool eightbit = soundsystem.bits == 8;
  const int outchannels = soundsystem.channels == 2 ? 2 : 1;
  const int bytespersample = eightbit ? 1 : 2;
  const uint8_t silence = eightbit ? kSilence8 : 0;

  // Never more frames than the mix buffer holds; what lies beyond is silence.
  const int capacity = soundsystem.mixbuffer ? static_cast<int>(soundsystem.mixsize / 4) / outchannels : 0;
  const int frames = std::min(length / bytespersample / outchannels, capacity);
  const int samples = frames * outchannels;
  std::memset(out + samples * bytespersample, silence, static_cast<size_t>(length - samples * bytespersample));
  if (frames <= 0) return;

  int32_t* accumulators = soundsystem.mixbuffer;
  std::memset(accumulators, 0, soundsystem.mixsize);

  // numactive is read again at every step: a sound that ends leaves the table.
  for (int i = 0; i < soundsystem.numactive; i++) {
    s_sound* sound = active_sounds[i];
    if (!sound || !sound->playing || !soundsystem_isplayable(sound)) continue;
    const uint64_t readable = soundsystem_readablesamples(sound);
    if (readable == 0) continue;
    const uint64_t end = readable * 256;  // 64-bit: a long sound's end passes 2^32
    const int32_t base = (sound->ismusic ? soundsystem.musicvolume : soundsystem.effectvolume) *
                         soundsystem.mastervolume;
    const int32_t monogain = (sound->volume * base) >> 16;
    const int32_t leftgain = (sound->leftvolume * base) >> 16;
    const int32_t rightgain = (sound->rightvolume * base) >> 16;
    const mixfunction mix = outchannels == 2 ? pickmixer<2>(sound) : pickmixer<1>(sound);
    // A sound that ended has left the table and closed the gap: the one that
    // moved into index i waits for the next buffer.
    mix(sound, accumulators, frames, end, monogain, leftgain, rightgain);
  }

  for (int i = 0; i < samples; i++) {
    const int32_t v = std::clamp(accumulators[i] >> 8, kSampleMin, kSampleMax);
    if (eightbit) {
      // Unsigned 8-bit output: the top byte, moved to the unsigned range.
      out[i] = static_cast<uint8_t>((v >> 8) + 128);
    } else {
      const int16_t word = static_cast<int16_t>(v);
      std::memcpy(out + 2 * i, &word, sizeof(word));
    }
  }
}

// ---- Public functions ----------------------------------------------------------------------

void audiodriver_mixbuffers(uint8_t* out, int length, int unused) {
  (void)unused;
  std::lock_guard<std::mutex> guard(g_sound_lock);
  audiodriver_mixbuffersLocked(out, length);
}
