#!/usr/bin/env bash
# Installs what is missing and cross-builds the Windows modules with
# MinGW-w64:
#   build-windows/win32/tessary.mexw32, corvane.mexw32  (PE32, i686)
#   build-windows/win64/tessary.mexw64, corvane.mexw64  (PE32+, x86-64)
# and, for the tests, the stand-in MATLAB host and its driver beside each
# build folder (build-windows/build-win32/standin/, .../build-win64/standin/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh windows
for arch in win32 win64; do
  log=build-windows/build-$arch.log
  mkdir -p build-windows
  cmake -S . -B build-windows/build-$arch -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$arch.cmake \
    -DCMAKE_BUILD_TYPE=Release -DTESSARY_HOST=matlab-interface -DMEX_OUTPUT_DIR="$PWD/build-windows/$arch" \
    > "$log" 2>&1 || { cat "$log"; exit 1; }
  cmake --build build-windows/build-$arch -j "$(nproc)" >> "$log" 2>&1 || { cat "$log"; exit 1; }
done
echo "Built build-windows/win32/{tessary,corvane}.mexw32 and build-windows/win64/{tessary,corvane}.mexw64"
