#!/usr/bin/env bash
# Builds the pipeline fuzzer with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs it for a bounded time: ./scripts/fuzz.sh [seconds]. Seeds: fuzz/seeds plus the real
# texts of ../shared/corpus cut into small pieces (kept under build/, never in the repository).
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_BUDGET="${1:-60}"
CLANGXX="$(command -v clang++ || command -v clang++-14 || true)"
if [ -z "$CLANGXX" ]; then
  echo "fuzz: clang++ not found, skipping the fuzzing run" >&2
  exit 0
fi
BUILD=build/fuzz
cmake -S . -B "$BUILD" -DCMAKE_CXX_COMPILER="$CLANGXX" -DYOMIKA_BUILD_PYTHON=OFF -DYOMIKA_BUILD_FUZZ=ON \
  -DYOMIKA_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j 2 --target fuzz_pipeline >/dev/null
SEEDS="$BUILD/seeds"
if [ ! -d "$SEEDS" ]; then
  mkdir -p "$SEEDS"
  cp fuzz/seeds/* "$SEEDS"/
  if [ -d ../shared/corpus ]; then
    for f in ../shared/corpus/*.txt; do
      split -b 3000 -a 4 "$f" "$SEEDS/$(basename "$f" .txt)-"
    done
  fi
fi
mkdir -p "$BUILD/corpus" "$BUILD/crashes"
"$BUILD/fuzz_pipeline" -max_total_time="$SECONDS_BUDGET" -max_len=4096 -timeout=10 -rss_limit_mb=4096 \
  -dict=fuzz/yomika.dict -artifact_prefix="$BUILD/crashes/" -print_final_stats=1 \
  "$BUILD/corpus" "$SEEDS" 2>&1 | tee "$BUILD/last-run.log" | grep -E '^(#|INFO: (Seed|Loaded)|==|SUMMARY|stat::|invariant)' | tail -15
echo "fuzz: finished without a crash"
