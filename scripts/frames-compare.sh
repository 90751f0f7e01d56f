#!/usr/bin/env bash
# Compares two folders of captured frames (sprox-capture --png) frame by
# frame: identical files count as SSIM 1, others are measured with ffmpeg's
# ssim filter. Prints every frame below 1, the lowest SSIM, and exits 1 when
# any frame is below the threshold (default 0.98) or missing.
#   bash scripts/frames-compare.sh BEFORE_DIR AFTER_DIR [THRESHOLD]
set -euo pipefail
before=$1 after=$2 threshold=${3:-0.98}
lowest=1 failed=0 count=0
for a in "$before"/frame_*.png; do
  name=$(basename "$a") b="$after/$name"
  count=$((count + 1))
  if [ ! -f "$b" ]; then echo "$name: missing"; failed=1; continue; fi
  cmp -s "$a" "$b" && continue
  ssim=$(ffmpeg -nostdin -loglevel info -i "$a" -i "$b" -lavfi ssim -f null - 2>&1 |
    sed -n 's/.*All:\([0-9.]*\).*/\1/p')
  echo "$name: SSIM $ssim"
  awk -v s="$ssim" -v l="$lowest" 'BEGIN { exit !(s < l) }' && lowest=$ssim
  awk -v s="$ssim" -v t="$threshold" 'BEGIN { exit !(s < t) }' && failed=1
done
echo "frames: $count, lowest SSIM: $lowest"
exit $failed
