#!/usr/bin/env bash
# Installs from Debian's packages whatever the build, the program and the tests
# need and the machine lacks. Uses sudo when not run as root.
set -euo pipefail

packages=(
  g++ cmake make pkg-config libinih-dev
  dpkg-dev desktop-file-utils appstream librsvg2-bin file
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-dejavu-core fonts-dejavu-extra
)
# --vm: also what the VM test (tests/vm) needs to boot its emulated PC. Only
# the test command asks for these; without them that test is skipped. (Its
# kernel and static busybox are fetched by the test itself, never installed.)
# --ola: also OLA, for the OLA back end (libola-dev; the build leaves the
# module out without it) and its tests and benchmark (the daemon, ola). The
# test command and the package command ask for these. Installing ola does not
# start its daemon.
while [ $# -gt 0 ]; do
  case $1 in
    --vm) packages+=(qemu-system-x86 cpio) ;;
    --ola) packages+=(ola libola-dev) ;;
    *) break ;;
  esac
  shift
done
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
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
