// fx_intro: big word cards over soda. It serves two events with different
// images and backdrops:
//
//   event 1 (the intro): the title cards "Keldrun", "serve", "fizzing" and
//     "Haldex 2023", one per state (two bars each), slamming in on the state's
//     first beat with an elastic settle, an echo on every half-time beat, and
//     a quick exit before the next; the bubbles thicken and the light opens
//     up with every card, as the music's filter does. The first card flies
//     in from the front while the dissolve into the event ends, so that it
//     lands on the downbeat with nothing empty before it. A camera dollies
//     through the soda's layers: each card's first bar pushes in on a
//     sideways track, its second cuts on the bar line to a wide, rolled
//     framing; the card slides out along the track into the next slam.
//   event 12 (the outro): the picture is inside a glass that drains one
//     step on every bar line, sloshing, while the light cools as the music's
//     filter closes. "own" three times, one bar each, hitting on every beat;
//     then "own demoscene" rises in, its N wobbles and pops off like a
//     bottle cap on the bar's last beat, an E drops in with a fizz burst on
//     the next downbeat, and "owe demoscene" holds for two bars before it
//     fills orange from its feet under the sea that ends the event. The
//     camera cuts to a new framing on every bar line (tight on the N while
//     it wobbles) and pushes in or tracks inside the bar.
//
// Both rows bind the background (introbg.png) on texture0 and the cards from
// texture1 on; event 1 adds the mono fizz texture on texture5 (which is a card
// in event 12, so it is read only in event 1). The outro draws its glass
// itself and does not read texture0.
//
// The event this pass draws: "event" is always the event in force, and the
// incoming event is drawn with state 0 and a negative "statetime" (counting
// up to 0). So a negative statetime means "the event after `event`, before its
// first card": the background runs, no card yet.
//
// Glossary: img = pixel position in the cards' own space (1280 x 720, y down);
// p = screen position in screen heights (x 0..16/9, y 0..1 up); st = statetime
// (0.06 a tick, 0.48 a beat, 1.92 a bar; states begin on bar lines).

#pragma fold(event, state)

uniform int event;           // the event in force
uniform int state;           // state of the drawn event
uniform float statetime;     // 0.06 per tick since the state began
uniform sampler2D texture0;  // introbg
uniform sampler2D texture1;  // event 1: Keldrun    event 12: own 1
uniform sampler2D texture2;  // event 1: serve      event 12: own 2
uniform sampler2D texture3;  // event 1: fizzing    event 12: own 3
uniform sampler2D texture4;  // event 1: Haldex     event 12: own demoscene
uniform sampler2D texture5;  // event 1: mono fizz  event 12: owe demoscene
uniform sampler2D texture6;  //                     event 12: owe demoscene (orange)

// ---- Constants ------------------------------------------------------------------
const vec2 CARD = PICTURE;   // every card is a full-screen picture, pixels

// ---- Internal functions ---------------------------------------------------------
// One layer of rising bubbles, one bubble at most per cell of a grid that
// scrolls upwards, its radius grown by the share `swell` (the kick) as far as
// the cell allows. Returns (rim and highlight, body coverage).
vec2 bubbles(vec2 p, float cells, float speed, float t, float density, float seed, float swell) {
  vec2 q = p * cells;
  q.y -= t * speed;
  vec2 id = floor(q);
  float h = hash21(id + seed);
  if (h > density) return vec2(0.0);
  float r = 0.12 + 0.2 * hash21(id + seed + 17.3);
  float aa = cells / resolution.y * 1.5;
  float m = 0.5 - r - aa;                                 // room left in the cell
  float wob = sin(t * (1.3 + 2.0 * h) + h * 40.0);
  vec2 c = vec2(0.5 + (hash21(id + seed + 5.1) - 0.5) * 1.4 * m + wob * 0.3 * m,
                0.5 + (h / density - 0.5) * 2.0 * m);
  vec2 f = fract(q) - c;
  float d = length(f);
  r = min(r * (1.0 + swell), 0.5 - aa);   // the kick's swell, kept inside the cell
  float disc = smoothstep(r + aa, r - aa, d);
  float rim = disc * smoothstep(r * 0.6, r, d);
  float glint = smoothstep(r * 0.32, r * 0.12, length(f - vec2(-0.38, 0.38) * r));
  return vec2(rim * 0.75 + glint, disc);
}

