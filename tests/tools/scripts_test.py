#!/usr/bin/env python3
"""Several scripts in one plug-in (threads_module.cpp): each frame the main
script runs before the additional thread; the thread keeps waits of its own; a
restart starts both again from the top; an unload detaches with both forms of
scriptUnregister; the registrations the host refuses stop the run. Every line
of such a run names its plug-in, and each script's lines their script.

  scripts_test.py REBOUND_SIM THREADS_MODULE SCHEMA [EMULATOR...]

With an emulator (Wine), the Windows simulator runs the DLL built from the
same source.
"""

import json
import os
import subprocess
import sys
import tempfile
import unittest

import jsonschema

SIM = MODULE = SCHEMA = None
EMULATOR = []
PLAYER_PED_ID = "PLAYER_PED_ID"
FRAME_COUNT = "GET_FRAME_COUNT"
GAME_TIMER = "GET_GAME_TIMER"
THREAD_WAIT_MS = 100


def run(tmp, events=(), frames=40, mistake=None):
    scenario = os.path.join(tmp, "scenario.json")
    with open(scenario, "w", encoding="utf-8") as f:
        json.dump({"name": "scripts", "frames": frames, "events": list(events)}, f)
    trace = os.path.join(tmp, "run.jsonl")
    env = dict(os.environ)
    env.pop("THREADS_MODULE_MISTAKE", None)
    if mistake:
        env["THREADS_MODULE_MISTAKE"] = mistake
    args = [SIM, "--plugin", MODULE, "--scenario", scenario, "--trace", trace, "--quiet"]
    result = subprocess.run(EMULATOR + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, check=False, env=env)
    lines = []
    if os.path.exists(trace):
        with open(trace, encoding="utf-8") as f:
            lines = [json.loads(line) for line in f]
    return result, lines


def name(line):
    return line.get("name", line.get("host"))


class TwoScripts(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.result, cls.lines = run(cls.tmp.name)

    def test_run_ends_cleanly(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)

    def test_every_line_fits_the_schema_and_names_its_plugin(self):
        with open(SCHEMA, encoding="utf-8") as f:
            schema = json.load(f)
            validator = jsonschema.Draft202012Validator(schema)
        module = os.path.basename(MODULE)
        # Lines before the second registration cannot know yet that more
        # than one script will run.
        second = [i for i, l in enumerate(self.lines)
                  if l.get("host") == "scriptRegisterAdditionalThread"][0]
        for line in self.lines:
            validator.validate(line)
        for line in self.lines[second + 1:]:
            self.assertEqual(line.get("plugin"), module, line)

    def test_calls_carry_their_scripts_index(self):
        scripts = {name(l): l.get("script") for l in self.lines if "native" in l}
        self.assertEqual(scripts, {PLAYER_PED_ID: 0, FRAME_COUNT: 1, GAME_TIMER: 1})

    def test_the_main_script_runs_first_in_each_frame(self):
        starts = [l for l in self.lines if l.get("host") == "scriptStart"]
        self.assertEqual([(l["frame"], l["script"]) for l in starts], [(0, 0), (0, 1)])
        for frame in range(40):
            calls = [name(l) for l in self.lines if "native" in l and l["frame"] == frame]
            self.assertEqual(calls[0], PLAYER_PED_ID, (frame, calls))
            self.assertEqual(calls.count(PLAYER_PED_ID), 1, (frame, calls))
        frame0 = [name(l) for l in self.lines if "native" in l and l["frame"] == 0]
        self.assertEqual(frame0, [PLAYER_PED_ID, FRAME_COUNT, GAME_TIMER])

    def test_the_thread_waits_its_own_time(self):
        frame_times = {l["frame"]: l["time"] for l in self.lines if l.get("frame", -1) >= 0}
        timer = [l["frame"] for l in self.lines if name(l) == GAME_TIMER]
        self.assertGreater(len(timer), 3)
        for before, after in zip(timer, timer[1:]):
            due = frame_times[before] + THREAD_WAIT_MS
            # The first frame at or past the due time, not one later.
            first = min(f for f, t in frame_times.items() if t >= due)
            self.assertEqual(after, first, (before, after))
        waits = [(l["script"], l["ms"]) for l in self.lines if l.get("host") == "scriptWait"]
        self.assertIn((1, THREAD_WAIT_MS), waits)
        self.assertIn((0, 0), waits)


class RestartAndUnload(unittest.TestCase):

    def test_a_restart_starts_every_script_again_from_the_top(self):
        with tempfile.TemporaryDirectory() as tmp:
            result, lines = run(tmp, [{"frame": 10, "restartScript": True}], frames=20)
        self.assertEqual(result.returncode, 0, result.stderr)
        starts = [(l["frame"], l["script"]) for l in lines if l.get("host") == "scriptStart"]
        self.assertEqual(starts, [(0, 0), (0, 1), (10, 0), (10, 1)])
        tops = [l["frame"] for l in lines if name(l) == FRAME_COUNT]
        self.assertEqual(tops, [0, 10])
        frame10 = [name(l) for l in lines if "native" in l and l["frame"] == 10]
        self.assertEqual(frame10, [PLAYER_PED_ID, FRAME_COUNT, GAME_TIMER])
        # Two scripts started at attach are not a reload; the restart is.
        reloads = [(l["frame"], l["answer"]) for l in lines
                   if l.get("host") == "scriptsAreLaunchedUsingReloading"]
        self.assertEqual(reloads, [(0, False), (10, True)])

    def test_an_unload_uses_both_unregister_forms_and_ends_the_run(self):
        with tempfile.TemporaryDirectory() as tmp:
            result, lines = run(tmp, [{"frame": 8, "unload": True}], frames=20)
        self.assertEqual(result.returncode, 0, result.stderr)
        detach = [i for i, l in enumerate(lines) if l.get("host") == "detach"][0]
        after = [name(l) for l in lines[detach:]]
        self.assertEqual(after, ["detach", "keyboardHandlerUnregister", "scriptUnregisterScript",
                                 "scriptUnregister"])
        self.assertFalse([l for l in lines if l.get("frame", -1) > 8])

    def test_keys_reach_the_handler(self):
        key = {"frame": 5, "key": {"code": 70, "scanCode": 33}}
        with tempfile.TemporaryDirectory() as tmp:
            result, lines = run(tmp, [key], frames=10)
        self.assertEqual(result.returncode, 0, result.stderr)
        pressed = [l for l in lines if name(l) == "IS_CONTROL_JUST_PRESSED"]
        self.assertEqual([(l["frame"], l["args"], l["script"]) for l in pressed],
                         [(5, [0, 70], 0)])


class Refusals(unittest.TestCase):

    def test_the_host_refuses(self):
        cases = [
            ("from-script", "scriptRegisterAdditionalThread called from the script fibre"),
            ("null-thread", "scriptRegisterAdditionalThread with a null script entry"),
            ("unknown-function",
             "scriptUnregister with a script function that is not registered"),
        ]
        for mistake, message in cases:
            with self.subTest(mistake=mistake), tempfile.TemporaryDirectory() as tmp:
                events = [{"frame": 5, "unload": True}] if mistake == "unknown-function" else []
                result, lines = run(tmp, events, frames=20, mistake=mistake)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn(message, result.stdout + result.stderr)
                self.assertEqual(lines[-1]["host"], "fault")
                self.assertEqual(lines[-1]["reason"], message)


if __name__ == "__main__":
    SIM, MODULE, SCHEMA = sys.argv[1:4]
    EMULATOR = sys.argv[4:]
    unittest.main(argv=sys.argv[:1], verbosity=2)
