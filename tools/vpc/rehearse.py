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
rehearsal waits until the programs of the boot before have ended and lets the gate
register itself for the next restart and write out the registry (registry_save: the
wineserver's own text form, with each key's time of last change; a running session
keeps the registry in memory and saves it only every 30 seconds). Then files and
registry are read from Linux, and the gate lets the boot go on. The first boot is
preceded by a snapshot of the PC powered off, and the last boot followed by one after
the PC has gone idle. So the changes of "boot n" are those of its programs and of the
restart that ends it.

While the PC runs, a thread reads the run list from Linux every 10 ms and notes when
each new version was written: the windows in which each entry ran, which place every
change of the machine under the entry that made it and draw the timeline. Nothing is
started in the PC to follow the run; the pictures' probe runs only when the engine's
log says a window can be seen.
"""

import collections
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import threading
import time

from . import attribution, machine_diff, report, timeline
from .boot import environment, process_ids
from .check import REPO, check_run_list, read_run_list
from .folder_events import FolderEvents
from .host import VpcError
from .pc import VirtualPC
from .prefix import wine_version
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
REGISTRY_SAVE = HARNESS + "\\registry_save.exe"
REGISTRY_FOLDER = HARNESS + "\\registry"
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
if errorlevel 1 echo.> {flags}\unregistered
rem The rehearsal names the folder for the registry in the flag that lets the gate on.
set /p saveto=<{flags}\quiet
{save} %saveto%
if errorlevel 1 echo.> {flags}\unsaved
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
POLL = 0.1            # seconds between two readings of the run list
STALL = 60            # seconds without any change before the progress line says so
PROBE_TRIES = 100     # looks for one window in one boot
# A Wine restart closes the windows but ends no program, so a program without a window
# that a package left running keeps the PC from going idle; once the engine has been
# gone this long, the PC is switched off.
# VELK_ENGINE_GONE_WAIT shortens it where that is what a test looks at.
ENGINE_GONE_WAIT = int(os.environ.get("VELK_ENGINE_GONE_WAIT", "60"))
DEFAULT_TIME_LIMIT = 3600
# Wine's crash dialog would stand over the program's own windows in the pictures and
# wait for a click; without it, a crash ends the program and the log and the error
# file tell what the engine saw.
CRASH_DIALOG = ("HKCU\\Software\\Wine\\WineDbg", "ShowCrashDialog")
ERROR_FILE = "c:\\velk\\nuv.err"
NUV_LOG = "c:\\velk\\nuv.log"


# What the rehearsal's clock notes of each boot (seconds since 1970, None when not seen).
BOOT_TIMES = ("boot", "started", "engine_started", "engine_ended", "held", "released", "ended")


# A program that starts a rehearsal may name it in this environment variable; the report
# bears the name, so that the program takes only its own rehearsal's report for it.
TOKEN_VARIABLE = "VELK_REHEARSAL_TOKEN"


class Interrupted(VpcError):
    """Ctrl-C or SIGTERM: the rehearsal ends its PC and writes the report of what ran;
    before its PC ran, it ends with exit code 2 and this one line."""


def build_dir(arch):
    """The build a PC of this architecture takes its programs from (as the system tests)."""
    variable = "VELK_BUILD_DIR" if arch == "win32" else "VELK_BUILD_DIR_WIN64"
    return os.environ.get(variable, os.path.join(REPO, "build", arch))


def ensure_built(arch, log_path):
    """Builds the architecture's preset when a program the rehearsal needs is missing."""
    folder = build_dir(arch)
    needed = [relative for relative, _ in SHIPPED] + ["fixtures/window_probe.exe", "fixtures/task_exit.exe",
                                                      "fixtures/registry_save.exe"]
    if all(os.path.exists(os.path.join(folder, r)) for r in needed):
        return folder
    report.claim(os.path.dirname(log_path), os.path.basename(log_path))
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


