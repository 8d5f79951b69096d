"""Packages a built Ombrin.exe as a release: the archive, the executable and their checksums.

Usage: package.py BUILD_DIR OUT_DIR
Needs SOURCE_DATE_EPOCH (seconds since 1970) for the archive's entry times.

Writes into OUT_DIR:
  Ombrin-VERSION-win-x64.zip  one folder Ombrin-VERSION/ with Ombrin.exe, README.md and LICENSE;
  Ombrin.exe                  the same executable, on its own;
  SHA256SUMS                  the two files' SHA-256 sums, as sha256sum -c reads them.
The archive depends only on the three files' contents, the version and the epoch: entries in a
fixed order, each with the epoch's time and fixed permissions, whatever the files' own times,
modes or the folders they came from.
"""

import hashlib
import os
import shutil
import sys
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Unix modes in the archive: a folder, a program, a text.
FOLDER_MODE = 0o40755
PROGRAM_MODE = 0o100755
TEXT_MODE = 0o100644
MSDOS_DIRECTORY = 0x10


def project_version(build_dir):
    """The project's version as CMake recorded it when the build was configured."""
    with open(os.path.join(build_dir, "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            if line.startswith("CMAKE_PROJECT_VERSION:"):
                return line.rstrip("\n").split("=", 1)[1]
    sys.exit("package.py: no project version in %s/CMakeCache.txt" % build_dir)


def entry_time(epoch):
    """The epoch as a zip entry time (UTC; the format holds 1980 to 2107, in steps of 2 s)."""
    stamp = time.gmtime(min(max(epoch, 315532800), 4354819198))
    return stamp[:6]


def entry(name, mode, when):
    info = zipfile.ZipInfo(name, date_time=when)
    info.create_system = 3  # Unix, so that the modes below are read as such
    info.external_attr = mode << 16 | (MSDOS_DIRECTORY if name.endswith("/") else 0)
    info.compress_type = zipfile.ZIP_STORED if name.endswith("/") else zipfile.ZIP_DEFLATED
    return info


def sha256(path):
    with open(path, "rb") as file:
        return hashlib.sha256(file.read()).hexdigest()


def main(build_dir, out_dir):
    epoch_text = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch_text.isdigit():
        sys.exit("package.py: SOURCE_DATE_EPOCH must be set to the release time in seconds since 1970")
    when = entry_time(int(epoch_text))
    version = project_version(build_dir)
    folder = "Ombrin-%s/" % version
    archive_name = "Ombrin-%s-win-x64.zip" % version
    exe = os.path.join(build_dir, "Ombrin.exe")
    members = [("Ombrin.exe", exe, PROGRAM_MODE), ("README.md", os.path.join(ROOT, "README.md"), TEXT_MODE),
               ("LICENSE", os.path.join(ROOT, "LICENSE"), TEXT_MODE)]

    os.makedirs(out_dir, exist_ok=True)
    archive = os.path.join(out_dir, archive_name)
    with zipfile.ZipFile(archive, "w") as zip_file:
        zip_file.writestr(entry(folder, FOLDER_MODE, when), b"")
        for name, path, mode in members:
            with open(path, "rb") as source:
                zip_file.writestr(entry(folder + name, mode, when), source.read(), compresslevel=9)
    shutil.copyfile(exe, os.path.join(out_dir, "Ombrin.exe"))
    with open(os.path.join(out_dir, "SHA256SUMS"), "w", encoding="ascii", newline="\n") as sums:
        for name in [archive_name, "Ombrin.exe"]:
            sums.write("%s  %s\n" % (sha256(os.path.join(out_dir, name)), name))
    print("Wrote %s, Ombrin.exe and SHA256SUMS in %s" % (archive_name, out_dir))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: package.py BUILD_DIR OUT_DIR")
    main(*sys.argv[1:])
