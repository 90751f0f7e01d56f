// fx_fruits: event 11, the final drop. Whole oranges and orange and lemon
// slices rain through a blue sky in three layers of depth, under a sunburst
// that turns and flares on every beat, with fizz sparkling up through it all.
// The nutrition-facts label is the star: in state 0 (bars 0..3) it drops in on
// a string at the right and swings; in state 1 (bars 4..7) it is slammed to
// the centre, stamps a tilt on every beat, and the rain thickens.
//
// Each fruit sits in a cell of a falling grid (cell hashing: one fruit at most
// per cell, every column falling at its own speed), so the cost per pixel is
// fixed whatever the number of fruits on screen. A pixel shows the grain of
// its front fruit only, so the three layers share one read of the noise.
//
// Pass: texture0 bluebg, texture1 noise (peel dimples, juice sacs, fizz),
// texture2 the nutrition label (repeats, so it is masked here).
// Time: a beat is 0.48 statetime units; image rows run top-down while
// texCoord.y = 1 is the top of the screen, so image lookups flip v.

#pragma fold(state)

uniform int state;        // 0 or 1
uniform float statetime;  // 0.06 per tick since the state began

uniform sampler2D texture0, texture1, texture2;

// ---- Constants -----------------------------------------------------------------

const float LABEL_ASPECT = 0.6667;  // label image width / height
const float RAYS = 14.0;            // sunburst rays

const vec3 LEMON = vec3(1.0, 0.88, 0.22);
const vec3 LEAF = vec3(0.18, 0.62, 0.22);

// ---- Helpers -------------------------------------------------------------------

// The colour of a whole orange of radius r at the cell-local point f (d from
// its centre, 1 at the rim), turned so that its own point is g, with the
// peel's pore value `pore` there.
vec3 wholeOrange(vec2 f, vec2 g, float d, float r, float pore, float seed) {
  vec3 n = vec3(f / r, sqrt(max(1.0 - d * d, 0.0)));
  // dimpled peel: the noise picture stands in for the pores
  n = normalize(n + vec3((pore - 0.5) * 0.2, (pore - 0.5) * 0.15, 0.0));
  vec3 L = normalize(vec3(-0.5, 0.6, 0.7));
  float diff = max(dot(n, L), 0.0);
  vec3 col = mix(EMBER * 0.75, mix(ORANGE, AMBER, diff * diff), smoothstep(0.0, 0.6, diff));
  col += FIZZ * 0.7 * pow24(max(dot(reflect(-L, n), vec3(0.0, 0.0, 1.0)), 0.0));
  col *= 0.9 + 0.15 * pore;
  // the stalk end with a leaf, turning with the fruit
  vec2 top = g - vec2(0.0, 0.72);
  float stalk = smoothstep(0.1, 0.06, length(top));
  col = mix(col, EMBER * 0.5, stalk);
  vec2 lf = rot(0.6) * (g - vec2(0.22, 0.86));
  float leaf = smoothstep(1.0, 0.9, length(lf * vec2(3.2, 7.0)));
  return mix(col, LEAF * (0.7 + 0.5 * lf.y * 4.0), leaf * step(seed, 0.55));
}

// The colour of a citrus slice (a thin disc seen at a tilt, squashed across
// by `squash`) at its own turned point g (d from its centre, 1 at the rim),
// with the juice sacs' value `sacs` there.
vec3 citrusSlice(vec2 g, float d, float squash, float sacs, vec3 peel, vec3 flesh) {
  float ang = fastAtan2(g.y, g.x);
  float s = fract(ang / (2.0 * PI) * 10.0);
  float membrane = smoothstep(0.08, 0.02, min(s, 1.0 - s) * (d + 0.15));
  vec3 col = flesh * (0.75 + 0.45 * sacs) + FIZZ * 0.25 * smoothstep(0.7, 0.95, sacs);
  col = mix(col, FIZZ * 0.95, membrane * step(d, 0.84));
  col = mix(col, FIZZ * 0.92, smoothstep(0.80, 0.84, d));   // pith ring
  col = mix(col, peel, smoothstep(0.89, 0.92, d));          // rind
  col = mix(col, FIZZ, smoothstep(0.12, 0.05, d) * 0.9);    // core
  return col * (0.7 + 0.3 * squash);                        // edge-on looks darker
}

// Where a layer's fruit lies under this pixel: all of it but its colour.
struct Fruit {
  vec2 f;         // cell-local point, the fruit's centre at 0
  vec2 g;         // the fruit's own point, turned with it; 1 at the rim
  float d;        // distance from the centre, 1 at the rim
  float r;        // radius, cell units
  float h;        // the cell's hash: whether it holds a fruit, and its seed
  float squash;   // how much of a slice's width shows (it turns edge-on)
  float aa;       // anti-aliasing width, in units of the radius
  bool there;     // the cell holds a fruit
  bool orange;    // a whole orange; else a slice, of lemon when `lemon`
  bool lemon;
};

