// fx_break: the broken-television scenes. It serves two events with
// different images:
//
//   event 0 (the opening, 8 bars): a TV set warming up. The tube switches on
//     as a bright line that opens into snow; the tuner hunts across channels
//     (snow, a test card in the show's colours, the party audience); the
//     vertical hold rolls and the lines tear while the signal is weak. Over
//     the first four bars (state 0) the picture locks onto the audience in
//     silhouette; from bar 4 (state 1) the stage lights throb with the
//     heartbeat kick and sweep over the crowd; in the last bar (state 2, the
//     riser, under the dissolve into the intro) the camera pushes in on the
//     stage and the picture blows out.
//     Images: texture0 the audience, texture1 tape damage, texture2 the
//     audience again (the ghost image of a weak signal), texture3 the black
//     background (the blanking between rolled frames), texture8 the audience
//     (the push-in's zoom trail).
//   event 10 (the breakdown, 4 bars, one state each): black and tape damage;
//     bar 1 (state 0) waits on three blinking dots; bar 2 stutters the first
//     two flash frames on the beats, bar 3 the next two on eighths, bar 4 the
//     last two on sixteenths, each hit tinted orange or blue; on its last
//     beat the picture collapses to a line, into the flash that opens the
//     final drop.
//     Images: texture0 black, texture1 damage, texture2..7 the six flash
//     frames, texture8 the dots.
//
// The incoming event is drawn with state 0 and a negative "statetime", while
// "event" still names the event in force: a negative statetime thus means
// the event after `event`.
//
// Glossary: uv = texCoord (0..1, y = 1 at the top); img = uv in the pictures'
// own orientation (rows from the top); st = statetime (0.06 a tick, 0.48 a
// beat, 1.92 a bar; states begin on bar lines); lock = how well the set holds
// the signal, 0 (lost) to 1 (locked).

#pragma fold(event, state)

uniform int event;           // the event in force
uniform int state;           // state of the drawn event
uniform float statetime;     // 0.06 per tick since the state began
uniform sampler2D texture0;  // event 0: audience     event 10: black
uniform sampler2D texture1;  // damage (both events)
uniform sampler2D texture2;  // event 0: audience     event 10: flash 1
uniform sampler2D texture3;  // event 0: black        event 10: flash 2
uniform sampler2D texture4;  //                       event 10: flash 3
uniform sampler2D texture5;  //                       event 10: flash 4
uniform sampler2D texture6;  //                       event 10: flash 5
uniform sampler2D texture7;  //                       event 10: flash 6
uniform sampler2D texture8;  // event 0: audience     event 10: dots

// ---- Constants ------------------------------------------------------------------
const float TV_FPS = 30.0;     // snow and tearing change this often, per second
const float LOCK_FROM = 1.2;   // seconds into the show at which the picture starts to hold
const float LOCK_AT = 7.4;     // seconds into the show at which it holds
const float HUNT_UNTIL = 4.2;  // seconds into the show until which the tuner hunts channels

// ---- Internal functions ---------------------------------------------------------
// Tape damage over a picture: the damage image is white streaks on black;
// a streak lights the line and smears a little of its darkness beside it.
vec3 damage(vec3 col, vec4 d, float amount) {
  float s = dot(d.rgb, vec3(0.333));
  return col * (1.0 - 0.35 * s * amount) + d.rgb * amount;
}

// A test card in the show's colours: seven bars over a strip of blocks.
vec3 testcard(vec2 uv) {
  float i = floor(uv.x * 7.0);
  vec3 c = FIZZ_CREAM;
  if (i == 1.0) c = AMBER;
  if (i == 2.0) c = vec3(0.2, 0.95, 0.85);
  if (i == 3.0) c = ORANGE_2DP;
  if (i == 4.0) c = POOL_LIGHT;
  if (i == 5.0) c = vec3(0.85, 0.25, 0.1);
  if (i == 6.0) c = POOL_DEEP;
  if (uv.y < 0.22) {
    float j = floor(uv.x * 5.0);
    c = mod(j, 2.0) < 0.5 ? POOL_DEEP * 0.6 : FIZZ_CREAM * 0.8;
  }
  return c * 0.85;
}

// TV snow at px (720-line pixels), frame f: grains a little wider than high,
// one a line of a 720-line picture at any size. At the show's own size the
// lines are the target's and px.y is read as it comes (the hash would take a
// snapped value a rounding away from it for another grain).
float snow(vec2 px, float f) {
  float line = resolution.y == PICTURE.y ? px.y : floor(px.y) + 0.5;
  return hash21(vec2(floor(px.x * 0.6), line) + vec2(f * 17.31, f * 3.71));
}

