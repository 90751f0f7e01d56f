// audiodriver: the ring of four output slots and its refill cycle.
//
// audiodriver_init allocates the ring (4 slots of 2048 sample frames), opens
// an output (ALSA "default" or waveOut on Windows, the silent output, or the manual one), queues
// the four slots with silence and starts the output's device thread. The
// output plays the queued slots in ring order and hands each played slot back
// (a completion); audiodriver_completeLocked (fillnextbuffer, on the manual
// output) then mixes every active sound into that slot and queues it again,
// so three slots (about 139 ms) always lie ahead of the one being refilled.
// Closing empties the ring pointer first, so a completion that races with
// the close queues nothing more, then stops and joins the device thread,
// then frees the ring.
//
// Terms (slot, completion, latency, output, device thread): see
// docs/ARCHITECTURE.md#glossary. Here, a slot header says where a slot lies
// and whether it is queued; the playback clock subtracts the latency.
//
// Threads: init, close, the push pair and the output choice run on the main
// thread; audiodriver_completeLocked on the device thread, and fillnextbuffer
// (the manual output's completion) on the caller's.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "sound/sound.h"
#include "sound/sound_internal.h"
#include "sound/sound_messages.h"

// ---- Constants -------------------------------------------------------------------------

namespace {

constexpr const char* kOutputEnvironment = "SPROX_AUDIO";  // "silent", "alsa", "waveout" or "manual"

}  // namespace

// ---- Globals ---------------------------------------------------------------------------

uint8_t* g_audio_buffer = nullptr;
int g_sample_size = 0;
int g_buffer_size = 0;
int g_cur_buf = 0;
s_slotheader g_hdr[AUDIO_NUM_SLOTS];

namespace {

s_waveformat g_wf;                          // the output format
int g_num_prep_buffers = 0;                 // headers prepared while opening
int g_waveout_opened = 0;                   // an output is open and must be stopped when closing
int g_buffer_waiting = 0;                   // push pair: a slot handed out and not yet submitted
const s_audiooutput* g_output = nullptr;    // the open output, null when closed
int g_selected_output = AUDIO_OUTPUT_AUTO;  // what the next init opens

}  // namespace

// ---- Internal functions -------------------------------------------------------------------

int64_t sound_now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

namespace {

// The output asked for: the selection, else the environment, else auto.
int wantedoutput() {
  if (g_selected_output != AUDIO_OUTPUT_AUTO) return g_selected_output;
  const char* value = std::getenv(kOutputEnvironment);
  if (!value) return AUDIO_OUTPUT_AUTO;
  if (std::strcmp(value, "silent") == 0) return AUDIO_OUTPUT_SILENT;
  if (std::strcmp(value, "alsa") == 0) return AUDIO_OUTPUT_ALSA;
  if (std::strcmp(value, "manual") == 0) return AUDIO_OUTPUT_MANUAL;
  if (std::strcmp(value, "waveout") == 0) return AUDIO_OUTPUT_WAVEOUT;
  return AUDIO_OUTPUT_AUTO;
}

// Opens the wanted output and prints which one is in use; null when none opened.
const s_audiooutput* openoutput(const s_waveformat* format) {
  const int wanted = wantedoutput();
  if (wanted == AUDIO_OUTPUT_SILENT || wanted == AUDIO_OUTPUT_MANUAL) {
    const s_audiooutput* output = wanted == AUDIO_OUTPUT_SILENT ? &audio_output_silent : &audio_output_manual;
    if (!output->open(format)) return nullptr;
    std::fputs(wanted == AUDIO_OUTPUT_SILENT ? kMsgOutputSilent : kMsgOutputManual, stdout);
    return output;
  }
#ifdef __EMSCRIPTEN__
  // In a browser the one device is Web Audio (output_web.cpp), in ALSA's place.
  if (audio_output_web.open(format)) {
    std::fputs(kMsgDeviceOpened, stdout);
    std::fputs(kMsgOutputWeb, stdout);
    return &audio_output_web;
  }
  return nullptr;  // the silent output's device thread is not in a browser build
#elif defined(_WIN32)
  // On Windows the device is waveOut (output_waveout.cpp), in ALSA's place.
  if (audio_output_waveout.open(format)) {
    std::fputs(kMsgDeviceOpened, stdout);
    std::fputs(kMsgOutputWaveout, stdout);
    return &audio_output_waveout;
  }
#else
  if (audio_output_alsa.open(format)) {
    std::fputs(kMsgDeviceOpened, stdout);
    std::printf(kMsgOutputAlsa, audio_alsa_devicename());
    return &audio_output_alsa;
  }
#endif
  if (wanted == AUDIO_OUTPUT_ALSA || wanted == AUDIO_OUTPUT_WAVEOUT) return nullptr;
  if (!audio_output_silent.open(format)) return nullptr;
  std::fputs(kMsgOutputNoDevice, stdout);
  return &audio_output_silent;
}

int queuedslotsLocked() {
  int count = 0;
  for (const s_slotheader& header : g_hdr) count += header.queued ? 1 : 0;
  return count;
}

}  // namespace