// The fruit of one falling layer under p. scale: cells per screen height.
Fruit placeFruit(vec2 p, float scale, float speed, float seed, float density) {
  Fruit fr;
  vec2 q = p * scale;
  float column = floor(q.x);
  float sp = speed * (0.7 + 0.6 * hash21TwoLane(vec2(column, seed)));
  q.y += time * sp + hash21TwoLane(vec2(seed, column)) * 11.0;
  vec2 cell = floor(q);
  fr.h = hash21TwoLane(cell + seed);
  fr.there = fr.h <= density;
  fr.r = 0.26 + 0.14 * hash21TwoLane(cell + seed + 1.3);
  float room = 0.5 - fr.r;
  vec2 off = (vec2(hash21TwoLane(cell + 2.9), hash21TwoLane(cell + 6.1)) - 0.5) * 2.0 * room * 0.6;
  off.x += fastSin(time * 1.3 + fr.h * 30.0) * room * 0.4;
  fr.f = fract(q) - 0.5 - off;
  float kind = hash21TwoLane(cell + seed + 9.1);
  float spinRate = (hash21TwoLane(cell + 4.4) - 0.5) * 5.0;
  float spin = time * spinRate + fr.h * 6.28;
  fr.aa = 1.5 * scale / (resolution.y * fr.r);
  fr.orange = kind < 0.4;
  fr.lemon = kind >= 0.8;
  fr.squash = max(abs(fastCos(time * spinRate * 0.6 + fr.h * 3.0)), 0.22);
  // a slice is drawn on its own, unsquashed disc
  vec2 own = fr.orange ? fr.f : vec2(fr.f.x / fr.squash, fr.f.y);
  fr.d = length(own) / fr.r;
  fr.g = fastRot(spin) * (own / fr.r);
  return fr;
}

// Whether the fruit covers the pixel, and where it reads the noise picture
// (peel pores or juice sacs).
bool covers(Fruit fr) { return fr.there && fr.d <= 1.0; }
vec2 grainPoint(Fruit fr) { return fr.g * (fr.orange ? 0.12 : 0.25) + fr.h; }

// The fruit's colour, premultiplied, with the noise value `grain` at its
// grain point; depth 0 far .. 1 near. One orange and one slice are shaded
// and the kind picks between them: a renderer that runs both sides of an if
// pays for both anyway.
vec4 shadeFruit(Fruit fr, float grain, float depth) {
  vec3 slice = citrusSlice(fr.g, fr.d, fr.squash, grain,
                           fr.lemon ? LEMON * 0.95 : ORANGE,
                           fr.lemon ? mix(LEMON, FIZZ, 0.25) : mix(ORANGE, AMBER, 0.55));
  vec3 col = fr.orange ? wholeOrange(fr.f, fr.g, fr.d, fr.r, grain, fr.h) : slice;
  // distance haze: far fruit fades towards the blue
  col = mix(col, mix(POOL_LIGHT, FIZZ, 0.3), 0.35 * (1.0 - depth));
  float a = fr.there ? smoothstep(1.0, 1.0 - fr.aa, fr.d) : 0.0;
  return vec4(col * a, a);
}

// The nutrition label at centre c, height hgt, turned by ang; premultiplied,
// with a soft shadow folded into the alpha below the card.
vec4 label(vec2 p, vec2 c, float hgt, float ang) {
  vec2 lp = fastRot(-ang) * (p - c);
  vec2 luv = vec2(lp.x / (hgt * LABEL_ASPECT) + 0.5, 0.5 - lp.y / hgt);
  vec2 inside = step(vec2(0.0), luv) * step(luv, vec2(1.0));
  float in2 = inside.x * inside.y;
  vec4 img = texture2D(texture2, in2 > 0.0 ? luv : vec2(0.5));  // fixed texel outside: cached
  float a = clamp(img.a, 0.0, 1.0) * in2;
  return vec4(img.rgb * FIZZ * a, a);
}

float labelShadow(vec2 p, vec2 c, float hgt, float ang) {
  vec2 lp = fastRot(-ang) * (p - c - vec2(0.025, -0.035));
  vec2 halfSize = vec2(hgt * LABEL_ASPECT, hgt) * 0.5;
  vec2 e = abs(lp) - halfSize;
  float sd = length(max(e, 0.0)) + min(max(e.x, e.y), 0.0);
  return 0.5 * smoothstep(0.05, -0.02, sd);
}

// ---- Scene ---------------------------------------------------------------------

