#!/usr/bin/env python3
"""Writes the player's package, a zip of the stripped plug-in DLL and its texts.

The same inputs always give the same bytes, so that anyone can rebuild a
release from its commit and compare:
  - the DLL is stripped with SOURCE_DATE_EPOCH=0, which keeps the strip tool
    from writing the current time into the PE header (the linker leaves it 0);
  - every entry carries the same time, SOURCE_DATE_EPOCH from the environment
    or else the time of the checked-out commit (1980-01-01 without a commit);
  - entries keep the order given, with fixed permissions and compression;
  - text files get Windows line endings (CRLF), whatever the checkout has.
The DLL is checked with scripts/check-dll-imports.sh before it is packed: a
DLL that the game's loader would drop never reaches a player.

Usage:
  make-dist.py --out ZIP --dll PATH [--text NAME=PATH ...] [options]
"""

import argparse
import datetime
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


def stripped_dll(args, workdir):
    out = os.path.join(workdir, os.path.basename(args.dll))
    env = dict(os.environ, SOURCE_DATE_EPOCH="0")
    result = subprocess.run([args.strip, "--strip-all", "-o", out, args.dll], env=env,
                            capture_output=True, text=True)
    if result.returncode != 0:
        fail(f"{args.strip} failed on {args.dll}:\n{result.stdout}{result.stderr}")
    check = subprocess.run(["bash", args.check_imports, out], capture_output=True, text=True)
    if check.returncode != 0:
        fail(f"the stripped DLL fails the import check:\n{check.stdout}{check.stderr}")
    with open(out, "rb") as f:
        return f.read()


def main():
    parser = argparse.ArgumentParser(
        description="Write the player's package: the stripped plug-in DLL and its texts in a "
        "reproducible zip.")
    parser.add_argument("--out", required=True, help="the zip to write")
    parser.add_argument("--dll", required=True, help="the unstripped plug-in DLL")
    parser.add_argument("--text", action="append", default=[], metavar="NAME=PATH",
                        help="a text file to pack as NAME with CRLF line endings (repeatable; "
                        "entries keep this order, after the DLL)")
    parser.add_argument("--strip", default="x86_64-w64-mingw32-strip", help="the strip tool")
    parser.add_argument("--check-imports",
                        default=os.path.join(os.path.dirname(__file__), "check-dll-imports.sh"),
                        help="the DLL import check script")
    parser.add_argument("--source-dir", default=os.path.join(os.path.dirname(__file__), ".."),
                        help="the checkout whose commit time dates the entries "
                        "when SOURCE_DATE_EPOCH is not set")
    args = parser.parse_args()

    date_time = zip_time(source_date_epoch(args.source_dir))
    with tempfile.TemporaryDirectory() as workdir:
        entries = [(os.path.basename(args.dll), stripped_dll(args, workdir))]
    for entry in args.text:
        name, sep, path = entry.partition("=")
        if not sep or not name or not path:
            fail(f"--text needs NAME=PATH, got {entry!r}")
        try:
            with open(path, "rb") as f:
                entries.append((name, crlf(f.read(), path)))
        except OSError as error:
            fail(f"cannot read {path}: {error.strerror}")
    names = [name for name, _ in entries]
    if len(set(names)) != len(names):
        fail(f"an entry name appears twice: {names}")

    out_dir = os.path.dirname(os.path.abspath(args.out))
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
        os.replace(partial, args.out)
    except BaseException:
        os.unlink(partial)
        raise
    print(f"make-dist: wrote {args.out} ({', '.join(names)})")


if __name__ == "__main__":
    main()
