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
    # A whole trace opens with the run's seed, then the plug-in's load.
    hosts = [json.loads(line).get("host") for line in lines[:2]]
    assert hosts == ["seed", "attach"], lines[:2]
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


def both_to_null_device(d):
    return ["--trace", os.devnull, "--report", os.devnull], lambda out: None


def needs_root(case):
    case.needs_root = True
    return case


def kept_after(args, setup, check_more=None):
    """A run that fails after its outputs were opened: every existing output
    keeps its bytes, a folder it made is gone."""
    def case(d):
        setup()

        def check(out):
            assert read("t.jsonl") == "old\n", "the trace was replaced"
            if os.path.exists("r.html"):
                assert read("r.html") == "keep", "the report was replaced"
            if check_more:
                check_more(out)

        return args, check

    return case


def long_names(d):
    # 255 bytes, the most a name can have: one byte, then two-byte letters,
    # so that the temporary's shortened name must be cut between letters.
    trace = "x" + "\u00e9" * 124 + ".jsonl"
    report = "r" * 250 + ".html"
    assert len(trace.encode()) == 255 and len(report.encode()) == 255

    def check(out):
        trace_lines(read(trace))
        assert read(report).lstrip().startswith("<!DOCTYPE html>")

    return ["--trace", trace, "--report", report], check


def option_named_file(d):
    return ["--trace", "./--quiet"], lambda out: trace_lines(read("--quiet"))


