#!/usr/bin/env bash
# Start-up checks of Ventrix_P3D.exe under Wine, in a prepared install folder:
#  - "--production" runs one preparation and ends: Log.txt with its header and
#    "Exiting:" line, parameters.xml in the Wine user's roaming folder, exit 0;
#    its Log.txt matches the Linux build's line for line (times and paths aside);
#  - a second instance returns -1 at once, with no log, while the first runs;
#  - the close button (WM_CLOSE) ends the first instance through the cycle.
# Uses the build of scripts/build-windows.sh (WIN_BUILD_DIR, default build-windows).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
source scripts/windows-env.sh
BUILD_DIR=$(cd "${WIN_BUILD_DIR:-build-windows}" && pwd)
EXE=$BUILD_DIR/src/platform/win32/Ventrix_P3D.exe
[ -f "$EXE" ] || { echo "smoke: $EXE not built (scripts/build-windows.sh)"; exit 1; }
WINEPREFIX=$BUILD_DIR/wineprefix
win_setup_unless_ready
export WINEPREFIX WINEDEBUG=-all,err+module
fail() { echo "smoke: FAILED: $*"; [ -f "${INSTALL:-}/Log.txt" ] && cat "$INSTALL/Log.txt"; exit 1; }

INSTALL=$BUILD_DIR/smoke/install
win_prepare_install "$INSTALL" "$BUILD_DIR"

# 1. production run
rc=0
(cd "$INSTALL" && win_run "$EXE" --PRODUCTION) || rc=$?
[ "$rc" -eq 0 ] || fail "--production returned $rc"
head -n1 "$INSTALL/Log.txt" | grep -q '(utc) Ventrix_P3D version [0-9.]* for Prepar3D v5/v6$' || fail "Log.txt header"
grep -q '^Exiting: USER CLOSED SIM$' "$INSTALL/Log.txt" || fail "no Exiting: line"
[ -f "$WIN_APPDATA/Ventrix_P3D/parameters.xml" ] || fail "no parameters.xml in $WIN_APPDATA/Ventrix_P3D"
echo "smoke: --production: exit 0, Log.txt header and \"$(grep '^Exiting:' "$INSTALL/Log.txt")\", parameters.xml in $(winepath -w "$WIN_APPDATA/Ventrix_P3D" 2>/dev/null)"

# The same run of the Linux build, when there is one: same lines in the same order.
LINUX_EXE=$ROOT/${BUILD_DIR_LINUX:-build}/src/core/Ventrix_P3D
if [ -x "$LINUX_EXE" ]; then
    LX=$BUILD_DIR/smoke/linux
    rm -rf "$LX"
    mkdir -p "$LX"/install/{docs,input,output,airports} "$LX/appdata" "$LX/run" "$LX/P3Dv5"
    cp -r "$INSTALL/input/." "$LX/install/input/"
    printf '[HKLM\\SOFTWARE\\Lockheed Martin\\Prepar3D v5]\nSetupPath=%s\n' "$LX/P3Dv5" >"$LX/registry.ini"
    win_write_livery "$LX/liveries"
    win_write_parameters "$LX/appdata/Ventrix_P3D" "$LX/liveries"
    (cd "$LX/install" && VNTX_REGISTRY=$LX/registry.ini XDG_CONFIG_HOME=$LX/appdata VNTX_RUNTIME_DIR=$LX/run \
        timeout 60 "$LINUX_EXE" --production >/dev/null)
    # Times, the system's own paths and path separators differ; everything else must not.
    normalise() {
        sed -E -e 's/^[A-Z][a-z]{2} [A-Z][a-z]{2} [0-9 ]{2} [0-9:]{8} [0-9]{4}/<time>/' \
               -e 's/[0-9]{2}:[0-9]{2}:[0-9]{2}/<hh:mm:ss>/g' \
               -e 's/^(.*)parameters\.xml not found/<data folder>parameters.xml not found/' \
               -e 's/^SIM_INSTALL_PATH=.*/SIM_INSTALL_PATH=<path>/' \
               -e "s/^from '.*'\$/from '<parameters>'/" \
               -e 's/^lfolder0=.*/lfolder0=<liveries>/' \
               -e 's/ found in .*/ found in <liveries>/' -e 's#\\#/#g' "$1" | tr -d '\r'
    }
    if ! diff <(normalise "$LX/install/Log.txt") <(normalise "$INSTALL/Log.txt") >"$BUILD_DIR/smoke/log.diff"; then
        cat "$BUILD_DIR/smoke/log.diff"
        fail "Log.txt differs from the Linux build's (< Linux, > Windows)"
    fi
    echo "smoke: Log.txt of the production run matches the Linux build's ($(wc -l <"$INSTALL/Log.txt") lines)"
fi

# 2. second instance while the first runs (normal mode: it waits for the simulator)
rm -f "$INSTALL"/Log*.txt
(cd "$INSTALL" && exec wine "$EXE" </dev/null >/dev/null 2>&1) &
first=$!
for _ in $(seq 1 200); do
    grep -q 'detected' "$INSTALL/Log.txt" 2>/dev/null && break
    sleep 0.1
done
grep -q 'detected' "$INSTALL/Log.txt" || fail "first instance did not start"
before=$(md5sum <"$INSTALL/Log.txt")
mkdir -p "$BUILD_DIR/smoke/second"
rc=0
(cd "$BUILD_DIR/smoke/second" && WIN_RUN_TIMEOUT=30 win_run "$EXE") || rc=$?
[ "$rc" -eq 255 ] || fail "second instance returned $rc, not -1"
[ ! -e "$BUILD_DIR/smoke/second/Log.txt" ] || fail "second instance wrote a Log.txt"
echo "smoke: second instance returned -1 (exit status $rc) without a log while the first ran"

# 3. the close button of the first instance
wine taskkill /im Ventrix_P3D.exe </dev/null >/dev/null 2>&1 || true
rc=0
for _ in $(seq 1 300); do
    kill -0 "$first" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$first" 2>/dev/null; then
    kill "$first" 2>/dev/null || true
    fail "first instance still runs 30 s after WM_CLOSE"
fi
wait "$first" || rc=$?
[ "$rc" -eq 0 ] || fail "first instance returned $rc after the close button"
grep -q "Close window button clicked, closing Ventrix_P3D ..." "$INSTALL/Log.txt" || fail "close not logged"
grep -q '^Exiting: USER CLOSED SIM$' "$INSTALL/Log.txt" || fail "no Exiting: line after close"
[ "$before" != "$(md5sum <"$INSTALL/Log.txt")" ] || fail "Log.txt unchanged by closing"
echo "smoke: close button ended the first instance with exit 0 and \"Exiting: USER CLOSED SIM\""
