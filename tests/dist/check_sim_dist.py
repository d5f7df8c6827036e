#!/usr/bin/env python3
"""Checks the modders' package, Rebound-sim-<version>-windows.zip, as a modder
and a release would meet it:
  - it holds exactly its entries, in order: README.txt, LICENSE.txt,
    CHANGELOG.md, rebound-sim.exe, the plug-ins, the stand-in host and its
    note in stand-in-host/, then every shipped scenario and page of the
    documentation found in the checkout now; all dated alike, with fixed
    permissions and compression;
  - no ScriptHookV.dll anywhere but in stand-in-host/ (beside rebound-sim.exe
    or at the root, Windows would take it for the real host's);
  - every program and DLL is stripped, carries no time in its PE header and no
    path of the checkout or the build tree, and imports no MinGW runtime DLL;
    the plug-ins are the very bytes of the player's and the testers' zips;
  - the stand-in's version resource says it is the simulator's stand-in, not
    the real host, never to be copied into a game's folder;
  - the README says so in its first lines, then how to run the scenarios and
    write a report, and where the documentation is; every text has CRLF line
    endings, and each scenario, page and licence is the checkout's;
  - packing again gives the same bytes; SHA256SUMS beside it lists every zip
    there, and `sha256sum -c` passes on it;
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
TEXT_SUFFIXES = (".txt", ".md", ".json")
# The README's width, as the player's; its warning comes before anything else.
README_WIDTH = 76
WARNING_LINES = 8
# What the stand-in's version resource must say, in its fields.
STAND_IN_WORDS = {
    "ProductName": ["Rebound", "stand-in"],
    "FileDescription": ["stand-in", "not the real script host"],
    "Comments": ["rebound-sim.exe", "never copy", "game's folder"],
}
README_MENTIONS = ["rebound-sim.exe --scenario scenarios\\", "--report", "docs\\",
                   "stand-in-host"]


def expected_entries(args):
    """The package's entries, the globbed ones found in the checkout now."""
    names = ["README.txt", "LICENSE.txt", "CHANGELOG.md", "rebound-sim.exe"]
    names += PLUGINS if args.recorder_zip else PLUGINS[:1]
    names += [STAND_IN, "stand-in-host/NOT-FOR-THE-GAME.txt"]
    for folder, pattern in (("scenarios", "*.json"), ("docs", "*.md"), ("docs", "*.json"),
                            ("docs/media", "*")):
        path = os.path.join(args.source_dir, folder)
        # As a shell pattern matches: hidden files are left out.
        found = sorted(n for n in os.listdir(path)
                       if fnmatch.fnmatch(n, pattern) and not n.startswith(".")
                       and os.path.isfile(os.path.join(path, n))) if os.path.isdir(path) else []
        names += [f"{folder}/{n}" for n in found]
    return names


def binary_faults(args, name, data):
    faults = []
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, os.path.basename(name))
        with open(path, "wb") as f:
            f.write(data)
        debug = [n for n in check_dist.section_names(args.objdump, path) if n.startswith(".debug")]
        if debug:
            faults.append(f"{name}: debug sections {', '.join(debug)}")
        dump = subprocess.run([args.objdump, "-p", path], capture_output=True, text=True).stdout
        runtime = [line.split(":", 1)[1].strip() for line in dump.splitlines()
                   if line.startswith("\tDLL Name: lib")]
        if runtime:
            faults.append(f"{name}: imports MinGW runtime DLLs {runtime}")
    try:
        pe = check_dist.Pe(data)
        if pe.symbol_table != 0 or pe.symbols != 0:
            faults.append(f"{name}: a symbol table of {pe.symbols} symbols")
        if pe.timestamp != 0:
            faults.append(f"{name}: PE header time 0x{pe.timestamp:x}, expected 0")
        if pe.export_timestamp() not in (None, 0):
            faults.append(f"{name}: export directory time 0x{pe.export_timestamp():x}")
        stamps, _ = pe.resources()
        if any(stamps):
            faults.append(f"{name}: resource directory times {stamps}, expected 0")
    except check_dist.PeError as error:
        faults.append(f"{name}: {error}")
    for label, folder in (("checkout", args.source_dir), ("build tree", args.build_dir)):
        folder = os.path.realpath(folder)
        if folder.encode() in data or folder.encode("utf-16-le") in data:
            faults.append(f"{name}: holds the {label}'s path {folder}")
    return faults


