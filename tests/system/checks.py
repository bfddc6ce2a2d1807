#!/usr/bin/python3
"""The checks of a test script as CTest tests of their own. The script names each check with an id
of words joined by dots (`check program.window "DESCRIPTION" COMMAND...`) and prints
"PASS ID: DESCRIPTION" or "FAIL ID: DESCRIPTION (FILE:LINE)" for it (tests/support/check.sh).
CTest runs the script once, as a fixture's setup, which keeps the script's output in a log; then
one test per check passes only when the log holds that check's PASS line, so a check that failed
or did not run fails its own test. That test prints the check's FAIL line, which names the
check's line in its script, and the path of the log, which shows why a check did not run.

Usage: checks.py list SCRIPT                  the ids of the checks that SCRIPT names, one a line
       checks.py run LOG IDS -- COMMAND...    runs the script, its output copied to LOG; fails when
                                              it stopped before its end (an exit code other than 0
                                              or 1) or reported a check that the file IDS (one id
                                              a line) does not list
       checks.py verify LOG ID                passes when LOG holds the PASS line of check ID
"""
import os
import re
import subprocess
import sys

ID = r"[a-z0-9_]+(?:\.[a-z0-9_]+)+"
# A call that names a check, its id a literal: `check ID ...`, `pass ID ...`, `fail ID ...`.
NAMED_CHECK = re.compile(rf"(?:^|[\s;&|({{])(?:check|pass|fail) ({ID})\s")
RESULT = re.compile(rf"^(PASS|FAIL) ({ID}): ")


def check_ids(script_text):
    """The ids of the checks named in a script's text, in order; a ValueError if one repeats."""
    ids = []
    for line in script_text.splitlines():
        if line.lstrip().startswith("#"):
            continue
        for found in NAMED_CHECK.finditer(line):
            if found.group(1) in ids:
                raise ValueError(f"the check id {found.group(1)} is named twice")
            ids.append(found.group(1))
    return ids


def results(log_text):
    """[(id, 'PASS' or 'FAIL', line), ...] for each result line of a script's output."""
    return [(found.group(2), found.group(1), found.string)
            for found in map(RESULT.match, log_text.splitlines()) if found]


def run_verdict(exit_code, log_text, known_ids):
    """The reasons why a script's run cannot stand for its checks; empty when it can."""
    problems = []
    if exit_code not in (0, 1):
        problems.append(f"the script stopped before its end (exit code {exit_code}): "
                        "the checks after that did not run")
    reported = [check for check, _, _ in results(log_text)]
    unknown = sorted(set(reported) - set(known_ids))
    if unknown:
        problems.append(f"checks that CTest does not know: {', '.join(unknown)} "
                        "(configure tests/system again)")
    repeated = sorted({check for check in reported if reported.count(check) > 1})
    if repeated:
        problems.append(f"checks reported more than once: {', '.join(repeated)}")
    return problems


def verify(log_text, check):
    """(passed, message) for one check from the script's output."""
    found = [(outcome, line) for reported, outcome, line in results(log_text) if reported == check]
    if not found:
        return False, f"{check} did not run: the script's output has no PASS or FAIL line for it"
    return [outcome for outcome, _ in found] == ["PASS"], "\n".join(line for _, line in found)


def run(log, ids_file, command):
    with open(ids_file) as listed:
        known_ids = listed.read().split()
    if os.path.exists(log):
        os.remove(log)  # an earlier run's lines must not stand for this one
    with open(log, "w") as copy:
        script = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  text=True, errors="replace")
        for line in script.stdout:
            sys.stdout.write(line)
            sys.stdout.flush()
            copy.write(line)
            copy.flush()
        exit_code = script.wait()
    with open(log) as copy:
        problems = run_verdict(exit_code, copy.read(), known_ids)
    for problem in problems:
        print(f"checks.py: {problem}")
    return 1 if problems else 0


def main(arguments):
    if len(arguments) == 2 and arguments[0] == "list":
        with open(arguments[1]) as script:
            print("\n".join(check_ids(script.read())))
        return 0
    if len(arguments) > 4 and arguments[0] == "run" and arguments[3] == "--":
        return run(arguments[1], arguments[2], arguments[4:])
    if len(arguments) == 3 and arguments[0] == "verify":
        try:
            with open(arguments[1]) as log:
                passed, message = verify(log.read(), arguments[2])
        except OSError as error:
            passed, message = False, f"no output of the script's run ({error})"
        print(message)
        if not passed:
            print(f"The script's whole output, its stops and errors included: {arguments[1]}")
        return 0 if passed else 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except ValueError as error:
        sys.exit(f"checks.py: {error}")
