#!/bin/sh
# Installs oauth2-mock-server from npm into $1 for the browser sign-in test. Offline or without
# npm nothing is installed and the test skips, saying why.
dir=$1
script_dir=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$dir"
cp "$script_dir/serve.mjs" "$dir/serve.mjs"
[ -f "$dir/node_modules/oauth2-mock-server/package.json" ] && exit 0
if ! command -v npm >/dev/null 2>&1; then
  echo "npm not found: the browser sign-in test will skip"
  exit 0
fi
timeout 180 npm install --prefix "$dir" --no-audit --no-fund --silent --no-save oauth2-mock-server@9.3.0 \
  || echo "npm could not install oauth2-mock-server: the browser sign-in test will skip"
exit 0
