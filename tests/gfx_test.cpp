// Tests of the graphics layer against a real GL context (Mesa under Xvfb):
// the fixed state after the window opens, framebuffers and the quad read back
// pixel by pixel, texture channels, shader ids and uniforms, the pixel writer
// and PNG loading from an image packed by our packer, and the tables' limits
// (each run in a fresh child process, so the main process keeps free slots).
#include <gtest/gtest.h>
#include <lodepng.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "corefile/corefile.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"
#include "gfx/png_load.h"
#include "test_child.h"
#include "test_util.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

const char* const kVertex =
    "#version 120\nvoid main() { gl_TexCoord[0] = gl_MultiTexCoord0; gl_Position = ftransform(); }";
const char* const kWhite = "#version 120\nvoid main() { gl_FragColor = vec4(1.0); }";
const char* const kUniforms =
    "#version 120\nuniform float gain; uniform vec2 shift; uniform vec3 tint; uniform int pick;\n"
    "void main() { gl_FragColor = vec4(tint * gain, shift.x + shift.y + float(pick)); }";

// The window opens once per process; every test that needs GL calls this.
void EnsureVideo() {
  static bool open = false;
  if (open) return;
  ASSERT_EQ(GFX_InitVideo(kWidth, kHeight, "gfx test", false), 0);
  open = true;
}

// A 1280x720 framebuffer made once for all the drawing tests.
int SharedFrameBuffer() {
  static int id = -1;
  if (id < 0) id = GFX_CreateFrameBuffer(kWidth, kHeight, 0);
  return id;
}

int WhiteProgram() {
  static int id = -1;
  if (id < 0) id = GFX_InitShader(kVertex, kWhite);
  return id;
}

GLint GetInt(GLenum what) {
  GLint value = 0;
  glGetIntegerv(what, &value);
  return value;
}

GLint BoundTextureOn(int unit) {
  glActiveTexture(GL_TEXTURE0 + unit);
  return GetInt(GL_TEXTURE_BINDING_2D);
}

// Pixels of the bound framebuffer, rows from the bottom (GL's order), RGBA.
std::vector<uint8_t> ReadPixels(int x, int y, int w, int h) {
  std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  return pixels;
}

void ClearBlack() {
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
}

// What a loader printed, less the file system's own lines about finding files.
std::string LoaderLines(const std::string& out) {
  std::string kept;
  size_t at = 0;
  while (at < out.size()) {
    size_t end = out.find('\n', at);
    end = end == std::string::npos ? out.size() : end + 1;
    const std::string line = out.substr(at, end - at);
    if (line.rfind("found file at offset: ", 0) != 0 && line.rfind("couldn't find file: ", 0) != 0) kept += line;
    at = end;
  }
  return kept;
}

uint8_t RedAt(int x, int y) { return ReadPixels(x, y, 1, 1)[0]; }

std::string Png(unsigned w, unsigned h, const std::vector<uint8_t>& rgba) { return test_util::png_rgba(rgba, w, h); }


// ---- Window ------------------------------------------------------------------------

