#!/usr/bin/env bash
# Installs what is missing, builds QTX for /usr and makes its Debian packages:
# build/package/qtx_<version>_<architecture>.deb (install it with apt), and
# qtx-NAME_... for each back end module built (qtx-gpio: GPIO lines).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DRUNLIGHT_TESTS=OFF -DRUNLIGHT_BENCH=OFF >/dev/null
cmake --build build/package -j "$(nproc)"
cpack --config build/package/CPackConfig.cmake -G DEB -B build/package
ls -l build/package/*.deb
