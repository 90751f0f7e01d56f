// The development mode's reloads inside one process, on a real GL context
// under Xvfb and the sound system's manual output: a folder of the test's own
// is mounted with Dev_Start, its files are rewritten and handed to Dev_Reload
// (what a saved change leads to), and the programs, textures, event table and
// music are read back from GL and the records. Also: the head the dev mode
// puts in front of a body is byte for byte what the pack step wrote for the
// build, a thousand reloads of each kind leave the heap where it was, and the
// read-out allocates nothing per frame.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <string>
#include <vector>

#include "alloc_probe.h"
#include "core/core.h"
#include "corefile/corefile.h"
#include "demo/demo.h"
#include "demo/dev.h"
#include "demo/dev_internal.h"
#include "effects/effects.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"
#include "sound/sound.h"
#include "test_util.h"
#include "timeline/timeline.h"
#include "effects/shaderhead.h"

namespace fs = std::filesystem;

namespace {

const fs::path kFolder = fs::current_path() / "devfolder";
constexpr const char* kPrelude = "varying vec2 texCoord;\nconst vec3 DEVTEST = vec3(0.0, 1.0, 0.0);\n";
constexpr const char* kBodyPrelude = "void main() { gl_FragColor = vec4(DEVTEST, 1.0); }\n";
constexpr const char* kBodyRed = "void main() { gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0); }\n";
constexpr const char* kBodyBroken = "void main() {\n  vec4 c = vec4(1.0);\n  gl_FragColor = c +;\n}\n";

void Write(const char* name, const std::string& bytes) { test_util::write_file(kFolder / name, bytes); }

std::string Png(unsigned w, unsigned h, uint32_t rgba) {
  std::vector<uint8_t> pixels;
  for (unsigned i = 0; i < w * h; i++)
    for (int c = 3; c >= 0; c--) pixels.push_back(static_cast<uint8_t>(rgba >> (8 * c)));
  return test_util::png_rgba(pixels, w, h);
}

// A canonical WAV of `frames` stereo 16-bit frames, sample value v + frame.
std::string Wav(uint32_t frames, int16_t v) {
  std::string bytes(SOUND_WAV_HEADERBYTES + frames * 4, '\0');
  Soundsystem_FillWAVHeader(reinterpret_cast<uint8_t*>(&bytes[0]), 2, 16, AUDIO_DEVICE_RATE, frames * 4);
  for (uint32_t i = 0; i < frames * 2; i++) {
    const int16_t s = static_cast<int16_t>(v + i / 2);
    std::memcpy(&bytes[SOUND_WAV_HEADERBYTES + i * 2], &s, 2);
  }
  return bytes;
}

// A timing file the show can use: events 0 to 15 (the end mark) `step`
// ticks apart, `states` after the first event line.
std::string Timing(int step, const std::string& states = "") {
  std::string text;
  for (int e = 0; e <= DEMO_LASTSCENE + 1; e++) {
    text += "event " + std::to_string(e) + " " + std::to_string(e * step) + " 0 0\n";
    if (e == 0) text += states;
  }
  return text;
}

// The window's pixel at its centre after a full-window quad through shader `id`.
uint32_t DrawnWith(int id) {
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  glViewport(0, 0, EFFECTS_WIDTH, EFFECTS_HEIGHT);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  GFX_BindShader(id);
  GFX_DrawQuad(0, 0, EFFECTS_WIDTH, EFFECTS_HEIGHT, 0, 1, 1, 0);
  GFX_UnbindShader();
  uint8_t p[4] = {};
  glReadPixels(EFFECTS_WIDTH / 2, EFFECTS_HEIGHT / 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
  return static_cast<uint32_t>(p[0]) << 16 | p[1] << 8 | p[2];
}

struct TextureSize {
  int width, height;
};
TextureSize SizeOf(unsigned texture) {
  glBindTexture(GL_TEXTURE_2D, texture);
  TextureSize size{};
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &size.width);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &size.height);
  return size;
}
uint32_t FirstTexel(unsigned texture) {
  const TextureSize size = SizeOf(texture);
  std::vector<uint32_t> texels(static_cast<size_t>(size.width) * size.height);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  return texels[0];
}

// Stdout to /dev/null around a call (reload lines by the thousand).
template <typename Fn>
void Quietly(Fn&& fn) {
  fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  fn();
  fflush(stdout);
  dup2(saved, 1);
  close(null);
  close(saved);
}

size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

