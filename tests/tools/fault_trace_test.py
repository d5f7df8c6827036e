#!/usr/bin/env python3
"""A run that stops at a fault, through every tool that writes or reads its
trace: the trace ends with one fault line (frame, call index, reason, the
refused call with its arguments) that docs/trace-line.schema.json accepts and
after which nothing is traced; the report's summary, key frames and frame
viewer show the frame and the call; replay, report and compare-traces.py take
the trace.

  fault_trace_test.py REBOUND_SIM FAULTING_MODULE SCHEMA COMPARE_TRACES
"""

import html
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

import jsonschema

SIM = MODULE = SCHEMA = COMPARE = None

# What faulting_module.cpp does in its second frame, after one good call.
REASON = ("native SET_ENTITY_COORDS (0x06843DA7060A026B): argument 5 (bool) is 2, "
          "not 0 or 1")
REFUSED = {"native": "0x06843DA7060A026B", "name": "SET_ENTITY_COORDS",
           "args": [1, 215.0, -810.5, 30.25, {"slot": "0x0000000000000002"}, False, False,
                    False]}
REFUSED_TEXT = "SET_ENTITY_COORDS(1, 215.0, -810.5, 30.25, 0x0000000000000002, false, false, false)"


def run(*args):
    return subprocess.run([SIM] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, check=False)


class FaultedRun(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.trace = os.path.join(cls.tmp.name, "fault.jsonl")
        cls.report = os.path.join(cls.tmp.name, "fault.html")
        cls.result = run("--plugin", MODULE, "--frames", "30", "--trace", cls.trace,
                         "--report", cls.report, "--quiet")
        with open(cls.trace, encoding="utf-8") as f:
            cls.lines = [json.loads(text) for text in f]
        with open(cls.report, encoding="utf-8") as f:
            cls.page = f.read()

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_the_run_stops_with_status_1_naming_frame_and_fault(self):
        self.assertEqual(self.result.returncode, 1, self.result.stderr)
        self.assertIn("run stopped: frame 1 (game time 100016): " + REASON, self.result.stderr)

    def test_the_trace_ends_with_the_fault_line(self):
        last = self.lines[-1]
        self.assertEqual(last, {"frame": 1, "time": 100016, "host": "fault", "call": 1,
                                "reason": REASON, "refused": REFUSED})
        faults = [line for line in self.lines if line.get("host") == "fault"]
        self.assertEqual(len(faults), 1)
        # The good call of the faulting frame comes just before it; the host's
        # unloading of the stopped run is not traced.
        self.assertEqual(self.lines[-2].get("name"), "PLAYER_PED_ID")
        self.assertEqual(self.lines[-2].get("frame"), 1)
        self.assertNotIn("detach", [line.get("host") for line in self.lines])

    def test_every_line_is_valid(self):
        with open(SCHEMA, encoding="utf-8") as f:
            validator = jsonschema.Draft202012Validator(json.load(f))
        for number, line in enumerate(self.lines, start=1):
            errors = [e.message for e in validator.iter_errors(line)]
            self.assertEqual(errors, [], f"line {number}: {line}")

    def test_the_schema_refuses_a_broken_fault_line(self):
        with open(SCHEMA, encoding="utf-8") as f:
            validator = jsonschema.Draft202012Validator(json.load(f))
        good = self.lines[-1]
        for broken in (
                {k: v for k, v in good.items() if k != "reason"},
                dict(good, call=-1),
                dict(good, refused=dict(REFUSED, args=[{"slot": "2"}])),
                dict(good, refused={"name": "SET_ENTITY_COORDS", "args": []}),
                dict(good, extra=1)):
            with self.subTest(line=broken):
                self.assertTrue(list(validator.iter_errors(broken)), "the schema took it")

    def test_the_report_shows_the_frame_and_the_call(self):
        data = json.loads(re.search(
            r'<script type="application/json" id="report-data">(.*?)</script>', self.page,
            re.S).group(1))
        stopped = [f for f in data["frames"] if f.get("x")]
        self.assertEqual(len(stopped), 1, "one viewer frame holds the fault")
        frame = stopped[0]
        self.assertEqual((frame["f"], frame["x"], frame["r"]), (1, REASON, REFUSED_TEXT))
        self.assertIn("The run stopped at a fault", frame["k"])
        # The summary and the key frames say it too.
        text = html.unescape(self.page)
        self.assertIn("The run stopped: frame 1 (game time 100016): " + REASON, text)
        self.assertIn("the frame's call 1, counted from 0): <code>" + REFUSED_TEXT, text)
        self.assertIn("<h3>Before any death</h3>", text)
        self.assertRegex(text, r'<figure class="key stopped"[^>]*>.*<b>Frame 1</b> The run '
                               r'stopped at a fault: ')

    def test_replay_checks_up_to_the_fault_and_says_where_it_ended(self):
        result = run("replay", self.trace, "--plugin", MODULE)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("The check ended early: the recording has a fault line here (%s:%d)"
                      % (self.trace, len(self.lines)), result.stdout)
        self.assertIn("Same calls: 4 calls checked (2 native), 2 frames", result.stdout)

    def test_report_and_compare_traces_take_the_trace(self):
        page = os.path.join(self.tmp.name, "from-trace.html")
        result = run("report", self.trace, "--report", page, "--quiet")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.getsize(page) > 0)
        scenario = os.path.join(self.tmp.name, "from-trace.json")
        result = run("scenario-from", self.trace, "--out", scenario, "--quiet")
        self.assertEqual(result.returncode, 0, result.stderr)
        compared = subprocess.run([sys.executable, COMPARE, self.trace, self.trace],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                  check=False)
        self.assertEqual(compared.returncode, 0, compared.stdout)
        compared_lines = [line for line in self.lines if line.get("host") != "seed"]
        self.assertIn("traces agree: %d lines" % len(compared_lines), compared.stdout)


if __name__ == "__main__":
    SIM, MODULE, SCHEMA, COMPARE = sys.argv[1:5]
    del sys.argv[1:5]
    unittest.main()
