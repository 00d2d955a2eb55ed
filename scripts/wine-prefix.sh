#!/usr/bin/env bash
# Creates the Wine prefix once, quietly and without a screen. The DLL overrides stop Wine from
# offering to install Mono and Gecko, a dialog that would wait forever without a user.
set -euo pipefail
prefix=${WINEPREFIX:-$HOME/.wine}
[ -f "$prefix/system.reg" ] && exit 0
echo "Creating the Wine prefix in $prefix ..." >&2
WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" timeout --kill-after=10 300 wineboot -i \
    >/dev/null 2>&1 || { echo "wineboot failed or timed out" >&2; exit 1; }
timeout 60 wineserver -w || true
