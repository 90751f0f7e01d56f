// transition_sea: scene B pours in like soda filling a glass.
//
// A wavy liquid surface rises from the bottom of the screen to above the top.
// Below it lies scene B, seen through the liquid: wobbling with refraction,
// tinted pool blue and lit by rising fizz just under the surface, clearing to
// the plain picture further down. On the surface rides a band of white foam;
// just above it scene A is lifted a little by the swell.
//
// The pour takes the second half of the transition only: a sea hides the
// end of the scene before it, often its climax, so for the first half scene
// A plays on untouched but for a few bubbles rising from the bottom edge.
//
// Progress: "timingProgress" (linear, 0 to 1): its second half, eased,
// sets the level; it and "time" keep the waves moving. At progress 0 the
// output is scene A, bit for bit; at progress 1 the surface is beyond the
// top with every tint and wobble behind it, so the output is scene B.
// texCoord runs 0..1 over the screen, y = 1 at the top.

uniform sampler2D texture0;   // scene A
uniform sampler2D texture1;   // scene B
uniform float timingProgress; // linear progress 0..1

// ---- Constants ------------------------------------------------------------------
const float POUR = 0.5;            // progress at which the surface starts to rise
const float LEVEL_START = -0.22;   // surface height at progress 0, screen heights (below the bottom)
const float LEVEL_END = 1.36;      // surface height at progress 1 (above the top)
const float WAVE = 0.065;          // largest swing of the surface, screen heights (sum of the waves)
const float TINT_DEPTH = 0.24;     // depth below the surface over which B clears, screen heights
const float LIFT_HEIGHT = 0.08;    // height above the surface over which A is lifted
const float FOAM = 0.014;          // foam band thickness, screen heights
const vec3 POOL_MID = vec3(0.055, 0.33, 0.78);  // between POOL_DEEP and POOL_LIGHT
const vec3 FOAMC = vec3(1.0, 0.98, 0.93);

// ---- Internal functions ---------------------------------------------------------

// Fizz under the surface: one small bubble in some cells of a grid that rises
// with time. p in screen units (y up), returns 0..1.
float fizz(vec2 p, float t) {
  vec2 q = p * vec2(34.0, 34.0) - vec2(0.0, t * 3.0);
  vec2 id = floor(q);
  float h = hash21(id);
  if (h > 0.35) return 0.0;
  vec2 c = vec2(0.3 + 0.4 * hash21(id + 3.1), 0.3 + 0.4 * h / 0.35);
  float d = length(fract(q) - c);
  float r = 0.1 + 0.12 * hash21(id + 7.7);
  return smoothstep(r, r - 0.06, d) * smoothstep(r - 0.12, r - 0.04, d) + smoothstep(0.05, 0.0, length(fract(q) - c + 0.05));
}

void main() {
  vec4 a = texture2D(texture0, texCoord);
  if (timingProgress <= 0.0) {
    gl_FragColor = a;  // no transition: scene A untouched
    return;
  }

  vec2 uv = texCoord;
  float aspect = resolution.x / resolution.y;
  float x = uv.x * aspect;
  float t = time * 2.0 + timingProgress * 9.0;

  // The surface: three waves, the sum never beyond WAVE.
  float pour = clamp((timingProgress - POUR) / (1.0 - POUR), 0.0, 1.0);
  pour = pour * pour * (3.0 - 2.0 * pour);
  float level = mix(LEVEL_START, LEVEL_END, pour);
  float surf = level + 0.032 * sin(x * 5.3 + t * 1.7) + 0.021 * sin(x * 11.7 - t * 2.3)
             + 0.012 * sin(x * 23.0 + t * 3.9);
  float d = surf - uv.y;  // > 0 under the surface

  vec3 col;
  if (d > 0.0) {
    // Under the liquid: refraction and tint fade out with depth.
    float near = 1.0 - smoothstep(0.0, TINT_DEPTH, d);
    vec2 wob = vec2(sin(uv.y * 42.0 + t * 2.1), cos(x * 33.0 - t * 1.7)) * 0.008 * near;
    vec3 b = texture2D(texture1, uv + wob).rgb;
    col = mix(b, b * 0.55 + POOL_MID * 0.6, near * 0.75);
    col += FOAMC * fizz(vec2(x, uv.y), t) * near * 0.8;
    col += FOAMC * smoothstep(FOAM * 2.0, 0.0, d) * 0.9;  // caustic glow under the foam
  } else {
    // Above: scene A, lifted slightly by the swell right over the surface.
    float lift = smoothstep(-LIFT_HEIGHT, 0.0, d);
    vec3 above = texture2D(texture0, uv - vec2(0.0, lift * 0.012)).rgb;
    col = mix(a.rgb, above, lift);
    col = mix(col, col * 0.82, lift * 0.6);  // shadow of the swell
    // Before the pour: the first bubbles rise from below over scene A.
    float early = smoothstep(0.0, POUR, timingProgress) * (1.0 - pour);
    col += FOAMC * fizz(vec2(x, uv.y), t) * early * 0.7 * smoothstep(0.45, 0.0, uv.y);
  }

  // Foam: a ragged white band centred on the surface.
  float rag = hash21(floor(vec2(x * 180.0, uv.y * 320.0) + floor(t * 4.0))) * 0.6 + 0.4;
  float foam = smoothstep(FOAM, 0.0, abs(d)) * rag;
  col = mix(col, FOAMC, foam);

  gl_FragColor = vec4(clamp(col, 0.0, 1.0), 1.0);
}
