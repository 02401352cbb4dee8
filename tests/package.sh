#!/bin/bash
# Builds the .deb and the .tar.gz from a build tree, installs the .deb into a
# scratch root (not the machine), checks what is where, and starts the
# installed program offscreen: it must listen on port 10013.
#   tests/package.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
scratch=$(mktemp -d)
program=""
cleanup() {
    [ -n "$program" ] && kill "$program" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G "DEB;TGZ" -B "$scratch/packages") >"$scratch/cpack.log" 2>&1 || {
    cat "$scratch/cpack.log"
    fail "cpack"
}
deb=$(ls "$scratch"/packages/*.deb)
tgz=$(ls "$scratch"/packages/*.tar.gz)
dpkg-deb --field "$deb" Package Depends | grep -q "libqt5network5" || fail "the .deb does not depend on Qt's network module"

root=$scratch/root
dpkg-deb -x "$deb" "$root"
for path in usr/lib/tcpserver/TcpServer usr/lib/tcpserver/device-emulator; do
    [ -x "$root/$path" ] || fail "$path missing or not executable"
done
for link in usr/bin/TcpServer usr/bin/device-emulator; do
    [ -L "$root/$link" ] && [ -x "$root/$link" ] || fail "$link is not a working link"
done
[ -d "$root/usr/lib/tcpserver/abset/boor/true" ] || fail "no folder for the image"
[ -f "$root/usr/share/applications/tcpserver.desktop" ] || fail "no desktop entry"
grep -q "^Exec=TcpServer$" "$root/usr/share/applications/tcpserver.desktop" || fail "desktop entry runs something else"
grep -q "^Icon=tcpserver$" "$root/usr/share/applications/tcpserver.desktop" || fail "desktop entry has no icon"
[ -f "$root/usr/share/icons/hicolor/scalable/apps/tcpserver.svg" ] || fail "no icon"

# The tarball holds the same, relative, and its emulator runs.
mkdir "$scratch/tar"
tar -xzf "$tgz" -C "$scratch/tar"
unpacked=$(ls -d "$scratch"/tar/*/)
[ -L "$unpacked/bin/TcpServer" ] || fail "the tarball has no bin/TcpServer"
"$unpacked/bin/device-emulator" --help | grep -q -- "--expect" || fail "the packaged emulator does not run"

# The Windows icon: one group of twelve images, named as the program expects.
[ "$(od -An -tu2 -j4 -N2 "$source/app/icons/tcpserver.ico" | tr -d ' ')" = 12 ] || fail "the .ico does not hold twelve images"
grep -q "^IDI_ICON1 ICON" "$source/app/tcpserver.rc" || fail "the .rc does not name IDI_ICON1"

# Started from its link as a user would, offscreen, it must listen on 10013.
QT_QPA_PLATFORM=offscreen "$root/usr/bin/TcpServer" >"$scratch/program.log" 2>&1 &
program=$!
for _ in $(seq 100); do
    if (exec 3<>/dev/tcp/127.0.0.1/10013) 2>/dev/null; then
        echo "PASS: the installed program listens on port 10013"
        exit 0
    fi
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
done
cat "$scratch/program.log" >&2
fail "the installed program does not listen on port 10013"
