#!/usr/bin/env bash
# Runs the Windows program under Wine on the current X display and checks it from the outside:
# the window's title, place and size, its picture, the drag gesture, a held key reaching the
# machine, Escape, and the error box for an instruction that is not implemented.
#
# Usage: scripts/with-display tests/windows-program/smoke.sh [BUILD_DIR]
#        scripts/with-display tests/windows-program/smoke.sh --program EXE
#   BUILD_DIR (default build/windows) holds the program that scripts/build-windows built. The
#   test card and a faulty ROM are built into copies of it in BUILD_DIR-smoke.
#   --program checks only the given executable, run where it lies (as unpacked from the zip): its
#   window, picture, drag and Escape.
# Prints one line per check, "PASS ID: DESCRIPTION" or "FAIL ID: DESCRIPTION", where ID names the
# check (--program makes the checks whose ids begin with "program."). Exits with 0 when every check
# passed, 1 when one failed, and 2 when it stopped before its end (the checks after that did not
# run). The screenshots it took are left in BUILD_DIR-smoke (with --program, beside the executable).
set -uo pipefail
cd "$(dirname "$0")/../.."

if [[ "${1:-}" == "--program" ]]; then
    program=$(realpath -m "${2:?--program needs the executable}")
    variants=""
    screenshots=$(dirname "$program")
else
    build=${1:-build/windows}
    variants=$(realpath -m "$build-smoke")
    program="$build/application/tavrin-mirellon.exe"
    screenshots=$variants
fi
title='Tavrin Mirellon'
error_title='Tavrin Mirellon Error'

source tests/support/check.sh # check ID DESCRIPTION COMMAND...
stop() { # stop [REASON]: ends the test before the checks that follow
    [[ -z "${1:-}" ]] || echo "FAIL: $1"
    echo "Windows smoke test: stopped after a failure"
    exit 2
}

for tool in wine wineboot wineserver xdotool xwininfo import convert cmake; do
    command -v "$tool" >/dev/null ||
        stop "'$tool' is missing (scripts/install-dependencies --windows)"
