"""End-to-end tests of the built Ombrin.exe on a real platform: Wine's device installation, or Windows' own.

Usage: e2e_test.py OMBRIN_EXE HELPER_DIR SAMPLE_DRIVER_DIR FALLBACK_LOADER_EXE [unittest's arguments]
(the last file: the installer built to act as a system without the loader's search flags)

The platform (harness.py, OMBRIN_TEST_PLATFORM) makes the devices and reads their state; the real installs use
its SetupAPI. Where a case needs a driver update that fails, Windows' own fails for a missing INF, and Wine's,
which never fails, is answered by a stand-in newdev.dll of the tests' own in the prefix's system32; the cases
that need the stand-in to record, delay or fail a call at will run on Wine only. A case that needs what the
platform lacks is skipped with the reason. System texts come from the running system (system_text.exe).
"""

import os
import re
import shutil
import sys
import time
import unittest

import harness
from harness import SAMPLE_CLASS, SAMPLE_ID, USAGE, PlatformTest, needs

OMBRIN = HELPERS = SAMPLE = FALLBACK = None  # from the command line

PROMPT = b"Any key to continue...\r\n"
# Written on the console in one piece, though the driver's own lines may stand either side of it.
STOPPING = "Stopping after the call in progress; press Ctrl+C again to end at once.\n"
STATUS_CONTROL_C_EXIT = 0xC000013A - (1 << 32)  # as the driver prints a Windows status
ERROR_FILE_NOT_FOUND = 2
ERROR_ACCESS_DENIED = 5
ERROR_NO_SUCH_DEVINST = 0xE000020B
ERROR_NO_CATALOG_FOR_OEM_INF = 0xE000022F
CLASS = b"SetupDiInstallClass"
UPDATE = b"UpdateDriverForPlugAndPlayDevices"
CLASS_NOTE = '    OmbrinClassNote = "Installed from the Ombrin sample INF"\n'


def sample_inf():
    return os.path.join(SAMPLE, harness.SAMPLE_INF)


def console_text(data):
    """Bytes of a report as a console shows them through the tests' terminal: no carriage returns."""
    return data.decode("latin-1").replace("\r", "")


class BatchCaller:
    """A cmd script that calls Ombrin.exe and branches on its exit status, as the README shows."""

    SCRIPT = (
        "@echo off\r\n"
        "\"%OMBRIN%\" %*\r\n"
        "set STATUS=%ERRORLEVEL%\r\n"
        "if %STATUS% EQU 0 echo branch: installed\r\n"
        "if %STATUS% EQU 1 echo branch: installation failed\r\n"
        "if %STATUS% LSS 0 echo branch: command line incomplete\r\n"
        "echo status: %STATUS%\r\n"
    )

    @classmethod
    def run(cls, platform, args, extra_env=None):
        """The script's output for Ombrin.exe run with `args`."""
        script = os.path.join(platform.work, "caller.cmd")
        with open(script, "w", newline="") as file:
            file.write(cls.SCRIPT)
        env = dict(extra_env or {}, OMBRIN=platform.windows_path(OMBRIN))
        return platform.run("cmd", ["/c", platform.windows_path(script)] + args, extra_env=env)[1]


