#!/usr/bin/env bash
# Installs what is missing, builds QTX for /usr and makes its Debian packages:
# build/package/qtx_<version>_<architecture>.deb and, for each back end
# module built, its own package: qtx-ola_<version>_<architecture>.deb for DMX
# lamps through OLA, qtx-gpio_... for relays on GPIO lines (install them with
# apt).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh --ola

cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DRUNLIGHT_TESTS=OFF -DRUNLIGHT_BENCH=OFF >/dev/null
cmake --build build/package -j "$(nproc)"
cpack --config build/package/CPackConfig.cmake -G DEB -B build/package
ls -l build/package/*.deb
