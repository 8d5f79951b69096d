"""A throwaway Wine prefix for running the built Ombrin.exe and the test helpers."""

import atexit
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

# The banner and usage text as the bytes that reach standard output.
USAGE = (
    b"Ombrin - Driver Installer from Console - Copyright (C) 2026 The Ombrin Authors\r\n\r\n"
    b'Usage: Ombrin.exe [/f /s /c] "[HardwareId]" "[FullInfPath]"\r\n'
    b"with:  /f: Force Install : Installs the driver even if there is a better match\r\n"
    b"       /s: Silent Install.\r\n"
    b"       /c: Force ClassInstall32 installation from the given .inf file.\r\n\r\n"
    b'Example: Ombrin.exe "PCI\\VEN_1172&DEV_7A3C" "Velquist.inf"\r\n\r\n'
)


class PrefixBootError(Exception):
    """Wine could not make a prefix in any of the attempts: the machine, not the program, failed."""


# Prefixes not yet closed; closed at exit, also when a signal ends the tests.
_open = set()


def _close_all():
    for prefix in list(_open):
        prefix.close()


def _exit_on_signal(number, _frame):
    sys.exit(128 + number)  # unwinds, so that cleanups and atexit run


atexit.register(_close_all)
for _signal in (signal.SIGTERM, signal.SIGHUP):
    signal.signal(_signal, _exit_on_signal)


