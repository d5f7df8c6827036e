#!/usr/bin/env python3
"""scripts/compiler-cache.sh, the compiler launcher of every preset, with a
stand-in compiler and a stand-in ccache: the compile goes through ccache when
its folder can be written, straight to the compiler otherwise or when
REBOUND_NO_CCACHE is set, and the compilers' heap asks for huge pages without
losing the caller's own glibc settings. A precompiled header is compiled
without the cache, with a checksum of its inputs beside it that is the same in
every clone; a file that uses the header reaches ccache without the header's
second, clone-bound name."""

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


# A stand-in clang making a precompiled header: writes the output and a depfile
# naming the files it read (PCH_INPUTS), or fails with status 3 when FAIL is set.
PCH_COMPILER = """#!/bin/sh
out='' dep='' prev=''
for a in "$@"; do
  case $prev in -o) out=$a ;; -MF) dep=$a ;; esac
  prev=$a
done
[ "$1" = --version ] && { echo "stand-in clang 1.0"; exit 0; }
[ -n "${FAIL:-}" ] && exit 3
echo "made from $PCH_INPUTS" > "$out"
printf '%s:' "$out" > "$dep"
for f in $PCH_INPUTS; do printf ' \\\n  %s' "$f" >> "$dep"; done
echo >> "$dep"
"""


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


    def test_a_file_using_a_precompiled_header_reaches_ccache_without_its_source_header(self):
        write_program(self.bin, "ccache")
        header = "/clone/build/CMakeFiles/t.dir/cmake_pch.hxx"
        uses = ["-Xclang", "-include-pch", "-Xclang", header + ".pch",
                "-Xclang", "-include", "-Xclang", header]
        other = ["-Xclang", "-include", "-Xclang", "/clone/other.h"]
        cases = [
            ("the header and its source", uses, uses[:4]),
            ("an include of another header kept", uses[:4] + other, uses[:4] + other),
            ("no precompiled header", other, other),
        ]
        for name, given, expected in cases:
            with self.subTest(name):
                done = subprocess.run(["/bin/sh", SCRIPT, self.compiler, *given, "-c", "a.cpp"],
                                      env=self.env, capture_output=True, text=True, check=True)
                self.assertEqual(done.stdout.split(" | ")[0],
                                 " ".join(["ccache", self.compiler, *expected, "-c", "a.cpp"]))
        # Without ccache the compiler gets the command as CMake wrote it.
        os.remove(os.path.join(self.bin, "ccache"))
        done = subprocess.run(["/bin/sh", SCRIPT, self.compiler, *uses, "-c", "a.cpp"],
                              env=self.env, capture_output=True, text=True, check=True)
        self.assertEqual(done.stdout.split(" | ")[0], " ".join(["cxx", *uses, "-c", "a.cpp"]))


class PrecompiledHeader(unittest.TestCase):
    """Two clones, each with its own copy of the launcher, make the same
    precompiled header from the same inputs."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        bin_dir = os.path.join(self.dir.name, "bin")
        os.mkdir(bin_dir)
        write_program(bin_dir, "ccache")  # never used for the header
        self.compiler = os.path.join(bin_dir, "clang")
        with open(self.compiler, "w", encoding="utf-8") as f:
            f.write(PCH_COMPILER)
        os.chmod(self.compiler, 0o755)
        self.env = {"PATH": bin_dir + os.pathsep + os.environ["PATH"], "HOME": self.dir.name,
                    "CCACHE_DIR": os.path.join(self.dir.name, "cache")}
        self.system_header = os.path.join(self.dir.name, "system.h")
        self.write(self.system_header, "int system;\n")

    @staticmethod
    def write(path, text):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)

    def clone(self, name):
        root = os.path.join(self.dir.name, name)
        os.makedirs(os.path.join(root, "scripts"))
        shutil.copy(SCRIPT, os.path.join(root, "scripts"))
        self.write(os.path.join(root, "build", "cmake_pch.hxx"), "#include <system.h>\n")
        return root

    def make(self, root, **env):
        """(status, output, the .sum's text or None) of making the header in `root`."""
        build = os.path.join(root, "build")
        hxx = os.path.join(build, "cmake_pch.hxx")
        env = dict(self.env, PCH_INPUTS=f"{hxx} {self.system_header}", **env)
        done = subprocess.run(
            ["/bin/sh", os.path.join(root, "scripts", "compiler-cache.sh"), self.compiler,
             "-Xclang", "-emit-pch", "-Xclang", "-include", "-Xclang", hxx, "-x", "c++-header",
             "-MD", "-MF", "pch.d", "-o", "cmake_pch.hxx.pch", "-c", hxx + ".cxx"],
            cwd=build, env=env, capture_output=True, text=True, check=False)
        checksum = os.path.join(build, "cmake_pch.hxx.pch.sum")
        if not os.path.exists(checksum):
            return done.returncode, done.stdout, None
        with open(checksum, encoding="utf-8") as f:
            return done.returncode, done.stdout, f.read()

    def test_the_checksum_is_the_same_in_every_clone_and_follows_the_inputs(self):
        first, second = self.clone("one"), self.clone("two")
        status, output, one = self.make(first)
        self.assertEqual((status, output), (0, ""))  # the compiler itself, not ccache
        self.assertRegex(one, r"^[0-9a-f]{64}\n$")
        self.assertTrue(os.path.exists(os.path.join(first, "build", "cmake_pch.hxx.pch")))
        self.assertEqual(self.make(second)[2], one)
        # A header it read changed: another checksum.
        self.write(self.system_header, "int system, changed;\n")
        self.assertNotEqual(self.make(second)[2], one)

    def test_a_failed_compile_leaves_no_checksum_and_keeps_its_status(self):
        root = self.clone("one")
        self.assertIsNotNone(self.make(root)[2])
        status, _, checksum = self.make(root, FAIL="1")
        self.assertEqual((status, checksum), (3, None))


if __name__ == "__main__":
    unittest.main()
