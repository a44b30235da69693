#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (FUZZ_SECONDS, default 60) over its seed corpus and the inputs kept in
# tests/fuzz/regressions/<target>, with the dictionary of magics, in
# FUZZ_BUILD_DIR (default build-fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD_DIR:-build-fuzz}
source scripts/fuzz-seeds.sh
targets=("${fuzz_targets[@]}")
prepare_fuzzing "$build" "${targets[@]}"
for target in "${targets[@]}"; do
  echo "== fuzzing $target for ${seconds}s"
  regressions=()
  [[ -d tests/fuzz/regressions/$target ]] && regressions=(tests/fuzz/regressions/"$target")
  "$build"/bin/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -dict=tests/fuzz/magics.dict "$work/$target" "${regressions[@]}" 2>&1 | tail -n 12
done
echo "fuzzing: no crash"
