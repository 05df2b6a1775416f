#!/usr/bin/env bash
# Builds everything twice (a normal build, and one with AddressSanitizer, UndefinedBehaviorSanitizer
# and the libFuzzer targets) and runs every test of both, and the service's start and stop test once
# more under ThreadSanitizer. Fails when any test fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" test
"$root/scripts/node_deps.sh"
jobs=$(nproc)
# Power actions are always simulated under test.
export VELLMAR_POWER_SIMULATE=/dev/null
export VELLMAR_TEST=1

cmake -S "$root" -B "$root/build/normal" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLMAR_BENCH=ON >/dev/null
ninja -C "$root/build/normal"
(cd "$root/build/normal" && ctest --output-on-failure -j "$jobs")

# The service's start and stop once more under ThreadSanitizer (the program alone is built).
cmake -S "$root" -B "$root/build/tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DVELLMAR_TSAN=ON -DVELLMAR_BENCH=OFF >/dev/null
ninja -C "$root/build/tsan" Brevanta
TSAN_OPTIONS="halt_on_error=1 exitcode=66" BREVANTA="$root/build/tsan/Brevanta" VELLMAR_SOURCE_DIR="$root" \
  bash "$root/tests/system/test_service_lifecycle.sh"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S "$root" -B "$root/build/sanitize" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DVELLMAR_SANITIZE=ON -DVELLMAR_FUZZ=ON -DVELLMAR_BENCH=OFF -DVELLMAR_FUZZ_SECONDS="${VELLMAR_FUZZ_SECONDS:-60}" >/dev/null
ninja -C "$root/build/sanitize"
(cd "$root/build/sanitize" && ctest --output-on-failure -j "$jobs")
