#!/usr/bin/env bash
# Drives drovask-play on a 1920 x 1080 X display (run under scripts/with-display): its refusals,
# a ROM given as two files, and --reload, which starts the machine again from a changed file
# while the window stays where the user put it.
# Usage: player.sh DROVASK_PLAY TEST_CARD_ROM DEMO_ROM
set -uo pipefail

player=$1
test_card_rom=$2
demo_rom=$3

source "$(dirname "$0")/checks.sh"

refuses() { # refuses MESSAGE ARGUMENT...: exit status 2 and MESSAGE on standard error
    local message=$1
    shift
    "$player" "$@" 2>"$work/err.txt"
    [[ $? == 2 ]] && grep -qF -- "$message" "$work/err.txt" || { cat "$work/err.txt"; false; }
}
head -c 4096 "$test_card_rom" >"$work/low.bin"
tail -c 4096 "$test_card_rom" >"$work/high.bin"
check "--help describes the player" eval '"$player" --help | grep -q "^Usage: drovask-play ROM"'
check "no ROM is refused" refuses "no ROM image given" 
check "a missing ROM is refused" refuses "cannot read the ROM image $work/none.bin" "$work/none.bin"
check "one half of a ROM is refused, with its size" \
    refuses "the ROM image $work/low.bin has 4096 bytes; the machine takes exactly 8192" \
    "$work/low.bin"
check "three halves are refused, each with its size" \
    refuses "the ROM files come to 12288 bytes ($work/low.bin has 4096, $work/high.bin has 4096, " \
    "$work/low.bin" "$work/high.bin" "$work/low.bin"
check "an endless ROM is refused after a ROM's worth" refuses "/dev/zero has more than 8192 bytes" \
    /dev/zero
check "an unknown option is refused" refuses "unknown option --fast" "$work/low.bin" --fast

# --- Two files, concatenated: the test card --------------------------------------------------------
"$player" "$work/low.bin" "$work/high.bin" &
pid=$!
check "the player's window appears" window_appears
xdotool mousemove 5 5 # keep the drawn cursor away from the picture
sleep 1
screenshot
check "the window is at (736, 284) and shows the test card" \
    eval '[[ "$(geometry_value "Absolute upper-left X")" == 736 ]] && lit 0 0 && lit 223 255'
xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool key Escape
check "Escape ends the player with exit code 0" eval 'wait_for_exit && [[ $code == 0 ]]'

# --- --reload ------------------------------------------------------------------------------------
cp "$test_card_rom" "$work/rom.bin"
"$player" "$work/rom.bin" --reload 2>"$work/reload.txt" &
pid=$!
check "the player's window appears with --reload" window_appears
xdotool windowmove --sync "$window" 600 200 2>/dev/null || xdotool windowmove "$window" 600 200
sleep 1
place() { echo "$(geometry_value 'Absolute upper-left X'),$(geometry_value 'Absolute upper-left Y')"; }
before=$(place)
head -c 100 "$demo_rom" >"$work/rom.bin"
sleep 1
check "a ROM of the wrong size is not loaded, and said so" \
    eval 'kill -0 $pid && grep -q "cannot be played" "$work/reload.txt"'
cp "$demo_rom" "$work/rom.bin.new" && mv "$work/rom.bin.new" "$work/rom.bin"
sleep 2
import -window "$window" "$work/window.png"
lit_in_window() { # lit_in_window COLUMN ROW of the picture, in the window's own screenshot
    [[ $(convert "$work/window.png" -format "%[fx:int(255*p{$((2 * $1)),$((2 * $2))}.r+0.5)]" \
        info:) == 255 ]]
}
check "the new ROM runs: the demo's walls, not the test card's corner" \
    eval 'lit_in_window 7 128 && lit_in_window 216 128 && ! lit_in_window 0 0'
check "the window stayed where it was put ($before)" test "$(place)" = "$before"
xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool key Escape
check "Escape ends the reloading player with exit code 0" eval 'wait_for_exit && [[ $code == 0 ]]'

echo "$passes passed, $failures failed"
((failures == 0))
