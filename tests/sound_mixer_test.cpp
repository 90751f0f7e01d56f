// The mixer's arithmetic on real buffers: silence, gains, clamping, the end of
// a sound inside a buffer, long sounds, true stereo, 8-bit data and output,
// mono output, loops, streams, and the refill cycle of the ring.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "sound_helpers.h"

using sound_test::converted;
using sound_test::gain;

namespace {

class Mixer : public sound_test::SoundSystemTest {};

TEST_F(Mixer, NoActiveSoundGivesDigitalSilence) {
  std::vector<int16_t> out = mix_one();
  for (int16_t v : out) ASSERT_EQ(v, 0);

  // A listed but paused sound adds nothing and keeps its place.
  s_sound* sound = constant_sound(1, 10000, 12345);
  Soundsystem_PlaySound(sound, 0);
  Soundsystem_PauseSound(sound);
  out = mix_one();
  for (int16_t v : out) ASSERT_EQ(v, 0);
  EXPECT_EQ(sound->position, 0u);
  EXPECT_EQ(soundsystem.numactive, 1);
}

TEST_F(Mixer, FullScaleSampleAtCentreVolumeGives16255OnEachSide) {
  s_sound* sound = constant_sound(1, 10000, 32767);
  Soundsystem_PlaySound(sound, 0);
  std::vector<int16_t> out = mix_one();
  ASSERT_EQ(gain(128), 127);
  const int32_t* accumulators = Soundsystem_GetOutputBuffer();
  for (int j = 0; j < AUDIO_SLOT_FRAMES; j++) {
    ASSERT_EQ(accumulators[2 * j], 32767 * 127) << j;
    ASSERT_EQ(accumulators[2 * j + 1], 32767 * 127) << j;
    ASSERT_EQ(out[2 * j], 16255) << j;
    ASSERT_EQ(out[2 * j + 1], 16255) << j;
  }
}

TEST_F(Mixer, SumsClampToPlusMinus32767) {
  // Three loud sounds on the left side, three at -32768 on the right.
  for (int i = 0; i < 3; i++) {
    s_sound* sound = make_sound(2, 16, 4096, [](uint32_t, int channel) { return channel == 0 ? 32767 : -32768; });
    sound->leftvolume = sound->rightvolume = 255;
    Soundsystem_PlaySound(sound, 0);
  }
  std::vector<int16_t> out = mix_one();
  const int64_t left = 3LL * 32767 * gain(255);
  const int64_t right = 3LL * -32768 * gain(255);
  ASSERT_GT(left >> 8, 32767);
  ASSERT_LT(right >> 8, -32768);
  for (int j = 0; j < AUDIO_SLOT_FRAMES; j++) {
    ASSERT_EQ(out[2 * j], 32767);
    ASSERT_EQ(out[2 * j + 1], -32767);  // never -32768
  }
  // One such sound alone is not clamped.
  Soundsystem_StopSound(active_sounds[0]);
  Soundsystem_StopSound(active_sounds[0]);
  out = mix_one();
  EXPECT_EQ(out[0], converted(32767LL * gain(255)));
  EXPECT_EQ(out[1], converted(-32768LL * gain(255)));
}

TEST_F(Mixer, SoundEndingMidBufferStopsAndSkipsTheNextForThatBuffer) {
  s_sound* ending = constant_sound(1, 1000, 1000);
  s_sound* after = constant_sound(1, 100000, 2000);
  Soundsystem_PlaySound(ending, 0);
  Soundsystem_PlaySound(after, 0);
  std::vector<int16_t> out = mix_one();
  for (int j = 0; j < AUDIO_SLOT_FRAMES; j++) {
    const int16_t expected = j < 1000 ? converted(1000 * 127) : 0;
    ASSERT_EQ(out[2 * j], expected) << j;
    ASSERT_EQ(out[2 * j + 1], expected) << j;
  }
  // The ended sound is stopped and gone; the one behind it moved up unmixed.
  EXPECT_EQ(ending->playing, 0);
  EXPECT_EQ(ending->position, 0u);
  EXPECT_EQ(Soundsystem_GetSoundOffset(*ending), 0u);
  ASSERT_EQ(soundsystem.numactive, 1);
  EXPECT_EQ(active_sounds[0], after);
  EXPECT_EQ(after->position, 0u);
  // From the next buffer on it plays.
  out = mix_one();
  EXPECT_EQ(out[0], converted(2000 * 127));
  EXPECT_EQ(out[2 * AUDIO_SLOT_FRAMES - 1], converted(2000 * 127));
  EXPECT_EQ(Soundsystem_GetSoundOffset(*after), 2048u);
}

TEST_F(Mixer, SoundLongerThan2To24SamplesPlaysToItsRealEnd) {
  // Mono, so frames and samples agree: the end lies at (2^24 + 4096) x 256,
  // past 2^32; cut to 32 bits it would lie at 2^20.
  const uint32_t frames = (1u << 24) + 4096;
  s_sound* sound = make_sound(1, 16, 0, [](uint32_t, int) { return 0; });
  std::free(sound->data);
  sound->data = std::calloc(frames, 2);
  ASSERT_NE(sound->data, nullptr);
  sound->datasize = frames * 2;
  sound->numsamples = frames;
  int16_t* samples = static_cast<int16_t*>(sound->data);
  for (uint32_t f = (1u << 24); f < frames; f++) samples[f] = static_cast<int16_t>(f & 0x3FFF);

  Soundsystem_PlaySound(sound, 0);
  Soundsystem_SetSoundOffset(sound, 1u << 24);
  ASSERT_EQ(Soundsystem_GetSoundOffset(*sound), 1u << 24);
  std::vector<int16_t> out = mix_one();
  EXPECT_EQ(sound->playing, 1);
  EXPECT_EQ(Soundsystem_GetSoundOffset(*sound), (1u << 24) + 2048);
  for (int j = 0; j < AUDIO_SLOT_FRAMES; j++)
    ASSERT_EQ(out[2 * j], converted(static_cast<int64_t>(((1u << 24) + j) & 0x3FFF) * 127)) << j;
  // The second buffer reaches the end exactly at its last frame.
  out = mix_one();
  EXPECT_EQ(out[2 * (AUDIO_SLOT_FRAMES - 1)], converted(static_cast<int64_t>((frames - 1) & 0x3FFF) * 127));
  EXPECT_EQ(sound->playing, 0);
  EXPECT_EQ(soundsystem.numactive, 0);
}

TEST_F(Mixer, TwoChannelSoundsPlayInTrueStereo) {
  // Left and right carry different ramps; each side must hear its own.
  auto left = [](uint32_t f) { return static_cast<int>(f * 3); };
  auto right = [](uint32_t f) { return -static_cast<int>(f * 5); };
  s_sound* sound = make_sound(2, 16, 5000, [&](uint32_t f, int c) { return c == 0 ? left(f) : right(f); });
  ASSERT_EQ(sound->increment, 512u);
  Soundsystem_SetVolume(sound, 255);
  Soundsystem_SetPanning(sound, 64);  // left louder than right
  Soundsystem_PlaySound(sound, 0);
  std::vector<int16_t> out = mix_one();
  const int32_t leftgain = gain(sound->leftvolume);
  const int32_t rightgain = gain(sound->rightvolume);
  ASSERT_NE(leftgain, rightgain);
  for (uint32_t j = 0; j < AUDIO_SLOT_FRAMES; j++) {
    ASSERT_EQ(out[2 * j], converted(static_cast<int64_t>(left(j)) * leftgain)) << j;
    ASSERT_EQ(out[2 * j + 1], converted(static_cast<int64_t>(right(j)) * rightgain)) << j;
  }
  EXPECT_EQ(Soundsystem_GetSoundOffset(*sound), 2048u);
}

TEST_F(Mixer, EightBitDataIsCentredAndScaled) {
  s_sound* sound = make_sound(1, 8, 3000, [](uint32_t f, int) { return static_cast<int>(f % 256); });
  Soundsystem_PlaySound(sound, 0);
  std::vector<int16_t> out = mix_one();
  for (uint32_t j = 0; j < AUDIO_SLOT_FRAMES; j++) {
    const int64_t x = (static_cast<int64_t>(j % 256) - 128) * 256;
    ASSERT_EQ(out[2 * j], converted(x * 127)) << j;
  }
}

TEST_F(Mixer, MusicAndEffectVolumesScaleTheirOwnSounds) {
  s_sound* music = constant_sound(1, 5000, 10000);
  s_sound* effect = constant_sound(1, 5000, 20000);
  Soundsystem_PlayMusic(music, 0);
  Soundsystem_PlaySound(effect, 0);
  Soundsystem_SetMusicVolume(100);
  Soundsystem_SetEffectVolume(50);
  Soundsystem_SetMasterVolume(200);
  std::vector<int16_t> out = mix_one();
  const int64_t expected = 10000LL * gain(128, 100, 200) + 20000LL * gain(128, 50, 200);
  EXPECT_EQ(out[0], converted(expected));
  Soundsystem_SetMasterVolume(0);
  out = mix_one();
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);
}

