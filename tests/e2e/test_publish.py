"""The publisher's steps end to end: morvane-pack packs the new wizard's folder and prints the
control-file section, the section goes into the control file as printed, the control file is
signed, and Morvane, offered it, downloads the signed package, checks it, runs it and hands over
to the wizard it unpacked. The control file is signed by morvane-pack sign-control in both of
its forms: signing with the package's key (and an Expires=), and embedding a detached signature
made by another tool (openssl cms here, as signtool's /p7 makes one on Windows).

    python3 tests/e2e/test_publish.py <build folder>
"""

import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Scenario, wine_path  # noqa: E402
from fixture_server import detached_signature  # noqa: E402
from packages import make_package, native_packer, sign  # noqa: E402
from dialog_driver import YES, drive, read_state  # noqa: E402
from update_scenario import FOLDER, PACKAGE, TEXTS, UpdateTest, packaged_tree  # noqa: E402


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

    def packer(self):
        """morvane-pack sign-control signs through openssl, which runs on this side of Wine:
        the native packer of this checkout."""
        packer = native_packer(self.build) or os.path.join(self.build.source_dir, "build",
                                                           "native", "morvane-pack")
        if not os.access(packer, os.X_OK):
            self.skipTest("no native morvane-pack built")
        return packer

    def test_a_control_file_signed_by_the_packer_in_both_forms_drives_the_update(self):
        cert, key = self.build.control_signer
        forms = {
            "signed by the packer": ["--sign-cert", cert, "--sign-key", key, "--valid-days", "3"],
            "an outside signature embedded": ["--signature", "body.p7"],
        }
        for form, options in forms.items():
            with self.subTest(form), Scenario(self.build) as s:
                s.install(revision=5, drvname="KV Universal")
                path = os.path.join(s.www, "pkg", PACKAGE)
                os.makedirs(os.path.dirname(path))
                section = make_package(s.build, packaged_tree(s), FOLDER, path,
                                       section="KV Universal", revision=6,
                                       url=s.control.url("pkg/" + PACKAGE))
                body = os.path.join(s.root, "body.ini")
                with open(body, "w", newline="\r\n") as f:
                    f.write("[Other]\nRevision=1\n" + section)
                with open(os.path.join(s.root, "body.p7"), "wb") as f, open(body, "rb") as b:
                    f.write(detached_signature(b.read(), cert, key))
                signed = os.path.join(s.www, "ctl.ini")
                done = subprocess.run([self.packer(), "sign-control", "--in", body, "--out",
                                       signed] + options, cwd=s.root, stderr=subprocess.PIPE)
                self.assertEqual(done.returncode, 0, done.stderr)
                with open(signed, "rb") as f, open(body, "rb") as b:
                    self.assertTrue(f.read().startswith(b.read()))
                with s.start() as run:
                    self.assertAskLook(read_state(run), TEXTS)
                    self.assertEqual(drive(run, "click", YES)[0], 0)
                    self.assertHandedOver(s, run, s.temp_dir)
                self.assertIn("offer signature: accepted, signed by \"Dekavroline Software\"",
                              run.read_trail())

    def test_the_release_flow_as_written(self):
        """README's release flow: pack, sign with an outside tool (osslsigncode standing in for
        signtool), morvane-pack offer prints the section from the signed package, the control
        file is signed with an outside signature and sign-control, checked with morvane-pack
        check, served, and installs."""
        cert, key = self.build.control_signer
        with Scenario(self.build) as s:
            s.install(revision=5, drvname="KV Universal")
            path = os.path.join(s.www, "pkg", PACKAGE)
            os.makedirs(os.path.dirname(path))
            make_package(s.build, packaged_tree(s), FOLDER, path, signer=None,
                         section="KV Universal", revision=6)
            sign(s.build, path)
            urls = [s.control.url("pkg/" + PACKAGE), s.control.url("mirror/" + PACKAGE)]
            offer = subprocess.run([self.packer(), "offer", "--package", path, "--url", urls[0],
                                    "--url", urls[1], "--rollout", "100"],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            self.assertEqual(offer.returncode, 0, offer.stderr)
            self.assertEqual(offer.stdout,
                             "[KV Universal]\nDownloadUrl=%s\nDownloadUrl2=%s\nExePath=%s\\"
                             "KVWizard.exe\nRevision=6\nRollout=100\nSize=%d\n"
                             % (urls[0], urls[1], FOLDER, os.path.getsize(path)))
            body = os.path.join(s.root, "ctl-body.ini")
            with open(body, "w") as f:
                f.write(offer.stdout)
            signature = os.path.join(s.root, "ctl-body.ini.p7")
            subprocess.run(["openssl", "cms", "-sign", "-binary", "-md", "sha256", "-in", body,
                            "-signer", cert, "-inkey", key, "-outform", "DER", "-out", signature],
                           check=True, stderr=subprocess.DEVNULL)
            done = subprocess.run([self.packer(), "sign-control", "--in", body, "--out",
                                   os.path.join(s.www, "ctl.ini"), "--signature", signature],
                                  stderr=subprocess.PIPE)
            self.assertEqual(done.returncode, 0, done.stderr)
            # The package goes to both its addresses; the control file, still unpublished, is
            # checked as a machine with revision 5 would judge it.
            os.makedirs(os.path.join(s.www, "mirror"))
            shutil.copy(path, os.path.join(s.www, "mirror", PACKAGE))
            code, out = self.build.wine_output(
                [os.path.join(self.build.dir, "morvane-pack.exe"), "check", "--control",
                 wine_path(os.path.join(s.www, "ctl.ini")), "--drvname", "KV Universal",
                 "--installed", "5"])
            lines = out.replace("\r\n", "\n").splitlines()
            self.assertEqual(code, 0, out)
            self.assertEqual(["package %s: the signature, signer, key pins, revocation and record "
                              "pass" % url for url in urls],
                             [line for line in lines if line.startswith("package ")])
            self.assertEqual(lines[-1], "verdict: would install revision 6 from " + urls[0])
            with s.start() as run:
                self.assertAskLook(read_state(run), TEXTS)
                self.assertEqual(drive(run, "click", YES)[0], 0)
                self.assertHandedOver(s, run, s.temp_dir)

    def test_the_packer_refuses_what_would_fail_every_customer(self):
        with Scenario(self.build) as s:
            path = os.path.join(s.root, PACKAGE)
            make_package(s.build, packaged_tree(s), FOLDER, path, signer=None)
            body = os.path.join(s.root, "body.ini")
            refusals = {
                "offer of an unsigned package": ["offer", "--package", path, "--url",
                                                 "http://h/" + PACKAGE],
                "sign-control of a body without a final line break":
                    ["sign-control", "--in", body, "--out", body + ".out", "--sign-cert",
                     self.build.control_signer[0], "--sign-key", self.build.control_signer[1]],
            }
            with open(body, "wb") as f:
                f.write(b"[KV-1000]\r\nRevision=6")
            for what, args in refusals.items():
                with self.subTest(what):
                    done = subprocess.run([self.packer()] + args, stdout=subprocess.PIPE,
                                          stderr=subprocess.PIPE)
                    self.assertEqual((done.returncode, done.stdout), (1, b""), done.stderr)
            self.assertFalse(os.path.exists(body + ".out"))


if __name__ == "__main__":
    harness.main()
