// fx_straw3: event 3, the straw. A glass of soda and a bendy striped straw
// standing in it, the soda rushing up the straw in slugs that surge on every
// beat while the glass drains one step on every bar line.
// State 0 (bars 0-3): the camera, close in, travels up along the straw a
// stage a bar: the glass, the lower leg, the bend (passed on the bar line of
// bar 2), the tip. State 1 (bars 4-7): the wide shot, and on the empty side
// the word SLURP pops up letter by letter every bar. The straw flexes on
// every downbeat and sprays bubbles from its tip on the snare (beats 2, 4).
//
// Drawn in 2D: the straw is a centre line made of a segment, a circular
// arc and a segment; a pixel finds its nearest point on it, which gives the
// distance along the straw (s) and across it (u), and the tube is shaded
// as a cylinder from u. It is worked out in a mirrored space (the line
// bends left there), so that on screen it bends right, away from the glass.
//
// Images: texture0 ballsbg (repeats), the backdrop, toned to pool blue so
// that the soda is the only orange; it shows through the clear plastic.
// Time: 0.48 statetime units = one beat; "time" (seconds of music) drives the
// flow and the sway. The incoming event (negative statetime, during the sea
// transition) is state 0 and uses the same clock.

#pragma fold(state)

uniform int state;
uniform float statetime;
uniform sampler2D texture0;

// ---- Constants ----------------------------------------------------------------
const vec2 GLASS_MIN = vec2(-0.74, -0.54);   // the glass's inside, screen heights (centred)
const vec2 GLASS_MAX = vec2(-0.3, 0.06);
const vec2 STRAW_BASE = vec2(-0.46, -0.48);  // the straw's foot, in the glass
const float STRAW_LEG = 0.62;                // its lower leg
const float STRAW_BEND_R = 0.13;             // the elbow's radius
const float STRAW_TIP = 0.5;                 // its upper leg
const float STRAW_W = 0.045;                 // the tube's radius

// ---- Helpers ------------------------------------------------------------------
// Nearest point of a straw's centre line: a leg from `base` straight up for
// `leg`, an arc of radius `bendR` turning left by `bend` radians, then a
// second leg of length STRAW_TIP. Returns (s along the line, u across it: positive
// on the right, the section: 0 leg, 1 elbow, 2 upper leg).
vec3 strawFrame(vec2 p, vec2 base, float leg, float bendR, float bend) {
    // Lower leg.
    vec2 q = p - base;
    float t = clamp(q.y, -2.0, leg);
    float d0 = length(q - vec2(0.0, t));
    vec3 best = vec3(t, q.x, 0.0);
    float bestD = d0;
    // Elbow: centre to the left of the leg's top.
    vec2 c = base + vec2(-bendR, leg);
    vec2 pc = p - c;
    float ang = fastAtan2(pc.y, pc.x);
    float a = clamp(ang, 0.0, bend);
    vec2 onArc = c + bendR * vec2(fastCos(a), fastSin(a));
    float d1 = length(p - onArc);
    if (d1 < bestD) {
        bestD = d1;
        best = vec3(leg + bendR * a, length(pc) - bendR, 1.0);
    }
    // Upper leg from the end of the arc.
    vec2 e = c + bendR * vec2(cos(bend), sin(bend));
    vec2 dir = vec2(-sin(bend), cos(bend));
    vec2 pe = p - e;
    float t2 = clamp(dot(pe, dir), 0.0, STRAW_TIP);
    float d2 = length(pe - dir * t2);
    if (d2 < bestD) {
        // cut off square at the tip: nothing past it
        float across = dot(pe, dir) > STRAW_TIP ? 9.0 : dot(pe, vec2(dir.y, -dir.x));
        best = vec3(leg + bendR * bend + t2, across, 2.0);
    }
    return best;
}

