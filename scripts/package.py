"""Packages built Ombrin.exe files as a release, and compares a rebuilt release with one made before.

Usage:
  package.py write OUT_DIR COMMIT BUILD_DIR...   writes the release of these builds into OUT_DIR
  package.py check RELEASE_DIR REBUILT_DIR       compares a rebuilt release with RELEASE_DIR
  package.py notes                               checks that CHANGELOG.md has a section for the project's version
Writing needs SOURCE_DATE_EPOCH (seconds since 1970) for the archives' entry times.

Writes into OUT_DIR an archive Ombrin-VERSION-win-ARCH.zip for each build (Ombrin.exe, README.md and LICENSE in
one folder), the x64 Ombrin.exe, RELEASE-NOTES.md (the version's section of CHANGELOG.md), BUILDINFO (commit,
time, version, each executable's SHA-256 and the exact Debian packages of each toolchain) and SHA256SUMS;
docs/releases.md tells more. An archive depends only on the three files' contents, the version and the epoch,
whatever the files' own times, modes or folders. A version without its section in CHANGELOG.md is refused.
"""

import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Unix modes in the archive: a folder, a program, a text.
FOLDER_MODE = 0o40755
PROGRAM_MODE = 0o100755
TEXT_MODE = 0o100644
MSDOS_DIRECTORY = 0x10

# The Debian packages of the x64 toolchain, whose versions decide its bytes.
X64_TOOLCHAIN = ["g++-mingw-w64-x86-64-posix", "gcc-mingw-w64-x86-64-posix", "binutils-mingw-w64-x86-64",
                 "mingw-w64-x86-64-dev", "mingw-w64-common"]
# The ARM64 build's LLVM tools, found as the build finds them: in the folder of the clang on the path.
LLVM_TOOLS = ["clang", "lld", "llvm-windres"]


def project_version():
    """The version CMakeLists.txt gives the project."""
    found = re.search(r"^project\(Ombrin VERSION ([0-9.]+)", read(os.path.join(ROOT, "CMakeLists.txt")).decode(),
                      re.MULTILINE)
    if not found:
        sys.exit("package.py: CMakeLists.txt names no project version")
    return found.group(1)


def release_notes(version):
    """The text of the section of CHANGELOG.md for `version` (its heading "## [VERSION]" left out); stops the
    release, naming the version, where there is none or it is empty."""
    changelog = read(os.path.join(ROOT, "CHANGELOG.md")).decode("utf-8") if os.path.exists(
        os.path.join(ROOT, "CHANGELOG.md")) else ""
    section = re.search(r"^## \[%s\][^\n]*\n(.*?)(?=^## |\Z)" % re.escape(version), changelog, re.MULTILINE | re.DOTALL)
    notes = section.group(1).strip() if section else ""
    if not notes:
        sys.exit("Refusing: CHANGELOG.md has no section for version %s (a heading \"## [%s] - DATE\" and what "
                 "changed, for operators)." % (version, version))
    return notes + "\n"


