// demo/main.cpp: the `sprox` entry point. Starts the show, then draws one
// frame per display refresh at the music's playback position until the
// window is asked to close (end mark, Escape, or the window system).
//
// Threads: main thread only.
#include "demo/demo.h"

#include <cstdio>

#include "gfx/gfx.h"
#include "gfx/gl.h"

int main() {
  // Whole lines reach a log file even when the show is killed; every line is
  // printed at start-up, so this costs the frame loop nothing.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  Demo_Startup(true);
  while (!glfwWindowShouldClose(GFX_window)) {
    // The audible position, low 32 bits as a signed offset in sample frames;
    // the copy is taken under the mixer's lock, which advances the original.
    const uint64_t position = Soundsystem_GetPlaybackOffset(Soundsystem_CopySound(&snd_demomusic));
    const int32_t offset = static_cast<int32_t>(static_cast<uint32_t>(position));
    Demo_RenderFrame(offset);
    GFX_SwapBuffers();
  }
  // Nothing else is released: the sound driver stops its own device thread
  // at exit, and the process exit reclaims the rest.
  glfwTerminate();
  return 0;
}
