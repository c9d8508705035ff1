#!/usr/bin/env bash
# Makes the Debian package from a build folder and checks what it would install: the plug-in
# beside OBS's own plug-ins, its data beside theirs, kestrel-backup on PATH, nothing else, and
# Depends computed from the libraries. The package is only unpacked into a scratch folder.
#   check-package.sh SOURCE_DIR BUILD_DIR SCRATCH_DIR
set -euo pipefail
source=$1
build=$2
scratch=$3
rm -rf "$scratch"
mkdir -p "$scratch"

fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack failed"; }
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb="$scratch/kestrel-obs_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $deb; made: $(ls "$scratch")"

# Where this machine's OBS keeps its own plug-ins and their data.
obs_plugins=$(dirname "$(ls /usr/lib/*/obs-plugins/image-source.so | head -n 1)")
obs_data=/usr/share/obs/obs-plugins
[ -d "$obs_data/image-source" ] || fail "no OBS plug-in data in $obs_data"

files=$(dpkg -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\.||' | sort)
echo "$files"
expected=$({ echo "$obs_plugins/kestrel.so" /usr/bin/kestrel-backup | tr ' ' '\n'
             (cd "$source/data" && find . -type f | sed "s|^\.|$obs_data/kestrel|"); } | sort)
[ "$files" = "$expected" ] || fail "files differ from the system layout; expected:"$'\n'"$expected"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libobs libcurl libavcodec libc6; do
  echo "$depends" | grep -q "$library" || fail "Depends names no $library package"
done
echo "$depends" | grep -Eq 'libqt(5|6)widgets' || fail "Depends names no Qt widgets package"

# The unpacked command line runs, and neither program keeps a run path into the build folder.
dpkg-deb -x "$deb" "$scratch/root"
"$scratch/root/usr/bin/kestrel-backup" --help >"$scratch/help.txt" || fail "kestrel-backup --help failed"
grep -q "Usage: kestrel-backup" "$scratch/help.txt" || fail "kestrel-backup --help printed no usage"
for program in "$obs_plugins/kestrel.so" /usr/bin/kestrel-backup; do
  ! readelf -d "$scratch/root$program" | grep -Eq 'R(UN)?PATH' || fail "$program keeps a run path"
done
echo "package ok: $(basename "$deb")"
