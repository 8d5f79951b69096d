"""The Windows platform of the suites: this Windows machine itself, or, to run this code here, a Wine prefix
standing in for it (OMBRIN_TEST_PLATFORM=windows-on-wine).

The machine is one for the whole run, so each platform object undoes what its tests did to it when it closes:
every step that changes the machine records its undoing before it acts, and close() undoes the devices, then
the driver packages they used, the classes and the certificates, also when a test fails, when Ctrl+C ends the
run (KeyboardInterrupt unwinds to the exit) or the console closes (SIGBREAK).

Only a real Windows runs the package's signing (makecat and signtool from the SDK, certreq and certutil of the
system) and the probe for a console a person could type in; on Wine they are left out, as Wine checks no
signature and its pseudo-terminal is such a console.
"""

import os
import platform as host_platform
import re
import shutil
import subprocess
import sys
import tempfile
import uuid

import harness

REFUSAL = (
    "These suites run on this Windows machine itself: they make a test device, install a test-signed driver\n"
    "package and its device setup class, and trust a throwaway certificate while they run, then remove all of\n"
    "it. Run them only on a machine kept for tests (a CI runner, a virtual machine), elevated, with:\n"
    "  python tests\\system\\windows_suites.py --install-test-drivers BUILD_DIR\n")

DETACHED_PROCESS = 0x00000008  # no console: as a program started from Linux under Wine
CREATE_NEW_CONSOLE = 0x00000010

_host = None  # the Wine prefix that stands in for the machine, one for the process


def shared_host():
    """The prefix the Windows module drives as its machine on Wine: the one OMBRIN_WINDOWS_ON_WINE_PREFIX names
    (another process's, left to it), or one of this process's own."""
    global _host
    if _host is None:
        import wine_platform
        given = os.environ.get("OMBRIN_WINDOWS_ON_WINE_PREFIX")
        _host = wine_platform.Prefix.attached(given) if given else wine_platform.Prefix()
    return _host


def sdk_tool(name, machine=None, kits=None):
    """The newest Windows SDK's `name` (makecat.exe, signtool.exe) for this processor, where the SDK lays it:
    KITS\\<version>\\<arch>\\name; an arm64 machine takes an x64 or x86 copy where it has no native one."""
    kits = kits or os.path.join(os.environ.get("ProgramFiles(x86)", r"C:\Program Files (x86)"), "Windows Kits", "10",
                                "bin")
    machine = (machine or host_platform.machine()).lower()
    architectures = ["arm64", "x64", "x86"] if machine in ("arm64", "aarch64") else ["x64", "x86"]
    try:
        versions = [name for name in os.listdir(kits) if re.fullmatch(r"\d+(\.\d+)+", name)]
    except OSError:
        versions = []
    for version in sorted(versions, key=lambda text: [int(part) for part in text.split(".")], reverse=True):
        for architecture in architectures:
            path = os.path.join(kits, version, architecture, name)
            if os.path.isfile(path):
                return path
    raise FileNotFoundError("No Windows SDK %s under %s: install the Windows SDK (its signing tools)." % (name, kits))


def catalog_definition(catalog, folder, files):
    """makecat's definition of a SHA-256 catalog of `files` (names in `folder`), its last line ended too. Each file
    is listed under the reference tag <HASH>, as makecat's documentation writes it, so that the catalog names it by
    its hash; PublicVersion is left out, which the documentation says is not supported."""
    lines = ["[CatalogHeader]", "Name=%s" % catalog, "ResultDir=%s" % folder, "EncodingType=0x00010001",
             "CatalogVersion=2", "HashAlgorithms=SHA256", "CATATTR1=0x10010001:OSAttr:2:6.1,2:6.2,2:6.3,2:10.0", "",
             "[CatalogFiles]"]
    lines += ["<HASH>%s=%s" % (name, os.path.join(folder, name)) for name in files]
    return "\r\n".join(lines) + "\r\n"


def certificate_request(subject):
    """certreq's policy for a self-signed code-signing certificate in the machine's store, valid for two days."""
    return "\r\n".join([
        "[Version]", 'Signature="$Windows NT$"', "", "[NewRequest]", 'Subject="CN=%s"' % subject,
        "KeyAlgorithm=RSA", "KeyLength=2048", "HashAlgorithm=SHA256", "MachineKeySet=TRUE", "RequestType=Cert",
        "KeyUsage=0x80", "ValidityPeriod=Days", "ValidityPeriodUnits=2", "", "[EnhancedKeyUsageExtension]",
        "OID=1.3.6.1.5.5.7.3.3", ""])


