"""`scripts/vpc fleet`: one page for many PCs. The copies of C:\\VELK the engineers bring
back from the line, ZIP files of them and rehearsals' folders are read into the store
(fleet_store), and fleet.html, fleet.json and fleet.csv are made from it, with the report
of every PC that failed or did not finish.
"""

import csv
import hashlib
import itertools
import json
import math
import os
import re
import shutil
import sqlite3
import sys

from . import report
from .fleet_input import Input
from .fleet_store import Checker, Store, path_text
from .host import VpcError

SCHEMA = 1
HISTOGRAM_BARS = 12
# Error lines shown per entry; the rest are counted.
ERROR_LINES = 10
PC_REPORTS = "pcs"
CSV_FIELDS = ("pc", "kind", "list", "outcome", "arch", "family", "entry", "wrapper", "command", "result_kind",
              "result", "seconds")


# ----- the figures ----------------------------------------------------------------------------------

def nearest_rank(count, share):
    """The 0-based rank of a percentile by the nearest-rank method: the median of 4 is the
    2nd, the 95th percentile of 20 the 19th."""
    return max(math.ceil(share * count) - 1, 0)


def histogram_bars(bins, low, high, bars=HISTOGRAM_BARS):
    """The SVG geometry of a histogram: bins maps a bin's index to its count."""
    width, height = 120, 28
    most = max(bins.values()) if bins else 0
    step = width / bars
    drawn = []
    for index in range(bars):
        count = bins.get(index, 0)
        size = round(height * count / most, 1) if most else 0
        share_low = low + (high - low) * index / bars
        share_high = low + (high - low) * (index + 1) / bars
        drawn.append({"x": round(index * step, 1), "y": round(height - size, 1), "width": round(step - 1, 1),
                      "height": size, "count": count,
                      "title": "%s to %s: %d" % (report.duration_text(share_low), report.duration_text(share_high),
                                                 count)})
    return {"width": width, "height": height, "bars": drawn}


