#!/bin/bash
# Runs a window test on a real X display of its own (Xvfb, 1920 × 1080 or TCPSERVER_SCREEN, no window
# manager), at 100 % and at 200 %, for what the offscreen platform cannot show.
#   tests/on-display.sh TEST FUNCTION...
set -euo pipefail
command -v Xvfb >/dev/null || { echo "FAIL: Xvfb is missing: ./test.sh installs what the tests need" >&2; exit 1; }
scratch=$(mktemp -d) pids=""
trap 'kill $pids 2>/dev/null || true; rm -rf "$scratch"' EXIT
. "$(dirname "$0")/support/display.sh"
# Each run within a minute: one that hangs is told SIGTERM, on which Qt Test
# prints every thread's stack where it can, so that the hang says where it was.
for scale in 1 2; do
    QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale timeout 60 "$@" ||
        { status=$?; echo "FAIL: the run at ${scale}x ended with status $status (124: it did not end in a minute)" >&2; exit 1; }
done
