"""Many rehearsals at once: every run list given on every machine given, in up to N
virtual PCs at a time, and an index page of them all, a matrix of lists against machines.

Each rehearsal (a cell of the matrix) is a `scripts/vpc rehearse` of one list on one
machine, run as a child process whose output is its folder: the same job a CI system's
job matrix runs on machines of its own, so a release too large for one machine is spread
over several without anything of this module. The index only gathers what the cells'
folders hold.
"""

import collections
import hashlib
import json
import os
import queue
import re
import secrets
import signal
import stat
import subprocess
import sys
import threading
import time

from . import cli, report
from .boot import environment, kill_all, process_ids
from .check import BUILD_LOG, REPO, build_checker
from .host import ARCHS, VpcError
from .rehearse import TOKEN_VARIABLE, Interrupted, Interruption, ensure_built

VPC = os.path.join(REPO, "scripts", "vpc")
# index.json's layout (docs/many-lists.md); raised whenever a field changes meaning or goes.
SCHEMA = 1
NT_ONLY = "a 64-bit PC is of the NT family only"
INDEX = "index"
LOGS = "logs"
LOG_SUFFIX = ".log"
NAME_MAX = 255  # bytes of a file's name on Linux's file systems

Cell = collections.namedtuple("Cell", "run_list name arch family folder")


class Plan(collections.namedtuple("Plan", "lists machines dropped cells index")):
    @property
    def folders(self):
        """Every folder the run writes: one per cell and the index's."""
        return [cell.folder for cell in self.cells] + [self.index]


def machine_label(arch, family):
    return "%s-%s" % (arch, family)


def distinct(values, key=lambda value: value):
    """The values in the order given, each once."""
    seen, kept = set(), []
    for value in values:
        if key(value) not in seen:
            seen.add(key(value))
            kept.append(value)
    return kept


def requested(run_lists, archs, families):
    """(lists, archs, families) a command line asks for, each once: a list given twice
    (also by another path to the same file) is rehearsed once. archs and families are
    lists of lists, as each --arch or --family gives one."""
    return (distinct(run_lists, key=os.path.realpath), distinct(sum(archs, [])), distinct(sum(families, [])))


def machines_of(archs, families):
    """([(arch, family)] of every architecture with every family, [labels of those left
    out]): a 64-bit PC of the 9x family is none."""
    machines = [(arch, family) for arch in archs for family in families if not (arch == "win64" and family == "9x")]
    dropped = [machine_label(arch, family) for arch in archs for family in families
               if (arch, family) not in machines]
    return machines, dropped


def left_out(dropped):
    """The note on standard error of the machines left out."""
    return "rehearse: %s left out: %s\n" % (", ".join(dropped), NT_ONLY)


def plan(run_lists, archs, families, out=None):
    """The cells: every list on every machine (arch and family) but a 64-bit PC of the
    9x family, which is left out. Each cell's folder is its own rehearsal's default one,
    or a folder of that name in out; the index's is out/index, or build/rehearsal/index-
    and six hex digits of the cells' folders, so that the same rehearsals share one."""
    machines, dropped = machines_of(archs, families)
    if not machines:
        raise VpcError(NT_ONLY)
    cells = []
    for run_list in run_lists:
        for arch, family in machines:
            folder = cli.rehearsal_out(run_list, arch, family)
            if out:
                folder = os.path.join(os.path.abspath(out), os.path.basename(folder))
            cells.append(Cell(os.path.abspath(run_list), cli.list_name(run_list), arch, family, folder))
    folders = [cell.folder for cell in cells]
    for cell in cells:
        # Its log's name is the longest this run makes of the list's name.
        if len(os.fsencode(os.path.basename(cell.folder) + LOG_SUFFIX)) > NAME_MAX:
            raise VpcError("the name of %s is too long for the folder of its rehearsal; give the list, or its "
                           "folder when it is called RUN.NUV, a shorter name" % cell.run_list)
    for folder in folders:
        if folders.count(folder) > 1:
            raise VpcError("two of the lists would share the folder %s; give one of them another name or place"
                           % folder)
    if out:
        index = os.path.join(os.path.abspath(out), INDEX)
    else:
        mark = hashlib.sha1(os.fsencode("\n".join(sorted(folders)))).hexdigest()[:6]
        index = os.path.join(cli.REHEARSAL_OUT, "%s-%s" % (INDEX, mark))
    return Plan([os.path.abspath(run_list) for run_list in run_lists], machines, dropped, cells, index)


def default_jobs():
    """As many rehearsals at once as this process may use processors."""
    return max(1, len(os.sched_getaffinity(0)))


