#!/usr/bin/env bash
# Builds the Debian package from a built tree, checks its contents and
# metadata, then (as root) installs it, starts the installed program under
# Xvfb, waits for its window and removes the package again.
#   package_deb.sh BUILD_DIR
set -euo pipefail
build="$1"
work="$(mktemp -d)"
pid=""
installed=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
    if [ -n "$installed" ]; then
        dpkg -r sheafline >/dev/null || echo "FAIL: could not remove the package" >&2
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# 1. Build the package.
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb="$(ls "$work"/out/sheafline_*.deb)"
echo "built $(basename "$deb")"

# 2. Its contents and metadata.
dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/files"
for f in /usr/bin/sheafline /usr/lib/sheafline/sheafline /usr/lib/sheafline/Readme.pdf \
         /usr/lib/sheafline/system-package \
         /usr/share/applications/com.mossgate.Sheafline.desktop \
         /usr/share/icons/hicolor/128x128/apps/sheafline.png \
         /usr/share/metainfo/com.mossgate.Sheafline.metainfo.xml; do
    grep -qx "$f" "$work/files" || fail "the package lacks $f"
done
depends="$(dpkg-deb --field "$deb" Depends)"
for p in libqt6widgets6 libqt6pdf6 qt6-qpa-plugins fonts-ipafont-gothic libjs-pdf; do
    grep -q "\b$p\b" <<<"$depends" || fail "Depends lacks $p: $depends"
done
dpkg-deb -x "$deb" "$work/tree"
desktop-file-validate "$work/tree/usr/share/applications/com.mossgate.Sheafline.desktop" || fail "desktop file"
grep -q '^MimeType=.*inode/directory;' "$work/tree/usr/share/applications/com.mossgate.Sheafline.desktop" || fail "no inode/directory"
grep -q '^MimeType=.*application/pdf;' "$work/tree/usr/share/applications/com.mossgate.Sheafline.desktop" || fail "no application/pdf"
appstreamcli validate-tree --no-net "$work/tree" || fail "appstream data"

# 3. Install, start, remove: root only.
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing the package needs root (CI runs as root)"
    exit 77
fi
# Other checkouts on this machine may run this test too: one at a time.
exec 9>/tmp/sheafline-package-test.lock
flock -w 900 9 || fail "another package test holds the lock"
if dpkg-query -W -f='${Status}' sheafline 2>/dev/null | grep -q 'install ok installed'; then
    echo "SKIP: a sheafline package is already installed; not touching it"
    exit 77
fi
installed=yes
DEBIAN_FRONTEND=noninteractive apt-get install -y -o DPkg::Lock::Timeout=300 "$deb" >"$work/apt.log" 2>&1 \
    || { cat "$work/apt.log"; fail "apt-get install"; }
[ "$(readlink -f /usr/bin/sheafline)" = /usr/lib/sheafline/sheafline ] || fail "/usr/bin/sheafline does not lead to the program"

# The installed program, in a home of its own, on a folder as a file manager
# would hand it over; its window must show.
home="$work/home"
mkdir -p "$home/.config/MOSSGATE" "$home/docs" "$home/run"
chmod 700 "$home/run"
printf '[General]\nupdatepath=http://127.0.0.1:9/\n' >"$home/.config/MOSSGATE/Sheafline.conf"
cat >"$work/start.sh" <<'EOS'
set -u
cd "$HOME"
/usr/bin/sheafline "$HOME/docs" &
pid=$!
for _ in $(seq 1 600); do
    if xdotool search --all --onlyvisible --pid "$pid" --name '^Sheafline$' >/dev/null 2>&1; then
        echo "window shown"
        kill "$pid"; wait "$pid" 2>/dev/null
        exit 0
    fi
    kill -0 "$pid" 2>/dev/null || { echo "the program ended"; exit 1; }
    sleep 0.1
done
echo "no window"; kill "$pid"; exit 1
EOS
env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/start.sh" || fail "the installed program shows no window"

dpkg -r sheafline >/dev/null || fail "dpkg -r"
installed=""
[ ! -e /usr/bin/sheafline ] && [ ! -e /usr/lib/sheafline ] || fail "files left after removal"
echo "installed, started and removed"
