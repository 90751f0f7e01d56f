#!/usr/bin/env bash
# Runs the real program on damaged resource images, each in its own scratch
# folder with its own sprox.dat beside a link to sprox, under Xvfb on the
# silent output, from the AddressSanitizer and UndefinedBehaviorSanitizer
# build that scripts/sanitize.sh makes. Every case whose data mounts must
# open the window, print the loader's line for its damage, still be running
# when Escape is sent once start-up is over and RUN_SECONDS have passed, and
# then end with exit status 0 and no sanitizer report. Every case with
# nothing to mount (no data, an image the reader refuses, a FIFO, a device,
# a link loop, an empty folder ...) must end at once with exit status 1, the
# reader's line and ours, and no window. A variant that cannot be made, a
# missing line, an early end, a crash or a hang fails the run.
#   BUILD=build-asan     folder holding sprox, corepack and gen/ (a sanitizer build)
#   SCRATCH=build-robust/damaged   where the variants are made
#   RUN_SECONDS=4        how long each case runs before Escape is sent
#   SANITIZED=0          accept a build without the sanitizers (their reports
#                        then cannot show up; the other checks still hold)
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
# One X server for every case: starting Xvfb once saves a second a case.
sprox_rerun_under_xvfb "$0" "$@"
build=$(realpath "${BUILD:-build-asan}")
scratch=$(realpath -m "${SCRATCH:-build-robust/damaged}")
run_seconds=${RUN_SECONDS:-4}
sprox=$build/sprox
corepack=$build/corepack
gen=$build/gen
title="Keldrun - Sprox"
for need in "$sprox" "$corepack" "$gen/music/sprox8a.wav" "$gen/images" "$gen/shaders"; do
  [ -e "$need" ] || { echo "damaged.sh: $need is missing (build first: bash scripts/sanitize.sh)"; exit 2; }
done
command -v xdotool >/dev/null || { echo "damaged.sh: xdotool is missing"; exit 2; }
if [ "${SANITIZED:-1}" != 0 ] && ! { grep -qa __asan_init "$sprox" && grep -qa __ubsan_handle "$sprox"; }; then
  echo "damaged.sh: $sprox is not built with AddressSanitizer and UndefinedBehaviorSanitizer"
  echo "  (bash scripts/sanitize.sh makes that build; SANITIZED=0 runs a plain one)"
  exit 2
fi
# A report ends the program with a signal, and is looked for in its output too.
sprox_sanitizer_env

rm -rf "$scratch"
mkdir -p "$scratch"
music=$gen/music/sprox8a.wav
images=$gen/images
shaders=$gen/shaders  # as the build packs them, the prelude in front of each body
timing=$SPROX_ROOT/content/timing.dat

# must COMMAND...: making a variant must not fail quietly.
must() { "$@" || { echo "damaged.sh: could not make a variant: $*"; exit 1; }; }
# An extended regular expression matching `text` literally.
literal() { printf '%s' "$1" | sed 's/[][\.*^$+?(){}|/]/\\&/g'; }

# The lines each case must print, one extended regular expression a line,
# each matched against one line of its output; "A ==> B" asks for a line
# matching A with one matching B among the three lines after it.
declare -A want
# newcase NAME LINES...: an empty case folder.
newcase() {
  must mkdir -p "$scratch/$1"
  must ln -s "$sprox" "$scratch/$1/sprox"
  local name=$1
  shift
  want[$name]=$(printf '%s\n' "$@")
}
# pack NAME MUSIC IMAGES SHADERS TIMING LINES...: a case folder holding the packed image.
pack() {
  local name=$1 dir=$scratch/$1
  newcase "$name" "${@:6}"
  "$corepack" -o "$dir/sprox.dat" "$2" "$3" "$4" "$5" >"$dir/pack.log" 2>&1 || {
    echo "damaged.sh: packing the variant $name failed:"; cat "$dir/pack.log"; exit 1; }
}

# Cases with nothing to show: run with args[NAME] (word-split), exit 1 at once.
declare -A args nodata
# nodatacase NAME ARGS LINES...: an empty case folder for such a case.
nodatacase() {
  local name=$1
  args[$name]=$2
  nodata[$name]=1
  newcase "$name" "${@:3}"
}
no_data="^sprox: no show data: could not mount "
hint="; put sprox\\.dat beside the program or name it with --data$"