TEST_F(Mixer, LoopingSoundWrapsAndHalfRateSoundRepeatsSamples) {
  s_sound* sound = make_sound(1, 16, 1000, [](uint32_t f, int) { return static_cast<int>(f); });
  Soundsystem_PlaySound(sound, 1);
  std::vector<int16_t> out = mix_one();
  for (uint32_t j = 0; j < AUDIO_SLOT_FRAMES; j++) ASSERT_EQ(out[2 * j], converted((j % 1000) * 127LL)) << j;
  EXPECT_EQ(sound->playing, 1);
  EXPECT_EQ(Soundsystem_GetSoundOffset(*sound), 48u);

  // At 22050 Hz every sample is read twice.
  Soundsystem_SetFrequency(sound, 22050);
  EXPECT_EQ(sound->increment, 128u);
  Soundsystem_PlaySound(sound, 0);
  out = mix_one();
  for (uint32_t j = 0; j < AUDIO_SLOT_FRAMES; j++) ASSERT_EQ(out[2 * j], converted(((j / 2) % 1000) * 127LL)) << j;
}

int g_refills = 0;
void *g_refill_data = nullptr;
int g_refill_bytes = 0;
void refill(void* data, int bytes) {
  g_refills++;
  g_refill_data = data;
  g_refill_bytes = bytes;
  int16_t* samples = static_cast<int16_t*>(data);
  for (int i = 0; i < bytes / 2; i++) samples[i] = static_cast<int16_t>(100 * g_refills);
}

