"""The fleet's store: what `scripts/vpc fleet` read of every copy of a PC's C:\\VELK, in
one SQLite file (docs/fleet.md describes its tables). A run reads only the inputs that are
new or changed since the one before; the page is made from the store with queries, so
that neither a run nor the page holds all PCs in memory.
"""

import fcntl
import hashlib
import json
import os
import sqlite3
import subprocess
import secrets
import threading
import time

from . import report
from .check import BUILD_LOG, CHECKER, build_checker
from .fleet_input import find_inputs
from .host import VpcError

# Raised whenever a table or column changes meaning or goes; a store of an earlier version
# is read again from the inputs, never half understood; one of a later version is refused.
SCHEMA = 1
APPLICATION = "velk-fleet"
# The store's mark in the SQLite header (application_id, at byte 68), readable without
# opening a file that may be somebody else's database; the schema is its user_version.
APPLICATION_ID = 0x56454C4B  # "VELK"
# Rows are written in transactions of this many copies, or of this many bytes read: a run
# stopped half-way keeps what it committed, and memory stays the same whatever the number
# of PCs.
BATCH = 200
BATCH_BYTES = 32 << 20
# The engine's copy of the run list at the end of the error file, under the factory test
# environment: the list, not a message.
RUN_LIST_DUMP = "-=-=-=-=-= R U N . N U V   C O N T  E N T S =-=-=-=-=-"
# The code that makes a store's figures from the files: when it changes, what was read
# with the earlier code is read again.
READING = tuple(os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
                for name in ("report.py", "fleet_input.py", "fleet_store.py"))

TABLES = """
CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE runs (id INTEGER PRIMARY KEY AUTOINCREMENT, began TEXT NOT NULL, folders TEXT NOT NULL);
CREATE TABLE inputs (
    id INTEGER PRIMARY KEY AUTOINCREMENT, path BLOB NOT NULL UNIQUE, kind TEXT NOT NULL,
    fingerprint TEXT, last_seen INTEGER NOT NULL, problem TEXT);
CREATE TABLE problems (
    input_id INTEGER NOT NULL REFERENCES inputs(id) ON DELETE CASCADE, path BLOB NOT NULL, why TEXT NOT NULL);
CREATE TABLE lists (id INTEGER PRIMARY KEY AUTOINCREMENT, digest TEXT NOT NULL UNIQUE, entries INTEGER NOT NULL);
CREATE TABLE list_entries (
    list_id INTEGER NOT NULL REFERENCES lists(id), number INTEGER NOT NULL, wrapper TEXT NOT NULL,
    command TEXT NOT NULL, cleanup TEXT NOT NULL, timeout TEXT NOT NULL, reboot INTEGER NOT NULL,
    PRIMARY KEY (list_id, number));
CREATE TABLE pcs (
    id INTEGER PRIMARY KEY AUTOINCREMENT, input_id INTEGER NOT NULL REFERENCES inputs(id) ON DELETE CASCADE,
    path BLOB NOT NULL, kind TEXT NOT NULL, list_id INTEGER NOT NULL REFERENCES lists(id), digest TEXT,
    outcome TEXT NOT NULL, arch TEXT, family TEXT, run_list TEXT, seconds REAL, restarts INTEGER,
    failed_entry INTEGER, result TEXT NOT NULL, folder TEXT NOT NULL UNIQUE);
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


def outcome_of(records, machine):
    """finished, failed or unfinished, as the report says it; a rehearsal whose own report
    says it did not pass (cut short, incomplete) has failed, whatever its PC had done."""
    kind = report.run_outcome(records)[0]
    outcome = {report.OUTCOMES["done"]: "finished", report.OUTCOMES["failed"]: "failed"}.get(kind, "unfinished")
    return "failed" if outcome == "finished" and machine.get("passed") is False else outcome


def path_key(path):
    """A path as the store keeps it: its bytes, as Linux names it (a copy from a Windows
    share may have a name that is no UTF-8)."""
    return os.fsencode(path)


def path_text(key):
    return os.fsdecode(key)


def reading_version():
    """A digest of the code that reads the copies and of the run-list check's program."""
    sha = hashlib.sha1()
    for path in READING + (CHECKER,):
        try:
            with open(path, "rb") as f:
                sha.update(f.read())
        except OSError:
            sha.update(b"?")
    return sha.hexdigest()


def list_digest(entries):
    """The list's content without its stamps: two versions of a list differ in it, two PCs
    of one list do not."""
    sha = hashlib.sha1()
    for e in entries:
        sha.update(json.dumps([e["wrapper"], e["command"], e["cleanup"], e["timeout"], e["reboot"]]).encode())
    return sha.hexdigest()


def message_lines(lines):
    """Error lines as they are grouped across PCs: without an entry's own line in quotes
    (its stamps differ from PC to PC), without the report's notes, and without the copy of
    the run list the engine appends to the file on the factory's test line."""
    if RUN_LIST_DUMP in lines:
        lines = lines[:lines.index(RUN_LIST_DUMP)]
    return [line for line in lines
            if not (line.startswith("\t'") and line.endswith("'")) and not line.startswith("(of entry ")]


