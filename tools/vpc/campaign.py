"""Power cuts during factory installations, and what they must never cost.

In a virtual PC the engine installs a run list of ten plain commands through Ostrel.dll
(commands of different lengths, two asking for a restart, most with a clean-up folder and
three without, whose STOP and CLEAN stamps go to disk in one rewrite)
while a scanner opens random files of C:\\VELK for a moment, all through the run. The
harness cuts the power at random instants (every process of the PC ends at once), boots
again after each cut, and lets the last boot of a round run until the engine has
finished. After every cut and at the end of every round it checks that:

- the run list keeps its lines, in their order, each field but the three stamps as it
  was, and every stamp once written stays as it is;
- stamps come only in the order START, STOP, CLEAN, one entry after the other;
- no file outside the clean-up folders was deleted, and a clean-up folder only once its
  entry's STOP stamp is on disk;
- at the end either every entry has all three stamps, or the error file exists and
  names the first entry that did not finish.

It prints a table of the cuts by phase, the rounds' outcomes and the violations (which
must be 0), keeps the state of every violation (and what Wine printed in the round's
boots) under build/fault-campaign/ARCH-FAMILY
(so that campaigns of different kinds can run side by side), and exits 1
when there was one.

    scripts/fault-campaign N [--seed S] [--family nt|9x] [--arch win32|win64] [--no-build | --build-dir DIR]

With --utility hobrint the cuts fall while Hobrint rewrites the run list instead
(tools/vpc/fixup_campaign.py).
"""

import argparse
import collections
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

from .fixup_campaign import run_fixup_campaign
from .host import VpcError
from .pc import VirtualPC
from .registry import RUN_KEY
from .report import decode_text

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

ENGINE = r"C:\Velk\NUV\NUV.exe"
ENGINE_FOLDER = "C:\\VELK\\NUV\\"
RUN_LIST = r"C:\VELK\RUN.NUV"
REWRITE = r"C:\VELK\~RUN.NUV"
ASIDE = r"C:\VELK\~RUN.OLD"
LOG = r"c:\velk\nuv.log"
ERR = r"c:\velk\nuv.err"
FINISHED = r"C:\Velk\nuv.dun"
RESTART_ASKED = "CNUVApp::ExitWindowsEx(...) shutting down system."
# Wine now and then does not make the restart a program asks for (its detached wineboot,
# or the Run key's program, never starts): the PC comes to rest with the run unfinished.
# A person would switch it on again; so does the campaign, this many times a round.
LOST_RESTARTS_A_ROUND = 3
TASK = r"C:\fixtures\task_exit.exe"
SCANNER = r"C:\fixtures\scanner.exe"
# Folders Wine keeps for itself: the engine never touches them.
WINE_FOLDERS = ("windows", "users", "programdata", "program files", "program files (x86)")

ENTRIES = 10
RESTARTING = (3, 7)
# Entries without a clean-up folder: nothing happens between their STOP and CLEAN.
WITHOUT_CLEANUP = (1, 5, 8)
# Argument lengths that make the lines short, long and about 3,000 characters.
PADDING = (0, 40, 400, 2900, 10, 1200, 100, 0, 800, 60)
COMMENT = "# Power-cut campaign: ten commands, two restarts"
STAMP_KEYWORDS = ("START", "STOP", "CLEAN")
FAILURE_TEXTS = ("Failing Download", "Unable to record", "Installation Failed", "CleanupInstallationFiles Failed")

PHASES = ("install", "stamp", "countdown", "final", "elsewhere")
PHASE_NAMES = {
    "install": "during an install",
    "stamp": "during a stamp rewrite",
    "countdown": "during a countdown",
    "final": "during the final clean-up",
    "elsewhere": "elsewhere (start-up, restart)",
}
# What the harness waits for in the engine's log before it cuts, and how long after.
TARGETS = {
    "install": (("\tCalling pWrapper->InstallApplication(...)",), (0.0, 0.35)),
    "stamp": (("\tSetting start time", "Entering stop time.", "Entering clean time."), (0.0, 0.004)),
    "countdown": (("Intermediate reboot detected", "[bSet=TRUE,bFinal=TRUE]"), (0.0, 4.5)),
    "final": (("Deleting files...",), (0.0, 20.5)),
    "any": ((), (0.0, 25.0)),
}


def build(out_dir, arch):
    with open(os.path.join(out_dir, "build.log"), "w") as log:
        for command in (["cmake", "--preset", arch], ["cmake", "--build", "--preset", arch]):
            if subprocess.run(command, cwd=REPO, stdout=log, stderr=subprocess.STDOUT).returncode != 0:
                sys.exit("fault-campaign: the build failed; see " + log.name)


