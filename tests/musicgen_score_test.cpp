// musicgen: the score reader, the sequencer and the timing file.
//
// Small scores in memory check how patterns, ties, chords, sections and
// transposition become notes on the tick grid, and that every mistake in a
// score is refused with a message that says where and why. The show's own
// score and timing file are then checked against each other, with the timing
// file also read through the show's reader (LoadTiming, from a packed image).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "corefile/corefile.h"
#include "musicgen.h"
#include "test_util.h"
#include "timeline/timeline.h"

namespace {

const char* kInstruments =
    "instrument lead synth center=64\n"
    "instrument bass synth center=47\n"
    "instrument kick kick note=C2\n";

struct Result {
  int parsed = 0;
  int sequenced = 0;
  std::string out;
  s_mgscore score;
  s_mgsong song;
};

Result run(const std::string& text, const std::vector<int>& events) {
  Result r;
  r.out = test_util::capture_stdout([&] {
    r.parsed = mg_score_parse(text.c_str(), "t.score", "", &r.score);
    if (r.parsed) r.sequenced = mg_sequence(&r.score, events, &r.song);
  });
  return r;
}

std::vector<float> pitches_at(const s_mgsong& song, int tick, int track) {
  std::vector<float> p;
  for (const s_mgnote& n : song.notes)
    if (n.tick == tick && n.track == track) p.push_back(n.pitch);
  return p;
}

// The notes of one track, in the song's order.
std::vector<const s_mgnote*> NotesOfTrack(const s_mgsong& song, int track) {
  std::vector<const s_mgnote*> notes;
  for (const s_mgnote& n : song.notes)
    if (n.track == track) notes.push_back(&n);
  return notes;
}

}  // namespace

// ---- Notes and chords ------------------------------------------------------------------

TEST(MusicgenScore, PatternsBecomeNotesOnTheTickGrid) {
  Result r = run(std::string(kInstruments) +
                     "pattern p\n"
                     "  C4 - - . E4! | D4? # a comment after a blank\n"
                     "pattern k step=8\n"
                     "  X . x o\n"
                     "section a event=0\n"
                     "  play lead p bars=0-2\n"
                     "  play kick k bars=1-2 vel=0.5\n"
                     "section end event=1 bars=1\n",
                 {0, 64});
  ASSERT_EQ(r.parsed, 1) << r.out;
  ASSERT_EQ(r.sequenced, 1) << r.out;
  // The pattern is 6 steps of 2 ticks = 12 ticks; it repeats 6 times in 64 ticks (3 notes each, the
  // last repeat cut by the range end after its first note).
  const std::vector<const s_mgnote*> lead = NotesOfTrack(r.song, 0);
  ASSERT_EQ(lead.size(), 16u);
  EXPECT_EQ(lead[0]->tick, 0);
  EXPECT_EQ(lead[0]->pitch, 60.0f);
  EXPECT_EQ(lead[0]->gate, 6 * MG_TICK_FRAMES) << "C4 held for three steps";
  EXPECT_FLOAT_EQ(lead[0]->vel, 0.8f);
  EXPECT_EQ(lead[1]->tick, 8);
  EXPECT_EQ(lead[1]->pitch, 64.0f);
  EXPECT_FLOAT_EQ(lead[1]->vel, 1.0f) << "'!' accents";
  EXPECT_EQ(lead[2]->tick, 10);
  EXPECT_EQ(lead[2]->pitch, 62.0f);
  EXPECT_FLOAT_EQ(lead[2]->vel, 0.5f) << "'?' softens";
  EXPECT_EQ(lead[3]->tick, 12) << "the pattern repeats";
  EXPECT_EQ(lead.back()->tick, 60);
  EXPECT_EQ(lead.back()->gate, 4 * MG_TICK_FRAMES) << "cut at the end of the range";
  for (const s_mgnote& n : r.song.notes) {
    EXPECT_EQ(n.start, (int64_t)n.tick * MG_TICK_FRAMES) << "every note starts on a whole tick";
  }
  // Drum hits play the instrument's note, at the accent, normal and ghost velocities, scaled.
  const std::vector<const s_mgnote*> kick = NotesOfTrack(r.song, 2);
  ASSERT_EQ(kick.size(), 3u);
  EXPECT_EQ(kick[0]->tick, 32);
  EXPECT_EQ(kick[0]->pitch, 36.0f);
  EXPECT_FLOAT_EQ(kick[0]->vel, 0.5f);
  EXPECT_EQ(kick[1]->tick, 48);
  EXPECT_FLOAT_EQ(kick[1]->vel, 0.4f);
  EXPECT_FLOAT_EQ(kick[2]->vel, 0.225f);
  EXPECT_EQ(r.song.endtick, 96);
  EXPECT_EQ(r.song.frames, 96 * MG_TICK_FRAMES);
}

