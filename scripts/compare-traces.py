#!/usr/bin/env python3
"""Compares two rebound-sim traces (JSON Lines) line for line.

Two runs of the same scenario differ only where the plug-in draws random
numbers; every other field of every line must be equal. The fields that come
from random draws are named in MASKS below and nowhere else. The run's seed
line ({"host":"seed"}), which the Linux simulator writes first and the Windows
one never writes (its plug-in cannot be seeded), is a setting of the run, not
something the plug-in did: it is left out of both traces (SKIPPED_HOST_EVENTS).
So are the seeds the plug-in drew from it ({"host":"randomDraw"}): only a
seeded run writes them, and what they change is masked anyway.

  compare-traces.py A.jsonl B.jsonl
      Compares two traces. Exit 0 when they agree outside the masked fields,
      1 at the first difference (shown as the line of each file and the field),
      2 on a usage or input error.

  compare-traces.py run --scenario FILE --linux-sim SIM --out-dir DIR
                        [--windows-sim SIM.exe --plugin Rebound.asi --emulator WINE_RUN]
      Runs the scenario with the Linux and the Windows simulator (or, without
      --windows-sim, with the Linux one twice), writes both traces into DIR
      and compares them as above.

  compare-traces.py run --scenario FILE --linux-sim SIM [--linux-plugin MODULE]
                        --other-sim SIM --other-plugin MODULE --seed N --out-dir DIR
      Runs the scenario with two Linux builds (say, one from each compiler),
      both seeded alike, so that they draw the same numbers: every field of
      every line must be equal, the masked ones too.
"""

import argparse
import json
import math
import os
import subprocess
import sys

# The plug-in's distance check: a point farther than this from the place of
# death is replaced by that place, facing 0. Repeated here only to tell which
# heading is random.
SPAWN_DISTANCE_LIMIT = 300.0

# What the plug-in draws at random in a respawn, and where it shows in the
# trace. Each entry: native name -> (fields, when, why). A field is "args[i]",
# "outs" or "result". `when` says when the field is random:
#   "always"        - on every call;
#   "many-results"  - when the search the respawn ran had more than one result
#                     (with one result the index is always 0 and nothing
#                     random reaches the position);
#   "random-heading" - when the respawn took a point from the search and kept
#                     it (within SPAWN_DISTANCE_LIMIT of the death); the road
#                     node fallback and the too-far case turn the player to 0.
# Everything not named here is compared exactly.
MASKS = {
    # The search centre: 100 m from the death in a direction from two draws.
    "SPAWNPOINTS_START_SEARCH": (("args[0]", "args[1]"), "always", "search centre x, y"),
    # The same centre, handed to the road-node lookup on the fallback.
    "GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING": (("args[0]", "args[1]"), "always",
                                                  "search centre x, y"),
    # The chosen result's index, and the point read for it.
    "SPAWNPOINTS_GET_SEARCH_RESULT": (("args[0]", "outs"), "many-results",
                                      "chosen result index and position"),
    # The distance from the death to the chosen point.
    "VDIST": (("args[3]", "args[4]", "args[5]", "result"), "many-results",
              "distance to the chosen position"),
    # The player placed at the chosen point.
    "SET_ENTITY_COORDS": (("args[1]", "args[2]", "args[3]"), "many-results", "chosen position"),
    # The heading drawn for a point from the search.
    "SET_ENTITY_HEADING": (("args[1]",), "random-heading", "random heading"),
}


# Host events that say how the run was set up rather than what the plug-in
# did, and the draws from that setting, which an unseeded run (the Windows
# one) does not write; they are dropped from both traces before the lines are
# paired.
SKIPPED_HOST_EVENTS = {"seed", "randomDraw"}


def fail(message):
    print("compare-traces: " + message, file=sys.stderr)
    sys.exit(2)


class RespawnState:
    """What the lines read so far say about the respawn under way, taken from
    the first trace (the two agree on every unmasked field up to here)."""

    def __init__(self):
        self.result_count = 0
        self.took_search_result = False
        self.distance = None

    def observe(self, line):
        name = line.get("name")
        if name == "SPAWNPOINTS_START_SEARCH":
            self.result_count = 0
            self.took_search_result = False
            self.distance = None
        elif name == "SPAWNPOINTS_GET_NUM_SEARCH_RESULTS":
            result = line.get("result")
            self.result_count = result if isinstance(result, int) else 0
        elif name == "SPAWNPOINTS_GET_SEARCH_RESULT":
            self.took_search_result = True
        elif name == "VDIST":
            result = line.get("result")
            self.distance = result if isinstance(result, (int, float)) else None

    def applies(self, when):
        if when == "always":
            return True
        if when == "many-results":
            return self.result_count > 1
        if when == "random-heading":
            return (self.took_search_result and self.distance is not None
                    and not math.isnan(self.distance) and self.distance <= SPAWN_DISTANCE_LIMIT)
        raise ValueError("unknown mask condition " + when)


