#!/bin/sh
# The mutation check: makes each fault of scripts/mutations.txt in a copy of
# the sources, rebuilds incrementally, runs the suites that must catch it, and
# prints for each whether they did. (The sanitizers are the test command's
# business; here they would only double the time.) Exits non-zero when a
# fault survives, no longer applies or no longer builds.
#   scripts/mutate.sh [--only REGEX] [--skip N] [--jobs N] [--attribute] [WORK_DIR]
#     --only REGEX  only the rules whose line matches REGEX (grep -E)
#     --skip N      leaves out the first N rules (a run that was stopped goes on)
#     --jobs N      N copies, each with a build of its own, take every Nth
#                   rule at once (default: the processors, at most 4): a rule
#                   mostly waits on one compiler or one test, so two on two
#                   cores take little more than half the time
#     --attribute   runs each rule's suites whole and writes, to
#                   WORK_DIR/attribution.txt, which test rows failed for it;
#                   then lists the test functions that caught no fault of
#                   their own (those caught by no other function)
#     WORK_DIR      default build-mutants/, kept for the next run
# A rule names a function and a pattern in it, not a line: the pattern is
# found inside that function's body whatever the layout (any run of blanks
# and line breaks matches any other, or none), so that a reformat or a move
# keeps the rule. It must be found there exactly once.
set -eu
self=$(realpath "$0")
cd "$(dirname "$0")/.."
only=
skip=0
attribute=0
jobs=$(nproc 2>/dev/null || echo 1)
[ "$jobs" -le 4 ] || jobs=4
shard=0
while [ $# -gt 0 ]; do
    case "$1" in
    --only) only=$2; shift 2 ;;
    --skip) skip=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --shard) shard=$2; shift 2 ;; # (of a copy this script started: take rules shard, shard + jobs, ...)
    --attribute) attribute=1; shift ;;
    *) break ;;
    esac
done
work=$(realpath -m "${1:-build-mutants}")

