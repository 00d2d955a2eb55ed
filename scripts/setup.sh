#!/usr/bin/env bash
# Installs what building and testing KestrelSync needs on Debian: the native and the
# mingw-w64 tool chains, GoogleTest, libcurl (the POSIX HTTP client), zstd (native package; for
# Windows built from Debian's source package), Wine, and the Korean locale that gives Wine the
# ANSI code page 949 and UTF-8 file names.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive

packages=(cmake make g++ libgtest-dev libgmock-dev libcurl4-openssl-dev libssl-dev openssl g++-mingw-w64-x86-64
          wine wine64 locales nginx squid python3 fonts-nanum xvfb
          libcli11-dev nlohmann-json3-dev libxml2-dev zlib1g-dev libzstd-dev dpkg-dev)
missing=()
for p in "${packages[@]}"; do
    [[ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" == *"install ok installed"* ]] || missing+=("$p")
done

# Source packages of the machine's Debian release (the Windows build's zstd is made from one).
# A source index apt already has is left as it is; otherwise one entry file of our own is added.
src_list=/etc/apt/sources.list.d/kestrelsync-deb-src.sources
need_update=""
if ! apt-cache showsrc libzstd 2>/dev/null | grep '^Package:' >/dev/null; then
    if [ ! -f "$src_list" ]; then
        codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
        keyring=/usr/share/keyrings/debian-archive-keyring.gpg
        printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' \
            "Suites: $codename $codename-updates" 'Components: main' "Signed-By: $keyring" '' \
            'Types: deb-src' 'URIs: http://deb.debian.org/debian-security' \
            "Suites: $codename-security" 'Components: main' "Signed-By: $keyring" |
            $SUDO tee "$src_list" >/dev/null
    fi
    need_update=1
fi
if [ ${#missing[@]} -gt 0 ] || [ -n "$need_update" ]; then
    $SUDO apt-get update
fi
if [ ${#missing[@]} -gt 0 ]; then
    $SUDO apt-get install -y "${missing[@]}"
fi

if ! grep -qi '^ko_KR\.utf-\?8$' <<<"$(locale -a 2>/dev/null)"; then
    $SUDO sed -i 's/^# *\(ko_KR\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ko_KR.UTF-8 UTF-8' /etc/locale.gen || echo 'ko_KR.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen
fi

"$(dirname "$0")/build-mingw-zstd.sh"
"$(dirname "$0")/wine-prefix.sh"
