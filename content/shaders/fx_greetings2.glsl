// fx_greetings2: event 8, the chorus. A Sprox can turns in space (a ray
// against a cylinder and its lid, the can label wrapped twice round it) and
// the eighteen greeting cards fly with it. States 0..8 are one bar each and
// bring one pair of cards, one above the other, hanging in front of the can:
// every bar line is a hard cut to a new shot (another side of the can,
// another height, the can on the other side of the picture) that orbits and
// dollies in over the bar, so the near cards slide past the far can. The
// cards land on the downbeat with a slam; the first pair turns over from our
// bottle-cap mark to land on the chorus's first beat. State 8 (the bells'
// answer) drops the camera low under the can and the sky turns from orange
// to blue. State 9 (the last seven bars) is the carousel: the eighteen cards
// in three rings round the can, each ring stepping on by one card on every
// beat (the middle one the other way), the camera cutting round it on every
// bar. The cards always face the camera, so none is ever squashed. The kick
// (kickPulse) notches the can round and swells it and the cards on every
// beat; kicks 1 and 3 punch the lens in and lift the exposure; the claps
// part the colours at the cards' edges.
//
// Pass: the 19-image pass, so there is no "event" uniform here.
//   texture0 the orange backdrop, wrapped round the can as its label's
//   ground (canLabel), texture1..texture18 the greeting cards in show order.
//   The cards repeat outside 0..1, so the plate masks them itself.
// Time: "statetime" is 0.06 per tick: a beat is 0.48, a bar 1.92. While the
// event is still incoming (the transition into it) state is 0 and statetime
// runs up from below 0: the camera already flies and the first pair shows
// its backs until it turns over onto the downbeat.
// Image rows run top-down while texCoord.y = 1 is the top of the screen, so
// every image lookup flips v.

#pragma fold(state)

uniform int state;        // 0..9
uniform float statetime;  // 0.06 per tick since the state began

uniform sampler2D texture0, texture1, texture2, texture3, texture4, texture5, texture6, texture7,
                  texture8, texture9, texture10, texture11, texture12, texture13, texture14,
                  texture15, texture16, texture17, texture18;

// ---- Constants -----------------------------------------------------------------

const float CARD_ASPECT = 4.0;    // width / height of a greeting image
const float CARD_FIT = 1.1;       // plate size / image size (the plate's margin)
const float FLIP_DIST = 2.6;      // viewer distance for a card's turn, screen heights
const float TURN = 0.22;          // statetime units the first pair takes to turn over
const int LAST_PAIR = 8;          // the state of the last pair; the carousel follows
const int BELLS = 8;              // the first state of the bells' answer
const float FOCAL = 1.7;          // lens: screen heights per unit of depth
const float CAN_R = 0.5;          // the can's radius, world units
const float CAN_H = 1.1;          // the can's half height
const float LABEL_H = 1.0;        // the label's half height; the rest is bare metal
const float PAIR_HX = 0.46;       // a pair card's half width at mid-bar, screen heights
const float RING_R = 1.3;         // the carousel's radius
const float RING_PITCH = 0.52;    // from one ring to the next
const float RING_HX = 0.42;       // a carousel card's half width, world units
const float RING_CARDS = 6.0;     // cards on each ring
const float FAR = 1e4;            // depth of nothing

// ---- Helpers -------------------------------------------------------------------

// Whether card slot n can be on screen in the state drawn: in pair state k
// its own two cards, on the carousel every card. A program folded to one
// state keeps only the reads of those slots.
bool slotShown(int n) {
  return state > LAST_PAIR || n == 2 * state + 1 || n == 2 * state + 2;
}

