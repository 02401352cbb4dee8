#!/bin/sh
# Prints the folder of Qt 5.15 for 64-bit Windows, making it first where it is
# missing: from TCPSERVER_WINDOWS_QT (a ready-built qt5-mingw64.tar.xz, or its
# unpacked folder) where that is set, else built once from Debian's own Qt
# source package into the cache folder. Does nothing when it is there.
#   scripts/windows-qt.sh [--find]
# --find only looks (the Wine test uses it: it runs where nothing may be
# downloaded) and says in one line how to make it when it is missing.
set -eu
cache=${XDG_CACHE_HOME:-$HOME/.cache}/tcpserver
qt=$cache/qt5-mingw64
given=${TCPSERVER_WINDOWS_QT:-}
if [ -n "$given" ] && [ -f "$given/lib/cmake/Qt5/Qt5Config.cmake" ]; then
    echo "$given"
    exit 0
fi
if [ -f "$qt/lib/cmake/Qt5/Qt5Config.cmake" ]; then
    echo "$qt"
    exit 0
fi
if [ "${1:-}" = --find ]; then
    echo "no Qt for Windows in $qt: run scripts/windows-qt.sh (./test.sh does), which makes it" >&2
    exit 1
fi
mkdir -p "$cache"
if [ -f "$given" ]; then
    tar -xJf "$given" -C "$cache"
else
    echo "Building Qt 5.15 for Windows once into $qt: about half an hour on two cores, 1.5 GB of scratch space in ${TMPDIR:-/tmp}, 115 MB kept, nothing else added to this system; later runs reuse it." >&2
    "$(dirname "$0")/build-qt-windows.sh" "$qt.partial" >"$cache/qt-build.log" 2>&1 ||
        { tail -20 "$cache/qt-build.log" >&2; echo "error: building Qt for Windows failed; the whole log: $cache/qt-build.log" >&2; exit 1; }
    mv "$qt.partial" "$qt"
fi
echo "$qt"
