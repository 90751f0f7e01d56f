#!/usr/bin/env bash
# dist/sprox.exe (scripts/windows.sh) under Wine, alone in a folder named
# with a space and a non-ASCII letter, in an X server and a PulseAudio server
# of this run's own. Parts (WINE_RUN_PARTS, all by default):
#   still   --still at six show times matches sprox-capture --at (lib.sh's sprox_frame_match)
#   nodata  build-windows/sprox.exe (no image) exits 1 with the lookup's line
#   dev     --dev FOLDER reloads a rewritten post.glsl (the "dev:" line)
#   sound   the sink's monitor is sprox8a.wav (pulse_check: aligned, one gain,
#           SNR >= 40 dB; one more attempt for dropouts under load), and
#           Escape ends the show with status 0 after the audio start-up lines
# Usage: wine-run.sh SOURCE_DIR BUILD_DIR PULSE_CHECK (BUILD_DIR: the host's
# build). Status 0 passed, 1 failed, 77 skipped (no MinGW-w64 or Wine). Logs in
# ./wine-run; the Wine prefix is kept in build-windows/wine-prefix.
#
# Threads: none (one shell; Wine, the servers and the show run as children).
set -uo pipefail

source_dir=$(realpath "${1:?usage: wine-run.sh SOURCE_DIR BUILD_DIR PULSE_CHECK}")
build=$(realpath "${2:?usage: wine-run.sh SOURCE_DIR BUILD_DIR PULSE_CHECK}")
check=$(realpath "${3:?usage: wine-run.sh SOURCE_DIR BUILD_DIR PULSE_CHECK}")

for tool in x86_64-w64-mingw32-gcc-posix wine wineserver; do
  command -v "$tool" >/dev/null 2>&1 ||
    { echo "SKIPPED: $tool is not installed (bash scripts/windows.sh installs MinGW-w64 and Wine)"; exit 77; }
done

# lib.sh reads its neighbours from the repository's root.
cd "$source_dir" && source scripts/lib.sh && cd "$OLDPWD" || exit 1
# The show's own X server for every run below.
if [ -z "${WINE_RUN_XVFB:-}" ]; then
  WINE_RUN_XVFB=1 sprox_xvfb bash "$0" "$@"
  exit $?
fi

exe=$source_dir/dist/sprox.exe
plain=$source_dir/build-windows/sprox.exe
music=$build/gen/music/sprox8a.wav
title=$(sed -n 's/.*DEMO_TITLE = "\(.*\)";.*/\1/p' "$source_dir/demo/demo.h")
times=(3 40.02 75 118.5 168.5 215)  # show times of the still frames, scenes apart
min_snr=40 play_seconds=15 rate=44100
# The sound run draws small and on one of the software renderer's threads
# (Wine hands GL to the host's Mesa), leaving the cores to the sound path it judges.
sound_size=(--window 640x360 --size 640x360)
for need in "$exe" "$plain" "$music" "$build/sprox-capture" "$build/dev/post.glsl" "$check" ffmpeg pulseaudio parec xdotool; do
  [ -e "$need" ] || command -v "$need" >/dev/null ||
    { echo "FAILED: $need is missing (bash scripts/windows.sh builds and installs what the run needs)"; exit 1; }
done

out=$PWD/wine-run
rm -rf "$out" && mkdir -p "$out"
scratch=$(mktemp -d /tmp/sprox-wine.XXXXXX)  # short: the sound server's socket path has a length limit
show_dir="$scratch/Démo show"
bare_dir="$scratch/Leer Ordner ü"
mkdir -p "$show_dir" "$bare_dir" -m 700 "$scratch/runtime"
cp "$exe" "$show_dir/sprox.exe"
cp "$plain" "$bare_dir/sprox.exe"

export WINEPREFIX=$source_dir/build-windows/wine-prefix WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer dialogs
socket=$scratch/runtime/pulse/native
export XDG_RUNTIME_DIR=$scratch/runtime PULSE_RUNTIME_PATH=$scratch/runtime/pulse PULSE_STATE_PATH=$scratch/state
export PULSE_SERVER=unix:$socket PULSE_COOKIE=$scratch/cookie

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wineserver -k 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' TERM INT

