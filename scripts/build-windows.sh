#!/bin/sh
# Builds the programs for 64-bit Windows with mingw-w64 into BUILD (default
# build-windows/), with the Windows builds of the tests, and makes
# BUILD/tcpserver-<version>-win64.zip, which a technician unpacks and runs, and
# BUILD/tcpserver-<version>-win64-setup.exe, which installs it. The Qt for
# Windows comes from scripts/windows-qt.sh (TCPSERVER_WINDOWS_QT_FIND=1: only
# found, never made).
#   scripts/build-windows.sh [BUILD]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-windows}
qt=$(scripts/windows-qt.sh ${TCPSERVER_WINDOWS_QT_FIND:+--find})
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON \
    -DCMAKE_TOOLCHAIN_FILE="$(pwd)/packaging/windows/mingw-w64.cmake" -DTCPSERVER_WINDOWS_QT="$qt"
cmake --build "$build"
(cd "$build" && cpack -G "ZIP;NSIS" >/dev/null && ls "$(pwd)"/tcpserver-*-win64.zip "$(pwd)"/tcpserver-*-win64-setup.exe)
