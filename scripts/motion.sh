#!/usr/bin/env bash
# Motion and beat response of the show, per event, from a capture at 10
# frames a second: each frame is scaled to 160x90 grey (0..255), and the
# change of a frame is the mean absolute difference from the one before.
# Prints per event the median change and the beat ratio: the mean change
# of the frames that follow a beat within a fifth of a beat, over that of
# the frames in the middle fifth of a beat (0.4 to 0.6). Frame times fall
# through every phase of the beat over an event, since a beat is not a whole
# number of frames.
#
# Nothing of the show is typed here: the capture's report names the sample
# rate, the tick, the beat and the last scene (its "show:" line), and its
# frame log gives each frame's playback offset and the event that the
# engine's own timeline put in force there.
#   bash scripts/motion.sh [VIDEO LOG REPORT]
# Run it from the repository root after a build. Without arguments it first
# captures build/motion.mp4, build/motion.csv and build/motion.txt; the three
# must come from one capture at 10 fps:
#   sprox-capture --fps 10 --mp4 VIDEO --log LOG --report >REPORT
# (for a part of the show, add --from START --to END).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -eq 0 ]; then
  video=build/motion.mp4 log=build/motion.csv report=build/motion.txt
  . scripts/xvfb.sh
  (cd build && sprox_xvfb ./sprox-capture --quiet --fps 10 --mp4 motion.mp4 --log motion.csv --report >motion.txt)
elif [ $# -eq 3 ]; then
  video=$1 log=$2 report=$3
else
  echo "usage: bash scripts/motion.sh [VIDEO LOG REPORT]" >&2
  exit 2
fi
grep -q '^show: ' "$report" || { echo "motion.sh: $report holds no \"show:\" line (sprox-capture --report)" >&2; exit 1; }
ffmpeg -nostdin -hide_banner -loglevel error -i "$video" \
  -vf "scale=160:90,format=gray,tblend=all_mode=difference,signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-" \
  -an -f null - |
  awk '
    FILENAME == ARGV[1] {            # the report: "show: R sample frames a second, T sample frames a tick, B ticks a beat, scenes 0 to L"
      if ($1 == "show:") { beatframes = $7 * $12; last = $NF }
      next
    }
    FILENAME == ARGV[2] {            # the frame log: frame,offset,tick,event,...
      if (FNR > 1) { split($0, f, ","); offset[FNR - 2] = f[2]; event[FNR - 2] = f[4] }
      next
    }
    /YAVG=/ {
      sub(/.*YAVG=/, ""); change = $0 + 0
      n++                            # the change arrives with frame n of the capture
      if (!(n in event)) next
      e = event[n] + 0
      if (e < 0 || e > last) next
      count[e]++; value[e, count[e]] = change
      phase = offset[n] / beatframes - int(offset[n] / beatframes)
      if (phase < 0.2) { on[e] += change; ons[e]++ }
      else if (phase >= 0.4 && phase < 0.6) { mid[e] += change; mids[e]++ }
    }
    END {
      printf "%-5s %8s %10s %7s\n", "event", "frames", "median", "beat"
      for (e = 0; e <= last; e++) {
        m = count[e]; if (m == 0) continue
        for (i = 1; i <= m; i++) v[i] = value[e, i]
        for (i = 2; i <= m; i++) { x = v[i]; j = i - 1; while (j > 0 && v[j] > x) { v[j + 1] = v[j]; j-- } v[j + 1] = x }
        median = (m % 2) ? v[(m + 1) / 2] : (v[m / 2] + v[m / 2 + 1]) / 2
        ratio = (mids[e] && mid[e] > 0) ? (on[e] / ons[e]) / (mid[e] / mids[e]) : 0
        printf "%-5d %8d %10.1f %7.2f\n", e, m, median, ratio
      }
    }' "$report" "$log" -
