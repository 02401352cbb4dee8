# Sourced: a display of the test's own (Xvfb, 1920 × 1080 or TCPSERVER_SCREEN, no network) in DISPLAY, its
# server in $pids.
exec 3>"$scratch/display"
Xvfb -displayfd 3 -screen 0 "${TCPSERVER_SCREEN:-1920x1080}x24" -nolisten tcp >/dev/null 2>&1 &
pids="$pids $!"
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$scratch/display")"
# find_window [TITLE]: a window titled TITLE, "Tcp Server" if none, in two minutes; a search meeting a window going away
# fails with an X error, and is made again.
find_window() {
    local found
    for _ in $(seq 240); do
        found=$(xdotool search --onlyvisible --name "^${1:-Tcp Server}\$" 2>/dev/null) || true
        [ -n "$found" ] && { echo "${found%%$'\n'*}"; return 0; }
        sleep 0.5
    done
    return 1
}
