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
from harness import (DIALOG_WAIT_MS, UI_TEXTS, Scenario, ScenarioTest, read_marker,  # noqa: E402
                     wait_for, wine_path)
from packages import make_crl, make_package, make_signer, sign  # noqa: E402
from dialog_driver import (CANCEL, MESSAGE, NO, PICTURE, SIZE, YES, DialogTest, drive,  # noqa: E402
                           read_state, screenshot)

TEXTS = UI_TEXTS["English"]
FOLDER = "KVNew"
PACKAGE = "KVSetup.exe"
# Appended to the packaged wizard, so the one the package brought can be told from the local one.
PACKAGED_MARK = b"MORVANE-PACKAGED-WIZARD"
WIZARD_RUN_MS = 6000


def packaged_tree(s, wizard=True, wizard_bytes=None, filler_files=0, filler_bytes=0,
                  mode="window:%d" % WIZARD_RUN_MS, wizard_signer="dekavroline", extra=None):
    """The folder a package carries: the wizard (marked, in the stub's `mode`, by default
    running WIZARD_RUN_MS with a window, signed by `wizard_signer` unless that is None), one
    res file of its own that the staging must leave alone, filler files that make the
    extraction last long enough to be seen, one file of filler_bytes of noise that makes the
    package that large, and `extra` files ({name: bytes}) beside the wizard."""
    src = os.path.join(s.root, "package-src")
    shutil.rmtree(src, ignore_errors=True)
    os.makedirs(os.path.join(src, "res", "English"))
    if wizard:
        wizard_path = os.path.join(src, "KVWizard.exe")
        with open(wizard_path, "wb") as f:
            if wizard_bytes is None:
                with open(s.build.unsigned_stub_wizard, "rb") as stub:
                    wizard_bytes = stub.read() + PACKAGED_MARK
            f.write(wizard_bytes)
        # The wizard runs elevated and is judged like the package: the maker signs it (the
        # mark stays inside what the signature covers).
        if wizard_signer:
            sign(s.build, wizard_path, wizard_signer)
        with open(os.path.join(src, "wizard-mode.txt"), "w") as f:
            f.write(mode + "\n")
    with open(os.path.join(src, "res", "English", "uistrings.ini"), "wb") as f:
        f.write(b"; the package's own copy\r\n")
    for name, data in (extra or {}).items():
        with open(os.path.join(src, name), "wb") as f:
            f.write(data)
    if filler_files or filler_bytes:
        os.makedirs(os.path.join(src, "data"))
    if filler_bytes:
        with open(os.path.join(src, "data", "noise.bin"), "wb") as f:
            f.write(os.urandom(filler_bytes))
    for i in range(filler_files):
        with open(os.path.join(src, "data", "file%05d.dat" % i), "wb") as f:
            f.write(os.urandom(64))
    return src


def animated_gif(path):
    """A 16x16 GIF of three coloured frames, drawn by ImageMagick, so the screenshots show it."""
    subprocess.run(["convert", "-delay", "40", "-size", "16x16", "xc:#1f6feb", "xc:#2da44e",
                    "xc:#d29922", "-loop", "0", path], check=True, timeout=60)


def offer(s, url_prefix="", signer="dekavroline", exe_path=FOLDER + "\\KVWizard.exe", url=None,
          revision=6, packed_section="KV-1000", packed_revision=6, packed_folder=FOLDER, **tree):
    """Packs, signs and serves a package (which says it is revision packed_revision of
    packed_section), and a control file offering it as `revision` (at `url`, or on the control
    server under url_prefix)."""
    path = os.path.join(s.www, "pkg", PACKAGE)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    make_package(s.build, packaged_tree(s, **tree), packed_folder, path, signer=signer,
                 section=packed_section, revision=packed_revision)
    url = url or s.control.url(url_prefix + "pkg/" + PACKAGE)
    s.serve("ctl.ini", harness.control_file(revision=revision, download_url=url,
                                            exe_path=exe_path))
    return path


