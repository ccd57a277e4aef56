#!/usr/bin/env bash
# Installs what is missing, builds the modules and runs the demo. When the
# demo cannot finish (its picture included) it says why in one line and the
# script fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
scripts/build.sh
octave-cli --no-gui --norc --quiet --no-history --eval \
  "addpath ('build/mex'); addpath ('demo');
   try
     pipeline_demo ('data/kitti_hdl64_000000.f64', 'build/pipeline.png');
   catch err
     fprintf (2, '%s\n', err.message);
     exit (1);
   end"
