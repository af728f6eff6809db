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
import signal
import subprocess
import sys
import threading
import time

from . import cli, report
from .check import BUILD_LOG, REPO, build_checker
from .host import VpcError
from .rehearse import Interruption, ensure_built

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

Ran = collections.namedtuple("Ran", "code log before")


def identity(path):
    """Which file a path names now, so that a report an earlier run left in a cell's
    folder is never taken for this run's."""
    try:
        found = os.stat(path)
    except OSError:
        return None
    return (found.st_dev, found.st_ino, found.st_mtime_ns, found.st_ctime_ns)


class Forwarding(Interruption):
    """Ctrl-C or SIGTERM while cells run: no cell starts any more, and every child
    running gets SIGTERM, by its process id; each ends its PC and writes its report,
    marked interrupted. Later signals are only noted, as the rehearsal's own are."""

    def __init__(self):
        super().__init__()
        self.armed = False
        self.children = []
        self.told = set()

    def __call__(self, signum, frame):
        first = not self.signalled
        super().__call__(signum, frame)
        if first:
            self.forward()

    def forward(self):
        for child in self.children:
            if self.signalled and child.pid not in self.told and child.returncode is None:
                self.told.add(child.pid)
                try:
                    os.kill(child.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass


def run_cells(cells, jobs, command, logs, started=None, ended=None):
    """Runs command(cell) for each cell, at most jobs at once, each one's output into
    logs/<its folder's name>.log. started(cell) and ended(cell, ran) are told of each.
    Returns ({cell: Ran}, the signal that interrupted the run or None); a cell not
    started has code None."""
    results = {cell: Ran(None, None, None) for cell in cells}
    finished = queue.Queue()
    forwarding = Forwarding()
    restore = forwarding.install()
    pending, running = list(cells), 0
    try:
        while pending or running:
            while pending and running < jobs and not forwarding.signalled:
                cell = pending.pop(0)
                log = os.path.join(logs, os.path.basename(cell.folder) + LOG_SUFFIX)
                results[cell] = Ran(None, log, identity(os.path.join(cell.folder, "report.json")))
                with open(log, "w") as output:
                    try:
                        child = subprocess.Popen(command(cell), stdin=subprocess.DEVNULL, stdout=output,
                                                 stderr=subprocess.STDOUT)
                    except OSError as error:
                        output.write("vpc: the rehearsal did not start: %s\n" % cli.error_line(error))
                        finished.put((cell, 2))
                        child = None
                if child:
                    forwarding.children.append(child)
                    forwarding.forward()  # a signal between the check and the start
                    threading.Thread(target=lambda c=cell, p=child: finished.put((c, p.wait())), daemon=True).start()
                running += 1
                if started:
                    started(cell)
            if not running:
                break
            cell, code = finished.get()
            running -= 1
            results[cell] = results[cell]._replace(code=code)
            if ended:
                ended(cell, results[cell])
    finally:
        if running:
            # Never leave a rehearsal running behind this one.
            forwarding.signalled = forwarding.signalled or "an error of this tool"
            forwarding.forward()
            for child in forwarding.children:
                child.wait()
        restore()
    return results, forwarding.signalled


# ----- the index ---------------------------------------------------------------------------------

def last_line(path):
    try:
        with open(path, "rb") as f:
            f.seek(max(0, os.fstat(f.fileno()).st_size - 4096))
            lines = [line.strip() for line in f.read().decode("utf-8", "replace").splitlines()]
    except OSError:
        return None
    return next((line for line in reversed(lines) if line), None)


def cell_facts(cell, ran, index):
    """What the index shows of a cell: its report's outcome and time, with the link to
    it; or, when its rehearsal made no report, why not (its exit code, its output's
    file and last line). Paths are relative to the index's folder."""
    facts = {"run_list": cell.run_list, "name": cell.name, "arch": cell.arch, "family": cell.family,
             "machine": machine_label(cell.arch, cell.family), "folder": cell.folder, "exit_code": ran.code,
             "finished": ran.code == 0, "report": None, "outcome": None, "outcome_kind": None, "total": "",
             "total_seconds": None, "log": os.path.relpath(ran.log, index) if ran.log else None, "last_line": None}
    if ran.code is None:
        facts.update(outcome="not started (interrupted)", outcome_kind="not-started", log=None)
        return facts
    path = os.path.join(cell.folder, "report.json")
    model = None
    if identity(path) not in (None, ran.before):
        try:
            with open(path, encoding="utf-8") as f:
                model = json.load(f)
            facts.update(outcome=model["outcome"], outcome_kind=model["outcome_kind"], total=model["total"],
                         total_seconds=model["total_seconds"],
                         report=os.path.relpath(os.path.join(cell.folder, "report.html"), index))
        except (OSError, ValueError, KeyError, TypeError):
            model = None
    if model is None:
        how = ("exit code %d" % ran.code if ran.code >= 0 else
               "ended by %s" % signal.Signals(-ran.code).name if -ran.code in signal.valid_signals() else
               "ended by signal %d" % -ran.code)
        facts.update(outcome="ended without a report (%s)" % how, outcome_kind="no-report",
                     last_line=last_line(ran.log))
    return facts


def exit_code(codes, interrupted):
    """0 only when every cell finished; 1 when the run was interrupted, 2 when a cell's
    rehearsal could not do its work, else 1."""
    if interrupted:
        return 1
    if any(code == 2 for code in codes):
        return 2
    return 0 if all(code == 0 for code in codes) else 1


def index_model(cells_plan, results, interrupted=None, seconds=None, jobs=None, sources=None):
    """index.json: the facts of every cell, by list and machine."""
    index = cells_plan.index
    facts = {cell: cell_facts(cell, results[cell], index) for cell in cells_plan.cells}
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
    code = exit_code([results[cell].code for cell in cells_plan.cells], interrupted)
    return {
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
    }


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
    return lines


def rehearse_many(cells_plan, args, junit=None, stdout=None, stderr=None):
    """scripts/vpc rehearse with several lists or machines. Returns the exit code (see
    exit_code); an index folder it may not use raises VpcError."""
    stdout, stderr = stdout or sys.stdout, stderr or sys.stderr
    jobs = args.jobs or default_jobs()
    if cells_plan.dropped:
        stderr.write(left_out(cells_plan.dropped))
    if args.out and os.path.lexists(os.path.join(args.out, report.OUTPUT_MARK)):
        raise VpcError("--out %s is a report's folder; with several rehearsals --out names the folder that holds "
                       "each one's folder and the index" % args.out)
    apart = [("the sources", args.sources)] + [("the folder of the run list", os.path.dirname(run_list))
                                               for run_list in cells_plan.lists]
    index = cells_plan.index
    began = time.monotonic()
    with report.prepare_out(index, apart):
        logs = os.path.join(index, LOGS)
        report.claim(index, LOGS)
        os.makedirs(logs)
        # Built once here: the cells' rehearsals would otherwise build in one folder at once.
        if not build_checker():
            raise VpcError("building the run-list check failed; see " + BUILD_LOG)
        for arch in distinct(arch for arch, _ in cells_plan.machines):
            ensure_built(arch, os.path.join(logs, "build-%s.log" % arch))
        total = len(cells_plan.cells)
        counter = {"started": 0, "ended": 0}

        def started(cell):
            counter["started"] += 1
            stderr.write("rehearse: %d of %d started: %s on %s\n" % (counter["started"], total, cell.name,
                                                                   machine_label(cell.arch, cell.family)))
            stderr.flush()

        def ended(cell, ran):
            counter["ended"] += 1
            facts = cell_facts(cell, ran, index)
            stderr.write("rehearse: %d of %d ended: %s on %s: %s%s\n" % (
                counter["ended"], total, cell.name, facts["machine"], facts["outcome"],
                ", " + facts["total"] if facts["total"] else ""))
            stderr.flush()

        results, interrupted = run_cells(cells_plan.cells, jobs, rehearse_command(args.sources, child_options(args)),
                                         logs, started, ended)
        model = index_model(cells_plan, results, interrupted, time.monotonic() - began, jobs, args.sources)
        try:
            page = write_index(model, index)
        except OSError as error:
            stderr.write("vpc: the index could not be written: %s\n" % cli.error_line(error))
            page, model["exit_code"] = None, 2
    if junit:
        junit.write({"title": model["title"], "total_seconds": model["seconds"]}, junit_cases(model, index))
    stdout.write("\n".join(summary(model, index)) + "\n")
    if page:
        stdout.write("\nThe index: %s\n" % page)
    return model["exit_code"]
