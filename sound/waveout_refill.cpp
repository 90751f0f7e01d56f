// waveout_refill: the waveOut output's refill, apart from the device.
//
// The ring's cycle is the driver's (audiodriver_completeLocked), in the
// driver's order with one change: each returned slot is unprepared, then
// mixed, then prepared and written. The driver would write the slot first and
// mix it after, trusting that the device reads it only three slots later;
// but the system's mixer may copy a header's bytes when it is written, so the
// slot is mixed first. Completions come in queue order, so slots are taken
// from g_cur_buf on while the device has marked them done; a slot returned
// out of order waits for those before it.
//
// This file holds no device call of its own (see s_waveoutdevice), so it
// builds on every platform and the tests drive it with a device of theirs.
//
// Threads: the waveOut output's refill thread (or a test's); takes
// g_sound_lock for the whole refill, which the device's callback never takes.

#include <mutex>

#include "sound/sound_internal.h"

int waveout_refill(const s_waveoutdevice* device, uint32_t* written) {
  std::lock_guard<std::mutex> guard(g_sound_lock);
  int refilled = 0;
  for (int n = 0; n < AUDIO_NUM_SLOTS; n++) {
    const int slot = g_cur_buf;
    if (!device->isdone(slot)) break;
    if (!device->unprepare(slot)) return -1;
    const int64_t now_ns = sound_now_ns();
    if (!audiodriver_completeLocked(now_ns, 0)) break;  // closing: nothing is queued again
    if (!device->prepare(slot, g_hdr[slot].data, g_hdr[slot].length) || !device->write(slot)) return -1;
    *written += AUDIO_SLOT_FRAMES;
    uint32_t played = 0;
    // Modular: right across the 32-bit counters' wrap (27 hours at 44100 Hz).
    if (device->position(&played) && *written - played <= AUDIO_NUM_SLOTS * AUDIO_SLOT_FRAMES)
      soundclock_completedLocked(now_ns, *written - played);
    refilled++;
  }
  return refilled;
}
