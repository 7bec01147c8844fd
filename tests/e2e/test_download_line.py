"""The downloading view's line, between the spinner and the bar, as the user reads it while the
package arrives: the bytes received of the total, then about how long is left, in the user's
language; a resumed download counting what it held; the bytes alone when the server gives no
length.

    python3 tests/e2e/test_download_line.py <build folder>
"""

import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from dialog_driver import (CANCEL, LINE, PICTURE, SIZE, YES, drive, follow_progress,  # noqa: E402
                           json_lines, read_state)
from harness import LOCALES, UI_TEXTS, Scenario, write_ini  # noqa: E402
from update_scenario import FOLDER, PACKAGE, UpdateTest, offer, package_requests  # noqa: E402

MB = 1024 * 1024
RUN_END_S = 240
UNITS = {"bytes": 1, "KB": 1024, "MB": MB, "GB": 1024 * MB}
FIGURE = re.compile(r"(\d+(?:[.,]\d+)?) (bytes|KB|MB|GB)")


def figures(line):
    """The byte figures a line holds, as numbers (what the rounding of the size left)."""
    return [float(number.replace(",", ".")) * UNITS[unit]
            for number, unit in FIGURE.findall(line)]


def offer_with_size(s, url_prefix, filler_bytes, filler_files=0):
    """A package served under url_prefix, offered with its Size=, so the asking view shows it."""
    path = offer(s, url_prefix=url_prefix, filler_bytes=filler_bytes, filler_files=filler_files)
    size = os.path.getsize(path)
    s.serve("ctl.ini", harness.control_file(
        revision=6, download_url=s.control.url(url_prefix + "pkg/" + PACKAGE),
        exe_path=FOLDER + "\\KVWizard.exe") + b"Size=%d\r\n" % size)
    return size


def shown_lines(readings):
    """(when, text) of each line shown, in order, empty ones left out."""
    return [(r["at"], r["line"]) for r in readings if r["line"]]


class DownloadLine(UpdateTest):

    def test_a_throttled_download_counts_up_to_the_package_size_in_each_language(self):
        # (language, the word between the figures, the time left in seconds)
        rows = (("English", " of ", r"about (\d+) seconds left"),
                ("Spanish", " de ", r"quedan unos (\d+) segundos"))
        for language, of, seconds in rows:
            with self.subTest(language), Scenario(self.build) as s:
                s.install(languages=(language,))
                # Files enough for the staging to last until the UI driver looks.
                size = offer_with_size(s, "throttle/%d/" % (400 * 1024), 5 * MB, 3000)
                with s.start(lang=LOCALES[language]) as run:
                    size_text = read_state(run)["controls"][SIZE]["text"]
                    code, readings, end, out = follow_progress(run, "click", YES,
                                                               limit_ms=90000)
                    code_staged, staged = drive(run, "disabled", CANCEL)
                    run.finish(timeout=RUN_END_S)
                self.assertEqual((code, end), (0, "full"), out)
                lines = shown_lines(readings)
                received = [figures(text)[0] for _, text in lines]
                self.assertEqual(received, sorted(received), "the bytes never go back")
                self.assertGreaterEqual(len(set(received)), 5, lines)
                for _, text in lines:
                    self.assertIn(of, text)
                    self.assertAlmostEqual(figures(text)[1], size, delta=size * 0.01)
                # It ends at the package's size, written as the asking view wrote it.
                self.assertEqual(lines[-1][1], size_text + of + size_text)
                # About how long is left: never before three seconds of data, then only down.
                left = [(at, int(m.group(1))) for at, text in lines
                        for m in [re.search(seconds, text)] if m]
                self.assertTrue(left, lines)
                self.assertGreaterEqual(left[0][0] - lines[0][0], 2500, lines)
                self.assertEqual([n for _, n in left], sorted((n for _, n in left), reverse=True),
                                 lines)
                # Staging keeps the last figures.
                self.assertEqual(code_staged, 0, staged)
                line = [o for o in json_lines(staged) if "controls" in o][-1]["controls"][LINE]
                self.assertEqual((line["visible"], line["text"]), (True, lines[-1][1]))
                self.assertEqual(run.exit_code, 0)

    def test_a_resumed_download_starts_from_what_it_held(self):
        with Scenario(self.build) as s:
            s.install()
            size = offer_with_size(s, "cut90rate/%d/" % (1 * MB), 3 * MB)
            with s.start() as run:
                # Cut at 90%: the failed view, which has no line.
                state = self.click_and_wait(run, YES, "hidden", PICTURE)
                self.assertFailedLook(state)
                self.assertFalse(state["controls"][LINE]["visible"])
                code, readings, end, out = follow_progress(run, "click", YES, limit_ms=60000)
                run.finish(timeout=RUN_END_S)
            self.assertEqual((code, end), (0, "full"), out)
            self.assertTrue(any(r.startswith("RANGE") and r.endswith("206")
                                for r in s.control.requests()), s.control.requests())
            self.assertEqual(len(package_requests(s)), 2)
            lines = shown_lines(readings)
            self.assertGreaterEqual(figures(lines[0][1])[0], 0.85 * size, lines)
            self.assertAlmostEqual(figures(lines[-1][1])[0], size, delta=size * 0.01)

    def test_without_a_length_the_line_gives_the_bytes_alone_in_the_texts_own_words(self):
        """And through uistrings.ini's key for that form."""
        with Scenario(self.build) as s:
            s.install()
            write_ini(os.path.join(s.res, "English", "uistrings.ini"),
                      {"STARTUP": dict(UI_TEXTS["English"], DownloadedSoFar="%1 so far")})
            offer(s, url_prefix="nolength/%d/" % (1 * MB), filler_bytes=4 * MB)
            with s.start() as run:
                code, readings, _, out = follow_progress(run, "click", YES, "shown", CANCEL,
                                                         limit_ms=3000)
                run.finish(timeout=RUN_END_S)
            self.assertEqual(code, 0, out)
            lines = [text for _, text in shown_lines(readings)]
            for text in lines:
                self.assertRegex(text, r"^\d+(\.\d+)? (bytes|KB|MB) so far$")
            received = [figures(text)[0] for text in lines]
            self.assertEqual(received, sorted(received))
            self.assertGreaterEqual(len(set(received)), 3, lines)


if __name__ == "__main__":
    harness.main()
