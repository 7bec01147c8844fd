"""The update dialog as a user sees and drives it: Morvane.exe under Wine, the UI driver's
reads and clicks, the stub wizard's record of what was started, screenshots as artifacts.

    python3 tests/e2e/test_dialog.py <build folder>
"""

import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from dialog_driver import (CANCEL, MESSAGE, NO, PICTURE, PRODUCT, SIZE, YES, DialogTest,  # noqa: E402
                           drive, read_state, screenshot)
from harness import LOCALES, UI_TEXTS, Scenario, screen_dpi, wine_path  # noqa: E402

DOWNLOADING, STAGING, FAILED = 3, 4, 5


class UnsupportedSystem(DialogTest):

    def test_message_and_one_close_button_that_closes_and_starts_nothing(self):
        texts = UI_TEXTS["English"]
        with Scenario(self.build, online=False) as s:
            with self.start_unsupported(s) as run:
                state = read_state(run)
                self.assertEqual(state["title"], "Kavro Demo Update")
                self.assertUnsupportedLook(state, texts)
                screenshot(self.build, "unsupported-English")
                # Clicks sent to the hidden Yes and No do nothing in this state.
                self.assertEqual(drive(run, "click", YES, "click", NO)[0], 0)
                after = read_state(run, 5000)
                self.assertEqual(after["controls"], state["controls"])
                self.assertTrue(after["visible"])
                # Minimised (painted as its icon), it still answers and Close still closes.
                self.assertEqual(drive(run, "minimize")[0], 0)
                self.assertTrue(harness.wait_for(lambda: read_state(run, 5000)["iconic"], 60, 0.5))
                self.assertEqual(drive(run, "click", CANCEL)[0], 0)
                self.assertEnded(run, s)
            self.assertNoWizard(run)
            self.assertNoControlRequest(s)

    def test_french_texts_with_escapes_then_close_box_or_escape_start_nothing(self):
        texts = dict(UI_TEXTS["French"],
                     MessageOSCap="Syst\u00e8me non pris en charge.\\r\\n\\tVersion minimale : "
                                  "\u00ab Windows 99 \u00bb.",
                     CloseBtn="Fermer \u00e7a")
        for how in ("close box", "escape"):
            with self.subTest(how=how), Scenario(self.build, online=False) as s:
                with self.start_unsupported(s, "French", texts) as run:
                    state = read_state(run)
                    self.assertEqual(state["title"], "Mise \u00e0 jour de Kavro Demo")
                    self.assertUnsupportedLook(state, texts)
                    if how == "close box":
                        screenshot(self.build, "unsupported-French")
                    self.end_with(run, how)
                    self.assertEnded(run, s)
                self.assertNoWizard(run)


class AskState(DialogTest):

    def test_yes_and_no_then_no_hides_the_dialog_and_opens_the_local_wizard(self):
        texts = UI_TEXTS["English"]
        with Scenario(self.build) as s:
            with self.start_asking(s) as run:
                state = read_state(run)
                self.assertEqual(state["title"], "Kavro Demo Update")
                self.assertAskLook(state, texts)
                screenshot(self.build, "ask-English")
                # The hidden Cancel does nothing while the dialog asks.
                self.assertEqual(drive(run, "click", CANCEL)[0], 0)
                after = read_state(run, 5000)
                self.assertEqual(after["controls"], state["controls"])
                self.assertEqual(drive(run, "click", NO)[0], 0)
                self.assertEnded(run, s)
            self.assertWizardStartedOnceFromApp(run, s)
            self.assertEqual(len(s.control.requests()), 1, s.control.requests())

    def test_each_language_shown_as_written_and_ending_without_choice_starts_nothing(self):
        french = dict(UI_TEXTS["French"],
                      MessageUpdate="Une version plus r\u00e9cente existe.\\r\\n\\tVoulez-vous "
                                    "la t\u00e9l\u00e9charger maintenant ?")
        cases = [
            ("French", french, "escape", "Mise \u00e0 jour de Kavro Demo"),
            ("Spanish", UI_TEXTS["Spanish"], "close box", "Actualizaci\u00f3n de Kavro Demo"),
            ("Portuguese", UI_TEXTS["Portuguese"], "escape", "Atualiza\u00e7\u00e3o do Kavro Demo"),
        ]
        for language, texts, how, title in cases:
            with self.subTest(language=language, how=how), Scenario(self.build) as s:
                with self.start_asking(s, language, texts) as run:
                    state = read_state(run)
                    self.assertEqual(state["title"], title)
                    self.assertAskLook(state, texts)
                    if language == "French":
                        screenshot(self.build, "ask-French")
                    self.end_with(run, how)
                    self.assertEnded(run, s)
                self.assertNoWizard(run)


