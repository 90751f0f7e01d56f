// The waveOut output's refill (sound/waveout_refill.cpp) on a device of the
// test's: the order of the device calls for the slots handed back, mixing
// before the write, failures, the close, and the playback clock taken from
// the device's position.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sound_helpers.h"

namespace {

// What the pretend device does and has seen.
struct FakeDevice {
  unsigned done = 0;        // bit per slot: handed back
  int refuseunprepare = -1;  // the slot whose unprepare fails
  int refusewrite = -1;      // the slot whose write fails
  int64_t played = -1;       // the position, -1: the device cannot say
  std::string calls;         // "U0 P0 W0 ...": unprepare, prepare, write
  int silentwrites = 0;      // writes of a slot whose first sample was still silence
};
FakeDevice g_fake;

const s_waveoutdevice kFake = {
    [](int slot) { return static_cast<int>(g_fake.done >> slot & 1); },
    [](int slot) {
      g_fake.calls += "U" + std::to_string(slot) + " ";
      return slot == g_fake.refuseunprepare ? 0 : 1;
    },
    [](int slot, uint8_t* data, int length) {
      g_fake.calls += "P" + std::to_string(slot) + " ";
      int16_t first = 0;
      std::memcpy(&first, data, sizeof first);
      g_fake.silentwrites += first == 0 ? 1 : 0;
      return data == g_audio_buffer + slot * g_buffer_size && length == g_buffer_size ? 1 : 0;
    },
    [](int slot) {
      g_fake.calls += "W" + std::to_string(slot) + " ";
      return slot == g_fake.refusewrite ? 0 : 1;
    },
    [](uint32_t* frames) {
      if (g_fake.played < 0) return 0;
      *frames = static_cast<uint32_t>(g_fake.played);
      return 1;
    },
};

struct RefillRow {
  const char* what;
  unsigned done;
  int refuseunprepare, refusewrite;
  int64_t played;
  const char* calls;
  int result;
  int nextslot;      // g_cur_buf afterwards
  uint32_t latency;  // the playback clock's latency afterwards
};

constexpr uint32_t kRing = AUDIO_NUM_SLOTS * AUDIO_SLOT_FRAMES;

class WaveoutRefill : public sound_test::SoundSystemTest {};

TEST_F(WaveoutRefill, RefillsReturnedSlotsInRingOrderMixingBeforeTheWrite) {
  Soundsystem_PlayMusic(constant_sound(2, 441000, 1000), 0);
  const RefillRow rows[] = {
      {"two back, position unknown", 0x3, -1, -1, -1, "U0 P0 W0 U1 P1 W1 ", 2, 2, kRing},
      {"all four back", 0xF, -1, -1, 0, "U0 P0 W0 U1 P1 W1 U2 P2 W2 U3 P3 W3 ", 4, 0, kRing},
      {"out of order: slot 0 not yet back", 0x6, -1, -1, 0, "", 0, 0, kRing},
      // After the write 5 slots have gone out: 2048 x 5 - 3000 frames lie ahead of the loudspeaker.
      {"the clock from the position", 0x1, -1, -1, 3000, "U0 P0 W0 ", 1, 1, 5 * AUDIO_SLOT_FRAMES - 3000},
      {"a position beyond reason is not taken", 0x1, -1, -1, 5 * AUDIO_SLOT_FRAMES + 1, "U0 P0 W0 ", 1, 1, kRing},
      {"unprepare refused", 0x3, 0, -1, 0, "U0 ", -1, 0, kRing},
      {"write refused", 0x3, -1, 1, 0, "U0 P0 W0 U1 P1 W1 ", -1, 2, kRing},
  };
  for (const RefillRow& row : rows) {
    uint32_t written = kRing;  // the four priming slots
    {
      std::lock_guard<std::mutex> guard(g_sound_lock);
      g_cur_buf = 0;
      soundclock_completedLocked(sound_now_ns(), kRing);
      std::memset(g_audio_buffer, 0, static_cast<size_t>(AUDIO_NUM_SLOTS) * g_buffer_size);
    }
    g_fake = FakeDevice{row.done, row.refuseunprepare, row.refusewrite, row.played, "", 0};
    EXPECT_EQ(waveout_refill(&kFake, &written), row.result) << row.what;
    EXPECT_EQ(g_fake.calls, row.calls) << row.what;
    EXPECT_EQ(g_fake.silentwrites, 0) << row.what << ": a slot went out before it was mixed";
    std::lock_guard<std::mutex> guard(g_sound_lock);
    EXPECT_EQ(g_cur_buf, row.nextslot) << row.what;
    EXPECT_EQ(soundclock_latencyLocked(), row.latency) << row.what;
    if (row.result >= 0) {
      EXPECT_EQ(written, kRing + static_cast<uint32_t>(row.result) * AUDIO_SLOT_FRAMES) << row.what;
    }
  }
}

TEST_F(WaveoutRefill, WhileClosingAReturnedSlotIsUnpreparedAndNotWrittenAgain) {
  uint32_t written = kRing;
  uint8_t* ring = nullptr;
  {
    std::lock_guard<std::mutex> guard(g_sound_lock);
    ring = g_audio_buffer;
    g_audio_buffer = nullptr;  // what audiodriver_close does first
  }
  g_fake = FakeDevice{0xF, -1, -1, 0, "", 0};
  EXPECT_EQ(waveout_refill(&kFake, &written), 0);
  EXPECT_EQ(g_fake.calls, "U0 ");
  EXPECT_EQ(written, kRing);
  std::lock_guard<std::mutex> guard(g_sound_lock);
  g_audio_buffer = ring;
}

}  // namespace
