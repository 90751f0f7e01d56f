// The sound system's operations: start-up lines, volumes and panning,
// frequency, the active table (restart, 17th sound, stop order), offsets,
// sounds without data, loading by extension, deletion, and the frequency probe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "corefile/corefile.h"
#include "sound_helpers.h"
#include "test_util.h"

namespace {

class System : public sound_test::SoundSystemTest {};

TEST(SoundStartup, InitPrintsTheDriverLinesAndSetsTheDefaults) {
  audiodriver_selectoutput(AUDIO_OUTPUT_MANUAL);
  const std::string lines = test_util::capture_stdout([] { EXPECT_EQ(Soundsystem_Init(22050, 0x108, 0x102), 1); });
  EXPECT_EQ(lines,
            "sample size: 4\nbuffer size: 8192\nopen waveout\nAUDIO: output: manual\nopen wav-buffers\n"
            "audiodriver inited\nsoundsystem bufferlength = 2048\n");
  EXPECT_EQ(soundsystem.rate, 22050u);  // the mixing rate stays what was asked for
  EXPECT_EQ(soundsystem.bits, 16);      // the device always runs with 16 bits
  EXPECT_EQ(soundsystem.channels, 2);   // the low byte of the channel argument
  EXPECT_EQ(soundsystem.bufferlength, 2048u);
  EXPECT_EQ(soundsystem.mixsize, 2u * 2048 * 4);
  EXPECT_NE(soundsystem.mixbuffer, nullptr);
  EXPECT_EQ(soundsystem.mastervolume, 255);
  EXPECT_EQ(soundsystem.musicvolume, 255);
  EXPECT_EQ(soundsystem.effectvolume, 255);
  EXPECT_EQ(soundsystem.numactive, 0);
  EXPECT_EQ(audiodriver_getoutput(), AUDIO_OUTPUT_MANUAL);
  Soundsystem_CloseAudio();
  EXPECT_EQ(audiodriver_getoutput(), -1);
  EXPECT_EQ(soundsystem.mixbuffer, nullptr);
  audiodriver_selectoutput(AUDIO_OUTPUT_AUTO);
}

TEST(SoundStartup, DriverRefusesBadArgumentsAndRateZeroOpensNothing) {
  audiodriver_selectoutput(AUDIO_OUTPUT_MANUAL);
  std::string lines = test_util::capture_stdout([] { EXPECT_EQ(audiodriver_init(0, 16, 2048, 2), 1); });
  EXPECT_EQ(lines, "");
  EXPECT_EQ(audiodriver_getoutput(), -1);
  lines = test_util::capture_stdout([] { EXPECT_EQ(audiodriver_init(44100, 12, 2048, 2), 0); });
  EXPECT_EQ(lines, "");
  EXPECT_EQ(soundsystem.bits, 12);
  EXPECT_EQ(audiodriver_getoutput(), -1);
  // Completions without a ring do nothing.
  fillnextbuffer();
  audiodriver_selectoutput(AUDIO_OUTPUT_AUTO);
}

TEST(SoundStartup, EnvironmentSelectsTheSilentOutput) {
  audiodriver_selectoutput(AUDIO_OUTPUT_AUTO);
  setenv("SPROX_AUDIO", "silent", 1);
  const std::string lines = test_util::capture_stdout([] { Soundsystem_Init(44100, 16, 2); });
  unsetenv("SPROX_AUDIO");
  EXPECT_NE(lines.find("AUDIO: output: silent\n"), std::string::npos) << lines;
  EXPECT_EQ(lines.find("succesful"), std::string::npos);
  EXPECT_EQ(audiodriver_getoutput(), AUDIO_OUTPUT_SILENT);
  Soundsystem_CloseAudio();
}

TEST(SoundStartup, AlsaOnlyEitherOpensOrReportsTheBufferError) {
  audiodriver_selectoutput(AUDIO_OUTPUT_ALSA);
  int result = -1;
  const std::string lines = test_util::capture_stdout([&] { result = audiodriver_init(44100, 16, 2048, 2); });
  if (result == 1) {
    // A machine with a sound device.
    EXPECT_NE(lines.find("AUDIO: opening audio device succesful!\n"), std::string::npos) << lines;
    EXPECT_EQ(audiodriver_getoutput(), AUDIO_OUTPUT_ALSA);
  } else {
    EXPECT_EQ(result, 0);
    EXPECT_NE(lines.find("open waveout\nopen wav-buffers\nAUDIO: error opening audio buffer\n"), std::string::npos)
        << lines;
    EXPECT_EQ(audiodriver_getoutput(), -1);
    EXPECT_EQ(g_audio_buffer, nullptr);
  }
  audiodriver_close();
  audiodriver_selectoutput(AUDIO_OUTPUT_AUTO);
}

TEST_F(System, VolumeAndPanningFollowTheirFormulasAndClamps) {
  s_sound* sound = constant_sound(1, 100, 0);
  Soundsystem_SetVolume(sound, 200);
  EXPECT_EQ(sound->volume, 200);
  EXPECT_EQ(sound->leftvolume, 99);
  EXPECT_EQ(sound->rightvolume, 100);
  Soundsystem_SetVolume(sound, 255);
  Soundsystem_SetPanning(sound, 0);
  EXPECT_EQ(sound->leftvolume, 254);
  EXPECT_EQ(sound->rightvolume, 0);
  Soundsystem_SetPanning(sound, 300);
  EXPECT_EQ(sound->panning, 255);
  EXPECT_EQ(sound->leftvolume, 0);
  Soundsystem_SetPanning(sound, -2);  // no lower clamp: the low 8 bits
  EXPECT_EQ(sound->panning, 254);
  Soundsystem_SetVolume(sound, -40);
  EXPECT_EQ(sound->volume, 0);
  EXPECT_EQ(sound->rightvolume, 0);
  Soundsystem_SetVolume(sound, 999);
  EXPECT_EQ(sound->volume, 255);

  Soundsystem_SetMasterVolume(-5);
  EXPECT_EQ(soundsystem.mastervolume, 0);
  Soundsystem_SetMasterVolume(300);
  EXPECT_EQ(soundsystem.mastervolume, 255);
  Soundsystem_SetMusicVolume(-1);
  EXPECT_EQ(soundsystem.musicvolume, 0);
  Soundsystem_SetEffectVolume(1000);
  EXPECT_EQ(soundsystem.effectvolume, 255);
  Soundsystem_SetEffectVolume(77);
  EXPECT_EQ(soundsystem.effectvolume, 77);
}

TEST_F(System, FrequencySetsTheIncrementOnly) {
  s_sound* stereo = constant_sound(2, 100, 0);
  EXPECT_EQ(stereo->increment, 512u);
  Soundsystem_SetFrequency(stereo, 22050);
  EXPECT_EQ(stereo->increment, 256u);
  EXPECT_EQ(stereo->frequency, 44100u);
  s_sound* mono = constant_sound(1, 100, 0);
  Soundsystem_SetFrequency(mono, 48000);
  EXPECT_EQ(mono->increment, 48000u * 256 / 44100);
}

TEST_F(System, PlayingAgainRestartsWithOneEntry) {
  s_sound* sound = constant_sound(2, 10000, 1);
  Soundsystem_PlaySound(sound, 0);
  mix_one();
  ASSERT_EQ(Soundsystem_GetSoundOffset(*sound), 2048u);
  Soundsystem_PlaySound(sound, 1);
  EXPECT_EQ(sound->position, 0u);
  EXPECT_EQ(sound->loop, 1u);
  Soundsystem_PlaySound(sound, 0);  // a zero argument leaves the flag
  EXPECT_EQ(sound->loop, 1u);
  EXPECT_EQ(soundsystem.numactive, 1);
}

TEST_F(System, SeventeenthSoundIsMarkedButNotListed) {
  s_sound* sounds[SOUND_MAX_ACTIVE + 1];
  for (int i = 0; i <= SOUND_MAX_ACTIVE; i++) {
    sounds[i] = constant_sound(1, 10000, 100);
    Soundsystem_PlaySound(sounds[i], 0);
  }
  EXPECT_EQ(soundsystem.numactive, SOUND_MAX_ACTIVE);
  EXPECT_EQ(sounds[SOUND_MAX_ACTIVE]->playing, 1);
  for (int i = 0; i < SOUND_MAX_ACTIVE; i++) EXPECT_EQ(active_sounds[i], sounds[i]);
  std::vector<int16_t> out = mix_one();
  EXPECT_EQ(out[0], sound_test::converted(16LL * 100 * 127));  // sixteen heard, not seventeen
  EXPECT_EQ(Soundsystem_GetSoundOffset(*sounds[SOUND_MAX_ACTIVE]), 0u);
}

TEST_F(System, StopClosesTheGapInOrderAndPauseKeepsThePlace) {
  s_sound* a = constant_sound(1, 10000, 1);
  s_sound* b = constant_sound(1, 10000, 1);
  s_sound* c = constant_sound(1, 10000, 1);
  Soundsystem_PlaySound(a, 0);
  Soundsystem_PlaySound(b, 0);
  Soundsystem_PlaySound(c, 0);
  mix_one();
  Soundsystem_PauseSound(b);
  mix_one();
  EXPECT_EQ(Soundsystem_GetSoundOffset(*b), 2048u);  // paused: no progress
  EXPECT_EQ(Soundsystem_GetSoundOffset(*a), 4096u);
  Soundsystem_ResumeSound(b);
  mix_one();
  EXPECT_EQ(Soundsystem_GetSoundOffset(*b), 4096u);

  Soundsystem_StopSound(b);
  EXPECT_EQ(b->playing, 0);
  EXPECT_EQ(b->position, 0u);
  ASSERT_EQ(soundsystem.numactive, 2);
  EXPECT_EQ(active_sounds[0], a);
  EXPECT_EQ(active_sounds[1], c);
  Soundsystem_StopMusic(b);  // not listed: nothing else changes
  EXPECT_EQ(soundsystem.numactive, 2);
}

TEST_F(System, OffsetsCountFramesAndSeekingPastTheEndLandsOnTheLastFrame) {
  s_sound* sound = constant_sound(2, 10000, 1);
  Soundsystem_PlaySound(sound, 0);
  Soundsystem_SetSoundOffset(sound, 1234);
  EXPECT_EQ(sound->position, 1234u * 256 * 2);
  EXPECT_EQ(Soundsystem_GetSoundOffset(*sound), 1234u);
  Soundsystem_SetSoundOffset(sound, 10000);
  EXPECT_EQ(Soundsystem_GetSoundOffset(*sound), 9999u);
  Soundsystem_SetSoundOffset(sound, UINT64_MAX);
  EXPECT_EQ(Soundsystem_GetSoundOffset(*sound), 9999u);
  // The last frame plays, then the sound ends and reads 0.
  mix_one();
  EXPECT_EQ(sound->playing, 0);
  EXPECT_EQ(Soundsystem_GetSoundOffset(*sound), 0u);
  EXPECT_EQ(soundsystem.numactive, 0);
}

// Music shorter than what it clocks: silence from the frame after its last,
// still listed and playing, its offset running on by its increment per output
// frame (no jump to 0); the playback clock passes the end without running
// backwards and says so once on standard error, and again after a seek back
// into the music. (An effect stops at its end: see the test above.)
TEST_F(System, MusicShorterThanItsClockRunsOnInSilence) {
  struct Case {
    int channels;
    uint32_t frequency, frames;
  };
  for (const Case c : {Case{2, 44100, 3000}, Case{1, 22050, 1500}, Case{1, 8000, 700}}) {
    const std::string trace = std::to_string(c.channels) + " ch at " + std::to_string(c.frequency) + " Hz";
    s_sound* music = make_sound(c.channels, 16, c.frames, [](uint32_t, int) { return 1000; }, c.frequency);
    Soundsystem_PlayMusic(music, 0);
    const uint64_t endframe = uint64_t{c.frames} * 256 * c.channels / music->increment;  // in output frames
    const int buffers = static_cast<int>(endframe / AUDIO_SLOT_FRAMES) + 2 * AUDIO_NUM_SLOTS;
    std::vector<int16_t> left;  // the left side of every output frame mixed
    uint64_t last = 0;
    bool forward = true;
    // Mixes the buffers and reads the clocks after each; returns standard error.
    const auto play = [&] {
      testing::internal::CaptureStderr();
      for (int b = 0; b < buffers; b++) {
        fillnextbuffer();
        const int mixed = (g_cur_buf + AUDIO_NUM_SLOTS - 1) % AUDIO_NUM_SLOTS;  // the slot just filled
        const auto* out = reinterpret_cast<const int16_t*>(audiodriver_slotdata(mixed));
        for (int j = 0; j < AUDIO_SLOT_FRAMES; j++) left.push_back(out[2 * j]);
        const uint64_t audible = Soundsystem_GetPlaybackOffset(Soundsystem_CopySound(music));
        forward = forward && audible >= last;
        last = audible;
      }
      return testing::internal::GetCapturedStderr();
    };
    char line[128];
    std::snprintf(line, sizeof line, "sound: the music ended at %.1f s (frame %u); its clock runs on in silence\n",
                  static_cast<double>(c.frames) / c.frequency, c.frames);
    EXPECT_EQ(play(), line) << trace;
    const uint64_t position = uint64_t{AUDIO_SLOT_FRAMES} * buffers * music->increment;
    EXPECT_EQ(Soundsystem_GetSoundOffset(*music), (position >> 8) / c.channels) << trace;
    const size_t silent_from = std::find(left.begin(), left.end(), 0) - left.begin();
    EXPECT_NEAR(static_cast<double>(silent_from), static_cast<double>(endframe), 1.0) << trace;
    EXPECT_TRUE(std::all_of(left.begin() + silent_from, left.end(), [](int16_t v) { return v == 0; })) << trace;
    EXPECT_TRUE(forward) << trace;
    EXPECT_EQ(music->playing, 1) << trace;
    ASSERT_EQ(soundsystem.numactive, 1) << trace;

    Soundsystem_SetSoundOffset(music, 0);
    left.clear();
    last = 0;
    EXPECT_EQ(play(), line) << trace << ": after the seek back";
    EXPECT_NE(left[0], 0) << trace << ": silent after the seek back";
    Soundsystem_StopMusic(music);
  }
}

TEST_F(System, SoundWithoutDataIsRefusedAndReadsZero) {
  s_sound empty{};
  const std::string lines = test_util::capture_stdout([&] { Soundsystem_LoadSound("missing.ogg", &empty); });
  EXPECT_EQ(lines, "Loading sound missing.ogg\n");
  EXPECT_EQ(empty.data, nullptr);
  EXPECT_EQ(empty.volume, 255);
  EXPECT_EQ(empty.panning, 128);
  EXPECT_EQ(empty.leftvolume, 128);
  EXPECT_EQ(empty.rightvolume, 128);
  EXPECT_EQ(soundsystem.numsounds, 1u);

  testing::internal::CaptureStdout();
  Soundsystem_PlaySound(&empty, 1);
  Soundsystem_PlayMusic(&empty, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "sound: sound without playable data not played\nsound: sound without playable data not played\n");
  EXPECT_EQ(empty.playing, 0);
  EXPECT_EQ(soundsystem.numactive, 0);
  Soundsystem_SetSoundOffset(&empty, 500);
  EXPECT_EQ(empty.position, 0u);
  EXPECT_EQ(Soundsystem_GetSoundOffset(empty), 0u);
  EXPECT_EQ(Soundsystem_GetPlaybackOffset(empty), 0u);
  mix_one();  // nothing to read, nothing read

  // A record with data but an unreadable format is refused as well.
  s_sound* odd = constant_sound(2, 100, 1);
  odd->bits = 24;
  testing::internal::CaptureStdout();
  Soundsystem_PlaySound(odd, 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(soundsystem.numactive, 0);
}

TEST_F(System, DeleteReleasesTheDataAndNeverCountsBelowZero) {
  s_sound stream{};
  Soundsystem_CreateSoundStream(&stream, nullptr, 44100, 16, 1, 100);
  EXPECT_EQ(soundsystem.numsounds, 1u);
  Soundsystem_PlaySound(&stream, 0);
  Soundsystem_DeleteSound(&stream);
  EXPECT_EQ(stream.data, nullptr);
  EXPECT_EQ(soundsystem.numactive, 0);
  EXPECT_EQ(soundsystem.numsounds, 0u);
  Soundsystem_DeleteSound(&stream);  // twice: nothing to free, the count stays 0
  EXPECT_EQ(soundsystem.numsounds, 0u);
  // Impossible streams leave a record without data, with a line each, but
  // with a stream's playback fields, and counted.
  testing::internal::CaptureStdout();
  Soundsystem_CreateSoundStream(&stream, nullptr, 44100, 16, 2, -5);
  Soundsystem_CreateSoundStream(&stream, nullptr, 44100, 4, 2, 100);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "sound: cannot create a stream of -5 frames\nsound: cannot create a stream of 100 frames\n");
  EXPECT_EQ(stream.data, nullptr);
  EXPECT_EQ(stream.datasize, 0u);
  EXPECT_EQ(stream.isstream, 1u);
  EXPECT_EQ(stream.streamlength, 100u);
  EXPECT_EQ(stream.loop, 1u);
  EXPECT_EQ(stream.playing, 0);
  EXPECT_EQ(stream.volume, 255);
  EXPECT_EQ(stream.leftvolume, 128);
  EXPECT_EQ(stream.panning, 128);
  EXPECT_EQ(stream.increment, 512u);  // 44100 Hz stereo at the 44100 Hz mixing rate
  EXPECT_EQ(soundsystem.numsounds, 2u);
}

TEST_F(System, LoadingAListedRecordUnlistsItFirst) {
  s_sound* sound = constant_sound(1, 1000, 1);
  Soundsystem_PlaySound(sound, 0);
  void* data = sound->data;
  testing::internal::CaptureStdout();
  Soundsystem_LoadSound("nothing.raw", sound);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(soundsystem.numactive, 0);
  mix_one();  // would read the cleared record if it were still listed
  std::free(data);
}

TEST(SoundNames, UpcaseChangesOnlyLowerCaseLetters) {
  char text[] = "sprox8a.wav-Zz{`";
  EXPECT_EQ(upcase_sound(text), text);
  EXPECT_STREQ(text, "SPROX8A.WAV-ZZ{`");
}

TEST_F(System, WavExtensionInAnyCaseIsReadFromTheMount) {
  std::filesystem::remove_all("ext_mount");
  const std::string samples = sound_test::pattern_bytes(400);
  test_util::write_file("ext_mount/tune.wav", sound_test::wav_file(1, 16, 22050, samples));
  int mounted = 0;
  test_util::capture_stdout([&] { mounted = corefile_mountimage("ext_mount", COREFILE_KIND_DIRECTORY); });
  ASSERT_EQ(mounted, 1);
  s_sound sound{};
  for (const char* name : {"tune.wav", "TUNE.WAV", "Tune.Wav"}) {
    testing::internal::CaptureStdout();
    Soundsystem_LoadSound(name, &sound);
    testing::internal::GetCapturedStdout();
    ASSERT_NE(sound.data, nullptr) << name;
    EXPECT_EQ(sound.frequency, 22050u);
    EXPECT_EQ(sound.numsamples, 200u);
    EXPECT_EQ(sound.increment, 22050u * 256 / 44100);
    EXPECT_EQ(sound.volume, 255);
    std::free(sound.data);
  }
  // The extension is the text from the last dot; a leading dot is none.
  for (const char* name : {".wav", "tune.wav.bak", "tune"}) {
    testing::internal::CaptureStdout();
    Soundsystem_LoadSound(name, &sound);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(sound.data, nullptr) << name;
  }
  corefile_closeimage();
}

// On mono output the first 2048 accumulators are 2048 consecutive frames.
class MonoSystem : public sound_test::SoundSystemTest {
 protected:
  unsigned outputchannels() const override { return 1; }
};

TEST_F(MonoSystem, DetectFrequencyFindsTheToneOfTheLastBuffer) {
  const double pi = std::acos(-1.0);
  s_sound* tone = make_sound(1, 16, 44100, [pi](uint32_t f, int) {
    return static_cast<int>(20000 * std::sin(2 * pi * 1000.0 * f / 44100.0));
  });
  EXPECT_EQ(Soundsystem_DetectFrequency(1000.0f), 0.0f);  // nothing mixed yet
  Soundsystem_PlaySound(tone, 0);
  mix_one();
  EXPECT_EQ(Soundsystem_GetOutputBuffer(), soundsystem.mixbuffer);
  const float at = Soundsystem_DetectFrequency(1000.0f);
  const float off = Soundsystem_DetectFrequency(5000.0f);
  EXPECT_GT(at, 100.0f * off);
}

}  // namespace
