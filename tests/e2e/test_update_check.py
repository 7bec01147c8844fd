"""The update check end to end: what the control file says decides between the dialog (update)
and the local wizard (no update), and the control file's local copy never outlives the check."""

import os

import harness
from harness import ScenarioTest, Scenario, control_file, wine_path


class UpdateCheck(ScenarioTest):

    def check(self, s, expect_update, requests=("GET /ctl.ini",), **run_args):
        """Runs Morvane and asserts the decision, the requests and an empty temp folder."""
        if expect_update:
            run = s.run_expecting_dialog(**run_args)
            self.assertIsNotNone(run.dialog, "an update must open the dialog")
            self.assertNoWizard(run)
        else:
            run = s.run(**run_args)
            self.assertWizardStartedOnceFromApp(run, s)
        self.assertEqual(s.control.requests(), list(requests))
        self.assertEqual(run.temp_files, [], "the control file's local copy must be gone")
        return run

    def test_revision_comparison(self):
        # (local InstallerRevision, remote Revision, update offered)
        cases = [
            (6, "6", False),            # equal is not newer
            (5, "6", True),             # one greater
            (5, "-1", True),            # -1 compares as 4294967295
            (-1, "99", False),          # nothing is newer than a local -1
            (5, "not-a-number", False),  # reads as 0
            (0, "1", True),
        ]
        for local, remote, update in cases:
            with self.subTest(local=local, remote=remote), Scenario(self.build) as s:
                s.install(revision=local)
                s.serve("ctl.ini", control_file(revision=remote))
                self.check(s, update)

    def test_control_file_without_what_an_update_needs(self):
        cases = {
            "no section named by DRVNAME": control_file(revision=9, drvname="OTHER-DRIVER"),
            "DownloadUrl without ExePath": control_file(revision=9, exe_path=None),
            "ExePath without DownloadUrl": control_file(revision=9, download_url=None),
            "no Revision": control_file(revision=None),
            "not an INI file": b"\x00\x01binary junk\xff" * 40,
        }
        for name, content in cases.items():
            with self.subTest(name), Scenario(self.build) as s:
                s.install(revision=5)
                s.serve("ctl.ini", content)
                self.check(s, False)

    def test_hostile_control_file_values_offer_no_update_and_say_why(self):
        """ExePath decides what runs elevated and what the clean-up deletes; DownloadUrl what is
        opened as the package. The trail names the value that was refused."""
        cases = {
            "ExePath without a folder": (control_file(revision=9, exe_path="KVWizard.exe"),
                                         "ExePath"),
            "ExePath climbing out": (control_file(revision=9, exe_path="..\\..\\evil.exe"),
                                     "ExePath"),
            "ExePath absolute": (control_file(revision=9, exe_path="C:\\Windows\\evil.exe"),
                                 "ExePath"),
            "DownloadUrl a share": (control_file(revision=9,
                                                 download_url="\\\\host\\share\\KVSetup.exe"),
                                    "DownloadUrl"),
            "DownloadUrl a file URL": (control_file(revision=9,
                                                    download_url="file:///C:/KVSetup.exe"),
                                       "DownloadUrl"),
        }
        for name, (content, refused) in cases.items():
            with self.subTest(name), Scenario(self.build) as s:
                s.install(revision=5)
                s.serve("ctl.ini", content)
                run = self.check(s, False)
                self.assertIn("decision: local wizard, no newer revision offered", run.trail)
                self.assertTrue(any(line.startswith("update check: no update, " + refused)
                                    for line in run.trail), run.trail)

    def test_empty_driver_name_looks_up_an_empty_section(self):
        # The driver information file names no driver: the check reads the section with the
        # empty name, which this control file does not have, although KV-1000 offers an update.
        with Scenario(self.build) as s:
            s.install(drvname="", revision=5)
            s.add_driver_info("")
            s.serve("ctl.ini", control_file(revision=9, drvname="KV-1000"))
            self.check(s, False)

    def test_control_file_that_cannot_be_fetched(self):
        cases = {
            "server refuses": ("http://127.0.0.1:9/ctl.ini", []),
            "404": ("404/ctl.ini", ["GET /404/ctl.ini"]),
            "missing on the server": ("missing.ini", ["GET /missing.ini"]),
        }
        for name, (url, requests) in cases.items():
            with self.subTest(name), Scenario(self.build) as s:
                s.install(revision=5, ctl_name=url)
                s.serve("ctl.ini", control_file(revision=9))
                self.check(s, False, requests=requests)

    def test_local_path_as_control_file_is_not_read(self):
        # A file path is not a URL: no download is tried, although the file offers an update.
        with Scenario(self.build) as s:
            local = os.path.join(s.root, "local-ctl.ini")
            with open(local, "wb") as f:
                f.write(control_file(revision=9))
            s.install(revision=5, ctl_name=wine_path(local))
            self.check(s, False, requests=[])

    def test_cached_copy_is_never_reused(self):
        # The server marks the control file cacheable for a day; the second run must still
        # fetch it, and the changed revision decides. (Wine's URLDownloadToFileW fetches anew
        # even when the cache entry is left in place, so under Wine this shows the outcome,
        # not the removal of the entry.)
        with Scenario(self.build) as s:
            s.install(revision=5)
            s.serve("ctl.ini", control_file(revision=5))
            self.check(s, False)
            s.serve("ctl.ini", control_file(revision=6))
            self.check(s, True, requests=["GET /ctl.ini", "GET /ctl.ini"])

    def test_download_url_naming_no_plain_file_gives_no_update(self):
        # The package's file name comes from the network and is joined to the temp folder:
        # anything but a plain file name is refused, even though the revision is newer.
        # ":" and "\\" never reach the name: the shell's file-name helper splits at them too.
        bad_names = ["", ".", "..", "a<b.exe", "a>b.exe", 'a"b.exe', "a|b.exe", "a?b.exe",
                     "a*b.exe", "a\\tb.exe", "CON", "nul.exe", "COM1.exe", "lpt1"]
        for name in bad_names:
            with self.subTest(name=name), Scenario(self.build) as s:
                s.install(revision=5)
                url = "http://127.0.0.1:9/pkg/" + name
                s.serve("ctl.ini", control_file(revision=9, download_url=url))
                self.check(s, False)

    def test_plain_package_name_still_offers_the_update(self):
        # The counterpart of the refusals above: an ordinary name passes.
        with Scenario(self.build) as s:
            s.install(revision=5)
            s.serve("ctl.ini", control_file(revision=9,
                                            download_url="http://127.0.0.1:9/pkg/KVSetup-2.exe"))
            self.check(s, True)


if __name__ == "__main__":
    harness.main()
