"""Start-up decision and the settings chain, whole program under Wine.

Every row of the decision: offline, no newer revision, newer revision (the dialog, no wizard),
an unsupported system; every failure of the settings chain (it ends in the dialog without a
wizard and without fetching the control file); and a second copy while one runs.
"""

import os
import shutil

import harness
from dialog_driver import dialog_message
from harness import ScenarioTest, Scenario, control_file, wine_path


class Decision(ScenarioTest):

    def test_no_newer_revision_starts_local_wizard_from_app_folder(self):
        with Scenario(self.build) as s:
            s.install(revision=6)
            s.serve("ctl.ini", control_file(revision=6))
            run = s.run()
            self.assertTrue(run.tree_done, "launcher could not follow the wizard")
            start = self.assertWizardStartedOnceFromApp(run, s)
            self.assertEqual(s.control.requests(), ["GET /ctl.ini"])
            # The probe reached the support server; no HTTP request was needed for it.
            self.assertIn("CONNECT", s.support.requests())
            self.assertEqual(run.temp_files, [], "the control file's local copy must be gone")
            self.assertGreater(start.pid, 0)

    def test_offline_with_newer_revision_still_starts_local_wizard(self):
        # No support server: the connectivity probe fails. The check still runs, but its
        # answer has no effect.
        with Scenario(self.build, online=False) as s:
            s.install(revision=5)
            s.serve("ctl.ini", control_file(revision=9))
            run = s.run()
            self.assertWizardStartedOnceFromApp(run, s)
            self.assertEqual(s.control.requests(), ["GET /ctl.ini"])
            self.assertEqual(run.temp_files, [])

    def test_newer_revision_online_shows_dialog_and_no_wizard(self):
        with Scenario(self.build) as s:
            s.install(revision=5)
            s.serve("ctl.ini", control_file(revision=6))
            run = s.run_expecting_dialog()
            self.assertEqual(dialog_message(run), "A newer version is available.\nUpdate now?")
            self.assertNoWizard(run)
            self.assertEqual(s.control.requests(), ["GET /ctl.ini"])
            self.assertEqual(run.temp_files, [])

    def test_system_below_minimum_shows_dialog_without_check(self):
        # Wine reports 6.1; a minimum major of 7 is above it.
        with Scenario(self.build) as s:
            s.install(kavro={"ProductName": "Kavro Demo", "OSMajor": "7", "OSMinor": "0",
                             "SPMajor": "0"})
            s.serve("ctl.ini", control_file(revision=9))
            run = s.run_expecting_dialog()
            self.assertEqual(dialog_message(run), "This system is not supported.")
            self.assertNoWizard(run)
            self.assertNoControlRequest(s)


class SettingsChain(ScenarioTest):
    """A failing step stops the chain: dialog (unsupported state), no wizard, no control file."""

    # The message shown: empty until the UI strings have been read, which happens late.
    OS_MESSAGE = "This system is not supported."
    CASES = {
        "kavro.ini missing": dict(remove="res/kavro.ini", message=""),
        "no language folder at all": dict(remove="res/English", message=""),
        "no language.ini nor language1.ini": dict(install=dict(language_file=None), message=""),
        "no uistrings.ini nor uistrings1.ini": dict(install=dict(uistrings_file=None), message=""),
        "empty InstallerCtlFile": dict(install=dict(ctl_name=""), message=""),
        "no DRVNAME and no driver information file": dict(install=dict(drvname=""),
                                                          message=OS_MESSAGE),
    }

    def test_each_failing_step_ends_in_dialog_without_wizard(self):
        for name, case in self.CASES.items():
            with self.subTest(name), Scenario(self.build) as s:
                s.install(**case.get("install", {}))
                path = os.path.join(s.app_dir, case.get("remove", "-"))
                if os.path.isdir(path):
                    shutil.rmtree(path)
                elif os.path.exists(path):
                    os.remove(path)
                s.serve("ctl.ini", control_file(revision=9))
                run = s.run_expecting_dialog()
                self.assertEqual(dialog_message(run), case["message"])
                self.assertNoWizard(run)
                self.assertNoControlRequest(s)

    def test_fallback_files_are_read_when_the_first_is_missing(self):
        with Scenario(self.build) as s:
            s.install(language_file="language1.ini", uistrings_file="uistrings1.ini", revision=6)
            s.serve("ctl.ini", control_file(revision=6))
            run = s.run()
            self.assertWizardStartedOnceFromApp(run, s)
            self.assertEqual(s.control.requests(), ["GET /ctl.ini"])

    def test_driver_name_from_driver_information_file(self):
        # DRVNAME empty in the language settings: the .kif under the folder chosen by Bicon
        # names the section. Only that section offers a newer revision, so the dialog shows.
        for bicon in (0, 1):
            with self.subTest(bicon=bicon), Scenario(self.build) as s:
                s.install(drvname="", kif="KV-KIF", bicon=bicon, revision=5)
                s.serve("ctl.ini", control_file(revision=9, drvname="KV-KIF"))
                run = s.run_expecting_dialog()
                self.assertEqual(dialog_message(run), "A newer version is available.\nUpdate now?")
                self.assertNoWizard(run)
                self.assertEqual(s.control.requests(), ["GET /ctl.ini"])

    def test_driver_information_file_in_the_other_folder_is_not_found(self):
        with Scenario(self.build) as s:
            s.install(drvname="", bicon=1)
            s.add_driver_info("KV-KIF", bicon=0)  # Common\..., searched only when Bicon is 0
            run = s.run_expecting_dialog()
            self.assertEqual(dialog_message(run), SettingsChain.OS_MESSAGE)
            self.assertNoWizard(run)
            self.assertNoControlRequest(s)


class SecondCopy(ScenarioTest):

    def test_second_copy_ends_at_once_without_network_or_wizard(self):
        with Scenario(self.build) as s:
            # The first copy is offered an update and waits in its dialog for as long as it is
            # left open (a stalled control file would only hold it until its network deadline).
            s.install(revision=5)
            s.serve("ctl.ini", control_file(revision=6))
            first = s.start()
            self.assertEqual(first.ui("state", harness.DIALOG_WAIT_MS)[0], 0,
                             "the first copy shows no dialog")
            support_before = len(s.support.requests())

            # "At once": well inside the time a whole run may take on a loaded machine.
            second = s.start().finish(timeout=90)
            self.assertNotEqual(second.pid, first.pid)
            self.assertTrue(first.running, "the first copy must still be running")
            self.assertNoWizard(second)
            self.assertEqual(s.control.requests(), ["GET /ctl.ini"])
            self.assertEqual(len(s.support.requests()), support_before,
                             "the second copy probed the support server")

            self.assertEqual(first.ui("close")[0], 0)
            first.finish()
            self.assertNoWizard(first)

if __name__ == "__main__":
    harness.main()
