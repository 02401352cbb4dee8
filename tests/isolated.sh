#!/bin/sh
# Runs a test in a private network namespace (only a loopback of its own) where
# this machine lets us make one, so that tests neither see nor disturb the
# machine's own adapters and ports. Elsewhere it runs on the machine's loopback,
# unless the test needs adapters of its own (--require-netns): then it is
# skipped (exit 77, which CTest reports as a skip).
# TCPSERVER_OUTER_NETNS names the namespace left behind, so that a test can
# tell that it really runs in one of its own before it touches any interface.
# TCPSERVER_NO_NETNS=1 behaves as a machine that cannot make namespaces.
require=no
if [ "${1:-}" = "--require-netns" ]; then
    require=yes
    shift
fi
if [ "${TCPSERVER_NO_NETNS:-0}" != 1 ] && unshare --net true 2>/dev/null; then
    TCPSERVER_OUTER_NETNS=$(readlink /proc/self/ns/net)
    export TCPSERVER_OUTER_NETNS
    exec unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
if [ "$require" = yes ]; then
    echo "SKIP: cannot make a private network namespace here (unshare --net needs root); this test makes network interfaces and runs only in one of its own"
    exit 77
fi
exec "$@"
