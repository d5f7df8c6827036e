#!/usr/bin/env python3
"""What a modder sees on the terminal and in the pictures of rebound-sim: the
first line names the scenario, the default output fits a terminal, --summary
and --timeline, natives known by hash only, the progress line on a terminal
(and none on a pipe), the panel demo, and a picture choice that names no
frame.

  terminal_test.py REBOUND_SIM SCENARIOS_DIR
"""

import json
import os
import pty
import re
import subprocess
import sys
import tempfile
import unittest

SIM = SCENARIOS = None


def sim(*args):
    seed = [] if "--no-plugin" in args else ["--seed", "7"]
    return subprocess.run([SIM] + seed + list(args), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, check=False)


def scenario(name):
    return os.path.join(SCENARIOS, name)


def deaths_scenario(path, count):
    """A death every 600 frames, each respawned before the next."""
    events = ",".join('{"frame": %d, "health": 0}' % (60 + 600 * i) for i in range(count))
    with open(path, "w", encoding="utf-8") as f:
        f.write('{"name": "many deaths", "frames": %d, "events": [%s]}' % (600 * count, events))
    return path


class Terminal(unittest.TestCase):

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def test_default_output_tells_one_death_on_one_screen(self):
        out = sim("--scenario", scenario("plain-death.json"))
        self.assertEqual(out.returncode, 0, out.stderr)
        lines = out.stdout.splitlines()
        self.assertRegex(lines[0], r'^Scenario "plain death" \(.*scenarios/plain-death\.json\): '
                         r"900 frames \(15\.0 s\) at 60 fps from game time 100000$")
        self.assertLessEqual(len(lines), 45, out.stdout)
        timeline = [line for line in lines if line.startswith("[")]
        self.assertTrue(timeline and all(" flow " in line for line in timeline), out.stdout)
        self.assertIn("-> Respawning: bar full", out.stdout)
        self.assertRegex(out.stdout, r"(?m)^Death 1 at frame 60: .* respawned at \d+")
        self.assertRegex(out.stdout, r'(?m)^Summary: 900 frames of "plain death", ')
        self.assertNotIn("more timeline lines", out.stdout)

    def test_built_in_scenario_is_named_in_single_brackets(self):
        out = sim("--frames", "10")
        first = out.stdout.splitlines()[0]
        self.assertTrue(first.startswith('Scenario "death, a few taps and a respawn" '
                                         "(built-in default scenario): 10 frames"), first)
        self.assertNotIn("((", out.stdout)

    def test_summary_prints_only_the_deaths_and_the_summary(self):
        out = sim("--scenario", scenario("two-deaths.json"), "--summary")
        self.assertEqual(out.returncode, 0, out.stderr)
        lines = [line for line in out.stdout.splitlines() if line]
        self.assertTrue(lines[0].startswith("Death 1 at frame "), out.stdout)
        self.assertTrue(lines[1].startswith("Death 2 at frame "), out.stdout)
        self.assertFalse([line for line in lines if line.startswith(("[", "Scenario "))],
                         out.stdout)
        self.assertIn("Summary: ", out.stdout)

    def test_timeline_prints_every_event_and_names_hash_only_natives(self):
        out = sim("--timeline", "--frames", "5")
        self.assertIn("settings  game function 0xAA391C728106F7AF (no public name) false",
                      out.stdout)
        self.assertIn("script registered", out.stdout)
        # By default the same line is left out, being no part of the flow.
        self.assertNotIn("settings", sim("--frames", "5").stdout)
        listing = subprocess.run([SIM, "natives"], stdout=subprocess.PIPE, text=True, check=True)
        self.assertRegex(listing.stdout, r"(?m)^0xAA391C728106F7AF  \(no public name\) +\(bool\)")
        self.assertNotRegex(listing.stdout, r"(?m)^0x\w+  0x")

    def test_natives_json_gives_no_name_to_a_native_known_by_hash_only(self):
        listing = subprocess.run([SIM, "natives", "--json"], stdout=subprocess.PIPE, text=True,
                                 check=True)
        natives = {n["hash"]: n for n in json.loads(listing.stdout)}
        self.assertIsNone(natives["0xAA391C728106F7AF"]["name"])
        self.assertEqual(natives["0xD80958FC74E988A6"]["name"], "PLAYER_PED_ID")
        self.assertEqual([n for n in natives.values() if n["name"] == n["hash"]], [])
        table = subprocess.run([SIM, "natives"], stdout=subprocess.PIPE, text=True, check=True)
        self.assertEqual(sum(1 for n in natives.values() if n["name"] is None),
                         table.stdout.count("(no public name)"))

    def test_counts_of_one_are_singular(self):
        # One death, one frame picture, one later death left out of the list.
        one = deaths_scenario(self.path("one.json"), 1)
        folder = self.path("one-frame")
        out = sim("--scenario", one, "--frames-svg", folder, "--svg-frames", "100")
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("1 frame picture written to %s\n" % folder, out.stdout)
        self.assertNotRegex(out.stdout, r"\b1 (frames|taps|deaths|pictures)\b")
        eleven = sim("--scenario", deaths_scenario(self.path("eleven.json"), 11))
        self.assertIn("... and 1 later death, not listed", eleven.stdout)
        single = sim("--frames", "1")
        self.assertRegex(single.stdout, r'(?m)^Summary: 1 frame of "')
        self.assertRegex(single.stdout.splitlines()[0], r": 1 frame \(")

    def test_long_runs_hold_back_the_timeline_and_later_deaths(self):
        many = deaths_scenario(self.path("many.json"), 12)
        out = sim("--scenario", many)
        self.assertEqual(out.returncode, 0, out.stderr)
        timeline = [line for line in out.stdout.splitlines() if line.startswith("[")]
        self.assertEqual(len(timeline), 40, out.stdout)
        self.assertRegex(out.stdout, r"(?m)^\.\.\. \d+ more timeline lines not shown "
                         r"\(--timeline prints every event\)$")
        self.assertEqual(len(re.findall(r"(?m)^Death \d+ at", out.stdout)), 10)
        self.assertIn("... and 2 later deaths, not listed (--summary lists the first 1,000)",
                      out.stdout)
        summary = sim("--scenario", many, "--summary")
        self.assertEqual(len(re.findall(r"(?m)^Death \d+ at", summary.stdout)), 12)
        self.assertNotIn("later deaths", summary.stdout)

    def test_progress_line_only_on_a_terminal(self):
        # The line is asked for at once, so that its showing does not hang on
        # how fast this machine runs the frames.
        args = [SIM, "--frames", "200000", "--summary"]
        env = dict(os.environ, REBOUND_SIM_PROGRESS_AFTER="0")
        main, side = pty.openpty()
        proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=side, env=env)
        os.close(side)
        seen = b""
        while True:
            try:
                chunk = os.read(main, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
        proc.communicate()
        os.close(main)
        self.assertEqual(proc.returncode, 0)
        text = seen.decode()
        drawn = re.findall(r"\rframe ([\d,]+) of 200,000 \(\d+ %\), [\d,]+ frames/s, about "
                           r"\d[\w ]* left", text)
        self.assertTrue(drawn, repr(text[:300]))
        # Cleared at the end: back to the start, blanks, back again, nothing after.
        self.assertRegex(text, r"\r {20,}\r$")
        self.assertNotIn("\n", text, "the progress line never ends a line")

        piped = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True,
                               env=env)
        self.assertEqual(piped.stderr, b"")
        self.assertNotIn(b"frames/s", piped.stdout)

    def test_panel_demo_writes_a_picture_per_shown_frame(self):
        folder = self.path("panel")
        out = subprocess.run([SIM, "panel-demo", "--out", folder], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, check=False)
        self.assertEqual(out.returncode, 0, out.stderr)
        names = sorted(os.listdir(folder))
        self.assertEqual(names, ["frame-00010.svg", "frame-00040.svg", "frame-00070.svg",
                                 "frame-00100.svg"])
        with open(os.path.join(folder, names[0]), encoding="utf-8") as f:
            svg = f.read()
        for label in ("RESPAWN", "CHECKPOINTS", "POSITION", "GO!"):
            self.assertIn(">%s</text>" % label, svg)
        self.assertNotIn("frame 10", svg, "debug labels only with --svg-debug")
        self.assertIn("4 pictures written to " + folder, out.stdout)

        helped = subprocess.run([SIM, "panel-demo", "--help"], stdout=subprocess.PIPE,
                                text=True, check=False)
        self.assertEqual(helped.returncode, 0)
        self.assertIn("--out DIR", helped.stdout)
        for bad in (["--frames", "3"], ["--out"], ["--out", "-"]):
            refused = subprocess.run([SIM, "panel-demo"] + bad, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True, check=False)
            self.assertEqual(refused.returncode, 2, bad)
            self.assertIn("rebound-sim: ", refused.stderr)

    def test_pictures_that_name_no_frame_say_so(self):
        folder = self.path("frames")
        out = sim("--no-plugin", "--frames", "30", "--frames-svg", folder, "--svg-frames",
                  "drawn", "--quiet")
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(out.stderr, "rebound-sim: no frame pictures written to %s: nothing was "
                         "drawn in the 30 frames of the run (--svg-frames drawn)\n" % folder)
        out = sim("--frames", "30", "--frames-svg", folder, "--svg-frames", "5,40,50", "--quiet")
        self.assertIn("2 of the frames listed are past the run's last frame (29)", out.stderr)
        self.assertEqual(os.listdir(folder), ["frame-00005.svg"])

    def test_pictures_show_the_fade_and_debug_labels_on_request(self):
        folder = self.path("fade")
        # Frame 455 of the built-in scenario is faded out; 300 shows the shard.
        out = sim("--frames-svg", folder, "--svg-frames", "300,455", "--quiet")
        self.assertEqual(out.returncode, 0, out.stderr)
        with open(os.path.join(folder, "frame-00455.svg"), encoding="utf-8") as f:
            self.assertIn('<rect class="fade" width="1920.00" height="1080.00" fill="black" '
                          'fill-opacity="1.000"/>', f.read())
        with open(os.path.join(folder, "frame-00300.svg"), encoding="utf-8") as f:
            shard = f.read()
        self.assertNotIn('class="fade"', shard)
        self.assertIn(">WASTED</text>", shard)
        self.assertNotIn("movie MP_BIG_MESSAGE_FREEMODE", shard)
        sim("--frames-svg", folder, "--svg-frames", "300", "--svg-debug", "--quiet")
        with open(os.path.join(folder, "frame-00300.svg"), encoding="utf-8") as f:
            debug = f.read()
        self.assertIn("movie MP_BIG_MESSAGE_FREEMODE", debug)
        self.assertIn(">frame 300</text>", debug)

    def test_contradicting_options_are_refused(self):
        for bad in (["--summary", "--timeline"], ["--quiet", "--summary"], ["--svg-debug"]):
            out = sim(*bad)
            self.assertEqual(out.returncode, 2, bad)
            self.assertEqual(out.stdout, "", bad)


if __name__ == "__main__":
    SIM, SCENARIOS = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1])
