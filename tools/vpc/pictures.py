"""scripts/screenshots: the pictures in docs/, taken from the programs themselves running
in virtual PCs under Xvfb, so that they show what a person sees with today's build."""

import json
import os
import time

from .check import REPO
from .host import VpcError
from .pc import VirtualPC
from .registry import RUN_KEY
from .rehearse import draw_window_frames, ensure_built
from .screen import read_png, shows_text, write_png

DOCS = os.path.join(REPO, "docs")
PROBE = "C:\\vpc\\window_probe.exe"
PAUSE = "C:\\vpc\\task_exit.exe"
ENGINE = "C:\\Velk\\NUV\\NUV.exe"
RESTART_TEXT = "Setup will restart your computer in 10 seconds..."


class Camera:
    """Finds a program's windows with the window probe and takes their picture once drawn."""

    def __init__(self, pc, build, out):
        self.pc = pc
        self.out = out
        draw_window_frames(pc)
        pc.put_file(PROBE, source=os.path.join(build, "fixtures", "window_probe.exe"))

    def windows(self):
        try:
            return json.loads(self.pc.run(PROBE, timeout=120).stdout or "[]")
        except ValueError:
            return []

    def wait_for(self, predicate, timeout=120):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for window in self.windows():
                if window["visible"] and predicate(window):
                    return window
            time.sleep(0.2)
        raise VpcError("no such window within %d s" % timeout)

    def take(self, name, windows, *drawn):
        """Saves the part of the screen the windows cover as NAME in the pictures' folder,
        once each rectangle of `drawn` shows text. Returns the picture's path."""
        full = os.path.join(self.pc.logs, "screen.png")
        deadline = time.monotonic() + 30
        while True:
            width, height, rows = read_png(self.pc.screenshot(full))
            if all(shows_text(rows, rect) for rect in drawn):
                break
            if time.monotonic() > deadline:
                raise VpcError("%s: the window was not drawn within 30 s" % name)
            time.sleep(0.2)
        left = max(min(w["rect"]["left"] for w in windows), 0)
        top = max(min(w["rect"]["top"] for w in windows), 0)
        right = min(max(w["rect"]["right"] for w in windows), width)
        bottom = min(max(w["rect"]["bottom"] for w in windows), height)
        path = os.path.join(self.out, name)
        write_png(path, right - left, bottom - top, [row[left * 3:right * 3] for row in rows[top:bottom]])
        return path


def control(window, control_id):
    return next(c for c in window["children"] if c["id"] == control_id)


def is_engine(window):
    return window["process"].lower() == "nuv.exe"


def engine_pc(pc, build, run_list, *markers):
    pc.put_file(ENGINE, source=os.path.join(build, "engine", "NUV.exe"))
    pc.put_file("C:\\Velk\\NUV\\Ostrel.dll", source=os.path.join(build, "wrappers", "command", "Ostrel.dll"))
    pc.put_file(PAUSE, source=os.path.join(build, "fixtures", "task_exit.exe"))
    pc.put_file("C:\\VELK\\RUN.NUV", run_list)
    for marker in markers:
        pc.put_file(marker, b"")
    for name in ("Velk NUV", "Velk NUV2", "Velk NUV3"):
        pc.set_reg(RUN_KEY, name, ENGINE if name == "Velk NUV" else "C:\\windows\\system32\\cmd.exe /c exit")


def progress_and_countdown(pc, camera, build):
    """The progress window one entry of three on, then the countdown of the restart the
    entry asks for."""
    engine_pc(pc, build, "OSTREL.DLL, %s 0 0, , 60\r\nOSTREL.DLL, %s 0 8000, , 60, REBOOT\r\n"
                          "OSTREL.DLL, %s 0 0, , 60\r\n" % (PAUSE, PAUSE, PAUSE))
    pc.boot()
    window = camera.wait_for(lambda w: is_engine(w) and any(c["id"] == 1000 and c.get("pos") == 1
                                                              for c in w["children"]))
    yield camera.take("progress-window.png", [window], control(window, 1001)["rect"])
    window = camera.wait_for(lambda w: is_engine(w) and any(c["text"] == RESTART_TEXT for c in w["children"]))
    yield camera.take("countdown.png", [window], control(window, 1012)["rect"])


def development_mode(pc, camera, build):
    """The Development Mode window beside the progress window, the walk paused before
    its first entry, as it is after a start with devmode.nuv."""
    engine_pc(pc, build, "OSTREL.DLL, %s 0 0, , 60\r\n" % PAUSE, "c:\\velk\\nuv\\devmode.nuv")
    pc.boot()
    dev = camera.wait_for(lambda w: is_engine(w) and w["title"] == "Development Mode")
    progress = camera.wait_for(lambda w: is_engine(w) and any(c["id"] == 1000 for c in w["children"]))
    yield camera.take("development-mode.png", [dev, progress], control(progress, 1001)["rect"], dev["rect"])


def utilities(pc, camera, build):
    """Tevrost's countdown, Pomrel's window and the engine's version box."""
    for name in ("tevrost", "pomrel"):
        pc.put_file("C:\\Velk\\%s.exe" % name.capitalize(),
                    source=os.path.join(build, "utilities", name, "%s.exe" % name.capitalize()))
    pc.put_file(ENGINE, source=os.path.join(build, "engine", "NUV.exe"))
    pc.start("C:\\Velk\\Tevrost.exe", "30", "C:\\TOOLS\\NEXT.EXE", "/q")
    window = camera.wait_for(lambda w: w["title"].startswith("Tevrost, Ver: A01"))
    yield camera.take("tevrost.png", [window], window["rect"])
    pomrel = pc.start("C:\\Velk\\Pomrel.exe", "12")
    window = camera.wait_for(lambda w: w["title"] == "Pomrel 1.01" and control(w, 1000)["text"])
    yield camera.take("pomrel.png", [window], control(window, 1000)["rect"])
    # The version box would come up where Pomrel's window stands.
    pomrel.wait(60)
    pc.start(ENGINE, "version")
    window = camera.wait_for(lambda w: is_engine(w) and any("Multibyte Build" in c["text"] for c in w["children"]))
    yield camera.take("version-box.png", [window], window["rect"])


PICTURES = (progress_and_countdown, development_mode, utilities)


def renew(out=DOCS, arch="win32", say=print):
    """Takes every picture again; returns their paths."""
    os.makedirs(out, exist_ok=True)
    build = ensure_built(arch, os.path.join(REPO, "build", "screenshots-build.log"))
    taken = []
    for pictures in PICTURES:
        with VirtualPC(arch=arch, display=True) as pc:
            camera = Camera(pc, build, out)
            for path in pictures(pc, camera, build):
                say("screenshots: " + path)
                taken.append(path)
    return taken
