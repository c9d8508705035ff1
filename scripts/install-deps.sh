#!/usr/bin/env bash
# Installs every build, test and run dependency from Debian's packages, on Debian 12 and on
# sid alike. Idempotent and quiet when everything is already there.
#   scripts/install-deps.sh                what scripts/test.sh needs
#   scripts/install-deps.sh --plugin-only  building the plug-in and running its unit, obs and
#                                          end-to-end tests only (the OBS 32 root)
set -euo pipefail

plugin_only=false
[ "${1:-}" = "--plugin-only" ] && plugin_only=true

# The Qt that the system's OBS is built with (Debian 12: 5, later: 6); its widgets live in OBS's
# window, so the plug-in builds against that one.
obs_qt_packages() {
  if apt-cache depends obs-studio 2>/dev/null | grep -q 'libqt5core'; then
    echo qtbase5-dev libqt5svg5-dev
  else
    echo qt6-base-dev qt6-svg-dev
  fi
}

wanted_packages() {
  local packages=(
    # build
    cmake g++ make pkg-config git $(obs_qt_packages)
    libobs-dev libavcodec-dev libavutil-dev libswscale-dev libturbojpeg0-dev libjpeg62-turbo-dev
    libcurl4-openssl-dev libssl-dev nlohmann-json3-dev libx11-dev libxi-dev libsecret-1-dev
    # tests (the keyring ones run a Secret Service of their own)
    libgtest-dev libgmock-dev xvfb xauth x11-utils xdotool python3 python3-websockets ffmpeg
    dbus gnome-keyring
    # the Debian package (scripts/package.sh): dpkg-shlibdeps, and file to find the libraries
    dpkg-dev file
    # running the plug-in; fonts for the dock's and dialog's symbols and the Chinese and Japanese
    # texts
    obs-studio fonts-noto-core fonts-noto-cjk fonts-noto-color-emoji
  )
  if ! $plugin_only; then
    # Qt 6 builds of the Qt code, benchmarks, format, sanitizers and fuzzing (the clang runtime
    # of the default clang), the Windows build with GoogleTest's sources, libcurl's source
    # (dpkg-dev unpacks it) and Wine to run it (scripts/test-windows.sh), and the OBS 32 root
    # (scripts/obs32-root.sh)
    packages+=(qt6-base-dev qt6-svg-dev libbenchmark-dev rsync clang-format clang libclang-rt-dev
               mingw-w64 googletest dpkg-dev wine64 debootstrap)
  fi
  echo "${packages[@]}"
}

missing_packages() {
  local package
  for package in $(wanted_packages); do
    [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)" = "install ok installed" ] ||
      echo "$package"
  done | sort -u
}

[ -z "$(missing_packages)" ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
# Asked again: before the update, apt may not know which Qt OBS uses.
missing=($(missing_packages))
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
