#!/usr/bin/env bash
# Installs what is missing, builds the modules and runs the whole test suite:
# the unit, Octave, package and fuzz tests of build/, then the unit tests
# under AddressSanitizer and UndefinedBehaviorSanitizer and the core's
# libFuzzer target, built with clang in build-sanitize/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -j 2
CC=clang CXX=clang++ cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Release -DTESSARY_SANITIZE=ON \
  -DTESSARY_FUZZ=ON > build-sanitize.log 2>&1 || { cat build-sanitize.log; exit 1; }
cmake --build build-sanitize -j "$(nproc)" >> build-sanitize.log 2>&1 || { cat build-sanitize.log; exit 1; }
ctest --test-dir build-sanitize --output-on-failure -j 2
