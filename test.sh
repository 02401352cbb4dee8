#!/bin/sh
# Installs what is missing, checks the code's layout, builds the program with
# its tests and runs the whole suite twice: against Qt 5 as built for use (with
# the slow tests: the package, installed here, and the Windows build under
# Wine), and against Qt 6 under AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer; then the suites that run threads against Qt 6
# under ThreadSanitizer. Exits non-zero on any failure.
set -eu
cd "$(dirname "$0")"
. scripts/packages.sh
# Everything that downloads or installs happens here, before any test: the
# tests run in network namespaces of their own, where nothing can be fetched.
ensure_packages $TEST_PACKAGES
# The Qt for Windows the Wine test builds against: ready-built where
# TCPSERVER_WINDOWS_QT names it, else from the cache, else built once.
TCPSERVER_WINDOWS_QT=$(scripts/windows-qt.sh)
export TCPSERVER_WINDOWS_QT

# The layout first: it takes a second, and a suite takes minutes.
scripts/check-format.sh

jobs=$(nproc 2>/dev/null || echo 2)
# run_suite BUILD SUITES CMAKE-ARGUMENTS...: SUITES, the suites to build and run ("" for all)
run_suite() {
    build=$1 suites=$2
    shift 2
    cmake -S . -B "$build" -G Ninja -DBUILD_TESTING=ON "$@"
    cmake --build "$build" -j "$jobs" ${suites:+--target $suites}
    (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" \
        ${suites:+-R "^($(echo $suites | tr ' ' '|'))\$"})
}
run_suite build-tests "" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTCPSERVER_QT=5
run_suite build-qt6-sanitize "" -DCMAKE_BUILD_TYPE=Debug -DTCPSERVER_QT=6 -DTCPSERVER_SANITIZE=address
# The suites that run threads (the servers', the record's, the output's), under ThreadSanitizer.
run_suite build-tsan "tst_protocol tst_station tst_record tst_database" -DCMAKE_BUILD_TYPE=Debug -DTCPSERVER_QT=6 -DTCPSERVER_SANITIZE=thread
scripts/test-ratio.sh
echo "All tests passed: Qt 5 as built, Qt 6 under AddressSanitizer and UndefinedBehaviorSanitizer, and under ThreadSanitizer."
