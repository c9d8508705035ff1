"""End-to-end: a scene collection with a media source, backed up with kestrel-backup from one
user's real OBS and restored under a new name for another user, is what that user's OBS opens
next: the current collection, with its source pointing at the restored file and its profile at
the new home."""

import argparse
import asyncio
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from obs_session import INSTALLED, ObsSession, ObsShutdownCrash, command_line

ARGS = None
NEW_NAME = "New Show"
SOURCE = "Clip"


def read(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def stop(session):
    """OBS 29 now and then crashes in Qt after it has saved everything and begun shutting down;
    what these tests check was on disk by then."""
    try:
        session.stop_obs()
    except ObsShutdownCrash as crash:
        sys.stderr.write(f"OBS crashed while shutting down (ignored, its files were saved):\n{crash}\n")


def run(coroutine, timeout=240):
    return asyncio.run(asyncio.wait_for(coroutine, timeout))


class RestoreTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        """Alice's OBS: a media source and a recording folder in her home; then her backup."""
        cls.folder = tempfile.mkdtemp(prefix="kestrel-e2e-sync-")
        cls.alice = ObsSession(ARGS.plugin, ARGS.data, user="alice")
        try:
            alice = cls.alice
            clip = os.path.join(alice.home, "Videos", "clip.mp4")
            os.makedirs(os.path.dirname(clip))
            subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i",
                            "testsrc2=size=320x180:rate=30", "-t", "2", "-pix_fmt", "yuv420p", clip],
                           check=True)
            cls.clip_bytes = read_bytes(clip)
            alice.start()

            async def scenario():
                await alice.connect()
                scene = (await alice.request("GetCurrentProgramScene"))["currentProgramSceneName"]
                await alice.request("CreateInput", {
                    "sceneName": scene, "inputName": SOURCE, "inputKind": "ffmpeg_source",
                    "inputSettings": {"local_file": clip, "looping": True}})
                await alice.request("SetProfileParameter", {
                    "parameterCategory": "SimpleOutput", "parameterName": "FilePath",
                    "parameterValue": os.path.join(alice.home, "Videos", "Recordings")})
                await alice.ws.close()

            run(scenario())
            stop(alice)
            backup = cls.cli(alice, "backup")
            if backup.returncode != 0:
                raise RuntimeError(f"backup failed:\n{backup.stdout}{backup.stderr}")
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.alice.close()
        shutil.rmtree(cls.folder, ignore_errors=True)

    @classmethod
    def cli(cls, session, *args):
        env = dict(os.environ, HOME=session.home, XDG_CONFIG_HOME=os.path.join(session.home, ".config"))
        return subprocess.run([ARGS.cli, *args, "--folder", cls.folder], env=env, capture_output=True,
                              text=True, timeout=300)

    def restore(self, session):
        result = self.cli(session, "restore", "--name", NEW_NAME, "--yes", "--force")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("Restore complete.", result.stdout)
        return result

    def setUp(self):
        self.sessions = []

    def tearDown(self):
        failed = any(error for test, error in self._outcome.result.errors + self._outcome.result.failures
                     if test is self)
        for session in self.sessions:
            try:
                stop(session)
            finally:
                if failed:
                    sys.stderr.write("---- OBS log ----\n" + session.log_text() + "\n---- end ----\n")
                session.close()

    def new_session(self, user):
        session = ObsSession(ARGS.plugin, ARGS.data, user=user)
        self.sessions.append(session)
        session.install_plugin()
        session.write_global_ini()
        session.start_xvfb()
        return session

    async def opened_collection(self, session):
        """What OBS opened: (major version, current collection, all collections, the source's file,
        the recording folder)."""
        await session.connect()
        version = (await session.request("GetVersion"))["obsVersion"]
        collections = await session.request("GetSceneCollectionList")
        inputs = [i["inputName"] for i in (await session.request("GetInputList"))["inputs"]]
        clip = None
        if SOURCE in inputs:
            clip = (await session.request("GetInputSettings", {"inputName": SOURCE}))["inputSettings"].get(
                "local_file")
        recordings = (await session.request("GetProfileParameter", {
            "parameterCategory": "SimpleOutput", "parameterName": "FilePath"}))["parameterValue"]
        await session.ws.close()
        return (int(version.split(".")[0]), collections["currentSceneCollectionName"],
                collections["sceneCollections"], clip, recordings)

    def assert_opens_restored(self, session, opened):
        _, current, collections, clip, recordings = opened
        self.assertEqual(current, NEW_NAME)
        self.assertEqual(collections.count(NEW_NAME), 1, collections)
        self.assertEqual(clip, os.path.join(session.home, "Videos", "clip.mp4"))
        self.assertEqual(read_bytes(clip), self.clip_bytes)
        self.assertEqual(recordings, os.path.join(session.home, "Videos", "Recordings"))

    def test_backup_keeps_the_plug_in_obs_loads(self):
        """The command line finds the installed plug-in: the user's copy, else the package's."""
        loaded = glob.glob("/usr/lib/*/obs-plugins/kestrel.so")[0] if INSTALLED else ARGS.plugin
        stored = os.path.join(self.folder, "obs-cloud-backup", "plugin", "kestrel.so")
        self.assertEqual(read_bytes(stored), read_bytes(loaded))

    def test_restored_collection_is_what_obs_opens_for_another_user(self):
        bob = self.new_session("bob")
        # Bob's OBS has run once, so its settings hold the keys where this OBS keeps them.
        bob.start_obs()
        run(bob.connect())
        stop(bob)
        self.restore(bob)
        config = bob.config_dir()
        global_ini = read(os.path.join(config, "global.ini"))
        if "SceneCollectionFile=" in global_ini:
            # OBS 30 and older: the file stem; a ".json" here opens an empty NAME.json.json.
            self.assertIn("SceneCollectionFile=New_Show\n", global_ini)
        bob.start_obs()
        self.assert_opens_restored(bob, run(self.opened_collection(bob)))
        self.assertFalse(os.path.exists(os.path.join(config, "basic", "scenes", "New_Show.json.json")))

    def test_keys_in_user_ini_as_obs_31_keeps_them(self):
        carol = self.new_session("carol")
        config = carol.config_dir()
        user_ini = os.path.join(config, "user.ini")
        with open(user_ini, "w") as f:
            f.write("[General]\nFirstRun=true\n\n[Basic]\nProfile=Untitled\nProfileDir=Untitled\n"
                    "SceneCollection=Untitled\nSceneCollectionFile=Untitled.json\n")
        global_before = read(os.path.join(config, "global.ini"))
        self.restore(carol)
        after = read(user_ini)
        self.assertIn("SceneCollection=New Show\n", after)
        self.assertIn("SceneCollectionFile=New_Show.json\n", after)
        self.assertEqual(read(os.path.join(config, "global.ini")), global_before)
        scene = json.loads(read(os.path.join(config, "basic", "scenes", "New_Show.json")))
        self.assertEqual(scene["name"], NEW_NAME)
        # Only OBS 31 and later read user.ini; an older one opens its own first collection.
        carol.start_obs()
        opened = run(self.opened_collection(carol))
        if opened[0] >= 31:
            self.assert_opens_restored(carol, opened)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--plugin", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--cli", required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.cli = command_line(ARGS.cli)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