TEST(GfxWindow, FixedStateAfterInit) {
  EnsureVideo();
  ASSERT_NE(GFX_window, nullptr);
  int w = 0, h = 0;
  glfwGetWindowSize(GFX_window, &w, &h);
  EXPECT_EQ(w, kWidth);
  EXPECT_EQ(h, kHeight);
  EXPECT_EQ(glfwGetWindowMonitor(GFX_window), nullptr) << "windowed";
  EXPECT_GE(glfwGetWindowAttrib(GFX_window, GLFW_CONTEXT_VERSION_MAJOR), 2);

  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[0], 0);
  EXPECT_EQ(viewport[1], 0);
  EXPECT_EQ(viewport[2], kWidth);
  EXPECT_EQ(viewport[3], kHeight);

  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_TRUE(glIsEnabled(GL_VERTEX_ARRAY));
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
  GLfloat clear[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  EXPECT_FLOAT_EQ(clear[0], 0.0f);
  EXPECT_FLOAT_EQ(clear[1], 0.0f);
  EXPECT_FLOAT_EQ(clear[2], 0.0f);
  EXPECT_FLOAT_EQ(clear[3], 1.0f);
  EXPECT_EQ(GetInt(GL_MATRIX_MODE), GL_MODELVIEW);
  EXPECT_EQ(GetInt(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
  // GLEW ran: the 2.0 and framebuffer-object entry points are there.
  EXPECT_NE(glCreateProgram, nullptr);
  EXPECT_NE(glGenFramebuffersEXT, nullptr);

  GLfloat modelview[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
  for (int i = 0; i < 16; i++) EXPECT_FLOAT_EQ(modelview[i], (i % 5 == 0) ? 1.0f : 0.0f) << i;
}

TEST(GfxWindow, ProjectionMapsPixelsWithTheOriginTopLeft) {
  EnsureVideo();
  GLfloat p[16];
  glGetFloatv(GL_PROJECTION_MATRIX, p);
  // Column-major: clip = P * (x, y, 0, 1).
  auto clip = [&](float x, float y, int row) { return p[row] * x + p[4 + row] * y + p[12 + row]; };
  EXPECT_NEAR(clip(0, 0, 0), -1.0f, 1e-6);
  EXPECT_NEAR(clip(0, 0, 1), 1.0f, 1e-6) << "y = 0 is the top edge";
  EXPECT_NEAR(clip(kWidth, kHeight, 0), 1.0f, 1e-6);
  EXPECT_NEAR(clip(kWidth, kHeight, 1), -1.0f, 1e-6) << "y = 720 is the bottom edge";
  EXPECT_NEAR(p[10], -1.0f, 1e-6) << "near -1, far 1";
}

TEST(GfxWindow, FailureReturnsMinusOneSilently) {
  // Without a display GLFW cannot start: -1, no window, nothing printed.
  EXPECT_IN_CHILD({
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    const std::string out = test_util::capture_stdout([] { CHILD_CHECK(GFX_InitVideo(kWidth, kHeight, "x", false) == -1); });
    CHILD_CHECK(GFX_window == nullptr);
    CHILD_CHECK(out.empty());
    GFX_SwapBuffers();  // no window: must not crash
  });
}

// ---- Framebuffers and the quad ---------------------------------------------------------

TEST(GfxFrameBuffer, IdsInOrderAndSelection) {
  EXPECT_IN_CHILD({
    EnsureVideo();
    CHILD_CHECK(GFX_CreateFrameBuffer(kWidth, kHeight, 0) == 0);
    CHILD_CHECK(GFX_CreateFrameBuffer(kWidth, kHeight, 0) == 1);
    glActiveTexture(GL_TEXTURE5);
    CHILD_CHECK(GFX_CreateFrameBuffer(640, 360, 0) == 2);
    // Unit 0 active and the window bound again after each creation.
    CHILD_CHECK(GetInt(GL_ACTIVE_TEXTURE) == GL_TEXTURE0);
    CHILD_CHECK(GetInt(GL_FRAMEBUFFER_BINDING_EXT) == 0);
    CHILD_CHECK(GetInt(GL_TEXTURE_BINDING_2D) == static_cast<GLint>(GFX_framebufferdata[2].texture));
    CHILD_CHECK(GFX_numframebuffers == 3);

    GFX_SetFrameBuffer(2);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    CHILD_CHECK(viewport[2] == 640 && viewport[3] == 360);
    CHILD_CHECK(GFX_FrameBuffer == &GFX_framebuffers[2]);
    CHILD_CHECK(GFX_FrameBuffer->width == 640 && GFX_FrameBuffer->height == 360);
    CHILD_CHECK(GetInt(GL_FRAMEBUFFER_BINDING_EXT) == static_cast<GLint>(GFX_framebufferdata[2].framebuffer));

    glActiveTexture(GL_TEXTURE3);
    GFX_SetFrameBuffer(1);
    glGetIntegerv(GL_VIEWPORT, viewport);
    CHILD_CHECK(viewport[2] == kWidth && viewport[3] == kHeight);
    CHILD_CHECK(GFX_FrameBuffer->width == kWidth);
    // Its own colour texture lands on whichever unit is active.
    CHILD_CHECK(GetInt(GL_TEXTURE_BINDING_2D) == static_cast<GLint>(GFX_framebufferdata[1].texture));
    CHILD_CHECK(GetInt(GL_ACTIVE_TEXTURE) == GL_TEXTURE3);
    CHILD_CHECK(GFX_FrameBufferTexture(1) == GFX_framebufferdata[1].texture);

    // Unknown ids change nothing.
    GFX_SetFrameBuffer(3);
    GFX_SetFrameBuffer(-1);
    CHILD_CHECK(GFX_FrameBuffer == &GFX_framebuffers[1]);
    CHILD_CHECK(GFX_FrameBufferTexture(3) == 0 && GFX_FrameBufferTexture(-1) == 0);
  });
}

TEST(GfxFrameBuffer, TableRefusesASeventeenth) {
  EXPECT_IN_CHILD({
    EnsureVideo();
    for (int i = 0; i < GFX_MAX_FRAMEBUFFERS; i++) CHILD_CHECK(GFX_CreateFrameBuffer(16, 16, 0) == i);
    const std::string out = test_util::capture_stdout([] { CHILD_CHECK(GFX_CreateFrameBuffer(16, 16, 0) == -1); });
    CHILD_CHECK(out.find("gfx: framebuffer table full") != std::string::npos);
    CHILD_CHECK(GFX_numframebuffers == GFX_MAX_FRAMEBUFFERS);
  });
}

TEST(GfxQuad, FullQuadCoversTheTargetWithBothTriangles) {
  EnsureVideo();
  const int fb = SharedFrameBuffer();
  ASSERT_GE(fb, 0);
  GFX_SetFrameBuffer(fb);
  ClearBlack();
  GFX_BindShader(WhiteProgram());
  GFX_DrawQuad(0, 0, kWidth, kHeight, 0, 0, 1, 1);
  const std::vector<uint8_t> all = ReadPixels(0, 0, kWidth, kHeight);
  size_t unlit = 0;
  for (size_t i = 0; i < all.size(); i += 4) unlit += all[i] != 255;
  EXPECT_EQ(unlit, 0u) << "every pixel of the 1280x720 target is covered";

  // Culling: both triangles share one winding, so one face mode draws the
  // whole quad and the other draws nothing at all.
  glEnable(GL_CULL_FACE);
  size_t lit[2] = {0, 0};
  const GLenum faces[2] = {GL_BACK, GL_FRONT};
  for (int f = 0; f < 2; f++) {
    glCullFace(faces[f]);
    ClearBlack();
    GFX_DrawQuad(0, 0, kWidth, kHeight, 0, 0, 1, 1);
    const std::vector<uint8_t> px = ReadPixels(0, 0, kWidth, kHeight);
    for (size_t i = 0; i < px.size(); i += 4) lit[f] += px[i] == 255;
  }
  glDisable(GL_CULL_FACE);
  const size_t total = static_cast<size_t>(kWidth) * kHeight;
  EXPECT_TRUE((lit[0] == total && lit[1] == 0) || (lit[0] == 0 && lit[1] == total)) << lit[0] << " " << lit[1];

  // Outlines: the shared edge runs from the top-left to the bottom-right.
  glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
  ClearBlack();
  GFX_DrawQuad(0, 0, 400, 400, 0, 0, 1, 1);
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  // Window y = 100 (from the top) is GL row 719 - 100.
  EXPECT_EQ(RedAt(100, kHeight - 1 - 100), 255) << "on the diagonal top-left to bottom-right";
  EXPECT_EQ(RedAt(300, kHeight - 1 - 100), 0) << "no diagonal top-right to bottom-left";
  GFX_UnbindShader();

  const uint8_t expected[6] = {0, 3, 2, 0, 2, 1};
  EXPECT_EQ(0, memcmp(quad_index, expected, sizeof expected));
}

TEST(GfxQuad, OnePixelQuadLandsAtTheTopLeft) {
  EnsureVideo();
  GFX_SetFrameBuffer(SharedFrameBuffer());
  ClearBlack();
  GFX_BindShader(WhiteProgram());
  GFX_DrawQuad(0, 0, 1, 1, 0, 0, 1, 1);
  GFX_DrawQuad(kWidth - 1, kHeight - 1, 1, 1, 0, 0, 1, 1);
  GFX_UnbindShader();
  EXPECT_EQ(RedAt(0, kHeight - 1), 255);  // top-left pixel
  EXPECT_EQ(RedAt(1, kHeight - 1), 0);
  EXPECT_EQ(RedAt(0, kHeight - 2), 0);
  EXPECT_EQ(RedAt(kWidth - 1, 0), 255);  // bottom-right pixel
  EXPECT_EQ(RedAt(0, 0), 0);
}

TEST(GfxTexture, BindTextureChannelKeepsTheUnitOutsideZeroToTwentyOne) {
  EnsureVideo();
  GLuint textures[3];
  glGenTextures(3, textures);
  GFX_BindTextureChannel(static_cast<int>(textures[0]), 4);
  EXPECT_EQ(GetInt(GL_ACTIVE_TEXTURE), GL_TEXTURE4);
  GFX_BindTextureChannel(static_cast<int>(textures[1]), 22);
  EXPECT_EQ(GetInt(GL_ACTIVE_TEXTURE), GL_TEXTURE4);
  EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), static_cast<GLint>(textures[1]));
  GFX_BindTextureChannel(static_cast<int>(textures[2]), -1);
  EXPECT_EQ(GetInt(GL_ACTIVE_TEXTURE), GL_TEXTURE4);
  EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), static_cast<GLint>(textures[2]));
  GFX_BindTextureChannel(static_cast<int>(textures[0]), 21);
  EXPECT_EQ(GetInt(GL_ACTIVE_TEXTURE), GL_TEXTURE21);
  EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), static_cast<GLint>(textures[0]));
  GFX_BindTexture(0);
  EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), 0);
  EXPECT_EQ(BoundTextureOn(4), static_cast<GLint>(textures[2])) << "unit 4 kept its last bind";
  glActiveTexture(GL_TEXTURE0);
  glDeleteTextures(3, textures);
}

// ---- Shader programs --------------------------------------------------------------------

TEST(GfxShader, IdsInOrderWithARefusedCallBetween) {
  EnsureVideo();
  const int first = GFX_InitShader(kVertex, kWhite);
  ASSERT_GE(first, 0);
  EXPECT_EQ(GFX_numshaders, first + 1);
  std::string out = test_util::capture_stdout([&] {
    EXPECT_EQ(GFX_InitShader(nullptr, kWhite), -1);
    EXPECT_EQ(GFX_InitShader(kVertex, nullptr), -1);
  });
  EXPECT_EQ(out,
            "Either vertex shader or fragment shader file not found."
            "Either vertex shader or fragment shader file not found.");
  EXPECT_EQ(GFX_numshaders, first + 1);
  EXPECT_EQ(GFX_InitShader(kVertex, kWhite), first + 1) << "the refused calls used up no id";

  // Fragment first, then vertex, attached to a linked program.
  const s_shader& entry = GFX_shader[first];
  EXPECT_TRUE(glIsProgram(entry.program));
  GLint linked = 0;
  glGetProgramiv(entry.program, GL_LINK_STATUS, &linked);
  EXPECT_EQ(linked, GL_TRUE);
  GLuint attached[2] = {0, 0};
  GLsizei count = 0;
  glGetAttachedShaders(entry.program, 2, &count, attached);
  EXPECT_EQ(count, 2);
  GLint type = 0;
  glGetShaderiv(entry.vertex, GL_SHADER_TYPE, &type);
  EXPECT_EQ(type, GL_VERTEX_SHADER);
  glGetShaderiv(entry.fragment, GL_SHADER_TYPE, &type);
  EXPECT_EQ(type, GL_FRAGMENT_SHADER);
}