class RealInstallTest(harness.PlatformCase):
    """The platform's SetupAPI installs the sample class and driver; each test has a clean platform."""

    def setUp(self):
        self.platform = harness.new_platform()
        self.addCleanup(self.platform.close)
        self.platform.make_device(SAMPLE_ID)

    def state(self):
        return self.platform.state(SAMPLE_CLASS, SAMPLE_ID)

    def test_with_class_installs_the_class_and_the_driver_silently(self):
        self.assertNotIn("OmbrinClassNote", self.state())
        inf = self.platform.driver_package(sample_inf())
        self.assertEqual(self.platform.run(OMBRIN, ["/c", SAMPLE_ID, inf]), (0, b""))
        state = self.state()
        self.assertIn('    Class = "OmbrinSample"\n', state)
        self.assertIn(CLASS_NOTE, state)
        # The device's Driver value names its key under the class: Windows writes the GUID in lower case, Wine in
        # upper case, and registry key names are not case sensitive ("Structure of the Registry").
        self.assertRegex(state, r"(?i): driver %s\\\d{4}\n" % re.escape(SAMPLE_CLASS))
        # The package the system kept (Windows: its published oemNN.inf): empty where its copy failed.
        self.assertRegex(state, r'\n    InfPath = "[^"\\]+\.inf"\n')
        self.assertIn('    InfSection = "OmbrinSample_Install"\n', state)
        self.assertIn("    SampleMode = dword:42\n", state)
        self.assertIn('    SampleGreeting = "Hello from the Ombrin sample driver"\n', state)

    def test_without_class_installs_the_driver_and_the_class_only_as_the_platform_does_with_a_first_device(self):
        inf = self.platform.driver_package(sample_inf())
        self.assertEqual(self.platform.run(OMBRIN, [SAMPLE_ID, inf]), (0, b""))
        state = self.state()
        self.assertIn('    InfSection = "OmbrinSample_Install"\n', state)
        self.assertIn("    SampleMode = dword:42\n", state)
        if harness.does("class_with_first_device"):
            self.assertIn(CLASS_NOTE, state)  # Windows: the first device of a new class brings the class
        else:
            self.assertNotIn("OmbrinClassNote", state)  # Wine: only SetupDiInstallClassW installs it

    def test_with_class_an_installed_class_gets_its_values_written_again_and_without_it_keeps_them(self):
        # /f: the same driver is no better match than itself, which the update would otherwise refuse (00000103).
        inf = self.platform.driver_package(sample_inf())
        self.assertEqual(self.platform.run(OMBRIN, ["/c", SAMPLE_ID, inf]), (0, b""))
        changed = "    OmbrinClassNote = \"changed by the test\"\n"
        class_key = "HKLM\\System\\CurrentControlSet\\Control\\Class\\" + SAMPLE_CLASS
        status, _ = self.platform.run("reg", ["add", class_key, "/v", "OmbrinClassNote", "/d", "changed by the test",
                                              "/f"])
        self.assertEqual(status, 0)
        self.assertIn(changed, self.state())
        # No platform processes the section of a class that is installed ("INF ClassInstall32 section").
        self.assertEqual(self.platform.run(OMBRIN, ["/f", SAMPLE_ID, inf]), (0, b""))
        self.assertIn(changed, self.state())
        # SetupDiInstallClassW installs the section it is given, an installed class or not.
        self.assertEqual(self.platform.run(OMBRIN, ["/c", "/f", SAMPLE_ID, inf]), (0, b""))
        self.assertIn(CLASS_NOTE, self.state())

    def test_a_cmd_script_branches_on_status_0_after_a_real_install(self):
        inf = self.platform.driver_package(sample_inf())
        output = BatchCaller.run(self.platform, ["/s", SAMPLE_ID, inf])
        self.assertTrue(output.endswith(b"branch: installed\r\nstatus: 0\r\n"), output)
        self.assertIn('    SampleMode = dword:42\n', self.state())

    @needs("signature_checks")
    def test_a_package_without_its_signed_catalog_is_refused_and_nothing_is_installed(self):
        # The sample as it stands names no catalog.
        status, output = self.platform.run(OMBRIN, ["/s", SAMPLE_ID, self.platform.windows_path(sample_inf())])
        self.assertEqual((status, output), (1, self.platform.report(UPDATE, ERROR_NO_CATALOG_FOR_OEM_INF)))
        self.assertNotIn("SampleMode", self.state())


