#!/usr/bin/env bash
# Installs what is missing, builds the modules and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
scripts/build.sh
octave-cli --no-gui --norc --quiet --no-history --eval \
  "addpath ('build/mex'); addpath ('demo'); pipeline_demo ('data/kitti_hdl64_000000.f64', 'build/pipeline.png');"
