#!/usr/bin/env bash
# Runs a Windows program under wine64 in the prefix that WINEPREFIX names (a fresh one of
# the Windows build's own, made by scripts/test-windows.sh), without any window system.
set -euo pipefail
export WINEDEBUG="${WINEDEBUG:--all}"
exec /usr/lib/wine/wine64 "$@"
