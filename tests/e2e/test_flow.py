"""The update flow from Yes to the end of the clean-up, as the user and the rest of the desktop
meet it: a dialog that always answers, a new wizard that may broadcast to every window or stop
answering for a while, a progress bar that tells the truth, a download that stalls, and a user
who cancels or closes at any moment.

    python3 tests/e2e/test_flow.py <build folder>
"""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from dialog_driver import (CANCEL, NO, PICTURE, YES, drive, follow_progress,  # noqa: E402
                           json_lines, read_state, watch_answers)
from harness import Scenario, read_marker, read_records, wait_for, wine_path  # noqa: E402
from update_scenario import FOLDER, PACKAGE, TEXTS, UpdateTest, offer, package_requests  # noqa: E402

MB = 1024 * 1024
LONGEST_ANSWER_MS = 250
BROADCAST_BOUND_MS = 2000
STALL_LIMIT_S = 30
STALL_MARGIN_S = 15  # the UI driver's start under Wine, and a loaded machine
RUN_END_S = 240


def noise_gif(path, frames=40, size="640x480"):
    """A large animation that is expensive to decode: every frame a different random picture."""
    subprocess.run(["convert", "-delay", "4", "-size", size] + ["xc:gray"] * frames +
                   ["-seed", "7", "+noise", "Random", "-loop", "0", path], check=True, timeout=300)


class FlowTest(UpdateTest):

    def is_new_wizard(self, s, module):
        return bool(harness.in_work_folder(FOLDER, "KVWizard.exe").fullmatch(
            module.lower()))

    def assertUpdatedAndCleanedUp(self, s, run):
        """The new wizard ran once, no other wizard did, the program ended normally and left
        the temporary folder empty."""
        self.assertEqual([self.is_new_wizard(s, w.module) for w in run.wizard_starts], [True],
                         run.trail)
        self.assertEqual(run.exit_code, 0)
        self.assertEqual(run.temp_files, [], run.trail)

    def finished_pids(self, s):
        return {r[1] for r in read_records(s.marker, "FINISHED")}


class Responsiveness(FlowTest):

    def test_the_dialog_answers_within_250_ms_from_yes_to_the_end_of_the_clean_up(self):
        with Scenario(self.build) as s:
            s.install()
            noise_gif(os.path.join(s.res, "English", "Morvane.gif"))
            offer(s, filler_bytes=40 * MB, mode="window:3000")
            with s.start() as run:
                self.assertAskLook(read_state(run), TEXTS)
                code, report, out = watch_answers(run, "click", YES)
                self.assertEqual(code, 0, out)
                run.finish(timeout=RUN_END_S)
            self.assertIsNotNone(report, out)
            self.assertEqual(report["end"], "process", report)
            self.assertGreater(report["samples"], 20, "the watch measured next to nothing")
            self.assertLessEqual(report["longest_ms"], LONGEST_ANSWER_MS, report)
            self.assertUpdatedAndCleanedUp(s, run)


class SettingChangeBroadcast(FlowTest):
    """A wizard that changes the environment tells every top-level window with SendMessageW;
    Morvane's dialog, hidden while the wizard runs, must take that message at once."""

    def test_a_broadcast_before_the_first_or_after_the_last_window_returns_at_once(self):
        for mode, when in (("broadcastfirst:3000", "first"), ("broadcastlast:2000", "last")):
            with self.subTest(when), Scenario(self.build) as s:
                s.install()
                offer(s, mode=mode)
                with s.start() as run:
                    self.assertEqual(drive(run, "click", YES)[0], 0)
                    run.finish(timeout=RUN_END_S)
                broadcasts = read_records(s.marker, "BROADCAST")
                self.assertEqual([b[3] for b in broadcasts], [when], broadcasts)
                self.assertLess(int(broadcasts[0][2]), BROADCAST_BOUND_MS, broadcasts)
                self.assertUpdatedAndCleanedUp(s, run)
                self.assertIn(run.wizard_starts[0].pid, self.finished_pids(s))


class Progress(FlowTest):

    def test_a_throttled_download_advances_the_bar_to_full(self):
        with Scenario(self.build) as s:
            s.install()
            path = offer(s, url_prefix="throttle/%d/" % (1 * MB), filler_bytes=6 * MB)
            self.assertGreater(os.path.getsize(path), 6 * MB)
            with s.start() as run:
                code, readings, end, out = follow_progress(run, "click", YES, limit_ms=90000)
                run.finish(timeout=RUN_END_S)
            self.assertEqual(code, 0, out)
            positions = [r["position"] for r in readings if r["visible"]]
            self.assertEqual(positions, sorted(positions), "the bar never goes back")
            self.assertGreaterEqual(len(set(positions)), 4, readings)
            self.assertFalse(any(r["marquee"] for r in readings), readings)
            last = readings[-1]
            self.assertEqual(end, "full", readings)
            self.assertGreater(last["max"], last["min"], last)
            self.assertEqual(last["position"], last["max"], last)
            self.assertUpdatedAndCleanedUp(s, run)

    def test_a_download_without_a_length_shows_a_marquee(self):
        with Scenario(self.build) as s:
            s.install()
            offer(s, url_prefix="nolength/%d/" % (1 * MB), filler_bytes=4 * MB)
            with s.start() as run:
                # Following for a while: the bar may start plain until the answer's headers
                # have shown there is no length.
                code, readings, _, out = follow_progress(run, "click", YES, "shown", CANCEL,
                                                         limit_ms=2500)
                run.finish(timeout=RUN_END_S)
            self.assertEqual(code, 0, out)
            self.assertTrue(any(r["marquee"] and r["visible"] for r in readings), readings)
            # A plain bar that moves would claim a share of a whole nobody knows.
            self.assertFalse(any(not r["marquee"] and r["position"] > r["min"]
                                 for r in readings), readings)
            self.assertUpdatedAndCleanedUp(s, run)


