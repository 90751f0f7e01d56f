// demo: the driver of the show: start-up sequence, one frame's body, and the
// keyboard handler.
//
// The `sprox` executable and the capture tool both drive the show through this
// header, so the window never shows anything the capture would not: both call
// Demo_Startup once, then Demo_RenderFrame for every frame with the offset
// they choose (the window passes the music's playback clock, the capture its
// own frame clock), and present the frame themselves.
//
// Terms (offset, tick, picture frame, scene A, scene B, composite, mark):
// see docs/ARCHITECTURE.md#glossary.
//
// Threads: everything here runs on the main thread, which owns the GL context.
// key_callback is called by GLFW from inside GFX_SwapBuffers (event polling).
#pragma once

#include <cstdint>
#include <cstdio>

#include "effects/effects.h"
#include "sound/sound.h"
#include "timeline/timeline.h"

struct GLFWwindow;

// ---- Constants ----------------------------------------------------------------
// The window and the three framebuffers are the show's picture size
// (EFFECTS_WIDTH x EFFECTS_HEIGHT), the sound system runs at
// AUDIO_DEVICE_RATE and a tick is TIMELINE_TICKLENGTH sample frames.
constexpr int DEMO_LASTSCENE = EFFECTS_NUM_SCENES - 1;  // an event above this (the end mark) ends the show
constexpr const char* DEMO_IMAGENAME = "sprox.dat";    // the resource image, beside the program
constexpr const char* DEMO_TITLE = "Keldrun - Sprox";  // the window's title
constexpr const char* DEMO_MUSICNAME = "sprox8a.wav";  // the music in the resource image
constexpr const char* DEMO_TIMINGNAME = "timing.dat";  // the timeline in the resource image
constexpr int DEMO_MAX_RENDERSIZE = 16384;  // widest render size an option may ask for, pixels
// True for a render size of the show's 16:9 shape, within a pixel of height
// (1366x768 passes): the scenes and their images are made for that shape.
constexpr bool Demo_IsShowShape(int width, int height) {
  return width > 0 && height > 0 && (width * 9 - height * 16 <= 16) && (height * 16 - width * 9 <= 16);
}
// Sample frames per tick used when seeking to an event: slightly above the
// tick length, so the tick reached is never before the event's start.
constexpr double DEMO_SEEKFRAMESPERTICK = 2739.7916666666665;

// ---- Globals --------------------------------------------------------------------
extern int32_t fx1_framebuffer_id;  // scene A: the event in force
extern int32_t fx2_framebuffer_id;  // scene B: the incoming event during a transition
extern int32_t framebuffer_id;      // composite: A and B blended by the transition shader
extern s_sound snd_demomusic;       // the music; its playback offset is the show's clock
extern bool showdebug;              // debug mode: unlocks Enter and the arrow keys
extern bool demopaused;             // the music is paused by the Enter key

// ---- Set-up ------------------------------------------------------------------------
// What Demo_Startup mounts and how it shows the picture. The defaults are the
// show's fixed start-up: "sprox.dat" from the current folder, a 1280x720
// window, framebuffers of the show's picture size. The player's options and
// the capture tool change these before Demo_Startup; nothing reads them later.
constexpr int DEMO_PATH_CAPACITY = 4096;  // bytes of a path, its terminator included
struct s_demosetup {
  const char* image;               // what to mount (DEMO_IMAGENAME)
  int imagekind;                   // how: a corefile kind (COREFILE_KIND_IMAGE)
  char source[DEMO_PATH_CAPACITY + 64];  // says where the data came from, after the mount's lines; "" prints nothing
  const char* program;             // first word of a fatal line on standard error ("sprox")
  bool fullscreen;                 // borderless full screen on `monitor` instead of a window
  int monitor;                     // 0 = the primary monitor
  int windowwidth;                 // pixels of the window (EFFECTS_WIDTH)
  int windowheight;                // pixels (EFFECTS_HEIGHT)
  int renderwidth;                 // pixels of the three framebuffers; 0: follow the screen (the
  int renderheight;                //   show's size in a window, the monitor's 16:9 pixels in full screen)
  float scale;                     // render scale applied to that size; 1 keeps it
  const char* origin;              // what the data is, for the line when it cannot be mounted
                                   //   ("the file given"); null: "the show's data"
};
extern s_demosetup demo_setup;
// -1: the post pass draws into the window, letterboxed at 16:9. Otherwise the
// framebuffer it draws into instead (the capture's, at the size it writes).
extern int demo_outputframebuffer;