# list_functions BUILD: every test function of BUILD's suites, and how many
# faults of $work/attribution.txt it caught, alone and in all.
list_functions() {
    for program in "$1"/tests/tst_*/tst_*; do
        [ -x "$program" ] || continue
        QT_QPA_PLATFORM=offscreen "$program" -functions 2>/dev/null | sed -n "s/^\([A-Za-z_]*\)()\$/$(basename "$program"):\1/p"
    done | while IFS= read -r slot; do
        alone=$(cut -f2 "$work/attribution.txt" | sed 's/([^)]*)//g' | while IFS= read -r rows; do
            set -- $(printf '%s\n' $rows | sort -u)
            [ $# -eq 1 ] && [ "$1" = "$slot" ] && echo x
        done | wc -l)
        any=$(cut -f2 "$work/attribution.txt" | sed 's/([^)]*)//g' | tr ' ' '\n' | grep -cx "$slot" || true)
        printf '%4d alone %4d in all  %s\n' "$alone" "$any" "$slot"
    done | sort -n | tee "$work/functions.txt"
}

if [ "$jobs" -gt 1 ] && [ "$shard" = 0 ]; then
    # Each copy prints its verdicts as they come; the attribution is gathered
    # once all are done.
    set -- ${only:+--only "$only"} --skip "$skip" --jobs "$jobs"
    [ "$attribute" = 0 ] || set -- "$@" --attribute
    pids=
    for i in $(seq "$jobs"); do
        "$self" "$@" --shard "$i" "$work/$i" &
        pids="$pids $!"
    done
    trap 'kill $pids 2>/dev/null || true' INT TERM
    status=0
    for pid in $pids; do wait "$pid" || status=1; done
    if [ "$attribute" = 1 ]; then
        cat "$work"/[0-9]*/attribution.txt >"$work/attribution.txt"
        list_functions "$work/1/build"
    fi
    exit $status
fi
mkdir -p "$work/src"
# Only what changed is copied (with a new time), so that a second run rebuilds
# little; a file a run left mutated in the build, if it was stopped, is built
# again too.
git ls-files | while IFS= read -r file; do
    cmp -s "$file" "$work/src/$file" 2>/dev/null || { mkdir -p "$work/src/$(dirname "$file")" && cp "$file" "$work/src/$file"; }
done
[ ! -f "$work/mutated" ] || touch "$work/src/$(cat "$work/mutated")"
mkdir -p "$work/tmp"
export TMPDIR="$work/tmp"
cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON \
    -DTCPSERVER_SANITIZE= -DTCPSERVER_SUITE_TIMEOUT=60 >"$work/log" 2>&1
cmake --build "$work/build" >>"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
# Each test's environment as CTest sets it (the window's scale, say), one
# variable a line, for the suites run here without CTest. (perl's own JSON
# module: CTest's listing is JSON.)
mkdir -p "$work/environment"
(cd "$work/build" && ctest --show-only=json-v1) | perl -MJSON::PP -e '
    local $/; my $listing = decode_json(<STDIN>);
    for my $test (@{$listing->{tests}}) {
        my @environment;
        for (@{$test->{properties} || []}) { @environment = @{$_->{value}} if $_->{name} eq "ENVIRONMENT"; }
        open(my $out, ">", "$ARGV[0]/$test->{name}") or die; print $out map { "$_\n" } @environment;
    }' "$work/environment"

# mutate FILE FUNCTION PATTERN REPLACEMENT: exit 3 where the pattern is not in the function exactly once.
# A function's body runs from the brace that opens a line after its name to
# the first that closes one (as .clang-format lays every function out); its
# name is on a line that starts at the margin (a definition, not a call),
# with or without its class.
mutate() {
    perl -e '
        my ($file, $function, $pattern, $replacement) = @ARGV;
        open(my $in, "<", $file) or die; local $/; my $text = <$in>;
        my $name = quotemeta($function);
        my $regex = join("\\s*", map { quotemeta } grep { /\S/ } split(//, $pattern));
        my ($found, $at, $length) = (0, -1, 0);
        while ($text =~ /^(?=[^\s#\/])[^\n;{}]*?(?<![\w~])$name\s*\(/mg) {
            my $from = pos($text);
            my $start = index($text, "\n{", $from);
            next if $start < 0;
            # A declaration is followed by a blank line before the next definition.
            next if substr($text, $from, $start - $from) =~ /\n\s*\n/;
            my $end = index($text, "\n}", $start);
            my $body = substr($text, $start, $end - $start);
            while ($body =~ /$regex/g) { $found++; $at = $start + $-[0]; $length = $+[0] - $-[0]; }
        }
        exit 3 if $found != 1;
        substr($text, $at, $length) = $replacement;
        open(my $out, ">", $file) or die; print $out $text;' "$@"
}

# in_environment NAME COMMAND...: COMMAND in the build, with the environment CTest gives test NAME.
in_environment() (
    while IFS= read -r variable; do export "$variable"; done <"$work/environment/$1"
    shift
    cd "$work/build" && exec "$@"
)

# run_suite SUITE: runs one suite in the build, its output in $work/log; fails where it fails.
# A suite is a CTest name, or NAME:FUNCTION,FUNCTION (those test functions alone).
run_suite() {
    case "$1" in
    *:*)
        name=${1%%:*} functions=$(echo "${1#*:}" | tr ',' ' ') ;;
    tst_window_with_room) name= ;;
    tst_*)
        name=$1 functions= ;;
    *) name= ;;
    esac
    if [ -n "$name" ] && [ -n "$functions" ]; then
        # One at a time, so that the first that fails is the verdict.
        for slot in $functions; do
            in_environment "$name" timeout 60 "$work/src/tests/isolated.sh" "tests/$name/$name" "$slot" \
                >"$work/log" 2>&1 </dev/null || return 1
        done
    elif [ -n "$name" ]; then
        in_environment "$name" timeout 60 "$work/src/tests/isolated.sh" "tests/$name/$name" >"$work/log" 2>&1 </dev/null
    else
        (cd "$work/build" && QT_QPA_PLATFORM=offscreen ctest -R "^$1\$" --timeout 60 >"$work/log" 2>&1 </dev/null)
    fi
}

# catches SUITES: whether each fails; with --attribute, every suite runs whole
# and the rows that failed are added to $work/caught.
catches() {
    : >"$work/caught"
    for suite in $(echo "$1" | tr '|' ' '); do
        if [ "$attribute" = 1 ]; then
            if run_suite "${suite%%:*}"; then
                return 1
            fi
            case "$suite" in
            # (the tests that run one function of a suite, on a display or scaled)
            tst_window_with_room) echo "tst_window:renderedWindowFitsAndCutsNoText" >>"$work/caught" ;;
            window_on_display) echo "tst_window:placeOnRealDisplay" >>"$work/caught" ;;
            station_window_on_display) echo "tst_stationwindow:sixteenTilesFitTheLine" >>"$work/caught" ;;
            [!t]* | t[!s]*) echo "$suite" >>"$work/caught" ;;
            *)
                # "FAIL!  : Test::function(row) why": the function and its row; a suite
                # stopped by its time-out is the function that was running.
                rows=$(sed -n 's/^FAIL!  : [A-Za-z]*::\([A-Za-z_]*\)\(([^)]*)\)\{0,1\}.*/'"${suite%%:*}"':\1\2/p' "$work/log")
                printf '%s\n' "${rows:-${suite%%:*}:(stopped, or failed outside a test function)}" >>"$work/caught" ;;
            esac
        elif TCPSERVER_FAIL_FAST=1 run_suite "$suite"; then
            return 1
        fi
    done
    return 0
}

