"""Many lists on many machines at once: scripts/vpc rehearse LIST... with several
architectures and families, its cells, its scheduler and its index page."""

import fcntl
import json
import os
import re
import signal
import subprocess
import sys
import threading
import time
import xml.etree.ElementTree as ET

import pytest

from browser import chromium
from conftest import REPO, vpc
from vpc import check, cli, junit, matrix, rehearse, report

VPC = os.path.join(REPO, "scripts", "vpc")


def hexless(folder):
    """A cell's folder named without the six hex digits of its list's place."""
    name = os.path.basename(folder)
    return name[:name.rindex("-")]


def touch_lists(tmp, *paths):
    for path in paths:
        os.makedirs(os.path.dirname(os.path.join(tmp, path)), exist_ok=True)
        open(os.path.join(tmp, path), "w").close()


LONG = "L" * 236  # a folder's name that fits, but not with "-win32-nt-abcdef.log" after it
# (case, lists, --arch texts, --family texts, --out, a place mark for every list or None,
# the cells' folders without their place's hex digits or the refusal, the machines left
# out); the lists are files made in tmp, and link/ leads to a/.
PLANS = [
    ("one list on both architectures", ["a/RUN.NUV"], ["win32,win64"], ["nt"], None, None,
     ["a-win32-nt", "a-win64-nt"], []),
    ("a 64-bit 9x PC left out", ["a/RUN.NUV"], ["win32", "win64"], ["nt,9x"], None, None,
     ["a-win32-nt", "a-win32-9x", "a-win64-nt"], ["win64-9x"]),
    ("a list given twice, once through a link, and names given twice",
     ["a/RUN.NUV", "a/RUN.NUV", "link/RUN.NUV", "b/Beta.nuv"], ["win32", "win32,win32"], ["9x", "nt"], None, None,
     ["a-win32-9x", "a-win32-nt", "Beta-win32-9x", "Beta-win32-nt"], []),
    ("lists of one name in two places, into --out", ["custA/VELK/RUN.NUV", "custB/VELK/RUN.NUV"], ["win64"], ["nt"],
     "out", None, ["VELK-win64-nt", "VELK-win64-nt"], []),
    ("two places of the same six hex digits", ["custA/VELK/RUN.NUV", "custB/VELK/RUN.NUV"], ["win64"], ["nt"],
     None, "abcdef", "would share the folder", None),
    ("only a 64-bit 9x PC", ["a/RUN.NUV", "b/Beta.nuv"], ["win64"], ["9x"], None, None, matrix.NT_ONLY, None),
    ("a name too long for a folder", ["a/RUN.NUV", LONG + "/RUN.NUV"], ["win32"], ["nt"], None, None, "too long", None),
]


@pytest.mark.native
@pytest.mark.parametrize("case, lists, archs, families, out, mark, folders, dropped", PLANS, ids=[p[0] for p in PLANS])
def test_cells_are_every_list_on_every_machine_each_in_a_folder_of_its_own(tmp_path, monkeypatch, case, lists, archs,
                                                                            families, out, mark, folders, dropped):
    t = str(tmp_path)
    touch_lists(t, "a/RUN.NUV", "b/Beta.nuv", "custA/VELK/RUN.NUV", "custB/VELK/RUN.NUV", LONG + "/RUN.NUV")
    os.symlink(t + "/a", t + "/link")
    if mark:
        monkeypatch.setattr(cli, "place_mark", lambda path: mark)
    given = matrix.requested([os.path.join(t, path) for path in lists], [cli.names_of(cli.ARCHS)(a) for a in archs],
                             [cli.names_of(cli.FAMILIES)(f) for f in families])
    out = out and os.path.join(t, out)
    if isinstance(folders, str):
        with pytest.raises(vpc.VpcError, match=folders):
            matrix.plan(*given, out)
        return
    plan = matrix.plan(*given, out)
    assert [hexless(cell.folder) for cell in plan.cells] == folders and plan.dropped == dropped
    # Each cell's folder is its own rehearsal's, or one of that name in --out beside the index.
    for cell in plan.cells:
        default = cli.rehearsal_out(cell.run_list, cell.arch, cell.family)
        assert cell.folder == (os.path.join(out, os.path.basename(default)) if out else default)
    assert len(set(plan.folders)) == len(plan.folders)
    if out:
        assert plan.index == os.path.join(out, "index")
    else:
        assert re.fullmatch(re.escape(cli.REHEARSAL_OUT + os.sep) + "index-[0-9a-f]{6}", plan.index)
        assert matrix.plan(*given, None).index == plan.index
        assert matrix.plan(given[0][:1], given[1][:1], given[2][:1], None).index != plan.index


