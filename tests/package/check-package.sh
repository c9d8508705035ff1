#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks what it would install: the plug-in
# beside OBS's own plug-ins, its data beside theirs, kestrel-backup on PATH, nothing else, and
# Depends computed from the libraries. The package is unpacked into a scratch folder, never
# installed on this machine.
#   check-package.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
build=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"

fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack failed"; }
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb="$scratch/kestrel-obs_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $deb; made: $(ls "$scratch")"

# Where this machine's OBS keeps its own plug-ins and their data.
obs_plugin=$(ls /usr/lib/*/obs-plugins/image-source.so | head -n 1)
obs_plugins=$(dirname "$obs_plugin")
obs_data=/usr/share/obs/obs-plugins
[ -d "$obs_data/image-source" ] || fail "no OBS plug-in data in $obs_data"

files=$(dpkg -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\.||' | sort)
echo "$files"
expected=$(printf '%s\n' "$obs_plugins/kestrel.so" "$obs_data/kestrel/locale/en-US.ini" /usr/bin/kestrel-backup | sort)
[ "$files" = "$expected" ] || fail "files differ from the system layout; expected:"$'\n'"$expected"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libobs libcurl libavcodec libc6; do
  echo "$depends" | grep -q "$library" || fail "Depends names no $library package"
done
echo "$depends" | grep -Eq 'libqt(5|6)widgets' || fail "Depends names no Qt widgets package"

# The unpacked command line runs and the plug-in carries no path of the build folder.
dpkg-deb -x "$deb" "$scratch/root"
"$scratch/root/usr/bin/kestrel-backup" --help >"$scratch/help.txt" || fail "kestrel-backup --help failed"
grep -q "kestrel-backup" "$scratch/help.txt" || fail "kestrel-backup --help printed no usage"
if readelf -d "$scratch/root$obs_plugins/kestrel.so" | grep -Eq 'R(UN)?PATH'; then
  fail "the packaged plug-in keeps a run path"
fi
echo "package ok: $(basename "$deb")"
