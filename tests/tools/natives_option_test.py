#!/usr/bin/env python3
"""rebound-sim --natives with a catalogue written by hand in the community's
format: catalogue_module.cpp calls natives the game's table lacks, which are
answered by default, traced by their catalogue names and counted in the
summary; a call with one argument fewer than listed is warned about once; a
hash in no catalogue still stops the run, and a catalogue with a mistake stops
it before it starts.

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
        with open(SCHEMA, encoding="utf-8") as f:
            validator = jsonschema.Draft202012Validator(json.load(f))
        for number, line in enumerate(self.lines, start=1):
            self.assertEqual([e.message for e in validator.iter_errors(line)], [],
                             f"line {number}: {line}")

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
