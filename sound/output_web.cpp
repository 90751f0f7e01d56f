// output_web: the Web Audio output, for the build that runs in a browser.
//
// The page's AudioContext (44100 Hz) pulls 2048-frame buffers through a
// ScriptProcessorNode (web/sprox_audio.js). Each pull plays the ring's next
// queued slot and hands it back to the driver, which mixes it again and
// queues it behind the other three: the same refill cycle as the ALSA
// output's, with Web Audio as the device. The node runs on the browser's main
// thread between frames, so the four queued slots (186 ms) are what a slow
// frame can take before the mixer falls behind; the node's own buffering
// holds the slot being played.
//
// The playback clock: at each pull the page tells how many frames lie between
// the loudspeaker and the start of the buffer being handed over (from the
// context's output timestamp), so the driver's latency covers the ring, that
// buffer and Web Audio's own output path, and the audible offset follows the
// context's output time.
//
// Threads: everything runs on the browser's main thread (open and start in
// audiodriver_init, web_audioprocess from the node's callback); the lock is
// taken all the same, as the driver's other callers do.
#ifdef __EMSCRIPTEN__

#include <emscripten.h>

#include <cstring>
#include <mutex>

#include "sound/sound_internal.h"

// ---- Types and globals --------------------------------------------------------------------

extern "C" {
// web/sprox_audio.js: opens the page's context and node; 1 when it runs.
int sprox_audio_open(int rate, int channels, int frames);
}

namespace {

// The slot being handed to Web Audio, copied out before the driver mixes
// the slot again: 2048 frames of 16-bit stereo.
int16_t g_handover[AUDIO_SLOT_FRAMES * 2];

}  // namespace

// ---- Internal functions ------------------------------------------------------------------

namespace {

int web_open(const s_waveformat* format) {
  if (format->bitspersample != 16) return 0;
  return sprox_audio_open(static_cast<int>(format->samplespersec), format->channels, AUDIO_SLOT_FRAMES);
}

}  // namespace

// ---- Public functions ---------------------------------------------------------------------

// Main thread (the node's callback). The next slot's frames, interleaved
// 16-bit, for the page to play: null on underrun (the page plays silence) or
// when the driver is closed. aheadframes: frames Web Audio will still play
// before the buffer this one fills starts.
extern "C" EMSCRIPTEN_KEEPALIVE const int16_t* web_audioprocess(double aheadframes) {
  std::lock_guard<std::mutex> guard(g_sound_lock);
  if (!g_audio_buffer || !g_hdr[g_cur_buf].queued) return nullptr;
  std::memcpy(g_handover, g_hdr[g_cur_buf].data, static_cast<size_t>(g_buffer_size));
  const double ahead = aheadframes > 0.0 ? aheadframes : 0.0;
  audiodriver_completeLocked(sound_now_ns(), static_cast<uint32_t>(ahead) + AUDIO_SLOT_FRAMES);
  return g_handover;
}

// No device thread: the node pulls, so there is nothing to start or stop.
const s_audiooutput audio_output_web = {AUDIO_OUTPUT_WEB, web_open, nullptr, nullptr};

#endif  // __EMSCRIPTEN__
