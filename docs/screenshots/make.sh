#!/bin/bash
# Makes the screenshots in docs/screenshots/ from the real window: each
# start-up state in a private network namespace with adapters made for it
# (the machine's own are never touched), and the middle of a transfer to the
# device emulator; and the station window with four fixtures. Needs root for
# the namespaces.
#   docs/screenshots/make.sh [PICTURE.png...]     (default: all of them)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
if [ "$(id -u)" != 0 ] || ! unshare --net true 2>/dev/null; then
    echo "error: run as root: each state needs a private network namespace with adapters of its own" >&2
    exit 1
fi
. scripts/packages.sh
ensure_packages $BUILD_PACKAGES util-linux xvfb
cmake -S . -B build-docs -G Ninja -DCMAKE_BUILD_TYPE=Release -DTCPSERVER_BUILD_DOC_TOOLS=ON >/dev/null
cmake --build build-docs --target grab-window device-emulator >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp build-docs/docs/grab-window "$work/"
mkdir -p "$work/abset/boor/true"
head -c $((2 * 1024 * 1024)) /dev/urandom >"$work/abset/boor/true/file.bin"
out=$root/docs/screenshots

# state: the adapter to make ("" for none) and its address; then the picture.
shoot() {
    local adapter=$1 address=$2 picture=$3
    shift 3
    unshare --net bash -s "$adapter" "$address" "$work" "$out/$picture" "$root" "$@" <<'INSIDE'
set -euo pipefail
adapter=$1 address=$2 work=$3 picture=$4 root=$5
shift 5
ip link set lo up
if [ -n "$adapter" ]; then
    ip link add "$adapter" type veth peer name cable0
    ip address add "$address" dev "$adapter"
    ip link set "$adapter" up
    ip link set cable0 up
fi
cd "$work"
# A display of 1920 x 1080 of this namespace's own, for the window to size itself to.
exec 3>display
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s display ] && break; sleep 0.1; done
export DISPLAY=":$(cat display)" QT_QPA_PLATFORM=xcb
if [ "${1:-}" = --download ]; then
    # The device on the far end of the cable, in a namespace of its own.
    unshare --net sleep 120 &
    device=$!
    for _ in $(seq 50); do [ "$(readlink /proc/$device/ns/net)" != "$(readlink /proc/self/ns/net)" ] && break; sleep 0.1; done
    ip link set cable0 netns $device
    nsenter --net=/proc/$device/ns/net sh -c 'ip link set lo up; ip address add 192.168.0.50/24 dev cable0; ip link set cable0 up'
    ./grab-window "$picture" "$@" >grab.log 2>&1 &
    grabber=$!
    for _ in $(seq 100); do grep -q READY grab.log && break; sleep 0.1; done
    nsenter --net=/proc/$device/ns/net "$root/build-docs/bin/device-emulator" --host 192.168.0.92 --quiet --delay 2 \
        >/dev/null 2>&1 &
    emulator=$!
    wait $grabber
    kill $emulator $device 2>/dev/null || true
else
    ./grab-window "$picture" >/dev/null 2>&1
fi
INSIDE
    echo "docs/screenshots/$picture"
}

# The station window with four fixtures, each cabled to a device of its own
# at 192.168.0.50 (in namespaces of their own): one complete, one flashing
# with the serial scanned for it, one failed, one paused after two units
# failed on it (grab-window pauses after two).
shoot_station() {
    local picture=$1
    unshare --net bash -s "$work" "$out/$picture" "$root" <<'INSIDE'
set -euo pipefail
work=$1 picture=$2 root=$3
pids=""
trap 'kill $pids 2>/dev/null || true' EXIT
ip link set lo up
sysctl -qw net.ipv4.conf.all.rp_filter=2 # four adapters on one subnet: a strict filter would drop three
image=$work/abset/boor/true/file.bin
adapters=(Ethernet Ethernet2 Ethernet3 Ethernet4)
. "$root/tests/support/devices.sh"
device() { # device INDEX EMULATOR-ARGUMENTS...: the device behind that adapter, once
    on_device_at "$1" "$root/build-docs/bin/device-emulator" --host 192.168.0.92 --quiet "${@:2}" >/dev/null 2>&1
}
cd "$work"
exec 3>display
Xvfb -displayfd 3 -screen 0 1366x768x24 -nolisten tcp >/dev/null 2>&1 &
pids="$pids $!"
for _ in $(seq 100); do [ -s display ] && break; sleep 0.1; done
export DISPLAY=":$(cat display)" QT_QPA_PLATFORM=xcb
# The picture is taken once a line comes on the grabber's input.
mkfifo told
arguments=()
for adapter in "${adapters[@]}"; do arguments+=(--adapter "$adapter"); done
./grab-window "$picture" --station "$image" "${arguments[@]}" --scan 1 SN-20261210-0042 <told >grab.log 2>&1 &
grabber=$!
exec 4>told
for _ in $(seq 100); do grep -q READY grab.log && break; sleep 0.1; done
device 0 --expect "$image"
device 2 --disconnect-after 700 || true
device 3 --disconnect-after 300 || true
# Another unit on the fourth fixture (another MAC), failing too: it pauses.
on_device_at 3 ip link set device3 address 02:16:3e:00:00:04
ip neigh flush dev Ethernet4
device 3 --disconnect-after 300 || true
device 1 --expect "$image" --delay 2 &
pids="$pids $!"
for _ in $(seq 30); do sleep 0.1; done # a third of the way
echo >&4
wait $grabber
INSIDE
    echo "docs/screenshots/$picture"
}

wanted() { [ ${#pictures[@]} = 0 ] || [[ " ${pictures[*]} " == *" $1 "* ]]; }
pictures=("$@")
wanted no-adapter.png && shoot "" "" no-adapter.png
wanted address-right.png && shoot Ethernet 192.168.0.92/24 address-right.png
wanted address-wrong.png && shoot Ethernet 10.20.30.40/24 address-wrong.png
wanted transfer.png && shoot Ethernet 192.168.0.92/24 transfer.png --download --after-blocks 900
wanted after-flash.png && shoot Ethernet 192.168.0.92/24 after-flash.png --download --after-flash
wanted station-window.png && shoot_station station-window.png
exit 0
