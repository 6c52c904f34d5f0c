#!/usr/bin/env bash
# The main job with the Windows build: live traffic end to end under Wine, laid
# beside a Linux run of the same recording and settings.
#  1. the Linux build (tests/support/live_run.py), at the same time as
#  2. Ventrix_P3D.exe and simhost.exe under Wine over the simulator's named pipe,
#     with a screenshot of the window halfway;
#  3. the same over TCP (SimConnect.cfg asks for IPv4), with the roaming
#     application-data folder below a user name beyond ASCII, so that every
#     flight plan path holds such letters;
#  4. simhost.exe ended mid-run (taskkill /f), over the pipe and over TCP: the
#     cycle must end with SIM WAS CLOSED.
# rtfeed, livgen and trace_fidelity of the Linux build play RealTraffic and
# measure. tests/support/compare_runs.py checks that the runs did the same.
#   WIN_BUILD_DIR      the Windows build (default build-windows)
#   BUILD_DIR_LINUX    the Linux build (default build; built when missing)
#   LIVE_SECONDS       recording window (default 60 s), LIVE_TAIL (default 40 s)
#   WIN_ENV_READY=1    Xvfb, DISPLAY and the Wine prefix are already set up
# The Hong Kong arrivals from ../shared when present (flight plans need their
# origins and destinations); otherwise the Monterey recording that ships in data/.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
source scripts/windows-env.sh
BUILD_DIR=$(cd "${WIN_BUILD_DIR:-build-windows}" && pwd)
LINUX=$ROOT/${BUILD_DIR_LINUX:-build}
EXE=$BUILD_DIR/src/platform/win32/Ventrix_P3D.exe
SIMHOST=$BUILD_DIR/tools/simhost/simhost.exe
for f in "$EXE" "$SIMHOST"; do
    [ -f "$f" ] || { echo "live-windows: $f not built (scripts/build-windows.sh)"; exit 1; }
done
# The Linux side: the program for the reference run, the stand-in for RealTraffic, the measuring tools.
if [ ! -f "$LINUX/build.ninja" ]; then
    cmake -S "$ROOT" -B "$LINUX" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$LINUX" --target Ventrix_P3D simhost rtfeed livgen trace_fidelity >/dev/null
WINEPREFIX=$BUILD_DIR/wineprefix
win_setup_unless_ready
export WINEPREFIX WINEDEBUG=-all,err+module WIN_DESKTOP

OUT=$BUILD_DIR/live
rm -rf "$OUT"
mkdir -p "$OUT"
SHARED=${VNTX_SHARED_DIR:-$ROOT/../shared}
SECONDS_=${LIVE_SECONDS:-60}
TAIL=${LIVE_TAIL:-40}
REC=$SHARED/data/traffic/vhhh_arrivals_2018-05-01_fr24.csv
if [ -f "$REC" ]; then
    # 09:41 UTC: one of the busiest minutes, about 15 arrivals airborne within 40 nm.
    common=(--recording "$REC" --start 34860 --densify 5 --recording-liveries --user 22.308,113.918,70)
    for f in vrs_standing_data_aircraft.csv dump1090_mutability_aircraft_db.csv; do
        [ -f "$SHARED/data/registrations/$f" ] && common+=(--regdb "$SHARED/data/registrations/$f")
    done
    echo "live-windows: the Hong Kong arrivals, ${SECONDS_} s and ${TAIL} s for the last reports to fall due"
else
    # Reports filled in to 5 s, so that the figures rest on more than a handful.
    common=(--recording "$ROOT/data/traffic/monterey_bay_2025-06-01_hour.rtrec" --start 600 --densify 5 --user 36.587,-121.843,257)
    echo "live-windows: $SHARED absent: the Monterey recording (no flight plans: it has no origins), ${SECONDS_} s"
fi
# The same settings everywhere: RANDOM off, so that every run picks the same livery.
common+=(--seconds "$SECONDS_" --tail "$TAIL" --rtfeed "$LINUX/tools/rtfeed/rtfeed" --livgen "$LINUX/tools/livgen/livgen"
         --fidelity "$LINUX/tools/fidelity/trace_fidelity" --set RANDOM=false)
wine_args=(--exe "$EXE" --simhost "$SIMHOST" --input "$BUILD_DIR/input")
rc=0
t0=$SECONDS
# The load average goes with every step: the timing figures follow it.
stamp() { echo "live-windows: $1 ($((SECONDS - t0)) s, load average $(cut -d' ' -f1-3 /proc/loadavg))"; }

# The two programs side by side: each has its own simulator, feed, ports and
# folders, and neither needs much of a core.
python3 tests/support/live_run.py --exe "$LINUX/src/core/Ventrix_P3D" --simhost "$LINUX/tools/simhost/simhost" \
    "${common[@]}" --out "$OUT/linux" >"$OUT/linux.txt" 2>&1 &
linux_run=$!
python3 tests/support/live_run_wine.py "${wine_args[@]}" "${common[@]}" --transport pipe \
    --screenshot "$OUT/window_halfway.png" --out "$OUT/wine-pipe" >"$OUT/wine-pipe.txt" 2>&1 || rc=1
wait "$linux_run" || rc=1
stamp "Linux run and Wine run over the named pipe done"
python3 tests/support/live_run_wine.py "${wine_args[@]}" "${common[@]}" --transport tcp \
    --appdata-user "Jürgen Ødegård" --out "$OUT/wine-tcp" >"$OUT/wine-tcp.txt" 2>&1 || rc=1
stamp "Wine run over TCP done"
for t in pipe tcp; do
    python3 tests/support/live_run_wine.py "${wine_args[@]}" "${common[@]}" --transport $t --kill-simhost-after 5 \
        --out "$OUT/kill-$t" >"$OUT/kill-$t.txt" 2>&1 || rc=1
done
stamp "simhost.exe ended mid-run, over the pipe and over TCP"

for r in linux wine-pipe wine-tcp kill-pipe kill-tcp; do
    echo "--- $r"
    cat "$OUT/$r.txt"
done
echo "--- Linux and Wine side by side"
python3 tests/support/compare_runs.py linux="$OUT/linux" wine-pipe="$OUT/wine-pipe" wine-tcp="$OUT/wine-tcp" || rc=1
for t in pipe tcp; do
    log=$OUT/kill-$t/Log.txt
    for line in "Flight Simulator no longer connected, Ventrix_P3D will stop ..." "Exiting: SIM WAS CLOSED"; do
        if grep -qF "$line" "$log" 2>/dev/null; then echo "ok   kill-$t: $line"; else echo "FAIL kill-$t: $line"; rc=1; fi
    done
done
[ -f "$OUT/window_halfway.png" ] && echo "live-windows: the window halfway through the pipe run: $OUT/window_halfway.png"
exit $rc