TEST(GfxShader, FragmentThatFailsToCompileStillGetsItsId) {
  EnsureVideo();
  const int before = GFX_numshaders;
  int id = -2;
  const std::string out = test_util::capture_stdout(
      [&] { id = GFX_InitShader(kVertex, "#version 120\nvoid main() { gl_FragColor = nonsense; }"); });
  EXPECT_EQ(id, before);
  EXPECT_EQ(GFX_numshaders, before + 1);
  const std::string label =
      "Shader " + std::to_string(GFX_shader[id].fragment) + ",fragmentshader,compiler error: ";
  EXPECT_NE(out.find(label), std::string::npos) << out;
  EXPECT_NE(out.find("Program " + std::to_string(GFX_shader[id].program) + ",link error: "), std::string::npos)
      << out;
  EXPECT_EQ(out.find("vertexshader"), std::string::npos) << "the vertex stage compiled cleanly";
}

TEST(GfxShader, UniformsSetByNameAndMissingOnesIgnored) {
  EnsureVideo();
  const int id = GFX_InitShader(kVertex, kUniforms);
  ASSERT_GE(id, 0);
  const GLuint program = GFX_shader[id].program;
  GFX_SetShaderUniform1f(id, "gain", 0.25f);
  GFX_SetShaderUniform2f(id, "shift", 3.0f, -4.5f);
  GFX_SetShaderUniform3f(id, "tint", 0.1f, 0.2f, 0.3f);
  GFX_SetShaderUniform1i(id, "pick", 7);
  GLfloat f[3] = {0, 0, 0};
  glGetUniformfv(program, glGetUniformLocation(program, "gain"), f);
  EXPECT_FLOAT_EQ(f[0], 0.25f);
  glGetUniformfv(program, glGetUniformLocation(program, "shift"), f);
  EXPECT_FLOAT_EQ(f[0], 3.0f);
  EXPECT_FLOAT_EQ(f[1], -4.5f);
  glGetUniformfv(program, glGetUniformLocation(program, "tint"), f);
  EXPECT_FLOAT_EQ(f[0], 0.1f);
  EXPECT_FLOAT_EQ(f[2], 0.3f);
  GLint i = 0;
  glGetUniformiv(program, glGetUniformLocation(program, "pick"), &i);
  EXPECT_EQ(i, 7);

  GFX_UnbindShader();
  while (glGetError() != GL_NO_ERROR) {
  }
  const std::string out = test_util::capture_stdout([&] {
    GFX_SetShaderUniform1f(id, "absent", 1.0f);
    GFX_SetShaderUniform1i(id, "absent", 1);
    GFX_SetShaderUniform2f(id, "absent", 1.0f, 2.0f);
    GFX_SetShaderUniform3f(id, "absent", 1.0f, 2.0f, 3.0f);
  });
  EXPECT_TRUE(out.empty()) << out;
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  EXPECT_EQ(GetInt(GL_CURRENT_PROGRAM), static_cast<GLint>(program)) << "the setter leaves its program current";
  GFX_UnbindShader();
  EXPECT_EQ(GetInt(GL_CURRENT_PROGRAM), 0);

  // Ids that were never handed out touch nothing.
  GFX_SetShaderUniform1f(-1, "gain", 9.0f);
  GFX_SetShaderUniform1f(GFX_numshaders, "gain", 9.0f);
  GFX_BindShader(-1);
  EXPECT_EQ(GetInt(GL_CURRENT_PROGRAM), 0);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

  GFX_SetPostShader(id);
  EXPECT_EQ(GFX_postshader_id, id);
}

TEST(GfxShader, DeleteReleasesTheProgramAndKeepsTheId) {
  EnsureVideo();
  const int id = GFX_InitShader(kVertex, kWhite);
  ASSERT_GE(id, 0);
  const GLuint program = GFX_shader[id].program;
  const int count = GFX_numshaders;
  GFX_DeleteShader(id);
  EXPECT_FALSE(glIsProgram(program));
  EXPECT_EQ(GFX_numshaders, count);
  EXPECT_EQ(GFX_InitShader(kVertex, kWhite), count) << "a deleted id is not handed out again";
}

TEST(GfxShader, TableRefusesAHundredAndTwentyNinth) {
  EXPECT_IN_CHILD({
    EnsureVideo();
    for (int i = 0; i < GFX_MAX_SHADERS; i++) CHILD_CHECK(GFX_InitShader(kVertex, kWhite) == i);
    const std::string out = test_util::capture_stdout([] { CHILD_CHECK(GFX_InitShader(kVertex, kWhite) == -1); });
    CHILD_CHECK(out.find("gfx: shader table full") != std::string::npos);
    CHILD_CHECK(GFX_numshaders == GFX_MAX_SHADERS);
  });
}

// ---- Folded programs ---------------------------------------------------------------
// A shader whose "mode" picks its colour, with a float that must reach
// whichever program draws.
const char* const kFolded =
    "#version 120\n#pragma fold(mode)\nuniform int mode;\nuniform float level;\n"
    "void main() {\n"
    "  if (mode == 1) gl_FragColor = vec4(level, 0.0, 0.0, 1.0);\n"
    "  else if (mode == 2) gl_FragColor = vec4(0.0, level, 0.0, 1.0);\n"
    "  else gl_FragColor = vec4(0.0, 0.0, level, 1.0);\n"
    "}";

// The pixel at the centre after one full quad drawn with `id` folded.
std::vector<uint8_t> DrawFolded(int id) {
  GFX_SetFrameBuffer(SharedFrameBuffer());
  ClearBlack();
  GFX_BindFoldedShader(id);
  GFX_DrawQuad(0, 0, kWidth, kHeight, 0, 0, 1, 1);
  GFX_UnbindShader();
  return ReadPixels(kWidth / 2, kHeight / 2, 1, 1);
}

TEST(GfxShader, FoldedProgramsDrawWhatTheUniformsChoose) {
  EnsureVideo();
  const int id = GFX_InitShader(kVertex, kFolded);
  ASSERT_GE(id, 0);
  EXPECT_EQ(GFX_FoldedVariants(id), 0) << "nothing is compiled before the first draw";

  const std::string out = test_util::capture_stdout([&] {
    GFX_SetShaderUniform1f(id, "level", 0.5f);
    GFX_SetShaderUniform1i(id, "mode", 1);
    const std::vector<uint8_t> red = DrawFolded(id);
    EXPECT_NEAR(red[0], 128, 1);
    EXPECT_EQ(red[1], 0);
    EXPECT_EQ(GFX_FoldedVariants(id), 1);

    // A new value: a second program; the float set before still reaches it.
    GFX_SetShaderUniform1i(id, "mode", 2);
    const std::vector<uint8_t> green = DrawFolded(id);
    EXPECT_EQ(green[0], 0);
    EXPECT_NEAR(green[1], 128, 1);
    EXPECT_EQ(GFX_FoldedVariants(id), 2);

    // Back to the first value with a new float: the first program again, with the new float.
    GFX_SetShaderUniform1i(id, "mode", 1);
    GFX_SetShaderUniform1f(id, "level", 1.0f);
    EXPECT_EQ(DrawFolded(id)[0], 255);
    EXPECT_EQ(GFX_FoldedVariants(id), 2) << "a set of values is compiled once";
  });
  EXPECT_TRUE(out.empty()) << out;

  // The id's own program still holds what was set, and draws the same.
  GFX_SetFrameBuffer(SharedFrameBuffer());
  ClearBlack();
  GFX_BindShader(id);
  GFX_DrawQuad(0, 0, kWidth, kHeight, 0, 0, 1, 1);
  GFX_UnbindShader();
  EXPECT_EQ(RedAt(kWidth / 2, kHeight / 2), 255);
  GLint mode = 0;
  glGetUniformiv(GFX_shader[id].program, glGetUniformLocation(GFX_shader[id].program, "mode"), &mode);
  EXPECT_EQ(mode, 1);
}

