// output_waveout: the waveOut output, Windows' wave device (WAVE_MAPPER).
//
// The device is opened with a completion callback that only sets an event:
// Windows forbids waveOut calls inside that callback (it can deadlock), which
// is where the ring's refill would otherwise run. A refill thread of this
// output waits for the event and hands every slot the device has returned to
// waveout_refill (waveout_refill.cpp), which unprepares, mixes, prepares and
// writes each in ring order and sets the playback clock from
// waveOutGetPosition. The four priming slots, silent, are written by start.
//
// A device that fails (a call refused, or no slot back for kStallMs while the
// ring is queued) is left alone: one line says so, and the refill thread goes
// on pacing the ring by the steady clock, as the silent output does, so the
// show keeps running.
//
// Threads: open, start and stop run on the main thread; waveout_run on the
// refill thread; waveout_callback on the system's notification thread.

#ifdef _WIN32

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "sound/sound_internal.h"
#include "sound/sound_messages.h"

// ---- Constants ------------------------------------------------------------------------

namespace {

constexpr DWORD kWaitMs = 50;          // longest wait for a completion, so stop is seen quickly
constexpr int64_t kStallNs = 2000000000;  // no slot back for this long: the device has stopped
constexpr int64_t kSlotNs = int64_t{AUDIO_SLOT_FRAMES} * AUDIO_NS_PER_S / AUDIO_DEVICE_RATE;

}  // namespace

// ---- Globals ----------------------------------------------------------------------------

namespace {

// The waveOut output's state: the device opens on the main thread before the
// refill thread starts and closes after it has been joined.
struct s_waveoutput {
  HWAVEOUT device = nullptr;      // the open device, null when closed
  HANDLE wake = nullptr;          // set by the callback on each completion, and by stop
  WAVEHDR headers[AUDIO_NUM_SLOTS];
  int framebytes = 0;             // bytes per frame
  std::thread thread;             // the refill thread, running waveout_run
  std::atomic<bool> stop{false};  // set by waveout_stop: the refill thread ends
  uint32_t written = 0;           // frames written since the start (refill thread)
};

s_waveoutput g_waveout;

}  // namespace

// ---- Internal functions -------------------------------------------------------------------

