#!/usr/bin/env python3
"""scripts/check-enumerators.py: scoped enumerators named like types, unscoped
ones as constants, found in every form an enumeration is written in (with an
underlying type, values, trailing comments, one line or several); and the
source tree named so."""

import importlib.machinery
import os
import subprocess
import sys
import tempfile
import types
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
SCRIPT = os.path.join(ROOT, "scripts", "check-enumerators.py")

loader = importlib.machinery.SourceFileLoader("check_enumerators", SCRIPT)
check = types.ModuleType(loader.name)
check.__file__ = SCRIPT
loader.exec_module(check)


class Names(unittest.TestCase):
    def test_each_form_is_read_and_judged(self):
        text = ("enum class Phase : std::int32_t {\n  Watching = -1,  // a comment, kNot\n"
                "  kDeathPause = 0,\n  bar_filling,\n};\n"
                "enum Record : std::uint8_t { kNative = 1, Host = 2 };\n"
                "enum struct Tiny { A, kB };\n"
                "enum HudBarEntryState : std::int32_t { EntryDim = 2, kEntryLit = 8 };\n"
                '// enum class InAComment { kX };\nconst char* s = "enum class S { kY }";\n')
        self.assertEqual(list(check.faults("f.h", text)), [
            "f.h:3: Phase::kDeathPause: name it like a type (Name)",
            "f.h:4: Phase::bar_filling: name it like a type (Name)",
            "f.h:6: Host of unscoped Record: name it as a constant (kName)",
            "f.h:7: Tiny::kB: name it like a type (Name)",
            "f.h:8: HudBarEntryState::kEntryLit: name it like a type (Name)",
        ])

    def test_the_command_fails_on_a_misnamed_enumerator_and_passes_the_tree(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "bad.h")
            with open(path, "w", encoding="utf-8") as f:
                f.write("enum class E { kA };\n")
            bad = subprocess.run([sys.executable, SCRIPT, folder], capture_output=True, text=True)
            self.assertEqual(bad.returncode, 1)
            self.assertIn(f"{path}:1: E::kA", bad.stdout)
        tree = subprocess.run([sys.executable, SCRIPT] +
                              [os.path.join(ROOT, d) for d in ("src", "sim", "tools", "fuzz",
                                                               "bench", "tests")],
                              capture_output=True, text=True)
        self.assertEqual(tree.returncode, 0, tree.stdout)


if __name__ == "__main__":
    unittest.main()