// Where a full-screen card moved by `offset` (pixels), scaled about its
// centre and turned by `angle` (radians) is read: its texture coordinate, and
// in z 1 inside the card, 0 outside (the card is transparent there).
vec3 cardUv(vec2 img, vec2 offset, float scale, float angle) {
  vec2 d = img - 0.5 * CARD - offset;
  float cs = cos(angle), sn = sin(angle);
  d = vec2(cs * d.x + sn * d.y, -sn * d.x + cs * d.y) / scale;
  vec2 uv = (d + 0.5 * CARD) / CARD;
  float inside = step(0.0, uv.x) * step(uv.x, 1.0) * step(0.0, uv.y) * step(uv.y, 1.0);
  return vec3(uv, inside);
}

// One of the images on texture1 to texture6 by number, from the reads of
// each: r1 at the first layer's place, r2 at the second's (texture5 and
// texture6 are read once, at the place of the layer that can show them).
vec4 pick(int n, vec4 t1, vec4 t2, vec4 t3, vec4 t4, vec4 t5, vec4 t6) {
  if (n == 1) return t1;
  if (n == 2) return t2;
  if (n == 3) return t3;
  if (n == 4) return t4;
  if (n == 5) return t5;
  return t6;
}

// Envelope of a card that slams in at st = 0 (a hard cut on the state's
// first beat: fully there from its first frame, big, then settling with an
// elastic wobble) and, when `leaves` is set, blows away over the last
// `outlen` of a state of length `len`. Returns (scale, alpha).
vec2 slam(float st, float len, float outlen, bool leaves) {
  if (st < 0.0) return vec2(1.0, 0.0);
  float s = 1.0 + 0.45 * exp(-st * 9.0) * cos(st * 24.0);
  float a = 1.0;
  if (leaves) {
    float o = smoothstep(len - outlen, len, st);
    s *= 1.0 + 0.35 * o;
    a *= 1.0 - o;
  }
  return vec2(s, a);
}

// Envelope of the first card of an event while the event is still incoming
// (st below 0): it flies in from the front over the last beat before the
// downbeat, from two and a half times its size. Returns (scale, alpha).
vec2 flyIn(float st) {
  float a = clamp(1.0 + st / BEAT, 0.0, 1.0);
  return vec2(1.0 + 2.5 * (1.0 - a) * (1.0 - a), a * a);
}

// Composites a card (straight alpha) over the picture with an extra opacity.
vec3 overStraight(vec3 col, vec4 k, float alpha) {
  return mix(col, k.rgb, clamp(k.a * alpha, 0.0, 1.0));
}

// ---- The intro ------------------------------------------------------------------
// The camera of the intro: it dollies through the soda, whose layers stand at
// depths in front of it (the backdrop far, the word card at CARD_DEPTH, the
// nearest bubbles just in front of the lens), so that every move shows
// parallax. Each card's first bar pushes in while it tracks sideways; its
// second bar cuts hard on the bar line to a wider, rolled framing that pushes
// in again while the track runs back. The side swaps with every card.
const float CARD_DEPTH = 2.0;   // the cards' layer, in the units of the camera's z
const float CARD_SIZE = 0.88;   // the cards' scale at rest: room for the push-in

// The intro camera for the bar n of the event (0..7) at the bar's fraction u:
// (x, y, z, roll); z > 0 is towards the picture. While the event is incoming
// it waits at the start of the first bar's track.
vec4 introCamera(float n, float u) {
  float side = mod(floor(n * 0.5), 2.0) < 0.5 ? 1.0 : -1.0;
  if (mod(n, 2.0) < 0.5) return vec4(side * 0.16 * (u - 0.5), 0.0, 0.18 * u, 0.0);
  return vec4(-side * 0.16 * (u - 0.5), -0.04, -0.3 + 0.2 * u, side * 0.05);
}

// A centred screen point pc (screen heights) as the camera cam sees the
// layer at depth d: the layer's own centred point.
vec2 layerPoint(vec2 pc, vec4 cam, float d) {
  return fastRot(cam.w) * pc * (1.0 - cam.z / d) + cam.xy / d;
}

