// mg_score: the score reader.
//
// A score is a text file of blocks. A block starts with a directive in the
// first column; the indented lines under it belong to it. '#' at the start
// of a line or after a blank starts a comment. Directives:
//
//   include FILE                      another score file, relative to this one
//   mix KEY=VALUE...                  bus and mastering settings (gain=DB fixes the master gain)
//   instrument NAME ENGINE KEY=VALUE...   a track; indented lines add KEY=VALUEs
//   pattern NAME [step=T] [length=T]  indented lines hold steps, one token each
//   chords NAME                       indented lines hold chord symbols, SYMBOL[:BARS]
//   section NAME event=N [bars=B] [transpose=S] [level=DB]   (level: the whole mix, returns included)
//     chords PROG [bars=A-B]
//     play TRACK PATTERN [bars=A-B] [vel=V | vel=V0>V1] [transpose=S] [center=NOTE]
//     auto TRACK PARAM bars=A-B from=X to=Y [curve=lin|exp]
//     fade bars=A-B                   the song's closing fade: silence from B on
//     mute bars=A-B                   a breath: the whole mix silent, reverb and delay included
//
// Pattern tokens (each one step of `step` ticks, 2 = a sixteenth):
//   .  rest     -  hold the previous note one more step     |  ignored (bar line)
//   x X o       drum hit: normal, accent, ghost
//   C#5 Bb3     absolute note;  r  the chord's bass;  c0..c9  chord tones
//   *           every tone of the chord
//   suffixes    ' up an octave, , down an octave, ! accent, ? soft
//
// Bar ranges are in bars from the section start, A inclusive, B exclusive;
// fractions are fine as long as they land on ticks.
//
// Threads: the calling thread.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "musicgen.h"

// ============================================================================
// Constants
// ============================================================================

