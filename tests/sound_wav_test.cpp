// WAV files through the resource file system: canonical files read from a
// directory mount and from a packed image, round trips through the writer,
// and every refused file, with its message and what stays in the record.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "corefile/corefile.h"
#include "sound_helpers.h"
#include "test_util.h"

using sound_test::pattern_bytes;
using sound_test::wav_file;

namespace {

class Wav : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::remove_all(kDir);
    std::filesystem::create_directories(kDir);
  }
  void TearDown() override {
    corefile_closeimage();
    std::free(sound.data);
  }
  void mount() {
    int mounted = 0;
    test_util::capture_stdout([&] { mounted = corefile_mountimage(kDir, 2); });
    ASSERT_EQ(mounted, 1);
  }
  // Writes `bytes` as `name` in the mounted folder and loads it; returns the
  // result, and what was printed in *lines.
  int load(const std::string& name, const std::string& bytes, std::string* lines = nullptr) {
    test_util::write_file(std::string(kDir) + "/" + name, bytes);
    mount();
    std::free(sound.data);
    sound = s_sound{};
    int result = -1;
    const std::string printed = test_util::capture_stdout([&] { result = Soundsystem_LoadWAV(name.c_str(), &sound); });
    if (lines) *lines = printed;
    return result;
  }
  static constexpr const char* kDir = "wav_mount";
  s_sound sound{};
};

TEST_F(Wav, CanonicalStereoFileLoadsItsFormatAndData) {
  const std::string samples = pattern_bytes(176400);  // one second of 44100 Hz 16-bit stereo
  ASSERT_EQ(load("second.wav", wav_file(2, 16, 44100, samples)), 1);
  EXPECT_EQ(sound.channels, 2);
  EXPECT_EQ(sound.bits, 16);
  EXPECT_EQ(sound.frequency, 44100u);
  EXPECT_EQ(sound.datasize, 176400u);
  EXPECT_EQ(sound.numsamples, 88200u);
  ASSERT_NE(sound.data, nullptr);
  EXPECT_EQ(std::memcmp(sound.data, samples.data(), samples.size()), 0);
  EXPECT_EQ(sound.playing, 0);
  EXPECT_EQ(sound.position, 0u);
}

TEST_F(Wav, EightBitMonoFileCountsOneSamplePerByte) {
  ASSERT_EQ(load("blip.wav", wav_file(1, 8, 11025, pattern_bytes(999))), 1);
  EXPECT_EQ(sound.numsamples, 999u);
  EXPECT_EQ(sound.frequency, 11025u);
}

TEST_F(Wav, RoundTripKeepsFormatAndBytesAndWritesTheCanonicalHeader) {
  const std::string samples = pattern_bytes(6000);
  ASSERT_EQ(load("original.wav", wav_file(2, 16, 32000, samples)), 1);
  std::string lines;
  int saved = 0;
  lines = test_util::capture_stdout([&] { saved = Soundsystem_SaveSound("copy.wav", &sound); });
  EXPECT_EQ(saved, 1);
  const std::string written = test_util::read_file(std::string(kDir) + "/copy.wav");
  ASSERT_EQ(written.size(), 44u + samples.size());
  // Byte for byte what a canonical writer produces from the same format.
  EXPECT_EQ(written, wav_file(2, 16, 32000, samples));

  s_sound again{};
  ASSERT_EQ(Soundsystem_LoadWAV("copy.wav", &again), 1);
  EXPECT_EQ(again.channels, sound.channels);
  EXPECT_EQ(again.bits, sound.bits);
  EXPECT_EQ(again.frequency, sound.frequency);
  EXPECT_EQ(again.datasize, sound.datasize);
  EXPECT_EQ(again.numsamples, sound.numsamples);
  EXPECT_EQ(std::memcmp(again.data, sound.data, sound.datasize), 0);
  std::free(again.data);
}

TEST_F(Wav, RoundTripOfAnEightBitSoundAndOfASoundWithoutData) {
  ASSERT_EQ(load("low.wav", wav_file(1, 8, 8000, pattern_bytes(301))), 1);
  test_util::capture_stdout([&] { Soundsystem_SaveWAV("low2.wav", &sound); });
  EXPECT_EQ(test_util::read_file(std::string(kDir) + "/low2.wav"), wav_file(1, 8, 8000, pattern_bytes(301)));

  // A record without data writes a header that claims no samples.
  s_sound empty{};
  empty.channels = 2;
  empty.bits = 16;
  empty.frequency = 44100;
  empty.numsamples = 5000;  // no data behind it
  int saved = 0;
  test_util::capture_stdout([&] { saved = Soundsystem_SaveWAV("empty.wav", &empty); });
  EXPECT_EQ(saved, 1);
  EXPECT_EQ(test_util::read_file(std::string(kDir) + "/empty.wav"), wav_file(2, 16, 44100, ""));
}

