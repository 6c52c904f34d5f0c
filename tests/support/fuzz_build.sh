#!/usr/bin/env bash
# Builds fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in a build folder of their own. Exit 77
# (skipped) when clang or its fuzzer runtime is missing.
#   fuzz_build.sh <source dir> <build dir> <target>...
set -euo pipefail
src=$1 build=$2
shift 2
command -v clang++ >/dev/null || { echo "clang++ not found: fuzzing skipped"; exit 77; }
echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long){return 0;}' > "$build.probe.cpp"
clang++ -fsanitize=fuzzer "$build.probe.cpp" -o "$build.probe" 2>/dev/null || { echo "libFuzzer not available: skipped"; rm -f "$build.probe.cpp"; exit 77; }
rm -f "$build.probe.cpp" "$build.probe"
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fsanitize=fuzzer-no-link -g -O1"
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_CXX_FLAGS="$flags" -DVNTX_FUZZ=ON -DVNTX_BUILD_BENCH=OFF > "$build.configure.log"
cmake --build "$build" -j2 --target "$@"
