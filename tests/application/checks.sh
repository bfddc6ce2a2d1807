# Helpers that drive the real program on a 1920 x 1080 X display (scripts/with-display) and check
# its window from the outside; sourced by the end-to-end test and by the check of the installed
# package. They bring the suites' `check` (tests/support/check.sh), keep their files in `work`,
# and end a program that is still running when the sourcing script exits.

source "$(dirname "${BASH_SOURCE[0]}")/../support/check.sh"

work=$(mktemp -d)
pid=""
cleanup() {
    if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
        kill -9 "$pid" 2>/dev/null
    fi
    if [[ -n "${window_manager:-}" ]]; then
        kill "$window_manager" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# Waits up to 15 s for the program's window to become visible; sets window.
window_appears() {
    window=$("$(dirname "${BASH_SOURCE[0]}")/../../scripts/wait-for-window" 15)
}

# Starts a program and waits for its window to become visible; sets pid and window.
start() {
    "$1" &
    pid=$!
    window_appears
}

# Waits up to 10 s for the error box; sets box to its window id, the innermost window of that
# title (a window manager's frame may repeat its client's title).
box_appears() {
    box=""
    for _ in $(seq 100); do
        box=$(xwininfo -root -tree 2>/dev/null | grep '"Tavrin Mirellon Error"' | tail -n 1 |
              awk '{ print $1 }')
        [[ -n $box ]] && return 0
        sleep 0.1
    done
    return 1
}

# Gives the error box the focus and dismisses it with Return.
dismiss_box() {
    sleep 0.3
    xdotool windowfocus "$box" 2>/dev/null
    xdotool key Return
}

# Waits up to 10 s for the program to end; sets code to its exit code.
wait_for_exit() {
    code=""
    for _ in $(seq 100); do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid"
            code=$?
            pid=""
            return 0
        fi
        sleep 0.1
    done
    return 1
}

geometry_value() { # geometry_value FIELD (a line label of xwininfo)
    xwininfo -id "$window" | awk -F: -v field="$1" '$1 ~ field { gsub(/ /, "", $2); print $2 }'
}

screenshot() { import -window root "$work/screen.png"; }

# Red channel (0-255) of picture pixel (column, row): the window shows each picture pixel as a
# 2 x 2 block at window position (2 column, 2 row); the window sits at (736, 284).
picture_pixel() {
    convert "$work/screen.png" -format "%[fx:int(255*p{$((736 + 2 * $1)),$((284 + 2 * $2))}.r+0.5)]" info:
}
lit() { [[ $(picture_pixel "$1" "$2") == 255 ]]; }
dark() { [[ $(picture_pixel "$1" "$2") == 0 ]]; }
