#!/bin/bash
# The benchmark: how long a flash takes per block with TcpServer's window, its
# transfer server alone, the headless station, a minimal server of the same
# protocol on plain blocking sockets (the floor), and tftpd-hpa (what a
# technician would otherwise use), for images of 1, 16 and 64 MiB; and what the
# image's SHA-256 costs beside openssl dgst for a 1 GiB image. Builds in
# Release, runs everything on loopback, prints a table, and writes
# bench/results/ and docs/performance-per-block.png.
#
#   bench/run.sh [--runs N] [--sizes "1 16 64"] [--digest-mib M] [--parts "servers several display stationwindow database digest"]
#
# Every size is measured with all processes on one CPU ("pinned"), with the
# scheduler placing them ("spread"), and beside two busy loops at normal
# priority ("busy", each loop bounded to 10 minutes); each N times (default 3),
# every server once per run, so that the ratios compare one run's figures.
# Then several devices at once through the station (slow devices that wait
# 1 ms before each request, fast ones, and the memory of eight at once); the
# window on a real X display (Xvfb) beside two busy loops, three flashes a run;
# the station's window against its terminal with the same devices; 200 flashes
# with the line's database up, down and hung (a PostgreSQL server of the
# benchmark's own); and the image's digest.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

runs=3
sizes="1 16 64"
digest_mib=1024
parts="servers several display stationwindow database digest"
while [ $# -gt 0 ]; do
    case "$1" in
    --runs) runs=$2; shift 2 ;;
    --sizes) sizes=$2; shift 2 ;;
    --digest-mib) digest_mib=$2; shift 2 ;;
    --parts) parts=$2; shift 2 ;;
    *) echo "usage: bench/run.sh [--runs N] [--sizes \"1 16 64\"] [--digest-mib M] [--parts \"servers several display digest\"]" >&2
       exit 2 ;;
    esac
done

if [ "${TCPSERVER_BENCH_INSIDE:-0}" != 1 ]; then
    . scripts/packages.sh
    ensure_packages $BUILD_PACKAGES util-linux gawk openssl xvfb postgresql
    # tftpd-hpa serves only as root (it gives up root for a user of its own).
    have_tftp=no
    if [ "$(id -u)" = 0 ] && ensure_packages tftpd-hpa curl >/dev/null 2>&1; then
        have_tftp=yes
    fi
    have_plot=yes
    ensure_packages gnuplot-nox >/dev/null 2>&1 || have_plot=no
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTCPSERVER_BUILD_BENCH=ON >/dev/null
    cmake --build build-bench --target flash-driver digest-driver floor-server tftp-client device-emulator \
        tcpserver-station >/dev/null
    export have_tftp have_plot
    # As root, everything runs in a private network namespace: a clean
    # loopback that no other program uses. tftpd-hpa wants one address that is
    # not loopback to exist, so the namespace gets a veth pair of its own.
    if [ "$(id -u)" = 0 ] && unshare --net true 2>/dev/null; then
        export TCPSERVER_BENCH_INSIDE=1 TCPSERVER_BENCH_WHERE="a private network namespace (clean loopback)"
        exec unshare --net bash -c 'ip link set lo up &&
            ip link add bench0 type veth peer name bench1 && ip address add 10.254.0.1/24 dev bench0 &&
            ip link set bench0 up && ip link set bench1 up && exec "$0" "$@"' "$0" --runs "$runs" --sizes "$sizes" \
            --digest-mib "$digest_mib" --parts "$parts"
    fi
    export TCPSERVER_BENCH_WHERE="this machine's loopback (not root: no private namespace)"
fi

bin=$root/build-bench
emulator=$bin/bin/device-emulator
work=$(mktemp -d)
busy=""
trap 'kill $busy $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
results=$root/bench/results
mkdir -p "$results"
raw=$results/raw.tsv
cpu=$(taskset -pc $$ | sed 's/.*: //; s/[-,].*//')

echo "Benchmark in $TCPSERVER_BENCH_WHERE; $runs runs of each; pinned means every process on CPU $cpu."
[ "$have_tftp" = yes ] || echo "tftpd-hpa needs root and its package here; not available, so its rows are skipped."

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
if ! port_free 10013; then
    echo "error: port 10013 is in use on this loopback; stop what holds it (another TcpServer?) and run again" >&2
    exit 1
fi

# Waits (at most 30 s) for a line in a file.
wait_for() {
    local what=$1 file=$2
    for _ in $(seq 300); do
        grep -q "$what" "$file" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "error: no '$what' in $file" >&2
    cat "$file" >&2
    return 1
}