@pytest.mark.native
def test_the_index_shows_each_cells_outcome_time_and_report_or_why_it_has_none(tmp_path):
    t = str(tmp_path)
    touch_lists(t, "alpha/RUN.NUV", "beta/RUN.NUV")
    plan = matrix.plan([t + "/alpha/RUN.NUV", t + "/beta/RUN.NUV"], ["win32", "win64"], ["nt"], t + "/out")
    held = report.prepare_out(plan.index)
    os.makedirs(plan.index + "/logs")
    ran = {}
    # Finished; failed; refused without a report; killed, leaving another run's report.
    for cell, code, outcome, seconds in zip(plan.cells, (0, 1, 2, -15), ("finished without errors", "failed", None,
                                                                          "finished without errors"), (65, 12, 0, 5)):
        log = os.path.join(plan.index, "logs", os.path.basename(cell.folder) + ".log")
        with open(log, "w") as f:
            f.write("a first line\n" + ("rehearse: the check found errors\n\n" if code == 2 else ""))
        if outcome:
            os.makedirs(cell.folder)
            with open(os.path.join(cell.folder, "report.json"), "w") as f:
                json.dump({"outcome": outcome, "outcome_kind": "done" if code < 1 else "failed",
                           "total": report.duration_text(seconds), "total_seconds": seconds,
                           "rehearsal": {"token": "another" if code < 0 else cell.folder}}, f)
        ran[cell] = matrix.Ran(code, log, cell.folder, None)
    model = matrix.index_model(plan, {cell: matrix.cell_facts(cell, ran[cell], plan.index) for cell in plan.cells},
                               None, 80.0, 2, t + "/src")
    page = matrix.write_index(model, plan.index)
    held.close()
    assert (model["exit_code"], model["outcome"]) == (
        2, "1 of 4 rehearsals finished without errors; 1 failed; 2 made no report")
    assert [(row["name"], [c["machine"] for c in row["cells"]]) for row in model["rows"]] == [
        ("alpha", ["win32-nt", "win64-nt"]), ("beta", ["win32-nt", "win64-nt"])]
    cells = [cell for row in model["rows"] for cell in row["cells"]]
    assert [(c["outcome"], c["total"], c["last_line"]) for c in cells] == [
        ("finished without errors", "1 min 05 s", None), ("failed", "12 s", None),
        ("ended without a report (exit code 2)", "", "rehearse: the check found errors"),
        ("ended without a report (ended by SIGTERM)", "", "a first line")]
    # Each link relative to the index's folder, to the report or to the output of a
    # rehearsal that made none, on the page as in index.json.
    with open(page, encoding="utf-8") as f:
        shown = re.findall(r'<td class="cell ([\w-]+)" data-machine="([\w-]+)">(.*?)</td>', f.read(), re.S)
    for cell, facts, (kind, machine, text) in zip(plan.cells, cells, shown):
        link = facts["report"] or facts["log"]
        assert os.path.normpath(os.path.join(plan.index, link)) == (
            os.path.join(cell.folder, "report.html") if facts["report"] else ran[cell].log)
        assert (kind, machine) == (facts["outcome_kind"], facts["machine"]) and facts["outcome"] in text
        assert 'href="%s"' % link in text and not os.path.isabs(link)
    with open(os.path.join(plan.index, "index.json")) as f:
        assert json.load(f) == model
    with open(os.path.join(REPO, "docs", "many-lists.md"), encoding="utf-8") as f:
        described = set(re.findall(r"`(\w+)`", "".join(line for line in f if line.startswith("| `"))))
    assert set(model) | set(model["machines"][0]) | set(model["rows"][0]) | set(cells[0]) <= described
    # CI's view: a test case per cell, failed unless it finished.
    target = junit.JUnitFile(t + "/junit.xml")
    target.write({"title": model["title"], "total_seconds": model["seconds"]}, matrix.junit_cases(model, plan.index))
    assert [[v.get("message") for v in case] for case in ET.parse(target.path).iter("testcase")] == [
        [], ["failed"], ["ended without a report (exit code 2)"], ["ended without a report (ended by SIGTERM)"]]


