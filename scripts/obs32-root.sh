#!/usr/bin/env bash
# A Debian sid root holding OBS Studio 32 (Qt 6), made once and reused, so the plug-in can be
# built and tested against a second OBS generation on this Debian 12 machine. Needs root.
#   scripts/obs32-root.sh create             make the root, or bring its packages up to date
#   scripts/obs32-root.sh run CMD [ARGS...]  run a command inside it (see below)
#   scripts/obs32-root.sh remove             delete it; refuses while anything is mounted in it
#   scripts/obs32-root.sh path               print where it is
# The root is $KESTREL_OBS32_ROOT, by default /var/cache/kestrel/obs32-root: outside every work
# tree, so no clean of a build folder can reach it. Packages come from the mirror this machine's
# apt uses, or from $KESTREL_OBS32_MIRROR.
#
# `run` works in mount and process namespaces of its own: /sys and /dev are bound in, /proc and
# /tmp are fresh (the machine's /tmp is never reachable from the root) and this repository is
# bound at its own path, which is the working folder. The mounts are undone when the command ends,
# whatever the outcome. Nothing started inside outlives the command: when it ends, or its runner
# is killed, the kernel kills what is left in the namespace, whose mounts go with it. Runs take a
# lock beside the root, so `remove` (or a second run) waits for them.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
root=${KESTREL_OBS32_ROOT:-/var/cache/kestrel/obs32-root}
lock="$root.lock"
apt_options=(-o Acquire::Check-Valid-Until=false -o APT::Install-Recommends=false -qq)

die() { echo "obs32-root: $*" >&2; exit 1; }

# Mount points at or below the root, as this process sees them (octal escapes left as they are).
mounts_below_root() {
  awk -v root="$root" '$5 == root || index($5, root "/") == 1 { print $5 }' /proc/self/mountinfo
}

default_mirror() {
  apt-get indextargets --format '$(REPO_URI) $(CODENAME)' 'Identifier: Packages' 2>/dev/null |
    awk '$2 !~ /-(security|updates|backports)$/ { print $1; exit }'
}

with_lock() {
  mkdir -p "$(dirname "$root")"
  exec {lock_fd}>"$lock"
  if ! flock -n "$lock_fd"; then
    echo "obs32-root: waiting for another user of $root" >&2
    flock "$lock_fd"
  fi
}

bound=()
unbind() {
  local i
  for ((i = ${#bound[@]} - 1; i >= 0; i--)); do
    umount -R "${bound[i]}" 2>/dev/null || umount -R -l "${bound[i]}" || true
  done
}

# Inside the private namespace: bind, run, unbind.
run_inside() {
  trap unbind EXIT
  local dir
  for dir in sys dev; do
    mount --rbind "/$dir" "$root/$dir"
    bound+=("$root/$dir")
  done
  mount -t proc proc "$root/proc"
  bound+=("$root/proc")
  mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
  bound+=("$root/tmp")
  mkdir -p "$root$repo"
  mount --bind "$repo" "$root$repo"
  bound+=("$root$repo")
  local status=0
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" CI="${CI:-}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c 'cd "$0" && exec "$@"' "$repo" "$@" || status=$?
  return $status
}

run() {
  [ -x "$root/bin/bash" ] || die "no root at $root: run '$0 create' first"
  [ $# -gt 0 ] || die "run: no command given"
  # unshare holds SIGTERM and SIGINT back until its child ends; a runner told to stop takes it
  # down at once, and the kernel then ends everything inside.
  unshare --mount --propagation private --pid --fork --kill-child "$0" __inside "$@" <&0 &
  local child=$! status=0
  trap 'kill -KILL "$child" 2>/dev/null' TERM INT HUP
  wait "$child" || status=$?
  return $status
}

create() {
  command -v debootstrap >/dev/null || die "debootstrap is missing (scripts/install-deps.sh installs it)"
  if [ ! -x "$root/bin/bash" ]; then
    local mirror=${KESTREL_OBS32_MIRROR:-$(default_mirror)}
    [ -n "$mirror" ] || die "no Debian mirror found in apt's sources: set KESTREL_OBS32_MIRROR"
    [ -z "$(mounts_below_root)" ] || die "something is mounted below $root"
    # A root whose making was cut short is made again from scratch.
    rm -rf --one-file-system "$root.partial"
    echo "Making a Debian sid root at $root from $mirror"
    debootstrap --variant=minbase --include=ca-certificates sid "$root.partial" "$mirror" \
      >"$root.debootstrap.log" 2>&1 || { tail -n 30 "$root.debootstrap.log"; die "debootstrap failed"; }
    # sid's Release file outlives its Valid-Until date on the registry's snapshot.
    echo 'Acquire::Check-Valid-Until "false";' >"$root.partial/etc/apt/apt.conf.d/99kestrel-snapshot"
    mv "$root.partial" "$root"
  fi
  # install-deps.sh picks its names by what sid offers; OBS needs a GL library and a machine id
  # besides what it declares.
  run bash -c "apt-get ${apt_options[*]} update &&
    DEBIAN_FRONTEND=noninteractive apt-get ${apt_options[*]} install -y dbus obs-plugins \
      libgl1 libegl-mesa0 libglx-mesa0 libgl1-mesa-dri >/dev/null &&
    dbus-uuidgen --ensure=/etc/machine-id &&
    bash scripts/install-deps.sh --plugin-only &&
    apt-get clean"
}

remove() {
  [ -e "$root" ] || [ -e "$root.partial" ] || { echo "nothing at $root"; return 0; }
  local mounted
  mounted=$(mounts_below_root)
  [ -z "$mounted" ] || die "refusing to remove $root: mounted below it:"$'\n'"$mounted"
  rm -rf --one-file-system "$root" "$root.partial" "$root.debootstrap.log"
  echo "removed $root"
}

[ "$(id -u)" -eq 0 ] || die "needs root (mounts and chroot)"
case "${1:-}" in
  create) with_lock; create ;;
  run) shift; with_lock; run "$@" ;;
  remove) with_lock; remove ;;
  path) echo "$root" ;;
  __inside) shift; run_inside "$@" ;;
  *) sed -n '2,8p' "$0"; exit 2 ;;
esac
