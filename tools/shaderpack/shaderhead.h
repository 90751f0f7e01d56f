// shaderhead: the head the pack step puts in front of every shader body, in
// one place for the pack tool (tools/shaderpack) and for the engine's
// development mode, which compiles bodies straight from the source tree. A
// body becomes the text the show compiles as
//
//   the version line            ("#version 120" for the desktop build)
//   #line 0 2, the palette      (effects/palette.h as GLSL constants)
//   #line 0 1, the prelude      (content/prelude.glsl)
//   #line 0 0, the body
//
// The "#line" directives give each part its own source-string number and
// restart the count, so that a compiler message about the body names the
// body's own line (before GLSL 3.30 and ES 3.00 a directive's number is that
// of the directive's own line, after them that of the next).
//
// Threads: any; nothing here keeps state.
#pragma once

#include <string>

// The version line the build writes in front of every body (the build's
// SPROX_SHADER_VERSION, in a header the build writes).
#if __has_include("shaderhead_version.h")
#include "shaderhead_version.h"
#endif
#ifndef SPROX_SHADER_VERSION_LINE
#define SPROX_SHADER_VERSION_LINE "#version 120"
#endif
constexpr const char* SHADERHEAD_VERSION = SPROX_SHADER_VERSION_LINE;

// The text with a final newline, so that a directive after it starts a line.
std::string ShaderHead_Terminated(std::string text);
// The head: version line, palette and prelude, each numbered apart, ending
// in the directive that numbers the body's first line 1 in source string 0.
std::string ShaderHead_Head(const std::string& version, const std::string& prelude);
// The whole text of one shader as the show compiles it: head and body.
std::string ShaderHead_Pack(const std::string& version, const std::string& prelude, const std::string& body);
// True when the text's first directive, after blank space, is "#version":
// such a text is compiled as it stands.
bool ShaderHead_BeginsWithVersion(const std::string& text);
// The text as a GLSL ES 1.00 fragment shader (WebGL 1): a leading version
// line becomes SHADERHEAD_ES_VERSION, which ES needs before any float is
// declared; the "#line" directive after the version line keeps the
// numbering. A "#pragma fold(...)" line is left empty (its line kept):
// WebGL's compiler warns about a pragma it does not know, and the engine has
// read the line before. A text without a version line is returned as it is.
constexpr const char* SHADERHEAD_ES_VERSION = "#version 100\nprecision highp float;";
std::string ShaderHead_ES(const std::string& text);
