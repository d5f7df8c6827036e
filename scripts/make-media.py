#!/usr/bin/env python3
"""Writes the pictures of a death that the README and the documentation show,
from rebound-sim's own frames of the built-in default scenario:

  death.webp          animated, looping: the wasted shard, the respawn bar
                      filling as the player taps, the fade to black and the
                      fade back in at the respawn point
  death-shard.png     the shard just shown, the bar nearly empty
  death-bar.png       the bar nearly full
  death-respawn.png   the screen coming back after the respawn

The animation plays in the game's real time, frames 40 to 580 of the run
(9.05 s), one picture every third frame (20 per second); a picture that
does not change is held rather than repeated. It is lossless, so the HUD's
small text keeps its edges.

The same code gives the same bytes: the run is seeded, the SVG pictures are
drawn by rsvg-convert with a font setup of its own that holds nothing but
DejaVu Sans (fonts-dejavu-core), so the machine's other fonts and font
settings cannot change a pixel, and img2webp is run with fixed options.
The media test compares what this script makes with the committed files.

Usage:
  make-media.py [--out DIR] [--sim PATH]
"""

import argparse
import concurrent.futures
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

SEED = 1
FIRST_FRAME = 40  # a third of a second before the death at frame 60
LAST_FRAME = 580  # a third of a second after the fade-in ends at frame 555
FRAME_STEP = 3
FRAME_MS = 1000 * FRAME_STEP // 60
WIDTH, HEIGHT = 960, 540  # half the game's 1920x1080: the HUD at half size

# Each still: its frame (on the animation's step) and what the frame must
# show, so that a change in the scenario's timing fails here instead of
# committing a picture of the wrong moment.
STILLS = {
    "death-shard.png": (130, {"shard": True, "bar": True, "fade": False}),
    "death-bar.png": (340, {"shard": True, "bar": True, "fade": False}),
    "death-respawn.png": (529, {"shard": False, "bar": False, "fade": True}),
}
ANIMATION = "death.webp"
OUTPUTS = [ANIMATION] + list(STILLS)

# The markup rebound-sim writes for each of the things a still must show.
MARKS = {"shard": 'class="shard"', "bar": ">Respawn</text>", "fade": 'class="fade"'}

FONTS = "/usr/share/fonts/truetype/dejavu"
FONT_FILES = ["DejaVuSans.ttf", "DejaVuSans-Bold.ttf"]


class MediaError(Exception):
    pass


def animation_frames():
    return list(range(FIRST_FRAME, LAST_FRAME + 1, FRAME_STEP))


def held_pictures(svgs):
    """Consecutive identical pictures as one, held for their added time:
    [(svg text, milliseconds)] in order."""
    held = []
    for svg in svgs:
        if held and held[-1][0] == svg:
            held[-1] = (svg, held[-1][1] + FRAME_MS)
        else:
            held.append((svg, FRAME_MS))
    return held


def check_still(name, frame, svg, wanted):
    """Fails naming the still when its frame does not show what it should."""
    for thing, present in wanted.items():
        if (MARKS[thing] in svg) != present:
            shows = "shows" if not present else "does not show"
            raise MediaError(f"{name}: frame {frame} {shows} the {thing}; the default "
                             "scenario's timing has changed: pick its frame again in "
                             "scripts/make-media.py")


def font_setup(work):
    """A fontconfig file that knows only DejaVu Sans, regular and bold, so
    every family the pictures name (the shard's display fonts, sans-serif)
    comes out the same on every machine."""
    fonts = os.path.join(work, "fonts")
    os.mkdir(fonts)
    for name in FONT_FILES:
        path = os.path.join(FONTS, name)
        if not os.path.isfile(path):
            raise MediaError(f"{path} is missing (Debian package fonts-dejavu-core; "
                             "scripts/install-deps.sh installs it)")
        os.symlink(path, os.path.join(fonts, name))
    conf = os.path.join(work, "fonts.conf")
    with open(conf, "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0"?>\n<!DOCTYPE fontconfig SYSTEM "fonts.dtd">\n'
                f"<fontconfig>\n  <dir>{fonts}</dir>\n"
                f"  <cachedir>{os.path.join(work, 'font-cache')}</cachedir>\n</fontconfig>\n")
    return conf


