# Sourced by the scripts in scripts/ (after they cd to the repository root):
# what they share. Every build is configured and built through a preset of
# CMakePresets.json, so the folder and the cache variables of each build are
# written once, there.
#
# Threads: none; each function runs in the sourcing shell.
#   JOBS=N   parallel compile and test jobs (default: the number of cores)

source scripts/xvfb.sh

# The repository's root: every script cds there before it sources this file.
SPROX_ROOT=$PWD

# sprox_jobs: the number of parallel jobs.
sprox_jobs() { printf '%s\n' "${JOBS:-$(nproc)}"; }

# sprox_configure PRESET [CMAKE ARGS...]: configures the build of PRESET in
# its folder (extra arguments such as -DCMAKE_CXX_COMPILER_LAUNCHER=ccache go
# to cmake as they are).
sprox_configure() {
  local preset=$1
  shift
  cmake --preset "$preset" "$@"
}

# sprox_build PRESET [CMAKE --build ARGS...]: builds PRESET's targets (or
# those named with --target) in its folder.
sprox_build() {
  local preset=$1
  shift
  cmake --build --preset "$preset" -j"$(sprox_jobs)" "$@"
}

# sprox_rerun_under_xvfb "$0" "$@": without a display, runs the calling
# script again under one new X server for all its runs and exits with its
# status; with a display it returns at once.
sprox_rerun_under_xvfb() {
  [ -n "${DISPLAY:-}" ] && return 0
  # A shell function cannot be exec'd: the script runs again under it.
  sprox_xvfb bash "$@"
  exit $?
}

# sprox_debsource PACKAGE DEST: the upstream source of Debian 12's source
# package PACKAGE, unpacked into DEST (its top folder stripped). apt-get
# fetches it through a private source list in DEST's parent folder, so
# nothing in the system's apt configuration changes; a DEST already there is
# kept as it is (the fetch runs once per build folder).
sprox_debsource() {
  local package=$1 dest=$2
  [ -f "$dest/.sprox-debsource" ] && return 0
  local apt_dir  # absolute: apt reads a relative list path as one under /etc/apt
  apt_dir=$(realpath -m "$(dirname "$dest")")/apt-src-$package
  rm -rf "$apt_dir" "$dest.tmp" && mkdir -p "$apt_dir/lists/partial" "$apt_dir/get" "$dest.tmp"
  echo "deb-src http://deb.debian.org/debian bookworm main" > "$apt_dir/sources.list"
  local apt_opts=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
                  -o Dir::State::Lists="$apt_dir/lists" -o Debug::NoDropPrivs=1 -o APT::Sandbox::User=root)
  apt-get "${apt_opts[@]}" update -qq &&
    (cd "$apt_dir/get" && apt-get "${apt_opts[@]}" source --download-only -qq "$package") ||
    { echo "sprox_debsource: Debian's source package $package could not be fetched" >&2
      rm -rf "$apt_dir" "$dest.tmp"; return 1; }
  local orig
  orig=$(ls "$apt_dir"/get/"${package}"_*.orig.tar.* 2>/dev/null | head -n 1)
  [ -n "$orig" ] && tar -xf "$orig" -C "$dest.tmp" --strip-components=1 ||
    { echo "sprox_debsource: $package's upstream tarball is missing or damaged" >&2
      rm -rf "$apt_dir" "$dest.tmp"; return 1; }
  printf '%s\n' "$(basename "$orig")" > "$dest.tmp/.sprox-debsource"
  rm -rf "$dest" && mv "$dest.tmp" "$dest" && rm -rf "$apt_dir"
}

# The run-time settings of the sanitizer builds. A report ends the program
# with a signal (and is looked for in its output too); leaks and races inside
# the system's GL and X libraries are theirs, not ours (the suppressions).
SPROX_ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
SPROX_LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer/lsan.supp:print_suppressions=0"
SPROX_UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
SPROX_TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/sanitizer/tsan.supp"

# sprox_sanitizer_env: exports the four settings above.
sprox_sanitizer_env() {
  export ASAN_OPTIONS=$SPROX_ASAN_OPTIONS LSAN_OPTIONS=$SPROX_LSAN_OPTIONS
  export UBSAN_OPTIONS=$SPROX_UBSAN_OPTIONS TSAN_OPTIONS=$SPROX_TSAN_OPTIONS
}

# sprox_median: the median of the numbers on standard input, one a line
# (nothing for no numbers).
sprox_median() {
  sort -g | awk '{ v[NR] = $1 } END { if (!NR) exit; print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# sprox_frame_match A.png B.png: prints "PSNR P dB, SSIM S" (ffmpeg's psnr
# and ssim filters, in RGB) for two frames of the same size; status 0 when
# they match (PSNR at least SPROX_FRAME_MIN_PSNR or SSIM at least
# SPROX_FRAME_MIN_SSIM; identical frames have PSNR inf), 1 when they do not,
# 2 (with ffmpeg's last lines) when ffmpeg gave no score.
SPROX_FRAME_MIN_PSNR=30
SPROX_FRAME_MIN_SSIM=0.95
sprox_frame_match() {
  local scores psnr ssim
  scores=$(ffmpeg -nostdin -hide_banner -nostats -i "$1" -i "$2" \
    -lavfi "[0:v]format=rgb24[a0];[1:v]format=rgb24[b0];[a0]split[a1][a2];[b0]split[b1][b2];[a1][b1]psnr;[a2][b2]ssim" \
    -f null - 2>&1)
  psnr=$(sed -n 's/.*PSNR.* average:\([0-9.inf]*\).*/\1/p' <<<"$scores" | head -n 1)
  ssim=$(sed -n 's/.*SSIM.* All:\([0-9.]*\).*/\1/p' <<<"$scores" | head -n 1)
  if [ -z "$psnr" ] || [ -z "$ssim" ]; then
    echo "no score from ffmpeg: $(tail -n 3 <<<"$scores" | paste -sd ' ')"
    return 2
  fi
  echo "PSNR $psnr dB, SSIM $ssim"
  awk -v p="$psnr" -v s="$ssim" -v mp="$SPROX_FRAME_MIN_PSNR" -v ms="$SPROX_FRAME_MIN_SSIM" \
    'BEGIN { exit !(p == "inf" || p + 0 >= mp || s + 0 >= ms) }'
}
