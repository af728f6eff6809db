"""Power cuts while Hobrint rewrites the run list, and what they must never cost.

In a virtual PC Hobrint fixes a run list of many entries whose programs it finds on drive
C:, while a scanner opens random files of C:\\VELK for a moment all through (sharing read
and write, not delete), as on the line: there they are the list, its rewrite, its backup
and its copy set aside, each held often, as a scanner holds a file just written. The harness cuts the power (every process of the
PC ends at once) during the rewrite, aimed in turn anywhere between the rewrite's
creation and Hobrint's end, just after the backup is written (the list's replacement
follows), and the moment the list's file changes (it steps aside on the 9x family). After every cut it checks what the next start reads, by the recovery rule the
engine and Hobrint share (the list; where it is missing and a copy set aside by a
replacement is there, that replacement's rewrite, else the copy):

- it exists, and holds the list as it was or the list as fixed, byte for byte;
- then Hobrint runs again, as the next start of the line would run it: it ends with exit
  code 0 and leaves the fixed list, and no copy set aside (which a later recovery could
  take for the list).

Cuts are counted by what they left: before the rewrite began, while it was written (the
list whole beside it), with the rewrite whole before the list's replacement, between the
renames (the list aside, 9x family), after the rename (the copy aside not yet deleted)
and after the end. Only the four in the middle fall during the rewrite; the campaign runs
until that many cuts have been made there.

    scripts/fault-campaign N --utility hobrint [--family 9x|nt] [--arch win32|win64] [--seed S]
"""

import collections
import os
import random
import time

from .host import VpcError
from .pc import VirtualPC

HOBRINT = r"C:\VELK\Hobrint.exe"
SCANNER = r"C:\VELK\scanner.exe"
RUN_LIST = r"C:\VELK\RUN.NUV"
REWRITE = r"C:\VELK\RUNNUV.TMP"
ASIDE = r"C:\VELK\~RUN.NUV.OLD"
BACKUP = r"C:\VELK\RUNNUV.BAK"
# The scanner looks at a file as soon as it is written, as scanners do: the rewrite just
# closed, or the backup, is held the moment Hobrint renames it, and the renames wait.
HOBRINT_UNDER_SCANNER = (SCANNER, "/newest", "C:\\VELK", HOBRINT, RUN_LIST, "OSTREL.DLL", "NUVDEST")
ENTRIES = 300
COMMENT = "# Power cuts during Hobrint's rewrite"

PHASES = ("before", "writing", "whole", "renames", "aside", "after")
PHASE_NAMES = {
    "before": "before the rewrite began",
    "writing": "while the rewrite was written",
    "whole": "rewrite whole, before the list's replacement",
    "renames": "between the renames (list aside)",
    "aside": "after the rename, copy aside left",
    "after": "after the end",
}
DURING = ("writing", "whole", "renames", "aside")
# Where the cuts are aimed, in turn: anywhere in the rewrite, just after the backup is
# written (the replacement follows), and the moment the list's file changes.
AIMS = ("any", "swap", "list")


def make_lists(rng):
    """The list as prepared and as Hobrint fixes it: entries of varied lengths, some for
    another plug-in (left as they are), a blank line and a line without a line end."""
    prepared, fixed = [COMMENT], [COMMENT]
    for i in range(ENTRIES):
        token = "OSTREL.DLL" if i % 7 else "QUILLAN.DLL"
        padding = " /pad:" + "x" * rng.randint(0, 300)
        line = "%s, ${NUVDEST}:\\APPS\\P%d\\SETUP.EXE%s, C:\\APPS\\P%d, 60" % (token, i, padding, i)
        prepared.append(line)
        fixed.append(line.replace("${NUVDEST}", "C") if token == "OSTREL.DLL" else line)
        if i == ENTRIES // 2:
            prepared.append("")
            fixed.append("")
    return "\r\n".join(prepared).encode(), "\r\n".join(fixed).encode()


