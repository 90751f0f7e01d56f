// fx_empty: the quiet end of the show on a dark stage. It serves two events
// with different images:
//
//   event 13 (the closing card, 4 bars, one state): the closing badge
//     (closing0.png, the upper part of the screen) floats in on a slow
//     swell of light, already while the sea transition pours it in; at the
//     event's start the words of text_closing.png (the lower third) are
//     written in from left to right. A glint crosses the badge once a bar,
//     the badge nods on the kick, bubbles drift up and a beam of light
//     sweeps the stage. The camera cuts to a new stand on every bar line
//     (head-on, closer and from the right, then from the left, then a slow
//     push in) and tracks sideways through the bar; the stage lies in depth
//     layers (the back wall and its light, two layers of bubbles, the badge,
//     the words in front), which the track moves apart. Images: texture0 the black
//     background, texture1 closing0.png, texture2 text_closing.png.
//   event 14 (the last three bars, the last chord): three dots. In the
//     first bar (state 0) they pop up one per beat and bob like a "still
//     typing" sign, in a warm glow that the chord lights; through the
//     second (state 1 from here on) they bob on while the chord is held;
//     in the third the chord is let go and fades out, and with it the glow
//     and the dots, while the final dissolve fizzes what is left away into
//     black. The last beat is black (the song is silent by then). Images:
//     texture0..2 text_dots.png, one copy per dot; each dot is cut out of
//     its own copy.
//
// The incoming event is drawn with state 0 and a negative "statetime", while
// "event" still names the event in force: a negative statetime means the
// event after `event`. Event 14 as incoming is plain black, so the closing
// card dissolves to black and the dots appear on the beat; the last picture
// drawn for the incoming event, which the final dissolve of the show blends
// towards, is black as well.
//
// Glossary: img = pixel position in the pictures' own space (1280 x 720, rows
// from the top); st = statetime (0.06 a tick, 0.48 a beat, 1.92 a bar).

#pragma fold(event)

uniform int event;           // the event in force
uniform int state;           // state of the drawn event
uniform float statetime;     // 0.06 per tick since the state began
uniform sampler2D texture0;  // event 13: black background   event 14: dots (first)
uniform sampler2D texture1;  // event 13: the closing badge  event 14: dots (second)
uniform sampler2D texture2;  // event 13: the closing words  event 14: dots (third)

// ---- Constants ------------------------------------------------------------------
const vec2 CARD = PICTURE;    // every picture here is full-screen, pixels
const float DOT_X0 = 560.0;               // centre of the first dot in text_dots.png, pixels
const float DOT_STEP = 80.0;              // spacing of the dots, pixels
const float DOT_Y = 360.0;                // the dots' middle line, pixels
const float DOT_BOX = 38.0;               // half-size of one dot with its shadow, pixels
const float DOT_ZOOM = 1.6;               // the dots are shown this much larger than drawn
const float WRITE_FROM = 0.0;             // statetime at which the closing words start to appear
const float WRITE_LEN = 1.44;             // time the writing takes (three beats)
const float LET_GO = 2.0 * BAR;           // event 14: the chord is let go and the light starts to fall
const float LIGHT_OUT = 1.26;             // event 14: how long the light takes to go out after LET_GO

// ---- Internal functions ---------------------------------------------------------
// One sparse layer of slow bubbles; returns (rim and highlight, body).
vec2 bubbles(vec2 p, float cells, float speed, float t, float density, float seed) {
  vec2 q = p * cells;
  q.y -= t * speed;
  vec2 id = floor(q);
  float h = hash21(id + seed);
  if (h > density) return vec2(0.0);
  float r = 0.1 + 0.18 * hash21(id + seed + 17.3);
  float aa = cells / resolution.y * 1.5;
  float m = 0.5 - r - aa;
  vec2 c = vec2(0.5 + (hash21(id + seed + 5.1) - 0.5) * 1.4 * m + 0.3 * m * sin(t + h * 30.0),
                0.5 + (h / density - 0.5) * 2.0 * m);
  vec2 f = fract(q) - c;
  float d = length(f);
  float disc = smoothstep(r + aa, r - aa, d);
  float rim = disc * smoothstep(r * 0.6, r, d);
  float glint = smoothstep(r * 0.32, r * 0.12, length(f - vec2(-0.38, 0.38) * r));
  return vec2(rim * 0.75 + glint, disc);
}