def masked_fields(line, state, masks):
    entry = masks.get(line.get("name"))
    if entry is None:
        return set()
    fields, when, _ = entry
    return set(fields) if state.applies(when) else set()


def field_value(line, field):
    if field.startswith("args["):
        args = line.get("args", [])
        i = int(field[5:-1])
        return args[i] if i < len(args) else None
    return line.get(field)


def first_difference(a, b, masked):
    """The first field that differs between two trace lines, or None."""
    keys = list(a.keys()) + [k for k in b.keys() if k not in a]
    for key in keys:
        if key not in a or key not in b:
            return key
        if key == "args" and isinstance(a[key], list) and isinstance(b[key], list):
            if len(a[key]) != len(b[key]):
                return "args (count %d vs %d)" % (len(a[key]), len(b[key]))
            for i, (x, y) in enumerate(zip(a[key], b[key])):
                field = "args[%d]" % i
                if field not in masked and x != y:
                    return field
            continue
        if key in masked:
            continue
        if a[key] != b[key]:
            return key
    return None


def skipped(text):
    """Whether a trace line is one of SKIPPED_HOST_EVENTS (read cheaply: the
    line is parsed in full only when it names such an event)."""
    if '"host"' not in text:
        return False
    try:
        value = json.loads(text)
    except json.JSONDecodeError:
        return False
    return isinstance(value, dict) and value.get("host") in SKIPPED_HOST_EVENTS


def read_lines(path):
    """The lines of a trace, each with its line number in the file, less the
    skipped host events."""
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read().splitlines()
    except OSError as error:
        fail("cannot read %s: %s" % (path, error.strerror))
    return [(number, line) for number, line in enumerate(text, 1) if not skipped(line)]


def parse(path, number, text):
    try:
        value = json.loads(text)
    except json.JSONDecodeError as error:
        fail("%s:%d: not JSON (%s)" % (path, number, error.msg))
    if not isinstance(value, dict):
        fail("%s:%d: not a JSON object" % (path, number))
    return value


def compare(path_a, path_b, out=sys.stdout, masks=None):
    """Compares two trace files; prints the outcome and returns 0 or 1. The
    fields in `masks` (MASKS unless given; {} compares every field) may differ."""
    masks = MASKS if masks is None else masks
    lines_a = read_lines(path_a)
    lines_b = read_lines(path_b)
    state = RespawnState()
    masked_seen = {}
    for index in range(max(len(lines_a), len(lines_b))):
        if index >= len(lines_a) or index >= len(lines_b):
            short, other = (path_a, path_b) if index >= len(lines_a) else (path_b, path_a)
            shorter = lines_a if index >= len(lines_a) else lines_b
            other_number, longer_line = (lines_b if index >= len(lines_a) else lines_a)[index]
            print("trace %s ends at line %d; %s goes on:" %
                  (short, shorter[-1][0] if shorter else 0, other), file=out)
            print("  %s:%d: %s" % (other, other_number, longer_line.strip()), file=out)
            return 1
        number_a, text_a = lines_a[index]
        number_b, text_b = lines_b[index]
        a = parse(path_a, number_a, text_a)
        b = parse(path_b, number_b, text_b)
        masked = masked_fields(a, state, masks) if a.get("name") == b.get("name") else set()
        field = first_difference(a, b, masked)
        if field is not None:
            print("traces differ at line %d in field %s:" % (number_a, field), file=out)
            print("  %s:%d: %s" % (path_a, number_a, text_a.strip()), file=out)
            print("  %s:%d: %s" % (path_b, number_b, text_b.strip()), file=out)
            return 1
        for name in masked:
            key = "%s %s" % (a.get("name"), name)
            seen, differed = masked_seen.get(key, (0, 0))
            masked_seen[key] = (seen + 1, differed + int(field_value(a, name) != field_value(b, name)))
        state.observe(a)
    summary = ", ".join("%s (%d, %d differed)" % (k, v[0], v[1])
                        for k, v in sorted(masked_seen.items())) or "none"
    print("traces agree: %d lines; masked: %s" % (len(lines_a), summary), file=out)
    return 0