class Stall(FlowTest):

    def test_a_stalled_download_fails_within_the_limit_and_retry_downloads_again(self):
        with Scenario(self.build) as s:
            s.install()
            offer(s, url_prefix="stallbody/", filler_bytes=1 * MB)
            with s.start() as run:
                self.assertAskLook(read_state(run), TEXTS)
                for attempt in (1, 2):  # Yes, then Retry
                    started = time.monotonic()
                    code, out = drive(run, "click", YES, "hidden", PICTURE)
                    took = time.monotonic() - started
                    self.assertEqual(code, 0, "no failed view %.0f s after attempt %d: %s"
                                     % (took, attempt, out))
                    self.assertLess(took, STALL_LIMIT_S + STALL_MARGIN_S)
                    self.assertFailedLook(read_state(run, 5000))
                    self.assertEqual(len(package_requests(s)), attempt)
                    self.assertEqual(harness.work_files(s.work_parent), [],
                                     "a partial package was left")
                self.assertEqual(drive(run, "click", NO)[0], 0)
                run.finish()
            self.assertWizardStartedOnceFromApp(run, s)


class BlockingWizard(FlowTest):

    def test_a_new_wizard_whose_window_blocks_15_s_is_not_ended_and_finishes(self):
        with Scenario(self.build) as s:
            s.install()
            offer(s, mode="blockwindow:15000")
            with s.start() as run:
                self.assertEqual(drive(run, "click", YES)[0], 0)
                run.finish(timeout=RUN_END_S)
            self.assertUpdatedAndCleanedUp(s, run)
            self.assertIn(run.wizard_starts[0].pid, self.finished_pids(s),
                          "the new wizard was ended before it finished")


class CancelAndClose(FlowTest):
    """Cancel while downloading hands over to the local wizard; the close box ends without any
    wizard; a result that arrives afterwards is not acted on. Cancel at a later step counts as
    the button shows: enabled, it hands over to the local wizard; disabled, the update goes on."""

    ROWS = [
        # (step, how the user ends it)
        ("downloading", "Cancel"),
        ("downloading", "close box"),
        ("checking", "Cancel"),
        ("checking", "close box"),
        ("staging", "Cancel"),
        ("staging", "close box"),
    ]

    def reach(self, s, run, step):
        """Waits until the flow is at `step`; the UI driver's commands that act at once after."""
        if step == "downloading":
            self.assertEqual(drive(run, "click", YES, "shown", CANCEL)[0], 0)
            self.assertTrue(wait_for(lambda: package_requests(s), timeout=60))
            time.sleep(1)
            return []
        if step == "checking":
            # The download's end shows as a full (or hidden) bar; the check follows at once.
            return ["click", YES, "progress", 120000]
        self.assertEqual(drive(run, "click", YES)[0], 0)
        def extracting():
            return any(os.path.isdir(os.path.join(s.work_parent, w, FOLDER))
                       for w in harness.work_folders(s.work_parent))
        self.assertTrue(wait_for(extracting, timeout=180, interval=0.05),
                        "the package never began to extract")
        return []

    def test_each_step_and_way_of_ending(self):
        for step, how in self.ROWS:
            with self.subTest(step=step, how=how), Scenario(self.build) as s:
                s.install()
                offer(s, url_prefix="throttle/%d/" % (8 * MB), filler_bytes=40 * MB,
                      filler_files=2000 if step == "staging" else 0)
                with s.start() as run:
                    self.assertAskLook(read_state(run), TEXTS)
                    first = self.reach(s, run, step)
                    act = ["click", CANCEL] if how == "Cancel" else ["close"]
                    code, out = drive(run, *(first + ["state", 1000] + act))
                    self.assertEqual(code, 0, out)
                    states = [o for o in json_lines(out) if "controls" in o]
                    cancel_enabled = states[-1]["controls"][CANCEL]["enabled"]
                    run.finish(timeout=RUN_END_S)
                self.assertEqual(run.exit_code, 0)
                time.sleep(2)  # a late result would start its wizard about now
                starts = [w.module.lower() for w in read_marker(s.marker)]
                local = wine_path(os.path.join(s.app_dir, "KVWizard.exe")).lower()
                if how == "close box":
                    self.assertEqual(starts, [], run.trail)
                elif step == "downloading" or cancel_enabled:
                    self.assertEqual(starts, [local], run.trail)
                else:
                    self.assertEqual([self.is_new_wizard(s, m) for m in starts], [True],
                                     run.trail)
                if step == "downloading":
                    self.assertFalse(any(line.startswith("runner: started the judged") and
                                         PACKAGE in line for line in run.trail),
                                     "the package ran after the user left")


if __name__ == "__main__":
    harness.main()
