"""What `scripts/vpc fleet` reads: copies of PCs' C:\\VELK folders, found in a tree of
folders and ZIP files, and the rehearsals' output folders. Nothing here writes.

An input is one thing whose change the store notices by its fingerprint: a folder that
is a copy of C:\\VELK, a rehearsal's folder, or a ZIP file with any number of copies in
it. A copy is one PC's records. What cannot be read is a problem: named and counted,
never a reason to stop.
"""

import hashlib
import json
import os
import stat
import zipfile

from .report import FILE_NAMES, OUTPUT_MARK

# a:\LOG as the engineers bring it back: beside the copy of C:\VELK (pc17/VELK and pc17/LOG),
# or as a rehearsal keeps it.
A_LOG_NAMES = ("log", "log.txt", "a-log.txt")
ENGINE_FILES = {name.lower() for name in FILE_NAMES.values()}
# The engine's files are a few kilobytes to a few megabytes; a larger one is no record of
# it, and is not read into memory.
LARGEST_FILE = 64 << 20
REHEARSAL_A_LOG = "a-LOG.txt"


class Problem(Exception):
    """Why an input, or a copy in it, cannot be read."""


class Input:
    """A folder copy, a rehearsal's folder or a ZIP file. fingerprint: what changes when
    its content does (names, sizes and times of the files read); problem: why nothing in
    it can be read, when so."""

    def __init__(self, path, kind, fingerprint, problem=None):
        self.path, self.kind, self.fingerprint, self.problem = path, kind, fingerprint, problem

    def copies(self):
        """(copies, problems): the copies in it, each a Copy, and (path, why) of what in it
        could not be read. Reads the files."""
        if self.kind == "zip":
            return zip_copies(self.path)
        try:
            if self.kind == "rehearsal":
                return [rehearsal_copy(self.path)], []
            return [folder_copy(self.path)], []
        except Problem as why:
            return [], [(self.path, str(why))]


class Copy:
    """One PC's records: data maps run_list, errors, log and a_log to bytes or None, and
    done to whether nuv.dun is there. machine: arch and family when a rehearsal says so."""

    def __init__(self, path, kind, data, machine=None, log_path=None, a_log_path=None):
        self.path, self.kind, self.data, self.machine = path, kind, data, machine or {}
        self.log_path, self.a_log_path = log_path, a_log_path

    def digest(self):
        """What tells one PC from another: its list with the stamps, its error file, its log,
        its a:\\LOG and, for a rehearsal, its machine. A copy of a list nothing has run on
        yet is like every other such copy, and has none."""
        stamped = b"START " in (self.data["run_list"] or b"") or b"STOP " in (self.data["run_list"] or b"")
        if not (stamped or self.data["log"] or self.data["errors"] is not None):
            return None
        sha = hashlib.sha1()
        for key in ("run_list", "errors", "log", "a_log"):
            value = self.data[key]
            sha.update(b"-" if value is None else b"%d:" % len(value) + value)
        # Two rehearsals of one list on two machines may run to the same second.
        sha.update(json.dumps(self.machine, sort_keys=True).encode())
        return sha.hexdigest()


# ----- finding the inputs -------------------------------------------------------------------------

def find_inputs(folders):
    """Every input under the folders (and ZIP files) given, in a fixed order, one at a
    time: a tree of thousands of copies is never held whole."""
    for top in folders:
        if os.path.isfile(top):
            yield zip_input(top)
        else:
            yield from walk(top)


def walk(folder):
    try:
        with os.scandir(folder) as listing:
            entries = sorted(listing, key=lambda e: e.name)
    except OSError as error:
        yield Input(folder, "folder", None, "cannot be listed: %s" % (error.strerror or error))
        return
    names = {e.name.lower(): e for e in entries if is_file(e)}
    velk = os.path.join(folder, "VELK")
    rehearsal = "report.json" in names and os.path.isdir(velk) and not os.path.islink(velk)
    # A rehearsal's folder holds the copy of its PC's C:\VELK. One that came through a
    # tool that leaves out hidden files (a CI system's artefacts) has lost its mark, not
    # its report.
    if rehearsal and (OUTPUT_MARK in names or said_kind(os.path.join(folder, "report.json")) == "rehearsal"):
        yield Input(folder, "rehearsal", fingerprint(velk, folder))
        return
    if OUTPUT_MARK in names:
        return  # a report's folder, whose copy lies elsewhere; an index's; the fleet's own
    if FILE_NAMES["run_list"].lower() in names:
        yield Input(folder, "folder", fingerprint(folder, os.path.dirname(folder)))
        return
    if os.path.basename(folder).lower() == "velk" or ENGINE_FILES & set(names):
        yield Input(folder, "folder", fingerprint(folder, os.path.dirname(folder)), "holds no RUN.NUV")
        return
    for entry in entries:
        if entry.is_dir(follow_symlinks=False):
            yield from walk(entry.path)
        elif entry.name.lower().endswith(".zip") and is_file(entry):
            yield zip_input(entry.path)


def said_kind(path):
    """The "kind" a report.json says, or None."""
    try:
        with open(path, "rb") as f:
            said = json.loads(f.read(LARGEST_FILE))
        return said.get("kind") if isinstance(said, dict) else None
    except (OSError, ValueError):
        return None


def is_file(entry):
    try:
        return entry.is_file(follow_symlinks=False)
    except OSError:
        return False


def zip_input(path):
    try:
        st = os.stat(path)
    except OSError as error:
        return Input(path, "zip", None, "cannot be read: %s" % (error.strerror or error))
    return Input(path, "zip", "%d %d" % (st.st_size, st.st_mtime_ns))


