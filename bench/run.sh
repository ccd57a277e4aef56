#!/usr/bin/env bash
# The benchmark command: installs the peers (as root on Debian 12), builds
# the modules and the peer programs into build-bench/, and runs every case.
# Arguments go to bench/benchmark.py (--runs N, --quick, --only GROUPS).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
peers=(python3-numpy python3-scipy python3-sklearn python3-matplotlib libflann-dev liblz4-dev octave-statistics time)
missing=()
for p in "${peers[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTESSARY_BENCH=ON -DTESSARY_TESTS=OFF > /dev/null
cmake --build build-bench -j "$(nproc)" > /dev/null
exec /usr/bin/python3 bench/benchmark.py "$@"
