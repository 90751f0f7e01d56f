#!/usr/bin/env bash
# Installs what is missing, builds, and runs the show from the build folder
# (arguments go to sprox, e.g. --fullscreen).
# Without a display there is no window to open: the show is rendered to a
# video instead (build/sprox.mp4), headless under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
if [ -z "${DISPLAY:-}" ]; then
  echo "No display: rendering the show to build/sprox.mp4 instead (under Xvfb;" \
       "on a software renderer this takes a long while)."
  exec bash scripts/video.sh --fps 30
fi
cd build
exec ./sprox "$@"