void main() {
  float aspect = resolution.x / resolution.y;
  float st = statetime;
  bool slam = state >= 1;
  float beat = st / BEAT;
  float pulse = exp(-5.0 * fract(beat));
  // The loud events' camera: a new framing on every bar line, a zoom punch
  // on beats 1 and 3 (state 1 runs on from bar 4).
  vec2 p = beatView(aspectPoint(), beatCamera(st, slam ? 4.0 : 0.0));

  // Sky: the blue picture under a turning sunburst that flares on the beat.
  vec2 framed = p / vec2(aspect, 1.0) + 0.5;  // the picture moves with the camera
  vec3 col = texture2D(texture0, vec2(framed.x, 1.0 - framed.y)).rgb;
  vec2 sun = slam ? vec2(0.0, 0.05) : vec2(-0.35, 0.1);
  vec2 sp = p - sun;
  float ang = fastAtan2(sp.y, sp.x) + time * 0.25;
  float ray = smoothstep(0.35, 0.65, 0.5 + 0.5 * fastSin(ang * RAYS));
  float fall = smoothstep(1.6, 0.0, length(sp));
  col = mix(col, mix(POOL_LIGHT, AMBER, 0.35 + 0.3 * pulse), ray * fall * (0.22 + 0.18 * pulse));
  col += AMBER * 0.45 * exp(-length(sp) * 4.0) * (0.6 + 0.4 * pulse);
  col = mix(col, NAVY, 0.35 * smoothstep(0.4, 1.2, length(p)));

  // Three layers of fruit. Only the front one of the fruits under a pixel
  // shows its grain (those behind it are hidden), so one read of the noise
  // picture serves all three.
  float density = slam ? 0.55 : 0.4;
  Fruit far = placeFruit(p, 9.0, 0.8, 3.7, density);
  Fruit middle = placeFruit(p, 5.0, 1.1, 8.2, density);
  Fruit near = placeFruit(p, 2.6, 1.5, 5.3, slam ? 0.42 : 0.3);
  vec2 grainAt = covers(near) ? grainPoint(near) : covers(middle) ? grainPoint(middle)
               : covers(far) ? grainPoint(far) : vec2(0.5);
  float grain = texture2D(texture1, grainAt).r;
  col = over(col, shadeFruit(far, grain, 0.0));
  col = over(col, shadeFruit(middle, grain, 0.5));

  // The label.
  vec2 lc;
  float lh;
  float la;
  if (slam) {
    float inT = clamp(st / 0.3, 0.0, 1.0);
    lh = mix(1.4, 0.82, inT * inT) * (1.0 + 0.03 * pulse);
    float tiltSign = mod(floor(beat), 2.0) < 0.5 ? 1.0 : -1.0;
    la = tiltSign * 0.07 * (1.0 - 0.6 * smoothstep(0.0, 0.4, fract(beat)));
    lc = vec2(0.0, 0.0);
  } else {
    // hangs from a string above the screen: drops in, bounces, swings
    float t = max(st, 0.0);
    float drop = st < 0.0 ? 1.2 : 1.2 * exp(-4.0 * t) * cos(t * 9.0);
    lh = 0.62;
    la = 0.16 * sin(time * 2.2) * (0.4 + 0.6 * exp(-0.6 * t));
    vec2 pivot = vec2(0.36, 0.56 + drop);   // left of the channel bug
    float arm = 0.5 * lh + 0.1;
    lc = pivot + rot(la) * vec2(0.0, -arm);
    // the string
    vec2 sd = p - pivot;
    vec2 dir = rot(la) * vec2(0.0, -1.0);
    float along = clamp(dot(sd, dir), -0.2, 0.1);
    float line = smoothstep(0.004, 0.0015, length(sd - dir * along));
    col = mix(col, FIZZ, line);
  }
  col *= 1.0 - labelShadow(p, lc, lh, la);
  vec4 labelHere = label(p, lc, lh, la);
  col = over(col, labelHere);
  float ghost = label(p + vec2(clapFringe(st), 0.0), lc, lh, la).a;
  col += clapTint(labelHere.a, ghost) * clapHit(st);

  // Near fruit passes in front of the label.
  col = over(col, shadeFruit(near, grain, 1.0));

  // Fizz: two channels of the noise picture, scrolled up at two speeds and
  // multiplied, leave small sparse sparkles where both peak.
  float n1 = texture2D(texture1, p * 13.0 + vec2(0.0, -time * 2.4)).r;
  float n2 = texture2D(texture1, p * 9.0 + vec2(0.37, -time * 1.7)).g;
  // (kept faint and warm: brighter, they read as snow)
  float sparkle = smoothstep(0.7, 0.82, n1 * n2);
  col += mix(FIZZ, AMBER, 0.4) * sparkle * (0.1 + 0.12 * pulse);

  // the slam into state 1 lands with an orange flash
  if (slam) col += mix(FIZZ, AMBER, 0.5) * 0.9 * exp(-9.0 * max(st, 0.0));
  col *= beatExposure(st) * (1.0 + 0.1 * exp(-fract(beat) * 8.0) * step(0.0, st));   // and a lift on every beat
  // out of the white of the flash that brought the drop in
  if (!slam) col = mix(col, vec3(1.0), entryFlash(st));
  gl_FragColor = vec4(col, 1.0);
}