# (case, the cell's exit code, whose report its folder holds (None: none), that report's
# outcome_kind; what the index shows of the cell: outcome, outcome_kind, finished)
FACTS = [
    ("finished", 0, "own", "done", "finished without errors", "done", True),
    ("failed", 1, "own", "failed", "failed", "failed", False),
    ("refused while another run wrote there", 2, "another", "done", "ended without a report (exit code 2)",
     "no-report", False),
    ("exit code 0 beside an earlier version's report", 0, "no token", "done", "ended without a report (exit code 0)",
     "no-report", False),
    ("exit code 0 without a report", 0, None, None, "ended without a report (exit code 0)", "no-report", False),
    ("exit code 2 though its report says finished", 2, "own", "done",
     "ended with exit code 2 (the rehearsal could not do its work)", "failed", False),
    ("killed after its report said finished", -9, "own", "done", "ended by SIGKILL", "failed", False),
]


@pytest.mark.native
@pytest.mark.parametrize("case, code, whose, kind, outcome, shown, finished", FACTS, ids=[f[0] for f in FACTS])
def test_a_cell_is_shown_with_its_own_report_and_exit_code(tmp_path, case, code, whose, kind, outcome, shown,
                                                           finished):
    cell = matrix.Cell("list", "list", "win32", "nt", str(tmp_path / "cell"))
    os.makedirs(cell.folder)
    if whose:
        with open(os.path.join(cell.folder, "report.json"), "w") as f:
            json.dump({"outcome": "finished without errors" if kind == "done" else "failed", "outcome_kind": kind,
                       "total": "3 s", "total_seconds": 3,
                       "rehearsal": {} if whose == "no token" else {"token": whose}}, f)
    facts = matrix.cell_facts(cell, matrix.Ran(code, None, "own", None), str(tmp_path))
    assert (facts["outcome"], facts["outcome_kind"], facts["finished"]) == (outcome, shown, finished)
    assert bool(facts["report"]) == (whose == "own")


# (the cells' exit codes and whether each finished, None for one not started; the signal
# that interrupted; exit code)
EXITS = [([0, 0], None, 0), ([0, 1], None, 1), ([0, -15], None, 1), ([1, 2, 0], None, 2), ([2, None], "Ctrl-C", 1),
         ([1, "0 without its report"], None, 2)]
@pytest.mark.native
@pytest.mark.parametrize("codes, interrupted, code", EXITS)
def test_the_exit_code_is_0_only_when_every_rehearsal_finished(codes, interrupted, code):
    cells = [{"exit_code": 0 if isinstance(c, str) else c, "finished": c == 0} for c in codes]
    assert matrix.exit_code(cells, interrupted) == code


# A rehearsal of the scheduler's tests: notes its start in a shared file, waits until the
# test lets it go (a minute at most), notes its end and exits with the code given; a
# SIGTERM it notes too.
CHILD = """
import fcntl, os, signal, sys, time
events, name, code = sys.argv[1], sys.argv[2], int(sys.argv[3])
def note(what):
    with open(events, "a") as f:
        fcntl.flock(f, fcntl.LOCK_EX)
        f.write("%s %s\\n" % (what, name))
signal.signal(signal.SIGTERM, lambda *_: (note("TERM"), sys.exit(7)))
note("+")
deadline = time.monotonic() + 60
while not os.path.exists(events + "." + name):
    if time.monotonic() > deadline:
        note("late")
        sys.exit(9)
    time.sleep(0.01)
note("-")
sys.exit(code)
"""


def fake_cells(tmp, count):
    os.makedirs(os.path.join(tmp, "logs"))
    return [matrix.Cell("list%d" % n, "list%d" % n, "win32", "nt", os.path.join(tmp, "cell%d" % n))
            for n in range(count)]


def noted(events):
    """[[what, name]] of the fake rehearsals' notes so far."""
    try:
        with open(events) as f:
            return [line.split() for line in f]
    except FileNotFoundError:
        return []


def steer(events, steps, failures):
    """Runs steps [(condition on the noted lines, action)] one by one in a thread of its own."""
    def run():
        for condition, action in steps:
            deadline = time.monotonic() + 60
            while not condition(noted(events)):
                if time.monotonic() > deadline:
                    failures.append("waited in vain: %s" % noted(events))
                    return
                time.sleep(0.01)
            action(noted(events))
    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    return thread


