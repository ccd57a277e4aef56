#!/usr/bin/env bash
# Installs what is missing, builds the modules and runs the whole test suite:
# - in build/: the unit tests, the Octave tests, the package, memcheck, and
#   the stand-in MATLAB host's scenarios on the modules built on MATLAB's
#   interface, natively (.mexa64) and, under Wine, cross-built for Windows
#   (.mexw32, .mexw64; scripts/build-windows.sh);
# - in build-i686/, the stand-in scenarios on a 32-bit x86 Linux build of
#   the same modules (.mexglx), run by qemu: the 32-bit arithmetic, also
#   where 32-bit Windows programs cannot run;
# - in build-sanitize/, built with clang under AddressSanitizer and
#   UndefinedBehaviorSanitizer: the unit tests, the stand-in scenarios and
#   the core's libFuzzer target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh windows wine i686
scripts/build-windows.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -j 2
cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DTESSARY_HOST=matlab-interface > build-i686.log 2>&1 || { cat build-i686.log; exit 1; }
cmake --build build-i686 -j "$(nproc)" >> build-i686.log 2>&1 || { cat build-i686.log; exit 1; }
ctest --test-dir build-i686 --output-on-failure -j 2
CC=clang CXX=clang++ cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Release -DTESSARY_SANITIZE=ON \
  -DTESSARY_FUZZ=ON > build-sanitize.log 2>&1 || { cat build-sanitize.log; exit 1; }
cmake --build build-sanitize -j "$(nproc)" >> build-sanitize.log 2>&1 || { cat build-sanitize.log; exit 1; }
ctest --test-dir build-sanitize --output-on-failure -j 2
