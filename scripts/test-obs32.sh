#!/usr/bin/env bash
# Builds and tests the plug-in against OBS Studio 32 (Qt 6) in a Debian sid root
# (scripts/obs32-root.sh; made on first use, reused after): a warning-clean build, installed as
# a user plug-in of the root's OBS, the unit and headless libobs tests there, then the Debian
# package installed in the root and the end-to-end tests against it (scripts/test-package.sh).
# Needs root. scripts/test.sh runs it after the tests against this machine's OBS.
#   scripts/test-obs32.sh    the build folder is build/obs32

source "$(dirname "${BASH_SOURCE[0]}")/test-package.sh"

obs32_suite() {
  local start=$SECONDS lap=$SECONDS as_root=()
  # The time of each part, for the CI log.
  took() { echo "($1 took $((SECONDS - lap)) s)"; lap=$SECONDS; }
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  echo "== OBS 32 (Qt 6) root"
  "${as_root[@]}" bash scripts/obs32-root.sh create || { echo "the OBS 32 root could not be made"; status=1; return; }
  took "root"
  inside=("${as_root[@]}" bash scripts/obs32-root.sh run)
  echo "== OBS 32: build"
  "${inside[@]}" obs --version
  build build/obs32 -DKESTREL_BENCH=OFF
  # What a user of that OBS does: the plug-in in their own plug-in folder.
  "${inside[@]}" cmake --install build/obs32 --component plugin \
    --prefix /root/.config/obs-studio/plugins/kestrel >/dev/null
  took "build"
  echo "== OBS 32: unit tests"
  run_ctest build/obs32 -L unit -j"$jobs"
  took "unit tests"
  echo "== OBS 32: OBS tests (headless libobs)"
  run_ctest build/obs32 -L obs
  took "OBS tests"
  inside=()
  package_suite
  took "package and end-to-end tests"
  echo "OBS 32 root, build and tests took $((SECONDS - start)) s"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -uo pipefail
  cd "$(dirname "$0")/.."
  source scripts/lib/test-steps.sh
  bash scripts/install-deps.sh || exit 1
  obs32_suite
  finish
fi
