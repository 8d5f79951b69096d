"""Runs the suites of the built Ombrin.exe on this Windows machine itself: smoke, metadata and end-to-end.

  python tests\\system\\windows_suites.py --install-test-drivers BUILD_DIR [--logs DIR] [--suite NAME...]

BUILD_DIR holds Ombrin.exe and, in tests\\system\\, the test helpers, as a cross build (build/mingw or
build/mingw-arm64) or the workflow's artefact lays them out. The suites make a root-enumerated test device,
install the sample driver package, test-signed by a throwaway certificate that the machine trusts while they
run, and its class; all of it is removed at the end, also after a failure or a Ctrl+C. So they refuse to start
without --install-test-drivers, and want an elevated prompt. Each suite's output also goes to DIR/NAME.log
(default: logs/ in the current folder). After the suites it checks that they left nothing: no device with a
hardware ID of theirs, no key of the sample's class, no published driver package made from the sample's INF, no
certificate of theirs in the machine's Root, TrustedPublisher and My stores; it lists what it found. Exit status
0 when every suite passed and nothing was left, 1 otherwise, 2 when the command refused to start.

--on-wine runs the same with one Wine prefix standing in for the machine for the whole run (the project's tests
do, on Linux).
"""

import argparse
import ctypes
import os
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
MACHINES = {0x8664: "x64", 0xAA64: "arm64"}


def architecture(exe):
    """The Windows architecture an executable is built for, from its PE header's machine field."""
    with open(exe, "rb") as file:
        header = file.read(4096)
    offset = struct.unpack_from("<I", header, 0x3C)[0]
    return MACHINES.get(struct.unpack_from("<H", header, offset + 4)[0], "unknown")


def elevated():
    try:
        return bool(ctypes.windll.shell32.IsUserAnAdmin())
    except (AttributeError, OSError):
        return False


def suites(build):
    exe = os.path.join(build, "Ombrin.exe")
    helpers = os.path.join(build, "tests", "system")
    return {
        "smoke": ["smoke_test.py", exe, helpers],
        "metadata": ["metadata_test.py", exe, architecture(exe)],
        "end_to_end": ["e2e_test.py", exe, helpers, os.path.join(ROOT, "examples", "sample-driver"),
                       os.path.join(helpers, "ombrin_without_search_flags.exe")],
    }


def run_suite(name, command, env, logs):
    """Runs one suite, its output shown and kept in its log; returns its exit status."""
    log_path = os.path.join(logs, name + ".log")
    print("== %s (log: %s)" % (name, log_path), flush=True)
    with open(log_path, "wb") as log:
        process = subprocess.Popen([sys.executable, "-B", os.path.join(HERE, command[0])] + command[1:], env=env,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        try:
            for line in process.stdout:
                sys.stdout.buffer.write(line)
                sys.stdout.flush()
                log.write(line)
        finally:
            # A Ctrl+C reaches the suite too, which undoes its installations before it ends: wait for that.
            status = process.wait()
    return status


def leftovers(windows_platform):
    """What the suites left on the machine, as lines; printed under a heading."""
    machine = windows_platform.Machine()
    try:
        left = windows_platform.leftovers(machine)
    finally:
        machine.close()
    print("== What the suites left on this machine", flush=True)
    print("\n".join(left) if left else "Nothing: no device, class, published driver package or certificate of theirs.")
    return left


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build", help="the folder with Ombrin.exe and tests/system/ (the helpers)")
    parser.add_argument("--install-test-drivers", action="store_true",
                        help="agree that the suites install a test device, driver package, class and certificate")
    parser.add_argument("--logs", default="logs", help="the folder for each suite's log (default: logs)")
    parser.add_argument("--suite", action="append", choices=["smoke", "metadata", "end_to_end"],
                        help="run only this suite (may be given more than once)")
    parser.add_argument("--on-wine", action="store_true", help=argparse.SUPPRESS)
    options = parser.parse_args()

    # The platform of this process and of the suites it starts, read when the harness is first imported.
    os.environ["OMBRIN_TEST_PLATFORM"] = "windows-on-wine" if options.on_wine else "windows"
    import harness
    import windows_platform
    if not options.install_test_drivers:
        print(windows_platform.REFUSAL, end="")
        return 2
    if not options.on_wine and not elevated():
        print("The suites install drivers: run them from an elevated prompt (as an administrator).")
        return 2
    if not os.path.isfile(os.path.join(options.build, "Ombrin.exe")):
        print("No Ombrin.exe in %s: give the folder of a build (or of the workflow's artefact)." % options.build)
        return 2
    os.environ.update(OMBRIN_ALLOW_DRIVER_INSTALL="1", PYTHONDONTWRITEBYTECODE="1")
    harness.HELPERS = os.path.join(options.build, "tests", "system")
    host = None
    if options.on_wine:
        # One prefix for the whole run, as a Windows machine is one: every suite drives it, and the check below
        # reads what they left in it.
        import wine_platform
        host = wine_platform.Prefix()
        os.environ["OMBRIN_WINDOWS_ON_WINE_PREFIX"] = host.root
    os.makedirs(options.logs, exist_ok=True)
    results = []
    try:
        for name, command in suites(options.build).items():
            if options.suite and name not in options.suite:
                continue
            if name == "metadata" and subprocess.run([sys.executable, "-c", "import pefile"], check=False,
                                                     stderr=subprocess.DEVNULL).returncode != 0:
                results.append((name, "skipped: pefile is missing (python -m pip install pefile)"))
                continue
            status = run_suite(name, command, os.environ, options.logs)
            results.append((name, "passed" if status == 0 else "FAILED (status %d)" % status))
        left = leftovers(windows_platform)
        results.append(("cleanup", "passed" if not left else "FAILED (%d left, listed above)" % len(left)))
    finally:
        if host:
            host.close()
    print("== Suites on this machine (%s)" % ("a Wine prefix" if options.on_wine else "Windows"))
    for name, result in results:
        print("%-12s %s" % (name, result))
    return 0 if all(result == "passed" or result.startswith("skipped") for _, result in results) else 1


if __name__ == "__main__":
    sys.path.insert(0, HERE)
    sys.exit(main())
