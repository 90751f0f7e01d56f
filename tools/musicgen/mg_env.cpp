// mg_env: the ADSR envelope of every pitched voice.
//
// Attack rises linearly to 1, decay falls exponentially towards the sustain
// level, release falls exponentially towards 0. "Time" for the exponential
// stages is the time to cover 99% of the distance, as a synth panel shows it.
//
// Threads: whichever thread renders.
#include <cmath>

#include "musicgen.h"

// ============================================================================
// Constants
// ============================================================================

namespace {

constexpr float kMinTime = 0.0005f;    // seconds: shortest stage (avoids clicks)
constexpr float kDoneLevel = 1.0e-4f;  // -80 dB: the release counts as finished
constexpr float kRemain = 0.01f;       // distance left after a stage's time

}  // namespace

// ============================================================================
// Public functions
// ============================================================================

float mg_env_coef(float seconds) {
  if (seconds < kMinTime) seconds = kMinTime;
  return std::exp(std::log(kRemain) / (seconds * MG_RATE));
}

void mg_env_init(s_mgenv* env, float attack, float decay, float sustain, float release) {
  if (attack < kMinTime) attack = kMinTime;
  env->level = 0.0f;
  env->attackinc = 1.0f / (attack * MG_RATE);
  env->decaycoef = mg_env_coef(decay);
  env->sustain = sustain < 0.0f ? 0.0f : (sustain > 1.0f ? 1.0f : sustain);
  env->releasecoef = mg_env_coef(release);
  env->stage = MG_ENV_ATTACK;
}

void mg_env_release(s_mgenv* env) {
  if (env->stage != MG_ENV_DONE) env->stage = MG_ENV_RELEASE;
}

float mg_env_next(s_mgenv* env) {
  switch (env->stage) {
    case MG_ENV_ATTACK:
      env->level += env->attackinc;
      if (env->level >= 1.0f) {
        env->level = 1.0f;
        env->stage = MG_ENV_DECAY;
      }
      break;
    case MG_ENV_DECAY:
      env->level = env->sustain + (env->level - env->sustain) * env->decaycoef;
      if (std::fabs(env->level - env->sustain) < kDoneLevel) {
        env->level = env->sustain;
        env->stage = MG_ENV_SUSTAIN;
      }
      break;
    case MG_ENV_SUSTAIN:
      env->level = env->sustain;
      break;
    case MG_ENV_RELEASE:
      env->level *= env->releasecoef;
      if (env->level < kDoneLevel) {
        env->level = 0.0f;
        env->stage = MG_ENV_DONE;
      }
      break;
    default:
      env->level = 0.0f;
      break;
  }
  return env->level;
}
