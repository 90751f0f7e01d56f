// fx_icecube: event 9, the bridge. Four ice cubes tumble in a glass of soda.
// Each cube is hit exactly (a ray against an oriented box, no marching): the
// view ray refracts in through the entry face and out through the exit face,
// then reads the soda behind it, so the background, its bubbles and the
// bubbles bend through the ice. Faces reflect a bright sky, the edges glow
// white, and every kick snaps each cube a quarter turn on and swells it a
// little (kickPulse's shape: most of the turn within 150 ms).
//
// The camera stands somewhere new on every bar line (a hard cut: another
// side of the glass, nearer or further, higher or lower) and tracks sideways
// round the glass through the bar.
//
// State 0 (bars 0..3): blue soda; while the event is still incoming the cubes
// drop in from above and land one after another on the downbeat.
// State 1 (bars 4..7): cut to warm orange soda with the cubes circling and
// "sprox fever" slammed down in front of them on the downbeat: the picture's
// letters recoloured cream to amber in a navy rim, so that they read on the
// orange; near the end a cue-mark burn flashes twice in the top-right corner
// like a reel change.
//
// Pass: texture0 bluebg, texture1 the "sprox fever" card, texture2 the burn
// mark, texture3 ballsbg (all repeat, so the card and mark mask themselves).
// Time: a beat is 0.48 statetime units; image rows run top-down while
// texCoord.y = 1 is the top of the screen, so image lookups flip v.

#pragma fold(state)

uniform int state;        // 0 or 1
uniform float statetime;  // 0.06 per tick since the state began

uniform sampler2D texture0, texture1, texture2, texture3;

// ---- Constants -----------------------------------------------------------------

const float STATE1_BEATS = 16.0;    // state 1 starts 4 bars into the event
const float CAM_Z = 4.0;            // camera on the z axis looking down -z
const float FOCAL = 1.8;            // image plane distance (field of view)
const float WALL_Z = -2.5;          // the back wall of the glass
const float ICE_IOR = 1.31;
const float FEVER_W = 1.25;         // the card picture's width in front, screen heights
const float BURN_R = 0.085;         // burn mark radius, screen heights
const float BURN_LEN = 0.30;        // each cue shows this long, statetime units
const float BURN_AT1 = 4.32;        // state-1 statetime of the first cue
const float BURN_AT2 = 6.24;        // ... and of the second

const vec3 ICE_TINT = vec3(0.86, 0.95, 1.0);

// ---- Helpers -------------------------------------------------------------------

mat3 rotation(vec3 a) {
  float cx = cos(a.x), sx = sin(a.x);
  float cy = cos(a.y), sy = sin(a.y);
  float cz = cos(a.z), sz = sin(a.z);
  mat3 rx = mat3(1.0, 0.0, 0.0, 0.0, cx, sx, 0.0, -sx, cx);
  mat3 ry = mat3(cy, 0.0, -sy, 0.0, 1.0, 0.0, sy, 0.0, cy);
  mat3 rz = mat3(cz, sz, 0.0, -sz, cz, 0.0, 0.0, 0.0, 1.0);
  return rz * ry * rx;
}

// Rising bubbles from cell hashing (one at most per cell); premultiplied.
vec4 bubbles(vec2 p, float scale, float speed, float seed, float density) {
  vec2 q = p * scale;
  float column = floor(q.x);
  q.y -= time * speed * (0.6 + 0.8 * hash21TwoLane(vec2(column, seed)));
  q.y += hash21TwoLane(vec2(seed, column)) * 5.0;
  vec2 cell = floor(q);
  float h = hash21TwoLane(cell + seed);
  if (h > density) return vec4(0.0);
  vec2 f = fract(q) - 0.5;
  float r = 0.08 + 0.2 * hash21TwoLane(cell + seed + 7.1);
  float room = 0.5 - r;
  vec2 off = (vec2(hash21TwoLane(cell + 3.3), hash21TwoLane(cell + 5.7)) - 0.5) * room;
  off.x += fastSin(time * 3.1 + h * 40.0) * 0.3 * room;
  float d = length(f - off);
  float aa = 0.06;
  float body = smoothstep(r, r - aa * r - 0.01, d);
  float rim = body * smoothstep(r * 0.5, r, d);
  float glint = smoothstep(r * 0.3, 0.0, length(f - off - vec2(-0.35, 0.35) * r));
  vec3 col = mix(POOL_LIGHT, FIZZ, 0.7) * rim + FIZZ * glint;
  return vec4(col, clamp(rim * 0.8 + glint, 0.0, 1.0));
}

