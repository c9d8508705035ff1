#!/usr/bin/env bash
# Installs what is missing, builds warning-clean and runs every test: unit tests, the headless
# libobs tests, the end-to-end test against the real obs, the Windows build with its tests under
# Wine (scripts/test-windows.sh), then the unit tests again under
# AddressSanitizer + UndefinedBehaviorSanitizer, the threaded ones under ThreadSanitizer, and the
# fuzz targets for a bounded time (scripts/fuzz.sh); last, the same build and tests against OBS 32
# (Qt 6) in a Debian sid root, the end-to-end ones against the Debian package installed there
# (scripts/test-obs32.sh).
#   scripts/test.sh            everything
#   scripts/test.sh --quick    this machine's OBS only, and no sanitizer builds
set -uo pipefail
cd "$(dirname "$0")/.."

quick=false
[ "${1:-}" = "--quick" ] && quick=true
source scripts/lib/test-steps.sh
source scripts/test-obs32.sh
source scripts/test-windows.sh

bash scripts/install-deps.sh || exit 1
suite_start=$SECONDS

echo "== Format"
if ! git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror; then
  echo "format check failed: run clang-format -i on the files above"
  status=1
fi
echo "== Build"
build build/ci
echo "== Unit tests"
run_ctest build/ci -L unit -j"$jobs"
echo "== OBS tests (headless libobs)"
run_ctest build/ci -L obs
echo "== End-to-end tests (real obs)"
run_ctest build/ci -L e2e
# This OBS uses Qt 5; the Windows builds use Qt 6, so the Qt code and its tests build with both.
echo "== Qt code and its tests against Qt 6"
cmake -S . -B build/qt6 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_WERROR=ON -DKESTREL_QT_MAJOR=6 \
      -DKESTREL_UNIT_ONLY=ON -DKESTREL_BENCH=OFF >/dev/null &&
  cmake --build build/qt6 -j"$jobs" --target kestrel_delay_switch ui_text_tests ui_language_store_tests ui_dialog_tests \
    >build/qt6.log 2>&1 || { cat build/qt6.log; echo "build failed: build/qt6"; exit 1; }
run_ctest build/qt6 -L qt -j"$jobs"
windows_suite

if ! $quick; then
  echo "== Unit tests under AddressSanitizer + UndefinedBehaviorSanitizer"
  build build/asan -DKESTREL_SANITIZE=address,undefined -DKESTREL_UNIT_ONLY=ON -DKESTREL_BENCH=OFF
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest build/asan -L unit -j"$jobs"
  if (cd build/ci && ctest -N -L threaded | grep -q 'Total Tests: [1-9]'); then
    echo "== Threaded tests under ThreadSanitizer"
    build build/tsan -DKESTREL_SANITIZE=thread -DKESTREL_UNIT_ONLY=ON -DKESTREL_BENCH=OFF
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest build/tsan -L threaded -j"$jobs"
  fi
  echo "== Fuzz targets (libFuzzer, 15 s each)"
  bash scripts/fuzz.sh 15 || status=1
fi

echo "OBS 29 suite took $((SECONDS - suite_start)) s"

if ! $quick; then
  obs32_suite
fi
finish
