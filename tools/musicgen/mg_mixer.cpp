// mg_mixer: the sequencer's playback and the mixing desk.
//
// The song is rendered block by block (MG_BLOCK frames). Each block starts
// the notes that fall in it, at their exact frame; renders every sounding
// voice into its track's buffer; runs the sidechain detector on the key
// tracks (the kick); then passes every track through its strip (optional
// high-pass and low-pass, gain, ducking, pan, sends) into the dry bus, the
// delay send and the reverb send. The delay feeds the reverb a little; dry,
// delay and reverb are summed, the returns ducked by the kick as the pads
// are, then high-passed under the audible range and shaped by the master's
// mid cut and air shelf. Last, the score's levels: a section's level and
// the breaths ("mute", level 0) scale the sum, returns and all, moving at
// most 1/kLevelRamp a frame: a fall ends as its range starts, a rise starts
// as its range ends, so a breath is silent from its first frame to its last.
//
// Strip parameters come from the instrument unless automation says
// otherwise: a segment moves a parameter linearly (or exponentially, for
// frequencies) between two values; after it ends the end value holds for
// whatever is still ringing, until the track's next note-on brings the
// instrument's own value back. So a fade-out stays faded through the release
// tails, and the next section starts from the instrument as written.
//
// Threads: the calling thread.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "musicgen.h"

// ============================================================================
// Constants
// ============================================================================

namespace {

constexpr float kReverbWet = 3.0f;       // the comb bank's output is quiet by design
constexpr float kMasterHighpass = 22.0f; // Hz: nothing useful lives below
constexpr float kSmooth = 0.3f;          // share of the way to a new strip value per block
constexpr float kFilterOff = 19500.0f;   // Hz: a track lowpass at or above this is open
constexpr int kLevelRamp = 64;           // frames for the mix's level to move from 1 to 0

// The strip parameters a track evaluates every block, in this order.
constexpr int kStrip[] = {MG_P_GAIN, MG_P_PAN, MG_P_REVERB, MG_P_DELAY, MG_P_DUCK, MG_P_LPF, MG_P_HPF, MG_P_BRIGHT};
constexpr int kStripCount = (int)(sizeof kStrip / sizeof kStrip[0]);
enum { S_GAIN, S_PAN, S_REVERB, S_DELAY, S_DUCK, S_LPF, S_HPF, S_BRIGHT };

// ============================================================================
// Types
// ============================================================================

struct Lane {
  std::vector<const s_mgauto*> segments;  // of one parameter, by start
  size_t cursor;                          // first segment that has not ended
};

struct Track {
  const s_mginstrument* ins;
  std::vector<s_mgvoice> voices;
  Lane lanes[kStripCount];
  float value[kStripCount];  // smoothed strip values (gain as a linear factor)
  bool filtered;             // runs the strip filters
  bool sounding;             // a voice played in this block
  int64_t lastnote;          // frame of the latest note-on, -1 before the first
  s_mgsvf lp[2], hp[2];      // strip filters
  float l[MG_BLOCK], r[MG_BLOCK];
};

// ============================================================================
// Internal functions
// ============================================================================

// The strip value of a lane at a frame: inside a segment its curve; after a
// segment, its end value until a note-on at or after the segment's end
// (`lastnote`, the track's latest note-on frame); otherwise the base.
float lane_value(Lane* lane, float base, int64_t frame, int64_t lastnote) {
  while (lane->cursor < lane->segments.size() && lane->segments[lane->cursor]->end <= frame) ++lane->cursor;
  for (size_t i = lane->cursor; i < lane->segments.size(); ++i) {
    const s_mgauto* a = lane->segments[i];
    if (a->start > frame) break;
    if (frame < a->end) {
      float x = (float)(frame - a->start) / (float)(a->end - a->start);
      if (a->curve == 1) return a->v0 * std::pow(a->v1 / a->v0, x);
      return a->v0 + (a->v1 - a->v0) * x;
    }
  }
  if (lane->cursor > 0) {
    const s_mgauto* ended = lane->segments[lane->cursor - 1];
    if (lastnote < ended->end) return ended->v1;
  }
  return base;
}

// RBJ biquads for the master: a high shelf (slope 1) and a bell.
s_mgbiquad shelf(double hz, double gaindb) {
  const double A = std::pow(10.0, gaindb / 40.0), w = 2.0 * MG_PI * hz / MG_RATE, c = std::cos(w);
  const double alpha = std::sin(w) / 2.0 * std::sqrt(2.0), sa = 2.0 * std::sqrt(A) * alpha;
  const double a0 = (A + 1) - (A - 1) * c + sa;
  s_mgbiquad f;
  f.b0 = A * ((A + 1) + (A - 1) * c + sa) / a0;
  f.b1 = -2 * A * ((A - 1) + (A + 1) * c) / a0;
  f.b2 = A * ((A + 1) + (A - 1) * c - sa) / a0;
  f.a1 = 2 * ((A - 1) - (A + 1) * c) / a0;
  f.a2 = ((A + 1) - (A - 1) * c - sa) / a0;
  f.z1 = f.z2 = 0.0;
  return f;
}

s_mgbiquad bell(double hz, double gaindb) {
  const double A = std::pow(10.0, gaindb / 40.0), w = 2.0 * MG_PI * hz / MG_RATE;
  const double alpha = std::sin(w) * std::sinh(std::log(2.0) / 2.0 * w / std::sin(w));  // one octave
  const double a0 = 1 + alpha / A;
  s_mgbiquad f;
  f.b0 = (1 + alpha * A) / a0;
  f.b1 = -2 * std::cos(w) / a0;
  f.b2 = (1 - alpha * A) / a0;
  f.a1 = f.b1;
  f.a2 = (1 - alpha / A) / a0;
  f.z1 = f.z2 = 0.0;
  return f;
}

// The level the score asks for at a frame: the latest-starting range that
// holds it, else 1.
float level_at(const s_mgsong* song, int64_t frame) {
  float g = 1.0f;
  for (const s_mglevel& l : song->levels) {
    if (l.from > frame) break;
    if (frame < l.to) g = l.gain;
  }
  return g;
}

float db_to_gain(float db) {
  return std::pow(10.0f, db / 20.0f);
}

void start_note(Track* tr, const s_mgnote* note, int64_t age, uint32_t seed, int wait) {
  s_mgvoice* pick = nullptr;
  for (s_mgvoice& v : tr->voices)
    if (!v.active) {
      pick = &v;
      break;
    }
  if (!pick) {
    // Steal the oldest voice that is already releasing, else the oldest of all.
    for (s_mgvoice& v : tr->voices)
      if (v.env.stage == MG_ENV_RELEASE && (!pick || v.age < pick->age)) pick = &v;
    if (!pick)
      for (s_mgvoice& v : tr->voices)
        if (!pick || v.age < pick->age) pick = &v;
  }
  mg_voice_start(pick, tr->ins, note, seed);
  pick->age = age;
  pick->wait = wait;
}

}  // namespace

