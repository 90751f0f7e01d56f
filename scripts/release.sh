#!/usr/bin/env bash
# Builds what is handed out: dist/sprox, one file that plays the whole show
# (the stripped Release program with sprox.dat appended to it), and
# dist/keldrun-sprox-linux-x86_64.tar.gz holding it with a README.txt and a
# screenshot.png made by the capture tool. Works without .git and without a
# display (the screenshot is then rendered under xvfb-run).
#   bash scripts/release.sh            (the release preset: build-release/)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
bash scripts/install-deps.sh
build=build-release
name=keldrun-sprox
sprox_configure release
sprox_build release

mkdir -p dist
rm -f dist/sprox dist/$name-linux-x86_64.tar.gz
cp "$build/dist/sprox" dist/sprox
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/$name"
cp dist/sprox "$stage/$name/sprox"

# The screenshot: the ice cubes at 1280x720, from the image inside dist/sprox.
shoot=("$build/sprox-capture" --data "$build/sprox.dat" --at 168.5 --png "$stage/shot" --quiet)
if [ -n "${DISPLAY:-}" ]; then "${shoot[@]}" >/dev/null; else xvfb-run -a -s "$SPROX_XVFB_SCREEN" "${shoot[@]}" >/dev/null; fi
cp "$stage"/shot/frame_*.png "$stage/$name/screenshot.png"

{
  cat <<'TEXT'
Keldrun - Sprox
===============

A real-time demo for Linux desktops: one piece of music and fifteen scenes
drawn by shaders in step with it, about four minutes long. Everything it
shows and plays is inside the one file "sprox".

Running it
----------
  ./sprox                 a 1280x720 window
  ./sprox --fullscreen    full screen at the monitor's own resolution

It needs an OpenGL 2.0 driver and these Debian 12 packages at run time
(install them with "sudo apt-get install ..."):
  libglfw3 libglew2.2 libgl1 liblodepng0 libasound2
Sound goes to ALSA's "default" device; without one the show plays silently
on its own clock.

Keys
----
  Escape   end the show
  F11      switch between full screen and the window
  Tab      debug mode; then Enter pauses, Left and Right jump to the
           previous or next scene

Options
-------
TEXT
  "$build/sprox" --help | sed -n '/^Screen:/,/^  --help/p'
} > "$stage/$name/README.txt"

tar -C "$stage" -czf dist/$name-linux-x86_64.tar.gz $name
ls -l dist/sprox dist/$name-linux-x86_64.tar.gz
