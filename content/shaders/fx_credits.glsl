// fx_credits: event 5, the credits, a card per two bars over a busy pool.
//
// Card 0 is the code: "code" and both its names; cards 1 to 3 one name of
// music & gfx each. The camera tracks sideways across the card and cuts
// hard on every bar line to a new framing (closer, the other way on odd
// cards); between cards there is no cross-fade either: the next card is
// cut in on its downbeat, its name popping into shape (squash, then
// stretch) and its role tag stamped down with a splash of ink. Dravo, the
// second name of card 0, slides in under Pelnik over beat 2 and lands on
// beat 3; the names never cover each other. The tag is drawn large: its
// tall letters stand at least half the name's cap height. Each role has
// its own small drawn motif beside its tag: a blinking "</>" for code, an
// equaliser that jumps on every beat for music & gfx. The kick pulses the
// name and the motif; behind it all the pool never sits still: rays turn,
// bokeh rises at two depths (parallax with the tracking), rings run out on
// the beat and the orange swell surges on the kick.
//
// Images: texture0..texture4 the five names (clamped to border: transparent
// outside 0..1), texture6 and texture7 the two role labels (repeat, masked
// to their box here). Slot 5 is empty and is never read.
// States: 0..3, two bars each: state 0 is names 0 and 1 with label 1 (code),
// states 1..3 names 2..4 with label 2. The last bar of state 3 lies under
// the transition into the next event, so every name has a full bar before
// anything covers it.
// Time: 0.48 statetime units = one beat. The incoming event (negative
// statetime, during the dissolve) is state 0 before its downbeat: the
// camera already tracks across the first card while it dissolves in.

#pragma fold(state)

uniform int state;
uniform float statetime;
uniform sampler2D texture0, texture1, texture2, texture3, texture4, texture6, texture7;

// ---- Constants ----------------------------------------------------------------
const float NAME_ASPECT = 4.0;      // width / height of a name card
const float LABEL_ASPECT = 4.0;     // width / height of a label
const float NAME_H = 0.25;          // a name card's height, screen heights (cap height 0.59 of it)
const float LABEL_H = 0.22;         // a label's height (its tall letters 0.4 of it)
const float SLIDE = 0.48;           // Dravo's slide in under Pelnik: one beat
const float TRACK = 0.12;           // the camera's sideways speed, screen heights per statetime unit
const float CLOSE = 1.16;           // the second bar's framing: this much closer

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

vec4 nameImage(int n, vec2 uv) {
    if (n == 0) return texture2D(texture0, uv);
    if (n == 1) return texture2D(texture1, uv);
    if (n == 2) return texture2D(texture2, uv);
    if (n == 3) return texture2D(texture3, uv);
    return texture2D(texture4, uv);
}

// A name whose box is centred at c laid over col (its card carries its own
// navy rim and shadow), t statetime units after it lands: squashed flat on
// the landing beat, then stretched, then settled, and a little larger on
// every kick. Before it lands (t < 0) it is drawn as it is, unpopped.
vec3 drawName(vec3 col, int n, vec2 p, vec2 c, float t, float kick) {
    float pop = t < 0.0 ? 0.0 : exp(-t * 7.0) * fastCos(t * 22.0);
    float beat = 1.0 + 0.035 * kick;
    vec2 size = vec2(NAME_ASPECT * NAME_H * (1.0 + 0.22 * pop), NAME_H * (1.0 - 0.3 * pop)) * beat;
    vec2 l = (p - c) / size + 0.5;
    vec4 k = nameImage(n, vec2(l.x, 1.0 - l.y));
    return mix(col, k.rgb, clamp(k.a, 0.0, 1.0));
}