# Pulls "seconds blocks median p99" out of a client's summary.
summary() {
    awk '/^received/ { blocks = $5; seconds = $7 }
         /^turnaround/ { median = $5; p99 = $9 }
         END { print seconds "\t" blocks "\t" median "\t" p99 }' "$1"
}

# The window (flash-driver) or the server alone (flash-driver --core), run
# from a folder that holds the image.
run_program() { # pin size image name [--core]
    local pin=$1 size=$2 image=$3 name=$4 dir=$work/program
    rm -rf "$dir"
    mkdir -p "$dir/abset/boor/true"
    cp "$bin/bench/flash-driver" "$dir/"
    ln "$image" "$dir/abset/boor/true/file.bin" 2>/dev/null || cp "$image" "$dir/abset/boor/true/file.bin"
    (cd "$dir" && QT_QPA_PLATFORM=offscreen $pin ./flash-driver ${5:-} >driver.txt 2>driver.err) &
    local driver=$!
    wait_for READY "$dir/driver.txt"
    $pin "$emulator" --quiet --expect "$image" >"$dir/device.txt"
    wait $driver
    grep -q "DONE complete" "$dir/driver.txt"
    local usage
    usage=$(awk '/^CPU/ { print $2 "\t" $6 }' "$dir/driver.txt")
    echo -e "$name\t$size\t$(summary "$dir/device.txt")\t$usage"
}

run_station() {
    local pin=$1 size=$2 image=$3
    $pin "$bin/bin/tcpserver-station" --image "$image" --count 1 --no-log >"$work/station.txt" 2>&1 &
    local station=$!
    wait_for Listening "$work/station.txt"
    $pin "$emulator" --quiet --expect "$image" >"$work/station-device.txt"
    wait $station
    echo -e "station\t$size\t$(summary "$work/station-device.txt")\t-\t-"
}

run_floor() {
    local pin=$1 size=$2 image=$3
    $pin "$bin/bench/floor-server" --port 10113 --image "$image" >"$work/floor.txt" &
    local server=$!
    wait_for READY "$work/floor.txt"
    $pin "$emulator" --quiet --port 10113 --expect "$image" >"$work/floor-device.txt"
    wait $server
    local usage
    usage=$(awk '/^CPU/ { print $2 "\t" $6 }' "$work/floor.txt")
    echo -e "floor\t$size\t$(summary "$work/floor-device.txt")\t$usage"
}

run_tftpd() {
    local pin=$1 size=$2 image=$3 root_dir=$work/tftproot
    mkdir -p "$root_dir"
    ln -f "$image" "$root_dir/file.bin" 2>/dev/null || cp "$image" "$root_dir/file.bin"
    $pin /usr/sbin/in.tftpd --foreground --listen --address 127.0.0.1:16969 --secure --user root "$root_dir" &
    local server=$!
    sleep 0.3
    $pin "$bin/bench/tftp-client" --port 16969 --file file.bin --output "$work/tftp.bin" >"$work/tftp.txt"
    cmp -s "$work/tftp.bin" "$image"
    # What a technician would run: curl, timed as a whole.
    local start end
    start=$(date +%s.%N)
    $pin curl -s --tftp-blksize 1024 "tftp://127.0.0.1:16969/file.bin" -o "$work/curl.bin"
    end=$(date +%s.%N)
    cmp -s "$work/curl.bin" "$image"
    kill $server 2>/dev/null || true
    wait $server 2>/dev/null || true
    # The CPU column carries curl's wall time here: tftpd-hpa forks a child per
    # transfer, whose CPU time is not ours to read.
    echo -e "tftpd-hpa\t$size\t$(summary "$work/tftp.txt")\t$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }')\t-"
}

# Two loops that keep both CPUs busy at normal priority, each ending by itself.
start_busy() { busy=""; for _ in 1 2; do timeout 600 sh -c 'while :; do :; done' & busy="$busy $!"; done; }
stop_busy() { kill $busy 2>/dev/null || true; wait $busy 2>/dev/null || true; busy=""; }

