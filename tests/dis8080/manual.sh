#!/usr/bin/env bash
# A tool's manual against the program (dis8080's and asm8080's): the man page formats without a
# warning, and every option that --help lists is in the man page and in the README.
# Usage: manual.sh PROGRAM MAN_PAGE README
set -uo pipefail
source "$(dirname "$0")/../support/check.sh"
program=$1 man_page=$2 readme=$3

check "the man page formats without a warning" \
    eval '[[ -z "$(groff -man -ww -z "$man_page" 2>&1)" ]]'
options=$("$program" --help | grep -oE '(^| )-(-[a-z]+|o)( |$)' | tr -d ' ' | sort -u)
check "--help lists options ($(echo $options))" test -n "$options"
for option in $options; do
    pattern=${option//-/\\\\-}
    check "the man page names $option" grep -q -- "$pattern" "$man_page"
    check "the README names $option" grep -q -- "$option" "$readme"
done
((failures == 0))
