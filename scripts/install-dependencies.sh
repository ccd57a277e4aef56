#!/usr/bin/env bash
# Installs, as root on Debian 12, the packages needed to build and test the
# modules; packages already present are left alone. With "windows", also the
# MinGW-w64 cross compilers; with "wine", also Wine, 32-bit and 64-bit; with
# "i686", the 32-bit x86 Linux compilers and qemu to run what they build;
# with "arm64", the 64-bit ARM Linux cross build's libraries and qemu;
# with "bench", the benchmark's peers. Prints one line for what it installs;
# apt's output goes to build/install.log, shown only when a step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/quietly.sh
log=build/install.log

# gnuplot, Ghostscript and Octave's fonts draw and print the demo's picture
# without a display.
packages=(build-essential cmake pkg-config octave liboctave-dev libeigen3-dev libnanoflann-dev libgtest-dev
          gnuplot-nox ghostscript fonts-freefont-otf clang libclang-rt-14-dev libomp-dev valgrind python3)
for group in "$@"; do
  case $group in
    windows) packages+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix) ;;
    # Wine runs 32-bit Windows programs through its 32-bit half, an i386 package.
    wine) packages+=(wine wine64 wine32:i386) ;;
    i686) packages+=(g++-multilib qemu-user-static) ;;
    # 64-bit ARM Linux through clang, whose cross target needs no GCC cross
    # compiler (each of which would remove g++-multilib), and qemu.
    arm64) packages+=(libstdc++-12-dev-arm64-cross libgomp1-arm64-cross binutils-aarch64-linux-gnu qemu-user-static) ;;
    # The benchmark's peers, and GNU time for their peak memory.
    bench) packages+=(python3-numpy python3-scipy python3-sklearn python3-matplotlib libflann-dev liblz4-dev time) ;;
    *) echo "unknown group $group" >&2; exit 1 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0
echo "installing: ${missing[*]} (log: $log)"
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  quietly "$log" dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
quietly "$log" apt-get update
quietly "$log" apt-get install -y --no-install-recommends "${missing[@]}"
