#!/usr/bin/env bash
# Installs from Debian's packages whatever the build, the program and the tests
# need and the machine lacks. Uses sudo when not run as root.
#   scripts/deps.sh [--run] [--vm] [--ola] [PACKAGE...]
# --run: only what building and running the program needs (scripts/run.sh);
# --vm:  also what the VM tests need (see below);
# --ola: also OLA (see below).
# Further names are installed too.
set -euo pipefail

# Building and running qtx, the port library and the lamp monitor (Qt's D-Bus
# module, for RealtimeKit, comes with qt6-base-dev). The windows' font is
# DejaVu Sans Condensed (fonts-dejavu-extra).
packages=(
  g++ cmake make ninja-build pkg-config libinih-dev
  qt6-base-dev libgl-dev qt6-wayland
  fonts-dejavu-core fonts-dejavu-extra
)
# The tests, the benchmarks, the package and the GPIO module need more; --run
# leaves them out.
# --vm: also what the VM tests (tests/vm) need to boot their emulated PC and,
# for the GPIO boot, to build the gpio-sim module for Debian's current kernel
# (its headers, and its sources: linux-source names the release's own,
# linux-source-6.1 on Debian 12, 6.12 on Debian 13). Only the test command
# asks for these; without them those tests are skipped. (The kernel and a
# static busybox are fetched by the tests themselves, never installed.) The
# guest is a PC: elsewhere (arm64) --vm adds nothing and the tests are skipped.
# --ola: also OLA, for the OLA back end (libola-dev; the build leaves the
# module out without it) and its tests and benchmark (the daemon, ola; ip from
# iproute2 builds the wire tests' network namespace). The
# test command and the package command ask for these. Installing ola does not
# start its daemon.
everything=1
while [ $# -gt 0 ]; do
  case $1 in
    --run) everything=0 ;;
    --vm)
      if [ "$(dpkg --print-architecture)" = amd64 ]; then
        packages+=(qemu-system-x86 cpio make xz-utils linux-headers-amd64 linux-source)
      fi
      ;;
    --ola) packages+=(ola libola-dev iproute2) ;;
    *) break ;;
  esac
  shift
done
if [ "$everything" = 1 ]; then
  packages+=(
    qt6-base-dev-tools
    xvfb x11-utils xdotool openbox mutter xwayland dbus-daemon qt6-wayland
    dpkg-dev desktop-file-utils appstream librsvg2-bin file
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libgpiod-dev
  )
fi
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
# Another package manager may hold the locks (on a fresh machine's first boot,
# unattended-upgrades does): wait for it, up to 15 minutes, rather than fail.
# apt waits for dpkg's lock itself; for the package lists' lock (apt-get
# update) it does not, so that is retried here.
wait_lock=(-o DPkg::Lock::Timeout=900)
waited=0
until output=$("${as_root[@]}" apt-get "${wait_lock[@]}" update -qq 2>&1); do
  if ! grep -q 'Could not get lock' <<<"$output" || [ "$waited" -ge 900 ]; then
    echo "$output" >&2
    exit 1
  fi
  [ "$waited" -gt 0 ] || echo "Waiting for another package manager to finish (apt-get update)..."
  sleep 5
  waited=$((waited + 5))
done
[ -z "$output" ] || echo "$output"
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get "${wait_lock[@]}" install -y -qq \
  --no-install-recommends "${missing[@]}"