// One card image by its slot number. Sampler arrays cannot be indexed by a
// variable in this language version, so every slot that can show is read and
// all but one weighted out. The others read one fixed texel: a software
// renderer runs every read on every pixel, and a fixed texel keeps the ones
// not needed in cache (about a third of the cost of real reads on llvmpipe).
vec4 greetingCard(int slot, vec2 uv) {
  vec4 c = vec4(0.0);
  if (slotShown(1)) c += texture2D(texture1, slot == 1 ? uv : vec2(0.5)) * (slot == 1 ? 1.0 : 0.0);
  if (slotShown(2)) c += texture2D(texture2, slot == 2 ? uv : vec2(0.5)) * (slot == 2 ? 1.0 : 0.0);
  if (slotShown(3)) c += texture2D(texture3, slot == 3 ? uv : vec2(0.5)) * (slot == 3 ? 1.0 : 0.0);
  if (slotShown(4)) c += texture2D(texture4, slot == 4 ? uv : vec2(0.5)) * (slot == 4 ? 1.0 : 0.0);
  if (slotShown(5)) c += texture2D(texture5, slot == 5 ? uv : vec2(0.5)) * (slot == 5 ? 1.0 : 0.0);
  if (slotShown(6)) c += texture2D(texture6, slot == 6 ? uv : vec2(0.5)) * (slot == 6 ? 1.0 : 0.0);
  if (slotShown(7)) c += texture2D(texture7, slot == 7 ? uv : vec2(0.5)) * (slot == 7 ? 1.0 : 0.0);
  if (slotShown(8)) c += texture2D(texture8, slot == 8 ? uv : vec2(0.5)) * (slot == 8 ? 1.0 : 0.0);
  if (slotShown(9)) c += texture2D(texture9, slot == 9 ? uv : vec2(0.5)) * (slot == 9 ? 1.0 : 0.0);
  if (slotShown(10)) c += texture2D(texture10, slot == 10 ? uv : vec2(0.5)) * (slot == 10 ? 1.0 : 0.0);
  if (slotShown(11)) c += texture2D(texture11, slot == 11 ? uv : vec2(0.5)) * (slot == 11 ? 1.0 : 0.0);
  if (slotShown(12)) c += texture2D(texture12, slot == 12 ? uv : vec2(0.5)) * (slot == 12 ? 1.0 : 0.0);
  if (slotShown(13)) c += texture2D(texture13, slot == 13 ? uv : vec2(0.5)) * (slot == 13 ? 1.0 : 0.0);
  if (slotShown(14)) c += texture2D(texture14, slot == 14 ? uv : vec2(0.5)) * (slot == 14 ? 1.0 : 0.0);
  if (slotShown(15)) c += texture2D(texture15, slot == 15 ? uv : vec2(0.5)) * (slot == 15 ? 1.0 : 0.0);
  if (slotShown(16)) c += texture2D(texture16, slot == 16 ? uv : vec2(0.5)) * (slot == 16 ? 1.0 : 0.0);
  if (slotShown(17)) c += texture2D(texture17, slot == 17 ? uv : vec2(0.5)) * (slot == 17 ? 1.0 : 0.0);
  if (slotShown(18)) c += texture2D(texture18, slot == 18 ? uv : vec2(0.5)) * (slot == 18 ? 1.0 : 0.0);
  return c;
}

float ease(float x) {
  x = clamp(x, 0.0, 1.0);
  return x * x * (3.0 - 2.0 * x);
}

// A point p of the screen seen on a card whose centre shows at c with half
// size hs (screen heights), turned by angle a about its vertical axis.
// Returns the card-local point (-1..1 across both axes inside the card) and
// in z: 1 for the front face, -1 for the back face, 0 where the view ray
// misses the card's plane.
vec3 flipLocal(vec2 p, vec2 c, vec2 hs, float a) {
  vec2 d = p - c;
  float ca = fastCos(a);
  float sa = fastSin(a);
  float den = ca * FLIP_DIST - d.x * sa;
  if (abs(den) < 1e-4) return vec3(9.0, 9.0, 0.0);
  float x = d.x * FLIP_DIST / den;
  float w = (FLIP_DIST + x * sa) / FLIP_DIST;
  if (w <= 0.05) return vec3(9.0, 9.0, 0.0);
  return vec3(x / hs.x, d.y * w / hs.y, ca >= 0.0 ? 1.0 : -1.0);
}

// Signed distance to a card's rounded plate, in units of the card's half
// height, from a card-local point l (-1..1) of a card with aspect ratio asp.
float plateSdf(vec2 l, float asp) {
  vec2 q = vec2(l.x * asp, l.y);
  vec2 b = vec2(asp, 1.0);
  float r = 0.32;
  vec2 e = abs(q) - (b - r);
  return length(max(e, 0.0)) + min(max(e.x, e.y), 0.0) - r;
}

