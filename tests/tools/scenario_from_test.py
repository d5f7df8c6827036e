#!/usr/bin/env python3
"""rebound-sim scenario-from and report, as a user runs them.

For every shipped scenario: a seeded run's trace, the scenario scenario-from
makes of it, and that scenario run with the trace's random draws
(--draws-from) give the same trace, line for line and field for field: every
native call with its arguments, outs and result, every host event (keyboard
messages where they arrived, restarts, the unload) and every random draw. The
one line left out is the run's seed, which only the seeded run has. The
same from the recording build's files: the player's build running the
scenario made of a recording agrees with the recording, as
scripts/compare-recording.py --player-trace reads the two. A
recording with an answer no scenario can give is listed, and does not replay
as recorded; bad recordings and unusable outputs are refused.

  scenario_from_test.py REBOUND_SIM SCENARIOS_DIR
"""

import concurrent.futures
import glob
import importlib.util
import io
import json
import os
import subprocess
import sys
import tempfile
import unittest

SIM = SCENARIOS = None

_module_source = importlib.util.spec_from_file_location(
    "compare_recording",
    os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "compare-recording.py"))
compare_recording = importlib.util.module_from_spec(_module_source)
_module_source.loader.exec_module(compare_recording)


def sim(*args):
    return subprocess.run([SIM] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, check=False)


def lines(path):
    """The trace's lines, without the run's seed (both runs write the same bytes for a line)."""
    with open(path, encoding="utf-8") as f:
        return [text for text in f if '"host":"seed"' not in text]


def round_trip(scenario, folder):
    """(scenario-from's output, the first trace, the second trace) of one scenario."""
    name = os.path.splitext(os.path.basename(scenario))[0]
    first = os.path.join(folder, name + ".jsonl")
    made = os.path.join(folder, name + ".scenario.json")
    second = os.path.join(folder, name + ".again.jsonl")
    steps = [
        ("run", ["--scenario", scenario, "--seed", "31337", "--quiet", "--trace", first]),
        ("scenario-from", ["scenario-from", first, "--out", made]),
        ("run again", ["--scenario", made, "--draws-from", first, "--quiet", "--trace", second]),
    ]
    outputs = []
    for what, args in steps:
        result = sim(*args)
        if result.returncode != 0:
            raise AssertionError(f"{name}: {what} exited {result.returncode}: {result.stderr}")
        outputs.append(result.stdout)
    return outputs[1], lines(first), lines(second)


