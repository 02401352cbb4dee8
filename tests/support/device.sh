# Sourced: the device on the far end of a cable, in a network namespace of its own (its process in $pids). on_device
# CMD runs CMD there; cable ADAPTER ADDRESS: the PC's adapter at ADDRESS, the device at 192.168.0.50; device_mac.
unshare --net sleep 3600 &
device=$! pids="$pids $!"
for _ in $(seq 50); do [ "$(readlink /proc/$device/ns/net)" != "$(readlink /proc/self/ns/net)" ] && break; sleep 0.1; done
on_device() { nsenter --net=/proc/$device/ns/net "$@"; }
on_device ip link set lo up
cable() {
    ip link add "$1" type veth peer name peer0 && ip link set peer0 netns $device
    on_device ip address add 192.168.0.50/24 dev peer0 && on_device ip link set peer0 up
    ip address add "$2/24" dev "$1" && ip link set "$1" up
}
device_mac() { on_device ip -o link show peer0 | sed -n 's/.*link\/ether \([0-9a-f:]*\).*/\1/p'; }