// Shades one straw over `under`. `w` is the tube radius, `stripe` the colour
// of its stripes, `flow` how far the soda has travelled (same units as s).
vec3 straw(vec3 under, vec3 frame, float w, vec3 stripe, float flow, float kick) {
    float s = frame.x;
    float u = frame.y;
    // The elbow is ribbed: its radius ripples along s.
    float ribs = frame.z == 1.0 ? sin(s * 160.0) : 0.0;
    float wr = w * (1.0 + 0.06 * ribs);
    float aa = 1.5 / resolution.y;
    float cover = 1.0 - smoothstep(wr - aa, wr, abs(u));
    float v = clamp(u / wr, -0.999, 0.999);
    float nz = sqrt(1.0 - v * v);
    float around = fastAsin(v);                   // angle around the tube, -pi/2..pi/2

    // Inside: soda slugs separated by air, moving up; fizz specks ride along.
    float along = s - flow;
    float slug = smoothstep(0.0, 0.04, fract(along * 1.3)) * (1.0 - smoothstep(0.62, 0.68, fract(along * 1.3)));
    vec2 fc = vec2(along * 38.0, v * 3.0);
    vec2 cell = floor(fc);
    vec2 ff = fract(fc) - 0.5;
    float speck = step(0.55, hash21(cell)) * (1.0 - smoothstep(0.12, 0.3, length(ff)));
    vec3 soda = mix(ORANGE, AMBER, 0.5 + 0.5 * v) * (0.75 + 0.35 * nz);
    soda += FIZZ * speck * 0.7;
    soda += FIZZ * 0.25 * kick * slug;
    vec3 air = mix(under, FIZZ, 0.18) * (0.85 + 0.15 * nz);
    vec3 inside = mix(air, soda, slug);

    // The wall: helical stripes wrapped around the tube, white plastic between.
    float phase = s * 5.5 + around / PI * 0.9;
    float band = smoothstep(0.45, 0.5, fract(phase)) * (1.0 - smoothstep(0.95, 1.0, fract(phase)));
    vec3 wall = mix(inside, stripe * (0.55 + 0.55 * nz), band * 0.92);
    // Clear plastic looks denser at the silhouette.
    wall = mix(wall, FIZZ * 0.9, pow3(1.0 - nz) * 0.55);
    if (frame.z == 1.0) wall *= 0.86 + 0.14 * ribs;
    // Light from the upper left: a long glossy streak and a soft rim.
    float glint = pow3(max(0.0, 1.0 - abs(v + 0.45) * 5.0));
    wall += FIZZ * glint * 0.75;
    wall *= 0.8 + 0.2 * nz;
    return mix(under, wall, cover);
}

// ---- The glass ------------------------------------------------------------------
// The soda's level in the glass at bar b of the event (fractional bars): a
// step down on every bar line, with a slosh that dies away.
float glassLevel(float b, float x) {
    float bar = floor(max(b, 0.0));
    float inBar = max(b, 0.0) - bar;
    float level = GLASS_MAX.y - 0.07 - 0.062 * (bar + smoothstep(0.0, 0.15, inBar) * step(0.0, b));
    return level + 0.018 * exp(-inBar * 5.0) * fastSin(x * 22.0 - inBar * 14.0) + 0.004 * fastSin(x * 40.0 + time * 3.0);
}

// The glass over the backdrop: its walls, the soda below its level with
// bubbles rising through it, the foam on top.
vec3 glass(vec3 col, vec2 p, float b) {
    vec2 c = 0.5 * (GLASS_MIN + GLASS_MAX);
    vec2 h = 0.5 * (GLASS_MAX - GLASS_MIN);
    vec2 d = abs(p - c) - h;
    float inside = step(max(d.x, d.y), 0.0);
    float wall = (1.0 - smoothstep(0.004, 0.012, abs(max(d.x, d.y)))) * step(p.y, GLASS_MAX.y + 0.012);
    float level = glassLevel(b, p.x);
    float depth = level - p.y;
    float inSoda = smoothstep(-0.003, 0.003, depth) * inside;
    vec3 soda = mix(AMBER, ORANGE, smoothstep(0.0, 0.3, depth)) * (0.8 + 0.2 * exp(-depth * 8.0));
    // bubbles rising in the soda
    vec2 q = vec2(p.x * 30.0, p.y * 30.0 - time * 5.0);
    vec2 cell = floor(q);
    float bub = step(0.7, hash21(cell)) * (1.0 - smoothstep(0.16, 0.26, length(fract(q) - 0.5)));
    soda += FIZZ * bub * 0.5;
    col = mix(col, col * 0.8 + POOL_LIGHT * 0.08, inside);   // the glass tints what is behind it
    col = mix(col, soda, inSoda);
    col = mix(col, FIZZ_CREAM, exp(-abs(depth) * 300.0) * inside * 0.9);   // foam
    // the walls: bright edges and a long reflection down the left side
    col = mix(col, FIZZ, wall * 0.75);
    col += FIZZ * 0.3 * exp(-abs(p.x - GLASS_MIN.x - 0.04) * 120.0) * inside;
    return col;
}

// ---- Kinetic type ---------------------------------------------------------------
// One stroke of a letter: the distance from p to the capsule from a to b.
float stroke(vec2 p, vec2 a, vec2 b) {
    vec2 pa = p - a, ba = b - a;
    return length(pa - ba * clamp(dot(pa, ba) / dot(ba, ba), 0.0, 1.0));
}

