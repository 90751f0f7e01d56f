// Helpers shared by the sound tests: a sound system on a chosen output, sound
// records with real sample data, WAV files as bytes, and slot access.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/core.h"
#include "sound/sound.h"
#include "sound/sound_internal.h"

namespace sound_test {

// A sound system on `output`, closed again when the test ends.
class SoundSystemTest : public ::testing::Test {
 protected:
  virtual int output() const { return AUDIO_OUTPUT_MANUAL; }
  virtual unsigned outputchannels() const { return 2; }
  void SetUp() override {
    audiodriver_selectoutput(output());
    testing::internal::CaptureStdout();  // the start-up lines
    Soundsystem_Init(44100, 16, outputchannels());
    testing::internal::GetCapturedStdout();
  }
  void TearDown() override {
    Soundsystem_CloseAudio();
    audiodriver_selectoutput(AUDIO_OUTPUT_AUTO);
    for (s_sound* sound : owned_) {
      std::free(sound->data);
      delete sound;
    }
  }
  // A record as Soundsystem_LoadSound leaves it, holding `frames` frames whose
  // samples come from sample(frame, channel). Owned by the fixture.
  s_sound* make_sound(int channels, int bits, uint32_t frames, const std::function<int(uint32_t, int)>& sample,
                      uint32_t frequency = 44100) {
    s_sound* sound = new s_sound{};
    owned_.push_back(sound);
    const uint32_t bytes = frames * channels * (bits / 8);
    sound->data = std::calloc(bytes ? bytes : 1, 1);
    sound->channels = static_cast<uint16_t>(channels);
    sound->bits = static_cast<uint16_t>(bits);
    sound->frequency = frequency;
    sound->datasize = bytes;
    sound->numsamples = bytes / (bits / 8);
    for (uint32_t f = 0; f < frames; f++) {
      for (int c = 0; c < channels; c++) {
        const uint32_t index = f * channels + c;
        if (bits == 8) {
          static_cast<uint8_t*>(sound->data)[index] = static_cast<uint8_t>(sample(f, c));
        } else {
          static_cast<int16_t*>(sound->data)[index] = static_cast<int16_t>(sample(f, c));
        }
      }
    }
    sound->volume = 255;
    sound->leftvolume = sound->rightvolume = sound->panning = 128;
    Soundsystem_SetFrequency(sound, static_cast<int>(frequency));
    return sound;
  }
  s_sound* constant_sound(int channels, uint32_t frames, int value) {
    return make_sound(channels, 16, frames, [value](uint32_t, int) { return value; });
  }
  // Mixes one 2048-frame buffer and returns its 16-bit samples.
  std::vector<int16_t> mix_one() {
    std::vector<int16_t> out(static_cast<size_t>(AUDIO_SLOT_FRAMES) * outputchannels(), 0x5a5a);
    audiodriver_mixbuffers(reinterpret_cast<uint8_t*>(out.data()), static_cast<int>(out.size() * 2), 0);
    return out;
  }
  std::vector<s_sound*> owned_;
};

// The mixer's expected output for one accumulated value.
inline int16_t converted(int64_t accumulator) {
  int64_t v = accumulator >> 8;
  if (v > 32767) v = 32767;
  if (v < -32767) v = -32767;
  return static_cast<int16_t>(v);
}

// A side's gain from the sound's side volume and the global volumes.
inline int32_t gain(int sidevolume, int groupvolume = 255, int mastervolume = 255) {
  return (sidevolume * groupvolume * mastervolume) >> 16;
}

// Writes a 32-bit little-endian value into a file's bytes.
inline void put32(std::string& s, size_t at, uint32_t v) { core_putle32(reinterpret_cast<unsigned char*>(&s[at]), v); }

// A canonical 44-byte-header WAV file (the sound system's own header), with
// another format tag where one is given.
inline std::string wav_file(int channels, int bits, uint32_t rate, const std::string& samples, int formattag = 1) {
  std::string s(SOUND_WAV_HEADERBYTES, '\0');
  unsigned char* header = reinterpret_cast<unsigned char*>(&s[0]);
  Soundsystem_FillWAVHeader(header, static_cast<unsigned>(channels), static_cast<unsigned>(bits), rate,
                            static_cast<uint32_t>(samples.size()));
  core_putle16(header + 20, static_cast<uint16_t>(formattag));
  return s + samples;
}

// `count` bytes of a recognisable pattern.
inline std::string pattern_bytes(size_t count) {
  std::string s(count, '\0');
  for (size_t i = 0; i < count; i++) s[i] = static_cast<char>((i * 37 + 11) & 0xFF);
  return s;
}

}  // namespace sound_test
