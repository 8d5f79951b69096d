"""The Wine platform of the suites: a throwaway prefix for running the built Ombrin.exe and the test helpers."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

import harness


class PrefixBootError(Exception):
    """Wine could not make a prefix in any of the attempts: the machine, not the program, failed."""


class Prefix(harness.Platform):
    """A prefix in a new temporary folder, with a wineserver of its own that stays up until close(),
    which ends it and removes the folder.

    OMBRIN_WINE_LAUNCHER, when set, is a command that runs Wine's programs (for the ARM64 build:
    scripts/in-arm64-root.sh); SLOWDOWN (OMBRIN_WINE_SLOWDOWN, default 1) scales every time-out.
    OMBRIN_WINE_TEMPLATE, when set, names a file that names a prefix booted once for the run (see
    make_template): each prefix starts as a copy of it instead of booting, and sees nothing of another's.
    """

    BOOT_ATTEMPTS = 3
    SLOWDOWN = float(os.environ.get("OMBRIN_WINE_SLOWDOWN", "1"))
    FEATURES = ("stand_in", "failing_update", "person_console", "wine_loader_overrides")

    @classmethod
    def features(cls):
        return cls.FEATURES

    def __init__(self):
        super().__init__()
        self._stand_in = False
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

    @classmethod
    def attached(cls, root):
        """The prefix that another process made in `root` and will close: programs run in it, nothing more."""
        prefix = cls.__new__(cls)
        harness.Platform.__init__(prefix)
        launcher = os.environ.get("OMBRIN_WINE_LAUNCHER", "")
        prefix.launcher = [launcher] if launcher else []
        prefix._stand_in = False
        prefix._set_folder(root)
        return prefix

    def _make_folder(self):
        self._set_folder(tempfile.mkdtemp(prefix="ombrin-wine-"))
        harness.close_at_exit(self)
        os.mkdir(self.env["XDG_RUNTIME_DIR"], 0o700)
        os.mkdir(self.work)

    def _set_folder(self, root):
        self.root = root
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
        self.work = os.path.join(self.root, "work")

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

    def command(self, program, args, extra_env=None):
        return self.launcher + ["wine", program] + list(args), self.environment(extra_env)

    @staticmethod
    def signed(status):
        """A Windows exit status as Linux sees it (its low byte), read back as signed."""
        return status - 256 if status > 127 else status

    def check_started(self, program, status, stdout, stderr):
        """Wine's loader says on standard error when it cannot load or run a program ("wine: ...", also for an
        unhandled exception), or when it cannot reach its server ("wine client error"); a file that is no program
        of this machine goes to Wine's start.exe, which says so on standard output and ends with status 1."""
        if status != 0 and (re.search(rb"(?m)^wine(?: client error)?:", stderr)
                            or stdout.startswith(b"Application could not be started")):
            raise harness.StartFailure("Wine could not start or run %s (status %d). Wine wrote:\n%s" % (
                program, status, (stderr + stdout).decode("utf-8", "replace").rstrip()))

    def failing_update_env(self, code=2):
        """The environment in which the driver update fails with `code`: Wine's own never fails, so the stand-in
        newdev.dll in system32 answers for it."""
        return self.stand_in_env(OMBRIN_STANDIN_UPDATE_ERROR="%X" % code)

    def stand_in_env(self, **settings):
        """Puts the stand-in newdev.dll in system32 (once); returns the environment that loads it, with the
        stand-in's `settings` (see helpers/standin_dll.cpp)."""
        if not self._stand_in:
            shutil.copy(self.helper("standin.dll"), os.path.join(self.system32(), "newdev.dll"))
            self._stand_in = True
        return dict(settings, WINEDLLOVERRIDES="newdev=n;mscoree,mshtml=")

    def run_in_terminal(self, program, args, timeout=120, extra_env=None):
        """Runs a Windows program under a pseudo-terminal, so that it has a console.

        Returns (Linux exit status, the terminal's output as text with the console's
        control sequences removed). Standard input stays open and silent: at its end
        the terminal would deliver a byte that Wine turns into a key press.
        """
        argv, env = self.command(program, args, extra_env)
        command = " ".join(shell_quote(word) for word in argv)
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
        if not harness.closing(self):
            return
        close_prefix(self.env["WINEPREFIX"], self.launcher, self.SLOWDOWN, self.env)
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
    end_processes(prefix.env["WINEPREFIX"])
    harness.closing(prefix)
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
        close_prefix(prefix, [], 1)
        shutil.rmtree(os.path.dirname(prefix), ignore_errors=True)


def close_prefix(prefix, launcher, slowdown=1, env=None):
    """Ends every process of `prefix`: through its server, then whatever still runs with it (a program whose
    server has gone is out of the server's reach), and removes the server's socket folders outside it."""
    env = dict(env or os.environ, WINEPREFIX=prefix)
    env.pop("TMPDIR", None)  # see Prefix._make_folder
    try:
        subprocess.run(launcher + ["wineserver", "-k"], env=env, timeout=60 * slowdown, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    except (OSError, subprocess.SubprocessError):
        pass  # nothing runs any more, or it will not answer: the rest goes all the same
    end_processes(prefix)
    for folder in server_folders(prefix):
        shutil.rmtree(folder, ignore_errors=True)


def own_lineage():
    """This process and its ancestors, which may carry a WINEPREFIX of their own (run.sh exports one)."""
    lineage, pid = set(), os.getpid()
    while pid > 1 and pid not in lineage:
        lineage.add(pid)
        try:
            with open("/proc/%d/stat" % pid, encoding="ascii", errors="replace") as stat:
                pid = int(stat.read().rsplit(")", 1)[1].split()[1])
        except (OSError, ValueError, IndexError):
            break
    return lineage


def processes_of(folder):
    """The processes whose WINEPREFIX is `folder` or lies in it: Wine's programs and server, and under qemu-user
    the emulator running each of them, all carry it from their start."""
    wanted = os.fsencode(os.path.normpath(os.path.abspath(folder)))
    found, lineage = [], own_lineage()
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) in lineage:
            continue
        try:
            with open("/proc/%s/environ" % name, "rb") as environ:
                entries = environ.read().split(b"\0")
        except OSError:
            continue  # gone, or not ours to read
        for entry in entries:
            if entry.startswith(b"WINEPREFIX="):
                value = os.path.normpath(entry[len(b"WINEPREFIX="):])
                if value == wanted or value.startswith(wanted + b"/"):
                    found.append(int(name))
    return found


def end_processes(folder, seconds=10):
    """Kills what still runs with a prefix in `folder` and waits until it has gone; returns their number. SIGKILL:
    a Wine program whose server has gone can take no other end."""
    pids = processes_of(folder)
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
    deadline = time.monotonic() + seconds
    while pids and processes_of(folder) and time.monotonic() < deadline:
        time.sleep(0.05)
    return len(pids)


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


def close_command(prefix, *launcher):
    close_prefix(prefix, list(launcher), float(os.environ.get("OMBRIN_WINE_SLOWDOWN", "1")))


def end_under_command(folder):
    ended = end_processes(folder)
    if ended:
        print("Ended %d Wine process(es) left running with a prefix in %s." % (ended, folder), file=sys.stderr)


if __name__ == "__main__":
    # make-template|remove-template RECORD: the run's template prefix, for CTest's fixture;
    # close PREFIX [LAUNCHER...]: ends a prefix's processes (run.sh); end-under FOLDER: the run's end (test.sh).
    commands = {"make-template": make_template, "remove-template": remove_template, "close": close_command,
                "end-under": end_under_command}
    commands[sys.argv[1]](*sys.argv[2:])
