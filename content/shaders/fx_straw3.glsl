// fx_straw3: event 3, the straw. A bendy striped drinking straw - a straight
// leg, a ribbed elbow and an upper leg - with orange soda rushing up inside
// it in slugs that surge forward on every beat, fizz racing along with them.
// State 0 (bars 0-3) is one big straw swaying across the screen; state 1
// (bars 4-7) cuts to three straws side by side that bend in turn on the beat.
//
// Drawn in 2D: every straw is a centre line made of a segment, a circular
// arc and a segment; a pixel finds its nearest point on it, which gives the
// distance along the straw (s) and across it (u), and the tube is shaded
// as a cylinder from u.
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

// ---- Helpers ------------------------------------------------------------------
// Nearest point of a straw's centre line: a leg from `base` straight up for
// `leg`, an arc of radius `bendR` turning left by `bend` radians, then a
// second leg of length 2. Returns (s along the line, u across it: positive
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
    float t2 = clamp(dot(pe, dir), 0.0, 2.0);
    float d2 = length(pe - dir * t2);
    if (d2 < bestD) {
        best = vec3(leg + bendR * bend + t2, dot(pe, vec2(dir.y, -dir.x)), 2.0);
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

// ---- Scene ------------------------------------------------------------------------
void main() {
    float aspect = resolution.x / resolution.y;
    vec2 p = (texCoord - 0.5) * vec2(aspect, 1.0);
    float st = statetime;
    float beat = fract(st / BEAT);
    float kick = exp(-beat * 6.0);
    // Soda travel: steady flow plus a surge at the start of every beat.
    float beats = floor(st / BEAT);
    float flow = time * 0.55 + (beats + smoothstep(0.0, 0.35, beat)) * 0.22;

    // Backdrop: ballsbg drifting, darker at the edges, light streaks rising.
    // (It breathes with a slow zoom; it never scrolls, so its seam stays out of view.)
    vec2 bgp = p * (0.9 + 0.03 * sin(time * 0.3));
    vec3 bg = texture2D(texture0, vec2(bgp.x / aspect + 0.5, 0.5 - bgp.y)).rgb;
    // Toned to a pool-blue duotone by its brightness: the soda is the only orange.
    float lum = dot(bg, vec3(0.3, 0.59, 0.11));
    bg = mix(NAVY, POOL_LIGHT, smoothstep(0.3, 0.95, lum)) * (1.0 - 0.45 * dot(p, p));
    vec2 rc = vec2(p.x * 9.0, p.y * 2.0 - time * 1.4);
    vec2 rcell = floor(rc);
    float rise = step(0.75, hash21(rcell)) * (1.0 - smoothstep(0.03, 0.12, abs(fract(rc.x) - 0.5)))
                 * smoothstep(0.0, 0.5, fract(rc.y)) * (1.0 - smoothstep(0.5, 1.0, fract(rc.y)));
    bg += FIZZ * rise * 0.12;

    vec3 col = bg;
    if (state != 1) {
        // One big straw: its foot sways, its elbow flexes with the beat.
        float sway = sin(time * 0.9) * 0.12;
        float bend = 0.85 + 0.2 * sin(time * 1.3) + 0.12 * kick;
        vec2 base = vec2(0.42 + sway, -0.75);
        vec2 rp = p;
        float tilt = -0.12 + 0.05 * sin(time * 0.6);
        rp = mat2(cos(tilt), sin(tilt), -sin(tilt), cos(tilt)) * (rp - base) + base;
        vec3 fr = strawFrame(rp, base, 0.62, 0.24, bend);
        // Its shadow on the backdrop.
        vec3 sh = strawFrame(rp + vec2(0.05, 0.035), base, 0.62, 0.24, bend);
        col *= 1.0 - 0.4 * (1.0 - smoothstep(0.08, 0.15, abs(sh.y)));
        col = straw(col, fr, 0.1, FIZZ, flow, kick);
    } else {
        // Three straws, bending one after another on the beats.
        for (int i = 0; i < 3; i++) {
            float fi = float(i);
            float turn = mod(beats - fi, 3.0) < 0.5 ? kick : 0.0;
            float bend = 0.75 + 0.15 * sin(time * 1.1 + fi * 2.1) + 0.45 * turn;
            vec2 base = vec2(-0.45 + fi * 0.48, -0.85 + 0.05 * sin(time * 1.7 + fi));
            vec3 stripe = i == 1 ? FIZZ : POOL_LIGHT;
            vec3 fr = strawFrame(p, base, 0.7 + 0.08 * fi, 0.16, bend);
            vec3 sh = strawFrame(p + vec2(0.035, 0.025), base, 0.7 + 0.08 * fi, 0.16, bend);
            col *= 1.0 - 0.35 * (1.0 - smoothstep(0.05, 0.1, abs(sh.y)));
            col = straw(col, fr, 0.055, stripe, flow + fi * 0.4, kick * turn);
        }
    }

    gl_FragColor = vec4(col, 1.0);
}
