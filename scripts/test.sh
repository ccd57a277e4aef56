#!/usr/bin/env bash
# Installs what is missing, builds the modules and runs the whole test suite:
# - in build/: the unit tests, the Octave tests, the package, memcheck, the
#   stand-in MATLAB host's scenarios on the modules built on MATLAB's
#   interface (.mexa64), and the MATLAB files of build-windows/ (from
#   scripts/build-windows.sh): the Windows files themselves, the stand-in
#   scenarios on them under Wine (.mexw64, and .mexw32 where 32-bit programs
#   run and Wine's optional 32-bit half is installed; skipped, and reported
#   so, elsewhere), and the release archive unpacked;
# - in build-i686/, the stand-in scenarios on a 32-bit x86 Linux build of
#   the same modules (.mexglx), run by qemu: the 32-bit arithmetic, also
#   where 32-bit Windows programs cannot run;
# - in build-aarch64/, the same on a 64-bit ARM Linux build (clang), run by
#   qemu: the arithmetic of ARM64 Linux and Apple Silicon;
# - in build-serial/, built without OpenMP: the unit, Octave and stand-in
#   tests, and its reference outputs byte for byte the OpenMP build's;
# - in build-sanitize/, built with clang under AddressSanitizer and
#   UndefinedBehaviorSanitizer: the unit tests, the stand-in scenarios and
#   the core's libFuzzer target;
# - in chroots of Debian 13 and of Debian unstable that debootstrap makes
#   (kept in build/chroot-*), the modules built with each release's own
#   compiler, Octave and nanoflann, and their unit and Octave tests.
# Every build is told which other build's files its tests read.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/quietly.sh
scripts/install-dependencies.sh windows wine i686 arm64 chroots
scripts/build-windows.sh
scripts/build.sh -DTESSARY_WINDOWS_BUILD="$PWD/build-windows"
ctest --test-dir build --output-on-failure -j 2
reference=$PWD/build/standin/reference.bin
rm -f build-i686/build.log build-aarch64/build.log build-serial/build.log build-sanitize/build.log
quietly build-i686/build.log cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DTESSARY_HOST=matlab-interface -DTESSARY_REFERENCE="$reference"
quietly build-i686/build.log cmake --build build-i686 -j "$(nproc)"
ctest --test-dir build-i686 --output-on-failure -j 2
quietly build-aarch64/build.log cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-aarch64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DTESSARY_HOST=matlab-interface -DTESSARY_REFERENCE="$reference"
quietly build-aarch64/build.log cmake --build build-aarch64 -j "$(nproc)"
ctest --test-dir build-aarch64 --output-on-failure -j 2
quietly build-serial/build.log cmake -S . -B build-serial -DCMAKE_BUILD_TYPE=Release -DTESSARY_OPENMP=OFF
quietly build-serial/build.log cmake --build build-serial -j "$(nproc)"
ctest --test-dir build-serial --output-on-failure -j 2 -E "memcheck|package"
cmp build-serial/standin/reference.bin "$reference"
echo "the build without OpenMP wrote the same reference outputs"
CC=clang CXX=clang++ quietly build-sanitize/build.log cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Release \
  -DTESSARY_SANITIZE=ON -DTESSARY_FUZZ=ON -DTESSARY_REFERENCE="$reference" -DTESSARY_WINDOWS_BUILD=
quietly build-sanitize/build.log cmake --build build-sanitize -j "$(nproc)"
ctest --test-dir build-sanitize --output-on-failure -j 2
scripts/test-chroot.sh trixie
scripts/test-chroot.sh sid
