#!/usr/bin/env python3
"""Runs the recording build of the plug-in in rebound-sim with --trace and
holds the recording against the trace of the same run with
scripts/compare-recording.py: line for line, every field both write must
agree, the recording read as its format says. Also: the header, the detach
lines at the end, idle frames as repeats, and a small ring's dropped frames.

  recording_test.py REBOUND_SIM RECORDER_MODULE SCENARIOS_DIR
"""

import glob
import importlib.util
import io
import json
import os
import subprocess
import sys
import tempfile
import unittest

SIM = RECORDER = SCENARIOS = None

# The one reading of the format's rules that both this test and the Windows
# tests hold recordings to.
_module_source = importlib.util.spec_from_file_location(
    "compare_recording",
    os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "compare-recording.py"))
compare_recording = importlib.util.module_from_spec(_module_source)
_module_source.loader.exec_module(compare_recording)


def run(scenario, out_dir, *extra, env_extra=None):
    """Runs the simulator with the recorder; returns (trace path, recording path, result)."""
    trace = os.path.join(out_dir, "trace.jsonl")
    command = [SIM, "--quiet", "--seed", "5", "--plugin", RECORDER, "--trace", trace]
    if scenario:
        command += ["--scenario", scenario]
    command += list(extra)
    env = dict(os.environ, REBOUND_RECORDING_DIR=out_dir)
    env.update(env_extra or {})
    result = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, check=False)
    recordings = glob.glob(os.path.join(out_dir, "Rebound-recording-*.jsonl"))
    return trace, recordings, result


def read_lines(path):
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f]


def compare(recording, trace):
    """scripts/compare-recording.py on the two files: (exit status, what it printed)."""
    out = io.StringIO()
    status = compare_recording.compare(recording, trace, out)
    return status, out.getvalue()


class RecordingMatchesTrace(unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def check_scenario(self, name, *extra):
        out_dir = os.path.join(self.tmp.name, name or "default")
        os.makedirs(out_dir)
        scenario = os.path.join(SCENARIOS, name + ".json") if name else None
        trace, recordings, result = run(scenario, out_dir, *extra)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(len(recordings), 1, recordings)
        lines = read_lines(recordings[0])
        header = lines[0]
        self.assertEqual(header["format"], "rebound-recording")
        self.assertEqual(header["version"], 1)
        self.assertEqual(header["build"], "recorder")
        self.assertEqual(header["platform"], "linux")
        self.assertEqual(header["frameBase"], 0)  # the simulator's first frame
        status, said = compare(recordings[0], trace)
        self.assertEqual(status, 0, f"{name}: {said}")
        return lines[1:]

    def test_default_scenario(self):
        lines = self.check_scenario(None)
        # Its idle frames were written as repeats, and the run ended with
        # the detach lines.
        self.assertTrue(any(line.get("host") == "repeat" for line in lines))
        self.assertEqual([line.get("host") for line in lines[-3:]],
                         ["detach", "scriptUnregister", "keyboardHandlerUnregister"])

    def test_keyboard_messages_land_where_they_arrived(self):
        self.check_scenario("keyboard-throughout")

    def test_restarts_and_unload(self):
        lines = self.check_scenario("restarts")
        self.assertGreater(sum(1 for line in lines if line.get("host") == "scriptStart"), 1)

    def test_misbehaving_world(self):
        self.check_scenario("misbehaving-world")

    def test_timer_wrap(self):
        self.check_scenario("timer-wrap")

    def test_two_deaths(self):
        self.check_scenario("two-deaths")

    def test_a_small_ring_drops_whole_frames_and_says_so(self):
        out_dir = os.path.join(self.tmp.name, "small-ring")
        os.makedirs(out_dir)
        trace, recordings, result = run(os.path.join(SCENARIOS, "two-deaths.json"), out_dir,
                                         env_extra={"REBOUND_RECORDER_RING_BYTES": "4096"})
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(len(recordings), 1, recordings)
        lines = read_lines(recordings[0])
        self.assertTrue(any(line.get("host") == "dropped" for line in lines),
                        "a 4 KiB ring holds no death: frames must have been dropped")
        # Up to the first gap the recording is the trace's.
        status, said = compare(recordings[0], trace)
        self.assertEqual(status, 1, said)
        self.assertIn("the recording is incomplete from here", said)
        self.assertNotIn("differs", said)
        self.assertEqual([line.get("host") for line in lines[-3:]],
                         ["detach", "scriptUnregister", "keyboardHandlerUnregister"])


if __name__ == "__main__":
    SIM, RECORDER, SCENARIOS = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main()
