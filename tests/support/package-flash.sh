#!/bin/bash
# The installed package as a technician uses it, in this (private) network
# namespace: the PC's adapter Ethernet is cabled (a veth pair) to a device at
# 192.168.0.50 in a namespace of its own. Run by tests/package.sh.
#   tests/support/package-flash.sh SCRATCH
set -euo pipefail
scratch=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
pids=""
trap 'kill $pids 2>/dev/null || true' EXIT
ip link set lo up

# An ordinary user, as the system starts one: a process without privileges of
# its own (env) starts what the user runs.
member=$(getent group tcpserver | cut -d: -f3) stranger=$(getent group nogroup | cut -d: -f3)
user=(setpriv --reuid=nobody --regid=nogroup --inh-caps=-all env HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/run")
as_user() { group=$1; shift; "${user[@]:0:3}" --groups="$group" "${user[@]:3}" "$@"; }
install -d -o nobody -m 700 "$scratch/home" "$scratch/run"
head -c 300000 /dev/urandom >"$scratch/image.bin"
as_user "$member" cp "$scratch/image.bin" /var/lib/tcpserver/file.bin || fail "the group cannot write the image"

# The cable, and the device on its other end.
unshare --net sleep 600 &
device=$! pids="$pids $!"
for _ in $(seq 50); do [ "$(readlink /proc/$device/ns/net)" != "$(readlink /proc/self/ns/net)" ] && break; sleep 0.1; done
on_device() { nsenter --net=/proc/$device/ns/net "$@"; }
ip link add Ethernet type veth peer name peer0 && ip link set peer0 netns $device
ip address add 10.1.1.1/24 dev Ethernet && ip link set Ethernet up
on_device ip address add 192.168.0.50/24 dev peer0 && on_device ip link set peer0 up && on_device ip link set lo up
mac=$(on_device ip -o link show peer0 | sed -n "s/.*link\/ether \([0-9a-f:]*\).*/\1/p")

# The helper: nobody outside the group starts it; a member gets only the wired
# adapter's address changed, and only on the wired adapter.
helper=/usr/lib/tcpserver/tcpserver-set-address
status=0; as_user "$stranger" $helper Ethernet 2>/dev/null || status=$?
[ $status = 126 ] || fail "a stranger to the group got the helper started (status $status)"
for refused in "lo 3" "eth0 3" "wg0 3" "peer0 3" "Ethernet:1 3" "Ethernet9 3" "Ethernet5 4" "x/y 3"; do
    set -- $refused
    status=0; as_user "$member" $helper "$1" 2>/dev/null || status=$?
    [ $status = "$2" ] || fail "the helper answered \"$1\" with status $status, not $2"
done
[ "$(ip -4 -o address show dev Ethernet | awk '{print $4}')" = 10.1.1.1/24 ] || fail "a refused name changed an address"
[ "$(ip -4 -o address show dev lo | awk '{print $4}')" = 127.0.0.1/8 ] || fail "the loopback lost its address"
as_user "$member" $helper Ethernet || fail "a member could not set the address"
[ "$(ip -4 -o address show dev Ethernet | awk '{print $4}')" = 192.168.0.92/24 ] || fail "the helper left other addresses"

# The window, on a display of its own (Xvfb: the offscreen platform takes no key
# press from outside): Download has the focus, Space loads the image, the
# device flashes, and the record names the image and the device.
. "$(dirname "$0")/display.sh"
# (Started as a simple command, so that $! is the program's own process.)
"${user[@]:0:3}" --groups="$member" "${user[@]:3}" QT_QPA_PLATFORM=xcb /usr/bin/TcpServer >"$scratch/program.log" 2>&1 &
window_pid=$! pids="$pids $!"
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tcp Server$' | head -n 1) || fail "no window"
xdotool windowfocus --sync "$window" key space
on_device /usr/bin/device-emulator --host 192.168.0.92 --expect "$scratch/image.bin" --quiet >"$scratch/device.log" ||
    { cat "$scratch/device.log" "$scratch/program.log"; fail "the flash from the window"; }
record=$scratch/home/.local/share/TcpServer/flash-log.csv
digest=$(sha256sum "$scratch/image.bin" | cut -d' ' -f1)
for _ in $(seq 50); do grep -q complete "$record" 2>/dev/null && break; sleep 0.1; done
grep -q ",complete,192.168.0.50,$mac,/usr/lib/tcpserver/abset/boor/true/file.bin,300000,$digest,293,300000," "$record" ||
    { cat "$record"; fail "the record of the flash from the window"; }
grep -q "sha256 received $digest" "$scratch/device.log" || fail "the device's digest is not the window's"
kill $window_pid && wait $window_pid 2>/dev/null || true

# The station, the same way.
"${user[@]:0:3}" --groups="$member" "${user[@]:3}" /usr/bin/tcpserver-station --count 1 >"$scratch/station.log" 2>&1 &
station=$! pids="$pids $!"
for _ in $(seq 50); do grep -q Listening "$scratch/station.log" && break; sleep 0.1; done
on_device /usr/bin/device-emulator --host 192.168.0.92 --expect "$scratch/image.bin" --quiet >/dev/null ||
    { cat "$scratch/station.log"; fail "the flash from the station"; }
wait $station || { cat "$scratch/station.log"; fail "the station's status"; }
grep -q "flash 1: 192.168.0.50 ($mac), complete" "$scratch/station.log" || { cat "$scratch/station.log"; fail "the station's line"; }
[ "$(grep -c ",complete,192.168.0.50,$mac," "$record")" = 2 ] || fail "the station's record"