def child_options(args):
    """What a cell's rehearsal takes over from the command line."""
    options = ["--time-limit", str(args.time_limit)]
    for name, given in (("--factory", args.factory), ("--force", args.force), ("--keep", args.keep or args.sub_keep)):
        if given:
            options.append(name)
    return options


def rehearse_command(sources, options):
    """The command of a cell: scripts/vpc rehearse of its list on its machine into its folder."""
    def command(cell):
        return [sys.executable, VPC, "rehearse", cell.run_list, "--arch", cell.arch, "--family", cell.family,
                "--sources", os.path.abspath(sources), "--out", cell.folder] + options
    return command


# ----- running the cells ---------------------------------------------------------------------

# What run_cells knows of a cell's rehearsal: its exit code (None while not started), its
# output's file, the token it was given, and why it has no output when that could not be
# written.
Ran = collections.namedtuple("Ran", "code log token why")
NOT_STARTED = Ran(None, None, None, None)
# Seconds a rehearsal has, after the first signal, to end its PC and write its report,
# before it is killed with all it started.
GRACE = 60
# How often the scheduler looks at the signals while it waits for a rehearsal to end.
LOOK = 0.2


class Forwarding(Interruption):
    """Ctrl-C or SIGTERM while cells run: no cell starts any more, and every child
    running gets SIGTERM; each ends its PC and writes its report, marked interrupted. A
    second signal, or the grace period passing, kills each child still running with its
    process group (its own session), and every process that bears its token in its
    environment: Wine's server and its programs leave that group for sessions of their
    own. While armed (the build before the cells), the first signal raises Interrupted
    instead.

    The handler only notes; forward() does the sending, from the scheduler's loop, under
    a lock that is also held while a child is reaped, so that a process id signalled is
    always that of the child."""

    def __init__(self):
        super().__init__()
        self.armed = False
        self.children = []
        self.tokens = {}
        self.lock = threading.Lock()
        self.since = None
        self.again = False
        self.termed, self.killed = set(), set()

    def __call__(self, signum, frame):
        if self.signalled:
            self.again = True
        else:
            self.since = time.monotonic()
        super().__call__(signum, frame)

    def add(self, child, token):
        self.children.append(child)
        self.tokens[child.pid] = token

    def stop(self, why):
        """Ends the run as a signal would, for a reason of the tool's own."""
        if not self.signalled:
            self.signalled, self.since = why, time.monotonic()

    def forward(self):
        if not self.signalled:
            return
        kill = self.again or time.monotonic() - self.since >= GRACE
        with self.lock:
            for child in self.children:
                if child.pid in self.killed or child.poll() is not None:
                    continue
                if kill:
                    self.killed.add(child.pid)
                    try:
                        os.killpg(child.pid, signal.SIGKILL)
                    except ProcessLookupError:
                        child.kill()  # it left the group it was started in
                    marked(self.tokens[child.pid])
                elif child.pid not in self.termed:
                    self.termed.add(child.pid)
                    child.send_signal(signal.SIGTERM)

    def reap(self, child):
        """Waits for a child to end and returns its exit code; it is reaped only under
        the lock."""
        try:
            os.waitid(os.P_PID, child.pid, os.WEXITED | os.WNOWAIT)
        except ChildProcessError:
            pass  # reaped already, by forward's poll
        with self.lock:
            return child.wait()


def marked(token):
    """Kills every process that bears the token in its environment, looking again while
    one may be starting another."""
    mark = ("%s=%s" % (TOKEN_VARIABLE, token)).encode()
    for _ in range(5):
        if not kill_all([pid for pid in process_ids() if mark in environment(pid)]):
            return


