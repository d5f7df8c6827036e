#!/usr/bin/env python3
"""docs/scenarios.md's field table against scenarios/scenario.schema.json:
the page must hold the table scripts/scenario-doc.py makes of the schema. Also
the script itself, on copies: a changed or added field is named with its line,
--write mends the table and nothing else, a page without markers is refused.

  docs_scenario_table_test.py REPOSITORY
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = None


def script(*args):
    return subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "scenario-doc.py")]
                          + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                          check=False)


class ThePage(unittest.TestCase):

    def test_the_page_holds_the_schema_s_table(self):
        result = script("--check")
        self.assertEqual(result.returncode, 0, result.stderr)


class TheScript(unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.schema_path = os.path.join(self.tmp.name, "scenario.schema.json")
        self.doc = os.path.join(self.tmp.name, "scenarios.md")
        shutil.copy(os.path.join(ROOT, "scenarios", "scenario.schema.json"), self.schema_path)
        shutil.copy(os.path.join(ROOT, "docs", "scenarios.md"), self.doc)
        with open(self.schema_path, encoding="utf-8") as f:
            self.schema = json.load(f)

    def rewrite_schema(self):
        with open(self.schema_path, "w", encoding="utf-8") as f:
            json.dump(self.schema, f)

    def run_script(self, *args):
        return script(*args, "--schema", self.schema_path, "--doc", self.doc)

    def read_doc(self):
        with open(self.doc, encoding="utf-8") as f:
            return f.read()

    def test_a_changed_default_is_named_with_its_line_and_write_mends_only_the_table(self):
        self.schema["properties"]["world"]["properties"]["spawnSearch"]["properties"]["frames"][
            "default"] = 11
        self.rewrite_schema()
        before = self.read_doc()
        result = self.run_script("--check")
        self.assertEqual(result.returncode, 1)
        self.assertIn("`world.spawnSearch.frames` | integer | `11` |", result.stderr)
        row = next(i for i, line in enumerate(before.splitlines(), start=1)
                   if line.startswith("| `world.spawnSearch.frames` |"))
        self.assertIn(f"scenarios.md:{row}:", result.stderr)
        self.assertEqual(self.run_script("--write").returncode, 0)
        self.assertEqual(self.run_script("--check").returncode, 0)
        after = self.read_doc()
        changed = [(a, b) for a, b in zip(before.splitlines(), after.splitlines()) if a != b]
        self.assertEqual(len(changed), 1, changed)
        self.assertEqual(len(before.splitlines()), len(after.splitlines()))

    def test_a_new_field_is_named(self):
        self.schema["properties"]["zoom"] = {"description": "How near | far.", "type": "number",
                                             "minimum": 0.5, "maximum": 4, "default": 1}
        self.rewrite_schema()
        result = self.run_script("--check")
        self.assertEqual(result.returncode, 1)
        self.assertIn("| `zoom` | number | `1` | 0.5 to 4 | How near \\| far. |", result.stderr)

    def test_a_page_without_its_markers_is_refused(self):
        text = self.read_doc().replace("<!-- scenario-fields: end -->", "")
        with open(self.doc, "w", encoding="utf-8") as f:
            f.write(text)
        for action in ("--check", "--write"):
            result = self.run_script(action)
            self.assertEqual(result.returncode, 2)
            self.assertIn("scenario-fields: end", result.stderr)
        self.assertEqual(self.read_doc(), text)  # --write left it alone

    def test_rows_name_types_defaults_and_required_fields(self):
        table = self.run_script("--print").stdout
        for row in ("| `fps` | integer | `60` | 1 to 1000 |",
                    "| `player.heading` | float | `0.0` |",
                    "| `world.roadNodes[].position` | position | required |",
                    "| `world.scaleform.*.loadFrames` | loadFrames | required |",
                    "| `events[hold].frames` | integer | required | 1 to 2147483647 |",
                    "| `events[tap].pad` | integer | `0` | 0 to 2 |",
                    "| `loadFrames` | integer or \"never\" | 0 to 1000000 |"):
            self.assertIn(row, table)
        self.assertNotIn("`$schema`", table)


if __name__ == "__main__":
    ROOT = sys.argv[1]
    del sys.argv[1]
    unittest.main()