// The distance to letter n of SLURP, drawn in strokes on a 2 x 4 grid (p in
// grid units, the letter's lower left at 0).
float letter(vec2 p, int n) {
    float d = 9.0;
    if (n == 0) {            // S
        d = min(d, stroke(p, vec2(2.0, 4.0), vec2(0.0, 4.0)));
        d = min(d, stroke(p, vec2(0.0, 4.0), vec2(0.0, 2.0)));
        d = min(d, stroke(p, vec2(0.0, 2.0), vec2(2.0, 2.0)));
        d = min(d, stroke(p, vec2(2.0, 2.0), vec2(2.0, 0.0)));
        d = min(d, stroke(p, vec2(2.0, 0.0), vec2(0.0, 0.0)));
    } else if (n == 1) {     // L
        d = min(d, stroke(p, vec2(0.0, 4.0), vec2(0.0, 0.0)));
        d = min(d, stroke(p, vec2(0.0, 0.0), vec2(2.0, 0.0)));
    } else if (n == 2) {     // U
        d = min(d, stroke(p, vec2(0.0, 4.0), vec2(0.0, 0.0)));
        d = min(d, stroke(p, vec2(0.0, 0.0), vec2(2.0, 0.0)));
        d = min(d, stroke(p, vec2(2.0, 0.0), vec2(2.0, 4.0)));
    } else {                 // R and P share their bowl; R adds its leg
        d = min(d, stroke(p, vec2(0.0, 0.0), vec2(0.0, 4.0)));
        d = min(d, stroke(p, vec2(0.0, 4.0), vec2(2.0, 4.0)));
        d = min(d, stroke(p, vec2(2.0, 4.0), vec2(2.0, 2.0)));
        d = min(d, stroke(p, vec2(2.0, 2.0), vec2(0.0, 2.0)));
        if (n == 3) d = min(d, stroke(p, vec2(0.6, 2.0), vec2(2.0, 0.0)));
    }
    return d;
}

// SLURP over col: every bar its letters pop up one an eighth note apart,
// each squashed as it lands, and on the bar's last beat they drop away.
// p is the screen point, at the word's lower left corner 0; unit is a grid
// unit in screen heights.
vec3 slurp(vec3 col, vec2 p, float st, float unit) {
    float inBar = mod(max(st, 0.0), BAR);
    vec2 g = p / unit;
    float n = floor(g.x / 3.0);                 // the letter under p: 3 grid units apart
    float ln = clamp(n, 0.0, 4.0);
    float t = inBar - ln * 0.5 * BEAT;          // since the letter's pop
    float up = t < 0.0 ? 0.0 : 1.0 - exp(-t * 14.0) * fastCos(t * 26.0);
    float drop = smoothstep(BAR - BEAT, BAR, inBar);
    vec2 lp = vec2(g.x - ln * 3.0 - 0.5, g.y + 6.0 * (1.0 - up) * step(t, 0.6) + 8.0 * drop * drop);
    // the pop squashes the letter about its foot
    float squash = t >= 0.0 ? exp(-t * 10.0) * fastSin(t * 30.0) : 0.0;
    lp = vec2((lp.x - 1.0) / (1.0 + 0.25 * squash) + 1.0, lp.y / (1.0 - 0.25 * squash));
    float d = letter(lp, int(ln)) * unit;
    float shown = step(0.0, t) * step(0.0, n) * step(n, 4.0) * step(0.0, st);
    float aa = 1.5 / resolution.y;
    float ink = (1.0 - smoothstep(0.5 * unit - aa, 0.5 * unit, d)) * shown;
    float rim = (1.0 - smoothstep(0.75 * unit - aa, 0.75 * unit, d)) * shown;
    col = mix(col, NAVY, rim);
    return mix(col, mix(FIZZ, AMBER, mod(ln, 2.0)), ink);   // white and orange in turn
}

// Where the close-up camera looks in stage n (bar n of the event, 0..3):
// the glass, the lower leg, the bend, the tip; stage 0 before the first.
vec2 cameraStage(float n) {
    if (n < 0.5) return vec2(-0.5, -0.3);
    if (n < 1.5) return vec2(-0.45, -0.05);
    if (n < 2.5) return vec2(-0.33, 0.16);
    return vec2(0.02, 0.16);
}

