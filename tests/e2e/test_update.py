"""The whole update as a user drives it: Yes, the download, the package check, the staging and
the hand-over to the new wizard, with real packages made by morvane-pack and signed by the test
PKI, served on loopback, and the stub wizard in both roles (local and new).

    python3 tests/e2e/test_update.py <build folder>
"""

import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Scenario, read_marker, wait_for, wine_path  # noqa: E402
from packages import make_crl, make_signer, sign  # noqa: E402
from dialog_driver import CANCEL, NO, PICTURE, SIZE, YES, drive, read_state, screenshot  # noqa: E402
from update_scenario import (FOLDER, PACKAGE, TEXTS, UpdateTest, animated_gif, offer,  # noqa: E402
                             package_requests)


class Success(UpdateTest):

    def test_yes_downloads_checks_stages_and_hands_over_to_the_new_wizard(self):
        with Scenario(self.build) as s:
            s.install()
            animated_gif(os.path.join(s.res, "English", "Morvane.gif"))
            offer(s, url_prefix="slow/", filler_files=3000)
            with s.start() as run:
                self.assertAskLook(read_state(run), TEXTS)
                screenshot(self.build, "update-1-ask")
                state = self.click_and_wait(run, YES, "shown", PICTURE)
                self.assertDownloadingLook(state)
                self.assertTrue(state["controls"][CANCEL]["enabled"])
                screenshot(self.build, "update-2-downloading")
                code, out = drive(run, "disabled", CANCEL)
                self.assertEqual(code, 0, out)
                screenshot(self.build, "update-3-staging")
                self.assertHandedOver(s, run, s.temp_dir)
            self.assertEqual(len(package_requests(s)), 1)

    def test_quoted_paths_in_a_temp_folder_with_a_space_and_no_animation_file(self):
        """Unquoted, "<root>\\tmp dir\\..." would start a planted "<root>\\tmp.exe" first."""
        with Scenario(self.build) as s:
            s.install()
            os.remove(os.path.join(s.res, "English", "Morvane.gif"))
            temp_dir = os.path.join(s.root, "tmp dir")
            os.makedirs(temp_dir)
            shutil.copy(s.build.stub_wizard, os.path.join(s.root, "tmp.exe"))
            offer(s, url_prefix="slow/")
            with s.start(temp=wine_path(temp_dir)) as run:
                state = self.click_and_wait(run, YES, "shown", CANCEL)
                self.assertDownloadingLook(state, picture=None)
                self.assertHandedOver(s, run, temp_dir)
            planted = wine_path(os.path.join(s.root, "tmp.exe")).lower()
            self.assertNotIn(planted, [w.module.lower() for w in read_marker(s.marker)])


    def test_files_left_in_the_extracted_folder_never_run_beside_the_new_wizard(self):
        """A version.dll (which the wizard's user32 would load from its own folder) and another
        KVWizard.exe left in %TEMP%\\<folder> before Yes: the update unpacks in its own work
        folder, so the new wizard runs from what the package brought alone, and the user's
        folder is not Morvane's to touch."""
        with Scenario(self.build) as s:
            s.install()
            offer(s)
            planted = os.path.join(s.temp_dir, FOLDER)
            os.makedirs(planted)
            with open(os.path.join(planted, "version.dll"), "wb") as f:
                f.write(b"MZ planted, and no library")
            with open(s.build.unsigned_stub_wizard, "rb") as stub, \
                    open(os.path.join(planted, "KVWizard.exe"), "wb") as f:
                f.write(stub.read() + b"PLANTED")
            with s.start() as run:
                self.assertEqual(drive(run, "click", YES)[0], 0)
                self.assertHandedOver(s, run, s.temp_dir, leftovers=[FOLDER])
            self.assertEqual(sorted(os.listdir(planted)), ["KVWizard.exe", "version.dll"])
            self.assertNotIn(wine_path(os.path.join(planted, "KVWizard.exe")).lower(),
                             [w.module.lower() for w in read_marker(s.marker)])

    def test_installation_media_at_a_drive_root_with_a_temp_that_ends_in_a_backslash(self):
        """Morvane and the wizard at the root of a drive: the paths of the installation have
        single backslashes, the staging completes, and the wizard's argument reads back as the
        root itself (quoted as /PATH="M:\\\\", which CommandLineToArgvW reads as /PATH=M:\\)."""
        with Scenario(self.build) as s:
            s.install()
            offer(s)
            with s.drive_letter(s.app_dir) as root, \
                    s.start(app=root, temp=wine_path(s.temp_dir) + "\\") as run:
                self.assertEqual(drive(run, "click", YES)[0], 0)
                start = self.new_wizard_start(s, s.temp_dir)
                self.assertTrue(start.command_line.strip().endswith(' /PATH="%s\\"' % root),
                                start.command_line)
                work = harness.work_folder_path(s.work_parent, start.module)
                with open(os.path.join(work, FOLDER, "res", "kavro.ini"), "rb") as f:
                    self.assertTrue(f.read(), "the res tree came from the drive's root")
                run.finish(timeout=120)
            self.assertEqual(os.listdir(s.temp_dir), [], run.trail)


