#!/usr/bin/env python3
"""rebound-sim --natives with a catalogue written by hand in the community's
format: catalogue_module.cpp calls natives the game's table lacks, which are
answered by default, traced by their catalogue names and counted in the
summary; a call with one argument fewer than listed is warned about once; a
hash in no catalogue still stops the run, unless --unknown-natives zero answers
it 0; and a catalogue with a mistake stops it before it starts. rebound-sim
natives --natives lists the catalogue's natives beside the game's, marked.

  natives_option_test.py REBOUND_SIM CATALOGUE_MODULE SCHEMA
"""

import json
import os
import subprocess
import sys
import tempfile
import unittest

import jsonschema

SIM = MODULE = SCHEMA = None


def native(name, params, result):
    return {"name": name, "jhash": "", "comment": "", "build": "323", "return_type": result,
            "params": [{"type": t, "name": f"p{i}"} for i, t in enumerate(params)]}


# PLAYER_PED_ID is listed with another result than the game's: the world's
# answer must win.
CATALOGUE = {
    "SYSTEM": {"0x10D0A8F259E93EC9": native("GET_IS_LOADING_SCREEN_ACTIVE", [], "BOOL")},
    "TEST": {
        "0x0000000000000A01": native("GET_TEST_TEXT", [], "const char*"),
        "0x0000000000000A02": native("SET_TEST_PAIR", ["int", "BOOL"], "void"),
        "0xD80958FC74E988A6": native("PLAYER_PED_ID", [], "float"),
    },
}

WARNING = "SET_TEST_PAIR called with 1 argument, the catalogue gives it 2"


def run(*args):
    return subprocess.run([SIM, "--plugin", MODULE] + list(args), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, check=False)


def assert_trace_lines_valid(test, lines):
    """Every trace line against the trace line schema, one validator for all."""
    with open(SCHEMA, encoding="utf-8") as f:
        validator = jsonschema.Draft202012Validator(json.load(f))
    for number, line in enumerate(lines, start=1):
        test.assertEqual([e.message for e in validator.iter_errors(line)], [], f"line {number}: {line}")


