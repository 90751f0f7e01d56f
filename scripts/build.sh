#!/usr/bin/env bash
# Configures and builds everything into build/ (sprox, the tools, sprox.dat, tests).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build build -j"$(nproc)"
