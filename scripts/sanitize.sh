#!/usr/bin/env bash
# Builds and runs the whole test suite with AddressSanitizer and
# UndefinedBehaviorSanitizer, then the sound tests (and the sound link
# check) and the graphics and effect tests (the image decoder's worker
# threads) with ThreadSanitizer. The AddressSanitizer build is also the one
# scripts/damaged.sh runs the show from.
#   ASAN_BUILD=build-asan   TSAN_BUILD=build-tsan   the build folders
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
asan=${ASAN_BUILD:-build-asan}
tsan=${TSAN_BUILD:-build-tsan}

# Mesa's GL driver is loaded with dlopen and unloaded again when the window
# closes; its allocations kept until then show up at exit as leaks from an
# "<unknown module>", which no suppression can name. Linking the driver
# libraries into every executable of this build keeps them mapped, so their
# leaks carry their library's name and the suppressions below apply.
# The driver's file is named for the hardware (swrast_dri.so) but its
# library name is libgallium_dri.so, so a link under that name in the build
# folder, on the run path, is what the loader finds.
gl_keep=""
keepdir=$(realpath -m "$asan")/glkeep
mkdir -p "$keepdir"
glx=/usr/lib/x86_64-linux-gnu/libGLX_mesa.so.0
dri=/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so
[ -e "$glx" ] && gl_keep="$gl_keep $glx"
if [ -e "$dri" ]; then
  soname=$(readelf -d "$dri" 2>/dev/null | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  ln -sf "$dri" "$keepdir/${soname:-swrast_dri.so}"
  gl_keep="$gl_keep $keepdir/${soname:-swrast_dri.so}"
fi
linkflags=""
[ -n "$gl_keep" ] && linkflags="-Wl,--no-as-needed$gl_keep -Wl,--as-needed -Wl,-rpath,$keepdir"

cmake -S . -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPROX_SANITIZE=address,undefined \
  "-DCMAKE_EXE_LINKER_FLAGS=$linkflags" >/dev/null
cmake --build "$asan" -j"$jobs"
# Leaks inside the system's GL and X libraries are theirs, not ours.
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$asan" --output-on-failure --no-tests=error -j"$jobs"

cmake -S . -B "$tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPROX_SANITIZE=thread -DSPROX_BUILD_CONTENT=OFF >/dev/null
cmake --build "$tsan" -j"$jobs" --target sound_test sound_link gfx_test effects_test
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/sanitizer/tsan.supp" \
  ctest --test-dir "$tsan" --output-on-failure --no-tests=error -R '^(sound|gfx_test|effects_test)'
