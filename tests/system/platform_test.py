"""The platform modules' own work, on Wine: what the suites rely on them for beyond running programs.

Usage: platform_test.py OMBRIN_EXE HELPER_DIR SAMPLE_DRIVER_DIR FALLBACK_LOADER_EXE

- The Wine module ends every process a prefix ran when it closes, also one whose server has gone (then
  `wineserver -k` reaches nothing).
- The Windows module, with a Wine prefix as its machine: it refuses to start without being asked to install
  drivers, and it removes the device, driver package and class a test installed, after a failing test and
  after a Ctrl+C (SIGINT) of the run. What only a real Windows runs (the signing) is not reached here.
- Where it looks for the SDK's signing tools, and the catalog definition it gives makecat.
- A program Wine cannot start is an error naming what Wine wrote, not a status of the program's; a failing case's
  message ends with what the test's programs wrote to standard error.
"""

import glob
import os
import re
import select
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import harness
import wine_platform
from harness import SAMPLE_ID

OMBRIN = SAMPLE = None  # from the command line
HERE = os.path.dirname(os.path.abspath(__file__))


class WineProcessEndTest(unittest.TestCase):
    def test_close_ends_a_program_whose_server_has_gone(self):
        prefix = wine_platform.Prefix()
        self.addCleanup(prefix.close)
        # A program that waits for its input, which stays open. Its prompt says it has started and waits: a look
        # at /proc alone can catch it in the middle of an exec, when its command line reads empty.
        argv, env = prefix.command("cmd", ["/c", "pause"])
        program = subprocess.Popen(argv, env=env, cwd=prefix.work, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
        self.addCleanup(program.stdout.close)
        self.addCleanup(program.stdin.close)
        prompted, _, _ = select.select([program.stdout], [], [], 60 * prefix.SLOWDOWN)
        self.assertTrue(prompted and os.read(program.stdout.fileno(), 4096), "cmd.exe did not start")
        self.assertTrue(self.waiting(prefix), "cmd.exe is not among the prefix's processes")
        # The server goes first, as it did in a run that left a program asleep with no server.
        for pid in wine_platform.processes_of(prefix.root):
            if self.name(pid) == "wineserver":
                os.kill(pid, signal.SIGKILL)
        deadline = time.monotonic() + 10
        while "wineserver" in self.names(prefix) and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertNotIn("wineserver", self.names(prefix))
        self.assertTrue(self.waiting(prefix), "the program outlived its server")

        prefix.close()
        self.assertEqual(wine_platform.processes_of(prefix.root), [])
        program.wait(timeout=10)

    @staticmethod
    def name(pid):
        """The program a process runs (under qemu-user, the emulated program's name is in its command line)."""
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as cmdline:
                words = [os.path.basename(word.decode("utf-8", "replace")) for word in cmdline.read().split(b"\0")]
        except OSError:
            return ""
        return next((word for word in words if word.startswith("wineserver")), words[0] if words else "")

    def names(self, prefix):
        return {self.name(pid) for pid in wine_platform.processes_of(prefix.root)}

    @staticmethod
    def waiting(prefix):
        for pid in wine_platform.processes_of(prefix.root):
            try:
                with open("/proc/%d/cmdline" % pid, "rb") as cmdline:
                    if b"cmd" in cmdline.read().lower():
                        return True
            except OSError:
                pass
        return False


class WindowsModuleTest(unittest.TestCase):
    """The Windows module driving a prefix of this test's own as its machine."""

    def setUp(self):
        self.prefix = wine_platform.Prefix()
        self.addCleanup(self.prefix.close)
        self.env = dict(os.environ, OMBRIN_TEST_PLATFORM="windows-on-wine", OMBRIN_ALLOW_DRIVER_INSTALL="1",
                        OMBRIN_WINDOWS_ON_WINE_PREFIX=self.prefix.root)

    def child(self, action, **env):
        """This file in a process of its own that runs `action` with the Windows module."""
        return subprocess.Popen([sys.executable, "-B", __file__, "child", action, OMBRIN, harness.HELPERS, SAMPLE],
                                env=dict(self.env, **env), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    def assert_nothing_left(self):
        import windows_platform
        self.assertEqual(windows_platform.leftovers(self.prefix), [])
        published = glob.glob(os.path.join(self.prefix.env["WINEPREFIX"], "drive_c", "windows", "inf", "oem*.inf"))
        self.assertEqual(published, [])

    def test_the_leftover_check_names_a_device_and_a_class_that_were_not_removed(self):
        # Installed past the Windows module, so that nothing of it removes them.
        import windows_platform
        self.prefix.make_device(SAMPLE_ID)
        inf = self.prefix.windows_path(os.path.join(SAMPLE, harness.SAMPLE_INF))
        self.assertEqual(self.prefix.run(OMBRIN, ["/c", SAMPLE_ID, inf]), (0, b""))
        left = windows_platform.leftovers(self.prefix)
        self.assertEqual([line.split(" ")[0] for line in left], ["class", "device"], left)
        self.assertIn(harness.SAMPLE_CLASS, left[0])
        self.assertIn("ROOT\\OMBRIN_SAMPLE\\", left[1])

    def test_it_refuses_to_start_without_being_asked_to_install_drivers(self):
        command = subprocess.run([sys.executable, "-B", os.path.join(HERE, "windows_suites.py"), "--on-wine",
                                  os.path.dirname(OMBRIN)], env=self.env, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True, timeout=60, check=False)
        self.assertEqual(command.returncode, 2, command.stdout)
        self.assertIn("--install-test-drivers", command.stdout)
        refused = self.child("install", OMBRIN_ALLOW_DRIVER_INSTALL="")
        output = refused.communicate(timeout=60 * self.prefix.SLOWDOWN)[0].decode()
        self.assertNotEqual(refused.returncode, 0)
        self.assertIn("windows_suites.py --install-test-drivers", output)
        self.assert_nothing_left()

    def test_a_failing_test_leaves_nothing_installed(self):
        failed = self.child("fail")
        output = failed.communicate(timeout=300 * self.prefix.SLOWDOWN)[0].decode()
        self.assertIn("installed\n", output)
        self.assertIn("AssertionError: a failure after the installation", output)
        self.assertNotEqual(failed.returncode, 0)
        self.assert_nothing_left()

    def test_ctrl_c_during_a_run_leaves_nothing_installed(self):
        running = self.child("wait")
        line = b""
        while not line.endswith(b"\n"):  # unbuffered: communicate() below reads the pipe itself
            read = os.read(running.stdout.fileno(), 1)
            line += read
            if not read:
                break
        self.assertEqual(line, b"installed\n", line)
        running.send_signal(signal.SIGINT)
        output = running.communicate(timeout=300 * self.prefix.SLOWDOWN)[0].decode()
        self.assertIn("KeyboardInterrupt", output)
        self.assert_nothing_left()


class SdkToolTest(unittest.TestCase):
    def test_the_newest_sdk_copy_for_the_processor_is_taken(self):
        import windows_platform
        kits = tempfile.mkdtemp(prefix="ombrin-kits-")
        self.addCleanup(__import__("shutil").rmtree, kits)
        for version, architecture in [("10.0.19041.0", "x64"), ("10.0.26100.0", "x64"), ("10.0.26100.0", "x86"),
                                      ("10.0.9200.0", "arm64"), ("10.0.26100.0", "arm64")]:
            os.makedirs(os.path.join(kits, version, architecture))
            open(os.path.join(kits, version, architecture, "signtool.exe"), "w").close()
        os.makedirs(os.path.join(kits, "10.0.30000.0", "x64"))  # a newer SDK without the tool
        self.assertEqual(windows_platform.sdk_tool("signtool.exe", "AMD64", kits),
                         os.path.join(kits, "10.0.26100.0", "x64", "signtool.exe"))
        self.assertEqual(windows_platform.sdk_tool("signtool.exe", "ARM64", kits),
                         os.path.join(kits, "10.0.26100.0", "arm64", "signtool.exe"))
        with self.assertRaisesRegex(FileNotFoundError, "makecat.exe"):
            windows_platform.sdk_tool("makecat.exe", "AMD64", kits)


class StartFailureTest(unittest.TestCase):
    """What a case shows when the platform, not the program, fails."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = wine_platform.Prefix()
        cls.addClassCleanup(cls.prefix.close)

    def test_a_program_wine_cannot_start_is_an_error_with_wines_own_words(self):
        not_a_program = os.path.join(self.prefix.work, "not-a-program.exe")
        with open(not_a_program, "w", encoding="ascii") as file:
            file.write("text, not a program\n")
        for program in [os.path.join(self.prefix.work, "missing.exe"), not_a_program]:
            with self.subTest(program=os.path.basename(program)):
                # What Wine writes when it is asked directly, on either stream.
                argv, env = self.prefix.command(program, [])
                with harness.standard_error() as errors:
                    direct = subprocess.run(argv, env=env, cwd=self.prefix.work, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.PIPE, stderr=errors, timeout=60 * self.prefix.SLOWDOWN)
                    words = (harness.read_standard_error(errors) + direct.stdout).decode("utf-8", "replace").strip()
                self.assertTrue(words)
                with self.assertRaises(harness.StartFailure) as raised:
                    self.prefix.run(program, [])
                self.assertIn(words.splitlines()[0], str(raised.exception))
                self.assertIn(program, str(raised.exception))

    def test_a_failing_case_shows_what_its_programs_wrote_to_standard_error(self):
        prefix = self.prefix

        class Case(harness.PlatformCase):
            def test_it(self):
                status, _ = prefix.run("cmd", ["/c", "echo a diagnostic of the platform 1>&2 & exit 1"])
                self.assertEqual(status, 0)

        outcome = unittest.TestResult()
        Case("test_it").run(outcome)
        self.assertEqual(len(outcome.failures), 1, outcome.errors)
        message = outcome.failures[0][1]
        self.assertIn("1 != 0", message)
        self.assertIn("cmd /c echo a diagnostic of the platform 1>&2 & exit 1 (status 1):", message)
        self.assertIn("a diagnostic of the platform", message.split("(status 1):")[1])


class CatalogLineTest(unittest.TestCase):
    """Only a real Windows installs a package naming its catalog, so the naming is checked here on its own."""

    def test_the_catalog_is_named_once_right_under_the_version_header(self):
        import windows_platform
        cases = [("[Version]\r\nSignature=\"$WINDOWS NT$\"\r\n", "[Version]\r\n"),
                 ("; c\n[version]  \nSignature=x\nCatalogFile=old.cat\n[Strings]\nB=2\n", "[version]  \n"),
                 ("[Strings]\r\nA=1\r\n  [VERSION]\r\n  catalogfile = old.cat\r\nB=2\r\n", "  [VERSION]\r\n")]
        for text, header in cases:
            with self.subTest(text=text):
                named = windows_platform.with_catalog(text, "new.cat")
                self.assertIn(header + "CatalogFile = new.cat\r\n", named)
                self.assertNotIn("old.cat", named)
                self.assertEqual(named.replace(header + "CatalogFile = new.cat\r\n", header),
                                 re.sub(r"(?im)^[ \t]*catalogfile *= *old.cat\r?\n", "", text))


class CatalogDefinitionTest(unittest.TestCase):
    """makecat's documented form (learn.microsoft.com/windows/win32/seccrypto/makecat): each file under the tag <HASH>,
    written so, and no PublicVersion, which the page says is not supported; the last line ends with a newline."""

    def test_the_definition_lists_each_file_by_hash_in_the_documented_form(self):
        import windows_platform
        text = windows_platform.catalog_definition("pkg.cat", "C:\\pkg", ["pkg.inf", "pkg.sys"])
        header, _, files = text.partition("[CatalogFiles]\r\n")
        self.assertTrue(header.startswith("[CatalogHeader]\r\nName=pkg.cat\r\nResultDir=C:\\pkg\r\n"), header)
        self.assertIn("\r\nCatalogVersion=2\r\nHashAlgorithms=SHA256\r\n", header)
        self.assertNotIn("publicversion", header.lower())
        # One line a file, each ended, the last one too (hence the empty text after the last line end).
        self.assertEqual([line.split("=")[0] for line in files.split("\r\n")], ["<HASH>pkg.inf", "<HASH>pkg.sys", ""])


def child(action):
    """Installs the sample through the Windows module, then fails, waits to be interrupted, or (refused) ends."""
    import windows_platform
    machine = windows_platform.Machine()
    machine.make_device(SAMPLE_ID)
    inf = machine.driver_package(os.path.join(SAMPLE, harness.SAMPLE_INF))
    status, output = machine.run(OMBRIN, ["/c", SAMPLE_ID, inf])
    state = machine.state(harness.SAMPLE_CLASS, SAMPLE_ID)
    assert status == 0 and "SampleMode = dword:42" in state and "OmbrinClassNote" in state, (status, output, state)
    print("installed", flush=True)
    if action == "fail":
        raise AssertionError("a failure after the installation")
    if action == "wait":
        time.sleep(600)


if __name__ == "__main__":
    if sys.argv[1] == "child":
        # Ctrl+C as an operator's console delivers it, even where this test was started with it ignored (a
        # shell's background job), which the child would otherwise inherit.
        signal.signal(signal.SIGINT, signal.default_int_handler)
        OMBRIN, harness.HELPERS, SAMPLE = sys.argv[3:6]
        child(sys.argv[2])
        sys.exit(0)
    OMBRIN, harness.HELPERS, SAMPLE = (os.path.abspath(arg) for arg in sys.argv[1:4])
    del sys.argv[1:5]
    unittest.main(verbosity=2)
