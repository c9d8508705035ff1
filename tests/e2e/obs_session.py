"""Runs the real obs binary with the built plug-in in a throwaway home, under a private Xvfb,
and talks to it over obs-websocket (protocol 5)."""

import asyncio
import glob
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

import websockets


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# Set when a package has installed the plug-in into the system's OBS and kestrel-backup on PATH:
# the tests then run against those, not the build's.
INSTALLED = bool(os.environ.get("KESTREL_E2E_INSTALLED"))


def command_line(built):
    """The kestrel-backup the tests run: the installed one when testing a package."""
    return shutil.which("kestrel-backup") if INSTALLED else built


# obs-websocket 5.5 and later answer this for a few seconds after the connection opens, until
# OBS has finished loading.
NOT_READY = 207


class ObsShutdownCrash(RuntimeError):
    """OBS died from a signal after it had started shutting down."""


class ObsSession:
    # A streamer's usual screen: OBS 32's main window with its docks is taller than 720 lines.
    def __init__(self, plugin, data_dir, keep_home=False, user=None, screen="1920x1080"):
        self.plugin = plugin
        self.screen = screen
        self.data_dir = data_dir
        self.keep_home = keep_home
        self.root = tempfile.mkdtemp(prefix="kestrel-e2e-")
        # With a user name the home is ROOT/home/NAME, a home folder as a restore recognises one.
        self.home = os.path.join(self.root, "home", user) if user else self.root
        os.makedirs(self.home, exist_ok=True)
        self.port = free_port()
        self.xvfb = None
        self.obs = None
        self.display = None
        self.ws = None
        self._next_id = 0

    # -- set-up ---------------------------------------------------------------------------
    def start(self):
        """The plug-in installed, websocket settings written, OBS started on a private Xvfb."""
        self.install_plugin()
        self.write_global_ini()
        self.start_xvfb()
        self.start_obs()

    def config_dir(self):
        return os.path.join(self.home, ".config", "obs-studio")

    def install_plugin(self):
        if INSTALLED:
            return
        root = os.path.join(self.config_dir(), "plugins", "kestrel")
        os.makedirs(os.path.join(root, "bin", "64bit"), exist_ok=True)
        shutil.copy(self.plugin, os.path.join(root, "bin", "64bit", "kestrel.so"))
        shutil.copytree(self.data_dir, os.path.join(root, "data"), dirs_exist_ok=True)

    def write_global_ini(self):
        os.makedirs(self.config_dir(), exist_ok=True)
        with open(os.path.join(self.config_dir(), "global.ini"), "w") as f:
            f.write("[General]\nFirstRun=true\nLastVersion=486539266\nPre31Migrated=true\n\n"
                    "[OBSWebSocket]\nFirstLoad=false\nServerEnabled=true\n"
                    f"ServerPort={self.port}\nAlertsEnabled=false\nAuthRequired=false\n"
                    "ServerPassword=unused\n")
        # OBS 31 and later read the first-run flag from user.ini; without it their set-up
        # wizard opens over the main window. Pre31Migrated stops them moving global.ini's keys
        # there, which fails with a modal error when user.ini exists.
        with open(os.path.join(self.config_dir(), "user.ini"), "w") as f:
            f.write("[General]\nFirstRun=true\n")
        # obs-websocket 5.3 and later keep their settings in a file of their own.
        websocket_dir = os.path.join(self.config_dir(), "plugin_config", "obs-websocket")
        os.makedirs(websocket_dir, exist_ok=True)
        with open(os.path.join(websocket_dir, "config.json"), "w") as f:
            json.dump({"alerts_enabled": False, "auth_required": False, "first_load": False,
                       "server_enabled": True, "server_password": "unused",
                       "server_port": self.port}, f)

    def start_xvfb(self):
        if os.environ.get("KESTREL_E2E_USE_DISPLAY") and os.environ.get("DISPLAY"):
            self.display = os.environ["DISPLAY"]
            return
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", self.screen + "x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not report a display")
        self.display = ":" + number

    def start_obs(self):
        env = dict(os.environ, HOME=self.home, DISPLAY=self.display,
                   XDG_CONFIG_HOME=os.path.join(self.home, ".config"))
        env.pop("WAYLAND_DISPLAY", None)
        self.obs_output = open(os.path.join(self.home, "obs-stdout.txt"), "w")
        command = ["obs", "--disable-shutdown-check", "--multi", "--disable-updater"]
        if os.environ.get("KESTREL_E2E_GDB"):
            # Debugging aid: a crash prints every thread's stack into the OBS output.
            command = ["gdb", "-q", "-batch", "-ex", "handle SIGINT nostop pass", "-ex", "run",
                       "-ex", "thread apply all bt 30", "--args"] + command
        self.obs = subprocess.Popen(command,
                                    env=env, cwd=self.home, stdout=self.obs_output,
                                    stderr=subprocess.STDOUT)

    async def connect(self, timeout=90):
        deadline = time.monotonic() + timeout
        last_error = None
        while time.monotonic() < deadline:
            if self.obs.poll() is not None:
                raise RuntimeError(f"obs exited early with status {self.obs.returncode}")
            try:
                self.ws = await websockets.connect(f"ws://127.0.0.1:{self.port}", max_size=2**26,
                                                   open_timeout=5)
                hello = json.loads(await asyncio.wait_for(self.ws.recv(), 10))
                assert hello["op"] == 0, hello
                await self.ws.send(json.dumps({"op": 1, "d": {"rpcVersion": 1}}))
                identified = json.loads(await asyncio.wait_for(self.ws.recv(), 10))
                assert identified["op"] == 2, identified
                return
            except (OSError, asyncio.TimeoutError, websockets.exceptions.WebSocketException) as e:
                last_error = e
                await asyncio.sleep(1)
        raise RuntimeError(f"obs-websocket did not answer within {timeout} s: {last_error}")

    async def request(self, request_type, data=None, timeout=30):
        """Sends one request and returns its responseData; raises when OBS reports failure."""
        self._next_id += 1
        request_id = str(self._next_id)
        await self.ws.send(json.dumps({"op": 6, "d": {"requestType": request_type,
                                                       "requestId": request_id,
                                                       "requestData": data or {}}}))
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise RuntimeError(f"{request_type}: no answer within {timeout} s")
            message = json.loads(await asyncio.wait_for(self.ws.recv(), left))
            if message["op"] == 7 and message["d"]["requestId"] == request_id:
                status = message["d"]["requestStatus"]
                if status.get("code") == NOT_READY and deadline - time.monotonic() > 0.25:
                    await asyncio.sleep(0.25)
                    return await self.request(request_type, data, deadline - time.monotonic())
                if not status["result"]:
                    raise RuntimeError(f"{request_type} failed: {status}")
                return message["d"].get("responseData", {})

    # -- the screen -------------------------------------------------------------------------
    def x_command(self, *command):
        """Runs an X client (xdotool, xwininfo) against OBS's display; returns its output."""
        env = dict(os.environ, DISPLAY=self.display)
        return subprocess.run(list(command), env=env, check=True, capture_output=True, text=True).stdout

    def crop_to_window(self, path, name):
        """Cuts the screenshot at `path` down to the visible window whose title matches `name`."""
        window = self.x_command("xdotool", "search", "--onlyvisible", "--name", name).split()[0]
        shape = dict(line.split("=", 1) for line in
                     self.x_command("xdotool", "getwindowgeometry", "--shell", window).split())
        x, y = max(0, int(shape["X"])), max(0, int(shape["Y"]))
        crop = f"crop=min({shape['WIDTH']}\\,iw-{x}):min({shape['HEIGHT']}\\,ih-{y}):{x}:{y}"
        cropped = path + ".crop.png"
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-i", path, "-vf", crop, cropped], check=True)
        os.replace(cropped, path)

    def screenshot(self, path):
        """Saves the whole screen as a PNG and returns its pixels as packed RGB bytes."""
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-i", self.display,
                        "-frames:v", "1", path], check=True)
        return subprocess.run(["ffmpeg", "-loglevel", "error", "-i", path, "-f", "rawvideo",
                               "-pix_fmt", "rgb24", "-"], check=True, capture_output=True).stdout

    # -- tear-down ------------------------------------------------------------------------
    def stop_obs(self, timeout=60, settle=3):
        """Ends OBS with SIGINT (a clean shutdown that logs leaks); kills it after `timeout`.
        OBS 29 handles SIGINT on its main thread even in the middle of saving the scene
        collection and can deadlock there, so the last change gets `settle` seconds to be saved."""
        if self.obs is None or self.obs.poll() is not None:
            return
        time.sleep(settle)
        self.obs.send_signal(signal.SIGINT)
        try:
            status = self.obs.wait(timeout)
            if status != 0:
                self.obs_output.flush()
                with open(self.obs_output.name, errors="replace") as f:
                    tail = f.readlines()[-40:]
                message = f"obs exited with status {status}; its last output:\n" + "".join(tail)
                if status < 0 and "==== Shutting down" in self.log_text():
                    raise ObsShutdownCrash(message)
                raise RuntimeError(message)
        except subprocess.TimeoutExpired:
            self.dump_stacks()
            self.obs.kill()
            self.obs.wait()
            raise RuntimeError("obs did not exit within %d s of SIGINT" % timeout)

    def dump_stacks(self):
        """Prints every thread's stack of a hung OBS, so a CI failure shows where it waits."""
        if shutil.which("gdb"):
            subprocess.run(["gdb", "-p", str(self.obs.pid), "-batch", "-ex", "thread apply all bt 25"],
                           stdout=sys.stderr, stderr=subprocess.DEVNULL, timeout=120)

    def log_text(self):
        logs = sorted(glob.glob(os.path.join(self.config_dir(), "logs", "*.txt")), key=os.path.getmtime)
        if not logs:
            return ""
        with open(logs[-1], errors="replace") as f:
            return f.read()

    def close(self):
        try:
            self.stop_obs()
        finally:
            if self.xvfb:
                self.xvfb.terminate()
                self.xvfb.wait()
            if not self.keep_home:
                shutil.rmtree(self.root, ignore_errors=True)


class SessionTestCase(unittest.TestCase):
    """A test with an ObsSession in self.session: stopped afterwards, its log shown if it failed."""

    def tearDown(self):
        try:
            self.session.stop_obs()
        finally:
            if any(error for test, error in self._outcome.result.errors + self._outcome.result.failures
                   if test is self):
                sys.stderr.write("---- OBS log ----\n" + self.session.log_text() + "\n---- end ----\n")
            self.session.close()