class CatalogueRun(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.catalogue = os.path.join(cls.tmp.name, "natives.json")
        with open(cls.catalogue, "w", encoding="utf-8") as f:
            json.dump(CATALOGUE, f, indent=1)
        cls.trace = os.path.join(cls.tmp.name, "run.jsonl")
        # Frames 0 to 4: the module's unlisted hash comes in frame 5.
        cls.result = run("--natives", cls.catalogue, "--frames", "5", "--seed", "3",
                         "--trace", cls.trace)
        with open(cls.trace, encoding="utf-8") as f:
            cls.lines = [json.loads(text) for text in f]

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def calls(self, name):
        return [line for line in self.lines if line.get("name") == name]

    def test_the_run_ends_normally(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)

    def test_catalogue_natives_are_traced_by_name_with_the_default_answer(self):
        cases = [
            ("GET_IS_LOADING_SCREEN_ACTIVE", "0x10D0A8F259E93EC9", [], False, [0, 1, 2, 3, 4]),
            ("GET_TEST_TEXT", "0x0000000000000A01", [], "", [0, 1, 2, 3, 4]),
            # Traced with the one slot pushed, which the catalogue's first fits.
            ("SET_TEST_PAIR", "0x0000000000000A02", [7], None, [2, 3, 4]),
        ]
        for name, hash_, args, result, frames in cases:
            with self.subTest(name):
                lines = self.calls(name)
                self.assertEqual([line["frame"] for line in lines], frames)
                for line in lines:
                    self.assertEqual(line["native"], hash_)
                    self.assertEqual(line["args"], args)
                    self.assertEqual(line.get("result"), result)

    def test_a_native_the_world_models_keeps_the_worlds_answer(self):
        answers = {line["result"] for line in self.calls("PLAYER_PED_ID")}
        self.assertEqual(len(answers), 1)
        self.assertIsInstance(answers.pop(), int)

    def test_the_summary_counts_the_calls_and_the_mismatch(self):
        out = self.result.stdout
        self.assertIn(f"  13 calls to natives answered by default from {self.catalogue}\n", out)
        self.assertIn(f"  warning: {WARNING}: 3 calls, the first in frame 2\n", out)

    def test_the_terminal_warns_once_when_it_happens(self):
        warnings = [line for line in self.result.stdout.splitlines() if "natives   warning" in line]
        self.assertEqual(warnings, [f"[frame     2 t=100033     ] natives   warning: {WARNING} "
                                    "(answered by default; warned once)"])

    def test_every_trace_line_is_valid(self):
        assert_trace_lines_valid(self, self.lines)

    def test_a_hash_in_no_catalogue_still_stops_the_run(self):
        result = run("--natives", self.catalogue, "--frames", "6", "--quiet")
        self.assertEqual(result.returncode, 1)
        self.assertIn("run stopped: frame 5 (game time 100083): native 0x0000000000000BAD is not "
                      "a native of the game", result.stderr)

    def test_without_the_catalogue_its_natives_stop_the_run(self):
        result = run("--frames", "5", "--quiet")
        self.assertEqual(result.returncode, 1)
        self.assertIn("frame 0 (game time 100000): native 0x10D0A8F259E93EC9 is not a native of "
                      "the game", result.stderr)

    def test_a_bad_catalogue_stops_the_run_before_it_starts(self):
        bad = json.loads(json.dumps(CATALOGUE))
        bad["TEST"]["0x0000000000000A02"]["params"][1]["type"] = "Foo"
        path = os.path.join(self.tmp.name, "bad.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(bad, f)
        missing = os.path.join(self.tmp.name, "missing.json")
        cases = [
            (path, f"rebound-sim: --natives: {path}:1: field "
                   "'TEST.0x0000000000000A02.params[1].type': unknown type \"Foo\"\n"),
            (missing, f"rebound-sim: --natives: {missing}: cannot read the natives catalogue: "
                      "No such file or directory\n"),
        ]
        for catalogue, message in cases:
            with self.subTest(catalogue):
                result = run("--natives", catalogue, "--frames", "5")
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stderr, message)
                self.assertEqual(result.stdout, "")


def write_catalogue(folder, catalogue=None, name="natives.json", indent=1):
    path = os.path.join(folder, name)
    with open(path, "w", encoding="utf-8") as f:
        json.dump(CATALOGUE if catalogue is None else catalogue, f, indent=indent)
    return path


BAD = "0x0000000000000BAD"
ALSO_BAD = "0x0000000000000BAE"


class UnknownNativesAnsweredZero(unittest.TestCase):
    """--unknown-natives zero: the module calls 0x...BAD with one argument in
    frame 5, and from frame 7 0x...BAE (right after PLAYER_PED_ID, whose handle
    it would read back were the result not zeroed) and 0x...BAD again."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.catalogue = write_catalogue(cls.tmp.name)
        cls.trace = os.path.join(cls.tmp.name, "run.jsonl")
        cls.result = run("--natives", cls.catalogue, "--unknown-natives", "zero", "--frames", "9",
                         "--seed", "3", "--trace", cls.trace)
        with open(cls.trace, encoding="utf-8") as f:
            cls.lines = [json.loads(text) for text in f]

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_the_run_goes_on_to_its_end(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        self.assertEqual(self.result.stderr, "")
        frames = {line["frame"] for line in self.lines if "native" in line}
        self.assertEqual(max(frames), 8)

    def test_each_call_is_traced_by_hash_with_its_raw_slots_and_zero(self):
        unknown = [(l["frame"], l["native"], l["args"], l.get("result"), "name" in l)
                   for l in self.lines if l.get("unknown")]
        self.assertEqual(unknown, [
            (5, BAD, [{"slot": "0x000000000000002A"}], 0, False),
            (7, ALSO_BAD, [], 0, False),
            (7, BAD, [], 0, False),
            (8, ALSO_BAD, [], 0, False),
            (8, BAD, [], 0, False),
        ])
        self.assertTrue(all(l["unknown"] is True for l in self.lines if "unknown" in l))

    def test_the_result_slots_are_zeroed(self):
        # A result left as PLAYER_PED_ID's handle makes the module call it twice.
        frames = [l["frame"] for l in self.lines if l.get("name") == "PLAYER_PED_ID"]
        self.assertEqual(frames, list(range(9)))

    def test_the_summary_counts_the_calls_and_names_the_hashes(self):
        self.assertIn(f"  warning: 5 calls to 2 natives no table knows, answered 0: {BAD} (3 calls, "
                      f"the first in frame 5), {ALSO_BAD} (2 calls, the first in frame 7)\n",
                      self.result.stdout)
        # The calls count as the plug-in's native calls: 9 frames of 3 known
        # calls, SET_TEST_PAIR from frame 2 and the 5 answered 0.
        self.assertIn(", 39 native calls (", self.result.stdout)

    def test_the_timeline_warns_once_per_hash(self):
        warnings = [line for line in self.result.stdout.splitlines() if "is in no table" in line]
        self.assertEqual(warnings, [
            f"[frame     5 t=100083     ] natives   warning: native {BAD} is in no table; "
            "answered 0 (--unknown-natives zero; warned once)",
            f"[frame     7 t=100116     ] natives   warning: native {ALSO_BAD} is in no table; "
            "answered 0 (--unknown-natives zero; warned once)",
        ])

    def test_every_trace_line_is_valid(self):
        assert_trace_lines_valid(self, self.lines)

    def test_the_summary_is_the_same_untraced_and_catalogue_natives_are_not_unknown(self):
        cases = [
            # Untraced: the calls are counted all the same.
            (["--natives", self.catalogue, "--frames", "9"],
             f"  warning: 5 calls to 2 natives no table knows, answered 0: {BAD} (3 calls, the "
             f"first in frame 5), {ALSO_BAD} (2 calls, the first in frame 7)\n"),
            # Without the catalogue its natives are unknown too; the empty text
            # answered 0 is null, after which the module calls 0x...BAD at once.
            (["--frames", "3"],
             "  warning: 10 calls to 4 natives no table knows, answered 0: 0x10D0A8F259E93EC9 "
             "(3 calls, the first in frame 0), 0x0000000000000A01 (3 calls, the first in frame "
             f"0), {BAD} (3 calls, the first in frame 0), 0x0000000000000A02 (1 call, the first "
             "in frame 2)\n"),
            (["--natives", self.catalogue, "--frames", "5"],
             "  0 calls to 0 natives no table knows, answered 0\n"),
        ]
        for args, line in cases:
            with self.subTest(args):
                result = run("--unknown-natives", "zero", "--summary", *args)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn(line, result.stdout)


class UnknownNativesRefused(unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.catalogue = write_catalogue(self.tmp.name)

    def test_refuse_is_the_default_and_stops_at_the_hash(self):
        for option in [[], ["--unknown-natives", "refuse"]]:
            with self.subTest(option):
                result = run("--natives", self.catalogue, "--frames", "9", "--quiet", *option)
                self.assertEqual(result.returncode, 1)
                self.assertIn(f"run stopped: frame 5 (game time 100083): native {BAD} is not a "
                              "native of the game", result.stderr)

    def test_a_bad_value_is_a_command_line_mistake(self):
        cases = [
            (["--unknown-natives", "maybe"], '--unknown-natives takes refuse or zero, got "maybe"'),
            (["--unknown-natives", "Zero"], '--unknown-natives takes refuse or zero, got "Zero"'),
            (["--unknown-natives"], "--unknown-natives needs refuse or zero"),
            (["--unknown-natives", "zero", "--unknown-natives", "refuse"],
             "--unknown-natives given twice (zero and refuse)"),
        ]
        for args, message in cases:
            with self.subTest(args):
                result = run("--frames", "1", *args)
                self.assertEqual(result.returncode, 2)
                self.assertIn(f"rebound-sim: {message}\n", result.stderr)
                self.assertEqual(result.stdout, "")


def natives(*args):
    return subprocess.run([SIM, "natives"] + list(args), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, check=False)


class NativesListing(unittest.TestCase):
    """rebound-sim natives --natives: the game's natives marked modelled, then
    those only the catalogue knows, marked as such."""

    CATALOGUE_ONLY = ["0x10D0A8F259E93EC9", "0x0000000000000A01", "0x0000000000000A02"]

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.catalogue = write_catalogue(self.tmp.name)

    def test_text_marks_every_line(self):
        result = natives("--natives", self.catalogue)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.splitlines()
        body, last = lines[:-1], lines[-1]
        only = [line.split()[0] for line in body if line.endswith(" catalogue only")]
        self.assertEqual(only, self.CATALOGUE_ONLY)
        modelled = [line for line in body if line.endswith(" modelled")]
        self.assertEqual(len(modelled) + len(only), len(body))
        # Listed by the catalogue too, but the game's: once, as modelled.
        ped = [line for line in body if "PLAYER_PED_ID" in line]
        self.assertEqual(len(ped), 1)
        self.assertTrue(ped[0].startswith("0xD80958FC74E988A6  PLAYER_PED_ID "), ped[0])
        self.assertTrue(ped[0].endswith(" modelled"), ped[0])
        self.assertIn("GET_TEST_TEXT", body[-2])
        self.assertEqual(last, f"{len(body)} natives: {len(modelled)} modelled by the simulated "
                               f"game, 3 known only from {self.catalogue}")

    def test_without_a_catalogue_nothing_is_marked(self):
        result = natives()
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.splitlines()
        self.assertRegex(lines[-1], r"^\d+ natives$")
        self.assertFalse([l for l in lines if "modelled" in l or "catalogue only" in l])
        listed = natives("--natives", self.catalogue).stdout.splitlines()
        self.assertEqual(int(lines[-1].split()[0]) + 3, len(listed) - 1)

    def test_json_has_the_field(self):
        result = natives("--json", "--natives", self.catalogue)
        self.assertEqual(result.returncode, 0, result.stderr)
        listed = json.loads(result.stdout)
        self.assertTrue(all(isinstance(n["modelled"], bool) for n in listed))
        self.assertEqual([n["hash"] for n in listed if not n["modelled"]], self.CATALOGUE_ONLY)
        self.assertEqual(listed[-1], {"hash": "0x0000000000000A02", "name": "SET_TEST_PAIR",
                                      "args": ["int", "bool"], "result": "none",
                                      "modelled": False})
        ped = [n for n in listed if n["hash"] == "0xD80958FC74E988A6"]
        self.assertEqual([(n["name"], n["result"], n["modelled"]) for n in ped],
                         [("PLAYER_PED_ID", "int", True)])
        plain = json.loads(natives("--json").stdout)
        self.assertEqual([n for n in listed if n["modelled"]],
                         [dict(n, modelled=True) for n in plain])
        self.assertFalse([n for n in plain if "modelled" in n])

    def test_a_bad_catalogue_is_named(self):
        bad = json.loads(json.dumps(CATALOGUE))
        bad["TEST"]["0x0000000000000A01"]["return_type"] = "Bar"
        path = write_catalogue(self.tmp.name, bad, "bad.json", indent=None)
        for args in [["--natives", path], ["--json", "--natives", path]]:
            with self.subTest(args):
                result = natives(*args)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stderr, f"rebound-sim: --natives: {path}:1: field "
                                 "'TEST.0x0000000000000A01.return_type': unknown type \"Bar\"\n")
                self.assertEqual(result.stdout, "")


class CatalogueAnswers(unittest.TestCase):
    """A scenario's answers for natives the game lacks, read against the
    catalogue: the module calls a hash no catalogue lists as soon as its text
    native answers anything but the empty text."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        catalogue = json.loads(json.dumps(CATALOGUE))
        # The module pushes one argument: the out-variable is never passed.
        catalogue["TEST"]["0x0000000000000A02"] = native("SET_TEST_PAIR", ["int", "int*"], "void")
        self.catalogue = os.path.join(self.tmp.name, "natives.json")
        with open(self.catalogue, "w", encoding="utf-8") as f:
            json.dump(catalogue, f)

    def run_with(self, answers, *args):
        scenario = os.path.join(self.tmp.name, "answers.json")
        with open(scenario, "w", encoding="utf-8") as f:
            json.dump({"name": "answers", "frames": 5, "answers": answers}, f)
        trace = os.path.join(self.tmp.name, "run.jsonl")
        result = run("--scenario", scenario, "--trace", trace, "--quiet", "--seed", "3", *args)
        lines = []
        if os.path.exists(trace):
            with open(trace, encoding="utf-8") as f:
                lines = [json.loads(text) for text in f]
        return result, lines

    def test_answers_by_name_and_hash_reach_the_plugin(self):
        result, lines = self.run_with([
            {"from": 0, "to": 1, "native": "0x10D0A8F259E93EC9", "result": True},
            {"from": 3, "to": 3, "native": "GET_TEST_TEXT", "result": "hello"},
            {"from": 2, "to": 4, "native": "SET_TEST_PAIR", "outs": [5]},
        ], "--natives", self.catalogue)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("run stopped: frame 3 (game time 100050): native 0x0000000000000BAD",
                      result.stderr)
        loading = [(l["frame"], l["result"]) for l in lines
                   if l.get("name") == "GET_IS_LOADING_SCREEN_ACTIVE"]
        self.assertEqual(loading, [(0, True), (1, True), (2, False), (3, False)])
        texts = [(l["frame"], l["result"]) for l in lines if l.get("name") == "GET_TEST_TEXT"]
        self.assertEqual(texts, [(0, ""), (1, ""), (2, ""), (3, "hello")])

    def test_a_native_neither_lists_is_refused_before_the_run(self):
        cases = [
            ("GET_TEST_TEXT", [], 'unknown native "GET_TEST_TEXT" (rebound-sim natives lists the '
                                  "natives the game knows; --natives FILE adds those of your own "
                                  "catalogue)"),
            ("NO_SUCH_NATIVE", ["--natives"], 'unknown native "NO_SUCH_NATIVE" (neither the game '
                                              "(rebound-sim natives) nor "),
            ("0x0000000000000BAD", ["--natives"], "no native has the hash 0x0000000000000BAD"),
        ]
        for name, option, message in cases:
            with self.subTest(name):
                args = option + [self.catalogue] if option else []
                result, lines = self.run_with(
                    [{"from": 0, "to": 4, "native": name, "result": 1}], *args)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn("field 'answers[0].native': " + message, result.stderr)
                self.assertEqual(lines, [])

    def test_an_answer_that_does_not_fit_the_catalogue_is_refused(self):
        result, _ = self.run_with([{"from": 0, "to": 4, "native": "GET_TEST_TEXT", "result": 3}],
                                  "--natives", self.catalogue)
        self.assertEqual(result.returncode, 2)
        self.assertIn("field 'answers[0].result'", result.stderr)


if __name__ == "__main__":
    SIM, MODULE, SCHEMA = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1])
