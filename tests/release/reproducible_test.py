"""Releases are reproducible and cannot be made from the wrong state.

Usage: reproducible_test.py SOURCE_DIR BUILT_EXE PRESET [--release-script]
(without --release-script ReproducibleBuildTest runs, with it ReleaseScriptTest: two CTest tests, side by
side)

ReproducibleBuildTest builds Ombrin.exe with PRESET twice, from copies of the source in two folders whose
paths differ in name and length (one holds a blank, ' and &), and packages each build: the executables, archives, BUILDINFO and
SHA256SUMS must be the same byte for byte, and the same as the executable of the build under test.

ReleaseScriptTest (with --release-script, instead) runs scripts/release.sh in a commit of its own, made from a copy of
the source: a cached build setting or a stray flag must not change or skip what is released, a dirty tree is
refused, --check confirms a release and names a toolchain package that differs, and a signed release verifies
and strips back to the reproducible bytes.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

SOURCE = BUILT_EXE = PRESET = None  # from the command line

EPOCH = 1764000000  # an even second: zip entry times have a resolution of 2 s
VERSION = "1.1.0.0"
ARCHITECTURES = {"mingw": "x64", "mingw-arm64": "arm64"}
ARM64_SYSROOT = None  # the checkout's aarch64 runtime, which the copies share


def read(path):
    with open(path, "rb") as file:
        return file.read()


def copy_source(destination):
    shutil.copytree(SOURCE, destination, ignore=shutil.ignore_patterns("build", "dist", ".git"))


def installed_package(path):
    """The Debian package that installed the file at `path` (links followed)."""
    shown = subprocess.run(["dpkg-query", "-S", os.path.realpath(path)], stdout=subprocess.PIPE, text=True,
                           check=True).stdout
    return shown.split(":", 1)[0]


def environment(**extra):
    return dict(os.environ, OMBRIN_ARM64_SYSROOT=ARM64_SYSROOT, **extra)


def archive(architecture):
    return "Ombrin-%s-win-%s.zip" % (VERSION, architecture)


class ReproducibleBuildTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="ombrin-repro-")
        cls.addClassCleanup(shutil.rmtree, cls.root, ignore_errors=True)
        # The second copy's path is longer and holds a blank, ' and &, as a checkout's may.
        cls.copies = [os.path.join(cls.root, "a"), os.path.join(cls.root, "a much longer folder", "O'Brien & R&D", "c")]
        for index, copy in enumerate(cls.copies):
            copy_source(copy)
            if index == 1:
                # As a checkout made at another time by another user: other file times and modes.
                for folder, _, files in os.walk(copy):
                    for name in files:
                        path = os.path.join(folder, name)
                        os.utime(path, (EPOCH + 12345, EPOCH + 12345))
                        os.chmod(path, 0o600 if not name.endswith(".py") else 0o700)
            # Only what a release needs: the program, configured without its tests.
            build = os.path.join(copy, "build", PRESET)
            for command in [["cmake", "--preset", PRESET, "-DBUILD_TESTING=OFF"],
                            ["cmake", "--build", "--preset", PRESET, "--target", "Ombrin"]]:
                subprocess.run(command, cwd=copy, check=True, stdout=subprocess.DEVNULL, env=environment())
            subprocess.run([sys.executable, os.path.join(copy, "scripts", "package.py"), "write",
                            os.path.join(copy, "dist"), "0" * 40, build],
                           env=environment(SOURCE_DATE_EPOCH=str(EPOCH)), check=True, stdout=subprocess.DEVNULL)

    def built(self, index, *path):
        return os.path.join(self.copies[index], *path)

    def test_the_executables_are_identical_and_hold_no_build_folder(self):
        first = read(self.built(0, "build", PRESET, "Ombrin.exe"))
        self.assertEqual(first, read(self.built(1, "build", PRESET, "Ombrin.exe")))
        self.assertEqual(first, read(BUILT_EXE))
        for folder in [self.root, SOURCE, os.path.dirname(ARM64_SYSROOT)]:
            for encoding in ["utf-8", "utf-16-le"]:
                self.assertNotIn(folder.encode(encoding), first)

    def test_the_release_files_are_identical(self):
        names = sorted(os.listdir(self.built(0, "dist")))
        self.assertEqual(names, sorted(os.listdir(self.built(1, "dist"))))
        self.assertIn(archive(ARCHITECTURES[PRESET]), names)
        for name in names:
            with self.subTest(name=name):
                self.assertEqual(read(self.built(0, "dist", name)), read(self.built(1, "dist", name)))

    def test_the_archive_holds_one_folder_with_fixed_times_and_modes_and_the_sums_check(self):
        with zipfile.ZipFile(self.built(1, "dist", archive(ARCHITECTURES[PRESET]))) as release:
            entries = release.infolist()
            folder = "Ombrin-%s/" % VERSION
            self.assertEqual([entry.filename for entry in entries],
                             [folder, folder + "Ombrin.exe", folder + "README.md", folder + "LICENSE"])
            self.assertEqual({entry.date_time for entry in entries}, {time.gmtime(EPOCH)[:6]})
            self.assertEqual([entry.external_attr >> 16 for entry in entries], [0o40755, 0o100755, 0o100644, 0o100644])
            self.assertEqual(release.read(folder + "Ombrin.exe"), read(BUILT_EXE))
            self.assertEqual(release.read(folder + "LICENSE"), read(os.path.join(SOURCE, "LICENSE")))
        checked = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=self.built(1, "dist"),
                                 stdout=subprocess.PIPE, check=False)
        self.assertEqual(checked.returncode, 0, checked.stdout)
        self.assertEqual(sorted(checked.stdout.decode().splitlines()),
                         sorted("%s: OK" % name for name in os.listdir(self.built(1, "dist")) if name != "SHA256SUMS"))

    def test_buildinfo_names_the_executable_and_the_toolchain(self):
        text = read(self.built(1, "dist", "BUILDINFO")).decode("ascii")
        self.assertIn("\nSource-Date-Epoch: %d\n" % EPOCH, text)
        self.assertIn("\nVersion: %s\n" % VERSION, text)
        architecture = ARCHITECTURES[PRESET]
        digest = __import__("hashlib").sha256(read(BUILT_EXE)).hexdigest()
        self.assertIn("\n %s %s %s:Ombrin-%s/Ombrin.exe\n" % (architecture, digest, archive(architecture), VERSION),
                      text)
        compiler = "g++-mingw-w64-x86-64-posix" if architecture == "x64" else installed_package(shutil.which("clang"))
        installed = subprocess.run(["dpkg-query", "-W", "-f=${Version}", compiler], stdout=subprocess.PIPE,
                                   text=True, check=True).stdout
        self.assertIn("\nToolchain-%s:\n %s (= %s)\n" % (architecture, compiler, installed), text)


class ReleaseScriptTest(unittest.TestCase):
    """scripts/release.sh in a commit of a copy of the source, sharing the checkout's ARM64 runtime and root."""

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="ombrin-release-")
        cls.addClassCleanup(shutil.rmtree, cls.root, ignore_errors=True)
        cls.tree = os.path.join(cls.root, "tree")
        copy_source(cls.tree)
        git = ["git", "-c", "user.name=Ombrin Test", "-c", "user.email=test@ombrin.invalid"]
        for command in [["init", "-q"], ["add", "-A"], ["commit", "-q", "-m", "Release test"]]:
            subprocess.run(git + command, cwd=cls.tree, check=True, env=dict(os.environ, GIT_AUTHOR_DATE="@%d" % EPOCH,
                                                                              GIT_COMMITTER_DATE="@%d" % EPOCH))
        # A build folder with a cached setting that would skip the checks and a stray compiler flag, and
        # another stray flag in the environment: the release must not use either.
        subprocess.run(["cmake", "--preset", "mingw", "-DBUILD_TESTING=OFF", "-DCMAKE_CXX_FLAGS=-DSTRAY_CACHED"],
                       cwd=cls.tree, check=True, stdout=subprocess.DEVNULL)
        cls.env = dict(os.environ, OMBRIN_ARM64_TOOLCHAIN=os.path.dirname(ARM64_SYSROOT),
                       OMBRIN_ARM64_ROOT=os.path.join(SOURCE, "build", "arm64-root"), CXXFLAGS="-DSTRAY_ENVIRONMENT")
        cls.env.pop("SOURCE_DATE_EPOCH", None)
        certificate = os.path.join(cls.root, "certificate")
        os.mkdir(certificate)
        cls.certificate = cls.make_certificate(certificate)
        cls.release = cls.run_script([], OMBRIN_SIGN_PKCS12=cls.certificate["pkcs12"],
                                     OMBRIN_SIGN_PASSWORD_FILE=cls.certificate["password"])
        cls.dist = os.path.join(cls.tree, "dist")

    @classmethod
    def make_certificate(cls, folder):
        """A throwaway self-signed code-signing certificate, as PKCS#12 with a password file."""
        paths = {name: os.path.join(folder, name) for name in ["key.pem", "cert.pem", "pkcs12", "password"]}
        with open(paths["password"], "w", encoding="ascii") as password:
            password.write("not-a-secret\n")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                        "/CN=Ombrin release test", "-addext", "extendedKeyUsage=codeSigning", "-keyout",
                        paths["key.pem"], "-out", paths["cert.pem"]], check=True, stderr=subprocess.DEVNULL)
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", paths["key.pem"], "-in", paths["cert.pem"], "-out",
                        paths["pkcs12"], "-passout", "file:" + paths["password"]], check=True)
        return paths

    @classmethod
    def run_script(cls, args, **env):
        return subprocess.run(["bash", os.path.join(cls.tree, "scripts", "release.sh")] + args, cwd=cls.tree,
                              env=dict(cls.env, **env), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              check=False)

    def test_a_release_ran_its_checks_and_ignores_cached_settings_and_stray_flags(self):
        self.assertEqual(self.release.returncode, 0, self.release.stdout)
        for check in ["executable_metadata", "wine_smoke"]:
            self.assertEqual(len(re.findall(r"Test +#\d+: %s \.+ +Passed" % check, self.release.stdout)), 2,
                             self.release.stdout)
        for preset, architecture in ARCHITECTURES.items():
            with self.subTest(architecture=architecture):
                # The same bytes as a plain build of the preset (the build under test is one of them).
                reference = os.path.join(SOURCE, "build", preset, "Ombrin.exe")
                with zipfile.ZipFile(os.path.join(self.dist, archive(architecture))) as release:
                    self.assertEqual(release.read("Ombrin-%s/Ombrin.exe" % VERSION), read(reference))

    def test_check_confirms_the_release_and_names_a_toolchain_package_that_differs(self):
        checked = self.run_script(["--check", self.dist])
        self.assertEqual(checked.returncode, 0, checked.stdout)
        self.assertIn("Confirmed", checked.stdout)
        self.assertNotIn("Toolchain differs", checked.stdout)

        altered = os.path.join(self.root, "altered")
        shutil.copytree(self.dist, altered, ignore=shutil.ignore_patterns("signed"))
        buildinfo = os.path.join(altered, "BUILDINFO")
        text = read(buildinfo).decode("ascii")
        linker = installed_package(shutil.which("ld.lld"))
        text, count = re.subn(r"\n (%s) \(= [^)]*\)" % re.escape(linker), r"\n \1 (= 0.0-altered)", text)
        self.assertEqual(count, 1)
        with open(buildinfo, "w", encoding="ascii") as file:
            file.write(text)
        # --check compares with package.py; the rebuild the check above made is compared again, not remade.
        checked = subprocess.run([sys.executable, "-B", os.path.join(self.tree, "scripts", "package.py"), "check",
                                  altered, os.path.join(self.tree, "build", "release", "check")],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=False)
        self.assertIn("Toolchain differs: Toolchain-arm64: recorded %s (= 0.0-altered), here %s (= " % (linker, linker),
                      checked.stdout)

    def test_a_signed_release_verifies_and_strips_back_to_the_reproducible_bytes(self):
        signed = os.path.join(self.dist, "signed")
        for architecture in ARCHITECTURES.values():
            with self.subTest(architecture=architecture):
                unsigned_exe = os.path.join(self.root, "unsigned-%s.exe" % architecture)
                signed_exe = os.path.join(self.root, "signed-%s.exe" % architecture)
                for folder, path in [(self.dist, unsigned_exe), (signed, signed_exe)]:
                    with zipfile.ZipFile(os.path.join(folder, archive(architecture))) as release:
                        with open(path, "wb") as file:
                            file.write(release.read("Ombrin-%s/Ombrin.exe" % VERSION))
                self.assertNotEqual(read(signed_exe), read(unsigned_exe))
                verified = subprocess.run(["osslsigncode", "verify", "-CAfile", self.certificate["cert.pem"], "-in",
                                           signed_exe], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
                self.assertEqual(verified.returncode, 0, verified.stdout)
                stripped = os.path.join(self.root, "stripped-%s.exe" % architecture)
                subprocess.run(["osslsigncode", "remove-signature", "-in", signed_exe, "-out", stripped], check=True,
                               stdout=subprocess.DEVNULL)
                self.assertEqual(read(stripped), read(unsigned_exe))
        self.assertEqual(read(os.path.join(signed, "Ombrin.exe")), read(os.path.join(self.root, "signed-x64.exe")))
        checked = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=signed, stdout=subprocess.DEVNULL, check=False)
        self.assertEqual(checked.returncode, 0)

    def test_the_release_notes_are_the_versions_changelog_section(self):
        with open(os.path.join(self.tree, "CHANGELOG.md"), encoding="utf-8") as changelog:
            text = changelog.read()
        notes = read(os.path.join(self.dist, "RELEASE-NOTES.md")).decode("utf-8")
        heading = re.search(r"^## \[%s\].*\n" % re.escape(VERSION), text, re.MULTILINE)
        self.assertIsNotNone(heading)
        # The section's text after its heading, up to the next version's heading: non-empty, and neither heading.
        self.assertTrue(text[heading.end():].lstrip().startswith(notes.strip()), notes)
        self.assertNotIn("## [", notes)
        self.assertGreater(len(notes.strip()), 0)
        listed = [line.split("  ", 1)[1] for line in read(os.path.join(self.dist, "SHA256SUMS")).decode().splitlines()]
        self.assertIn("RELEASE-NOTES.md", listed)

    def test_a_version_without_a_changelog_section_is_refused_before_anything_is_built(self):
        changelog = os.path.join(self.tree, "CHANGELOG.md")
        with open(changelog, encoding="utf-8") as file:
            text = file.read()
        with open(changelog, "w", encoding="utf-8") as file:
            file.write(text.replace("## [%s]" % VERSION, "## [0.9.0.0]"))
        git = ["git", "-c", "user.name=Ombrin Test", "-c", "user.email=test@ombrin.invalid"]
        subprocess.run(git + ["commit", "-q", "-am", "No section for the version"], cwd=self.tree, check=True)
        self.addCleanup(subprocess.run, ["git", "reset", "-q", "--hard", "HEAD~1"], cwd=self.tree, check=True)
        refused = self.run_script([])
        self.assertNotEqual(refused.returncode, 0)
        self.assertIn("Refusing: CHANGELOG.md has no section for version %s" % VERSION, refused.stdout)
        self.assertNotIn("== Building", refused.stdout)
        self.assertTrue(os.path.exists(os.path.join(self.dist, "signed")), "the earlier release is left alone")

    def test_a_dirty_tree_is_refused(self):
        with open(os.path.join(self.tree, "README.md"), "a", encoding="utf-8") as readme:
            readme.write("\nAn uncommitted line.\n")
        self.addCleanup(subprocess.run, ["git", "checkout", "--", "README.md"], cwd=self.tree, check=True)
        refused = self.run_script([])
        self.assertNotEqual(refused.returncode, 0)
        self.assertIn("Refusing: the working tree has uncommitted changes", refused.stdout)
        self.assertIn("README.md", refused.stdout)
        self.assertTrue(os.path.exists(os.path.join(self.dist, "signed")), "the earlier release is left alone")


if __name__ == "__main__":
    SOURCE, BUILT_EXE = (os.path.abspath(arg) for arg in sys.argv[1:3])
    PRESET = sys.argv[3]
    ARM64_SYSROOT = os.environ.get("OMBRIN_ARM64_SYSROOT") or os.path.join(SOURCE, "build", "toolchain-arm64",
                                                                            "aarch64-w64-mingw32")
    tests = [ReleaseScriptTest] if "--release-script" in sys.argv[4:] else [ReproducibleBuildTest]
    suite = unittest.TestSuite(unittest.defaultTestLoader.loadTestsFromTestCase(test) for test in tests)
    sys.exit(0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1)