# ---- The variants ----------------------------------------------------------------
# No data anywhere: a copy of the program (so that its own folder, where it
# also looks, holds nothing) says where it looked and exits with 1, no window.
nodatacase missing "" "^sprox: no sprox\\.dat found: looked in the current folder"
must rm "$scratch/missing/sprox"
must cp "$sprox" "$scratch/missing/sprox"
nodatacase empty "" "^loading from file$" "${no_data}sprox\\.dat \\(found in the current folder: not a resource image\\)$hint"
must touch "$scratch/empty/sprox.dat"
pack whole "$music" "$images" "$shaders" "$timing" "^load timing timing\\.dat, size: [0-9]+$" "^AUDIO: output: silent$"
full=$scratch/whole/sprox.dat
size=$(stat -c %s "$full")
# Cut inside the header, inside the table, inside the music, inside the
# images, and one byte short of the end.
damaged="^corefile: damaged image:"
for cut in 7 200 1000000 $((size * 9 / 10)) $((size - 1)); do
  case $cut in
    7) reason="header cut short" ;;
    200) reason="file table larger than the file" ;;
    *) reason="romsize beyond the end of the file" ;;
  esac
  nodatacase "cut_$cut" "" "$damaged $reason$" \
    "${no_data}sprox\\.dat \\(found in the current folder: damaged image: $reason\\)$hint"
  must head -c "$cut" "$full" >"$scratch/cut_$cut/sprox.dat"
  [ "$(stat -c %s "$scratch/cut_$cut/sprox.dat")" -eq "$cut" ] || { echo "damaged.sh: cut_$cut is not $cut bytes"; exit 1; }
done

# Nothing readable at the path given: a text file, a FIFO (which must not
# hang), a device, a link loop, a path of 100 kB, an empty folder, an
# unreadable image (not for root, who reads it all the same), and an image
# appended to a copy of the program whose trailer points at a header that
# claims more files than the program holds.
nodatacase text "--data notes.txt" "^Loading resource image: notes\\.txt$" "${no_data}notes\\.txt \\(the file given: not a resource image\\)$hint"
echo "not an image" >"$scratch/text/notes.txt"
nodatacase fifo "--data pipe" "^sprox: --data pipe: a FIFO, not a file or folder$"
must mkfifo "$scratch/fifo/pipe"
nodatacase device "--data /dev/zero" "^sprox: --data /dev/zero: a character device, not a file or folder$"
nodatacase link_loop "--data a" "^sprox: --data a: Too many levels of symbolic links$"
must ln -s b "$scratch/link_loop/a"
must ln -s a "$scratch/link_loop/b"
nodatacase long_path "--data /$(printf 'a%.0s' $(seq 100000))" \
  "^sprox: --data /a+\\.\\.\\. \\(a path of 100001 bytes\\): File name too long$"
nodatacase empty_folder "--data nothing" "^Found 0 files$" "${no_data}nothing \\(the folder given: it holds no files\\)$hint"
must mkdir "$scratch/empty_folder/nothing"
if [ "$(id -u)" -ne 0 ]; then
  nodatacase unreadable "--data locked.dat" "^could not open image: locked\\.dat$" \
    "${no_data}locked\\.dat \\(the file given: Permission denied\\)$hint"
  must cp "$full" "$scratch/unreadable/locked.dat"
  must chmod 000 "$scratch/unreadable/locked.dat"
fi
nodatacase lying_trailer "" "^corefile: damaged image: " "${no_data}.*/lying_trailer/sprox \\(the image appended to the program: damaged image: .*\\)$hint"
must rm "$scratch/lying_trailer/sprox"
must cp "$sprox" "$scratch/lying_trailer/sprox"
at=$(stat -c %s "$scratch/lying_trailer/sprox")
must printf 'CORE\377\377\377\177\0\0\0\0' >>"$scratch/lying_trailer/sprox"
must printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((at & 255)) $((at >> 8 & 255)) $((at >> 16 & 255)) $((at >> 24 & 255)))" \
  >>"$scratch/lying_trailer/sprox"