namespace {

// The system's notification: a slot is back. Only wakes the refill thread.
void CALLBACK waveout_callback(HWAVEOUT, UINT message, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  if (message == WOM_DONE) SetEvent(g_waveout.wake);
}

int device_isdone(int slot) { return (g_waveout.headers[slot].dwFlags & WHDR_DONE) != 0; }

int device_unprepare(int slot) {
  WAVEHDR* header = &g_waveout.headers[slot];
  if (!(header->dwFlags & WHDR_PREPARED)) return 1;
  return waveOutUnprepareHeader(g_waveout.device, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
}

int device_prepare(int slot, uint8_t* data, int length) {
  WAVEHDR* header = &g_waveout.headers[slot];
  ZeroMemory(header, sizeof(WAVEHDR));
  header->lpData = reinterpret_cast<LPSTR>(data);
  header->dwBufferLength = static_cast<DWORD>(length);
  return waveOutPrepareHeader(g_waveout.device, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
}

int device_write(int slot) {
  return waveOutWrite(g_waveout.device, &g_waveout.headers[slot], sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
}

int device_position(uint32_t* frames) {
  MMTIME time;
  ZeroMemory(&time, sizeof time);
  time.wType = TIME_SAMPLES;
  if (waveOutGetPosition(g_waveout.device, &time, sizeof time) != MMSYSERR_NOERROR) return 0;
  if (time.wType == TIME_SAMPLES) {
    *frames = time.u.sample;
    return 1;
  }
  if (time.wType == TIME_BYTES && g_waveout.framebytes > 0) {  // the device may answer in bytes instead
    *frames = time.u.cb / static_cast<DWORD>(g_waveout.framebytes);
    return 1;
  }
  return 0;
}

const s_waveoutdevice kDevice = {device_isdone, device_unprepare, device_prepare, device_write, device_position};

// Refill thread of the waveOut output.
void waveout_run(bool failed) {
  // The refill has 139 ms of slack (three queued slots); the frame loop and
  // the GL driver's threads must not take it.
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  int64_t last_ns = sound_now_ns();  // when a slot last came back
  int64_t next_ns = last_ns + kSlotNs;  // the next paced completion while failed
  while (!g_waveout.stop.load(std::memory_order_acquire)) {
    if (failed) {
      std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(next_ns)));
      if (g_waveout.stop.load(std::memory_order_acquire)) break;
      std::lock_guard<std::mutex> guard(g_sound_lock);
      if (g_audio_buffer && g_hdr[g_cur_buf].queued) audiodriver_completeLocked(next_ns, 0);
      next_ns += kSlotNs;
      continue;
    }
    WaitForSingleObject(g_waveout.wake, kWaitMs);
    const int refilled = waveout_refill(&kDevice, &g_waveout.written);
    const int64_t now = sound_now_ns();
    if (refilled > 0) last_ns = now;
    const char* why = refilled < 0 ? "a buffer was refused" : now - last_ns > kStallNs ? "no buffer came back" : nullptr;
    if (!why) continue;
    std::printf(kMsgWaveoutFailed, why);
    failed = true;
    next_ns = now + kSlotNs;
  }
}

int waveout_open(const s_waveformat* format) {
  WAVEFORMATEX wave;
  ZeroMemory(&wave, sizeof wave);
  wave.wFormatTag = WAVE_FORMAT_PCM;
  wave.nChannels = format->channels;
  wave.nSamplesPerSec = format->samplespersec;
  wave.nAvgBytesPerSec = format->avgbytespersec;
  wave.nBlockAlign = format->blockalign;
  wave.wBitsPerSample = format->bitspersample;
  wave.cbSize = 0;
  g_waveout.wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!g_waveout.wake) return 0;
  HWAVEOUT device = nullptr;
  if (waveOutOpen(&device, WAVE_MAPPER, &wave, reinterpret_cast<DWORD_PTR>(waveout_callback), 0,
                  CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
    CloseHandle(g_waveout.wake);
    g_waveout.wake = nullptr;
    return 0;
  }
  g_waveout.device = device;
  g_waveout.framebytes = format->blockalign;
  ZeroMemory(g_waveout.headers, sizeof g_waveout.headers);
  return 1;
}

// Writes the four priming slots, slot 0 first, and starts the refill thread.
void waveout_start(int64_t start_ns) {
  (void)start_ns;
  bool failed = false;
  g_waveout.written = 0;
  for (int slot = 0; slot < AUDIO_NUM_SLOTS && !failed; slot++) {
    failed = !device_prepare(slot, g_hdr[slot].data, g_hdr[slot].length) || !device_write(slot);
    if (!failed) g_waveout.written += AUDIO_SLOT_FRAMES;
  }
  if (failed) std::printf(kMsgWaveoutFailed, "a buffer was refused");
  g_waveout.stop.store(false, std::memory_order_release);
  g_waveout.thread = std::thread(waveout_run, failed);
}

void waveout_stop() {
  g_waveout.stop.store(true, std::memory_order_release);
  if (g_waveout.wake) SetEvent(g_waveout.wake);
  if (g_waveout.thread.joinable()) g_waveout.thread.join();
  if (g_waveout.device) {
    waveOutReset(g_waveout.device);  // every queued slot comes back
    for (int slot = 0; slot < AUDIO_NUM_SLOTS; slot++) device_unprepare(slot);
    waveOutClose(g_waveout.device);
    g_waveout.device = nullptr;
  }
  if (g_waveout.wake) {
    CloseHandle(g_waveout.wake);
    g_waveout.wake = nullptr;
  }
}

}  // namespace

// ---- Public functions ---------------------------------------------------------------------

const s_audiooutput audio_output_waveout = {AUDIO_OUTPUT_WAVEOUT, waveout_open, waveout_start, waveout_stop};

#endif  // _WIN32