class Figures:
    """The page's facts, asked of the store in this run's view (the copies found this run,
    a second copy of a PC not counted)."""

    def __init__(self, store):
        self.db = store.db
        self.run = store.run

    def rows(self, query, *args):
        return self.db.execute(query, args).fetchall()

    def counts(self):
        got = dict(self.rows("SELECT outcome, COUNT(*) FROM counted GROUP BY outcome"))
        return {"pcs": sum(got.values()), **{kind: got.get(kind, 0) for kind in ("finished", "failed", "unfinished")}}

    def list_count(self):
        return self.rows("SELECT COUNT(DISTINCT list_id) FROM counted")[0][0]

    def lists(self):
        """The lists, most PCs first, one at a time: a share may hold many versions."""
        for number, (list_id, digest, size, pcs, finished, failed, unfinished) in enumerate(self.rows(
                "SELECT l.id, l.digest, l.entries, COUNT(*), SUM(c.outcome = 'finished'), "
                "SUM(c.outcome = 'failed'), SUM(c.outcome = 'unfinished') FROM counted c "
                "JOIN lists l ON l.id = c.list_id GROUP BY l.id ORDER BY COUNT(*) DESC, l.digest"), 1):
            machines = [{"arch": a, "family": f, "pcs": n} for a, f, n in self.rows(
                "SELECT p.arch, p.family, COUNT(*) FROM counted c JOIN pcs p ON p.id = c.pc_id "
                "WHERE c.list_id = ? AND p.arch IS NOT NULL GROUP BY p.arch, p.family ORDER BY p.arch, p.family",
                list_id)]
            names = [n for (n,) in self.rows(
                "SELECT DISTINCT p.run_list FROM counted c JOIN pcs p ON p.id = c.pc_id "
                "WHERE c.list_id = ? AND p.run_list IS NOT NULL ORDER BY p.run_list LIMIT 5", list_id)]
            yield {
                "number": number, "id": digest[:8], "digest": digest, "entry_count": size, "pcs": pcs,
                "finished": finished, "failed": failed, "unfinished": unfinished, "machines": machines,
                "rehearsed_from": names, "entries": self.entries(list_id),
                "other_errors": self.errors(list_id, None),
            }

    def entries(self, list_id):
        ran = {number: (pcs, failed) for number, pcs, failed in self.rows(
            "SELECT e.number, SUM(e.kind != 'waiting'), SUM(e.kind = 'failed') FROM counted c "
            "JOIN pc_entries e ON e.pc_id = c.pc_id WHERE c.list_id = ? GROUP BY e.number", list_id)}
        entries = []
        for number, wrapper, command, cleanup, timeout, reboot in self.rows(
                "SELECT number, wrapper, command, cleanup, timeout, reboot FROM list_entries WHERE list_id = ? "
                "ORDER BY number", list_id):
            pcs, failed = ran.get(number, (0, 0))
            entries.append({"number": number, "wrapper": wrapper, "command": command, "cleanup": cleanup,
                            "timeout": timeout, "reboot": bool(reboot), "ran": pcs, "failed": failed,
                            "errors": self.errors(list_id, number), "duration": self.duration(list_id, number)})
        return entries

    def errors(self, list_id, number):
        """The error lines of an entry (None: of no entry) on the list's PCs, by text, each
        with the number of PCs that show it, most first."""
        where = "r.number = ?" if number is not None else "r.number IS NULL"
        args = (list_id, number) if number is not None else (list_id,)
        query = ("SELECT r.line, COUNT(DISTINCT r.pc_id) AS pcs FROM counted c JOIN pc_errors r "
                 "ON r.pc_id = c.pc_id WHERE c.list_id = ? AND %s GROUP BY r.line" % where)
        lines = [{"line": line, "pcs": pcs} for line, pcs in self.rows(
            query + " ORDER BY pcs DESC, r.line LIMIT %d" % ERROR_LINES, *args)]
        total = self.rows("SELECT COUNT(*) FROM (%s)" % query, *args)[0][0]
        return {"lines": lines, "more": max(total - len(lines), 0)}

    def duration(self, list_id, number):
        """The entry's time on the PCs where it was done: count, median, 95th percentile
        and a histogram, each asked of the store without taking the times out of it."""
        times = ("FROM counted c JOIN pc_entries e ON e.pc_id = c.pc_id WHERE c.list_id = ? AND e.number = ? "
                 "AND e.kind = 'done' AND e.seconds IS NOT NULL")
        count, low, high = self.rows("SELECT COUNT(*), MIN(e.seconds), MAX(e.seconds) " + times, list_id, number)[0]
        if not count:
            return None

        def at(share):
            return self.rows("SELECT e.seconds %s ORDER BY e.seconds LIMIT 1 OFFSET ?" % times, list_id, number,
                             nearest_rank(count, share))[0][0]

        spread = (high - low) or 1
        bins = dict(self.rows(
            "SELECT MIN(CAST((e.seconds - ?) * ? / ? AS INTEGER), ?) AS bin, COUNT(*) %s GROUP BY bin" % times,
            low, HISTOGRAM_BARS, spread, HISTOGRAM_BARS - 1, list_id, number))
        median, p95 = at(0.5), at(0.95)
        return {"count": count, "median": median, "p95": p95, "min": low, "max": high,
                "median_text": report.duration_text(median), "p95_text": report.duration_text(p95),
                "min_text": report.duration_text(low), "max_text": report.duration_text(high),
                "bins": [bins.get(i, 0) for i in range(HISTOGRAM_BARS)],
                "histogram": histogram_bars(bins, low, low + spread)}

    def failed_pcs(self):
        """Every PC that failed or did not finish, with what became of it, one at a time
        from the store: ordered by their input, so that the copies of one ZIP file come
        together."""
        for pc_id, path, kind, outcome, digest, arch, family, entry, result, input_path, name in self.db.execute(
                "SELECT p.id, p.path, p.kind, p.outcome, l.digest, p.arch, p.family, p.failed_entry, p.result, "
                "i.path, p.folder FROM counted c JOIN pcs p ON p.id = c.pc_id JOIN lists l ON l.id = p.list_id "
                "JOIN inputs i ON i.id = p.input_id WHERE c.outcome != 'finished' ORDER BY i.path, p.path"):
            yield {"pc_id": pc_id, "path": path_text(path), "kind": kind, "outcome": outcome, "list": digest[:8],
                   "arch": arch, "family": family, "entry": entry, "result": result, "input": path_text(input_path),
                   "report": "%s/%s/report.html" % (PC_REPORTS, name), "report_folder": name}

    def shows_report(self, name):
        """Whether the report folder of that name is one of a PC shown as failed now."""
        return self.db.execute("SELECT 1 FROM pcs p JOIN counted c ON c.pc_id = p.id WHERE p.folder = ? "
                               "AND c.outcome != 'finished'", (name,)).fetchone() is not None

    UNREADABLE = (
        "SELECT path, problem, NULL FROM inputs WHERE last_seen = ? AND problem IS NOT NULL "
        "UNION ALL SELECT r.path, r.why, NULL FROM problems r JOIN inputs i ON i.id = r.input_id "
        "WHERE i.last_seen = ? "
        "UNION ALL SELECT p.path, NULL, (SELECT MIN(q.path) FROM pcs q JOIN inputs j ON j.id = q.input_id "
        "WHERE q.digest = p.digest AND j.last_seen = ?) FROM pcs p JOIN inputs i ON i.id = p.input_id "
        "WHERE i.last_seen = ? AND p.id NOT IN (SELECT pc_id FROM counted)")

    def unreadable_count(self):
        return self.rows("SELECT COUNT(*) FROM (%s)" % self.UNREADABLE, *[self.run] * 4)[0][0]

    def unreadable(self):
        """(path, why) of everything found this run that could not be read, and of every
        second copy of a PC, one at a time."""
        for path, why, first in self.db.execute(self.UNREADABLE + " ORDER BY 1", [self.run] * 4):
            yield {"path": path_text(path), "why": why or "a second copy of the PC of " + path_text(first)}

    def csv_rows(self):
        for row in self.db.execute(
                "SELECT p.path, p.kind, substr(l.digest, 1, 8), p.outcome, p.arch, p.family, e.number, le.wrapper, "
                "le.command, e.kind, e.result, e.seconds FROM counted c JOIN pcs p ON p.id = c.pc_id "
                "JOIN lists l ON l.id = p.list_id JOIN pc_entries e ON e.pc_id = p.id "
                "JOIN list_entries le ON le.list_id = p.list_id AND le.number = e.number ORDER BY p.path, e.number"):
            yield (path_text(row[0]),) + row[1:]