must mkdir -p "$scratch/parts/images" "$scratch/parts/shaders" "$scratch/parts/music_short" "$scratch/parts/music_cut"
# A corrupt PNG: garbage over the middle of one image, and one cut to its signature.
must cp "$images"/*.png "$scratch/parts/images/"
first=$(ls "$scratch/parts/images" | head -1)
second=$(ls "$scratch/parts/images" | sed -n 2p)
pngsize=$(stat -c %s "$scratch/parts/images/$first")
head -c 4096 /dev/urandom >"$scratch/parts/garbage"
must dd if="$scratch/parts/garbage" of="$scratch/parts/images/$first" bs=1 seek=$((pngsize / 2)) conv=notrunc status=none
must truncate -s 8 "$scratch/parts/images/$second"
pack bad_png "$music" "$scratch/parts/images" "$shaders" "$timing" \
  "^pngbuffer loaded: $(literal "$first"), [0-9]+Error loading image: " \
  "^pngbuffer loaded: $(literal "$second"), 8Error loading image: "
# Truncated music: shorter than its header, and cut inside the sample data.
must head -c 30 "$music" >"$scratch/parts/music_short/sprox8a.wav"
must head -c 100000 "$music" >"$scratch/parts/music_cut/sprox8a.wav"
unplayable="^sound: sound without playable data not played$"
pack wav_header "$scratch/parts/music_short/sprox8a.wav" "$images" "$shaders" "$timing" \
  "^sound: WAV file sprox8a\\.wav: shorter than its 44-byte header$" "$unplayable"
pack wav_cut "$scratch/parts/music_cut/sprox8a.wav" "$images" "$shaders" "$timing" \
  "^sound: WAV file sprox8a\\.wav: data runs past the end of the file$" "$unplayable"
# A scene shader and the post shader that do not compile.
must cp "$shaders"/*.glsl "$scratch/parts/shaders/"
firstfx=$(ls "$scratch/parts/shaders" | grep '^fx_' | head -1)
printf 'void main() { this is not GLSL }\n' >"$scratch/parts/shaders/$firstfx"
printf 'uniform sampler2D ;\n' >"$scratch/parts/shaders/post.glsl"
# (The post shader's compiler warning is not printed when Mesa's shader cache
# already holds it; its link error always is.)
pack bad_shader "$music" "$images" "$scratch/parts/shaders" "$timing" \
  "^load shadefile $(literal "$firstfx"), size: [0-9]+$ ==> ^Shader [0-9]+,fragmentshader,compiler error: " \
  "^load shadefile post\\.glsl, size: [0-9]+$ ==> ^Program [0-9]+,link error: "
# A timing file full of bad lines.
printf '%s\n' '# bad lines' 'event' 'event x y z w' 'event 0 0 0 999' 'state 0 0' 'event 1 -5 0 -3' \
  'state 99 -2147483648' 'event 2147483647 0 0 0' 'state 1 2147483647' 'nonsense' '' \
  'event 3 100 0 2 trailing words' 'state -1 -1' >"$scratch/parts/timing.dat"
# Then more events than the table holds: the first fourteen three ticks apart
# (through transitions 5 and 6, which nothing registers), the rest, end mark
# included, far beyond the run, so the show is still on when Escape comes.
for i in $(seq 1 300); do
  echo "event $i $((i < 15 ? i * 3 : 100000 + i)) 0 $((i % 7))"
  echo "state 0 $i"
done >>"$scratch/parts/timing.dat"
printf 'event 4 50\0 0 0\nstate 0' >>"$scratch/parts/timing.dat"
skipped="^timeline: timing\\.dat, line [0-9]+: (event|state) line skipped: "
pack bad_timing "$music" "$images" "$shaders" "$scratch/parts/timing.dat" \
  "^timeline: timing\\.dat, line 6: event line skipped: transition index -3 is outside" \
  "^timeline: timing\\.dat, line 8: event line skipped: event number 2147483647 is outside" \
  "${skipped}the table already holds 256 events$"
# Lines no case may print, and lines the undamaged image may not print.
crashed="AddressSanitizer|LeakSanitizer|runtime error|Segmentation fault|core dumped"
complaint="couldn't|could not|[Ee]rror|damaged|skipped|not played|WAV file|not supported"

# ---- Running them ------------------------------------------------------------------
# has_line LOG PATTERN: a line of LOG matches PATTERN ("A ==> B" as above).
has_line() {
  local a=$2 b=""
  if [[ $2 == *" ==> "* ]]; then a=${2%% ==> *}; b=${2#* ==> }; fi
  A=$a B=$b awk '
    ENVIRON["B"] == "" && $0 ~ ENVIRON["A"] { found = 1; exit }
    ENVIRON["B"] != "" && after > 0 && $0 ~ ENVIRON["B"] { found = 1; exit }
    { after = (ENVIRON["B"] != "" && $0 ~ ENVIRON["A"]) ? 3 : after - 1 }
    END { exit !found }' "$1"
}
alive() { kill -0 "$1" 2>/dev/null; }
# The show's window id, empty when there is none; asked up to three times,
# since a connection to the X server now and then fails on a busy machine.
window() {
  local w="" try
  for try in 1 2 3; do
    w=$(xdotool search --name "^$title\$" 2>/dev/null | head -1)
    [ -n "$w" ] && break
    [ "${1:-}" = once ] && break
    sleep 0.2
  done
  printf '%s' "$w"
}

# run_case NAME: starts the show, waits for its window and the end of its
# start-up, lets it run, sends Escape, waits for its end, checks its output.
run_case() {
  local name=$1 dir=$scratch/$1 log=$scratch/$1.log
  local started=$SECONDS verdict="" rc=""
  (cd "$dir" && SPROX_AUDIO=silent exec timeout -k 5 $((run_seconds + 120)) ./sprox) >"$log" 2>&1 &
  local pid=$!
  local tries=0 shown=""
  while alive $pid && [ $tries -lt 100 ]; do
    shown=$(window once)
    [ -n "$shown" ] && break
    sleep 0.3; tries=$((tries + 1))
  done
  if [ -z "$shown" ]; then
    verdict="FAIL (no window)"
  else
    # Start-up is over once the timing file has been read (or looked for).
    tries=0
    while alive $pid && ! grep -q "timing\.dat" "$log" && [ $tries -lt 300 ]; do sleep 0.2; tries=$((tries + 1)); done
    sleep "$run_seconds"
    if ! alive $pid; then
      verdict="FAIL (ended before Escape)"
    elif [ -z "$(window)" ]; then
      verdict="FAIL (window gone before Escape)"
    fi
  fi
  tries=0
  while alive $pid && [ $tries -lt 20 ]; do
    xdotool search --name "^$title\$" key Escape >/dev/null 2>&1
    sleep 0.5; tries=$((tries + 1))
  done
  if alive $pid; then
    kill $pid 2>/dev/null
    [ -z "$verdict" ] && verdict="HANG (still running after Escape)"
  fi
  wait $pid
  rc=$?
  if [ -z "$verdict" ]; then
    if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then verdict="HANG"
    elif [ $rc -ne 0 ]; then verdict="FAIL (exit $rc)"; fi
  fi
  if grep -qE "$crashed" "$log"; then verdict="FAIL (sanitizer/crash report)"; fi
  local missing="" line
  while IFS= read -r line; do
    [ -n "$line" ] && ! has_line "$log" "$line" && missing=$line
  done <<<"${want[$name]}"
  if [ -n "$missing" ] && [ -z "$verdict" ]; then verdict="FAIL (no line /$missing/)"; fi
  if [ "$name" = whole ] && grep -qE "$complaint" "$log" && [ -z "$verdict" ]; then
    verdict="FAIL (complains: $(grep -m1 -E "$complaint" "$log" | cut -c1-60))"
  fi
  printf '%-14s %-28s %3ds  %s\n' "$name" "${verdict:-ok}" $((SECONDS - started)) \
    "$(grep -m1 -E "$(head -1 <<<"${want[$name]}" | sed 's/ ==> .*//')" "$log" | cut -c1-70)"
  [ -z "$verdict" ]
}

