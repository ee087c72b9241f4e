# Cross-building for arm64 (a Raspberry Pi with a 64-bit OS) on a Debian
# amd64 machine, as docs/SYSTEMS.md describes: Debian's cross compiler
# (g++-aarch64-linux-gnu), the arm64 -dev packages beside the machine's own
# (dpkg --add-architecture arm64), and Qt's host tools from
# qt6-base-dev-tools. Use with PKG_CONFIG_LIBDIR set to the arm64 pkg-config
# folders:
#   PKG_CONFIG_LIBDIR=/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig \
#   cmake -S . -B build/arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
