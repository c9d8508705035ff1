#!/usr/bin/env bash
# Runs a Windows program under Wine (Debian's wine64 loader), in the prefix $WINEPREFIX
# (scripts/test-windows.sh makes one per run) or ~/.wine, without Wine's own debug output.
export WINEDEBUG=${WINEDEBUG:--all}
exec /usr/lib/wine/wine64 "$@"
