#!/usr/bin/env python3
"""Writes a package: a zip of stripped Windows programs and DLLs and their texts.

The player's package holds the plug-in DLL and its texts; the modders' package
holds the simulator too (rebound-sim.exe, its stand-in host DLL in a folder of
its own, the plug-ins), the shipped scenarios and the documentation, whose
files are looked up when the package is packed, so that a page added since the
build was configured is packed too.

The same inputs always give the same bytes, so that anyone can rebuild a
release from its commit and compare:
  - the DLL is stripped with SOURCE_DATE_EPOCH=0, which keeps the strip tool
    from writing the current time into the PE header (the linker leaves it 0);
  - every entry carries the same time, SOURCE_DATE_EPOCH from the environment
    or else the time of the checked-out commit (1980-01-01 without a commit);
  - entries keep the order given, with fixed permissions and compression;
  - text files get Windows line endings (CRLF), whatever the checkout has.
Every program and DLL is stripped that way. A plug-in DLL is checked with
scripts/check-dll-imports.sh before it is packed: a DLL that the game's loader
would drop never reaches a player. Any other program or DLL must import no
MinGW runtime DLL, which a modder's Windows would not have.

Usage:
  make-dist.py --out ZIP ENTRY... [options]
where each ENTRY, packed in the order given, is one of
  --dll PATH            a plug-in DLL, under its own file name
  --plugin NAME=PATH    a plug-in DLL, as NAME
  --binary NAME=PATH    a program or another DLL, as NAME
  --text NAME=PATH      a text file, as NAME
  --texts DIR=PATTERN   every text file the pattern matches, as DIR/<its name>, in
                        order of name; at least one must match
  --files DIR=PATTERN   every file the pattern matches, as it is, as DIR/<its name>,
                        in order of name; none need match
"""

import argparse
import datetime
import glob
import os
import subprocess
import sys
import tempfile
import zipfile

# 1980-01-01 00:00:00 UTC: the earliest time a zip entry can carry.
ZIP_EPOCH_MIN = 315532800
# Regular file, rw-r--r--, as a Unix unzip restores it (Windows ignores it).
ENTRY_MODE = 0o100644


def fail(message):
    print(f"make-dist: {message}", file=sys.stderr)
    sys.exit(1)


def source_date_epoch(source_dir):
    """SOURCE_DATE_EPOCH if set, else the commit time of the checkout."""
    value = os.environ.get("SOURCE_DATE_EPOCH")
    origin = "SOURCE_DATE_EPOCH"
    if value is None:
        origin = f"the last commit of {source_dir}"
        try:
            value = subprocess.run(["git", "-C", source_dir, "log", "-1", "--format=%ct"],
                                   check=True, capture_output=True, text=True).stdout.strip()
        except (OSError, subprocess.CalledProcessError):
            # A source tree without its history (an unpacked archive) still
            # packs the same bytes every time, dated at the earliest zip time.
            print(f"make-dist: no SOURCE_DATE_EPOCH and no commit in {source_dir}: "
                  "dating the entries 1980-01-01", file=sys.stderr)
            return ZIP_EPOCH_MIN
    try:
        epoch = int(value)
    except ValueError:
        fail(f"{origin} is not a whole number of seconds: {value!r}")
    if epoch < 0:
        fail(f"{origin} is negative: {epoch}")
    return max(epoch, ZIP_EPOCH_MIN)


def zip_time(epoch):
    t = datetime.datetime.fromtimestamp(epoch, tz=datetime.timezone.utc)
    # Zip times count in steps of two seconds.
    return (t.year, t.month, t.day, t.hour, t.minute, t.second - t.second % 2)


def crlf(data, name):
    if b"\r" in data.replace(b"\r\n", b""):
        fail(f"{name}: a carriage return outside a CRLF line ending")
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


# A MinGW runtime DLL (libstdc++-6.dll, libgcc_s_seh-1.dll,
# libwinpthread-1.dll): Windows has none of them, so a program that imports
# one does not start.
def runtime_imports(args, path):
    result = subprocess.run([args.objdump, "-p", path], capture_output=True, text=True)
    if result.returncode != 0:
        fail(f"{args.objdump} cannot read {path}:\n{result.stderr}")
    dlls = [line.split(":", 1)[1].strip() for line in result.stdout.splitlines()
            if line.startswith("\tDLL Name:")]
    return [dll for dll in dlls if dll.lower().startswith("lib") and dll.lower().endswith(".dll")]


def stripped(args, workdir, name, path, plugin):
    out = os.path.join(workdir, f"{len(os.listdir(workdir))}-{os.path.basename(path)}")
    env = dict(os.environ, SOURCE_DATE_EPOCH="0")
    result = subprocess.run([args.strip, "--strip-all", "-o", out, path], env=env,
                            capture_output=True, text=True)
    if result.returncode != 0:
        fail(f"{args.strip} failed on {path}:\n{result.stdout}{result.stderr}")
    if plugin:
        check = subprocess.run(["bash", args.check_imports, out], capture_output=True, text=True)
        if check.returncode != 0:
            fail(f"the stripped DLL fails the import check:\n{check.stdout}{check.stderr}")
    else:
        runtime = runtime_imports(args, out)
        if runtime:
            fail(f"{name} ({path}) imports the MinGW runtime DLLs {', '.join(runtime)}: "
                 "link the runtime statically")
    with open(out, "rb") as f:
        return f.read()


