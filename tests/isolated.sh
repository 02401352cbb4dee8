#!/bin/sh
# Runs a test in a network namespace of its own (only a loopback) where the machine lets us make one;
# elsewhere on the machine's loopback (TCPSERVER_NO_NETNS=1 plays that), one such test at a time, since
# they share port 10013, and tests that make network interfaces report SKIP.
# In a process namespace of its own too, where one can be made: whatever the test started (a PostgreSQL
# server, a Wine server) ends with it, even when a time-out kills it.
if [ "${TCPSERVER_NO_NETNS:-0}" != 1 ] && unshare --net true 2>/dev/null; then
    export TCPSERVER_OUTER_NETNS="$(readlink /proc/self/ns/net)"
    if unshare --pid --fork --kill-child --mount-proc true 2>/dev/null; then
        exec unshare --net --pid --fork --kill-child --mount-proc sh -c 'ip link set lo up && exec "$@"' sh "$@"
    fi
    exec unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
# (CTest runs every test in the build's tests folder, where the lock lives.)
exec flock port10013.lock "$@"
