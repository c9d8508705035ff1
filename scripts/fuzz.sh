#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang in build/fuzz and runs each for a bounded
# time (default 15 s), starting from the seeds in tests/fuzz/seeds. Prints each target's
# executions; exits non-zero when a target finds a fault (the crashing input is kept in
# build/fuzz/findings). Skips with a message when clang is missing.
#   scripts/fuzz.sh [seconds per target]
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-15}
targets=(manifest history settings scene path-remap ini sign-in service-answers)
if ! command -v clang++ >/dev/null; then
  echo "fuzzing skipped: clang++ is not installed (scripts/install-deps.sh adds it)"
  exit 0
fi

cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_WERROR=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKESTREL_FUZZ=ON -DKESTREL_UNIT_ONLY=ON \
  -DKESTREL_BENCH=OFF -DKESTREL_SANITIZE=address,undefined,fuzzer-no-link >/dev/null &&
  cmake --build build/fuzz -j"$(nproc)" --target fuzz-targets >build/fuzz.log 2>&1 ||
  { cat build/fuzz.log; echo "fuzz build failed"; exit 1; }

status=0
mkdir -p build/fuzz/findings
for target in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  cp tests/fuzz/seeds/"$target".* "$corpus"/ 2>/dev/null
  log=build/fuzz/$target.log
  build/fuzz/tests/fuzz/fuzz-"$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build/fuzz/findings/"$target"- \
    "$corpus" >"$log" 2>&1
  rc=$?
  runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
  if [ $rc -eq 0 ]; then
    echo "fuzz-$target: ${runs:-?} executions, no findings"
  else
    echo "fuzz-$target: FAULT after ${runs:-?} executions (exit $rc):"
    grep -E 'ERROR|broken promise|SUMMARY|artifact' "$log" | head -n 10
    status=1
  fi
done
exit $status
