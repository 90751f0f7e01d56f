// fx_credits: event 5, the credits, one name per state over a calm pool:
// deep blue with out-of-focus bubbles drifting up and a slow orange swell
// along the bottom. Each name fizzes into view at the start of its state
// (a bubbly reveal sweeping up), its role label slides in above it, both
// breathe on the beat, and the name fizzes away upwards just before the cut.
//
// Images: texture0..texture4 the five names (clamped to border: transparent
// outside 0..1), texture6 and texture7 the two role labels (repeat, masked
// to their box here). Slot 5 is empty and is never read.
// States: 0..4 show names 0..4; states 0-2 last two bars, 3 and 4 one bar.
// The first two names carry label 1, the other three label 2.
// Time: 0.48 statetime units = one beat. The incoming event (negative
// statetime, during the dissolve) is state 0 before its reveal: the pool
// alone.

#pragma fold(state)

uniform int state;
uniform float statetime;
uniform sampler2D texture0, texture1, texture2, texture3, texture4, texture6, texture7;

// ---- Constants ----------------------------------------------------------------
const float NAME_ASPECT = 4.0;      // width / height of a name card
const float NAME_HEIGHT = 0.3;      // in screen heights
const float LABEL_ASPECT = 4.0;     // width / height of a label
const float LABEL_HEIGHT = 0.11;    // in screen heights
const float REVEAL = 0.45;          // statetime units the name takes to fizz in
const float LEAVE = 0.3;            // statetime units it takes to fizz out

// ---- Helpers ------------------------------------------------------------------
float valueNoise(vec2 p) {
    vec2 i = floor(p);
    vec2 f = fract(p);
    f = f * f * (3.0 - 2.0 * f);
    float a = hash21(i);
    float b = hash21(i + vec2(1.0, 0.0));
    float c = hash21(i + vec2(0.0, 1.0));
    float d = hash21(i + vec2(1.0, 1.0));
    return mix(mix(a, b, f.x), mix(c, d, f.x), f.y);
}

// Length of a state in statetime units.
float stateLength(int s) {
    return s < 3 ? 2.0 * BAR : BAR;
}

// The name of a state, read at image coordinates l (0..1 inside the card).
vec4 nameCard(int s, vec2 l) {
    vec2 uv = vec2(l.x, 1.0 - l.y);
    if (s == 0) return texture2D(texture0, uv);
    if (s == 1) return texture2D(texture1, uv);
    if (s == 2) return texture2D(texture2, uv);
    if (s == 3) return texture2D(texture3, uv);
    return texture2D(texture4, uv);
}

vec4 labelCard(int s, vec2 l) {
    float inBox = step(0.0, l.x) * step(l.x, 1.0) * step(0.0, l.y) * step(l.y, 1.0);
    vec2 uv = vec2(l.x, 1.0 - l.y);
    vec4 c = s < 2 ? texture2D(texture6, uv) : texture2D(texture7, uv);
    return c * inBox;
}