// ---- Scene ------------------------------------------------------------------------
void main() {
    float st = statetime;
    float beat = fract(st / BEAT);
    float kick = exp(-beat * 6.0);
    bool wide = state == 1;
    // Bars since the event began (negative while it is incoming).
    float b = (wide ? 4.0 * BAR : 0.0) / BAR + st / BAR;
    float inBar = fract(max(b, 0.0));
    // The downbeat flexes the straw; the snare sprays from its tip.
    float downbeat = exp(-inBar * BAR * 6.0) * step(0.0, st);
    float snare = clapHit(st);

    // The camera: close in, a stage a bar up the straw (a quick move on each
    // bar line, a slow drift inside it); wide from bar 4.
    float stageT = wide ? 0.0 : smoothstep(0.0, 0.25, inBar);
    float stage = clamp(floor(b), 0.0, 3.0);
    vec2 focus = mix(cameraStage(stage - 1.0), cameraStage(stage), stageT) + vec2(0.03, 0.05) * (inBar - 0.5);
    float zoom = 2.1 + 0.1 * kick;
    if (wide) { focus = vec2(0.0); zoom = 1.0 + 0.02 * kick; }
    vec2 p = focus + aspectPoint() / zoom;
    p = fastRot(wide ? 0.0 : 0.05 * (stage - 1.5)) * p;

    // Soda travel: steady flow plus a surge at the start of every beat.
    float beats = floor(st / BEAT);
    float flow = time * 0.55 + (beats + smoothstep(0.0, 0.35, beat)) * 0.22;

    // Backdrop: ballsbg drifting, darker at the edges, light streaks rising.
    // (It breathes with a slow zoom; it never scrolls, so its seam stays out of view.)
    float aspect = resolution.x / resolution.y;
    vec2 bgp = p * (0.9 + 0.03 * sin(time * 0.3));
    vec3 bg = texture2D(texture0, vec2(bgp.x / aspect + 0.5, 0.5 - bgp.y)).rgb;
    // Toned to a pool-blue duotone by its brightness: the soda is the only orange.
    float lum = dot(bg, vec3(0.3, 0.59, 0.11));
    bg = mix(NAVY, POOL_LIGHT, smoothstep(0.3, 0.95, lum)) * (1.0 - 0.45 * dot(p, p));
    vec2 rc = vec2(p.x * 9.0, p.y * 2.0 - time * 1.4);
    vec2 rcell = floor(rc);
    float rise = step(0.75, hash21(rcell)) * (1.0 - smoothstep(0.03, 0.12, abs(fract(rc.x) - 0.5)))
                 * smoothstep(0.0, 0.5, fract(rc.y)) * (1.0 - smoothstep(0.5, 1.0, fract(rc.y)));
    vec3 col = bg + FIZZ * rise * 0.12;

    // The glass behind the straw's lower leg.
    col = glass(col, p, b);

    // The straw, in the mirrored space: it flexes on the downbeat.
    float bend = 1.85 + 0.08 * sin(time * 1.3) + 0.22 * downbeat;
    vec2 mp = vec2(2.0 * STRAW_BASE.x - p.x, p.y);
    vec3 fr = strawFrame(mp, STRAW_BASE, STRAW_LEG, STRAW_BEND_R, bend);
    vec3 sh = strawFrame(mp + vec2(-0.03, 0.022), STRAW_BASE, STRAW_LEG, STRAW_BEND_R, bend);
    col *= 1.0 - 0.35 * (1.0 - smoothstep(STRAW_W, STRAW_W * 1.8, abs(sh.y)));
    col = straw(col, fr, STRAW_W, FIZZ, flow, kick);

    // The spray: bubbles thrown out of the tip on the snare, fanning out.
    vec2 arcC = STRAW_BASE + vec2(-STRAW_BEND_R, STRAW_LEG);
    vec2 dirM = vec2(-sin(bend), cos(bend));
    vec2 tipM = arcC + STRAW_BEND_R * vec2(cos(bend), sin(bend)) + dirM * STRAW_TIP;
    vec2 tip = vec2(2.0 * STRAW_BASE.x - tipM.x, tipM.y);
    vec2 dir = vec2(-dirM.x, dirM.y);
    vec2 tp = p - tip;
    float ahead = dot(tp, dir);
    float side = dot(tp, vec2(-dir.y, dir.x));
    float since = fract(st / BEAT) * BEAT;
    float fan = abs(side) / max(ahead, 1e-3);
    vec2 sq = vec2(ahead * 40.0 - since * 60.0, side * 40.0 / max(ahead * 2.0 + 0.3, 0.3));
    float dots = step(0.55, hash21(floor(sq) + floor(st / BEAT) * 13.0))
               * (1.0 - smoothstep(0.2, 0.4, length(fract(sq) - 0.5)));
    float spray = dots * step(0.0, ahead) * step(fan, 0.6) * step(ahead, since * 1.6 + 0.02) * snare * 1.6;
    col = mix(col, FIZZ, clamp(spray, 0.0, 1.0));

    // The word on the empty side, from bar 4.
    if (wide) col = slurp(col, p - vec2(-0.04, -0.38), st, 0.05);

    gl_FragColor = vec4(col, 1.0);
}
