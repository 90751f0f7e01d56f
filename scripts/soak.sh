#!/usr/bin/env bash
# Plays the show for SOAK_SECONDS (default 180, inside the show's 3.8 minutes)
# under Xvfb on the silent output and watches its memory. The show must
# still be running at the end of the soak, end on Escape with status 0, and,
# after the start-up allowance of SOAK_WARMUP seconds (default 30), keep its
# C heap flat:
#  - the heap's bytes in use, read every second by tests/soak/heap_probe.cpp
#    (loaded into the show), may rise in at most half of the seconds, and by
#    at most SOAK_HEAP_KB in all (default 1024). A leak of any size each frame
#    rises in nearly every second at any frame rate above one a second; the
#    GL driver's own rises, some 9 kB at a time, come a few at each change
#    of scene, in about one second in six;
#  - the resident size (VmRSS, every SOAK_INTERVAL seconds, default 5) may
#    grow by at most SOAK_GROWTH_KB (default 65536). It is a backstop only:
#    the GL driver maps some 9 MB of compiled code for each scene it draws
#    for the first time, and a small leak fills the heap's free pieces left
#    from start-up before the resident size moves at all.
# The show plays at a fixed render scale (SOAK_SCALE, default 1): the
# automatic scale resizes the framebuffers as the frame times change, and
# each resize moves their pixels between the C heap and mapped memory, by a
# megabyte or more, which would read as growth or shrinking of the heap.
#   SOAK_SCALE=1  the render scale (--scale)
#   BUILD=build   folder holding sprox and sprox.dat (a plain build: under a
#                 sanitizer the heap is the sanitizer's, and the probe cannot load)
#   SOAK_LOG=build-robust/soak.log   the show's output; the heap report beside it
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
sprox_rerun_under_xvfb "$0" "$@"
build=$(realpath "${BUILD:-build}")
seconds=${SOAK_SECONDS:-180}
interval=${SOAK_INTERVAL:-5}
warmup=${SOAK_WARMUP:-30}
allowed=${SOAK_GROWTH_KB:-65536}
heap_allowed=${SOAK_HEAP_KB:-1024}
[ -x "$build/sprox" ] && [ -f "$build/sprox.dat" ] || { echo "soak.sh: build $build first"; exit 2; }
log=$(realpath -m "${SOAK_LOG:-build-robust/soak.log}")
heap=${log%.log}.heap
probe=${log%.log}.heap_probe.so
mkdir -p "$(dirname "$log")"
"${CXX:-c++}" -O2 -shared -fPIC -pthread -o "$probe" "$SPROX_ROOT/tests/soak/heap_probe.cpp" ||
  { echo "soak.sh: cannot build the heap probe"; exit 2; }

rm -f "$heap"
(cd "$build" && SPROX_AUDIO=silent SOAK_HEAP_FILE="$heap" SOAK_HEAP_MS=1000 LD_PRELOAD="$probe" exec ./sprox --scale "${SOAK_SCALE:-1}") \
  >"$log" 2>&1 &
pid=$!
start=$SECONDS
base=""
peak=0
first=""
status=0
echo "  t(s)  VmRSS(kB)  heap in use (kB)"
while [ $((SECONDS - start)) -lt "$seconds" ]; do
  sleep "$interval"
  rss=$(awk '/^VmRSS:/ {print $2}' /proc/$pid/status 2>/dev/null)
  if [ -z "$rss" ]; then
    echo "soak: the show ended after $((SECONDS - start))s, before the soak time of ${seconds}s"
    status=1
    break
  fi
  t=$((SECONDS - start))
  printf '%6d  %9d  %16s\n' "$t" "$rss" "$(tail -n 1 "$heap" 2>/dev/null | awk '{print int(($2 + $3) / 1024)}')"
  [ -z "$first" ] && first=$rss
  if [ "$t" -ge "$warmup" ]; then
    [ -z "$base" ] && base=$rss
    [ "$rss" -gt "$peak" ] && peak=$rss
  fi
done
if kill -0 $pid 2>/dev/null; then
  xdotool search --name "^Keldrun - Sprox\$" key Escape >/dev/null 2>&1
  for _ in $(seq 1 20); do kill -0 $pid 2>/dev/null || break; sleep 0.5; done
  kill -0 $pid 2>/dev/null && { echo "soak: the show did not end on Escape"; kill $pid; status=1; }
fi
wait $pid
rc=$?
[ $rc -ne 0 ] && { echo "soak: the show exited with status $rc"; status=1; }
if [ -n "$base" ]; then
  growth=$((peak - base))
  echo "soak: VmRSS first sample ${first} kB, after warm-up ${base} kB, peak after warm-up ${peak} kB," \
    "growth ${growth} kB (allowed ${allowed})"
  [ "$growth" -gt "$allowed" ] && { echo "soak: resident memory grows"; status=1; }
else
  echo "soak: no sample after warm-up"; status=1
fi
# The heap report: one line a second, "ms bytes-in-arenas bytes-mmapped".
verdict=$(awk -v from=$((warmup * 1000)) -v to=$((seconds * 1000)) -v allowed="$heap_allowed" '
  $1 < from || $1 > to { next }
  { used = $2 + $3 }
  n == 0 { base = used; peak = used }
  n > 0 && used > last { rises++ }
  { if (used > peak) peak = used; last = used; n++ }
  END {
    if (n < 8) { print "FAIL too few heap samples after warm-up (" n + 0 ")"; exit }
    growth = (peak - base) / 1024
    line = sprintf("heap after warm-up %d kB, peak %d kB, growth %.1f kB (allowed %d), rising in %d of %d seconds",
                   base / 1024, peak / 1024, growth, allowed, rises, n - 1)
    if (rises * 2 > n - 1) print "FAIL " line ": it grows steadily"
    else if (growth > allowed) print "FAIL " line ": it grows"
    else print "ok " line
  }' "$heap" 2>/dev/null)
[ -n "$verdict" ] || verdict="FAIL no heap report in $heap (the probe did not load)"
echo "soak: ${verdict#* }"
[ "${verdict%% *}" = ok ] || status=1
[ $status -eq 0 ] && echo "soak: ok" || echo "soak: FAILED"
exit $status