// A centred layer point back in the cards' pixels (y down).
vec2 layerPixel(vec2 q) { return vec2(q.x * CARD.y + 0.5 * CARD.x, 0.5 * CARD.y - q.y * CARD.y); }

vec3 introScene(vec2 img, vec2 p, float st, bool incoming) {
  float t = time;
  // How far the event has run, 0..1 (0 while it is only incoming): it opens
  // up towards its end.
  float run = incoming ? 0.0 : clamp((2.0 * float(state) * BAR + st) / (8.0 * BAR), 0.0, 1.0);
  float halfbeat = fract(st / (2.0 * BEAT));
  float pulse = incoming ? 0.3 * exp(-fract(st / BEAT) * 5.0) : exp(-fract(st / BEAT) * 5.0);
  float kp = kickPulse(st);

  // ---- The camera ------------------------------------------------------------
  float inState = max(st, 0.0);
  float barInState = floor(inState / BAR);
  vec4 cam = introCamera(2.0 * float(state) + barInState, incoming ? 0.0 : inState / BAR - barInState);
  vec2 centre = vec2(0.5 * resolution.x / resolution.y, 0.5);
  vec2 pc = p - centre;

  // ---- Background: the soda, slowly breathing, far behind --------------------
  vec2 bq = layerPoint(pc, cam, 8.0);
  float zoom = 1.17 + 0.03 * sin(t * 0.23);   // room for the wide, rolled framings
  vec2 buv = 0.5 + (layerPixel(bq) / CARD - 0.5) / zoom + vec2(0.01 * sin(t * 0.17), 0.008 * sin(t * 0.13));
  vec3 col = texture2D(texture0, buv).rgb;
  float open = 0.55 + 0.45 * run;
  col *= 0.75 + 0.35 * open;

  // Light from below and a soft glow behind the words, on the beat.
  vec2 cq = layerPoint(pc, cam, CARD_DEPTH);
  float glow = exp(-dot(cq, cq) * 3.0);
  col += mix(ORANGE_2DP, AMBER, run) * glow * (0.12 + 0.18 * pulse) * open;
  col += FIZZ_CREAM * 0.08 * smoothstep(0.45, 0.0, p.y) * open;

  // ---- The cards: one per two-bar state, with its echo under it ---------------
  // The last one is still on screen when the flash into the title takes over.
  // While the event is incoming, the first card flies in from the front over
  // the dissolve's last beat and lands on the downbeat. A card leaves by
  // sliding out along the camera's track over the last half beat of its state.
  vec2 wander = vec2(8.0 * sin(t * 0.9), 6.0 * sin(t * 1.3));
  float tilt = 0.025 * sin(t * 0.7);
  vec2 e = incoming ? flyIn(st) : slam(st, 2.0 * BAR, 0.0, false);
  float leave = state < 3 && !incoming ? smoothstep(2.0 * BAR - 0.5 * BEAT, 2.0 * BAR, st) : 0.0;
  float side = mod(float(state), 2.0) < 0.5 ? 1.0 : -1.0;
  wander.x += side * 1400.0 * leave * leave;
  float echo = incoming ? 0.0 : halfbeat;
  int image = state < 3 ? state + 1 : 4;
  float angle = (image == 1 || image == 3) ? tilt : -tilt;
  vec2 cimg = layerPixel(cq);
  float size = CARD_SIZE * e.x * (1.0 + 0.05 * kp);
  vec3 c1 = cardUv(cimg, wander, size * (1.0 + 0.3 * echo), angle);
  vec3 c2 = cardUv(cimg, wander, size, angle);
  vec2 monoUv = vec2(img.x / CARD.y * 0.7, img.y / CARD.y * 0.7 + t * 0.05);
  vec4 t5 = texture2D(texture5, monoUv);
  vec4 k1 = pick(image, texture2D(texture1, c1.xy), texture2D(texture2, c1.xy), texture2D(texture3, c1.xy),
                 texture2D(texture4, c1.xy), t5, t5);
  vec4 k2 = pick(image, texture2D(texture1, c2.xy), texture2D(texture2, c2.xy), texture2D(texture3, c2.xy),
                 texture2D(texture4, c2.xy), t5, t5);
  if (image == 3) {
    // "fizzing" is lettered soda orange in a white rim, which the orange
    // soda swallows: its fill is poured deep blue here, so that the word
    // stands off its rim and the soda by far more than 4.5:1.
    vec3 blue = mix(POOL_DEEP, NAVY, c2.y);
    k1.rgb = mix(k1.rgb, blue, clamp((k1.r - k1.b) * 1.6, 0.0, 1.0));
    k2.rgb = mix(k2.rgb, blue, clamp((k2.r - k2.b) * 1.6, 0.0, 1.0));
  }
  float alpha1 = incoming ? 0.0 : 0.35 * (1.0 - echo) * e.y * smoothstep(0.0, 0.3, st);

  // The mono fizz haze drifts up through the intro.
  col += FIZZ_CREAM * t5.r * 0.1 * (0.4 + 0.6 * run);

  // ---- Bubbles: three layers at three depths, nearer ones larger and faster;
  // the kick swells them ---------------------------------------------------------
  float speed = 0.8 + 0.6 * run;
  float dens = 0.3 + 0.25 * run;
  float swell = 0.25 * kp;
  vec2 b1 = bubbles(layerPoint(pc, cam, 4.5) + centre, 14.0, 1.6 * speed, t, dens, 1.0, swell);
  vec2 b2 = bubbles(layerPoint(pc, cam, 3.0) + centre + vec2(0.37, 0.0), 8.0, 1.3 * speed, t, dens * 0.8, 7.0,
                    swell);
  vec2 b3 = bubbles(layerPoint(pc, cam, 1.2) + centre + vec2(0.11, 0.0), 4.5, 0.9 * speed, t, dens * 0.55, 13.0,
                    swell);
  col = mix(col, col * 1.15 + 0.05, (b1.y + b2.y) * 0.25);
  col += FIZZ_CREAM * (b1.x * 0.35 + b2.x * 0.5);

  col = overStraight(col, k1 * c1.z, alpha1);
  col = overStraight(col, k2 * c2.z, e.y);

  // The nearest bubbles float in front of the words.
  col = mix(col, col * 1.1 + 0.06, b3.y * 0.3);
  col += FIZZ_CREAM * b3.x * 0.6;
  return col;
}