// ============================================================================
// Public functions
// ============================================================================

int64_t mg_render(const s_mgscore* score, const s_mgsong* song, int64_t from, int64_t to, std::vector<float>* out) {
  from = std::max<int64_t>(0, from);
  to = std::min<int64_t>(to, song->frames);
  if (to <= from) {
    out->clear();
    return 0;
  }
  const int64_t frames = to - from;
  out->assign((size_t)frames * 2, 0.0f);

  // Tracks, their lanes and their starting strip values.
  std::vector<Track> tracks(score->instruments.size());
  for (size_t t = 0; t < tracks.size(); ++t) {
    Track& tr = tracks[t];
    tr.ins = &score->instruments[t];
    tr.voices.resize((size_t)tr.ins->p[MG_P_VOICES]);
    for (s_mgvoice& v : tr.voices) {
      std::memset(&v, 0, sizeof v);
      v.env.stage = MG_ENV_DONE;
    }
    for (int s = 0; s < kStripCount; ++s) tr.lanes[s].cursor = 0;
    tr.lastnote = -1;
    tr.filtered = tr.ins->p[MG_P_LPF] < kFilterOff || tr.ins->p[MG_P_HPF] > 20.0f;
    for (const s_mgauto& a : song->autos) {
      if (a.track != (int)t) continue;
      for (int s = 0; s < kStripCount; ++s)
        if (kStrip[s] == a.param) tr.lanes[s].segments.push_back(&a);
      if (a.param == MG_P_LPF || a.param == MG_P_HPF) tr.filtered = true;
    }
    for (int s = 0; s < kStripCount; ++s) {
      float v = lane_value(&tr.lanes[s], tr.ins->p[kStrip[s]], from, tr.lastnote);
      tr.value[s] = s == S_GAIN ? db_to_gain(v) : v;
    }
    for (int c = 0; c < 2; ++c) {
      mg_svf_init(&tr.lp[c], MG_FILTER_LP);
      mg_svf_init(&tr.hp[c], MG_FILTER_HP);
    }
  }

  const s_mgmix& mix = score->mix;
  s_mgpingpong delay;
  mg_pingpong_init(&delay, (int)std::lround(mix.delayticks * MG_TICK_FRAMES), mix.feedback, mix.delaylp, mix.delayhp);
  s_mgreverb reverb;
  mg_reverb_init(&reverb, mix.roomsize, mix.damp, mix.predelay);
  s_mgducker ducker;
  mg_ducker_init(&ducker, mix.duckthreshold, mix.duckratio, mix.duckattack, mix.duckrelease);
  s_mgsvf masterhp[2];
  s_mgbiquad air[2], mud[2];
  for (int c = 0; c < 2; ++c) {
    mg_svf_init(&masterhp[c], MG_FILTER_HP);
    mg_svf_set(&masterhp[c], kMasterHighpass, 0.0f);
    air[c] = shelf(MG_AIR_HZ, mix.airdb);
    mud[c] = bell(MG_MUD_HZ, mix.muddb);
  }
  const bool eq = mix.airdb != 0.0f || mix.muddb != 0.0f;
  const float duckreturns = std::min(1.0f, std::max(0.0f, mix.duckreturns));
  float level = level_at(song, from);  // the mix's level, slewing to the score's

  // Notes that start before the excerpt are not heard in it.
  size_t next = 0;
  while (next < song->notes.size() && song->notes[next].start < from) ++next;

  float dryl[MG_BLOCK], dryr[MG_BLOCK], revl[MG_BLOCK], revr[MG_BLOCK], dlyl[MG_BLOCK], dlyr[MG_BLOCK];
  float keyl[MG_BLOCK], keyr[MG_BLOCK], sc[MG_BLOCK], wetl[MG_BLOCK], wetr[MG_BLOCK];
  float rvl[MG_BLOCK], rvr[MG_BLOCK];
  for (int64_t b = from; b < to; b += MG_BLOCK) {
    const int n = (int)std::min<int64_t>(MG_BLOCK, to - b);

    // Note-ons of this block.
    while (next < song->notes.size() && song->notes[next].start < b + n) {
      const s_mgnote& note = song->notes[next];
      Track& tr = tracks[(size_t)note.track];
      start_note(&tr, &note, (int64_t)next, mg_hash((uint32_t)next + 1u), (int)(note.start - b));
      tr.lastnote = note.start;
      ++next;
    }

    // Strip targets at the block start, then the voices.
    for (Track& tr : tracks) {
      std::fill(tr.l, tr.l + n, 0.0f);
      std::fill(tr.r, tr.r + n, 0.0f);
      float target[kStripCount];
      for (int s = 0; s < kStripCount; ++s) target[s] = lane_value(&tr.lanes[s], tr.ins->p[kStrip[s]], b, tr.lastnote);
      // Gain ramps inside the block (see below); the rest settle over a few blocks.
      for (int s = 0; s < kStripCount; ++s) {
        if (s == S_GAIN) continue;
        if (s == S_LPF || s == S_HPF || s == S_BRIGHT) tr.value[s] = target[s];
        else tr.value[s] += (target[s] - tr.value[s]) * kSmooth;
      }
      float gtarget = db_to_gain(target[S_GAIN]);
      tr.sounding = false;
      for (s_mgvoice& v : tr.voices) {
        if (!v.active) continue;
        tr.sounding = true;
        int w = std::min(v.wait, n);
        v.wait -= w;
        if (w < n) mg_voice_render(&v, tr.ins, tr.value[S_BRIGHT], tr.l + w, tr.r + w, n - w);
      }
      if (!tr.sounding) {
        // Nothing played: the buffer is silence (voices end below -80 dB, so
        // the strip filters have nothing left worth ringing out).
        tr.value[S_GAIN] = gtarget;
        continue;
      }
      if (tr.filtered) {
        for (int c = 0; c < 2; ++c) {
          mg_svf_set(&tr.lp[c], tr.value[S_LPF], 0.0f);
          mg_svf_set(&tr.hp[c], tr.value[S_HPF], 0.0f);
        }
        for (int i = 0; i < n; ++i) {
          tr.l[i] = mg_svf_next(&tr.hp[0], mg_svf_next(&tr.lp[0], tr.l[i]));
          tr.r[i] = mg_svf_next(&tr.hp[1], mg_svf_next(&tr.lp[1], tr.r[i]));
        }
      }
      // Gain, ramped linearly across the block to avoid zipper noise.
      float g0 = tr.value[S_GAIN];
      float gstep = (gtarget - g0) / (float)n;
      for (int i = 0; i < n; ++i) {
        float g = g0 + gstep * (float)(i + 1);
        tr.l[i] *= g;
        tr.r[i] *= g;
      }
      tr.value[S_GAIN] = gtarget;
    }

    // Sidechain: the key tracks after their gain.
    std::fill(keyl, keyl + n, 0.0f);
    std::fill(keyr, keyr + n, 0.0f);
    for (const Track& tr : tracks) {
      if (tr.ins->p[MG_P_KEY] <= 0.0f || !tr.sounding) continue;
      for (int i = 0; i < n; ++i) keyl[i] += tr.l[i], keyr[i] += tr.r[i];
    }
    mg_ducker_process(&ducker, keyl, keyr, sc, n);

    // Strips into the buses.
    std::fill(dryl, dryl + n, 0.0f);
    std::fill(dryr, dryr + n, 0.0f);
    std::fill(revl, revl + n, 0.0f);
    std::fill(revr, revr + n, 0.0f);
    std::fill(dlyl, dlyl + n, 0.0f);
    std::fill(dlyr, dlyr + n, 0.0f);
    for (const Track& tr : tracks) {
      if (!tr.sounding) continue;
      const float duck = std::min(1.0f, std::max(0.0f, tr.value[S_DUCK]));
      const float pan = std::min(1.0f, std::max(-1.0f, tr.value[S_PAN]));
      const float angle = (pan + 1.0f) * (MG_PI / 4.0f);
      const float pl = std::cos(angle) * 1.41421356f, pr = std::sin(angle) * 1.41421356f;
      const float rs = tr.value[S_REVERB], ds = tr.value[S_DELAY];
      for (int i = 0; i < n; ++i) {
        float d = duck > 0.0f ? 1.0f - duck * (1.0f - sc[i]) : 1.0f;
        float l = tr.l[i] * d * pl, r = tr.r[i] * d * pr;
        dryl[i] += l;
        dryr[i] += r;
        revl[i] += l * rs;
        revr[i] += r * rs;
        dlyl[i] += l * ds;
        dlyr[i] += r * ds;
      }
    }

    // Buses and master.
    mg_pingpong_process(&delay, dlyl, dlyr, wetl, wetr, n);
    for (int i = 0; i < n; ++i) {
      revl[i] += wetl[i] * mix.delaytoreverb;
      revr[i] += wetr[i] * mix.delaytoreverb;
    }
    mg_reverb_process(&reverb, revl, revr, rvl, rvr, n);
    float* o = out->data() + (size_t)(b - from) * 2;
    for (int i = 0; i < n; ++i) {
      float d = 1.0f - duckreturns * (1.0f - sc[i]);
      float l = dryl[i] + (wetl[i] + rvl[i] * kReverbWet) * d;
      float r = dryr[i] + (wetr[i] + rvr[i] * kReverbWet) * d;
      l = mg_svf_next(&masterhp[0], l);
      r = mg_svf_next(&masterhp[1], r);
      if (eq) {
        l = (float)mg_biquad_next(&air[0], mg_biquad_next(&mud[0], l));
        r = (float)mg_biquad_next(&air[1], mg_biquad_next(&mud[1], r));
      }
      if (!song->levels.empty()) {
        const int64_t f = b + i;
        const float target = std::min(level_at(song, f), level_at(song, f + kLevelRamp));
        const float step = 1.0f / kLevelRamp;
        level = target < level ? std::max(target, level - step) : std::min(target, level + step);
        l *= level;
        r *= level;
      }
      o[2 * i] = l;
      o[2 * i + 1] = r;
    }
  }
  return frames;
}