def cache_value(build_dir, name):
    """A value CMake recorded in the build's cache when it was configured."""
    with open(os.path.join(build_dir, "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            if line.startswith(name + ":"):
                return line.rstrip("\n").split("=", 1)[1]
    sys.exit("package.py: no %s in %s/CMakeCache.txt" % (name, build_dir))


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


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def read(path):
    with open(path, "rb") as file:
        return file.read()


def archive_bytes(version, exe, when):
    """The release archive of one executable."""
    folder = "Ombrin-%s/" % version
    members = [("Ombrin.exe", exe, PROGRAM_MODE), ("README.md", read(os.path.join(ROOT, "README.md")), TEXT_MODE),
               ("LICENSE", read(os.path.join(ROOT, "LICENSE")), TEXT_MODE)]
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as zip_file:
        zip_file.writestr(entry(folder, FOLDER_MODE, when), b"")
        for name, data, mode in members:
            zip_file.writestr(entry(folder + name, mode, when), data, compresslevel=9)
    return buffer.getvalue()


def package_versions(packages):
    """Installed version of each package, as dpkg knows it."""
    shown = subprocess.run(["dpkg-query", "-W", "-f=${Package} ${Version}\\n"] + packages, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True, check=False).stdout
    versions = dict(line.split(" ", 1) for line in shown.splitlines() if " " in line)
    missing = [package for package in packages if package not in versions]
    if missing:
        sys.exit("package.py: not installed, so BUILDINFO cannot name their versions: %s" % " ".join(missing))
    return [(package, versions[package]) for package in packages]


def owning_packages(paths):
    """The Debian packages that installed these files (symbolic links followed), in order, once each."""
    found = []
    for path in paths:
        shown = subprocess.run(["dpkg-query", "-S", os.path.realpath(path)], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True, check=False).stdout
        if not shown:
            sys.exit("package.py: no Debian package installed %s" % path)
        package = shown.split(":", 1)[0]
        if package not in found:
            found.append(package)
    return found


def llvm_toolchain():
    """The packages of the ARM64 build's LLVM tools and of LLVM's own libraries they load."""
    clang = shutil.which("clang")
    if clang is None:
        sys.exit("package.py: no clang on the path")
    folder = os.path.dirname(os.path.realpath(clang))
    tools = [os.path.join(folder, tool) for tool in LLVM_TOOLS]
    libraries = []
    for tool in tools:
        linked = subprocess.run(["ldd", tool], stdout=subprocess.PIPE, text=True, check=False).stdout
        libraries += re.findall(r"=> (\S*/lib(?:LLVM|clang)[^/\s]*) ", linked)
    return owning_packages(tools + libraries)


def toolchain(architecture, build_dir):
    """BUILDINFO's lines for one build's toolchain: package and version pairs."""
    if architecture == "x64":
        return package_versions(X64_TOOLCHAIN)
    # The ARM64 C runtime is built from Debian's mingw-w64 source package; runtime-source says which.
    runtime = os.path.dirname(cache_value(build_dir, "OMBRIN_ARM64_RUNTIME"))
    source = read(os.path.join(runtime, "runtime-source")).decode("ascii").split()
    return package_versions(llvm_toolchain()) + [(source[0], source[1])]


def shared_tools():
    """What every build and the archives share: the build system, and the zip writer and its deflate."""
    return package_versions(["cmake", "make"] + owning_packages([zipfile.__file__]) + ["zlib1g"])


def buildinfo(version, commit, epoch, executables):
    """BUILDINFO's text; `executables` holds (architecture, archive name, executable bytes, build folder)."""
    lines = ["Format: 1.0", "Source: Ombrin", "Version: %s" % version, "Git-Commit: %s" % commit,
             "Source-Date-Epoch: %d" % epoch, "Executables:"]
    for architecture, archive, exe, _ in executables:
        lines.append(" %s %s %s:Ombrin-%s/Ombrin.exe" % (architecture, sha256(exe), archive, version))
    for architecture, _, _, build_dir in executables:
        lines.append("Toolchain-%s:" % architecture)
        lines += [" %s (= %s)" % pair for pair in toolchain(architecture, build_dir)]
    lines.append("Tools:")
    lines += [" %s (= %s)" % pair for pair in shared_tools()]
    return "\n".join(lines) + "\n"


def write(out_dir, commit, build_dirs):
    epoch_text = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch_text.isdigit():
        sys.exit("package.py: SOURCE_DATE_EPOCH must be set to the release time in seconds since 1970")
    when = entry_time(int(epoch_text))
    files = {}
    executables = []
    version = None
    for build_dir in build_dirs:
        version = cache_value(build_dir, "CMAKE_PROJECT_VERSION")
        architecture = cache_value(build_dir, "OMBRIN_ARCHITECTURE")
        exe = read(os.path.join(build_dir, "Ombrin.exe"))
        archive = "Ombrin-%s-win-%s.zip" % (version, architecture)
        files[archive] = archive_bytes(version, exe, when)
        if architecture == "x64":
            files["Ombrin.exe"] = exe
        executables.append((architecture, archive, exe, build_dir))
    files["RELEASE-NOTES.md"] = release_notes(version).encode("utf-8")
    files["BUILDINFO"] = buildinfo(version, commit, int(epoch_text), executables).encode("ascii")
    files["SHA256SUMS"] = "".join("%s  %s\n" % (sha256(files[name]), name) for name in sorted(files)).encode("ascii")
    os.makedirs(out_dir, exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(out_dir, name), "wb") as file:
            file.write(data)
    print("Wrote %s in %s" % (", ".join(sorted(files)), out_dir))


def fields(text):
    """BUILDINFO's fields: name -> list of lines (a one-line field's value is its only line)."""
    found, name = {}, None
    for line in text.splitlines():
        if line.startswith(" ") and name:
            found[name].append(line.strip())
        elif ":" in line:
            name, value = line.split(":", 1)
            found[name] = [value.strip()] if value.strip() else []
    return found


def check(release_dir, rebuilt_dir):
    """Compares a release with a rebuild of it; prints what differs and returns the exit status."""
    recorded = fields(read(os.path.join(release_dir, "BUILDINFO")).decode("ascii"))
    rebuilt = fields(read(os.path.join(rebuilt_dir, "BUILDINFO")).decode("ascii"))
    toolchain_changes = []
    for name in sorted(name for name in recorded if name.startswith("Toolchain-") or name == "Tools"):
        old, new = set(recorded[name]), set(rebuilt.get(name, []))
        toolchain_changes += ["%s: recorded %s, here %s" % (name, before, after)
                              for before in sorted(old - new)
                              for after in sorted(line for line in new - old if line.split()[0] == before.split()[0])]
    for change in toolchain_changes:
        print("Toolchain differs: " + change)
    if recorded.get("Git-Commit") != rebuilt.get("Git-Commit"):
        print("The release is of commit %s; this checkout is at %s." % (recorded.get("Git-Commit"),
                                                                      rebuilt.get("Git-Commit")))
        return 1
    differing = []
    for line in read(os.path.join(release_dir, "SHA256SUMS")).decode("ascii").splitlines():
        name = line.split("  ", 1)[1]
        if name in ("BUILDINFO", "SHA256SUMS"):
            continue
        given = os.path.join(release_dir, name)
        if not os.path.exists(given) or sha256(read(given)) != line.split()[0]:
            print("%s does not match SHA256SUMS in %s." % (name, release_dir))
            return 1
        if read(given) != read(os.path.join(rebuilt_dir, name)):
            differing.append(name)
    if recorded.get("Executables") != rebuilt.get("Executables"):
        differing.append("the executables listed in BUILDINFO")
    if differing:
        print("Rebuilt bytes differ: %s." % ", ".join(differing))
        print("The toolchain differs as shown above." if toolchain_changes else
              "The toolchain's packages are the same: the source or the build setting differs.")
        return 1
    print("Confirmed: the rebuild gives the same bytes as the release in %s." % release_dir)
    return 0


if __name__ == "__main__":
    if len(sys.argv) >= 5 and sys.argv[1] == "write":
        write(sys.argv[2], sys.argv[3], sys.argv[4:])
    elif len(sys.argv) == 4 and sys.argv[1] == "check":
        sys.exit(check(sys.argv[2], sys.argv[3]))
    elif len(sys.argv) == 2 and sys.argv[1] == "notes":
        release_notes(project_version())
    else:
        sys.exit(__doc__)
