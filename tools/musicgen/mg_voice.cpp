// mg_voice: starting and rendering voices, and the two tonal engines.
//
// synth: up to seven detuned oscillators spread across the stereo field, a
//   second oscillator, a sine sub-octave and noise, through a state-variable
//   filter per side with its own envelope, then the amplifier envelope.
//   Pitch moves with a decaying pitch envelope, a bend over the note and a
//   delayed vibrato; modulation is computed every MG_CONTROL frames.
// fm: a sine carrier phase-modulated by a sine modulator (with feedback) and
//   a second modulator whose index decays three times as fast; the index
//   decays from its start value to a sustained fraction, which makes plucks
//   and bells. A second carrier detuned by a few cents gives width.
//
// Threads: whichever thread renders.
#include <algorithm>
#include <cmath>

#include "musicgen.h"

// ============================================================================
// Constants
// ============================================================================

namespace {

constexpr float kVibratoFade = 0.3f;   // seconds for the vibrato to fade in
constexpr float kSubLevelScale = 0.8f; // sub sine is rounder than a saw; keep it from dominating
constexpr float kSubFloorHz = 41.2f;   // E1: a sub-octave that would fall under it plays an octave up
constexpr float kTwoPi = 6.28318530718f;

// ============================================================================
// Internal functions
// ============================================================================

inline float soft_clip(float x, float drive) {
  if (drive <= 0.0f) return x;
  float k = 1.0f + drive;
  return mg_saturate(x * k) / mg_saturate(k);
}

// Whether an amplifier envelope has finished (released, or decayed to a zero sustain).
inline bool env_finished(const s_mgenv& e) {
  return e.stage == MG_ENV_DONE || (e.stage == MG_ENV_SUSTAIN && e.sustain <= 0.0f);
}

// Pitch offset in semitones at frame t of the voice.
float pitch_offset(const s_mgvoice* v, const float* p) {
  float secs = (float)v->t / MG_RATE;
  float semis = 0.0f;
  if (p[MG_P_PITCHAMT] != 0.0f) semis += p[MG_P_PITCHAMT] * std::exp(-secs / std::max(p[MG_P_PITCHDECAY], 1e-4f));
  if (p[MG_P_BEND] != 0.0f && v->gate > 0)
    semis += p[MG_P_BEND] * std::min(1.0f, (float)v->t / (float)v->gate);
  if (p[MG_P_VIBDEPTH] > 0.0f) {
    float fade = std::min(1.0f, std::max(0.0f, (secs - p[MG_P_VIBDELAY]) / kVibratoFade));
    semis += fade * p[MG_P_VIBDEPTH] * 0.01f * std::sin(kTwoPi * p[MG_P_VIBRATE] * secs);
  }
  return semis;
}

}  // namespace

// ============================================================================
// Public functions: voices
// ============================================================================

void mg_voice_start(s_mgvoice* v, const s_mginstrument* ins, const s_mgnote* note, uint32_t seed) {
  const float* p = ins->p;
  v->active = 1;
  v->wait = 0;
  v->t = 0;
  v->gate = note->gate;
  v->pitch = note->pitch;
  v->freq = mg_note_hz(note->pitch);
  v->vel = note->vel;
  v->amp = p[MG_P_LEVEL] * (1.0f - p[MG_P_VELSENS] + p[MG_P_VELSENS] * note->vel);
  mg_rand_seed(&v->rnd, seed);
  mg_rand_seed(&v->rnd2, seed ^ 0x9e3779b9u);
  v->e0 = v->e1 = v->e2 = 0.0f;
  v->subphase = 0.0f;
  v->fmfb = 0.0f;
  for (double& ph : v->fmphase) ph = 0.0;
  mg_env_init(&v->env, p[MG_P_ATTACK], p[MG_P_DECAY], p[MG_P_SUSTAIN], p[MG_P_RELEASE]);
  mg_env_init(&v->fenv, p[MG_P_FATTACK], p[MG_P_FDECAY], p[MG_P_FSUSTAIN], p[MG_P_FRELEASE]);
  for (int c = 0; c < 2; ++c) {
    mg_svf_init(&v->filt[c], (int)p[MG_P_FTYPE]);
    mg_svf_init(&v->filt2[c], MG_FILTER_LP);
  }
  switch (ins->engine) {
    case MG_ENGINE_SYNTH: mg_synth_start(v, ins); break;
    case MG_ENGINE_FM: mg_fm_start(v, ins); break;
    case MG_ENGINE_NOISE: mg_noise_start(v, ins); break;
    case MG_ENGINE_CROWD: mg_crowd_start(v, ins); break;
    default: mg_drum_start(v, ins); break;
  }
}

