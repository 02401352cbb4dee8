#!/bin/sh
# Prints the non-blank lines of the code and of its tests, and their ratio,
# counted twice, like for like each time, over what git tracks:
# - C and C++ alone: the program's (outside tests/, bench/, docs/, scripts/
#   and packaging/) against the suites' under tests/;
# - every kind of code (C, C++, shell, CMake, awk): everything outside tests/
#   and docs/ against everything under tests/, with the mutation check
#   (scripts/mutate.sh) counted among the tests.
# The tests are to stay within 40 % of the code in both counts, aiming at a
# third.
set -eu
cd "$(dirname "$0")/.."
lines() { xargs -r cat | grep -cv '^[[:space:]]*$' || true; }
cxx='\.(c|cc|cpp|h|hpp)$'
code_kinds='\.(c|cc|cpp|h|hpp|sh|cmake|awk)$|CMakeLists\.txt$|^\.ci/run$|^packaging/(postinst|postrm)$'
verdict=0
report() { # report WHAT CODE TESTS
    echo "$1: code $2 lines; tests $3 lines; tests/code $((100 * $3 / $2)) %"
    [ $((100 * $3)) -le $((40 * $2)) ] || verdict=1
}
report "C and C++" \
    "$(git ls-files | grep -vE '^(tests|bench|docs|scripts|packaging)/' | grep -E "$cxx" | lines)" \
    "$(git ls-files -- tests | grep -E "$cxx" | lines)"
report "every kind" \
    "$(git ls-files | grep -vE '^(tests|docs)/|^scripts/mutate\.sh$' | grep -E "$code_kinds" | lines)" \
    "$( (git ls-files -- tests | grep -E "$code_kinds"; echo scripts/mutate.sh) | lines)"
exit $verdict
