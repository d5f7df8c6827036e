#!/usr/bin/env python3
"""Tests scripts/compare-recording.py: a recording and a trace of the same six
frames agree as the format reads them (header, lines without frame or time, an
idle stretch written as a repeat, the recorder's own calls, random draws the
trace lacks); each kind of disagreement put into them is caught and named; and the trace
of the player's build, which makes none of the recorder's own calls."""

import importlib.util
import io
import json
import os
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
module_source = importlib.util.spec_from_file_location(
    "compare_recording", os.path.join(HERE, "..", "..", "scripts", "compare-recording.py"))
compare_recording = importlib.util.module_from_spec(module_source)
module_source.loader.exec_module(compare_recording)

GFC, GGT, PED = "0xFC8202EFC642E6F2", "0x9CD27B0045628463", "0xD80958FC74E988A6"
BASE = 500
TIMES = [100000, 100016, 100033, 100050, 100066, 100083]
KEY = {"host": "keyboard", "key": 87, "repeats": 1, "scanCode": 17, "extended": 0, "alt": 0,
       "wasDownBefore": 0, "isUp": 0}


def trace_lines():
    lines = [{"frame": -1, "time": TIMES[0], "host": "seed", "seed": 7}]
    lines += [{"frame": -1, "time": TIMES[0], "host": h}
              for h in ("attach", "scriptRegister", "keyboardHandlerRegister")]
    for frame, time in enumerate(TIMES):
        at = {"frame": frame, "time": time}
        if frame == 0:
            lines.append(dict(at, host="scriptStart"))
        if frame == 5:
            lines.append(dict(at, **KEY))
        lines += [dict(at, native=GFC, name="GET_FRAME_COUNT", args=[], result=BASE + frame),
                  dict(at, native=GGT, name="GET_GAME_TIMER", args=[], result=time),
                  dict(at, native=PED, name="PLAYER_PED_ID", args=[], result=1),
                  dict(at, host="scriptWait", ms=0)]
    lines += [{"frame": 5, "time": TIMES[5], "host": h}
              for h in ("detach", "scriptUnregister", "keyboardHandlerUnregister")]
    return lines


def frame_lines(frame, time):
    at = {"frame": frame, "time": time}
    return [dict(at, native=GFC, args=[], result=BASE + frame, by="recorder"),
            dict(at, native=GGT, args=[], result=time, by="recorder"),
            dict(at, native=PED, args=[], result=1),
            dict(at, host="scriptWait", ms=0)]


def recording_lines():
    lines = [{"format": "rebound-recording", "version": 1, "rebound": "0.1.0", "build": "recorder",
              "platform": "windows", "hostFile": None, "hostVersion": None, "gameFile": None,
              "gameVersion": None, "frameBase": BASE}]
    lines += [{"frame": -1, "host": h} for h in ("attach", "scriptRegister", "keyboardHandlerRegister")]
    lines.append({"host": "scriptStart"})
    lines += frame_lines(0, TIMES[0])
    lines.append({"frame": 0, "time": TIMES[0], "host": "randomDraw", "value": 12345})
    lines += frame_lines(1, TIMES[1])
    # Frames 2 to 4 repeat frame 1; frame 3's time is read back as 100049.
    lines.append({"frame": 4, "time": TIMES[4], "host": "repeat", "frames": 3, "firstFrame": 2,
                  "firstTime": TIMES[2]})
    lines.append(KEY)
    lines += frame_lines(5, TIMES[5])
    lines += [{"host": h} for h in ("detach", "scriptUnregister", "keyboardHandlerUnregister")]
    return lines


def at_native(lines, native, frame):
    return next(i for i, line in enumerate(lines)
                if line.get("native") == native and line.get("frame") == frame)


def set_field(lines, index, key, value):
    lines[index] = dict(lines[index], **{key: value})


def move_key_after_frame_count(rec, tr):
    k = rec.index(KEY)
    rec.insert(k + 1, rec.pop(k))