// A flash frame punched in at the start of its hit: zoomed a little and
// fading; `hit` runs 0..1 through the hit.
vec3 flashframe(sampler2D s, vec2 img, float hit) {
  float zoom = 1.0 + 0.12 * exp(-hit * 6.0);
  vec2 uv = 0.5 + (img - 0.5) / zoom;
  uv.y += 0.04 * hit * hit;  // the tape drags the frame down as it fades
  return texture2D(s, uv).rgb * exp(-hit * 3.2);
}

// ---- The opening (event 0) ---------------------------------------------------------
vec3 opening(vec2 uv, vec2 px, float t, float st) {
  float f = floor(t * TV_FPS);
  float lock = smoothstep(LOCK_FROM, LOCK_AT, t);
  float beat = fract(st / BEAT);
  // The heartbeat: a thump and a softer echo a sixteenth later.
  float heart = exp(-beat * 9.0) + 0.55 * step(0.25, beat) * exp(-(beat - 0.25) * 11.0);
  float kicks = state >= 1 ? 1.0 : 0.0;
  float riser = state == 2 ? clamp(st / BAR, 0.0, 1.0) : 0.0;
  // A kick knocks the hold for an instant.
  float knock = kicks * exp(-beat * 14.0) * 0.6;
  float weak = max(1.0 - lock, knock);

  // Vertical hold: rolls while weak, with a blanking bar at the seam.
  float roll = fract(t * 0.85) * (1.0 - lock) * (1.0 - lock) + knock * 0.03;
  float y = fract(uv.y + roll);
  float blank = smoothstep(0.0, 0.03, y) * smoothstep(1.0, 0.985, y);

  // Horizontal tearing and a wavy line sync.
  float line = floor(y * 180.0);
  float tear = (hash21(vec2(line, f)) - 0.5) * 0.03 * weak;
  tear += 0.012 * weak * sin(y * 23.0 + t * 6.0);
  tear += step(0.985, hash21(vec2(floor(y * 24.0), f))) * 0.08 * weak;
  vec2 suv = vec2(uv.x + tear, y);
  vec2 img = vec2(suv.x, 1.0 - suv.y);

  // Push-in during the riser.
  float push = 1.0 + 0.18 * riser * riser;
  vec2 pimg = 0.5 + (img - 0.5) / push;

  // The channel the tuner has reached.
  float ch = hash11(floor(t * 2.6) + 1.0);
  bool bars = t < HUNT_UNTIL && ch < 0.33;
  bool nothing = t < HUNT_UNTIL && ch > 0.8;

  vec3 pic = texture2D(texture0, pimg).rgb;
  vec3 ghost = texture2D(texture2, pimg + vec2(0.018, 0.0)).rgb;
  pic += ghost * 0.22 * (0.3 + 0.7 * weak);
  if (bars) pic = testcard(suv);
  if (nothing) pic = vec3(0.0);

  // Stage lights: beams from the stage, seen where the picture is bright.
  float lum = dot(pic, vec3(0.299, 0.587, 0.114));
  vec2 sp = vec2((img.x - 0.5) * resolution.x / resolution.y, 1.05 - img.y);
  float ang = atan(sp.x, sp.y);
  float beams = pow18(max(0.0, cos(ang * 7.0 - t * 0.9))) + pow24(max(0.0, cos(ang * 5.0 + t * 0.6 + 1.3)));
  vec3 beamc = mix(ORANGE_2DP, POOL_LIGHT, 0.5 + 0.5 * sin(t * 0.5));
  pic += beamc * beams * lum * (0.25 + 0.9 * heart * kicks) * lock;
  pic *= 0.8 + 0.55 * heart * kicks + 0.6 * riser;

  // Zoom trail of the push-in.
  if (riser > 0.0) {
    vec2 zimg = 0.5 + (img - 0.5) / (push * (1.0 + 0.06 * riser));
    pic += texture2D(texture8, zimg).rgb * 0.45 * riser;
  }

  // Tape damage, stronger while the signal is weak and on the kicks.
  vec4 dmg = texture2D(texture1, vec2(img.x, img.y * 0.6 + t * 0.37));
  pic = damage(pic, dmg, 0.2 + 0.9 * weak + 0.5 * heart * kicks);

  // Snow over everything, thinning as the set locks; between the rolled
  // frames lies the black of the blanking.
  float sn = snow(px, f);
  float amount = mix(0.95, 0.1, lock) + 0.3 * knock + 0.25 * riser;
  if (nothing) amount = 1.0;
  vec3 col = mix(pic, vec3(sn) * (0.85 + 0.3 * hash11(line + f)), clamp(amount, 0.0, 1.0));
  col = mix(texture2D(texture3, img).rgb, col, blank);

  // The tube switching on: a bright line that opens into the picture.
  float on = smoothstep(0.3, 0.85, t);
  float halfh = 0.002 + 0.5 * on * on;
  float beam = smoothstep(halfh, halfh - 0.004, abs(uv.y - 0.5));
  col = col * beam + FIZZ_CREAM * beam * (1.0 - on) * 1.6;
  col *= smoothstep(0.0, 0.06, t);
  return col;
}