class SampleDeviceTest(PlatformTest):
    """Cases that share one platform with a device of the sample's hardware ID. A missing INF fails Windows' update
    with ERROR_FILE_NOT_FOUND only where a device has the ID: for an ID no device has it documents
    ERROR_NO_SUCH_DEVINST as well, and no order between the two."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.platform.make_device(SAMPLE_ID)


class RealFailureTest(SampleDeviceTest):
    """Failures the platform itself produces; the update's is a missing INF (the stand-in's on Wine)."""

    def run_failing(self, args, **kwargs):
        return self.platform.run(OMBRIN, args, extra_env=self.platform.failing_update_env(ERROR_FILE_NOT_FOUND),
                                 **kwargs)

    @needs("failing_update")
    def test_a_failed_class_installation_is_reported_and_the_update_still_runs(self):
        self.assertEqual(self.run_failing(["/c", "/s", SAMPLE_ID, "missing.inf"]),
                         (1, self.platform.report(CLASS, ERROR_FILE_NOT_FOUND)
                          + self.platform.report(UPDATE, ERROR_FILE_NOT_FOUND)))

    @needs("failing_update")
    def test_a_silent_update_failure_prints_the_report_and_ends_at_once_with_status_one(self):
        started = time.monotonic()
        self.assertEqual(self.run_failing(["/s", SAMPLE_ID, "missing.inf"]),
                         (1, self.platform.report(UPDATE, ERROR_FILE_NOT_FOUND)))
        self.assertLess(time.monotonic() - started, 20 * self.platform.SLOWDOWN)

    @needs("failing_update")
    def test_a_non_ascii_inf_path_and_the_system_text_print_as_defined(self):
        self.assertEqual(self.run_failing(["/s", SAMPLE_ID, "\u00e9-missing.inf"]),
                         (1, self.platform.report(UPDATE, ERROR_FILE_NOT_FOUND)))

    @needs("failing_update")
    def test_without_a_console_the_pause_prompts_and_ends(self):
        self.assertEqual(self.run_failing([SAMPLE_ID, "missing.inf"], timeout=30),
                         (1, self.platform.report(UPDATE, ERROR_FILE_NOT_FOUND) + PROMPT))

    @needs("failing_update")
    def test_a_start_without_a_console_window_ends_at_once_with_the_report_and_prompt_in_the_log(self):
        # As a deployment agent starts it: CREATE_NO_WINDOW, input from NUL, output to a log, no "/s".
        log = os.path.join(self.platform.work, "agent.log")
        status, text = self.platform.run(
            self.platform.helper("console_driver.exe"),
            ["hidden", "--stdout", self.platform.windows_path(log), OMBRIN, SAMPLE_ID, "missing.inf"],
            extra_env=self.platform.failing_update_env(ERROR_FILE_NOT_FOUND), timeout=60)
        self.assertEqual(status, 0, text)
        self.assertIn(b"driver: exit status 1\r\n", text)
        with open(log, "rb") as written:
            self.assertEqual(written.read(), self.platform.report(UPDATE, ERROR_FILE_NOT_FOUND) + PROMPT)

    @needs("no_device_failure")
    def test_an_update_for_a_hardware_id_no_device_has_fails(self):
        inf = self.platform.driver_package(sample_inf())
        self.assertEqual(self.platform.run(OMBRIN, ["/s", "ROOT\\OMBRIN_NO_SUCH_DEVICE", inf]),
                         (1, self.platform.report(UPDATE, ERROR_NO_SUCH_DEVINST)))

    @needs("failing_update")
    def test_a_cmd_script_branches_on_a_failure_and_on_an_incomplete_command_line(self):
        cases = [(["/s", SAMPLE_ID, "missing.inf"], b"branch: installation failed\r\nstatus: 1\r\n"),
                 (["/s", SAMPLE_ID], b"branch: command line incomplete\r\nstatus: -2\r\n")]
        for args, expected in cases:
            with self.subTest(args=args):
                output = BatchCaller.run(self.platform, args, self.platform.failing_update_env(ERROR_FILE_NOT_FOUND))
                self.assertTrue(output.endswith(expected), output)


@needs("failing_update")
@needs("person_console")
class PauseInConsoleTest(SampleDeviceTest):
    """In a console, a driver program feeds console input records to the waiting program, or interrupts it."""

    def drive(self, action, driver_args=(), expected_status=1):
        status, text = self.platform.run_in_terminal(
            self.platform.helper("console_driver.exe"),
            [action] + list(driver_args) + [OMBRIN, SAMPLE_ID, "missing.inf"],
            extra_env=self.platform.failing_update_env(ERROR_FILE_NOT_FOUND))
        self.assertNotIn("driver: FAILED", text, text)
        self.assertIn("driver: exit status %d\n" % expected_status, text, text)
        self.assertEqual(status, 0, text)
        return text

    def expected_file(self):
        return self.platform.report(UPDATE, ERROR_FILE_NOT_FOUND) + PROMPT

    def test_waits_through_other_records_and_ends_on_a_key_press_that_stays_pending(self):
        # "alone": the key press is the first and only record pending.
        for key, checks in [("letter", 6), ("f5", 6), ("arrow", 6), ("alone", 4)]:
            with self.subTest(key=key):
                text = self.drive(key)
                self.assertIn(console_text(self.expected_file()), text)
                self.assertEqual(text.count("driver: ok:"), checks, text)

    def output_file(self):
        output = os.path.join(self.platform.work, "output-%s.txt" % self._testMethodName)
        return output, ["--stdout", self.platform.windows_path(output)]

    def test_output_to_a_file_is_written_before_the_wait(self):
        output, driver_args = self.output_file()
        text = self.drive("letter", driver_args)
        self.assertIn("driver: ok: output file written before the wait", text)
        self.assertNotIn("Any key to continue", text)
        with open(output, "rb") as written:
            self.assertEqual(written.read(), self.expected_file())

    def test_a_waiting_run_ended_by_terminate_process_leaves_the_report_and_prompt_in_its_file(self):
        # As an agent's time-out ends it: no code of the program runs after that.
        output, driver_args = self.output_file()
        text = self.drive("terminate", driver_args, expected_status=99)
        self.assertIn("driver: ok: terminated", text)
        with open(output, "rb") as written:
            self.assertEqual(written.read(), self.expected_file())

    def test_on_a_window_station_nobody_sees_it_ends_at_once_with_the_report_and_prompt(self):
        # As Windows starts services and tasks run without a logged-on user: the console
        # has a window, but on a station nobody sees; no "/s".
        output, driver_args = self.output_file()
        text = self.drive("station", driver_args)
        self.assertIn("driver: ok: desktop made", text)
        with open(output, "rb") as written:
            self.assertEqual(written.read(), self.expected_file())

    def test_ctrl_c_in_the_pause_ends_it_and_writes_the_report_and_prompt(self):
        output, driver_args = self.output_file()
        self.drive("ctrl-c", driver_args)
        with open(output, "rb") as written:
            self.assertEqual(written.read(), self.expected_file())


@needs("stand_in")
class StandInTest(PlatformTest):
    """One prefix whose system32 holds the stand-in newdev.dll; each test reads its log."""

    def setUp(self):
        self.log = os.path.join(self.platform.work, "standin-%s.log" % self._testMethodName)
        self.env = self.platform.stand_in_env(OMBRIN_STANDIN_LOG=self.platform.windows_path(self.log))

    def run_ombrin(self, args, update_error=None, **kwargs):
        env = dict(self.env)
        if update_error is not None:
            env["OMBRIN_STANDIN_UPDATE_ERROR"] = "%X" % update_error
        return self.platform.run(OMBRIN, args, extra_env=env, **kwargs)

    def clear_log(self):
        if os.path.exists(self.log):
            os.remove(self.log)

    def calls(self, kind="update"):
        """The stand-in's log lines of one kind, split into their fields."""
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as log:
            return [line.rstrip("\n").split("|")[1:] for line in log if line.startswith(kind + "|")]

    def work_path(self, name):
        return self.platform.windows_path(os.path.join(self.platform.work, name))


