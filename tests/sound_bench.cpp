// Benchmarks of the sound module, run by hand as a report.
//
// BM_MixBuffer: audiodriver_mixbuffers for one 2048-frame stereo buffer with
// 1 and with 16 active stereo sounds (the goal: one sound in under 1% of the
// buffer's 46.4 ms).
//
// BM_PlaybackClock: one pass of about two seconds on the silent output,
// sampling at 60 Hz the mixer's offset (Soundsystem_GetSoundOffset) and the
// playback clock (Soundsystem_GetPlaybackOffset) against what the output is
// "playing" at that moment. The music is a ramp whose every sample holds its
// own frame number (modulo 32768), so the frame at the output's play point
// is read from the slot's bytes themselves. Counters: step sizes between
// frames and the A/V offset (reported offset minus audible frame) in ms.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sound/sound.h"
#include "sound/sound_internal.h"

namespace {

constexpr double kRate = 44100.0;
constexpr int kRamp = 32768;  // the ramp's period in frames

// A looping 44100 Hz stereo sound of `frames` frames, filled by a hash.
s_sound make_noise(uint32_t frames, uint32_t seed) {
  s_sound sound{};
  sound.channels = 2;
  sound.bits = 16;
  sound.frequency = 44100;
  sound.datasize = frames * 4;
  sound.numsamples = frames * 2;
  sound.data = std::malloc(sound.datasize);
  int16_t* samples = static_cast<int16_t*>(sound.data);
  uint32_t x = seed * 2654435761u + 1;
  for (uint32_t i = 0; i < sound.numsamples; i++) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    samples[i] = static_cast<int16_t>(x >> 16);
  }
  sound.volume = 255;
  sound.leftvolume = sound.rightvolume = sound.panning = 128;
  Soundsystem_SetFrequency(&sound, 44100);
  return sound;
}

void quiet_init(int output) {
  audiodriver_selectoutput(output);
  std::fflush(stdout);
  FILE* saved = stdout;
  stdout = std::fopen("/dev/null", "w");
  Soundsystem_Init(44100, 16, 2);
  std::fclose(stdout);
  stdout = saved;
}

