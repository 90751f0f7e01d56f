// fx_credits: event 5, the credits, a card per two bars over a busy pool.
//
// Card 0 is the code: "code" and both its names; cards 1 to 3 one name of
// music & gfx each. A name's letters rise from below in slices, one after
// the other, and pop into shape (squash, then stretch) on the card's
// downbeat; the role label is stamped down on beat 2 with a splash of ink;
// on the last half beat of a card its slices fly up and away while the
// next card's letters rise under them. Each role has its own small drawn
// motif: a blinking "</>" for code, an equaliser that jumps on every beat
// for music & gfx. The camera frames every bar anew and punches in on the
// kicks; behind it all the pool never sits still: rays turn, bokeh rises,
// rings run out on the beat and the orange swell surges on the kick.
//
// Images: texture0..texture4 the five names (clamped to border: transparent
// outside 0..1), texture6 and texture7 the two role labels (repeat, masked
// to their box here). Slot 5 is empty and is never read.
// States: 0..3, two bars each: state 0 is names 0 and 1 with label 1 (code),
// states 1..3 names 2..4 with label 2. The last bar of state 3 lies under
// the transition into the next event, so every name has a full bar before
// anything covers it.
// Time: 0.48 statetime units = one beat. The incoming event (negative
// statetime, during the dissolve) is state 0 before its downbeat: the first
// name's letters are then rising.

#pragma fold(state)

uniform int state;
uniform float statetime;
uniform sampler2D texture0, texture1, texture2, texture3, texture4, texture6, texture7;

// ---- Constants ----------------------------------------------------------------
const float NAME_ASPECT = 4.0;      // width / height of a name card
const float LABEL_ASPECT = 4.0;     // width / height of a label
const float SLICES = 14.0;          // the slices a name rises in
const float RISE = 0.3;             // statetime units a slice takes to rise
const float STAGGER = 0.16;         // from the first slice's start to the last's
const float LEAVE = 0.24;           // the last half beat: slices fly away
const float CARD_LENGTH = 2.0 * BAR;

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

// Where a name whose box is centred at c with height h is read for the
// screen point p, t statetime units after its downbeat (negative: its
// letters are still rising; from `away` on, they fly off). Returns the
// image coordinate (0..1, y down) and in z the slice's opacity.
vec3 namePlace(vec2 p, vec2 c, float h, float t, float away) {
    // The pop: squashed flat on the downbeat, then stretched, then settled.
    float pop = t >= 0.0 ? exp(-t * 7.0) * cos(t * 22.0) : 0.0;
    vec2 size = vec2(NAME_ASPECT * h * (1.0 + 0.22 * pop), h * (1.0 - 0.3 * pop));
    vec2 l = (p - c) / size + 0.5;
    float slice = floor(clamp(l.x, 0.0, 0.999) * SLICES);
    float order = slice / (SLICES - 1.0);
    // Rising: each slice from below, the left first, all in by the downbeat.
    float start = -RISE - STAGGER + order * STAGGER;
    float rise = easeOutBack((t - start) / RISE);
    // Flying away: upwards, the left first, spinning out of line.
    float gone = clamp((t - away - order * 0.08) / (LEAVE - 0.08), 0.0, 1.0);
    l.y += (1.0 - rise) * 1.6 - gone * gone * 2.2;
    float alpha = clamp((t - start) / (RISE * 0.4), 0.0, 1.0) * (1.0 - gone);
    return vec3(l.x, 1.0 - l.y, alpha);
}

vec4 nameImage(int n, vec2 uv) {
    if (n == 0) return texture2D(texture0, uv);
    if (n == 1) return texture2D(texture1, uv);
    if (n == 2) return texture2D(texture2, uv);
    if (n == 3) return texture2D(texture3, uv);
    return texture2D(texture4, uv);
}

// A name laid over col (its card carries its own navy rim and shadow, and
// the pool is dimmed where the names sit).
vec3 drawName(vec3 col, int n, vec2 p, vec2 c, float h, float t, float away) {
    vec3 at = namePlace(p, c, h, t, away);
    vec4 k = nameImage(n, at.xy);
    return mix(col, k.rgb, clamp(k.a, 0.0, 1.0) * at.z);
}