def stand_in_faults(args, data):
    try:
        fixed, strings = check_dist.version_info(check_dist.Pe(data))
    except check_dist.PeError as error:
        return [f"{STAND_IN}: {error}"]
    faults = []
    if fixed[9] != check_dist.VFT_DLL:
        faults.append(f"{STAND_IN}: file type {fixed[9]}, expected a DLL")
    for key, value in (("OriginalFilename", "ScriptHookV.dll"), ("FileVersion", args.version)):
        if strings.get(key) != value:
            faults.append(f"{STAND_IN}: {key} is {strings.get(key)!r}, expected {value!r}")
    for key, words in STAND_IN_WORDS.items():
        text = strings.get(key, "").lower()
        missing = [w for w in words if w.lower() not in text]
        if missing:
            faults.append(f"{STAND_IN}: {key} {strings.get(key)!r} does not say {missing}")
    return faults


def readme_faults(readme):
    faults = check_dist.line_ending_faults("README.txt", readme)
    try:
        lines = readme.decode("ascii").split("\r\n")
    except UnicodeDecodeError:
        return faults + ["README.txt: not plain ASCII text"]
    text = "\n".join(lines)
    if "@" in text:
        faults.append("README.txt: a configure variable was left unreplaced ('@')")
    for number, line in enumerate(lines, 1):
        if len(line) > README_WIDTH:
            faults.append(f"README.txt: line {number} has {len(line)} characters, over "
                          f"{README_WIDTH}")
    opening = " ".join(lines[:WARNING_LINES]).lower()
    for words in ("never copy", "stand-in-host\\scripthookv.dll", "game's folder"):
        if words not in opening:
            faults.append(f"README.txt: its first {WARNING_LINES} lines do not say '{words}'")
    for mention in README_MENTIONS:
        if mention not in text:
            faults.append(f"README.txt: does not mention {mention}")
    return faults


def source_text(args, name):
    """The checkout's file behind a packed text, with CRLF line endings."""
    if name == "README.txt":
        return None
    path = {"stand-in-host/NOT-FOR-THE-GAME.txt": "packaging/stand-in-host.txt"}.get(name, name)
    with open(os.path.join(args.source_dir, path), "rb") as f:
        data = f.read()
    if name.startswith("docs/") and not name.endswith(".md"):
        return data  # packed as it is
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def zip_member(path, name):
    with zipfile.ZipFile(path) as zf:
        return zf.read(name)


def package_faults(args, zip_bytes):
    faults = []
    with zipfile.ZipFile(io.BytesIO(zip_bytes)) as zf:
        infos = zf.infolist()
        names = [i.filename for i in infos]
        files = {name: zf.read(name) for name in names}
    expected = expected_entries(args)
    if names != expected:
        faults.append(f"entries are {names}, expected {expected}")
    hosts = [n for n in names if os.path.basename(n).lower() == "scripthookv.dll" and n != STAND_IN]
    if hosts:
        faults.append(f"a ScriptHookV.dll outside stand-in-host/: {hosts}")
    date = check_dist.expected_date(args.source_dir)
    for info in infos:
        if info.date_time != date:
            faults.append(f"{info.filename}: dated {info.date_time}, expected {date}")
        if info.external_attr >> 16 != check_dist.ENTRY_MODE or info.create_system != 3:
            faults.append(f"{info.filename}: mode {oct(info.external_attr >> 16)}")
        if info.compress_type != zipfile.ZIP_DEFLATED:
            faults.append(f"{info.filename}: compression {info.compress_type}")

    for name, data in files.items():
        if name.endswith((".exe", ".dll", ".asi")):
            faults += binary_faults(args, name, data)
        elif name.endswith(TEXT_SUFFIXES) and not (name.startswith("docs/")
                                                   and name.endswith(".json")):
            faults += check_dist.line_ending_faults(name, data)
        if name in expected and not name.endswith((".exe", ".dll", ".asi")):
            wanted = source_text(args, name)
            if wanted is not None and data != wanted:
                faults.append(f"{name}: differs from the checkout's file")
    for plugin, player_zip in zip(PLUGINS, (args.player_zip, args.recorder_zip)):
        if player_zip and plugin in files and files[plugin] != zip_member(player_zip, plugin):
            faults.append(f"{plugin}: not the bytes of {os.path.basename(player_zip)}'s")
    if STAND_IN in files:
        faults += stand_in_faults(args, files[STAND_IN])
    faults += readme_faults(files.get("README.txt", b""))
    return faults