if [[ " $parts " == *" servers "* ]]; then
echo -e "placement\trun\tserver\tMiB\tseconds\tblocks\tmedian_us\tp99_us\tcpu_s\tpeak_rss_mib" >"$raw"
for size in $sizes; do
    image=$work/image-$size.bin
    head -c $((size * 1024 * 1024)) /dev/urandom >"$image"
    for run in $(seq "$runs"); do
        for placement in pinned spread busy; do
            pin=""
            [ $placement = pinned ] && pin="taskset -c $cpu"
            [ $placement = busy ] && start_busy
            {
                run_program "$pin" "$size" "$image" program
                run_program "$pin" "$size" "$image" core --core
                run_station "$pin" "$size" "$image"
                run_floor "$pin" "$size" "$image"
                [ "$have_tftp" = yes ] && run_tftpd "$pin" "$size" "$image"
            } | sed "s/^/$placement\t$run\t/" >>"$raw"
            [ $placement = busy ] && stop_busy
            echo "  $size MiB, run $run, $placement: done"
        done
    done
    rm -f "$image"
done

# Medians over the runs, and the targets' ratios.
gawk -F'\t' -f bench/summarize.awk "$raw" | tee "$results/summary.md"
fi

# Waits (at most 30 s) until something listens on port 10013.
wait_listening() {
    for _ in $(seq 300); do
        [ -n "$(ss -Hltn '( sport = :10013 )')" ] && return 0
        sleep 0.1
    done
    echo "error: nothing listens on port 10013" >&2
    cat "$work/station.txt" >&2
    return 1
}

# An X display of the benchmark's own (Xvfb): $display, ended by $xvfb's pid.
start_display() { # WIDTHxHEIGHT
    rm -f "$work/display"
    exec 4>"$work/display"
    Xvfb -displayfd 4 -screen 0 "$1x24" -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    display=":$(cat "$work/display")"
}

# ratio A B [FORMAT]: A / B.
ratio() { awk -v a="$1" -v b="$2" -v f="${3:-%g}" 'BEGIN { printf f "\n", a / b }'; }
median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
verdict() { awk -v v="$1" -v l="$2" 'BEGIN { print v <= l ? "met" : "NOT met" }'; }
# table_head TITLE HEADER: a section's title and the head of its table.
table_head() { printf '\n### %s\n\n%s\n' "$1" "$2"; echo "$2" | sed 's/[^|]*|/ --- |/g; s/^ --- |/|/'; }
# compared_run RUN SLOW_A SLOW_B FAST_A FAST_B PEAK_A PEAK_B: a run's row of
# seconds and peaks, B against A; the ratios and the difference are gathered
# in $slow, $fast and $memory for the targets.
compared_run() {
    slow="$slow $(ratio "$3" "$2")" fast="$fast $(ratio "$5" "$4")" memory="$memory $(($7 - $6))"
    echo "| $1 | $2 s | $3 s | $(ratio "$3" "$2" %.2f) | $4 s | $5 s | $(ratio "$5" "$4" %.2f) | $6 MiB | $7 MiB | $(($7 - $6)) MiB |"
}
targets_head() { printf '\n| target | measured (median of the runs) | verdict |\n| --- | --- | --- |\n'; }
# target WHAT VALUES LIMIT [FORMAT]: a row of a targets' table, the median of
# the runs' VALUES against LIMIT (printed in FORMAT, default two decimals).
target() {
    local measured
    measured=$(echo $2 | median)
    echo "| $1 | $(printf "${4:-%.2f}" "$measured") | $(verdict "$measured" "$3") |"
}

# The station with count devices at once: the seconds from the first device's
# start to the last one's end, and the station's peak memory.
# With "window", through the station's window on $display.
station_at_once() { # image count delay [window]
    local image=$1 count=$2 delay=$3 i start end peak=0
    if [ "${4:-}" = window ]; then
        DISPLAY=$display QT_QPA_PLATFORM=xcb "$bin/bin/tcpserver-station" --window --image "$image" --count "$count" \
            --devices "$count" --no-log >"$work/station.txt" 2>&1 &
    else
        "$bin/bin/tcpserver-station" --image "$image" --count "$count" --devices "$count" --no-log >"$work/station.txt" 2>&1 &
    fi
    local station=$!
    wait_listening
    start=$(date +%s.%N)
    local devices=""
    for i in $(seq "$count"); do
        "$emulator" --quiet --expect "$image" --delay "$delay" --timeout 60000 >"$work/at-once-$i.txt" &
        devices="$devices $!"
    done
    for _ in $(seq 6000); do # 10 minutes at most
        peak=$(awk '/^VmHWM/ { print $2 }' "/proc/$station/status" 2>/dev/null || echo "$peak")
        kill -0 $station 2>/dev/null || break
        sleep 0.1
    done
    wait $devices
    end=$(date +%s.%N)
    wait $station
    echo "$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }') $((peak / 1024))"
}