// The role label stamped down on beat 2 of the card: big and turned, then
// flat with a shake; a ring of ink splashes out from under it. Returns the
// colour over col.
vec3 drawLabel(vec3 col, bool code, vec2 p, vec2 c, float h, float st, float away) {
    float t = st - BEAT;
    float stamp = clamp(t / 0.09, 0.0, 1.0);
    float scale = mix(2.4, 1.0, stamp * stamp) * (1.0 + 0.06 * exp(-max(t, 0.0) * 12.0));
    float ang = mix(0.35, 0.0, stamp) + 0.03 * exp(-max(t, 0.0) * 6.0) * sin(t * 40.0);
    float gone = clamp((st - away) / LEAVE, 0.0, 1.0);
    vec2 d = fastRot(-ang) * (p - c - vec2(0.0, gone * gone * 0.6)) / (vec2(LABEL_ASPECT, 1.0) * h * scale);
    vec2 l = d + 0.5;
    float inBox = step(0.0, l.x) * step(l.x, 1.0) * step(0.0, l.y) * step(l.y, 1.0);
    vec2 uv = vec2(l.x, 1.0 - l.y);
    vec4 k = (code ? texture2D(texture6, uv) : texture2D(texture7, uv)) * inBox;
    float shown = step(0.0, t) * smoothstep(0.0, 0.03, t) * (1.0 - gone);
    // the ink: a ring of drops that runs out and thins
    float r = length((p - c) * vec2(0.5, 1.0)) / h;
    float ring = max(t, 0.0) * 5.0 + 0.45;
    float drops = step(0.55, hash21(floor(vec2(fastAtan2(p.y - c.y, p.x - c.x) * 9.0, 1.0))));
    float ink = (1.0 - smoothstep(0.0, 0.06, abs(r - ring))) * drops * exp(-max(t, 0.0) * 5.0) * step(0.0, t);
    col = mix(col, AMBER, ink * 0.8 * (1.0 - gone));
    return mix(col, k.rgb, clamp(k.a, 0.0, 1.0) * shown);
}

// The code motif: "</>" in strokes, blinking on the beat with a cursor.
float codeMotif(vec2 p, float st) {
    float w = 0.012;
    // "<": two strokes meeting at the left
    vec2 a = vec2(abs(p.y), p.x + 0.06);
    float lt = abs(dot(a, vec2(0.7071, -0.7071)));
    float less = (1.0 - smoothstep(w, w + 0.004, lt)) * step(abs(p.y), 0.05) * step(-0.08, p.x) * step(p.x, -0.02);
    vec2 b = vec2(abs(p.y), 0.06 - p.x);
    float gt = abs(dot(b, vec2(0.7071, -0.7071)));
    float more = (1.0 - smoothstep(w, w + 0.004, gt)) * step(abs(p.y), 0.05) * step(0.02, p.x) * step(p.x, 0.08);
    // "/": the slash between them
    float sl = abs(p.x - p.y * 0.4);
    float slash = (1.0 - smoothstep(w, w + 0.004, sl)) * step(abs(p.y), 0.055);
    float cursor = step(0.11, p.x) * step(p.x, 0.14) * step(-0.055, p.y) * step(p.y, 0.0)
                 * step(fract(st / BEAT), 0.5);
    return max(max(less, more), max(slash, cursor));
}

// The music & gfx motif: five bars of an equaliser, each jumping on the beat.
float eqMotif(vec2 p, float st) {
    float i = floor((p.x + 0.1) / 0.04);
    float inBars = step(0.0, i) * step(i, 4.0) * step(0.008, fract((p.x + 0.1) / 0.04) * 0.04);
    float beat = floor(st / BEAT);
    float level = 0.3 + 0.7 * hash11(i * 3.1 + beat * 7.7);
    level *= 0.45 + 0.55 * exp(-fract(st / BEAT) * 3.0);
    return inBars * step(-0.06, p.y) * step(p.y, -0.06 + 0.12 * level);
}

