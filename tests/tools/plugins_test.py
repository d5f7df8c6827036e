#!/usr/bin/env python3
"""Several plug-ins in one run: Rebound beside threads_module.cpp. Rebound's
native calls are exactly those of Rebound alone; a folder loads its modules in
file-name order; the modules detach in reverse load order; the summary counts
each plug-in's native calls; the mistakes in naming plug-ins are refused.

  plugins_test.py REBOUND_SIM REBOUND_MODULE THREADS_MODULE SCENARIOS_DIR SCHEMA UNSEEDED_MODULE

UNSEEDED_MODULE is threads_module built without the seed source export.
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import jsonschema

SIM = REBOUND = THREADS = SCENARIOS = SCHEMA = UNSEEDED = None
SEED = "424242"
FRAMES = "600"


def run(tmp, plugins, extra=(), quiet=True, env=None):
    trace = os.path.join(tmp, "run.jsonl")
    args = [SIM]
    for plugin in plugins:
        args += ["--plugin", plugin]
    args += ["--trace", trace] + list(extra) + (["--quiet"] if quiet else [])
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            check=False, env=env)
    lines = []
    if os.path.exists(trace):
        with open(trace, encoding="utf-8") as f:
            lines = [json.loads(line) for line in f]
    return result, lines


def natives(lines, plugin=None):
    """The native call lines (of `plugin`, when given) without the fields that
    say where they come from."""
    calls = []
    for line in lines:
        if "native" not in line or (plugin is not None and line.get("plugin") != plugin):
            continue
        calls.append({k: v for k, v in line.items() if k not in ("plugin", "script")})
    return calls


def scenario_file(tmp, events, frames=20):
    path = os.path.join(tmp, "scenario.json")
    with open(path, "w", encoding="utf-8") as f:
        json.dump({"name": "plugins", "frames": frames, "events": events}, f)
    return path


class ReboundBesideAnotherPlugin(unittest.TestCase):
    """The other module's scripts must not change what Rebound calls."""

    def check_same_calls(self, scenario_args, order):
        rebound = os.path.basename(REBOUND)
        with tempfile.TemporaryDirectory() as alone_dir, \
                tempfile.TemporaryDirectory() as both_dir:
            extra = ["--seed", SEED, "--frames", FRAMES] + scenario_args
            alone, alone_lines = run(alone_dir, [REBOUND], extra)
            both, both_lines = run(both_dir, order, extra)
        self.assertEqual(alone.returncode, 0, alone.stderr)
        self.assertEqual(both.returncode, 0, both.stderr)
        expected = natives(alone_lines)
        self.assertGreater(len(expected), 1000)
        self.assertEqual(natives(both_lines, rebound), expected)
        # The other plug-in did call natives, and they are its own.
        others = natives(both_lines, os.path.basename(THREADS))
        self.assertGreater(len(others), 0)
        self.assertEqual(len(natives(both_lines)), len(expected) + len(others))
        # A run of one plug-in names none.
        self.assertFalse([l for l in alone_lines if "plugin" in l or "script" in l])

    def test_default_scenario_rebound_first(self):
        self.check_same_calls([], [REBOUND, THREADS])

    def test_default_scenario_rebound_second(self):
        self.check_same_calls([], [THREADS, REBOUND])

    def test_plain_death(self):
        scenario = os.path.join(SCENARIOS, "plain-death.json")
        self.check_same_calls(["--scenario", scenario], [REBOUND, THREADS])

    def test_every_line_names_its_plugin_and_fits_the_schema(self):
        with open(SCHEMA, encoding="utf-8") as f:
            schema = json.load(f)
            validator = jsonschema.Draft202012Validator(schema)
        with tempfile.TemporaryDirectory() as tmp:
            result, lines = run(tmp, [REBOUND, THREADS], ["--seed", SEED, "--frames", "30"])
        self.assertEqual(result.returncode, 0, result.stderr)
        names = {os.path.basename(REBOUND), os.path.basename(THREADS)}
        for line in lines:
            validator.validate(line)
            self.assertIn(line.get("plugin"), names, line)
        # Scripts are numbered across the run: Rebound's one, then the other's two.
        scripts = {(l["plugin"], l["script"]) for l in lines if "native" in l}
        self.assertEqual(scripts, {(os.path.basename(REBOUND), 0),
                                   (os.path.basename(THREADS), 1),
                                   (os.path.basename(THREADS), 2)})