def recorded_round_trip(scenario, folder):
    """The recording build's recording of one scenario, and the trace of the
    player's build running the scenario scenario-from made of that recording
    with its random draws. compare-recording.py --player-trace holds the two
    together; returns its status and what it said."""
    name = os.path.splitext(os.path.basename(scenario))[0]
    recorder = os.path.join(os.path.dirname(SIM), "librebound-recorder.so")
    out = os.path.join(folder, name + "-recorded")
    os.makedirs(out)
    made = os.path.join(out, "scenario.json")
    trace = os.path.join(out, "again.jsonl")
    result = subprocess.run([SIM, "--scenario", scenario, "--plugin", recorder, "--quiet", "--seed",
                             "31337"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            check=False, env=dict(os.environ, REBOUND_RECORDING_DIR=out))
    if result.returncode != 0:
        raise AssertionError(f"{name}: recording exited {result.returncode}: {result.stderr}")
    found = glob.glob(os.path.join(out, "Rebound-recording-*.jsonl"))
    if len(found) != 1:
        raise AssertionError(f"{name}: the recording run left {found}")
    for what, args in (("scenario-from", ["scenario-from", found[0], "--out", made]),
                       ("run again", ["--scenario", made, "--draws-from", found[0], "--quiet",
                                      "--trace", trace])):
        result = sim(*args)
        if result.returncode != 0:
            raise AssertionError(f"{name}: {what} exited {result.returncode}: {result.stderr}")
    said = io.StringIO()
    status = compare_recording.compare(found[0], trace, said, recorder_calls=False)
    return status, said.getvalue()


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return f"line {i + 1}:\n  recorded {x}  replayed {y}"
    return f"lengths {len(a)} and {len(b)}"


class ScenarioFrom(unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def test_every_shipped_scenario_plays_again_as_recorded(self):
        scenarios = sorted(p for p in glob.glob(os.path.join(SCENARIOS, "*.json"))
                           if not p.endswith(".schema.json"))
        self.assertGreater(len(scenarios), 10)
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            results = list(pool.map(lambda s: round_trip(s, self.tmp.name), scenarios))
        for scenario, (listing, first, second) in zip(scenarios, results):
            with self.subTest(scenario=os.path.basename(scenario)):
                self.assertIn("The format expressed every recorded answer.", listing)
                self.assertTrue(any('"native"' in line for line in first))
                self.assertEqual(first, second, first_difference(first, second))

    def test_every_shipped_scenario_recorded_plays_again_as_recorded(self):
        # The same round trip from the recording build's files (its own frame
        # count and timer lines, idle stretches as repeat lines), the second
        # run by the player's build.
        scenarios = sorted(p for p in glob.glob(os.path.join(SCENARIOS, "*.json"))
                           if not p.endswith(".schema.json"))
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            results = list(pool.map(lambda s: recorded_round_trip(s, self.tmp.name), scenarios))
        for scenario, (status, said) in zip(scenarios, results):
            with self.subTest(scenario=os.path.basename(scenario)):
                self.assertEqual(status, 0, said)

    def traced(self, scenario, name):
        trace = self.path(name)
        result = sim("--scenario", os.path.join(SCENARIOS, scenario), "--seed", "5", "--quiet",
                     "--trace", trace)
        self.assertEqual(result.returncode, 0, result.stderr)
        return trace

    def rewrite(self, trace, name, change):
        """A copy of the trace with `change` applied to each line (None drops it)."""
        out = self.path(name)
        with open(trace, encoding="utf-8") as f, open(out, "w", encoding="utf-8") as g:
            for text in f:
                line = change(json.loads(text))
                if line is not None:
                    g.write(json.dumps(line, separators=(",", ":")) + "\n")
        return out

    def test_an_answer_no_scenario_gives_is_listed_and_replays_otherwise(self):
        trace = self.traced("plain-death.json", "plain.jsonl")
        frames = []

        def far(line):
            # The game measures the spawn point 400 m away, whatever the positions.
            if line.get("name") == "VDIST":
                frames.append(line["frame"])
                line["result"] = 400.0
            return line

        altered = self.rewrite(trace, "far.jsonl", far)
        made = self.path("far.scenario.json")
        result = sim("scenario-from", altered, "--out", made)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Recorded answers the format could not express (1):", result.stdout)
        self.assertIn(f"  VDIST, from frame {frames[0]}: the game answered 400,", result.stdout)
        with open(made, encoding="utf-8") as f:
            self.assertIn("(1 recorded answers the scenario format could not express)",
                          json.load(f)["name"])
        again = self.path("far.again.jsonl")
        result = sim("--scenario", made, "--draws-from", altered, "--quiet", "--trace", again)
        self.assertEqual(result.returncode, 0, result.stderr)
        # The plug-in measured the world's distance and went on to the point.
        self.assertNotEqual(lines(altered), lines(again))

    def test_bad_recordings_and_outputs_are_refused(self):
        trace = self.traced("plain-death.json", "plain.jsonl")
        missing = self.path("missing.jsonl")
        result = sim("scenario-from", missing, "--out", self.path("s.json"))
        self.assertEqual(result.returncode, 2)
        self.assertIn(missing, result.stderr)
        with open(trace, encoding="utf-8") as f:
            text = f.read().splitlines()
        broken = self.path("broken.jsonl")
        with open(broken, "w", encoding="utf-8") as f:
            f.write("\n".join(text[:9] + [text[9].replace('"args":[', '"args":["x",', 1)] +
                              text[10:]) + "\n")
        for command, flag in (("scenario-from", "--out"), ("report", "--report")):
            with self.subTest(command=command):
                out = self.path(command + ".out")
                result = sim(command, broken, flag, out)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(f"{broken}:10: field \"args\"", result.stderr)
                self.assertFalse(os.path.exists(out))
                blocked = os.path.join(trace, "under-a-file")
                result = sim(command, trace, flag, blocked)
                self.assertEqual(result.returncode, 4, result.stderr)
                self.assertIn(blocked, result.stderr)
                result = sim(command, "--help")
                self.assertEqual(result.returncode, 0)
                self.assertTrue(result.stdout.startswith(f"Usage: rebound-sim {command} RECORDING"))
        result = sim("scenario-from", trace)
        self.assertEqual(result.returncode, 2)
        self.assertIn("needs --out FILE", result.stderr)

    def test_a_plug_in_that_draws_more_than_the_recording_holds_stops(self):
        trace = self.traced("plain-death.json", "plain.jsonl")
        drawless = self.rewrite(trace, "drawless.jsonl",
                                lambda line: None if line.get("host") in ("randomDraw", "seed")
                                else line)
        # A recording holds its draws: one without any has none to give.
        with open(drawless, encoding="utf-8") as f:
            lines = f.read()
        with open(drawless, "w", encoding="utf-8") as f:
            f.write('{"format":"rebound-recording","version":1,"rebound":"0.1.0","build":"recorder",'
                    '"platform":"linux"}\n' + lines)
        result = sim("--scenario", os.path.join(SCENARIOS, "plain-death.json"), "--draws-from",
                     drawless, "--quiet")
        self.assertEqual(result.returncode, 1)
        self.assertIn("drew a random value more than the 0 it was given", result.stderr)
        # A trace of an unseeded run has no draws to give either: it is refused.
        unseeded = self.rewrite(trace, "unseeded.jsonl",
                                lambda line: None if line.get("host") in ("randomDraw", "seed")
                                else line)
        result = sim("--scenario", os.path.join(SCENARIOS, "plain-death.json"), "--draws-from",
                     unseeded, "--quiet")
        self.assertEqual(result.returncode, 2)
        self.assertIn(f"--draws-from: {unseeded}: a trace of an unseeded run", result.stderr)
        result = sim("--draws-from", trace, "--seed", "4")
        self.assertEqual(result.returncode, 2)

    def test_the_report_of_a_recording_says_where_it_came_from(self):
        trace = self.traced("two-deaths.json", "two.jsonl")
        page = self.path("two.html")
        result = sim("report", trace, "--report", page)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("2 deaths", result.stdout)
        with open(page, encoding="utf-8") as f:
            html = f.read()
        self.assertIn("<h1>Rebound recording: two.jsonl</h1>", html)
        self.assertIn("a simulator trace (no header)", html)
        self.assertIn("The world model gives every recorded answer.", html)


if __name__ == "__main__":
    SIM, SCENARIOS = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1])
