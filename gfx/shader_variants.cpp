// gfx/shader_variants.cpp: programs specialised to the values of a few int
// uniforms.
//
// Why: a software renderer such as Mesa's llvmpipe runs a fragment shader on
// a block of pixels at once with a lane mask, and it runs both sides of every
// `if`, even one on a uniform: a scene shader that serves two events, or the
// post pass's breakdown look, costs every frame what all its branches cost
// together. A shader names the int uniforms that choose its branches on a
// line of its own:
//
//   #pragma specialise(event, state)
//
// (GLSL compilers ignore a pragma they do not know). When such a program is
// drawn through GFX_BindSpecialisedShader, it is drawn with a second program
// made from the same texts with those uniforms turned into constants
// ("uniform int state;" becomes "const int state = 2;"), so the compiler
// drops the branches that cannot run. Each set of values is compiled once,
// on first use, and kept; the uniforms set on the program since are replayed
// onto it. The picture is the same as the program's own: same code, same
// values.
//
// The program of the id stays what the shader table holds; the variants are
// this file's, and they go when the id's program is deleted or replaced.
//
// Threads: main thread only (GL context).
#include <cstdio>
#include <cstring>
#include <string>

#include "gfx/gfx.h"
#include "gfx/gfx_internal.h"
#include "gfx/gl.h"

namespace {
constexpr int kMaxKeys = 4;          // specialised uniforms per shader
constexpr int kMaxVariants = 24;     // sets of values compiled per shader
constexpr int kMaxRecords = 32;      // distinct uniform names replayed per shader
constexpr int kNameBytes = 32;       // longest uniform name kept, terminator included
constexpr int kLogBytes = 512;       // link log printed for a variant that fails
constexpr const char* kPragma = "#pragma specialise(";
// The lines of this file, each printed once per shader or set of values.
constexpr const char* kMsgFull = "gfx: shader %d has %d specialised programs; more draw unspecialised\n";
constexpr const char* kMsgFailed = "gfx: shader %d specialised to %s does not link, drawn unspecialised: %s\n";

enum class Kind { kInt, kFloat1, kFloat2, kFloat3 };

// One uniform as it was last set on the shader's own program.
struct Record {
  char name[kNameBytes];
  Kind kind;
  int i;
  float f[3];
};

struct Variant {
  int values[kMaxKeys];
  GLuint program;
  GLuint fragment;
};

struct Specialisation {
  std::string fragment;   // the text the variants are made from
  char keys[kMaxKeys][kNameBytes];
  int keycount;
  int current[kMaxKeys];  // the values last set, in the order of `keys`
  Record records[kMaxRecords];
  int recordcount;
  Variant variants[kMaxVariants];
  int variantcount;
  int failures;           // variants that did not link
  bool full_reported;
};

Specialisation g_special[GFX_MAX_SHADERS];
}  // namespace

bool GFX_specialising = true;

