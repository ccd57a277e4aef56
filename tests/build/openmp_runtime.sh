#!/bin/sh
# Usage: openmp_runtime.sh EXPECTED MODULE...: fails unless the modules whose
# file needs an OpenMP runtime (libgomp, libomp, libiomp) are exactly the
# space-separated names in EXPECTED.
expected=$1
shift
found=""
for m in "$@"; do
  readelf -d "$m" | grep NEEDED | grep -Eq 'lib(g|i)?omp' && found="$found${found:+ }$(basename "${m%.*}")"
done
[ "$found" = "$expected" ] || { echo "modules linking an OpenMP runtime: '$found', expected '$expected'"; exit 1; }