int audiodriver_completeLocked(int64_t time_ns, uint32_t devicedelay) {
  // Completions arrive in queue order: the played slot is g_cur_buf.
  s_slotheader* header = &g_hdr[g_cur_buf];
  header->queued = 0;
  header->prepared = 0;
  if (!g_audio_buffer) return 0;  // closing or closed: nothing is queued again

  header->data = g_audio_buffer + g_cur_buf * g_buffer_size;
  header->length = g_buffer_size;
  header->prepared = 1;
  // Mixed before it is queued: the device thread is the one that plays it,
  // and it comes back to this slot only after the three queued ahead of it.
  audiodriver_mixbuffersLocked(header->data, g_buffer_size);
  header->queued = 1;

  const uint32_t latency = static_cast<uint32_t>(queuedslotsLocked()) * AUDIO_SLOT_FRAMES + devicedelay;
  soundclock_completedLocked(time_ns, latency);
  g_cur_buf = (g_cur_buf + 1) % AUDIO_NUM_SLOTS;
  return 1;
}

int audiodriver_slotqueued(int slot) {
  std::lock_guard<std::mutex> guard(g_sound_lock);
  return g_audio_buffer && g_hdr[slot].queued ? 1 : 0;
}

const uint8_t* audiodriver_slotdata(int slot) { return g_hdr[slot].data; }

// ---- Public functions ------------------------------------------------------------------------

void audiodriver_selectoutput(int output) { g_selected_output = output; }

int audiodriver_getoutput() { return g_output ? g_output->kind : -1; }

