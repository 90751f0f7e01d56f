#!/bin/sh
# music-report.sh: measures the rendered music section by section.
#
#   scripts/music-report.sh [BUILD_DIR] [WAV]
#
# Prints per section the integrated loudness, the octave bands relative to
# the 1 kHz octave, the 400-2500 Hz pump depth on a beat, the share of the
# power under 40 Hz, the left-right correlation under 120 Hz, the kick's
# peak under 150 Hz, the hook's pitch match, the longest stretch of
# near-identical bars, and the levels of the breaths before the drops. The
# measures live in musicgen (--report), so that the tests assert the same
# figures on the built file.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
wav=${2:-$build/gen/music/sprox8a.wav}
tool=$build/musicgen
if [ ! -x "$tool" ]; then
  echo "music-report.sh: no musicgen in $build (build it first: cmake --build $build --target sprox_music)" >&2
  exit 2
fi
if [ ! -f "$wav" ]; then
  echo "music-report.sh: no music at $wav (build it first: cmake --build $build --target sprox_music)" >&2
  exit 2
fi
exec "$tool" --score "$root/content/music/sprox.score" --timing "$root/content/timing.dat" --report "$wav"
