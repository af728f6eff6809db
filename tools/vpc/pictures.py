"""scripts/screenshots: the pictures in docs/, taken from the programs themselves running
in virtual PCs under Xvfb, so that they show what a person sees with today's build, and
the page of a rehearsal of the sample list as a browser shows it."""

import io
import json
import os
import shutil
import subprocess
import time

from . import samples
from .check import REPO
from .host import VpcError
from .pc import VirtualPC
from .registry import RUN_KEY
from .rehearse import draw_window_frames, ensure_built, rehearse
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

# The report's picture is made here, so that the paths it shows are those of no one's
# machine: the page names the run list, the sources and the log by their full paths.
NEUTRAL = "/tmp/velk-example"
CHROMIUM = "/usr/bin/chromium"
PAGE_SIZE = "1024,1380"
BY_ENTRY_HEIGHT = 760


def rehearsal_report(out, arch, build):
    """rehearsal-report.png: the page of a rehearsal of the sample list, its first screen
    and a half as Chromium shows it, with the network off where the machine allows; and
    rehearsal-changes-by-entry.png: the same page's "What each entry changed", where the
    two packages of the list's first boot have their changes apart. Returns both paths."""
    for _, built in samples.PACKAGES:
        if not os.path.exists(os.path.join(build, built)):
            raise VpcError("%s is not built: cmake --build --preset %s --target demo_packages"
                           % (os.path.join(build, built), arch))
    try:
        os.mkdir(NEUTRAL)
    except FileExistsError:
        raise VpcError("%s is there already: another scripts/screenshots runs, or one was stopped; "
                       "remove it when none runs" % NEUTRAL)
    try:
        run_list = os.path.join(NEUTRAL, "samples", "RUN.NUV")
        sources = os.path.join(NEUTRAL, "samples", "sources")
        samples.lay_out_sources(build, sources)
        shutil.copyfile(samples.RUN_LIST, run_list)
        report = os.path.join(NEUTRAL, "report")
        printed = io.StringIO()
        if rehearse(run_list, sources, report, arch=arch, stdout=printed) != 0:
            raise VpcError("the rehearsal of the sample list failed:\n" + printed.getvalue())
        page = os.path.join(report, "report.html")
        picture = page_picture(page, os.path.join(out, "rehearsal-report.png"), PAGE_SIZE)
        # The page with its other sections hidden, as a person scrolled to that section sees it.
        with open(page, encoding="utf-8") as f:
            text = f.read()
        alone = os.path.join(NEUTRAL, "changes-by-entry.html")
        with open(alone, "w", encoding="utf-8") as f:
            f.write(text.replace("</style>", "h1, section:not(#changes-by-entry) { display: none; }\n</style>", 1))
        by_entry = page_picture(alone, os.path.join(NEUTRAL, "by-entry.png"), "1000,1500")
        width, height, rows = read_png(by_entry)
        cropped = os.path.join(out, "rehearsal-changes-by-entry.png")
        write_png(cropped, width, min(height, BY_ENTRY_HEIGHT), rows[:BY_ENTRY_HEIGHT])
        return [picture, cropped]
    finally:
        shutil.rmtree(NEUTRAL)


def page_picture(page, picture, size):
    """Chromium's picture of a page from disk, with the network off where the machine allows."""
    isolated = subprocess.run(["unshare", "-n", "true"], capture_output=True).returncode == 0
    command = (["unshare", "-n"] if isolated else []) + [
        CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--hide-scrollbars",
        "--disable-background-networking", "--disable-component-update", "--disable-sync",
        "--user-data-dir=" + os.path.join(NEUTRAL, "browser"), "--window-size=" + size,
        "--screenshot=" + picture, "file://" + page]
    shown = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=300)
    if shown.returncode != 0 or not os.path.exists(picture):
        raise VpcError("Chromium made no picture of the page: " + shown.stderr.strip()[-500:])
    return picture


def renew(out=DOCS, arch="win32", say=print, which=("windows", "report")):
    """Takes the pictures again: the programs' windows, the rehearsal's page, or both;
    returns their paths."""
    os.makedirs(out, exist_ok=True)
    build = ensure_built(arch, os.path.join(REPO, "build", "screenshots-build.log"))
    taken = []
    for pictures in PICTURES if "windows" in which else ():
        with VirtualPC(arch=arch, display=True) as pc:
            camera = Camera(pc, build, out)
            for path in pictures(pc, camera, build):
                say("screenshots: " + path)
                taken.append(path)
    if "report" in which:
        for path in rehearsal_report(out, arch, build):
            say("screenshots: " + path)
            taken.append(path)
    return taken
