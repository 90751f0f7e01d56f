// Tests of the show's shaders as the engine compiles them: the packed texts
// in the build's sprox.dat, each the version line, the palette, the prelude
// (content/prelude.glsl) and a body from content/shaders/:
//
//   - the pack step: every shader of the list is packed, the prelude is no
//     file of its own, every text is the version line, palette and prelude
//     in front of the body unchanged, the palette's literals are its image
//     colours rounded, the beat and bar lengths are the music's, compiler
//     messages name the lines of the body and of the prelude, and the tool
//     refuses what would not reach the show;
//   - the strict check: every text passes glslangValidator as a GLSL 1.20
//     fragment shader, starts with "#version 120", reads the vertex shader's
//     varying, and declares only uniforms of its pass's contract with the
//     contract's types (a wrong type or a sampler beyond the pass's units is
//     a uniform the pass never sets: the shader silently reads 0);
//   - Mesa: every text compiles with the real vertex shader, links and
//     validates with empty info logs, so start-up prints no log line;
//   - the transitions: through the real transition pass, at progress 0 the
//     composite is scene A bit for bit (the pass runs every frame, also when
//     no transition is under way), at progress 1 it is scene B (no jump at the
//     cut), and half-way it is neither.
//
// The GL cases run under Xvfb on the real window of the graphics layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "corefile/corefile.h"
#include "effects/assets.h"
#include "effects/effects.h"
#include "effects/palette.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"
#include "test_util.h"
#include "timeline/timeline.h"
#include "tools/musicgen/musicgen.h"
#include "effects/shaderhead.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

const fs::path kContent = fs::path(SPROX_SOURCE_DIR) / "content";
const fs::path kBodies = kContent / "shaders";
const fs::path kPrelude = kContent / "prelude.glsl";

std::string ReadText(const fs::path& path) { return test_util::read_file(path); }

// The build's resource image as the engine reads it: every file name in it,
// and the text of every shader of the show ("" where one is missing).
struct PackedImage {
  std::set<std::string> names;
  std::map<std::string, std::string> shaders;
};

const PackedImage& Packed() {
  static const PackedImage packed = [] {
    PackedImage image;
    test_util::capture_stdout([&] {
      if (!corefile_mountimage((std::string(SPROX_BINARY_DIR) + "/sprox.dat").c_str(), 0)) return;
      for (uint32_t i = 0; i < corefile_image.numfiles; ++i) image.names.insert(corefile_image.names[i]);
      for (const char* name : sprox_assets::kShaderFiles) {
        s_corefile file{};
        std::string& text = image.shaders[name];
        if (!corefile_open(name, &file, 0)) continue;
        text.resize(static_cast<size_t>(file.size));
        corefile_read(text.data(), 1, file.size, &file);
        corefile_close(&file);
      }
      corefile_closeimage();
    });
    return image;
  }();
  return packed;
}

