"""A package offered at several addresses (DownloadUrl, DownloadUrl2, ...), as a user drives
the update: each way the first address can fail moves on to the next, and the update completes
from there with nothing of the first kept; when every address fails the failed view shows the
last cause, and Retry starts again from the first.

    python3 tests/e2e/test_mirrors.py <build folder>
"""

import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Scenario  # noqa: E402
from dialog_driver import NO, PICTURE, REASON, YES, drive  # noqa: E402
from update_scenario import FOLDER, PACKAGE, UpdateTest, offer  # noqa: E402


def tampered_copy(s, path):
    """A copy of the package with one byte changed, served at /bad/: the signature no longer
    holds."""
    bad = os.path.join(s.www, "bad", PACKAGE)
    os.makedirs(os.path.dirname(bad), exist_ok=True)
    shutil.copy(path, bad)
    with open(bad, "r+b") as f:
        f.seek(os.path.getsize(bad) // 3)
        byte = f.read(1)
        f.seek(-1, 1)
        f.write(bytes([byte[0] ^ 0x40]))
    return s.control.url("bad/" + PACKAGE)


def requested(s, prefix):
    return [r for r in s.control.requests() if r.startswith("GET /" + prefix)]


class Mirrors(UpdateTest):

    def assertCompletedFromTheSecond(self, s, run, first, second):
        expected = harness.in_work_folder(FOLDER, "KVWizard.exe")
        starts = [w for w in run.wizard_starts if expected.fullmatch(w.module.lower())]
        self.assertEqual(len(starts), 1, run.wizard_starts)
        self.assertTrue(any(line.startswith("download: %s failed (" % first) and
                            line.endswith("; trying %s" % second) for line in run.trail),
                        run.trail)
        self.assertTrue(any(line.startswith("package check: accepted") for line in run.trail))
        self.assertEqual(harness.work_folders(s.work_parent), [], "nothing of either stays")

    def test_each_failure_of_the_first_address_moves_on_to_the_second(self):
        def refused(s, path):
            return "http://127.0.0.1:9/pkg/" + PACKAGE  # nothing listens on the discard port

        rows = {
            "refusing connections": (refused, "download/no-connection"),
            "answering 503": (lambda s, path: s.control.url("503/pkg/" + PACKAGE),
                              "download/server-error"),
            "answering 404": (lambda s, path: s.control.url("404/pkg/" + PACKAGE),
                              "download/server-error"),
            "serving a tampered package": (tampered_copy, "check/bad-signature"),
            "stalling": (lambda s, path: s.control.url("stall/pkg/" + PACKAGE),
                         "download/stalled"),
        }
        for name, (first_url, why) in rows.items():
            with self.subTest(name), Scenario(self.build) as s:
                s.install()
                path = offer(s, mode="window:500")
                second = s.control.url("pkg/" + PACKAGE)
                first = first_url(s, path)
                offer(s, url=first, mirrors=[second], mode="window:500")
                with s.start() as run:
                    self.assertEqual(drive(run, "click", YES)[0], 0)
                    run.finish(timeout=180)
                self.assertEqual(run.exit_code, 0)
                self.assertIn("download: %s failed (%s); trying %s" % (first, why, second),
                              run.trail)
                self.assertCompletedFromTheSecond(s, run, first, second)
                self.assertFalse(any(line.startswith("failure:") for line in run.trail),
                                 run.trail)

    def test_every_address_failing_shows_the_last_cause_and_retry_starts_from_the_first(self):
        with Scenario(self.build) as s:
            s.install()
            first = s.control.url("404/pkg/" + PACKAGE)
            offer(s, url=first, mirrors=["http://127.0.0.1:9/pkg/" + PACKAGE])
            with s.start() as run:
                state = self.click_and_wait(run, YES, "hidden", PICTURE)
                self.assertFailedLook(state)
                self.assertIn("M-101", state["controls"][REASON]["text"])
                self.assertEqual(len(requested(s, "404/")), 1)
                self.assertFailedLook(self.click_and_wait(run, YES, "hidden", PICTURE))
                self.assertEqual(len(requested(s, "404/")), 2, "Retry starts from the first")
                self.assertEqual(drive(run, "click", NO)[0], 0)
                run.finish()
            # The last address's cause, once per attempt; the first address's failure is named.
            self.assertEqual(run.trail.count("failure: download/no-connection"), 2, run.trail)
            self.assertNotIn("failure: download/server-error", run.trail)
            self.assertEqual(sum(line.startswith("download: %s failed (download/server-error)"
                                                 % first) for line in run.trail), 2, run.trail)
            self.assertWizardStartedOnceFromApp(run, s)


if __name__ == "__main__":
    harness.main()
