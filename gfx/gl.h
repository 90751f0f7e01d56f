// gfx/gl.h: the one place the graphics layer's sources get their GL and GLFW
// declarations from. GLEW must come before any other GL header, and GLFW must
// not pull in its own.
#pragma once

#include <GL/glew.h>
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#ifdef __EMSCRIPTEN__
// WebGL has framebuffer objects in its core; emscripten names the functions
// only so (the constants have the same values under both names).
#define glGenFramebuffersEXT glGenFramebuffers
#define glBindFramebufferEXT glBindFramebuffer
#define glFramebufferTexture2DEXT glFramebufferTexture2D
#define glCheckFramebufferStatusEXT glCheckFramebufferStatus
#define glDeleteFramebuffersEXT glDeleteFramebuffers
// Emscripten's GLFW is that of 3.2: the two later names the window uses.
// The page's full screen is the browser's own (web/index.html), so the
// window attribute has nothing to do there.
#ifndef GLFW_SCALE_TO_MONITOR
#define GLFW_SCALE_TO_MONITOR 0x0002200C
#endif
// WebGL 1 has timer queries only as an extension, under these names
// (GLEW_ARB_timer_query is false there, so the show never calls them).
extern "C" {
void glGenQueriesEXT(GLsizei count, GLuint* ids);
void glBeginQueryEXT(GLenum target, GLuint id);
void glEndQueryEXT(GLenum target);
void glGetQueryObjectivEXT(GLuint id, GLenum name, GLint* value);
}
#define glGenQueries glGenQueriesEXT
#define glBeginQuery glBeginQueryEXT
#define glEndQuery glEndQueryEXT
#define glGetQueryObjectiv glGetQueryObjectivEXT
#define glGetQueryObjectui64v glGetQueryObjectui64vEXT
inline void glfwSetWindowAttrib(GLFWwindow*, int, int) {}
#endif
