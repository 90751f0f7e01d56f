// wav: reading and writing RIFF/WAVE PCM files through the resource file system.
//
// Only the canonical 44-byte layout is read: "RIFF", size, "WAVE", a 16-byte
// "fmt " chunk, then "data" and its size at offset 36; no chunk walking. The
// reader copies the data chunk into a new block owned by the record. Writing
// builds the same 44-byte header in front of the record's data and hands the
// whole file to corefile_savebuffer (a directory mount is needed to land it).
// Soundsystem_FillWAVHeader is that header on its own, for every other writer
// of WAV files (the music generator, tests).
//
// Refused: a file shorter than the header, a data size that runs past the end
// of the file, bits per sample below 8 or not a multiple of 8 (each with result
// 0 and no read outside the file's bytes), besides the checks of the layout.
//
// Threads: main thread only, except Soundsystem_FillWAVHeader (any thread).

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "corefile/corefile.h"
#include "sound/sound.h"
#include "sound/sound_messages.h"

// ---- Constants -------------------------------------------------------------------------

namespace {

constexpr int kHeaderBytes = SOUND_WAV_HEADERBYTES;  // the canonical header
constexpr uint32_t kFormatBytes = 16;  // the "fmt " chunk's size
constexpr uint16_t kFormatPCM = 1;     // format tag of uncompressed PCM

}  // namespace

// ---- Internal functions --------------------------------------------------------------------

namespace {

// Everything after the file has been read into `file` (size bytes, at least 44).
int parsewav(const char* name, const uint8_t* file, uint32_t size, s_sound* sound) {
  if (std::memcmp(file, "RIFF", 4) != 0 || std::memcmp(file + 8, "WAVE", 4) != 0) {
    std::printf("%s", kMsgNoWav);
    return 0;
  }
  if (std::memcmp(file + 12, "fmt", 3) != 0) return 0;

  sound->channels = core_getle16(file + 22);
  sound->frequency = core_getle32(file + 24);
  sound->bits = core_getle16(file + 34);

  if (core_getle16(file + 20) != kFormatPCM) {
    std::printf("%s", kMsgNotPcm);
    return 0;
  }
  if (std::memcmp(file + 36, "data", 4) != 0) return 0;

  if (sound->bits < 8 || sound->bits % 8 != 0) {
    std::printf(kMsgWavBits, name, static_cast<unsigned>(sound->bits));
    return 0;
  }
  const uint32_t datasize = core_getle32(file + 40);
  if (datasize > size - kHeaderBytes) {
    std::printf(kMsgWavDataPastEnd, name);
    return 0;
  }
  void* data = nullptr;
  if (datasize > 0) {
    data = std::malloc(datasize);
    if (!data) {
      std::printf(kMsgWavNoMemory, name, datasize);
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
    std::printf(kMsgWavShort, name, kHeaderBytes);
    return 0;
  }
  const uint32_t size = static_cast<uint32_t>(file.size);
  // Zeroed, so a short read from the stream leaves zeros, not stale heap bytes.
  uint8_t* buffer = static_cast<uint8_t*>(std::calloc(size, 1));
  if (!buffer) {
    corefile_close(&file);
    std::printf(kMsgWavNoMemory, name, size);
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
    std::printf(kMsgWavTooLarge, name, payload);
    return 0;
  }
  // The header's sizes never claim more than the bytes that follow it.
  const uint64_t counted = static_cast<uint64_t>(sound->numsamples) * (sound->bits / 8u);
  const uint32_t datasize = counted < payload ? static_cast<uint32_t>(counted) : payload;

  uint8_t* buffer = static_cast<uint8_t*>(std::malloc(kHeaderBytes + static_cast<size_t>(payload)));
  if (!buffer) {
    std::printf(kMsgWavNoMemory, name, payload);
    return 0;
  }
  Soundsystem_FillWAVHeader(buffer, sound->channels, sound->bits, sound->frequency, datasize);
  if (payload > 0) std::memcpy(buffer + kHeaderBytes, sound->data, payload);
  corefile_savebuffer(name, buffer, kHeaderBytes + static_cast<int>(payload));
  std::free(buffer);
  return 1;
}

void Soundsystem_FillWAVHeader(uint8_t header[SOUND_WAV_HEADERBYTES], unsigned channels, unsigned bits,
                               uint32_t frequency, uint32_t datasize) {
  const uint32_t framebytes = channels * (bits / 8u);
  std::memcpy(header + 0, "RIFF", 4);
  core_putle32(header + 4, datasize + 36);
  std::memcpy(header + 8, "WAVE", 4);
  std::memcpy(header + 12, "fmt ", 4);
  core_putle32(header + 16, kFormatBytes);
  core_putle16(header + 20, kFormatPCM);
  core_putle16(header + 22, static_cast<uint16_t>(channels & 0xFF));
  core_putle32(header + 24, frequency);
  core_putle32(header + 28, framebytes * frequency);
  core_putle16(header + 32, static_cast<uint16_t>(framebytes & 0xFF));
  core_putle16(header + 34, static_cast<uint16_t>(bits & 0xFF));
  std::memcpy(header + 36, "data", 4);
  core_putle32(header + 40, datasize);
}