// The plate's coverage from its signed distance sd, for a card of half
// height hsy (screen heights): a smooth edge two and a half pixels wide.
float plateEdge(float sd, float hsy) {
  float aa = 2.5 / (resolution.y * hsy);
  return smoothstep(aa, -aa, sd);
}

// Our mark on a card's back: an orange plate with a cream rim and, in its
// middle, a crown bottle cap (a fluted ring) holding three rising bubbles.
vec3 capMark(vec2 l, float asp, float sd) {
  vec3 col = mix(ORANGE, AMBER, 0.5 + 0.5 * l.y);
  vec2 q = vec2(l.x * asp, l.y) / 0.82;
  float r = length(q);
  float flute = 0.9 + 0.06 * fastCos(fastAtan2(q.y, q.x) * 21.0);
  float cap = smoothstep(flute + 0.04, flute, r);
  col = mix(col, FIZZ_CREAM, cap);
  col = mix(col, ORANGE, smoothstep(0.74, 0.7, r));
  float bubble = max(max(smoothstep(0.2, 0.16, length(q - vec2(-0.18, -0.22))),
                         smoothstep(0.15, 0.11, length(q - vec2(0.2, 0.05)))),
                     smoothstep(0.11, 0.07, length(q - vec2(-0.05, 0.34))));
  col = mix(col, FIZZ, bubble);
  return mix(col, FIZZ, smoothstep(-0.12, -0.04, sd));
}

// One drawn card, premultiplied, from its card-local point l (flipLocal):
// the plate (blue, orange rim, gloss) with the greeting of slot `slot`, or
// our mark where the back faces the viewer (l.z < 0) or there is no greeting
// (slot 0), and a sweep of light. hs is the half size in screen heights, a
// the turn angle, glow extra light (0..1), sweep 0..1 the position of the
// light band. Runs the card lookup once.
vec4 shadeCard(int slot, vec3 l, vec2 hs, float a, float glow, float sweep) {
  float asp = hs.x / hs.y;
  float sd = plateSdf(l.xy, asp);
  float cover = plateEdge(sd, hs.y) * abs(l.z);
  bool front = l.z > 0.0 && slot > 0;
  vec2 tuv = vec2(l.x, -l.y) * (0.5 * CARD_FIT) + 0.5;
  vec2 inside = step(vec2(0.0), tuv) * step(tuv, vec2(1.0));
  vec4 img = greetingCard(front && cover > 0.0 ? slot : 0, tuv);
  // a mid-light blue plate: the white, orange and navy greetings all carry
  // an outline that reads on it, and it stands off the sky and the can
  vec3 face = mix(POOL_DEEP, POOL_LIGHT, 0.72 + 0.28 * l.y);
  face = mix(face, ORANGE, smoothstep(-0.16, -0.08, sd));
  face = mix(face, AMBER, smoothstep(-0.05, 0.0, sd) * 0.6);
  face += FIZZ * 0.16 * smoothstep(0.35, 0.6, l.y) * step(sd, -0.16);
  face = mix(face, img.rgb, clamp(img.a, 0.0, 1.0) * inside.x * inside.y);
  vec3 col = face;
  if (state == 0 && !front) col = capMark(l.xy, asp, sd);   // only the first pair shows its back

  float band = l.x * asp * 0.5 + l.y * 0.6 - mix(-3.0, 3.0, sweep);
  col += FIZZ * 0.35 * exp(-band * band * 6.0);
  col *= 0.55 + 0.45 * abs(fastCos(a));
  col += glow * 0.25 * AMBER;
  return vec4(col * cover, cover);
}