class Plan:
    """One round's run list and the files around it, as the harness made them."""

    def __init__(self, rng):
        self.entries = []
        self.clean_folders = []
        for i in range(ENTRIES):
            folder = "" if i in WITHOUT_CLEANUP else "C:\\VELK\\APPS\\P%d" % i
            command = "%s 0 %d C:\\VELKTEST\\ran%d.txt%s" % (
                TASK, rng.randint(400, 2500), i, (" /pad:" + "x" * PADDING[i]) if PADDING[i] else "")
            reboot = "REBOOT" if i in RESTARTING else ""
            self.entries.append(["OSTREL.DLL", command, folder, "", reboot])
            self.clean_folders.append(folder)
        self.text = COMMENT + "\r\n" + "".join(", ".join(e) + "\r\n" for e in self.entries)

    def files(self):
        """Windows path and bytes of every file the round starts with, beside the engine."""
        made = {}
        for i, folder in enumerate(self.clean_folders):
            if not folder:
                continue
            made[folder + "\\setup.ini"] = b"[package]\r\nnumber=%d\r\n" % i
            made[folder + "\\DATA\\part.cab"] = os.urandom(4096)
        # The customer's own files: beside the packages, and elsewhere on the disk.
        made[r"C:\VELK\APPS\SHARED\common.txt"] = b"shared by every package\r\n"
        made[r"C:\VELK\KEEP.TXT"] = b"the factory's own notes\r\n"
        made[r"C:\DATA\serial.txt"] = b"SN 0001\r\n"
        return made


def make_pc(family, arch, build_dir, plan):
    pc = VirtualPC(family=family, arch=arch)
    try:
        pc.put_file(ENGINE, source=os.path.join(build_dir, "engine", "NUV.exe"))
        pc.put_file(r"C:\Velk\NUV\OSTREL.DLL", source=os.path.join(build_dir, "wrappers", "command", "Ostrel.dll"))
        pc.put_file(TASK, source=os.path.join(build_dir, "fixtures", "task_exit.exe"))
        pc.put_file(SCANNER, source=os.path.join(build_dir, "fixtures", "scanner.exe"))
        pc.put_file(r"c:\velk\nuv\nuvlog.tag", b"")
        pc.make_dir(r"C:\VELKTEST")
        for path, data in plan.files().items():
            pc.put_file(path, data)
        pc.put_file(RUN_LIST, plan.text)
        # The scanner starts the engine after every boot and lives as long as it does.
        pc.set_reg(RUN_KEY, "Velk NUV", "%s C:\\VELK %s" % (SCANNER, ENGINE))
        pc.set_reg(RUN_KEY, "Velk NUV2", r"C:\windows\system32\cmd.exe /c exit")
        pc.set_reg(RUN_KEY, "Velk NUV3", r"C:\windows\system32\cmd.exe /c exit")
        pc.stop()
    except Exception:
        pc.close()
        raise
    return pc


def disk_files(pc):
    """{lower-case Windows path: host path} of every file outside Wine's own folders."""
    root = pc.host_path("C:\\")
    files = {}
    for folder, dirs, names in os.walk(root):
        if folder == root:
            dirs[:] = [d for d in dirs if d.lower() not in WINE_FOLDERS]
        for name in names:
            path = os.path.join(folder, name)
            files[("C:\\" + os.path.relpath(path, root).replace("/", "\\")).lower()] = path
    return files


