"""End-to-end: the Tools menu of the real obs holds "Cloud Backup / Restore…", choosing it
opens the backup dialog, and a backup started there restores as the collection OBS opens. The
menu and the dialog are driven with xdotool under the session's Xvfb; screenshots of the open
menu and of the dialog are kept for review."""

import argparse
import asyncio
import json
import os
import subprocess
import sys
import time
import unittest

from obs_session import ObsSession
from test_obs_smoke import retry_on_shutdown_crash

ARGS = None
DIALOG_TITLE = "Copia en la nube de OBS"  # a fresh settings store opens in Spanish
MARKER = "Kestrel Marker"


class BackupMenuTest(unittest.TestCase):
    def setUp(self):
        self.session = ObsSession(ARGS.plugin, ARGS.data)
        self.session.start()
        self.env = dict(os.environ, DISPLAY=self.session.display)

    def tearDown(self):
        try:
            self.session.stop_obs()
        finally:
            if any(error for test, error in self._outcome.result.errors + self._outcome.result.failures
                   if test is self):
                sys.stderr.write("---- OBS log ----\n" + self.session.log_text() + "\n---- end ----\n")
            self.session.close()

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True).stdout.split()

    def wait_for_window(self, name, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.xdotool("search", "--onlyvisible", "--name", name)
            if found:
                return found[0]
            time.sleep(0.2)
        return None

    def screenshot(self, name):
        os.makedirs(ARGS.artifacts, exist_ok=True)
        path = os.path.join(ARGS.artifacts, name)
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-video_size", "1280x720",
                        "-i", self.session.display, "-frames:v", "1", path], env=self.env, check=True)
        return path

    def open_backup_dialog(self, menu_screenshot=None):
        """Chooses the Tools menu item and returns the dialog's window. Plug-in items follow
        OBS's own at the end of the menu; walk up from the bottom until the dialog opens,
        closing whatever else an item opened."""
        main_window = self.wait_for_window("^OBS ")
        self.assertIsNotNone(main_window, "no OBS main window")
        for steps in range(1, 5):
            self.xdotool("windowfocus", "--sync", main_window)
            self.xdotool("key", "--delay", "150", "alt+t")
            time.sleep(0.5)
            self.xdotool("key", "--delay", "150", *(["Up"] * steps))
            if steps == 1 and menu_screenshot:
                self.screenshot(menu_screenshot)
            self.xdotool("key", "Return")
            dialog = self.wait_for_window(DIALOG_TITLE, timeout=5)
            if dialog:
                return dialog
            self.xdotool("key", "Escape")
        self.fail("choosing the Tools menu item did not open the backup dialog")

    def close_dialog(self, dialog):
        self.xdotool("windowfocus", "--sync", dialog)
        self.xdotool("key", "Escape")
        deadline = time.monotonic() + 10
        while self.xdotool("search", "--onlyvisible", "--name", DIALOG_TITLE) and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertFalse(self.xdotool("search", "--onlyvisible", "--name", DIALOG_TITLE), "dialog did not close")

    @retry_on_shutdown_crash
    def test_tools_menu_item_opens_the_backup_dialog(self):
        asyncio.run(asyncio.wait_for(self.session.connect(), 120))
        dialog = self.open_backup_dialog(menu_screenshot="tools-menu.png")
        time.sleep(1)
        self.assertGreater(os.path.getsize(self.screenshot("backup-dialog.png")), 10000)
        self.close_dialog(dialog)
        self.session.stop_obs()
        self.assertIn("Number of memory leaks: 0", self.session.log_text())

    @retry_on_shutdown_crash
    def test_backup_from_the_dialog_restores_as_the_collection_obs_opens(self):
        s = self.session
        version = asyncio.run(asyncio.wait_for(self.add_marker_input(), 120))
        s.stop_obs()  # OBS saves the collection as it exits
        folder = os.path.join(s.home, "Sync Folder")
        os.makedirs(folder)
        settings = os.path.join(s.config_dir(), "plugin_config", "kestrel")
        os.makedirs(settings, exist_ok=True)
        with open(os.path.join(settings, "cloud-backup.json"), "w") as f:
            json.dump({"provider": 2, "local_path": folder}, f)

        s.start_obs()
        asyncio.run(asyncio.wait_for(s.connect(), 120))
        dialog = self.open_backup_dialog()
        # From the language list: the tab bar, the Backup tab, its log, its start button.
        self.xdotool("windowfocus", "--sync", dialog)
        self.xdotool("key", "--delay", "200", "Tab", "Right", "Tab", "Tab", "space")
        manifest_path = os.path.join(folder, "obs-cloud-backup", "manifest.json")
        deadline = time.monotonic() + 60
        while not os.path.exists(manifest_path) and time.monotonic() < deadline:
            time.sleep(0.5)
        time.sleep(1)
        self.screenshot("backup-done.png")
        self.assertTrue(os.path.exists(manifest_path), "the dialog's backup wrote no manifest")
        with open(manifest_path) as f:
            manifest = json.load(f)
        self.assertEqual([e["name"] for e in manifest["sceneCollections"]], ["Untitled.json"])
        self.xdotool("key", "--delay", "300", "Return", "Escape")  # the result box, then the dialog
        s.stop_obs()

        if int(version.split(".")[0]) < 31:
            self.skipTest("OBS before 31 reads the active collection from global.ini as a file stem")
        restore = subprocess.run([ARGS.cli, "restore", "--folder", folder, "--obs-config", s.config_dir(),
                                  "--name", "Kestrel Restored", "--yes", "--force"],
                                 env=dict(os.environ, HOME=s.home), capture_output=True, text=True)
        self.assertEqual(restore.returncode, 0, restore.stdout + restore.stderr)
        with open(os.path.join(s.config_dir(), "user.ini")) as f:
            user_ini = f.read().splitlines()
        self.assertIn("SceneCollection=Kestrel Restored", user_ini)
        self.assertIn("SceneCollectionFile=Kestrel_Restored.json", user_ini)

        s.start_obs()
        asyncio.run(asyncio.wait_for(self.expect_restored_collection(), 120))

    async def add_marker_input(self):
        s = self.session
        await s.connect()
        scene = (await s.request("GetCurrentProgramScene"))["currentProgramSceneName"]
        await s.request("CreateInput", {"sceneName": scene, "inputName": MARKER, "inputKind": "color_source_v3",
                                        "inputSettings": {"width": 64, "height": 64}})
        version = (await s.request("GetVersion"))["obsVersion"]
        await s.ws.close()
        return version

    async def expect_restored_collection(self):
        s = self.session
        await s.connect()
        collections = await s.request("GetSceneCollectionList")
        self.assertEqual(collections["currentSceneCollectionName"], "Kestrel Restored")
        inputs = [i["inputName"] for i in (await s.request("GetInputList"))["inputs"]]
        self.assertIn(MARKER, inputs)
        await s.ws.close()

if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--plugin", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--cli", required=True, help="the kestrel-backup program")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