void BM_MixBuffer(benchmark::State& state) {
  quiet_init(AUDIO_OUTPUT_MANUAL);
  const int count = static_cast<int>(state.range(0));
  std::vector<s_sound> sounds;
  sounds.reserve(count);
  for (int i = 0; i < count; i++) sounds.push_back(make_noise(44100, static_cast<uint32_t>(i)));
  for (s_sound& sound : sounds) Soundsystem_PlaySound(&sound, 1);
  std::vector<uint8_t> out(static_cast<size_t>(AUDIO_SLOT_FRAMES) * 4);
  for (auto _ : state) {
    audiodriver_mixbuffers(out.data(), static_cast<int>(out.size()), 0);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  const double slot_s = AUDIO_SLOT_FRAMES / kRate;
  state.counters["frames/s"] = benchmark::Counter(AUDIO_SLOT_FRAMES, benchmark::Counter::kIsIterationInvariantRate);
  // Time per buffer as a share of the buffer's playing time, in percent.
  state.counters["pct_of_slot"] =
      benchmark::Counter(slot_s / 100.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  Soundsystem_CloseAudio();
  for (s_sound& sound : sounds) std::free(sound.data);
  audiodriver_selectoutput(AUDIO_OUTPUT_AUTO);
}
BENCHMARK(BM_MixBuffer)->Arg(1)->Arg(16)->Unit(benchmark::kMicrosecond);

// The frame the silent output plays now, read from the slot's bytes; -1 if unknown.
int64_t audible_ramp_frame(int64_t now_ns) {
  std::lock_guard<std::mutex> guard(g_sound_lock);
  if (!g_audio_buffer) return -1;
  const int64_t since = now_ns - soundclock_completionLocked();
  if (since < 0) return -1;
  const int64_t played = since * 44100 / AUDIO_NS_PER_S;  // frames since the last completion
  const int slot = static_cast<int>((g_cur_buf + played / AUDIO_SLOT_FRAMES) % AUDIO_NUM_SLOTS);
  const int frame = static_cast<int>(played % AUDIO_SLOT_FRAMES);
  int16_t left = 0;
  std::memcpy(&left, g_audio_buffer + slot * g_buffer_size + frame * 4, 2);
  // The left gain is 253 (side volume 255, globals 255): undo it.
  return static_cast<int64_t>(std::lround(left * 256.0 / 253.0));
}

void BM_PlaybackClock(benchmark::State& state) {
  quiet_init(AUDIO_OUTPUT_SILENT);
  const uint32_t frames = 44100 * 20;
  s_sound music{};
  music.channels = 1;
  music.bits = 16;
  music.frequency = 44100;
  music.datasize = frames * 2;
  music.numsamples = frames;
  music.data = std::malloc(music.datasize);
  for (uint32_t f = 0; f < frames; f++) static_cast<int16_t*>(music.data)[f] = static_cast<int16_t>(f % kRamp);
  music.volume = 255;
  music.leftvolume = music.rightvolume = 255;
  music.panning = 128;
  Soundsystem_SetFrequency(&music, 44100);
  Soundsystem_PlayMusic(&music, 0);
  // Past the start-up silence of the four priming slots.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));

  std::vector<double> raw_av, clock_av, raw_steps, clock_steps;
  for (auto _ : state) {
    uint64_t last_raw = 0, last_clock = 0;
    for (int i = 0; i < 120; i++) {
      const s_sound copy = Soundsystem_CopySound(&music);
      const int64_t now = sound_now_ns();
      const uint64_t raw = Soundsystem_GetSoundOffset(copy);
      const uint64_t clock = Soundsystem_GetPlaybackOffset(copy);
      const int64_t ramp = audible_ramp_frame(now);
      if (ramp >= 0) {
        // The audible frame: the ramp's value in the period just below the mixer.
        int64_t audible = static_cast<int64_t>(raw) - ((static_cast<int64_t>(raw) - ramp) % kRamp + kRamp) % kRamp;
        raw_av.push_back((static_cast<double>(raw) - audible) * 1000.0 / kRate);
        clock_av.push_back((static_cast<double>(clock) - audible) * 1000.0 / kRate);
      }
      if (i > 0) {
        raw_steps.push_back(static_cast<double>(raw - last_raw));
        clock_steps.push_back(static_cast<double>(clock - last_clock));
      }
      last_raw = raw;
      last_clock = clock;
      std::this_thread::sleep_for(std::chrono::microseconds(16667));
    }
  }
  auto mean = [](const std::vector<double>& v) {
    double sum = 0;
    for (double x : v) sum += x;
    return v.empty() ? 0.0 : sum / v.size();
  };
  auto maximum = [](const std::vector<double>& v) { return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()); };
  auto minimum = [](const std::vector<double>& v) { return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()); };
  auto moving = [](const std::vector<double>& v) {
    return static_cast<double>(std::count_if(v.begin(), v.end(), [](double x) { return x > 0; }));
  };
  state.counters["raw_step_mean"] = mean(raw_steps);
  state.counters["raw_step_max"] = maximum(raw_steps);
  state.counters["raw_frames_moving"] = moving(raw_steps);
  state.counters["clock_step_mean"] = mean(clock_steps);
  state.counters["clock_step_min"] = minimum(clock_steps);
  state.counters["clock_step_max"] = maximum(clock_steps);
  state.counters["clock_frames_moving"] = moving(clock_steps);
  for (const auto& [name, values] : {std::pair{"raw_av_ms", &raw_av}, std::pair{"clock_av_ms", &clock_av}}) {
    state.counters[std::string(name) + "_mean"] = mean(*values);
    state.counters[std::string(name) + "_min"] = minimum(*values);
    state.counters[std::string(name) + "_max"] = maximum(*values);
  }
  Soundsystem_CloseAudio();
  std::free(music.data);
  audiodriver_selectoutput(AUDIO_OUTPUT_AUTO);
}
BENCHMARK(BM_PlaybackClock)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