// The role label stamped down t statetime units after the card's downbeat
// (it is there from the downbeat on): big and turned, then flat with a
// shake; a ring of ink splashes out from under it. Returns the colour over
// col.
vec3 drawLabel(vec3 col, bool code, vec2 p, vec2 c, float t) {
    if (t < 0.0) return col;
    float stamp = clamp(t / 0.09, 0.0, 1.0);
    float scale = mix(1.35, 1.0, stamp * stamp) * (1.0 + 0.05 * exp(-t * 12.0));
    float ang = mix(0.2, 0.0, stamp) + 0.03 * exp(-t * 6.0) * fastSin(t * 40.0);
    vec2 d = fastRot(-ang) * (p - c) / (vec2(LABEL_ASPECT, 1.0) * LABEL_H * scale);
    vec2 l = d + 0.5;
    float inBox = step(0.0, l.x) * step(l.x, 1.0) * step(0.0, l.y) * step(l.y, 1.0);
    vec2 uv = vec2(l.x, 1.0 - l.y);
    vec4 k = (code ? texture2D(texture6, uv) : texture2D(texture7, uv)) * inBox;
    // the ink: a ring of drops that runs out and thins
    float r = length((p - c) * vec2(0.5, 1.0)) / LABEL_H;
    float ring = t * 3.0 + 0.45;
    float drops = step(0.55, hash21(floor(vec2(fastAtan2(p.y - c.y, p.x - c.x) * 9.0, 1.0))));
    float ink = (1.0 - smoothstep(0.0, 0.05, abs(r - ring))) * drops * exp(-t * 5.0);
    col = mix(col, AMBER, ink * 0.8);
    return mix(col, k.rgb, clamp(k.a, 0.0, 1.0));
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
    float shape = kickPulse(st);

    // The camera: a sideways track that cuts on the bar line to a closer
    // framing further along; odd cards track the other way. The kick
    // punches the zoom in a little.
    float bar = st < BAR ? 0.0 : 1.0;
    float dir = mod(float(state), 2.0) < 0.5 ? 1.0 : -1.0;
    float inBar = st - bar * BAR;
    float zoom = (bar < 0.5 ? 1.0 : CLOSE) * (1.0 + 0.04 * kick);
    vec2 cam = vec2(dir * ((bar < 0.5 ? -0.13 : -0.02) + TRACK * inBar), bar < 0.5 ? 0.0 : -0.04);
    vec2 screen = aspectPoint();
    vec2 p = screen / zoom + cam;

    // The pool, in the screen's frame with a slower parallax: a deep
    // gradient, turning rays, caustic shimmer, bokeh rising at two depths.
    vec2 bp = screen + cam * 0.35;
    vec3 col = mix(NAVY, POOL_DEEP, smoothstep(-0.5, 0.6, bp.y + 0.1 * fastSin(bp.x * 2.0 + time * 0.8)));
    vec2 rc = bp - vec2(0.0, -0.55);
    float ray = smoothstep(0.2, 0.8, 0.5 + 0.5 * fastSin(fastAtan2(rc.y, rc.x) * 14.0 - time * 2.4));
    col += POOL_LIGHT * ray * 0.22 * smoothstep(1.3, 0.2, length(rc)) * (0.7 + 0.6 * pulse);
    float caustic = valueNoise(bp * 5.0 + vec2(time * 0.6, time * 0.4)) + valueNoise(bp * 9.0 - vec2(time * 0.5, -time * 0.8));
    col += POOL_LIGHT * pow3(abs(caustic - 1.0)) * 0.5 * smoothstep(-0.3, 0.5, bp.y);
    for (int i = 0; i < 2; i++) {
        float fi = float(i);
        float scale = 3.0 + fi * 2.5;
        vec2 q = (screen + cam * (0.6 + 0.6 * fi)) * scale + vec2(fi * 0.37, -time * (0.8 + 0.5 * fi));
        vec2 cell = floor(q);
        vec2 f = q - cell - 0.5;
        float h = hash21(cell + fi * 7.0);
        vec2 c = (vec2(hash21(cell + 3.0), hash21(cell + 5.0)) - 0.5) * 0.5;
        float r = (0.12 + 0.2 * h) * (1.0 + 0.25 * shape);
        float blur = 0.12 + 0.1 * (1.0 - fi);
        float disc = 1.0 - smoothstep(r - blur, r, length(f - c));
        vec3 tint = mix(POOL_LIGHT, AMBER, step(0.7, h));
        col += tint * disc * (0.16 + 0.1 * fi) * step(0.35, h);
    }
    // A ring of light runs out from the card on every beat.
    float ringR = beat * 1.4;
    col += FIZZ * 0.2 * (1.0 - smoothstep(0.0, 0.04, abs(length(p * vec2(0.6, 1.0)) - ringR))) * (1.0 - beat) * step(0.0, st);
    // The orange swell along the bottom, surging on the kicks.
    float wave = -0.4 + 0.035 * fastSin(bp.x * 3.0 + time * 1.8) + 0.02 * fastSin(bp.x * 7.0 - time * 2.6) + 0.06 * kick;
    float swell = 1.0 - smoothstep(wave - 0.004, wave + 0.004, screen.y);
    vec3 soda = mix(ORANGE, AMBER, smoothstep(-0.5, wave, screen.y));
    vec2 fq = vec2(bp.x * 70.0, (screen.y - time * 0.45) * 70.0);
    float fizzDot = 1.0 - smoothstep(0.18, 0.32, length(fract(fq) - 0.5));
    soda += FIZZ * step(0.9, hash21(floor(fq))) * fizzDot * 0.6;
    col = mix(col, soda, swell * 0.92);
    col += AMBER * exp(-abs(screen.y - wave) * 40.0) * 0.35;
    // Dim the pool where the type sits, so that the cream names stand out.
    vec2 dp = (p - vec2(0.0, code ? 0.0 : 0.06)) * vec2(0.8, 1.9);
    col *= 1.0 - 0.35 * exp(-dot(dp, dp) * 2.0);

    // The card: the role tag and its motif above, the name or names below.
    vec2 labelAt = code ? vec2(-0.2, 0.27) : vec2(-0.12, 0.27);
    float motifX = code ? 0.42 : 0.62;   // beside the tag's right end
    vec2 mp = (p - labelAt - vec2(motifX, 0.0)) / (1.5 * (1.0 + 0.2 * shape));
    float motif = code ? codeMotif(mp, st) : eqMotif(mp, st);
    col = mix(col, FIZZ, motif * step(0.0, st));
    col = drawLabel(col, code, p, labelAt, st);
    if (code) {
        // Pelnik on the downbeat (already there while the card dissolves
        // in), Dravo sliding in from the side over beat 2, landing on beat 3.
        col = drawName(col, 0, p, vec2(-0.06, 0.0), st, shape);
        float t = st - 2.0 * BEAT;
        float slide = 1.0 - easeOutBack((t + SLIDE) / SLIDE);
        if (t > -SLIDE) col = drawName(col, 1, p, vec2(0.1 + 1.8 * slide * dir, -0.21), t, shape);
    } else {
        col = drawName(col, state + 1, p, vec2(0.0, 0.02), st, shape);
    }

    col *= 1.0 + 0.12 * kick;
    gl_FragColor = vec4(col, 1.0);
}