// The light the ice reflects: bright from above, the soda's own colour below
// (warm: 0 blue .. 1 orange), so the cubes never turn grey in orange soda.
vec3 sky(vec3 d, float warm) {
  vec3 low = mix(POOL_DEEP, EMBER, warm);
  vec3 high = mix(POOL_LIGHT, AMBER, warm);
  vec3 c = mix(low, high, smoothstep(-0.6, 0.4, d.y));
  c = mix(c, FIZZ, smoothstep(0.35, 0.9, d.y));
  return c + FIZZ * 2.0 * pow60(max(dot(d, normalize(vec3(-0.5, 0.75, 0.45))), 0.0));
}

// The soda seen along a ray: the back wall of the glass with the soda picture,
// caustics and bubbles. warm: 0 blue soda .. 1 orange.
vec3 soda(vec3 ro, vec3 rd, float warm, float pulse) {
  float t = (WALL_Z - ro.z) / min(rd.z, -0.05);
  vec2 q = (ro + rd * t).xy;
  // only one of the two soda pictures shows at a time; the other reads a
  // fixed texel, which a software renderer serves from cache
  vec2 blueUv = vec2(q.x * 0.16 + 0.5, 0.5 - q.y * 0.16);
  vec2 ballsUv = vec2(q.x * 0.12 + 0.5, 0.5 - q.y * 0.12 + time * 0.03);
  vec3 blue = texture2D(texture0, warm < 1.0 ? blueUv : vec2(0.5)).rgb;
  vec3 balls = texture2D(texture3, warm > 0.0 ? ballsUv : vec2(0.5)).rgb;
  vec3 col = mix(blue, mix(balls, ORANGE, 0.35), warm);
  float c = fastSin(q.x * 5.0 + time * 1.1) + fastSin(q.y * 6.0 - time * 1.4) + fastSin((q.x + q.y) * 4.0 + time * 0.7);
  c = pow6(clamp(c / 3.0 * 0.5 + 0.5, 0.0, 1.0));
  col += mix(POOL_LIGHT, AMBER, warm) * c * (0.35 + 0.4 * pulse);
  vec4 b = bubbles(q, 2.2, 0.5, 4.2, 0.5);
  col = col * (1.0 - b.a * 0.7) + b.rgb * 0.7;

  return col;
}

// "sprox fever" in front, t statetime units after the slam (from the state's
// downbeat): big and falling onto the glass, then a kick on every beat. The
// picture's letters are amber to orange in a white rim over a navy shadow;
// here the fill turns cream (top) to amber (bottom) and the rim navy, about
// 9:1 or more in luminance, whatever lies behind.
vec3 fever(vec3 col, vec2 p, float t, float shape) {
  float slam = 1.0 + 0.5 * (1.0 - smoothstep(0.0, 0.12, t)) + 0.04 * shape;
  float w = FEVER_W * slam;
  vec2 cuv = vec2(p.x / w + 0.5, 0.5 - (p.y - 0.02) * PICTURE_ASPECT / w);
  vec2 inside = step(vec2(0.0), cuv) * step(cuv, vec2(1.0));
  float in2 = inside.x * inside.y;
  vec4 img = texture2D(texture1, in2 > 0.0 ? cuv : vec2(0.5));
  float fill = smoothstep(0.6, 0.9, img.r) * (1.0 - smoothstep(0.35, 0.75, img.b));
  float top = clamp((img.g - 0.478) / 0.212, 0.0, 1.0);
  vec3 ink = mix(NAVY, mix(AMBER, FIZZ, top), fill);
  return mix(col, ink, clamp(img.a, 0.0, 1.0) * in2 * step(0.0, t));
}

// ---- Scene ---------------------------------------------------------------------

