#!/usr/bin/env bash
# A long run under a busy sky: SOAK_AIRCRAFT (default 1000) aircraft reporting
# at once around Monterey (KMRY) for SOAK_MINUTES (default 30), made by
# `rtfeed dense` from real recorded flights (Monterey Bay, Zurich ground
# movements, and the Hong Kong arrivals and Toulouse Mode S recordings when the
# shared data folder is there; see `rtfeed --help`), seeded by SOAK_SEED.
# simhost stands in for Prepar3D, Ventrix_P3D runs with RANGE 100 and
# MAX_LIVE_SEL at its largest choice. Every minute a row of the program's load
# figures, its memory and descriptors and the fidelity; at the end a summary
# against the limits, soak-out/series.csv and the chart soak-out/soak.svg.
# SOAK_STRICT=1 also fails the run on the loop, tick, memory and fidelity
# limits (meant for a full run on a quiet machine); without it they are
# reported only, and the run fails on faults: an unclean end, a creation never
# answered, an object never moved, a teleport. SOAK_NICE runs the
# three programs at that scheduling priority (e.g. -10 on a machine busy with
# other work, so that the figures are the program's rather than the queue's).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${SOAK_SKIP_BUILD:-0}" != 1 ]; then
  scripts/setup.sh
  scripts/build.sh
fi
B=${BUILD_DIR:-build}
OUT=${SOAK_OUT:-$PWD/soak-out}
SHARED=${VNTX_SHARED_DIR:-$PWD/../shared}
recs=(--recording data/traffic/monterey_bay_2025-06-01_hour.rtrec --recording data/traffic/lszh_ground_2019_arranged.rtrec)
regdb=(--regdb data/registrations/vrs_standing_data_aircraft.csv)
for f in vhhh_arrivals_2018-05-01_fr24.csv lfbo_2024-06-06_decoded_modes.jsonl.gz; do
  [ -f "$SHARED/data/traffic/$f" ] && recs+=(--recording "$SHARED/data/traffic/$f")
done
[ -f "$SHARED/data/registrations/dump1090_mutability_aircraft_db.csv" ] &&
  regdb+=(--regdb "$SHARED/data/registrations/dump1090_mutability_aircraft_db.csv")
strict=()
[ "${SOAK_STRICT:-0}" = 1 ] && strict=(--strict)
echo "soak: ${SOAK_AIRCRAFT:-1000} aircraft for ${SOAK_MINUTES:-30} minutes at nice ${SOAK_NICE:-0} (load average now: $(cut -d' ' -f1-3 /proc/loadavg))"
exec nice -n "${SOAK_NICE:-0}" python3 tests/support/soak.py --exe "$B/src/core/Ventrix_P3D" --simhost "$B/tools/simhost/simhost" \
  --rtfeed "$B/tools/rtfeed/rtfeed" --livgen "$B/tools/livgen/livgen" --fidelity "$B/tools/fidelity/trace_fidelity" \
  --chart "$B/tools/fidelity/series_chart" --reference "$B/bench/bench_control_loop" --out "$OUT" --minutes "${SOAK_MINUTES:-30}" \
  --aircraft "${SOAK_AIRCRAFT:-1000}" --seed "${SOAK_SEED:-1}" "${recs[@]}" "${regdb[@]}" "${strict[@]}"
