#!/usr/bin/env python3
"""Holds the traces and recordings rebound-sim and the recording build write
to docs/trace-line.schema.json, the JSON Schema of one line that
docs/trace-format.md describes: every line of the seeded trace of every
shipped scenario (and of the built-in one), and every line of recordings made
with a normal ring, a small one (dropped frames) and a small size cap. Lines
that differ only in their numbers are validated once for each class of
numbers the schema's bounds tell apart (shape()). Hand-written bad lines must
be refused at the field they break.

  docs_trace_schema_test.py REBOUND_SIM RECORDER_MODULE SCENARIOS_DIR SCHEMA
"""

import glob
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

import jsonschema

SIM = RECORDER = SCENARIOS = SCHEMA = None
VALIDATOR = None

# The host events no run of the shipped scenarios makes: the recorder's
# keyboard queue overflowing needs a flood of messages the simulator does not
# send, and the plug-in makes no call the host refuses (fault_trace_test.py
# runs a module that does) and registers one script only (scripts_test.py runs
# a module with an additional thread, and checks its lines against the schema).
# Rebound calls none of the host's services beside scripts, keyboard and
# natives (services_test.py runs a module that calls them all and validates
# its lines).
NEVER_SEEN = {"droppedKeys", "fault", "scriptRegisterAdditionalThread", "scriptUnregisterScript",
              "getGameVersion", "getGameVersionInfo", "getGlobalPtr",
              "getScriptHandleBaseAddress", "worldGetAllVehicles", "worldGetAllPeds",
              "worldGetAllObjects", "worldGetAllPickups", "createTexture", "drawTexture",
              "presentCallbackRegister", "presentCallbackUnregister", "present",
              "nativeCanExecuteInThisContext", "scriptsAreLaunchedUsingReloading"}


def validator():
    """The schema's validator, made once: checking the schema itself first."""
    global VALIDATOR
    if VALIDATOR is None:
        with open(SCHEMA, encoding="utf-8") as f:
            schema = json.load(f)
        cls = jsonschema.validators.validator_for(schema)
        cls.check_schema(schema)
        VALIDATOR = cls(schema)
    return VALIDATOR


def refusal(line):
    """Why the schema refuses a line (its path and message), or None."""
    errors = list(validator().iter_errors(line))
    if not errors:
        return None
    best = jsonschema.exceptions.best_match(errors)
    path = "".join(f"[{p}]" if isinstance(p, int) else f".{p}" for p in best.absolute_path)
    return f"{path or '(the line)'}: {best.message}"


# A number in a line's text: not inside a hash or a word.
NUMBER = re.compile(r'(?<![\w."])-?\d+(?:\.\d+)?(?:[eE][-+]?\d+)?')
# The bounds the schema sets on any number: two numbers on one side of each
# pass or fail it alike.
BOUNDS = (-2**31 - 1, -2, -1, 0, 255, 65535, 2**31 - 1, 2**32 - 1, 2**53 - 1)


def number_class(match):
    text = match.group(0)
    written_as_float = any(c in text for c in ".eE")
    value = float(text) if written_as_float else int(text)
    if written_as_float and not float(value).is_integer():
        return "F"
    for i, bound in enumerate(BOUNDS):
        if value <= bound:
            return f"{'f' if written_as_float else 'i'}{i}"
    return "big"


def shape(text):
    """A line's text with each number replaced by its class: lines of one shape
    pass or fail the schema together, so each shape is validated once (a trace
    has hundreds of thousands of lines and a few hundred shapes)."""
    return NUMBER.sub(number_class, text)


class Checked:
    """What the lines of some files showed."""

    def __init__(self):
        self.lines = 0
        self.shapes = set()
        self.hosts = set()
        self.failures = []

    def check_file(self, path, simulator_trace):
        with open(path, encoding="utf-8") as f:
            for number, text in enumerate(f, start=1):
                self.lines += 1
                key = shape(text)
                if key in self.shapes:
                    continue
                self.shapes.add(key)
                line = json.loads(text)
                if "host" in line:
                    self.hosts.add(line["host"])
                if simulator_trace and ("frame" not in line or "time" not in line):
                    self.failures.append(f"{path}:{number}: a simulator line without frame "
                                         f"and time")
                why = refusal(line)
                if why:
                    self.failures.append(f"{path}:{number}: {why}\n  {text.strip()[:300]}")