int audiodriver_init(unsigned rate, unsigned bits, int length, int flags) {
  (void)length;  // the slots always hold 2048 sample frames
  if (rate == 0) return 1;
  if (g_output || g_audio_buffer) audiodriver_close();  // one output at a time
  // A program that ends without closing the driver (the show never does)
  // must not leave the device thread running past the thread object that
  // owns it: stop it at exit, before the module's globals are destroyed.
  static const bool close_at_exit = std::atexit(audiodriver_close) == 0;
  (void)close_at_exit;

  const int channels = (flags & 2) ? 2 : 1;
  {
    std::lock_guard<std::mutex> guard(g_sound_lock);
    soundsystem.bits = static_cast<uint16_t>(bits);
    soundsystem.channels = static_cast<uint16_t>(channels);
  }
  if (bits != 8 && bits != 16) return 0;

  g_sample_size = static_cast<int>(bits / 8) * channels;
  g_buffer_size = g_sample_size * AUDIO_SLOT_FRAMES;
  std::printf(kMsgSizes, g_sample_size, g_buffer_size);

  uint8_t* ring = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(AUDIO_NUM_SLOTS) * g_buffer_size));
  if (!ring) {
    audiodriver_close();
    return 0;
  }
  // The four priming slots are queued unmixed: silence.
  std::memset(ring, bits == 8 ? 128 : 0, static_cast<size_t>(AUDIO_NUM_SLOTS) * g_buffer_size);
  {
    std::lock_guard<std::mutex> guard(g_sound_lock);
    g_audio_buffer = ring;
  }

  std::fputs(kMsgOpenOutput, stdout);
  std::memset(&g_wf, 0, sizeof(g_wf));
  g_wf.formattag = 1;
  g_wf.channels = static_cast<uint16_t>(channels);
  g_wf.samplespersec = rate;
  g_wf.avgbytespersec = static_cast<uint32_t>(g_sample_size) * rate;
  g_wf.blockalign = static_cast<uint16_t>(g_sample_size);
  g_wf.bitspersample = static_cast<uint16_t>(bits);
  g_wf.extrasize = 0;
  g_output = openoutput(&g_wf);
  g_waveout_opened = 1;

  std::fputs(kMsgOpenSlots, stdout);
  {
    std::lock_guard<std::mutex> guard(g_sound_lock);
    for (int i = 0; i < AUDIO_NUM_SLOTS; i++) {
      g_hdr[i] = s_slotheader{};
      g_hdr[i].data = ring + i * g_buffer_size;
      g_hdr[i].length = g_buffer_size;
    }
  }
  for (int i = 0; i < AUDIO_NUM_SLOTS; i++) {
    if (!g_output) {  // without an output no slot can be set up
      std::fputs(kMsgSlotError, stdout);
      audiodriver_close();
      return 0;
    }
    {
      std::lock_guard<std::mutex> guard(g_sound_lock);
      g_hdr[i].prepared = 1;
    }
    g_num_prep_buffers = i + 1;
  }

  const int64_t start_ns = sound_now_ns();
  {
    std::lock_guard<std::mutex> guard(g_sound_lock);
    for (s_slotheader& header : g_hdr) header.queued = 1;  // slot 0 plays first
    soundsystem.bufferlength = static_cast<uint32_t>(g_buffer_size / g_sample_size);
    g_cur_buf = 0;
    g_buffer_waiting = 0;
    soundclock_resetLocked(start_ns, AUDIO_NUM_SLOTS * AUDIO_SLOT_FRAMES);
  }
  if (g_output->start) g_output->start(start_ns);
  std::fputs(kMsgDriverStarted, stdout);
  return 1;
}

void audiodriver_close() {
  uint8_t* ring = nullptr;
  {
    // From here on a completion returns at once and queues nothing more.
    std::lock_guard<std::mutex> guard(g_sound_lock);
    ring = g_audio_buffer;
    g_audio_buffer = nullptr;
  }
  if (g_waveout_opened && g_output && g_output->stop) g_output->stop();  // joins the device thread
  {
    std::lock_guard<std::mutex> guard(g_sound_lock);
    for (int i = 0; i < g_num_prep_buffers; i++) {
      g_hdr[i].prepared = 0;
      g_hdr[i].queued = 0;
    }
    soundclock_stopLocked();
  }
  g_num_prep_buffers = 0;
  std::free(ring);
  if (g_waveout_opened) {
    g_waveout_opened = 0;
    g_output = nullptr;
  }
}

void fillnextbuffer() {
  std::lock_guard<std::mutex> guard(g_sound_lock);
  audiodriver_completeLocked(sound_now_ns(), 0);
}

int audiodriver_getbuffer(void** address, int* length) {
  std::lock_guard<std::mutex> guard(g_sound_lock);
  if (address) *address = g_audio_buffer ? g_audio_buffer + g_cur_buf * g_buffer_size : nullptr;
  if (length) *length = g_buffer_size;
  g_buffer_waiting = 1;
  return 1;
}

void audiodriver_submitbuffer() {
  std::lock_guard<std::mutex> guard(g_sound_lock);
  if (g_audio_buffer) g_hdr[g_cur_buf].queued = 1;
  g_buffer_waiting = 0;
  g_cur_buf = (g_cur_buf + 1) % AUDIO_NUM_SLOTS;
}
