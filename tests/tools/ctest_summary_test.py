#!/usr/bin/env python3
"""Checks scripts/ctest-summary.py: a suite counts as its cases, a suite that
left no results or failed after its cases counts as a failed case, and the
closing line passes only when something ran and nothing failed."""

import contextlib
import importlib.util
import io
import json
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "scripts", "ctest-summary.py")
loader_info = importlib.util.spec_from_file_location("ctest_summary", SCRIPT)
ctest_summary = importlib.util.module_from_spec(loader_info)
loader_info.loader.exec_module(ctest_summary)


def junit(tests):
    """ctest's JUnit file for (name, status) pairs, status 'run', 'fail' or 'notrun'."""
    cases = []
    for name, status in tests:
        inner = {"fail": "<failure message=\"Failed\"/>", "notrun": "<skipped message=\"Skipped\"/>"}
        cases.append(f'<testcase name="{name}" classname="{name}" time="0.1" status="{status}">'
                     f'{inner.get(status, "")}</testcase>')
    return f'<?xml version="1.0"?><testsuite name="t" tests="{len(tests)}">{"".join(cases)}</testsuite>'


def suite_json(suite, results):
    """GoogleTest's JSON results of one suite: results maps case name to 'ok', 'fail' or 'skip'."""
    cases = []
    for name, result in results.items():
        case = {"name": name, "status": "RUN", "result": "SKIPPED" if result == "skip" else "COMPLETED"}
        if result == "fail":
            case["failures"] = [{"failure": "x.cpp:1\nExpected equality", "type": ""}]
        cases.append(case)
    return {"tests": len(cases), "testsuites": [{"name": suite, "testsuite": cases}]}


class Tree:
    """A build tree holding ctest's results and the suites' own."""

    def __init__(self, root, tests, suites):
        self.path = root
        os.makedirs(os.path.join(root, ctest_summary.RESULTS_DIR), exist_ok=True)
        with open(os.path.join(root, ctest_summary.JUNIT_FILE), "w", encoding="utf-8") as f:
            f.write(junit(tests))
        for file_name, data in suites.items():
            with open(os.path.join(root, ctest_summary.RESULTS_DIR, file_name), "w",
                      encoding="utf-8") as f:
                json.dump(data, f)


class PresetCounts(unittest.TestCase):
    def counts(self, tests, suites):
        with tempfile.TemporaryDirectory() as root:
            return ctest_summary.preset_counts(Tree(root, tests, suites).path)

    def test_cases_of_suites_and_plain_tests(self):
        # (ctest tests, suites' results, passed, failed, skipped, failures named)
        table = [
            ("a suite counts as its cases, a plain test as one",
             [("host_test:Slots", "run"), ("docs_links", "run")],
             {"host_test.Slots.json": suite_json("Slots", {"A": "ok", "B": "ok", "C": "ok"})},
             4, 0, 0, []),
            ("a failed case is named by suite and case",
             [("host_test:Slots", "fail")],
             {"host_test.Slots.json": suite_json("Slots", {"A": "ok", "B": "fail"})},
             1, 1, 0, ["Slots.B"]),
            ("a suite that crashed left no results: one failed case, named by the suite",
             [("e2e_test:Shell", "fail"), ("host_test:Slots", "run")],
             {"host_test.Slots.json": suite_json("Slots", {"A": "ok"})},
             1, 1, 0, ["e2e_test:Shell"]),
            ("every case passed but the program failed at its exit (a leak report)",
             [("e2e_test:Shell", "fail")],
             {"e2e_test.Shell.json": suite_json("Shell", {"A": "ok", "B": "ok"})},
             1, 1, 0, ["e2e_test:Shell (after its cases: see its output)"]),
            ("skipped cases and skipped tests are counted apart",
             [("e2e_test:RunMemory", "run"), ("host_def_files", "notrun")],
             {"e2e_test.RunMemory.json": suite_json("RunMemory", {"A": "skip", "B": "ok"})},
             1, 0, 2, []),
            ("a parameterised suite's slash becomes an underscore in its file name",
             [("respawn_test:EveryLanguage/RespawnAllocations", "run")],
             {"respawn_test.EveryLanguage_RespawnAllocations.json":
              suite_json("EveryLanguage/RespawnAllocations", {"A/0": "ok", "A/1": "ok"})},
             2, 0, 0, []),
        ]
        for what, tests, suites, passed, failed, skipped, named in table:
            with self.subTest(what):
                counts = self.counts(tests, suites)
                self.assertEqual((counts.passed, counts.failed, counts.skipped), (passed, failed, skipped))
                self.assertEqual(counts.failures, named)

    def test_missing_junit_file_is_an_error(self):
        with tempfile.TemporaryDirectory() as root:
            with self.assertRaises(ctest_summary.MissingResults) as raised:
                ctest_summary.preset_counts(root)
            self.assertIn("no ctest results", str(raised.exception))


class ClosingLine(unittest.TestCase):
    def run_main(self, trees, times=None):
        argv = ["ctest-summary.py"]
        if times:
            argv += ["--times", times]
        argv += [f"{name}={path}" for name, path in trees]
        out = io.StringIO()
        old_argv, sys.argv = sys.argv, argv
        try:
            with contextlib.redirect_stdout(out):
                status = ctest_summary.main()
        finally:
            sys.argv = old_argv
        return status, out.getvalue().splitlines()

    def test_totals_times_and_status(self):
        with tempfile.TemporaryDirectory() as root:
            good = Tree(os.path.join(root, "good"), [("a", "run"), ("b", "run")], {}).path
            bad = Tree(os.path.join(root, "bad"), [("c", "fail")], {}).path
            empty = Tree(os.path.join(root, "empty"), [], {}).path
            times = os.path.join(root, "times.txt")
            with open(times, "w", encoding="utf-8") as f:
                f.write("debug build 249\ndebug test 60\nasan build 100\ndebug build 1\n")

            status, lines = self.run_main([("debug", good), ("asan", bad)], times)
            self.assertEqual(status, 1)
            self.assertEqual(lines, ["  debug: 2 passed, 0 failed (build 250 s, test 60 s)",
                                     "  asan: 0 passed, 1 failed (build 100 s)",
                                     "    failed: c",
                                     "tests: 2 passed, 1 failed"])

            status, lines = self.run_main([("debug", good)])
            self.assertEqual((status, lines[-1]), (0, "tests: 2 passed, 0 failed"))

            # A preset whose build failed left no results: a named failure,
            # the other presets still counted; a tree only built is shown.
            with open(times, "a", encoding="utf-8") as f:
                f.write("release build 41\n")
            status, lines = self.run_main([("debug", good), ("tsan", os.path.join(root, "none"))], times)
            self.assertEqual(status, 1)
            self.assertEqual(lines[0], "  debug: 2 passed, 0 failed (build 250 s, test 60 s)")
            self.assertEqual(lines[1], "  tsan: 0 passed, 1 failed")
            self.assertTrue(lines[2].startswith("    failed: tsan (no results; no ctest results in "), lines[2])
            self.assertEqual(lines[3:], ["  asan: built for the tests (build 100 s)",
                                         "  release: built for the tests (build 41 s)",
                                         "tests: 2 passed, 1 failed"])

            # Nothing ran: not a pass.
            status, lines = self.run_main([("debug", empty)])
            self.assertEqual((status, lines[-1]), (1, "tests: 0 passed, 0 failed"))


if __name__ == "__main__":
    unittest.main()
