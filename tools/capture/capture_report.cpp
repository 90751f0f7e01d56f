// capture_report: the timing report, the frame log and the progress line.
//
// The report names the show's grid (sample rate, tick, beat, last scene) on
// its "show:" line, then groups the rendered frames by the event they showed
// and gives, per event, the frames and the median and maximum time of a frame's GL work
// (the engine's frame plus glFinish, so llvmpipe's deferred rendering is
// counted in the frame that asked for it). It is printed after the engine's
// start-up lines, under a heading of its own.
//
// Two splits follow the totals, each under its own label. The start-up split
// cuts the start-up line's time into the parts it passed through, in order,
// so that they add up to it: the tool's own start before the engine, the
// engine's steps (from the demo's start-up marks), the first frame, and the
// rest (the capture's set-up between the engine and its first frame). The
// pass split gives each pass's GL time, measured with timer queries between
// the demo's pass marks: its median per event and over all frames, and its
// share of the GL time of all frames.
//
// Threads: main thread.
#include "tools/capture/capture.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

// ---- Internal functions -----------------------------------------------------------
namespace {

// "m:ss" or "h:mm:ss".
void format_duration(char* dst, size_t capacity, double seconds) {
  const int64_t total = seconds > 0 ? static_cast<int64_t>(seconds + 0.5) : 0;
  const int64_t h = total / 3600, m = total / 60 % 60, s = total % 60;
  if (h)
    snprintf(dst, capacity, "%lld:%02lld:%02lld", static_cast<long long>(h), static_cast<long long>(m),
             static_cast<long long>(s));
  else
    snprintf(dst, capacity, "%lld:%02lld", static_cast<long long>(m), static_cast<long long>(s));
}

void write_row(FILE* out, const char* name, std::vector<double>& times) {
  const double maximum = times.empty() ? 0.0 : *std::max_element(times.begin(), times.end());
  const double median = capture_median(times.data(), static_cast<int64_t>(times.size()));
  fprintf(out, "%6s %8zu %12.3f %12.3f\n", name, times.size(), median, maximum);
}

using PassTimes = std::array<std::vector<double>, CAPTURE_PASSES>;

// One row of the pass table: each pass's median, "-" for a pass without frames.
void write_passrow(FILE* out, const char* name, PassTimes& times) {
  fprintf(out, "%6s", name);
  for (std::vector<double>& pass : times) {
    if (pass.empty())
      fprintf(out, " %10s", "-");
    else
      fprintf(out, " %10.3f", capture_median(pass.data(), static_cast<int64_t>(pass.size())));
  }
  fprintf(out, "\n");
}

void write_startupsplit(FILE* out, const s_capturereport* report) {
  double accounted = report->launch_ms;
  fprintf(out, "start-up split: before the engine %.1f ms", report->launch_ms);
  for (int step = 0; step < CAPTURE_STEPS; ++step) {
    if (report->step_ms[step] < 0) {
      fprintf(out, ", %s -", capture_stepnames[step]);
      continue;
    }
    fprintf(out, ", %s %.1f ms", capture_stepnames[step], report->step_ms[step]);
    accounted += report->step_ms[step];
  }
  if (report->numframes > 0) {
    accounted += report->frames[0].render_ms;
    fprintf(out, ", first frame %.1f ms, other %.1f ms", report->frames[0].render_ms, report->startup_ms - accounted);
  }
  fprintf(out, "\n");
}

void write_passsplit(FILE* out, const s_capturereport* report) {
  if (!report->passtimer) {
    fprintf(out, "GL time per pass: not measured (the driver has no GL_ARB_timer_query)\n");
    return;
  }
  fprintf(out, "GL time per pass (timer queries), median ms by the event in force:\n");
  fprintf(out, "%6s", "event");
  for (const char* name : capture_passnames) fprintf(out, " %10s", name);
  fprintf(out, "\n");

  std::map<int32_t, PassTimes> byevent;
  PassTimes all;
  double sums[CAPTURE_PASSES] = {};
  for (int64_t i = 0; i < report->numframes; ++i) {
    const s_captureframe& frame = report->frames[i];
    PassTimes& row = byevent[frame.event];
    for (int pass = 0; pass < CAPTURE_PASSES; ++pass) {
      if (frame.pass_ms[pass] < 0) continue;
      row[pass].push_back(frame.pass_ms[pass]);
      all[pass].push_back(frame.pass_ms[pass]);
      sums[pass] += frame.pass_ms[pass];
    }
  }
  char name[16];
  for (auto& entry : byevent) {
    snprintf(name, sizeof(name), "%d", entry.first);
    write_passrow(out, name, entry.second);
  }
  write_passrow(out, "all", all);
  double total = 0.0;
  for (double sum : sums) total += sum;
  fprintf(out, "GL time by pass, all frames:");
  for (int pass = 0; pass < CAPTURE_PASSES; ++pass)
    fprintf(out, "%s %s %.1f ms (%.1f %%)", pass ? "," : "", capture_passnames[pass], sums[pass],
            total > 0 ? 100.0 * sums[pass] / total : 0.0);
  fprintf(out, "\n");
}

}  // namespace

// ---- Globals ---------------------------------------------------------------------------
const char* const capture_passnames[CAPTURE_PASSES] = {"scene A", "scene B", "transition", "post"};
const char* const capture_stepnames[CAPTURE_STEPS] = {"mount", "window", "sound and music", "images", "shaders", "timing"};

