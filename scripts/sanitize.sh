#!/usr/bin/env bash
# Builds and runs the whole test suite with AddressSanitizer and
# UndefinedBehaviorSanitizer, then the sound tests with ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPROX_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j"$jobs"
# Leaks inside the system's GL and X libraries are theirs, not ours.
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir build-asan --output-on-failure -j"$jobs"

cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPROX_SANITIZE=thread -DSPROX_BUILD_CONTENT=OFF >/dev/null
cmake --build build-tsan -j"$jobs" --target sound_test
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" ctest --test-dir build-tsan --output-on-failure -R '^sound'
