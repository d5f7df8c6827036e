#!/usr/bin/env python3
"""The recording build under load: figures, not a test.

On Linux, rebound-soak (release build) runs its long run of deaths with the
recording module, librebound-recorder.so, in its place, each run in a folder of
its own (REBOUND_RECORDING_DIR):
  player     the player's module, for comparison;
  recorder   the recorder as a tester gets it (8 MiB ring, 256 MiB cap): the
             file must stop at its cap with a "capped" line;
  uncapped   the cap raised out of reach, so that it records the whole run;
  small-cap  a 1 MiB cap: the last line is "capped", the file within the cap;
  small-ring a 4 KiB ring: the recorder drops whole frames and says so
             ("dropped" lines) rather than hold the script up.
For each: the frames per second of the run (a recorder that blocked the script
would pull them down to its writer's pace), the peak resident size after the
500th and the last respawn (it must not grow between them), and the file's
size, last line and dropped frames.

Under Wine, rebound-sim.exe runs a shorter run of deaths (the soak's scenario)
with the genuine Rebound.asi and Rebound-recorder.asi, as testers get it and
uncapped, and the Wine process's peak resident size is read with
/usr/bin/time. The simulator's own peak grows with the scenario it reads (one
event a death), so each is also run with a tenth of the deaths: what the
recorder adds over the player's DLL must be the same at both lengths.

Usage: scripts/recorder-load.py [--deaths N] [--wine-deaths N] [--no-wine] [--no-linux] [--keep]
The builds must exist: cmake --build --preset release --target rebound-soak
rebound_plugin_recorder, and the windows-dist preset. Recordings are removed after
they are measured unless --keep is given (the uncapped one is gigabytes).
"""

import argparse
import csv
import json
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RELEASE = os.path.join(ROOT, "build", "release")
WINDOWS = os.path.join(ROOT, "build", "windows-dist")
OUT = os.path.join(RELEASE, "recorder-load")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run.sh")
MIB = 1 << 20
# The soak's cycle (tools/soak/main.cpp): the first death at frame 60, then one
# every 700 frames.
FIRST_DEATH, FRAMES_PER_DEATH = 60, 700


def soak_scenario(deaths):
    return {
        "name": f"{deaths} deaths",
        "frames": FIRST_DEATH + FRAMES_PER_DEATH * deaths,
        "player": {"position": [215.0, -810.0, 30.7]},
        "world": {"spawnSearch": {"frames": 8, "outcome": "complete",
                                  "results": [[290.0, -760.0, 29.5]]}},
        "events": [{"frame": FIRST_DEATH + FRAMES_PER_DEATH * i, "health": 0}
                   for i in range(deaths)],
    }


def recording_figures(folder):
    """Size, line count, last line and dropped frames of the one recording in folder."""
    files = [f for f in os.listdir(folder) if f.startswith("Rebound-recording-")]
    if len(files) != 1:
        return {"error": f"{len(files)} recordings in {folder}"}
    path = os.path.join(folder, files[0])
    dropped_lines = dropped_frames = lines = 0
    # Read in small blocks: the uncapped file is gigabytes, and this script
    # should stay small beside the runs it measures.
    pattern = re.compile(rb'"host":"dropped","frames":(\d+)')
    with open(path, "rb") as f:
        rest = b""
        for block in iter(lambda: f.read(MIB), b""):
            lines += block.count(b"\n")
            # Whole lines only, so that no match spans two blocks.
            text, _, rest = (rest + block).rpartition(b"\n")
            for match in pattern.finditer(text):
                dropped_lines += 1
                dropped_frames += int(match.group(1))
        for match in pattern.finditer(rest):
            dropped_lines += 1
            dropped_frames += int(match.group(1))
        f.seek(max(0, os.path.getsize(path) - 4096))
        last = f.read().rstrip(b"\n").rsplit(b"\n", 1)[-1]
    return {"path": path, "bytes": os.path.getsize(path), "lines": lines,
            "dropped_lines": dropped_lines, "dropped_frames": dropped_frames,
            "last": last.decode("utf-8", "replace")}


