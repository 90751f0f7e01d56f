// demo/keys.cpp: keyboard control. Escape ends the show at any time, F11
// switches between full screen and the window; Tab switches debug mode, which unlocks Enter (pause or resume the music) and the
// Left and Right arrows (seek to the previous or next event's start). The
// music's offset drives the whole timeline, so moving the music is all it
// takes to move the picture; the next frame recomputes the event from it.
//
// Threads: main thread, called by GLFW from inside GFX_SwapBuffers.
#include "demo/demo.h"
#include "demo/dev.h"

#include "gfx/gl.h"
#include "timeline/timeline.h"

// ---- Globals ----------------------------------------------------------------------
bool showdebug = false;
bool demopaused = false;

// ---- Internal functions ----------------------------------------------------------------
namespace {

// Moves the music to the start of `event`. The seek factor is slightly above
// the tick length, so the frame loop's division lands on the start tick (or
// just after it, for starts beyond tick 3460), never before it.
void SeekToEvent(int32_t event) {
  if (event < 0 || event >= TIMELINE_MAX_EVENTS) return;
  const double frames = demo.event[event].time * DEMO_SEEKFRAMESPERTICK;
  const uint64_t offset = frames > 0.0 ? static_cast<uint64_t>(frames) : 0;
  Soundsystem_SetSoundOffset(&snd_demomusic, offset);
}

void ResumeMusic() {
  Soundsystem_ResumeSound(&snd_demomusic);
  demopaused = false;
}

}  // namespace

// ---- Public functions ----------------------------------------------------------------------
void key_callback(GLFWwindow* window, int key, int /*scancode*/, int action, int /*mods*/) {
  // Releases and auto-repeats do nothing: holding a key acts once.
  if (action != GLFW_PRESS) return;

  if (key == GLFW_KEY_ESCAPE) glfwSetWindowShouldClose(window, 1);
  if (key == GLFW_KEY_TAB) showdebug = !showdebug;
  if (key == GLFW_KEY_F11) Demo_ToggleFullscreen();
  if (!showdebug) return;

  if (key == GLFW_KEY_ENTER) {
    if (!demopaused) {
      Soundsystem_PauseSound(&snd_demomusic);
      demopaused = true;
    } else {
      ResumeMusic();
    }
  }
  if (key == GLFW_KEY_LEFT) {
    ResumeMusic();
    if (demo.currentevent > 0) demo.currentevent--;
    SeekToEvent(demo.currentevent);
  }
  if (key == GLFW_KEY_RIGHT) {
    ResumeMusic();
    if (demo.currentevent + 1 < demo.numevents) demo.currentevent++;
    SeekToEvent(demo.currentevent);
  }
  // The scrub keys (beat, bar, start, Space, loop): demo/dev.h.
  Dev_Key(key);
}
