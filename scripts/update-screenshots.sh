#!/usr/bin/env bash
# Takes the README's pictures with the end-to-end tests against this machine's OBS (a fresh OBS
# home, the plug-in as built) and copies them into docs/images.
#   scripts/update-screenshots.sh [BUILD_DIR]    default build/screenshots
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/screenshots}
case "$build" in -h|--help) sed -n '2,4p' "$0"; exit 0 ;; esac

bash scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_BENCH=OFF >/dev/null
cmake --build "$build" --target kestrel kestrel-backup -j"${KESTREL_JOBS:-$(nproc)}"
shots="$build/tests/e2e/screenshots"
rm -f "$shots"/*.png
(cd "$build" && ctest -R '^e2e_(backup_menu|dock_first_start)$' --output-on-failure)
mkdir -p docs/images
for picture in obs-main-window.png backup-dialog.png; do
  cp "$shots/$picture" docs/images/
  echo "docs/images/$picture"
done
