// fx_intro: big word cards over a glass of rising soda bubbles. It serves two
// events with different images:
//
//   event 1 (the intro): the title cards "Keldrun", "serve", "fizzing" and
//     "Haldex 2023", one per state (two bars each), slamming in on the state's
//     first beat with an elastic settle, an echo on every half-time beat, and
//     a quick exit before the next; the bubbles thicken and the light opens
//     up with every card, as the music's filter does.
//   event 12 (the outro): "own" three times, one bar each, in a stutter; then
//     "own demoscene" rising in, which turns into "owe demoscene" (a cross-fade
//     between the two lined-up cards changes the one letter) and finally into
//     its orange twin, while the bubbles slow down and the light cools.
//
// Both rows bind the background (introbg.png) on texture0 and the cards from
// texture1 on; event 1 adds the mono fizz texture on texture5 (which is a card
// in event 12, so it is read only in event 1).
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
// scrolls upwards. Returns (rim and highlight, body coverage).
vec2 bubbles(vec2 p, float cells, float speed, float t, float density, float seed) {
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

// Composites a card (straight alpha) over the picture with an extra opacity.
vec3 overStraight(vec3 col, vec4 k, float alpha) {
  return mix(col, k.rgb, clamp(k.a * alpha, 0.0, 1.0));
}

void main() {
  vec2 img = cardPixel();
  vec2 p = vec2(texCoord.x * resolution.x / resolution.y, texCoord.y);
  float st = statetime;
  // The intro is event 1 (incoming while event 0 is in force), the outro
  // event 12 (incoming while event 11 is). Both tests are on "event" alone,
  // so that a program folded to one event holds only its own look and
  // reads only the cards its state shows.
  bool incoming = event == 0 || event == 11;
  bool outro = event >= 11;
  float t = time;

  // How far the event has run, 0..1 (0 while it is only incoming): the intro
  // opens up towards its end, the outro winds down.
  float stateStart = 0.0;
  if (outro) {
    if (state == 1) stateStart = 1.0;
    if (state == 2) stateStart = 2.0;
    if (state == 3) stateStart = 3.0;
    if (state == 4) stateStart = 5.0;
    if (state == 5) stateStart = 7.0;
  } else {
    stateStart = 2.0 * float(state);
  }
  float run = incoming ? 0.0 : clamp((stateStart * BAR + st) / (8.0 * BAR), 0.0, 1.0);

  float beat = fract(st / BEAT);
  float halfbeat = fract(st / (2.0 * BEAT));
  float pulse = exp(-beat * 5.0);
  if (incoming) pulse *= 0.3;

  // ---- Background: the soda, slowly breathing --------------------------------
  float zoom = 1.06 + 0.03 * sin(t * 0.23);
  vec2 buv = 0.5 + (img / CARD - 0.5) / zoom + vec2(0.01 * sin(t * 0.17), 0.008 * sin(t * 0.13));
  vec3 col = texture2D(texture0, buv).rgb;
  float open = outro ? 1.0 - 0.45 * run : 0.55 + 0.45 * run;
  col *= 0.75 + 0.35 * open;

  // Light from below and a soft glow behind the words, on the beat.
  vec2 cp = p - vec2(0.5 * resolution.x / resolution.y, 0.5);
  float glow = exp(-dot(cp, cp) * 3.0);
  vec3 glowc = outro ? mix(AMBER, POOL_LIGHT, run) : mix(ORANGE_2DP, AMBER, run);
  col += glowc * glow * (0.12 + 0.18 * pulse) * open;
  col += FIZZ_CREAM * 0.08 * smoothstep(0.45, 0.0, p.y) * open;

  // (The mono fizz haze of the intro is read with the cards below: it is on
  // texture5, a card in the outro.)

  // ---- The cards ---------------------------------------------------------------
  // Two layers at most, the first laid under the second: (offset, scale,
  // angle, opacity) and the image each shows. Every image is read at one or
  // two places only, whichever state is drawn: a software renderer pays for
  // a texture read in a branch not taken as well.
  vec2 wander = vec2(8.0 * sin(t * 0.9), 6.0 * sin(t * 1.3));
  float tilt = 0.025 * sin(t * 0.7);
  vec2 off1 = wander, off2 = wander;
  float scale1 = 1.0, scale2 = 1.0, angle1 = 0.0, angle2 = 0.0, alpha1 = 0.0, alpha2 = 0.0;
  int image1 = 1, image2 = 1;
  if (!incoming) {
    if (!outro) {
      // Intro: one card per two-bar state, with its echo under it; the last
      // one is still on screen when the flash into the title takes over.
      vec2 e = slam(st, 2.0 * BAR, 0.22, state < 3);
      float echo = halfbeat;
      image1 = image2 = state < 3 ? state + 1 : 4;
      angle1 = angle2 = (image1 == 1 || image1 == 3) ? tilt : -tilt;
      scale1 = e.x * (1.0 + 0.3 * echo);
      alpha1 = 0.35 * (1.0 - echo) * e.y * smoothstep(0.0, 0.3, st);
      scale2 = e.x;
      alpha2 = e.y;
    } else {
      float pscale = 1.0 + 0.03 * pulse;
      if (state <= 2) {
        // "own", "own", "own": a stutter, one bar each, each kicked the other way.
        vec2 e = slam(st, BAR, 0.12, true);
        float kick = (state == 1 ? -1.0 : 1.0) * 0.09 * exp(-st * 7.0);
        image1 = image2 = state + 1;
        angle1 = angle2 = kick;
        scale1 = e.x * (1.0 + 0.25 * beat);
        alpha1 = 0.3 * (1.0 - beat) * e.y * smoothstep(0.0, 0.2, st);
        scale2 = e.x * pscale;
        alpha2 = e.y;
      } else {
        // 3: "own demoscene" jumps up from below and settles with a soft
        // bounce; 4: one letter changes, "own" becomes "owe" over the first
        // beat; 5: ...and it blushes orange while the sea takes the picture.
        float x = smoothstep(0.0, BEAT, st);
        float rise = state == 3 ? exp(-st * 5.0) * cos(st * 9.0) : 0.0;
        off1 = off2 = wander * 0.5 + vec2(0.0, 160.0 * rise);
        scale1 = scale2 = pscale;
        angle1 = angle2 = tilt * 0.5;
        image1 = state == 5 ? 5 : 4;
        image2 = state == 3 ? 4 : image1 + 1;
        alpha1 = state == 3 ? 0.0 : 1.0 - x;
        alpha2 = state == 3 ? 1.0 : x;
      }
    }
  }
  vec3 c1 = cardUv(img, off1, scale1, angle1);
  vec3 c2 = cardUv(img, off2, scale2, angle2);
  // texture5 is the mono haze in the intro, a card of the outro's second
  // layer in state 4 and of its first in state 5.
  vec2 monoUv = vec2(img.x / CARD.y * 0.7, img.y / CARD.y * 0.7 + t * 0.05);
  vec4 t5 = texture2D(texture5, !outro ? monoUv : (image1 == 5 ? c1.xy : c2.xy));
  vec4 t6 = texture2D(texture6, c2.xy);
  vec4 k1 = pick(image1, texture2D(texture1, c1.xy), texture2D(texture2, c1.xy), texture2D(texture3, c1.xy),
                 texture2D(texture4, c1.xy), t5, t6);
  vec4 k2 = pick(image2, texture2D(texture1, c2.xy), texture2D(texture2, c2.xy), texture2D(texture3, c2.xy),
                 texture2D(texture4, c2.xy), t5, t6);

  if (!outro) {
    // The mono fizz haze drifts up through the intro.
    col += FIZZ_CREAM * t5.r * 0.1 * (0.4 + 0.6 * run);
  }

  // ---- Bubbles: three layers, nearer ones larger and faster ------------------
  float speed = outro ? 1.0 - 0.55 * run : 0.8 + 0.6 * run;
  float dens = outro ? 0.45 - 0.2 * run : 0.3 + 0.25 * run;
  vec2 b1 = bubbles(p, 14.0, 1.6 * speed, t, dens, 1.0);
  vec2 b2 = bubbles(p + vec2(0.37, 0.0), 8.0, 1.3 * speed, t, dens * 0.8, 7.0);
  vec2 b3 = bubbles(p + vec2(0.11, 0.0), 4.5, 0.9 * speed, t, dens * 0.55, 13.0);
  col = mix(col, col * 1.15 + 0.05, (b1.y + b2.y) * 0.25);
  col += FIZZ_CREAM * (b1.x * 0.35 + b2.x * 0.5);

  vec3 cards = col;
  if (!incoming) {
    cards = overStraight(cards, k1 * c1.z, alpha1);
    cards = overStraight(cards, k2 * c2.z, alpha2);
  }
  col = cards;

  // The nearest bubbles float in front of the words.
  col = mix(col, col * 1.1 + 0.06, b3.y * 0.3);
  col += FIZZ_CREAM * b3.x * 0.6;

  gl_FragColor = vec4(clamp(col, 0.0, 1.0), 1.0);
}