TEST(MusicgenScore, ChordTonesFollowTheProgressionAndTheCentre) {
  Result r = run(std::string(kInstruments) +
                     "chords prog\n"
                     "  A E/G# F#m:0.5 Dmaj7:0.5\n"
                     "pattern tones step=4\n"
                     "  c0 c1 c2 c3 r r, * .\n"
                     "section a event=0\n"
                     "  chords prog\n"
                     "  play lead tones bars=0-4\n"
                     "  play bass tones bars=0-1 center=57\n"
                     "section b event=1 bars=1 transpose=2\n"
                     "  chords prog\n"
                     "  play lead tones bars=0-1\n",
                 {0, 128});
  ASSERT_EQ(r.sequenced, 1) << r.out;
  // A major around E4: C#4 E4 A4 then C#5; the bass at or below E4 is A3, an octave down A2.
  EXPECT_EQ(pitches_at(r.song, 0, 0), std::vector<float>({61}));
  EXPECT_EQ(pitches_at(r.song, 4, 0), std::vector<float>({64}));
  EXPECT_EQ(pitches_at(r.song, 8, 0), std::vector<float>({69}));
  EXPECT_EQ(pitches_at(r.song, 12, 0), std::vector<float>({73}));
  EXPECT_EQ(pitches_at(r.song, 16, 0), std::vector<float>({57}));
  EXPECT_EQ(pitches_at(r.song, 20, 0), std::vector<float>({45}));
  EXPECT_EQ(pitches_at(r.song, 24, 0), std::vector<float>({61, 64, 69}));
  // E over G#: the slash note is the bass; the tones voice-lead to B3 E4 G#4.
  EXPECT_EQ(pitches_at(r.song, 32 + 16, 0), std::vector<float>({56}));
  EXPECT_EQ(pitches_at(r.song, 32 + 24, 0), std::vector<float>({59, 64, 68}));
  // Half-bar chords: F#m (C#4 F#4 A4), then Dmaj7 (four tones) with D4 in the bass.
  EXPECT_EQ(pitches_at(r.song, 64, 0), std::vector<float>({61}));
  EXPECT_EQ(pitches_at(r.song, 68, 0), std::vector<float>({66}));
  EXPECT_EQ(pitches_at(r.song, 72, 0), std::vector<float>({69}));
  EXPECT_EQ(pitches_at(r.song, 80, 0), std::vector<float>({62}));
  EXPECT_EQ(pitches_at(r.song, 80 + 8, 0), std::vector<float>({61, 62, 66, 69}));
  // The progression loops: bar 3 is A again.
  EXPECT_EQ(pitches_at(r.song, 96, 0), std::vector<float>({61}));
  // A play line's own centre (A3): the tones start at E3.
  EXPECT_EQ(pitches_at(r.song, 0, 1), std::vector<float>({52}));
  EXPECT_EQ(pitches_at(r.song, 16, 1), std::vector<float>({57}));
  // A section's transposition moves the chords; the voicing stays around the centre (B: B3 D#4 F#4).
  EXPECT_EQ(pitches_at(r.song, 128 + 24, 0), std::vector<float>({59, 63, 66}));
  EXPECT_EQ(pitches_at(r.song, 128 + 16, 0), std::vector<float>({59}));
}

