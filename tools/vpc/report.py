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
STAMP_NAMES = ("START", "STOP", "CLEAN")
LOG_TAIL = 25

FILE_NAMES = {"run_list": "RUN.NUV", "errors": "nuv.err", "log": "nuv.log", "done": "nuv.dun"}


def find_file(folder, name):
    """The file of that name in a folder, whatever its letter case (Windows ignores it)."""
    if not folder or not os.path.isdir(folder):
        return None
    for entry in os.listdir(folder):
        if entry.lower() == name.lower() and os.path.isfile(os.path.join(folder, entry)):
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


def read_text(path):
    if not path:
        return None
    with open(path, "rb") as f:
        return decode_text(f.read())


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

def parse_run_list(text):
    """The entries of a run list as the engine reads them: every line that is neither
    blank nor a comment, split at its commas, with its line number and its stamps."""
    entries = []
    for number, line in enumerate(split_lines(text), 1):
        stripped = line.strip()
        if not stripped or stripped.startswith("#"):
            continue
        fields = [f.strip() for f in stripped.split(",")] + [""] * 8
        stamps = {}
        for name, field in zip(STAMP_NAMES, fields[5:8]):
            match = STAMP.match(field)
            stamps[name] = field if match and match.group(1) == name else ""
        entries.append({
            "number": len(entries) + 1, "line_number": number, "line": stripped,
            "wrapper": fields[0], "command": fields[1], "cleanup": fields[2], "timeout": fields[3],
            "reboot": fields[4].upper() == "REBOOT", "stamps": stamps,
        })
    return entries


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


def matching_entry(entries, quoted):
    """The entry a quoted line stands for: the same first five fields."""
    fields = [f.strip() for f in quoted.split(",")] + [""] * 5
    for entry in entries:
        own = [f.strip() for f in entry["line"].split(",")] + [""] * 5
        if [f.upper() for f in fields[:5]] == [f.upper() for f in own[:5]]:
            return entry
    return None


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
    start, stop, clean = (bool(entry["stamps"][n]) for n in STAMP_NAMES)
    texts = "\n".join(line for r in records for line in r["lines"])
    if start and stop and clean:
        result, kind = "done", "done"
    elif start and stop:
        result, kind = "clean-up failed", "failed"
    elif start and not stop and not clean:
        if "Installation Failed" in texts:
            result = "install failed"
        elif "LoadWrapperAndCreateInstace return NULL" in texts:
            result = "plug-in not loaded"
        elif "Unable to record the" in texts:
            result = "stamp not recorded"
        else:
            result = "started, not finished"
        kind = "failed"
    elif not (start or stop or clean):
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
    return {
        "folder": os.path.abspath(folder),
        "run_list": read_text(paths["run_list"]),
        "errors": read_text(paths["errors"]),
        "log": read_text(paths["log"]),
        "log_path": paths["log"],
        "done": paths["done"] is not None,
        "a_log": read_text(a_log) if a_log and os.path.isfile(a_log) else None,
        "a_log_path": a_log if a_log and os.path.isfile(a_log) else None,
    }


