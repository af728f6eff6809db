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

from .report import FILE_NAMES, OUTPUT_MARK, find_file

# a:\LOG as the engineers bring it back: beside the copy of C:\VELK (pc17/VELK and pc17/LOG),
# or as a rehearsal keeps it.
A_LOG_NAMES = ("log", "log.txt", "a-log.txt")
ENGINE_FILES = {name.lower() for name in FILE_NAMES.values()}
RUN_LIST = FILE_NAMES["run_list"].lower()
# The engine's files are kilobytes, its log a few megabytes: a larger one is no record of
# a PC, and is not read into memory.
LARGEST = {"run_list": 1 << 20, "errors": 16 << 20, "log": 16 << 20, "a_log": 16 << 20, "report.json": 16 << 20}
REHEARSAL_A_LOG = "a-LOG.txt"
LINKED = "a symbolic link, not followed"


class Problem(Exception):
    """Why an input, or a copy in it, cannot be read."""


class Input:
    """A folder copy, a rehearsal's folder or a ZIP file. fingerprint: what changes when
    its content does (names, sizes, times and file numbers of the files read); problem:
    why nothing in it can be read, when so."""

    def __init__(self, path, kind, fingerprint, problem=None):
        self.path, self.kind, self.fingerprint, self.problem = path, kind, fingerprint, problem

    def copies(self):
        """The copies in it, one at a time (a ZIP file may hold thousands), each a Copy,
        or a (path, why) of what in it could not be read."""
        if self.kind == "zip":
            yield from zip_copies(self.path)
            return
        try:
            yield rehearsal_copy(self.path) if self.kind == "rehearsal" else folder_copy(self.path)
        except Problem as why:
            yield self.path, str(why)


class Copy:
    """One PC's records: data maps run_list, errors, log and a_log to bytes or None, and
    done to whether nuv.dun is there. machine: what a rehearsal's report says of it."""

    def __init__(self, path, kind, data, machine=None, log_path=None, a_log_path=None):
        self.path, self.kind, self.data, self.machine = path, kind, data, machine or {}
        self.log_path, self.a_log_path = log_path, a_log_path

    def size(self):
        return sum(len(v) for v in self.data.values() if isinstance(v, bytes))

    def digest(self):
        """What tells one PC from another: its list with the stamps, its error file, its log,
        whether it finished and, for a rehearsal, its machine. a:\\LOG is left out: a copy
        brought with it and one without are the same PC. A copy of a list nothing has run
        on yet is like every other such copy, and has none."""
        stamped = b"START " in self.data["run_list"] or b"STOP " in self.data["run_list"]
        if not (stamped or self.data["log"] or self.data["errors"] is not None):
            return None
        sha = hashlib.sha1()
        for key in ("run_list", "errors", "log"):
            value = self.data[key]
            sha.update(b"-" if value is None else b"%d:" % len(value) + value)
        sha.update(b"done" if self.data["done"] else b"-")
        # Two rehearsals of one list on two machines may run to the same second.
        sha.update(json.dumps(self.machine, sort_keys=True).encode())
        return sha.hexdigest()


# ----- finding the inputs -------------------------------------------------------------------------

def find_inputs(folders):
    """Every input under the folders (and ZIP files) given, in a fixed order, one at a
    time: a tree of thousands of copies is never held whole. A folder given inside
    another one given is read once."""
    tops = []
    for top in sorted({os.path.realpath(f) for f in folders}):
        if not any(os.path.commonpath([top, t]) == t for t in tops):
            tops.append(top)
    for top in tops:
        if os.path.isfile(top):
            yield zip_input(top)
        else:
            yield from walk(top)


def walk(top):
    """The inputs under a folder, depth first in name order, without recursion (a share
    may nest deeper than Python's stack)."""
    stack = [(top, False)]
    while stack:
        folder, parent_named = stack.pop()
        try:
            with os.scandir(folder) as listing:
                entries = sorted(listing, key=lambda e: e.name)
        except OSError as error:
            yield Input(folder, "folder", None, "cannot be listed: %s" % (error.strerror or error))
            continue
        found, below, named = look_at(folder, entries, parent_named)
        yield from found
        stack.extend(reversed([(path, named) for path in below]))


