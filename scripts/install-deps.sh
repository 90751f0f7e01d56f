#!/usr/bin/env bash
# Installs the Debian packages the build, the show and the tests need.
# Only what is missing is installed; apt-get runs through sudo when not root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libglfw3-dev libglew-dev libgl1-mesa-dev libgl1-mesa-dri liblodepng-dev
  libasound2-dev libfreetype-dev libx11-dev libxrandr-dev zlib1g-dev util-linux
  fonts-lobster fonts-bebas-neue fonts-league-spartan fonts-dejavu-core
  libgtest-dev libbenchmark-dev
  xvfb xauth xdotool x11-utils glslang-tools ffmpeg sox
  pulseaudio pulseaudio-utils libasound2-plugins
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
