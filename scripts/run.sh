#!/usr/bin/env bash
# Installs what is needed, builds Sentrel, and inspects the bundled demo: a
# Developer ID signed, sandboxed application bundle that the build generates
# and marks as downloaded from the web (extended attributes don't live in git).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)"

demo_dir=build/demo
rm -rf "$demo_dir"
app=$(build/bin/sentrel-make-fixtures --demo "$demo_dir")
# The quarantine record a browser writes: flags;hex time;agent;event id.
record=$(printf '0002;%08x;Firefox;6F1C3E2A-58B4-4C1D-9E0F-2B7A9D4C8E51' "$(date +%s)")
setfattr -n user.com.apple.quarantine -v "$record" "$app"
setfattr -n user.xdg.origin.url -v "https://downloads.example.org/SentrelDemoReader.zip" "$app"
echo "== sentrel-inspect \"$app\"" >&2
build/bin/sentrel-inspect "$app" 2>/dev/null