def build_model(records, title, machine=None, rehearsal=None):
    """The report's facts. records: read_velk's result. machine: what the PC was (arch,
    family, factory). rehearsal: what only a rehearsal has (boots, host times,
    screenshots, changes per boot, the end state, what was left out, the check)."""
    entries = parse_run_list(records["run_list"] or "")
    error_lines = split_lines(records["errors"]) if records["errors"] is not None else []
    log = parse_log(records["log"]) if records["log"] is not None else []
    starts, restarts, work = walk_log(log, entries)

    by_entry = {e["number"]: [] for e in entries}
    for record in error_records(error_lines):
        entry = matching_entry(entries, record["quoted"]) if record["quoted"] else None
        if entry:
            by_entry[entry["number"]].append(record)

    timed = {}
    for entry in entries:
        result, kind = entry_result(entry, by_entry[entry["number"]])
        entry["result"], entry["result_kind"] = result, kind
        entry["errors"] = [line for r in by_entry[entry["number"]] for line in r["lines"]]
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

    # The error file's existence is the failure flag, also when it is empty.
    if records["errors"] is not None:
        outcome, outcome_kind = "failed", "failed"
    elif records["done"]:
        outcome, outcome_kind = "finished without errors", "done"
    else:
        outcome, outcome_kind = "did not finish", "failed"
    if rehearsal and rehearsal.get("stopped"):
        outcome += " (%s)" % rehearsal["stopped"]

    if rehearsal:
        boots = rehearsal["boots"]
        restart_count = max(boots - 1, 0)
        total = rehearsal["seconds"]
    else:
        boots = None
        times = [w for w, _ in log if w is not None]
        restart_count = len(restarts) if times else None
        if not times:
            times = [t for span in stamp_spans(entries).values() for t in span]
        total = (max(times) - min(times)).total_seconds() if times else None

    log_lines = [("%s %s" % (w.strftime("%m/%d/%Y %H:%M:%S"), m)) if w else m for w, m in log]
    model = {
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
        "began": min(starts).strftime("%m/%d/%Y %H:%M:%S") if starts else None,
        "error_file": records["errors"] is not None,
        "error_lines": error_lines,
        "entries": entries,
        "timeline": timeline(entries, timed, starts, restarts, log),
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

PLOT_LEFT, PLOT_WIDTH, ROW, TOP = 190, 620, 26, 34


def timeline(entries, timed, starts, restarts, log):
    """The picture's geometry: one row per entry with its bar where the entry ran, the
    restarts as marks, and an axis in minutes and seconds from the first start. Without
    a log the entries' stamps give the times (time of day, so a run past midnight is
    taken to go on the next day)."""
    spans = dict(timed)
    if not spans:
        spans = stamp_spans(entries)
        restarts = []
        starts = []
    times = [t for span in spans.values() for t in span] + list(starts) + list(restarts)
    rows = []
    height = TOP + ROW * len(entries) + 30
    if not times:
        for i, entry in enumerate(entries):
            rows.append({"y": TOP + i * ROW, "label": row_label(entry), "bar": None, "number": entry["number"]})
        return {"width": PLOT_LEFT + PLOT_WIDTH + 20, "height": height, "rows": rows, "restarts": [],
                "ticks": [], "plot_left": PLOT_LEFT, "plot_right": PLOT_LEFT + PLOT_WIDTH}
    origin = min(times)
    end = max(max(times), max((w for w, _ in log if w is not None), default=origin))
    span_seconds = max((end - origin).total_seconds(), 1)
    scale = PLOT_WIDTH / span_seconds

    def x(when):
        return round(PLOT_LEFT + (when - origin).total_seconds() * scale, 1)

    for i, entry in enumerate(entries):
        bar = None
        if entry["number"] in spans:
            first, last = spans[entry["number"]]
            left = x(first)
            bar = {"x": left, "width": max(round(x(last) - left, 1), 3),
                   "title": "%d. %s %s: %s, %s" % (entry["number"], entry["wrapper"], entry["command"],
                                                 duration_text((last - first).total_seconds()), entry["result"]),
                   "kind": entry["result_kind"]}
        rows.append({"y": TOP + i * ROW, "label": row_label(entry), "bar": bar, "number": entry["number"]})
    marks = [{"x": x(when), "label": "restart %d" % (i + 1), "time": when.strftime("%H:%M:%S")}
             for i, when in enumerate(sorted(restarts))]
    step = tick_step(span_seconds)
    ticks = []
    t = 0
    while t <= span_seconds:
        ticks.append({"x": round(PLOT_LEFT + t * scale, 1), "label": "%d:%02d" % divmod(int(t), 60)})
        t += step
    return {"width": PLOT_LEFT + PLOT_WIDTH + 40, "height": height, "rows": rows, "restarts": marks,
            "ticks": ticks, "plot_left": PLOT_LEFT, "plot_right": PLOT_LEFT + PLOT_WIDTH,
            "origin": origin.strftime("%H:%M:%S")}


def row_label(entry):
    text = "%d. %s %s" % (entry["number"], entry["wrapper"], entry["command"])
    return text if len(text) <= 28 else text[:27] + "\u2026"


def tick_step(seconds):
    for step in (5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600):
        if seconds / step <= 10:
            return step
    return 7200


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


def write_report(model, out):
    """Writes report.json, report.txt and report.html into out; returns the page's path."""
    import jinja2  # only the report needs it; the virtual PC itself is standard library

    model = displayable(model)
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "report.json"), "w") as f:
        json.dump(model, f, indent=1, default=str)
    environment = jinja2.Environment(
        loader=jinja2.FileSystemLoader(TEMPLATES), autoescape=jinja2.select_autoescape(["html.j2"]),
        undefined=jinja2.StrictUndefined, trim_blocks=True, lstrip_blocks=True, keep_trailing_newline=True)
    environment.filters["data_uri"] = lambda name: data_uri(os.path.join(out, name))
    environment.filters["attributes"] = attributes_text
    for name in ("report.txt", "report.html"):
        with open(os.path.join(out, name), "w", encoding="utf-8") as f:
            f.write(environment.get_template(name + ".j2").render(report=model))
    return os.path.join(out, "report.html")


