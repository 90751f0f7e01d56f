// prelude.glsl: what every shader of the show shares. The pack step
// (tools/shaderpack) writes each packed shader as the version line, the
// palette constants of effects/palette.h, this file, then the shader's own
// body from content/shaders/; "#line" directives number the parts apart, so
// that a compiler message names the line in the body (source string 0), in
// this file (string 1) or in the palette (string 2); Mesa prints string 0 for
// all three. Everything declared here is in scope in every body: a body must
// not declare these names again, and what a body does not use costs nothing.
//
// Generated in front of this file from the engine's constants: PICTURE, the
// picture size the scenes and images are made for (pixels), and
// PICTURE_ASPECT, its width / height; BEAT and BAR, the music's beat and bar
// in statetime units ("statetime" counts 0.06 a tick, a beat is 8 ticks and a
// bar 32, and states begin on bar lines); and the palette: ORANGE, AMBER, EMBER, FIZZ,
// POOL_DEEP, POOL_LIGHT, NAVY, INK, FIZZ_CREAM, and ORANGE_2DP, EMBER_2DP, POOL_LIGHT_2DP (the same
// colours as some scenes wrote them, to two places; they differ in the last
// bits, so they are kept apart).

// texCoord runs 0..1 over the screen, y = 1 at the top (the vertex shader's quad).
varying vec2 texCoord;

// Set by every pass: scenes, transitions and the post pass.
uniform float time;        // scenes: music time, seconds; transitions and post: clock time, 0.6 a second
uniform vec2 resolution;   // the target's size, pixels: 1280 x 720 unless rendered at another size

const float PI = 3.14159265;

// ---- Hashes, without trigonometry (cheap on software renderers): 0..1 ----------------
// hash21 spreads p over three lanes (p.xyx) before mixing them; hash21TwoLane
// mixes the two components directly. They give different values, and each
// scene keeps the one it was tuned with.
float hash21(vec2 p) {
  vec3 p3 = fract(vec3(p.xyx) * 0.1031);
  p3 += dot(p3, p3.yzx + 33.33);
  return fract((p3.x + p3.y) * p3.z);
}
float hash21TwoLane(vec2 q) {
  q = fract(q * vec2(123.34, 456.21));
  q += dot(q, q + 45.32);
  return fract(q.x * q.y);
}
float hash11(float p) {
  p = fract(p * 0.1031);
  p *= p + 33.33;
  p *= p + p;
  return fract(p);
}

// ---- Small helpers ----------------------------------------------------------------------
// The screen point the scenes draw in: centred, y up from -0.5 to 0.5, x
// stretched by the aspect so that circles stay round.
vec2 aspectPoint() { return (texCoord - 0.5) * vec2(resolution.x / resolution.y, 1.0); }

// The fragment's position in pixels of a PICTURE.y-line picture (x follows
// the target's aspect): sizes measured in these units look the same at any
// render size, only sharper. At 1280 x 720 it is the pixel position itself.
vec2 picturePixel() { return texCoord * resolution * (PICTURE.y / resolution.y); }

// The fragment's position in a full-screen picture's own pixels (PICTURE,
// y down from the top), whatever the render size.
vec2 cardPixel() { return vec2(texCoord.x * PICTURE.x, PICTURE.y - texCoord.y * PICTURE.y); }

// Whole powers by multiplying: pow() costs an exp2 and a log2 on a software
// renderer, and these take x >= 0 as pow does.
float pow3(float x) { return x * x * x; }
float pow4(float x) { float x2 = x * x; return x2 * x2; }
float pow5(float x) { return pow4(x) * x; }
float pow6(float x) { float x3 = x * x * x; return x3 * x3; }
float pow12(float x) { float x6 = pow6(x); return x6 * x6; }
float pow24(float x) { float x12 = pow12(x); return x12 * x12; }
float pow18(float x) { return pow12(x) * pow6(x); }
float pow40(float x) { float x4 = pow4(x); float x8 = x4 * x4; float x16 = x8 * x8; return x16 * x16 * x8; }
float pow60(float x) { float x12 = pow12(x); float x24 = x12 * x12; return x24 * x24 * x12; }

// Rotation of a 2D point by a radians.
mat2 rot(float a) { return mat2(cos(a), sin(a), -sin(a), cos(a)); }

// ---- Fast trigonometry --------------------------------------------------------------
// sin, cos, atan and asin cost a software renderer many times a multiply;
// these polynomials are within about 1e-3 of them (1e-4 for fastAsin), which
// no one sees in a colour or an angle on screen. Keep the exact ones where
// the error is carried a long way: a rotation of a ray that travels far
// (the ice cubes' soda moved a pixel with it), or an argument of a hash.
// sinTurns(t) = sin(2 pi t): a parabola per half turn, then one refinement.
float sinTurns(float t) {
  t -= floor(t + 0.5);
  float y = 8.0 * t - 16.0 * t * abs(t);
  return y + 0.225 * y * (abs(y) - 1.0);
}
float fastSin(float x) { return sinTurns(x * 0.15915494); }
float fastCos(float x) { return sinTurns(x * 0.15915494 + 0.25); }
mat2 fastRot(float a) { float c = fastCos(a), s = fastSin(a); return mat2(c, s, -s, c); }
// atan(y, x) in -pi..pi: a polynomial on the octant, then folded out.
float fastAtan2(float y, float x) {
  float ax = abs(x), ay = abs(y);
  float a = min(ax, ay) / max(max(ax, ay), 1e-20);
  float s = a * a;
  float r = ((-0.0464964749 * s + 0.15931422) * s - 0.327622764) * s * a + a;
  r = ay > ax ? 1.57079637 - r : r;
  r = x < 0.0 ? 3.14159274 - r : r;
  return y < 0.0 ? -r : r;
}
// asin(x) in -pi/2..pi/2 for x in -1..1 (within 1e-4: a cubic under a square root).
float fastAsin(float x) {
  float ax = abs(x);
  float r = 1.57079637 - sqrt(1.0 - ax) * (1.5707288 + ax * (-0.2121144 + ax * (0.0742610 - 0.0187293 * ax)));
  return x < 0.0 ? -r : r;
}