// ---- The outro ------------------------------------------------------------------
// Where the cards' N of "own" (in "own demoscene") and the E of "owe" sit in
// the two-line cards, pixels: x from, x to, y from, y to. The E's box is the
// N's; the other letters of the first line move a few pixels between the two
// cards (the line is centred), which the E's landing hides.
const vec4 LETTER_BOX = vec4(719.0, 842.0, 125.0, 368.0);
const vec2 LETTER_FOOT = vec2(778.0, 355.0);   // the N's foot: it wobbles about it
const float OUTRO_BARS = 8.0;
const float E_DROP = 0.3;                      // statetime units the E takes to drop in

// The glass's soda level at the outro's bar position b (bars since its
// start, fractional), in screen heights from the bottom: a step down on
// every bar line, with a slosh that dies away.
float sodaLevel(float b, float x) {
  float bar = floor(max(b, 0.0));
  float inBar = max(b, 0.0) - bar;
  float level = 0.9 - 0.085 * bar - 0.085 * smoothstep(0.0, 0.12, inBar) * step(0.0, b);
  float slosh = 0.035 * exp(-inBar * 5.0) * sin(x * 4.2 - inBar * 11.0) * step(0.0, b);
  return level + slosh + 0.006 * sin(x * 9.0 + time * 2.3);
}

// Where the letter in LETTER_BOX of a card moved by `offset` (pixels) is
// read, with the letter turned by `spin` about its foot and raised by
// `lift` pixels: the N as it wobbles and pops off, the E as it drops in.
// Returns the image point to read and, in z, 1 where it lies in the box.
vec3 letterUv(vec2 img, vec2 offset, float lift, float spin) {
  vec2 d = img - offset - LETTER_FOOT;
  d = fastRot(-spin) * (d + vec2(0.0, lift));
  vec2 q = d + LETTER_FOOT;
  float inBox = step(LETTER_BOX.x, q.x) * step(q.x, LETTER_BOX.y) * step(LETTER_BOX.z, q.y) * step(q.y, LETTER_BOX.w);
  return vec3(q / CARD, inBox);
}

