// fx_greetings2: event 8, the chorus. Eighteen greeting cards over the glossy
// balls background. States 0..8 are one bar each and bring one pair of cards,
// one above the other: at every bar line each card turns over and the next
// greeting is on its back, landing on the downbeat (the lower card on beat
// 2) with a squash and a stretch, and both hop on the claps (beats 2 and
// 4). The first pair swings in from edge-on, the last swings away to
// edge-on. State 9 (the last seven bars) turns the cards into a carousel:
// three rings of six, one above the other, each stepping round one card on
// every beat (the middle ring the other way) while the camera dollies in
// towards the transition. The loud events' camera frames every bar anew and
// punches in on beats 1 and 3; the background kicks on every beat; the
// claps part the colours at the cards' edges. The cards' backs carry our
// bottle-cap mark.
//
// Pass: the 19-image pass, so there is no "event" uniform here.
//   texture0 ballsbg, texture1..texture18 the greeting cards in show order.
//   The cards repeat outside 0..1, so the plate masks them itself.
// Time: "statetime" is 0.06 per tick: a beat is 0.48, a bar 1.92. While the
// event is still incoming (the transition into it) state is 0 and statetime
// runs up from below 0: the first pair stands edge-on, so only the background
// and its bubbles show until the pair swings in to land on the downbeat.
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
const float CAM_DIST = 2.6;       // viewer distance for the flips, screen heights
const float FLIP_IN = 0.40;       // statetime units a wall card takes to flip in
const float TURN = 0.22;          // statetime units a pair card takes to turn over (under half a beat)
const int LAST_PAIR = 8;          // the state of the last pair; the carousel follows
const float RING_CARDS = 6.0;     // cards on each ring of the carousel
const float RING_RADIUS = 0.7;    // a ring's corner radius (= a card's width), screen heights
const float RING_PITCH = 0.2;     // from one ring to the next, screen heights
const float RING_DROP = 0.035;    // the middle ring's centre below the screen's, screen heights

// ---- Helpers -------------------------------------------------------------------

