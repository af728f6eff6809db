"""The rehearsal: a customer's run list run to its end in a virtual PC, as on the line.

The PC gets the engine with every shipped plug-in and the utilities as the factory ZIP
lays them out, the package sources on their drives, the run list and the three Run
values (and the factory marker when asked). It is booted once; Wine's own restarts do
the rest. Meanwhile the rehearsal takes screenshots of the engine's windows and, between
every two boots, a snapshot of the machine; at the end it writes the report.

Between two boots. A Wine restart is one wineboot process: it carries out the files
scheduled for deletion, then runs the RunOnce programs one by one, waiting for each,
and only then starts the Run key's programs (the engine). A RunOnce program of the
rehearsal's own, the gate, holds every restart at that point. While it holds, the
rehearsal waits until the programs of the boot before have ended, lets the gate
register itself for the next restart, and waits for the wineserver's next save of the
registry files (it saves every 30 seconds what has changed; a running session keeps the
registry in memory). Then files and registry are read from Linux, and the gate lets the
boot go on. The first boot is preceded by a snapshot of the PC powered off, and the
last boot followed by one after the PC has gone idle. So the changes of "boot n" are
those of its programs and of the restart that ends it.
"""

import json
import os
import re
import shutil
import subprocess
import sys
import threading
import time

from . import machine_diff, report
from .boot import environment, process_ids
from .check import REPO, check_run_list
from .host import VpcError
from .pc import VirtualPC
from .registry import RUN_KEY, VIEW_OPTIONS
from .screen import read_png, shows_text, write_png

RUN_LIST = "C:\\VELK\\RUN.NUV"
VELK = "C:\\VELK"
ENGINE_FOLDER = "C:\\Velk\\NUV"
ENGINE = ENGINE_FOLDER + "\\NUV.exe"
LOG_TAG = "c:\\velk\\nuv\\nuvlog.tag"
FACTORY_MARKER = "C:\\VELK\\KORB\\quorvane.exe"
A_LOG = "a:\\LOG"
# The factory ZIP's layout: the engine and its plug-ins in Velk\NUV, the utilities in Velk.
SHIPPED = (
    ("engine/NUV.exe", ENGINE_FOLDER),
    ("wrappers/command/Ostrel.dll", ENGINE_FOLDER),
    ("wrappers/msi/Quillan.dll", ENGINE_FOLDER),
    ("wrappers/msi/Sorvane.dll", ENGINE_FOLDER),
    ("wrappers/installshield/Brakkis.dll", ENGINE_FOLDER),
    ("wrappers/installshield/Brakkel.dll", ENGINE_FOLDER),
    ("utilities/hobrint/Hobrint.exe", "C:\\Velk"),
    ("utilities/jaskel/Jaskel.exe", "C:\\Velk"),
    ("utilities/fendrix/Fendrix.exe", "C:\\Velk"),
    ("utilities/morlane/Morlane.exe", "C:\\Velk"),
    ("utilities/vindle/Vindle.exe", "C:\\Velk"),
    ("utilities/tevrost/Tevrost.exe", "C:\\Velk"),
    ("utilities/pomrel/Pomrel.exe", "C:\\Velk"),
)
# README.TXT's example for the two Run values the engine does not use: a program that
# does nothing.
QUIET_RUN_VALUE = "C:\\Velk\\Pomrel.exe 1 /s"

# The rehearsal's own programs in the PC, left out of every diff.
HARNESS = machine_diff.HARNESS_FOLDER
PROBE = HARNESS + "\\window_probe.exe"
PAUSE = HARNESS + "\\task_exit.exe"
GATE = HARNESS + "\\gate.cmd"
GATE_FLAGS = HARNESS + "\\gate"
RUN_ONCE, GATE_VALUE = machine_diff.HARNESS_VALUES[0]
GATE_COMMAND = "C:\\windows\\system32\\cmd.exe /c " + GATE
GATE_SCRIPT = r"""@echo off
rem Holds a restart after its file operations and before the Run key's programs.
echo.> {flags}\held
:quiet
if exist {flags}\quiet goto register
{pause} 0 100
goto quiet
:register
C:\windows\system32\reg.exe add "{key}" /v "{value}" /t REG_SZ /d "{command}" /f{view}
echo.> {flags}\registered
:go
if exist {flags}\go goto end
{pause} 0 100
goto go
:end
del /q {flags}\*
"""

