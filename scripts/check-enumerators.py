#!/usr/bin/env python3
"""Checks how enumerators are named.

- A scoped enumeration's (`enum class`) enumerators are named like types,
  UpperCamelCase: `FlowPhase::Watching`, `ExitStatus::BadInput`. They are
  always written with their type's name, which already says they are fixed.
- An unscoped enumeration's enumerators are constants of the enclosing scope
  (a record's type byte, the loader's reason codes) and are named as
  constants are: `kName`. The HUD's entry states (HudBarEntryState) are the
  one exception: their documented names are the bar layout's own.

Every enumerator named otherwise is printed as FILE:LINE: and the status is
1. Comments, strings and preprocessor lines are set aside first, as
check-function-length.py does.

Usage: check-enumerators.py PATH...
"""
import importlib.machinery
import pathlib
import re
import sys
import types

_loader = importlib.machinery.SourceFileLoader(
    "check_function_length", str(pathlib.Path(__file__).with_name("check-function-length.py")))
_shape = types.ModuleType(_loader.name)
_loader.exec_module(_shape)

ENUM = re.compile(r"\benum\b(?P<scoped>\s+(?:class|struct)\b)?\s*(?P<name>\w*)\s*"
                  r"(?::\s*[\w:\s]+)?\{(?P<body>[^{}]*)\}")
CONSTANT = re.compile(r"^k[A-Z0-9]\w*$")
TYPE_LIKE = re.compile(r"^[A-Z][A-Za-z0-9]*$")
# Unscoped enumerations whose enumerators keep documented, type-like names.
TYPE_LIKE_UNSCOPED = {"HudBarEntryState"}


def enumerators(text):
    """(line, enumeration, scoped, enumerator) of every enumerator in `text`."""
    blank = _shape.blank_out(text)
    for match in ENUM.finditer(blank):
        offset = match.start("body")
        for part in re.finditer(r"[^,]+", match.group("body")):
            name = part.group(0).split("=")[0].strip()
            if not name:
                continue
            at = offset + part.start() + part.group(0).index(name)
            line = blank.count("\n", 0, at) + 1
            yield line, match.group("name"), bool(match.group("scoped")), name


def faults(path, text):
    for line, enumeration, scoped, name in enumerators(text):
        if scoped or enumeration in TYPE_LIKE_UNSCOPED:
            if not TYPE_LIKE.match(name) or CONSTANT.match(name):
                yield f"{path}:{line}: {enumeration}::{name}: name it like a type (Name)"
        elif not CONSTANT.match(name):
            yield f"{path}:{line}: {name} of unscoped {enumeration or 'enum'}: name it as a constant (kName)"


def main():
    paths = [pathlib.Path(p) for p in sys.argv[1:]]
    if not paths or any(p in ("-h", "--help") for p in sys.argv[1:]):
        print(__doc__.strip())
        return 0 if paths else 2
    found = []
    for path in paths:
        files = sorted(path.rglob("*")) if path.is_dir() else [path]
        for file in files:
            if file.suffix in (".h", ".cpp"):
                found.extend(faults(file, file.read_text(encoding="utf-8")))
    for fault in found:
        print(fault)
    print(f"check-enumerators: {len(found)} misnamed", file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