void main() {
  vec2 uv = texCoord;
  float aspect = resolution.x / resolution.y;
  vec2 p = (uv - 0.5) * vec2(aspect, 1.0);

  float st = statetime;
  bool warmState = state >= 1;
  float eventBeat = st / BEAT + (warmState ? STATE1_BEATS : 0.0);
  float pulse = exp(-5.0 * fract(eventBeat));
  // the kick's shape (kickPulse over the event's beats): the tumble is its
  // running sum, a quarter turn that is mostly done 150 ms after the beat
  float shape = exp(-10.0 * fract(eventBeat));
  float kicks = floor(eventBeat) + 1.0 - shape;

  float warm = warmState ? 1.0 : 0.0;

  // The camera: a new stand on every bar line, alternating sides, then a
  // slow track round the glass through the bar; the first bar (and the
  // incoming event) head-on.
  float bar = max(floor(eventBeat / 4.0), 0.0);
  float inBar = max(eventBeat, 0.0) - bar * 4.0;
  float side = mod(bar, 2.0) < 0.5 ? -1.0 : 1.0;
  float first = bar < 0.5 ? 0.0 : 1.0;
  float hb = hash11(bar * 3.71 + 1.3);
  float hz = hash11(bar * 7.13 + 2.9);
  float yaw = first * side * (0.24 + 0.18 * hb) - side * 0.04 * inBar;
  float dist = CAM_Z - first * 0.5 * hz;
  vec3 ro = vec3(dist * sin(yaw), first * (hb - 0.5) * 1.2, dist * cos(yaw));
  // each stand looks past the middle to one side, some nearer (a longer lens)
  vec3 fw = normalize(vec3(-first * side * 0.5 * hz, 0.0, -0.3) - ro);
  vec3 rt = normalize(vec3(-fw.z, 0.0, fw.x));
  vec3 up = cross(rt, fw);
  vec3 rd = normalize(p.x * rt + p.y * up + FOCAL * (1.0 + first * 0.3 * hb) * fw);

  // Find the nearest cube along the view ray.
  float bestT = 1e9;
  vec3 bestC = vec3(0.0);
  vec3 bestH = vec3(1.0);
  mat3 bestR = mat3(1.0);
  for (int i = 0; i < 4; i++) {
    float fi = float(i);
    vec3 c;
    if (warmState) {
      float th = time * 0.55 + fi * PI * 0.5;
      c = vec3(2.05 * cos(th), 0.75 * sin(th * 2.0 + fi) - 0.1, 0.8 * sin(th) - 0.2);
    } else {
      // (spaced wider than the cubes' turning corners reach: they never
      // pass through each other)
      c = vec3(-1.575 + 1.05 * fi + 0.08 * sin(time * 0.5 + fi * 1.7),
               0.3 * sin(time * 0.8 + fi * 2.1) + (mod(fi, 2.0) < 0.5 ? 0.18 : -0.18),
               -0.3 * cos(time * 0.6 + fi));
      // drop in from above before the downbeat, landing one per half beat
      float land = st / BEAT - fi * 0.5;
      c.y += land < 0.0 ? land * land * 0.06 : 0.35 * exp(-3.0 * land) * abs(sin(land * 4.0));
    }
    vec3 h = vec3(0.3 + 0.04 * hash21TwoLane(vec2(fi, 2.0))) * (1.0 + 0.07 * shape * step(0.0, eventBeat));
    vec3 ang = vec3(0.3 + fi, 0.7 * fi, 1.3 * fi) + time * vec3(0.21, 0.33, 0.17) * (1.0 + 0.2 * fi)
             + kicks * vec3(mod(fi, 2.0) < 0.5 ? 0.5 : -0.4, 0.35, 0.25 * (fi - 1.5)) * PI * 0.5;
    mat3 R = rotation(ang);
    vec3 ob = (ro - c) * R;  // into box space (R is orthonormal: v * R = R^T v)
    vec3 db = rd * R;
    vec3 inv = 1.0 / db;
    vec3 t1 = (-h - ob) * inv;
    vec3 t2 = (h - ob) * inv;
    vec3 tn = min(t1, t2);
    vec3 tf = max(t1, t2);
    float tmin = max(max(tn.x, tn.y), tn.z);
    float tmax = min(min(tf.x, tf.y), tf.z);
    if (tmax > max(tmin, 0.0) && tmin < bestT) {
      bestT = tmin;
      bestC = c;
      bestH = h;
      bestR = R;
    }
  }

  // Shade the nearest cube (or none): the view ray refracts in and out, and
  // the soda is read once, along the ray that leaves the ice (or the view
  // ray itself where no cube is hit).
  bool hit = bestT < 1e8;
  mat3 R = bestR;
  vec3 h = bestH;
  vec3 ob = (ro - bestC) * R;
  vec3 db = rd * R;
  vec3 pb = ob + db * (hit ? bestT : 0.0);
  // entry face normal: the axis the entry point lies on
  vec3 ap = abs(pb) / h;
  vec3 nb;
  if (ap.x > ap.y && ap.x > ap.z) nb = vec3(sign(pb.x), 0.0, 0.0);
  else if (ap.y > ap.z) nb = vec3(0.0, sign(pb.y), 0.0);
  else nb = vec3(0.0, 0.0, sign(pb.z));
  // the two coordinates across the face, for the frosted edges
  vec3 across = ap * (vec3(1.0) - abs(nb));
  float edge = max(max(across.x, across.y), across.z);

  vec3 rr = refract(db, nb, 1.0 / ICE_IOR);
  vec3 tt = (sign(rr) * h - pb) / rr;
  float tex = min(min(tt.x, tt.y), tt.z);
  vec3 pe = pb + rr * tex;
  vec3 ne;
  if (tt.x <= tt.y && tt.x <= tt.z) ne = vec3(sign(rr.x), 0.0, 0.0);
  else if (tt.y <= tt.z) ne = vec3(0.0, sign(rr.y), 0.0);
  else ne = vec3(0.0, 0.0, sign(rr.z));
  vec3 ro2 = refract(rr, -ne, ICE_IOR);
  if (dot(ro2, ro2) < 0.01) ro2 = reflect(rr, -ne);  // total internal reflection

  vec3 sro = hit ? bestC + R * pe : ro;
  vec3 srd = hit ? R * ro2 : rd;
  vec3 col = soda(sro, srd, warm, pulse);
  if (hit) {
    vec3 nw = R * nb;
    // inner frost: faint veils that follow the box coordinates
    float frost = 0.5 + 0.5 * fastSin(dot(pb, vec3(7.0, 5.0, 9.0)) + fastSin(pb.y * 13.0) * 1.5);
    vec3 inside = mix(col, ICE_TINT, (0.18 + 0.12 * frost) * (1.0 - 0.5 * warm)) * mix(ICE_TINT, vec3(1.0), warm);
    float fres = 0.06 + 0.94 * pow4(1.0 - max(dot(-rd, nw), 0.0));
    col = mix(inside, sky(reflect(rd, nw), warm), fres);
    col += FIZZ * (0.55 * smoothstep(0.8, 0.98, edge) + 0.25 * pulse * smoothstep(0.6, 1.0, edge));
    col = mix(col, FIZZ, 0.15 * smoothstep(0.93, 1.0, edge));
  }

  // Fizz in front: small fast bubbles, then a soft light from the surface.
  vec4 fz = bubbles(p, 14.0, 1.1, 9.7, 0.35);
  col = col * (1.0 - fz.a * 0.6) + fz.rgb * 0.6;
  col += mix(POOL_LIGHT, AMBER, warm) * 0.25 * smoothstep(0.1, 0.6, p.y);
  col *= smoothstep(1.35, 0.35, length(p * vec2(0.9, 1.1))) * 0.35 + 0.65;

  // the cut into the orange soda lands with a white splash
  if (warmState) col += FIZZ * 0.8 * exp(-10.0 * max(st, 0.0));

  if (warmState) col = fever(col, p, st, shape);

  // Reel-change cue: the burn mark, twice, in the top-right corner.
  if (warmState) {
    float on1 = step(BURN_AT1, st) * step(st, BURN_AT1 + BURN_LEN);
    float on2 = step(BURN_AT2, st) * step(st, BURN_AT2 + BURN_LEN);
    float on = max(on1, on2);
    if (on > 0.0) {
      vec2 centre = vec2(0.5 * aspect - 0.17, 0.5 - 0.15);
      vec2 buv = (p - centre) / (2.0 * BURN_R) + 0.5;
      vec2 inside = step(vec2(0.0), buv) * step(buv, vec2(1.0));
      float in2 = inside.x * inside.y;
      vec4 burn = texture2D(texture2, in2 > 0.0 ? vec2(buv.x, 1.0 - buv.y) : vec2(0.5));
      col = mix(col, burn.rgb, clamp(burn.a, 0.0, 1.0) * in2);
    }
  }
  gl_FragColor = vec4(col, 1.0);
}
