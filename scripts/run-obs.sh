#!/usr/bin/env bash
# Builds Kestrel, installs it as an OBS user plug-in and starts OBS.
#   scripts/run-obs.sh          install into your own OBS (~/.config/obs-studio/plugins/kestrel)
#   scripts/run-obs.sh --demo   use a throwaway OBS home (.demo/home) with a scene that already
#                               carries the filters; runs under Xvfb when there is no display
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

demo=false
for arg in "$@"; do
  case "$arg" in
    --demo) demo=true ;;
    -h|--help) sed -n '2,6p' "$0"; exit 0 ;;
    *) echo "unknown option: $arg" >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF -DKESTREL_BENCH=OFF >/dev/null
cmake --build build/release --target kestrel -j"$(nproc)"

home="$HOME"
if $demo; then
  home="$repo/.demo/home"
  /usr/bin/python3 scripts/make-demo-home.py "$home"
fi
plugin_dir="$home/.config/obs-studio/plugins/kestrel"
cmake --install build/release --component plugin --prefix "$plugin_dir" >/dev/null
echo "Installed $plugin_dir/bin/64bit/kestrel.so"

obs_args=(--disable-shutdown-check --multi)
export HOME="$home"
unset XDG_CONFIG_HOME
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # Xvfb runs in its own session so Ctrl+C reaches OBS alone and OBS can shut down cleanly
  # before the display goes away.
  exec {display_fd}<> <(:)
  setsid Xvfb -displayfd "$display_fd" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill "$xvfb_pid" 2>/dev/null' EXIT
  read -r -u "$display_fd" display_number
  export DISPLAY=":$display_number"
  echo "No display: OBS runs under Xvfb on $DISPLAY (logs in $home/.config/obs-studio/logs). Ctrl+C ends it."
fi
obs "${obs_args[@]}"
