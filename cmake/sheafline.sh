#!/usr/bin/env bash
# Set-up, build, run, test and benchmark Sheafline on Debian 12.
#
#   bash cmake/sheafline.sh run [folder]     install what is missing, build, start the program
#   bash cmake/sheafline.sh test             install what is missing, build, run every test
#   bash cmake/sheafline.sh bench [area ...] build and run the benchmarks
#   bash cmake/sheafline.sh deps             only install the packages
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${SHEAFLINE_BUILD_DIR:-$here/build}"

# Everything the build, the program and the tests need, by Debian package name.
packages=(
    cmake ninja-build g++ pkg-config ccache
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
    qt6-pdf-dev
    qt6-webengine-dev qt6-webengine-dev-tools
    libjs-pdf
    fonts-ipafont-gothic
    qt6-translations-l10n
    xvfb xauth
    x11-utils
    qpdf
    # a slow file share mounted by the tests (FUSE)
    fuse3 python3-fusepy
    libseccomp-dev zlib1g-dev
    # signed updates (libsodium), and OpenSSL to check the signature format
    libsodium-dev openssl
    python3
    # journeys with real input (tests/e2e) and cmake/screenshot.sh
    openbox xdotool x11-utils imagemagick
    # a private session bus for the one-window tests and the start-up bench
    dbus-daemon dbus-bin
    # the Debian package (cpack) and its checks
    dpkg-dev desktop-file-utils appstream
    # the isolation benchmark counts system calls
    strace
    # printing: jobs go to CUPS through libcups; the print journey runs a
    # print server of its own that prints to PDF files
    libcups2-dev cups cups-client cups-bsd cups-filters printer-driver-cups-pdf
)

deps() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
}

configure_and_build() {
    # ccache makes rebuilds of unchanged sources (other checkouts, CI) cheap.
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}"
    cmake --build "$build" -j "$(nproc)"
}

cmd="${1:-run}"
shift || true
case "$cmd" in
    deps)
        deps ;;
    run)
        deps
        configure_and_build
        exec "$build/sheafline" "$@" ;;
    test)
        deps
        configure_and_build
        cd "$build"
        ctest --output-on-failure -j "$(nproc)" "$@" ;;
    bench)
        deps
        configure_and_build
        if [ $# -eq 0 ]; then
            "$build/bench/sheafline-bench"
        else
            "$build/bench/sheafline-bench" "$@"
        fi ;;
    *)
        echo "usage: bash cmake/sheafline.sh run|test|bench|deps" >&2
        exit 2 ;;
esac