// The outro's camera at bar n of the event (0..7, fractional; below 0 while
// incoming): (x, y, z, roll), as the intro's, seen through layerPoint. Every
// bar line cuts to a new framing: the three "own"s from low left, high
// right and straight on, each pushing in; "own demoscene" wide, then tight
// on its N as it wobbles and pops; the E's landing cuts back wide; the
// second bar of "owe" tracks low across the glass; the last bar pulls back.
vec4 outroCamera(float b) {
  float n = floor(max(b, 0.0));
  float u = b < 0.0 ? 0.0 : b - n;
  if (n < 0.5) return vec4(-0.12 + 0.06 * u, -0.06, 0.2 * u, 0.05);
  if (n < 1.5) return vec4(0.12 - 0.06 * u, 0.05, 0.2 * u, -0.05);
  if (n < 2.5) return vec4(0.0, 0.0, 0.1 + 0.2 * u, 0.0);
  if (n < 3.5) return vec4(0.0, 0.0, -0.25 + 0.2 * u, 0.0);
  if (n < 4.5) return vec4(0.38, 0.30, 0.5 + 0.2 * u, 0.03 * u);   // the N held in the middle
  if (n < 5.5) return vec4(0.0, 0.0, -0.2 + 0.15 * u, 0.0);
  if (n < 6.5) return vec4(0.22 - 0.44 * u, -0.1, 0.0, -0.03);
  return vec4(0.0, 0.0, 0.1 - 0.3 * u, 0.0);
}

