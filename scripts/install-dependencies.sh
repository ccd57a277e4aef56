#!/usr/bin/env bash
# Installs, as root on Debian 12 or later, the packages needed to build and
# test the modules; packages already present are left alone. An entry
# "a|b" is a package that releases name differently (Debian 13 has Octave's
# development files as octave-dev, Debian 12 as liboctave-dev): whichever
# is installed will do, else the first the archive has is installed. With "windows", also the
# MinGW-w64 cross compilers; with "wine", also Wine, 64-bit and, where it
# can be installed, 32-bit; with "i686", the 32-bit x86 Linux compilers and
# qemu to run what they build; with "arm64", the 64-bit ARM Linux cross
# build's libraries and qemu; with "chroots", debootstrap; with "bench", the
# benchmark's peers. Prints one
# line for what it installs; apt's output goes to build/install.log, shown
# only when a step fails (INSTALL_LOG names another log).
#
# A required package that cannot be installed fails the script, named. An
# optional one serves one test step alone, which is skipped without it: it is
# installed on its own, after the rest, and where it cannot be, one line says
# why and the script goes on.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/quietly.sh
log=${INSTALL_LOG:-build/install.log}

# gnuplot, Ghostscript and Octave's fonts draw and print the demo's picture
# without a display.
packages=(build-essential cmake pkg-config octave "octave-dev|liboctave-dev" libeigen3-dev libnanoflann-dev libgtest-dev
          gnuplot-nox ghostscript fonts-freefont-otf clang libclang-rt-dev
          libomp-dev valgrind python3)
optional=()
for group in "$@"; do
  case $group in
    windows) packages+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix) ;;
    # Wine runs 32-bit Windows programs through its 32-bit half, an i386
    # package, which only the .mexw32 scenarios need; the i686 build under
    # qemu checks the 32-bit arithmetic without it.
    wine) packages+=(wine wine64); optional+=(wine32:i386) ;;
    i686) packages+=(g++-multilib qemu-user-static) ;;
    # 64-bit ARM Linux through clang, whose cross target needs no GCC cross
    # compiler (each of which would remove g++-multilib), and qemu.
    arm64) packages+=(libstdc++-12-dev-arm64-cross libgomp1-arm64-cross binutils-aarch64-linux-gnu qemu-user-static) ;;
    # The chroots of the later Debian releases (scripts/test-chroot.sh).
    chroots) packages+=(debootstrap) ;;
    # The benchmark's peers, and GNU time for their peak memory.
    bench) packages+=(python3-numpy python3-scipy python3-sklearn python3-matplotlib libflann-dev liblz4-dev time libpcl-dev) ;;
    *) echo "unknown group $group" >&2; exit 1 ;;
  esac
done

installed_one() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
installed() {
  local name
  for name in ${1//|/ }; do installed_one "$name" && return 0; done
  return 1
}
# The name of an entry that the archive has, once the package lists are in.
available() {
  local name
  for name in ${1//|/ }; do
    apt-cache show "$name" > /dev/null 2>&1 && { echo "$name"; return; }
  done
  echo "${1%%|*}"
}
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
missing_optional=()
for p in "${optional[@]}"; do installed "$p" || missing_optional+=("$p"); done
[ $((${#missing[@]} + ${#missing_optional[@]})) -gt 0 ] || exit 0

all=("${missing[@]}" "${missing_optional[@]}")
echo "installing: ${all[*]} (log: $log)"
mkdir -p "$(dirname "$log")"
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing_optional[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  quietly "$log" dpkg --add-architecture i386
fi
# apt fails the update when any one list fails to download, yet keeps every
# list it did fetch (and the old copy of the one it did not).
if ! apt-get update >> "$log" 2>&1; then
  echo "apt-get update reported errors (see $log): installing from the package lists it has"
fi
for i in "${!missing[@]}"; do missing[i]=$(available "${missing[i]}"); done

# Why apt cannot install a package, from its simulated install: the first
# dependency it calls not installable, else its last error.
why_not() {
  local out
  out=$(apt-get install -s -y --no-install-recommends "$1" 2>&1 || true)
  { grep -m 1 'not installable' <<<"$out" || grep '^E: ' <<<"$out" | tail -n 1 || true; } | sed 's/^ *//'
}

if [ ${#missing[@]} -gt 0 ] && ! apt-get install -y --no-install-recommends "${missing[@]}" >> "$log" 2>&1; then
  # The packages apt names a problem with; where it names none (a failed
  # download, say), every one still missing.
  named=0
  for p in "${missing[@]}"; do
    reason=$(why_not "$p")
    [ -n "$reason" ] || continue
    echo "failed: required package $p cannot be installed: $reason" >&2
    named=1
  done
  if [ $named = 0 ]; then
    for p in "${missing[@]}"; do installed "$p" || echo "failed: required package $p was not installed" >&2; done
  fi
  echo "---- $log" >&2
  cat "$log" >&2
  exit 1
fi

for p in "${missing_optional[@]}"; do
  if ! apt-get install -y --no-install-recommends "$p" >> "$log" 2>&1; then
    echo "optional package $p not installed ($(why_not "$p")): the test steps that need it are skipped"
  fi
done
