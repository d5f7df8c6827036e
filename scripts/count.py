#!/usr/bin/env python3
"""Counts the instructions the simulator and the plug-in spend, with callgrind.

Times vary from run to run on a shared machine; instruction counts do not. The
release rebound-sim runs under `valgrind --tool=callgrind` with no trace kept,
cut after different numbers of frames, and the counts are subtracted so that
start-up and shut-down cancel out:

  * an idle scenario of N and 2N frames gives the cost of one idle frame;
  * the plain-death scenario cut at each phase boundary of its death cycle (as
    the simulator's flow summary reports them) gives the cost of each phase,
    per frame and per native call, and of the whole cycle.

The plug-in's share is the instructions executed in its own module
(librebound.so), the rest is the simulator, the C++ runtime and the C library.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

# What the simulator and the plug-in together may spend, trace off.
GOAL_IDLE_FRAME = 400
GOAL_PER_CALL = 400

PHASES = ["DeathPause", "ShardDelay", "BarFilling", "Respawning"]


def fail(message):
    print(f"count: {message}", file=sys.stderr)
    sys.exit(1)


def run_native(sim, plugin, scenario, frames):
    """Runs the simulator without valgrind and returns its printed output."""
    cmd = [sim, "--scenario", scenario, "--frames", str(frames)]
    if plugin:
        cmd += ["--plugin", plugin]
    done = subprocess.run(cmd, capture_output=True, text=True)
    if done.returncode != 0:
        fail(f"{' '.join(cmd)} exited with {done.returncode}:\n{done.stderr}")
    return done.stdout


def native_calls(output):
    m = re.search(r"Summary: (\d+) frames(?: of \"[^\n]*\")?, [0-9.]+ s of game time, (\d+) native calls", output)
    if not m:
        fail("no summary line in the simulator's output")
    return int(m.group(2))


def parse_callgrind(path, module):
    """Returns (all instructions, instructions executed in `module`)."""
    total = None
    in_module = 0
    current_object = ""
    skip_next_cost = False
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("summary:"):
                total = int(line.split()[1])
                continue
            if line.startswith("ob="):
                current_object = line[3:].strip()
                continue
            if line.startswith("calls="):
                # The next cost line is the inclusive cost of that call, which
                # belongs to the callee's own lines.
                skip_next_cost = True
                continue
            if not line or not (line[0].isdigit() or line[0] in "+-*"):
                continue
            if skip_next_cost:
                skip_next_cost = False
                continue
            fields = line.split()
            if len(fields) >= 2 and os.path.basename(current_object) == module:
                in_module += int(fields[-1])
    if total is None:
        fail(f"no summary in {path}")
    return total, in_module


def run_counted(sim, plugin, scenario, frames, workdir):
    out = os.path.join(workdir, f"callgrind.{os.path.basename(scenario)}.{frames}")
    cmd = [
        "valgrind", "--tool=callgrind", "--quiet", f"--callgrind-out-file={out}",
        "--compress-strings=no", "--compress-pos=no", "--dump-instr=no",
        sim, "--quiet", "--scenario", scenario, "--frames", str(frames),
    ]
    if plugin:
        cmd += ["--plugin", plugin]
    done = subprocess.run(cmd, capture_output=True, text=True)
    if done.returncode != 0:
        fail(f"{' '.join(cmd)} exited with {done.returncode}:\n{done.stderr}")
    return parse_callgrind(out, os.path.basename(plugin) if plugin else "librebound.so")


def phase_boundaries(output):
    """Frames at which DeathPause, ShardDelay, BarFilling, Respawning and the
    Watching after the respawn begin, from the flow summary of a one-death run."""
    death = re.search(r"Death 1 at frame (\d+): shard at (-?\d+), fade-out at (\d+), "
                      r"respawned at (\d+)", output)
    if not death:
        fail("the death scenario did not report a respawned death")
    frames_in = {}
    for name, n in re.findall(r"^\s+(\w+)\s+(\d+) frames,", output, re.M):
        frames_in[name] = int(n)
    bounds = [int(death.group(1))]
    for phase in PHASES:
        bounds.append(bounds[-1] + frames_in.get(phase, 0))
    fade_out, respawn = int(death.group(3)), int(death.group(4))
    if bounds[3] != fade_out or bounds[4] != respawn:
        fail(f"phase frames {frames_in} do not add up to the fade-out at {fade_out} and the "
             f"respawn at {respawn}")
    return bounds


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sim", default="build/release/rebound-sim",
                        help="the rebound-sim to count (default: %(default)s)")
    parser.add_argument("--plugin", default=None,
                        help="the plug-in module (default: the one beside rebound-sim)")
    parser.add_argument("--death-scenario", default="scenarios/plain-death.json",
                        help="a scenario with one death and respawn (default: %(default)s)")
    parser.add_argument("--idle-frames", type=int, default=300,
                        help="N of the idle runs of N and 2N frames (default: %(default)s)")
    parser.add_argument("--json", metavar="FILE", help="also write the figures as JSON")
    parser.add_argument("--check", action="store_true",
                        help="exit with status 3 when a figure is over its goal")
    args = parser.parse_args()

    if shutil.which("valgrind") is None:
        fail("valgrind is not installed (scripts/install-deps.sh installs it)")
    if not os.access(args.sim, os.X_OK):
        fail(f"{args.sim} is not an executable; build the release preset first")
    plugin = args.plugin or os.path.join(os.path.dirname(args.sim), "librebound.so")
    if not os.path.exists(plugin):
        fail(f"no plug-in module at {plugin}")
    module = os.path.basename(plugin)

    figures = {}
    with tempfile.TemporaryDirectory(prefix="rebound-count.") as work:
        # Idle frames: an alive player, no events.
        idle = os.path.join(work, "idle.json")
        with open(idle, "w", encoding="utf-8") as f:
            json.dump({"name": "idle", "frames": 2 * args.idle_frames}, f)
        n = args.idle_frames
        calls = [native_calls(run_native(args.sim, plugin, idle, k)) for k in (n, 2 * n)]
        counted = [run_counted(args.sim, plugin, idle, k, work) for k in (n, 2 * n)]
        idle_fig = {
            "frames": n,
            "instructions_per_frame": (counted[1][0] - counted[0][0]) / n,
            "plugin_per_frame": (counted[1][1] - counted[0][1]) / n,
            "calls_per_frame": (calls[1] - calls[0]) / n,
        }
        figures["idle"] = idle_fig

        # The death cycle, cut at each phase boundary.
        full = run_native(args.sim, plugin, args.death_scenario, 100000)
        bounds = phase_boundaries(full)
        calls = [native_calls(run_native(args.sim, plugin, args.death_scenario, b))
                 for b in bounds]
        counted = [run_counted(args.sim, plugin, args.death_scenario, b, work) for b in bounds]
        phases = []
        for i, name in enumerate(PHASES):
            frames = bounds[i + 1] - bounds[i]
            instr = counted[i + 1][0] - counted[i][0]
            own = counted[i + 1][1] - counted[i][1]
            c = calls[i + 1] - calls[i]
            phases.append({"phase": name, "frames": frames, "calls": c, "instructions": instr,
                           "plugin": own})
        cycle = {
            "frames": bounds[-1] - bounds[0],
            "calls": calls[-1] - calls[0],
            "instructions": counted[-1][0] - counted[0][0],
            "plugin": counted[-1][1] - counted[0][1],
        }
        figures["phases"] = phases
        figures["cycle"] = cycle

    def per(a, b):
        return a / b if b else 0.0

    print(f"Instructions counted by callgrind: {args.sim}, trace off, plug-in {module}")
    print()
    i = figures["idle"]
    mark = "ok" if i["instructions_per_frame"] <= GOAL_IDLE_FRAME else "OVER"
    print(f"Idle frame ({n} vs {2 * n} frames, {i['calls_per_frame']:.1f} native calls a frame):")
    print(f"  {i['instructions_per_frame']:10.0f} instructions per frame   goal <= "
          f"{GOAL_IDLE_FRAME}  {mark}")
    print(f"  {i['plugin_per_frame']:10.0f} of them in the plug-in "
          f"({per(i['plugin_per_frame'], i['instructions_per_frame']) * 100:.0f} %)")
    print()
    print(f"Death cycle of {args.death_scenario} by phase of the flow:")
    print(f"  {'phase':<11} {'frames':>7} {'calls':>7} {'instr/frame':>12} {'instr/call':>11} "
          f"{'plug-in/frame':>14}")
    for p in figures["phases"]:
        print(f"  {p['phase']:<11} {p['frames']:7d} {p['calls']:7d} "
              f"{per(p['instructions'], p['frames']):12.0f} "
              f"{per(p['instructions'], p['calls']):11.0f} {per(p['plugin'], p['frames']):14.0f}")
    c = figures["cycle"]
    per_call = per(c["instructions"], c["calls"])
    mark = "ok" if per_call <= GOAL_PER_CALL else "OVER"
    print(f"  {'whole cycle':<11} {c['frames']:7d} {c['calls']:7d} "
          f"{per(c['instructions'], c['frames']):12.0f} {per_call:11.0f} "
          f"{per(c['plugin'], c['frames']):14.0f}")
    print()
    print(f"  {c['instructions']:10d} instructions for the whole cycle, {per_call:.0f} per native "
          f"call   goal <= {GOAL_PER_CALL}  {mark}")
    print(f"  {c['plugin']:10d} of them in the plug-in "
          f"({per(c['plugin'], c['instructions']) * 100:.0f} %)")

    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(figures, f, indent=2)
    over = (figures["idle"]["instructions_per_frame"] > GOAL_IDLE_FRAME
            or per_call > GOAL_PER_CALL)
    return 3 if over and args.check else 0


if __name__ == "__main__":
    sys.exit(main())
