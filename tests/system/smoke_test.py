"""Smoke tests of the built Ombrin.exe on the run's platform (harness.py): usage outcomes and a real failure
report. Usage: smoke_test.py OMBRIN_EXE HELPER_DIR [unittest's arguments]"""

import sys
import unittest

import harness
from harness import USAGE, needs

OMBRIN = None  # the executable's path, from the command line
ERROR_FILE_NOT_FOUND = 2


class SmokeTest(harness.PlatformTest):
    def test_no_arguments_print_banner_and_usage_with_status_minus_one(self):
        self.assertEqual(self.platform.run(OMBRIN, []), (-1, USAGE))

    def test_switches_alone_print_usage_with_status_minus_two(self):
        self.assertEqual(self.platform.run(OMBRIN, ["/f", "/s"]), (-2, USAGE))

    @needs("failing_update")
    def test_a_missing_inf_gives_both_reports_with_the_systems_text_and_status_one(self):
        # A device has the ID: for an ID no device has, Windows' update may answer ERROR_NO_SUCH_DEVINST instead.
        self.platform.make_device(harness.SMOKE_ID)
        status, output = self.platform.run(OMBRIN, ["/c", "/s", harness.SMOKE_ID, "missing.inf"],
                                           extra_env=self.platform.failing_update_env(ERROR_FILE_NOT_FOUND))
        self.assertEqual(output, self.platform.report(b"SetupDiInstallClass", ERROR_FILE_NOT_FOUND)
                         + self.platform.report(b"UpdateDriverForPlugAndPlayDevices", ERROR_FILE_NOT_FOUND))
        self.assertEqual(status, 1)


if __name__ == "__main__":
    OMBRIN, harness.HELPERS = sys.argv[1:3]
    del sys.argv[1:3]
    unittest.main(verbosity=2)
