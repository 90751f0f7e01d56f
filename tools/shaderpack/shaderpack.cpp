// shaderpack: writes the shaders as the show compiles them. Each shader of
// the show's list (SPROX_SHADERS in effects/assets.h) is its body from the
// source folder (content/shaders/NAME) behind the common head of
// effects/shaderhead.h (version line, the show's constants, prelude, numbered
// apart with #line), written to OUT/NAME, one text per shader under its own
// name, for the packer to store. The development mode of the engine puts the
// same head in front of the same bodies through the same library.
//
//   shaderpack --version LINE --prelude FILE --bodies DIR --out DIR
//
// Refused, with one line on stderr and exit status 1: a listed body that is
// missing, a body with a #version line of its own (the pack step writes it),
// and a .glsl file in DIR that the list does not name (it would never reach
// the show). A bad command line gets exit status 2, as in every program of
// the project. Files in OUT that the list does not name are removed, so that a
// dropped shader does not linger in the image.
//
// Threads: main thread only.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "core/core.h"
#include "effects/assets.h"
#include "effects/shaderhead.h"

namespace fs = std::filesystem;

namespace {

// ---- Constants ---------------------------------------------------------------------

constexpr const char* kProgram = "shaderpack";
// Every option takes a value and is needed.
constexpr int kNumOptions = 4;
const s_coreoptiondef kOptions[kNumOptions] = {{"version", true}, {"prelude", true}, {"bodies", true}, {"out", true}};

// ---- Internal functions ------------------------------------------------------------

bool ReadText(const fs::path& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

bool HasVersionLine(const std::string& body) {
  static const std::regex version(R"((^|\n)[ \t]*#[ \t]*version\b)");
  return std::regex_search(body, version);
}

int Fail(const std::string& message) {
  fprintf(stderr, "shaderpack: %s\n", message.c_str());
  return 1;
}

void Usage(FILE* to) {
  fprintf(to,
          "usage: shaderpack --version LINE --prelude FILE --bodies DIR --out DIR\n"
          "Writes OUT/NAME for every shader of the show: LINE, the palette, the\n"
          "prelude and DIR/NAME, numbered apart with #line.\n");
}

}  // namespace

// ---- Main ------------------------------------------------------------------------------

int main(int argc, char** argv) {
  std::string version, prelude_path, bodies, out;
  std::string* values[kNumOptions] = {&version, &prelude_path, &bodies, &out};
  // Every option is a path or a line, kept as given.
  const core_takeoption keep = [](void* context, int found, const char* value, char*, int) {
    *static_cast<std::string**>(context)[found] = value;
    return true;
  };
  const int answered = core_readcommandline(kProgram, argc, argv, kOptions, kNumOptions, false, Usage, keep, values);
  if (answered >= 0) return answered;
  char message[512];
  for (int k = 0; k < kNumOptions; ++k) {
    if (values[k]->empty()) {
      snprintf(message, sizeof(message), "--%s is needed", kOptions[k].name);
      return core_refuseoption(kProgram, message);
    }
  }

  std::string prelude;
  if (!ReadText(prelude_path, &prelude)) return Fail("cannot read the prelude " + prelude_path);

  const std::set<std::string> listed(std::begin(sprox_assets::kShaderFiles), std::end(sprox_assets::kShaderFiles));
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(bodies, error)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".glsl" && !listed.count(name))
      return Fail(entry.path().string() + " is not in the show's shader list (SPROX_SHADERS in effects/assets.h)");
  }
  if (error) return Fail("cannot list " + bodies + ": " + error.message());

  fs::create_directories(out, error);
  if (error) return Fail("cannot create " + out + ": " + error.message());
  std::vector<fs::path> stale;
  for (const auto& entry : fs::directory_iterator(out))
    if (!listed.count(entry.path().filename().string())) stale.push_back(entry.path());
  for (const fs::path& path : stale) fs::remove_all(path);

  for (const char* name : sprox_assets::kShaderFiles) {
    const fs::path source = fs::path(bodies) / name;
    std::string body;
    if (!ReadText(source, &body)) return Fail("cannot read " + source.string());
    if (HasVersionLine(body))
      return Fail(source.string() + " has a #version line; the pack step writes it in front of the prelude");
    const fs::path target = fs::path(out) / name;
    if (!WriteText(target, ShaderHead_Pack(version, prelude, body))) return Fail("cannot write " + target.string());
  }
  return 0;
}