def run(command, env=None):
    try:
        done = subprocess.run(command, capture_output=True, text=True, env=env, check=False)
    except OSError as e:
        raise MediaError(f"cannot run {command[0]}: {e.strerror}") from e
    if done.returncode != 0:
        raise MediaError(f"{' '.join(command[:2])} ... exited with status {done.returncode}:\n"
                         f"{done.stderr.strip()}")
    return done


def picture_run(sim, work):
    """rebound-sim's SVG pictures of the animation's frames: {frame: text}."""
    frames = animation_frames()
    for name, (frame, _) in STILLS.items():
        if frame not in frames:
            raise MediaError(f"{name}: frame {frame} is not one of the animation's")
    svg_dir = os.path.join(work, "svg")
    run([sim, "--seed", str(SEED), "--quiet", "--frames-svg", svg_dir, "--svg-frames",
         ",".join(map(str, frames))])
    pictures = {}
    for frame in frames:
        path = os.path.join(svg_dir, f"frame-{frame:05d}.svg")
        if not os.path.isfile(path):
            raise MediaError(f"rebound-sim wrote no picture of frame {frame} ({path})")
        with open(path, encoding="utf-8") as f:
            pictures[frame] = f.read()
    return pictures


def render_all(svgs, work, fonts_conf):
    """Each distinct picture drawn once as a PNG: {svg text: png path}."""
    env = dict(os.environ, FONTCONFIG_FILE=fonts_conf)
    png_dir = os.path.join(work, "png")
    os.mkdir(png_dir)
    jobs = {}
    for svg in dict.fromkeys(svgs):
        digest = hashlib.sha256(svg.encode()).hexdigest()[:16]
        source = os.path.join(png_dir, digest + ".svg")
        with open(source, "w", encoding="utf-8") as f:
            f.write(svg)
        jobs[svg] = (source, os.path.join(png_dir, digest + ".png"))

    def render(job):
        source, png = job
        run(["rsvg-convert", "--width", str(WIDTH), "--height", str(HEIGHT), "--format", "png",
             "--output", png, source], env=env)

    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        list(pool.map(render, jobs.values()))
    return {svg: png for svg, (_, png) in jobs.items()}


def write_animation(held, pngs, path):
    command = ["img2webp", "-loop", "0", "-lossless", "-q", "75", "-m", "4"]
    for svg, ms in held:
        command += ["-d", str(ms), pngs[svg]]
    run(command + ["-o", path])


def make_media(sim, out):
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="make-media-") as work:
        pictures = picture_run(sim, work)
        for name, (frame, wanted) in STILLS.items():
            check_still(name, frame, pictures[frame], wanted)
        svgs = [pictures[frame] for frame in animation_frames()]
        pngs = render_all(svgs, work, font_setup(work))
        held = held_pictures(svgs)
        made = os.path.join(work, ANIMATION)
        write_animation(held, pngs, made)
        # Every file is made before any is replaced: a failure leaves the
        # previous set whole.
        staged = {ANIMATION: made}
        for name, (frame, _) in STILLS.items():
            staged[name] = os.path.join(work, name)
            shutil.copyfile(pngs[pictures[frame]], staged[name])
        for name, path in staged.items():
            shutil.copyfile(path, os.path.join(out, name + ".part"))
        for name in staged:
            os.replace(os.path.join(out, name + ".part"), os.path.join(out, name))
    return len(held), len(svgs) * FRAME_MS


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(
        description="Write the animated picture of a death and its three stills from "
        "rebound-sim's frames of the default scenario.")
    parser.add_argument("--out", default=os.path.join(root, "docs", "media"),
                        help="the folder to write them to (default: docs/media)")
    parser.add_argument("--sim", default=os.path.join(root, "build", "debug", "rebound-sim"),
                        help="the rebound-sim to run (default: build/debug/rebound-sim)")
    args = parser.parse_args()
    if not os.access(args.sim, os.X_OK):
        print(f"make-media: {args.sim}: no such program (build it: cmake --build --preset debug "
              "--target rebound-sim)", file=sys.stderr)
        return 2
    try:
        pictures, ms = make_media(args.sim, args.out)
    except (MediaError, OSError) as e:
        print(f"make-media: {e}", file=sys.stderr)
        return 1
    for name in OUTPUTS:
        path = os.path.join(args.out, name)
        print(f"{path}: {os.path.getsize(path):,} bytes")
    print(f"{ANIMATION}: {pictures} pictures, {ms / 1000:.2f} s, {WIDTH}x{HEIGHT}, looping")
    return 0


if __name__ == "__main__":
    sys.exit(main())
