#!/usr/bin/env bash
# Runs Ventrix_P3D.exe under Wine on a private Xvfb display, in a prepared
# install folder, and saves a PNG of the screen (Wine's 1280x640 desktop with
# the program's window) once the program has prepared its first cycle; then
# closes it with the close button.
#   screenshot-windows.sh [out.png]     (default build-windows/Ventrix_P3D.png)
# Uses the build of scripts/build-windows.sh (WIN_BUILD_DIR, default build-windows).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/windows-env.sh
BUILD_DIR=$(cd "${WIN_BUILD_DIR:-build-windows}" && pwd)
EXE=$BUILD_DIR/src/platform/win32/Ventrix_P3D.exe
OUT=${1:-$BUILD_DIR/Ventrix_P3D.png}
[ -f "$EXE" ] || { echo "screenshot: $EXE not built (scripts/build-windows.sh)"; exit 1; }
WINEPREFIX=$BUILD_DIR/wineprefix
win_setup_unless_ready

INSTALL=$BUILD_DIR/screenshot/install
win_prepare_install "$INSTALL" "$BUILD_DIR"
(cd "$INSTALL" && exec wine "$EXE" </dev/null >/dev/null 2>&1) &
pid=$!
# The window shows the status of the preparation; wait until the cycle has
# detected the simulator (or gave up), then give the window a moment to paint.
for _ in $(seq 1 600); do
    grep -qE 'detected|Error ' "$INSTALL/Log.txt" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
sleep "${SHOT_DELAY:-2}"
tmp=$(mktemp --suffix=.xwd)
xwd -root -silent >"$tmp"
/usr/bin/convert "xwd:$tmp" -crop "${WIN_DESKTOP}+0+0" +repage "$OUT"
rm -f "$tmp"
echo "screenshot: $OUT ($(/usr/bin/identify -format '%wx%h' "$OUT"))"
# The window painted its texts: lime (50, 205, 50) on black.
lime=$(/usr/bin/convert "$OUT" -format %c histogram:info:- | awk '/#32CD32/{sub(":", "", $1); n += $1} END{print n + 0}')
echo "screenshot: $lime lime pixels"

wine taskkill /im Ventrix_P3D.exe </dev/null >/dev/null 2>&1 || true
for _ in $(seq 1 300); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$pid" 2>/dev/null && kill "$pid" 2>/dev/null
rc=0
wait "$pid" || rc=$?
echo "screenshot: program closed with exit code $rc; its log: $INSTALL/Log.txt"
[ "$lime" -ge 2000 ] || { echo "screenshot: the window's texts are missing"; exit 1; }