def process_start(pid):
    """When a process started, in seconds since 1970 (to a tick of the kernel's clock,
    a little early rather than late), or None when it is gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rpartition(")")[2].split()
        with open("/proc/uptime") as f:
            uptime = float(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return None
    ticks = os.sysconf("SC_CLK_TCK")
    return time.time() - (uptime - int(fields[19]) / ticks) - 2.0 / ticks


def program_version(path):
    """The file version in a program's version resource ("1.20.0.0"), or None."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return None
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0 or len(data) < at + 16:
        return None
    high, low = struct.unpack("<II", data[at + 8:at + 16])
    return "%d.%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)


def progress_text(entries):
    """The progress line's text for the run list as the engine reads it."""
    if not entries:
        return "no entries"
    for entry in entries:
        stamps = entry["stamps"]
        if stamps["START"] and not (stamps["STOP"] and stamps["CLEAN"]):
            return "entry %d of %d: %s %s" % (entry["number"], len(entries), entry["wrapper"], entry["command"])
    finished = sum(1 for e in entries if all(e["stamps"].values()))
    return "%d of %d entries done" % (finished, len(entries))


class StampWatch:
    """When each entry's stamps appeared, read from Linux: a thread does nothing but read
    every new version of the run list as soon as Linux reports it written or moved into
    place (and at least every 10 ms): the engine writes the next version within
    milliseconds. The versions go through the engine's reading later, in the order they
    were written (parse). A stamp first seen in a version was written after the version
    before it and no later than its own version (the file's modification time):
    {(entry, stamp): (after, no later than)}."""

    def __init__(self, path, since):
        self.path = path
        self.previous = since
        self.seen = {}
        self.entries = []
        self._last = None
        self._pending = collections.deque()
        self.before = None    # the stamps the list held before the run: written by hand, or of an earlier run
        self.failures = []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._watch, daemon=True)

    def start(self):
        self._thread.start()

    def stop(self):
        self._stop.set()
        if self._thread.is_alive():
            self._thread.join()

    def _watch(self):
        events = FolderEvents(os.path.dirname(self.path))
        try:
            while not self._stop.is_set():
                events.wait(0.01)
                self.capture()
        except Exception as error:  # noqa: BLE001 - told in the report, never lost with the thread
            self.failures.append("the watch on the run list stopped: %s" % error)
        finally:
            events.close()

    def capture(self):
        """Reads the list's bytes when it is a new version (a quick read, so that the
        next version, which may follow within milliseconds, is not missed)."""
        try:
            before = os.stat(self.path)
            if (before.st_ino, before.st_size, before.st_mtime_ns) == self._last:
                return
            with open(self.path, "rb") as f:
                data = f.read()
            after = os.stat(self.path)
        except OSError:
            return  # being replaced this instant: the next look tells
        version = (after.st_ino, after.st_size, after.st_mtime_ns)
        if version != (before.st_ino, before.st_size, before.st_mtime_ns):
            return
        self._last = version
        self._pending.append((after.st_mtime_ns / 1e9, data))

    def parse(self):
        """The versions read so far, through the engine's reading (the check built
        before the run), in the order they were written."""
        while self._pending:
            written, data = self._pending.popleft()
            try:
                entries = report.run_list_entries(read_run_list(self.path, build=False, data=data))
            except (VpcError, ValueError) as error:
                self.failures.append("a version of the run list could not be read: %s" % error)
                continue
            self.read(entries, written)

    def look(self):
        self.capture()
        self.parse()

    def read(self, entries, written):
        """Takes the entries of a version of the list written at that time."""
        self.entries = entries
        if self.before is None:
            self.before = {(e["number"], name) for e in entries for name, value in e["stamps"].items() if value}
        for entry in entries:
            for name, value in entry["stamps"].items():
                key = (entry["number"], name)
                if value and key not in self.seen:
                    self.seen[key] = (min(self.previous, written), written)
        self.previous = max(self.previous, written)

    def windows(self, boot_began, boot_ended, engine_started=None):
        """[{"entry", "from", "to"}] of the entries that ran in the boot: from when the
        START stamp was written at the earliest (not before the boot's engine started,
        which writes it) to when its last stamp was written at the latest (or the boot's
        end). Stamps the list held before the run tell nothing of when an entry ran."""
        earliest = max(boot_began, engine_started or boot_began)
        before = self.before or set()
        found = []
        for entry in self.entries:
            n = entry["number"]
            start = self.seen.get((n, "START"))
            if start is None or start[1] > boot_ended:
                continue  # not begun by the boot's end
            if (n, "START") in before and ((n, "STOP") in before or (n, "CLEAN") in before):
                continue  # done before the run
            ends = [self.seen[(n, name)][1] for name in ("STOP", "CLEAN") if (n, name) in self.seen
                    and (n, name) not in before]
            done = max(ends) if ends else None
            if done is not None and done < boot_began:
                continue  # done in an earlier boot
            if start[1] < boot_began:
                begun = earliest  # begun before the boot: it goes on once the engine is back
            elif start[1] >= earliest:
                begun = max(start[0], earliest)
            else:
                begun = max(start[0], boot_began)
            found.append({"entry": n, "from": begun, "to": min(done or boot_ended, boot_ended)})
        return found

    def cleaned(self, boot_began, boot_ended):
        """{entry: clean-up folder} of the entries whose CLEAN stamp was written in the boot."""
        return {e["number"]: e["cleanup"] for e in self.entries
                if (e["number"], "CLEAN") in self.seen and (e["number"], "CLEAN") not in (self.before or set())
                and boot_began <= self.seen[(e["number"], "CLEAN")][1] <= boot_ended}


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
                 time_limit=DEFAULT_TIME_LIMIT, keep=False, check_text="", progress=sys.stderr, interruption=None):
        self.run_list = os.path.abspath(run_list)
        self.interruption = interruption or Interruption()
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
        self.snapshot_times = []
        self.boot_notes = {}
        self.shots = []
        self.probe_failures = set()
        self.began = None
        self.kept_at = None
        self.engine_version = None
        self._stop_probing = threading.Event()
        self.stamps = None
        self.boots = []          # what the rehearsal's clock saw of each boot (wall-clock times)
        self.incomplete = []     # why the rehearsal could not observe everything
        self.wanted = set()      # the pictures the engine's log says can be taken now
        self.last_change = None
        self.made = time.monotonic()
        self.setup_seconds = None

    # ----- the PC ------------------------------------------------------------------------------
    def prepare(self, pc, build):
        for relative, folder in SHIPPED:
            pc.put_file(folder + "\\" + os.path.basename(relative), source=os.path.join(build, relative))
        self.engine_version = program_version(os.path.join(build, "engine", "NUV.exe"))
        for letter, folder in source_drives(self.sources).items():
            for windows_path, path in source_entries(folder, letter + ":\\"):
                if path is None:
                    pc.make_dir(windows_path)
                else:
                    shutil.copymode(path, pc.put_file(windows_path, source=path))
        pc.put_file(RUN_LIST, source=self.run_list)
        pc.put_file(LOG_TAG, b"")
        draw_window_frames(pc)
        pc.set_reg(CRASH_DIALOG[0], CRASH_DIALOG[1], 0)
        if self.factory:
            pc.put_file(FACTORY_MARKER, b"MZ")
        pc.set_reg(RUN_KEY, "Velk NUV", ENGINE)
        pc.set_reg(RUN_KEY, "Velk NUV2", QUIET_RUN_VALUE)
        pc.set_reg(RUN_KEY, "Velk NUV3", QUIET_RUN_VALUE)
        pc.put_file(PROBE, source=os.path.join(build, "fixtures", "window_probe.exe"))
        pc.put_file(PAUSE, source=os.path.join(build, "fixtures", "task_exit.exe"))
        pc.put_file(REGISTRY_SAVE, source=os.path.join(build, "fixtures", "registry_save.exe"))
        pc.make_dir(GATE_FLAGS)
        pc.make_dir(REGISTRY_FOLDER)
        view = "".join(" " + option for option in VIEW_OPTIONS[self.arch])
        script = GATE_SCRIPT.format(flags=GATE_FLAGS, pause=PAUSE, key=RUN_ONCE, value=GATE_VALUE,
                                    command=GATE_COMMAND, view=view, save=REGISTRY_SAVE)
        pc.put_file(GATE, script.replace("\n", "\r\n"))

    def gate_flag(self, pc, name):
        return os.path.join(pc.host_path(GATE_FLAGS), name)

    def hold(self, pc):
        """The restart is held by the gate: wait for the boot's programs to end, have the
        registry written out, take the snapshot, let the boot go on."""
        held_at = os.stat(self.gate_flag(pc, "held")).st_mtime
        self.boots[-1]["held"] = held_at
        self.boot += 1
        self.show("restart %d: waiting for the programs of boot %d to end" % (self.boot - 1, self.boot - 1))
        deadline = time.monotonic() + QUIET_WAIT
        while True:
            left = sorted({c for _, c in pc_processes(pc) if not is_own(c)})
            if not left or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        if left:
            self.boot_notes.setdefault(self.boot - 1, []).append(
                "still running at the restart: " + ", ".join(left))
        self.show("restart %d: reading the machine" % (self.boot - 1))
        folder = "%s\\%d" % (REGISTRY_FOLDER, self.boot - 1)
        pc.make_dir(folder)
        with open(self.gate_flag(pc, "quiet"), "w") as flag:
            flag.write(folder + "\r\n")
        registered = self.gate_flag(pc, "registered")
        wait_for(lambda: os.path.exists(registered), QUIET_WAIT, "the gate did not register itself")
        if os.path.exists(self.gate_flag(pc, "unsaved")):
            raise VpcError("the registry could not be written out at restart %d" % (self.boot - 1))
        if os.path.exists(self.gate_flag(pc, "unregistered")):
            raise VpcError("the rehearsal's gate could not register itself for the restart after restart %d"
                           % (self.boot - 1))
        self.snapshots.append(machine_diff.take_snapshot(pc, registry_folder=pc.host_path(folder)))
        self.snapshot_times.append(time.time())
        open(self.gate_flag(pc, "go"), "w").close()
        held = self.gate_flag(pc, "held")
        wait_for(lambda: not os.path.exists(held), QUIET_WAIT, "the gate did not let the boot go on")
        released = time.time()
        self.boots[-1]["released"] = released
        self.boots.append({"boot": self.boot, "started": released})

    def show(self, text):
        elapsed = time.monotonic() - self.began if self.began else 0
        if self.last_change is not None and time.monotonic() - self.last_change >= STALL:
            text += "; nothing has changed for %d min" % ((time.monotonic() - self.last_change) // 60)
        self.progress.show("boot %d: %s" % (self.boot, text) if not text.startswith("restart") else text, elapsed)

    def progress_line(self):
        self.stamps.parse()
        return progress_text(self.stamps.entries)

    def read_log(self, pc):
        try:
            return report.decode_text(pc.read_file(NUV_LOG))
        except OSError:
            return ""

    # ----- screenshots -------------------------------------------------------------------------
    def want_pictures(self, log):
        """The pictures the engine's log says can be taken now: the progress window once
        the engine walks its list, the countdown once it counts down. Only then is a
        program started in the PC to find the windows."""
        current = log[log.rfind(report.STARTED):] if report.STARTED in log else ""
        wanted = set()
        if current and DIALOG_RETURNED not in current:
            if "calling InstallApplications(...)" in current:
                wanted.add("progress")
            if timeline.COUNTDOWN_BEGINS in current:
                wanted.add("countdown")
        self.wanted = wanted

    def probe(self, pc):
        """Screenshots of the progress window once painted, and of the restart countdown,
        in every boot. Programs are started in the PC only while its engine runs and
        shows its window: a program started when the session has ended would start a
        new one, which carries out deletions meant for the next boot."""
        taken = set()
        tries = {}
        while not self._stop_probing.wait(0.3):
            boot = self.boot
            # A window that never shows its text is given up after a while, not probed
            # for the rest of a long install.
            wanted = {w for w in self.wanted if (boot, w) not in taken and tries.get((boot, w), 0) < PROBE_TRIES}
            if not wanted or (boot, "countdown") in taken:
                continue
            if not any(is_engine(c) for _, c in pc_processes(pc)) or not self.engine_window_open(pc):
                continue
            for what in wanted:
                tries[(boot, what)] = tries.get((boot, what), 0) + 1
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
        log = self.read_log(pc)
        return DIALOG_RETURNED not in log[log.rfind(report.STARTED):]

    def screenshot(self, pc, boot, what, window, text):
        folder = self.screenshots_folder()
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

    def screenshots_folder(self):
        folder = os.path.join(self.out, "screenshots")
        if not os.path.isdir(folder):
            report.claim(self.out, "screenshots")
            os.makedirs(folder, exist_ok=True)
        return folder

    def whole_screen(self, pc, why):
        """The whole screen as it is, any crash or dialog included: taken when the time
        limit ends the run or the engine reports a failure."""
        folder = self.screenshots_folder()
        name = "boot-%d-screen.png" % self.boot
        try:
            pc.screenshot(os.path.join(folder, name))
        except (VpcError, OSError, subprocess.SubprocessError) as error:
            self.incomplete.append("the whole screen could not be taken (boot %d, %s): %s" % (self.boot, why, error))
            return
        self.shots.append({"boot": self.boot, "what": "screen", "file": "screenshots/" + name,
                           "window_file": "screenshots/" + name, "window": [], "text": [], "title": "",
                           "caption": "The whole screen, boot %d, %s" % (self.boot, why), "texts": []})

    # ----- the run -----------------------------------------------------------------------------
    def run(self):
        """Runs the rehearsal; returns the report's model. A failure of the rehearsal
        itself, or an interruption, ends the PC and still gives the model of what ran."""
        os.makedirs(self.out, exist_ok=True)
        try:
            build = ensure_built(self.arch, os.path.join(self.out, "build.log"))
            fixed = [letter for letter in source_drives(self.sources) if letter not in "AC"]
            pc = VirtualPC(arch=self.arch, family=self.family, display=True, fixed_drives=fixed, keep=self.keep)
        except Interrupted as why:
            raise VpcError("interrupted (%s) before the virtual PC ran" % why) from None
        stopped = None
        boots = 0
        seconds = 0.0
        try:
            try:
                self.progress.show("making the virtual PC", 0)
                self.prepare(pc, build)
                pc.stop()
                self.snapshots.append(machine_diff.take_snapshot(pc))
                self.snapshot_times.append(time.time())
                stopped = self.drive(pc)
            except Interrupted as why:
                stopped = "interrupted (%s)" % why
            except (VpcError, OSError, subprocess.SubprocessError) as error:
                stopped = "rehearsal incomplete: %s" % error
                self.incomplete.append(str(error))
            finally:
                self._stop_probing.set()
                # From here on a signal is only noted: the PC is ended and the report made.
                self.interruption.armed = False
            seconds = time.monotonic() - self.began if self.began else 0.0
            if stopped or not self.idle(pc):
                pc.stop()
            if self.interruption.signalled and not stopped:
                stopped = "interrupted (%s)" % self.interruption.signalled
            self.progress.show("the PC is off; writing the report", seconds)
            self.progress.end()
            if self.boots:
                self.boots[-1].setdefault("ended", time.time())
            self.snapshots.append(machine_diff.take_snapshot(pc))
            self.snapshot_times.append(time.time())
            boots = pc.boot_count()
            if boots > len(self.boots) and not stopped:
                self.incomplete.append("%d restart(s) passed the rehearsal's gate unheld: the changes of their "
                                       "boots count to the boot before" % (boots - len(self.boots)))
            if self.stamps and self.stamps.failures:
                self.incomplete.append("%d reading(s) of the run list failed, the first: %s" % (
                    len(self.stamps.failures), self.stamps.failures[0]))
            self.collect(pc)
            if self.keep:
                self.kept_at = pc.root
        finally:
            pc.close()
        return self.model(boots, seconds, stopped)

    def idle(self, pc):
        """Waits up to a minute for the PC's programs to end, or until a signal comes."""
        try:
            return pc.wait_idle(timeout=60, give_up=lambda: bool(self.interruption.signalled))
        except VpcError as error:
            self.incomplete.append(str(error))
            return False

    def drive(self, pc):
        """Boots the PC and follows it to its end; returns why it was stopped, or None."""
        self.began = time.monotonic()
        self.setup_seconds = self.began - self.made
        self.last_change = time.monotonic()
        self.boot = 1
        self.boots.append({"boot": 1, "started": time.time()})
        self.show("starting")
        self.stamps = StampWatch(pc.host_path(RUN_LIST), time.time())
        self.stamps.look()  # the list as it was put there, before the engine's first stamp
        # The watch on the run list must get its turn within a millisecond of the engine's
        # write, not after the 5 ms the other threads may otherwise hold the interpreter.
        switching = sys.getswitchinterval()
        sys.setswitchinterval(0.0005)
        self.stamps.start()
        prober = threading.Thread(target=self.probe, args=(pc,), daemon=True)
        idle = None
        engine_seen = None
        failure_shown = False
        state = None
        try:
            pc.boot()
            # The first restart comes after the engine's countdown at the earliest.
            pc.set_reg(RUN_ONCE, GATE_VALUE, GATE_COMMAND)
            idle = subprocess.Popen(["wineserver", "-w"], env=pc.env(), stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            prober.start()
            while idle.poll() is None:
                if os.path.exists(self.gate_flag(pc, "held")):
                    self.hold(pc)
                    engine_seen = None
                    continue
                line = self.progress_line()
                log = self.read_log(pc)
                self.want_pictures(log)
                running = pc_processes(pc)
                engines = [pid for pid, c in running if is_engine(c)]
                engine_up = bool(engines)
                boot = self.boots[-1]
                now = time.time()
                if engine_up:
                    if "engine_started" not in boot:
                        boot["engine_started"] = min(process_start(engines[0]) or now, now)
                    boot.pop("engine_ended", None)
                    engine_seen = time.monotonic()
                elif "engine_started" in boot:
                    boot.setdefault("engine_ended", now)
                seen = (line, len(log), tuple(sorted(c for _, c in running)))
                if seen != state:
                    state = seen
                    self.last_change = time.monotonic()
                self.show(line or "")
                if not failure_shown and pc.exists(ERROR_FILE):
                    failure_shown = True
                    self.whole_screen(pc, "when the engine reported a failure")
                # The engine of a restart starts once Wine has run the RunOnce programs,
                # which may take minutes: it is missed only from when the Run key ran.
                if engine_seen is None and not engine_up and pc.boot_count() >= self.boot:
                    engine_seen = time.monotonic()
                if engine_seen is not None and not engine_up and time.monotonic() - engine_seen > ENGINE_GONE_WAIT:
                    left = sorted({c for _, c in running if not is_own(c)})
                    return "switched off %d s after the engine had ended; still running: %s" % (
                        ENGINE_GONE_WAIT, ", ".join(left) or "nothing but Wine's own programs")
                if time.monotonic() - self.began > self.time_limit:
                    self.whole_screen(pc, "at the time limit")
                    return "stopped at the time limit of %d s" % self.time_limit
                time.sleep(POLL)
            return None
        finally:
            self._stop_probing.set()
            self.stamps.stop()
            self.stamps.look()
            sys.setswitchinterval(switching)
            if prober.is_alive():
                prober.join()
            if idle is None or idle.poll() is None:
                pc.stop()
            if idle is not None:
                idle.wait()
            self.boots[-1].setdefault("ended", time.time())

    def collect(self, pc):
        """What an engineer would bring back from the PC: C:\\VELK, and a:\\LOG."""
        velk = os.path.join(self.out, "VELK")
        report.claim(self.out, "VELK", "a-LOG.txt")
        shutil.rmtree(velk, ignore_errors=True)
        if pc.exists(VELK):
            shutil.copytree(pc.host_path(VELK), velk, symlinks=True)
        if pc.exists(A_LOG):
            with open(os.path.join(self.out, "a-LOG.txt"), "wb") as f:
                f.write(pc.read_file(A_LOG))

    def clock(self):
        """The rehearsal's own observations, in seconds since 1970."""
        ended = self.boots[-1].get("ended", time.time()) if self.boots else time.time()
        windows = []
        for boot in self.boots if self.stamps else ():
            until = boot.get("held") or boot.get("ended") or ended
            for window in self.stamps.windows(boot["started"], until, boot.get("engine_started")):
                windows.append(dict(window, boot=boot["boot"]))
        boots = [dict({name: None for name in BOOT_TIMES}, **boot) for boot in self.boots]
        return {"boots": boots, "windows": windows, "ended": ended}

    def model(self, boots, seconds, stopped):
        clock = self.clock()
        changes = []
        for i in range(len(self.snapshots) - 1):
            number = i + 1
            since = "power-on" if number == 1 else "restart %d" % (number - 1)
            until = "the PC was idle" if i == len(self.snapshots) - 2 else "restart %d" % number
            before, after = self.snapshots[i], self.snapshots[i + 1]
            found = machine_diff.compare(before, after)
            windows = [w for w in clock["windows"] if w["boot"] == number]
            began = clock["boots"][i]["started"] if i < len(clock["boots"]) else None
            boot_end = self.snapshot_times[i + 1] if i + 1 < len(self.snapshot_times) else clock["ended"]
            cleanups = self.stamps.cleaned(began, boot_end) if self.stamps and began is not None else {}
            groups = attribution.attribute(found, after.file_times, after.key_times, windows, began, cleanups)
            changes.append({
                "boot": number, "title": "Boot %d: from %s to %s" % (number, since, until),
                "changes": found, "notes": self.boot_notes.get(number, []),
                "by_entry": [dict(g, who=attribution.who(g["entries"])) for g in groups],
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
                   "run_list": self.run_list, "sources": self.sources,
                   "engine_version": self.engine_version, "wine_version": wine_version()}
        gates = timeline.gate_seconds(clock)
        rehearsal = {
            "boots": boots, "seconds": seconds, "stopped": stopped,
            "machine_seconds": max(seconds - gates, 0), "overhead_seconds": gates,
            "setup_seconds": self.setup_seconds,
            "incomplete": self.incomplete,
            "crash_dialog": "disabled (HKCU\\Software\\Wine\\WineDbg, ShowCrashDialog = 0): a crash ends the "
                            "program, and the pictures show what was left on the screen",
            "screenshots": sorted(self.shots, key=lambda s: (s["boot"], s["what"] != "progress")),
            "screenshots_missed": missed,
            "changes": changes, "run_values": run_values, "engine_files": engine_files,
            "left_out": machine_diff.churn_descriptions(),
            "harness": {"folder": HARNESS, "value": "%s\\%s" % (RUN_ONCE, GATE_VALUE), "log_tag": LOG_TAG},
            "check": self.check_text, "kept_at": self.kept_at, "out": self.out,
            "clock": clock, "token": os.environ.get(TOKEN_VARIABLE),
        }
        title = "Rehearsal of %s" % os.path.basename(self.run_list)
        model = report.build_model(records, title, machine, rehearsal)
        present = {path.lower() for path in final.files}
        for entry in model["entries"]:
            if entry["cleanup"]:
                entry["cleanup_state"] = "present" if entry["cleanup"].rstrip("\\").lower() in present else "gone"
            entry["changes"] = [dict(group, boot=boot["boot"]) for boot in changes for group in boot["by_entry"]
                                if entry["number"] in group["entries"]]
        return model


def wait_for(condition, timeout, failure):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise VpcError(failure)
        time.sleep(0.05)


class Interruption:
    """The handler of Ctrl-C and SIGTERM. The first one ends the run where it is, while
    armed; once the run is over, it is only noted, and the PC is switched off rather than
    waited for. Later ones are ignored, so that the PC is ended and the report and the
    JUnit file written all the same."""

    def __init__(self):
        self.signalled = None
        self.armed = True

    def __call__(self, signum, frame):
        if self.signalled:
            return
        self.signalled = "SIGTERM" if signum == signal.SIGTERM else "Ctrl-C"
        if self.armed:
            raise Interrupted(self.signalled)

    def install(self):
        """Takes both signals in the main thread; returns what restores the handlers before."""
        if threading.current_thread() is not threading.main_thread():
            return lambda: None
        before = {number: signal.signal(number, self) for number in (signal.SIGTERM, signal.SIGINT)}
        return lambda: [signal.signal(number, handler) for number, handler in before.items()]


def rehearse(run_list, sources, out, arch="win32", family="nt", factory=False, time_limit=DEFAULT_TIME_LIMIT,
             keep=False, force=False, stdout=None, stderr=None, junit=None):
    """Checks the list, runs it in a virtual PC and writes the report (and junit, a
    junit.JUnitFile, when given). Returns the exit code: 0 when the run finished without
    an error file, 1 when it did not (also when it was interrupted), 2 when the check
    found errors (unless forced) or the rehearsal was incomplete (its report written all
    the same). An output folder it may not use, a rehearsal that could not be made, or
    one interrupted before its PC ran, raises VpcError or OSError (exit code 2 at the
    command line)."""
    stdout, stderr = stdout or sys.stdout, stderr or sys.stderr
    interruption = Interruption()
    restore = interruption.install()
    try:
        apart = (("the sources", sources), ("the run list's folder", os.path.dirname(os.path.abspath(run_list))))
        with report.prepare_out(out, apart):
            check_path = os.path.join(out, "check.txt")
            report.claim(out, "check.txt")
            with open(check_path, "w") as found:
                code = check_run_list(run_list, sources, output=found)
            with open(check_path, encoding="utf-8", errors="replace") as found:
                check_text = found.read()
            stdout.write(check_text)
            stdout.flush()
            if code != 0 and not force:
                stderr.write("rehearse: the check found errors; mend the list, or give --force to run it all the "
                             "same\n")
                return 2
            rehearsal = Rehearsal(run_list, sources, out, arch=arch, family=family, factory=factory,
                                  time_limit=time_limit, keep=keep, check_text=check_text, progress=stderr,
                                  interruption=interruption)
            model = rehearsal.run()
            page = report.write_report(model, out)
            if junit:
                junit.write(model)
            with open(os.path.join(out, "report.txt"), encoding="utf-8") as f:
                stdout.write(f.read())
        stdout.write("\nThe report: %s\n" % page)
        if rehearsal.kept_at:
            stdout.write("The virtual PC is kept at %s\n" % rehearsal.kept_at)
        if model["incomplete"]:
            # The tool's own failure: the report holds what it saw, but it saw not all.
            stderr.write("rehearse: rehearsal incomplete: %s\n" % "; ".join(model["incomplete"]))
            return 2
        return 0 if model["finished"] else 1
    finally:
        restore()
