#!/usr/bin/env python3
"""Runs the recording build of the plug-in in rebound-sim with --trace and
holds the recording against the trace of the same run: line for line, every
field both write must agree.

The recording is read as its format says: a header first; lines without
frame and time take them from the next line that has them; a repeat line
stands for its frames, each a copy of the frame written before it with the
recorder's own frame count and game timer advanced. The trace names natives
(`name`), the recording marks its own calls (`by`): neither is compared. A
trace without `randomDraw` lines is compared without the recording's.

  recording_test.py REBOUND_SIM RECORDER_MODULE SCENARIOS_DIR
"""

import glob
import json
import os
import subprocess
import sys
import tempfile
import unittest

SIM = RECORDER = SCENARIOS = None

FRAME_COUNT = "0xFC8202EFC642E6F2"
GAME_TIMER = "0x9CD27B0045628463"


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


def expand(recording):
    """The recording's lines after its header as the format reads them: each
    with "frame" and "time", repeats written out. Returns (header, lines);
    each line carries "_placed" ("own", "next", "interpolated" or "none")."""
    header, body = recording[0], recording[1:]
    base = header["frameBase"]
    out = []
    waits = []  # indices in `out` of scriptWait lines
    for line in body:
        if line.get("host") != "repeat":
            line = dict(line, _placed="own" if "frame" in line else "none")
            out.append(line)
            if line.get("host") == "scriptWait":
                waits.append(len(out) - 1)
            continue
        # The frame written just before: after the scriptWait before its own.
        assert waits, "a repeat line before any frame"
        end = waits[-1] + 1
        start = waits[-2] + 1 if len(waits) > 1 else 0
        template = out[start:end]
        k, f1, t1 = line["frames"], line["firstFrame"], line["firstTime"]
        last_frame, last_time = line["frame"], line["time"]
        assert last_frame == f1 + k - 1, line
        for i in range(k):
            time = t1 + ((last_time - t1) * i) // (k - 1) if k > 1 else last_time
            for t in template:
                copy = dict(t, frame=f1 + i, time=time, _placed="interpolated")
                if copy.get("by") == "recorder":
                    copy["result"] = (base + f1 + i) if copy["native"] == FRAME_COUNT else time
                out.append(copy)
                if copy.get("host") == "scriptWait":
                    waits.append(len(out) - 1)
    # Lines without frame and time take the next line's.
    following = None
    for line in reversed(out):
        if line["_placed"] == "none":
            if following is not None:
                line["frame"], line["time"] = following
                line["_placed"] = "next"
        elif "time" in line:
            following = (line["frame"], line["time"])
    return header, out


def is_time(key, line):
    return key == "time" or (key == "result" and line.get("native") == GAME_TIMER
                             and line.get("by") == "recorder")


def differences(trace, lines):
    """Where the recording's lines and the trace's disagree, as messages."""
    trace = [t for t in trace if t.get("host") != "seed"]
    if not any(t.get("host") == "randomDraw" for t in trace):
        lines = [r for r in lines if r.get("host") != "randomDraw"]
    found = []
    for i, (t, r) in enumerate(zip(trace, lines)):
        for key in sorted((set(t) & set(r)) - {"name", "by", "_placed"}):
            if key in ("frame", "time") and r["_placed"] == "none":
                continue
            if (key in ("frame", "time") and r["_placed"] == "next"
                    and r.get("host") == "keyboard" and t[key] <= r[key]):
                # A message that came after the script's wait is taken in
                # with the next frame the script runs, the frame its line is
                # read in; it may have arrived in a frame the script did not
                # run in. Its place among the calls is the same.
                continue
            if r["_placed"] == "interpolated" and is_time(key, r):
                # A repeated frame's time is read back by linear
                # interpolation over its stretch, rounded down: the
                # simulator's times (start + frame * 1000 / fps, rounded
                # down) may lie 1 ms from that line.
                if abs(t[key] - r[key]) <= 1:
                    continue
            if t[key] != r[key]:
                found.append(f"line {i}: {key}: trace {t[key]!r}, recording {r[key]!r} "
                             f"({r['_placed']})\n  trace:     {json.dumps(t)}\n"
                             f"  recording: {json.dumps({k: v for k, v in r.items() if k != '_placed'})}")
        for key in ("native", "host"):
            if (key in t) != (key in r):
                found.append(f"line {i}: one has {key}, the other not\n  trace:     {json.dumps(t)}\n"
                             f"  recording: {json.dumps(r)}")
        if len(found) >= 5:
            break
    if len(trace) != len(lines) and len(found) < 5:
        found.append(f"the trace has {len(trace)} lines, the recording {len(lines)}")
    return found


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
        header, lines = expand(read_lines(recordings[0]))
        self.assertEqual(header["format"], "rebound-recording")
        self.assertEqual(header["version"], 1)
        self.assertEqual(header["build"], "recorder")
        self.assertEqual(header["platform"], "linux")
        self.assertEqual(header["frameBase"], 0)  # the simulator's first frame
        problems = differences(read_lines(trace), lines)
        self.assertFalse(problems, f"{name}: " + "\n".join(problems))
        return lines

    def test_default_scenario(self):
        lines = self.check_scenario(None)
        # Its idle frames were written as repeats, and the run ended with
        # the detach lines.
        self.assertTrue(any(line["_placed"] == "interpolated" for line in lines))
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
        header, lines = expand(read_lines(recordings[0]))
        drops = [i for i, line in enumerate(lines) if line.get("host") == "dropped"]
        self.assertTrue(drops, "a 4 KiB ring holds no death: frames must have been dropped")
        # Up to the first gap the recording is the trace's.
        problems = differences(read_lines(trace)[:drops[0]], lines[:drops[0]])
        self.assertFalse([p for p in problems if not p.startswith("the trace has")],
                         "\n".join(problems))
        self.assertEqual([line.get("host") for line in lines[-3:]],
                         ["detach", "scriptUnregister", "keyboardHandlerUnregister"])


if __name__ == "__main__":
    SIM, RECORDER, SCENARIOS = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main()
