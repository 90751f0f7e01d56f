// capture: the pure half of sprox-capture, the tool that records the show.
//
// sprox-capture runs the real engine on a fixed clock instead of the sound
// card: picture frame n of a capture at f a second shows the playback offset
// n x 44100 / f sample frames (integer division, 64-bit) with the window
// system's clock at n / f seconds. This library holds everything that needs
// no GL context, so it can be tested on its own: the command line, the frame
// clock and frame ranges, the contact sheet's layout and labels, image
// operations and PNG files, the FreeType label printer, the ffmpeg pipe and
// the music extraction, the timing report and the progress bar. The frame
// source (the engine and the window) lives in the executable.
//
// Terms (sample frame, offset, tick, fixed clock, range, contact sheet,
// point): see docs/ARCHITECTURE.md#glossary. Here a "frame" is always a
// picture frame of the capture.
//
// Threads: everything here runs on the main thread; nothing keeps hidden
// state except the records handed in.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/core.h"
#include "demo/demo.h"
#include "demo/fixedclock.h"
#include "effects/assets.h"
#include "sound/sound.h"
#include "timeline/timeline.h"

// ---- Constants ----------------------------------------------------------------
// The show's facts come from their owners: the picture is EFFECTS_WIDTH x
// EFFECTS_HEIGHT pixels, the music runs at AUDIO_DEVICE_RATE sample frames a
// second, a tick is TIMELINE_TICKLENGTH sample frames, the timeline holds
// TIMELINE_MAX_EVENTS events, and the engine mounts DEMO_IMAGENAME and plays
// DEMO_MUSICNAME from it. These are the capture's own.
constexpr const char* CAPTURE_PROGRAM = "sprox-capture";  // the tool's name, first on every line it prints
constexpr int CAPTURE_ENDEVENT = DEMO_LASTSCENE + 1;      // the timeline's end mark: the show closes at its start
constexpr int32_t CAPTURE_MAX_FPS = 240;            // frames a second
constexpr int64_t CAPTURE_MAX_SECONDS = 86400;      // longest time an option may name, seconds
constexpr int CAPTURE_SHEET_POINTS = 4;             // thumbnails per event, at (2k + 1) / 8 of it
constexpr int CAPTURE_THUMB_WIDTH = EFFECTS_WIDTH / 4;   // pixels, a quarter of the frame
constexpr int CAPTURE_THUMB_HEIGHT = EFFECTS_HEIGHT / 4; // pixels
constexpr int CAPTURE_SHEET_MARGIN = 8;             // pixels around and between the cells
constexpr int CAPTURE_LABEL_HEIGHT = 18;            // pixels of the label strip under a thumbnail
constexpr int CAPTURE_LABEL_PIXELS = 12;            // nominal size of the label font, pixels
constexpr uint8_t CAPTURE_SHEET_BACKGROUND = 0x20;  // grey level of the sheet's background
constexpr const char* CAPTURE_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
constexpr int32_t CAPTURE_MIN_WIDTH = CAPTURE_THUMB_WIDTH;   // smallest --size: a frame still gives a thumbnail
constexpr int32_t CAPTURE_MIN_HEIGHT = CAPTURE_THUMB_HEIGHT;
constexpr const char* CAPTURE_PNG_PATTERN = "frame_%06lld.png";

// ---- Options ---------------------------------------------------------------------
struct s_captureoptions {
  int32_t fps;         // frames a second of the capture clock
  int64_t from_us;     // --from: start time, microseconds; -1 when not given
  int64_t to_us;       // --to: end time (not included), microseconds; -1 when not given
  int32_t event;       // --event: the one event to render; -1 when not given
  int64_t frame;       // --frame: the one frame to render; -1 when not given
  int64_t at_us;       // --at: the one frame shown at this time, microseconds; -1 when not given
  const char* png;     // --png: folder for frame_%06d.png files, or null
  const char* mp4;     // --mp4: video file, or null
  const char* sheet;   // --sheet: contact sheet PNG, or null
  const char* log;     // --log: one CSV line per rendered frame, or null
  const char* data;    // --data: the resource image or its folder, or null for "sprox.dat" here
  const char* ffmpeg;  // --ffmpeg: the encoder to run, or null to look for "ffmpeg" on PATH
  int32_t width;       // --size: pixels of the pictures rendered and written (default EFFECTS_WIDTH)
  int32_t height;      // --size: pixels (default EFFECTS_HEIGHT)
  bool sizegiven;      // --size was given: frames come from a framebuffer of that size, not the window
  bool report;         // --report: timing report on standard output
  bool quiet;          // --quiet: no progress bar
  bool checkwindow;    // --check-window: compare every frame with the window's picture on the X server
  bool help;           // --help: print the usage and stop
};