vec3 outroScene(vec2 pScreen, float st, bool incoming) {
  float t = time;
  // The bar position in the event (negative while incoming).
  float stateBar = state <= 2 ? float(state) : (state == 3 ? 3.0 : (state == 4 ? 5.0 : 7.0));
  float b = incoming ? st / BAR : stateBar + st / BAR;
  float run = clamp(b / OUTRO_BARS, 0.0, 1.0);
  float beat = fract(st / BEAT);
  float pulse = incoming ? 0.0 : exp(-beat * 5.0);
  float kp = incoming ? 0.0 : kickPulse(st);

  // The camera: the glass stands at depth 3, the words at CARD_DEPTH, the
  // nearest bubbles just in front of the lens.
  vec4 cam = outroCamera(b);
  vec2 centre = vec2(0.5 * resolution.x / resolution.y, 0.5);
  vec2 pc = pScreen - centre;
  vec2 p = layerPoint(pc, cam, 3.0) + centre;
  vec2 img = layerPixel(layerPoint(pc, cam, CARD_DEPTH));
  float x = p.x;

  // ---- The glass: soda below its level, the wet empty glass above ------------
  float level = sodaLevel(b, x);
  float depth = level - p.y;                       // > 0 in the soda
  vec3 warm = mix(AMBER, ORANGE, smoothstep(0.0, 0.8, depth));
  vec3 cool = mix(warm, POOL_LIGHT * 0.8 + ORANGE * 0.2, 0.55 * run);
  vec3 soda = cool * (0.62 + 0.3 * exp(-depth * 3.0)) * (1.0 - 0.35 * run);
  vec3 empty = mix(NAVY, POOL_DEEP, 0.3 + 0.4 * p.y) * (0.8 - 0.3 * run);
  // the glass walls: two bright vertical reflections that stay put
  float wall = exp(-abs(x - 0.28) * 30.0) * 0.5 + exp(-abs(x - 1.52) * 45.0) * 0.35;
  empty += mix(POOL_LIGHT, FIZZ, 0.5) * wall * 0.35;
  soda += FIZZ_CREAM * wall * 0.25;
  // drops running down the wet glass where the soda has left it
  vec2 dq = vec2(x * 26.0, p.y * 6.0 + t * (0.3 + 0.4 * hash11(floor(x * 26.0))));
  float drop = step(0.82, hash21(floor(dq))) * (1.0 - smoothstep(0.1, 0.3, length((fract(dq) - 0.5) * vec2(1.0, 3.0))));
  empty += FIZZ * drop * 0.35 * smoothstep(0.0, 0.1, -depth);
  float inSoda = smoothstep(-0.004, 0.004, depth);
  vec3 col = mix(empty, soda, inSoda);
  // the foam on the surface, thicker on the slosh after each step down
  float foam = exp(-abs(depth + 0.006) * 90.0) * (0.7 + 0.3 * exp(-fract(max(b, 0.0)) * 4.0));
  col = mix(col, FIZZ_CREAM, clamp(foam, 0.0, 1.0) * 0.85);
  // light through the soda, on the beat, cooling as the filter closes
  vec2 cp = p - vec2(0.5 * resolution.x / resolution.y, 0.45);
  col += mix(AMBER, POOL_LIGHT, run) * exp(-dot(cp, cp) * 3.0) * (0.1 + 0.2 * pulse) * (1.0 - 0.5 * run);

  // ---- Bubbles, in the soda only; they slow down as it drains ----------------
  float speed = 1.2 - 0.7 * run;
  float swell = 0.25 * kp;
  vec2 b1 = bubbles(p, 14.0, 1.6 * speed, t, 0.4, 1.0, swell) * inSoda;
  vec2 b2 = bubbles(p + vec2(0.37, 0.0), 8.0, 1.3 * speed, t, 0.3, 7.0, swell) * inSoda;
  // the nearest layer sits in front of the words, nearer the lens
  vec2 pn = layerPoint(pc, cam, 1.3) + centre;
  float inSodaNear = smoothstep(-0.004, 0.004, sodaLevel(b, pn.x) - pn.y);
  vec2 b3 = bubbles(pn + vec2(0.11, 0.0), 4.5, 0.9 * speed, t, 0.22, 13.0, swell) * inSodaNear;
  col = mix(col, col * 1.15 + 0.05, (b1.y + b2.y) * 0.25);
  col += FIZZ_CREAM * (b1.x * 0.35 + b2.x * 0.5);

  // ---- The cards -----------------------------------------------------------------
  vec2 wander = vec2(6.0 * sin(t * 0.9), 5.0 * sin(t * 1.3));
  vec4 k;
  float shown = 1.0;
  float shadow;                  // the type's drop shadow, down and right
  vec2 shadowStep = vec2(12.0, 16.0) / CARD;
  if (state <= 2) {
    // "own", one card a bar, hitting on every beat: slammed down big, turned
    // the other way each beat. While incoming, the first one falls in over
    // the dissolve's last beat.
    float n = floor(st / BEAT);
    float side = mod(n + float(state), 2.0) < 0.5 ? 1.0 : -1.0;
    float hit = incoming ? 0.0 : exp(-beat * 7.0);
    float scale = 1.0 + 0.3 * hit * cos(beat * 9.0);
    float angle = side * 0.07 * hit;
    vec2 jump = vec2(side * 26.0 * hit, 0.0);
    if (incoming) {
      vec2 fly = flyIn(st);
      scale = fly.x;
      shown = fly.y;
    }
    vec3 c = cardUv(img, wander + jump, scale, angle);
    k = pick(state + 1, texture2D(texture1, c.xy), texture2D(texture2, c.xy), texture2D(texture3, c.xy),
             vec4(0.0), vec4(0.0), vec4(0.0)) * c.z;
    vec2 s = c.xy - shadowStep;
    shadow = pick(state + 1, texture2D(texture1, s), texture2D(texture2, s), texture2D(texture3, s),
                  vec4(0.0), vec4(0.0), vec4(0.0)).a * c.z;
    // (the next bar's card and framing cut in on the bar line)
  } else if (state == 3) {
    // "own demoscene" jumps up from below and settles; in its second bar the
    // N starts to wobble, harder and harder, and on the last beat it pops off
    // like a bottle cap: up and away, spinning. Then the E drops in.
    float rise = exp(-st * 5.0) * cos(st * 9.0);
    vec2 off = wander * 0.5 + vec2(0.0, 160.0 * rise);
    float wob = smoothstep(BAR, 2.0 * BAR - BEAT, st);
    float spin = 0.12 * wob * sin(st * 38.0);
    float popT = max(st - (2.0 * BAR - BEAT), 0.0);
    float lift = 2600.0 * popT * popT + 900.0 * popT;
    spin += popT * 14.0;
    vec3 c = cardUv(img, off, 1.0, 0.0);
    vec3 n = letterUv(img, off, lift, spin);
    vec4 rest = texture2D(texture4, c.xy) * c.z;
    float notN = 1.0 - step(LETTER_BOX.x, c.x * CARD.x) * step(c.y * CARD.y, LETTER_BOX.w + 8.0);
    vec4 nLetter = texture2D(texture4, n.xy) * n.z;
    k = rest * notN;
    k = mix(k, nLetter, nLetter.a);
    // the E of "owe" drops in from above over the last quarter beat, to
    // land on the next downbeat
    float dropT = clamp((st - (2.0 * BAR - E_DROP)) / E_DROP, 0.0, 1.0);
    vec3 e = letterUv(img, off, 300.0 * (1.0 - dropT * dropT), 0.0);
    vec4 eLetter = texture2D(texture5, e.xy) * e.z * step(0.0001, dropT);
    k = mix(k, eLetter, eLetter.a);
    shadow = texture2D(texture4, c.xy - shadowStep).a * c.z * max(notN, nLetter.a);
    // the cap's pop: a ring of fizz where it left
    float r = length(img - off - LETTER_FOOT + vec2(0.0, 110.0));
    col += FIZZ * (1.0 - smoothstep(0.0, 18.0, abs(r - popT * 900.0))) * exp(-popT * 8.0) * step(0.0001, popT);
  } else {
    // 4: the E has dropped in and lands on the downbeat with a bounce and a
    // fizz burst; "owe demoscene" then holds. 5: it blushes orange.
    float bounce = state == 5 ? 0.0 : exp(-st * 8.0) * sin(st * 30.0);
    vec2 off = wander * 0.5 + vec2(0.0, 14.0 * bounce);
    vec3 c = cardUv(img, off, 1.0 + 0.04 * bounce, 0.0);
    vec4 owe = texture2D(texture5, c.xy) * c.z;
    shadow = texture2D(texture5, c.xy - shadowStep).a * c.z;
    if (state == 5) {
      // the orange rises through the letters from their feet over the first
      // beat, as soda poured into them (the white twin is read only while it
      // rises)
      float blush = smoothstep(0.0, BEAT, st);
      vec4 orange = texture2D(texture6, c.xy) * c.z;
      owe = c.y * CARD.y > mix(640.0, 80.0, blush) ? orange : owe;
      shadow = texture2D(texture6, c.xy - shadowStep).a * c.z;
    }
    k = owe;
    // the burst on the landing: fizz dots thrown out of the E's foot
    float since = state == 5 ? 9.0 : st;
    vec2 fd = img - off - LETTER_FOOT;
    float ang = fastAtan2(fd.y, fd.x);
    float ray = step(0.6, hash11(floor(ang * 6.0) + 3.0));
    float rr = length(fd);
    float dots = (1.0 - smoothstep(6.0, 10.0, abs(rr - since * 700.0 - 40.0))) * ray;
    col += FIZZ * dots * exp(-since * 4.0);
    col += FIZZ_CREAM * 0.35 * exp(-since * 10.0) * exp(-rr * 0.004);
  }
  // the shadow keeps the type clear of the bright soda, whatever its colour
  col *= 1.0 - 0.7 * clamp(shadow, 0.0, 1.0) * shown;
  col = overStraight(col, k, shown);

  // The nearest bubbles float in front of the words.
  col = mix(col, col * 1.1 + 0.06, b3.y * 0.3);
  col += FIZZ_CREAM * b3.x * 0.6;
  return col;
}

void main() {
  vec2 img = cardPixel();
  vec2 p = vec2(texCoord.x * resolution.x / resolution.y, texCoord.y);
  // The intro is event 1 (incoming while event 0 is in force), the outro
  // event 12 (incoming while event 11 is). Both tests are on "event" alone,
  // so that a program folded to one event holds only its own look and
  // reads only the cards its state shows.
  bool incoming = event == 0 || event == 11;
  vec3 col;
  if (event >= 11) col = outroScene(p, statetime, incoming);
  else col = introScene(img, p, statetime, incoming);
  gl_FragColor = vec4(clamp(col, 0.0, 1.0), 1.0);
}
