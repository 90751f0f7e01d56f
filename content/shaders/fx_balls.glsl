// fx_balls: event 6, glossy orange metaballs in a room of their own. Seven
// blobs of soda float in 3D over a tiled pool floor and a camera orbits them;
// on every bar line the camera cuts to a new angle, height and distance.
// The blobs swell on every kick and are lit like wet candy (a hot highlight,
// a cool rim reflecting the backdrop, an orange glow within) and light the
// floor under them. State 0 (bars 0-3): the blobs roam and the "orange" card
// jumps between the top and the bottom of the picture on the bar lines.
// State 1 (bars 4-7): they wheel in a level ring that is pulled together on
// every beat, merging into one drop, and spring apart again; the card rides
// low, in front of them.
//
// The blobs are spheres projected by the camera: each becomes a circle of
// its projected radius, and the screen field is the classic sum of
// r^2 / d^2 over those circles, its surface where it reaches 1; its analytic
// gradient gives the normal without extra evaluations, and the field's
// weighted depth darkens the far blobs. One loop projects the blobs, so
// the 3D costs one pass over seven.
//
// Images: texture0 ballsbg (repeats), the backdrop, the floor tiles and the
// reflection on the blobs; texture1 orange (a full-screen card, repeats:
// masked here).
// Time: 0.48 statetime units = one beat. The incoming event (negative
// statetime, during the bars transition) is state 0, framed as bar 0.

#pragma fold(state)

uniform int state;
uniform float statetime;
uniform sampler2D texture0, texture1;

// ---- Constants ----------------------------------------------------------------
const float FLOOR_Y = -0.72;      // the floor plane, world units
const float FOCAL = 1.3;          // screen heights per unit of depth
const float CARD_HEIGHT = 0.62;   // the card's picture height, screen heights

// ---- Helpers ------------------------------------------------------------------
// The backdrop at screen point p: ballsbg toned to a pool-blue duotone by
// its brightness, so the orange stands out.
vec3 duotone(vec3 c) {
    float lum = dot(c, vec3(0.3, 0.59, 0.11));
    return mix(NAVY, POOL_LIGHT, smoothstep(0.35, 0.95, lum));
}
vec3 backdrop(vec2 uv) { return duotone(texture2D(texture0, uv).rgb); }

// Centre (world) and radius of ball i at this moment.
vec4 ball(int i, float kick, bool ring, float gather) {
    float fi = float(i);
    vec3 c;
    if (!ring) {
        // Each blob wanders round a home of its own, spread round the room,
        // so they meet in twos and threes instead of one lump.
        vec3 home = vec3(0.8 * fastCos(fi * 2.4), 0.12 * fastSin(fi * 1.7), 0.6 * fastSin(fi * 2.4));
        c = home + vec3(fastSin(time * (0.53 + 0.11 * fi) + fi * 1.9) * 0.75,
                        fastSin(time * (0.71 + 0.07 * fi) + fi * 2.7) * 0.3,
                        fastSin(time * (0.47 + 0.09 * fi) + fi * 4.1) * 0.5);
    } else {
        float a = time * 0.9 + fi * (2.0 * PI / 7.0);
        float rr = mix(1.25, 0.1, gather) * (1.0 + 0.12 * fastSin(time * 1.3 + fi));
        c = vec3(fastCos(a) * rr, 0.08 * fastSin(a * 2.0 + time), fastSin(a) * rr);
    }
    float r = (0.15 + 0.035 * mod(fi * 3.0, 4.0)) * (1.0 + 0.35 * kick);
    return vec4(c, r);
}

// The camera of bar n of the event: yaw, pitch (radians), distance and a
// sideways shift of the framing (screen heights). Bar 0 faces the card head
// on; every later bar cuts to a new side of the blobs.
vec4 barCamera(float n) {
    if (n < 0.5) return vec4(0.0, 0.22, 3.0, 0.0);
    float h = hash11(n * 5.31 + 2.9);
    float side = mod(n, 2.0) < 0.5 ? 1.0 : -1.0;
    return vec4(n * 2.1 + h, mix(0.12, 0.62, hash11(n * 1.77 + 0.4)), mix(2.5, 3.5, h), side * 0.12);
}