class FailureReportTest(StandInTest):
    def test_class_installation_failures_are_reported_and_the_update_still_runs(self):
        os.makedirs(os.path.join(self.platform.work, "a-directory.inf"), exist_ok=True)
        cases = [("missing.inf", ERROR_FILE_NOT_FOUND), ("a-directory.inf", ERROR_ACCESS_DENIED)]
        for inf, code in cases:
            with self.subTest(inf=inf):
                self.clear_log()
                self.assertEqual(self.run_ombrin(["/c", SAMPLE_ID, inf]), (1, self.platform.report(CLASS, code)))
                self.assertEqual(self.calls(), [[SAMPLE_ID, self.work_path(inf), "0x00000000", "window:null",
                                                 "reboot:pointer"]])

    def test_update_receives_the_flags_and_an_absolute_inf_path(self):
        os.makedirs(os.path.join(self.platform.work, "drv"), exist_ok=True)
        cases = [(["/f", "H", "drv\\x.inf"], "0x00000001"), (["H", "drv\\x.inf"], "0x00000000"),
                 (["H", "drv\\x.inf", "/F"], "0x00000001")]
        for args, flags in cases:
            with self.subTest(args=args):
                self.clear_log()
                self.assertEqual(self.run_ombrin(args), (0, b""))
                self.assertEqual(self.calls(), [["H", self.work_path("drv/x.inf"), flags, "window:null",
                                                 "reboot:pointer"]])

    def test_an_update_failure_with_a_code_without_a_system_text_prints_the_status_line_alone(self):
        # A code of SetupAPI's own: whether the system has a text for it is the system's to say.
        self.assertEqual(self.run_ombrin(["/s", "H", "x.inf"], update_error=ERROR_NO_SUCH_DEVINST),
                         (1, self.platform.report(UPDATE, ERROR_NO_SUCH_DEVINST)))

    def test_a_restart_request_is_not_reported(self):
        self.env["OMBRIN_STANDIN_REBOOT"] = "1"
        self.assertEqual(self.run_ombrin(["H", "x.inf"]), (0, b""))
        self.assertEqual(len(self.calls()), 1)