const std::string& PackedText(const std::string& name) { return Packed().shaders.at(name); }

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
  static const Contract c = Samplers({{"time", "float"}, {"mode", "int"}, {"color", "vec3"},
                                      {"timingProgress", "float"}, {"sintime", "float"}, {"curvetime", "float"},
                                      {"blend", "float"}, {"custom", "float"}, {"resolution", "vec2"}},
                                     4);
  return c;
}
const Contract& PostContract() {
  static const Contract c = Samplers({{"time", "float"}, {"mode", "int"}, {"state", "int"}, {"logostate", "int"},
                                      {"logofade", "float"}, {"blur", "float"}, {"resolution", "vec2"}},
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
  for (const auto& [name, text] : Packed().shaders) {
    const std::string file = "strict_" + name;  // glslangValidator reads a file
    test_util::write_file(file, text);
    const int status = RunCommand("glslangValidator -S frag '" + file + "'", &output);
    EXPECT_EQ(status, 0) << name << ":\n" << output;
  }
}

// The same texts as the browser compiles them (GLSL ES 1.00, WebGL 1): the
// pack step's head with ShaderHead_ES's version and precision lines, checked
// under ES 1.00's Appendix A limits (constant loop bounds and steps, no
// while loops, indexing by constants and loop indices only).
const fs::path kEsLimits = fs::path(SPROX_SOURCE_DIR) / "tests" / "glsl_es100.conf";

int RunGlslangES(const std::string& file, const std::string& text, std::string* output) {
  test_util::write_file(file, text);
  return RunCommand("glslangValidator '" + file + "' '" + kEsLimits.string() + "'", output);
}

TEST(ShadersStrict, EveryShaderPassesGlslangAsES100) {
  for (const auto& [name, text] : Packed().shaders) {
    const std::string es = ShaderHead_ES(text);
    EXPECT_EQ(es.rfind(std::string(SHADERHEAD_ES_VERSION) + "\n#line 0 2\n", 0), 0u) << name;
    // Only the head changes, and the line naming the uniforms to fold
    // on is left empty: WebGL's compiler warns about pragmas it does not know.
    std::string body = text.substr(text.find("#line"));
    const size_t pragma = body.find("#pragma fold(");
    if (pragma != std::string::npos) body.erase(pragma, body.find('\n', pragma) - pragma);
    EXPECT_EQ(es.substr(es.find("#line")), body) << name << ": only the head and the pragma may change";
    EXPECT_EQ(std::count(es.begin(), es.end(), '\n') - std::count(text.begin(), text.end(), '\n'),
              std::count(SHADERHEAD_ES_VERSION, SHADERHEAD_ES_VERSION + std::strlen(SHADERHEAD_ES_VERSION), '\n'))
        << name << ": every line keeps its number";
    std::string output;
    EXPECT_EQ(RunGlslangES("strict_es_" + name + ".frag", es, &output), 0) << name << ":\n" << output;
  }
}

// What desktop GLSL 1.20 takes and WebGL refuses: each body is refused in the
// ES form, so the limits file really holds the check above to ES's rules.
TEST(ShadersStrict, TheES100CheckRefusesWhatWebGLRefuses) {
  const std::string head = "#version 120\n#line 0 0\nuniform float time;\nvoid main() {\n";
  const std::string tail = "  gl_FragColor = vec4(x);\n}\n";
  std::string output;
  ASSERT_EQ(RunGlslangES("es_good.frag", ShaderHead_ES(head + "  float x = 0.0;\n  for (int k = 0; k < 3; k++) x += time;\n" + tail), &output), 0) << output;
  const char* refused[] = {
      "  float x = 0.0;\n  int n = int(time);\n  for (int k = 0; k < n; k++) x += 1.0;\n",  // bound not constant
      "  float x = 0.0;\n  for (int k = 0; k < 3; ++k) x += 1.0;\n",                        // step not k++
      "  float x = 0.0;\n  while (x < time) x += 1.0;\n",                                      // while loop
      "  float x = 1;\n",                                                                       // int to float
      "  float x = time;\n  float a[3];\n  a[int(time)] = 1.0;\n  x = a[0];\n",              // index by a variable
  };
  for (const char* body : refused) {
    EXPECT_NE(RunGlslangES("es_refused.frag", ShaderHead_ES(head + body + tail), &output), 0) << body;
  }
}

TEST(ShadersStrict, EveryShaderIsVersion120AndReadsTexCoord) {
  for (const auto& [name, text] : Packed().shaders) {
    EXPECT_EQ(text.rfind("#version 120\n", 0), 0u) << name << " must start with #version 120";
    const std::string code = StripComments(text);
    EXPECT_TRUE(std::regex_search(code, std::regex(R"(\bvarying\s+vec2\s+texCoord\s*;)")))
        << name << " does not declare the varying texCoord";
    EXPECT_FALSE(std::regex_search(code, std::regex(R"(\btexture\s*\()")))
        << name << " calls texture(), which GLSL 1.20 lacks";
  }
}

TEST(ShadersStrict, UniformsAreThoseOfTheirPassWithTheirTypes) {
  for (const auto& [name, text] : Packed().shaders) {
    const Contract& contract = ContractFor(name);
    std::set<std::string> seen;
    for (const auto& [uniform, type] : DeclaredUniforms(text)) {
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

// ---- The pack step ----------------------------------------------------------------

// Runs the pack step's tool on a folder of bodies; returns its exit status.
int RunShaderPack(const fs::path& prelude, const fs::path& bodies, const fs::path& out, std::string* output,
                  const std::string& version = "#version 120") {
  return RunCommand(std::string(SPROX_SHADERPACK) + " --version '" + version + "' --prelude '" + prelude.string() +
                        "' --bodies '" + bodies.string() + "' --out '" + out.string() + "'",
                    output);
}

// A scratch copy of the show's bodies, to pack with changes.
fs::path CopyBodies(const fs::path& folder) {
  fs::remove_all(folder);
  fs::create_directories(folder);
  for (const char* name : sprox_assets::kShaderFiles) fs::copy_file(kBodies / name, folder / name);
  return folder;
}

TEST(ShadersPack, TheImageHoldsTheListedShadersAndNoPrelude) {
  ASSERT_FALSE(Packed().names.empty()) << "no resource image in " << SPROX_BINARY_DIR;
  std::set<std::string> packed_glsl;
  for (const std::string& name : Packed().names) {
    EXPECT_EQ(name.find("prelude"), std::string::npos) << "the prelude is packed as a file of its own: " << name;
    if (fs::path(name).extension() == ".glsl") packed_glsl.insert(name);
  }
  const std::set<std::string> listed(std::begin(sprox_assets::kShaderFiles), std::end(sprox_assets::kShaderFiles));
  EXPECT_EQ(packed_glsl, listed);
  for (const std::string& name : listed) EXPECT_TRUE(fs::exists(kBodies / name)) << name << " has no body";
}

// Every text: the version line, then only palette constants and #line
// directives, the prelude, one #line directive and the body unchanged; the
// same head in front of every body.
TEST(ShadersPack, EveryTextIsTheVersionLinePaletteAndPreludeThenItsBody) {
  const std::string prelude = ReadText(kPrelude);
  ASSERT_FALSE(prelude.empty());
  static const std::regex head_line(
      R"(#version 120|#line \d+ \d+|const vec3 [A-Z0-9_]+ = vec3\([-0-9., ]+\);|const vec2 PICTURE = vec2\([0-9., ]+\);|)"
      R"(const float [A-Z_]+ = [0-9.]+;)");
  std::string common_head;
  for (const char* name : sprox_assets::kShaderFiles) {
    const std::string& text = PackedText(name);
    std::string body = ReadText(kBodies / name);
    if (!body.empty() && body.back() != '\n') body += '\n';
    ASSERT_GT(text.size(), body.size()) << name;
    EXPECT_EQ(text.rfind("#version 120\n", 0), 0u) << name;
    const size_t at = text.find(prelude);
    ASSERT_NE(at, std::string::npos) << name << " lacks the prelude";
    ASSERT_LE(at + prelude.size(), text.size() - body.size()) << name << ": the prelude is not in front of the body";
    EXPECT_EQ(text.compare(text.size() - body.size(), body.size(), body), 0) << name << " does not end with its body";

    std::istringstream before(text.substr(0, at));
    for (std::string line; std::getline(before, line);)
      EXPECT_TRUE(std::regex_match(line, head_line)) << name << ": \"" << line << "\" in front of the prelude";
    const std::string gap = text.substr(at + prelude.size(), text.size() - body.size() - at - prelude.size());
    EXPECT_TRUE(std::regex_match(gap, std::regex("\n?#line \\d+ 0\n"))) << name << ": \"" << gap << "\"";

    const std::string head = text.substr(0, text.size() - body.size());
    const std::string picture = "const vec2 PICTURE = vec2(" + std::to_string(EFFECTS_WIDTH) + ".0, " +
                                std::to_string(EFFECTS_HEIGHT) + ".0);\n";
    EXPECT_NE(head.find(picture), std::string::npos) << name << ": PICTURE is not the show's picture size";
    if (common_head.empty()) common_head = head;
    EXPECT_EQ(head, common_head) << name << " has a head of its own";
  }
}

// Each shader literal is its image colour (hex / 255) rounded to the places
// it is written with, so a picture and a scene in the same colour agree; a
// _2DP row is the colour of its row without the suffix.
TEST(ShadersPack, PaletteLiteralsAreTheImageColoursRounded) {
  struct Row {
    std::string name;
    uint32_t rgb;
    std::string glsl;
  };
#define SHADERS_TEST_ROW(name, rgb, glsl) {#name, rgb, glsl},
  const std::vector<Row> rows = {SPROX_PALETTE(SHADERS_TEST_ROW)};
#undef SHADERS_TEST_ROW
  const std::string& text = PackedText(sprox_assets::kShaderFiles[0]);
  for (const Row& row : rows) {
    std::stringstream channels(row.glsl);
    std::string channel;
    int k = 0;
    for (; std::getline(channels, channel, ','); k++) {
      const size_t point = channel.find('.');
      ASSERT_NE(point, std::string::npos) << row.name << ": \"" << channel << "\" is no float literal";
      const int places = static_cast<int>(channel.size() - point - 1);
      const double exact = ((row.rgb >> (16 - 8 * k)) & 0xFF) / 255.0;
      EXPECT_LE(std::abs(std::stod(channel) - exact), 0.5 * std::pow(10.0, -places) + 1e-12)
          << row.name << " channel " << k << ": " << channel << " for " << exact;
    }
    EXPECT_EQ(k, 3) << row.name;
    EXPECT_NE(text.find("const vec3 " + row.name + " = vec3(" + row.glsl + ");"), std::string::npos) << row.name;
    const size_t suffix = row.name.rfind("_2DP");
    if (suffix != std::string::npos) {
      auto base = std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return r.name == row.name.substr(0, suffix); });
      ASSERT_NE(base, rows.end()) << row.name;
      EXPECT_EQ(row.rgb, base->rgb) << row.name;
    }
  }
}

// The show's facts in the head are the engine's, to the last bit of a float:
// the shaders count beats and bars in "statetime" units, which the engine
// advances EFFECTS_STATETIME_SCALE a tick, and the music's beat and bar are
// musicgen's; the full-screen cards are the picture's shape.
TEST(ShadersPack, TheHeadsConstantsAreTheEnginesFloats) {
  const std::string& text = PackedText(sprox_assets::kShaderFiles[0]);
  const struct {
    const char* name;
    float value;
  } constants[] = {
      {"BEAT", MG_TICKS_PER_BEAT * EFFECTS_STATETIME_SCALE},
      {"BAR", MG_TICKS_PER_BAR * EFFECTS_STATETIME_SCALE},
      {"PICTURE_ASPECT", static_cast<float>(EFFECTS_WIDTH) / static_cast<float>(EFFECTS_HEIGHT)},
  };
  for (const auto& c : constants) {
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text, m, std::regex(std::string("const float ") + c.name + R"( = ([0-9.]+);)")))
        << c.name;
    EXPECT_EQ(std::stof(m[1]), c.value) << c.name << " is written as " << m[1];
  }
}