// A full-screen picture sampled at img, transparent outside it.
vec4 pic(sampler2D s, vec2 img) {
  vec2 uv = img / CARD;
  float inside = step(0.0, uv.x) * step(uv.x, 1.0) * step(0.0, uv.y) * step(uv.y, 1.0);
  return texture2D(s, uv) * inside;
}

// Dot i of text_dots.png, shown DOT_ZOOM times larger (spacing included,
// about the screen's centre), scaled about its own centre and lifted by
// `lift` pixels; only that dot's box is read, so the copies do not repeat
// each other.
vec4 dot3(sampler2D s, vec2 img, float i, float scale, float lift) {
  vec2 c = vec2(DOT_X0 + DOT_STEP * i, DOT_Y);
  vec2 onscreen = 0.5 * CARD + (c - 0.5 * CARD) * DOT_ZOOM;
  vec2 d = (img - onscreen + vec2(0.0, lift)) / max(scale * DOT_ZOOM, 0.001);
  if (abs(d.x) > DOT_BOX || abs(d.y) > DOT_BOX) return vec4(0.0);
  return texture2D(s, (c + d) / CARD);
}

// ---- The closing card (event 13) ----------------------------------------------------
// The camera of bar n at u (0..1 through the bar): (sideways offset in
// pixels at depth 1, zoom at depth 1, height offset in pixels); the
// incoming event is framed as bar 0, with u below 0.
vec4 closingCamera(float n, float u) {
  if (n < 0.5) return vec4(-40.0 + 80.0 * u, 1.0, 0.0, 0.0);
  if (n < 1.5) return vec4(50.0 - 90.0 * u, 1.12, -30.0, 0.0);
  if (n < 2.5) return vec4(-70.0 + 100.0 * u, 1.06, 0.0, 0.0);
  return vec4(0.0, 1.0 + 0.05 * u, 0.0, 0.0);
}

// Where a layer at depth d (0 far .. 1 the badge .. 1.3 the words) is read
// for the picture pixel img under the camera cam: the zoom about the
// frame's middle and the track grow with the depth.
vec2 layerPixel(vec2 img, vec4 cam, float d) {
  vec2 c = vec2(640.0, 330.0);
  return c + (img - c) / (1.0 + (cam.y - 1.0) * d) - vec2(cam.x, cam.z) * d;
}

// The bubbles' and the beam's point (aspectPoint's units from the bottom
// left) of a picture pixel.
vec2 stagePoint(vec2 img) { return vec2(img.x, CARD.y - img.y) / CARD.y; }

vec3 closing(vec2 screenImg, float t, float st) {
  float bars = floor(max(st, 0.0) / BAR);
  // (while the sea pours the card in, bar 0's track runs on from further back)
  vec4 cam = closingCamera(bars, st < 0.0 ? st / (2.0 * BAR) : fract(st / BAR));
  vec2 img = layerPixel(screenImg, cam, 0.3);
  vec2 p = stagePoint(img);
  vec3 col = texture2D(texture0, img / CARD).rgb;

  // A swell of light behind the badge, breathing once a bar.
  float barph = fract(st / BAR);
  float swell = smoothstep(-3.84, 0.0, st);
  vec2 gp = (img - vec2(640.0, 270.0)) / CARD.y;
  col += ORANGE_2DP * exp(-dot(gp, gp) * 5.0) * (0.22 + 0.06 * cos(barph * 6.2831853)) * swell;
  col += POOL_DEEP * smoothstep(0.5, 0.0, p.y) * 0.35 * swell;

  // Bubbles rising behind everything, two layers, and a soft beam of light
  // sweeping slowly across the stage.
  vec2 b = bubbles(stagePoint(layerPixel(screenImg, cam, 0.55)), 7.0, 0.8, t, 0.3, 3.0);
  vec2 b2 = bubbles(stagePoint(layerPixel(screenImg, cam, 0.8)) + vec2(0.31, 0.0), 4.0, 0.55, t, 0.22, 9.0);
  col = mix(col, col + POOL_LIGHT * 0.1, b.y + b2.y);
  col += FIZZ_CREAM * (b.x * 0.3 + b2.x * 0.35);
  float beam = exp(-pow3(abs(p.x - 0.89 - 0.7 * sin(t * 0.7) - 0.35 * (p.y - 0.5))) * 40.0);
  col += POOL_LIGHT * 0.07 * beam * swell;

  // The badge grows in while the sea pours it in, then floats.
  float grow = (0.92 + 0.08 * smoothstep(-3.84, 0.4, st)) * (1.0 + 0.03 * kickPulse(st));
  vec2 bc = vec2(640.0, 360.0 + 7.0 * sin(t * 0.8));
  vec2 bimg = bc + (layerPixel(screenImg, cam, 1.0) - bc) / grow;
  vec4 badge = pic(texture1, bimg);
  // The glint: a slanted band crossing the badge during the first beat of each bar.
  float band = (bimg.x + 0.6 * bimg.y) / 1700.0;
  float pos = barph * 4.0 - 0.6;
  float glint = smoothstep(0.06, 0.0, abs(band - pos));
  vec3 bcol = badge.rgb + FIZZ_CREAM * glint * 0.6;
  col = mix(col, bcol, badge.a * smoothstep(-3.84, -2.4, st));

  // The words are written in from left to right, rising a little.
  float w = clamp((st - WRITE_FROM) / WRITE_LEN, 0.0, 1.0);
  float edge = mix(-120.0, 1400.0, w);
  vec2 wimg = layerPixel(screenImg, cam, 1.3);
  float reveal = smoothstep(edge, edge - 120.0, wimg.x);
  vec4 words = pic(texture2, wimg + vec2(0.0, 14.0 * (1.0 - w) * (1.0 - w)));
  col = mix(col, words.rgb, words.a * reveal);
  return col;
}

