#!/usr/bin/env bash
# Replays the fuzzers' inputs through the pipeline invariants with a fuzz_replay binary built by
# any compiler (make test uses the sanitized one): scripts/replay.sh path/to/fuzz_replay.
# Inputs: fuzz/seeds, the real texts of ../shared/corpus whole and cut into pieces of whole lines,
# and what the fuzzer has collected in build/fuzz/corpus, where those exist.
set -euo pipefail
cd "$(dirname "$0")/.."
REPLAY="$1"
inputs=(fuzz/seeds)
if [ -d ../shared/corpus ]; then
  PIECES=build/fuzz/replay-pieces
  if [ ! -d "$PIECES" ]; then
    mkdir -p "$PIECES.tmp"
    for f in ../shared/corpus/*.txt; do
      split -C 3000 -a 4 "$f" "$PIECES.tmp/$(basename "$f" .txt)-"
    done
    mv "$PIECES.tmp" "$PIECES"
  fi
  inputs+=("$PIECES" ../shared/corpus/*.txt)
else
  echo "replay: ../shared/corpus not found, replaying the seeds only"
fi
[ -d build/fuzz/corpus ] && inputs+=(build/fuzz/corpus)
"$REPLAY" "${inputs[@]}"
