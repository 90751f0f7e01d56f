// Writes the seed corpora of the WAV, PNG and timing fuzz targets with our own
// writers: WAV files through Soundsystem_SaveWAV on a directory mount, PNGs
// through LodePNG's encoder, timing files in the show's own format.
// Usage: fuzz_seedgen OUTDIR  (creates OUTDIR/wav, OUTDIR/png, OUTDIR/timing)
#include <lodepng.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "corefile/corefile.h"
#include "sound/sound.h"

namespace {

void WriteFile(const std::string& path, const void* data, size_t size) {
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) { perror(path.c_str()); exit(1); }
  fwrite(data, 1, size, out);
  fclose(out);
}

void SaveWav(const char* name, int channels, int bits, int frequency, int frames) {
  s_sound sound;
  memset(&sound, 0, sizeof sound);
  sound.channels = static_cast<uint16_t>(channels);
  sound.bits = static_cast<uint16_t>(bits);
  sound.frequency = static_cast<uint32_t>(frequency);
  sound.numsamples = static_cast<uint32_t>(frames * channels);
  sound.datasize = sound.numsamples * (bits / 8);
  std::vector<uint8_t> data(sound.datasize);
  for (uint32_t i = 0; i < sound.numsamples; i++) {
    const double v = std::sin(i * 0.3);
    if (bits == 8) data[i] = static_cast<uint8_t>(128 + 100 * v);
    else { const int16_t s = static_cast<int16_t>(12000 * v); memcpy(&data[i * 2], &s, 2); }
  }
  sound.data = data.data();
  if (!Soundsystem_SaveWAV(name, &sound)) { fprintf(stderr, "cannot save %s\n", name); exit(1); }
}

void SavePng(const std::string& path, unsigned w, unsigned h, LodePNGColorType type, unsigned depth) {
  std::vector<unsigned char> rgba(static_cast<size_t>(w) * h * 4);
  for (size_t i = 0; i < rgba.size(); i++) rgba[i] = static_cast<unsigned char>((i * 37) ^ (i >> 3));
  if (type == LCT_GREY || type == LCT_PALETTE) {
    // Few distinct grey values, so that palette and grey encodings are exact.
    for (size_t p = 0; p < rgba.size() / 4; p++) {
      const unsigned char g = static_cast<unsigned char>((p % 4) * 85);
      rgba[p * 4] = rgba[p * 4 + 1] = rgba[p * 4 + 2] = g;
      rgba[p * 4 + 3] = 255;
    }
  }
  LodePNGState state;
  lodepng_state_init(&state);
  state.info_raw.colortype = LCT_RGBA;
  state.info_raw.bitdepth = 8;
  state.info_png.color.colortype = type;
  state.info_png.color.bitdepth = depth;
  state.encoder.auto_convert = 0;
  if (type == LCT_PALETTE) {
    for (int i = 0; i < 4; i++) {
      const unsigned char g = static_cast<unsigned char>(i * 85);
      lodepng_palette_add(&state.info_png.color, g, g, g, 255);
    }
  }
  unsigned char* png = nullptr;
  size_t size = 0;
  const unsigned error = lodepng_encode(&png, &size, rgba.data(), w, h, &state);
  if (error) { fprintf(stderr, "%s: %s\n", path.c_str(), lodepng_error_text(error)); exit(1); }
  WriteFile(path, png, size);
  free(png);
  lodepng_state_cleanup(&state);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) { fprintf(stderr, "usage: %s OUTDIR\n", argv[0]); return 2; }
  const std::string root = argv[1];
  for (const char* sub : {"", "/wav", "/png", "/timing"}) mkdir((root + sub).c_str(), 0755);

  if (!corefile_mountimage((root + "/wav").c_str(), COREFILE_KIND_DIRECTORY)) { fprintf(stderr, "cannot mount\n"); return 1; }
  SaveWav("mono8.wav", 1, 8, 22050, 40);
  SaveWav("stereo16.wav", 2, 16, 44100, 32);
  SaveWav("mono16.wav", 1, 16, 11025, 17);
  SaveWav("empty16.wav", 2, 16, 44100, 0);
  corefile_closeimage();

  SavePng(root + "/png/rgba_4x3.png", 4, 3, LCT_RGBA, 8);
  SavePng(root + "/png/rgb_1x1.png", 1, 1, LCT_RGB, 8);
  SavePng(root + "/png/grey2_7x5.png", 7, 5, LCT_GREY, 2);
  SavePng(root + "/png/palette_6x2.png", 6, 2, LCT_PALETTE, 2);
  SavePng(root + "/png/rgba16_3x3.png", 3, 3, LCT_RGBA, 16);
  return 0;
}
