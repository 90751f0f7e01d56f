// Link check: a program that links only libsound.a, libcorefile.a and
// libcore.a has the whole sound system. On the manual output it saves a
// sound as a WAV file into a directory mount, loads it back, plays it as the
// music and mixes one buffer. Exit status 0 when every step gave what it
// should; a line on standard error names the first step that did not.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "corefile/corefile.h"
#include "sound/sound.h"

namespace {

int fail(const char* step) {
  std::fprintf(stderr, "sound link check: %s\n", step);
  return 1;
}

}  // namespace

int main() {
  mkdir("disk", 0755);
  if (corefile_mountimage("disk", COREFILE_KIND_DIRECTORY) != 1) return fail("the directory did not mount");
  audiodriver_selectoutput(AUDIO_OUTPUT_MANUAL);
  Soundsystem_Init(44100, 16, 2);
  if (audiodriver_getoutput() != AUDIO_OUTPUT_MANUAL) return fail("the manual output did not open");

  // One second of 44100 Hz 16-bit stereo, every sample 1000.
  std::vector<int16_t> samples(2 * 44100, 1000);
  s_sound written{};
  written.channels = 2;
  written.bits = 16;
  written.frequency = 44100;
  written.datasize = static_cast<uint32_t>(samples.size() * 2);
  written.numsamples = static_cast<uint32_t>(samples.size());
  written.data = samples.data();
  if (Soundsystem_SaveSound("tone.wav", &written) != 1) return fail("the sound was not saved");

  s_sound music{};
  Soundsystem_LoadSound("tone.wav", &music);
  if (music.datasize != written.datasize || music.increment != 512) return fail("the WAV file did not load back");
  Soundsystem_PlayMusic(&music, 0);
  fillnextbuffer();  // the manual output: one completion, one mixed buffer
  if (Soundsystem_GetSoundOffset(Soundsystem_CopySound(&music)) != 2048) return fail("one buffer did not mix");
  if (Soundsystem_GetOutputBuffer()[0] != 1000 * 127) return fail("the mix buffer holds the wrong sum");
  Soundsystem_CloseAudio();
  Soundsystem_DeleteSound(&music);
  corefile_closeimage();
  return 0;
}
