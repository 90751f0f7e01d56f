#!/usr/bin/env bash
# Motion and beat response of the show, per event, from a capture at 10
# frames a second: each frame is scaled to 160x90 grey (0..255), and the
# change of a frame is the mean absolute difference from the one before.
# Prints per event the median change and the beat ratio: the mean change
# of the frames that follow a beat within a fifth of a beat, over that of
# the frames in the middle fifth of a beat (0.4 to 0.6). Frame times fall
# through every phase of the beat over an event, since a beat (8 ticks of
# 2739 sample frames) is not a whole number of frames.
#   bash scripts/motion.sh [VIDEO [START]]   (default: captures build/motion.mp4 first)
# Run it from the repository root after a build; VIDEO must be 10 fps, and
# START is the show time of its first frame in seconds (0: the whole show;
# for a part, sprox-capture --fps 10 --from START --to END --mp4 VIDEO).
set -euo pipefail
cd "$(dirname "$0")/.."
video=${1:-}
start=${2:-0}
if [ -z "$video" ]; then
  video=build/motion.mp4
  . scripts/xvfb.sh
  (cd build && sprox_xvfb ./sprox-capture --quiet --fps 10 --mp4 motion.mp4) >&2
fi
ffmpeg -nostdin -hide_banner -loglevel error -i "$video" \
  -vf "scale=160:90,format=gray,tblend=all_mode=difference,signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-" \
  -an -f null - |
  awk -v fps=10 -v first="$start" '
    BEGIN { ticksec = 2739 / 44100; beat = 8 * ticksec }
    FNR == NR {                      # the timing file: event start ticks
      if ($1 == "event" && $2 <= 14) start[$2] = $3 * ticksec
      next
    }
    /YAVG=/ {
      sub(/.*YAVG=/, ""); change = $0 + 0
      n++; t = first + n / fps        # the change arrives with frame n
      e = -1
      for (k = 0; k <= 14; k++) if (t >= start[k]) e = k
      if (e < 0) next
      count[e]++; value[e, count[e]] = change
      phase = t / beat - int(t / beat)
      if (phase < 0.2) { on[e] += change; ons[e]++ }
      else if (phase >= 0.4 && phase < 0.6) { mid[e] += change; mids[e]++ }
    }
    END {
      printf "%-5s %8s %10s %7s\n", "event", "frames", "median", "beat"
      for (e = 0; e <= 14; e++) {
        m = count[e]; if (m == 0) continue
        for (i = 1; i <= m; i++) v[i] = value[e, i]
        for (i = 2; i <= m; i++) { x = v[i]; j = i - 1; while (j > 0 && v[j] > x) { v[j + 1] = v[j]; j-- } v[j + 1] = x }
        median = (m % 2) ? v[(m + 1) / 2] : (v[m / 2] + v[m / 2 + 1]) / 2
        ratio = (mids[e] && mid[e] > 0) ? (on[e] / ons[e]) / (mid[e] / mids[e]) : 0
        printf "%-5d %8d %10.1f %7.2f\n", e, m, median, ratio
      }
    }' content/timing.dat -
