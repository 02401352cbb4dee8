# Sourced: a display of the test's own (Xvfb, 1920 × 1080, no network) in DISPLAY, its server in $pids.
exec 3>"$scratch/display"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
pids="$pids $!"
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$scratch/display")"