// Rising soap-bubble layer from cell hashing: one bubble at most per cell.
// Returns premultiplied white-ish colour and coverage.
vec4 bubbles(vec2 p, float scale, float speed, float seed, float density) {
  vec2 q = p * scale;
  float column = floor(q.x);
  q.y -= time * speed * (0.6 + 0.8 * hash21TwoLane(vec2(column, seed)));
  q.y += hash21TwoLane(vec2(seed, column)) * 7.0;
  vec2 cell = floor(q);
  float h = hash21TwoLane(cell + seed);
  if (h > density) return vec4(0.0);
  vec2 f = fract(q) - 0.5;
  float r = 0.10 + 0.22 * hash21TwoLane(cell + seed + 7.1);
  float room = 0.5 - r;
  vec2 off = (vec2(hash21TwoLane(cell + 3.3), hash21TwoLane(cell + 5.7)) - 0.5) * room;
  off.x += sin(time * 2.3 + h * 40.0) * 0.3 * room;
  float d = length(f - off);
  float aa = 1.5 * scale / resolution.y;
  float body = smoothstep(r, r - aa, d);
  float rim = body * smoothstep(r * 0.55, r, d);
  float glint = smoothstep(r * 0.28, 0.0, length(f - off - vec2(-0.38, 0.38) * r));
  vec3 col = mix(POOL_LIGHT, FIZZ, 0.6) * rim + FIZZ * glint;
  return vec4(col, clamp(rim * 0.8 + glint + body * 0.05, 0.0, 1.0));
}

// ---- The shot ------------------------------------------------------------------

// The camera of shot n (the event's bar n) at u bars into it: a point on an
// orbit round the can, aimed beside it so that the can stands on the side
// `side` (+1 right, -1 left; 0 in the middle for the carousel). Every shot
// starts somewhere else (a hard cut on the bar line), orbits a little and
// dollies in. Returns the eye and the camera's axes.
void shot(float n, float u, float side, out vec3 eye, out vec3 fw, out vec3 rt, out vec3 up) {
  float h1 = hash11(n * 7.13 + 1.7);
  float h2 = hash11(n * 3.71 + 5.3);
  float dir = mod(n, 2.0) < 0.5 ? 1.0 : -1.0;
  bool bells = n >= float(BELLS) - 0.5;
  float yaw = n * 2.35 + dir * (u - 0.5) * (bells ? 0.4 : 0.22);
  float far = mod(n, 3.0) < 1.5 ? 1.0 : 1.45;   // two shots near, one wide
  float dist = far * mix(bells ? 3.9 : 3.7, 3.2, u);
  // the bells' answer looks up at the can from under it
  // (the carousel, in the middle, from a little further and less low)
  dist *= side == 0.0 ? 1.15 : 1.0;
  float height = side == 0.0 ? -0.6 + 0.9 * h1 : bells ? -1.25 + 0.5 * h1 : mix(-0.55, 0.95, h1);
  eye = vec3(fastSin(yaw) * dist, height, fastCos(yaw) * dist);
  vec3 target = vec3(0.0, bells && side != 0.0 ? 0.25 : 0.05, 0.0);
  fw = normalize(target - eye);
  rt = normalize(cross(fw, vec3(0.0, 1.0, 0.0)));
  target -= rt * side * 0.75;
  fw = normalize(target - eye);
  rt = normalize(cross(fw, vec3(0.0, 1.0, 0.0)));
  up = cross(rt, fw);
  float roll = dir * (0.03 + 0.05 * h2);
  float cr = fastCos(roll), sr = fastSin(roll);
  vec3 r2 = rt * cr + up * sr;
  up = up * cr - rt * sr;
  rt = r2;
}

// Where a card centred at world point c with world half width hw shows:
// (screen x, screen y, half width on screen, depth along the view); depth
// FAR when it is behind the eye.
vec4 project(vec3 c, float hw, vec3 eye, vec3 fw, vec3 rt, vec3 up, float focal) {
  vec3 v = c - eye;
  float z = dot(v, fw);
  if (z < 0.2) return vec4(0.0, 0.0, 0.0, FAR);
  float k = focal / z;
  return vec4(dot(v, rt) * k, dot(v, up) * k, hw * k, z);
}

