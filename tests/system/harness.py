"""What the suites of the built Ombrin.exe share, whatever platform runs them.

OMBRIN_TEST_PLATFORM names the platform:
  wine             (the default) Wine; every platform object is a throwaway prefix (wine_platform.py)
  windows          this Windows machine itself (windows_platform.py). It installs a test device, driver
                   package and class, so it also needs OMBRIN_ALLOW_DRIVER_INSTALL=1, which
                   `windows_suites.py --install-test-drivers` sets
  windows-on-wine  the Windows module with a Wine prefix as its machine: the Windows code, as far as Wine
                   can stand in for Windows
A case that needs what the platform lacks says so with `needs(feature)` and is skipped with the reason.
"""

import atexit
import functools
import os
import signal
import subprocess
import sys
import tempfile
import unittest

KIND = os.environ.get("OMBRIN_TEST_PLATFORM", "wine")
HELPERS = None  # the folder of the helper programs; each suite sets it from its command line

# The sample driver package (examples/sample-driver): its class, the hardware ID of its model, and its INF's name;
# and the hardware ID the smoke suite's device has.
SAMPLE_CLASS = "{8C1F4E2A-6B3D-4F57-9A21-3E5D7C0B9F14}"
SAMPLE_ID = "ROOT\\OMBRIN_SAMPLE"
SAMPLE_INF = "ombrin_sample.inf"
SMOKE_ID = "ROOT\\OMBRIN_SMOKE"

# The banner and usage text as the bytes that reach standard output.
USAGE = (
    b"Ombrin - Driver Installer from Console - Copyright (C) 2026 The Ombrin Authors\r\n\r\n"
    b'Usage: Ombrin.exe [/f /s /c] "[HardwareId]" "[FullInfPath]"\r\n'
    b"with:  /f: Force Install : Installs the driver even if there is a better match\r\n"
    b"       /s: Silent Install.\r\n"
    b"       /c: Force ClassInstall32 installation from the given .inf file.\r\n\r\n"
    b'Example: Ombrin.exe "PCI\\VEN_1172&DEV_7A3C" "Velquist.inf"\r\n\r\n'
)

# What a case may need, and why a platform without it cannot run the case.
REASONS = {
    "stand_in": "needs a stand-in newdev.dll in system32 (to record the call, delay it or fail it with a chosen "
                "code), which only Wine lets a test put there",
    "failing_update": "needs a driver update that fails with ERROR_FILE_NOT_FOUND: Windows' own for a missing INF, "
                      "Wine's through the stand-in (Wine's update never fails); the Windows module on Wine has neither",
    "no_device_failure": "needs Windows' own update, which fails when no device has the hardware ID (Wine's reports "
                         "success)",
    "signature_checks": "needs Windows' driver signing: Wine installs a package whatever its signature",
    "person_console": "needs a console where a person could press a key (a window that is one, on a window station "
                      "one sees): this machine gives none",
    "wine_loader_overrides": "the planting controls need Wine's native-before-builtin overrides; on Windows these "
                             "names are known system libraries",
}

# How a platform installs where platforms differ; a case reads these, never the platform's name.
#   class_with_first_device: installing the first device of a class that is not yet installed installs the class
#   from the INF's ClassInstall32 section as well. Windows does ("INF ClassInstall32 section", Remarks:
#   https://learn.microsoft.com/en-us/windows-hardware/drivers/install/inf-classinstall32-section); Wine 8 and 10
#   do not (measured: without SetupDiInstallClassW the class key stays absent).
BEHAVIOURS = ("class_with_first_device",)


def does(behaviour):
    """Whether the run's platform installs as `behaviour` says (one of BEHAVIOURS)."""
    if behaviour not in BEHAVIOURS:
        raise ValueError("no such behaviour: %r" % behaviour)
    return behaviour in features()


def needs(feature):
    """Marks a test case, or a whole class of them, as needing `feature` of the platform."""
    reason = REASONS[feature]

    def decorate(case):
        if isinstance(case, type):
            case.NEEDS = tuple(getattr(case, "NEEDS", ())) + (feature,)
            return case

        @functools.wraps(case)
        def checked(self, *args, **kwargs):
            if feature not in features():
                self.skipTest(reason)
            return case(self, *args, **kwargs)
        return checked
    return decorate


@functools.lru_cache(maxsize=None)
def features():
    """What the run's platform offers (see REASONS)."""
    return frozenset(platform_class().features())


def platform_class():
    if KIND == "wine":
        import wine_platform
        return wine_platform.Prefix
    if KIND in ("windows", "windows-on-wine"):
        import windows_platform
        return windows_platform.Machine
    sys.exit("OMBRIN_TEST_PLATFORM must be wine, windows or windows-on-wine, not %r" % KIND)


def new_platform():
    """A clean platform for one test or one class of tests; close() undoes what it did."""
    return platform_class()()


class StartFailure(Exception):
    """The platform could not start a program at all: there is no exit status of the program's own to judge."""


# What the programs run since the current test began wrote to standard error: (command, status, text).
_runs = []


def standard_error():
    """A file for a program's standard error. Not a pipe: what the program starts in turn (Wine's services, for
    one) may keep it open long after the program has ended, and a pipe would be read until they end too."""
    return tempfile.TemporaryFile()


def read_standard_error(file):
    file.seek(0)
    return file.read()


def record_run(argv, status, stderr):
    _runs.append((" ".join(os.path.basename(word) if index == 0 else word for index, word in enumerate(argv)),
                  status, stderr.decode("utf-8", "replace")))