// ---- Scene ------------------------------------------------------------------------
void main() {
    float aspect = resolution.x / resolution.y;
    vec2 uv = texCoord;
    vec2 p = (uv - 0.5) * vec2(aspect, 1.0);
    float st = statetime;
    float beat = exp(-fract(st / BEAT) * 4.0) * step(0.0, st);

    // The pool: a deep gradient, caustic shimmer, bokeh rising.
    vec3 col = mix(NAVY, POOL_DEEP, smoothstep(-0.5, 0.6, p.y + 0.1 * sin(p.x * 2.0 + time * 0.4)));
    float caustic = valueNoise(p * 5.0 + vec2(time * 0.3, time * 0.2)) + valueNoise(p * 9.0 - vec2(time * 0.25, -time * 0.4));
    col += POOL_LIGHT * pow3(abs(caustic - 1.0)) * 0.5 * smoothstep(-0.3, 0.5, p.y);
    for (int i = 0; i < 2; i++) {
        float fi = float(i);
        float scale = 3.0 + fi * 2.5;
        vec2 q = p * scale + vec2(fi * 0.37, -time * (0.12 + 0.1 * fi));
        vec2 cell = floor(q);
        vec2 f = q - cell - 0.5;
        float h = hash21(cell + fi * 7.0);
        vec2 c = (vec2(hash21(cell + 3.0), hash21(cell + 5.0)) - 0.5) * 0.5;
        float r = 0.12 + 0.2 * h;
        float blur = 0.12 + 0.1 * (1.0 - fi);
        float disc = 1.0 - smoothstep(r - blur, r, length(f - c));
        vec3 tint = mix(POOL_LIGHT, AMBER, step(0.7, h));
        col += tint * disc * (0.12 + 0.08 * fi) * step(0.35, h);
    }
    // The orange swell along the bottom, lifted a little on each beat.
    float wave = -0.36 + 0.035 * sin(p.x * 3.0 + time * 0.9) + 0.02 * sin(p.x * 7.0 - time * 1.3) + 0.015 * beat;
    float swell = 1.0 - smoothstep(wave - 0.004, wave + 0.004, p.y);
    vec3 soda = mix(ORANGE, AMBER, smoothstep(-0.5, wave, p.y));
    vec2 fq = vec2(p.x * 70.0, (p.y - time * 0.25) * 70.0);
    float fizzDot = 1.0 - smoothstep(0.18, 0.32, length(fract(fq) - 0.5));
    soda += FIZZ * step(0.9, hash21(floor(fq))) * fizzDot * 0.6;
    col = mix(col, soda, swell * 0.92);
    col += AMBER * exp(-abs(p.y - wave) * 40.0) * 0.35;

    // The credit: fizzes in from the bottom of the card, leaves upwards.
    float len = stateLength(state);
    float intoState = st;
    float reveal = clamp(intoState / REVEAL, 0.0, 1.0);
    float leave = clamp((intoState - (len - LEAVE)) / LEAVE, 0.0, 1.0);
    vec2 nameCentre = vec2(0.0, 0.02 + 0.008 * sin(time * 1.5));
    vec2 size = vec2(NAME_ASPECT, 1.0) * NAME_HEIGHT * (1.0 + 0.1 * (1.0 - reveal) * (1.0 - reveal));
    size *= 1.0 + 0.015 * beat;
    vec2 l = (p - nameCentre) / size + 0.5;
    // Fizz edge: noise-shaped front moving up through the card on entry,
    // out through its top on exit.
    float grain = valueNoise(l * vec2(28.0, 7.0) + vec2(0.0, -time * 2.0));
    float inFront = smoothstep(0.0, 0.12, reveal * 1.3 - l.y - grain * 0.3);
    float outFront = 1.0 - smoothstep(0.0, 0.12, leave * 1.3 - (1.0 - l.y) - grain * 0.3);
    float show = inFront * outFront * step(0.0, st);
    // Lift as it leaves.
    vec2 lift = vec2(0.0, leave * leave * 0.2);
    vec4 name = nameCard(state, (p - nameCentre - lift) / size + 0.5);
    // Glow under the name, breathing with the beat.
    vec4 halo = nameCard(state, (p - nameCentre - lift) / (size * 1.06) + 0.5);
    col += AMBER * halo.a * (0.2 + 0.25 * beat) * show;
    col = mix(col, name.rgb, name.a * show);
    // Bubbles streaming off the fizz front.
    float front = reveal < 1.0 ? reveal * 1.3 : 1.3 - leave * 1.3;
    if (reveal < 1.0 || leave > 0.0) {
        vec2 bq = vec2(p.x * 40.0, (p.y - time * 0.4) * 40.0);
        vec2 bc = floor(bq);
        float bh = hash21(bc);
        float near = 1.0 - smoothstep(0.0, 0.1, abs(l.y - front + 0.05));
        float inside = step(0.0, l.x) * step(l.x, 1.0);
        float dot_ = 1.0 - smoothstep(0.15, 0.35, length(fract(bq) - 0.5));
        col += FIZZ * dot_ * step(0.6, bh) * near * inside * 0.7 * step(0.0, st);
    }

    // The role label: slides in from the left after the name, above it.
    float slide = clamp((st - 0.2) / 0.35, 0.0, 1.0);
    slide = 1.0 - (1.0 - slide) * (1.0 - slide) * (1.0 - slide);
    vec2 labelCentre = vec2(mix(-1.4, -0.02, slide), 0.22 + 0.006 * sin(time * 1.5 + 1.0)) + lift;
    vec2 lsize = vec2(LABEL_ASPECT, 1.0) * LABEL_HEIGHT;
    vec4 label = labelCard(state, (p - labelCentre) / lsize + 0.5);
    col = mix(col, label.rgb, label.a * (1.0 - leave) * step(0.0, st));
    // A thin orange rule under the label grows with it.
    float rule = (1.0 - smoothstep(0.002, 0.004, abs(p.y - 0.16))) * (1.0 - step(0.45 * slide, abs(p.x + 0.02)));
    col = mix(col, AMBER, rule * (1.0 - leave) * step(0.0, st));

    gl_FragColor = vec4(col, 1.0);
}
