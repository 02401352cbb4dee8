#!/bin/sh
# Prints the folder of Qt 5.15 for 64-bit Windows, making it first where it is
# missing: from TCPSERVER_WINDOWS_QT (a ready-built qt5-mingw64.tar.xz, or its
# unpacked folder) where that is set, else built from Debian's own Qt source
# package with Debian's mingw-w64 compilers into the cache folder (about half
# an hour on two cores; as root, for apt-get). Does nothing when it is there.
set -eu
cache=${XDG_CACHE_HOME:-$HOME/.cache}/tcpserver
qt=$cache/qt5-mingw64
given=${TCPSERVER_WINDOWS_QT:-}
if [ -d "$given" ] && [ -f "$given/lib/cmake/Qt5/Qt5Config.cmake" ]; then
    echo "$given"
    exit 0
fi
if [ ! -f "$qt/lib/cmake/Qt5/Qt5Config.cmake" ]; then
    mkdir -p "$cache"
    if [ -f "$given" ]; then
        tar -xJf "$given" -C "$cache"
    else
        echo "Building Qt for Windows into $qt (about half an hour)..." >&2
        "$(dirname "$0")/build-qt-windows.sh" "$qt" >&2
    fi
fi
echo "$qt"