TEST(GfxShader, WithoutThePragmaTheProgramItselfIsBound) {
  EnsureVideo();
  const int id = GFX_InitShader(kVertex, kUniforms);
  ASSERT_GE(id, 0);
  GFX_SetShaderUniform1i(id, "pick", 3);
  GFX_BindFoldedShader(id);
  EXPECT_EQ(GetInt(GL_CURRENT_PROGRAM), static_cast<GLint>(GFX_shader[id].program));
  EXPECT_EQ(GFX_FoldedVariants(id), 0);
  GFX_UnbindShader();
  GFX_BindFoldedShader(-1);  // not an id: nothing bound
  EXPECT_EQ(GetInt(GL_CURRENT_PROGRAM), 0);
}

TEST(GfxShader, ReplacingAProgramDropsItsFoldedOnes) {
  EnsureVideo();
  const int id = GFX_InitShader(kVertex, kFolded);
  ASSERT_GE(id, 0);
  GFX_SetShaderUniform1f(id, "level", 1.0f);
  GFX_SetShaderUniform1i(id, "mode", 2);
  EXPECT_EQ(DrawFolded(id)[1], 255);
  ASSERT_EQ(GFX_FoldedVariants(id), 1);

  // The new text draws white in every mode: what draws now is made from it.
  const char* const white = "#version 120\n#pragma fold(mode)\nuniform int mode;\n"
                            "void main() { gl_FragColor = vec4(1.0); }";
  char log[256];
  ASSERT_EQ(GFX_ReplaceShader(id, kVertex, white, log, sizeof log), 1) << log;
  EXPECT_EQ(GFX_FoldedVariants(id), 0);
  GFX_SetShaderUniform1i(id, "mode", 2);
  const std::vector<uint8_t> pixel = DrawFolded(id);
  EXPECT_EQ(pixel[0], 255);
  EXPECT_EQ(pixel[2], 255);
  EXPECT_EQ(GFX_FoldedVariants(id), 1);
}

TEST(GfxShader, AFoldThatDoesNotCompileFallsBackOnce) {
  EnsureVideo();
  // With "index" a uniform the read is checked when it runs; as the constant
  // 4 it is out of the array's bounds, which the compiler refuses.
  const char* const text =
      "#version 120\n#pragma fold(index)\nuniform int index;\n"
      "void main() { float a[2]; a[0] = 0.25; a[1] = 0.5; gl_FragColor = vec4(a[index]); }";
  const int id = GFX_InitShader(kVertex, text);
  ASSERT_GE(id, 0);
  GFX_SetShaderUniform1i(id, "index", 4);
  const std::string first = test_util::capture_stdout([&] { DrawFolded(id); });
  EXPECT_NE(first.find("gfx: shader " + std::to_string(id) + " folded to index = 4 does not link"),
            std::string::npos) << first;
  const std::string second = test_util::capture_stdout([&] { DrawFolded(id); });
  EXPECT_TRUE(second.empty()) << "tried once, not every frame: " << second;
  EXPECT_EQ(GFX_FoldedVariants(id), 0);
  GFX_BindFoldedShader(id);
  EXPECT_EQ(GetInt(GL_CURRENT_PROGRAM), static_cast<GLint>(GFX_shader[id].program)) << "the program itself draws";
  GFX_UnbindShader();

  // Another value that compiles is made as usual.
  GFX_SetShaderUniform1i(id, "index", 1);
  EXPECT_EQ(DrawFolded(id)[0], 128);
  EXPECT_EQ(GFX_FoldedVariants(id), 1);
}

// ---- Bitmaps --------------------------------------------------------------------------

// A bitmap record as a successful create leaves it: w x h pixels stored at
// their own size, texture coordinates just inside the edge, a texture made.
void ExpectCreated(const s_bitmap& b, int w, int h) {
  EXPECT_EQ(b.width, w);
  EXPECT_EQ(b.height, h);
  EXPECT_EQ(b.texwidth, w);
  EXPECT_EQ(b.texheight, h);
  EXPECT_EQ(b.numpixels, w * h);
  EXPECT_EQ(b.size, w * h * 4);
  EXPECT_NE(b.pixels, nullptr);
  EXPECT_EQ(b.s0, 0.0f);
  EXPECT_EQ(b.t0, 0.0f);
  EXPECT_NEAR(b.s1, 0.99999f, 1e-7);
  EXPECT_NEAR(b.t1, 0.9999f, 1e-7);
  EXPECT_NE(b.textureid, 0u);
}

TEST(GfxBitmap, CreateFillsTheRecordAndListsIt) {
  EnsureVideo();
  static s_bitmap bitmap;
  const int listed = GFX_numbitmaps;
  const std::string out = test_util::capture_stdout([] { GFX_CreateBitmap(3, 2, &bitmap); });
  ExpectCreated(bitmap, 3, 2);
  EXPECT_EQ(out, "bitmap textureid: " + std::to_string(bitmap.textureid) + "\n");
  EXPECT_EQ(GFX_numbitmaps, listed + 1);
  EXPECT_EQ(GFX_bitmaplist[listed], &bitmap);
  EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), static_cast<GLint>(bitmap.textureid)) << "left bound";
  GLint wrap = 0, filter = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrap);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
  EXPECT_EQ(wrap, GL_REPEAT);
  EXPECT_EQ(filter, GL_LINEAR);

  // Pixels written, then uploaded: the texture reads back what was written.
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 3; x++) GFX_DrawPixel(x, y, static_cast<int>(0xFF000000u | (x * 40 << 16) | (y * 90)), bitmap);
  GFX_UpdateBitmap(bitmap);
  std::vector<uint32_t> texels(6, 0);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  EXPECT_EQ(0, memcmp(texels.data(), bitmap.pixels, 24));
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(texels.data());
  EXPECT_EQ(bytes[(1 * 3 + 2) * 4 + 0], 80) << "red of (2, 1)";
  EXPECT_EQ(bytes[(1 * 3 + 2) * 4 + 2], 90) << "blue of (2, 1)";

  // Deleting prints one line and releases the texture; an empty record is left alone.
  const GLuint texture = bitmap.textureid;
  EXPECT_EQ(test_util::capture_stdout([] { GFX_DeleteBitmap(&bitmap); }), "deleting bitmap\n");
  EXPECT_FALSE(glIsTexture(texture));
  s_bitmap empty = {};
  EXPECT_EQ(test_util::capture_stdout([&] { GFX_DeleteBitmap(&empty); }), "");
  EXPECT_EQ(empty.textureid, 0u);
}

// Reads the level-0 texels of `texture` (w x h) through a bind of its own.
std::vector<uint32_t> Texels(GLuint texture, int w, int h) {
  std::vector<uint32_t> texels(static_cast<size_t>(w) * h, 0xDEADBEEFu);
  glBindTexture(GL_TEXTURE_2D, texture);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  return texels;
}

