// playclock: the playback clock, the music offset audible now.
//
// The mixer's position (Soundsystem_GetSoundOffset) moves in whole buffers of
// 2048 sample frames and runs ahead of the loudspeaker by every slot still
// queued. At each completion the driver records when the slot finished (on
// the steady clock) and the latency then, in output sample frames. The
// audible offset is then
//
//   mixer offset - latency x r + (now - completion) x 44100 x r
//
// with r the sound's sample frames per output sample frame (increment / (256
// x channels)), limited to the mixer's offset above and to the last answer
// below, so it advances every picture frame and never runs backwards. A
// seek (or a restart) sets the lower limit to its target, so the answer
// jumps there at once and holds until the sound of the new place reaches the
// loudspeaker; a pause freezes the answer where it stood.
//
// Music that runs on past its end (see the mixer) keeps its mixer offset
// advancing, so the same estimate goes on through the silence, on whatever
// paces the output (a device, the silent output's steady clock, the caller of
// the manual output). When the answer first reaches the music's last sample
// frame, one line on standard error says so, printed here on the main thread
// (the device thread never prints); a seek back into the music lets it say
// so again.
//
// Terms (offset, playback offset, slot, completion, latency): see
// docs/ARCHITECTURE.md#glossary. Here, the floor is the last answer given for
// a sound (or a seek's target), below which the next answer does not go;
// sounds are told apart by their data pointer, since the caller hands over a
// copy of the record.
//
// Threads: the ...Locked hooks run with g_sound_lock held, on the device
// thread (completions) or the main thread (seek, pause, start);
// Soundsystem_GetPlaybackOffset runs on the main thread.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "sound/sound.h"
#include "sound/sound_internal.h"
#include "sound/sound_messages.h"

// ---- Types ------------------------------------------------------------------------

namespace {

// What the clock remembers of one sound.
struct s_clockentry {
  const void* data;  // the sound's data pointer: its identity; null for a free entry
  uint64_t floor;    // sample frames: the last answer, or a seek's target
  uint32_t stamp;    // use counter, to replace the least recently asked entry
  int endtold;       // 1 once the line that the music ended has been printed
};

struct s_playclock {
  int running;             // 1 while the driver runs and completion_ns means something
  int64_t completion_ns;   // steady clock, ns: when the last completed slot finished
  uint32_t latency;        // output sample frames between the mixer and the loudspeaker then
  uint32_t stamp;          // the latest use stamp handed out
  s_clockentry entries[SOUND_MAX_ACTIVE];
};

}  // namespace

// ---- Globals ------------------------------------------------------------------------

namespace {

s_playclock g_clock;

}  // namespace

// ---- Internal functions ----------------------------------------------------------------