done
[[ -n "${DISPLAY:-}" ]] || stop "no X display: run under scripts/with-display"
[[ -f "$program" ]] || stop "$program does not exist: run scripts/build-windows first"
# The places expected below follow from the screen's size (1920 x 1080 under scripts/with-display).
read -r screen_width screen_height < <(xwininfo -root | awk '/Width:/ {w=$2} /Height:/ {h=$2}
                                                            END {print w, h}')

work=$(mktemp -d)
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
cleanup() {
    timeout 10 wineserver -k >/dev/null 2>&1
    # The screenshots stay for a look after a failure.
    cp "$work"/*.png "$screenshots/" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# --- A throwaway Wine prefix, made while the copies are built -------------------------------------
prepare_prefix() { # on failure, says what failed in $work/prefix.error
    if ! timeout 120 wineboot -i >/dev/null 2>&1; then
        echo "creating the Wine prefix" >"$work/prefix.error"
        return 1
    fi
    # Unmanaged windows: closing a window costs no delay and keys reach the focused window.
    if ! timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
        >/dev/null 2>&1; then
        echo "configuring Wine's X11 driver" >"$work/prefix.error"
        return 1
    fi
}
prepare_prefix &
prefix_job=$!

# --- The test card and the faulty ROM, built into copies of the program ---------------------------
build_variant() { # build_variant OUTPUT CMAKE_ARGUMENTS...
    local output=$1
    shift
    if ! cmake --preset windows -B "$variants" "$@" >"$work/configure.log" 2>&1 ||
        ! cmake --build "$variants" --target tavrin-mirellon >"$work/build.log" 2>&1; then
        cat "$work/configure.log" "$work/build.log" >&2
        stop "building $(basename "$output")"
    fi
    cp "$variants/application/tavrin-mirellon.exe" "$output"
}
if [[ -n "$variants" ]]; then
    mkdir -p "$variants"
    # 0x08 is one of the opcodes the processor does not implement; it is the first instruction.
    faulty_rom="$variants/faulty.rom"
    { printf '\x08'; head -c 8191 /dev/zero; } >"$faulty_rom"
    build_variant "$work/test-card.exe" -DMACHINE_ROM= -DMACHINE_PROGRAM=test_card
    build_variant "$work/faulty.exe" -DMACHINE_ROM="$faulty_rom"
    cp "$program" "$work/program.exe"
    program_to_run="$work/program.exe"
else
    program_to_run=$program
fi
wait "$prefix_job" || stop "$(cat "$work/prefix.error")"
echo "Ready to run under Wine after ${SECONDS} s"
SECONDS=0

# --- Helpers --------------------------------------------------------------------------------------
pid=""
start() { # start EXE [ARGUMENTS...]: runs it in the background, its pid in $pid, its standard
    # error (Wine hands a program started from a shell the shell's) in $work/stderr
    timeout 60 wine "$@" >/dev/null 2>"$work/stderr" &
    pid=$!
}
code=""
finish() { # finish: waits up to 10 s for the program; its exit code in $code (124: killed)
    local waited=0
    while kill -0 "$pid" 2>/dev/null && ((waited < 100)); do
        sleep 0.1
        waited=$((waited + 1))
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        code=124
        return
    fi
    wait "$pid"
    code=$?
}
find_window() { # find_window EXACT_TITLE: the visible window's id, waiting up to 20 s
    local id="" tries=0
    while [[ -z "$id" ]] && ((tries < 200)); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
        [[ -n "$id" ]] || sleep 0.1
        tries=$((tries + 1))
    done
    echo "$id"
}
geometry() { # geometry WINDOW: "x y width height"
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
                             /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}'
}
lit_fraction() { # lit_fraction IMAGE X Y WIDTH HEIGHT: share of pixels brighter than half
    convert "$1" -crop "${4}x${5}+${2}+${3}" +repage -colorspace Gray -threshold 50% \
        -format '%[fx:mean]' info:
}
at_least() { awk -v a="$1" -v b="$2" 'BEGIN {exit !(a >= b)}'; }
at_most() { awk -v a="$1" -v b="$2" 'BEGIN {exit !(a <= b)}'; }
press() { # press WINDOW KEY
    xdotool windowfocus "$1" 2>/dev/null
    xdotool key "$2"
}

summarise() { # ends the test with the result of its checks
    if ((failures > 0)); then
        echo "Windows smoke test: $failures check(s) failed (${SECONDS} s under Wine)"
        exit 1
    fi
    echo "Windows smoke test: all checks passed (${SECONDS} s under Wine)"
    exit 0
}

window_x=$((screen_width / 2 - 448 / 2))
window_y=$((screen_height / 2 - 512 / 2))

# --- The program: window, picture, drag, Escape ---------------------------------------------------
# Given arguments, which it ignores, the program says so and runs as usual.
start "$program_to_run" --help
window=$(find_window "$title")
check program.window "the program's window titled \"$title\" appears" test -n "$window" || stop
check program.no_arguments "standard error says that the program takes no arguments" \
    grep -q "takes no arguments" "$work/stderr"
read -r x y width height < <(geometry "$window")
check program.place \
    "the window is at ($window_x, $window_y) with 448 x 512 (found ($x, $y), $width x $height)" \
    test "$x $y $width $height" = "$window_x $window_y 448 512"
sleep 2
import -window "$window" "$work/program.png"
lit=$(lit_fraction "$work/program.png" 0 0 448 512)
check program.picture "the window shows the built-in program's picture (lit share $lit)" \
    eval 'at_least "$lit" 0.002 && at_most "$lit" 0.9'
# Ctrl with the left button held drags the window by the cursor's movement.
xdotool mousemove $((window_x + 164)) $((window_y + 216))
sleep 0.3
xdotool keydown Control_L mousedown 1
sleep 0.3
xdotool mousemove $((window_x + 194)) $((window_y + 236))
sleep 0.3
xdotool mousemove $((window_x + 224)) $((window_y + 256))
sleep 0.5
xdotool mouseup 1 keyup Control_L
sleep 0.3
read -r x y width height < <(geometry "$window")
check program.drag "Ctrl and the left button drag the window by (60, 40) (found ($x, $y))" \
    test "$x $y" = "$((window_x + 60)) $((window_y + 40))"
press "$window" Escape
finish
check program.escape "Escape ends the program with exit code 0 (got $code)" test "$code" = 0
[[ -n "$variants" ]] || summarise

# --- The test card: a held key reaches the machine ------------------------------------------------
# The card shows input port 1's bits as boxes; bit n's interior spans picture columns 25+24n to
# 38+24n and rows 113 to 126, drawn at twice the size from the window's corner. C is bit 0.
box() { # box IMAGE BIT: lit share of the inside of that bit's box
    lit_fraction "$1" $((2 * (25 + 24 * $2) + 2)) $((2 * 113 + 2)) 24 24
}
start "$work/test-card.exe"
window=$(find_window "$title")
[[ -n "$window" ]] || stop "the test card's window appears"
sleep 1
xdotool windowfocus "$window" 2>/dev/null
xdotool keydown c
sleep 0.7
import -window "$window" "$work/held.png"
xdotool keyup c
sleep 0.7
import -window "$window" "$work/released.png"
held=$(box "$work/held.png" 0)
other=$(box "$work/held.png" 1)
released=$(box "$work/released.png" 0)
corner=$(lit_fraction "$work/held.png" 0 0 2 2)
check card.corner \
    "the test card's border is drawn at the window's corner (lit share $corner)" \
    at_least "$corner" 1
check card.held "holding C lights the box of input bit 0 (lit share $held)" at_least "$held" 0.9
check card.other_bit "holding C leaves the box of input bit 1 dark (lit share $other)" \
    at_most "$other" 0.1
check card.released "releasing C darkens the box of input bit 0 again (lit share $released)" \
    at_most "$released" 0.1
press "$window" Escape
finish
check card.escape "Escape ends the test card with exit code 0 (got $code)" test "$code" = 0

# --- The faulty ROM: the centred error box --------------------------------------------------------
start "$work/faulty.exe"
box_window=$(find_window "$error_title")
if check fault.box \
    "an instruction that is not implemented shows the box titled \"$error_title\"" \
    test -n "$box_window"; then
    sleep 0.5
    read -r x y width height < <(geometry "$box_window")
    expected_x=$((screen_width / 2 - width / 2))
    expected_y=$((screen_height / 2 - height / 2))
    check fault.box_place \
        "the $width x $height error box is at ($expected_x, $expected_y), found ($x, $y)" \
        test "$x $y" = "$expected_x $expected_y"
    hidden=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1)
    check fault.window_hidden "the program's window is hidden while the box is shown" \
        test -z "$hidden"
    press "$box_window" Return
fi
finish
check fault.return "Return dismisses the box and the program ends with exit code 0 (got $code)" \
    test "$code" = 0

summarise
