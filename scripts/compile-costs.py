#!/usr/bin/env python3
"""Where a build tree's compile time goes, from clang's -ftime-trace files.

Configure a clang tree with -DCMAKE_CXX_FLAGS=-ftime-trace and build it: each
object then has a .json trace beside it. This adds them up and prints the
translation units that took longest, and the headers whose parsing cost most
in all of them together (a header's time includes the headers it includes,
counted where it is first reached in each unit), and the templates whose
instantiation cost most.

Usage: compile-costs.py BUILD_DIR [--top N] [--source-dir DIR]
"""

import argparse
import collections
import json
import os
import sys


def traces(build_dir):
    for folder, _, files in os.walk(build_dir):
        for name in files:
            if name.endswith(".json") and (".cpp." in name or ".cxx." in name or ".cc." in name):
                yield os.path.join(folder, name)


def short(path, source_dir):
    if path.startswith(source_dir + os.sep):
        return os.path.relpath(path, source_dir)
    for marker in ("/include/c++/", "/include/"):
        if marker in path:
            return "<" + path.split(marker, 1)[1] + ">"
    return path


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build_dir")
    parser.add_argument("--top", type=int, default=10)
    parser.add_argument("--source-dir", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                        help="the sources the tree was built from (default: this checkout)")
    args = parser.parse_args()
    source_dir = os.path.abspath(args.source_dir)

    units = []
    headers = collections.Counter()
    header_units = collections.Counter()
    templates = collections.Counter()
    for path in traces(args.build_dir):
        try:
            with open(path, encoding="utf-8") as f:
                events = json.load(f).get("traceEvents", [])
        except (OSError, ValueError):
            continue
        total = 0
        # A header's time where it is first reached: a Source event that no
        # other Source event of the unit encloses for the same file.
        seen = set()
        sources = sorted((e for e in events if e.get("name") == "Source" and e.get("ph") == "X"),
                         key=lambda e: e["ts"])
        stack = []
        for event in sources:
            begin, end = event["ts"], event["ts"] + event["dur"]
            while stack and stack[-1] <= begin:
                stack.pop()
            name = event.get("args", {}).get("detail", "")
            if name not in seen and not stack:
                headers[name] += event["dur"]
                header_units[name] += 1
            seen.add(name)
            stack.append(end)
        for event in events:
            if event.get("name") == "Total ExecuteCompiler":
                total = event["dur"]
            elif event.get("name") == "Total InstantiateClass" or event.get("ph") != "X":
                continue
            elif event.get("name") in ("InstantiateFunction", "InstantiateClass"):
                templates[event.get("args", {}).get("detail", "")] += event["dur"]
        units.append((total, os.path.relpath(path, args.build_dir)))

    if not units:
        print(f"compile-costs: no -ftime-trace files under {args.build_dir}", file=sys.stderr)
        return 1
    units.sort(reverse=True)
    print(f"{len(units)} units, {sum(u[0] for u in units) / 1e6:.1f} s in all")
    print(f"\nUnits that took longest:")
    for total, name in units[:args.top]:
        print(f"  {total / 1e6:7.2f} s  {name}")
    print(f"\nHeaders that cost most, reached from the units directly (s in all, units):")
    for name, dur in headers.most_common(args.top):
        print(f"  {dur / 1e6:7.2f} s  {header_units[name]:4d}  {short(name, source_dir)}")
    print(f"\nTemplates that cost most to instantiate (s in all):")
    for name, dur in templates.most_common(args.top):
        print(f"  {dur / 1e6:7.2f} s  {name[:110]}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
