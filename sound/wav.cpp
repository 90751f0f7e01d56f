// wav: reading and writing RIFF/WAVE PCM files through the resource file system.
//
// Only the canonical 44-byte layout is read: "RIFF", size, "WAVE", a 16-byte
// "fmt " chunk, then "data" and its size at offset 36; no chunk walking. The
// reader copies the data chunk into a new block owned by the record. Writing
// builds the same 44-byte header in front of the record's data and hands the
// whole file to corefile_savebuffer (a directory mount is needed to land it).
//
// Refused: a file shorter than the header, a data size that runs past the end
// of the file, bits per sample below 8 or not a multiple of 8 (each with result
// 0 and no read outside the file's bytes), besides the checks of the layout.
//
// Threads: main thread only.

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "corefile/corefile.h"
#include "sound/sound.h"

// ---- Constants -------------------------------------------------------------------------

namespace {

constexpr int kHeaderBytes = 44;       // the canonical header
constexpr uint32_t kFormatBytes = 16;  // the "fmt " chunk's size
constexpr uint16_t kFormatPCM = 1;     // format tag of uncompressed PCM

}  // namespace

// ---- Internal functions --------------------------------------------------------------------

namespace {

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

void write16(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

void write32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Everything after the file has been read into `file` (size bytes, at least 44).
int parsewav(const char* name, const uint8_t* file, uint32_t size, s_sound* sound) {
  if (std::memcmp(file, "RIFF", 4) != 0 || std::memcmp(file + 8, "WAVE", 4) != 0) {
    std::printf("No WAV file");
    return 0;
  }
  if (std::memcmp(file + 12, "fmt", 3) != 0) return 0;

  sound->channels = read16(file + 22);
  sound->frequency = read32(file + 24);
  sound->bits = read16(file + 34);

  if (read16(file + 20) != kFormatPCM) {
    std::printf("Not PCM signed");
    return 0;
  }
  if (std::memcmp(file + 36, "data", 4) != 0) return 0;

  if (sound->bits < 8 || sound->bits % 8 != 0) {
    std::printf("WAV file %s: %u bits per sample not supported\n", name, static_cast<unsigned>(sound->bits));
    return 0;
  }
  const uint32_t datasize = read32(file + 40);
  if (datasize > size - kHeaderBytes) {
    std::printf("WAV file %s: data runs past the end of the file\n", name);
    return 0;
  }
  void* data = nullptr;
  if (datasize > 0) {
    data = std::malloc(datasize);
    if (!data) {
      std::printf("WAV file %s: no memory for %u bytes\n", name, datasize);
      return 0;
    }
    std::memcpy(data, file + kHeaderBytes, datasize);
  }
  sound->data = data;
  sound->datasize = datasize;
  sound->numsamples = datasize / (sound->bits / 8u);
  return 1;
}

}  // namespace

// ---- Public functions ----------------------------------------------------------------------

int Soundsystem_LoadWAV(const char* name, s_sound* sound) {
  if (!name || !sound) return 0;
  s_corefile file;
  if (!corefile_open(name, &file, 0)) return 0;
  if (file.size < kHeaderBytes) {
    corefile_close(&file);
    std::printf("WAV file %s: shorter than its %d-byte header\n", name, kHeaderBytes);
    return 0;
  }
  const uint32_t size = static_cast<uint32_t>(file.size);
  // Zeroed, so a short read from the stream leaves zeros, not stale heap bytes.
  uint8_t* buffer = static_cast<uint8_t*>(std::calloc(size, 1));
  if (!buffer) {
    corefile_close(&file);
    std::printf("WAV file %s: no memory for %u bytes\n", name, size);
    return 0;
  }
  corefile_read(buffer, static_cast<int>(size), 1, &file);
  corefile_close(&file);
  const int result = parsewav(name, buffer, size, sound);
  std::free(buffer);
  return result;
}

int Soundsystem_SaveWAV(const char* name, s_sound* sound) {
  if (!name || !sound) return 0;
  const uint32_t payload = sound->data ? sound->datasize : 0;
  if (payload > static_cast<uint32_t>(INT_MAX - kHeaderBytes)) {
    std::printf("WAV file %s: %u bytes are too many to save\n", name, payload);
    return 0;
  }
  // The header's sizes never claim more than the bytes that follow it.
  const uint64_t counted = static_cast<uint64_t>(sound->numsamples) * (sound->bits / 8u);
  const uint32_t datasize = counted < payload ? static_cast<uint32_t>(counted) : payload;
  const uint32_t framebytes = static_cast<uint32_t>(sound->channels) * (sound->bits / 8u);

  uint8_t* buffer = static_cast<uint8_t*>(std::malloc(kHeaderBytes + static_cast<size_t>(payload)));
  if (!buffer) {
    std::printf("WAV file %s: no memory for %u bytes\n", name, payload);
    return 0;
  }
  std::memcpy(buffer + 0, "RIFF", 4);
  write32(buffer + 4, datasize + 36);
  std::memcpy(buffer + 8, "WAVE", 4);
  std::memcpy(buffer + 12, "fmt ", 4);
  write32(buffer + 16, kFormatBytes);
  write16(buffer + 20, kFormatPCM);
  write16(buffer + 22, sound->channels & 0xFF);
  write32(buffer + 24, sound->frequency);
  write32(buffer + 28, framebytes * sound->frequency);
  write16(buffer + 32, framebytes & 0xFF);
  write16(buffer + 34, sound->bits & 0xFF);
  std::memcpy(buffer + 36, "data", 4);
  write32(buffer + 40, datasize);
  if (payload > 0) std::memcpy(buffer + kHeaderBytes, sound->data, payload);
  corefile_savebuffer(name, buffer, kHeaderBytes + static_cast<int>(payload));
  std::free(buffer);
  return 1;
}
