#!/usr/bin/env bash
# Plays the show for SOAK_SECONDS (default 300) under Xvfb on the silent
# output and samples the process's resident memory (VmRSS) every
# SOAK_INTERVAL seconds (default 5). After the start-up allowance
# (SOAK_WARMUP seconds, default 30) the resident size must stay flat: the
# run fails when it grows by more than SOAK_GROWTH_KB (default 8192) from the
# first sample after warm-up, or when the show crashes.
#   BUILD=build   folder holding sprox and sprox.dat
set -uo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}" ]; then
  source scripts/xvfb.sh
  exec sprox_xvfb bash "$0" "$@"
fi
build=$(realpath "${BUILD:-build}")
seconds=${SOAK_SECONDS:-300}
interval=${SOAK_INTERVAL:-5}
warmup=${SOAK_WARMUP:-30}
allowed=${SOAK_GROWTH_KB:-8192}
[ -x "$build/sprox" ] && [ -f "$build/sprox.dat" ] || { echo "soak.sh: build $build first"; exit 2; }
log=$(realpath -m "${SOAK_LOG:-build-robust/soak.log}")
mkdir -p "$(dirname "$log")"

(cd "$build" && SPROX_AUDIO=silent exec ./sprox) >"$log" 2>&1 &
pid=$!
start=$SECONDS
base=""
peak=0
first=""
status=0
echo "  t(s)  VmRSS(kB)"
while [ $((SECONDS - start)) -lt "$seconds" ]; do
  sleep "$interval"
  rss=$(awk '/^VmRSS:/ {print $2}' /proc/$pid/status 2>/dev/null)
  if [ -z "$rss" ]; then
    echo "soak: the show ended after $((SECONDS - start))s (before the soak time)"; break
  fi
  t=$((SECONDS - start))
  printf '%6d  %9d\n' "$t" "$rss"
  [ -z "$first" ] && first=$rss
  if [ "$t" -ge "$warmup" ]; then
    [ -z "$base" ] && base=$rss
    [ "$rss" -gt "$peak" ] && peak=$rss
  fi
done
if kill -0 $pid 2>/dev/null; then
  xdotool search --name "Keldrun - Sprox" key Escape >/dev/null 2>&1
  for _ in $(seq 1 20); do kill -0 $pid 2>/dev/null || break; sleep 0.5; done
  kill -0 $pid 2>/dev/null && { echo "soak: the show did not end on Escape"; kill $pid; status=1; }
fi
wait $pid
rc=$?
[ $rc -ne 0 ] && { echo "soak: the show exited with status $rc"; status=1; }
if [ -n "$base" ]; then
  growth=$((peak - base))
  echo "soak: first sample ${first} kB, after warm-up ${base} kB, peak after warm-up ${peak} kB, growth ${growth} kB (allowed ${allowed})"
  [ "$growth" -gt "$allowed" ] && { echo "soak: resident memory grows"; status=1; }
else
  echo "soak: no sample after warm-up"; status=1
fi
[ $status -eq 0 ] && echo "soak: ok" || echo "soak: FAILED"
exit $status
