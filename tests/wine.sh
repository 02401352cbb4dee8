#!/bin/bash
# The Windows build under Wine, in this network namespace: the zip, every DLL its programs import in it or
# Windows' own; the suites built for Windows; from the zip unpacked into an empty folder, flashes from adapters
# named Ethernet and 以太网, with ModifyIP through a stand-in netsh (once as after asking for elevation).
#   tests/wine.sh SOURCE_DIR WINDOWS_BUILD_DIR LINUX_DEVICE_EMULATOR
set -euo pipefail
source=$1 build=$2 emulator=$3
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v wine x86_64-w64-mingw32-g++-posix Xvfb xdotool >/dev/null || { echo "SKIP: no Wine, mingw-w64 or Xvfb"; exit 77; }
"$source/scripts/build-windows.sh" "$build" >"$build.log" 2>&1 || { tail -30 "$build.log"; fail "the Windows build"; }
scratch=$(mktemp -d) pids=""
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

. "$(dirname "$0")/support/display.sh"
# Wine hands Windows programs QT_ variables only under the name WINEQT_.
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEQT_FORCE_STDERR_LOGGING=1
timeout 120 wineboot -i >/dev/null 2>&1 || fail "no Wine prefix"
# The suites find their DLLs where the build took them from.
qt=$("$source/scripts/windows-qt.sh")
gcc=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
pthread=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")
suite() {
    WINEPATH="$qt/bin;$gcc;$pthread" WINEQT_QPA_PLATFORM=offscreen WINEQT_QPA_FONTDIR=/usr/share/fonts/truetype/dejavu \
        WINEQT_SCALE_FACTOR=1.25 timeout 300 wine "$@" >"$scratch/suite.log" 2>&1 ||
        { grep -Ev "^(PASS|QDEBUG)" "$scratch/suite.log" | tail -30; fail "$*"; }
}
suite "$build/tests/tst_device/tst_device.exe"
suite "$build/tests/tst_operator/tst_operator.exe"
suite "$build/tests/tst_operator/limited.exe" "$build/tests/tst_operator/tst_operator.exe" netshCommandLine # elevated

head -c 200000 /dev/urandom >"$app/abset/boor/true/file.bin"
cp "$build/tests/tst_operator/netsh.exe" "$app/" # found first: Windows looks in the program's folder first
listening() { ss -ltn | grep -q ':10013 '; }
# press KEYS: a click on the window's empty top edge makes it the active one first
press() { xdotool mousemove --window "$window" 10 3 click 1 key "$@"; }
# flash ADAPTER ADDRESS [limited]: the window starts with the adapter at ADDRESS
flash() {
    ip link add "$1" type veth peer name peer0 && ip link set "$1" up && ip address add "$2/24" dev "$1"
    rm -f "$app"/netsh-*
    (cd "$app" && exec wine ${3:+"$build/tests/tst_operator/limited.exe"} TcpServer.exe >"$scratch/program.log" 2>&1) &
    disown # ended by wineserver -k
    window=$(timeout 120 xdotool search --sync --onlyvisible --name '^Tcp Server$' | head -n 1) || { cat "$scratch/program.log"; xdotool search --name "." getwindowname %@; fail "no window from $1"; }
    eval "$(xdotool getwindowgeometry --shell "$window")"
    [ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -le 1920 ] && [ $((Y + HEIGHT)) -le 1080 ] ||
        fail "the window at $X,$Y, $WIDTH × $HEIGHT, is not wholly on the screen"
    if [ "$2" != 192.168.0.92 ]; then
        ! listening || fail "listening with the address wrong"
        press Tab space
        for _ in $(seq 200); do [ -s "$app/netsh-arguments.txt" ] && break; sleep 0.1; done
        printf '%s\n' interface ipv4 set address name = "$1" source = static address = 192.168.0.92 mask = \
            255.255.255.0 | cmp - "$app/netsh-arguments.txt" || fail "netsh was given: $(cat "$app/netsh-arguments.txt")"
        ip -4 address flush dev "$1" && ip address add 192.168.0.92/24 dev "$1" # what netsh would do
        touch "$app/netsh-done"
        for _ in $(seq 100); do listening && break; sleep 0.1; done
        press shift+Tab space
    else
        press space
    fi
    "$emulator" --host 192.168.0.92 --expect "$app/abset/boor/true/file.bin" --quiet || { cat "$scratch/program.log"; fail "the flash from $1 at $2"; }
    # Only the program ends: Wine's own processes stay, so none of them takes the focus from the next window.
    pkill -f TcpServer.exe
    for _ in $(seq 100); do pgrep -f TcpServer.exe >/dev/null || break; sleep 0.1; done
    ip link delete "$1"
}
flash Ethernet 192.168.0.92
flash Ethernet 10.1.1.1
flash 以太网 10.1.1.1 limited
echo "PASS: the zip's programs under Wine"