namespace {

constexpr int kMaxIncludeDepth = 8;     // include nesting allowed
constexpr float kDefaultVelocity = 0.8f;
constexpr float kAccentVelocity = 1.0f;
constexpr float kSoftVelocity = 0.5f;
constexpr float kGhostVelocity = 0.45f;
constexpr int kMaxPatternTicks = 64 * MG_TICKS_PER_BAR;  // 64 bars

struct ParamInfo {
  const char* name;
  float value;  // default for every engine
};

// In mg_param order.
const ParamInfo kParams[MG_P_COUNT] = {
    {"gain", 0.0f},      {"pan", 0.0f},       {"reverb", 0.0f},     {"delay", 0.0f},    {"duck", 0.0f},
    {"key", 0.0f},       {"lpf", 20000.0f},   {"hpf", 20.0f},       {"bright", 0.0f},   {"voices", 8.0f},
    {"center", 60.0f},   {"velsens", 0.6f},   {"gate", 1.0f},       {"attack", 0.005f}, {"decay", 0.3f},
    {"sustain", 0.7f},   {"release", 0.2f},   {"fattack", 0.005f},  {"fdecay", 0.3f},   {"fsustain", 0.3f},
    {"frelease", 0.3f},  {"wave", 0.0f},      {"wave2", 0.0f},      {"mix2", 0.0f},     {"detune2", 0.0f},
    {"unison", 1.0f},    {"spread", 20.0f},   {"width", 0.5f},      {"sub", 0.0f},      {"noise", 0.0f},
    {"pw", 0.5f},        {"ftype", 0.0f},     {"cutoff", 8000.0f},  {"cutoff2", 8000.0f}, {"res", 0.1f},
    {"envamt", 0.0f},    {"keytrack", 0.3f},  {"velcut", 0.0f},     {"drive", 0.0f},    {"pitchamt", 0.0f},
    {"pitchdecay", 0.05f}, {"bend", 0.0f},    {"vibrate", 5.0f},    {"vibdepth", 0.0f}, {"vibdelay", 0.3f},
    {"ratio", 1.0f},     {"index", 1.0f},     {"idecay", 0.3f},     {"isustain", 0.2f}, {"ratio2", 0.0f},
    {"index2", 0.0f},    {"feedback", 0.0f},  {"detune", 0.0f},     {"pstart", 160.0f}, {"pend", 45.0f},
    {"pdecay", 0.04f},   {"click", 0.3f},     {"tone", 200.0f},     {"tdecay", 0.1f},   {"ndecay", 0.15f},
    {"crackle", 0.0f},   {"talkers", 8.0f},   {"level", 1.0f},      {"note", 60.0f},
};

struct EngineDefault {
  int engine;
  int param;
  float value;
};

// What each engine changes from the common defaults.
const EngineDefault kEngineDefaults[] = {
    {MG_ENGINE_FM, MG_P_DECAY, 1.0f},       {MG_ENGINE_FM, MG_P_SUSTAIN, 0.0f},
    {MG_ENGINE_FM, MG_P_RELEASE, 0.3f},     {MG_ENGINE_KICK, MG_P_DECAY, 0.4f},
    {MG_ENGINE_KICK, MG_P_VOICES, 2.0f},    {MG_ENGINE_KICK, MG_P_VELSENS, 0.8f},
    {MG_ENGINE_SNARE, MG_P_CUTOFF, 1800.0f}, {MG_ENGINE_SNARE, MG_P_TONE, 185.0f},
    {MG_ENGINE_SNARE, MG_P_TDECAY, 0.09f},  {MG_ENGINE_SNARE, MG_P_NDECAY, 0.18f},
    {MG_ENGINE_SNARE, MG_P_NOISE, 0.6f},    {MG_ENGINE_SNARE, MG_P_VOICES, 4.0f},
    {MG_ENGINE_SNARE, MG_P_VELSENS, 0.8f},  {MG_ENGINE_CLAP, MG_P_CUTOFF, 1200.0f},
    {MG_ENGINE_CLAP, MG_P_RES, 0.3f},       {MG_ENGINE_CLAP, MG_P_NDECAY, 0.18f},
    {MG_ENGINE_CLAP, MG_P_VOICES, 4.0f},    {MG_ENGINE_HAT, MG_P_CUTOFF, 10000.0f},
    {MG_ENGINE_HAT, MG_P_RES, 0.2f},        {MG_ENGINE_HAT, MG_P_NDECAY, 0.05f},
    {MG_ENGINE_HAT, MG_P_TONE, 1.6f},       {MG_ENGINE_HAT, MG_P_NOISE, 0.5f},
    {MG_ENGINE_HAT, MG_P_VOICES, 4.0f},     {MG_ENGINE_NOISE, MG_P_CUTOFF, 2000.0f},
    {MG_ENGINE_NOISE, MG_P_CUTOFF2, 2000.0f}, {MG_ENGINE_NOISE, MG_P_RES, 0.2f},
    {MG_ENGINE_NOISE, MG_P_WIDTH, 1.0f},    {MG_ENGINE_NOISE, MG_P_ATTACK, 0.05f},
    {MG_ENGINE_NOISE, MG_P_SUSTAIN, 1.0f},  {MG_ENGINE_NOISE, MG_P_RELEASE, 0.3f},
    {MG_ENGINE_NOISE, MG_P_VOICES, 4.0f},   {MG_ENGINE_CROWD, MG_P_CUTOFF, 2500.0f},
    {MG_ENGINE_CROWD, MG_P_ATTACK, 1.0f},   {MG_ENGINE_CROWD, MG_P_SUSTAIN, 1.0f},
    {MG_ENGINE_CROWD, MG_P_RELEASE, 2.0f},  {MG_ENGINE_CROWD, MG_P_VOICES, 1.0f},
};

const char* const kEngineNames[MG_ENGINE_COUNT] = {"synth", "fm", "kick", "snare", "clap", "hat", "noise", "crowd"};

// Parameters that an "auto" line may move (the mixer strip and the brightness).
const int kAutomatable[] = {MG_P_GAIN, MG_P_PAN, MG_P_REVERB, MG_P_DELAY, MG_P_DUCK, MG_P_LPF, MG_P_HPF, MG_P_BRIGHT};

struct MixField {
  const char* name;
  float s_mgmix::*field;
};

const MixField kMixFields[] = {
    {"delayticks", &s_mgmix::delayticks},   {"feedback", &s_mgmix::feedback},
    {"delaylp", &s_mgmix::delaylp},         {"delayhp", &s_mgmix::delayhp},
    {"roomsize", &s_mgmix::roomsize},       {"damp", &s_mgmix::damp},
    {"predelay", &s_mgmix::predelay},       {"delaytoreverb", &s_mgmix::delaytoreverb},
    {"duckthreshold", &s_mgmix::duckthreshold}, {"duckratio", &s_mgmix::duckratio},
    {"duckattack", &s_mgmix::duckattack},   {"duckrelease", &s_mgmix::duckrelease},
    {"target", &s_mgmix::target},           {"ceiling", &s_mgmix::ceiling},
    {"fadeout", &s_mgmix::fadeout},         {"duckreturns", &s_mgmix::duckreturns},
    {"air", &s_mgmix::airdb},               {"mud", &s_mgmix::muddb},
};

// ============================================================================
// Internal functions: text helpers
// ============================================================================

// Where messages point.
struct Source {
  std::string name;  // file name as given
  std::string dir;   // folder for includes ("" = current)
  int line;
};

void report(const Source& src, const char* fmt, const char* a = "", const char* b = "") {
  printf(MG_MSG "%s:%d: ", src.name.c_str(), src.line);
  printf(fmt, a, b);
  printf("\n");
}

std::vector<std::string> split_words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

bool parse_float(const std::string& text, float* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(v)) return false;
  *out = (float)v;
  return true;
}

