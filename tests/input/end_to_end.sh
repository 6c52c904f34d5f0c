#!/usr/bin/env bash
# rtfeed replaying a real recording to the live traffic input; rtfeed is
# stopped mid-run and started again, and the link must come back.
#   end_to_end.sh <input_demo> <rtfeed> <recording> <lat> <lon>
set -euo pipefail
demo=$1 rtfeed=$2 recording=$3 lat=$4 lon=$5
work=$(mktemp -d)
trap 'kill $feed 2>/dev/null || true; kill $app 2>/dev/null || true; rm -rf "$work"' EXIT
# Ports away from the real ones, so a RealTraffic on this machine is not disturbed.
base=$((20000 + RANDOM % 20000))
tcp=$base traffic=$((base + 1)) weather=$((base + 2))
feed_args=(--port $tcp --traffic-port $traffic --weather-port $weather --station VHHH --qnh 2992 --speed 30 --quiet "$recording")

"$demo" "$work/Log.txt" $tcp $traffic $weather 14 "$lat" "$lon" > "$work/demo.out" 2>&1 &
app=$!
sleep 0.5
"$rtfeed" "${feed_args[@]}" > "$work/feed1.out" 2>&1 &
feed=$!
sleep 6
kill $feed; wait $feed || true
sleep 2.5
"$rtfeed" "${feed_args[@]}" --start 600 > "$work/feed2.out" 2>&1 &
feed=$!
wait $app
app_rc=$?
kill $feed 2>/dev/null || true
cat "$work/Log.txt"; cat "$work/feed1.out"
fail=0
for line in "RealTraffic connected" "QNH Reader connected" "Traffic Reader connected" \
            "RealTraffic gone? Wait for RealTraffic to re-connect" "RealTraffic re-connected"; do
  grep -qF "$line" "$work/Log.txt" || { echo "MISSING: $line"; fail=1; }
done
grep -qE "summary: [1-9][0-9]* records queued" "$work/Log.txt" || { echo "MISSING: queued records"; fail=1; }
grep -q "QNH 1013" "$work/Log.txt" || { echo "MISSING: QNH 1013 from 2992"; fail=1; }
exit $(( fail || app_rc ))
