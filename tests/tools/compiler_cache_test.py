#!/usr/bin/env python3
"""scripts/compiler-cache.sh, the compiler launcher of every preset, with a
stand-in compiler and a stand-in ccache: the compile goes through ccache when
its folder can be written, straight to the compiler otherwise or when
REBOUND_NO_CCACHE is set, and the compilers' heap asks for huge pages without
losing the caller's own glibc settings."""

import os
import shutil
import stat
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.abspath(os.path.join(HERE, "..", "..", "scripts", "compiler-cache.sh"))

# Each stand-in prints who ran, its arguments and the settings it was given.
STAND_IN = """#!/bin/sh
echo "{name} $* | tunables=${{GLIBC_TUNABLES:-}} basedir=${{CCACHE_BASEDIR:-}}"
"""


def write_program(folder, name):
    path = os.path.join(folder, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(STAND_IN.format(name=name))
    os.chmod(path, os.stat(path).st_mode | stat.S_IEXEC)
    return path


class Launcher(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.bin = os.path.join(self.dir.name, "bin")
        os.mkdir(self.bin)
        self.compiler = write_program(self.bin, "cxx")
        # The system's mkdir, and no ccache but the stand-in, when there is one.
        os.symlink(shutil.which("mkdir"), os.path.join(self.bin, "mkdir"))
        self.cache = os.path.join(self.dir.name, "cache")
        self.env = {"PATH": self.bin, "HOME": self.dir.name, "CCACHE_DIR": self.cache}

    def tearDown(self):
        self.dir.cleanup()

    def launch(self, **env):
        done = subprocess.run(["/bin/sh", SCRIPT, self.compiler, "-c", "a.cpp"],
                              env=dict(self.env, **env), capture_output=True, text=True,
                              check=False)
        self.assertEqual(done.returncode, 0, done.stderr)
        return done.stdout.strip()

    def test_the_heap_asks_for_huge_pages_and_keeps_the_callers_settings(self):
        cases = [
            (None, "glibc.malloc.hugetlb=1"),
            ("", "glibc.malloc.hugetlb=1"),
            ("glibc.malloc.arena_max=2", "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1"),
            ("glibc.malloc.hugetlb=0", "glibc.malloc.hugetlb=0"),
            ("glibc.malloc.arena_max=2:glibc.malloc.hugetlb=0",
             "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=0"),
        ]
        for given, expected in cases:
            with self.subTest(given=given):
                env = {} if given is None else {"GLIBC_TUNABLES": given}
                self.assertIn(f"tunables={expected} ", self.launch(**env))

    def test_without_ccache_the_compiler_runs_itself(self):
        self.assertTrue(self.launch().startswith("cxx -c a.cpp "))

    def test_ccache_runs_the_compiler_with_paths_taken_from_the_clone(self):
        write_program(self.bin, "ccache")
        out = self.launch()
        root = os.path.dirname(os.path.dirname(SCRIPT))
        self.assertTrue(out.startswith(f"ccache {self.compiler} -c a.cpp "), out)
        self.assertIn(f"basedir={root}", out)
        self.assertTrue(os.path.isdir(self.cache))

    def test_a_cache_that_cannot_be_used_never_fails_the_compile(self):
        write_program(self.bin, "ccache")
        blocker = os.path.join(self.dir.name, "file")
        with open(blocker, "w", encoding="utf-8") as f:
            f.write("not a folder")
        cases = [
            ("a folder under a plain file", {"CCACHE_DIR": os.path.join(blocker, "ccache")}),
            ("switched off", {"REBOUND_NO_CCACHE": "1"}),
        ]
        for name, env in cases:
            with self.subTest(name):
                self.assertTrue(self.launch(**env).startswith("cxx -c a.cpp "))


if __name__ == "__main__":
    unittest.main()
