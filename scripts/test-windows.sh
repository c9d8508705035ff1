#!/usr/bin/env bash
# Cross-builds the engine side for 64-bit Windows with mingw-w64 (platform layer, storage
# back-ends, backup engine, kestrel-backup.exe) warning-clean, and runs its tests under Wine in
# a prefix made for this run. libcurl for mingw is built once from Debian's source
# (scripts/lib/mingw-curl.sh) and reused. scripts/test.sh runs it after the Qt 6 build.

windows_suite() {
  local start=$SECONDS curl prefix_root
  echo "== Windows build (mingw-w64) and its tests under Wine"
  curl=$(bash scripts/lib/mingw-curl.sh) || { echo "libcurl for mingw could not be built"; status=1; return; }
  echo "(libcurl for mingw ready after $((SECONDS - start)) s)"
  # Without debug information: about a sixth less compile time.
  build build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DKESTREL_MINGW_CURL="$curl" \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG"
  echo "(build done after $((SECONDS - start)) s)"
  # Made once, before the tests, so no test pays for it; removed with its server at the end.
  prefix_root=$(mktemp -d)
  export WINEPREFIX=$prefix_root/wine WINEDEBUG=-all
  bash scripts/lib/wine-run.sh wineboot -i >/dev/null 2>&1
  echo "(Wine prefix made after $((SECONDS - start)) s)"
  run_ctest build/windows -L windows -j"$jobs"
  /usr/lib/wine/wineserver -k 2>/dev/null
  rm -rf "$prefix_root"
  unset WINEPREFIX
  echo "Windows suite took $((SECONDS - start)) s"
}
