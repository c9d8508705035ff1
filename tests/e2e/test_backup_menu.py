"""End-to-end: the Tools menu of the real obs holds "Cloud Backup / Restore…", choosing it
opens the backup dialog, and a backup started there restores as the collection OBS opens. The
menu and the dialog are driven with xdotool under the session's Xvfb; screenshots of the open
menu and of the dialog are kept for review."""

import argparse
import asyncio
import glob
import json
import os
import subprocess
import sys
import time
import unittest

from obs_session import ObsSession, SessionTestCase, command_line
from test_obs_smoke import retry_on_shutdown_crash

ARGS = None
DIALOG_TITLE = "Copia en la nube de OBS"  # a fresh settings store opens in Spanish
MARKER = "Kestrel Marker"


class BackupMenuTest(SessionTestCase):
    def setUp(self):
        # The screenshots keep the dialog's size on a small screen.
        self.session = ObsSession(ARGS.plugin, ARGS.data, screen="1280x720")
        self.session.start()
        self.env = dict(os.environ, DISPLAY=self.session.display)

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
    def test_a_recording_that_stops_makes_one_automatic_backup_shown_in_the_dialog(self):
        backups = os.path.join(self.session.home, "Backups")
        os.makedirs(backups)
        plugin_config = os.path.join(self.session.config_dir(), "plugin_config", "kestrel")
        os.makedirs(plugin_config, exist_ok=True)
        # Read at every event, as the dialog would have saved them.
        with open(os.path.join(plugin_config, "cloud-backup.json"), "w") as f:
            json.dump({"provider": 2, "local_path": backups,
                       "auto_backup": {"after_recording": True, "on_exit": True}}, f)

        async def record():
            await self.session.connect()
            await self.session.request("StartRecord")
            await asyncio.sleep(2)
            await self.session.request("StopRecord")
        asyncio.run(asyncio.wait_for(record(), 180))

        history = os.path.join(backups, "obs-cloud-backup", "history", "*.json")
        deadline = time.monotonic() + 60
        while "Automatic backup (recording) done" not in self.session.log_text() and time.monotonic() < deadline:
            time.sleep(0.5)
        self.assertIn("Automatic backup (recording) done", self.session.log_text())
        time.sleep(2)
        self.assertEqual(len(glob.glob(history)), 1, "one recording, one backup")
        with open(os.path.join(plugin_config, "auto-backup.json")) as f:
            outcome = json.load(f)["last_run"]
        self.assertEqual(outcome["trigger"], "recording")
        self.assertTrue(outcome["ok"], outcome)
        self.assertGreater(outcome["copied"], 0)

        # The dialog's Settings page shows that outcome at its foot; its render is kept for
        # review, the dialog moved up so its foot is on the 720-line screen.
        dialog = self.open_backup_dialog()
        geometry = self.xdotool("getwindowgeometry", dialog)
        height = int(geometry[geometry.index("Geometry:") + 1].split("x")[1])
        self.xdotool("windowmove", dialog, "200", str(min(0, 720 - height)))
        time.sleep(1)
        self.assertGreater(os.path.getsize(self.screenshot("auto-backup-dialog.png")), 10000)
        self.xdotool("windowfocus", "--sync", dialog)
        self.xdotool("key", "Escape")
        # At exit the run finishes inside OBS's shutdown; a new backup only if OBS's last save
        # changed a file.
        self.session.stop_obs()
        log = self.session.log_text()
        self.assertIn("Automatic backup (exit) done", log)
        self.assertEqual(len(glob.glob(history)), 1 if "(nothing changed, no new backup)" in log else 2)
        self.assertIn("Number of memory leaks: 0", log)

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

        restore = subprocess.run([ARGS.cli, "restore", "--folder", folder, "--obs-config", s.config_dir(),
                                  "--name", "Kestrel Restored", "--yes", "--force"],
                                 env=dict(os.environ, HOME=s.home), capture_output=True, text=True)
        self.assertEqual(restore.returncode, 0, restore.stdout + restore.stderr)
        # OBS 31+ reads the active collection from user.ini with ".json"; older ones from
        # global.ini as a file stem.
        ini, file_value = ("user.ini", "Kestrel_Restored.json") if int(version.split(".")[0]) >= 31 \
            else ("global.ini", "Kestrel_Restored")
        with open(os.path.join(s.config_dir(), ini)) as f:
            lines = f.read().splitlines()
        self.assertIn("SceneCollection=Kestrel Restored", lines)
        self.assertIn("SceneCollectionFile=" + file_value, lines)

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
    ARGS.cli = command_line(ARGS.cli)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
