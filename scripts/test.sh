#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds Chimewick with
# AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer and runs
# every test headless.
#   --release  builds without the sanitizers (Release) in a folder of its
#              own, benchmarks included so that they keep building, and runs
#              the same tests there; no formatting check.
# Further arguments go to ctest (e.g. -R PresetsTest).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
formatting=0
if [ "${1:-}" = "--release" ]; then
  shift
  build=build-release
  configuration=(-DCMAKE_BUILD_TYPE=Release -DCHIMEWICK_SANITIZE=OFF -DCHIMEWICK_BENCH=ON)
else
  scripts/check-format.sh || formatting=1
  build=build-test
  configuration=(-DCMAKE_BUILD_TYPE=Debug -DCHIMEWICK_SANITIZE=ON -DCHIMEWICK_BENCH=OFF)
fi
cmake -S . -B "$build" "${configuration[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
export CHIMEWICK_AUDIO_OUTPUT=null
export CHIMEWICK_MIDI=virtual
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$build" && ctest --output-on-failure -j"$(nproc)" "$@")
if [ "$formatting" -ne 0 ]; then
  echo "The tests ran, but some files are not formatted (listed above)."
  exit 1
fi
