// fx_bubbles2: event 2, the title on the drop. A wall of fizz stands closed
// while the flash transition plays; on the first beat of the event it bursts
// from the centre outwards and the Sprox logo springs through it in its three
// layers, then rides the four-on-the-floor while bubbles keep rising past it.
//
// Images: texture0 titlebg (repeats), texture1 logo0a (back layer),
// texture2 logo0b (the word), texture3 logo0c (front highlights) - the three
// logo layers are clamped to border, so they read transparent outside 0..1 -
// and texture4 mono (repeats), used as a drifting light pattern.
//
// Time: "statetime" counts 0.06 per tick, so one beat is 0.48 and one bar
// 1.92; states begin on bar lines, so fract(statetime / 0.48) is the beat
// phase. State 0 is bars 0-3 (the burst), state 1 bars 4-7 (the logo
// breathes in depth over spinning rays). A camera circles the logo, whose
// layers and the bubbles stand at depths, and steps on every kick: the
// burst's bar head-on, then a side-to-side track that swaps sides on every
// bar line, then an orbit that cuts between a tight and a wide framing on
// every bar line. While this event is the incoming one
// of a transition it runs in state 0 with a negative statetime: the wall is
// then closed and shivers on the beat. "time" (seconds of music) drives the
// continuous motion.
//
// Images are stored top row first, so an image is sampled at 1 - y.

#pragma fold(state)

uniform int state;
uniform float statetime;
uniform sampler2D texture0, texture1, texture2, texture3, texture4;

// ---- Constants ----------------------------------------------------------------
const float LOGO_ASPECT = 2.0;      // width / height of the logo layers
const float LOGO_HEIGHT = 0.74;     // logo height, in screen heights
const float WALL_SCALE = 6.0;       // wall bubbles per screen height
const float BURST_SPEED = 1.45;     // screen heights per second of the burst front

const float LOGO_DEPTH = 1.8;       // the logo's word layer, in the units of the camera's z

// ---- Helpers ------------------------------------------------------------------
// A sample of an image whose box (centre c, size s, in screen units) holds
// the point p; the image is shown upright.
vec4 card(sampler2D tex, vec2 p, vec2 c, vec2 s) {
    vec2 l = (p - c) / s + 0.5;
    return texture2D(tex, vec2(l.x, 1.0 - l.y));
}

// A colour with straight (not premultiplied) alpha laid over another.
vec3 overStraight(vec3 under, vec4 top) {
    return mix(under, top.rgb, top.a);
}

// One layer of rising bubbles. A bubble never leaves its cell, so a pixel
// only looks at its own cell. Returns body coverage, rim light, and the
// offset from the bubble's centre (for refraction), all 0 outside bubbles.
vec4 bubbles(vec2 p, float scale, float speed, float fill, float seed, float swell) {
    vec2 q = p * scale;
    q.y -= time * speed;
    vec2 cell = floor(q);
    vec2 f = q - cell - 0.5;
    float there = hash21(cell + seed) > fill ? 0.0 : 1.0;
    float r = 0.14 + 0.22 * hash21(cell + seed + 17.0);
    float room = 0.5 - r - 0.05;
    vec2 c = (vec2(hash21(cell + seed + 3.0), hash21(cell + seed + 7.0)) - 0.5) * 2.0 * room;
    c.x += 0.05 * fastSin(time * 3.1 + 6.283 * hash21(cell + seed + 11.0));
    r = min(r * (1.0 + swell), 0.5 - max(abs(c.x), abs(c.y)));   // the kick's swell, inside the cell
    vec2 d = (f - c) / r;
    float dist = length(d);
    float aa = 1.5 * scale / (resolution.y * r);
    float body = (1.0 - smoothstep(1.0 - aa, 1.0, dist)) * there;
    float rim = pow5(min(dist, 1.0));
    float spot = 1.0 - smoothstep(0.05, 0.32, length(d - vec2(-0.38, 0.42)));
    return vec4(body, body * (rim * 0.8 + spot), d * body * r / scale);
}

// The camera that circles the logo, for bar n of the event (0..7) and s,
// the bar's beats so far (0..1) stepped on the kick: each beat moves it
// over its first third and it then holds, so that the picture lurches on
// the kick. Returns (x, y, z, roll); z > 0 is towards the logo. The burst's
// bar stands head-on; bars 1 to 3 track from side to side, swapping sides
// on every bar line; the second state orbits, cutting between a tight and
// a wide framing on every bar line.
vec4 titleCamera(float n, float s) {
    if (n < 0.5) return vec4(0.0, 0.0, 0.12 * s, 0.0);
    float side = mod(n, 2.0) < 0.5 ? 1.0 : -1.0;
    if (n < 3.5) return vec4(side * 0.5 * (s - 0.5), -0.06 * side, 0.06 * s, 0.03 * side);
    float a = 1.3 * (n - 4.0) + 0.9 * s;
    float tight = mod(n, 2.0) < 0.5 ? 0.12 : -0.15;
    return vec4(0.45 * fastSin(a), 0.12 * fastCos(a), tight + 0.04 * s, -0.05 * fastSin(a));
}