@pytest.mark.native
def test_at_most_n_rehearsals_run_at_once(tmp_path):
    t, failures = str(tmp_path), []
    events = os.path.join(t, "events")
    cells = fake_cells(t, 5)
    command = lambda cell: [sys.executable, "-c", CHILD, events, cell.name, str(int(cell.name[-1]) % 3)]  # noqa: E731

    def let_go(n):
        return lambda lines: open(events + "." + [name for what, name in lines if what == "+"][n], "w").close()
    # Each time two run (or all that are left), one is let go: a third never starts beside them.
    thread = steer(events, [(lambda lines, n=n: sum(what == "+" for what, _ in lines) >= min(2 + n, 5), let_go(n))
                            for n in range(5)], failures)
    results, interrupted = matrix.run_cells(cells, 2, command, os.path.join(t, "logs"))
    thread.join()
    assert not failures and interrupted is None
    running, most = 0, 0
    for what, _ in noted(events):
        running += {"+": 1, "-": -1}[what]
        most = max(most, running)
    assert most == 2
    assert [results[cell].code for cell in cells] == [0, 1, 2, 0, 1]
    assert all(os.path.isfile(results[cell].log) for cell in cells)


def gone(pid):
    """Waits until a process has ended (a zombie has); False after a minute."""
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        try:
            with open("/proc/%d/stat" % pid) as f:
                if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                    return True
        except FileNotFoundError:
            return True
        time.sleep(0.01)
    return False


@pytest.mark.native
def test_a_rehearsal_whose_output_cannot_be_written_fails_alone(tmp_path):
    t = str(tmp_path)
    cells = fake_cells(t, 2)
    cells[0] = cells[0]._replace(folder=os.path.join(t, "L" * 300))
    results, _ = matrix.run_cells(cells, 2, lambda cell: [sys.executable, "-c", "pass"], os.path.join(t, "logs"))
    assert [results[cell].code for cell in cells] == [2, 0]
    assert "could not be written: File name too long" in matrix.cell_facts(cells[0], results[cells[0]], t)["last_line"]


# A rehearsal that ignores SIGTERM (noting it), with two programs of its own started
# under it, one in a session of its own as Wine's server is.
STUBBORN = """
import signal, subprocess, sys, time
events, name = sys.argv[1], sys.argv[2]
def note(what):
    with open(events, "a") as f:
        f.write("%s %s\\n" % (what, name))
signal.signal(signal.SIGTERM, lambda *_: note("TERM"))
note("+ %d %d" % tuple(subprocess.Popen(["sleep", "300"], start_new_session=away).pid for away in (False, True)))
time.sleep(300)
"""
# (case, the grace period in seconds, the signals this process gets)
STOPS = [("a second signal", 600, 2), ("the grace period over", 0.5, 1)]


@pytest.mark.native
@pytest.mark.parametrize("case, grace, signals", STOPS, ids=[s[0] for s in STOPS])
def test_a_rehearsal_that_ignores_sigterm_is_killed_with_what_it_started(tmp_path, monkeypatch, case, grace, signals):
    t, failures = str(tmp_path), []
    events = os.path.join(t, "events")
    cells = fake_cells(t, 1)
    monkeypatch.setattr(matrix, "GRACE", grace)
    term = lambda lines: os.kill(os.getpid(), signal.SIGTERM)  # noqa: E731
    thread = steer(events, [(lambda lines: lines, term)] + [(lambda lines: ["TERM", "list0"] in lines, term)] * (
        signals - 1), failures)
    results, interrupted = matrix.run_cells(cells, 1, lambda cell: [sys.executable, "-c", STUBBORN, events, cell.name],
                                            os.path.join(t, "logs"))
    thread.join()
    assert not failures and interrupted == "SIGTERM" and results[cells[0]].code == -signal.SIGKILL
    assert ["TERM", "list0"] in noted(events) and all(gone(int(pid)) for pid in noted(events)[0][1:3])


@pytest.mark.native
def test_sigterm_is_passed_to_the_rehearsals_running_and_no_other_starts(tmp_path):
    t, failures = str(tmp_path), []
    events = os.path.join(t, "events")
    cells = fake_cells(t, 3)
    command = lambda cell: [sys.executable, "-c", CHILD, events, cell.name, "0"]  # noqa: E731
    before = signal.getsignal(signal.SIGTERM)
    thread = steer(events, [(lambda lines: len(lines) == 2, lambda lines: os.kill(os.getpid(), signal.SIGTERM))],
                   failures)
    results, interrupted = matrix.run_cells(cells, 2, command, os.path.join(t, "logs"))
    thread.join()
    assert not failures and interrupted == "SIGTERM"
    assert sorted(noted(events)) == [["+", "list0"], ["+", "list1"], ["TERM", "list0"], ["TERM", "list1"]]
    assert [results[cell].code for cell in cells] == [7, 7, None]
    assert signal.getsignal(signal.SIGTERM) is before


