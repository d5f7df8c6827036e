"""rebound-sim's outputs over every kind of path: what arrives where, that a
link stays a link, that no temporary is left, and the exit status and message
of a path that cannot be written.

Usage: outputs_test.py REBOUND_SIM"""

import json
import os
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time

SIM = os.path.abspath(sys.argv[1])
FRAMES = ["--frames", "5"]


def trace_lines(text):
    lines = text.splitlines()
    assert lines, "no trace written"
    for line in lines:
        json.loads(line)
    assert json.loads(lines[0])["host"] == "attach", lines[0]
    return lines


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def write(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def fifo_reader(path, into):
    def run():
        with open(path, encoding="utf-8") as f:
            into.append(f.read())

    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    return thread


# Each case: name, set-up in the folder returning the arguments and a check of
# the folder after the run, the expected exit status, and the expected text of
# standard error (a fragment) for a refused path.
def regular_new(d):
    return ["--trace", "t.jsonl"], lambda out: trace_lines(read("t.jsonl"))


def regular_existing(d):
    write("t.jsonl", "old\n")
    os.chmod("t.jsonl", 0o600)

    def check(out):
        trace_lines(read("t.jsonl"))
        assert stat.S_IMODE(os.stat("t.jsonl").st_mode) == 0o600, "permissions not kept"

    return ["--trace", "t.jsonl"], check


def link_to_file(d):
    os.mkdir("real")
    write("real/t.jsonl", "old\n")
    os.symlink("real/t.jsonl", "link.jsonl")

    def check(out):
        assert os.path.islink("link.jsonl"), "the link was replaced"
        trace_lines(read("real/t.jsonl"))
        assert os.listdir("real") == ["t.jsonl"], os.listdir("real")

    return ["--trace", "link.jsonl"], check


def dangling_link(d):
    os.symlink("made.jsonl", "link.jsonl")

    def check(out):
        assert os.path.islink("link.jsonl"), "the link was replaced"
        trace_lines(read("made.jsonl"))

    return ["--trace", "link.jsonl"], check


def fifo(d):
    os.mkfifo("pipe")
    got = []
    thread = fifo_reader("pipe", got)

    def check(out):
        thread.join(10)
        assert stat.S_ISFIFO(os.stat("pipe").st_mode), "the FIFO was replaced"
        trace_lines(got[0])

    return ["--trace", "pipe"], check


def char_device(d):
    # A null device of the test's own, never the system's /dev/null: a
    # simulator that replaced the path would otherwise break the machine.
    os.mknod("null", stat.S_IFCHR | 0o666, os.makedev(1, 3))

    def check(out):
        assert stat.S_ISCHR(os.stat("null").st_mode), "the device was replaced"

    return ["--trace", "null", "--report", "null"], check


def full_device(d):
    # A device of the test's own that refuses every write, as a full disk does.
    os.mknod("full", stat.S_IFCHR | 0o666, os.makedev(1, 7))

    def check(out):
        assert stat.S_ISCHR(os.stat("full").st_mode), "the device was replaced"

    return ["--trace", "full"], check


def stdout_trace(d):
    def check(out):
        trace_lines(out.stdout)
        assert "Summary:" in out.stderr, "the summary is not on standard error"

    return ["--trace", "-"], check


def stdout_by_name(d):
    # /proc/self/fd/1 rather than /dev/stdout: a simulator that replaced the
    # name could not harm the machine's link there.
    def check(out):
        trace_lines(out.stdout)
        assert "Summary:" in out.stderr, "the summary is not on standard error"

    return ["--trace", "/proc/self/fd/1"], check


def stdout_report(d):
    def check(out):
        assert out.stdout.lstrip().startswith("<!DOCTYPE html>"), out.stdout[:80]
        assert "Summary:" in out.stderr

    return ["--report", "-"], check


def refused(args, setup=None):
    def case(d):
        if setup:
            setup()

        def check(out):
            assert out.stdout == "", "the run started: " + out.stdout[:200]
            if os.path.exists("keep.html"):
                assert read("keep.html") == "keep", "an existing output was touched"

        return args, check

    return case


CASES = [
    ("regular file, new", regular_new, 0, None),
    ("regular file, existing", regular_existing, 0, None),
    ("symbolic link to a file", link_to_file, 0, None),
    ("dangling symbolic link", dangling_link, 0, None),
    ("FIFO with a reader", fifo, 0, None),
    ("character device (a null device)", char_device, 0, None),
    ("device that refuses writes", full_device, 4,
     "writing full failed: No space left on device"),
    ("- for the trace", stdout_trace, 0, None),
    ("- for the report", stdout_report, 0, None),
    ("standard output by name", stdout_by_name, 0, None),
    ("missing folder",
     refused(["--report", "keep.html", "--trace", "no/t.jsonl"], lambda: write("keep.html", "keep")),
     4, "cannot write the trace to no/t.jsonl: No such file or directory"),
    ("path under a regular file",
     refused(["--trace", "f/t.jsonl"], lambda: write("f", "")), 4,
     "cannot write the trace to f/t.jsonl: Not a directory"),
    ("folder where a file is wanted",
     refused(["--report", "dir"], lambda: os.mkdir("dir")), 4,
     "cannot write the report to dir: Is a directory"),
    ("file where a folder is wanted",
     refused(["--frames-svg", "f"], lambda: write("f", "")), 4,
     "cannot write the frame pictures to f: Not a directory"),
    ("- for both", refused(["--trace", "-", "--report", "-"]), 2, "would mix in one stream"),
]


def run_case(name, setup, status, message):
    if setup in (char_device, full_device) and os.geteuid() != 0:
        print(f"skip {name}: making a device needs root")
        return False
    with tempfile.TemporaryDirectory() as d:
        os.chdir(d)
        try:
            args, check = setup(d)
            out = subprocess.run([SIM] + FRAMES + args, capture_output=True, text=True, timeout=60)
            assert out.returncode == status, f"exit {out.returncode}, wanted {status}: {out.stderr}"
            if message:
                assert message in out.stderr, f"wanted {message!r} in: {out.stderr}"
            check(out)
            left = [os.path.join(r, f) for r, _, files in os.walk(d) for f in files if f.endswith(".tmp")]
            assert not left, f"temporaries left: {left}"
        finally:
            os.chdir("/")


def interrupted():
    """SIGINT during a long run removes the temporaries and keeps what was there."""
    with tempfile.TemporaryDirectory() as d:
        write(os.path.join(d, "t.jsonl"), "old\n")
        proc = subprocess.Popen([SIM, "--quiet", "--frames", "100000000", "--trace",
                                 os.path.join(d, "t.jsonl"), "--report", os.path.join(d, "r.html")])
        deadline = time.time() + 30
        while len(os.listdir(d)) < 3 and time.time() < deadline:
            time.sleep(0.05)
        assert len(os.listdir(d)) == 3, f"temporaries not made: {os.listdir(d)}"
        proc.send_signal(signal.SIGINT)
        assert proc.wait(30) == -signal.SIGINT
        assert os.listdir(d) == ["t.jsonl"], os.listdir(d)
        assert read(os.path.join(d, "t.jsonl")) == "old\n"


failures = 0
for case in CASES:
    try:
        if run_case(*case) is not False:
            print(f"ok   {case[0]}")
    except Exception as e:  # pylint: disable=broad-except
        failures += 1
        print(f"FAIL {case[0]}: {e!r}")
try:
    interrupted()
    print("ok   interrupted by SIGINT")
except Exception as e:  # pylint: disable=broad-except
    failures += 1
    print(f"FAIL interrupted by SIGINT: {e}")
sys.exit(1 if failures else 0)