def package_requests(s):
    return [r for r in s.control.requests() if r.startswith("GET") and r.endswith(PACKAGE)]


class UpdateTest(DialogTest):

    def assertDownloadingLook(self, state, picture=True):
        """picture=None: the picture's look is not judged (without an animation file it keeps
        the template's)."""
        c = state["controls"]
        self.assertEqual(c[MESSAGE]["text"], TEXTS["MessageDownload"])
        self.assertFalse(c[YES]["visible"])
        self.assertFalse(c[NO]["visible"])
        self.assertEqual((c[CANCEL]["text"], c[CANCEL]["visible"]), (TEXTS["CancelBtn"], True))
        if picture is not None:
            self.assertEqual(c[PICTURE]["visible"], picture)

    def assertFailedLook(self, state):
        c = state["controls"]
        self.assertEqual(c[MESSAGE]["text"], TEXTS["DownloadError"])
        self.assertEqual((c[YES]["text"], c[YES]["visible"]), (TEXTS["RetryBtn"], True))
        self.assertEqual((c[NO]["text"], c[NO]["visible"]), (TEXTS["NoBtn"], True))
        self.assertFalse(c[CANCEL]["visible"])
        self.assertFalse(c[PICTURE]["visible"])

    def click_and_wait(self, run, button, until, control):
        code, out = drive(run, "click", button, until, control)
        self.assertEqual(code, 0, out)
        return read_state(run)

    def new_wizard_start(self, s, temp_dir):
        """The marker's start of the wizard inside the extracted folder, once it has one."""
        expected = harness.in_work_folder(FOLDER, "KVWizard.exe")
        found = []

        def started():
            found[:] = [w for w in read_marker(s.marker) if expected.fullmatch(w.module.lower())]
            return bool(found)
        self.assertTrue(wait_for(started, timeout=120), read_marker(s.marker))
        return found[0]

    def assertHandedOver(self, s, run, temp_dir, leftovers=()):
        """The new wizard started once with the exact command line and a completed folder; the
        program ended after it and three more seconds, having removed the folder and the
        package and nothing else."""
        start = self.new_wizard_start(s, temp_dir)
        extracted = os.path.join(harness.work_folder_path(s.work_parent, start.module), FOLDER)
        expected_cmd = '"%s" /PATH="%s"' % (
            harness.work_wine_path(s.work_parent, os.path.join(extracted, "KVWizard.exe")),
            wine_path(s.app_dir))
        self.assertEqual(start.command_line.strip(), expected_cmd)
        # While the wizard runs: the package's own files stay as they came, missing ones were
        # copied from the application folder.
        with open(os.path.join(extracted, "KVWizard.exe"), "rb") as f:
            self.assertIn(PACKAGED_MARK, f.read(), "the packaged wizard was replaced")
        with open(os.path.join(extracted, "res", "English", "uistrings.ini"), "rb") as f:
            self.assertEqual(f.read(), b"; the package's own copy\r\n")
        for folder, _, files in os.walk(s.res):
            for name in files:
                relative = os.path.relpath(os.path.join(folder, name), s.res)
                self.assertTrue(os.path.isfile(os.path.join(extracted, "res", relative)), relative)
        run.finish()
        ended_ms = time.time() * 1000
        self.assertEqual(run.exit_code, 0)
        self.assertGreaterEqual(ended_ms - start.time_ms, WIZARD_RUN_MS + 3000 - 500)
        self.assertEqual([w.module for w in run.wizard_starts], [start.module],
                         "exactly the new wizard, once")
        self.assertTrue(os.path.isdir(temp_dir), "the temporary folder itself stays")
        self.assertEqual(sorted(os.listdir(temp_dir)), sorted(leftovers))
        self.assertTrue(any(line.startswith("package check: accepted, signed by")
                            for line in run.trail), run.trail)
        self.assertTrue(any(line.startswith("work folder: ") and line.endswith(" removed")
                            for line in run.trail), run.trail)


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
