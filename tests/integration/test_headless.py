"""chimebox-headless as a process: start-up against a simulated Apple support root, device events
and the shutdown on end of input or SIGTERM.
Usage: test_headless.py HEADLESS SUPPORT_ROOT BUILD_DIR linux|windows"""
import shutil
import signal
import sys
import unittest
from pathlib import Path

from headless import Run, wait_until

HEADLESS = sys.argv[1]
SUPPORT = Path(sys.argv[2])
BUILD = Path(sys.argv[3])
WINDOWS = sys.argv[4] == "windows"
SLOW = 30 if WINDOWS else 5  # Wine process start-up is slow


class HeadlessTest(unittest.TestCase):
    def setUp(self):
        self.run_ = Run(HEADLESS, WINDOWS)

    def tearDown(self):
        self.run_.cleanup()

    def test_attached_phone_is_identified_in_a_session(self):
        phone = self.run_.phone("udid-1")
        self.run_.start(SUPPORT)
        phone.attach()
        self.assertTrue(wait_until(lambda: phone.calls("AMDeviceDisconnect"), SLOW), phone.calls())
        self.assertEqual([c.split("\t")[0] for c in phone.calls("AMDeviceConnect", "AMDeviceStartSession",
                                                                 "AMDeviceStopSession", "AMDeviceDisconnect")][:4],
                         ["AMDeviceConnect", "AMDeviceStartSession", "AMDeviceStopSession", "AMDeviceDisconnect"])
        self.assertEqual(self.run_.stop(), 0)

    def support_with_airtraffic(self, replacement):
        """A copy of the support root whose AirTrafficHost.dll is replaced (None: removed)."""
        support = self.run_.tmp / "support"
        shutil.copytree(SUPPORT, support)
        target = support / "Mobile Device Support" / "AirTrafficHost.dll"
        target.unlink()
        if replacement:
            shutil.copy(BUILD / "tests/unit/device" / replacement / "AirTrafficHost.dll", target)
        return support

    def test_binding_decides_whether_device_events_are_handled(self):
        cases = [  # (AirTrafficHost.dll, events handled)
            (None, False),
            ("partial-airtraffic-called", False),  # lacks an entry point the program calls
            ("partial-airtraffic-uncalled", True),  # lacks only one that is never called
        ]
        for replacement, handled in cases:
            with self.subTest(replacement=replacement):
                self.run_.cleanup()
                self.run_ = Run(HEADLESS, WINDOWS)
                phone = self.run_.phone("udid-1")
                phone.attach()
                self.run_.start(self.support_with_airtraffic(replacement))
                # Once the heartbeat or the event thread would have acted, look.
                self.assertEqual(bool(wait_until(lambda: phone.calls("AMDeviceConnect"), SLOW if handled else 3)), handled)
                self.assertEqual(self.run_.stop(), 0)

    @unittest.skipIf(WINDOWS, "signals are a POSIX matter")
    def test_sigterm_ends_the_program(self):
        self.run_.phone("udid-1").attach()
        proc = self.run_.start(SUPPORT)
        wait_until(lambda: False, 0.5)
        proc.send_signal(signal.SIGTERM)
        self.assertEqual(proc.wait(timeout=10), 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