def make_pc(family, arch, build_dir):
    pc = VirtualPC(family=family, arch=arch)
    try:
        pc.put_file(HOBRINT, source=os.path.join(build_dir, "utilities", "hobrint", "Hobrint.exe"))
        pc.put_file(SCANNER, source=os.path.join(build_dir, "fixtures", "scanner.exe"))
        for i in range(ENTRIES):
            pc.put_file(r"C:\APPS\P%d\SETUP.EXE" % i, b"MZ")
        # The registry (the family among it) is on the disk only once the server has
        # ended in order: a cut would take back what it had not saved.
        pc.stop()
    except Exception:
        pc.close()
        raise
    return pc


def start_hobrint(pc):
    return pc.start(*HOBRINT_UNDER_SCANNER)


def read_or_none(pc, path):
    return pc.read_file(path) if pc.exists(path) else None


def next_reading(pc):
    """What the next start reads as the list, by the shared recovery rule, or None."""
    if pc.exists(RUN_LIST):
        return pc.read_file(RUN_LIST)
    if pc.exists(ASIDE):
        return pc.read_file(REWRITE if pc.exists(REWRITE) else ASIDE)
    return None


def classify(pc, prepared, fixed):
    listed = read_or_none(pc, RUN_LIST)
    if listed is None:
        return "renames"
    if pc.exists(ASIDE):
        return "aside" if listed == fixed else "writing"
    if listed == fixed:
        return "after"
    if not pc.exists(REWRITE):
        return "before"
    return "whole" if pc.read_file(REWRITE) == fixed else "writing"


def file_identity(path):
    """What tells one state of a file from another: its inode, size and time; None when
    it is missing."""
    try:
        info = os.stat(path)
    except OSError:
        return None
    return info.st_ino, info.st_size, info.st_mtime_ns


def wait_until(condition, process, timeout=120):
    """Polls for condition while the process runs, without a pause: the list stands aside
    for a fraction of a millisecond. False when the process ended first."""
    deadline = time.monotonic() + timeout
    while not condition():
        if process.poll() is not None:
            return False
        if time.monotonic() > deadline:
            raise VpcError("Hobrint made no progress for %d s" % timeout)
    return True


def cut_during_rewrite(pc, rng, aim, duration):
    """Starts Hobrint and cuts the power at a random moment of the rewrite. aim "any":
    from the rewrite's creation to Hobrint's end; "swap": just after the backup stands
    anew, where the list is replaced; "list": the moment the list's file changes."""
    rewrite, backup, listed = pc.host_path(REWRITE), pc.host_path(BACKUP), pc.host_path(RUN_LIST)
    prepared_identity = file_identity(listed)
    process = start_hobrint(pc)
    reached = wait_until(lambda: os.path.exists(rewrite), process)
    # Every process of the PC is running by now: the cut ends these first, at once.
    known = pc.process_ids()
    if reached and aim == "swap":
        # The old backup goes, then the new one is copied: the replacement follows.
        reached = wait_until(lambda: not os.path.exists(backup), process) and \
            wait_until(lambda: os.path.exists(backup), process)
        delay = rng.uniform(0.0, 0.004)
    elif reached and aim == "list":
        # As soon as the list's file is no longer the one prepared: stepped aside (9x
        # family), replaced, or being written over.
        reached = wait_until(lambda: file_identity(listed) != prepared_identity, process)
        delay = 0.0
    else:
        delay = rng.uniform(0.0, duration)
    if reached:
        end = time.monotonic() + delay
        while time.monotonic() < end and process.poll() is None:
            pass
    pc.power_cut(known)


