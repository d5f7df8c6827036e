#!/usr/bin/env python3
"""The documentation's links hold: scripts/check-doc-links.py finds no broken
link, anchor or picture in the source tree, keeps README.md within its size,
and in small trees made here names the file and line of each fault it must
catch while passing what is right (links in code, anchors of headings with
punctuation or repeated).

Usage: docs_links_test.py SOURCE_DIR
"""
import pathlib
import subprocess
import sys
import tempfile
import unittest

SOURCE = pathlib.Path(sys.argv.pop(1)).resolve() if len(sys.argv) > 1 else None
SCRIPT = SOURCE / "scripts" / "check-doc-links.py" if SOURCE else None

README = """# Project

![The picture](docs/media/death.webp)
![](docs/shot.png)

See [the guide](docs/guide.md), [its part](docs/guide.md#how-a-native-gets-its-behaviour)
and [the second one](docs/guide.md#adding-1), [the scenario page](docs/scenarios.md),
[nothing](docs/nowhere.md) and [a bad part](docs/guide.md#no-such-part).
[Outside](https://example.org/missing.md) and [mail](mailto:someone@example.org) are not ours.
[A folder](scripts/) and [a file in it](scripts/tool.py#L3) exist.

```sh
cat [not a link](docs/in-code.md)
```

A `[span](docs/in-span.md)` is code too. <img src="docs/shot.png" alt="">
[ref]: docs/missing-reference.md
[Steps](docs/guide.md#adding-a-native-step-by-step-c) and [Top](#project)
"""

GUIDE = """# The guide

## How a native gets its behaviour
## Adding
## Adding
<a id="explicit-place"></a>
Back to [the top](../README.md#project) and [here](#explicit-place).

~~~
[fenced](nowhere.md)
~~~
## Adding a `native`, step by step (C++)
"""

EXPECTED = [
    "README.md:3: docs/media/death.webp: no such file (docs/media/death.webp)",
    "README.md:4: the picture docs/shot.png has no alt text",
    "README.md:7: docs/scenarios.md: no such file (docs/scenarios.md)",
    "README.md:8: docs/nowhere.md: no such file (docs/nowhere.md)",
    "README.md:8: docs/guide.md#no-such-part: docs/guide.md has no heading or id 'no-such-part'",
    "README.md:16: the picture docs/shot.png has no alt text",
    "README.md:17: docs/missing-reference.md: no such file (docs/missing-reference.md)",
    "docs/guide.md:13: #adding-2: docs/guide.md has no heading or id 'adding-2'",
]


def run(root):
    return subprocess.run([sys.executable, str(SCRIPT), str(root)], capture_output=True,
                          text=True, check=False)


def make_tree(root, readme, guide=GUIDE):
    (root / "docs").mkdir()
    (root / "scripts").mkdir()
    (root / "scripts" / "tool.py").write_text("print()\n")
    (root / "docs" / "shot.png").write_bytes(b"\x89PNG")
    (root / "docs" / "guide.md").write_text(guide)
    (root / "README.md").write_text(readme)


class DocLinks(unittest.TestCase):
    def test_the_repository_has_no_broken_link(self):
        result = run(SOURCE)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertLessEqual((SOURCE / "README.md").stat().st_size, 8500)

    def test_each_fault_is_named_with_its_file_and_line(self):
        with tempfile.TemporaryDirectory() as folder:
            root = pathlib.Path(folder)
            make_tree(root, README, GUIDE + "[Wrong](#adding-2) and [right](#adding).\n")
            result = run(root)
            self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
            faults = [line for line in result.stdout.splitlines()
                      if not line.startswith("check-doc-links:")]
            self.assertEqual(faults, EXPECTED)

    def test_a_page_once_written_is_checked_like_any_other(self):
        with tempfile.TemporaryDirectory() as folder:
            root = pathlib.Path(folder)
            make_tree(root, "# Project\n\n[The scenarios](docs/scenarios.md#events)\n")
            (root / "docs" / "scenarios.md").write_text("# Scenarios\n\n## Keys\n")
            result = run(root)
            self.assertEqual(result.returncode, 1, result.stdout)
            self.assertIn("README.md:3: docs/scenarios.md#events: docs/scenarios.md has no heading "
                          "or id 'events'", result.stdout)
            (root / "docs" / "scenarios.md").write_text("# Scenarios\n\n## Events\n")
            self.assertEqual(run(root).returncode, 0)

    def test_readme_size_limit(self):
        for size, status in ((8500, 0), (8501, 1)):
            with self.subTest(size=size), tempfile.TemporaryDirectory() as folder:
                root = pathlib.Path(folder)
                head = "# Project\n\n"
                make_tree(root, head + "x" * (size - len(head)))
                result = run(root)
                self.assertEqual(result.returncode, status, result.stdout)
                if status:
                    self.assertIn("README.md:1: 8501 bytes, more than 8500", result.stdout)


if __name__ == "__main__":
    if SOURCE is None:
        sys.exit(__doc__)
    unittest.main()
