"""The report of one run of the engine: report.html, one page that a browser opens from
disk and that loads nothing from elsewhere, and report.txt with the same facts for a
terminal. Both are made from one model (report.json beside them) through the templates
in templates/.

The model's facts come from what a PC keeps in C:\\VELK (the run list with its stamps,
the error file, the log) and from a:\\LOG, so that the same report is made from a copy
of C:\\VELK brought back from a PC on the line (`scripts/vpc report DIR`). A rehearsal
adds what only it can see: screenshots of every boot and what changed on the machine.
"""

import base64
import codecs
import datetime
import fcntl
import json
import os
import re
import shutil
import sys

from . import timeline as draw
from .check import read_run_list
from .host import VpcError

TEMPLATES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "templates")

# The engine's log lines and error-file texts, as the engine writes them.
LOG_LINE = re.compile(r"^(\d\d)/(\d\d)/(\d{4}) - (\d\d):(\d\d):(\d\d) ?(.*)$")
STARTED = "NUV: Started"
GET_ENTRY = "CControlManager::InstallApplications(...) GetEntry(...) return valid entry"
WORK_LINES = (
    "\tSetting start time",
    "\tCalling pWrapper->InstallApplication(...)",
    "\tInstallations successful.  Entering stop time.",
    "\tInstallations failed.  Setting error flag.",
    "\tNo clean directory.  Entering clean time as placeholder.",
    "\tDevelopment mode disabled source cleanup.  Entering clean time as placeholder.",
    "\tCleanupInstallationFiles(...) complete.  Entering clean time.",
    "\tCleanupInstallationFiles(...) failed.  Setting error flag.",
    "\tLoadWrapperAndCreateInstance failed",
)
ENTRY_DONE = "\tDeleting entry object..."
RESTART = "CNUVApp::ExitWindowsEx(...) shutting down system."
STAMP = re.compile(r"^(START|STOP|CLEAN) (\d\d):(\d\d):(\d\d)$")
FAILING_DOWNLOAD = "Failing Download."
# The engine's reports about an entry that end its pass, and what each says of it.
FAILURES = (
    ("Installation Failed", "install failed"),
    ("LoadWrapperAndCreateInstace return NULL", "plug-in not loaded"),
    ("CleanupInstallationFiles Failed", "clean-up failed"),
    ("Unable to record the", "stamp not recorded"),
)
STAMP_NAMES = ("START", "STOP", "CLEAN")
LOG_TAIL = 25

# report.json's layout (docs/report-json.md); raised whenever a field changes meaning or
# goes, so that a CI script reading it can tell which page describes it.
SCHEMA = 1

FILE_NAMES = {"run_list": "RUN.NUV", "errors": "nuv.err", "log": "nuv.log", "done": "nuv.dun"}


def find_file(folder, name, any_kind=False):
    """The file of that name in a folder, whatever its letter case (Windows ignores it).
    any_kind: any entry of that name, for a reader that names what is no file."""
    if not folder or not os.path.isdir(folder):
        return None
    try:
        entries = os.listdir(folder)
    except OSError:
        return None
    for entry in entries:
        if entry.lower() == name.lower() and (any_kind or os.path.isfile(os.path.join(folder, entry))):
            return os.path.join(folder, entry)
    return None


def windows_c1(error):
    """The five bytes cp1252 leaves undefined, read as Windows reads them: the control
    character of the same number."""
    return "".join(chr(b) for b in error.object[error.start:error.end]), error.end


codecs.register_error("velk-cp1252", windows_c1)


def decode_text(data):
    """The engine's bytes (run list, log, error file, a:\\LOG) as text: the Windows code
    page, every byte one character, so nothing is lost or refused."""
    return data.decode("cp1252", "velk-cp1252")


