#!/usr/bin/env bash
# Cross-builds the updater and its tests for Windows into build-windows/, deploys the
# folder that ships (build-windows/deploy/) and runs every test under wine64, in a wine
# prefix of the build's own with the null graphics driver, so that no X server is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$(bash scripts/windows-deps.sh | tail -n 1)

cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DWINDOWS_QT_PREFIX="$prefix" -DUPDATER_WERROR=ON "$@"
cmake --build build-windows
rm -rf build-windows/deploy
cmake --install build-windows --prefix build-windows/deploy
echo "== deployed for Windows:"
ls build-windows/deploy

export WINEPREFIX="$PWD/build-windows/wineprefix" WINEARCH=win64 WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/.ready" ]; then
    rm -rf "$WINEPREFIX"
    bash scripts/wine-run.sh wineboot --init >/dev/null 2>&1
    bash scripts/wine-run.sh reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
    # The prefix is written out when its server ends.
    /usr/lib/wine/wineserver64 -w
    touch "$WINEPREFIX/.ready"
fi
status=0
ctest --test-dir build-windows --output-on-failure -j2 || status=$?
/usr/lib/wine/wineserver64 -k || true
exit "$status"