// Fills options from the command line (argv[0] is skipped). Returns 1 when it
// is sound; otherwise 0 with a one-line reason in message. --help wins over
// everything else and needs nothing further.
int capture_parseoptions(int argc, const char* const* argv, s_captureoptions* options, char* message,
                         int capacity);
// The usage text for --help.
void capture_printusage(FILE* out);
// Parses a --size value: "WxH", even sides, of the show's 16:9 shape, from
// CAPTURE_MIN_WIDTH x CAPTURE_MIN_HEIGHT up. Returns 1, or 0 with a reason.
int capture_parsesize(const char* text, int32_t* width, int32_t* height, char* message, int capacity);
// Parses "SS", "SS.ffffff" or "MM:SS.ffffff" (digits beyond the sixth decimal
// are dropped) into microseconds. Returns -1 for anything else, a negative
// time, or more than CAPTURE_MAX_SECONDS.
int64_t capture_parseseconds(const char* text);

// ---- Frame clock ------------------------------------------------------------------
// The clock itself, CAPTURE_DEFAULT_FPS and CAPTURE_US are the engine's
// (demo/fixedclock.h): the web page shows the frames of this clock too.

// ---- Timeline view and ranges ---------------------------------------------------------
// What the capture needs of the loaded timeline: the events' starts in ticks.
struct s_capturetimeline {
  int32_t numevents;                   // events loaded
  int32_t start[TIMELINE_MAX_EVENTS];  // start of each event, ticks
};

struct s_capturerange {
  int64_t first;  // first frame to render
  int64_t end;    // one past the last frame to render
};

// Offset at which the show closes: the end mark's start in sample frames, or
// -1 when the timeline has no end mark.
int64_t capture_showend(const s_capturetimeline* timeline);
// The events the show plays (those before the end mark, or all when there is none).
int32_t capture_showevents(const s_capturetimeline* timeline);
// The frames the options ask for, clipped to the show's end. Returns 1, or 0
// with a reason (an event that does not exist, an empty range, a range that
// needs the end mark on a timeline without one).
int capture_resolverange(const s_captureoptions* options, const s_capturetimeline* timeline,
                         s_capturerange* range, char* message, int capacity);
// The offset of point k (0 to CAPTURE_SHEET_POINTS - 1) of an event: (2k + 1) / 8
// of the way from its start to the next event's start (or to the show's end).
int64_t capture_sheetpoint(const s_capturetimeline* timeline, int32_t event, int32_t point);

// ---- Images -----------------------------------------------------------------------------
// An 8-bit RGB picture, rows top-down, no padding.
struct s_captureimage {
  int32_t width;    // pixels
  int32_t height;   // pixels
  uint8_t* pixels;  // width x height x 3 bytes, owned by whoever filled the record
};

// Turns the rows of a bottom-up picture (as glReadPixels gives it) top-down.
void capture_fliprows(const uint8_t* src, uint8_t* dst, int32_t width, int32_t height);
// Box-filters src onto dst: every target pixel is the rounded mean of the
// source pixels it covers (dst must not be larger than src in either axis).
void capture_downscale(const s_captureimage* src, s_captureimage* dst);
// Writes an RGB PNG. Returns 1, or 0 with the encoder's or the file's reason
// (a file cut short is removed).
int capture_writepng(const char* path, const s_captureimage* image, char* message, int capacity);
// Removes what a failed write left at path, when it is a regular file (never
// a device, a FIFO, or what a link points at).
void capture_removepartial(const char* path);

