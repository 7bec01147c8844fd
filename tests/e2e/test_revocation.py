"""The signer's revocation, asked with the test PKI: signers made now under the test root, each
with a CRL distribution point on loopback, files signed by them, and the package check followed
by the revocation check as the update worker runs them (check_host.exe --revocation). The CRL
is the test root's, made by openssl. A revoked signer is refused; a server that never answers,
or refuses the connection, accepts the file within the 5 s bound, and a certificate without a
distribution point is accepted without a request.

    python3 tests/e2e/test_revocation.py <build folder>
"""

import os
import shutil
import socket
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Scenario, ScenarioTest, wine_path  # noqa: E402
from packages import make_crl, make_signer, sign  # noqa: E402

BUDGET_MS = 5000
# What the check may take beyond its budget: the tick count's granularity and a loaded machine.
SLACK_MS = 500


def closed_port():
    """A loopback port nobody listens on: a connection there is refused at once."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Revocation(ScenarioTest):

    def check(self, paths):
        """{path: (judged, outcome, ms)} from check_host.exe --revocation."""
        host = os.path.join(self.build.fixtures, "check_host.exe")
        code, out = self.build.wine_output([host, "--revocation"] + [wine_path(p) for p in paths])
        self.assertEqual(code, 0, out)
        lines = [l.split() for l in out.splitlines() if l[:2] in ("0 ", "1 ")]
        self.assertEqual(len(lines), len(paths), out)
        return {p: (int(l[0]), l[1], int(l[2])) for p, l in zip(paths, lines)}

    def test_revoked_is_refused_and_an_unanswered_check_accepts_within_its_bound(self):
        with Scenario(self.build, online=False) as s:
            # Without a distribution point nothing is asked, so no server sees a request.
            plain = os.path.join(self.build.fixtures, "pki", "signed-dekavroline.exe")
            judged, outcome, ms = self.check([plain])[plain]
            self.assertEqual((judged, outcome), (1, "no-information"))
            self.assertEqual(s.control.requests(), [])

            folder = os.path.join(s.root, "signers")
            crl = s.control.url("crl/root.crl")
            signers = {
                "revoked": make_signer(self.build, folder, "revoked", "Dekavroline Revoked", crl),
                "good": make_signer(self.build, folder, "good", "Dekavroline Good", crl),
                "silent": make_signer(self.build, folder, "silent", "Dekavroline Silent",
                                      s.control.url("silent/root.crl")),
                "refused": make_signer(self.build, folder, "refused", "Dekavroline Refused",
                                       "http://127.0.0.1:%d/root.crl" % closed_port()),
            }
            os.makedirs(os.path.join(s.www, "crl"))
            make_crl(self.build, folder, [signers["revoked"]],
                     os.path.join(s.www, "crl", "root.crl"))
            files = {}
            for name, signer in signers.items():
                files[name] = os.path.join(s.root, name + ".exe")
                shutil.copy(os.path.join(self.build.fixtures, "pki", "unsigned.exe"), files[name])
                sign(self.build, files[name], signer)
            # Asked again in the same process, as Retry does: Wine 8 then answers from a cache
            # that calls the revoked certificate good; ours remembers it.
            files["revoked again"] = os.path.join(s.root, "revoked-again.exe")
            shutil.copy(files["revoked"], files["revoked again"])
            results = self.check(list(files.values()))
            # (outcome, most milliseconds)
            expected = {"revoked": ("revoked", BUDGET_MS), "good": ("not-revoked", BUDGET_MS),
                        "revoked again": ("revoked", BUDGET_MS),
                        "silent": ("no-answer", BUDGET_MS + SLACK_MS),
                        "refused": ("no-answer", 1500)}
            for name, (outcome, most_ms) in expected.items():
                with self.subTest(name):
                    judged, got, ms = results[files[name]]
                    print("revocation %s: %s in %d ms" % (name, got, ms), file=sys.stderr)
                    self.assertEqual((judged, got), (1, outcome))
                    self.assertLessEqual(ms, most_ms)
            self.assertIn("GET /crl/root.crl", s.control.requests())
            self.assertIn("GET /silent/root.crl", s.control.requests())


if __name__ == "__main__":
    harness.main()
