#!/bin/sh
# Installs what is missing, builds the program with its tests and runs the whole
# suite twice: as built for use, and under AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer. Exits non-zero on any failure.
set -eu
cd "$(dirname "$0")"
. scripts/packages.sh
ensure_packages $TEST_PACKAGES

jobs=$(nproc 2>/dev/null || echo 2)
run_suite() {
    build=$1
    shift
    cmake -S . -B "$build" -G Ninja -DTCPSERVER_BUILD_TESTS=ON "$@"
    cmake --build "$build" -j "$jobs"
    (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs")
}
run_suite build-tests -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite build-sanitize -DCMAKE_BUILD_TYPE=Debug -DTCPSERVER_SANITIZE=ON
echo "All tests passed, as built and under the sanitizers."
