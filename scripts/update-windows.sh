#!/usr/bin/env bash
# The whole program update of the Windows build under Wine, against the local
# HTTPS download server (tests/support/download_server.py):
#  1. a release of the build published as the next version (11.10.0 for the
#     program of 11.9.2: newer only when compared number by number) on the server;
#  2. Ventrix_P3D.exe finds it, downloads and unpacks it into
#     new_version with README.txt and the release notes, opens File Explorer
#     there and stops with NEW VERSION (exit 0);
#  3. the installer installs silently (/S) into a fresh folder, with its
#     Start-menu entry and uninstaller;
#  4. the installed program starts in production mode (the server now offers
#     the version it is: up to date; the data files it never had a version of
#     are fetched), writes its Log.txt header and ends; started normally it
#     ends on the close button (WM_CLOSE);
#  5. the uninstaller (/S) removes it, its Start-menu entry and its registry key.
# Uses the build of scripts/build-windows.sh (WIN_BUILD_DIR, default build-windows).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/windows-env.sh
BUILD_DIR=$(cd "${WIN_BUILD_DIR:-build-windows}" && pwd)
EXE=$BUILD_DIR/src/platform/win32/Ventrix_P3D.exe
[ -f "$EXE" ] || { echo "update: $EXE not built (scripts/build-windows.sh)"; exit 1; }
WINEPREFIX=$BUILD_DIR/wineprefix
win_setup_unless_ready
SERVER_PID=
finish() {
    if [ -n "$SERVER_PID" ]; then
        kill "$SERVER_PID" 2>/dev/null || true
        wait "$SERVER_PID" 2>/dev/null || true
    fi
    [ "${WIN_ENV_READY:-0}" = 1 ] || win_shutdown
}
trap finish EXIT
export WINEPREFIX WINEDEBUG=-all,err+module
WORK=$BUILD_DIR/update-e2e
rm -rf "$WORK"
mkdir -p "$WORK"
fail() {
    echo "update: FAILED: $*"
    for f in "${INSTALL:-}/Log.txt" "${INSTALLED:-}/Log.txt"; do
        [ -f "$f" ] && { echo "--- $f"; cat "$f"; }
    done
    exit 1
}
t0=$SECONDS
stamp() { echo "update: $1 ($((SECONDS - t0)) s)"; }

# 1. The release and the server.
RUNNING=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")
IFS=. read -r major minor patch <<<"$RUNNING"
NEW=$major.$((minor + 1)).0
RELEASE_VERSION=$NEW RELEASE_DIR=$WORK/release WIN_BUILD_DIR=$BUILD_DIR WIN_ENV_READY=1 scripts/release.sh >"$WORK/release.log" 2>&1 ||
    { cat "$WORK/release.log"; fail "scripts/release.sh"; }
SETUP=$WORK/release/setup_Ventrix_P3D_d_v$NEW.exe
python3 tests/support/download_server.py --tree "$WORK/release/server" --ready-file "$WORK/server.env" \
    </dev/null >"$WORK/server.log" 2>&1 &
SERVER_PID=$!
for _ in $(seq 1 300); do
    [ -f "$WORK/server.env" ] && break
    kill -0 "$SERVER_PID" 2>/dev/null || { cat "$WORK/server.log"; fail "the download server did not start"; }
    sleep 0.1
done
[ -f "$WORK/server.env" ] || fail "the download server did not start"
while IFS='=' read -r k v; do export "$k=$v"; done <"$WORK/server.env"
stamp "release $NEW on $VNTX_DOWNLOAD_BASE"

# 2. The program of this build finds it and stops for it.
INSTALL=$WORK/install
win_prepare_install "$INSTALL" "$BUILD_DIR"
rc=0
(cd "$INSTALL" && win_run "$EXE" --production >/dev/null 2>&1) || rc=$?
[ "$rc" -eq 0 ] || fail "the program returned $rc"
grep -q "^Ventrix_P3D program version at web = $NEW\$" "$INSTALL/Log.txt" || fail "the new version was not found"
grep -q '^Exiting: NEW VERSION$' "$INSTALL/Log.txt" || fail "no \"Exiting: NEW VERSION\""
NV=$INSTALL/new_version
cmp -s "$SETUP" "$NV/install_new_version.exe" || fail "new_version/install_new_version.exe is not the released installer"
printf 'A new version is available.\nThe installer can be executed normally (no Administrator rights required).' |
    cmp -s - "$NV/README.txt" || fail "README.txt: $(cat "$NV/README.txt" 2>/dev/null)"
cmp -s "$WORK/release/stage/docs/ReleaseNotes.pdf" "$NV/ReleaseNotes.pdf" || fail "ReleaseNotes.pdf"
ls "$INSTALL" | grep -q '^setup_' && fail "the archive or the unpacked installer stayed: $(ls "$INSTALL")"
if grep -q "Opening file explorer at the new version failed" "$INSTALL/Log.txt"; then
    explorer="File Explorer did not open"
else
    explorer="File Explorer opened at new_version"
fi
stamp "$RUNNING found $NEW and stopped with NEW VERSION: new_version holds install_new_version.exe, README.txt, ReleaseNotes.pdf; $explorer"

