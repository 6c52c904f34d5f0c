#!/usr/bin/env bash
# The main job: installs what is missing, builds, then runs live traffic end to
# end. simhost stands in for Prepar3D (liveries for the recording's airlines
# and types installed, the user parked at Hong Kong, every AI position traced),
# rtfeed stands in for RealTraffic replaying the real Hong Kong arrivals of
# 2018-05-01 stamped with the time it sends (filled in to a report every 5 s, as
# a live feed sends them; the recording has one a minute), and Ventrix_P3D
# injects that traffic for DEMO_SECONDS. A summary and a map of reported
# positions against the flown paths follow.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
OUT=$PWD/demo-out
DEMO_SECONDS=${DEMO_SECONDS:-180}
SHARED=${VNTX_SHARED_DIR:-$PWD/../shared}
REC=${DEMO_RECORDING:-$SHARED/data/traffic/vhhh_arrivals_2018-05-01_fr24.csv}
if [ ! -f "$REC" ]; then
  echo "demo: the recording $REC is missing (set VNTX_SHARED_DIR or DEMO_RECORDING)"
  exit 1
fi
regdb=()
for f in vrs_standing_data_aircraft.csv dump1090_mutability_aircraft_db.csv; do
  [ -f "$SHARED/data/registrations/$f" ] && regdb+=(--regdb "$SHARED/data/registrations/$f")
done
B=$BUILD_DIR
echo "demo: live traffic around Hong Kong (VHHH) for $DEMO_SECONDS s, then 60 s for the last reports to fall due"
status=0
python3 tests/support/live_run.py --exe "$B/src/core/Ventrix_P3D" --simhost "$B/tools/simhost/simhost" \
  --rtfeed "$B/tools/rtfeed/rtfeed" --livgen "$B/tools/livgen/livgen" --fidelity "$B/tools/fidelity/trace_fidelity" \
  --recording "$REC" "${regdb[@]}" --start "${DEMO_START:-30000}" --seconds "$DEMO_SECONDS" --tail 60 \
  --densify 5 --recording-liveries --user 22.308,113.918,70 --out "$OUT" > "$OUT.summary.txt" 2>&1 || status=$?
echo
echo "demo: what Ventrix_P3D logged about the traffic"
grep -E "RealTraffic connected|Traffic Reader connected|No match found|Exiting:|closed ok" "$OUT/Log.txt" || true
echo
echo "demo: summary"
cat "$OUT.summary.txt"
echo
echo "demo: Log.txt, simhost trace and the map are in $OUT; open $OUT/traffic_map.svg in a browser"
exit $status
