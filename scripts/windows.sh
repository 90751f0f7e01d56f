#!/usr/bin/env bash
# The show for Windows, cross-compiled here: dist/sprox.exe, one file that
# plays the whole show (the engine built for x86_64-w64-mingw32 through the
# windows preset, stripped, with the resource image appended by the host's
# corepack), and dist/keldrun-sprox-windows-x86_64.zip holding it with a
# README.txt (Windows line ends), a file_id.diz and a screenshot.png.
#
# Installs what is missing (MinGW-w64 with POSIX threads, Wine, zip:
# scripts/install-deps.sh --windows). GLFW, GLEW and LodePNG come from Debian
# 12's source packages, fetched once into build-windows/deps/ and compiled
# into the program by its own build (cmake/SproxDeps.cmake), so a second run
# fetches nothing and builds nothing that has not changed. The data, the
# packer and the screenshot come from the host's build (build/, the default
# preset; configured and built here when missing). The program is linked
# statically and must import system DLLs only: this script checks that, and
# that it is a GUI program (no console window). Works in a copy of the tree
# without .git and without a display (the screenshot then renders under
# xvfb-run). tests/windows/wine-run.sh checks the program under Wine.
#   bash scripts/windows.sh [CMAKE CONFIGURE ARGS...]   (passed to both
#                                                        configure steps, e.g.
#                                                        -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
#
# Threads: none (one shell).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
started=$SECONDS
bash scripts/install-deps.sh --windows
build=build-windows
name=keldrun-sprox
triple=x86_64-w64-mingw32
zipfile=dist/$name-windows-x86_64.zip
shot_seconds=168.5  # the ice cubes, as the Linux release's screenshot

# What the program may import: DLLs that every 64-bit Windows has.
system_dlls='^(kernel32|user32|gdi32|opengl32|winmm|msvcrt|shell32|advapi32|ole32|oleaut32|imm32|shlwapi|version|dwmapi)\.dll$'

for dep in glfw3 glew lodepng; do sprox_debsource "$dep" "$build/deps/$dep"; done

# ---- The data and the packer: the host's build.
[ -f build/CMakeCache.txt ] || sprox_configure default "$@"
sprox_build default --target sprox sprox_data corepack
[ -s build/sprox-pack-inputs.txt ] ||
  { echo "windows.sh: build/sprox-pack-inputs.txt is missing (the default build writes it)" >&2; exit 1; }

# ---- The engine for Windows.
sprox_configure windows "$@"
sprox_build windows

mkdir -p dist "$build/dist"
rm -f dist/sprox.exe "$zipfile"
"$triple-strip" -o "$build/dist/sprox-stripped.exe" "$build/sprox.exe"
mapfile -t inputs < build/sprox-pack-inputs.txt
build/corepack -o "$build/dist/sprox.exe" --append "$build/dist/sprox-stripped.exe" "${inputs[@]}"
# The same files as the host's sprox.dat (their offsets count from the exe's start).
listing() { build/corepack --list "$1" | awk '{ print $1, $3, $4 }'; }
[ "$(listing "$build/dist/sprox.exe")" = "$(listing build/sprox.dat)" ] ||
  { echo "windows.sh: the image appended to sprox.exe does not hold build/sprox.dat's files" >&2; exit 1; }
exe_size=$(stat -c %s "$build/dist/sprox.exe")

# ---- What the viewer's Windows needs: system DLLs only, and no console.
headers=$("$triple-objdump" -p "$build/dist/sprox.exe")
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
[ -n "$dlls" ] || { echo "windows.sh: sprox.exe imports nothing (not a PE program?)" >&2; exit 1; }
foreign=$(tr 'A-Z' 'a-z' <<<"$dlls" | grep -Ev "$system_dlls" || true)
[ -z "$foreign" ] ||
  { echo "windows.sh: sprox.exe needs DLLs a Windows machine may not have: $(paste -sd ' ' <<<"$foreign")" >&2; exit 1; }
grep -Eq '^Subsystem[[:space:]].*Windows GUI' <<<"$headers" ||
  { echo "windows.sh: sprox.exe is not a GUI program (it would open a console window)" >&2; exit 1; }
cp "$build/dist/sprox.exe" dist/sprox.exe

# ---- The zip: the program, README.txt, file_id.diz, the screenshot.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp dist/sprox.exe "$stage/sprox.exe"
shoot=(build/sprox --data build/sprox.dat --still "$shot_seconds" "$stage/screenshot.png")
if [ -n "${DISPLAY:-}" ]; then "${shoot[@]}" >/dev/null; else sprox_xvfb "${shoot[@]}" >/dev/null; fi
options=$(build/sprox --help | sed -n '/^Screen:/,/^  --help/p')
[ -n "$options" ] || { echo "windows.sh: build/sprox --help printed no options" >&2; exit 1; }
awk -v options="$options" '$0 == "@OPTIONS@" { print options; next } { print }' scripts/windows/README.txt.in |
  sed 's/$/\r/' >"$stage/README.txt"
# The scene's convention for file_id.diz: at most 10 lines of at most 45 characters.
awk 'length($0) > 45 { bad = 1 } END { exit (bad || NR > 10) }' scripts/windows/file_id.diz ||
  { echo "windows.sh: scripts/windows/file_id.diz is over 10 lines or has a line over 45 characters" >&2; exit 1; }
sed 's/$/\r/' scripts/windows/file_id.diz >"$stage/file_id.diz"
(cd "$stage" && zip -q -X "$OLDPWD/$zipfile" sprox.exe README.txt file_id.diz screenshot.png)

printf '%-40s %9d bytes (%s)\n' dist/sprox.exe "$exe_size" "$(paste -sd ' ' <<<"$dlls")"
printf '%-40s %9d bytes\n' "$zipfile" "$(stat -c %s "$zipfile")"
echo "windows.sh: done in $((SECONDS - started)) s"
