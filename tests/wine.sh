#!/bin/bash
# The Windows build, proven under Wine in this network namespace: builds the
# zip; checks that every DLL its programs and plugins import is in it or is
# Windows' own; runs the Windows builds of the platform-neutral suites; then,
# from the zip unpacked into an empty folder, flashes a device from adapters
# named Ethernet and 以太网, once with ModifyIP through a stand-in netsh beside
# the program (once as Windows runs it after asking for elevation).
#   tests/wine.sh SOURCE_DIR WINDOWS_BUILD_DIR LINUX_DEVICE_EMULATOR
set -euo pipefail
source=$1 build=$2 emulator=$3
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in wine x86_64-w64-mingw32-g++-posix Xvfb xdotool; do
    command -v $tool >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
"$source/scripts/build-windows.sh" "$build" >"$build.log" 2>&1 || { tail -30 "$build.log"; fail "the Windows build"; }
scratch=$(mktemp -d)
pids=""
trap 'kill $pids 2>/dev/null || true; wineserver -k 2>/dev/null || true; rm -rf "$scratch"' EXIT
unzip -q "$build"/tcpserver-*-win64.zip -d "$scratch"
app=$(echo "$scratch"/tcpserver-*-win64)
windows_own=$(ls /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/ | tr A-Z a-z)
for file in "$app"/*.exe "$app"/*/*.dll; do
    for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p' | tr A-Z a-z); do
        ls "$app" | tr A-Z a-z | grep -qx "$dll" || echo "$windows_own" | grep -qx "$dll" ||
            fail "${file#$app/} imports $dll, neither in the zip nor Windows' own"
    done
done

exec 3>"$scratch/display"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
pids="$pids $!"
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$scratch/display")"
# Wine hands Windows programs QT_ variables only under the name WINEQT_.
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEQT_FORCE_STDERR_LOGGING=1
timeout 120 wineboot -i >/dev/null 2>&1 || fail "no Wine prefix"
# The suites find their DLLs where the build took them from.
qt=$("$source/scripts/windows-qt.sh")
gcc=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
pthread=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")
for suite in tst_device tst_operator tst_screen tst_netsh; do
    WINEPATH="$qt/bin;$gcc;$pthread" WINEQT_QPA_PLATFORM=offscreen WINEQT_QPA_FONTDIR=/usr/share/fonts/truetype/dejavu WINEQT_SCALE_FACTOR=$([ $suite = tst_screen ] && echo 1.25 || echo 1) \
        timeout 300 wine "$build/tests/$suite/$suite.exe" >"$scratch/$suite.log" 2>&1 || { grep -Ev "^(PASS|QDEBUG)" "$scratch/$suite.log" | tail -30; fail "$suite"; }
done
WINEPATH="$qt/bin;$gcc;$pthread" timeout 60 wine "$build/tests/tst_netsh/limited.exe" "$build/tests/tst_netsh/tst_netsh.exe" >"$scratch/limited.log" 2>&1 ||
    { cat "$scratch/limited.log"; fail "tst_netsh asking for elevation"; }

head -c 200000 /dev/urandom >"$app/abset/boor/true/file.bin"
cp "$build/tests/tst_netsh/netsh.exe" "$app/" # found first: Windows looks in the program's folder first
listening() { ss -ltn | grep -q ':10013 '; }
# flash ADAPTER ADDRESS [limited]: the window starts with the adapter at ADDRESS
flash() {
    ip link add "$1" type veth peer name peer0 && ip link set "$1" up && ip address add "$2/24" dev "$1"
    rm -f "$app"/netsh-*
    (cd "$app" && exec wine ${3:+"$build/tests/tst_netsh/limited.exe"} TcpServer.exe >"$scratch/program.log" 2>&1) &
    disown
    pids="$pids $!"
    window=$(timeout 60 xdotool search --sync --name '^Tcp Server$' | head -n 1) || fail "no window"
    eval "$(xdotool getwindowgeometry --shell "$window")"
    [ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -le 1920 ] && [ $((Y + HEIGHT)) -le 1080 ] ||
        fail "the window at $X,$Y, $WIDTH × $HEIGHT, is not wholly on the screen"
    if [ "$2" != 192.168.0.92 ]; then
        ! listening || fail "listening with the address wrong"
        xdotool windowfocus --sync "$window" key Tab Tab space
        for _ in $(seq 200); do [ -s "$app/netsh-arguments.txt" ] && break; sleep 0.1; done
        printf '%s\n' interface ipv4 set address name = "$1" source = static address = 192.168.0.92 mask = \
            255.255.255.0 | cmp - "$app/netsh-arguments.txt" || fail "netsh was given: $(cat "$app/netsh-arguments.txt")"
        ip -4 address flush dev "$1" && ip address add 192.168.0.92/24 dev "$1" # what netsh would do
        touch "$app/netsh-done"
        for _ in $(seq 100); do listening && break; sleep 0.1; done
        xdotool windowfocus --sync "$window" key shift+Tab space
    else
        xdotool windowfocus --sync "$window" key Tab space
    fi
    "$emulator" --host 192.168.0.92 --expect "$app/abset/boor/true/file.bin" --quiet || { cat "$scratch/program.log"; fail "the flash from $1"; }
    wineserver -k; ip link delete "$1"
}
flash Ethernet 192.168.0.92
flash Ethernet 10.1.1.1
flash 以太网 10.1.1.1 limited
echo "PASS: the zip's programs under Wine"
