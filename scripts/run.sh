#!/usr/bin/env bash
# Installs what is missing, builds, and runs the show from the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
cd build
exec ./sprox
