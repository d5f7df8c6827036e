#!/usr/bin/env python3
"""The JSON Schema of scenario files against the reader of rebound-sim.

Checks that `rebound-sim schema` prints the checked-in schema byte for byte,
that the schema is a valid draft 2020-12 schema, that every shipped scenario
is valid, and that the schema and the reader agree on the files under
tests/sim/scenarios/: those in valid/ are accepted by both, those in invalid/
refused by both at the field named below, and those in reader-only/ refused by
the reader where the schema language cannot follow (READER_ONLY says why).
Also how rebound-sim takes --scenario: once only, and a path it cannot read
named with the system's reason.

Usage: scenario_schema_test.py REBOUND_SIM SOURCE_DIR
"""
import json
import pathlib
import subprocess
import sys

import jsonschema

# invalid/FILE: (line, field) the reader names, and where the schema objects
# (the field itself, or the object that may not hold it).
INVALID = {
    "fps-zero.json": (2, "fps", "fps"),
    "frames-fraction.json": (3, "frames", "frames"),
    "start-game-time-beyond-32-bits.json": (2, "startGameTime", "startGameTime"),
    "unknown-field.json": (3, "frmaes", ""),
    "schema-key-not-a-string.json": (2, "$schema", "$schema"),
    "player-heading-beyond-float.json": (4, "player.heading", "player.heading"),
    "player-position-beyond-float.json": (4, "player.position[2]", "player.position[2]"),
    "player-position-two-numbers.json": (3, "player.position", "player.position"),
    "player-wanted-level-6.json": (3, "player.wantedLevel", "player.wantedLevel"),
    "player-injured-2.json": (3, "player.injured", "player.injured"),
    "number-beyond-double.json": (3, "player.position[0]", "player.position[0]"),
    "world-unknown-setting.json": (4, "world.gravity", "world"),
    "road-node-without-position.json": (4, "world.roadNodes[0]", "world.roadNodes[0]"),
    "road-node-heading-beyond-float.json":
        (5, "world.roadNodes[0].heading", "world.roadNodes[0].heading"),
    "spawn-result-beyond-float.json":
        (5, "world.spawnSearch.results[1][2]", "world.spawnSearch.results[1][2]"),
    "spawn-outcome-unknown.json": (4, "world.spawnSearch.outcome", "world.spawnSearch.outcome"),
    "restart-heading-beyond-float.json":
        (4, "world.gameRestart.heading", "world.gameRestart.heading"),
    "texture-load-frames-over.json": (4, "world.textures.loadFrames", "world.textures.loadFrames"),
    "hud-colour-key-leading-zero.json": (4, "world.hudColours.07", "world.hudColours"),
    "hud-colour-key-beyond-32-bits.json": (4, "world.hudColours.2147483648", "world.hudColours"),
    "hud-colour-component-256.json": (4, "world.hudColours.2[1]", "world.hudColours.2[1]"),
    "label-not-text.json": (4, "world.labels.KS_RESPAWN_B", "world.labels.KS_RESPAWN_B"),
    "language-key-signed.json": (4, "world.labelsByLanguage.+1", "world.labelsByLanguage"),
    "movie-load-frames-word.json": (4, "world.scaleform.loadFrames", "world.scaleform.loadFrames"),
    "movie-fail-handle-positive.json":
        (4, "world.scaleform.failHandle", "world.scaleform.failHandle"),
    "switch-character-without-player.json":
        (4, "events[0].switchCharacter", "events[0].switchCharacter"),
    "movie-without-load-frames.json":
        (4, "world.scaleform.MP_BIG_MESSAGE_FREEMODE", "world.scaleform.MP_BIG_MESSAGE_FREEMODE"),
    "event-of-no-kind.json": (4, "events[1]", "events[1]"),
    "event-of-two-kinds.json": (4, "events[0].heal", "events[0]"),
    "event-flag-false.json": (4, "events[0].injure", "events[0].injure"),
    "event-without-frame.json": (3, "events[0]", "events[0]"),
    "event-key-code-negative.json": (4, "events[0].key.code", "events[0].key.code"),
    "event-tap-control-over.json": (4, "events[0].tap", "events[0].tap"),
    "event-position-beyond-float.json":
        (4, "events[0].position[1]", "events[0].position[1]"),
    "player-heading-word.json": (3, "player.heading", "player.heading"),
    "answer-without-result-or-outs.json": (3, "answers[0]", "answers[0]"),
    "answer-unknown-field.json": (4, "answers[0].returns", "answers[0]"),
    "expect-unknown-field.json": (1, "expect[0]", "expect[0]"),
    "expect-calls-negative.json": (1, "expect[0].calls", "expect[0].calls"),
    "expect-calls-unknown-bound.json": (1, "expect[0].calls", "expect[0].calls"),
    "expect-frames-one-number.json": (1, "expect[0].frames", "expect[0].frames"),
    "expect-without-native.json": (1, "expect[0]", "expect[0]"),
    "globals-id-negative.json": (2, "globals.-4", "globals"),
    "entities-handle-zero.json": (3, "entities.peds[0]", "entities.peds[0]"),
}