TEST(ShadersPack, ToolRefusesWhatWouldNotReachTheShow) {
  const fs::path bodies = CopyBodies("refusals/bodies");
  const fs::path out = "refusals/out";
  std::string output;
  test_util::write_file(out / "dropped.glsl", "a shader the list no longer names");
  ASSERT_EQ(RunShaderPack(kPrelude, bodies, out, &output), 0) << output;
  EXPECT_FALSE(fs::exists(out / "dropped.glsl")) << "a dropped shader lingers in the output";
  EXPECT_EQ(ReadText(out / "post.glsl"), PackedText("post.glsl")) << "the image was not packed by the tool";

  test_util::write_file(bodies / "post.glsl", "#version 120\n" + ReadText(kBodies / "post.glsl"));
  EXPECT_EQ(RunShaderPack(kPrelude, bodies, out, &output), 1);
  EXPECT_NE(output.find("post.glsl has a #version line"), std::string::npos) << output;
  fs::copy_file(kBodies / "post.glsl", bodies / "post.glsl", fs::copy_options::overwrite_existing);

  test_util::write_file(bodies / "fx_unlisted.glsl", "void main() {}\n");
  EXPECT_EQ(RunShaderPack(kPrelude, bodies, out, &output), 1);
  EXPECT_NE(output.find("fx_unlisted.glsl is not in the show's shader list"), std::string::npos) << output;
  fs::remove(bodies / "fx_unlisted.glsl");

  fs::remove(bodies / "fx_balls.glsl");
  EXPECT_EQ(RunShaderPack(kPrelude, bodies, out, &output), 1);
  EXPECT_NE(output.find("cannot read"), std::string::npos) << output;
}

