#!/usr/bin/env bash
# Runs a Windows program under Wine, in the prefix $WINEPREFIX (made by scripts/lib/wine-prefix.sh)
# or ~/.wine, without Wine's own debug output.
export WINEDEBUG=${WINEDEBUG:--all}
loader=/usr/lib/wine/wine64
[ -x "$loader" ] || loader=wine
exec "$loader" "$@"
