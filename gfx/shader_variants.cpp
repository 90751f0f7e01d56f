// gfx/shader_variants.cpp: programs folded to the values of a few int
// uniforms.
//
// Why: a software renderer such as Mesa's llvmpipe runs a fragment shader on
// a block of pixels at once with a lane mask, and it runs both sides of every
// `if`, even one on a uniform: a scene shader that serves two events, or the
// post pass's breakdown look, costs every frame what all its branches cost
// together. A shader names the int uniforms that choose its branches on a
// line of its own:
//
//   #pragma fold(event, state)
//
// (GLSL compilers ignore a pragma they do not know). When such a program is
// drawn through GFX_BindFoldedShader, it is drawn with a second program
// made from the same texts with those uniforms turned into constants
// ("uniform int state;" becomes "const int state = 2;"), so the compiler
// drops the branches that cannot run. Each set of values is compiled once,
// on first use, and kept; the uniforms set on the program since are replayed
// onto it. The picture is the same as the program's own: same code, same
// values.
//
// The same line may declare how far the code behind one of those uniforms
// reaches, after the names:
//
//   #pragma fold(mode, logostate) reach(logostate, -200, 0, 200, 200)
//
// promises that whatever the uniform's value, no pixel outside that
// rectangle changes (x, y, width, height in pixels of a 720-line picture from
// its top-left corner; a negative x or y counts from the right or the bottom
// edge). A pass may then draw the picture with the uniform at 0 and only the
// rectangle with its value (GFX_FoldReach); without the declaration, the
// uniform has its value on every pixel.
//
// The program of the id stays what the shader table holds; the variants are
// this file's, and they go when the id's program is deleted or replaced.
//
// Threads: main thread only (GL context).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gfx/gfx.h"
#include "gfx/gfx_internal.h"
#include "gfx/gl.h"

namespace {
constexpr int kMaxKeys = 4;          // folded uniforms per shader
constexpr int kMaxVariants = 24;     // sets of values compiled per shader
constexpr int kMaxRecords = 32;      // distinct uniform names replayed per shader
constexpr int kNameBytes = 32;       // longest uniform name kept, terminator included
constexpr int kLogBytes = 512;       // link log printed for a variant that fails
constexpr const char* kPragma = "#pragma fold(";
constexpr const char* kReach = "reach(";  // on the pragma's line, after the names
constexpr int kReachNumbers = 4;          // x, y, width, height
// The lines of this file, each printed once per shader or set of values.
constexpr const char* kMsgFull = "gfx: shader %d has %d folded programs; more draw unfolded\n";
constexpr const char* kMsgFailed = "gfx: shader %d folded to %s does not link, drawn unfolded: %s\n";

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

struct Folding {
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
  char reachkey[kNameBytes];  // the key the reach clause names, or empty
  s_gfxreach reach;           // its rectangle
};

Folding g_folds[GFX_MAX_SHADERS];
}  // namespace

bool GFX_folding = true;

