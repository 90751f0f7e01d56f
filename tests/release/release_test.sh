#!/usr/bin/env bash
# The handed-out file on a viewer's machine, which has none of the build's
# libraries: dist/sprox (made by scripts/release.sh) must name in its dynamic
# section only the libraries every desktop distribution has, and must play
# from an empty folder with LD_LIBRARY_PATH empty: under Xvfb its window opens,
# the show runs, and Escape ends it with exit status 0.
#   bash tests/release/release_test.sh [FILE]     (FILE: dist/sprox by default)
#   RUN_SECONDS=3   how long the show runs before Escape is sent
#
# Threads: none (one shell; the show runs as a child process).
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib.sh
sprox_rerun_under_xvfb "$0" "$@"
file=$(realpath -m "${1:-dist/sprox}")
run_seconds=${RUN_SECONDS:-3}
title="Keldrun - Sprox"
[ -f "$file" ] || { echo "release_test: $file is missing (bash scripts/release.sh makes it)"; exit 2; }
command -v xdotool >/dev/null || { echo "release_test: xdotool is missing"; exit 2; }

# The libraries a viewer's machine is sure to have: glibc's, the GL vendor
# library's (libglvnd, or a plain libGL), the X11 client libraries and ALSA's.
allowed=(
  '(libc|libm|libdl|libpthread|librt|libmvec|ld-linux-x86-64)\.so\.[0-9]+'
  'lib(GL|OpenGL|GLX)\.so\.[01]'
  'lib(X[A-Za-z0-9]*|xcb[a-z0-9-]*)\.so\.[0-9]+'
  'libasound\.so\.2'
)
pattern="^($(IFS='|'; echo "${allowed[*]}"))\$"
status=0

needed=$(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
[ -n "$needed" ] || { echo "release_test: $file has no dynamic section"; exit 1; }
while read -r lib; do
  if [[ $lib =~ $pattern ]]; then
    echo "ok    needs $lib"
  else
    echo "FAIL  needs $lib, which a viewer's machine may not have"
    status=1
  fi
done <<<"$needed"

# The show from an empty folder, finding nothing but the system's libraries
# and the data appended to the file.
empty=$(mktemp -d)
log=$(mktemp)
trap 'rm -rf "$empty" "$log"' EXIT
(cd "$empty" && LD_LIBRARY_PATH= SPROX_AUDIO=silent exec timeout -k 5 $((run_seconds + 60)) "$file") >"$log" 2>&1 &
pid=$!
alive() { kill -0 "$pid" 2>/dev/null; }
shown=""
for _ in $(seq 1 100); do
  alive || break
  shown=$(xdotool search --name "^$title\$" 2>/dev/null | head -n 1)
  [ -n "$shown" ] && break
  sleep 0.3
done
verdict=""
if [ -z "$shown" ]; then
  verdict="no window"
else
  sleep "$run_seconds"
  alive || verdict="ended before Escape"
fi
for _ in $(seq 1 20); do
  alive || break
  xdotool search --name "^$title\$" key Escape >/dev/null 2>&1
  sleep 0.5
done
if alive; then
  kill "$pid" 2>/dev/null
  verdict=${verdict:-"still running after Escape"}
fi
wait "$pid"
rc=$?
[ -z "$verdict" ] && [ "$rc" -ne 0 ] && verdict="exit status $rc"
if [ -n "$verdict" ]; then
  echo "FAIL  the show from an empty folder: $verdict"
  sed 's/^/      | /' "$log"
  status=1
else
  echo "ok    the show from an empty folder opens its window and ends on Escape with status 0"
fi
exit $status
