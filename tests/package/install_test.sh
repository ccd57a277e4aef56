#!/usr/bin/env bash
# Builds the Octave package, installs it into a temporary prefix with
# pkg install, loads it and runs the smoke test.
# Arguments: the build folder and the source folder.
set -euo pipefail
build=$1
source=$2
cmake --build "$build" --target dist > /dev/null
tarball=$(ls "$build"/tessary-*.tar.gz)
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
HOME=$home octave-cli --no-gui --norc --quiet --no-history --eval "
  pkg prefix '$home/packages' '$home/packages';
  pkg local_list '$home/octave_packages';
  pkg install -local '$tarball';
  pkg load tessary;
  assert (strncmp (which ('tessary'), '$home/packages', numel ('$home/packages')));
  addpath ('$source/tests/package');
  smoke_test ();
  pkg unload tessary;
"
