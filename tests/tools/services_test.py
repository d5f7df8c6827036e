#!/usr/bin/env python3
"""The host's services beside scripts, keyboard and natives, through a module
that uses every one of them (services_module.cpp): what each answered, as the
module reports it through REPORT_VALUE (a native of a catalogue written here),
the host lines the trace shows for them, the textures in the frame pictures,
the globals in the summary, and the calls the host refuses. Every line of the
traces must be valid by the trace schema.

  services_test.py REBOUND_SIM SERVICES_MODULE SCHEMA [EMULATOR...]
"""

import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

import jsonschema

SIM = MODULE = SCHEMA = None
EMULATOR = []

CATALOGUE = {"TEST": {"0x0000000000000C01": {
    "name": "REPORT_VALUE", "jhash": "", "comment": "", "build": "323", "return_type": "void",
    "params": [{"type": "const char*", "name": "what"}, {"type": "int", "name": "value"}]}}}

# Two vehicles (the module asks for one), a ped besides the player's (handle
# 1), an object (the module offers no room for it) and no pickup; the host
# restarts the script in frame 8.
SCENARIO = {
    "name": "services", "frames": 12, "gameVersion": 1013, "globals": {"1234": 5},
    "entities": {"vehicles": [300, 301], "peds": [400], "objects": [500]},
    "presentCallbacks": True,
    "events": [{"frame": 8, "restartScript": True}],
}


def seed():
    """A fixed seed where rebound-sim takes one: the Windows build refuses
    --seed (Rebound.asi exports no seed source), and the module draws none."""
    return [] if EMULATOR else ["--seed", "5"]


def folder_with_catalogue():
    """A temporary folder holding the test's catalogue as natives.json."""
    tmp = tempfile.TemporaryDirectory()
    with open(os.path.join(tmp.name, "natives.json"), "w", encoding="utf-8") as f:
        json.dump(CATALOGUE, f)
    return tmp


class Run:
    def __init__(self, tmp, name, scenario, mode=None):
        self.scenario = os.path.join(tmp, name + ".json")
        with open(self.scenario, "w", encoding="utf-8") as f:
            json.dump(scenario, f)
        self.trace = os.path.join(tmp, name + ".jsonl")
        self.svg = os.path.join(tmp, name + "-svg")
        self.report = os.path.join(tmp, name + ".html")
        env = dict(os.environ)
        env.pop("REBOUND_SERVICES_MODE", None)
        if mode:
            env["REBOUND_SERVICES_MODE"] = mode
        catalogue = os.path.join(tmp, "natives.json")
        self.result = subprocess.run(
            EMULATOR + [SIM, "--plugin", MODULE, "--natives", catalogue, "--scenario",
                        self.scenario, *seed(), "--trace", self.trace, "--summary",
                        "--frames-svg", self.svg, "--svg-frames", "drawn", "--report",
                        self.report],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env, check=False)
        with open(self.trace, encoding="utf-8") as f:
            self.lines = [json.loads(text) for text in f]

    def reports(self, frame=None):
        """(what, value) the module reported, in order, in one frame or all."""
        return [tuple(l["args"]) for l in self.lines
                if l.get("name") == "REPORT_VALUE" and (frame is None or l["frame"] == frame)]

    def host(self, name):
        return [l for l in self.lines if l.get("host") == name]