// One window, one mount and one manual sound system for the whole suite:
// the globals of the show live once per process.
class DevEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    fs::remove_all(kFolder);
    fs::create_directories(kFolder);
    Write("prelude.glsl", kPrelude);
    Write("post.glsl", kBodyPrelude);
    Write("timing.dat", "event 0 0 0 0\nevent 1 100 0 0\n");
    Write(DEMO_MUSICNAME, Wav(44100, 0));
    ASSERT_EQ(GFX_InitVideo(EFFECTS_WIDTH, EFFECTS_HEIGHT, DEMO_TITLE, false), 0);
    test_util::capture_stdout([] {
      ASSERT_EQ(Dev_Start(kFolder.c_str()), 1);
      audiodriver_selectoutput(AUDIO_OUTPUT_MANUAL);
      Soundsystem_Init(AUDIO_DEVICE_RATE, 16, 2);
      Soundsystem_LoadSound(DEMO_MUSICNAME, &snd_demomusic);
      Soundsystem_PlayMusic(&snd_demomusic, 0);
      shader_post = LoadShader("post.glsl");
      InitTiming();
      LoadTiming(DEMO_TIMINGNAME);
    });
    ASSERT_TRUE(GFX_IsShader(shader_post));
  }
};
const testing::Environment* const kEnvironment = testing::AddGlobalTestEnvironment(new DevEnvironment);

TEST(DevShaders, ABodyGetsThePreludeAndAReloadReplacesTheProgramUnderItsId) {
  Write("post.glsl", kBodyPrelude);
  test_util::capture_stdout([] { Dev_Reload("post.glsl"); });
  const int id = shader_post;
  EXPECT_EQ(DrawnWith(id), 0x00FF00u) << "the prelude's colour";
  // The text kept for the program is the pack step's form of the body.
  EXPECT_STREQ(demoshader[numshaders - 1].source, ShaderHead_Pack(SHADERHEAD_VERSION, kPrelude, kBodyPrelude).c_str());

  const GLuint before = GFX_shader[id].program;
  Write("post.glsl", kBodyRed);
  const std::string out = test_util::capture_stdout([] { EXPECT_EQ(Dev_Reload("post.glsl"), 1); });
  EXPECT_NE(out.find("dev: reloaded shader post.glsl"), std::string::npos) << out;
  EXPECT_EQ(shader_post, id) << "the same id";
  EXPECT_NE(GFX_shader[id].program, before);
  EXPECT_FALSE(glIsProgram(before)) << "the old program is deleted";
  EXPECT_EQ(DrawnWith(id), 0xFF0000u);

  // A change to the prelude builds every body again.
  Write("prelude.glsl", "varying vec2 texCoord;\nconst vec3 DEVTEST = vec3(0.0, 0.0, 1.0);\n");
  Write("post.glsl", kBodyPrelude);
  test_util::capture_stdout([] { Dev_Reload("prelude.glsl"); });
  EXPECT_EQ(DrawnWith(id), 0x0000FFu);
  Write("prelude.glsl", kPrelude);

  // A text that begins with its own version line is compiled as it stands.
  Write("post.glsl", "#version 120\nvoid main() { gl_FragColor = vec4(1.0, 1.0, 0.0, 1.0); }\n");
  test_util::capture_stdout([] { Dev_Reload("post.glsl"); });
  EXPECT_EQ(DrawnWith(id), 0xFFFF00u);
}

TEST(DevShaders, ABrokenShaderKeepsTheOldProgramAndNamesTheFileAndLine) {
  Write("post.glsl", kBodyRed);
  test_util::capture_stdout([] { Dev_Reload("post.glsl"); });
  const GLuint good = GFX_shader[shader_post].program;
  Write("post.glsl", kBodyBroken);
  const std::string out = test_util::capture_stdout([] { Dev_Reload("post.glsl"); });
  EXPECT_EQ(GFX_shader[shader_post].program, good);
  EXPECT_TRUE(glIsProgram(good));
  EXPECT_EQ(DrawnWith(shader_post), 0xFF0000u) << "the picture stays";
  // The body's own line 3, through the head's #line numbering.
  EXPECT_NE(out.find("dev: post.glsl:3:"), std::string::npos) << out;
  EXPECT_NE(out.find("the old program stays"), std::string::npos) << out;
  EXPECT_EQ(std::string(dev_error).rfind("post.glsl:3:", 0), 0u) << dev_error;

  Write("post.glsl", kBodyRed);
  test_util::capture_stdout([] { Dev_Reload("post.glsl"); });
  EXPECT_STREQ(dev_error, "") << "a good compile clears the error";
}

