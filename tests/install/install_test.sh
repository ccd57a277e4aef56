#!/usr/bin/env bash
# The install script's decisions, against a stand-in apt-get whose update
# fails and which cannot install the packages in $UNINSTALLABLE, and an
# archive without liboctave-dev (Debian 13's): it goes on past the update and
# without an optional package, stops, naming it, on a required one, and
# installs the name of a renamed package that the archive has.
# Usage: install_test.sh SOURCE_DIR
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree/scripts" "$work/bin"
cp "$1/scripts/install-dependencies.sh" "$1/scripts/quietly.sh" "$work/tree/scripts/"

# Nothing is installed; apt-get installs every package but those named.
cat > "$work/bin/dpkg-query" <<'SH'
#!/bin/sh
exit 1
SH
cat > "$work/bin/dpkg" <<'SH'
#!/bin/sh
exit 0
SH
cat > "$work/bin/apt-cache" <<'SH'
#!/bin/sh
[ "$1" = show ] && [ "$2" != liboctave-dev ]
SH
cat > "$work/bin/apt-get" <<'SH'
#!/bin/bash
[ "$1" = update ] && { echo "E: Some index files failed to download."; exit 100; }
[ "$1" = install ] && [ "$2" = -y ] && echo "$*" >> "$APT_LOG"
for p in "$@"; do
  if [[ " $UNINSTALLABLE " == *" $p "* ]]; then
    echo " ${p%%:*} : Depends: libstand-in but it is not installable"
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100
  fi
done
SH
chmod +x "$work/bin/"*

run() { APT_LOG=$work/apt.log UNINSTALLABLE=$1 PATH="$work/bin:$PATH" bash "$work/tree/scripts/install-dependencies.sh" wine > "$work/out" 2>&1; }
fail() { echo "FAIL: $1"; cat "$work/out"; exit 1; }

run "wine32:i386" || fail "the script stopped on an optional package"
grep -q "^apt-get update reported errors" "$work/out" || fail "no line for the failed update"
grep -q " octave-dev " "$work/apt.log" && ! grep -q "octave-dev|" "$work/apt.log" ||
  fail "not the name of Octave's development files that the archive has"
grep -qx "optional package wine32:i386 not installed (wine32 : Depends: libstand-in but it is not installable): the test steps that need it are skipped" \
  "$work/out" || fail "no line for the optional package"

if run "cmake"; then fail "the script went on without a required package"; fi
grep -q "^failed: required package cmake cannot be installed: cmake : Depends: libstand-in" "$work/out" ||
  fail "the required package is not named"
grep -q "^optional package" "$work/out" && fail "an optional package was tried after a required one failed"
echo "the install script goes on past a failed update and an optional package, and stops on a required one"
