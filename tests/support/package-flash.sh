#!/bin/bash
# The installed package as a technician uses it, in this (private) network namespace: the PC's adapter
# Ethernet is cabled (a veth pair) to a device at 192.168.0.50. Run by tests/package.sh.
#   tests/support/package-flash.sh SCRATCH
set -euo pipefail
scratch=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
pids=""
trap 'kill $pids 2>/dev/null || true' EXIT
ip link set lo up

# An ordinary user: a process without privileges of its own starts what the user runs.
member=$(getent group tcpserver | cut -d: -f3) stranger=$(getent group nogroup | cut -d: -f3)
user=(setpriv --reuid=nobody --regid=nogroup --inh-caps=-all env HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/run")
as_user() { group=$1; shift; "${user[@]:0:3}" --groups="$group" "${user[@]:3}" "$@"; }
install -d -o nobody -m 700 "$scratch/home" "$scratch/run"
head -c 300000 /dev/urandom >"$scratch/image.bin"
as_user "$member" cp "$scratch/image.bin" /var/lib/tcpserver/file.bin || fail "the group cannot write the image"

. "$(dirname "$0")/device.sh"
cable Ethernet 10.1.1.1
mac=$(device_mac)

# The helper: the wired adapter only, never a loopback (here one renamed), for members only.
helper=/usr/lib/tcpserver/tcpserver-set-address
status=0; as_user "$stranger" $helper Ethernet 2>/dev/null || status=$?
[ $status = 126 ] || fail "a stranger to the group got the helper started (status $status)"
ip link set lo down && ip link set lo name Ethernet2
for refused in "Ethernet2|5" "lo|3" "eth0|3" "wg0|3" "peer0|3" "Ethernet:1|3" "Ethernet9|3" "Ethernet5|4" "x/y|3" "|3"; do
    status=0; as_user "$member" $helper "${refused%|*}" 2>/dev/null || status=$?
    [ $status = "${refused#*|}" ] || fail "the helper answered \"${refused%|*}\" with status $status, not ${refused#*|}"
done
ip link set Ethernet2 name lo && ip link set lo up
addresses() { ip -4 -o address show dev "$1" | awk '{print $4}' | tr '\n' ' '; }
[ "$(addresses Ethernet)" = "10.1.1.1/24 " ] || fail "a refused name changed an address"
[ "$(addresses lo)" = "127.0.0.1/8 " ] || fail "the loopback lost its address"
ip link add Ethernet3 type veth peer name peer3 && ip address add 10.3.3.3/24 dev Ethernet3
status=0; as_user "$member" $helper --restore Ethernet3 2>/dev/null || status=$?
[ $status = 6 ] || fail "the helper gave back an adapter it never changed (status $status)"
[ "$(addresses Ethernet3)" = "10.3.3.3/24 " ] || fail "a restore of an adapter never changed changed it"
ip link delete Ethernet3

# The window on Xvfb: ModifyIP (Tab, Space) through the helper, Download (Shift+Tab, Space), a flash.
. "$(dirname "$0")/display.sh"
# (Started as a simple command, so that $! is the program's own process.)
"${user[@]:0:3}" --groups="$member" "${user[@]:3}" QT_QPA_PLATFORM=xcb /usr/bin/TcpServer >"$scratch/program.log" 2>&1 &
window_pid=$! pids="$pids $!"
window=$(find_window) || fail "no window"
xdotool windowfocus --sync "$window" key Tab space
for _ in $(seq 100); do [ "$(addresses Ethernet)" = "10.1.1.1/24 192.168.0.92/24 " ] && break; sleep 0.1; done
[ "$(addresses Ethernet)" = "10.1.1.1/24 192.168.0.92/24 " ] || fail "ModifyIP did not add 192.168.0.92/24 beside"
xdotool windowfocus --sync "$window" key shift+Tab space
on_device /usr/bin/device-emulator --host 192.168.0.92 --expect "$scratch/image.bin" --quiet >"$scratch/device.log" ||
    { cat "$scratch/device.log" "$scratch/program.log"; fail "the flash from the window"; }
record=$scratch/home/.local/share/TcpServer/flash-log.csv
digest=$(sha256sum "$scratch/image.bin" | cut -d' ' -f1)
for _ in $(seq 50); do grep -q complete "$record" 2>/dev/null && break; sleep 0.1; done
grep -q ",complete,192.168.0.50,$mac,/usr/lib/tcpserver/abset/boor/true/file.bin,300000,$digest,293,300000," "$record" ||
    { cat "$record"; fail "the record of the flash from the window"; }
grep -q "sha256 received $digest" "$scratch/device.log" || fail "the device's digest is not the window's"
# A window killed after ModifyIP: --restore-address gives the adapter back, once.
kill $window_pid && wait $window_pid 2>/dev/null || true
as_user "$member" /usr/bin/TcpServer --restore-address >"$scratch/restore.log" 2>&1 || { cat "$scratch/restore.log"; fail "--restore-address"; }
[ "$(addresses Ethernet)" = "10.1.1.1/24 " ] || fail "--restore-address left $(addresses Ethernet)"
as_user "$member" /usr/bin/TcpServer --restore-address | grep -q "nothing to give back" || fail "a second --restore-address"
as_user "$member" $helper Ethernet || fail "the helper, once more" # for the station
as_user "$member" $helper --restore Ethernet3 2>/dev/null && fail "a restore of an adapter that is not there"

# The station, as a bench uses it.
station() { # station ARGS: started as the member, its output in station.log
    "${user[@]:0:3}" --groups="$member" "${user[@]:3}" /usr/bin/tcpserver-station "$@" >"$scratch/station.log" 2>&1 &
    station=$! pids="$pids $!"
    for _ in $(seq 50); do grep -q "Listening\|error" "$scratch/station.log" && break; sleep 0.1; done
}
device() { on_device /usr/bin/device-emulator --host 192.168.0.92 --quiet "$@" >/dev/null || true; }
ended() { # ended STATUS LINE...: the station ended (within 30 s) with STATUS, having said each LINE
    local status=0
    for _ in $(seq 300); do kill -0 $station 2>/dev/null || break; sleep 0.1; done
    ! kill $station 2>/dev/null || { cat "$scratch/station.log"; fail "the station did not end by itself"; }
    wait $station || status=$?
    [ $status = "$1" ] || { cat "$scratch/station.log"; fail "the station ended with status $status, not $1"; }
    for line in "${@:2}"; do grep -qF -- "$line" "$scratch/station.log" || { cat "$scratch/station.log"; fail "no \"$line\""; }; done
}
station --count 2 --devices 2 # two devices of their own addresses behind one cable, at once
on_device ip address add 192.168.0.51/24 dev peer0
device --expect "$scratch/image.bin" --delay 1 &
device --expect "$scratch/image.bin" --delay 1 --from 192.168.0.51
wait $!
ended 0 "Image SHA-256 $digest" "Ethernet 192.168.0.50 ($mac), complete" "Ethernet 192.168.0.51 ($mac), complete" \
    "2 flashes began: 2 complete, 0 not."
station # Ctrl+C mid-flash: that flash ends, and the record says so
device --delay 20 --timeout 3000 &
for _ in $(seq 100); do grep -q "192.168.0.50: 10 %" "$scratch/station.log" && break; sleep 0.1; done
kill -INT $station
ended 1 "flash 1: Ethernet 192.168.0.50 ($mac), stopped mid-flash" "1 flash began: 0 complete, 1 not."
[ "$(grep -c ",complete,192.168.0.5[01],$mac," "$record")" = 3 ] && grep -q ",station stopped mid-flash,192.168.0.50," "$record" ||
    { cat "$record"; fail "the station's record"; }
