#!/usr/bin/env bash
# Makes the README's picture: the program under Xvfb with a window manager, on
# a generated folder of PDFs with sub-folders, a sub-folder opened in the tree
# and a document opened from the list.
#
#   bash cmake/screenshot.sh [out.png]      (default: screenshot.png in the repo)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${SHEAFLINE_BUILD_DIR:-$here/build}"
out="$(realpath -m "${1:-$here/screenshot.png}")"

# Outside an X server: build what is needed, then run again under Xvfb.
if [ -z "${SHEAFLINE_SCREENSHOT_X:-}" ]; then
    bash "$here/cmake/sheafline.sh" deps
    if [ ! -f "$build/CMakeCache.txt" ]; then
        launcher=()
        command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
        cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}"
    fi
    cmake --build "$build" -j "$(nproc)" --target sheafline sheafline-solidpdf
    SHEAFLINE_SCREENSHOT_X=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$out"
fi

work="$(mktemp -d)"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Waits until a command succeeds, at most $1 seconds.
wait_for() {
    local limit="$1"; shift
    local end=$((SECONDS + limit))
    until "$@"; do
        if [ "$SECONDS" -ge "$end" ]; then
            import -window root "${out%.png}-timeout.png" 2>/dev/null || true
            echo "timed out: $* (the screen is in ${out%.png}-timeout.png)" >&2
            exit 1
        fi
        sleep 0.1
    done
}

# The folder: sub-folders with documents, and a full list at the top.
home="$work/home"
docs="$home/資料"
mkdir -p "$home/.config/MOSSGATE" "$home/run" "$docs"
chmod 700 "$home/run"
# A roomier window than the first start's, and an update check that stays local.
cat >"$home/.config/MOSSGATE/Sheafline.conf" <<'EOC'
[General]
updatepath=http://127.0.0.1:9/
WinWidth=1040
WinHeight=700
TreeWidth=400
TreeHeight=230
EOC
pdf="$build/tests/e2e/sheafline-solidpdf"
export QT_QPA_PLATFORM=offscreen
colours=("#2f6db5" "#c0392b" "#27ae60" "#8e44ad" "#d35400" "#16a085" "#7f8c8d" "#2c3e50")
names=("2026年度 事業計画" "会議資料 12月" "製品カタログ" "設計レビュー" "品質報告書" "取扱説明書" "見積書 A-1024" "議事録 11月")
for i in "${!names[@]}"; do
    "$pdf" "$docs/$(printf '%02d' $((i + 1))) ${names[$i]}.pdf" "${colours[$i]}" --sample "${names[$i]}"
done
for sub in "2025年度/上期" "2025年度/下期" "2026年度/上期" "2026年度/下期" "カタログ/製品" "カタログ/部品" "契約書"; do
    mkdir -p "$docs/$sub"
    "$pdf" "$docs/$sub/${sub##*/} 概要.pdf" "#2f6db5" --sample "${sub##*/} 概要"
done
unset QT_QPA_PLATFORM

# The desktop.
HOME="$home" XDG_CONFIG_HOME="$home/.config" openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
wait_for 15 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'

export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" \
       XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=xcb
# Off the user's session bus: a Sheafline running there would take the folder.
unset DBUS_SESSION_BUS_ADDRESS
# SHEAFLINE_SCREENSHOT_WEB=1: the web back-end ("-b").
web="${SHEAFLINE_SCREENSHOT_WEB:-}"
args=("$docs")
[ -n "$web" ] && args+=(-b)
(cd "$home" && exec "$build/sheafline" "${args[@]}") &
app=$!
pids+=($app)
wid=""
find_window() { wid="$(xdotool search --all --onlyvisible --pid "$app" --name '^Sheafline$' 2>/dev/null | head -1)"; [ -n "$wid" ]; }
wait_for 60 find_window
xdotool mousemove 1 1

# Share of the screen in a colour (0..1).
share() {
    import -window root png:- \
        | convert png:- -fuzz 8% -fill black +opaque "$1" -fill white -opaque "$1" -format '%[fx:mean]' info:
}
more_than() { awk -v a="$(share "$1")" -v b="$2" 'BEGIN { exit !(a > b) }'; }

# Click into the empty part of the tree, open its first folder; click into the
# empty part of the list and open its third document.
eval "$(xdotool getwindowgeometry --shell "$wid")"
xdotool mousemove --sync $((X + 200)) $((Y + 200)) click 1
xdotool key --delay 80 Home Right
xdotool mousemove --sync $((X + 200)) $((Y + HEIGHT - 60)) click 1
xdotool mousemove 1 1
xdotool key --delay 80 Home Down Down Return
wait_for 30 more_than "${colours[2]}" 0.02
# The web view with its toolbar: 表示 > ツールバー (the third item), then the
# document drawn again below it.
if [ -n "$web" ]; then
    xdotool mousemove --window "$wid" --sync 76 9 click 1
    xdotool key --delay 120 Down Down Return
    xdotool mousemove 1 1
    sleep 1
    wait_for 30 more_than "${colours[2]}" 0.02
fi

# The window with its frame: the client's place less the frame's edges.
read -r fx fy fw fh < <(xwininfo -id "$wid" | awk '
    /Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
    /Relative upper-left X/ {rx=$4} /Relative upper-left Y/ {ry=$4}
    /Width:/ {w=$2} /Height:/ {h=$2}
    END {print x-rx, y-ry, w+2*rx, h+ry+rx}')
import -window root -crop "${fw}x${fh}+${fx}+${fy}" +repage "$out"
echo "wrote $out"
