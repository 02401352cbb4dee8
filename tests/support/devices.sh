# Sourced, as root in a network namespace of the caller's own: a device (192.168.0.50) behind each adapter named in
# $adapters, each in a namespace of its own (in $devices and $pids) at the far end of a veth pair whose near end, the
# adapter, holds 192.168.0.92/24. on_device_at INDEX CMD... runs CMD beside the device behind adapter INDEX.
on_device_at() { nsenter --net=/proc/${devices[$1]}/ns/net "${@:2}"; }
cable_at() { # cable_at INDEX: the veth pair from adapter INDEX to its device (again, once one was deleted)
    ip link add "${adapters[$1]}" type veth peer name device$1
    ip link set device$1 netns "${devices[$1]}"
    on_device_at "$1" sh -c "ip link set lo up && ip address add 192.168.0.50/24 dev device$1 && ip link set device$1 up"
    ip address add 192.168.0.92/24 dev "${adapters[$1]}"
    ip link set "${adapters[$1]}" up
}
devices=()
for i in "${!adapters[@]}"; do
    unshare --net sleep 600 &
    devices+=($!) pids="$pids $!"
    for _ in $(seq 50); do [ "$(readlink /proc/$!/ns/net)" != "${TCPSERVER_OUTER_NETNS:-}" ] &&
        [ "$(readlink /proc/$!/ns/net)" != "$(readlink /proc/self/ns/net)" ] && break; sleep 0.1; done
    cable_at "$i"
done
