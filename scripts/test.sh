#!/usr/bin/env bash
# Installs what is missing, builds warning-clean and runs every test: unit tests, the headless
# libobs tests, the end-to-end test against the real obs, then the unit tests again under
# AddressSanitizer + UndefinedBehaviorSanitizer, the threaded ones under ThreadSanitizer, and the
# fuzz targets for a bounded time (scripts/fuzz.sh).
#   scripts/test.sh            everything
#   scripts/test.sh --quick    the plain build's tests only (no sanitizer builds)
set -uo pipefail
cd "$(dirname "$0")/.."

quick=false
[ "${1:-}" = "--quick" ] && quick=true
jobs=$(nproc)
passed=0
failed=0
status=0
failures=$(mktemp)

bash scripts/install-deps.sh || exit 1

# Runs ctest in a build folder and adds its counts to the totals.
run_ctest() {
  local dir=$1; shift
  local out
  out=$(cd "$dir" && ctest --output-on-failure --no-tests=error "$@" 2>&1)
  local rc=$?
  echo "$out" | grep -v -E '^(debug|info): ' | tail -n 60
  local line total fails
  line=$(echo "$out" | grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' | tail -n 1)
  if [ -n "$line" ]; then
    fails=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
    total=$(echo "$line" | sed -E 's/.* out of ([0-9]+).*/\1/')
    passed=$((passed + total - fails))
    failed=$((failed + fails))
  fi
  if [ $rc -ne 0 ]; then
    status=1
    # The failing cases and their messages, repeated at the end where a short log still shows them.
    echo "$out" | grep -E -A6 '^\[  FAILED  \]|: Failure$|ERROR: .*Sanitizer|WARNING: ThreadSanitizer|\*\*\*(Failed|Timeout|Exception)' |
      grep -v -E '^(debug|info): ' | head -n 120 >>"$failures"
  fi
}

build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_WERROR=ON "$@" >/dev/null &&
    cmake --build "$dir" -j"$jobs" >"$dir.log" 2>&1 || { cat "$dir.log"; echo "build failed: $dir"; exit 1; }
}

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

echo
if [ -s "$failures" ]; then
  echo "== What failed"
  cat "$failures"
fi
rm -f "$failures"
echo "$passed passed, $failed failed"
exit $status
