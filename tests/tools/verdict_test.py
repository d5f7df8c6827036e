#!/usr/bin/env python3
"""rebound-sim's verdict for CI, with crashing_module.cpp as the plug-in: a
scenario's expectations met (status 0) or not (status 5, each one not met
named), a script that crashes by a null write, an abort or an exception
(status 6, promptly, naming the frame, the plug-in's file and the last native
called, the trace ending at the crash), and the --junit file of each, checked
against tests/tools/junit.xsd with xmllint (or by hand where it is missing)
and never written over an input.

  verdict_test.py REBOUND_SIM CRASHING_MODULE JUNIT_XSD plain|sanitized|windows [EMULATOR...]

In a sanitized tree the crash guard is not installed (the sanitizers own the
signals), so the crash cases are skipped there. Under Wine (windows) the
guard is the vectored exception handler: the causes read as Windows names
them, and an exception escaping the DLL's script ends in its own runtime's
abort, which it reports on standard error first.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

SIM = MODULE = XSD = None
SANITIZED = False
WINDOWS = False
EMULATOR = []

LAST_NATIVE = "the last native it called: GET_GAME_TIMER (0x9CD27B0045628463)"

# crashing_module.cpp calls PLAYER_PED_ID once a frame, and GET_GAME_TIMER in
# frame 3 only.
EXPECT = [
    {"native": "PLAYER_PED_ID", "calls": 10},
    {"native": "GET_GAME_TIMER", "calls": 1, "frames": [3, 3]},
    {"native": "0x9CD27B0045628463", "calls": 0, "frames": [4, 9]},
    {"native": "PLAYER_PED_ID", "calls": {"min": 2, "max": 5}, "frames": [0, 1]},
]


def run(*args, crash=None, timeout=30):
    env = dict(os.environ)
    env.pop("REBOUND_TEST_CRASH", None)
    if crash:
        env["REBOUND_TEST_CRASH"] = crash
    started = time.monotonic()
    done = subprocess.run(EMULATOR + [SIM, "--plugin", MODULE] + list(args), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, env=env, timeout=timeout,
                          check=False)
    return done, time.monotonic() - started


class Case(unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def scenario(self, expect, frames=10):
        path = self.path("s.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump({"name": "verdict <&> \"test\"", "frames": frames, "expect": expect}, f)
        return path

    def junit(self, path):
        """The file parsed, after the schema has accepted it."""
        if shutil.which("xmllint"):
            check = subprocess.run(["xmllint", "--noout", "--schema", XSD, path],
                                   capture_output=True, text=True, check=False)
            self.assertEqual(check.returncode, 0, check.stderr)
        root = ET.parse(path).getroot()
        self.assertEqual(root.tag, "testsuite")
        cases = root.findall("testcase")
        for name in ("tests", "failures", "errors"):
            self.assertTrue(root.get(name, "").isdigit(), name)
        self.assertEqual(int(root.get("tests")), len(cases))
        self.assertEqual(int(root.get("failures")),
                         sum(1 for c in cases if c.find("failure") is not None))
        for c in cases:
            self.assertTrue(c.get("name") and c.get("classname"))
            float(c.get("time"))
        return root, cases


class Expectations(Case):

    def test_all_met_exits_0_and_every_case_passes(self):
        out = self.path("met.xml")
        result, _ = run("--scenario", self.scenario(EXPECT), "--summary", "--junit", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("expectations: 4 of 4 met", result.stdout)
        self.assertNotIn("not met", result.stderr)
        root, cases = self.junit(out)
        self.assertEqual(root.get("name"), 'verdict <&> "test"')
        self.assertEqual(len(cases), 5)
        self.assertEqual(cases[0].get("classname"), "rebound-sim.run")
        self.assertTrue(all(c.find("failure") is None for c in cases))
        self.assertEqual(cases[2].get("name"),
                         "expect[1]: GET_GAME_TIMER (0x9CD27B0045628463), exactly 1 call "
                         "in frames 3 to 3")

    def test_each_one_not_met_is_named_and_the_run_exits_5(self):
        expect = [
            {"native": "PLAYER_PED_ID", "calls": 9},
            {"native": "GET_GAME_TIMER", "calls": 0, "frames": [2, 3]},
            {"native": "GET_GAME_TIMER", "calls": 1},
            {"native": "PLAYER_PED_ID", "calls": {"min": 11}},
        ]
        out = self.path("unmet.xml")
        result, _ = run("--scenario", self.scenario(expect), "--quiet", "--junit", out)
        self.assertEqual(result.returncode, 5, result.stderr)
        self.assertEqual(result.stderr.splitlines(), [
            "rebound-sim: expectation not met: PLAYER_PED_ID (0xD80958FC74E988A6): expected "
            "exactly 9 calls, seen 10",
            "rebound-sim: expectation not met: GET_GAME_TIMER (0x9CD27B0045628463): expected "
            "no calls in frames 2 to 3, seen 1",
            "rebound-sim: expectation not met: PLAYER_PED_ID (0xD80958FC74E988A6): expected "
            "at least 11 calls, seen 10",
        ])
        root, cases = self.junit(out)
        self.assertEqual(root.get("failures"), "3")
        failed = [c.find("failure") is not None for c in cases]
        self.assertEqual(failed, [False, True, True, False, True])
        self.assertEqual(cases[1].find("failure").get("type"), "expectation")

    def test_a_native_of_the_catalogue_counts_only_with_it(self):
        catalogue = self.path("natives.json")
        with open(catalogue, "w", encoding="utf-8") as f:
            json.dump({"TEST": {"0x0000000000000A01": {
                "name": "GET_TEST_TEXT", "jhash": "", "comment": "", "build": "323",
                "return_type": "const char*", "params": []}}}, f)
        scenario = self.scenario([{"native": "GET_TEST_TEXT", "calls": 0}])
        result, _ = run("--scenario", scenario, "--quiet", "--natives", catalogue)
        self.assertEqual(result.returncode, 0, result.stderr)
        result, _ = run("--scenario", scenario, "--quiet")
        self.assertEqual(result.returncode, 2)
        self.assertIn("s.json:1: field 'expect[0].native': unknown native \"GET_TEST_TEXT\"",
                      result.stderr)


class Crashes(Case):

    def setUp(self):
        super().setUp()
        if SANITIZED:
            self.skipTest("the sanitizers own the crash signals in this tree")

    def test_each_kind_of_crash_ends_the_run_with_6_naming_frame_script_and_native(self):
        causes = {
            "null": "an access violation (SIGSEGV) at address 0x0",
            "abort": "an abort (SIGABRT)",
            "throw": "a C++ exception escaped the script (the test module's own exception)",
        }
        if WINDOWS:
            causes = {
                "null": "an access violation (0xC0000005) at address 0x0",
                "abort": "an abort (SIGABRT)",
                "throw": "an abort (SIGABRT)",
            }
        for how, cause in causes.items():
            with self.subTest(how):
                trace = self.path(how + ".jsonl")
                out = self.path(how + ".xml")
                result, seconds = run("--frames", "100000", "--quiet", "--trace", trace,
                                      "--junit", out, crash=how)
                message = (f"frame 3 (game time 100050): the plug-in crashed: {cause}, in the "
                           f"script of {os.path.basename(MODULE)}; {LAST_NATIVE}")
                self.assertEqual(result.returncode, 6, result.stderr)
                said = result.stderr
                if WINDOWS and how == "throw":
                    # The DLL's own runtime names the exception before it aborts.
                    self.assertIn("what():  the test module's own exception\n", said)
                    said = said[said.index("rebound-sim: "):]
                self.assertEqual(said, f"rebound-sim: run stopped: {message}\n")
                # Stopped at the crash, not after the run's 100,000 frames.
                self.assertLess(seconds, 10)
                with open(trace, encoding="utf-8") as f:
                    lines = [json.loads(line) for line in f]
                self.assertEqual(lines[-1]["host"], "fault")
                self.assertEqual(lines[-1]["frame"], 3)
                self.assertEqual(lines[-2]["native"], "0x9CD27B0045628463")
                self.assertFalse(any(line.get("frame", 0) > 3 for line in lines))
                _, cases = self.junit(out)
                failure = cases[0].find("failure")
                self.assertEqual(failure.get("type"), "crash")
                self.assertEqual(failure.get("message"), message)

    def test_a_crashed_run_still_judges_its_expectations_but_exits_6(self):
        scenario = self.scenario([{"native": "PLAYER_PED_ID", "calls": 10}], frames=10)
        result, _ = run("--scenario", scenario, "--quiet", crash="null")
        self.assertEqual(result.returncode, 6, result.stderr)
        self.assertIn("expected exactly 10 calls, seen 4", result.stderr)


class JUnitOutput(Case):

    def test_an_input_is_never_overwritten_and_a_bad_path_stops_the_run_first(self):
        scenario = self.scenario(EXPECT)
        with open(scenario, encoding="utf-8") as f:
            before = f.read()
        result, _ = run("--scenario", scenario, "--junit", scenario)
        self.assertEqual(result.returncode, 2)
        self.assertIn("--junit", result.stderr)
        with open(scenario, encoding="utf-8") as f:
            self.assertEqual(f.read(), before)
        result, _ = run("--scenario", scenario, "--junit", self.path("no/such/dir/j.xml"))
        self.assertEqual(result.returncode, 4)
        self.assertEqual(result.stdout, "")

    def test_junit_to_standard_output_moves_the_summary_to_standard_error(self):
        result, _ = run("--scenario", self.scenario(EXPECT), "--summary", "--junit", "-")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(result.stdout.startswith("<?xml"))
        self.assertIn("expectations: 4 of 4 met", result.stderr)
        result, _ = run("--junit", "-", "--trace", "-")
        self.assertEqual(result.returncode, 2)


if __name__ == "__main__":
    SIM, MODULE, XSD = sys.argv[1:4]
    SANITIZED = sys.argv[4] == "sanitized"
    WINDOWS = sys.argv[4] == "windows"
    EMULATOR = sys.argv[5:]
    unittest.main(argv=sys.argv[:1])
