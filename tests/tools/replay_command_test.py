#!/usr/bin/env python3
"""Runs `rebound-sim replay` as a user does: seeded traces of shipped
scenarios replay with status 0, an altered one stops with status 1 and a diff
at the call it affects, an unreadable recording (a bad field, a newer format)
gives status 2 naming file, line and field, a module that cannot be loaded
status 4 (as a run gives it), --quiet only the difference. Untrusted
recordings (huge numbers, deep nesting, frames that go back or far, nothing to
read, an unseeded trace) are refused with status 2 by replay, report and
scenario-from alike; a recording cut inside its last line is read up to the
line before, each command saying where it was cut; the recording build under
test is named as such. --junit writes the verdict as JUnit XML (checked against
junit.xsd beside this file with xmllint), as a run's outputs are written.

  replay_command_test.py REBOUND_SIM SCENARIO_DIR
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

SIM = SCENARIOS = None
XSD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "junit.xsd")

SUMMARY = re.compile(r"^(Same calls|Differs): (\d+) calls checked \((\d+) native\), (\d+) frames, "
                     r"[0-9.]+ s, \d+ calls per second$")


def run(*args):
    return subprocess.run([SIM] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, check=False)


class ReplayCommand(unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def trace(self, scenario):
        path = self.path(scenario.replace(".json", ".jsonl"))
        done = run("--quiet", "--seed", "5", "--scenario", os.path.join(SCENARIOS, scenario),
                   "--trace", path)
        self.assertEqual(done.returncode, 0, done.stderr)
        return path

    def write(self, name, lines):
        path = self.path(name)
        with open(path, "w", encoding="utf-8") as f:
            f.write("".join(line + "\n" for line in lines))
        return path

    def lines(self, path):
        with open(path, encoding="utf-8") as f:
            return f.read().splitlines()

    def test_seeded_traces_replay_with_the_same_calls(self):
        for scenario in ("restarts.json", "misbehaving-world.json", "keyboard-throughout.json"):
            with self.subTest(scenario):
                path = self.trace(scenario)
                done = run("replay", path)
                self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
                out = done.stdout.splitlines()
                self.assertEqual(out[0], f"Replaying {path} (a simulator trace) against "
                                         f"{os.path.join(os.path.dirname(SIM), 'librebound.so')}")
                self.assertIn("Every recorded answer read is one the world model can give.", out)
                summary = SUMMARY.match(out[-1])
                self.assertIsNotNone(summary, out[-1])
                self.assertEqual(summary.group(1), "Same calls")
                lines = [json.loads(line) for line in self.lines(path)]
                calls = [l for l in lines if "native" in l or l.get("host") in (
                    "scriptWait", "randomDraw", "scriptRegister", "scriptUnregister",
                    "keyboardHandlerRegister", "keyboardHandlerUnregister")]
                self.assertEqual(int(summary.group(2)), len(calls))
                self.assertEqual(int(summary.group(3)), sum(1 for l in calls if "native" in l))

    def test_an_altered_result_stops_at_the_call_it_affects_with_a_diff(self):
        lines = self.lines(self.trace("plain-death.json"))
        at = next(i for i, line in enumerate(lines)
                  if '"HAS_SCALEFORM_MOVIE_LOADED"' in line and '"result":true' in line)
        lines[at] = lines[at].replace('"result":true', '"result":false')
        path = self.write("late-movie.jsonl", lines)
        done = run("replay", path)
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        out = done.stdout.splitlines()
        calls = sum(1 for line in lines[:at + 1]
                    if '"native"' in line or re.search(r'"host":"(scriptWait|randomDraw|'
                                                       r'scriptRegister|keyboardHandlerRegister)"',
                                                       line))
        frame = json.loads(lines[at])["frame"]
        self.assertEqual(out[1], f"The plug-in differs from the recording at frame {frame}, "
                                 f"call {calls} ({path}:{at + 2}):")
        # The ten calls before, the recorded one and the plug-in's, as a diff.
        self.assertEqual(out[2:12], ["  " + line for line in lines[at - 9:at + 1]])
        self.assertEqual(out[12], "- " + lines[at + 1])
        self.assertTrue(out[13].startswith('+ {"frame":%d,' % frame), out[13])
        self.assertTrue(SUMMARY.match(out[-1]).group(1) == "Differs")

    def test_an_answer_the_model_never_gives_replays_and_is_listed(self):
        lines = self.lines(self.trace("plain-death.json"))
        at = next(i for i, line in enumerate(lines) if '"name":"VDIST"' in line)
        lines[at] = re.sub(r'"result":[^}]*}', '"result":95.0}', lines[at])
        done = run("replay", self.write("distance.jsonl", lines))
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn("  VDIST: 1 answer the model never gives: a distance that does not match its "
                      f"two positions, first at frame {json.loads(lines[at])['frame']}",
                      done.stdout.splitlines())

    def test_an_unreadable_recording_is_refused_naming_file_line_and_field(self):
        lines = self.lines(self.trace("tapping.json"))
        header = ('{"format":"rebound-recording","version":1,"rebound":"0.1.0","build":"recorder",'
                  '"platform":"linux","hostFile":null,"hostVersion":null,"gameFile":null,'
                  '"gameVersion":null,"frameBase":0}')
        bad = lines[:]
        bad[40] = bad[40].replace('"args":[', '"args":["x",', 1)
        cases = [
            (self.write("newer.jsonl", [header.replace('"version":1', '"version":2')] + lines),
             "newer.jsonl:1: a newer format (version 2) than this rebound-sim reads (1)"),
            (self.write("bad.jsonl", bad), "bad.jsonl:41: field \"args\""),
            (self.write("hash.jsonl", lines[:5] + ['{"frame":0,"time":100000,'
                                                   '"native":"0x0123456789ABCDEF","args":[]}']),
             "hash.jsonl:6: field \"native\": 0x0123456789ABCDEF is not a native of the game"),
            (self.path("missing.jsonl"), "missing.jsonl: cannot be read: No such file or directory"),
        ]
        for path, message in cases:
            with self.subTest(message):
                done = run("replay", path)
                self.assertEqual(done.returncode, 2, done.stdout + done.stderr)
                self.assertIn(message, done.stderr)

    def commands(self, path):
        """replay, report and scenario-from of `path`, each as it ended."""
        out = self.path("out")
        return [("replay", run("replay", path)),
                ("report", run("report", path, "--report", out + ".html")),
                ("scenario-from", run("scenario-from", path, "--out", out + ".json"))]

    def test_every_command_refuses_what_a_recording_cannot_hold(self):
        lines = self.lines(self.trace("plain-death.json"))
        at = next(i for i, line in enumerate(lines) if '"frame":30,' in line)
        call = next(i for i, line in enumerate(lines)
                    if '"frame":30,' in line and '"args":[' in line and '"args":[]' not in line)
        deep = "[" * 5000 + "]" * 5000
        cases = [
            ("digits.jsonl", lines[:at] + [lines[at].replace('"frame":30,', '"frame":' + "9" * 19 + ",")],
             f"digits.jsonl:{at + 1}: field \"frame\": expected a whole number from -1 to "
             "4294967295, got " + "9" * 19),
            ("far.jsonl", lines[:at] + [lines[at].replace('"frame":30,', '"frame":4294967296,')],
             f"far.jsonl:{at + 1}: field \"frame\": expected a whole number from -1 to "
             "4294967295, got 4294967296"),
            ("further.jsonl", lines[:at] + [lines[at].replace('"frame":30,', '"frame":4000000000,')],
             f"further.jsonl:{at + 1}: field \"frame\": frame 4000000000 is further than the"),
            ("back.jsonl", lines[:at] + [lines[at].replace('"frame":30,', '"frame":3,')],
             f"back.jsonl:{at + 1}: field \"frame\": frame 3 after frame 29: frames never go back"),
            ("deep.jsonl", lines[:call] + [re.sub(r'"args":\[[^]]*\]', '"args":[' + deep + "]",
                                                  lines[call], count=1)],
             f"deep.jsonl:{call + 1}: field \"args\": arrays and objects nested more than 64 deep"),
        ]
        for name, text, message in cases:
            path = self.write(name, text)
            for command, done in self.commands(path):
                with self.subTest(f"{name}, {command}"):
                    self.assertEqual(done.returncode, 2, done.stdout + done.stderr)
                    self.assertIn(message, done.stderr)
            # Nothing half-written is left behind.
            self.assertEqual(sorted(os.listdir(self.tmp.name)),
                             sorted(f for f in os.listdir(self.tmp.name) if not f.endswith(".tmp")))
            self.assertFalse(os.path.exists(self.path("out.json")))
            self.assertFalse(os.path.exists(self.path("out.html")))
            os.remove(path)

    def test_files_that_hold_nothing_to_read_are_refused(self):
        header = ('{"format":"rebound-recording","version":1,"rebound":"0.1.0","build":"recorder",'
                  '"platform":"linux","hostFile":null,"hostVersion":null,"gameFile":null,'
                  '"gameVersion":null,"frameBase":0}')
        cases = [
            (self.write("empty.jsonl", []),
             "empty.jsonl: the file is empty: it holds no recording or trace"),
            (self.write("header.jsonl", [header]),
             "header.jsonl: holds a recording's header and nothing after it"),
        ]
        for path, message in cases:
            for command, done in self.commands(path):
                with self.subTest(f"{path}, {command}"):
                    self.assertEqual(done.returncode, 2, done.stdout + done.stderr)
                    self.assertIn(message, done.stderr)
                    self.assertNotIn("Same calls", done.stdout)

    def test_an_unseeded_trace_is_refused_by_replay_and_draws_from(self):
        path = self.path("unseeded.jsonl")
        scenario = os.path.join(SCENARIOS, "plain-death.json")
        done = run("--quiet", "--os-random", "--scenario", scenario, "--trace", path)
        self.assertEqual(done.returncode, 0, done.stderr)
        done = run("replay", path)
        self.assertEqual(done.returncode, 2, done.stdout + done.stderr)
        self.assertIn(f"{path}: a trace of an unseeded run (--os-random): it holds neither a seed "
                      "nor the random draws", done.stderr)
        done = run("--quiet", "--scenario", scenario, "--draws-from", path)
        self.assertEqual(done.returncode, 2, done.stdout + done.stderr)
        self.assertIn(f"--draws-from: {path}: a trace of an unseeded run (--os-random)",
                      done.stderr)

    def test_a_cut_recording_is_read_up_to_its_last_whole_line(self):
        lines = self.lines(self.trace("tapping.json"))
        cut = self.path("cut.jsonl")
        whole = "\n".join(lines[:100]) + "\n"
        with open(cut, "w", encoding="utf-8") as f:
            f.write(whole + lines[100][:25])
        note = (f"{cut}:101: the recording is cut inside this line, at byte "
                f"{len(whole.encode())} (25 bytes without a newline or a whole line's JSON): "
                "read up to line 100")
        for command, done in self.commands(cut):
            with self.subTest(command):
                self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
                if command == "replay":
                    self.assertIn("The recording is cut short, as a crash or a full disk leaves "
                                  f"it: {note}.", done.stdout.splitlines())
                    self.assertEqual(SUMMARY.match(done.stdout.splitlines()[-1]).group(1),
                                     "Same calls")
                else:
                    self.assertIn(f"The recording is not whole: {note}", done.stdout.splitlines())

    def test_the_recording_build_under_test_is_named(self):
        recorder = os.path.join(os.path.dirname(SIM), "librebound-recorder.so")
        env = dict(os.environ, REBOUND_RECORDING_DIR=self.tmp.name)
        done = subprocess.run([SIM, "--quiet", "--seed", "5", "--plugin", recorder, "--scenario",
                               os.path.join(SCENARIOS, "plain-death.json")], env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, check=False)
        self.assertEqual(done.returncode, 0, done.stderr)
        recording = next(os.path.join(self.tmp.name, f) for f in os.listdir(self.tmp.name)
                         if f.startswith("Rebound-recording-"))
        self.assertEqual(run("replay", recording).returncode, 0)
        done = run("replay", recording, "--plugin", recorder)
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        self.assertIn("Hint: the plug-in asks GET_FRAME_COUNT where the recorder made its own "
                      "calls: it looks like the recording build", done.stdout)

    def test_a_plugin_that_cannot_be_loaded_gives_status_4_as_in_a_run(self):
        path = self.trace("panel.json")
        not_a_module = self.write("text.so", ["not a module"])
        for plugin in (self.path("nothing.so"), not_a_module):
            for args in (["replay", path], ["--quiet", "--frames", "3"]):
                with self.subTest(plugin=plugin, command=args[0]):
                    done = run(*args, "--plugin", plugin)
                    self.assertEqual(done.returncode, 4, done.stdout + done.stderr)
                    self.assertIn(f"cannot load the plug-in {plugin}: ", done.stderr)

    def test_quiet_prints_only_the_difference(self):
        path = self.trace("plain-death.json")
        done = run("replay", path, "--quiet")
        self.assertEqual((done.returncode, done.stdout, done.stderr), (0, "", ""))
        lines = self.lines(path)
        at = next(i for i, line in enumerate(lines)
                  if '"HAS_SCALEFORM_MOVIE_LOADED"' in line and '"result":true' in line)
        lines[at] = lines[at].replace('"result":true', '"result":false')
        altered = self.write("altered.jsonl", lines)
        loud, quiet = run("replay", altered), run("replay", altered, "-q")
        self.assertEqual((loud.returncode, quiet.returncode), (1, 1), loud.stderr + quiet.stderr)
        out = quiet.stdout.splitlines()
        self.assertTrue(out[0].startswith("The plug-in differs from the recording at frame"), out)
        self.assertEqual(out, loud.stdout.splitlines()[1:len(out) + 1])
        self.assertTrue(out[-1].startswith("+ "), out)
        self.assertEqual(quiet.stderr, "")

    def test_help_and_usage_mistakes(self):
        done = run("replay", "--help")
        self.assertEqual(done.returncode, 0)
        self.assertTrue(done.stdout.startswith(
            "Usage: rebound-sim replay RECORDING [--plugin PATH] [--junit FILE] [--quiet]"),
            done.stdout)
        self.assertIn("rebound-sim replay RECORDING", run("--help").stdout)
        for args, message in ((["replay"], "which recording?"),
                              (["replay", "a", "b"], "one recording at a time"),
                              (["replay", "a", "--frames", "3"], "unknown option: --frames"),
                              (["replay", "a", "--plugin", "--quiet"],
                               '--plugin got "--quiet", which reads as an option'),
                              (["replay", "a", "--plugin", "p.so", "--plugin", "q.so"],
                               "--plugin given twice (p.so and q.so)"),
                              (["replay", "a", "--junit", "j.xml", "--junit", "k.xml"],
                               "--junit given twice (j.xml and k.xml)")):
            with self.subTest(args):
                done = run(*args)
                self.assertEqual(done.returncode, 2)
                self.assertIn(message, done.stderr)


class ReplayJUnit(unittest.TestCase):
    """replay --junit: one test case, failed with the first difference."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.trace = os.path.join(self.tmp.name, "run.jsonl")
        done = run("--quiet", "--seed", "5", "--scenario",
                   os.path.join(SCENARIOS, "plain-death.json"), "--trace", self.trace)
        self.assertEqual(done.returncode, 0, done.stderr)

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def junit(self, path):
        """The file's one test case and its properties, once the schema accepts it."""
        self.assertIsNotNone(shutil.which("xmllint"), "xmllint is needed to check the schema")
        check = subprocess.run(["xmllint", "--noout", "--schema", XSD, path],
                               capture_output=True, text=True, check=False)
        self.assertEqual(check.returncode, 0, check.stderr)
        root = ET.parse(path).getroot()
        cases = root.findall("testcase")
        self.assertEqual(len(cases), 1)
        self.assertEqual(root.get("tests"), "1")
        self.assertEqual(root.get("name"), os.path.basename(self.trace))
        properties = {p.get("name"): p.get("value") for p in root.iter("property")}
        self.assertEqual(properties["recording"], self.trace)
        return root, cases[0], properties

    def test_the_same_calls_pass(self):
        out = self.path("replay.xml")
        done = run("replay", self.trace, "--junit", out)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        root, case, properties = self.junit(out)
        self.assertEqual(root.get("failures"), "0")
        self.assertEqual(case.get("classname"), "rebound-sim.replay")
        self.assertEqual(case.get("name"), "replay of " + self.trace)
        self.assertIsNone(case.find("failure"))
        summary = SUMMARY.match(done.stdout.splitlines()[-1])
        self.assertEqual(properties["calls checked"], summary.group(2))
        self.assertEqual(properties["native calls checked"], summary.group(3))
        self.assertEqual(properties["frames"], summary.group(4))

    def test_a_difference_fails_the_case_with_its_message_and_diff(self):
        with open(self.trace, encoding="utf-8") as f:
            lines = f.read().splitlines()
        at = next(i for i, line in enumerate(lines)
                  if '"HAS_SCALEFORM_MOVIE_LOADED"' in line and '"result":true' in line)
        lines[at] = lines[at].replace('"result":true', '"result":false')
        altered = self.path("altered.jsonl")
        with open(altered, "w", encoding="utf-8") as f:
            f.write("".join(line + "\n" for line in lines))
        self.trace = altered
        out = self.path("replay.xml")
        done = run("replay", altered, "--quiet", "--junit", out)
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        root, case, _ = self.junit(out)
        self.assertEqual(root.get("failures"), "1")
        failure = case.find("failure")
        self.assertEqual(failure.get("type"), "differs")
        # The message is the first line replay prints, the text all of it.
        printed = done.stdout.splitlines()
        self.assertEqual("T" + failure.get("message")[1:] + ":", printed[0])
        self.assertIn(f"({altered}:{at + 2})", failure.get("message"))
        self.assertEqual(failure.text.splitlines(), printed)

    def test_to_standard_output_the_findings_go_to_standard_error(self):
        done = run("replay", self.trace, "--junit", "-")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertTrue(done.stdout.startswith("<?xml"), done.stdout[:80])
        ET.fromstring(done.stdout)
        self.assertIn("Same calls: ", done.stderr)

    def test_no_file_when_there_is_no_verdict(self):
        out = self.path("replay.xml")
        with open(out, "w", encoding="utf-8") as f:
            f.write("kept\n")
        cases = [
            ([self.path("missing.jsonl")], 2),
            ([self.trace, "--plugin", self.path("missing.so")], 4),
        ]
        for args, status in cases:
            with self.subTest(args=args):
                done = run("replay", *args, "--junit", out)
                self.assertEqual(done.returncode, status, done.stderr)
                with open(out, encoding="utf-8") as f:
                    self.assertEqual(f.read(), "kept\n")
                self.assertEqual(sorted(os.listdir(self.tmp.name)), ["replay.xml", "run.jsonl"])

    def test_an_output_over_an_input_or_nowhere_is_refused(self):
        with open(self.trace, "rb") as f:
            before = f.read()
        plugin = self.path("plugin.so")
        shutil.copy(os.path.join(os.path.dirname(SIM), "librebound.so"), plugin)
        cases = [
            ([self.trace, "--junit", self.trace], 2, "--junit"),
            ([self.trace, "--plugin", plugin, "--junit", plugin], 2, "--junit"),
            ([self.trace, "--junit", self.path("no/such/dir/replay.xml")], 4, "no/such/dir"),
            ([self.trace, "--junit"], 2, "--junit"),
        ]
        for args, status, named in cases:
            with self.subTest(args=args):
                done = run("replay", *args)
                self.assertEqual(done.returncode, status, done.stdout + done.stderr)
                self.assertIn(named, done.stderr)
        with open(self.trace, "rb") as f:
            self.assertEqual(f.read(), before)


if __name__ == "__main__":
    SIM, SCENARIOS = os.path.abspath(sys.argv[1]), sys.argv[2]
    del sys.argv[1:3]
    unittest.main(verbosity=2)
