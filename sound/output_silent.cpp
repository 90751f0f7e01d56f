// output_silent: the outputs without a sound device.
//
// The silent output plays nothing but keeps the ring's rhythm: a device thread
// "plays" one queued slot every 2048 / 44100 s on the steady clock and hands
// it back, so the music's position advances in real time and the show runs as
// it would with sound. Deadlines are counted from the start (not from the last
// wake-up), so late wake-ups do not add up; after a stall of more than the
// whole ring the schedule starts afresh instead of racing to catch up.
//
// The manual output has no thread at all: each completion is the caller's own
// call to fillnextbuffer (offline rendering, tests).
//
// Threads: open, start and stop run on the main thread; silent_run on the
// silent output's device thread.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "sound/sound_internal.h"

// ---- Constants ------------------------------------------------------------------------

namespace {

constexpr int64_t kSlotNumerator = int64_t{AUDIO_SLOT_FRAMES} * AUDIO_NS_PER_S;  // ns x Hz per slot
constexpr int kStallSlots = AUDIO_NUM_SLOTS;  // slots late before the schedule restarts

}  // namespace

// ---- Globals ----------------------------------------------------------------------------

namespace {

// The silent output's state.
struct s_silentoutput {
  std::thread thread;            // the device thread, running silent_run
  std::mutex wakelock;           // guards stop
  std::condition_variable wake;  // wakes the device thread early to stop
  bool stop = false;             // set by silent_stop: the device thread ends
};

s_silentoutput g_silent;

}  // namespace

// ---- Internal functions -------------------------------------------------------------------

namespace {

// The end of slot k after the start, in ns; exact over days of running.
int64_t slotdeadline(int64_t start_ns, int64_t k) { return start_ns + k * kSlotNumerator / AUDIO_DEVICE_RATE; }

// Device thread of the silent output.
void silent_run(int64_t start_ns) {
  int play = 0;     // the slot being "played"
  int64_t k = 1;    // slots since the start
  for (;;) {
    const int64_t deadline = slotdeadline(start_ns, k);
    {
      std::unique_lock<std::mutex> wake(g_silent.wakelock);
      const auto until = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(deadline));
      if (g_silent.wake.wait_until(wake, until, [] { return g_silent.stop; })) return;
    }
    {
      std::lock_guard<std::mutex> guard(g_sound_lock);
      // An unqueued slot is an underrun: the device waits for it, in order.
      if (g_audio_buffer && g_hdr[play].queued) {
        audiodriver_completeLocked(deadline, 0);
        play = (play + 1) % AUDIO_NUM_SLOTS;
      }
    }
    k++;
    const int64_t now = sound_now_ns();
    if (now - slotdeadline(start_ns, k) > kStallSlots * kSlotNumerator / AUDIO_DEVICE_RATE) {
      start_ns = now;
      k = 1;
    }
  }
}

// Both outputs here open at once: there is no device that could fail.
int open_nodevice(const s_waveformat*) { return 1; }

void silent_start(int64_t start_ns) {
  {
    std::lock_guard<std::mutex> wake(g_silent.wakelock);
    g_silent.stop = false;
  }
  g_silent.thread = std::thread(silent_run, start_ns);
}

void silent_stop() {
  {
    std::lock_guard<std::mutex> wake(g_silent.wakelock);
    g_silent.stop = true;
  }
  g_silent.wake.notify_all();
  if (g_silent.thread.joinable()) g_silent.thread.join();
}

}  // namespace

// ---- Public functions ---------------------------------------------------------------------

const s_audiooutput audio_output_silent = {AUDIO_OUTPUT_SILENT, open_nodevice, silent_start, silent_stop};
// No device thread: start and stop have nothing to do.
const s_audiooutput audio_output_manual = {AUDIO_OUTPUT_MANUAL, open_nodevice, nullptr, nullptr};
