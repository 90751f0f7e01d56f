// transition_flash: a white flash cut on the downbeat.
//
// Scene A over-exposes and punches in towards the viewer while a flash of
// "color" (white) builds from the centre of the screen, slowly at first and
// then fast over the last beat, so that the screen is fully white on the
// transition's last tick: the flash peaks as the new event starts, on its
// downbeat. The new event then comes out of the white over its first ticks
// by itself (entryFlash in the prelude): the transition is over by then.
//
// Progress: "timingProgress" (linear, 0 to 1). At progress 0 the output is
// scene A, bit for bit; it is all white from progress FULL on, and scene B
// only at progress 1, which the show never reaches (the new event is in
// force by then). texCoord runs 0..1 over the screen, y = 1 at the top.

uniform sampler2D texture0;   // scene A
uniform sampler2D texture1;   // scene B
uniform float timingProgress; // linear progress 0..1
uniform vec3 color;           // the flash colour

// ---- Constants ------------------------------------------------------------------
const float FULL = 0.9375;       // progress from which the screen is all white: the last of 16 ticks
const float PUNCH_A = 0.08;      // zoom of A at the peak
const float EXPOSE = 1.8;        // extra exposure of A at the peak

void main() {
  vec4 a = texture2D(texture0, texCoord);
  float p = timingProgress;
  if (p <= 0.0) {
    gl_FragColor = a;  // no transition: scene A untouched
    return;
  }

  vec2 c = texCoord - 0.5;
  float r = length(c * vec2(resolution.x / resolution.y, 1.0));
  float u = clamp(p / FULL, 0.0, 1.0);          // 0..1 towards the peak
  // Everything builds over the last beat mostly: half way (a beat before
  // the peak) scene A is only a little brighter.
  float u4 = u * u * u * u;
  vec3 sa = texture2D(texture0, 0.5 + c / (1.0 + PUNCH_A * u4)).rgb;
  vec3 col = sa * (1.0 + EXPOSE * u4);
  // The flash is brightest in the middle and reaches the corners last.
  float flash = u4 * u * u;
  float local = clamp(flash * (1.35 - 0.45 * r), 0.0, 1.0);
  local = max(local, step(1.0, u));             // at the peak the whole screen is white
  col = mix(col, color, local);
  if (p >= 1.0) col = texture2D(texture1, texCoord).rgb;
  gl_FragColor = vec4(clamp(col, 0.0, 1.0), 1.0);
}
