#!/bin/sh
# Runs a test in a network namespace of its own (only a loopback) where the
# machine lets us make one, so that tests neither see nor disturb the machine's
# adapters and ports; elsewhere on the machine's loopback, or, for a test that
# makes adapters (--require-netns), not at all (status 77: skipped).
# TCPSERVER_OUTER_NETNS names the namespace left behind; TCPSERVER_NO_NETNS=1
# plays a machine that cannot make namespaces.
[ "${1:-}" = --require-netns ] && require=yes && shift
if [ "${TCPSERVER_NO_NETNS:-0}" != 1 ] && unshare --net true 2>/dev/null; then
    TCPSERVER_OUTER_NETNS=$(readlink /proc/self/ns/net) exec unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
[ "${require:-}" = yes ] && echo "SKIP: this test makes network interfaces, only in a namespace of its own (unshare --net needs root)" && exit 77
exec "$@"
