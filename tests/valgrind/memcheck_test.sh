#!/usr/bin/env bash
# Runs Octave test scripts that cover every command, error path and mend
# under valgrind's memcheck and checks the log.
# Arguments: the folder of the built modules, a library to preload, then the
# script names.
set -euo pipefail
mex=$1
preload=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
# Without valgrind nothing is checked: reported skipped (77), never passed.
if ! command -v valgrind > /dev/null; then
  echo "skipped: valgrind is not installed, so memcheck cannot run"
  exit 77
fi
status=0
for name in "$@"; do
  log=$(mktemp)
  LD_PRELOAD=$preload valgrind --tool=memcheck --keep-debuginfo=yes --leak-check=full --show-leak-kinds=all --num-callers=40 \
    --log-file="$log" \
    octave-cli --no-gui --norc --quiet --no-history "$here/../octave/run_octave_test.m" "$mex" "$name" \
    || status=1
  /usr/bin/python3 "$here/check_memcheck.py" "$log" || status=1
  rm -f "$log"
done
exit $status