// An ease from 0 to 1 over x in 0..1 that overshoots a little and settles
// (x is clamped).
float easeOutBack(float x) {
  float u = clamp(x, 0.0, 1.0) - 1.0;
  return 1.0 + 2.70158 * u * u * u + 1.70158 * u * u;
}

// A premultiplied colour and coverage src laid over dst.
vec3 over(vec3 dst, vec4 src) { return dst * (1.0 - src.a) + src.rgb; }

// ---- The beat envelope of the loud events (the title, the chorus, the drop) --------
// All from the state's time: states begin on bar lines, so beat n of a bar
// is floor(st / BEAT) mod 4. Before the state begins (the incoming event,
// negative st) every envelope is at rest. barsBefore is the number of bars
// of the event before the state drawn, so that the framing runs on across
// the state's line instead of starting over.
// The kick of beats 1 and 3: 1 on the beat, gone a third of a beat later.
float kickHit(float st) {
  float b = st / BEAT;
  return (1.0 - mod(floor(b), 2.0)) * exp(-fract(b) * 9.0) * step(0.0, st);
}
// The four-on-the-floor kick as a shape envelope: 1 on every beat, down to
// a twentieth 0.3 of a beat (about 150 ms) later. Sizes, twists and falls
// ride it; brightness keeps kickHit's beats 1 and 3.
float kickPulse(float st) { return exp(-fract(st / BEAT) * 10.0) * step(0.0, st); }
// The clap of beats 2 and 4, shorter.
float clapHit(float st) {
  float b = st / BEAT;
  return mod(floor(b), 2.0) * exp(-fract(b) * 12.0) * step(0.0, st);
}
// The framing of bar n of an event: (offset x, offset y) in screen heights,
// zoom, roll in radians; bar 0 and the incoming event are framed head-on.
vec4 barFrame(float n) {
  if (n < 0.5) return vec4(0.0, 0.0, 1.0, 0.0);
  vec2 h = vec2(hash11(n * 7.13 + 1.7), hash11(n * 3.71 + 5.3));
  float side = mod(n, 2.0) < 0.5 ? 1.0 : -1.0;   // alternate sides, never twice the same
  return vec4(side * (0.012 + 0.018 * h.x), (h.y - 0.5) * 0.02, 1.03 + 0.05 * h.y, side * 0.018 * (0.5 + h.x));
}
// The camera of the loud events at the state's time st: the framing snaps to
// the bar's over the first quarter beat of each bar; the kick punches the
// zoom in.
vec4 beatCamera(float st, float barsBefore) {
  float inState = max(st, 0.0);
  float bar = floor(inState / BAR);
  float snap = smoothstep(0.0, BAR * 0.07, inState - bar * BAR);
  float n = st < 0.0 ? 0.0 : bar + barsBefore;
  vec4 f = mix(barFrame(n - 1.0), barFrame(n), snap);
  f.z *= 1.0 + 0.08 * kickHit(st);
  return f;
}
// A centred screen point p (aspectPoint) as the camera cam sees it.
vec2 beatView(vec2 p, vec4 cam) { return fastRot(cam.w) * (p / cam.z) + cam.xy; }
// The exposure kick: a gain on the picture, up a third on beats 1 and 3.
float beatExposure(float st) { return 1.0 + 0.33 * kickHit(st); }
// The claps' colour fringe: how far (screen heights) the red and blue of a
// picture's edges part.
float clapFringe(float st) { return 0.01 * clapHit(st); }
// The fringe itself on one element of a picture: its coverage a here and
// ghost where the clap has moved it by clapFringe. Red light where only the
// ghost covers, blue where only the element does, as a lens that parts the
// colours; add it to the picture (0 between the claps).
vec3 clapTint(float a, float ghost) {
  return vec3(0.85, 0.12, 0.05) * max(ghost - a, 0.0) + vec3(0.05, 0.3, 0.95) * max(a - ghost, 0.0);
}

// ---- The flash into an event -----------------------------------------------------
// The flash transition ends at full white on the last tick before the event;
// the event then comes out of it over its first beat: how much white is
// still laid over the picture at the state's time st of its first state.
float entryFlash(float st) { return st < 0.0 ? 0.0 : exp(-st * 9.0) * (1.0 - smoothstep(0.3, BEAT, st)); }
