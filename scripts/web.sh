#!/usr/bin/env bash
# The show in a web browser. Installs what is missing (Debian's emscripten,
# and chromium to watch it and for the browser test), builds the desktop
# build's generators and sprox.dat when needed, compiles the engine with emcc into build-web/
# (the web preset: index.html, sprox.js, sprox.wasm, sprox.dat) and serves that folder at
# http://127.0.0.1:8080/ until interrupted.
#
#   bash scripts/web.sh            build, then serve
#   bash scripts/web.sh --build    build only
#
# PORT=N serves on another port. Works in a copy of the tree without .git.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
root=$(pwd)
out=$root/build-web
serve=1
[ "${1:-}" = "--build" ] && serve=0

# ---- What the build needs: the desktop packages, emscripten, LodePNG's source.
bash scripts/install-deps.sh --web
# emcc's JavaScript optimiser finds acorn only through Debian's node folder.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

# Debian ships LodePNG as a header and a shared library only: its source
# package is fetched once (scripts/lib.sh) and compiled into the program.
lodepng=$out/lodepng
sprox_debsource lodepng "$lodepng"
[ -f "$lodepng/lodepng.cpp" ] || { echo "web.sh: lodepng.cpp is not in Debian's source package" >&2; exit 1; }

# ---- The data: the desktop build generates and packs it.
if [ ! -f build/sprox.dat ] || [ ! -x build/corepack ]; then
  bash scripts/build.sh
else
  sprox_build default --target sprox_data
fi

# ---- The engine for the browser.
mkdir -p "$out"
# A build-web/ configured from web/ itself (before the web preset) starts afresh.
grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$root" "$out/CMakeCache.txt" 2>/dev/null ||
  rm -rf "$out/CMakeCache.txt" "$out/CMakeFiles"
# emcmake names emscripten's toolchain; the top-level CMakeLists.txt then builds web/ alone.
emcmake cmake --preset web -DLODEPNG_DIR="$lodepng" > "$out/configure.log" 2>&1 \
  || { cat "$out/configure.log"; exit 1; }
sprox_build web
cp build/sprox.dat "$out/sprox.dat"
for f in index.html sprox.js sprox.wasm sprox.dat; do
  printf '%-12s %9d bytes\n' "$f" "$(stat -c %s "$out/$f")"
done

[ "$serve" -eq 1 ] || exit 0
port=${PORT:-8080}
echo "Serving $out at http://127.0.0.1:$port/ (Ctrl-C stops)"
cd "$out" && exec python3 -m http.server "$port" --bind 127.0.0.1
