#!/bin/sh
# Runs a command inside a D-Bus session of its own with gnome-keyring-daemon serving the Secret
# Service from a throwaway home, unlocked with a throwaway password. Without those programs the
# command runs as it is (its keyring tests skip).
#   tests/platform/with-private-keyring.sh COMMAND [ARGS...]
set -eu
if ! command -v dbus-run-session >/dev/null || ! command -v gnome-keyring-daemon >/dev/null; then
  exec "$@"
fi
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run" KESTREL_PRIVATE_KEYRING=1
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
dbus-run-session -- sh -c '
  printf throwaway | gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1
  exec "$@"' sh "$@"
