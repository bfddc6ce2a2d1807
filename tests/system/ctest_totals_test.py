#!/usr/bin/python3
"""ctest_totals.py on the report of a real CTest run with each kind of outcome."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # nothing written beside the sources

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ctest_totals  # noqa: E402

PROJECT = r"""
cmake_minimum_required(VERSION 3.25)
project(outcomes NONE)
enable_testing()
add_test(NAME passes COMMAND true)
add_test(NAME fails COMMAND false)
add_test(NAME skips_by_code COMMAND sh -c "exit 77")
set_tests_properties(skips_by_code PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME skips_as_googletest_does COMMAND echo "[  SKIPPED ] no CPU test programs")
set_tests_properties(skips_as_googletest_does PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
add_test(NAME disabled COMMAND false)
set_tests_properties(disabled PROPERTIES DISABLED ON)
add_test(NAME setup_fails COMMAND false)
set_tests_properties(setup_fails PROPERTIES FIXTURES_SETUP broken)
add_test(NAME needs_the_failed_setup COMMAND true)
set_tests_properties(needs_the_failed_setup PROPERTIES FIXTURES_REQUIRED broken)
add_test(NAME program_missing COMMAND /nonexistent/program)
"""


class CTestTotalsTest(unittest.TestCase):
    def test_counts_each_outcome_of_a_real_ctest_run(self):
        with tempfile.TemporaryDirectory() as work:
            with open(os.path.join(work, "CMakeLists.txt"), "w") as project:
                project.write(PROJECT)
            build = os.path.join(work, "build")
            report = os.path.join(work, "outcomes.xml")
            subprocess.run(["cmake", "-S", work, "-B", build], check=True,
                           stdout=subprocess.DEVNULL)
            subprocess.run(["ctest", "--test-dir", build, "--output-junit", report],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            counts, failed = ctest_totals.totals([report, os.path.join(work, "absent.xml")])
        # Tests that CTest could not run count as failed, although its report calls them skipped.
        self.assertEqual(counts, {"passed": 1, "failed": 5, "skipped": 3})
        self.assertEqual(failed, ["outcomes: fails", "outcomes: setup_fails",
                                  "outcomes: needs_the_failed_setup", "outcomes: program_missing",
                                  failed[-1]])
        self.assertTrue(failed[-1].startswith("absent: no report"))


if __name__ == "__main__":
    unittest.main()
