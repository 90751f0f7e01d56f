// Fuzz target: the WAV reader, through the file system.
//
// A scratch directory is mounted once (directory mount); each input is
// written there as "input.wav" and read with Soundsystem_LoadWAV. A record the
// reader accepts must describe the data it holds (the sample count agrees
// with the data size, every byte is readable); it is then deleted so that
// nothing piles up between inputs.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>

#include "corefile/corefile.h"
#include "fuzz_scratch.h"
#include "sound/sound.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_scratch::start("wav");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzz_scratch::write("input.wav", data, size)) return 0;

  s_sound sound;
  memset(&sound, 0, sizeof sound);
  if (Soundsystem_LoadWAV("input.wav", &sound)) {
    // An accepted record must be internally consistent: touching every byte
    // it claims lets the address sanitizer catch a short buffer.
    // The reader takes any whole number of bytes per sample and any channel
    // count (the player refuses what the mixer cannot play), but never a
    // sample size that would make the count divide by zero.
    // It holds at least one whole frame at a rate the clock can run on.
    if (!sound.data || sound.channels == 0 || sound.datasize < sound.channels * (sound.bits / 8u)) abort();
    if (sound.frequency < SOUND_WAV_MINRATE || sound.frequency > SOUND_WAV_MAXRATE) abort();
    if (sound.bits < 8 || sound.bits % 8 != 0) abort();
    if (sound.numsamples != sound.datasize / (sound.bits / 8u)) abort();
    if (sound.datasize > size) abort();
    const uint8_t* bytes = static_cast<const uint8_t*>(sound.data);
    volatile uint32_t sum = 0;
    for (uint32_t i = 0; i < sound.datasize; i++) sum = sum + bytes[i];
    (void)sum;
    Soundsystem_DeleteSound(&sound);
  }
  return 0;
}