# (what, change to (recording, trace), exit status, text the report must hold)
CASES = [
    ("nothing changed", lambda rec, tr: None, 0, "agree (12 of them from repeat lines, their "
     "times within 1 ms of the trace's; 8 without a frame or time of their own, 0 of those"),
    ("a result in a written frame", lambda rec, tr: set_field(rec, at_native(rec, PED, 1), "result", 2),
     1, "frame 1: field 'result'"),
    ("a result in a repeated frame", lambda rec, tr: set_field(tr, at_native(tr, PED, 3), "result", 2),
     1, "frame 3: field 'result'"),
    ("true for 1", lambda rec, tr: set_field(rec, at_native(rec, PED, 0), "result", True), 1,
     "field 'result'"),
    ("1.0 for 1", lambda rec, tr: set_field(rec, at_native(rec, PED, 0), "result", 1.0), 1,
     "field 'result'"),
    ("a written time a millisecond off",
     lambda rec, tr: set_field(tr, at_native(tr, PED, 1), "time", TIMES[1] + 1), 1,
     "frame 1: field 'time'"),
    ("a repeated time a whole frame off",
     lambda rec, tr: set_field(tr, at_native(tr, PED, 3), "time", TIMES[3] + 17), 1,
     "frame 3: field 'time'"),
    ("a repeat one frame too long",
     lambda rec, tr: rec.__setitem__(
         next(i for i, l in enumerate(rec) if l.get("host") == "repeat"),
         {"frame": 5, "time": TIMES[5], "host": "repeat", "frames": 4, "firstFrame": 2,
          "firstTime": TIMES[2]}), 1, "frame 5: field 'host'"),
    ("a keyboard message that came while the script waited, a frame before it was taken in",
     lambda rec, tr: set_field(tr, tr.index(dict(KEY, frame=5, time=TIMES[5])), "frame", 4), 0,
     "1 of those values not the next line's"),
    ("a keyboard message that the trace puts after the frame that took it in",
     lambda rec, tr: set_field(tr, tr.index(dict(KEY, frame=5, time=TIMES[5])), "frame", 6), 1,
     "frame 6: field 'frame'"),
    ("a keyboard message after the recorder's first call", move_key_after_frame_count, 1,
     "frame 5: field 'host'"),
    ("a field the trace alone writes",
     lambda rec, tr: set_field(tr, at_native(tr, PED, 0), "outs", [1]), 1, "field 'outs'"),
    ("a result the plug-in did not read", lambda rec, tr: rec[at_native(rec, PED, 0)].pop("result"),
     0, "agree"),
    ("frames dropped", lambda rec, tr: rec.insert(
        rec.index(KEY), {"frame": 5, "time": TIMES[5], "host": "dropped", "frames": 0}), 1,
     "incomplete from here"),
    ("the detach missing", lambda rec, tr: rec.pop(), 1, "ends after"),
    ("no header", lambda rec, tr: rec.pop(0), 2, "no recording header"),
]


def without_recorder_calls(rec, tr):
    tr[:] = [line for line in tr if line.get("native") not in (GFC, GGT)]


# The same, the trace of the player's build (--player-trace): it makes none
# of the recorder's own calls.
PLAYER_TRACE_CASES = [
    ("the player's trace", without_recorder_calls, 0, "agree"),
    ("the player's trace holding the recorder's calls", lambda rec, tr: None, 1, "field 'native'"),
]


def run(case_dir, recording, trace, recorder_calls=True):
    paths = []
    for name, lines in (("rec.jsonl", recording), ("trace.jsonl", trace)):
        path = os.path.join(case_dir, name)
        with open(path, "w", encoding="utf-8") as f:
            f.writelines(json.dumps(line, separators=(",", ":")) + "\n" for line in lines)
        paths.append(path)
    out = io.StringIO()
    status = compare_recording.compare(*paths, out=out, recorder_calls=recorder_calls)
    return status, out.getvalue()


def main():
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        cases = [case + (True,) for case in CASES]
        cases += [case + (False,) for case in PLAYER_TRACE_CASES]
        for what, change, status, text, recorder_calls in cases:
            recording, trace = recording_lines(), trace_lines()
            change(recording, trace)
            got, report = run(tmp, recording, trace, recorder_calls)
            ok = got == status and text in report
            print(f"{'ok  ' if ok else 'FAIL'} {what}: status {got}")
            if not ok:
                failures += 1
                print(f"     expected status {status} and '{text}' in:\n{report}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