class Checker:
    """The run-list check, started once, reading one list after another. The host's
    build is the sanitizers' one: its quarantine of freed memory is kept small, so that
    reading thousands of lists takes no more memory than reading one."""

    def __init__(self, build=True):
        if build and not build_checker():
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
    """The SQLite file, held by one run at a time. A file that is not this tool's store is
    refused and never opened as a database; one of an earlier schema version, or read with
    other code, is read again from the inputs; one of a later version is refused."""

    def __init__(self, path, empty_is_ours=False):
        """empty_is_ours: an empty file at path is one this tool began (the output folder's
        own store), not somebody's."""
        self.path = path
        self.check(path, empty_is_ours)
        if not build_checker():
            raise VpcError("building the run-list check failed; see " + BUILD_LOG)
        # The lock is held on the file itself, so two runs never write one store at once
        # (SQLite's own locks are of another kind).
        self._fd = os.open(path, os.O_RDWR | os.O_CREAT | os.O_NOFOLLOW, 0o644)
        try:
            try:
                fcntl.flock(self._fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except BlockingIOError:
                raise VpcError("%s is being written by another run of scripts/vpc fleet; wait for it to end" % path)
            self.check(path, True)  # as it is now that this run holds it
            fresh = os.fstat(self._fd).st_size == 0
            ours = None if fresh else self.version(path)
            self.db = sqlite3.connect(path, timeout=60)
            self.db.execute("PRAGMA foreign_keys = ON")
            self.db.execute("PRAGMA synchronous = NORMAL")
            reading = reading_version()
            if fresh or ours != SCHEMA or self.meta("reading") != reading:
                self.create(reading)
            self.run = self.db.execute("INSERT INTO runs (began, folders) VALUES (?, ?)",
                                       (time.strftime("%Y-%m-%d %H:%M:%S"), "")).lastrowid
            self.db.commit()
        except BaseException:
            os.close(self._fd)
            raise

    @classmethod
    def check(cls, path, empty_is_ours=False):
        """Refuses, before anything is written, a path that is no store of this tool (or one
        of a later version): a link, a file of somebody else's, an empty file not ours."""
        if os.path.islink(path):
            raise VpcError("%s is a symbolic link; name the store's own file with --db" % path)
        if not os.path.lexists(path):
            return
        if not os.path.isfile(path):
            raise VpcError("%s is not a file; name a new file with --db" % path)
        if os.path.getsize(path) == 0:
            if empty_is_ours:
                return
            raise VpcError("%s is an empty file, not a store of scripts/vpc fleet; name a new file with --db" % path)
        ours = cls.version(path)
        if ours is None:
            raise VpcError("%s is not a store of scripts/vpc fleet; name a new file with --db" % path)
        if ours > SCHEMA:
            raise VpcError("%s is a store of a later version of scripts/vpc fleet (schema %d, this one knows %d); "
                           "use that version, or name a new file with --db" % (path, ours, SCHEMA))

    @staticmethod
    def version(path):
        """The store's schema version, or None when the file is no store of this tool: read
        from the SQLite header, without opening the file as a database."""
        try:
            with open(path, "rb") as f:
                header = f.read(100)
        except OSError:
            return None
        if len(header) < 100 or header[:16] != b"SQLite format 3\x00":
            return None
        if int.from_bytes(header[68:72], "big") != APPLICATION_ID:
            return None
        return int.from_bytes(header[60:64], "big")

    def meta(self, key):
        row = self.db.execute("SELECT value FROM meta WHERE key = ?", (key,)).fetchone()
        return row[0] if row else None

    def create(self, reading):
        """The tables afresh, in one transaction with the header's marks: a store of an
        earlier version, or read with other code, is this tool's own cache of what the
        inputs hold, read again from them; a run cut short here leaves the store as it was."""
        self.db.isolation_level = None
        try:
            self.db.execute("PRAGMA foreign_keys = OFF")
            self.db.execute("BEGIN IMMEDIATE")
            tables = [name for (name,) in self.db.execute("SELECT name FROM sqlite_master WHERE type = 'table' "
                                                          "AND name NOT LIKE 'sqlite_%'")]
            for name in tables:
                self.db.execute("DROP TABLE \"%s\"" % name.replace('"', '""'))
            for statement in TABLES.split(";"):
                if statement.strip():
                    self.db.execute(statement)
            self.db.execute("PRAGMA application_id = %d" % APPLICATION_ID)
            self.db.execute("PRAGMA user_version = %d" % SCHEMA)
            self.db.executemany("INSERT INTO meta VALUES (?, ?)", (
                ("application", APPLICATION), ("schema", str(SCHEMA)), ("reading", reading)))
            self.db.execute("COMMIT")
        except BaseException:
            if self.db.in_transaction:
                self.db.execute("ROLLBACK")
            raise
        finally:
            self.db.isolation_level = ""
            self.db.execute("PRAGMA foreign_keys = ON")

    def close(self):
        self.db.close()
        os.close(self._fd)

    # ----- reading the inputs ------------------------------------------------------------------

    def ingest(self, folders, progress=None):
        """Reads every input under the folders that is new or changed since the store last
        saw it (one that could not be listed, every time); marks the rest as seen. Returns
        (inputs found, inputs read)."""
        self.db.execute("UPDATE runs SET folders = ? WHERE id = ?", (json.dumps(folders), self.run))
        checker = None
        found = read = 0
        pending, done, size = [], [], 0
        try:
            for source in find_inputs(folders):
                found += 1
                key = path_key(source.path)
                row = self.db.execute("SELECT id, kind, fingerprint FROM inputs WHERE path = ?", (key,)).fetchone()
                if row and source.fingerprint is not None and row[1:] == (source.kind, source.fingerprint):
                    self.db.execute("UPDATE inputs SET last_seen = ? WHERE id = ?", (self.run, row[0]))
                    continue
                if row:
                    self.db.execute("DELETE FROM inputs WHERE id = ?", (row[0],))
                # Without its fingerprint until its last copy is stored: a run cut short in a
                # ZIP file of thousands leaves it to be read again, not half read for good.
                input_id = self.db.execute(
                    "INSERT INTO inputs (path, kind, fingerprint, last_seen, problem) VALUES (?, ?, NULL, ?, ?)",
                    (key, source.kind, self.run, source.problem)).lastrowid
                read += 1
                # The copies of one input are read one at a time: a ZIP file may hold thousands.
                for copy in source.copies() if source.problem is None else ():
                    if isinstance(copy, tuple):
                        self.problem(input_id, *copy)
                        continue
                    pending.append((input_id, copy))
                    size += copy.size()
                    if len(pending) >= BATCH or size >= BATCH_BYTES:
                        checker = checker or Checker(build=False)
                        self.store_batch(pending, done, checker)
                        pending, done, size = [], [], 0
                        if progress:
                            progress(found, read)
                done.append((source.fingerprint, input_id))
            checker = checker or (Checker(build=False) if pending else None)
            self.store_batch(pending, done, checker)
        finally:
            if checker:
                checker.close()
        self.count_duplicates()
        return found, read

    def store_batch(self, pending, done, checker):
        """Stores the copies read, then the fingerprints of the inputs whose last copy is
        among them, in one transaction."""
        if pending:
            self.add_pcs(pending, checker)
        self.db.executemany("UPDATE inputs SET fingerprint = ? WHERE id = ?", done)
        self.db.commit()

    def add_pcs(self, pending, checker):
        """Adds the copies (input id, Copy) read, or the reason each cannot be."""
        readings = checker.read_many([copy.data["run_list"] for _, copy in pending])
        for (input_id, copy), reading in zip(pending, readings):
            # A list a power cut left as zeros reads as an entry of them; one whose end is
            # zeros is read as the engine reads it.
            if copy.data["run_list"] and not copy.data["run_list"].strip(b"\0\r\n\t "):
                self.problem(input_id, copy.path, "RUN.NUV holds nothing but NUL bytes or blanks: a damaged copy")
                continue
            if not reading["entries"]:
                self.problem(input_id, copy.path, "RUN.NUV holds no entry: an empty or damaged copy")
                continue
            # What one copy holds never stops the others: its rows go in whole or not at all.
            self.db.execute("SAVEPOINT copy")
            try:
                self.add_pc(input_id, copy, reading)
            except (sqlite3.Error, ValueError, TypeError, KeyError, IndexError) as error:
                self.db.execute("ROLLBACK TO copy")
                self.problem(input_id, copy.path, "cannot be read: %s" % error)
            self.db.execute("RELEASE copy")

    def problem(self, input_id, path, why):
        self.db.execute("INSERT INTO problems VALUES (?, ?, ?)", (input_id, path_key(path), why))

    def add_pc(self, input_id, copy, reading):
        records = report.velk_records(copy.path, copy.data, reading, copy.log_path, copy.a_log_path)
        entries, error_lines, log, starts, restarts, timed = report.read_entries(records)
        seconds, restart_count = report.machine_total(log, entries, restarts)
        outcome = outcome_of(records, copy.machine)
        list_id = self.list_id(entries)
        failed = next((e for e in entries if e["result_kind"] == "failed"), None)
        machine = report.displayable(copy.machine)
        pc_id = self.db.execute(
            "INSERT INTO pcs (input_id, path, kind, list_id, digest, outcome, arch, family, run_list, seconds, "
            "restarts, failed_entry, result, folder) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            (input_id, path_key(copy.path), copy.kind, list_id, copy.digest(), outcome, machine.get("arch"),
             machine.get("family"), machine.get("run_list"), seconds, restart_count,
             failed["number"] if failed else None, failed["result"] if failed else "",
             # Its report's folder: a name no other store, nor a store put back from a copy,
             # gives another PC.
             secrets.token_hex(8))).lastrowid
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
