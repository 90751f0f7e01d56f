// effects: effect shaders and the four kinds of full-screen pass, the asset
// tables (every image and shader of the show in its own named global), and
// the scene script that maps each event of the timeline to its pass.
//
// Every picture is one full-screen pass: a fragment shader from the resource
// image, paired with the fixed vertex shader vv_default, drawn as one quad the
// size of the current framebuffer. Each pass sets its uniforms by name from
// the timeline record `demo` and the clock, and binds its images to texture
// units numbered like the samplers "texture0", "texture1", ...
//
// Terms (selector, music time, clock time, clock, pass, slot, bmp_none): see
// docs/ARCHITECTURE.md#glossary. EventOfSelector is the one selector rule.
//
// Threads: main thread only, with the GL context current. The loaders run
// once at start-up; the passes and DoEffect run inside the frame loop and
// allocate nothing.
#pragma once

#include <cstdint>

#include "effects/assets.h"
#include "gfx/gfx.h"
#include "sound/sound.h"

// ---- Constants ------------------------------------------------------------------
constexpr int EFFECTS_MAX_SHADERS = 64;       // entries of demoshader
constexpr int EFFECTS_NUM_SCENES = 15;        // events 0 to 14 have a scene
constexpr int EFFECTS_SCENE_SLOTS = 9;        // images of ExecuteShader
constexpr int EFFECTS_SCENE2_SLOTS = 19;      // images of ExecuteShader2
constexpr int EFFECTS_POST_IMAGES = 4;        // images of ExecutePost besides the picture
constexpr float EFFECTS_MUSIC_RATE = float(AUDIO_DEVICE_RATE);  // sample frames a second of music time
constexpr double EFFECTS_CLOCK_SCALE = 0.6000000238418579;  // clock time per second (0.6f)
constexpr double EFFECTS_EASE_PI = 3.141568;       // the eased progress's half turn (not quite pi)
constexpr int EFFECTS_LOGO_LEAD = 8;     // ticks before the next event at which the logo leaves
constexpr float EFFECTS_LOGO_FADE = 12.0f;  // ticks the logo takes to fade in, and to fade out
constexpr int EFFECTS_MODE_EVENT = 10;   // the event in which the post pass runs mode 1
constexpr int32_t EFFECTS_SELECT_NEXT = 1;  // the selector value for the incoming event

// ---- Types --------------------------------------------------------------------------
// One loaded effect shader.
struct s_demoshader {
  int32_t id;    // shader id of its program, negative if none
  char* source;  // the fragment text, NUL-terminated, owned and kept for good
};

// ---- Globals ----------------------------------------------------------------------
extern const char vv_default[];  // the vertex shader of every effect program
extern s_demoshader demoshader[EFFECTS_MAX_SHADERS];
extern int32_t numshaders;       // entries of demoshader in use
// The clock of the transition and post passes, in seconds ("clock time" is
// this x 0.6): glfwGetTime unless someone who needs the same picture for the
// same instant (the capture tool, the scene tests) points it at a clock that
// holds still while a frame renders. Set it on the main thread, between frames.
extern double (*effects_clock)(void);
// When not null, LoadShader hands it each file's text (a malloc'd block that
// it takes over) and compiles the text it returns (a malloc'd block that
// LoadShader keeps). Null in the show; the development mode points it at the
// pack step's head, for shader bodies read straight from the source tree.
extern char* (*effects_shadersource)(const char* filename, char* source);

// Images (see effects/assets.h for their files). bmp_none and bmp_credits6
// are never loaded and stay empty.
extern s_bitmap bmp_none, bmp_credits6;
#define EFFECTS_DECLARE_IMAGE(global, file, wrap) extern s_bitmap global;
SPROX_IMAGES(EFFECTS_DECLARE_IMAGE)
#undef EFFECTS_DECLARE_IMAGE

// Shader ids (-1 when the file could not be opened).
#define EFFECTS_DECLARE_SHADER(global, file) extern int32_t global;
SPROX_SHADERS(EFFECTS_DECLARE_SHADER)
#undef EFFECTS_DECLARE_SHADER

// ---- Effect shaders and passes --------------------------------------------------------
// Loads a fragment shader file and builds its program with vv_default.
// Returns the shader id, or -1 (silently) when the file cannot be opened, or
// -1 with a line when the table is full.
int32_t LoadShader(const char* filename);
// Scene pass with 9 images on units 0 to 8, into the current framebuffer.
void ExecuteShader(int32_t shader, int32_t selector, s_bitmap texture0, s_bitmap texture1, s_bitmap texture2,
                   s_bitmap texture3, s_bitmap texture4, s_bitmap texture5, s_bitmap texture6,
                   s_bitmap texture7, s_bitmap texture8);
// Scene pass with 19 images on units 0 to 18; sets no "event".
void ExecuteShader2(int32_t shader, int32_t selector, s_bitmap texture0, s_bitmap texture1,
                    s_bitmap texture2, s_bitmap texture3, s_bitmap texture4, s_bitmap texture5,
                    s_bitmap texture6, s_bitmap texture7, s_bitmap texture8, s_bitmap texture9,
                    s_bitmap texture10, s_bitmap texture11, s_bitmap texture12, s_bitmap texture13,
                    s_bitmap texture14, s_bitmap texture15, s_bitmap texture16, s_bitmap texture17,
                    s_bitmap texture18);
// Blends scene A (unit 0) and scene B (unit 1) with the active transition's
// shader into the current framebuffer; the image goes to unit 2.
void ExecuteTransition(int32_t scene_a, int32_t scene_b, s_bitmap texture2);
// Draws the picture framebuffer (unit 0) through the post shader with four
// images on units 1 to 4, into whatever framebuffer is bound.
void ExecutePost(int32_t picture, int32_t shader, s_bitmap texture1, s_bitmap texture2, s_bitmap texture3,
                 s_bitmap texture4);

// ---- Asset tables -------------------------------------------------------------------------
// Loads the 67 images into their globals and clamps the nine that need it.
// After ReadResources it finishes the load that one began.
void LoadResources();
// The first half of LoadResources, for a caller with other work to do
// meanwhile: reads the images' files (printing nothing) and has them decoded
// on worker threads. DropResources abandons such a load (for an exit before
// LoadResources); it prints nothing and loads nothing.
void ReadResources();
void DropResources();
// Gives the texture of `bitmap`, bound on the active unit, the wrap mode
// `wrap` of the image list (REPEAT, CLAMP_S, CLAMP_ST, REPEAT_NEAREST).
void SetImageWrap(const s_bitmap& bitmap, unsigned wrap);
// Loads the 17 shaders into their globals.
void LoadShaders();
// True for the events in which the post pass shows the channel bug.
bool ShowsLogo(int32_t event);
// Makes one more of the folded programs that the show's passes will
// draw with (gfx: GFX_BindFoldedShader), in show order: each event's
// states, the event as the incoming one, the post pass in it. Called once a
// frame from the first frame on, so that their compiles (and the driver's
// memory for them) come in the show's first seconds, not at each new state.
// False once all are made. Sets the uniforms it folds on, which every
// pass sets again before it draws.
bool PrepareFoldedPrograms();

// ---- Scene script -------------------------------------------------------------------------
// The event a selector picks, for the scene script and the scene passes alike:
// demo.nextevent for EFFECTS_SELECT_NEXT, demo.currentevent for any other value.
int32_t EventOfSelector(int32_t selector);
// Selects the framebuffer, then draws the selected event's scene into it;
// events outside 0 to 14 draw nothing.
void DoEffect(int32_t framebuffer, int32_t selector);