# Wine's own programs, which run in every session.
WINE_PROGRAMS = {"services.exe", "explorer.exe", "winedevice.exe", "plugplay.exe", "svchost.exe", "rpcss.exe",
                 "conhost.exe", "wineboot.exe"}
PROGRESS_BAR, PROGRESS_TEXT, COUNTDOWN_TEXT = 1000, 1001, 1012
DIALOG_RETURNED = "CNUVApp:: CNUVDlg.DoModal(...) returned."

QUIET_WAIT = 30       # seconds the programs of a boot get to end at its restart
# A Wine restart closes the windows but ends no program, so a program without a window
# that a package left running keeps the PC from going idle; once the engine has been
# gone this long, the PC is switched off.
ENGINE_GONE_WAIT = 60
SAVE_WAIT = 120       # the registry is saved every 30 seconds
DEFAULT_TIME_LIMIT = 3600


def build_dir(arch):
    """The build a PC of this architecture takes its programs from (as the system tests)."""
    variable = "VELK_BUILD_DIR" if arch == "win32" else "VELK_BUILD_DIR_WIN64"
    return os.environ.get(variable, os.path.join(REPO, "build", arch))


def ensure_built(arch, log_path):
    """Builds the architecture's preset when a program the rehearsal needs is missing."""
    folder = build_dir(arch)
    needed = [relative for relative, _ in SHIPPED] + ["fixtures/window_probe.exe", "fixtures/task_exit.exe"]
    if all(os.path.exists(os.path.join(folder, r)) for r in needed):
        return folder
    with open(log_path, "w") as log:
        for step in (["cmake", "--preset", arch], ["cmake", "--build", "--preset", arch]):
            if subprocess.run(step, cwd=REPO, stdin=subprocess.DEVNULL, stdout=log,
                              stderr=subprocess.STDOUT).returncode:
                raise VpcError("building the %s programs failed; see %s" % (arch, log_path))
    missing = [r for r in needed if not os.path.exists(os.path.join(folder, r))]
    if missing:
        raise VpcError("not built: %s" % ", ".join(os.path.join(folder, r) for r in missing))
    return folder


def draw_window_frames(pc):
    """Xvfb runs no window manager, which would draw the windows' title bars: Wine draws
    them itself when it does not leave its windows to one."""
    pc.set_reg("HKCU\\Software\\Wine\\X11 Driver", "Managed", "N")


def source_drives(sources):
    """{drive letter: folder} of a sources folder: its one-letter folders."""
    drives = {}
    for name in sorted(os.listdir(sources)):
        if len(name) == 1 and name.isalpha() and os.path.isdir(os.path.join(sources, name)):
            drives[name.upper()] = os.path.join(sources, name)
    return drives


def source_entries(folder, drive):
    """[(Windows path, Linux path or None for a folder)] of what a drive's folder holds,
    folders before what they hold. Symbolic links are followed, as the check follows
    them; one that leads nowhere, or back into a folder it lies in, is an error."""
    entries = []
    pending = [(folder, drive, (os.path.realpath(folder),))]
    while pending:
        host, windows, above = pending.pop()
        for name in sorted(os.listdir(host)):
            path = os.path.join(host, name)
            inside = windows + name
            if os.path.isdir(path):
                real = os.path.realpath(path)
                if real in above:
                    raise VpcError("%s: a symbolic link back to %s, a folder that holds it" % (path, real))
                entries.append((inside, None))
                pending.append((path, inside + "\\", above + (real,)))
            elif os.path.isfile(path):
                entries.append((inside, path))
            elif os.path.islink(path):
                raise VpcError("%s: a symbolic link to %s, which does not exist" % (path, os.readlink(path)))
            else:
                raise VpcError("%s: neither a file nor a folder" % path)
    return entries


def pc_processes(pc):
    """[(pid, command line)] of the PC's processes, the wineserver included."""
    mark = ("WINEPREFIX=" + pc.prefix).encode()
    found = []
    for pid in process_ids():
        if mark in environment(pid):
            try:
                with open("/proc/%d/cmdline" % pid, "rb") as f:
                    found.append((pid, f.read().replace(b"\0", b" ").decode("latin-1").strip()))
            except OSError:
                pass
    return found


