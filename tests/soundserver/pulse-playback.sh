#!/usr/bin/env bash
# The show through a real sound server: a PulseAudio daemon of this run's own
# (a null sink, its socket in a scratch runtime folder), reached through
# ALSA's pulse plugin with an ALSA configuration of this run's own, so that
# the show's ALSA "default" is that server and nothing else of the machine.
#
#   1. The real sprox plays about 10 s while the sink's monitor is recorded;
#      pulse_check then finds the music in the recording (alignment, one gain,
#      SNR, silent runs) and reports how far the show's clock runs from the
#      server's position of the stream, and the latency the server reported.
#   2. The server is stopped in the middle of the show: the show must say it
#      goes on without sound, keep its clock running, and end on Escape with
#      status 0.
#
# Usage: pulse-playback.sh BUILD_DIR PULSE_CHECK
#   BUILD_DIR holds sprox, sprox.dat and gen/music/sprox8a.wav; PULSE_CHECK is
#   the judge program. Logs and the recording stay in ./pulse-run.
# Exit status: 0 passed, 1 failed, 77 skipped (the server, its tools or the
# ALSA plugin are not installed: scripts/install-deps.sh installs them).
set -uo pipefail

skip_status=77
build=$(realpath "${1:?usage: pulse-playback.sh BUILD_DIR PULSE_CHECK}")
check=$(realpath "${2:?usage: pulse-playback.sh BUILD_DIR PULSE_CHECK}")
here=$(cd "$(dirname "$0")" && pwd)

missing=()
for tool in pulseaudio parec pactl xvfb-run xdotool; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
compgen -G "/usr/lib/*/alsa-lib/libasound_module_pcm_pulse.so" >/dev/null ||
  compgen -G "/usr/lib/alsa-lib/libasound_module_pcm_pulse.so" >/dev/null || missing+=("ALSA pulse plugin")
