#!/usr/bin/env python3
"""Writes a throwaway OBS home whose scene collection already uses Kestrel's filters: a looping
"program" tone with the audio delay and ducking keyed by a "microphone" that carries
push-to-delay (hold V, or the hotkey set in Settings > Hotkeys), next to a colour card and a
counting test picture shown 3 s late by the video delay."""

import argparse
import json
import os
import subprocess


def filter_entry(kind, name, settings):
    return {"id": kind, "versioned_id": kind, "name": name, "enabled": True, "settings": settings}


def demo_collection(tone_path, voice_path, clock_path):
    tone_filters = [
        filter_entry("orv_screen_delay_audio", "Screen Delay (audio)", {"delay_s": 3.0}),
        filter_entry("orv_screen_delay_duck", "Screen Delay Ducking (audio)",
                     {"duck_sidechain": "Demo Mic", "duck_key_delay_s": 3.0}),
    ]
    clock_filters = [
        filter_entry("orv_screen_delay_video", "Screen Delay (video)", {"delay_s": 3.0}),
    ]
    mic_filters = [
        filter_entry("orv_push_to_delay", "Push-to-Delay (mic)", {"delay_s": 3.0, "pd_vk": 86}),
    ]

    def source(name, kind, settings, filters=(), mixers=0):
        return {"id": kind, "versioned_id": kind, "name": name, "settings": settings,
                "filters": list(filters), "enabled": True, "muted": False, "volume": 1.0,
                "mixers": mixers, "flags": 0, "sync": 0, "balance": 0.5,
                "monitoring_type": 0, "hotkeys": {}}

    def item(name, item_id, x=0.0, y=0.0):
        return {"name": name, "id": item_id, "visible": True, "locked": False,
                "pos": {"x": x, "y": y}, "scale": {"x": 1.0, "y": 1.0}, "rot": 0.0,
                "align": 5, "bounds_type": 0, "bounds": {"x": 0.0, "y": 0.0},
                "crop_left": 0, "crop_top": 0, "crop_right": 0, "crop_bottom": 0}

    scene = source("Kestrel Demo", "scene", {"id_counter": 4, "custom_size": False,
                                             "items": [item("Colour Card", 1), item("Delayed Tone", 2),
                                                       item("Demo Mic", 3),
                                                       item("Delayed Clock", 4, 320.0, 180.0)]})
    return {
        "name": "Kestrel Demo",
        "current_scene": "Kestrel Demo",
        "current_program_scene": "Kestrel Demo",
        "scene_order": [{"name": "Kestrel Demo"}],
        "sources": [
            scene,
            source("Colour Card", "color_source_v3",
                   {"color": 4283215696, "width": 1280, "height": 720}),
            source("Delayed Tone", "ffmpeg_source",
                   {"local_file": tone_path, "looping": True, "is_local_file": True},
                   tone_filters, mixers=255),
            source("Delayed Clock", "ffmpeg_source",
                   {"local_file": clock_path, "looping": True, "is_local_file": True}, clock_filters),
            source("Demo Mic", "ffmpeg_source",
                   {"local_file": voice_path, "looping": True, "is_local_file": True},
                   mic_filters, mixers=255),
        ],
        "transitions": [],
        "groups": [],
    }


def make_media(home, name, graph, *options):
    path = os.path.join(home, name)
    if not os.path.exists(path):
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i", graph, *options, path],
                       check=True)
    return path


def forget_dock_placement(home):
    """global.ini below is written without OBS's saved layout, so the plug-in must place its dock
    again as on a first start."""
    settings = os.path.join(home, ".config", "Orvane", "WrenfieldBackups.conf")
    if os.path.exists(settings):
        with open(settings) as f:
            lines = [line for line in f if not line.startswith("delayDockPlaced=")]
        with open(settings, "w") as f:
            f.writelines(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("home")
    parser.add_argument("--websocket-port", type=int, default=0)
    args = parser.parse_args()

    config = os.path.join(args.home, ".config", "obs-studio")
    scenes = os.path.join(config, "basic", "scenes")
    profile = os.path.join(config, "basic", "profiles", "Kestrel_Demo")
    os.makedirs(scenes, exist_ok=True)
    os.makedirs(profile, exist_ok=True)

    # A beep each second makes the delay easy to hear; the "voice" is a lower, slower tone.
    tone = make_media(args.home, "demo-tone.wav", "sine=frequency=660:beep_factor=4:duration=10")
    voice = make_media(args.home, "demo-voice.wav", "sine=frequency=220:duration=7,volume=0.5")
    # The counter in the test picture makes the 3 s video delay easy to read off.
    clock = make_media(args.home, "demo-clock.mkv", "testsrc=size=640x360:rate=30:duration=10",
                       "-c:v", "mpeg4", "-q:v", "5")

    with open(os.path.join(scenes, "Kestrel_Demo.json"), "w") as f:
        json.dump(demo_collection(tone, voice, clock), f, indent=4)
    with open(os.path.join(profile, "basic.ini"), "w") as f:
        f.write("[General]\nName=Kestrel Demo\n\n[Video]\nBaseCX=1280\nBaseCY=720\n"
                "OutputCX=1280\nOutputCY=720\nFPSCommon=30\n")
    websocket = ""
    if args.websocket_port:
        websocket = ("\n[OBSWebSocket]\nFirstLoad=false\nServerEnabled=true\n"
                     f"ServerPort={args.websocket_port}\nAlertsEnabled=false\nAuthRequired=false\n"
                     "ServerPassword=unused\n")
    forget_dock_placement(args.home)
    with open(os.path.join(config, "global.ini"), "w") as f:
        f.write("[General]\nFirstRun=true\nLastVersion=486539266\n\n"
                "[Basic]\nProfile=Kestrel Demo\nProfileDir=Kestrel_Demo\n"
                "SceneCollection=Kestrel Demo\nSceneCollectionFile=Kestrel_Demo\n" + websocket)


if __name__ == "__main__":
    main()