bool parse_int(const std::string& text, int* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (end != text.c_str() + text.size() || v < -1000000 || v > 1000000) return false;
  *out = (int)v;
  return true;
}

bool copy_name(const std::string& text, char* dst) {
  if (text.empty() || text.size() >= (size_t)MG_NAME) return false;
  std::memcpy(dst, text.c_str(), text.size() + 1);
  return true;
}

// Takes `word` as the name of a new definition into `name`: a malformed
// name ("bad <noun> name") or one already among `defined` ("<kind> <name> is
// defined twice") is reported and refused.
template <typename Definitions>
bool claim_name(const Source& src, const std::string& word, const char* noun, const char* kind,
                const Definitions& defined, char* name) {
  if (!copy_name(word, name)) {
    report(src, "bad %s name '%s'", noun, word.c_str());
    return false;
  }
  for (const auto& other : defined)
    if (std::strcmp(other.name, name) == 0) {
      report(src, "%s %s is defined twice", kind, name);
      return false;
    }
  return true;
}

// Pitch class of a note letter with an optional accidental; advances *i.
bool parse_pitchclass(const std::string& t, size_t* i, int* pc) {
  static const int kLetter[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
  if (*i >= t.size() || t[*i] < 'A' || t[*i] > 'G') return false;
  int v = kLetter[t[*i] - 'A'];
  ++*i;
  if (*i < t.size() && t[*i] == '#') v += 1, ++*i;
  else if (*i < t.size() && t[*i] == 'b') v -= 1, ++*i;
  *pc = (v + 12) % 12;
  return true;
}

// "C#5" -> 73, "A-1" -> 9; advances *i past the octave.
bool parse_note_at(const std::string& t, size_t* i, int* note) {
  static const int kLetter[7] = {9, 11, 0, 2, 4, 5, 7};
  if (*i >= t.size() || t[*i] < 'A' || t[*i] > 'G') return false;
  int v = kLetter[t[*i] - 'A'];
  ++*i;
  if (*i < t.size() && t[*i] == '#') v += 1, ++*i;
  else if (*i < t.size() && t[*i] == 'b') v -= 1, ++*i;
  bool neg = false;
  if (*i < t.size() && t[*i] == '-') neg = true, ++*i;
  if (*i >= t.size() || t[*i] < '0' || t[*i] > '9') return false;
  int octave = t[*i] - '0';
  ++*i;
  if (neg) octave = -octave;
  int n = (octave + 1) * 12 + v;
  if (n < 0 || n > 127) return false;
  *note = n;
  return true;
}

bool parse_note(const std::string& t, int* note) {
  size_t i = 0;
  return parse_note_at(t, &i, note) && i == t.size();
}

// A parameter value: a number, a wave or filter name, or a note name.
bool parse_param_value(const std::string& text, float* out) {
  static const struct {
    const char* name;
    float value;
  } kNamed[] = {{"saw", MG_WAVE_SAW}, {"square", MG_WAVE_SQUARE}, {"tri", MG_WAVE_TRI}, {"sine", MG_WAVE_SINE},
                {"lp", MG_FILTER_LP}, {"bp", MG_FILTER_BP},       {"hp", MG_FILTER_HP}};
  if (parse_float(text, out)) return true;
  for (const auto& n : kNamed)
    if (text == n.name) return *out = n.value, true;
  int note;
  if (parse_note(text, &note)) return *out = (float)note, true;
  return false;
}

// "A-B" or "A" (one bar), in bars; to ticks, which must be whole.
bool parse_bars(const std::string& text, int* from, int* to) {
  size_t dash = text.find('-', 1);
  float a, b;
  if (dash == std::string::npos) {
    if (!parse_float(text, &a)) return false;
    b = a + 1.0f;
  } else if (!parse_float(text.substr(0, dash), &a) || !parse_float(text.substr(dash + 1), &b)) {
    return false;
  }
  double ta = (double)a * MG_TICKS_PER_BAR, tb = (double)b * MG_TICKS_PER_BAR;
  if (std::fabs(ta - std::round(ta)) > 1e-6 || std::fabs(tb - std::round(tb)) > 1e-6) return false;
  if (ta < 0 || tb <= ta || tb > 1.0e6) return false;
  *from = (int)std::lround(ta);
  *to = (int)std::lround(tb);
  return true;
}

// Splits "key=value"; false if there is no '='.
bool split_key(const std::string& w, std::string* key, std::string* value) {
  size_t eq = w.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  *key = w.substr(0, eq);
  *value = w.substr(eq + 1);
  return true;
}

// ============================================================================
// Internal functions: blocks
// ============================================================================

struct Parser {
  s_mgscore* score;
  int depth;
};

bool parse_file(Parser* p, const std::string& path, int depth);

bool set_instrument_params(const Source& src, s_mginstrument* ins, const std::vector<std::string>& words,
                           size_t first) {
  for (size_t i = first; i < words.size(); ++i) {
    std::string key, value;
    if (!split_key(words[i], &key, &value)) {
      report(src, "'%s' is not KEY=VALUE", words[i].c_str());
      return false;
    }
    int param = mg_param_find(key.c_str());
    if (param < 0) {
      report(src, "instrument %s: unknown parameter '%s'", ins->name, key.c_str());
      return false;
    }
    float v;
    if (!parse_param_value(value, &v)) {
      report(src, "instrument %s: bad value '%s'", ins->name, value.c_str());
      return false;
    }
    ins->p[param] = v;
  }
  return true;
}

// Checks the values an engine could not survive.
bool check_instrument(const Source& src, s_mginstrument* ins) {
  float* p = ins->p;
  if (p[MG_P_VOICES] < 1 || p[MG_P_VOICES] > MG_MAX_VOICES) {
    report(src, "instrument %s: voices must be 1 to 16", ins->name);
    return false;
  }
  if (p[MG_P_UNISON] < 1 || p[MG_P_UNISON] > MG_MAX_UNISON) {
    report(src, "instrument %s: unison must be 1 to 7", ins->name);
    return false;
  }
  if (p[MG_P_TALKERS] < 1 || p[MG_P_TALKERS] > MG_MAX_TALKERS) {
    report(src, "instrument %s: talkers must be 1 to 12", ins->name);
    return false;
  }
  for (int w : {MG_P_WAVE, MG_P_WAVE2}) {
    if (p[w] != std::floor(p[w]) || p[w] < 0 || p[w] > MG_WAVE_SINE) {
      report(src, "instrument %s: wave must be saw, square, tri or sine", ins->name);
      return false;
    }
  }
  if (p[MG_P_FTYPE] != std::floor(p[MG_P_FTYPE]) || p[MG_P_FTYPE] < 0 || p[MG_P_FTYPE] > MG_FILTER_HP) {
    report(src, "instrument %s: ftype must be lp, bp or hp", ins->name);
    return false;
  }
  for (int t : {MG_P_ATTACK, MG_P_DECAY, MG_P_RELEASE, MG_P_FATTACK, MG_P_FDECAY, MG_P_FRELEASE, MG_P_PITCHDECAY,
                MG_P_IDECAY, MG_P_PDECAY, MG_P_TDECAY, MG_P_NDECAY}) {
    if (p[t] < 0.0f || p[t] > 60.0f) {
      report(src, "instrument %s: %s must be 0 to 60 seconds", ins->name, mg_param_name(t));
      return false;
    }
  }
  if (p[MG_P_GATE] <= 0.0f || p[MG_P_GATE] > 1.0f) {
    report(src, "instrument %s: gate must be above 0 and at most 1", ins->name);
    return false;
  }
  if (p[MG_P_PW] < 0.05f || p[MG_P_PW] > 0.95f) {
    report(src, "instrument %s: pw must be 0.05 to 0.95", ins->name);
    return false;
  }
  return true;
}

bool parse_instrument(const Source& src, Parser* p, const std::vector<std::string>& head,
                      const std::vector<std::pair<Source, std::string>>& body) {
  if (head.size() < 3) {
    report(src, "instrument needs a name and an engine");
    return false;
  }
  s_mginstrument ins;
  std::memset(&ins, 0, sizeof ins);
  int engine = -1;
  for (int e = 0; e < MG_ENGINE_COUNT; ++e)
    if (head[2] == kEngineNames[e]) engine = e;
  if (engine < 0) {
    report(src, "unknown engine '%s'", head[2].c_str());
    return false;
  }
  mg_instrument_defaults(&ins, engine);
  if (!claim_name(src, head[1], "instrument", "instrument", p->score->instruments, ins.name)) return false;
  if (!set_instrument_params(src, &ins, head, 3)) return false;
  for (const auto& line : body)
    if (!set_instrument_params(line.first, &ins, split_words(line.second), 0)) return false;
  if (!check_instrument(src, &ins)) return false;
  p->score->instruments.push_back(ins);
  return true;
}

// One pattern token; false if it is not one.
bool parse_token(const std::string& t, s_mgpatnote* n) {
  n->octave = 0;
  n->vel = kDefaultVelocity;
  n->value = 0;
  size_t i = 0;
  if (t == "x" || t == "X" || t == "o") {
    n->kind = MG_NOTE_HIT;
    n->vel = t == "X" ? kAccentVelocity : (t == "o" ? kGhostVelocity : kDefaultVelocity);
    return true;
  }
  if (t[0] == '*') {
    n->kind = MG_NOTE_CHORD;
    i = 1;
  } else if (t[0] == 'r') {
    n->kind = MG_NOTE_ROOT;
    i = 1;
  } else if (t[0] == 'c') {
    if (t.size() < 2 || t[1] < '0' || t[1] > '9') return false;
    n->kind = MG_NOTE_TONE;
    n->value = t[1] - '0';
    i = 2;
  } else {
    n->kind = MG_NOTE_ABS;
    if (!parse_note_at(t, &i, &n->value)) return false;
  }
  for (; i < t.size(); ++i) {
    switch (t[i]) {
      case '\'': ++n->octave; break;
      case ',': --n->octave; break;
      case '!': n->vel = kAccentVelocity; break;
      case '?': n->vel = kSoftVelocity; break;
      default: return false;
    }
  }
  return n->octave >= -4 && n->octave <= 4;
}

bool parse_pattern(const Source& src, Parser* p, const std::vector<std::string>& head,
                   const std::vector<std::pair<Source, std::string>>& body) {
  if (head.size() < 2) {
    report(src, "pattern needs a name");
    return false;
  }
  s_mgpattern pat;
  if (!claim_name(src, head[1], "pattern", "pattern", p->score->patterns, pat.name)) return false;
  int step = 2, length = 0;
  float vel = 1.0f;
  for (size_t i = 2; i < head.size(); ++i) {
    std::string key, value;
    bool ok = split_key(head[i], &key, &value);
    if (ok && key == "step") ok = parse_int(value, &step) && step >= 1 && step <= kMaxPatternTicks;
    else if (ok && key == "length") ok = parse_int(value, &length) && length >= 1 && length <= kMaxPatternTicks;
    else if (ok && key == "vel") ok = parse_float(value, &vel) && vel >= 0.0f && vel <= 2.0f;
    else ok = false;
    if (!ok) {
      report(src, "pattern %s: bad option '%s'", pat.name, head[i].c_str());
      return false;
    }
  }
  int tick = 0;
  s_mgpatnote* last = nullptr;
  for (const auto& line : body) {
    for (const std::string& t : split_words(line.second)) {
      if (t == "|") continue;
      if (tick >= kMaxPatternTicks) {
        report(line.first, "pattern %s is longer than 64 bars", pat.name);
        return false;
      }
      if (t == ".") {
        last = nullptr;
      } else if (t == "-") {
        if (last) last->length += step;
      } else {
        s_mgpatnote n;
        if (!parse_token(t, &n)) {
          report(line.first, "pattern %s: bad token '%s'", pat.name, t.c_str());
          return false;
        }
        n.start = tick;
        n.length = step;
        n.vel *= vel;
        pat.notes.push_back(n);
        last = &pat.notes.back();
      }
      tick += step;
    }
  }
  pat.length = length ? length : tick;
  if (pat.length <= 0) {
    report(src, "pattern %s is empty", pat.name);
    return false;
  }
  // Notes past an explicit length would never play; a held note is cut at the end.
  std::vector<s_mgpatnote> kept;
  for (s_mgpatnote n : pat.notes) {
    if (n.start >= pat.length) continue;
    if (n.start + n.length > pat.length) n.length = pat.length - n.start;
    kept.push_back(n);
  }
  pat.notes.swap(kept);
  p->score->patterns.push_back(pat);
  return true;
}

bool parse_progression(const Source& src, Parser* p, const std::vector<std::string>& head,
                       const std::vector<std::pair<Source, std::string>>& body) {
  if (head.size() != 2) {
    report(src, "chords needs just a name");
    return false;
  }
  s_mgprogression prog;
  if (!claim_name(src, head[1], "progression", "chords", p->score->progressions, prog.name)) return false;
  prog.length = 0;
  for (const auto& line : body) {
    for (const std::string& t : split_words(line.second)) {
      if (t == "|") continue;
      std::string symbol = t;
      float bars = 1.0f;
      size_t colon = t.find(':');
      if (colon != std::string::npos) {
        symbol = t.substr(0, colon);
        if (!parse_float(t.substr(colon + 1), &bars) || bars <= 0.0f || bars > 64.0f) {
          report(line.first, "chords %s: bad length in '%s'", prog.name, t.c_str());
          return false;
        }
      }
      double ticks = (double)bars * MG_TICKS_PER_BAR;
      if (std::fabs(ticks - std::round(ticks)) > 1e-6) {
        report(line.first, "chords %s: '%s' does not last whole ticks", prog.name, t.c_str());
        return false;
      }
      s_mgchord c;
      if (!mg_chord_parse(symbol.c_str(), &c)) {
        report(line.first, "chords %s: unknown chord '%s'", prog.name, symbol.c_str());
        return false;
      }
      c.length = (int)std::lround(ticks);
      prog.length += c.length;
      prog.chords.push_back(c);
    }
  }
  if (prog.chords.empty()) {
    report(src, "chords %s has no chords", prog.name);
    return false;
  }
  p->score->progressions.push_back(prog);
  return true;
}

bool parse_command(const Source& src, s_mgsection* sec, const std::vector<std::string>& w) {
  s_mgcommand c;
  std::memset(&c, 0, sizeof c);
  c.line = src.line;
  std::snprintf(c.file, sizeof c.file, "%s", src.name.c_str());
  c.center = -1;
  c.vel0 = c.vel1 = 1.0f;
  c.from = 0;
  c.to = -1;  // the whole section, filled in by the sequencer
  bool haveFrom = false, haveTo = false, haveBars = false;
  size_t first;
  if (w[0] == "chords" && w.size() >= 2) {
    c.kind = MG_CMD_CHORDS;
    if (!copy_name(w[1], c.ref)) return report(src, "bad name '%s'", w[1].c_str()), false;
    first = 2;
  } else if (w[0] == "play" && w.size() >= 3) {
    c.kind = MG_CMD_PLAY;
    if (!copy_name(w[1], c.trackref) || !copy_name(w[2], c.ref))
      return report(src, "bad name in '%s %s'", w[1].c_str(), w[2].c_str()), false;
    first = 3;
  } else if (w[0] == "auto" && w.size() >= 3) {
    c.kind = MG_CMD_AUTO;
    if (!copy_name(w[1], c.trackref)) return report(src, "bad name '%s'", w[1].c_str()), false;
    c.param = mg_param_find(w[2].c_str());
    bool ok = false;
    for (int a : kAutomatable) ok = ok || a == c.param;
    if (!ok) return report(src, "'%s' cannot be automated", w[2].c_str()), false;
    first = 3;
  } else if (w[0] == "fade" || w[0] == "mute") {
    c.kind = w[0] == "fade" ? MG_CMD_FADE : MG_CMD_MUTE;
    first = 1;
  } else {
    report(src, "expected chords, play or auto (or a fade or a mute), not '%s'", w[0].c_str());
    return false;
  }
  for (size_t i = first; i < w.size(); ++i) {
    std::string key, value;
    bool ok = split_key(w[i], &key, &value);
    if (ok && key == "bars") {
      ok = parse_bars(value, &c.from, &c.to);
      haveBars = true;
    } else if (ok && key == "vel" && c.kind == MG_CMD_PLAY) {
      size_t gt = value.find('>');
      if (gt == std::string::npos) ok = parse_float(value, &c.vel0), c.vel1 = c.vel0;
      else ok = parse_float(value.substr(0, gt), &c.vel0) && parse_float(value.substr(gt + 1), &c.vel1);
      ok = ok && c.vel0 >= 0 && c.vel0 <= 2 && c.vel1 >= 0 && c.vel1 <= 2;
    } else if (ok && key == "transpose" && c.kind == MG_CMD_PLAY) {
      ok = parse_int(value, &c.transpose) && std::abs(c.transpose) <= 48;
    } else if (ok && key == "center" && c.kind == MG_CMD_PLAY) {
      float v;
      ok = parse_param_value(value, &v) && v >= 0 && v <= 127;
      c.center = (int)v;
    } else if (ok && key == "from" && c.kind == MG_CMD_AUTO) {
      ok = parse_float(value, &c.v0);
      haveFrom = true;
    } else if (ok && key == "to" && c.kind == MG_CMD_AUTO) {
      ok = parse_float(value, &c.v1);
      haveTo = true;
    } else if (ok && key == "curve" && c.kind == MG_CMD_AUTO) {
      ok = value == "lin" || value == "exp";
      c.curve = value == "exp";
    } else {
      ok = false;
    }
    if (!ok) {
      report(src, "bad option '%s'", w[i].c_str());
      return false;
    }
  }
  if ((c.kind == MG_CMD_FADE || c.kind == MG_CMD_MUTE) && !haveBars) {
    report(src, c.kind == MG_CMD_FADE ? "fade needs bars=" : "mute needs bars=");
    return false;
  }
  if (c.kind == MG_CMD_AUTO && (!haveFrom || !haveTo || !haveBars)) {
    report(src, "auto needs bars=, from= and to=");
    return false;
  }
  if (c.kind == MG_CMD_AUTO && c.curve == 1 && (c.v0 <= 0.0f || c.v1 <= 0.0f)) {
    report(src, "an exp curve needs values above 0");
    return false;
  }
  sec->commands.push_back(c);
  return true;
}

bool parse_section(const Source& src, Parser* p, const std::vector<std::string>& head,
                   const std::vector<std::pair<Source, std::string>>& body) {
  if (head.size() < 3) {
    report(src, "section needs a name and event=N");
    return false;
  }
  s_mgsection sec;
  std::memset(sec.name, 0, sizeof sec.name);
  if (!copy_name(head[1], sec.name)) {
    report(src, "bad section name '%s'", head[1].c_str());
    return false;
  }
  sec.event = -1;
  sec.bars = 0;
  sec.transpose = 0;
  sec.level = 0.0f;
  sec.start = sec.length = 0;
  for (size_t i = 2; i < head.size(); ++i) {
    std::string key, value;
    bool ok = split_key(head[i], &key, &value);
    if (ok && key == "event") ok = parse_int(value, &sec.event) && sec.event >= 0;
    else if (ok && key == "bars") ok = parse_int(value, &sec.bars) && sec.bars >= 1 && sec.bars <= 256;
    else if (ok && key == "transpose") ok = parse_int(value, &sec.transpose) && std::abs(sec.transpose) <= 24;
    else if (ok && key == "level") ok = parse_float(value, &sec.level) && sec.level >= -40.0f && sec.level <= 12.0f;
    else ok = false;
    if (!ok) {
      report(src, "section %s: bad option '%s'", sec.name, head[i].c_str());
      return false;
    }
  }
  if (sec.event < 0) {
    report(src, "section %s needs event=N", sec.name);
    return false;
  }
  for (const auto& line : body) {
    std::vector<std::string> w = split_words(line.second);
    if (!parse_command(line.first, &sec, w)) return false;
  }
  p->score->sections.push_back(sec);
  return true;
}

bool parse_mix(const Source& src, Parser* p, const std::vector<std::string>& words) {
  for (size_t i = 1; i < words.size(); ++i) {
    std::string key, value;
    float v;
    bool found = false;
    if (split_key(words[i], &key, &value) && key == "gain") {
      // In double precision: the gain is written to the digit that picks
      // the exact factor the limiter applies.
      char* end = nullptr;
      const double db = std::strtod(value.c_str(), &end);
      found = !value.empty() && end == value.c_str() + value.size() && std::isfinite(db) && std::fabs(db) <= 60.0;
      if (found) p->score->mix.gain = db;
    } else if (split_key(words[i], &key, &value) && parse_float(value, &v)) {
      for (const MixField& f : kMixFields)
        if (key == f.name) p->score->mix.*(f.field) = v, found = true;
    }
    if (!found) {
      report(src, "mix: bad setting '%s'", words[i].c_str());
      return false;
    }
  }
  return true;
}

// Strips the comment and trailing blanks. A comment's '#' starts the line or
// follows a blank, so sharps in note names (C#5) and chords (F#m) survive.
std::string clean_line(const std::string& raw) {
  size_t cut = std::string::npos;
  for (size_t i = 0; i < raw.size(); ++i)
    if (raw[i] == '#' && (i == 0 || raw[i - 1] == ' ' || raw[i - 1] == '\t')) {
      cut = i;
      break;
    }
  std::string s = raw.substr(0, cut);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
  return s;
}

bool parse_block(Parser* p, const Source& src, const std::string& headline,
                 const std::vector<std::pair<Source, std::string>>& body, int depth) {
  std::vector<std::string> head = split_words(headline);
  const std::string& d = head[0];
  if (d == "include") {
    if (head.size() != 2 || !body.empty()) {
      report(src, "include takes one file name");
      return false;
    }
    if (depth + 1 > kMaxIncludeDepth) {
      report(src, "includes nest deeper than 8 (a loop?)");
      return false;
    }
    std::string path = head[1][0] == '/' ? head[1] : src.dir + head[1];
    return parse_file(p, path, depth + 1);
  }
  if (d == "mix") {
    if (!body.empty()) return report(src, "mix takes no indented lines"), false;
    return parse_mix(src, p, head);
  }
  if (d == "instrument") return parse_instrument(src, p, head, body);
  if (d == "pattern") return parse_pattern(src, p, head, body);
  if (d == "chords") return parse_progression(src, p, head, body);
  if (d == "section") return parse_section(src, p, head, body);
  report(src, "unknown directive '%s'", d.c_str());
  return false;
}

bool parse_text(Parser* p, const std::string& text, const std::string& name, const std::string& dir, int depth) {
  std::istringstream in(text);
  std::string raw;
  Source src{name, dir, 0};
  Source headsrc = src;
  std::string headline;
  std::vector<std::pair<Source, std::string>> body;
  bool inblock = false;
  while (std::getline(in, raw)) {
    ++src.line;
    std::string line = clean_line(raw);
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (line[0] == ' ' || line[0] == '\t') {
      if (!inblock) {
        report(src, "indented line outside a block");
        return false;
      }
      body.emplace_back(src, line);
      continue;
    }
    if (inblock && !parse_block(p, headsrc, headline, body, depth)) return false;
    headsrc = src;
    headline = line;
    body.clear();
    inblock = true;
  }
  if (inblock && !parse_block(p, headsrc, headline, body, depth)) return false;
  return true;
}

bool parse_file(Parser* p, const std::string& path, int depth) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    printf(MG_MSG "cannot read %s\n", path.c_str());
    return false;
  }
  std::stringstream ss;
  ss << f.rdbuf();
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  return parse_text(p, ss.str(), path, dir, depth);
}

