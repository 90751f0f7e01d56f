#!/usr/bin/env bash
# Builds and runs the whole test suite with AddressSanitizer and
# UndefinedBehaviorSanitizer, then the sound tests (and the sound link
# check) and the graphics and effect tests (the image decoder's worker
# threads) with ThreadSanitizer. The AddressSanitizer build is also the one
# scripts/damaged.sh runs the show from. The builds are the presets asan
# (build-asan/) and tsan (build-tsan/); which tests the second runs is its
# test preset's filter; the asan build keeps the GL driver mapped for the
# leak checker (cmake/SproxFlags.cmake).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
sprox_sanitizer_env
sprox_configure asan >/dev/null
sprox_build asan
ctest --preset asan -j"$(sprox_jobs)"

sprox_configure tsan >/dev/null
sprox_build tsan
ctest --preset tsan