TEST_F(Mixer, StreamCallsItsRefillAtEveryWrap) {
  s_sound stream{};
  g_refills = 0;
  Soundsystem_CreateSoundStream(&stream, refill, 44100, 16, 2, 1000);
  EXPECT_EQ(stream.datasize, 4000u);
  EXPECT_EQ(stream.streamsize, 4000u);
  EXPECT_EQ(stream.numsamples, 2000u);
  EXPECT_EQ(stream.loop, 1u);
  EXPECT_EQ(stream.isstream, 1u);
  Soundsystem_PlaySound(&stream, 0);
  std::vector<int16_t> out = mix_one();
  // 2048 frames of a 1000-frame stream: two wraps, the first after frame 999.
  EXPECT_EQ(g_refills, 2);
  EXPECT_EQ(g_refill_data, stream.data);
  EXPECT_EQ(g_refill_bytes, 4000);
  EXPECT_EQ(out[2 * 999], 0);
  EXPECT_EQ(out[2 * 1000], converted(100 * 127));
  EXPECT_EQ(out[2 * 2047 + 1], converted(200 * 127));
  EXPECT_EQ(Soundsystem_GetSoundOffset(stream), 48u);
  Soundsystem_DeleteSound(&stream);
  EXPECT_EQ(stream.data, nullptr);
}

class MonoMixer : public sound_test::SoundSystemTest {
 protected:
  unsigned outputchannels() const override { return 1; }
};

TEST_F(MonoMixer, MonoOutputUsesTheMonoGainAndAveragesStereo) {
  ASSERT_EQ(soundsystem.channels, 1);
  s_sound* mono = constant_sound(1, 5000, 1000);
  s_sound* stereo = make_sound(2, 16, 5000, [](uint32_t, int c) { return c == 0 ? 3000 : 1000; });
  Soundsystem_PlaySound(mono, 0);
  std::vector<int16_t> out = mix_one();
  ASSERT_EQ(gain(255), 253);
  for (int j = 0; j < AUDIO_SLOT_FRAMES; j++) ASSERT_EQ(out[j], converted(1000 * 253)) << j;
  Soundsystem_StopSound(mono);
  Soundsystem_PlaySound(stereo, 0);
  out = mix_one();
  EXPECT_EQ(out[0], converted(2000 * 253));
  EXPECT_EQ(Soundsystem_GetSoundOffset(*stereo), 2048u);
}

