#!/usr/bin/env bash
# Builds the modules and runs the native suite (the core's unit tests and the
# Octave tests) on another Debian release, in a chroot that debootstrap makes
# from Debian's archive and that is kept in build/chroot-<release> for the
# next run. Run as root from scripts/test.sh:
#   scripts/test-chroot.sh trixie    # Debian 13: GCC 14, Octave 9, nanoflann 1.7
#   scripts/test-chroot.sh sid       # unstable: Octave 11, nanoflann 1.12
# Where the chroot cannot be made (not root, no debootstrap, no way to the
# archive) the step is skipped with one line saying why; a build or a test
# that fails in it fails the step, and so do outputs that differ from the
# Debian 12 build's. The build goes to build-<release>/ in the
# source tree, which the chroot sees at /src.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/quietly.sh
release=$1
root=$PWD/build/chroot-$release
log=$PWD/build/chroot-$release.log
mirror=http://deb.debian.org/debian

skip() { echo "skipped: the Debian $release chroot: $1"; exit 0; }
[ "$(id -u)" = 0 ] || skip "making it needs root"
command -v debootstrap > /dev/null || skip "debootstrap is not installed"
mkdir -p build
rm -f "$log"
if ! [ -e "$root/.made" ]; then
  rm -rf "$root"
  echo "making the Debian $release chroot in $root (log: $log)"
  if ! debootstrap --variant=minbase "$release" "$root" "$mirror" >> "$log" 2>&1; then
    why=$(grep -m 1 '^E: ' "$log" || tail -n 1 "$log")
    rm -rf "$root"
    skip "debootstrap failed: $why"
  fi
  touch "$root/.made"
fi

mkdir -p "$root/src" "$root/proc"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mounts=()
release_mounts() {
  local m
  for ((m = ${#mounts[@]} - 1; m >= 0; m--)); do umount "${mounts[m]}" 2> /dev/null || umount -l "${mounts[m]}"; done
}
trap release_mounts EXIT
mount --bind "$PWD" "$root/src" && mounts+=("$root/src")
mount -t proc proc "$root/proc" && mounts+=("$root/proc")

# Memcheck, the package and the documents (their test reads git, which the
# chroot lacks) stay with the Debian 12 build: the release's own
# compiler, libraries and Octave are what is checked here. The reference
# outputs of its Octave build (every command, the users' layer's searches
# among them) must be the Debian 12 build's, byte for byte, where that build
# has written them.
chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 /bin/bash -c "
  set -euo pipefail
  cd /src
  INSTALL_LOG=build-$release/install.log scripts/install-dependencies.sh
  source scripts/quietly.sh
  quietly build-$release/build.log cmake -S . -B build-$release -DCMAKE_BUILD_TYPE=Release -DTESSARY_WINDOWS_BUILD=
  quietly build-$release/build.log cmake --build build-$release -j \$(nproc)
  echo \"Debian $release: \$(g++ --version | head -n 1), Octave \$(octave-cli --version | head -n 1 | grep -o '[0-9.]*\$'),\" \
       \"nanoflann \$(dpkg-query -W -f='\${Version}' libnanoflann-dev)\"
  ctest --test-dir build-$release --output-on-failure -j 2 -E 'memcheck|package|docs'
  if [ -e build/standin/reference.bin ]; then
    cmp build-$release/standin/reference.bin build/standin/reference.bin
    echo \"Debian $release: the reference outputs are the Debian 12 build's, byte for byte\"
  fi
"
