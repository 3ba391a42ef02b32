# The Debian packages the project needs, in one place. Sourced by scripts/run, scripts/test
# and scripts/package:
#   source scripts/packages.sh
#   pw_install_missing build native demo     # installs what those groups need and is missing
# or run with the groups to install:
#   bash scripts/packages.sh build native bench

# Group name -> packages.
declare -A pw_packages=(
  # every build
  [build]="cmake ninja-build python3 git"
  # the native builds: GoogleTest as Debian built it, and the xcb headers
  [native]="g++ libgtest-dev libxcb1-dev libxcb-randr0-dev"
  # scripts/run's demo on a machine without a display
  [demo]="xvfb"
  # the Windows builds (posix thread model for the tests, win32 for the release) under Wine,
  # and GoogleTest's sources, which the Windows test build compiles
  [windows]="g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-win32 googletest wine wine64"
  # the tests: X servers (Xvfb, Xorg with the dummy driver), xrandr, terminals, tracing,
  # xdotool to press Enter in a console window, and FUSE for a file system that fails on request
  [test]="xvfb x11-xserver-utils xserver-xorg-core xserver-xorg-video-dummy locales tmux strace xdotool fuse3 libfuse3-dev pkg-config"
  # the fuzz target
  [fuzz]="clang libclang-rt-14-dev"
  # static checks
  [static]="clang-format clang-tidy cppcheck"
  # the benchmarks (bench/README.md): Google Benchmark, OpenSSL's MD5 as the digest's
  # yardstick, libeatmydata for the flush's peer, xrandr and the X servers of the display and
  # whole-run benchmarks
  [bench]="libbenchmark-dev libssl-dev eatmydata xvfb x11-xserver-utils xserver-xorg-core xserver-xorg-video-dummy"
)

pw_install_missing() {
  local group p missing=()
  for group in "$@"; do
    [ -n "${pw_packages[$group]+set}" ] || { echo "unknown package group: $group" >&2; return 1; }
    for p in ${pw_packages[$group]}; do
      dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$p")
    done
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Run rather than sourced: install the groups named.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  pw_install_missing "$@"
fi