# (case, the words after the verb, files made before {path: text}, what stderr says); lists
# a/ and b/ and sources src/ exist; {cell} is the folder of a/ on win32-nt.
REFUSALS = [
    ("several lists on a 64-bit 9x PC", ["{t}/a/RUN.NUV", "{t}/b/RUN.NUV", "--sources", "{t}/src", "--arch", "win64",
                                         "--family", "9x"], {}, "NT family only"),
    ("--out a report's folder", ["{t}/a/RUN.NUV", "{t}/b/RUN.NUV", "--sources", "{t}/src", "--out", "{t}/report"], {},
     "is a report's folder"),
    ("--junit inside the index", ["{t}/a/RUN.NUV", "--arch", "win32,win64", "--sources", "{t}/src", "--out",
                                  "{t}/out", "--junit", "{t}/out/index/junit.xml"], {}, "lies inside"),
    ("an architecture not known", ["{t}/a/RUN.NUV", "--arch", "win32,win16", "--sources", "{t}/src"], {},
     "choose from win32, win64"),
    ("a list inside another's rehearsal's folder", ["{t}/a/RUN.NUV", "{t}/out/{cell}/VELK/RUN.NUV", "--sources",
                                                    "{t}/src", "--out", "{t}/out"],
     {"out/{cell}/VELK/RUN.NUV": "", "out/{cell}/VELK/nuv.log": "the PC's log"}, "lies inside the rehearsal's folder"),
    ("a file of the user's in the index's logs", ["{t}/a/RUN.NUV", "{t}/b/RUN.NUV", "--sources", "{t}/src", "--out",
                                                  "{t}/out"],
     {"out/index/" + report.OUTPUT_MARK: "made: logs\n", "out/index/logs/{cell}.log": "", "out/index/logs/mine.txt":
      "mine"}, "holds mine.txt, which this tool did not write"),
]


def files_in(folder):
    return {os.path.relpath(os.path.join(top, name), folder): open(os.path.join(top, name)).read()
            for top, _, names in os.walk(folder) for name in names}


@pytest.mark.native
@pytest.mark.parametrize("case, words, files, says", REFUSALS, ids=[r[0] for r in REFUSALS])
def test_several_rehearsals_refused_before_any_starts(tmp_path, monkeypatch, capsys, case, words, files, says):
    t = str(tmp_path)
    touch_lists(t, "a/RUN.NUV", "b/RUN.NUV")
    os.makedirs(t + "/src/C")
    os.makedirs(t + "/report")
    open(os.path.join(t, "report", report.OUTPUT_MARK), "w").close()
    cell = os.path.basename(cli.rehearsal_out(t + "/a/RUN.NUV", "win32", "nt"))
    files = {path.format(cell=cell): text for path, text in files.items()}
    for path, text in files.items():
        touch_lists(t, path)
        with open(os.path.join(t, path), "w") as f:
            f.write(text)
    monkeypatch.setattr(matrix, "build_checker", lambda: pytest.fail("built before the refusal"))
    code = cli.main(["rehearse"] + [w.format(t=t, cell=cell) for w in words])
    err = capsys.readouterr().err
    assert code == 2 and says in err and "Traceback" not in err, err
    assert files_in(t) == dict({"report/" + report.OUTPUT_MARK: "", "a/RUN.NUV": "", "b/RUN.NUV": ""}, **files)


# A cell's rehearsal in the tests of the whole run: its list's first word is its exit code,
# and "report" writes a report that finished, bearing the token given or "another".
FAKE = """
import json, os, sys
run_list, out = sys.argv[1], sys.argv[2]
with open(run_list) as f:
    how = f.read().split()
os.makedirs(out, exist_ok=True)
if "report" in how or "another" in how:
    with open(os.path.join(out, "report.json"), "w") as f:
        json.dump({"outcome": "finished without errors", "outcome_kind": "done", "total": "3 s", "total_seconds": 3,
                   "rehearsal": {"token": "another" if "another" in how else os.environ["VELK_REHEARSAL_TOKEN"]}}, f)
sys.exit(int(how[0]))
"""