# 3. The installer, silently, into a fresh folder.
INSTALLED=$WORK/installed
WIN_INSTALLED=$(winepath -w "$INSTALLED")
rc=0
(cd "$NV" && win_run "$NV/install_new_version.exe" /S "/D=$WIN_INSTALLED" >/dev/null 2>&1) || rc=$?
[ "$rc" -eq 0 ] || fail "the installer returned $rc"
for f in Ventrix_P3D.exe uninstall.exe input/dbase.enc input/airports.enc input/AIG-regcodes.enc docs/README.txt \
         docs/ReleaseNotes.pdf docs/licenses/DATA-SOURCES.md docs/licenses/CC0-1.0.txt docs/licenses/GPL-2.txt; do
    [ -f "$INSTALLED/$f" ] || fail "not installed: $f"
done
cmp -s "$EXE" "$INSTALLED/Ventrix_P3D.exe" || fail "the installed program is not the build's"
MENU="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Ventrix_P3D"
[ -f "$MENU/Ventrix_P3D.lnk" ] || fail "no Start-menu entry in $MENU"
UNINST_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ventrix_P3D'
wine reg query "$UNINST_KEY" /v DisplayVersion </dev/null 2>/dev/null | grep -q "$NEW" || fail "no uninstall key"
stamp "installed silently into $WIN_INSTALLED with its Start-menu entry and uninstall key"

# 4. The installed program: the server now offers the version it is.
python3 - "$VNTX_DOWNLOAD_ROOT/downloads/versions.json" "$major" "$minor" "$patch" <<'PY'
import json, sys
p = sys.argv[1]
v = json.load(open(p))
v["p3d"] = dict(zip(("major", "minor", "patch"), map(int, sys.argv[2:5])))
json.dump(v, open(p, "w"))
PY
rc=0
(cd "$INSTALLED" && win_run "$INSTALLED/Ventrix_P3D.exe" --production >/dev/null 2>&1) || rc=$?
[ "$rc" -eq 0 ] || fail "the installed program's production run returned $rc"
head -n1 "$INSTALLED/Log.txt" | grep -q '(utc) Ventrix_P3D version [0-9.]* for Prepar3D v5/v6' || fail "Log.txt header"
grep -q '^Ventrix_P3D version up-to-date' "$INSTALLED/Log.txt" || fail "not up to date"
grep -q '^dbase updated to 1.0.0' "$INSTALLED/Log.txt" || fail "the data files were not fetched"
grep -q '^Exiting: USER CLOSED SIM' "$INSTALLED/Log.txt" || fail "production run did not end"
stamp "installed program: production run up to date, Log.txt header, exit 0"

# The server's "addons" version switched the airport scan on: give it an
# (empty) add-on folder, as a user's would be, so that it scans and goes on.
mkdir -p "$WORK/addons"
sed -i "s|</parameters>|  <parameter name=\"afolder0\" value=\"$(winepath -w "$WORK/addons" 2>/dev/null | sed 's/\\/\\\\/g')\" />\n</parameters>|" \
    "$WIN_APPDATA/Ventrix_P3D/parameters.xml"
(cd "$INSTALLED" && exec wine "$INSTALLED/Ventrix_P3D.exe" </dev/null >/dev/null 2>&1) &
prog=$!
for _ in $(seq 1 300); do
    grep -q 'detected' "$INSTALLED/Log.txt" 2>/dev/null && grep -q 'RealTraffic' "$INSTALLED/Log.txt" && break
    sleep 0.1
done
grep -q 'detected' "$INSTALLED/Log.txt" || { kill "$prog" 2>/dev/null || true; fail "the installed program did not start"; }
wine taskkill /im Ventrix_P3D.exe </dev/null >/dev/null 2>&1 || true
for _ in $(seq 1 300); do
    kill -0 "$prog" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$prog" 2>/dev/null; then
    kill "$prog" 2>/dev/null || true
    fail "the installed program still runs 30 s after WM_CLOSE"
fi
rc=0
wait "$prog" || rc=$?
[ "$rc" -eq 0 ] || fail "the installed program returned $rc after WM_CLOSE"
grep -q 'Close window button clicked, closing Ventrix_P3D ...' "$INSTALLED/Log.txt" || fail "close not logged"
grep -q '^Exiting: USER CLOSED SIM' "$INSTALLED/Log.txt" || fail "no Exiting: line after the close"
stamp "installed program: normal start ended by WM_CLOSE with exit 0"

# 5. The uninstaller runs a copy of itself from the temporary folder, so its
# own process ends at once: wait for the folder to go.
rc=0
(cd "$WORK" && win_run "$INSTALLED/uninstall.exe" /S >/dev/null 2>&1) || rc=$?
[ "$rc" -eq 0 ] || fail "the uninstaller returned $rc"
for _ in $(seq 1 600); do
    [ -e "$INSTALLED" ] || break
    sleep 0.1
done
[ ! -e "$INSTALLED" ] || fail "left after uninstalling: $(cd "$INSTALLED" && find . | sort | tr '\n' ' ')"
[ ! -e "$MENU" ] || fail "the Start-menu entry stayed"
wine reg query "$UNINST_KEY" </dev/null >/dev/null 2>&1 && fail "the uninstall key stayed"
stamp "uninstalled: folder, Start-menu entry and uninstall key gone"