# The one place that lists what the reader refuses and the schema cannot:
# reader-only/FILE: (line, field, why the schema lets it pass).
READER_ONLY = {
    "duplicate-key.json": (
        5, "player.health",
        "a schema checks the parsed value, in which a key stands once; editors flag duplicate "
        "keys themselves"),
    "tap-span-backwards.json": (
        4, "events[0].to", "'to' at or after 'from' compares two fields"),
    "tap-span-too-long.json": (
        4, "events[0].to", "the count of taps, (to - from) / tapEveryFrames + 1, is arithmetic"),
    "restart-before-fade-out.json": (
        4, "world.gameRestart.restartAfterMs",
        "restartAfterMs at or after fadeOutAfterMs compares two fields, one of them perhaps "
        "left at its default of 2000"),
    "answer-unknown-native.json": (
        4, "answers[0].native", "the natives a scenario may name are the catalogue's, which "
        "rebound-sim natives lists; the schema does not repeat it"),
    "answer-result-wrong-kind.json": (
        4, "answers[0].result", "the kind of a result depends on the native named beside it"),
    "answer-spans-overlap.json": (
        4, "answers[1].from", "an overlap compares the spans of two entries"),
    "entities-handle-twice.json": (
        3, "entities.objects[0]", "a handle listed once across the lists compares the lists"),
}


def names_in(value, key=None):
    """Every member name under the given key (all of them when None)."""
    names = set()
    if isinstance(value, dict):
        for name, child in value.items():
            if key is None:
                names.add(name)
            names |= names_in(child, key)
            if key is not None and name == key and isinstance(child, dict):
                names |= set(child)
    elif isinstance(value, list):
        for child in value:
            names |= names_in(child, key)
    return names


def json_path(error):
    """The reader's way of naming a place: a.b[0].c."""
    out = ""
    for part in error.absolute_path:
        out += f"[{part}]" if isinstance(part, int) else (f".{part}" if out else str(part))
    return out


def all_errors(errors):
    for error in errors:
        yield error
        yield from all_errors(error.context or [])


