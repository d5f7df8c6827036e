#!/usr/bin/env python3
"""Holds docs/command-line.md to what rebound-sim --help says: the commands
its usage lists, and for each command the options its --help prints. The page
has a section "## rebound-sim COMMAND" for each command whose table of options
(the first cell of each row) must name exactly the options that command's
--help lists (its usage line and its options block); an option --help lists
that the page does not document, one the page documents that --help no longer
lists, or one printed anywhere in a --help (prose, examples) that no table of
the page documents, fails the test by name.

  docs_command_line_test.py REBOUND_SIM PAGE
"""

import re
import subprocess
import sys
import unittest

SIM = PAGE = None

OPTION = re.compile(r"(?<![\w-])(--[a-z][a-z0-9-]*|-[a-zA-Z])(?![\w-])")
SECTION = re.compile(r"^## `?rebound-sim ([a-z-]+)`?\s*$")


def help_text(command):
    words = [SIM] + ([command] if command else []) + ["--help"]
    result = subprocess.run(words, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            check=False)
    if result.returncode != 0:
        raise AssertionError(f"{' '.join(words)}: status {result.returncode}\n{result.stderr}")
    return result.stdout


def commands_of(usage):
    """The commands the main usage lists: the word after "rebound-sim" on its
    usage lines ("[run]" counts as run)."""
    commands = []
    for line in usage.split("\n\n")[0].splitlines():
        match = re.match(r"^(?:Usage:)?\s*rebound-sim \[?([a-z][a-z-]*)\]?", line)
        if match and match.group(1) not in commands:
            commands.append(match.group(1))
    return commands


def listed_options(command, text):
    """The options a command's --help lists as its own: those on its usage line
    and the rows of its "Options:" block (for run, the rows of "Run options:";
    the main usage's first paragraph lists the other commands with theirs)."""
    found = set()
    if command != "run":
        found.update(OPTION.findall(text.split("\n\n")[0]))
    in_block = False
    for line in text.splitlines():
        if re.match(r"^(Run options|Options):$", line):
            in_block = True
        elif not line.strip():
            in_block = False
        elif in_block and line.startswith("  -"):
            head = re.split(r"\s{2,}", line.strip())[0]
            found.update(OPTION.findall(head))
    if command == "run" and "Run options:" not in text:
        raise AssertionError("rebound-sim --help has no \"Run options:\"")
    return found


def printed_options(text):
    """Every long option a --help prints anywhere, its prose and examples
    included (a short one there may be another program's: python3 -m)."""
    return {o for o in OPTION.findall(text) if o.startswith("--")}


def page_sections(page_text):
    """{command: set of the options in the first cells of its section's tables}."""
    sections = {}
    current = None
    for line in page_text.splitlines():
        heading = SECTION.match(line)
        if heading:
            current = sections.setdefault(heading.group(1), set())
            continue
        if line.startswith("## "):
            current = None
        elif current is not None and line.startswith("|") and not line.startswith("|--"):
            first_cell = line.split("|")[1]
            if "`" in first_cell:
                current.update(OPTION.findall(first_cell))
    return sections


def differences(helps, sections, printed=()):
    """What the page and --help disagree on, one sentence each: `helps` maps each
    command to the options its --help lists as its own, `printed` is every
    option any --help prints."""
    said = []
    for command in helps:
        if command not in sections:
            said.append(f"the page has no section \"## rebound-sim {command}\"")
    for command in sections:
        if command not in helps:
            said.append(f"the page documents a command rebound-sim does not list: {command}")
    for command, listed in helps.items():
        documented = sections.get(command, set())
        for option in sorted(listed - documented):
            said.append(f"rebound-sim {command} --help lists {option}; the page does not "
                        f"document it in that command's table")
        for option in sorted(documented - listed):
            said.append(f"the page documents {option} for rebound-sim {command}, which its "
                        f"--help no longer lists")
    everywhere = set().union(*sections.values()) if sections else set()
    for option in sorted(set(printed) - everywhere):
        said.append(f"a --help prints {option}; no table of the page documents it")
    return said


class CommandLinePage(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        usage = help_text(None)
        cls.commands = commands_of(usage)
        texts = {c: help_text(c) for c in cls.commands}
        cls.helps = {c: listed_options(c, t) for c, t in texts.items()}
        cls.printed = set().union(*(printed_options(t) for t in texts.values()))
        with open(PAGE, encoding="utf-8") as f:
            cls.page = f.read()

    def test_the_page_documents_every_command_and_option_help_prints(self):
        said = differences(self.helps, page_sections(self.page), self.printed)
        if said:
            self.fail(f"{PAGE} and --help disagree:\n  " + "\n  ".join(said))

    def test_the_help_is_read_as_it_is_written(self):
        # Guards the reading itself: if these fail, the parsing above checks
        # nothing.
        for command in ("run", "replay", "report", "scenario-from", "natives", "schema",
                        "panel-demo"):
            self.assertIn(command, self.commands)
        self.assertTrue({"--scenario", "--trace", "--seed", "-h", "--help", "--version"}
                        <= self.helps["run"])
        self.assertNotIn("--out", self.helps["run"])  # scenario-from's, in the command list
        self.assertEqual(self.helps["replay"], {"--plugin", "--quiet", "-h", "--help"})
        self.assertEqual(self.helps["natives"], {"--json"})
        # scenario-from's help shows a run's command line: those are run's.
        self.assertNotIn("--draws-from", self.helps["scenario-from"])
        self.assertIn("--draws-from", self.printed)

    def test_a_stale_page_is_named_option_by_option(self):
        sections = page_sections(self.page)
        helps = {c: set(o) for c, o in self.helps.items()}
        helps["run"].add("--brand-new")
        sections["replay"] = sections.get("replay", set()) | {"--gone"}
        said = differences(helps, sections, self.printed | {"--in-prose-only"})
        self.assertIn("rebound-sim run --help lists --brand-new; the page does not document it "
                      "in that command's table", said)
        self.assertIn("the page documents --gone for rebound-sim replay, which its --help no "
                      "longer lists", said)
        self.assertIn("a --help prints --in-prose-only; no table of the page documents it", said)
        del sections["schema"]
        self.assertIn("the page has no section \"## rebound-sim schema\"",
                      differences(helps, sections))

    def test_a_row_outside_the_tables_or_in_prose_does_not_count(self):
        text = ("## rebound-sim natives\n\nSee `--json` and `--trace`.\n\n"
                "| option | what |\n|---|---|\n| `--json` | JSON |\n## Other\n| `--x` | y |\n")
        self.assertEqual(page_sections(text), {"natives": {"--json"}})


if __name__ == "__main__":
    SIM, PAGE = sys.argv[1:3]
    del sys.argv[1:3]
    unittest.main()