void mix_defaults(s_mgmix* m) {
  m->delayticks = 6.0f;
  m->feedback = 0.4f;
  m->delaylp = 5000.0f;
  m->delayhp = 250.0f;
  m->roomsize = 0.8f;
  m->damp = 0.3f;
  m->predelay = 0.02f;
  m->delaytoreverb = 0.3f;
  m->duckthreshold = -30.0f;
  m->duckratio = 6.0f;
  m->duckattack = 0.002f;
  m->duckrelease = 0.15f;
  m->target = -14.0f;
  m->ceiling = -1.5f;
  m->fadeout = 1.5f;
  m->gain = std::nan("");
  m->duckreturns = 0.0f;
  m->airdb = 0.0f;
  m->muddb = 0.0f;
}

void clear_score(s_mgscore* score) {
  score->instruments.clear();
  score->patterns.clear();
  score->progressions.clear();
  score->sections.clear();
  mix_defaults(&score->mix);
}

}  // namespace

// ============================================================================
// Public functions
// ============================================================================

int mg_param_find(const char* name) {
  for (int i = 0; i < MG_P_COUNT; ++i)
    if (std::strcmp(kParams[i].name, name) == 0) return i;
  return -1;
}

const char* mg_param_name(int param) {
  return param >= 0 && param < MG_P_COUNT ? kParams[param].name : "?";
}

