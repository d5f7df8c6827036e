#!/usr/bin/env python3
"""Compares a recording of the recording build with the simulator's trace of the same run.

One run of rebound-sim with Rebound-recorder.asi (or librebound-recorder.so)
writes two accounts of the same calls: the simulator's trace (--trace) and the
recorder's own recording. They must agree on every field both write. Before
the lines are paired, each file is read the way the recording format
(docs/trace-format.md) says:

  - the recording's header (its first line) has no counterpart, nor has the
    trace's seed line;
  - a recording line without "frame" or "time" takes them from the nearest
    following line that has them (at the end of the file, from the last line
    that had them). All the recording says of them is that the line came
    between the lines around it, and so the trace's frame and time for it
    are held to lie between those: a keyboard message that came while the
    script waited is read with the frame the script took it in, where the
    trace has the frame it came in; the detach of an unload in a frame the
    script did not run in has the last frame that did;
  - a "repeat" line stands for K frames F1..F that each made exactly the lines
    of the frame written before it (from the line after that frame's previous
    scriptWait up to and including its scriptWait); frame F1+i, and a time
    interpolated linearly from T1 to T, rounded down. The recorder's own
    GET_FRAME_COUNT answers frameBase+F1+i there, its GET_GAME_TIMER the time.
    Those times are the reader's estimate, not the game's: they are held to
    less than one frame's step (of the stretch) from the trace's, and the
    largest gap is reported;
  - the trace names each native ("name"), the recording does not; the trace
    writes every result a native gives, the recording only those the plug-in
    read; the recording marks the recorder's own calls ("by"), the trace
    does not;
  - the recording's randomDraw lines have no counterpart in a trace without
    any (the Windows simulator hands its plug-in no seeds);
  - a "dropped" or "capped" line ends what can be compared, and is reported.

Values compare by JSON type as well as value: true is not 1, 1 is not 1.0.

  compare-recording.py RECORDING TRACE [--player-trace]
      --player-trace: TRACE is of the player's build (a scenario made of the
      recording, run with its draws), which does not make the recorder's own
      calls: the recording is compared without them.
      Exit 0 when the two agree, 1 at the first difference (the line of each
      file, the frame and the field), 2 when a file cannot be read.
"""

import argparse
import json
import sys

# Fields that only one of the two writes, by design: the trace names each
# native and writes every result the native gives; the recording writes a
# result only where the plug-in read it, and marks the recorder's own calls.
TRACE_ONLY_KEYS = {"name", "result"}
RECORDING_ONLY_KEYS = {"by"}
SKIPPED_TRACE_EVENTS = {"seed"}
# Lines that stop the comparison: past them the recording is incomplete.
INCOMPLETE_EVENTS = {"dropped", "capped"}
FRAME_COUNT = "0xFC8202EFC642E6F2"
GAME_TIMER = "0x9CD27B0045628463"


class Unreadable(Exception):
    pass


class Line:
    """One line to pair: its JSON object, where it came from, and which of
    its values the reader derived rather than read."""

    def __init__(self, value, where, derived=(), tolerance=0):
        self.value = value
        self.where = where
        self.derived = set(derived)
        self.tolerance = tolerance  # how far a derived time may be from the game's
        self.bounds = {}  # frame or time the line lacks: (after, before) the lines around it


def read_json_lines(path):
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except OSError as error:
        raise Unreadable(f"cannot read {path}: {error.strerror}") from error
    except UnicodeDecodeError as error:
        raise Unreadable(f"{path}: not UTF-8 ({error.reason})") from error
    lines = []
    for number, raw in enumerate(text.splitlines(), 1):
        if not raw.strip():
            continue
        try:
            value = json.loads(raw)
        except json.JSONDecodeError as error:
            raise Unreadable(f"{path}:{number}: not JSON ({error.msg})") from error
        if not isinstance(value, dict):
            raise Unreadable(f"{path}:{number}: not a JSON object")
        lines.append((number, value))
    return lines


def read_trace(path):
    return [Line(value, f"{path}:{number}") for number, value in read_json_lines(path)
            if value.get("host") not in SKIPPED_TRACE_EVENTS]


