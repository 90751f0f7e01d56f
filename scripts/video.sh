#!/usr/bin/env bash
# Installs what is missing, builds, and renders the whole show to build/sprox.mp4
# (60 fps with the music) through sprox-capture. Extra arguments go to the
# capture tool, e.g. --fps 30, --from 60 --to 90, --sheet sheet.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh >/dev/null
cd build
args=(--mp4 sprox.mp4 "$@")
if [ -n "${DISPLAY:-}" ]; then
  exec ./sprox-capture "${args[@]}"
fi
source ../scripts/xvfb.sh
exec xvfb-run -a -s "$SPROX_XVFB_SCREEN" ./sprox-capture "${args[@]}"