// The can, hit by the ray from eye along d: (depth along the ray, surface
// code: 1 body, 2 lid, 0 none), and in n the normal, in q the point in the
// can's own frame. tilt leans the can sideways (about the world's z axis).
vec2 hitCan(vec3 eye, vec3 d, float r, mat2 tilt, out vec3 n, out vec3 q) {
  vec3 o = eye;
  o.xy = tilt * o.xy;
  vec3 dd = d;
  dd.xy = tilt * dd.xy;
  n = vec3(0.0, 1.0, 0.0);
  q = vec3(0.0);
  float a = dd.x * dd.x + dd.z * dd.z;
  float b = o.x * dd.x + o.z * dd.z;
  float c = o.x * o.x + o.z * o.z - r * r;
  float disc = b * b - a * c;
  if (disc < 0.0) return vec2(FAR, 0.0);
  float t = (-b - sqrt(disc)) / max(a, 1e-6);
  vec3 h = o + dd * t;
  if (t > 0.0 && abs(h.y) < CAN_H) {
    q = h;
    n = vec3(h.x, 0.0, h.z) / r;
    n.xy = n.xy * tilt;  // back to the world (the transpose turns the other way)
    return vec2(t, 1.0);
  }
  // the lid (or the base) the ray meets from its side of the can
  float lidY = o.y > 0.0 ? CAN_H : -CAN_H;
  float tl = (lidY - o.y) / (abs(dd.y) > 1e-5 ? dd.y : 1e-5);
  vec3 hl = o + dd * tl;
  if (tl > 0.0 && dot(hl.xz, hl.xz) < r * r) {
    q = hl;
    n = vec3(0.0, sign(lidY), 0.0);
    n.xy = n.xy * tilt;
    return vec2(tl, 2.0);
  }
  return vec2(FAR, 0.0);
}

// The can's label at s (0..1 round each half of the can) and v (0..1 up the
// label): the orange backdrop mirrored at the seams, so that it closes
// round the can, under a cream wave with a navy rim and navy bands at the
// ends. The pass's 19 slots hold the backdrop and the cards, no label.
vec3 canLabel(float s, float v) {
  float u = 1.0 - abs(2.0 * s - 1.0);
  vec3 col = texture2D(texture0, vec2(0.05 + 0.9 * u, 1.0 - v)).rgb;
  float wave = v - 0.52 - 0.1 * fastSin(s * 4.0 * PI);
  col = mix(col, NAVY, smoothstep(0.13, 0.12, abs(wave)));
  col = mix(col, FIZZ_CREAM, smoothstep(0.1, 0.09, abs(wave)));
  return mix(col, NAVY, smoothstep(0.9, 0.91, abs(2.0 * v - 1.0)));
}

// The can's colour at surface code kind, can-frame point q, world normal n,
// for the view ray d; spin turns the label round.
vec3 shadeCan(float kind, vec3 q, vec3 n, vec3 d, float spin, float r, vec3 rimColour) {
  vec3 light = normalize(vec3(-0.5, 0.7, 0.6));
  float diffuse = max(dot(n, light), 0.0);
  vec3 refl = reflect(d, n);
  float specular = pow24(max(dot(refl, light), 0.0));
  float facing = 1.0 - abs(dot(n, d));
  vec3 metal = mix(NAVY, FIZZ, 0.55 + 0.35 * refl.y);
  vec3 col;
  if (kind > 1.5) {
    // the lid: brushed metal, a groove near the rim and the tab
    float rr = length(q.xz) / r;
    col = metal * (0.75 + 0.25 * fastSin(rr * 40.0));
    col *= 1.0 - 0.5 * smoothstep(0.06, 0.0, abs(rr - 0.86));
    vec2 tab = (q.xz / r - vec2(0.25, 0.0)) * vec2(1.0, 1.8);
    col = mix(col, FIZZ, smoothstep(0.3, 0.26, length(tab)) * 0.6);
    col = mix(col, INK, smoothstep(0.12, 0.09, length(tab - vec2(0.05, 0.0))));
  } else {
    float ang = fastAtan2(q.z, q.x) + spin;
    float s = clamp(fract(ang / PI), 0.004, 0.996);   // the label twice round
    float v = 0.5 + 0.4 * q.y / LABEL_H;
    vec3 label = canLabel(s, v);
    float onLabel = step(abs(q.y), LABEL_H);
    col = mix(metal, label * (0.45 + 0.75 * diffuse), onLabel);
    // the ridges where the label meets the metal
    col *= 1.0 - 0.45 * smoothstep(0.03, 0.0, abs(abs(q.y) - LABEL_H));
  }
  col += FIZZ * specular * 0.9;
  col += rimColour * facing * facing * 0.8;
  return col;
}