class Result:
    def __init__(self, seed, family, arch):
        self.seed, self.family, self.arch = seed, family, arch
        self.cuts = collections.Counter()
        self.violations = []
        self.rounds = 0
        self.seconds = 0.0
        self.rewrite_seconds = 0.0

    def during(self):
        return sum(self.cuts[p] for p in DURING)

    def table(self):
        rows = [("cuts made", sum(self.cuts.values()))]
        rows += [("  " + PHASE_NAMES[p], self.cuts[p]) for p in PHASES]
        rows += [("cuts during the rewrite", self.during()),
                 ("invariant violations", len(self.violations)),
                 ("time taken", "%d min %02d s" % divmod(int(self.seconds), 60))]
        width = max(len(name) for name, _ in rows)
        lines = ["Power cuts during Hobrint's rewrite: %s family, %s, seed %d, scanner on, %d entries, "
                 "rewrites of up to %d ms" % (self.family.upper(), self.arch, self.seed, ENTRIES,
                                              round(self.rewrite_seconds * 1000))]
        lines += ["  %-*s  %8s" % (width, name, value) for name, value in rows]
        lines += ["  violation: " + v for v in self.violations]
        return "\n".join(lines)


def keep_state(pc, out_dir, name):
    return pc.copy_out((RUN_LIST, REWRITE, ASIDE, BACKUP), os.path.join(out_dir, name))


def run_fixup_campaign(cuts, seed, family="9x", arch="win32", build_dir=None, out_dir=None, report=print):
    """Cuts until `cuts` of them fell during the rewrite; returns the Result."""
    rng = random.Random(seed)
    result = Result(seed, family, arch)
    begun = time.monotonic()
    pc = make_pc(family, arch, build_dir)
    try:
        prepared, fixed = make_lists(rng)
        # Whole runs first, to learn how long the rewrite takes here: from its creation
        # until it has taken the list's place.
        durations = []
        for _ in range(3):
            pc.put_file(RUN_LIST, prepared)
            rewrite = pc.host_path(REWRITE)
            process = start_hobrint(pc)
            wait_until(lambda: os.path.exists(rewrite), process)
            started = time.monotonic()
            wait_until(lambda: not os.path.exists(rewrite), process)
            durations.append(time.monotonic() - started)
            if process.wait(120) != 0 or pc.read_file(RUN_LIST) != fixed:
                raise VpcError("Hobrint did not fix the campaign's list")
        result.rewrite_seconds = duration = max(durations)
        while result.during() < cuts:
            result.rounds += 1
            prepared, fixed = make_lists(rng)
            pc.put_file(RUN_LIST, prepared)
            cut_during_rewrite(pc, rng, AIMS[result.rounds % len(AIMS)], duration)
            phase = classify(pc, prepared, fixed)
            result.cuts[phase] += 1
            problems = []
            reading = next_reading(pc)
            if reading is None:
                problems.append("the run list is missing and nothing beside it puts it back")
            elif reading not in (prepared, fixed):
                problems.append("the list the next start reads is neither the old nor the fixed one (%d bytes)"
                                % len(reading))
            state = keep_state(pc, out_dir, "round-%d" % result.rounds) if problems else None
            again = pc.run(*HOBRINT_UNDER_SCANNER)
            if again.code != 0:
                problems.append("the next run of Hobrint ended with %d" % again.code)
            if read_or_none(pc, RUN_LIST) != fixed:
                problems.append("after the next run the list is not the fixed one")
            # A rewrite a scanner held past the retries may stay: it is never taken for
            # the list without a copy set aside beside it, and the next run writes it anew.
            if pc.exists(ASIDE):
                problems.append("after the next run a copy set aside is left")
            if problems and state is None:
                state = keep_state(pc, out_dir, "round-%d" % result.rounds)
            for problem in problems:
                result.violations.append("round %d (%s): %s [state in %s]" % (
                    result.rounds, PHASE_NAMES[phase], problem, state))
            report("round %d, cut %s: %s" % (result.rounds, PHASE_NAMES[phase],
                                            "; ".join(problems) if problems else "ok"))
    finally:
        pc.close()
    result.seconds = time.monotonic() - begun
    return result
