#!/usr/bin/env bash
# Builds the scenery-file fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in its own build folder and runs it for a
# bounded time, seeded with the real add-on airports when the shared data is
# there and with generated files always. Exit 77 (skipped) when clang's
# fuzzer runtime is missing.
#   run_fuzz.sh <source dir> <build dir> [seconds]
set -euo pipefail
src=$1 build=$2 seconds=${3:-20}
"$src/tests/support/fuzz_build.sh" "$src" "$build" fuzz_bgl bglgen
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
mkdir -p "$corpus/seeds" "$corpus/tree"
shared=${VNTX_SHARED_DIR:-$src/../shared}/data/scenery_bgl
if [ -d "$shared" ]; then
  find "$shared" -name '*.bgl' -exec cp {} "$corpus/seeds/" \;
fi
"$build/tools/bglgen/bglgen" "$corpus/tree" LEAB K2B7 EGHL > /dev/null
find "$corpus/tree" -name '*.bgl' | while read -r f; do cp "$f" "$corpus/seeds/$(basename "$f")"; done
echo "seeds: $(ls "$corpus/seeds" | wc -l) files"
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
"$build/tests/scan/fuzz_bgl" -max_total_time="$seconds" -max_len=131072 -print_final_stats=1 "$corpus/seeds"
echo "fuzzing finished without a crash or sanitizer report"
