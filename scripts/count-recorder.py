#!/usr/bin/env python3
"""Counts what the recording build adds on the script fibre, with callgrind.

The release rebound-sim runs the player's module and the recording module on
the same scenario with the same seed, under `valgrind --tool=callgrind
--separate-threads=yes`, counting only the main thread, the one that runs
the script fibre, and only up to the unload: neither the recorder's writer
thread nor the unload, where the recorder writes what the writer has not yet
written, is counted. Runs of N and 2N frames are subtracted so that the load
and the writer's start in the first frame cancel out.

  * idle: instructions per frame and per native call of the plug-in that the
    recorder adds; of these, those executed in the module itself (the rest
    is the simulator answering the recorder's own two calls a frame);
  * the death cycle of plain-death.json (the run cut at the death and after
    the respawn, subtracted): the same per native call;
  * the plug-in's heap allocations per frame with each module (the
    simulator's per-phase table), which must be the same.

  scripts/count-recorder.py [--sim build/release/rebound-sim] [--frames 2000]

It takes about ten seconds; nothing runs it in `make test`.
"""

import argparse
import glob
import json
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import importlib  # noqa: E402

count = importlib.import_module("count")


def run(sim, plugin, scenario, frames, workdir, counted):
    env = dict(os.environ, REBOUND_RECORDING_DIR=workdir)
    cmd = [sim, "--seed", "1", "--scenario", scenario, "--plugin", plugin]
    if frames:
        cmd += ["--frames", str(frames)]
    if not counted:
        done = subprocess.run(cmd, capture_output=True, text=True, env=env)
        if done.returncode != 0:
            count.fail(f"{' '.join(cmd)}: {done.stderr}")
        return done.stdout
    out = os.path.join(workdir, f"cg.{os.path.basename(plugin)}.{frames}")
    vg = ["valgrind", "--tool=callgrind", "--quiet", "--separate-threads=yes",
          f"--callgrind-out-file={out}", "--compress-strings=no", "--compress-pos=no",
          "--dump-before=sim::Simulation::UnloadPlugin*"]
    done = subprocess.run(vg + cmd + ["--quiet"], capture_output=True, text=True, env=env)
    if done.returncode != 0:
        count.fail(f"{' '.join(cmd)} under callgrind: {done.stderr}")
    main = sorted(glob.glob(out + ".1-01"))  # the main thread, before the unload
    if not main:
        count.fail(f"no main-thread profile {out}.1-01")
    return count.parse_callgrind(main[0], os.path.basename(plugin))


def calls_of(output):
    m = re.search(r"Summary: \d+ frames[^\n]*?, (\d+) native calls", output)
    if not m:
        count.fail("no summary line")
    return int(m.group(1))


def allocations(output):
    return re.findall(r"^\s+(\w+)\s+\d+ frames, calls [^,]+, plug-in allocations\s+([0-9.]+ \(\d+\))",
                      output, re.M)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sim", default="build/release/rebound-sim")
    parser.add_argument("--player", default=None, help="default: librebound.so beside the sim")
    parser.add_argument("--recorder", default=None,
                        help="default: librebound-recorder.so beside the sim")
    parser.add_argument("--frames", type=int, default=2000, help="N of the idle runs of N and 2N")
    parser.add_argument("--death-scenario", default="scenarios/plain-death.json")
    args = parser.parse_args()
    folder = os.path.dirname(os.path.abspath(args.sim))
    player = args.player or os.path.join(folder, "librebound.so")
    recorder = args.recorder or os.path.join(folder, "librebound-recorder.so")

    with tempfile.TemporaryDirectory() as work:
        idle = os.path.join(work, "idle.json")
        with open(idle, "w", encoding="utf-8") as f:
            json.dump({"name": "idle", "frames": 2 * args.frames}, f)
        n = args.frames
        per_frame = {}
        for name, module in (("player", player), ("recorder", recorder)):
            a = run(args.sim, module, idle, n, work, True)
            b = run(args.sim, module, idle, 2 * n, work, True)
            per_frame[name] = ((b[0] - a[0]) / n, (b[1] - a[1]) / n)
        calls = (calls_of(run(args.sim, player, idle, 2 * n, work, False)) -
                 calls_of(run(args.sim, player, idle, n, work, False))) / n
        added = per_frame["recorder"][0] - per_frame["player"][0]
        in_module = per_frame["recorder"][1] - per_frame["player"][1]
        print(f"Idle frame: {calls:.1f} native calls of the plug-in; main thread "
              f"{per_frame['player'][0]:.0f} instructions with the player, "
              f"{per_frame['recorder'][0]:.0f} with the recorder")
        print(f"  added: {added:.0f} per frame, {added / calls:.0f} per plug-in call "
              f"({in_module:.0f} per frame, {in_module / calls:.0f} per call in the module itself)")

        output = {name: run(args.sim, module, args.death_scenario, 0, work, False)
                  for name, module in (("player", player), ("recorder", recorder))}
        death = re.search(r"Death 1 at frame (\d+): .*respawned at (\d+)", output["player"])
        if not death:
            count.fail("the death scenario reported no respawn")
        # The death cycle alone: the run cut at the death and after the respawn.
        cuts = (int(death.group(1)), int(death.group(2)) + 1)
        counted = {name: [run(args.sim, module, args.death_scenario, k, work, True) for k in cuts]
                   for name, module in (("player", player), ("recorder", recorder))}
        calls = [calls_of(run(args.sim, player, args.death_scenario, k, work, False)) for k in cuts]
        cycle_calls = calls[1] - calls[0]
        added = ((counted["recorder"][1][0] - counted["recorder"][0][0]) -
                 (counted["player"][1][0] - counted["player"][0][0]))
        in_module = ((counted["recorder"][1][1] - counted["recorder"][0][1]) -
                     (counted["player"][1][1] - counted["player"][0][1]))
        print(f"Death cycle of {args.death_scenario} (frames {cuts[0]} to {cuts[1]}): "
              f"{cycle_calls} native calls of the plug-in")
        print(f"  added: {added} instructions, {added / cycle_calls:.0f} per plug-in call "
              f"({in_module / cycle_calls:.0f} per call in the module itself)")
        print("Plug-in heap allocations per frame by phase, average (most in a frame): "
              "player | recorder")
        for (phase, p), (_, r) in zip(allocations(output["player"]),
                                      allocations(output["recorder"])):
            print(f"  {phase:12} {p:>12} | {r}")


if __name__ == "__main__":
    main()
