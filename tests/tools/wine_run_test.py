#!/usr/bin/env python3
"""scripts/wine-run.sh's prefix, with a stand-in Wine that only makes one: the
prefix is kept in the user's cache folder per Wine version and made once; one
its maker left halfway (no mark) is emptied and made again; a prefix the user
names is never emptied; a cache folder that cannot be written gives way to
build/wineprefix in the clone."""

import os
import shutil
import stat
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "scripts", "wine-run.sh")
MARK = ".rebound-prefix-ready"

# A stand-in wine64: "--version" names a version, "wineboot" makes a prefix
# (system.reg) and counts how often it did, anything else prints the prefix.
FAKE_WINE = """#!/bin/sh
case "$1" in
  --version) echo "wine-9.9 (Test)";;
  wineboot) echo made >> "$WINE_MADE_LOG"; touch "$WINEPREFIX/system.reg";;
  *) echo "ran in $WINEPREFIX";;
esac
"""


def write_program(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    os.chmod(path, os.stat(path).st_mode | stat.S_IEXEC)


class Prefix(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = self.dir.name
        bin_dir = os.path.join(self.root, "bin")
        os.mkdir(bin_dir)
        write_program(os.path.join(bin_dir, "wine64"), FAKE_WINE)
        # A stand-in server too: the script would otherwise find Wine's own,
        # which would start for each prefix here and outlive the test.
        write_program(os.path.join(bin_dir, "wineserver"), "#!/bin/sh\nexit 0\n")
        self.made_log = os.path.join(self.root, "made.log")
        self.cache = os.path.join(self.root, "cache")
        self.env = dict(os.environ, PATH=f"{bin_dir}:/usr/bin:/bin", XDG_CACHE_HOME=self.cache,
                        WINE_MADE_LOG=self.made_log)
        self.env.pop("REBOUND_WINEPREFIX", None)
        # A copy of the script in a clone of its own, whose build/wineprefix
        # is the fall-back.
        self.clone = os.path.join(self.root, "clone")
        os.makedirs(os.path.join(self.clone, "scripts"))
        self.script = os.path.join(self.clone, "scripts", "wine-run.sh")
        shutil.copy(SCRIPT, self.script)

    def tearDown(self):
        self.dir.cleanup()

    def run_wine(self, **env):
        done = subprocess.run(["bash", self.script, "prog.exe"], env=dict(self.env, **env),
                              capture_output=True, text=True, check=False)
        self.assertEqual(done.returncode, 0, done.stderr)
        return done.stdout.strip()

    def times_made(self):
        if not os.path.exists(self.made_log):
            return 0
        with open(self.made_log, encoding="utf-8") as f:
            return len(f.readlines())

    def test_cached_prefix_is_made_once_per_wine_version(self):
        prefix = os.path.join(self.cache, "rebound", "wineprefix-wine-9.9__Test_")
        self.assertEqual(self.run_wine(), f"ran in {prefix}")
        self.assertEqual(self.run_wine(), f"ran in {prefix}")
        self.assertEqual(self.times_made(), 1)
        self.assertTrue(os.path.isfile(os.path.join(prefix, MARK)))

    def test_prefix_left_halfway_is_emptied_and_made_again(self):
        prefix = os.path.join(self.cache, "rebound", "wineprefix-wine-9.9__Test_")
        os.makedirs(os.path.join(prefix, "drive_c"))
        for name in ("system.reg", "drive_c/half-written"):
            open(os.path.join(prefix, name), "w", encoding="utf-8").close()
        self.run_wine()
        self.assertEqual(self.times_made(), 1)
        self.assertFalse(os.path.exists(os.path.join(prefix, "drive_c", "half-written")))
        self.assertTrue(os.path.isfile(os.path.join(prefix, MARK)))

    def test_users_own_prefix_is_never_emptied(self):
        own = os.path.join(self.root, "mine")
        os.makedirs(own)
        for name in ("system.reg", "keep-me"):
            open(os.path.join(own, name), "w", encoding="utf-8").close()
        self.assertEqual(self.run_wine(REBOUND_WINEPREFIX=own), f"ran in {own}")
        self.assertEqual(self.times_made(), 0)
        self.assertTrue(os.path.exists(os.path.join(own, "keep-me")))
        self.assertFalse(os.path.exists(os.path.join(own, MARK)))

    def test_unwritable_cache_gives_way_to_the_clone(self):
        said = self.run_wine(XDG_CACHE_HOME="/proc/no-cache-here")
        self.assertEqual(said, f"ran in {os.path.join(self.clone, 'build', 'wineprefix')}")
        self.assertEqual(self.times_made(), 1)

if __name__ == "__main__":
    unittest.main()
