#!/usr/bin/env bash
# Runs the real program on damaged resource images, each in its own scratch
# folder with its own sprox.dat beside a link to sprox, under Xvfb on the
# silent output. Every case must print its loaders' messages, keep running
# and end with exit status 0 when sent Escape; a crash, a signal or a hang
# fails the run.
#   BUILD=build          folder holding sprox, corepack and gen/ (default build)
#   SCRATCH=build-robust/damaged   where the variants are made
#   RUN_SECONDS=4        how long each case runs before Escape is sent
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
if [ -z "${DISPLAY:-}" ]; then
  # One X server for every case: starting Xvfb once saves a second a case.
  source scripts/xvfb.sh
  exec sprox_xvfb bash "$0" "$@"
fi
build=$(realpath "${BUILD:-build}")
scratch=$(realpath -m "${SCRATCH:-build-robust/damaged}")
run_seconds=${RUN_SECONDS:-4}
sprox=$build/sprox
corepack=$build/corepack
gen=$build/gen
for need in "$sprox" "$corepack" "$gen/music/sprox8a.wav" "$gen/images" "$gen/shaders"; do
  [ -e "$need" ] || { echo "damaged.sh: $need is missing (build first)"; exit 2; }
done
command -v xdotool >/dev/null || { echo "damaged.sh: xdotool is missing"; exit 2; }

rm -rf "$scratch"
mkdir -p "$scratch"
music=$gen/music/sprox8a.wav
images=$gen/images
shaders=$gen/shaders  # as the build packs them, the prelude in front of each body
timing=$root/content/timing.dat

# pack NAME MUSIC IMAGES SHADERS TIMING: a case folder holding the packed image.
pack() {
  local dir=$scratch/$1
  mkdir -p "$dir"
  ln -s "$sprox" "$dir/sprox"
  "$corepack" -o "$dir/sprox.dat" "$2" "$3" "$4" "$5" >/dev/null
}
newcase() { mkdir -p "$scratch/$1"; ln -s "$sprox" "$scratch/$1/sprox"; }

# ---- The variants ----------------------------------------------------------------
newcase missing
newcase empty; : >"$scratch/empty/sprox.dat"
pack whole "$music" "$images" "$shaders" "$timing"
full=$scratch/whole/sprox.dat
size=$(stat -c %s "$full")
# Cut inside the header, inside the table, inside the music, inside the
# images, and one byte short of the end.
for cut in 7 200 1000000 $((size * 9 / 10)) $((size - 1)); do
  newcase "cut_$cut"
  head -c "$cut" "$full" >"$scratch/cut_$cut/sprox.dat"
done

mkdir -p "$scratch/parts/images" "$scratch/parts/shaders" "$scratch/parts/music_short" "$scratch/parts/music_cut"
# A corrupt PNG: garbage over the middle of one image, and one cut to its signature.
cp "$images"/*.png "$scratch/parts/images/"
first=$(ls "$scratch/parts/images" | head -1)
second=$(ls "$scratch/parts/images" | sed -n 2p)
pngsize=$(stat -c %s "$scratch/parts/images/$first")
head -c 4096 /dev/urandom | dd of="$scratch/parts/images/$first" bs=1 seek=$((pngsize / 2)) conv=notrunc status=none
truncate -s 8 "$scratch/parts/images/$second"
pack bad_png "$music" "$scratch/parts/images" "$shaders" "$timing"
# Truncated music: shorter than its header, and cut inside the sample data.
head -c 30 "$music" >"$scratch/parts/music_short/sprox8a.wav"
head -c 100000 "$music" >"$scratch/parts/music_cut/sprox8a.wav"
pack wav_header "$scratch/parts/music_short/sprox8a.wav" "$images" "$shaders" "$timing"
pack wav_cut "$scratch/parts/music_cut/sprox8a.wav" "$images" "$shaders" "$timing"
# A scene shader and the post shader that do not compile.
cp "$shaders"/*.glsl "$scratch/parts/shaders/"
firstfx=$(ls "$scratch/parts/shaders" | grep '^fx_' | head -1)
printf 'void main() { this is not GLSL }\n' >"$scratch/parts/shaders/$firstfx"
printf 'uniform sampler2D ;\n' >"$scratch/parts/shaders/post.glsl"
pack bad_shader "$music" "$images" "$scratch/parts/shaders" "$timing"
# A timing file full of bad lines.
printf '%s\n' '# bad lines' 'event' 'event x y z w' 'event 0 0 0 999' 'state 0 0' 'event 1 -5 0 -3' \
  'state 99 -2147483648' 'event 2147483647 0 0 0' 'state 1 2147483647' 'nonsense' '' \
  'event 3 100 0 2 trailing words' 'state -1 -1' >"$scratch/parts/timing.dat"
for i in $(seq 1 300); do echo "event $i $((i * 3)) 0 $((i % 7))"; echo "state 0 $i"; done >>"$scratch/parts/timing.dat"
printf 'event 4 50\0 0 0\nstate 0' >>"$scratch/parts/timing.dat"
pack bad_timing "$music" "$images" "$shaders" "$scratch/parts/timing.dat"

# ---- Running them ------------------------------------------------------------------
# run_case NAME: starts the show, waits, sends Escape, waits for its end.
run_case() {
  local name=$1 dir=$scratch/$1 log=$scratch/$1.log
  local started=$SECONDS
  (cd "$dir" && SPROX_AUDIO=silent exec timeout -k 5 $((run_seconds + 40)) ./sprox) >"$log" 2>&1 &
  local pid=$!
  # Wait for the window (or an early end), then let it run a while.
  local waited=0
  while kill -0 $pid 2>/dev/null && ! xdotool search --name "Keldrun - Sprox" >/dev/null 2>&1; do
    sleep 0.2; waited=$((waited + 1)); [ $waited -gt 150 ] && break
  done
  sleep "$run_seconds"
  local tries=0
  while kill -0 $pid 2>/dev/null && [ $tries -lt 20 ]; do
    xdotool search --name "Keldrun - Sprox" key Escape >/dev/null 2>&1
    sleep 0.5; tries=$((tries + 1))
  done
  wait $pid
  local rc=$?
  local verdict=ok
  if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then verdict="HANG"
  elif [ $rc -ne 0 ]; then verdict="FAIL (exit $rc)"; fi
  if grep -qE "AddressSanitizer|runtime error|Segmentation|core dumped" "$log"; then verdict="FAIL (sanitizer/crash report)"; fi
  printf '%-14s %-28s %3ds  %s\n' "$name" "$verdict" $((SECONDS - started)) \
    "$(grep -m1 -iE "couldn't|error|fail|not|short|skip|invalid" "$log" | cut -c1-70)"
  [ "$verdict" = ok ]
}

status=0
cases="missing empty $(cd "$scratch" && ls -d cut_* | sort -t_ -k2 -n) bad_png wav_header wav_cut bad_shader bad_timing whole"
for c in $cases; do run_case "$c" || status=1; done
[ $status -eq 0 ] && echo "damaged: all cases ended cleanly" || echo "damaged: FAILED"
exit $status
