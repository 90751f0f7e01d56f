#!/usr/bin/env bash
# The handed-out file on a viewer's machine, which has none of the build's
# libraries: dist/sprox (scripts/release.sh makes it) must name in its dynamic
# section only libraries every desktop distribution has, and must play from an
# empty folder with LD_LIBRARY_PATH empty: under Xvfb its window opens, the
# show runs RUN_SECONDS (3), and Escape ends it with exit status 0.
#   bash tests/release/release_test.sh [FILE]     (FILE: dist/sprox by default)
#
# Threads: none (one shell; the show runs as a child process).
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib.sh
sprox_rerun_under_xvfb "$0" "$@"
file=$(realpath -m "${1:-dist/sprox}")
title="Keldrun - Sprox"
[ -f "$file" ] || { echo "release_test: $file is missing (bash scripts/release.sh makes it)"; exit 2; }
command -v xdotool >/dev/null || { echo "release_test: xdotool is missing"; exit 2; }

# glibc's libraries, the GL vendor library's (or a plain libGL), the X11 client libraries, ALSA's.
allowed='^((libc|libm|libdl|libpthread|librt|libmvec|ld-linux-x86-64)\.so\.[0-9]+|lib(GL|OpenGL|GLX)\.so\.[01]'
allowed+='|lib(X[A-Za-z0-9]*|xcb[a-z0-9-]*)\.so\.[0-9]+|libasound\.so\.2)$'
status=0
needed=$(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
[ -n "$needed" ] || { echo "FAIL  $file has no dynamic section"; exit 1; }
for lib in $needed; do
  if [[ $lib =~ $allowed ]]; then echo "ok    needs $lib"; else echo "FAIL  needs $lib, which a viewer may not have"; status=1; fi
done

# The show from an empty folder, with nothing but the system's libraries and its appended data.
empty=$(mktemp -d) log=$(mktemp)
trap 'rm -rf "$empty" "$log"' EXIT
(cd "$empty" && LD_LIBRARY_PATH= SPROX_AUDIO=silent exec timeout -k 5 90 "$file") >"$log" 2>&1 &
pid=$!
alive() { kill -0 "$pid" 2>/dev/null; }
shown() { xdotool search --name "^$title\$" 2>/dev/null | head -n 1; }
verdict="no window"
for _ in $(seq 1 100); do
  alive || break
  [ -n "$(shown)" ] && { verdict=""; break; }
  sleep 0.3
done
[ -z "$verdict" ] && sleep "${RUN_SECONDS:-3}" && { alive || verdict="ended before Escape"; }
for _ in $(seq 1 20); do
  alive || break
  xdotool search --name "^$title\$" key Escape >/dev/null 2>&1
  sleep 0.5
done
alive && { kill "$pid"; verdict=${verdict:-"still running after Escape"}; }
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
