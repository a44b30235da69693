#!/usr/bin/env bash
# Installs what is needed, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
# A whole published Developer ID binary for the end-to-end verification test
# (skipped when it cannot be fetched).
bash scripts/fetch-test-data.sh
jobs=$(nproc)
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DSENTREL_SANITIZE=ON -DSENTREL_TESTS=ON \
  -DSENTREL_BENCH=ON  # the benchmarks are built (not run) so that they keep compiling
cmake --build build-test -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/support/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build-test --output-on-failure -j "$jobs"