def draws(lines):
    """The random draws and the seed lines, without the fields that say where
    they come from."""
    return [{k: v for k, v in l.items() if k not in ("plugin", "script")} for l in lines
            if l.get("host") in ("randomDraw", "seed")]


class SeedBesideAModuleWithoutTheExport(unittest.TestCase):
    """--seed seeds Rebound; a module without the seed export, loaded before or
    after it, neither fails the run nor moves Rebound's draws."""

    def test_either_load_order(self):
        scenario = os.path.join(SCENARIOS, "plain-death.json")
        extra = ["--seed", SEED, "--scenario", scenario]
        with tempfile.TemporaryDirectory() as tmp:
            alone, alone_lines = run(tmp, [REBOUND], extra)
        self.assertEqual(alone.returncode, 0, alone.stderr)
        expected = draws(alone_lines)
        self.assertGreater(len([l for l in expected if l["host"] == "randomDraw"]), 0)
        unseeded = os.path.basename(UNSEEDED)
        for order in ([UNSEEDED, REBOUND], [REBOUND, UNSEEDED]):
            with self.subTest(order=[os.path.basename(p) for p in order]), \
                    tempfile.TemporaryDirectory() as tmp:
                result, lines = run(tmp, order, extra, quiet=False)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertIn("seed: " + SEED + " (given", result.stdout)
                self.assertEqual(draws(lines), expected)
                self.assertEqual(natives(lines, os.path.basename(REBOUND)),
                                 natives(alone_lines))
                # The other module ran, and took no seed.
                self.assertGreater(len(natives(lines, unseeded)), 0)
                self.assertFalse([l for l in lines if l.get("host") == "seed"
                                  and l["plugin"] == unseeded])

    def test_alone_it_cannot_be_seeded(self):
        with tempfile.TemporaryDirectory() as tmp:
            result, lines = run(tmp, [UNSEEDED], ["--seed", SEED, "--frames", "5"])
        self.assertEqual(result.returncode, 4, result.stderr)
        self.assertIn("--seed: the plug-in has no seed export", result.stderr)
        self.assertFalse([l for l in lines if l.get("frame", -1) >= 0])


class Folder(unittest.TestCase):
    """A folder's modules load in file-name order, whatever the order on disk."""

    def load_order(self, names):
        with tempfile.TemporaryDirectory() as tmp:
            folder = os.path.join(tmp, "plugins")
            os.mkdir(folder)
            for source, name in names:
                shutil.copy(source, os.path.join(folder, name))
            # Neither a module nor a folder of one: left alone.
            with open(os.path.join(folder, "readme.txt"), "w", encoding="utf-8") as f:
                f.write("not a module\n")
            os.mkdir(os.path.join(folder, "sub.asi"))
            result, lines = run(tmp, [folder], ["--seed", SEED, "--frames", "5"])
        self.assertEqual(result.returncode, 0, result.stderr)
        attached = [l["plugin"] for l in lines if l.get("host") == "attach"]
        starts = [(l["plugin"], l["script"]) for l in lines if l.get("host") == "scriptStart"]
        return attached, starts

    def test_file_name_order(self):
        attached, starts = self.load_order([(REBOUND, "b-rebound.asi"),
                                            (THREADS, "a-threads.so")])
        self.assertEqual(attached, ["a-threads.so", "b-rebound.asi"])
        self.assertEqual(starts, [("a-threads.so", 0), ("a-threads.so", 1),
                                  ("b-rebound.asi", 2)])

    def test_reversed_names_reverse_the_order(self):
        attached, starts = self.load_order([(REBOUND, "a-rebound.asi"),
                                            (THREADS, "b-threads.asi")])
        self.assertEqual(attached, ["a-rebound.asi", "b-threads.asi"])
        self.assertEqual(starts, [("a-rebound.asi", 0), ("b-threads.asi", 1),
                                  ("b-threads.asi", 2)])

    def test_each_frame_runs_the_scripts_in_load_order(self):
        with tempfile.TemporaryDirectory() as tmp:
            result, lines = run(tmp, [THREADS, REBOUND], ["--seed", SEED, "--frames", "10"])
        self.assertEqual(result.returncode, 0, result.stderr)
        for frame in range(10):
            order = [l["script"] for l in lines if "native" in l and l["frame"] == frame]
            self.assertEqual(order, sorted(order), frame)
            self.assertEqual(order[0], 0, frame)


