// fx_balls: event 6, glossy orange metaballs. Seven blobs of soda drift on
// Lissajous paths, flow into each other and swell on every beat; they are lit
// like wet candy (a hot highlight, a cool rim reflecting the backdrop, an
// orange glow within). State 0 (bars 0-3): the blobs roam around the "orange"
// card. State 1 (bars 4-7): they wheel in a ring that is pulled together on
// every beat, merging into one drop, and spring apart again.
//
// The field is the classic sum of r^2 / d^2; the surface is where it reaches
// 1. Its analytic gradient gives the normal without extra evaluations.
//
// Images: texture0 ballsbg (repeats), the backdrop and the reflection on the
// blobs; texture1 orange (a full-screen card, repeats: masked here).
// Time: 0.48 statetime units = one beat. The incoming event (negative
// statetime, during the bars transition) is state 0.

#pragma fold(state)

uniform int state;
uniform float statetime;
uniform sampler2D texture0, texture1;

// ---- Helpers ------------------------------------------------------------------
vec3 backdrop(vec2 p, float aspect) {
    return texture2D(texture0, vec2(p.x / aspect + 0.5, 0.5 - p.y)).rgb;
}

// Centre and radius of ball i at this moment.
vec3 ball(int i, float kick, bool ring, float gather) {
    float fi = float(i);
    vec2 c;
    if (!ring) {
        c = vec2(sin(time * (0.53 + 0.11 * fi) + fi * 1.9) * 0.62,
                 sin(time * (0.71 + 0.07 * fi) + fi * 2.7) * 0.3);
    } else {
        float a = time * 0.9 + fi * (2.0 * PI / 7.0);
        float rr = mix(0.42, 0.06, gather) * (1.0 + 0.12 * sin(time * 1.3 + fi));
        c = rr * vec2(cos(a) * 1.25, sin(a));
    }
    float r = (0.07 + 0.018 * mod(fi * 3.0, 4.0)) * (1.0 + 0.14 * kick);
    return vec3(c, r);
}

// ---- Scene ------------------------------------------------------------------------
void main() {
    float aspect = resolution.x / resolution.y;
    vec2 p = (texCoord - 0.5) * vec2(aspect, 1.0);
    float st = statetime;
    float phase = fract(st / BEAT);
    float kick = exp(-phase * 6.0);
    bool ring = state == 1;
    // The ring gathers to the centre on the beat and springs back out.
    float gather = ring ? exp(-phase * 3.5) * (1.0 - exp(-phase * 40.0)) : 0.0;

    // The field and its gradient.
    float field = 0.0;
    vec2 grad = vec2(0.0);
    for (int i = 0; i < 7; i++) {
        vec3 b = ball(i, kick, ring, gather);
        vec2 d = p - b.xy;
        float dd = dot(d, d) + 1e-5;
        float f = b.z * b.z / dd;
        field += f;
        grad += -2.0 * f / dd * d;
    }

    // Backdrop: ballsbg deepened towards pool blue so the orange stands out,
    // with a soft shadow of the blobs and a beat-lit haze.
    vec3 bg = backdrop(p * (1.0 - 0.02 * kick), aspect);
    // Toned to a pool-blue duotone by its brightness, so the orange pops.
    float lum = dot(bg, vec3(0.3, 0.59, 0.11));
    bg = mix(NAVY, POOL_LIGHT, smoothstep(0.35, 0.95, lum)) * (1.0 - 0.4 * smoothstep(0.3, 1.0, length(p)));
    vec3 col = bg;
    col += AMBER * smoothstep(0.3, 1.0, field) * 0.18 * (0.6 + 0.4 * kick);

    // The card behind the blobs in state 1, in front of them in state 0.
    float bounce = 1.0 + 0.05 * kick;
    float wob = sin(time * 3.0) * 0.01;
    // The orange card is a full picture: PICTURE_ASPECT wide for 1 high.
    vec2 cl = (p - vec2(0.0, 0.0 + wob)) / (vec2(PICTURE_ASPECT, 1.0) * bounce * (ring ? 0.8 : 1.0)) + 0.5;
    float cardBox = step(0.0, cl.x) * step(cl.x, 1.0) * step(0.0, cl.y) * step(cl.y, 1.0);

    float surface = smoothstep(0.96, 1.04, field);
    if (ring) {
        // Seen through the blobs the card bends with their slope.
        vec2 bent = cl - grad * 0.004 * surface;
        vec4 card = texture2D(texture1, vec2(bent.x, 1.0 - bent.y)) * cardBox;
        col = mix(col, card.rgb, card.a * (1.0 - 0.6 * surface));
    }

    if (field > 0.8) {
        // Dome normal: tilt with the gradient of 1 - 1/field, steeper at the rim.
        vec2 g = grad / (field * field);
        float depth = clamp(1.0 - 1.0 / field, 0.0, 1.0);
        vec3 n = normalize(vec3(-g * 0.055, 0.25 + 1.2 * sqrt(depth)));
        vec3 l = normalize(vec3(-0.45, 0.6, 0.65));
        vec3 v = vec3(0.0, 0.0, 1.0);
        float diff = max(dot(n, l), 0.0);
        float glint = pow40(max(dot(reflect(-l, n), v), 0.0));
        float shine = pow12(max(dot(reflect(-normalize(vec3(0.6, -0.3, 0.5)), n), v), 0.0));
        float fres = pow3(1.0 - n.z);
        vec3 env = backdrop(p + n.xy * 0.35, aspect);
        vec3 body = mix(EMBER_2DP, ORANGE, diff) * (0.45 + 0.7 * diff);
        body += AMBER * depth * 0.35;                       // light scattered inside
        body = mix(body, env * vec3(0.8, 0.9, 1.2) + POOL_LIGHT * 0.2, fres * 0.6);
        body += FIZZ * glint * 1.1 + POOL_LIGHT * shine * 0.25;
        body += FIZZ * 0.12 * kick * depth;
        col = mix(col, body, surface);
    }

    if (!ring) {
        // The card on top, with a soft drop shadow; it bounces on the beat.
        vec2 sl = cl + vec2(-0.006, 0.012);
        float shade = texture2D(texture1, vec2(sl.x, 1.0 - sl.y)).a * cardBox;
        col = mix(col, NAVY * 0.4, shade * 0.5);
        vec4 card = texture2D(texture1, vec2(cl.x, 1.0 - cl.y)) * cardBox;
        col = mix(col, card.rgb, card.a);
    }

    gl_FragColor = vec4(col, 1.0);
}
