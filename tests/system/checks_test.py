#!/usr/bin/python3
"""checks.py: the ids read from a script, the verdict on its run and each check's outcome."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # nothing written beside the sources

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import checks  # noqa: E402

SCRIPT = r"""
check() { # check ID DESCRIPTION COMMAND...
    if "$@"; then pass "$id" "$description"; fi
}
# check commented.out "not a check"
check program.window "the window appears" test -n "$window" || stop
if check fault.box \
    "the box appears" test -n "$box"; then
    fail fault.box_place "the box is centred"
fi
"""


class ChecksTest(unittest.TestCase):
    def test_reads_the_literal_ids_of_a_script_in_order(self):
        self.assertEqual(checks.check_ids(SCRIPT), ["program.window", "fault.box",
                                                   "fault.box_place"])
        with self.assertRaisesRegex(ValueError, "card.held"):
            checks.check_ids('check card.held "a"\ncheck card.held "b"\n')

    def test_a_run_stands_for_its_checks_only_when_it_reached_its_end(self):
        log = "PASS a.one: x\nFAIL a.two: y\nFAIL: the window did not appear\n"
        self.assertEqual(checks.run_verdict(0, log, ["a.one", "a.two"]), [])
        self.assertEqual(checks.run_verdict(1, log, ["a.one", "a.two", "a.three"]), [])
        for exit_code in (2, 127, -9):
            self.assertRegex(checks.run_verdict(exit_code, log, ["a.one", "a.two"])[0], "stopped")
        self.assertRegex(checks.run_verdict(1, log, ["a.one"])[0], "not know: a.two")
        self.assertRegex(checks.run_verdict(0, log + "PASS a.one: x\n", ["a.one", "a.two"])[0],
                         "more than once: a.one")

    def test_a_check_passes_only_on_its_own_pass_line(self):
        log = ("PASS card.held: lit\nFAIL card.released: still lit\nPASS zip.program.drag: moved\n"
               "PASS card.escape: ended\nFAIL card.escape: ended\n")
        self.assertEqual(checks.verify(log, "card.held"), (True, "PASS card.held: lit"))
        self.assertFalse(checks.verify(log, "card.released")[0])
        self.assertFalse(checks.verify(log, "card.escape")[0])
        for absent in ("program.drag", "card.hel", "card.corner"):
            passed, message = checks.verify(log, absent)
            self.assertFalse(passed)
            self.assertIn("did not run", message)

    def test_run_replaces_an_earlier_log_with_the_scripts_output(self):
        with tempfile.TemporaryDirectory() as work:
            log, ids = os.path.join(work, "log"), os.path.join(work, "ids")
            with open(ids, "w") as listed:
                listed.write("a.one\na.two\n")
            with open(log, "w") as earlier:
                earlier.write("PASS a.two: from an earlier run\n")
            script = ["sh", "-c", 'echo "FAIL a.one: x"; echo "stopped" >&2; exit 2']
            self.assertEqual(checks.main(["run", log, ids, "--", *script]), 1)
            with open(log) as copy:
                self.assertEqual(copy.read(), "FAIL a.one: x\nstopped\n")
            self.assertEqual(checks.main(["run", log, ids, "--", "sh", "-c", "exit 1"]), 0)

    def test_the_shell_check_reports_each_failure_with_its_line(self):
        helper = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support",
                              "check.sh")
        with tempfile.TemporaryDirectory() as work:
            script = os.path.join(work, "suite.sh")
            with open(script, "w") as text:
                text.write(f'source "{helper}"\n'
                           'check a.one "passes" true\n'
                           'check "fails, no id" \\\n    false || echo "returned 1"\n'
                           'if ! check a.two "fails" test 1 = 2; then echo "returned 1"; fi\n'
                           'echo "$passes passed, $failures failed"\n')
            output = subprocess.run(["bash", script], capture_output=True, text=True).stdout
        self.assertEqual(output, f"PASS a.one: passes\nFAIL: fails, no id ({script}:3)\n"
                                 f"returned 1\nFAIL a.two: fails ({script}:5)\nreturned 1\n"
                                 "1 passed, 2 failed\n")
        self.assertFalse(checks.verify(output, "a.two")[0])


if __name__ == "__main__":
    unittest.main()