// The sky round the can: deep blue, a glow of the section's colour, stars,
// along the view ray d.
vec3 sky(vec3 d, vec3 glow) {
  vec3 col = mix(NAVY, POOL_DEEP, clamp(0.45 + 0.7 * d.y, 0.0, 1.0));
  float neb = max(dot(d, normalize(vec3(0.6, 0.25, -0.75))), 0.0);
  float band = exp(-14.0 * (d.y + 0.1) * (d.y + 0.1));
  col = mix(col, glow, clamp(0.8 * pow6(neb) + 0.35 * band * band, 0.0, 1.0));
  vec2 cell = (abs(d.x) > abs(d.z) ? d.zy / d.x : d.xy / d.z) * 11.0;
  vec2 id = floor(cell);
  float h = hash21(id);
  vec2 f = fract(cell) - 0.5 - (vec2(hash21(id + 3.1), hash21(id + 7.7)) - 0.5) * 0.6;
  float star = step(0.78, h) * smoothstep(0.09, 0.0, length(f)) * (0.6 + 0.4 * fastSin(time * 3.0 + h * 30.0));
  return col + FIZZ * star;
}

// ---- Scene ---------------------------------------------------------------------

void main() {
  float st = statetime;
  float beat = st / BEAT;
  float kick = kickPulse(st);
  bool carousel = state > LAST_PAIR;
  bool bells = state >= BELLS;

  // The shot: state k < 9 is the event's bar k; the carousel, state 9,
  // runs on from bar 9 and cuts on each of its bars.
  float barIn = carousel ? floor(max(st, 0.0) / BAR) : 0.0;
  float n = float(state) + barIn;
  float u = (st - barIn * BAR) / BAR;
  float side = carousel ? 0.0 : (mod(n, 2.0) < 0.5 ? -1.0 : 1.0);
  vec3 eye, fw, rt, up;
  shot(n, u, side, eye, fw, rt, up);
  float focal = FOCAL * (1.0 + 0.06 * kickHit(st));
  vec2 p = aspectPoint();
  vec3 d = normalize(fw * focal + rt * p.x + up * p.y);

  // Sky first: the bells turn it from orange to blue.
  vec3 glow = bells ? POOL_LIGHT : ORANGE;
  vec3 col = sky(d, glow);
  col = over(col, bubbles(p + vec2(n * 0.37 + u * 0.3 * side, 0.0), 6.0, 0.4, 1.7, 0.45) * 0.5);

  // The can: notched round on every beat, a little fuller on the kick.
  float spin = time * 0.6 + 0.5 * (floor(max(beat, 0.0)) + easeOutBack(fract(max(beat, 0.0)) / 0.35));
  float canR = CAN_R * (1.0 + 0.05 * kick);
  float lean = 0.22 * fastSin(n * 1.7) + (bells ? 0.12 : 0.0);
  mat2 tilt = fastRot(lean);
  vec3 cn, cq;
  vec2 can = hitCan(eye, d, canR, tilt, cn, cq);
  float canDepth = can.x * dot(d, fw);
  // a halo behind the can, flaring on the chorus's first beat
  vec4 cp = project(vec3(0.0), 1.0, eye, fw, rt, up, focal);
  float first = state == 0 ? exp(-3.0 * max(st, 0.0)) * step(0.0, st) : 0.0;
  col = mix(col, bells ? POOL_LIGHT : AMBER, min((0.45 + 0.35 * kick + first) * exp(-3.0 * length(p - cp.xy)), 1.0));
  if (can.y > 0.5) col = shadeCan(can.y, cq, cn, d, spin, canR, bells ? POOL_LIGHT : AMBER);

  // The cards: the nearest one this pixel falls on, in front of the can.
  int slot = 0;
  vec3 l = vec3(9.0, 9.0, 0.0);
  vec2 hs = vec2(1.0);
  float a = 0.0;
  float glow2 = 0.0;
  float sweep = fract(beat);
  float bestZ = canDepth;
  if (!carousel) {
    // A pair: cards 2k+1 and 2k+2 ride with the camera in front of the
    // can, opposite the can's side, drifting against the orbit so that the
    // can slides behind them; the upper one is nearer.
    float drift = (mod(n, 2.0) < 0.5 ? -0.1 : 0.1) * (u - 0.5);
    float slam = 1.0 + 0.1 * exp(-14.0 * max(st, 0.0)) + 0.05 * kick;
    for (int i = 0; i < 2; i++) {
      float fi = float(i);
      float depth = 1.9 + 0.25 * fi;
      vec2 at = vec2(-side * (0.2 + 0.05 - 0.1 * fi) + drift * (1.0 + fi), 0.17 - 0.35 * fi);
      vec4 pr = vec4(at, PAIR_HX, depth) * vec4(focal / FOCAL);
      pr.w = depth;
      vec2 h = vec2(pr.z * slam, pr.z * slam / CARD_ASPECT);
      // the first pair turns over from its back onto the first downbeat;
      // later ones settle with a small wobble after their slam
      float ai = state == 0 && st < 0.0 ? PI * (1.0 - ease((st + TURN) / TURN))
                                        : 0.25 * exp(-5.0 * max(st, 0.0)) * sin(st * 14.0 + fi);
      vec3 li = flipLocal(p, pr.xy, h, ai);
      bool hit = li.z != 0.0 && abs(li.x) < 1.02 && abs(li.y) < 1.1 && pr.w < bestZ;
      slot = hit ? 2 * state + 1 + i : slot;
      l = hit ? li : l;
      hs = hit ? h : hs;
      a = hit ? ai : a;
      bestZ = hit ? pr.w : bestZ;
    }
    glow2 = 0.8 * exp(-8.0 * max(st, 0.0)) * step(0.0, st);
  } else {
    // The carousel: three rings of six round the can, stepping one card on
    // every beat with an overshoot, the middle ring the other way.
    float steps = floor(max(beat, 0.0));
    float eased = easeOutBack(fract(max(beat, 0.0)) / 0.3);
    for (int ring = 0; ring < 3; ring++) {
      float fr = float(ring);
      float dir = ring == 1 ? -1.0 : 1.0;
      float theta = dir * (steps + eased) * (2.0 * PI / RING_CARDS) + fr * 0.5;
      float y = (1.0 - fr) * RING_PITCH + 0.03 * clapHit(st - fr * 0.06);
      // one card's place, then round by a sixth of a turn for each next one
    vec2 sc = RING_R * vec2(fastSin(theta), fastCos(theta));
    mat2 sixth = mat2(0.5, -0.8660254, 0.8660254, 0.5);
    for (int i = 0; i < 6; i++) {
        vec3 c = vec3(sc.x, y, sc.y);
        sc = sixth * sc;
        vec4 pr = project(c, RING_HX * (1.0 + 0.05 * kick), eye, fw, rt, up, focal);
        vec2 h = vec2(pr.z, pr.z / CARD_ASPECT);
        vec2 li = (p - pr.xy) / h;
        bool hit = abs(li.x) < 1.02 && abs(li.y) < 1.1 && pr.w < bestZ;
        slot = hit ? ring * 6 + i + 1 : slot;
        l = hit ? vec3(li, 1.0) : l;
        hs = hit ? h : hs;
        bestZ = hit ? pr.w : bestZ;
      }
    }
    // the nearest cards light up on every beat
    glow2 = kick * smoothstep(3.0, 2.2, bestZ);
    sweep = fract(st / BAR);
  }
  vec4 card = shadeCard(slot, l, hs, a, glow2, sweep);
  // the far side of the carousel sinks into the sky, so the near cards lead
  if (carousel) card.rgb = mix(card.rgb, POOL_DEEP * card.a, 0.55 * smoothstep(length(eye) - 0.4, length(eye) + 1.0, bestZ));
  col = over(col, card);
  // The claps part the colours at the cards' edges.
  vec2 ghostAt = l.xy + vec2(clapFringe(st) / hs.x, 0.0);
  float ghost = plateEdge(plateSdf(ghostAt, hs.x / hs.y), hs.y) * abs(l.z);
  col += clapTint(card.a, ghost) * clapHit(st);

  col *= beatExposure(st);
  gl_FragColor = vec4(col, 1.0);
}
