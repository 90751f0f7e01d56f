// gfx/shadertext.cpp: a shader text's version line and its WebGL form (see
// shadertext.h).
//
// Threads: any; nothing here keeps state.
#include "gfx/shadertext.h"

#include <cctype>

// ---- Public functions ------------------------------------------------------------------
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
