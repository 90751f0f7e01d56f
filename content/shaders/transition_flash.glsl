// transition_flash: a white flash cut.
//
// Scene A over-exposes and punches in towards the viewer while a flash of
// "color" (white) builds from the centre of the screen; at the half-way mark
// the screen is fully white and the cut happens; scene B then comes out of
// the flash, settling from a slight zoom, the afterglow cooling through a
// warm soda-orange tint.
//
// Progress: "timingProgress" (linear, 0 to 1). At progress 0 the output is
// scene A, bit for bit; at progress 1 it is scene B (flash, zoom and tint are
// all 0 there). texCoord runs 0..1 over the screen, y = 1 at the top.

uniform sampler2D texture0;   // scene A
uniform sampler2D texture1;   // scene B
uniform float timingProgress; // linear progress 0..1
uniform vec3 color;           // the flash colour

// ---- Constants ------------------------------------------------------------------
const float CUT = 0.5;           // progress of the cut from A to B
const float PUNCH_A = 0.07;      // zoom of A at the cut
const float SETTLE_B = 0.05;     // zoom of B right after the cut
const float EXPOSE = 1.6;        // extra exposure of A at the cut
const vec3 WARM = vec3(1.0, 0.62, 0.18);  // afterglow tint, soda orange

void main() {
  vec4 a = texture2D(texture0, texCoord);
  float p = timingProgress;
  if (p <= 0.0) {
    gl_FragColor = a;  // no transition: scene A untouched
    return;
  }

  vec2 c = texCoord - 0.5;
  float r = length(c * vec2(resolution.x / resolution.y, 1.0));
  vec3 col;
  float flash;
  if (p < CUT) {
    float u = p / CUT;                          // 0..1 towards the cut
    vec3 sa = texture2D(texture0, 0.5 + c / (1.0 + PUNCH_A * u * u)).rgb;
    col = sa * (1.0 + EXPOSE * u * u);
    flash = u * u * u;
  } else {
    float u = (1.0 - p) / (1.0 - CUT);          // 1 at the cut .. 0 at the end
    vec3 sb = texture2D(texture1, 0.5 + c / (1.0 + SETTLE_B * u * u)).rgb;
    col = mix(sb, sb * WARM * 1.3, u * u * 0.5);
    flash = u * u;
  }
  // The flash is brightest in the middle and reaches the corners last.
  float local = clamp(flash * (1.35 - 0.45 * r), 0.0, 1.0);
  local = max(local, step(0.999, flash));       // at the cut the whole screen is white
  col = mix(col, color, local);
  gl_FragColor = vec4(clamp(col, 0.0, 1.0), 1.0);
}
