#!/bin/bash
# Four identical devices (192.168.0.50), each in a namespace of its own behind a veth pair whose near end
# holds 192.168.0.92/24, flashed at once by the station.
#   tests/adapters.sh STATION EMULATOR     (as root, in a network namespace of its own: isolated.sh)
set -euo pipefail
station=$1 emulator=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
if [ -z "${TCPSERVER_OUTER_NETNS:-}" ]; then
    echo "SKIP: makes network interfaces, only in a network namespace of its own (as root)"
    exit 77
fi
scratch=$(mktemp -d) pids=""
trap 'kill $pids 2>/dev/null || true; rm -rf "$scratch"' EXIT
export XDG_RUNTIME_DIR=$scratch HOME=$scratch
head -c 1000000 /dev/urandom >"$scratch/image.bin"
adapters=(Ethernet Ethernet2 enx0a1b2c3d4e5f enx0a1b2c3d4e60)
. "$(dirname "$0")/support/devices.sh"
arguments=()
for adapter in "${adapters[@]}"; do arguments+=(--adapter "$adapter"); done

# A strict reverse-path filter would drop what three of the four send: said at the start.
sysctl -qw net.ipv4.conf.all.rp_filter=1
"$station" "${arguments[@]}" --image "$scratch/image.bin" --no-log >"$scratch/out" 2>"$scratch/err" &
pid=$!
for _ in $(seq 50); do grep -q Listening "$scratch/out" && break; sleep 0.1; done
kill -INT $pid; wait $pid || true
for adapter in "${adapters[@]}"; do
    grep -q "strict reverse-path filter drops the packets of the device on $adapter,.*rp_filter=2" "$scratch/err" ||
        { cat "$scratch/err"; fail "no word of the reverse-path filter for $adapter"; }
done
sysctl -qw net.ipv4.conf.all.rp_filter=2

# Every device in the neighbour table before any flash: a MAC looked up by address alone would be one of them.
for i in "${!adapters[@]}"; do
    mac=$(on_device_at $i ip -o link show device$i | sed -n 's/.*link\/ether \([0-9a-f:]*\).*/\1/p')
    ip neigh replace 192.168.0.50 lladdr "$mac" dev "${adapters[$i]}" nud reachable
done
"$station" "${arguments[@]}" --image "$scratch/image.bin" --count 4 --log "$scratch/log.csv" >"$scratch/out" 2>&1 &
pid=$!
for _ in $(seq 50); do grep -q Listening "$scratch/out" && break; sleep 0.1; done
flashes=()
for i in "${!adapters[@]}"; do
    on_device_at $i "$emulator" --host 192.168.0.92 --expect "$scratch/image.bin" \
        --delay 1 --quiet >"$scratch/device$i" 2>&1 &
    flashes+=($!)
done
for i in "${!flashes[@]}"; do
    wait "${flashes[$i]}" || { cat "$scratch/device$i" "$scratch/out"; fail "the device behind ${adapters[$i]}"; }
done
wait $pid || { cat "$scratch/out"; fail "the station's status"; }
for i in "${!adapters[@]}"; do
    adapter=${adapters[$i]}
    mac=$(on_device_at $i ip -o link show device$i | sed -n 's/.*link\/ether \([0-9a-f:]*\).*/\1/p')
    grep -q "^  $adapter: 1 began, 1 complete, 0 not.$" "$scratch/out" || { cat "$scratch/out"; fail "no line for $adapter"; }
    grep -q ",complete,192.168.0.50,$mac,.*,$adapter,192.168.0.92," "$scratch/log.csv" ||
        { cat "$scratch/log.csv"; fail "no record row for $adapter and the device $mac behind it"; }
done
grep -q "^4 flashes began: 4 complete, 0 not.$" "$scratch/out" || { cat "$scratch/out"; fail "the summary"; }
# Flashed at once, not one after the other: the flashes overlap in time.
overlapping=$(awk -F, 'NR > 1 { print $1 " " $2 }' "$scratch/log.csv" | sort | awk 'NR == 1 { end = $2 } NR > 1 && $1 < end { n++ } END { print n + 0 }')
[ "$overlapping" -ge 1 ] || { cat "$scratch/log.csv"; fail "the flashes did not overlap"; }

# An adapter re-plugged mid-flash (a USB adapter, say): said gone, served again once it is back.
said() { for _ in $(seq 100); do grep -q "$1" "$scratch/out" && return 0; sleep 0.1; done; cat "$scratch/out"; fail "no \"$1\""; }
"$station" --adapter Ethernet2 --adapter Ethernet --image "$scratch/image.bin" --no-log >"$scratch/out" 2>&1 &
pid=$! pids="$pids $!"
said Listening
on_device_at 1 "$emulator" --host 192.168.0.92 --expect "$scratch/image.bin" --delay 5 \
    --quiet >/dev/null 2>&1 &
said "Ethernet2 192.168.0.50: 10 %"
ip link delete Ethernet2
said "Ethernet2 is gone: its fixture is not served"
said "flash 1: Ethernet2 192.168.0.50 .*, stalled" # as a flash whose cable was pulled ends
cable_at 1
said "Ethernet2 is back and holds 192.168.0.92: its fixture is served again"
on_device_at 1 "$emulator" --host 192.168.0.92 --expect "$scratch/image.bin" --quiet \
    >"$scratch/device1" 2>&1 || { cat "$scratch/device1" "$scratch/out"; fail "the device behind Ethernet2 once it is back"; }
on_device_at 0 "$emulator" --host 192.168.0.92 --expect "$scratch/image.bin" --quiet \
    >"$scratch/device0" 2>&1 || { cat "$scratch/device0" "$scratch/out"; fail "the device behind Ethernet, which noticed nothing"; }
kill -INT $pid; wait $pid || true
[ "$(grep -c "is gone" "$scratch/out")" = 1 ] || { cat "$scratch/out"; fail "the adapter's going said more than once"; }

# A name that is not UTF-8, as the system has it.
odd=$'eth\xff'
ip link add "$odd" type veth peer name peerff && ip address add 192.168.0.92/24 dev "$odd" && ip link set "$odd" up
"$station" --adapter "$odd" --image "$scratch/image.bin" --no-log >"$scratch/out" 2>&1 &
pid=$! pids="$pids $!"
said Listening
grep -q '^Adapters eth\\xff hold 192.168.0.92.$' "$scratch/out" || { cat "$scratch/out"; fail "the name that is not UTF-8"; }
kill -INT $pid; wait $pid || true
ip link delete "$odd"

echo "PASS: four identical devices behind four adapters, flashed at once, each recorded with its adapter; an adapter re-plugged; a name that is not UTF-8"
