#!/usr/bin/env bash
# Builds the Debian package of Kestrel for the OBS on this machine: the plug-in in OBS's system
# plug-in folders and kestrel-backup in /usr/bin, with Depends computed from the libraries they
# link. Prints the package's fields, then its path on the last line.
#   scripts/package.sh [BUILD_DIR]    default build/package, made as a Release build; an
#                                     existing build folder is packaged as configured
# Install it with: sudo apt install ./build/package/packages/kestrel-obs_VERSION_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/package}
case "$build" in -h|--help) sed -n '2,7p' "$0"; exit 0 ;; esac

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTREL_WERROR=ON -DKESTREL_TESTS=OFF \
    -DKESTREL_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target kestrel kestrel-backup -j"${KESTREL_JOBS:-$(nproc)}" >"$build/package-build.log" 2>&1 ||
  { cat "$build/package-build.log"; exit 1; }
rm -rf "$build/packages"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$build/packages" >"$build/cpack.log" 2>&1 ||
  { cat "$build/cpack.log"; exit 1; }
deb=$(ls "$build"/packages/kestrel-obs_*.deb)
dpkg-deb -f "$deb" Package Version Depends
echo "$deb"
