"""What the publisher and the administrator can say about an offer, end to end: the control
file's Rollout= offers a revision to part of the machines, by a bucket of each machine's
MachineGuid (set in the test prefix and put back), and kavro.ini's UpdateCheck=0 keeps Morvane
off the network altogether.

    python3 tests/e2e/test_offer_controls.py <build folder>
"""

import re

import harness
from dialog_driver import NO, drive
from harness import Scenario, ScenarioTest, control_file, machine_guid

# Two machines; which bucket each falls in is read from the trail, not assumed here.
MACHINES = ("4c4c4544-0042-3510-8052-b4c04f564433", "d2f1a7c3-5e1b-4c09-9f3a-0b6e8c2d4a11")


def offer_with_rollout(percent):
    """Revision 6 to the installed 5, with Rollout= in its section."""
    return control_file(revision=6) + b"Rollout=%d\r\n" % percent


class Rollout(ScenarioTest):

    def rollout_line(self, run):
        lines = [l for l in run.trail if l.startswith("update check: rollout ")]
        self.assertEqual(len(lines), 1, run.trail)
        return lines[0]

    def run_machine(self, guid, percent):
        """Morvane on a machine with this MachineGuid, offered revision 6 at `percent`; the
        run and its trail's rollout line."""
        with machine_guid(self.build, guid), Scenario(self.build) as s:
            s.install(revision=5)
            s.serve("ctl.ini", offer_with_rollout(percent))
            run = s.start()
            # Offered, the dialog asks; No then starts the local wizard, as not offered does.
            code, out = run.ui("state", 20000)
            run.dialog = out.strip().splitlines()[-1] if code == 0 else None
            if run.dialog is not None:
                self.assertEqual(drive(run, "click", NO)[0], 0)
            run.finish()
            line = self.rollout_line(run)
            self.assertWizardStartedOnceFromApp(run, s, dialog_allowed=True)
            self.assertEqual(s.control.requests(), ["GET /ctl.ini"])
            return run, line

    def test_two_machines_either_side_of_a_percentage_and_a_halt(self):
        buckets = []
        for guid in MACHINES:
            # Rollout=0 halts the release: no machine is offered it, whatever its bucket.
            run, line = self.run_machine(guid, 0)
            self.assertIsNone(run.dialog)
            match = re.match(r"^update check: rollout 0%, this machine is in bucket (\d+), "
                             r"not offered$", line)
            self.assertIsNotNone(match, line)
            buckets.append(int(match.group(1)))
        self.assertNotEqual(buckets[0], buckets[1], "the two machines share a bucket")
        # The percentage between them: the machine in the lower bucket gets the release, the
        # other does not, as the trail says.
        percent = max(buckets)
        for guid, bucket in zip(MACHINES, buckets):
            with self.subTest(guid=guid, bucket=bucket, percent=percent):
                run, line = self.run_machine(guid, percent)
                offered = bucket < percent
                self.assertEqual(run.dialog is not None, offered, run.trail)
                self.assertTrue(line.endswith("bucket %d, %s" % (
                    bucket, "offered" if offered else "not offered")), line)


class UpdatesOff(ScenarioTest):

    def test_update_check_off_starts_the_local_wizard_with_no_request(self):
        with Scenario(self.build) as s:
            s.install(revision=5, kavro={"ProductName": "Kavro Demo", "OSMajor": "5",
                                         "OSMinor": "1", "SPMajor": "3", "Bicon": "0",
                                         "UpdateCheck": "0"})
            s.serve("ctl.ini", control_file(revision=9))
            run = s.run()
            self.assertWizardStartedOnceFromApp(run, s)
            # Neither the support server (whose log records every connection) nor the control
            # server saw anything.
            self.assertEqual(s.support.requests(), [])
            self.assertEqual(s.control.requests(), [])
            self.assertIn("decision: local wizard, update checks turned off in kavro.ini",
                          run.trail)


if __name__ == "__main__":
    harness.main()
