#!/usr/bin/env bash
# Installs every build, test and run dependency from Debian's packages. Idempotent and quiet
# when everything is already there.
set -euo pipefail

packages=(
  # build
  cmake g++ make pkg-config git
  # the Debian package (scripts/package.sh): dpkg-shlibdeps, and file to find the libraries
  dpkg-dev file
  libobs-dev qtbase5-dev libqt5svg5-dev qt6-base-dev qt6-svg-dev
  libavcodec-dev libavutil-dev libswscale-dev libturbojpeg0-dev libjpeg62-turbo-dev
  libcurl4-openssl-dev libssl-dev nlohmann-json3-dev libx11-dev libxi-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev mingw-w64 clang-format clang libclang-rt-14-dev rsync
  xvfb xauth x11-utils xdotool python3 python3-websockets ffmpeg
  # running the plug-in; the dock's and dialog's symbols and its Chinese and Japanese texts
  fonts-noto-core fonts-noto-cjk fonts-noto-color-emoji
  obs-studio
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
