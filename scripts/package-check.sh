#!/usr/bin/env bash
# Builds a Release tree, makes the Debian package, installs it on this machine
# (as root) and checks the installed programs and the desktop integration:
# frameworks and resources found from /usr/bin, the desktop entry, the MIME
# type of Mach-O files through the desktop's own database, the icons. Then
# removes the package and checks that the desktop's caches forget it.
#
# Environment: BUILD_DIR (default build-pkg), JOBS (default: every core).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build-pkg}
jobs=${JOBS:-$(nproc)}
[ "$(id -u)" -eq 0 ] || { echo "package-check: installs a package; run as root" >&2; exit 2; }
export DEBIAN_FRONTEND=noninteractive

bash scripts/setup-debian.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" -j "$jobs"
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB)
debs=("$build"/packages/sentrel_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "package-check: expected one sentrel_*.deb in $build/packages" >&2; exit 1; }
deb=$root/${debs[0]}
version=$(dpkg-deb -f "$deb" Version)

work=$(mktemp -d)
remove_package() {
  if dpkg-query -W -f='${Status}' sentrel 2>/dev/null | grep -q "install ok installed"; then
    apt-get purge -y -qq sentrel >/dev/null
  fi
}
trap 'remove_package; rm -rf "$work"' EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok    $*"; }
fail() { failed=$((failed + 1)); echo "FAIL  $*"; }
# expect DESCRIPTION ACTUAL WANTED
expect() {
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: got '$2', wanted '$3'"; fi
}

# ---------------------------------------------------------------- the package's contents
echo "== $deb"
dpkg-deb -c "$deb" | awk '{ $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }' | sed 's|^\./|/|; s| -> .*||' >"$work/contents"
has() { grep -qxF "$1" "$work/contents"; }
for f in /usr/bin/sentrel-inspect /usr/share/applications/sentrel.desktop /usr/share/mime/packages/sentrel.xml \
         /usr/share/icons/hicolor/scalable/apps/sentrel.svg; do
  has "$f" && pass "packaged $f" || fail "not packaged: $f"
done
for size in 16 22 24 32 48 64 128 256 512; do
  f=/usr/share/icons/hicolor/${size}x${size}/apps/sentrel.png
  has "$f" && pass "packaged $f" || fail "not packaged: $f"