namespace {

bool IsNameChar(char c) { return c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The names of the pragma line in `source`, if it has one.
void ReadKeys(const char* source, Folding* folding) {
  const char* at = std::strstr(source, kPragma);
  if (!at) return;
  at += std::strlen(kPragma);
  while (*at && *at != ')' && *at != '\n' && folding->keycount < kMaxKeys) {
    while (*at == ' ' || *at == ',') at++;
    int length = 0;
    while (IsNameChar(at[length])) length++;
    if (length == 0 || length >= kNameBytes) break;
    std::memcpy(folding->keys[folding->keycount], at, length);
    folding->keys[folding->keycount][length] = '\0';
    folding->keycount++;
    at += length;
  }
}

// The reach clause of the pragma line, if it names one of the keys and
// gives four numbers.
void ReadReach(const char* source, Folding* folding) {
  const char* at = std::strstr(source, kPragma);
  const char* eol = at ? std::strchr(at, '\n') : nullptr;
  at = at ? std::strstr(at, kReach) : nullptr;
  if (!at || (eol && at > eol)) return;
  at += std::strlen(kReach);
  while (*at == ' ') at++;
  int length = 0;
  while (IsNameChar(at[length])) length++;
  char name[kNameBytes];
  if (length == 0 || length >= kNameBytes) return;
  std::memcpy(name, at, length);
  name[length] = '\0';
  at += length;
  float numbers[kReachNumbers];
  for (float& number : numbers) {
    while (*at == ' ' || *at == ',') at++;
    char* end = nullptr;
    number = std::strtof(at, &end);
    if (end == at) return;
    at = end;
  }
  while (*at == ' ') at++;
  if (*at != ')' || numbers[2] <= 0.0f || numbers[3] <= 0.0f) return;
  for (int k = 0; k < folding->keycount; k++) {
    if (std::strcmp(folding->keys[k], name) != 0) continue;
    std::memcpy(folding->reachkey, name, sizeof name);
    folding->reach = s_gfxreach{numbers[0], numbers[1], numbers[2], numbers[3]};
  }
}

int KeyIndex(const Folding& folding, const char* name) {
  for (int k = 0; k < folding.keycount; k++)
    if (std::strcmp(folding.keys[k], name) == 0) return k;
  return -1;
}

// `fragment` with the declaration "uniform int NAME;" of every key turned
// into a constant of the key's value. A key the text does not declare so is
// left alone (its uniform is then set as usual).
std::string FoldedText(const Folding& folding, const int* values) {
  std::string text = folding.fragment;
  for (int k = 0; k < folding.keycount; k++) {
    const std::string declaration = std::string("uniform int ") + folding.keys[k] + ";";
    const size_t at = text.find(declaration);
    if (at == std::string::npos) continue;
    char constant[kNameBytes + 32];
    std::snprintf(constant, sizeof constant, "const int %s = %d;", folding.keys[k], values[k]);
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
GLuint VariantFor(int id, Folding& folding) {
  for (int v = 0; v < folding.variantcount; v++)
    if (std::memcmp(folding.variants[v].values, folding.current, sizeof folding.current) == 0)
      return folding.variants[v].program;
  if (folding.variantcount >= kMaxVariants) {
    if (!folding.full_reported) printf(kMsgFull, id, kMaxVariants);
    folding.full_reported = true;
    return 0;
  }
  // The vertex object of the id's own program serves every variant.
  const GLuint fragment = CompileStage(GL_FRAGMENT_SHADER, FoldedText(folding, folding.current));
  const GLuint program = glCreateProgram();
  glAttachShader(program, fragment);
  glAttachShader(program, GFX_shader[id].vertex);
  glLinkProgram(program);
  GLint linked = GL_FALSE;
  glGetProgramiv(program, GL_LINK_STATUS, &linked);
  Variant& variant = folding.variants[folding.variantcount++];
  std::memcpy(variant.values, folding.current, sizeof folding.current);
  variant.program = program;
  variant.fragment = fragment;
  if (linked != GL_TRUE) {
    // The id's own program draws instead.
    char log[kLogBytes] = {};
    glGetProgramInfoLog(program, kLogBytes, nullptr, log);
    char values[kMaxKeys * (kNameBytes + 16)] = "";
    for (int k = 0; k < folding.keycount; k++) {
      const size_t used = std::strlen(values);
      std::snprintf(values + used, sizeof values - used, "%s%s = %d", k ? ", " : "", folding.keys[k], folding.current[k]);
    }
    printf(kMsgFailed, id, values, log);
    glDeleteProgram(program);
    glDeleteShader(fragment);
    variant.program = variant.fragment = 0;
    folding.failures++;
  }
  return variant.program;
}

void Replay(GLuint program, const Folding& folding) {
  for (int r = 0; r < folding.recordcount; r++) {
    const Record& record = folding.records[r];
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
  Folding& folding = g_folds[id];
  if (folding.keycount == 0) return;
  if (kind == Kind::kInt) {
    const int key = KeyIndex(folding, name);
    if (key >= 0) folding.current[key] = i;
  }
  int r = 0;
  while (r < folding.recordcount && std::strcmp(folding.records[r].name, name) != 0) r++;
  if (r == folding.recordcount) {
    if (r >= kMaxRecords || std::strlen(name) >= kNameBytes) return;
    std::strcpy(folding.records[r].name, name);
    folding.recordcount++;
  }
  Record& record = folding.records[r];
  record.kind = kind;
  record.i = i;
  record.f[0] = x, record.f[1] = y, record.f[2] = z;
}

}  // namespace

// ---- Internal functions (gfx_internal.h) ---------------------------------------------------
void gfx_readfolds(int id, const char* fragmentsource) {
  gfx_unfold(id);
  if (id < 0 || id >= GFX_MAX_SHADERS || !fragmentsource) return;
  Folding& folding = g_folds[id];
  ReadKeys(fragmentsource, &folding);
  if (folding.keycount == 0) return;
  ReadReach(fragmentsource, &folding);
  folding.fragment = fragmentsource;
}

void gfx_unfold(int id) {
  if (id < 0 || id >= GFX_MAX_SHADERS) return;
  Folding& folding = g_folds[id];
  for (int v = 0; v < folding.variantcount; v++) {
    glDeleteProgram(folding.variants[v].program);
    glDeleteShader(folding.variants[v].fragment);
  }
  folding = Folding();
}

void gfx_recorduniform1i(int id, const char* name, int value) { RecordUniform(id, name, Kind::kInt, value, 0, 0, 0); }
void gfx_recorduniform(int id, const char* name, int count, float x, float y, float z) {
  const Kind kind = count == 1 ? Kind::kFloat1 : count == 2 ? Kind::kFloat2 : Kind::kFloat3;
  RecordUniform(id, name, kind, 0, x, y, z);
}

// ---- Public functions --------------------------------------------------------------------
bool GFX_PrepareFoldedShader(int id) {
  if (!GFX_folding || !GFX_IsShader(id) || g_folds[id].keycount == 0) return false;
  Folding& folding = g_folds[id];
  const int made = folding.variantcount;
  VariantFor(id, folding);
  return folding.variantcount > made;
}

void GFX_BindFoldedShader(int id) {
  if (!GFX_IsShader(id)) return;
  Folding& folding = g_folds[id];
  const GLuint program = GFX_folding && folding.keycount > 0 ? VariantFor(id, folding) : 0;
  if (!program) {
    GFX_BindShader(id);
    return;
  }
  glUseProgram(program);
  Replay(program, folding);
}

int GFX_FoldedVariants(int id) {
  if (id < 0 || id >= GFX_MAX_SHADERS) return 0;
  return g_folds[id].variantcount - g_folds[id].failures;
}

bool GFX_FoldReach(int id, const char* name, s_gfxreach* reach) {
  if (!GFX_IsShader(id) || !name || !g_folds[id].reachkey[0] || std::strcmp(g_folds[id].reachkey, name) != 0)
    return false;
  if (reach) *reach = g_folds[id].reach;
  return true;
}

int GFX_FoldFailures(int id) { return id >= 0 && id < GFX_MAX_SHADERS ? g_folds[id].failures : 0; }
