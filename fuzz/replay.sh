#!/usr/bin/env bash
# Builds every fuzz target and replays each seed corpus once (no mutation): any
# crash, sanitizer report or timeout fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD:-build-fuzz}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVALE_FUZZ=ON -DCORVALE_TESTS=OFF \
  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
targets=()
for src in fuzz/fuzz_*.cpp; do
  name=$(basename "$src" .cpp)
  [ "$name" = fuzz_common ] && continue
  targets+=("$name")
done
cmake --build "$build" -j2 --target "${targets[@]}"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
mkdir -p "$build/findings"
for t in "${targets[@]}"; do
  echo "replay $t: $(ls "fuzz/corpus/$t" | wc -l) inputs"
  if ! "$build/$t" -runs=0 -timeout=20 -rss_limit_mb=2048 -artifact_prefix="$build/findings/replay-$t-" \
      "fuzz/corpus/$t" >"$build/replay-$t.log" 2>&1; then
    tail -n 40 "$build/replay-$t.log"
    echo "replay of $t failed"
    exit 1
  fi
  tail -n 1 "$build/replay-$t.log"
done
echo "corpus replay passed"
