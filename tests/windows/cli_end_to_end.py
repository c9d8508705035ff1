#!/usr/bin/env python3
"""kestrel-backup.exe under Wine: alice backs up her OBS configuration, with media on C: and on a
second drive D:, and bob restores it under a new collection name. Every restored file is checked
byte for byte and for the paths inside it; a scene that names alice's browser profile in AppData
gets no copy of it into the backup.

usage: cli_end_to_end.py KESTREL_BACKUP_EXE   (WINEPREFIX names a prefix made for this run)
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

exe = Path(sys.argv[1]).resolve()
prefix = Path(os.environ["WINEPREFIX"])
wine = Path(__file__).resolve().parents[2] / "scripts/lib/wine-run.sh"
drive_c = prefix / "drive_c"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def run_as(user, *arguments):
    """Runs the program with USERPROFILE set to C:\\Users\\USER, as that user's session would.
    Wine sets USERPROFILE itself, so a batch file sets it again (arguments are plain ASCII)."""
    batch = drive_c / "kestrel-run.bat"
    quoted = " ".join(f'"{a}"' if " " in a else a for a in arguments)
    batch.write_bytes((f"@set USERPROFILE=C:\\Users\\{user}\r\n"
                       f"@\"Z:{str(exe).replace('/', chr(92))}\" {quoted}\r\n"
                       "@exit /b %ERRORLEVEL%\r\n").encode("ascii"))
    done = subprocess.run([str(wine), "cmd", "/c", "C:\\kestrel-run.bat"], capture_output=True, text=True,
                          encoding="utf-8", errors="replace", timeout=300)
    batch.unlink()
    print(f"$ kestrel-backup {' '.join(arguments)}  ({user}, exit {done.returncode})")
    print(done.stdout + done.stderr)
    return done


def write(path, data):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)


# A second drive, as a USB disk or a data partition, mapped into the prefix for this run.
drive_d = Path(tempfile.mkdtemp(prefix="kestrel-wine-d-"))
d_link = prefix / "dosdevices/d:"
if d_link.is_symlink() or d_link.exists():
    d_link.unlink()
d_link.symlink_to(drive_d)
users = drive_c / "users"  # Wine's own folder: C:\\Users names it
try:
    alice = users / "alice"
    config = alice / "AppData/Roaming/obs-studio"
    media = {
        alice / "Videos/intro ñ.mp4": os.urandom(300_000),
        alice / "Música/配信 🎥.wav": os.urandom(70_000),
        alice / ("Videos/" + "v" * 120 + "/" + "w" * 120 + "/clip.mkv"): b"long path",
        drive_d / "Media/logo.png": os.urandom(5_000),
    }
    for path, data in media.items():
        write(path, data)
    write(alice / "AppData/Local/Google/Chrome/User Data/Default/Login Data", b"passwords")
    long_clip = "C:/Users/alice/Videos/" + "v" * 120 + "/" + "w" * 120 + "/clip.mkv"
    scene = {
        "name": "Show",
        "sources": [
            {"settings": {"local_file": "C:/Users/alice/Videos/intro ñ.mp4"}},
            {"settings": {"file": "C:\\Users\\alice\\Música\\配信 🎥.wav"}},
            {"settings": {"local_file": long_clip}},
            {"settings": {"file": "D:/Media/logo.png"}},
            {"settings": {"file": "C:/Users/alice/AppData/Local/Google/Chrome/User Data/Default/Login Data"}},
        ],
    }
    scene_bytes = json.dumps(scene, ensure_ascii=False, indent=4).encode()
    write(config / "basic/scenes/Show.json", scene_bytes)
    ini = b"[General]\r\nName=Main\r\n[SimpleOutput]\r\nFilePath=C:\\Users\\alice\\Videos\r\n"
    write(config / "basic/profiles/Main/basic.ini", ini)
    write(config / "global.ini", b"[Basic]\r\nProfile=Main\r\nSceneCollection=Show\r\nSceneCollectionFile=Show\r\n")

    backup = run_as("alice", "backup", "--folder", "D:\\OneDrive\\OBS", "--obs-config",
                    "C:\\Users\\alice\\AppData\\Roaming\\obs-studio")
    check(backup.returncode == 0, "backup succeeds")
    check("Login Data \u2014 inside the application data folder" in backup.stdout + backup.stderr,
          "the AppData file is left out with its reason")
    stored = b"".join(p.read_bytes() for p in (drive_d / "OneDrive/OBS").rglob("*") if p.is_file())
    check(b"passwords" not in stored, "nothing from AppData reaches the backup folder")

    # A folder name outside the ANSI code page reaches the program whole (no batch file here: its
    # text would go through a code page).
    shutil.copytree(drive_d / "OneDrive/OBS", drive_d / "Copias ñ配")
    show = subprocess.run([str(wine), str(exe), "show", "--folder", "D:\\Copias ñ配"], capture_output=True,
                          text=True, encoding="utf-8", errors="replace", timeout=300,
                          env={**os.environ, "LANG": "C.UTF-8"})
    print(show.stdout + show.stderr)
    check(show.returncode == 0 and "intro ñ.mp4" in show.stdout, "show lists the backup in D:\\Copias ñ配")

    bob = users / "bob"
    bob_config = bob / "AppData/Roaming/obs-studio"
    write(bob_config / "global.ini", b"[Basic]\r\nSceneCollection=Old\r\nSceneCollectionFile=Old\r\n")
    shutil.rmtree(drive_d / "Media")
    restore = run_as("bob", "restore", "--folder", "D:\\OneDrive\\OBS", "--obs-config",
                     "C:\\Users\\bob\\AppData\\Roaming\\obs-studio", "--name", "Nuevo Show", "--yes",
                     "--outside-home")
    check(restore.returncode == 0, "restore succeeds")

    for path, data in media.items():
        if path.is_relative_to(alice):
            target = bob / path.relative_to(alice)
        else:
            target = path
        check(target.is_file() and target.read_bytes() == data, f"{target} restored byte for byte")
    restored_scene = bob_config / "basic/scenes/Nuevo_Show.json"  # OBS's file name for it
    check(restored_scene.is_file(), "the scene collection lands under its new name")
    if restored_scene.is_file():
        text = json.loads(restored_scene.read_text(encoding="utf-8"))
        files = [s["settings"].get("local_file") or s["settings"].get("file") for s in text["sources"]]
        check(files[:4] == ["C:/Users/bob/Videos/intro ñ.mp4", "C:\\Users\\bob\\Música\\配信 🎥.wav",
                            long_clip.replace("alice", "bob"), "D:/Media/logo.png"],
              f"paths inside the scene follow bob: {files}")
    check((bob_config / "basic/profiles/Main/basic.ini").read_bytes() == ini.replace(b"alice", b"bob"),
          "the profile's paths follow bob")
    global_ini = (bob_config / "global.ini").read_bytes().splitlines()
    check(b"SceneCollection=Nuevo Show" in global_ini and b"SceneCollectionFile=Nuevo_Show" in global_ini,
          f"the restored collection is the active one: {global_ini!r}")
    check(not (bob / "AppData/Local").exists(), "nothing lands in bob's AppData\\Local")
finally:
    d_link.unlink()
    shutil.rmtree(drive_d, ignore_errors=True)
    shutil.rmtree(users / "alice", ignore_errors=True)
    shutil.rmtree(users / "bob", ignore_errors=True)

print("FAILED" if failures else "PASSED", f"({len(failures)} failure(s))")
sys.exit(1 if failures else 0)