def look_at(folder, entries, parent_named):
    """(inputs, subfolders to search, whether this folder was named as one without its
    list). A folder named VELK without its list is named and not searched (its BACKUP
    holds a list of its own); below any other folder holding the engine's files the search
    goes on, but its own folders of that kind (its KORB, with its copy of the error file)
    are not named again."""
    names = {e.name.lower(): e for e in entries if not is_dir(e) and not e.is_symlink()}
    links = {e.name.lower() for e in entries if e.is_symlink()}
    velk = os.path.join(folder, "VELK")
    has_velk = os.path.isdir(velk) and not os.path.islink(velk)
    # A rehearsal's folder holds the copy of its PC's C:\VELK. One that came through a
    # tool that leaves out hidden files (a CI system's artefacts) has lost its mark, not
    # its report; one cut short before its report was written has its mark alone.
    if has_velk and (OUTPUT_MARK in names or ("report.json" in names and
                                               said_kind(os.path.join(folder, "report.json")) == "rehearsal")):
        return [Input(folder, "rehearsal", fingerprint(velk, folder))], [], False
    if OUTPUT_MARK in names:
        return [], [], False  # a report's folder, whose copy lies elsewhere; an index's; the fleet's own
    if RUN_LIST in names:
        return [Input(folder, "folder", fingerprint(folder, os.path.dirname(folder)))], [], False
    found, named = [], False
    if RUN_LIST in links:
        found.append(Input(folder, "folder", None, "RUN.NUV is " + LINKED))
        named = True
    elif ENGINE_FILES & set(names):
        if os.path.basename(folder).lower() == "velk":
            return [Input(folder, "folder", fingerprint(folder, os.path.dirname(folder)), "holds no RUN.NUV")], [], True
        if not parent_named:
            found.append(Input(folder, "folder", fingerprint(folder, os.path.dirname(folder)), "holds no RUN.NUV"))
            named = True
    below = []
    for entry in entries:
        if entry.is_symlink():
            if entry.name.lower() == "velk" or entry.name.lower().endswith(".zip"):
                found.append(Input(entry.path, "folder", None, LINKED))
        elif is_dir(entry):
            below.append(entry.path)
        elif entry.name.lower().endswith(".zip"):
            found.append(zip_input(entry.path))
    return found, below, named


def said_kind(path):
    """The "kind" a report.json says, or None."""
    try:
        said = json.loads(read_file(path, LARGEST["report.json"]))
        return said.get("kind") if isinstance(said, dict) else None
    except (Problem, ValueError):
        return None


def is_dir(entry):
    try:
        return entry.is_dir(follow_symlinks=False)
    except OSError:
        return False


def stat_text(st):
    return "%d %d %d %d" % (st.st_size, st.st_mtime_ns, st.st_ctime_ns, st.st_ino)


def zip_input(path):
    try:
        st = os.stat(path)
    except OSError as error:
        return Input(path, "zip", None, "cannot be read: %s" % (error.strerror or error))
    return Input(path, "zip", stat_text(st))


def fingerprint(velk, beside):
    """Names, sizes, times (of the content's change and of the file's) and file numbers of
    the files a copy's reading reads: those of the copy, and those beside it (a:\\LOG, a
    rehearsal's report.json). A file changed and given its old time back still changes
    its change time."""
    parts = []
    for folder in (velk, beside):
        try:
            with os.scandir(folder) as listing:
                for entry in listing:
                    if entry.name.lower() in ENGINE_FILES | set(A_LOG_NAMES) | {"report.json"}:
                        parts.append("%s %s" % (entry.name, stat_text(entry.stat(follow_symlinks=False))))
        except OSError:
            parts.append("? " + folder)
    return "\n".join(sorted(parts))


# ----- reading a copy -------------------------------------------------------------------------------

def read_file(path, largest):
    """The bytes of a file, never through a link, never blocking on a pipe or device."""
    name = os.path.basename(path)
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK)
    except OSError as error:
        if os.path.islink(path):
            raise Problem("%s is %s" % (name, LINKED))
        raise Problem("%s cannot be read: %s" % (name, error.strerror or error))
    with os.fdopen(fd, "rb") as f:
        try:
            if not stat.S_ISREG(os.fstat(f.fileno()).st_mode):
                raise Problem("%s is not a file" % name)
            data = f.read(largest + 1)
        except OSError as error:
            raise Problem("%s cannot be read: %s" % (name, error.strerror or error))
    if len(data) > largest:
        raise Problem("%s is larger than %s" % (name, size_text(largest)))
    return data


def size_text(size):
    return "%d MiB" % (size >> 20) if size >= 1 << 20 else "%d KiB" % (size >> 10)


def folder_copy(velk, a_log=None, kind="folder", machine=None):
    # Any entry of the name: read_file names one that is no file (a pipe) as a problem.
    paths = {key: find_file(velk, name, any_kind=True) for key, name in FILE_NAMES.items()}
    if a_log is None and os.path.basename(velk).lower() == "velk":
        parent = os.path.dirname(velk)
        a_log = next(filter(None, (find_file(parent, n) for n in A_LOG_NAMES)), None)
    data = {key: read_file(paths[key], LARGEST[key]) if paths[key] else None for key in ("run_list", "errors", "log")}
    if data["run_list"] is None:
        raise Problem("holds no RUN.NUV")
    data["done"] = paths["done"] is not None
    data["a_log"] = read_file(a_log, LARGEST["a_log"]) if a_log else None
    return Copy(velk, kind, data, machine, paths["log"], a_log)