class Check:
    def __init__(self, sim, source):
        self.sim = sim
        self.source = source
        self.failures = []
        schema_path = source / "scenarios" / "scenario.schema.json"
        self.schema_text = schema_path.read_bytes()
        self.schema = json.loads(self.schema_text)
        self.validator = jsonschema.Draft202012Validator(self.schema)

    def fail(self, what):
        self.failures.append(what)

    def schema_errors(self, path):
        return list(all_errors(self.validator.iter_errors(json.loads(path.read_text()))))

    def run_reader(self, path):
        done = subprocess.run([self.sim, "--scenario", str(path), "--frames", "1", "--no-plugin",
                               "--quiet"], capture_output=True, text=True, timeout=60)
        return done.returncode, done.stderr

    def expect_refused_by_reader(self, path, line, field):
        status, stderr = self.run_reader(path)
        place = f"{path}:{line}: field '{field}': "
        if status != 2 or place not in stderr:
            self.fail(f"{path}: the reader should refuse it at {place!r} with status 2, "
                      f"got status {status}: {stderr.strip()}")

    def expect_accepted_by_reader(self, path):
        status, stderr = self.run_reader(path)
        if status != 0:
            self.fail(f"{path}: the reader refused it (status {status}): {stderr.strip()}")

    def printed_schema(self):
        printed = subprocess.run([self.sim, "schema"], capture_output=True, timeout=60)
        if printed.returncode != 0 or printed.stdout != self.schema_text:
            self.fail("`rebound-sim schema` does not print scenarios/scenario.schema.json exactly")
        jsonschema.Draft202012Validator.check_schema(self.schema)

    def command_line(self):
        plain = str(self.source / "scenarios" / "plain-death.json")
        folder = self.source / "scenarios"
        for args, expected in [
                (["--scenario", plain, "--scenario", plain, "--no-plugin"],
                 "--scenario given twice"),
                (["--scenario", str(folder), "--no-plugin"],
                 f"{folder}: cannot read the scenario file: "),
                (["schema", "--json"], "unknown option for schema: --json")]:
            done = subprocess.run([self.sim, *args], capture_output=True, text=True, timeout=60)
            if done.returncode != 2 or expected not in done.stderr:
                self.fail(f"rebound-sim {' '.join(args)}: expected status 2 and {expected!r}, "
                          f"got status {done.returncode}: {done.stderr.strip()}")

    def shipped(self):
        shipped = sorted(p for p in (self.source / "scenarios").glob("*.json")
                         if p.name != "scenario.schema.json")
        if not shipped:
            self.fail("no shipped scenarios found")
        for path in shipped:
            for error in self.schema_errors(path):
                self.fail(f"{path}: {json_path(error)}: {error.message}")
            if json.loads(path.read_text()).get("$schema") != "scenario.schema.json":
                self.fail(f"{path}: does not point editors at scenario.schema.json")

    def cases(self):
        folder = self.source / "tests" / "sim" / "scenarios"
        listed = {"invalid": INVALID, "reader-only": READER_ONLY}
        for kind, table in listed.items():
            on_disk = {p.name for p in (folder / kind).glob("*.json")}
            if on_disk != set(table):
                self.fail(f"{kind}/: files and table differ: {sorted(on_disk ^ set(table))}")
        for name, (line, field, schema_field) in INVALID.items():
            path = folder / "invalid" / name
            self.expect_refused_by_reader(path, line, field)
            errors = self.schema_errors(path)
            if schema_field not in {json_path(e) for e in errors}:
                self.fail(f"{path}: the schema should object at {schema_field!r}, it said: "
                          + "; ".join(f"{json_path(e)}: {e.message}" for e in errors))
        for name, (line, field, _why) in READER_ONLY.items():
            path = folder / "reader-only" / name
            self.expect_refused_by_reader(path, line, field)
            if self.schema_errors(path):
                self.fail(f"{path}: the schema refuses it now; move it to invalid/")
        # Every field the schema describes is one the reader takes: the
        # edge file that gives each once must then pass both.
        every = json.loads((folder / "valid" / "every-field.json").read_text())
        missing = names_in(self.schema, "properties") - names_in(every)
        if missing:
            self.fail(f"valid/every-field.json lacks fields the schema describes: {sorted(missing)}")
        valid = sorted((folder / "valid").glob("*.json"))
        if not valid:
            self.fail("no valid edge files found")
        for path in valid:
            self.expect_accepted_by_reader(path)
            for error in self.schema_errors(path):
                self.fail(f"{path}: {json_path(error)}: {error.message}")


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    check = Check(sys.argv[1], pathlib.Path(sys.argv[2]))
    check.printed_schema()
    check.command_line()
    check.shipped()
    check.cases()
    for failure in check.failures:
        print("FAIL:", failure)
    print(f"{len(check.failures)} failures; {len(INVALID)} invalid files, "
          f"{len(READER_ONLY)} refused by the reader only")
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