TEST_F(Mixer, EightBitOutputWritesUnsignedTopBytes) {
  audiodriver_close();
  testing::internal::CaptureStdout();
  ASSERT_EQ(audiodriver_init(44100, 8, 2048, 2), 1);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(soundsystem.bits, 8);
  std::vector<uint8_t> out(2 * AUDIO_SLOT_FRAMES, 0);
  audiodriver_mixbuffers(out.data(), static_cast<int>(out.size()), 0);
  for (uint8_t v : out) ASSERT_EQ(v, 128);  // unsigned silence
  s_sound* sound = constant_sound(1, 5000, 32767);
  Soundsystem_PlaySound(sound, 0);
  audiodriver_mixbuffers(out.data(), static_cast<int>(out.size()), 0);
  EXPECT_EQ(out[0], (16255 >> 8) + 128);
  EXPECT_EQ(Soundsystem_GetSoundOffset(*sound), 2048u);
}

TEST_F(Mixer, OversizedOrMissingBuffersNeverOverrunTheMixBuffer) {
  s_sound* sound = constant_sound(1, 100000, 32767);
  Soundsystem_PlaySound(sound, 0);
  // Twice the slot: the mix buffer holds one slot, the rest is silence.
  std::vector<int16_t> out(4 * AUDIO_SLOT_FRAMES, 0x5a5a);
  audiodriver_mixbuffers(reinterpret_cast<uint8_t*>(out.data()), static_cast<int>(out.size() * 2), 0);
  EXPECT_EQ(out[2 * AUDIO_SLOT_FRAMES - 1], 16255);
  for (size_t i = 2 * AUDIO_SLOT_FRAMES; i < out.size(); i++) ASSERT_EQ(out[i], 0) << i;
  EXPECT_EQ(Soundsystem_GetSoundOffset(*sound), 2048u);
  audiodriver_mixbuffers(nullptr, 8192, 0);  // nothing to write: nothing happens
  EXPECT_EQ(Soundsystem_GetSoundOffset(*sound), 2048u);
}

TEST_F(Mixer, RefillCycleMixesTheCurrentSlotAndAdvancesOnePerCompletion) {
  s_sound* sound = constant_sound(2, 44100, 32767);
  ASSERT_EQ(sound->increment, 512u);
  Soundsystem_PlaySound(sound, 0);
  ASSERT_NE(g_audio_buffer, nullptr);
  for (int completion = 0; completion < 5; completion++) {
    const int slot = g_cur_buf;
    ASSERT_EQ(slot, completion % AUDIO_NUM_SLOTS);
    fillnextbuffer();
    EXPECT_EQ(Soundsystem_GetSoundOffset(*sound), 2048u * (completion + 1));
    const int16_t* samples = reinterpret_cast<const int16_t*>(g_audio_buffer + slot * g_buffer_size);
    EXPECT_EQ(samples[0], 16255);
    EXPECT_EQ(samples[2 * AUDIO_SLOT_FRAMES - 1], 16255);
    EXPECT_EQ(g_hdr[slot].queued, 1);
    if (completion == 0) {
      // Only the completed slot is mixed: the next still holds its priming silence.
      const int16_t* next = reinterpret_cast<const int16_t*>(g_audio_buffer + g_cur_buf * g_buffer_size);
      for (int i = 0; i < 2 * AUDIO_SLOT_FRAMES; i++) ASSERT_EQ(next[i], 0) << i;
    }
  }
  std::lock_guard<std::mutex> guard(g_sound_lock);
  EXPECT_EQ(soundclock_latencyLocked(), static_cast<uint32_t>(AUDIO_NUM_SLOTS * AUDIO_SLOT_FRAMES));
}

TEST_F(Mixer, PushPairHandsOutTheCurrentSlot) {
  void* address = nullptr;
  int length = 0;
  const int slot = g_cur_buf;
  EXPECT_EQ(audiodriver_getbuffer(&address, &length), 1);
  EXPECT_EQ(address, g_audio_buffer + slot * g_buffer_size);
  EXPECT_EQ(length, 8192);
  EXPECT_EQ(audiodriver_getbuffer(nullptr, nullptr), 1);
  audiodriver_submitbuffer();
  EXPECT_EQ(g_cur_buf, (slot + 1) % AUDIO_NUM_SLOTS);
  EXPECT_EQ(g_hdr[slot].queued, 1);
}

}  // namespace
