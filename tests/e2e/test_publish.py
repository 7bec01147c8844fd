"""The publisher's steps end to end: morvane-pack packs the new wizard's folder and prints the
control-file section, the section goes into the control file as printed, and Morvane, offered
it, downloads the signed package, checks it, runs it and hands over to the wizard it unpacked.

    python3 tests/e2e/test_publish.py <build folder>
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Scenario  # noqa: E402
from packages import make_package, native_packer  # noqa: E402
from dialog_driver import YES, drive, read_state  # noqa: E402
from test_update import FOLDER, PACKAGE, TEXTS, UpdateTest, packaged_tree  # noqa: E402


class PublishedSection(UpdateTest):

    def test_the_printed_section_offers_the_package_and_drives_the_update(self):
        with Scenario(self.build) as s:
            s.install(revision=5, drvname="KV Universal")
            path = os.path.join(s.www, "pkg", PACKAGE)
            os.makedirs(os.path.dirname(path))
            url = s.control.url("pkg/" + PACKAGE)
            section = make_package(s.build, packaged_tree(s), FOLDER, path,
                                   section="KV Universal", revision=6, url=url, rollout=100)
            # Size= is printed when the packer signed the package itself (the native packer
            # through osslsigncode); the Windows packer under Wine leaves signing to afterwards,
            # which changes the size, and prints none.
            size = "Size=%d\n" % os.path.getsize(path) if native_packer(s.build) else ""
            self.assertEqual(section, "[KV Universal]\nDownloadUrl=%s\nExePath=%s\\KVWizard.exe\n"
                                      "Revision=6\nRollout=100\n%s" % (url, FOLDER, size))
            s.serve("ctl.ini", section)
            with s.start() as run:
                self.assertAskLook(read_state(run), TEXTS)
                self.assertEqual(drive(run, "click", YES)[0], 0)
                self.assertHandedOver(s, run, s.temp_dir)


if __name__ == "__main__":
    harness.main()
