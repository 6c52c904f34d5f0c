#!/usr/bin/env bash
# The main job: installs what is missing, builds, then runs the airport around
# the user end to end, from data that ships in the project. simhost stands in
# for Prepar3D (the user parked at stand W42 of Zurich, LSZH; liveries
# installed for the recording's aircraft and for the aircraft Zurich's stock
# park file parks; every AI position traced), rtfeed stands in for RealTraffic
# replaying real Zurich ground movements (OpenSky Network, MIT): flights of
# different days of Oct-Nov 2019 arranged into one window (see
# data/traffic/PROVENANCE.md), stamped with the time it sends. Ventrix_P3D
# chooses Zurich as its park airport, fills its stands with static aircraft for
# the current weekday and half hour, and gives live aircraft that come to rest
# a stand. A summary (static aircraft placed, stands free and taken, live
# aircraft parked) and a map of reported positions against the flown paths follow.
#
# Then, when the Hong Kong arrivals recording is on this machine (it does not
# ship: $VNTX_SHARED_DIR or ../shared), a second scene at Hong Kong (VHHH):
# the user parked at a general aviation stand away from the terminals,
# CPA676 seen turning onto final at some 3,500 ft, flaring, touching down,
# rolling out, leaving the runway, taxiing to a stand and parking there.
# DEMO_LANDING=0 leaves it out.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
OUT=$PWD/demo-out
# The departure AEE5ZH lifts off about 800 s into the recording.
DEMO_SECONDS=${DEMO_SECONDS:-800}
REC=${DEMO_RECORDING:-$PWD/data/traffic/lszh_ground_2019_arranged.rtrec}
B=$BUILD_DIR
# The download tree the build made (tools/refdata): served over HTTPS on
# loopback, the program downloads Zurich's stock park file from it.
SERVE=$B/server
PARK=$SERVE/downloads/P3D/archive/stock/LSZH.xml
echo "demo: Zurich (LSZH) for $DEMO_SECONDS s, then 60 s for the last reports to fall due"
status=0
python3 tests/support/live_run.py --exe "$B/src/core/Ventrix_P3D" --simhost "$B/tools/simhost/simhost" \
  --rtfeed "$B/tools/rtfeed/rtfeed" --livgen "$B/tools/livgen/livgen" --fidelity "$B/tools/fidelity/trace_fidelity" \
  --recording "$REC" --start "${DEMO_START:-0}" --seconds "$DEMO_SECONDS" --tail 60 --range 20 \
  --recording-liveries --park-file "$PARK" --serve "$SERVE" --ground 47.40,8.48,47.51,8.62,1416 \
  --user 47.452531,8.547643,155 --out "$OUT" > "$OUT.summary.txt" 2>&1 || status=$?
# What Ventrix_P3D logged about the airport and the traffic, and the run's summary.
tell() {
  echo
  echo "demo: what Ventrix_P3D logged about the airport and the traffic"
  grep -E "RealTraffic connected|The park airport is|positions found|positions \(|arrived at stand| parks$|parking, stand taken|makes way|leaves its stand|pushing back|pulling out|Exiting:" "$1/Log.txt" || true
  echo
  echo "demo: summary"
  cat "$1.summary.txt"
}
tell "$OUT"
echo
echo "demo: checks"
TAKE_OFF=
[ "$DEMO_SECONDS" -ge 800 ] && [ -z "${DEMO_RECORDING:-}" ] && TAKE_OFF=--take-off
if [ -z "${DEMO_RECORDING:-}" ]; then
  python3 tests/support/demo_check.py "$OUT.summary.txt" --arrival VJT796@F70 --departure AEE5ZH@A10 $TAKE_OFF || status=1
fi
echo
echo "demo: Log.txt, simhost trace and the map are in $OUT; open $OUT/traffic_map.svg in a browser"

SHARED=${VNTX_SHARED_DIR:-$PWD/../shared}
HK_REC=$SHARED/data/traffic/vhhh_arrivals_2018-05-01_fr24.csv
HK_OUT=$PWD/demo-out-vhhh
if [ "${DEMO_LANDING:-1}" = 0 ]; then
  exit $status
elif [ ! -f "$HK_REC" ]; then
  echo "demo: the landing scene at Hong Kong needs $HK_REC (not shipped); left out"
  exit $status
fi
# From 21,270 s into the recording (06:00 in Hong Kong, 1 May 2018): CPA676 at
# about 3,500 ft west of the airport, turning onto final; it reports a minute
# apart, filled in to 5 s as a live feed sends them. Its last report (at rest
# by the terminal) comes 424 s in; a minute more lets it fall due and the
# aircraft roll onto its stand (with 40 s it stopped 4 m short).
HK_START=21270
HK_SECONDS=430
REGDB=()
[ -f "$SHARED/data/registrations/vrs_standing_data_aircraft.csv" ] &&
  REGDB=(--regdb "$SHARED/data/registrations/vrs_standing_data_aircraft.csv")
echo
echo "demo: Hong Kong (VHHH), a landing from the air: $HK_SECONDS s of the arrivals recording, then 60 s for the last reports to fall due"
t0=$SECONDS
python3 tests/support/live_run.py --exe "$B/src/core/Ventrix_P3D" --simhost "$B/tools/simhost/simhost" \
  --rtfeed "$B/tools/rtfeed/rtfeed" --livgen "$B/tools/livgen/livgen" --fidelity "$B/tools/fidelity/trace_fidelity" \
  --recording "$HK_REC" --start "$HK_START" --seconds "$HK_SECONDS" --tail 60 --densify 5 --range 20 "${REGDB[@]}" \
  --recording-liveries --park-file "$SERVE/downloads/P3D/archive/stock/VHHH.xml" --serve "$SERVE" \
  --ground 22.28,113.88,22.33,113.95,28 --user 22.296525,113.908138,342 \
  --map-box 22.326,113.888,22.292,113.945 --landings --out "$HK_OUT" > "$HK_OUT.summary.txt" 2>&1 || status=$?
echo "scene wall time         $((SECONDS - t0)) s" >> "$HK_OUT.summary.txt"
tell "$HK_OUT"
echo
echo "demo: checks"
python3 tests/support/demo_check.py "$HK_OUT.summary.txt" --airport VHHH --landing CPA676 --no-departure || status=1
echo
echo "demo: Log.txt, simhost trace and the map are in $HK_OUT; open $HK_OUT/traffic_map.svg in a browser"
exit $status
