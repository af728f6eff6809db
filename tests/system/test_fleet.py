"""scripts/vpc fleet: many PCs' copies of C:\\VELK read into one store and one page, on
small synthetic shares, without Wine."""

import csv
import fcntl
import io
import json
import os
import shutil
import sqlite3
import zipfile

import pytest

from conftest import REPO
from test_report_output import files_under
from vpc import cli, fleet, fleet_store

pytestmark = pytest.mark.native

ENTRIES = (b"OSTREL.DLL, C:\\VELK\\APPS\\A\\setup.exe /s, C:\\VELK\\APPS\\A, 300",
           b"QUILLAN.DLL, C:\\VELK\\APPS\\B\\b.msi, , 600",
           b"OSTREL.DLL, C:\\windows\\system32\\cmd.exe /c exit 0, , 60")
FAILURE = b"Error returned from CreateProcess on task 'C:\\VELK\\APPS\\B\\b.msi', exit code: 1603"


def run_list(stamps, entries=ENTRIES):
    """A list with stamps: stamps[i] is (start, stop, clean) seconds after 09:00:00, or
    (start,) for an entry begun only, or () for one not reached."""
    lines = []
    for entry, times in zip(entries, list(stamps) + [()] * len(entries)):
        fields = [entry, b""]
        for name, at in zip((b"START", b"STOP", b"CLEAN"), times):
            fields.append(b"%s 09:%02d:%02d" % (name, at // 60, at % 60))
        lines.append(b", ".join(fields) if times else entry)
    return b"\r\n".join(lines) + b"\r\n"


def pc_files(kind, took=(10, 100, 2), entries=ENTRIES):
    """RUN.NUV and the markers of a PC that finished, failed at its second entry, or
    stopped in its first."""
    done, at = [], 0
    for seconds in took:
        done.append((at, at + seconds, at + seconds))
        at += seconds + 1
    if kind == "finished":
        return {"RUN.NUV": run_list(done, entries), "nuv.dun": b""}
    if kind == "failed":
        lines = run_list([done[0], (done[1][0],)], entries)
        quoted = lines.split(b"\r\n")[1]
        return {"RUN.NUV": lines, "nuv.err": FAILURE + b"\r\nInstallation Failed\r\n\t'" + quoted + b"'\r\n"}
    return {"RUN.NUV": run_list([(0,)], entries)}


def put(folder, files):
    os.makedirs(folder, exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


@pytest.fixture
def share(tmp_path):
    """Copies of every kind, and every kind of bad input."""
    root = tmp_path / "share"
    put(root / "day1" / "pc1" / "VELK", pc_files("finished", (10, 100, 2)))
    put(root / "day1" / "pc1", {"LOG": b"diskette of pc1\r\n"})
    put(root / "day1" / "pc2" / "VELK", pc_files("failed", (30, 1, 1)))
    put(root / "day1" / "pc3" / "velk", pc_files("unfinished"))
    put(root / "day1" / "pc4" / "VELK", pc_files("finished", (20, 300, 4)))
    # The list's second version: another time-out on its last entry.
    put(root / "day1" / "pc5" / "VELK", pc_files("finished", (9, 9, 9), ENTRIES[:2] + (ENTRIES[2] + b"0",)))
    with zipfile.ZipFile(root / "day2.zip", "w") as archive:
        for name, kind, took in (("pc6", "failed", (50, 1, 1)), ("pc7", "finished", (40, 200, 6))):
            for file_name, data in pc_files(kind, took).items():
                archive.writestr("%s/VELK/%s" % (name, file_name), data)
        archive.writestr("pc8/VELK/nuv.err", b"copied without its list")
    rehearsal = root / "rehearsals" / "list-win64-nt-abc123"
    put(rehearsal / "VELK", pc_files("finished", (1, 2, 3)))
    # As a CI system's artefact brings it back: without its hidden mark file.
    put(rehearsal, {"a-LOG.txt": b"", "report.json": json.dumps({"kind": "rehearsal", "machine": {
        "arch": "win64", "family": "nt", "run_list": "/lists/RUN.NUV"}}).encode()})
    # Bad input: a VELK without its list, an empty list, a damaged list, two damaged ZIPs
    # and a second copy of pc2.
    put(root / "bad" / "pc9" / "VELK", {"nuv.log": b"01/01/2026 - 09:00:00 NUV: Started\r\n"})
    put(root / "bad" / "pc10" / "VELK", {"RUN.NUV": b""})
    put(root / "bad" / "pc11" / "VELK", {"RUN.NUV": b"\0" * 64})
    whole = (root / "day2.zip").read_bytes()
    (root / "bad" / "cut.zip").write_bytes(whole[:len(whole) // 2])
    (root / "bad" / "text.zip").write_bytes(b"not a zip")
    shutil.copytree(root / "day1" / "pc2", root / "bad" / "pc2-again")
    return root


def fleet_json(out):
    with open(os.path.join(out, "fleet.json"), encoding="utf-8") as f:
        return json.load(f)


def test_a_share_is_counted_per_list_and_entry_and_nothing_in_it_changes(share, tmp_path):
    before = files_under(share)
    times = {p: os.stat(os.path.join(share, p)).st_mtime_ns for p in before}
    out = tmp_path / "out"
    assert fleet.run_fleet([str(share)], str(out), stdout=io.StringIO(), stderr=io.StringIO()) == 0
    assert files_under(share) == before
    assert {p: os.stat(os.path.join(share, p)).st_mtime_ns for p in before} == times
    model = fleet_json(out)

    assert model["counts"] == {"pcs": 8, "finished": 5, "failed": 2, "unfinished": 1}
    unreadable = {os.path.relpath(u["path"].split(":")[0], share): u["why"] for u in model["unreadable"]}
    assert unreadable == {
        "day2.zip": "holds no RUN.NUV",  # its pc8
        "bad/pc9/VELK": "holds no RUN.NUV",
        "bad/pc10/VELK": "RUN.NUV holds no entry: an empty or damaged copy",
        "bad/pc11/VELK": "RUN.NUV holds nothing but NUL bytes or blanks: a damaged copy",
        "bad/cut.zip": unreadable["bad/cut.zip"],
        "bad/text.zip": unreadable["bad/text.zip"],
        "day1/pc2/VELK": "a second copy of the PC of %s" % (share / "bad" / "pc2-again" / "VELK"),
    }
    assert unreadable["bad/cut.zip"].startswith("not a readable ZIP file")
    assert unreadable["bad/text.zip"].startswith("not a readable ZIP file")

    first, second = model["lists"]
    assert (first["pcs"], first["finished"], first["failed"], first["unfinished"]) == (7, 4, 2, 1)
    assert (second["pcs"], second["finished"]) == (1, 1)
    assert first["machines"] == [{"arch": "win64", "family": "nt", "pcs": 1}]
    assert first["rehearsed_from"] == ["/lists/RUN.NUV"]
    one, two, three = first["entries"]
    # pc3 began its first entry and stopped there: that entry did not finish on it.
    assert [(e["ran"], e["failed"]) for e in (one, two, three)] == [(7, 1), (6, 2), (4, 0)]
    assert two["errors"] == {"lines": [{"line": FAILURE.decode(), "pcs": 2}, {"line": "Installation Failed", "pcs": 2}],
                             "more": 0}
    # The second entry's times on the four PCs where it was done: 2, 100, 200, 300 s.
    assert {k: two["duration"][k] for k in ("count", "median", "p95", "min", "max")} == \
        {"count": 4, "median": 100, "p95": 300, "min": 2, "max": 300}
    assert sum(two["duration"]["bins"]) == 4 and two["duration"]["bins"][0] == 1

    failed = {os.path.relpath(p["path"], share): p for p in model["failed_pcs"]}
    assert set(failed) == {"bad/pc2-again/VELK", "day1/pc3/velk", "day2.zip:pc6/VELK"}
    assert failed["day2.zip:pc6/VELK"]["entry"] == 2 and failed["day2.zip:pc6/VELK"]["result"] == "install failed"
    for pc in failed.values():
        with open(os.path.join(out, pc["report"]), encoding="utf-8") as page:
            assert pc["path"] in page.read()

    with open(os.path.join(out, "fleet.csv"), encoding="utf-8") as f:
        rows = list(csv.DictReader(f))
    assert len(rows) == 8 * 3
    assert {(r["entry"], r["result_kind"]) for r in rows if r["pc"].endswith("pc6/VELK")} == \
        {("1", "done"), ("2", "failed"), ("3", "waiting")}
    with open(os.path.join(out, "fleet.html"), encoding="utf-8") as f:
        page = f.read()
    assert FAILURE.decode().replace("'", "&#39;") in page


def test_a_second_run_reads_only_what_is_new_or_changed(share, tmp_path):
    out = str(tmp_path / "out")

    def run():
        assert fleet.run_fleet([str(share)], out, stdout=io.StringIO(), stderr=io.StringIO()) == 0
        return fleet_json(out)

    model = run()
    assert (model["inputs_found"], model["inputs_read"]) == (13, 13)
    reports = set(os.listdir(os.path.join(out, "pcs")))
    # A report cut short while being written is made again; the others are kept.
    cut = os.path.join(out, "pcs", sorted(reports)[0])
    os.remove(os.path.join(cut, "report.html"))
    model = run()
    assert (model["inputs_found"], model["inputs_read"]) == (13, 0)
    assert set(os.listdir(os.path.join(out, "pcs"))) == reports
    assert os.path.isfile(os.path.join(cut, "report.html"))

    # A change that keeps the file's size and time is seen all the same.
    err = share / "day1" / "pc2" / "VELK" / "nuv.err"
    st, was = os.stat(err), err.read_bytes()
    err.write_bytes(was.replace(b"1603", b"1618"))
    os.utime(err, ns=(st.st_atime_ns, st.st_mtime_ns))
    model = run()
    assert model["inputs_read"] == 1
    assert any("1618" in x["line"] for l in model["lists"] for e in l["entries"] for x in e["errors"]["lines"])
    err.write_bytes(was)

    # pc3 finishes, a new PC comes, a copy goes.
    put(share / "day1" / "pc3" / "velk", pc_files("finished", (11, 100, 2)))
    put(share / "day3" / "pc12" / "VELK", pc_files("finished", (12, 100, 2)))
    shutil.rmtree(share / "day1" / "pc4")
    model = run()
    assert (model["inputs_found"], model["inputs_read"]) == (13, 3)
    assert model["counts"] == {"pcs": 8, "finished": 6, "failed": 2, "unfinished": 0}
    assert not any(p["path"].endswith("pc3/velk") for p in model["failed_pcs"])
    # The report of pc3, which no longer failed, is gone; the others stay as they were.
    assert len(os.listdir(os.path.join(out, "pcs"))) == len(reports) - 1


@pytest.mark.parametrize("count, share, rank", [(1, 0.5, 0), (4, 0.5, 1), (5, 0.5, 2), (20, 0.95, 18),
                                                (21, 0.95, 19), (100, 0.95, 94)])
def test_percentiles_take_the_nearest_rank(count, share, rank):
    assert fleet.nearest_rank(count, share) == rank


def test_what_the_tool_may_not_write_is_refused(share, tmp_path):
    def vpc_fleet(*args):
        return cli.main(["fleet", str(share)] + [str(a) for a in args])

    text = tmp_path / "notes.db"
    text.write_text("mine")
    empty = tmp_path / "empty.db"
    empty.write_bytes(b"")
    other = tmp_path / "other.db"
    mine = sqlite3.connect(other)
    mine.execute("PRAGMA journal_mode = WAL")
    mine.execute("CREATE TABLE mine (x)")
    mine.commit()
    mine.close()
    before = files_under(tmp_path)
    for args in ([tmp_path / "missing"], [share, "--db", text], [share, "--db", other], [share, "--db", empty],
                 [share, "--db", share / "fleet.db"], [share, "--out", share / "day1"],
                 [share, "--out", tmp_path / "o", "--db", tmp_path / "o" / "x.db"]):
        assert cli.main(["fleet"] + [str(a) for a in args]) == 2, args
    # Not even opened as a database: no journal of SQLite's appears beside it.
    assert files_under(tmp_path) == before

    # A store of an earlier version is this tool's: read again from the inputs. One of a
    # later version, or one another run holds, is refused.
    out = tmp_path / "out"
    assert vpc_fleet("--out", out) == 0

    def schema(number):
        db = sqlite3.connect(out / "fleet.db")
        db.execute("PRAGMA user_version = %d" % number)
        db.commit()
        db.close()

    schema(0)
    assert vpc_fleet("--out", out) == 0
    assert fleet_json(out)["inputs_read"] == 13
    assert fleet_store.Store.version(str(out / "fleet.db")) == fleet_store.SCHEMA
    schema(fleet_store.SCHEMA + 1)
    later = (out / "fleet.db").read_bytes()
    assert vpc_fleet("--out", tmp_path / "out2", "--db", out / "fleet.db") == 2
    # Refused before the earlier page is emptied.
    assert vpc_fleet("--out", out) == 2 and (out / "fleet.html").exists()
    assert (out / "fleet.db").read_bytes() == later
    schema(fleet_store.SCHEMA)
    with open(out / "fleet.db", "rb") as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        assert vpc_fleet("--out", tmp_path / "out2", "--db", out / "fleet.db") == 2


def test_the_synthetic_share_of_the_benchmark_is_read_whole(tmp_path):
    """The benchmark's copies are what the measurements in docs/performance.md read."""
    share = tmp_path / "share"
    assert os.system("%s %s 1000 --first 0 2>/dev/null" % (os.path.join(REPO, "bench", "fleet-copies"), share)) == 0
    out = tmp_path / "out"
    assert fleet.run_fleet([str(share)], str(out), stdout=io.StringIO(), stderr=io.StringIO()) == 0
    model = fleet_json(out)
    assert model["counts"]["pcs"] == 1000 and not model["unreadable"]
    assert model["counts"]["failed"] > 0 and model["counts"]["unfinished"] > 0
    assert len(model["lists"]) == 4


def test_bad_input_of_every_kind_is_named_and_never_stops_the_run(tmp_path):
    share = tmp_path / "share"
    put(share / "velk" / "day1" / "pc1" / "VELK", pc_files("finished"))
    # A stray engine file above copies hides none of them, nor a copy without its list;
    # nothing below such a copy is taken for one.
    put(share / "velk" / "day1", {"nuv.log": b""})
    put(share / "velk" / "day1" / "pc9" / "VELK", {"nuv.err": b"x\r\n"})
    put(share / "velk" / "day1" / "pc9" / "VELK" / "BACKUP", {"RUN.NUV": pc_files("unfinished")["RUN.NUV"]})
    deep = share / "deep"
    deep.mkdir(parents=True)
    for _ in range(1100):  # deeper than Python's stack
        deep = deep / "d"
        deep.mkdir()
    put(deep / "VELK", pc_files("finished", (3, 3, 3)))
    put(share / os.fsdecode(b"pc\xe9") / "VELK", pc_files("finished", (4, 4, 4)))
    put(share / "pipe" / "VELK", pc_files("finished", (5, 5, 5)))
    # What a power cut leaves at the end of a list: zeros. The list is read as the engine reads it.
    cut = pc_files("failed", (9, 1, 1))
    put(share / "zeros" / "VELK", dict(cut, **{"RUN.NUV": cut["RUN.NUV"] + b"\0" * 512}))
    os.mkfifo(share / "pipe" / "VELK" / "nuv.log")
    os.symlink(share / "velk" / "day1" / "pc1" / "VELK", share / "VELK")
    # The factory's test line copies the stamped list into the error file.
    factory = pc_files("failed", (6, 1, 1))
    factory["nuv.err"] += b"\r\n-=-=-=-=-= R U N . N U V   C O N T  E N T S =-=-=-=-=-\r\n" + factory["RUN.NUV"]
    put(share / "factory" / "VELK", factory)
    put(share / "factory" / "VELK" / "KORB", {"nuv.err": factory["nuv.err"]})
    # A rehearsal cut short before its report was written: its PC had finished.
    put(share / "cut-rehearsal" / "VELK", pc_files("finished", (2, 7, 7)))
    put(share / "cut-rehearsal", {".velk-report": b"made: VELK\n"})
    rehearsal = share / "rehearsal"
    put(rehearsal / "VELK", pc_files("finished", (7, 7, 7)))
    put(rehearsal, {"report.json": json.dumps({"kind": "rehearsal", "finished": False, "machine": {
        "arch": ["not", "a", "name"]}}).encode()})
    with zipfile.ZipFile(share / "damaged.zip", "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("pc2/VELK/RUN.NUV", pc_files("finished")["RUN.NUV"] * 50)
        archive.writestr("pc2/VELK/KORB/nuv.err", b"x")
        archive.writestr("pc3/VELK/RUN.NUV", pc_files("finished", (8, 8, 8))["RUN.NUV"])
        archive.writestr("pc3/VELK/nuv.dun", b"")
        archive.writestr("pc3/VELK/BACKUP/RUN.NUV", pc_files("unfinished")["RUN.NUV"])
    data = bytearray((share / "damaged.zip").read_bytes())
    data[60:70] = b"\xff" * 10  # inside pc2's compressed list
    (share / "damaged.zip").write_bytes(bytes(data))

    out = tmp_path / "out"
    try:
        assert fleet.run_fleet([str(share)], str(out), stdout=io.StringIO(), stderr=io.StringIO()) == 0
    finally:
        # Removed by hand: shutil.rmtree would go deeper than Python's stack.
        shutil.rmtree(deep / "VELK")
        while deep != share / "deep":
            os.rmdir(deep)
            deep = deep.parent
    model = fleet_json(out)
    unreadable = {os.path.relpath(u["path"], share): u["why"] for u in model["unreadable"]}
    assert unreadable.pop("pipe/VELK") == "nuv.log is not a file"
    assert unreadable.pop("VELK") == "a symbolic link, not followed"
    assert unreadable.pop("damaged.zip:pc2/VELK").startswith("pc2/VELK/RUN.NUV cannot be read")
    assert unreadable == {"velk/day1": "holds no RUN.NUV", "velk/day1/pc9/VELK": "holds no RUN.NUV"}
    assert model["counts"] == {"pcs": 8, "finished": 4, "failed": 4, "unfinished": 0}
    factory_list = next(l for l in model["lists"] if l["failed"])
    assert factory_list["other_errors"]["lines"] == []
    failed = {os.path.relpath(p["path"], share): p["result"] for p in model["failed_pcs"]}
    assert failed == {"factory/VELK": "install failed", "rehearsal": "", "zeros/VELK": "install failed",
                      "cut-rehearsal": ""}


def test_what_pcs_holds_besides_the_reports_is_kept(share, tmp_path):
    out = tmp_path / "out"

    def run(folder):
        return fleet.run_fleet([str(folder)], str(out), stdout=io.StringIO(), stderr=io.StringIO())

    assert run(share) == 0
    pcs = out / "pcs"
    reports = sorted(os.listdir(pcs))
    # Put in later by a person: a folder of a report's name, and a file in a report's folder.
    put(pcs / (reports[0].split("-")[0] + "-999"), {"notes.txt": b"mine"})
    put(pcs / reports[1], {"notes.txt": b"mine too"})
    # Another store (the first deleted): its numbers are not the first store's.
    os.remove(out / "fleet.db")
    other = tmp_path / "other"
    put(other / "pc" / "VELK", pc_files("failed", (40, 1, 1)))
    assert run(other) == 0
    (pc,) = fleet_json(out)["failed_pcs"]
    with open(out / pc["report"], encoding="utf-8") as page:
        assert str(other) in page.read()
    assert (pcs / (reports[0].split("-")[0] + "-999") / "notes.txt").read_bytes() == b"mine"
    assert (pcs / reports[1] / "notes.txt").read_bytes() == b"mine too"
    assert sorted(os.listdir(pcs)) == sorted([reports[0].split("-")[0] + "-999", reports[1],
                                              pc["report"].split("/")[1]])

    # Written into again, so never a link: pcs, the store.
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    shutil.rmtree(pcs)
    os.symlink(elsewhere, pcs)
    assert cli.main(["fleet", str(other), "--out", str(out)]) == 2
    os.remove(pcs)
    os.remove(out / "fleet.db")
    os.symlink(elsewhere / "fleet.db", out / "fleet.db")
    assert cli.main(["fleet", str(other), "--out", str(out)]) == 2
    assert os.listdir(elsewhere) == []


def test_a_run_cut_short_inside_a_zip_file_leaves_it_to_be_read_again(tmp_path, monkeypatch):
    share = tmp_path / "share"
    share.mkdir()
    with zipfile.ZipFile(share / "day.zip", "w") as archive:
        for number in range(5):
            for name, data in pc_files("finished", (number + 1, 2, 2)).items():
                archive.writestr("pc%d/VELK/%s" % (number, name), data)
    out = str(tmp_path / "out")
    monkeypatch.setattr(fleet_store, "BATCH", 2)
    stored = fleet_store.Store.add_pcs
    batches = []

    def cut_short(store, pending, checker):
        batches.append(len(pending))
        if len(batches) == 2:
            raise KeyboardInterrupt
        stored(store, pending, checker)

    monkeypatch.setattr(fleet_store.Store, "add_pcs", cut_short)
    with pytest.raises(KeyboardInterrupt):
        fleet.run_fleet([str(share)], out, stdout=io.StringIO(), stderr=io.StringIO())
    monkeypatch.setattr(fleet_store.Store, "add_pcs", stored)
    assert fleet.run_fleet([str(share)], out, stdout=io.StringIO(), stderr=io.StringIO()) == 0
    assert fleet_json(out)["counts"]["pcs"] == 5
