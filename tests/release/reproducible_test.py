"""Builds Ombrin.exe twice, from copies of the source in two folders whose paths differ in name and
length, and packages each build as a release: the executables, and the archives, must be the same
byte for byte, and the same as the executable of the build under test.

Usage: reproducible_test.py SOURCE_DIR BUILT_EXE
"""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

SOURCE = BUILT_EXE = None  # from the command line

EPOCH = 1764000000  # an even second: zip entry times have a resolution of 2 s
ARCHIVE = "Ombrin-1.1.0.0-win-x64.zip"


def read(path):
    with open(path, "rb") as file:
        return file.read()


class ReproducibleReleaseTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="ombrin-repro-")
        cls.copies = [os.path.join(cls.root, "a"), os.path.join(cls.root, "a much longer folder name", "copy-2")]
        for index, copy in enumerate(cls.copies):
            shutil.copytree(SOURCE, copy, ignore=shutil.ignore_patterns("build", "dist", ".git"))
            if index == 1:
                # As a checkout made at another time by another user: other file times and modes.
                for folder, _, files in os.walk(copy):
                    for name in files:
                        path = os.path.join(folder, name)
                        os.utime(path, (EPOCH + 12345, EPOCH + 12345))
                        os.chmod(path, 0o600)
            # Only what a release needs: the program, configured without its tests.
            for command in [["cmake", "--preset", "mingw", "-DBUILD_TESTING=OFF"],
                            ["cmake", "--build", "--preset", "mingw", "--target", "Ombrin"]]:
                subprocess.run(command, cwd=copy, check=True, stdout=subprocess.DEVNULL)
            subprocess.run([sys.executable, os.path.join(copy, "scripts", "package.py"),
                            os.path.join(copy, "build", "mingw"), os.path.join(copy, "dist")],
                           env=dict(os.environ, SOURCE_DATE_EPOCH=str(EPOCH)), check=True, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def built(self, index, *path):
        return os.path.join(self.copies[index], *path)

    def test_the_executables_are_identical_and_hold_no_build_folder(self):
        first = read(self.built(0, "build", "mingw", "Ombrin.exe"))
        self.assertEqual(first, read(self.built(1, "build", "mingw", "Ombrin.exe")))
        self.assertEqual(first, read(BUILT_EXE))
        for folder in [self.root, SOURCE]:
            for encoding in ["utf-8", "utf-16-le"]:
                self.assertNotIn(folder.encode(encoding), first)

    def test_the_archives_and_checksums_are_identical(self):
        for name in [ARCHIVE, "SHA256SUMS", "Ombrin.exe"]:
            with self.subTest(name=name):
                self.assertEqual(read(self.built(0, "dist", name)), read(self.built(1, "dist", name)))

    def test_the_archive_holds_one_folder_with_fixed_times_and_modes_and_the_sums_check(self):
        with zipfile.ZipFile(self.built(1, "dist", ARCHIVE)) as archive:
            entries = archive.infolist()
            self.assertEqual([entry.filename for entry in entries],
                             ["Ombrin-1.1.0.0/", "Ombrin-1.1.0.0/Ombrin.exe", "Ombrin-1.1.0.0/README.md",
                              "Ombrin-1.1.0.0/LICENSE"])
            self.assertEqual({entry.date_time for entry in entries}, {time.gmtime(EPOCH)[:6]})
            self.assertEqual([entry.external_attr >> 16 for entry in entries], [0o40755, 0o100755, 0o100644, 0o100644])
            self.assertEqual(archive.read("Ombrin-1.1.0.0/Ombrin.exe"), read(BUILT_EXE))
            self.assertEqual(archive.read("Ombrin-1.1.0.0/LICENSE"), read(os.path.join(SOURCE, "LICENSE")))
        checked = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=self.built(1, "dist"),
                                 stdout=subprocess.PIPE, check=False)
        self.assertEqual(checked.returncode, 0, checked.stdout)
        self.assertEqual(checked.stdout, ("%s: OK\nOmbrin.exe: OK\n" % ARCHIVE).encode())
        self.assertIn(hashlib.sha256(read(BUILT_EXE)).hexdigest().encode(), read(self.built(1, "dist", "SHA256SUMS")))


if __name__ == "__main__":
    SOURCE, BUILT_EXE = (os.path.abspath(arg) for arg in sys.argv[1:3])
    del sys.argv[1:3]
    unittest.main(verbosity=2)