if [[ " $parts " == *" several "* ]]; then
    image=$work/several.bin
    {
        table_head "Several devices at once, through the station" \
            "| run | slow devices (1 ms before each request), 1 MiB: one alone | eight at once | ratio | fast devices, 16 MiB: four one after another | four at once | ratio | 64 MiB: one device's peak RSS | eight at once | difference |"
        slow="" fast="" memory=""
        for run in $(seq "$runs"); do
            head -c $((1024 * 1024)) /dev/urandom >"$image"
            read -r alone _ < <(station_at_once "$image" 1 1)
            read -r eight _ < <(station_at_once "$image" 8 1)
            head -c $((16 * 1024 * 1024)) /dev/urandom >"$image"
            after=0
            for _ in 1 2 3 4; do
                read -r one _ < <(station_at_once "$image" 1 0)
                after=$(awk -v a="$after" -v b="$one" 'BEGIN { print a + b }')
            done
            read -r four _ < <(station_at_once "$image" 4 0)
            head -c $((64 * 1024 * 1024)) /dev/urandom >"$image"
            read -r _ single < <(station_at_once "$image" 1 0)
            read -r _ many < <(station_at_once "$image" 8 0)
            compared_run "$run" "$alone" "$eight" "$after" "$four" "$single" "$many"
        done
        targets_head
        target "slow devices: eight at once / one alone <= 1.3" "$slow" 1.3
        target "fast devices: four at once / the same four one after another <= 1.1" "$fast" 1.1
        target "memory: eight at once on 64 MiB, peak beyond one device's <= 16 MiB" "$memory" 16 "%s MiB"
    } | tee -a "$results/summary.md"
    rm -f "$image"
fi

# The window on a real display (Xvfb, as a technician's desktop has an X
# server) beside two busy loops: the seconds of a 16 MiB flash, against the
# floor's beside the same loops, three flashes a run.
if [[ " $parts " == *" display "* ]]; then
    image=$work/display.bin
    head -c $((16 * 1024 * 1024)) /dev/urandom >"$image"
    start_display 1920x1080
    {
        table_head "The window on a real display (Xvfb) beside two busy loops, 16 MiB" \
            "| run | the window, seconds of its three flashes | the floor, seconds | ratio of the medians |"
        ratios=""
        for run in $(seq "$runs"); do
            dir=$work/window
            rm -rf "$dir" && mkdir -p "$dir/abset/boor/true"
            cp "$bin/bench/flash-driver" "$dir/"
            cp "$image" "$dir/abset/boor/true/file.bin"
            start_busy
            (cd "$dir" && DISPLAY=$display QT_QPA_PLATFORM=xcb ./flash-driver --flashes 3 >driver.txt 2>driver.err) &
            driver=$!
            flashes=""
            for flash in 1 2 3; do
                for _ in $(seq 300); do [ "$(grep -c READY "$dir/driver.txt" 2>/dev/null || true)" -ge $flash ] && break; sleep 0.1; done
                "$emulator" --quiet --expect "$image" >"$work/window-device.txt"
                flashes="$flashes $(summary "$work/window-device.txt" | cut -f1)"
            done
            wait $driver
            "$bin/bench/floor-server" --port 10113 --image "$image" >"$work/floor.txt" &
            server=$!
            wait_for READY "$work/floor.txt"
            "$emulator" --quiet --port 10113 --expect "$image" >"$work/floor-device.txt"
            wait $server
            stop_busy
            floor=$(summary "$work/floor-device.txt" | cut -f1)
            ratio=$(awk -v a="$(echo $flashes | median)" -v b="$floor" 'BEGIN { print a / b }')
            ratios="$ratios $ratio"
            echo "| $run |$flashes | $floor | $(printf '%.2f' "$ratio") |"
        done
        targets_head
        target "the window on a display beside two busy loops / the floor <= 2" "$ratios" 2
    } | tee -a "$results/summary.md"
    kill $xvfb 2>/dev/null || true
    rm -f "$image"
fi