class UnloadAndSummary(unittest.TestCase):

    def test_unload_detaches_in_reverse_load_order(self):
        with tempfile.TemporaryDirectory() as tmp:
            scenario = scenario_file(tmp, [{"frame": 8, "unload": True}])
            result, lines = run(tmp, [REBOUND, THREADS], ["--scenario", scenario])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        detached = [l["plugin"] for l in lines if l.get("host") == "detach"]
        self.assertEqual(detached, [os.path.basename(THREADS), os.path.basename(REBOUND)])
        # Each module unregisters in its own detach, before the next detaches.
        first = [i for i, l in enumerate(lines) if l.get("host") == "detach"]
        between = [l["host"] for l in lines[first[0] + 1:first[1]]]
        self.assertIn("scriptUnregister", between)
        self.assertTrue(all(l["plugin"] == os.path.basename(THREADS)
                            for l in lines[first[0]:first[1]]))
        self.assertFalse([l for l in lines if l.get("frame", -1) > 8])

    def test_the_module_that_left_its_scripts_is_named(self):
        env = dict(os.environ, THREADS_MODULE_MISTAKE="keep-scripts")
        with tempfile.TemporaryDirectory() as tmp:
            scenario = scenario_file(tmp, [{"frame": 4, "unload": True}])
            result, lines = run(tmp, [THREADS, REBOUND], ["--scenario", scenario], env=env)
        message = ("the script of " + os.path.basename(THREADS) +
                   " is still registered after its process detach")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(message, result.stdout + result.stderr)
        # Both modules detached first, Rebound (loaded last) before it.
        detached = [l["plugin"] for l in lines if l.get("host") == "detach"]
        self.assertEqual(detached, [os.path.basename(REBOUND), os.path.basename(THREADS)])
        self.assertEqual(lines[-1]["reason"], message)

    def test_the_module_that_left_its_keyboard_handler_is_named(self):
        # Loaded last, threads_module detaches first: the module detached
        # last (or loaded last) is then Rebound, and would be the wrong name.
        env = dict(os.environ, THREADS_MODULE_MISTAKE="keep-keyboard")
        message = ("the keyboard handler of " + os.path.basename(THREADS) +
                   " is still registered after its process detach")
        for order in ([REBOUND, THREADS], [THREADS, REBOUND]):
            with self.subTest(order=[os.path.basename(p) for p in order]), \
                    tempfile.TemporaryDirectory() as tmp:
                scenario = scenario_file(tmp, [{"frame": 4, "unload": True}])
                result, lines = run(tmp, order, ["--scenario", scenario], env=env)
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                self.assertIn(message, result.stdout + result.stderr)
                self.assertEqual(lines[-1]["reason"], message)
                # Rebound unregistered its own; threads_module never did.
                unregistered = [l["plugin"] for l in lines
                                if l.get("host") == "keyboardHandlerUnregister"]
                self.assertEqual(unregistered, [os.path.basename(REBOUND)])

    def test_a_key_reaches_every_handler(self):
        key = {"frame": 5, "key": {"code": 70, "scanCode": 33}}
        with tempfile.TemporaryDirectory() as tmp:
            scenario = scenario_file(tmp, [key], frames=10)
            result, lines = run(tmp, [REBOUND, THREADS], ["--scenario", scenario])
        self.assertEqual(result.returncode, 0, result.stderr)
        # threads_module answers the key with one IS_CONTROL_JUST_PRESSED.
        pressed = [(l["frame"], l["args"], l["plugin"]) for l in lines
                   if l.get("name") == "IS_CONTROL_JUST_PRESSED"
                   and l["plugin"] == os.path.basename(THREADS)]
        self.assertEqual(pressed, [(5, [0, 70], os.path.basename(THREADS))])

    def test_summary_counts_each_plugins_calls(self):
        with tempfile.TemporaryDirectory() as tmp:
            result, lines = run(tmp, [REBOUND, THREADS], ["--seed", SEED, "--frames", "200"],
                                quiet=False)
        self.assertEqual(result.returncode, 0, result.stderr)
        out = result.stdout
        total = int(re.search(r"Summary: .*?, (\d+) native calls", out).group(1))
        counts = {}
        for plugin in (REBOUND, THREADS):
            name = os.path.basename(plugin)
            match = re.search(r"^  " + re.escape(name) + r": (\d+) native calls?$", out, re.M)
            self.assertIsNotNone(match, out)
            counts[name] = int(match.group(1))
            self.assertEqual(counts[name], len(natives(lines, name)), name)
        self.assertEqual(sum(counts.values()), total)

    def test_report_lists_each_plugins_share(self):
        rows_pattern = re.compile(r'<tr><td><code>([^<]*)</code></td><td class="num">(\d+)</td>'
                                  r'<td class="num">(\d+)</td><td class="num">(\d+)</td></tr>')
        with tempfile.TemporaryDirectory() as tmp:
            report = os.path.join(tmp, "report.html")
            result, lines = run(tmp, [THREADS, REBOUND],
                                ["--seed", SEED, "--frames", "200", "--report", report],
                                quiet=False)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(report, encoding="utf-8") as f:
                page = f.read()
        table = re.search(r'<table class="plugins">.*?</table>', page, re.S)
        self.assertIsNotNone(table, "no table of the plug-ins in the report")
        rows = rows_pattern.findall(table.group(0))
        # In load order, each with what the summary and the trace count.
        self.assertEqual([r[0] for r in rows],
                         [os.path.basename(THREADS), os.path.basename(REBOUND)])
        for name, scripts, calls, handlers in rows:
            with self.subTest(plugin=name):
                printed = re.search(r"^  " + re.escape(name) + r": (\d+) native calls?$",
                                    result.stdout, re.M)
                self.assertIsNotNone(printed, result.stdout)
                self.assertEqual(int(calls), int(printed.group(1)))
                self.assertEqual(int(calls), len(natives(lines, name)))
                registered = [l for l in lines if l.get("plugin") == name and l.get("host") in
                              ("scriptRegister", "scriptRegisterAdditionalThread")]
                self.assertEqual(int(scripts), len(registered))
                keyboard = [l for l in lines if l.get("plugin") == name
                            and l.get("host") == "keyboardHandlerRegister"]
                self.assertEqual(int(handlers), len(keyboard))
        self.assertEqual([int(r[1]) for r in rows], [2, 1])

    def test_report_of_one_plugin_has_no_such_table(self):
        with tempfile.TemporaryDirectory() as tmp:
            report = os.path.join(tmp, "report.html")
            result, _ = run(tmp, [REBOUND], ["--seed", SEED, "--frames", "20", "--report", report])
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(report, encoding="utf-8") as f:
                self.assertNotIn('class="plugins"', f.read())

    def test_one_plugin_has_no_count_of_its_own(self):
        with tempfile.TemporaryDirectory() as tmp:
            result, _ = run(tmp, [REBOUND], ["--seed", SEED, "--frames", "20"], quiet=False)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn(os.path.basename(REBOUND) + ":", result.stdout)


