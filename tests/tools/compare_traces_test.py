#!/usr/bin/env python3
"""Checks scripts/compare-traces.py: fields drawn at random may differ, and
only in the respawns where they are random; every other change is caught."""

import importlib.util
import io
import json
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "scripts", "compare-traces.py")
loader_info = importlib.util.spec_from_file_location("compare_traces", SCRIPT)
compare_traces = importlib.util.module_from_spec(loader_info)
loader_info.loader.exec_module(compare_traces)


def call(name, args, **extra):
    line = {"frame": 600, "time": 110000, "native": "0x0", "name": name, "args": args}
    line.update(extra)
    return line


def respawn(count=3, index=1, point=(150.0, -880.0, 30.1), centre=(314.9, -806.2),
            distance=95.5, heading=172.0, fallback=False):
    """The lines of one respawn as the plug-in makes them."""
    lines = [call("GET_ENTITY_HEALTH", [1], result=0),
             call("SPAWNPOINTS_START_SEARCH", [centre[0], centre[1], 30.7, 50.0, 5.0, 2, 2.0, 5000]),
             call("SPAWNPOINTS_IS_SEARCH_FAILED", [], result=fallback)]
    if fallback:
        lines += [call("SPAWNPOINTS_CANCEL_SEARCH", []),
                  call("GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING",
                       [centre[0], centre[1], 30.7, 1, "out", "out", "out", 1, 3.0, 0.0],
                       outs=[list(point), 45.0, 1], result=True)]
    else:
        lines += [call("SPAWNPOINTS_GET_NUM_SEARCH_RESULTS", [], result=count),
                  call("SPAWNPOINTS_GET_SEARCH_RESULT", [index, "out", "out", "out"],
                       outs=list(point)),
                  call("SPAWNPOINTS_CANCEL_SEARCH", [])]
    lines += [call("VDIST", [215.0, -810.0, 30.7, *point], result=distance),
              call("SET_ENTITY_COORDS", [1, *point, True, False, False, False]),
              call("SET_ENTITY_HEADING", [1, heading]),
              {"frame": 600, "time": 110000, "host": "scriptWait", "ms": 10}]
    return lines


