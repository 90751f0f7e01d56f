#!/usr/bin/env bash
# Installs what is missing (the browser test's tools too), builds, and runs
# the whole test suite. Arguments go to ctest, e.g. -L unit for the tests
# that need no window (seconds), or -R '^sound\.' for one module's. The
# Windows program's test under Wine runs only when dist/sprox.exe is there.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
bash scripts/install-deps.sh --web
bash scripts/build.sh
# The Windows program's test needs dist/sprox.exe (bash scripts/windows.sh).
[ -f dist/sprox.exe ] || set -- -LE '^windows$' "$@"
ctest --preset default -j"$(sprox_jobs)" "$@"
