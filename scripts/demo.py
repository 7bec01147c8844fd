#!/usr/bin/env python3
"""Shows Morvane at work under Wine: a demo installation with all four language folders, a
control file served on loopback, one run with a newer revision on offer and one without.
Usage: demo.py BUILD_DIR (called by scripts/demo.sh)."""

import json
import ntpath
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from harness import Build, Scenario, control_file, LANGUAGES, MESSAGE_CONTROL  # noqa: E402


def describe(run, scenario):
    if run.dialog:
        look = json.loads(run.dialog)
        message = look["controls"][str(MESSAGE_CONTROL)]["text"].replace("\n", " ")
        print("  Decision: show the update dialog (no wizard started).")
        print('  The dialog "%s" asked: "%s"' % (look["title"], message))
        print("  The demo closed it with its close box; Morvane then ended.")
    for start in run.wizard_starts:
        print("  Decision: start the local wizard; no window was shown.")
        print("  Started: %s" % start.command_line)
        print("  From folder: %s" % ntpath.dirname(start.module))
    if not run.dialog and not run.wizard_starts:
        print("  Morvane ended without a dialog and without starting the wizard.")
    left = ", ".join(run.temp_files) or "nothing"
    print("  Requests to the control server: %s; left in the temp folder: %s"
          % (", ".join(scenario.control.requests()) or "none", left))


def main():
    build = Build(sys.argv[1])
    with Scenario(build) as s:
        s.install(languages=LANGUAGES, revision=5)
        print("Demo installation: %s" % s.app_dir)
        print("  Morvane.exe, KVWizard.exe (a stand-in that records its start), res\\kavro.ini,")
        print("  res\\{%s}; local InstallerRevision 5" % ",".join(LANGUAGES))
        print("  control file %s, support server %s" % (s.ctl_url("ctl.ini"), build.support_url))

        s.serve("ctl.ini", control_file(revision=6))
        print("\n1. The server offers revision 6 (newer than 5):")
        describe(s.run_expecting_dialog(), s)

        s.control.clear_log()
        if os.path.exists(s.marker):
            os.remove(s.marker)
        s.serve("ctl.ini", control_file(revision=5))
        print("\n2. The server offers revision 5 (the same):")
        describe(s.run(), s)


if __name__ == "__main__":
    main()
