#!/bin/sh
# Installs what is missing, builds the program with its tests and runs the whole
# suite. Exits non-zero on any failure.
set -eu
cd "$(dirname "$0")"
. scripts/packages.sh
ensure_packages $TEST_PACKAGES

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-tests -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTCPSERVER_BUILD_TESTS=ON
cmake --build build-tests -j "$jobs"
cd build-tests
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs"
