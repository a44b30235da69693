# Sourced by the fuzzing scripts: seed_corpora BUILD_DIR WORK_DIR fills
# WORK_DIR/<target> with each target's seed corpus, from the fixture
# generator, the seed writer and tests/fuzz.
seed_corpora() {
  local build=$1 work=$2
  mkdir -p "$work/fuzz_static_code" "$work/fuzz_entitlements" "$work/fuzz_property_list"
  ASAN_OPTIONS=detect_leaks=0 "$build"/bin/sentrel-make-fixtures "$work/fixtures" >/dev/null
  # Every regular file of the fixture set (bundles' executables included).
  find "$work/fixtures" -type f ! -name MANIFEST.tsv -size -2M -exec cp --backup=numbered -t "$work/fuzz_static_code" {} +
  cp tests/fuzz/entitlements/* "$work/fuzz_entitlements/"
  cp tests/fuzz/entitlements/* "$work/fuzz_property_list/"
  ASAN_OPTIONS=detect_leaks=0 "$build"/bin/fuzz_make_seeds "$work/fuzz_apple_double" "$work/fuzz_quarantine_record" \
    "$work/fuzz_property_list"
}
