#!/usr/bin/env python3
"""Checks that the recording build leaves the player's DLL alone.

Configures a small tree beside the Windows build with the recorder switched
off (REBOUND_RECORDER=OFF, no simulator, no tests), builds only the player's
plug-in there, and compares it, stripped as the package strips it, with the
Windows build's Rebound.asi. Any byte that the option changes in the player's
DLL fails the test. The tree is kept, so a later run rebuilds only what
changed.

Usage: player_dll_without_recorder.py --dll REBOUND_ASI --source-dir DIR --tree DIR
           --toolchain FILE --generator NAME --build-type TYPE --strip TOOL
           [--cache NAME=VALUE ...]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

RECORDER_TARGET = "rebound_plugin_recorder"


def run(command, what):
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        print(f"FAIL: {what} failed (status {result.returncode}):\n"
              f"{' '.join(command)}\n{result.stdout}{result.stderr}")
        sys.exit(1)
    return result.stdout


def stripped(strip, path, workdir, label):
    # As scripts/make-dist.py strips it: SOURCE_DATE_EPOCH=0 keeps the strip
    # tool from writing the current time into the PE header.
    out = os.path.join(workdir, label + ".asi")
    env = dict(os.environ, SOURCE_DATE_EPOCH="0")
    result = subprocess.run([strip, "--strip-all", "-o", out, path], env=env,
                            capture_output=True, text=True)
    if result.returncode != 0:
        print(f"FAIL: {strip} failed on {path}:\n{result.stdout}{result.stderr}")
        sys.exit(1)
    with open(out, "rb") as f:
        return f.read()


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def cached_generator(tree):
    """The generator named in the tree's CMakeCache.txt, None without one."""
    try:
        with open(os.path.join(tree, "CMakeCache.txt"), encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.startswith("CMAKE_GENERATOR:INTERNAL="):
                    return line.rstrip("\n").split("=", 1)[1]
    except FileNotFoundError:
        pass
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--dll", required=True, help="the Windows build's Rebound.asi")
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--tree", required=True, help="the build tree to configure with the option off")
    parser.add_argument("--toolchain", required=True)
    parser.add_argument("--generator", required=True)
    parser.add_argument("--build-type", required=True)
    parser.add_argument("--strip", required=True)
    parser.add_argument("--cache", action="append", default=[], metavar="NAME=VALUE",
                        help="a cache setting the Windows build was configured with")
    args = parser.parse_args()

    started = time.monotonic()
    configure = ["cmake", "-S", args.source_dir, "-B", args.tree, "-G", args.generator,
                 f"-DCMAKE_TOOLCHAIN_FILE={args.toolchain}",
                 f"-DCMAKE_BUILD_TYPE={args.build_type}",
                 "-DREBOUND_RECORDER=OFF", "-DREBOUND_SIM=OFF", "-DREBOUND_TEST=OFF",
                 "-DREBOUND_BENCH=OFF"] + [f"-D{setting}" for setting in args.cache]
    # A tree kept from a build with another generator is configured afresh:
    # CMake refuses to switch a tree's generator.
    if cached_generator(args.tree) not in (None, args.generator):
        configure.append("--fresh")
    run(configure, "configuring the tree without the recorder")
    # The option must have taken: with the recorder's target still there the
    # comparison below would prove nothing.
    targets = run(["cmake", "--build", args.tree, "--target", "help"], "listing the targets")
    if RECORDER_TARGET in targets:
        print(f"FAIL: {args.tree} was configured with REBOUND_RECORDER=OFF and still has "
              f"the target {RECORDER_TARGET}")
        sys.exit(1)
    run(["cmake", "--build", args.tree, "--target", "rebound_plugin", "-j2"],
        "building the player's plug-in without the recorder")
    built = time.monotonic() - started
    without = os.path.join(args.tree, os.path.basename(args.dll))
    if not os.path.isfile(without):
        print(f"FAIL: the tree without the recorder built no {without}")
        sys.exit(1)

    with tempfile.TemporaryDirectory() as workdir:
        with_option = stripped(args.strip, args.dll, workdir, "with")
        without_option = stripped(args.strip, without, workdir, "without")
    print(f"{args.dll}: {len(with_option)} bytes stripped (recorder option on)")
    print(f"{without}: {len(without_option)} bytes stripped (option off; configured and "
          f"built in {built:.0f} s)")
    if with_option != without_option:
        at = first_difference(with_option, without_option)
        print(f"FAIL: the player's DLL differs with the recorder option on and off, first at "
              f"byte 0x{at:x} of the stripped files")
        sys.exit(1)
    print("the same bytes")


if __name__ == "__main__":
    main()