TEST(DevShaders, TheHeadIsExactlyWhatThePackStepWrites) {
  const std::string prelude = test_util::read_file(fs::path(SPROX_SOURCE_DIR) / "content/prelude.glsl");
  for (const char* name : sprox_assets::kShaderFiles) {
    const std::string body = test_util::read_file(fs::path(SPROX_SOURCE_DIR) / "content/shaders" / name);
    const std::string packed = test_util::read_file(fs::path(SPROX_BINARY_DIR) / "gen/shaders" / name);
    EXPECT_FALSE(ShaderHead_BeginsWithVersion(body)) << name;
    EXPECT_TRUE(ShaderHead_BeginsWithVersion(packed)) << name;
    EXPECT_EQ(ShaderHead_Pack(SHADERHEAD_VERSION, prelude, body), packed) << name;
  }
  EXPECT_TRUE(ShaderHead_BeginsWithVersion("\n  \t# version 120\n"));
  EXPECT_FALSE(ShaderHead_BeginsWithVersion("#versions\n"));
  EXPECT_FALSE(ShaderHead_BeginsWithVersion("// a comment first\n#version 120\n"));
}

TEST(DevImages, AnImageIsReplacedUnderTheSameTextureNameAtAnySize) {
  Write("vintage8.png", Png(4, 4, 0xFF0000FFu));
  test_util::capture_stdout([] { Dev_Reload("vintage8.png"); });
  const unsigned texture = bmp_vintage.textureid;
  ASSERT_NE(texture, 0u);
  EXPECT_EQ(FirstTexel(texture), 0xFF0000FFu);  // bytes r, g, b, a: red

  // Larger: a new buffer; a copy made before still reads its own pixels.
  const s_bitmap copy = bmp_vintage;
  Write("vintage8.png", Png(16, 8, 0x00FF00FFu));
  const std::string out = test_util::capture_stdout([] { Dev_Reload("vintage8.png"); });
  EXPECT_NE(out.find("dev: reloaded image vintage8.png (16 x 8"), std::string::npos) << out;
  EXPECT_EQ(bmp_vintage.textureid, texture);
  EXPECT_EQ(SizeOf(texture).width, 16);
  EXPECT_EQ(SizeOf(texture).height, 8);
  EXPECT_EQ(FirstTexel(texture), 0xFF00FF00u);
  EXPECT_NE(bmp_vintage.pixels, copy.pixels);
  EXPECT_EQ(copy.pixels[15], 0xFF0000FFu) << "the copy's buffer is still alive";
  EXPECT_EQ(bmp_vintage.size, 16 * 8 * 4);

  // Smaller: written into the buffer it has.
  uint32_t* const buffer = bmp_vintage.pixels;
  Write("vintage8.png", Png(2, 2, 0x0000FFFFu));
  test_util::capture_stdout([] { Dev_Reload("vintage8.png"); });
  EXPECT_EQ(bmp_vintage.pixels, buffer);
  EXPECT_EQ(SizeOf(texture).width, 2);
  EXPECT_EQ(bmp_vintage.width, 2);
  EXPECT_EQ(FirstTexel(texture), 0xFFFF0000u);

  // A damaged file changes nothing.
  Write("vintage8.png", "not a png");
  const std::string bad = test_util::capture_stdout([] { Dev_Reload("vintage8.png"); });
  EXPECT_NE(bad.find("not reloaded"), std::string::npos) << bad;
  EXPECT_EQ(SizeOf(texture).width, 2);
  EXPECT_EQ(GFX_ReleaseRetiredBuffers(), 1);
}

