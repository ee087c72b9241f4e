#!/usr/bin/env bash
# Starts the running light: checks for a graphical session, installs what
# building and running need and the machine lacks, builds the program, the
# port library and the lamp monitor (no tests, no benchmarks) in build/run, a
# folder of its own, and starts them as the desktop menu does (qtx-session):
# when the port will be simulated, the lamp monitor opens beside the running
# light and closes when it ends.
set -euo pipefail
cd "$(dirname "$0")/.."

# First, before any work: the windows need a graphical session.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'TEXT'
scripts/run.sh: there is no graphical session here (neither DISPLAY nor
WAYLAND_DISPLAY is set), so the windows could not open. Nothing was installed
or built. To get one:
  - run it from a terminal inside your desktop session (X11 or Wayland);
  - over SSH, log in with X forwarding: ssh -X user@host, then scripts/run.sh;
  - on a machine without a screen, under a virtual X server (you will not see
    the windows): sudo apt install xvfb, then xvfb-run -a scripts/run.sh.
TEXT
  exit 1
fi

scripts/deps.sh --run

# Every setting given here, so that nothing carries over from another build.
# Ninja builds the three targets side by side and finds nothing to do in a
# fraction of a second; a folder left by another generator is made anew.
build=build/run
if [ -f "$build/CMakeCache.txt" ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$build/CMakeCache.txt"; then
  rm -rf "$build"
fi
# Of the configure output, only what matters here: which back end modules are
# built and why not (a module's library missing or too old never stops the
# program's build), CMake's warnings, and everything when it fails.
mkdir -p "$build"
if ! cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DRUNLIGHT_TESTS=OFF -DRUNLIGHT_BENCH=OFF -DRUNLIGHT_SANITIZE=OFF -DRUNLIGHT_WERROR=OFF \
  >"$build/configure.log" 2>&1; then
  cat "$build/configure.log" >&2
  echo "scripts/run.sh: configuring the build failed (the output above is in $build/configure.log)" >&2
  exit 1
fi
sed -n -e 's/^-- \(.* back end: \)/\1/p' -e '/^CMake \(Warning\|Deprecation\)/,/^$/p' "$build/configure.log"
# The back end modules (OLA, GPIO) too, where their libraries' -dev packages
# are installed (scripts/deps.sh --ola, or libgpiod-dev): a port set to one of
# them in portio.conf then works from here as well.
targets=(qtx portio portio-monitor)
for module in portio-ola portio-gpio; do
  if ninja -C "$build" -t query "$module" >/dev/null 2>&1; then
    targets+=("$module")
  fi
done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

exec "$build/bin/qtx-session"
