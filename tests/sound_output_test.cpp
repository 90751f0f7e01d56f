// The silent output in real time and the playback clock on it: the mixer's
// offset advancing at the real rate, a clean close, and the audible offset
// rising smoothly a latency behind the mixer, holding while paused and
// landing on a seek's target. Then the ALSA output: on ALSA's null PCM, the
// automatic choice falling back to the silent output when "default" cannot
// open, and a device that breaks while the music plays. Bounds are loose
// enough for a slow, shared machine; the step bound is taken from the
// measured time between frames.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "alsa_fault.h"
#include "sound_helpers.h"
#include "test_child.h"
#include "test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kRate = 44100.0;
constexpr uint64_t kRingFrames = AUDIO_NUM_SLOTS * AUDIO_SLOT_FRAMES;  // the silent output's latency
constexpr uint64_t kMargin = 900;  // frames (20 ms): a late wake-up of the device thread

class SilentOutput : public sound_test::SoundSystemTest {
 protected:
  int output() const override { return AUDIO_OUTPUT_SILENT; }
  // Ten seconds of quiet stereo music.
  s_sound* start_music() {
    s_sound* music = constant_sound(2, 441000, 0);
    Soundsystem_PlayMusic(music, 0);
    return music;
  }
  static uint64_t mixer(const s_sound* sound) { return Soundsystem_GetSoundOffset(Soundsystem_CopySound(sound)); }
  static uint64_t audible(const s_sound* sound) {
    return Soundsystem_GetPlaybackOffset(Soundsystem_CopySound(sound));
  }
  // Waits (bounded) until the mixer's offset reaches `frames`.
  static bool wait_for_mixer(const s_sound* sound, uint64_t frames, double seconds = 5.0) {
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (mixer(sound) < frames) {
      if (Clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
};

TEST_F(SilentOutput, OffsetAdvancesInRealTimeAndStopsWithTheOutput) {
  ASSERT_EQ(audiodriver_getoutput(), AUDIO_OUTPUT_SILENT);
  const auto start = Clock::now();
  s_sound* music = start_music();
  ASSERT_TRUE(wait_for_mixer(music, 10 * AUDIO_SLOT_FRAMES)) << "the silent output did not advance";
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const uint64_t offset = mixer(music);
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  // Never faster than real time (plus the buffer in hand), and moving in whole buffers.
  EXPECT_LE(offset, static_cast<uint64_t>(elapsed * kRate) + AUDIO_SLOT_FRAMES);
  EXPECT_EQ(offset % AUDIO_SLOT_FRAMES, 0u);
  EXPECT_GE(offset, 10u * AUDIO_SLOT_FRAMES);

  // Closing joins the device thread: nothing moves afterwards.
  audiodriver_close();
  EXPECT_EQ(audiodriver_getoutput(), -1);
  const uint64_t closed = mixer(music);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(mixer(music), closed);
}

TEST_F(SilentOutput, PlaybackClockRisesSmoothlyALatencyBehindTheMixer) {
  s_sound* music = start_music();
  // Past the start-up, where the audible offset still sits at 0.
  ASSERT_TRUE(wait_for_mixer(music, kRingFrames + 4 * AUDIO_SLOT_FRAMES));

  struct Sample {
    double before;   // s: just before the audible read
    double after;    // s: just after it
    uint64_t low;    // the mixer before the read
    uint64_t value;  // the audible offset
    uint64_t high;   // the mixer after the read
  };
  std::vector<Sample> samples;
  const auto origin = Clock::now();
  for (int frame = 0; frame < 60; frame++) {  // one second of 60 Hz frames
    Sample s;
    s.low = mixer(music);
    s.before = std::chrono::duration<double>(Clock::now() - origin).count();
    s.value = audible(music);
    s.after = std::chrono::duration<double>(Clock::now() - origin).count();
    s.high = mixer(music);
    samples.push_back(s);
    std::this_thread::sleep_for(std::chrono::microseconds(16667));
  }

  int rising = 0;
  int ahead = 0;  // samples further ahead of the latency than the margin
  for (size_t i = 0; i < samples.size(); i++) {
    const Sample& s = samples[i];
    EXPECT_LE(s.value, s.high) << i;  // never past the mixer
    // Within a buffer of the mixer minus the latency: the four queued slots at
    // a completion, three just before the next (and a scheduling margin).
    EXPECT_GE(s.value + kRingFrames + kMargin, s.low) << i;
    // A device thread woken late leaves the mixer behind for a moment: count
    // those instead of failing on each, the clock itself is right to go on.
    ahead += s.value + kRingFrames - AUDIO_SLOT_FRAMES > s.high + kMargin ? 1 : 0;
    if (i == 0) continue;
    const Sample& p = samples[i - 1];
    ASSERT_GE(s.value, p.value) << "ran backwards at frame " << i;
    // At most the real time between the two reads, plus tolerance; a clock
    // that was held at the mixer (a late device thread) may catch up once.
    const double allowed = (s.after - p.before) * kRate + 300;
    if (p.value < p.high) {
      EXPECT_LE(static_cast<double>(s.value - p.value), allowed) << i;
    }
    rising += s.value > p.value ? 1 : 0;
  }
  EXPECT_LE(ahead, 6);
  // It advances from frame to frame, not in 2048-frame steps.
  EXPECT_GE(rising, 50);
}

TEST_F(SilentOutput, PlaybackClockHoldsWhilePausedAndResumesFromThere) {
  s_sound* music = start_music();
  ASSERT_TRUE(wait_for_mixer(music, kRingFrames + 4 * AUDIO_SLOT_FRAMES));
  Soundsystem_PauseSound(music);
  const uint64_t paused = audible(music);
  EXPECT_GT(paused, 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(audible(music), paused);
  EXPECT_EQ(audible(music), paused);
  Soundsystem_ResumeSound(music);
  const uint64_t resumed = audible(music);
  EXPECT_GE(resumed, paused);
  EXPECT_LE(resumed, paused + 2 * AUDIO_SLOT_FRAMES);  // no jump of a whole latency
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_GT(audible(music), resumed);
}

TEST_F(SilentOutput, PlaybackClockLandsOnTheSeekTargetAtOnce) {
  s_sound* music = start_music();
  ASSERT_TRUE(wait_for_mixer(music, 4 * AUDIO_SLOT_FRAMES));
  for (uint64_t target : {uint64_t{300000}, uint64_t{20000}}) {  // forwards, then backwards
    Soundsystem_SetSoundOffset(music, target);
    EXPECT_EQ(audible(music), target);
    // It holds there until the new place is heard, then moves on.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    const uint64_t later = audible(music);
    EXPECT_GE(later, target);
    EXPECT_LE(later, mixer(music));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_GT(audible(music), 20000u);
  // A seek while paused lands too, and holds.
  Soundsystem_PauseSound(music);
  Soundsystem_SetSoundOffset(music, 100000);
  EXPECT_EQ(audible(music), 100000u);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(audible(music), 100000u);
}

TEST_F(SilentOutput, PlaybackClockOfAStoppedOrEndedSoundReadsZero) {
  s_sound* shortsound = constant_sound(2, 3 * AUDIO_SLOT_FRAMES, 0);
  Soundsystem_PlaySound(shortsound, 0);
  const auto until = Clock::now() + std::chrono::seconds(5);
  while (Soundsystem_CopySound(shortsound).playing && Clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(Soundsystem_CopySound(shortsound).playing, 0);
  EXPECT_EQ(audible(shortsound), 0u);
  EXPECT_EQ(mixer(shortsound), 0u);
}

}  // namespace

namespace {

// A quiet stereo music of `frames` frames over `samples`, as loading leaves it.
s_sound QuietMusic(std::vector<int16_t>& samples, uint32_t frames) {
  samples.assign(size_t{frames} * 2, 0);
  s_sound music{};
  music.channels = 2;
  music.bits = 16;
  music.frequency = 44100;
  music.datasize = static_cast<uint32_t>(samples.size() * 2);
  music.numsamples = static_cast<uint32_t>(samples.size());
  music.data = samples.data();
  music.volume = 255;
  music.leftvolume = music.rightvolume = music.panning = 128;
  Soundsystem_SetFrequency(&music, 44100);
  return music;
}

uint64_t MixerOffset(const s_sound* sound) { return Soundsystem_GetSoundOffset(Soundsystem_CopySound(sound)); }

// Waits (bounded) until `done` holds.
template <typename Done>
bool WaitFor(Done done, double seconds = 5.0) {
  const auto until = Clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// The ALSA output's device thread on ALSA's "null" PCM, which takes every
// write at once: slots come back as fast as they are mixed.
TEST(AlsaOutput, NullDeviceHandsSlotsBackAndClosesCleanly) {
  setenv("SPROX_ALSA_DEVICE", "null", 1);
  audiodriver_selectoutput(AUDIO_OUTPUT_ALSA);
  std::string lines;
  {
    testing::internal::CaptureStdout();
    Soundsystem_Init(44100, 16, 2);
    lines = testing::internal::GetCapturedStdout();
  }
  unsetenv("SPROX_ALSA_DEVICE");
  if (audiodriver_getoutput() != AUDIO_OUTPUT_ALSA) {
    Soundsystem_CloseAudio();
    audiodriver_selectoutput(AUDIO_OUTPUT_AUTO);
    GTEST_SKIP() << "ALSA's null PCM is not available here: " << lines;
  }
  EXPECT_NE(lines.find("AUDIO: opening audio device succesful!\nAUDIO: output: ALSA \"null\"\n"), std::string::npos)
      << lines;
  std::vector<int16_t> samples;
  s_sound music = QuietMusic(samples, 216 * AUDIO_SLOT_FRAMES);  // whole slots: loops stay aligned
  Soundsystem_PlayMusic(&music, 1);
  // The null PCM takes slots as fast as the mixer fills them, so the looping
  // sound may wrap between two reads: the comparisons below are made paused.
  const auto until = Clock::now() + std::chrono::seconds(5);
  bool handedback = false;
  while (!handedback && Clock::now() < until) {
    handedback = Soundsystem_GetSoundOffset(Soundsystem_CopySound(&music)) >= 8 * AUDIO_SLOT_FRAMES;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(handedback) << "the mixer did not get through 8 slots in 5 s";
  Soundsystem_PauseSound(&music);
  const uint64_t offset = Soundsystem_GetSoundOffset(Soundsystem_CopySound(&music));
  EXPECT_EQ(offset % AUDIO_SLOT_FRAMES, 0u);
  EXPECT_LE(Soundsystem_GetPlaybackOffset(Soundsystem_CopySound(&music)), offset);
  EXPECT_EQ(Soundsystem_GetSoundOffset(Soundsystem_CopySound(&music)), offset) << "a paused sound moved";
  Soundsystem_ResumeSound(&music);
  Soundsystem_CloseAudio();  // joins the device thread
  const uint64_t closed = Soundsystem_GetSoundOffset(Soundsystem_CopySound(&music));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Soundsystem_GetSoundOffset(Soundsystem_CopySound(&music)), closed);
  audiodriver_selectoutput(AUDIO_OUTPUT_AUTO);
}

#if SPROX_TEST_HAS_ALSA

// A device that breaks for good while the music plays (EIO from every write
// after the first twelve): one line says so, the ring goes on at the real
// rate on the steady clock instead of the device's, the music plays to its
// end and its clock runs on past it, and the output closes cleanly. No further write reaches the device.
TEST(AlsaOutput, DeviceFailingMidStreamGoesOnWithoutSoundToTheEnd) {
  setenv("SPROX_ALSA_DEVICE", "null", 1);
  audiodriver_selectoutput(AUDIO_OUTPUT_ALSA);
  fflush(stdout);
  testing::internal::CaptureStdout();
  Soundsystem_Init(44100, 16, 2);
  unsetenv("SPROX_ALSA_DEVICE");
  if (audiodriver_getoutput() != AUDIO_OUTPUT_ALSA) {
    Soundsystem_CloseAudio();
    audiodriver_selectoutput(AUDIO_OUTPUT_AUTO);
    const std::string lines = testing::internal::GetCapturedStdout();
    GTEST_SKIP() << "ALSA's null PCM is not available here: " << lines;
  }
  std::vector<int16_t> samples;
  s_sound music = QuietMusic(samples, 2 * 44100);
  alsa_fault::fail_after(12);
  Soundsystem_PlayMusic(&music, 0);

  const bool failed = WaitFor([] { return alsa_fault::g_refused > 0; });
  const auto before = Clock::now();
  const uint64_t at_failure = MixerOffset(&music);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const uint64_t later = MixerOffset(&music);
  const double elapsed = std::chrono::duration<double>(Clock::now() - before).count();
  // Music runs on past its end in silence: the clock passes it, still playing.
  const bool ended = WaitFor([&] { return MixerOffset(&music) >= 88200 + 2 * AUDIO_SLOT_FRAMES; });
  const bool still_playing = Soundsystem_CopySound(&music).playing == 1;
  Soundsystem_CloseAudio();
  const long refused = alsa_fault::g_refused;
  alsa_fault::fail_after(-1);
  audiodriver_selectoutput(AUDIO_OUTPUT_AUTO);
  fflush(stdout);
  const std::string lines = testing::internal::GetCapturedStdout();

  ASSERT_TRUE(failed) << "the device never broke: " << lines;
  EXPECT_LT(at_failure, 88200u) << "the break came after the music's end";
  EXPECT_GT(later, at_failure) << "the clock stopped with the device";
  EXPECT_LE(later - at_failure, static_cast<uint64_t>(elapsed * kRate) + 2 * AUDIO_SLOT_FRAMES)
      << "faster than real time: still paced by the broken device";
  EXPECT_TRUE(ended) << "the clock did not run on past the music's end";
  EXPECT_TRUE(still_playing);
  EXPECT_EQ(refused, 1) << "the broken device was written again";
  const std::string line = "sound: ALSA output failed (Input/output error), going on without sound\n";
  const size_t at = lines.find(line);
  EXPECT_NE(at, std::string::npos) << lines;
  EXPECT_EQ(lines.find(line, at + 1), std::string::npos) << "said more than once: " << lines;
}

// ALSA configurations of the test's own: a "default" that opens (the null
// PCM) and one that cannot (a card that does not exist).
constexpr const char* kDefaultOpens = "pcm.default { type null }\n";
constexpr const char* kDefaultFails = "pcm.default { type hw card 99 }\n";

// Soundsystem_Init on the automatic choice with nothing in the environment;
// returns what it printed.
std::string InitAutomatic() {
  unsetenv("SPROX_AUDIO");
  unsetenv("SPROX_ALSA_DEVICE");
  audiodriver_selectoutput(AUDIO_OUTPUT_AUTO);
  return test_util::capture_stdout([] { Soundsystem_Init(44100, 16, 2); });
}

// Left to itself the show opens ALSA's "default" and, where that cannot open
// (no card, no sound server), runs on the silent output with its clock moving
// in real time; asked for ALSA only, the driver reports the failure instead.
// Each case in a fresh process, since alsa-lib reads its configuration once.
TEST(AutomaticOutput, TakesAlsaDefaultAndFallsBackToTheSilentOutput) {
  if (!audio_output_alsa.start) GTEST_SKIP() << "built without ALSA";
  EXPECT_IN_CHILD({
    alsa_fault::use_config("default_opens.conf", kDefaultOpens);
    const std::string lines = InitAutomatic();
    CHILD_CHECK(audiodriver_getoutput() == AUDIO_OUTPUT_ALSA);
    CHILD_CHECK(lines.find("AUDIO: output: ALSA \"default\"\n") != std::string::npos);
    Soundsystem_CloseAudio();
  });
  EXPECT_IN_CHILD({
    alsa_fault::use_config("default_fails.conf", kDefaultFails);
    CHILD_CHECK(!alsa_fault::opens("default"));
    const std::string lines = InitAutomatic();
    CHILD_CHECK(audiodriver_getoutput() == AUDIO_OUTPUT_SILENT);
    CHILD_CHECK(lines.find("open waveout\nAUDIO: output: silent (no sound device)\nopen wav-buffers\n"
                           "audiodriver inited\n") != std::string::npos);
    CHILD_CHECK(lines.find("succesful") == std::string::npos);
    std::vector<int16_t> samples;
    s_sound music = QuietMusic(samples, 10 * 44100);
    Soundsystem_PlayMusic(&music, 0);
    CHILD_CHECK(WaitFor([&] { return MixerOffset(&music) >= 8 * AUDIO_SLOT_FRAMES; }));
    Soundsystem_CloseAudio();

    audiodriver_selectoutput(AUDIO_OUTPUT_ALSA);
    std::string strict = test_util::capture_stdout([] { CHILD_CHECK(audiodriver_init(44100, 16, 2048, 2) == 0); });
    CHILD_CHECK(strict.find("open waveout\nopen wav-buffers\nAUDIO: error opening audio buffer\n") != std::string::npos);
    CHILD_CHECK(audiodriver_getoutput() == -1);
  });
}

#endif  // SPROX_TEST_HAS_ALSA

}  // namespace
