#!/usr/bin/env bash
# The speed report: the capture tool's timing report at scale 1 on this
# machine. Prints the start-up time (the report's "start-up:" line) of RUNS
# short captures with their median and the median of each step of the
# start-up split, then one capture of the whole show at FPS frames a second:
# the frame time per event (median and maximum) and the GL time per pass.
# With BASE, a folder holding another build's sprox-capture and sprox.dat,
# the same runs are made of that build too, interleaved with this one's so
# that both see the same machine, and the ratios are printed. A report only:
# it fails when a capture cannot run, never on a time.
#   BUILD=build   the build folder to measure (sprox-capture and sprox.dat)
#   BASE=         a build folder to compare with (none by default)
#   RUNS=5        start-up runs of each build
#   FPS=1         frames a second of the whole-show capture
#   FRAMES=1      0 skips the whole-show capture (start-up only)
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
# One X server for every run.
sprox_rerun_under_xvfb "$0" "$@"
build=$(realpath "${BUILD:-build}")
base=${BASE:+$(realpath "$BASE")}
runs=${RUNS:-5}
fps=${FPS:-1}
for dir in "$build" $base; do
  [ -x "$dir/sprox-capture" ] && [ -e "$dir/sprox.dat" ] ||
    { echo "bench.sh: $dir holds no sprox-capture and sprox.dat (build first: bash scripts/build.sh)"; exit 2; }
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# capture DIR LOG ARGS...: one report run of the build in DIR.
capture() {
  local dir=$1 log=$2
  shift 2
  (cd "$dir" && ./sprox-capture --quiet --report "$@") >"$log" 2>&1 ||
    { echo "bench.sh: sprox-capture in $dir failed:"; tail -5 "$log"; exit 1; }
}
startup_of() { sed -n 's/^start-up: \([0-9.]*\) ms.*/\1/p' "$1"; }

echo "==== start-up: $runs runs of each build, sprox-capture --fps 1 --to 5 --report ===="
for run in $(seq 1 "$runs"); do
  for dir in "$build" $base; do
    name=$([ "$dir" = "$build" ] && echo this || echo base)
    capture "$dir" "$scratch/$name.$run.log" --fps 1 --to 5
    startup_of "$scratch/$name.$run.log" >>"$scratch/$name.startup"
    grep '^start-up split:' "$scratch/$name.$run.log" >>"$scratch/$name.split"
  done
done
for name in this $([ -n "$base" ] && echo base); do
  printf '%-5s start-up ms: %s  median %s\n' "$name" "$(tr '\n' ' ' <"$scratch/$name.startup")" \
    "$(sprox_median <"$scratch/$name.startup")"
  # The split's parts, "NAME VALUE ms" between commas: the median of each.
  [ -s "$scratch/$name.split" ] && sed 's/^start-up split: //' "$scratch/$name.split" | tr ',' '\n' |
    sed -n 's/^ *\(.*[a-z]\) \([0-9.-]*\) ms$/\1\t\2/p' |
    awk -F'\t' '{ if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 } v[$1] = v[$1] " " $2 }
      END { for (i = 1; i <= n; i++) print order[i] "\t" v[order[i]] }' |
    while IFS=$'\t' read -r part values; do
      printf '        %-18s median %8.1f ms\n' "$part" "$(tr ' ' '\n' <<<"$values" | grep . | sprox_median)"
    done
done
if [ -n "$base" ]; then
  awk -v a="$(sprox_median <"$scratch/this.startup")" -v b="$(sprox_median <"$scratch/base.startup")" \
    'BEGIN { printf "start-up ratio this/base: %.2f\n", (b > 0 ? a / b : 0) }'
fi

[ "${FRAMES:-1}" = 0 ] && exit 0
for dir in "$build" $base; do
  name=$([ "$dir" = "$build" ] && echo this || echo base)
  echo
  echo "==== frame time: $name ($dir), the whole show at $fps fps ===="
  capture "$dir" "$scratch/$name.show.log" --fps "$fps"
  sed -n '/^render time per frame/,$p' "$scratch/$name.show.log" | grep -v '^start-up split:'
done
if [ -n "$base" ]; then
  all_of() { awk '$1 == "all" { print $3; exit }' "$1"; }
  awk -v a="$(all_of "$scratch/this.show.log")" -v b="$(all_of "$scratch/base.show.log")" \
    'BEGIN { printf "\nmedian frame ratio this/base: %.2f\n", (b > 0 ? a / b : 0) }'
fi
exit 0
