#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (FUZZ_SECONDS, default 60) over its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
seconds=${FUZZ_SECONDS:-60}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSENTREL_FUZZ=ON >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target fuzz_static_code fuzz_entitlements sentrel-make-fixtures

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/static" "$work/entitlements"
ASAN_OPTIONS=detect_leaks=0 build-fuzz/bin/sentrel-make-fixtures "$work/fixtures" >/dev/null
# Seed with every regular file of the fixture set (bundles' executables included).
find "$work/fixtures" -type f ! -name MANIFEST.tsv -size -2M -exec cp --backup=numbered -t "$work/static" {} +
cp tests/fuzz/entitlements/* "$work/entitlements/"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in static entitlements; do
  binary=build-fuzz/bin/fuzz_${target/static/static_code}
  echo "== fuzzing $(basename "$binary") for ${seconds}s"
  "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work/$target" 2>&1 | tail -n 12
done
echo "fuzzing: no crash"
