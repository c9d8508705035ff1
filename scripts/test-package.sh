#!/usr/bin/env bash
# The Debian package against OBS Studio 32: packages the OBS 32 build (build/obs32, made by
# scripts/test-obs32.sh inside the root of scripts/obs32-root.sh), installs the package into that
# root with apt, runs the end-to-end tests there against the installed plug-in (no per-user copy),
# and removes the package again, whatever the outcome. Nothing is installed on this machine.
# Needs root. scripts/test.sh runs it after the OBS 32 tests.
#   scripts/test-package.sh

package_suite() {
  local build=build/obs32 as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  local root=("${as_root[@]}" bash scripts/obs32-root.sh run)
  echo "== OBS 32: Debian package"
  local deb
  deb=$("${root[@]}" env KESTREL_JOBS="$jobs" bash scripts/package.sh "$build" | tail -n 1)
  case "$deb" in
    "$build"/packages/kestrel-obs_*.deb) echo "made $deb" ;;
    *) echo "the package could not be made in the OBS 32 root"; status=1; return ;;
  esac
  # apt takes a path only with a ./ or / in front.
  if ! "${root[@]}" bash -c "DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./$deb >/dev/null &&
      dpkg -L kestrel-obs | grep -E '/obs-plugins/kestrel.so$|/usr/bin/kestrel-backup$'"; then
    echo "the package did not install in the OBS 32 root"
    status=1
  else
    echo "== OBS 32: end-to-end tests against the installed package"
    inside=("${root[@]}" env KESTREL_E2E_INSTALLED_PLUGIN=1)
    run_ctest "$build" -L e2e -E '^package_contents$'
    inside=()
  fi
  "${root[@]}" bash -c "DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq kestrel-obs >/dev/null" ||
    { echo "could not remove kestrel-obs from the OBS 32 root"; status=1; }
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -uo pipefail
  cd "$(dirname "$0")/.."
  source scripts/lib/test-steps.sh
  [ -f build/obs32/CMakeCache.txt ] || { echo "no build/obs32: run scripts/test-obs32.sh first"; exit 1; }
  package_suite
  finish
fi
