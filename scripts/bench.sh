#!/usr/bin/env bash
# Builds an optimised tree and runs the benchmarks (files per second over 1000
# small bundles, signature reads from a 1 MB and a 512 MB binary).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSENTREL_BENCH=ON >/dev/null
cmake --build build -j "$(nproc)" --target bench_report
build/bin/bench_report "$@"
