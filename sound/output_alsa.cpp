// output_alsa: the ALSA output, the "default" PCM.
//
// Through "default" (or the PCM named by SPROX_ALSA_DEVICE) the show plays on a bare ALSA card as well as through
// PulseAudio or PipeWire. The PCM is opened non-blocking, so opening never
// hangs on a busy or absent device, and stays non-blocking: the device thread
// writes the queued slots in ring order with snd_pcm_writei, waits for room
// with snd_pcm_wait (bounded, so a stop request is seen within one wait), and
// when a slot's last frame has gone to the device hands the slot back to the
// driver together with snd_pcm_delay, the frames the device still holds ahead
// of it. Underruns are recovered with snd_pcm_recover; a device that fails for
// good is replaced by the steady clock's pacing, so the show keeps running.
//
// Threads: open, start and stop run on the main thread; alsa_run on the
// output's device thread.

#include <cstdio>
#include <cstdlib>

#include "sound/sound_internal.h"
#include "sound/sound_messages.h"

#ifndef SPROX_NO_ALSA

#include <alsa/asoundlib.h>

#include <atomic>
#include <thread>

// ---- Constants ------------------------------------------------------------------------

namespace {

constexpr const char* kDeviceName = "default";
constexpr const char* kDeviceEnvironment = "SPROX_ALSA_DEVICE";  // another PCM name, e.g. "null" or "hw:1"
constexpr unsigned kDeviceLatencyUs = 100000;  // the device's own buffer, about two slots
constexpr int kWaitMs = 50;                    // longest wait for room, so stop is seen quickly
constexpr int64_t kSlotNs = int64_t{AUDIO_SLOT_FRAMES} * AUDIO_NS_PER_S / AUDIO_DEVICE_RATE;

}  // namespace

// ---- Globals ----------------------------------------------------------------------------

namespace {

// The ALSA output's state: the PCM opens on the main thread before the device
// thread starts and closes after it has been joined.
struct s_alsaoutput {
  snd_pcm_t* pcm = nullptr;       // the open PCM, null when closed
  std::thread thread;             // the device thread, running alsa_run
  std::atomic<bool> stop{false};  // set by alsa_stop: the device thread ends
  int framebytes = 0;             // bytes per frame
};

s_alsaoutput g_alsa;

}  // namespace

// ---- Internal functions -------------------------------------------------------------------

namespace {

// alsa-lib reports to standard error on its own; a missing card is an
// expected case here, told by one line of ours instead.
void quiet_errors(const char*, int, const char*, int, const char*, ...) {}

// Hands the played slot back; returns 0 when the driver is closing.
int completeslot(int64_t time_ns, uint32_t delay) {
  std::lock_guard<std::mutex> guard(g_sound_lock);
  return audiodriver_completeLocked(time_ns, delay);
}

// Device thread of the ALSA output.
void alsa_run() {
  int play = 0;        // the slot being written
  int written = 0;     // frames of it already with the device
  bool failed = false; // the device broke for good: pace by the steady clock
  int64_t next_ns = 0; // the next paced completion while failed
  while (!g_alsa.stop.load(std::memory_order_acquire)) {
    if (!audiodriver_slotqueued(play)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));  // underrun: wait for the slot
      continue;
    }
    if (failed) {
      std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(next_ns)));
      completeslot(next_ns, 0);
      next_ns += kSlotNs;
      play = (play + 1) % AUDIO_NUM_SLOTS;
      continue;
    }
    const uint8_t* data = audiodriver_slotdata(play) + written * g_alsa.framebytes;
    snd_pcm_sframes_t result = snd_pcm_writei(g_alsa.pcm, data, AUDIO_SLOT_FRAMES - written);
    if (result == -EAGAIN) {
      snd_pcm_wait(g_alsa.pcm, kWaitMs);
      continue;
    }
    if (result < 0) {
      if (snd_pcm_recover(g_alsa.pcm, static_cast<int>(result), 1) < 0) {
        std::printf(kMsgAlsaFailed, snd_strerror(static_cast<int>(result)));
        failed = true;
        next_ns = sound_now_ns() + kSlotNs;
      }
      continue;
    }
    written += static_cast<int>(result);
    if (written < AUDIO_SLOT_FRAMES) continue;
    written = 0;
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_delay(g_alsa.pcm, &delay) < 0 || delay < 0) delay = 0;
    completeslot(sound_now_ns(), static_cast<uint32_t>(delay));
    play = (play + 1) % AUDIO_NUM_SLOTS;
  }
}

int alsa_open(const s_waveformat* format) {
  static bool quieted = false;
  if (!quieted) {
    snd_lib_error_set_handler(quiet_errors);
    quieted = true;
  }
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, audio_alsa_devicename(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return 0;
  const snd_pcm_format_t sampleformat = format->bitspersample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
  if (snd_pcm_set_params(pcm, sampleformat, SND_PCM_ACCESS_RW_INTERLEAVED, format->channels,
                         format->samplespersec, 1, kDeviceLatencyUs) < 0) {
    snd_pcm_close(pcm);
    return 0;
  }
  g_alsa.pcm = pcm;
  g_alsa.framebytes = format->blockalign;
  return 1;
}

void alsa_start(int64_t start_ns) {
  (void)start_ns;
  g_alsa.stop.store(false, std::memory_order_release);
  g_alsa.thread = std::thread(alsa_run);
}

void alsa_stop() {
  g_alsa.stop.store(true, std::memory_order_release);
  if (g_alsa.thread.joinable()) g_alsa.thread.join();
  if (g_alsa.pcm) {
    snd_pcm_drop(g_alsa.pcm);
    snd_pcm_close(g_alsa.pcm);
    g_alsa.pcm = nullptr;
  }
}

}  // namespace

const char* audio_alsa_devicename() {
  const char* name = std::getenv(kDeviceEnvironment);
  return name && *name ? name : kDeviceName;
}

// ---- Public functions ---------------------------------------------------------------------

const s_audiooutput audio_output_alsa = {AUDIO_OUTPUT_ALSA, alsa_open, alsa_start, alsa_stop};

#else  // SPROX_NO_ALSA

namespace {

// Built without ALSA: the output never opens, and has no device thread.
int alsa_open(const s_waveformat*) { return 0; }

}  // namespace

const char* audio_alsa_devicename() { return "default"; }

// ---- Public functions ---------------------------------------------------------------------

const s_audiooutput audio_output_alsa = {AUDIO_OUTPUT_ALSA, alsa_open, nullptr, nullptr};

#endif  // SPROX_NO_ALSA