def run_sim(command, trace, label):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            errors="replace", check=False)
    if result.returncode != 0:
        sys.stdout.write(result.stdout)
        fail("the %s simulator failed (exit %d): %s" %
                         (label, result.returncode, " ".join(command)))
    if not os.path.isfile(trace):
        fail("the %s simulator wrote no trace %s" % (label, trace))


def run(args):
    inputs = [(args.linux_sim, "Linux simulator"), (args.scenario, "scenario")]
    if args.windows_sim:
        inputs += [(args.windows_sim, "Windows simulator"), (args.plugin, "Windows plug-in")]
    if args.linux_plugin:
        inputs += [(args.linux_plugin, "Linux plug-in")]
    if args.other_sim:
        if args.windows_sim or args.seed is None or not args.other_plugin:
            fail("--other-sim goes with --other-plugin and --seed, and not with --windows-sim")
        inputs += [(args.other_sim, "other simulator"), (args.other_plugin, "other plug-in")]
    for path, what in inputs:
        if not path or not os.path.isfile(path):
            hint = ""
            if what == "Linux simulator":
                hint = " (build it first: cmake --preset debug && cmake --build --preset debug)"
            fail("the %s %s is missing%s" % (what, path, hint))
    os.makedirs(args.out_dir, exist_ok=True)
    first = os.path.join(args.out_dir, "linux.jsonl")
    second_name = "linux-again.jsonl"
    if args.windows_sim:
        second_name = "windows.jsonl"
    elif args.other_sim:
        second_name = "other-build.jsonl"
    second = os.path.join(args.out_dir, second_name)
    for stale in (first, second):
        if os.path.exists(stale):
            os.remove(stale)
    seeded = ["--seed", str(args.seed)] if args.seed is not None else []
    plugin = ["--plugin", args.linux_plugin] if args.linux_plugin else []
    run_sim([args.linux_sim, "--quiet"] + plugin + seeded +
            ["--scenario", args.scenario, "--trace", first], first, "Linux")
    if args.other_sim:
        run_sim([args.other_sim, "--quiet", "--plugin", args.other_plugin] + seeded +
                ["--scenario", args.scenario, "--trace", second], second, "other")
        return compare(first, second, masks={})
    if args.windows_sim:
        emulator = [args.emulator] if args.emulator else []
        run_sim(emulator + [args.windows_sim, "--quiet", "--plugin", args.plugin, "--scenario",
                            args.scenario, "--trace", second], second, "Windows")
    else:
        run_sim([args.linux_sim, "--quiet"] + plugin + seeded +
                ["--scenario", args.scenario, "--trace", second], second, "Linux")
    return compare(first, second)


def main(argv):
    if len(argv) >= 1 and argv[0] == "run":
        parser = argparse.ArgumentParser(
            prog="compare-traces.py run",
            description="Run a scenario with the Linux and the Windows simulator and compare "
            "their traces.")
        parser.add_argument("--scenario", required=True)
        parser.add_argument("--linux-sim", required=True)
        parser.add_argument("--linux-plugin",
                            help="the module the Linux simulator loads; without it, its own")
        parser.add_argument("--windows-sim",
                            help="the Windows simulator; without it the Linux one runs twice")
        parser.add_argument("--plugin", help="the Windows plug-in, Rebound.asi")
        parser.add_argument("--emulator", help="runs the Windows simulator (scripts/wine-run.sh)")
        parser.add_argument("--other-sim", help="a second Linux simulator, of another build")
        parser.add_argument("--other-plugin", help="the module of that build")
        parser.add_argument("--seed", type=int,
                            help="seeds both Linux runs alike; with --other-sim no field is masked")
        parser.add_argument("--out-dir", required=True)
        return run(parser.parse_args(argv[1:]))
    parser = argparse.ArgumentParser(
        prog="compare-traces.py",
        description="Compare two rebound-sim traces line for line; only fields from random "
        "draws may differ. 'compare-traces.py run --help' runs both simulators first.",
        epilog="Masked fields: " + "; ".join(
            "%s %s (%s, %s)" % (name, "/".join(fields), why, when)
            for name, (fields, when, why) in MASKS.items()))
    parser.add_argument("first")
    parser.add_argument("second")
    args = parser.parse_args(argv)
    return compare(args.first, args.second)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
