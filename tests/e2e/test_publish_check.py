"""morvane-pack check, the publisher's look before publishing: a release made with the real
packer and served on loopback is held to what a machine does, by Morvane.exe's own code run
in morvane-pack.exe under Wine. A good release would install (exit 0); each publisher mistake
ends in the verdict and the code a customer would meet.

    python3 tests/e2e/test_publish_check.py <build folder>
"""

import os
import shutil
import subprocess

import harness
from harness import Scenario, ScenarioTest, signed_control_file, wine_path
from packages import make_package, native_packer, offer_section
from update_scenario import FOLDER, PACKAGE, packaged_tree

SECTION = "KV Universal"
# Exits of morvane-pack check.
INSTALLS, NOT_OFFERED, WOULD_FAIL, NEEDS_WINDOWS = 0, 4, 5, 6


def resign(build, path, signer="dekavroline"):
    """The package signed again, as a publisher does after `offer` printed its size: with a
    longer description, so the signed file's length changes whoever signs."""
    pki = os.path.join(build.dir, "fixtures", "pki")
    subprocess.run(["osslsigncode", "sign", "-certs", os.path.join(pki, signer + ".crt"),
                    "-key", os.path.join(pki, signer + ".key"), "-h", "sha256",
                    "-n", "Morvane test, signed once more with a longer description",
                    "-in", path, "-out", path + ".again"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.replace(path + ".again", path)


class PublishCheck(ScenarioTest):

    def check(self, *options, installed=5):
        """morvane-pack.exe check under Wine: (exit code, its verdict line, all its lines)."""
        code, out = self.build.wine_output(
            [os.path.join(self.build.dir, "morvane-pack.exe"), "check", "--drvname", SECTION,
             "--installed", str(installed)] + list(options))
        lines = out.replace("\r\n", "\n").splitlines()
        verdicts = [line for line in lines if line.startswith("verdict: ")]
        self.assertEqual(len(verdicts), 1, out)
        return code, verdicts[0], lines

    def release(self, s, name, edit_section=None, edit_package=None):
        """A copy of the scenario's release under www/<name>/: its signed package and the
        section `offer` printed for it, edited as a publisher might; returns the section."""
        folder = os.path.join(s.www, name)
        os.makedirs(folder)
        path = os.path.join(folder, PACKAGE)
        shutil.copy(self.package, path)
        section = offer_section(s.build, path, [s.control.url(name + "/" + PACKAGE)])
        if edit_package:
            edit_package(path)
        return edit_section(section) if edit_section else section

    def test_a_good_release_would_install_and_each_mistake_shows_the_customers_code(self):
        with Scenario(self.build) as s:
            self.package = os.path.join(s.root, PACKAGE)
            make_package(s.build, packaged_tree(s), FOLDER, self.package, section=SECTION,
                         revision=6)
            local = os.path.join(s.root, "local", PACKAGE)

            def resigned(path):
                resign(s.build, path)
                os.makedirs(os.path.dirname(local), exist_ok=True)
                shutil.copy(path, local)

            def other_signer_sized(section):
                # Re-signed by someone else, with Size= printed for those very bytes: the
                # signer check, not the length, has to catch it.
                path = os.path.join(s.www, "other", PACKAGE)
                resign(s.build, path, "other")
                return section.replace(section.split("Size=")[1],
                                       "%d\n" % os.path.getsize(path))

            expired = "[Morvane]\nExpires=2020-01-01T00:00:00Z\n"
            # name: (section edit, package edit, control file name, expected exit, in verdict)
            cases = {
                "good": (None, None, "ctl.ini", INSTALLS, "would install revision 6"),
                "revision": (lambda t: t.replace("Revision=6", "Revision=7"), None, "ctl.ini",
                             WOULD_FAIL, "M-203 (check/not-the-offer)"),
                "exepath": (lambda t: t.replace("ExePath=%s\\" % FOLDER, "ExePath=KVOther\\"),
                            None, "ctl.ini", WOULD_FAIL, "M-203 (check/not-the-offer)"),
                "resigned": (None, resigned, "ctl.ini", WOULD_FAIL, "M-102 (download/server-error)"),
                "size": (lambda t: t.replace("Size=", "Size=1"), None, "ctl.ini", WOULD_FAIL,
                         "M-102 (download/server-error)"),
                "other": (other_signer_sized, None, "ctl.ini", WOULD_FAIL,
                          "M-202 (check/other-signer)"),
                "unsigned": (None, None, "ctl.txt", NOT_OFFERED, "M-601 (offer/unsigned)"),
                "expired": (lambda t: t + expired, None, "ctl.ini", NOT_OFFERED,
                            "M-605 (offer/expired)"),
                "halted": (lambda t: t + "Rollout=0\n", None, "ctl.ini", NOT_OFFERED,
                           "rollout 0%"),
            }
            for name, (edit_section, edit_package, control, code, said) in cases.items():
                with self.subTest(name):
                    s.serve(name + "/" + control,
                            self.release(s, name, edit_section, edit_package))
                    got, verdict, lines = self.check("--control",
                                                     s.control.url(name + "/" + control))
                    self.assertEqual(got, code, lines)
                    self.assertIn(said, verdict)

            # A control file signed by someone else; and the package given as a file, which is
            # held to Size= as a download is.
            with self.subTest("control signed by another"):
                body = self.release(s, "stranger").encode("ascii")
                s.serve("stranger/ctl.ini", signed_control_file(self.build, body, "other"))
                got, verdict, lines = self.check("--control", s.control.url("stranger/ctl.ini"))
                self.assertEqual((got, "M-603 (offer/other-signer)" in verdict), (NOT_OFFERED, True),
                                 lines)
            for name, package, code in (("good", self.package, INSTALLS),
                                        ("resigned", local, WOULD_FAIL)):
                with self.subTest("--package", release=name):
                    got, verdict, lines = self.check("--control", s.control.url(name + "/ctl.ini"),
                                                     "--package", wine_path(package))
                    self.assertEqual(got, code, lines)

            with self.subTest("the same revision installed"):
                got, verdict, lines = self.check("--control", s.control.url("good/ctl.ini"),
                                                 installed=6)
                self.assertEqual(got, NOT_OFFERED, lines)
                self.assertIn("not newer than 6", verdict)

    def test_the_linux_packer_sends_the_check_to_windows(self):
        packer = native_packer(self.build) or os.path.join(self.build.source_dir, "build",
                                                           "native", "morvane-pack")
        if not os.access(packer, os.X_OK):
            self.skipTest("no native morvane-pack built")
        done = subprocess.run([packer, "check", "--control", "ctl.ini", "--drvname", SECTION,
                               "--installed", "5"], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True)
        self.assertEqual((done.returncode, done.stdout), (NEEDS_WINDOWS, ""), done.stderr)


if __name__ == "__main__":
    harness.main()
