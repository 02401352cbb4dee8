# Sourced by the set-up commands. ensure_packages PKG... installs the Debian
# packages that are missing, in one apt-get transaction: all of them or none.
ensure_packages() {
    missing=""
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing="$missing $package"
        fi
    done
    [ -z "$missing" ] && return 0

    if ! command -v apt-get >/dev/null 2>&1; then
        echo "error: these Debian packages are missing and there is no apt-get here:$missing" >&2
        return 1
    fi
    echo "Installing missing Debian packages:$missing"
    if [ "$(id -u)" = 0 ]; then
        apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
    elif command -v sudo >/dev/null 2>&1; then
        sudo apt-get update && sudo DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
    else
        echo "error: not root and no sudo. Ask an administrator to run:" >&2
        echo "  apt-get update && apt-get install -y --no-install-recommends$missing" >&2
        return 1
    fi
}

# What building the program needs (libcrypto for the image's digest, libmnl for
# the address helper, libpq to read the line's database URL), and what it runs
# (ip sets the adapter's address where the helper is not installed; Qt's
# PostgreSQL driver reaches the line's database).
BUILD_PACKAGES="cmake ninja-build g++ qtbase5-dev libssl-dev libmnl-dev libpq-dev iproute2 fonts-dejavu-core
  libqt5sql5-psql"
# What building Qt for Windows from Debian's source package needs: the
# mingw-w64 compilers, and make, perl and python3 for Qt's own build.
QT_WINDOWS_BUILD_PACKAGES="g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev make perl python3 xz-utils"
# What the tests add: Qt 6 and its PostgreSQL driver, and a PostgreSQL server
# the database tests start in folders of their own; the formatter the code is
# checked with; namespaces
# and users (unshare, nsenter, setpriv, flock)
# and file capabilities (setcap) for tests against real adapters; the package
# test's tools (dpkg-shlibdeps, file, lintian) and a display of its own (Xvfb,
# xdotool); the Windows build (mingw-w64, NSIS for the installer) and Wine to
# run it.
TEST_PACKAGES="$BUILD_PACKAGES $QT_WINDOWS_BUILD_PACKAGES qt6-base-dev libqt6sql6-psql postgresql util-linux procps libcap2-bin dpkg-dev file
  lintian xvfb xdotool unzip nsis wine wine64 clang-format"