void mg_voice_render(s_mgvoice* v, const s_mginstrument* ins, float bright, float* left, float* right, int n) {
  if (!v->active || n <= 0) return;
  switch (ins->engine) {
    case MG_ENGINE_SYNTH: mg_synth_render(v, ins, bright, left, right, n); break;
    case MG_ENGINE_FM: mg_fm_render(v, ins, left, right, n); break;
    case MG_ENGINE_NOISE: mg_noise_render(v, ins, bright, left, right, n); break;
    case MG_ENGINE_CROWD: mg_crowd_render(v, ins, left, right, n); break;
    default: mg_drum_render(v, ins, left, right, n); break;
  }
}

// ============================================================================
// Public functions: synth engine
// ============================================================================

void mg_synth_start(s_mgvoice* v, const s_mginstrument* ins) {
  const float* p = ins->p;
  const int uni = std::max(1, std::min(MG_MAX_UNISON, (int)p[MG_P_UNISON]));
  const float spread = p[MG_P_SPREAD] / 1200.0f;  // octaves between the outermost
  const float width = p[MG_P_WIDTH];
  for (int i = 0; i < uni; ++i) {
    float x = uni > 1 ? (float)i / (float)(uni - 1) * 2.0f - 1.0f : 0.0f;  // -1..1
    v->detune[i] = std::exp2(0.5f * spread * x);
    // Alternate sides so neighbouring detunes do not bunch on one side.
    float side = (i & 1) ? -x : x;
    v->oscpan[i] = 0.5f * (1.0f - side * width);
    float phase = uni > 1 ? mg_rand_uni(&v->rnd) : 0.0f;
    mg_osc_init(&v->osc[i], (int)p[MG_P_WAVE], v->freq * v->detune[i], phase);
    v->osc[i].pw = p[MG_P_PW];
  }
  v->detune[MG_MAX_UNISON] = std::exp2(p[MG_P_DETUNE2] / 12.0f);
  mg_osc_init(&v->osc[MG_MAX_UNISON], (int)p[MG_P_WAVE2], v->freq * v->detune[MG_MAX_UNISON], 0.0f);
  v->osc[MG_MAX_UNISON].pw = p[MG_P_PW];
}

void mg_synth_render(s_mgvoice* v, const s_mginstrument* ins, float bright, float* l, float* r, int n) {
  const float* p = ins->p;
  const int uni = std::max(1, std::min(MG_MAX_UNISON, (int)p[MG_P_UNISON]));
  const float unigain = 2.0f / std::sqrt((float)uni);
  const float mix2 = p[MG_P_MIX2], sub = p[MG_P_SUB] * kSubLevelScale, noise = p[MG_P_NOISE];
  const float subinc = (0.5f * v->freq < kSubFloorHz ? v->freq : 0.5f * v->freq) / MG_RATE;
  const float drive = p[MG_P_DRIVE];
  const float res = p[MG_P_RES];
  const float keyoct = p[MG_P_KEYTRACK] * (v->pitch - 60.0f) / 12.0f + p[MG_P_VELCUT] * (v->vel - 0.8f) + bright;
  float ratio = 1.0f;
  for (int i = 0; i < n; ++i) {
    if ((v->t % MG_CONTROL) == 0) {
      float semis = pitch_offset(v, p);
      ratio = std::exp2(semis / 12.0f);
      for (int k = 0; k < uni; ++k) mg_osc_setfreq(&v->osc[k], v->freq * v->detune[k] * ratio);
      mg_osc_setfreq(&v->osc[MG_MAX_UNISON], v->freq * v->detune[MG_MAX_UNISON] * ratio);
      float cutoff = p[MG_P_CUTOFF] * std::exp2(keyoct + p[MG_P_ENVAMT] * v->fenv.level);
      mg_svf_set(&v->filt[0], cutoff, res);
      v->filt[1].a1 = v->filt[0].a1;
      v->filt[1].a2 = v->filt[0].a2;
      v->filt[1].a3 = v->filt[0].a3;
      v->filt[1].k = v->filt[0].k;
    }
    if (v->t == v->gate) {
      mg_env_release(&v->env);
      mg_env_release(&v->fenv);
    }
    float sl = 0.0f, sr = 0.0f;
    for (int k = 0; k < uni; ++k) {
      float s = mg_osc_next(&v->osc[k]);
      sl += s * v->oscpan[k];
      sr += s * (1.0f - v->oscpan[k]);
    }
    sl *= unigain;
    sr *= unigain;
    float common = 0.0f;
    if (mix2 > 0.0f) common += mix2 * mg_osc_next(&v->osc[MG_MAX_UNISON]);
    if (sub > 0.0f) {
      common += sub * mg_sinef(v->subphase);
      v->subphase += subinc * ratio;
      if (v->subphase >= 1.0f) v->subphase -= 1.0f;
    }
    if (noise > 0.0f) {
      sl += noise * mg_rand_bi(&v->rnd);
      sr += noise * mg_rand_bi(&v->rnd2);
    }
    sl = mg_svf_next(&v->filt[0], sl + common);
    sr = mg_svf_next(&v->filt[1], sr + common);
    float e = mg_env_next(&v->env) * v->amp;
    mg_env_next(&v->fenv);
    l[i] += soft_clip(sl, drive) * e;
    r[i] += soft_clip(sr, drive) * e;
    ++v->t;
    if (env_finished(v->env)) {
      v->active = 0;
      return;
    }
  }
}