def rehearsal_copy(folder):
    """A rehearsal's folder: the copy of its PC's C:\\VELK, its a:\\LOG, and what its
    report says: the machine, and whether the rehearsal itself passed."""
    if not os.path.lexists(os.path.join(folder, "report.json")):
        said = {"finished": False}  # cut short before its report was written
    else:
        try:
            said = json.loads(read_file(os.path.join(folder, "report.json"), LARGEST["report.json"]))
        except ValueError as error:
            raise Problem("report.json cannot be read: %s" % error)
    if not isinstance(said, dict):
        raise Problem("report.json holds no report")
    told = said.get("machine") if isinstance(said.get("machine"), dict) else {}
    machine = {key: told.get(key) if isinstance(told.get(key), str) else None for key in ("arch", "family", "run_list")}
    # A rehearsal cut short or incomplete passes for nothing, whatever its PC had done.
    machine["passed"] = said.get("finished") is not False and not said.get("incomplete")
    a_log = os.path.join(folder, REHEARSAL_A_LOG)
    copy = folder_copy(os.path.join(folder, "VELK"), a_log if os.path.isfile(a_log) else None, "rehearsal", machine)
    copy.path = folder
    return copy


# A damaged ZIP file raises whatever its damage leads its decoder to (zlib's, lzma's, bz2's
# errors, a version it does not know, a name it cannot decode): each is the file's damage.
ZIP_ERRORS = Exception


def zip_copies(path):
    """The copies in a ZIP file, one at a time: every folder in it that holds a RUN.NUV,
    but none below such a folder (its BACKUP, its KORB). A damaged file in it makes a
    problem of that copy; a damaged ZIP, of the whole file."""
    try:
        archive = zipfile.ZipFile(path)
    except ZIP_ERRORS as error:
        yield path, "not a readable ZIP file: %s" % (getattr(error, "strerror", None) or error or type(error).__name__)
        return
    with archive:
        try:
            members = {}
            for info in archive.infolist():
                if not info.is_dir():
                    folder, _, name = info.filename.replace("\\", "/").rpartition("/")
                    members.setdefault(folder, {})[name.lower()] = info
        except ZIP_ERRORS as error:
            yield path, "not a readable ZIP file: %s" % (error or type(error).__name__)
            return
        # Nothing below a copy, or below a VELK folder without its list, is read as a copy.
        bounds = {f for f, files in members.items()
                  if RUN_LIST in files or (ENGINE_FILES & set(files) and f.rpartition("/")[2].lower() == "velk")}
        found = False
        for folder in sorted(members):
            if folder and ("" in bounds or any(a in bounds for a in ancestors(folder))):
                continue
            files = members[folder]
            where = "%s:%s" % (path, folder or "/")
            if RUN_LIST not in files:
                if ENGINE_FILES & set(files):
                    found = True
                    yield where, "holds no RUN.NUV"
                continue
            found = True
            try:
                yield zip_copy(archive, path, folder, files, members)
            except Problem as why:
                yield where, str(why)
        if not found:
            yield path, "holds no RUN.NUV"


def ancestors(folder):
    """"a/b/c" -> "a", "a/b"."""
    parts = folder.split("/")
    return ("/".join(parts[:i]) for i in range(1, len(parts)))


def zip_copy(archive, path, folder, files, members):
    def read(info, key):
        if info.file_size > LARGEST[key]:
            raise Problem("%s is larger than %s" % (info.filename, size_text(LARGEST[key])))
        try:
            data = archive.read(info)
        except ZIP_ERRORS as error:
            raise Problem("%s cannot be read: %s" % (info.filename, error or type(error).__name__))
        if len(data) > LARGEST[key]:
            raise Problem("%s is larger than %s" % (info.filename, size_text(LARGEST[key])))
        return data

    data = {key: read(files[FILE_NAMES[key].lower()], key) if FILE_NAMES[key].lower() in files else None
            for key in ("run_list", "errors", "log")}
    data["done"] = FILE_NAMES["done"].lower() in files
    parent, _, base = folder.rpartition("/")
    beside = members.get(parent, {}) if base.lower() == "velk" else {}
    a_log = next((beside[n] for n in A_LOG_NAMES if n in beside), None)
    data["a_log"] = read(a_log, "a_log") if a_log else None
    inside = "%s:%s" % (path, folder or "/")
    log = "%s/%s" % (inside, files[FILE_NAMES["log"].lower()].filename.rpartition("/")[2]) \
        if data["log"] is not None else None
    return Copy(inside, "zip", data, None, log, "%s:%s" % (path, a_log.filename) if a_log else None)
