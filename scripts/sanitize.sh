#!/usr/bin/env bash
# The Linux tests under the sanitizers (clang):
#   scripts/sanitize.sh asan   every test under AddressSanitizer + UndefinedBehaviorSanitizer
#                              (build-asan/), but the Google Benchmark programs
#   scripts/sanitize.sh tsan   the threaded parts under ThreadSanitizer (build-tsan/): the
#                              readers and the RealTraffic link, the SimClient thread and its
#                              transport, the cycle, the livery and airport scans' workers
# Extra arguments go to ctest (asan) or to the test programs (tsan).
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:?asan or tsan}
shift
scripts/sanitizers/configure.sh "$kind"
BUILD=build-$kind
supp=$PWD/scripts/sanitizers
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$supp/lsan.supp:print_suppressions=0
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$supp/tsan.supp:history_size=4
if [ "$kind" = asan ]; then
  cmake --build "$BUILD" -j"$(nproc)"
  # Everything; the timeouts allow for the sanitizers' slower run.
  ctest --test-dir "$BUILD" --output-on-failure -j"$(nproc)" --timeout 600 "$@"
else
  # The test programs of the threaded parts and what their tests start.
  targets=(test_input test_simconnect test_simlink test_core test_liveries test_scan test_scan_tree
           Ventrix_P3D simhost rtfeed livgen bglgen input_demo)
  cmake --build "$BUILD" -j"$(nproc)" --target "${targets[@]}"
  export VNTX_SOURCE_DIR=$PWD
  failed=()
  for t in input/test_input simconnect/test_simconnect simlink/test_simlink core/test_core liveries/test_liveries \
           scan/test_scan; do
    echo "== $t"
    "$BUILD/tests/$t" --gtest_brief=1 "$@" || failed+=("$t")
  done
  # The program's processes against the stand-ins; the airport scan under the download server.
  ctest --test-dir "$BUILD" --output-on-failure --timeout 600 -R '^(input_end_to_end|simlink_simhost_run|test_scan_tree)$' || failed+=(ctest)
  if ((${#failed[@]})); then echo "tsan: failures in ${failed[*]}"; exit 1; fi
  echo "tsan: green"
fi
