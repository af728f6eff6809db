"""The fleet's store: what `scripts/vpc fleet` read of every copy of a PC's C:\\VELK, in
one SQLite file (docs/fleet.md describes its tables). A run reads only the inputs that are
new or changed since the one before; the page is made from the store with queries, so
that neither a run nor the page holds all PCs in memory.
"""

import hashlib
import json
import os
import sqlite3
import subprocess
import threading
import time

from . import report
from .check import BUILD_LOG, CHECKER, build_checker
from .fleet_input import Problem, find_inputs
from .host import VpcError

# Raised whenever a table or column changes meaning or goes; a store of another version
# is read again from the inputs, never half understood.
SCHEMA = 1
APPLICATION = "velk-fleet"
# Rows are written in transactions of this many copies: a run stopped half-way keeps what
# it committed, and memory stays the same whatever the number of PCs.
BATCH = 200

TABLES = """
CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE runs (id INTEGER PRIMARY KEY AUTOINCREMENT, began TEXT NOT NULL, folders TEXT NOT NULL);
CREATE TABLE inputs (
    id INTEGER PRIMARY KEY AUTOINCREMENT, path TEXT NOT NULL UNIQUE, kind TEXT NOT NULL,
    fingerprint TEXT, last_seen INTEGER NOT NULL, problem TEXT);
CREATE TABLE problems (
    input_id INTEGER NOT NULL REFERENCES inputs(id) ON DELETE CASCADE, path TEXT NOT NULL, why TEXT NOT NULL);
CREATE TABLE lists (id INTEGER PRIMARY KEY AUTOINCREMENT, digest TEXT NOT NULL UNIQUE, entries INTEGER NOT NULL);
CREATE TABLE list_entries (
    list_id INTEGER NOT NULL REFERENCES lists(id), number INTEGER NOT NULL, wrapper TEXT NOT NULL,
    command TEXT NOT NULL, cleanup TEXT NOT NULL, timeout TEXT NOT NULL, reboot INTEGER NOT NULL,
    PRIMARY KEY (list_id, number));
CREATE TABLE pcs (
    id INTEGER PRIMARY KEY AUTOINCREMENT, input_id INTEGER NOT NULL REFERENCES inputs(id) ON DELETE CASCADE,
    path TEXT NOT NULL, kind TEXT NOT NULL, list_id INTEGER NOT NULL REFERENCES lists(id), digest TEXT,
    outcome TEXT NOT NULL, arch TEXT, family TEXT, run_list TEXT, seconds REAL, restarts INTEGER,
    failed_entry INTEGER, result TEXT NOT NULL);
CREATE TABLE pc_entries (
    pc_id INTEGER NOT NULL REFERENCES pcs(id) ON DELETE CASCADE, number INTEGER NOT NULL, kind TEXT NOT NULL,
    result TEXT NOT NULL, seconds REAL, PRIMARY KEY (pc_id, number));
CREATE TABLE pc_errors (
    pc_id INTEGER NOT NULL REFERENCES pcs(id) ON DELETE CASCADE, number INTEGER, line TEXT NOT NULL);
CREATE INDEX pcs_input ON pcs(input_id);
CREATE INDEX pcs_list ON pcs(list_id);
CREATE INDEX pcs_digest ON pcs(digest);
CREATE INDEX pc_errors_pc ON pc_errors(pc_id);
CREATE INDEX problems_input ON problems(input_id);
CREATE INDEX inputs_seen ON inputs(last_seen);
"""

OUTCOMES = ("finished", "failed", "unfinished")


def outcome_of(records):
    kind = report.run_outcome(records)[0]
    return {report.OUTCOMES["done"]: "finished", report.OUTCOMES["failed"]: "failed"}.get(kind, "unfinished")


def list_digest(entries):
    """The list's content without its stamps: two versions of a list differ in it, two PCs
    of one list do not."""
    sha = hashlib.sha1()
    for e in entries:
        sha.update(json.dumps([e["wrapper"], e["command"], e["cleanup"], e["timeout"], e["reboot"]]).encode())
    return sha.hexdigest()


def message_lines(lines):
    """An entry's error lines as they are grouped across PCs: without the entry's own line
    in quotes (its stamps differ from PC to PC) and without the report's notes."""
    return [line for line in lines
            if not (line.startswith("\t'") and line.endswith("'")) and not line.startswith("(of entry ")]


