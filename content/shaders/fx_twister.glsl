// fx_twister: event 7, the build-up to the chorus. The classic twister: a
// square column, wrapped in the Sprox can texture, spinning and twisting row
// by row, over rays turning behind it like an old advert. State 0 (bars
// 0-3): one column in the middle, the grisp mark stamping in the corner on
// every bar. State 1 (bars 4-5): cut to white and orange rays, the column
// aside, and the Sprox girl sliding in to sway on the beat. State 2 (bars
// 6-7): cut to blue rays, three columns and the girl, spinning faster,
// lights strobing on every half beat as the build-up peaks.
//
// A twister row: the four corners of the column's square cross-section sit
// at cx + R sin(a + k pi/2); a face is visible where its right corner lies to
// the right of its left one, and s = 0..1 runs across it. So every face shows
// the full width of the texture, which is why it is clamped along S.
//
// Images: texture0 ballsbg (repeats), texture1 twister (clamped along S,
// repeats along T), texture2 the girl (repeats, masked here), texture3 grisp
// (repeats, masked here).
// Time: 0.48 statetime units = one beat; the twist grows through the event.
// The incoming event (negative statetime, during the flash) is state 0.

#pragma fold(state)

uniform int state;
uniform float statetime;
uniform sampler2D texture0, texture1, texture2, texture3;

// ---- Constants ----------------------------------------------------------------
const float HALF_PI = 1.5707963;
const float GIRL_ASPECT = 0.6667;   // width / height of the girl
const float GIRL_HEIGHT = 0.98;     // in screen heights
const float TEX_ASPECT = 2.0;       // height / width of the can texture

// ---- Helpers ------------------------------------------------------------------
float inBox(vec2 l) {
    return step(0.0, l.x) * step(l.x, 1.0) * step(0.0, l.y) * step(l.y, 1.0);
}

// One face of a twister row: if x lies on it, its s across the face, how
// squarely it faces us, and k (which quarter of the texture it shows, so
// that neighbouring faces differ); else the `hit` passed in.
vec4 face(float x, float xa, float xb, float k, float R, vec4 hit) {
    if (xb <= xa || x < xa || x >= xb) return hit;
    return vec4((x - xa) / (xb - xa), (xb - xa) / (R * 1.41421), k, 1.0);
}

// A twister column centred at cx with half-width R. `spin` turns it, `twist`
// is the turn per screen height, `scroll` slides the can along its length.
// The faces facing us tile the column's width without overlapping, so the
// visible face is found first and the texture is read once.
vec4 twister(vec2 p, float cx, float R, float spin, float twist, float scroll) {
    float a = spin + twist * p.y + 0.6 * sin(p.y * 2.3 + spin * 0.7);
    float x = p.x - cx - 0.04 * sin(p.y * 3.0 + spin);
    vec4 corners = R * sin(vec4(a, a + HALF_PI, a + PI, a + 3.0 * HALF_PI));
    vec4 hit = face(x, corners.x, corners.y, 0.0, R, vec4(0.0));
    hit = face(x, corners.y, corners.z, 1.0, R, hit);
    hit = face(x, corners.z, corners.w, 2.0, R, hit);
    hit = face(x, corners.w, corners.x, 3.0, R, hit);
    if (hit.w == 0.0) return vec4(0.0);
    // The silhouette fades over its outermost pixel and a half, so that the
    // column's edge is smooth, not stair-stepped, as it turns.
    float lo = min(min(corners.x, corners.y), min(corners.z, corners.w));
    float hi = max(max(corners.x, corners.y), max(corners.z, corners.w));
    float edge = clamp(min(x - lo, hi - x) * resolution.y / 1.5, 0.0, 1.0);
    // Faces are as tall as wide on the can: one texture repeat is 2R * 2.
    float t = -(p.y + scroll) / (2.0 * R * TEX_ASPECT) + hit.z * 0.25;
    vec3 c = texture2D(texture1, vec2(hit.x, t)).rgb;
    float facing = hit.y;
    // A glossy streak where the face turns towards the light, on the left.
    float streak = pow6(facing) * (1.0 - smoothstep(0.0, 0.35, abs(hit.x - 0.3)));
    return vec4(c * (0.3 + 0.75 * facing) + FIZZ * streak * 0.35, edge);
}

// Only the outline of a column, for its shadow: no texture read.
float twisterCover(vec2 p, float cx, float R, float spin, float twist) {
    float a = spin + twist * p.y + 0.6 * sin(p.y * 2.3 + spin * 0.7);
    float x = p.x - cx - 0.04 * sin(p.y * 3.0 + spin);
    vec4 corners = R * sin(vec4(a, a + HALF_PI, a + PI, a + 3.0 * HALF_PI));
    float lo = min(min(corners.x, corners.y), min(corners.z, corners.w));
    float hi = max(max(corners.x, corners.y), max(corners.z, corners.w));
    return step(lo, x) * step(x, hi);
}

