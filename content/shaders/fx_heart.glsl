// fx_heart: event 4, the hearts. A field of hearts rises through the pool
// while a big glossy heart beats "lub-dub" on every kick and the "wanna
// sprox?" card travels through the field beside it. State 0 (bars 0-3) is
// blue with orange hearts in three layers of depth; state 1 (bars 4-7) cuts
// to the soda colours, with the hearts wheeling in rings round the big one
// and the card swinging.
//
// A move per bar: bar 0 stands head-on (the heart over the card); on every
// later bar line the heart and the card change sides in a one-beat slide
// while the camera pans the other way, so the layers of hearts slide past
// at their depths' speeds and the card passes through them (always in front).
//
// Hearts are a signed distance (negative inside, one unit about the heart's
// height); the field keeps one heart per cell, so a pixel reads one cell
// per layer.
//
// Images: texture0 bluebg (repeats), texture1 wannasprox (repeats, so it is
// masked to its box here).
// Time: 0.48 statetime units = one beat. The incoming event (negative
// statetime, during the bars transition) is state 0, framed as bar 0.

#pragma fold(state)

uniform int state;
uniform float statetime;
uniform sampler2D texture0, texture1;

// ---- Constants ----------------------------------------------------------------
const float CARD_HEIGHT = 0.8;       // in screen heights, bar 0
const float CARD_SIDE_HEIGHT = 0.7;  // beside the heart, the later bars

// ---- Helpers ------------------------------------------------------------------
float dot2(vec2 v) { return dot(v, v); }

// Signed distance to a heart centred on the origin, about 1 tall, point down.
float heart(vec2 p) {
    p.y += 0.55;
    p.x = abs(p.x);
    if (p.y + p.x > 1.0) return sqrt(dot2(p - vec2(0.25, 0.75))) - 0.35355;
    return sqrt(min(dot2(p - vec2(0.0, 1.0)), dot2(p - 0.5 * max(p.x + p.y, 0.0)))) * sign(p.x - p.y);
}

// A small flat-shaded heart of the field: colour and coverage over `under`.
vec3 fieldHeart(vec3 under, vec2 f, float size, float seed, vec3 tintA, vec3 tintB, float pulse) {
    float h = hash21(vec2(seed, seed * 1.7));
    vec2 hp = rot((h - 0.5) * 0.8) * f / (size * (1.0 + 0.25 * pulse));
    float d = heart(hp);
    float aa = 2.0 / (resolution.y * size);
    float body = 1.0 - smoothstep(-aa, aa, d);
    if (body <= 0.0) return under;
    vec3 c = mix(tintA, tintB, step(0.6, h));
    c *= 0.8 + 0.35 * smoothstep(0.0, 0.25, -d);     // lighter towards the middle
    c = mix(c, FIZZ, (1.0 - smoothstep(0.02, 0.14, length(hp - vec2(-0.22, 0.2)))) * 0.8);
    float rim = 1.0 - smoothstep(0.0, 0.06, -d);
    c = mix(c, c * 0.6, rim);
    return mix(under, c, body);
}

// The layout of bar n of the event: the big heart's centre (xy) and the
// card's centre (zw), screen heights. Bar 0 is head-on; later bars put the
// two on alternate sides, a little higher or lower by a hash.
vec4 barLayout(float n) {
    if (n < 0.5) return vec4(0.0, 0.17, 0.0, -0.2);
    float side = mod(n, 2.0) < 0.5 ? 1.0 : -1.0;
    float h = hash11(n * 4.37 + 1.3) - 0.5;
    return vec4(side * 0.52, 0.06 + 0.12 * h, -side * 0.3, -0.06 - 0.1 * h);
}

