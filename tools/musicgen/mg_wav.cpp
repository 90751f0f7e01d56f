// mg_wav: writes the music as a canonical PCM WAV file: the sound system's
// 44-byte header (Soundsystem_FillWAVHeader), then 16-bit signed samples,
// little-endian, frames interleaved left before right.
//
// Threads: the calling thread.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/core.h"
#include "musicgen.h"

// ============================================================================
// Constants
// ============================================================================

namespace {

constexpr unsigned kChannels = 2;
constexpr unsigned kBits = 16;
constexpr uint32_t kBlockAlign = kChannels * kBits / 8;  // bytes per frame

}  // namespace

// ============================================================================
// Public functions
// ============================================================================

int mg_wav_write(const char* path, const int16_t* stereo, uint32_t frames) {
  // The RIFF size field must hold datasize + 36.
  if ((uint64_t)frames * kBlockAlign + 36 > 0xffffffffull) {
    printf(MG_MSG "%s: %u frames do not fit a WAV file\n", path, frames);
    return 0;
  }
  FILE* f = fopen(path, "wb");
  if (!f) {
    printf(MG_MSG "cannot write %s: %s\n", path, strerror(errno));
    return 0;
  }
  uint8_t header[SOUND_WAV_HEADERBYTES];
  Soundsystem_FillWAVHeader(header, kChannels, kBits, MG_RATE, frames * kBlockAlign);
  bool ok = fwrite(header, 1, sizeof header, f) == sizeof header;
  // Samples go out little-endian whatever the host order is.
  uint8_t chunk[4096];
  size_t total = (size_t)frames * kChannels, done = 0;
  while (ok && done < total) {
    size_t n = std::min<size_t>(total - done, sizeof chunk / 2);
    for (size_t i = 0; i < n; ++i) core_putle16(chunk + 2 * i, (uint16_t)stereo[done + i]);
    ok = fwrite(chunk, 2, n, f) == n;
    done += n;
  }
  if (fclose(f) != 0) ok = false;
  if (!ok) {
    printf(MG_MSG "writing %s failed\n", path);
    std::remove(path);
    return 0;
  }
  return 1;
}

int mg_wav_read(const char* path, std::vector<float>* stereo) {
  stereo->clear();
  FILE* f = fopen(path, "rb");
  if (!f) {
    printf(MG_MSG "cannot read %s: %s\n", path, strerror(errno));
    return 0;
  }
  uint8_t header[SOUND_WAV_HEADERBYTES], expected[SOUND_WAV_HEADERBYTES];
  bool ok = fread(header, 1, sizeof header, f) == sizeof header;
  const uint32_t datasize = ok ? core_getle32(header + 40) : 0;
  Soundsystem_FillWAVHeader(expected, kChannels, kBits, MG_RATE, datasize);
  if (!ok || std::memcmp(header, expected, sizeof header) != 0 || datasize % kBlockAlign != 0) {
    printf(MG_MSG "%s is not a 44100 Hz 16-bit stereo WAV with the canonical header\n", path);
    fclose(f);
    return 0;
  }
  std::vector<uint8_t> raw(datasize);
  ok = fread(raw.data(), 1, raw.size(), f) == raw.size();
  fclose(f);
  if (!ok) {
    printf(MG_MSG "%s ends before its %u data bytes\n", path, datasize);
    return 0;
  }
  stereo->resize(datasize / 2);
  for (size_t i = 0; i < stereo->size(); ++i) (*stereo)[i] = (int16_t)core_getle16(&raw[2 * i]) * (1.0f / 32768.0f);
  return 1;
}