def unchosen_picture_name(d):
    # every:60 never pictures frame 61: its name is free for the trace.
    os.mkdir("pics")

    def check(out):
        trace_lines(read("pics/frame-00061.svg"))
        assert sorted(os.listdir("pics")) == ["frame-00000.svg", "frame-00061.svg"]

    return ["--frames", "40", "--svg-frames", "every:60", "--frames-svg", "pics", "--trace",
            "pics/frame-00061.svg"], check


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
    ("trace and report both to the null device", both_to_null_device, 0, None),
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
    ("names of 255 bytes", long_names, 0, None),
    ("a file named like an option, as ./--quiet", option_named_file, 0, None),
    ("a picture's name that --svg-frames does not choose", unchosen_picture_name, 0, None),
    # A run that fails after its outputs are open replaces none of them.
    ("a plug-in that cannot be loaded",
     kept_after(["--plugin", "typo.so", "--trace", "t.jsonl", "--report", "r.html",
                 "--frames-svg", "new-pics"],
                lambda: (write("t.jsonl", "old\n"), write("r.html", "keep")),
                lambda out: assert_missing("new-pics")),
     4, "cannot load the plug-in typo.so: "),
    ("a report that cannot be written keeps the trace",
     needs_root(kept_after(["--trace", "t.jsonl", "--report", "full"],
                lambda: (write("t.jsonl", "old\n"),
                         os.mknod("full", stat.S_IFCHR | 0o666, os.makedev(1, 7))))),
     4, "writing full failed: No space left on device"),
    ("a picture that cannot be written keeps the trace and the report",
     kept_after(["--trace", "t.jsonl", "--report", "r.html", "--frames-svg", "pics"],
                lambda: (write("t.jsonl", "old\n"), write("r.html", "keep"),
                         os.makedirs("pics/frame-00000.svg"))),
     4, "cannot write the frame picture to pics/frame-00000.svg: Is a directory"),
] + [
    # Values the command line refuses before anything is read or written,
    # naming the option and the value.
    (f"refused value: {' '.join(args)}", refused(args), 2, message)
    for args, message in [
        (["--trace", "--quiet"],
         '--trace got "--quiet", which reads as an option: was --trace\'s value forgotten? '
         "(a file of that name is ./--quiet)"),
        (["--report", "-x", "--quiet"], '--report got "-x", which reads as an option'),
        (["--frames-svg", "--svg-debug"], '--frames-svg got "--svg-debug", which reads as an option'),
        (["--scenario", "--no-plugin"], '--scenario got "--no-plugin"'),
        (["--draws-from", "--seed"], '--draws-from got "--seed"'),
        (["--plugin", "--trace", "t.jsonl"], '--plugin got "--trace"'),
        (["--trace", "a.jsonl", "--trace", "b.jsonl"],
         "--trace given twice (a.jsonl and b.jsonl); give it once"),
        (["--frames", "99999999999999999999"],
         "--frames needs a whole number from 0 to 100000000, got 99999999999999999999"),
        (["--frames", "100000001"], "from 0 to 100000000, got 100000001"),
        (["--frames", "-1"], "from 0 to 100000000, got -1"),
        (["--frames", " 5"], "from 0 to 100000000, got  5"),
        (["--frames-svg", "pics", "--svg-frames", "every:99999999999999999999"],
         '--svg-frames takes frames from 0 to 99999999 and every:N up to 100000000 (a run has at '
         'most 100000000 frames), got "every:99999999999999999999"'),
        (["--frames-svg", "pics", "--svg-frames", "0,100000000"],
         'got "0,100000000"'),
    ]
] + [
    # Two outputs, or an output and an input, that are one file: refused
    # before the run, naming both options, with nothing written.
    (f"same file: {name}", refused(args, setup), 2, message)
    for name, args, setup, message in [
        ("one name twice", ["--trace", "run.out", "--report", "run.out"], None,
         "--trace and --report name the same file (run.out): one would replace the other"),
        ("spelt two ways", ["--trace", "run.out", "--report", "./sub/../run.out"],
         lambda: os.mkdir("sub"),
         "--trace and --report name the same file (run.out and ./sub/../run.out)"),
        ("symbolic link", ["--trace", "link.html", "--report", "keep.html"],
         lambda: (write("keep.html", "keep"), os.symlink("keep.html", "link.html")),
         "--trace and --report name the same file (link.html and keep.html)"),
        ("hard link", ["--report", "keep.html", "--trace", "hard.html"],
         lambda: (write("keep.html", "keep"), os.link("keep.html", "hard.html")),
         "--trace and --report name the same file (hard.html and keep.html)"),
        ("dangling link to the other's new name", ["--trace", "new.out", "--report", "link.out"],
         lambda: os.symlink("new.out", "link.out"),
         "--trace and --report name the same file (new.out and link.out)"),
        ("new names in a folder and a link to it", ["--trace", "real/t.out", "--report", "alias/t.out"],
         lambda: (os.mkdir("real"), os.symlink("real", "alias")),
         "--trace and --report name the same file (real/t.out and alias/t.out)"),
        ("pictures' folder", ["--frames-svg", "pics", "--report", "pics"], None,
         "--report and --frames-svg name the same file (pics)"),
        ("- and standard output by name", ["--trace", "-", "--report", "/dev/stdout"], None,
         "--trace and --report name the same file (- and /dev/stdout)"),
        ("the scenario read", ["--scenario", "keep.html", "--trace", "./keep.html"],
         lambda: write("keep.html", "keep"),
         "--trace names the file --scenario reads (./keep.html and keep.html)"),
        ("the draws read", ["--draws-from", "keep.html", "--report", "keep.html"],
         lambda: write("keep.html", "keep"),
         "--report names the file --draws-from reads (keep.html)"),
        ("the plug-in read", ["--plugin", "keep.html", "--report", "./keep.html"],
         lambda: write("keep.html", "keep"),
         "--report names the file --plugin reads (./keep.html and keep.html)"),
        # A picture is written over a file of its name in the pictures' folder.
        ("a picture's name for the trace",
         ["--trace", "pics/frame-00060.svg", "--frames-svg", "pics"], lambda: os.mkdir("pics"),
         "--trace names pics/frame-00060.svg, which the frame picture of that name written to "
         "the --frames-svg folder (pics) would replace"),
        ("a picture's name for the report, in a folder still to be made",
         ["--report", "new/frame-00007.svg", "--frames-svg", "new/", "--svg-frames", "7,9"], None,
         "--report names new/frame-00007.svg, which the frame picture of that name written to "
         "the --frames-svg folder (new/) would replace"),
        ("a link to a picture's name",
         ["--report", "keep.html", "--frames-svg", "pics", "--svg-frames", "drawn"],
         lambda: (os.mkdir("pics"), write("pics/frame-00123.svg", "keep"),
                  os.symlink("pics/frame-00123.svg", "keep.html")),
         "--report names keep.html, which the frame picture of that name"),
        ("a picture's name for the scenario read",
         ["--scenario", "sub/../pics/frame-00000.svg", "--frames-svg", "./pics"],
         lambda: (os.mkdir("pics"), os.mkdir("sub"), write("pics/frame-00000.svg", "keep")),
         "--scenario names sub/../pics/frame-00000.svg, which the frame picture"),
    ]
]


