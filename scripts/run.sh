#!/usr/bin/env bash
# Installs what is missing, builds, and starts the running light. When the port
# library will simulate the port (no parallel port at 888 here, or
# PORTIO_BACKEND=sim), the lamp monitor starts beside it and is stopped when
# the running light ends.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

cmake -S . -B build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/normal -j "$(nproc)"

bin=build/normal/bin

# The window needs a graphical session (X11 or Wayland).
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: start scripts/run.sh from a desktop session (or under xvfb-run)." >&2
  exit 1
fi

# The monitor asks the port library's own chooser, with this environment,
# whether port 888 will be simulated; if not, it says why and exits at once.
"$bin/portio-monitor" --if-simulated &
monitor=$!
stop_monitor() {
  kill "$monitor" 2>/dev/null && wait "$monitor" 2>/dev/null
  return 0
}
trap stop_monitor EXIT
trap 'exit 130' INT TERM
"$bin/qtx"
