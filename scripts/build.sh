#!/usr/bin/env bash
# Configures and builds the modules and the tests into build/; arguments go
# to CMake's configure step. The output goes to build/build.log, shown only
# when a step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/quietly.sh
rm -f build/build.log
quietly build/build.log cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "$@"
quietly build/build.log cmake --build build -j "$(nproc)"
echo "built build/mex/tessary.mex and build/mex/corvane.mex"