// ============================================================================
// Public functions: FM engine
// ============================================================================

void mg_fm_start(s_mgvoice* v, const s_mginstrument* ins) {
  (void)ins;
  v->e0 = 1.0f;  // index envelope (decays to 0, sustain added on top)
  v->e1 = 1.0f;  // second modulator's envelope
  v->e2 = 1.0f;  // pitch envelope
}

void mg_fm_render(s_mgvoice* v, const s_mginstrument* ins, float* l, float* r, int n) {
  const float* p = ins->p;
  // High notes get less modulation, as on a real bell or piano: keeps them sweet.
  const float keyscale = std::min(1.5f, std::exp2(-(v->pitch - 60.0f) / 36.0f));
  const float velscale = 0.5f + 0.5f * v->vel;
  const float index = p[MG_P_INDEX] * keyscale * velscale;
  const float index2 = p[MG_P_INDEX2] * keyscale * velscale;
  const float sus = p[MG_P_ISUSTAIN];
  const float c0 = std::exp(-1.0f / (std::max(p[MG_P_IDECAY], 1e-4f) * MG_RATE));
  const float c1 = std::exp(-3.0f / (std::max(p[MG_P_IDECAY], 1e-4f) * MG_RATE));
  const float fb = p[MG_P_FEEDBACK];
  const bool wide = p[MG_P_DETUNE] != 0.0f;
  const float det = std::exp2(p[MG_P_DETUNE] / 1200.0f);
  const bool second = p[MG_P_INDEX2] > 0.0f && p[MG_P_RATIO2] > 0.0f;
  double inc = v->freq / (double)MG_RATE;
  for (int i = 0; i < n; ++i) {
    if ((v->t % MG_CONTROL) == 0) inc = v->freq * std::exp2(pitch_offset(v, p) / 12.0f) / (double)MG_RATE;
    if (v->t == v->gate) mg_env_release(&v->env);
    float idx = index * (sus + (1.0f - sus) * v->e0);
    v->e0 *= c0;
    float m = mg_sine(v->fmphase[2] + fb * v->fmfb * (1.0f / kTwoPi));
    v->fmfb = m;
    float mod = idx * m;
    if (second) {
      mod += index2 * v->e1 * mg_sine(v->fmphase[3]);
      v->e1 *= c1;
    }
    mod *= (1.0f / kTwoPi);  // radians to cycles
    float e = mg_env_next(&v->env) * v->amp;
    float a = mg_sine(v->fmphase[0] + mod) * e;
    float b = wide ? mg_sine(v->fmphase[1] + mod) * e : a;
    l[i] += a;
    r[i] += b;
    v->fmphase[0] += inc;
    v->fmphase[1] += inc * det;
    v->fmphase[2] += inc * p[MG_P_RATIO];
    v->fmphase[3] += inc * p[MG_P_RATIO2];
    for (double& ph : v->fmphase)
      if (ph >= 1.0) ph -= std::floor(ph);
    ++v->t;
    if (env_finished(v->env)) {
      v->active = 0;
      return;
    }
  }
}