// A centred screen point as the camera cam sees the layer at depth d: the
// camera looks at the logo, so the logo's layer holds still as it moves and
// the layers behind and in front of it slide apart.
vec2 layer(vec2 p, vec4 cam, float d) {
    return fastRot(cam.w) * p * (1.0 - cam.z / d) + cam.xy * (1.0 / d - 1.0 / LOGO_DEPTH);
}

// One layer of the wall of fizz: packed bubbles in staggered rows, each
// popping (a ring flies out and fades) when the burst front passes its
// centre. Returns colour and coverage.
vec4 wall(vec2 p, float scale, float seed, float st, float kick) {
    vec2 q = p * scale;
    q.y -= time * 0.35;
    float row = floor(q.y);
    q.x += mod(row, 2.0) * 0.5;
    vec2 cell = floor(q);
    vec2 f = q - cell - 0.5;
    float h = hash21(cell + seed);
    float r = 0.34 + 0.16 * h;
    vec2 c = (vec2(hash21(cell + seed + 2.0), hash21(cell + seed + 6.0)) - 0.5) * (1.0 - 2.0 * r);
    vec2 centre = (cell + 0.5 + c - vec2(mod(row, 2.0) * 0.5, 0.0)) / scale;
    centre.y += time * 0.35 / scale;
    float shiver = 0.06 * kick * (st < 0.0 ? 1.0 : 0.0) * (0.5 + h);
    vec2 d = (f - c) / (r * (1.0 + shiver));
    float dist = length(d);
    float age = max(st, 0.0) - length(centre) / BURST_SPEED;
    float alive = 1.0 - step(0.0, age);
    float aa = 1.5 * scale / (resolution.y * r);
    float body = (1.0 - smoothstep(1.0 - aa, 1.0, dist)) * alive;
    // Translucent fizz: a warm tint inside, a bright rim and a window light.
    vec3 tint = mix(mix(AMBER, ORANGE, hash21(cell + seed + 9.0)), FIZZ, 0.25 * step(0.7, h));
    vec3 bc = mix(tint, FIZZ, pow5(dist) * 0.85);
    bc += 1.0 - smoothstep(0.0, 0.28, length(d - vec2(-0.35, 0.42)));
    bc *= 0.85 + 0.15 * d.y;
    float ring = 0.0;
    if (age > 0.0 && age < 0.25) {
        ring = (1.0 - smoothstep(0.0, 0.12, abs(dist - 1.0 - age * 2.0))) * (1.0 - age / 0.25);
    }
    float a = max(body, ring);
    return vec4(mix(FIZZ, bc, body / max(a, 1e-4)), a);
}