// A saved picture larger than any texture may be is refused from its header
// with the reason on the reload's failure line, and the old picture stays.
TEST(DevImages, APictureLargerThanATextureIsRefusedAndTheOldOneStays) {
  Write("vintage8.png", Png(4, 4, 0xFF0000FFu));
  test_util::capture_stdout([] { Dev_Reload("vintage8.png"); });
  const unsigned texture = bmp_vintage.textureid;
  Write("vintage8.png", Png(GFX_MAX_IMAGE_SIDE + 1, 1, 0x00FF00FFu));
  const std::string out = test_util::capture_stdout([] { Dev_Reload("vintage8.png"); });
  EXPECT_NE(out.find("dev: image vintage8.png not reloaded (" + std::to_string(GFX_MAX_IMAGE_SIDE + 1) +
                     " x 1 pixels, larger than the " + std::to_string(GFX_MaxImageSide()) +
                     " pixels a side a texture takes here), the old picture stays"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("dev: reloaded image"), std::string::npos) << out;
  EXPECT_EQ(bmp_vintage.textureid, texture);
  EXPECT_EQ(bmp_vintage.width, 4);
  EXPECT_EQ(SizeOf(texture).width, 4);
  EXPECT_EQ(FirstTexel(texture), 0xFF0000FFu);
}

TEST(DevTiming, TheTableIsReadAgainAndTheMusicStaysWhereItIs) {
  for (int i = 0; i < 5; i++) fillnextbuffer();
  const uint64_t at = Soundsystem_GetSoundOffset(snd_demomusic);
  ASSERT_GT(at, 0u);
  Write("timing.dat", Timing(40, "state 0 0\nstate 1 4\n"));
  test_util::capture_stdout([] { Dev_Reload(DEMO_TIMINGNAME); });
  EXPECT_EQ(demo.numevents, 16);
  EXPECT_EQ(demo.event[1].time, 40);
  EXPECT_EQ(demo.event[0].numstates, 2);
  Write("timing.dat", Timing(60));
  test_util::capture_stdout([] { Dev_Reload(DEMO_TIMINGNAME); });
  EXPECT_EQ(demo.numevents, 16);
  EXPECT_EQ(demo.event[1].time, 60);
  EXPECT_EQ(demo.event[16].time, 0) << "the slot after the last event is vacant";
  EXPECT_EQ(demo.event[0].numstates, 0);
  EXPECT_EQ(Soundsystem_GetSoundOffset(snd_demomusic), at);
}

// A saved timing file the show cannot use would end the makers' mode or
// leave it without an end: refused with its reason, the table in force stays.
TEST(DevTiming, AFileTheShowCannotUseIsRefusedAndTheTableStays) {
  Write("timing.dat", Timing(40));
  test_util::capture_stdout([] { Dev_Reload(DEMO_TIMINGNAME); });
  ASSERT_EQ(demo.numevents, 16);
  std::string many;
  for (int e = 0; e < 10000; e++) many += "event " + std::to_string(e) + " " + std::to_string(e * 4) + " 0 0\n";
  std::string fifteen = Timing(40);
  fifteen.resize(fifteen.rfind("event 15 "));
  struct Case {
    const char* name;
    std::string timing;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"empty", "", "it gives no events"},
      {"garbage", std::string("\x89PNG\r\n\0\xff event\n\x01\x02", 17), "it gives no events"},
      {"no end mark", fifteen, "it has no end mark (event 15)"},
      {"end mark behind", Timing(0), "its end mark (event 15) at tick 0 is not after the tick in force"},
      {"10,000 events", many, "it has 10000 event lines, more than the 256 the table holds"},
      {"a skipped line", Timing(40) + "event 16 700 0 99\n", "line 17: transition index 99 is outside 0 to 63"},
  };
  for (const Case& c : cases) {
    Write("timing.dat", c.timing);
    const std::string out = test_util::capture_stdout([] { Dev_Reload(DEMO_TIMINGNAME); });
    EXPECT_NE(out.find(std::string("dev: timing.dat refused (") + c.reason), std::string::npos) << c.name << ": " << out;
    EXPECT_NE(out.find("the event table stays"), std::string::npos) << c.name;
    EXPECT_EQ(out.find("load timing"), std::string::npos) << c.name << ": read into the table";
    EXPECT_EQ(demo.numevents, 16) << c.name;
    EXPECT_EQ(demo.event[1].time, 40) << c.name;
  }
}

