// Tests of the show's shader files in content/shaders/, all of them:
//
//   - the strict check: every file passes glslangValidator as a GLSL 1.20
//     fragment shader, starts with "#version 120", reads the vertex shader's
//     varying, and declares only uniforms of its pass's contract with the
//     contract's types (a wrong type or a sampler beyond the pass's units is
//     a uniform the pass never sets: the shader silently reads 0);
//   - Mesa: every file compiles with the real vertex shader, links and
//     validates with empty info logs, so start-up prints no log line;
//   - the transitions: through the real transition pass, at progress 0 the
//     composite is scene A bit for bit (the pass runs every frame, also when
//     no transition is under way), at progress 1 it is scene B (no jump at the
//     cut), and half-way it is neither.
//
// The GL cases run under Xvfb on the real window of the graphics layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "effects/effects.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"
#include "timeline/timeline.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

// The shader files the asset tables load.
const char* const kShowShaders[EFFECTS_NUM_SHADER_FILES] = {
    "post.glsl",          "fx_empty.glsl",           "fx_intro.glsl",       "fx_bubbles2.glsl",
    "fx_twister.glsl",    "fx_heart.glsl",           "fx_credits.glsl",     "fx_greetings2.glsl",
    "fx_balls.glsl",      "fx_straw3.glsl",          "fx_fruits.glsl",      "fx_icecube.glsl",
    "fx_break.glsl",      "transition_dissolve.glsl", "transition_sea.glsl", "transition_bars2.glsl",
    "transition_flash.glsl"};

fs::path ShaderFolder() { return fs::path(SPROX_SOURCE_DIR) / "content" / "shaders"; }

std::vector<fs::path> AllShaderFiles() {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(ShaderFolder()))
    if (entry.is_regular_file() && entry.path().extension() == ".glsl") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a command; returns its exit status and fills `output` with what it printed.
int RunCommand(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) *output += buffer;
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---- The uniform contract -------------------------------------------------------

using Contract = std::map<std::string, std::string>;  // uniform name -> GLSL type

Contract Samplers(Contract c, int count) {
  for (int k = 0; k < count; k++) c["texture" + std::to_string(k)] = "sampler2D";
  return c;
}

const Contract& SceneContract() {
  static const Contract c = Samplers(
      {{"time", "float"}, {"event", "int"}, {"state", "int"}, {"statetime", "float"}, {"resolution", "vec2"}},
      EFFECTS_SCENE_SLOTS);
  return c;
}
// The 19-image pass sets no "event".
const Contract& Scene2Contract() {
  static const Contract c =
      Samplers({{"time", "float"}, {"state", "int"}, {"statetime", "float"}, {"resolution", "vec2"}},
               EFFECTS_SCENE2_SLOTS);
  return c;
}
const Contract& TransitionContract() {
  static const Contract c = Samplers({{"time", "float"},
                                      {"mode", "int"},
                                      {"color", "vec3"},
                                      {"timingProgress", "float"},
                                      {"sintime", "float"},
                                      {"curvetime", "float"},
                                      {"blend", "float"},
                                      {"custom", "float"},
                                      {"resolution", "vec2"}},
                                     4);
  return c;
}
const Contract& PostContract() {
  static const Contract c = Samplers({{"time", "float"},
                                      {"mode", "int"},
                                      {"state", "int"},
                                      {"logostate", "int"},
                                      {"logofade", "float"},
                                      {"blur", "float"},
                                      {"resolution", "vec2"}},
                                     1 + EFFECTS_POST_IMAGES);
  return c;
}

// The contract a file's pass gives it, by its name.
const Contract& ContractFor(const std::string& name) {
  if (name == "post.glsl") return PostContract();
  if (name.rfind("transition_", 0) == 0) return TransitionContract();
  if (name == "fx_greetings2.glsl") return Scene2Contract();  // event 8's 19-image pass
  return SceneContract();
}

// The text without comments, so that commented-out lines do not count.
std::string StripComments(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "//") == 0) {
      while (i < text.size() && text[i] != '\n') i++;
    } else if (text.compare(i, 2, "/*") == 0) {
      size_t end = text.find("*/", i + 2);
      i = end == std::string::npos ? text.size() : end + 2;
      out += ' ';
    } else {
      out += text[i++];
    }
  }
  return out;
}