TEST(MusicgenScore, AutomationLandsOnTheSectionsFrames) {
  Result r = run(std::string(kInstruments) +
                     "section a event=0\n"
                     "  auto lead lpf bars=1-3 from=200 to=8000 curve=exp\n"
                     "section b event=1 bars=2\n"
                     "  auto lead gain bars=0.5-1 from=-3 to=-20\n",
                 {0, 128});
  ASSERT_EQ(r.sequenced, 1) << r.out;
  ASSERT_EQ(r.song.autos.size(), 2u);
  const s_mgauto& g = r.song.autos[0].param == MG_P_GAIN ? r.song.autos[0] : r.song.autos[1];
  const s_mgauto& f = r.song.autos[0].param == MG_P_LPF ? r.song.autos[0] : r.song.autos[1];
  EXPECT_EQ(f.start, 32 * MG_TICK_FRAMES);
  EXPECT_EQ(f.end, 96 * MG_TICK_FRAMES);
  EXPECT_EQ(f.curve, 1);
  EXPECT_EQ(g.start, (128 + 16) * MG_TICK_FRAMES);
  EXPECT_EQ(g.end, (128 + 32) * MG_TICK_FRAMES);
  EXPECT_FLOAT_EQ(g.v0, -3.0f);
  EXPECT_FLOAT_EQ(g.v1, -20.0f);
}

TEST(MusicgenScore, AFadeHoldsThroughTheTailUntilTheNextNote) {
  Result r = run("instrument tone synth wave=sine cutoff=18000 attack=0.001 sustain=1 release=1 velsens=0\n"
                 "pattern one step=32\n  A4\n"
                 "section a event=0\n  play tone one\n  auto tone gain bars=0-1 from=0 to=-60\n"
                 "section b event=1 bars=2\n  play tone one bars=1-2\n",
                 {0, 32});
  ASSERT_EQ(r.sequenced, 1) << r.out;
  std::vector<float> out;
  ASSERT_EQ(mg_render(&r.score, &r.song, 0, r.song.frames, &out), r.song.frames);
  const int64_t bar = MG_TICKS_PER_BAR * MG_TICK_FRAMES;
  auto peak = [&](int64_t a, int64_t b) { return mg_samplepeak(out.data() + 2 * a, b - a); };
  const double start = peak(MG_RATE / 20, MG_RATE / 10);
  EXPECT_GT(start, 0.5) << "the note starts at full level";
  // Bar 1 is the released note's tail: it stays at the fade's end (-60 dB), not back at 0 dB.
  EXPECT_LT(peak(bar + MG_RATE / 20, 2 * bar - MG_RATE / 20), 0.01 * start);
  // The next note-on brings the instrument's own gain back.
  EXPECT_GT(peak(2 * bar + MG_RATE / 20, 2 * bar + MG_RATE / 10), 0.9 * start);
}

TEST(MusicgenScore, LevelsAndBreathsScaleTheWholeMixReturnsIncluded) {
  // A held tone with a long reverb; section a is 6 dB down and breathes in
  // its second bar, section b plays as mixed.
  const std::string body =
      "mix roomsize=0.95 damp=0.1\n"
      "instrument tone synth wave=sine cutoff=18000 attack=0.001 sustain=1 release=0.05 velsens=0 reverb=0.8\n"
      "pattern stab step=8\n  A4 . . .\n";
  Result plain = run(body + "section a event=0\n  play tone stab\nsection b event=1 bars=1\n  play tone stab\n", {0, 64});
  Result shaped = run(body + "section a event=0 level=-6\n  play tone stab\n  mute bars=1-2\n"
                             "section b event=1 bars=1\n  play tone stab\n", {0, 64});
  ASSERT_EQ(plain.sequenced, 1) << plain.out;
  ASSERT_EQ(shaped.sequenced, 1) << shaped.out;
  const int64_t bar = MG_TICKS_PER_BAR * MG_TICK_FRAMES;
  ASSERT_EQ(shaped.song.levels.size(), 2u);
  EXPECT_EQ(shaped.song.levels[1].from, bar);
  EXPECT_EQ(shaped.song.levels[1].to, 2 * bar);
  std::vector<float> a, b;
  mg_render(&plain.score, &plain.song, 0, plain.song.frames, &a);
  mg_render(&shaped.score, &shaped.song, 0, shaped.song.frames, &b);
  auto peak = [](const std::vector<float>& x, int64_t from, int64_t to) {
    return mg_samplepeak(x.data() + 2 * from, to - from);
  };
  // Bar 0 at half the amplitude; bar 1 silent from its first frame to its
  // last, though the plain mix rings on there; bar 2 as mixed.
  EXPECT_NEAR(peak(b, 0, bar - 64) / peak(a, 0, bar - 64), 0.5, 0.01);
  EXPECT_GT(peak(a, bar, 2 * bar), 1e-3) << "the plain mix sounds there";
  EXPECT_EQ(peak(b, bar, 2 * bar), 0.0);
  EXPECT_NEAR(peak(b, 2 * bar + 64, 3 * bar) / peak(a, 2 * bar + 64, 3 * bar), 1.0, 0.01);
}