// ---- The dots (event 14) ------------------------------------------------------------
// The chord's light, 0..1 over the event's time u: it swells with the strike,
// settles, and after LET_GO falls the way the music fades out (a raised
// cosine), a little ahead of it, so the picture is dark when the song is.
float chordlight(float u) {
  float strike = 0.85 + 0.15 * exp(-u * 2.5);
  float gone = clamp((u - LET_GO) / LIGHT_OUT, 0.0, 1.0);
  return strike * (0.5 + 0.5 * cos(PI * gone)) * smoothstep(0.0, 0.12, u);
}

vec3 dots(vec2 img, vec2 p, float t, float st) {
  float u = state >= 1 ? BAR + st : st;   // time since the event began
  float light = chordlight(u);
  float beat = fract(u / BEAT);

  // Deep blue behind everything, and a warm soda glow behind the dots that
  // breathes on the beat.
  vec2 cp = (img - 0.5 * CARD) / CARD.y;
  vec3 col = POOL_DEEP * 0.3 * exp(-dot(cp, cp) * 3.0) * light;
  float breathe = 0.9 + 0.1 * exp(-beat * 4.0);
  vec2 gp = cp * vec2(0.75, 1.5);
  float core = exp(-dot(gp, gp) * 14.0);
  col += mix(ORANGE, AMBER, 0.4 * core) * (0.42 * core + 0.16 * exp(-dot(gp, gp) * 3.5)) * breathe * light;

  // A few slow bubbles drift up through the light.
  vec2 b = bubbles(p, 6.0, 0.3, t, 0.2, 11.0);
  col += FIZZ_CREAM * b.x * 0.22 * light;

  float calm = smoothstep(BAR, LET_GO + LIGHT_OUT, u);
  for (int k = 0; k < 3; k++) {
    float i = float(k);
    float born = u - i * BEAT;                          // dot i pops on beat i
    float pop = born < 0.0 ? 0.0 : 1.0 + 0.45 * exp(-born * 10.0) * cos(born * 26.0) - 0.45 * exp(-born * 60.0);
    float scale = pop * (0.75 + 0.25 * light);
    float lift = 14.0 * max(0.0, sin(u * 6.5449847 - i * 0.9)) * (1.0 - 0.7 * calm);  // a bob every two beats
    vec4 d;
    if (k == 0) d = dot3(texture0, img, i, scale, lift);
    else if (k == 1) d = dot3(texture1, img, i, scale, lift);
    else d = dot3(texture2, img, i, scale, lift);
    col = mix(col, d.rgb * light, d.a * step(0.0, born));
  }
  return col;
}

void main() {
  vec2 img = cardPixel();
  vec2 p = vec2(texCoord.x * resolution.x / resolution.y, texCoord.y);
  float st = statetime;
  bool incoming = st < 0.0;
  vec3 col = vec3(0.0);
  // Each test below is on "event" alone where it can be, so that a program
  // folded to one event holds only that event's picture. Event 14 is
  // never drawn as incoming (nothing follows it), and event 13's incoming
  // event is 14, which is black.
  if (event == 14) {
    col = dots(img, p, time, st);
  } else if (event == 13) {
    if (!incoming) col = closing(img, time, st);
  } else {
    col = closing(img, time, st);
  }
  gl_FragColor = vec4(clamp(col, 0.0, 1.0), 1.0);
}
