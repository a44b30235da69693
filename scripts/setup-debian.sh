#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests and the demo need.
set -euo pipefail
packages=(
  build-essential cmake pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev libplist-dev libxml2-dev libexpat1-dev libicu-dev nlohmann-json3-dev zlib1g-dev libmimalloc-dev
  qt6-base-dev qt6-pdf-dev qt6-svg-dev qt6-image-formats-plugins adwaita-icon-theme hicolor-icon-theme shared-mime-info
  fonts-dejavu-core attr
  # The benchmarks' peak memory of a process (GNU time).
  time
  # The window tests: a private X server, a mouse, screenshots.
  xvfb xauth xdotool imagemagick x11-utils python3
  # The Debian package and the check of an installed one.
  dpkg-dev desktop-file-utils xdg-utils libglib2.0-bin strace
  # Their accessibility tree: a private session bus, the AT-SPI bus, pyatspi;
  # and a sandbox like Flatpak's for the program itself.
  dbus-daemon dbus-bin at-spi2-core python3-pyatspi bubblewrap
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
