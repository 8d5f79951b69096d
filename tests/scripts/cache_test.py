"""The machine-wide cache of the build scripts: entries made once, whole or not at all.

Usage: cache_test.py SCRIPT (scripts/lib/cache.sh)

Each case calls ombrin_cached with a maker that counts its runs, in a cache folder of its own.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SCRIPT = None  # from the command line

# The maker fills its folder, counts its runs in $RUNS, takes $MAKE_SECONDS and fails where $MAKE_FAILS is set.
MAKER = """make() { echo made >"$1/content" && echo run >>"$RUNS" && sleep "${MAKE_SECONDS:-0}" && [ -z "${MAKE_FAILS:-}" ]; }"""


class CacheTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="ombrin-cache-test-")
        self.addCleanup(shutil.rmtree, self.folder)
        self.cache = os.path.join(self.folder, "cache")
        self.runs = os.path.join(self.folder, "runs")

    def cached(self, key, link="link", wait=True, **env):
        command = 'source "$0" && %s && ombrin_cached thing "$1" "$2" make' % MAKER
        process = subprocess.Popen(["bash", "-c", command, SCRIPT, key, os.path.join(self.folder, link)],
                                   env=dict(os.environ, OMBRIN_CACHE=self.cache, RUNS=self.runs, **env),
                                   start_new_session=True)
        return process.wait() if wait else process

    def runs_made(self):
        if not os.path.exists(self.runs):
            return 0
        with open(self.runs, encoding="ascii") as runs:
            return len(runs.readlines())

    def entries(self):
        return sorted(name for name in os.listdir(self.cache) if not name.endswith(".lock"))

    def test_an_entry_is_made_once_for_its_inputs_and_again_for_other_inputs(self):
        self.assertEqual(self.cached("inputs 1"), 0)
        self.assertEqual(self.cached("inputs 1", link="other checkout's link"), 0)
        self.assertEqual(self.runs_made(), 1)
        self.assertEqual(os.path.realpath(os.path.join(self.folder, "link")),
                         os.path.realpath(os.path.join(self.folder, "other checkout's link")))
        with open(os.path.join(self.folder, "link", "content"), encoding="ascii") as content:
            self.assertEqual(content.read(), "made\n")
        self.assertEqual(self.cached("inputs 2"), 0)
        self.assertEqual(self.runs_made(), 2)
        self.assertEqual(len(self.entries()), 2)
        self.assertNotEqual(os.path.realpath(os.path.join(self.folder, "link")),
                            os.path.realpath(os.path.join(self.folder, "other checkout's link")))

    def test_a_failed_or_interrupted_making_leaves_nothing_a_later_run_takes(self):
        self.assertNotEqual(self.cached("inputs", MAKE_FAILS="1"), 0)
        self.assertEqual(self.entries(), [])
        self.assertFalse(os.path.lexists(os.path.join(self.folder, "link")))
        interrupted = self.cached("inputs", wait=False, MAKE_SECONDS="30")
        while self.runs_made() < 2:
            time.sleep(0.05)
        os.killpg(interrupted.pid, signal.SIGKILL)  # the run and its maker, as a killed run's group goes
        interrupted.wait()
        self.assertEqual([name.split(".")[1][:8] for name in self.entries()], ["partial-"])
        self.assertEqual(self.cached("inputs"), 0)
        self.assertEqual(self.runs_made(), 3)
        self.assertEqual(len(self.entries()), 1)
        self.assertNotIn("partial", self.entries()[0])

    def test_runs_at_once_make_the_entry_once(self):
        runs = [self.cached("inputs", link="link %d" % index, wait=False, MAKE_SECONDS="1") for index in range(3)]
        self.assertEqual([run.wait() for run in runs], [0, 0, 0])
        self.assertEqual(self.runs_made(), 1)


if __name__ == "__main__":
    SCRIPT = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