void mg_instrument_defaults(s_mginstrument* ins, int engine) {
  ins->engine = engine;
  for (int i = 0; i < MG_P_COUNT; ++i) ins->p[i] = kParams[i].value;
  for (const EngineDefault& d : kEngineDefaults)
    if (d.engine == engine) ins->p[d.param] = d.value;
}

int mg_chord_parse(const char* symbol, s_mgchord* chord) {
  static const struct {
    const char* name;
    int tones[6];  // semitones above the root, -1 ends
  } kQualities[] = {
      {"", {0, 4, 7, -1}},          {"m", {0, 3, 7, -1}},          {"7", {0, 4, 7, 10, -1}},
      {"maj7", {0, 4, 7, 11, -1}},  {"m7", {0, 3, 7, 10, -1}},     {"sus2", {0, 2, 7, -1}},
      {"sus4", {0, 5, 7, -1}},      {"7sus4", {0, 5, 7, 10, -1}},  {"add9", {0, 4, 7, 14, -1}},
      {"madd9", {0, 3, 7, 14, -1}}, {"6", {0, 4, 7, 9, -1}},       {"m6", {0, 3, 7, 9, -1}},
      {"dim", {0, 3, 6, -1}},       {"aug", {0, 4, 8, -1}},        {"9", {0, 4, 7, 10, 14, -1}},
      {"maj9", {0, 4, 7, 11, 14, -1}}, {"m9", {0, 3, 7, 10, 14, -1}},
  };
  std::string s = symbol ? symbol : "";
  size_t i = 0;
  int root;
  if (!parse_pitchclass(s, &i, &root)) return 0;
  size_t slash = s.find('/', i);
  std::string quality = s.substr(i, slash == std::string::npos ? std::string::npos : slash - i);
  int bass = root;
  if (slash != std::string::npos) {
    size_t j = slash + 1;
    if (!parse_pitchclass(s, &j, &bass) || j != s.size()) return 0;
  }
  for (const auto& q : kQualities) {
    if (quality != q.name) continue;
    chord->root = root;
    chord->bass = bass;
    chord->tones.clear();
    for (int k = 0; k < 6 && q.tones[k] >= 0; ++k) chord->tones.push_back(q.tones[k]);
    chord->length = MG_TICKS_PER_BAR;
    chord->symbol = s;
    return 1;
  }
  return 0;
}

int mg_score_parse(const char* text, const char* name, const char* dir, s_mgscore* score) {
  clear_score(score);
  Parser p{score, 0};
  return parse_text(&p, text ? text : "", name ? name : "score", dir ? dir : "", 0) ? 1 : 0;
}

int mg_score_load(const char* path, s_mgscore* score) {
  clear_score(score);
  Parser p{score, 0};
  return parse_file(&p, path, 0) ? 1 : 0;
}
