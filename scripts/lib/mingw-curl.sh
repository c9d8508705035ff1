#!/usr/bin/env bash
# Builds libcurl for 64-bit Windows (mingw-w64, static, HTTP only, TLS through Windows' own
# Schannel) from Debian's source package of the curl this machine has, once: the result is kept
# in $KESTREL_MINGW_CURL (default ~/.cache/kestrel/mingw-curl-VERSION) and reused. Prints the
# folder to give CMake as KESTREL_MINGW_CURL.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
version=$(dpkg-query -W -f='${Version}' libcurl4-openssl-dev)
prefix=${KESTREL_MINGW_CURL:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrel/mingw-curl-$version}
if [ -f "$prefix/lib/libcurl.a" ]; then
  echo "$prefix"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Debian's source lists in a private folder, so the system's apt set-up is left as it is.
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
cat >"$work/src.sources" <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $codename-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
apt_options=(-o Dir::Etc::SourceList="$work/src.sources" -o Dir::Etc::SourceParts=/nonexistent
             -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o APT::Sandbox::User=root)
apt-get update -qq "${apt_options[@]}" >&2
(cd "$work" && apt-get source -qq "${apt_options[@]}" "curl=$version" >/dev/null 2>&1)
source_dir=$(find "$work" -maxdepth 1 -type d -name 'curl-*' | head -n 1)
[ -n "$source_dir" ] || { echo "curl $version: no source package found" >&2; exit 1; }
cmake -S "$source_dir" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
      -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DHTTP_ONLY=ON -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF \
      -DCURL_ZLIB=OFF -DCURL_USE_LIBSSH2=OFF -DUSE_LIBIDN2=OFF -DCURL_USE_LIBPSL=OFF \
      -DENABLE_UNIX_SOCKETS=OFF -DCURL_DISABLE_LDAP=ON >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log" >&2; exit 1; }
cmake --build "$work/build" -j"$(nproc)" >"$work/build.log" 2>&1 || { tail -n 50 "$work/build.log" >&2; exit 1; }
cmake --install "$work/build" >/dev/null
echo "$prefix"