# The subject every certificate of the suites' own begins with (see Machine.trusted_certificate).
CERTIFICATE_SUBJECT = "Ombrin test signing"
# The hardware IDs of the devices the suites make.
TEST_HARDWARE_IDS = (harness.SAMPLE_ID, harness.SMOKE_ID)


def leftovers(platform):
    """What the suites could have left on the machine that `platform` runs programs on, one line each: a device
    with a hardware ID of theirs, the sample's class key, a published driver package (oemNN.inf) made from the
    sample's INF, and a certificate of theirs in the machine's Root, TrustedPublisher or My store."""
    found = []
    for hardware_id in TEST_HARDWARE_IDS:
        state = platform.helper_output("show_state.exe", [harness.SAMPLE_CLASS, hardware_id, harness.SAMPLE_INF,
                                                          CERTIFICATE_SUBJECT])
        for line in state.splitlines():
            if (line.startswith(("device ", "published driver package ", "certificate in "))
                    or line.startswith("class ") and not line.endswith(": no key")) and line not in found:
                found.append(line)
    return found


def with_catalog(inf_text, catalog):
    """The INF's text naming `catalog` in its [Version] section (replacing a CatalogFile it named)."""
    text = re.sub(r"(?im)^[ \t]*CatalogFile[ \t]*=.*\r?\n", "", inf_text)
    return re.sub(r"(?im)^([ \t]*\[Version\][ \t]*\r?\n)", lambda m: m.group(1) + "CatalogFile = %s\r\n" % catalog,
                  text, count=1)