TEST_F(Wav, MissingFileIsRefusedWithoutAMessage) {
  mount();
  std::string lines = test_util::capture_stdout([&] { EXPECT_EQ(Soundsystem_LoadWAV("nothere.wav", &sound), 0); });
  EXPECT_EQ(lines, "");
  EXPECT_EQ(sound.data, nullptr);
}

TEST_F(Wav, FileWithoutRiffOrWaveSaysSoAndLeavesTheRecord) {
  std::string bytes = wav_file(2, 16, 44100, pattern_bytes(100));
  std::string lines;
  std::string norfiff = bytes;
  norfiff[0] = 'X';
  EXPECT_EQ(load("a.wav", norfiff, &lines), 0);
  EXPECT_EQ(lines, "No WAV file");
  EXPECT_EQ(sound.channels, 0);
  std::string nowave = bytes;
  std::memcpy(&nowave[8], "AVI ", 4);
  EXPECT_EQ(load("b.wav", nowave, &lines), 0);
  EXPECT_EQ(lines, "No WAV file");
  EXPECT_EQ(sound.frequency, 0u);
}

TEST_F(Wav, MissingFmtIsRefusedSilently) {
  std::string bytes = wav_file(2, 16, 44100, pattern_bytes(100));
  std::memcpy(&bytes[12], "JUNK", 4);
  std::string lines;
  EXPECT_EQ(load("c.wav", bytes, &lines), 0);
  EXPECT_EQ(lines, "");
  EXPECT_EQ(sound.channels, 0);
}

TEST_F(Wav, NonPcmFileSaysSoAndKeepsItsFormat) {
  std::string lines;
  EXPECT_EQ(load("ext.wav", wav_file(2, 24, 48000, pattern_bytes(600), 0xFFFE), &lines), 0);
  EXPECT_EQ(lines, "Not PCM signed");
  EXPECT_EQ(sound.channels, 2);
  EXPECT_EQ(sound.frequency, 48000u);
  EXPECT_EQ(sound.bits, 24);
  EXPECT_EQ(sound.data, nullptr);
}

TEST_F(Wav, ChunkBetweenFmtAndDataIsRefusedSilently) {
  std::string canonical = wav_file(2, 16, 44100, pattern_bytes(100));
  std::string withlist = canonical.substr(0, 36) + "LIST" + std::string("\x04\0\0\0info", 8) + canonical.substr(36);
  std::string lines;
  EXPECT_EQ(load("list.wav", withlist, &lines), 0);
  EXPECT_EQ(lines, "");
  EXPECT_EQ(sound.channels, 2);
  EXPECT_EQ(sound.data, nullptr);
}

TEST_F(Wav, ShortTruncatedAndOddBitFilesAreRefused) {
  const std::string canonical = wav_file(1, 16, 44100, pattern_bytes(1000));
  // Shorter than the header, down to nothing.
  for (size_t length : {size_t{43}, size_t{20}, size_t{0}}) {
    EXPECT_EQ(load("short.wav", canonical.substr(0, length)), 0) << length;
    EXPECT_EQ(sound.data, nullptr);
  }
  // A data size one byte past the end of the file.
  std::string truncated = canonical;
  sound_test::put32(truncated, 40, 1001);
  EXPECT_EQ(load("trunc.wav", truncated), 0);
  EXPECT_EQ(sound.data, nullptr);
  sound_test::put32(truncated, 40, 0xFFFFFFFFu);
  EXPECT_EQ(load("huge.wav", truncated), 0);
  EXPECT_EQ(sound.data, nullptr);
  // A data size that fits exactly loads.
  sound_test::put32(truncated, 40, 1000);
  EXPECT_EQ(load("exact.wav", truncated), 1);

  // Bits per sample below 8 or not a multiple of 8 (0 would divide by zero).
  for (int bits : {0, 4, 7, 12}) {
    EXPECT_EQ(load("bits.wav", wav_file(1, bits, 44100, pattern_bytes(64))), 0) << bits;
    EXPECT_EQ(sound.data, nullptr) << bits;
    EXPECT_EQ(sound.bits, bits);
  }
}

