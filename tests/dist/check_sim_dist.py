#!/usr/bin/env python3
"""Checks the modders' package, Rebound-sim-<version>-windows.zip:
  - exactly its entries, in order: the texts, rebound-sim.exe, the plug-ins,
    the stand-in host and its note in stand-in-host/, then every scenario and
    page of the documentation found in the checkout now; no ScriptHookV.dll
    anywhere else (beside rebound-sim.exe Windows would take it for the host);
  - the programs and DLLs stripped, with no time in the PE header and no path
    of the checkout; the plug-ins the very bytes of the players' and testers'
    zips; the texts the checkout's, with CRLF line endings;
  - the stand-in's version resource says it is the simulator's stand-in, not
    the real host, never to be copied into a game's folder; so do the
    README's first lines, within the width the READMEs are written to;
  - packing again gives the same bytes; SHA256SUMS lists every zip beside it
    and `sha256sum -c` passes;
  - each kind of fault above, put into a copy of the package, is reported.

Usage: check_sim_dist.py --zip ZIP [options] -- MAKE_DIST_ARGS...
"""

import argparse
import fnmatch
import io
import os
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_dist  # noqa: E402  (the PE reader and the checks both packages share)

STAND_IN = "stand-in-host/ScriptHookV.dll"
PLUGINS = ["Rebound.asi", "Rebound-recorder.asi"]
BINARY = (".exe", ".dll", ".asi")
# Each field of the stand-in's version resource and what it must say.
STAND_IN_WORDS = {"ProductName": ["rebound", "stand-in"],
                  "FileDescription": ["stand-in", "not the real script host"],
                  "Comments": ["rebound-sim.exe", "never copy", "game's folder"]}
# The README's warning comes before anything else.
WARNING_LINES = 8
WARNING_WORDS = ["never copy", "stand-in-host\\scripthookv.dll", "game's folder"]


def expected_entries(args):
    names = ["README.txt", "LICENSE.txt", "CHANGELOG.md", "rebound-sim.exe"]
    names += PLUGINS if args.recorder_zip else PLUGINS[:1]
    names += [STAND_IN, "stand-in-host/NOT-FOR-THE-GAME.txt"]
    for folder, pattern in (("scenarios", "*.json"), ("docs", "*.md"), ("docs", "*.json"),
                            ("docs/media", "*")):
        path = os.path.join(args.source_dir, folder)
        found = os.listdir(path) if os.path.isdir(path) else []
        # As a shell pattern matches: hidden files are left out.
        names += [f"{folder}/{n}" for n in sorted(found) if fnmatch.fnmatch(n, pattern)
                  and not n.startswith(".") and os.path.isfile(os.path.join(path, n))]
    return names


def binary_faults(args, name, data):
    faults = []
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, os.path.basename(name))
        with open(path, "wb") as f:
            f.write(data)
        if any(n.startswith(".debug") for n in check_dist.section_names(args.objdump, path)):
            faults.append(f"{name}: debug sections")
    pe = check_dist.Pe(data)
    if pe.symbols != 0 or pe.timestamp != 0:
        faults.append(f"{name}: {pe.symbols} symbols, PE header time 0x{pe.timestamp:x}")
    if os.path.realpath(args.source_dir).encode() in data:
        faults.append(f"{name}: holds the checkout's path")
    return faults


def stand_in_faults(args, data):
    _, strings = check_dist.version_info(check_dist.Pe(data))
    faults = [f"{STAND_IN}: {key} {strings.get(key)!r} does not say {words}"
              for key, words in STAND_IN_WORDS.items()
              if not all(w in strings.get(key, "").lower() for w in words)]
    for key, value in (("OriginalFilename", "ScriptHookV.dll"), ("FileVersion", args.version)):
        if strings.get(key) != value:
            faults.append(f"{STAND_IN}: {key} is {strings.get(key)!r}, expected {value!r}")
    return faults


def readme_faults(readme):
    lines = readme.decode("ascii", "replace").split("\r\n")
    faults = [f"README.txt: line {n} has {len(line)} characters, over {check_dist.README_WIDTH}"
              for n, line in enumerate(lines, 1) if len(line) > check_dist.README_WIDTH]
    opening = " ".join(lines[:WARNING_LINES]).lower()
    faults += [f"README.txt: its first {WARNING_LINES} lines do not say '{w}'"
               for w in WARNING_WORDS if w not in opening]
    if "@" in readme.decode("ascii", "replace"):
        faults.append("README.txt: a configure variable was left unreplaced ('@')")
    return faults