// ---- Data lookup ---------------------------------------------------------------------
// Where the show's data was found, in the order it is looked for.
enum DemoDataSource {
  DEMO_DATA_OPTION,    // the path given by --data: an image file or a folder
  DEMO_DATA_CURRENT,   // "sprox.dat" in the current folder
  DEMO_DATA_BESIDE,    // "sprox.dat" in the executable's folder
  DEMO_DATA_APPENDED,  // an image appended to the executable itself
};
struct s_demodata {
  int source;                     // a DemoDataSource
  int kind;                       // corefile kind to mount it with
  char path[DEMO_PATH_CAPACITY];  // what to mount
};
// Finds the data without opening more than the executable's last bytes:
// `option` (--data, may be null) first, then the current folder, then beside
// `executable` (the program's own path, e.g. from /proc/self/exe), then an
// image appended to `executable`. A folder given by --data is mounted as the
// image "sprox.dat" inside it when it holds one, else as a folder of loose
// files. Returns 1, or 0 with one line naming every place it looked (or the
// --data path that does not exist).
int Demo_FindData(const char* option, const char* executable, s_demodata* data, char* message, int capacity);
// Makes Demo_Startup mount what Demo_FindData found and say where it came from.
void Demo_UseData(const s_demodata* data);
// Checks the folder given to --dev before anything is mounted: 1, or 0 with
// one line naming --dev, the path and the cause (missing, a file, a FIFO ...).
int Demo_CheckDevFolder(const char* dir, char* message, int capacity);
// The program's own path (/proc/self/exe), or "" when it cannot be read.
void Demo_ExecutablePath(char* path, int capacity);

// ---- Player command line ---------------------------------------------------------------
// sprox's options. Without any, the show starts exactly as its fixed start-up
// says (the render scale aside: see --scale).
struct s_playeroptions {
  bool help;          // --help
  bool version;       // --version
  bool listmonitors;  // --list-monitors
  bool fullscreen;    // --fullscreen
  bool mute;          // --mute: the silent output (the clock still runs in real time)
  bool stats;         // --stats: one line of frame statistics at exit
  int monitor;        // --monitor N (0 = primary)
  int windowwidth;    // --window WxH (default EFFECTS_WIDTH x EFFECTS_HEIGHT)
  int windowheight;
  bool window;        // --window was given
  int width;          // --size WxH: render size; 0 when not given
  int height;
  float scale;        // --scale F (DEMO_MIN_SCALE to DEMO_MAX_SCALE); 0 for "auto", the default
  const char* data;   // --data PATH, or null
  const char* dev;    // --dev DIR, or null
  int64_t still_us = -1;          // --still SECONDS FILE: the show time in microseconds; -1 when not given
  const char* stillfile = nullptr;  // --still's FILE, the PNG to write
};
constexpr int64_t DEMO_MAX_STILL_SECONDS = 86400;  // latest time --still may name
constexpr float DEMO_MIN_SCALE = 0.25f;  // smallest --scale
constexpr float DEMO_MAX_SCALE = 2.0f;   // largest --scale
// Fills options from argv (argv[0] skipped). Returns 1, or 0 with a one-line
// reason naming the option. --help anywhere wins.
int Demo_ParseOptions(int argc, const char* const* argv, s_playeroptions* options, char* message, int capacity);
void Demo_PrintUsage(FILE* out);
// "sprox VERSION", from the build (no git needed at run time).
const char* Demo_Version();
// --still: starts the show without sound, draws the frame at time_us on the
// capture's fixed clock (demo/fixedclock.h) at the render size demo_setup
// asks for, and writes it to path as a PNG, whole or not at all. Returns the
// exit status: 0 written, 1 with the reason on standard error.
int Demo_WriteStill(int64_t time_us, const char* path);