if [ ${#missing[@]} -gt 0 ]; then
  echo "SKIPPED: the sound-server run needs ${missing[*]} (Debian: pulseaudio pulseaudio-utils" \
    "libasound2-plugins xvfb xdotool; scripts/install-deps.sh installs them)"
  exit $skip_status
fi

# The show's window needs an X server: one of this run's own.
if [ -z "${PULSE_PLAYBACK_XVFB:-}" ]; then
  source "$here/../../scripts/xvfb.sh"
  # A machine busy with other work can starve the real-time path and drop a
  # buffer that the show itself played: such a run gets one more attempt. A
  # fault of the show fails both.
  for attempt in 1 2; do
    PULSE_PLAYBACK_XVFB=1 sprox_xvfb bash "$0" "$@"
    status=$?
    [ $status -ne 1 ] && exit $status
    [ $attempt -eq 1 ] && echo "pulse_playback: attempt 1 failed (load average" \
      "$(cut -d' ' -f1-3 /proc/loadavg)); one more attempt"
  done
  exit 1
fi

music="$build/gen/music/sprox8a.wav"
for f in "$build/sprox" "$build/sprox.dat" "$music" "$check"; do
  [ -e "$f" ] || { echo "FAILED: $f is missing (build first)"; exit 1; }
done

title=$(sed -n 's/.*DEMO_TITLE = "\(.*\)";.*/\1/p' "$here/../../demo/demo.h")  # the window's, from its owner
[ -n "$title" ] || { echo "FAILED: no DEMO_TITLE in demo/demo.h"; exit 1; }
play_seconds=10       # music recorded before the server is stopped
orphan_seconds=3      # the show without its server before Escape
rate=44100

out=$PWD/pulse-run
rm -rf "$out"
mkdir -p "$out"
scratch=$(mktemp -d /tmp/sprox-pulse.XXXXXX)  # short: the socket's path has a length limit
runtime=$scratch/runtime
mkdir -p "$runtime" "$scratch/home"
chmod 700 "$runtime"
socket=$runtime/pulse/native

# Every PulseAudio program of this run (the daemon, its clients, the show's
# plugin) keeps its state, cookie and runtime files in the scratch folder.
export HOME=$scratch/home XDG_RUNTIME_DIR=$runtime XDG_CONFIG_HOME=$scratch/home/config
export PULSE_RUNTIME_PATH=$runtime/pulse PULSE_STATE_PATH=$scratch/state PULSE_SERVER=unix:$socket
unset SPROX_AUDIO SPROX_ALSA_DEVICE

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' TERM INT  # a timed-out run still stops what it started

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Waits up to $1 seconds for a command to succeed.
wait_for() {
  local seconds=$1
  shift
  local tries=$((seconds * 10))
  while [ $tries -gt 0 ]; do
    "$@" && return 0
    sleep 0.1
    tries=$((tries - 1))
  done
  return 1
}

# ---- The server --------------------------------------------------------------------
cat >"$scratch/server.pa" <<EOF
load-module module-native-protocol-unix auth-anonymous=1 socket=$socket
load-module module-null-sink sink_name=sprox_sink rate=$rate channels=2 format=s16le
set-default-sink sprox_sink
EOF
# As root PulseAudio warns but runs a per-user server with --system=no.
pulseaudio -n -F "$scratch/server.pa" --daemonize=no --system=no --exit-idle-time=-1 \
  --use-pid-file=no --log-target=stderr --log-level=info >"$out/pulseaudio.log" 2>&1 &
server=$!
pids+=($server)
if ! wait_for 10 pactl info >/dev/null 2>&1; then
  echo "FAILED: the test's PulseAudio server did not start:"
  tail -n 20 "$out/pulseaudio.log"
  exit 1
fi

cat >"$out/asound.conf" <<EOF
pcm.!default { type pulse server "unix:$socket" device "sprox_sink" }
ctl.!default { type pulse server "unix:$socket" }
EOF

# Where it may (as root), the show and the recorder run at a raised priority
# (the server raises its own), so that other work on a shared machine is less
# likely to starve them: the run judges the sound path, not the machine's
# load, which is printed with the figures.
priority=()
nice -n -10 true 2>/dev/null && priority=(nice -n -10)
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores${priority[*]:+; the show and the recorder at ${priority[*]}}"

# ---- The recorder: the sink's monitor, stamped on arrival ---------------------------------
mkfifo "$scratch/monitor"
"${priority[@]}" "$check" record "$out/recording.raw" "$out/recording.stamps" <"$scratch/monitor" &
recorder=$!
pids+=($recorder)
"${priority[@]}" parec --raw --format=s16le --rate=$rate --channels=2 --latency-msec=10 -d sprox_sink.monitor \
  >"$scratch/monitor" 2>"$out/parec.log" &
pids+=($!)

# ---- The show -----------------------------------------------------------------------------
started=$SECONDS
(cd "$build" && ALSA_CONFIG_PATH="$out/asound.conf" SPROX_CLOCK_LOG=1 exec "${priority[@]}" ./sprox) \
  >"$out/sprox.log" 2>&1 &
show=$!
pids+=($show)

music_playing() { awk '$1 == "clock:" && $3 > 0 { found = 1 } END { exit !found }' "$out/sprox.log"; }
if ! wait_for 60 music_playing; then
  echo "FAILED: the show's music did not start; its log ends:"
  tail -n 20 "$out/sprox.log"
  exit 1
fi
echo "the music started $((SECONDS - started)) s after the show"
grep -qF 'AUDIO: output: ALSA "default"' "$out/sprox.log" || fail 'the show did not name its output AUDIO: output: ALSA "default"'

sleep $((play_seconds / 2))
pactl list sink-inputs >"$out/sink-inputs.txt" 2>&1
sleep $((play_seconds - play_seconds / 2))

# ---- The server goes away in the middle of the show ------------------------------------------
kill -TERM $server
wait $server 2>/dev/null
orphaned() { grep -q 'going on without sound' "$out/sprox.log"; }
if wait_for 10 orphaned; then
  grep -m1 'going on without sound' "$out/sprox.log"
else
  fail "the show did not say it goes on without sound after the server stopped"
fi
sleep $orphan_seconds
if kill -0 $show 2>/dev/null; then
  xdotool search --name "$title" key Escape >/dev/null 2>&1
  wait_for 15 bash -c "! kill -0 $show 2>/dev/null" || { fail "the show did not end on Escape"; kill $show; }
  wait $show
  status=$?
  [ $status -eq 0 ] || fail "the show ended with status $status"
else
  wait $show
  fail "the show ended by itself (status $?) without its server"
fi
wait_for 10 bash -c "! kill -0 $recorder 2>/dev/null" || kill $recorder
wait $recorder

# ---- What was heard --------------------------------------------------------------------------
awk '/going on without sound/ { exit } $1 == "clock:"' "$out/sprox.log" >"$out/clock-served.log"
awk 'gone && $1 == "clock:"; /going on without sound/ { gone = 1 }' "$out/sprox.log" >"$out/clock-orphaned.log"
echo "--- the recording"
"$check" compare "$music" "$out/recording.raw" "$out/recording.stamps" "$out/clock-served.log" ||
  fail "the recording is not the music as the show plays it"
echo "--- the server's latency for the show's stream (pactl, reported)"
grep -E 'Buffer Latency|Sink Latency' "$out/sink-inputs.txt" | sed 's/^[[:space:]]*/  /' ||
  echo "  the server listed no stream (see $out/sink-inputs.txt)"
echo "--- the show without its server"
"$check" advance "$out/clock-orphaned.log" || fail "the show's clock does not go on without the server"

echo "run took $SECONDS s (load average at the end $(cut -d' ' -f1-3 /proc/loadavg)); logs in $out"
if [ $failures -gt 0 ]; then
  echo "pulse_playback: FAILED ($failures)"
  exit 1
fi
echo "pulse_playback: ok"
