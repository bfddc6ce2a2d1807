#!/usr/bin/python3
"""Sums up CTest's JUnit reports (ctest --output-junit FILE): one line per test that failed, then
"Total: N passed, N failed, N skipped". A test counts as skipped only when it skipped itself
(SKIP_RETURN_CODE, SKIP_REGULAR_EXPRESSION such as GoogleTest's GTEST_SKIP) or is disabled;
CTest reports the tests it could not run (a failed fixture, a missing program) as skipped too,
and those count as failed. A report that is missing or unreadable counts as one failure.
Usage: ctest_totals.py REPORT.xml...
"""
import os
import sys
import xml.etree.ElementTree as ElementTree

SKIPPED_BY_THE_TEST = ("SKIP_RETURN_CODE", "SKIP_REGULAR_EXPRESSION_MATCHED")


def outcome(testcase):
    """'passed', 'failed' or 'skipped' for one <testcase> of CTest's report."""
    if testcase.get("status") == "disabled":
        return "skipped"
    if testcase.find("failure") is not None:
        return "failed"
    skipped = testcase.find("skipped")
    if skipped is not None:
        by_the_test = skipped.get("message", "").startswith(SKIPPED_BY_THE_TEST)
        return "skipped" if by_the_test else "failed"
    return "passed" if testcase.get("status") == "run" else "failed"


def totals(reports):
    """({'passed': N, 'failed': N, 'skipped': N}, ["REPORT: TEST" for each test that failed])."""
    counts = {"passed": 0, "failed": 0, "skipped": 0}
    failed = []
    for report in reports:
        suite = os.path.splitext(os.path.basename(report))[0]
        try:
            testcases = ElementTree.parse(report).getroot().iter("testcase")
        except (OSError, ElementTree.ParseError) as error:
            counts["failed"] += 1
            failed.append(f"{suite}: no report ({error})")
            continue
        for testcase in testcases:
            result = outcome(testcase)
            counts[result] += 1
            if result == "failed":
                failed.append(f"{suite}: {testcase.get('name')}")
    return counts, failed


def main(reports):
    counts, failed = totals(reports)
    for name in failed:
        print(f"Failed: {name}")
    print("Total: {passed} passed, {failed} failed, {skipped} skipped".format(**counts))
    return 1 if counts["failed"] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