class InterruptTest(StandInTest):
    """Ctrl+C sent to the console by a driver program while the stand-in's call takes its time."""

    def interrupt(self, action, args, to_file=True, **env):
        """Returns the program's exit status, the bytes it wrote to its file (None when its output
        went to the console), and what the console showed."""
        self.clear_log()
        output = os.path.join(self.platform.work, "output-%s.txt" % self._testMethodName)
        redirect = ["--stdout", self.platform.windows_path(output)] if to_file else []
        status, text = self.platform.run_in_terminal(
            self.platform.helper("console_driver.exe"), [action] + redirect + [OMBRIN] + args,
            extra_env=dict(self.env, **env))
        self.assertNotIn("driver: FAILED", text, text)
        self.assertEqual(status, 0, text)
        written = None
        if to_file:
            with open(output, "rb") as file:
                written = file.read()
        return int(re.search(r"driver: exit status (-?\d+)", text).group(1)), written, text

    def delay(self):
        """Long enough for a Ctrl+C to arrive, and be acknowledged, while the call runs."""
        return str(int(5000 * self.platform.SLOWDOWN))

    def test_ctrl_c_during_the_update_lets_it_finish_then_writes_everything_out_without_the_pause(self):
        cases = [(ERROR_ACCESS_DENIED, self.platform.report(UPDATE, ERROR_ACCESS_DENIED), 1), (None, b"", 0)]
        for error, report, expected_status in cases:
            with self.subTest(update_error=error):
                env = {"OMBRIN_STANDIN_DELAY_MS": self.delay()}
                if error is not None:
                    env["OMBRIN_STANDIN_UPDATE_ERROR"] = "%X" % error
                status, written, text = self.interrupt("ctrl-c", ["H", "x.inf"], **env)
                self.assertEqual((status, written), (expected_status, report))
                self.assertEqual(self.calls("done"), [["update"]])
                # Acknowledged on the console itself, once; the file is as it would be without it.
                self.assertEqual(text.count(STOPPING), 1, text)

    def test_a_second_ctrl_c_ends_the_program_at_once_with_the_interrupted_status(self):
        status, _, text = self.interrupt("ctrl-c-twice", ["H", "x.inf"], OMBRIN_STANDIN_DELAY_MS="20000")
        ended_after = int(re.search(r"driver: ended (\d+) ms after the last Ctrl\+C", text).group(1))
        self.assertLess(ended_after, 3000 * self.platform.SLOWDOWN, text)
        self.assertEqual(self.calls("done"), [])
        self.assertEqual(status, STATUS_CONTROL_C_EXIT)

    def test_on_a_console_each_report_is_shown_at_once(self):
        # The class installation's report is shown while the update still runs: a second Ctrl+C,
        # which loses whatever is held back, ends the run.
        status, _, text = self.interrupt("ctrl-c-twice", ["/c", "H", "missing.inf"], to_file=False,
                                         OMBRIN_STANDIN_DELAY_MS="20000")
        self.assertEqual(status, STATUS_CONTROL_C_EXIT, text)
        self.assertIn(console_text(self.platform.report(CLASS, ERROR_FILE_NOT_FOUND)), text)

    def test_a_log_off_event_does_not_stop_the_installation(self):
        # A program started by a service gets every user's log-off; the update finishes and is reported.
        status, written, _ = self.interrupt("logoff", ["/s", "H", "x.inf"], OMBRIN_STANDIN_UPDATE_ERROR="5",
                                            OMBRIN_STANDIN_DELAY_MS=self.delay())
        self.assertEqual((status, written), (1, self.platform.report(UPDATE, ERROR_ACCESS_DENIED)))
        self.assertEqual(self.calls("done"), [["update"]])


