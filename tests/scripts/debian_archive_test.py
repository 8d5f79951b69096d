"""Which Debian archive the build scripts read from the machine's apt configuration.

Usage: debian_archive_test.py SCRIPT (scripts/lib/debian-archive.sh)

Each case lays apt sources, and where it says so the Release files and indexes `apt-get update` would have
fetched, in a folder of its own that apt reads through APT_CONFIG: no root, no network. The release is this
machine's own (/etc/os-release), as the scripts take it.
"""

import os
import re
import subprocess
import sys
import tempfile
import unittest

SCRIPT = None  # from the command line
with open("/etc/os-release", encoding="utf-8") as os_release:
    RELEASE = re.search(r"^VERSION_CODENAME=\"?([a-z]+)", os_release.read(), re.M).group(1)
MIRROR = "http://mirror.invalid/debian"
SECURITY = "http://security.invalid/debian-security"
VENDOR = "http://vendor.invalid/apt"


def stanza(uris, suites, components, types="deb"):
    return "Types: %s\nURIs: %s\nSuites: %s\nComponents: %s\n\n" % (types, uris, suites, components)


# name: (sources.list.d/*.sources, sources.list, {archive address: Origin of its Release files},
#        expected main archive, expected sources)
CASES = {
    "deb822, several suites and a security suite, main among other components": (
        stanza(MIRROR, "%s %s-updates" % (RELEASE, RELEASE), "main contrib non-free-firmware", "deb deb-src")
        + stanza(SECURITY, RELEASE + "-security", "main non-free-firmware"),
        "", {}, MIRROR + "/",
        ["deb %s/ %s main" % (MIRROR, RELEASE), "deb %s/ %s-updates main" % (MIRROR, RELEASE),
         "deb %s/ %s-security main" % (SECURITY, RELEASE)]),
    "one-line form with options, another release's suite left out": (
        "",
        "deb [arch=amd64,arm64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s contrib main\n"
        "deb %s %s-backports main\n# deb %s sid main\ndeb %s %s-security main\n"
        % (MIRROR, RELEASE, MIRROR, RELEASE, MIRROR, SECURITY, RELEASE),
        {}, MIRROR + "/", ["deb %s/ %s main" % (MIRROR, RELEASE), "deb %s/ %s-security main" % (SECURITY, RELEASE)]),
    "a vendor's archive with suites of its own is left out": (
        stanza(MIRROR, RELEASE, "main"), "deb %s stable main\ndeb %s nodistro main\n" % (VENDOR, VENDOR),
        {}, MIRROR + "/", ["deb %s/ %s main" % (MIRROR, RELEASE)]),
    "a vendor's archive with Debian's suite names is left out by its Origin": (
        stanza(VENDOR, "%s %s-security" % (RELEASE, RELEASE), "main") + stanza(MIRROR, RELEASE, "main"),
        "deb %s %s-updates main\n" % (MIRROR, RELEASE),
        {VENDOR: "Vendor Inc.", MIRROR: "Debian"}, MIRROR + "/",
        ["deb %s/ %s main" % (MIRROR, RELEASE), "deb %s/ %s-updates main" % (MIRROR, RELEASE)]),
    "no Debian archive at all": (
        stanza(VENDOR, RELEASE, "main"), "deb %s %s contrib\n" % (MIRROR, RELEASE),
        {VENDOR: "Vendor Inc."}, None, None),
}


class DebianArchiveTest(unittest.TestCase):
    def read_archive(self, deb822, one_line, origins):
        folder = tempfile.mkdtemp(prefix="ombrin-apt-")
        self.addCleanup(subprocess.run, ["rm", "-rf", folder], check=True)
        for sub in ["sources.list.d", "lists/partial"]:
            os.makedirs(os.path.join(folder, sub))
        with open(os.path.join(folder, "sources.list.d", "machine.sources"), "w", encoding="utf-8") as file:
            file.write(deb822)
        with open(os.path.join(folder, "sources.list"), "w", encoding="utf-8") as file:
            file.write(one_line)
        with open(os.path.join(folder, "apt.conf"), "w", encoding="utf-8") as file:
            file.write('Dir::Etc::SourceList "%s/sources.list";\nDir::Etc::SourceParts "%s/sources.list.d";\n'
                       'Dir::State::Lists "%s/lists";\n' % (folder, folder, folder))
        env = dict(os.environ, APT_CONFIG=os.path.join(folder, "apt.conf"))
        # What `apt-get update` leaves of an archive: its Release file, which names its Origin, and an index.
        listed = subprocess.run(["apt-get", "indextargets", "--no-release-info", "--format", "$(REPO_URI) $(FILENAME)",
                                 "Created-By: Packages"], env=env, stdout=subprocess.PIPE, text=True,
                                check=True).stdout
        for address, index in (line.split(" ", 1) for line in listed.splitlines()):
            origin = origins.get(address.rstrip("/"))
            if origin:
                open(index, "w", encoding="utf-8").close()
                with open(re.sub(r"(_dists_[^_]+)_.*", r"\1_Release", index), "w", encoding="utf-8") as file:
                    file.write("Origin: %s\nLabel: %s\nSuite: stable\nCodename: %s\n" % (origin, origin, RELEASE))
        shown = 'ombrin_debian_archive && echo "$OMBRIN_DEBIAN_RELEASE" "$OMBRIN_DEBIAN_ARCHIVE" && ' \
                'printf "%s\\n" "${OMBRIN_DEBIAN_SOURCES[@]}"'
        return subprocess.run(["bash", "-c", 'source "$0" && ' + shown, SCRIPT], env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, check=False)

    def test_the_archive_read_from_each_configuration(self):
        for name, (deb822, one_line, origins, archive, sources) in CASES.items():
            with self.subTest(name):
                read = self.read_archive(deb822, one_line, origins)
                if archive is None:
                    self.assertEqual(read.returncode, 1)
                    self.assertEqual(read.stdout, "")
                    self.assertIn("names no Debian archive for the main component of Debian %s." % RELEASE,
                                  read.stderr)
                    continue
                self.assertEqual(read.returncode, 0, read.stderr)
                lines = read.stdout.splitlines()
                self.assertEqual(lines[0], "%s %s" % (RELEASE, archive))
                self.assertEqual(sorted(lines[1:]), sorted(sources))


if __name__ == "__main__":
    SCRIPT = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
