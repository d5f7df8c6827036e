#!/usr/bin/env python3
"""The pictures of a death in docs/media/ are what scripts/make-media.py draws
from the current code: made again into a temporary folder, each file must
have the committed bytes (the script's output is byte-stable: a seeded run,
one font, fixed encoder options). The animation must stay under 2 MB, loop,
and play the planned frames at their real time. The script's own choices
(held pictures, the checks of what a still shows) are tried on made-up
pictures.

  media_test.py REBOUND_SIM SOURCE_DIR
"""

import html
import importlib.util
import os
import re
import subprocess
import sys
import tempfile
import unittest

SIM = SOURCE = None
media = None
MAX_BYTES = 2 * 1024 * 1024
REMEDY = "run `make media` and commit docs/media/"


def load_script(source):
    # The source tree stays as checked out: no bytecode beside the script.
    sys.dont_write_bytecode = True
    path = os.path.join(source, "scripts", "make-media.py")
    module_source = importlib.util.spec_from_file_location("make_media", path)
    module = importlib.util.module_from_spec(module_source)
    module_source.loader.exec_module(module)
    return module


def webp_frames(path):
    """(canvas, loop count, [(width, height, x, y, duration)]) as webpmux
    reads the file."""
    info = subprocess.run(["webpmux", "-info", path], capture_output=True, text=True,
                          check=True).stdout
    canvas = tuple(map(int, re.search(r"Canvas size: (\d+) x (\d+)", info).groups()))
    loop = int(re.search(r"Loop Count : (\d+)", info).group(1))
    frames = []
    for line in info.splitlines():
        row = re.match(r"\s*\d+:\s+(\d+)\s+(\d+)\s+\w+\s+(\d+)\s+(\d+)\s+(\d+)\s", line)
        if row:
            frames.append(tuple(map(int, row.groups())))
    count = int(re.search(r"Number of frames: (\d+)", info).group(1))
    if count != len(frames):
        raise AssertionError(f"{path}: webpmux lists {len(frames)} of {count} frames")
    return canvas, loop, frames


def differing_frames(committed, made):
    """Where two animations part: their frame counts and times and the
    first frame whose place, size or time differs."""
    frames = [webp_frames(path)[2] for path in (committed, made)]
    counts = [f"{len(f)} frames, {sum(row[4] for row in f)} ms" for f in frames]
    first = next((i for i, (a, b) in enumerate(zip(*frames)) if a != b),
                 min(map(len, frames)))
    return (f" (committed: {counts[0]}; drawn now: {counts[1]}; the frames part at frame "
            f"{first + 1}, or in their pixels if they agree throughout)")


class ScriptChoices(unittest.TestCase):

    def test_a_picture_that_does_not_change_is_held_for_the_added_time(self):
        ms = media.FRAME_MS
        cases = [
            ([], []),
            (["a"], [("a", ms)]),
            (["a", "a", "a", "b"], [("a", 3 * ms), ("b", ms)]),
            # Only neighbours merge: a picture seen again later is a new frame.
            (["a", "b", "a", "a"], [("a", ms), ("b", ms), ("a", 2 * ms)]),
        ]
        for svgs, held in cases:
            with self.subTest(svgs=svgs):
                self.assertEqual(media.held_pictures(svgs), held)

    def test_a_still_must_show_what_its_name_promises(self):
        shard, bar, fade = (media.MARKS[k] for k in ("shard", "bar", "fade"))
        wanted = {"shard": True, "bar": True, "fade": False}
        media.check_still("s.png", 7, f"<svg>{shard}{bar}</svg>", wanted)
        cases = [
            (f"<svg>{bar}</svg>", "frame 7 does not show the shard"),
            (f"<svg>{shard}</svg>", "frame 7 does not show the bar"),
            (f"<svg>{shard}{bar}{fade}</svg>", "frame 7 shows the fade"),
        ]
        for svg, message in cases:
            with self.subTest(message):
                with self.assertRaises(media.MediaError) as caught:
                    media.check_still("s.png", 7, svg, wanted)
                self.assertIn("s.png: " + message, str(caught.exception))
                self.assertIn("scripts/make-media.py", str(caught.exception))


