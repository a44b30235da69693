#!/usr/bin/env bash
# Fetches a whole, published, Developer ID signed macOS binary for the test
# that checks a real signature end to end (tests/codesign). It is not kept in
# the repository; without it that test is skipped. Needs npm.
set -euo pipefail
cd "$(dirname "$0")/.."
out=tests/data/fetched
package=@sentry/cli-darwin@3.8.0
mkdir -p "$out"
if [ -s "$out/sentry-cli" ]; then exit 0; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! (cd "$work" && npm pack --silent "$package" >/dev/null 2>&1); then
  echo "fetch-test-data: could not fetch $package; the whole-binary test will be skipped" >&2
  exit 0
fi
tar -xzf "$work"/*.tgz -C "$work" package/bin/sentry-cli
mv "$work/package/bin/sentry-cli" "$out/sentry-cli"
echo "fetch-test-data: $out/sentry-cli ($(stat -c %s "$out/sentry-cli") bytes)"