TEST(MusicgenScore, ChordSymbols) {
  s_mgchord c;
  ASSERT_EQ(mg_chord_parse("A", &c), 1);
  EXPECT_EQ(c.root, 9);
  EXPECT_EQ(c.tones, std::vector<int>({0, 4, 7}));
  ASSERT_EQ(mg_chord_parse("F#m", &c), 1);
  EXPECT_EQ(c.root, 6);
  EXPECT_EQ(c.tones, std::vector<int>({0, 3, 7}));
  ASSERT_EQ(mg_chord_parse("Bm7", &c), 1);
  EXPECT_EQ(c.tones, std::vector<int>({0, 3, 7, 10}));
  ASSERT_EQ(mg_chord_parse("Ebmaj7", &c), 1);
  EXPECT_EQ(c.root, 3);
  EXPECT_EQ(c.tones, std::vector<int>({0, 4, 7, 11}));
  ASSERT_EQ(mg_chord_parse("A/C#", &c), 1);
  EXPECT_EQ(c.root, 9);
  EXPECT_EQ(c.bass, 1);
  ASSERT_EQ(mg_chord_parse("Esus4", &c), 1);
  EXPECT_EQ(c.tones, std::vector<int>({0, 5, 7}));
  ASSERT_EQ(mg_chord_parse("Cb", &c), 1);
  EXPECT_EQ(c.root, 11);
  for (const char* bad : {"", "H", "a", "Axyz", "A/", "A/H", "A/C#x", "m"}) EXPECT_EQ(mg_chord_parse(bad, &c), 0) << bad;
}

// ---- Mistakes in a score -----------------------------------------------------------------------

struct BadScore {
  const char* text;          // after the instruments
  std::vector<int> events;
  const char* message;       // a part of what must be printed
};

class MusicgenBadScore : public testing::TestWithParam<BadScore> {};