// ---- Screen ----------------------------------------------------------------------------
// The largest 16:9 box centred in a width x height area: the letterbox the
// picture is shown in, black bars around it.
struct s_demobox {
  int x, y;           // bottom-left corner, pixels (GL's window coordinates)
  int width, height;  // pixels
};
s_demobox Demo_Letterbox(int width, int height);
// F11: switches between full screen (on demo_setup.monitor) and the window.
// Without a fixed render size the framebuffers follow the new screen.
void Demo_ToggleFullscreen();
// The framebuffers' size now (after the render scale).
void Demo_RenderSize(int* width, int* height);
// A new render scale (demo_setup.scale); the framebuffers follow it, in
// place, at the next frame.
void Demo_SetScale(float scale);

// ---- Driver ----------------------------------------------------------------------
// Start-up, once, main thread: mounts "sprox.dat" (or what demo_setup names);
// when nothing can be mounted, or the mount holds no files, it ends the
// program with status 1 and one line on standard error ("sprox: no show
// data: could not mount ...", demo_setup.program first) before any window
// opens. Then it opens the 1280x720 window (or the full-screen one
// demo_setup asks for; when it cannot, status 1 and a line on standard error
// naming the display's answer), installs key_callback, creates the three
// framebuffers, starts the sound system and loads the music, presents one
// frame, loads every image and shader, registers the five transitions, reads
// "timing.dat" and, when play_music is true, starts the music. The capture
// tool passes false and selects its audio output first. A timing file that
// gives no events, or no end mark (event 15), gets a warning on standard
// error: that show ends when its music ends (Demo_MusicOver).
void Demo_Startup(bool play_music);

// For a timeline without an end mark, outside the makers' mode: true once
// `music` (the frame's copy of snd_demomusic, read at `position` sample
// frames) has played to its end, or there is no music to wait for. The
// frame loop then closes the window. False while the end mark ends the show.
bool Demo_MusicOver(const s_sound& music, uint64_t position);

// The body of one frame, main thread: evaluates the timeline at `offset`
// (sample frames), sets the window's close flag once the event in force is
// above 14 (the frame is still drawn), renders the event in force into scene
// A, the incoming event into scene B while a transition runs, blends them into
// the composite and draws it through the post shader into the window's
// framebuffer. Does not swap: the caller presents (GFX_SwapBuffers) or reads
// the pixels back.
void Demo_RenderFrame(int32_t offset);

// ---- Observer ----------------------------------------------------------------------
// Points in the start-up sequence and in one frame, reported to demo_mark in
// this order: each start-up mark right after its steps end (the window mark
// covers the key handler and the framebuffers, the sound mark the music, the
// timing mark the transitions and the timing file), each pass mark right
// before that pass begins (scene B only while a transition runs), and
// DEMO_MARK_FRAME_END after the post pass.
enum DemoMark {
  DEMO_MARK_MOUNTED,
  DEMO_MARK_WINDOW,
  DEMO_MARK_SOUND,
  DEMO_MARK_IMAGES,
  DEMO_MARK_SHADERS,
  DEMO_MARK_TIMING,
  DEMO_MARK_SCENE_A,
  DEMO_MARK_SCENE_B,
  DEMO_MARK_TRANSITION,
  DEMO_MARK_POST,
  DEMO_MARK_FRAME_END,
};
// Called with each mark when not null (main thread); null in the show. The
// capture tool's timing report sets it to time the start-up and the passes.
extern void (*demo_mark)(int mark);

// ---- Keys -------------------------------------------------------------------------
// GLFW key callback, main thread (inside GFX_SwapBuffers). Escape closes the
// window; F11 switches full screen; Tab flips debug mode; in debug mode Enter pauses or resumes the
// music and Left/Right seek to the previous or next event's start. Only
// presses count.
void key_callback(GLFWwindow* window, int key, int scancode, int action, int mods);
