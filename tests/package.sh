#!/bin/bash
# The packages, end to end: lintian, dpkg -i, support/package-flash.sh in a network namespace, purge.
# It refuses where a tcpserver package is installed already (its purge would take the image along).
#   tests/package.sh BUILD_DIR      (as root, or with sudo)
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }
if [ "$(id -u)" = 0 ]; then root=""; elif sudo -n true 2>/dev/null; then root="sudo -n"; else
    fail "installing the package needs root: run the tests as root or with sudo (./test.sh asks sudo)"; fi
if [ -n "$(dpkg-query -W -f='${db:Status-Status}' tcpserver 2>/dev/null | grep -v '^not-installed$')" ] ||
    [ -e /var/lib/tcpserver ]; then
    fail "tcpserver is installed on this machine (or /var/lib/tcpserver is left): this test would replace it and" \
         "purge its image. Remove it first (apt purge tcpserver), or leave this test out (ctest -LE package)"
fi
scratch=$(mktemp -d) installed=no
chmod 755 "$scratch"
cleanup() {
    [ "$installed" = no ] || $root dpkg --purge tcpserver >/dev/null 2>&1 || true
    rm -rf "$scratch"
}
trap cleanup EXIT

(cd "$build" && cpack -G "DEB;TGZ" -B "$scratch/packages") >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; fail cpack; }
deb=$(ls "$scratch"/packages/*.deb) && lintian --allow-root --fail-on error,warning "$deb" || fail "lintian has errors or warnings"
tar -xzf "$scratch"/packages/*.tar.gz -C "$scratch"
"$scratch"/tcpserver-*/bin/device-emulator --version | grep -q "device-emulator 1" || fail "the tarball's emulator"

# dpkg, not apt: nothing is downloaded; the dependencies are the test's own packages.
installed=yes
$root dpkg -i "$deb" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "dpkg -i"; }
dpkg -L tcpserver >"$scratch/files"
helper=/usr/lib/tcpserver/tcpserver-set-address
[ "$(stat -c '%U:%G %a' $helper)" = "root:tcpserver 750" ] || fail "the helper is not root:tcpserver 750"
getcap $helper | grep -q "cap_net_admin=ep" || fail "the helper lacks its capability"
for program in TcpServer tcpserver-station device-emulator; do
    /usr/bin/$program --version | grep -q "^$program 1" || fail "$program --version"
done
/usr/bin/TcpServer --help | grep -q -- "--no-log" || fail "TcpServer --help"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/TcpServer 2>&1) && fail "started without a display"
[ "$(echo "$out" | grep -c .)" = 1 ] && echo "$out" | grep -q "no display" || fail "without a display: $out"

$root unshare --net bash "$here/support/package-flash.sh" "$scratch" || fail "as the technician would use it"

$root dpkg --purge tcpserver >"$scratch/dpkg.log" 2>&1 || fail "dpkg --purge"
installed=no
while read -r file; do
    if [ -L "$file" ] || { [ -e "$file" ] && [ ! -d "$file" ]; }; then fail "$file is left after purge"; fi
done <"$scratch/files"
[ ! -e /var/lib/tcpserver ] || fail "/var/lib/tcpserver is left after purge"
echo "PASS: built, lintian-clean, installed, the helper refusing what it must, flashed by an ordinary user, purged"
