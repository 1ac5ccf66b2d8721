#!/usr/bin/env bash
# Builds the fuzzers with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and runs
# them for a bounded time: scripts/fuzz.sh [seconds] (default 60), four fifths for the pipeline
# fuzzer, one fifth for the quoted-target index fuzzer. Pipeline seeds: fuzz/seeds plus the real
# texts of ../shared/corpus cut into pieces of whole lines (kept under build/, never in the
# repository). What the fuzzers find stays in build/fuzz/corpus and build/fuzz/index-corpus for
# the next run; a crash leaves its input in build/fuzz/crashes and makes this script fail.
# Without clang it says so and exits 0 (scripts/install_system_tools.sh installs it).
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_BUDGET="${1:-60}"
CMAKE="${CMAKE:-cmake}"
CLANGXX="$(command -v clang++ || command -v clang++-14 || true)"
if [ -z "$CLANGXX" ]; then
  echo "fuzz: clang++ not found, skipping the fuzzing run" >&2
  exit 0
fi
BUILD=build/fuzz
"$CMAKE" -S . -B "$BUILD" -DCMAKE_CXX_COMPILER="$CLANGXX" -DYOMIKA_BUILD_PYTHON=OFF -DYOMIKA_BUILD_FUZZ=ON \
  -DYOMIKA_SANITIZE=ON -DYOMIKA_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
"$CMAKE" --build "$BUILD" -j "${JOBS:-2}" --target fuzz_pipeline fuzz_quote_index >/dev/null

SEEDS="$BUILD/seeds"
if [ ! -d "$SEEDS" ]; then
  mkdir -p "$SEEDS"
  if [ -d ../shared/corpus ]; then
    for f in ../shared/corpus/*.txt; do
      split -C 3000 -a 4 "$f" "$SEEDS/$(basename "$f" .txt)-"
    done
  fi
fi
cp fuzz/seeds/* "$SEEDS"/
mkdir -p "$BUILD/corpus" "$BUILD/index-corpus" "$BUILD/crashes"

# Runs one fuzzer; prints its start and end lines and final figures, or the failure report.
run() {
  local name="$1" seconds="$2"
  shift 2
  echo "fuzz: $name for $seconds s"
  if ! "$BUILD/$name" -max_total_time="$seconds" -max_len=4096 -timeout=20 -rss_limit_mb=4096 \
    -dict=fuzz/yomika.dict -artifact_prefix="$BUILD/crashes/" -print_final_stats=1 "$@" \
    >"$BUILD/$name.log" 2>&1; then
    grep -E -A30 'ERROR|invariant violated|disagrees|SUMMARY|Test unit written' "$BUILD/$name.log" | head -60 >&2
    echo "fuzz: $name failed; the input is in $BUILD/crashes, the log in $BUILD/$name.log" >&2
    return 1
  fi
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$BUILD/$name.log"
}

INDEX_SECONDS=$((SECONDS_BUDGET / 5 > 0 ? SECONDS_BUDGET / 5 : 1))
run fuzz_pipeline $((SECONDS_BUDGET - INDEX_SECONDS)) "$BUILD/corpus" "$SEEDS"
run fuzz_quote_index "$INDEX_SECONDS" "$BUILD/index-corpus" fuzz/seeds
echo "fuzz: finished without a crash"
