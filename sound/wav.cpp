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
// of the file, bits per sample below 8 or not a multiple of 8, a sample rate
// outside 8000 to 192000 Hz, and data without one whole frame (each with
// result 0, one line naming the file and the reason, and no read outside the
// file's bytes), besides the checks of the layout. A music file's frames are
// the show's clock: a rate of 0 would stop it and an empty file has none.
//
// Threads: main thread only, except Soundsystem_FillWAVHeader (any thread).

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/core.h"
#include "corefile/corefile.h"
#include "sound/sound.h"
#include "sound/sound_internal.h"
#include "sound/sound_messages.h"

// ---- Constants -------------------------------------------------------------------------

namespace {

constexpr int kHeaderBytes = SOUND_WAV_HEADERBYTES;  // the canonical header
constexpr uint32_t kFormatBytes = 16;  // the "fmt " chunk's size
constexpr uint16_t kFormatPCM = 1;     // format tag of uncompressed PCM

}  // namespace

// ---- Internal functions --------------------------------------------------------------------

namespace {

// Why a file was refused: the reader's own line of the format (printed as it
// is, no line break) or a reason of ours, or neither (the layout's silent
// refusals); `why` holds the reason in words in every case.
struct s_wavrefusal {
  const char* formatline;  // kMsgNoWav or kMsgNotPcm, else null
  bool quiet;              // refused without a line (no "fmt" or "data" where the layout has them)
  char why[128];           // the reason, for a caller that reports it itself
};

int refuse(s_wavrefusal* refusal, const char* formatline, bool quiet, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
int refuse(s_wavrefusal* refusal, const char* formatline, bool quiet, const char* format, ...) {
  refusal->formatline = formatline;
  refusal->quiet = quiet;
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(refusal->why, sizeof refusal->why, format, arguments);
  va_end(arguments);
  return 0;
}

// Everything after the file has been read into `file` (size bytes, at least 44).
int parsewav(const uint8_t* file, uint32_t size, s_sound* sound, s_wavrefusal* refusal) {
  if (std::memcmp(file, "RIFF", 4) != 0 || std::memcmp(file + 8, "WAVE", 4) != 0)
    return refuse(refusal, kMsgNoWav, false, "%s", kWhyNoWav);
  if (std::memcmp(file + 12, "fmt", 3) != 0) return refuse(refusal, nullptr, true, "%s", kWhyNoFormat);

  sound->channels = core_getle16(file + 22);
  sound->frequency = core_getle32(file + 24);
  sound->bits = core_getle16(file + 34);

  const uint16_t tag = core_getle16(file + 20);
  if (tag != kFormatPCM) return refuse(refusal, kMsgNotPcm, false, kWhyNotPcm, static_cast<unsigned>(tag));
  if (std::memcmp(file + 36, "data", 4) != 0) return refuse(refusal, nullptr, true, "%s", kWhyNoData);

  if (sound->bits < 8 || sound->bits % 8 != 0)
    return refuse(refusal, nullptr, false, kWhyBits, static_cast<unsigned>(sound->bits));
  // The music's clock counts its frames at this rate: outside the range it
  // would stand still or race.
  if (sound->frequency < SOUND_WAV_MINRATE || sound->frequency > SOUND_WAV_MAXRATE)
    return refuse(refusal, nullptr, false, kWhyRate, sound->frequency, SOUND_WAV_MINRATE, SOUND_WAV_MAXRATE);
  const uint32_t datasize = core_getle32(file + 40);
  if (datasize > size - kHeaderBytes) return refuse(refusal, nullptr, false, "%s", kWhyDataPastEnd);
  // Not one whole frame (0 channels has none): nothing to play, no clock.
  const uint32_t framebytes = sound->channels * (sound->bits / 8u);
  if (framebytes == 0 || datasize < framebytes) return refuse(refusal, nullptr, false, "%s", kWhyNoFrames);

  void* data = std::malloc(datasize);
  if (!data) return refuse(refusal, nullptr, false, kWhyNoMemory, datasize);
  std::memcpy(data, file + kHeaderBytes, datasize);
  sound->data = data;
  sound->datasize = datasize;
  sound->numsamples = datasize / (sound->bits / 8u);
  return 1;
}

}  // namespace

int soundsystem_readwav(const char* name, s_sound* sound, char* why, size_t capacity) {
  s_wavrefusal refusal{};
  int result = 0;
  s_corefile file;
  if (!name || !sound) {
    refuse(&refusal, nullptr, true, "%s", kWhyNoFile);
  } else if (!corefile_open(name, &file, 0)) {
    refuse(&refusal, nullptr, true, "%s", kWhyNoFile);
  } else if (file.size < kHeaderBytes) {
    corefile_close(&file);
    refuse(&refusal, nullptr, false, kWhyShort, kHeaderBytes);
  } else {
    const uint32_t size = static_cast<uint32_t>(file.size);
    // Zeroed, so a short read from the stream leaves zeros, not stale heap bytes.
    uint8_t* buffer = static_cast<uint8_t*>(std::calloc(size, 1));
    if (buffer) corefile_read(buffer, static_cast<int>(size), 1, &file);
    corefile_close(&file);
    result = buffer ? parsewav(buffer, size, sound, &refusal) : refuse(&refusal, nullptr, false, kWhyNoMemory, size);
    std::free(buffer);
  }
  if (!result && why && capacity > 0) std::snprintf(why, capacity, "%s", refusal.why);
  // The format's own lines stay as they are; ours name the file.
  if (!result && !why) {
    if (refusal.formatline) {
      std::printf("%s", refusal.formatline);
    } else if (!refusal.quiet) {
      std::printf(kMsgWavRefused, name, refusal.why);
    }
  }
  return result;
}

// ---- Public functions ----------------------------------------------------------------------

int Soundsystem_LoadWAV(const char* name, s_sound* sound) { return soundsystem_readwav(name, sound, nullptr, 0); }

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
