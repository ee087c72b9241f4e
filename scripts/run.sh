#!/usr/bin/env bash
# Installs what is missing, builds, and starts the running light.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

cmake -S . -B build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/normal -j "$(nproc)"

# The window needs a graphical session (X11 or Wayland).
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: start scripts/run.sh from a desktop session (or under xvfb-run)." >&2
  exit 1
fi
exec build/normal/bin/qtx
