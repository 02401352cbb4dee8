# Sourced, as root in a network namespace of the caller's own: a device (192.168.0.50) behind each adapter named in
# $adapters, each in a network namespace of its own at the far end of a veth pair (device0, device1, ...) whose near
# end, the adapter, holds 192.168.0.92/24; their processes in $devices and $pids. on_device_at INDEX CMD... runs CMD
# where the device behind adapter INDEX is.
devices=()
for i in "${!adapters[@]}"; do
    unshare --net sleep 600 &
    devices+=($!) pids="$pids $!"
    for _ in $(seq 50); do [ "$(readlink /proc/$!/ns/net)" != "${TCPSERVER_OUTER_NETNS:-}" ] &&
        [ "$(readlink /proc/$!/ns/net)" != "$(readlink /proc/self/ns/net)" ] && break; sleep 0.1; done
    ip link add "${adapters[$i]}" type veth peer name device$i
    ip link set device$i netns "${devices[$i]}"
    nsenter --net=/proc/${devices[$i]}/ns/net sh -c "ip link set lo up && ip address add 192.168.0.50/24 dev device$i &&
        ip link set device$i up"
    ip address add 192.168.0.92/24 dev "${adapters[$i]}"
    ip link set "${adapters[$i]}" up
done
on_device_at() { nsenter --net=/proc/${devices[$1]}/ns/net "${@:2}"; }
