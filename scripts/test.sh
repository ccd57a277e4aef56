#!/usr/bin/env bash
# Installs what is missing, builds the modules and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -j 2
