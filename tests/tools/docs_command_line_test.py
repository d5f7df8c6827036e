#!/usr/bin/env python3
"""Holds docs/command-line.md to what rebound-sim --help says: the commands
its usage lists, and for each command the options its --help prints. The page
has a section "## rebound-sim COMMAND" for each command whose table of options
(the first cell of each row) must name exactly the options that command's
--help lists (its usage line and its options block); an option --help lists
that the page does not document, one the page documents that --help no longer
lists, or one printed anywhere in a --help (prose, examples) that no table of
the page documents, fails the test by name.

The page's "## Exit status" table is held to the ExitStatus enum of
tools/rebound-sim/exit_status.h the same way: a status in one and not the
other fails, and so does a meaning that does not open with the enumerator's
comment.

  docs_command_line_test.py REBOUND_SIM PAGE EXIT_STATUS_HEADER
"""

import re
import subprocess
import sys
import unittest

SIM = PAGE = HEADER = None

OPTION = re.compile(r"(?<![\w-])(--[a-z][a-z0-9-]*|-[a-zA-Z])(?![\w-])")
SECTION = re.compile(r"^## `?rebound-sim ([a-z-]+)`?\s*$")
ENUMERATOR = re.compile(r"^\s*([A-Z]\w*)\s*=\s*(\d+)\s*,?\s*(?://\s*(.*))?$")
COMMENT_LINE = re.compile(r"^\s*//\s*(.*)$")
STATUS_ROW = re.compile(r"^\|\s*(\d+)\s*\|\s*(.*?)\s*\|\s*$")


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


def enum_statuses(header_text):
    """{value: meaning} of the ExitStatus enum: each enumerator's trailing
    comment, joined with the comment lines that carry it on."""
    if "enum class ExitStatus" not in header_text:
        raise AssertionError("the header has no enum class ExitStatus")
    body = header_text.split("enum class ExitStatus", 1)[1].split("};", 1)[0]
    statuses = {}
    current = None
    for line in body.splitlines():
        enumerator = ENUMERATOR.match(line)
        comment = COMMENT_LINE.match(line)
        if enumerator:
            current = int(enumerator.group(2))
            if current in statuses:
                raise AssertionError(f"ExitStatus has the value {current} twice")
            statuses[current] = (enumerator.group(3) or "").strip()
        elif comment and current is not None:
            statuses[current] = (statuses[current] + " " + comment.group(1).strip()).strip()
        else:
            current = None
    return statuses


def documented_statuses(page_text):
    """{status: meaning} of the rows of the page's "## Exit status" table."""
    page_text = "\n" + page_text
    if "\n## Exit status\n" not in page_text:
        raise AssertionError("the page has no \"## Exit status\" section")
    section = page_text.split("\n## Exit status\n", 1)[1].split("\n## ", 1)[0]
    rows = {}
    for line in section.splitlines():
        row = STATUS_ROW.match(line)
        if row:
            rows[int(row.group(1))] = row.group(2)
    return rows


def status_differences(enum, documented):
    """What the enum and the page's table disagree on, one sentence each."""
    said = []
    for value in sorted(set(documented) - set(enum)):
        said.append(f"the page documents exit status {value}, which ExitStatus does not have")
    for value in sorted(set(enum) - set(documented)):
        said.append(f"ExitStatus has {value}, which the page does not document")
    for value in sorted(set(enum) & set(documented)):
        if not enum[value]:
            said.append(f"ExitStatus's {value} has no comment saying what it means")
        elif not documented[value].startswith(enum[value]):
            said.append(f"exit status {value}: ExitStatus says \"{enum[value]}\", the page "
                        f"\"{documented[value]}\"")
    return said


class ExitStatusTable(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        with open(HEADER, encoding="utf-8") as f:
            cls.enum = enum_statuses(f.read())
        with open(PAGE, encoding="utf-8") as f:
            cls.documented = documented_statuses(f.read())

    def test_the_page_documents_each_status_as_the_enum_means_it(self):
        said = status_differences(self.enum, self.documented)
        if said:
            self.fail(f"{PAGE} and {HEADER} disagree:\n  " + "\n  ".join(said))

    def test_the_enum_and_the_table_are_read_as_written(self):
        # Guards the reading itself: if these fail, the comparison checks nothing.
        self.assertEqual(sorted(self.enum), [0, 1, 2, 3, 4, 5, 6])
        self.assertEqual(sorted(self.documented), [0, 1, 2, 3, 4, 5, 6])
        self.assertTrue(self.enum[0].endswith("the replay made the recorded calls"),
                        "a comment carried on to the next line is joined")

    def test_a_status_in_one_only_or_meaning_otherwise_is_named(self):
        header = ("enum class ExitStatus {\n  A = 0,  // fine\n  B = 1,  // the enum's\n"
                  "                 // words\n  C = 5,\n};\nconstexpr int kD = 7;  // not one\n")
        enum = enum_statuses(header)
        self.assertEqual(enum, {0: "fine", 1: "the enum's words", 5: ""})
        page = ("## Exit status\n\n| status | meaning |\n|---|---|\n| 0 | fine, and more |\n"
                "| 1 | other words |\n| 2 | gone |\n| 5 | x |\n\n## Outputs\n| 9 | elsewhere |\n")
        self.assertEqual(status_differences(enum, documented_statuses(page)), [
            "the page documents exit status 2, which ExitStatus does not have",
            "exit status 1: ExitStatus says \"the enum's words\", the page \"other words\"",
            "ExitStatus's 5 has no comment saying what it means",
        ])
        del enum[5]
        enum[3] = "new"
        self.assertIn("ExitStatus has 3, which the page does not document",
                      status_differences(enum, documented_statuses(page)))


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
        self.assertEqual(self.helps["replay"], {"--plugin", "--junit", "--quiet", "-h", "--help"})
        self.assertEqual(self.helps["natives"], {"--json", "--natives"})
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
    SIM, PAGE, HEADER = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main()
