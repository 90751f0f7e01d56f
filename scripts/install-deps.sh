#!/usr/bin/env bash
# Installs the Debian packages the build, the show and the tests need.
# Only what is missing is installed; apt-get runs through sudo when not root.
# With --web, also what the web build and its browser test need: Debian's
# emscripten and chromium, and puppeteer-core from npm in tests/web/; where
# they cannot be installed it says so and goes on (the browser test is then
# skipped). With --windows, the cross compiler, Wine and zip of the Windows
# build (scripts/windows.sh), which fails without them. The tests themselves
# install nothing.
#   bash scripts/install-deps.sh [--web | --windows]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake pkg-config
  libglfw3-dev libglew-dev libgl1-mesa-dev libgl1-mesa-dri liblodepng-dev
  libasound2-dev libfreetype-dev libx11-dev libxrandr-dev zlib1g-dev util-linux
  libxinerama-dev libxcursor-dev libxi-dev
  fonts-lobster fonts-bebas-neue fonts-league-spartan fonts-dejavu-core
  libgtest-dev libbenchmark-dev
  xvfb xauth xdotool x11-utils glslang-tools ffmpeg sox
  pulseaudio pulseaudio-utils libasound2-plugins
  clang libclang-rt-14-dev
)
web_packages=(emscripten chromium)
windows_packages=(g++-mingw-w64-x86-64-posix wine wine64 zip)
[ -d tests/web/node_modules/puppeteer-core ] || command -v npm >/dev/null || web_packages+=(npm)

# install_missing PACKAGES...: installs those of PACKAGES that are missing.
install_missing() {
  local missing=() p sudo=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

install_missing "${packages[@]}"
if [ "${1:-}" = --windows ]; then
  install_missing "${windows_packages[@]}" ||
    { echo "install-deps.sh: MinGW-w64, Wine or zip could not be installed (${windows_packages[*]})" >&2; exit 1; }
  exit 0
fi
[ "${1:-}" = --web ] || exit 0
web_ok=1
install_missing "${web_packages[@]}" || web_ok=0
# The browser test drives Chromium through puppeteer-core, pinned in tests/web/package-lock.json.
if [ $web_ok -eq 1 ] && [ ! -d tests/web/node_modules/puppeteer-core ]; then
  echo "Installing: puppeteer-core (npm, tests/web/node_modules)"
  (cd tests/web && npm ci --no-audit --no-fund --loglevel=error) || web_ok=0
fi
[ $web_ok -eq 1 ] || echo "install-deps.sh: the web build's tools could not be installed; the browser test will be skipped"
exit 0
