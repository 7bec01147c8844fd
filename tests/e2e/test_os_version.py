"""The operating-system test against the version Wine reports to Morvane.exe.

Windows reports 6.2 through GetVersionExW, on Windows 8.1, 10 and 11 alike, to a program whose
manifest does not list those systems as supported; Morvane's manifest lists Vista to 10/11, so
a kavro.ini minimum of 10.0 lets current Windows through. Wine, measured, applies the same rule:
reporting Windows 10 or 8.1, it tells an unlisted program 6.2.

The version Wine reports is set for Morvane.exe alone (HKCU\\Software\\Wine\\AppDefaults\\
Morvane.exe, value Version), and put back as it was when the test ends: other programs and
tests share the prefix.
"""

import subprocess

import harness
from dialog_driver import dialog_message
from harness import ScenarioTest, Scenario, control_file

APP_KEY = "HKCU\\Software\\Wine\\AppDefaults\\Morvane.exe"


class ReportedVersion(ScenarioTest):

    # Wine's name of the system it reports, the minimum in kavro.ini, and whether it passes.
    CASES = [
        ("win10", ("10", "0", "0"), True),   # current Windows meets a minimum of 10.0 ...
        ("win10", ("10", "1", "0"), False),  # ... and is not taken for more than it is
        ("win81", ("6", "3", "0"), True),    # Windows 8.1 is 6.3, not the 6.2 of Windows 8
        ("win8", ("6", "3", "0"), False),
    ]

    def reg(self, *args):
        code, out = self.build.wine_output(["reg"] + list(args))
        return code, out

    def set_reported_version(self, name):
        code, out = self.reg("add", APP_KEY, "/v", "Version", "/d", name, "/f")
        self.assertEqual(code, 0, out)

    def setUp(self):
        code, out = self.reg("query", APP_KEY, "/v", "Version")
        earlier = out.split()[-1] if code == 0 and "REG_SZ" in out else None
        if earlier:
            self.addCleanup(self.set_reported_version, earlier)
        else:
            self.addCleanup(self.reg, "delete", APP_KEY, "/v", "Version", "/f")

    def test_minimum_against_the_reported_version(self):
        for version, (major, minor, sp), passes in self.CASES:
            with self.subTest(version=version, minimum=(major, minor, sp)), \
                    Scenario(self.build) as s:
                self.set_reported_version(version)
                s.install(revision=5, kavro={"ProductName": "Kavro Demo", "OSMajor": major,
                                             "OSMinor": minor, "SPMajor": sp})
                s.serve("ctl.ini", control_file(revision=5))
                if passes:
                    run = s.run()
                    self.assertWizardStartedOnceFromApp(run, s)
                    self.assertEqual(s.control.requests(), ["GET /ctl.ini"])
                else:
                    run = s.run_expecting_dialog()
                    self.assertEqual(dialog_message(run), "This system is not supported.")
                    self.assertNoWizard(run)
                    self.assertNoControlRequest(s)


if __name__ == "__main__":
    harness.main()
