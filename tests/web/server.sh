#!/usr/bin/env bash
# The browser checks' web server, as a CTest fixture: `start` serves FOLDER on 127.0.0.1 on a free
# port (scripts/serve-web) and leaves its address and process id in STATE; `stop` ends that
# process by its id.
# Usage: server.sh start STATE FOLDER | server.sh stop STATE
set -euo pipefail

action=$1
state=$2
case "$action" in
start)
    mkdir -p "$state"
    rm -f "$state/address" "$state/pid"
    # Its output goes to a file: CTest waits for the test's own output to close.
    "$(dirname "$0")/../../scripts/serve-web" --port 0 "$3" >"$state/address" 2>"$state/log" \
        </dev/null &
    echo $! >"$state/pid"
    for _ in $(seq 100); do
        if grep -q '^http' "$state/address"; then
            echo "serving $3 at $(cat "$state/address")"
            exit 0
        fi
        sleep 0.1
    done
    echo "the web server did not start:" >&2
    cat "$state/log" >&2
    exit 1
    ;;
stop)
    if [[ -f "$state/pid" ]]; then
        kill "$(cat "$state/pid")" 2>/dev/null || true
        rm -f "$state/pid"
    fi
    ;;
esac
