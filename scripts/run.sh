#!/usr/bin/env bash
# Installs what is needed, builds Sentrel, opens the bundled demo in the
# desktop program and inspects it: a Developer ID signed, sandboxed application
# bundle that the build generates and marks as downloaded from the web
# (extended attributes don't live in git). Without a display the window is
# shown on a private X server and saved as build/demo/sentrel-window.png.
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

# The desktop program on the demo: in a window of the user's display, or,
# without one, on a private X server with a screenshot of the window.
shown=0
if [ ! -x build/bin/sentrel ]; then
  echo "== build/bin/sentrel was not built: no window to show" >&2
elif [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "== sentrel \"$app\" (its output: $demo_dir/sentrel.log)" >&2
  build/bin/sentrel "$app" >"$demo_dir/sentrel.log" 2>&1 &
else
  echo "== sentrel \"$app\" on a private X server" >&2
  python3 scripts/show-window.py build/bin/sentrel "$app" "$demo_dir/sentrel-window.png" 20 || shown=$?
fi

echo "== sentrel-inspect \"$app\"" >&2
# --verify: the demo's forged signature reads "Not genuine" (exit status 3).
build/bin/sentrel-inspect --verify "$app" 2>/dev/null || [ $? -eq 3 ]
exit "$shown"
