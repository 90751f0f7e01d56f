// mg_sequence: turns the parsed score into notes and automation on the tick
// grid of the show.
//
// Each section is keyed to an event of the timing file: it starts at the
// event's tick and lasts until the next event starts (the section of the last
// event gives its own length). So the bar structure lives in one place, the
// timing file, and the music cannot drift from the pictures. Every note
// starts at tick x MG_TICK_FRAMES, an exact integer frame.
//
// Chord-relative notes take the chord in force at their start: the tones of
// the chord are laid out upwards from a few semitones under the track's
// centre, so progressions voice-lead by themselves.
//
// Threads: the calling thread.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "musicgen.h"

// ============================================================================
// Constants
// ============================================================================

namespace {

constexpr int kVoicingBelow = 5;  // chord tones start this many semitones under the centre
// Longest song accepted, in ticks (30 minutes): the mix is held in memory
// whole, so a stray timing value must not ask for gigabytes.
constexpr int kMaxSongTicks = 30 * 60 * MG_RATE / MG_TICK_FRAMES;

// A chord laid on the song's time axis.
struct ChordSpan {
  int from, to;         // absolute ticks
  const s_mgchord* chord;
  int transpose;        // the section's
};

// ============================================================================
// Internal functions
// ============================================================================

void where(const s_mgcommand& c) {
  printf(MG_MSG "%s:%d: ", c.file, c.line);
}

bool is_pitched(int engine) {
  return engine == MG_ENGINE_SYNTH || engine == MG_ENGINE_FM || engine == MG_ENGINE_NOISE;
}

int find_instrument(const s_mgscore* s, const char* name) {
  for (size_t i = 0; i < s->instruments.size(); ++i)
    if (std::strcmp(s->instruments[i].name, name) == 0) return (int)i;
  return -1;
}

int find_pattern(const s_mgscore* s, const char* name) {
  for (size_t i = 0; i < s->patterns.size(); ++i)
    if (std::strcmp(s->patterns[i].name, name) == 0) return (int)i;
  return -1;
}

int find_progression(const s_mgscore* s, const char* name) {
  for (size_t i = 0; i < s->progressions.size(); ++i)
    if (std::strcmp(s->progressions[i].name, name) == 0) return (int)i;
  return -1;
}

// The chord tones (ascending MIDI notes) of a chord around a centre.
void voice_chord(const s_mgchord* c, int transpose, int center, std::vector<int>* out) {
  int pcs[12];
  int n = 0;
  for (int t : c->tones) {
    int pc = ((c->root + transpose + t) % 12 + 12) % 12;
    bool dup = false;
    for (int k = 0; k < n; ++k) dup = dup || pcs[k] == pc;
    if (!dup) pcs[n++] = pc;
  }
  out->clear();
  int low = center - kVoicingBelow;
  for (int k = 0; k < n; ++k) {
    int note = low + ((pcs[k] - low) % 12 + 12) % 12;  // lowest note of that class at or above `low`
    out->push_back(note);
  }
  std::sort(out->begin(), out->end());
}

// The bass of a chord: the highest note of its bass class at or below the centre.
int chord_bass(const s_mgchord* c, int transpose, int center) {
  int pc = ((c->bass + transpose) % 12 + 12) % 12;
  return center - ((center - pc) % 12 + 12) % 12;
}

const ChordSpan* chord_at(const std::vector<ChordSpan>& spans, int tick) {
  // Spans are sorted by start; a later span wins where they overlap.
  const ChordSpan* found = nullptr;
  for (const ChordSpan& s : spans) {
    if (s.from > tick) break;
    if (tick < s.to) found = &s;
  }
  return found;
}

bool lay_chords(const s_mgscore* score, std::vector<ChordSpan>* spans) {
  for (const s_mgsection& sec : score->sections) {
    for (const s_mgcommand& c : sec.commands) {
      if (c.kind != MG_CMD_CHORDS) continue;
      const s_mgprogression& prog = score->progressions[(size_t)c.target];
      int t = sec.start + c.from;
      int end = sec.start + c.to;
      while (t < end) {
        for (const s_mgchord& ch : prog.chords) {
          if (t >= end) break;
          spans->push_back(ChordSpan{t, std::min(t + ch.length, end), &ch, sec.transpose});
          t += ch.length;
        }
      }
    }
  }
  std::stable_sort(spans->begin(), spans->end(),
                   [](const ChordSpan& a, const ChordSpan& b) { return a.from < b.from; });
  return true;
}

// Resolves the names of a section's commands and checks their ranges.
bool resolve(s_mgscore* score, s_mgsection* sec) {
  for (s_mgcommand& c : sec->commands) {
    if (c.to < 0) c.to = sec->length;
    if (c.to > sec->length) {
      where(c);
      printf("bars reach past the end of section %s (%d bars)\n", sec->name, sec->length / MG_TICKS_PER_BAR);
      return false;
    }
    if (c.kind == MG_CMD_CHORDS) {
      c.target = find_progression(score, c.ref);
      if (c.target < 0) {
        where(c);
        printf("no chords named %s\n", c.ref);
        return false;
      }
    } else if (c.kind == MG_CMD_PLAY) {
      c.track = find_instrument(score, c.trackref);
      c.target = find_pattern(score, c.ref);
      if (c.track < 0 || c.target < 0) {
        where(c);
        printf("no %s named %s\n", c.track < 0 ? "instrument" : "pattern", c.track < 0 ? c.trackref : c.ref);
        return false;
      }
    } else if (c.kind == MG_CMD_AUTO) {
      c.target = find_instrument(score, c.trackref);
      if (c.target < 0) {
        where(c);
        printf("no instrument named %s\n", c.trackref);
        return false;
      }
    }
  }
  return true;
}

// The note of a pattern step that starts `s` ticks into the section: its
// tick, frame, gate and velocity (the command's ramp); the pitch is left to
// the caller.
s_mgnote step_note(const s_mgsection& sec, const s_mgcommand& c, const s_mgpatnote& pn, int s, float gate) {
  const int e = std::min(s + pn.length, c.to);
  const int abstick = sec.start + s;
  const float ramp = c.to > c.from ? (float)(s - c.from) / (float)(c.to - c.from) : 0.0f;
  s_mgnote n;
  n.track = c.track;
  n.tick = abstick;
  n.start = (int64_t)abstick * MG_TICK_FRAMES;
  n.gate = std::max<int64_t>(1, (int64_t)std::llround((double)(e - s) * MG_TICK_FRAMES * gate));
  n.vel = std::min(1.0f, pn.vel * (c.vel0 + (c.vel1 - c.vel0) * ramp));
  n.pitch = 0.0f;
  return n;
}

// Adds the notes of a chord-relative step (the chord's bass, one of its
// tones or all of them) from the chord in force at the note's tick; false,
// with a message, where no chord is set.
bool play_chord_step(const s_mgsection& sec, const s_mgcommand& c, const s_mgpattern& pat, const s_mgpatnote& pn,
                     int center, const std::vector<ChordSpan>& spans, s_mgnote n, std::vector<s_mgnote>* notes) {
  const ChordSpan* span = chord_at(spans, n.tick);
  if (!span) {
    where(c);
    printf("pattern %s needs a chord at bar %d of section %s, and none is set\n", pat.name,
           (n.tick - sec.start) / MG_TICKS_PER_BAR, sec.name);
    return false;
  }
  const int tr = span->transpose + c.transpose;
  const int shift = pn.octave * 12;
  if (pn.kind == MG_NOTE_ROOT) {
    n.pitch = (float)(chord_bass(span->chord, tr, center) + shift);
    notes->push_back(n);
    return true;
  }
  std::vector<int> tones;
  voice_chord(span->chord, tr, center, &tones);
  const int count = (int)tones.size();
  if (pn.kind == MG_NOTE_TONE) {
    const int k = pn.value;
    n.pitch = (float)(tones[(size_t)(k % count)] + 12 * (k / count) + shift);
    notes->push_back(n);
    return true;
  }
  for (int t : tones) {
    n.pitch = (float)(t + shift);
    notes->push_back(n);
  }
  return true;
}

// Flattens one "play" command: the pattern repeated over the command's
// range, each step a note (absolute, a drum hit, or chord-relative).
bool play(const s_mgscore* score, const s_mgsection& sec, const s_mgcommand& c, const std::vector<ChordSpan>& spans,
          std::vector<s_mgnote>* notes) {
  const s_mgpattern& pat = score->patterns[(size_t)c.target];
  const s_mginstrument& ins = score->instruments[(size_t)c.track];
  const int center = c.center >= 0 ? c.center : (int)ins.p[MG_P_CENTER];
  const int transpose = c.transpose + (is_pitched(ins.engine) ? sec.transpose : 0);
  const float gate = ins.p[MG_P_GATE];
  for (int p0 = c.from; p0 < c.to; p0 += pat.length) {
    for (const s_mgpatnote& pn : pat.notes) {
      const int s = p0 + pn.start;
      if (s >= c.to) break;
      s_mgnote n = step_note(sec, c, pn, s, gate);
      if (pn.kind == MG_NOTE_ABS) {
        n.pitch = (float)(pn.value + pn.octave * 12 + transpose);
        notes->push_back(n);
      } else if (pn.kind == MG_NOTE_HIT) {
        n.pitch = ins.p[MG_P_NOTE] + (float)(pn.octave * 12);
        notes->push_back(n);
      } else if (!play_chord_step(sec, c, pat, pn, center, spans, n, notes)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

// ============================================================================
// Public functions
// ============================================================================

int mg_sequence(s_mgscore* score, const std::vector<int>& eventticks, s_mgsong* song) {
  song->notes.clear();
  song->autos.clear();
  song->eventticks = eventticks;
  song->endtick = 0;
  song->frames = 0;
  song->fadefrom = song->fadeto = -1;
  song->levels.clear();
  const int numevents = (int)eventticks.size();
  if (numevents == 0) {
    printf(MG_MSG "the timing file has no events\n");
    return 0;
  }
  for (int e = 0; e < numevents; ++e) {
    if (eventticks[(size_t)e] % MG_TICKS_PER_BAR != 0) {
      printf(MG_MSG "event %d starts at tick %d, which is not on a bar line\n", e, eventticks[(size_t)e]);
      return 0;
    }
    if (e > 0 && eventticks[(size_t)e] <= eventticks[(size_t)e - 1]) {
      printf(MG_MSG "event %d does not start after event %d\n", e, e - 1);
      return 0;
    }
  }
  // One section per event, in event order.
  std::vector<int> owner((size_t)numevents, -1);
  for (size_t i = 0; i < score->sections.size(); ++i) {
    s_mgsection& sec = score->sections[i];
    if (sec.event >= numevents) {
      printf(MG_MSG "section %s is keyed to event %d; the timing file has %d events\n", sec.name, sec.event,
             numevents);
      return 0;
    }
    if (owner[(size_t)sec.event] >= 0) {
      printf(MG_MSG "sections %s and %s are both keyed to event %d\n",
             score->sections[(size_t)owner[(size_t)sec.event]].name, sec.name, sec.event);
      return 0;
    }
    owner[(size_t)sec.event] = (int)i;
    sec.start = eventticks[(size_t)sec.event];
    bool last = sec.event == numevents - 1;
    int natural = last ? 0 : eventticks[(size_t)sec.event + 1] - sec.start;
    if (last && sec.bars == 0) {
      printf(MG_MSG "section %s follows the last event and needs bars=N\n", sec.name);
      return 0;
    }
    if (!last && sec.bars != 0 && sec.bars * MG_TICKS_PER_BAR != natural) {
      printf(MG_MSG "section %s says %d bars, but event %d lasts %d bars\n", sec.name, sec.bars, sec.event,
             natural / MG_TICKS_PER_BAR);
      return 0;
    }
    sec.length = last ? sec.bars * MG_TICKS_PER_BAR : natural;
    if (!resolve(score, &sec)) return 0;
  }
  for (int e = 0; e < numevents; ++e) {
    if (owner[(size_t)e] < 0) {
      printf(MG_MSG "no section is keyed to event %d (tick %d)\n", e, eventticks[(size_t)e]);
      return 0;
    }
  }
  const s_mgsection& lastsec = score->sections[(size_t)owner[(size_t)numevents - 1]];
  song->endtick = lastsec.start + lastsec.length;
  if (song->endtick > kMaxSongTicks) {
    printf(MG_MSG "the song would end at tick %d (%.0f minutes); at most 30 minutes are rendered\n",
           song->endtick, (double)song->endtick * MG_TICK_FRAMES / MG_RATE / 60.0);
    song->endtick = 0;
    return 0;
  }
  song->frames = (int64_t)song->endtick * MG_TICK_FRAMES;

  std::vector<ChordSpan> spans;
  lay_chords(score, &spans);
  for (const s_mgsection& sec : score->sections) {
    if (sec.level != 0.0f)
      song->levels.push_back(s_mglevel{(int64_t)sec.start * MG_TICK_FRAMES,
                                       (int64_t)(sec.start + sec.length) * MG_TICK_FRAMES,
                                       std::pow(10.0f, sec.level / 20.0f)});
    for (const s_mgcommand& c : sec.commands) {
      if (c.kind == MG_CMD_PLAY) {
        if (!play(score, sec, c, spans, &song->notes)) return 0;
      } else if (c.kind == MG_CMD_AUTO) {
        s_mgauto a;
        a.track = c.target;
        a.param = c.param;
        a.start = (int64_t)(sec.start + c.from) * MG_TICK_FRAMES;
        a.end = (int64_t)(sec.start + c.to) * MG_TICK_FRAMES;
        a.v0 = c.v0;
        a.v1 = c.v1;
        a.curve = c.curve;
        song->autos.push_back(a);
      } else if (c.kind == MG_CMD_FADE) {
        if (song->fadeto >= 0) {
          where(c);
          printf("the song fades out once; a fade is already set\n");
          return 0;
        }
        song->fadefrom = (int64_t)(sec.start + c.from) * MG_TICK_FRAMES;
        song->fadeto = (int64_t)(sec.start + c.to) * MG_TICK_FRAMES;
      } else if (c.kind == MG_CMD_MUTE) {
        song->levels.push_back(
            s_mglevel{(int64_t)(sec.start + c.from) * MG_TICK_FRAMES, (int64_t)(sec.start + c.to) * MG_TICK_FRAMES, 0.0f});
      }
    }
  }
  for (const s_mgnote& n : song->notes) {
    if (n.pitch < 0.0f || n.pitch > 127.0f) {
      printf(MG_MSG "a note of %s at tick %d lands outside MIDI notes 0-127\n",
             score->instruments[(size_t)n.track].name, n.tick);
      return 0;
    }
  }
  std::stable_sort(song->notes.begin(), song->notes.end(), [](const s_mgnote& a, const s_mgnote& b) {
    if (a.start != b.start) return a.start < b.start;
    if (a.track != b.track) return a.track < b.track;
    return a.pitch < b.pitch;
  });
  std::stable_sort(song->levels.begin(), song->levels.end(),
                   [](const s_mglevel& a, const s_mglevel& b) { return a.from < b.from; });
  std::stable_sort(song->autos.begin(), song->autos.end(), [](const s_mgauto& a, const s_mgauto& b) {
    if (a.track != b.track) return a.track < b.track;
    if (a.param != b.param) return a.param < b.param;
    return a.start < b.start;
  });
  return 1;
}
