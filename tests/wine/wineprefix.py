"""A throwaway Wine prefix for running the built Ombrin.exe and the test helpers."""

import os
import shutil
import subprocess
import tempfile

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
        """Runs a Windows program; returns (Windows exit status as signed 32 bits, stdout bytes)."""
        env = dict(self.env)
        env.update(extra_env or {})
        done = subprocess.run(["wine", program] + list(args), cwd=cwd or self.work, env=env, stdin=stdin,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)
        status = done.returncode
        return (status - 256 if status > 127 else status), done.stdout

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60)
        shutil.rmtree(self.root, ignore_errors=True)
