#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (FUZZ_SECONDS, default 60) on a working copy of its seed corpus. Any crash,
# leak or sanitizer report fails the run; the failing input is kept in
# build-fuzz/ and should be added to tests/fuzz/regressions/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/xvfb.sh
seconds=${FUZZ_SECONDS:-60}
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DSPROX_FUZZ=ON -DSPROX_BUILD_TESTS=OFF -DSPROX_BUILD_CONTENT=OFF >/dev/null
targets=$(cd tests/fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
cmake --build build-fuzz -j2 --target $targets
status=0
for target in $targets; do
  name=${target#fuzz_}
  # Absolute paths: a target may change its working folder (a directory mount does).
  work=$root/build-fuzz/corpus/$name
  mkdir -p "$work"
  seeds=$root/tests/fuzz/corpus/$name
  regressions=$root/tests/fuzz/regressions/$name
  # The PNG loader needs a GL context, hence an X server.
  wrapper=""
  [ "$name" = png ] && wrapper=sprox_xvfb
  started=$SECONDS
  # Known crashers first: each must now pass.
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    eval $wrapper ./build-fuzz/$target "$regressions"/* >"build-fuzz/$target.regressions.log" 2>&1 || {
      echo "FAIL: $target on its regression inputs"; tail -30 "build-fuzz/$target.regressions.log"; status=1; }
  fi
  echo "== $target: ${seconds}s"
  if ! eval $wrapper ./build-fuzz/$target -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix=$root/build-fuzz/$target- "$work" "$seeds" >"build-fuzz/$target.log" 2>&1; then
    echo "FAIL: $target"; tail -40 "build-fuzz/$target.log"; status=1
  fi
  grep -E "stat::number_of_executed_units|cov:" "build-fuzz/$target.log" | tail -2 || true
  echo "   ($((SECONDS - started))s)"
done
exit $status