// A file whose clock could not run: a sample rate outside 8000 to 192000 Hz
// or not one whole frame of data. The reader refuses it with one line naming
// the file and the reason, keeping the format fields as for the other
// refusals after the format tag; a reload over a playing sound refuses it
// with the makers' mode's line and leaves the old sound as it was. The
// limits themselves load.
TEST_F(Wav, FilesWithoutARunningClockAreRefusedWithTheirReason) {
  struct Case {
    int channels;
    uint32_t rate;
    size_t bytes;  // of 16-bit data
    const char* why;  // null: loads
  };
  const Case cases[] = {
      {2, 0, 400, "sample rate of 0 Hz is outside 8000 to 192000 Hz"},
      {2, 7999, 400, "sample rate of 7999 Hz is outside 8000 to 192000 Hz"},
      {1, 192001, 400, "sample rate of 192001 Hz is outside 8000 to 192000 Hz"},
      {2, 0xFFFFFFFFu, 400, "sample rate of 4294967295 Hz is outside 8000 to 192000 Hz"},
      {2, 44100, 0, "no sample frames"},
      {2, 44100, 2, "no sample frames"},  // half a stereo frame
      {0, 44100, 400, "no sample frames"},
      {1, 8000, 2, nullptr},
      {2, 192000, 4, nullptr},
  };
  test_util::write_file(std::string(kDir) + "/good.wav", wav_file(1, 16, 22050, pattern_bytes(100)));
  for (const Case& c : cases) {
    const std::string trace = std::to_string(c.channels) + "/" + std::to_string(c.rate) + "/" + std::to_string(c.bytes);
    std::string lines;
    EXPECT_EQ(load("clock.wav", wav_file(c.channels, 16, c.rate, pattern_bytes(c.bytes)), &lines), c.why ? 0 : 1)
        << trace;
    EXPECT_EQ(sound.frequency, c.rate) << trace;
    EXPECT_EQ(sound.channels, c.channels) << trace;
    EXPECT_EQ(lines, c.why ? std::string("sound: WAV file clock.wav: ") + c.why + "\n" : "") << trace;
    EXPECT_EQ(sound.numsamples, c.why ? 0 : c.bytes / 2) << trace;
    if (!c.why) continue;

    // Reloaded over a good sound: refused with the reason, the old one kept.
    s_sound good{};
    ASSERT_EQ(Soundsystem_LoadWAV("good.wav", &good), 1);
    const s_sound before = good;
    int reloaded = -1;
    lines = test_util::capture_stdout([&] { reloaded = Soundsystem_ReloadSound("clock.wav", &good); });
    EXPECT_EQ(reloaded, 0) << trace;
    EXPECT_EQ(lines, std::string("dev: clock.wav not reloaded (") + c.why + "), the old music plays on\n") << trace;
    EXPECT_EQ(std::memcmp(&good, &before, sizeof good), 0) << trace;
    std::free(good.data);
  }
}

// The one header every WAV writer of the project uses (the sound system, the
// music generator, the tests' files), against the layout written out by hand.
TEST(WavHeader, FillsTheCanonicalLayoutLittleEndian) {
  uint8_t header[SOUND_WAV_HEADERBYTES];
  std::memset(header, 0xAA, sizeof header);
  Soundsystem_FillWAVHeader(header, 2, 16, 44100, 0x01020304);
  const uint8_t expected[SOUND_WAV_HEADERBYTES] = {
      'R', 'I', 'F', 'F', 0x28, 0x03, 0x02, 0x01, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
      16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 0x02, 0,
      4, 0, 16, 0, 'd', 'a', 't', 'a', 0x04, 0x03, 0x02, 0x01};
  EXPECT_EQ(std::memcmp(header, expected, sizeof header), 0);

  // The 2-byte fields keep only their low byte; the bytes a second do not.
  Soundsystem_FillWAVHeader(header, 0x102, 8, 8000, 0);
  const uint8_t channels[2] = {0x02, 0}, persecond[4] = {0x80, 0x7E, 0x1F, 0}, align[2] = {0x02, 0}, bits[2] = {8, 0};
  EXPECT_EQ(std::memcmp(header + 22, channels, 2), 0);
  EXPECT_EQ(std::memcmp(header + 28, persecond, 4), 0);
  EXPECT_EQ(std::memcmp(header + 32, align, 2), 0);
  EXPECT_EQ(std::memcmp(header + 34, bits, 2), 0);
  EXPECT_EQ(header[4], 36) << "no data: the RIFF size is the rest of the header";
}

TEST(WavImage, MusicLoadsFromAPackedImageByAnyLetterCase) {
  const std::string samples = pattern_bytes(4 * 4410);
  test_util::pack("music.dat", {{"tune.wav", wav_file(2, 16, 44100, samples)}, {"other.txt", "hello"}});
  int mounted = 0;
  test_util::capture_stdout([&] { mounted = corefile_mountimage("music.dat", 0); });
  ASSERT_EQ(mounted, 1);
  audiodriver_selectoutput(AUDIO_OUTPUT_MANUAL);
  testing::internal::CaptureStdout();
  Soundsystem_Init(44100, 16, 2);
  s_sound music{};
  Soundsystem_LoadSound("Tune.WAV", &music);
  const std::string lines = testing::internal::GetCapturedStdout();
  EXPECT_NE(lines.find("Loading sound Tune.WAV\n"), std::string::npos);
  ASSERT_NE(music.data, nullptr);
  EXPECT_EQ(music.numsamples, samples.size() / 2);
  EXPECT_EQ(std::memcmp(music.data, samples.data(), samples.size()), 0);
  EXPECT_EQ(music.increment, 512u);
  Soundsystem_PlayMusic(&music, 0);
  fillnextbuffer();
  EXPECT_EQ(Soundsystem_GetSoundOffset(music), 2048u);
  Soundsystem_DeleteSound(&music);
  Soundsystem_CloseAudio();
  audiodriver_selectoutput(AUDIO_OUTPUT_AUTO);
  corefile_closeimage();
}

}  // namespace
