#!/usr/bin/env bash
# The browser test: builds the web version (scripts/web.sh --build), serves
# build-web/ with python3 -m http.server on 127.0.0.1, and drives Debian's
# Chromium headless through it (browser_check.js, puppeteer-core from npm in
# tests/web/node_modules). At each show time below the ?at= frame must match
# the capture tool's frame at the same time (sprox-capture --at, the desktop
# build under Xvfb): PSNR of at least 30 dB or SSIM of at least 0.95. The page
# must log no error, and in real-time play the music must keep to the wall
# clock within 5 % over 5 s.
#
# Usage: browser-test.sh [BUILD_DIR]  (the desktop build, default build/)
# Exit status 77 (CTest's skip) when emscripten, chromium or puppeteer-core is
# missing: the test installs nothing (bash scripts/install-deps.sh --web does).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
cd "$root" && source scripts/lib.sh && cd "$OLDPWD"  # sprox_frame_match
out=$build/web-test
# Seconds (events 0, 2, 4, 7, 10, 13), each half a film frame past a whole
# second: the post pass changes its grain and dust 24 times a second, and a
# time right on such a change picks its side by the last bit of a float,
# which two renderers need not round alike.
times=(8.02 40.02 75.02 120.02 165.02 210.02)

# ---- The tools: emscripten and chromium from apt, puppeteer-core from npm.
missing=()
command -v emcc > /dev/null && command -v emcmake > /dev/null || missing+=(emscripten)
command -v chromium > /dev/null || missing+=(chromium)
[ -d "$here/node_modules/puppeteer-core" ] || missing+=("puppeteer-core (tests/web/node_modules)")
if [ ${#missing[@]} -gt 0 ]; then
  echo "SKIPPED: the browser test needs ${missing[*]}; bash scripts/install-deps.sh --web installs them"
  exit 77
fi

bash "$root/scripts/web.sh" --build

# ---- The desktop frames at the same times.
rm -rf "$out" && mkdir -p "$out/native"
source "$root/scripts/xvfb.sh"
for t in "${times[@]}"; do
  xvfb-run -a -s "$SPROX_XVFB_SCREEN" "$build/sprox-capture" --data "$build/sprox.dat" --quiet \
    --at "$t" --png "$out/native/$t" > "$out/native/$t.log" 2>&1 || { cat "$out/native/$t.log"; exit 1; }
done

# ---- The server, on a free port, for as long as the browser needs it.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# show/ is build-web/; broken/ the same page and engine without sprox.dat.
mkdir -p "$out/site/show" "$out/site/broken"
for f in index.html sprox.js sprox.wasm sprox.dat; do ln -s "$root/build-web/$f" "$out/site/show/$f"; done
for f in index.html sprox.js sprox.wasm; do ln -s "$root/build-web/$f" "$out/site/broken/$f"; done
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$out/site" > "$out/server.log" 2>&1 &
server=$!
trap 'kill $server 2> /dev/null || true' EXIT
for _ in $(seq 50); do
  python3 -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/show/index.html')" 2> /dev/null && break
  sleep 0.2
done

status=0
node "$here/browser_check.js" "http://127.0.0.1:$port/show/" "http://127.0.0.1:$port/broken/" "$out" "${times[@]}" \
  || status=1

# ---- Each browser frame against the desktop one.
for t in "${times[@]}"; do
  native=$(ls "$out/native/$t"/*.png 2> /dev/null | head -1)
  web=$out/web_$t.png
  if [ -z "$native" ] || [ ! -f "$web" ]; then
    echo "FAIL $t s: a frame is missing (desktop: ${native:-none}, browser: $web)"
    status=1
    continue
  fi
  if score=$(sprox_frame_match "$web" "$native"); then
    echo "ok   $t s: $score"
  else
    echo "FAIL $t s: $score (needs PSNR >= $SPROX_FRAME_MIN_PSNR or SSIM >= $SPROX_FRAME_MIN_SSIM)"
    status=1
  fi
done
exit $status