def fake_run(t, monkeypatch, lists):
    """Lists {name: its words} made in t and given at once with fake rehearsals; returns
    (exit code, index.json, what was written to stdout and stderr)."""
    for name, words in lists.items():
        touch_lists(t, os.fsdecode(name) + "/RUN.NUV")
        with open(os.path.join(t, os.fsdecode(name), "RUN.NUV"), "w") as f:
            f.write(words)
    os.makedirs(t + "/src/C", exist_ok=True)
    monkeypatch.setattr(matrix, "rehearse_command", lambda sources, options: lambda cell: [
        sys.executable, "-c", FAKE, cell.run_list, cell.folder])
    monkeypatch.setattr(matrix, "ensure_built", lambda arch, log: None)
    code = cli.main(["rehearse"] + [os.path.join(t, os.fsdecode(name), "RUN.NUV") for name in lists] +
                    ["--sources", t + "/src", "--out", t + "/out", "--jobs", "2"])
    with open(t + "/out/index/index.json") as f:
        return code, json.load(f)


@pytest.mark.native
def test_a_cell_counts_as_finished_only_with_exit_code_0_and_its_own_report(tmp_path, monkeypatch, capsys):
    t = str(tmp_path)
    monkeypatch.setattr(matrix, "build_checker", lambda: True)
    lists = {"a": "0 report", "b": "2 another", "c": "0", os.fsdecode(b"\xff<b>"): "0 report"}
    for again in (False, True):  # the second run into the same --out takes the first's logs for its own
        code, index = fake_run(t, monkeypatch, lists)
        shown = [(cell["outcome"], cell["finished"]) for row in index["rows"] for cell in row["cells"]]
        assert (code, shown) == (2, [
            ("finished without errors", True), ("ended without a report (exit code 2)", False),
            ("ended without a report (exit code 0)", False), ("finished without errors", True)])
        out = capsys.readouterr().out
        assert "\ufffd<b> (%s/\ufffd<b>/RUN.NUV)" % t in out


@pytest.mark.native
def test_a_signal_during_the_build_ends_it_and_starts_no_rehearsal(tmp_path, monkeypatch, capsys):
    t, failures = str(tmp_path), []
    building = os.path.join(t, "building")
    monkeypatch.setattr(matrix, "build_checker", lambda: subprocess.run([
        sys.executable, "-c", "import os, sys, time; open(sys.argv[1], 'w').write('%d' % os.getpid()); time.sleep(60); "
        "open(sys.argv[1], 'a').write(' built')", building]).returncode == 0)
    thread = steer(building, [(lambda lines: lines, lambda lines: os.kill(os.getpid(), signal.SIGTERM))], failures)
    code, index = fake_run(t, monkeypatch, {"a": "0 report", "b": "0 report"})
    thread.join()
    assert not failures and (code, index["interrupted"]) == (1, "SIGTERM")
    assert {cell["outcome"] for row in index["rows"] for cell in row["cells"]} == {"not started (interrupted)"}
    assert len(noted(building)[0]) == 1 and gone(int(noted(building)[0][0]))  # ended, not built
    assert "Traceback" not in capsys.readouterr().err


@pytest.mark.native
def test_one_list_on_the_one_machine_left_is_one_rehearsal_alone(tmp_path, monkeypatch, capsys):
    t, ran = str(tmp_path), []
    touch_lists(t, "a/RUN.NUV")
    os.makedirs(t + "/src/C")
    monkeypatch.setattr(rehearse, "rehearse", lambda run_list, sources, out, **how: ran.append(
        (out, how["arch"], how["family"])) or 0)
    assert cli.main(["rehearse", t + "/a/RUN.NUV", "--sources", t + "/src", "--arch", "win64", "--family", "nt,9x",
                     "--out", t + "/out"]) == 0
    assert ran == [(t + "/out", "win64", "nt")] and "win64-9x left out" in capsys.readouterr().err


# Two small lists of plain commands, so that the sources need no package: one finishes,
# one fails at its first entry.
LISTS = {
    "alpha": "OSTREL.DLL, C:\\windows\\system32\\cmd.exe /c mkdir C:\\VelkAlpha, , 60\r\n"
             "OSTREL.DLL, C:\\windows\\system32\\reg.exe add HKLM\\Software\\VelkAlpha /v Made /d yes /f, , 60\r\n",
    "beta": "OSTREL.DLL, C:\\windows\\system32\\cmd.exe /c exit 3, , 60\r\n",
}
MACHINES = ["win32-nt", "win64-nt"]


