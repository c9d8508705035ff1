# Build and ctest steps shared by scripts/test.sh and scripts/test-obs32.sh; sourced, not run.
# A command prefix in `inside` (empty by default) runs every step in another root.

jobs=$(nproc)
passed=0
failed=0
status=0
failures=$(mktemp)
inside=()

# Runs ctest in a build folder and adds its counts to the totals.
run_ctest() {
  local dir=$1; shift
  local out
  out=$("${inside[@]}" ctest --test-dir "$dir" --output-on-failure --no-tests=error "$@" 2>&1)
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
  "${inside[@]}" cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_WERROR=ON "$@" >/dev/null &&
    "${inside[@]}" cmake --build "$dir" -j"$jobs" >"$dir.log" 2>&1 || { cat "$dir.log"; echo "build failed: $dir"; exit 1; }
}

# Prints what failed and the totals, and ends the script with its status.
finish() {
  echo
  if [ -s "$failures" ]; then
    echo "== What failed"
    cat "$failures"
  fi
  rm -f "$failures"
  echo "$passed passed, $failed failed"
  exit $status
}
