#!/usr/bin/env python3
"""The genuine recording build under Wine, held against the Linux replay and
the simulator's own trace.

  scenarios  Every shipped scenario but the panel demo's is run by
             rebound-sim.exe with Rebound-recorder.asi, writing its trace and,
             through the recorder, a recording into a folder of its own
             (REBOUND_RECORDING_DIR). Each recording must have a Windows
             header, replay on Linux against the player's librebound.so with
             exit 0 (the same calls), and agree with the trace of the same run
             on every field both write (scripts/compare-recording.py).
  unload     The host unloads the plug-in in the middle of a run: while the
             respawn bar fills with keys and taps arriving, and in an idle
             stretch the recorder holds as a repeat. The run ends on its own
             (no wait on the writer thread under the loader lock), the
             recording ends with the detach lines, and it replays.

Every program runs with a time limit, so a hang fails with its name.

Usage: recorder_test.py {scenarios|unload} --emulator WINE_RUN --sim-exe EXE
           --recorder ASI --scenarios DIR --linux-sim SIM --linux-plugin SO
           --compare SCRIPT --out-dir DIR
"""

import argparse
import glob
import json
import os
import shutil
import subprocess
import sys

RUN_LIMIT_SECONDS = 90
DETACH_LINES = ["detach", "scriptUnregister", "keyboardHandlerUnregister"]
# The panel demo's world runs the HUD panel's own code, not the plug-in.
LEFT_OUT = {"panel.json", "scenario.schema.json"}

# Unloads at two kinds of moment: mid-flow, keys and taps arriving (frame
# 200 is in the bar's fill after a death at 60), and in an idle stretch
# written as a repeat only at the detach.
UNLOAD_RUNS = {
    "unload-mid-flow": {
        "name": "unloaded while the respawn bar fills",
        "frames": 600,
        "events": [
            {"frame": 60, "health": 0},
            {"from": 130, "to": 220, "tapEveryFrames": 7, "control": 223},
            {"frame": 199, "key": {"code": 87, "repeats": 1, "scanCode": 17, "extended": 0,
                                   "alt": 0, "wasDownBefore": 0, "isUp": 0}},
            {"frame": 200, "unload": True},
        ],
    },
    "unload-idle": {
        "name": "unloaded in an idle stretch",
        "frames": 600,
        "events": [{"frame": 400, "unload": True}],
    },
}


class Failed(Exception):
    pass


def run(command, what, env=None, limit=RUN_LIMIT_SECONDS):
    try:
        return subprocess.run(command, env=env, capture_output=True, text=True, timeout=limit)
    except subprocess.TimeoutExpired as error:
        raise Failed(f"{what} did not end within {limit} s (a hang): {' '.join(command)}") from error


def record(args, scenario, out_dir):
    """Runs rebound-sim.exe with the recorder; returns (recording, trace, header, lines)."""
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    trace = os.path.join(out_dir, "trace.jsonl")
    env = dict(os.environ, REBOUND_RECORDING_DIR=out_dir)
    result = run([args.emulator, args.sim_exe, "--quiet", "--plugin", args.recorder,
                  "--scenario", scenario, "--trace", trace], "rebound-sim.exe", env)
    if result.returncode != 0:
        raise Failed(f"rebound-sim.exe exited with status {result.returncode}:\n"
                     f"{result.stdout}{result.stderr}")
    recordings = glob.glob(os.path.join(out_dir, "Rebound-recording-*.jsonl"))
    if len(recordings) != 1:
        raise Failed(f"expected one recording in {out_dir}, found {len(recordings)}: "
                     f"{sorted(os.listdir(out_dir))}")
    with open(recordings[0], encoding="utf-8") as f:
        lines = [json.loads(line) for line in f]
    header = lines[0] if lines else {}
    wanted = {"format": "rebound-recording", "version": 1, "build": "recorder",
              "platform": "windows", "hostFile": "ScriptHookV.dll", "gameFile": "rebound-sim.exe",
              "frameBase": 0}
    wrong = {k: header.get(k) for k, v in wanted.items() if header.get(k) != v}
    if wrong:
        raise Failed(f"{recordings[0]}: header fields {wrong}, expected "
                     f"{ {k: wanted[k] for k in wrong} }")
    return recordings[0], trace, header, lines


def replay(args, recording):
    result = run([args.linux_sim, "replay", recording, "--plugin", args.linux_plugin],
                 "rebound-sim replay")
    if result.returncode != 0:
        raise Failed(f"replay on Linux exited with status {result.returncode}:\n"
                     f"{result.stdout}{result.stderr}")
    summary = [line for line in result.stdout.splitlines() if line.startswith("Same calls")]
    return summary[0] if summary else result.stdout.strip().splitlines()[-1]


def compare(args, recording, trace):
    result = run([sys.executable, args.compare, recording, trace], "compare-recording")
    if result.returncode != 0:
        raise Failed(f"the recording and the trace disagree:\n{result.stdout}{result.stderr}")
    return result.stdout.strip()


def scenarios(args):
    names = sorted(os.path.basename(p) for p in glob.glob(os.path.join(args.scenarios, "*.json")))
    names = [n for n in names if n not in LEFT_OUT]
    if not names:
        raise Failed(f"no scenarios in {args.scenarios}")
    failures = 0
    for name in names:
        stem = name[:-len(".json")]
        try:
            recording, trace, _, _ = record(args, os.path.join(args.scenarios, name),
                                            os.path.join(args.out_dir, stem))
            replayed = replay(args, recording)
            compared = compare(args, recording, trace)
            print(f"ok   {stem}: {os.path.getsize(recording)} bytes; {replayed}; {compared}")
        except Failed as error:
            failures += 1
            print(f"FAIL {stem}: {error}")
    print(f"{len(names) - failures} of {len(names)} scenarios recorded under Wine, replayed "
          "and held against their traces")
    return failures


def unload(args):
    failures = 0
    for stem, scenario in UNLOAD_RUNS.items():
        out_dir = os.path.join(args.out_dir, stem)
        path = os.path.join(args.out_dir, stem + ".json")
        os.makedirs(args.out_dir, exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            json.dump(scenario, f)
        try:
            recording, trace, _, lines = record(args, path, out_dir)
            tail = [line.get("host") for line in lines[-3:]]
            if tail != DETACH_LINES:
                raise Failed(f"{recording} ends with {json.dumps(lines[-3:])}, expected the "
                             f"lines {DETACH_LINES}")
            last_frame = max((line["frame"] for line in lines[1:] if "frame" in line), default=None)
            # The trace of the run says whether anything before the detach
            # went missing.
            replayed = replay(args, recording)
            compared = compare(args, recording, trace)
            print(f"ok   {stem}: ends with the detach lines after frame {last_frame}; "
                  f"{replayed}; {compared}")
        except Failed as error:
            failures += 1
            print(f"FAIL {stem}: {error}")
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("check", choices=["scenarios", "unload"])
    for option in ("emulator", "sim-exe", "recorder", "scenarios", "linux-sim", "linux-plugin",
                   "compare", "out-dir"):
        parser.add_argument("--" + option, required=True)
    args = parser.parse_args()
    for program in (args.linux_sim, args.linux_plugin):
        if not os.path.isfile(program):
            print(f"FAIL: {program} is missing: the Linux debug build (cmake --preset debug && "
                  "cmake --build --preset debug) replays the recordings")
            sys.exit(1)
    try:
        failures = scenarios(args) if args.check == "scenarios" else unload(args)
    except Failed as error:
        print(f"FAIL: {error}")
        failures = 1
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
