#!/usr/bin/env bash
# The benchmark command: installs the peers (as root on Debian 12), builds
# the modules and the peer programs into build-bench/, and runs every case.
# Arguments go to bench/benchmark.py (--runs N, --quick, --only GROUPS).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh bench
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTESSARY_BENCH=ON -DTESSARY_TESTS=OFF > /dev/null
cmake --build build-bench -j "$(nproc)" > /dev/null
exec /usr/bin/python3 bench/benchmark.py "$@"
