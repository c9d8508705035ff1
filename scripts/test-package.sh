#!/usr/bin/env bash
# The Debian package against OBS Studio 32, inside the root of scripts/obs32-root.sh: made from
# the OBS 32 build (build/obs32, by scripts/test-obs32.sh) with scripts/package.sh, its files
# checked (test label `package`), installed with apt, the end-to-end tests run against the
# installed plug-in and kestrel-backup (no per-user copy), and the package removed again
# whatever the outcome. Nothing is installed on this machine. Needs root.
#   scripts/test-package.sh    scripts/test-obs32.sh runs it as its end-to-end step

package_suite() {
  local build=build/obs32 as_root=() made deb
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  local root=("${as_root[@]}" bash scripts/obs32-root.sh run)
  echo "== OBS 32: Debian package"
  made=$("${root[@]}" env KESTREL_JOBS="$jobs" bash scripts/package.sh "$build")
  echo "$made"
  deb=$(tail -n 1 <<<"$made")
  case "$deb" in
    "$build"/packages/kestrel-obs_*.deb) ;;
    *) echo "the package could not be made in the OBS 32 root"; status=1; return ;;
  esac
  "${root[@]}" dpkg -c "$deb"
  inside=("${root[@]}")
  run_ctest "$build" -L package
  # apt takes a file only with a ./ or / in front.
  if "${root[@]}" bash -c "DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./$deb >/dev/null"; then
    echo "== OBS 32: end-to-end tests against the installed package"
    inside=("${root[@]}" env KESTREL_E2E_INSTALLED=1)
    run_ctest "$build" -L e2e
  else
    echo "the package did not install in the OBS 32 root"
    status=1
  fi
  inside=()
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
