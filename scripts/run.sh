#!/usr/bin/env bash
# Installs what is missing, builds, and starts the running light.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

cmake -S . -B build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/normal -j "$(nproc)"

if [ ! -x build/normal/bin/qtx ]; then
  echo "The running light's window is not built yet; the logic and its tests are (scripts/test.sh)."
  exit 0
fi
exec build/normal/bin/qtx