class LaterStates(DialogTest):
    """The states the download and staging results enter, on the real dialog in dialog_host.exe
    (the update dialog outside start-up, walked through the given states)."""

    def start_host(self, s, states):
        s.install()
        shutil.copy(os.path.join(self.build.fixtures, "dialog_host.exe"), s.app_dir)
        return s.start(program="dialog_host.exe",
                       env={"MORVANE_HOST_STATES": " ".join(str(n) for n in states)})

    def test_downloading_after_a_failure_shows_cancel_enabled_and_the_picture_again(self):
        texts = UI_TEXTS["English"]
        with Scenario(self.build, online=False) as s:
            with self.start_host(s, [DOWNLOADING, STAGING, FAILED, DOWNLOADING]) as run:
                c = read_state(run)["controls"]
                self.assertEqual(c[MESSAGE]["text"], texts["MessageDownload"])
                self.assertFalse(c[YES]["visible"])
                self.assertFalse(c[NO]["visible"])
                self.assertEqual((c[CANCEL]["text"], c[CANCEL]["visible"], c[CANCEL]["enabled"]),
                                 (texts["CancelBtn"], True, True))
                self.assertTrue(c[PICTURE]["visible"])
                self.assertEqual(drive(run, "click", CANCEL)[0], 0)
                self.assertEnded(run, s)
            self.assertWizardStartedOnceFromApp(run, s)

    def test_staging_shows_cancel_disabled_and_inert(self):
        texts = UI_TEXTS["English"]
        with Scenario(self.build, online=False) as s:
            with self.start_host(s, [DOWNLOADING, STAGING]) as run:
                state = read_state(run)
                c = state["controls"]
                self.assertEqual(c[MESSAGE]["text"], texts["MessageDownload"])
                self.assertEqual((c[CANCEL]["text"], c[CANCEL]["visible"], c[CANCEL]["enabled"]),
                                 (texts["CancelBtn"], True, False))
                self.assertCleanLook(state)
                self.assertEqual(drive(run, "click", CANCEL, "click", NO, "click", YES)[0], 0)
                self.assertEqual(read_state(run, 5000)["controls"], c)
                self.end_with(run, "escape")
                self.assertEnded(run, s)
            self.assertNoWizard(run)

    def test_failed_offers_retry_and_no_hides_the_picture_and_no_opens_the_wizard(self):
        texts = UI_TEXTS["English"]
        with Scenario(self.build, online=False) as s:
            with self.start_host(s, [DOWNLOADING, STAGING, FAILED]) as run:
                state = read_state(run)
                c = state["controls"]
                self.assertEqual(c[MESSAGE]["text"], texts["DownloadError"])
                self.assertEqual((c[YES]["text"], c[YES]["visible"]), (texts["RetryBtn"], True))
                self.assertEqual((c[NO]["text"], c[NO]["visible"]), (texts["NoBtn"], True))
                self.assertFalse(c[CANCEL]["visible"])
                self.assertFalse(c[PICTURE]["visible"])
                self.assertCleanLook(state)
                self.assertEqual(drive(run, "click", CANCEL)[0], 0)  # hidden: nothing
                self.assertEqual(read_state(run, 5000)["controls"], c)
                self.assertEqual(drive(run, "click", NO)[0], 0)
                self.assertEnded(run, s)
            self.assertWizardStartedOnceFromApp(run, s)


    def test_text_font_on_the_four_text_controls_and_icons_at_system_sizes(self):
        with Scenario(self.build, online=False) as s:
            report = os.path.join(s.root, "report.txt")
            s.install()
            shutil.copy(os.path.join(self.build.fixtures, "dialog_host.exe"), s.app_dir)
            with s.start(program="dialog_host.exe",
                         env={"MORVANE_HOST_STATES": "",
                              "MORVANE_HOST_REPORT": wine_path(report)}) as run:
                self.assertAskLook(read_state(run), UI_TEXTS["English"])
                self.end_with(run, "close box")
                self.assertEnded(run, s)
            with open(report, encoding="utf-8") as f:
                lines = f.read().splitlines()
        fonts = {line.split(" ", 2)[1]: line.split(" ", 2)[2] for line in lines
                 if line.startswith("font ")}
        # 10 points at the prefix's 96 pixels per inch, DEFAULT_CHARSET.
        for cid in (NO, YES, CANCEL, MESSAGE):
            self.assertEqual(fonts[cid], "Lucida Sans Unicode -13 1", cid)
        # The dialog itself and the picture keep the template's font.
        for cid in ("0", PICTURE):
            self.assertNotIn("Lucida", fonts[cid], cid)
        self.assertIn("icon big 32 32", lines)
        self.assertIn("icon small 16 16", lines)
        self.assertIn("dragicon SAME", lines)


