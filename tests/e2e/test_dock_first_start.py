"""End-to-end: on a fresh OBS the delay switch dock shows docked in the main window, with its
switch and dump buttons, and OBS keeps it there on the next start. A screenshot of the main
window is kept (scripts/update-screenshots.sh puts it in the README)."""

import argparse
import os
import sys
import time
import unittest

from obs_session import ObsSession, SessionTestCase
from test_obs_smoke import retry_on_shutdown_crash

ARGS = None
FIRST_START_LINE = "[Kestrel] delay switch dock shown beside the controls (first start)"
SWITCH_GREEN = (0x1F, 0x7A, 0x34)  # the switch button while delays are on
DUMP_BORDER = (0xC0, 0x70, 0x00)  # the dump button's orange frame


def pixels_near(rgb, colour, tolerance=6):
    count = 0
    for i in range(0, len(rgb) - 2, 3):
        if all(abs(rgb[i + k] - colour[k]) <= tolerance for k in range(3)):
            count += 1
    return count


class DockFirstStartTest(SessionTestCase):
    def setUp(self):
        self.session = ObsSession(ARGS.plugin, ARGS.data)
        self.session.start()

    def wait_for_main_window(self):
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline:
            if "==== Startup complete" in self.session.log_text():
                time.sleep(3)  # the window paints after the log says it is up
                return
            time.sleep(0.5)
        self.fail("OBS did not finish starting")

    def shows_buttons(self, name):
        """Checks the screen for both buttons; keeps the picture of OBS's main window."""
        os.makedirs(ARGS.artifacts, exist_ok=True)
        path = os.path.join(ARGS.artifacts, name)
        # The pointer in a corner, so no button shows its hovered colour.
        self.session.x_command("xdotool", "mousemove", "0", "1079")
        time.sleep(0.5)
        rgb = self.session.screenshot(path)
        # The switch button is at least 52 pixels high; the dump button's frame runs round a row
        # of its own.
        self.assertGreater(pixels_near(rgb, SWITCH_GREEN), 52 * 100, f"no switch button in {name}")
        self.assertGreater(pixels_near(rgb, DUMP_BORDER, 12), 200, f"no dump button in {name}")
        self.session.crop_to_window(path, "^OBS ")

    @retry_on_shutdown_crash
    def test_fresh_obs_shows_the_dock_docked_and_keeps_it(self):
        self.wait_for_main_window()
        self.assertIn(FIRST_START_LINE, self.session.log_text())
        self.shows_buttons("obs-main-window.png")
        self.session.stop_obs()

        self.session.start_obs()
        self.wait_for_main_window()
        self.assertNotIn(FIRST_START_LINE, self.session.log_text(), "placed again on the second start")
        self.shows_buttons("obs-second-start.png")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--plugin", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--artifacts", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
