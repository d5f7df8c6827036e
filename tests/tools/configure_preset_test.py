#!/usr/bin/env python3
"""scripts/configure-preset.py: the generator and compiler a preset inherits,
and a tree that another generator or compiler wrote cleared before CMake
configures it again, while a tree of the same ones (or none yet) is left
alone."""

import importlib.machinery
import os
import sys
import tempfile
import types
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "scripts", "configure-preset.py")

loader = importlib.machinery.SourceFileLoader("configure_preset", SCRIPT)
configure_preset = types.ModuleType(loader.name)
configure_preset.__file__ = SCRIPT
loader.exec_module(configure_preset)

PRESETS = {
    "base": {"name": "base", "generator": "Ninja", "binaryDir": "${sourceDir}/build/${presetName}"},
    "windows": {"name": "windows", "inherits": "base", "cacheVariables": {"CMAKE_CXX_COMPILER": "/usr/bin/true"}},
    "windows-tests": {"name": "windows-tests", "inherits": "windows", "cacheVariables": {"REBOUND_TEST": "ON"}},
    "windows-dist": {"name": "windows-dist", "inherits": ["windows"], "generator": "Unix Makefiles"},
}


class Resolved(unittest.TestCase):
    def test_generator_comes_from_the_nearest_preset_that_sets_it(self):
        cases = [("base", "Ninja"), ("windows", "Ninja"), ("windows-dist", "Unix Makefiles"), ("nothing", None)]
        for name, generator in cases:
            with self.subTest(name=name):
                self.assertEqual(configure_preset.resolved(PRESETS, name, "generator"), generator)

    def test_cache_variable_merges_along_the_inheritance(self):
        cases = [("windows-tests", "CMAKE_CXX_COMPILER", "/usr/bin/true"),
                 ("windows-tests", "REBOUND_TEST", "ON"),
                 ("windows-dist", "CMAKE_CXX_COMPILER", "/usr/bin/true"),
                 ("base", "CMAKE_CXX_COMPILER", None)]
        for name, variable, value in cases:
            with self.subTest(name=name, variable=variable):
                self.assertEqual(configure_preset.resolved(PRESETS, name, "cacheVariables", variable), value)


class StaleTree(unittest.TestCase):
    def run_script(self, source_dir, cached, compiler="/usr/bin/true"):
        """Runs main() on a tree whose cache names the generator `cached`
        (None: no cache) and `compiler`, with cmake itself replaced; returns
        what is left of the tree."""
        tree = os.path.join(source_dir, "build", "windows")
        os.makedirs(os.path.join(tree, "CMakeFiles"))
        open(os.path.join(tree, "build.ninja"), "w").close()
        if cached is not None:
            with open(os.path.join(tree, "CMakeCache.txt"), "w") as f:
                f.write(f"CMAKE_BUILD_TYPE:STRING=Release\nCMAKE_CXX_COMPILER:FILEPATH={compiler}\n"
                        f"CMAKE_GENERATOR:INTERNAL={cached}\n")
        calls = []
        saved = (configure_preset.SOURCE_DIR, configure_preset.load_presets, configure_preset.subprocess.call)
        configure_preset.SOURCE_DIR = source_dir
        configure_preset.load_presets = lambda: PRESETS
        configure_preset.subprocess.call = lambda cmd, cwd: calls.append((cmd, cwd)) or 0
        try:
            status = configure_preset.main(["configure-preset.py", "windows", "--fresh"])
        finally:
            configure_preset.SOURCE_DIR, configure_preset.load_presets, configure_preset.subprocess.call = saved
        self.assertEqual(status, 0)
        self.assertEqual(calls, [(["cmake", "--preset", "windows", "--fresh"], source_dir)])
        return sorted(os.listdir(tree))

    def test_only_another_generators_or_compilers_cache_is_cleared(self):
        kept = ["CMakeCache.txt", "CMakeFiles", "build.ninja"]
        cases = [
            ("Unix Makefiles", "/usr/bin/true", ["build.ninja"]),
            ("Ninja", "/usr/bin/false", ["build.ninja"]),
            ("Ninja", "/usr/bin/true", kept),
            ("Ninja", "/usr/bin/../bin/true", kept),
            ("Ninja", "true", kept),
            (None, "/usr/bin/true", ["CMakeFiles", "build.ninja"]),
        ]
        for cached, compiler, left in cases:
            with self.subTest(cached=cached, compiler=compiler), tempfile.TemporaryDirectory() as source_dir:
                self.assertEqual(self.run_script(source_dir, cached, compiler), left)

    def test_unknown_preset_is_refused_without_running_cmake(self):
        saved = configure_preset.load_presets
        configure_preset.load_presets = lambda: PRESETS
        try:
            self.assertEqual(configure_preset.main(["configure-preset.py", "no-such"]), 2)
        finally:
            configure_preset.load_presets = saved


if __name__ == "__main__":
    sys.exit(unittest.main())
