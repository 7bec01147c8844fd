"""Folders and language: the user's locale (LANG for Wine) picks the language folder, with the
English-then-Spanish fallbacks; the temporary folder comes from TEMP, else TMP.

Each language folder's language.ini points at a control file of its own name, so the control
server's request log shows which folder decided."""

import os

import harness
from dialog_driver import dialog_message
from harness import ScenarioTest, Scenario, control_file, wine_path


class LanguageChoice(ScenarioTest):

    def run_with(self, lang, folders):
        with Scenario(self.build) as s:
            s.install(languages=())
            for folder in folders:
                s.add_language(folder, revision=5, ctl_name="ctl-%s.ini" % folder)
                s.serve("ctl-%s.ini" % folder, control_file(revision=5))
            run = s.run(lang=lang)
            self.assertWizardStartedOnceFromApp(run, s)
            return [r.split("/ctl-")[-1][:-4] for r in s.control.requests()]

    def test_locale_and_fallbacks_pick_the_folder(self):
        every = harness.LANGUAGES
        # (LANG, folders present, folder whose settings decide)
        cases = [
            ("de_DE.UTF-8", every, "English"),        # no German folder: English
            ("fr_CA.UTF-8", every, "French"),         # any French locale: French
            ("pt_BR.UTF-8", every, "Portuguese"),
            ("es_MX.UTF-8", every, "Spanish"),
            ("en_GB.UTF-8", every, "English"),
            ("fr_FR.UTF-8", ("English", "Spanish"), "English"),  # French missing: English
            ("fr_FR.UTF-8", ("Spanish",), "Spanish"),            # then Spanish
            ("en_US.UTF-8", ("Spanish", "Portuguese"), "Spanish"),
        ]
        for lang, folders, expected in cases:
            with self.subTest(lang=lang, folders=folders):
                self.assertEqual(self.run_with(lang, folders), [expected])

    def test_non_ascii_ui_texts_reach_the_dialog(self):
        # uistrings.ini in UTF-16LE with a BOM; an update opens the dialog with its texts.
        with Scenario(self.build) as s:
            s.install(languages=("English", "French"), revision=5)
            s.serve("ctl.ini", control_file(revision=6))
            run = s.run_expecting_dialog(lang="fr_CA.UTF-8")
            self.assertEqual(dialog_message(run), harness.UI_TEXTS["French"]["MessageUpdate"])
            self.assertNoWizard(run)

    def test_a_file_named_like_the_folder_does_not_count(self):
        with Scenario(self.build) as s:
            s.install(languages=("English",), ctl_name="ctl-English.ini", revision=5)
            s.serve("ctl-English.ini", control_file(revision=5))
            with open(os.path.join(s.res, "French"), "w") as f:
                f.write("not a folder")
            run = s.run(lang="fr_FR.UTF-8")
            self.assertWizardStartedOnceFromApp(run, s)
            self.assertEqual(s.control.requests(), ["GET /ctl-English.ini"])


class TemporaryFolder(ScenarioTest):

    def test_tmp_is_used_when_temp_is_unset(self):
        with Scenario(self.build) as s:
            s.install(revision=5)
            s.serve("ctl.ini", control_file(revision=5))
            other = os.path.join(s.root, "tmp-only")
            os.makedirs(other)
            run = s.run(temp=None, tmp=wine_path(other))
            self.assertWizardStartedOnceFromApp(run, s)
            self.assertEqual(s.control.requests(), ["GET /ctl.ini"])
            self.assertEqual(os.listdir(other), [])

    def test_neither_temp_nor_tmp_stops_start_up(self):
        with Scenario(self.build) as s:
            s.install(revision=5)
            s.serve("ctl.ini", control_file(revision=9))
            run = s.run_expecting_dialog(temp=None, tmp=None)
            self.assertEqual(dialog_message(run), "")
            self.assertNoWizard(run)
            self.assertNoControlRequest(s)

    def test_temp_folder_that_does_not_exist_gives_no_update(self):
        with Scenario(self.build) as s:
            s.install(revision=5)
            s.serve("ctl.ini", control_file(revision=9))
            run = s.run(temp=wine_path(os.path.join(s.root, "no-such-folder")))
            self.assertWizardStartedOnceFromApp(run, s)
            self.assertNoControlRequest(s)


if __name__ == "__main__":
    harness.main()
