// musicgen: speed of the render and the mastering, as a report.
//
//   build/tests/musicgen_bench   (or wherever the build puts it)
//
// The figures that matter: one bar of the chorus (the densest part of the
// score) against its 1.99 s of music, and mastering per minute of audio.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "musicgen.h"

namespace {

struct Show {
  s_mgscore score;
  s_mgsong song;
  std::vector<int> events;
  bool ok;
  Show() {
    const std::string dir = SPROX_SOURCE_DIR;
    ok = mg_score_load((dir + "/content/music/sprox.score").c_str(), &score) &&
         mg_timing_load((dir + "/content/timing.dat").c_str(), &events) && mg_sequence(&score, events, &song);
  }
};

const Show& show() {
  static Show s;
  return s;
}

void BM_RenderChorusBar(benchmark::State& state) {
  const Show& s = show();
  if (!s.ok) {
    state.SkipWithError("the score did not load");
    return;
  }
  const int64_t from = (int64_t)s.events[8] * MG_TICK_FRAMES;
  const int64_t frames = MG_TICKS_PER_BAR * MG_TICK_FRAMES;
  std::vector<float> out;
  for (auto _ : state) {
    mg_render(&s.score, &s.song, from, from + frames, &out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["x_realtime"] =
      benchmark::Counter((double)frames / MG_RATE * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderChorusBar)->Unit(benchmark::kMillisecond);

void BM_MasterMinute(benchmark::State& state) {
  const int frames = 60 * MG_RATE;
  std::vector<float> mix((size_t)frames * 2);
  s_mgosc o;
  mg_osc_init(&o, MG_WAVE_SAW, 110.0f, 0.0f);
  for (int i = 0; i < frames; ++i) mix[2 * (size_t)i] = mix[2 * (size_t)i + 1] = 0.7f * mg_osc_next(&o);
  std::vector<int16_t> pcm;
  s_mgmasterreport rep;
  for (auto _ : state) {
    std::vector<float> copy = mix;
    mg_master(&copy, -14.0f, -1.5f, 1.0f, &pcm, &rep);
    benchmark::DoNotOptimize(pcm.data());
  }
}
BENCHMARK(BM_MasterMinute)->Unit(benchmark::kMillisecond);

void BM_SawUnison5(benchmark::State& state) {
  s_mginstrument ins;
  mg_instrument_defaults(&ins, MG_ENGINE_SYNTH);
  ins.p[MG_P_UNISON] = 5;
  ins.p[MG_P_SUSTAIN] = 1.0f;
  s_mgnote note{0, 0, (int64_t)1 << 40, 60.0f, 0.8f, 0};
  static s_mgvoice v;
  mg_voice_start(&v, &ins, &note, 1);
  float l[MG_BLOCK], r[MG_BLOCK];
  for (auto _ : state) {
    mg_voice_render(&v, &ins, 0.0f, l, r, MG_BLOCK);
    benchmark::DoNotOptimize(l);
  }
  state.SetItemsProcessed(state.iterations() * MG_BLOCK);
}
BENCHMARK(BM_SawUnison5);

}  // namespace

BENCHMARK_MAIN();