TEST(GfxBitmap, DeferredUploadsArriveBeforeAnyDrawAndInOrder) {
  EnsureVideo();
  static s_bitmap a, b, c, d;
  GFX_deferuploads = true;
  test_util::capture_stdout([] {
    for (s_bitmap* bitmap : {&a, &b, &c, &d}) GFX_CreateBitmap(2, 2, bitmap);
  });
  GFX_deferuploads = false;
  ASSERT_EQ(GFX_PendingUploads(), 4);
  // The pixels the record holds when the upload comes are the ones uploaded.
  int shade = 1;
  for (s_bitmap* bitmap : {&a, &b, &c, &d})
    for (int k = 0; k < 4; k++) GFX_DrawPixel(k % 2, k / 2, 0xFF000000 | (shade++ * 0x010101), *bitmap);
  GLint width = -1;
  glBindTexture(GL_TEXTURE_2D, c.textureid);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
  EXPECT_EQ(width, 0) << "no storage before its upload";

  // A bind through the graphics layer uploads it, on whichever unit.
  GFX_BindTextureChannel(static_cast<int>(c.textureid), 3);
  EXPECT_EQ(GFX_PendingUploads(), 3);
  EXPECT_EQ(0, memcmp(Texels(c.textureid, 2, 2).data(), c.pixels, 16));
  glActiveTexture(GL_TEXTURE0);

  // Replaced pixels and a deleted bitmap leave the queue; the rest go oldest
  // first, one a call, the active unit's binding kept.
  GFX_UpdateBitmap(b);
  test_util::capture_stdout([] { GFX_DeleteBitmap(&d); });
  EXPECT_EQ(GFX_PendingUploads(), 1);
  GLuint other = 0;
  glGenTextures(1, &other);
  glBindTexture(GL_TEXTURE_2D, other);
  EXPECT_TRUE(GFX_UploadPendingTexture());
  EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), static_cast<GLint>(other));
  EXPECT_FALSE(GFX_UploadPendingTexture());
  EXPECT_EQ(GFX_PendingUploads(), 0);
  for (s_bitmap* bitmap : {&a, &b}) EXPECT_EQ(0, memcmp(Texels(bitmap->textureid, 2, 2).data(), bitmap->pixels, 16));

  // Off, a new bitmap is uploaded at once, as before.
  static s_bitmap e;
  test_util::capture_stdout([] { GFX_CreateBitmap(1, 1, &e); });
  EXPECT_EQ(GFX_PendingUploads(), 0);
  glDeleteTextures(1, &other);
  test_util::capture_stdout([] {
    for (s_bitmap* bitmap : {&a, &b, &c, &e}) GFX_DeleteBitmap(bitmap);
  });
}

TEST(GfxBitmap, DrawPixelSwapsRedAndBlueAndStaysInBounds) {
  uint32_t words[4] = {0x11111111u, 0x11111111u, 0x11111111u, 0x11111111u};
  s_bitmap b = {};
  b.width = 2;
  b.height = 2;
  b.pixels = words;
  GFX_DrawPixel(1, 0, static_cast<int>(0x80FF0000u), b);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&words[1]);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0x00);
  EXPECT_EQ(bytes[2], 0x00);
  EXPECT_EQ(bytes[3], 0x80);
  GFX_DrawPixel(0, 1, 0x12345678, b);
  EXPECT_EQ(words[2], 0x12785634u) << "alpha and green stay, red and blue swap";

  GFX_DrawPixel(2, 0, -1, b);   // x = width
  GFX_DrawPixel(0, -1, -1, b);  // y = -1
  GFX_DrawPixel(-1, 1, -1, b);
  GFX_DrawPixel(0, 2, -1, b);
  EXPECT_EQ(words[0], 0x11111111u);
  EXPECT_EQ(words[3], 0x11111111u);
  EXPECT_EQ(words[1], 0x800000FFu);

  s_bitmap none = {};
  none.width = 4;
  none.height = 4;
  GFX_DrawPixel(0, 0, -1, none);  // no buffer: nothing written, no crash
}

TEST(GfxBitmap, CreateRefusesSizesThatOverflow) {
  EnsureVideo();
  s_bitmap b = {};
  const std::string out = test_util::capture_stdout([&] {
    GFX_CreateBitmap(65536, 65536, &b);
    GFX_CreateBitmap(-1, 4, &b);
  });
  EXPECT_EQ(b.pixels, nullptr);
  EXPECT_EQ(b.textureid, 0u);
  EXPECT_NE(out.find("gfx: bitmap of 65536 x 65536 pixels refused"), std::string::npos) << out;
}

TEST(GfxBitmap, ListStopsAtTwoHundredAndFiftySix) {
  EXPECT_IN_CHILD({
    EnsureVideo();
    static s_bitmap bitmaps[GFX_MAX_BITMAPS + 1];
    test_util::capture_stdout([] {
      for (int i = 0; i < GFX_MAX_BITMAPS; i++) GFX_CreateBitmap(1, 1, &bitmaps[i]);
    });
    CHILD_CHECK(GFX_numbitmaps == GFX_MAX_BITMAPS);
    const std::string out = test_util::capture_stdout([] { GFX_CreateBitmap(1, 1, &bitmaps[GFX_MAX_BITMAPS]); });
    CHILD_CHECK(out.find("gfx: bitmap list full") != std::string::npos);
    CHILD_CHECK(GFX_numbitmaps == GFX_MAX_BITMAPS);
    CHILD_CHECK(GFX_bitmaplist[GFX_MAX_BITMAPS - 1] == &bitmaps[GFX_MAX_BITMAPS - 1]);
    CHILD_CHECK(bitmaps[GFX_MAX_BITMAPS].textureid != 0);  // still a usable bitmap
  });
}

// ---- PNG loading ------------------------------------------------------------------------

// A PNG whose header claims width x height over the pixels of `png` (whose
// data no longer matches: only a check of the header alone can name the size).
std::string Claiming(std::string png, uint32_t width, uint32_t height) {
  for (int k = 0; k < 4; k++) {
    png[16 + k] = static_cast<char>(width >> (24 - 8 * k));
    png[20 + k] = static_cast<char>(height >> (24 - 8 * k));
  }
  lodepng_chunk_generate_crc(reinterpret_cast<unsigned char*>(&png[8]));  // the header chunk
  return png;
}

class GfxPng : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::vector<uint8_t> one = {0x12, 0x34, 0x56, 0x78};
    std::vector<uint8_t> wide(5 * 3 * 4);
    for (size_t i = 0; i < wide.size(); i++) wide[i] = static_cast<uint8_t>(i * 7 + 1);
    one_png_ = Png(1, 1, one);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"one.png", one_png_},
        {"wide.png", Png(5, 3, wide)},
        {"bad.png", "nopng"},
        {"cut.png", one_png_.substr(0, one_png_.size() / 2)},
        {"side.png", Png(GFX_MAX_IMAGE_SIDE, 1, std::vector<uint8_t>(GFX_MAX_IMAGE_SIDE * 4))},
        {"over.png", Claiming(one_png_, GFX_MAX_IMAGE_SIDE + 1, 1)},
        {"tall.png", Claiming(one_png_, 1, 20000)},
        {"huge.png", Claiming(one_png_, 20000, 11250)}};
    test_util::pack("gfx_png.dat", files);
    files_ = std::map<std::string, std::string>(files.begin(), files.end());
    wide_ = wide;
  }
  void SetUp() override {
    EnsureVideo();
    test_util::capture_stdout([] { ASSERT_EQ(corefile_mountimage("gfx_png.dat", 0), 1); });
  }
  static std::string one_png_;
  static std::vector<uint8_t> wide_;
  static std::map<std::string, std::string> files_;  // what the image holds
};
std::map<std::string, std::string> GfxPng::files_;
std::string GfxPng::one_png_;
std::vector<uint8_t> GfxPng::wide_;

