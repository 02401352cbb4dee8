#!/bin/bash
# The Windows build under Wine, in this network namespace: the zip, the suites, flashes by the window and
# the station, the installer. It ends only what it started, by process id.
#   tests/wine.sh SOURCE_DIR WINDOWS_BUILD_DIR LINUX_DEVICE_EMULATOR
set -euo pipefail
source=$1 build=$2 emulator=$3
fail() { echo "FAIL: $*" >&2; exit 1; }
TCPSERVER_WINDOWS_QT_FIND=1 "$source/scripts/build-windows.sh" "$build" >"$build.log" 2>&1 ||
    { tail -5 "$build.log"; fail "the Windows build (its log: $build.log)"; }
scratch=$build.scratch pids="" # beside the build: what a killed run leaves, the next one clears
rm -rf "$scratch" && mkdir "$scratch"
cleanup() {
    kill $pids 2>/dev/null || true
    for prefix in "$scratch"/prefix-*; do [ ! -d "$prefix" ] || WINEPREFIX=$prefix wineserver -k 2>/dev/null || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT
unzip -q "$build"/tcpserver-*-win64.zip -d "$scratch"
app=$(echo "$scratch"/tcpserver-*-win64)
windows_own=$(ls /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/ | tr A-Z a-z)
for file in "$app"/*.exe "$app"/*/*.dll; do
    for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p' | tr A-Z a-z); do
        ls "$app" | tr A-Z a-z | grep -qx "$dll" || echo "$windows_own" | grep -qx "$dll" ||
            fail "${file#$app/} imports $dll, neither in the zip nor Windows' own"
    done
done
for licence in TcpServer.txt Qt.txt LGPL-3.txt GPL-3.txt mingw-gcc-runtime.txt mingw-w64-winpthreads.txt; do
    [ -s "$app/LICENSES/$licence" ] || fail "the zip lacks LICENSES/$licence"
done

. "$(dirname "$0")/support/display.sh"
# Wine hands Windows programs QT_ variables only under the name WINEQT_. The
# stand-ins in the system folder run in place of Wine's own tools only so.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;netsh.exe,icacls.exe=n" WINEQT_FORCE_STDERR_LOGGING=1
new_prefix() { # a fresh prefix, stand-ins in its system folder; the last one's windows go first (they keep the keys)
    [[ ${WINEPREFIX:-} != "$scratch"/* ]] || { wineserver -k; wineserver -w; } 2>/dev/null || true
    export WINEPREFIX=$scratch/prefix-$1
    timeout 120 wineboot -i >/dev/null 2>&1 || fail "no Wine prefix"
    system32=$WINEPREFIX/drive_c/windows/system32
    cp "$build"/tests/windows-tools/{netsh,icacls}.exe "$system32/"
    touch "$system32/icacls-done"
}
new_prefix zip

qt=$("$source/scripts/windows-qt.sh" --find)
gcc=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
pthread=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")
suite() {
    WINEPATH="$qt/bin;$gcc;$pthread" WINEQT_QPA_PLATFORM=offscreen WINEQT_QPA_FONTDIR=/usr/share/fonts/truetype/dejavu \
        WINEQT_SCALE_FACTOR=1.25 timeout 300 wine "$@" >"$scratch/suite.log" 2>&1 ||
        { grep -Ev "^(PASS|QDEBUG)" "$scratch/suite.log" | tail -30; fail "$*"; }
}
for test in tst_image tst_neighbours tst_firewall tst_adapternote tst_singleinstance tst_record tst_systemname tst_burstfilter tst_fixtures tst_protocol tst_station \
    tst_stationwindow tst_window; do
    suite "$build/tests/$test/$test.exe"
done

. "$(dirname "$0")/support/device.sh"
image=$app/abset/boor/true/file.bin
head -c 200000 /dev/urandom >"$image"
digest=$(sha256sum "$image" | cut -d' ' -f1)
listening() { ss -ltn | grep -q ':10013 '; }
# press KEYS: a click on the window's empty top edge makes it the active one first (again, where another
# took the focus meanwhile: the stand-in an elevation starts, say)
press() {
    for _ in $(seq 50); do
        xdotool mousemove --window "$window" 10 3 click 1
        [ "$(xdotool getactivewindow 2>/dev/null)" = "$window" ] && break
        sleep 0.1
    done
    xdotool key "$@"
}
# end PID: ends the program the test started as PID, and the one that shows its window (the same, or
# the one limited.exe started), by their process ids, and waits until they are gone
end() {
    local shown
    shown=$(xdotool getwindowpid "$window")
    kill "$1" "$shown" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || kill -0 "$shown" 2>/dev/null || break; sleep 0.1; done
}
# answer_netsh ADAPTER ADDRESS: checks what netsh was given, and does it
answer_netsh() {
    for _ in $(seq 200); do [ -s "$system32/netsh-arguments.txt" ] && break; sleep 0.1; done
    printf '%s\n' interface ipv4 set address name = "$1" source = static address = "$2" mask = 255.255.255.0 "" |
        cmp - "$system32/netsh-arguments.txt" || fail "netsh was given: $(cat "$system32/netsh-arguments.txt")"
    ip -4 address flush dev "$1" && ip address add "$2/24" dev "$1"
    touch "$system32/netsh-done"
}
# answer_restore ADAPTER FIRST SECOND: two addresses given back, each netsh call on its own (one elevated
# cmd.exe line, never a script): checks each call's arguments, and does it
answer_restore() {
    local first second
    first=$(printf '%s\n' interface ipv4 set address name = "$1" source = static address = "$2" mask = 255.255.255.0 "")
    second=$(printf '%s\n' interface ipv4 add address name = "$1" address = "$3" mask = 255.255.255.0 "")
    for _ in $(seq 200); do [ -s "$system32/netsh-arguments.txt" ] && break; sleep 0.1; done
    [ "$(cat "$system32/netsh-arguments.txt")" = "$first" ] || fail "netsh's first call: $(cat "$system32/netsh-arguments.txt")"
    ip -4 address flush dev "$1" && ip address add "$2/24" dev "$1"
    touch "$system32/netsh-done-1"
    for _ in $(seq 200); do [ "$(grep -c '^$' "$system32/netsh-arguments.txt")" -ge 2 ] && break; sleep 0.1; done
    [ "$(cat "$system32/netsh-arguments.txt")" = "$first"$'\n\n'"$second" ] ||
        fail "netsh's calls: $(cat "$system32/netsh-arguments.txt")"
    ip address add "$3/24" dev "$1"
    touch "$system32/netsh-done-2"
}
# flash PROGRAM ADAPTER ADDRESS [limited [SECOND]]: the window starts with the adapter at ADDRESS (and SECOND); the
# device flashes
flash() {
    local rows
    rows=$(record | grep -c ",complete," || true)
    cable "$2" "$3"
    [ -z "${5:-}" ] || ip address add "$5/24" dev "$2"
    rm -f "$system32"/netsh-*
    (cd "$(dirname "$1")" && exec wine ${4:+"$build/tests/windows-tools/limited.exe"} "$1" >"$scratch/program.log" 2>&1) &
    local program=$!
    window=$(find_window) || { cat "$scratch/program.log"; fail "no window from $2"; }
    eval "$(xdotool getwindowgeometry --shell "$window")"
    [ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -le 1920 ] && [ $((Y + HEIGHT)) -le 1080 ] ||
        fail "the window at $X,$Y, $WIDTH × $HEIGHT, is not wholly on the screen"
    if [ "$3" != 192.168.0.92 ]; then
        ! listening || fail "listening with the address wrong"
        press Tab space
        answer_netsh "$2" 192.168.0.92
        for _ in $(seq 100); do listening && break; sleep 0.1; done
        press shift+Tab space
    else
        press space
    fi
    # Download is done once a later key's box shows (ModifyIP's, the address being right): keys are taken in turn.
    press Tab space
    find_window TcpServer >/dev/null || fail "no box from ModifyIP after Download"
    on_device "$emulator" --host 192.168.0.92 --expect "$image" >"$scratch/device.log" ||
        { cat "$scratch/device.log" "$scratch/program.log"; fail "the flash from $2 at $3"; }
    grep -q "sha256 received $digest" "$scratch/device.log" || fail "the device's digest"
    for _ in $(seq 100); do [ "$(record | grep -c ",complete," || true)" -gt "$rows" ] && break; sleep 0.1; done
    # Only the program ends: Wine's own processes stay, so none of them takes the focus from the next window.
    end $program
    if [ "$3" != 192.168.0.92 ]; then
        # Ended without closing: the program gives the adapter back without a window, through netsh.
        rm -f "$system32"/netsh-*
        (cd "$(dirname "$1")" && exec wine ${4:+"$build/tests/windows-tools/limited.exe"} "$1" --restore-address \
            >"$scratch/restore.log" 2>&1) &
        local restore=$!
        if [ -n "${5:-}" ]; then answer_restore "$2" "$3" "$5"; else answer_netsh "$2" "$3"; fi
        wait $restore || { cat "$scratch/restore.log"; fail "--restore-address"; }
        grep -q "has its earlier settings again" "$scratch/restore.log" || { cat "$scratch/restore.log"; fail "--restore-address said"; }
    fi
    ip link delete "$2"
}
record() { cat "$WINEPREFIX"/drive_c/users/*/AppData/Local/TcpServer/flash-log.csv 2>/dev/null || true; }

flash "$app/TcpServer.exe" Ethernet 10.1.1.1
record | grep -q ",complete,192.168.0.50,[^,]*,[A-Z]:\\\\.*file.bin,200000,$digest,196,200000," ||
    { record; fail "the record of the flash from Ethernet"; }
flash "$app/TcpServer.exe" 以太网 10.1.1.1 limited 10.1.2.2
[ "$(record | grep -c ",complete,192.168.0.50,")" = 2 ] || { record; fail "the record of the flashes"; }

# The station: two devices of their own addresses behind one cable, at once.
cable Ethernet 192.168.0.92
on_device ip address add 192.168.0.51/24 dev peer0
# station_flashes WHAT [--window]: the station (or its window) serves the two at once, and ends by itself after them
station_flashes() {
    local what=$1
    shift
    (cd "$app" && exec wine tcpserver-station.exe "$@" --count 2 --devices 2 >"$scratch/station.log" 2>&1) &
    station=$! pids="$pids $!"
    [ -z "${1:-}" ] || find_window "TcpServer Station" >/dev/null || { cat "$scratch/station.log"; fail "no $what"; }
    for _ in $(seq 300); do listening && break; sleep 0.1; done
    on_device "$emulator" --host 192.168.0.92 --expect "$image" --delay 1 --quiet >/dev/null &
    second=$!
    on_device "$emulator" --host 192.168.0.92 --from 192.168.0.51 --expect "$image" --delay 1 --quiet >/dev/null ||
        { cat "$scratch/station.log"; fail "the $what's flash"; }
    wait $second || { cat "$scratch/station.log"; fail "the $what's other flash"; }
    for _ in $(seq 300); do kill -0 $station 2>/dev/null || break; sleep 0.1; done # 30 s at most
    kill $station 2>/dev/null && fail "the $what did not end after its two flashes"
    wait $station || { cat "$scratch/station.log"; fail "the $what's status"; }
}
station_flashes station
for address in 192.168.0.50 192.168.0.51; do
    grep -q "^flash [12]: Ethernet $address.*, complete, " "$scratch/station.log" || { cat "$scratch/station.log"; fail "$address line"; }
done
grep -q "^Image SHA-256 $digest" "$scratch/station.log" || { cat "$scratch/station.log"; fail "the station's digest"; }
[ "$(record | grep -c ",complete,192.168.0.5[01],")" = 4 ] || { record; fail "the station's record"; }
station_flashes "station window" --window
[ "$(record | grep -c ",complete,192.168.0.5[01],")" = 6 ] || { record; fail "the station window's record"; }
ip link delete Ethernet

# The installer, silently into a fresh prefix.
new_prefix installed
setup=$(ls "$build"/tcpserver-*-win64-setup.exe)
folder='C:\Program Files\TcpServer' installed=$WINEPREFIX/drive_c/Program\ Files/TcpServer
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\TcpServer'
rule=("name=TcpServer" "program=$folder\\TcpServer.exe")
expect_calls() { # expect_calls TOOL CALL...: each CALL its arguments, separated by |
    local tool=$1 calls=""
    shift
    for call in "$@"; do calls+=$(echo "$call" | tr '|' '\n')$'\n\n'; done
    printf '%s' "$calls" | cmp -s - "$system32/$tool-arguments.txt" ||
        { printf '%s' "$calls" | diff - "$system32/$tool-arguments.txt"; fail "$tool was not given what the installer must give it"; }
    rm -f "$system32/$tool-arguments.txt"
}
install_silently() { touch "$system32/netsh-done"; timeout 120 wine "$setup" /S || fail "the installer"; wineserver -w; }
install_silently
for file in TcpServer.exe tcpserver-station.exe device-emulator.exe Qt5Core.dll platforms/qwindows.dll Uninstall.exe; do
    [ -f "$installed/$file" ] || fail "the installer did not install $file"
done
for entry in TcpServer "TcpServer Station"; do
    [ -f "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$entry.lnk" ] || fail "no Start-menu entry $entry"
done
wine reg query "$key" /v DisplayName 2>/dev/null | grep -q TcpServer || fail "no entry among the installed apps"
wine reg query "$key" /v UninstallString 2>/dev/null | grep -qF "$folder\\Uninstall.exe" || fail "no uninstaller in the entry"
on_rule="advfirewall|firewall|delete|rule|${rule[0]}|${rule[1]}"
add_rule="advfirewall|firewall|add|rule|${rule[0]}|${rule[1]}|dir=in|action=allow|protocol=TCP|localport=10013|profile=any|enable=yes"
expect_calls netsh "$on_rule" "$add_rule"
expect_calls icacls "$folder|/inheritance:r|/grant:r|*S-1-5-32-544:(OI)(CI)F|/grant:r|*S-1-5-18:(OI)(CI)F|/grant:r|*S-1-5-32-545:(OI)(CI)RX" \
    "$folder\\abset\\boor\\true|/grant|*S-1-5-32-545:(OI)(CI)M"
cp "$image" "$installed/abset/boor/true/file.bin"
image=$installed/abset/boor/true/file.bin
flash "$installed/TcpServer.exe" Ethernet 192.168.0.92
install_silently # an upgrade: the same folder, the image kept, the rule made anew
cmp -s "$image" "$app/abset/boor/true/file.bin" || fail "the upgrade lost the image"
expect_calls netsh "$on_rule" "$add_rule"
rm -f "$system32"/icacls-arguments.txt
timeout 120 wine "$installed/Uninstall.exe" /S && wineserver -w || fail "the uninstaller"
[ -f "$image" ] || fail "the uninstaller took the technician's image"
[ "$(find "$installed" -type f | wc -l)" = 1 ] || fail "the uninstaller left $(find "$installed" -type f)"
expect_calls netsh "$on_rule"
! wine reg query "$key" >/dev/null 2>&1 || fail "the entry among the installed apps is left"
[ -z "$(ls "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/"TcpServer*.lnk 2>/dev/null)" ] ||
    fail "a Start-menu entry is left"
install_silently # and once more, to be removed with the image this time
rm -f "$system32"/{netsh,icacls}-arguments.txt
timeout 120 wine "$installed/Uninstall.exe" /S /REMOVEIMAGE && wineserver -w || fail "the uninstaller, image and all"
[ ! -e "$installed" ] || fail "the uninstaller left $installed with /REMOVEIMAGE"
echo "PASS: the zip's and the installer's programs under Wine"
