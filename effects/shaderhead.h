// effects/shaderhead.h: the head the pack step puts in front of every shader
// body, in one place for the pack tool (tools/shaderpack) and for the engine's
// development mode, which compiles bodies straight from the source tree. A
// body becomes the text the show compiles as
//
//   the version line            (SHADERHEAD_VERSION, gfx/shadertext.h)
//   #line 0 2, the show's facts (the picture's size and aspect, the beat and
//                                the bar in statetime units, and the palette
//                                of effects/palette.h, as GLSL constants)
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

#include "gfx/shadertext.h"

// The text with a final newline, so that a directive after it starts a line.
std::string ShaderHead_Terminated(std::string text);
// The show's facts as GLSL constants: PICTURE and PICTURE_ASPECT (the picture
// size the scenes and images are made for, pixels, and its width / height),
// BEAT and BAR (statetime units), then the palette.
std::string ShaderHead_Constants();
// The head: version line, the show's facts and prelude, each numbered apart,
// ending in the directive that numbers the body's first line 1 in source string 0.
std::string ShaderHead_Head(const std::string& version, const std::string& prelude);
// The whole text of one shader as the show compiles it: head and body.
std::string ShaderHead_Pack(const std::string& version, const std::string& prelude, const std::string& body);