// ---- Scene ------------------------------------------------------------------------
void main() {
    vec2 p = aspectPoint();
    float st = statetime;
    float inState = max(st, 0.0);
    bool part2 = state == 1;
    float phase = fract(inState / BEAT);
    // Shapes ride the kick: a thump on every beat and a smaller one after it.
    float kick = kickPulse(st) + 0.45 * kickPulse(st - 0.2 * BEAT);
    float hit = kickHit(st);

    // The bar's layout, reached in a one-beat slide from the last bar's.
    float barInState = floor(inState / BAR);
    float bar = barInState + (part2 ? 4.0 : 0.0);
    float slide = easeOutBack((inState - barInState * BAR) / BEAT);
    vec4 lay = mix(barLayout(bar - 1.0), barLayout(bar), bar < 0.5 ? 1.0 : slide);
    vec2 heartAt = lay.xy;
    // The camera pans against the card's travel and drifts on within the bar.
    vec2 pan = vec2(lay.z * 0.9 + 0.05 * sign(lay.z) * (inState - barInState * BAR), 0.0);

    // Background: bluebg (state 0) or the same bent to soda orange (state 1),
    // with a ring of light leaving the heart on every beat.
    vec3 bg = texture2D(texture0, vec2(texCoord.x, 1.0 - texCoord.y) + vec2(time * 0.01 + pan.x * 0.15, 0.0)).rgb;
    if (part2) {
        float l = dot(bg, vec3(0.3, 0.59, 0.11));
        bg = mix(ORANGE * 0.8, AMBER, l);
    }
    float ringR = phase * 1.3;
    float ring = exp(-abs(length(p - heartAt) - ringR) * 30.0) * (1.0 - phase);
    bg += (part2 ? FIZZ : POOL_LIGHT) * ring * 0.35;
    vec3 col = bg;

    if (!part2) {
        // Three layers of hearts rising, far to near: small and slow behind,
        // big and fast in front, each panned by its depth.
        for (int layer = 0; layer < 3; layer++) {
            float fl = float(layer);
            float scale = 9.0 / (1.0 + 0.75 * fl);
            float depth = 0.35 + 0.32 * fl;
            vec2 q = (p + pan * depth) * scale + vec2(fl * 0.5, -time * (0.3 + 0.25 * fl));
            vec2 cell = floor(q);
            float h = hash21(cell + fl * 13.0);
            if (h < 0.5 + 0.05 * fl) {
                vec2 f = (q - cell - 0.5) / scale;
                f.x += 0.04 * fastSin(time * 2.0 + h * 30.0) / scale;
                float pulse = h < 0.3 ? kick : kickPulse(st);
                col = fieldHeart(col, f, 0.55 / scale, h * 97.0, mix(ORANGE, AMBER, fl * 0.5), FIZZ, pulse);
            }
        }
    } else {
        // Rings of hearts wheeling round the big heart, alternate rings reversed.
        vec2 rp = p - heartAt;
        float r = length(rp);
        float ringIdx = floor(r * 6.0);
        float dir = mod(ringIdx, 2.0) < 0.5 ? 1.0 : -1.0;
        float count = 6.0 + ringIdx * 5.0;
        float a = atan(rp.y, rp.x) + dir * time * 0.35 + ringIdx;
        float sector = floor(a / (2.0 * PI) * count);
        float ac = (sector + 0.5) / count * 2.0 * PI;
        float rc = (ringIdx + 0.5) / 6.0;
        // Local frame of the cell: x along the radius, y along the ring; the
        // heart stands with its top pointing outwards.
        vec2 local = r * vec2(cos(a - ac), sin(a - ac)) - vec2(rc, 0.0);
        vec2 f = vec2(local.y, local.x);
        // Index the heart within its ring, so the seam of atan does not
        // recolour the heart that straddles it.
        float id = mod(sector, count);
        float pulse = mod(id, 2.0) < 0.5 ? kick : kickPulse(st);
        if (ringIdx > 0.5) col = fieldHeart(col, f, 0.055, id + ringIdx * 31.0, POOL_DEEP, FIZZ, pulse);
    }

    // The big heart: thrown up in size by the kick, glossy from its own slope.
    float big = 0.3 * (1.0 + 0.3 * kick) * (part2 ? 1.1 : 1.0) * (bar < 0.5 ? 1.1 : 1.0);
    vec2 hp = (p - heartAt) / big;
    hp = rot(sin(time * 1.1) * 0.06 + 0.12 * kick * sign(heartAt.x + 1e-3)) * hp;
    float d = heart(hp);
    float aa = 2.0 / (resolution.y * big);
    float body = 1.0 - smoothstep(-aa, aa, d);
    if (d < 0.05) {
        float e = 0.01;
        vec2 g = vec2(heart(hp + vec2(e, 0.0)) - d, heart(hp + vec2(0.0, e)) - d) / e;
        float depth = sqrt(clamp(-d * 3.0, 0.0, 1.0));
        vec3 n = normalize(vec3(g * (1.0 - depth) * 1.6, depth + 0.15));
        vec3 l = normalize(vec3(-0.5, 0.6, 0.7));
        float diff = max(dot(n, l), 0.0);
        float glint = pow24(max(dot(reflect(-l, n), vec3(0.0, 0.0, 1.0)), 0.0));
        vec3 base = part2 ? mix(POOL_DEEP, POOL_LIGHT, 0.35) : mix(ORANGE, vec3(1.0, 0.2, 0.1), 0.25);
        vec3 hc = base * (0.35 + 0.8 * diff) + FIZZ * glint * 0.9;
        hc += FIZZ * 0.2 * hit * depth;
        // Glow around the heart swells with the beat.
        col += base * exp(-max(d, 0.0) * 10.0) * 0.4 * kick;
        col = mix(col, hc, body);
    } else {
        vec3 base = part2 ? POOL_LIGHT : ORANGE;
        col += base * exp(-d * 10.0) * 0.4 * kick;
    }

    // The card: pops in at the start, bounces on the beat; in state 1 it
    // swings like a sign on a hook. Bar 0 shows it whole, later bars a
    // little smaller beside the heart.
    float since = inState + (part2 ? 4.0 * BAR : 0.0);
    float pop = 1.0 - exp(-6.0 * since) * cos(12.0 * since);
    float swing = part2 ? sin(time * 2.6) * 0.1 : 0.02 * sin(time * 1.7);
    vec2 cp = p - lay.zw - vec2(pan.x - lay.z * 0.9, 0.0) * 0.3;
    cp.y -= 0.025 * kick;
    cp = rot(swing) * cp;
    // The wannasprox card is a full picture: PICTURE_ASPECT wide for 1 high.
    float cardH = bar < 0.5 ? CARD_HEIGHT : (bar < 1.5 ? mix(CARD_HEIGHT, CARD_SIDE_HEIGHT, slide) : CARD_SIDE_HEIGHT);
    vec2 size = vec2(PICTURE_ASPECT, 1.0) * cardH * max(pop, 0.05) * (1.0 + 0.04 * kick);
    vec2 l = cp / size + 0.5;
    // A soft shadow under the card, then the card itself.
    vec2 sl = (cp + vec2(-0.012, 0.018)) / size + 0.5;
    float inBox = step(0.0, l.x) * step(l.x, 1.0) * step(0.0, l.y) * step(l.y, 1.0);
    float inShadow = step(0.0, sl.x) * step(sl.x, 1.0) * step(0.0, sl.y) * step(sl.y, 1.0);
    float shadow = texture2D(texture1, vec2(sl.x, 1.0 - sl.y)).a * inShadow;
    col = mix(col, NAVY * 0.5, shadow * 0.45);
    vec4 cardCol = texture2D(texture1, vec2(l.x, 1.0 - l.y)) * inBox;
    col = mix(col, cardCol.rgb, cardCol.a);

    gl_FragColor = vec4(col, 1.0);
}
