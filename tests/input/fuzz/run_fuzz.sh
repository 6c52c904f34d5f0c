#!/usr/bin/env bash
# Builds the input fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in their own build folder and runs each for a
# bounded time. Exit 77 (skipped) when clang's fuzzer runtime is missing.
#   run_fuzz.sh <source dir> <build dir> [seconds per target]
set -euo pipefail
src=$1 build=$2 seconds=${3:-30}
"$src/tests/support/fuzz_build.sh" "$src" "$build" fuzz_traffic_decoder fuzz_weather
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
mkdir -p "$corpus/traffic" "$corpus/weather"
# Seeds: real datagrams and weather texts.
printf 'RTTFC,4953807,47.5,8.6,7000,-640,0,123.4,250,SWR123,A320,HB-JLT,ZRH,LHR,1704067200.5,adsb,LX123,adsb_icao,7150,230,265,0.41,0.00,5.5,121.0,123.0,-600,none,A3,1013.2,-1,-1,null' > "$corpus/traffic/a"
printf 'RTTFC,11298587,39.861,-104.673,0,0,1,181.0,12,DAL1812,B739,N899DN,null,null,1738790000,adsb,null,adsb_icao,0,-1,-1,-1,0.00,-1,-1,-1,0,none,null' > "$corpus/traffic/b"
printf 'RTTFC,10001,47.5,8.6,1050,0,0,,30,null,GLID,D-1234,null,null,1704067200,adsb,null,mlat,0,0,-1,0,0,0,0,0,0,none,A1' > "$corpus/traffic/c"
printf '{"QNH":2992}' > "$corpus/weather/a"; printf '{"QNH":"1009"}' > "$corpus/weather/b"; printf '{"QNH":1013.5}' > "$corpus/weather/c"
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
"$build/tests/input/fuzz_traffic_decoder" -max_total_time="$seconds" -max_len=2048 -print_final_stats=1 "$corpus/traffic"
"$build/tests/input/fuzz_weather" -max_total_time="$seconds" -max_len=512 -print_final_stats=1 "$corpus/weather"
echo "fuzzing finished without a crash or sanitizer report"