TEST_F(GfxPng, OnePixelImageLoadsIntoRecordAndTexture) {
  s_bitmap b = {};
  const std::string out = LoaderLines(test_util::capture_stdout([&] { LoadBitmapPNG("one.png", &b); }));
  ExpectCreated(b, 1, 1);
  ASSERT_NE(b.textureid, 0u);
  EXPECT_EQ(out, "pngbuffer loaded: one.png, " + std::to_string(one_png_.size()) +
                     "PNG width: 1,height:1\nbitmap textureid: " + std::to_string(b.textureid) + "\n");
  const uint8_t* stored = reinterpret_cast<const uint8_t*>(b.pixels);
  EXPECT_EQ(stored[0], 0x12);
  EXPECT_EQ(stored[1], 0x34);
  EXPECT_EQ(stored[2], 0x56);
  EXPECT_EQ(stored[3], 0x78);
  // The load leaves its texture bound, holding the pixel.
  EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), static_cast<GLint>(b.textureid));
  uint8_t texel[4] = {0, 0, 0, 0};
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
  EXPECT_EQ(texel[0], 0x12);
  EXPECT_EQ(texel[1], 0x34);
  EXPECT_EQ(texel[2], 0x56);
  EXPECT_EQ(texel[3], 0x78);
  test_util::capture_stdout([&] { GFX_DeleteBitmap(&b); });
}

TEST_F(GfxPng, RowsAndColumnsKeepTheirPlaces) {
  s_bitmap b = {};
  test_util::capture_stdout([&] { LoadBitmapPNG("wide.png", &b); });
  ASSERT_EQ(b.width, 5);
  ASSERT_EQ(b.height, 3);
  EXPECT_EQ(0, memcmp(b.pixels, wide_.data(), wide_.size()));
  std::vector<uint8_t> texels(wide_.size());
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  EXPECT_EQ(texels, wide_);
  test_util::capture_stdout([&] { GFX_DeleteBitmap(&b); });
}

TEST_F(GfxPng, CorruptImagePrintsBothMessagesOnOneLine) {
  s_bitmap b = {};
  const GLint bound = GetInt(GL_TEXTURE_BINDING_2D);
  const std::string out = LoaderLines(test_util::capture_stdout([&] { LoadBitmapPNG("bad.png", &b); }));
  const std::string prefix = "pngbuffer loaded: bad.png, 5Error loading image: ";
  ASSERT_EQ(out.compare(0, prefix.size(), prefix), 0) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
  EXPECT_EQ(out.back(), '\n');
  EXPECT_GT(out.size(), prefix.size() + 1) << "LodePNG's text follows";
  EXPECT_EQ(b.textureid, 0u);
  EXPECT_EQ(b.pixels, nullptr);
  EXPECT_EQ(b.width, 0);
  EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), bound) << "a failed load binds nothing";

  const std::string cut = LoaderLines(test_util::capture_stdout([&] { LoadBitmapPNG("cut.png", &b); }));
  EXPECT_NE(cut.find("Error loading image: "), std::string::npos) << cut;
  EXPECT_EQ(b.textureid, 0u);
}

// A picture wider or taller than any texture may be is refused from its
// header by the one-file loader, the list loader and a replacement alike, the
// reason on the loaders' failure line. The largest side that fits loads.
TEST_F(GfxPng, PicturesLargerThanATextureAreRefusedFromTheirHeader) {
  const int limit = GFX_MaxImageSide();
  EXPECT_EQ(limit, std::min(GetInt(GL_MAX_TEXTURE_SIZE), GFX_MAX_IMAGE_SIDE));
  struct Case {
    const char* name;
    unsigned width, height;
  };
  for (const Case& c : {Case{"side.png", GFX_MAX_IMAGE_SIDE, 1}, Case{"over.png", GFX_MAX_IMAGE_SIDE + 1, 1},
                        Case{"tall.png", 1, 20000}, Case{"huge.png", 20000, 11250}}) {
    const bool fits = c.width <= static_cast<unsigned>(limit) && c.height <= static_cast<unsigned>(limit);
    const std::string& png = files_[c.name];
    const std::string reason = std::to_string(c.width) + " x " + std::to_string(c.height) +
                               " pixels, larger than the " + std::to_string(limit) + " pixels a side a texture takes here";
    s_bitmap one = {}, listed = {};
    s_bitmap* const records[] = {&listed};
    const std::string out = LoaderLines(test_util::capture_stdout([&] {
      LoadBitmapPNG(c.name, &one);
      LoadBitmapsPNG(&c.name, records, 1, nullptr);
    }));
    const std::string refused = "pngbuffer loaded: " + std::string(c.name) + ", " + std::to_string(png.size()) +
                                "Error loading image: " + reason + "\n";
    if (fits) {
      EXPECT_EQ(out.find("Error"), std::string::npos) << out;
    } else {
      EXPECT_EQ(out, refused + refused);
    }
    EXPECT_EQ(one.textureid != 0 && listed.textureid != 0, fits) << c.name;
    s_bitmap replaced = {};
    char why[160] = "";
    test_util::capture_stdout([&] {
      GFX_ReplaceBitmapPNG(&replaced, reinterpret_cast<const unsigned char*>(png.data()), png.size(), why, sizeof why);
    });
    EXPECT_EQ(why, fits ? std::string() : reason) << "a replacement reads the header first too";
    test_util::capture_stdout([&] {
      for (s_bitmap* b : {&one, &listed, &replaced}) GFX_DeleteBitmap(b);
    });
  }
}

// A replacement counts only when the driver took the pixels: a GL error on
// the way (here: the name is a cube map's, which GL will not bind as a 2D
// texture) leaves the record as it was and says so.
TEST_F(GfxPng, AReplacementTheDriverRefusesChangesNothing) {
  s_bitmap record = {};
  const uint32_t red = 0xFF0000FFu;
  test_util::capture_stdout([&] { ASSERT_EQ(GFX_ReplaceBitmap(&record, 1, 1, &red), 1); });
  GLuint cube = 0;
  glGenTextures(1, &cube);
  glBindTexture(GL_TEXTURE_CUBE_MAP, cube);
  std::swap(record.textureid, cube);
  const s_bitmap before = record;
  char why[160] = "";
  const std::string& png = files_["wide.png"];
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(png.data());
  EXPECT_EQ(GFX_ReplaceBitmapPNG(&record, bytes, png.size(), why, sizeof why), 0);
  EXPECT_STREQ(why, "the driver refused the texture upload (GL error 0x0502)");
  EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
  EXPECT_EQ(record.pixels[0], red);
  std::swap(record.textureid, cube);
  glDeleteTextures(1, &cube);
  test_util::capture_stdout([&] { GFX_DeleteBitmap(&record); });
}

TEST_F(GfxPng, MissingFileLeavesTheRecordUntouched) {
  s_bitmap b = {};
  b.width = 77;
  const std::string out = LoaderLines(test_util::capture_stdout([&] { LoadBitmapPNG("nope.png", &b); }));
  EXPECT_EQ(out, "- couldn't open file: nope.png\n");
  EXPECT_EQ(b.textureid, 0u);
  EXPECT_EQ(b.width, 77);
}

// ---- The list loader and its decode step ----------------------------------------------------

// Test pictures: w x h RGBA with a pattern per colour model (random bytes
// for RGBA; opaque, grey or four-colour pictures for the models that need them).
std::vector<uint8_t> Picture(unsigned w, unsigned h, int kind) {
  std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
  uint32_t seed = 0x9E3779B9u * static_cast<uint32_t>(kind + 1);
  for (size_t i = 0; i < rgba.size(); i += 4) {
    seed = seed * 1664525u + 1013904223u;
    const uint8_t v = static_cast<uint8_t>(seed >> 24);
    switch (kind) {
      case 0: for (int c = 0; c < 4; c++) rgba[i + c] = static_cast<uint8_t>(seed >> (8 * c)); break;  // any
      case 1: rgba[i] = v; rgba[i + 1] = static_cast<uint8_t>(seed >> 16); rgba[i + 2] = static_cast<uint8_t>(seed >> 8); rgba[i + 3] = 255; break;
      case 2: rgba[i] = rgba[i + 1] = rgba[i + 2] = v; rgba[i + 3] = static_cast<uint8_t>(seed >> 8); break;  // grey
      default: {  // four colours, one translucent and one the colour key 10,20,30
        static const uint8_t kFour[4][4] = {{10, 20, 30, 0}, {200, 0, 0, 255}, {0, 90, 255, 128}, {255, 255, 255, 255}};
        std::copy(kFour[v % 4], kFour[v % 4] + 4, rgba.begin() + static_cast<long>(i));
      }
    }
  }
  return rgba;
}

