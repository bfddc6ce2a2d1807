#!/usr/bin/python3
"""The soak test's sampling of /proc, on real processes, and its verdict."""
import importlib.machinery
import importlib.util
import os
import subprocess
import sys
import tempfile
import threading
import unittest

sys.dont_write_bytecode = True  # nothing written beside the sources

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "soak")
loader = importlib.machinery.SourceFileLoader("soak", SCRIPT)
soak = importlib.util.module_from_spec(importlib.util.spec_from_loader("soak", loader))
loader.exec_module(soak)


def samples(*rows):
    return [soak.Sample(seconds, rss, threads, descriptors, 0.0)
            for seconds, rss, threads, descriptors in rows]


class SamplingTest(unittest.TestCase):
    def test_counts_this_process_s_threads_and_descriptors(self):
        before = soak.take_sample(os.getpid(), 0, os.sysconf("SC_CLK_TCK"))
        self.assertGreater(before.rss_kib, 1000)
        release = threading.Event()
        thread = threading.Thread(target=release.wait)
        thread.start()
        try:
            with tempfile.TemporaryFile():
                during = soak.take_sample(os.getpid(), 10, os.sysconf("SC_CLK_TCK"))
            self.assertIn(str(thread.native_id), soak.thread_times(os.getpid()))
        finally:
            release.set()
            thread.join()
        self.assertEqual((during.threads, during.descriptors),
                         (before.threads + 1, before.descriptors + 1))
        self.assertGreaterEqual(during.cpu_seconds, before.cpu_seconds)

    def test_a_zombie_or_a_reaped_process_is_not_alive(self):
        child = subprocess.Popen(["sleep", "0.1"])
        self.assertTrue(soak.alive(child.pid))
        os.waitid(os.P_PID, child.pid, os.WEXITED | os.WNOWAIT)  # ended, not yet reaped
        self.assertFalse(soak.alive(child.pid))
        child.wait()
        self.assertFalse(soak.alive(child.pid))


class VerdictTest(unittest.TestCase):
    def test_memory_may_grow_5_percent_after_the_warm_up_only(self):
        self.assertEqual(soak.growth_failures(
            samples((0, 500, 4, 9), (10, 1000, 4, 9), (20, 1050, 4, 9)), 10), [])
        self.assertEqual(soak.growth_failures(
            samples((0, 500, 4, 9), (10, 1000, 4, 9), (20, 1051, 4, 9)), 10),
            ["memory grew from 1000 KiB at 10 s to 1051 KiB at 20 s"])

    def test_threads_and_descriptors_may_not_grow_at_all(self):
        self.assertEqual(soak.growth_failures(
            samples((0, 1000, 4, 9), (10, 1000, 5, 9), (20, 1000, 4, 10)), 60),
            ["the thread count grew from 4 to 5 at 10 s",
             "the descriptor count grew from 9 to 10 at 20 s"])

    def test_death_stuck_window_and_escape(self):
        self.assertEqual(soak.death_failure(samples((0, 1, 1, 1), (10, 1, 1, 1))),
                         "the program died after 10 to 20 s")
        self.assertIsNone(soak.drag_failure(0, 0))
        self.assertIsNone(soak.drag_failure(3, 1))
        self.assertEqual(soak.drag_failure(3, 0), "the window moved with none of the 3 drags")
        self.assertIsNone(soak.escape_failure(0))
        self.assertEqual(soak.escape_failure(soak.exit_status(-9)),
                         "the program ended with exit code 137 after Escape")
        self.assertEqual(soak.escape_failure(None), "Escape did not end the program within 10 s")

    def test_arguments_and_warm_up(self):
        self.assertEqual(soak.parse_arguments(["60"]), (False, 60, None))
        self.assertEqual(soak.parse_arguments(["--windows", "20", "x.exe"]), (True, 20, "x.exe"))
        for wrong in ([], ["19"], ["-5"], ["1e3"], ["--windows"], ["60", "a", "b"]):
            with self.assertRaises(soak.UsageError, msg=wrong):
                soak.parse_arguments(wrong)
        self.assertEqual([soak.warm_up_seconds(s) for s in (20, 60, 119, 120, 1800)],
                         [10, 30, 50, 60, 60])

    def test_thread_shares(self):
        self.assertEqual(soak.thread_shares({"7": (100, "main")},
                                            {"7": (300, "main"), "8": (50, "emulation")}, 100, 2),
                         ["  7        main                  1.000",
                          "  8        emulation             0.250"])


if __name__ == "__main__":
    unittest.main()
