// fx_fruits: event 11, the final drop. Out of the white of the flash the
// camera bursts out of the centre into a field of fruit: whole oranges and
// orange and lemon slices hang on three planes of depth that stream towards
// the camera and past it, so the fruit grows, parts and flies by, with a ring
// of juice blown out of the centre on the first beat. Every beat the camera
// lurches forward and the fruit drops a step and swells (kickPulse), under a
// sunburst that turns round the vanishing point and flares on the beat, with
// fizz sparkling up through it all. The nutrition-facts label is the star and
// always in front: in state 0 (bars 0..3) it drops in on a string at the right
// and swings; in state 1 (bars 4..7) it is slammed to the centre, stamps a
// tilt on every beat, and the fruit thickens.
//
// Each plane is a grid of cells with one fruit at most per cell (cell
// hashing), so the cost per pixel is fixed whatever the number of fruits on
// screen; when a plane has passed the camera it comes back as the farthest
// with a new seed. Only the front fruit under a pixel is shaded in full (its
// peel or juice sacs read from the noise picture, once); those behind it
// show only in its anti-aliased rim, so a flat shade does for them.
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
const float PLANES = 3.0;           // planes of fruit in depth
const float FAR = 7.0;              // depth of a plane as it appears, in screen heights per cell
const float NEAR = 0.3;             // depth at which a plane has passed the camera
const float CRUISE = 0.15;          // planes' travel per statetime unit, between the kicks
const float LURCH = 0.1;            // travel added by every kick
const float RUSH = 1.1;             // travel of the burst on the first beat

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

// Where a plane's fruit lies under this pixel: all of it but its colour.
struct Fruit {
  vec2 f;         // cell-local point, the fruit's centre at 0
  vec2 g;         // the fruit's own point, turned with it; 1 at the rim (front fruit only)
  float spin;     // how far it has turned, radians
  float d;        // distance from the centre, 1 at the rim
  float r;        // radius, cell units
  float h;        // the cell's hash: whether it holds a fruit, and its seed
  float squash;   // how much of a slice's width shows (it turns edge-on)
  float a;        // coverage of the pixel, 0..1, faded in far and out near
  float depth;    // 0 far .. 1 at the camera
  bool orange;    // a whole orange; else a slice, of lemon when `lemon`
  bool lemon;
};

// The fruit of plane k (0..PLANES-1) under the screen point p, the planes
// having travelled `travel` (one plane spacing per unit), falling by `fall`
// (cell units), swollen by `swell`.
Fruit planeFruit(vec2 p, float k, float travel, float fall, float swell, float density) {
  Fruit fr;
  float u = travel + k / PLANES;
  float pass = floor(u);            // how many times this plane has passed the camera
  fr.depth = u - pass;
  float z = mix(FAR, NEAR, fr.depth);
  float seed = k * 7.31 + pass * 3.17;
  // each plane drifts aside by its own amount and falls at its own speed
  vec2 q = p * z + vec2(seed * 1.7, fall * (0.8 + 0.4 * fract(seed * 0.37)));
  vec2 cell = floor(q);
  // two hashes a cell, spread into the fruit's numbers (the presence and
  // the kind come from different ones, so that no kind is the rarest)
  fr.h = hash21TwoLane(cell + seed);
  float kind = hash21TwoLane(cell + seed + 4.4);
  fr.r = (0.22 + 0.12 * fract(fr.h * 9.7)) * swell;
  vec2 off = (vec2(fract(fr.h * 29.3), fract(kind * 37.7)) - 0.5) * 0.3;
  fr.f = fract(q) - 0.5 - off;
  float spinRate = (fract(kind * 13.1) - 0.5) * 5.0;
  fr.spin = time * spinRate + fr.h * 6.28;
  fr.orange = kind < 0.4;
  fr.lemon = kind >= 0.8;
  fr.squash = max(abs(fastCos(time * spinRate * 0.6 + fr.h * 3.0)), 0.22);
  // a slice is drawn on its own, unsquashed disc
  vec2 own = fr.orange ? fr.f : vec2(fr.f.x / fr.squash, fr.f.y);
  fr.d = length(own) / fr.r;
  fr.g = own / fr.r;  // turned for the front fruit alone (turnFront)
  float aa = 1.5 * z / (resolution.y * fr.r);
  float fade = smoothstep(0.0, 0.18, fr.depth) * smoothstep(1.0, 0.95, fr.depth);
  fr.a = step(fr.h, density) * smoothstep(1.0, 1.0 - aa, fr.d) * fade;
  return fr;
}

// The front fruit's own point turned with it: only the full shade reads it.
Fruit turnFront(Fruit fr) {
  fr.g = fastRot(fr.spin) * fr.g;
  return fr;
}

// The haze of distance: far fruit fades towards the blue of the sky.
vec3 haze(vec3 col, float depth) { return mix(col, mix(POOL_LIGHT, FIZZ, 0.3), 0.45 * (1.0 - depth) * (1.0 - depth)); }

// A fruit's flat colour, for the fruits behind the front one.
vec3 flatFruit(Fruit fr) {
  vec3 c = fr.orange ? ORANGE : (fr.lemon ? LEMON : mix(ORANGE, AMBER, 0.55));
  return haze(c * (1.0 - 0.3 * fr.d * fr.d), fr.depth);
}