// ---- Public functions ---------------------------------------------------------------
double capture_median(double* values, int64_t count) {
  if (count <= 0) return 0.0;
  double* middle = values + count / 2;
  std::nth_element(values, middle, values + count);
  if (count % 2) return *middle;
  // The lower middle is the largest of the lower half.
  const double lower = *std::max_element(values, middle);
  return (lower + *middle) / 2.0;
}

void capture_writereport(FILE* out, const s_capturereport* report) {
  const int64_t wanted = report->range.end - report->range.first;
  fprintf(out, "\n==== %s timing report ====\n", CAPTURE_PROGRAM);
  fprintf(out, "capture: %d fps, %dx%d, frames %lld to %lld (%lld frames, show time %.3f s to %.3f s)\n",
          report->fps, EFFECTS_WIDTH, EFFECTS_HEIGHT, static_cast<long long>(report->range.first),
          static_cast<long long>(report->range.end - 1), static_cast<long long>(wanted),
          capture_frameclock(report->range.first, report->fps), capture_frameclock(report->range.end - 1, report->fps));
  // The show's own grid, for scripts that measure the frames against the beat
  // (scripts/motion.sh) without typing it again.
  fprintf(out, "show: %d sample frames a second, %d sample frames a tick, %d ticks a beat, scenes 0 to %d\n",
          AUDIO_DEVICE_RATE, TIMELINE_TICKLENGTH, EFFECTS_BEAT_TICKS, DEMO_LASTSCENE);
  if (report->numframes != wanted)
    fprintf(out, "rendered: %lld of them (stopped early)\n", static_cast<long long>(report->numframes));
  fprintf(out, "start-up: %.1f ms from launch to the end of the first frame (engine start-up %.1f ms)\n",
          report->startup_ms, report->engine_ms);
  fprintf(out, "render time per frame (engine frame + glFinish), by the event in force:\n");
  fprintf(out, "%6s %8s %12s %12s\n", "event", "frames", "median ms", "max ms");

  std::map<int32_t, std::vector<double>> byevent;
  std::vector<double> all;
  all.reserve(static_cast<size_t>(std::max<int64_t>(report->numframes, 0)));
  for (int64_t i = 0; i < report->numframes; ++i) {
    byevent[report->frames[i].event].push_back(report->frames[i].render_ms);
    all.push_back(report->frames[i].render_ms);
  }
  char name[16];
  for (auto& entry : byevent) {
    snprintf(name, sizeof(name), "%d", entry.first);
    write_row(out, name, entry.second);
  }
  write_row(out, "all", all);
  const double seconds = report->wall_ms / 1000.0;
  fprintf(out, "wall: %.1f s from launch, %.2f frames a second overall (readback %.1f s, output %.1f s)\n", seconds,
          seconds > 0 ? static_cast<double>(report->numframes) / seconds : 0.0, report->readback_ms / 1000.0,
          report->output_ms / 1000.0);
  write_startupsplit(out, report);
  write_passsplit(out, report);
  fflush(out);
}

int capture_writelog(const char* path, const s_captureframe* frames, int64_t count, char* message, int capacity) {
  FILE* out = fopen(path, "w");
  if (!out) return core_fail(message, capacity, "cannot write %s: %s", path, strerror(errno));
  fprintf(out, "frame,offset,tick,event,state,progress,render_ms\n");
  for (int64_t i = 0; i < count; ++i) {
    const s_captureframe& f = frames[i];
    fprintf(out, "%lld,%d,%d,%d,%d,%.6f,%.3f\n", static_cast<long long>(f.frame), f.offset, f.tick, f.event, f.state,
            static_cast<double>(f.progress), f.render_ms);
  }
  const bool ok = !ferror(out) && fflush(out) == 0;
  const int cause = errno;  // the write's reason, before fclose can change it
  const bool closed = fclose(out) == 0;
  if (ok && closed) return 1;
  // No truncated log is left behind (a full disk, say).
  core_fail(message, capacity, "cannot write %s: %s", path, strerror(ok ? errno : cause));
  capture_removepartial(path);
  return 0;
}

void capture_formatprogress(char* dst, int capacity, int64_t done, int64_t total, double elapsed_s, int32_t barwidth) {
  if (capacity <= 0) return;
  const int64_t clamped = std::max<int64_t>(0, std::min(done, total));
  const double fraction = total > 0 ? static_cast<double>(clamped) / static_cast<double>(total) : 1.0;
  barwidth = std::max(1, std::min(barwidth, 200));
  char bar[204];
  const int filled = static_cast<int>(fraction * barwidth);
  bar[0] = '[';
  for (int i = 0; i < barwidth; ++i) bar[1 + i] = i < filled ? '#' : '-';
  bar[1 + barwidth] = ']';
  bar[2 + barwidth] = 0;
  const double rate = elapsed_s > 0 && clamped > 0 ? static_cast<double>(clamped) / elapsed_s : 0.0;
  char eta[32] = "?";
  if (rate > 0) format_duration(eta, sizeof(eta), static_cast<double>(total - clamped) / rate);
  snprintf(dst, static_cast<size_t>(capacity), "%s %3d%%  frame %lld/%lld  %.1f fps  eta %s", bar,
           static_cast<int>(fraction * 100.0), static_cast<long long>(clamped), static_cast<long long>(total), rate,
           eta);
}
