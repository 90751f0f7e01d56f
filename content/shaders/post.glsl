// post: the finish of every frame of the show, drawn from the composite
// picture into the window.
//
// The normal look is a light retro-broadcast finish that keeps the scenes
// crisp: a whisper of lens fringing towards the edges, fine animated grain
// with the soft mottling of the noise texture, dust and scratches from the
// two vintage overlays (each jumping to a new place every few film frames,
// like a gate that never holds still), the faint dimming of the scanlines
// and a soft vignette.
// While "logostate" is 1 the channel bug (the sugar icon) sits in the
// top-right corner.
//
// Mode 1 (the breakdown event) is a broken signal: the vertical hold slips,
// lines tear sideways, the colour planes drift apart, a hum bar rolls up the
// screen and snow eats into the picture; the "state" of the event in force
// makes each bar of the breakdown a little worse than the one before.
//
// Glossary: uv runs 0..1 over the screen with y = 1 at the top (the quad's
// texture coordinates); "time" is the window clock (0.6 units a second), the
// only time this pass knows, so every animation here runs on it.
//
// About the channel bug: "logostate" switches on and off in a single frame
// and a fragment shader keeps no memory between frames, so the pass also
// hands over "logofade", the bug's opacity, which rises over the first ticks
// of its event and falls to 0 by the tick where "logostate" drops. The bug is
// semi-transparent, breathes very slowly, and a glint sweeps across it now
// and then, like a broadcast insert.

// The channel bug (34 from the edges, 118 wide, 2.5 % larger at most) stays
// within 200 of the top-right corner: that is all "logostate" reaches.
#pragma fold(mode, logostate) reach(logostate, -200, 0, 200, 200)

uniform sampler2D texture0;  // the composite picture
uniform sampler2D texture1;  // vintage8.png: dark dust and scratches on white (multiplied)
uniform sampler2D texture2;  // vintage8b.png: light specks and hairs on black (added)
uniform sampler2D texture3;  // sugaricon2.png: the channel bug
uniform sampler2D texture4;  // noise.png: tileable colour noise (mottling, snow)
uniform int mode;            // 1 during the breakdown event
uniform int state;           // state of the event in force
uniform int logostate;       // 1 while the channel bug is on
uniform float logofade;      // the channel bug's opacity, 0 to 1

// ---- Constants ------------------------------------------------------------------
const float CLOCK_RATE = 0.6;        // clock units per second
const float FILM_FPS = 24.0;         // grain and dust change this often, per second
const float NOISE_SIZE = 256.0;      // noise.png is 256 x 256 pixels
const float GRAIN = 0.05;            // grain amplitude in the normal look
const float MOTTLE = 0.035;          // slow film-density mottling from noise.png
const float DUST_DARK = 0.3;         // strength of vintage8's dark marks
const float DUST_LIGHT = 0.3;        // strength of vintage8b's light marks
const float SCANLINE = 0.025;        // dimming by the scanlines
const float FRINGE = 0.0012;         // lens fringing at the corners, screen widths
const float VIGNETTE = 0.28;         // darkening at the corners
const float BUG_SIZE = 118.0;        // channel bug box, 720-line pixels
const float BUG_MARGIN = 34.0;       // channel bug distance from the top and right edges, 720-line pixels
const float BUG_ALPHA = 0.82;        // channel bug opacity