failures=0
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }
ok() { echo "ok    $*"; }
wait_for() {  # wait_for SECONDS COMMAND...: until COMMAND succeeds, polled every 0.1 s
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt "$end" ] || return 1
    sleep 0.1
  done
}
window() { xdotool search --name "^$title\$" 2>/dev/null | head -n 1; }
has_window() { [ -n "$(window)" ]; }
# shown PART LOG: waits for the window, or fails PART with the log's end.
shown() {
  wait_for 60 has_window && return 0
  fail "$1: no window in 60 s:"
  sed 's/^/      | /' "$2" "$2.err" | tail -n 8
  return 1
}
gone() { ! kill -0 "$1" 2>/dev/null; }
# escape PID: Escape to the show's window until the show PID ends (15 s at
# most). Without a window manager Wine takes the key both sent to its window
# and, once the pointer is inside, typed through XTEST (held a moment).
escape() {
  local w
  for _ in 1 2 3 4 5; do
    gone "$1" && return 0
    w=$(window)
    if [ -n "$w" ]; then
      xdotool key --window "$w" Escape 2>/dev/null
      wait_for 1 gone "$1" && return 0
      xdotool windowfocus "$w" mousemove --window "$w" 40 40 keydown Escape sleep 0.2 keyup Escape 2>/dev/null
    fi
    wait_for 2 gone "$1" && return 0
  done
  return 1
}
# start LOG DIR ARGS...: the program in DIR in the background ($! its process).
start() {
  local log=$1 dir=$2
  shift 2
  (cd "$dir" && exec "${priority[@]}" timeout -k 5 120 wine ./sprox.exe "$@") >"$log" 2>"$log.err" &
}
# Where it may (as root), the show and the recorder run at a raised priority,
# so that other work on a shared machine is less likely to starve the sound.
priority=()
nice -n -10 true 2>/dev/null && priority=(nice -n -10)

t0=$SECONDS
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  { timeout 180 wineboot --init && timeout 60 wineserver -w; } >"$out/wineboot.log" 2>&1 ||
    { echo "FAILED: the Wine prefix could not be made:"; tail -n 20 "$out/wineboot.log"; exit 1; }
  echo "made the Wine prefix in $((SECONDS - t0)) s"
fi
"${priority[@]}" wineserver -p 60  # one server for every run below, as urgent as the show

# ---- still: the picture against the host's capture tool -------------------------------
part_still() {
  local t status host score capture
  for t in "${times[@]}"; do
    # The host's frame renders meanwhile: each start-up mostly waits on its own decoding.
    "$build/sprox-capture" --data "$build/sprox.dat" --at "$t" --png "$out/host_$t" --quiet >/dev/null 2>&1 &
    capture=$!
    (cd "$show_dir" && timeout -k 5 120 wine ./sprox.exe --still "$t" "still_$t.png") >"$out/still_$t.log" 2>&1
    status=$?
    wait $capture
    host=$(ls "$out/host_$t"/frame_*.png 2>/dev/null | head -n 1)
    if [ $status -ne 0 ] || [ ! -s "$show_dir/still_$t.png" ] || [ -z "$host" ]; then
      fail "still $t s: the exe ended with status $status, host frame '${host:-none}'"
      sed 's/^/      | /' "$out/still_$t.log" | tail -n 5
      continue
    fi
    cp "$show_dir/still_$t.png" "$out/"
    if score=$(sprox_frame_match "$show_dir/still_$t.png" "$host"); then
      ok "still $t s: $score"
    else
      fail "still $t s: $score (needs PSNR >= $SPROX_FRAME_MIN_PSNR dB or SSIM >= $SPROX_FRAME_MIN_SSIM)"
    fi
  done
}

# ---- nodata: the plain program finds no image ------------------------------------------
part_nodata() {
  local status lookup
  (cd "$bare_dir" && timeout -k 5 60 wine ./sprox.exe) >"$out/nodata.log" 2>&1
  status=$?
  lookup="sprox: no sprox.dat found: looked in the current folder ($(winepath -w "$bare_dir" 2>/dev/null))"
  if [ $status -eq 1 ] && tr -d '\r' <"$out/nodata.log" | grep -F "$lookup" >/dev/null; then
    ok "nodata: status 1, $(grep -m1 'no sprox.dat found' "$out/nodata.log" | tr -d '\r')"
  else
    fail "nodata: status $status, expected 1 and the lookup's line ($lookup ...):"
    sed 's/^/      | /' "$out/nodata.log" | tail -n 5
  fi
}

