#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (FUZZ_SECONDS, default 60) on a working copy of its seed corpus. Any crash,
# leak or sanitizer report fails the run, and so does an input that takes
# longer than FUZZ_INPUT_SECONDS (default 10): a hang. The failing input is
# kept in the build folder and should be added to
# tests/fuzz/regressions/<target>/. The build is the fuzz preset (build-fuzz/).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/lib.sh
seconds=${FUZZ_SECONDS:-60}
per_input=${FUZZ_INPUT_SECONDS:-10}
out=build-fuzz
# Undefined behaviour is built not to recover; this covers anything that was not.
export UBSAN_OPTIONS=$SPROX_UBSAN_OPTIONS
sprox_configure fuzz >/dev/null
targets=$(cd tests/fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
JOBS=2 sprox_build fuzz --target $targets
status=0
for target in $targets; do
  name=${target#fuzz_}
  # Absolute paths: a target may change its working folder (a directory mount does).
  work=$root/$out/corpus/$name
  mkdir -p "$work"
  seeds=$root/tests/fuzz/corpus/$name
  regressions=$root/tests/fuzz/regressions/$name
  # The PNG loader needs a GL context, hence an X server.
  wrapper=""
  [ "$name" = png ] && wrapper=sprox_xvfb
  started=$SECONDS
  # Known crashers first: each must now pass.
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    eval $wrapper ./$out/$target -timeout="$per_input" "$regressions"/* >"$out/$target.regressions.log" 2>&1 || {
      echo "FAIL: $target on its regression inputs"; tail -30 "$out/$target.regressions.log"; status=1; }
  fi
  echo "== $target: ${seconds}s"
  if ! eval $wrapper ./$out/$target -max_total_time="$seconds" -timeout="$per_input" -print_final_stats=1 \
      -artifact_prefix=$root/$out/$target- "$work" "$seeds" >"$out/$target.log" 2>&1; then
    echo "FAIL: $target"; tail -40 "$out/$target.log"; status=1
  fi
  grep -E "stat::number_of_executed_units|cov:" "$out/$target.log" | tail -2 || true
  echo "   ($((SECONDS - started))s)"
done
exit $status
