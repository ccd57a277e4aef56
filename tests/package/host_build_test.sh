#!/usr/bin/env bash
# Runs the in-host build script on a copy of the sources and smoke-tests the
# modules it puts beside the wrapper. Argument: the source folder.
set -euo pipefail
source=$1
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
cp -r "$source"/common "$source"/tessary "$source"/corvane "$source"/inst "$source"/build.m "$source"/modules.mk "$copy"/
mkdir "$copy"/cmake && cp "$source"/cmake/mexFunction.map "$copy"/cmake/
cd "$copy"
octave-cli --no-gui --norc --quiet --no-history --eval "
  build ();
  assert (exist (fullfile ('$copy', 'inst', 'tessary.mex'), 'file') == 3);
  addpath (fullfile ('$copy', 'inst'));
  assert (strcmp (fileparts (which ('tessary')), fullfile ('$copy', 'inst')));
  addpath ('$source/tests/package');
  smoke_test ();
"