def displayable(value):
    """The value with every text made writable as UTF-8: a Linux file name that is not
    valid UTF-8 reaches Python with its bytes as lone surrogates, shown as U+FFFD."""
    if isinstance(value, str):
        return value.encode("utf-8", "surrogateescape").decode("utf-8", "replace")
    if isinstance(value, dict):
        return {displayable(k): displayable(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [displayable(v) for v in value]
    return value


def split_lines(text):
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return [line[:-1] if line.endswith("\r") else line for line in lines]


# ----- the run list --------------------------------------------------------------------------

def run_list_entries(reading):
    """The report's entries: the run list as the engine reads it (check.read_run_list's
    result, or None for no list), each a dict of its own. A stamp counts as set when its
    field is not empty, as the engine counts it."""
    return [dict(entry, stamps=dict(entry["stamps"])) for entry in (reading or {"entries": []})["entries"]]


def stamp_seconds(stamp):
    match = STAMP.match(stamp or "")
    if not match:
        return None
    return int(match.group(2)) * 3600 + int(match.group(3)) * 60 + int(match.group(4))


# ----- the error file ----------------------------------------------------------------------------

def error_records(lines):
    """The error file cut into records: the lines up to and including one that quotes an
    entry's run-list line (a tab and the line in quotes), which the engine ends its
    messages about an entry with; lines after the last such line form records alone."""
    records, current = [], []
    for line in lines:
        current.append(line)
        if line.startswith("\t'") and line.endswith("'"):
            records.append({"lines": current, "quoted": line[2:-1]})
            current = []
    records.extend({"lines": [line], "quoted": None} for line in current)
    return records


def first_fields(formatted):
    return [f.strip().upper() for f in (formatted.split(",") + [""] * 5)[:5]]


def record_entries(entries, quoted, work):
    """The entries a record's quoted line may stand for; one when it can be told. The
    engine quotes an entry as it writes it back (its formatted line, stamps included),
    so the entry whose line is that now is the one; with several of the same first five
    fields and none the same, an entry finished since cannot be it, nor one the log's
    walk (work, from walk_log) never worked on."""
    same = [e for e in entries if first_fields(e["formatted"]) == first_fields(quoted)]
    narrowings = (
        lambda e: e["formatted"] == quoted,
        lambda e: not all(e["stamps"].values()),
        lambda e: e["number"] in work,
    )
    for keep in narrowings:
        if len(same) <= 1:
            break
        same = [e for e in same if keep(e)] or same
    return same


# ----- the log -----------------------------------------------------------------------------------

def parse_log(text):
    """[(datetime or None, message)] of the engine's log."""
    lines = []
    for line in split_lines(text):
        match = LOG_LINE.match(line)
        if not match:
            lines.append((None, line))
            continue
        month, day, year, hour, minute, second = (int(match.group(i)) for i in range(1, 7))
        try:
            when = datetime.datetime(year, month, day, hour, minute, second)
        except ValueError:
            when = None
        # A PC whose clock was never set logs years no run was made in: such a line has
        # no time the timeline could place.
        if when is not None and not 1980 <= year <= datetime.date.today().year + 1:
            when = None
        lines.append((when, match.group(7)))
    return lines


def walk_log(log, entries):
    """What the log tells of each start of the engine and of each entry.

    The engine walks the list from its first entry at every start and logs no entry
    text, so the n-th entry of a start's walk is the n-th entry of the list. Returns
    (starts, restarts, work) where starts and restarts are the times of each start and
    of each restart, and work maps an entry's number to the first and last time of the
    log lines that worked on it (a start stamp, the install, a stamp, a failure)."""
    starts, restarts, work = [], [], {}
    current = None
    worked = False
    index = -1
    for when, message in log:
        if when is None:
            continue
        if message.startswith(STARTED):
            starts.append(when)
            index = -1
            current = None
        elif message == GET_ENTRY:
            index += 1
            current = entries[index]["number"] if index < len(entries) else None
            worked = False
        elif message == RESTART:
            restarts.append(when)
        elif current is not None and (message in WORK_LINES or (worked and message == ENTRY_DONE)):
            worked = True
            first, last = work.get(current, (when, when))
            work[current] = (min(first, when), max(last, when))
    return starts, restarts, work


# ----- the model ---------------------------------------------------------------------------------

def entry_result(entry, records):
    """What became of an entry: the first failure the engine reported of it, else what
    its stamps say. A stamp the engine did not write changes what its pass does (a CLEAN
    stamp alone: START is written and the install runs), not whether a failure shows."""
    start, stop, clean = (bool(entry["stamps"][n]) for n in STAMP_NAMES)
    texts = "\n".join(line for r in records for line in r["lines"])
    failure = next((said for r in records for text, said in FAILURES if any(text in line for line in r["lines"])),
                   None)
    if failure:
        result, kind = failure, "failed"
    elif start and stop and clean:
        result, kind = "done", "done"
    elif start and stop:
        result, kind = "installed, clean-up not finished", "failed"
    elif start:
        result, kind = "started, not finished", "failed"
    elif not (stop or clean):
        result, kind = "not reached", "waiting"
    else:
        result, kind = "stamps written by hand: %s" % ", ".join(n for n in STAMP_NAMES if entry["stamps"][n]), "other"
    if FAILING_DOWNLOAD in texts:
        result += "; a later start reported it as a Failing Download"
        kind = "failed"
    return result, kind


def duration_text(seconds):
    if seconds is None:
        return ""
    seconds = int(round(seconds))
    if seconds < 60:
        return "%d s" % seconds
    minutes, seconds = divmod(seconds, 60)
    if minutes < 60:
        return "%d min %02d s" % (minutes, seconds)
    hours, minutes = divmod(minutes, 60)
    return "%d h %02d min %02d s" % (hours, minutes, seconds)


def attributes_text(attributes):
    return "".join(letter for bit, letter in ((0x01, "R"), (0x02, "H"), (0x04, "S"), (0x10, "D"), (0x20, "A"))
                   if attributes & bit)


def read_velk(folder, a_log=None):
    """The engine's records in a copy of C:\\VELK, and a:\\LOG when given."""
    paths = {key: find_file(folder, name) for key, name in FILE_NAMES.items()}
    a_log = a_log if a_log and os.path.isfile(a_log) else None
    data = {key: read_bytes(paths[key]) for key in ("run_list", "errors", "log")}
    data["done"] = paths["done"] is not None
    data["a_log"] = read_bytes(a_log)
    reading = read_run_list(paths["run_list"]) if paths["run_list"] else None
    return velk_records(os.path.abspath(folder), data, reading, paths["log"], a_log)


def read_bytes(path):
    if not path:
        return None
    with open(path, "rb") as f:
        return f.read()


def velk_records(folder, data, reading, log_path=None, a_log_path=None):
    """The records of a copy of C:\\VELK, wherever its bytes come from (a folder, a ZIP):
    data maps run_list, errors, log and a_log to their bytes or None, and done to whether
    nuv.dun is there; reading is the run list as the engine reads it."""
    text = {key: decode_text(data[key]) if data.get(key) is not None else None
            for key in ("run_list", "errors", "log", "a_log")}
    return {
        "folder": folder,
        "run_list": text["run_list"],
        "errors": text["errors"],
        "log": text["log"],
        "log_path": log_path,
        "done": bool(data.get("done")),
        "a_log": text["a_log"],
        "a_log_path": a_log_path,
        "reading": reading,
    }


def read_entries(records):
    """What the engine's records (read_velk's result) tell of each entry: the run list's
    entries, each with its result, result_kind, errors (the error file's lines about it),
    seconds and duration. Returns (entries, error_lines, log, starts, restarts, timed),
    timed mapping an entry's number to the first and last time the log shows it worked."""
    entries = run_list_entries(records.get("reading"))
    error_lines = split_lines(records["errors"]) if records["errors"] is not None else []
    log = parse_log(records["log"]) if records["log"] is not None else []
    starts, restarts, work = walk_log(log, entries)

    by_entry = {e["number"]: [] for e in entries}
    unsure = {e["number"]: [] for e in entries}
    for record in error_records(error_lines):
        owners = record_entries(entries, record["quoted"], work) if record["quoted"] else []
        if len(owners) == 1:
            by_entry[owners[0]["number"]].append(record)
        # Where the list cannot tell, each candidate shows the record as not surely its own.
        for owner in owners if len(owners) > 1 else []:
            unsure[owner["number"]].append(dict(record, of=" or ".join(str(o["number"]) for o in owners)))

    timed = {}
    for entry in entries:
        result, kind = entry_result(entry, by_entry[entry["number"]])
        for record in unsure[entry["number"]][:1]:
            result += "; an error of entry %s (the error file cannot tell which)" % record["of"]
        entry["result"], entry["result_kind"] = result, kind
        entry["errors"] = [line for r in by_entry[entry["number"]] for line in r["lines"]]
        for record in unsure[entry["number"]]:
            entry["errors"] += ["(of entry %s; the error file cannot tell which)" % record["of"]] + record["lines"]
        entry["cleanup_state"] = None
        if entry["number"] in work:
            first, last = work[entry["number"]]
            timed[entry["number"]] = (first, last)
            entry["seconds"] = (last - first).total_seconds()
        else:
            begun = stamp_seconds(entry["stamps"]["START"])
            ended = stamp_seconds(entry["stamps"]["CLEAN"] or entry["stamps"]["STOP"])
            entry["seconds"] = (ended - begun) % 86400 if begun is not None and ended is not None else None
        entry["duration"] = duration_text(entry["seconds"])

    return entries, error_lines, log, starts, restarts, timed


def machine_total(log, entries, restarts):
    """(seconds from the first to the last time the log shows, restarts) of a PC's run;
    without a log, the seconds the stamps span and no count of restarts."""
    times = [w for w, _ in log if w is not None]
    restart_count = len(restarts) if times else None
    if not times:
        times = [t for span in stamp_spans(entries).values() for t in span]
    return ((max(times) - min(times)).total_seconds() if times else None), restart_count


OUTCOMES = {"done": "finished without errors", "failed": "failed", "unfinished": "did not finish"}


def run_outcome(records):
    """(outcome, kind) of the whole run: the error file's existence is the failure flag,
    also when it is empty; nuv.dun marks the end."""
    if records["errors"] is not None:
        return OUTCOMES["failed"], "failed"
    if records["done"]:
        return OUTCOMES["done"], "done"
    return OUTCOMES["unfinished"], "failed"


def build_model(records, title, machine=None, rehearsal=None):
    """The report's facts. records: read_velk's result. machine: what the PC was (arch,
    family, factory). rehearsal: what only a rehearsal has (boots, host times,
    screenshots, changes per boot, the end state, what was left out, the check)."""
    entries, error_lines, log, starts, restarts, timed = read_entries(records)

    outcome, outcome_kind = run_outcome(records)
    if rehearsal and rehearsal.get("stopped"):
        outcome += " (%s)" % rehearsal["stopped"]
    # A rehearsal cut short, or one that could not see everything, passes for nothing,
    # also when the engine had finished by then.
    if rehearsal and (rehearsal.get("incomplete") or (rehearsal.get("stopped") or "").startswith("interrupted")):
        if rehearsal.get("incomplete") and "rehearsal incomplete" not in outcome:
            outcome += " (rehearsal incomplete: %s)" % "; ".join(rehearsal["incomplete"])
        outcome_kind = "failed"

    if rehearsal:
        boots = rehearsal["boots"]
        restart_count = max(boots - 1, 0)
        # The line's time: the rehearsal's own readings of the machine are not part of it.
        total = rehearsal.get("machine_seconds", rehearsal["seconds"])
    else:
        boots = None
        total, restart_count = machine_total(log, entries, restarts)

    log_lines = [("%s %s" % (w.strftime("%m/%d/%Y %H:%M:%S"), m)) if w else m for w, m in log]
    model = {
        "schema": SCHEMA,
        "title": title,
        "kind": "rehearsal" if rehearsal else "machine",
        "machine": machine or {},
        "outcome": outcome,
        "outcome_kind": outcome_kind,
        "finished": outcome_kind == "done",
        "boots": boots,
        "restarts": restart_count,
        "starts": len(starts),
        "total": duration_text(total),
        "total_seconds": total,
        "overhead": duration_text(rehearsal.get("overhead_seconds")) if rehearsal else None,
        "setup": duration_text(rehearsal.get("setup_seconds")) if rehearsal else None,
        "incomplete": list(rehearsal.get("incomplete", [])) if rehearsal else [],
        "began": min(starts).strftime("%m/%d/%Y %H:%M:%S") if starts else None,
        "error_file": records["errors"] is not None,
        "error_lines": error_lines,
        "entries": entries,
        "timeline": timeline(entries, timed, starts, restarts, log, rehearsal.get("clock") if rehearsal else None),
        "velk_folder": records["folder"],
        "log_path": records["log_path"],
        "log_tail": log_lines[-LOG_TAIL:],
        "log_lines": len(log_lines),
        "a_log": split_lines(records["a_log"]) if records["a_log"] is not None else None,
        "a_log_path": records["a_log_path"],
    }
    model["rehearsal"] = rehearsal
    return model


# ----- the timeline ------------------------------------------------------------------------------

def bar_title(entry, seconds):
    return "%d. %s %s: %s, %s" % (entry["number"], entry["wrapper"], entry["command"], duration_text(seconds),
                                  entry["result"])


def timeline(entries, timed, starts, restarts, log, clock=None):
    """The picture's geometry (see timeline.layout). A rehearsal's clock gives every
    part of the run; a PC's log gives the entries' work, the countdowns, the pauses and
    the restarts. Without a log the entries' stamps give the times (time of day, so a
    run past midnight is taken to go on the next day)."""
    if clock is not None:
        rows, marks = draw.rehearsal_rows(entries, clock, log, row_label, bar_title)
        return draw.layout(rows, marks)
    spans = dict(timed)
    if not spans:
        spans = stamp_spans(entries)
        restarts = []
    rows = []
    for entry in entries:
        bars = []
        if entry["number"] in spans:
            first, last = spans[entry["number"]]
            bars.append({"from": draw.epoch(first), "to": draw.epoch(last), "kind": entry["result_kind"],
                         "title": bar_title(entry, (last - first).total_seconds())})
        rows.append({"label": row_label(entry), "number": entry["number"], "bars": bars})
    engine = [{"from": a, "to": b, "kind": kind, "title": "the engine's %s" % kind} for kind, a, b in draw.log_spans(log)]
    if engine:
        rows.append({"label": "The engine", "number": None, "bars": engine})
    marks = [{"at": draw.epoch(when), "label": "restart %d" % (i + 1)} for i, when in enumerate(sorted(restarts))]
    return draw.layout(rows, marks)


LABEL_WIDTH = 28
# An unquoted path with spaces ("C:\Program Files\X\setup.exe /s") ends at the first
# extension a program or package has, as Windows tries it, not at the first space.
PROGRAM_PATH = re.compile(r"^([a-z]:|\\\\)?[^ ]*\\.*?\.(?:exe|com|bat|cmd|msi|msp|pif)(?=\s|$)", re.I)


def program_and_arguments(command):
    """(the program's file name, its arguments) of an entry's command."""
    text = command.strip()
    if text.startswith('"'):
        end = text.find('"', 1)
        path, rest = (text[1:end], text[end + 1:]) if end > 0 else (text[1:], "")
    else:
        match = PROGRAM_PATH.match(text) or re.match(r"^\S*", text)
        path, rest = match.group(0), text[match.end():]
    name = path.replace("/", "\\").rstrip("\\").split("\\")[-1]
    return name, " ".join(rest.split())


def row_label(entry):
    """The timeline's name of an entry: its number, the program's file name and its
    arguments, cut at the end (at a word where that loses little) to fit beside the bars."""
    name, arguments = program_and_arguments(entry["command"])
    text = "%d. %s" % (entry["number"], " ".join(part for part in (name or entry["wrapper"], arguments) if part))
    if len(text) <= LABEL_WIDTH:
        return text
    cut = text[:LABEL_WIDTH - 1]
    space = cut.rfind(" ")
    if space >= len("%d. %s" % (entry["number"], name)) and space > len(cut) - 10:
        cut = cut[:space + 1]
    return cut + "\u2026"


def stamp_spans(entries):
    """Entry spans from the stamps alone: times of day on one made-up day, moved on a
    day whenever the time goes back."""
    spans = {}
    day = datetime.datetime(2000, 1, 1)
    previous = None
    for entry in entries:
        begun = stamp_seconds(entry["stamps"]["START"])
        ended = stamp_seconds(entry["stamps"]["CLEAN"] or entry["stamps"]["STOP"]) if begun is not None else None
        if begun is None:
            continue
        first = day + datetime.timedelta(seconds=begun)
        if previous is not None and first < previous:
            day += datetime.timedelta(days=1)
            first += datetime.timedelta(days=1)
        last = first + datetime.timedelta(seconds=((ended - begun) % 86400) if ended is not None else 0)
        spans[entry["number"]] = (first, last)
        previous = last
    return spans


# ----- pictures and output -----------------------------------------------------------------------

def data_uri(png_path):
    with open(png_path, "rb") as f:
        return "data:image/png;base64," + base64.b64encode(f.read()).decode("ascii")


_environment = None


def templates():
    """The templates, compiled once: the fleet's page writes hundreds of reports in a run."""
    global _environment
    if _environment is None:
        import jinja2  # only the pages need it; the virtual PC itself is standard library

        _environment = jinja2.Environment(
            loader=jinja2.FileSystemLoader(TEMPLATES), autoescape=jinja2.select_autoescape(["html.j2"]),
            undefined=jinja2.StrictUndefined, trim_blocks=True, lstrip_blocks=True, keep_trailing_newline=True)
        # A picture is taken from the folder of the page being written.
        _environment.filters["data_uri"] = jinja2.pass_context(
            lambda context, name: data_uri(os.path.join(context["folder"], name)))
        _environment.filters["attributes"] = attributes_text
        _environment.filters["duration"] = duration_text
    return _environment


def write_report(model, out):
    """Writes report.json, report.txt and report.html into out; returns the page's path."""
    model = displayable(model)
    os.makedirs(out, exist_ok=True)
    claim(out, "report.json", "report.txt", "report.html")
    with open(os.path.join(out, "report.json"), "w") as f:
        json.dump(model, f, indent=1, default=str)
    for name in ("report.txt", "report.html"):
        with open(os.path.join(out, name), "w", encoding="utf-8") as f:
            f.write(templates().get_template(name + ".j2").render(report=model, folder=out))
    return os.path.join(out, "report.html")


# The mark a report's folder bears: only a folder with it is ever emptied, and only of
# what the mark says this tool made there, while it holds nothing else. Names alone
# cannot tell: a copy of a PC's folder is named VELK too. The mark names each entry
# before it is made ("made: NAME"); a mark of an earlier version of this tool names none,
# and stands for what a report of that version held.
OUTPUT_MARK = ".velk-report"
LEGACY_NAMES = {"report.json", "report.txt", "report.html", "check.txt", "build.log", "screenshots", "VELK",
                "a-LOG.txt"}
# The fleet's page with its store (kept from run to run) and its PCs' reports.
FLEET_NAMES = {"fleet.html", "fleet.json", "fleet.csv", "fleet.db", "fleet.db-journal", "pcs"}
# An index of many rehearsals, with its children's logs.
INDEX_NAMES = {"index.json", "index.html", "logs"}
OUTPUT_NAMES = LEGACY_NAMES | FLEET_NAMES | INDEX_NAMES
MARK_TEXT = "A report of scripts/vpc: this folder is emptied when the next report is written here.\n"
MADE = "made: "


def made_here(out):
    """The names the folder's mark says this tool made, or None when it bears no mark of
    its own (none, or a link)."""
    path = os.path.join(out, OUTPUT_MARK)
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW)
    except OSError:
        return None
    with os.fdopen(fd, encoding="utf-8", errors="replace") as mark:
        lines = mark.read().splitlines()
    names = {line[len(MADE):] for line in lines if line.startswith(MADE)} & OUTPUT_NAMES
    return names if any(line.startswith(MADE) for line in lines) else set(LEGACY_NAMES)


def claim(out, *names):
    """Notes in the mark that this tool makes these entries of the folder, before it
    makes them."""
    try:
        fd = os.open(os.path.join(out, OUTPUT_MARK), os.O_WRONLY | os.O_APPEND | os.O_NOFOLLOW)
    except FileNotFoundError:
        return  # a folder without the mark is never emptied: nothing to note
    with os.fdopen(fd, "a", encoding="utf-8") as mark:
        mark.write("".join(MADE + name + "\n" for name in names))


def lies_within(inner, outer):
    """Whether the real path inner is outer or lies inside it."""
    return os.path.commonpath([inner, outer]) == outer


class OutputFolder:
    """The report's folder, held by one writer: an exclusive lock on the folder itself,
    which emptying it for the next report keeps (its entries go, the folder stays)."""

    def __init__(self, out):
        self.path = out
        self._fd = os.open(out, os.O_RDONLY | os.O_DIRECTORY)
        try:
            fcntl.flock(self._fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            os.close(self._fd)
            raise VpcError("%s is being written by another report or rehearsal; wait for it to end, or name "
                           "another folder with --out" % out) from None

    def close(self):
        if self._fd is not None:
            os.close(self._fd)
            self._fd = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def keep_apart(out, apart, called="--out"):
    """Refuses an output folder (called so in the message) that lies inside or around one
    of the folders a report reads, apart: (what, path), real paths compared."""
    real_out = os.path.realpath(out)
    for what, path in apart:
        if not path:
            continue
        real = os.path.realpath(path)
        if lies_within(real_out, real):
            raise VpcError("%s %s lies inside %s %s; name a folder outside it" % (called, out, what, path))
        if lies_within(real, real_out):
            raise VpcError("%s %s lies inside %s %s; name a folder that holds none of what the report reads"
                           % (what, path, called, out))


def prepare_out(out, apart=(), keep=()):
    """The output folder, held until the returned OutputFolder is closed: made when
    missing, used as it is when empty, emptied when it bears the mark of an earlier report
    of this tool and holds nothing else than a report holds, and refused otherwise
    (nothing of the user's is deleted, also not a file put into a report's folder later).
    apart: (what, path) of the folders the report reads (the sources, the run list's
    folder, the copy of C:\\VELK): the output folder may lie neither inside one of them
    nor around one. keep: names of what this tool made there that its writer carries on
    from run to run (the fleet's store), left as they are. It bears the mark from now on."""
    if os.path.islink(out):
        raise VpcError("%s is a symbolic link; name a folder of its own with --out" % out)
    if os.path.exists(out) and not os.path.isdir(out):
        raise VpcError("%s is not a folder" % out)
    real_out = os.path.realpath(out)
    # Inside an earlier report's folder, the next report there would empty this one.
    parent = os.path.dirname(real_out)
    while parent != os.path.dirname(parent):
        if os.path.lexists(os.path.join(parent, OUTPUT_MARK)):
            raise VpcError("--out %s lies inside the report folder %s, which its next report empties; name a "
                           "folder outside it" % (out, parent))
        parent = os.path.dirname(parent)
    keep_apart(out, apart)
    os.makedirs(out, exist_ok=True)
    held = OutputFolder(out)
    try:
        entries = set(os.listdir(out))
        for name in sorted(entries & set(keep)):
            # What is carried on is written into again: never through a link.
            if os.path.islink(os.path.join(out, name)):
                raise VpcError("%s in %s is a symbolic link; this tool writes there only what it made" % (name, out))
        made = made_here(out) if entries else set()
        if entries and (made is None or not entries - {OUTPUT_MARK} <= made):
            raise VpcError("%s holds files this tool did not make; name an empty or new folder with --out" % out)
        for name in sorted(entries - {OUTPUT_MARK} - set(keep)):
            path = os.path.join(out, name)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.remove(path)
        # Written afresh, never through a link of that name.
        if os.path.lexists(os.path.join(out, OUTPUT_MARK)):
            os.remove(os.path.join(out, OUTPUT_MARK))
        fd = os.open(os.path.join(out, OUTPUT_MARK), os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW, 0o644)
        with os.fdopen(fd, "w", encoding="utf-8") as mark:
            mark.write(MARK_TEXT + "".join(MADE + name + "\n" for name in sorted(entries & set(keep))))
    except BaseException:
        held.close()
        raise
    return held


def make_report(velk, out, a_log=None, stdout=None, junit=None):
    """scripts/vpc report: the report of a real PC from a copy of its C:\\VELK. Returns 0
    when the run finished without an error file, 1 when not; without a run list, or with
    an output folder it may not use, it raises VpcError (exit code 2). junit: a
    junit.JUnitFile to write as well."""
    stdout = stdout or sys.stdout
    records = read_velk(velk, a_log)
    if records["run_list"] is None:
        raise VpcError("%s holds no RUN.NUV: give a copy of the PC's C:\\VELK folder" % velk)
    # The copy of a:\\LOG is a file: only the output folder around it is refused.
    with prepare_out(out, (("the folder given", velk), ("the copy of a:\\LOG", a_log))):
        model = build_model(records, "Report of the PC's C:\\VELK (%s)" % os.path.basename(os.path.abspath(velk)))
        page = write_report(model, out)
        if junit:
            junit.write(model)
        with open(os.path.join(out, "report.txt"), encoding="utf-8") as f:
            stdout.write(f.read())
    stdout.write("\nThe report: %s\n" % page)
    return 0 if model["finished"] else 1
