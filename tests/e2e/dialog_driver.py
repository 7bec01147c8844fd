"""Driving the update dialog from outside, as a user does: the UI driver's reads and clicks on a
run's process, the control ids as resources/resource.h defines them, screenshots, and the base
class of the scenarios that look at the dialog.

    from dialog_driver import YES, CANCEL, DialogTest, drive, read_state
    state = read_state(run)                  # the dialog's look, as JSON
    drive(run, "click", YES, "shown", CANCEL)
"""

import json
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import DIALOG_WAIT_MS, LOCALES, ScenarioTest, write_ini  # noqa: E402

RESOURCE_H = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources",
                          "resource.h")


def read_resource_ids(path=RESOURCE_H):
    """{name: number} of the #defines in a resource header."""
    ids = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"^\s*#define\s+(\w+)\s+(\d+)\b", line)
            if m:
                ids[m.group(1)] = int(m.group(2))
    return ids


IDS = read_resource_ids()
# The UI driver's JSON names each control by its id as text.
NO, YES, CANCEL, MESSAGE, PICTURE, PROGRESS, REASON, SIZE, LINE = (
    str(IDS[name]) for name in ("IDC_NO_BTN", "IDC_YES_BTN", "IDC_CAN_BTN", "IDC_UPD_MES",
                                "IDC_PICTURE", "IDC_PROGRESS", "IDC_REASON", "IDC_PKG_SIZE",
                                "IDC_DL_LINE"))
PLACEHOLDERS = ("YesBtn", "NoBtn", "CanBtn", "UpdMes")
PRODUCT = "Kavro Demo"
UNSUPPORTED = {"ProductName": PRODUCT, "OSMajor": "99", "OSMinor": "0", "SPMajor": "0",
               "Bicon": "0"}


def unescaped(text):
    """What the settings reader makes of a value's backslash escapes."""
    return text.replace("\\r", "\r").replace("\\n", "\n").replace("\\t", "\t")


def drive(run, *commands, timeout=180):
    """Runs ui_driver.exe on the run's process: (exit code, its output and Wine's messages)."""
    return run.ui(*commands, timeout=timeout)


def press(run, *keys):
    """Posts each key ("return", "tab", "escape") to the control that has the focus of the
    dialog's thread, as typing does: (exit code, output)."""
    commands = []
    for key in keys:
        commands += ["key", key]
    return drive(run, *commands)


def json_lines(out):
    """The UI driver's JSON objects in its output, in order (Wine's messages left out)."""
    return [json.loads(line) for line in out.splitlines() if line.startswith("{")]


def read_state(run, wait_ms=DIALOG_WAIT_MS):
    code, out = drive(run, "state", wait_ms)
    states = [o for o in json_lines(out) if "controls" in o]
    if code != 0 or not states:
        raise AssertionError("no dialog from process %s: %r" % (run.pid, out))
    return states[-1]


def dialog_message(run):
    """The text of the dialog's message control as harness.Scenario.run found it."""
    if run.dialog is None:
        raise AssertionError("no dialog window of the Morvane process appeared")
    return json.loads(run.dialog)["controls"][MESSAGE]["text"]


def watch_answers(run, *first, limit_ms=600000):
    """Runs the UI driver's commands `first`, then times the dialog's answers until the process
    ends: (exit code, the watch report or None, all output)."""
    code, out = drive(run, *(list(first) + ["watch", limit_ms]), timeout=limit_ms / 1000 + 120)
    reports = [o["watch"] for o in json_lines(out) if "watch" in o]
    return code, (reports[-1] if reports else None), out


def follow_progress(run, *first, limit_ms=120000):
    """Runs the UI driver's commands `first`, then follows the progress bar and the download
    line: (exit code, their readings in order, how the following ended or None, all output)."""
    code, out = drive(run, *(list(first) + ["progress", limit_ms]),
                      timeout=limit_ms / 1000 + 120)
    objects = json_lines(out)
    readings = [o["progress"] for o in objects if "progress" in o]
    ends = [o["progress_end"] for o in objects if "progress_end" in o]
    return code, readings, (ends[-1] if ends else None), out


