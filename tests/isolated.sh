#!/bin/sh
# Runs a test in a private network namespace (only a loopback of its own) where
# this machine lets us make one, so that tests neither see nor disturb the
# machine's own adapters and ports. Elsewhere it runs on the machine's loopback.
# TCPSERVER_OUTER_NETNS names the namespace left behind, so that a test can
# tell that it really runs in one of its own before it touches any interface.
if unshare --net true 2>/dev/null; then
    TCPSERVER_OUTER_NETNS=$(readlink /proc/self/ns/net)
    export TCPSERVER_OUTER_NETNS
    exec unshare --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
exec "$@"
