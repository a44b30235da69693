#!/usr/bin/env bash
# Installs what is needed, builds the program and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)"
echo "Sentrel $(cat VERSION 2>/dev/null || echo 0.1.0)"