def screenshot(build, name):
    """The whole Xvfb display the build's Wine uses, as <build>/artifacts/<name>.png."""
    display = None
    with open(os.path.join(build.wine_home, "wine.env")) as f:
        for line in f:
            if line.startswith("DISPLAY="):
                display = line.strip().split("=", 1)[1]
    folder = os.path.join(build.dir, "artifacts")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name + ".png")
    time.sleep(1)  # let Wine finish painting what was just shown
    subprocess.run(["import", "-display", display, "-window", "root", path], check=True,
                   timeout=60)
    return path


class DialogTest(ScenarioTest):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # One persistent wineserver for the whole class (as under ctest), so no test's program
        # is the one that starts it.
        subprocess.run([cls.build.wine_sh, "setup", cls.build.dir], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=600, check=True)
        # No window manager runs on the test display: unmanaged windows get the caption and
        # close box Wine draws itself, so the screenshots show the title.
        cls.build.wine(["reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                        "/d", "N", "/f"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL).wait(timeout=120)

    def assertCleanLook(self, state):
        """No placeholder ever shows, and No and Cancel (one on top of the other) never both."""
        for cid, control in state["controls"].items():
            if control and cid not in (PICTURE, PROGRESS, LINE) and control["visible"]:
                self.assertNotIn(control["text"], PLACEHOLDERS, state)
        self.assertFalse(state["controls"][NO]["visible"] and state["controls"][CANCEL]["visible"],
                         state)

    def assertUnsupportedLook(self, state, texts):
        c = state["controls"]
        self.assertEqual(c[MESSAGE]["text"], unescaped(texts["MessageOSCap"]))
        self.assertTrue(c[MESSAGE]["visible"])
        self.assertFalse(c[YES]["visible"])
        self.assertFalse(c[NO]["visible"])
        self.assertEqual((c[CANCEL]["text"], c[CANCEL]["visible"], c[CANCEL]["enabled"]),
                         (unescaped(texts["CloseBtn"]), True, True))
        self.assertCleanLook(state)

    def assertAskLook(self, state, texts):
        c = state["controls"]
        self.assertEqual(c[MESSAGE]["text"], unescaped(texts["MessageUpdate"]))
        self.assertEqual((c[YES]["text"], c[YES]["visible"], c[YES]["enabled"]),
                         (unescaped(texts["YesBtn"]), True, True))
        self.assertEqual((c[NO]["text"], c[NO]["visible"], c[NO]["enabled"]),
                         (unescaped(texts["NoBtn"]), True, True))
        self.assertFalse(c[CANCEL]["visible"])
        self.assertCleanLook(state)

    def assertEnded(self, run, scenario):
        code, out = drive(run, "gone", DIALOG_WAIT_MS)
        self.assertEqual(code, 0, out)
        run.finish()
        self.assertEqual(run.exit_code, 0, "Morvane must end normally")

    def end_with(self, run, how):
        """Ends the dialog the way a user does without choosing: Escape or the close box."""
        code, out = drive(run, {"escape": "escape", "close box": "close"}[how])
        self.assertEqual(code, 0, out)

    def start_unsupported(self, s, language="English", texts=None, product=PRODUCT):
        kavro = dict(UNSUPPORTED, ProductName=product)
        s.install(languages=(language,), kavro=kavro)
        if texts is not None:
            write_ini(os.path.join(s.res, language, "uistrings.ini"), {"STARTUP": texts})
        return s.start(lang=LOCALES[language])

    def start_asking(self, s, language="English", texts=None):
        s.install(languages=(language,), revision=5)
        if texts is not None:
            write_ini(os.path.join(s.res, language, "uistrings.ini"), {"STARTUP": texts})
        s.serve("ctl.ini", harness.control_file(revision=6))
        return s.start(lang=LOCALES[language])