def assert_missing(path):
    assert not os.path.exists(path), f"{path} was left behind"


def run_case(name, setup, status, message):
    if (setup in (char_device, full_device) or getattr(setup, "needs_root", False)) and \
            os.geteuid() != 0:
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


def subcommand_outputs():
    """report and scenario-from refuse to write over the recording they read,
    and an output's value that reads as an option."""
    for command, flag in (("report", "--report"), ("scenario-from", "--out")):
        with tempfile.TemporaryDirectory() as d:
            write(os.path.join(d, "rec.jsonl"), "keep")
            os.symlink("rec.jsonl", os.path.join(d, "link.jsonl"))
            for args, wanted in (
                    ([flag, "link.jsonl"],
                     f"{flag} names the file RECORDING reads (link.jsonl and rec.jsonl)"),
                    ([flag, "--quiet"], f'{flag} got "--quiet", which reads as an option'),
                    ([flag, "a", flag, "b"], f"{flag} given twice (a and b)")):
                out = subprocess.run([SIM, command, "rec.jsonl"] + args, cwd=d,
                                     capture_output=True, text=True, timeout=60)
                assert out.returncode == 2, f"{command}: exit {out.returncode}: {out.stderr}"
                assert wanted in out.stderr, f"{command}: wanted {wanted!r} in: {out.stderr}"
            assert sorted(os.listdir(d)) == ["link.jsonl", "rec.jsonl"], os.listdir(d)
            assert read(os.path.join(d, "rec.jsonl")) == "keep", f"{command}: the recording changed"
    with tempfile.TemporaryDirectory() as d:
        out = subprocess.run([SIM, "panel-demo", "--out", "--svg-debug"], cwd=d,
                             capture_output=True, text=True, timeout=60)
        wanted = '--out got "--svg-debug", which reads as an option'
        assert out.returncode == 2 and wanted in out.stderr, f"panel-demo: {out.stderr}"
        assert os.listdir(d) == [], os.listdir(d)


def default_plugin_is_read():
    """Without --plugin, the plug-in beside rebound-sim is what the run reads:
    an output naming it is refused, however spelt. A copy of both, so that a
    simulator that wrote over it would harm no build."""
    with tempfile.TemporaryDirectory() as d:
        sim = os.path.join(d, "rebound-sim")
        plugin = os.path.join(d, "librebound.so")
        for source, copy in ((SIM, sim), (os.path.join(os.path.dirname(SIM), "librebound.so"),
                                          plugin)):
            with open(source, "rb") as f, open(copy, "wb") as g:
                g.write(f.read())
            os.chmod(copy, 0o755)
        with open(plugin, "rb") as f:
            before = f.read()
        os.symlink("librebound.so", os.path.join(d, "link.so"))
        for args in (["--report", plugin], ["--trace", "./link.so"]):
            out = subprocess.run([sim] + FRAMES + args, cwd=d, capture_output=True, text=True,
                                 timeout=60)
            assert out.returncode == 2, f"{args}: exit {out.returncode}: {out.stderr}"
            names = plugin if args[-1] == plugin else f"{args[-1]} and {plugin}"
            wanted = f"{args[0]} names the file --plugin names by default ({names})"
            assert wanted in out.stderr, f"{args}: wanted {wanted!r} in: {out.stderr}"
        with open(plugin, "rb") as f:
            assert f.read() == before, "the default plug-in changed"
        # --no-plugin reads no plug-in: the same name is then an output like any.
        out = subprocess.run([sim, "--no-plugin", "--quiet"] + FRAMES + ["--trace", "link.so"],
                             cwd=d, capture_output=True, text=True, timeout=60)
        assert out.returncode == 0, out.stderr


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
for name, check in (("subcommands' outputs against their recording", subcommand_outputs),
                    ("the default plug-in against the outputs", default_plugin_is_read),
                    ("interrupted by SIGINT", interrupted)):
    try:
        check()
        print(f"ok   {name}")
    except Exception as e:  # pylint: disable=broad-except
        failures += 1
        print(f"FAIL {name}: {e}")
sys.exit(1 if failures else 0)