namespace {

s_clockentry* findentryLocked(const void* data) {
  for (s_clockentry& entry : g_clock.entries)
    if (entry.data == data) return &entry;
  return nullptr;
}

// The entry of a sound, taking over a free or the least recently used one.
// *created tells whether the entry is new (its floor then means nothing yet).
s_clockentry* entryLocked(const void* data, bool* created) {
  s_clockentry* entry = findentryLocked(data);
  *created = entry == nullptr;
  if (!entry) {
    entry = &g_clock.entries[0];
    for (s_clockentry& candidate : g_clock.entries) {
      if (!candidate.data) {
        entry = &candidate;
        break;
      }
      if (candidate.stamp < entry->stamp) entry = &candidate;
    }
    entry->data = data;
    entry->floor = 0;
    entry->endtold = 0;
  }
  entry->stamp = ++g_clock.stamp;
  return entry;
}

s_sound* findlistedLocked(const void* data) {
  for (int i = 0; i < soundsystem.numactive; i++)
    if (active_sounds[i] && active_sounds[i]->data == data) return active_sounds[i];
  return nullptr;
}

uint64_t mixeroffset(const s_sound* sound) { return (sound->position >> 8) / sound->channels; }

// The sample frame at which a sound's data ends.
uint64_t endframe(const s_sound* sound) { return soundsystem_readablesamples(sound) / sound->channels; }

// The unlimited estimate of the audible offset, in sample frames (may be negative).
double estimateLocked(const s_sound* sound, int64_t now_ns) {
  const double mixer = static_cast<double>(mixeroffset(sound));
  if (!g_clock.running) return mixer;
  const double ratio = sound->increment / (256.0 * sound->channels);
  const double elapsed =
      std::max<int64_t>(0, now_ns - g_clock.completion_ns) * static_cast<double>(AUDIO_DEVICE_RATE) / AUDIO_NS_PER_S;
  return mixer - g_clock.latency * ratio + elapsed * ratio;
}

uint64_t clampestimate(double estimate, uint64_t low, uint64_t high) {
  if (estimate <= static_cast<double>(low)) return low;
  if (estimate >= static_cast<double>(high)) return high;
  return static_cast<uint64_t>(estimate);
}

// The answer for a listed sound; updates its floor.
uint64_t answerLocked(const s_sound* sound, s_clockentry* entry, bool created, int64_t now_ns) {
  const uint64_t mixer = mixeroffset(sound);
  // A new entry, or a position that went back without a seek (a loop or a
  // stream wrapping): start again from the estimate.
  if (created || entry->floor > mixer) entry->floor = clampestimate(estimateLocked(sound, now_ns), 0, mixer);
  if (!sound->playing) return entry->floor;  // paused: the clock holds
  entry->floor = clampestimate(estimateLocked(sound, now_ns), entry->floor, mixer);
  return entry->floor;
}

}  // namespace

void soundclock_resetLocked(int64_t time_ns, uint32_t latencyframes) {
  g_clock = s_playclock{};
  g_clock.running = 1;
  g_clock.completion_ns = time_ns;
  g_clock.latency = latencyframes;
}

void soundclock_completedLocked(int64_t time_ns, uint32_t latencyframes) {
  g_clock.completion_ns = time_ns;
  g_clock.latency = latencyframes;
}

void soundclock_stopLocked() { g_clock.running = 0; }

void soundclock_seekLocked(const s_sound* sound, uint64_t frames) {
  if (!sound->data) return;
  bool created = false;
  s_clockentry* entry = entryLocked(sound->data, &created);
  entry->floor = frames;
  if (soundsystem_isplayable(sound) && frames < endframe(sound)) entry->endtold = 0;
}

void soundclock_pauseLocked(const s_sound* sound) {
  if (!sound->data || sound->channels == 0 || !sound->playing) return;
  if (findlistedLocked(sound->data) != sound) return;
  bool created = false;
  s_clockentry* entry = entryLocked(sound->data, &created);
  answerLocked(sound, entry, created, sound_now_ns());
}

uint32_t soundclock_latencyLocked() { return g_clock.latency; }

int64_t soundclock_completionLocked() { return g_clock.completion_ns; }

// ---- Public functions ----------------------------------------------------------------------

uint64_t Soundsystem_GetPlaybackOffset(s_sound sound) {
  if (!sound.data || sound.channels == 0) return 0;
  uint64_t answer = 0;
  uint64_t ended = 0;  // the music's last sample frame, when the line is due now
  uint32_t rate = 0;
  {
    std::lock_guard<std::mutex> guard(g_sound_lock);
    const s_sound* live = findlistedLocked(sound.data);
    // Not listed: stopped, idle or never heard; the mixer's offset is all there is.
    if (!live || live->channels == 0) return Soundsystem_GetSoundOffset(sound);
    bool created = false;
    s_clockentry* entry = entryLocked(sound.data, &created);
    answer = answerLocked(live, entry, created, sound_now_ns());
    if (!entry->endtold && soundsystem_runson(live) && soundsystem_isplayable(live) && answer >= endframe(live)) {
      entry->endtold = 1;
      ended = endframe(live);
      rate = live->frequency;
    }
  }
  // Printed outside the lock: the device thread never waits for a stream.
  if (ended > 0) std::fprintf(stderr, kMsgMusicEnded, rate ? static_cast<double>(ended) / rate : 0.0,
                              static_cast<unsigned long long>(ended));
  return answer;
}
