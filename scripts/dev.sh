#!/usr/bin/env bash
# Installs what is missing, builds, and runs the show from the source tree:
# `sprox --dev build/dev`, where build/dev links every file of the data to
# content/ and to the generated assets. Saved changes to a shader, the
# prelude, an image, content/timing.dat or the music reload in the running
# show; debug mode is on (see "Making changes" in the README).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
if [ -z "${DISPLAY:-}" ]; then
  echo "dev.sh: no display: the development mode needs the show's window."
  exit 1
fi
exec build/sprox --dev build/dev