namespace {

bool IsNameChar(char c) { return c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The names of the pragma line in `source`, if it has one.
void ReadKeys(const char* source, Specialisation* special) {
  const char* at = std::strstr(source, kPragma);
  if (!at) return;
  at += std::strlen(kPragma);
  while (*at && *at != ')' && *at != '\n' && special->keycount < kMaxKeys) {
    while (*at == ' ' || *at == ',') at++;
    int length = 0;
    while (IsNameChar(at[length])) length++;
    if (length == 0 || length >= kNameBytes) break;
    std::memcpy(special->keys[special->keycount], at, length);
    special->keys[special->keycount][length] = '\0';
    special->keycount++;
    at += length;
  }
}

int KeyIndex(const Specialisation& special, const char* name) {
  for (int k = 0; k < special.keycount; k++)
    if (std::strcmp(special.keys[k], name) == 0) return k;
  return -1;
}

// `fragment` with the declaration "uniform int NAME;" of every key turned
// into a constant of the key's value. A key the text does not declare so is
// left alone (its uniform is then set as usual).
std::string SpecialisedText(const Specialisation& special, const int* values) {
  std::string text = special.fragment;
  for (int k = 0; k < special.keycount; k++) {
    const std::string declaration = std::string("uniform int ") + special.keys[k] + ";";
    const size_t at = text.find(declaration);
    if (at == std::string::npos) continue;
    char constant[kNameBytes + 32];
    std::snprintf(constant, sizeof constant, "const int %s = %d;", special.keys[k], values[k]);
    text.replace(at, declaration.size(), constant);
  }
  return text;
}

GLuint CompileStage(GLenum stage, const std::string& text) {
  const GLuint shader = glCreateShader(stage);
#ifdef __EMSCRIPTEN__
  const std::string web = gfx_webshadertext(text.c_str(), stage == GL_FRAGMENT_SHADER);
  const char* source = web.c_str();
#else
  const char* source = text.c_str();
#endif
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  return shader;
}

// The variant for the current values: found, or compiled now; 0 when it
// cannot be made (the table is full, or it does not link). A set of values
// that does not link is kept as such, so it is tried once, not every frame.
GLuint VariantFor(int id, Specialisation& special) {
  for (int v = 0; v < special.variantcount; v++)
    if (std::memcmp(special.variants[v].values, special.current, sizeof special.current) == 0)
      return special.variants[v].program;
  if (special.variantcount >= kMaxVariants) {
    if (!special.full_reported) printf(kMsgFull, id, kMaxVariants);
    special.full_reported = true;
    return 0;
  }
  // The vertex object of the id's own program serves every variant.
  const GLuint fragment = CompileStage(GL_FRAGMENT_SHADER, SpecialisedText(special, special.current));
  const GLuint program = glCreateProgram();
  glAttachShader(program, fragment);
  glAttachShader(program, GFX_shader[id].vertex);
  glLinkProgram(program);
  GLint linked = GL_FALSE;
  glGetProgramiv(program, GL_LINK_STATUS, &linked);
  Variant& variant = special.variants[special.variantcount++];
  std::memcpy(variant.values, special.current, sizeof special.current);
  variant.program = program;
  variant.fragment = fragment;
  if (linked != GL_TRUE) {
    // The id's own program draws instead.
    char log[kLogBytes] = {};
    glGetProgramInfoLog(program, kLogBytes, nullptr, log);
    char values[kMaxKeys * (kNameBytes + 16)] = "";
    for (int k = 0; k < special.keycount; k++) {
      const size_t used = std::strlen(values);
      std::snprintf(values + used, sizeof values - used, "%s%s = %d", k ? ", " : "", special.keys[k], special.current[k]);
    }
    printf(kMsgFailed, id, values, log);
    glDeleteProgram(program);
    glDeleteShader(fragment);
    variant.program = variant.fragment = 0;
    special.failures++;
  }
  return variant.program;
}

void Replay(GLuint program, const Specialisation& special) {
  for (int r = 0; r < special.recordcount; r++) {
    const Record& record = special.records[r];
    const GLint location = glGetUniformLocation(program, record.name);
    if (location < 0) continue;
    switch (record.kind) {
      case Kind::kInt: glUniform1i(location, record.i); break;
      case Kind::kFloat1: glUniform1f(location, record.f[0]); break;
      case Kind::kFloat2: glUniform2f(location, record.f[0], record.f[1]); break;
      case Kind::kFloat3: glUniform3f(location, record.f[0], record.f[1], record.f[2]); break;
    }
  }
}

// Keeps what a setter set on id (and the value of a key), to replay it.
void RecordUniform(int id, const char* name, Kind kind, int i, float x, float y, float z) {
  if (!GFX_IsShader(id) || !name) return;
  Specialisation& special = g_special[id];
  if (special.keycount == 0) return;
  if (kind == Kind::kInt) {
    const int key = KeyIndex(special, name);
    if (key >= 0) special.current[key] = i;
  }
  int r = 0;
  while (r < special.recordcount && std::strcmp(special.records[r].name, name) != 0) r++;
  if (r == special.recordcount) {
    if (r >= kMaxRecords || std::strlen(name) >= kNameBytes) return;
    std::strcpy(special.records[r].name, name);
    special.recordcount++;
  }
  Record& record = special.records[r];
  record.kind = kind;
  record.i = i;
  record.f[0] = x, record.f[1] = y, record.f[2] = z;
}

}  // namespace

// ---- Internal functions (gfx_internal.h) ---------------------------------------------------
void gfx_specialise(int id, const char* fragmentsource) {
  gfx_unspecialise(id);
  if (id < 0 || id >= GFX_MAX_SHADERS || !fragmentsource) return;
  Specialisation& special = g_special[id];
  ReadKeys(fragmentsource, &special);
  if (special.keycount == 0) return;
  special.fragment = fragmentsource;
}

void gfx_unspecialise(int id) {
  if (id < 0 || id >= GFX_MAX_SHADERS) return;
  Specialisation& special = g_special[id];
  for (int v = 0; v < special.variantcount; v++) {
    glDeleteProgram(special.variants[v].program);
    glDeleteShader(special.variants[v].fragment);
  }
  special = Specialisation();
}

void gfx_recorduniform1i(int id, const char* name, int value) { RecordUniform(id, name, Kind::kInt, value, 0, 0, 0); }
void gfx_recorduniform(int id, const char* name, int count, float x, float y, float z) {
  const Kind kind = count == 1 ? Kind::kFloat1 : count == 2 ? Kind::kFloat2 : Kind::kFloat3;
  RecordUniform(id, name, kind, 0, x, y, z);
}

// ---- Public functions --------------------------------------------------------------------
bool GFX_PrepareSpecialisedShader(int id) {
  if (!GFX_specialising || !GFX_IsShader(id) || g_special[id].keycount == 0) return false;
  Specialisation& special = g_special[id];
  const int made = special.variantcount;
  VariantFor(id, special);
  return special.variantcount > made;
}

void GFX_BindSpecialisedShader(int id) {
  if (!GFX_IsShader(id)) return;
  Specialisation& special = g_special[id];
  const GLuint program = GFX_specialising && special.keycount > 0 ? VariantFor(id, special) : 0;
  if (!program) {
    GFX_BindShader(id);
    return;
  }
  glUseProgram(program);
  Replay(program, special);
}

int GFX_SpecialisedVariants(int id) {
  if (id < 0 || id >= GFX_MAX_SHADERS) return 0;
  return g_special[id].variantcount - g_special[id].failures;
}

int GFX_SpecialisedFailures(int id) { return id >= 0 && id < GFX_MAX_SHADERS ? g_special[id].failures : 0; }