# ---- dev: a rewritten shader is reloaded ----------------------------------------------
part_dev() {
  local show
  cp -rL "$build/dev" "$show_dir/dev"
  start "$out/dev.log" "$show_dir" --dev dev --mute
  show=$!
  pids+=($show)
  if shown dev "$out/dev.log"; then
    sleep 3  # the start-up finishes after the window shows
    printf '\n// rewritten by the Wine test\n' >>"$show_dir/dev/post.glsl"
    if wait_for 20 grep -q 'dev: reloaded shader post.glsl' "$out/dev.log"; then
      ok "dev: $(grep -m1 'dev: reloaded shader post.glsl' "$out/dev.log" | tr -d '\r')"
    else
      fail "dev: no 'dev: reloaded shader post.glsl' line 20 s after the rewrite:"
      sed 's/^/      | /' "$out/dev.log" "$out/dev.log.err" | tail -n 8
    fi
  fi
  escape $show || kill $show 2>/dev/null
  wait $show 2>/dev/null
}

# ---- sound: the music through waveOut and the sound server ------------------------------
part_sound() {
  local result
  cat >"$scratch/server.pa" <<EOF
load-module module-native-protocol-unix auth-anonymous=1 socket=$socket
load-module module-null-sink sink_name=sprox_sink rate=$rate channels=2 format=s16le
set-default-sink sprox_sink
EOF
  "${priority[@]}" pulseaudio -n -F "$scratch/server.pa" --daemonize=no --system=no --exit-idle-time=-1 \
    --use-pid-file=no --log-target=stderr >"$out/pulseaudio.log" 2>&1 &
  pids+=($!)
  wait_for 10 pactl info >/dev/null 2>&1 || { fail "sound: the test's PulseAudio server did not start"; return; }
  play 1
  result=$?
  [ $result -eq 2 ] && { play 2; result=$?; }
  case $result in
    0) ok "sound: the recorded music at SNR $snr dB; Escape ended it with status 0 after the start-up lines" ;;
    2) fail "sound: the recording is not the music (SNR ${snr:-none} dB, needs >= $min_snr) in two attempts" ;;
  esac
}

# play ATTEMPT: one show with its recording; 0 heard, 1 a fault of the show, 2 not heard well enough.
play() {
  local log=$out/sound_$1.log raw=$out/sound_$1.raw
  "${priority[@]}" parec --raw --format=s16le --rate=$rate --channels=2 --latency-msec=10 -d sprox_sink.monitor >"$raw" 2>/dev/null &
  local recorder=$!
  # The show reaches its music well under a second after Wine starts it: the
  # recorder must be taking the sink's silence by then, or the music's start is lost.
  wait_for 10 test -s "$raw" || { kill $recorder 2>/dev/null; fail "sound: the recorder took nothing in 10 s"; return 1; }
  start "$log" "$show_dir" "${sound_size[@]}"
  local show=$!
  shown sound "$log" || { kill $recorder $show 2>/dev/null; return 1; }
  sleep $play_seconds
  escape $show || { kill $show 2>/dev/null; fail "sound: the show did not end on Escape"; }
  wait $show
  local status=$?
  kill $recorder 2>/dev/null
  wait $recorder 2>/dev/null
  [ $status -eq 0 ] || { fail "sound: the show ended with status $status"; return 1; }
  local line
  for line in "AUDIO: opening audio device succesful!" "open wav-buffers"; do
    tr -d '\r' <"$log" | grep -xF "$line" >/dev/null || { fail "sound: no \"$line\" line on standard output"; return 1; }
  done
  "$check" compare "$music" "$raw" >"$out/sound_$1.judge" 2>&1
  snr=$(sed -n 's/^SNR: \([-0-9.]*\) dB$/\1/p' "$out/sound_$1.judge")
  sed 's/^/      | /' "$out/sound_$1.judge" | grep -v FAIL
  awk -v s="${snr:--999}" -v m=$min_snr 'BEGIN { exit !(s >= m) }' && return 0
  echo "      attempt $1: SNR ${snr:-none} dB (load average $(cut -d' ' -f1-3 /proc/loadavg))"
  return 2
}
for part in ${WINE_RUN_PARTS:-still nodata dev sound}; do
  started=$SECONDS
  "part_$part"
  echo "      ($part took $((SECONDS - started)) s)"
done
echo "run took $((SECONDS - t0)) s; logs in $out"
[ $failures -eq 0 ] && { echo "windows_wine: ok"; exit 0; }
echo "windows_wine: FAILED ($failures)"
exit 1