def checkout_text(args, name):
    """The checkout's file behind a packed text, as packed (None: generated)."""
    path = {"README.txt": None, "stand-in-host/NOT-FOR-THE-GAME.txt":
            "packaging/stand-in-host.txt"}.get(name, name)
    if path is None:
        return None
    with open(os.path.join(args.source_dir, path), "rb") as f:
        data = f.read()
    if name.startswith("docs/") and not name.endswith(".md"):
        return data  # packed as it is
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def package_faults(args, zip_bytes):
    with zipfile.ZipFile(io.BytesIO(zip_bytes)) as zf:
        files = {info.filename: zf.read(info) for info in zf.infolist()}
    faults = []
    expected = expected_entries(args)
    if list(files) != expected:
        faults.append(f"entries are {list(files)}, expected {expected}")
    hosts = [n for n in files if os.path.basename(n).lower() == "scripthookv.dll" and n != STAND_IN]
    if hosts:
        faults.append(f"a ScriptHookV.dll outside stand-in-host/: {hosts}")
    for name, data in files.items():
        if name.endswith(BINARY):
            faults += binary_faults(args, name, data)
        elif name in expected and checkout_text(args, name) not in (None, data):
            faults.append(f"{name}: not the checkout's file with CRLF line endings")
    for plugin, other_zip in zip(PLUGINS, (args.player_zip, args.recorder_zip)):
        if other_zip and plugin in files:
            with zipfile.ZipFile(other_zip) as zf:
                if files[plugin] != zf.read(plugin):
                    faults.append(f"{plugin}: not the bytes of {os.path.basename(other_zip)}'s")
    if STAND_IN in files:
        faults += stand_in_faults(args, files[STAND_IN])
    return faults + readme_faults(files.get("README.txt", b""))


def mutations(args):
    with open(args.unstripped_exe, "rb") as f:
        unstripped_exe = f.read()

    def change(name, how):
        return lambda files: files.__setitem__(name, how(files[name]))

    def move_stand_in(files):
        files["ScriptHookV.dll"] = files.pop(STAND_IN)

    def drop_a_page(files):
        del files[next(n for n in files if n.startswith("docs/") and n.endswith(".md"))]

    def warning_later(readme):
        head, rest = readme.split(b"\r\n\r\n", 1)
        return head + b"\r\n\r\n" + b"Some words first.\r\n" * WARNING_LINES + b"\r\n" + rest

    def not_stand_in(dll):
        # Words of the same length, so that the resource keeps its layout.
        for word, other in (("stand-in", "the real"), ("Stand-in", "The real")):
            dll = dll.replace(word.encode("utf-16-le"), other.encode("utf-16-le"))
        return dll

    return [
        ("the stand-in at the root", move_stand_in, "a ScriptHookV.dll outside stand-in-host/"),
        ("a page of the documentation left out", drop_a_page, "entries are"),
        ("the unstripped rebound-sim.exe", change("rebound-sim.exe", lambda d: unstripped_exe),
         "rebound-sim.exe: debug sections"),
        ("a stand-in that does not say it is one", change(STAND_IN, not_stand_in),
         f"{STAND_IN}: FileDescription"),
        ("the warning below the README's first lines", change("README.txt", warning_later),
         "README.txt: its first"),
        ("a scenario with LF line endings",
         change("scenarios/plain-death.json", lambda d: d.replace(b"\r\n", b"\n")),
         "scenarios/plain-death.json: not the checkout's"),
    ]


def repack_and_sums_faults(args, built):
    faults = []
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, os.path.basename(args.zip))
        packing = subprocess.run([sys.executable, args.make_dist, "--out", out] +
                                 args.make_dist_args, capture_output=True, text=True)
        if packing.returncode != 0:
            faults.append(f"packing again failed: {packing.stderr}")
        else:
            with open(out, "rb") as f:
                if f.read() != built:
                    faults.append("packing again gives other bytes; was the zip packed from "
                                  "another commit, or has a scenario or page changed since?")
    folder = os.path.dirname(os.path.abspath(args.sums))
    with open(args.sums, encoding="ascii") as f:
        listed = [line[66:] for line in f.read().splitlines()]
    zips = sorted(n for n in os.listdir(folder) if n.endswith(".zip"))
    check = subprocess.run(["sha256sum", "--quiet", "-c", args.sums], cwd=folder,
                           capture_output=True, text=True)
    if listed != zips or check.returncode != 0:
        faults.append(f"SHA256SUMS lists {listed} for the zips {zips}; sha256sum -c says "
                      f"{check.stdout}{check.stderr}")
    return faults


def main():
    argv = sys.argv[1:]
    split = argv.index("--") if "--" in argv else len(argv)
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for option in ("--zip", "--player-zip", "--sums", "--version", "--source-dir",
                   "--unstripped-exe", "--make-dist"):
        parser.add_argument(option, required=True)
    parser.add_argument("--recorder-zip", help="the testers' package, if built")
    parser.add_argument("--objdump", default="x86_64-w64-mingw32-objdump")
    args = parser.parse_args(argv[:split])
    args.make_dist_args = argv[split + 1:]

    with open(args.zip, "rb") as f:
        built = f.read()
    failures = package_faults(args, built)
    print(f"{args.zip}: {len(failures)} faults")
    for what, change, expected in mutations(args):
        faults = package_faults(args, check_dist.rezip(built, change))
        seen = any(expected in fault for fault in faults)
        print(f"  with {what}: {'reported' if seen else 'NOT REPORTED'}")
        if not seen:
            failures.append(f"a package with {what} is not reported as '{expected}': {faults}")
    failures += repack_and_sums_faults(args, built)
    for failure in failures:
        print(f"FAIL: {failure}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
