#!/usr/bin/env python3
"""Adds up the test runs of `make test` into one closing line.

Each preset's ctest run leaves its results in the build tree: ctest's JUnit
file, and for every test that runs a GoogleTest suite (named TARGET:SUITE) the
suite's own JSON results, one per case. A suite counts as its cases; every
other test counts as one. A suite that failed without writing its results (it
crashed or timed out) counts as one failed case, named by its suite. Each
preset's build and test seconds, when the times file has them, are printed
beside its counts. A preset without results (its build or its ctest run
failed) counts as one failed case, named, and the others are still counted.

Usage: ctest-summary.py [--times FILE] PRESET=BUILD_DIR [PRESET=BUILD_DIR ...]

Exit status 0 when every case passed and at least one ran, 1 otherwise.
"""

import argparse
import json
import os
import sys
import xml.etree.ElementTree as ElementTree

JUNIT_FILE = "ctest-junit.xml"
RESULTS_DIR = "gtest-results"


class Counts:
    def __init__(self):
        self.passed = 0
        self.failed = 0
        self.skipped = 0
        self.failures = []  # names of the failed cases

    def add(self, other):
        self.passed += other.passed
        self.failed += other.failed
        self.skipped += other.skipped
        self.failures += other.failures


def suite_results(path):
    """The cases of one suite's GoogleTest JSON results, or None if unreadable."""
    try:
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
    except (OSError, ValueError):
        return None
    counts = Counts()
    for suite in data.get("testsuites", []):
        for case in suite.get("testsuite", []):
            name = f"{suite.get('name')}.{case.get('name')}"
            if case.get("failures"):
                counts.failed += 1
                counts.failures.append(name)
            elif case.get("result") == "SKIPPED":
                counts.skipped += 1
            elif case.get("status", "RUN") == "RUN":
                counts.passed += 1
    return counts


class MissingResults(Exception):
    """A preset whose ctest run left no readable results: its build or its run failed."""


def preset_counts(build_dir):
    junit = os.path.join(build_dir, JUNIT_FILE)
    try:
        root = ElementTree.parse(junit).getroot()
    except (OSError, ElementTree.ParseError) as error:
        raise MissingResults(f"no ctest results in {junit}: {error}") from error
    counts = Counts()
    for test in root.iter("testcase"):
        name = test.get("name", "")
        failed = test.find("failure") is not None or test.get("status") == "fail"
        skipped = test.find("skipped") is not None or test.get("status") in ("notrun", "disabled")
        cases = None
        if ":" in name:
            target, suite = name.split(":", 1)
            result_file = os.path.join(build_dir, RESULTS_DIR,
                                       f"{target}.{suite.replace('/', '_')}.json")
            cases = suite_results(result_file) if os.path.exists(result_file) else None
        if cases is None:
            cases = Counts()
            if failed:
                cases.failed, cases.failures = 1, [name]
            elif skipped:
                cases.skipped = 1
            else:
                cases.passed = 1
        elif failed and cases.failed == 0:
            # Every case passed, yet the program failed (a sanitizer's report at exit).
            cases.failed, cases.failures = 1, [f"{name} (after its cases: see its output)"]
            cases.passed = max(0, cases.passed - 1)
        counts.add(cases)
    return counts


def read_times(path):
    times = {}
    if path and os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                fields = line.split()
                if len(fields) == 3 and fields[2].isdigit():
                    # A preset built twice (the windows tests build debug
                    # first) took the two together.
                    key = (fields[0], fields[1])
                    times[key] = times.get(key, 0) + int(fields[2])
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--times", help="lines 'PRESET build|test SECONDS'")
    parser.add_argument("presets", nargs="+", metavar="PRESET=BUILD_DIR")
    args = parser.parse_args()

    times = read_times(args.times)
    total = Counts()
    for entry in args.presets:
        preset, sep, build_dir = entry.partition("=")
        if not sep:
            parser.error(f"expected PRESET=BUILD_DIR, got {entry!r}")
        try:
            counts = preset_counts(build_dir)
        except MissingResults as missing:
            # Its build failed, or ctest did not finish: a failure of the run,
            # named, while the other presets are still counted.
            counts = Counts()
            counts.failed, counts.failures = 1, [f"{preset} (no results; {missing})"]
        line = f"  {preset}: {counts.passed} passed, {counts.failed} failed"
        if counts.skipped:
            line += f", {counts.skipped} skipped"
        spent = [f"{what} {times[(preset, what)]} s" for what in ("build", "test")
                 if (preset, what) in times]
        if spent:
            line += f" ({', '.join(spent)})"
        print(line)
        for failure in counts.failures:
            print(f"    failed: {failure}")
        total.add(counts)
    # Trees that are only built for the tests (the release tree of the counted
    # goals) have a build time and no results of their own.
    listed = {entry.partition("=")[0] for entry in args.presets}
    for preset in sorted({p for p, what in times if what == "build"} - listed):
        print(f"  {preset}: built for the tests (build {times[(preset, 'build')]} s)")
    line = f"tests: {total.passed} passed, {total.failed} failed"
    if total.skipped:
        line += f", {total.skipped} skipped"
    print(line)
    return 0 if total.passed > 0 and total.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
