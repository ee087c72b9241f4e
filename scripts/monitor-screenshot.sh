#!/usr/bin/env bash
# Makes docs/monitor.png: the lamp monitor under a virtual X server, showing
# the bytes given (default 0xA5), on a simulated port in a throw-away folder.
#   scripts/monitor-screenshot.sh [BYTE...]
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != "--inside" ]; then
  scripts/deps.sh xvfb imagemagick x11-utils
  cmake -S . -B build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/normal -j "$(nproc)" --target portio-monitor portio-out
  exec xvfb-run -a -s '-screen 0 1024x768x24' "$0" --inside "$@"
fi
shift
bytes=("$@")
[ ${#bytes[@]} -eq 0 ] && bytes=(0xA5)

runtime=$(mktemp -d)
trap 'kill "${monitor:-}" 2>/dev/null || true; rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime PORTIO_BACKEND=sim
unset PORTIO_TRACE PORTIO_DEVICE
bin=build/normal/bin

"$bin/portio-monitor" &
monitor=$!
window=
for _ in $(seq 100); do
  window=$(xwininfo -root -tree | awk '/"Lamp monitor/ {print $1; exit}')
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "the monitor's window did not appear" >&2; exit 1; }
"$bin/portio-out" "${bytes[@]}"
sleep 0.5  # a few frames: the monitor looks once a frame
mkdir -p docs
import -window "$window" docs/monitor.png
echo "docs/monitor.png: ${bytes[*]}"