class Prefix:
    """A prefix in a new temporary folder, with a wineserver of its own that stays up until close(),
    which ends it and removes the folder.

    OMBRIN_WINE_LAUNCHER, when set, is a command that runs Wine's programs (for the ARM64 build:
    scripts/in-arm64-root.sh); SLOWDOWN (OMBRIN_WINE_SLOWDOWN, default 1) scales every time-out.
    OMBRIN_WINE_TEMPLATE, when set, names a file that names a prefix booted once for the run (see
    make_template): each prefix starts as a copy of it instead of booting, and sees nothing of another's.
    """

    BOOT_ATTEMPTS = 3
    SLOWDOWN = float(os.environ.get("OMBRIN_WINE_SLOWDOWN", "1"))

    def __init__(self):
        # One program, whatever its path holds (blanks included).
        launcher = os.environ.get("OMBRIN_WINE_LAUNCHER", "")
        self.launcher = [launcher] if launcher else []
        failures = []
        for attempt in range(1, self.BOOT_ATTEMPTS + 1):
            self._make_folder()
            try:
                self._start(template())
                return
            except (OSError, subprocess.SubprocessError) as error:
                failures.append("attempt %d: %s" % (attempt, error))
                self.close()
        raise PrefixBootError("Wine could not make a prefix in %d attempts, each in a new folder:\n  %s"
                              % (self.BOOT_ATTEMPTS, "\n  ".join(failures)))

    def _make_folder(self):
        self.root = tempfile.mkdtemp(prefix="ombrin-wine-")
        _open.add(self)
        self.env = dict(os.environ)
        # No display, and no offer to install Wine's .NET and HTML add-ons. A runtime folder of the
        # prefix's own, or Wine 10's display driver writes a complaint onto the console of a test.
        self.env.update(WINEPREFIX=os.path.join(self.root, "prefix"), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", XDG_RUNTIME_DIR=os.path.join(self.root, "runtime"))
        self.env.pop("DISPLAY", None)
        self.env.pop("WAYLAND_DISPLAY", None)
        # Debian's Wine 10 server aborts when TMPDIR is set and /run/user/UID is missing (close()
        # removes the socket folder it makes instead).
        self.env.pop("TMPDIR", None)
        # Arguments reach Windows programs converted from this locale.
        self.env.update(LANG="C.UTF-8", LC_ALL="C.UTF-8")
        os.mkdir(self.env["XDG_RUNTIME_DIR"], 0o700)
        self.work = os.path.join(self.root, "work")
        os.mkdir(self.work)

    def _start(self, template):
        # One server for the prefix's whole life, started before anything else. Left to itself, Wine's
        # server begins to shut down as soon as the last program of a run has ended: it stops taking
        # new clients at once and exits once the prefix's services have gone. A run started in that
        # window, as the next test's run is, cannot connect; on a loaded machine the window outlasts
        # its retries, and Wine ends it with status 1 before it has run at all.
        if template:
            shutil.copytree(template, self.env["WINEPREFIX"], symlinks=True)
            os.remove(os.path.join(self.env["WINEPREFIX"], "wineserver"))  # the template server's folder
        else:
            os.mkdir(self.env["WINEPREFIX"])
        self._wine("wineserver", "-p")
        if not template:
            self._wine("wineboot", "-i", timeout=180)

    def _wine(self, *command, timeout=60):
        """Runs one of Wine's own programs; its messages go to the folder's wine.log."""
        with open(os.path.join(self.root, "wine.log"), "ab") as log:
            subprocess.run(self.launcher + list(command), env=self.env, cwd=self.work, check=True,
                           timeout=timeout * self.SLOWDOWN, stdin=subprocess.DEVNULL, stdout=log, stderr=log)

    def system32(self):
        return os.path.join(self.env["WINEPREFIX"], "drive_c", "windows", "system32")

    def windows_path(self, path):
        """The Windows form of a Linux path (drive Z: maps the Linux root)."""
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def run(self, program, args, cwd=None, timeout=60, extra_env=None, stdin=subprocess.DEVNULL):
        """Runs a Windows program; returns (exit status read back as signed from the low byte Linux sees, stdout bytes)."""
        env = dict(self.env)
        env.update(extra_env or {})
        done = subprocess.run(self.launcher + ["wine", program] + list(args), cwd=cwd or self.work, env=env,
                              stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              timeout=timeout * self.SLOWDOWN)
        status = done.returncode
        return (status - 256 if status > 127 else status), done.stdout

    def run_in_terminal(self, program, args, timeout=120, extra_env=None):
        """Runs a Windows program under a pseudo-terminal, so that it has a console.

        Returns (Linux exit status, the terminal's output as text with the console's
        control sequences removed). Standard input stays open and silent: at its end
        the terminal would deliver a byte that Wine turns into a key press.
        """
        env = dict(self.env)
        env.update(extra_env or {})
        command = " ".join(shell_quote(word) for word in self.launcher + ["wine", program] + list(args))
        process = subprocess.Popen(["script", "-qec", "stty cols 250; " + command, "/dev/null"], cwd=self.work,
                                   env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        # The output is read to its end; a run that outlives the timeout is killed.
        watchdog = threading.Timer(timeout * self.SLOWDOWN, process.kill)
        watchdog.start()
        try:
            output = process.stdout.read()
            status = process.wait()
        finally:
            watchdog.cancel()
            process.stdin.close()
            process.stdout.close()
        return status, terminal_text(output)

    def close(self):
        """Ends every process of the prefix and removes its folder; safe to call more than once."""
        if self not in _open:
            return
        _open.discard(self)
        try:
            subprocess.run(self.launcher + ["wineserver", "-k"], env=self.env, timeout=60 * self.SLOWDOWN,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except (OSError, subprocess.SubprocessError):
            pass  # nothing runs any more, or it will not answer: the folders go all the same
        for folder in server_folders(self.env["WINEPREFIX"]):
            shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(self.root, ignore_errors=True)


def template():
    """The booted prefix that OMBRIN_WINE_TEMPLATE's file names, or None where there is none."""
    try:
        with open(os.environ["OMBRIN_WINE_TEMPLATE"], encoding="utf-8") as named:
            prefix = named.read().strip()
    except (KeyError, OSError):
        return None
    return prefix if os.path.isfile(os.path.join(prefix, "system.reg")) else None


def make_template(record):
    """Boots a prefix that outlives this process for the run's tests to copy, ends its server (which writes
    the registry out) and names it in the file `record`. It sits in the run's temporary folder, so that
    the test command removes it however the run ends; remove_template removes it when the tests are done."""
    remove_template(record)
    prefix = Prefix()
    subprocess.run(prefix.launcher + ["wineserver", "-k"], env=prefix.env, timeout=60 * prefix.SLOWDOWN,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    subprocess.run(prefix.launcher + ["wineserver", "-w"], env=prefix.env, timeout=60 * prefix.SLOWDOWN,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    _open.discard(prefix)
    with open(record, "w", encoding="utf-8") as named:
        named.write(prefix.env["WINEPREFIX"] + "\n")


def remove_template(record):
    try:
        with open(record, encoding="utf-8") as named:
            prefix = named.read().strip()
        os.remove(record)
    except OSError:
        return
    if os.path.basename(prefix) == "prefix" and os.path.basename(os.path.dirname(prefix)).startswith("ombrin-wine-"):
        for folder in server_folders(prefix):
            shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(os.path.dirname(prefix), ignore_errors=True)


def server_folders(prefix):
    """Where Wine's server keeps the socket of `prefix`, outside it, and never removes it: under
    /run/user/UID/wine when that folder exists, else in a folder of /tmp that the prefix names."""
    folders = []
    try:
        where = os.stat(prefix)
        folders.append("/run/user/%d/wine/server-%x-%x" % (os.getuid(), where.st_dev, where.st_ino))
        with open(os.path.join(prefix, "wineserver"), encoding="ascii") as named:
            name = named.read().strip()
        if re.fullmatch(r"wine-[A-Za-z0-9]+", name):
            folders.append(os.path.join("/tmp", name))
    except (OSError, UnicodeDecodeError):
        pass
    return folders


def shell_quote(word):
    return "'" + word.replace("'", "'\\''") + "'"


def terminal_text(output):
    """The text a console wrote to the terminal, without cursor and colour sequences."""
    text = output.decode("utf-8", "replace")
    text = re.sub(r"\x1b\[K\x1b\[(\d+)C", lambda m: " " * int(m.group(1)), text)
    text = re.sub(r"\x1b\[(\d+)C", lambda m: " " * int(m.group(1)), text)
    text = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", text)
    text = re.sub(r"\x1b\][^\x07]*\x07", "", text)
    return text.replace("\r", "")


if __name__ == "__main__":
    # wineprefix.py make-template|remove-template RECORD: the run's template prefix, for CTest's fixture.
    {"make-template": make_template, "remove-template": remove_template}[sys.argv[1]](sys.argv[2])
