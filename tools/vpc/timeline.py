"""The timeline's picture: rows of bars on one time axis, so that every second of a run
belongs to something named: an entry, the engine's own work, its countdowns and its
pause, Wine's boots and restarts, and (in a rehearsal) the rehearsal's own gates.

Times are seconds since 1970. The geometry is the same for the page (SVG) and the
terminal (a line of characters per row).
"""

import datetime

PLOT_LEFT, PLOT_WIDTH, ROW, TOP = 250, 620, 26, 34
TEXT_WIDTH = 60

# kind: (colour on the page, character in the terminal, what it is)
KINDS = {
    "done": ("#2e7d32", "#", "an entry that finished"),
    "failed": ("#c62828", "X", "an entry that failed"),
    "waiting": ("#8a6d00", "?", "an entry that did not finish"),
    "other": ("#8a6d00", "?", "an entry with stamps written by hand"),
    "engine": ("#78909c", "e", "the engine's own work (start, walk of the list, clean-up)"),
    "countdown": ("#42a5f5", "c", "the engine's restart countdown"),
    "pause": ("#b0bec5", "p", "the engine's pause before its last clean-up"),
    "boot": ("#ab47bc", "b", "Wine starting the PC, up to the engine's start"),
    "restart": ("#7e57c2", "r", "Wine ending the session for a restart, or the PC going idle"),
    "gate": ("#e0e0e0", ".", "the rehearsal reading the machine (not part of the line's time)"),
}

# The engine's log lines that begin and end its countdowns and its pause.
COUNTDOWN_BEGINS = "CNUVApp::SetSystemShutdown(...) called"
COUNTDOWN_ENDS = ("CNUVDlg::OnDestroy(...)", "CNUVDlg:: SystemRestoreThread(...) posting WM_CLOSE")
PAUSE_BEGINS = "sleeping 20 seconds before registry cleanup"


def epoch(when):
    """A log time (local time of the PC, which is this machine's) in seconds since 1970."""
    return when.timestamp()


def log_spans(log):
    """[(kind, from, to)] of the countdowns and pauses the log shows."""
    spans = []
    opened = None
    for when, message in log:
        if when is None:
            continue
        if opened and (message.startswith(COUNTDOWN_ENDS) if opened[0] == "countdown" else True):
            if epoch(when) > opened[1]:
                spans.append((opened[0], opened[1], epoch(when)))
            opened = None
        if opened is None:
            if message.startswith(COUNTDOWN_BEGINS):
                opened = ("countdown", epoch(when))
            elif PAUSE_BEGINS in message:
                opened = ("pause", epoch(when))
    return spans


def cut(bars, spans):
    """The bars with the spans cut out of them (entries and countdowns stand over the
    engine's own work)."""
    result = []
    for bar in bars:
        pieces = [(bar["from"], bar["to"])]
        for start, end in spans:
            pieces = [p for a, b in pieces for p in ((a, min(b, start)), (max(a, end), b)) if p[1] - p[0] > 0]
        result.extend(dict(bar, **{"from": a, "to": b}) for a, b in pieces)
    return result