def program_name(command):
    match = re.match(r'^"?(.*?\.(?:exe|com|bat|cmd))\b', command, re.I)
    return (match.group(1) if match else command.split(" ")[0]).replace("/", "\\").split("\\")[-1].lower()


def is_own(command):
    """Whether a process is Wine's or the rehearsal's, not one of the machine's programs."""
    return (command.startswith("/") or program_name(command) in WINE_PROGRAMS
            or HARNESS.lower() + "\\" in command.lower())


def is_engine(command):
    return command.lower().startswith(ENGINE.lower())


class Progress:
    """One line on the terminal: the boot, the entry and the time. Where the output is
    no terminal, a line is printed only when the boot or the entry changes."""

    def __init__(self, stream):
        self.stream = stream
        self.tty = stream.isatty()
        self.last = None

    def show(self, text, elapsed):
        line = "rehearse: %s  [%d:%02d]" % (text, *divmod(int(elapsed), 60))
        if self.tty:
            width = shutil.get_terminal_size((100, 20)).columns - 1
            self.stream.write("\r" + line[:width].ljust(width))
            self.stream.flush()
        elif text != self.last:
            self.stream.write(line + "\n")
            self.stream.flush()
        self.last = text

    def end(self):
        if self.tty and self.last is not None:
            self.stream.write("\n")
            self.stream.flush()