def repeated_frames(path, number, repeat, reference, frame_base):
    """The lines of the K frames a repeat line stands for."""
    for key in ("frame", "time", "frames", "firstFrame", "firstTime"):
        if not isinstance(repeat.get(key), int) or isinstance(repeat.get(key), bool):
            raise Unreadable(f"{path}:{number}: field '{key}': expected a whole number")
    count, first_frame, first_time = repeat["frames"], repeat["firstFrame"], repeat["firstTime"]
    last_time = repeat["time"]
    if count < 1 or repeat["frame"] != first_frame + count - 1:
        raise Unreadable(f"{path}:{number}: a repeat of {count} frames from {first_frame} "
                         f"cannot end at frame {repeat['frame']}")
    if not reference:
        raise Unreadable(f"{path}:{number}: a repeat with no frame written before it")
    # One frame's step: how far from the game's time an interpolated one may be.
    step = 0 if count == 1 else -(-(last_time - first_time) // (count - 1))
    for i in range(count):
        time = first_time if count == 1 else first_time + (last_time - first_time) * i // (count - 1)
        frame = first_frame + i
        where = f"{path}:{number} (frame {frame}, repeated)"
        for source in reference:
            value = dict(source)
            value["frame"] = frame
            value["time"] = time
            derived = {"time"}
            if value.get("by") == "recorder" and value.get("native") == FRAME_COUNT:
                value["result"] = (frame_base + frame + 2**31) % 2**32 - 2**31
            elif value.get("by") == "recorder" and value.get("native") == GAME_TIMER:
                value["result"] = time
                derived.add("result")
            yield Line(value, where, derived, step)


def read_recording(path):
    """The recording's lines as the format reads them, and what was left out."""
    raw = read_json_lines(path)
    if not raw or raw[0][1].get("format") != "rebound-recording":
        raise Unreadable(f"{path}:1: no recording header")
    header = raw[0][1]
    frame_base = header.get("frameBase")
    if not isinstance(frame_base, int):
        frame_base = 0
    lines, stop = [], None
    frame_lines, reference = [], []
    for number, value in raw[1:]:
        if value.get("host") in INCOMPLETE_EVENTS:
            stop = (number, value)
            break
        if value.get("host") == "repeat":
            lines.extend(repeated_frames(path, number, value, reference, frame_base))
            continue
        lines.append(Line(value, f"{path}:{number}"))
        frame_lines.append(value)
        if value.get("host") == "scriptWait":
            reference, frame_lines = frame_lines, []
    # Frame and time, where a line has none, from the nearest line after it
    # that has them; at the end, from the last line that had them. What the
    # recording does say is that the line came between those two lines: the
    # bounds that the trace's own frame and time are held to.
    following = {}
    for line in reversed(lines):
        for key in ("frame", "time"):
            if key in line.value:
                following[key] = line.value[key]
            else:
                line.bounds[key] = [None, following.get(key)]
    last = {}
    for line in lines:
        for key in ("frame", "time"):
            if key in line.bounds:
                line.bounds[key][0] = last.get(key)
            else:
                last[key] = line.value[key]
    for line in lines:
        for key, (low, high) in line.bounds.items():
            value = high if high is not None else low
            if value is not None:
                line.value[key] = value
                line.derived.add(key)
    # Keys in the order the format puts them: frame and time first.
    for line in lines:
        ordered = {key: line.value[key] for key in ("frame", "time") if key in line.value}
        ordered.update((k, v) for k, v in line.value.items() if k not in ordered)
        line.value = ordered
    return lines, stop


def same(a, b):
    """JSON equality that keeps the types apart (true is not 1, 1 is not 1.0)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, float) and a != a:
        return b != b
    return a == b


def within(value, low, high, wraps):
    """Whether value lies between low and high (either may be None, open);
    a game time may have wrapped between them."""
    if low is not None and high is not None and wraps and low > high:
        return value >= low or value <= high
    return (low is None or low <= value) and (high is None or value <= high)


def first_difference(rec, tr, gaps, placed):
    """The first field that differs, or None. A frame or time the line lacks
    must lie between those of the lines around it (noted in `placed` where it
    is not the one the format gives it). A time that the reader interpolated
    in a repeat (and the recorder's GET_GAME_TIMER answer there) may be less
    than a frame's step from the game's: the gap goes to `gaps`."""
    keys = list(tr.value) + [k for k in rec.value if k not in tr.value]
    for key in keys:
        in_rec, in_tr = key in rec.value, key in tr.value
        if not in_rec and key in TRACE_ONLY_KEYS or not in_tr and key in RECORDING_ONLY_KEYS:
            continue
        if not in_rec or not in_tr:
            return key, rec.value.get(key, "(none)"), tr.value.get(key, "(none)")
        a, b = rec.value[key], tr.value[key]
        if key in rec.bounds and type(b) is int:
            if not within(b, *rec.bounds[key], wraps=key == "time"):
                return key, a, b
            if a != b:
                placed.append(key)
            continue
        if (key in rec.derived and rec.tolerance > 0 and type(a) is int and type(b) is int
                and abs(a - b) < rec.tolerance):
            gaps.append(abs(a - b))
            continue
        if not same(a, b):
            return key, a, b
    return None


def compare(recording_path, trace_path, out=sys.stdout, recorder_calls=True):
    """`recorder_calls` False: the trace is of a build that does not make the
    recorder's own calls (the player's), so the recording's are left out."""
    try:
        recording, stop = read_recording(recording_path)
        trace = read_trace(trace_path)
    except Unreadable as error:
        print(f"compare-recording: {error}", file=out)
        return 2
    if not recorder_calls:
        recording = [line for line in recording if line.value.get("by") != "recorder"]
    draws_in_trace = any(line.value.get("host") == "randomDraw" for line in trace)
    draws_left_out = 0
    if not draws_in_trace:
        kept = [line for line in recording if line.value.get("host") != "randomDraw"]
        draws_left_out = len(recording) - len(kept)
        recording = kept
    gaps, placed = [], []
    compared = 0
    for index in range(max(len(recording), len(trace))):
        if index >= len(recording) or index >= len(trace):
            if index >= len(recording) and stop is not None:
                number, value = stop
                print(f"{recording_path}:{number}: the recording is incomplete from here "
                      f"({json.dumps(value)}); {len(trace) - index} lines of the trace "
                      "are not in it", file=out)
                return 1
            longer = trace if index >= len(recording) else recording
            shorter_path = recording_path if index >= len(recording) else trace_path
            print(f"{shorter_path} ends after {index} lines; the other goes on at "
                  f"{longer[index].where}:\n  {json.dumps(longer[index].value)}", file=out)
            return 1
        rec, tr = recording[index], trace[index]
        difference = first_difference(rec, tr, gaps, placed)
        if difference is not None:
            key, a, b = difference
            print(f"line {index + 1} compared, frame {tr.value.get('frame')}: field "
                  f"'{key}' differs\n  recording {rec.where}: {json.dumps(rec.value)}\n"
                  f"  trace     {tr.where}: {json.dumps(tr.value)}", file=out)
            return 1
        compared += 1
    if stop is not None:
        number, value = stop
        print(f"{recording_path}:{number}: the recording is incomplete from here "
              f"({json.dumps(value)})", file=out)
        return 1
    repeated = sum(1 for line in recording if "repeated" in line.where)
    unplaced = sum(1 for line in recording if line.bounds)
    print(f"compare-recording: {compared} lines agree ({repeated} of them from repeat lines, "
          f"their times within {max(gaps, default=0)} ms of the trace's; {unplaced} without a "
          f"frame or time of their own, {len(placed)} of those values not the next line's but "
          f"within the lines around; {draws_left_out} random draws with no counterpart in the "
          "trace)", file=out)
    return 0


def main():
    parser = argparse.ArgumentParser(
        description="Compare a recording with the simulator's trace of the same run.")
    parser.add_argument("recording")
    parser.add_argument("trace")
    parser.add_argument("--player-trace", action="store_true",
                        help="the trace is of the player's build, which does not make the "
                             "recorder's own frame count and timer calls")
    args = parser.parse_args()
    sys.exit(compare(args.recording, args.trace, recorder_calls=not args.player_trace))


if __name__ == "__main__":
    main()
