#!/usr/bin/env bash
# Builds what is handed out: dist/sprox, one file that plays the whole show
# (the stripped Release program with sprox.dat appended to it), and
# dist/keldrun-sprox-linux-x86_64.tar.gz holding it with a README.txt and a
# screenshot.png made by the capture tool. Works without .git and without a
# display (the screenshot is then rendered under xvfb-run).
# GLFW, GLEW and LodePNG are compiled into the program from Debian 12's source
# packages, fetched once into build-release/deps/ (the release preset's
# SPROX_STATIC_DEPS), and the C++ run-time is linked in too: the file needs
# only glibc, libGL, the X11 client libraries and ALSA's
# libasound.so.2, which every desktop distribution has. README.txt names the
# libraries and the oldest glibc, both read from the file itself.
# tests/release/release_test.sh checks the file.
#   bash scripts/release.sh            (the release preset: build-release/)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
bash scripts/install-deps.sh
build=build-release
name=keldrun-sprox
for dep in glfw3 glew lodepng; do sprox_debsource "$dep" "$build/deps/$dep"; done
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

# What the viewer's machine must have, read from the file: the libraries of its
# dynamic section, and the newest glibc symbol version it calls.
needed=$(readelf -d dist/sprox | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p' | paste -sd ' ')
glibc=$(readelf -V -W dist/sprox | grep -o 'GLIBC_[0-9][0-9.]*' | sed 's/^GLIBC_//' | sort -uV | tail -n 1)
[ -n "$needed" ] && [ -n "$glibc" ] || { echo "release.sh: dist/sprox has no dynamic section to read" >&2; exit 1; }

{
  cat <<TEXT
Keldrun - Sprox
===============

A real-time demo for Linux desktops: one piece of music and fifteen scenes
drawn by shaders in step with it, about four minutes long. Everything it
shows and plays is inside the one file "sprox".

Running it
----------
  ./sprox                 a 1280x720 window
  ./sprox --fullscreen    full screen at the monitor's own resolution

It runs on any x86-64 Linux desktop with glibc $glibc or newer, an OpenGL 2.0
driver and these libraries, which every desktop distribution installs:
  $needed
(glibc's own, libGL from Mesa or the GPU's driver, with or without libglvnd,
the X11 client library libX11, and ALSA's alsa-lib). Under Wayland it runs
through XWayland.
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
