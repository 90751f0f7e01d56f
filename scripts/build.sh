#!/usr/bin/env bash
# Configures and builds everything into build/ (sprox, the tools, sprox.dat,
# tests): the default preset of CMakePresets.json. Arguments go to the
# configure step, e.g. -DCMAKE_CXX_COMPILER_LAUNCHER=ccache.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
sprox_configure default "$@"
sprox_build default