// ---- Label font --------------------------------------------------------------------------
struct s_capturefont {
  void* library;   // FT_Library
  void* face;      // FT_Face
  int32_t ascent;  // pixels from the top of a line to its baseline
};

// Opens the font at the given pixel size. Returns 1, or 0 with a reason.
int capture_openfont(s_capturefont* font, const char* path, int32_t pixels, char* message, int capacity);
void capture_closefont(s_capturefont* font);
// Draws one line of text with its top-left corner at (x, y), blending the
// glyphs' coverage in the given colour; everything outside the image is clipped.
// Returns the pen's x after the last glyph.
int32_t capture_drawtext(s_capturefont* font, s_captureimage* image, int32_t x, int32_t y, const char* text,
                         uint8_t red, uint8_t green, uint8_t blue);

// ---- Contact sheet -------------------------------------------------------------------------
struct s_capturecell {
  int32_t x, y;           // top-left corner of the thumbnail, pixels
  int32_t labelx, labely; // top-left corner of the label strip, pixels
};

// The size of a sheet with the given number of event rows.
void capture_sheetsize(int32_t rows, int32_t* width, int32_t* height);
// Where thumbnail `point` of row `row` goes.
s_capturecell capture_sheetcell(int32_t row, int32_t point);
// The label under a thumbnail: "event E  state S  tick T".
void capture_sheetlabel(char* dst, int capacity, int32_t event, int32_t state, int32_t tick);
// Fills the sheet with its background.
void capture_clearsheet(s_captureimage* sheet);
// Draws a label strip (CAPTURE_THUMB_WIDTH x CAPTURE_LABEL_HEIGHT) with its
// top-left corner at (x, y): its own background, the text clipped to it.
void capture_drawlabel(s_capturefont* font, s_captureimage* image, int32_t x, int32_t y, const char* label);
// Puts a frame's thumbnail and its label into a cell of the sheet. scratch
// holds CAPTURE_THUMB_WIDTH x CAPTURE_THUMB_HEIGHT x 3 bytes.
void capture_placethumbnail(s_captureimage* sheet, s_capturefont* font, int32_t row, int32_t point,
                            const s_captureimage* frame, uint8_t* scratch, const char* label);

// ---- Video --------------------------------------------------------------------------------
struct s_capturevideo {
  FILE* pipe;        // ffmpeg's standard input, or null
  int64_t frames;    // frames written
};

// Finds an executable program: a name with a slash is taken as it is, any
// other is looked up on PATH. Returns 1 with its path, or 0.
int capture_findprogram(const char* name, char* path, int capacity);
// Quotes text for the shell (single quotes). Returns 0 when dst is too small.
int capture_shellquote(char* dst, int capacity, const char* text);
// The ffmpeg command that reads raw RGB frames on its standard input and
// writes an H.264/AAC MP4, with the music (wav, may be null) trimmed to the
// sample frames [firstsample, endsample). Returns 0 when dst is too small.
int capture_ffmpegcommand(char* dst, int capacity, const char* ffmpeg, const char* wav, const char* out,
                          int32_t fps, int32_t width, int32_t height, int64_t firstsample, int64_t endsample);
// Starts the encoder. Returns 1, or 0 with a reason.
int capture_openvideo(s_capturevideo* video, const char* command, char* message, int capacity);
// Hands one frame (of the size the command names) to the encoder. Returns 1, or
// 0 when the encoder no longer takes frames.
int capture_writevideo(s_capturevideo* video, const s_captureimage* frame);
// Ends the input and waits for the encoder. Returns 1 when it finished
// cleanly, else 0 with its exit status in message.
int capture_closevideo(s_capturevideo* video, char* message, int capacity);
// Copies a file of the mounted resource image to a file on disk. Returns 1,
// or 0 with a reason.
int capture_extractfile(const char* name, const char* path, char* message, int capacity);

