"""Elevated work only where no one else can write, tried as an attacker would: whole updates
under Wine with real signed packages, while a program of the user's plants libraries, links and
folders where earlier versions of Morvane worked (the temporary folder's KVNew and KVSetup.exe),
and while a man in the middle of the control file offers what the maker signed for something
else. In every case nothing Morvane starts loads a planted library, nothing outside its work
folder is written, the user sees the failed view (or, on the quiet path, a message), and No
gives the judged local wizard.

Wine enforces no access control between programs of one user, so what the work folder's
descriptor keeps out on Windows (a program writing inside it) is not tried here; the descriptor
itself is checked in the Windows tier (work_folder_test).

    python3 tests/e2e/test_work_folder.py <build folder>
"""

import os
import shutil
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Scenario, control_file, read_marker, wait_for, wine_path  # noqa: E402
from packages import sign  # noqa: E402
from dialog_driver import CANCEL, MESSAGE, NO, PICTURE, YES, drive, read_state  # noqa: E402
from update_scenario import FOLDER, PACKAGE, UpdateTest, offer, package_requests  # noqa: E402

WIZARD_REFUSED = "KVWizard.exe was not started: it does not carry the publisher's valid signature."


class Planter:
    """A program of the user's: until stopped, it keeps a recording version.dll (the planted
    fixture, which notes every process that loads it) at the names the update once used,
    re-making the folder whenever it is gone."""

    def __init__(self, s):
        self.dll = os.path.join(s.build.planted_dir, "version.dll")
        self.places = [s.temp_dir, os.path.join(s.temp_dir, FOLDER)]
        self.remade = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def _run(self):
        while not self._stop.is_set():
            for place in self.places:
                try:
                    os.makedirs(place, exist_ok=True)
                    target = os.path.join(place, "version.dll")
                    if not os.path.exists(target):
                        shutil.copy(self.dll, target)
                        self.remade += 1
                except OSError:
                    pass
            self._stop.wait(0.002)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()


def planted_loads(temp_dir):
    """Every record a planted library wrote of a process that loaded it, below temp_dir."""
    found = []
    for folder, _, files in os.walk(temp_dir):
        found += [os.path.join(folder, f) for f in files if f.endswith(".loaded")]
    return found


class ElevatedWork(UpdateTest):

    def assertUntouched(self, s, expected):
        """Nothing outside the work folder was written: the temporary folder holds what the
        attacker put there and nothing else, and no work folder stays after the run."""
        self.assertEqual(harness.work_folders(s.work_parent), [])
        listing = sorted(os.path.relpath(os.path.join(folder, f), s.temp_dir)
                         for folder, _, files in os.walk(s.temp_dir) for f in files)
        self.assertEqual(listing, sorted(expected))
        self.assertEqual(planted_loads(s.temp_dir), [], "a planted library was loaded")

    def test_libraries_planted_where_the_update_once_worked_are_never_loaded(self):
        """The folder the package unpacks, re-made with a planted library as soon as it goes,
        over several whole updates: the update unpacks in its own work folder, the new wizard
        starts there, and the planted copies are neither loaded nor touched."""
        for round_ in range(3):
            with self.subTest(round=round_), Scenario(self.build) as s:
                s.install()
                offer(s, mode="window:500")
                new_wizard = harness.in_work_folder(FOLDER, "KVWizard.exe")
                with Planter(s) as planter, s.start() as run:
                    self.assertEqual(drive(run, "click", YES)[0], 0)
                    self.assertTrue(wait_for(lambda: any(
                        new_wizard.fullmatch(w.module.lower()) for w in read_marker(s.marker)),
                        timeout=120), "the new wizard never started")
                    run.finish()
                self.assertEqual(run.exit_code, 0)
                self.assertGreater(planter.remade, 0)
                starts = [w for w in run.wizard_starts if new_wizard.fullmatch(w.module.lower())]
                self.assertEqual(len(starts), 1, run.wizard_starts)
                work = harness.work_folder_path(s.work_parent, starts[0].module)
                self.assertEqual(starts[0].cwd.rstrip("\\").lower(),
                                 harness.work_wine_path(s.work_parent,
                                                        os.path.join(work, FOLDER)).lower(),
                                 "the new wizard starts from its own folder")
                self.assertUntouched(s, ["version.dll", os.path.join(FOLDER, "version.dll")])

    def test_a_link_at_the_package_name_is_never_written_through(self):
        """%TEMP%\\KVSetup.exe a link to a file of the user's before Yes: the package is made
        fresh in the work folder, so the file the link names keeps its bytes."""
        with Scenario(self.build) as s:
            s.install()
            offer(s, mode="window:500")
            victim = os.path.join(s.root, "victim.txt")
            with open(victim, "wb") as f:
                f.write(b"the user's own file")
            os.symlink(victim, os.path.join(s.temp_dir, PACKAGE))
            with s.start() as run:
                self.assertEqual(drive(run, "click", YES)[0], 0)
                run.finish()
            self.assertEqual(run.exit_code, 0)
            with open(victim, "rb") as f:
                self.assertEqual(f.read(), b"the user's own file")
            self.assertTrue(os.path.islink(os.path.join(s.temp_dir, PACKAGE)))
            self.assertTrue(any(harness.in_work_folder(FOLDER, "KVWizard.exe")
                                .fullmatch(w.module.lower()) for w in run.wizard_starts),
                            run.trail)

    def test_what_the_maker_signed_for_something_else_is_never_run(self):
        """A man in the middle of the control file offers signed packages that are not the
        offer: each is refused after its check, before anything of it runs; the failed view
        shows; No gives the judged local wizard."""
        def makers_wizard(s):
            path = offer(s)
            shutil.copy(s.build.stub_wizard, path)
            sign(s.build, path)

        record = "check: the package's record "
        rows = {
            "the genuine package offered as revision 999": (
                lambda s: offer(s, revision=999), record + "is another revision"),
            "an older package offered as newer": (
                lambda s: offer(s, packed_revision=4), record + "is another revision"),
            "the package of another section": (
                lambda s: offer(s, packed_section="KV-2000"), record + "was packed for another"),
            "ExePath in a folder the package does not make": (
                lambda s: offer(s, exe_path="Other\\KVWizard.exe"),
                record + "does not hold the offered ExePath"),
            "the maker's signed wizard served as the package": (
                makers_wizard, "check: the package carries no record"),
        }
        for name, (prepare, why) in rows.items():
            with self.subTest(name), Scenario(self.build) as s:
                s.install()
                prepare(s)
                with Planter(s), s.start() as run:
                    self.assertFailedLook(self.click_and_wait(run, YES, "hidden", PICTURE))
                    self.assertEqual(drive(run, "click", NO)[0], 0)
                    run.finish()
                self.assertIn("failure: check/not-the-offer", run.trail)
                self.assertTrue(any(line.startswith(why) for line in run.trail), (why, run.trail))
                self.assertFalse(any(line.startswith("runner: started the judged") and
                                     PACKAGE in line for line in run.trail), run.trail)
                self.assertWizardStartedOnceFromApp(run, s)
                self.assertUntouched(s, ["version.dll", os.path.join(FOLDER, "version.dll")])


