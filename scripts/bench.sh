#!/usr/bin/env bash
# Builds an optimised tree and runs the benchmarks (files per second over 1000
# small bundles, signature reads from a 1 MB and a 512 MB binary; the command
# line's start-up, one file, folders with one and two jobs, bytes read and
# memory; page hashing of a 512 MB binary; the windows' start-up, drag,
# second document and memory).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSENTREL_BENCH=ON >/dev/null
cmake --build build -j "$(nproc)" --target bench_report bench_verify bench_windows sentrel sentrel-inspect sentrel-make-fixtures
build/bin/bench_report "$@"
# Verifying a 512 MB binary: page hashing beside openssl's SHA-256 speed.
build/bin/bench_verify 512
# The command line, whole processes.
python3 scripts/bench-cli.py build
# The windows: start-up to a window on screen, a drag, a second document,
# memory; on a private X server.
python3 scripts/bench-windows.py build