class Rehearsal:
    def __init__(self, run_list, sources, out, arch="win32", family="nt", factory=False,
                 time_limit=DEFAULT_TIME_LIMIT, keep=False, check_text="", progress=sys.stderr):
        self.run_list = os.path.abspath(run_list)
        self.sources = os.path.abspath(sources)
        self.out = os.path.abspath(out)
        self.arch = arch
        self.family = family
        self.factory = factory
        self.time_limit = time_limit
        self.keep = keep
        self.check_text = check_text
        self.progress = Progress(progress)
        self.boot = 0
        self.snapshots = []
        self.boot_notes = {}
        self.shots = []
        self.probe_failures = set()
        self.began = None
        self.kept_at = None
        self._stop_probing = threading.Event()

    # ----- the PC ------------------------------------------------------------------------------
    def prepare(self, pc, build):
        for relative, folder in SHIPPED:
            pc.put_file(folder + "\\" + os.path.basename(relative), source=os.path.join(build, relative))
        for letter, folder in source_drives(self.sources).items():
            for windows_path, path in source_entries(folder, letter + ":\\"):
                if path is None:
                    pc.make_dir(windows_path)
                else:
                    shutil.copymode(path, pc.put_file(windows_path, source=path))
        pc.put_file(RUN_LIST, source=self.run_list)
        pc.put_file(LOG_TAG, b"")
        draw_window_frames(pc)
        if self.factory:
            pc.put_file(FACTORY_MARKER, b"MZ")
        pc.set_reg(RUN_KEY, "Velk NUV", ENGINE)
        pc.set_reg(RUN_KEY, "Velk NUV2", QUIET_RUN_VALUE)
        pc.set_reg(RUN_KEY, "Velk NUV3", QUIET_RUN_VALUE)
        pc.put_file(PROBE, source=os.path.join(build, "fixtures", "window_probe.exe"))
        pc.put_file(PAUSE, source=os.path.join(build, "fixtures", "task_exit.exe"))
        pc.make_dir(GATE_FLAGS)
        view = "".join(" " + option for option in VIEW_OPTIONS[self.arch])
        script = GATE_SCRIPT.format(flags=GATE_FLAGS, pause=PAUSE, key=RUN_ONCE, value=GATE_VALUE,
                                    command=GATE_COMMAND, view=view)
        pc.put_file(GATE, script.replace("\n", "\r\n"))

    def gate_flag(self, pc, name):
        return os.path.join(pc.host_path(GATE_FLAGS), name)

    def hold(self, pc):
        """The restart is held by the gate: wait for the boot's programs to end and for
        the registry to be saved, take the snapshot, let the boot go on."""
        self.boot += 1
        self.show("restart %d: waiting for the programs of boot %d to end" % (self.boot - 1, self.boot - 1))
        deadline = time.monotonic() + QUIET_WAIT
        while True:
            left = sorted({c for _, c in pc_processes(pc) if not is_own(c)})
            if not left or time.monotonic() > deadline:
                break
            time.sleep(0.2)
        if left:
            self.boot_notes.setdefault(self.boot - 1, []).append(
                "still running at the restart: " + ", ".join(left))
        open(self.gate_flag(pc, "quiet"), "w").close()
        registered = self.gate_flag(pc, "registered")
        wait_for(lambda: os.path.exists(registered), QUIET_WAIT, "the gate did not register itself")
        self.show("restart %d: waiting for Wine to save the registry" % (self.boot - 1))
        since = os.stat(registered).st_mtime_ns
        system_reg = os.path.join(pc.prefix, "system.reg")
        wait_for(lambda: os.stat(system_reg).st_mtime_ns > since, SAVE_WAIT, "Wine did not save the registry")
        self.snapshots.append(machine_diff.take_snapshot(pc))
        open(self.gate_flag(pc, "go"), "w").close()
        held = self.gate_flag(pc, "held")
        wait_for(lambda: not os.path.exists(held), QUIET_WAIT, "the gate did not let the boot go on")

    def show(self, text):
        self.progress.show("boot %d: %s" % (self.boot, text) if not text.startswith("restart") else text,
                           time.monotonic() - self.began if self.began else 0)

    def current_entry(self, pc):
        try:
            entries = report.parse_run_list(report.decode_text(pc.read_file(RUN_LIST)))
        except OSError:
            return None
        if not entries:
            return "no entries"
        for entry in entries:
            stamps = entry["stamps"]
            if stamps["START"] and not (stamps["STOP"] and stamps["CLEAN"]):
                return "entry %d of %d: %s %s" % (entry["number"], len(entries), entry["wrapper"], entry["command"])
        finished = sum(1 for e in entries if all(e["stamps"].values()))
        return "%d of %d entries done" % (finished, len(entries))

    # ----- screenshots -------------------------------------------------------------------------
    def probe(self, pc):
        """Screenshots of the progress window once painted, and of the restart countdown,
        in every boot. Programs are started in the PC only while its engine runs and
        shows its window: a program started when the session has ended would start a
        new one, which carries out deletions meant for the next boot."""
        taken = set()
        while not self._stop_probing.wait(0.2):
            boot = self.boot
            if (boot, "countdown") in taken:
                continue
            if not any(is_engine(c) for _, c in pc_processes(pc)) or not self.engine_window_open(pc):
                continue
            shown = self.engine_windows(pc)
            # The countdown stands over the progress window: once it is up, the progress
            # window of this boot is no longer to be seen.
            for what in ("countdown",) if "countdown" in shown else ("progress",):
                if what not in shown or (boot, what) in taken:
                    continue
                try:
                    if self.screenshot(pc, boot, what, *shown[what]):
                        taken.add((boot, what))
                except (VpcError, OSError, subprocess.SubprocessError) as error:
                    # One failed picture must not end the pictures of the boots to come.
                    self.probe_failures.add("%s, boot %d: %s" % (what, boot, error))

    def engine_windows(self, pc):
        """{"progress" or "countdown": (window, its text control)} as the probe sees them."""
        try:
            windows = json.loads(pc.run(PROBE, timeout=300).stdout or "[]")
        except (VpcError, ValueError):
            return {}
        shown = {}
        for window in windows:
            if window["visible"] and window["process"].lower() == "nuv.exe":
                controls = {c["id"]: c for c in window["children"]}
                if COUNTDOWN_TEXT in controls:
                    shown["countdown"] = (window, controls[COUNTDOWN_TEXT])
                elif PROGRESS_BAR in controls and PROGRESS_TEXT in controls:
                    shown["progress"] = (window, controls[PROGRESS_TEXT])
        return shown

    def engine_window_open(self, pc):
        try:
            log = report.decode_text(pc.read_file("c:\\velk\\nuv.log"))
        except OSError:
            return True
        return DIALOG_RETURNED not in log[log.rfind(report.STARTED):]

    def screenshot(self, pc, boot, what, window, text):
        folder = os.path.join(self.out, "screenshots")
        os.makedirs(folder, exist_ok=True)
        name = "boot-%d-%s.png" % (boot, what)
        path = pc.screenshot(os.path.join(folder, name))
        width, height, rows = read_png(path)
        if not shows_text(rows, text["rect"]):
            return False
        if what == "progress" and "countdown" in self.engine_windows(pc):
            return False  # it came up while the picture was taken
        # The page shows the window alone: the rest of the screen is empty.
        r = window["rect"]
        left, top = max(r["left"], 0), max(r["top"], 0)
        right, bottom = min(r["right"], width), min(r["bottom"], height)
        crop = [row[left * 3:right * 3] for row in rows[top:bottom]]
        write_png(os.path.join(folder, "boot-%d-%s-window.png" % (boot, what)), right - left, bottom - top, crop)
        self.shots.append({
            "boot": boot, "what": what, "file": "screenshots/" + name,
            "window_file": "screenshots/boot-%d-%s-window.png" % (boot, what),
            "window": [r["left"], r["top"], r["right"], r["bottom"]],
            "text": [text["rect"][k] for k in ("left", "top", "right", "bottom")],
            "title": window["title"], "caption": "%s, boot %d" % (
                "The progress window" if what == "progress" else "The restart countdown", boot),
            "texts": [c["text"] for c in window["children"] if c["text"]],
        })
        return True

    # ----- the run -----------------------------------------------------------------------------
    def run(self):
        """Runs the rehearsal; returns the report's model."""
        os.makedirs(self.out, exist_ok=True)
        build = ensure_built(self.arch, os.path.join(self.out, "build.log"))
        fixed = [letter for letter in source_drives(self.sources) if letter not in "AC"]
        with VirtualPC(arch=self.arch, family=self.family, display=True, fixed_drives=fixed, keep=self.keep) as pc:
            self.progress.show("making the virtual PC", 0)
            self.prepare(pc, build)
            pc.stop()
            self.snapshots.append(machine_diff.take_snapshot(pc))
            self.began = time.monotonic()
            self.boot = 1
            self.show("starting")
            pc.boot()
            # The first restart comes after the engine's countdown at the earliest.
            pc.set_reg(RUN_ONCE, GATE_VALUE, GATE_COMMAND)
            idle = subprocess.Popen(["wineserver", "-w"], env=pc.env(), stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            prober = threading.Thread(target=self.probe, args=(pc,), daemon=True)
            prober.start()
            stopped = None
            engine_seen = time.monotonic()
            try:
                while idle.poll() is None:
                    if os.path.exists(self.gate_flag(pc, "held")):
                        self.hold(pc)
                        engine_seen = time.monotonic()
                        continue
                    self.show(self.current_entry(pc) or "")
                    running = pc_processes(pc)
                    if any(is_engine(c) for _, c in running):
                        engine_seen = time.monotonic()
                    elif time.monotonic() - engine_seen > ENGINE_GONE_WAIT:
                        left = sorted({c for _, c in running if not is_own(c)})
                        stopped = "switched off %d s after the engine had ended; still running: %s" % (
                            ENGINE_GONE_WAIT, ", ".join(left) or "nothing but Wine's own programs")
                        break
                    if time.monotonic() - self.began > self.time_limit:
                        stopped = "stopped at the time limit of %d s" % self.time_limit
                        break
                    time.sleep(0.25)
            finally:
                self._stop_probing.set()
                prober.join()
                if stopped or idle.poll() is None:
                    pc.stop()
                idle.wait()
            pc.wait_idle(timeout=60)
            seconds = time.monotonic() - self.began
            self.progress.show("the PC is idle; writing the report", seconds)
            self.progress.end()
            self.snapshots.append(machine_diff.take_snapshot(pc))
            boots = pc.boot_count()
            self.collect(pc)
            if self.keep:
                self.kept_at = pc.root
        return self.model(boots, seconds, stopped)

    def collect(self, pc):
        """What an engineer would bring back from the PC: C:\\VELK, and a:\\LOG."""
        velk = os.path.join(self.out, "VELK")
        shutil.rmtree(velk, ignore_errors=True)
        shutil.copytree(pc.host_path(VELK), velk, symlinks=True)
        if pc.exists(A_LOG):
            with open(os.path.join(self.out, "a-LOG.txt"), "wb") as f:
                f.write(pc.read_file(A_LOG))

    def model(self, boots, seconds, stopped):
        changes = []
        for i in range(len(self.snapshots) - 1):
            number = i + 1
            since = "power-on" if number == 1 else "restart %d" % (number - 1)
            until = "the PC was idle" if i == len(self.snapshots) - 2 else "restart %d" % number
            changes.append({
                "boot": number, "title": "Boot %d: from %s to %s" % (number, since, until),
                "changes": machine_diff.compare(self.snapshots[i], self.snapshots[i + 1]),
                "notes": self.boot_notes.get(number, []),
            })
        final = self.snapshots[-1]
        run_values = []
        for key in (RUN_KEY, RUN_KEY.replace("HKLM\\Software\\", "HKLM\\Software\\Wow6432Node\\")):
            for name, value in sorted(final.registry.get(key, {}).items()):
                run_values.append({"key": key, "name": name, "value": machine_diff.show_value(value)})
        engine_files = [{"path": path + ("\\" if info[0] == "folder" else ""), "kind": info[0], "size": info[1],
                         "attributes": info[3]}
                        for path, info in sorted(final.files.items(), key=lambda item: item[0].lower())
                        if path.lower().startswith("c:\\velk\\")]
        taken = {(s["boot"], s["what"]) for s in self.shots}
        missed = ["Boot %d: no picture of the progress window; the countdown covered it before one was "
                  "taken." % boot for boot, what in sorted(taken)
                  if what == "countdown" and (boot, "progress") not in taken]
        missed += ["A picture failed: %s" % failure for failure in sorted(self.probe_failures)]
        a_log = os.path.join(self.out, "a-LOG.txt")
        records = report.read_velk(os.path.join(self.out, "VELK"), a_log)
        machine = {"arch": self.arch, "family": self.family, "factory": self.factory,
                   "run_list": self.run_list, "sources": self.sources}
        rehearsal = {
            "boots": boots, "seconds": seconds, "stopped": stopped,
            "screenshots": sorted(self.shots, key=lambda s: (s["boot"], s["what"] != "progress")),
            "screenshots_missed": missed,
            "changes": changes, "run_values": run_values, "engine_files": engine_files,
            "left_out": machine_diff.churn_descriptions(),
            "harness": {"folder": HARNESS, "value": "%s\\%s" % (RUN_ONCE, GATE_VALUE), "log_tag": LOG_TAG},
            "check": self.check_text, "kept_at": self.kept_at, "out": self.out,
        }
        title = "Rehearsal of %s" % os.path.basename(self.run_list)
        model = report.build_model(records, title, machine, rehearsal)
        present = {path.lower() for path in final.files}
        for entry in model["entries"]:
            if entry["cleanup"]:
                entry["cleanup_state"] = "present" if entry["cleanup"].rstrip("\\").lower() in present else "gone"
        return model


def wait_for(condition, timeout, failure):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise VpcError(failure)
        time.sleep(0.1)


def rehearse(run_list, sources, out, arch="win32", family="nt", factory=False, time_limit=DEFAULT_TIME_LIMIT,
             keep=False, force=False, stdout=None, stderr=None):
    """Checks the list, runs it in a virtual PC and writes the report. Returns the exit
    code: 0 when the run finished without an error file, 1 when it did not, 2 when the
    check found errors (unless forced). An output folder it may not use, or a rehearsal
    that could not be made, raises VpcError or OSError (exit code 2 at the command line)."""
    stdout, stderr = stdout or sys.stdout, stderr or sys.stderr
    apart = (("the sources", sources), ("the run list's folder", os.path.dirname(os.path.abspath(run_list))))
    with report.prepare_out(out, apart):
        check_path = os.path.join(out, "check.txt")
        with open(check_path, "w") as found:
            code = check_run_list(run_list, sources, output=found)
        with open(check_path, encoding="utf-8", errors="replace") as found:
            check_text = found.read()
        stdout.write(check_text)
        stdout.flush()
        if code != 0 and not force:
            stderr.write("rehearse: the check found errors; mend the list, or give --force to run it all the same\n")
            return 2
        rehearsal = Rehearsal(run_list, sources, out, arch=arch, family=family, factory=factory,
                              time_limit=time_limit, keep=keep, check_text=check_text, progress=stderr)
        model = rehearsal.run()
        page = report.write_report(model, out)
        with open(os.path.join(out, "report.txt"), encoding="utf-8") as f:
            stdout.write(f.read())
    stdout.write("\nThe report: %s\n" % page)
    if rehearsal.kept_at:
        stdout.write("The virtual PC is kept at %s\n" % rehearsal.kept_at)
    return 0 if model["finished"] else 1
