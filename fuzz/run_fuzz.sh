#!/usr/bin/env bash
# Runs one fuzz target for a number of seconds on its corpus (with its keyword
# dictionary fuzz/TARGET.dict when there is one):
#   fuzz/run_fuzz.sh fuzz_setup 1200
# New inputs go to build-fuzz/corpus/TARGET (the seed corpus in fuzz/corpus stays
# as it is); crashing inputs are written to build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: run_fuzz.sh TARGET SECONDS}
seconds=${2:-60}
build=${FUZZ_BUILD:-build-fuzz}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVALE_FUZZ=ON -DCORVALE_TESTS=OFF \
    -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
cmake --build "$build" -j2 --target "$target"
mkdir -p "$build/corpus/$target" "$build/findings"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
dict=()
[ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
exec "$build/$target" "${dict[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
  -artifact_prefix="$build/findings/$target-" -print_final_stats=1 \
  "$build/corpus/$target" "fuzz/corpus/$target"