// Whether card slot n can be on screen in the state drawn: in pair state k
// its own two cards, the lower card of pair k - 1 (still showing until it
// turns over on beat 2; the upper one has landed when the state begins) and
// the cards of pair k + 1 on their backs; on the carousel every card. A program
// folded to one state keeps only the reads of those slots.
bool slotShown(int n) {
  return state >= 9 || (n >= 2 * state && n <= 2 * state + 4);
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

// A point p of the screen plane seen on a card centred at c with half size hs,
// turned by angle a about its vertical axis. Returns the card-local point
// (-1..1 across both axes inside the card) and in z: 1 for the front face,
// -1 for the back face, 0 where the view ray misses the card's plane.
vec3 flipLocal(vec2 p, vec2 c, vec2 hs, float a) {
  vec2 d = p - c;
  float ca = cos(a);
  float sa = sin(a);
  float den = ca * CAM_DIST - d.x * sa;
  if (abs(den) < 1e-4) return vec3(9.0, 9.0, 0.0);
  float x = d.x * CAM_DIST / den;
  float w = (CAM_DIST + x * sa) / CAM_DIST;
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

float ease(float x) {
  x = clamp(x, 0.0, 1.0);
  return x * x * (3.0 - 2.0 * x);
}

// One card of pair k (its own slot `slot`), u statetime units after the
// card's own downbeat (negative: the turn that brings it is still running).
// Gives the flip angle and the slots on the card's two faces: the front is
// seen at angle 0, the back past a quarter turn (0: no card there). A turn
// over lasts TURN and ends on a downbeat, so the state before and the state
// after agree on every angle of it.
void pairFlip(int k, int slot, float u, out float a, out int front, out int back) {
  front = slot;
  back = slot;
  float landing = ease((u + TURN) / TURN);
  float leaving = ease((u - (BAR - TURN)) / TURN);
  if (u < 0.0) {
    if (k == 0) {
      a = 0.5 * PI * (1.0 - landing);  // the first pair swings in from edge-on
      back = 0;
    } else {
      a = PI * landing;  // still turning over from the card before
      front = slot - 2;
    }
  } else if (u >= BAR - TURN) {
    if (k >= LAST_PAIR) {
      a = 0.5 * PI * leaving;  // the last pair swings away; the wall follows
      back = 0;
    } else {
      a = PI * leaving;
      back = slot + 2;
    }
  } else {
    a = 0.3 * exp(-6.0 * u) * sin(u * 15.0);  // the wobble after landing
  }
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
// the plate (blue, orange rim, gloss) with the greeting of the face turned to
// the viewer, or our mark on a face without one (frontSlot or backSlot 0),
// and a sweep of light. hs is the half size in screen heights, a the
// flip angle, glow extra light (0..1), sweep 0..1 the position of the light
// band. Runs the card lookup once. Without a greeting (slot 0) it shows the
// back's mark.
vec4 shadeCard(int frontSlot, int backSlot, vec3 l, vec2 hs, float a, float glow, float sweep) {
  float asp = hs.x / hs.y;
  float sd = plateSdf(l.xy, asp);
  float cover = plateEdge(sd, hs.y) * abs(l.z);

  // the back face is seen mirrored: turn it round so that its text reads
  bool facing = l.z > 0.0;
  int slot = facing ? frontSlot : backSlot;
  float lx = facing ? l.x : -l.x;
  vec2 tuv = vec2(lx, -l.y) * (0.5 * CARD_FIT) + 0.5;
  vec2 inside = step(vec2(0.0), tuv) * step(tuv, vec2(1.0));
  vec4 img = greetingCard(cover > 0.0 ? slot : 0, tuv);
  // a mid-light blue plate: the white, orange and navy greetings all carry
  // an outline that reads on it, and it stands off the orange background
  vec3 front = mix(POOL_DEEP, POOL_LIGHT, 0.72 + 0.28 * l.y);
  front = mix(front, ORANGE, smoothstep(-0.16, -0.08, sd));
  front = mix(front, AMBER, smoothstep(-0.05, 0.0, sd) * 0.6);
  front += FIZZ * 0.16 * smoothstep(0.35, 0.6, l.y) * step(sd, -0.16);
  front = mix(front, img.rgb, clamp(img.a, 0.0, 1.0) * inside.x * inside.y);

  vec3 back = capMark(l.xy, asp, sd);
  vec3 col = slot > 0 ? front : back;

  float band = l.x * asp * 0.5 + l.y * 0.6 - mix(-3.0, 3.0, sweep);
  col += FIZZ * 0.35 * exp(-band * band * 6.0);
  col *= 0.55 + 0.45 * abs(cos(a));
  col += glow * 0.25 * AMBER;
  return vec4(col * cover, cover);
}

// Soft shadow a card casts on the background, offset down-right.
float cardShadow(vec2 p, vec2 c, vec2 hs, float a) {
  vec3 l = flipLocal(p - vec2(0.018, -0.026), c, hs, a);
  if (l.z == 0.0) return 0.0;
  return 0.55 * smoothstep(0.45, -0.25, plateSdf(l.xy, hs.x / hs.y));
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

// ---- Scene ---------------------------------------------------------------------

// The hop of a card on the claps: 0..1, a quick arc over the first part
// of beats 2 and 4 of the bar (u since the card's downbeat), down again
// before the middle of the beat.
float clapHop(float u) {
  float b = u / BEAT;
  float arc = clamp(fract(b) / 0.38, 0.0, 1.0);
  return mod(floor(b), 2.0) * step(0.0, u) * 4.0 * arc * (1.0 - arc);
}

void main() {
  float st = statetime;
  float beat = st / BEAT;
  float pulse = exp(-5.0 * fract(beat));
  bool wall = state >= 9;
  // The loud events' camera (state k begins on bar k; the carousel, state 9,
  // runs on from bar 9 and dollies in over its last two bars).
  vec4 cam = beatCamera(st, float(state));
  if (wall) cam.z *= 1.0 + 0.22 * smoothstep(5.0 * BAR, 7.0 * BAR, st);
  vec2 p = beatView(aspectPoint(), cam);
  vec2 uv = p / vec2(resolution.x / resolution.y, 1.0) + 0.5;

  // Background: the balls picture, kicked on every beat and drifting.
  float zoom = 0.92 - 0.08 * pulse;
  vec2 buv = (uv - 0.5) * zoom + 0.5 + vec2(0.04 * sin(time * 0.23), time * 0.012);
  vec3 col = texture2D(texture0, vec2(buv.x, 1.0 - buv.y)).rgb;
  float vig = smoothstep(1.25, 0.2, length(p));
  col *= mix(0.6, 1.0, vig) * (wall ? 0.8 : 0.95);
  col += ORANGE * 0.42 * pulse * smoothstep(0.9, 0.0, length(p * vec2(0.6, 1.2)));

  col = over(col, bubbles(p, 9.0, 0.35, 1.7, 0.55) * 0.6);
  col = over(col, bubbles(p, 5.0, 0.55, 8.3, 0.45));

  // Which card covers this pixel, and where on it: the geometry of both
  // layouts is cheap; the card itself is looked up and shaded once below.
  int slot;
  int backSlot = 0;
  vec3 l;
  vec2 hs;
  float a;
  float glow = 0.0;
  float sweep;
  float shadow = 0.0;
  float localPerScreen;  // card-local x units per screen height, for the fringe
  if (!wall) {
    // A pair: cards 2k+1 and 2k+2 of state k, one above the other (their
    // plates never overlap, even mid-flip or mid-hop).
    int k = state < 0 ? 0 : state;
    bool onA = p.y > 0.0;
    float u = onA ? st : st - BEAT;   // the lower card lands on beat 2
    // squashed flat as it lands on its beat, then stretched, then settled
    float squash = u >= 0.0 ? exp(-9.0 * u) * cos(u * 22.0) : 0.0;
    hs = vec2(0.56, 0.56 / CARD_ASPECT) * (1.0 + 0.035 * pulse) * vec2(1.0 + 0.1 * squash, 1.0 - 0.3 * squash);
    float drift = 0.04 * sin(time * 1.3);
    float hop = 0.035 * clapHop(st);
    vec2 cA = vec2(-0.1 - drift, 0.2 + 0.012 * sin(time * 2.1) + hop);
    vec2 cB = vec2(0.1 + drift, -0.2 + 0.012 * sin(time * 2.1 + 2.0) + hop);
    pairFlip(k, onA ? 2 * k + 1 : 2 * k + 2, u, a, slot, backSlot);
    vec2 c = onA ? cA : cB;
    l = flipLocal(p, c, hs, a);
    glow = u >= 0.0 ? 0.8 * exp(-8.0 * u) : 0.0;
    sweep = clamp(fract(beat) / 0.35, 0.0, 1.0);   // the light crosses on the beat
    shadow = cardShadow(p, c, hs, a);
    localPerScreen = 1.0 / hs.x;
  } else {
    // The carousel: three rings of six cards (a hexagonal drum each), seen
    // from the front; every beat each ring steps round by one card, the
    // middle one the other way, with an overshoot. They unfold from flat
    // over the first beat, the top ring first.
    // (sat a little low: the top ring keeps clear of the channel bug)
    float ring = clamp(floor(0.5 - (p.y + RING_DROP) / RING_PITCH + 1.0), 0.0, 2.0);   // 0 top .. 2 bottom
    float dir = ring == 1.0 ? -1.0 : 1.0;
    float steps = floor(max(beat, 0.0));
    float eased = easeOutBack(fract(max(beat, 0.0)) / 0.3);
    float theta = dir * (steps + eased) * (2.0 * PI / RING_CARDS) + ring * 0.7;
    float unfold = easeOutBack((st - ring * 0.08) / 0.3);
    float hop = 0.03 * clapHop(st - ring * 0.06);
    float cy = (1.0 - ring) * RING_PITCH - RING_DROP + hop;
    // The face under this pixel: the front-facing one whose span holds x.
    float face = -1.0;
    float across = 0.0;
    float faceAngle = 0.0;
    float span = 1.0;
    for (int i = 0; i < 6; i++) {
      float ak = theta + float(i) * (2.0 * PI / RING_CARDS);
      float x0 = RING_RADIUS * fastSin(ak - PI / RING_CARDS);
      float x1 = RING_RADIUS * fastSin(ak + PI / RING_CARDS);
      bool hit = fastCos(ak) > 0.0 && p.x >= x0 && p.x < x1;
      face = hit ? float(i) : face;
      across = hit ? (p.x - x0) / (x1 - x0) * 2.0 - 1.0 : across;
      faceAngle = hit ? ak : faceAngle;
      span = hit ? 0.5 * (x1 - x0) : span;
    }
    // nearer faces stand a little taller
    float depth = 1.0 + 0.12 * fastCos(faceAngle);
    hs = vec2(0.5 * RING_RADIUS * 0.92, max(0.5 * RING_RADIUS * 0.92 / CARD_ASPECT * depth * unfold, 1e-3));
    l = vec3(across / 0.92, (p.y - cy) / hs.y, face >= 0.0 ? 1.0 : 0.0);
    slot = int(ring * RING_CARDS + max(face, 0.0)) + 1;
    a = faceAngle;
    // the card at the front of its ring lights up on every beat
    glow = fastCos(faceAngle) > 0.97 ? pulse * step(0.0, st) : 0.0;
    sweep = fract(st / BAR + ring * 0.2);
    localPerScreen = 1.0 / (span * 0.92);
  }
  col *= 1.0 - shadow;
  vec4 card = shadeCard(slot, backSlot, l, hs, a, glow, sweep);
  col = over(col, card);
  // The claps part the colours at the cards' edges.
  vec2 ghostAt = l.xy + vec2(clapFringe(st) * localPerScreen, 0.0);
  float ghost = plateEdge(plateSdf(ghostAt, hs.x / hs.y), hs.y) * abs(l.z);
  col += clapTint(card.a, ghost) * clapHit(st);

  // A few big bubbles drift in front of everything.
  col = over(col, bubbles(p, 2.6, 0.8, 3.1, 0.3) * 0.45);
  col *= beatExposure(st);
  gl_FragColor = vec4(col, 1.0);
}