// ---- Mesa --------------------------------------------------------------------------

// The info log of a shader or a program, read with the matching pair of GL calls.
template <typename GetIv, typename GetLog>
std::string InfoLog(GLuint object, GetIv get_iv, GetLog get_log) {
  GLint length = 0;
  get_iv(object, GL_INFO_LOG_LENGTH, &length);
  std::string log(static_cast<size_t>(std::max(length, 1)), '\0');
  GLsizei written = 0;
  get_log(object, static_cast<GLsizei>(log.size()), &written, log.data());
  log.resize(static_cast<size_t>(written));
  return log;
}
std::string ShaderLog(GLuint shader) { return InfoLog(shader, glGetShaderiv, glGetShaderInfoLog); }
std::string ProgramLog(GLuint program) { return InfoLog(program, glGetProgramiv, glGetProgramInfoLog); }

class ShadersGL : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!GFX_window) GFX_InitVideo(kWidth, kHeight, "shaders_test", false);
  }
  void SetUp() override { ASSERT_NE(GFX_window, nullptr) << "no GL window (is there an X display?)"; }
};

TEST_F(ShadersGL, EveryShaderCompilesLinksAndValidatesWithEmptyLogs) {
  for (const auto& [name, text] : Packed().shaders) {
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

// A mistake in a body is reported at the body's own line, one in the prelude
// at the prelude's line (glslang also names the prelude's source string 1;
// Mesa prints string 0 for every part); from GLSL 3.30 on "#line" counts
// differently, and a version line of that kind gets directives to match.
TEST_F(ShadersGL, CompilerMessagesNameTheLinesOfTheBodyAndThePrelude) {
  const fs::path bodies = CopyBodies("lines/bodies");
  test_util::write_file(bodies / "post.glsl", "// line 1\n\nvoid main() {\n  gl_FragColor = vec4(nowhere);\n}\n");
  std::string prelude = ReadText(kPrelude);
  const int prelude_lines = static_cast<int>(std::count(prelude.begin(), prelude.end(), '\n'));
  test_util::write_file("lines/prelude.glsl", prelude + "float broken() { return elsewhere; }\n");
  const std::string broken_line = std::to_string(prelude_lines + 1);

  std::string output;
  ASSERT_EQ(RunShaderPack(kPrelude, bodies, "lines/good", &output), 0) << output;
  ASSERT_EQ(RunShaderPack("lines/prelude.glsl", kBodies, "lines/bad", &output), 0) << output;
  auto mesa_log = [](const std::string& text) {
    const char* src = text.c_str();
    GLuint fs = glCreateShader(GL_FRAGMENT_SHADER);
    glShaderSource(fs, 1, &src, nullptr);
    glCompileShader(fs);
    std::string log = ShaderLog(fs);
    glDeleteShader(fs);
    return log;
  };
  const std::string body_log = mesa_log(ReadText("lines/good/post.glsl"));
  EXPECT_NE(body_log.find("0:4("), std::string::npos) << body_log;
  EXPECT_NE(body_log.find("nowhere"), std::string::npos) << body_log;
  const std::string prelude_log = mesa_log(ReadText("lines/bad/fx_balls.glsl"));
  EXPECT_NE(prelude_log.find(":" + broken_line + "("), std::string::npos) << prelude_log;

  RunCommand("glslangValidator -S frag lines/good/post.glsl", &output);
  EXPECT_NE(output.find("0:4:"), std::string::npos) << output;
  RunCommand("glslangValidator -S frag lines/bad/fx_balls.glsl", &output);
  EXPECT_NE(output.find("1:" + broken_line + ":"), std::string::npos) << output;

  ASSERT_EQ(RunShaderPack(kPrelude, bodies, "lines/330", &output, "#version 330 compatibility"), 0) << output;
  EXPECT_EQ(ReadText("lines/330/post.glsl").rfind("#version 330 compatibility\n", 0), 0u);
  RunCommand("glslangValidator -S frag lines/330/post.glsl", &output);
  EXPECT_NE(output.find("0:4:"), std::string::npos) << output;
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

// The w x h pixels of the framebuffer drawn into, after the GL has finished;
// the window's framebuffer is bound again afterwards.
Pixels ReadTarget(int w, int h) {
  glFinish();
  Pixels out(static_cast<size_t>(w) * h * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  return out;
}

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
      const std::string& text = PackedText(kTransitions[k].file);
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
    return ReadTarget(kWidth, kHeight);
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

// Half way through its action each transition shows neither scene alone:
// for the sea that is at three quarters, since its pour takes the second
// half only; in its first half scene A still shows but for a few bubbles.
TEST_F(ShadersTransition, HalfWayIsNeitherScene) {
  const size_t pixels = static_cast<size_t>(kWidth) * kHeight;
  const float middle[kNumTransitions] = {0.5f, 0.75f, 0.5f, 0.5f, 0.5f};
  for (int k = 0; k < kNumTransitions; k++) {
    const Pixels out = Blend(k, middle[k], 12.0);
    EXPECT_GT(Mismatches(out, picture_a, 2, false), pixels / 10) << kTransitions[k].file << " still shows A";
    EXPECT_GT(Mismatches(out, picture_b, 2, false), pixels / 10) << kTransitions[k].file << " already shows B";
  }
  const Pixels before_pour = Blend(1, 0.4f, 12.0);
  EXPECT_LT(Mismatches(before_pour, picture_a, 2, false), pixels / 10) << "the sea hides scene A before its pour";
  EXPECT_GT(Mismatches(before_pour, picture_a, 2, false), 0u) << "no bubbles rise before the sea's pour";
}

// The flash is all white on the transition's last tick (progress 15/16), so
// that it peaks as the new event starts on the downbeat, and it is still
// building a beat before (progress 1/2), where scene A shows through.
TEST_F(ShadersTransition, FlashPeaksOnTheLastTick) {
  const size_t pixels = static_cast<size_t>(kWidth) * kHeight;
  const Pixels white(pixels * 4, 255);
  EXPECT_EQ(Mismatches(Blend(3, 15.0f / 16.0f, 12.0), white, 1, false), 0u);
  EXPECT_GT(Mismatches(Blend(3, 0.5f, 12.0), white, 1, false), pixels / 2);
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

// ---- Render size ---------------------------------------------------------------------

// Where the post pass's channel bug covers the picture when the pass renders
// into a w x h target: the bounding box of the pixels that change when the
// bug is switched on (event 2 shows it, event 3 does not; the same clock, so
// grain and dust are the same in both). Rows count from the bottom.
struct Box {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;  // inclusive pixel bounds
};
Box ChannelBugBox(int post, int picture, const s_bitmap& icon, int w, int h) {
  const int target = GFX_CreateFrameBuffer(w, h, 0);
  auto render = [&](int32_t event) {
    demo.currentevent = event;
    demo.nextevent = event + 1;
    glfwSetTime(21.5);
    GFX_SetFrameBuffer(target);
    ExecutePost(picture, post, bmp_none, bmp_none, icon, bmp_none);
    return ReadTarget(w, h);
  };
  const Pixels on = render(2), off = render(3);
  Box box;
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      const size_t i = (static_cast<size_t>(y) * w + x) * 4;
      if (std::abs(on[i] - off[i]) + std::abs(on[i + 1] - off[i + 1]) + std::abs(on[i + 2] - off[i + 2]) < 12) continue;
      box = Box{std::min(box.x0, x), std::min(box.y0, y), std::max(box.x1, x), std::max(box.y1, y)};
    }
  }
  return box;
}

// The post pass measures the channel bug in pixels of a 720-line picture: at
// any render size it covers the same share of the picture at the same place
// (a size in plain pixels would make it twice as big on a 640 x 360 target).
TEST_F(ShadersGL, PostChannelBugFollowsTheRenderSize) {
  const auto saved = std::make_unique<s_demo>(demo);
  demo.event[2].time = 0;
  demo.event[3].time = 1000;
  demo.event[4].time = 2000;
  demo.event[2].currentstate = demo.event[3].currentstate = 0;
  demo.tick = 100;  // well inside event 2: the bug is fully faded in
  demo.offset = demo.tick * TIMELINE_TICKLENGTH;

  const int post = GFX_InitShader(vv_default, PackedText("post.glsl").c_str());
  ASSERT_TRUE(GFX_IsShader(post));
  s_bitmap icon = {};
  GFX_CreateBitmap(16, 16, &icon);  // an opaque white bug: it shows over grey
  std::fill(icon.pixels, icon.pixels + icon.numpixels, 0xFFFFFFFFu);
  GFX_UpdateTexture(icon);
  const int picture = GFX_CreateFrameBuffer(kWidth, kHeight, 0);
  GFX_SetFrameBuffer(picture);
  glClearColor(0.4f, 0.4f, 0.4f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);

  const Box full = ChannelBugBox(post, picture, icon, 1280, 720);
  ASSERT_GE(full.x1, 0) << "the channel bug does not show";
  // About 118 pixels square, 34 from the top and right edges, at 1280 x 720.
  EXPECT_NEAR(full.x1 - full.x0 + 1, 118, 4);
  EXPECT_NEAR(full.y1 - full.y0 + 1, 118, 4);
  EXPECT_NEAR(1280 - 1 - full.x1, 34, 4);
  EXPECT_NEAR(720 - 1 - full.y1, 34, 4);
  for (const auto& [w, h] : {std::pair{640, 360}, std::pair{1920, 1080}, std::pair{960, 540}}) {
    const Box box = ChannelBugBox(post, picture, icon, w, h);
    const double k = h / 720.0;  // target pixels per 720-line pixel
    EXPECT_NEAR(box.x1 - box.x0 + 1, 118 * k, 4 * k + 1) << w << "x" << h;
    EXPECT_NEAR(box.y1 - box.y0 + 1, 118 * k, 4 * k + 1) << w << "x" << h;
    EXPECT_NEAR(w - 1 - box.x1, 34 * k, 4 * k + 1) << w << "x" << h;
    EXPECT_NEAR(h - 1 - box.y1, 34 * k, 4 * k + 1) << w << "x" << h;
  }
  GFX_DeleteBitmap(&icon);
  GFX_DeleteShader(post);
  demo = *saved;
}

// Draws one row of w pixels with the prelude (as post.glsl packs it) and
// the given main() over it, into a float target; returns the row's RGBA
// floats. texCoord.x runs over the row, (i + 0.5) / w at pixel i.
std::vector<float> DrawPreludeRow(const std::string& main_text, int w) {
  const std::string& packed = PackedText("post.glsl");
  const size_t body = packed.find("#line 0 0\n");
  if (body == std::string::npos) return {};
  const int shader = GFX_InitShader(vv_default, (packed.substr(0, body) + main_text).c_str());
  if (!GFX_IsShader(shader)) return {};
  GLuint texture = 0, framebuffer = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, w, 1, 0, GL_RGBA, GL_FLOAT, nullptr);
  glGenFramebuffersEXT(1, &framebuffer);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
  glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, texture, 0);
  glViewport(0, 0, w, 1);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, w, 0, 1, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  GFX_BindShader(shader);
  GFX_DrawQuad(0.0f, 0.0f, w, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f);
  GFX_UnbindShader();
  std::vector<float> got(4 * w);
  glReadPixels(0, 0, w, 1, GL_RGBA, GL_FLOAT, got.data());
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  glDeleteFramebuffersEXT(1, &framebuffer);
  glDeleteTextures(1, &texture);
  GFX_DeleteShader(shader);
  return got;
}

// The prelude's fast sine, cosine, atan and asin against the C library's,
// one column per argument, read back as floats: a broken coefficient or a
// fold into the wrong octant shows far outside the errors they promise.
TEST_F(ShadersGL, PreludeFastTrigonometryStaysWithinItsErrors) {
  constexpr int w = 1024;
  const std::vector<float> got = DrawPreludeRow(R"(
void main() {
  float u = texCoord.x;
  float x = (u - 0.5) * 40.0;              // -20 .. 20 radians
  float a = (u - 0.5) * 2.0 * PI * 0.999;  // round the circle, clear of the cut at pi
  float v = (u - 0.5) * 1.998;             // -0.999 .. 0.999
  gl_FragColor = vec4(fastSin(x), fastCos(x), fastAtan2(3.0 * sin(a), 3.0 * cos(a)), fastAsin(v));
}
)", w);
  ASSERT_EQ(got.size(), 4u * w);
  const char* const names[4] = {"fastSin", "fastCos", "fastAtan2", "fastAsin"};
  const double bounds[4] = {1.2e-3, 1.2e-3, 1e-3, 1e-4};
  double worst[4] = {0, 0, 0, 0};
  for (int i = 0; i < w; i++) {
    const double u = (i + 0.5) / w;
    const double x = (u - 0.5) * 40.0, a = (u - 0.5) * 2.0 * M_PI * 0.999, v = (u - 0.5) * 1.998;
    const double exact[4] = {std::sin(x), std::cos(x), a, std::asin(v)};
    for (int c = 0; c < 4; c++) worst[c] = std::max(worst[c], std::abs(got[4 * i + c] - exact[c]));
  }
  for (int c = 0; c < 4; c++) EXPECT_LT(worst[c], bounds[c]) << names[c];
}

// The loud events' beat envelope over a bar before the state and four bars
// of it: the kick hits beats 1 and 3 only, the clap beats 2 and 4, both are
// gone by mid-beat; before the state the camera is at rest, and every bar
// line brings a new framing that holds through its bar, on the other side.
TEST_F(ShadersGL, PreludeBeatEnvelopeFollowsTheBar) {
  constexpr int w = 4000;   // 5 bars: 800 pixels a bar, 200 a beat
  const std::vector<float> got = DrawPreludeRow(R"(
void main() {
  float st = (texCoord.x * 5.0 - 1.0) * BAR;
  vec4 cam = beatCamera(st, 0.0);
  gl_FragColor = vec4(kickHit(st), clapHit(st), cam.z, cam.x);
}
)", w);
  ASSERT_EQ(got.size(), 4u * w);
  auto at = [&](double bar, int channel) {  // bar: -1 .. 4, fractional
    const int i = std::clamp(static_cast<int>(std::floor((bar + 1.0) * 800.0)), 0, w - 1);
    return got[4 * i + channel];
  };
  for (double bar : {-0.9, -0.5, -0.05}) {
    EXPECT_EQ(at(bar, 0), 0.0f) << "kick before the state, bar " << bar;
    EXPECT_EQ(at(bar, 1), 0.0f) << "clap before the state, bar " << bar;
    EXPECT_NEAR(at(bar, 2), 1.0f, 1e-6) << "zoom before the state, bar " << bar;
    EXPECT_NEAR(at(bar, 3), 0.0f, 1e-6) << "offset before the state, bar " << bar;
  }
  for (int beat = 0; beat < 16; beat++) {
    const double on = beat / 4.0 + 0.002, mid = beat / 4.0 + 0.125;
    const bool strong = beat % 2 == 0;
    EXPECT_GT(at(on, strong ? 0 : 1), 0.9f) << "beat " << beat;
    EXPECT_LT(at(on, strong ? 1 : 0), 0.01f) << "beat " << beat;
    EXPECT_LT(at(mid, 0), 0.05f) << "mid-beat " << beat;
    EXPECT_LT(at(mid, 1), 0.05f) << "mid-beat " << beat;
    // (on beat 3 of a bar: on beat 1 the bar's new framing is still snapping in)
    if (beat % 4 == 2) {
      EXPECT_GT(at(on, 2), at(mid, 2) * 1.05f) << "no zoom punch on beat " << beat;
    }
  }
  for (int bar = 1; bar < 4; bar++) {
    const float early = at(bar + 0.3, 3), late = at(bar + 0.95, 3), before = at(bar - 0.05, 3);
    EXPECT_NEAR(early, late, 1e-5) << "the framing of bar " << bar << " moves inside it";
    EXPECT_GT(std::abs(early - before), 0.01f) << "bar " << bar << " keeps the framing of the bar before";
    if (bar >= 2) {
      EXPECT_LT(early * before, 0.0f) << "bar " << bar << " is framed on the side of the bar before";
    }
  }
}

}  // namespace
