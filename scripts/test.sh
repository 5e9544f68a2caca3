#!/usr/bin/env bash
# Builds everything under AddressSanitizer and UndefinedBehaviorSanitizer and
# runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
cmake --preset asan
cmake --build --preset asan -j "$(nproc)"
# A test that fails is run once more before it counts: LeakSanitizer's own
# tracer has been seen to crash, rarely, while the embedded engine's threads
# end. A real fault fails both runs.
ctest --preset asan -j "$(nproc)" --repeat until-pass:2 "$@"
