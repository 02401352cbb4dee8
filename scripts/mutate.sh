#!/bin/sh
# The mutation check: makes each one-line fault of scripts/mutations.txt in a
# copy of the sources, rebuilds incrementally, runs the suites that must catch
# it, and prints for each whether they did. (The sanitizers are the test
# command's business; here they would only double the time.) Exits non-zero
# when a fault survives, no longer applies or no longer builds.
#   scripts/mutate.sh [WORK_DIR]    (default build-mutants/, kept for the next run)
set -eu
cd "$(dirname "$0")/.."
work=$(realpath -m "${1:-build-mutants}")
mkdir -p "$work/src"
# Only what changed is copied (with a new time), so that a second run rebuilds
# little; a file a run left mutated in the build, if it was stopped, is built
# again too.
git ls-files | while IFS= read -r file; do
    cmp -s "$file" "$work/src/$file" 2>/dev/null || { mkdir -p "$work/src/$(dirname "$file")" && cp "$file" "$work/src/$file"; }
done
[ ! -f "$work/mutated" ] || touch "$work/src/$(cat "$work/mutated")"
cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
    -DTCPSERVER_SANITIZE=OFF -DTCPSERVER_SUITE_TIMEOUT=60 >"$work/log" 2>&1
cmake --build "$work/build" >>"$work/log" 2>&1 || { cat "$work/log"; exit 1; }

tab=$(printf '\t')
failures=0
count=0
while IFS="$tab" read -r file search replace suites; do
    case "$file" in '' | '#'*) continue ;; esac
    count=$((count + 1))
    source="$work/src/$file"
    cp "$source" "$work/original"
    echo "$file" >"$work/mutated"
    # Replaces the text on the one line that holds it; anchored at the line's
    # start when the text starts with a blank.
    if ! perl -e 'my ($f, $s, $r) = @ARGV; open(my $in, "<", $f) or die; my @lines = <$in>; my $n = 0;
                  for (@lines) { my $at = index($_, $s);
                      next if $at < 0 || ($s =~ /^ / && $at != 0); $n++; substr($_, $at, length $s) = $r; }
                  exit 3 if $n != 1; open(my $out, ">", $f) or die; print $out @lines;' "$source" "$search" "$replace"; then
        verdict="NO LONGER APPLIES"
    elif ! cmake --build "$work/build" --target $(echo "$suites" | tr '|' ' ' | sed 's/tst_window_with_room/tst_window/g;
            s/window_on_display/tst_window/g; s/adapters/tcpserver-station device-emulator/g; s/package/all/g') \
        >"$work/log" 2>&1; then
        verdict="DOES NOT BUILD"
    elif (cd "$work/build" && TCPSERVER_FAIL_FAST=1 QT_QPA_PLATFORM=offscreen ctest -R "^($suites)\$" --timeout 60 -j2 >"$work/log" 2>&1); then
        verdict="SURVIVED"
    else
        verdict="caught"
    fi
    # A fresh time, so that the next build compiles the file back.
    cp "$work/original" "$source"
    [ "$verdict" = caught ] || failures=$((failures + 1))
    printf '%-18s %s: %s\n' "$verdict" "$file" "$search"
done <scripts/mutations.txt
echo "$count faults, $failures not caught"
[ "$failures" -eq 0 ]