class Mistakes(unittest.TestCase):

    def test_refused(self):
        with tempfile.TemporaryDirectory() as tmp:
            empty = os.path.join(tmp, "empty")
            os.mkdir(empty)
            missing = os.path.join(tmp, "missing.asi")
            other = os.path.join(tmp, "other")
            os.mkdir(other)
            same_name = os.path.join(other, os.path.basename(REBOUND))
            shutil.copy(REBOUND, same_name)
            cases = [
                ([empty], "--plugin " + empty + ": the folder holds no .asi or .so module", 2),
                ([REBOUND, same_name], "two plug-ins named " + os.path.basename(REBOUND), 2),
                ([REBOUND, missing], "cannot load the plug-in " + missing, None),
            ]
            for plugins, message, status in cases:
                with self.subTest(plugins=plugins):
                    result, lines = run(tmp, plugins, ["--frames", "5"])
                    self.assertNotEqual(result.returncode, 0)
                    if status is not None:
                        self.assertEqual(result.returncode, status)
                    self.assertIn(message, result.stderr)
                    # No frame ran.
                    self.assertFalse([l for l in lines if l.get("frame", -1) >= 0])


if __name__ == "__main__":
    SIM, REBOUND, THREADS, SCENARIOS, SCHEMA, UNSEEDED = sys.argv[1:7]
    unittest.main(argv=sys.argv[:1], verbosity=2)