class Services(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = folder_with_catalogue()
        cls.run_ = Run(cls.tmp.name, "services", SCENARIO)
        with open(SCHEMA, encoding="utf-8") as f:
            cls.validator = jsonschema.Draft202012Validator(json.load(f))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_the_run_ends_normally_with_every_service_found(self):
        self.assertEqual(self.run_.result.returncode, 0, self.run_.result.stderr)
        self.assertIn(("missing", 0), self.run_.reports(0))

    def test_what_each_service_answered_at_the_first_start_and_after_the_restart(self):
        first = dict(self.run_.reports(0))
        again = dict(self.run_.reports(8))
        cases = [
            # what, first start, after the restart
            ("attachVersion", 1013, 1013),
            ("attachCanExecute", 0, 0),
            ("version", 1013, 1013),
            ("canExecute", 1, 1),
            ("reloading", 0, 1),
            ("baseAddressNull", 1, 1),
            # The slot keeps what the first start wrote into it (5 + 1).
            ("global1234", 5, 6),
            ("sameSlot", 1, 1),
            ("global77", 0, 42),
            ("peds", 2, 2),
            ("vehicles", 1, 1),
            ("vehicle", 300, 300),
            ("vehicleAfterSize", -1, -1),
            ("objects", 0, 0),
            ("pickups", 0, 0),
            ("untouched", -1, -1),
            # Ids count on past the reload, which freed the first two.
            ("marker", 0, 2),
            ("banner", 1, 3),
        ]
        for what, at_start, at_restart in cases:
            with self.subTest(what=what):
                self.assertEqual(first.get(what), at_start)
                self.assertEqual(again.get(what), at_restart)

    def test_the_players_ped_comes_first_among_the_peds(self):
        self.assertEqual([v for w, v in self.run_.reports(0) if w == "ped"], [1, 400])

    def test_present_callbacks_run_once_a_frame_after_the_script_with_no_swap_chain(self):
        # The script reports the count before the frame's callback runs.
        counts = [v for w, v in self.run_.reports() if w == "presentCalls"]
        self.assertEqual(counts, list(range(12)))
        frames = [l["frame"] for l in self.run_.host("present")]
        self.assertEqual(frames, list(range(12)))
        for line in self.run_.host("present"):
            index = self.run_.lines.index(line)
            self.assertEqual(self.run_.lines[index - 1].get("host"), "scriptWait")

    def test_host_lines_carry_what_was_asked_and_answered(self):
        def fields(name, frame):
            return [{k: v for k, v in l.items() if k not in ("frame", "time", "host")}
                    for l in self.run_.host(name) if l["frame"] == frame]
        cases = [
            ("getGameVersion", -1, [{"version": 1013}]),
            ("nativeCanExecuteInThisContext", -1, [{"answer": False}]),
            ("nativeCanExecuteInThisContext", 0, [{"answer": True}]),
            ("scriptsAreLaunchedUsingReloading", 8, [{"answer": True}]),
            ("getGlobalPtr", 0, [{"id": 1234}, {"id": 1234}, {"id": 77}]),
            ("getScriptHandleBaseAddress", 0, [{"handle": 1}]),
            ("worldGetAllPeds", 0, [{"size": 8, "written": 2}]),
            ("worldGetAllVehicles", 0, [{"size": 1, "written": 1}]),
            ("worldGetAllObjects", 0, [{"size": 0, "written": 0}]),
            ("worldGetAllPickups", 0, [{"size": -3, "written": 0}]),
            ("createTexture", 0, [{"file": "C:\\mods\\test\\marker.png", "id": 0},
                                  {"file": "C:\\mods\\test\\banner.png", "id": 1}]),
            ("drawTexture", 1, [{"id": 0, "index": 0, "level": 1, "ms": 10}]),
            ("presentCallbackRegister", -1, [{}]),
            ("presentCallbackUnregister", 11, [{}]),
        ]
        for name, frame, expected in cases:
            with self.subTest(name=name, frame=frame):
                self.assertEqual(fields(name, frame), expected)

    def test_every_line_is_valid_by_the_trace_schema(self):
        for line in self.run_.lines:
            errors = list(self.validator.iter_errors(line))
            self.assertEqual(errors, [], line)

    def test_textures_are_pictured_while_shown_lower_level_first(self):
        def textures(frame):
            path = os.path.join(self.run_.svg, f"frame-{frame:05d}.svg")
            if not os.path.exists(path):
                return []
            with open(path, encoding="utf-8") as f:
                return re.findall(r"<title>[^<]*\([^)]*\)</title>", f.read())
        # The banner (level 0) for 100 ms from frame 0: frames 0 to 5 at 60
        # fps; the marker (level 1), drawn for 10 ms in frames 0 to 2, in those
        # frames only. After the restart the same from frame 8, with new ids.
        banner = "<title>C:\\mods\\test\\banner.png (texture {} instance 3 level 0)</title>"
        marker = "<title>C:\\mods\\test\\marker.png (texture {} instance 0 level 1)</title>"
        cases = [(0, [banner.format(1), marker.format(0)]),
                 (2, [banner.format(1), marker.format(0)]),
                 (3, [banner.format(1)]), (5, [banner.format(1)]), (6, []), (7, []),
                 (8, [banner.format(3), marker.format(2)]), (11, [banner.format(3)])]
        for frame, expected in cases:
            with self.subTest(frame=frame):
                self.assertEqual(textures(frame), expected)

    def test_the_banner_box_stands_where_its_corner_was_placed(self):
        with open(os.path.join(self.run_.svg, "frame-00000.svg"), encoding="utf-8") as f:
            text = f.read()
        # posX 0.1, posY 0.7 with centre (0, 0): its top-left corner there;
        # 0.4 x 0.1 of 1920 x 1080; green at half alpha.
        self.assertIn('<rect x="192.00" y="756.00" width="768.00" height="108.00" '
                      'fill="rgb(0,255,0)" fill-opacity="0.50"', text)
        self.assertIn(">banner.png</text>", text)

    def test_the_reports_frames_show_the_textures_by_file_name(self):
        with open(self.run_.report, encoding="utf-8") as f:
            text = f.read()
        self.assertIn('class="texture"', text)
        self.assertIn(">marker.png</text>", text)
        self.assertIn(">banner.png</text>", text)

    def test_bad_draws_are_ignored_with_one_warning_each(self):
        out = self.run_.result.stdout + self.run_.result.stderr
        self.assertEqual(self.run_.result.returncode, 0)
        timeline = subprocess.run(
            EMULATOR + [SIM, "--plugin", MODULE, "--natives",
                        os.path.join(self.tmp.name, "natives.json"), "--scenario",
                        self.run_.scenario, *seed(), "--timeline"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, check=False).stdout
        warnings = [l for l in timeline.splitlines() if "warning: drawTexture" in l]
        self.assertEqual(len(warnings), 3, warnings)
        self.assertIn("texture 999, which createTexture never gave: ignored", warnings[0])
        self.assertIn("instance 64 of texture 0: instances are 0 to 63", warnings[1])
        self.assertIn("instance 64 of texture 2", warnings[2])
        self.assertNotIn("run stopped", out)

    def test_the_summary_shows_the_globals_at_the_end(self):
        self.assertIn("script globals at the end: 77 = 42, 1234 = 7", self.run_.result.stdout)
        self.assertIn("4 textures created", self.run_.result.stdout)


class Refusals(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = folder_with_catalogue()

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_each_refusal_stops_the_run_where_it_happens(self):
        cases = [
            ("native-in-present", 0, "native PLAYER_PED_ID called outside the script fibre"),
            ("version-info", 1, "getGameVersionInfo is not answered: the structure it returns "
                                "has no public layout (use getGameVersion)"),
            ("keep-present", 11, "a present callback is still registered after process detach"),
            ("world-at-attach", -1, "worldGetAllPeds called outside the script fibre"),
        ]
        for mode, frame, reason in cases:
            with self.subTest(mode=mode):
                run = Run(self.tmp.name, mode, SCENARIO, mode)
                self.assertEqual(run.result.returncode, 1, run.result.stderr)
                last = run.lines[-1]
                self.assertEqual((last["host"], last["frame"], last["reason"]),
                                 ("fault", frame, reason))
                self.assertIn(reason, run.result.stderr)

    def test_no_present_callback_runs_unless_the_scenario_asks(self):
        quiet = dict(SCENARIO, presentCallbacks=False)
        run = Run(self.tmp.name, "no-present", quiet)
        self.assertEqual(run.result.returncode, 0, run.result.stderr)
        self.assertEqual(run.host("present"), [])
        self.assertEqual({v for w, v in run.reports() if w == "presentCalls"}, {0})

    def test_the_default_game_version_is_build_3411(self):
        plain = {k: v for k, v in SCENARIO.items() if k != "gameVersion"}
        run = Run(self.tmp.name, "default-version", plain)
        self.assertIn(("version", 93), run.reports(0))

    def test_scenario_mistakes_name_their_field(self):
        cases = [
            ({"globals": {"-4": 1}}, "globals.-4"),
            ({"globals": {"12": "x"}}, "globals.12"),
            ({"entities": {"peds": [0]}}, "entities.peds[0]"),
            ({"entities": {"vehicles": [7], "objects": [7]}}, "entities.objects[0]"),
            ({"entities": {"boats": [7]}}, "entities.boats"),
            ({"gameVersion": -2}, "gameVersion"),
            ({"presentCallbacks": "yes"}, "presentCallbacks"),
        ]
        for fields, path in cases:
            with self.subTest(fields=fields):
                name = os.path.join(self.tmp.name, "bad.json")
                with open(name, "w", encoding="utf-8") as f:
                    json.dump(dict({"frames": 2}, **fields), f)
                result = subprocess.run(EMULATOR + [SIM, "--plugin", MODULE, "--scenario", name],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True, check=False)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(f"'{path}'", result.stderr)


if __name__ == "__main__":
    SIM, MODULE, SCHEMA = sys.argv[1:4]
    EMULATOR = sys.argv[4:]
    del sys.argv[1:]
    unittest.main()
