#!/usr/bin/env bash
# Runs every libFuzzer target for FUZZ_RUNS executions (default 10 million;
# not part of CI) and writes what each run did to docs/fuzz-figures.tsv:
# executions, edges covered, features, corpus units, seconds, peak memory.
# An input that crashes or runs slowly is kept in
# tests/fuzz/regressions/<target>/, which scripts/fuzz.sh replays.
#   FUZZ_RUNS=N     executions per target
#   FUZZ_MAX_SECONDS  stop a target after this many seconds even when its
#                   executions are not done (default 0: no limit); the
#                   figures then say "stopped at time limit"
#   FUZZ_TARGETS    the targets to run (default: all)
#   FUZZ_JOBS       targets run side by side (default 1)
#   FUZZ_BUILD_DIR  the clang build (default build-fuzz)
#   FUZZ_FLAGS      more libFuzzer flags, e.g. -detect_leaks=0: no leak check
#                   after each input that grows memory (the caches of
#                   fuzz_cms grow with most new inputs, which makes it run
#                   at a third of its speed); LeakSanitizer still checks the
#                   whole run when the process ends
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${FUZZ_RUNS:-10000000}
max_seconds=${FUZZ_MAX_SECONDS:-0}
build=${FUZZ_BUILD_DIR:-build-fuzz}
source scripts/fuzz-seeds.sh
targets=(${FUZZ_TARGETS:-${fuzz_targets[@]}})
prepare_fuzzing "$build" "${targets[@]}"
figures=docs/fuzz-figures.tsv
[[ -f $figures ]] || printf 'date\ttarget\truns\texecutions\tedges\tfeatures\tunits\tseconds\tpeak_rss_mb\toutcome\n' >"$figures"

run_one() {
  local target=$1 log="$work/$1.log" start end outcome=ok
  mkdir -p tests/fuzz/regressions/"$target"
  start=$(date +%s)
  "$build"/bin/"$target" -runs="$runs" -max_total_time="$max_seconds" -timeout=10 -rss_limit_mb=2048 -report_slow_units=2 -print_final_stats=1 ${FUZZ_FLAGS:-} \
    -dict=tests/fuzz/magics.dict -artifact_prefix=tests/fuzz/regressions/"$target"/ \
    "$work/$target" >"$log" 2>&1 || outcome=failed
  end=$(date +%s)
  local executions edges features units rss
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log" | tail -n1)
  edges=$(grep -ao 'cov: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
  features=$(grep -ao 'ft: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
  units=$(grep -ao 'corp: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
  [[ $outcome == ok && ${executions:-0} -lt $runs ]] && outcome="stopped at time limit"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$(date -u +%FT%TZ)" "$target" "$runs" "${executions:-?}" \
    "${edges:-?}" "${features:-?}" "${units:-?}" "$((end - start))" "${rss:-?}" "$outcome" >>"$figures"
  echo "== $target: ${executions:-?} executions, ${edges:-?} edges, $((end - start)) s, $outcome"
  [[ $outcome == ok ]] || tail -n 40 "$log"
}

jobs=${FUZZ_JOBS:-1}
for target in "${targets[@]}"; do
  run_one "$target" &
  while (( $(jobs -rp | wc -l) >= jobs )); do wait -n || true; done
done
wait
