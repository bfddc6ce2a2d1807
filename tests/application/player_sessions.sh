#!/usr/bin/env bash
# drovask-play for authors, on a 1920 x 1080 X display (run under scripts/with-display): a session
# played with xdotool and recorded with --record replays in drovask-run to the picture that was
# on screen, also after a rewind and after a load; P pauses and N runs one frame; F5 and F9 save
# and load a slot, and a bad slot is refused; the window is titled with the ROM's name; a program
# error under --reload leaves the player waiting for a new image, and without it ends the player
# with its record written.
# Usage: player_sessions.sh DROVASK_PLAY DROVASK_RUN DEMO_ROM FAULTY_ROM
set -uo pipefail

player=$1
runner=$2
demo_rom=$3
faulty_rom=$4

source "$(dirname "$0")/checks.sh"

focus() { xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"; }
press() { focus && xdotool key "$@"; } # press KEY...: each key down and up again
hold() { focus && xdotool keydown "$1" && sleep "$2" && xdotool keyup "$1"; }

# The window's picture as 224 x 256 grey pixels, each 0 or 255: the window shows each picture
# pixel as a 2 x 2 block.
window_picture() { # window_picture OUT
    import -window "$window" "$work/window.png" &&
        convert "$work/window.png" -sample 224x256 -colorspace gray -threshold 50% "$1"
}
same_picture() { # same_picture A B: no pixel differs
    [[ $(compare -metric AE "$1" "$2" null: 2>&1) == 0 ]]
}
last_line_frames() { # the frames that the record's last line tells
    tail -n 1 "$work/session.keys" | sed -n 's/^# \([0-9]*\) frames played: .*/\1/p'
}
# Waits up to 10 s for the error box, and dismisses it with Return.
box_dismissed() {
    box_appears && dismiss_box
}

"$player" "$demo_rom" --record "$work" 2>"$work/refused.txt"
status=$?
check "a record that may not be written is refused before the window shows" \
    eval '[[ $status == 2 ]] && grep -q "^drovask-play: --record: cannot write" "$work/refused.txt"'

# --- A recorded session replays to the picture on screen ---------------------------------------
cp "$demo_rom" "$work/demo.bin"
"$player" "$work/demo.bin" --record "$work/session.keys" 2>"$work/session.txt" &
pid=$!
check "the player's window appears" window_appears
check "the window is titled with the ROM's file name" \
    test "$(xdotool getwindowname "$window")" = "Tavrin Mirellon - demo.bin"
xdotool mousemove 5 5 # keep the drawn cursor away from the picture
sleep 0.5
press c
sleep 0.5
press q
sleep 0.5
hold d 0.4
press s
hold a 0.3
sleep 0.2 # A is let go for a few frames before its alias presses it again
press Left space # the player's aliases of the machine's A and S
sleep 0.3
press p
sleep 0.5
window_picture "$work/paused.png"
sleep 0.3
window_picture "$work/paused_later.png"
# N runs one frame; some frames leave the picture as it was, so N again until it shows a change
# (the replays below then tell the two frames apart).
steps=0
while ((steps < 4)); do
    press n
    sleep 0.5
    window_picture "$work/stepped.png"
    steps=$((steps + 1))
    same_picture "$work/paused.png" "$work/stepped.png" || break
done
press Escape
check "Escape ends the recording player with exit code 0" eval 'wait_for_exit && [[ $code == 0 ]]'
paused_at=$(sed -n 's/^drovask-play: paused after frame \([0-9]*\)$/\1/p' "$work/session.txt")
stepped_to=$(sed -n 's/^drovask-play: frame \([0-9]*\)$/\1/p' "$work/session.txt" | tail -n 1)
frames=$(last_line_frames)
check "pausing holds the picture" same_picture "$work/paused.png" "$work/paused_later.png"
check "P pauses (at frame ${paused_at:-none}) and each N runs one frame ($steps: to ${stepped_to:-none})" \
    eval '[[ -n $paused_at && $stepped_to == $((paused_at + steps)) ]]'
check "the record's last line tells the frames played (${frames:-none}), as standard error does" \
    eval '[[ $frames == "$stepped_to" ]] &&
          grep -q "^drovask-play: $frames frames played; drovask-run" "$work/session.txt"'
records_each_key() { # the machine's keys as played, the aliases Left and Space as A and S
    local key
    for key in C Q D S A; do
        grep -q "^at [0-9]* press $key$" "$work/session.keys" || return 1
    done
    [[ $(grep -c "press A$" "$work/session.keys") == 2 ]]
}
check "the record holds each key played, the aliases as the machine's keys" records_each_key

# replays_to PICTURE FRAMES: drovask-run, given the record, shows PICTURE after FRAMES frames and
# warns of nothing. Otherwise says which frame near FRAMES shows it, if any.
replays_to() {
    local frames=$1 picture=$2 near
    replay() { # replay FRAMES: the replayed picture in the window picture's form
        "$runner" "$work/demo.bin" --input "$work/session.keys" --frames "$1" \
            --screenshot "$work/replayed.png" 2>"$work/replay.txt" &&
            convert "$work/replayed.png" -colorspace gray -threshold 50% "$work/replayed.png"
    }
    replay "$frames" && same_picture "$picture" "$work/replayed.png" &&
        ! [[ -s $work/replay.txt ]] && return 0
    cat "$work/replay.txt"
    for near in $((frames - 2)) $((frames - 1)) $((frames + 1)) $((frames + 2)); do
        replay "$near" && same_picture "$picture" "$work/replayed.png" &&
            echo "the picture is drovask-run's after $near frames"
    done
    return 1
}
check "drovask-run replays the record to the picture on screen, warning of nothing" \
    replays_to "${frames:-0}" "$work/stepped.png"
check "... and to the paused picture $steps frame(s) earlier, which differs" \
    eval 'replays_to "${paused_at:-0}" "$work/paused.png" &&
          ! same_picture "$work/paused.png" "$work/stepped.png"'

# --- Rewind and the state slots ----------------------------------------------------------------
# replays_record PICTURE: the command on the record's last line, with a screenshot, shows PICTURE
# and warns of nothing.
replays_record() {
    local command
    command=$(tail -n 1 "$work/session.keys" | sed -n 's/^# [0-9]* frames played: drovask-run//p')
    [[ -n $command ]] &&
        eval "\"\$runner\" $command --screenshot \"\$work/replayed.png\"" 2>"$work/replay.txt" &&
        convert "$work/replayed.png" -colorspace gray -threshold 50% "$work/replayed.png" &&
        same_picture "$1" "$work/replayed.png" && ! [[ -s $work/replay.txt ]] && return 0
    cat "$work/replay.txt"
    return 1
}

# start_game NAME: the player recording a game just started (a coin, one player), its standard
# error in $work/NAME.txt.
start_game() {
    "$player" "$work/demo.bin" --record "$work/session.keys" 2>"$work/$1.txt" &
    pid=$!
    window_appears
    xdotool mousemove 5 5
    sleep 0.3
    press c
    sleep 0.3
    press q
    sleep 1
}

start_game rewind
hold d 0.5
press s
sleep 1
hold BackSpace 1
hold a 0.4
press s
sleep 0.3
press p
sleep 0.3
window_picture "$work/rewound.png"
press Escape
wait_for_exit
from=$(sed -n 's/^drovask-play: rewinding from frame \([0-9]*\)$/\1/p' "$work/rewind.txt")
to=$(sed -n 's/^drovask-play: rewound to frame \([0-9]*\)$/\1/p' "$work/rewind.txt")
check "Backspace held rewinds (from frame ${from:-none} to ${to:-none})" \
    eval '[[ -n $from && -n $to ]] && ((to < from))'
check "a session rewound and played on replays from its record to the picture on screen" \
    replays_record "$work/rewound.png"

start_game slots
press 2 p
sleep 0.3
window_picture "$work/saved.png"
press F5 p
hold a 0.5
press s
sleep 1
press p F9
sleep 0.3
window_picture "$work/loaded.png"
printf 'not a state\n' >"$work/demo.3.tmstate"
press 3 F9 p
sleep 0.5
press p
sleep 0.3
window_picture "$work/after_load.png"
press Escape
check "F5 saves slot 2 beside the ROM, as demo.2.tmstate" \
    eval 'grep -q "^drovask-play: frame [0-9]* saved in slot 2, $work/demo.2.tmstate$" \
          "$work/slots.txt" && [[ -s $work/demo.2.tmstate ]]'
check "F9 loads it back to the picture saved" same_picture "$work/saved.png" "$work/loaded.png"
check "a bad slot is refused with a message, and the player goes on" \
    eval 'grep -q "^drovask-play: slot 3 not loaded: .*demo.3.tmstate" "$work/slots.txt" &&
          wait_for_exit && [[ $code == 0 ]] && (($(last_line_frames) > 0))'
check "after a load the record replays from the loaded state to the picture on screen" \
    eval 'grep -q -- "--load-state $work/session.keys.tmstate" "$work/session.keys" &&
          replays_record "$work/after_load.png"'

# --- Program errors ----------------------------------------------------------------------------
cp "$faulty_rom" "$work/rom.bin"
"$player" "$work/rom.bin" --reload --record "$work/session.keys" 2>"$work/reload.txt" &
pid=$!
check "with --reload a program error shows its box" box_dismissed
sleep 0.5
check "... its message and PC on standard error" \
    grep -q '^drovask-play: at PC 0008, in frame 0: Could not execute instruction "08"' \
    "$work/reload.txt"
check "... and the player waits in its window" eval 'kill -0 $pid && window_appears'
cp "$demo_rom" "$work/rom.bin.new" && mv "$work/rom.bin.new" "$work/rom.bin"
sleep 2
window_picture "$work/reloaded.png"
lit_at() { [[ $(convert "$work/reloaded.png" -format "%[fx:int(255*p{$1,$2}.r)]" info:) == 255 ]]; }
check "... until the next image runs: the demo's walls" eval 'lit_at 7 128 && lit_at 216 128'
press Escape
check "Escape then ends it with exit code 0" eval 'wait_for_exit && [[ $code == 0 ]]'

rm -f "$work/session.keys"
"$player" "$faulty_rom" --record "$work/session.keys" 2>/dev/null &
pid=$!
box_dismissed
check "without --reload the error ends the player, with exit code 0 and its record written" \
    eval 'wait_for_exit && [[ $code == 0 && $(last_line_frames) == 0 ]]'

echo "$passes passed, $failures failed"
((failures == 0))