# The mark a report's folder bears: only a folder with it is ever emptied, and only while
# it holds nothing but what a report holds. Names alone cannot tell: a copy of a PC's
# folder is named VELK too.
OUTPUT_MARK = ".velk-report"
OUTPUT_NAMES = {OUTPUT_MARK, "report.json", "report.txt", "report.html", "check.txt", "build.log", "screenshots",
                "VELK", "a-LOG.txt"}


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


def prepare_out(out, apart=()):
    """The output folder, held until the returned OutputFolder is closed: made when
    missing, used as it is when empty, emptied when it bears the mark of an earlier report
    of this tool and holds nothing else than a report holds, and refused otherwise
    (nothing of the user's is deleted, also not a file put into a report's folder later).
    apart: (what, path) of the folders the report reads (the sources, the run list's
    folder, the copy of C:\\VELK): the output folder may lie neither inside one of them
    nor around one. It bears the mark from now on."""
    if os.path.islink(out):
        raise VpcError("%s is a symbolic link; name a folder of its own with --out" % out)
    if os.path.exists(out) and not os.path.isdir(out):
        raise VpcError("%s is not a folder" % out)
    real_out = os.path.realpath(out)
    for what, path in apart:
        if not path:
            continue
        real = os.path.realpath(path)
        if lies_within(real_out, real):
            raise VpcError("--out %s lies inside %s %s; name a folder outside it" % (out, what, path))
        if lies_within(real, real_out):
            raise VpcError("%s %s lies inside --out %s; name a folder that holds none of what the report reads"
                           % (what, path, out))
    os.makedirs(out, exist_ok=True)
    held = OutputFolder(out)
    try:
        entries = os.listdir(out)
        if entries and (OUTPUT_MARK not in entries or not set(entries) <= OUTPUT_NAMES):
            raise VpcError("%s holds files this tool did not make; name an empty or new folder with --out" % out)
        for name in entries:
            path = os.path.join(out, name)
            if name == OUTPUT_MARK:
                continue
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.remove(path)
        with open(os.path.join(out, OUTPUT_MARK), "w") as mark:
            mark.write("A report of scripts/vpc: this folder is emptied when the next report is written here.\n")
    except BaseException:
        held.close()
        raise
    return held


def make_report(velk, out, a_log=None, stdout=None):
    """scripts/vpc report: the report of a real PC from a copy of its C:\\VELK. Returns 0
    when the run finished without an error file, 1 when not; without a run list, or with
    an output folder it may not use, it raises VpcError (exit code 2)."""
    stdout = stdout or sys.stdout
    records = read_velk(velk, a_log)
    if records["run_list"] is None:
        raise VpcError("%s holds no RUN.NUV: give a copy of the PC's C:\\VELK folder" % velk)
    # The copy of a:\\LOG is a file: only the output folder around it is refused.
    with prepare_out(out, (("the folder given", velk), ("the copy of a:\\LOG", a_log))):
        model = build_model(records, "Report of the PC's C:\\VELK (%s)" % os.path.basename(os.path.abspath(velk)))
        page = write_report(model, out)
        with open(os.path.join(out, "report.txt"), encoding="utf-8") as f:
            stdout.write(f.read())
    stdout.write("\nThe report: %s\n" % page)
    return 0 if model["finished"] else 1