def soak(name, module, deaths, env_extra):
    folder = os.path.join(OUT, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    figures = os.path.join(folder, "soak.tsv")
    env = dict(os.environ, REBOUND_RECORDING_DIR=folder, **env_extra)
    started = time.monotonic()
    result = subprocess.run([os.path.join(RELEASE, "rebound-soak"), "--deaths", str(deaths),
                             "--plugin", module, "--figures", figures],
                            env=env, capture_output=True, text=True)
    seconds = time.monotonic() - started
    out = {"name": name, "status": result.returncode, "seconds": seconds}
    frames = re.search(r"frames: (\d+) in ([\d.]+) s \((\d+) frames/s\)", result.stdout)
    if frames:
        out["frames_per_second"] = int(frames.group(3))
    with open(figures, newline="") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    by_respawn = {int(r["respawn"]): int(r["peak_kib"]) for r in rows}
    out["peak_500"] = by_respawn.get(min(500, deaths))
    out["peak_last"] = by_respawn.get(deaths)
    out["live_blocks_last"] = int(rows[-1]["live_blocks"]) if rows else None
    if result.returncode != 0:
        out["error"] = (result.stdout + result.stderr)[-2000:]
    if "recorder" in os.path.basename(module):
        out["recording"] = recording_figures(folder)
    return out


def wine_run(name, dll, deaths, env_extra):
    folder = os.path.join(OUT, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    scenario = os.path.join(folder, "scenario.json")
    with open(scenario, "w") as f:
        json.dump(soak_scenario(deaths), f)
    env = dict(os.environ, REBOUND_RECORDING_DIR=folder, **env_extra)
    started = time.monotonic()
    result = subprocess.run(["/usr/bin/time", "-f", "peak %M KiB", WINE_RUN,
                             os.path.join(WINDOWS, "rebound-sim.exe"), "--quiet",
                             "--plugin", dll, "--scenario", scenario],
                            env=env, capture_output=True, text=True)
    seconds = time.monotonic() - started
    peak = re.findall(r"peak (\d+) KiB", result.stderr)
    out = {"name": name, "status": result.returncode, "seconds": seconds,
           "frames_per_second": int((FIRST_DEATH + FRAMES_PER_DEATH * deaths) / seconds),
           "peak_kib": int(peak[-1]) if peak else None}
    if result.returncode != 0:
        out["error"] = (result.stdout + result.stderr)[-2000:]
    if "recorder" in os.path.basename(dll):
        out["recording"] = recording_figures(folder)
    return out


def show(run, keep):
    line = f"{run['name']:<22} status {run['status']}, {run['seconds']:.0f} s"
    if "frames_per_second" in run:
        line += f", {run['frames_per_second']:,} frames/s"
    if run.get("peak_500") is not None:
        growth = run["peak_last"] - run["peak_500"]
        line += (f", peak {run['peak_500']:,} KiB after the 500th respawn, "
                 f"{run['peak_last']:,} KiB after the last ({growth:+,} KiB)")
    if run.get("peak_kib") is not None:
        line += f", Wine process peak {run['peak_kib']:,} KiB"
    print(line)
    rec = run.get("recording")
    if rec:
        if "error" in rec:
            print(f"{'':<22} recording: {rec['error']}")
        else:
            print(f"{'':<22} recording: {rec['bytes']:,} bytes ({rec['bytes'] / MIB:.1f} MiB), "
                  f"{rec['lines']:,} lines, {rec['dropped_lines']} dropped lines "
                  f"({rec['dropped_frames']:,} frames), last line {rec['last'][:100]}")
            if not keep:
                os.unlink(rec["path"])
    if "error" in run:
        print(f"{'':<22} {run['error']}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--deaths", type=int, default=10000, help="deaths in each Linux run")
    parser.add_argument("--wine-deaths", type=int, default=1000, help="deaths in each Wine run")
    parser.add_argument("--no-wine", action="store_true", help="leave out the runs under Wine")
    parser.add_argument("--no-linux", action="store_true", help="leave out the Linux runs")
    parser.add_argument("--keep", action="store_true", help="keep the recordings")
    args = parser.parse_args()

    player = os.path.join(RELEASE, "librebound.so")
    recorder = os.path.join(RELEASE, "librebound-recorder.so")
    for path in (os.path.join(RELEASE, "rebound-soak"), player, recorder):
        if not os.path.isfile(path):
            sys.exit(f"recorder-load: {path} is missing (cmake --preset release && cmake --build "
                     "--preset release --target rebound-soak rebound_plugin rebound_plugin_recorder)")
    os.makedirs(OUT, exist_ok=True)
    uncapped = {"REBOUND_RECORDER_MAX_BYTES": str(1 << 40)}
    linux = [
        ("player", player, args.deaths, {}),
        ("recorder", recorder, args.deaths, {}),
        ("uncapped", recorder, args.deaths, uncapped),
        ("small-cap", recorder, min(args.deaths, 100), {"REBOUND_RECORDER_MAX_BYTES": str(MIB)}),
        ("small-ring", recorder, args.deaths,
         dict(uncapped, REBOUND_RECORDER_RING_BYTES="4096")),
    ]
    if not args.no_linux:
        print(f"Linux, release rebound-soak, a death every {FRAMES_PER_DEATH} frames:")
        for name, module, deaths, env in linux:
            show(soak(name, module, deaths, env), args.keep)

    if args.no_wine:
        return
    for path in ("rebound-sim.exe", "Rebound.asi", "Rebound-recorder.asi"):
        if not os.path.isfile(os.path.join(WINDOWS, path)):
            sys.exit(f"recorder-load: {WINDOWS}/{path} is missing (cmake --build --preset windows-dist)")
    tenth = max(10, args.wine_deaths // 10)
    wine = [
        ("wine-player-tenth", "Rebound.asi", tenth, {}),
        ("wine-player", "Rebound.asi", args.wine_deaths, {}),
        ("wine-recorder", "Rebound-recorder.asi", args.wine_deaths, {}),
        ("wine-uncapped-tenth", "Rebound-recorder.asi", tenth, uncapped),
        ("wine-uncapped", "Rebound-recorder.asi", args.wine_deaths, uncapped),
    ]
    print(f"\nWine, rebound-sim.exe --quiet, {args.wine_deaths} deaths and a tenth of them:")
    peaks = {}
    for name, dll, deaths, env in wine:
        run = wine_run(name, os.path.join(WINDOWS, dll), deaths, env)
        peaks[name] = run.get("peak_kib")
        show(run, args.keep)
    # The simulator's own memory grows with the scenario (each death is an
    # event it reads and keeps): what the recorder adds is its peak less the
    # player's over the same deaths, which must not grow with them.
    for suffix, deaths in (("-tenth", tenth), ("", args.wine_deaths)):
        player_peak, recorder_peak = peaks[f"wine-player{suffix}"], peaks[f"wine-uncapped{suffix}"]
        if player_peak and recorder_peak:
            print(f"the recorder (uncapped) over the player's DLL, {deaths} deaths: "
                  f"{recorder_peak - player_peak:+,} KiB")


if __name__ == "__main__":
    main()