TEST_P(MusicgenBadScore, IsRefusedWithAMessage) {
  const BadScore& b = GetParam();
  Result r = run(std::string(kInstruments) + b.text, b.events);
  EXPECT_FALSE(r.parsed && r.sequenced);
  EXPECT_NE(r.out.find(b.message), std::string::npos) << "printed: " << r.out;
  EXPECT_NE(r.out.find("musicgen: "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Parsing, MusicgenBadScore,
    testing::Values(
        BadScore{"instrument x synth cutof=3\n", {0}, "unknown parameter 'cutof'"},
        BadScore{"instrument x synth cutoff=loud\n", {0}, "bad value 'loud'"},
        BadScore{"instrument x theremin\n", {0}, "unknown engine 'theremin'"},
        BadScore{"instrument x synth voices=99\n", {0}, "voices must be 1 to 16"},
        BadScore{"instrument x synth unison=0\n", {0}, "unison must be 1 to 7"},
        BadScore{"instrument x synth wave=2.5\n", {0}, "wave must be"},
        BadScore{"instrument x synth decay=-1\n", {0}, "decay must be 0 to 60 seconds"},
        BadScore{"instrument lead fm\n", {0}, "instrument lead is defined twice"},
        BadScore{"pattern p\n  C4 H4\n", {0}, "t.score:5: pattern p: bad token 'H4'"},
        BadScore{"pattern p\n  c0''''''\n", {0}, "bad token"},
        BadScore{"pattern p step=0\n  x\n", {0}, "bad option 'step=0'"},
        BadScore{"pattern p\n", {0}, "pattern p is empty"},
        BadScore{"chords c\n  A Hm\n", {0}, "unknown chord 'Hm'"},
        BadScore{"chords c\n  A:0.01\n", {0}, "does not last whole ticks"},
        BadScore{"section s\n", {0}, "section needs a name and event=N"},
        BadScore{"section s event=0\n  auto lead lpf bars=0-1 from=100\n", {0}, "auto needs bars=, from= and to="},
        BadScore{"section s event=0\n  auto lead attack bars=0-1 from=0 to=1\n", {0}, "'attack' cannot be automated"},
        BadScore{"section s event=0\n  auto lead lpf bars=0-1 from=0 to=100 curve=exp\n", {0},
                 "an exp curve needs values above 0"},
        BadScore{"section s event=0\n  play lead p bars=0.01-1\n", {0}, "bad option 'bars=0.01-1'"},
        BadScore{"section s event=0\n  play lead p bars=2-1\n", {0}, "bad option 'bars=2-1'"},
        BadScore{"section s event=0\n  dance lead\n", {0}, "expected chords, play or auto"},
        BadScore{"section s event=0\n  mute\n", {0}, "mute needs bars="},
        BadScore{"section s event=0 level=20\n", {0}, "section s: bad option 'level=20'"},
        BadScore{"tempo 120\n", {0}, "unknown directive 'tempo'"},
        BadScore{"mix loudness=3\n", {0}, "mix: bad setting 'loudness=3'"},
        BadScore{"include nowhere.score\n", {0}, "cannot read nowhere.score"}));

INSTANTIATE_TEST_SUITE_P(
    Sequencing, MusicgenBadScore,
    testing::Values(
        BadScore{"section a event=0\nsection b event=1 bars=1\n", {0, 40}, "event 1 starts at tick 40, which is not on a bar line"},
        BadScore{"section a event=0\nsection c event=2 bars=1\n", {0, 32, 64}, "no section is keyed to event 1 (tick 32)"},
        BadScore{"section a event=0\nsection b event=1\n", {0, 32}, "section b follows the last event and needs bars=N"},
        BadScore{"section a event=0 bars=4\nsection b event=1 bars=1\n", {0, 256}, "section a says 4 bars, but event 0 lasts 8 bars"},
        BadScore{"section a event=0 bars=1\nsection b event=0 bars=1\n", {0}, "sections a and b are both keyed to event 0"},
        BadScore{"section a event=3 bars=1\n", {0}, "keyed to event 3; the timing file has 1 events"},
        BadScore{"pattern p\n  x\nsection a event=0\n  play lead p bars=0-3\nsection b event=1 bars=1\n", {0, 64},
                 "bars reach past the end of section a (2 bars)"},
        BadScore{"section a event=0 bars=1\n  play nobody p\n", {0}, "no instrument named nobody"},
        BadScore{"section a event=0 bars=1\n  play lead nothing\n", {0}, "no pattern named nothing"},
        BadScore{"section a event=0 bars=1\n  chords none\n", {0}, "no chords named none"},
        BadScore{"pattern p\n  c0\nsection a event=0 bars=1\n  play lead p\n", {0},
                 "pattern p needs a chord at bar 0 of section a"},
        BadScore{"pattern p\n  G9\nsection a event=0 bars=1\n  play lead p transpose=12\n", {0},
                 "lands outside MIDI notes 0-127"},
        BadScore{"section a event=0 bars=1\n", {}, "the timing file has no events"},
        BadScore{"section a event=0\nsection b event=1 bars=1\n", {0, 320000}, "at most 30 minutes are rendered"},
        BadScore{"section a event=0\nsection b event=1 bars=1\n", {0, 0}, "event 1 does not start after event 0"}));

TEST(MusicgenScore, AnIndentedFirstLineBelongsToNoBlock) {
  s_mgscore score;
  std::string out = test_util::capture_stdout([&] { EXPECT_EQ(mg_score_parse("  x x\n", "t.score", "", &score), 0); });
  EXPECT_NE(out.find("musicgen: t.score:1: indented line outside a block"), std::string::npos) << out;
}

TEST(MusicgenScore, IncludesResolveAndLoopsAreCaught) {
  test_util::write_file("inc/main.score", "include parts/instr.score\nsection a event=0 bars=1\n  play lead p\n");
  test_util::write_file("inc/parts/instr.score", "instrument lead synth\ninclude pat.score\n");
  test_util::write_file("inc/parts/pat.score", "pattern p\n  A4\n");
  s_mgscore score;
  std::string out = test_util::capture_stdout([&] { EXPECT_EQ(mg_score_load("inc/main.score", &score), 1); });
  EXPECT_EQ(out, "");
  ASSERT_EQ(score.instruments.size(), 1u);
  ASSERT_EQ(score.patterns.size(), 1u);

  test_util::write_file("loop/a.score", "include b.score\n");
  test_util::write_file("loop/b.score", "include a.score\n");
  out = test_util::capture_stdout([&] { EXPECT_EQ(mg_score_load("loop/a.score", &score), 0); });
  EXPECT_NE(out.find("includes nest deeper than 8"), std::string::npos) << out;
}

// ---- Timing files -----------------------------------------------------------------------------------

TEST(MusicgenTiming, ReadsEventStartsAndRefusesBadOnes) {
  std::vector<int> ticks;
  std::string out = test_util::capture_stdout([&] {
    EXPECT_EQ(mg_timing_parse("# c\nevent 0 0 0 0\nstate 0 0\n\nstate 1 64\nevent 1 256 0 3\nevent 2 320 0 1\n",
                              "t.dat", &ticks),
              1);
  });
  EXPECT_EQ(ticks, std::vector<int>({0, 256, 320}));
  EXPECT_EQ(out, "");
  struct Bad {
    const char* text;
    const char* message;
  } bad[] = {
      {"event 1 0 0 0\n", "event 1 is not the 0-th event line"},
      {"event 0 64 0 0\nevent 1 32 0 0\n", "starts before the event above it"},
      {"event 0\n", "needs a number and a start tick"},
      {"event 0 -32 0 0\n", "out of range"},
      {"state 0 0\n", "no event lines"},
      // Event lines the show's reader would skip stop the music too.
      {"event 0 0 0 64\n", "t.dat:1: the show would skip this event line: transition index 64 is outside 0 to 63"},
      {"event 0 0 0 0\nevent 1 2147483648 0 0\n", "t.dat:2: the show would skip this event line: a number does not fit"},
  };
  for (const Bad& b : bad) {
    out = test_util::capture_stdout([&] { EXPECT_EQ(mg_timing_parse(b.text, "t.dat", &ticks), 0) << b.text; });
    EXPECT_NE(out.find(b.message), std::string::npos) << out;
  }
  std::string many;
  for (int i = 0; i < 257; ++i) many += "event " + std::to_string(i) + " " + std::to_string(32 * i) + " 0 0\n";
  out = test_util::capture_stdout([&] { EXPECT_EQ(mg_timing_parse(many, "t.dat", &ticks), 0); });
  EXPECT_NE(out.find("t.dat:257: the show would skip this event line: the table already holds 256 events"),
            std::string::npos) << out;
  out = test_util::capture_stdout([&] { EXPECT_EQ(mg_timing_load("no-such-timing.dat", &ticks), 0); });
  EXPECT_NE(out.find("cannot read no-such-timing.dat"), std::string::npos);
}

// Lines the way the show reads them: at most 255 bytes, a NUL ending a line's
// text but not the file. The music takes the same events as LoadTiming.
TEST(MusicgenTiming, TakesTheEventsTheShowLoads) {
  const std::string text = "event 0 0 0 1\nstate 0 0\n# " + std::string(253, '-') + "event 1 64 0 2\n" +
                           std::string("event 2 96") + '\0' + " trailing\nstate 0 0\nevent 3 128 0 0";
  std::vector<int> ticks;
  std::string out = test_util::capture_stdout([&] { EXPECT_EQ(mg_timing_parse(text, "t.dat", &ticks), 1); });
  EXPECT_EQ(out, "");
  EXPECT_EQ(ticks, std::vector<int>({0, 64, 96, 128}));

  std::filesystem::remove_all("timing-mount");
  std::filesystem::create_directories("timing-mount");
  test_util::write_file("timing-mount/timing.dat", text);
  test_util::capture_stdout([] {
    ASSERT_EQ(corefile_mountimage("timing-mount", 2), 1);
    InitTiming();
    LoadTiming("timing.dat");
  });
  corefile_closeimage();
  ASSERT_EQ(demo.numevents, static_cast<int32_t>(ticks.size()));
  for (int e = 0; e < demo.numevents; ++e) EXPECT_EQ(demo.event[e].time, ticks[static_cast<size_t>(e)]) << e;
}

// The show's own files: the score's sections against the timing file, read
// both by musicgen and by the show's reader from a packed image.
class MusicgenShowFiles : public testing::Test {
 protected:
  void TearDown() override { corefile_closeimage(); }
};

TEST_F(MusicgenShowFiles, ScoreAndTimingAgreeBarForBar) {
  const std::string timingpath = std::string(SPROX_SOURCE_DIR) + "/content/timing.dat";
  const std::string scorepath = std::string(SPROX_SOURCE_DIR) + "/content/music/sprox.score";
  ASSERT_EQ(test_util::run_corepack("-o timing-image.dat " + timingpath), 0);
  test_util::capture_stdout([] {
    ASSERT_EQ(corefile_mountimage("timing-image.dat", 0), 1);
    InitTiming();
    LoadTiming("timing.dat");
  });
  ASSERT_EQ(demo.numevents, 16) << "events 0-14 are scenes, 15 the end mark";

  std::vector<int> ticks;
  s_mgscore score;
  s_mgsong song;
  std::string out = test_util::capture_stdout([&] {
    ASSERT_EQ(mg_timing_load(timingpath.c_str(), &ticks), 1);
    ASSERT_EQ(mg_score_load(scorepath.c_str(), &score), 1);
    ASSERT_EQ(mg_sequence(&score, ticks, &song), 1);
  });
  ASSERT_EQ(out, "");
  ASSERT_EQ(ticks.size(), (size_t)demo.numevents);
  for (int e = 0; e < demo.numevents; ++e) {
    const s_event& ev = demo.event[e];
    EXPECT_EQ(ev.time, ticks[(size_t)e]) << "event " << e << " read the same by both readers";
    EXPECT_EQ(ev.time % MG_TICKS_PER_BAR, 0) << "event " << e << " starts on a bar line";
    ASSERT_GE(ev.numstates, 1);
    EXPECT_EQ(ev.stateoffset[0], 0) << "event " << e << " has a state at offset 0";
    for (int s = 0; s < ev.numstates; ++s) {
      EXPECT_EQ(ev.stateoffset[s] % MG_TICKS_PER_BAR, 0) << "event " << e << " state " << s << " on a bar line";
      if (e + 1 < demo.numevents) {
        EXPECT_LT(ev.time + ev.stateoffset[s], demo.event[e + 1].time);
      }
    }
    EXPECT_GE(ev.transition, 0);
    EXPECT_LE(ev.transition, 4);
  }
  // One section per event, starting where the event starts and lasting until the next one.
  ASSERT_EQ(score.sections.size(), (size_t)demo.numevents);
  for (const s_mgsection& sec : score.sections) {
    ASSERT_LT(sec.event, demo.numevents);
    EXPECT_EQ(sec.start, demo.event[sec.event].time) << sec.name;
    if (sec.event + 1 < demo.numevents) {
      EXPECT_EQ(sec.start + sec.length, demo.event[sec.event + 1].time) << sec.name;
    }
  }
  // The music runs at least 4 s past the end mark, and every note is on the grid inside it.
  const int64_t endmark = (int64_t)demo.event[15].time * MG_TICK_FRAMES;
  EXPECT_GE(song.frames, endmark + 4 * MG_RATE);
  ASSERT_FALSE(song.notes.empty());
  for (const s_mgnote& n : song.notes) {
    ASSERT_EQ(n.start, (int64_t)n.tick * MG_TICK_FRAMES);
    ASSERT_LT(n.start, song.frames);
    ASSERT_GT(n.gate, 0);
  }
  // Something plays on the first beat of every scene.
  for (int e = 0; e < 15; ++e) {
    bool found = false;
    for (const s_mgnote& n : song.notes) found = found || n.tick == demo.event[e].time;
    EXPECT_TRUE(found) << "nothing starts with event " << e;
  }
}
