#!/usr/bin/env bash
# Creates the Wine prefix once, quietly and without a screen. The DLL overrides stop Wine from
# offering to install Mono and Gecko, a dialog that would wait forever without a user.
set -euo pipefail
prefix=${WINEPREFIX:-$HOME/.wine}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
    echo "Creating the Wine prefix in $prefix ..." >&2
    timeout --kill-after=10 300 wineboot -i >/dev/null 2>&1 ||
        { echo "wineboot failed or timed out" >&2; exit 1; }
    timeout 60 wineserver -w || true
fi

# Without a screen (no X or Wayland display) Windows programs can create no window at all,
# unless the prefix uses Wine's null display driver: then windows exist but are never shown,
# which is what the tests that create the program's dialogs need. A display driver the prefix
# names already is left as it is.
graphics_set() {
    awk '/^\[/ { drivers = ($1 == "[Software\\\\Wine\\\\Drivers]") }
         drivers && /^"Graphics"=/ { found = 1 }
         END { exit !found }' "$prefix/user.reg"
}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && ! graphics_set; then
    timeout --kill-after=10 120 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
        >/dev/null 2>&1 || { echo "could not select Wine's null display driver" >&2; exit 1; }
    # The driver is chosen when the first program starts; let the running server end.
    timeout 60 wineserver -w || true
    graphics_set || { echo "the null display driver is not in $prefix/user.reg" >&2; exit 1; }
fi
