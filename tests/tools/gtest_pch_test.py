#!/usr/bin/env python3
"""The debug tree's precompiled GoogleTest goes to exactly the test files whose
first include is <gtest/gtest.h>: such a file sees what it would see without
the header, so a file missing an include still fails in this tree. Read from
the tree's compile_commands.json:
  - every file compiled with the header starts with that include;
  - in a program that has the header, every file that starts with it has it
    too (else the header is not doing its work);
  - some program has it.
  gtest_pch_test.py BUILD_DIR
  gtest_pch_test.py --self-test
"""
import json
import os
import re
import shlex
import sys
import tempfile
import unittest

INCLUDE = re.compile(r"^[ \t]*#[ \t]*include\b(.*)$")
GTEST_FIRST = re.compile(r"^[ \t]*<gtest/gtest\.h>")
TARGET = re.compile(r"CMakeFiles/([^/]+)\.dir/")


def first_include(path):
    """What the file's first #include names ("<gtest/gtest.h>", ...), None without one."""
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = INCLUDE.match(line)
            if m:
                return m.group(1).strip()
    return None


def uses_pch(command):
    args = shlex.split(command)
    return any(a == "-include-pch" for a in args) or any(
        a.startswith("-include-pch") and a != "-include-pch" for a in args)


def faults(entries):
    """The faults of a compile_commands.json's entries, as lines of text."""
    found = []
    by_target = {}
    for entry in entries:
        path = entry["file"]
        if not path.endswith((".cpp", ".cc", ".cxx")) or "/CMakeFiles/" in path:
            continue
        command = entry.get("command") or " ".join(shlex.quote(a) for a in entry["arguments"])
        m = TARGET.search(command)
        target = m.group(1) if m else "?"
        first = first_include(path)
        gtest_first = first is not None and GTEST_FIRST.match(first) is not None
        pch = uses_pch(command)
        by_target.setdefault(target, []).append((path, gtest_first, pch))
        if pch and not gtest_first:
            found.append(f"{path}: compiled with the precompiled GoogleTest, but its first include "
                         f"is {first or 'none'}")
    programs = {t: files for t, files in by_target.items() if any(pch for _, _, pch in files)}
    if not programs:
        found.append("no file is compiled with the precompiled GoogleTest")
    for target, files in sorted(programs.items()):
        for path, gtest_first, pch in files:
            if gtest_first and not pch:
                found.append(f"{path}: starts with <gtest/gtest.h> but is compiled without the "
                             f"precompiled header that the rest of {target} has")
    return found


class Faults(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def source(self, name, text):
        path = os.path.join(self.dir.name, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    def entry(self, path, target, pch):
        flags = " -Xclang -include-pch -Xclang x/cmake_pch.hxx.pch" if pch else ""
        return {"file": path, "command":
                f"clang++ -c {path} -o tests/CMakeFiles/{target}.dir/a.o{flags}"}

    def test_the_header_only_where_gtest_comes_first(self):
        gtest = self.source("a_test.cpp", "// A comment.\n#include <gtest/gtest.h>\n#include <string>\n")
        other = self.source("b_test.cpp", "#include \"sim/x.h\"\n#include <gtest/gtest.h>\n")
        second = self.source("d_test.cpp", "#include <gtest/gtest.h>\n")
        cases = [
            ("as built", [self.entry(gtest, "t", True), self.entry(other, "t", False)], []),
            ("header on a file that starts otherwise",
             [self.entry(gtest, "t", True), self.entry(other, "t", True)], ["b_test.cpp"]),
            ("a gtest-first file left out",
             [self.entry(gtest, "t", False), self.entry(second, "t", True),
              self.entry(other, "t", False)], ["a_test.cpp"]),
            ("a program without the header at all",
             [self.entry(gtest, "t", False), self.entry(second, "u", True)], []),
            ("no header anywhere", [self.entry(gtest, "t", False)], ["no file"]),
        ]
        for name, entries, expected in cases:
            with self.subTest(name):
                found = faults(entries)
                self.assertEqual(len(found), len(expected), found)
                for fault, text in zip(found, expected):
                    self.assertIn(text, fault)

    def test_a_file_without_includes_starts_with_nothing(self):
        empty = self.source("c.cpp", "int x;\n")
        found = faults([self.entry(empty, "t", True)])
        self.assertIn("first include is none", found[0])


def main(argv):
    if len(argv) == 2 and argv[1] == "--self-test":
        return 0 if unittest.main(argv=[argv[0]], exit=False).result.wasSuccessful() else 1
    if len(argv) != 2 or argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if len(argv) == 2 else 2
    path = os.path.join(argv[1], "compile_commands.json")
    try:
        with open(path, encoding="utf-8") as f:
            entries = json.load(f)
    except (OSError, ValueError) as e:
        print(f"gtest_pch_test: cannot read {path}: {e}", file=sys.stderr)
        return 2
    found = faults(entries)
    for fault in found:
        print(f"FAIL: {fault}")
    if found:
        return 1
    with_header = sum(1 for e in entries if uses_pch(e.get("command", "")))
    print(f"{with_header} files compiled with the precompiled GoogleTest, each starting with it")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
