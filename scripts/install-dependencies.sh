#!/usr/bin/env bash
# Installs, as root on Debian 12, the packages needed to build and test the
# modules. Packages already present are left alone.
set -euo pipefail

# gnuplot, Ghostscript and Octave's fonts draw and print the demo's picture
# without a display.
packages=(build-essential cmake pkg-config octave liboctave-dev libeigen3-dev libnanoflann-dev libgtest-dev
          gnuplot-nox ghostscript fonts-freefont-otf clang libclang-rt-14-dev libomp-dev valgrind python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