def made_up_report(parts):
    """A report page with a style sheet and one map holding `parts`."""
    body = "".join(f'<g class="{part}"></g>' for part in parts)
    return ("<style>:root { --blue: #2f6fd0; }\n.map .r100 { stroke: var(--blue); }\n"
            ".legend { color: red; }</style>"
            '<figure class="map"><svg viewBox="0 0 400 400" role="img">' + body +
            "</svg>\n<figcaption><b>Death 1</b>, frame 60: placed 98.7 m away "
            "(search).</figcaption></figure>")


class RespawnMap(unittest.TestCase):

    def test_the_still_is_the_first_map_with_its_style_and_a_legend(self):
        parts = [part for part, _, _ in media.MAP_PARTS]
        svg = media.respawn_map(made_up_report(parts))
        self.assertIn(".map .r100 { stroke: #2f6fd0; }", svg, "the variable is put in")
        self.assertNotIn(".legend", svg, "only the map's rules")
        self.assertIn(f'width="{media.WIDTH}" height="{media.HEIGHT}"', svg)
        self.assertIn('viewBox="0 0 400 400"', svg)
        self.assertIn("Death 1, frame 60: placed 98.7 m away (search).", svg)
        for _, label, _ in media.MAP_PARTS:
            self.assertIn(html.escape(label), svg)

    def test_a_map_that_misses_a_part_or_a_page_without_one_is_refused(self):
        parts = [part for part, _, _ in media.MAP_PARTS]
        for page, message in (
                (made_up_report(parts[:-1]), "shows no placed"),
                ("<style>.map .x { }</style><p>No death, no map.</p>", "has no map"),
                (made_up_report(parts).replace("--blue: #2f6fd0;", ""), "without giving it")):
            with self.subTest(message):
                with self.assertRaises(media.MediaError) as caught:
                    media.respawn_map(page)
                self.assertIn(message, str(caught.exception))


class CommittedMedia(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.made = cls.tmp.name
        script = os.path.join(SOURCE, "scripts", "make-media.py")
        cls.run_result = subprocess.run([sys.executable, script, "--sim", SIM, "--out", cls.made],
                                        capture_output=True, text=True, check=False)
        cls.committed = os.path.join(SOURCE, "docs", "media")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def setUp(self):
        self.assertEqual(self.run_result.returncode, 0, self.run_result.stderr)

    def test_the_committed_pictures_are_what_the_code_draws(self):
        for name in media.OUTPUTS:
            with self.subTest(name):
                committed = os.path.join(self.committed, name)
                self.assertTrue(os.path.isfile(committed), f"{committed} is missing: {REMEDY}")
                made = os.path.join(self.made, name)
                with open(committed, "rb") as f, open(made, "rb") as g:
                    if f.read() == g.read():
                        continue
                how = differing_frames(committed, made) if name.endswith(".webp") else ""
                self.fail(f"docs/media/{name} is not what scripts/make-media.py draws from the "
                          f"current code{how}: {REMEDY}")

    def test_the_animation_is_small_loops_and_plays_in_real_time(self):
        path = os.path.join(self.committed, media.ANIMATION)
        self.assertLess(os.path.getsize(path), MAX_BYTES)
        canvas, loop, frames = webp_frames(path)
        self.assertEqual(canvas, (media.WIDTH, media.HEIGHT))
        self.assertEqual(loop, 0, "the animation loops for ever")
        planned = len(media.animation_frames())
        # The game's 60 frames a second, exactly: a step whose picture time
        # is not a whole number of milliseconds would drift.
        total = sum(f[4] for f in frames)
        self.assertEqual(total * 60, planned * media.FRAME_STEP * 1000,
                         f"{total} ms for {planned} pictures, one every {media.FRAME_STEP} "
                         f"game frames: not the game's time; {REMEDY}")
        self.assertTrue(3000 <= total <= 12000, f"{total} ms is not a few seconds")
        # Held pictures make fewer frames, but the shard, the bar's growth and
        # both fades still need many.
        self.assertGreater(len(frames), planned // 2)
        self.assertLessEqual(len(frames), planned)
        for width, height, x, y, _ in frames:
            self.assertLessEqual(x + width, media.WIDTH)
            self.assertLessEqual(y + height, media.HEIGHT)


if __name__ == "__main__":
    SIM, SOURCE = sys.argv[1], sys.argv[2]
    del sys.argv[1:3]
    media = load_script(SOURCE)
    unittest.main()