# What each suite's fault needs rebuilt.
targets() {
    echo "$1" | tr '|' '\n' | sed 's/:.*//; s/^tst_window_with_room$/tst_window/; s/^window_on_display$/tst_window/;
        s/^station_window_on_display$/tst_stationwindow/; s/^adapters$/tcpserver-station device-emulator/; s/^package$/all/'
}

failures=0
count=0
index=0
[ "$attribute" = 0 ] || [ "$skip" -gt 0 ] || : >"$work/attribution.txt"
while IFS= read -r rule <&3; do
    case "$rule" in '' | '#'*) continue ;; esac
    [ -z "$only" ] || printf '%s\n' "$rule" | grep -qE -- "$only" || continue
    if [ "$skip" -gt 0 ]; then
        skip=$((skip - 1))
        continue
    fi
    index=$((index + 1))
    [ "$shard" = 0 ] || [ $(((index - 1) % jobs + 1)) = "$shard" ] || continue
    # (cut, since read would take two tabs for one where a replacement is empty)
    file=$(printf '%s\n' "$rule" | cut -f1)
    function=$(printf '%s\n' "$rule" | cut -f2)
    pattern=$(printf '%s\n' "$rule" | cut -f3)
    replacement=$(printf '%s\n' "$rule" | cut -f4)
    suites=$(printf '%s\n' "$rule" | cut -f5)
    count=$((count + 1))
    source="$work/src/$file"
    cp "$source" "$work/original"
    # The suites' temporary folders, emptied for each rule: a suite that fails
    # fast or is stopped at its time-out runs no destructor to remove its own.
    rm -rf "$work/tmp" && mkdir "$work/tmp"
    echo "$file" >"$work/mutated"
    if ! mutate "$source" "$function" "$pattern" "$replacement"; then
        verdict="NO LONGER APPLIES"
    elif ! cmake --build "$work/build" --target $(targets "$suites") >"$work/log" 2>&1; then
        verdict="DOES NOT BUILD"
    elif catches "$suites"; then
        verdict="caught"
    else
        verdict="SURVIVED"
    fi
    # A fresh time, so that the next build compiles the file back.
    cp "$work/original" "$source"
    [ "$verdict" = caught ] || failures=$((failures + 1))
    printf '%-18s %s %s: %s\n' "$verdict" "$file" "$function" "$pattern"
    if [ "$attribute" = 1 ] && [ "$verdict" = caught ]; then
        printf '%s %s: %s\t%s\n' "$file" "$function" "$pattern" "$(sort -u "$work/caught" | tr '\n' ' ')" >>"$work/attribution.txt"
    fi
done 3<scripts/mutations.txt
rm -rf "$work/tmp"
[ "$shard" = 0 ] || printf 'copy %s of %s: ' "$shard" "$jobs"
echo "$count faults, $failures not caught"

[ "$attribute" = 0 ] || [ "$shard" != 0 ] || list_functions "$work/build"
[ "$failures" -eq 0 ]
