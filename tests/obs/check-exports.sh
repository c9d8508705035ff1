#!/usr/bin/env bash
# The plug-in must export the eight module functions and nothing else.
set -euo pipefail
expected="obs_module_description
obs_module_free_locale
obs_module_get_string
obs_module_load
obs_module_set_locale
obs_module_set_pointer
obs_module_unload
obs_module_ver"
actual=$(nm -D --defined-only "$1" | awk '{print $3}' | sort)
if [ "$actual" != "$expected" ]; then
  echo "unexpected exports:"; diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "exports ok"
