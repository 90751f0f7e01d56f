// gfx/framebuffer.cpp: offscreen framebuffers, texture channels, and the
// quad, the one drawing primitive of the show.
//
// Terms (framebuffer, render target, texture unit (here: channel), quad): see
// docs/ARCHITECTURE.md#glossary. Here, the framebuffer objects are
// GL_EXT_framebuffer_object's, and the render target is the one from the last
// GFX_SetFrameBuffer, or the window (object 0) after a caller binds it
// directly; GFX_FrameBuffer keeps pointing at the last selected entry either
// way, and the passes take their quad size from it.
//
// Threads: main thread only (GL context).
#include "gfx/gfx.h"

#include <cstdio>

#include "gfx/gfx_internal.h"
#include "gfx/gl.h"

// ---- Constants --------------------------------------------------------------------
namespace {
constexpr int kQuadIndices = 6;  // two triangles
}  // namespace

// ---- Globals ------------------------------------------------------------------------
s_framebuffer GFX_framebuffers[GFX_MAX_FRAMEBUFFERS];
s_framebufferdata GFX_framebufferdata[GFX_MAX_FRAMEBUFFERS];
int GFX_numframebuffers = 0;
s_framebuffer* GFX_FrameBuffer = nullptr;
const uint8_t quad_index[kQuadIndices] = {0, 3, 2, 0, 2, 1};

// ---- Internal functions -----------------------------------------------------------------
namespace {
bool IsFrameBuffer(int id) { return id >= 0 && id < GFX_numframebuffers; }
}  // namespace

// ---- Public functions --------------------------------------------------------------------
int GFX_CreateFrameBuffer(int width, int height, int /*unused*/) {
  if (GFX_numframebuffers >= GFX_MAX_FRAMEBUFFERS) {
    printf(GFX_MSG_FRAMEBUFFERS_FULL, GFX_MAX_FRAMEBUFFERS);
    return -1;
  }
  const int id = GFX_numframebuffers;
  GFX_framebuffers[id].width = width;
  GFX_framebuffers[id].height = height;
  GFX_framebuffers[id].data = id;

  glActiveTexture(GL_TEXTURE0);
  const GLuint texture = gfx_newtexture(GL_NEAREST, GL_CLAMP_TO_EDGE);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);

  GLuint framebuffer = 0;
  glGenFramebuffersEXT(1, &framebuffer);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
  glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, texture, 0);
  const GLenum status = glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT);
  if (status != GL_FRAMEBUFFER_COMPLETE_EXT) {
    // No line break: an incomplete framebuffer is still handed out.
    printf("glCheckFramebufferStatus: error %p", reinterpret_cast<void*>(static_cast<uintptr_t>(status)));
  }
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);

  GFX_framebufferdata[id].framebuffer = framebuffer;
  GFX_framebufferdata[id].texture = texture;
  GFX_numframebuffers++;
  return id;
}

void GFX_SetFrameBuffer(int id) {
  if (!IsFrameBuffer(id)) return;
  GFX_FrameBuffer = &GFX_framebuffers[id];
  const s_framebufferdata& data = GFX_framebufferdata[GFX_FrameBuffer->data];
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, data.framebuffer);
  glBindTexture(GL_TEXTURE_2D, data.texture);
  glViewport(0, 0, GFX_FrameBuffer->width, GFX_FrameBuffer->height);
  // One unit stays one pixel of the target, origin top-left, whatever its
  // size: a quad of the framebuffer's size covers it exactly, and the post
  // pass's quad (the composite's size) covers whatever viewport the driver
  // then chooses in the window.
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0.0, GFX_FrameBuffer->width, GFX_FrameBuffer->height, 0.0, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
}

void GFX_DrawFrameBuffer(int x, int y, int width, int height, int id) {
  GFX_BindTexture(static_cast<int>(GFX_FrameBufferTexture(id)));
  // t runs from 1 at the top to 0 at the bottom: a picture rendered through
  // the top-left projection shows upright.
  GFX_DrawQuad(static_cast<float>(x), static_cast<float>(y), static_cast<float>(width),
               static_cast<float>(height), 0.0f, 1.0f, 1.0f, 0.0f);
}

void GFX_DrawQuad(float x, float y, float width, float height, float s0, float t0, float s1, float t1) {
  // Client memory for one draw call only; nothing is uploaded or kept.
  const GLfloat vertices[4 * 3] = {
      x,         y,          0.0f,  //
      x + width, y,          0.0f,  //
      x + width, y + height, 0.0f,  //
      x,         y + height, 0.0f,
  };
  const GLfloat texcoords[4 * 2] = {s0, t0, s1, t0, s1, t1, s0, t1};
  glVertexPointer(3, GL_FLOAT, 0, vertices);
  glTexCoordPointer(2, GL_FLOAT, 0, texcoords);
#ifdef __EMSCRIPTEN__
  // The browser's GL emulation reads client-side indices as 16-bit only:
  // the same two triangles (0 1 2, 0 2 3) as a fan.
  glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
#else
  glDrawElements(GL_TRIANGLES, kQuadIndices, GL_UNSIGNED_BYTE, quad_index);
#endif
}

void GFX_BindTexture(int texture) {
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
  // A texture that still waits for its pixels gets them before any draw reads it.
  if (gfx_pendinguploads > 0) gfx_uploadifpending(static_cast<GLuint>(texture));
}

void GFX_BindTextureChannel(int texture, int channel) {
  if (channel >= 0 && channel <= GFX_MAX_CHANNEL) glActiveTexture(GL_TEXTURE0 + channel);
  GFX_BindTexture(texture);
}

uint32_t GFX_FrameBufferTexture(int id) {
  if (!IsFrameBuffer(id)) return 0;
  return GFX_framebufferdata[GFX_framebuffers[id].data].texture;
}

bool GFX_ResizeFrameBuffer(int id, int width, int height) {
  if (!IsFrameBuffer(id) || width < 1 || height < 1) return false;
  GFX_framebuffers[id].width = width;
  GFX_framebuffers[id].height = height;
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, GFX_framebufferdata[id].texture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  return true;
}

void GFX_SetFrameBufferFilter(int id, bool linear) {
  if (!IsFrameBuffer(id)) return;
  const GLint filter = linear ? GL_LINEAR : GL_NEAREST;
  GLint bound = 0;  // the active unit's texture, given back afterwards
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  glBindTexture(GL_TEXTURE_2D, GFX_framebufferdata[id].texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
}
