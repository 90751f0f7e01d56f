// gfx/shader.cpp: shader programs made from a vertex and a fragment text,
// kept in a fixed table indexed by shader id, and uniforms set by name.
//
// A program that fails to compile or link is never refused: its logs are
// printed and its id handed out all the same (drawing with it shows nothing
// useful). Only a missing text or a full table gives -1. Uniform locations
// are looked up by name on every set; nothing is cached.
//
// Threads: main thread only (GL context).
#include "gfx/gfx.h"

#include <cstdio>

#include "gfx/gfx_internal.h"
#include "gfx/gl.h"

// ---- Constants ----------------------------------------------------------------------
namespace {
constexpr GLsizei kShaderLogBytes = 512;    // compiler log buffer, terminator included
constexpr GLsizei kProgramLogBytes = 2048;  // linker log buffer, terminator included
}  // namespace

// ---- Globals -------------------------------------------------------------------------
s_shader GFX_shader[GFX_MAX_SHADERS];
int GFX_numshaders = 0;
int GFX_postshader_id = 0;

// ---- Internal functions -----------------------------------------------------------------
namespace {

// Prints the compiler log of one stage, warnings included.
void validateShader(GLuint shader, const char* label) {
  char log[kShaderLogBytes] = {};
  GLsizei length = 0;
  glGetShaderInfoLog(shader, kShaderLogBytes, &length, log);
  if (length > 0) printf("Shader %d,%s,compiler error: %s\n", static_cast<int>(shader), label ? label : "", log);
}

// Prints the link log, then validates against the current GL state.
void validateProgram(GLuint program) {
  char log[kProgramLogBytes] = {};
  GLsizei length = 0;
  glGetProgramInfoLog(program, kProgramLogBytes, &length, log);
  if (length > 0) printf("Program %d,link error: %s\n", static_cast<int>(program), log);

  glValidateProgram(program);
  GLint status = GL_FALSE;
  glGetProgramiv(program, GL_VALIDATE_STATUS, &status);
  if (status == GL_FALSE) printf("Error validating shader %d\n", static_cast<int>(program));
}

// The program of a handed-out id, or 0 (no program) for anything else.
GLuint ProgramOf(int id) { return GFX_IsShader(id) ? GFX_shader[id].program : 0; }

}  // namespace

// ---- Public functions ---------------------------------------------------------------------
int GFX_InitShader(const char* vertexsource, const char* fragmentsource) {
  const int id = GFX_numshaders;
  if (id >= GFX_MAX_SHADERS) {
    printf(GFX_MSG_SHADERS_FULL, GFX_MAX_SHADERS);
    return -1;
  }
  s_shader& entry = GFX_shader[id];
  entry.vertex = glCreateShader(GL_VERTEX_SHADER);
  entry.fragment = glCreateShader(GL_FRAGMENT_SHADER);
  if (!vertexsource || !fragmentsource) {
    // No line break, and the entry is filled again by the next call.
    printf("Either vertex shader or fragment shader file not found.");
    return -1;
  }
  const char* const ownfragment = fragmentsource;  // the folded programs are made from it
#ifdef __EMSCRIPTEN__
  const std::string webvertex = gfx_webshadertext(vertexsource, false);
  const std::string webfragment = gfx_webshadertext(fragmentsource, true);
  vertexsource = webvertex.c_str();
  fragmentsource = webfragment.c_str();
#endif
  glShaderSource(entry.vertex, 1, &vertexsource, nullptr);
  glShaderSource(entry.fragment, 1, &fragmentsource, nullptr);
  glCompileShader(entry.vertex);
  validateShader(entry.vertex, "vertexshader");
  glCompileShader(entry.fragment);
  validateShader(entry.fragment, "fragmentshader");

  entry.program = glCreateProgram();
  glAttachShader(entry.program, entry.fragment);
  glAttachShader(entry.program, entry.vertex);
  glLinkProgram(entry.program);
  validateProgram(entry.program);

  gfx_readfolds(id, ownfragment);
  GFX_numshaders++;
  return id;
}

void GFX_DeleteShader(int id) {
  if (!GFX_IsShader(id)) return;
  const s_shader& entry = GFX_shader[id];
  glDetachShader(entry.program, entry.fragment);
  glDetachShader(entry.program, entry.vertex);
  glDeleteShader(entry.fragment);
  glDeleteShader(entry.vertex);
  glDeleteProgram(entry.program);
  gfx_unfold(id);
}

void GFX_BindShader(int id) {
  if (!GFX_IsShader(id)) return;
  glUseProgram(GFX_shader[id].program);
}

void GFX_UnbindShader() { glUseProgram(0); }

void GFX_SetShaderUniform1i(int id, const char* name, int value) {
  if (!GFX_IsShader(id)) return;
  gfx_recorduniform1i(id, name, value);
  GFX_BindShader(id);
  glUniform1i(glGetUniformLocation(ProgramOf(id), name), value);
}

void GFX_SetShaderUniform1f(int id, const char* name, float value) {
  if (!GFX_IsShader(id)) return;
  gfx_recorduniform(id, name, 1, value, 0.0f, 0.0f);
  GFX_BindShader(id);
  glUniform1f(glGetUniformLocation(ProgramOf(id), name), value);
}

void GFX_SetShaderUniform2f(int id, const char* name, float x, float y) {
  if (!GFX_IsShader(id)) return;
  gfx_recorduniform(id, name, 2, x, y, 0.0f);
  GFX_BindShader(id);
  glUniform2f(glGetUniformLocation(ProgramOf(id), name), x, y);
}

void GFX_SetShaderUniform3f(int id, const char* name, float x, float y, float z) {
  if (!GFX_IsShader(id)) return;
  gfx_recorduniform(id, name, 3, x, y, z);
  GFX_BindShader(id);
  glUniform3f(glGetUniformLocation(ProgramOf(id), name), x, y, z);
}

void GFX_SetPostShader(int id) { GFX_postshader_id = id; }

bool GFX_IsShader(int id) { return id >= 0 && id < GFX_numshaders; }