class Checker:
    """The invariants over one round: what every state of the disk must show."""

    def __init__(self, pc, plan):
        self.pc = pc
        self.plan = plan
        self.stamps = [[""] * 3 for _ in plan.entries]
        self.start_files = disk_files(pc)
        self.start_bytes = {path: open(host, "rb").read() for path, host in self.start_files.items()
                            if not path.startswith(ENGINE_FOLDER.lower()) and path != RUN_LIST.lower()}

    def run_list(self, problems):
        """The list the engine reads next: the list, or, on the 9x family, what a cut
        between the renames of a replacement left beside a missing list. The list is
        never deleted there, only renamed aside (to ~RUN.OLD) until its rewrite stands:
        a missing list without that copy is a violation. The next start puts back the
        whole rewrite when it stands, else the copy set aside."""
        if self.pc.exists(RUN_LIST):
            return decode_text(self.pc.read_file(RUN_LIST))
        if self.pc.family == "9x" and self.pc.exists(ASIDE):
            return decode_text(self.pc.read_file(REWRITE if self.pc.exists(REWRITE) else ASIDE))
        problems.append("the run list is missing")
        return None

    def check(self):
        problems = []
        text = self.run_list(problems)
        if text is not None:
            self.check_lines(text, problems)
        # A list set aside for its rewrite is checked above, not taken for a deleted file.
        self.check_files(problems, list_stands=text is not None)
        return problems

    def check_lines(self, text, problems):
        lines = text.split("\r\n")
        if len(lines) != len(self.plan.entries) + 2 or lines[-1] != "":
            problems.append("the run list has %d lines, not %d" % (len(lines) - 1, len(self.plan.entries) + 1))
            return
        if lines[0] != COMMENT:
            problems.append("the comment line changed: %r" % lines[0][:80])
        started_unfinished = 0
        previous_complete = True
        for number, (line, entry) in enumerate(zip(lines[1:], self.plan.entries), 2):
            fields = [f.strip() for f in line.split(",")]
            if len(fields) > 8:
                problems.append("line %d has %d fields" % (number, len(fields)))
                continue
            fields += [""] * (8 - len(fields))
            if fields[:5] != entry:
                problems.append("line %d: its fields changed: %r" % (number, line[:120]))
                continue
            stamps = fields[5:8]
            malformed = [k for k, stamp in zip(STAMP_KEYWORDS, stamps)
                         if stamp and not re.fullmatch(k + r" \d\d:\d\d:\d\d", stamp)]
            if malformed or [bool(s) for s in stamps] not in (
                    [False] * 3, [True, False, False], [True, True, False], [True] * 3):
                problems.append("line %d: stamps malformed or out of order: %r" % (number, stamps))
                continue
            for keyword, before, now in zip(STAMP_KEYWORDS, self.stamps[number - 2], stamps):
                if before and before != now:
                    problems.append("line %d: the %s stamp %r became %r" % (number, keyword, before, now))
            self.stamps[number - 2] = [now or before for before, now in zip(self.stamps[number - 2], stamps)]
            if stamps[0] and not previous_complete:
                problems.append("line %d started before the entry above it finished" % number)
            if stamps[0] and not stamps[2]:
                started_unfinished += 1
            previous_complete = bool(stamps[2])
        if started_unfinished > 1:
            problems.append("%d entries started and unfinished" % started_unfinished)

    def check_files(self, problems, list_stands=True):
        now = disk_files(self.pc)
        for path in self.start_files:
            if path in now or path.startswith(ENGINE_FOLDER.lower()):
                continue
            if path == RUN_LIST.lower() and list_stands:
                continue
            folder = self.clean_folder_of(path)
            if folder is None:
                problems.append("deleted: " + path)
            elif not self.stamps[folder][1]:
                problems.append("deleted before its entry's STOP stamp: " + path)
        for path, data in self.start_bytes.items():
            if path in now and self.clean_folder_of(path) is None:
                with open(now[path], "rb") as f:
                    if f.read() != data:
                        problems.append("changed: " + path)

    def clean_folder_of(self, path):
        for i, folder in enumerate(self.plan.clean_folders):
            if not folder:
                continue
            if path.startswith(folder.lower() + "\\"):
                return i
        return None

    def restart_not_made(self):
        """Whether the engine's last words were the restart it asked for, yet the PC came to
        rest with the run neither finished nor reported: the restart never came."""
        self.check()  # brings the stamps up to date
        if self.pc.exists(ERR) or not self.pc.exists(LOG) or all(stamps[2] for stamps in self.stamps):
            return False
        lines = [line for line in decode_text(self.pc.read_file(LOG)).split("\r\n") if line.strip()]
        return any(RESTART_ASKED in line for line in lines[-3:])

    def check_end(self):
        """After the round's last boot has come to rest. Returns (problems, outcome)."""
        problems = self.check()
        unfinished = [i for i, stamps in enumerate(self.stamps) if not stamps[2]]
        if not unfinished:
            return problems, "complete"
        errors = decode_text(self.pc.read_file(ERR)) if self.pc.exists(ERR) else None
        first = self.plan.entries[unfinished[0]]
        reported = errors is not None and first[1] in errors and any(text in errors for text in FAILURE_TEXTS)
        if errors is None:
            problems.append("entry %d unfinished and no error file%s" % (
                unfinished[0] + 1, " (but the finished mark)" if self.pc.exists(FINISHED) else ""))
        elif not reported:
            problems.append("the error file does not name unfinished entry %d: %r" % (unfinished[0] + 1, errors[:300]))
        return problems, "error reported" if reported else "unreported"


