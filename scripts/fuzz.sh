#!/usr/bin/env bash
# Builds every fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) into build-asan/ (shared with scripts/sanitize.sh
# asan) and runs each for a bounded time from its seeds. A crash input is kept
# in build-asan/crashes/; store it
# under the target's fuzz/regressions/<target>/ folder to make it a test.
#   scripts/fuzz.sh [seconds per target (20)] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
scripts/sanitizers/configure.sh asan
BUILD=build-asan
if (($#)); then targets=("$@"); else
  targets=()
  for f in "$BUILD"/fuzz/*.target; do targets+=("$(basename "$f" .target)"); done
fi
cmake --build "$BUILD" -j"$(nproc)" --target "${targets[@]}"

shared=${VNTX_SHARED_DIR:-$PWD/../shared}
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1
mkdir -p "$BUILD/crashes"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
printf '%-28s %8s %12s %10s\n' target seeds executions seconds > "$work/table"
for t in "${targets[@]}"; do
  exe=$(sed -n 's/^exe=//p' "$BUILD/fuzz/$t.target")
  max_len=$(sed -n 's/^max_len=//p' "$BUILD/fuzz/$t.target")
  regressions=$(sed -n 's/^regressions=//p' "$BUILD/fuzz/$t.target")
  IFS=';' read -r -a seeds <<< "$(sed -n 's/^seeds=//p' "$BUILD/fuzz/$t.target")"
  corpus="$work/$t"
  mkdir -p "$corpus"
  for s in "${seeds[@]}" "$regressions"; do
    [[ $s == @shared/* ]] && s="$shared/${s#@shared/}"
    if [ -d "$s" ]; then find "$s" -type f ! -name README.md -print0 | while IFS= read -r -d '' f; do cp "$f" "$corpus/$(echo "$f" | md5sum | cut -c1-12)"; done
    elif [ -f "$s" ]; then cp "$s" "$corpus/"; fi
  done
  n=$(find "$corpus" -type f | wc -l)
  echo "== $t: $n seeds, ${seconds}s"
  start=$(date +%s)
  if "$exe" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$PWD/$BUILD/crashes/$t-" "$corpus" > "$work/$t.log" 2>&1; then :; else
    failed+=("$t"); tail -60 "$work/$t.log"
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t.log" | tail -1)
  printf '%-28s %8s %12s %10s\n' "$t" "$n" "${execs:-?}" "$(( $(date +%s) - start ))" >> "$work/table"
done
cat "$work/table"
if ((${#failed[@]})); then
  echo "fuzz: crash or sanitizer report in: ${failed[*]} (inputs in $BUILD/crashes/)"
  exit 1
fi
echo "fuzz: every target ran ${seconds}s without a crash or sanitizer report"
