// The built show's data against the facts the code keeps about it: the
// packed "sprox.dat" of the build folder holds every file the show loads
// and nothing else, its music runs at the sound system's rate past the end
// mark, and the copies of the show's size outside C++ agree.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/core.h"
#include "corefile/corefile.h"
#include "demo/demo.h"
#include "effects/assets.h"
#include "test_util.h"
#include "timeline/timeline.h"

namespace {

class BuiltImage : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string image = std::string(SPROX_BINARY_DIR) + "/" + DEMO_IMAGENAME;
    test_util::capture_stdout([&] { mounted_ = corefile_mountimage(image.c_str(), 0); });
    ASSERT_EQ(mounted_, 1) << image;
  }
  void TearDown() override {
    test_util::capture_stdout([] { corefile_closeimage(); });
  }
  // The whole of a file of the mount, or "" with a failure when it cannot be opened.
  static std::string Read(const char* name) {
    std::string bytes;
    test_util::capture_stdout([&] {
      s_corefile file{};
      if (!corefile_open(name, &file, 0)) return;
      bytes.resize(static_cast<size_t>(file.size));
      corefile_read(bytes.data(), 1, file.size, &file);
      corefile_close(&file);
    });
    EXPECT_FALSE(bytes.empty()) << name << " cannot be opened or is empty";
    return bytes;
  }
  int mounted_ = 0;
};

TEST_F(BuiltImage, HoldsEveryFileTheShowLoadsAndNothingElse) {
  std::set<std::string> loaded(std::begin(sprox_assets::kImageFiles), std::end(sprox_assets::kImageFiles));
  loaded.insert(std::begin(sprox_assets::kShaderFiles), std::end(sprox_assets::kShaderFiles));
  loaded.insert(DEMO_MUSICNAME);
  loaded.insert(DEMO_TIMINGNAME);
  ASSERT_EQ(loaded.size(), size_t{EFFECTS_NUM_IMAGES + EFFECTS_NUM_SHADER_FILES + 2}) << "a name listed twice";

  for (const std::string& name : loaded) Read(name.c_str());
  std::set<std::string> packed;
  for (uint32_t i = 0; i < corefile_image.numfiles; ++i) packed.insert(corefile_image.names[i]);
  EXPECT_EQ(packed, loaded) << "the image holds exactly the files the show loads";
}

TEST_F(BuiltImage, MusicRunsAtTheDeviceRatePastTheEndMark) {
  const std::string wav = Read(DEMO_MUSICNAME);
  ASSERT_GE(wav.size(), 44u);
  const auto* header = reinterpret_cast<const unsigned char*>(wav.data());
  EXPECT_EQ(core_getle32(header + 24), uint32_t{AUDIO_DEVICE_RATE}) << "sample rate";
  const uint32_t frames = core_getle32(header + 40) / (core_getle16(header + 22) * 2u);

  test_util::capture_stdout([] {
    demo = s_demo{};
    InitTiming();
    LoadTiming(DEMO_TIMINGNAME);
  });
  // Events 0 to 14 have a scene; the one after the last scene is the end mark.
  ASSERT_EQ(demo.numevents, DEMO_LASTSCENE + 2);
  const int64_t end_mark = int64_t{demo.event[DEMO_LASTSCENE + 1].time} * TIMELINE_TICKLENGTH;
  // Music that runs out goes on in silence and says so on standard error; the
  // show's own music covers the whole show, with at least half a second (of
  // silence) past the end mark.
  EXPECT_GE(int64_t{frames}, end_mark + AUDIO_DEVICE_RATE / 2) << "the music must not run out before the show closes";
}

TEST(ShowSize, HeadlessScreenIsThePicture) {
  const std::string expected =
      "-screen 0 " + std::to_string(EFFECTS_WIDTH) + "x" + std::to_string(EFFECTS_HEIGHT) + "x24";
  EXPECT_EQ(SPROX_XVFB_SCREEN, expected) << "scripts/xvfb.sh";
}

}  // namespace
