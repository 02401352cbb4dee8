#!/bin/bash
# The packages, end to end: the .deb and the .tar.gz, lintian, apt-get install; an ordinary user of the
# group tcpserver puts the image in place, tries the address helper with bad names (in this network
# namespace), starts the installed program on a display of its own (Xvfb: the offscreen platform takes no
# key press from outside), loads the image and flashes it with the installed emulator; purge leaves nothing.
#   tests/package.sh BUILD_DIR      (in a network namespace of its own)
set -euo pipefail
build=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
if [ "$(id -u)" = 0 ]; then root=""; elif sudo -n true 2>/dev/null; then root="sudo -n"; else
    echo "SKIP: installing the package needs root or sudo"; exit 77; fi
scratch=$(mktemp -d) pids=""
chmod 755 "$scratch"
cleanup() { kill $pids 2>/dev/null || true; $root apt-get purge -y -q tcpserver >/dev/null 2>&1 || true; rm -rf "$scratch"; }
trap cleanup EXIT

(cd "$build" && cpack -G "DEB;TGZ" -B "$scratch/packages") >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; fail cpack; }
deb=$(ls "$scratch"/packages/*.deb) && lintian --allow-root --fail-on error,warning "$deb" || fail "lintian has errors or warnings"
tar -xzf "$scratch"/packages/*.tar.gz -C "$scratch"
"$scratch"/tcpserver-*/bin/device-emulator --version | grep -q "device-emulator 1" || fail "the tarball's emulator"

$root apt-get install -y -q "$deb" >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log"; fail "apt-get install"; }
dpkg -L tcpserver >"$scratch/files"
helper=/usr/lib/tcpserver/tcpserver-set-address
[ "$(stat -c '%U:%G %a' $helper)" = "root:tcpserver 750" ] || fail "the helper is not root:tcpserver 750"
getcap $helper | grep -q "cap_net_admin=ep" || fail "the helper lacks its capability"

# An ordinary user in the group, with a home and a runtime folder of its own.
as_user() { setpriv --reuid=nobody --regid=nogroup --groups="$(getent group tcpserver | cut -d: -f3)" \
    --inh-caps=-all env HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/run" "$@"; }
install -d -o nobody -m 700 "$scratch/home" "$scratch/run"
head -c 300000 /dev/urandom >"$scratch/image.bin"
as_user cp "$scratch/image.bin" /var/lib/tcpserver/file.bin || fail "the group cannot write the image"

# The helper takes nothing but the name of an existing interface.
ip link add Ethernet type veth peer name peer0 && ip address add 10.1.1.1/24 dev Ethernet
for name in "" Ethernet0123456 Ethernet9 Ether/net "$(printf 'Ether\nnet')"; do
    as_user $helper "$name" 2>/dev/null && fail "the helper took \"$name\"" || [ $? = 2 ] || fail "the helper failed on \"$name\""
done
[ "$(ip -4 -o address show dev Ethernet | awk '{print $4}')" = 10.1.1.1/24 ] || fail "a refused name changed an address"
ip link delete Ethernet

. "$(dirname "$0")/support/display.sh"
as_user QT_QPA_PLATFORM=xcb /usr/bin/TcpServer >"$scratch/program.log" 2>&1 &
pids="$pids $!"
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tcp Server$' | head -n 1) || fail "no window"
xdotool windowfocus --sync "$window" key space
as_user /usr/bin/device-emulator --expect "$scratch/image.bin" --quiet || { cat "$scratch/program.log"; fail "the flash"; }

out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/TcpServer 2>&1) && fail "started without a display"
[ "$(echo "$out" | grep -c .)" = 1 ] && echo "$out" | grep -q "no display" || fail "without a display: $out"

$root apt-get purge -y -q tcpserver >"$scratch/apt.log" 2>&1 || fail "apt-get purge"
while read -r file; do
    if [ -L "$file" ] || { [ -e "$file" ] && [ ! -d "$file" ]; }; then fail "$file is left after purge"; fi
done <"$scratch/files"
[ ! -e /var/lib/tcpserver ] || fail "/var/lib/tcpserver is left after purge"
echo "PASS: built, lintian-clean, installed, flashed by an ordinary user, purged"
