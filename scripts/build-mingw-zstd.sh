#!/usr/bin/env bash
# Builds zstd for the Windows build: a static library made with the mingw-w64 compiler from
# Debian's own source package (the version the native build links), installed with its headers
# into a prefix the Windows CMake preset searches (KS_MINGW_DEPS_PREFIX in
# cmake/mingw-w64-x86_64.cmake). Does nothing when the prefix has the library already.
# The sources are kept in build/deps/; needs a deb-src entry in apt's sources (scripts/setup.sh).
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi

root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${KS_MINGW_DEPS_PREFIX:-/usr/local/x86_64-w64-mingw32}
cache=$root/build/deps/zstd
if [ -f "$prefix/lib/libzstd.a" ] && [ -f "$prefix/include/zstd.h" ]; then
    exit 0
fi

mkdir -p "$cache"
cd "$cache"
src=$(find . -maxdepth 1 -type d -name 'libzstd-*' | head -n 1)
if [ -z "$src" ]; then
    # The newest sources apt knows (the security archive's, if any), else the release's own.
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    apt-get source --download-only libzstd >/dev/null 2>&1 ||
        apt-get source --download-only "libzstd/$codename" >/dev/null
    dpkg-source -x ./*.dsc >/dev/null
    src=$(find . -maxdepth 1 -type d -name 'libzstd-*' | head -n 1)
fi
[ -n "$src" ] || { echo "no libzstd sources in $cache" >&2; exit 1; }

# Single-threaded (the static library's default in zstd's Makefile): the program decodes on
# its own threads and needs no worker pool. Neither the dictionary builder nor the decoders of
# the formats before zstd 0.8 are needed.
make -C "$src/lib" clean >/dev/null
make -C "$src/lib" -j2 libzstd.a CC=x86_64-w64-mingw32-gcc AR=x86_64-w64-mingw32-ar \
    ZSTD_LIB_DICTBUILDER=0 ZSTD_LEGACY_SUPPORT=0 >/dev/null
$SUDO install -d "$prefix/lib" "$prefix/include"
$SUDO install -m 644 "$src/lib/zstd.h" "$src/lib/zstd_errors.h" "$prefix/include/"
$SUDO install -m 644 "$src/lib/libzstd.a" "$prefix/lib/"
echo "zstd for mingw-w64 installed in $prefix" >&2
