#!/usr/bin/env python3
"""How rebound-sim reads its first word and reports a mistake: a command's
name picks it, anything else goes to the default command (run), whose
--help and --version are the program's; every usage error is one message in
the voice of the command that found it, the mistake first and the hint after,
with status 2; --version is taken only by the commands that share run's
voice.

  command_line_test.py REBOUND_SIM
"""

import subprocess
import sys
import unittest

SIM = None

PROGRAM_HINT = "(rebound-sim --help lists the options)\n"


def sim(*args):
    return subprocess.run([SIM] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, check=False)


class CommandLine(unittest.TestCase):

    def test_usage_errors_are_worded_by_the_command_that_finds_them(self):
        cases = [
            (["foo"], "rebound-sim: unknown option: foo\n" + PROGRAM_HINT),
            ([""], "rebound-sim: unknown option: \n" + PROGRAM_HINT),
            (["-"], "rebound-sim: unknown option: -\n" + PROGRAM_HINT),
            (["run", "foo"], "rebound-sim: unknown option: foo\n" + PROGRAM_HINT),
            (["--frames"], "rebound-sim: --frames needs a value\n" + PROGRAM_HINT),
            (["--bogus", "--help"], "rebound-sim: unknown option: --bogus\n" + PROGRAM_HINT),
            (["--seed", "1", "--seed", "2"], "rebound-sim: --seed given twice\n" + PROGRAM_HINT),
            (["--scenario", "a", "--scenario", "b"],
             "rebound-sim: --scenario given twice (a and b); give it once\n" + PROGRAM_HINT),
            (["panel-demo", "--out", "a", "--out", "b"],
             "rebound-sim: --out given twice (a and b); give it once\n" + PROGRAM_HINT),
            (["panel-demo", "--frames", "3"],
             "rebound-sim: unknown option for panel-demo: --frames\n" + PROGRAM_HINT),
            (["natives", "--bogus"], "rebound-sim: unknown option for natives: --bogus\n"
             + PROGRAM_HINT),
            (["schema", "x"], "rebound-sim: unknown option for schema: x\n" + PROGRAM_HINT),
            (["replay", "--version"], "rebound-sim replay: unknown option: --version\n"
             "(rebound-sim replay --help shows the usage)\n"),
            (["replay", "--plugin"], "rebound-sim replay: --plugin needs a path\n"
             "(rebound-sim replay --help shows the usage)\n"),
            (["report", "--version"], "rebound-sim report: unknown option: --version\n"
             "(rebound-sim report --help lists the options)\n"),
            (["report", "x", "--report"], "rebound-sim report: --report needs a value\n"
             "(rebound-sim report --help lists the options)\n"),
            (["scenario-from", "x", "--out", "a", "--out", "b"],
             "rebound-sim scenario-from: --out given twice (a and b)\n"
             "(rebound-sim scenario-from --help lists the options)\n"),
            (["scenario-from", "x"], "rebound-sim scenario-from: needs --out FILE\n"
             "(rebound-sim scenario-from --help lists the options)\n"),
        ]
        for args, message in cases:
            with self.subTest(args):
                done = sim(*args)
                self.assertEqual((done.returncode, done.stdout, done.stderr), (2, "", message))

    def test_the_default_command_takes_the_programs_help_and_version(self):
        top = sim("--help")
        self.assertEqual(top.returncode, 0)
        self.assertTrue(top.stdout.startswith("Usage:\n  rebound-sim [run] [options]     run a"),
                        top.stdout[:80])
        self.assertIn("\nRun options:\n", top.stdout)
        version = sim("--version")
        self.assertEqual(version.returncode, 0)
        self.assertRegex(version.stdout, r"^rebound-sim \d+\.\d+\.\d+\n$")
        for args in (["-h"], ["run", "--help"], ["--quiet", "--help", "--bogus"]):
            with self.subTest(args):
                done = sim(*args)
                self.assertEqual((done.returncode, done.stdout), (0, top.stdout))
        for args in (["run", "--version"], ["natives", "--version"], ["schema", "--version"],
                     ["panel-demo", "--svg-debug", "--version"]):
            with self.subTest(args):
                done = sim(*args)
                self.assertEqual((done.returncode, done.stdout), (0, version.stdout))

    def test_every_command_in_the_list_has_its_own_help(self):
        top = sim("--help").stdout
        firsts = {
            "panel-demo": "Usage: rebound-sim panel-demo [--out DIR] [--svg-debug]\n",
            "replay": "Usage: rebound-sim replay RECORDING [--plugin PATH] [--junit FILE] [--quiet]\n",
            "report": "Usage: rebound-sim report RECORDING --report FILE [--quiet]\n",
            "scenario-from": "Usage: rebound-sim scenario-from RECORDING --out FILE [--quiet]\n",
            "natives": "Usage: rebound-sim natives [--json] [--natives FILE]\n",
            "schema": "Usage: rebound-sim schema\n",
        }
        for command, first in firsts.items():
            with self.subTest(command):
                self.assertIn(f"\n  rebound-sim {command}", top)
                done = sim(command, "--help")
                self.assertEqual(done.returncode, 0)
                self.assertTrue(done.stdout.startswith(first), done.stdout[:80])
                self.assertEqual(sim(command, "-h").stdout, done.stdout)


if __name__ == "__main__":
    SIM = sys.argv[1]
    del sys.argv[1]
    unittest.main(verbosity=2)