@needs("stand_in")
@needs("wine_loader_overrides")
class PlantedLibraryTest(harness.PlatformCase):
    """Copies that would log their loading sit beside the executable (and in the current directory)."""

    def plant(self, names):
        """A clean platform with Ombrin.exe and the naive loader in a folder of their own, and the
        stand-in there under each of `names`."""
        self.platform = harness.new_platform()
        self.addCleanup(self.platform.close)
        self.app = os.path.join(self.platform.root, "app")
        os.mkdir(self.app)
        for program in [OMBRIN, FALLBACK, self.platform.helper("naive_load.exe")]:
            shutil.copy(program, self.app)
        for name in names:
            shutil.copy(self.platform.helper("standin.dll"), os.path.join(self.app, name))
        # Native before builtin: a search that looked beside the executable would load the copy there.
        self.env = {"WINEDLLOVERRIDES": ",".join(os.path.splitext(n)[0] for n in names) + "=n,b;mscoree,mshtml="}

    def loaded(self, log_name, program, args):
        """Runs a program of the app folder; returns its result and the stand-in copies it loaded."""
        log = os.path.join(self.platform.work, log_name)
        env = dict(self.env, OMBRIN_STANDIN_LOG=self.platform.windows_path(log))
        result = self.platform.run(os.path.join(self.app, program), args, extra_env=env)
        if not os.path.exists(log):
            return result, set()
        with open(log, encoding="utf-8") as lines:
            return result, {line.split("|")[1].strip().lower() for line in lines if line.startswith("loaded|")}

    def planted(self, name):
        return self.platform.windows_path(os.path.join(self.app, name)).lower()

    def test_the_installation_libraries_come_from_the_system_directory_only(self):
        names = ["newdev.dll", "setupapi.dll"]
        self.plant(names)
        for folder in [self.platform.system32(), self.platform.work]:
            for name in names:
                shutil.copy(self.platform.helper("standin.dll"), os.path.join(folder, name))

        # The control: the default search does pick up the copy beside the program.
        _, paths = self.loaded("naive.log", "naive_load.exe", ["newdev.dll"])
        self.assertIn(self.planted("newdev.dll"), paths)

        # Both branches of the loader: the search flags, and the full system path where a system lacks them.
        for program in ["Ombrin.exe", os.path.basename(FALLBACK)]:
            with self.subTest(program=program):
                result, paths = self.loaded(program + ".log", program, ["/c", "H", "x.inf"])
                self.assertEqual(result, (0, b""))
                self.assertEqual(paths, {"c:\\windows\\system32\\newdev.dll",
                                         "c:\\windows\\system32\\setupapi.dll"})

    def test_without_the_search_flags_the_system_newdev_imports_the_system_setupapi(self):
        # Only setupapi.dll is planted; the update goes through Wine's own newdev.dll, which imports it.
        self.plant(["setupapi.dll"])
        system_newdev = "C:\\windows\\system32\\newdev.dll"
        # The control: loaded by its full path alone, newdev's import is looked for beside the program.
        _, paths = self.loaded("naive.log", "naive_load.exe", [system_newdev])
        self.assertIn(self.planted("setupapi.dll"), paths)

        result, paths = self.loaded("fallback.log", os.path.basename(FALLBACK), ["H", "x.inf"])
        self.assertEqual(result, (0, b""))
        self.assertEqual(paths, set())

    def test_what_system_libraries_load_in_turn_during_a_real_installation_is_not_planted(self):
        # Names of libraries that Wine's device installation loads on its way (zlib1.dll, which Wine
        # also looks for, is no Windows system library).
        self.plant(["imm32.dll", "uxtheme.dll"])
        self.platform.make_device(SAMPLE_ID)
        inf = self.platform.driver_package(sample_inf())

        _, paths = self.loaded("naive.log", "naive_load.exe", ["imm32.dll"])
        self.assertIn(self.planted("imm32.dll"), paths)

        result, paths = self.loaded("ombrin.log", "Ombrin.exe", ["/c", SAMPLE_ID, inf])
        self.assertEqual(result, (0, b""))
        self.assertEqual(paths, set())
        state = self.platform.state(SAMPLE_CLASS, SAMPLE_ID)
        self.assertIn('    InfSection = "OmbrinSample_Install"\n', state)
        self.assertIn("OmbrinClassNote", state)