class LocalWizard(UpdateTest):

    def unsigned_local_wizard(self, s):
        shutil.copy(s.build.unsigned_stub_wizard, os.path.join(s.app_dir, "KVWizard.exe"))

    def test_an_unsigned_local_wizard_is_never_started_on_the_quiet_path(self):
        """Nothing newer offered: the local wizard would start at once, elevated. Unsigned, it
        is not started; the user is told in a message with Close, which ends the program."""
        with Scenario(self.build) as s:
            s.install(revision=6)
            s.serve("ctl.ini", control_file(revision=6))
            self.unsigned_local_wizard(s)
            with s.start() as run:
                state = read_state(run)
                c = state["controls"]
                self.assertEqual(c[MESSAGE]["text"], WIZARD_REFUSED)
                self.assertFalse(c[YES]["visible"])
                self.assertFalse(c[NO]["visible"])
                self.assertEqual((c[CANCEL]["text"], c[CANCEL]["visible"]),
                                 (harness.UI_TEXTS["English"]["CloseBtn"], True))
                self.assertEqual(drive(run, "click", CANCEL)[0], 0)
                run.finish()
            self.assertEqual(run.exit_code, 0)
            self.assertEqual(run.wizard_starts, [])
            self.assertTrue(any("was refused by the package check; not started" in line
                                for line in run.trail), run.trail)

    def test_an_unsigned_local_wizard_is_never_started_after_no(self):
        """Asked about an update, the user says No: the unsigned local wizard is not started;
        the failed view shows, whose Retry still offers the update."""
        with Scenario(self.build) as s:
            s.install()
            offer(s)
            self.unsigned_local_wizard(s)
            with s.start() as run:
                self.assertEqual(drive(run, "click", NO)[0], 0)
                self.assertFailedLook(read_state(run))
                self.assertEqual(drive(run, "close")[0], 0)
                run.finish()
            self.assertEqual(run.wizard_starts, [])
            self.assertEqual(harness.work_folders(s.work_parent), [])


