#!/usr/bin/env bash
# Configures the clang build folder of a sanitizer job when it is not yet:
#   configure.sh asan   build-asan/: ASan + UBSan, with the libFuzzer programs
#                       (scripts/sanitize.sh asan and scripts/fuzz.sh share it)
#   configure.sh tsan   build-tsan/: ThreadSanitizer
# Both at -O1 with line tables and with assertions on: quicker to build, and
# the sanitizers' reports keep exact lines.
set -euo pipefail
cd "$(dirname "$0")/../.."
kind=$1
case $kind in
  asan) options=(-DVNTX_SANITIZE=address -DVNTX_FUZZ=ON) ;;
  tsan) options=(-DVNTX_SANITIZE=thread) ;;
  *) echo "configure: asan or tsan, not $kind"; exit 2 ;;
esac
command -v clang++ >/dev/null || { echo "clang++ missing (scripts/setup.sh installs it)"; exit 1; }
BUILD=build-$kind
# ccache when the machine has it (a fresh CI machine has not).
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [ ! -f "$BUILD/build.ninja" ]; then
  mkdir -p "$BUILD"
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        ${launcher[@]+"${launcher[@]}"} \
        -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
        -DVNTX_BUILD_BENCH=OFF "${options[@]}" > "$BUILD/configure.log"
fi