// ---- Scene ------------------------------------------------------------------------
void main() {
    float st = statetime;
    bool code = state == 0;
    float beat = fract(st / BEAT);
    float pulse = exp(-beat * 4.0) * step(0.0, st);
    float kick = kickHit(st);
    vec4 cam = beatCamera(st, 2.0 * float(state));
    vec2 p = beatView(aspectPoint(), cam);

    // The pool: a deep gradient, turning rays, caustic shimmer, bokeh rising.
    vec3 col = mix(NAVY, POOL_DEEP, smoothstep(-0.5, 0.6, p.y + 0.1 * fastSin(p.x * 2.0 + time * 0.8)));
    vec2 rc = p - vec2(0.0, -0.55);
    float ray = smoothstep(0.2, 0.8, 0.5 + 0.5 * fastSin(fastAtan2(rc.y, rc.x) * 14.0 - time * 2.4));
    col += POOL_LIGHT * ray * 0.22 * smoothstep(1.3, 0.2, length(rc)) * (0.7 + 0.6 * pulse);
    float caustic = valueNoise(p * 5.0 + vec2(time * 0.6, time * 0.4)) + valueNoise(p * 9.0 - vec2(time * 0.5, -time * 0.8));
    col += POOL_LIGHT * pow3(abs(caustic - 1.0)) * 0.5 * smoothstep(-0.3, 0.5, p.y);
    for (int i = 0; i < 2; i++) {
        float fi = float(i);
        float scale = 3.0 + fi * 2.5;
        vec2 q = p * scale + vec2(fi * 0.37, -time * (0.8 + 0.5 * fi));
        vec2 cell = floor(q);
        vec2 f = q - cell - 0.5;
        float h = hash21(cell + fi * 7.0);
        vec2 c = (vec2(hash21(cell + 3.0), hash21(cell + 5.0)) - 0.5) * 0.5;
        float r = 0.12 + 0.2 * h;
        float blur = 0.12 + 0.1 * (1.0 - fi);
        float disc = 1.0 - smoothstep(r - blur, r, length(f - c));
        vec3 tint = mix(POOL_LIGHT, AMBER, step(0.7, h));
        col += tint * disc * (0.16 + 0.1 * fi) * step(0.35, h);
    }
    // A ring of light runs out from the card on every beat.
    float ringR = beat * 1.4;
    col += FIZZ * 0.2 * (1.0 - smoothstep(0.0, 0.04, abs(length(p * vec2(0.6, 1.0)) - ringR))) * (1.0 - beat) * step(0.0, st);
    // The orange swell along the bottom, surging on the kicks.
    float wave = -0.38 + 0.035 * fastSin(p.x * 3.0 + time * 1.8) + 0.02 * fastSin(p.x * 7.0 - time * 2.6) + 0.06 * kick;
    float swell = 1.0 - smoothstep(wave - 0.004, wave + 0.004, p.y);
    vec3 soda = mix(ORANGE, AMBER, smoothstep(-0.5, wave, p.y));
    vec2 fq = vec2(p.x * 70.0, (p.y - time * 0.45) * 70.0);
    float fizzDot = 1.0 - smoothstep(0.18, 0.32, length(fract(fq) - 0.5));
    soda += FIZZ * step(0.9, hash21(floor(fq))) * fizzDot * 0.6;
    col = mix(col, soda, swell * 0.92);
    col += AMBER * exp(-abs(p.y - wave) * 40.0) * 0.35;
    // Dim the pool where the type sits, so that the cream names stand out.
    col *= 1.0 - 0.3 * exp(-dot(p * vec2(0.9, 2.2), p * vec2(0.9, 2.2)) * 2.0);

    // The card: the label and its motif above, the name or names below.
    float away = CARD_LENGTH - LEAVE;
    vec2 labelAt = code ? vec2(-0.1, 0.27) : vec2(-0.08, 0.22);
    float motifShown = step(BEAT, st) * (1.0 - clamp((st - away) / LEAVE, 0.0, 1.0));
    vec2 mp = (p - labelAt - vec2(0.46, 0.0)) / (1.0 + 0.15 * pulse);
    float motif = code ? codeMotif(mp, st) : eqMotif(mp, st);
    col = mix(col, FIZZ, motif * motifShown);
    col = drawLabel(col, code, p, labelAt, 0.1, st, away);
    if (code) {
        // Pelnik on the downbeat, Dravo on beat 3, Sune rising under them.
        col = drawName(col, 0, p, vec2(-0.04, 0.06), 0.22, st, away);
        col = drawName(col, 1, p, vec2(0.06, -0.17), 0.22, st - 2.0 * BEAT, away - 2.0 * BEAT);
        col = drawName(col, 2, p, vec2(0.0, -0.04), 0.3, st - CARD_LENGTH, 99.0);
    } else {
        col = drawName(col, state + 1, p, vec2(0.0, -0.04), 0.3, st, away);
        // the next card's name rises as this one flies off (none after the last)
        if (state < 3) col = drawName(col, state + 2, p, vec2(0.0, -0.04), 0.3, st - CARD_LENGTH, 99.0);
    }

    col *= 1.0 + 0.12 * kick;
    gl_FragColor = vec4(col, 1.0);
}
