#!/bin/sh
# Prints the non-blank lines of the program's code and of its tests, and their
# ratio, counted the same way each time: program code is every C and C++ file
# outside tests/, bench/, docs/, scripts/ and packaging/; tests are every
# source, script and CMake file under tests/. Counts what git tracks.
# The tests are to stay within 40 % of the code, aiming at a third.
set -eu
cd "$(dirname "$0")/.."
lines() { xargs -r cat | grep -cv '^[[:space:]]*$' || true; }
code=$(git ls-files | grep -vE '^(tests|bench|docs|scripts|packaging)/' | grep -E '\.(c|cc|cpp|h|hpp)$' | lines)
tests=$(git ls-files -- tests | grep -E '\.(c|cc|cpp|h|hpp|py|sh|cmake)$|CMakeLists\.txt$' | lines)
echo "program code: $code lines; tests: $tests lines; tests/code: $((100 * tests / code)) %"
[ $((100 * tests)) -le $((40 * code)) ]
