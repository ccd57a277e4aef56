#!/usr/bin/env bash
# The long run of the edge cases, after scripts/test.sh has built build/ and
# build-sanitize/: the searches and the clustering against brute force on
# many random clouds at every scale (CASES, 100000 by default), the core's
# libFuzzer target for a while (SECONDS_TO_FUZZ, 1800 by default), and the
# call fuzzer of the modules (a million calls per module).
#   scripts/fuzz-long.sh [CASES] [SECONDS_TO_FUZZ]
set -euo pipefail
cd "$(dirname "$0")/.."
cases=${1:-100000}
seconds=${2:-1800}
TESSARY_EXTREME_CASES=$cases build/tests/unit_tests --gtest_filter='SearchExtremes.Random*:SearchExtremes.Clustering*'
if [ -x build-sanitize/core_fuzz ]; then
  build-sanitize/core_fuzz -seed=0 -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 2>&1 | tail -n 3
else
  echo "build-sanitize/core_fuzz is not built (scripts/test.sh builds it): the libFuzzer run is skipped"
fi
FUZZ_CALLS=1000000 octave-cli --no-gui --norc --no-history tests/octave/run_octave_test.m build/mex test_fuzz
