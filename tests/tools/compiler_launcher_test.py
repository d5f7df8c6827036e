#!/usr/bin/env python3
"""scripts/compiler-cache.sh, the compiler launcher of every preset: an
ordinary compile reaches the compiler with its arguments as given; a
precompiled header is made in the machine's cache folder, from a copy of its
source named by the source's checksum, so that two clones give the compiler
the same paths, and lands where the build asked; without a usable cache
folder, or when the compiler fails, nothing is left half-written."""

import os
import shutil
import stat
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
LAUNCHER = os.path.join(HERE, "..", "..", "scripts", "compiler-cache.sh")

# Writes its arguments, a line each, to $ARGS_LOG; with -o, writes "made from
# SOURCE" there; fails when $FAIL is set.
FAKE_COMPILER = """#!/bin/sh
printf '%s\\n' "$@" >"$ARGS_LOG"
[ -z "$FAIL" ] || exit 7
out= next= source=
for arg do
  [ "$next" = -o ] && out=$arg
  [ "$next" = -c ] && source=$arg
  next=$arg
done
[ -z "$out" ] || printf 'made from %s\\n' "$source" >"$out"
"""


class Launcher(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)
        self.compiler = os.path.join(self.dir, "fake-c++")
        with open(self.compiler, "w") as f:
            f.write(FAKE_COMPILER)
        os.chmod(self.compiler, stat.S_IRWXU)
        self.cache = os.path.join(self.dir, "cache")
        self.log = os.path.join(self.dir, "args.log")

    def clone(self, name, text="#include <gtest/gtest.h>\n"):
        source = os.path.join(self.dir, name, "tests", "support", "gtest_header.cpp")
        os.makedirs(os.path.dirname(source))
        with open(source, "w") as f:
            f.write(text)
        os.makedirs(os.path.join(self.dir, name, "build"))
        return source, os.path.join(self.dir, name, "build", "gtest_header.cpp.o")

    def launch(self, *args, fail=False, cache=None):
        env = dict(os.environ, REBOUND_NO_CCACHE="1", ARGS_LOG=self.log,
                   XDG_CACHE_HOME=cache or self.cache)
        env.pop("FAIL", None)
        if fail:
            env["FAIL"] = "1"
        status = subprocess.run(["sh", LAUNCHER, self.compiler, *args], env=env).returncode
        with open(self.log) as f:
            return status, f.read().splitlines()

    def header(self, source, out, **kwargs):
        return self.launch("-std=c++20", "-x", "c++-header", "-o", out, "-c", source, **kwargs)

    def test_an_ordinary_compile_keeps_its_arguments(self):
        args = ["-I/x", "-x", "c++", "-o", "a.o", "-c", "a.cpp"]
        self.assertEqual(self.launch(*args), (0, args))

    def test_a_header_is_made_in_the_cache_folder_the_same_for_every_clone(self):
        seen = []
        for name in ("clone-a", "clone-b"):
            source, out = self.clone(name)
            status, args = self.header(source, out)
            self.assertEqual(status, 0)
            seen.append(args)
            work = os.path.dirname(args[args.index("-o") + 1])
            self.assertEqual(os.path.dirname(work), os.path.join(self.cache, "rebound-pch"))
            self.assertEqual(args[args.index("-c") + 1], os.path.join(work, "gtest_header.cpp"))
            with open(out) as f:
                self.assertEqual(f.read(), f"made from {work}/gtest_header.cpp\n")
            self.assertFalse(os.path.exists(out + ".tmp"))
        self.assertEqual(seen[0], seen[1])

    def test_another_source_gets_another_folder_and_a_copy_is_never_changed(self):
        first, out_a = self.clone("clone-a")
        second, out_b = self.clone("clone-b", "#include <gtest/gtest.h>\n// changed\n")
        folders = []
        for source, out in ((first, out_a), (second, out_b), (first, out_a)):
            status, args = self.header(source, out)
            self.assertEqual(status, 0)
            copy = args[args.index("-c") + 1]
            folders.append(os.path.dirname(copy))
            with open(copy) as f, open(source) as g:
                self.assertEqual(f.read(), g.read())
        self.assertNotEqual(folders[0], folders[1])
        self.assertEqual(folders[0], folders[2])

    def test_without_a_usable_cache_folder_the_header_is_made_where_asked(self):
        source, out = self.clone("clone-a")
        not_a_folder = os.path.join(self.dir, "plain-file")
        open(not_a_folder, "w").close()
        status, args = self.header(source, out, cache=not_a_folder)
        self.assertEqual(status, 0)
        self.assertEqual(args[args.index("-o") + 1], out)
        self.assertEqual(args[args.index("-c") + 1], source)

    def test_a_failed_compile_fails_and_leaves_no_header(self):
        source, out = self.clone("clone-a")
        status, _ = self.header(source, out, fail=True)
        self.assertNotEqual(status, 0)
        self.assertFalse(os.path.exists(out))
        self.assertFalse(os.path.exists(out + ".tmp"))


if __name__ == "__main__":
    unittest.main()
