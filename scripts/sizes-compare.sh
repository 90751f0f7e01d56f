#!/usr/bin/env bash
# How alike the show looks at other render sizes: captures the same moments
# (the middle of every other event) at 1280x720 and at each size given,
# scales each down to 1280x720 with ffmpeg (area filter) and prints the SSIM
# against the 1280x720 frame, one row per moment. Run from the repository
# root after a build; it needs ffmpeg and an X display or Xvfb.
#   bash scripts/sizes-compare.sh [SIZE...]   (default 640x360 1920x1080 3840x2160)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/xvfb.sh
build=${BUILD:-build}
sizes=${*:-640x360 1920x1080 3840x2160}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
capture() { xvfb-run -a -s "$SPROX_XVFB_SCREEN" "$build/sprox-capture" --data "$build/sprox.dat" --quiet "$@" >/dev/null; }

# The middles of events 0, 2, ..., 14, from the capture's frame log of the event starts.
capture --fps 1 --log "$work/log.csv" --report
# (At 1 frame a second the frame number is the time: columns frame, offset, tick, event.)
moments=$(awk -F, 'NR > 1 { if (!($4 in first)) { first[$4] = $1; order[n++] = $4 } last[$4] = $1 }
  END { for (i = 0; i < n; i += 2) printf "%.1f ", (first[order[i]] + last[order[i]]) / 2 }' "$work/log.csv")

printf '%8s' "time"; for s in $sizes; do printf '%12s' "$s"; done; echo
for t in $moments; do
  capture --at "$t" --png "$work/$t-base"
  printf '%8s' "$t"
  for s in $sizes; do
    capture --at "$t" --size "$s" --png "$work/$t-$s"
    ffmpeg -loglevel error -y -i "$work/$t-$s"/frame_*.png -vf scale=1280:720:flags=area "$work/$t-$s.png"
    ssim=$(ffmpeg -nostdin -i "$work/$t-base"/frame_*.png -i "$work/$t-$s.png" -lavfi ssim -f null - 2>&1 |
      sed -n 's/.*All:\([0-9.]*\).*/\1/p')
    printf '%12s' "$ssim"
  done
  echo
done
