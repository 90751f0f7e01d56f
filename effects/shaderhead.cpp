// effects/shaderhead.cpp: the pack step's head in front of a shader body (see
// shaderhead.h).
//
// Threads: any; nothing here keeps state.
#include "effects/shaderhead.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The shortest decimal that a GLSL compiler reads back as the same float,
// with a point, so that a constant written here is the value the engine uses.
std::string GlslFloat(float value) {
  char text[32];
  for (int digits = 1; digits <= 9; digits++) {
    snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
    if (strtof(text, nullptr) == value && !strchr(text, 'e')) break;
  }
  std::string glsl = text;
  if (glsl.find_first_of(".e") == std::string::npos) glsl += ".0";
  return glsl;
}

}  // namespace

// ---- Public functions ------------------------------------------------------------------
std::string ShaderHead_Constants() {
  std::string glsl = "const vec2 PICTURE = vec2(" + GlslFloat(EFFECTS_WIDTH) + ", " + GlslFloat(EFFECTS_HEIGHT) + ");\n";
  glsl += "const float PICTURE_ASPECT = " + GlslFloat(float(EFFECTS_WIDTH) / float(EFFECTS_HEIGHT)) + ";\n";
  glsl += "const float BEAT = " + GlslFloat(EFFECTS_BEAT_TICKS * EFFECTS_STATETIME_SCALE) + ";\n";
  glsl += "const float BAR = " + GlslFloat(EFFECTS_BAR_TICKS * EFFECTS_STATETIME_SCALE) + ";\n";
#define SHADERHEAD_COLOUR(name, rgb, channels) glsl += "const vec3 " #name " = vec3(" channels ");\n";
  SPROX_PALETTE(SHADERHEAD_COLOUR)
#undef SHADERHEAD_COLOUR
  return glsl;
}

std::string ShaderHead_Terminated(std::string text) {
  if (!text.empty() && text.back() != '\n') text += '\n';
  return text;
}

std::string ShaderHead_Head(const std::string& version, const std::string& prelude) {
  return ShaderHead_Terminated(version) + LineDirective(version, 2) + ShaderHead_Constants() +
         LineDirective(version, 1) + ShaderHead_Terminated(prelude) + LineDirective(version, 0);
}

std::string ShaderHead_Pack(const std::string& version, const std::string& prelude, const std::string& body) {
  return ShaderHead_Head(version, prelude) + ShaderHead_Terminated(body);
}
