#!/usr/bin/env python3
"""Runs rebound-sim as a user does: two runs with one seed write the same
trace bytes, other seeds choose other points, a drawn seed is printed and
replays its run, --os-random writes no seed, and bad seeds are refused.

  seed_replay_test.py REBOUND_SIM SCENARIO
"""

import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

SIM = SCENARIO = None


def run(*args, trace=None):
    command = [SIM, "--scenario", SCENARIO] + list(args)
    if trace:
        command += ["--trace", trace]
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                          check=False)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def placements(path):
    with open(path, encoding="utf-8") as f:
        lines = [json.loads(line) for line in f]
    return [line["args"] for line in lines if line.get("name") == "SET_ENTITY_COORDS"]


class SeedReplay(unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def traced(self, name, *args):
        result = run("--quiet", *args, trace=self.path(name))
        self.assertEqual(result.returncode, 0, result.stderr)
        return self.path(name)

    def test_one_seed_gives_the_same_bytes_and_others_other_points(self):
        first = self.traced("a.jsonl", "--seed", "2024")
        second = self.traced("b.jsonl", "--seed", "2024")
        self.assertEqual(read(first), read(second))
        with open(first, encoding="utf-8") as f:
            self.assertEqual(json.loads(f.readline()),
                             {"frame": -1, "time": 100000, "host": "seed", "seed": 2024})
        points = {json.dumps(placements(first))}
        for seed in ("2025", "2026", "2027", "2028"):
            points.add(json.dumps(placements(self.traced(seed + ".jsonl", "--seed", seed))))
        self.assertGreaterEqual(len(points), 3, points)

    def test_a_drawn_seed_is_printed_and_replays_the_run(self):
        result = run(trace=self.path("drawn.jsonl"))
        self.assertEqual(result.returncode, 0, result.stderr)
        found = re.search(r"^  seed: (\d+) \(drawn; --seed \1 replays this run\)$", result.stdout,
                          re.M)
        self.assertIsNotNone(found, result.stdout)
        self.assertRegex(result.stdout, r"(?m)^  script stack: peak \d+ bytes of 1048576$")
        replay = self.traced("replay.jsonl", "--seed", found.group(1))
        self.assertEqual(read(self.path("drawn.jsonl")), read(replay))

    def test_os_random_writes_no_seed(self):
        result = run("--os-random", trace=self.path("os.jsonl"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("  seed: none; the plug-in draws from the system's random source",
                      result.stdout)
        with open(self.path("os.jsonl"), encoding="utf-8") as f:
            self.assertNotIn('"host":"seed"', f.read())

    def test_bad_seeds_are_refused(self):
        for args, message in ((["--seed", "-1"], "--seed needs a whole number"),
                              (["--seed", "9007199254740992"], "from 0 to 9007199254740991"),
                              (["--seed", "12x"], "got 12x"),
                              (["--seed"], "--seed needs a value"),
                              (["--seed", "1", "--os-random"], "exclude each other"),
                              (["--seed", "1", "--no-plugin"], "--no-plugin loads none")):
            with self.subTest(" ".join(args)):
                result = run(*args)
                self.assertEqual(result.returncode, 2)
                self.assertIn(message, result.stderr)

    def test_help_names_both_options(self):
        result = subprocess.run([SIM, "--help"], stdout=subprocess.PIPE, text=True, check=False)
        self.assertRegex(result.stdout, r"\n  --seed N +seed the plug-in's random helpers")
        self.assertRegex(result.stdout, r"\n  --os-random +leave the plug-in's random helpers")


if __name__ == "__main__":
    SIM, SCENARIO = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
