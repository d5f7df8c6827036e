#!/usr/bin/env python3
"""Writes DIR/SHA256SUMS: the SHA-256 of every zip in DIR, in order of name.

The format is sha256sum's ("<64 hex digits>  <name>", one line each, LF), so
that `sha256sum -c SHA256SUMS` in DIR checks every zip, and a player on
Windows can compare a line with what `certutil -hashfile NAME SHA256` or
PowerShell's Get-FileHash prints. Prints what it wrote.

Usage: write-sha256sums.py DIR
"""

import hashlib
import os
import sys
import tempfile


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        sys.exit(2)
    folder = sys.argv[1]
    try:
        zips = sorted(n for n in os.listdir(folder)
                      if n.endswith(".zip") and os.path.isfile(os.path.join(folder, n)))
    except OSError as error:
        print(f"write-sha256sums: cannot list {folder}: {error.strerror}", file=sys.stderr)
        sys.exit(1)
    if not zips:
        print(f"write-sha256sums: no zip in {folder}", file=sys.stderr)
        sys.exit(1)
    lines = []
    for name in zips:
        with open(os.path.join(folder, name), "rb") as f:
            lines.append(f"{hashlib.sha256(f.read()).hexdigest()}  {name}\n")
    # Renamed into place, so that a failed run never leaves a partial list.
    fd, partial = tempfile.mkstemp(dir=folder, suffix=".partial")
    try:
        with os.fdopen(fd, "w", newline="\n") as f:
            f.writelines(lines)
        os.chmod(partial, 0o644)
        os.replace(partial, os.path.join(folder, "SHA256SUMS"))
    except BaseException:
        os.unlink(partial)
        raise
    print(f"write-sha256sums: {os.path.join(folder, 'SHA256SUMS')}")
    print("".join(lines), end="")


if __name__ == "__main__":
    main()