def run_sim(*args, env=None):
    result = subprocess.run([SIM, "--quiet", "--seed", "7"] + list(args), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, check=False,
                            env=dict(os.environ, **(env or {})))
    return result


class TraceLineSchema(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.checked = Checked()
        scenarios = sorted(p for p in glob.glob(os.path.join(SCENARIOS, "*.json"))
                           if not p.endswith(".schema.json"))
        assert scenarios, f"no scenarios in {SCENARIOS}"
        for scenario in [None] + scenarios:
            name = os.path.basename(scenario)[:-5] if scenario else "built-in"
            trace = os.path.join(cls.tmp.name, name + ".jsonl")
            result = run_sim("--trace", trace, *(["--scenario", scenario] if scenario else []))
            assert result.returncode == 0, f"{name}: status {result.returncode}\n{result.stderr}"
            cls.checked.check_file(trace, simulator_trace=True)
        cls.recordings = []
        for name, scenario, env in (
                ("recording", "restarts.json", {}),
                ("keys", "keyboard-throughout.json", {}),
                ("small-ring", "two-deaths.json", {"REBOUND_RECORDER_RING_BYTES": "4096"}),
                ("capped", "plain-death.json", {"REBOUND_RECORDER_MAX_BYTES": "4096"})):
            folder = os.path.join(cls.tmp.name, name)
            os.makedirs(folder)
            env = dict(env, REBOUND_RECORDING_DIR=folder)
            result = run_sim("--plugin", RECORDER, "--scenario", os.path.join(SCENARIOS, scenario),
                             env=env)
            assert result.returncode == 0, f"{name}: status {result.returncode}\n{result.stderr}"
            found = glob.glob(os.path.join(folder, "Rebound-recording-*.jsonl"))
            assert len(found) == 1, f"{name}: recordings {found}"
            cls.recordings.append(found[0])
            cls.checked.check_file(found[0], simulator_trace=False)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_every_line_of_every_trace_and_recording_is_valid(self):
        self.assertGreater(self.checked.lines, 1000)
        if self.checked.failures:
            self.fail(f"{len(self.checked.failures)} line shapes refused by {SCHEMA}; the first:\n"
                      + "\n".join(self.checked.failures[:20]))

    def test_the_runs_show_every_kind_of_host_line_the_schema_has(self):
        with open(SCHEMA, encoding="utf-8") as f:
            kinds = set(json.load(f)["$defs"]["host"]["properties"]["host"]["enum"])
        self.assertEqual(kinds - self.checked.hosts, NEVER_SEEN,
                         "a kind no run wrote is checked by nothing here")
        self.assertEqual(self.checked.hosts - kinds, set())

    def test_recordings_open_with_a_header(self):
        for path in self.recordings:
            with open(path, encoding="utf-8") as f:
                first = json.loads(f.readline())
            self.assertEqual(first.get("format"), "rebound-recording", path)


# Lines the schema must refuse, and the field it names.
BAD_LINES = [
    ('{"frame":0,"time":1,"native":"0x4a18e01df2c87b86","args":[false]}', ".native"),
    ('{"frame":0,"time":1,"native":"0x4A18E01DF2C87B86"}', "args"),
    ('{"frame":0,"time":1,"native":"0x4A18E01DF2C87B86","args":[false],"host":"attach"}', "host"),
    ('{"frame":0,"time":1,"native":"0x4A18E01DF2C87B86","args":[[1,2,3]]}', ".args[0]"),
    ('{"frame":0,"time":1,"native":"0x4A18E01DF2C87B86","args":[],"outs":["nan"]}', ".outs[0]"),
    ('{"frame":0,"time":1,"native":"0x4A18E01DF2C87B86","args":[],"result":[1,2]}', ".result"),
    ('{"frame":0,"time":1,"native":"0x4A18E01DF2C87B86","args":[],"result":1,"by":"recorder"}',
     ".native"),
    ('{"frame":0,"time":1,"native":"0x9CD27B0045628463","args":[],"result":1,"by":"plug-in"}',
     ".by"),
    ('{"frame":-2,"time":1,"host":"scriptStart"}', ".frame"),
    ('{"frame":0,"time":2147483648,"host":"scriptStart"}', ".time"),
    ('{"frame":0,"time":1,"host":"scriptWait"}', "ms"),
    ('{"frame":0,"time":1,"host":"scriptWait","ms":-1}', ".ms"),
    ('{"frame":0,"time":1,"host":"teleport"}', ".host"),
    ('{"frame":0,"time":1,"host":"keyboard","key":65,"repeats":1,"scanCode":256,"extended":0,'
     '"alt":0,"wasDownBefore":0,"isUp":0}', ".scanCode"),
    ('{"frame":0,"time":1,"host":"keyboard","key":65,"repeats":1,"scanCode":30,"extended":0,'
     '"alt":0,"wasDownBefore":0,"isUp":0,"shift":1}', "shift"),
    ('{"frame":0,"time":1,"host":"seed","seed":1}', ".frame"),
    ('{"frame":0,"time":1,"host":"repeat","frames":0,"firstFrame":0,"firstTime":1}', ".frames"),
    ('{"frame":0,"time":1}', "(the line)"),
    ('{"frame":3,"time":1,"host":"fault","call":0}', "reason"),
    ('{"frame":3,"time":1,"host":"fault","call":0,"reason":"x","refused":{"native":"0x1234567812345678",'
     '"args":[{"slot":1}]}}', ".refused.args[0]"),
    ('{"frame":3,"time":1,"host":"fault","call":0,"reason":"x","refused":{"args":[]}}', "native"),
    ('{"format":"rebound-recording","version":1,"rebound":"0.1.0","build":"recorder",'
     '"platform":"mac","hostFile":null,"hostVersion":null,"gameFile":null,"gameVersion":null,'
     '"frameBase":0}', ".platform"),
    ('{"format":"rebound-recording","version":1,"rebound":"0.1.0","build":"recorder",'
     '"platform":"linux","hostFile":null,"hostVersion":null,"gameFile":null,"gameVersion":null}',
     "frameBase"),
]

# Lines the format allows that no shipped run happens to write.
GOOD_LINES = [
    '{"frame":3,"time":1,"native":"0x4A18E01DF2C87B86","args":["NaN",null,"out"],'
    '"outs":[["Infinity",0,-1.5]],"result":"-Infinity"}',
    '{"native":"0xD80958FC74E988A6","args":[],"result":1}',
    '{"host":"droppedKeys","count":3}',
    '{"frame":-1,"host":"attach"}',
    '{"frame":-1,"time":100000,"host":"fault","call":0,"reason":"cannot load the plug-in"}',
    '{"frame":7,"time":100116,"host":"fault","call":0,"reason":"x","refused":'
    '{"native":"0x1234567812345678","args":[1,"a",null,{"slot":"0xFFFFFFFFFFFFFFFF"}]}}',
]


class HandWrittenLines(unittest.TestCase):

    def test_bad_lines_are_refused_at_the_field_they_break(self):
        for text, field in BAD_LINES:
            with self.subTest(line=text):
                why = refusal(json.loads(text))
                self.assertIsNotNone(why, "the schema took it")
                self.assertIn(field, why)

    def test_lines_the_format_allows_pass(self):
        for text in GOOD_LINES:
            with self.subTest(line=text):
                self.assertIsNone(refusal(json.loads(text)))

    def test_the_page_s_examples_are_valid_lines(self):
        page = os.path.join(os.path.dirname(SCHEMA), "trace-format.md")
        with open(page, encoding="utf-8") as f:
            text = f.read()
        examples = [line for block in re.findall(r"```json\n(.*?)```", text, re.S)
                    for line in block.splitlines() if line.strip()]
        self.assertGreater(len(examples), 10)
        for line in examples:
            with self.subTest(line=line):
                self.assertIsNone(refusal(json.loads(line)))


if __name__ == "__main__":
    SIM, RECORDER, SCENARIOS, SCHEMA = sys.argv[1:5]
    del sys.argv[1:5]
    unittest.main()
