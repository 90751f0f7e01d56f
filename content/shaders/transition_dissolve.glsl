// transition_dissolve: scene A fizzes away into scene B.
//
// The screen is covered with a jittered grid of bubbles; each bubble
// opens from its centre outwards at its own moment, so scene B shows through
// a froth of growing round holes, and every opening edge glints fizz white
// for a moment. The order of the bubbles comes from a hash of their cell.
//
// Progress: "blend" (0 to 1, the eased blend curve of the transition pass).
// At blend 0 the output is scene A, bit for bit; at blend 1 it is scene B.
// texCoord runs 0..1 over the screen, y = 1 at the top.

uniform sampler2D texture0;  // scene A
uniform sampler2D texture1;  // scene B
uniform float blend;         // 0..1

// ---- Constants ------------------------------------------------------------------
const float CELL = 52.0;     // bubble cell size, 720-line pixels
const float EDGE = 0.07;     // softness of the opening edge, in units of the order value
const vec3 FIZZ_GLINT = vec3(1.0, 0.96, 0.86);  // the glint at the opening edge, more golden than FIZZ

void main() {
  vec4 a = texture2D(texture0, texCoord);
  if (blend <= 0.0) {
    gl_FragColor = a;  // no transition: scene A untouched
    return;
  }
  vec4 b = texture2D(texture1, texCoord);

  // Order value 0..1 for this pixel: when the blend passes it, the pixel is B.
  // Every cell holds one bubble at a jittered spot, which starts to grow at
  // its own moment; a pixel opens with the first bubble of the nine around it
  // whose circle reaches it, so the holes are round and merge into froth.
  vec2 q = picturePixel() / CELL;
  vec2 base = floor(q);
  // The renderer runs this pass's whole body even outside a transition (it
  // executes both sides of the branch above), but it stops a loop when no
  // pixel needs another turn: outside a transition one cell is visited.
  int reach = blend > 0.0 ? 1 : -1;
  float order = 1.0;
  for (int j = -1; j <= 1; j++) {
    if (j > reach) break;
    for (int i = -1; i <= 1; i++) {
      if (i > reach) break;
      vec2 c = base + vec2(float(i), float(j));
      vec2 centre = c + 0.5 + (vec2(hash21(c + 3.7), hash21(c + 9.1)) - 0.5) * 0.6;
      float o = hash21(c) * 0.4 + length(q - centre) * 0.55;
      order = min(order, o);
    }
  }
  order = min(order, 0.999);

  // w is 0 for every pixel at blend 0 and 1 for every pixel at blend 1.
  float w = smoothstep(0.0, 1.0, (blend * (1.0 + EDGE) - order) / EDGE);
  vec3 col = mix(a.rgb, b.rgb, w);
  // The glint is light caught by what is there: over black (the closing
  // card's stage going to black) it would draw grey rings that nothing casts.
  float lit = smoothstep(0.02, 0.25, max(dot(a.rgb, vec3(0.3, 0.59, 0.11)), dot(b.rgb, vec3(0.3, 0.59, 0.11))));
  col += FIZZ_GLINT * (w * (1.0 - w) * 4.0) * 0.6 * lit;
  gl_FragColor = vec4(clamp(col, 0.0, 1.0), mix(a.a, b.a, w));
}
