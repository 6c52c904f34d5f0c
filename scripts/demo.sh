#!/usr/bin/env bash
# The main job: installs what is missing, builds, then runs live traffic end to
# end. simhost stands in for Prepar3D (generated liveries installed, the user
# parked at Monterey, every AI position traced), rtfeed stands in for
# RealTraffic replaying a real recording stamped with the time it sends, and
# Ventrix_P3D injects that traffic for DEMO_SECONDS. A summary and a map of
# reported positions against the flown paths follow.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
OUT=$PWD/demo-out
DEMO_SECONDS=${DEMO_SECONDS:-180}
SHARED=${VNTX_SHARED_DIR:-$PWD/../shared}
REC=${DEMO_RECORDING:-$SHARED/data/traffic/monterey_bay_2025-06-01_readsb_points.jsonl.gz}
if [ ! -f "$REC" ]; then
  echo "demo: the recording $REC is missing (set VNTX_SHARED_DIR or DEMO_RECORDING)"
  exit 1
fi
regdb=()
for f in vrs_standing_data_aircraft.csv dump1090_mutability_aircraft_db.csv; do
  [ -f "$SHARED/data/registrations/$f" ] && regdb+=(--regdb "$SHARED/data/registrations/$f")
done
B=$BUILD_DIR
echo "demo: live traffic around Monterey (KMRY) for $DEMO_SECONDS s, then 60 s for the last reports to fall due"
status=0
python3 tests/support/live_run.py --exe "$B/src/core/Ventrix_P3D" --simhost "$B/tools/simhost/simhost" \
  --rtfeed "$B/tools/rtfeed/rtfeed" --livgen "$B/tools/livgen/livgen" --fidelity "$B/tools/fidelity/trace_fidelity" \
  --recording "$REC" "${regdb[@]}" --start "${DEMO_START:-100800}" --seconds "$DEMO_SECONDS" --tail 60 \
  --user 36.587,-121.843,257 --out "$OUT" > "$OUT.summary.txt" 2>&1 || status=$?
echo
echo "demo: what Ventrix_P3D logged about the traffic"
grep -E "RealTraffic connected|Traffic Reader connected|No match found|Exiting:|closed ok" "$OUT/Log.txt" || true
echo
echo "demo: summary"
cat "$OUT.summary.txt"
echo
echo "demo: Log.txt, simhost trace and the map are in $OUT; open $OUT/traffic_map.svg in a browser"
exit $status
