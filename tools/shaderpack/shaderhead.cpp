// shaderhead: the pack step's head in front of a shader body (see shaderhead.h).
#include "tools/shaderpack/shaderhead.h"

#include <cctype>
#include <regex>

#include "effects/assets.h"
#include "effects/palette.h"

// ---- Internal functions ------------------------------------------------------------
namespace {

// The number a "#line" directive gives the line after it: N + 1 before GLSL
// 3.30 and ES 3.00, N from then on. Returns the directive that numbers the
// next line 1 in source string `string`.
std::string LineDirective(const std::string& version, int string) {
  static const std::regex number(R"(#\s*version\s+(\d+)(\s+es)?)");
  std::smatch m;
  int base = 0;
  if (std::regex_search(version, m, number)) {
    const int v = std::stoi(m[1].str());
    const bool c_like = m[2].matched ? v >= 300 : v >= 330;
    base = c_like ? 1 : 0;
  }
  return "#line " + std::to_string(base) + " " + std::to_string(string) + "\n";
}

// The show's constants as GLSL: the picture size the scenes and images are
// made for (PICTURE, pixels), then the palette.
std::string PaletteConstants() {
  std::string glsl = "const vec2 PICTURE = vec2(" + std::to_string(EFFECTS_WIDTH) + ".0, " +
                     std::to_string(EFFECTS_HEIGHT) + ".0);\n";
#define SHADERHEAD_COLOUR(name, rgb, channels) glsl += "const vec3 " #name " = vec3(" channels ");\n";
  SPROX_PALETTE(SHADERHEAD_COLOUR)
#undef SHADERHEAD_COLOUR
  return glsl;
}

}  // namespace

// ---- Public functions ------------------------------------------------------------------
std::string ShaderHead_Terminated(std::string text) {
  if (!text.empty() && text.back() != '\n') text += '\n';
  return text;
}

std::string ShaderHead_Head(const std::string& version, const std::string& prelude) {
  return ShaderHead_Terminated(version) + LineDirective(version, 2) + PaletteConstants() +
         LineDirective(version, 1) + ShaderHead_Terminated(prelude) + LineDirective(version, 0);
}

std::string ShaderHead_Pack(const std::string& version, const std::string& prelude, const std::string& body) {
  return ShaderHead_Head(version, prelude) + ShaderHead_Terminated(body);
}

bool ShaderHead_BeginsWithVersion(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) i++;
  if (i >= text.size() || text[i] != '#') return false;
  i++;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) i++;
  return text.compare(i, 7, "version") == 0 &&
         (i + 7 == text.size() || !std::isalnum(static_cast<unsigned char>(text[i + 7])));
}

std::string ShaderHead_ES(const std::string& text) {
  if (!ShaderHead_BeginsWithVersion(text)) return text;
  const size_t start = text.find('#');
  const size_t end = text.find('\n', start);
  std::string es = text.substr(0, start) + SHADERHEAD_ES_VERSION + (end == std::string::npos ? "\n" : text.substr(end));
  for (size_t at = es.find("#pragma fold("); at != std::string::npos; at = es.find("#pragma fold(", at)) {
    const size_t eol = es.find('\n', at);
    es.erase(at, (eol == std::string::npos ? es.size() : eol) - at);
  }
  return es;
}
