#!/bin/sh
# Installs what is missing, builds the program in Release and starts it.
set -eu
cd "$(dirname "$0")"
. scripts/packages.sh
ensure_packages $BUILD_PACKAGES

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
# The program, and what the README has you run beside it: the device emulator,
# the station and (Linux) the address helper.
cmake --build build

if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
    echo "No display here: the window runs offscreen and is not visible; the server listens on port 10013 (Ctrl+C stops it)."
fi
exec build/bin/TcpServer
