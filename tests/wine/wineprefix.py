"""A throwaway Wine prefix for running the built Ombrin.exe and the test helpers."""

import os
import re
import shutil
import subprocess
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


class Prefix:
    """Creates a prefix in a new temporary folder; close() ends its processes and removes it."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="ombrin-wine-")
        self.env = dict(os.environ)
        # No display, and no offer to install Wine's .NET and HTML add-ons.
        self.env.update(WINEPREFIX=os.path.join(self.root, "prefix"), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("DISPLAY", None)
        # Arguments reach Windows programs converted from this locale.
        self.env.update(LANG="C.UTF-8", LC_ALL="C.UTF-8")
        subprocess.run(["wineboot", "-i"], env=self.env, check=True, timeout=300,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=300)
        self.work = os.path.join(self.root, "work")
        os.mkdir(self.work)

    def system32(self):
        return os.path.join(self.env["WINEPREFIX"], "drive_c", "windows", "system32")

    def windows_path(self, path):
        """The Windows form of a Linux path (drive Z: maps the Linux root)."""
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def run(self, program, args, cwd=None, timeout=60, extra_env=None, stdin=subprocess.DEVNULL):
        """Runs a Windows program; returns (exit status read back as signed from the low byte Linux sees, stdout bytes)."""
        env = dict(self.env)
        env.update(extra_env or {})
        done = subprocess.run(["wine", program] + list(args), cwd=cwd or self.work, env=env, stdin=stdin,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)
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
        command = " ".join(shell_quote(word) for word in ["wine", program] + list(args))
        process = subprocess.Popen(["script", "-qec", "stty cols 250; " + command, "/dev/null"], cwd=self.work,
                                   env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        # The output is read to its end; a run that outlives the timeout is killed.
        watchdog = threading.Timer(timeout, process.kill)
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
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60)
        shutil.rmtree(self.root, ignore_errors=True)


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