def layout(rows, marks=()):
    """rows: [{"label", "number" (or None), "bars": [{"from", "to", "kind", "title"}]}];
    marks: [{"at", "label"}] (restarts). Returns the picture's geometry."""
    times = [t for row in rows for bar in row["bars"] for t in (bar["from"], bar["to"])]
    times += [mark["at"] for mark in marks]
    height = TOP + ROW * len(rows) + 30
    geometry = {"width": PLOT_LEFT + PLOT_WIDTH + 40, "height": height, "plot_left": PLOT_LEFT,
                "plot_right": PLOT_LEFT + PLOT_WIDTH, "ticks": [], "restarts": [], "origin": None, "rows": [],
                "legend": [], "text_width": TEXT_WIDTH}
    origin = min(times) if times else 0
    span = max(max(times) - origin, 1) if times else 1
    scale = PLOT_WIDTH / span
    if times:
        geometry["origin"] = datetime.datetime.fromtimestamp(origin).strftime("%H:%M:%S")

    def x(when):
        return round(PLOT_LEFT + (when - origin) * scale, 1)

    used = set()
    for i, row in enumerate(rows):
        bars = []
        text = [" "] * TEXT_WIDTH
        for bar in sorted(row["bars"], key=lambda b: b["from"]):
            left = x(bar["from"])
            width = max(round(x(bar["to"]) - left, 1), 2)
            used.add(bar["kind"])
            bars.append({"x": left, "width": width, "kind": bar["kind"], "title": bar["title"],
                         "fill": KINDS[bar["kind"]][0]})
            a = min(int((bar["from"] - origin) / span * TEXT_WIDTH), TEXT_WIDTH - 1)
            b = max(int(round((bar["to"] - origin) / span * TEXT_WIDTH)), a + 1)
            for c in range(a, min(b, TEXT_WIDTH)):
                text[c] = KINDS[bar["kind"]][1]
        geometry["rows"].append({"y": TOP + i * ROW, "label": row["label"], "number": row.get("number"),
                                 "bars": bars, "text": "".join(text)})
    geometry["legend"] = [{"kind": k, "fill": v[0], "char": v[1], "text": v[2]} for k, v in KINDS.items() if k in used]
    geometry["restarts"] = [{"x": x(m["at"]), "label": m["label"],
                             "time": datetime.datetime.fromtimestamp(m["at"]).strftime("%H:%M:%S")} for m in marks]
    step = tick_step(span)
    t = 0
    while t <= span:
        geometry["ticks"].append({"x": round(PLOT_LEFT + t * scale, 1), "label": "%d:%02d" % divmod(int(t), 60)})
        t += step
    return geometry


def tick_step(seconds):
    """Seconds between two marks of the axis: at most about ten marks, however long."""
    for step in (5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200):
        if seconds / step <= 10:
            return step
    return int(-(-seconds // (10 * 3600))) * 3600


def rehearsal_rows(entries, clock, log, label, title):
    """The rows of a rehearsal: one per entry from the windows it observed, the engine's
    row (its runs, less the entries, with the log's countdowns and pauses), Wine's row
    (boots and restarts) and the rehearsal's row (its gates). label(entry) and
    title(entry, seconds) name an entry's row and bar."""
    windows = {}
    for window in clock["windows"]:
        windows.setdefault(window["entry"], []).append(window)
    rows = []
    entry_spans = []
    for entry in entries:
        bars = []
        for window in windows.get(entry["number"], []):
            bars.append({"from": window["from"], "to": window["to"], "kind": entry["result_kind"],
                         "title": title(entry, window["to"] - window["from"])})
            entry_spans.append((window["from"], window["to"]))
        rows.append({"label": label(entry), "number": entry["number"], "bars": bars})
    engine, wine, gates = [], [], []
    ended = clock["ended"]
    for boot in clock["boots"]:
        up = boot.get("engine_started")
        down = boot.get("engine_ended")
        held = boot.get("held")
        began = boot["started"]
        until = held or ended
        if up is not None:
            wine.append({"from": began, "to": up, "kind": "boot", "title": "boot %d: Wine starting" % boot["boot"]})
            engine.append({"from": up, "to": down or until, "kind": "engine",
                           "title": "boot %d: the engine" % boot["boot"]})
            if (down or until) < until:
                wine.append({"from": down, "to": until, "kind": "restart",
                             "title": "boot %d: Wine ending the session" % boot["boot"]})
        else:
            wine.append({"from": began, "to": until, "kind": "boot", "title": "boot %d: Wine (no engine)" % boot["boot"]})
        if held is not None:
            gates.append({"from": held, "to": boot.get("released") or ended, "kind": "gate",
                          "title": "restart %d: the rehearsal reading the machine" % boot["boot"]})
    spans = [(kind, a, b) for kind, a, b in log_spans(log)]
    engine = cut(engine, entry_spans + [(a, b) for _, a, b in spans])
    for kind, a, b in spans:
        engine.append({"from": a, "to": b, "kind": kind,
                       "title": "the engine's %s" % ("restart countdown" if kind == "countdown" else "20-second pause")})
    rows.append({"label": "The engine", "number": None, "bars": engine})
    rows.append({"label": "Wine (boots, restarts)", "number": None, "bars": wine})
    if gates:
        rows.append({"label": "Rehearsal (not the line's)", "number": None, "bars": gates})
    marks = [{"at": boot["held"], "label": "restart %d" % boot["boot"]} for boot in clock["boots"] if boot.get("held")]
    return rows, marks


def gate_seconds(clock):
    return sum((boot.get("released") or clock["ended"]) - boot["held"] for boot in clock["boots"] if boot.get("held"))