// The picture encoded as a PNG of the given colour model (auto_convert off).
std::string EncodeAs(const std::vector<uint8_t>& rgba, unsigned w, unsigned h, LodePNGColorType type, unsigned bits,
                     unsigned interlace = 0) {
  lodepng::State state;
  state.encoder.auto_convert = 0;
  state.info_png.color.colortype = type;
  state.info_png.color.bitdepth = bits;
  state.info_png.interlace_method = interlace;
  if (type == LCT_PALETTE) {
    const uint8_t kFour[4][4] = {{10, 20, 30, 0}, {200, 0, 0, 255}, {0, 90, 255, 128}, {255, 255, 255, 255}};
    for (const auto& c : kFour) {
      lodepng_palette_add(&state.info_png.color, c[0], c[1], c[2], c[3]);
      lodepng_palette_add(&state.info_raw, c[0], c[1], c[2], c[3]);
    }
  }
  std::vector<unsigned char> png;
  EXPECT_EQ(lodepng::encode(png, rgba, w, h, state), 0u) << type << "/" << bits;
  return std::string(png.begin(), png.end());
}

// The file with one byte of its first IDAT chunk's data changed; with
// fixcrc the chunk's CRC is made right again, so the damage reaches the inflater.
std::string DamageIdat(std::string png, bool fixcrc) {
  unsigned char* bytes = reinterpret_cast<unsigned char*>(&png[0]);
  unsigned char* chunk = lodepng_chunk_find(bytes + 8, bytes + png.size(), "IDAT");
  EXPECT_NE(chunk, nullptr);
  lodepng_chunk_data(chunk)[lodepng_chunk_length(chunk) / 2] ^= 0x5A;
  if (fixcrc) lodepng_chunk_generate_crc(chunk);
  return png;
}

// Every colour model the decoder can meet, and files damaged in every way
// the loader must report: (name, bytes).
std::vector<std::pair<std::string, std::string>> DecodeCases() {
  const unsigned w = 37, h = 23;
  std::vector<std::pair<std::string, std::string>> cases = {
      {"rgba8.png", EncodeAs(Picture(w, h, 0), w, h, LCT_RGBA, 8)},
      {"rgb8.png", EncodeAs(Picture(w, h, 1), w, h, LCT_RGB, 8)},
      {"grey8.png", EncodeAs(Picture(w, h, 2), w, h, LCT_GREY, 8)},
      {"greyalpha8.png", EncodeAs(Picture(w, h, 2), w, h, LCT_GREY_ALPHA, 8)},
      {"palette2.png", EncodeAs(Picture(w, h, 3), w, h, LCT_PALETTE, 2)},
      {"rgb16.png", EncodeAs(Picture(w, h, 1), w, h, LCT_RGB, 16)},
      {"rgba8_adam7.png", EncodeAs(Picture(w, h, 0), w, h, LCT_RGBA, 8, 1)},
      {"rgb8_adam7.png", EncodeAs(Picture(w, h, 1), w, h, LCT_RGB, 8, 1)},
  };
  // 8-bit RGB with a colour key: the key's pixels decode transparent.
  std::vector<uint8_t> keyed = Picture(w, h, 3);
  for (size_t i = 0; i < keyed.size(); i += 4) keyed[i + 3] = keyed[i] == 10 ? 0 : 255;
  {
    lodepng::State state;
    state.encoder.auto_convert = 0;
    state.info_png.color.colortype = LCT_RGB;
    state.info_png.color.key_defined = 1;
    state.info_png.color.key_r = 10;
    state.info_png.color.key_g = 20;
    state.info_png.color.key_b = 30;
    std::vector<unsigned char> png;
    EXPECT_EQ(lodepng::encode(png, keyed, w, h, state), 0u);
    cases.push_back({"rgb8_key.png", std::string(png.begin(), png.end())});
  }
  const std::string good = cases[1].second;
  cases.push_back({"garbage.png", "nopng"});
  cases.push_back({"cut.png", good.substr(0, good.size() / 2)});
  cases.push_back({"crc.png", DamageIdat(good, false)});
  cases.push_back({"inflate.png", DamageIdat(good, true)});
  cases.push_back({"empty.png", ""});
  return cases;
}

// The decode step on its own gives what lodepng_decode32 gives: the same
// verdict, size and pixels, in every colour model and for every damage.
TEST(GfxPngDecode, SameVerdictAndPixelsAsTheLibrary) {
  for (const auto& [name, bytes] : DecodeCases()) {
    SCOPED_TRACE(name);
    unsigned char* expected = nullptr;
    unsigned w = 0, h = 0;
    const unsigned status = lodepng_decode32(&expected, &w, &h, reinterpret_cast<const unsigned char*>(bytes.data()),
                                             bytes.size());
    s_pngload load = {};
    load.filename = name.c_str();
    load.size = static_cast<int>(bytes.size());
    load.maxside = GFX_MAX_IMAGE_SIDE;
    load.file = static_cast<unsigned char*>(malloc(bytes.size() + 1));
    memcpy(load.file, bytes.data(), bytes.size());
    gfx_pngdecode(&load);
    EXPECT_EQ(load.status, status) << lodepng_error_text(status);
    if (status == 0) {
      ASSERT_NE(load.pixels, nullptr);
      EXPECT_EQ(load.width, w);
      EXPECT_EQ(load.height, h);
      EXPECT_EQ(0, memcmp(load.pixels, expected, static_cast<size_t>(w) * h * 4));
    }
    free(expected);
    free(load.pixels);
    free(load.file);
  }
}

class GfxPngList : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The cases three times over, so that the workers queue up, with a file
    // the image lacks in the middle.
    std::vector<std::pair<std::string, std::string>> files;
    for (int round = 0; round < 3; round++) {
      for (const auto& [name, bytes] : DecodeCases()) {
        files.push_back({std::to_string(round) + name, bytes});
        names_.push_back(std::to_string(round) + name);
      }
      if (round == 1) names_.push_back("absent.png");
    }
    test_util::pack("gfx_pnglist.dat", files);
  }
  void SetUp() override {
    EnsureVideo();
    test_util::capture_stdout([] { ASSERT_EQ(corefile_mountimage("gfx_pnglist.dat", 0), 1); });
  }
  static std::vector<std::string> names_;
};
std::vector<std::string> GfxPngList::names_;

// What the callback saw: (index, texture bound on the active unit).
std::vector<std::pair<int, GLint>> g_loaded;
void RecordLoaded(int index) { g_loaded.push_back({index, GetInt(GL_TEXTURE_BINDING_2D)}); }

// Texture ids out of the "bitmap textureid: N" lines, which become "N?".
std::string WithoutTextureIds(const std::string& text, std::vector<unsigned>* ids) {
  const std::string tag = "bitmap textureid: ";
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(at, end - at);
    if (line.rfind(tag, 0) == 0) {
      ids->push_back(static_cast<unsigned>(std::stoul(line.substr(tag.size()))));
      line = tag + "N?\n";
    }
    out += line;
    at = end;
  }
  return out;
}