class LogWatch:
    """Reads what the engine adds to its log, from a given offset."""

    def __init__(self, pc):
        self.path = pc.host_path(LOG)
        self.offset = os.path.getsize(self.path) if os.path.exists(self.path) else 0
        self.start = self.offset
        self.tail = ""

    def seen(self, markers):
        try:
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                added = f.read()
        except OSError:
            return False
        if not added:
            return False
        self.offset += len(added)
        self.tail = (self.tail + decode_text(added))[-4096:]
        return any(marker in self.tail for marker in markers)

    def boot_lines(self):
        """The log lines of this boot, so far."""
        try:
            with open(self.path, "rb") as f:
                f.seek(self.start)
                text = decode_text(f.read())
        except OSError:
            return []
        return [line for line in text.split("\r\n") if line.strip()]


def classify(pc, lines):
    """Where the engine was when the power went, from its log and the rewrite file."""
    if pc.exists(REWRITE):
        return "stamp"
    phase = "elsewhere"
    for line in lines:
        if "Deleting files..." in line:
            phase = "final"
        elif "Intermediate reboot detected" in line or "[bSet=TRUE,bFinal=TRUE]" in line:
            phase = "countdown"
        elif phase in ("final", "countdown") and "posting WM_CLOSE" not in line and "OnDestroy" not in line:
            continue
        elif any(marker in line for marker in TARGETS["stamp"][0]):
            phase = "stamp"
        elif "LoadWrapperAndCreateInstance" in line or "No stop time detected" in line or "Calling pWrapper->" in line:
            phase = "install"
        else:
            phase = "elsewhere"
    return phase


def choose_target(rng, checker):
    """A moment this boot can still reach: once an entry failed, or all are done, the
    boots left only report, clean up and restart."""
    walking = not checker.pc.exists(ERR) and not all(stamps[2] for stamps in checker.stamps) and \
        not any(stamps[0] and not stamps[2] for stamps in checker.stamps)
    weights = {"install": 1, "stamp": 2, "countdown": 1.5, "final": 1, "any": 1} if walking else \
        {"countdown": 1, "final": 1, "any": 1}
    names = sorted(weights)
    return rng.choices(names, [weights[n] for n in names])[0]


