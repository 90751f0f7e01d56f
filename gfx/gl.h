// gfx/gl.h: the one place the graphics layer's sources get their GL and GLFW
// declarations from. GLEW must come before any other GL header, and GLFW must
// not pull in its own.
#pragma once

#include <GL/glew.h>
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