class Machine(harness.Platform):
    """This machine (or the prefix that stands in for it), for one test or one class of tests."""

    @classmethod
    def features(cls):
        if harness.KIND == "windows-on-wine":
            return ("person_console",)  # the prefix's pseudo-terminal
        found = ["failing_update", "no_device_failure", "signature_checks", "class_with_first_device"]
        # The pause waits only where a person could press a key: a console whose window is one, on a window
        # station one sees. A service's station has none; this asks a new console of this machine.
        status, output = cls._start([os.path.join(harness.HELPERS, "console_driver.exe"), "probe"], dict(os.environ),
                                    None, 60, CREATE_NEW_CONSOLE)
        if status == 0 and b"a person could type here: yes" in output:
            found.append("person_console")
        return found

    def __init__(self):
        super().__init__()
        if os.environ.get("OMBRIN_ALLOW_DRIVER_INSTALL") != "1":
            raise PermissionError(REFUSAL)
        self.host = shared_host() if harness.KIND == "windows-on-wine" else None
        self.SLOWDOWN = self.host.SLOWDOWN if self.host else float(os.environ.get("OMBRIN_WINDOWS_SLOWDOWN", "1"))
        self.env = dict(self.host.env if self.host else os.environ)
        self.root = tempfile.mkdtemp(prefix="ombrin-windows-", dir=self.host.work if self.host else None)
        self.work = os.path.join(self.root, "work")
        os.mkdir(self.work)
        self.devices, self.classes, self.certificates = [], [], []
        harness.close_at_exit(self)

    # Starting programs.

    def command(self, program, args, extra_env=None):
        if self.host:
            return self.host.command(program, args, extra_env)
        return [program] + list(args), self.environment(extra_env)

    def run(self, program, args, cwd=None, timeout=60, extra_env=None, stdin=subprocess.DEVNULL):
        if self.host:
            return self.host.run(program, args, cwd or self.work, timeout, extra_env, stdin)
        argv, env = self.command(program, args, extra_env)
        status, output = self._start(argv, env, cwd or self.work, timeout * self.SLOWDOWN, DETACHED_PROCESS, stdin)
        return self.signed(status), output

    def run_in_terminal(self, program, args, timeout=120, extra_env=None):
        """Runs a program in a console of its own; returns (its exit status, its output as text without CR)."""
        if self.host:
            return self.host.run_in_terminal(program, args, timeout, extra_env)
        argv, env = self.command(program, args, extra_env)
        status, output = self._start(argv, env, self.work, timeout * self.SLOWDOWN, CREATE_NEW_CONSOLE)
        return self.signed(status), output.decode("utf-8", "replace").replace("\r", "")

    @staticmethod
    def _start(argv, env, cwd, seconds, creation, stdin=subprocess.DEVNULL):
        """Runs a program to its end; one that outlives `seconds`, or a Ctrl+C of the run, ends with what it
        started (taskkill /T), so that nothing of a run outlives it. What it writes to standard error is kept for
        the test's failure messages; one that Windows cannot start raises StartFailure."""
        with harness.standard_error() as errors:
            try:
                process = subprocess.Popen(argv, cwd=cwd, env=env, stdin=stdin, stdout=subprocess.PIPE,
                                           stderr=errors, creationflags=creation)
            except OSError as error:
                raise harness.StartFailure("Windows could not start %s: %s" % (argv[0], error)) from error
            try:
                output, _ = process.communicate(timeout=seconds)
            except BaseException:
                subprocess.run(["taskkill", "/T", "/F", "/PID", str(process.pid)], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, check=False)
                process.kill()
                process.wait()
                raise
            harness.record_run(argv, process.returncode, harness.read_standard_error(errors))
        return process.returncode, output

    def signed(self, status):
        if self.host:
            return self.host.signed(status)
        return status - (1 << 32) if status >= 1 << 31 else status

    def windows_path(self, path):
        return self.host.windows_path(path) if self.host else os.path.abspath(path)

    def failing_update_env(self, code=2):
        """A missing INF (the cases name "missing.inf") makes Windows' own update fail with ERROR_FILE_NOT_FOUND."""
        if self.host or code != 2:
            raise AssertionError("only Windows' own update fails, and the cases stage only a missing INF (2)")
        return {}

    # What the tests install, and its undoing.

    def make_device(self, hardware_id):
        self.devices.append(hardware_id)
        return super().make_device(hardware_id)

    def driver_package(self, inf):
        """A copy of the INF in a folder of its own, naming its catalog, which a real Windows makes and signs
        with a throwaway certificate it trusts until close(); its class is removed at close(). On Wine the
        copy names no catalog: Wine can make none, and a catalog named but missing fails Wine's copy into its
        driver store, after which it installs the device with an incomplete driver key."""
        with open(inf, encoding="utf-8", newline="") as source:
            text = source.read()
        guid = re.search(r"(?im)^[ \t]*ClassGuid[ \t]*=[ \t]*(\{[0-9A-F-]+\})", text)
        if guid:
            self.classes.append(guid.group(1))
        folder = tempfile.mkdtemp(prefix="package-", dir=self.work)
        name = os.path.basename(inf)
        catalog = os.path.splitext(name)[0] + ".cat"
        with open(os.path.join(folder, name), "w", encoding="utf-8", newline="") as copy:
            copy.write(text if self.host else with_catalog(text, catalog))
        if not self.host:
            self.sign(folder, catalog, [name])
        return self.windows_path(os.path.join(folder, name))

    def sign(self, folder, catalog, files):
        """Makes `catalog` of `files` with makecat and signs it with a certificate trusted for the run."""
        definition = os.path.join(folder, "catalog.cdf")
        with open(definition, "w", encoding="ascii", newline="") as cdf:
            cdf.write(catalog_definition(catalog, folder, files))
        self._tool(sdk_tool("makecat.exe"), ["-v", definition])
        subject = self.trusted_certificate()
        self._tool(sdk_tool("signtool.exe"), ["sign", "/fd", "SHA256", "/sm", "/s", "My", "/n", subject,
                                              os.path.join(folder, catalog)])

    def trusted_certificate(self):
        """A new self-signed code-signing certificate in the machine's store, trusted as a root and as a
        publisher (so that the package installs without a question); returns its subject's name."""
        subject = "%s %s" % (CERTIFICATE_SUBJECT, uuid.uuid4().hex[:12])
        self.certificates.append(subject)  # recorded first: whatever the steps below leave goes at close()
        policy = os.path.join(self.work, "certificate.inf")
        with open(policy, "w", encoding="ascii", newline="") as request:
            request.write(certificate_request(subject))
        certificate = os.path.join(self.work, "certificate.cer")
        self._tool("certreq", ["-new", "-q", "-machine", policy, certificate])
        for store in ("Root", "TrustedPublisher"):
            self._tool("certutil", ["-f", "-addstore", store, certificate])
        return subject

    def _tool(self, program, args):
        status, output = self.run(program, args, timeout=300)
        if status != 0:
            raise AssertionError("%s %s failed with %d:\n%s" % (os.path.basename(program), " ".join(args), status,
                                                                 output.decode("utf-8", "replace")))
        return output

    def close(self):
        """Removes the devices made, the driver packages they used, the classes of the packages, the certificates
        and the files; says what it could not remove. Safe to call more than once."""
        if not harness.closing(self):
            return
        left = []
        if self.devices or self.classes:
            status, output = self.run(self.helper("remove_device.exe"), self.devices + sorted(set(self.classes)),
                                      timeout=120)
            if status != 0:
                left.append(output.decode("utf-8", "replace"))
        for subject in self.certificates:
            for store in ("TrustedPublisher", "Root", "My"):
                # Each store holds it only if its step came that far.
                self.run("certutil", ["-delstore", store, subject], timeout=60)
        shutil.rmtree(self.root, ignore_errors=True)
        if left:
            print("The Windows platform could not undo all it did:\n" + "".join(left), file=sys.stderr)
