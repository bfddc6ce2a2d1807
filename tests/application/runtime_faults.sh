#!/usr/bin/env bash
# Faults met by the running program, driven from the outside on an X display (run under
# scripts/with-display): SIGINT, SIGTERM and SIGHUP end it as a close request does; arguments are
# ignored with a note; the X server going away ends it at once, also while the error box is
# shown; a graphics driver without OpenGL 3.3 or without GLSL 3.30 gets the error box, after which
# the program ends with exit code 0; without a display it says so and fails, and a display that
# answers late is waited for.
# Usage: runtime_faults.sh PROGRAM FAULTY_PROGRAM
set -uo pipefail

program=$1
faulty=$2

source "$(dirname "$0")/checks.sh"

server=""
stop_everything() {
    [[ -n $server ]] && kill -9 "$server" 2>/dev/null
    cleanup
}
trap stop_everything EXIT

# Starts a command in the background with its standard error in $work/stderr; sets pid.
launch() {
    "$@" 2>"$work/stderr" &
    pid=$!
}

# Whether the program wrote nothing on standard error; shows what it wrote otherwise.
stderr_empty() {
    [[ ! -s $work/stderr ]] || { sed 's/^/    standard error: /' "$work/stderr"; false; }
}

gone() { # gone PID: waits up to 5 s for the process to end (a zombie counts as ended)
    for _ in $(seq 50); do
        [[ ! -e /proc/$1 ]] || grep -q '^State:.*Z' "/proc/$1/status" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# Starts a private X server of its own; sets server (its pid) and DISPLAY. Xvfb writes its display
# number and a line end once it listens, into a file new to each start: read succeeds only on
# the whole line.
start_private_server() {
    local file number=""
    file=$(mktemp "$work/display.XXXXXX")
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$file" 2>/dev/null &
    server=$!
    for _ in $(seq 100); do
        read -r number <"$file" && break
        number=""
        sleep 0.1
    done
    [[ -n $number ]] || return 1
    export DISPLAY=":$number"
}

stop_private_server() {
    kill -9 "$server"
    wait "$server" 2>/dev/null
    server=""
}

# --- SIGINT, SIGTERM and SIGHUP (the terminal closed): a close request ----------------------------
for signal in INT TERM HUP; do
    # As from a terminal: a shell without job control would start the program with SIGINT ignored.
    launch env --default-signal=INT "$program"
    check "the program starts (for SIG$signal)" window_appears
    sleep 0.5
    kill -s "$signal" "$pid"
    check "SIG$signal ends the program" wait_for_exit
    check "the exit code after SIG$signal is 0 (got ${code:-none})" test "${code:-none}" = 0
done

# --- Arguments: the program takes none; it says so in one line and runs as usual ------------------
launch "$program" --help game.bin
check "given arguments, the program starts as usual" window_appears
check "standard error says in one line that the program takes no arguments" \
    eval '[[ $(wc -l <"$work/stderr") == 1 ]] && grep -q "takes no arguments" "$work/stderr"'
kill -s TERM "$pid"
check "SIGTERM ends the program given arguments, with exit code 0" \
    eval 'wait_for_exit && [[ $code == 0 ]]'

# --- A driver without OpenGL 3.3, or without GLSL 3.30: the error box -----------------------------
# Mesa's shader cache does not key on the GLSL override: it would pass the shaders as compiled.
for driver in "3.0 130" "3.3 130"; do
    read -r gl glsl <<<"$driver"
    launch env MESA_GL_VERSION_OVERRIDE="$gl" MESA_GLSL_VERSION_OVERRIDE="$glsl" \
        MESA_SHADER_CACHE_DISABLE=true "$program"
    check "OpenGL $gl with GLSL $glsl shows the error box" box_appears
    check "OpenGL $gl with GLSL $glsl never shows the program's window" \
        test -z "$(xdotool search --onlyvisible --name '^Tavrin Mirellon$')"
    [[ -n $box ]] && dismiss_box
    check "dismissing the box ends the program (OpenGL $gl, GLSL $glsl)" wait_for_exit
    check "the exit code after the box is 0 (got ${code:-none})" test "${code:-none}" = 0
    check "the message went to the box, not to standard error" stderr_empty
done

# --- The X server goes away ---------------------------------------------------------------------
shared_display=$DISPLAY
check "a private X server starts" start_private_server
launch "$program"
check "the program starts on a private X server" window_appears
sleep 0.5
stop_private_server
check "the program ends when its X server is killed" wait_for_exit
check "the exit code after losing the display is 1 (got ${code:-none})" test "${code:-none}" = 1
check "standard error says that the display was lost" \
    grep -q "Lost the connection to the display $DISPLAY" "$work/stderr"

# SDL shows the box from a forked copy of the program, with connections of its own.
check "another private X server starts" start_private_server
launch "$faulty"
check "the faulty program shows its error box on a private X server" box_appears
box_process=$(awk -v parent="$pid" '{ sub(/.*\) /, ""); if ($2 == parent) print FILENAME }' \
    /proc/[0-9]*/stat 2>/dev/null | head -n 1 | cut -d/ -f3)
stop_private_server
check "the program ends when its X server is killed while the box is shown" wait_for_exit
check "the exit code after losing the display under the box is 1 (got ${code:-none})" \
    test "${code:-none}" = 1
if [[ -n $box_process ]]; then
    check "the box's own process ($box_process) ends too" gone "$box_process"
fi
export DISPLAY=$shared_display

# --- No display, or one that answers only after the program has started ----------------------------
# Without a window system SDL would settle for drawing off screen: a window nobody sees, and an
# error box whose process crashes. The program says that it found no display instead, and fails.
launch env -u DISPLAY -u WAYLAND_DISPLAY "$program"
check "without a display the program ends" wait_for_exit
check "the exit code without a display is 1 (got ${code:-none})" test "${code:-none}" = 1
check "standard error says that the display could not be opened" \
    grep -q "Could not open the display" "$work/stderr"
# Far above the numbers that xvfb-run and the tests below take, so that no server starts there.
unused=7000
while [[ -e /tmp/.X$unused-lock || -e /tmp/.X11-unix/X$unused ]]; do
    unused=$((unused + 1))
done
unused=:$unused
launch env DISPLAY="$unused" "$program"
check "with a display that never answers the program ends" wait_for_exit
check "the exit code with a display that never answers is 1 (got ${code:-none})" \
    test "${code:-none}" = 1
check "standard error names the display $unused that could not be opened" \
    grep -q "Could not open the display \"$unused\"" "$work/stderr"

# A server that starts just after the program (as a busy one that refuses connections for a
# moment) is waited for: the faulty program shows its box there.
number=100
while [[ -e /tmp/.X$number-lock || -e /tmp/.X11-unix/X$number ]]; do
    number=$((number + 1))
done
export DISPLAY=":$number"
# Nothing but the box may speak: where XDG_RUNTIME_DIR is unset, a Wayland library tried while
# the X server is not up yet would complain on standard error.
launch env -u XDG_RUNTIME_DIR "$faulty"
sleep 1
Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null &
server=$!
check "a program started before its X server shows its error box there" box_appears
[[ -n $box ]] && dismiss_box
check "dismissing the box ends the program (server started late)" wait_for_exit
check "the exit code after the box is 0 (got ${code:-none}, server started late)" \
    test "${code:-none}" = 0
check "the message went to the box, and nothing to standard error (server started late)" \
    stderr_empty
stop_private_server
export DISPLAY=$shared_display

echo "$passes passed, $failures failed"
((failures == 0))
