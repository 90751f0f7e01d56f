// capture_frames: the capture's frame ranges and sheet points, on the fixed
// clock of demo/fixedclock.h (the engine's, shared with the web page).
//
// Threads: main thread.
#include "tools/capture/capture.h"

#include <algorithm>
#include <cstdio>

// ---- Internal functions -----------------------------------------------------------
namespace {

double frame_seconds(int64_t frame, int32_t fps) { return static_cast<double>(frame) / fps; }

// Start of the event after `event` in ticks, the end mark's start for the last
// event of the show, or -1 when the timeline says nothing about it.
int64_t next_start(const s_capturetimeline* timeline, int32_t event) {
  if (event + 1 < timeline->numevents) return timeline->start[event + 1];
  return -1;
}

}  // namespace

// ---- Public functions ---------------------------------------------------------------
int64_t capture_showend(const s_capturetimeline* timeline) {
  if (timeline->numevents <= CAPTURE_ENDEVENT) return -1;
  return static_cast<int64_t>(timeline->start[CAPTURE_ENDEVENT]) * TIMELINE_TICKLENGTH;
}

int32_t capture_showevents(const s_capturetimeline* timeline) {
  return std::max(0, std::min<int32_t>(timeline->numevents, CAPTURE_ENDEVENT));
}

int capture_resolverange(const s_captureoptions* options, const s_capturetimeline* timeline,
                         s_capturerange* range, char* message, int capacity) {
  const int32_t fps = options->fps;
  const int64_t endoffset = capture_showend(timeline);
  const int64_t endframe = endoffset >= 0 ? capture_firstframefrom(endoffset, fps) : -1;
  range->first = range->end = 0;

  if (options->frame >= 0 || options->at_us >= 0) {
    const int64_t frame = options->frame >= 0 ? options->frame : capture_frameat(options->at_us, fps);
    if (endframe >= 0 && frame >= endframe)
      return core_fail(message, capacity, "frame %lld (%.3f s) is past the show's end (%.3f s, frame %lld at %d fps)",
                  static_cast<long long>(frame), frame_seconds(frame, fps),
                  static_cast<double>(endoffset) / AUDIO_DEVICE_RATE, static_cast<long long>(endframe - 1), fps);
    range->first = frame;
    range->end = frame + 1;
    return 1;
  }

  if (options->event >= 0) {
    const int32_t event = options->event;
    const int32_t shown = capture_showevents(timeline);
    if (event >= shown)
      return core_fail(message, capacity, "event %d is not in the show (it plays events 0 to %d)", event, shown - 1);
    const int64_t next = next_start(timeline, event);
    if (next < 0)
      return core_fail(message, capacity, "event %d is the last of a timeline without an end mark: its end is unknown",
                  event);
    range->first = capture_firstframefrom(static_cast<int64_t>(timeline->start[event]) * TIMELINE_TICKLENGTH, fps);
    range->end = capture_firstframefrom(next * TIMELINE_TICKLENGTH, fps);
    if (range->end <= range->first)
      return core_fail(message, capacity, "event %d (ticks %d to %lld) holds no frame at %d fps", event,
                  timeline->start[event], static_cast<long long>(next), fps);
    return 1;
  }

  range->first = options->from_us >= 0 ? capture_firstframeafter(options->from_us, fps) : 0;
  if (options->to_us >= 0) {
    range->end = capture_firstframeafter(options->to_us, fps);
    if (endframe >= 0) range->end = std::min(range->end, endframe);
  } else if (endframe >= 0) {
    range->end = endframe;
  } else {
    return core_fail(message, capacity, "the timeline has no end mark (event %d): give --to", CAPTURE_ENDEVENT);
  }
  if (range->end <= range->first)
    return core_fail(message, capacity, "no frame to render from %.3f s on: the range ends at %.3f s",
                frame_seconds(range->first, fps), frame_seconds(range->end, fps));
  return 1;
}

int64_t capture_sheetpoint(const s_capturetimeline* timeline, int32_t event, int32_t point) {
  const int64_t start = static_cast<int64_t>(timeline->start[event]) * TIMELINE_TICKLENGTH;
  const int64_t next = next_start(timeline, event);
  const int64_t length = next >= 0 ? next * TIMELINE_TICKLENGTH - start : 0;
  if (length <= 0) return start;
  return start + length * (2 * point + 1) / (2 * CAPTURE_SHEET_POINTS);
}
