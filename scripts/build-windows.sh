#!/usr/bin/env bash
# Installs what is missing and builds the modules for MATLAB on its binary
# interface, without MATLAB:
#   build-windows/win64/tessary.mexw64, corvane.mexw64  (PE32+, x86-64, MinGW-w64)
#   build-windows/win32/tessary.mexw32, corvane.mexw32  (PE32, i686, MinGW-w64)
#   build-windows/linux64/tessary.mexa64, corvane.mexa64
# and the release archive of them all, with the help texts, the users' layer, a
# README for MATLAB users and the licence:
#   build-windows/tessary-<version>-matlab.zip
# Beside each Windows build folder (build-windows/build-win64/standin/, ...)
# the stand-in MATLAB host and its driver, for the tests. Each build's
# output goes to build-windows/build-<arch>.log, shown only when it fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/quietly.sh
scripts/install-dependencies.sh windows
for arch in win64 win32 linux64; do
  log=build-windows/build-$arch.log
  rm -f "$log"
  toolchain=()
  [ "$arch" = linux64 ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$arch.cmake)
  quietly "$log" cmake -S . -B build-windows/build-$arch "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DTESSARY_HOST=matlab-interface -DTESSARY_TESTS="$([ "$arch" = linux64 ] && echo OFF || echo ON)" \
    -DMEX_OUTPUT_DIR="$PWD/build-windows/$arch"
  quietly "$log" cmake --build build-windows/build-$arch -j "$(nproc)"
done
quietly build-windows/release.log cmake -DSOURCE_DIR="$PWD" -DBUILD_DIR="$PWD/build-windows" -P package/matlab_release.cmake
echo "built build-windows/{win64,win32,linux64}/ and $(ls build-windows/tessary-*-matlab.zip)"