def standard_error_note():
    """The standard error of the programs run since the current test began, for a failure's message."""
    written = ["%s (status %s):\n%s" % (command, status, text[-4000:].rstrip()) for command, status, text in _runs
               if text.strip()]
    if not written:
        return "The programs this test ran wrote nothing to standard error."
    return "What the programs this test ran wrote to standard error:\n" + "\n".join(written)


class PlatformCase(unittest.TestCase):
    """Cases whose class says what it needs of the platform (NEEDS, set by `needs`); skipped where it lacks it.
    A failed assertion's message ends with what the test's programs wrote to standard error."""

    NEEDS = ()
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        missing = [feature for feature in cls.NEEDS if feature not in features()]
        if missing:
            raise unittest.SkipTest(REASONS[missing[0]])

    def run(self, result=None):
        del _runs[:]
        return super().run(result)

    def _formatMessage(self, msg, standardMsg):
        # unittest builds every failed assertion's message here.
        return super()._formatMessage(msg, standardMsg) + "\n" + standard_error_note()


class PlatformTest(PlatformCase):
    """Cases that share one platform object for their class."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.platform = new_platform()
        cls.addClassCleanup(cls.platform.close)


# Platform objects not yet closed, in the order they were made: closed at exit, the last made first (a machine
# before the prefix it runs on), also when Ctrl+C or a signal ends the run.
_open = {}


def close_at_exit(platform):
    _open[platform] = True


def closing(platform):
    """True the first time a platform object is closed; it leaves the list of those to close at exit."""
    return _open.pop(platform, None) is not None


def _close_all():
    for platform in reversed(list(_open)):
        platform.close()


def _exit_on_signal(number, _frame):
    sys.exit(128 + number)  # unwinds, so that cleanups and atexit run


atexit.register(_close_all)
for _name in ("SIGTERM", "SIGHUP", "SIGBREAK"):  # SIGBREAK: Ctrl+Break, and the console closing, on Windows
    if hasattr(signal, _name):
        signal.signal(getattr(signal, _name), _exit_on_signal)


def status_line(call, code):
    return b"%s failed with status : %08X\r\n" % (call, code)


class Platform:
    """What the suites ask of a platform. A module a platform gives:
    command(program, args, extra_env) -> (argv, env), signed(status), windows_path(path), run_in_terminal(...),
    features(), close(), and the folders root and work (a test's files)."""

    SLOWDOWN = 1.0
    START_OPTIONS = {}  # further arguments of subprocess.run for a program's start

    def __init__(self):
        self._texts = {}

    def helper(self, name):
        return os.path.join(HELPERS, name)

    def run(self, program, args, cwd=None, timeout=60, extra_env=None, stdin=subprocess.DEVNULL):
        """Runs a Windows program without a console; returns (its exit status, signed, and its standard output).
        What it writes to standard error is kept for the test's failure messages; a program the platform could not
        start raises StartFailure with what the platform wrote."""
        argv, env = self.command(program, args, extra_env)
        with standard_error() as errors:
            done = subprocess.run(argv, cwd=cwd or self.work, env=env, stdin=stdin, stdout=subprocess.PIPE,
                                  stderr=errors, timeout=timeout * self.SLOWDOWN, **self.START_OPTIONS)
            stderr = read_standard_error(errors)
        record_run(argv, done.returncode, stderr)
        self.check_started(program, done.returncode, done.stdout, stderr)
        return self.signed(done.returncode), done.stdout

    def check_started(self, program, status, stdout, stderr):
        """Raises StartFailure where the platform's own words say that it could not start `program`."""

    def environment(self, extra_env):
        """The environment of a program: this one's, the platform's slowness (the helpers scale their waits by
        it), then `extra_env`."""
        env = dict(self.env, OMBRIN_TEST_SLOWDOWN=str(self.SLOWDOWN))
        env.update(extra_env or {})
        return env

    def helper_output(self, name, args):
        """Runs a helper that must succeed; returns its output with Windows' line ends made \\n."""
        status, output = self.run(self.helper(name), args)
        if status != 0:
            raise AssertionError("%s %s failed with %d: %r" % (name, " ".join(args), status, output))
        return output.decode("utf-8", "replace").replace("\r\n", "\n")

    def system_text(self, code):
        """The running system's English text for `code` as a report prints it, or None where it has none."""
        if code not in self._texts:
            status, text = self.run(self.helper("system_text.exe"), ["%X" % code])
            if status not in (0, 1):
                raise AssertionError("system_text.exe %X failed with %d" % (code, status))
            self._texts[code] = text if status == 0 else None
        return self._texts[code]

    def report(self, call, code):
        """A failure report of `call` (bytes) with `code`: the status line, and the system's text where it has one
        (the text's own line end, then the message's)."""
        text = self.system_text(code)
        return status_line(call, code) + (b"Extended Error : " + text + b"\r\n" if text is not None else b"")

    def make_device(self, hardware_id):
        """A root-enumerated device with `hardware_id`, of no particular class."""
        return self.helper_output("make_device.exe", [hardware_id])

    def state(self, class_guid, hardware_id):
        """The class's values and those of the driver key of each device with `hardware_id`, as text."""
        return self.helper_output("show_state.exe", [class_guid, hardware_id])

    def driver_package(self, inf):
        """The Windows path of a driver package's INF (a Linux or Windows path of this machine) ready to install."""
        return self.windows_path(inf)