void main() {
  vec2 uv = texCoord;
  // Sizes here are in pixels of a 720-line picture (p720), so that the look
  // stays the same at any size; "resolution" is the viewport the picture is
  // shown in, so the position comes from texCoord, never gl_FragCoord.
  float unit = resolution.y / PICTURE.y;  // target pixels per 720-line pixel
  vec2 p720 = picturePixel();
  float sec = time / CLOCK_RATE;
  float frame = floor(sec * FILM_FPS);
  vec3 col;

  // The two looks share their three reads of the picture: the normal finish
  // offsets red and blue for the lens fringing, the broken signal displaces
  // the lines and lets the colour planes drift apart.
  float stage = float(state);                   // broken signal: 0..3, each bar worse
  float sev = 0.55 + 0.15 * min(stage, 3.0);
  float tframe = floor(sec * 30.0);
  float blank = 1.0;
  vec2 puv = uv;
  vec2 dc = uv - 0.5;
  vec2 split = dc * dot(dc, dc) * FRINGE * 4.0;  // red's offset from green, blue's the other way
  if (mode == 1) {
    // Vertical hold: slips in bursts, with a black blanking bar between frames.
    float slip = floor(sec * 2.0);
    float rolling = step(0.45, hash11(slip + 3.0));
    float roll = rolling * fract(sec * (0.35 + 0.5 * hash11(slip))) + 0.03 * sin(sec * 1.7);
    float y = fract(uv.y + roll);
    blank = smoothstep(0.0, 0.012, y) * smoothstep(1.0, 0.988, y);

    // Tearing: whole bands of lines jump sideways for a frame or two; the
    // bottom lines bend like a worn tape's head switch.
    float band = floor(y * 48.0);
    float tear = hash21(vec2(band, tframe));
    float shift = step(0.86 - 0.06 * stage, tear) * (hash21(vec2(band, tframe + 7.0)) - 0.5) * 0.09 * sev;
    shift += 0.004 * sin(y * 60.0 + sec * 9.0) * sev;
    shift += smoothstep(0.06, 0.0, y) * 0.05 * sin(sec * 13.0);
    puv = vec2(uv.x + shift, y);
    split = vec2((0.006 + 0.006 * sin(sec * 3.1)) * sev, 0.0);
  }
  col.r = texture2D(texture0, puv + split).r;
  col.g = texture2D(texture0, puv).g;
  col.b = texture2D(texture0, puv - split).b;

  if (mode == 1) {
    // ---- Broken signal --------------------------------------------------------
    // Washed-out colour with hard contrast, as a signal on its last legs.
    float lum = dot(col, vec3(0.299, 0.587, 0.114));
    col = mix(col, vec3(lum), 0.35 * sev);
    col = (col - 0.5) * 1.25 + 0.5;

    // Hum bar rolling up the screen.
    float hum = fract(uv.y * 0.8 - sec * 0.45);
    col *= 1.0 - 0.35 * sev * smoothstep(0.0, 0.25, hum) * smoothstep(0.5, 0.25, hum);

    // Snow: grain from the noise texture at a new place every frame, streaked
    // along the lines; one grain a 720-line pixel, so a larger picture shows
    // the same grains, not finer ones.
    vec2 cell = floor(p720) + 0.5;
    vec2 nuv = vec2(cell.x / (NOISE_SIZE * 3.0), cell.y / NOISE_SIZE) + vec2(hash11(tframe), hash11(tframe + 1.0));
    // Blue is the noise's per-pixel grain (red is its smoothest mottling,
    // which read as grey cloud); the flash into the next event burns it out.
    float snow = texture2D(texture4, nuv).b;
    float glare = smoothstep(0.7, 0.95, lum);
    col = mix(col, vec3(snow), (0.18 + 0.06 * stage) * sev * (1.0 - glare));
    col *= blank;
    col *= 0.92 + 0.08 * hash11(tframe + 5.0);  // frame-to-frame brightness flicker
  }

  // ---- Film grain, dust and scratches (both looks) ----------------------------
  // Fine grain per pixel, plus the soft mottling of the noise texture; both
  // are strongest in the mid-tones, as on film.
  vec2 jump = vec2(hash11(frame), hash11(frame + 11.0));
  float grain = hash21(floor(p720) + jump * 311.0) - 0.5;
  float mottle = texture2D(texture4, p720 / (NOISE_SIZE * 2.0) + jump).g - 0.5;
  float luma = dot(col, vec3(0.299, 0.587, 0.114));
  col += (grain * GRAIN + mottle * MOTTLE) * (0.5 + 2.0 * luma * (1.0 - luma));

  // The overlays hop every third film frame and now and then sit out a frame.
  float hop = floor(frame / 3.0);
  vec2 o1 = vec2(hash11(hop + 2.0), hash11(hop + 5.0));
  vec2 o2 = vec2(hash11(hop + 8.0), hash11(hop + 9.0));
  vec2 ouv = uv * vec2(resolution.x / resolution.y, 1.0) * 0.7;  // square texels on screen
  // Whether an overlay sits out is the same for the whole frame (a branch
  // on the clock only). A software renderer reads it all the same: it runs
  // every branch, even one on the clock.
  // On bright parts of the picture (orange cards, white type) the dust and
  // hairs read as cracks in the picture itself: there they fade to half,
  // and on the brightest (type, highlights) to a fifth.
  float dust = 1.0 - 0.5 * smoothstep(0.4, 0.7, luma) - 0.3 * smoothstep(0.8, 0.95, luma);
  if (hash11(hop + 13.0) >= 0.4) col *= mix(vec3(1.0), texture2D(texture1, ouv + o1).rgb, DUST_DARK * dust);
  if (hash11(hop + 17.0) >= 0.45) col += texture2D(texture2, ouv * vec2(1.0, -1.0) + o2).rgb * DUST_LIGHT * dust;

  // Scanlines and the vignette. The scanlines, a cosine with two pixels a
  // line, fell on every pixel centre at its zero, so they only ever dimmed the
  // picture evenly: that dimming is what is left, the same at any size.
  col *= 1.0 - SCANLINE;
  vec2 vc = (uv - 0.5) * vec2(1.0, 0.85);
  col *= 1.0 - VIGNETTE * smoothstep(0.12, 0.55, dot(vc, vc) * 1.6);

  // ---- Channel bug ------------------------------------------------------------
  if (logostate == 1) {
    // Box in 720-line pixels from the top-right corner; the icon's rows run from the top.
    vec2 corner = resolution / unit - BUG_MARGIN - BUG_SIZE;
    float breathe = 1.0 + 0.025 * sin(sec * 1.3);
    vec2 q = (p720 - corner - 0.5 * BUG_SIZE) / (BUG_SIZE * breathe) + 0.5;
    if (q.x > 0.0 && q.x < 1.0 && q.y > 0.0 && q.y < 1.0) {
      vec4 icon = texture2D(texture3, vec2(q.x, 1.0 - q.y));
      // A glint crosses the icon diagonally once every five seconds.
      float sweep = fract(sec / 5.0) * 3.0 - 1.0;
      float glint = smoothstep(0.12, 0.0, abs(q.x + (1.0 - q.y) - 2.0 * sweep));
      vec3 ic = icon.rgb + glint * 0.55;
      float a = icon.a * BUG_ALPHA * (0.94 + 0.06 * sin(sec * 0.9)) * clamp(logofade, 0.0, 1.0);
      col = mix(col, ic, a);
    }
  }

  gl_FragColor = vec4(clamp(col, 0.0, 1.0), 1.0);
}
