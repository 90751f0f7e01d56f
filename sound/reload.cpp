// sound/reload.cpp: loading a sound's file again while it plays, keeping its
// place.
//
// The new file is read and checked on the main thread while the mixer goes
// on with the old data; the swap of data, format and position happens in one
// piece under the mixer's lock, and the old data is freed only after the
// lock is released, when no mix can be reading it any more. The sound stays
// listed, playing or paused as it was, with its volumes, loop and music flag.
//
// Threads: main thread.
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "sound/sound.h"
#include "sound/sound_internal.h"

// ---- Constants --------------------------------------------------------------------------
namespace {
// The one line of a refused reload; the loader's own lines come before it.
constexpr const char* kMsgReloadRefused = "sound: %s not reloaded: no playable sound in it, the old one plays on\n";
}  // namespace

// ---- Public functions -----------------------------------------------------------------
int Soundsystem_ReloadSound(const char* name, s_sound* sound) {
  if (!name || !sound) return 0;
  s_sound fresh{};
  if (!Soundsystem_LoadWAV(name, &fresh) || !soundsystem_isplayable(&fresh)) {
    std::free(fresh.data);
    std::printf(kMsgReloadRefused, name);
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