class Checker:
    """The run-list check, started once, reading one list after another. The host's
    build is the sanitizers' one: its quarantine of freed memory is kept small, so that
    reading thousands of lists takes no more memory than reading one."""

    def __init__(self):
        if not build_checker():
            raise VpcError("building the run-list check failed; see " + BUILD_LOG)
        env = dict(os.environ, ASAN_OPTIONS=":".join(
            filter(None, (os.environ.get("ASAN_OPTIONS"), "quarantine_size_mb=8", "thread_local_quarantine_size_kb=64"))))
        self.process = subprocess.Popen([CHECKER, "--json-batch"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        env=env)

    def read_many(self, lists):
        """The readings of the lists (bytes), in their order. They are written by a thread
        of their own while the readings are read, so that neither side waits for the other
        for each list, and neither pipe fills up."""
        def write():
            try:
                for data in lists:
                    self.process.stdin.write(b"%d\n" % len(data) + data)
                self.process.stdin.flush()
            except OSError:
                pass  # the check ended: told below by its missing line

        writer = threading.Thread(target=write, daemon=True)
        writer.start()
        readings = []
        for _ in lists:
            line = self.process.stdout.readline()
            if not line:
                writer.join()
                raise VpcError("the run-list check ended while reading lists (exit code %s)" % self.process.wait())
            readings.append(json.loads(line))
        writer.join()
        return readings

    def read(self, data):
        return self.read_many([data])[0]

    def close(self):
        try:
            self.process.stdin.close()
        except OSError:
            pass
        self.process.wait()


class Store:
    """The SQLite file. One that is not this tool's store is refused, never written; one
    of another schema version is read again from scratch."""

    def __init__(self, path):
        self.path = path
        fresh = not os.path.exists(path) or os.path.getsize(path) == 0
        if not fresh:
            ours = self.version(path)
            if ours is None:
                raise VpcError("%s is not a store of scripts/vpc fleet; name a new file with --db" % path)
        # Another run writing the same store is waited for, a while.
        self.db = sqlite3.connect(path, timeout=60)
        self.db.execute("PRAGMA foreign_keys = ON")
        self.db.execute("PRAGMA synchronous = NORMAL")
        if fresh or ours != SCHEMA:
            self.create()
        self.run = self.db.execute("INSERT INTO runs (began, folders) VALUES (?, ?)",
                                   (time.strftime("%Y-%m-%d %H:%M:%S"), "")).lastrowid
        self.db.commit()

    @staticmethod
    def version(path):
        """The store's schema version, or None when the file is no store of this tool."""
        try:
            with open(path, "rb") as f:
                if f.read(16) != b"SQLite format 3\x00":
                    return None
            db = sqlite3.connect("file:%s?mode=ro" % path, uri=True)
            try:
                rows = dict(db.execute("SELECT key, value FROM meta"))
            finally:
                db.close()
        except (OSError, sqlite3.Error):
            return None
        if rows.get("application") != APPLICATION:
            return None
        try:
            return int(rows.get("schema"))
        except (TypeError, ValueError):
            return None

    def create(self):
        """The tables afresh: a store of another version is this tool's own cache of what
        the inputs hold, read again from them."""
        tables = [name for (name,) in self.db.execute("SELECT name FROM sqlite_master WHERE type = 'table' "
                                                      "AND name NOT LIKE 'sqlite_%'")]
        self.db.execute("PRAGMA foreign_keys = OFF")
        for name in tables:
            self.db.execute("DROP TABLE %s" % name)
        self.db.executescript(TABLES)
        self.db.execute("PRAGMA foreign_keys = ON")
        self.db.executemany("INSERT INTO meta VALUES (?, ?)", (("application", APPLICATION), ("schema", str(SCHEMA))))
        self.db.commit()

    def close(self):
        self.db.close()

    # ----- reading the inputs ------------------------------------------------------------------

    def ingest(self, folders, progress=None):
        """Reads every input under the folders that is new or changed since the store last
        saw it; marks the rest as seen. Returns (inputs found, inputs read)."""
        self.db.execute("UPDATE runs SET folders = ? WHERE id = ?", (json.dumps(folders), self.run))
        checker = None
        found = read = 0
        pending = []
        try:
            for source in find_inputs(folders):
                found += 1
                row = self.db.execute("SELECT id, kind, fingerprint FROM inputs WHERE path = ?",
                                      (source.path,)).fetchone()
                if row and source.fingerprint is not None and row[1:] == (source.kind, source.fingerprint):
                    self.db.execute("UPDATE inputs SET last_seen = ? WHERE id = ?", (self.run, row[0]))
                    continue
                if row:
                    self.db.execute("DELETE FROM inputs WHERE id = ?", (row[0],))
                input_id = self.db.execute(
                    "INSERT INTO inputs (path, kind, fingerprint, last_seen, problem) VALUES (?, ?, ?, ?, ?)",
                    (source.path, source.kind, source.fingerprint, self.run, source.problem)).lastrowid
                read += 1
                if source.problem is None:
                    copies, problems = source.copies()
                    self.db.executemany("INSERT INTO problems VALUES (?, ?, ?)",
                                        ((input_id, p, w) for p, w in problems))
                    pending += [(input_id, copy) for copy in copies]
                if len(pending) >= BATCH:
                    checker = checker or Checker()
                    self.add_pcs(pending, checker)
                    pending = []
                    self.db.commit()
                    if progress:
                        progress(found, read)
            if pending:
                checker = checker or Checker()
                self.add_pcs(pending, checker)
            self.db.commit()
        finally:
            if checker:
                checker.close()
        self.count_duplicates()
        return found, read

    def add_pcs(self, pending, checker):
        """Adds the copies (input id, Copy) read, or the reason each cannot be."""
        readable = []
        for input_id, copy in pending:
            if b"\0" in copy.data["run_list"]:
                self.problem(input_id, copy.path, "RUN.NUV holds NUL bytes: a damaged copy")
            else:
                readable.append((input_id, copy))
        readings = checker.read_many([copy.data["run_list"] for _, copy in readable])
        for (input_id, copy), reading in zip(readable, readings):
            if not reading["entries"]:
                self.problem(input_id, copy.path, "RUN.NUV holds no entry: an empty or damaged copy")
            else:
                self.add_pc(input_id, copy, reading)

    def problem(self, input_id, path, why):
        self.db.execute("INSERT INTO problems VALUES (?, ?, ?)", (input_id, path, why))

    def add_pc(self, input_id, copy, reading):
        records = report.velk_records(copy.path, copy.data, reading, copy.log_path, copy.a_log_path)
        entries, error_lines, log, starts, restarts, timed = report.read_entries(records)
        seconds, restart_count = report.machine_total(log, entries, restarts)
        outcome = outcome_of(records)
        list_id = self.list_id(entries)
        failed = next((e for e in entries if e["result_kind"] == "failed"), None)
        pc_id = self.db.execute(
            "INSERT INTO pcs (input_id, path, kind, list_id, digest, outcome, arch, family, run_list, seconds, "
            "restarts, failed_entry, result) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            (input_id, copy.path, copy.kind, list_id, copy.digest(), outcome, copy.machine.get("arch"),
             copy.machine.get("family"), copy.machine.get("run_list"), seconds, restart_count,
             failed["number"] if failed else None, failed["result"] if failed else "")).lastrowid
        self.db.executemany("INSERT INTO pc_entries VALUES (?, ?, ?, ?, ?)",
                            ((pc_id, e["number"], e["result_kind"], e["result"], e["seconds"]) for e in entries))
        owned = set()
        rows = []
        for e in entries:
            for line in message_lines(e["errors"]):
                rows.append((pc_id, e["number"], line))
            owned.update(e["errors"])
        # The error file's lines no entry owns (a message about the whole run).
        rows += [(pc_id, None, line) for line in message_lines(error_lines) if line not in owned and line.strip()]
        self.db.executemany("INSERT INTO pc_errors VALUES (?, ?, ?)", rows)

    def list_id(self, entries):
        digest = list_digest(entries)
        row = self.db.execute("SELECT id FROM lists WHERE digest = ?", (digest,)).fetchone()
        if row:
            return row[0]
        list_id = self.db.execute("INSERT INTO lists (digest, entries) VALUES (?, ?)",
                                  (digest, len(entries))).lastrowid
        self.db.executemany("INSERT INTO list_entries VALUES (?, ?, ?, ?, ?, ?, ?)",
                            ((list_id, e["number"], e["wrapper"], e["command"], e["cleanup"], e["timeout"],
                              int(e["reboot"])) for e in entries))
        return list_id

    def count_duplicates(self):
        """Of two copies of one PC seen in this run, the first by path counts; the other is
        named as a copy of it. Kept in a table of this run only."""
        self.db.execute("DROP TABLE IF EXISTS temp.counted")
        self.db.execute(
            "CREATE TEMP TABLE counted AS SELECT p.id AS pc_id, p.list_id, p.outcome FROM pcs p "
            "JOIN inputs i ON i.id = p.input_id WHERE i.last_seen = ? AND (p.digest IS NULL OR p.path = "
            "(SELECT MIN(q.path) FROM pcs q JOIN inputs j ON j.id = q.input_id "
            "WHERE q.digest = p.digest AND j.last_seen = ?))", (self.run, self.run))
        self.db.execute("CREATE INDEX temp.counted_pc ON counted(pc_id)")
        self.db.execute("CREATE INDEX temp.counted_list ON counted(list_id)")
