// demo/dev_readout.cpp: the scrub keys, the event loop and the debug
// read-out in the window title (see demo/dev.h).
//
// Seeks: the tick in force is the music's audible offset / 2739; a seek
// puts the music at exactly target x 2739 sample frames, which the playback
// clock answers at once, so two presses within one frame still step twice.
// The loop wraps a little before the next event's start (kLoopLead), so the
// frame drawn never belongs to the next event (for event 14, whose next is
// the end mark, that would end the show).
//
// The end mark: the makers' mode pauses the music there (once per arrival)
// instead of ending the show; a seek key then plays on from where it lands,
// and Left and Right resume as they always do.
//
// GL time: the frame's GPU time as the frame loop's pacing measures it (one
// timer query a frame while debug mode or the automatic scale is on, read a
// frame late so it never waits for the GPU).
//
// Threads: main thread only (GL context); Dev_Key inside GFX_SwapBuffers.
#include <chrono>
#include <cstdio>

#include "demo/demo.h"
#include "demo/pacing.h"
#include "demo/dev.h"
#include "demo/dev_internal.h"
#include "gfx/gfx.h"
#include "gfx/gl.h"
#include "sound/sound.h"
#include "timeline/timeline.h"

// ---- Constants -------------------------------------------------------------------------
namespace {
using Clock = std::chrono::steady_clock;
constexpr int kBeatTicks = 8;    // ticks between beat lines
constexpr int kBarTicks = 32;    // ticks between bar lines
constexpr auto kRefresh = std::chrono::milliseconds(250);  // the read-out's period
constexpr uint64_t kLoopLead = 1024;  // sample frames before the loop's end at which it wraps
constexpr int kTitleBytes = 512;

// The keys that step along the grid: the nearest line after or before the tick in force.
struct s_scrubkey {
  int key;
  int32_t spacing;  // ticks between the lines
  int direction;    // +1 the next line, -1 the previous
};
const s_scrubkey kScrubKeys[] = {
    {GLFW_KEY_UP, kBeatTicks, +1},
    {GLFW_KEY_DOWN, kBeatTicks, -1},
    {GLFW_KEY_PAGE_UP, kBarTicks, +1},
    {GLFW_KEY_PAGE_DOWN, kBarTicks, -1},
};
}  // namespace

// ---- Globals ---------------------------------------------------------------------------
namespace {

struct s_readout {
  bool shown = false;         // the title shows the read-out (or an error) now
  char title[kTitleBytes] = "";
  Clock::time_point since{};  // start of the current counting period
  int frames = 0;             // frames in it
  double fps = 0.0;
  int frame = 0;              // Dev_Frame calls so far
  bool looping = false;
  int32_t loopevent = 0;      // the event the loop holds
  bool heldatend = false;     // the pause is the end mark's, not the maker's
};
s_readout g_readout;

// ---- Internal functions ------------------------------------------------------------------

uint64_t AudibleFrames() { return Soundsystem_GetPlaybackOffset(Soundsystem_CopySound(&snd_demomusic)); }

int32_t TickInForce() { return static_cast<int32_t>(AudibleFrames() / TIMELINE_TICKLENGTH); }

void SeekTick(int32_t tick) {
  if (tick < 0) tick = 0;
  if (g_readout.heldatend) {
    // Away from the end mark the show plays on.
    g_readout.heldatend = false;
    Soundsystem_ResumeSound(&snd_demomusic);
    demopaused = false;
  }
  Soundsystem_SetSoundOffset(&snd_demomusic, static_cast<uint64_t>(tick) * TIMELINE_TICKLENGTH);
  if (g_readout.looping) g_readout.loopevent = GetTimingEvent(tick);
  std::printf("dev: seek to tick %d (bar %d.%d)%s\n", static_cast<int>(tick), tick / kBarTicks,
              tick % kBarTicks / kBeatTicks + 1, demopaused ? ", paused" : "");
}

// The nearest line of the grid after (+1) or before (-1) the tick, never the tick itself.
int32_t GridLine(int32_t tick, int32_t spacing, int direction) {
  if (direction > 0) return (tick / spacing + 1) * spacing;
  if (tick <= 0) return 0;
  return (tick - 1) / spacing * spacing;
}

void KeepLoop() {
  if (!g_readout.looping) return;
  const int32_t event = g_readout.loopevent;
  if (event < 0 || event + 1 >= demo.numevents) return;  // the last event has no end to wrap at
  const uint64_t start = static_cast<uint64_t>(demo.event[event].time) * TIMELINE_TICKLENGTH;
  const uint64_t end = static_cast<uint64_t>(demo.event[event + 1].time) * TIMELINE_TICKLENGTH;
  if (end <= start + kLoopLead) return;
  if (AudibleFrames() + kLoopLead >= end) Soundsystem_SetSoundOffset(&snd_demomusic, start);
}

void SetTitle() {
  s_readout& r = g_readout;
  int n = std::snprintf(r.title, kTitleBytes, "%s", DEMO_TITLE);
  if (showdebug) {
    const int32_t event = demo.currentevent;
    const int32_t state = event >= 0 && event <= TIMELINE_MAX_EVENTS ? demo.event[event].currentstate : -1;
    const int32_t tick = demo.tick;
    n += std::snprintf(r.title + n, kTitleBytes - n, " | event %d state %d | tick %d | bar %d.%d | %.1f fps | ",
                       static_cast<int>(event), static_cast<int>(state), static_cast<int>(tick), tick / kBarTicks,
                       tick % kBarTicks / kBeatTicks + 1, r.fps);
    const double gpu_ms = Pacing_GpuMilliseconds();
    if (n < kTitleBytes) {
      n += gpu_ms >= 0.0 ? std::snprintf(r.title + n, kTitleBytes - n, "%.1f ms", gpu_ms)
                           : std::snprintf(r.title + n, kTitleBytes - n, "- ms");
    }
    if (n < kTitleBytes && r.looping) n += std::snprintf(r.title + n, kTitleBytes - n, " | loop %d", r.loopevent);
  }
  if (n < kTitleBytes && dev_error[0]) std::snprintf(r.title + n, kTitleBytes - n, " | %s", dev_error);
  if (GFX_window) glfwSetWindowTitle(GFX_window, r.title);
}

}  // namespace