# run_nodata NAME: a case with nothing to show: exit status 1 and its lines,
# at once, and no window (start-up never got past it to the sound).
run_nodata() {
  local name=$1 dir=$scratch/$1 log=$scratch/$1.log started=$SECONDS verdict="" rc=0 line
  # shellcheck disable=SC2086  # args are words
  (cd "$dir" && SPROX_AUDIO=silent exec timeout -k 5 60 ./sprox ${args[$name]}) >"$log" 2>&1 || rc=$?
  [ $rc -eq 1 ] || verdict="FAIL (exit $rc, not 1)"
  if grep -qE "$crashed" "$log"; then verdict="FAIL (sanitizer/crash report)"; fi
  if grep -q "^soundsystem bufferlength" "$log" && [ -z "$verdict" ]; then verdict="FAIL (opened the window)"; fi
  while IFS= read -r line; do
    [ -n "$line" ] && [ -z "$verdict" ] && ! has_line "$log" "$line" && verdict="FAIL (no line /${line:0:40}/)"
  done <<<"${want[$name]}"
  printf '%-14s %-28s %3ds  %s\n' "$name" "${verdict:-ok}" $((SECONDS - started)) "$(tail -1 "$log" | cut -c1-70)"
  [ -z "$verdict" ]
}

status=0
cases="missing empty $(cd "$scratch" && ls -d cut_* | sort -t_ -k2 -n) text fifo device link_loop long_path"
cases="$cases empty_folder $([ -n "${nodata[unreadable]:-}" ] && echo unreadable) lying_trailer"
cases="$cases bad_png wav_header wav_cut bad_shader bad_timing whole"
for c in $cases; do
  if [ -n "${nodata[$c]:-}" ]; then
    run_nodata "$c" || status=1
    continue
  fi
  run_case "$c" && continue
  # A window that could not open is the X server refusing a connection now
  # and then on a busy machine, not the damage: that case gets a second run.
  if grep -q "cannot open the 1280x720 window" "$scratch/$c.log"; then
    echo "               (the window could not open: once more)"
    run_case "$c" && continue
  fi
  status=1
done
[ $status -eq 0 ] && echo "damaged: all cases ended cleanly" || echo "damaged: FAILED"
exit $status