class CompareTraces(unittest.TestCase):

    def compare(self, a, b, masks=None):
        with tempfile.TemporaryDirectory() as tmp:
            paths = []
            for name, lines in (("a.jsonl", a), ("b.jsonl", b)):
                path = os.path.join(tmp, name)
                with open(path, "w", encoding="utf-8") as f:
                    f.write("".join(json.dumps(line) + "\n" for line in lines))
                paths.append(path)
            out = io.StringIO()
            status = compare_traces.compare(paths[0], paths[1], out, masks)
            return status, out.getvalue()

    def test_random_draws_may_differ(self):
        cases = {
            "centre and heading": respawn(centre=(131.0, -864.3), heading=24.8),
            "another of many results": respawn(index=2, point=(230.0, -910.0, 30.4),
                                               distance=101.1),
            "centre on the fallback": respawn(fallback=True, centre=(120.0, -790.0), heading=0.0),
        }
        base = {"centre and heading": respawn(), "another of many results": respawn(),
                "centre on the fallback": respawn(fallback=True, heading=0.0)}
        for label, other in cases.items():
            with self.subTest(label):
                status, out = self.compare(base[label], other)
                self.assertEqual(status, 0, out)

    def test_without_masks_the_draws_must_agree_too(self):
        # Two seeded runs draw alike: a differing heading is then a fault.
        status, out = self.compare(respawn(), respawn(heading=24.8), masks={})
        self.assertEqual(status, 1, out)
        self.assertIn("line 9 in field args[1]", out)
        status, out = self.compare(respawn(), respawn(), masks={})
        self.assertEqual(status, 0, out)

    def test_changes_outside_the_draws_are_caught(self):
        # (what, second trace, the line and field that must be reported)
        cases = [
            ("search height", respawn(), 2, "args[2]",
             lambda t: t[1]["args"].__setitem__(2, 31.0)),
            ("search duration", respawn(), 2, "args[7]",
             lambda t: t[1]["args"].__setitem__(7, 4000)),
            ("a result of another native", respawn(), 1, "result",
             lambda t: t[0].__setitem__("result", 1)),
            ("another native", respawn(), 3, "name",
             lambda t: t[2].__setitem__("name", "SPAWNPOINTS_IS_SEARCH_ACTIVE")),
            ("the death position", respawn(), 7, "args[0]",
             lambda t: t[6]["args"].__setitem__(0, 216.0)),
            ("a flag of the placement", respawn(), 8, "args[5]",
             lambda t: t[7]["args"].__setitem__(5, True)),
            ("a host wait", respawn(), 10, "ms", lambda t: t[9].__setitem__("ms", 0)),
            ("a field left out", respawn(), 10, "ms", lambda t: t[9].pop("ms")),
            # With one result the index is always 0 and the point is known.
            ("index of the only result", respawn(count=1, index=0), 5, "args[0]",
             lambda t: t[4]["args"].__setitem__(0, 1)),
            ("point of the only result", respawn(count=1, index=0), 5, "outs",
             lambda t: t[4].__setitem__("outs", [1.0, 2.0, 3.0])),
            # The fallback and a point too far away turn the player to 0.
            ("heading on the fallback", respawn(fallback=True, heading=0.0), 8, "args[1]",
             lambda t: t[7]["args"].__setitem__(1, 90.0)),
            ("heading of a point too far", respawn(count=1, index=0, distance=350.0, heading=0.0),
             9, "args[1]", lambda t: t[8]["args"].__setitem__(1, 90.0)),
        ]
        for label, base, line, field, change in cases:
            with self.subTest(label):
                other = json.loads(json.dumps(base))
                change(other)
                status, out = self.compare(base, other)
                self.assertEqual(status, 1, out)
                self.assertIn("line %d in field %s" % (line, field), out)

    def test_a_trace_that_ends_early_is_caught(self):
        status, out = self.compare(respawn(), respawn()[:-1])
        self.assertEqual(status, 1)
        self.assertIn("ends at line 9", out)

    def test_the_seed_line_is_left_out_of_both(self):
        seed = {"frame": -1, "time": 100000, "host": "seed", "seed": 42}
        other_seed = dict(seed, seed=43)
        draw = {"frame": 0, "time": 100000, "host": "randomDraw", "value": 7}
        # Linux against Windows (no seed line, no draws), two seeds, or the seed alone.
        for label, a, b in (("one side only", [seed] + respawn(), respawn()),
                            ("draws on one side only", [seed, draw] + respawn() + [draw], respawn()),
                            ("two seeds", [seed] + respawn(), [other_seed] + respawn()),
                            ("seed line only", [seed], [])):
            with self.subTest(label):
                status, out = self.compare(a, b)
                self.assertEqual(status, 0, out)
        # A difference after it is still caught, named by each file's own line.
        changed = respawn()
        changed[1]["args"][2] = 31.0
        status, out = self.compare([seed] + respawn(), changed)
        self.assertEqual(status, 1, out)
        self.assertIn("at line 3 in field args[2]", out)
        self.assertIn("b.jsonl:2:", out)
        # Any other host event is compared as before.
        status, out = self.compare([dict(seed, host="attach")] + respawn(), respawn())
        self.assertEqual(status, 1, out)

    def test_a_line_that_is_not_json_is_an_input_error(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "broken.jsonl")
            with open(path, "w", encoding="utf-8") as f:
                f.write('{"frame": 0}\n{"frame": \n')
            with self.assertRaises(SystemExit) as stop:
                compare_traces.compare(path, path, io.StringIO())
            self.assertEqual(stop.exception.code, 2)


if __name__ == "__main__":
    unittest.main(verbosity=2)
