#!/usr/bin/env python3
"""Configures a build tree from its preset, as `cmake --preset NAME` does.

CMake refuses to configure a tree that another generator wrote ("Does not
match the generator used previously"), and a tree cached with another
compiler is configured twice, the first time without the preset's variables
("you may have to reset some variables"), so everything is compiled twice. A
preset that changes either (the windows tree moved from Unix Makefiles to
Ninja, the debug tree from g++ to clang) would stop or slow `make test` in
every clone that built it before. So when the tree's cache names another
generator or compiler than the preset's, its CMakeCache.txt and CMakeFiles/
are removed first (the objects are rebuilt) and that is said.

  configure-preset.py PRESET [CMAKE ARGUMENTS...]
"""

import json
import os
import re
import shutil
import subprocess
import sys

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def load_presets():
    with open(os.path.join(SOURCE_DIR, "CMakePresets.json"), encoding="utf-8") as f:
        return {p["name"]: p for p in json.load(f)["configurePresets"]}


def resolved(presets, name, field, variable=None):
    """The preset's own value of `field` (of the cache variable `variable`
    when `field` is "cacheVariables"), else that of the first it inherits."""
    preset = presets.get(name)
    if preset is None:
        return None
    own = preset.get(field)
    if variable is not None and own is not None:
        own = own.get(variable)
    if own is not None:
        return own
    parents = preset.get("inherits", [])
    for parent in [parents] if isinstance(parents, str) else parents:
        value = resolved(presets, parent, field, variable)
        if value is not None:
            return value
    return None


def cached(binary_dir, variable):
    """The value of `variable` in the tree's CMakeCache.txt, None without one."""
    try:
        with open(os.path.join(binary_dir, "CMakeCache.txt"), encoding="utf-8", errors="replace") as f:
            for line in f:
                m = re.match(re.escape(variable) + r":[A-Z]+=(.*)$", line.rstrip("\n"))
                if m:
                    return m.group(1)
    except FileNotFoundError:
        pass
    return None


def same_program(cached_value, preset_value):
    """Whether the preset's compiler is the cached one (each a name found on
    the PATH, as the preset gives it, or a path, as CMake keeps it)."""
    def where(program):
        return os.path.realpath(shutil.which(program) or program)
    return where(cached_value) == where(preset_value)


def stale_because(presets, name, binary_dir):
    """Why the tree must be configured from scratch, or None."""
    generator = resolved(presets, name, "generator")
    previous = cached(binary_dir, "CMAKE_GENERATOR")
    if generator and previous is not None and previous != generator:
        return f"was written by {previous}, the preset now uses {generator}"
    compiler = resolved(presets, name, "cacheVariables", "CMAKE_CXX_COMPILER")
    previous = cached(binary_dir, "CMAKE_CXX_COMPILER")
    if compiler and previous and not same_program(previous, compiler):
        return f"was configured for {previous}, the preset now uses {compiler}"
    return None


def main(argv):
    if len(argv) < 2 or argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if len(argv) >= 2 else 2
    name = argv[1]
    presets = load_presets()
    if name not in presets:
        print(f"configure-preset: no configure preset named {name!r} in CMakePresets.json", file=sys.stderr)
        return 2
    binary_dir = resolved(presets, name, "binaryDir")
    if binary_dir:
        binary_dir = binary_dir.replace("${sourceDir}", SOURCE_DIR).replace("${presetName}", name)
        reason = stale_because(presets, name, binary_dir)
        if reason:
            print(f"configure-preset: {binary_dir} {reason}: configuring it again from scratch", file=sys.stderr)
            os.remove(os.path.join(binary_dir, "CMakeCache.txt"))
            shutil.rmtree(os.path.join(binary_dir, "CMakeFiles"), ignore_errors=True)
    return subprocess.call(["cmake", "--preset", name, *argv[2:]], cwd=SOURCE_DIR)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
