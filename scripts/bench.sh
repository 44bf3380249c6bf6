#!/usr/bin/env bash
# Builds an optimised tree and runs every benchmark; figures go to stdout.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DCHIMEWICK_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen CHIMEWICK_AUDIO_OUTPUT=null CHIMEWICK_MIDI=virtual
for b in build-bench/bin/bench_*; do echo "== $b"; "$b"; done