// ---- Scene ------------------------------------------------------------------------
void main() {
    float aspect = resolution.x / resolution.y;
    float st = statetime;
    float beat = fract(st / BEAT);
    float kick = exp(-beat * 5.5);
    float barKick = exp(-fract(st / BAR) * 2.5);
    bool part2 = state == 1;
    // The loud events' camera: a new framing on every bar line, a zoom
    // punch on beats 1 and 3 (state 1 runs on from bar 4) ...
    vec2 p = beatView(aspectPoint(), beatCamera(st, part2 ? 4.0 : 0.0));
    // ... carried by the camera that circles the logo, its layers at
    // depths: the pool far behind, the bubbles between, the big ones in
    // front of the lens.
    float barsIn = max(st, 0.0) / BAR + (part2 ? 4.0 : 0.0);
    float n = floor(barsIn);
    float beats = fract(barsIn) * 4.0;
    float stepped = (floor(beats) + 1.0 - pow3(1.0 - min(fract(beats) * 3.0, 1.0))) * 0.25;
    vec4 cam = titleCamera(n, stepped);
    float kp = kickPulse(st);
    // Seconds since the drop, 0 before it; state 1 runs on from bar 4.
    float since = max(part2 ? st + 4.0 * BAR : st, 0.0);

    // Bubbles behind and in front of the logo.
    float speedUp = part2 ? 1.6 : 1.0;
    vec4 back = bubbles(layer(p, cam, 4.0) + vec2(0.3, 0.0), 14.0, 1.2 * speedUp, 0.55, 1.0, 0.2 * kp);
    vec4 mid = bubbles(layer(p, cam, 2.6), 7.0, 0.9 * speedUp, 0.35, 5.0, 0.3 * kp);

    // Background: titlebg, breathing on the beat, bent by the bubbles.
    float zoom = 1.0 - 0.025 * kick;
    vec2 refr = (back.zw + mid.zw) * 0.35;
    vec2 pool = layer(p, cam, 6.0);
    vec3 col = card(texture0, pool * zoom + refr, vec2(0.0), vec2(aspect, 1.0)).rgb;
    float light = texture2D(texture4, pool * 0.6 + vec2(time * 0.03, -time * 0.07)).r;
    col += ORANGE * light * 0.18;

    if (part2) {
        // Rays spinning behind the logo, swapped colour every bar.
        vec2 rp = layer(p, cam, 2.4);
        float a = atan(rp.y, rp.x) + time * 0.45;
        float ray = smoothstep(-0.15, 0.15, sin(a * 10.0));
        float swapped = mod(floor((st + 4.0 * BAR) / BAR), 2.0);
        vec3 rayCol = mix(AMBER, POOL_LIGHT, swapped);
        float fade = smoothstep(0.05, 0.8, length(rp)) * (0.5 + 0.3 * barKick);
        // Screen blend: the rays only ever lighten the pool.
        col = 1.0 - (1.0 - col) * (1.0 - rayCol * ray * fade);
    }

    col = mix(col, FIZZ, back.x * 0.12) + back.y * 0.35;
    col = mix(col, mix(POOL_LIGHT, FIZZ, 0.5), mid.x * 0.16) + mid.y * 0.55;

    // The logo: springs in after the drop, bounces on every beat; in state 1
    // its layers part in depth and it sways.
    float t = since;
    float spring = 1.0 - exp(-5.0 * t) * cos(11.0 * t);
    float scale = mix(0.15, 1.0, spring) * (1.0 + 0.045 * kick * step(0.0, st));
    vec2 sway = vec2(0.0);
    float tilt = 0.0;
    if (part2) {
        sway = vec2(sin(time * 0.9), cos(time * 0.7)) * 0.035 * (0.6 + 0.4 * barKick);
        tilt = sin(time * 0.8) * 0.07;
    }
    float cs = cos(tilt);
    float sn = sin(tilt);
    vec2 lp = mat2(cs, sn, -sn, cs) * (layer(p, cam, LOGO_DEPTH) - vec2(0.0, 0.02 * sin(time * 1.7)));
    // the back layer and the highlights stand behind and in front of the word
    vec2 parting = cam.xy * (1.0 / LOGO_DEPTH - 1.0 / (LOGO_DEPTH + 0.25));
    vec2 size = vec2(LOGO_ASPECT, 1.0) * LOGO_HEIGHT * scale;
    vec4 layerA = card(texture1, lp + sway * 1.5 + parting, vec2(0.0), size * (1.0 + 0.08 * kick));
    vec4 layerB = card(texture2, lp, vec2(0.0), size);
    float ghost = card(texture2, lp + vec2(clapFringe(st), 0.0), vec2(0.0), size).a;
    vec4 layerC = card(texture3, lp - sway * 1.2 - parting, vec2(0.0), size * (1.0 - 0.02 * kick));
    col = overStraight(col, layerA);
    col = overStraight(col, layerB);
    col = overStraight(col, vec4(layerC.rgb, layerC.a * (0.75 + 0.25 * kick)));
    col += clapTint(layerB.a, ghost) * clapHit(st);

    // Big bubbles drifting across the front.
    vec4 front = bubbles(layer(p, cam, 1.0) + vec2(0.1, 0.0), 3.2, 0.55 * speedUp, 0.22, 9.0, 0.35 * kp);
    col = mix(col, FIZZ, front.x * 0.08) + front.y * 0.6;

    // The wall: two sizes of packed bubbles over foam, burst open from the
    // centre.
    if (!part2 && st < 2.5) {
        float frontR = max(st, 0.0) * BURST_SPEED;
        float foam = st <= 0.0 ? 1.0 : smoothstep(frontR - 0.15, frontR, length(p));
        vec3 foamCol = mix(AMBER, ORANGE, 0.55 + 0.25 * sin(p.x * 7.0 + p.y * 5.0 + time * 1.3));
        foamCol = mix(foamCol, FIZZ, 0.15 * kick * (st < 0.0 ? 1.0 : 0.0));
        col = mix(col, foamCol, foam);
        vec4 big = wall(p, WALL_SCALE, 41.0, st, kick);
        col = mix(col, big.rgb, big.a);
        vec4 small = wall(p + vec2(0.37, 0.21), WALL_SCALE * 2.3, 71.0, st, kick);
        col = mix(col, small.rgb, small.a);
        // The flash of the burst itself.
        col += FIZZ * 0.6 * exp(-max(st, 0.0) * 6.0) * step(0.0, st)
               * (1.0 - smoothstep(frontR - 0.1, frontR + 0.1, length(p)));
    }

    col *= beatExposure(st);
    // out of the white of the flash that brought the drop in
    if (!part2) col = mix(col, vec3(1.0), entryFlash(st));
    gl_FragColor = vec4(col, 1.0);
}