class BadInputTest(StandInTest):
    def test_texts_reach_the_platform_whole(self):
        cases = [("", "x.inf"), ("ROOT\\\u00c9CRAN_\u65e5\u672c", "pilote_\u00e9\u4e2d.inf"),
                 ("ROOT\\MY DEVICE", "my driver.inf"), ("I" * 259, "x.inf")]
        for hardware_id, inf in cases:
            with self.subTest(hardware_id=hardware_id[:20]):
                self.clear_log()
                self.assertEqual(self.run_ombrin([hardware_id, inf]), (0, b""))
                self.assertEqual(self.calls(), [[hardware_id, self.work_path(inf), "0x00000000", "window:null",
                                                 "reboot:pointer"]])

    def test_an_argument_of_260_characters_is_refused(self):
        for args in [["I" * 260, "x.inf"], ["H", "x" * 256 + ".inf"], ["/c", "H", "B" * 300, "x.inf"]]:
            with self.subTest(length=max(len(arg) for arg in args)):
                self.assertEqual(self.run_ombrin(args),
                                 (-2, b"Argument too long: at most 259 characters.\r\n" + USAGE))
                self.assertEqual(self.calls(), [])


if __name__ == "__main__":
    OMBRIN, HELPERS, SAMPLE, FALLBACK = (os.path.abspath(arg) for arg in sys.argv[1:5])
    harness.HELPERS = HELPERS
    del sys.argv[1:5]
    unittest.main(verbosity=2)
