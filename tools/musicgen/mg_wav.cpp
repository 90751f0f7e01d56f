// mg_wav: writes the music as a canonical PCM WAV file: "RIFF", a 16-byte
// "fmt " chunk, then "data" directly, 16-bit signed samples, little-endian,
// frames interleaved left before right.
//
// Threads: the calling thread.
#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>

#include "musicgen.h"

// ============================================================================
// Constants
// ============================================================================

namespace {

constexpr uint16_t kChannels = 2;
constexpr uint16_t kBits = 16;
constexpr uint16_t kBlockAlign = kChannels * kBits / 8;  // bytes per frame

// ============================================================================
// Internal functions
// ============================================================================

void put16(uint8_t* p, uint16_t v) {
  p[0] = (uint8_t)(v & 0xff);
  p[1] = (uint8_t)(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (uint8_t)(v >> (8 * i));
}

}  // namespace

// ============================================================================
// Public functions
// ============================================================================

void mg_wav_header(uint8_t header[44], uint32_t frames) {
  const uint32_t datasize = frames * kBlockAlign;
  std::memcpy(header + 0, "RIFF", 4);
  put32(header + 4, datasize + 36);
  std::memcpy(header + 8, "WAVE", 4);
  std::memcpy(header + 12, "fmt ", 4);
  put32(header + 16, 16);
  put16(header + 20, 1);  // PCM
  put16(header + 22, kChannels);
  put32(header + 24, MG_RATE);
  put32(header + 28, MG_RATE * kBlockAlign);
  put16(header + 32, kBlockAlign);
  put16(header + 34, kBits);
  std::memcpy(header + 36, "data", 4);
  put32(header + 40, datasize);
}

int mg_wav_write(const char* path, const int16_t* stereo, uint32_t frames) {
  // The RIFF size field must hold datasize + 36.
  if ((uint64_t)frames * kBlockAlign + 36 > 0xffffffffull) {
    printf("musicgen: %s: %u frames do not fit a WAV file\n", path, frames);
    return 0;
  }
  FILE* f = fopen(path, "wb");
  if (!f) {
    printf("musicgen: cannot write %s: %s\n", path, strerror(errno));
    return 0;
  }
  uint8_t header[44];
  mg_wav_header(header, frames);
  bool ok = fwrite(header, 1, sizeof header, f) == sizeof header;
  // Samples go out little-endian whatever the host order is.
  uint8_t chunk[4096];
  size_t total = (size_t)frames * kChannels, done = 0;
  while (ok && done < total) {
    size_t n = std::min<size_t>(total - done, sizeof chunk / 2);
    for (size_t i = 0; i < n; ++i) put16(chunk + 2 * i, (uint16_t)stereo[done + i]);
    ok = fwrite(chunk, 2, n, f) == n;
    done += n;
  }
  if (fclose(f) != 0) ok = false;
  if (!ok) {
    printf("musicgen: writing %s failed\n", path);
    std::remove(path);
    return 0;
  }
  return 1;
}
