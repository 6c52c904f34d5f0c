#!/usr/bin/env bash
# Cross-builds the Windows program and its tests with mingw-w64, checks that
# every .exe imports only system DLLs, and runs the unit tests under Wine.
#   WIN_BUILD_DIR   build folder (default build-windows)
#   WIN_SKIP_TESTS  set to 1 to build and check only
#   VNTX_SKIP_LIVE  set to 1 to skip the live run under Wine (scripts/live-windows.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
source scripts/windows-env.sh
BUILD_DIR=${WIN_BUILD_DIR:-build-windows}
mkdir -p "$BUILD_DIR"
BUILD_DIR=$(cd "$BUILD_DIR" && pwd)
WINEPREFIX=$BUILD_DIR/wineprefix
t0=$SECONDS
stamp() { echo "windows: $1 ($((SECONDS - t0)) s)"; }

win_install_packages
WINDEPS=${VNTX_WINDEPS:-$(scripts/windeps.sh | tail -n1)}  # VNTX_WINDEPS: a prefix of your own
stamp "dependencies in $WINDEPS"

trap win_shutdown EXIT
win_start_xvfb
win_prepare_prefix
win_warm_up
stamp "Wine prefix ready on display $DISPLAY"

# A new dependency prefix: configure afresh, so no library found in the old one stays cached.
if [ ! -f "$BUILD_DIR/build.ninja" ] || ! grep -q "VNTX_WINDEPS:PATH=$WINDEPS\$" "$BUILD_DIR/CMakeCache.txt"; then
    cmake --fresh -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" -DVNTX_WINDEPS="$WINDEPS" \
        -DVNTX_WINEPREFIX="$WINEPREFIX" -DVNTX_BUILD_BENCH=OFF -DCMAKE_EXE_LINKER_FLAGS=-static >/dev/null
fi
cmake --build "$BUILD_DIR" -j2
stamp "cross build done"

# Import check: a DLL that Windows does not ship would have to be installed
# beside the program. Only these may be imported.
SYSTEM_DLLS="kernel32 user32 gdi32 advapi32 shell32 ole32 oleaut32 ws2_32 winmm msvcrt bcrypt crypt32 secur32
comctl32 comdlg32 shlwapi iphlpapi normaliz wldap32 uxtheme version"
bad=0
mapfile -t exes < <(find "$BUILD_DIR" -name '*.exe' -not -path "$WINEPREFIX/*" -not -path '*/CMakeFiles/*' | sort)
[ ${#exes[@]} -gt 0 ] || { echo "windows: no .exe was built"; exit 1; }
for exe in "${exes[@]}"; do
    while read -r dll; do
        base=$(echo "${dll%.dll}" | tr 'A-Z' 'a-z')
        if [[ " ${SYSTEM_DLLS//$'\n'/ } " != *" $base "* ]] && [[ $base != api-ms-win-* ]]; then
            echo "windows: $(basename "$exe") imports $dll, which is not a system DLL"
            bad=1
        fi
    done < <(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/{print $3}')
done
[ "$bad" -eq 0 ] || exit 1
echo "windows: import check passed for ${#exes[@]} programs (system DLLs only)"
if [ -f "$BUILD_DIR/src/platform/win32/Ventrix_P3D.exe" ]; then
    x86_64-w64-mingw32-objdump -p "$BUILD_DIR/src/platform/win32/Ventrix_P3D.exe" |
        awk '/DLL Name:/{printf "%s ", $3} /Subsystem/{sub_=$0} END{print ""; print sub_}'
fi

# The installer, the release archive and the server tree of this version.
WIN_BUILD_DIR=$BUILD_DIR WIN_ENV_READY=1 scripts/release.sh
stamp "release made in $BUILD_DIR/release"

if [ "${WIN_SKIP_TESTS:-0}" != 1 ]; then
    log=$BUILD_DIR/ctest-wine.log
    rc=0
    # A test whose process hangs at its exit under Wine (seen now and then on
    # the window tests, after they passed) is run once more; one that fails
    # twice fails.
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 --timeout 120 --repeat until-pass:2 >"$log" 2>&1 || rc=$?
    grep -E "tests passed|tests failed|\*\*\*|Failed|Not Run" "$log" || true
    if [ "$rc" -ne 0 ]; then
        cat "$log"
        exit "$rc"
    fi
    ran=$(sed -nE 's/.*tests passed, [0-9]+ tests failed out of ([0-9]+).*/\1/p' "$log" | tail -n1)
    stamp "Windows unit tests under Wine: ${ran:-0} ran, all passed"
    if [ -x scripts/smoke-windows.sh ] && [ -f "$BUILD_DIR/src/platform/win32/Ventrix_P3D.exe" ]; then
        WIN_BUILD_DIR=$BUILD_DIR WIN_ENV_READY=1 scripts/smoke-windows.sh
        stamp "Ventrix_P3D.exe start-up checks under Wine passed"
        WIN_BUILD_DIR=$BUILD_DIR WIN_ENV_READY=1 scripts/screenshot-windows.sh "$BUILD_DIR/Ventrix_P3D.png"
        stamp "screenshot of the main window: $BUILD_DIR/Ventrix_P3D.png"
        # The main job under Wine, beside the Linux build (VNTX_SKIP_LIVE=1 skips it).
        if [ "${VNTX_SKIP_LIVE:-0}" != 1 ]; then
            WIN_BUILD_DIR=$BUILD_DIR WIN_ENV_READY=1 scripts/live-windows.sh
            stamp "live traffic under Wine as on Linux"
        fi
    fi
    if [ -x scripts/update-windows.sh ] && [ -f "$BUILD_DIR/src/platform/win32/Ventrix_P3D.exe" ]; then
        WIN_BUILD_DIR=$BUILD_DIR WIN_ENV_READY=1 scripts/update-windows.sh
        stamp "update under Wine: found, unpacked, installed, started, closed, uninstalled"
    fi
fi
