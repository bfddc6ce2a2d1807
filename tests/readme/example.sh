#!/usr/bin/env bash
# Runs the example of the README's "Writing programs for this machine": its program and its
# commands, taken from the README itself, with the tools of the build folder given. The windowed
# player is left out; everything else must work as written and end with the script's verdict.
#
# Usage: tests/readme/example.sh BUILD_FOLDER
set -euo pipefail
readme=$(realpath "$(dirname "$0")/../../README.md")
build=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The section, then its code blocks: the asm one after "A first program, `bar.asm`" is bar.asm
# (the others are run by tests/readme/decimal_test.cpp and dialect_test.cpp), the sh ones are the commands.
sed -n '/^## Writing programs for this machine/,/^## /p' "$readme" >section.md
awk '/^A first program, `bar.asm`/{wanted=1} /^```asm/{on=(wanted == 1); if (on) wanted=2; next}
     /^```/{on=0} on' section.md >bar.asm
awk '/^```sh/{on=1; next} /^```/{on=0} on' section.md |
    grep -v 'drovask-play' | sed "s|build/release|$build|g" >commands.sh
test -s bar.asm && test -s commands.sh
output=$(bash -eo pipefail commands.sh)
echo "$output"
[[ "$output" == *"the bar is drawn"* ]] || { echo "FAIL: the README's check did not pass"; exit 1; }
grep -q '^0012 DONE$' bar.sym
grep -q '^0000 31 00 24  LXI SP,2400H ' bar.trace
grep -q '^pc 0012$' bar.state
echo "PASS: the README's example works as written"
