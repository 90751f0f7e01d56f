// gfx/shadertext.h: the version line of the GLSL texts the graphics layer
// compiles, written once here, and their WebGL 1 form.
//
// The desktop build compiles GLSL 1.20: the fixed vertex shader of the effect
// passes, the head that the pack step puts in front of every fragment body
// (effects/shaderhead.h), and the build's pack step (the top-level
// CMakeLists.txt reads SPROX_SHADER_VERSION_LINE from this file) all take the
// line from here. The browser build turns each fragment text into GLSL ES 1.00.
//
// Threads: any; nothing here keeps state.
#pragma once

#include <string>

// The line every shader text of the show begins with.
#define SPROX_SHADER_VERSION_LINE "#version 120"
constexpr const char* SHADERHEAD_VERSION = SPROX_SHADER_VERSION_LINE;

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