class Rehearsed:
    """The two lists rehearsed on the two machines: the parent folder of the rehearsals
    (out), the lists by name, and what scripts/vpc said."""

    def __init__(self, folder):
        self.folder = folder
        self.out = os.path.join(folder, "out")
        self.lists = {name: os.path.join(folder, "lists", name, "RUN.NUV") for name in LISTS}
        with open(os.path.join(folder, "result.json")) as f:
            self.code, self.stdout, self.stderr = json.load(f)
        if not os.path.exists(os.path.join(self.out, "index", "index.json")):
            pytest.fail("no index (exit code %d):\n%s%s" % (self.code, self.stdout, self.stderr))
        with open(os.path.join(self.out, "index", "index.json")) as f:
            self.index = json.load(f)


@pytest.fixture(scope="module")
def rehearsed(tmp_path_factory):
    """Both lists on a 32-bit and a 64-bit PC of the NT family, two at once, made once for
    the whole run, whichever test process asks first; the others wait for it."""
    for arch in ("win32", "win64"):
        able, why = vpc.can_run(arch)
        if not able:
            pytest.skip("a %s PC is needed: %s" % (arch, why))
    shared = tmp_path_factory.getbasetemp()
    if os.environ.get("PYTEST_XDIST_WORKER"):
        shared = shared.parent
    folder = str(shared / "many-lists")
    with open(folder + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(folder, "result.json")):
            os.makedirs(os.path.join(folder, "sources", "C"), exist_ok=True)
            for name, text in LISTS.items():
                os.makedirs(os.path.join(folder, "lists", name), exist_ok=True)
                with open(os.path.join(folder, "lists", name, "RUN.NUV"), "w", newline="") as f:
                    f.write(text)
            result = subprocess.run(
                [sys.executable, VPC, "rehearse"] + [os.path.join(folder, "lists", name, "RUN.NUV") for name in LISTS] +
                ["--sources", os.path.join(folder, "sources"), "--arch", "win32,win64", "--family", "nt", "--jobs", "2",
                 "--time-limit", "600", "--out", os.path.join(folder, "out"), "--junit",
                 os.path.join(folder, "junit.xml")],
                stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=1800)
            with open(os.path.join(folder, "result.json"), "w") as f:
                json.dump([result.returncode, result.stdout, result.stderr], f)
    return Rehearsed(folder)


def test_two_lists_on_two_machines_make_one_index_of_four_reports(rehearsed, tmp_path):
    done = rehearsed
    assert done.code == 1, done.stdout + done.stderr
    assert done.index["outcome"] == "2 of 4 rehearsals finished without errors; 2 failed"
    for what in ("started", "ended"):
        assert len(re.findall(r"^rehearse: \d of 4 %s: " % what, done.stderr, re.M)) == 4, done.stderr
    # Each cell's folder holds its rehearsal's own report, as one rehearsal alone writes it.
    cells = {}
    for row in done.index["rows"]:
        for cell in row["cells"]:
            cells[(row["name"], cell["machine"])] = cell
            with open(os.path.join(cell["folder"], "report.json")) as f:
                model = json.load(f)
            assert (model["machine"]["arch"], model["machine"]["family"]) == (cell["arch"], cell["family"])
            assert model["machine"]["run_list"] == done.lists[row["name"]]
            assert (cell["outcome"], cell["total"]) == (model["outcome"], model["total"])
            assert os.path.dirname(cell["folder"]) == done.out
    assert sorted(cells) == [(name, machine) for name in LISTS for machine in MACHINES]
    assert {(name, c["outcome"], c["exit_code"]) for (name, _), c in cells.items()} == {
        ("alpha", "finished without errors", 0), ("beta", "failed", 1)}

    # The page in a browser: a row per list, a column per machine, each cell's outcome and
    # time, its link leading to that cell's report.
    dom = chromium(os.path.join(done.out, "index", "index.html"), str(tmp_path), "--dump-dom")
    assert re.findall(r'<th class="machine">([^<]*)</th>', dom) == MACHINES
    shown = re.findall(r'<tr class="list">\s*<th scope="row">(\w+)<div class="path">([^<]*)</div></th>(.*?)</tr>', dom,
                       re.S)
    assert [(name, path) for name, path, _ in shown] == [(name, done.lists[name]) for name in LISTS]
    for name, _, row in shown:
        found = re.findall(r'<td class="cell (\w+)" data-machine="([\w-]+)">\s*<a class="outcome-text" href="([^"]+)">'
                           r'([^<]+)</a><br><span class="total">([^<]+)</span>', row)
        assert [machine for _, machine, _, _, _ in found] == MACHINES
        for kind, machine, link, outcome, total in found:
            cell = cells[(name, machine)]
            assert (kind, outcome, total) == (cell["outcome_kind"], cell["outcome"], cell["total"])
            assert os.path.normpath(os.path.join(done.out, "index", link)) == os.path.join(cell["folder"],
                                                                                         "report.html")
    assert "http://" not in dom and "https://" not in dom

    cases = ET.parse(os.path.join(done.folder, "junit.xml")).getroot().iter("testcase")
    assert sorted((c.get("name").split(":")[0], [v.get("message") for v in c]) for c in cases) == [
        ("alpha on win32-nt", []), ("alpha on win64-nt", []), ("beta on win32-nt", ["failed"]),
        ("beta on win64-nt", ["failed"])]