// ---- Frames and report ---------------------------------------------------------------------
// The passes of one frame, in the order they run (the demo's pass marks,
// DEMO_MARK_SCENE_A to DEMO_MARK_POST, in the same order).
enum CapturePass {
  CAPTURE_PASS_SCENE_A,     // the event in force into scene A
  CAPTURE_PASS_SCENE_B,     // the incoming event into scene B, only while a transition runs
  CAPTURE_PASS_TRANSITION,  // A and B blended into the composite
  CAPTURE_PASS_POST,        // the composite through the post shader into the window
  CAPTURE_PASSES,
};
// The steps of the engine's start-up, in order, each ending at its start-up
// mark (DEMO_MARK_MOUNTED to DEMO_MARK_TIMING, in the same order).
enum CaptureStep {
  CAPTURE_STEP_MOUNT,    // the resource image
  CAPTURE_STEP_WINDOW,   // window, GL context, key handler, framebuffers
  CAPTURE_STEP_SOUND,    // sound system and the music
  CAPTURE_STEP_IMAGES,   // the first frame out, then every image
  CAPTURE_STEP_SHADERS,  // every shader
  CAPTURE_STEP_TIMING,   // the transitions and the timing file
  CAPTURE_STEPS,
};
static_assert(DEMO_MARK_POST - DEMO_MARK_SCENE_A + 1 == CAPTURE_PASSES, "one pass for each pass mark");
static_assert(DEMO_MARK_TIMING - DEMO_MARK_MOUNTED + 1 == CAPTURE_STEPS, "one step for each start-up mark");
// Their names in the report ("scene A", ..., "sound and music", ...).
extern const char* const capture_passnames[CAPTURE_PASSES];
extern const char* const capture_stepnames[CAPTURE_STEPS];

// What one rendered frame showed and cost.
struct s_captureframe {
  int64_t frame;      // frame number
  int32_t offset;     // playback offset handed to the engine, sample frames
  int32_t tick;       // the timeline's tick for it
  int32_t event;      // event in force
  int32_t state;      // its state in force (-1 for none)
  float progress;     // transition progress towards the incoming event
  double render_ms;   // the engine's frame and glFinish, milliseconds
  double pass_ms[CAPTURE_PASSES];  // GL time of each pass (timer queries), milliseconds; -1 where it did not run or was not timed
};

struct s_capturereport {
  int32_t fps;                   // frames a second
  s_capturerange range;          // the frames asked for
  const s_captureframe* frames;  // the frames rendered, in order
  int64_t numframes;             // entries in frames
  double startup_ms;             // from launch to the end of the first frame, milliseconds
  double engine_ms;              // the engine's start-up sequence alone, milliseconds
  double wall_ms;                // from launch to the end of the work, milliseconds
  double readback_ms;            // glReadPixels and row flips, all frames, milliseconds
  double output_ms;              // PNG encoding and the ffmpeg pipe, all frames, milliseconds
  double launch_ms;              // from launch to the start of the engine's start-up, milliseconds
  double step_ms[CAPTURE_STEPS]; // each step of the engine's start-up, milliseconds; -1 when not timed
  bool passtimer;                // the passes were timed with GL timer queries (pass_ms holds them)
};

// The median of count values (reorders them); 0 for none.
double capture_median(double* values, int64_t count);
// Writes the timing report: a heading, then one line per event with its
// frames and the median and maximum render time, then the totals; then the
// start-up split ("start-up split: ..."), and the GL time per pass: one line
// per event with each pass's median ("-" for a pass that never ran there),
// the "all" row, and each pass's share of the GL time of all frames.
void capture_writereport(FILE* out, const s_capturereport* report);
// Writes the CSV log of the rendered frames, one line each, with a header.
int capture_writelog(const char* path, const s_captureframe* frames, int64_t count, char* message, int capacity);

// ---- Progress bar ------------------------------------------------------------------------------
// One line of progress ("[#####-----]  50%  frame 10/20  2.0 fps  eta 0:05"),
// no line break; elapsed_s is the time spent on the done frames.
void capture_formatprogress(char* dst, int capacity, int64_t done, int64_t total, double elapsed_s, int32_t barwidth);
