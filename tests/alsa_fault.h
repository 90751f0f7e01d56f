// A sound device that breaks in the middle of the show, for the tests of the
// ALSA output: this header defines snd_pcm_writei in the test executable, in
// front of alsa-lib's, so the sound module's calls come here. It forwards to
// alsa-lib until a set number of writes has gone through, then fails every
// write with EIO, as a device that has been unplugged does; snd_pcm_recover
// cannot mend that. Include it in exactly one source file of an executable.
//
// Also here: ALSA configurations of the test's own (ALSA_CONFIG_PATH), so
// that what "default" is does not depend on the machine.
//
// Threads: the counter is atomic; the sound module's device thread writes.
#pragma once

#if __has_include(<alsa/asoundlib.h>)
#define SPROX_TEST_HAS_ALSA 1

#include <alsa/asoundlib.h>
#include <dlfcn.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "test_util.h"

namespace alsa_fault {

inline std::atomic<long> g_writes_left{-1};  // writes that still go through; -1: all of them
inline std::atomic<long> g_refused{0};       // writes failed so far

// From now on `writes` more writes go through and every later one fails;
// a negative count mends the device.
inline void fail_after(long writes) {
  g_refused = 0;
  g_writes_left = writes;
}

// Writes an ALSA configuration holding `text` and points alsa-lib at it; for
// a child process, since alsa-lib reads its configuration once.
inline void use_config(const std::string& file, const std::string& text) {
  test_util::write_file(file, text);
  setenv("ALSA_CONFIG_PATH", std::filesystem::absolute(file).c_str(), 1);
}

// 1 when alsa-lib opens the PCM `name` for playback here.
inline bool opens(const char* name) {
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, name, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return false;
  snd_pcm_close(pcm);
  return true;
}

}  // namespace alsa_fault

extern "C" snd_pcm_sframes_t snd_pcm_writei(snd_pcm_t* pcm, const void* buffer, snd_pcm_uframes_t size) {
  using Write = snd_pcm_sframes_t (*)(snd_pcm_t*, const void*, snd_pcm_uframes_t);
  static const Write real = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "snd_pcm_writei"));
  long left = alsa_fault::g_writes_left.load();
  while (left > 0 && !alsa_fault::g_writes_left.compare_exchange_weak(left, left - 1)) {
  }
  if (left == 0) {
    alsa_fault::g_refused++;
    return -EIO;
  }
  return real(pcm, buffer, size);
}

#else
#define SPROX_TEST_HAS_ALSA 0
#endif