// ---- Scene ------------------------------------------------------------------------
void main() {
    vec2 p = aspectPoint();
    float st = statetime;
    float phase = fract(st / BEAT);
    float kick = exp(-phase * 6.0);
    float half_ = exp(-fract(st / (BEAT * 0.5)) * 7.0);
    float barKick = exp(-fract(st / BAR) * 3.0);
    // Time into the event, for the build-up: states start at bars 0, 4, 6.
    float start = state == 1 ? 4.0 * BAR : (state == 2 ? 6.0 * BAR : 0.0);
    float eventTime = max(st + start, 0.0);
    float build = clamp(eventTime / (8.0 * BAR), 0.0, 1.0);
    // Speeds grow with the build-up; angles are their integrals over the
    // event, so they accelerate smoothly instead of jumping.
    float speedup = build * eventTime * 0.5;

    // Backdrop: ballsbg under turning rays, flashing on the beat.
    vec3 bg = texture2D(texture0, vec2(texCoord.x, 1.0 - texCoord.y)).rgb;
    vec2 rc = p - vec2(state == 0 ? 0.0 : -0.3, -0.1);
    float ang = atan(rc.y, rc.x) + time * 0.3 + 0.5 * speedup;
    float rays = smoothstep(-0.2, 0.2, sin(ang * 9.0));
    // Each state cuts to its own pair of ray colours.
    vec3 rayA = AMBER;
    vec3 rayB = mix(POOL_LIGHT, POOL_DEEP, 0.3);
    if (state == 1) {
        rayA = FIZZ;
        rayB = ORANGE;
    } else if (state == 2) {
        rayA = POOL_DEEP;
        rayB = POOL_LIGHT;
    }
    vec3 col = mix(bg, mix(rayA, rayB, rays), 0.82);
    col *= 1.0 - 0.35 * smoothstep(0.4, 1.1, length(p));
    float strobe = state == 2 ? half_ : kick;
    col += FIZZ * strobe * (0.08 + 0.12 * build);

    // The columns, with their shadows on the backdrop. The twist rides the
    // kick: every beat wrings the column a little over half a turn more from
    // top to bottom and lets it spring back within about 150 ms, the column
    // swells, and the spin ratchets on by a step that is over as quickly.
    float kp = kickPulse(st);
    float beats = eventTime / BEAT;
    float ratchet = st < 0.0 ? 0.0 : floor(beats) + 1.0 - exp(-fract(beats) * 10.0);
    float spin = time * 0.5 + 1.8 * speedup + 1.1 * ratchet;
    float twist = 1.6 + 1.8 * build * sin(time * 0.4) + (2.2 + 1.4 * build) * kp;
    float scroll = time * 0.4;
    float R = 0.16;
    if (state == 0) {
        col *= 1.0 - 0.4 * twisterCover(p + vec2(-0.05, 0.03), 0.0, R, spin, twist);
        vec4 tw = twister(p, 0.0, R * (1.0 + 0.1 * kp), spin, twist, scroll);
        col = mix(col, tw.rgb, tw.a);
    } else if (state == 1) {
        float cx = -0.42;
        col *= 1.0 - 0.4 * twisterCover(p + vec2(-0.05, 0.03), cx, R, spin, twist);
        vec4 tw = twister(p, cx, R * (1.0 + 0.1 * kp), spin, twist, scroll);
        col = mix(col, tw.rgb, tw.a);
    } else {
        // Three columns that never overlap: a pixel draws only the nearest.
        float fi = clamp(floor((p.x + 0.99) / 0.42), 0.0, 2.0);
        float cx = -0.78 + fi * 0.42;
        float r = R * 0.72 * (1.0 + 0.12 * (mod(floor(st / BEAT) - fi, 3.0) < 0.5 ? kp : 0.0));
        vec4 tw = twister(p, cx, r, spin * (1.0 + 0.15 * fi) + fi, twist, scroll + fi * 0.3);
        col = mix(col, tw.rgb, tw.a);
    }

    // The girl, from state 1: slides in from the right and sways on the beat.
    if (state > 0) {
        float enter = state == 1 ? 1.0 - pow3(1.0 - clamp(st / 0.7, 0.0, 1.0)) : 1.0;
        vec2 gp = p - vec2(mix(1.4, 0.5, enter), 0.0);
        gp = rot(0.04 * sin(st / BEAT * PI)) * (gp + vec2(0.0, 0.49)) - vec2(0.0, 0.49);
        gp.y += 0.012 * kick;
        vec2 gsize = vec2(GIRL_ASPECT, 1.0) * GIRL_HEIGHT;
        vec2 gl = gp / gsize + 0.5;
        vec4 girl = texture2D(texture2, vec2(gl.x, 1.0 - gl.y)) * inBox(gl);
        vec2 gsl = (gp + vec2(-0.025, 0.02)) / gsize + 0.5;
        float gshadow = texture2D(texture2, vec2(gsl.x, 1.0 - gsl.y)).a * inBox(gsl);
        col = mix(col, NAVY * 0.5, gshadow * 0.35);
        col = mix(col, girl.rgb, girl.a);
    }

    // The grisp mark: stamps down at the start of every bar, then turns.
    vec2 mc = state == 2 ? vec2(0.0, 0.25) : vec2(-0.66, 0.3);
    float msize = (state == 2 ? 0.34 : 0.3) * (1.0 + 0.35 * barKick * barKick) * (1.0 + 0.03 * kick);
    vec2 ml = rot(time * 0.5 + 0.2 * barKick) * (p - mc) / msize + 0.5;
    vec4 mark = texture2D(texture3, vec2(ml.x, 1.0 - ml.y)) * inBox(ml);
    col = mix(col, mark.rgb, mark.a);
    // out of the white of the flash that brought the event in
    if (state == 0) col = mix(col, vec3(1.0), entryFlash(st));

    gl_FragColor = vec4(col, 1.0);
}