class SizeBound(UpdateTest):
    """Size= in the control file: the asking view shows it, and a server that sends more than it
    says, or a body without length or end, ends in the failed view with nothing kept."""

    def test_a_body_longer_than_size_or_without_end_is_stopped_at_the_size(self):
        for name, prefix in (("more than Size=", "nolength/0/"), ("no length, no end", "endless/")):
            with self.subTest(name), Scenario(self.build) as s:
                s.install()
                path = offer(s)
                size = os.path.getsize(path)
                with open(path, "ab") as f:
                    f.write(os.urandom(200000))  # what the server sends beyond the package
                s.serve("ctl.ini", harness.control_file(
                    revision=6, download_url=s.control.url(prefix + "pkg/" + PACKAGE))
                    + b"Size=%d\r\n" % size)
                with s.start() as run:
                    c = read_state(run)["controls"]
                    self.assertTrue(c[SIZE]["visible"])
                    self.assertRegex(c[SIZE]["text"], r"^\d+([.,]\d+)? ?[A-Za-z]+$")
                    state = self.click_and_wait(run, YES, "hidden", PICTURE)
                    self.assertFailedLook(state)
                    self.assertEqual(drive(run, "click", NO)[0], 0)
                    run.finish()
                stopped = [l for l in run.trail if l.startswith("download: refused, the body")]
                self.assertEqual(len(stopped), 1, run.trail)
                # Stopped at the first read past the size; nothing of it was written, and the
                # partial file is gone.
                taken = int(stopped[0].split(" says ")[1].split()[0])
                self.assertLessEqual(taken, size + 64 * 1024, stopped[0])
                self.assertIn("Size= says %d" % size, stopped[0])
                self.assertFalse(os.path.exists(os.path.join(s.temp_dir, PACKAGE)))