# A PC's report folder: a random name the store gives each PC it reads, so that a report
# made from another store, or from a store put back from a copy, is never taken for this PC's.
REPORT_NAME = re.compile(r"[0-9a-f]{16}")
REPORT_FILES = {"report.json", "report.txt", "report.html"}


# ----- the output ------------------------------------------------------------------------------------

def fleet_model(store, folders, found, read):
    """The page's facts, but the lists, the PCs that failed and what could not be read:
    Figures gives them one by one."""
    figures = Figures(store)
    return {
        "schema": SCHEMA,
        "title": "The fleet: %s" % ", ".join(os.path.basename(os.path.normpath(f)) or f for f in folders),
        "folders": [os.path.abspath(f) for f in folders],
        "inputs_found": found,
        "inputs_read": read,
        "counts": figures.counts(),
        "unreadable_count": figures.unreadable_count(),
        "list_count": figures.list_count(),
    }


def write_json_stream(f, model, **streams):
    """model as JSON, followed by each stream's items as a list of its own, written as they
    come."""
    f.write(json.dumps(model, indent=1)[:-2])
    for name, items in streams.items():
        f.write(',\n "%s": [' % name)
        for number, item in enumerate(items):
            f.write(("," if number else "") + "\n  " + json.dumps(report.displayable(item)))
        f.write("\n ]")
    f.write("\n}\n")


