#!/usr/bin/env python3
"""Writes the pictures of a death that the README and the documentation show,
from rebound-sim's own frames of the built-in default scenario:

  death.webp          animated, looping: the wasted shard, the respawn bar
                      filling as the player taps, the fade to black and the
                      fade back in at the respawn point
  death-shard.png     the shard just shown, the bar nearly empty
  death-bar.png       the bar nearly full
  death-respawn.png   the respawn as the report's map draws it: the place of
                      death, the search around the point 100 m away and
                      where the player was placed, with a legend

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
import html
import os
import re
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
}
ANIMATION = "death.webp"
# The map of the run's respawn, from the report of the same seeded run.
RESPAWN_MAP = "death-respawn.png"
OUTPUTS = [ANIMATION] + list(STILLS) + [RESPAWN_MAP]

# The map's parts the still must show, as the report draws them, and the
# legend beside it: (class in the map, what the legend calls it, its symbol
# drawn about the legend row's origin with the map's own classes).
MAP_PARTS = [
    ("death", "place of death", '<g class="death"><path d="M-6,-6l12,12M6,-6l-12,12"/></g>'),
    ("centre", "search centre: 100 m away, at random",
     '<g class="centre"><path d="M-7,0h14M0,-7v14"/></g>'),
    ("r100", "100 m from the place of death", '<circle class="r100" r="7"/>'),
    ("r300", "300 m: a point farther is not used", '<circle class="r300" r="7"/>'),
    ("results", "the game's spawn points found around it", '<g class="results"><circle r="5"/></g>'),
    ("chosen", "the point the plug-in chose", '<circle class="chosen" r="8"/>'),
    ("placed", "where the player was placed", '<circle class="placed" r="5"/>'),
]

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
    """rebound-sim's SVG pictures of the animation's frames ({frame: text}),
    and the report of the same run (its page's text)."""
    frames = animation_frames()
    for name, (frame, _) in STILLS.items():
        if frame not in frames:
            raise MediaError(f"{name}: frame {frame} is not one of the animation's")
    svg_dir = os.path.join(work, "svg")
    report = os.path.join(work, "report.html")
    run([sim, "--seed", str(SEED), "--quiet", "--frames-svg", svg_dir, "--svg-frames",
         ",".join(map(str, frames)), "--report", report])
    pictures = {}
    for frame in frames:
        path = os.path.join(svg_dir, f"frame-{frame:05d}.svg")
        if not os.path.isfile(path):
            raise MediaError(f"rebound-sim wrote no picture of frame {frame} ({path})")
        with open(path, encoding="utf-8") as f:
            pictures[frame] = f.read()
    with open(report, encoding="utf-8") as f:
        page = f.read()
    return pictures, page


def map_style(page):
    """The report's rules for its maps, with its colour variables put in, so
    that a renderer without CSS variables draws them alike."""
    style = re.search(r"<style>(.*?)</style>", page, re.S)
    if not style:
        raise MediaError("the report has no style sheet")
    css = style.group(1)
    variables = dict(re.findall(r"--([\w-]+):\s*([^;]+);", css))
    rules = [rule.strip() for rule in re.findall(r"[^{}]+\{[^{}]*\}", css)
             if rule.strip().startswith(".map ")]
    if not rules:
        raise MediaError("the report's style sheet has no rules for its maps")

    def value(match):
        name = match.group(1)
        if name not in variables:
            raise MediaError(f"the report's style sheet uses --{name} without giving it")
        return variables[name].strip()
    return re.sub(r"var\(--([\w-]+)\)", value, "\n".join(rules))


def respawn_map(page):
    """The first death's map from the report, beside a legend of what it
    shows, as one SVG picture of the stills' size."""
    found = re.search(r'<figure class="map">(<svg viewBox="0 0 (\d+(?:\.\d+)?) [^"]*"[^>]*>)'
                      r"(.*?)</svg>\s*<figcaption>(.*?)</figcaption>", page, re.S)
    if not found:
        raise MediaError("the report of the default scenario has no map of its respawn")
    _, size, body, caption = found.groups()
    for part, _, _ in MAP_PARTS:
        if f'class="{part}"' not in body:
            raise MediaError(f"the map of the respawn shows no {part}; the default scenario "
                             "has changed: see scripts/make-media.py")
    caption = html.unescape(re.sub(r"<[^>]+>", "", caption))
    side = HEIGHT - 40
    rows = []
    for i, (_, label, symbol) in enumerate(MAP_PARTS):
        y = 150 + 42 * i
        rows.append(f'<g transform="translate({side + 64},{y})">{symbol}</g>'
                    f'<text class="label" x="{side + 88}" y="{y + 6}">{html.escape(label)}</text>')
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{HEIGHT}" '
            f'viewBox="0 0 {WIDTH} {HEIGHT}">\n<style>\n{map_style(page)}\n'
            ".map text.title { font: bold 22px sans-serif; fill: #1d2330; }\n"
            ".map text.label, .map text.caption { font: 15px sans-serif; fill: #1d2330; }\n"
            "</style>\n"
            f'<rect width="{WIDTH}" height="{HEIGHT}" fill="#eef1f5"/>\n'
            f'<svg class="map" x="20" y="20" width="{side}" height="{side}" '
            f'viewBox="0 0 {size} {size}">{body}</svg>\n'
            f'<g class="map"><text class="title" x="{side + 48}" y="70">The respawn, seen from '
            f'above</text>\n<text class="caption" x="{side + 48}" y="104">'
            f"{html.escape(caption)}</text>\n" + "\n".join(rows) + "</g>\n</svg>\n")


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
        pictures, page = picture_run(sim, work)
        for name, (frame, wanted) in STILLS.items():
            check_still(name, frame, pictures[frame], wanted)
        svgs = [pictures[frame] for frame in animation_frames()]
        map_svg = respawn_map(page)
        pngs = render_all(svgs + [map_svg], work, font_setup(work))
        held = held_pictures(svgs)
        made = os.path.join(work, ANIMATION)
        write_animation(held, pngs, made)
        # Every file is made before any is replaced: a failure leaves the
        # previous set whole.
        staged = {ANIMATION: made}
        for name, (frame, _) in STILLS.items():
            staged[name] = os.path.join(work, name)
            shutil.copyfile(pngs[pictures[frame]], staged[name])
        staged[RESPAWN_MAP] = os.path.join(work, RESPAWN_MAP)
        shutil.copyfile(pngs[map_svg], staged[RESPAWN_MAP])
        for name, path in staged.items():
            shutil.copyfile(path, os.path.join(out, name + ".part"))
        for name in staged:
            os.replace(os.path.join(out, name + ".part"), os.path.join(out, name))
    return len(held), len(svgs) * FRAME_MS


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(
        description="Write the animated picture of a death, two stills from rebound-sim's "
        "frames of the default scenario and the map of its respawn.")
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