def read_text(path):
    try:
        with open(path, "rb") as f:
            return crlf(f.read(), path)
    except OSError as error:
        fail(f"cannot read {path}: {error.strerror}")


def read_file(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as error:
        fail(f"cannot read {path}: {error.strerror}")


def name_and_path(option, value):
    name, sep, path = value.partition("=")
    if not sep or not name or not path:
        fail(f"{option} needs NAME=PATH, got {value!r}")
    parts = name.split("/")
    if name.startswith("/") or "\\" in name or any(p in ("", ".", "..") for p in parts):
        fail(f"{option} {value!r}: the entry name must be a relative path with '/' between folders")
    return name, path


def matches(option, folder, pattern):
    """(entry name, path) of each file that `pattern` matches, in order of name."""
    paths = [p for p in glob.glob(pattern) if os.path.isfile(p)]
    if option == "--texts" and not paths:
        fail(f"--texts {folder}={pattern}: no file matches")
    return [(f"{folder}/{os.path.basename(p)}", p)
            for p in sorted(paths, key=os.path.basename)]


def entries_of(args, workdir):
    """Each entry's name and bytes, in the order the options gave them."""
    entries = []
    for option, value in args.entries:
        if option == "--dll":
            entries.append((os.path.basename(value),
                            stripped(args, workdir, os.path.basename(value), value, True)))
            continue
        name, path = name_and_path(option, value)
        if option in ("--plugin", "--binary"):
            entries.append((name, stripped(args, workdir, name, path, option == "--plugin")))
        elif option == "--text":
            entries.append((name, read_text(path)))
        else:
            for entry, found in matches(option, name, path):
                entries.append(
                    (entry, read_text(found) if option == "--texts" else read_file(found)))
    return entries


def write_zip(out, entries, date_time):
    out_dir = os.path.dirname(os.path.abspath(out))
    os.makedirs(out_dir, exist_ok=True)
    # Written beside the target and renamed, so that a failed run never
    # leaves a half-written zip under the package's name.
    fd, partial = tempfile.mkstemp(dir=out_dir, suffix=".partial")
    try:
        with os.fdopen(fd, "wb") as f, zipfile.ZipFile(f, "w") as zf:
            for name, data in entries:
                info = zipfile.ZipInfo(name, date_time)
                info.create_system = 3  # Unix, so that the permissions below are read
                info.external_attr = ENTRY_MODE << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                zf.writestr(info, data, compresslevel=9)
        os.chmod(partial, 0o644)
        os.replace(partial, out)
    except BaseException:
        os.unlink(partial)
        raise


class Entry(argparse.Action):
    """Keeps every entry option in one list, in the order given."""

    def __call__(self, parser, namespace, values, option_string=None):
        namespace.entries.append((option_string, values))


def main():
    parser = argparse.ArgumentParser(
        description="Write a package: stripped Windows programs and DLLs and their texts in a "
        "reproducible zip.")
    parser.set_defaults(entries=[])
    parser.add_argument("--out", required=True, help="the zip to write")
    parser.add_argument("--dll", action=Entry, metavar="PATH",
                        help="a plug-in DLL, stripped, import-checked and packed under its name")
    parser.add_argument("--plugin", action=Entry, metavar="NAME=PATH",
                        help="a plug-in DLL, stripped, import-checked and packed as NAME")
    parser.add_argument("--binary", action=Entry, metavar="NAME=PATH",
                        help="a program or another DLL, stripped and packed as NAME")
    parser.add_argument("--text", action=Entry, metavar="NAME=PATH",
                        help="a text file to pack as NAME with CRLF line endings")
    parser.add_argument("--texts", action=Entry, metavar="DIR=PATTERN",
                        help="the text files PATTERN matches when packing, as DIR/NAME with CRLF "
                        "line endings, in order of name (at least one)")
    parser.add_argument("--files", action=Entry, metavar="DIR=PATTERN",
                        help="the files PATTERN matches when packing, as they are, as DIR/NAME "
                        "in order of name (none need match)")
    parser.add_argument("--strip", default="x86_64-w64-mingw32-strip", help="the strip tool")
    parser.add_argument("--objdump", default="x86_64-w64-mingw32-objdump",
                        help="the objdump that lists a program's imports")
    parser.add_argument("--check-imports",
                        default=os.path.join(os.path.dirname(__file__), "check-dll-imports.sh"),
                        help="the DLL import check script")
    parser.add_argument("--source-dir", default=os.path.join(os.path.dirname(__file__), ".."),
                        help="the checkout whose commit time dates the entries "
                        "when SOURCE_DATE_EPOCH is not set")
    args = parser.parse_args()
    if not args.entries:
        parser.error("nothing to pack: give at least one entry")

    date_time = zip_time(source_date_epoch(args.source_dir))
    with tempfile.TemporaryDirectory() as workdir:
        entries = entries_of(args, workdir)
    names = [name for name, _ in entries]
    if len(set(names)) != len(names):
        fail(f"an entry name appears twice: {names}")
    write_zip(args.out, entries, date_time)
    print(f"make-dist: wrote {args.out} ({len(names)} entries: {', '.join(names)})")


if __name__ == "__main__":
    main()