done
# Every resource and framework file the build makes is installed, so one added
# without an install rule shows up here.
while IFS= read -r f; do
  rel=${f#"$build"/}
  has "/usr/$rel" && pass "packaged /usr/$rel" || fail "built but not packaged: $rel"
done < <(find "$build/share/sentrel/Resources" "$build/lib/sentrel/Frameworks" "$build/lib/sentrel/PlugIns" -type f | sort)
if [ -x "$build/bin/sentrel" ]; then
  has /usr/bin/sentrel && pass "packaged /usr/bin/sentrel" || fail "built but not packaged: bin/sentrel"
fi
# sentrel-inspect's body, which the program in bin loads for every run but
# --help and --version.
has /usr/lib/sentrel/sentrel-inspect.so && pass "packaged /usr/lib/sentrel/sentrel-inspect.so" \
  || fail "not packaged: lib/sentrel/sentrel-inspect.so"

# The derived dependencies name the package of every library a packaged
# binary links directly.
depends=$(dpkg-deb -f "$deb" Depends)
echo "   Depends: $depends"
dpkg-deb -x "$deb" "$work/tree"
: >"$work/needed-packages"
while IFS= read -r elf; do
  while IFS= read -r soname; do
    path=$(ldd "$elf" | awk -v s="$soname" '$1 == s && $3 ~ /^\// { print $3 }')
    [ -n "$path" ] || continue
    owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "$(readlink -f "$path")" 2>/dev/null || dpkg -S "/usr$path" 2>/dev/null || true)
    owner=${owner%%:*}
    [ -n "$owner" ] && echo "$owner" >>"$work/needed-packages"
  done < <(readelf -d "$elf" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
done < <(find "$work/tree" -type f -exec sh -c 'head -c4 "$1" | grep -q "ELF"' _ {} \; -print)
echo "$depends" | tr ',|' '\n\n' | sed 's/(.*//; s/^ *//; s/ *$//' >"$work/depends"
for p in $(sort -u "$work/needed-packages"); do
  grep -qxF "$p" "$work/depends" && pass "Depends names $p" || fail "Depends does not name $p"
done

# ---------------------------------------------------------------- before installing
remove_package
fixtures=$work/fixtures
"$build/bin/sentrel-make-fixtures" "$fixtures" >/dev/null
# Magics the fixture set has no file for: a 64-bit big-endian thin file, and
# Java class files, which begin like a universal file (major version 52).
printf '\xfe\xed\xfa\xcf\x01\x00\x00\x12\x00\x00\x00\x00' >"$work/ppc64-thin"
printf '\xca\xfe\xba\xbe\x00\x00\x00\x34\x00\x10' >"$work/Hello.class"
cp "$work/Hello.class" "$work/class-without-suffix"
printf '\xca\xfe\xba\xbe\xff\xff\x00\x41\x00\x10' >"$work/class-preview"
mach_files=("$fixtures/unsigned-x86_64" "$fixtures/unsigned-i386" "$fixtures/adhoc-arm64" "$fixtures/adhoc-ppc"
            "$work/ppc64-thin" "$fixtures/fat-mixed" "$fixtures/fat64-mixed" "$fixtures/DeveloperID.app/Contents/MacOS/DeveloperID")
# xdg-mime asks GIO, which reads the shared MIME database, when the desktop
# is GNOME; elsewhere it may fall back to file(1), which knows Mach-O by
# itself and so would prove nothing about the package.
filetype() { XDG_CURRENT_DESKTOP=GNOME xdg-mime query filetype "$1" 2>/dev/null; }
command -v gio >/dev/null || { echo "package-check: gio is missing (libglib2.0-bin)" >&2; exit 1; }
[ -f "${mach_files[7]}" ] || mach_files[7]=$(find "$fixtures/DeveloperID.app/Contents/MacOS" -type f | head -n1)
before_fat=$(filetype "$fixtures/fat-mixed")
echo "   before installing: fat-mixed is $before_fat, unsigned-x86_64 is $(filetype "$fixtures/unsigned-x86_64")"

# ---------------------------------------------------------------- installed
echo "== apt-get install $deb"
apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install"; }
expect "installed version" "$(dpkg-query -W -f='${Version}' sentrel 2>/dev/null)" "$version"
expect "sentrel-inspect on the PATH" "$(command -v sentrel-inspect)" /usr/bin/sentrel-inspect
expect "sentrel-inspect --version" "$(cd / && sentrel-inspect --version 2>&1)" "sentrel-inspect $version"
# --version and --help are answered with nothing but the C library loaded.
(cd / && strace -f -e trace=openat -o "$work/strace-version" sentrel-inspect --version >/dev/null 2>&1) || true
grep -q 'openat([^"]*"[^"]*\(sentrel-inspect\.so\|libstdc++\|libcrypto\)[^"]*", [^)]*) = [0-9]' "$work/strace-version" \
  && fail "sentrel-inspect --version loaded the inspector" || pass "sentrel-inspect --version loads nothing but the C library"

# Run away from the build tree, it must read its resources from /usr/share
# and touch nothing in the build tree; its report is the build's.
probe=$fixtures/devid-x86_64
if (cd / && strace -f -e trace=openat -o "$work/strace" /usr/bin/sentrel-inspect --json "$probe" >"$work/installed.json" 2>/dev/null); then
  pass "installed sentrel-inspect inspects $(basename "$probe")"
else
  fail "installed sentrel-inspect exit status on $(basename "$probe")"
fi
# A signed Mach-O file is reported without Qt: the MIME database and the
# image library are plug-ins loaded only when needed.
grep -q 'openat([^"]*"[^"]*libQt6[^"]*", [^)]*) = [0-9]' "$work/strace" \
  && fail "Qt was loaded for a signed Mach-O file" || pass "no Qt library opened for a signed Mach-O file"
# A text file needs the MIME database: its plug-in comes from /usr/lib.
printf 'plain words\n' >"$work/notes.txt"
(cd / && strace -f -e trace=openat -o "$work/strace-text" /usr/bin/sentrel-inspect --json "$work/notes.txt" >"$work/text.json" 2>/dev/null) || true
grep -q 'openat([^"]*"/usr/lib/sentrel/PlugIns/MimeTypes.so", [^)]*) = [0-9]' "$work/strace-text" \
  && pass "MimeTypes plug-in loaded from /usr/lib/sentrel/PlugIns" || fail "MimeTypes plug-in not loaded from /usr/lib/sentrel/PlugIns"
grep -q 'notes.txt' "$work/text.json" && pass "text file reported" || fail "text file not reported"
grep -qF "$root" "$work/strace" && fail "installed program opened files in $root" || pass "no file opened in the source or build tree"
(cd / && "$root/$build/bin/sentrel-inspect" --json "$probe" >"$work/built.json" 2>/dev/null) || true
# Object descriptions in the report carry addresses, which differ per run.
sed -i 's/0x[0-9a-f]\+/0x/g' "$work/installed.json" "$work/built.json"
cmp -s "$work/installed.json" "$work/built.json" && pass "report equals the build tree's" || fail "report differs from the build tree's"
# A folder with two jobs: the workers load the inspector from /usr/lib too,
# and the reports are the same as with one.
for jobs in 1 2; do
  (cd / && /usr/bin/sentrel-inspect --json --jobs "$jobs" "$fixtures" 2>/dev/null | sed 's/0x[0-9a-f]\+/0x/g' >"$work/folder-$jobs.json") || true
done
[ -s "$work/folder-2.json" ] && cmp -s "$work/folder-1.json" "$work/folder-2.json" \
  && pass "a folder with two jobs reports as with one" || fail "a folder with two jobs reports otherwise than with one"

# The frameworks: each folder's Info.plist names an executable that loads with
# every symbol bound.
for fw in /usr/lib/sentrel/Frameworks/*.framework; do
  name=$(basename "$fw" .framework)
  grep -q "<string>$name</string>" "$fw/Resources/Info.plist" 2>/dev/null \
    && pass "$name.framework Info.plist" || fail "$name.framework has no Info.plist naming $name"
  python3 -c 'import ctypes, sys; ctypes.CDLL(sys.argv[1], mode=ctypes.RTLD_LOCAL)' "$fw/$name" 2>"$work/dlopen.err" \
    && pass "$name.framework loads" || fail "$name.framework does not load: $(cat "$work/dlopen.err")"
done
[ -d /usr/lib/sentrel/Frameworks ] && ls /usr/lib/sentrel/Frameworks/*.framework >/dev/null 2>&1 \
  || fail "no framework in /usr/lib/sentrel/Frameworks"

# The plug-ins load with every symbol bound.
for plugin in /usr/lib/sentrel/PlugIns/*.so; do
  python3 -c 'import ctypes, sys; ctypes.CDLL(sys.argv[1], mode=ctypes.RTLD_LOCAL)' "$plugin" 2>"$work/dlopen.err" \
    && pass "$(basename "$plugin") loads" || fail "$(basename "$plugin") does not load: $(cat "$work/dlopen.err")"
done
ls /usr/lib/sentrel/PlugIns/AppKitImages.so /usr/lib/sentrel/PlugIns/MimeTypes.so >/dev/null 2>&1 \
  && pass "plug-ins packaged" || fail "a plug-in is missing from /usr/lib/sentrel/PlugIns"

# Every installed binary's libraries resolve.
while IFS= read -r f; do
  [ -f "$f" ] && head -c4 "$f" | grep -q ELF || continue
  if ldd "$f" | grep -q "not found"; then fail "ldd $f: $(ldd "$f" | grep "not found" | tr -s ' \t' ' ')"; else pass "ldd $f"; fi
done < <(dpkg -L sentrel)

if [ -e /usr/bin/sentrel ]; then
  if grep -aq -- "--version" /usr/bin/sentrel; then
    out=$(cd / && QT_QPA_PLATFORM=offscreen timeout 20 sentrel --version 2>&1) \
      && pass "sentrel --version: $out" || fail "sentrel --version: $out"
  fi
fi

# The desktop entry, and the application database the desktop-file-utils
# trigger rebuilt.
desktop-file-validate /usr/share/applications/sentrel.desktop >"$work/validate" 2>&1 \
  && pass "desktop-file-validate" || fail "desktop-file-validate: $(cat "$work/validate")"
grep -q '^application/x-mach-binary=.*sentrel\.desktop' /usr/share/applications/mimeinfo.cache \
  && pass "mimeinfo.cache: Mach-O opens with sentrel.desktop" || fail "mimeinfo.cache has no Mach-O entry for sentrel.desktop"
grep -q '^inode/directory=.*sentrel\.desktop' /usr/share/applications/mimeinfo.cache \
  && pass "mimeinfo.cache: folders open with sentrel.desktop" || fail "mimeinfo.cache has no folder entry for sentrel.desktop"
# GIO drops an entry whose TryExec program is missing, so it offers Sentrel
# only where the window program is installed.
if [ -e /usr/bin/sentrel ]; then
  gio mime application/x-mach-binary 2>/dev/null | grep -q sentrel.desktop \
    && pass "GIO offers sentrel.desktop for Mach-O files" || fail "GIO does not offer sentrel.desktop for Mach-O files"
fi

# The MIME type, from the database the shared-mime-info trigger rebuilt.
for f in "${mach_files[@]}"; do
  expect "xdg-mime filetype $(basename "$f")" "$(filetype "$f")" application/x-mach-binary
done
for f in "$work/Hello.class" "$work/class-without-suffix" "$work/class-preview"; do
  expect "xdg-mime filetype $(basename "$f")" "$(filetype "$f")" application/x-java
done
expect "xdg-mime filetype plain.txt" "$(filetype "$fixtures/plain.txt")" text/plain
expect "xdg-mime filetype DeveloperID.app" "$(filetype "$fixtures/DeveloperID.app")" inode/directory

# The icons: each PNG as large as its folder says.
for size in 16 22 24 32 48 64 128 256 512; do
  f=/usr/share/icons/hicolor/${size}x${size}/apps/sentrel.png
  file -b "$f" 2>/dev/null | grep -q "^PNG image data, $size x $size," && pass "icon $size" || fail "icon $f: $(file -b "$f" 2>&1)"
done
xmllint --noout /usr/share/icons/hicolor/scalable/apps/sentrel.svg 2>/dev/null \
  && pass "scalable icon is well-formed" || fail "scalable icon is not well-formed XML"

# ---------------------------------------------------------------- removed
echo "== apt-get purge sentrel"
apt-get purge -y -qq sentrel >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge"; }
[ ! -e /usr/bin/sentrel-inspect ] && pass "sentrel-inspect removed" || fail "/usr/bin/sentrel-inspect still there"
[ ! -e /usr/lib/sentrel ] && pass "frameworks removed" || fail "/usr/lib/sentrel still there"
expect "fat-mixed after removal" "$(filetype "$fixtures/fat-mixed")" "$before_fat"
[ "$(filetype "$fixtures/unsigned-x86_64")" != application/x-mach-binary ] \
  && pass "MIME database forgot the type" || fail "Mach-O type still known after removal"
grep -q 'sentrel\.desktop' /usr/share/applications/mimeinfo.cache \
  && fail "mimeinfo.cache still names sentrel.desktop" || pass "mimeinfo.cache forgot sentrel.desktop"

echo "package-check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