// Every uniform declaration: name -> type; "uniform T a, b;" declares two.
std::vector<std::pair<std::string, std::string>> DeclaredUniforms(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> found;
  const std::string code = StripComments(text);
  static const std::regex decl(R"(\buniform\s+(?:(?:lowp|mediump|highp)\s+)?(\w+)\s+([^;]+);)");
  for (auto it = std::sregex_iterator(code.begin(), code.end(), decl); it != std::sregex_iterator(); ++it) {
    const std::string type = (*it)[1];
    std::stringstream names((*it)[2].str());
    std::string name;
    while (std::getline(names, name, ',')) {
      name.erase(std::remove_if(name.begin(), name.end(), ::isspace), name.end());
      found.push_back({name, type});
    }
  }
  return found;
}

// ---- The strict check ------------------------------------------------------------

TEST(ShadersStrict, EveryShaderOfTheShowIsInTheFolder) {
  for (const char* name : kShowShaders) EXPECT_TRUE(fs::exists(ShaderFolder() / name)) << name;
}

TEST(ShadersStrict, ParserReadsUniformListsAndSkipsComments) {
  const auto found = DeclaredUniforms(
      "// uniform float ghost;\nuniform sampler2D texture0, texture1;\n/* uniform int gone; */\n"
      "uniform  vec2 resolution ;\n");
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0], (std::pair<std::string, std::string>{"texture0", "sampler2D"}));
  EXPECT_EQ(found[1], (std::pair<std::string, std::string>{"texture1", "sampler2D"}));
  EXPECT_EQ(found[2], (std::pair<std::string, std::string>{"resolution", "vec2"}));
}

TEST(ShadersStrict, EveryShaderPassesGlslang) {
  std::string output;
  ASSERT_EQ(RunCommand("glslangValidator --version", &output), 0) << "glslangValidator is missing: " << output;
  const auto files = AllShaderFiles();
  ASSERT_GE(files.size(), static_cast<size_t>(EFFECTS_NUM_SHADER_FILES));
  for (const fs::path& file : files) {
    const int status = RunCommand("glslangValidator -S frag '" + file.string() + "'", &output);
    EXPECT_EQ(status, 0) << file.filename() << ":\n" << output;
  }
}

TEST(ShadersStrict, EveryShaderIsVersion120AndReadsTexCoord) {
  for (const fs::path& file : AllShaderFiles()) {
    const std::string text = ReadText(file);
    EXPECT_EQ(text.rfind("#version 120\n", 0), 0u) << file.filename() << " must start with #version 120";
    const std::string code = StripComments(text);
    EXPECT_TRUE(std::regex_search(code, std::regex(R"(\bvarying\s+vec2\s+texCoord\s*;)")))
        << file.filename() << " does not declare the varying texCoord";
    EXPECT_FALSE(std::regex_search(code, std::regex(R"(\btexture\s*\()")))
        << file.filename() << " calls texture(), which GLSL 1.20 lacks";
  }
}

TEST(ShadersStrict, UniformsAreThoseOfTheirPassWithTheirTypes) {
  for (const fs::path& file : AllShaderFiles()) {
    const std::string name = file.filename().string();
    const Contract& contract = ContractFor(name);
    std::set<std::string> seen;
    for (const auto& [uniform, type] : DeclaredUniforms(ReadText(file))) {
      EXPECT_TRUE(seen.insert(uniform).second) << name << " declares \"" << uniform << "\" twice";
      auto it = contract.find(uniform);
      if (it == contract.end()) {
        ADD_FAILURE() << name << " declares \"" << uniform << "\", which its pass never sets";
      } else {
        EXPECT_EQ(type, it->second) << name << ": \"" << uniform << "\" has the wrong type";
      }
    }
  }
}

// ---- Mesa --------------------------------------------------------------------------

