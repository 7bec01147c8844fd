"""The signed offer end to end: a control file whose signature holds, by the maker, and is not
past its Expires= opens the dialog; every other one (unsigned, a body byte changed, another
signer, not a signature, a second signature section, expired, a revoked signer, an untrusted
root) starts the local wizard at once with no window, and the trail says why once as
"failure: offer/<cause>". A control file that offers nothing newer is not judged at all.

    python3 tests/e2e/test_signed_offer.py <build folder>
"""

import base64
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Scenario, ScenarioTest, control_file, signed_control_file  # noqa: E402
from fixture_server import sign_control  # noqa: E402
from packages import make_crl, make_signer  # noqa: E402


def failures(run):
    return [line for line in run.trail if line.startswith("failure: ")]


class SignedOffer(ScenarioTest):

    def offers(self, s, name="ctl.ini", asked=False):
        """Runs Morvane against the served control file `name` (waiting for the dialog when it
        should ask, which the run closes)."""
        s.install(revision=5, ctl_name=name)
        return s.run_expecting_dialog() if asked else s.run()

    def test_only_the_makers_current_offer_is_asked_about(self):
        body = control_file(revision=6)
        signed = signed_control_file(self.build, body)
        with open(os.path.join(self.build.pki, "root.der"), "rb") as f:
            root_der = f.read()
        not_a_signature = body + b"[Signature]\r\nPKCS7=%s\r\n" % base64.b64encode(root_der)
        # (served as, bytes, the failure or None when the dialog asks)
        cases = {
            "signed by the maker": ("ctl.ini", body, None),
            "unsigned": ("ctl.txt", body, "offer/unsigned"),
            "one body byte changed": ("ctl.ini", signed.replace(b"Revision=6", b"Revision=7", 1),
                                      "offer/bad-signature"),
            "another signer": ("ctl.ini", signed_control_file(self.build, body, "other"),
                               "offer/other-signer"),
            "not a signature": ("ctl.ini", not_a_signature, "offer/bad-signature"),
            "a second signature section": ("ctl.ini", signed + signed[len(body):],
                                           "offer/bad-signature"),
            "a root no store holds": ("ctl.ini", signed_control_file(self.build, body, "stranger"),
                                      "offer/bad-signature"),
            "expired": ("ctl.ini", control_file(revision=6, extra={
                "Morvane": {"Expires": "2020-02-29T12:00:00Z"}}), "offer/expired"),
            "current": ("ctl.ini", control_file(revision=6, extra={
                "Morvane": {"Expires": "2999-12-31T23:59:59Z"}}), None),
        }
        for name, (served_as, data, failure) in cases.items():
            with self.subTest(name), Scenario(self.build) as s:
                s.serve(served_as, data)
                self.assertOffer(s, self.offers(s, served_as, failure is None), failure)

    def test_a_revoked_signer_offers_nothing(self):
        """Signers made now under the test root, with a CRL on loopback that lists one."""
        with Scenario(self.build) as s:
            folder = os.path.join(s.root, "signers")
            crl = s.control.url("crl/root.crl")
            revoked = make_signer(self.build, folder, "revoked", "Dekavroline Revoked", crl)
            good = make_signer(self.build, folder, "good", "Dekavroline Good", crl)
            os.makedirs(os.path.join(s.www, "crl"))
            make_crl(self.build, folder, [revoked], os.path.join(s.www, "crl", "root.crl"))
            body = control_file(revision=6)
            s.serve("revoked.ini", sign_control(body, revoked + ".crt", revoked + ".key"))
            s.serve("good.ini", sign_control(body, good + ".crt", good + ".key"))
            self.assertOffer(s, self.offers(s, "revoked.ini"), "offer/revoked")
            self.assertIn("GET /crl/root.crl", s.control.requests())
            self.assertOffer(s, self.offers(s, "good.ini", asked=True), None)

    def test_nothing_newer_is_not_judged(self):
        """A control file offering nothing newer costs no cryptography, whatever its form."""
        for served_as in ("ctl.ini", "ctl.txt"):
            with self.subTest(served_as), Scenario(self.build) as s:
                s.serve(served_as, control_file(revision=5))
                run = self.offers(s, served_as)
                self.assertWizardStartedOnceFromApp(run, s)
                self.assertEqual(failures(run), [], run.trail)
                self.assertFalse([l for l in run.trail if l.startswith("offer signature")],
                                 run.trail)

    def assertOffer(self, s, run, failure):
        if failure is None:
            self.assertIsNotNone(run.dialog, "the maker's offer must be asked about: %s"
                                 % run.trail)
            self.assertEqual(failures(run), [], run.trail)
            self.assertIn("offer signature: accepted, signed by \"Dekavroline",
                          "\n".join(run.trail))
        else:
            # At once, with no window: the local wizard, as for no offer at all.
            self.assertWizardStartedOnceFromApp(run, s)
            self.assertEqual(failures(run), ["failure: " + failure], run.trail)


if __name__ == "__main__":
    harness.main()