// ---- The breakdown (event 10) -----------------------------------------------------
// The stutter keeps its colour: every hit is tinted, orange on the first of
// a pair and blue on the second, and never fades below nearly half its
// frame, and the tape's streaks take the hit's tint, so the breakdown never
// sinks into a grey wash of damage. Over the last beat (the breath before the final drop)
// the set gives out: the picture collapses to a bright line, as a tube
// switched off, and the flash into the drop blooms out of that line.
vec3 breakdown(vec2 uv, vec2 px, float t, float st, bool incoming) {
  vec2 img = vec2(uv.x, 1.0 - uv.y);
  float f = floor(t * TV_FPS);
  // The collapse: 0 until the last beat of the last bar, 1 at its end.
  float collapse = state == 3 ? smoothstep(3.0 * BEAT, 3.9 * BEAT, st) : 0.0;
  float halfh = 0.5 * (1.0 - collapse) + 0.004;
  vec2 cimg = vec2(img.x, 0.5 + (img.y - 0.5) / (2.0 * halfh));
  vec3 col = texture2D(texture0, cimg).rgb;

  // Damage in bursts that change every sixteenth.
  float burst = step(0.55, hash11(floor(st / (BEAT * 0.25)) + float(state) * 31.0));
  vec4 dmg = texture2D(texture1, vec2(cimg.x + 0.1 * hash11(f), cimg.y * 0.7 + t * 0.9));
  float ramp = 0.3 + 0.1 * float(state);
  if (incoming) { burst = 0.5; ramp = 0.2; }
  vec3 tint = vec3(1.0);

  if (!incoming) {
    if (state == 0) {
      // Waiting: the dots blink on the first half of every beat.
      float blink = step(fract(st / BEAT), 0.5);
      vec4 dots = texture2D(texture8, img);
      col = mix(col, dots.rgb, dots.a * blink);
    } else {
      // Stutter: the hit length halves from bar to bar.
      float div = state == 1 ? 1.0 : (state == 2 ? 0.5 : 0.25);
      float len = BEAT * div;
      float k = floor(st / len);
      float hit = fract(st / len);
      bool second = mod(k, 2.0) > 0.5;
      vec3 fl;
      if (state == 1) fl = second ? flashframe(texture3, cimg, hit) : flashframe(texture2, cimg, hit);
      else if (state == 2) fl = second ? flashframe(texture5, cimg, hit) : flashframe(texture4, cimg, hit);
      else fl = second ? flashframe(texture7, cimg, hit) : flashframe(texture6, cimg, hit);
      tint = second ? POOL_LIGHT : AMBER;
      // fl faded by exp(-3.2 hit); the held part keeps nearly half the frame
      // in the hit's tint, so a dim instant still reads as a picture
      float fade = exp(-hit * 3.2);
      vec3 held = fl / max(fade, 1e-3) * tint * 0.45 * (1.0 - fade);
      // the grey frames (the stripes, the spiral) take the hit's colour too
      vec3 frame = fl + held;
      frame = mix(frame, dot(frame, vec3(0.299, 0.587, 0.114)) * tint * 1.5, 0.7);
      col = max(col, frame);
      // A white pop at the very start of each hit.
      col += FIZZ_CREAM * exp(-hit * 30.0) * 0.25;
    }
  }
  col = damage(col, dmg * vec4(tint, 1.0), min(ramp + burst * 0.4, 0.7));
  // A faint scatter of snow keeps the black alive.
  col += vec3(snow(px, f)) * 0.06;
  // Outside the collapsing picture the tube is black; its line glows.
  float inside = smoothstep(halfh, halfh - 0.006, abs(uv.y - 0.5));
  float glow = collapse * exp(-abs(uv.y - 0.5) * 90.0) * smoothstep(0.8, 0.3, abs(uv.x - 0.5));
  return col * inside * (1.0 + 1.5 * collapse) + mix(AMBER, FIZZ_CREAM, collapse) * glow * 1.4;
}

void main() {
  vec2 uv = texCoord;
  vec2 px = picturePixel();
  float st = statetime;
  // The opening is event 0, never drawn as incoming; the breakdown is
  // event 10, drawn as incoming while event 9 is in force. Testing "event"
  // alone lets a program folded to one event hold one of the two, and
  // only the images its state shows.
  bool incoming = event == 9;
  vec3 col;
  if (event == 0) col = opening(uv, px, time, st);
  else col = breakdown(uv, px, time, st, incoming);
  // the breakdown comes out of the white of the flash that brought it in
  if (event == 10 && state == 0) col = mix(col, vec3(1.0), entryFlash(st));
  gl_FragColor = vec4(clamp(col, 0.0, 1.0), 1.0);
}