# The station's window against its terminal, the same devices through each,
# one after the other in every run: slow devices, fast ones on a real display
# beside two busy loops, and the memory of 64 tiles.
if [[ " $parts " == *" stationwindow "* ]]; then
    image=$work/stationwindow.bin
    start_display 1366x768
    {
        table_head "The station's window against its terminal (Xvfb, 1366x768)" \
            "| run | 8 slow devices (1 ms before each request), 1 MiB: terminal | window | ratio | 16 fast devices, 16 MiB, beside two busy loops: terminal | window | ratio | 64 devices, 1 MiB: terminal's peak RSS | window's | difference |"
        slow="" fast="" memory=""
        for run in $(seq "$runs"); do
            head -c $((1024 * 1024)) /dev/urandom >"$image"
            read -r slow_terminal _ < <(station_at_once "$image" 8 1)
            read -r slow_window _ < <(station_at_once "$image" 8 1 window)
            read -r _ tiles_terminal < <(station_at_once "$image" 64 0)
            read -r _ tiles_window < <(station_at_once "$image" 64 0 window)
            head -c $((16 * 1024 * 1024)) /dev/urandom >"$image"
            start_busy
            read -r fast_terminal _ < <(station_at_once "$image" 16 0)
            read -r fast_window _ < <(station_at_once "$image" 16 0 window)
            stop_busy
            compared_run "$run" "$slow_terminal" "$slow_window" "$fast_terminal" "$fast_window" "$tiles_terminal" "$tiles_window"
        done
        targets_head
        target "8 slow devices: the window / the terminal <= 1.1" "$slow" 1.1
        target "16 fast devices beside two busy loops: the window / the terminal <= 1.3" "$fast" 1.3
        target "64 tiles: the window's peak beyond the terminal's <= 20 MiB" "$memory" 20 "%s MiB"
    } | tee -a "$results/summary.md"
    kill $xvfb 2>/dev/null || true
    rm -f "$image"
fi

# 200 flashes, one after another, through the station with the line's
# database up, down (its server stopped) and hung (stopped by SIGSTOP: it
# takes connections and never answers): the seconds per flash as the devices
# measure them, and the station's peak memory.
if [[ " $parts " == *" database "* ]]; then
    pg=/usr/lib/postgresql/15/bin
    as_postgres() { if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
    # The server runs as its package's user where this is root: it must reach its folder.
    mkdir -p "$work/pg" && chmod 777 "$work" "$work/pg"
    as_postgres "$pg/initdb" -D "$work/pg/data" --auth=trust -U postgres -N >/dev/null
    pg_start() {
        as_postgres "$pg/pg_ctl" -D "$work/pg/data" -l "$work/pg/log" -w \
            -o "-k $work/pg -c listen_addresses='' -c fsync=off" start >/dev/null
    }
    pg_pids() { local pid; pid=$(head -1 "$work/pg/data/postmaster.pid"); echo "$pid $(ps -o pid= --ppid "$pid")"; }
    pg_start
    psql -X -q -h "$work/pg" -U postgres -c "CREATE DATABASE flashes" >/dev/null
    url="postgresql:///flashes?host=$work/pg&user=postgres"
    image=$work/database.bin
    head -c $((1024 * 1024)) /dev/urandom >"$image"
    flashes=200
    # The seconds per flash (the median of every device's run, timed here to
    # the nanosecond: robust to the few that a shared machine's neighbours
    # hold up) and the peak RSS.
    through_database() { # mode
        local mode=$1 peak=0 seconds="" i start end now
        rm -f "$work/database-log"*.csv
        "$bin/bin/tcpserver-station" --image "$image" --count "$flashes" --database "$url" --station bench \
            --log "$work/database-log.csv" >"$work/station.txt" 2>&1 &
        local station=$!
        wait_listening
        for i in $(seq "$flashes"); do
            start=$(date +%s.%N)
            "$emulator" --quiet --expect "$image" >"$work/database-device.txt"
            end=$(date +%s.%N)
            seconds="$seconds $(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')"
            # (An ended station's status has no VmHWM line.)
            now=$(awk '/^VmHWM/ { print $2 }' "/proc/$station/status" 2>/dev/null || true)
            peak=${now:-$peak}
        done
        wait $station || true
        echo "$(echo $seconds | median | xargs printf '%.4f') $((peak / 1024))"
    }
    {
        table_head "$flashes flashes of 1 MiB through the station, the line's database up, down and hung" \
            "| run | up: seconds per flash (median) | peak RSS | down | peak RSS | hung | peak RSS | largest difference from up |"
        spread="" peaks=""
        for run in $(seq "$runs"); do
            read -r up up_peak < <(through_database up)
            as_postgres "$pg/pg_ctl" -D "$work/pg/data" -w -m fast stop >/dev/null
            read -r down down_peak < <(through_database down)
            pg_start
            kill -STOP $(pg_pids)
            read -r hung hung_peak < <(through_database hung)
            kill -CONT $(pg_pids)
            worst=$(awk -v u="$up" -v d="$down" -v h="$hung" 'BEGIN {
                a = d / u - 1; b = h / u - 1; if (a < 0) a = -a; if (b < 0) b = -b; print (a > b ? a : b) }')
            spread="$spread $worst"
            peaks="$peaks $up_peak $down_peak $hung_peak"
            echo "| $run | $up s | $up_peak MiB | $down s | $down_peak MiB | $hung s | $hung_peak MiB | $(awk -v w="$worst" 'BEGIN { printf "%.1f %%", 100 * w }') |"
        done
        echo
        echo "| target | measured | verdict |"
        echo "| --- | --- | --- |"
        echo "| seconds per flash, down or hung against up, within 5 % (median of the runs) | $(echo $spread | median | awk '{ printf "%.1f %%", 100 * $1 }') | $(verdict "$(echo $spread | median)" 0.05) |"
        echo "| memory bounded: the largest peak of any run | $(printf '%s\n' $peaks | sort -n | tail -1) MiB | - |"
    } | tee -a "$results/summary.md"
    as_postgres "$pg/pg_ctl" -D "$work/pg/data" -w -m fast stop >/dev/null || true
    rm -f "$image"
fi

# The image's digest beside openssl dgst, on the same file, and how long the
# event loop waits meanwhile.
if [[ " $parts " == *" digest "* ]]; then
image=$work/digest.bin
head -c $((digest_mib * 1024 * 1024)) /dev/urandom >"$image"
{
    table_head "The image's SHA-256, $digest_mib MiB" \
        "| run | TcpServer's digest (its own thread) | openssl dgst -sha256 (reads as it hashes) | ratio | longest event-loop gap meanwhile | reading the image (Download) |"
    for run in $(seq "$runs"); do
        ours=$("$bin/bench/digest-driver" "$image")
        start=$(date +%s.%N)
        theirs=$(openssl dgst -sha256 -r "$image" | cut -d' ' -f1)
        end=$(date +%s.%N)
        [ "$theirs" = "$(echo "$ours" | sed 's/.*sha256 //')" ] || { echo "error: the digests differ" >&2; exit 1; }
        echo "$ours" | awk -v run="$run" -v s="$start" -v e="$end" '{
            printf "| %d | %.3f s | %.3f s | %.2f | %s ms | %s s |\n", run, $5, e - s, $5 / (e - s), $10, $2 }'
    done
} | tee -a "$results/summary.md"
rm -f "$image"
fi