std::string ShaderLog(GLuint shader) {
  GLint length = 0;
  glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
  std::string log(static_cast<size_t>(std::max(length, 1)), '\0');
  GLsizei written = 0;
  glGetShaderInfoLog(shader, static_cast<GLsizei>(log.size()), &written, log.data());
  log.resize(static_cast<size_t>(written));
  return log;
}

std::string ProgramLog(GLuint program) {
  GLint length = 0;
  glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
  std::string log(static_cast<size_t>(std::max(length, 1)), '\0');
  GLsizei written = 0;
  glGetProgramInfoLog(program, static_cast<GLsizei>(log.size()), &written, log.data());
  log.resize(static_cast<size_t>(written));
  return log;
}

class ShadersGL : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!GFX_window) GFX_InitVideo(kWidth, kHeight, "shaders_test", false);
  }
  void SetUp() override { ASSERT_NE(GFX_window, nullptr) << "no GL window (is there an X display?)"; }
};

TEST_F(ShadersGL, EveryShaderCompilesLinksAndValidatesWithEmptyLogs) {
  for (const fs::path& file : AllShaderFiles()) {
    const std::string name = file.filename().string();
    const std::string text = ReadText(file);
    const char* vsrc = vv_default;
    const char* fsrc = text.c_str();
    GLuint vs = glCreateShader(GL_VERTEX_SHADER);
    GLuint fs = glCreateShader(GL_FRAGMENT_SHADER);
    glShaderSource(vs, 1, &vsrc, nullptr);
    glShaderSource(fs, 1, &fsrc, nullptr);
    glCompileShader(vs);
    glCompileShader(fs);
    GLint ok = 0;
    glGetShaderiv(fs, GL_COMPILE_STATUS, &ok);
    EXPECT_EQ(ok, GL_TRUE) << name << " does not compile";
    EXPECT_EQ(ShaderLog(vs), "") << name << ": vertex log";
    EXPECT_EQ(ShaderLog(fs), "") << name << ": fragment log";

    GLuint program = glCreateProgram();
    glAttachShader(program, fs);
    glAttachShader(program, vs);
    glLinkProgram(program);
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    EXPECT_EQ(ok, GL_TRUE) << name << " does not link";
    EXPECT_EQ(ProgramLog(program), "") << name << ": link log";
    glValidateProgram(program);
    glGetProgramiv(program, GL_VALIDATE_STATUS, &ok);
    EXPECT_EQ(ok, GL_TRUE) << name << " does not validate: " << ProgramLog(program);

    glDetachShader(program, fs);
    glDetachShader(program, vs);
    glDeleteShader(fs);
    glDeleteShader(vs);
    glDeleteProgram(program);
  }
}

// ---- Transitions through the real pass ----------------------------------------------

// The five transitions as start-up registers them: file, length, mode.
struct TransitionRow {
  const char* file;
  int32_t length;
  int32_t mode;
};
const TransitionRow kTransitions[] = {{"transition_dissolve.glsl", 32, 0},
                                      {"transition_sea.glsl", 64, 0},
                                      {"transition_bars2.glsl", 64, 0},
                                      {"transition_flash.glsl", 16, 0},
                                      {"transition_bars2.glsl", 32, 1}};
constexpr int kNumTransitions = 5;

using Pixels = std::vector<uint8_t>;  // RGBA, GL row order

class ShadersTransition : public ShadersGL {
 protected:
  static void SetUpTestSuite() {
    ShadersGL::SetUpTestSuite();
    if (!GFX_window) return;
    scene_a = GFX_CreateFrameBuffer(kWidth, kHeight, 0);
    scene_b = GFX_CreateFrameBuffer(kWidth, kHeight, 0);
    composite = GFX_CreateFrameBuffer(kWidth, kHeight, 0);
    // Noise pictures: any slip of a pixel, a flip or a blend shows.
    std::mt19937 rng(1234);
    picture_a.resize(static_cast<size_t>(kWidth) * kHeight * 4);
    picture_b.resize(picture_a.size());
    for (auto& v : picture_a) v = static_cast<uint8_t>(rng());
    for (auto& v : picture_b) v = static_cast<uint8_t>(rng());
    Upload(scene_a, picture_a);
    Upload(scene_b, picture_b);
    for (int k = 0; k < kNumTransitions; k++) {
      const std::string text = ReadText(ShaderFolder() / kTransitions[k].file);
      shader[k] = GFX_InitShader(vv_default, text.c_str());
    }
  }