def run_cells(cells, jobs, command, logs, started=None, ended=None, forwarding=None):
    """Runs command(cell) for each cell, at most jobs at once, each one's output into
    logs/<its folder's name>.log and in a session of its own, with a token of its own in
    the environment (rehearse.TOKEN_VARIABLE). started(cell) and ended(cell, ran) are
    told of each, ended as soon as the child has ended. forwarding: the signals' handler,
    installed by the caller; without one, run_cells installs its own while it runs.
    Returns ({cell: Ran}, the signal that interrupted the run or None); a cell not
    started has code None. A log that cannot be written fails its cell alone."""
    results = {cell: NOT_STARTED for cell in cells}
    finished = queue.Queue()
    restore = lambda: None  # noqa: E731
    if forwarding is None:
        forwarding = Forwarding()
        restore = forwarding.install()
    pending, running = list(cells), 0
    try:
        while pending or running:
            while pending and running < jobs and not forwarding.signalled:
                cell = pending.pop(0)
                log = os.path.join(logs, os.path.basename(cell.folder) + LOG_SUFFIX)
                token = secrets.token_hex(16)
                results[cell] = Ran(None, log, token, None)
                if started:
                    started(cell)
                running += 1
                child = None
                try:
                    with open(log, "w") as output:
                        try:
                            child = subprocess.Popen(command(cell), stdin=subprocess.DEVNULL, stdout=output,
                                                     stderr=subprocess.STDOUT, start_new_session=True,
                                                     env=dict(os.environ, **{TOKEN_VARIABLE: token}))
                        except OSError as error:
                            output.write("vpc: the rehearsal did not start: %s\n" % cli.error_line(error))
                except OSError as error:
                    results[cell] = Ran(None, None, token, "its output could not be written: %s"
                                        % cli.error_line(error))
                finally:
                    # Every cell counted as running is told ended, whatever failed.
                    if child:
                        forwarding.add(child, token)
                        threading.Thread(target=lambda c=cell, p=child: finished.put((c, forwarding.reap(p))),
                                         daemon=True).start()
                    else:
                        finished.put((cell, 2))
            if not running:
                break
            forwarding.forward()
            try:
                cell, code = finished.get(timeout=LOOK)
            except queue.Empty:
                continue
            running -= 1
            results[cell] = results[cell]._replace(code=code)
            if ended:
                ended(cell, results[cell])
    finally:
        if running:
            # Never leave a rehearsal running behind this one.
            forwarding.stop("an error of this tool")
            while running:
                forwarding.forward()
                try:
                    finished.get(timeout=LOOK)
                    running -= 1
                except queue.Empty:
                    pass
        restore()
    return results, forwarding.signalled


# ----- the index ---------------------------------------------------------------------------------

# What an exit code other than 0 says of a rehearsal whose report says it finished.
EXIT_MEANINGS = {1: "the list failed or did not finish", 2: "the rehearsal could not do its work"}


def last_line(path):
    try:
        with open(path, "rb") as f:
            f.seek(max(0, os.fstat(f.fileno()).st_size - 4096))
            lines = [line.strip() for line in f.read().decode("utf-8", "replace").splitlines()]
    except (OSError, TypeError):
        return None
    return next((line for line in reversed(lines) if line), None)


def own_report(folder, token):
    """The report.json in a cell's folder when the rehearsal given that token wrote it,
    else None: a report an earlier run left, or one another run wrote there meanwhile,
    is never taken for this cell's."""
    try:
        with open(os.path.join(folder, "report.json"), encoding="utf-8") as f:
            model = json.load(f)
        if token and model["rehearsal"]["token"] == token:
            return {name: model[name] for name in ("outcome", "outcome_kind", "total", "total_seconds")}
    except (OSError, ValueError, KeyError, TypeError):
        pass
    return None


def ended_how(code):
    if code >= 0:
        return "exit code %d" % code
    if -code in signal.valid_signals():
        return "ended by %s" % signal.Signals(-code).name
    return "ended by signal %d" % -code


def cell_facts(cell, ran, index):
    """What the index shows of a cell, read when its rehearsal has ended: its own
    report's outcome and time, with the link to it; or, when it made no report of its
    own, why not (its exit code, its output's file and last line). It finished only
    with exit code 0 and a report saying so; a report that says so beside another exit
    code shows what that code means. Paths are relative to the index's folder."""
    facts = {"run_list": cell.run_list, "name": cell.name, "arch": cell.arch, "family": cell.family,
             "machine": machine_label(cell.arch, cell.family), "folder": cell.folder, "exit_code": ran.code,
             "finished": False, "report": None, "outcome": None, "outcome_kind": None, "total": "",
             "total_seconds": None, "log": os.path.relpath(ran.log, index) if ran.log else None, "last_line": None}
    if ran.code is None:
        facts.update(outcome="not started (interrupted)", outcome_kind="not-started", log=None)
        return facts
    model = own_report(cell.folder, ran.token)
    if model is None:
        facts.update(outcome="ended without a report (%s)" % ended_how(ran.code), outcome_kind="no-report",
                     last_line=ran.why or last_line(ran.log))
        return facts
    facts.update(model, report=os.path.relpath(os.path.join(cell.folder, "report.html"), index),
                 finished=ran.code == 0 and model["outcome_kind"] == "done")
    if ran.code != 0 and model["outcome_kind"] == "done":
        meaning = EXIT_MEANINGS.get(ran.code)
        facts.update(outcome="%s%s%s" % ("ended with " if ran.code > 0 else "", ended_how(ran.code),
                                         " (%s)" % meaning if meaning else ""), outcome_kind="failed")
    return facts