class Title(DialogTest):
    """The title text from the settings is never used as a format: only the first "%s" takes
    the product name and "%%" is one "%"; nothing else in it is a conversion."""

    CASES = [
        ("Plain title, no conversion", PRODUCT, "Plain title, no conversion"),
        ("%s Setup Update", PRODUCT, "Kavro Demo Setup Update"),
        ("%s and %s", PRODUCT, "Kavro Demo and %s"),
        ("%d%n%n%x %p %s: 100%% %", PRODUCT, "%d%n%n%x %p Kavro Demo: 100% %"),
        ("[%s]", "Kavro %n%s 100%%", "[Kavro %n%s 100%%]"),
    ]

    def test_title_rule(self):
        for text, product, expected in self.CASES:
            with self.subTest(text=text, product=product), \
                    Scenario(self.build, online=False) as s:
                texts = dict(UI_TEXTS["English"], TitleUpdate=text)
                with self.start_unsupported(s, texts=texts, product=product) as run:
                    state = read_state(run)
                    self.assertEqual(state["title"], expected)
                    self.assertUnsupportedLook(state, texts)
                    self.assertEqual(drive(run, "click", CANCEL)[0], 0)
                    self.assertEnded(run, s)
                self.assertNoWizard(run)


class Scaling(DialogTest):
    """The dialog on screens of 96, 144 and 192 pixels per inch (LogPixels in the test prefix),
    asking and downloading: the text font follows the scale, the animation keeps its own pixel
    size, centred in the strip left of the message, and no shown control is clipped or lies
    over another. Asking, the package's size shows under the message, its text whole."""

    PICTURE_SIZE = (20, 12)  # not square, so a swapped width and height shows
    PACKAGE_BYTES = 1234567890  # the longest form: three digits and a unit ("1.14 GB")

    def layout(self, dpi, states, language="English"):
        """The host's report: fonts by id, places by id (left, top, right, bottom, visible),
        the client size, the picture's strip and the extents of the texts."""
        with screen_dpi(self.build, dpi), Scenario(self.build, online=False) as s:
            report = os.path.join(s.root, "report.txt")
            s.install(languages=(language,))
            subprocess.run(["convert", "-size", "%dx%d" % self.PICTURE_SIZE, "xc:#1f6feb",
                            os.path.join(s.res, language, "Morvane.gif")], check=True,
                           timeout=60)
            shutil.copy(os.path.join(self.build.fixtures, "dialog_host.exe"), s.app_dir)
            with s.start(program="dialog_host.exe", lang=LOCALES[language],
                         env={"MORVANE_HOST_STATES": states,
                              "MORVANE_HOST_SIZE": str(self.PACKAGE_BYTES),
                              "MORVANE_HOST_REPORT": wine_path(report)}) as run:
                shown = read_state(run)
                self.end_with(run, "close box")
                self.assertEnded(run, s)
            with open(report, encoding="utf-8") as f:
                lines = [line.split(" ") for line in f.read().splitlines()]
        self.shown = shown
        fonts = {l[1]: " ".join(l[2:]) for l in lines if l[0] == "font"}
        places = {l[1]: [int(v) for v in l[2:]] for l in lines if l[0] == "place"}
        client = next([int(v) for v in l[1:]] for l in lines if l[0] == "client")
        strip = next([int(v) for v in l[1:]] for l in lines if l[0] == "strip")
        self.texts = {l[1]: [int(v) for v in l[2:]] for l in lines if l[0] == "text"}
        return fonts, places, client, strip

    def assertSizeShownWhole(self, language):
        """The size is a figure and a unit, and its text fits its control, as the message
        fits its own."""
        size_text = self.shown["controls"][SIZE]["text"]
        self.assertRegex(size_text, r"^1[.,]1\d? ?[A-Za-z]+$", language)
        for cid in (MESSAGE, SIZE):
            width, height, room_w, room_h = self.texts[cid]
            self.assertTrue(0 < width <= room_w and 0 < height <= room_h,
                            (language, cid, self.texts[cid]))

    def test_font_picture_and_controls_at_each_scale(self):
        for dpi in (96, 144, 192):
            # Asking, the picture is there from the template but holds nothing yet.
            for states, shown in (("", (YES, NO, MESSAGE, PICTURE, SIZE)),
                                  (str(DOWNLOADING), (CANCEL, MESSAGE, PICTURE, "1005"))):
                with self.subTest(dpi=dpi, states=states or "asking"):
                    fonts, places, client, strip = self.layout(dpi, states)
                    height = (dpi * 100 + 360) // 720  # MulDiv(dpi, 100, 720)
                    for cid in (NO, YES, CANCEL, MESSAGE):
                        self.assertEqual(fonts[cid], "Lucida Sans Unicode -%d 1" % height, cid)
                    visible = sorted(cid for cid, p in places.items() if p[4])
                    self.assertEqual(visible, sorted(shown))
                    for cid in visible:
                        left, top, right, bottom = places[cid][:4]
                        self.assertTrue(0 <= left < right <= client[0] and
                                        0 <= top < bottom <= client[1], (cid, places[cid], client))
                    for i, a in enumerate(visible):
                        for b in visible[i + 1:]:
                            pa, pb = places[a], places[b]
                            apart = (pa[2] <= pb[0] or pb[2] <= pa[0] or pa[3] <= pb[1] or
                                     pb[3] <= pa[1])
                            self.assertTrue(apart, (a, pa, b, pb))
                    if not states:
                        self.assertSizeShownWhole("English")
                    if states:
                        left, top, right, bottom = places[PICTURE][:4]
                        self.assertEqual((right - left, bottom - top), self.PICTURE_SIZE)
                        self.assertEqual(top, strip[1])
                        self.assertLessEqual(abs((left + right) - (strip[0] + strip[2])), 1,
                                             (places[PICTURE], strip))

    def test_size_shown_whole_in_every_language_at_the_largest_scale(self):
        for language in ("Spanish", "French", "Portuguese"):
            with self.subTest(language=language):
                fonts, places, client, strip = self.layout(192, "", language)
                self.assertEqual(places[SIZE][4], 1)
                self.assertSizeShownWhole(language)


if __name__ == "__main__":
    harness.main()
