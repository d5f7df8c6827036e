#!/usr/bin/env python3
"""scripts/check-function-length.py: the length it gives functions of every
shape clang-format leaves (free, member, inline in a class, a test body, a
constructor with a brace-initialised member), what it leaves out of a length
(written-out tables) and what it must not take for a brace (comments,
strings, raw strings, digit separators, preprocessor lines); and the source
tree itself within the limit."""

import importlib.machinery
import os
import subprocess
import sys
import types
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
SCRIPT = os.path.join(ROOT, "scripts", "check-function-length.py")

loader = importlib.machinery.SourceFileLoader("check_function_length", SCRIPT)
check = types.ModuleType(loader.name)
check.__file__ = SCRIPT
loader.exec_module(check)


def body(lines):
    return "".join(f"  Step({i});\n" for i in range(lines))


class Lengths(unittest.TestCase):
    def test_each_shape_of_function_is_found_with_its_length(self):
        cases = [
            ("free", "int F(int a) {\n" + body(3) + "}\n", [(1, "F", 5)]),
            ("member const", "void A::B() const {\n" + body(2) + "}\n", [(1, "A::B", 4)]),
            ("one line", "int G() { return 1; }\n", [(1, "G", 1)]),
            ("inline in a class", "namespace n {\nstruct S {\n  void M() {\n" + body(1) +
             "  }\n};\n}  // namespace n\n", [(3, "M", 3)]),
            ("test body", "TEST(Suite, Name) {\n" + body(1) + "}\n", [(1, "TEST(Suite, Name)", 3)]),
            ("template", "template <class T, class = int>\nT H(T t) {\n" + body(1) + "}\n",
             [(2, "H", 3)]),
            ("trailing return", "auto K() -> int {\n" + body(1) + "}\n", [(1, "K", 3)]),
            ("constructor with a braced member",
             "A::A(int x) : x_{x}, y_(Make({1, 2})) {\n" + body(2) + "}\n", [(1, "A::A", 4)]),
            ("lambda and blocks count as the function's",
             "void L() {\n  auto f = [&](int a) {\n" + body(3) + "  };\n  if (x) {\n" + body(2) +
             "  } else {\n  }\n  do {\n  } while (0);\n}\n", [(1, "L", 14)]),
            ("switch with a block after a case",
             "void W() {\n  switch (x) {\n    case 1: {\n" + body(2) + "    }\n  }\n}\n",
             [(1, "W", 8)]),
        ]
        for name, text, expected in cases:
            with self.subTest(name=name):
                self.assertEqual(check.functions(text), expected)

    def test_written_out_tables_do_not_count(self):
        table = "".join(f'      {{"n{i}", {i}}},\n' for i in range(100))
        cases = [
            ("static table", "const T& Table() {\n  static const T kT = {\n" + table +
             "  };\n  return kT;\n}\n", 5),
            ("returned braces", "T Make() {\n  return {\n" + table + "  };\n}\n", 4),
            ("argument braces", "void Fill() {\n  v.insert(v.end(), {\n" + table + "  });\n}\n", 4),
            ("table at namespace level is no function", "const T kT[] = {\n" + table + "};\n", None),
            ("enum is no function", "enum class E : int {\n" + body(3) + "};\n", None),
        ]
        for name, text, length in cases:
            with self.subTest(name=name):
                found = check.functions(text)
                self.assertEqual([f[2] for f in found], [] if length is None else [length])

    def test_braces_that_are_not_code_are_ignored(self):
        noise = ('  // a comment { with a brace\n  /* and { a\n block */\n'
                 '  const char* s = "{ in a string";\n  char c = \'{\';\n'
                 '  auto r = R"x(raw { "quoted" } text\n)x";\n  int m = 1\'000\'000;\n'
                 '#define OPEN {\n#if X \\\n  {\n#endif\n')
        found = check.functions("void N() {\n" + noise + "}\nvoid O() {\n}\n")
        self.assertEqual(found, [(1, "N", 14), (15, "O", 2)])


class Command(unittest.TestCase):
    def run_script(self, *args):
        return subprocess.run([sys.executable, SCRIPT, *args], capture_output=True, text=True,
                              check=False)

    def test_a_long_function_fails_with_its_file_and_line(self):
        import tempfile
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "long.cpp")
            with open(path, "w", encoding="utf-8") as file:
                file.write("void Short() {\n}\n\nvoid Long() {\n" + body(60) + "}\n")
            result = self.run_script(path)
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertEqual(result.stdout, f"{path}:4: Long is 62 lines (at most 60)\n")
            self.assertEqual(self.run_script("--limit", "62", path).returncode, 0)

    def test_the_source_tree_is_within_the_limit(self):
        folders = [os.path.join(ROOT, f) for f in ("src", "sim", "tools", "fuzz", "bench", "tests")]
        result = self.run_script(*folders)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertIn(" 0 over 60 lines", result.stderr)


if __name__ == "__main__":
    unittest.main()