def cut_during_boot(pc, rng, target):
    """Waits for a random moment of this boot of the kind target names and cuts the
    power. Returns the phase the engine was in, or None when the PC came to rest first."""
    markers, (low, high) = TARGETS[target]
    watch = LogWatch(pc)
    waiter = subprocess.Popen(["wineserver", "-w"], env=pc.env(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        begun = time.monotonic()
        cut_at = begun + rng.uniform(low, high) if not markers else None
        while True:
            if waiter.poll() is not None:
                return None
            now = time.monotonic()
            if cut_at is None and watch.seen(markers):
                cut_at = now + rng.uniform(low, high)
            if cut_at is not None and now >= cut_at:
                break
            if now - begun > 600:
                raise VpcError("the engine made no progress for 600 s")
            # Stamps are rewritten in a few milliseconds: look often then.
            time.sleep(0.0005 if target == "stamp" else 0.01)
        pc.power_cut()
    finally:
        waiter.wait()
    return classify(pc, watch.boot_lines())


def keep_state(pc, out_dir, name):
    folder = pc.copy_out((RUN_LIST, REWRITE, LOG, ERR), os.path.join(out_dir, name))
    # What Wine printed in every boot of the round (a crash's trace among it): the PC's
    # own files go with the PC.
    logs = os.path.join(folder, "wine-output")
    if os.path.isdir(pc.logs) and not os.path.exists(logs):
        shutil.copytree(pc.logs, logs)
    return folder


class Result:
    def __init__(self, seed, family, arch):
        self.seed = seed
        self.family = family
        self.arch = arch
        self.cuts = collections.Counter()
        self.outcomes = collections.Counter()
        self.violations = []
        self.rounds = 0
        self.lost_restarts = 0
        self.seconds = 0.0

    def table(self):
        made = sum(self.cuts.values())
        rows = [("cuts made", made)]
        rows += [("  " + PHASE_NAMES[p], self.cuts[p]) for p in PHASES]
        rows += [("rounds", self.rounds),
                 ("  ending with every entry complete", self.outcomes["complete"]),
                 ("  ending with the failure in the error file", self.outcomes["error reported"]),
                 ("  ending unfinished and not reported", self.outcomes["unreported"]),
                 ("restarts Wine did not make (switched on again)", self.lost_restarts),
                 ("invariant violations", len(self.violations)),
                 ("time taken", "%d min %02d s" % divmod(int(self.seconds), 60))]
        width = max(len(name) for name, _ in rows)
        lines = ["Power-cut campaign: %s family, %s, seed %d, scanner on" % (self.family.upper(), self.arch,
                                                                            self.seed)]
        lines += ["  %-*s  %8s" % (width, name, value) for name, value in rows]
        lines += ["  violation: " + v for v in self.violations]
        return "\n".join(lines)


def campaign_folder(arch, family, utility=None):
    name = "%s-%s" % (arch, family) + ("-" + utility if utility else "")
    return os.path.join(REPO, "build", "fault-campaign", name)


def run_campaign(cuts, seed, family="nt", arch="win32", build_dir=None, out_dir=None, report=print):
    build_dir = build_dir or os.path.join(REPO, "build", arch)
    out_dir = out_dir or campaign_folder(arch, family)
    rng = random.Random(seed)
    result = Result(seed, family, arch)
    begun = time.monotonic()
    while sum(result.cuts.values()) < cuts:
        result.rounds += 1
        plan = Plan(rng)
        pc = make_pc(family, arch, build_dir, plan)
        try:
            checker = Checker(pc, plan)
            left = min(rng.randint(2, 5), cuts - sum(result.cuts.values()))
            cut_number = 0
            lost_restarts = 0
            while True:
                pc.boot()
                phase = cut_during_boot(pc, rng, choose_target(rng, checker)) if left else None
                if phase is None:
                    pc.wait_idle(timeout=900)
                    if lost_restarts < LOST_RESTARTS_A_ROUND and checker.restart_not_made():
                        lost_restarts += 1
                        result.lost_restarts += 1
                        report("round %d: the restart the engine asked for did not come; switched on again" %
                               result.rounds)
                        continue
                    problems, outcome = checker.check_end()
                    result.outcomes[outcome] += 1
                    where = "round %d, end" % result.rounds
                else:
                    left -= 1
                    cut_number += 1
                    result.cuts[phase] += 1
                    problems = checker.check()
                    where = "round %d, cut %d (%s)" % (result.rounds, cut_number, PHASE_NAMES[phase])
                for problem in problems:
                    result.violations.append("%s: %s [state in %s]" % (
                        where, problem, keep_state(pc, out_dir, "violation-%d" % (len(result.violations) + 1))))
                report("%s: %s" % (where, "; ".join(problems) if problems else "ok"))
                if phase is None:
                    break
        finally:
            pc.close()
    result.seconds = time.monotonic() - begun
    return result


def main(argv=None):
    parser = argparse.ArgumentParser(prog="fault-campaign",
                                     description="Cut the power during factory installations and check what is left.")
    parser.add_argument("cuts", type=int, help="how many power cuts to make")
    parser.add_argument("--seed", type=int, help="the random seed (printed; default from the clock)")
    parser.add_argument("--family", choices=("nt", "9x"), default="nt")
    parser.add_argument("--arch", choices=("win32", "win64"), default="win32",
                        help="a 32-bit PC with the win32 build or a 64-bit PC (NT family) with the win64 build")
    parser.add_argument("--no-build", action="store_true", help="use the existing build")
    parser.add_argument("--build-dir", help="the build to take the binaries from (implies --no-build)")
    parser.add_argument("--utility", choices=("hobrint",),
                        help="cut the power while this utility rewrites the run list, not during the engine's "
                             "run; N counts the cuts that fall during the rewrite")
    args = parser.parse_args(argv)
    if args.arch == "win64" and args.family == "9x":
        parser.error("a 64-bit PC is of the NT family only")
    # Ended from outside: still stop and remove the PC of the round under way.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("fault-campaign: ended"))
    if args.cuts < 1:
        parser.error("at least one cut")
    out_dir = campaign_folder(args.arch, args.family, args.utility)
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    if not args.no_build and not args.build_dir:
        build(out_dir, args.arch)
    seed = args.seed if args.seed is not None else int(time.time())
    build_dir = args.build_dir or os.path.join(REPO, "build", args.arch)
    if args.utility:
        result = run_fixup_campaign(args.cuts, seed, args.family, args.arch, build_dir=build_dir, out_dir=out_dir)
    else:
        result = run_campaign(args.cuts, seed, args.family, args.arch, build_dir=build_dir, out_dir=out_dir)
    table = result.table()
    print(table)
    with open(os.path.join(out_dir, "result.txt"), "w") as f:
        f.write(table + "\n")
    return 1 if result.violations else 0

