"""End-to-end: the real obs loads the plug-in, the filters work over obs-websocket, and OBS
shuts down cleanly with the module unloaded and no leaks."""

import argparse
import asyncio
import base64
import functools
import glob
import json
import os
import struct
import subprocess
import sys
import time
import unittest

from obs_session import ObsSession, ObsShutdownCrash

ARGS = None


async def scene_name(session):
    return (await session.request("GetCurrentProgramScene"))["currentProgramSceneName"]


async def create_tone_input(session, name):
    tone = os.path.join(session.home, "tone.wav")
    subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=3",
                    tone], check=True)
    await session.request("CreateInput", {
        "sceneName": await scene_name(session), "inputName": name, "inputKind": "ffmpeg_source",
        "inputSettings": {"local_file": tone, "looping": True}})


RED, GREEN, BLUE = 0xFF0000FF, 0xFF00FF00, 0xFFFF0000  # colour sources take ABGR


async def create_colour_input(session, name, colour):
    await session.request("CreateInput", {
        "sceneName": await scene_name(session), "inputName": name, "inputKind": "color_source_v3",
        "inputSettings": {"color": colour, "width": 320, "height": 180}})


async def centre_colour(session, source):
    """The centre pixel of a source's picture as OBS renders it, as (r, g, b); BMP keeps the
    decoding to a few lines."""
    shot = await session.request("GetSourceScreenshot", {
        "sourceName": source, "imageFormat": "bmp", "imageWidth": 64, "imageHeight": 36})
    data = base64.b64decode(shot["imageData"].split(",", 1)[1])
    offset, width, height, bits = struct.unpack_from("<I", data, 10)[0], *struct.unpack_from("<iiHH", data, 18)[:2], \
        struct.unpack_from("<H", data, 28)[0]
    row = (width * bits // 8 + 3) // 4 * 4
    pixel = offset + abs(height) // 2 * row + width // 2 * (bits // 8)
    b, g, r = data[pixel], data[pixel + 1], data[pixel + 2]
    return r, g, b


async def colour_by(session, source, wanted, deadline):
    """The source's centre colour once it is `wanted`, or the last one seen at `deadline`
    (time.monotonic()): a busy machine may render a few frames late."""
    while True:
        seen = nearest(await centre_colour(session, source))
        if seen == wanted or time.monotonic() >= deadline:
            return seen
        await asyncio.sleep(0.1)


def nearest(rgb):
    names = {"red": (255, 0, 0), "green": (0, 255, 0), "blue": (0, 0, 255), "black": (0, 0, 0)}
    return min(names, key=lambda n: sum((a - b) ** 2 for a, b in zip(rgb, names[n])))


def retry_on_shutdown_crash(test):
    """OBS 29 itself now and then crashes in Qt's repaint code on its main thread while tearing
    its window down after SIGINT (about one run in fifteen here). Such a run is repeated once in
    a fresh OBS, so a fault that really is ours still fails."""
    @functools.wraps(test)
    def repeat_once(self):
        try:
            return test(self)
        except ObsShutdownCrash as crash:
            sys.stderr.write(f"OBS crashed while shutting down; repeating the test once.\n{crash}\n")
            self.session.close()
            self.setUp()
            return test(self)
    return repeat_once


class ObsSmokeTest(unittest.TestCase):
    def setUp(self):
        self.session = ObsSession(ARGS.plugin, ARGS.data)
        self.session.install_plugin()
        self.session.write_global_ini()
        self.session.start_xvfb()
        self.session.start_obs()

    def tearDown(self):
        failed = any(error for _, error in self._outcome.result.errors + self._outcome.result.failures
                     if _ is self)
        log = ""
        try:
            self.session.stop_obs()
        finally:
            log = self.session.log_text()
            if failed or not log:
                sys.stderr.write("---- OBS log ----\n" + log + "\n---- end of OBS log ----\n")
            self.session.close()

    def run_async(self, coroutine, timeout=240):
        return asyncio.run(asyncio.wait_for(coroutine, timeout))

    @retry_on_shutdown_crash
    def test_audio_delay_filter_round_trip_and_clean_exit(self):
        async def scenario():
            s = self.session
            await s.connect()
            await create_tone_input(s, "Kestrel Tone")
            await s.request("CreateSourceFilter", {
                "sourceName": "Kestrel Tone", "filterName": "Delay",
                "filterKind": "orv_screen_delay_audio", "filterSettings": {"delay_s": 1.5}})
            got = await s.request("GetSourceFilter", {"sourceName": "Kestrel Tone", "filterName": "Delay"})
            self.assertEqual(got["filterKind"], "orv_screen_delay_audio")
            self.assertTrue(got["filterEnabled"])
            self.assertAlmostEqual(got["filterSettings"]["delay_s"], 1.5)
            defaults = await s.request("GetSourceFilterDefaultSettings",
                                       {"filterKind": "orv_screen_delay_audio"})
            self.assertAlmostEqual(defaults["defaultFilterSettings"]["delay_s"], 20.0)
            await s.ws.close()

        self.run_async(scenario())
        self.session.stop_obs()
        log = self.session.log_text()
        self.assertIn("kestrel.so", log.split("Loaded Modules:")[-1], "module not listed as loaded")
        self.assertIn("[Kestrel] Module loaded", log)
        self.assertIn("[Kestrel] Module unloaded", log)
        self.assertIn("Number of memory leaks: 0", log)

    @retry_on_shutdown_crash
    def test_audio_filters_show_their_settings_and_the_hotkey_is_listed(self):
        async def scenario():
            s = self.session
            await s.connect()
            await create_tone_input(s, "Kestrel Mic")
            await create_tone_input(s, "Kestrel Game")
            await s.request("CreateSourceFilter", {
                "sourceName": "Kestrel Game", "filterName": "Ducking",
                "filterKind": "orv_screen_delay_duck",
                "filterSettings": {"duck_sidechain": "Kestrel Mic", "duck_key_delay_s": 1.5}})
            await s.request("CreateSourceFilter", {
                "sourceName": "Kestrel Mic", "filterName": "Push",
                "filterKind": "orv_push_to_delay", "filterSettings": {"delay_s": 2.5, "pd_vk": 9}})

            duck = await s.request("GetSourceFilter", {"sourceName": "Kestrel Game", "filterName": "Ducking"})
            self.assertEqual(duck["filterKind"], "orv_screen_delay_duck")
            self.assertEqual(duck["filterSettings"]["duck_sidechain"], "Kestrel Mic")
            self.assertAlmostEqual(duck["filterSettings"]["duck_key_delay_s"], 1.5)
            push = await s.request("GetSourceFilter", {"sourceName": "Kestrel Mic", "filterName": "Push"})
            self.assertEqual(push["filterKind"], "orv_push_to_delay")
            self.assertEqual(push["filterSettings"]["pd_vk"], 9)
            self.assertAlmostEqual(push["filterSettings"]["delay_s"], 2.5)

            defaults = (await s.request("GetSourceFilterDefaultSettings",
                                        {"filterKind": "orv_screen_delay_duck"}))["defaultFilterSettings"]
            self.assertEqual(defaults["duck_sidechain"], "none")
            self.assertAlmostEqual(defaults["duck_threshold_db"], -45.0)
            self.assertAlmostEqual(defaults["duck_amount_db"], -30.0)
            self.assertEqual(defaults["duck_attack_ms"], 10)
            self.assertEqual(defaults["duck_release_ms"], 150)
            defaults = (await s.request("GetSourceFilterDefaultSettings",
                                        {"filterKind": "orv_push_to_delay"}))["defaultFilterSettings"]
            self.assertEqual(defaults["pd_vk"], 86)
            self.assertTrue(defaults["pd_live_priority"])
            self.assertAlmostEqual(defaults["pd_duck_db"], -15.0)

            # The hotkey goes on the microphone once the filter sits on it (next video tick).
            for _ in range(50):
                if "orv_push_to_delay" in (await s.request("GetHotkeyList"))["hotkeys"]:
                    break
                await asyncio.sleep(0.1)
            self.assertIn("orv_push_to_delay", (await s.request("GetHotkeyList"))["hotkeys"])
            await s.ws.close()

        self.run_async(scenario())
        self.session.stop_obs()
        self.assertIn("Number of memory leaks: 0", self.session.log_text())
        # OBS saves the hotkey with the microphone it belongs to.
        mic = [source for source in saved_sources(self.session) if source["name"] == "Kestrel Mic"]
        self.assertEqual(len(mic), 1)
        self.assertIn("orv_push_to_delay", mic[0].get("hotkeys", {}))
        self.assertEqual([f["id"] for f in mic[0].get("filters", [])], ["orv_push_to_delay"])

    @retry_on_shutdown_crash
    def test_video_delays_show_the_old_colour_until_the_delay_has_passed(self):
        async def scenario():
            s = self.session
            await s.connect()
            await create_colour_input(s, "Kestrel Screen", RED)
            await create_colour_input(s, "Kestrel Cam", RED)
            await create_colour_input(s, "Kestrel Callout Cam", RED)
            await create_colour_input(s, "Kestrel H264 Screen", RED)
            await s.request("CreateSourceFilter", {
                "sourceName": "Kestrel Screen", "filterName": "Delay",
                "filterKind": "orv_screen_delay_video", "filterSettings": {"delay_s": 2.0}})
            await s.request("CreateSourceFilter", {
                "sourceName": "Kestrel H264 Screen", "filterName": "Delay",
                "filterKind": "orv_screen_delay_video", "filterSettings": {"delay_s": 2.0, "codec_engine": 2}})
            await s.request("CreateInput", {
                "sceneName": await scene_name(s), "inputName": "Kestrel Playback",
                "inputKind": "orv_delay_playback",
                "inputSettings": {"dpv_source": "Kestrel Cam", "dpv_mode": 0, "delay_s": 2.0,
                                  "dp_guide": False}})
            await s.request("CreateSourceFilter", {
                "sourceName": "Kestrel Callout Cam", "filterName": "Callout",
                "filterKind": "orv_push_to_delay_video", "filterSettings": {"delay_s": 2.0, "pdv_vk": 0}})

            delayed = ("Kestrel Screen", "Kestrel Playback", "Kestrel H264 Screen")
            await asyncio.sleep(2.0)
            filled = time.monotonic() + 20.0  # the delays have filled with red
            for source in delayed:
                self.assertEqual(await colour_by(s, source, "red", filled), "red", source)
            for source in ("Kestrel Screen", "Kestrel Cam", "Kestrel H264 Screen"):
                await s.request("SetInputSettings", {"inputName": source, "inputSettings": {"color": GREEN}})
            changed = time.monotonic()
            await asyncio.sleep(0.5)
            for source in delayed:
                self.assertEqual(nearest(await centre_colour(s, source)), "red", source)
            await asyncio.sleep(max(0.0, changed + 2.0 - time.monotonic()))
            for source in delayed:
                self.assertEqual(await colour_by(s, source, "green", changed + 4.0), "green", source)
            self.assertEqual(nearest(await centre_colour(s, "Kestrel Callout Cam")), "black",
                             "the callout camera shows nothing while its key is up")

            hotkeys = (await s.request("GetHotkeyList"))["hotkeys"]
            self.assertIn("orv_push_to_delay_cam", hotkeys)
            self.assertIn("orv_delay_playback_key", hotkeys)
            await s.ws.close()

        self.run_async(scenario())
        self.session.stop_obs()
        log = self.session.log_text()
        self.assertIn("[Kestrel] video delay READY: showing 2.0s-delayed video (compressed ring)", log)
        self.assertIn("@ 320x180 via libx264", log)
        self.assertIn("Number of memory leaks: 0", log)
        h264 = [f for source in saved_sources(self.session) if source["name"] == "Kestrel H264 Screen"
                for f in source.get("filters", [])]
        self.assertEqual([f["settings"].get("codec_engine") for f in h264], [2], "kept in the scene collection")

    @retry_on_shutdown_crash
    def test_dump_holds_the_last_delayed_frame_until_the_colour_after_it_is_due(self):
        async def scenario():
            s = self.session
            await s.connect()
            await create_colour_input(s, "Kestrel Dump Screen", RED)
            await s.request("CreateSourceFilter", {
                "sourceName": "Kestrel Dump Screen", "filterName": "Delay",
                "filterKind": "orv_screen_delay_video", "filterSettings": {"delay_s": 2.0}})
            await asyncio.sleep(2.5)  # the delay shows red
            colour = {"inputName": "Kestrel Dump Screen", "inputSettings": {"color": GREEN}}
            await s.request("SetInputSettings", colour)
            await asyncio.sleep(1.0)  # without the dump, green would go out from 1 s after it
            await s.request("TriggerHotkeyByName", {"hotkeyName": "orv_dump_delays"})
            dumped = time.monotonic()
            colour["inputSettings"]["color"] = BLUE
            await s.request("SetInputSettings", colour)
            for wait in (0.5, 1.5):
                await asyncio.sleep(max(0.0, dumped + wait - time.monotonic()))
                self.assertEqual(nearest(await centre_colour(s, "Kestrel Dump Screen")), "red", wait)
            await asyncio.sleep(max(0.0, dumped + 2.8 - time.monotonic()))
            self.assertEqual(nearest(await centre_colour(s, "Kestrel Dump Screen")), "blue")
            await s.ws.close()

        self.run_async(scenario())
        self.session.stop_obs()
        log = self.session.log_text()
        self.assertIn("[Kestrel] delays DUMPED: 1 delay(s) dropped everything they held", log)
        self.assertIn("Number of memory leaks: 0", log)

    @retry_on_shutdown_crash
    def test_delay_switch_dock_hotkey_and_saved_state(self):
        async def switch_everything(s):
            await s.connect()
            await create_tone_input(s, "Kestrel Game")
            await create_tone_input(s, "Kestrel Mic")
            await s.request("CreateSourceFilter", {"sourceName": "Kestrel Game", "filterName": "Delay",
                                                   "filterKind": "orv_screen_delay_audio"})
            await s.request("CreateSourceFilter", {"sourceName": "Kestrel Game", "filterName": "Ducking",
                                                   "filterKind": "orv_screen_delay_duck"})
            await s.request("CreateSourceFilter", {"sourceName": "Kestrel Mic", "filterName": "Push",
                                                   "filterKind": "orv_push_to_delay"})
            await s.request("CreateSourceFilter", {"sourceName": "Kestrel Mic", "filterName": "Gain",
                                                   "filterKind": "gain_filter"})
            self.assertGreater(wait_for_screen(s, "delay-switch-dock-on.png", DELAYS_ON_COLOURS), 3000,
                               "no green delay switch button on screen")

            await toggle_all_delays(s)
            self.assertEqual(await filters_enabled(s, DELAY_FILTERS), [False, False, False])
            self.assertEqual(await filters_enabled(s, [("Kestrel Mic", "Gain")]), [True])
            self.assertGreater(wait_for_screen(s, "delay-switch-dock-off.png", DELAYS_OFF_COLOURS), 3000,
                               "the button did not turn red")
            await toggle_all_delays(s)
            self.assertEqual(await filters_enabled(s, DELAY_FILTERS), [True, True, True])

            await s.request("SetSourceFilterEnabled", {"sourceName": "Kestrel Game", "filterName": "Ducking",
                                                       "filterEnabled": False})
            await s.ws.close()

        async def reload_with_one_filter_off(s):
            await s.connect()
            self.assertGreater(wait_for_screen(s, "delay-switch-dock-reloaded.png", DELAYS_OFF_COLOURS), 3000,
                               "the switch did not load off")
            # Off, so the next toggle turns every delay on.
            await toggle_all_delays(s)
            self.assertEqual(await filters_enabled(s, DELAY_FILTERS), [True, True, True])
            await s.ws.close()

        self.run_async(switch_everything(self.session))
        self.session.stop_obs()
        self.assertIn("[Kestrel] delays DESACTIVADOS (todo en vivo)", self.session.log_text())
        self.session.start_obs()
        self.run_async(reload_with_one_filter_off(self.session))
        self.session.stop_obs()
        log = self.session.log_text()
        self.assertIn("[Kestrel] delays start DISABLED (filter eye off) — press the key to enable", log)
        self.assertIn("[Kestrel] delays REACTIVADOS", log)
        self.assertIn("Number of memory leaks: 0", log)


DELAYS_ON_COLOURS = [(0x1f, 0x7a, 0x34), (0x25, 0x92, 0x3f)]   # the button, plain and hovered
DELAYS_OFF_COLOURS = [(0x8a, 0x20, 0x20), (0xa0, 0x28, 0x28)]
DELAY_FILTERS = [("Kestrel Game", "Delay"), ("Kestrel Game", "Ducking"), ("Kestrel Mic", "Push")]


def count_pixels(rgb, colours):
    wanted = {bytes(colour) for colour in colours}
    return sum(1 for i in range(0, len(rgb), 3) if rgb[i:i + 3] in wanted)


async def filters_enabled(session, filters):
    return [(await session.request("GetSourceFilter", {"sourceName": source, "filterName": name}))["filterEnabled"]
            for source, name in filters]


async def toggle_all_delays(session):
    # One toggle per 200 ms is accepted; give the previous one time to pass.
    await asyncio.sleep(0.3)
    await session.request("TriggerHotkeyByName", {"hotkeyName": "orv_toggle_all_delays"})


def wait_for_screen(session, name, colours, timeout=15):
    """Screenshots into the artifact folder until the button shows in `colours`; returns the
    number of button pixels seen last."""
    deadline = time.monotonic() + timeout
    while True:
        found = count_pixels(session.screenshot(os.path.join(ARGS.artifacts, name)), colours)
        if found > 3000 or time.monotonic() > deadline:
            return found
        time.sleep(0.5)


def saved_sources(session):
    """Sources of every scene collection OBS saved in the session's home."""
    sources = []
    for path in glob.glob(os.path.join(session.config_dir(), "basic", "scenes", "*.json")):
        with open(path) as f:
            sources.extend(json.load(f).get("sources", []))
    return sources


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--plugin", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--artifacts", default=".", help="folder for the screenshots")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