// ---- Public functions ------------------------------------------------------------------------
void devreadout_frame() {
  s_readout& r = g_readout;
  // Once the show has left the end mark, a pause is the maker's again.
  if (demo.currentevent <= DEMO_LASTSCENE) r.heldatend = false;
  KeepLoop();
  r.frame++;
  r.frames++;

  const Clock::time_point now = Clock::now();
  if (r.frame == 1) r.since = now;
  const bool wanted = showdebug || dev_error[0] != '\0';
  if (!wanted) {
    // Out of debug mode with nothing to report: the plain title, once.
    if (r.shown) SetTitle();
    r.shown = false;
    return;
  }
  if (r.shown && now - r.since < kRefresh) return;
  const double seconds = std::chrono::duration<double>(now - r.since).count();
  if (seconds > 0.0 && r.shown) r.fps = r.frames / seconds;
  r.since = now;
  r.frames = 0;
  r.shown = true;
  SetTitle();
}

bool Dev_Active() { return dev_active; }

bool Dev_HoldAtEnd() {
  if (!dev_active) return false;
  if (!demopaused) {
    Soundsystem_PauseSound(&snd_demomusic);
    demopaused = true;
    g_readout.heldatend = true;
    std::printf("dev: paused at the end mark (tick %d): Home, a seek key or the arrows go on\n",
                static_cast<int>(demo.tick));
  }
  return true;
}

void Dev_Key(int key) {
  for (const s_scrubkey& scrub : kScrubKeys)
    if (key == scrub.key) SeekTick(GridLine(TickInForce(), scrub.spacing, scrub.direction));
  if (key == GLFW_KEY_HOME) SeekTick(0);
  if (key == GLFW_KEY_SPACE) {
    g_readout.heldatend = false;
    if (!demopaused) {
      Soundsystem_PauseSound(&snd_demomusic);
    } else {
      Soundsystem_ResumeSound(&snd_demomusic);
    }
    demopaused = !demopaused;
    std::printf("dev: %s at tick %d\n", demopaused ? "paused" : "playing", static_cast<int>(TickInForce()));
  }
  if (key == GLFW_KEY_L) {
    g_readout.looping = !g_readout.looping;
    g_readout.loopevent = GetTimingEvent(TickInForce());
    if (g_readout.looping) {
      std::printf("dev: looping event %d\n", static_cast<int>(g_readout.loopevent));
    } else {
      std::printf("dev: loop off\n");
    }
  }
  // The event keys moved the music: a loop follows to the event they chose.
  if ((key == GLFW_KEY_LEFT || key == GLFW_KEY_RIGHT) && g_readout.looping) g_readout.loopevent = demo.currentevent;
}