TEST_F(GfxPngList, SameLinesRecordsAndTexturesAsOneByOne) {
  const int n = static_cast<int>(names_.size());
  std::vector<s_bitmap> serial(static_cast<size_t>(n)), listed(static_cast<size_t>(n));
  for (s_bitmap& b : listed) b.width = 77;  // a failed load leaves the record as it was
  std::string one_by_one;
  for (int k = 0; k < n; k++)
    one_by_one += test_util::capture_stdout([&] { LoadBitmapPNG(names_[static_cast<size_t>(k)].c_str(), &serial[static_cast<size_t>(k)]); });

  std::vector<const char*> files;
  std::vector<s_bitmap*> records;
  for (int k = 0; k < n; k++) {
    files.push_back(names_[static_cast<size_t>(k)].c_str());
    records.push_back(&listed[static_cast<size_t>(k)]);
  }
  g_loaded.clear();
  const int firstlisted = GFX_numbitmaps;
  glBindTexture(GL_TEXTURE_2D, 0);
  const std::string at_once =
      test_util::capture_stdout([&] { LoadBitmapsPNG(files.data(), records.data(), n, RecordLoaded); });

  // The same text, the file system's lines included, each file's lines
  // together; only the texture ids differ, and they are the records' own, in order.
  std::vector<unsigned> serialids, listedids, made;
  EXPECT_EQ(WithoutTextureIds(at_once, &listedids), WithoutTextureIds(one_by_one, &serialids));
  EXPECT_NE(at_once.find("couldn't find file: absent.png\n- couldn't open file: absent.png\n"), std::string::npos);
  EXPECT_NE(at_once.find("pngbuffer loaded: 1inflate.png, "), std::string::npos);
  ASSERT_EQ(g_loaded.size(), static_cast<size_t>(n));
  GLint bound = 0;
  int decoded = 0;
  for (int k = 0; k < n; k++) {
    SCOPED_TRACE(names_[static_cast<size_t>(k)]);
    const s_bitmap& a = serial[static_cast<size_t>(k)];
    const s_bitmap& b = listed[static_cast<size_t>(k)];
    EXPECT_EQ(g_loaded[static_cast<size_t>(k)].first, k) << "called in list order";
    if (a.textureid == 0) {
      EXPECT_EQ(b.textureid, 0u);
      EXPECT_EQ(b.pixels, nullptr);
      EXPECT_EQ(b.width, 77);
      EXPECT_EQ(g_loaded[static_cast<size_t>(k)].second, bound) << "a failed load binds nothing";
      continue;
    }
    made.push_back(b.textureid);
    bound = static_cast<GLint>(b.textureid);
    EXPECT_EQ(g_loaded[static_cast<size_t>(k)].second, bound) << "its texture is bound in the callback";
    ASSERT_NE(b.pixels, nullptr);
    EXPECT_EQ(b.width, a.width);
    EXPECT_EQ(b.height, a.height);
    EXPECT_EQ(b.size, a.size);
    EXPECT_EQ(b.s1, a.s1);
    EXPECT_EQ(b.t1, a.t1);
    EXPECT_EQ(0, memcmp(a.pixels, b.pixels, static_cast<size_t>(a.size)));
    std::vector<uint8_t> texels(static_cast<size_t>(b.size));
    glBindTexture(GL_TEXTURE_2D, b.textureid);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    EXPECT_EQ(0, memcmp(texels.data(), b.pixels, texels.size()));
    ASSERT_LT(firstlisted + decoded, GFX_MAX_BITMAPS);
    EXPECT_EQ(GFX_bitmaplist[firstlisted + decoded], &b) << "listed in list order";
    decoded++;
  }
  EXPECT_EQ(listedids, made);
  EXPECT_TRUE(std::is_sorted(made.begin(), made.end())) << "textures made in list order";
  EXPECT_EQ(decoded, 3 * 9);
  EXPECT_EQ(test_util::capture_stdout([] { LoadBitmapsPNG(nullptr, nullptr, 0, RecordLoaded); }), "");
  for (s_bitmap& b : serial) test_util::capture_stdout([&] { GFX_DeleteBitmap(&b); });
  for (s_bitmap& b : listed) test_util::capture_stdout([&] { GFX_DeleteBitmap(&b); });
}

// In two halves, with other output between them: the read prints nothing,
// the finish prints what the one-call load prints. A dropped batch prints
// and creates nothing.
TEST_F(GfxPngList, ReadAheadLoadsLikeTheOneCallAndCanBeDropped) {
  const int n = static_cast<int>(names_.size());
  std::vector<const char*> files;
  for (const std::string& name : names_) files.push_back(name.c_str());
  std::vector<s_bitmap> once(static_cast<size_t>(n)), halves(static_cast<size_t>(n));
  std::vector<s_bitmap*> oncep, halvesp;
  for (int k = 0; k < n; k++) {
    oncep.push_back(&once[static_cast<size_t>(k)]);
    halvesp.push_back(&halves[static_cast<size_t>(k)]);
  }
  std::vector<unsigned> ids;
  const std::string expected = WithoutTextureIds(
      test_util::capture_stdout([&] { LoadBitmapsPNG(files.data(), oncep.data(), n, nullptr); }), &ids);

  s_pngbatch* batch = nullptr;
  EXPECT_EQ(test_util::capture_stdout([&] { batch = StartBitmapsPNG(files.data(), n); }), "");
  ASSERT_NE(batch, nullptr);
  const std::string later = test_util::capture_stdout([&] {
    printf("between\n");
    FinishBitmapsPNG(batch, halvesp.data(), nullptr);
  });
  EXPECT_EQ(WithoutTextureIds(later, &ids), "between\n" + expected);
  for (int k = 0; k < n; k++) {
    const s_bitmap& a = once[static_cast<size_t>(k)];
    const s_bitmap& b = halves[static_cast<size_t>(k)];
    ASSERT_EQ(a.pixels == nullptr, b.pixels == nullptr);
    if (a.pixels) {
      EXPECT_EQ(0, memcmp(a.pixels, b.pixels, static_cast<size_t>(a.size)));
    }
  }

  const int listed = GFX_numbitmaps;
  EXPECT_EQ(test_util::capture_stdout([&] { DropBitmapsPNG(StartBitmapsPNG(files.data(), n)); }), "");
  EXPECT_EQ(GFX_numbitmaps, listed);
  EXPECT_EQ(StartBitmapsPNG(files.data(), 0), nullptr);
  FinishBitmapsPNG(nullptr, nullptr, nullptr);
  DropBitmapsPNG(nullptr);
  for (s_bitmap& b : once) test_util::capture_stdout([&] { GFX_DeleteBitmap(&b); });
  for (s_bitmap& b : halves) test_util::capture_stdout([&] { GFX_DeleteBitmap(&b); });
}

// Files that are all missing decode in no time, so the workers spend the
// whole load waiting for the next handover: the last one must still wake
// every one of them, or the load never returns. Many loads in a row, each
// with a deadline: a load that hangs ends the test program with a message.
TEST_F(GfxPngList, LoadsOfMissingFilesAlwaysReturn) {
  std::vector<std::string> names;
  for (int k = 0; k < 67; k++) names.push_back("missing" + std::to_string(k) + ".png");
  std::vector<const char*> files;
  for (const std::string& name : names) files.push_back(name.c_str());
  std::vector<s_bitmap> records(names.size());
  std::vector<s_bitmap*> pointers;
  for (s_bitmap& record : records) pointers.push_back(&record);

  std::atomic<bool> finished{false};
  std::thread watchdog([&finished] {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!finished && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (finished) return;
    fprintf(stderr, "LoadBitmapsPNG did not return: a worker waits forever\n");
    _exit(1);
  });
  test_util::capture_stdout([&] {
    for (int load = 0; load < 300; load++)
      LoadBitmapsPNG(files.data(), pointers.data(), static_cast<int>(files.size()), nullptr);
  });
  finished = true;
  watchdog.join();
  for (const s_bitmap& record : records) EXPECT_EQ(record.pixels, nullptr);
}

}  // namespace