if [ "$have_plot" = yes ] && [[ " $parts " == *" servers "* ]]; then
    awk -F'\t' 'NR > 1 && $1 == "pinned" { print $3 "\t" $4 "\t" $7 }' "$raw" | sort -k1,1 -k2,2n >"$work/plot.tsv"
    for server in program floor tftpd-hpa; do
        awk -F'\t' -v s="$server" '$1 == s { print $2 "\t" $3 }' "$work/plot.tsv" |
            gawk -F'\t' '{ v[$1] = v[$1] " " $2 } END { for (k in v) { n = split(v[k], a, " "); asort(a); print k "\t" a[int((n + 1) / 2)] } }' |
            sort -n >"$work/plot-$server.tsv"
    done
    gnuplot <<EOF
set terminal pngcairo size 900,560 font ",11"
set output "$root/docs/performance-per-block.png"
set title "Turnaround per 1024-byte block, all processes on one CPU (median of $runs runs)"
set xlabel "image size (MiB)"
set ylabel "median turnaround per block (µs)"
set logscale x 2
set xrange [0.7:90]
set xtics (1, 16, 64)
set yrange [0:*]
set key top left
set grid
plot "$work/plot-program.tsv" using 1:2 with linespoints lw 2 pt 7 title "TcpServer (window shown, offscreen)", \
     "$work/plot-floor.tsv" using 1:2 with linespoints lw 2 pt 5 title "floor: blocking sockets, no window", \
     "$work/plot-tftpd-hpa.tsv" using 1:2 with linespoints lw 2 pt 9 title "tftpd-hpa (UDP, 1024-byte blocks)"
EOF
    echo "Plot: docs/performance-per-block.png"
fi
echo "Raw numbers: bench/results/raw.tsv; summary: bench/results/summary.md"