TEST(DevMusic, TheMusicIsSwappedAtItsPlaceClampedToTheNewLength) {
  Write(DEMO_MUSICNAME, Wav(44100, 0));
  test_util::capture_stdout([] { Dev_Reload(DEMO_MUSICNAME); });
  Soundsystem_PlayMusic(&snd_demomusic, 0);
  for (int i = 0; i < 4; i++) fillnextbuffer();
  const uint64_t at = Soundsystem_GetSoundOffset(snd_demomusic);
  ASSERT_EQ(at, 4u * 2048u);

  Write(DEMO_MUSICNAME, Wav(88200, 1000));
  const std::string out = test_util::capture_stdout([] { Dev_Reload(DEMO_MUSICNAME); });
  EXPECT_NE(out.find("dev: reloaded sprox8a.wav (88200 frames, at frame 8192)"), std::string::npos) << out;
  EXPECT_EQ(Soundsystem_GetSoundOffset(snd_demomusic), at);
  EXPECT_EQ(snd_demomusic.playing, 1);
  EXPECT_EQ(snd_demomusic.ismusic, 1u);
  EXPECT_EQ(static_cast<const int16_t*>(snd_demomusic.data)[0], 1000);
  ASSERT_EQ(soundsystem.numactive, 1);
  EXPECT_EQ(active_sounds[0], &snd_demomusic);
  fillnextbuffer();
  EXPECT_EQ(Soundsystem_GetSoundOffset(snd_demomusic), at + 2048) << "it plays on from there";

  // Shorter than the place: the last frame; a pause holds through the swap.
  Soundsystem_PauseSound(&snd_demomusic);
  Write(DEMO_MUSICNAME, Wav(1000, 0));
  test_util::capture_stdout([] { Dev_Reload(DEMO_MUSICNAME); });
  EXPECT_EQ(Soundsystem_GetSoundOffset(snd_demomusic), 999u);
  EXPECT_EQ(snd_demomusic.playing, 0);
  EXPECT_EQ(Soundsystem_GetPlaybackOffset(snd_demomusic), 999u);

  // No playable sound in the file: the old one stays.
  Write(DEMO_MUSICNAME, "RIFF");
  const std::string bad = test_util::capture_stdout([] { Dev_Reload(DEMO_MUSICNAME); });
  EXPECT_NE(bad.find("not reloaded"), std::string::npos) << bad;
  EXPECT_EQ(snd_demomusic.numsamples, 2000u);
}

// Each kind reloaded a thousand times: after a few rounds to settle, neither
// the C heap nor the counted memory of core/ grows.
TEST(DevLeaks, AThousandReloadsOfEachKindLeaveTheHeapWhereItWas) {
  Write("post.glsl", kBodyRed);
  Write("timing.dat", Timing(40, "state 0 0\n"));
  Write(DEMO_MUSICNAME, Wav(4410, 0));
  const std::string small = Png(8, 8, 0x112233FFu), large = Png(32, 16, 0x445566FFu);
  struct Kind {
    const char* name;
    int rounds;
  };
  const Kind kinds[] = {{"post.glsl", 1000}, {"vintage8.png", 1000}, {DEMO_TIMINGNAME, 1000}, {DEMO_MUSICNAME, 1000}};
  for (const Kind& kind : kinds) {
    const bool image = std::strcmp(kind.name, "vintage8.png") == 0;
    auto round = [&](int i) {
      if (image) Write("vintage8.png", i % 2 ? large : small);  // two sizes, so the buffer moves and returns
      Dev_Reload(kind.name);
    };
    size_t heap = 0;
    uint32_t counted = 0;
    Quietly([&] {
      for (int i = 0; i < 20; i++) round(i);
      heap = HeapInUse();
      counted = g_mem_in_use;
      for (int i = 0; i < kind.rounds; i++) round(i);
    });
    const long growth = static_cast<long>(HeapInUse()) - static_cast<long>(heap);
    EXPECT_LT(growth, 32 * 1024) << kind.name << ": the heap grew by " << growth << " bytes";
    EXPECT_EQ(g_mem_in_use, counted) << kind.name;
    std::printf("%s: %d reloads, heap %+ld bytes\n", kind.name, kind.rounds, growth);
  }
  // The first 32 x 16 picture outgrows every earlier size once; from then on
  // the two sizes share the larger buffer.
  EXPECT_EQ(GFX_ReleaseRetiredBuffers(), 1);
}

TEST(DevReadout, TheTitleIsFormattedWithoutAllocating) {
  if (!alloc_probe::kAvailable) GTEST_SKIP() << "no allocation probe in this build";
  showdebug = true;
  // The changes the tests above saved reach the watch too: one frame sees
  // them, one after the quiet time reloads them, before the count begins.
  Quietly([] {
    Dev_Frame();
    usleep(150000);
    Dev_Frame();
  });
  alloc_probe::Start();
  for (int i = 0; i < 30; i++) {
    Dev_Frame();
    usleep(20000);  // across two refreshes of the title
  }
  EXPECT_EQ(alloc_probe::Stop(), 0);
  showdebug = false;
}

}  // namespace
