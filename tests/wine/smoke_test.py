"""Smoke tests of the built Ombrin.exe under Wine: usage outcomes and a real failure report."""

import sys
import unittest

from wineprefix import USAGE, Prefix

OMBRIN = None  # the executable's path, from the command line


class SmokeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = Prefix()

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()

    def test_no_arguments_print_banner_and_usage_with_status_minus_one(self):
        self.assertEqual(self.prefix.run(OMBRIN, []), (-1, USAGE))

    def test_switches_alone_print_usage_with_status_minus_two(self):
        self.assertEqual(self.prefix.run(OMBRIN, ["/f", "/s"]), (-2, USAGE))

    def test_missing_inf_gives_the_class_installation_report_and_status_one(self):
        status, output = self.prefix.run(OMBRIN, ["/c", "/s", "ROOT\\OMBRIN_SMOKE", "missing.inf"])
        self.assertEqual(output, b"SetupDiInstallClass failed with status : 00000002\r\n"
                                 b"Extended Error : File not found.\r\r\n\r\n")
        self.assertEqual(status, 1)


if __name__ == "__main__":
    OMBRIN = sys.argv.pop(1)
    unittest.main(verbosity=2)
