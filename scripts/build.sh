#!/usr/bin/env bash
# Configures and builds the modules and the tests into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > build.log 2>&1 || { cat build.log; exit 1; }
cmake --build build -j "$(nproc)" >> build.log 2>&1 || { cat build.log; exit 1; }
echo "Built build/mex/tessary.mex and build/mex/corvane.mex"
