// sound/reload.cpp: loading a sound's file again while it plays, keeping its
// place.
//
// The new file is read and checked on the main thread while the mixer goes
// on with the old data; the swap of data, format and position happens in one
// piece under the mixer's lock, and the old data is freed only after the
// lock is released, when no mix can be reading it any more. The sound stays
// listed, playing or paused as it was, with its volumes, loop and music flag.
// A file the reader refuses (a sample rate out of range, no frames, ...) or
// that holds nothing the mixer can play leaves the old sound as it was, with
// one line that gives the reason.
//
// Threads: main thread.
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "sound/sound.h"
#include "sound/sound_internal.h"

// ---- Constants --------------------------------------------------------------------------
namespace {
// The one line of a refused reload, with the reason. The makers' mode is the
// one caller: the line reads as one of its own, beside its "dev: reloaded".
constexpr const char* kMsgReloadRefused = "dev: %s not reloaded (%s), the old music plays on\n";
constexpr const char* kWhyNotPlayable = "%u channels of %u bits cannot be played";
constexpr size_t kWhyCapacity = 160;
}  // namespace

// ---- Public functions -----------------------------------------------------------------
int Soundsystem_ReloadSound(const char* name, s_sound* sound) {
  if (!name || !sound) return 0;
  s_sound fresh{};
  char why[kWhyCapacity] = "";
  const int read = soundsystem_readwav(name, &fresh, why, sizeof why);
  if (!read || !soundsystem_isplayable(&fresh)) {
    if (read) std::snprintf(why, sizeof why, kWhyNotPlayable, static_cast<unsigned>(fresh.channels),
                            static_cast<unsigned>(fresh.bits));
    std::free(fresh.data);
    std::printf(kMsgReloadRefused, name, why);
    return 0;
  }
  // Where the listener is now: the clock is put back there after the swap,
  // so the picture neither jumps nor waits while the new data plays in.
  const uint64_t audible = Soundsystem_GetPlaybackOffset(Soundsystem_CopySound(sound));
  void* old = nullptr;
  {
    std::lock_guard<std::mutex> guard(g_sound_lock);
    const uint64_t frames = sound->channels ? (sound->position >> 8) / sound->channels : 0;
    const uint64_t last = fresh.numsamples / fresh.channels;  // playable: at least one frame
    const uint64_t kept = frames < last ? frames : last - 1;
    old = sound->data;
    sound->data = fresh.data;
    sound->datasize = fresh.datasize;
    sound->numsamples = fresh.numsamples;
    sound->channels = fresh.channels;
    sound->bits = fresh.bits;
    sound->frequency = fresh.frequency;
    sound->increment = soundsystem.rate ? fresh.frequency * 256u * fresh.channels / soundsystem.rate : 0;
    sound->position = kept * 256u * fresh.channels;
    soundclock_seekLocked(sound, audible < kept ? audible : kept);
  }
  std::free(old);
  return 1;
}