class Failures(UpdateTest):

    def fail_retry_and_decline(self, s, why, picture=None):
        """Yes ends in the failed view; Retry fetches the package again and fails again; No
        opens the local wizard."""
        # Entering the failed view hides the picture last: once it is hidden, the view is whole.
        with s.start() as run:
            state = self.click_and_wait(run, YES, "hidden", PICTURE)
            self.assertFailedLook(state)
            if picture:
                screenshot(self.build, picture)
            before = len(package_requests(s))
            state = self.click_and_wait(run, YES, "hidden", PICTURE)
            self.assertFailedLook(state)
            self.assertEqual(len(package_requests(s)), before + 1, "Retry downloads again")
            # What the failed view leaves in the work folder, for Retry; it goes at the end.
            run.work_files = [os.path.basename(f) for f in harness.work_files(s.work_parent)]
            self.assertEqual(drive(run, "click", NO)[0], 0)
            run.finish()
        self.assertEqual(harness.work_folders(s.work_parent), [], run.trail)
        self.assertIn(why, run.trail)
        # A package made from the stub wizard records its own runs; only wizards count here.
        run.wizard_starts = [w for w in run.wizard_starts if not w.module.endswith(PACKAGE)]
        self.assertWizardStartedOnceFromApp(run, s)
        return run

    def test_each_failure_shows_the_failed_view_with_retry_and_no(self):
        def unsigned(s):
            offer(s, signer=None)

        def other_signer(s):
            offer(s, signer="other")

        def tampered(s):
            path = offer(s)
            with open(path, "r+b") as f:
                f.seek(os.path.getsize(path) // 3)
                byte = f.read(1)
                f.seek(-1, 1)
                f.write(bytes([byte[0] ^ 0x40]))

        def not_found(s):
            offer(s, url_prefix="404/")

        def signed_library(s):
            # A signed library under the package's name: trusted, but no package of ours.
            path = offer(s)
            shutil.copy(os.path.join(s.build.fixtures, "pki", "signed-dekavroline.dll"), path)

        def makers_wizard(s):
            # Another program the maker signed (here its wizard, whose window would stop
            # answering) served as the package: it says nothing of what it is, so it never runs.
            path = offer(s)
            shutil.copy(s.build.stub_wizard, path)
            sign(s.build, path)
            with open(os.path.join(s.temp_dir, "wizard-mode.txt"), "w") as f:
                f.write("hungwindow\n")

        def revoked_signer(s):
            # A signer of the maker's name, revoked on the CRL its certificate points at.
            folder = os.path.join(s.root, "signers")
            signer = make_signer(s.build, folder, "revoked", "Dekavroline Revoked",
                                 s.control.url("crl/root.crl"))
            os.makedirs(os.path.join(s.www, "crl"))
            make_crl(s.build, folder, [signer], os.path.join(s.www, "crl", "root.crl"))
            offer(s, signer=signer)

        def deep_exe_path(s):
            offer(s, exe_path="Not\\Made\\KVWizard.exe")

        # What each failure is, as the trail's one "failure:" line gives it.
        wizard_refused = "failure: wizard/wizard-refused"
        bad_signature = "failure: check/bad-signature"
        not_the_offer = "failure: check/not-the-offer"
        # A 404 is a failed download: its error page is never taken for the package.
        rows = {"404": (not_found, "failure: download/server-error"),
                "unsigned": (unsigned, bad_signature),
                "another signer": (other_signer, "failure: check/other-signer"),
                "tampered": (tampered, bad_signature),
                "revoked signer": (revoked_signer, "failure: check/signer-revoked"),
                "a signed library": (signed_library, not_the_offer),
                "the maker's signed wizard": (makers_wizard, not_the_offer),
                "ExePath two levels the package did not make": (deep_exe_path, not_the_offer),
                # The new wizard runs elevated: judged like the package, never run unjudged.
                "unsigned wizard": (lambda s: offer(s, wizard_signer=None), wizard_refused),
                "wizard of another signer": (lambda s: offer(s, wizard_signer="other"),
                                             wizard_refused),
                "wizard that is no program": (
                    lambda s: offer(s, wizard_bytes=b"not a program", wizard_signer=None),
                    wizard_refused)}
        for name, (prepare, why) in rows.items():
            with self.subTest(name), Scenario(self.build) as s:
                s.install()
                prepare(s)
                self.last_run = self.fail_retry_and_decline(
                    s, why, picture="update-4-failed" if name == "another signer" else None)
                # A refused package must not wait under a name the network chose, and a failed
                # download leaves none; one that passed its check and then failed to stage
                # stays for Retry.
                run = self.last_run
                kept = PACKAGE in run.work_files
                refused_or_missing = why.startswith(("failure: check/", "failure: download/"))
                self.assertEqual(kept, not refused_or_missing,
                                 "the package's file after the failure")
                if why == wizard_refused:
                    self.assertEqual(run.work_files, [PACKAGE],
                                     "the folder of a refused wizard goes")
                    self.assertFalse(any(w.module.lower().startswith(
                        harness.WORK_PARENT.lower()) for w in read_marker(s.marker)),
                        "a refused wizard never runs")

    def test_new_wizard_that_dies_while_loading_still_cleans_up_then_opens_the_local_one(self):
        """An invalid version.dll beside the wizard (its user32 takes it from the wizard's own
        folder) stops it before its first line: it was not started, so the user gets the local
        one after the clean-up."""
        with Scenario(self.build) as s:
            s.install()
            offer(s, extra={"version.dll": b"MZ not a library"})
            with s.start() as run:
                self.assertEqual(drive(run, "click", YES)[0], 0)
                run.finish()
            self.assertWizardStartedOnceFromApp(run, s)
            self.assertEqual(os.listdir(s.temp_dir), [])
            self.assertIn("hand-over: starting the local wizard instead", run.trail)

    def test_cancel_during_a_stalled_download_opens_the_local_wizard_and_ends(self):
        with Scenario(self.build) as s:
            s.install()
            offer(s, url_prefix="stall/")
            with s.start() as run:
                state = self.click_and_wait(run, YES, "shown", CANCEL)
                self.assertDownloadingLook(state)
                self.assertTrue(wait_for(lambda: package_requests(s), timeout=60))
                self.assertEqual(drive(run, "click", CANCEL)[0], 0)
                # The server still holds the download open: the worker is blocked in it.
                run.finish(timeout=120)
            self.assertWizardStartedOnceFromApp(run, s)


if __name__ == "__main__":
    harness.main()