def exit_code(cells, interrupted):
    """0 only when every cell finished; 1 when the run was interrupted; 2 when a cell's
    rehearsal could not do its work (exit code 2, or 0 without a report of its own that
    says it finished); else 1. cells: the cells' facts."""
    if interrupted:
        return 1
    if any(cell["exit_code"] == 2 or (cell["exit_code"] == 0 and not cell["finished"]) for cell in cells):
        return 2
    return 0 if all(cell["finished"] for cell in cells) else 1


def index_model(cells_plan, facts, interrupted=None, seconds=None, jobs=None, sources=None):
    """index.json: the facts of every cell ({cell: cell_facts}), by list and machine."""
    machines = [{"arch": arch, "family": family, "label": machine_label(arch, family)}
                for arch, family in cells_plan.machines]
    rows = [{"run_list": run_list, "name": cli.list_name(run_list),
             "cells": [facts[cell] for cell in cells_plan.cells if cell.run_list == run_list]}
            for run_list in cells_plan.lists]
    counted = collections.Counter("finished" if f["finished"] else "failed" if f["report"] else f["outcome_kind"]
                                  for f in facts.values())
    total = len(cells_plan.cells)
    if counted["finished"] == total:
        outcome = "all %d rehearsals finished without errors" % total
    else:
        outcome = "; ".join(["%d of %d rehearsals finished without errors" % (counted["finished"], total)] + [
            "%d %s" % (counted[kind], said) for kind, said in (
                ("failed", "failed"), ("no-report", "made no report"), ("not-started", "not started"))
            if counted[kind]])
    if interrupted:
        outcome += " (interrupted: %s)" % interrupted
    code = exit_code([facts[cell] for cell in cells_plan.cells], interrupted)
    return report.displayable({
        "schema": SCHEMA,
        "title": "Rehearsals of %d run list%s on %d machine%s" % (
            len(rows), "s" * (len(rows) != 1), len(machines), "s" * (len(machines) != 1)),
        "outcome": outcome,
        "outcome_kind": "done" if code == 0 else "failed",
        "exit_code": code,
        "interrupted": interrupted,
        "left_out": cells_plan.dropped,
        "sources": os.path.abspath(sources) if sources else None,
        "jobs": jobs,
        "seconds": seconds,
        "took": report.duration_text(seconds),
        "machines": machines,
        "rows": rows,
    })


def shown_at(cell, index):
    """The path of a cell's report, or of its output when it made none."""
    where = cell["report"] or cell["log"]
    return os.path.normpath(os.path.join(index, where)) if where else None


def junit_cases(model, index):
    """One test case per cell, failed with its outcome unless it finished."""
    cases = []
    for row in model["rows"]:
        for cell in row["cells"]:
            where = shown_at(cell, index)
            lines = [cell["outcome"]] + (["see " + where] if where else []) + [cell["last_line"] or ""]
            verdict = None if cell["finished"] else ("failure", cell["outcome"], "\n".join(filter(None, lines)))
            cases.append(("%s on %s: %s" % (row["name"], cell["machine"], row["run_list"]), cell["total_seconds"],
                          verdict))
    return cases


def write_index(model, index):
    """Writes index.json and index.html into the index's folder; returns the page's path."""
    model = report.displayable(model)
    report.claim(index, "index.json", "index.html")
    with open(os.path.join(index, "index.json"), "w") as f:
        json.dump(model, f, indent=1)
    with open(os.path.join(index, "index.html"), "w", encoding="utf-8") as f:
        f.write(report.templates().get_template("index.html.j2").render(index=model, folder=index))
    return os.path.join(index, "index.html")


def summary(model, index):
    """The index as lines for a terminal, with the path of each report or output."""
    lines = [model["title"] + ": " + model["outcome"]]
    for row in model["rows"]:
        lines.append("%s (%s)" % (row["name"], row["run_list"]))
        for cell in row["cells"]:
            where = shown_at(cell, index)
            lines.append("  %s: %s%s%s" % (cell["machine"], cell["outcome"],
                                          ", " + cell["total"] if cell["total"] else "", "  " + where if where else ""))
    return report.displayable(lines)


# Names the index's logs folder holds: each cell's output and each architecture's build.
LOG_NAME = re.compile(r"[\w.-]+-(%s)-(%s)-[0-9a-f]{6}%s\Z|build-(%s)%s\Z" % (
    "|".join(ARCHS), "|".join(cli.FAMILIES), re.escape(LOG_SUFFIX), "|".join(ARCHS), re.escape(LOG_SUFFIX)))


