#!/bin/sh
# Runs a test in a network namespace of its own (only a loopback) where the machine lets us make one;
# elsewhere on the machine's loopback (TCPSERVER_NO_NETNS=1 plays that), where tests that make adapters skip.
if [ "${TCPSERVER_NO_NETNS:-0}" != 1 ] && unshare --net true 2>/dev/null; then
    TCPSERVER_OUTER_NETNS=$(readlink /proc/self/ns/net) exec unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
exec "$@"