// The front fruit's full colour with the noise value `grain` at its grain
// point. One orange and one slice are shaded and the kind picks between
// them: a renderer that runs both sides of an if pays for both anyway.
vec3 shadeFruit(Fruit fr, float grain) {
  vec3 slice = citrusSlice(fr.g, fr.d, fr.squash, grain,
                           fr.lemon ? LEMON * 0.95 : ORANGE,
                           fr.lemon ? mix(LEMON, FIZZ, 0.25) : mix(ORANGE, AMBER, 0.55));
  vec3 col = fr.orange ? wholeOrange(fr.f, fr.g, fr.d, fr.r, grain, fr.h) : slice;
  return haze(col, fr.depth);
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
  // The event's own time runs on across the state line (state 1 is bar 4).
  float et = st + (slam ? 4.0 * BAR : 0.0);
  float eb = et / BEAT;
  // Every kick moves things by a step that is over in about 150 ms: the
  // whole beats so far plus the rise of kickPulse in this one.
  float kicked = et < 0.0 ? 0.0 : floor(eb) + 1.0 - exp(-fract(eb) * 10.0);
  float kp = kickPulse(et);
  // The loud events' camera: a new framing on every bar line, a zoom punch
  // on beats 1 and 3.
  vec2 p = beatView(aspectPoint(), beatCamera(st, slam ? 4.0 : 0.0));

  // Sky: the blue picture under a sunburst turning round the vanishing
  // point, flaring on the beat.
  vec2 framed = p / vec2(aspect, 1.0) + 0.5;  // the picture moves with the camera
  vec3 col = texture2D(texture0, vec2(framed.x, 1.0 - framed.y)).rgb;
  float rp = length(p);
  float ang = fastAtan2(p.y, p.x) + time * 0.25;
  float ray = smoothstep(0.35, 0.65, 0.5 + 0.5 * fastSin(ang * RAYS));
  col = mix(col, mix(POOL_LIGHT, AMBER, 0.35 + 0.3 * pulse), ray * smoothstep(1.6, 0.0, rp) * (0.22 + 0.18 * pulse));
  col += AMBER * 0.45 * exp(-rp * 4.0) * (0.6 + 0.4 * pulse);
  col = mix(col, NAVY, 0.35 * smoothstep(0.4, 1.2, rp));

  // The fruit, far to near. The burst out of the centre on the first beat
  // is a rush of travel; then the planes cruise and lurch on every kick.
  float rush = et < 0.0 ? 0.0 : RUSH * (1.0 - exp(-et * 5.0));
  float travel = CRUISE * et + LURCH * kicked + rush;
  float fall = 0.25 * time + 0.18 * kicked;
  float swell = 1.0 + 0.12 * kp;
  float density = slam ? 0.62 : 0.5;
  Fruit front;
  float base = floor(travel * PLANES);  // the plane now farthest
  for (int i = 0; i < 3; i++) {
    // far to near: plane k sits at depth fract(travel + k / PLANES)
    float k = floor(mod(-base + float(i) + PLANES * 64.0, PLANES) + 0.5);
    Fruit fr = planeFruit(p, k, travel, fall, swell, density);
    col = mix(col, flatFruit(fr), fr.a);
    if (fr.a > 0.0 || i == 0) front = fr;  // the farthest stands in, uncovering, where none covers
  }
  // the front fruit in full, over its own flat shade
  front = turnFront(front);
  vec2 grainAt = front.g * (front.orange ? 0.12 : 0.25) + front.h;
  float grain = texture2D(texture1, grainAt).r;
  col += front.a * (shadeFruit(front, grain) - flatFruit(front));

  // The juice ring blown out of the centre on the first beat.
  float ringR = 1.6 * (1.0 - exp(-et * 4.0));
  float ring = et < 0.0 ? 0.0 : exp(-abs(rp - ringR) * 40.0) * exp(-et * 3.0);
  col += mix(AMBER, FIZZ, 0.3) * ring * 1.2;

  // Fizz: two channels of the noise picture, scrolled up at two speeds and
  // multiplied, leave small sparse sparkles where both peak.
  float n1 = texture2D(texture1, p * 13.0 + vec2(0.0, -time * 2.4)).r;
  float n2 = texture2D(texture1, p * 9.0 + vec2(0.37, -time * 1.7)).g;
  // (kept faint and warm: brighter, they read as snow)
  float sparkle = smoothstep(0.7, 0.82, n1 * n2);
  col += mix(FIZZ, AMBER, 0.4) * sparkle * (0.1 + 0.12 * pulse);
  // the exposure kicks light the fruit and sky, not the label in front
  col *= beatExposure(st) * (1.0 + 0.1 * exp(-fract(beat) * 8.0) * step(0.0, st));

  // The label, in front of everything.
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

  // the slam into state 1 lands with an orange flash
  if (slam) col += mix(FIZZ, AMBER, 0.5) * 0.9 * exp(-9.0 * max(st, 0.0));
  // out of the white of the flash that brought the drop in
  if (!slam) col = mix(col, vec3(1.0), entryFlash(st));
  gl_FragColor = vec4(col, 1.0);
}