def check_logs(logs):
    """Refuses an index whose logs folder holds anything but this tool's logs (a file of
    the user's put there): the next run empties that folder whole."""
    if not os.path.isdir(logs) or os.path.islink(logs):
        return
    for name in sorted(os.listdir(logs)):
        if not (LOG_NAME.match(name) and stat.S_ISREG(os.lstat(os.path.join(logs, name)).st_mode)):
            raise VpcError("%s holds %s, which this tool did not write; move it away, or name another folder "
                           "with --out" % (logs, name))


def rehearse_many(cells_plan, args, junit=None, stdout=None, stderr=None):
    """scripts/vpc rehearse with several lists or machines. Returns the exit code (see
    exit_code); an index folder it may not use raises VpcError. Ctrl-C and SIGTERM are
    taken from the start until the index and the JUnit file are written."""
    forwarding = Forwarding()
    restore = forwarding.install()
    try:
        return run_many(cells_plan, args, forwarding, junit, stdout or sys.stdout, stderr or sys.stderr)
    finally:
        restore()


def run_many(cells_plan, args, forwarding, junit, stdout, stderr):
    jobs = args.jobs or default_jobs()
    if cells_plan.dropped:
        stderr.write(left_out(cells_plan.dropped))
    if args.out and os.path.lexists(os.path.join(args.out, report.OUTPUT_MARK)):
        raise VpcError("--out %s is a report's folder; with several rehearsals --out names the folder that holds "
                       "each one's folder and the index" % args.out)
    # Each rehearsal empties its own folder, and keeps apart from it only what it reads
    # itself: no cell's folder, nor the index's, may lie inside or around what any reads.
    apart = [("the sources", args.sources)] + [("the folder of the run list", os.path.dirname(run_list))
                                               for run_list in cells_plan.lists]
    for folder in cells_plan.folders:
        report.keep_apart(folder, apart, "the rehearsal's folder")
    index = cells_plan.index
    logs = os.path.join(index, LOGS)
    check_logs(logs)
    began = time.monotonic()
    with report.prepare_out(index, apart):
        report.claim(index, LOGS)
        os.makedirs(logs)
        build(cells_plan, logs, forwarding)
        total = len(cells_plan.cells)
        counter = {"started": 0, "ended": 0}
        facts = {}

        def started(cell):
            counter["started"] += 1
            stderr.write(report.displayable("rehearse: %d of %d started: %s on %s\n" % (
                counter["started"], total, cell.name, machine_label(cell.arch, cell.family))))
            stderr.flush()

        def ended(cell, ran):
            counter["ended"] += 1
            facts[cell] = cell_facts(cell, ran, index)
            stderr.write(report.displayable("rehearse: %d of %d ended: %s on %s: %s%s\n" % (
                counter["ended"], total, cell.name, facts[cell]["machine"], facts[cell]["outcome"],
                ", " + facts[cell]["total"] if facts[cell]["total"] else "")))
            stderr.flush()

        if not forwarding.signalled:
            run_cells(cells_plan.cells, jobs, rehearse_command(args.sources, child_options(args)), logs, started,
                      ended, forwarding)
        for cell in cells_plan.cells:
            facts.setdefault(cell, cell_facts(cell, NOT_STARTED, index))
        model = index_model(cells_plan, facts, forwarding.signalled, time.monotonic() - began, jobs, args.sources)
        try:
            page = write_index(model, index)
        except OSError as error:
            stderr.write("vpc: the index could not be written: %s\n" % cli.error_line(error))
            page, model["exit_code"] = None, 2
    if junit:
        junit.write({"title": model["title"], "total_seconds": model["seconds"]}, junit_cases(model, index))
    stdout.write("\n".join(summary(model, index)) + "\n")
    if page:
        stdout.write(report.displayable("\nThe index: %s\n" % page))
    return model["exit_code"]


def build(cells_plan, logs, forwarding):
    """Builds what the cells' rehearsals need, once: they would otherwise build in one
    folder at once. A signal ends the build and leaves forwarding.signalled set: the
    Interrupted it raises makes subprocess.run kill the program it waits for, by its
    process id."""
    try:
        try:
            forwarding.armed = True
            if forwarding.signalled:
                return
            if not build_checker():
                raise VpcError("building the run-list check failed; see " + BUILD_LOG)
            for arch in distinct(arch for arch, _ in cells_plan.machines):
                ensure_built(arch, os.path.join(logs, "build-%s.log" % arch))
        finally:
            forwarding.armed = False
    except Interrupted:
        pass
