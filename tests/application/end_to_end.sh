#!/usr/bin/env bash
# Drives the real program on a 1920 x 1080 X display (run under scripts/with-display): placement,
# picture, keyboard, Escape, a close request, and the error box of a faulty ROM.
# Usage: end_to_end.sh TEST_CARD_PROGRAM FAULTY_PROGRAM SEND_CLOSE_REQUEST
set -uo pipefail

test_card=$1
faulty=$2
send_close_request=$3

source "$(dirname "$0")/checks.sh"

# --- The test card: placement, picture, keys, Escape -------------------------------------------
check "the window titled \"Tavrin Mirellon\" appears" start "$test_card"
check "the window is at (736, 284)" \
    test "$(geometry_value 'Absolute upper-left X'),$(geometry_value 'Absolute upper-left Y')" = "736,284"
check "the window is 448 x 512" test "$(geometry_value Width)x$(geometry_value Height)" = "448x512"

xdotool mousemove 5 5 # keep the drawn cursor away from the picture
sleep 1
screenshot
check "the four corner pixels are lit" eval 'lit 0 0 && lit 223 0 && lit 0 255 && lit 223 255'
check "the border is lit along each edge" eval 'lit 0 128 && lit 223 128 && lit 112 0 && lit 112 255'
check "the inside of the card is dark" eval 'dark 5 5 && dark 218 250'
check "every input box starts empty" eval 'dark 32 120 && dark 56 120 && dark 200 120'

xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool keydown c
sleep 0.5
screenshot
check "holding C lights the box of bit 0 only" eval 'lit 32 120 && dark 56 120 && dark 80 120'
xdotool keyup c
sleep 0.5
screenshot
check "releasing C empties the box again" dark 32 120

xdotool key Escape
check "Escape ends the program" wait_for_exit
check "the exit code after Escape is 0" test "${code:-none}" = 0

# --- A close request --------------------------------------------------------------------------
check "the program starts again" start "$test_card"
"$send_close_request" "$window"
check "a close request ends the program" wait_for_exit
check "the exit code after a close request is 0" test "${code:-none}" = 0

# --- An unimplemented instruction -------------------------------------------------------------
"$faulty" &
pid=$!
box=""
for _ in $(seq 100); do
    box=$(xwininfo -root -tree | grep '"Tavrin Mirellon Error"' | head -n 1)
    [[ -n "$box" ]] && break
    sleep 0.1
done
check "an unimplemented instruction shows the error box titled \"Tavrin Mirellon Error\"" test -n "$box"
if [[ -n "$box" ]]; then
    box_id=$(awk '{ print $1 }' <<<"$box")
    # The box is moved to the centre just after it appears: give that a moment.
    for _ in $(seq 30); do
        # "WIDTHxHEIGHT+X+Y" in the tree listing.
        read -r width height x y < <(xwininfo -root -tree | grep "^ *$box_id " |
            grep -oE '[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+' | head -n 1 | tr 'x+' '  ')
        [[ "$x,$y" == "$((960 - width / 2)),$((540 - height / 2))" ]] && break
        sleep 0.1
    done
    check "the error box (${width}x${height} at $x,$y) is centred on the screen" \
        test "$x,$y" = "$((960 - width / 2)),$((540 - height / 2))"
    check "the program waits while the box is shown" kill -0 "$pid"
    main_window=$(xdotool search --name '^Tavrin Mirellon$' | head -n 1)
    check "the program's window is hidden while the box is shown" \
        eval "xwininfo -id '$main_window' | grep -q 'Map State: IsUnMapped'"
    sleep 0.3
    xdotool windowfocus "$box_id" 2>/dev/null
    xdotool key Return
fi
check "dismissing the box ends the program" wait_for_exit
check "the exit code after a reported error is 0" test "${code:-none}" = 0

echo "$passes passed, $failures failed"
((failures == 0))
