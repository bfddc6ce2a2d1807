# The one `check` of the shell suites; source it. It counts the checks in `passes` and `failures`,
# so a suite ends with `((failures == 0))`.
#
#     source "$(dirname "${BASH_SOURCE[0]}")/../support/check.sh"
#     check deb.install "apt-get installs the package" apt-get install -y ./package.deb
#
# check [ID] DESCRIPTION COMMAND...: runs COMMAND and prints "PASS: DESCRIPTION" or
# "FAIL: DESCRIPTION"; returns 0 when it passed, 1 when it failed, so `check ... || stop` and
# `if check ...; then` work. ID (words joined by dots, such as deb.install) names the check in that
# line, "PASS ID: DESCRIPTION", for the system suites that make each check a CTest test of its own
# (tests/system/checks.py). A FAIL line ends with where the check is written,
# " (tests/windows-program/smoke.sh:223)", so a failed test leads straight to its line.

passes=0
failures=0
check_repository=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

check() {
    local id=""
    if [[ $1 =~ ^[a-z0-9_]+(\.[a-z0-9_]+)+$ ]]; then
        id=" $1"
        shift
    fi
    local description=$1
    shift
    if "$@"; then
        echo "PASS$id: $description"
        passes=$((passes + 1))
        return 0
    fi
    local file=${BASH_SOURCE[1]}
    file=${file#"$check_repository/"}
    echo "FAIL$id: $description ($file:${BASH_LINENO[0]})"
    failures=$((failures + 1))
    return 1
}