def write_pages(store, model, out, not_made):
    """fleet.json, fleet.csv and fleet.html; the PCs, as many as there are, are written as
    they come from the store, never held together. not_made: why the report of a PC
    could not be made, by its number."""
    report.claim(out, "fleet.json", "fleet.csv", "fleet.html")
    model = report.displayable(model)
    figures = Figures(store)

    def failed():
        for pc in figures.failed_pcs():
            if pc["pc_id"] in not_made:
                pc["report"], pc["report_missing"] = None, not_made[pc["pc_id"]]
            yield pc

    with open(os.path.join(out, "fleet.json"), "w", encoding="utf-8") as f:
        write_json_stream(f, model, lists=figures.lists(), unreadable=figures.unreadable(), failed_pcs=failed())
    with open(os.path.join(out, "fleet.csv"), "w", encoding="utf-8", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(CSV_FIELDS)
        for row in figures.csv_rows():
            writer.writerow(report.displayable(list(row)))
    with open(os.path.join(out, "fleet.html"), "w", encoding="utf-8") as f:
        for chunk in report.templates().get_template("fleet.html.j2").generate(
                fleet=model, lists=(report.displayable(item) for item in figures.lists()),
                failed_pcs=(report.displayable(pc) for pc in failed()),
                unreadable=(report.displayable(u) for u in figures.unreadable()), folder=out):
            f.write(chunk)
    return os.path.join(out, "fleet.html")


def own_report(path):
    """Whether a folder in pcs is one this tool made and nothing else was put into: a
    folder, not a link, holding a report's files alone."""
    try:
        return not os.path.islink(path) and os.path.isdir(path) and set(os.listdir(path)) <= REPORT_FILES
    except OSError:
        return False


def write_pc_reports(store, out):
    """The report of every PC that failed or did not finish, as `vpc report` makes it, in
    pcs/<the name the store gave it>. A report made in an earlier run is kept; one of a PC
    no longer shown is removed. Returns (reports made, {PC number: why its report could
    not be made})."""
    figures = Figures(store)
    folder = os.path.join(out, PC_REPORTS)
    report.claim(out, PC_REPORTS)
    if os.path.islink(folder) or (os.path.lexists(folder) and not os.path.isdir(folder)):
        raise VpcError("%s is not a folder this tool made; move it away" % folder)
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        # Only what this tool named there and nothing was added to.
        path = os.path.join(folder, name)
        if REPORT_NAME.fullmatch(name) and own_report(path) and not figures.shows_report(name):
            shutil.rmtree(path)
    checker = None
    made, not_made = 0, {}
    try:
        missing = (pc for pc in figures.failed_pcs()
                   if not os.path.isfile(os.path.join(folder, pc["report_folder"], "report.html")))
        for (input_path, kind), pcs in itertools.groupby(missing, key=lambda pc: (pc["input"], pc["kind"])):
            wanted = {pc["path"]: pc for pc in pcs}
            # The copies of one input are read once, one at a time: a ZIP file may hold thousands.
            for copy in Input(input_path, kind, None).copies():
                pc = wanted.pop(copy.path, None) if not isinstance(copy, tuple) else None
                if pc is None:
                    continue
                pc_out = os.path.join(folder, pc["report_folder"])
                if os.path.lexists(pc_out) and not own_report(pc_out):
                    not_made[pc["pc_id"]] = "%s holds what this tool did not make" % pc_out
                    continue
                checker = checker or Checker(build=False)
                records = report.velk_records(copy.path, copy.data, checker.read(copy.data["run_list"]),
                                              copy.log_path, copy.a_log_path)
                model = report.build_model(records, "Report of the PC's C:\\VELK (%s)" % copy.path)
                # One without its page was cut short while being written: made again.
                if os.path.lexists(pc_out):
                    shutil.rmtree(pc_out)
                report.write_report(model, pc_out)
                made += 1
                if not wanted:
                    break  # the rest of a ZIP file is not read again
            for pc in wanted.values():
                not_made[pc["pc_id"]] = "its copy could not be read again; the next run reads it anew"
    finally:
        if checker:
            checker.close()
    return made, not_made


def fleet_out(folders):
    """build/fleet/<the first folder's name>-<6 hex of all of them>."""
    from .cli import REPO, folder_name  # the names of the build tree's folders

    paths = "\n".join(os.path.realpath(f) for f in folders)
    name = os.path.basename(os.path.normpath(os.path.abspath(folders[0])))
    return os.path.join(REPO, "build", "fleet", "%s-%s" % (folder_name(name),
                                                         hashlib.sha1(os.fsencode(paths)).hexdigest()[:6]))


def run_fleet(folders, out, db=None, stdout=None, stderr=None):
    """scripts/vpc fleet: returns 0 when the page is written; raises VpcError for what
    the tool cannot do (exit code 2)."""
    stdout, stderr = stdout or sys.stdout, stderr or sys.stderr
    for folder in folders:
        if not os.path.exists(folder):
            raise VpcError("%s: no such folder or file" % folder)
    own_db = db is None or os.path.realpath(db) == os.path.realpath(os.path.join(out, "fleet.db"))
    db = os.path.join(out, "fleet.db") if db is None else db
    apart = [("the folder given", f) for f in folders]
    if not own_db:
        if os.path.commonpath([os.path.realpath(db), os.path.realpath(out)]) == os.path.realpath(out):
            raise VpcError("--db %s lies inside --out %s; name a file outside it, or leave --db out to keep the "
                           "store there as fleet.db" % (db, out))
        for what, path in apart:
            if report.lies_within(os.path.realpath(db), os.path.realpath(path)):
                raise VpcError("--db %s lies inside %s %s, which is only read; name a file outside it"
                               % (db, what, path))
    # Refused before the earlier page is emptied.
    Store.check(db, empty_is_ours=own_db)
    try:
        return write_fleet(folders, out, db, own_db, apart, stdout, stderr)
    except sqlite3.Error as error:
        raise VpcError("the store %s: %s" % (db, error)) from None


def write_fleet(folders, out, db, own_db, apart, stdout, stderr):
    with report.prepare_out(out, apart, keep=("fleet.db", "fleet.db-journal", PC_REPORTS)):
        if own_db:
            report.claim(out, "fleet.db", "fleet.db-journal")
        store = Store(db, empty_is_ours=own_db)
        try:
            def progress(found, read):
                try:
                    stderr.write("fleet: %d found, %d read\n" % (found, read))
                    stderr.flush()
                except (OSError, ValueError):
                    pass  # nobody reads it any more (a closed pipe): the run goes on

            found, read = store.ingest(folders, progress)
            model = fleet_model(store, folders, found, read)
            made, not_made = write_pc_reports(store, out)
            page = write_pages(store, model, out, not_made)
        finally:
            store.close()
    counts = model["counts"]
    stdout.write("%d PCs: %d finished, %d failed, %d did not finish; %d could not be read. %d inputs found, %d read "
                 "now, %d reports made%s.\nThe page: %s\n" % (
                     counts["pcs"], counts["finished"], counts["failed"], counts["unfinished"],
                     model["unreadable_count"], found, read, made,
                     ", %d could not be made (the page says why)" % len(not_made) if not_made else "", page))
    return 0