class LinkOnTemp:
    """A Unix link standing in for a junction on TEMP's path: the scenario's TEMP is the link,
    which points at the real temporary folder until it is re-pointed elsewhere (Wine follows it
    silently, as Windows follows a junction a user re-points). flip() makes it point elsewhere
    over and over, until stopped, so it leads elsewhere at every moment of what it surrounds."""

    def __init__(self, s, elsewhere):
        self.path = os.path.join(s.root, "temp-link")
        self.places = [s.temp_dir, elsewhere]
        self.point(s.temp_dir)
        self._stop = threading.Event()
        self._thread = None

    def point(self, target):
        fresh = self.path + ".new"
        if os.path.lexists(fresh):
            os.remove(fresh)
        os.symlink(target, fresh)
        os.replace(fresh, self.path)

    def _run(self):
        i = 0
        while not self._stop.is_set():
            i += 1
            self.point(self.places[i % 2])
            self._stop.wait(0.005)

    def flip(self):
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()
        return self

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self._stop.set()
        if self._thread:
            self._thread.join()


def listing(folder):
    """Every file below `folder` with its bytes."""
    found = {}
    for where, _, files in os.walk(folder):
        for name in files:
            with open(os.path.join(where, name), "rb") as f:
                found[os.path.relpath(os.path.join(where, name), folder)] = f.read()
    return found


class RepointedTemp(UpdateTest):
    """The user's TEMP is the user's to change, and a junction on its way can be re-pointed
    while a folder below it is held. The elevated update works in a folder found without the
    user's environment, so re-pointing TEMP's path, at any moment, moves nothing of it: no file
    where the link leads is deleted, created, written, started or loaded, and the user always
    gets a wizard."""

    def victim(self, s):
        """A folder the user may not write (it stands for system32), holding a file of the
        package's name and a library of the name the wizard loads."""
        folder = os.path.join(s.root, "system32")
        os.makedirs(os.path.join(folder, FOLDER))
        with open(os.path.join(folder, PACKAGE), "wb") as f:
            f.write(b"a system file of the package's name")
        shutil.copy(os.path.join(s.build.planted_dir, "version.dll"), folder)
        shutil.copy(os.path.join(s.build.planted_dir, "version.dll"),
                    os.path.join(folder, FOLDER))
        return folder, listing(folder)

    def assertVictimUntouched(self, folder, before):
        self.assertEqual(listing(folder), before, "a file where TEMP's path now leads changed")
        self.assertEqual(planted_loads(folder), [], "a library where TEMP now leads was loaded")

    def assertNewWizardFromWorkFolder(self, run):
        expected = harness.in_work_folder(FOLDER, "KVWizard.exe")
        starts = [w for w in run.wizard_starts if expected.fullmatch(w.module.lower())]
        self.assertEqual(len(starts), 1, run.wizard_starts)

    def test_re_pointed_after_a_cut_download_before_no_deletes_nothing(self):
        with Scenario(self.build) as s:
            s.install()
            offer(s, url_prefix="cut90/")
            folder, before = self.victim(s)
            link = LinkOnTemp(s, folder)
            with s.start(temp=wine_path(link.path)) as run:
                self.assertFailedLook(self.click_and_wait(run, YES, "hidden", PICTURE))
                self.assertIn("failure: download/cut", run.read_trail())
                link.point(folder)
                self.assertEqual(drive(run, "click", NO)[0], 0)
                run.finish()
            self.assertVictimUntouched(folder, before)
            self.assertWizardStartedOnceFromApp(run, s)
            self.assertEqual(harness.work_folders(s.work_parent), [])

    def test_re_pointed_before_retry_and_during_its_download_creates_nothing(self):
        with Scenario(self.build) as s:
            s.install()
            offer(s, url_prefix="cut90/", mode="window:500", filler_bytes=2 * 1024 * 1024)
            folder, before = self.victim(s)
            link = LinkOnTemp(s, folder)
            with s.start(temp=wine_path(link.path)) as run:
                self.assertFailedLook(self.click_and_wait(run, YES, "hidden", PICTURE))
                with link.flip():
                    self.assertEqual(drive(run, "click", YES)[0], 0)
                    self.assertTrue(wait_for(lambda: len(package_requests(s)) >= 2, timeout=60))
                    run.finish()
            self.assertEqual(run.exit_code, 0)
            self.assertVictimUntouched(folder, before)
            self.assertNewWizardFromWorkFolder(run)

    def test_re_pointed_around_the_download_nothing_runs_or_loads_from_the_users_folder(self):
        with Scenario(self.build) as s:
            s.install()
            offer(s, url_prefix="slow/", mode="window:500", filler_bytes=1024 * 1024)
            folder, before = self.victim(s)
            link = LinkOnTemp(s, folder)
            with link.flip(), Planter(s), s.start(temp=wine_path(link.path)) as run:
                self.assertEqual(drive(run, "click", YES)[0], 0)
                run.finish()
            self.assertEqual(run.exit_code, 0)
            self.assertVictimUntouched(folder, before)
            self.assertEqual(planted_loads(s.temp_dir), [], "a planted library was loaded")
            self.assertNewWizardFromWorkFolder(run)
            self.assertFalse(any(line.startswith("runner: refused") for line in run.trail),
                             run.trail)


if __name__ == "__main__":
    harness.main()