  static void Upload(int framebuffer, const Pixels& pixels) {
    glBindTexture(GL_TEXTURE_2D, GFX_FrameBufferTexture(framebuffer));
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  }

  // The composite after the transition pass of transition k at progress p.
  static Pixels Blend(int k, float p, double clock) {
    demo.transition[k] = s_transition{shader[k], kTransitions[k].length, kTransitions[k].mode, 0.9f, 0.0f};
    demo.activetransition = k;
    demo.progress = p;
    glfwSetTime(clock);
    GFX_SetFrameBuffer(composite);
    ExecuteTransition(scene_a, scene_b, bmp_none);
    glFinish();
    Pixels out(static_cast<size_t>(kWidth) * kHeight * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    return out;
  }

  // Pixels whose colour differs by more than `tolerance` in a channel.
  static size_t Mismatches(const Pixels& x, const Pixels& y, int tolerance, bool alpha) {
    size_t count = 0;
    for (size_t i = 0; i < x.size(); i += 4) {
      bool differs = false;
      for (size_t c = 0; c < (alpha ? 4u : 3u); c++) differs |= std::abs(x[i + c] - y[i + c]) > tolerance;
      count += differs ? 1 : 0;
    }
    return count;
  }

  static int scene_a, scene_b, composite;
  static int shader[kNumTransitions];
  static Pixels picture_a, picture_b;
};
int ShadersTransition::scene_a = -1;
int ShadersTransition::scene_b = -1;
int ShadersTransition::composite = -1;
int ShadersTransition::shader[kNumTransitions] = {-1, -1, -1, -1, -1};
Pixels ShadersTransition::picture_a;
Pixels ShadersTransition::picture_b;

TEST_F(ShadersTransition, ProgressZeroIsSceneABitForBit) {
  for (int k = 0; k < kNumTransitions; k++) {
    ASSERT_TRUE(GFX_IsShader(shader[k])) << kTransitions[k].file;
    for (double clock : {0.0, 37.25, 400.5}) {
      const Pixels out = Blend(k, 0.0f, clock);
      EXPECT_EQ(Mismatches(out, picture_a, 0, true), 0u)
          << kTransitions[k].file << " mode " << kTransitions[k].mode << " at clock " << clock;
    }
  }
}

TEST_F(ShadersTransition, ProgressOneIsSceneB) {
  for (int k = 0; k < kNumTransitions; k++) {
    const Pixels out = Blend(k, 1.0f, 12.0);
    EXPECT_EQ(Mismatches(out, picture_b, 1, false), 0u) << kTransitions[k].file << " mode " << kTransitions[k].mode;
  }
}

TEST_F(ShadersTransition, HalfWayIsNeitherScene) {
  const size_t pixels = static_cast<size_t>(kWidth) * kHeight;
  for (int k = 0; k < kNumTransitions; k++) {
    const Pixels out = Blend(k, 0.5f, 12.0);
    EXPECT_GT(Mismatches(out, picture_a, 2, false), pixels / 10) << kTransitions[k].file << " still shows A";
    EXPECT_GT(Mismatches(out, picture_b, 2, false), pixels / 10) << kTransitions[k].file << " already shows B";
  }
}

// Between the ends the share of the screen that shows B only grows, so a
// wipe never jumps back (the flash, which shows neither scene at its peak,
// is left out).
TEST_F(ShadersTransition, SceneBSpreadsSteadily) {
  for (int k : {0, 1, 2, 4}) {
    size_t last = 0;
    for (int step = 1; step <= 15; step++) {
      const Pixels out = Blend(k, step / 16.0f, 12.0);
      const size_t shows_b = static_cast<size_t>(kWidth) * kHeight - Mismatches(out, picture_b, 1, false);
      EXPECT_GE(shows_b + static_cast<size_t>(kWidth) * 8, last)
          << kTransitions[k].file << " mode " << kTransitions[k].mode << " at step " << step;
      last = shows_b;
    }
  }
}

}  // namespace