// ---- Scene ------------------------------------------------------------------------
void main() {
    vec2 p = aspectPoint();
    float aspect = resolution.x / resolution.y;
    float st = statetime;
    float inState = max(st, 0.0);
    float kick = kickPulse(st);
    float hit = kickHit(st);
    bool ring = state == 1;
    float bar = floor(inState / BAR) + (ring ? 4.0 : 0.0);
    // The ring gathers to the centre on the beat and springs back out.
    float phase = fract(inState / BEAT);
    float gather = ring ? exp(-phase * 3.5) * (1.0 - exp(-phase * 40.0)) : 0.0;

    // The camera: the bar's framing, orbiting slowly within the bar.
    vec4 cam = barCamera(bar);
    if (ring) cam.y += 0.35;   // from higher up, the ring reads as a ring
    float yaw = cam.x + 0.12 * (inState - (bar - (ring ? 4.0 : 0.0)) * BAR);
    float cp = fastCos(cam.y);
    vec3 eye = cam.z * vec3(cp * fastSin(yaw), fastSin(cam.y), cp * fastCos(yaw));
    vec3 fwd = -eye / cam.z;
    vec3 right = normalize(vec3(fwd.z, 0.0, -fwd.x));
    vec3 up = cross(right, fwd);
    vec2 sp = p - vec2(cam.w, 0.0);
    vec3 ray = right * sp.x + up * sp.y + fwd * FOCAL;

    // Where the ray meets the floor (far away when it looks up).
    float tFloor = ray.y < -1e-3 ? (FLOOR_Y - eye.y) / ray.y : 1e3;
    vec2 floorHit = eye.xz + ray.xz * tFloor;

    // The blobs: projected circles summed into the screen field, their
    // depth weighted in.
    float field = 0.0;
    float depthSum = 0.0;
    vec2 grad = vec2(0.0);
    for (int i = 0; i < 7; i++) {
        vec4 b = ball(i, kick, ring, gather);
        vec3 rel = b.xyz - eye;
        float z = dot(rel, fwd);
        float k = FOCAL / z;
        vec2 d = sp - vec2(dot(rel, right), dot(rel, up)) * k;
        float rs = b.w * k;
        float inv = 1.0 / (dot(d, d) + 1e-5);
        float f = rs * rs * inv;
        field += f;
        depthSum += f * z;
        grad -= (2.0 * f * inv) * d;
    }

    // Backdrop above the horizon (wrapping round with the yaw), the floor's
    // tiles below it, fogged into the backdrop with distance; each is read
    // only where it shows.
    float fog = tFloor < 1e3 ? smoothstep(2.5, 5.5, tFloor * length(ray)) : 1.0;
    vec3 col = vec3(0.0);
    if (fog > 0.0) col = backdrop(vec2(p.x / aspect * 0.6 + yaw * 0.318, 0.5 - p.y * 0.8)) * (0.8 * fog);
    if (fog < 1.0) {
        vec3 tiles = backdrop(floorHit * 0.45);
        vec2 grid = abs(fract(floorHit * 2.0) - 0.5);
        tiles = mix(tiles, POOL_LIGHT, (1.0 - smoothstep(0.0, 0.04, 0.5 - max(grid.x, grid.y))) * 0.7);
        // The blobs' light on the floor under them, lit up by the kick.
        tiles += AMBER * 0.1 * smoothstep(0.15, 0.8, field) * (0.5 + hit);
        col += tiles * (1.0 - fog);
    }
    col *= 1.0 - 0.35 * smoothstep(0.3, 1.0, length(p));
    col += AMBER * smoothstep(0.3, 1.0, field) * 0.15 * (0.6 + 0.4 * hit);

    float surface = smoothstep(0.96, 1.04, field);
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
        vec3 env = backdrop(vec2(p.x / aspect + 0.5, 0.5 - p.y) + n.xy * 0.35);
        vec3 body = mix(EMBER_2DP, ORANGE, diff) * (0.45 + 0.7 * diff);
        body += AMBER * depth * 0.35;                       // light scattered inside
        body = mix(body, env * vec3(0.8, 0.9, 1.2) + POOL_LIGHT * 0.2, fres * 0.6);
        body += FIZZ * glint * 1.1 + POOL_LIGHT * shine * 0.25;
        body += FIZZ * 0.15 * hit * depth;
        // The far blobs sink into the room's shade.
        body *= mix(1.12, 0.62, smoothstep(cam.z - 0.5, cam.z + 0.6, depthSum / field));
        col = mix(col, body, surface);
    }

    // The card in front: high or low by the bar in state 0, low in state 1;
    // it bounces on the kick, with a soft drop shadow.
    float cardY = ring ? -0.3 : (mod(bar, 2.0) < 0.5 ? 0.26 : -0.26);
    if (st < 0.0) cardY = 0.26;
    float bounce = 1.0 + 0.06 * kick;
    vec2 cc = p - vec2(0.0, cardY + fastSin(time * 3.0) * 0.01);
    vec2 cl = cc / (vec2(PICTURE_ASPECT, 1.0) * CARD_HEIGHT * (ring ? 0.85 : 1.0) * bounce) + 0.5;
    if (abs(cl.x - 0.5) < 0.5 && abs(cl.y - 0.5) < 0.5) {
        vec2 sl = cl + vec2(-0.006, 0.012);
        float shadow = texture2D(texture1, vec2(sl.x, 1.0 - sl.y)).a;
        col = mix(col, NAVY * 0.4, shadow * 0.5);
        vec4 card = texture2D(texture1, vec2(cl.x, 1.0 - cl.y));
        col = mix(col, card.rgb, card.a);
    }

    gl_FragColor = vec4(col, 1.0);
}
