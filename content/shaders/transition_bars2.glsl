// transition_bars2: scene B sweeps in as bars.
//
// Mode 0: ten vertical bars, alternately dropping from the top and rising
//         from the bottom, one after the other from left to right, each led
//         by a hot soda-orange edge that casts a shadow on scene A ahead of it.
// Mode 1: eight horizontal bars shooting in from the left and the right in
//         turn, the middle ones first, with slanted fronts and pool-blue
//         edges; snappier, for the shorter one-bar transition.
//
// Progress: "sintime" (cosine-eased, 0 to 1). Each bar runs its own part of
// it: bar k starts at STAGGER x its order and takes 1 / (1 + STAGGER) of the
// whole, so every bar is still at 0 at progress 0 and done at progress 1. At
// progress 0 the output is scene A, bit for bit; at progress 1 it is scene B.
// texCoord runs 0..1 over the screen, y = 1 at the top.

uniform sampler2D texture0;   // scene A
uniform sampler2D texture1;   // scene B
uniform float sintime;        // eased progress 0..1
uniform float timingProgress; // linear progress 0..1: only tells "not started"
uniform int mode;             // 0 vertical bars, 1 horizontal bars

// ---- Constants ------------------------------------------------------------------
const float BARS0 = 10.0;       // vertical bars in mode 0
const float BARS1 = 8.0;        // horizontal bars in mode 1
const float STAGGER = 0.75;     // how far the last bar starts after the first, in progress units
const float EDGE = 0.035;       // width of the lit edge behind a bar's front, screen units
const float SHADOW = 0.08;      // length of the shadow ahead of a bar's front, screen units
const float SLANT = 0.06;       // mode 1: lean of the bar fronts, screen widths over a bar
const vec3 ORANGE_MID = vec3(1.0, 0.55, 0.05);  // between ORANGE and AMBER

void main() {
  vec4 a = texture2D(texture0, texCoord);
  if (timingProgress <= 0.0) {
    gl_FragColor = a;  // no transition: scene A untouched
    return;
  }
  vec4 b = texture2D(texture1, texCoord);
  vec2 uv = texCoord;

  float along;   // 0..1 along the bar's travel, 0 where it enters
  float order;   // 0..1: when this bar moves, first to last
  float inbar;   // 0..1 across the bar, for the edge shading
  vec3 edgec;
  if (mode == 1) {
    float row = floor(uv.y * BARS1);
    inbar = fract(uv.y * BARS1);
    order = abs(row - (BARS1 - 1.0) * 0.5) / ((BARS1 - 1.0) * 0.5);  // middle rows first
    float lean = (inbar - 0.5) * SLANT;
    float x = uv.x + lean;
    along = mod(row, 2.0) < 0.5 ? x : 1.0 - x;
    along = clamp(along, 0.0, 1.0);
    edgec = POOL_LIGHT_2DP;
  } else {
    float col = floor(uv.x * BARS0);
    inbar = fract(uv.x * BARS0);
    order = col / (BARS0 - 1.0);
    along = mod(col, 2.0) < 0.5 ? 1.0 - uv.y : uv.y;  // even bars drop from the top
    edgec = ORANGE_MID;
  }

  float pk = clamp((sintime * (1.0 + STAGGER) - STAGGER * order), 0.0, 1.0);
  float front = pk * pk * (3.0 - 2.0 * pk);   // eased reach of this bar, 0..1
  front = front * (1.0 + EDGE) - EDGE * (1.0 - pk);  // the lit edge too is off-screen at the start
  float life = 4.0 * pk * (1.0 - pk);         // 0 before the bar starts and after it lands

  float behind = front - along;               // > 0 where the bar covers the screen
  vec3 colr;
  if (behind > 0.0) {
    colr = b.rgb;
    float lit = smoothstep(EDGE, 0.0, behind) * life;
    float rim = 0.6 + 0.4 * sin(inbar * 3.14159265);
    colr = mix(colr, edgec, lit * 0.75 * rim);
    colr += vec3(1.0) * smoothstep(EDGE * 0.25, 0.0, behind) * life * 0.6;
  } else {
    colr = a.rgb * (1.0 - 0.45 * life * smoothstep(SHADOW, 0.0, -behind));
  }
  gl_FragColor = vec4(clamp(colr, 0.0, 1.0), 1.0);
}
