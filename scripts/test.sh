#!/usr/bin/env bash
# Installs what is missing (the browser test's tools too), builds, and runs
# the whole test suite. Arguments go to ctest, e.g. -L unit for the tests
# that need no window (seconds), or -R '^sound\.' for one module's.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
bash scripts/install-deps.sh --web
bash scripts/build.sh
ctest --preset default -j"$(sprox_jobs)" "$@"
