# Sourced by the fuzzing scripts: the targets, build_fuzzers BUILD_DIR
# TARGET... builds them with clang (FUZZ_BUILD_JOBS jobs, default all cores),
# seed_corpora BUILD_DIR WORK_DIR fills WORK_DIR/<target> with each
# target's seed corpus, from the fixture generator, the seed writer and
# tests/fuzz, and prepare_fuzzing BUILD_DIR TARGET... does both in a new
# WORK_DIR (named by $work, removed when the script ends) and sets the
# sanitizers' options for the runs.
fuzz_targets=(fuzz_static_code fuzz_entitlements fuzz_apple_double fuzz_quarantine_record fuzz_property_list fuzz_cms
  fuzz_requirements fuzz_verify)

build_fuzzers() {
  local build=$1
  shift
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSENTREL_FUZZ=ON >/dev/null
  cmake --build "$build" -j "${FUZZ_BUILD_JOBS:-$(nproc)}" --target "$@" fuzz_make_seeds sentrel-make-fixtures
}

seed_corpora() {
  local build=$1 work=$2
  mkdir -p "$work/fuzz_static_code" "$work/fuzz_entitlements" "$work/fuzz_property_list"
  ASAN_OPTIONS=detect_leaks=0 "$build"/bin/sentrel-make-fixtures "$work/fixtures" >/dev/null
  # Every regular file of the fixture set (bundles' executables included).
  find "$work/fixtures" -type f ! -name MANIFEST.tsv -size -2M -exec cp --backup=numbered -t "$work/fuzz_static_code" {} +
  cp tests/fuzz/entitlements/* "$work/fuzz_entitlements/"
  cp tests/fuzz/entitlements/* "$work/fuzz_property_list/"
  # fuzz_apple_double, fuzz_quarantine_record, fuzz_cms, fuzz_requirements,
  # fuzz_verify and more of fuzz_property_list.
  ASAN_OPTIONS=detect_leaks=0 "$build"/bin/fuzz_make_seeds "$work"
}

prepare_fuzzing() {
  local build=$1
  build_fuzzers "$@"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  seed_corpora "$build" "$work"
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
}