def test_one_page_of_the_rehearsals_of_many_lists(rehearsed, tmp_path):
    """scripts/vpc fleet over the rehearsals' folder: each list with its two PCs, in a browser."""
    out = tmp_path / "fleet"
    result = subprocess.run([sys.executable, VPC, "fleet", rehearsed.out, "--out", str(out)], capture_output=True,
                            text=True, timeout=600)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("4 PCs: 2 finished, 2 failed, 0 did not finish; 0 could not be read.")
    dom = chromium(str(out / "fleet.html"), str(tmp_path), "--dump-dom")
    counts = dict((what, int(n)) for n, what in re.findall(r'<strong>(\d+)</strong> ([A-Za-z ]+)</div>', dom))
    assert counts == {"PCs": 4, "finished": 2, "failed": 2, "did not finish": 0, "could not be read": 0}
    shown = re.findall(r'<p>(\d) PCs: (\d) finished, (\d) failed, \d did not finish\. Machines: ([^.]+)\. Rehearsed '
                       r'from <span class="path">([^<]+)</span>', dom)
    assert sorted(shown) == [("2", "0", "2", "win32 NT (1), win64 NT (1)", rehearsed.lists["beta"]),
                             ("2", "2", "0", "win32 NT (1), win64 NT (1)", rehearsed.lists["alpha"])]
    rows = re.findall(r'<tr class="entry" id="list-\w+-entry-(\d)">\s*<td>\d</td>\s*<td>OSTREL.DLL</td>\s*'
                      r'<td class="command">([^<]+)</td>\s*<td class="num ran">(\d)</td>\s*'
                      r'<td class="num failed-count[^"]*">(\d)</td>', dom)
    assert sorted((n, c, ran, failed) for n, c, ran, failed in rows) == sorted(
        [("1", "C:\\windows\\system32\\cmd.exe /c mkdir C:\\VelkAlpha", "2", "0"),
         ("2", "C:\\windows\\system32\\reg.exe add HKLM\\Software\\VelkAlpha /v Made /d yes /f", "2", "0"),
         ("1", "C:\\windows\\system32\\cmd.exe /c exit 3", "2", "2")])
    # The two PCs that failed, each with its report as `vpc report` makes it.
    links = re.findall(r'<tr class="pc failed">\s*<td class="path"><a href="([^"]+)">', dom)
    assert len(links) == 2
    for link in links:
        with open(out / link, encoding="utf-8") as page:
            assert "exit 3" in page.read()
    assert "http://" not in dom and "https://" not in dom


@pytest.mark.native
def test_the_check_program_is_built_by_one_rehearsal_at_a_time(tmp_path, monkeypatch):
    held = []

    def build(step, **kwargs):
        with open(check.BUILD_LOCK) as other:
            try:
                fcntl.flock(other, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except BlockingIOError:
                held.append(step)
        return subprocess.CompletedProcess(step, 0)
    monkeypatch.setattr(check, "BUILD_LOG", str(tmp_path / "build.log"))
    monkeypatch.setattr(check, "BUILD_LOCK", str(tmp_path / "build.lock"))
    monkeypatch.setattr(check.subprocess, "run", build)
    assert check.build_checker() and held and held[-1][:2] == ["cmake", "--build"]