def fingerprint(velk, beside):
    """Names, sizes and change times of the files a copy's reading reads: those of the
    copy, and those beside it (a:\\LOG, a rehearsal's report.json)."""
    parts = []
    for folder in (velk, beside):
        try:
            with os.scandir(folder) as listing:
                for entry in listing:
                    if entry.name.lower() in ENGINE_FILES | set(A_LOG_NAMES) | {"report.json"} and is_file(entry):
                        st = entry.stat(follow_symlinks=False)
                        parts.append("%s %d %d" % (entry.name, st.st_size, st.st_mtime_ns))
        except OSError:
            parts.append("? " + folder)
    return "\n".join(sorted(parts))


# ----- reading a copy -------------------------------------------------------------------------------

def read_file(path):
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW)
    except OSError as error:
        raise Problem("%s cannot be read: %s" % (os.path.basename(path), error.strerror or error))
    with os.fdopen(fd, "rb") as f:
        try:
            if not stat.S_ISREG(os.fstat(f.fileno()).st_mode):
                raise Problem("%s is not a file" % os.path.basename(path))
            data = f.read(LARGEST_FILE + 1)
        except OSError as error:
            raise Problem("%s cannot be read: %s" % (os.path.basename(path), error.strerror or error))
    if len(data) > LARGEST_FILE:
        raise Problem("%s is larger than %d MiB" % (os.path.basename(path), LARGEST_FILE >> 20))
    return data


def in_folder(folder, name):
    """The entry of that name in a folder, whatever its letter case, or None."""
    try:
        for entry in os.listdir(folder):
            if entry.lower() == name.lower():
                return os.path.join(folder, entry)
    except OSError:
        pass
    return None


def folder_copy(velk, a_log=None, kind="folder", machine=None):
    paths = {key: in_folder(velk, name) for key, name in FILE_NAMES.items()}
    if a_log is None and os.path.basename(velk).lower() == "velk":
        parent = os.path.dirname(velk)
        a_log = next((p for p in (in_folder(parent, n) for n in A_LOG_NAMES) if p and os.path.isfile(p)), None)
    data = {key: read_file(paths[key]) if paths[key] else None for key in ("run_list", "errors", "log")}
    if data["run_list"] is None:
        raise Problem("holds no RUN.NUV")
    data["done"] = paths["done"] is not None
    data["a_log"] = read_file(a_log) if a_log else None
    return Copy(velk, kind, data, machine, paths["log"], a_log)


def rehearsal_copy(folder):
    """A rehearsal's folder: the copy of its PC's C:\\VELK, its a:\\LOG, and the machine
    its report names."""
    machine = {}
    try:
        with open(os.path.join(folder, "report.json"), encoding="utf-8") as f:
            said = json.load(f)
        machine = {key: said.get("machine", {}).get(key) for key in ("arch", "family", "run_list")}
    except (OSError, ValueError, AttributeError) as error:
        raise Problem("report.json cannot be read: %s" % (getattr(error, "strerror", None) or error))
    a_log = os.path.join(folder, REHEARSAL_A_LOG)
    copy = folder_copy(os.path.join(folder, "VELK"), a_log if os.path.isfile(a_log) else None, "rehearsal", machine)
    copy.path = folder
    return copy


def zip_copies(path):
    """The copies in a ZIP file: every folder in it that holds a RUN.NUV. A damaged file
    in it makes a problem of that copy; a damaged ZIP, of the whole file."""
    copies, problems = [], []
    try:
        with zipfile.ZipFile(path) as archive:
            members = {}
            for info in archive.infolist():
                if not info.is_dir():
                    folder, _, name = info.filename.replace("\\", "/").rpartition("/")
                    members.setdefault(folder, {})[name.lower()] = info
            for folder in sorted(members):
                files = members[folder]
                where = "%s:%s" % (path, folder or "/")
                if FILE_NAMES["run_list"].lower() not in files:
                    if ENGINE_FILES & set(files):
                        problems.append((where, "holds no RUN.NUV"))
                    continue
                try:
                    copies.append(zip_copy(archive, path, folder, files, members))
                except Problem as why:
                    problems.append((where, str(why)))
    except (zipfile.BadZipFile, zipfile.LargeZipFile, OSError, EOFError, ValueError) as error:
        return [], [(path, "not a readable ZIP file: %s" % (getattr(error, "strerror", None) or error))]
    if not copies and not problems:
        problems.append((path, "holds no RUN.NUV"))
    return copies, problems


def zip_copy(archive, path, folder, files, members):
    def read(info):
        if info.file_size > LARGEST_FILE:
            raise Problem("%s is larger than %d MiB" % (info.filename, LARGEST_FILE >> 20))
        try:
            return archive.read(info)
        except (zipfile.BadZipFile, OSError, EOFError, ValueError, NotImplementedError, RuntimeError) as error:
            raise Problem("%s cannot be read: %s" % (info.filename, getattr(error, "strerror", None) or error))

    data = {key: read(files[FILE_NAMES[key].lower()]) if FILE_NAMES[key].lower() in files else None
            for key in ("run_list", "errors", "log")}
    data["done"] = FILE_NAMES["done"].lower() in files
    parent, _, base = folder.rpartition("/")
    beside = members.get(parent, {}) if base.lower() == "velk" else {}
    a_log = next((beside[n] for n in A_LOG_NAMES if n in beside), None)
    data["a_log"] = read(a_log) if a_log else None
    inside = "%s:%s" % (path, folder or "/")
    log = "%s/%s" % (inside, files[FILE_NAMES["log"].lower()].filename.rpartition("/")[2]) \
        if data["log"] is not None else None
    return Copy(inside, "zip", data, None, log, "%s:%s" % (path, a_log.filename) if a_log else None)