def mutations(args):
    with open(args.unstripped_exe, "rb") as f:
        unstripped_exe = f.read()

    def change(name, how):
        return lambda files: files.__setitem__(name, how(files[name]))

    def move_stand_in(files):
        files["ScriptHookV.dll"] = files.pop(STAND_IN)

    def drop_first_page(files):
        del files[next(n for n in files if n.startswith("docs/") and n.endswith(".md"))]

    def warning_later(readme):
        # The warning pushed down past the opening lines by a paragraph.
        head, rest = readme.split(b"\r\n\r\n", 1)
        return head + b"\r\n\r\n" + b"Some words first.\r\n" * WARNING_LINES + b"\r\n" + rest

    def not_stand_in(dll):
        # Words of the same length, so that the resource keeps its layout.
        for word, other in (("stand-in", "the real"), ("Stand-in", "The real")):
            dll = dll.replace(word.encode("utf-16-le"), other.encode("utf-16-le"))
        return dll

    return [
        ("the stand-in at the root", move_stand_in, "a ScriptHookV.dll outside stand-in-host/"),
        ("a page of the documentation left out", drop_first_page, "entries are"),
        ("the unstripped rebound-sim.exe", change("rebound-sim.exe", lambda d: unstripped_exe),
         "rebound-sim.exe: debug sections"),
        ("a link time in the stand-in",
         change(STAND_IN, lambda d: check_dist.patched(d, check_dist.Pe(d).timestamp_offset, 7)),
         f"{STAND_IN}: PE header time"),
        ("a stand-in that does not say it is one", change(STAND_IN, not_stand_in),
         f"{STAND_IN}: FileDescription"),
        ("the warning below the README's first lines", change("README.txt", warning_later),
         "README.txt: its first"),
        ("a scenario with LF line endings",
         change("scenarios/plain-death.json", lambda d: d.replace(b"\r\n", b"\n")),
         "scenarios/plain-death.json: line endings"),
        ("another Rebound.asi", change("Rebound.asi", lambda d: d[:-1] + bytes([d[-1] ^ 1])),
         "Rebound.asi: not the bytes"),
    ]


def repacked_faults(args, built):
    with tempfile.TemporaryDirectory() as tmp:
        packed = []
        for run in ("first", "second"):
            out = os.path.join(tmp, run, os.path.basename(args.zip))
            result = subprocess.run([sys.executable, args.make_dist, "--out", out] +
                                    args.make_dist_args, capture_output=True, text=True)
            if result.returncode != 0:
                return [f"packing again failed: {result.stderr}"]
            with open(out, "rb") as f:
                packed.append(f.read())
    if packed[0] != packed[1]:
        return ["packing twice gives different bytes"]
    if packed[0] != built:
        return [f"packing again gives other bytes than {args.zip}; was it packed from another "
                "commit, or has a scenario or page changed since?"]
    print("  packed twice more: the same bytes")
    return []


def sums_faults(sums_path):
    """SHA256SUMS beside the zips: a line for each zip there, and sha256sum -c
    passes on it, and fails on a copy with one digit changed."""
    folder = os.path.dirname(os.path.abspath(sums_path))
    with open(sums_path, encoding="ascii") as f:
        lines = f.read().splitlines()
    zips = sorted(n for n in os.listdir(folder) if n.endswith(".zip"))
    listed = [line[66:] for line in lines]
    faults = []
    if listed != zips or any(len(line) < 67 or line[64:66] != "  " for line in lines):
        faults.append(f"SHA256SUMS lists {listed}, expected a line for each of {zips}")
    check = subprocess.run(["sha256sum", "--quiet", "-c", os.path.basename(sums_path)],
                           cwd=folder, capture_output=True, text=True)
    if check.returncode != 0:
        faults.append(f"sha256sum -c SHA256SUMS fails:\n{check.stdout}{check.stderr}")
    with tempfile.NamedTemporaryFile("w", suffix=".sums") as wrong:
        first = lines[0] if lines else ""
        flipped = ("1" if first[:1] == "0" else "0") + first[1:]
        wrong.write("\n".join([flipped] + lines[1:]) + "\n")
        wrong.flush()
        check = subprocess.run(["sha256sum", "--quiet", "-c", wrong.name], cwd=folder,
                               capture_output=True, text=True)
        if check.returncode == 0:
            faults.append("sha256sum -c passes with a changed checksum: the check checks nothing")
    if not faults:
        print(f"  {sums_path}: {len(lines)} zips, sha256sum -c passes")
    return faults


def main():
    argv = sys.argv[1:]
    split = argv.index("--") if "--" in argv else len(argv)
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--zip", required=True, help="the modders' package the dist target packed")
    parser.add_argument("--player-zip", required=True, help="the player's package beside it")
    parser.add_argument("--recorder-zip", help="the testers' package beside it, if built")
    parser.add_argument("--version", required=True, help="the project version")
    parser.add_argument("--source-dir", required=True, help="the checkout")
    parser.add_argument("--build-dir", required=True, help="the build tree")
    parser.add_argument("--unstripped-exe", required=True, help="rebound-sim.exe, unstripped")
    parser.add_argument("--make-dist", required=True, help="scripts/make-dist.py")
    parser.add_argument("--sums", required=True, help="the SHA256SUMS written beside the zips")
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
    failures += repacked_faults(args, built)
    failures += sums_faults(args.sums)
    for failure in failures:
        print(f"FAIL: {failure}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
